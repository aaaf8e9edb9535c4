#include "processes/evapotranspiration/et_kernels.h"

#include <algorithm>
#include <cmath>

int SolveQuadraticRoots(double& x1, double& x2, double p, double q) {
  const double d = p * p / 4.0 - q;
  if (d > 0.0) {
    const double r = std::sqrt(d);
    x1 = -p / 2.0 - r;
    x2 = -p / 2.0 + r;
    return 2;
  }
  if (d == 0.0) {
    x1 = x2 = -p / 2.0;
    return 1;
  }
  x1 = x2 = 0.0;
  return 0;
}

PmResult CellPenmanMonteith(const PmSettings& s, const PmWeather& w, const PmLayer& layer, PmCarry& carry) {
  const PmPart part = PenmanMonteithPart(s, w, PenmanMonteithAir(w), carry);
  const PmLayerTerms terms = PenmanMonteithLayer(s, layer, w.wind, carry);
  return PenmanMonteithLayerPart(part, terms, carry);
}

double HamonEvaporation(double pec, double daylightShare, double t, double dtMinutes) {
  return 2.0 * 0.1651 * pec * daylightShare * 216.7 * SaturationVapourPressure(t) / (t + 273.3) * dtMinutes / 1440.0;
}

double WendlingEvaporation(double rg, double albedo, double fk, double t, double dtMinutes) {
  return (0.36 * rg * (1.1 - albedo) + 93.0 * fk) * (t + 22.0) / (150.0 * (t + 123.0)) * dtMinutes / 1440.0;
}

double HaudeEvaporation(double t14, double e14, double humidity14, double fh, double dtMinutes) {
  const double es = t14 < 0.0 ? 6.11 * std::exp(22.46 * t14 / (272.46 + t14))
                              : 6.11 * std::exp(17.62 * t14 / (243.12 + t14));
  double deficit;
  if (e14 >= 0.0) {
    const double ratio = e14 / es;
    deficit = ratio < 0.0 ? 1.0 : (ratio > 1.0 ? 0.0 : 1.0 - ratio);
  } else {
    deficit = 1.0 - humidity14;
  }
  return std::min(7.0, es * fh * deficit) * dtMinutes / 1440.0;
}

double MonthlyValue(const double* table, int month, int day, int daysOfMonth, double firstX, double lastShift) {
  const auto line = [](double x0, double y0, double x1, double y1, double x) {
    return x1 == x0 ? y0 : y0 + (y1 - y0) * (x - x0) / (x1 - x0);
  };
  if (day <= 15) return line(firstX, table[month - 1], 15.0, table[month], day);
  return line(16.0, table[month], daysOfMonth + lastShift, table[month + 1], day);
}
