// The land-use parameter grids of the day and their generation at start-up. Until the
// parameter tables are read in full there are no parameter grids to keep up to date.
#include "init/defaultini.h"

void defaultini::UpdateLanduseParameters(ModelDate, int, double**, double**, double**, double**) {}

void defaultini::generateMultiLayerParameterGrids(int) {}
