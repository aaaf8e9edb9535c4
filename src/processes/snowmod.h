// The snow model lives in processes/snow/.
#pragma once

#include "processes/snow/snowmod.h"
