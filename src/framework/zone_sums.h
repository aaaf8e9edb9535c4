// Zone sums of several statistics writers over the same cells, summed while a module's cell
// loop runs instead of in one pass over the grid per writer.
//
// The rows of the loop are split into fixed blocks whose layout depends on the rows only,
// never on the threads. A block is walked by one thread, which adds its cells to the
// block's sums; after the loop the block sums are added to each writer's zone table in
// block order. The sums are therefore the same for every thread count:
//
//     sums.Prepare(cells, relCellArea, nrows, ncols, writerCount, zoneCount, firstRow, lastRow);
//   #pragma omp parallel for schedule(runtime)
//     for (int b = 0; b < sums.Blocks(); ++b)
//       for (int r = sums.FirstRow(b); r <= sums.LastRow(b); ++r) {
//         ... compute row r ...
//         sums.AddRow(b, r, [&](int c, const ZoneSums::Cell& cell) { cell.AddValue(0, grid[r][c]); });
//       }
//     sums.Fold(tables);   // tables[j]: writer j's zone table (null: the writer is off)
//
// or, adding while the row is computed: ZoneSums::Row row = sums.RowOf(b, r), and per cell
// row.At(c).Add(j, value, weight). A cell counts as it does for zonalstatistic::AddCells (ZoneCells), and each value is
// weighted as zonalstatistic weighs it: the weight of the call, and the writer's weight
// grid (the relative cell area) where that holds a value.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/zonalstatistic.h"

class ZoneSums {
 public:
  // A cell of a row. Adding to a cell that does not count does nothing.
  class Cell {
   public:
    bool Counts() const { return sums != nullptr; }
    // Adds value with the given weight to writer j's sums of the cell's zone (as
    // zonalstatistic::AddCellValue does).
    void Add(int j, double value, double weight = 1.0) const {
      if (sums == nullptr || !active[j]) return;
      // A cell the weight grid does not weigh has cellWeight 1, which multiplies exactly.
      double* s = sums + 3 * j;
      s[0] += weight;
      s[2] += cellWeight * weight;
      s[1] += weight * value * cellWeight;
    }
    // The same, leaving out no-data and NaN (as zonalstatistic::AddCells does).
    void AddValue(int j, double value, double weight = 1.0) const {
      if (value != value || value == nodata) return;
      Add(j, value, weight);
    }

   private:
    friend class ZoneSums;
    double* sums = nullptr;  // writer 0's three sums of the cell's zone in its block
    const uint8_t* active = nullptr;  // per writer: 0 when its sums are not wanted
    double cellWeight = 1.0;  // the weight grid's value, 1 where it holds none
    double nodata = -9999.0;
  };

  // The cells of one row of a block, for loops that add as they go.
  class Row {
   public:
    // Cell c of the row (one that does not count when c is outside the row's cells).
    Cell At(int c) {
      Cell cell;
      if (owner == nullptr || c < first || c > last) return cell;
      const ZoneCells& cells = owner->cells;
      const double z = zoneRow[c];
      if (!(z > cells.nodata) || !(z >= 0.0 && z < cells.maxCode + 1.0)) return cell;
      if (regionRow && regionRow[c] != cells.instance) return cell;
      return InZone(c, cells.codeMap[static_cast<int>(z)]);
    }
    // Cell c of the row in the zone index zi the caller found (as AddCellValue takes it);
    // it counts when zi is a zone and c lies in the row's cells.
    Cell InZone(int c, int zi) {
      Cell cell;
      if (owner == nullptr || c < first || c > last || zi <= 0 || zi > owner->zoneCount) return cell;
      // Cells of a row mostly follow each other in one zone: its sums are looked up once.
      if (zi != lastZone) {
        lastZone = zi;
        lastSums = owner->Touch(block, zi);
      }
      cell.sums = lastSums;
      cell.active = owner->active.data();
      const bool weighted = weightRow != nullptr && c <= owner->weightCols && weightRow[c] > kWeightNodata;
      cell.cellWeight = weighted ? weightRow[c] : 1.0;
      cell.nodata = owner->cells.nodata;
      return cell;
    }
    int First() const { return first; }
    int Last() const { return last; }

   private:
    friend class ZoneSums;
    ZoneSums* owner = nullptr;  // null: no cell of the row counts
    const double* zoneRow = nullptr;
    const double* regionRow = nullptr;
    const double* weightRow = nullptr;
    int block = 0, first = 1, last = 0;
    int lastZone = 0;  // the zone of the last cell that counted, and its sums
    double* lastSums = nullptr;
  };

  // Lays out the blocks of the loop rows loopFirst..loopLast for the given writers and
  // zones. weightGrid (rows 1..weightRows, columns 1..weightCols; may be null) is the
  // writers' weight grid. tables (may be null: every writer) are the tables Fold will be
  // given: what is added for a writer whose table is null is not summed, and with no
  // table at all no cell counts. Allocates only when the layout grows; the sums start cleared.
  void Prepare(const ZoneCells& cells, double** weightGrid, int weightRows, int weightCols, int writers,
               int zoneCount, int loopFirst, int loopLast, ZoneTableEntry* const* tables = nullptr);
  int Blocks() const { return blocks; }
  int FirstRow(int b) const { return loopFirst + b * rowsPerBlock; }
  int LastRow(int b) const { return FirstRow(b) + rowsPerBlock - 1 < loopLast ? FirstRow(b) + rowsPerBlock - 1 : loopLast; }

  // Row r of block b.
  Row RowOf(int b, int r) {
    Row row;
    if (!anyActive || r < cells.firstRow || r > cells.lastRow || cells.zone == nullptr || cells.codeMap == nullptr)
      return row;
    row.zoneRow = cells.zone[r];
    row.regionRow = cells.regions ? cells.regions[r] : nullptr;
    if (row.zoneRow == nullptr || (cells.regions && row.regionRow == nullptr)) return row;
    row.weightRow = weightGrid != nullptr && r >= 1 && r <= weightRows ? weightGrid[r] : nullptr;
    row.owner = this;
    row.block = b;
    cells.Columns(r, row.first, row.last);
    return row;
  }
  // Calls cellFunction(c, cell) for every counting cell of row r (a row of block b), in
  // column order: the cells RowOf(b, r).At(c) counts, found once for the run (ZoneRuns).
  template <typename CellFunction>
  void AddRow(int b, int r, CellFunction cellFunction) {
    if (!anyActive) return;
    const double* weightRow = weightGrid != nullptr && r >= 1 && r <= weightRows ? weightGrid[r] : nullptr;
    const uint8_t* writerActive = active.data();
    const double nodata = cells.nodata;
    for (const ZoneRuns::Run* k = zoneRuns.Begin(r); k != zoneRuns.End(r); ++k) {
      const ZoneRuns::Run& run = *k;
      double* const zoneSums = Touch(b, run.zone);
      if (zoneSums == nullptr) __builtin_unreachable();  // lets the adds leave out their check
      // A cell the weight grid does not weigh counts with 1.
      const int weightedLast = weightRow == nullptr ? run.first - 1 : run.last < weightCols ? run.last : weightCols;
      for (int c = run.first; c <= run.last; ++c) {
        Cell cell;
        cell.sums = zoneSums;
        cell.active = writerActive;
        cell.cellWeight = c <= weightedLast && weightRow[c] > kWeightNodata ? weightRow[c] : 1.0;
        cell.nodata = nodata;
        cellFunction(c, static_cast<const Cell&>(cell));
      }
    }
  }

  // Adds the block sums to the writers' zone tables in block order (tables[j] is writer j's
  // table, zones 0..zoneCount; null leaves writer j out) and leaves the blocks cleared.
  void Fold(ZoneTableEntry* const* tables);

 private:
  // The writers' weight grid holds no value at or below this.
  static constexpr double kWeightNodata = -9999.0;
  // The sums of zone zi in block b, marked as touched.
  double* Touch(int b, int zi) {
    const size_t base = static_cast<size_t>(b) * (static_cast<size_t>(zoneCount) + 1);
    const size_t slot = base + static_cast<size_t>(zi);
    if (!touched[slot]) {
      touched[slot] = 1;
      touchedZones[base + static_cast<size_t>(touchedCount[static_cast<size_t>(b)]++)] = zi;
    }
    return &sums[slot * 3 * static_cast<size_t>(writers)];
  }
  // Most blocks the rows are split into: enough to spread over the threads, few enough
  // that the block sums stay small beside the grids.
  static constexpr int kMaxBlocks = 64;

  ZoneRuns zoneRuns;  // the counting cells of every row

  ZoneCells cells;
  double** weightGrid = nullptr;
  int weightRows = 0, weightCols = 0;
  int writers = 0, zoneCount = 0;
  int loopFirst = 1, loopLast = 0, rowsPerBlock = 1, blocks = 0;
  std::vector<uint8_t> active;  // per writer
  bool anyActive = false;
  std::vector<double> sums;       // blocks * (zoneCount + 1) * writers * 3
  std::vector<uint8_t> touched;   // blocks * (zoneCount + 1)
  std::vector<int> touchedZones;  // per block, the zones in order of first touch
  std::vector<int> touchedCount;  // blocks
};
