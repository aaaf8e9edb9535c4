// Cell physics of the soil water balance and the infiltration against hand values and
// invariants over many random cells.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "processes/soil/soil_cell.h"
#include "tables/phenology.h"

using namespace soilcell;

TEST(SoilCell, LinearStorageAndTravelTimeZones) {
  // k = 60 min at 60-min steps: a 10 mm pulse gives 10 (1 - 1/e) in its first step.
  const double e = std::exp(-60.0 / 60.0);
  EXPECT_NEAR(LinearStorage(0.0, 10.0, e), 6.3212, 1e-4);
  // The content behind the output closes the storage's balance exactly.
  const double q1 = LinearStorage(0.0, 10.0, e), q2 = LinearStorage(q1, 0.0, e);
  EXPECT_NEAR(LinearStorageContent(q1, e) - LinearStorageContent(q2, e), q2, 1e-12);
  EXPECT_NEAR(10.0 - q1, LinearStorageContent(q1, e), 1e-12);

  struct Case { double seconds, dt; int zone; } cases[] = {
      {3600, 1440, 1}, {86401, 1440, 2}, {86400, 1440, 1}, {7200, 60, 2}, {7201, 60, 3},
      {0, 60, 1}, {-5, 60, 1}, {NAN, 60, 1}, {INFINITY, 60, 1}, {-9999, 60, 1}};
  for (const Case& c : cases) EXPECT_EQ(TravelTimeZone(c.seconds, c.dt), c.zone) << c.seconds << " s";
}

TEST(SoilCell, CapillaryBranches) {
  // Saturated cell: the soil storage fills from below, the inactive store (10 mm at 0.5)
  // joins the saturated zone with its 5 mm of water.
  SoilCellState s;
  s.SB = 0.4; s.SD = 0.05; s.nFKia = 10; s.SBia = 0.5;
  double ssp, flow;
  ASSERT_TRUE(CapillaryExchange(s, 100.0, 50.0, ssp, flow));
  EXPECT_DOUBLE_EQ(s.SB, 1.0);
  EXPECT_DOUBLE_EQ(s.SBia, 1.0);
  EXPECT_DOUBLE_EQ(s.nFKia, 0.0);
  EXPECT_DOUBLE_EQ(s.SSP, 1.0);
  EXPECT_DOUBLE_EQ(s.SD, 0.05 + 60.0 - 5.0);

  // Water table below the reach without any reach (R = 0): the whole store goes, its water
  // into the saturated zone; the capacity never turns negative.
  SoilCellState t;
  t.SD = 30; t.nFKia = 20; t.SBia = 0.25;
  ASSERT_TRUE(CapillaryExchange(t, 100.0, 0.0, ssp, flow));
  EXPECT_EQ(t.nFKia, 0.0);
  EXPECT_DOUBLE_EQ(t.SD, 30 - 0.25 * 20);
  EXPECT_EQ(t.SSP, 1.0);

  // A store deeper than the water table allows (above (SD / R) nFK = 110 mm) shrinks to
  // -SSPneu nFK = 10 mm; the 140 mm it gives up take their 56 mm of water along.
  SoilCellState v;
  v.SD = 110; v.nFKia = 150; v.SBia = 0.4;
  ASSERT_TRUE(CapillaryExchange(v, 100.0, 100.0, ssp, flow));
  EXPECT_NEAR(v.nFKia, 10.0, 1e-12);
  EXPECT_DOUBLE_EQ(v.SBia, 0.4);
  EXPECT_NEAR(v.SD, 110 - 56.0, 1e-12);

  // Within the reach: flow from the previous drying, by hand.
  SoilCellState u;
  u.SB = 0.5; u.SBold = 0.7; u.SSP = 0.5; u.SD = 40;
  ASSERT_TRUE(CapillaryExchange(u, 100.0, 100.0, ssp, flow));  // SSPneu = 0.6 > 0.5
  const double d = 0.2, expected = d * 0.5 * 100 + 0.1 * ((0.5 * 100) - d * 0.5 * 100) / 0.5;
  EXPECT_NEAR(flow, expected, 1e-12);
  EXPECT_NEAR(u.SB, 0.5 + expected / 100, 1e-12);
  EXPECT_DOUBLE_EQ(u.SSP, 0.6);
}

TEST(SoilCell, ReflowFillingAndSnowShare) {
  // The reflow never takes more than the interflow storage holds (large Rrueck).
  EXPECT_DOUBLE_EQ(Reflow(10.0, 0.0, 100.0, 10.0, 5.0), 10.0);
  EXPECT_DOUBLE_EQ(Reflow(4.0, 0.5, 100.0, 10.0, 0.5), 4.0 * 0.4 * 0.5);
  EXPECT_NEAR(Reflow(4.0, 0.98, 100.0, 10.0, 0.5), 0.4 * 2.0 * 0.5, 1e-15);
  EXPECT_EQ(Reflow(4.0, 0.5, 100.0, 0.001, 0.5), 0.0);
  EXPECT_EQ(Reflow(4.0, 0.5, 0.0, 10.0, 0.5), 0.0);

  // A cell without soil store passes its input to the unsaturated zone.
  SoilCellState rock;
  rock.SB = 0.3;
  FillSoilStorage(rock, 7.0, 2.0, 0.0);
  EXPECT_EQ(rock.SB, 1.0);
  EXPECT_EQ(rock.SUZ, 7.0);

  // Above Pgrenz the input bypasses the soil storage; overflow goes to SUZ.
  SoilCellState s;
  s.SB = 0.9;
  FillSoilStorage(s, 25.0, 15.0, 100.0);
  EXPECT_DOUBLE_EQ(s.SB, 1.0);
  EXPECT_NEAR(s.SUZ, 10.0 + 5.0, 1e-12);
  EXPECT_EQ(s.SBold, 1.0);
  // An inactive store that overflows stays full with its capacity; the rest goes to SUZ.
  SoilCellState full;
  full.SB = 0.95; full.nFKia = 8; full.SBia = 0.75;
  FillSoilStorage(full, 9.0, 15.0, 100.0);  // 4 mm over the soil storage, 2 fill the store
  EXPECT_EQ(full.nFKia, 8.0);
  EXPECT_EQ(full.SBia, 1.0);
  EXPECT_NEAR(full.SUZ, 2.0, 1e-12);

  SubbasinParameters p;
  p.m = 50; p.QDsnow = 0.5; p.Pgrenz = 100; p.SHmax = 10; p.kQI = 0.9;
  SoilCellInputs in;
  in.water = 4.0; in.nFK = 100; in.porosity = 0.1; in.rootDepth = 0.5;
  for (double snow : {10.0, 10.1}) {
    SoilCellState c;
    c.SD = 80;
    in.snowSolid = snow;
    SoilCellOutputs out;
    Step(c, in, p, out);
    EXPECT_DOUBLE_EQ(out.QD, snow > 10.0 ? 2.0 : 0.0) << snow;
    EXPECT_DOUBLE_EQ(out.waterLeft, snow > 10.0 ? 2.0 : 4.0);
  }
}

// Drainage: the conductivity, scaled by exp(-SD/m) below a deficit, at most what the
// unsaturated zone holds; an empty zone gives nothing whatever the deficit.
TEST(SoilCell, DrainageCases) {
  const double nan = std::nan("");
  struct Case {
    double SUZ, conductivity, SD, drained, SUZafter;
  } cases[] = {
      {5.0, 2.0, 10.0, 3.0 * std::exp(-0.5), 5.0 - 3.0 * std::exp(-0.5)},  // below the capacity
      {1.0, 2.0, 10.0, 1.0, 0.0},                                          // the zone runs dry
      {5.0, 2.0, -3.0, 3.0, 2.0},                                          // saturated: no recession
      {0.0, 2.0, nan, 0.0, 0.0},
      {0.0, 2.0, 1e300, 0.0, 0.0},
      {0.0, 2.0, -3.0, 0.0, 0.0},
      {-0.5, 2.0, 10.0, -0.5, 0.0},  // a zone below 0 is set to 0
      {0.0, -1.0, 0.0, -1.5, 1.5},   // a negative conductivity fills the zone
  };
  for (const Case& c : cases) {
    SoilCellState s;
    s.SUZ = c.SUZ;
    s.SD = c.SD;
    const double drained = Drainage(s, c.conductivity, 1.5, 20.0);
    EXPECT_DOUBLE_EQ(drained, c.drained) << c.SUZ << " " << c.SD;
    EXPECT_DOUBLE_EQ(s.SUZ, c.SUZafter) << c.SUZ << " " << c.SD;
  }
}

TEST(SoilCell, StabilityIndex) {
  EXPECT_EQ(StabilityIndex(1.0, 1800, 2000, 0.5, 90.0, 50, 0.1), -1.0);
  EXPECT_EQ(StabilityIndex(0.0, 1800, 2000, 0.5, 30.0, 50, 0.1), -1.0);
  EXPECT_EQ(StabilityIndex(1.0, 0.0, 2000, 0.5, 30.0, 50, 0.1), -1.0);
  // z 2 m, deficit 100 mm over porosity 0.1 leaves 1 m of water.
  const double b = 30.0 * 3.14159265359 / 180.0;
  const double hand = (5000.0 / (2.0 * 9.81 * 1800.0) + (1.0 - 0.5 * 999.7 / 1800.0) * std::cos(b) * std::tan(0.6)) /
                      std::sin(b);
  EXPECT_NEAR(StabilityIndex(2.0, 1800, 5000, 0.6, 30.0, 100, 0.1), hand, 1e-12);
}

TEST(SoilCell, InfiltrationCases) {
  double marker = 1.0, input = 0.0;
  EXPECT_EQ(Infiltration(2.0, 2.0, 0.1, 300, 0.3, marker, input), 0.0);  // P = K
  EXPECT_EQ(marker, 0.0);
  EXPECT_EQ(input, 2.0);
  marker = 0.0;
  EXPECT_EQ(Infiltration(5.0, 1.0, 0.0, 300, 0.3, marker, input), 0.0);  // no free pores
  // ts exactly 1: S = P (P/K - 1) = 2 with P = 2, K = 1 -> F = P.
  marker = 0.0;
  EXPECT_DOUBLE_EQ(Infiltration(2.0, 1.0, 0.01, 200, 0.0, marker, input), 0.0);
  // Macropores take all: nothing is left as excess.
  marker = 1.0;
  EXPECT_EQ(Infiltration(50.0, 1.0, 0.05, 10, 1.0, marker, input), 0.0);
  EXPECT_EQ(input, 50.0);
  // Saturated since an earlier step, by hand: F = 0.5 K + sqrt(0.25 K^2 + 2 S K), S = f psi.
  marker = 1.0;
  const double F = 0.5 + std::sqrt(0.25 + 2.0 * 0.25);
  EXPECT_NEAR(Infiltration(20.0, 1.0, 0.05, 5.0, 0.0, marker, input), 20.0 - F, 1e-12);
  EXPECT_EQ(marker, 1.0);
  EXPECT_DOUBLE_EQ(FreePoreFraction(10, 40, 0.2, 0.5, 100, 0.5), 0.75 * 0.2 + 0.5 * 100 * 0.001 / 0.5);
  EXPECT_EQ(FreePoreFraction(10, 0, 0.2, 0.5, 100, 0.0), 0.0);

  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int k = 0; k < 20000; ++k) {
    const double P = 50 * u(rng), K = 10 * u(rng) - 1, f = u(rng) - 0.2, psi = 500 * u(rng), macro = u(rng);
    double m = u(rng) < 0.5 ? 0.0 : 1.0, after = 0.0;
    const double excess = Infiltration(P, K, f, psi, macro, m, after);
    ASSERT_NEAR(after + excess, P, 1e-15 * P) << P << " " << K << " " << f << " " << psi;
    ASSERT_GE(excess, 0.0);
    ASSERT_TRUE(m == 0.0 || m == 1.0);
  }
}

// Many random cells and steps in every branch: with capillary exchange, without any reach
// (Rrueck 0), both with an inactive root zone that shrinking roots feed, and idle. Ranges
// hold, and input = change of the cell's storages (soil, inactive zone, unsaturated zone,
// interflow storage, less the deficit) + direct runoff + interflow + drainage.
TEST(SoilCell, RandomCellsKeepRangesAndBalance) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  enum { kCapillary, kNoReach, kIdle };
  for (int config : {kCapillary, kNoReach, kIdle}) {
    for (int cell = 0; cell < 2000; ++cell) {
      SubbasinParameters p;
      p.m = 10 + 100 * u(rng);
      p.Kkorr = 2 * u(rng);
      p.SHmax = 30 * u(rng);
      p.kQI = u(rng);
      p.alpha = u(rng);
      p.Pgrenz = 10 * u(rng);
      p.Rrueck = config == kCapillary ? u(rng) : 0.0;
      p.QDsnow = u(rng);
      SoilCellInputs in;
      in.nFK = u(rng) < 0.1 ? 0.0 : 200 * u(rng);
      in.rootDepth = u(rng) < 0.1 ? 0.0 : 2 * u(rng);
      in.porosity = 0.3 * u(rng);
      in.conductivity = 5 * u(rng);
      in.slowBaseflow = true;
      SoilCellState s;
      s.SB = u(rng);
      s.SBold = u(rng);
      s.SBia = u(rng);
      s.nFKia = config == kIdle ? 0.0 : 50 * u(rng);
      s.SSP = config == kIdle ? 0.0 : 0.9 * u(rng);
      s.SIF = p.SHmax * u(rng);
      auto held = [&] { return s.SB * in.nFK + s.SBia * s.nFKia + s.SUZ + s.SIF - s.SD; };
      for (int step = 0; step < 30; ++step) {
        if (config != kIdle && step % 4 == 3 && in.nFK > 0.0 && in.rootDepth > 0.1) {
          // The roots shrink: capacity moves with its water into the inactive zone.
          phenology::RootZone z{in.nFK, s.SB, s.nFKia, s.SBia};
          phenology::AdjustRootZone(z, in.rootDepth, 0.8 * in.rootDepth);
          in.nFK = z.capacity, s.SB = z.fraction, s.nFKia = z.inactiveCapacity, s.SBia = z.inactiveFraction;
          in.rootDepth *= 0.8;
        }
        in.water = u(rng) < 0.3 ? 0.0 : 30 * u(rng);
        in.snowSolid = 20 * u(rng);
        s.SD = config == kIdle ? 300 * u(rng) : 300 * u(rng) - 20;
        const double before = held();
        SoilCellOutputs out;
        Step(s, in, p, out);
        ASSERT_FALSE(out.capillaryFailed);
        ASSERT_GE(s.SB, 0.0);
        ASSERT_LE(s.SB, 1.0 + 1e-12);
        ASSERT_GE(s.SBia, 0.0);
        ASSERT_LE(s.SBia, 1.0 + 1e-12);
        ASSERT_GE(s.SUZ, 0.0);
        ASSERT_GE(s.SIF, 0.0);
        ASSERT_LE(s.SIF, p.SHmax + 1e-12);
        ASSERT_GE(s.nFKia, 0.0);
        for (double v : {s.SB, s.SBia, s.nFKia, s.SSP, s.SUZ, s.SIF, s.SD, out.QD, out.QI, out.QSUZ, out.QBBin})
          ASSERT_TRUE(std::isfinite(v));
        const double after = held();
        ASSERT_NEAR(in.water, after - before + out.QD + out.QI + out.QSUZ,
                    1e-9 * (1.0 + std::fabs(before) + in.water))
            << "config " << config << " cell " << cell << " step " << step;
      }
    }
  }
}
