// The small domain of the snow model's fuzz targets: 3 x 4 cells of constant grids in one
// zone (cell 2,4 outside the basin), a statistics table, and the module inputs that read the
// target's control file, with every output kept in the target's scratch folder.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"

// A scratch folder made once per process from the pattern ("/tmp/name_XXXXXX"), with its
// trailing "/"; empty when it cannot be made.
inline std::string ScratchFolder(const char* pattern) {
  std::string p(pattern);
  if (!mkdtemp(&p[0])) return std::string();
  return p + "/";
}

// Writes text to path; false when the file cannot be written.
inline bool WriteWhole(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return true;
}

struct SnowFuzzDomain {
  static constexpr int kRows = 3, kCols = 4;
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  std::ostringstream console;
  LogStream log{console, "/dev/null", 0};
  std::vector<ZoneTableEntry> zones = std::vector<ZoneTableEntry>(2);
  int codeMap[2] = {0, 1};
  std::vector<StatisticsTableEntry> statisticsTable = std::vector<StatisticsTableEntry>(50);

  SnowFuzzDomain() { zones[1].code = 1; }

  // Registers a grid of the value under the name at the next position; the first grid
  // added is the zone grid, whose cell 2,4 is then set outside the basin (see Inputs).
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

  ModuleInputs Inputs(const std::string& controlFile, const std::string& dir) {
    owned[0][2][4] = -9999.0;
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = controlFile;
    in.grids = registry.Records();
    in.zoneTable = zones.data();
    in.zoneCodeMap = codeMap;
    in.zoneCount = 1;
    in.maxZoneCode = 1;
    in.lastRow = kRows;
    in.geometry = GridGeometry{kCols, kRows, 0.0, 0.0, 1000.0, -9999.0};
    in.statisticsTable = statisticsTable.data();
    in.statisticsSize = static_cast<int>(statisticsTable.size());
    in.output.defaultOutputDirectory = dir;
    in.output.outputDirectory = dir;
    in.output.inputDirectory = dir;
    return in;
  }
};
