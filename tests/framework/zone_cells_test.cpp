// Zone statistics added in parallel (AddCells / AddGrid): which cells count, and sums
// that equal the cell-by-cell sums up to rounding and have the same bits for every
// thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/zonalstatistic.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

constexpr int kZones = 40;

// A writer of every zone's mean (mode 2, period 1) over kZones zones with codes 10..10+Z-1.
struct ParallelWriter {
  CapturedLog log;
  TempDir dir;
  std::vector<ZoneTableEntry> zones = std::vector<ZoneTableEntry>(kZones + 1);
  std::vector<StatisticsTableEntry> table = std::vector<StatisticsTableEntry>(4);
  int error = -1;
  std::unique_ptr<zonalstatistic> w;

  explicit ParallelWriter(double** weights = nullptr, int rows = 0, int cols = 0) {
    for (int z = 1; z <= kZones; ++z) {
      zones[z].code = 10 + z - 1;
      zones[z].fraction = 1.0 / kZones;
    }
    const std::string outDir = dir.path() + "/";
    w = std::make_unique<zonalstatistic>(&error, &log.log(), table.data(), 3, weights, rows, cols, zones.data(),
                                         kZones, 2001, 3, "stat.txt", outDir.c_str(), 0, nullptr, false);
  }
  // The zone sums after the step's values went in.
  std::vector<double> Sums() const {
    std::vector<double> s;
    for (int z = 1; z <= kZones; ++z) {
      s.push_back(zones[z].areaSum);
      s.push_back(ValueSum(zones[z]));
      s.push_back(WeightedAreaSum(zones[z]));
    }
    return s;
  }
};

// A basin of rows x cols cells with zone codes 10..49, some outside (nodata), some with
// codes of no zone, active columns narrower than the grid, and a weight grid.
struct Basin {
  int rows, cols;
  MatrixOwner zone, values, weights, regions;
  std::vector<int> codeMap;
  std::vector<RowBounds> bounds;

  Basin(int r, int c, unsigned seed) : rows(r), cols(c), zone(r, c), values(r, c), weights(r, c), regions(r, c) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    codeMap.assign(60, 0);
    for (int z = 1; z <= kZones; ++z) codeMap[static_cast<size_t>(10 + z - 1)] = z;
    bounds.assign(static_cast<size_t>(rows) + 1, RowBounds{});
    for (int i = 1; i <= rows; ++i) {
      bounds[static_cast<size_t>(i)] = RowBounds{1 + i % 3, cols - i % 5};
      for (int j = 1; j <= cols; ++j) {
        const double p = u(gen);
        // Zones in bands so that a block holds several zones, with scattered exceptions.
        zone[i][j] = p < 0.05 ? -9999.0 : p < 0.07 ? 55.0 : 10 + (i / 7 + j / 11) % kZones;
        values[i][j] = 1e3 * (u(gen) - 0.3) * std::pow(10.0, 4.0 * u(gen) - 2.0);
        weights[i][j] = p > 0.9 ? -9999.0 : 0.5 + u(gen);
        regions[i][j] = p > 0.5 && p < 0.52 ? 1.0 : 0.0;
      }
    }
  }
  // Every cell in zone code 10, of instance 0, with the given value; all columns active.
  void Uniform(double value) {
    for (int r = 1; r <= rows; ++r) {
      bounds[static_cast<size_t>(r)] = RowBounds{1, cols};
      for (int c = 1; c <= cols; ++c) {
        zone[r][c] = 10.0;
        regions[r][c] = 0.0;
        values[r][c] = value;
      }
    }
  }
  ZoneCells Cells() {
    ZoneCells c;
    c.zone = zone.get();
    c.codeMap = codeMap.data();
    c.maxCode = static_cast<int>(codeMap.size()) - 1;
    c.firstRow = 1;
    c.lastRow = rows;
    c.ncols = cols;
    c.rowBounds = &bounds;
    c.regions = regions.get();
    c.instance = 0;
    return c;
  }
};

}  // namespace

TEST(ZoneCells, ParallelSumsEqualCellByCellSumsAndHaveTheSameBitsForEveryThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  Basin basin(203, 157, 7u);
  const ZoneCells cells = basin.Cells();

  // Reference: every counting cell added one by one.
  ParallelWriter reference(basin.weights.get(), basin.rows, basin.cols);
  ASSERT_EQ(reference.error, 0);
  reference.w->ClearZoneSums();
  long counted = 0;
  for (int r = 1; r <= basin.rows; ++r) {
    int first, last;
    cells.Columns(r, first, last);
    for (int c = first; c <= last; ++c)
      if (const int z = cells.ZoneIndex(r, c)) {
        reference.w->AddCellValue(r, c, z, basin.values[r][c], 0.75);
        ++counted;
      }
  }
  ASSERT_GT(counted, basin.rows * basin.cols / 2);
  const std::vector<double> expected = reference.Sums();

  const int saved = omp_get_max_threads();
  std::vector<double> first;
  for (int threads : {1, 2, 3, 8}) {
    omp_set_num_threads(threads);
    ParallelWriter p(basin.weights.get(), basin.rows, basin.cols);
    p.w->ClearZoneSums();
    p.w->AddGrid(cells, basin.values.get(), 0.75);
    const std::vector<double> got = p.Sums();
    for (size_t k = 0; k < got.size(); ++k)
      EXPECT_NEAR(got[k], expected[k], 1e-11 * (std::fabs(expected[k]) + 1.0)) << "sum " << k;
    if (first.empty())
      first = got;
    else
      EXPECT_EQ(std::memcmp(first.data(), got.data(), got.size() * sizeof(double)), 0) << threads << " threads";
    // A second step starts again from cleared sums: the block sums were emptied.
    p.w->ClearZoneSums();
    p.w->AddCells(cells, [&](int r, int c) { return basin.values[r][c]; }, 0.75);
    EXPECT_EQ(std::memcmp(first.data(), p.Sums().data(), got.size() * sizeof(double)), 0);
  }
  omp_set_num_threads(saved);
}

TEST(ZoneCells, OnlyCellsInsideTheBasinOfAZoneInTheirRowsAndOfThisInstanceCount) {
  // One 3 x 4 grid; each case changes one cell (row 2, column 2) and expects it counted
  // or not.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    double zone;
    double region;
    RowBounds row2;
    bool counted;
  };
  const Case cases[] = {
      {"a zone code", 11.0, 0.0, {1, 4}, true},
      {"the zone grid's nodata", -9999.0, 0.0, {1, 4}, false},
      {"below nodata", -10000.0, 0.0, {1, 4}, false},
      {"NaN", nan, 0.0, {1, 4}, false},
      {"a code of no zone", 55.0, 0.0, {1, 4}, false},
      {"a code beyond the code map", 1e12, 0.0, {1, 4}, false},
      {"a negative code", -3.0, 0.0, {1, 4}, false},
      {"another instance's cell", 11.0, 1.0, {1, 4}, false},
      {"left of the active columns", 11.0, 0.0, {3, 4}, false},
      {"a row without active columns", 11.0, 0.0, {0, -1}, false},
      {"active columns wider than the grid", 11.0, 0.0, {-5, 40}, true},
  };
  for (const Case& k : cases) {
    Basin basin(3, 4, 1u);
    basin.Uniform(1.0);
    basin.zone[2][2] = k.zone;
    basin.regions[2][2] = k.region;
    basin.values[2][2] = 1000.0;
    basin.bounds[2] = k.row2;
    ParallelWriter p;
    p.w->ClearZoneSums();
    p.w->AddGrid(basin.Cells(), basin.values.get());
    const double other = ValueSum(p.zones[1]);
    const double marked = ValueSum(p.zones[2]);
    EXPECT_EQ(marked, k.counted ? 1000.0 : 0.0) << k.what;
    const bool rowCounts = k.row2.last >= 1;
    EXPECT_EQ(other, rowCounts ? (k.row2.first > 1 ? 10.0 : 11.0) : 8.0) << k.what;
  }
}

TEST(ZoneCells, RowsTheValueGridDoesNotHoldAndInactiveWritersAddNothing) {
  Basin basin(4, 4, 2u);
  basin.Uniform(2.0);
  std::vector<double*> rows(5);
  for (int r = 0; r <= 4; ++r) rows[static_cast<size_t>(r)] = basin.values[r];
  rows[3] = nullptr;
  ParallelWriter p;
  p.w->ClearZoneSums();
  p.w->AddGrid(basin.Cells(), rows.data());
  EXPECT_EQ(ValueSum(p.zones[1]), 24.0);
  EXPECT_EQ(p.zones[1].areaSum, 12.0);
  p.w->AddGrid(basin.Cells(), nullptr);  // no grid at all
  EXPECT_EQ(p.zones[1].areaSum, 12.0);

  p.w->Release();  // inactive from here on
  p.w->AddGrid(basin.Cells(), basin.values.get());
  EXPECT_EQ(p.zones[1].areaSum, 12.0);
}

// A cell of the basin whose value is missing (the model's nodata or NaN) is a hole in the
// grid: it adds neither value nor area, so the zone's mean is that of the cells with values.
TEST(ZoneCells, MissingValuesInsideTheBasinAreLeftOut) {
  for (double missing : {-9999.0, std::numeric_limits<double>::quiet_NaN()}) {
    Basin basin(3, 4, 3u);
    basin.Uniform(2.0);
    basin.values[2][3] = missing;
    ParallelWriter p;
    p.w->ClearZoneSums();
    p.w->AddGrid(basin.Cells(), basin.values.get());
    EXPECT_EQ(p.zones[1].areaSum, 11.0) << missing;
    EXPECT_EQ(ValueSum(p.zones[1]), 22.0) << missing;
    EXPECT_EQ(ValueSum(p.zones[1]) / WeightedAreaSum(p.zones[1]), 2.0);
  }
}
