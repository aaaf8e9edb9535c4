// The check of the state grids a run starts from: every cell of the basin holds the no-data
// value or a finite number that the quantity allows.
#include <cmath>
#include <memory>
#include <sstream>

#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_registry.h"

StateRange StateRange::AtLeast(double low, const std::string& lowText, const std::string& rule) {
  StateRange r;
  r.low = low;
  r.lowText = lowText;
  r.lowRule = rule;
  return r;
}

StateRange StateRange::ZeroUpTo(const std::string& lowRule, double high, const std::string& highText,
                                const std::string& highRule) {
  StateRange r = AtLeast(0.0, "0", lowRule);
  r.high = high;
  r.highText = highText;
  r.highRule = highRule;
  return r;
}

StateRange StateRange::Storage() {
  return ZeroUpTo("a storage is 0 or more", 1e9, "1e9 mm", "no store holds 1,000 km of water");
}

StateRange StateRange::Fraction() {
  StateRange r;
  r.low = -1e-9;
  r.high = 1.0 + 1e-9;
  r.lowText = "0";
  r.highText = "1";
  r.lowRule = r.highRule = "a relative quantity lies within 0..1";
  return r;
}

StateRange StateRange::Volume() {
  return ZeroUpTo("a volume is 0 or more", 1e15, "1e15 m3", "no store holds 1,000 km3 of water");
}

StateRange StateRange::Days() {
  return ZeroUpTo("a count of days is 0 or more", 1e7, "1e7 days", "no count of days of a state runs past 27,000 years");
}

int StateRange::Breaks(double v, double lowHere) const {
  return !std::isfinite(v) ? 0 : v < lowHere ? 1 : v > high ? 2 : -1;
}

std::string StateRange::Broken(int kind) const {
  return kind == 1 ? "below " + lowText + "; " + lowRule : "above " + highText + "; " + highRule;
}

double** grid_io::ZoneGridOf(const modelobject& o) {
  return o.grids && o.grids[1].registered ? o.grids[1].data : nullptr;
}

grid_io::CellsBeyond grid_io::FindCellsBeyond(const modelobject& o, double** grid, const StateRange& range,
                                              double (*asRead)(double)) {
  CellsBeyond found;
  const double nodata = o.geometry.nodata_value;
  double** zones = ZoneGridOf(o);
  for (int r = 1; r <= o.geometry.nrows; ++r) {
    if (!grid[r]) continue;
    for (int c = 1; c <= o.geometry.ncols; ++c) {
      const double v = grid[r][c];
      if ((zones && !(zones[r][c] > nodata)) || v == nodata) continue;
      const double low = range.lowAt ? range.lowAt(r, c) : range.low;
      int kind = range.Breaks(v, low);
      if (kind > 0 && asRead) kind = range.Breaks(asRead(v), low);
      if (kind < 0) continue;
      if (found.count[kind]++ == 0) {
        found.row[kind] = r;
        found.col[kind] = c;
      }
    }
  }
  return found;
}

int grid_io::CellsBeyond::FirstKind() const {
  for (int kind = 0; kind < 3; ++kind)
    if (count[kind] > 0) return kind;
  return -1;
}

std::string grid_io::CellsBeyond::Text(double** grid, const StateRange& range, double nodata) const {
  const int kind = FirstKind();
  if (kind < 0) return std::string();
  const int r = row[kind], c = col[kind];
  std::ostringstream text;
  text << "holds " << grid[r][c] << " at row " << r << ", column " << c << " (" << count[kind]
       << " cells of the basin ";
  if (kind == 0)
    text << "hold no finite number); a state is a finite number, or the no-data value " << nodata;
  else if (kind == 1)
    text << "below " << range.lowText << "); " << range.lowRule;
  else
    text << "above " << range.highText << "); " << range.highRule;
  return text.str();
}

void modelobject::RefuseImpossibleCells(double** grid, const std::string& fileName, const std::string& what,
                                        const StateRange& range) const {
  if (!grid) return;
  const grid_io::CellsBeyond found = grid_io::FindCellsBeyond(*this, grid, range);
  if (found.FirstKind() < 0) return;
  if (log)
    *log << "FATAL: " << fileName << " (" << what << ") " << found.Text(grid, range, geometry.nodata_value)
         << "[end-entry]";
  throw 22;
}

void modelobject::HoldStateRange(double** grid, const StateRange& range) {
  if (!grid || !grids) return;
  const auto held = std::make_shared<const StateRange>(range);
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if (grids[p].registered && grids[p].data == grid) grids[p].stateRange = held;
}

void modelobject::RefuseImpossibleCells(const std::string& internalName, const StateRange& range) const {
  const int p = FindGrid(internalName);
  if (p > 0) RefuseImpossibleCells(grids[p].data, grids[p].fileName, internalName, range);
}

void modelobject::RefuseImpossibleLevels(double*** stack, int first, int last, const std::string& fileName,
                                         const std::string& what, const StateRange& range) const {
  if (!stack || first > last) return;
  MatrixOwner level(geometry.nrows, geometry.ncols, log);
  for (int l = first; l <= last; ++l) {
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) level[r][c] = stack[r][c][l];
    RefuseImpossibleCells(level.get(), fileName, what + " level " + std::to_string(l), range);
  }
}
