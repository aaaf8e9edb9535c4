#include "framework/zone_ranking.h"

#include <algorithm>
#include <cmath>

#include "framework/logstream.h"
#include "framework/teilmod.h"
#include "framework/text_helpers.h"
#include "grids/grid_codes.h"
#include "grids/grid_registry.h"

namespace {

// The columns of row r that hold basin cells.
void ColumnRange(const ZoneGridView& v, int r, int& first, int& last) {
  first = 1;
  last = v.ncols;
  if (v.rowBounds && static_cast<size_t>(r) < v.rowBounds->size()) {
    first = std::max(1, (*v.rowBounds)[static_cast<size_t>(r)].first);
    last = std::min(v.ncols, (*v.rowBounds)[static_cast<size_t>(r)].last);
  }
}

// Sets every value of the grid within a float's rounding of a whole number to it, and ends
// the run at a value that is none: 2.6 would be sub-basin 2 by its integer part and 3
// rounded, and the zone grid, which takes integer parts, may hold the same file.
void MakeSubbasinCodesWhole(const ZoneGridView& v, LogStream* log, const std::string& fileName) {
  long fractions = 0;
  int row = 0, column = 0;
  double first = 0.0;
  for (int r = 1; r <= v.nrows; ++r) {
    int c0, c1;
    ColumnRange(v, r, c0, c1);
    for (int c = c0; c <= c1; ++c) {
      double& value = v.grid[r][c];
      if (value == v.nodata) continue;
      double code = 0.0;
      if (WholeCodeOf(value, code)) {
        value = code;
      } else if (fractions++ == 0) {
        row = r;
        column = c;
        first = value;
      }
    }
  }
  if (fractions == 0) return;
  if (log) {
    GridGeometry g;
    g.nrows = v.nrows;
    g.ncols = v.ncols;
    g.cellsize = v.cellsize;
    g.xllcorner = v.xllcorner;
    g.yllcorner = v.yllcorner;
    *log << "FATAL: the sub-basin grid \"zonegrid_soilmodel\" (" << fileName << ") holds " << ExactNumberText(first)
         << " at " << CellPlace(g, row, column);
    if (fractions > 1)
      *log << ", and " << fractions - 1 << (fractions == 2 ? " more cell holds" : " more cells hold")
           << " no whole number";
    *log << ": a sub-basin code is a whole number (a float export's 2.9999999 is taken as 3), and a value such as "
            "2.6 is no sub-basin, neither 2 nor 3. Write the sub-basin codes of "
         << fileName << " as whole numbers" << "[end-entry]";
  }
  throw 3;
}

}  // namespace

double ZoneCodeOf(double cellValue) { return std::floor(cellValue + 0.5); }

ZoneRanking RankZoneGrid(const ZoneGridView& v, LogStream* log, const std::string& fileName,
                         const std::string& moduleName) {
  ZoneRanking result;
  std::vector<ZoneTableEntry> entries(1);
  entries[0].code = 1.0;
  entries[0].fraction = 1.0;
  std::vector<int> map(kMaxZoneCode + 1, 0);
  int largest = 0;
  MakeSubbasinCodesWhole(v, log, fileName);

  for (int r = 1; r <= v.nrows; ++r) {
    int first, last;
    ColumnRange(v, r, first, last);
    for (int c = first; c <= last; ++c) {
      const double value = v.grid[r][c];
      if (value == v.nodata) continue;
      const double code = ZoneCodeOf(value);
      if (!(code >= 0.0 && code <= kMaxZoneCode)) {  // also NaN
        if (log)
          *log << "FATAL: wrong zone index in " << fileName << "!\n Zones have to range from 0 to " << kMaxZoneCode
               << "!" << "[end-entry]";
        throw 3;
      }
      const int k = static_cast<int>(code);
      if (map[static_cast<size_t>(k)] != 0) continue;
      if (static_cast<int>(entries.size()) > kMaxZonesWhileRanking) {
        if (log)
          *log << "FATAL: too much zones in " << fileName << ", (max. " << kMaxZonesWhileRanking << "!)"
               << "[end-entry]";
        throw 4;
      }
      ZoneTableEntry e;
      e.code = code;
      entries.push_back(e);
      map[static_cast<size_t>(k)] = static_cast<int>(entries.size()) - 1;
      largest = std::max(largest, k);
    }
  }

  // Ascending code order; the codes are distinct whole numbers.
  std::sort(entries.begin() + 1, entries.end(),
            [](const ZoneTableEntry& a, const ZoneTableEntry& b) { return a.code < b.code; });
  const int zones = static_cast<int>(entries.size()) - 1;
  for (int z = 1; z <= zones; ++z) map[static_cast<size_t>(entries[static_cast<size_t>(z)].code)] = z;

  for (int r = 1; r <= v.nrows; ++r) {
    int first, last;
    ColumnRange(v, r, first, last);
    for (int c = first; c <= last; ++c) {
      const double value = v.grid[r][c];
      if (value == v.nodata) continue;
      ZoneTableEntry& e = entries[static_cast<size_t>(map[static_cast<size_t>(ZoneCodeOf(value))])];
      const double w = v.weights ? v.weights[r][c] : 1.0;
      e.cellCount += 1.0;
      e.areaSum += w;
      e.areaSum2 += w;
    }
  }

  double total = 0.0;
  for (int z = 1; z <= zones; ++z) total += entries[static_cast<size_t>(z)].areaSum;
  if (zones < 1 || total == 0.0) {
    if (log) *log << "FATAL: all cells in " << fileName << " are NODATA!" << "[end-entry]";
    throw 7;
  }
  for (int z = 1; z <= zones; ++z) entries[static_cast<size_t>(z)].fraction = entries[static_cast<size_t>(z)].areaSum / total;
  entries[0].fraction = v.cellsize * total * v.cellsize / 1000000.0;

  if (zones > kMaxSubbasins) {
    if (log)
      *log << "FATAL: too much subbasins (" << zones << ") in " << moduleName << " (max. " << kMaxSubbasins
           << "). Ende!" << "[end-entry]";
    throw 4;
  }

  result.table = std::move(entries);
  result.codeMap.assign(map.begin(), map.begin() + largest + 1);
  result.zoneCount = zones;
  result.largestCode = largest;
  return result;
}

// ---------------------------------------------------------------------------------------
// The process-module base's ranking of "zonegrid_soilmodel".

void teilmodellklasse::RankZones(double**& gridOut, std::vector<ZoneTableEntry>& tableOut,
                                 std::vector<int>& codeMapOut, int& zoneCountOut, int& largestCodeOut) {
  gridOut = nullptr;
  tableOut.clear();
  codeMapOut.clear();
  zoneCountOut = 0;
  largestCodeOut = 0;
  const int position = RequireGrid("zonegrid_soilmodel");
  const GridRecord& record = grids[position];
  gridOut = record.data;
  if (instanceNumber != 0) return;

  if (log) *log << "ranking zones from " << record.fileName << " for " << name << "[end-entry]";
  ZoneGridView view;
  view.grid = record.data;
  view.nrows = geometry.nrows;
  view.ncols = geometry.ncols;
  view.rowBounds = rowBounds.size() > static_cast<size_t>(geometry.nrows) ? &rowBounds : nullptr;
  view.nodata = geometry.nodata_value;
  view.cellsize = geometry.cellsize;
  view.xllcorner = geometry.xllcorner;
  view.yllcorner = geometry.yllcorner;
  view.weights = relCellArea;
  if (!view.grid) {
    if (log) *log << "FATAL: all cells in " << record.fileName << " are NODATA!" << "[end-entry]";
    throw 7;
  }
  ZoneRanking ranking = RankZoneGrid(view, log, record.fileName, name);
  tableOut = std::move(ranking.table);
  codeMapOut = std::move(ranking.codeMap);
  zoneCountOut = ranking.zoneCount;
  largestCodeOut = ranking.largestCode;
}
