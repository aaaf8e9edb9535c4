#include "processes/glacier_share.h"

#include "framework/modelobject.h"
#include "grids/grid_registry.h"

GlacierCells GlacierCellsOf(const modelobject& o, bool fractions) {
  GlacierCells cells;
  const int p = o.FindGrid(fractions ? "GlacierizedCells" : "ice_firn");
  cells.grid = p > 0 ? o.grids[p].data : nullptr;
  cells.codes = !fractions;
  cells.nodata = o.geometry.nodata_value;
  return cells;
}

GlacierCells GlacierCellsInRegistry(const modelobject& o) {
  return GlacierCellsOf(o, o.FindGrid("GlacierizedCells") > 0);
}
