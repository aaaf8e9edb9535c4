// The small domain of the snow model's fuzz targets: 3 x 4 cells of constant grids in one
// zone (cell 2,4 outside the basin), a statistics table, and the module inputs that read the
// target's control file, with every output kept in the target's scratch folder.
#pragma once

#include <sstream>
#include <string>

#include "../support/module_basin.h"
#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "processes/snow/snowmod.h"

struct SnowFuzzDomain : ModuleBasin {
  static constexpr int kRows = 3, kCols = 4;
  std::ostringstream console;
  LogStream log{console, QuietDiagnosticsFile(), 0};

  SnowFuzzDomain() : ModuleBasin(kRows, kCols) {
    SetZones({{1, 1.0}});
    statisticsTable.resize(50);
  }

  // Registers a grid of the value under the name at the next position; the first grid
  // added is the zone grid, whose cell 2,4 is then set outside the basin (see Inputs).
  double** Add(const char* name, double value) { return Register(name, value); }

  ModuleInputs Inputs(const std::string& controlFile, const std::string& dir) {
    registry[1].data[2][4] = -9999.0;
    ModuleInputs in = ModuleBasin::Inputs(log, controlFile, dir);
    in.output.inputDirectory = dir;
    return in;
  }
};
