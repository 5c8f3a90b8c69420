#include "sysinfo/SI_Engines.h"
