// Classification of cells into hydrologic response units and the copy of master-cell values.
#include "init/hru.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "framework/logstream.h"

double HruClass(double value, double classWidth, bool sqrtSpacing) {
  const double x = sqrtSpacing ? std::sqrt(std::fabs(value)) : value;
  return std::floor(x / classWidth);
}

void AppendHruClass(std::string& name, double hruClass) {
  char text[64];
  std::snprintf(text, sizeof text, "%04.0lf'", hruClass);
  name += text;
}

void HruCellScope::Columns(int row, int& first, int& last) const {
  first = 1;
  last = geometry->ncols;
  if (rowBounds && !rowBounds->empty()) {
    if (row < 0 || static_cast<size_t>(row) >= rowBounds->size()) {
      last = 0;
      return;
    }
    first = std::max(1, (*rowBounds)[static_cast<size_t>(row)].first);
    last = std::min(geometry->ncols, (*rowBounds)[static_cast<size_t>(row)].last);
  }
}

bool HruCellScope::InInstance(int row, int column) const {
  const double nodata = geometry->nodata_value;
  if (zone && !(zone[row][column] > nodata)) return false;
  return !regions || regions[row][column] == static_cast<double>(instance);
}

namespace {

int ScopeFirstRow(const HruCellScope& s) { return s.lastRow >= s.firstRow ? std::max(1, s.firstRow) : 1; }
int ScopeLastRow(const HruCellScope& s) {
  return s.lastRow >= s.firstRow ? std::min(s.geometry->nrows, s.lastRow) : s.geometry->nrows;
}

// Number of the HRU called name; a new name makes the next HRU with this cell as master.
uint64_t HruNumber(const std::string& name, int row, int column, HruList& list,
                   std::unordered_map<std::string, uint64_t>& known, bool& isNew) {
  auto it = known.find(name);
  isNew = it == known.end();
  if (!isNew) return it->second;
  if (list.empty()) list.emplace_back();  // the placeholder
  HruRecord r;
  r.number = static_cast<uint64_t>(list.size());
  r.name = name;
  r.row = row;
  r.column = column;
  list.push_back(r);
  known.emplace(name, r.number);
  return r.number;
}

}  // namespace

void ClassifyHrus(const std::vector<HruSourceGrid>& sources, const HruCellScope& scope, double** hru,
                  double** master, HruList& list, LogStream* log) {
  const double nodata = scope.geometry->nodata_value;
  std::unordered_map<std::string, uint64_t> known;
  for (size_t i = 1; i < list.size(); ++i) known.emplace(list[i].name, list[i].number);
  std::string name;
  for (int r = ScopeFirstRow(scope); r <= ScopeLastRow(scope); ++r) {
    int c0 = 1, c1 = 0;
    scope.Columns(r, c0, c1);
    for (int c = c0; c <= c1; ++c) {
      hru[r][c] = nodata;
      master[r][c] = nodata;
      name.clear();
      for (const HruSourceGrid& g : sources) {
        const double v = g.data[r][c];
        if (!(v > nodata) || !scope.InInstance(r, c)) break;
        hru[r][c] = 0.0;
        const double k = HruClass(v, g.classWidth, g.sqrtSpacing);
        if (!(k <= 9999.0)) {
          if (log)
            *log << "FATAL: Creating HRUs resulted in a re-classify result of " << k << " for grid " << g.identifier
                 << " at row=" << r << " and col=" << c
                 << ". Only 10'000 Classes are allowed for each grid. Choose a larger class width or use lg2 spacing "
                    "to reduce the amount of HRUs."
                 << "[end-entry]";
          throw 1031;
        }
        AppendHruClass(name, k);
      }
      if (hru[r][c] != 0.0) continue;
      bool isNew = false;
      const double n = static_cast<double>(HruNumber(name, r, c, list, known, isNew));
      hru[r][c] = n;
      if (isNew) master[r][c] = n;
    }
  }
}

void RenumberHruGrid(const HruCellScope& scope, double** hru, double** master, HruList& list) {
  const double nodata = scope.geometry->nodata_value;
  std::unordered_map<std::string, uint64_t> known;
  for (size_t i = 1; i < list.size(); ++i) known.emplace(list[i].name, list[i].number);
  char text[400];
  for (int r = ScopeFirstRow(scope); r <= ScopeLastRow(scope); ++r) {
    int c0 = 1, c1 = 0;
    scope.Columns(r, c0, c1);
    for (int c = c0; c <= c1; ++c) {
      master[r][c] = nodata;
      const double v = hru[r][c];
      // A cell without an HRU value stays outside every HRU (NaN included).
      if (!(v > nodata) || !std::isfinite(v)) {
        hru[r][c] = nodata;
        continue;
      }
      std::snprintf(text, sizeof text, "%0.lf", v);
      bool isNew = false;
      const double n = static_cast<double>(HruNumber(text, r, c, list, known, isNew));
      hru[r][c] = n;
      if (isNew) master[r][c] = n;
    }
  }
}

std::vector<HruRecord> MasterCellsFromGrid(double** master, const HruCellScope& scope) {
  std::vector<HruRecord> cells(1);
  const double nodata = scope.geometry->nodata_value;
  for (int r = ScopeFirstRow(scope); r <= ScopeLastRow(scope); ++r) {
    int c0 = 1, c1 = 0;
    scope.Columns(r, c0, c1);
    for (int c = c0; c <= c1; ++c) {
      const double v = master[r][c];
      // HRU numbers are counts of cells, so a number beyond the cells of the grid is no HRU.
      const double limit = static_cast<double>(scope.geometry->nrows) * scope.geometry->ncols;
      if (!(v > nodata) || !(v >= 1.0) || !(v <= limit) || v != std::floor(v)) continue;
      const size_t n = static_cast<size_t>(v);
      if (n >= cells.size()) cells.resize(n + 1);
      if (cells[n].row != 0) continue;  // the first cell of a number is its master
      cells[n].number = n;
      cells[n].row = r;
      cells[n].column = c;
    }
  }
  return cells;
}

void CopyFromHruMasters(double** grid, double** hru, double** master, const std::vector<HruRecord>& masters,
                        const HruCellScope& scope) {
  const double nodata = scope.geometry->nodata_value;
  for (int r = ScopeFirstRow(scope); r <= ScopeLastRow(scope); ++r) {
    int c0 = 1, c1 = 0;
    scope.Columns(r, c0, c1);
    for (int c = c0; c <= c1; ++c) {
      if (!scope.InInstance(r, c) || master[r][c] != nodata) continue;
      const double v = hru[r][c];
      if (!(v >= 1.0) || !(v < static_cast<double>(masters.size()))) continue;
      const HruRecord& m = masters[static_cast<size_t>(v)];
      if (m.row < ScopeFirstRow(scope) || m.row > ScopeLastRow(scope) || m.column < 1 ||
          m.column > scope.geometry->ncols)
        continue;
      grid[r][c] = grid[m.row][m.column];
    }
  }
}
