// A rectangular basin for the process-module tests: every cell of one zone except the
// cells the test marks outside, and named grids that a test adds, fills and registers in
// the order it asks (positions 1 and 2 hold the zones and the elevation).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

class ProcessBasin {
 public:
  ProcessBasin(int rows, int cols, double cellsize = 1000.0) : rows_(rows), cols_(cols) {
    geometry.ncols = cols;
    geometry.nrows = rows;
    geometry.cellsize = cellsize;
    geometry.nodata_value = -9999.0;
    Add("zone_grid", 1.0);
    Add("[elevation_model]", 1000.0);
    zoneTable.resize(2);
    zoneTable[1].code = 1;
    zoneTable[1].fraction = 1.0;
    codeMap = {0, 1};
  }
  // Registers a grid of the name filled with value (outside cells: no-data); returns it.
  double** Add(const std::string& name, double value) {
    grids_.emplace_back(rows_, cols_);
    double** m = grids_.back().get();
    const int p = static_cast<int>(grids_.size());
    registry[p].data = m;
    registry[p].internalName = name;
    registry[p].registered = true;
    Fill(m, value);
    return m;
  }
  void Fill(double** m, double value) {
    for (int r = 1; r <= rows_; ++r)
      for (int c = 0; c <= cols_; ++c) m[r][c] = (c >= 1 && Inside(r, c)) ? value : geometry.nodata_value;
  }
  void Fill(double** m, const std::function<double(int, int)>& f) {
    for (int r = 1; r <= rows_; ++r)
      for (int c = 1; c <= cols_; ++c) m[r][c] = Inside(r, c) ? f(r, c) : geometry.nodata_value;
  }
  // Marks a cell outside the basin (before the grids it should affect are added).
  void SetOutside(int r, int c) {
    outside_.push_back({r, c});
    Grid("zone_grid")[r][c] = geometry.nodata_value;
  }
  bool Inside(int r, int c) const {
    for (auto& o : outside_)
      if (o.first == r && o.second == c) return false;
    return true;
  }
  double** Grid(const std::string& name) {
    for (int p = 1; p < kGridRegistrySize; ++p)
      if (registry[p].registered && registry[p].internalName == name) return registry[p].data;
    return nullptr;
  }
  int Position(const std::string& name) {
    for (int p = 1; p < kGridRegistrySize; ++p)
      if (registry[p].registered && registry[p].internalName == name) return p;
    return 0;
  }
  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& outDir) {
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = control;
    in.grids = registry.Records();
    in.reportInterval = 24;
    in.zoneTable = zoneTable.data();
    in.zoneCodeMap = codeMap.data();
    in.zoneCount = static_cast<int>(zoneTable.size()) - 1;
    in.maxZoneCode = static_cast<int>(codeMap.size()) - 1;
    in.firstRow = 1;
    in.lastRow = rows_;
    in.geometry = geometry;
    in.start = ModelDate{0, 1, 1, 7, 2001};
    in.end = ModelDate{0, 24, 31, 12, 2001};
    in.latitude = 50.8;
    in.longitude = 4.35;
    in.referenceMeridian = 0.0;
    in.output.defaultOutputDirectory = outDir;
    in.output.outputDirectory = outDir;
    in.output.timeStepMinutes = 60.0;
    run.landuseTable = &landuse;
    run.multiLayerTable = &multiLayer;
    in.run = &run;
    return in;
  }
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  GridGeometry geometry;
  GridRegistry registry;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
  RunValues run;
  std::vector<LanduseTableEntry> landuse;
  std::vector<MultiLayerLanduseEntry> multiLayer;

 private:
  int rows_, cols_;
  std::vector<MatrixOwner> grids_;
  std::vector<std::pair<int, int>> outside_;
};
