// The per-layer land-use parameter grids: made and filled for the start date at start-up,
// set to the table's values of the day once a day, with the seven-day mean temperature of
// the dynamic phenology and the root zone of the soil model following the root depth.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <string>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/model_date.h"
#include "framework/storage_file.h"
#include "framework/thread_policy.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "tables/landuse_day_values.h"
#include "tables/phenology.h"

const char* const kLanduseLayerGridNames[kLayerGridCount] = {
    "root_depth", "vegetation_coverage_degree", "leaf_area_index", "SurfaceCanopyResistance",
    "SurfaceIntercepResistance", "RoughnessLength", "VegetationStart", "VegetationStop", "VegetationDuration",
    "SumOfForcingUnits", "Pheno_start", "SumOfChillingUnits", "FStar_ForcingThreshold"};

namespace {

// Parameter-mask bits of a row.
constexpr int kMaskAlbedo = 0x01, kMaskEvaporation = 0x02, kMaskCanopy = 0x04, kMaskIntercep = 0x08,
              kMaskLeafArea = 0x10, kMaskCoverage = 0x20, kMaskRootDepth = 0x40, kMaskRoughness = 0x80;

bool IsDynamicMethod(int method) { return method >= 3 && method <= 6; }

// Per-cell storage of `entries` doubles for rows 0..rows and columns 0..cols, addressed as
// [row][column] -> entries.
double*** MakeCellLists(std::vector<double>& store, std::vector<double*>& cells, std::vector<double**>& rows,
                        int nrows, int ncols, int entries, double fill) {
  const size_t r = static_cast<size_t>(nrows) + 1, c = static_cast<size_t>(ncols) + 1;
  store.assign(r * c * static_cast<size_t>(entries), fill);
  cells.resize(r * c);
  rows.resize(r);
  for (size_t i = 0; i < r; ++i) {
    for (size_t j = 0; j < c; ++j) cells[i * c + j] = &store[(i * c + j) * static_cast<size_t>(entries)];
    rows[i] = &cells[i * c];
  }
  return rows.data();
}

// The plain grid of every "MultipleStartTimes<k>" record follows level 1 of the lists.
void CopyFirstFixDays(LanduseParameterGrids& g, int nrows, int ncols) {
  if (g.maxFixPoints < 1) return;
  for (size_t k = 1; k < g.firstFixDay.size() && k < g.fixDays.size(); ++k) {
    double** first = g.firstFixDay[k];
    double*** lists = g.fixDays[k];
    if (!first || !lists) continue;
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, ncols))
    for (int i = 1; i <= nrows; ++i)
      for (int j = 1; j <= ncols; ++j) first[i][j] = lists[i][j][1];
  }
}

}  // namespace

void defaultini::SetLanduseCalendarYear(int year) {
  for (LanduseTableEntry& row : landuseTable) row.SetCalendarYear(year);
}

const LanduseTableEntry* defaultini::LanduseRowAt(int layer, int row, int column) const {
  if (layer < 1 || layer >= static_cast<int>(landuseLayerGrids.size()) || !landuseLayerGrids[layer]) return nullptr;
  const double c = landuseLayerGrids[layer][row][column];
  if (!(c > geometry.nodata_value)) return nullptr;
  if (!(c >= 1.0) || c >= static_cast<double>(landuseTable.size())) return nullptr;
  return &landuseTable[static_cast<size_t>(c)];
}

namespace {

// Columns of a row that hold cells of the region.
void ColumnRange(const modelobject& m, int row, int& first, int& last) {
  first = 1;
  last = m.geometry.ncols;
  if (!m.rowBounds.empty() && row < static_cast<int>(m.rowBounds.size())) {
    first = std::max(1, static_cast<int>(m.rowBounds[row].first));
    last = std::min(m.geometry.ncols, static_cast<int>(m.rowBounds[row].last));
  }
}

// The fixed fix days of a row (old format and VariableDayCount) that the altitude of one of
// its cells moves out of the year end the start-up, naming the class, its keys and the cell
// of the elevation model; cells in row order, so the first such cell is named whatever the
// threads. (The dynamic rows' start days are known only day by day.)
void CheckFixDaysAtCellAltitudes(const defaultini& d, int layers) {
  if (!d.elevationModel || !d.zoneGrid) return;
  for (int i = 1; i <= d.geometry.nrows; ++i) {
    int first, last;
    ColumnRange(d, i, first, last);
    for (int j = first; j <= last; ++j) {
      if (!(d.zoneGrid[i][j] > d.geometry.nodata_value)) continue;
      for (int k = 1; k <= layers; ++k) {
        const LanduseTableEntry* row = d.LanduseRowAt(k, i, j);
        if (!row || row->GetMethod() > 2) continue;
        const double altitude = landuse_days::FixDayAltitude(d.elevationModel[i][j], d.geometry.nodata_value);
        const std::string fault = row->FixDayOutOfYear(altitude);
        if (fault.empty()) continue;
        if (d.log)
          *d.log << "FATAL: " << fault << " (row " << i << ", column " << j << " of the elevation model "
                 << d.grids[2].fileName << ", land-use layer " << k << ")" << "[end-entry]";
        throw 152;
      }
    }
  }
}

}  // namespace

namespace {

// Whether the standard or variable grid at a position was read from its file at the
// start-up (not made from its default value).
bool ReadFromItsFile(const defaultini& d, int position) {
  if (position < 1 || static_cast<size_t>(position) >= d.standardGrids.size()) return false;
  if (d.firstVariableGridPosition > 0 && position >= d.firstVariableGridPosition) {
    const size_t i = static_cast<size_t>(position - d.firstVariableGridPosition + 1);
    return i < d.variableGridReadFlags.size() && d.variableGridReadFlags[i] == 1;
  }
  return d.standardGrids[static_cast<size_t>(position)].readCode >= 1;
}

// A run that starts from a "TemperatureMOVAVG7" grid read from a file starts its seven-day
// temperature history from the stack that the run which wrote that grid wrote beside it at
// its end ("<file name>_End", levels 0..7 and the count of its days at level 8): the mean of
// the next days divides by as many days as the unbroken run's would. A stack without the
// count (levels 0..7 alone) is taken to hold the days up to its oldest level with a value
// other than 0 in some cell of the basin, and a WARNING says so. Without such a stack the
// history starts empty.
void RestoreMovingAverage(defaultini& d, LanduseParameterGrids& g, const std::string& gridFile) {
  const std::string file = gridFile + "_End";
  const std::string path = MakePath(d.output.inputDirectory, file);
  HeldStack held(d);
  if (!d.ReadStateStack(file, "seven-day temperature history", BesideGrid("TemperatureMOVAVG7", gridFile),
                        "the dynamic phenology's seven-day mean temperature starts from the days of this run", held))
    return;
  double*** const stack = held.levels;
  const int levels = held.top;
  g.historyReadKey = held.levels;  // the state ReadStack ties the file to
  if (levels != kPhenologyStateLevels && levels != kPhenologyDayCountLevel) {
    if (d.log)
      *d.log << "FATAL: " << path << " holds " << levels + 1 << " levels; the seven-day temperature history of the "
             << "dynamic phenology is a stack of " << kPhenologyDayCountLevel + 1 << " (0: the cold days of "
             << "DynamicPhenology_4, 1..7: the daily mean temperatures, the newest first, 8: the number of days it "
             << "holds)" << "[end-entry]";
    throw 22;
  }
  d.RefuseImpossibleLevels(stack, 0, kPhenologyStateLevels, file, "seven-day temperature history",
                           StateRange::Finite());
  const bool counted = levels == kPhenologyDayCountLevel;
  const double nodata = d.geometry.nodata_value;
  int days = 0, first = -1;
  for (int i = 1; i <= d.geometry.nrows; ++i)
    for (int j = 1; j <= d.geometry.ncols; ++j) {
      if (!d.zoneGrid || !(d.zoneGrid[i][j] > nodata)) continue;
      for (int l = 0; l <= kPhenologyStateLevels; ++l) g.movingStack[i][j][l] = stack[i][j][l];
      if (!counted) {
        for (int l = kPhenologyStateLevels; l > days; --l)
          if (stack[i][j][l] != 0.0) days = l;
        continue;
      }
      // The count: a whole number of days 0..7, the same in every cell.
      const double count = stack[i][j][kPhenologyDayCountLevel];
      if (first < 0 && count >= 0.0 && count <= kPhenologyStateLevels && count == std::floor(count))
        first = days = static_cast<int>(count);
      if (count != days || first < 0) {
        if (d.log)
          *d.log << "FATAL: " << path << " holds " << count << " at level " << kPhenologyDayCountLevel << " of row "
                 << i << ", column " << j << ", where the seven-day temperature history keeps the number of days "
                 << "it holds: a whole number from 0 to 7, the same in every cell"
                 << (first >= 0 ? " (the cells before hold " + std::to_string(first) + ")" : std::string())
                 << "[end-entry]";
        throw 22;
      }
    }
  g.dayCounter = days;
  if (!counted && d.log)
    *d.log << "WARNING: the seven-day temperature history " << path << " holds no count of its days (a stack of "
           << kPhenologyStateLevels + 1 << " levels, without level " << kPhenologyDayCountLevel << "): the run takes "
           << "it to hold " << days << " days, up to its oldest level with a value other than 0 in a cell of the "
           << "basin. A day whose mean was 0.0 °C in every cell is not counted so, and the seven-day mean then "
           << "differs from that of an unbroken run until seven days have passed" << "[end-entry]";
}

}  // namespace

// The table-wide balance days tell the period-grid writer when the vegetation-period sums
// end (written) and begin again (restarted).
void defaultini::RaiseVegetationPeriodFlags(int dayOfYear) {
  if (landuseTable.empty() || !grids) return;
  const bool ends = dayOfYear == landuseTable[0].GetJDVegetationWriteForBalance();
  const bool begins = dayOfYear == landuseTable[0].GetJDVegetationResetForBalance();
  if (!ends && !begins) return;
  for (int p = 1; p <= kMaxGridPosition; ++p) {
    GridRecord& r = grids[p];
    if (r.thousands == 0) continue;
    if (ends) r.vegetationPeriodEnded = 1;
    if (begins) r.vegetationPeriodBegins = 1;
  }
}

namespace {

// The steps of generateMultiLayerParameterGrids, in its order: the grids are registered in
// that order, which gives them their positions.

// The rows' largest fix-point count and the kinds of phenology the table holds; every row
// takes the run's start date as the start of its phenology.
void SurveyRows(defaultini& d, LanduseParameterGrids& g) {
  for (size_t r = 1; r < d.landuseTable.size(); ++r) {
    LanduseTableEntry& row = d.landuseTable[r];
    g.maxFixPoints = std::max(g.maxFixPoints, row.GetFixPointCount());
    if (IsDynamicMethod(row.method)) g.dynamic = true;
    if (row.method == 5 || row.method == 6) g.perCell = true;
    if (row.method >= 4 && row.method <= 6) g.keepsLayerState = true;
    row.SetPhenologyStartDate(static_cast<int>(d.run.start.day), static_cast<int>(d.run.start.month),
                              static_cast<int>(d.run.start.year));
  }
}

// The grid "albedo", whose values the rows set: a standard or variable grid of the run.
double** RequireAlbedo(const defaultini& d) {
  const int position = d.FindGrid("albedo");
  if (position == 0 || !d.grids[position].data) {
    if (d.log)
      *d.log << "FATAL: Albedo Grid not found for use within Landuse-Table.\n This grid must be read in as standard "
                "or variable grid (there, it can be created automatically)"
             << "[end-entry]";
    throw 12;
  }
  return d.grids[position].data;
}

// Makes a grid filled with fill and registers it; every grid made here counts as a standard
// grid, so the per-step output writes it by its write code. Returns its position.
int CreateGrid(defaultini& d, LanduseParameterGrids& g, const std::string& internalName,
               const std::string& fileName, double fill) {
  const int free = d.FirstFreeGridPosition();
  if (free < 1 || free > kMaxGridPosition) {
    if (d.log) *d.log << "FATAL: no free grid found in memory (at position " << 1000 << ")\n" << "[end-entry]";
    throw 12;
  }
  const int nrows = d.geometry.nrows, ncols = d.geometry.ncols;
  double** m = d.NewOwnedGrid(1, nrows);
  for (int i = 1; i <= nrows; ++i) std::fill(m[i], m[i] + ncols + 1, fill);
  d.Register(free, fileName, m, internalName, 0);
  g.createdPositions.push_back(free);
  d.run.standardGridCount = ++d.standardGridCount;
  return free;
}

// A registered grid of the name, or one made for it.
double** UseOrCreate(defaultini& d, LanduseParameterGrids& g, const std::string& internalName,
                     const std::string& fileName, double fill) {
  const int p = d.FindGrid(internalName);
  if (p > 0 && d.grids[p].data) return d.grids[p].data;
  return d.grids[CreateGrid(d, g, internalName, fileName, fill)].data;
}

// The soil evaporation resistance and, for the dynamic phenology, the day's mean temperature,
// the start of leaf fall and the seven-day mean with its history (carried over from the run
// that wrote a "TemperatureMOVAVG7" grid read from its file).
void MakeDayGrids(defaultini& d, LanduseParameterGrids& g) {
  g.evaporationResistance = UseOrCreate(d, g, "SurfaceEvaporationResistance", "SurfaceEvaporationResistance.asc", 0.0);
  if (!g.dynamic) return;
  g.temperatureAvg = UseOrCreate(d, g, "TemperatureAVG", "TemperatureAVG.asc", 0.0);
  const int leafFall = d.FindGrid("StartDayOfLeaveFall");
  g.leafFallDeclared = leafFall > 0;
  g.leafFallRead = leafFall > 0 && ReadFromItsFile(d, leafFall);
  g.leafFallStart = UseOrCreate(d, g, "StartDayOfLeaveFall", "StartDayOfLeaveFall.asc", 0.0);
  const int supplied = d.FindGrid("TemperatureMOVAVG7");
  g.movingAverage = UseOrCreate(d, g, "TemperatureMOVAVG7", "TemperatureMOVAVG7.asc", 0.0);
  g.movingAveragePosition = d.FindGrid("TemperatureMOVAVG7");
  g.movingStack = MakeCellLists(g.movingStackStore, g.movingStackCells, g.movingStackRows, d.geometry.nrows,
                                d.geometry.ncols, kPhenologyDayCountLevel + 1, 0.0);
  if (supplied > 0 && ReadFromItsFile(d, supplied))
    RestoreMovingAverage(d, g, d.standardGrids[static_cast<size_t>(supplied)].fileName);
}

// The ArcVeg grids of each layer, which must exist for the vectors the multilayer table gives.
void LinkArcVegGrids(const defaultini& d, LanduseParameterGrids& g) {
  bool given[3] = {false, false, false};
  for (size_t r = 1; r < d.multiLayerTable.size(); ++r) {
    given[0] = given[0] || d.multiLayerTable[r].fractionCount > 0;
    given[1] = given[1] || d.multiLayerTable[r].biomassCount > 0;
    given[2] = given[2] || d.multiLayerTable[r].retransCount > 0;
  }
  static const char* const kArcVegNames[3] = {"ArcVeg_Fraction_", "ArcVeg_Biomass_", "ArcVeg_Retrans_"};
  for (int a = 0; a < 3; ++a) {
    g.arcVeg[a].clear();
    if (!given[a]) continue;
    g.arcVeg[a].assign(static_cast<size_t>(g.layers) + 1, nullptr);
    for (int k = 1; k <= g.layers; ++k) g.arcVeg[a][k] = d.grids[d.RequireGrid(kArcVegNames[a] + std::to_string(k))].data;
  }
}

// The per-layer grids 0 .. lastGrid - 1 (LanduseLayerGrid), layer by layer.
void MakeLayerGrids(defaultini& d, LanduseParameterGrids& g, int lastGrid) {
  for (auto& v : g.layer) v.assign(static_cast<size_t>(g.layers) + 1, nullptr);
  g.startPositions.assign(static_cast<size_t>(g.layers) + 1, 0);
  g.startRead.assign(static_cast<size_t>(g.layers) + 1, 0);
  for (int k = 1; k <= g.layers; ++k) {
    for (int n = 0; n < lastGrid; ++n) {
      const std::string base = kLanduseLayerGridNames[n];
      double fill = 0.0;
      if (n == kVegetationStart || n == kVegetationStop) fill = -1.0;
      if (n >= kForcingSum) fill = d.geometry.nodata_value;  // below 0: initialised from the row below
      const size_t made = g.createdPositions.size();
      if (n == kPhenoStart) {
        const int supplied = d.FindGrid(base + std::to_string(k));
        g.startRead[k] = supplied > 0 && ReadFromItsFile(d, supplied);
      }
      g.layer[n][k] = UseOrCreate(d, g, base + std::to_string(k), base + "_Layer_" + std::to_string(k) + ".asc", fill);
      if (n == kPhenoStart) g.startPositions[k] = d.FindGrid(base + std::to_string(k));
      // Vegetation periods made here serve only the period writer's vegetation sums.
      if (g.createdPositions.size() > made && n >= kVegetationStart && n <= kVegetationDuration)
        d.KeepForReaders(g.createdPositions.back());
    }
  }
}

// Per layer the grid stack "MultipleStartTimes<k>" of levels 0..n: each cell's fix-day
// list, level 0 the lower bound of the first interval (rows of methods 5 and 6).
void MakeFixDayStacks(defaultini& d, LanduseParameterGrids& g) {
  const int L = g.layers, entries = g.maxFixPoints + 1;
  const double nodata = d.geometry.nodata_value;
  g.fixDayStore.resize(static_cast<size_t>(L) + 1);
  g.fixDayCells.resize(static_cast<size_t>(L) + 1);
  g.fixDayRows.resize(static_cast<size_t>(L) + 1);
  g.fixDays.assign(static_cast<size_t>(L) + 1, nullptr);
  g.firstFixDay.assign(static_cast<size_t>(L) + 1, nullptr);
  for (int k = 1; k <= L; ++k) {
    g.fixDays[k] = MakeCellLists(g.fixDayStore[k], g.fixDayCells[k], g.fixDayRows[k], d.geometry.nrows,
                                 d.geometry.ncols, entries, nodata);
    const int p = CreateGrid(d, g, "MultipleStartTimes" + std::to_string(k),
                             "MultipleStartTimes_Layer_" + std::to_string(k) + ".asc", nodata);
    d.grids[p].stack = g.fixDays[k];
    d.grids[p].stackLevels = g.maxFixPoints;
    g.firstFixDay[k] = d.grids[p].data;
  }
}

// A warm start of rows of DynamicPhenology_4 that does not read "StartDayOfLeaveFall" lets
// the leaves of a cell fall again that fell before it.
void WarnOfLeafFallNotRead(const defaultini& d, const LanduseParameterGrids& g) {
  if (g.leafFallRead || std::find(g.startRead.begin(), g.startRead.end(), 1) == g.startRead.end()) return;
  for (size_t r = 1; r < d.landuseTable.size(); ++r)
    if (d.landuseTable[r].method == 6) {
      if (d.log)
        *d.log << "INFO: the starts of the dynamic phenology are read (Pheno_start), but not the grid "
               << "StartDayOfLeaveFall: a cell of DynamicPhenology_4 whose leaves fell before this run may "
               << "take its leaf fall again; read it as a variable grid with the other state grids" << "[end-entry]";
      // Where the run before kept it (the record of the storage file read lists it): a WARNING.
      const int p = d.FindGrid("StartDayOfLeaveFall");
      // Not declared at all: where the run before kept its phenology (the record lists the
      // layers' stacks), a WARNING too.
      if (!g.leafFallDeclared)
        for (const auto& layer : LayerPhenologyStateFiles(d))
          NoteStateNotCarried(MakePath(d.output.inputDirectory, layer.first),
                              "the run before kept the phenology of its cells, but this run's control file does "
                              "not declare the grid StartDayOfLeaveFall (the day of each cell's leaf fall), so a "
                              "cell of DynamicPhenology_4 whose leaves fell in the run before may take its leaf fall "
                              "again. Declare it in [variable_grids] as \"StartDayOfLeaveFall.asc "
                              "StartDayOfLeaveFall 0 0\", followed by its write code 3 and read flag 1, in the run "
                              "that writes the state and in the one that reads it");
      if (p > 0 && g.leafFallDeclared)
        NoteStateFileNotRead(MakePath(d.output.inputDirectory, d.grids[p].fileName),
                             "the grid StartDayOfLeaveFall (the day of each cell's leaf fall) is not read while the "
                             "starts of DynamicPhenology_4 are, so a cell whose leaves fell in the run before may take "
                             "its leaf fall again. Declare it in [variable_grids] as \"" + d.grids[p].fileName +
                                 " StartDayOfLeaveFall 0 0\", followed by its write code 3 and read flag 1");
      return;
    }
}

// Links the dynamic rows to their per-cell grids.
void LinkDynamicRows(defaultini& d, LanduseParameterGrids& g) {
  for (size_t r = 1; r < d.landuseTable.size(); ++r) {
    LanduseTableEntry& row = d.landuseTable[r];
    if (!IsDynamicMethod(row.method)) continue;
    row.SetStartDayGrids(g.layer[kPhenoStart].data());
    row.SetForcingThresholdGrids(g.layer[kForcingThreshold].data());
    row.SetForcingSumGrids(g.layer[kForcingSum].data());
    if (g.perCell) row.SetPerCellFixDays(g.fixDays.data(), g.maxFixPoints);
  }
}

// The day of the year whose parameters are in force at the first step: the time loop sets
// them with the step that holds the end of each day, so before the first step they are
// those of the last day that ended before it began.
int FirstParameterDay(defaultini& d, const LanduseParameterGrids& g) {
  const ModelDate day = DayEndedBeforeStep(d.run.start, g.hourOffset, d.StepMinutes());
  d.SetLanduseCalendarYear(static_cast<int>(day.year));
  return d.landuseTable[1].DayOfYear(static_cast<int>(day.day), static_cast<int>(day.month),
                                     static_cast<int>(day.year));
}

// The start of a cell that the phenology has not started when a run starts it: none (-1), or
// once the run begins after the row's latest start day, the start that reaches the fix point
// after it on that day. One that would lie before the year cannot be used.
double FirstStart(const defaultini& d, const LanduseTableEntry& row) {
  const int shift = row.GetDynamicStartShift();
  const int s = row.GetDynamicFixIndex(), after = row.GetFixDay(s + 1), latest = row.GetMaxStartJDforDP1();
  const int begins = row.DayOfYear(static_cast<int>(d.run.start.day), static_cast<int>(d.run.start.month),
                                   static_cast<int>(d.run.start.year));
  // (-1 is no start: the day before the year cannot be one either.)
  if (s < 1 || begins <= latest || latest - after >= 0) return shift;
  if (d.log)
    *d.log << "FATAL: [landuse_table] class " << row.GetCode() << " (" << row.GetName() << "): the run begins after "
           << "its maxStartJDforDP1 = " << latest << ", so every cell whose vegetation has not started takes the "
           << "start that reaches fix point " << s + 1 << " of JulDays, " << after << " days after the start, on day "
           << latest << ": day " << latest - after << ", before the year. Give maxStartJDforDP1 a day of at least "
           << after << ", or start the run on a day up to " << latest << " (or from the state of a run that "
           << "did, reading Pheno_start)" << "[end-entry]";
  throw 152;
}

// The bounds the daily update puts on the values a row sets, so that the first day holds
// what the daily update of that day held (the value of a per-cell list may lie beyond its
// last fix day's).
void BoundCellLayer(LanduseParameterGrids& g, const LanduseTableEntry& row, int k, int i, int j) {
  const std::pair<int, double (*)(double)> bounds[] = {
      {kMaskRootDepth, phenology::BoundRootDepth}, {kMaskCoverage, phenology::BoundCoverage},
      {kMaskLeafArea, phenology::BoundNonNegative}, {kMaskCanopy, phenology::BoundNonNegative},
      {kMaskIntercep, phenology::BoundNonNegative}, {kMaskRoughness, phenology::BoundRoughness}};
  const LanduseLayerGrid grids[] = {kRootDepth, kCoverage, kLeafAreaIndex, kCanopyResistance, kIntercepResistance,
                                    kRoughness};
  for (size_t b = 0; b < 6; ++b)
    if (row.TestParameterMask(bounds[b].first)) {
      double& v = g.layer[grids[b]][k][i][j];
      v = bounds[b].second(v);
    }
}

// The values of layer k of cell (i, j) for the day: no-data without a row; a dynamic row's
// sums and start where no state supplied them; a per-cell row's own fix days, where the
// state of an earlier run did not bring them.
void FillCellLayer(defaultini& d, LanduseParameterGrids& g, int lastGrid, int doy, int i, int j, int k,
                   double altitude) {
  const double nodata = d.geometry.nodata_value;
  LogStream* log = d.log;
  LanduseTableEntry* row = const_cast<LanduseTableEntry*>(d.LanduseRowAt(k, i, j));
  if (!row) {
    for (int n = 0; n < lastGrid; ++n) g.layer[n][k][i][j] = nodata;
    if (k == 1) g.albedo[i][j] = g.evaporationResistance[i][j] = nodata;
    for (auto& arc : g.arcVeg)
      if (!arc.empty() && arc[k] && arc[k][i][j] < 0) arc[k][i][j] = nodata;
    return;
  }
  if (g.dynamic && (row->method == 3 || row->method == 4 || row->method == 6)) {
    if (g.layer[kForcingSum][k][i][j] < 0) g.layer[kForcingSum][k][i][j] = 0.0;
    // A start read with the state of an earlier run is the cell's own: one not started stays
    // so, as in the run that wrote it.
    double& start = g.layer[kPhenoStart][k][i][j];
    if (start < 0) start = g.startRead[k] ? -1.0 : FirstStart(d, *row);
    // A chilling sum supplied gives the row its own rule, unless the state of the run that
    // wrote it says which rule the row followed.
    if (g.layer[kChillingSum][k][i][j] < 0)
      g.layer[kChillingSum][k][i][j] = 0.0;
    else if (!g.ruleRead[static_cast<size_t>(row - d.landuseTable.data())])
      row->SetDynamicStartSet(false);
    if (g.layer[kForcingThreshold][k][i][j] < 0) g.layer[kForcingThreshold][k][i][j] = row->GetFStar();
  }
  double* list = g.perCell && (row->method == 5 || row->method == 6) ? g.fixDays[k][i][j] : nullptr;
  if (list && !(list[1] > nodata)) {  // not brought by the state
    const int n = std::min(row->GetFixPointCount(), g.maxFixPoints);
    list[0] = 0.0;
    for (int e = 1; e <= n; ++e) {
      const bool waits = row->method == 5 && row->GetForcingThreshold(e) >= 0 && row->GetFixDay(e) > doy;
      list[e] = waits ? -1.0 : row->GetFixDay(e);
    }
    // A cell that started before (a start read, or the latest start) has it in its list.
    const double start = row->method == 6 ? g.layer[kPhenoStart][k][i][j] : -1.0;
    if (start > 0)
      MarkStartInFixDays(*row, list, n, static_cast<int>(start), nodata,
                         row->StartYearLength(doy, static_cast<int>(start)));
  }
  if (k == 1 && row->TestParameterMask(kMaskAlbedo)) g.albedo[i][j] = row->GetAlbedoAtDay(log, doy, k, i, j, altitude);
  if (k == 1 && row->TestParameterMask(kMaskEvaporation))
    g.evaporationResistance[i][j] = row->GetSurfaceEvaporationResistanceAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskCanopy))
    g.layer[kCanopyResistance][k][i][j] = row->GetSurfaceCanopyResistanceAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskIntercep))
    g.layer[kIntercepResistance][k][i][j] = row->GetSurfaceIntercepResistanceAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskLeafArea))
    g.layer[kLeafAreaIndex][k][i][j] = row->GetLeafAreaIndexAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskCoverage))
    g.layer[kCoverage][k][i][j] = row->GetVegetationCoverageDegreeAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskRootDepth))
    g.layer[kRootDepth][k][i][j] = row->GetRootDepthAtDay(log, doy, k, i, j, altitude);
  if (row->TestParameterMask(kMaskRoughness))
    g.layer[kRoughness][k][i][j] = row->GetRoughnessLengthAtDay(log, doy, k, i, j, altitude);
  BoundCellLayer(g, *row, k, i, j);
}

// Every basin cell's values for the day of the first step. One thread: a supplied chilling
// sum changes a row's flag.
void FillFirstDay(defaultini& d, LanduseParameterGrids& g, int lastGrid) {
  const int doy = FirstParameterDay(d, g);
  for (int i = 1; i <= d.geometry.nrows; ++i) {
    int first, last;
    ColumnRange(d, i, first, last);
    for (int j = first; j <= last; ++j) {
      if (!d.zoneGrid || !(d.zoneGrid[i][j] > d.geometry.nodata_value)) continue;
      const double altitude =
          d.elevationModel ? landuse_days::FixDayAltitude(d.elevationModel[i][j], d.geometry.nodata_value) : 0.0;
      for (int k = 1; k <= g.layers; ++k) FillCellLayer(d, g, lastGrid, doy, i, j, k, altitude);
    }
  }
}

}  // namespace

void defaultini::generateMultiLayerParameterGrids(int layerCount) {
  LanduseParameterGrids& g = landuseGrids;
  if (layerCount < 1 || landuseLayerGrids.size() < 2 || !landuseLayerGrids[1] || landuseTable.size() < 2) return;
  g.layers = std::min(layerCount, static_cast<int>(landuseLayerGrids.size()) - 1);
  g.hourOffset = hourOffset != 0.0 ? hourOffset : run.minToIntEnd / 60.0;
  CheckFixDaysAtCellAltitudes(*this, g.layers);
  SurveyRows(*this, g);
  g.albedo = RequireAlbedo(*this);

  g.createdPositions.clear();
  MakeDayGrids(*this, g);
  LinkArcVegGrids(*this, g);
  const int lastGrid = g.dynamic ? kLayerGridCount : kForcingSum;
  MakeLayerGrids(*this, g, lastGrid);
  if (g.perCell) MakeFixDayStacks(*this, g);
  // The rules of the rows and the cells' fix days a warm start carries on with.
  RestoreLayerPhenologyState(*this, g);
  WarnOfLeafFallNotRead(*this, g);
  // The dynamic rows are linked to their per-cell grids before the values of the start are
  // set: a cell whose vegetation started before the run (a warm start past the start day,
  // its start day read with "Pheno_start") takes the values after its start, as the daily
  // update of the run that wrote that state did, not the dormant ones. A run started from
  // the state of an earlier one thus continues it exactly.
  LinkDynamicRows(*this, g);
  FillFirstDay(*this, g, lastGrid);
  CopyFirstFixDays(g, geometry.nrows, geometry.ncols);

  // The root zone stands for these depths until the first day ends (unless a warm start
  // restores it): noted before a module lowers the depths, as the snow model does where it
  // carries the roots of thawed permafrost into a warm start.
  StartRootZoneDepths(g, geometry.nrows, geometry.ncols, geometry.nodata_value);
}

namespace {

// Notes the cell's deepest root depth over the layers (the first layer that holds it) as
// the depth its root zone stands for.
void KeepRootZoneDepth(LanduseParameterGrids& g, int i, int j, size_t cell, double nodata) {
  double depth = -1.0;
  int layer = 0;
  for (int k = 1; k <= g.layers; ++k) {
    double** grid = g.layer[kRootDepth][static_cast<size_t>(k)];
    if (grid && grid[i][j] > nodata && grid[i][j] > depth) {
      depth = grid[i][j];
      layer = k;
    }
  }
  g.rootZoneDepth[cell] = layer > 0 ? depth : 0.0;
  g.rootZoneLayer[cell] = layer;
}

}  // namespace

void StartRootZoneDepths(LanduseParameterGrids& g, int nrows, int ncols, double nodata) {
  const size_t stride = static_cast<size_t>(ncols) + 1;
  g.rootZoneDepth.assign((static_cast<size_t>(nrows) + 1) * stride, 0.0);
  g.rootZoneLayer.assign(g.rootZoneDepth.size(), 0);
  for (int i = 1; i <= nrows; ++i)
    for (int j = 1; j <= ncols; ++j) KeepRootZoneDepth(g, i, j, static_cast<size_t>(i) * stride + j, nodata);
}

namespace {

// f(i, j) for every cell of the basin, rows in parallel.
template <class F>
void EachBasinCell(const defaultini& d, const F& f) {
  const int nrows = d.geometry.nrows;
  const double nodata = d.geometry.nodata_value;
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, d.geometry.ncols))
  for (int i = 1; i <= nrows; ++i) {
    int first, last;
    ColumnRange(d, i, first, last);
    for (int j = first; j <= last; ++j)
      if (d.zoneGrid[i][j] > nodata) f(i, j);
  }
}

// The step's share of the daily mean temperature of the dynamic phenology.
void AddStepTemperature(defaultini& d, LanduseParameterGrids& g, int dt) {
  if (g.dynamic && g.temperatureAvg) {
    if (!g.temperature) {
      const int p = d.FindGrid("temperature");
      if (p == 0 || !d.grids[p].data) {
        if (d.log)
          *d.log << "FATAL: could not find grid with label \"" << "temperature" << "\". \nThis grid must be present "
               << "(either by interpolating " << "or by reading or as standard grid) for using dynamic phenology"
               << "[end-entry]";
        throw 33;
      }
      g.temperature = d.grids[p].data;
    }
    const double share = dt / 1440.0;
    EachBasinCell(d, [&g, share](int i, int j) { g.temperatureAvg[i][j] += share * g.temperature[i][j]; });
  }
}

// The progress line of the day's parameters.
void ReportParameterDay(const defaultini& d, const LanduseParameterGrids& g, const ModelDate& date) {
  if (!omp_in_parallel() && d.log) {
    if (d.reportInterval <= 1) {
      *d.log << "INFO: " << std::setw(20) << "actual parameters" << " "
           << DateText(date, kRecordDate.Until(DateField::kHour)) << ". h" << "[end-entry]";
    } else if ((static_cast<int>(g.hourOffset) + g.lastHour) % d.reportInterval == 0) {
      *d.log << "INFO: " << std::setw(20) << "actual parameters" << " "
           << DateText(g.lastYear, g.lastMonth, g.lastDay, g.lastHour, 0, kRecordDate.Until(DateField::kHour))
           << ". h " << "(time of meteo data)" << "[end-entry]";
    }
  }
}

// The soil model's root-zone grids, which the start-up derives after the parameter grids.
void LinkRootZone(const defaultini& d, LanduseParameterGrids& g) {
  if (g.withRootZone && !g.rootZoneCapacity) {
    const int p = d.FindGrid("available_soil_moisture");
    if (p > 0) g.rootZoneCapacity = d.grids[p].data;
  }
  if (g.withRootZone && !g.rootZoneFraction) {
    const int p = d.FindGrid("soil_storage");
    if (p > 0) g.rootZoneFraction = d.grids[p].data;
  }
}

// The albedo and soil evaporation resistance of a cell, which its top layer's row sets.
void SetTopLayerValues(const defaultini& d, LanduseParameterGrids& g, const ModelDate& day, int doy, int i, int j,
                       double altitude) {
  const LanduseTableEntry* top = d.LanduseRowAt(1, i, j);
  if (!top) {
    if (g.albedo) g.albedo[i][j] = d.geometry.nodata_value;
    if (g.evaporationResistance) g.evaporationResistance[i][j] = d.geometry.nodata_value;
    return;
  }
  if (g.albedo && top->TestParameterMask(kMaskAlbedo))
    g.albedo[i][j] = top->GetAlbedoAtDay(d.log, doy, 1, i, j, altitude);
  if (g.evaporationResistance && top->TestParameterMask(kMaskEvaporation))
    g.evaporationResistance[i][j] =
        top->GetSurfaceEvaporationResistance(d.log, static_cast<int>(day.day), static_cast<int>(day.month),
                                             static_cast<int>(day.year), 1, i, j, altitude);
}

// The seven-day mean temperature, with the day that ends.
void ShiftDailyMeans(defaultini& d, LanduseParameterGrids& g) {
  if (g.dynamic && g.movingStack) {
    g.dayCounter = std::min(g.dayCounter + 1, 7);
    const int counter = g.dayCounter;
    EachBasinCell(d, [&g, counter](int i, int j) {
      g.movingAverage[i][j] = phenology::ShiftMovingAverage(g.movingStack[i][j], g.temperatureAvg[i][j], counter);
    });
    if (g.movingAveragePosition > 0) d.WriteGrids(g.movingAveragePosition, 0, false);
  }
}

// The day's mean temperature starts again from 0 once its day has ended.
void ClearDayTemperature(const defaultini& d, LanduseParameterGrids& g) {
  if (g.dynamic && g.temperatureAvg) EachBasinCell(d, [&g](int i, int j) { g.temperatureAvg[i][j] = 0.0; });
}

// Days inside the vegetation period.
void CountVegetationDays(defaultini& d, LanduseParameterGrids& g) {
  const int nrows = d.geometry.nrows;
  const double nodata = d.geometry.nodata_value;
  if (g.layers > 0 && !g.layer[kVegetationDuration].empty() && g.layer[kVegetationDuration][1]) {
    const int L = g.layers;
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, d.geometry.ncols))
    for (int i = 1; i <= nrows; ++i) {
      int first, last;
      ColumnRange(d, i, first, last);
      for (int j = first; j <= last; ++j)
        for (int k = 1; k <= L; ++k) {
          if (!(d.zoneGrid[i][j] > nodata)) {
            g.layer[kVegetationDuration][k][i][j] = nodata;
          } else if (g.layer[kVegetationStart][k][i][j] >= 0 && g.layer[kVegetationStop][k][i][j] <= 0) {
            g.layer[kVegetationDuration][k][i][j] += 1.0;
          }
        }
    }
  }
}

}  // namespace

void defaultini::UpdateLanduseParameters(ModelDate date, int dt, double** m1, double** m2, double** m3,
                                         double** m4) {
  LanduseParameterGrids& g = landuseGrids;
  const int nrows = geometry.nrows;
  const double nodata = geometry.nodata_value;
  if (!zoneGrid) return;
  // The root zone stands for the depths of the start-up until the first day ends, unless a
  // warm start restored them (the start-up notes them; a set-up without it, here).
  if (g.withRootZone && g.rootZoneLayer.empty() && g.layers > 0 && m1 && m2 && m3 && m4)
    StartRootZoneDepths(g, nrows, geometry.ncols, nodata);

  // 1. The step's share of the daily mean temperature.
  AddStepTemperature(*this, g, dt);

  // 2. The daily part with the step that holds the end of a day: the step that ends at
  // midnight, however it is written, or the first that passes it. It sets the values of the
  // day that ends (of the last, where a step longer than a day holds several).
  const DayEnds ends = DayEndsOfStep(date, g.hourOffset, dt);
  const ModelDate& day = ends.last;
  if (ends.count > 0) {
    // 3. Progress line.
    ReportParameterDay(*this, g, date);
    // 4. Seven-day mean temperature.
    ShiftDailyMeans(*this, g);
    // 5. Day of year and the dynamic phenology.
    if (g.layers > 0 && m1 && m2 && m3 && m4) {
      const int doy = landuseTable[1].DayOfYear(static_cast<int>(day.day), static_cast<int>(day.month),
                                                static_cast<int>(day.year));
      g.lastHour = static_cast<int>(date.hour);
      g.lastDay = static_cast<int>(date.day);
      g.lastMonth = static_cast<int>(date.month);
      g.lastYear = static_cast<int>(date.year);
      SetLanduseCalendarYear(static_cast<int>(day.year));
      if (g.dynamic) UpdateDynamicPhenology(doy, g.layers);
      CopyFirstFixDays(g, nrows, geometry.ncols);
      RaiseVegetationPeriodFlags(doy);
      LinkRootZone(*this, g);
      double** const capacity = g.withRootZone ? g.rootZoneCapacity : nullptr;
      double** const fraction = g.withRootZone ? g.rootZoneFraction : nullptr;

      // 6.-8. Parameters of the day, vegetation markers and the root zone.
      const int L = g.layers;
      const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
      // A bad fix day ends the run with its code; it must not leave the parallel loop.
      std::atomic<int> failure{0};
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
      for (int i = 1; i <= nrows; ++i) {
        int first, last;
        ColumnRange(*this, i, first, last);
        for (int j = first; j <= last; ++j) try {
          if (failure.load(std::memory_order_relaxed) != 0) break;
          if (!(zoneGrid[i][j] > nodata)) continue;
          const double altitude =
              elevationModel ? landuse_days::FixDayAltitude(elevationModel[i][j], nodata) : 0.0;
          SetTopLayerValues(*this, g, day, doy, i, j, altitude);
          double oldDepth = -1.0, newDepth = -1.0;
          int deepest = 0;
          const size_t cell = static_cast<size_t>(i) * stride + static_cast<size_t>(j);
          const bool kept = !g.rootZoneLayer.empty() && g.rootZoneLayer[cell] > 0;
          for (int k = 1; k <= L; ++k) {
            const LanduseTableEntry* row = LanduseRowAt(k, i, j);
            if (!row) {
              for (int n = kRootDepth; n <= kVegetationStop; ++n)
                if (g.layer[n][k]) g.layer[n][k][i][j] = nodata;
              continue;
            }
            double& depth = g.layer[kRootDepth][k][i][j];
            if (depth > oldDepth) {
              oldDepth = depth;
              deepest = k;
            }
            if (row->TestParameterMask(kMaskRootDepth)) depth = row->GetRootDepthAtDay(log, doy, k, i, j, altitude);
            if (row->TestParameterMask(kMaskLeafArea))
              g.layer[kLeafAreaIndex][k][i][j] = row->GetLeafAreaIndexAtDay(log, doy, k, i, j, altitude);
            if (row->TestParameterMask(kMaskCoverage))
              g.layer[kCoverage][k][i][j] = row->GetVegetationCoverageDegreeAtDay(log, doy, k, i, j, altitude);
            // The resistances of the day come from the calendar date: monthly rows follow
            // the month lengths of the date's own year.
            if (row->TestParameterMask(kMaskCanopy))
              g.layer[kCanopyResistance][k][i][j] =
                  row->GetSurfaceCanopyResistance(log, static_cast<int>(day.day), static_cast<int>(day.month),
                                                  static_cast<int>(day.year), k, i, j, altitude);
            if (row->TestParameterMask(kMaskIntercep))
              g.layer[kIntercepResistance][k][i][j] =
                  row->GetSurfaceIntercepResistance(log, static_cast<int>(day.day), static_cast<int>(day.month),
                                                    static_cast<int>(day.year), k, i, j, altitude);
            if (row->TestParameterMask(kMaskRoughness))
              g.layer[kRoughness][k][i][j] = row->GetRoughnessLengthAtDay(log, doy, k, i, j, altitude);
            // The vegetation-period grids are given back in a run that sums no vegetation period.
            if (g.layer[kVegetationDuration][k]) {
              double& start = g.layer[kVegetationStart][k][i][j];
              double& stop = g.layer[kVegetationStop][k][i][j];
              if (doy == row->GetJDVegetationResetForBalance()) {
                start = stop = -1.0;
                g.layer[kVegetationDuration][k][i][j] = 0.0;
              }
              if (start < 0) start = row->GetVegetationPeriodDayAtDay(log, doy, k, i, j, altitude);
              if (stop < 0) stop = row->GetVegetationStopDayAtDay(log, doy, k, i, j, altitude);
            }
            depth = phenology::BoundRootDepth(depth);
            g.layer[kCoverage][k][i][j] = phenology::BoundCoverage(g.layer[kCoverage][k][i][j]);
            g.layer[kLeafAreaIndex][k][i][j] = phenology::BoundNonNegative(g.layer[kLeafAreaIndex][k][i][j]);
            g.layer[kCanopyResistance][k][i][j] = phenology::BoundNonNegative(g.layer[kCanopyResistance][k][i][j]);
            g.layer[kIntercepResistance][k][i][j] =
                phenology::BoundNonNegative(g.layer[kIntercepResistance][k][i][j]);
            g.layer[kRoughness][k][i][j] = phenology::BoundRoughness(g.layer[kRoughness][k][i][j]);
          }
          if (kept) {
            oldDepth = g.rootZoneDepth[cell];
            deepest = g.rootZoneLayer[cell];
          }
          if (deepest > 0 && LanduseRowAt(deepest, i, j)) newDepth = g.layer[kRootDepth][deepest][i][j];
          if (capacity && fraction && deepest > 0 && oldDepth > 0 && newDepth > 0 && capacity[i][j] > nodata &&
              fraction[i][j] > nodata) {
            // m2 and m3 are the soil model's inactive field capacity and soil moisture; its
            // saturated partition (m1) and interflow storage (m4) do not depend on the roots.
            phenology::RootZone z{capacity[i][j], fraction[i][j], m2[i][j], m3[i][j]};
            phenology::AdjustRootZone(z, oldDepth, newDepth);
            capacity[i][j] = z.capacity;
            fraction[i][j] = z.fraction;
            m2[i][j] = z.inactiveCapacity;
            m3[i][j] = z.inactiveFraction;
          }
          if (!g.rootZoneLayer.empty()) KeepRootZoneDepth(g, i, j, cell, nodata);
        } catch (int code) {
          int none = 0;
          failure.compare_exchange_strong(none, code != 0 ? code : 103);
        } catch (...) {
          int none = 0;
          failure.compare_exchange_strong(none, 103);
        }
      }
      if (failure.load() != 0) throw failure.load();
    }
    ClearDayTemperature(*this, g);
  }

  // 9. Days inside the vegetation period.
  CountVegetationDays(*this, g);
}

int defaultini::StepMinutes() const {
  if (runStepMinutes > 0) return runStepMinutes;
  const double minutes = output.timeStepMinutes;
  if (minutes >= 1.0) return static_cast<int>(std::lround(minutes));
  // No station records and no timestep key (routing alone, regression files alone): the
  // step is an hour or longer, and stamps that open their steps are shifted by the step's
  // length (1440 for daily data stamped at 0 h).
  return run.minToIntEnd >= 60.0 ? static_cast<int>(std::lround(run.minToIntEnd)) : 60;
}

void defaultini::UpdateLanduseParametersWithSoilMoisture(ModelDate date, int dt) {
  const int p = FindGrid("MeanThetaInRootZone");
  landuseGrids.meanTheta = p > 0 ? grids[p].data : nullptr;
  // Without the soil model's matrices the root zone stays as it is; the daily part only
  // asks for four present matrices, which are then never touched.
  landuseGrids.withRootZone = false;
  double** any = zoneGrid;
  try {
    UpdateLanduseParameters(date, dt, any, any, any, any);
  } catch (...) {
    landuseGrids.withRootZone = true;
    throw;
  }
  landuseGrids.withRootZone = true;
}
