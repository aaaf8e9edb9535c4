// The interception step on N x N cells (default 1000): liquid interception alone (method
// 2), with the canopy snow (method 22) and with the canopy energy balance (method 32);
// cell-steps per second per thread count, every measurement the same hours.
//
//   interception_bench [common options of bench_support.h] [--method 2|22|32]   (default 5 steps)
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "init/defaultini.h"
#include "module_basin.h"
#include "module_owner.h"
#include "processes/interception/interzep.h"

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

struct Basin : ModuleBasin {
  int kRows, kCols;
  NullBuffer buffer;
  std::ostream sink{&buffer};
  LogStream log{sink, "/dev/null", 0};
  std::vector<RowBounds> bounds;
  std::vector<LanduseTableEntry> landuse = std::vector<LanduseTableEntry>(2);
  RunValues run;

  explicit Basin(int n) : ModuleBasin(n, n, 100.0), kRows(n), kCols(n), bounds(n + 1, RowBounds{1, n}) {
    SetZones({{1, 0.0}, {2, 0.0}});
    run.landuseTable = &landuse;
    runValues = &run;
    start = ModelDate{0, 0, 1, 1, 2001};
    end = ModelDate{0, 0, 1, 2, 2001};
    unsigned seed = 7;
    auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) / 4294967296.0; };
    auto add = [&](const char* name, double lo, double hi) {
      double** m = Register(name);
      for (int r = 1; r <= kRows; ++r)
        for (int c = 0; c <= kCols; ++c) m[r][c] = lo + (hi - lo) * rnd();
      return m;
    };
    double** zones = add("zones", 1.0, 2.999);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) zones[r][c] = static_cast<int>(zones[r][c]);
    add("[elevation_model]", 500, 2500);
    add("RelCellArea", 1, 1);
    add("landuse1", 1, 1);
    add("leaf_area_index1", 0, 6);
    add("vegetation_coverage_degree1", 0.3, 1);
    add("RoughnessLength1", 0.1, 2);
    add("SurfaceCanopyResistance1", 50, 100);
    add("SurfaceIntercepResistance1", 50, 100);
    for (const char* n : {"pot_transpiration0", "pot_transpiration1", "potential_InterceptionEvap0",
                          "potential_InterceptionEvap1", "real_transpiration0", "real_transpiration1"})
      add(n, 0, 0.3);
    add("precipitation", 0, 3);
    add("temperature", -6, 4);
    add("AspectCorrectedGlobalRadiation", 0, 500);
    add("wind_speed", 0, 6);
    add("air_humidity", 0.4, 1);
    add("cloudiness", 0, 1);
    add("albedo", 0.5, 0.9);
    add("snow_storage_total", 0, 20);
    add("surftemp", 265, 273);
  }
};

// Builds the module of the method in the folder and times `steps` steps per thread count.
void Measure(const bench::Options& o, int method, const std::string& dir) {
  Basin b(o.size);
  const int kRows = o.size, kCols = o.size;
  const std::string control = dir + "/bench" + std::to_string(method) + ".ctl";
  std::string text = "[interception_model]\n1\n60\n" + std::to_string(method) +
                     "\nthr.asc\n0\nthr.stat 2001\nevap.asc\n0\nevap.stat 2001\nstor.asc\n0\nstor.stat 2001\n0.3\n0\n";
  if (method > 20) {
    for (const char* g : {"t", "rh", "rad", "wind", "load", "age", "alb", "subl", "solid", "liquid"})
      text += std::string(g) + ".asc\n0\n" + g + ".stat 2001\n";
    text += "1.0\n0.5\n1.0\n";
    if (method > 30)
      for (const char* g : {"ceb", "cebt", "cebo", "cebd"}) text += std::string(g) + ".asc\n0\n" + g + ".stat 2001\n";
  }
  std::FILE* f = std::fopen(control.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
  ModuleInputs in = b.Inputs(b.log, control, dir + "/");
  in.reportInterval = 1000000;
  in.rowBounds = &b.bounds;
  int error = 0;
  const ModuleOwner<interzeptionsmodellklasse> m = MakeModule<interzeptionsmodellklasse>(error, in);
  if (error) {
    std::fprintf(stderr, "construction failed with %d\n", error);
    std::exit(1);
  }
  m->thresholdTemperature = 0.0;
  m->transZone = 1.0;
  m->Run(ModelDate{0, 0, 1, 1, 2001});  // warm-up
  const auto timing = bench::TimeThreadCounts(o, [&](int) {
    const double t0 = bench::Now();
    for (int s = 1; s <= o.steps; ++s) m->Run(ModelDate{0, s % 24, 1 + s / 24, 1, 2001});
    return bench::Now() - t0;
  });
  bench::PrintTimings("interception method " + std::to_string(method) + ", " + std::to_string(kRows) + " x " +
                          std::to_string(kCols) + " cells, " + std::to_string(o.steps) + " steps",
                      o.threads, timing, static_cast<double>(kRows) * kCols * o.steps, "cell-steps");
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 5, 1000, {"method"}, "[--method 2|22|32]");
  const int only = std::atoi(o.Extra("method", "0").c_str());  // one method alone (0: all three)
  bench::Folder folder(o.folder, "interception_bench");
  for (int method : {2, 22, 32})
    if (only == 0 || method == only) Measure(o, method, folder.Path());
  return 0;
}
