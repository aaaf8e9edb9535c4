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
  zoneRuns.Update(cells, zoneCount);
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

