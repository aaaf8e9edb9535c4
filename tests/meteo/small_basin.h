// A 4 x 5 basin of 1000 m cells with two zones for the meteorological module tests; cell
// (2, 5) lies outside. Registry positions 1 to 5 hold zones, elevation, RelCellArea,
// CoordX and CoordY.
#pragma once

#include <string>

#include "../support/module_basin.h"
#include "../support/module_owner.h"

class SmallBasin : public ModuleBasin {
 public:
  static constexpr int kRows = 4, kCols = 5;
  SmallBasin()
      : ModuleBasin(kRows, kCols), zone(kRows, kCols), dem(kRows, kCols), area(kRows, kCols), cx(kRows, kCols),
        cy(kRows, kCols) {
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
    SetZones({{1, 0.4}, {2, 0.6}});
    start = ModelDate{0, 1, 1, 1, 2001};
    end = ModelDate{0, 3, 1, 1, 2001};
    writeAsciiGrids = true;
  }
  using ModuleBasin::Register;
  void Register(int p, double** m, const std::string& internalName) { RegisterAt(p, m, internalName); }

  MatrixOwner zone, dem, area, cx, cy;
};
