// Zone and region ranking: codes of the zone grid and of the regression regions mapped to
// consecutive indexes in ascending code order, with areas, fractions, row column bounds
// and region centres.
#include <cmath>

#include "framework/logstream.h"
#include "grids/grid_codes.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

// Sorts the entries 1..n by code with exchanges that keep the code map in step.
template <typename Entry, typename CodeOf>
void SortByCode(std::vector<Entry>& entries, int n, std::vector<int>& codeMap, CodeOf codeOf) {
  bool exchanged = true;
  while (exchanged) {
    exchanged = false;
    for (int i = 1; i < n; ++i) {
      if (codeOf(entries[i]) > codeOf(entries[i + 1])) {
        std::swap(entries[i], entries[i + 1]);
        codeMap[codeOf(entries[i])] = i;
        codeMap[codeOf(entries[i + 1])] = i + 1;
        exchanged = true;
      }
    }
  }
}

}  // namespace

void defaultini::RankZones(double** weights) {
  if (instanceNumber != 0) return;
  const std::string& file = GridFileName(1);
  if (log) *log << "ranking zones from " << file << " for " << name << "[end-entry]";
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  double** zones = GridData(1);

  std::vector<RowBounds> bounds(static_cast<size_t>(nrows) + 1, RowBounds{0, -1});
  std::vector<int> codeMap(kMaxZoneCode + 1, 0);
  std::vector<ZoneTableEntry> entries(1);
  int count = 0, largest = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!IsBasinCell(r, c)) continue;
      if (bounds[r].last < 0) bounds[r].first = c;
      bounds[r].last = c;
      // A code is the value's integer part (4.9 is 4), the whole number it stands for where
      // it is one to a float's rounding (2.9999999 is 3). The cell keeps its code, so that
      // every reader of the zone grid takes the code ranked here.
      const double v = WholeIfNear(zones[r][c]);
      if (v < 0 || v >= kMaxZoneCode + 1.0) {
        if (log)
          *log << "FATAL: invalid zone code in " << file << "!\n (codes has to be between 0 and " << kMaxZoneCode
               << ")!" << "[end-entry]";
        throw 3;
      }
      const int code = static_cast<int>(v);
      zones[r][c] = code;
      if (codeMap[code] == 0) {
        if (count >= kMaxZones) {
          if (log) *log << "FATAL: too much zones in " << file << ", (max. " << kMaxZones << ")!" << "[end-entry]";
          throw 4;
        }
        codeMap[code] = ++count;
        ZoneTableEntry e;
        e.code = code;
        entries.push_back(e);
        if (code > largest) largest = code;
      }
    }
  }
  if (count >= 2) SortByCode(entries, count, codeMap, [](const ZoneTableEntry& e) { return static_cast<int>(e.code); });

  for (int r = 1; r <= nrows; ++r) {
    for (int c = bounds[r].first; c <= bounds[r].last; ++c) {
      if (!IsBasinCell(r, c)) continue;
      ZoneTableEntry& e = entries[codeMap[static_cast<int>(zones[r][c])]];
      const double w = weights && weights[r] ? weights[r][c] : 1.0;
      e.cellCount += 1.0;
      e.areaSum += w;
      e.areaSum2 += w;
    }
  }
  double total = 0.0;
  for (int i = 1; i <= count; ++i) total += entries[i].areaSum;
  if (count == 0 || total == 0.0) {
    if (log) *log << "FATAL: all cells in the zone grid " << file << " are NODATA!" << "[end-entry]";
    throw 7;
  }
  for (int i = 1; i <= count; ++i) entries[i].fraction = entries[i].areaSum / total;
  entries[0].fraction = total * geometry.cellsize * geometry.cellsize / 1000000.0;

  codeMap.resize(static_cast<size_t>(largest) + 1);
  run.zoneCount = count;
  run.maxZoneCode = largest;
  run.zoneTable = std::move(entries);
  run.zoneCodeMap = std::move(codeMap);
  run.rowBounds = bounds;
  rowBounds = std::move(bounds);
}

void defaultini::RankRegions(int position) {
  if (instanceNumber != 0) return;
  const std::string& file = GridFileName(position);
  if (log) *log << "ranking regions from " << file << " for " << name << "[end-entry]";
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  double** regions = GridData(position);

  std::vector<int> codeMap(kMaxZoneCode + 1, 0);
  std::vector<RegionTableEntry> entries(1);
  std::vector<int> codes(1, 0);
  int count = 0, largest = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!IsBasinCell(r, c)) continue;
      // The integer part, as of the zone grid; the cell keeps its code for the weights and
      // the interpolation, which compare and index by it.
      const double v = WholeIfNear(regions[r][c]);
      if (!(v >= 1.0 && v < kMaxZoneCode + 1.0)) {
        if (log)
          *log << "FATAL: invalid region code in " << file << "!\n (codes has to be between 1 and " << kMaxZoneCode
               << ")!" << "[end-entry]";
        throw 3;
      }
      const int code = static_cast<int>(v);
      regions[r][c] = code;
      if (codeMap[code] == 0) {
        if (count >= kMaxRegions) {
          if (log) *log << "FATAL: too much zones in " << file << ", (max. " << kMaxRegions << ")!" << "[end-entry]";
          throw 4;
        }
        codeMap[code] = ++count;
        codes.push_back(code);
        if (code > largest) largest = code;
      }
    }
  }
  // The codes sort with their map; the table entries follow the sorted order.
  if (count >= 2) SortByCode(codes, count, codeMap, [](int code) { return code; });
  entries.resize(static_cast<size_t>(count) + 1);
  std::vector<long> rowSum(entries.size(), 0), colSum(entries.size(), 0);
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!IsBasinCell(r, c) || regions[r][c] == geometry.nodata_value) continue;
      const int i = codeMap[static_cast<int>(regions[r][c])];
      rowSum[i] += r;
      colSum[i] += c;
      entries[i].meanRowD += r;
      entries[i].meanColumnD += c;
      entries[i].cellCount += 1.0;
    }
  }
  for (int i = 1; i <= count; ++i) {
    const double n = entries[i].cellCount;
    if (n <= 0) continue;
    entries[i].meanRow = static_cast<int>(rowSum[i] / static_cast<long>(n));
    entries[i].meanColumn = static_cast<int>(colSum[i] / static_cast<long>(n));
    entries[i].meanRowD /= n;
    entries[i].meanColumnD /= n;
  }
  codeMap.resize(static_cast<size_t>(largest) + 1);
  run.regionCount = count;
  run.maxRegionCode = largest;
  run.regionCodeMap = std::move(codeMap);
  run.regionTable = std::move(entries);
}
