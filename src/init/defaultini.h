// The start-up object of a run: it turns the control file into its preprocessed copy,
// reads the global sections (model time, output settings, tables, basin grids), derives
// the internal grids every module shares (regions, zones, cell sizes, coordinates, slope
// and aspect, regression weights) and then serves the run with per-step output.
//
// The member functions are spread over several files by concern:
//   defaultini.cpp                 construction, the start-up steps, release
//   defaultini_preprocess.cpp      symbols and remarks of the control file
//   defaultini_settings.cpp        [output_interval] .. [meteo_names], [model_time]
//   defaultini_basin_grids.cpp     [zone_grid], [elevation_model], [standard_grids], header
//   defaultini_regions.cpp         region decomposition and river links
//   defaultini_ranking.cpp         zone and region ranking
//   defaultini_geometry.cpp        cell sizes, coordinates, slope and aspect
//   defaultini_regression.cpp      regression regions and their weights
//   defaultini_run_values.cpp      hand-over of the run values
//   defaultini_code_checks.cpp     code checks of the land-use, soil and irrigation grids
//   defaultini_soil_grids.cpp      land-use layer grids and the derived soil grids
//   irrigation_reader.cpp          [irrigation], [irrigation_table]
//   irrigation_schedule.cpp        schedule texts of the irrigation rules
//   coupling_*.cpp, summary_output.cpp  file exchange with an outside program
//   defaultini_output.cpp          per-step output and zonal statistics
//   defaultini_variable_grids.cpp  [variable_grids] and periodic input
//   hru_spinup.cpp                 [SpinUp] and the response-unit grids
//   ../tables/*.cpp                the parameter-table readers
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/model_date.h"
#include "framework/modelobject.h"
#include "framework/zonalstatistic.h"
#include "framework/zone_ranking.h"  // kMaxZoneCode
#include "init/coupling.h"
#include "init/hru.h"
#include "init/irrigation_table.h"
#include "tables/landuse_parameter_grids.h"
#include "tables/landuse_table.h"
#include "tables/soil_table.h"

// ZoneTableEntry (five doubles per zone) and StatisticsTableEntry live with the statistics
// writers that use them.
using StatisticsEntry = StatisticsTableEntry;

// Limits of the control file and of the zones and regions (codes up to kMaxZoneCode).
constexpr int kMaxZones = 16000;
constexpr int kMaxRegions = 30;
constexpr int kLastStartupStep = 22;

// One region of the regression regions: mean row and column (as ints and as doubles) and
// the number of its cells.
struct RegionTableEntry {
  int meanRow = 0;
  int meanColumn = 0;
  double meanRowD = 0.0;
  double meanColumnD = 0.0;
  double cellCount = 0.0;
};

// The description of one standard grid from [standard_grids] (position 3 and above), or
// of the zone grid (1) and the elevation model (2), with its periodic-input state.
struct StandardGridSpec {
  std::string fileName;
  std::string where;  // the section and line naming the grid, for messages
  std::string internalName;
  int fillCode = 0;
  int readCode = 1;
  double defaultValue = 0.0;
  int writeCode = 0;
  std::string outName;
  std::string statFile;  // empty: no zonal statistic
  int statCode = 0;
  // Re-reading: block count (<= 0: never), unit word, step number.
  int periodBlocks = -1;
  std::string periodUnit;
  int periodStep = -1;
  bool persistent = true;
  int holdSteps = 0;
  // Periodic-input state.
  int blockCounter = 0;
  int stepCounter = 0;
  int lastComponent[2] = {9999, 9999};
  bool restorePending = false;
  int stepsSinceReading = 0;
  MatrixOwner startValues;  // starting values kept for a non-persistent grid
};

// Everything the start-up hands to the application (and the application to every
// module). Vectors of names and codes are 1-based (index 0 unused).
struct RunValues {
  // [output_interval] and its keys
  int outputInterval = 0;
  int intOption = 0;       // second value, 0 or 1 (handed to every interpolator)
  int thirdOption = 0;     // third value, 0 or 1
  double minToIntEnd = 0.0;  // minutes from the hour stamp of the data to its step's end
  std::string minToIntEndLine;  // its line, as a message names it ("line 14 of basin.ctl")
  double minutesToInvEndRouting = 0.0;
  int timestep = 0;        // the run's step in minutes where given; 0 = hourly form
  // [meteo_data_count], [coordinates], [meteo_names], [output_list]
  int meteoCount = 0;
  double latitude = 0.0;
  double longitude = 0.0;
  double referenceMeridian = 0.0;
  double timeShift = 0.0;
  std::vector<std::string> meteoNames;
  int outputListCount = 0;
  std::vector<int> outputList;
  // standard grids (including the variable grids after start-up)
  int standardGridCount = 0;
  // zone and region ranking
  std::vector<int> zoneCodeMap;           // code 0..maxZoneCode -> zone index (0: absent)
  std::vector<ZoneTableEntry> zoneTable;  // entries 0..zoneCount
  std::vector<RowBounds> rowBounds;       // rows 1..nrows; (0, -1) for rows without basin cells
  int zoneCount = 0;
  int maxZoneCode = 0;
  int regionCount = 0;
  std::vector<int> regionCodeMap;             // code 0..maxRegionCode -> region index
  std::vector<RegionTableEntry> regionTable;  // entries 1..regionCount
  int maxRegionCode = 0;
  // geometry and active rows
  GridGeometry geometry;
  int firstRow = 1;
  int lastRow = 0;
  // model time
  ModelDate start;
  ModelDate end;
  // parameter tables (owned by defaultini; null when the table has no rows)
  const std::vector<LanduseTableEntry>* landuseTable = nullptr;
  const std::vector<SoilTableEntry>* soilTable = nullptr;
  const IrrigationTableEntry* irrigationTable = nullptr;
  const std::vector<MultiLayerLanduseEntry>* multiLayerTable = nullptr;
  // output settings of every module
  bool writeAsciiGrids = false;
  bool writeDoubleGrids = false;
  bool writeNetcdfGrids = false;
  std::string initialStateDirectory;
  std::string defaultOutputDirectory;
  // region decomposition: cells per instance (0-based) and this instance's rows
  std::vector<long> instanceQuota;
  int instanceFirstRow = 1;
  int instanceLastRow = 0;
};

// Year, month and day corrections of a simulation period; sets February of the
// month-length table from the end year.
void NormaliseModelTime(ModelDate& start, ModelDate& end, std::array<int, 12>& daysPerMonth);
// The first field of a read [model_time] outside its range ("the end month (13) has to lie
// between 1 and 12"); empty when every field is in range.
std::string ModelTimeFault(const ModelDate& start, const ModelDate& end);

// --- periodic grid input (defaultini_variable_grids.cpp) --------------------------------
// What a periodic standard grid needs in a step.
enum class PeriodicInputAction { None, Read, Restore };
// Advances the block and step counters of a grid with periodic input by the date of the
// step and says whether the grid is to be read again or its starting values restored.
PeriodicInputAction AdvancePeriodicInput(StandardGridSpec& spec, const ModelDate& date);
// The dated file of a periodic grid: base name followed by "_YYYYMMDDHH".
std::string DatedInputFileName(const std::string& base, const ModelDate& date);
// True for the grids whose user codes the start-up replaces by table rows.
bool IsCodeGrid(const std::string& internalName);
// Whether the grid of the internal name holds codes (of a table, sub-basins, regions, lakes,
// links): a grid file of another geometry is then never blended (modelobject::readCodes).
bool ReadAsCodes(const std::string& internalName);
// Whether a grid of the write code is written again under its own name during or at the end
// of the run (units digit 1 to 7): a state a warm start reads. 8 writes it once at the
// start-up, 0 never.
bool WrittenAsState(int writeCode);
// Whether a standard or variable grid is one a module needs in every basin cell (a state,
// the soil moisture it starts from, the topographic index), not codes nor glacier cells: a
// basin cell its file and fill code leave without a value ends the start-up.
bool NeededInEveryBasinCell(const std::string& internalName, int writeCode);

// --- code checks (defaultini_code_checks.cpp) -------------------------------------------
// The code of a cell value: its integer part, of the whole number it stands for where it is
// one to a float's rounding (IntegerPartCode); false for NaN and values beyond int.
bool CellCode(double value, int& code);
// Looks at the basin cells (zone value above nodata; with positiveOnly only values above
// 0) for a code that is in none of codes[1..n]; gives the first such cell value (and its row
// and column, where asked).
bool FindCodeOutsideTable(double** grid, double** zones, const GridGeometry& geometry,
                          const std::vector<int>& codes, bool positiveOnly, double& value, int* row = nullptr,
                          int* column = nullptr);
// Every cell of the grid (basin or not) whose code is codes[i] gets the row number i (the
// last such row where codes repeat; a code in its own row stays that whole number).
void ReplaceCodesByRows(double** grid, const GridGeometry& geometry, const std::vector<int>& codes);

// --- derived land-use and soil grids (defaultini_soil_grids.cpp) ------------------------
// Code of land-use layer k of the multilayer row given by a checked "landuse" cell value;
// -9999.0 when the row has fewer layers (or the value is no row).
double LanduseLayerCode(const std::vector<MultiLayerLanduseEntry>& table, double landuseRow, int layer);
enum class SoilGridKind { AvailableSoilMoisture, HydraulicConductivity, FillablePorosity };
// The value of one derived soil grid in a basin cell of the soil row (rootDepth: the cell's
// first-layer root depth, used by the available soil moisture only).
double SoilGridValue(const SoilTableEntry& row, SoilGridKind kind, double rootDepth);

// One cell of a river link.
struct RiverLinkCell {
  int32_t row = 0;
  int32_t column = 0;
  int32_t link = 0;
  int32_t region = 0;
  int32_t spare = 0;
  double elevation = 0.0;
  int32_t index = 0;
};

// The cells of one river link, upstream first.
class RiverLink {
 public:
  virtual ~RiverLink() = default;
  virtual void SetCells(std::vector<RiverLinkCell> cells);
  virtual std::vector<RiverLinkCell>& GetCells() { return cells_; }
  virtual const RiverLinkCell* GetLastCell() const { return cells_.empty() ? nullptr : &cells_.back(); }
  virtual void AddCell(const RiverLinkCell& cell);
  int32_t CellCount() const { return cellCount_; }

 private:
  int32_t cellCount_ = 0;
  std::vector<RiverLinkCell> cells_;
};

class defaultini : public modelobject {
 public:
  // error receives 0 or the code of a failure (103 for a failure that is not a code).
  defaultini(int& error, LogStream* log, const std::string& controlFileName, StatisticsEntry* statisticsTable,
             int statisticsSize, int mode, GridRecord* registry);
  ~defaultini() override;

  // Runs the next start-up step and returns the new step counter; a call after the last
  // step closes the control file, sets initialised and done.
  int InitStep(bool& done);
  bool IsInitialised() const { return initialised_; }

  // --- preprocessing ---------------------------------------------------------------
  // Writes the copy "<name>.intern" of the control file and replaces name by the copy's.
  virtual void CompileSymbols(std::string& controlFile);
  // Treats one line (with its leading blank) in place and returns it.
  virtual std::string& SubstituteSymbols(std::string& line, long lineNumber, const std::vector<std::string>& names,
                                         const std::vector<std::string>& values, int count);

  // --- global sections -------------------------------------------------------------
  virtual void ReadOutputControl(const std::string& controlFile, RunValues& values);
  // The sections of the output settings from the open control file.
  void ReadOutputSections(RunValues& values);
  virtual void ReadModelTime();
  virtual void ReadStandardGrids();
  virtual void ReadGridHeader(GridGeometry& header);
  virtual void ReadRadiationCorrection();
  virtual void ReadIrrigation();
  [[noreturn]] virtual void IrrigationDescriptionError(int irrigationType);

  // --- parameter tables (src/tables) ---------------------------------------------
  virtual void ReadMultilayerLanduseTable(int mode);
  virtual void ReadLanduseTable(int mode);
  virtual void ReadSoilTable(int mode);
  virtual void UpdateLanduseParameters(ModelDate date, int dt, double** saturatedSoilPartition,
                                       double** inactiveFieldCapacity, double** inactiveSoilMoisture,
                                       double** interflowStorage);
  virtual void generateMultiLayerParameterGrids(int layerCount);
  // Length of the run's time step in minutes, as the daily land-use update takes it: the
  // distance of the station records once the application has set it.
  int StepMinutes() const;
  void SetRunStepMinutes(int minutes) {
    runStepMinutes = minutes;
    if (minutes > 0) output.timeStepMinutes = minutes;
  }
  // The daily update without the soil model's root zone, with "MeanThetaInRootZone".
  virtual void UpdateLanduseParametersWithSoilMoisture(ModelDate date, int dt);
  // Forcing and chilling sums and start days of the dynamic-phenology rows of one day.
  virtual void UpdateDynamicPhenology(int dayOfYear, int layerCount);
  // The table row of a land-use layer cell; null for no-data or a position outside the table.
  const LanduseTableEntry* LanduseRowAt(int layer, int row, int column) const;
  // The year of the day whose land-use values are set next, for every row of the table.
  void SetLanduseCalendarYear(int year);
  // Raises the vegetation-period flags of the grids with period sums on the balance days.
  void RaiseVegetationPeriodFlags(int dayOfYear);
  LanduseParameterGrids landuseGrids;  // landuse_parameter_grids.cpp, phenology.cpp

  // --- regions, zones, derived grids -------------------------------------------------
  virtual void MakeMPIRegions(std::vector<long>& quota, int& firstRow, int& lastRow);
  virtual int ReadSubstepCount();
  virtual void RankZones(double** weights);
  virtual void RankRegions(int regionGridPosition);
  virtual void CheckCellSizes();
  virtual void MakeCoordinateGrids();
  virtual void make_Slope_and_Aspect();
  virtual void MeanOfValidNeighbours(int row, int column, double** grid);
  virtual void check_ice_firn_grid();
  virtual void MakeRegionWeightGrids();
  virtual void GenerateRegionWeightGrids();

  // --- code checks, soil and land-use grids, coupling --------------------------------
  // Each takes the grid position (0: no grid, nothing to do).
  virtual void CheckLanduseCodes(int index);
  virtual void check_SOIL_Codes(int index);
  virtual void check_irrig_Codes(int index);
  virtual void make_nFK_kWert_and_Na();
  virtual void MakeLanduseLayerGrids();
  // Checks the codes of a grid against codes[1..n] (failing with failureCode and a message
  // naming what and tableText) and replaces them by row numbers.
  void CheckAndReplaceCodes(int position, const std::vector<int>& codes, bool positiveOnly, const char* checkLine,
                            const char* replaceLine, const char* what, const char* tableText, int failureCode);
  // The layer codes of the multilayer rows against the land-use table; the codes in use
  // become land-use rows.
  void CheckMultiLayerCodes(const std::vector<int>& landuseCodes);
  // Sets every land-use layer grid anew from the (checked) "landuse" grid.
  void FillLanduseLayerGrids();
  // After a code grid was read again during the run: the same check as at start-up, and
  // for land use the layer grids anew.
  void RecheckCodeGrid(int position);
  // The lake and glacier codes a float export left a rounding off whole numbers become those
  // numbers (at the end of the standard grids): they are compared with the numbers of
  // reservoirs and glaciers.
  void MakeCodesWhole();

  // --- external coupling (coupling_settings.cpp, coupling_exchange.cpp) ---------------
  virtual bool IsCoupled() const { return coupling.mode == 1; }
  virtual void GetCouplingParameters();
  // [ExternalCoupling] from the open control file (optional section).
  void ReadCouplingSection();
  virtual void ExchangeExternalGrids(long year, long month, long day, long hour);
  virtual const std::string& GetSemaphoreFileName() const { return coupling.semaphoreFile; }
  virtual const std::string& GetInformSemaphoreFileName() const { return coupling.informSemaphoreFile; }
  virtual const std::string& GetInformSemaphoreContent() const { return coupling.informSemaphoreContent; }
  virtual long GetWaitInterval() const { return coupling.waitInterval; }
  virtual char GetExternalGridMode() const { return coupling.gridMode; }
  // Resolves the grids to their registered matrices and (instance 0) the statistics to
  // records of the list, whose first count entries are searched.
  virtual void FindExternalEntities(std::vector<ExternalStatisticRecord>& records, int count);
  // Resolves the grids read from and written for the outside program to the run's grids;
  // a name that names no grid ends the run (1003, 1004).
  void ResolveExternalGrids();
  // Warns about a [SpinUp] section that asks for a spin-up, which the run does not make.
  void WarnAboutSpinUp();
  virtual void AccumulateExternalGrids();
  // Writes the grids and statistics listed for the outside program (summary_output.cpp);
  // the flags say which period ends with this exchange. The fifth value is not used.
  virtual void WriteSumTotal(int hour, int day, int month, int year, int unused, bool endOfDay, bool endOfMonth,
                             bool endOfYear);
  virtual bool HasGWTableExtern() const;
  virtual int GetExternalTimeStep() const { return coupling.externalTimeStep; }
  // Cell of a sum grid that neither belongs to the basin nor to this instance.
  bool OutsideThisInstance(int row, int column) const;
  [[noreturn]] void CouplingReadError(const char* text, bool extraLineBreak = false);

  // [SpinUp]: the spin-up settings and, with the switch on, the HRU grids
  // "HydrologicResponseUnits" and "MasterHydrologicResponseUnits" (hru_spinup.cpp).
  // hrus receives a new list (element 0 a placeholder). Call after the standard grids.
  void CreateHRUs(int& spinUp, int& doTemperaturePreSpinUp, int& repeatCount, std::unique_ptr<HruList>& hrus);

  // --- per-step output and statistics (defaultini_output.cpp) -----------------------
  virtual void CreateZonalStatistics();
  virtual void WriteStandardGrids(ModelDate date);
  virtual void WriteVariableGrids(ModelDate date);
  virtual void ResetZonalStatistics();
  virtual void AccumulateZonalStatistics();
  virtual void AggregateZonalStatistics(ModelDate date);
  virtual void WriteZonalStatistics();
  virtual void FinishZonalStatistics();
  virtual void ReadVariableGrids();
  virtual void UpdatePeriodicGrids(ModelDate date, double dtMinutes);

  // --- per-step output, zonal statistics, variable grids and periodic input ------------
  //     (defaultini_output.cpp, defaultini_variable_grids.cpp)
  // Position of the last grid of the block from the elevation model on that
  // WriteStandardGrids writes in order. The standard-grid count also holds the variable
  // grids (written by WriteVariableGrids) and the land-use grids made at start-up, which
  // lie further on and are written by their own positions.
  int LastStandardGridPosition() const {
    return standardGridCount + 2 - variableGridCount - static_cast<int>(landuseGrids.createdPositions.size());
  }
  // The zonal statistic of the standard grid at a position; null when it has none.
  zonalstatistic* ZonalStatisticAt(int position) const;
  // The values of the registered grid at a position (null when none).
  double** GridValues(int position) const;
  std::vector<std::unique_ptr<zonalstatistic>> zonalStatistics;  // by registry position
  std::vector<std::vector<ZoneTableEntry>> zonalStatisticZones;   // each writer's zone table
  int variableGridCount = 0;
  int firstVariableGridPosition = 0;       // 0 without variable grids
  std::vector<int> variableGridReadFlags;  // 1-based
  double** soilStorage = nullptr;          // the variable grid "soil_storage", if any

  // --- hand-over and queries -----------------------------------------------------------
  // Hands the working control-file name and the run values over; returns 0. Names and
  // output-list codes move to the caller.
  int GetInitValues(std::string& workingControlFile, RunValues& values);
  virtual double GetMaxElevation() const { return maxElevation; }
  virtual double GetGridMaximum(int position) const;

  void DeleteModule() override;

  // --- helpers shared by the derived-grid steps ---------------------------------------
  // File name of a derived grid: the source grid's file name without its folder (and
  // without the variable and record of a netCDF name), up to its last ".", followed by
  // ".intern." and the tag. It is written into the output folder, never beside its source.
  static std::string DerivedGridName(const std::string& sourceFileName, const std::string& tag);
  // The first registry position from 1 whose record holds no file name; 1000 when none.
  int FirstPositionWithoutFileName() const;
  // Allocates a matrix owned by this object over rows first..last, columns 1..ncols.
  double** NewOwnedGrid(int firstRow, int lastRow);
  // Writes a registered grid once under its file name, in the formats of the run.
  void WriteGridOnce(int position);
  // Takes ownership of a matrix allocated elsewhere (the grid reader); returns it.
  double** AdoptGrid(double** grid);
  // Marks a grid made here as one kept only for its readers (coordinates, cell sizes,
  // slope and aspect, the region description, regression grids, vegetation periods).
  void KeepForReaders(int position) { forReadersOnly_.push_back(position); }
  // After the run is built: gives back each grid kept for its readers that no module,
  // output or coupling looked up since the start-up (and, for the vegetation-period grids,
  // when no write code asks for vegetation-period sums). Returns the bytes given back.
  long long ReleaseUnreadGrids();
  // Registers a grid over all rows and remembers the position for the release.
  void Register(int position, const std::string& fileName, double** data, const std::string& internalName,
                int writeCode);
  // The section of the control file a grid of the position is described in, without its
  // brackets ("standard_grids", "variable_grids"), for its messages; the object's name for a
  // grid the start-up derives.
  std::string SectionOfPosition(int position) const;
  // Position of a listed standard grid by internal name (0 when not listed).
  int StandardGridPosition(const std::string& internalName) const;
  bool IsBasinCell(int row, int column) const;
  double** GridData(int position) const;
  const std::string& GridFileName(int position) const;

  // --- state -----------------------------------------------------------------------
  int mode = 1;
  int stepCounter = 0;
  std::string workingControlFile;  // copy of the (preprocessed) control-file name
  StatisticsEntry* statisticsTable = nullptr;
  int statisticsSize = 0;

  RunValues run;  // the values handed over by GetInitValues
  std::vector<StandardGridSpec> standardGrids;  // by registry position (0 unused)
  int standardGridCount = 0;

  std::vector<LanduseTableEntry> landuseTable;            // rows 1..count; empty: none
  std::vector<SoilTableEntry> soilTable;                  // rows 1..count; empty: none
  std::vector<MultiLayerLanduseEntry> multiLayerTable;    // rows by code; empty: none
  std::vector<IrrigationTableEntry> irrigationRows;  // rows 0..irrigationCount; empty: none
  IrrigationTableEntry* irrigationTable = nullptr;  // irrigationRows.data() when read
  int irrigationCount = 0;
  std::vector<int> irrigationCodes;  // 1..irrigationCount: the code of each irrigation-table row
  int radiationCorrection = 0;

  double** zoneGrid = nullptr;       // position 1: valid cells are the basin
  double** elevationModel = nullptr;  // position 2
  double** iceFirnGrid = nullptr;
  double maxElevation = -9999.0;

  int landuseLayerCount = 0;
  std::vector<double**> landuseLayerGrids;  // 1-based; element 0: grid "landuse"
  std::vector<int> landuseLayerPositions;   // registry positions of the layer grids, 1-based

  // derived soil grids
  double** availableSoilMoisture = nullptr;
  double** hydraulicConductivity = nullptr;
  double** fillablePorosity = nullptr;
  int availableSoilMoisturePosition = 0, hydraulicConductivityPosition = 0, fillablePorosityPosition = 0;

  // region decomposition
  int mpiRegionsPosition = 0, mpiHelperPosition = 0, mpiHaloPosition = 0;
  double** mpiRegions = nullptr;
  double** mpiHelper = nullptr;
  double** mpiHalo = nullptr;
  std::vector<RiverLink> riverLinks;
  long regularCells = 0, riverCells = 0;

  // geometry grids
  double** cellSizeX = nullptr;
  double** cellSizeY = nullptr;
  double** coordX = nullptr;
  double** coordY = nullptr;
  double** slopeAngle = nullptr;
  double** slopeAspect = nullptr;
  int cellSizeXPosition = 0, cellSizeYPosition = 0, relCellAreaPosition = 0;
  int coordXPosition = 0, coordYPosition = 0, slopeAnglePosition = 0, slopeAspectPosition = 0;
  bool cellSizeXGiven = false, cellSizeYGiven = false, relCellAreaGiven = false;

  // regression regions
  double transitionDistance = 0.0;
  int regionGridPositions[4] = {0, 0, 0, 0};  // 1: regions, 2, 3: further regions
  int weightGridPositions[4] = {0, 0, 0, 0};
  double** regionGrids[4] = {nullptr, nullptr, nullptr, nullptr};
  double** weightGrids[4] = {nullptr, nullptr, nullptr, nullptr};

  // external coupling
  CouplingSettings coupling;

  // Declares the files of the start-up's grids that the registry does not tell: the dated
  // names of periodic grids, the phenology's state stack and the grids of the coupling
  // (framework/run_files.h); names the sections of the standard and variable grids.
  void DeclareRunFiles();

 private:
  void RunStep(int step);
  // After the key form of [model_time] missed keys: what the section holds instead (the
  // eight values of the form without timestep, with the fix) or which keys it lacks.
  void ReportModelTimeForm(const std::string& firstLine, const bool seen[10], const char* const keys[10]);
  void ReadBasinGrids();
  // The geometry of a basin grid's file (ASCII, binary or netCDF): true when it gives the
  // grid's place. A netCDF file gives its columns and rows; with setsTheBasin (the zone
  // grid) also its cell size and lower-left corner from its coordinates, without it none
  // (false: the grid reader places it as it reads it).
  // where: the section and line that name the grid, for the message on a file that cannot
  // be opened.
  bool HeaderOf(const std::string& fileName, GridGeometry& header, bool setsTheBasin, const std::string& where);
  // A WARNING naming the basin's cells the elevation model gives no elevation.
  void ReportElevationGaps() const;
  // Sets the zone grid's cells below the no-data value to it: outside for every module.
  void MarkCellsOutsideTheBasin();
  bool NetcdfHeaderOf(const std::string& name, GridGeometry& header, bool setsTheBasin);
  void MakeStandardGrids();
  // Reads a standard or variable grid at the start-up: resampled onto the basin (a grid of
  // codes never blended), except the glacier grids, which describe the basin's cells one by
  // one and must lie on them.
  // section: "standard_grids" or "variable_grids".
  void ReadStartupGrid(const StandardGridSpec& spec, double**& grid, const std::string& section);
  // Writes the dynamic phenology's state stack at the end of the run (none without it).
  void WritePhenologyState();
  // A standard or variable grid is written under its output name ("outname").
  void UseOutputName(int position);

  bool initialised_ = false;
  int runStepMinutes = 0;  // the distance of the station records (0: not known)
  std::vector<MatrixOwner> ownedGrids_;
  std::vector<int> forReadersOnly_;
  std::vector<int> registeredPositions_;
};
