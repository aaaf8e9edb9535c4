// The basin of the routing module's fuzz targets: three sub-basins (codes 1 to 3 of 10, 20
// and 30 cells) on a small domain, a scratch folder of the process that holds the control
// file and every output, and the module and routing inputs of a routing module built from
// a control file in that folder.
#pragma once

#include <sstream>
#include <string>

#include "../support/module_basin.h"
#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "routing/abfluss.h"

struct RoutingFuzzBasin : ModuleBasin {
  std::ostringstream console;
  LogStream log{console, QuietDiagnosticsFile(), 0};
  const std::string dir;  // with its trailing "/"; empty when it cannot be made

  RoutingFuzzBasin(int ncols, int nrows, const char* folderPattern)
      : ModuleBasin(nrows, ncols), dir(ScratchFolder(folderPattern)) {
    SetZones({{1, 0.0}, {2, 0.0}, {3, 0.0}});
    for (int i = 1; i <= 3; ++i) zoneTable[i].cellCount = zoneTable[i].areaSum = 10.0 * i;
    statisticsTable.resize(201);
  }

  ModuleInputs Inputs(const std::string& controlFile) {
    ModuleInputs in = ModuleBasin::Inputs(log, controlFile, dir);
    in.statisticsSize = 200;
    return in;
  }

  // The soil model's side of the routing inputs: hourly steps over the same sub-basins.
  RoutingInputs Routing() {
    RoutingInputs r;
    r.soilInterval = 60;
    r.soilZoneTable = zoneTable.data();
    r.soilZoneCodeMap = codeMap.data();
    r.soilZoneCount = 3;
    r.soilMaxZoneCode = 3;
    return r;
  }
};
