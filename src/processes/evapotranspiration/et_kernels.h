// Cell physics of the evapotranspiration module: vapour pressure, the Penman-Monteith
// combination for one cell, one vegetation layer and one part of the step (day or night),
// the empirical methods of Hamon, Wendling and Haude, the radiation and sunshine of a cell,
// and the withdrawals of snow and real evapotranspiration. No I/O, no allocation: the
// module's cell loops call these with values gathered from the grids.
//
// Units: °C, hPa, Wh/m² per step, mm per step, s/m, m/s, m.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

// The small functions the Penman-Monteith cell loop calls for every cell are defined in
// this header, so that the loop inlines them.

// The last call of a function of one value and its result. The cell loops meet the same
// land-use parameters in cell after cell: the same argument (bit for bit) gives the same
// result without the call.
struct LastCall {
  uint64_t argument = 0;
  double result = 0.0;
  bool made = false;
};
// f(x), from the cache when its last call had the argument x (no cache: always called).
template <typename F>
inline double CachedCall(LastCall* cache, double x, F f) {
  if (cache == nullptr) return f(x);
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  if (!cache->made || cache->argument != bits) {
    cache->argument = bits;
    cache->result = f(x);
    cache->made = true;
  }
  return cache->result;
}

// Saturation vapour pressure over water (hPa).
inline double SaturationVapourPressure(double t) { return 6.1078 * std::exp(17.269 * t / (t + 237.3)); }
// Roots of x² + p·x + q = 0; returns their number (0, 1 or 2); x1 <= x2, both 0 without roots.
int SolveQuadraticRoots(double& x1, double& x2, double p, double q);
// Slope of the saturation vapour pressure curve (hPa/K).
inline double VapourPressureSlope(double t) {
  const double d = t + 237.3;
  return 25029.0 * std::exp(17.26 * t / d) / (d * d);
}
// Psychrometric constant (hPa/K) at air pressure p (hPa).
inline double PsychrometricConstant(double p, double t) { return 1.6158 * p / (2500.8 - 2.372 * t); }
// Air pressure (hPa) at elevation z (m) and air temperature t.
inline double BarometricPressure(double z, double t) { return 1013.0 * std::exp(-z / (7991.0 + 29.33 * t)); }
// Latent heat of vaporisation as the radiation (Wh/m²) that evaporates 1 mm of water.
inline double LatentHeatWhPerMm(double t) { return 694.67 - 0.6589 * t; }
// Aerodynamic resistance (s/m) of a surface of roughness z0 (m) at wind speed u (m/s),
// measured at 20 m. Negative winds (missing-value markers) count as calm. logCache (may be
// null) holds the logarithm of the last roughness.
inline double AerodynamicResistance(double z0, double u, LastCall* logCache = nullptr) {
  const double wind = std::max(u, 0.0);
  if (z0 <= 2.0) {
    const double l = CachedCall(logCache, 20.0 / z0, [](double x) { return std::log(x); });
    return 4.72 * l * l / (1.0 + 0.54 * wind);
  }
  return 25.0 / (1.0 + 0.54 * wind);
}
// The combination step: radiation term a (mm), aerodynamic term ea (mm), D = Δ/γ, surface
// and aerodynamic resistances.
inline double CombinationEvaporation(double d, double a, double ea, double rs, double ra) {
  return (d * a + ea) / (d + 1.0 + rs / ra);
}
// The aerodynamic term times the aerodynamic resistance (the division by it comes last).
inline double AerodynamicTermTimesRa(double share, double dtMinutes, double vpd, double t) {
  return share * dtMinutes * 60.0 * 0.216876 * vpd / (t + 273.15);
}
// Aerodynamic term (mm) of a part of the step: share of the step, step length (minutes),
// vapour pressure deficit (hPa), temperature, aerodynamic resistance.
inline double AerodynamicTerm(double share, double dtMinutes, double vpd, double t, double ra) {
  return AerodynamicTermTimesRa(share, dtMinutes, vpd, t) / ra;
}

// --- Penman-Monteith for one cell -----------------------------------------------------
// Constants of the module for the whole run and the radiation geometry of the step.
struct PmSettings {
  double dtMinutes = 60.0;
  double c0 = 0.2;          // diffuse share: relative radiation at zero sunshine
  bool netRadiationInput = false;
  bool arcVeg = false;
  int layers = 1;           // N
};

// Meteorology of one cell for one part of the step.
struct PmWeather {
  double t = 0.0;           // temperature of the part
  double share = 1.0;       // daylight share (day part) or night share (night part)
  bool day = true;
  double pressure = -1.0;   // air pressure; below 0: from elevation and temperature
  double elevation = 0.0;
  double vapourPressure = -1.0;  // below 0: from the relative humidity
  double humidity = 0.0;         // relative, 0..1
  double wind = 0.0;
  double netRadiation = 0.0;     // input net radiation (Wh/m²) when the module reads one
};

// One vegetation layer of the cell.
struct PmLayer {
  bool top = true;          // the uppermost layer of the cell with a land use
  double lai = 0.0;
  double cover = 0.0;
  double canopyResistance = 0.0;
  double z0 = 0.1;
  double interceptionResistance = 0.0;
  double soilResistance = 0.0;
  bool lowest = true;
  bool openWater = false;   // the lowest layer of a lake cell
  double extinction = 0.3;
  double laiScale = 10.0;
};

// What the layers of one cell hand on to the next: the top layer's aerodynamic
// resistance, the net radiation passed down per part, and the sunshine, net shortwave
// radiation and leaf area above.
struct PmCarry {
  double raTop = 0.0;
  double rnNight = 0.0;
  double rnDay = 0.0;
  double sunshine = 0.0;
  double shortwave = 0.0;
  double laiAbove = 0.0;
};

struct PmResult {
  double transpiration = 0.0;
  double interception = 0.0;
  double soil = 0.0;
};

PmResult CellPenmanMonteith(const PmSettings& s, const PmWeather& w, const PmLayer& layer, PmCarry& carry);

// CellPenmanMonteith in the pieces a cell loop shares: the air of a part depends on the
// part's temperature only, the part adds its share and the net radiation reaching the top
// layer, and a layer's canopy and roughness terms serve both parts. Composed as
//   PenmanMonteithLayerPart(PenmanMonteithPart(s, w, PenmanMonteithAir(w), carry),
//                           PenmanMonteithLayer(s, layer, w.wind, carry), carry)
// they give CellPenmanMonteith's result bit for bit.
struct PmAir {
  double t = 0.0;
  double e = 0.0;       // vapour pressure
  double vpd = 0.0;     // vapour pressure deficit
  double d = 0.0;       // Δ/γ
  double latent = 0.0;  // Wh/m² per mm
};
inline PmAir PenmanMonteithAir(const PmWeather& w) {
  PmAir a;
  const double t = w.t;
  a.t = t;
  const double p = w.pressure >= 0.0 ? w.pressure : BarometricPressure(w.elevation, t);
  const double es = SaturationVapourPressure(t);
  a.e = w.vapourPressure >= 0.0 ? w.vapourPressure : es * w.humidity;
  a.latent = LatentHeatWhPerMm(t);
  a.d = VapourPressureSlope(t) / PsychrometricConstant(p, t);
  a.vpd = std::max(0.0, es - a.e);
  return a;
}

struct PmPart {
  PmAir air;
  bool day = true;
  double rnTop = 0.0;    // net radiation (mm) of the top layer
  double eaPerRa = 0.0;  // the aerodynamic term times the aerodynamic resistance
};
// Reads the sunshine and net shortwave radiation of carry.
inline PmPart PenmanMonteithPart(const PmSettings& s, const PmWeather& w, const PmAir& air, const PmCarry& carry) {
  PmPart part;
  part.air = air;
  part.day = w.day;
  const double t = air.t;
  if (s.netRadiationInput) {
    // The input is the net radiation of the whole step; each part takes it in full.
    part.rnTop = w.netRadiation / air.latent;
  } else {
    const double tk = t + 273.15;
    const double longwave = (0.48 - 0.065 * std::sqrt(std::max(air.e, 0.0))) *
                            (s.c0 + (1.0 - s.c0) * carry.sunshine) * w.share * (s.dtMinutes / 60.0 * 5.67e-8) * tk *
                            tk * tk * tk;
    part.rnTop = w.day ? 0.9 * (carry.shortwave - longwave) / air.latent : -longwave / air.latent;
  }
  part.eaPerRa = AerodynamicTermTimesRa(w.share, s.dtMinutes, air.vpd, t);
  return part;
}

struct PmLayerTerms {
  bool top = true;
  bool lowest = true;
  bool openWater = false;
  double lai = 0.0;
  double cover = 0.0;
  double canopyResistance = 0.0;
  double absorbedShare = 0.0;  // share of the net radiation the canopy absorbs at full cover
  double ra = 0.0;             // aerodynamic resistance
  double ri = 0.0;             // interception resistance
  double rss = 0.0;            // soil resistance (lowest layer)
};
// The caches of a layer's functions of its land-use parameters (one set per thread).
struct alignas(64) PmLayerCache {
  LastCall extinction, roughness, canopy;
};

// Sets carry.raTop on the top layer, reads it and the leaf area above on the others.
inline PmLayerTerms PenmanMonteithLayer(const PmSettings& s, const PmLayer& layer, double wind, PmCarry& carry,
                                        PmLayerCache* cache = nullptr) {
  PmLayerTerms l;
  l.openWater = layer.openWater;
  l.lowest = layer.lowest;
  l.top = layer.top || s.arcVeg;
  // Open water has no canopy.
  l.lai = layer.openWater ? 0.0 : layer.lai;
  l.cover = layer.openWater ? 0.0 : layer.cover;
  l.canopyResistance = layer.openWater ? 0.0 : layer.canopyResistance;
  const bool own = s.layers >= 2 && !s.arcVeg;
  const double kx = own ? layer.extinction : 0.3;
  const double laiScale = own ? layer.laiScale : 10.0;
  l.absorbedShare =
      1.0 - CachedCall(cache ? &cache->extinction : nullptr, -kx * l.lai, [](double x) { return std::exp(x); });
  if (l.top) {
    // A roughness of 0 or below would make the logarithm infinite.
    l.ra = AerodynamicResistance(layer.z0 > 0.0 ? layer.z0 : 0.01, wind, cache ? &cache->roughness : nullptr);
    carry.raTop = l.ra;
  } else {
    l.ra = carry.raTop + laiScale * carry.laiAbove;
  }
  l.ri = layer.interceptionResistance;
  l.rss = layer.lowest ? layer.soilResistance : 0.0;
  return l;
}
// Takes the part's net radiation from the top or from what the layer above passed down,
// and passes on what is left.
inline PmResult PenmanMonteithLayerPart(const PmPart& part, const PmLayerTerms& l, PmCarry& carry,
                                        PmLayerCache* cache = nullptr) {
  double& passed = part.day ? carry.rnDay : carry.rnNight;
  const double rn = l.top ? part.rnTop : passed;
  const double absorbed = rn * l.cover * l.absorbedShare;
  passed = std::max(0.0, rn - absorbed);

  double rc;
  const double lc = l.lai * l.cover;
  if (l.lai > 0.0 && l.cover > 0.0 && l.canopyResistance > 0.0)
    rc = part.day ? l.canopyResistance /
                        (1.0 - CachedCall(cache ? &cache->canopy : nullptr, lc, [](double x) { return std::pow(0.6, x); }))
                  : 1.0 / (0.0004 * lc);
  else if (l.lai <= 0.0 || l.cover <= 0.0)
    rc = l.canopyResistance > 0.0 ? 2500.0 : 0.0;
  else
    rc = 0.0;

  const double d = part.air.d;
  const double ra = l.ra;
  const double ea = part.eaPerRa / ra;
  PmResult r;
  if (l.openWater) {
    r.transpiration = CombinationEvaporation(d, absorbed + passed, ea, rc, ra);
    passed = 0.0;
    return r;
  }
  r.transpiration = CombinationEvaporation(d, absorbed, ea, rc, ra);
  r.interception = CombinationEvaporation(d, absorbed, ea, l.ri, ra);
  if (l.lowest) r.soil = CombinationEvaporation(d, passed, ea, l.rss, ra);
  return r;
}

// --- empirical methods (mm per step, before the vegetation split) --------------------
// Hamon: monthly coefficient pec, daylight share of the step.
double HamonEvaporation(double pec, double daylightShare, double t, double dtMinutes);
// Wendling: global radiation (Wh/m²), albedo, coast factor.
double WendlingEvaporation(double rg, double albedo, double fk, double t, double dtMinutes);
// Haude: 14 h temperature, 14 h vapour pressure (below 0: use the humidity), monthly factor.
double HaudeEvaporation(double t14, double e14, double humidity14, double fh, double dtMinutes);
// Monthly table of 14 entries (0 = December before, 13 = January after) at a day of a
// month; the lines through mid-month values as the Hamon and amplitude tables use them.
double MonthlyValue(const double* table, int month, int day, int daysOfMonth, double firstX, double lastShift);

// --- radiation and sunshine of a cell (methods 1 and 3) ------------------------------
struct RadiationSettings {
  double c[4] = {0.2, 0.8, 0.0, 0.0};   // relative radiation from relative sunshine
  double cs[4] = {0.0, 1.0, 0.0, 0.0};  // relative sunshine from relative radiation
  double x0 = 0.0;                      // relative radiation without sunshine
  bool haveSunshine = false;
  bool haveRadiation = false;
};
struct RadiationResult {
  double rg = 0.0;          // global radiation of the cell (Wh/m²)
  double sunshine = 0.0;    // relative sunshine 0..1
  double relative = 0.0;    // relative radiation; 0 when none was derived
  double cloudiness = 0.0;
  double correctedInput = 0.0;  // the radiation input after the correction (when there is one)
};
// Cloudiness from the relative radiation.
inline double Cloudiness(double r) { return r <= 1.0 ? std::min(1.0, 0.997 + 0.4473 * r - 1.4059 * r * r) : 0.0; }
// clearSky: the clear-sky radiation of the step (0 when not computed); sunshine and
// radiation: the input values when present; correction: the factor (below 0: none).
inline RadiationResult CellRadiation(const RadiationSettings& s, double clearSky, double sunshine,
                                     double radiation, double correction, double maxRadiation) {
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

// --- inputs corrected in place ------------------------------------------------------------
// Whether two values have the same bits: the same operations on them give the same results.
inline bool SameBits(double a, double b) {
  uint64_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}
// An input grid cell that the module overwrites with its corrected value (the radiation
// corrected by the terrain, the day and night temperatures of long steps): the input it
// corrected last and the value it wrote back. Nothing written yet: both NaN.
struct KeptInput {
  double input = std::numeric_limits<double>::quiet_NaN();
  double written = std::numeric_limits<double>::quiet_NaN();
};
// The input of the step: the grid's value, unless the grid still holds a value written
// back the step before (nobody refreshed it); then the input kept with that value, so a
// correction never applies to its own result. `alsoWritten`: the value written into
// another grid that may have been copied into this one.
inline double CurrentInput(double value, const KeptInput& kept,
                           double alsoWritten = std::numeric_limits<double>::quiet_NaN()) {
  return SameBits(value, kept.written) || SameBits(value, alsoWritten) ? kept.input : value;
}

// --- withdrawals ------------------------------------------------------------------------
// Snow evaporation: the snow storage takes the demands in order (each reduced in place);
// returns what evaporated from the snow.
inline double TakeFromSnow(double& storage, double* demands, int count) {
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
// Takes demand (mm) from a relative storage theta of capacity w (mm): returns what was
// taken; w <= 0 takes nothing.
inline double WithdrawFromSoil(double& theta, double w, double demand) {
  if (!(w > 0.0) || !(demand > 0.0)) return 0.0;
  theta -= demand / w;
  if (theta < 0.0) {
    demand += theta * w;
    theta = 0.0;
  }
  return demand;
}
