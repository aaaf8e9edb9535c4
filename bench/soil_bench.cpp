// The soil step (infiltration and the soil water balance) on N x N cells (default 1000) in
// 20 sub-basins with travel-time zones, hourly: cell-steps per second per thread count,
// every measurement the same hours and rain.
//
//   soil_bench [common options of bench_support.h]     (default 5 steps)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "init/defaultini.h"
#include "module_basin.h"
#include "module_owner.h"
#include "processes/soil/infilt.h"

namespace {

constexpr int kSubbasins = 20;

std::string Section() {
  std::ostringstream s;
  s << "[infiltration_model]\n1\n60\ninfex.asc\n0\ninfex.stat 0\nsat.asc\n0\n0.3\n\n";
  s << "[soil_model]\n1\n60\n2\n";
  for (const char* g : {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "qd", "qi"}) s << g << ".asc\n0\n";
  s << "peak.asc\n";  // relative names land in the output folder
  for (const char* g : {"QD", "QI", "QB", "QBB", "Qg", "SB", "SUZ", "SIF", "SD"}) s << g << ".stat 0\n";
  s << "1 " << kSubbasins << "\n0.05 0.05\n1e-6 1e-6\n1 1\n2 2\n20 20\n10 10\n100 100\n0.01 0.01\n0.1 0.1\n"
    << "5 5\n0.5 0.5\n4 4\n0.5 0.5\n0.1 0.1\n0\nstate.txt\n";
  return s.str();
}

void Measure(const bench::Options& o, const std::string& dir) {
  const int kRows = o.size, kCols = o.size, steps = o.steps;
  ModuleBasin b(kRows, kCols, 100.0);
  double** zone = b.Register("zone_grid", 1.0);
  double** soilZones = b.Register("zonegrid_soilmodel", 1.0);
  double** topo = b.Register("topographic_faktor", 7.0);
  double** times = b.Register("flow_times", 0.0);
  double** P = b.Register("precipitation", 0.0);
  for (const char* n : {"hydraulic_conductivity", "soil_storage", "available_soil_moisture", "root_depth1",
                        "soil_types", "fillable_porosity"})
    b.Register(n, 1.0);
  double** conductivity = b.Grid("hydraulic_conductivity");  // mm per step
  double** storage = b.Grid("soil_storage");
  double** available = b.Grid("available_soil_moisture");
  // Sub-basins are bands of columns; in each the travel time grows across the band, so
  // every sub-basin has cells in its first time zone at any size.
  const int band = std::max(1, kCols / kSubbasins);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      zone[r][c] = soilZones[r][c] = std::min(kSubbasins, 1 + (c - 1) / band);
      topo[r][c] = 6.0 + std::fmod(r * 0.37 + c * 0.11, 3.0);
      times[r][c] = 3600.0 * std::fmod(r * 0.013 + ((c - 1) % band) * 8.0 / band, 8.0);
      conductivity[r][c] = 2.0;
      storage[r][c] = 0.5;
      available[r][c] = 150.0;
    }
  const std::string control = dir + "/soil.ctl";
  if (FILE* f = std::fopen(control.c_str(), "w")) {
    std::fputs(Section().c_str(), f);
    std::fclose(f);
  }
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  b.SetZones({{1, 0.0}});
  b.statisticsTable.resize(50);
  std::vector<SoilTableEntry> soilRows(2);
  soilRows[1].mSBFCapDifference = 0.1;
  soilRows[1].suction = 300;
  RunValues run;
  run.soilTable = &soilRows;
  b.runValues = &run;
  ModuleInputs in = b.Inputs(log, control, dir + "/");
  in.reportInterval = 1000000;
  int error = 0;
  ModuleOwner<infiltrationsmodellklasse> m;
  try {
    m = MakeModule<infiltrationsmodellklasse>(error, in);
  } catch (int code) {
    error = code;
  }
  if (error != 0 || !m) {
    std::fprintf(stderr, "soil_bench: the soil model refused the basin (code %d)\n%s\n", error, console.str().c_str());
    std::exit(1);
  }
  m->SetInputGrid(0);
  const auto timing = bench::TimeThreadCounts(o, [&](int) {
    double spent = 0.0;
    for (int step = 1; step <= steps; ++step) {
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c) P[r][c] = step % 3 == 0 ? 0.0 : 0.5 + 8.0 * ((r + c + step) % 5 == 0);
      const ModelDate d{0, step % 24, 1 + (step / 24) % 28, 1, 2001};
      const double t0 = bench::Now();
      m->Run(d);
      spent += bench::Now() - t0;
    }
    return spent;
  });
  bench::PrintTimings("soil step with infiltration, " + std::to_string(kRows) + " x " + std::to_string(kCols) +
                          " cells, " + std::to_string(kSubbasins) + " sub-basins, " + std::to_string(steps) +
                          " hourly steps",
                      o.threads, timing, static_cast<double>(kRows) * kCols * steps, "cell-steps");
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 5, 1000, {}, "");
  bench::Folder folder(o.folder, "soil_bench");
  Measure(o, folder.Path());
  return 0;
}
