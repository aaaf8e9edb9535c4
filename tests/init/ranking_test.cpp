// Zone and region ranking.
#include <gtest/gtest.h>

#include "init_harness.h"

namespace {

constexpr double N = -9999.0;

TEST(RankZones, CodesAscendWithAreasFractionsAndRowBounds) {
  InitHarness h;
  h.Domain(4, 3, 1000.0);
  h.Put(1, "[zone_grid]", {{7, 3, N, 5}, {N, N, N, N}, {3, 4.9, 7, N}});
  h.d->RankZones(nullptr);
  const RunValues& v = h.d->run;
  ASSERT_EQ(v.zoneCount, 4);
  EXPECT_EQ(v.maxZoneCode, 7);
  ASSERT_EQ(v.zoneTable.size(), 5u);
  const double codes[] = {3, 4, 5, 7};
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(v.zoneTable[static_cast<size_t>(i)].code, codes[i - 1]);
    EXPECT_EQ(v.zoneCodeMap[static_cast<size_t>(codes[i - 1])], i);
  }
  EXPECT_EQ(v.zoneCodeMap[6], 0);
  EXPECT_EQ(v.zoneTable[1].cellCount, 2);
  EXPECT_DOUBLE_EQ(v.zoneTable[1].fraction, 2.0 / 6.0);
  EXPECT_DOUBLE_EQ(v.zoneTable[0].fraction, 6.0);  // km² of six 1 km cells
  EXPECT_EQ(v.rowBounds[1].first, 1);
  EXPECT_EQ(v.rowBounds[1].last, 4);
  EXPECT_EQ(v.rowBounds[2].first, 0);
  EXPECT_EQ(v.rowBounds[2].last, -1);
  EXPECT_EQ(v.rowBounds[3].last, 3);
  EXPECT_EQ(h.d->rowBounds[3].last, 3);
}

// A float export writes 3 as 2.9999999 or 3.0000001: the code 3 for the ranking and for
// every reader that takes a cell's integer part (the zonal statistics, the region weights).
TEST(RankZones, CodesAFloatExportLeftOffWholeAreTheirCodesInTheGrid) {
  InitHarness h;
  h.Domain(5, 1);
  double** zones = h.Put(1, "[zone_grid]", {{2.9999999, 3.0000001, 4.9, -1e-9, N}});
  h.d->RankZones(nullptr);
  ASSERT_EQ(h.d->run.zoneCount, 3);  // 0, 3 and 4
  EXPECT_EQ(h.d->run.zoneTable[2].code, 3);
  EXPECT_EQ(h.d->run.zoneTable[2].cellCount, 2);
  const double codes[] = {3, 3, 4, 0, N};
  for (int c = 1; c <= 5; ++c) EXPECT_EQ(zones[1][c], codes[c - 1]) << c;

  double** regions = h.Put(3, "regression_regions", {{0.9999999, 2.0000001, 2.5, 1, 7}});
  h.d->RankRegions(3);
  ASSERT_EQ(h.d->run.regionCount, 2);
  EXPECT_EQ(h.d->run.regionCodeMap[1], 1);
  EXPECT_EQ(h.d->run.regionCodeMap[2], 2);
  EXPECT_DOUBLE_EQ(h.d->run.regionTable[2].cellCount, 2);
  const double regionCodes[] = {1, 2, 2, 1};
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(regions[1][c], regionCodes[c - 1]) << c;
}

TEST(RankZones, WeightsAndZoneZero) {
  InitHarness h;
  h.Domain(2, 1);
  h.Put(1, "[zone_grid]", {{0, 0}});
  double** w = h.Put(3, "RelCellArea", {{0.5, 1.5}});
  h.d->RankZones(w);
  EXPECT_EQ(h.d->run.zoneCount, 1);
  EXPECT_DOUBLE_EQ(h.d->run.zoneTable[1].areaSum, 2.0);
  EXPECT_DOUBLE_EQ(h.d->run.zoneTable[1].areaSum2, 2.0);
  EXPECT_DOUBLE_EQ(h.d->run.zoneTable[1].fraction, 1.0);
}

TEST(RankZones, InvalidZonesFail) {
  struct Case {
    Rows zones;
    int code;
    const char* message;
  } cases[] = {
      {{{1, 32768}}, 3, "invalid zone code in"},
      {{{1, -2}}, 3, "codes has to be between 0 and 32767"},
      {{{N, N}}, 7, "are NODATA!"},
  };
  for (const Case& c : cases) {
    InitHarness h;
    h.Domain(2, 1);
    h.Put(1, "[zone_grid]", c.zones);
    EXPECT_EQ(ThrownCode([&] { h.d->RankZones(nullptr); }), c.code);
    EXPECT_NE(h.Console().find(c.message), std::string::npos) << h.Console();
  }
}

TEST(RankZones, MoreThan16000ZonesFail) {
  InitHarness h;
  h.Domain(16001, 1);
  Rows zones(1);
  for (int c = 0; c < 16001; ++c) zones[0].push_back(c);
  h.Put(1, "[zone_grid]", zones);
  EXPECT_EQ(ThrownCode([&] { h.d->RankZones(nullptr); }), 4);
  EXPECT_NE(h.Console().find("too much zones"), std::string::npos);
}

TEST(RankRegions, CentresInCodeOrderAndInvalidCodes) {
  InitHarness h;
  h.Domain(3, 2);
  h.Put(1, "[zone_grid]", {{1, 1, 1}, {1, 1, N}});
  h.Put(3, "regression_regions", {{9, 9, 2}, {9, 2, 5}});
  h.d->RankRegions(3);
  const RunValues& v = h.d->run;
  ASSERT_EQ(v.regionCount, 2);
  EXPECT_EQ(v.regionCodeMap[2], 1);
  EXPECT_EQ(v.regionCodeMap[9], 2);
  EXPECT_DOUBLE_EQ(v.regionTable[1].meanRowD, 1.5);
  EXPECT_DOUBLE_EQ(v.regionTable[1].meanColumnD, 2.5);
  EXPECT_EQ(v.regionTable[1].meanRow, 1);
  EXPECT_EQ(v.regionTable[1].meanColumn, 2);
  EXPECT_DOUBLE_EQ(v.regionTable[2].cellCount, 3);

  InitHarness zero;
  zero.Domain(2, 1);
  zero.Put(1, "[zone_grid]", {{1, 1}});
  zero.Put(3, "regression_regions", {{1, 0}});
  EXPECT_EQ(ThrownCode([&] { zero.d->RankRegions(3); }), 3);
  EXPECT_NE(zero.Console().find("codes has to be between 1 and 32767"), std::string::npos);

  InitHarness many;
  many.Domain(31, 1);
  many.Put(1, "[zone_grid]", many.Filled(1));
  Rows regions(1);
  for (int c = 1; c <= 31; ++c) regions[0].push_back(c);
  many.Put(3, "regression_regions", regions);
  EXPECT_EQ(ThrownCode([&] { many.d->RankRegions(3); }), 4);
}

}  // namespace
