#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/zone_ranking.h"
#include "support/test_support.h"

namespace {

// A grid of one row holding the given values.
struct RowGrid {
  explicit RowGrid(const std::vector<double>& values) : m(1, static_cast<int64_t>(values.size())) {
    for (size_t c = 0; c < values.size(); ++c) m[1][c + 1] = values[c];
    view.grid = m.get();
    view.nrows = 1;
    view.ncols = static_cast<int>(values.size());
    view.cellsize = 100.0;
  }
  MatrixOwner m;
  ZoneGridView view;
};

int Throws(const ZoneGridView& v, LogStream* log = nullptr) {
  try {
    RankZoneGrid(v, log, "zones.asc", "soil_model");
  } catch (int code) {
    return code;
  }
  return 0;
}

}  // namespace

TEST(ZoneRanking, CodesInAscendingOrderWithAreas) {
  RowGrid g({12, 3, -9999, 7, 3, 12, 12});
  ZoneRanking z = RankZoneGrid(g.view, nullptr, "zones.asc", "soil_model");
  ASSERT_EQ(z.zoneCount, 3);
  EXPECT_EQ(z.largestCode, 12);
  ASSERT_EQ(z.table.size(), 4u);
  ASSERT_EQ(z.codeMap.size(), 13u);
  EXPECT_EQ(z.codeMap[3], 1);
  EXPECT_EQ(z.codeMap[7], 2);
  EXPECT_EQ(z.codeMap[12], 3);
  EXPECT_EQ(z.codeMap[5], 0);
  EXPECT_EQ(z.table[1].code, 3);
  EXPECT_EQ(z.table[3].code, 12);
  EXPECT_EQ(z.table[1].cellCount, 2);
  EXPECT_EQ(z.table[3].cellCount, 3);
  EXPECT_EQ(z.table[3].areaSum2, 3);
  EXPECT_DOUBLE_EQ(z.table[1].fraction + z.table[2].fraction + z.table[3].fraction, 1.0);
  EXPECT_DOUBLE_EQ(z.table[3].fraction, 0.5);
  EXPECT_EQ(z.table[0].code, 1.0);
  EXPECT_DOUBLE_EQ(z.table[0].fraction, 6 * 100.0 * 100.0 / 1e6);  // km²
}

TEST(ZoneRanking, CodesAFloatExportLeftOffWholeAreTheirCodesAndFractionsAreRefused) {
  const float belowFive = std::nextafter(5.0f, 0.0f);  // a single-precision grid's 4.9999995
  RowGrid g({4.9999999, 5.0, 3.0000001, belowFive, -1e-9, 2.9999999});
  ZoneRanking z = RankZoneGrid(g.view, nullptr, "zones.asc", "soil_model");
  ASSERT_EQ(z.zoneCount, 3);  // codes 0, 3 and 5
  EXPECT_EQ(z.table[1].code, 0);
  EXPECT_EQ(z.table[2].code, 3);
  EXPECT_EQ(z.table[3].code, 5);
  EXPECT_EQ(z.table[2].cellCount, 2);
  EXPECT_EQ(z.table[3].cellCount, 3);
  // The grid holds the codes, for the readers that take a cell's integer part.
  const double codes[] = {5, 5, 3, 5, 0, 3};
  for (int c = 1; c <= 6; ++c) EXPECT_EQ(g.m[1][c], codes[c - 1]) << c;

  // 2.6 is sub-basin 2 by its integer part and 3 rounded: no code.
  CapturedLog log;
  RowGrid fraction({3, 2.6, -9999, 4.5});
  EXPECT_EQ(Throws(fraction.view, &log.log()), 3);
  EXPECT_NE(log.console().find("the sub-basin grid \"zonegrid_soilmodel\" (zones.asc) holds 2.6 at row 1, column 2 "
                               "(centre x 150, y 50), and 1 more cell holds no whole number"),
            std::string::npos)
      << log.console();
  EXPECT_NE(log.console().find("Write the sub-basin codes of zones.asc as whole numbers"), std::string::npos);
}

TEST(ZoneRanking, WeightedAreasAreSummedInDouble) {
  RowGrid g({1, 1, 2});
  MatrixOwner w(1, 3);
  w[1][1] = 0.5;
  w[1][2] = 0.7;
  w[1][3] = 1.2;
  g.view.weights = w.get();
  ZoneRanking z = RankZoneGrid(g.view, nullptr, "zones.asc", "soil_model");
  EXPECT_DOUBLE_EQ(z.table[1].fraction, 0.5);
  EXPECT_DOUBLE_EQ(z.table[2].fraction, 0.5);
  EXPECT_DOUBLE_EQ(z.table[0].fraction, 2.4 * 100 * 100 / 1e6);
  // a small basin whose weights add up to less than one cell is still a basin
  w[1][1] = w[1][2] = w[1][3] = 0.1;
  z = RankZoneGrid(g.view, nullptr, "zones.asc", "soil_model");
  EXPECT_NEAR(z.table[1].fraction, 2.0 / 3.0, 1e-12);
}

TEST(ZoneRanking, RowBoundsLimitTheColumns) {
  MatrixOwner m(2, 3);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) m[r][c] = 9;
  m[2][1] = 99999;  // outside the bounds: never looked at
  std::vector<RowBounds> bounds(3);
  bounds[1] = {1, 3};
  bounds[2] = {2, 3};
  ZoneGridView v;
  v.grid = m.get();
  v.nrows = 2;
  v.ncols = 3;
  v.rowBounds = &bounds;
  v.cellsize = 1;
  ZoneRanking z = RankZoneGrid(v, nullptr, "z", "snow_model");
  EXPECT_EQ(z.zoneCount, 1);
  EXPECT_EQ(z.table[1].cellCount, 5);
  bounds[2] = {1, 0};  // a row without basin cells
  z = RankZoneGrid(v, nullptr, "z", "snow_model");
  EXPECT_EQ(z.table[1].cellCount, 3);
}

TEST(ZoneRanking, Failures) {
  CapturedLog log;
  EXPECT_EQ(Throws(RowGrid({32767, 1}).view), 0);  // the largest code is accepted
  EXPECT_EQ(Throws(RowGrid({32768}).view, &log.log()), 3);
  EXPECT_NE(log.console().find("wrong zone index in zones.asc"), std::string::npos);
  EXPECT_EQ(Throws(RowGrid({-0.6}).view), 3);
  EXPECT_EQ(Throws(RowGrid({-5}).view), 3);
  EXPECT_EQ(Throws(RowGrid({std::nan("")}).view), 3);
  EXPECT_EQ(Throws(RowGrid({-9999, -9999}).view, &log.log()), 7);
  EXPECT_NE(log.console().find("all cells in zones.asc are NODATA!"), std::string::npos);
  RowGrid zeroWeight({1});
  MatrixOwner w(1, 1);
  zeroWeight.view.weights = w.get();
  EXPECT_EQ(Throws(zeroWeight.view), 7);

  std::vector<double> many;
  for (int k = 0; k <= kMaxSubbasins; ++k) many.push_back(k);  // 10001 codes
  EXPECT_EQ(Throws(RowGrid(many).view, &log.log()), 4);
  EXPECT_NE(log.console().find("too much subbasins (10001) in soil_model (max. 10000). Ende!"), std::string::npos);
  many.clear();
  for (int k = 0; k <= kMaxZonesWhileRanking; ++k) many.push_back(k);  // 16001 codes
  EXPECT_EQ(Throws(RowGrid(many).view, &log.log()), 4);
  EXPECT_NE(log.console().find("too much zones in zones.asc, (max. 16000!)"), std::string::npos);
}
