// The soil model lives in processes/soil/.
#pragma once

#include "processes/soil/bodenmod.h"
