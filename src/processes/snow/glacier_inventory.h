// The inventory of single glaciers for the dynamic glacier methods: each glacier is the set
// of cells that carry its code in "GlacierCodes" (with the glacierised fraction of each cell
// in "GlacierizedCells"). Once a year the accumulated mass balance changes each glacier's
// volume, volume-area scaling turns it into a new area, and the difference is added to or
// removed from the glacier's cells band by band in elevation.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LogStream;
class TextCursor;

// One elevation band of a glacier. It refers to the grid cells themselves: a change made
// through the band changes the grids.
class ElevationBand {
 public:
  double lower = 0.0, upper = 0.0, width = 0.0;
  uint64_t cells = 0;
  std::vector<double*> fraction;  // cells of "GlacierizedCells"
  std::vector<double*> code;      // the same cells of "GlacierCodes"
  std::vector<int32_t> flags;     // 1: the cell cannot change in the present direction

  bool Contains(double elevation) const { return lower <= elevation && elevation < upper; }
  void AddCell(double* fractionRef, double* codeRef);
  void Clear();
  // Cells that can change in the direction of delta (flags the others); 0 for delta 0.
  uint64_t CountChangeableCells(double delta);
  // Adds the fraction to every changeable cell, in up to five passes; returns the part of
  // the band's target it could not place.
  double ChangeCells(double fractionPerCell);
  // ChangeCells `times` times in a row; returns the sum of what each could not place. The
  // applications before a cell reaches 0 or 1 change every cell alike and are made at
  // once, so the work grows with the cells, not with the count.
  double ChangeCellsRepeatedly(double fractionPerCell, uint64_t times);

 private:
  // What one application would do when no cell reaches a bound in it: the change of every
  // cell that takes its share and the part it leaves unplaced. False when a cell would
  // reach a bound (or leave the glacier), or the passes would run out.
  bool SteadyApplication(double fractionPerCell, double& change, double& remainder) const;
};

class GlacierRecord {
 public:
  GlacierRecord();
  GlacierRecord(int32_t code, int32_t bands, int32_t extraWeight, int32_t subbasin, double c, double gamma,
                double volume, double area, double cellSize);

  int32_t code = 0;
  double cellSize = 100.0;
  uint64_t cells = 0;
  double area = 0.0, volume = 0.0, oldArea = 0.0, oldVolume = 0.0;
  double c = 28.5, gamma = 1.36;
  double lowest = 10000.0, highest = -10000.0;
  int32_t bandCount = 1;
  double cellsToAdd = 0.0, unplaced = 0.0;
  uint64_t cellsInBands = 0;
  int32_t extraWeightBand0 = 0;
  int32_t subbasin = 0;
  double lostAreaMassBalance = 0.0, oldFractionSum = 0.0, fractionSum = 0.0, massBalancePerCell = 0.0;
  std::vector<ElevationBand> bands;

  uint64_t AddCell(bool trackRange, double fraction, double elevation, double cellArea);
  void BuildElevationBands();
  void AssignCellToBand(double* fractionRef, double* codeRef, double elevation);
  void ClearBands();
  void ComputeCellsToAdd();
  double GetCellsToAdd() const { return cellsToAdd; }
  uint64_t CountChangeableCells(double delta);
  double CellFractionPerSweep() { return CellFractionPerSweepFor(false, 0.0); }
  double CellFractionPerSweepFor(bool useGiven, double delta);
  double ChangeCellsInBands(int lastBand, double fractionPerCell);
  // The sweeps 0..bands-1 with the fraction per cell; returns the sum of their remainders
  // (bands without cells are passed over: they take nothing and leave nothing).
  double SweepBands(double fractionPerCell);
  void VolumeFromArea();
  // The area step of the annual update on area and volume, and the same on the old ones.
  void AreaFromVolume();
  void OldAreaFromOldVolume();
  void AddVolume(double x) { volume += x; }
  void AddOldVolume(double x) { oldVolume += x; }
  // Forgets the cells: count, area and elevation range.
  void ResetCells();
};

// The step on which the glaciers are evaluated: the one that holds the end of the
// evaluation day (day, month) on the clock shifted by the hour offset (DayEndsOfStep with
// the run's step in minutes): the step that ends at its midnight, written 24:00 or 0:00 of
// the next day, or the first that passes it.
bool GlacierEvaluationDue(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int evalDay,
                          int evalMonth, double hourOffset, int64_t stepMinutes);

// The smallest glacier area (km²) of the volume-area relation.
constexpr double kMinGlacierArea = 0.0543;
// Mass balance (mm water equivalent) per volume change: ice density relative to water.
constexpr double kIceDensity = 0.85;

// The grids the inventory works on (rows 1..nrows, columns 1..ncols).
struct GlacierGrids {
  int nrows = 0, ncols = 0;
  double nodata = -9999.0, cellSize = 100.0;
  double** fraction = nullptr;        // "GlacierizedCells"
  double** code = nullptr;            // "GlacierCodes"
  double** fractionOld = nullptr;     // "GlacierizedCellsOld"
  double** codeOld = nullptr;         // "GlacierCodesOld"
  double** massBalance = nullptr;     // "GlacierMassBalance"
  double** oldMassBalance = nullptr;  // "OldGlacierMassBalance"
  double** firnTotal = nullptr;       // may be null: no firn
  double*** firnStack = nullptr;      // [row][col][level 0..levels] as a grid stack, may be null
  int firnLevels = 0;
  double** elevation = nullptr;
  double** subbasin = nullptr;        // a cell is inside the basin when it holds data
};

struct GlacierSettings {
  double c = 28.5, gamma = 1.36;
  int bands = 1, extraWeightBand0 = 0;
  double relSizeNewGlacier = 0.25;
};

class GlacierInventory {
 public:
  GlacierInventory(const GlacierGrids& grids, const GlacierSettings& settings, LogStream* log)
      : g_(grids), s_(settings), log_(log), scan_(Full()) {}

  // Builds the list from the grids and sets each glacier's volume, old area and bands
  // (throws 84 after a FATAL message when a glacier lies in two sub-basins).
  void Build();
  void BuildGlacierList();
  void RecountGlaciers(int64_t code, bool trackRange);
  void AssignGlacierCellsToBands(int64_t code);
  void CollectGrowthCells(int64_t code);
  void DistributeLostAreaMassBalance(int64_t code);
  // The annual update.
  void Glacierbalance();
  // The annual update and what follows it: the mass balance of the area lost goes to the
  // remaining cells, and the mass balance becomes the reference of the next year (both 0
  // outside the sub-basins and in cells without glacier).
  void AnnualUpdate();

  // What a warm start needs besides the grids: per glacier, in list order, its code, its
  // sub-basin, the area of its cells in the grids and its area and volume at the last
  // evaluation (the grids give the area only to the tolerance of the update).
  std::string StateText() const;
  // Reads the part written by StateText, the cursor standing after its header line. A
  // glacier whose cells no longer cover the area written keeps the area and volume of its
  // grid (with a WARNING); a part that cannot be read stops the run (FATAL, 71).
  void RestoreState(TextCursor& f, const std::string& path);

  const std::vector<std::unique_ptr<GlacierRecord>>& Glaciers() const { return list_; }
  GlacierRecord* Find(int64_t code);

 private:
  bool Inside(int r, int c) const { return g_.subbasin[r][c] != g_.nodata; }
  double Firn(int r, int c) const { return g_.firnTotal ? g_.firnTotal[r][c] : 0.0; }
  bool OnEdge(int r, int c) const;
  GlacierRecord& Create(int64_t code, int r, int c);
  GlacierRecord& Create(int64_t code, int32_t subbasin);
  // Area (km²) of each glacier's cells in the grids, summed as the list is built.
  std::map<int64_t, double> GridAreas() const;
  void AddNewCellToOldArea(GlacierRecord& g, double fraction);
  void RangeByFirn(GlacierRecord& g, bool first, double z, int r, int c);
  // Moves a cell into glacier g's bands with the firn given (passes of the growth search).
  bool GrowthPass(GlacierRecord& g, bool exactZero, bool firnTest, bool anyCode);

  // Rows and columns that a scan for one glacier visits. While the annual update works on
  // one glacier after the other, no cell outside a glacier's box (its cells and one cell
  // around them, widened with every growth) can change for it, so its scans visit the box
  // only; everywhere else they visit the whole grid.
  struct Box {
    int r0, r1, c0, c1;
  };
  Box Full() const { return Box{1, g_.nrows, 1, g_.ncols}; }
  Box Around(const Box& b, int margin) const;
  // The box of every glacier's cells, from one scan.
  std::map<int64_t, Box> GlacierBoxes() const;

  GlacierGrids g_;
  GlacierSettings s_;
  LogStream* log_;
  Box scan_;
  const std::map<int64_t, Box>* boxes_ = nullptr;  // during the annual update
  std::vector<std::unique_ptr<GlacierRecord>> list_;
  std::map<int64_t, size_t> index_;
};
