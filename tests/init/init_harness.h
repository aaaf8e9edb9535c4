// A start-up object on a registry of its own, with helpers that put small grids into it.
#pragma once

#include <string>
#include <vector>

#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "support/module_owner.h"
#include "support/test_support.h"

using Rows = std::vector<std::vector<double>>;

class InitHarness {
 public:
  explicit InitHarness(int mode = 1, const std::string& controlFile = "none.ctl") {
    d = MakeModule<defaultini>(error, &log.log(), controlFile, nullptr, 200, mode, registry.Records());
    // What the release at the end writes (the phenology state) lands here, not in the
    // working folder.
    d->output.outputDirectory = dir.path() + "/";
  }

  // Sets the geometry of the model domain.
  void Domain(int ncols, int nrows, double cellsize = 100.0, double nodata = -9999.0, double xll = 0.0,
              double yll = 0.0) {
    d->geometry = GridGeometry{ncols, nrows, xll, yll, cellsize, nodata};
    d->run.firstRow = 1;
    d->run.lastRow = nrows;
    if (d->standardGrids.size() < 3) d->standardGrids.resize(3);
  }

  // Registers a grid (rows given north first) at a position under an internal name.
  double** Put(int position, const std::string& internalName, const Rows& rows, const std::string& file = "") {
    double** g = d->NewOwnedGrid(1, d->geometry.nrows);
    for (int r = 1; r <= d->geometry.nrows; ++r)
      for (int c = 1; c <= d->geometry.ncols; ++c) g[r][c] = rows[r - 1][c - 1];
    d->Register(position, file.empty() ? dir.file(internalName + ".asc") : file, g, internalName, 0);
    if (position == 1) d->zoneGrid = g;
    if (position == 2) d->elevationModel = g;
    if (position <= 2) {
      d->standardGrids[position].fileName = d->GridFileName(position);
      d->standardGrids[position].internalName = internalName;
    }
    return g;
  }

  // A grid of one value everywhere.
  Rows Filled(double value) const {
    return Rows(static_cast<size_t>(d->geometry.nrows), std::vector<double>(static_cast<size_t>(d->geometry.ncols), value));
  }

  // Zone grid of one code everywhere at position 1 and the row bounds of the ranking.
  void AllBasin(double code = 1.0) {
    Put(1, "[zone_grid]", Filled(code));
    d->RankZones(nullptr);
  }

  std::string Console() const { return log.console(); }

  TempDir dir;
  CapturedLog log;
  GridRegistry registry;
  int error = 0;
  ModuleOwner<defaultini> d;
};

// Runs f and returns the integer it throws (-1 when it throws nothing).
template <typename F>
int ThrownCode(F&& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return -1;
}
