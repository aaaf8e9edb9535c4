// The canopy snow model on single records: rain/snow split, interception, ageing,
// sublimation and unloading, longwave radiation, the energy balance and its bisection, and
// the temperature stack.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "processes/interception/canopy_snow.h"
#include "processes/interception/grid_stack.h"

namespace {

CanopySnowState Record(double T, double P, double lai, double load = 0.0) {
  CanopySnowState s;
  s[kAirTemperature] = T;
  s[kPrecipitation] = P;
  s[kLeafAreaIndex] = lai;
  s[kLoadBefore] = load;
  s[kGlobalRadiation] = 300.0;
  s[kWindSpeed] = 3.0;
  s[kCloudCover] = 0.5;
  return s;
}

}  // namespace

TEST(CanopySnow, RainSnowSplitAroundTheThreshold) {
  double snow = -1, rain = -1;
  SplitRainSnow(snow, rain, 2.0, 1.0, 1.0, 4.0);  // exactly T0 + w: all rain
  EXPECT_EQ(snow, 0.0);
  EXPECT_EQ(rain, 4.0);
  SplitRainSnow(snow, rain, 0.0, 1.0, 1.0, 4.0);  // exactly T0 - w: all snow
  EXPECT_EQ(snow, 4.0);
  EXPECT_EQ(rain, 0.0);
  SplitRainSnow(snow, rain, 1.5, 1.0, 1.0, 4.0);
  EXPECT_DOUBLE_EQ(snow, 1.0);
  EXPECT_DOUBLE_EQ(rain, 3.0);
  SplitRainSnow(snow, rain, 1.0, 1.0, 0.0, 4.0);  // w = 0: sharp, snow at T0
  EXPECT_EQ(snow, 4.0);
  SplitRainSnow(snow, rain, 1.0 + 1e-9, 1.0, 0.0, 4.0);
  EXPECT_EQ(rain, 4.0);
}

TEST(CanopySnow, FreshSnowAgeingAndAnEmptyCanopy) {
  // 0.0001389 mm/s over an hour is no fresh snow; a little more is
  const double threshold = 0.0001389 * 3600.0;
  CanopySnowState at = Record(265.0, threshold, 3.0, 5.0);
  at[kSnow] = threshold;
  at[kCanopySnowAlbedo] = 0.6;
  at[kCanopySnowAge] = 1.0;
  InterceptedSnowStep(at);
  EXPECT_DOUBLE_EQ(at[kCanopySnowAlbedo], 0.1 + 0.5 * std::exp(-0.1 * 3600.0 / 86400.0));  // aged, cold rate
  EXPECT_DOUBLE_EQ(at[kCanopySnowAge], 1.0 + 3600.0 / 86400.0);
  CanopySnowState fresh = Record(265.0, threshold * 1.01, 3.0, 5.0);
  fresh[kSnow] = threshold * 1.01;
  fresh[kCanopySnowAge] = 4.0;
  InterceptedSnowStep(fresh);
  EXPECT_DOUBLE_EQ(fresh[kCanopySnowAlbedo], 0.8);
  EXPECT_DOUBLE_EQ(fresh[kCanopySnowAge], 3600.0 / 86400.0);

  // a canopy without snow that gets none ends empty: age 0, albedo back to 0.1
  CanopySnowState empty = Record(265.0, 0.0, 3.0, 0.0);
  empty[kCanopySnowAge] = 2.0;
  empty[kCanopySnowAlbedo] = 0.5;
  InterceptedSnowStep(empty);
  EXPECT_EQ(empty[kLoadAfter], 0.0);
  EXPECT_EQ(empty[kCanopySnowAge], 0.0);
  EXPECT_EQ(empty[kCanopySnowAlbedo], 0.1);
}

TEST(CanopySnow, MeltUnloadingIsSplitOneToTwoPointThreeAndNeverAboveTheLoad) {
  for (double load : {0.01, 0.5, 20.0}) {
    CanopySnowState s = Record(285.0, 0.0, 2.0, load);
    s[kMeanAirTemperature24h] = 285.0;
    InterceptedSnowStep(s);
    const double U = s[kLiquidUnloading] + s[kSolidUnloading];
    EXPECT_GT(U, 0.0);
    EXPECT_LE(U, load - s[kSublimation] + 1e-12);
    EXPECT_NEAR(s[kSolidUnloading] / s[kLiquidUnloading], 2.3, 1e-12);
    EXPECT_EQ(s[kRelativeHumidity], 100.0);
    EXPECT_GE(s[kLoadAfter], 0.0);
  }
  CanopySnowState cold = Record(260.0, 0.0, 2.0, 3.0);
  InterceptedSnowStep(cold);
  EXPECT_EQ(cold[kLiquidUnloading], 0.0);
  EXPECT_EQ(cold[kSolidUnloading], 0.0);
}

TEST(CanopySnow, WaterBalanceOfRandomRecords) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    const double T = 258.0 + 25.0 * u(rng);
    const double P = u(rng) < 0.3 ? 0.0 : 8.0 * u(rng);
    const double load = u(rng) < 0.3 ? 0.0 : 15.0 * u(rng);
    CanopySnowState s = Record(T, P, 0.2 + 6.0 * u(rng), load);
    s[kMeanAirTemperature24h] = T - 5.0 + 10.0 * u(rng);
    s[kRelativeHumidity] = 100.0 * u(rng);
    s[kGlobalRadiation] = 800.0 * u(rng);
    s[kWindSpeed] = 10.0 * u(rng);
    s[kCanopySnowAge] = 3.0 * u(rng);
    s[kCanopySnowAlbedo] = 0.1 + 0.7 * u(rng);
    SplitRainSnow(s[kSnow], s[kRain], T - 273.16, 0.0, 1.0, P);
    InterceptedSnowStep(s);
    const double out = s[kRain] + s[kSnow] + (s[kLoadAfter] - load) + s[kSublimation];
    ASSERT_NEAR(P, out, 1e-11 * (1.0 + P + load)) << i;
    ASSERT_GE(s[kLoadAfter], 0.0);
    ASSERT_LE(s[kRelativeHumidity], 100.0);
  }
}

TEST(CanopySnow, IncomingLongwaveRadiationByHand) {
  // 273.15 K at 50 %: e = 6.112 * 0.5 hPa; clear sky times (1 + 0.08 * 0.1²)
  const double T = 273.15;
  const double clear = 5.67e-8 * std::pow(T, 4) * (0.61 + 0.05 * std::sqrt(3.056));
  EXPECT_NEAR(IncomingLongwaveRadiation(0.0, T, 50.0, 0.0, 0.1), clear * 1.0008, 1e-9);
  EXPECT_NEAR(IncomingLongwaveRadiation(900.0, T, 50.0, 1.0, 0.5), clear * 1.06, 1e-9);
  EXPECT_NEAR(IncomingLongwaveRadiation(0.0, T, 50.0, 0.0, 0.4), clear * (1 + 0.17 * 0.16), 1e-9);
  EXPECT_NEAR(IncomingLongwaveRadiation(0.0, T, 50.0, 0.0, 0.6), clear * (1 + 0.2 * 0.36), 1e-9);
  // below freezing over ice
  const double t = -10.0, e = 6.112 * std::exp(22.46 * t / (t + 272.62)) * 0.8;
  EXPECT_NEAR(IncomingLongwaveRadiation(0.0, 263.15, 80.0, 0.0, 0.0),
              5.67e-8 * std::pow(263.15, 4) * (0.61 + 0.05 * std::sqrt(e)), 1e-9);
}

TEST(CanopySnow, EnergyBalanceBisectionAndItsLimits) {
  CanopySnowState s = Record(268.0, 0.0, 3.0, 2.0);
  InterceptedSnowStep(s);
  s[kGlobalRadiationAbove] = 400.0;
  s[kCanopyTemperature] = s[kAirTemperature] + 0.5;
  s[kCanopyTemperatureOld] = s[kCanopyTemperature];
  int evaluations = 0;
  CanopySnowModel(s, &evaluations);
  EXPECT_GT(evaluations, 0);
  EXPECT_LE(evaluations, kMaxBisectionEvaluations);
  EXPECT_LT(std::fabs(s[kBalanceResidual]), 1.0);
  EXPECT_GT(s[kCanopyTemperature], 240.0);
  EXPECT_LT(s[kCanopyTemperature], 350.0);
  EXPECT_DOUBLE_EQ(s[kCanopyMinusAirTemperature], s[kCanopyTemperature] - s[kAirTemperatureAbove]);
  CanopySnowState check = s;
  EXPECT_NEAR(CanopyEnergyBalanceResidual(check), s[kBalanceResidual], 1e-9);

  // An enormous heat storage term keeps the residual's sign: no root, the canopy takes
  // the sub-canopy air temperature.
  CanopySnowState none = Record(268.0, 0.0, 3.0, 2.0);
  InterceptedSnowStep(none);
  none[kCanopyTemperatureOld] = 1e9;
  CanopySnowModel(none, &evaluations);
  EXPECT_EQ(evaluations, 0);
  EXPECT_EQ(none[kBalanceResidual], kNoRootResidual);
  EXPECT_EQ(none[kCanopyTemperature], none[kAirTemperature]);

  // A low canopy keeps its temperature.
  CanopySnowState low = Record(268.0, 0.0, 3.0, 2.0);
  low[kCanopyHeight] = 2.0;
  low[kCanopyTemperature] = 271.0;
  CanopySnowModel(low, &evaluations);
  EXPECT_EQ(low[kCanopyTemperature], 271.0);
  EXPECT_EQ(low[kBalanceResidual], -2000.0);
}

TEST(CanopySnow, CalmAirCountsAsOneCentimetrePerSecond) {
  CanopySnowState calm = Record(268.0, 0.0, 3.0);
  calm[kWindSpeedAbove] = 0.0;
  calm[kCanopyTemperature] = 275.0;
  CanopySnowState slow = calm;
  slow[kWindSpeedAbove] = 0.01;
  const double r = CanopyEnergyBalanceResidual(calm);
  EXPECT_TRUE(std::isfinite(r));
  EXPECT_EQ(r, CanopyEnergyBalanceResidual(slow));
}

TEST(GridStackTest, KeepsTheNewestGridsOfOneDay) {
  GridStack stack(24, 1, 2, 3, 2);
  for (int k = 1; k <= 25; ++k) {
    double** g = stack.NewGrid();
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) g[r][c] = k;
    stack.Push(g);
    EXPECT_EQ(stack.Count(), std::min(k, 24));
  }
  EXPECT_DOUBLE_EQ(stack.Mean(2, 3), (2.0 + 25.0) / 2.0);  // grids 2..25
  GridStack daily(0, 1, 1, 1, 1);  // a step longer than a day
  EXPECT_EQ(daily.Depth(), 1);
  double** g = daily.NewGrid();
  g[1][1] = 4.0;
  daily.Push(g);
  g = daily.NewGrid();
  g[1][1] = 6.0;
  daily.Push(g);
  EXPECT_EQ(daily.Mean(1, 1), 6.0);
}
