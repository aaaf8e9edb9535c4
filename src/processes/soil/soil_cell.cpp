#include "processes/soil/soil_cell.h"

#include <algorithm>
#include <cmath>

namespace soilcell {

int TravelTimeZone(double seconds, double dtMinutes) {
  if (!std::isfinite(seconds) || !(dtMinutes > 0.0)) return 1;
  const double zone = std::ceil(seconds / 60.0 / dtMinutes);
  if (!(zone >= 1.0)) return 1;
  if (zone > 1.0e6) return 1000000;  // far beyond any basin; keeps the zone tables bounded
  return static_cast<int>(zone);
}

double StabilityIndex(double soilDepth, double density, double cohesion, double frictionAngle,
                      double slopeDegrees, double SD, double porosity) {
  const double z = soilDepth;
  const double beta = slopeDegrees * 3.14159265359 / 180.0;
  if (z <= 0.0 || density <= 0.0 || beta <= 0.0 || beta >= 1.570796326795) return -1.0;
  double h = 0.0;
  if (SD >= 0.0 && porosity > 0.0) h = std::min(z, std::max(0.0, z - (SD / 1000.0) / porosity));
  return (cohesion / (z * 9.81 * density) + (1.0 - (h / z) * 999.7 / density) * std::cos(beta) * std::tan(frictionAngle)) /
         std::sin(beta);
}

}  // namespace soilcell
