// The water that reaches the ground of a cell in a step: what leaves the last of the
// modules above the ground that stepped it. With the canopy holding snow the interception
// runs before the snow model, whose outflow is then the last; otherwise the snow model runs
// first and the canopy's throughfall is the last. Without either module the precipitation
// falls straight on the ground. The soil model and the lakes take their water input so,
// each drop once.
#pragma once

#include "framework/modelobject.h"

// Registry position of that grid (the run stops when none of them exists).
inline int RequireGroundWaterInput(const modelobject& m, bool interceptionBeforeSnow) {
  return interceptionBeforeSnow ? m.RequireOneOf3Grids("snowcover_outflow", "throughfall0", "precipitation")
                                : m.RequireOneOf3Grids("throughfall0", "snowcover_outflow", "precipitation");
}
