// Zone statistics of a step (AddGrid, AddCells, AddWeightedCells) on N x N cells (default
// 1000) in 20 sub-basins with a weight grid and the instance-region grid the program
// passes, as the process modules call them after their cell loops: time per call (minimum
// and median of the rounds) per thread count, and the CPU time of all threads per call; and
// the time of appending a day's rows to a file the run made and to one opened by its name.
//
//   statistics_bench [common options of bench_support.h]     (--steps: calls per measurement, default 20)
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/append_file.h"
#include "framework/memory_handling.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr int kZones = 20;

// CPU seconds of every thread of the process so far (workers that sleep add nothing).
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 20, 1000, {}, "");
  const int kRows = o.size, kCols = o.size, kCalls = o.steps;
  MatrixOwner zone(kRows, kCols), values(kRows, kCols), weights(kRows, kCols), regions(kRows, kCols);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      // 20 sub-basins in a 4 x 5 pattern, the corners outside the basin.
      const bool outside = (r + c < 120) || (r + (kCols - c) < 120);
      zone[r][c] = outside ? -9999.0 : 1 + (r * 4 / (kRows + 1)) * 5 + (c * 5 / (kCols + 1));
      values[r][c] = 10.0 * std::sin(0.01 * r) * std::cos(0.013 * c);
      weights[r][c] = 0.5 + 0.25 * std::cos(0.003 * r * c);
      regions[r][c] = 0.0;
    }
  std::vector<int> codeMap(kZones + 1);
  for (int z = 0; z <= kZones; ++z) codeMap[static_cast<size_t>(z)] = z;
  std::vector<RowBounds> bounds(kRows + 1, RowBounds{1, kCols});
  ZoneCells cells;
  cells.zone = zone.get();
  cells.codeMap = codeMap.data();
  cells.maxCode = kZones;
  cells.firstRow = 1;
  cells.lastRow = kRows;
  cells.ncols = kCols;
  cells.rowBounds = &bounds;
  cells.regions = regions.get();

  bench::Folder folder(o.folder, "statistics_bench");
  const std::string dir = folder.Path() + "/";
  std::vector<ZoneTableEntry> table(kZones + 1);
  for (int z = 1; z <= kZones; ++z) {
    table[static_cast<size_t>(z)].code = z;
    table[static_cast<size_t>(z)].fraction = 1.0 / kZones;
  }
  int error = 0;
  zonalstatistic plain(&error, nullptr, nullptr, 0, nullptr, 0, 0, table.data(), kZones, 2001, 3, "plain.stat",
                       dir.c_str(), 0, nullptr, false);
  std::vector<ZoneTableEntry> weightedTable = table;
  zonalstatistic weighted(&error, nullptr, nullptr, 0, weights.get(), kRows, kCols, weightedTable.data(), kZones, 2001,
                          3, "weighted.stat", dir.c_str(), 0, nullptr, false);
  if (error) {
    std::printf("statistics writers could not be built\n");
    return 1;
  }
  double** v = values.get();
  double** w = weights.get();
  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"AddGrid", [&] { plain.AddGrid(cells, v); }},
      {"AddGrid, weight grid", [&] { weighted.AddGrid(cells, v); }},
      {"AddCells", [&] { plain.AddCells(cells, [v](int r, int c) { return 2.0 * v[r][c]; }); }},
      {"AddWeightedCells", [&] { plain.AddWeightedCells(cells, [v](int r, int c) { return v[r][c]; },
                                                        [w](int r, int c) { return w[r][c]; }); }},
  };
  for (const Case& k : cases) {
    std::map<int, std::vector<double>> cpu;
    const auto timing = bench::TimeThreadCounts(o, [&](int threads) {
      plain.ClearZoneSums();
      weighted.ClearZoneSums();
      const double c0 = CpuSeconds();
      const double t0 = bench::Now();
      for (int i = 0; i < kCalls; ++i) k.call();
      const double t = (bench::Now() - t0) / kCalls;
      cpu[threads].push_back((CpuSeconds() - c0) / kCalls);
      return t;
    });
    bench::PrintTimings(std::string(k.name) + ", " + std::to_string(kRows) + " x " + std::to_string(kCols) +
                            " cells, " + std::to_string(kZones) + " zones, region grid, per call",
                        o.threads, timing, double(kRows) * kCols, "cells");
    for (auto& c : cpu)
      std::printf("  %2d thread%s: CPU of all threads per call, least %.2f ms\n", c.first, c.first == 1 ? " " : "s",
                  1e3 * *std::min_element(c.second.begin(), c.second.end()));
  }
  plain.Release();
  weighted.Release();

  // A day's rows appended to a file of rows: to a file the run made (through the descriptor
  // kept for it, its name checked) and to one opened by its name for every append.
  const std::string day(24 * 180, 'x');
  for (const bool made : {false, true}) {
    const std::string file = dir + (made ? "made.stat" : "named.stat");
    bool opened = false;
    AppendWhole(file, "header\n", opened);
    struct stat st {};
    if (made && ::stat(file.c_str(), &st) == 0)
      NoteFileMade(file, static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    const auto timing = bench::TimeThreadCounts(o, [&](int) {
      const double t0 = bench::Now();
      for (int i = 0; i < 1000; ++i) AppendWhole(file, day, opened);
      return (bench::Now() - t0) / 1000;
    });
    bench::PrintTimings(std::string("a day's rows appended, ") + (made ? "kept descriptor" : "opened by name"),
                        o.threads, timing, 1.0, "appends");
  }
  ForgetFilesMade();
  return 0;
}
