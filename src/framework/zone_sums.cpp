#include "framework/zone_sums.h"

#include <algorithm>

void ZoneSums::Prepare(const ZoneCells& cellsIn, double** weights, int rows, int cols, int writerCount,
                       int zones, int first, int last, ZoneTableEntry* const* tables) {
  cells = cellsIn;
  weightGrid = weights;
  weightRows = rows;
  weightCols = cols;
  const int rowCount = std::max(0, last - first + 1);
  const size_t perBlock = static_cast<size_t>(std::max(zones, 0)) + 1;
  const size_t width = 3 * static_cast<size_t>(std::max(writerCount, 0));
  const bool sameShape = writerCount == writers && zones == zoneCount;
  active.assign(static_cast<size_t>(std::max(writerCount, 0)), 1);
  anyActive = writerCount > 0;
  if (tables != nullptr) {
    anyActive = false;
    for (int j = 0; j < writerCount; ++j) {
      active[static_cast<size_t>(j)] = tables[j] != nullptr;
      anyActive = anyActive || tables[j] != nullptr;
    }
  }
  writers = std::max(writerCount, 0);
  zoneCount = std::max(zones, 0);
  if (runZones != zoneCount || !SameCells(runCells, cells)) MakeRuns();
  loopFirst = first;
  loopLast = last;
  rowsPerBlock = std::max(1, (rowCount + kMaxBlocks - 1) / kMaxBlocks);
  blocks = (rowCount + rowsPerBlock - 1) / rowsPerBlock;
  const size_t slots = static_cast<size_t>(blocks) * perBlock;
  if (!sameShape || touched.size() < slots) {
    sums.assign(slots * width, 0.0);
    touched.assign(slots, 0);
    touchedZones.assign(slots, 0);
    touchedCount.assign(static_cast<size_t>(blocks), 0);
    return;
  }
  // Sums a step left behind unfolded (a step given up half-way) do not carry over.
  for (size_t b = 0; b < touchedCount.size(); ++b) {
    const size_t base = b * perBlock;
    for (int i = 0; i < touchedCount[b]; ++i) {
      const size_t slot = base + static_cast<size_t>(touchedZones[base + static_cast<size_t>(i)]);
      std::fill_n(&sums[slot * width], width, 0.0);
      touched[slot] = 0;
    }
    touchedCount[b] = 0;
  }
}

void ZoneSums::Fold(ZoneTableEntry* const* tables) {
  const size_t perBlock = static_cast<size_t>(zoneCount) + 1;
  const size_t width = 3 * static_cast<size_t>(writers);
  for (int b = 0; b < blocks; ++b) {
    const size_t base = static_cast<size_t>(b) * perBlock;
    const int n = touchedCount[static_cast<size_t>(b)];
    for (int i = 0; i < n; ++i) {
      const int z = touchedZones[base + static_cast<size_t>(i)];
      const size_t slot = base + static_cast<size_t>(z);
      double* s = &sums[slot * width];
      for (int j = 0; j < writers; ++j, s += 3) {
        if (tables != nullptr && tables[j] != nullptr) {
          ZoneTableEntry& e = tables[j][z];
          e.areaSum += s[0];
          ValueSum(e) += s[1];
          WeightedAreaSum(e) += s[2];
        }
        s[0] = s[1] = s[2] = 0.0;
      }
      touched[slot] = 0;
    }
    touchedCount[static_cast<size_t>(b)] = 0;
  }
}

bool ZoneSums::SameCells(const ZoneCells& a, const ZoneCells& b) {
  return a.zone == b.zone && a.nodata == b.nodata && a.codeMap == b.codeMap && a.maxCode == b.maxCode &&
         a.firstRow == b.firstRow && a.lastRow == b.lastRow && a.ncols == b.ncols && a.rowBounds == b.rowBounds &&
         a.regions == b.regions && a.instance == b.instance;
}

void ZoneSums::MakeRuns() {
  runs.clear();
  rowRuns.clear();
  runCells = cells;
  runZones = zoneCount;
  if (cells.zone == nullptr || cells.codeMap == nullptr || cells.lastRow < cells.firstRow) return;
  const double codeLimit = cells.maxCode + 1.0;
  rowRuns.reserve(static_cast<size_t>(cells.lastRow - cells.firstRow) + 2);
  for (int r = cells.firstRow; r <= cells.lastRow; ++r) {
    const size_t rowStart = runs.size();
    rowRuns.push_back(rowStart);
    const double* zoneRow = cells.zone[r];
    const double* regionRow = cells.regions ? cells.regions[r] : nullptr;
    if (zoneRow == nullptr || (cells.regions && regionRow == nullptr)) continue;
    int first, last;
    cells.Columns(r, first, last);
    for (int c = first; c <= last; ++c) {
      // The cell counts as Row::At finds it.
      const double z = zoneRow[c];
      if (!(z > cells.nodata) || !(z >= 0.0 && z < codeLimit)) continue;
      if (regionRow && regionRow[c] != cells.instance) continue;
      const int zi = cells.codeMap[static_cast<int>(z)];
      if (zi <= 0 || zi > zoneCount) continue;
      if (runs.size() > rowStart && runs.back().zone == zi && runs.back().last == c - 1)
        runs.back().last = c;
      else
        runs.push_back(Run{c, c, zi});
    }
  }
  rowRuns.push_back(runs.size());
}
