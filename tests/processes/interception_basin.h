// A small basin for the interception tests: zone grid, elevation and cell areas, the
// per-layer land-use and evapotranspiration grids the module reads, the meteorological
// grids of the canopy snow methods, a land-use table and a control file. Cell (2, cols)
// lies outside the basin.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/interception/interzep.h"
#include "support/module_owner.h"
#include "support/test_support.h"
#include "tables/landuse_table.h"

class InterceptionBasin {
 public:
  // layers: vegetation layers of the multilayer table (1 without one).
  InterceptionBasin(int rows, int cols, int layers = 1);
  ~InterceptionBasin();

  // A grid of the basin's size registered at the next position, filled with value.
  double** Add(const std::string& internalName, double value);
  double** Grid(const std::string& internalName);
  // Removes a grid from the registry (for the tests of missing inputs).
  void Remove(const std::string& internalName);

  // The section "[interception_model]" with the method's values; extra follows them.
  static std::string Section(int method, double maxWaterLayer = 0.5, int readGrids = 0, int statCode = 0,
                             const std::string& names = "");
  // The canopy snow values of methods above 20 (and above 30 with balance).
  static std::string CanopySection(double minLai, double minZ0, double laiScale, bool balance,
                                   const std::string& names = "", int statCode = 0);
  void WriteControl(const std::string& text);
  ModuleInputs Inputs();
  ModuleOwner<interzeptionsmodellklasse> Make(int& error);

  int rows, cols, layers;
  CapturedLog log;
  TempDir dir;
  std::string control;
  GridGeometry geometry;
  GridRegistry registry;
  std::vector<std::unique_ptr<MatrixOwner>> owned;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
  std::vector<RowBounds> bounds;
  RunValues run;
  std::vector<LanduseTableEntry> landuse;            // rows 1: IntercepCap 0.4, 2: without, 3: IntercepCap 0
  std::vector<MultiLayerLanduseEntry> multiLayer;
  int nextPosition = 1;
};
