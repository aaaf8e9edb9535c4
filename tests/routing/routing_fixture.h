// A basin of three sub-basins (codes 1, 2, 3 with 10, 20 and 30 cells of 1 km²; 1 and 2
// flow into 3) for the routing tests, with a runoff record filled by the test in place of
// the soil model's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "processes/subbasin_runoff.h"
#include "routing/abfluss.h"
#include "support/module_owner.h"
#include "support/test_support.h"

// Channel values of a description entry: storage constants, widths, depth, Manning
// coefficients, slope, length and catchment area.
inline std::string ChannelText(double length, double area, double km = 2.0, double hm = 5.0) {
  return "(km=" + std::to_string(km) + ", kf=5, bm=5, bf=50, hm=" + std::to_string(hm) +
         ", kstm=25, kstf=10, I=0.01, L=" + std::to_string(length) + ", A=" + std::to_string(area) + ")";
}

// The usual network: 1 and 2 into 3; the mean channel of 1 is hm1 deep (5 m keeps every
// discharge of the tests in it).
inline std::string ThreeBasinDescriptions(double hm1 = 5.0) {
  return "TG 1 (AE=10, AF=1.0)\n"
         "TG 2 (AE=20, AF=1.0)\n"
         "TG 3 (AE=60, AF=1.0)\n"
         "OL 1 " + ChannelText(8000, 10, 2.0, hm1) + "\n"
         "OL 2 " + ChannelText(20000, 20) + "\n"
         "end of the list\n";
}

class RoutingBasin {
 public:
  explicit RoutingBasin(int soilInterval = 60) : soilInterval(soilInterval) {
    geometry.ncols = 6;
    geometry.nrows = 10;
    geometry.cellsize = 1000.0;
    zones.resize(4);
    for (int i = 1; i <= 3; ++i) {
      zones[i].code = i;
      zones[i].cellCount = 10.0 * i;
      zones[i].areaSum = 10.0 * i;
    }
    codeMap = {0, 1, 2, 3};
    rows.assign(2, std::vector<double>(5, 0.0));
    rowPointers = {rows[0].data(), rows[1].data()};
    runoff.table = rowPointers.data();
    runoff.subbasinCount = 3;
    statistics.assign(201, StatisticsTableEntry());
  }

  // The control file: [output_interval] with the unit code, then [routing_model] with the
  // given settings lines and descriptions.
  std::string Control(const std::string& settings, const std::string& descriptions, int unitCode = 0,
                      int flowControl = 1) const {
    return "[output_interval]\n24\n0\n" + std::to_string(unitCode) + "  # unit\n\n[routing_model]\n" +
           std::to_string(flowControl) + "  # flow control\n60  # interval\n" + settings + descriptions +
           "\n[lake_model]\n0\n";
  }
  static std::string Settings(const std::string& qRange = "1.0 100.0 10 2", const std::string& stat = "qstat.txt 2001",
                              const std::string& observed = "none", const std::string& columns = "0",
                              int offset = 0) {
    return qRange + "  # qmin qmax intervals sub-intervals\n" + stat + "  # statistics\n" + observed +
           "  # observed\n" + columns + "  # column descriptors\n" + std::to_string(offset) + "  # R-square offset\n";
  }

  ModuleOwner<abflussmodellklasse> Build(const std::string& control, LogStream& log) {
    WriteTextFile(dir.file("basin.ctl"), control);
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = dir.file("basin.ctl");
    in.grids = registry.Records();
    in.statisticsTable = statistics.data();
    in.statisticsSize = 200;
    in.reportInterval = 24;
    in.zoneTable = zones.data();
    in.zoneCodeMap = codeMap.data();
    in.zoneCount = 3;
    in.maxZoneCode = 3;
    in.lastRow = geometry.nrows;
    in.geometry = geometry;
    in.start = start;
    in.end = ModelDate{0, 1, 1, 1, 2002};
    in.output.defaultOutputDirectory = dir.path() + "/";
    in.output.timeStepMinutes = 60.0;
    RoutingInputs r;
    r.soilInterval = soilInterval;
    r.soilZoneTable = zones.data();
    r.soilZoneCodeMap = codeMap.data();
    r.soilZoneCount = 3;
    r.soilMaxZoneCode = 3;
    r.routingOnly = routingOnly;
    r.soilInitialGrids = soilReadFlag;
    r.storageFileName = storageFileName;
    r.routingTimeOffset = routingTimeOffset;
    int error = 0;
    return MakeModule<abflussmodellklasse>(error, in, r);
  }
  // Builds and starts the module with the record's current runoff.
  ModuleOwner<abflussmodellklasse> Start(const std::string& control, LogStream& log) {
    auto m = Build(control, log);
    m->SetInputGridNames(0);
    m->SetSubbasinRunoff(&runoff);
    m->InitRouting();
    m->SetInitialDischarge(0.0);
    m->SetRunFlag(1);
    return m;
  }
  void SetRunoff(double a, double b, double c) {
    rows[0][1] = a;
    rows[0][2] = b;
    rows[0][3] = c;
  }

  int soilInterval;
  bool routingOnly = false;  // build the module for routing alone
  int soilReadFlag = 0;       // the soil model's read flag and storage file name
  std::string storageFileName;
  ModelDate start{0, 1, 1, 1, 2001};  // the run's first step
  double routingTimeOffset = 0.0;  // minutes, as [output_interval] gives it
  TempDir dir;
  GridGeometry geometry;
  GridRegistry registry;
  std::vector<ZoneTableEntry> zones;
  std::vector<int> codeMap;
  std::vector<std::vector<double>> rows;
  std::vector<double*> rowPointers;
  SubbasinRunoff runoff;
  std::vector<StatisticsTableEntry> statistics;
};

// The integer code that f throws; 0 when it throws none.
inline int ThrownCode(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

// The step date of hour h (0-based) after the start of the fixture's run.
inline ModelDate StepDate(int h) {
  const int day = 1 + (h + 1) / 24;
  return ModelDate{0, (h + 1) % 24, day, 1, 2001};
}

// Blocks of the observed-discharge and routing-only tables of the given size while it
// lives, so that a few rows span several blocks.
struct SmallTableBlocks {
  explicit SmallTableBlocks(int64_t bytes) { abflussmodellklasse::tableBlockBytes = bytes; }
  ~SmallTableBlocks() { abflussmodellklasse::tableBlockBytes = saved; }
  const int64_t saved = abflussmodellklasse::tableBlockBytes;
};
