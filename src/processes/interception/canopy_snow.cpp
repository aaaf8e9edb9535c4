#include "processes/interception/canopy_snow.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kStefanBoltzmann = 5.67e-8;
constexpr double kMeltingPoint = 273.16;
constexpr double kSecondsPerDay = 86400.0;
// Snowfall rate (mm/s) above which the canopy snow counts as fresh.
constexpr double kFreshSnowRate = 0.0001389;

double Clamp01(double x) { return std::min(1.0, std::max(0.0, x)); }

}  // namespace

CanopySnowState::CanopySnowState() {
  v.fill(0.0);
  v[kAirTemperature] = 273.16;
  v[kAirDensity] = 1.257;
  v[kAirPressure] = 101300.0;
  v[kHeatCapacityAir] = 1005.0;
  v[kMeanAirTemperature24h] = 273.16;
  v[kRelativeHumidity] = 90.0;
  v[kLongwaveRadiation] = 316.0;
  v[kTimeStep] = 3600.0;
  v[kMinimumAlbedo] = 0.1;
  v[kFreshSnowAlbedoGain] = 0.7;
  v[kAlbedoDecayWarm] = 0.3;
  v[kAlbedoDecayCold] = 0.1;
  v[kLeafAreaIndex] = 4.0;
  v[21] = 1.0;
  v[kCanopyHeight] = 10.0;
  v[kTemperatureMeltFactor] = 0.025;
  v[kRadiationMeltFactor] = 0.005;
  v[kCanopySnowAlbedo] = 0.2;
  v[kCanopyAlbedoForBalance] = 0.1;
  v[kGroundSnowAlbedo] = 0.75;
  v[kSnowSurfaceTemperature] = 273.16;
  v[kCanopyTemperature] = 273.16;
  v[kCanopyTemperatureOld] = 273.15;
  v[kAirTemperatureAbove] = 272.16;
  v[kMaxRoughnessLength] = 2.0;
  v[kBalanceResidual] = -2000.0;
}

void SplitRainSnow(double& snow, double& rain, double T, double T0, double w, double P) {
  if (T > T0 + w) {
    snow = 0.0;
    rain = P;
  } else if (T <= T0 - w) {
    snow = P;
    rain = 0.0;
  } else {
    snow = P * (T0 + w - T) / (2.0 * w);
    rain = P - snow;
  }
}

double IncomingLongwaveRadiation(double /*z*/, double T, double RH, double P, double N) {
  const double t = T - 273.15;
  const double e = T >= 273.15 ? 6.112 * std::exp(17.62 * t / (t + 243.12)) * RH / 100.0
                               : 6.112 * std::exp(22.46 * t / (t + 272.62)) * RH / 100.0;
  const double clearSky = kStefanBoltzmann * std::pow(T, 4) * (0.61 + 0.05 * std::sqrt(e));
  double c;
  if (P != 0.0)
    c = 0.24;
  else if (N <= 0.2)
    c = 0.08;
  else if (N < 0.6)
    c = 0.17;
  else
    c = 0.2;
  return clearSky * (1.0 + c * N * N);
}

int InterceptedSnowStep(CanopySnowState& s) {
  const double T = s[kAirTemperature];
  const double S = s[kSnow];
  const double dt = s[kTimeStep];
  const double lai = s[kLeafAreaIndex];

  // 1. albedo and age of the canopy snow
  double albedo, age;
  if (S / dt > kFreshSnowRate) {
    albedo = s[kMinimumAlbedo] + s[kFreshSnowAlbedoGain];
    age = 0.0;
  } else {
    albedo = s[kCanopySnowAlbedo];
    age = s[kCanopySnowAge];
    if (albedo > s[kMinimumAlbedo] && age > 0.0) {
      const double k = T >= kMeltingPoint ? s[kAlbedoDecayWarm] : s[kAlbedoDecayCold];
      albedo = s[kMinimumAlbedo] + (albedo - s[kMinimumAlbedo]) * std::exp(-k * dt / kSecondsPerDay);
    }
  }
  s[kCanopySnowAlbedo] = albedo;
  s[kCanopySnowAge] = age + dt / kSecondsPerDay;

  // 2.-8. climate below the canopy
  const double globalAbove = s[kGlobalRadiation];
  const double shortwaveBelow = std::exp(-0.41 * lai) * globalAbove;
  s[kGlobalRadiation] = shortwaveBelow;
  const double F = Clamp01(0.55 + 0.29 * std::log(lai));
  s[kLongwaveRadiation] =
      (1.0 - F) * IncomingLongwaveRadiation(s[kElevation], T, s[kRelativeHumidity], s[kPrecipitation],
                                            s[kCloudCover]) +
      F * kStefanBoltzmann * std::pow(T, 4);
  const double h = s[kCanopyHeight];
  s[kWindSpeedAbove] = s[kWindSpeed];
  const double windBelow = s[kWindSpeed] * std::exp(-0.9 * lai * (1.0 - 0.6 * h / h));
  s[kWindSpeed] = windBelow;
  const double Re = std::min(10.0, std::max(0.7, windBelow * 0.001 / 1.3e-5));
  const double Sh = 1.79 + 0.606 * std::sqrt(Re);
  s[kRelativeHumidityAbove] = s[kRelativeHumidity];
  s[kAirTemperatureAbove] = T;
  s[kRelativeHumidity] = std::min(100.0, s[kRelativeHumidity] * (1.0 + 0.1 * F));
  const double Tb = T - F * (0.2 * (T - s[kMeanAirTemperature24h]) + s[kTemperatureOffset]);
  s[kAirTemperature] = Tb;

  // 9. interception of the snowfall
  const double Imax = 4.4 * lai;
  const double I0 = s[kLoadBefore];
  double I = I0 + 0.7 * (Imax - I0) * (1.0 - std::exp(-S / Imax));
  const double dI = I - I0;

  // 10. sublimation of an ice sphere of radius 500 µm
  double sublimation = 0.0;
  if (I > 0.0) {
    const double omega = (51067.355 / (8.313 * Tb) - 1.0) / (0.024 * Tb * Sh);
    const double rhoV = 0.622 * 611.15 * std::exp(22.452 * (Tb - 273.16) / (Tb - 0.61)) / (287.0 * Tb);
    const double D = 2.06e-5 * std::pow(Tb / 273.0, 1.75);
    const double Q = 7.853975e-7 * (1.0 - albedo) * globalAbove;
    const double rate = (0.00314159 * (s[kRelativeHumidity] / 100.0 - 1.0) - omega * Q) /
                        (2.8355e6 * omega + 1.0 / (D * rhoV * Sh)) / 4.801396716666667e-7;
    const double Ce = 0.01 * std::pow(I / Imax, -0.4);
    sublimation = std::min(I, -rate * Ce * I * dt);
    I -= sublimation;
    if (I < 0.0) {
      sublimation += I;
      I = 0.0;
    }
  }
  s[kSublimation] = sublimation;

  // 11. melt unloading
  double liquid = 0.0, solid = 0.0;
  if (Tb > kMeltingPoint) {
    const double seconds = std::floor(dt);
    const double M = seconds * (s[kTemperatureMeltFactor] / 3600.0 * (Tb - kMeltingPoint) +
                                s[kRadiationMeltFactor] / 3600.0 * (1.0 - albedo) * shortwaveBelow);
    const double U = std::min(I, M + 2.3 * M);
    if (U > 0.0) {
      s[kRelativeHumidity] = 100.0;
      liquid = U * 0.30303030303030304;
      solid = U * 0.6969696969696969;
      I -= U;
    }
  }
  // The load is the one left after sublimation and unloading, whether or not it melted.
  s[kLoadAfter] = I;

  // 12. what reaches the ground
  s[kLiquidUnloading] = liquid;
  s[kSolidUnloading] = solid;
  s[kRain] += liquid;
  s[kSnow] = S - dI + solid;

  // 13. an empty canopy holds no aged snow
  if (I == 0.0) {
    s[kCanopySnowAge] = 0.0;
    s[kCanopySnowAlbedo] = s[kMinimumAlbedo];
  }
  return 1;
}

double CanopyEnergyBalanceResidual(CanopySnowState& s) {
  s[kLongwaveRadiation] = IncomingLongwaveRadiation(s[kElevation], s[kAirTemperatureAbove],
                                                    s[kRelativeHumidityAbove], s[kPrecipitation], s[kCloudCover]);
  const double lai = s[kLeafAreaIndex];
  const double a = 1.0 - std::exp(-0.41 * lai);
  const double tau = 1.0 - a;
  double Ts = s[kSnowSurfaceTemperature];
  if (!(Ts > -9999.0)) {
    Ts = s[kAirTemperature] - 0.5;
    if (Ts == -9999.0) Ts = 273.16;
  }
  const double Tc = s[kCanopyTemperature];
  const double ag = s[kGroundSnowAlbedo], ac = s[kCanopyAlbedoForBalance], G = s[kGlobalRadiationAbove];
  const double SW = (tau * ag / (1.0 - ag * ac * a) + 1.0) * (1.0 - ac) * G * a;
  const double LW = a * (s[kLongwaveRadiation] + kStefanBoltzmann * std::pow(Ts, 4) - 1.134e-7 * std::pow(Tc, 4));
  const double h = s[kCanopyHeight];
  double u = s[kWindSpeedAbove];
  if (u == 0.0) u = 0.01;
  const double logTerm = std::log((15.0 - 0.67 * h) / (0.123 * h));
  const double ra = logTerm * logTerm / (0.16 * u);
  const double H = s[kAirDensity] * s[kHeatCapacityAir] * (Tc - s[kAirTemperatureAbove]) / ra;
  const double Gc = (Tc - s[kCanopyTemperatureOld]) * 2800.0 * 900.0 * (0.001 * lai + 0.0015 * h) / s[kTimeStep];
  return SW + LW - H - Gc;
}

int CanopySnowModel(CanopySnowState& s, int* evaluations) {
  int count = 0;
  const double startTemperature = s[kCanopyTemperature];
  s[kCanopyTemperature] = 240.0;
  const double Rlo = CanopyEnergyBalanceResidual(s);
  s[kCanopyTemperature] = 350.0;
  const double Rhi = CanopyEnergyBalanceResidual(s);
  if (s[kCanopyHeight] > 3.0) {
    if (Rlo * Rhi >= 0.0) {
      s[kCanopyTemperature] = s[kAirTemperature];
      CanopyEnergyBalanceResidual(s);
      s[kBalanceResidual] = kNoRootResidual;
    } else {
      double lo = 240.0, hi = 350.0, Tc = 0.5 * (lo + hi), R = 0.0;
      while (true) {
        Tc = 0.5 * (lo + hi);
        s[kCanopyTemperature] = Tc;
        R = CanopyEnergyBalanceResidual(s);
        ++count;
        if (std::fabs(R) < 1.0) break;
        if (R * Rlo < 0.0)
          hi = Tc;
        else
          lo = Tc;
        if (hi - lo <= 1e-8 || count >= kMaxBisectionEvaluations) break;
      }
      s[kCanopyTemperature] = Tc;
      s[kBalanceResidual] = R;
    }
    s[kCanopyMinusAirTemperature] = s[kCanopyTemperature] - s[kAirTemperatureAbove];
  } else {
    s[kCanopyTemperature] = startTemperature;  // a low canopy keeps its starting temperature
  }
  const double F = Clamp01(0.29 * std::log(s[kLeafAreaIndex]) + 0.35);
  s[kLongwaveRadiation] = (1.0 - F) * s[kLongwaveRadiation] + F * 5.5566e-8 * std::pow(s[kCanopyTemperature], 4);
  if (evaluations) *evaluations = count;
  return 1;
}
