// Zone sums of several writers added while a cell loop runs: they equal what each writer
// sums by itself (AddCells, AddWeightedCells, AddCellValue) up to rounding, have the same
// bits for every thread count, and never carry over into the next step.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/zone_sums.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

constexpr int kZones = 12, kRows = 150, kCols = 41;

// Random zones (codes 10..21, some outside, some of no zone), row bounds narrower than the
// grid, a second instance's cells, weights with holes, values with no-data and NaN.
struct Basin {
  MatrixOwner zone{kRows, kCols}, weights{kRows, kCols}, regions{kRows, kCols}, a{kRows, kCols}, g{kRows, kCols};
  std::vector<int> codeMap = std::vector<int>(30, 0);
  std::vector<RowBounds> bounds = std::vector<RowBounds>(kRows + 1);

  Basin() {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int z = 1; z <= kZones; ++z) codeMap[static_cast<size_t>(9 + z)] = z;
    for (int r = 1; r <= kRows; ++r) {
      bounds[static_cast<size_t>(r)] = RowBounds{1 + r % 3, kCols - r % 4};
      for (int c = 1; c <= kCols; ++c) {
        const double p = u(gen);
        zone[r][c] = p < 0.05 ? -9999.0 : p < 0.07 ? 25.0 : 10 + (r / 9 + c / 13) % kZones;
        weights[r][c] = p > 0.9 ? -9999.0 : 0.5 + u(gen);
        regions[r][c] = p > 0.5 && p < 0.53 ? 1.0 : 0.0;
        a[r][c] = p > 0.45 && p < 0.47 ? -9999.0 : p > 0.47 && p < 0.48 ? std::nan("") : 100.0 * (u(gen) - 0.4);
        g[r][c] = p < 0.3 ? u(gen) : 0.0;
      }
    }
  }
  ZoneCells Cells() {
    ZoneCells c;
    c.zone = zone.get();
    c.codeMap = codeMap.data();
    c.maxCode = static_cast<int>(codeMap.size()) - 1;
    c.firstRow = 3;  // the loop runs over more rows than count
    c.lastRow = kRows - 2;
    c.ncols = kCols;
    c.rowBounds = &bounds;
    c.regions = regions.get();
    return c;
  }
};

struct Writer {
  CapturedLog log;
  TempDir dir;
  std::vector<ZoneTableEntry> zones = std::vector<ZoneTableEntry>(kZones + 1);
  std::unique_ptr<zonalstatistic> w;
  explicit Writer(double** weights) {
    for (int z = 1; z <= kZones; ++z) zones[static_cast<size_t>(z)].code = 9 + z;
    int error = -1;
    const std::string out = dir.path() + "/";
    w = std::make_unique<zonalstatistic>(&error, &log.log(), nullptr, 0, weights, kRows, kCols, zones.data(), kZones,
                                         2001, 3, "s.txt", out.c_str(), 0, nullptr, false);
    EXPECT_EQ(error, 0);
    w->ClearZoneSums();
  }
  std::vector<double> Sums() const {
    std::vector<double> s;
    for (int z = 1; z <= kZones; ++z)
      for (double v : {zones[static_cast<size_t>(z)].areaSum, ValueSum(zones[static_cast<size_t>(z)]),
                       WeightedAreaSum(zones[static_cast<size_t>(z)])})
        s.push_back(v);
    return s;
  }
};

// The three writers summed by the loop: a value without no-data, a value split by a share
// into (1 - g) and g parts, and a value weighted per cell.
void AddCell(const Basin& b, int r, int c, const ZoneSums::Cell& cell) {
  cell.AddValue(0, b.a[r][c]);
  const double v = std::isfinite(b.a[r][c]) ? b.a[r][c] : 0.0;
  cell.Add(1, v, 1.0 - b.g[r][c]);
  cell.Add(1, 0.0, b.g[r][c]);
  cell.AddValue(2, 2.0 * b.a[r][c], 1.0 - b.g[r][c]);
}

std::vector<double> Loop(Basin& b, ZoneSums& sums, bool rowsAsTheyGo) {
  Writer w0(b.weights.get()), w1(b.weights.get()), w2(b.weights.get());
  ZoneTableEntry* tables[] = {w0.zones.data(), w1.zones.data(), w2.zones.data()};
  sums.Prepare(b.Cells(), b.weights.get(), kRows, kCols, 3, kZones, 1, kRows);
#pragma omp parallel for schedule(runtime)
  for (int k = 0; k < sums.Blocks(); ++k)
    for (int r = sums.FirstRow(k); r <= sums.LastRow(k); ++r) {
      if (rowsAsTheyGo) {
        ZoneSums::Row row = sums.RowOf(k, r);
        for (int c = 0; c <= kCols; ++c) AddCell(b, r, c, row.At(c));  // column 0 counts nowhere
      } else {
        sums.AddRow(k, r, [&](int c, const ZoneSums::Cell& cell) { AddCell(b, r, c, cell); });
      }
    }
  sums.Fold(tables);
  std::vector<double> all;
  for (const Writer* w : {&w0, &w1, &w2}) {
    const std::vector<double> s = w->Sums();
    all.insert(all.end(), s.begin(), s.end());
  }
  return all;
}

// One writer's sums of the value grid over the given cells, added a row at a time
// (AddRow) or cell by cell (RowOf(...).At).
std::vector<double> OneWriter(Basin& b, ZoneSums& sums, const ZoneCells& cells, bool byRows) {
  Writer w(b.weights.get());
  ZoneTableEntry* tables[] = {w.zones.data()};
  sums.Prepare(cells, b.weights.get(), kRows, kCols, 1, kZones, 1, kRows, tables);
  for (int k = 0; k < sums.Blocks(); ++k)
    for (int r = sums.FirstRow(k); r <= sums.LastRow(k); ++r) {
      ZoneSums::Row row = sums.RowOf(k, r);
      if (byRows)
        sums.AddRow(k, r, [&](int c, const ZoneSums::Cell& cell) { cell.AddValue(0, b.a[r][c]); });
      else
        for (int c = 0; c <= kCols; ++c) row.At(c).AddValue(0, b.a[r][c]);
    }
  sums.Fold(tables);
  return w.Sums();
}

}  // namespace

TEST(ZoneSums, EqualEachWritersOwnSumsForEveryThreadCountAndStepAfterStep) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  Basin b;
  const ZoneCells cells = b.Cells();
  // Reference: each writer sums by itself.
  Writer r0(b.weights.get()), r1(b.weights.get()), r2(b.weights.get());
  r0.w->AddCells(cells, [&](int r, int c) { return b.a[r][c]; });
  for (int r = 1; r <= kRows; ++r) {
    int first, last;
    cells.Columns(r, first, last);
    for (int c = first; c <= last; ++c)
      if (const int z = cells.ZoneIndex(r, c); z > 0 && r >= cells.firstRow && r <= cells.lastRow) {
        const double v = std::isfinite(b.a[r][c]) ? b.a[r][c] : 0.0;
        r1.w->AddCellValue(r, c, z, v, 1.0 - b.g[r][c]);
        r1.w->AddCellValue(r, c, z, 0.0, b.g[r][c]);
      }
  }
  r2.w->AddWeightedCells(cells, [&](int r, int c) { return 2.0 * b.a[r][c]; },
                         [&](int r, int c) { return 1.0 - b.g[r][c]; });
  std::vector<double> expected;
  for (const Writer* w : {&r0, &r1, &r2}) {
    const std::vector<double> s = w->Sums();
    expected.insert(expected.end(), s.begin(), s.end());
  }

  const int saved = omp_get_max_threads();
  ZoneSums sums;
  std::vector<double> first;
  for (int threads : {1, 2, 3, 8})
    for (bool rowsAsTheyGo : {false, true}) {
      omp_set_num_threads(threads);
      const std::vector<double> got = Loop(b, sums, rowsAsTheyGo);  // the same sums object, step after step
      ASSERT_EQ(got.size(), expected.size());
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], expected[i], 1e-11 * (1.0 + std::fabs(expected[i]))) << i;
      if (first.empty()) first = got;
      EXPECT_EQ(got, first) << threads << " threads";
    }
  omp_set_num_threads(saved);
  EXPECT_GT(expected[1], 0.0);

  // Writers left out at Prepare (a null table) are not summed; the others keep their sums.
  {
    Writer w0(b.weights.get()), w2(b.weights.get());
    ZoneTableEntry* tables[] = {w0.zones.data(), nullptr, w2.zones.data()};
    sums.Prepare(b.Cells(), b.weights.get(), kRows, kCols, 3, kZones, 1, kRows, tables);
    for (int k = 0; k < sums.Blocks(); ++k)
      for (int r = sums.FirstRow(k); r <= sums.LastRow(k); ++r)
        sums.AddRow(k, r, [&](int c, const ZoneSums::Cell& cell) { AddCell(b, r, c, cell); });
    ZoneTableEntry* all[] = {w0.zones.data(), w0.zones.data(), w2.zones.data()};  // writer 1 would add twice
    sums.Fold(all);
    std::vector<double> kept = w0.Sums();
    const std::vector<double> s2 = w2.Sums();
    kept.insert(kept.end(), s2.begin(), s2.end());
    std::vector<double> expectedKept(first.begin(), first.begin() + kZones * 3);
    expectedKept.insert(expectedKept.end(), first.begin() + 2 * kZones * 3, first.end());
    EXPECT_EQ(kept, expectedKept);
    // With no table at all, no cell counts.
    ZoneTableEntry* none[] = {nullptr, nullptr, nullptr};
    sums.Prepare(b.Cells(), b.weights.get(), kRows, kCols, 3, kZones, 1, kRows, none);
    EXPECT_FALSE(sums.RowOf(0, 10).At(5).Counts());
  }

  // Other cells (the other instance's, fewer rows) given to the same sums: their counting
  // cells are found anew, and adding a row at a time still equals adding cell by cell.
  {
    ZoneCells other = b.Cells();
    other.instance = 1;
    other.lastRow = kRows / 2;
    const std::vector<double> byRow = OneWriter(b, sums, other, true), byCell = OneWriter(b, sums, other, false);
    EXPECT_EQ(byRow, byCell);
    EXPECT_GT(byRow[0] + byRow[3], 0.0);  // the other instance has cells in zone 1 or 2
  }

  // A step given up before its fold leaves nothing behind for the next one.
  sums.Prepare(b.Cells(), b.weights.get(), kRows, kCols, 3, kZones, 1, kRows);
  sums.AddRow(1, 5, [](int, const ZoneSums::Cell& cell) { cell.Add(0, 1e6); });
  EXPECT_EQ(Loop(b, sums, false), first);
}

TEST(ZoneSums, FollowAZoneGridRewrittenInPlaceDuringTheRun) {
  // A periodic zone grid read again, or data assimilation, rewrites the grid's values and
  // keeps its matrix: the counting cells found once for the run are found again.
  Basin b;
  ZoneSums sums;
  auto add = [&](bool byRows) { return OneWriter(b, sums, b.Cells(), byRows); };
  Writer before(b.weights.get());
  before.w->AddGrid(b.Cells(), b.a.get());
  const std::vector<double> first = add(true);
  EXPECT_EQ(first, add(false));
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c)
      if (b.zone[r][c] > 0.0) b.zone[r][c] = 10.0 + (c % 2);
  ZoneRuns::GridsRewritten();
  const std::vector<double> second = add(true);
  EXPECT_EQ(second, add(false));
  EXPECT_NE(second, first);
  // A writer's own pass over the grid as well.
  Writer fresh(b.weights.get());
  before.w->ClearZoneSums();
  before.w->AddGrid(b.Cells(), b.a.get());
  fresh.w->AddGrid(b.Cells(), b.a.get());
  EXPECT_EQ(before.Sums(), fresh.Sums());
}
