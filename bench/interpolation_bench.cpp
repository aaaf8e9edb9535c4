// Inverse-distance interpolation of a 1000 x 1000 grid from 50 stations over several
// steps: cell-steps per second on one thread for every vector instruction set of the CPU
// and on all threads, and the GIS gridding tool's inverse distance on the same points and
// grid (when it is installed): its whole process, and its compute part (a 1000 x 1000
// call minus a 10 x 10 call), on one thread and on all.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/thread_policy.h"
#include "meteo/idw_vector_kernels.h"
#include "meteo/interpolation_kernels.h"

namespace {

constexpr int kRows = 1000, kCols = 1000, kStations = 50;
constexpr double kCell = 100.0, kXll = 500000.0, kYll = 4000000.0;

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double RunSteps(CellLoop& loop, std::vector<double>& values, int steps, int threads) {
  omp_set_num_threads(threads);
  auto t0 = std::chrono::steady_clock::now();
  for (int s = 0; s < steps; ++s) {
    for (int k = 1; k <= kStations; ++k) values[k] = 10.0 * std::sin(0.1 * k + s);  // a new record per step
    RunCellLoop(loop);
  }
  return Seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
  ApplyWaitPolicy(argv);  // the workers wait as in the program
  const int steps = argc > 1 ? std::atoi(argv[1]) : 5;
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
  // The cell loop takes its schedule from OMP_SCHEDULE; without it rows are handed out in
  // chunks of 8, which keeps threads busy when other programs share the cores.
  if (!std::getenv("OMP_SCHEDULE")) omp_set_schedule(omp_sched_dynamic, 8);

  const int all = omp_get_num_procs();
  const double cells = double(kRows) * kCols * steps;
  RunSteps(loop, v, 1, all);  // warm-up
  // Each measurement is the fastest of three, so that a moment of load from other
  // programs does not spoil one side alone.
  auto best = [&](int threads) {
    double t = 1e300;
    for (int round = 0; round < 3; ++round) t = std::min(t, RunSteps(loop, v, steps, threads));
    return t;
  };
  omp_sched_t kind;
  int chunk;
  omp_get_schedule(&kind, &chunk);
  std::printf("inverse distance, %d x %d cells, %d stations, %d steps, schedule %d chunk %d\n", kRows, kCols,
              kStations, steps, static_cast<int>(kind), chunk);
  const IdwInstructionSet widest = ActiveIdwInstructionSet();
  for (IdwInstructionSet set : {IdwInstructionSet::Sse2, IdwInstructionSet::Avx2, IdwInstructionSet::Avx512}) {
    if (!SelectIdwInstructionSet(set)) continue;
    const double t = best(1);
    std::printf("  1 thread, %-7s: %.3f s, %.3e cell-steps/s\n", IdwInstructionSetName(set), t, cells / t);
  }
  SelectIdwInstructionSet(widest);
  const double t1 = best(1), tn = best(all);
  std::printf("  1 thread, %-7s: %.3f s, %.3e cell-steps/s\n", IdwInstructionSetName(widest), t1, cells / t1);
  std::printf("  %d threads: %.3f s, %.3e cell-steps/s, speed-up %.2f\n", all, tn, cells / tn, t1 / tn);

  // The GIS gridding tool on the same points and grid, one grid per step.
  if (std::system("command -v gdal_grid >/dev/null 2>&1") == 0) {
    char dirTemplate[] = "/tmp/orvel_bench_XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (dir) {
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
        for (int round = 0; round < 3; ++round) {
          auto t0 = std::chrono::steady_clock::now();
          for (int s = 0; s < steps; ++s)
            if (std::system(cmd) != 0) return -1.0;
          t = std::min(t, Seconds(t0));
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
      std::system(("rm -rf " + d).c_str());
    }
  } else {
    std::printf("  gdal_grid not installed: no comparison\n");
  }
  return 0;
}
