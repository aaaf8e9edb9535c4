// The routing step of a 1000 x 1000 basin of 20 sub-basins (50000 cells of 100 m each), in
// a tree of channels, hourly with 2 sub-intervals: time per step and, as cells of the basin
// per second of routing, the figure to set beside the cell loops of the other modules.
// Routing runs per sub-basin on the calling thread, so the thread count does not change it;
// the rounds give the minimum and median.
//
//   routing_bench [common options of bench_support.h]     (default 20000 steps)
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
#include "module_basin.h"
#include "module_owner.h"
#include "processes/subbasin_runoff.h"
#include "routing/abfluss.h"

namespace {

constexpr int kSubbasins = 20;
constexpr double kCellsPerSubbasin = 50000.0;

// Sub-basin i (1..20) flows into (i + 1) / 2 + 10 for i <= 18, 19 into 20: two headwater
// levels joining towards the outlet 20. Descriptions are written upstream first.
std::string Control() {
  std::ostringstream s;
  s << "[output_interval]\n24\n0\n1\n\n[routing_model]\n1\n60\n1.0 5000.0 30 2\nnone 0\nnone\n0\n0\n";
  std::vector<std::vector<int>> tributaries(kSubbasins + 1);
  for (int i = 1; i <= kSubbasins - 1; ++i) tributaries[i <= 18 ? (i + 1) / 2 + 10 : 20].push_back(i);
  for (int i = 1; i <= kSubbasins; ++i) {
    double area = 5.0;
    s << "TG " << i << " (AE=" << area << ", AF=1.0)\n";
    for (int t : tributaries[i])
      s << "OL " << t << " (kh=3, kf=10, bm=6, bf=40, hm=1.2, kstm=25, kstf=15, I=0.01, L=" << 4000 + 500 * t
        << ", A=" << 5.0 * t << ")\n";
  }
  s << "end of the list\n";
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 20000, 1000, {}, "");
  const int steps = o.steps;
  bench::Folder folder(o.folder, "routing_bench");
  const std::string dir = folder.Path();
  std::ofstream(dir + "/bench.ctl") << Control();

  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  ModuleBasin b(1000, 1000, 100.0);
  std::vector<std::pair<int, double>> subbasins;
  for (int i = 1; i <= kSubbasins; ++i) subbasins.emplace_back(i, 0.0);
  b.SetZones(subbasins);
  for (int i = 1; i <= kSubbasins; ++i) b.zoneTable[i].cellCount = kCellsPerSubbasin;
  b.statisticsTable.resize(201);
  ModuleInputs in = b.Inputs(log, dir + "/bench.ctl", dir + "/");
  in.statisticsSize = 200;
  RoutingInputs r;
  r.soilInterval = 60;
  r.soilZoneTable = b.zoneTable.data();
  r.soilZoneCodeMap = b.codeMap.data();
  r.soilZoneCount = kSubbasins;
  r.soilMaxZoneCode = kSubbasins;

  std::vector<double> water(kSubbasins + 2, 0.1);
  double* rows[] = {water.data()};
  SubbasinRunoff runoff;
  runoff.table = rows;
  runoff.subbasinCount = kSubbasins;
  try {
    int error = 0;
    const ModuleOwner<abflussmodellklasse> m = MakeModule<abflussmodellklasse>(error, in, r);
    m->SetSubbasinRunoff(&runoff);
    m->InitRouting();
    int s = 0;
    const auto timing = bench::TimeThreadCounts(o, [&](int) {
      const double t0 = bench::Now();
      for (int k = 0; k < steps; ++k, ++s) {
        // A storm every 200 steps, so that the table rows and translations change.
        for (int i = 1; i <= kSubbasins; ++i) water[i] = 0.05 + 2.0 * std::exp(-std::pow((s % 200 - 40) / 8.0, 2));
        ModelDate d{0, (s + 1) % 24, 1 + ((s + 1) / 24) % 28, 1, 2001};
        m->RunTimeStep(d, 1, 1);
      }
      return bench::Now() - t0;
    });
    const double cells = kSubbasins * kCellsPerSubbasin;
    bench::PrintTimings("routing of " + std::to_string(kSubbasins) + " sub-basins (" +
                            std::to_string(static_cast<long>(cells)) + " cells), " + std::to_string(steps) +
                            " hourly steps",
                        o.threads, timing, cells * steps, "cell-steps");
    const double seconds = timing.at(o.threads.front()).Median();
    std::printf("median %.2f us per step; share of a whole step at 2e6 cell-steps/s: %.3f %%; at 1e7: %.3f %%\n",
                seconds / steps * 1e6, 100.0 * (seconds / steps) / (cells / 2e6),
                100.0 * (seconds / steps) / (cells / 1e7));
  } catch (int code) {
    std::fprintf(stderr, "routing failed with code %d\n%s\n", code, console.str().c_str());
    return 1;
  }
  return 0;
}
