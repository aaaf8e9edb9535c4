// A 4 x 5 basin of 1000 m cells with two zones for the meteorological module tests; cell
// (2, 5) lies outside. Registry positions 1 to 5 hold zones, elevation, RelCellArea,
// CoordX and CoordY.
#pragma once

#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"

class SmallBasin {
 public:
  static constexpr int kRows = 4, kCols = 5;
  SmallBasin() : zone(kRows, kCols), dem(kRows, kCols), area(kRows, kCols), cx(kRows, kCols), cy(kRows, kCols) {
    geometry.ncols = kCols;
    geometry.nrows = kRows;
    geometry.cellsize = 1000.0;
    geometry.nodata_value = -9999.0;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        zone[r][c] = c <= 2 ? 1.0 : 2.0;
        dem[r][c] = 1000.0 + 10 * r;
        area[r][c] = 1.0;
        cx[r][c] = (c - 0.5) * 1000.0;
        cy[r][c] = (kRows - r + 0.5) * 1000.0;
      }
    zone[2][5] = -9999.0;
    Register(1, zone.get(), "zone_grid");
    Register(2, dem.get(), "[elevation_model]");
    Register(3, area.get(), "RelCellArea");
    Register(4, cx.get(), "CoordX");
    Register(5, cy.get(), "CoordY");
    zoneTable.resize(3);
    zoneTable[1].code = 1;
    zoneTable[1].fraction = 0.4;
    zoneTable[2].code = 2;
    zoneTable[2].fraction = 0.6;
    codeMap = {0, 1, 2};
  }
  void Register(int p, double** m, const std::string& internalName) {
    registry[p].data = m;
    registry[p].internalName = internalName;
    registry[p].registered = true;
  }
  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& outDir) {
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = control;
    in.grids = registry.Records();
    in.reportInterval = 24;
    in.zoneTable = zoneTable.data();
    in.zoneCodeMap = codeMap.data();
    in.zoneCount = 2;
    in.maxZoneCode = 2;
    in.firstRow = 1;
    in.lastRow = kRows;
    in.geometry = geometry;
    in.start = ModelDate{0, 1, 1, 1, 2001};
    in.end = ModelDate{0, 3, 1, 1, 2001};
    in.output.defaultOutputDirectory = outDir;
    in.output.outputDirectory = outDir;
    in.output.writeAsciiGrids = true;
    in.output.timeStepMinutes = 60.0;
    return in;
  }
  GridGeometry geometry;
  GridRegistry registry;
  MatrixOwner zone, dem, area, cx, cy;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
};
