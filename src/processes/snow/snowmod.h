// The snow model: accumulation and melt of the snow cover (temperature index, temperature
// and wind index, combination method, snow-surface energy balance), snow slides down steep
// slopes and permafrost thaw. Its "snowcover_outflow" is the water input of the soil model
// (or of the interception model, as the order flag says).
//
// Member functions by file:
//   snow_config.cpp     construction: [snow_model], grids, statistics, lookups
//   permafrost.cpp      [permafrost] and the permafrost state carried to the next run
//   snow_links.cpp      input links, lakes, tracers, statistics flush, tear-down
//   snow_step.cpp       Run (day values, parallel cell loop) and PostRun (HRU copy,
//                       statistics, output)
//   snow_slides.cpp     elevation order, deposition limit and the slides
//   snow_physics.cpp    the cell physics (free functions, namespace snow)
//   glacier_config.cpp  construction of the glaciers: [ice_firn], glacier grids and shares
//   glacier_step.cpp    glacier cells of the loop and the glacier outflow storages
//   glacier_state.cpp   the section "[snow_model_v2]" of the storage file
//   glacier_inventory.cpp  single glaciers, their elevation bands and the annual update
//   glacier_update.cpp  the evaluation date, the annual update and the glaciers' part of
//                       the storage file
//   glacier_physics.cpp the glacier cell physics and storages (free functions, namespace glacier)
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "processes/glacier_share.h"
#include "framework/zonalstatistic.h"
#include "processes/snow/glacier_inventory.h"
#include "processes/snow/glacier_physics.h"
#include "processes/snow/snow_physics.h"
#include "framework/zone_sums.h"

struct SubbasinRunoff;  // the soil model's runoff per sub-basin
class LanduseTableEntry;

class schneemodellklasse : public teilmodellklasse {
 public:
  schneemodellklasse(int& error, const ModuleInputs& in);
  ~schneemodellklasse() override;

  // --- links with the other modules -------------------------------------------------
  virtual void SetRadiationCorrection(double** correctionData);
  // The data of the grid "snowstorage_solid" when active, else null.
  virtual double** GetSnowStorageSolid();
  // The method when active, else 0.
  virtual int GetMethod() const { return flowControl >= 1 ? method : 0; }
  // Keeps the flag that interception with canopy snow runs first and links the input grids.
  virtual void SetSnowInterceptionFlag(int flag);
  virtual void InitLakes(const std::string& lakeSection);
  // Keeps the soil model's runoff record (glacier sub-basins are filled into it); returns
  // the flow control parameter.
  virtual int SetSubbasinRunoff(SubbasinRunoff* runoff);
  // Keeps the storage file's name (its section is written at the end of the run) and, with
  // the read flag 1 or 3, restores the glacier storages from the file.
  virtual void ReadStorageFile(const char* storageFileName, int initialGrids);
  // Hands the section "[snow_model_v2]" to the storage file (when linked and named).
  virtual void WriteStorageFile(bool append);
  virtual void SetModeFlag(int flag) { modeFlag = static_cast<unsigned char>(flag & 0xff); }
  virtual int GetModeFlag() const { return modeFlag; }
  // Links of a multilayer snow stack (no module of this program makes one): keeps the flag
  // and, when it is set, the reference and requires the stack grids.
  virtual void LinkSnowStackGrids(int enable, void* reference, double value);
  virtual int GetSnowStackFlag() const { return snowStackFlag; }
  // Keeps two bytes, the low byte of the third value and the fourth; returns the first two
  // bytes as one value (the first in the low byte).
  virtual int SetStackParameters(int first, int second, int third, int64_t fourth);
  void InitTracers(int& error, int count, TracerRecord* table, StatisticsTableEntry* statisticsTable,
                   int statisticsSize) override;
  void DeleteTracers() override;

  // --- per step ---------------------------------------------------------------------
  virtual void Run(ModelDate date);
  virtual void PostRun(ModelDate date);
  virtual void WriteStatistics();
  // One call of the cell physics for cell (row, col); see snow::CellStep.
  virtual double CellStep(int row, int col, double T, double w, double sAdd, snow::CellState& s,
                          bool noNewPrecipitation, snow::CellNotes& notes);
  // Seasonal melt factor of a date.
  virtual double BandValue(int day, int month) const;
  virtual double SatVapPressIce(double T) const { return snow::SatVapPressIce(T); }
  void DeleteModule() override;
  void ShareScratchGrids() override;

  // --- parameters of [snow_model] ----------------------------------------------------
  // Read under the labels "transzone for " and "T0R for "; interception takes them over.
  double transzone = 0.0;
  double T0R = 0.0;
  double T0 = 0.0, CWH = 0.0, CRFR = 0.0, z0 = 0.0, RMFMIN = 0.0, RMFMAX = 0.0;
  double ALBsnow_min = 0.0, ALBsnow_max = 0.0;
  double maxDepositionSlope = 55.0, maxDepositionFactor = 1.0, minSlideSlope = 30.0, slideMassFrac = 0.01;
  double LWINcorr = 1.0, LWOUTcorr = 1.0, EnBalScaling = 1.0;
  // Monthly tables, January..December at 1..12, December before at 0, January after at 13.
  std::array<double, 14> ddfTable{}, aTable{}, bTable{};
  double rmfMean = 0.0, rmfAmplitude = 0.0;
  // [permafrost]
  int permafrostMethod = 0;
  double minSnowAgeRefreeze = 0.0, maxSweSnowFree = 0.0, reducedKsat = 0.0;

  // --- links ------------------------------------------------------------------------
  double** radiationCorrection = nullptr;
  double** snowStorageSolid = nullptr;
  int snowInterception = 0;
  SubbasinRunoff* subbasinRunoff = nullptr;
  int linked = 0;
  unsigned char modeFlag = 0;
  unsigned char snowStackFlag = 0;
  void* snowStackReference = nullptr;
  double snowStackValue = 0.0;
  // Levels of the stacks "SnowWaterEquivalentSolid", "SnowWaterEquivalentLiquid",
  // "SnowLayerThickness", "SnowDensity", "Temperature_Stack_Snow" and the grid "upperIndexSnow".
  std::array<int, 6> snowStackPositions{};
  std::array<unsigned char, 3> stackBytes{};
  int64_t stackValue = 0;
  int lakeFlowControl = 0;

  // --- output names -----------------------------------------------------------------
  struct GridName {
    std::string file;
    int writeCode = 0;
  };
  struct StatName {
    std::string file;
    int code = 0;
  };
  // Grids and statistics of the module, in the order of their registration.
  enum Grid {
    kSolid, kLiquid, kTotal, kDaysSnow, kSnowAge, kSnowfall, kRainfall, kOutflow, kMeltOnly,
    kSnowTemp, kSurfTemp, kEnergyBalance, kInputMass, kMobileMass, kDeposition, kMaxDeposition,
    kElevOrderRow, kElevOrderCol, kSnowFreeDays, kSnowCoverDays, kMeltFirn, kMeltIce, kSnowMeltOnGlacier,
    // dynamic glaciers: firn total, mass balances, the snow on the glacier part of a cell
    // with its temperatures and evaporation, and the reference copies of the glacier grids
    kFirnTotal, kMassBalance, kOldMassBalance, kSolidOnGlacier, kLiquidOnGlacier, kTotalOnGlacier,
    kSurfTempOnGlacier, kSnowTempOnGlacier, kEnergyBalanceOnGlacier, kFractionOld, kCodesOld,
    kSnowEvaporationOnGlacier,
    kGridCount
  };
  enum Stat {
    sOutflow, sMeltOnly, sTotal, sDaysSnow, sSnowAge, sSnowfall, sRainfall, sAlbedo, sSnowTemp, sSurfTemp,
    sInputMass, sMobileMass, sDeposition, sThawDepth, kStatCount
  };
  std::array<GridName, kGridCount> gridNames{};
  std::array<StatName, kStatCount> statNames{};
  std::array<int, kGridCount> gridPosition{};        // 0: not used
  std::array<double**, kGridCount> grid{};           // data of each grid
  std::array<bool, kGridCount> gridOwned{};          // created (and freed) by this module
  std::array<std::unique_ptr<zonalstatistic>, kStatCount> statistics;
  std::array<std::vector<ZoneTableEntry>, kStatCount> statisticsZones;
  ZoneSums statisticsSums;  // the zone sums of every writer, summed in one pass

  // --- grids of other modules -------------------------------------------------------
  double** precipitation = nullptr;
  double** temperature = nullptr;
  double** temperatureNight = nullptr;
  double** wind = nullptr;
  double** humidity = nullptr;
  double** radiation = nullptr;
  double** cloudiness = nullptr;
  double** surfaceTemperature = nullptr;
  double** canopyUnload = nullptr;
  double** canopyLongwave = nullptr;
  // The interception module's stores on the part of a cell without glacier, per unit of that
  // part: the water of every layer ("interception_storage0" the cell's, then each layer's)
  // and the snow held in the canopy (null without it). The annual glacier update keeps their
  // water when it moves a cell's glacier fraction.
  std::vector<double**> interceptionStores;
  double** canopySnowLoad = nullptr;
  double** albedo = nullptr;
  double** snowEvaporation = nullptr;
  double** vapourPressure = nullptr;
  double** depositionIndex = nullptr;
  std::array<double**, 5> slideFraction{};  // 1..4: upper, left, right, lower neighbour
  double** slopeAngle = nullptr;
  double** elevation = nullptr;
  double** lakeCodes = nullptr;
  double** pondingStorage = nullptr;
  double** hruGrid = nullptr;
  double** masterHruGrid = nullptr;
  double** mpiRegions = nullptr;
  double** rootDepth1 = nullptr;
  double** thawCoefficient = nullptr;
  double** thawDepth = nullptr;
  std::vector<double**> landuseLayers;  // 1..N
  std::vector<double**> tracerInputs;   // 1..tracers
  const std::vector<LanduseTableEntry>* landuseTable = nullptr;
  bool inputsLinked = false;
  // The air above any canopy (the grids above where the canopy's sub-canopy grids are
  // linked, else the same): the glacier part of a cell takes it.
  double** openTemperature = nullptr;
  double** openWind = nullptr;
  double** openHumidity = nullptr;
  double** openRadiation = nullptr;

  // The glacier grid (null without glaciers), which cells are glacier and what share of
  // each (the rule the application hands to the other modules: none when the snow model does
  // not run glaciers), and the sub-basins of "zonegrid_soilmodel", for the glacier storages
  // that fill the soil model's runoff.
  double** glacierFraction = nullptr;
  GlacierCells glaciers;
  const GlacierCells& Glaciers() const { return glaciers; }
  double** subbasinGrid = nullptr;
  std::vector<ZoneTableEntry> subbasinTable;
  std::vector<int> subbasinCodeMap;
  int subbasinCount = 0;
  int largestSubbasinCode = 0;

  // --- glaciers ([ice_firn]) -------------------------------------------------------------
  int glacierMethod = 0;  // 0: no glaciers; 1, 2 static; 11..13 dynamic
  int glacierPerSubbasin = 0;
  std::vector<glacier::SubbasinParameters> glacierParams;  // 1..n
  double** glacierDebris = nullptr;
  double** glacierRadiation = nullptr;
  double** glacierCodes = nullptr;
  double debrisScaling = 1.0;
  int firnLevels = 0, glacierReadGrids = 0;
  int GMBEvalDay = 0, GMBEvalMonth = 0;
  double VAscaling = 28.5, VAexponent = 1.36;
  int numElevBands = 1, extraWeightFactorBand0 = 0;
  double maxSnowPackToCreateGlacier = 1000.0, relSizeNewGlacier = 0.25;
  // Glacier statistics; gSnowOnGlacier holds the snow storage without the glacier parts.
  enum GlacierStat { gFirn, gIce, gSnowOnIce, gTotal, gSnowOnGlacier, gFirnWE, gBalance1, gBalance2,
                     kGlacierStatCount };
  std::array<StatName, kGlacierStatCount> glacierStatNames{};
  std::array<std::unique_ptr<zonalstatistic>, kGlacierStatCount> glacierStatistics;
  std::array<std::vector<ZoneTableEntry>, kGlacierStatCount> glacierStatisticsZones;
  // Firn layers of the dynamic glaciers, [row][col][level]: level 0 the cell's total, levels
  // 1..firnLevels from the top down (registered with the total grid as "firn_WE_stack").
  double*** firnStack = nullptr;
  bool firnStackOwned = false;
  std::unique_ptr<GlacierInventory> glacierInventory;
  std::vector<double> glacierBlockSums;  // melt sums per block of rows (RouteGlacierMelt)
  bool DynamicGlaciers() const { return glacierMethod >= 11; }
  // Per sub-basin 1..n: whether it holds glacier, its glaciated and glacier-free cell sums,
  // its cell count and the outflows of its ice, firn and snow storages (mm per step, per
  // unit of the storages' area, GlacierStorageArea).
  std::vector<unsigned char> hasGlacier;
  std::vector<double> glacierSum, freeSum, glacierCellCount;
  std::vector<double> Qice, Qfirn, Qsnow;
  // Sub-basins that keep glacier storages: those with glacier cells and, with dynamic
  // glaciers, those with a glacier of the inventory that lost its cells (its storages still
  // drain). The snow model writes their runoff into the soil model's record.
  std::vector<unsigned char> glacierStorages;
  std::vector<double> aIceDay, aSnowDay;  // seasonal radiation factors of the day, per sub-basin
  std::string storageFileName;  // kept by ReadStorageFile; empty: no section written
  // The area (in cells) over which the glacier storages of sub-basin k hold their water: its
  // glacier area, or the whole sub-basin once no glacier is left in it.
  double GlacierStorageArea(size_t k) const { return glacierSum[k] > 0.0 ? glacierSum[k] : glacierCellCount[k]; }
  // Sub-basins (1..n) whose runoff the snow model writes into the soil model's record; the
  // soil model adds its own. Empty without glaciers.
  const std::vector<unsigned char>& GlacierSubbasins() const { return glacierStorages; }
  // The section "[snow_model_v2]" as written to the storage file.
  std::string StorageSectionText() const;
  // Restores the glacier storages and, with withAlbedo, the albedo of the cells from the text
  // of a storage file (path for the messages).
  void RestoreStorageSection(const std::string& text, const std::string& path, bool withAlbedo = true);
  // The glacier share of each sub-basin from the glacier grid, and the sub-basins that keep
  // glacier storages.
  void CountGlacierShares();
  void MarkGlacierStorages();
  // Counts the glacier shares anew (after the glacier grid changed) keeping the water of the
  // glacier storages: their outflows follow the storages' new area; a sub-basin that gains
  // storages starts them empty.
  void RecountGlacierSharesKeepingStorages();
  // The annual update, on the step that ends the evaluation day.
  void UpdateGlaciersIfDue(const ModelDate& date);
  // Routes the step's glacier melt through the storages of each glacier sub-basin into
  // the soil model's runoff record and writes the glacier discharge statistics.
  void RouteGlacierMelt(ModelDate date);
  // Whether the glacier part of a cell lies on firn (static: "ice_firn" code 2; dynamic:
  // firn left in its layers).
  bool CellOnFirn(int row, int col) const;

  // --- values of the step -----------------------------------------------------------
  snow::Parameters params;
  snow::DayValues dayValues;
  int permafrost = 0;       // the permafrost grids exist and [permafrost] was read
  bool wholeDomain = false;
  int dayOfYear = 1;        // for the land-use albedo
  // The cell inputs that only some methods read, taken for those (set in every step).
  struct MethodInputs {
    bool energyBalance = false;    // humidity, radiation, cloudiness, elevation, albedo, ...
    bool depositionIndex = false;
    bool combination = false;      // vapour pressure and the radiation correction
  } inputsOfMethod;
  // The land-use albedo changes once a day: per cell (r * (ncols + 1) + c) the value of
  // the day landAlbedoDay and the land-use code it was taken for (a cell whose code has
  // changed since, or whose row follows a phenology that may move within the day, takes
  // the table's value again).
  std::vector<double> landAlbedo;
  std::vector<float> landAlbedoCode;
  int landAlbedoDay = -1;
  // The first cell (r * (ncols + 1) + c) whose table albedo failed in the cell loop of the
  // step (none: the largest size_t): the step names it and ends after the loop.
  mutable std::atomic<size_t> albedoFailure{~size_t(0)};
  long humidityClamped = 0;  // cells of the last step whose humidity was limited

  // The grid of the module (0 when not used).
  double** G(Grid g) const { return grid[g]; }

 private:
  void Construct(const ModuleInputs& in);
  void ReadSection();
  void ReadSecondBlock();
  // Refuses impossible values of [snow_model] (FATAL 17) and warns about suspicious ones.
  void CheckSectionValues();
  void ReadMonthlyTable(std::array<double, 14>& table, int which);
  void ReadStat(StatName& s, const std::string& label);
  void ReadGridName(GridName& g, const std::string& nameLabel, const std::string& codeLabel);
  void CreateStatistics(const ModuleInputs& in);
  void LookUpGrids();
  void CreateGrids();
  void ReadPermafrost(const ModuleInputs& in);
  // With readgrids 1: the snow-free and snow-cover days, the thaw depth they imply and the
  // root depth of layer 1 as the thawed ground left it.
  void ReadPermafrostState();
  // A grid of the state carried beside the solid snow storage, checked against range (its
  // messages call it `what`); empty when the file is missing, which an INFO names with what
  // happens `otherwise`.
  MatrixOwner ReadCarriedGrid(const std::string& file, const std::string& what, const std::string& otherwise,
                              const StateRange& range);
  void WritePermafrostStateAtEnd(const ModelDate& date);
  void MakeStatistic(Stat s, int decimals, const std::string& title, const ModuleInputs& in);
  // Registers (or, with readgrids 1, reads) a grid of the module at the first free position.
  // readFlag -1 follows the module's readgrids flag; fill 0 leaves holes of a read grid at
  // the default value.
  void UseOrCreateGrid(Grid g, const std::string& internalName, double initial, bool readable,
                       double readDefault, int readFlag = -1, int fill = 1);
  // What a state grid of the module read at start-up may hold.
  static StateRange StateRangeOf(Grid g);
  void LinkInputs();
  double** Registered(const std::string& internalName) const;
  bool CellComputed(int row, int col) const;
  void CellSequence(int row, int col, snow::CellNotes& notes);
  // Row r of every grid a cell of the snow sequence reads or writes (null: the grid is
  // absent), taken once per row of the cell loop: the cell functions below index only
  // columns. The (row, col) functions above and below take the row for one cell.
  struct RowGrids {
    int r = 0;
    double* precipitation = nullptr;
    const double *temperature = nullptr, *temperatureNight = nullptr, *wind = nullptr, *humidity = nullptr,
                 *radiation = nullptr, *cloudiness = nullptr, *elevation = nullptr, *depositionIndex = nullptr,
                 *vapourPressure = nullptr, *radiationCorrection = nullptr, *lakeCodes = nullptr,
                 *pondingStorage = nullptr, *surfaceTemperature = nullptr, *canopyLongwave = nullptr,
                 *canopyUnload = nullptr, *thawCoefficient = nullptr;
    double *albedo = nullptr, *snowEvaporation = nullptr, *thawDepth = nullptr, *rootDepth = nullptr;
    double *solid = nullptr, *liquid = nullptr, *total = nullptr, *daysSnow = nullptr, *snowAge = nullptr,
           *snowfall = nullptr, *rainfall = nullptr, *outflow = nullptr, *meltOnly = nullptr, *snowTemp = nullptr,
           *surfTemp = nullptr, *snowFreeDays = nullptr, *snowCoverDays = nullptr;
    // The day's land-use albedo, its land-use codes and the land use (null unless taken today).
    const double *landAlbedo = nullptr, *landuse = nullptr;
    const float* landAlbedoCode = nullptr;
  };
  RowGrids GridsOfRow(int r) const;
  void CellSequence(const RowGrids& g, int col, snow::CellNotes& notes);
  double CellStep(const RowGrids& g, int col, double T, double w, double sAdd, snow::CellState& s,
                  bool noNewPrecipitation, snow::CellNotes& notes);
  double SnowCalls(const RowGrids& g, int col, snow::CellState& s, double sAdd, bool noNewPrecipitation,
                   snow::CellNotes& notes);
  void FinishSnowCell(const RowGrids& g, int col, const snow::CellState& s);
  void SetAlbedoBefore(const RowGrids& g, int col, double total);
  // The land-use albedo of the cell on dayOfYear: the day's value taken once a day, or the
  // table's value where that does not hold.
  double LanduseAlbedo(const RowGrids& g, int col) const {
    if (g.landAlbedo && static_cast<double>(g.landAlbedoCode[col]) == g.landuse[col]) return g.landAlbedo[col];
    return LanduseAlbedoInLoop(g.r, col);
  }
  // LanduseAlbedoOfDay within the cell loop: a failure writes nothing and throws nothing,
  // it is noted in albedoFailure (the step ends after the loop) and the cell keeps its albedo.
  double LanduseAlbedoInLoop(int row, int col) const;
  // Ends the step after a cell loop in which LanduseAlbedoInLoop failed: writes the first
  // failing cell's message and throws its code.
  void RaiseAlbedoFailure() const;
  // The table's albedo of the cell's land use on dayOfYear (albedo[row][col] without one);
  // a failure is written to `to` (none: nullptr) and thrown.
  double LanduseAlbedoOfDay(int row, int col, LogStream* to) const;
  // Takes the land-use albedo of every cell of the module for dayOfYear, once a day.
  void TakeLanduseAlbedoOfDay();
  void CopyHruMasters();
  void AddStatistics();
  void WriteOutputGrids();
  void FreeEverything();
  void ReadIceFirn();
  void ReadGlacierParameters();
  void CheckGlacierParameters();
  void ReadDynamicSettings();
  void CheckDynamicGrids();
  // Refuses an "ice_firn" value of the basin that is no glacier code (a fraction) and logs
  // what the grid holds.
  void CheckGlacierCodes();
  void CheckElevationBands();
  void CreateGlacierGrids();
  void GlacierCell(int row, int col);
  void DynamicGlacierCell(int row, int col, snow::CellNotes& notes);
  void KeepSnowOfChangedGlacierParts();
  // The interception's stores of a cell whose glacier fraction moved from g0 to g < 1 keep
  // their water; a cell that became all glacier gives it to its glacier part's snow.
  void KeepCanopyWaterOfChangedGlacierPart(int row, int col, double g0, double g);
  glacier::CellParameters GlacierCellParameters(int subbasin) const;
  double GlacierDebris(int row, int col) const;
  // One or (steps over 720 minutes) two calls of the cell physics on the storages s; the
  // summed potential melt. Energy-balance temperatures and evaporation stay in s.
  double SnowCalls(int row, int col, snow::CellState& s, double sAdd, bool noNewPrecipitation,
                   snow::CellNotes& notes);
  // The same in the open air (the glacier part of a cell, which stands under no canopy).
  double SnowCallsInOpenAir(int row, int col, snow::CellState& s, double sAdd, bool noNewPrecipitation,
                            snow::CellNotes& notes);
  // Items after the melt of a cell's snow (or of its glacier-free part): snow days, age,
  // albedo, storages and permafrost.
  void FinishSnowCell(int row, int col, const snow::CellState& s);
  // Albedo of a cell before its step: the land's below 2.5 mm of snow, else the snow's.
  void SetAlbedoBefore(int row, int col, double total);
  void CreateDynamicGlacierGrids();
  void CreateFirnStack();
  void BuildInventory();
  void CreateGlacierStatistics(const ModuleInputs& in);
  std::unique_ptr<zonalstatistic> MakeWriter(const StatName& s, int decimals, const std::string& title,
                                             const ModuleInputs& in, bool perSubbasin,
                                             std::vector<ZoneTableEntry>& zones);
  void AddGlacierStatistics();
  ZoneCells SubbasinCells() const;
  ZoneCells ModuleZoneCells() const;
  // Internal sub-basin of a cell (0: none) and the glacier part of a cell (0..1).
  int SubbasinIndex(int row, int col) const;
  double GlacierShareOfCell(int row, int col) const;
  [[noreturn]] void StorageValueMismatch(const std::string& label, double control, double stored);
  bool HasGlacierStorages() const;
  // The parts of the snow model's section, read from where the cursor stands; the values go
  // to the module once the whole section is read. ReadAlbedo is false for a section without
  // the block.
  void ReadGlacierStorages(TextCursor& f, const std::string& path, bool v2, std::vector<double> (&values)[3]);
  bool ReadAlbedo(TextCursor& f, const std::string& path, std::vector<double>& values);
  // The cells whose albedo the storage file carries: those of the sub-basins, row by row.
  template <class F>
  void ForEachAlbedoCell(F f) const {
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        if (zoneGrid[r][c] > geometry.nodata_value) f(r, c);
  }
  long AlbedoCellCount() const;

  std::vector<int> monthlyMissing;  // tables whose line held no number
  std::string outputDirectory;
  int firstModuleRow = 1, lastModuleRow = 0;
};

// File of the permafrost snow-free (or snow-cover) days carried beside the solid snow
// storage grid: its name with "_snow_free_days.bin" ("_snow_cover_days.bin") in place of
// its extension.
std::string PermafrostDaysFileName(const std::string& solidStorageFile, bool snowFree);
// File of the root depth of layer 1 as the thawed ground left it, carried beside the solid
// snow storage grid: its name with "_thawed_root_depth.bin" in place of its extension.
std::string PermafrostRootDepthFileName(const std::string& solidStorageFile);

// Elevation order of the snow slides: the k-th valid cell in row-major order receives the
// row and column of the k-th lowest valid cell (stable for equal elevations).
void SnowElevationOrder(double** reference, double** elevation, const GridGeometry& g, double** orderRow,
                        double** orderCol);
// Deposition limit of a cell on a slope s (degrees).
double SnowDepositionLimit(double slope, double maxDepositionSlope, double maxDepositionFactor);

// The snow slides of one step (sequential, fixed order). A glacier fraction grid may be null.
struct SlideGrids {
  double** reference = nullptr;  // valid cells of the basin
  double** zone = nullptr;
  double** orderRow = nullptr;
  double** orderCol = nullptr;
  double** slope = nullptr;
  double** fraction[5] = {};  // 1..4
  double** maxDeposition = nullptr;
  double** solid = nullptr;
  double** liquid = nullptr;
  double** total = nullptr;
  double** inputMass = nullptr;
  double** mobileMass = nullptr;
  double** deposition = nullptr;
  // Dynamic glaciers: the glacier part of a cell (fraction g) slides and takes up snow on
  // its own storages; the mass balance follows its snow. All null without them.
  double** glacierFraction = nullptr;
  double** solidOnGlacier = nullptr;
  double** liquidOnGlacier = nullptr;
  double** totalOnGlacier = nullptr;
  double** massBalance = nullptr;
};
void SnowSlides(const SlideGrids& s, const GridGeometry& g, double minSlideSlope, double slideMassFrac);
