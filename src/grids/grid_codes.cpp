#include "grids/grid_codes.h"

#include <algorithm>
#include <cmath>

#include "framework/text_helpers.h"

bool WholeCodeOf(double value, double& code) {
  if (!std::isfinite(value)) return false;
  const double whole = std::round(value);
  // A float holds about seven digits: a millionth leaves room for a few roundings of a
  // single-precision export and none for a fraction anybody writes.
  if (!(std::fabs(value - whole) <= 1e-6 * std::max(1.0, std::fabs(whole)))) return false;
  code = whole + 0.0;  // -0 is 0
  return true;
}

double WholeIfNear(double value) {
  double code = 0.0;
  return WholeCodeOf(value, code) ? code : value;
}

double IntegerPartCode(double value) { return std::trunc(WholeIfNear(value)); }

std::string CellPlace(const GridGeometry& g, int row, int column) {
  const double x = g.xllcorner + (column - 0.5) * g.cellsize;
  const double y = g.yllcorner + (g.nrows - row + 0.5) * g.cellsize;
  return "row " + std::to_string(row) + ", column " + std::to_string(column) + " (centre x " + NumberText(x) +
         ", y " + NumberText(y) + ")";
}
