#include "game/ContainerLock.h"
