// The Penman-Monteith cell loop of the evapotranspiration module on an N x N grid (default
// 1000) of one land-use layer, hourly steps in daylight (every measurement the same hours,
// 10 to 15 h): cell-steps per second per thread count (the loop sums the zone statistics
// of its rows as it goes), and the time of the statistics step after the loop (block sums
// to the writers, rows, grids) beside it.
//
//   et_bench [common options of bench_support.h]     (default 5 steps)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "init/defaultini.h"
#include "module_basin.h"
#include "module_owner.h"
#include "processes/evapotranspiration/etpetr.h"

namespace {

const char* kSection =
    "[evapotranspiration]\n1\n60\n1\n1 1 1 1 1 1 1 1 1 1 1 1\n0.2 0.2 0.2 0.3 0.3 0.3 0.3 0.3 0.3 0.2 0.2 0.2\n1.0\n"
    "etp.asc\n0\netp.stat 2001\netr.asc\n0\netr.stat 2001\nevap.asc\n0\nevap.stat 2001\nevar.asc\n0\n"
    "evar.stat 2001\nsnowev.asc\n0\nsnowev.stat 2001\neip.asc\n0\neip.stat 2001\nrgex.stat 2001\n0.2 0.8 0 0\n"
    "0.072 -0.808 1.749 -0.239\n0.7 0.1\n1000\n3 4 5 6 7 8 8 7 6 5 4 3\n0.6 0.1\n";

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 5, 1000, {}, "");
  const int kRows = o.size, kCols = o.size, steps = o.steps;
  namespace fs = std::filesystem;
  bench::Folder folder(o.folder, "et_bench");
  const fs::path dir = folder.Path();
  std::ofstream((dir / "run.ctl").string()) << kSection;

  std::ostringstream sink;
  LogStream log(sink, (dir / "diag.xml").string(), 0);
  ModuleBasin b(kRows, kCols, 100.0);
  const auto add = [&](const std::string& name, auto value) {
    double** m = b.Register(name);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) m[r][c] = value(r, c);
  };
  const auto constant = [](double v) { return [v](int, int) { return v; }; };
  add("zone_grid", [](int r, int c) { return 1.0 + (r / 200) * 5 + c / 200; });
  add("[elevation_model]", [](int r, int c) { return 800.0 + 600.0 * std::sin(r * 0.01) * std::cos(c * 0.007); });
  add("temperature", [](int r, int c) { return 12.0 + 0.005 * r - 0.003 * c; });
  add("wind_speed", [](int r, int) { return 1.0 + 0.002 * r; });
  add("air_humidity", constant(0.65));
  add("global_radiation", [](int, int c) { return 300.0 + 0.2 * c; });
  add("albedo", constant(0.2));
  add("SurfaceEvaporationResistance", constant(150.0));
  add("landuse", constant(1.0));
  for (const char* n : {"leaf_area_index1", "root_depth1", "vegetation_coverage_degree1", "SurfaceCanopyResistance1",
                        "SurfaceIntercepResistance1", "RoughnessLength1"})
    add(n, constant(std::string(n).find("Resistance") != std::string::npos ? 60.0 : 0.6));

  std::vector<std::pair<int, double>> zones;
  for (int z = 1; z <= 25; ++z) zones.emplace_back(z, 0.0);
  b.SetZones(zones);
  RunValues run;
  b.runValues = &run;
  b.geometry.xllcorner = 500000.0;
  b.geometry.yllcorner = 4000000.0;
  b.start = ModelDate{0, 1, 1, 7, 2001};
  b.end = ModelDate{0, 24, 31, 7, 2001};
  b.latitude = 47.0;
  b.longitude = 8.0;
  b.referenceMeridian = 15.0;
  const ModuleInputs in = b.Inputs(log, (dir / "run.ctl").string(), dir.string() + "/");
  int error = 0;
  const ModuleOwner<verdunstungsmodellklasse> et = MakeModule<verdunstungsmodellklasse>(error, in);
  if (error) {
    std::printf("construction failed with %d\n%s\n", error, sink.str().c_str());
    return 1;
  }

  double statistics = 0.0;
  const auto timing = bench::TimeThreadCounts(o, [&](int) {
    double loop = 0.0;
    for (int s = 0; s < steps; ++s) {
      const ModelDate d{0, 10 + s % 6, 15, 7, 2001};
      et->PotentialET(d);  // geometry of the step, then the two halves timed alone
      double t0 = bench::Now();
      et->PotentialCellLoop(0, 0.0, 0.0, 0.75, 1, 1.0);
      loop += bench::Now() - t0;
      t0 = bench::Now();
      et->PotentialStatistics();
      statistics += bench::Now() - t0;
    }
    return loop;
  });
  bench::PrintTimings("Penman-Monteith cell loop, " + std::to_string(kRows) + " x " + std::to_string(kCols) +
                          " cells, " + std::to_string(steps) + " steps",
                      o.threads, timing, static_cast<double>(kRows) * kCols * steps, "cell-steps");
  std::printf("  statistics after the loop: %.4f s per step (mean over all)\n",
              statistics / (steps * o.repeats * static_cast<double>(o.threads.size())));
  return 0;
}
