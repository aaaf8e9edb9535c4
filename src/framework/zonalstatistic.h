// Statistics files: tab-separated time series of one grid variable aggregated per zone
// (zonalstatistic) and the discharge table per sub-basin with its model-efficiency block
// (routstatistic, in routstatistic.h).
//
// Calling order per writer: construct -> WriteHeader once -> every step ClearZoneSums,
// AddCells (or AddGrid) with the step's values, AggregateAndWrite with the step's date ->
// WriteRow when the owner wants the buffer flushed -> Release at the end.
//
// Adding a step's values: describe once which cells count and in which zone (ZoneCells),
// then after the (parallel) cell loop of the step
//
//     statistics->AddGrid(cells, resultGrid);                     // a grid of values, or
//     statistics->AddCells(cells, [&](int r, int c) { return flux[r][c] * f; });
//
// Both run in parallel over fixed blocks of rows: each block sums its cells in row and
// column order, and the block sums are added to the zones in block order. The sums are
// therefore the same for every thread count. Call them outside any parallel region; the
// value function is called concurrently and must only read.
//
// A module whose cell loop feeds several writers over the same cells sums them in one pass
// while the loop runs, with the same block layout and the same result: ZoneSums
// (framework/zone_sums.h).
#pragma once

#include <omp.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/thread_policy.h"

class LogStream;

// One entry of a zone table (zone ranking): entries 0..Z, five doubles each. The ranking
// fills area sum, cell count, code, area fraction and a second area sum. A statistics
// writer uses the second slot as its value sum and the fifth as its weighted area sum and
// overwrites the sums of every entry, so each writer gets its own copy of the table.
struct ZoneTableEntry {
  double areaSum = 0.0;
  double cellCount = 0.0;  // a writer's value sum
  double code = 0.0;
  double fraction = 0.0;  // entry 0: total basin area in km²
  double areaSum2 = 0.0;  // a writer's weighted area sum
};
// The writer's names of the two reused slots.
inline double& ValueSum(ZoneTableEntry& e) { return e.cellCount; }
inline double ValueSum(const ZoneTableEntry& e) { return e.cellCount; }
inline double& WeightedAreaSum(ZoneTableEntry& e) { return e.areaSum2; }
inline double WeightedAreaSum(const ZoneTableEntry& e) { return e.areaSum2; }
static_assert(sizeof(ZoneTableEntry) == 5 * sizeof(double), "a zone entry is five doubles");

// One entry of the application's statistics table. A writer enters itself by pointing the
// entry at its own arrays; values == nullptr marks a free entry. The writer clears its
// entries again when it is released, so the table never points into freed memory.
struct StatisticsTableEntry {
  const int64_t* lastRowDate = nullptr;  // year, month, day, hour, minute of the last row
  const int* valueCount = nullptr;       // values per row
  double* values = nullptr;              // current value of each column (1-based)
  double* secondValues = nullptr;        // second value array (1-based)
  const double* areaFractions = nullptr;  // 1-based
  const char* title = nullptr;
  const int64_t* codes = nullptr;  // zone code of each column (1-based)
};

// Size of the row buffer in bytes; rows are written in blocks of this size.
constexpr long kStatisticsBufferBytes = 2097152;

// The cells that count for zone statistics and the zone index of each. A cell counts when
// it lies in the rows firstRow..lastRow and its row's active columns, its zone code is a
// code 0..maxCode whose zone index (codeMap) is above 0, and, with regions, the region
// grid holds this instance's number there. Zone codes at or below nodata (and NaN) lie
// outside the basin.
struct ZoneCells {
  double** zone = nullptr;
  double nodata = -9999.0;
  const int* codeMap = nullptr;  // zone code -> zone index (0: no zone), codes 0..maxCode
  int maxCode = -1;
  int firstRow = 1, lastRow = 0, ncols = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // optional: active columns per row
  double** regions = nullptr;                         // optional
  int instance = 0;

  // Zone index of a cell of a held row (0: the cell does not count).
  int ZoneIndex(int r, int c) const {
    const double z = zone[r][c];
    if (!(z > nodata) || !(z >= 0.0 && z < maxCode + 1.0)) return 0;
    if (regions && !(regions[r] && regions[r][c] == instance)) return 0;
    return codeMap[static_cast<int>(z)];
  }
  // Active columns of row r, clamped to 1..ncols.
  void Columns(int r, int& first, int& last) const {
    first = 1;
    last = ncols;
    if (rowBounds && static_cast<size_t>(r) < rowBounds->size()) {
      first = (*rowBounds)[static_cast<size_t>(r)].first > 1 ? (*rowBounds)[static_cast<size_t>(r)].first : 1;
      last = (*rowBounds)[static_cast<size_t>(r)].last < ncols ? (*rowBounds)[static_cast<size_t>(r)].last : ncols;
    }
  }
};

// The counting cells of a ZoneCells with zone indices 1..zones, row by row, as runs of
// neighbours in one zone. They are made once for a module's cells and made again for other
// cells, or after a grid was rewritten in place during the run (GridsRewritten): a zone or
// region grid can be a periodic grid or a target of data assimilation.
class ZoneRuns {
 public:
  struct Run {
    int first, last, zone;
  };
  // Makes the runs unless they are made for these cells and zones already and no grid was
  // rewritten since. Not while a loop reads them.
  void Update(const ZoneCells& cells, int zones);
  // Called by whatever rewrites a grid's values in place during the run (a periodic grid
  // read again or restored, data assimilation): every ZoneRuns is made again at its next
  // Update.
  static void GridsRewritten();
  // How often GridsRewritten was called (it starts at 1).
  static unsigned long Rewrites();
  // The runs of row r, in column order (none outside the cells' rows).
  const Run* Begin(int r) const { return Holds(r) ? runs.data() + rowRuns[static_cast<size_t>(r - made.firstRow)] : nullptr; }
  const Run* End(int r) const {
    return Holds(r) ? runs.data() + rowRuns[static_cast<size_t>(r - made.firstRow) + 1] : nullptr;
  }

 private:
  bool Holds(int r) const { return !rowRuns.empty() && r >= made.firstRow && r <= made.lastRow; }
  std::vector<Run> runs;
  std::vector<size_t> rowRuns;  // row r's runs: rowRuns[r - firstRow] up to rowRuns[r - firstRow + 1]
  ZoneCells made;               // the cells and zones the runs are made for
  int madeZones = -1;
  unsigned long madeRewrites = 0;  // the count of GridsRewritten when they were made
};

class zonalstatistic {
 public:
  // code <= 1000 builds an inactive writer. decimals > 98 writes values as "%.6g". An
  // output directory (may be null) is put in front of a relative file name. listCodes is
  // 1-based (listCount codes, ascending). Never throws: a failure sets *error to 1.
  zonalstatistic(int* error, LogStream* log, StatisticsTableEntry* table, int tableSize, double** weightGrid,
                 int weightRows, int weightCols, ZoneTableEntry* zoneTable, int zoneCount, int code, int decimals,
                 const std::string& fileName, const char* outputDirectory, int listCount, const int* listCodes,
                 bool minuteColumn);
  virtual ~zonalstatistic();
  zonalstatistic(const zonalstatistic&) = delete;
  zonalstatistic& operator=(const zonalstatistic&) = delete;

  virtual void OpenFile(const char* mode);
  virtual void CloseFile();
  // Appends every buffered row to the file and empties the buffer. A failure leaves the
  // file with whole rows only and the rows in the buffer, names the file, what is missing
  // and why, and throws 15 (cannot open) or 16 (cannot write).
  virtual void WriteRow();
  // Adds one cell on the calling thread (the sums then depend on the order of the calls).
  // Cell loops use AddCells or AddGrid instead.
  virtual void AddCellValue(int row, int col, int zoneIndex, double value, double weight);
  // Adds value(r, c) with the given weight for every counting cell (see the top of this
  // file). value is any callable double(int row, int col).
  template <typename ValueAt>
  void AddCells(const ZoneCells& cells, ValueAt value, double weight = 1.0) {
    if (weight == 1.0)
      AddBlocks(cells, CellsOfRow<ValueAt>{value}, UnitOfRow{});
    else
      AddBlocks(cells, CellsOfRow<ValueAt>{value}, ConstantOfRow{weight});
  }
  // The same for the values of a grid; rows the grid does not hold are left out.
  void AddGrid(const ZoneCells& cells, double** values, double weight = 1.0) {
    if (values == nullptr) return;
    if (weight == 1.0)
      AddBlocks(cells, GridRows{values}, UnitOfRow{});
    else
      AddBlocks(cells, GridRows{values}, ConstantOfRow{weight});
  }
  // The same as AddCells with a weight per cell: weight(r, c), called like value.
  template <typename ValueAt, typename WeightAt>
  void AddWeightedCells(const ZoneCells& cells, ValueAt value, WeightAt weight) {
    AddBlocks(cells, CellsOfRow<ValueAt>{value}, CellsOfRow<WeightAt>{weight});
  }
  // A loop that computes a grid's rows and adds each as soon as it is done, with the sums
  // AddGrid(cells, grid) makes: BeginRows lays out the blocks of rows (false: no cell
  // counts, add nothing), the loop walks block b's rows in order (one thread a block) and
  // calls AddGridRow for each, then EndRows adds the blocks to the zones.
  bool BeginRows(const ZoneCells& cells) {
    if (!active || cells.zone == nullptr || cells.codeMap == nullptr || cells.lastRow < cells.firstRow) return false;
    PrepareBlocks(cells.firstRow, cells.lastRow);
    zoneRuns.Update(cells, zoneCount);
    return true;
  }
  int RowBlocks() const { return blockSums.blocks; }
  int FirstRowOfBlock(int b) const { return blockSums.firstRow + b * blockSums.rowsPerBlock; }
  int LastRowOfBlock(int b) const {
    const int last = FirstRowOfBlock(b) + blockSums.rowsPerBlock - 1;
    return last < blockSums.lastRow ? last : blockSums.lastRow;
  }
  void AddGridRow(const ZoneCells& cells, int b, int r, double** values) {
    AddRowsToBlock(cells, b, r, r, GridRows{values}, UnitOfRow{});
  }
  void EndRows() { FoldBlocks(); }
  virtual void ClearZoneSums();
  virtual void AggregateAndWrite(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute);
  // Creates the file with its three header lines and enters the writer into the table;
  // returns the entry's index, or -1 when no entry was free (or the writer is inactive).
  virtual int WriteHeader(const std::string& title1, const std::string& title2, StatisticsTableEntry* table,
                          int tableSize);
  // Writes the buffered rows (not while DiscardBufferedOutput is set, nor again after the
  // last write failed) and frees the buffers; the writer is inactive afterwards. Never
  // throws: a failure is named and noted for the end of the run (NoteUnraisedWriteFailure).
  virtual void Release();
  // Writes the buffered rows of every active writer of the process whose last write did
  // not fail, each also after another one failed; returns the first failure's code (0:
  // none). The end of a run calls it after the modules' own flushes, so that a module
  // that stopped at its first failing file costs no other file its rows.
  static int WriteEveryBuffer();

  // --- read access for owners and tests --------------------------------------------
  bool Active() const { return active; }
  bool Ok() const { return ok; }
  bool LastWriteFailed() const { return writeFailed; }
  int Mode() const { return mode; }
  int Period() const { return period; }
  int Columns() const { return columns; }
  long Capacity() const { return capacity; }
  long BufferedRows() const { return filledRows; }
  const std::string& FileName() const { return fileName; }
  double CurrentValue(int column) const { return currentValues[column]; }
  int ZoneOfListPosition(int k) const { return listMap[k]; }

 protected:
  // Number of zone columns for a mode (without the total column).
  int ColumnsForMode() const;
  bool MeanMode() const { return mode == 1 || mode == 2 || mode == 5; }
  bool AllZonesMode() const { return mode == 2 || mode == 4; }
  bool ListMode() const { return mode == 5 || mode == 6; }
  // Zone index of column c (1..columns).
  int ZoneOfColumn(int c) const { return AllZonesMode() ? c : listMap[c]; }
  void WriteHeaderLines(bool totalColumn, const double* lineThreeValues);
  // Creates the file with its three header lines; SIGINT is ignored while it writes and
  // has its default action afterwards.
  void CreateFileWithHeader(bool totalColumn, const double* lineThreeValues);
  // Codes and area fractions of the zone columns; current and second values cleared.
  void ResetColumnArrays();
  void EnterIntoTable(StatisticsTableEntry* table, int tableSize, int entries);
  void ClearTableEntries();
  // The common part of both aggregations: carried sums in, a row begun or not, per-zone
  // values into the row. Returns true when a row began.
  bool AggregateZones(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, bool routing);
  void FinishRow();

  // Block sums of AddCells: per block of rows and zone the area, value and weighted area
  // sums, a mark for the zones the block touched and their list in order of first touch.
  struct BlockSums {
    int blocks = 0, rowsPerBlock = 1, firstRow = 1, lastRow = 0;
    std::vector<double> sums;       // blocks * (zoneCount + 1) * 3
    std::vector<uint8_t> touched;   // blocks * (zoneCount + 1)
    std::vector<int> touchedZones;  // blocks * (zoneCount + 1)
    std::vector<int> touchedCount;  // blocks
  };
  // Most blocks of rows a pass is split into: enough to spread over the threads, few
  // enough that the block sums stay small beside the grids.
  static constexpr int kMaxBlocks = 64;
  // Lays out the blocks of a row range (allocates only when the range grows).
  void PrepareBlocks(int firstRow, int lastRow);
  // Adds the block sums to the zones in block order and leaves the blocks cleared.
  void FoldBlocks();
  // The sums of one zone in one block, held in registers while a run of the zone's cells
  // is added, then stored back: every cell is added to its zone's block sums in row and
  // column order, with the operations of AddCellValue.
  struct RunSums {
    double area, value, weightedArea;
  };
  // Loads the block's sums of a zone (and lists the zone as touched by the block).
  RunSums OpenRun(int block, int zoneIndex) {
    const size_t base = static_cast<size_t>(block) * (static_cast<size_t>(zoneCount) + 1);
    const size_t slot = base + static_cast<size_t>(zoneIndex);
    if (!blockSums.touched[slot]) {
      blockSums.touched[slot] = 1;
      blockSums.touchedZones[base + static_cast<size_t>(blockSums.touchedCount[static_cast<size_t>(block)]++)] =
          zoneIndex;
    }
    const double* s = &blockSums.sums[slot * 3];
    return RunSums{s[0], s[1], s[2]};
  }
  void CloseRun(int block, int zoneIndex, const RunSums& run) {
    const size_t slot = static_cast<size_t>(block) * (static_cast<size_t>(zoneCount) + 1) + static_cast<size_t>(zoneIndex);
    double* s = &blockSums.sums[slot * 3];
    s[0] = run.area;
    s[1] = run.value;
    s[2] = run.weightedArea;
  }
  // No-data (the model's value) and NaN are no values.
  static bool IsNoValue(double v, double nodata) { return v != v || v == nodata; }
  // The values of one row, as the block loop reads them: held() tells whether the row is
  // there at all, v(c) is the value of column c. A row of a grid is read through its own
  // pointer; a callable value(r, c) is read cell by cell.
  struct GridRow {
    const double* row;
    bool held() const { return row != nullptr; }
    double operator()(int c) const { return row[c]; }
  };
  template <typename ValueAt>
  struct CallableRow {
    const ValueAt* value;
    int r;
    bool held() const { return true; }
    double operator()(int c) const { return (*value)(r, c); }
  };
  template <typename ValueAt>
  struct CellsOfRow {
    const ValueAt& value;
    CallableRow<ValueAt> operator()(int r) const { return CallableRow<ValueAt>{&value, r}; }
  };
  struct ConstantRow {
    double value;
    bool held() const { return true; }
    double operator()(int) const { return value; }
  };
  struct ConstantOfRow {
    double value;
    ConstantRow operator()(int) const { return ConstantRow{value}; }
  };
  // The weight 1 known to the compiler: 1 * x is x, so the sums are those of ConstantOfRow{1.0}
  // with the multiplications left out.
  struct UnitRow {
    bool held() const { return true; }
    double operator()(int) const { return 1.0; }
  };
  struct UnitOfRow {
    UnitRow operator()(int) const { return UnitRow{}; }
  };
  struct GridRows {
    double** values;
    GridRow operator()(int r) const { return GridRow{values[r]}; }
  };
  // Adds the counting cells of the rows r0..r1 to block b; cells of one zone that follow
  // each other in a row are added in registers. rowValues(r) and rowWeights(r) give the
  // row accessors of row r.
  template <typename RowValues, typename RowWeights>
  void AddRowsToBlock(const ZoneCells& cells, int b, int r0, int r1, const RowValues& rowValues,
                      const RowWeights& rowWeights) {
    const double nodata = cells.nodata, weightLimit = weightNodata;
    for (int r = r0; r <= r1; ++r) {
      // The counting cells of the row (zoneRuns is made for cells).
      const ZoneRuns::Run* const runsEnd = zoneRuns.End(r);
      const ZoneRuns::Run* runOfRow = zoneRuns.Begin(r);
      if (runOfRow == runsEnd) continue;
      const auto value = rowValues(r);
      if (!value.held()) continue;
      const auto weight = rowWeights(r);
      const double* weightRow = weightGrid != nullptr && r >= 1 && r <= weightRows ? weightGrid[r] : nullptr;
      int open = 0;  // zone of the run in registers (0: none)
      RunSums run{0.0, 0.0, 0.0};
      for (; runOfRow != runsEnd; ++runOfRow) {
        const int zi = runOfRow->zone, first = runOfRow->first, last = runOfRow->last;
        // Weights of the weight grid apply up to its last column.
        const int weightedLast = weightRow != nullptr ? (last < weightCols ? last : weightCols) : first - 1;
        for (int c = first; c <= last; ++c) {
          const double v = value(c);
          if (IsNoValue(v, nodata)) continue;  // a hole in the grid is no part of the mean
          if (zi != open) {
            if (open) CloseRun(b, open, run);
            open = zi;
            run = OpenRun(b, zi);
          }
          const double cellWeight = weight(c);
          run.area += cellWeight;
          // A cell the weight grid does not weigh counts with 1, which multiplies exactly.
          const double w = c <= weightedLast && weightRow[c] > weightLimit ? weightRow[c] : 1.0;
          run.weightedArea += w * cellWeight;
          run.value += cellWeight * v * w;
        }
      }
      if (open) CloseRun(b, open, run);
    }
  }
  template <typename RowValues, typename RowWeights>
  void AddBlocks(const ZoneCells& cells, const RowValues& rowValues, const RowWeights& rowWeights) {
    if (!active || cells.zone == nullptr || cells.codeMap == nullptr || cells.lastRow < cells.firstRow) return;
    PrepareBlocks(cells.firstRow, cells.lastRow);
    zoneRuns.Update(cells, zoneCount);
    const int blocks = blockSums.blocks, height = blockSums.rowsPerBlock;
    const bool parallel = ForkRows(cells.lastRow - cells.firstRow + 1, cells.ncols);
#pragma omp parallel for schedule(runtime) if (parallel)
    for (int b = 0; b < blocks; ++b) {
      const int r0 = cells.firstRow + b * height;
      const int r1 = r0 + height - 1 < cells.lastRow ? r0 + height - 1 : cells.lastRow;
      AddRowsToBlock(cells, b, r0, r1, rowValues, rowWeights);
    }
    FoldBlocks();
  }
  BlockSums blockSums;
  ZoneRuns zoneRuns;  // the counting cells of the last cells added
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::string FormatValue(double v) const;

  int* error = nullptr;
  LogStream* log = nullptr;
  bool ok = false;
  bool active = false;
  bool writeFailed = false;  // the last WriteRow failed (its rows are still buffered)
  std::string fileName;
  std::FILE* file = nullptr;
  int streamErrno = 0;  // errno of the first failed print to file

  ZoneTableEntry* zones = nullptr;  // not owned
  double** weightGrid = nullptr;
  int weightRows = 0, weightCols = 0;
  double weightNodata = -9999.0;

  int zoneCount = 0;
  int decimals = 0;
  int mode = 0;
  int period = 0;
  bool minuteColumn = false;

  int listCount = 0;
  std::vector<int> listCodes;  // 1-based
  std::vector<int> listMap;    // list position -> zone index (1-based)

  int columns = 0;        // zone columns of a row (k)
  int valuesPerRow = 0;   // columns plus the total column (zonalstatistic) or columns only
  int valueSlots = 0;     // k + 2 doubles per row and per column array
  long capacity = 0;      // rows of the buffer
  long filledRows = 0;
  int valuesInRow = 0;
  std::vector<std::array<int64_t, 5>> rowDates;  // year, month, day, hour, minute
  std::vector<double> rowValues;                 // capacity * valueSlots
  std::array<int64_t, 5> lastRowDate{};
  int valueCount = 0;  // values per row + 1

  std::vector<double> currentValues, secondValues, areaFractions;
  std::vector<int64_t> codes;
  std::string title;

  int stepCounter = 0;
  double lastValue = 0.0;
  std::vector<double> carriedValueSums, carriedAreaSums, carriedWeightedAreaSums;

  StatisticsTableEntry* table = nullptr;  // where the writer entered itself
  int tableIndex = -1;
  int tableEntries = 0;
};
