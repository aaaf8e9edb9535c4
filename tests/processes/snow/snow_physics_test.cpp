// Cell physics of the snow model against hand values.
#include <gtest/gtest.h>

#include <cmath>

#include "processes/snow/snow_physics.h"

namespace {

using snow::CellInputs;
using snow::CellNotes;
using snow::CellState;
using snow::DayValues;
using snow::Parameters;

Parameters Hourly(int method) {
  Parameters p;
  p.method = method;
  p.transzone = 1.0;
  p.T0R = 0.5;
  p.T0 = 0.0;
  p.CWH = 0.1;
  p.CRFR = 0.05;
  p.albedoMin = 0.45;
  p.albedoMax = 0.9;
  p.intervalMinutes = 60.0;
  p.stepsPerDay = 24.0;
  p.stepSeconds = 3600.0;
  return p;
}

TEST(SnowPhysics, SnowShareAtTheEdgesOfTheTransitionZone) {
  struct Case {
    double T, T0R, tz;
    bool lake;
    double share;
  } cases[] = {
      {1.5, 0.5, 1.0, false, 0.0},   // T0R + transzone: rain
      {-0.5, 0.5, 1.0, false, 1.0},  // T0R - transzone: snow
      {0.5, 0.5, 1.0, false, 0.5},   // middle
      {0.0, 0.5, 1.0, false, 0.75},
      {0.5, 0.5, 0.0, false, 1.0},   // no zone: T0R itself counts as snow
      {0.51, 0.5, 0.0, false, 0.0},
      {-20.0, 0.5, 1.0, true, 0.0},  // open water of a lake: rain
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(snow::SnowShare(c.T, c.T0R, c.tz, c.lake), c.share) << c.T << " " << c.tz;
}

TEST(SnowPhysics, MonthlyAndSeasonalValues) {
  double v[14];
  for (int m = 1; m <= 12; ++m) v[m] = 10.0 * m;
  v[0] = v[12];
  v[13] = v[1];
  EXPECT_DOUBLE_EQ(snow::MonthlyValue(v, 15, 3), 30.0);
  EXPECT_DOUBLE_EQ(snow::MonthlyValue(v, 16, 3), 30.0);
  EXPECT_DOUBLE_EQ(snow::MonthlyValue(v, 1, 3), 20.0 + 10.0 * 16.0 / 30.0);
  EXPECT_DOUBLE_EQ(snow::MonthlyValue(v, 1, 1), 120.0 + (10.0 - 120.0) * 16.0 / 30.0);  // December before
  EXPECT_DOUBLE_EQ(snow::MonthlyValue(v, 31, 12), 120.0 + (10.0 - 120.0) * 15.0 / 31.0);  // January after
  EXPECT_EQ(snow::SeasonDay(1, 1), 1);
  EXPECT_EQ(snow::SeasonDay(1, 3), 60);
  EXPECT_DOUBLE_EQ(snow::SeasonalValue(2.0, 0.0, 17, 7), 2.0);
  EXPECT_NEAR(snow::SeasonalValue(2.0, 1.0, 21, 3), 2.0, 1e-12);  // day 80
}

TEST(SnowPhysics, TemperatureIndexAndCombinationMelt) {
  DayValues d{4.8, 2.4, 0.24, 2.0};
  CellNotes notes;
  {  // method 1: degree-day melt of the step, all precipitation as rain above T0R + tz
    Parameters p = Hourly(1);
    CellInputs in;
    in.P = 0.0;
    CellState s;
    s.solid = 50.0;
    EXPECT_DOUBLE_EQ(snow::CellStep(p, d, in, s, 5.0, 1.0, 0.0, false, notes), 5.0 * 4.8 / 24.0);
  }
  {  // method 2: temperature and wind index
    Parameters p = Hourly(2);
    CellInputs in;
    in.u = 5.0;
    CellState s;
    s.solid = 50.0;
    EXPECT_DOUBLE_EQ(snow::CellStep(p, d, in, s, 3.0, 1.0, 0.0, false, notes), 3.0 * (2.4 + 0.24 * 5.0) / 24.0);
  }
  {  // no solid snow: no melt
    Parameters p = Hourly(1);
    CellInputs in;
    CellState s;
    s.liquid = 3.0;
    EXPECT_EQ(snow::CellStep(p, d, in, s, 5.0, 1.0, 0.0, false, notes), 0.0);
  }
  {  // method 3: dry weather at exactly 2.4/n, rain on snow above it
    Parameters p = Hourly(3);
    CellInputs in;
    in.P = 2.4 / 24.0;
    in.hasRadCorrection = true;
    in.radCorrection = 0.6;
    CellState s;
    s.solid = 50.0;
    EXPECT_DOUBLE_EQ(snow::CellStep(p, d, in, s, 4.0, 1.0, 0.0, false, notes), 0.8 * 2.0 * 4.0 / 24.0);
    in.P = 0.2;
    s = CellState();
    s.solid = 50.0;
    const double e = snow::SatVapPressIce(4.0);
    const double ab = 2.4;
    EXPECT_NEAR(snow::CellStep(p, d, in, s, 4.0, 1.0, 0.0, false, notes),
                (ab * (e - 6.11) / 0.662 + ab * 4.0 + 0.6 * 4.0) / 24.0 + 0.006 * 0.2 * 4.0, 1e-12);
  }
  {  // methods 3 and 4 refreeze below T0, limited to the liquid water
    Parameters p = Hourly(4);
    CellInputs in;
    CellState s;
    s.solid = 10.0;
    s.liquid = 1e-4;
    EXPECT_EQ(snow::CellStep(p, d, in, s, -5.0, 1.0, 0.0, false, notes), 0.0);
    EXPECT_EQ(s.liquid, 0.0);
    EXPECT_DOUBLE_EQ(s.solid, 10.0001);
  }
}

TEST(SnowPhysics, MeltAndRetentionLimits) {
  struct Case {
    double potential, solid, liquid, taken;
  } cases[] = {
      {5.0, 3.0, 0.0, 3.0},     // more melt than snow melts exactly the snow
      {1.0, 3.0, 0.5, 1.0},
      {-2.0, 3.0, 0.5, -0.5},   // a negative melt freezes at most the liquid water there
      {-0.2, 3.0, 0.5, -0.2},
  };
  for (const Case& c : cases) {
    double s = c.solid, l = c.liquid;
    EXPECT_DOUBLE_EQ(snow::ApplyMelt(c.potential, s, l), c.taken);
    EXPECT_GE(l, 0.0);
    EXPECT_GE(s, 0.0);
    EXPECT_DOUBLE_EQ(s + l, c.solid + c.liquid);
  }
  double liquid = 0.9;
  EXPECT_EQ(snow::Retain(0.1, 10.0, liquid), 0.0);  // up to CWH·solid stays in the pack
  liquid = 1.5;
  EXPECT_DOUBLE_EQ(snow::Retain(0.1, 10.0, liquid), 0.5);
  EXPECT_DOUBLE_EQ(liquid, 1.0);
}

TEST(SnowPhysics, AlbedoAgesFasterInTheCold) {
  EXPECT_DOUBLE_EQ(snow::SnowAlbedo(0.45, 0.9, 0.0, -3.0), 0.9);
  EXPECT_DOUBLE_EQ(snow::SnowAlbedo(0.45, 0.9, 10.0, -3.0), 0.45 + 0.45 * std::exp(-1.2));
  EXPECT_DOUBLE_EQ(snow::SnowAlbedo(0.45, 0.9, 10.0, 2.0), 0.45 + 0.45 * std::exp(-0.5));
}

TEST(SnowPhysics, WetBulbIsBoundedAndFinite) {
  const double p = snow::AirPressure(0.0);
  EXPECT_NEAR(p, 1013.25, 1e-9);
  EXPECT_NEAR(snow::AirPressure(2000.0), 1013.25 * std::pow(1.0 - 0.0065 * 2000.0 / 288.15, 5.255), 1e-9);
  // Saturated air: the wet-bulb temperature is near the air temperature.
  const double es = 6.1078 * std::exp(17.08085 * 5.0 / (5.0 + 234.175));
  EXPECT_NEAR(snow::WetBulbTemperature(5.0, es, p), 5.0, 1.0);
  for (double e : {0.01, 0.5, 3.0, 8.0, 20.0})
    for (double T : {-20.0, 0.5, 10.0, 30.0}) EXPECT_TRUE(std::isfinite(snow::WetBulbTemperature(T, e, p)));
}

// Energy balance cases: warm (T > T0) and cold branch.
struct EnergyCase {
  const char* what;
  double T, P, RH, G, u, solid, liquid, snowTemp, surfTemp;
};

TEST(SnowPhysics, EnergyBalanceStaysFiniteAndKeepsTheWater) {
  const EnergyCase cases[] = {
      {"warm sunny", 6.0, 0.0, 0.6, 600.0, 2.0, 40.0, 1.0, 273.0, 272.0},
      {"warm dry air: no melt, evaporation", 1.0, 0.0, 0.05, 50.0, 3.0, 40.0, 0.0, 272.0, 270.0},
      {"warm, no humidity at all", 4.0, 0.0, 0.0, 300.0, 1.0, 40.0, 0.0, 273.0, 272.0},
      {"warm, humidity above 1", 4.0, 0.0, 1.7, 300.0, 1.0, 40.0, 0.0, 273.0, 272.0},
      {"warm rain on snow", 3.0, 4.0, 0.95, 0.0, 5.0, 10.0, 0.5, 0.0, 0.0},
      {"cold clear night", -12.0, 0.0, 0.8, 0.0, 1.0, 80.0, 0.0, 265.0, 262.0},
      {"cold with liquid water", -2.0, 0.0, 0.8, 0.0, 1.0, 20.0, 2.0, 270.0, 270.0},
      {"cold, no humidity", -8.0, 0.0, 0.0, 0.0, 0.0, 0.3, 0.0, 0.0, 0.0},
      {"cold, thin pack, strong wind", -25.0, 0.0, 0.3, 0.0, 20.0, 0.01, 0.005, 250.0, 250.0},
      {"cold sun on fresh snow", -1.0, 2.0, 0.7, 700.0, 1.0, 5.0, 0.0, -9999.0, -9999.0},
  };
  for (int method : {5, 6, 7, 11}) {
    for (double w : {1.0, 0.4}) {
      for (const EnergyCase& c : cases) {
        Parameters p = Hourly(method);
        CellInputs in;
        in.P = c.P;
        in.RH = c.RH;
        in.G = c.G;
        in.u = c.u;
        in.N = 0.4;
        in.z = 1500.0;
        in.albedo = 0.7;
        in.DI = 0.2;
        CellState s;
        s.solid = c.solid;
        s.liquid = c.liquid;
        s.snowTemp = c.snowTemp;
        s.surfTemp = c.surfTemp;
        CellNotes notes;
        const double before = s.solid + s.liquid;
        const double M = snow::CellStep(p, DayValues{}, in, s, c.T, w, 0.0, false, notes);
        SCOPED_TRACE(std::string(c.what) + " method " + std::to_string(method) + " w " + std::to_string(w));
        EXPECT_TRUE(std::isfinite(M));
        EXPECT_GE(M, 0.0);
        EXPECT_TRUE(std::isfinite(s.snowTemp) && std::isfinite(s.surfTemp) && std::isfinite(s.evaporation));
        EXPECT_GE(s.solid, 0.0);
        EXPECT_GE(s.liquid, 0.0);
        // Input = change of storage + sublimation (condensation counts negative).
        const double input = w * (s.snowfall + s.rainfall);
        EXPECT_NEAR(input, s.solid + s.liquid - before + s.evaporation, 1e-9 * (1.0 + before));
        if (c.RH <= 0.0 || c.RH > 1.0) {
          EXPECT_EQ(notes.humidityClamped, 1);
        }
        if (c.T <= 0.0) {
          EXPECT_EQ(M, 0.0);  // no melt under cold conditions
        }
        if (c.T <= 0.0 && c.liquid > 0.0 && c.solid > 0.0) {
          EXPECT_DOUBLE_EQ(s.surfTemp, snow::kMeltingPoint);
        }
        if (s.solid + s.liquid > 0.0) {
          EXPECT_LE(s.snowTemp, snow::kMeltingPoint);
        } else {
          EXPECT_EQ(s.snowTemp, p.nodata);
        }
      }
    }
  }
}

TEST(SnowPhysics, EnergyBalanceWithoutSolidSnowMarksTheTemperaturesUndefined) {
  Parameters p = Hourly(5);
  CellInputs in;
  in.P = 2.0;  // all rain at 8 °C
  CellState s;
  s.snowTemp = 270.0;
  s.surfTemp = 270.0;
  CellNotes notes;
  EXPECT_EQ(snow::CellStep(p, DayValues{}, in, s, 8.0, 1.0, 0.0, false, notes), 0.0);
  EXPECT_EQ(s.snowTemp, p.nodata);
  EXPECT_EQ(s.surfTemp, p.nodata);
  EXPECT_DOUBLE_EQ(s.liquid, 2.0);
}

TEST(SnowPhysics, WarmBalanceWithoutMeltBooksTheEnergyOnceAsEvaporation) {
  // Very dry air: the wet-bulb temperature is below 0 °C, so there is no melt and the
  // energy of the step goes into evaporation, weighted once by the call's weight.
  Parameters p = Hourly(5);
  CellInputs in;
  in.RH = 0.05;
  in.G = 600.0;
  in.u = 2.0;
  in.N = 0.0;
  in.albedo = 0.6;
  CellNotes notes;
  const double T = 1.0, TK = T + snow::kMeltingPoint;
  const double es = 6.1078 * std::exp(17.08085 * T / (T + 234.175));
  const double e = es * in.RH;
  ASSERT_LE(snow::WetBulbTemperature(T, e, snow::AirPressure(0.0)), 0.0);
  const double fu = 0.18 + 0.098 * in.u;
  const double Lin = 5.67e-8 * std::pow(TK, 4) * (0.61 + 0.05 * std::sqrt(e)) * (1.0 + 0.08 * 0.0);
  const double Lout = 5.67e-8 * std::pow(snow::kMeltingPoint, 4);
  const double QE = fu * 32.82 * (e - 6.1071);
  const double QH = fu * 18.85 * (TK - snow::kMeltingPoint);
  const double Q = (1.0 - 0.6) * 600.0 + Lin - Lout + QH + QE + 1.0;
  for (double w : {1.0, 0.3}) {
    CellState s;
    s.solid = 100.0;
    EXPECT_EQ(snow::CellStep(p, DayValues{}, in, s, T, w, 0.0, false, notes), 0.0);
    const double E = w * 3600.0 * QE / 2835500.0 - w * 3600.0 * Q / 2835500.0;
    ASSERT_LT(E, 0.0);
    EXPECT_NEAR(s.evaporation, -E, 1e-12);
    EXPECT_NEAR(s.solid, 100.0 + E, 1e-12);
  }
}

TEST(SnowPhysics, RefreezingAllLiquidWaterWarmsThePackByTheFrozenWater) {
  // A clear, cold night: the deficit freezes all of the liquid water, and its latent heat
  // warms the pack by what froze.
  Parameters p = Hourly(5);
  CellInputs in;
  in.RH = 0.9;
  in.u = 1.0;
  in.N = 0.0;
  CellState s;
  s.solid = 200.0;
  s.liquid = 0.3;
  s.snowTemp = 272.5;
  s.surfTemp = 270.0;
  CellNotes notes;
  snow::CellStep(p, DayValues{}, in, s, -15.0, 1.0, 0.0, false, notes);
  EXPECT_EQ(s.liquid, 0.0);
  EXPECT_DOUBLE_EQ(s.surfTemp, snow::kMeltingPoint);  // liquid water held the surface at 0 °C
  const double swe = 200.3;
  const double K = 2.0 * 0.3 * 1000.0 * 3600.0 / (2100.0 * swe * swe);
  const double Tp1 = 272.5 + 0.3 * (snow::kMeltingPoint - 272.5) * K;
  const double T1 = Tp1 + 0.3 * 337500.0 / (2100.0 * s.solid);
  ASSERT_GT(T1 - Tp1, 0.2);
  EXPECT_NEAR(s.snowTemp, T1, 1e-9);
}

TEST(SnowPhysics, PermafrostThawFollowsTheSquareRootOfSnowFreeDays) {
  snow::PermafrostCell c;
  c.rootDepth = 2.0;
  const double alpha = 0.1;
  for (int step = 1; step <= 24 * 9; ++step) snow::PermafrostStep(0.0, 1.0, 3.0, alpha, 24.0, c);
  EXPECT_NEAR(c.snowFreeDays, 9.0, 1e-9);
  EXPECT_NEAR(c.thawDepth, alpha * 3.0, 1e-9);
  // The root depth was lowered to the thaw depth of the first step and stays there (the
  // land-use tables set it anew each day).
  EXPECT_NEAR(c.rootDepth, alpha * std::sqrt(1.0 / 24.0), 1e-9);
  // Snow for less than the minimum age keeps the thaw depth; from that age on it refreezes.
  for (int step = 1; step < 24 * 3; ++step) snow::PermafrostStep(20.0, 1.0, 2.98, alpha, 24.0, c);
  EXPECT_NEAR(c.thawDepth, alpha * 3.0, 1e-9);
  snow::PermafrostStep(20.0, 1.0, 2.98, alpha, 24.0, c);
  EXPECT_EQ(c.thawDepth, 0.0);
  EXPECT_EQ(c.snowFreeDays, 0.0);
  EXPECT_EQ(c.rootDepth, 0.0);  // never negative
  // A negative coefficient never gives a negative depth.
  snow::PermafrostCell d;
  d.rootDepth = 1.0;
  snow::PermafrostStep(0.0, 1.0, 3.0, -5.0, 24.0, d);
  EXPECT_EQ(d.thawDepth, 0.0);
  EXPECT_EQ(d.rootDepth, 0.0);
}

}  // namespace
