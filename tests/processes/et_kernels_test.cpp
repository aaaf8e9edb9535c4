// Cell physics of evapotranspiration against published tables (FAO Irrigation and
// Drainage Paper 56) and hand values of the formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "processes/evapotranspiration/et_kernels.h"

namespace {

TEST(EtPhysics, SaturationVapourPressureAgainstFaoTable) {
  // FAO-56 Annex 2, Table 2.3 (kPa): printed with three decimals.
  const struct {
    double t, kpa;
  } table[] = {{0.0, 0.611}, {10.0, 1.228}, {20.0, 2.338}, {30.0, 4.243}, {-5.0, 0.422}};
  for (const auto& row : table) EXPECT_NEAR(SaturationVapourPressure(row.t) / 10.0, row.kpa, 0.0015) << row.t;
  EXPECT_DOUBLE_EQ(SaturationVapourPressure(0.0), 6.1078);
}

TEST(EtPhysics, SlopePsychrometricConstantPressureAndLatentHeat) {
  // Slope of the curve, FAO-56 Table 2.4 (kPa/°C).
  EXPECT_NEAR(VapourPressureSlope(10.0) / 10.0, 0.082, 0.0015);
  EXPECT_NEAR(VapourPressureSlope(20.0) / 10.0, 0.145, 0.0015);
  EXPECT_NEAR(VapourPressureSlope(30.0) / 10.0, 0.243, 0.0015);
  // Psychrometric constant at 101.3 kPa and 20 °C: 0.067 kPa/°C (Table 2.2, λ = 2.45).
  EXPECT_NEAR(PsychrometricConstant(1013.0, 20.0) / 10.0, 0.067, 0.0015);
  // FAO-56 Example 2: 81.8 kPa at 1800 m, taken with the mean temperature of the air column
  // of the standard atmosphere (20 °C at sea level, 6.5 K/km).
  EXPECT_NEAR(BarometricPressure(1800.0, 20.0 - 0.0065 * 900.0) / 10.0, 81.8, 0.15);
  // Latent heat 2.45 MJ/kg at 20 °C is 680.6 Wh/m² per mm.
  EXPECT_NEAR(LatentHeatWhPerMm(20.0), 2.45e6 / 3600.0, 1.5);
}

TEST(EtPhysics, FaoExample18ThroughTheCombinationStep) {
  // Uccle, 6 July: Tmean 16.9 °C, Rn 13.28 MJ/m²/d, es 1.997 and ea 1.409 kPa, u2 2.078 m/s,
  // 100 m a.s.l.; the grass reference has ra = 208/u2 and rc = 70 s/m. FAO gives 3.9 mm/d.
  const double t = 16.9;
  const double a = 13.28e6 / 3600.0 / LatentHeatWhPerMm(t);
  const double ra = 208.0 / 2.078;
  const double d = VapourPressureSlope(t) / PsychrometricConstant(BarometricPressure(100.0, t), t);
  const double ea = AerodynamicTerm(1.0, 1440.0, 19.97 - 14.09, t, ra);
  const double et = CombinationEvaporation(d, a, ea, 70.0, ra);
  EXPECT_NEAR(et, 3.887, 0.005);
  EXPECT_NEAR(et, 3.9, 0.05);
}

TEST(EtPhysics, AerodynamicResistanceThomOliver) {
  EXPECT_NEAR(AerodynamicResistance(0.1, 2.0), 63.7, 0.05);
  // Rough surfaces above 2 m use the constant form; missing winds count as calm.
  EXPECT_DOUBLE_EQ(AerodynamicResistance(3.0, 2.0), 25.0 / 2.08);
  EXPECT_DOUBLE_EQ(AerodynamicResistance(0.1, -9999.0), AerodynamicResistance(0.1, 0.0));
  EXPECT_GT(AerodynamicResistance(0.1, -1.9), 0.0);
}

TEST(EtPhysics, EmpiricalMethods) {
  // Hamon at 20 °C with 12 h of daylight in a daily step.
  EXPECT_NEAR(HamonEvaporation(1.0, 0.5, 20.0, 1440.0), 2.852, 0.0005);
  EXPECT_NEAR(HamonEvaporation(1.0, 0.5, 20.0, 60.0), 2.852 / 24.0, 0.0001);
  // Wendling by hand: RG 5000 Wh/m², albedo 0.2, fk 1, 15 °C:
  // (0.36·5000·0.9 + 93)·37 / (150·138) = 3.0618...
  EXPECT_NEAR(WendlingEvaporation(5000.0, 0.2, 1.0, 15.0, 1440.0), (1620.0 + 93.0) * 37.0 / (150.0 * 138.0), 1e-12);
  // Haude by hand: 20 °C at 14 h, es = 6.11·exp(17.62·20/263.12) = 23.37 hPa, half saturated,
  // fh 0.3: 23.37·0.3·0.5 = 3.506 mm/d.
  const double es20 = 6.11 * std::exp(17.62 * 20.0 / 263.12);
  EXPECT_NEAR(HaudeEvaporation(20.0, es20 / 2.0, 0.0, 0.3, 1440.0), es20 * 0.15, 1e-12);
  EXPECT_NEAR(HaudeEvaporation(20.0, -1.0, 0.5, 0.3, 1440.0), es20 * 0.15, 1e-12);
  // Supersaturated air evaporates nothing; a large factor is capped at 7 mm/d.
  EXPECT_DOUBLE_EQ(HaudeEvaporation(20.0, 30.0, 0.0, 0.3, 1440.0), 0.0);
  EXPECT_DOUBLE_EQ(HaudeEvaporation(20.0, 0.0, 0.0, 5.0, 720.0), 3.5);
  // Below freezing the ice formula.
  EXPECT_NEAR(HaudeEvaporation(-5.0, 0.0, 0.0, 1.0, 1440.0), 6.11 * std::exp(22.46 * -5.0 / 267.46), 1e-12);
}

TEST(EtPhysics, QuadraticRootsAndMonthlyTables) {
  double x1 = -1, x2 = -1;
  EXPECT_EQ(SolveQuadraticRoots(x1, x2, 0.0, 1.0), 0);
  EXPECT_EQ(x1, 0.0);
  EXPECT_EQ(x2, 0.0);
  EXPECT_EQ(SolveQuadraticRoots(x1, x2, -2.0, 1.0), 1);
  EXPECT_EQ(x1, 1.0);
  EXPECT_EQ(SolveQuadraticRoots(x1, x2, -3.0, 2.0), 2);
  EXPECT_EQ(x1, 1.0);
  EXPECT_EQ(x2, 2.0);
  // Table: 0 = December, 1..12, 13 = January. Mid-month gives the month's value; the 1st
  // of a month lies between the previous month's and its own.
  double table[14];
  for (int m = 0; m < 14; ++m) table[m] = m;
  table[0] = 12.0;
  table[13] = 1.0;
  EXPECT_DOUBLE_EQ(MonthlyValue(table, 3, 15, 31, -15.0, 16.0), 3.0);
  EXPECT_DOUBLE_EQ(MonthlyValue(table, 3, 16, 31, -15.0, 16.0), 3.0);
  EXPECT_NEAR(MonthlyValue(table, 3, 1, 31, -15.0, 16.0), 2.0 + 16.0 / 30.0, 1e-12);
  EXPECT_NEAR(MonthlyValue(table, 1, 1, 31, -15.0, 16.0), 12.0 - 11.0 * 16.0 / 30.0, 1e-12);
  EXPECT_NEAR(MonthlyValue(table, 12, 31, 31, -15.0, 16.0), 12.0 - 11.0 * 15.0 / 31.0, 1e-12);
}

TEST(EtPhysics, RadiationAndCloudinessOfACell) {
  EXPECT_NEAR(Cloudiness(0.0), 0.997, 1e-12);
  EXPECT_NEAR(Cloudiness(1.0), 0.0384, 1e-12);
  EXPECT_EQ(Cloudiness(1.2), 0.0);

  RadiationSettings s;
  s.c[0] = 0.2, s.c[1] = 0.8;
  s.cs[0] = 0.072, s.cs[1] = -0.808, s.cs[2] = 1.749, s.cs[3] = -0.239;
  s.x0 = 0.243;
  s.haveRadiation = true;
  // From a measured radiation: relative radiation, sunshine from the cubic, 0 below x0.
  RadiationResult r = CellRadiation(s, 1000.0, 0.0, 600.0, -1.0, 1e9);
  EXPECT_DOUBLE_EQ(r.relative, 0.6);
  EXPECT_NEAR(r.sunshine, 0.072 + 0.6 * (-0.808 + 0.6 * (1.749 - 0.6 * 0.239)), 1e-12);
  EXPECT_DOUBLE_EQ(r.rg, 600.0);
  EXPECT_EQ(CellRadiation(s, 1000.0, 0.0, 200.0, -1.0, 1e9).sunshine, 0.0);
  // A correction factor scales the direct part only; the result is written back.
  r = CellRadiation(s, 1000.0, 0.0, 600.0, 1.5, 1e9);
  EXPECT_NEAR(r.rg, 600.0 * (1.0 + 0.8 * r.sunshine * 0.5), 1e-9);
  EXPECT_DOUBLE_EQ(r.correctedInput, r.rg);
  // Capped at the step's maximum.
  EXPECT_DOUBLE_EQ(CellRadiation(s, 1000.0, 0.0, 600.0, -1.0, 500.0).rg, 500.0);
  // Without a radiation input, from sunshine and the clear sky.
  s.haveRadiation = false;
  s.haveSunshine = true;
  r = CellRadiation(s, 1000.0, 0.5, 0.0, -1.0, 1e9);
  EXPECT_DOUBLE_EQ(r.rg, 600.0);
  r = CellRadiation(s, 1000.0, 0.5, 0.0, 2.0, 1e9);
  EXPECT_DOUBLE_EQ(r.rg, (0.2 + 2.0 * 0.4) * 1000.0);
  // No clear sky (night): no radiation.
  EXPECT_EQ(CellRadiation(s, 0.0, 0.5, 0.0, -1.0, 1e9).rg, 0.0);
}

// A day of 16.9 °C at 100 m (the weather of the FAO example) for the Penman-Monteith tests.
PmWeather SummerDay() {
  PmWeather w;
  w.t = 16.9;
  w.share = 1.0;
  w.elevation = 100.0;
  w.vapourPressure = 14.09;
  w.wind = 2.0;
  return w;
}

TEST(EtPhysics, PenmanMonteithLayersAndParts) {
  PmSettings s;
  s.dtMinutes = 1440.0;
  s.layers = 1;
  PmWeather w = SummerDay();
  PmLayer grass;
  grass.lai = 2.88;
  grass.cover = 1.0;
  grass.canopyResistance = 50.0;
  grass.z0 = 0.03;
  grass.interceptionResistance = 0.0;
  grass.soilResistance = 200.0;
  PmCarry carry;
  carry.shortwave = 4000.0;
  carry.sunshine = 0.6;
  const PmResult day = CellPenmanMonteith(s, w, grass, carry);
  EXPECT_GT(day.transpiration, 0.0);
  // Interception has no surface resistance: it evaporates more than the canopy transpires.
  EXPECT_GT(day.interception, day.transpiration);
  EXPECT_GE(day.soil, 0.0);
  EXPECT_EQ(carry.raTop, AerodynamicResistance(0.03, 2.0));

  // The night part closes the stomata: much higher canopy resistance, less transpiration.
  PmCarry night = carry;
  w.day = false;
  w.share = 0.4;
  const PmResult n = CellPenmanMonteith(s, w, grass, night);
  EXPECT_LT(n.transpiration, day.transpiration);

  // A second layer below takes only what the first passes down and adds its LAI to ra.
  s.layers = 2;
  w.day = true;
  w.share = 1.0;
  PmCarry two;
  two.shortwave = 4000.0;
  two.sunshine = 0.6;
  PmLayer top = grass;
  top.lowest = false;
  const PmResult a = CellPenmanMonteith(s, w, top, two);
  EXPECT_EQ(a.soil, 0.0);
  const double passed = two.rnDay;
  EXPECT_GT(passed, 0.0);
  PmLayer below = grass;
  below.top = false;
  two.laiAbove = top.lai;
  const PmResult b = CellPenmanMonteith(s, w, below, two);
  EXPECT_LT(two.rnDay, passed);
  EXPECT_LT(b.transpiration, a.transpiration);

  // Open water: no canopy, no soil or interception evaporation, all radiation into E.
  PmCarry lake;
  lake.shortwave = 4000.0;
  PmLayer water = grass;
  water.openWater = true;
  water.z0 = 0.001;
  const PmResult o = CellPenmanMonteith(s, w, water, lake);
  EXPECT_EQ(o.soil, 0.0);
  EXPECT_EQ(o.interception, 0.0);
  EXPECT_GT(o.transpiration, 0.0);
  // A roughness of 0 from a user grid counts as 0.01 m: finite results.
  PmLayer smooth = grass;
  smooth.z0 = 0.0;
  PmCarry c2;
  EXPECT_TRUE(std::isfinite(CellPenmanMonteith(s, w, smooth, c2).transpiration));
}

TEST(EtPhysics, CachedCallsRepeatOnlyTheSameArgument) {
  int calls = 0;
  const auto f = [&calls](double x) {
    ++calls;
    return std::exp(x);
  };
  LastCall cache;
  EXPECT_EQ(CachedCall(&cache, 0.5, f), std::exp(0.5));
  EXPECT_EQ(CachedCall(&cache, 0.5, f), std::exp(0.5));
  EXPECT_EQ(calls, 1);
  // Equal values of other bits are other arguments (a function may tell them apart).
  CachedCall(&cache, 0.0, f);
  CachedCall(&cache, -0.0, f);
  EXPECT_EQ(calls, 3);
  const double nan = std::nan("");
  EXPECT_TRUE(std::isnan(CachedCall(&cache, nan, f)));
  CachedCall(&cache, nan, f);
  EXPECT_EQ(calls, 4);
  CachedCall(nullptr, 0.5, f);
  CachedCall(nullptr, 0.5, f);
  EXPECT_EQ(calls, 6);
}

// A layer's cache carried from cell to cell gives the bits of uncached calls, whichever of
// its land-use parameters changes.
TEST(EtPhysics, PenmanMonteithLayerCacheKeepsTheBits) {
  PmSettings s;
  s.layers = 2;
  PmWeather w = SummerDay();
  struct Cell {
    double lai, cover, z0, extinction;
  } cells[] = {{2.0, 0.8, 0.1, 0.5},  {2.0, 0.8, 0.1, 0.5},  {2.0, 0.8, 0.3, 0.5}, {2.0, 0.8, 0.3, 0.4},
               {4.0, 0.8, 0.3, 0.4},  {4.0, 0.6, 0.3, 0.4},  {4.0, 0.6, 0.0, 0.4}, {4.0, 0.6, -1.0, 0.4},
               {0.0, 0.6, 3.0, 0.4},  {-0.0, 0.6, 3.0, 0.4}, {4.0, 0.6, 0.3, 0.4}};
  PmLayerCache cache;
  for (bool day : {true, false})
    for (const Cell& cell : cells) {
      w.day = day;
      PmLayer layer;
      layer.lai = cell.lai;
      layer.cover = cell.cover;
      layer.canopyResistance = 80.0;
      layer.z0 = cell.z0;
      layer.extinction = cell.extinction;
      layer.soilResistance = 100.0;
      PmCarry plain, cached;
      plain.shortwave = cached.shortwave = 300.0;
      const PmPart part = PenmanMonteithPart(s, w, PenmanMonteithAir(w), plain);
      const PmLayerTerms a = PenmanMonteithLayer(s, layer, w.wind, plain);
      const PmLayerTerms b = PenmanMonteithLayer(s, layer, w.wind, cached, &cache);
      EXPECT_EQ(a.absorbedShare, b.absorbedShare);
      EXPECT_EQ(a.ra, b.ra);
      const PmResult x = PenmanMonteithLayerPart(part, a, plain);
      const PmResult y = PenmanMonteithLayerPart(part, b, cached, &cache);
      EXPECT_EQ(x.transpiration, y.transpiration) << cell.lai << " " << cell.cover << " " << cell.z0;
      EXPECT_EQ(x.interception, y.interception);
      EXPECT_EQ(x.soil, y.soil);
    }
}

TEST(EtPhysics, WithdrawalsConserveWater) {
  // Snow: 3 mm of snow, 2 mm transpiration demand, 2 mm soil evaporation demand.
  double snow = 3.0;
  double demands[2] = {2.0, 2.0};
  EXPECT_DOUBLE_EQ(TakeFromSnow(snow, demands, 2), 3.0);
  EXPECT_EQ(snow, 0.0);
  EXPECT_EQ(demands[0], 0.0);
  EXPECT_EQ(demands[1], 1.0);
  // Soil: a demand larger than the storage takes what is there.
  double theta = 0.1;
  EXPECT_DOUBLE_EQ(WithdrawFromSoil(theta, 100.0, 15.0), 10.0);
  EXPECT_EQ(theta, 0.0);
  theta = 0.5;
  EXPECT_DOUBLE_EQ(WithdrawFromSoil(theta, 100.0, 5.0), 5.0);
  EXPECT_DOUBLE_EQ(theta, 0.45);
  // No capacity: nothing is taken and nothing divides by it.
  theta = 0.5;
  EXPECT_EQ(WithdrawFromSoil(theta, 0.0, 5.0), 0.0);
  EXPECT_EQ(theta, 0.5);
}

}  // namespace
