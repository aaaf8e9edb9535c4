// The soil model: the VEVURADA soil water balance with baseflow, interflow and capillary
// rise, per cell and per sub-basin.
//
// Member functions by file:
//   soil_setup.cpp   construction from "[soil_model]", grids, topographic index, travel-time
//                    zones, lakes, the water input grid, tear-down
//   soil_step.cpp    the time step (parallel cell loop, then the sub-basin balance)
//   soil_state.cpp   the "[soil_model]" part of the storage file
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "processes/glacier_share.h"
#include "processes/soil/soil_cell.h"
#include "processes/subbasin_runoff.h"
#include "framework/zone_sums.h"
#include "tables/soil_table.h"

struct LanduseParameterGrids;

// One travel-time zone of a sub-basin: water in transit towards the outlet.
struct TravelTimeZoneRecord {
  double n = 0.0;           // cells in the zone and the zones behind it
  double sx = 0.0;          // weighted direct runoff in transit
  double zonenwert = 0.0;   // the zone number
  double rel = 0.0;         // share of the sub-basin's cells (at construction)
  double RelCellSum = 0.0;  // weight of the zone and the zones behind it
};

// Weighted sums of one sub-basin in a step.
struct SubbasinSums {
  double count = 0.0;
  double sum = 0.0;
  double weight = 0.0;
  void Add(double value, double w) {
    count += 1.0;
    sum += value * w;
    weight += w;
  }
  double Mean() const { return weight > 0.0 ? sum / weight : 0.0; }
};

// The range of a sub-basin's mean saturation deficit a warm start takes from the storage
// file (mm): at most that of a storage (1e9 mm), and below 0 no further than keeps the
// saturated zone's outflow of one step, q0 exp(-SD/m) (q0 its outflow at a deficit of 0,
// mm per step; m the recession constant, mm), within 1e9 mm.
StateRange MeanDeficitBounds(double q0, double m);

class bodenmodellklasse : public teilmodellklasse {
 public:
  bodenmodellklasse(int& error, const ModuleInputs& in, const std::string& sectionName);
  ~bodenmodellklasse() override;

  // Reads one value of the storage section and compares it with the current one.
  // `owner` names what the value belongs to in the messages ("sub-basin 2"); empty: nothing.
  virtual void CheckStorageValue(TextCursor& file, double current, const std::string& label,
                                 const std::string& owner = std::string());
  [[noreturn]] virtual void StorageValueMismatch(const std::string& label, double current, double stored,
                                                 const std::string& where = std::string());
  // Hands the "[soil_model]" part to the storage file of the run.
  virtual void WriteStorageFile();
  // Reads the "[soil_model]" part back (warm start).
  virtual void ReadStorageFile();
  // The storage file name when active, else null.
  virtual const char* GetStorageFileName() const;
  // The runoff per sub-basin when the flow control parameter is 1, else null.
  virtual SubbasinRunoff* GetSubbasinRunoff();
  // The snow model's flags of the sub-basins (1..n, nonzero = yes) with glacier storages,
  // read in every step (the annual glacier update may change them). When the snow model
  // holds the runoff record (flow control 1) it writes the glacier storages' outflow of such
  // a sub-basin into it before the soil step, and the soil runoff adds to it. Null: no
  // glaciers.
  void SetGlacierSubbasins(const std::vector<unsigned char>* filledBySnow);
  // The snow model's glacier cells (none when it runs no glaciers), in place of those the
  // registry gave at construction.
  void SetGlacierCells(const GlacierCells& cells) { glaciers = cells; }
  // The daily land-use update's root-zone reference: per cell the root depth (and its layer)
  // from which the next day rescales the root zone. The storage file carries it; a warm
  // start hands the depths it read to it here (code 71 for a layer the run does not have).
  void SetRootZoneReference(LanduseParameterGrids* reference);
  bool FilledBySnow(int i) const {
    return flowControl == 1 && glacierFlags && static_cast<size_t>(i) < glacierFlags->size() &&
           (*glacierFlags)[static_cast<size_t>(i)] != 0;
  }
  virtual void Run(ModelDate date);
  virtual void WriteStatistics();
  virtual void InitLakes(const std::string& section);
  // When active: chooses once the grid that gives the soil its water input.
  virtual void SetInputGrid(int interceptionBeforeSnow);
  // Writes the state section and "peakflow" (when the storage flag is set), frees the grids.
  void DeleteModule() override;
  void ShareScratchGrids() override;

  // The text of the "[soil_model]" part of the storage file.
  std::string StorageSectionText() const;
  // Sub-basin index 1..n of a cell of the soil zone grid; 0 outside. Inline: every cell
  // loop of the step asks it.
  int SubbasinOf(int r, int c) const { return Codes().Of(soilZoneGrid[r][c]); }
  // The sub-basin index of a soil zone grid value, for loops that take the grid's row.
  struct SubbasinCodes {
    double nodata = 0.0;
    double limit = 0.0;  // largest code + 1
    const int* map = nullptr;
    int Of(double v) const {
      if (!(v > nodata)) return 0;
      // The code is v rounded half up, floor(v + 0.5): within 0..largest that is v + 0.5
      // truncated, and v + 0.5 lies in [0, largest + 1) exactly when the code does.
      const double x = v + 0.5;
      if (!(x >= 0.0 && x < limit)) return 0;
      return map[static_cast<int>(x)];
    }
  };
  SubbasinCodes Codes() const {
    return {geometry.nodata_value, static_cast<double>(largestCode) + 1.0, codeMapStore.data()};
  }
  // Calls f(r, c) for every cell of the sub-basins, row by row from the top, columns from the
  // left: the order of the cells in the storage file.
  template <typename F>
  void ForEachCell(F&& f) const {
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        if (SubbasinOf(r, c) > 0) f(r, c);
  }
  // Restores the part from its text (what ReadStorageFile does after opening the file).
  void RestoreStorageSection(const std::string& text, const std::string& fileName);

  // The soil model's own zone tables (sub-basins of "zonegrid_soilmodel").
  ZoneTableEntry* soilZoneTable = nullptr;
  int* soilZoneCodeMap = nullptr;
  int soilZoneCount = 0;
  int soilMaxZoneCode = 0;
  // Grids read by the daily land-use update.
  double** saturatedSoilPartition = nullptr;
  double** inactiveFieldCapacity = nullptr;
  double** inactiveSoilMoisture = nullptr;
  double** interflowStorage = nullptr;
  std::string storageFileName;
  std::string storageFileBeingRead;  // named by the messages of a warm start
  SubbasinRunoff* subbasinRunoff = nullptr;
  int inputGrid = 0;  // registry position of the water input

  // --- configuration --------------------------------------------------------------------
  std::string gridNames[9];  // SD, SUZ, SIF, SBia, nFKia, SSP, QD, QI, peakflow
  int gridWriteCodes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::string statisticsNames[9];  // QD, QI, QB, QBB, Qg, SB, SUZ, SIF, SD
  int statisticsCodes[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  int readgrids = 0;
  std::string readFlagLine;  // the line of the read flag, as a message names it
  bool storageWrite = false;  // the state is left in the storage file at tear-down
  int layerCount = 1;
  unsigned char inputGridFlag = 0;
  bool inputGridChosen = false;

  // --- sub-basins (index 1..n) ------------------------------------------------------------
  int subbasins = 0;
  std::vector<int> subbasinCodes;
  std::vector<int> codeMapStore;
  std::vector<ZoneTableEntry> zoneTableStore;
  std::vector<SubbasinParameters> params;
  std::vector<double> meanTopographicIndex, Q0, meanDeficit, QD, QI, QB, QBB, QBBin, QV;
  std::vector<double> weightSum;  // weight of the sub-basin's cells
  const std::vector<unsigned char>* glacierFlags = nullptr;
  std::vector<int> maxzeit;
  std::vector<std::vector<TravelTimeZoneRecord>> zoneFZT;  // [i][0..maxzeit]
  MatrixOwner runoffTable;
  SubbasinRunoff runoffRecord;

  // --- grids -------------------------------------------------------------------------------
  double** soilZoneGrid = nullptr;
  double** conductivity = nullptr;
  double** topographicOffset = nullptr;  // "topographic_faktor", turned into deficit offsets
  double** soilStorage = nullptr;
  double** availableSoilMoisture = nullptr;
  double** soilTypes = nullptr;
  std::vector<double**> rootDepth;  // 1..layerCount
  double** snowSolid = nullptr;
  double** flowTimes = nullptr;  // travel-time zone per cell after construction
  GlacierCells glaciers;  // the snow model's glacier cells: a static glacier's have no soil
  double** lakeCodes = nullptr;
  double** pondingTop = nullptr;
  double** maxPonding = nullptr;
  double** waterInput = nullptr;
  double** infiltrationExcess = nullptr;  // set by the infiltration model
  double** saturationMarker = nullptr;    // set by the infiltration model
  // The saturation marker of every cell read from the storage file (cells in the order of
  // ForEachCell), for the infiltration model, which makes its grid after the soil model.
  std::vector<double> restoredMarker;
  // The root-zone reference read from the storage file (cells in the order of ForEachCell)
  // until SetRootZoneReference takes it, and the reference itself (null: none).
  std::vector<double> restoredRootDepth;
  std::vector<int> restoredRootLayer;
  LanduseParameterGrids* rootZoneReference = nullptr;
  double** saturationDeficit = nullptr;
  double** unsaturatedZone = nullptr;
  double** soilStorageOld = nullptr;
  double** directFlow = nullptr;
  double** interflowGrid = nullptr;
  double** peakFlow = nullptr;
  double** stabilityIndex = nullptr;
  double** stability[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};  // root/soil cohesion, density, friction, depth, slope
  bool slopeStability = false;
  std::vector<int> ownGridPositions;  // registry positions of the created grids (freed at tear-down)
  // Per-cell scratch of the step: the run's shared scratch grids, or the module's own.
  double** cellDrainage = nullptr;
  double** cellSlowInflow = nullptr;
  MatrixOwner ownScratch[2];
  int lakeFlowControl = 0;
  int lakeMethod = 0;
  int largestCode = 0;
  int peakFlowPosition = 0;
  const std::vector<SoilTableEntry>* soilRows = nullptr;  // rows 1..count of [soil_table]
  std::vector<double**> ownGrids;  // matrices of the created grids

  std::vector<SubbasinSums> deficitSums, interflowSums, slowInflowSums, drainageSums;
  std::vector<double> blockSums;  // per block of rows: sub-basin and zone sums of the step
  // Their layout: blocks of rows; per block the sub-basin sums (3 per quantity, 4 quantities),
  // then those of the travel-time zones (zone z of sub-basin i at zoneOffset[i] + z).
  int sumBlocks = 1, sumRowsPerBlock = 1;
  size_t subbasinPart = 0, sumStride = 0;
  std::vector<size_t> zoneOffset;
  std::unique_ptr<zonalstatistic> statistics[9];
  std::vector<ZoneTableEntry> statisticsZones[9];
  ZoneSums cellSums;  // zone sums of the storage writers, in one pass

 protected:
  // Construction steps (soil_setup.cpp).
  void ReadSection();
  // Everything after the section: grids, travel-time zones, statistics, state, lakes.
  void BuildGridsAndState();
  void FindInputGrids();
  void SetUpTravelTimeZones();
  void CreateStatistics();
  void CreateStateGrids();
  // Ends the run (code 22) when a state it starts from holds what its quantity cannot.
  void RefuseImpossibleStates();
  void InitialiseDeficits();
  void ReleaseGrids();
  // The infiltration of a step, which the cell loop runs on each cell just before its soil
  // step (the infiltration model turns it on for its steps; off, the soil model runs alone).
  struct CellInfiltration {
    bool on = false;
    double macroporeFraction = 0.0;
    double** fillablePorosity = nullptr;
    ZoneSums* excessSums = nullptr;  // its blocks of rows are the loop's
    bool excessSummed = false;       // the excess is added to its zone sums
  };
  CellInfiltration stepInfiltration;
  // Called once the cell loop is done, before a failed cell ends the run.
  virtual void CellLoopDone() {}

  // The step's parts (soil_step.cpp).
  void ShiftTravelTimeZones();
  void StepCells();
  struct CapillaryFailure;
  // The cells of row r: the infiltration (when on) and the soil step; the excess goes to the
  // row's zone sums, the cell's results to the step sums of its block (when given).
  template <bool kInfiltrate>
  void StepRow(int r, ZoneSums::Row& excess, CapillaryFailure& failure, double* sums);
  void PrepareSums();
  // The zone sums' blocks of rows are the step sums' blocks.
  bool SameBlocks(const ZoneSums& sums) const;
  // Adds a cell of sub-basin i (weight w, travel-time zone zone) to its block's sums: its
  // deficit, interflow, slow baseflow inflow, drainage and direct runoff after its step.
  void AddCellSums(double* sums, int i, double w, size_t zone, double deficit, double qi, double qbbin,
                   double qsuz, double qd) const {
    const size_t ii = static_cast<size_t>(i);
    const double values[4] = {deficit, qi, qbbin, qsuz};
    for (int k = 0; k < 4; ++k) {
      double* s3 = sums + (ii * 4 + static_cast<size_t>(k)) * 3;
      s3[0] += 1.0;
      s3[1] += values[k] * w;
      s3[2] += w;
    }
    double* z3 = sums + subbasinPart + (zoneOffset[ii] + zone) * 3;
    z3[0] += qd * w;
    z3[1] += w;
    z3[2] += 1.0;
  }
  // Adds the blocks' sums to the sub-basins and zones in block order.
  void FoldSums();
  // The storages' zone sums: readied before the cell loop, a row added once its cells are
  // stepped (by the loop, or in a pass of their own when the loop could not), folded into the
  // writers' tables.
  void PrepareStorageSums();
  void AddStorageRow(int b, int r);
  void FoldStorageSums();
  ZoneTableEntry* storageTables[3] = {nullptr, nullptr, nullptr};  // null: the writer is off
  bool storageSummed = false;     // some writer is on
  bool storageSumsAdded = false;  // the cell loop added the rows
  void StepSubbasins();
  void WriteStepStatistics();
  double** NewGrid(const std::string& internalName, const std::string& fileName, int writeCode, double value,
                   bool zoneCellsOnly, int readIndex);
  double CellWeight(int r, int c) const { return relCellArea ? relCellArea[r][c] : 1.0; }
  // The cell loops' per-cell look-ups, inline.
  void ColumnRange(int r, int& first, int& last) const {
    first = 1;
    last = geometry.ncols;
    if (static_cast<size_t>(r) < rowBounds.size() && rowBounds.size() > static_cast<size_t>(geometry.nrows)) {
      first = std::max(1, rowBounds[static_cast<size_t>(r)].first);
      last = std::min(geometry.ncols, rowBounds[static_cast<size_t>(r)].last);
    }
  }
  // The soil table's row of a cell's soil type (null: none).
  const SoilTableEntry* SoilRowOf(int r, int c) const {
    const double value = soilTypes[r][c];
    if (!soilRows || !(value >= 1.0)) return nullptr;
    // The row is the value rounded half up, floor(value + 0.5): value + 0.5 truncated, as it
    // is positive; the row is past the table exactly when value + 0.5 is.
    const double x = value + 0.5;
    if (!(x < static_cast<double>(soilRows->size()))) return nullptr;
    return &(*soilRows)[static_cast<size_t>(static_cast<long long>(x))];
  }
  // The deepest root depth of the cell's layers (0 without one).
  double RootDepthOf(int r, int c) const {
    double depth = 0.0;
    const double nodata = geometry.nodata_value;
    for (int k = 1; k <= layerCount; ++k) {
      double** g = rootDepth[static_cast<size_t>(k)];
      if (g && g[r][c] > nodata) depth = std::max(depth, g[r][c]);
    }
    return depth;
  }
  friend class infiltrationsmodellklasse;
};
