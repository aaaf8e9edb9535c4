// The part every module test basin shares: a rectangular domain, a registry of grids that
// the basin owns (each registered under its internal name, at the next position or at a
// chosen one), the zone table with its code map, and the inputs a module constructor takes.
// The basins of the single modules derive from it and add their own grids and defaults.
// Header only: the fuzz targets use it without the test library.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"

class ModuleBasin {
 public:
  ModuleBasin(int rows, int cols, double cellsize = 1000.0, double nodata = -9999.0) : rows_(rows), cols_(cols) {
    geometry.ncols = cols;
    geometry.nrows = rows;
    geometry.cellsize = cellsize;
    geometry.nodata_value = nodata;
  }
  virtual ~ModuleBasin() = default;

  // A new grid of the domain (cells 0) registered under the name behind the last position
  // in use; returns its cells.
  double** Register(const std::string& internalName) {
    owned_.emplace_back(rows_, cols_);
    double** m = owned_.back().get();
    for (int r = 1; r <= rows_; ++r) std::fill(m[r], m[r] + cols_ + 1, 0.0);
    RegisterAt(last_ + 1, m, internalName);
    return m;
  }
  // The same, every cell of the domain holding value.
  double** Register(const std::string& internalName, double value) {
    double** m = Register(internalName);
    for (int r = 1; r <= rows_; ++r) std::fill(m[r] + 1, m[r] + cols_ + 1, value);
    return m;
  }
  // Registers a matrix the caller keeps at a position.
  void RegisterAt(int position, double** data, const std::string& internalName) {
    registry[position].data = data;
    registry[position].internalName = internalName;
    registry[position].registered = true;
    last_ = std::max(last_, position);
  }
  // The cells, or the position, of the first registered grid of the name (also of grids a
  // module registered); null or 0 when there is none.
  double** Grid(const std::string& internalName) {
    const int p = Position(internalName);
    return p > 0 ? registry[p].data : nullptr;
  }
  int Position(const std::string& internalName) {
    for (int p = 1; p <= kMaxGridPosition; ++p)
      if (registry[p].registered && registry[p].internalName == internalName) return p;
    return 0;
  }

  // The zone table: one entry per (code, area fraction), in that order, and the code map.
  void SetZones(const std::vector<std::pair<int, double>>& zones) {
    zoneTable.assign(zones.size() + 1, ZoneTableEntry{});
    int maxCode = 0;
    for (size_t i = 0; i < zones.size(); ++i) {
      zoneTable[i + 1].code = zones[i].first;
      zoneTable[i + 1].fraction = zones[i].second;
      maxCode = std::max(maxCode, zones[i].first);
    }
    codeMap.assign(static_cast<size_t>(maxCode) + 1, 0);
    for (size_t i = 0; i < zones.size(); ++i) codeMap[static_cast<size_t>(zones[i].first)] = static_cast<int>(i + 1);
  }

  // The inputs of a module built from the control file `control`, writing into outDir (with
  // its trailing "/"): the registry, the zones, the domain and the settings below.
  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& outDir) {
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = control;
    in.grids = registry.Records();
    in.reportInterval = 24;
    if (!statisticsTable.empty()) {
      in.statisticsTable = statisticsTable.data();
      in.statisticsSize = static_cast<int>(statisticsTable.size());
    }
    in.zoneTable = zoneTable.data();
    in.zoneCodeMap = codeMap.data();
    in.zoneCount = static_cast<int>(zoneTable.size()) - 1;
    in.maxZoneCode = static_cast<int>(codeMap.size()) - 1;
    in.firstRow = 1;
    in.lastRow = rows_;
    in.geometry = geometry;
    in.start = start;
    in.end = end;
    in.latitude = latitude;
    in.longitude = longitude;
    in.referenceMeridian = referenceMeridian;
    in.output.defaultOutputDirectory = outDir;
    in.output.outputDirectory = outDir;
    in.output.writeAsciiGrids = writeAsciiGrids;
    in.output.timeStepMinutes = 60.0;
    in.run = runValues;
    return in;
  }

  GridGeometry geometry;
  GridRegistry registry;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
  std::vector<StatisticsTableEntry> statisticsTable;  // handed over when not empty
  // Settings of Inputs.
  ModelDate start{0, 1, 1, 1, 2001};
  ModelDate end{0, 24, 31, 12, 2001};
  double latitude = 0.0, longitude = 0.0, referenceMeridian = 0.0;
  bool writeAsciiGrids = false;
  const RunValues* runValues = nullptr;

 private:
  int rows_, cols_;
  std::vector<MatrixOwner> owned_;
  int last_ = 0;  // highest position in use
};
