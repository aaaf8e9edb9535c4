// The soil step (infiltration and the soil water balance) on 1000 x 1000 cells in 20
// sub-basins with travel-time zones, hourly: cell-steps per second on one thread and on all
// threads, each measured three times, the fastest run reported.
#include <omp.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/thread_policy.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/soil/infilt.h"

namespace {

constexpr int kRows = 1000, kCols = 1000, kSubbasins = 20;

std::string Section() {
  std::ostringstream s;
  s << "[infiltration_model]\n1\n60\ninfex.asc\n0\ninfex.stat 0\nsat.asc\n0\n0.3\n\n";
  s << "[soil_model]\n1\n60\n2\n";
  for (const char* g : {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "qd", "qi"}) s << g << ".asc\n0\n";
  s << "peak.asc\n";
  for (const char* g : {"QD", "QI", "QB", "QBB", "Qg", "SB", "SUZ", "SIF", "SD"}) s << g << ".stat 0\n";
  s << "1 " << kSubbasins << "\n0.05 0.05\n1e-6 1e-6\n1 1\n2 2\n20 20\n10 10\n100 100\n0.01 0.01\n0.1 0.1\n"
    << "5 5\n0.5 0.5\n4 4\n0.5 0.5\n0.1 0.1\n0\nstate.txt\n";
  return s.str();
}

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

struct Basin {
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  double** Add(const char* name, double value) {
    owned.emplace_back(kRows, kCols);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) owned.back()[r][c] = value;
    const int p = static_cast<int>(owned.size());
    registry[p].data = owned.back().get();
    registry[p].internalName = name;
    registry[p].registered = true;
    return owned.back().get();
  }
};

double Measure(int threads, int steps, const std::string& dir) {
  Basin b;
  b.owned.reserve(20);
  double** zone = b.Add("zone_grid", 1.0);
  double** soilZones = b.Add("zonegrid_soilmodel", 1.0);
  double** topo = b.Add("topographic_faktor", 7.0);
  double** times = b.Add("flow_times", 0.0);
  double** P = b.Add("precipitation", 0.0);
  for (const char* n : {"hydraulic_conductivity", "soil_storage", "available_soil_moisture", "root_depth1",
                        "soil_types", "fillable_porosity"})
    b.Add(n, 1.0);
  b.registry[6].data[1][1] = 2.0;  // conductivity, mm per step
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      zone[r][c] = soilZones[r][c] = 1 + (c - 1) / (kCols / kSubbasins);
      topo[r][c] = 6.0 + std::fmod(r * 0.37 + c * 0.11, 3.0);
      times[r][c] = 3600.0 * std::fmod(r * 0.013 + (c % 50) * 0.1, 8.0);
      b.registry[6].data[r][c] = 2.0;
      b.registry[7].data[r][c] = 0.5;
      b.registry[8].data[r][c] = 150.0;
    }
  const std::string control = dir + "/soil.ctl";
  if (FILE* f = std::fopen(control.c_str(), "w")) {
    std::fputs(Section().c_str(), f);
    std::fclose(f);
  }
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  std::vector<ZoneTableEntry> zones(2);
  zones[1].code = 1;
  int codeMap[2] = {0, 1};
  std::vector<StatisticsTableEntry> table(50);
  std::vector<SoilTableEntry> soilRows(2);
  soilRows[1].mSBFCapDifference = 0.1;
  soilRows[1].suction = 300;
  RunValues run;
  run.soilTable = &soilRows;
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = control;
  in.grids = b.registry.Records();
  in.zoneTable = zones.data();
  in.zoneCodeMap = codeMap;
  in.zoneCount = 1;
  in.maxZoneCode = 1;
  in.lastRow = kRows;
  in.reportInterval = 1000000;
  in.geometry = GridGeometry{kCols, kRows, 0.0, 0.0, 100.0, -9999.0};
  in.statisticsTable = table.data();
  in.statisticsSize = 50;
  in.output.defaultOutputDirectory = in.output.outputDirectory = dir + "/";
  in.run = &run;
  int error = 0;
  infiltrationsmodellklasse m(error, in);
  m.SetInputGrid(0);
  omp_set_num_threads(threads);
  double best = 1e30;
  int step = 0;
  for (int round = 0; round < 3; ++round) {
    double spent = 0.0;
    for (int s = 0; s < steps; ++s) {
      ++step;
#pragma omp parallel for schedule(static)
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c) P[r][c] = step % 3 == 0 ? 0.0 : 0.5 + 8.0 * ((r + c + step) % 5 == 0);
      const ModelDate d{0, step % 24, 1 + (step / 24) % 28, 1, 2001};
      auto t0 = std::chrono::steady_clock::now();
      m.Run(d);
      spent += Seconds(t0);
    }
    best = std::min(best, spent);
  }
  m.DeleteModule();
  return static_cast<double>(kRows) * kCols * steps / best;
}

}  // namespace

int main(int argc, char** argv) {
  ApplyWaitPolicy(argv);
  const int steps = argc > 1 ? std::atoi(argv[1]) : 5;
  char pattern[] = "/tmp/soil_bench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const int all = omp_get_num_procs();
  if (!std::getenv("OMP_SCHEDULE")) omp_set_schedule(omp_sched_dynamic, 8);
  const double one = Measure(1, steps, pattern);
  const double many = Measure(all, steps, pattern);
  std::printf("soil step with infiltration, %d x %d cells, %d sub-basins, %d hourly steps: %.3g cell-steps/s on 1 "
              "thread, %.3g on %d threads (speed-up %.1f)\n",
              kRows, kCols, kSubbasins, steps, one, many, all, many / one);
  std::filesystem::remove_all(pattern);
  return 0;
}
