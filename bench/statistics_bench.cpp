// Zone statistics of a step (AddGrid, AddCells, AddWeightedCells) on 1000 x 1000 cells in
// 20 sub-basins with a weight grid and the instance-region grid the program passes, as
// the process modules call them after their cell loops: milliseconds per call and cells
// per second on 1, 2, 4 and all threads, each the fastest of several repeats.
#include <omp.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/thread_policy.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr int kRows = 1000, kCols = 1000, kZones = 20, kCalls = 20, kRepeats = 5;

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// CPU seconds of every thread of the process so far (workers that sleep add nothing).
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int, char** argv) {
  ApplyWaitPolicy(argv);
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

  const std::string dir = (std::filesystem::temp_directory_path() / "orvel_statistics_bench").string() + "/";
  std::filesystem::create_directories(dir);
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
  const int all = omp_get_max_threads();
  std::vector<int> counts = {1, 2, 4, all};
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  std::printf("zone statistics, %d x %d cells, %d zones, region grid; ms per call and CPU ms of all threads per call (best of %d x %d calls)\n", kRows,
              kCols, kZones, kRepeats, kCalls);
  for (const Case& k : cases) {
    double one = 0.0;
    std::printf("  %-22s", k.name);
    for (int threads : counts) {
      omp_set_num_threads(threads);
      double best = 1e30, cpu = 1e30;
      for (int rep = 0; rep < kRepeats; ++rep) {
        plain.ClearZoneSums();
        weighted.ClearZoneSums();
        const double c0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kCalls; ++i) k.call();
        best = std::min(best, Seconds(t0) / kCalls);
        cpu = std::min(cpu, (CpuSeconds() - c0) / kCalls);
      }
      if (threads == 1) one = best;
      std::printf("  %d thr %5.2f ms x%.2f cpu %5.2f", threads, 1e3 * best, one / best, 1e3 * cpu);
    }
    std::printf("\n");
  }
  plain.Release();
  weighted.Release();
  std::filesystem::remove_all(dir);
  return 0;
}
