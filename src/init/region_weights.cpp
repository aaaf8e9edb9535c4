#include "init/region_weights.h"

#include <algorithm>
#include <cmath>

double OwnRegionWeight(double nearestDistance, double d) {
  double t = nearestDistance / (2.0 * d) + 0.5;
  return std::min(1.0, std::max(0.5, t));
}

ThreeRegionWeights ThreeRegionBlend(double a, double b, double d) {
  double m = d - std::min(a, b), p = d + a, q = d + b;
  if (m <= 0) m = 1.0;
  if (p <= 0) p = 1.0;
  if (q <= 0) q = 1.0;
  const double f = std::cos(std::min({m, p, q}) / d * 1.5707963);
  const double g = 0.9 - 0.5 * f;
  const double e1 = std::max(0.0, 1.0 / m - g / (2.0 * d));
  const double e2 = std::max(0.0, 1.0 / p - g / (2.0 * d));
  const double e3 = std::max(0.0, 1.0 / q - g / (2.0 * d));
  ThreeRegionWeights w{1.0, 0.0, 0.0};
  const double sum = e1 + e2 + e3;
  if (!(sum > 0)) return w;  // all terms vanish: the cell keeps its own region
  w.w1 = e1 / sum;
  w.w2 = e2 / sum;
  if (w.w1 + w.w2 > 1.0) w.w2 = 1.0 - w.w1;
  w.w3 = 1.0 - (w.w1 + w.w2);
  return w;
}
