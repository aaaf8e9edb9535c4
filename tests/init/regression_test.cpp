// Regression regions and their weights.
#include <gtest/gtest.h>

#include <cmath>

#include "init/region_weights.h"
#include "init_harness.h"

namespace {

constexpr double N = -9999.0;

struct Regions {
  InitHarness h;
  int code = -1;
  // zones and optional region grid; the transition distance in metres (cells of 100 m).
  Regions(const Rows& zones, const Rows& regions, const std::string& distance) {
    h.Domain(static_cast<int>(zones[0].size()), static_cast<int>(zones.size()));
    h.Put(1, "[zone_grid]", zones, h.dir.file("zones.asc"));
    h.d->RankZones(nullptr);
    if (!regions.empty()) h.Put(2, "regression_regions", regions, h.dir.file("regions.asc"));
    h.d->controlFileName = h.dir.file("c.ctl");
    WriteTextFile(h.d->controlFileName, "[region_transition_distance]\n" + distance + "\n");
    code = ThrownCode([&] { h.d->MakeRegionWeightGrids(); });
  }
  double** grid(const char* name) const {
    const int p = h.d->FindGrid(name);
    return p > 0 ? h.d->GridData(p) : nullptr;
  }
};

TEST(RegionWeights, WithoutRegionGridTheBasinIsOneRegion) {
  Regions s({{N, 1, 1}, {1, 1, 1}}, {}, "0");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_EQ(s.h.d->run.regionCount, 1);
  EXPECT_DOUBLE_EQ(s.h.d->transitionDistance, 0.01);
  double** w1 = s.grid("regression_weights1");
  ASSERT_TRUE(w1);
  EXPECT_EQ(w1[1][1], N);
  EXPECT_DOUBLE_EQ(w1[2][3], 1.0);
  EXPECT_FALSE(s.grid("regression_regions2"));
  EXPECT_FALSE(s.grid("regression_weights2"));
  EXPECT_EQ(s.h.registry[s.h.d->FindGrid("regression_regions")].fileName, "zones.intern.r1");
  EXPECT_EQ(s.h.registry[s.h.d->FindGrid("regression_weights1")].fileName, "zones.intern.intern.w1");
}

TEST(RegionWeights, TwoRegionsBlendNearTheirBorder) {
  // Region 1 in columns 1..2, region 2 in columns 3..8; D = 3 cells.
  Rows zones(1, Rows::value_type(8, 1));
  Rows regions{{1, 1, 2, 2, 2, 2, 2, 2}};
  Regions s(zones, regions, "300");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  double** w1 = s.grid("regression_weights1");
  double** r2 = s.grid("regression_regions2");
  double** w2 = s.grid("regression_weights2");
  ASSERT_TRUE(w1 && r2 && w2);
  EXPECT_EQ(s.h.registry[s.h.d->FindGrid("regression_weights2")].fileName, "regions.intern.w2");
  EXPECT_DOUBLE_EQ(w1[1][2], 1.0 / 6.0 + 0.5);
  EXPECT_DOUBLE_EQ(w2[1][2], 1.0 - (1.0 / 6.0 + 0.5));
  EXPECT_EQ(r2[1][2], 2);
  EXPECT_DOUBLE_EQ(w1[1][4], 2.0 / 6.0 + 0.5);
  // Column 8 has no cell of region 1 within 3 cells.
  EXPECT_DOUBLE_EQ(w1[1][8], 1.0);
  EXPECT_DOUBLE_EQ(w2[1][8], 0.0);
  EXPECT_EQ(r2[1][8], 0);
}

TEST(RegionWeights, ThreeRegionsSumToOne) {
  Rows zones(5, Rows::value_type(5, 1));
  Rows regions{{1, 1, 2, 2, 2}, {1, 1, 2, 2, 2}, {1, 1, 3, 3, 3}, {3, 3, 3, 3, 3}, {3, 3, 3, 3, 3}};
  Regions s(zones, regions, "250");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  double** w[4] = {nullptr, s.grid("regression_weights1"), s.grid("regression_weights2"),
                   s.grid("regression_weights3")};
  ASSERT_TRUE(w[1] && w[2] && w[3]);
  bool blended = false;
  for (int r = 1; r <= 5; ++r) {
    for (int c = 1; c <= 5; ++c) {
      EXPECT_NEAR(w[1][r][c] + w[2][r][c] + w[3][r][c], 1.0, 1e-12) << r << "," << c;
      for (int k = 1; k <= 3; ++k) EXPECT_GE(w[k][r][c], 0.0);
      if (w[3][r][c] > 0) blended = true;
    }
  }
  EXPECT_TRUE(blended);
}

TEST(RegionWeights, BlendFunctions) {
  EXPECT_DOUBLE_EQ(OwnRegionWeight(0, 3), 0.5);
  EXPECT_DOUBLE_EQ(OwnRegionWeight(3, 3), 1.0);
  EXPECT_DOUBLE_EQ(OwnRegionWeight(9, 3), 1.0);
  for (double a : {0.0, 0.5, 1.0, 2.5, 7.0})
    for (double b : {0.0, 1.0, 1.4, 3.0}) {
      ThreeRegionWeights t = ThreeRegionBlend(a, b, 3.0);
      EXPECT_NEAR(t.w1 + t.w2 + t.w3, 1.0, 1e-12);
      EXPECT_TRUE(std::isfinite(t.w1) && std::isfinite(t.w2) && std::isfinite(t.w3));
    }
}

TEST(RegionWeights, MissingSectionOrFileFails) {
  Rows zones(1, Rows::value_type(2, 1));
  {
    InitHarness h;
    h.Domain(2, 1);
    h.Put(1, "[zone_grid]", zones);
    h.d->controlFileName = h.dir.file("c.ctl");
    WriteTextFile(h.d->controlFileName, "[other]\n1\n");
    EXPECT_EQ(ThrownCode([&] { h.d->MakeRegionWeightGrids(); }), 17);
    h.d->controlFileName = h.dir.file("none.ctl");
    EXPECT_EQ(ThrownCode([&] { h.d->MakeRegionWeightGrids(); }), 28);
  }
}

}  // namespace
