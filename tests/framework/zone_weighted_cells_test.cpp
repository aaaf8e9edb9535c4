// Zone statistics with a weight per cell (AddWeightedCells): the sums of cell-by-cell
// AddCellValue calls up to rounding, and the same bits for every thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <random>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/zonalstatistic.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

std::vector<double> Sums(const std::vector<ZoneTableEntry>& zones) {
  std::vector<double> s;
  for (size_t z = 1; z < zones.size(); ++z)
    for (double v : {zones[z].areaSum, ValueSum(zones[z]), WeightedAreaSum(zones[z])}) s.push_back(v);
  return s;
}

}  // namespace

TEST(ZoneWeightedCells, PerCellWeightsSumLikeSingleCells) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int rows = 90, cols = 70;
  MatrixOwner zone(rows, cols), value(rows, cols), share(rows, cols), area(rows, cols);
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      zone[r][c] = u(gen) < 0.05 ? -9999.0 : 1 + (r / 10 + c / 9) % 3;
      value[r][c] = 10 * u(gen);
      share[r][c] = u(gen) < 0.5 ? 0.0 : u(gen);
      area[r][c] = 0.5 + u(gen);
    }
  int codeMap[4] = {0, 1, 2, 3};
  ZoneCells cells;
  cells.zone = zone.get();
  cells.codeMap = codeMap;
  cells.maxCode = 3;
  cells.firstRow = 1;
  cells.lastRow = rows;
  cells.ncols = cols;
  CapturedLog log;
  TempDir dir;
  auto run = [&](int threads, bool singleCells) {
    std::vector<ZoneTableEntry> zones(4);
    for (int z = 1; z <= 3; ++z) zones[static_cast<size_t>(z)].code = z;
    int error = 0;
    zonalstatistic w(&error, &log.log(), nullptr, 0, area.get(), rows, cols, zones.data(), 3, 2001, 3,
                     dir.file("s.txt"), nullptr, 0, nullptr, false);
    w.ClearZoneSums();
    omp_set_num_threads(threads);
    if (singleCells) {
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
          const int zi = cells.ZoneIndex(r, c);
          if (zi > 0) w.AddCellValue(r, c, zi, value[r][c], 1.0 - share[r][c]);
        }
    } else {
      w.AddWeightedCells(
          cells, [&](int r, int c) { return value[r][c]; }, [&](int r, int c) { return 1.0 - share[r][c]; });
    }
    omp_set_num_threads(2);
    return Sums(zones);
  };
  const std::vector<double> single = run(1, true), one = run(1, false);
  ASSERT_EQ(single.size(), one.size());
  for (size_t i = 0; i < one.size(); ++i) EXPECT_NEAR(single[i], one[i], 1e-9 * (1 + std::fabs(single[i])));
  EXPECT_EQ(one, run(8, false));
  EXPECT_EQ(one, run(3, false));
}
