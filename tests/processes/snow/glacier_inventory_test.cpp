// The glacier inventory: the list built from the grids, the bands and their sweeps, new
// glacier cells, the lost-area mass balance and the annual volume-area update.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "framework/logstream.h"
#include "framework/model_date.h"
#include "framework/text_helpers.h"
#include "grids/grid_registry.h"
#include "processes/snow/glacier_inventory.h"
#include "support/test_support.h"

namespace {

constexpr double N = -9999.0;

// A 20 x 20 basin of 100 m cells (0.01 km²), one sub-basin, the elevation falling
// southwards; glacier 5 covers rows and columns 6..15 in full.
struct InventoryBasin {
  static constexpr int kSize = 20;
  InventoryBasin() {
    for (MatrixOwner* m : {&fraction, &code, &fractionOld, &codeOld, &mb, &oldMb, &elevation, &subbasin})
      *m = MatrixOwner(kSize, kSize);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        const bool glacier = r >= 6 && r <= 15 && c >= 6 && c <= 15;
        fraction[r][c] = glacier ? 1.0 : 0.0;
        code[r][c] = glacier ? 5.0 : N;
        mb[r][c] = oldMb[r][c] = 0.0;
        elevation[r][c] = 2000.0 + 10.0 * (kSize - r);
        subbasin[r][c] = 1.0;
      }
    grids.nrows = grids.ncols = kSize;
    grids.nodata = N;
    grids.cellSize = 100.0;
    grids.fraction = fraction.get();
    grids.code = code.get();
    grids.fractionOld = fractionOld.get();
    grids.codeOld = codeOld.get();
    grids.massBalance = mb.get();
    grids.oldMassBalance = oldMb.get();
    grids.elevation = elevation.get();
    grids.subbasin = subbasin.get();
    settings.bands = 4;
  }
  void KeepOld() {
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        fractionOld[r][c] = fraction[r][c];
        codeOld[r][c] = code[r][c];
      }
  }
  // Area (km²) of the cells that carry the code.
  double Area(double glacier) {
    double a = 0.0;
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c)
        if (code[r][c] == glacier) a += fraction[r][c] * 0.01;
    return a;
  }
  MatrixOwner fraction, code, fractionOld, codeOld, mb, oldMb, elevation, subbasin;
  GlacierGrids grids;
  GlacierSettings settings;
};

double AreaOf(double volume, double c = 28.5, double gamma = 1.36) { return std::pow(volume / c, 1.0 / gamma); }

TEST(GlacierInventory, AYearOfNegativeBalanceShrinksToTheScaledArea) {
  for (int extra : {0, 2}) {
    SCOPED_TRACE(extra);
    InventoryBasin b;
    b.settings.extraWeightBand0 = extra;
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    ASSERT_EQ(inv.Glaciers().size(), 1u);
    GlacierRecord* g = inv.Find(5);
    EXPECT_NEAR(g->area, 1.0, 1e-12);
    EXPECT_NEAR(g->volume, 28.5, 1e-12);
    EXPECT_NEAR(g->oldArea, 1.0, 1e-12);
    EXPECT_EQ(g->lowest, 2050.0);
    EXPECT_EQ(g->highest, 2140.0);
    // -8.5 m water equivalent is 10 m of ice over 1 km².
    for (int r = 6; r <= 15; ++r)
      for (int c = 6; c <= 15; ++c) b.mb[r][c] = -8500.0;
    inv.Glacierbalance();
    const double expected = AreaOf(18.5);
    EXPECT_NEAR(g->volume, 18.5, 1e-9);
    EXPECT_NEAR(g->area, expected, 1e-12);
    EXPECT_NEAR(b.Area(5.0), expected, 1e-6);
    for (int r = 1; r <= InventoryBasin::kSize; ++r)
      for (int c = 1; c <= InventoryBasin::kSize; ++c) ASSERT_TRUE(b.fraction[r][c] >= 0.0 && b.fraction[r][c] <= 1.0);
  }
}

TEST(GlacierInventory, GrowthAndTheMinimumArea) {
  {
    // A positive balance: the glacier spreads into the cells next to it.
    InventoryBasin b;
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    for (int r = 6; r <= 15; ++r)
      for (int c = 6; c <= 15; ++c) b.mb[r][c] = 4250.0;  // +5 m of ice
    inv.Glacierbalance();
    EXPECT_NEAR(b.Area(5.0), AreaOf(33.5), 1e-6);
    EXPECT_NE(log.console().find("growing the glacier"), std::string::npos);
  }
  {
    // Four cells growing to some forty: ring after ring around them.
    InventoryBasin b;
    for (int r = 1; r <= InventoryBasin::kSize; ++r)
      for (int c = 1; c <= InventoryBasin::kSize; ++c)
        if (r < 10 || r > 11 || c < 10 || c > 11) b.code[r][c] = N, b.fraction[r][c] = 0.0;
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    const double start = inv.Find(5)->oldVolume;
    for (int r = 10; r <= 11; ++r)
      for (int c = 10; c <= 11; ++c) b.mb[r][c] = (8.0 - start) * 0.85 * 1000.0 / 0.04;
    inv.Glacierbalance();
    EXPECT_NEAR(inv.Find(5)->volume, 8.0, 1e-9);
    // The glacier counted as the smallest area of the relation, 0.0543 km², and gains the
    // difference to its new area on top of the 0.04 km² of its cells.
    EXPECT_NEAR(b.Area(5.0), AreaOf(8.0) - (kMinGlacierArea - 0.04), 1e-6);
  }
  {
    // Nine cells losing nearly all their ice keep the minimum area and volume.
    InventoryBasin b;
    for (int r = 1; r <= InventoryBasin::kSize; ++r)
      for (int c = 1; c <= InventoryBasin::kSize; ++c)
        if (r > 8 || c > 8) b.code[r][c] = N, b.fraction[r][c] = 0.0;
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    GlacierRecord* g = inv.Find(5);
    EXPECT_NEAR(g->area, 0.09, 1e-12);
    for (int r = 6; r <= 8; ++r)
      for (int c = 6; c <= 8; ++c) b.mb[r][c] = -1e5;
    inv.Glacierbalance();
    EXPECT_EQ(g->area, kMinGlacierArea);
    EXPECT_DOUBLE_EQ(g->volume, 28.5 * std::pow(kMinGlacierArea, 1.36));
    EXPECT_NEAR(b.Area(5.0), kMinGlacierArea, 1e-6);
  }
}

// Glaciers of whole cells (fraction 1 everywhere, as real masks are) grow into the cells
// collected around them wherever they lie: against the grid's edge, another sub-basin,
// another glacier, or with firn on every cell. One that has no room left says so.
TEST(GlacierInventory, WholeCellGlaciersGrowToTheirArea) {
  struct Case {
    const char* what;
    void (*change)(InventoryBasin&, MatrixOwner&);
    bool room;
  } cases[] = {
      {"in the middle", [](InventoryBasin&, MatrixOwner&) {}, true},
      {"against the edge of the grid",
       [](InventoryBasin& b, MatrixOwner&) {
         for (int r = 1; r <= 20; ++r)
           for (int c = 1; c <= 20; ++c) {
             const bool ice = r <= 10 && c >= 6 && c <= 15;
             b.fraction[r][c] = ice ? 1.0 : 0.0;
             b.code[r][c] = ice ? 5.0 : N;
           }
       },
       true},
      {"next to another sub-basin",
       [](InventoryBasin& b, MatrixOwner&) {
         for (int r = 1; r <= 20; ++r)
           for (int c = 16; c <= 20; ++c) b.subbasin[r][c] = 2.0;
       },
       true},
      {"next to another glacier",
       [](InventoryBasin& b, MatrixOwner&) {
         for (int r = 6; r <= 15; ++r)
           for (int c = 16; c <= 18; ++c) b.fraction[r][c] = 1.0, b.code[r][c] = 7.0;
       },
       true},
      {"with firn on every cell",
       [](InventoryBasin& b, MatrixOwner& firn) {
         firn = MatrixOwner(20, 20);
         for (int r = 1; r <= 20; ++r)
           for (int c = 1; c <= 20; ++c) firn[r][c] = b.code[r][c] == 5.0 ? 300.0 : 0.0;
         b.grids.firnTotal = firn.get();
       },
       true},
      {"filling the basin",
       [](InventoryBasin& b, MatrixOwner&) {
         for (int r = 1; r <= 20; ++r)
           for (int c = 1; c <= 20; ++c) b.fraction[r][c] = 1.0, b.code[r][c] = 5.0;
       },
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    InventoryBasin b;
    MatrixOwner firn;
    k.change(b, firn);
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    const double before = b.Area(5.0);
    for (int r = 1; r <= 20; ++r)
      for (int c = 1; c <= 20; ++c)
        if (b.code[r][c] == 5.0) b.mb[r][c] = 1700.0;  // +2 m of ice
    inv.Glacierbalance();
    GlacierRecord* g = inv.Find(5);
    const double target = AreaOf(g->volume);
    EXPECT_GT(target, before + 0.05);
    if (k.room) {
      EXPECT_NEAR(b.Area(5.0), target, 1e-6);
      EXPECT_NEAR(g->area, b.Area(5.0), 1e-6);
      EXPECT_EQ(log.console().find("too many iterations"), std::string::npos) << log.console();
    } else {
      EXPECT_NE(log.console().find("glacier 5 stopped after 31 iterations"), std::string::npos) << log.console();
    }
    if (b.grids.code[6][17] == 7.0) {
      EXPECT_NEAR(b.Area(7.0), 0.3, 1e-12);
    }
    for (int r = 1; r <= 20; ++r)
      for (int c = 1; c <= 20; ++c) ASSERT_TRUE(b.fraction[r][c] >= 0.0 && b.fraction[r][c] <= 1.0);
  }
}

TEST(GlacierInventory, BandsRemoveCellsThatFallBelowZero) {
  double f[3] = {0.1, 0.8, 0.5}, code[3] = {3.0, 3.0, -1.0};
  ElevationBand band;
  for (int i = 0; i < 3; ++i) band.AddCell(&f[i], &code[i]);
  EXPECT_EQ(band.CountChangeableCells(-1.0), 3u);
  // Target -0.6: the first cell gives its 0.1 and leaves, the second gives the rest in a
  // second pass; the third (no glacier code) takes no share.
  EXPECT_NEAR(band.ChangeCells(-0.2), 0.0, 1e-12);
  EXPECT_EQ(f[0], 0.0);
  EXPECT_EQ(code[0], -9999.0);
  EXPECT_NEAR(f[1], 0.3, 1e-12);
  EXPECT_EQ(f[2], 0.5);
  // Growing: full cells are flagged and take nothing.
  double g[2] = {1.0, 0.9}, codes[2] = {3.0, 3.0};
  ElevationBand grow;
  for (int i = 0; i < 2; ++i) grow.AddCell(&g[i], &codes[i]);
  EXPECT_EQ(grow.CountChangeableCells(1.0), 1u);
  EXPECT_NEAR(grow.ChangeCells(0.05), 0.0, 1e-12);
  EXPECT_NEAR(g[1], 0.95, 1e-12);
  EXPECT_EQ(g[0], 1.0);
}

TEST(GlacierInventory, NewCellsJoinOrStartGlaciers) {
  InventoryBasin b;
  b.code[6][5] = -1.0;    // next to glacier 5
  b.code[2][2] = -1.0;    // alone: a new glacier
  b.fraction[6][5] = N;
  b.fraction[2][2] = N;
  b.settings.relSizeNewGlacier = 0.25;
  CapturedLog log;
  GlacierInventory inv(b.grids, b.settings, &log.log());
  inv.Build();
  b.KeepOld();
  inv.RecountGlaciers(-1, false);
  EXPECT_EQ(b.code[6][5], 5.0);
  EXPECT_EQ(b.code[2][2], 6.0);
  EXPECT_EQ(b.fraction[2][2], 0.25);
  EXPECT_EQ(b.codeOld[2][2], 6.0);
  ASSERT_NE(inv.Find(6), nullptr);
  EXPECT_EQ(inv.Glaciers().size(), 2u);
  // In the annual update the new glacier grows to the smallest area.
  inv.Glacierbalance();
  EXPECT_NEAR(b.Area(6.0), kMinGlacierArea, 1e-6);
  EXPECT_NEAR(inv.Find(6)->volume, 28.5 * std::pow(kMinGlacierArea, 1.36), 1e-12);
}

TEST(GlacierInventory, LostAreaMassBalanceGoesToTheRemainingCells) {
  InventoryBasin b;
  for (int r = 1; r <= InventoryBasin::kSize; ++r)
    for (int c = 1; c <= InventoryBasin::kSize; ++c)
      if (!(r == 6 && (c == 6 || c == 7))) b.code[r][c] = N, b.fraction[r][c] = 0.0;
  CapturedLog log;
  GlacierInventory inv(b.grids, b.settings, &log.log());
  inv.Build();
  b.KeepOld();
  b.fraction[6][6] = 0.5;
  b.fraction[6][7] = 0.0;
  b.code[6][7] = -9999.0;
  b.mb[6][6] = b.mb[6][7] = -100.0;
  inv.DistributeLostAreaMassBalance(-1);
  // Lost: -100 * 0.5 + -100 * 1 over the remaining fraction 0.5.
  EXPECT_DOUBLE_EQ(b.mb[6][6], -100.0 - 300.0);
  EXPECT_EQ(b.mb[6][7], -100.0);
}

TEST(GlacierInventory, AGlacierInTwoSubbasinsStopsTheRun) {
  InventoryBasin b;
  for (int r = 1; r <= InventoryBasin::kSize; ++r)
    for (int c = 11; c <= InventoryBasin::kSize; ++c) b.subbasin[r][c] = 2.0;
  CapturedLog log;
  GlacierInventory inv(b.grids, b.settings, &log.log());
  int code = 0;
  try {
    inv.Build();
  } catch (int e) {
    code = e;
  }
  EXPECT_EQ(code, 84);
  EXPECT_NE(log.console().find("glacier 5 is located in more than one subbasin"), std::string::npos);
  EXPECT_NE(log.console().find("whereas the cell in row 6 and col 11 belongs to subbasin 2"), std::string::npos);
}

// A band changed many times in a row gives what as many single changes give: runs of
// changes in which no cell reaches 0 or 1 are made at once.
TEST(GlacierInventory, RepeatedBandChangesEqualSingleOnes) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const int cells = 1 + trial % 9;
    std::vector<double> f(cells), code(cells), f1, code1;
    for (int i = 0; i < cells; ++i) {
      const double kind = u(rng);
      f[i] = kind < 0.15 ? 1.0 : kind < 0.25 ? 0.0 : u(rng);
      code[i] = u(rng) < 0.1 ? -9999.0 : 3.0;
    }
    f1 = f;
    code1 = code;
    const double grow = u(rng) < 0.5 ? 1.0 : -1.0;
    const double step = grow * std::pow(10.0, -1.0 - 6.0 * u(rng));
    const uint64_t times = 1 + static_cast<uint64_t>(400.0 * u(rng));
    ElevationBand merged, single;
    for (int i = 0; i < cells; ++i) {
      merged.AddCell(&f[i], &code[i]);
      single.AddCell(&f1[i], &code1[i]);
    }
    merged.CountChangeableCells(grow);
    single.CountChangeableCells(grow);
    const double left = merged.ChangeCellsRepeatedly(step, times);
    double left1 = 0.0;
    for (uint64_t k = 0; k < times; ++k) left1 += single.ChangeCells(step);
    ASSERT_NEAR(left, left1, 1e-9 * (1.0 + std::fabs(left1)));
    for (int i = 0; i < cells; ++i) {
      ASSERT_NEAR(f[i], f1[i], 1e-9) << i;
      ASSERT_EQ(code[i], code1[i]) << i;
    }
  }
}

// Counts that make the update's work huge: a band 0 weighed 2e9 times more still takes its
// share at once, and a thousand bands cost the sweeps over the bands that hold cells only.
TEST(GlacierInventory, HugeWeightsAndManyBandsReachTheArea) {
  struct Case {
    int bands, extra;
    double balance;
  } cases[] = {{4, 2000000000, -8500.0}, {4, 2000000000, 4250.0}, {1000, 0, -8500.0}, {1000, 7, 4250.0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.bands) + " bands, extra weight " + std::to_string(k.extra));
    InventoryBasin b;
    b.settings.bands = k.bands;
    b.settings.extraWeightBand0 = k.extra;
    CapturedLog log;
    GlacierInventory inv(b.grids, b.settings, &log.log());
    inv.Build();
    for (int r = 6; r <= 15; ++r)
      for (int c = 6; c <= 15; ++c) b.mb[r][c] = k.balance;
    inv.Glacierbalance();
    EXPECT_NEAR(b.Area(5.0), AreaOf(inv.Find(5)->volume), 1e-6);
    EXPECT_EQ(log.console().find("too many iterations"), std::string::npos) << log.console();
  }
}

TEST(GlacierRecord, VolumeAreaRelation) {
  GlacierRecord g(1, 0, 0, 1, 28.5, 1.36, 0.0, 0.005, 100.0);
  g.VolumeFromArea();
  EXPECT_EQ(g.area, 0.01);
  EXPECT_DOUBLE_EQ(g.volume, 28.5 * std::pow(0.01, 1.36));
  // A volume of exactly 0 is replaced by c * area^gamma before the area is computed.
  GlacierRecord z(1, 1, 0, 1, 28.5, 1.36, 0.0, 2.0, 100.0);
  z.AreaFromVolume();
  EXPECT_DOUBLE_EQ(z.volume, 28.5 * std::pow(2.0, 1.36));
  EXPECT_NEAR(z.area, 2.0, 1e-12);
  // Without bands the sweeps place nothing.
  EXPECT_EQ(g.ChangeCellsInBands(-1, 0.5), 0.0);
  EXPECT_EQ(g.CellFractionPerSweepFor(true, 3.0), 0.0);
}

// --- the evaluation date and the years between -----------------------------------------

TEST(GlacierEvaluation, DueOnceOnTheStepThatEndsTheDay) {
  struct Case {
    int64_t y, m, d, h, min;
    int evalDay, evalMonth;
    double offset;
    int64_t step;
    bool due;
  } cases[] = {
      {2001, 9, 30, 24, 0, 30, 9, 0.0, 60, true},   // a clock that runs to 24:00
      {2001, 10, 1, 0, 0, 30, 9, 0.0, 60, true},    // the same instant stamped 0:00 of the day after
      {2001, 9, 30, 23, 0, 30, 9, 1.0, 60, true},   // one hour ahead of the clock
      {2001, 10, 1, 0, 0, 30, 9, 1.0, 60, false},
      {2001, 9, 30, 0, 0, 30, 9, 0.0, 60, false},   // the start of the day
      {2001, 9, 30, 12, 0, 30, 9, 0.0, 60, false},
      {2001, 9, 29, 24, 0, 30, 9, 0.0, 60, false},
      {2002, 1, 1, 0, 0, 31, 12, 0.0, 60, true},    // across the year
      {2004, 2, 29, 0, 0, 28, 2, 0.0, 60, true},    // leap year
      {2004, 3, 1, 0, 0, 28, 2, 0.0, 60, false},
      {2001, 3, 1, 0, 0, 28, 2, 0.0, 60, true},
      // Clocks on which no step ends at midnight: the step that passes it; a step of two
      // days that passes the end of the evaluation day and of the next.
      {2001, 9, 30, 23, 0, 30, 9, 0.5, 60, false},
      {2001, 10, 1, 0, 0, 30, 9, 0.5, 60, true},
      {2001, 10, 1, 0, 15, 30, 9, 0.0, 30, true},
      {2001, 10, 1, 24, 0, 30, 9, 0.0, 2880, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GlacierEvaluationDue(c.y, c.m, c.d, c.h, c.min, c.evalDay, c.evalMonth, c.offset, c.step), c.due)
        << c.y << "-" << c.m << "-" << c.d << " " << c.h << ":" << c.min << " offset " << c.offset << ", step "
        << c.step;
  // Whatever the step and wherever its stamps lie, a year has exactly one evaluation step.
  for (int minutes : {15, 45, 60, 90, 180, 1440})
    for (int phase : {0, 7}) {
      int due = 0;
      int64_t y = 2003, m = 1, d = 1, t = phase;
      while (y == 2003) {
        t += minutes;
        if (t >= 1440) {
          t -= 1440;
          if (++d > DaysInMonth(y, m)) d = 1, m = m == 12 ? (++y, 1) : m + 1;
        }
        if (y == 2003 && GlacierEvaluationDue(y, m, d, t / 60, t % 60, 30, 9, 0.0, minutes)) ++due;
      }
      EXPECT_EQ(due, 1) << minutes << " minutes, stamps " << phase << " minutes past";
    }
}

// Hourly steps of the inventory basin with the parts of the snow step the update relies on:
// the fractions of the step before are the reference, the glacier cells gather their mass
// balance (mm per hour), and the update runs on the evaluation date (30 September).
struct YearsOfGlacier {
  explicit YearsOfGlacier(InventoryBasin& basin) : b(basin) {}
  void Start(bool build = true) {
    b.KeepOld();
    inv = std::make_unique<GlacierInventory>(b.grids, b.settings, &log.log());
    if (build) inv->Build();
  }
  // Runs the hours up to 0:00 of 1 January of the year given.
  void RunTo(int64_t endYear) {
    while (y < endYear) {
      if (++h == 24) {
        h = 0;
        if (++d > DaysInMonth(y, m)) d = 1, m = m == 12 ? (++y, 1) : m + 1;
      }
      ++step;
      for (int r = 1; r <= InventoryBasin::kSize; ++r)
        for (int c = 1; c <= InventoryBasin::kSize; ++c) {
          b.fractionOld[r][c] = b.fraction[r][c];
          if (b.fraction[r][c] > 0.0) b.mb[r][c] += balance(r, c, step);
        }
      // Snow piling up marks a cell to start or join a glacier.
      for (const auto& mark : marks)
        if (mark[0] == step) {
          b.code[mark[1]][mark[2]] = -1.0;
          b.fraction[mark[1]][mark[2]] = N;
        }
      if (GlacierEvaluationDue(y, m, d, h, 0, 30, 9, 0.0, 60)) {
        inv->AnnualUpdate();
        updateSteps.push_back(step);
      }
    }
  }
  InventoryBasin& b;
  CapturedLog log;
  std::unique_ptr<GlacierInventory> inv;
  std::function<double(int, int, long)> balance = [](int, int, long) { return 0.0; };
  std::vector<std::array<long, 3>> marks;  // step, row, column
  int64_t y = 2001, m = 1, d = 1, h = 0;
  long step = 0;
  std::vector<long> updateSteps;
};

TEST(GlacierEvaluation, AYearOfLossShrinksTheGlacierOnTheEvaluationDate) {
  InventoryBasin b;
  YearsOfGlacier run(b);
  // 1 January 1:00 to 1 October 0:00 are 6552 hours; they lose 8.5 m water equivalent,
  // 10 m of ice over the glacier's 1 km². Nothing is lost after the evaluation.
  run.balance = [](int, int, long step) { return step <= 6552 ? -8500.0 / 6552.0 : 0.0; };
  run.Start();
  run.RunTo(2002);
  ASSERT_EQ(run.updateSteps, std::vector<long>{6552});
  GlacierRecord* g = run.inv->Find(5);
  EXPECT_NEAR(g->volume, 18.5, 1e-9);
  EXPECT_NEAR(g->area, AreaOf(18.5), 1e-9);
  EXPECT_NEAR(b.Area(5.0), AreaOf(18.5), 1e-6);
  EXPECT_EQ(g->oldArea, g->area);
  EXPECT_NE(run.log.console().find("glaciers changed, updating glaicerlist now..."), std::string::npos);
  // The balance of the next year starts from the reference; cells that left keep none.
  int left = 0;
  for (int r = 1; r <= InventoryBasin::kSize; ++r)
    for (int c = 1; c <= InventoryBasin::kSize; ++c) {
      EXPECT_EQ(b.oldMb[r][c], b.mb[r][c]);
      if (!(b.fraction[r][c] > 0.0)) {
        EXPECT_EQ(b.mb[r][c], 0.0);
      }
      if (b.code[r][c] == -9999.0) ++left;
    }
  EXPECT_GT(left, 0);
}

// Two years in one run equal a year, a warm start from the grids and the storage part, and
// the second year: the glacier shrinks at its tongue, grows at its top and gains new cells;
// a small glacier boxed into a corner sub-basin of its own cannot grow to its area.
TEST(GlacierEvaluation, TwoYearsEqualAYearAndAWarmStart) {
  auto balance = [](int r, int c, long step) {
    if (r <= 2 && c >= 19) return 3.0;
    return -1.6 + 0.12 * (15 - r) + 0.01 * c + 0.6 * std::sin(2.0 * M_PI * static_cast<double>(step) / 8760.0);
  };
  const std::vector<std::array<long, 3>> marks = {{1000, 5, 8}, {9500, 2, 2}, {12000, 16, 10}};
  InventoryBasin whole, first;
  for (InventoryBasin* basin : {&whole, &first})
    for (int r = 1; r <= 2; ++r)
      for (int c = 19; c <= 20; ++c) {
        basin->code[r][c] = 7.0;
        basin->fraction[r][c] = 1.0;
        basin->subbasin[r][c] = 2.0;
      }
  YearsOfGlacier a(whole), b(first);
  for (YearsOfGlacier* r : {&a, &b}) {
    r->balance = balance;
    r->marks = marks;
    r->Start();
  }
  a.RunTo(2003);
  b.RunTo(2002);
  ASSERT_EQ(a.updateSteps.size(), 2u);

  // The warm start reads the grids that the first run ended with and its storage part.
  InventoryBasin second;
  for (int r = 1; r <= InventoryBasin::kSize; ++r)
    for (int c = 1; c <= InventoryBasin::kSize; ++c) {
      second.fraction[r][c] = first.fraction[r][c];
      second.code[r][c] = first.code[r][c];
      second.mb[r][c] = first.mb[r][c];
      second.oldMb[r][c] = first.oldMb[r][c];
      second.subbasin[r][c] = first.subbasin[r][c];
    }
  YearsOfGlacier c(second);
  c.balance = balance;
  c.marks = marks;
  c.y = b.y, c.m = b.m, c.d = b.d, c.h = b.h, c.step = b.step;
  c.Start();
  TextCursor state(b.inv->StateText());
  ASSERT_EQ(state.RestOfLine(), "[glacier_inventory]");
  c.inv->RestoreState(state, "state.txt");
  EXPECT_EQ(c.inv->StateText(), b.inv->StateText());
  c.RunTo(2003);

  auto same = [](double x, double y) { return std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), 1.0); };
  MatrixOwner* grids[][2] = {{&whole.fraction, &second.fraction}, {&whole.code, &second.code},
                             {&whole.mb, &second.mb}, {&whole.oldMb, &second.oldMb}};
  for (auto& pair : grids)
    for (int r = 1; r <= InventoryBasin::kSize; ++r)
      for (int col = 1; col <= InventoryBasin::kSize; ++col)
        ASSERT_PRED2(same, (*pair[0])[r][col], (*pair[1])[r][col]) << "row " << r << " col " << col;
  ASSERT_EQ(c.inv->Glaciers().size(), a.inv->Glaciers().size());
  for (size_t p = 0; p < a.inv->Glaciers().size(); ++p) {
    const GlacierRecord& x = *a.inv->Glaciers()[p];
    const GlacierRecord& y = *c.inv->Glaciers()[p];
    EXPECT_EQ(x.code, y.code);
    EXPECT_PRED2(same, x.oldArea, y.oldArea);
    EXPECT_PRED2(same, x.oldVolume, y.oldVolume);
  }
  // The years did change the glacier both ways and made new ones.
  EXPECT_GE(a.inv->Glaciers().size(), 3u);
  // Glacier 7 keeps more ice than its four cells would give.
  EXPECT_GT(a.inv->Find(7)->oldVolume, 2.0 * 28.5 * std::pow(kMinGlacierArea, 1.36));
  EXPECT_NE(a.log.console().find("growing the glacier"), std::string::npos);
  EXPECT_NE(a.log.console().find("shrinking the glacier"), std::string::npos);
}

TEST(GlacierEvaluation, StoredStateIsCheckedBeforeItIsTaken) {
  struct Case {
    const char* what;
    const char* text;
    const char* message;
  } cases[] = {
      {"count unreadable", "x\n", "reading number of glaciers in the part [glacier_inventory] of s.txt: line 1 holds \"x\""},
      {"negative count", "-1\n", "the number is negative"},
      {"code changes", "1\n5\t1\n6\t1\n", "glacier code in the part [glacier_inventory] of s.txt: expected 5, read 6"},
      {"value missing", "1\n5\t1\n5\n", "area of its cells of glacier 5 in the part [glacier_inventory] of s.txt: the file ends at line 3"},
      {"negative volume", "1\n5\t1\n5\t1\n5\t1\n5\t-2\n", "volume of glacier 5 in the part [glacier_inventory] of s.txt: the value is negative"},
      {"twice", "2\n5\t1\n5\t1\n5\t1\n5\t2\n5\t1\n5\t1\n5\t1\n5\t2\n", "glacier 5 appears twice"},
      {"cut short", "2\n5\t1\n5\t1\n5\t1\n5\t2\n", "reading glacier code in the part [glacier_inventory] of s.txt"},
      {"huge count", "999999999\n5\t1\n", "area of its cells of glacier 5 in the part [glacier_inventory] of s.txt"},
      {"sub-basin beyond an int", "1\n5\t1e30\n", "subbasin of glacier 5 in the part [glacier_inventory] of s.txt: the value 1e+30 is not"},
      {"sub-basin not whole", "1\n5\t1.5\n", "subbasin of glacier 5 in the part [glacier_inventory] of s.txt: the value 1.5 is not"},
  };
  InventoryBasin b;
  CapturedLog log;
  GlacierInventory inv(b.grids, b.settings, &log.log());
  inv.Build();
  const double built = inv.Find(5)->oldVolume;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TextCursor f(c.text);
    int code = 0;
    try {
      inv.RestoreState(f, "s.txt");
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 71);
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    EXPECT_EQ(inv.Find(5)->oldVolume, built);  // a part that failed changes nothing
  }

  // Grids that do not belong to the state: glacier 5 keeps what its cells give, glacier 8
  // (cells in the state, none in the grids) is left out, glacier 9 (no cell left when the
  // state was written) keeps its place and its code stays taken.
  TextCursor f("3\n9\t1\n9\t0\n9\t0.0543\n9\t0.6\n5\t1\n5\t0.7\n5\t0.7\n5\t17\n"
               "8\t1\n8\t0.2\n8\t0.2\n8\t3\n");
  inv.RestoreState(f, "s.txt");
  EXPECT_NE(log.console().find("the cells of glacier 5 cover 1 km2 in subbasin 1 of the glacier grids, but 0.7 km2"),
            std::string::npos);
  EXPECT_NE(log.console().find("glacier 8 of the storage file s.txt has no cell"), std::string::npos);
  ASSERT_EQ(inv.Glaciers().size(), 2u);
  EXPECT_EQ(inv.Glaciers()[0]->code, 9);
  EXPECT_EQ(inv.Glaciers()[0]->oldVolume, 0.6);
  EXPECT_EQ(inv.Find(5)->oldVolume, built);
  b.code[1][1] = -1.0;
  b.fraction[1][1] = N;
  inv.RecountGlaciers(-1, false);
  EXPECT_EQ(b.code[1][1], 10.0);
}

}  // namespace
