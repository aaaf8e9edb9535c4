// Inverse-distance interpolation of an N x N grid (default 1000) from 50 stations over
// several steps: cell-steps per second on one thread for every vector instruction set of
// the CPU, then per thread count, and the GIS gridding tool's inverse distance on the same
// points and grid (when it is installed, with --gdal): its whole process, and its compute
// part (an N x N call minus a 10 x 10 call), on one thread and on all.
//
//   interpolation_bench [common options of bench_support.h] [--gdal]     (default 5 steps)
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/memory_handling.h"
#include "meteo/idw_vector_kernels.h"
#include "meteo/interpolation_kernels.h"

namespace {

constexpr int kStations = 50;
constexpr double kCell = 100.0, kXll = 500000.0, kYll = 4000000.0;

double RunSteps(CellLoop& loop, std::vector<double>& values, int steps) {
  const double t0 = bench::Now();
  for (int s = 0; s < steps; ++s) {
    for (int k = 1; k <= kStations; ++k) values[k] = 10.0 * std::sin(0.1 * k + s);  // a new record per step
    RunCellLoop(loop);
  }
  return bench::Now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 5, 1000, {"gdal!"}, "[--gdal]");
  const int steps = o.steps, kRows = o.size, kCols = o.size;
  MatrixOwner cx(kRows, kCols), cy(kRows, kCols), zone(kRows, kCols), result(kRows, kCols);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      cx[r][c] = kXll + (c - 0.5) * kCell;
      cy[r][c] = kYll + (kRows - r + 0.5) * kCell;
      zone[r][c] = 1.0;
    }
  std::vector<double> x(kStations + 1), y(kStations + 1), v(kStations + 1);
  unsigned seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) / 4294967296.0; };
  for (int k = 1; k <= kStations; ++k) {
    x[k] = kXll - 5000.0 + next() * (kCols * kCell + 10000.0);
    y[k] = kYll - 5000.0 + next() * (kRows * kCell + 10000.0);
  }
  CellLoop loop;
  loop.lastRow = kRows;
  loop.ncols = kCols;
  loop.coordX = loop.distX = cx.get();
  loop.coordY = loop.distY = cy.get();
  loop.zone = zone.get();
  loop.stations = loop.rotated = StationPoints{kStations, x.data(), y.data(), v.data()};
  loop.idw = MakeIdwSettings(2.0, 1e12);
  loop.result = result.get();
  const double cells = double(kRows) * kCols * steps;
  RunSteps(loop, v, 1);  // warm-up
  std::printf("inverse distance, %d x %d cells, %d stations, %d steps (%s)\n", kRows, kCols, kStations, steps,
              bench::LoadText().c_str());
  const IdwInstructionSet widest = ActiveIdwInstructionSet();
  for (IdwInstructionSet set : {IdwInstructionSet::Sse2, IdwInstructionSet::Avx2, IdwInstructionSet::Avx512}) {
    if (!SelectIdwInstructionSet(set)) continue;
    bench::Options one = o;
    one.threads = {1};
    const bench::Timing t = bench::TimeThreadCounts(one, [&](int) { return RunSteps(loop, v, steps); }).at(1);
    std::printf("  1 thread, %-7s: min %.3f s, median %.3f s, %.3e cell-steps/s\n", IdwInstructionSetName(set),
                t.Min(), t.Median(), cells / t.Min());
  }
  SelectIdwInstructionSet(widest);
  const auto timing = bench::TimeThreadCounts(o, [&](int) { return RunSteps(loop, v, steps); });
  bench::PrintTimings(std::string("inverse distance, ") + IdwInstructionSetName(widest), o.threads, timing, cells,
                      "cell-steps");
  const double t1 = timing.count(1) ? timing.at(1).Min() : 0.0;
  const double tn = timing.at(o.threads.back()).Min();

  // The start-up's search for stations beyond the maximum distance of every cell, with one
  // station moved far off: against one step on one thread.
  for (double reach : {2000.0, 20000.0}) {
    CellLoop check = loop;
    std::vector<double> far = x;
    far[kStations] = kXll + 100.0 * kCols * kCell;
    check.stations = check.rotated = StationPoints{kStations, far.data(), y.data(), v.data()};
    check.idw = MakeIdwSettings(2.0, reach);
    double best = 1e300;
    for (int round = 0; round < o.repeats; ++round) {
      const double t0 = bench::Now();
      StationsOutOfReach(check);
      best = std::min(best, bench::Now() - t0);
    }
    std::printf("  stations out of reach at the start, maximum distance %.0f: %.3f s, %.2f steps on 1 thread\n",
                reach, best, t1 > 0.0 ? best / (t1 / steps) : 0.0);
  }

  // The GIS gridding tool on the same points and grid, one grid per step.
  if (o.Extra("gdal").empty()) return 0;
  if (std::system("command -v gdal_grid >/dev/null 2>&1") == 0) {
    bench::Folder folder(o.folder, "interpolation_bench");
    const char* dir = folder.Path().c_str();
    {
      std::string d(dir);
      std::ofstream csv(d + "/p.csv");
      csv.precision(17);
      csv << "x,y,v\n";
      for (int k = 1; k <= kStations; ++k) csv << x[k] << "," << y[k] << "," << v[k] << "\n";
      csv.close();
      std::ofstream vrt(d + "/p.vrt");
      vrt << "<OGRVRTDataSource><OGRVRTLayer name=\"p\"><SrcDataSource>" << d
          << "/p.csv</SrcDataSource><GeometryType>wkbPoint</GeometryType><GeometryField "
             "encoding=\"PointFromColumns\" x=\"x\" y=\"y\" z=\"v\"/></OGRVRTLayer></OGRVRTDataSource>\n";
      vrt.close();
      // Seconds for `steps` calls on an n x n grid over the same extent (best of three).
      auto gdal = [&](int n, const char* threads) {
        char cmd[1024];
        std::snprintf(cmd, sizeof cmd,
                      "gdal_grid -q --config GDAL_NUM_THREADS %s -a invdist:power=2.0:smoothing=0.0 -txe %.1f %.1f "
                      "-tye %.1f %.1f -outsize %d %d -ot Float64 -of GTiff -l p %s/p.vrt %s/out.tif",
                      threads, kXll, kXll + kCols * kCell, kYll + kRows * kCell, kYll, n, n, dir, dir);
        double t = 1e300;
        for (int round = 0; round < o.repeats; ++round) {
          const double t0 = bench::Now();
          for (int s = 0; s < steps; ++s)
            if (std::system(cmd) != 0) return -1.0;
          t = std::min(t, bench::Now() - t0);
        }
        return t;
      };
      for (const char* threads : {"1", "ALL_CPUS"}) {
        const double whole = gdal(kRows, threads), small = gdal(10, threads);
        if (whole < 0 || small < 0) {
          std::printf("  gdal_grid failed\n");
          break;
        }
        const double compute = whole - small;
        const double ours = std::string(threads) == "1" ? t1 : tn;
        std::printf("  gdal_grid invdist, %s thread(s): whole %.3f s (%.3e cell-steps/s), compute part %.3f s "
                    "(%.3e cell-steps/s); this model on %s: %.2f times the whole, %.2f times the compute part\n",
                    threads, whole, cells / whole, compute, cells / compute, std::string(threads) == "1" ? "1 thread" : "all threads",
                    whole / ours, compute / ours);
      }
    }
  } else {
    std::printf("  gdal_grid not installed: no comparison\n");
  }
  return 0;
}
