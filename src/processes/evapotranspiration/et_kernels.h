// Cell physics of the evapotranspiration module: vapour pressure, the Penman-Monteith
// combination for one cell, one vegetation layer and one part of the step (day or night),
// the empirical methods of Hamon, Wendling and Haude, the radiation and sunshine of a cell,
// and the withdrawals of snow and real evapotranspiration. No I/O, no allocation: the
// module's cell loops call these with values gathered from the grids.
//
// Units: °C, hPa, Wh/m² per step, mm per step, s/m, m/s, m.
#pragma once

#include <cstddef>

// Saturation vapour pressure over water (hPa).
double SaturationVapourPressure(double t);
// Roots of x² + p·x + q = 0; returns their number (0, 1 or 2); x1 <= x2, both 0 without roots.
int SolveQuadraticRoots(double& x1, double& x2, double p, double q);
// Slope of the saturation vapour pressure curve (hPa/K).
double VapourPressureSlope(double t);
// Psychrometric constant (hPa/K) at air pressure p (hPa).
double PsychrometricConstant(double p, double t);
// Air pressure (hPa) at elevation z (m) and air temperature t.
double BarometricPressure(double z, double t);
// Latent heat of vaporisation as the radiation (Wh/m²) that evaporates 1 mm of water.
double LatentHeatWhPerMm(double t);
// Aerodynamic resistance (s/m) of a surface of roughness z0 (m) at wind speed u (m/s),
// measured at 20 m. Negative winds (missing-value markers) count as calm.
double AerodynamicResistance(double z0, double u);
// The combination step: radiation term a (mm), aerodynamic term ea (mm), D = Δ/γ, surface
// and aerodynamic resistances.
double CombinationEvaporation(double d, double a, double ea, double rs, double ra);
// Aerodynamic term (mm) of a part of the step: share of the step, step length (minutes),
// vapour pressure deficit (hPa), temperature, aerodynamic resistance.
double AerodynamicTerm(double share, double dtMinutes, double vpd, double t, double ra);

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
// clearSky: the clear-sky radiation of the step (0 when not computed); sunshine and
// radiation: the input values when present; correction: the factor (below 0: none).
RadiationResult CellRadiation(const RadiationSettings& s, double clearSky, double sunshine, double radiation,
                              double correction, double maxRadiation);
// Cloudiness from the relative radiation.
double Cloudiness(double r);

// --- withdrawals ------------------------------------------------------------------------
// Snow evaporation: the snow storage takes the demands in order (each reduced in place);
// returns what evaporated from the snow.
double TakeFromSnow(double& storage, double* demands, int count);
// Takes demand (mm) from a relative storage theta of capacity w (mm): returns what was
// taken; w <= 0 takes nothing.
double WithdrawFromSoil(double& theta, double w, double demand);
