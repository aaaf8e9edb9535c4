// Per-cell arithmetic of the dynamic phenology and of the daily parameter update.
#include <algorithm>
#include <cmath>

#include "tables/phenology.h"

namespace phenology {

double ForcingUnit(double t, double tb) {
  if (!(t > tb)) return 0.0;
  return 28.4 / (1.0 + std::exp(-0.185 * (t - tb - 18.4)));
}

double DegreeDayForcing(double t, double tb) { return t > tb ? t - tb : 0.0; }

double MoistureFactor(bool haveTheta, double theta, double h) {
  if (!haveTheta || theta < h || h == 150.0) return 0.0;
  return (theta - h) / (150.0 - h);
}

double AddForcing(double sum, double fu, double sigma, double x) {
  if (sigma <= 0.0) return sum + fu;
  return sum + fu * (1.0 + sigma * x);
}

double ChillingUnit(double t, double o1, double tc, double o2) {
  if (t <= o1) return 0.0;
  if (t <= tc && t < o2) return tc == o1 ? 0.0 : (t - o1) / (tc - o1);
  if (t > tc && t < o2) return (t - o2) / (tc - o2);
  return 0.0;
}

double ExponentialThreshold(double a, double b, double chilling) { return a * std::exp(b * chilling); }

double LogarithmicThreshold(double a, double b, double chilling) {
  return chilling > 0.0 ? a + b * std::log(chilling) : a;
}

double ShiftMovingAverage(double* stack, double today, int dayCount) {
  for (int e = 7; e >= 2; --e) stack[e] = stack[e - 1];
  stack[1] = today;
  double sum = 0.0;
  for (int e = 1; e <= 7; ++e) sum += stack[e];
  return sum / std::max(1, std::min(dayCount, 7));
}

void AdjustRootZone(RootZone& z, double oldDepth, double newDepth) {
  if (!(oldDepth > 0.0) || !(newDepth > 0.0)) return;
  const double cOld = z.capacity;
  if (!(cOld > 0.0)) return;
  const double cNew = cOld * newDepth / oldDepth;
  const double inactive = std::max(0.0, z.inactiveCapacity);
  if (cNew < cOld) {
    const double handed = cOld - cNew;
    z.inactiveFraction = (handed * z.fraction + inactive * z.inactiveFraction) / (inactive + handed);
    z.inactiveCapacity = inactive + handed;
  } else if (cNew > cOld) {
    const double taken = std::min(cNew - cOld, inactive);
    z.fraction = (z.fraction * cOld + taken * z.inactiveFraction) / cNew;
    z.inactiveCapacity = inactive - taken;
    if (z.inactiveCapacity == 0.0) z.inactiveFraction = 1.0;
  }
  z.capacity = cNew;
}

double BoundRootDepth(double v) { return v < 0.01 ? 0.01 : v; }
double BoundCoverage(double v) { return std::min(1.0, std::max(0.0, v)); }
double BoundNonNegative(double v) { return v < 0.0 ? 0.0 : v; }
double BoundRoughness(double v) { return v < 0.01 ? 0.01 : v; }

int CurrentFixEntry(const double* list, int n, int day, double nodata) {
  int e = 1;
  while (e < n && list[e] < day && list[e] > 0 && list[e + 1] > nodata + 1) ++e;
  return e;
}

}  // namespace phenology
