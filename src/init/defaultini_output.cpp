// Per-step output of the standard grids and their zonal statistics.
#include "init/defaultini.h"

void defaultini::CreateZonalStatistics() {}
void defaultini::WriteStandardGrids(ModelDate) {}
void defaultini::ResetZonalStatistics() {}
void defaultini::AccumulateZonalStatistics() {}
void defaultini::AggregateZonalStatistics(ModelDate) {}
void defaultini::WriteZonalStatistics() {}
void defaultini::FinishZonalStatistics() {}
