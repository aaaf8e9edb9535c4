#include "init/terrain.h"

#include <cmath>

SlopeAspect SlopeAndAspect(double north, double south, double west, double east, double cellsize) {
  const double d = 2.0 * cellsize;
  const double gx = (east - west) / d;
  const double gy = (north - south) / d;
  SlopeAspect result{0.0, 0.0};
  if (gx == 0.0 && gy == 0.0) return result;
  result.slope = std::atan(std::sqrt(gx * gx + gy * gy)) * kDegreesPerRadian;
  if (gx == 0.0)
    result.aspect = gy <= 0.0 ? 0.0 : 180.0;
  else
    result.aspect = 180.0 - std::atan(gy / gx) * kDegreesPerRadian + 90.0 * (gx / std::fabs(gx));
  return result;
}
