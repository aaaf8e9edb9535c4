// State of the per-layer land-use parameter grids that defaultini creates at start-up and
// refreshes once a day (landuse_parameter_grids.cpp), and of the dynamic vegetation start
// (phenology.cpp). Grids are registered in the grid registry; matrices are owned by
// defaultini, the per-cell fix-day lists by this object.
#pragma once

#include <string>
#include <vector>

class defaultini;
class LanduseTableEntry;

// The per-layer grids, in the order in which start-up makes them.
enum LanduseLayerGrid {
  kRootDepth, kCoverage, kLeafAreaIndex, kCanopyResistance, kIntercepResistance, kRoughness,
  kVegetationStart, kVegetationStop, kVegetationDuration,
  kForcingSum, kPhenoStart, kChillingSum, kForcingThreshold,
  kLayerGridCount
};

// Base names of the per-layer grids (the layer number is appended).
extern const char* const kLanduseLayerGridNames[kLayerGridCount];

// Highest level of the per-cell temperature history of the dynamic phenology (levels 0..7).
constexpr int kPhenologyStateLevels = 7;
// The level after it, which the history kept at the end of a run adds: the number of days
// it holds (0..7, the same in every cell), which its values cannot tell (a day of 0.0 °C).
constexpr int kPhenologyDayCountLevel = kPhenologyStateLevels + 1;

struct LanduseParameterGrids {
  int layers = 0;
  // [grid][layer 1..layers]; null where a grid is not made (phenology without the flag)
  std::vector<double**> layer[kLayerGridCount];
  // "ArcVeg_Fraction_", "ArcVeg_Biomass_", "ArcVeg_Retrans_" per layer, when the multilayer
  // table gives their initial vectors (else empty).
  std::vector<double**> arcVeg[3];
  double** albedo = nullptr;
  double** evaporationResistance = nullptr;
  double** temperatureAvg = nullptr;
  double** leafFallStart = nullptr;
  double** movingAverage = nullptr;
  std::vector<double> movingStackStore;  // per cell 8 entries, row-major
  std::vector<double*> movingStackCells;
  std::vector<double**> movingStackRows;
  double*** movingStack = nullptr;  // [row][column] -> 8 entries (levels 0..kPhenologyStateLevels)
  int movingAveragePosition = 0;
  // Per-cell fix-day lists of the methods 5 and 6: [layer][row][column] -> n + 1 entries.
  std::vector<std::vector<double>> fixDayStore;
  std::vector<std::vector<double*>> fixDayCells;
  std::vector<std::vector<double**>> fixDayRows;
  std::vector<double***> fixDays;  // [layer]
  // The fix-day lists of each layer registered as the stack "MultipleStartTimes<k>"; the
  // record's plain grid holds level 1 (the first fix day), set again after each daily part.
  std::vector<double**> firstFixDay;  // [layer]
  // Registry positions of the grids the start-up made (not those supplied by the control
  // file): they count as standard grids and are written every step by their write codes.
  std::vector<int> createdPositions;
  bool dynamic = false;   // a row of method 3..6 exists
  bool perCell = false;   // a row of method 5 or 6 exists
  // A row of method 4, 5 or 6 exists: the rules the rows follow and the fix-day lists are
  // state beside the grids, kept per layer in a stack beside "Pheno_start<k>"
  // (phenology_state.cpp).
  bool keepsLayerState = false;
  std::vector<int> startPositions;  // [layer]: registry position of "Pheno_start<k>"
  // [layer]: "Pheno_start<k>" was read from its file: its cells' starts are the state of an
  // earlier run (a cell not started stays so).
  std::vector<char> startRead;
  // [row of the table]: the rule the row follows was read with that state.
  std::vector<char> ruleRead;
  bool leafFallRead = false;  // "StartDayOfLeaveFall" was read from its file
  bool leafFallDeclared = false;  // the control file declares "StartDayOfLeaveFall"
  // The state stacks read at start-up (the history, each layer's), tied to those written
  // at the end (the levels as read, which RunFiles keys the file read by; null: none read).
  const void* historyReadKey = nullptr;
  std::vector<const void*> layerReadKeys;  // [layer]
  int maxFixPoints = 0;
  // Hours from the hour stamp of the data to the end of the step (the run's min_to_int_end
  // / 60, or the object's own hour offset when one is set): the day ends when the stamp plus
  // this offset reaches 24.
  double hourOffset = 0.0;
  int dayCounter = 0;     // of the moving average, 1..7
  int lastHour = 0, lastDay = 0, lastMonth = 0, lastYear = 0;
  double** temperature = nullptr;
  double** meanTheta = nullptr;  // "MeanThetaInRootZone", only with the soil-moisture variant
  // Root-zone grids of the soil model: its usable field capacity ("available_soil_moisture",
  // grows with the root depth) and its relative filling ("soil_storage"), looked up by the daily update
  // because the start-up derives them after the parameter grids.
  double** rootZoneCapacity = nullptr;
  double** rootZoneFraction = nullptr;
  bool withRootZone = true;  // false in the soil-moisture variant of the daily update
  // Per cell ((nrows + 1) x (ncols + 1), row-major) the root depth that the root zone stands
  // for and the layer that gives it, as the last daily update (or the start-up) set them.
  // The snow model lowers "root_depth1" to the permafrost's thaw depth between two days;
  // that lowering must not count as the old depth from which the next day rescales.
  // The soil model carries both across a warm start in its part of the storage file.
  std::vector<double> rootZoneDepth;
  std::vector<int> rootZoneLayer;
};

// How the INFO on a missing state stack of the phenology names where it belongs: " beside
// the grid <grid> (<its file>)" (modelobject::ReadStateStack).
inline std::string BesideGrid(const std::string& grid, const std::string& gridFile) {
  return " beside the grid " + grid + " (" + gridFile + ")";
}

// The state stacks of the layers (phenology_state.cpp): read at start-up for each layer whose
// "Pheno_start<k>" was read from its file, before the cells take their first values (the
// rules of the rows and the cells' fix-day lists; a missing stack gets an INFO), and
// written at the end of the run; the files the run writes.
void RestoreLayerPhenologyState(defaultini& d, LanduseParameterGrids& g);
void WriteLayerPhenologyState(defaultini& d);
// The stacks of the layers written at the end, each with the key of its read.
std::vector<std::pair<std::string, const void*>> LayerPhenologyStateFiles(const defaultini& d);
// Marks a start on `day` in the fix-day list [0..n] of a cell of a DynamicPhenology_4 row
// (phenology.cpp); yearLength: the days of the start's year, past which the fix days after
// a late start count on into the next year.
void MarkStartInFixDays(const LanduseTableEntry& row, double* list, int n, int day, double nodata, int yearLength);

// Sets every cell's root-zone depth and layer from the current root-depth grids (the
// deepest layer of the cell); cells without a root depth get layer 0 (none kept).
void StartRootZoneDepths(LanduseParameterGrids& g, int nrows, int ncols, double nodata);
