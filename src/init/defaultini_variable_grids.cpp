// [variable_grids] and the periodic re-reading of standard grids.
#include "init/defaultini.h"

void defaultini::ReadVariableGrids() {}
void defaultini::WriteVariableGrids(ModelDate) {}
void defaultini::UpdatePeriodicGrids(ModelDate, double) {}
