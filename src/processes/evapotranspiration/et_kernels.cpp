#include "processes/evapotranspiration/et_kernels.h"

#include <algorithm>
#include <cmath>

double SaturationVapourPressure(double t) { return 6.1078 * std::exp(17.269 * t / (t + 237.3)); }

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

double VapourPressureSlope(double t) {
  const double d = t + 237.3;
  return 25029.0 * std::exp(17.26 * t / d) / (d * d);
}

double PsychrometricConstant(double p, double t) { return 1.6158 * p / (2500.8 - 2.372 * t); }

double BarometricPressure(double z, double t) { return 1013.0 * std::exp(-z / (7991.0 + 29.33 * t)); }

double LatentHeatWhPerMm(double t) { return 694.67 - 0.6589 * t; }

double AerodynamicResistance(double z0, double u) {
  const double wind = std::max(u, 0.0);
  if (z0 <= 2.0) {
    const double l = std::log(20.0 / z0);
    return 4.72 * l * l / (1.0 + 0.54 * wind);
  }
  return 25.0 / (1.0 + 0.54 * wind);
}

double CombinationEvaporation(double d, double a, double ea, double rs, double ra) {
  return (d * a + ea) / (d + 1.0 + rs / ra);
}

double AerodynamicTerm(double share, double dtMinutes, double vpd, double t, double ra) {
  return share * dtMinutes * 60.0 * 0.216876 * vpd / (t + 273.15) / ra;
}

PmResult CellPenmanMonteith(const PmSettings& s, const PmWeather& w, const PmLayer& in, PmCarry& carry) {
  PmLayer layer = in;
  if (layer.openWater) {
    layer.canopyResistance = 0.0;
    layer.lai = 0.0;
    layer.cover = 0.0;
  }
  // A roughness of 0 or below would make the logarithm infinite.
  if (!(layer.z0 > 0.0)) layer.z0 = 0.01;
  const double t = w.t;
  const double p = w.pressure >= 0.0 ? w.pressure : BarometricPressure(w.elevation, t);
  const double es = SaturationVapourPressure(t);
  const double e = w.vapourPressure >= 0.0 ? w.vapourPressure : es * w.humidity;

  double kx = 0.3;
  if (s.layers >= 2 && !s.arcVeg) kx = layer.extinction;
  const double laiScale = (s.layers >= 2 && !s.arcVeg) ? layer.laiScale : 10.0;

  // Net radiation (mm) of the part: the top layer gets it from the input or from the
  // radiation balance, lower layers what the layer above passed down.
  const double latent = LatentHeatWhPerMm(t);
  const bool top = layer.top || s.arcVeg;
  double& passed = w.day ? carry.rnDay : carry.rnNight;
  double rn;
  if (top) {
    if (s.netRadiationInput) {
      // The input is the net radiation of the whole step; each part takes it in full.
      rn = w.netRadiation / latent;
    } else {
      const double tk = t + 273.15;
      const double longwave = (0.48 - 0.065 * std::sqrt(std::max(e, 0.0))) *
                              (s.c0 + (1.0 - s.c0) * carry.sunshine) * w.share *
                              (s.dtMinutes / 60.0 * 5.67e-8) * tk * tk * tk * tk;
      rn = w.day ? 0.9 * (carry.shortwave - longwave) / latent : -longwave / latent;
    }
  } else {
    rn = passed;
  }
  const double absorbed = rn * layer.cover * (1.0 - std::exp(-kx * layer.lai));
  passed = std::max(0.0, rn - absorbed);

  const double d = VapourPressureSlope(t) / PsychrometricConstant(p, t);
  const double vpd = std::max(0.0, es - e);

  double ra;
  if (top) {
    ra = AerodynamicResistance(layer.z0, w.wind);
    carry.raTop = ra;
  } else {
    ra = carry.raTop + laiScale * carry.laiAbove;
  }

  double rc;
  const double lc = layer.lai * layer.cover;
  if (layer.lai > 0.0 && layer.cover > 0.0 && layer.canopyResistance > 0.0)
    rc = w.day ? layer.canopyResistance / (1.0 - std::pow(0.6, lc)) : 1.0 / (0.0004 * lc);
  else if (layer.lai <= 0.0 || layer.cover <= 0.0)
    rc = layer.canopyResistance > 0.0 ? 2500.0 : 0.0;
  else
    rc = 0.0;
  const double ri = layer.interceptionResistance;
  const double rss = layer.lowest ? layer.soilResistance : 0.0;

  const double ea = AerodynamicTerm(w.share, s.dtMinutes, vpd, t, ra);
  PmResult r;
  if (layer.openWater) {
    r.transpiration = CombinationEvaporation(d, absorbed + passed, ea, rc, ra);
    passed = 0.0;
    return r;
  }
  r.transpiration = CombinationEvaporation(d, absorbed, ea, rc, ra);
  r.interception = CombinationEvaporation(d, absorbed, ea, ri, ra);
  if (layer.lowest) r.soil = CombinationEvaporation(d, passed, ea, rss, ra);
  return r;
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

double Cloudiness(double r) { return r <= 1.0 ? std::min(1.0, 0.997 + 0.4473 * r - 1.4059 * r * r) : 0.0; }

RadiationResult CellRadiation(const RadiationSettings& s, double clearSky, double sunshine, double radiation,
                              double correction, double maxRadiation) {
  RadiationResult out;
  const auto fromSunshine = [&s](double x) { return s.c[0] + x * (s.c[1] + x * (s.c[2] + x * s.c[3])); };
  double r = 0.0;
  const bool bothInputs = s.haveSunshine && s.haveRadiation;
  if (bothInputs || clearSky <= 0.0) {
    clearSky = 0.0;
    out.sunshine = s.haveSunshine ? sunshine : 0.0;
    if (s.haveSunshine) r = fromSunshine(out.sunshine);
  } else if (s.haveSunshine) {
    out.sunshine = sunshine;
    r = fromSunshine(sunshine);
  } else {
    r = std::min(1.0, std::max(0.0, radiation / clearSky));
    double x = 0.0;
    if (r > s.x0) x = s.cs[0] + r * (s.cs[1] + r * (s.cs[2] + r * s.cs[3]));
    out.sunshine = std::min(1.0, std::max(0.0, x));
  }
  const double x = out.sunshine;
  double rg;
  if (!s.haveRadiation) {
    rg = correction < 0.0 ? r * clearSky
                          : (s.c[0] + correction * (s.c[1] * x + s.c[2] * x * x + s.c[3] * x * x * x)) * clearSky;
  } else {
    rg = radiation;
    if (correction >= 0.0) rg *= 1.0 + (1.0 - s.c[0]) * x * (correction - 1.0);
    out.correctedInput = rg;
  }
  out.rg = std::min(rg, maxRadiation);
  out.relative = r;
  out.cloudiness = Cloudiness(r);
  return out;
}

double TakeFromSnow(double& storage, double* demands, int count) {
  double taken = 0.0;
  for (int i = 0; i < count; ++i) {
    const double d = std::min(storage, demands[i]);
    if (!(d > 0.0)) continue;
    taken += d;
    storage -= d;
    demands[i] -= d;
  }
  return taken;
}

double WithdrawFromSoil(double& theta, double w, double demand) {
  if (!(w > 0.0) || !(demand > 0.0)) return 0.0;
  theta -= demand / w;
  if (theta < 0.0) {
    demand += theta * w;
    theta = 0.0;
  }
  return demand;
}
