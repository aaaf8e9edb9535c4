// Which cells of the basin are glacier, and what share of each: the one rule that the snow
// model, the soil model with its infiltration, the interception and evapotranspiration ask,
// so that the water of every cell is taken once.
//
// The glacier grid is the one the snow model's glacier method reads: "ice_firn" for the
// static glaciers (methods 1 and 2), "GlacierizedCells" for the dynamic ones (11 to 13).
//   - "ice_firn" holds glacier codes: 1 a cell of ice, 2 a cell of firn, each glacier as a
//     whole; every other value (no-data, 0, another whole number) is a cell without glacier.
//     The snow model refuses a value that is no whole number at start-up (a fraction).
//   - "GlacierizedCells" holds the glacier fraction of a cell, 0..1 (no-data: none).
#pragma once

#include <algorithm>

class modelobject;

// The glacier share of a cell from which the modules above the ground take it as all
// glacier: such a cell holds no canopy, its whole water input passes the interception and
// the annual glacier update gives what its canopy held to the glacier part's snow.
constexpr double kWholeGlacierShare = 0.99999;

struct GlacierCells {
  static constexpr double kIce = 1.0, kFirn = 2.0;

  double** grid = nullptr;  // null: no cell is glacier
  bool codes = false;       // "ice_firn" (codes) or "GlacierizedCells" (fractions)
  double nodata = -9999.0;

  static double ShareOfCode(double v) { return v == kIce || v == kFirn ? 1.0 : 0.0; }
  static double ShareOfFraction(double v, double nodata) { return v > 0.0 && v != nodata ? std::min(1.0, v) : 0.0; }
  // The glacier share of a cell, 0..1.
  double Share(int r, int c) const {
    if (!grid) return 0.0;
    return codes ? ShareOfCode(grid[r][c]) : ShareOfFraction(grid[r][c], nodata);
  }
  // A cell of a static glacier is glacier as a whole and has no soil: the soil model and its
  // infiltration pass over it, its water leaves through the glacier's storages. A cell of a
  // dynamic glacier keeps its soil, which takes the water of the part without glacier. The
  // row of such cells (null: none), for loops that take a grid's row once.
  const double* SoillessRow(int r) const { return codes && grid ? grid[r] : nullptr; }
  static bool Soilless(const double* row, int c) { return row && ShareOfCode(row[c]) > 0.0; }
  bool Soilless(int r, int c) const { return Soilless(SoillessRow(r), c); }
  // Whether the glacier of a static glacier's cell is firn (else ice).
  bool OnFirn(int r, int c) const { return codes && grid && grid[r][c] == kFirn; }
  explicit operator bool() const { return grid != nullptr; }
};

// The glacier cells of the basin as its registered grids give them: the fractions of
// "GlacierizedCells" when `fractions` is set, else the codes of "ice_firn" (none where the
// grid is not registered).
GlacierCells GlacierCellsOf(const modelobject& o, bool fractions);
// What a module that runs without the snow model's word takes: "GlacierizedCells" where
// the basin has it, else "ice_firn". The application hands every module the snow model's.
GlacierCells GlacierCellsInRegistry(const modelobject& o);
