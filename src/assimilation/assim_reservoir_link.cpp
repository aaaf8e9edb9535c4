// The link of reservoir rules to the routing module's reservoirs and lakes.
#include "assimilation/assim_reservoir.h"

// Routing builds no reservoirs or lakes in this version: its list stays empty, and a
// reservoir rule finds no reservoir to act on.
data_assimilation::ReservoirLookup DefaultReservoirLookup(std::vector<SP_class*>&) {
  return [](int) { return std::unique_ptr<LevelTarget>(); };
}
