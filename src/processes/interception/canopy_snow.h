// Snow held in the forest canopy: the rain/snow split, interception, ageing, sublimation
// and melt unloading of the canopy snow load, the climate below the canopy, and the canopy
// energy balance solved for the canopy temperature. Everything works on one record per cell
// and step (CanopySnowState) and does no I/O.
//
// Units inside the record: temperatures in K, water in mm per step, radiation in W/m²,
// wind in m/s, time in s.
#pragma once

#include <array>
#include <cstddef>

// Positions of the record. Names follow what the cell step puts in and what the model
// writes back; positions without a name carry no value.
enum CanopySnowField : std::size_t {
  kAirTemperature = 0,        // K; replaced by the sub-canopy air temperature
  kAirDensity = 1,            // kg/m³
  kAirPressure = 2,           // Pa
  kHeatCapacityAir = 3,       // J/(kg K)
  kMeanAirTemperature24h = 4, // K
  kTemperatureOffset = 5,     // K
  kRelativeHumidity = 6,      // %; replaced by the sub-canopy humidity
  kPrecipitation = 7,         // mm
  kSnow = 8,                  // mm; after the step the snow reaching the ground
  kRain = 9,                  // mm; after the step the liquid water reaching the ground
  kGlobalRadiation = 10,      // W/m²; replaced by the sub-canopy shortwave radiation
  kWindSpeed = 11,            // m/s; replaced by the sub-canopy wind speed
  kLongwaveRadiation = 12,    // W/m²; the sub-canopy longwave radiation
  kCloudCover = 13,           // fraction
  kTimeStep = 14,             // s
  kElevation = 15,            // m
  kMinimumAlbedo = 16,
  kFreshSnowAlbedoGain = 17,
  kAlbedoDecayWarm = 18,      // 1/day at or above 273.16 K
  kAlbedoDecayCold = 19,      // 1/day below
  kLeafAreaIndex = 20,        // effective LAI of the cell
  kCanopyHeight = 22,         // m
  kTemperatureMeltFactor = 23,  // mm/(K h)
  kRadiationMeltFactor = 24,    // mm/(W/m² h)
  kCanopySnowAlbedo = 25,
  kLoadAfter = 26,            // mm
  kLoadBefore = 27,           // mm
  kLiquidUnloading = 28,      // mm
  kSolidUnloading = 29,       // mm
  kSublimation = 30,          // mm
  kCanopySnowAge = 31,        // days
  kCanopyAlbedoForBalance = 32,
  kGroundSnowAlbedo = 36,
  kSnowSurfaceTemperature = 37,  // K
  kCanopyTemperature = 38,       // K
  kCanopyTemperatureOld = 39,    // K
  kGlobalRadiationAbove = 41,    // W/m²
  kAirTemperatureAbove = 43,     // K
  kRelativeHumidityAbove = 44,   // %
  kWindSpeedAbove = 45,          // m/s
  kMinCanopyResistance = 46,
  kMinInterceptionResistance = 47,
  kMaxRoughnessLength = 48,
  kMaxInterceptionStorage = 49,
  kCapacityMember = 50,
  kBalanceResidual = 56,         // W/m²; 666 when no root was bracketed
  kCanopyMinusAirTemperature = 57,
  kCanopySnowFieldCount = 58
};

// The record of one cell in one step, created with the model's starting values.
struct CanopySnowState {
  CanopySnowState();
  double& operator[](std::size_t i) { return v[i]; }
  double operator[](std::size_t i) const { return v[i]; }
  std::array<double, kCanopySnowFieldCount> v;
};

// Residual returned when the bisection brackets no root.
constexpr double kNoRootResidual = 666.0;
// Most residual evaluations of the bisection.
constexpr int kMaxBisectionEvaluations = 300;

// Splits precipitation P by the air temperature T (°C) around the threshold T0 with the
// transition half-width w (K): all rain above T0 + w, all snow at or below T0 - w, linear
// in between.
void SplitRainSnow(double& snow, double& rain, double T, double T0, double w, double P);

// Interception, ageing, sublimation and melt unloading of the canopy snow, and the climate
// below the canopy. Returns 1.
int InterceptedSnowStep(CanopySnowState& s);

// Incoming longwave radiation (W/m²) from air temperature T (K), relative humidity RH (%),
// precipitation P and cloud cover N; the elevation z is not used.
double IncomingLongwaveRadiation(double z, double T, double RH, double P, double N);

// Energy-balance residual (W/m²) of the canopy at the canopy temperature in the record.
// Refreshes the longwave radiation of the record.
double CanopyEnergyBalanceResidual(CanopySnowState& s);

// Solves the canopy energy balance for the canopy temperature by bisection between 240 and
// 350 K and sets the sub-canopy longwave radiation. Returns 1. evaluations (optional)
// receives the number of residual evaluations of the bisection.
int CanopySnowModel(CanopySnowState& s, int* evaluations = nullptr);
