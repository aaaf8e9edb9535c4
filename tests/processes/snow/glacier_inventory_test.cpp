// The glacier inventory: the list built from the grids, the bands and their sweeps, new
// glacier cells, the lost-area mass balance and the annual volume-area update.
#include <gtest/gtest.h>

#include <cmath>

#include "framework/logstream.h"
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

}  // namespace
