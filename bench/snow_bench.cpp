// The snow step (Run and PostRun) on N x N cells (default 1000), hourly, for the
// temperature-index method 1, the energy balance (method 5) and the energy balance with
// slides (method 6, whose slides visit the cells one after the other), and method 1 with
// dynamic glaciers (glacier method 13) on half of the cells: cell-steps per second per
// thread count, every measurement the same hours and weather.
//
//   snow_bench [common options of bench_support.h]     (default 5 steps)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "module_basin.h"
#include "module_owner.h"
#include "processes/snow/snowmod.h"

namespace {

std::string Section(int method) {
  std::ostringstream s;
  s << "[snow_model]\n1\n60\n" << method << "\n1.0\n0.5\n0.0\n0.1\n0.05\n"
    << "2.0 2.2 2.5 3.0 3.5 4.0 4.5 4.5 4.0 3.5 3.0 2.5\n1.5 1.6 1.8 2.0 2.2 2.4 2.6 2.6 2.4 2.2 2.0 1.8\n"
    << "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3\n0.01\n1.0\n3.0\n0.45\n0.9\n";
  for (const char* g : {"rain", "snow", "snowdays", "snowage"}) s << g << ".asc\n0\n" << g << ".stat 0\n";
  s << "albedo.stat 0\nout.asc\n0\nout.stat 0\nmelt.asc\n0\nmelt.stat 0\nsolid.asc\n0\nliquid.asc\n0\n"
    << "total.stat 0\ntotal.asc\n0\n0\n";
  if (method > 4) {
    for (const char* g : {"snowtemp", "surftemp", "input", "mobile", "deposition"})
      s << g << ".asc\n0\n" << g << ".stat 0\n";
    s << "55\n1\n30\n0.01\n1\n1\n1\n";
  }
  return s.str();
}

// Dynamic glaciers of the glacier method given, three firn layers from 500 m up.
std::string IceFirn(int glacierMethod) {
  std::ostringstream s;
  s << "[ice_firn]\n" << glacierMethod << "\n7.2\n4.8\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n2\n5\n10\n0\n0\n0\n"
    << "firn.asc\n0\nqfirn.stat 0\nice.asc\n0\nqice.stat 0\nqglac.out 0\nqsog.stat 0\n0\n3 500 0.05\n30 9\n"
    << "28.5 1.36 4 0\nfirnstack.asc\n0\nfirn.stat 0\nmb.asc\n0\nmbold.asc\n0\nmb1.stat 0\nmb2.stat 0\n1.0\n"
    << "sog.stat 0\n";
  for (int k = 0; k < 7; ++k) s << "g" << k << ".asc\n0\n";
  s << "1000 0.25\n";
  return s.str();
}

// Times `steps` steps of the method per thread count.
void Measure(const bench::Options& o, int method, const std::string& dir, int glacierMethod = 0) {
  const int kRows = o.size, kCols = o.size, steps = o.steps;
  ModuleBasin b(kRows, kCols, 100.0);
  for (const char* n : {"zone_grid", "zonegrid_soilmodel", "[elevation_model]", "albedo", "landuse1",
                        "precipitation", "temperature", "wind_speed", "air_humidity",
                        "AspectCorrectedGlobalRadiation", "cloudiness", "slope_angle", "slidefraction1",
                        "slidefraction2", "slidefraction3", "slidefraction4"})
    b.Register(n, 1.0);
  double** elevation = b.Grid("[elevation_model]");
  double** T = b.Grid("temperature");
  double** P = b.Grid("precipitation");
  double** slope = b.Grid("slope_angle");
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      elevation[r][c] = 500.0 + 2.0 * r + std::fmod(c * 7.0, 50.0);
      slope[r][c] = std::fmod(r * 13.0 + c * 7.0, 60.0);
    }
  if (glacierMethod != 0) {
    double** fraction = b.Register("GlacierizedCells", 0.0);
    double** codes = b.Register("GlacierCodes", -9999.0);
    b.Register("global_radiation", 150.0);
    for (int r = 1; r <= kRows / 2; ++r)
      for (int c = 1; c <= kCols; ++c) {
        fraction[r][c] = 0.25 + 0.75 * std::fmod(r * 0.37 + c * 0.11, 1.0);
        codes[r][c] = 1.0;
      }
  }
  const std::string control = dir + "/snow" + std::to_string(method) + ".ctl";
  if (FILE* f = std::fopen(control.c_str(), "w")) {
    std::fputs((Section(method) + (glacierMethod != 0 ? IceFirn(glacierMethod) : "")).c_str(), f);
    std::fclose(f);
  }
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  b.SetZones({{1, 0.0}});
  b.statisticsTable.resize(50);
  ModuleInputs in = b.Inputs(log, control, dir + "/");
  in.reportInterval = 1000000;
  int error = 0;
  const ModuleOwner<schneemodellklasse> m = MakeModule<schneemodellklasse>(error, in);
  if (error != 0) {
    std::fprintf(stderr, "snow model failed with code %d:\n%s\n", error, console.str().c_str());
    std::exit(1);
  }
  m->SetSnowInterceptionFlag(0);
  // A winter day's swing around 0 °C: snow falls, settles and melts in every step.
  auto weather = [&](int k) {
    const double t = -2.0 + 4.0 * std::sin(k * 0.26);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        T[r][c] = t + 0.002 * (c - r);
        P[r][c] = (k % 3 == 0) ? 0.5 : 0.0;
      }
  };
  const auto timing = bench::TimeThreadCounts(o, [&](int) {
    double spent = 0.0;
    for (int step = 1; step <= steps; ++step) {
      weather(step);
      const ModelDate d{0, step % 24, 1 + (step / 24) % 28, 1, 2001};
      const double t0 = bench::Now();
      m->Run(d);
      m->PostRun(d);
      spent += bench::Now() - t0;
    }
    return spent;
  });
  std::string label = "snow method " + std::to_string(method);
  if (glacierMethod != 0) label += " with glacier method " + std::to_string(glacierMethod) + " on half the cells";
  bench::PrintTimings(label + ", " + std::to_string(kRows) + " x " + std::to_string(kCols) + " cells, " +
                          std::to_string(steps) + " hourly steps",
                      o.threads, timing, static_cast<double>(kRows) * kCols * steps, "cell-steps");
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 5, 1000, {}, "");
  bench::Folder folder(o.folder, "snow_bench");
  for (int method : {1, 5, 6}) Measure(o, method, folder.Path());
  Measure(o, 1, folder.Path(), 13);
  return 0;
}
