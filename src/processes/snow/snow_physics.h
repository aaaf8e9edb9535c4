// Snow cell physics: rain/snow split, storage update, melt by temperature index, by the
// combination method or by the snow-surface energy balance, refreezing, sublimation,
// retention of liquid water, albedo ageing and permafrost thaw. No I/O, no allocation:
// the cell loop of the snow model calls these for every cell and step, and tests check
// them against hand values.
#pragma once

namespace snow {

// Physical constants of the snow pack.
constexpr double kStefanBoltzmann = 5.67e-8;     // W/(m² K⁴)
constexpr double kMeltingPoint = 273.16;         // K, also the offset from °C to K
constexpr double kHeatCapacityWater = 4180.0;    // J/(kg K)
constexpr double kHeatCapacityIce = 2100.0;      // J/(kg K)
constexpr double kLatentHeatFusion = 337500.0;   // J/kg
constexpr double kLatentHeatSublimation = 2835500.0;  // J/kg
// Lower limit of the vapour pressure in hPa (a dry air mass still holds some water).
constexpr double kMinVapourPressure = 0.01;

// Method groups.
inline bool IsTemperatureIndex(int m) { return m == 1 || m == 8 || m == 9 || m == 10; }
inline bool IsTemperatureWindIndex(int m) { return m == 2 || m == 12 || m == 13 || m == 14; }
inline bool IsCombination(int m) { return m == 3 || m == 4; }
inline bool IsEnergyBalance(int m) { return m == 5 || m == 6 || m == 7 || m == 11; }
inline bool HasSlides(int m) { return m == 6 || m == 7 || m == 8 || m == 9 || m == 12 || m == 14; }
inline bool UsesDepositionIndex(int m) { return m == 7 || m == 9 || m == 10 || m == 11 || m == 13 || m == 14; }
inline bool UsesWind(int m) { return !(m == 1 || (m >= 8 && m <= 10)); }
inline bool IsKnownMethod(int m) { return m >= 1 && m <= 14; }

// Parameters of the module, fixed for the run.
struct Parameters {
  int method = 1;
  double transzone = 0.0, T0R = 0.0, T0 = 0.0;
  double CWH = 0.0, CRFR = 0.0;
  double albedoMin = 0.0, albedoMax = 0.0;
  double LWINcorr = 1.0, LWOUTcorr = 1.0, EnBalScaling = 1.0;
  double intervalMinutes = 60.0;  // Δt
  double stepsPerDay = 24.0;      // n = 1440/Δt
  double stepSeconds = 3600.0;    // Δs = 60·Δt
  double nodata = -9999.0;
  bool measuredSurfaceTemperature = false;  // the grid "surfacetemperature" exists
};

// Values of the day, interpolated before the cell loop.
struct DayValues {
  double DDF = 0.0, a = 0.0, b = 0.0, RMF = 0.0;
};

// Meteorological and site values of one cell in one step.
struct CellInputs {
  double P = 0.0;            // precipitation (mm per step); raised by the deposition index
  double u = 0.0;            // wind speed (m/s)
  double RH = 1.0;           // relative humidity (fraction)
  double G = 0.0;            // radiation
  double N = 0.0;            // cloudiness (fraction)
  double z = 0.0;            // elevation (m)
  double albedo = 0.0;
  double DI = 0.0;           // deposition index
  double vapourPressure = 0.0;   // hPa (method 4)
  double radCorrection = 0.0;    // correction factor of the radiation correction
  bool hasRadCorrection = false;
  bool lakeWater = false;        // a lake cell with water in its ponding storage
  double surfaceTemperature = 0.0;  // measured surface temperature, when the grid exists
  double canopyLongwave = 0.0;      // incoming long-wave under the canopy
  bool hasCanopyLongwave = false;
};

// Storages and outputs of the cell that one call reads and updates.
struct CellState {
  double snowfall = 0.0;   // grid "snow_fraction": snowfall of the step (mm)
  double rainfall = 0.0;   // grid "rain_fraction": rainfall of the step (mm)
  double solid = 0.0;      // SWE_s
  double liquid = 0.0;     // SWE_l
  double total = 0.0;      // SWE
  double snowTemp = 0.0;   // K
  double surfTemp = 0.0;   // K
  double evaporation = 0.0;  // mm per step (sublimation positive)
};

// Per-call diagnostics the caller sums up over the cells.
struct CellNotes {
  int humidityClamped = 0;  // relative humidity or vapour pressure out of range
};

// Share of the precipitation that falls as snow.
double SnowShare(double T, double T0R, double transzone, bool lakeWater);

// Saturation vapour pressure over ice (hPa), T in °C (defined below).
inline double SatVapPressIce(double T);

// Day of the year with February always 28 days (seasonal sinusoids).
int SeasonDay(int day, int month);
// mean + amplitude·sin((D − 80)·2π/365).
double SeasonalValue(double mean, double amplitude, int day, int month);
// A monthly table (entries 0..13) interpolated to the day.
double MonthlyValue(const double* table, int day, int month);

// One call of the cell computation: phase split, storage update, and the potential melt
// of this call, w·M (mm). T is the air temperature (°C), w the weight of the call within
// the step, sAdd additional snow (mm). With noNewPrecipitation the snowfall and rainfall
// of the state are used as they stand.
double CellStep(const Parameters& p, const DayValues& d, CellInputs& in, CellState& s, double T, double w,
                double sAdd, bool noNewPrecipitation, CellNotes& notes);

// Energy balance parts (exposed for the tests).
// Wet-bulb temperature (°C) from air temperature, vapour pressure and pressure (hPa);
// at most 15 iterations.
double WetBulbTemperature(double T, double e, double p);
// Air pressure (hPa) at an elevation.
double AirPressure(double z);

// Melt applied to the storages: the melt taken is limited to the solid storage, and a
// negative melt (refreezing) to the liquid water present. Returns the melt taken.
inline double ApplyMelt(double potential, double& solid, double& liquid);
// Liquid water above CWH·solid leaves the pack; returns the outflow.
inline double Retain(double CWH, double solid, double& liquid);

// Snow albedo after `age` days; the land-use albedo is taken below the threshold by the
// caller.
inline double SnowAlbedo(double albedoMin, double albedoMax, double age, double T);

// Permafrost: the days without snow, the days with snow and the thaw depth of a cell
// after one step; the root depth is lowered to the thaw depth (never below 0).
struct PermafrostCell {
  double snowFreeDays = 0.0, snowCoverDays = 0.0, thawDepth = 0.0, rootDepth = 0.0;
};
void PermafrostStep(double swe, double maxSweSnowFree, double minSnowAgeRefreeze, double thawCoefficient,
                    double stepsPerDay, PermafrostCell& c);

}  // namespace snow

#include <algorithm>
#include <cmath>

inline double snow::SatVapPressIce(double T) { return 6.1078 * std::exp(21.874 * T / (T + 265.5)); }

// Inline: the cell loop calls these for every cell and step.
inline double snow::ApplyMelt(double potential, double& solid, double& liquid) {
  const double taken = std::min(solid, std::max(potential, -liquid));
  liquid += taken;
  solid -= taken;
  return taken;
}

inline double snow::Retain(double CWH, double solid, double& liquid) {
  const double H = CWH * solid;
  if (liquid > H) {
    const double out = liquid - H;
    liquid = H;
    return out;
  }
  return 0.0;
}

inline double snow::SnowAlbedo(double albedoMin, double albedoMax, double age, double T) {
  const double k = T <= 0.0 ? 0.12 : 0.05;
  return albedoMin + (albedoMax - albedoMin) * std::exp(-k * age);
}
