// A rectangular basin for the process-module tests: every cell of one zone except the
// cells the test marks outside, and named grids that a test adds, fills and registers in
// the order it asks (positions 1 and 2 hold the zones and the elevation).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "init/defaultini.h"
#include "support/module_owner.h"
#include "support/module_basin.h"

class ProcessBasin : public ModuleBasin {
 public:
  ProcessBasin(int rows, int cols, double cellsize = 1000.0) : ModuleBasin(rows, cols, cellsize) {
    Add("zone_grid", 1.0);
    Add("[elevation_model]", 1000.0);
    SetZones({{1, 1.0}});
    start = ModelDate{0, 1, 1, 7, 2001};
    end = ModelDate{0, 24, 31, 12, 2001};
    latitude = 50.8;
    longitude = 4.35;
    runValues = &run;
  }
  // Registers a grid of the name filled with value (outside cells: no-data); returns it.
  double** Add(const std::string& name, double value) {
    double** m = Register(name);
    Fill(m, value);
    return m;
  }
  void Fill(double** m, double value) {
    for (int r = 1; r <= rows(); ++r)
      for (int c = 0; c <= cols(); ++c) m[r][c] = (c >= 1 && Inside(r, c)) ? value : geometry.nodata_value;
  }
  void Fill(double** m, const std::function<double(int, int)>& f) {
    for (int r = 1; r <= rows(); ++r)
      for (int c = 1; c <= cols(); ++c) m[r][c] = Inside(r, c) ? f(r, c) : geometry.nodata_value;
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
  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& outDir) {
    run.landuseTable = &landuse;
    run.multiLayerTable = &multiLayer;
    return ModuleBasin::Inputs(log, control, outDir);
  }
  int rows() const { return geometry.nrows; }
  int cols() const { return geometry.ncols; }

  RunValues run;
  std::vector<LanduseTableEntry> landuse;
  std::vector<MultiLayerLanduseEntry> multiLayer;

 private:
  std::vector<std::pair<int, int>> outside_;
};
