// Start-up steps whose full behaviour is built elsewhere: the code checks of the land-use,
// soil and irrigation grids, the soil and land-use layer grids, the irrigation sections
// and the external coupling. Until then they keep the grids as read.
#include "init/defaultini.h"

void defaultini::ReadIrrigation() {}
void defaultini::CheckLanduseCodes(int) {}
void defaultini::check_SOIL_Codes() {}
void defaultini::check_irrig_Codes() {}
void defaultini::make_nFK_kWert_and_Na() {}
void defaultini::MakeLanduseLayerGrids() {}
void defaultini::GetCouplingParameters() { couplingMode = 0; }
