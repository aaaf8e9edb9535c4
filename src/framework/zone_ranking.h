// Ranking of a module's own zone grid (the soil and snow models rank the sub-basins of
// "zonegrid_soilmodel"): zone table in ascending code order with areas and fractions,
// and the map from code to zone index.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/zonalstatistic.h"

class LogStream;

constexpr int kMaxZoneCode = 32767;
constexpr int kMaxZonesWhileRanking = 16000;
constexpr int kMaxSubbasins = 10000;

// The grid to rank and what the cells weigh.
struct ZoneGridView {
  double** grid = nullptr;                        // rows 1..nrows, columns 1..ncols
  int nrows = 0;
  int ncols = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // first and last basin column per row; may be null
  double nodata = -9999.0;
  double cellsize = 0.0;
  double xllcorner = 0.0;  // the basin's lower-left corner: messages name a cell's place
  double yllcorner = 0.0;
  double** weights = nullptr;  // relative cell areas; null: every cell weighs 1
};

struct ZoneRanking {
  std::vector<ZoneTableEntry> table;  // entries 0..zoneCount
  std::vector<int> codeMap;           // code 0..largestCode -> zone index (0: code absent)
  int zoneCount = 0;
  int largestCode = 0;
};

// Cell value to zone code: the nearest whole number.
double ZoneCodeOf(double cellValue);

// Ranks the zones of the grid. Cells holding the no-data value are skipped. A code is a
// whole number: a value within a float's rounding of one becomes that number in the grid
// (2.9999999 is 3 for every reader), any other ends the run. Failures are logged (fileName
// names the grid, moduleName the module) and thrown: 3 for a value that is no whole number
// or a code outside 0..32767, 4 for more than 16000 codes or more than 10000 zones, 7 when
// no zone or no area is left.
ZoneRanking RankZoneGrid(const ZoneGridView& view, LogStream* log, const std::string& fileName,
                         const std::string& moduleName);
