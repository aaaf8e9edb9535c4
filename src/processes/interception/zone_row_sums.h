// Zone statistics of a parallel cell loop: every row keeps its own partial zone sums, which
// are folded into the writer's zone table in row order after the loop. The result does not
// depend on the number of threads or on how rows are shared among them.
#pragma once

#include <algorithm>
#include <vector>

#include "framework/zonalstatistic.h"

class ZoneRowSums {
 public:
  // One set of sums per row firstRow..lastRow and zone 0..zoneCount. weightGrid is the
  // writer's cell weight grid (may be null), nodata its no-data value.
  void Reset(int firstRowIn, int lastRowIn, int zoneCountIn, double** weightGridIn, double nodataIn) {
    firstRow = firstRowIn;
    zoneCount = zoneCountIn;
    weightGrid = weightGridIn;
    nodata = nodataIn;
    const int rows = lastRowIn >= firstRowIn ? lastRowIn - firstRowIn + 1 : 0;
    sums.assign(static_cast<size_t>(rows) * static_cast<size_t>(zoneCount + 1) * 3, 0.0);
  }
  // Clears the sums of one row; only the thread that owns the row calls it.
  void ClearRow(int row) {
    double* s = RowBegin(row);
    std::fill(s, s + 3 * (zoneCount + 1), 0.0);
  }
  // The same bookkeeping as zonalstatistic::AddCellValue, into the row's own sums.
  void Add(int row, int col, int zoneIndex, double value, double weight) {
    if (zoneIndex < 0 || zoneIndex > zoneCount) return;
    double* z = RowBegin(row) + 3 * zoneIndex;
    z[0] += weight;
    const double w = weightGrid && weightGrid[row] ? weightGrid[row][col] : nodata;
    if (w > nodata) {
      z[1] += w * weight;
      z[2] += weight * value * w;
    } else {
      z[1] += weight;
      z[2] += weight * value;
    }
  }
  // Adds the rows' sums, in row order, to the zone table the writer sums into.
  void FoldInto(ZoneTableEntry* zones) const {
    if (!zones || sums.empty()) return;
    const size_t stride = static_cast<size_t>(zoneCount + 1) * 3;
    for (size_t base = 0; base < sums.size(); base += stride)
      for (int k = 0; k <= zoneCount; ++k) {
        const double* z = &sums[base + 3 * static_cast<size_t>(k)];
        zones[k].areaSum += z[0];
        WeightedAreaSum(zones[k]) += z[1];
        ValueSum(zones[k]) += z[2];
      }
  }

 private:
  double* RowBegin(int row) {
    return &sums[static_cast<size_t>(row - firstRow) * static_cast<size_t>(zoneCount + 1) * 3];
  }
  std::vector<double> sums;
  int firstRow = 1;
  int zoneCount = 0;
  double** weightGrid = nullptr;
  double nodata = -9999.0;
};
