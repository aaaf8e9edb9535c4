// The infiltration model lives in processes/soil/.
#pragma once

#include "processes/soil/infilt.h"
