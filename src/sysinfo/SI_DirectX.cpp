#include "sysinfo/SI_DirectX.h"
