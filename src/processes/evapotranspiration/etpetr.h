// Evapotranspiration: potential transpiration, interception and soil evaporation per
// vegetation layer (Penman-Monteith, Hamon, Wendling or Haude), evaporation from the snow
// pack, and the real evapotranspiration that the soil storage (or the ponding water of
// lakes) gives after the soil model's step. Implemented beside this header:
//   etpetr.cpp          construction, wiring, open water, release
//   etpetr_section.cpp  the control section and its checks
//   etpetr_potential.cpp  the potential step
//   etpetr_real.cpp     snow evaporation and real evapotranspiration
//   et_kernels.*        the cell physics
#pragma once

#include <algorithm>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "framework/zone_sums.h"
#include "framework/thread_policy.h"
#include "processes/evapotranspiration/et_kernels.h"
#include "processes/glacier_share.h"
#include "processes/snow/snow_physics.h"

class LanduseTableEntry;
class MultiLayerLanduseEntry;

// A grid file name with its statistics file and code.
struct EtOutputName {
  std::string grid;
  int writeCode = 0;
  std::string statFile;
  int statCode = 0;
};

// The values of the section "evapotranspiration" after the flow control parameter and
// the time interval, as read and checked.
struct EtSection {
  int method = 1;
  std::array<double, 14> pec{};  // 0 = December, 1..12, 13 = January
  std::array<double, 14> fh{};
  double fk = 0.0;
  EtOutputName etp, etr, evaporation, realEvaporation, snowEvaporation, eip;
  std::string radiationStatFile;
  int radiationStatCode = 0;
  double c[4] = {0, 0, 0, 0};
  double cs[4] = {0, 0, 0, 0};
  double x0 = 0.0;
  double transmissivityA = 0.0, transmissivityB = 0.0;
  double elevationScale = 0.0;  // H
  std::array<double, 14> amplitude{};  // M
  double dayFraction = 0.5;     // f
  double annualVariation = 0.0; // v
  std::string cloudinessStatFile = "cloudiness";
  int cloudinessStatCode = 0;
  double hamonOpenWater = 1.0;
};

// Reads and checks the section from the object's open control file (positioned after the
// time interval). Errors are logged ("FATAL: ...") and thrown as their code.
void ReadEtSection(modelobject& o, EtSection& s, double dtMinutes);
// The threshold of relative radiation below which the sunshine cubic gives no sunshine;
// false when there is none in 0..1 (error kind in why: 1 not even linear, 2 no root).
bool SunshineThreshold(const double cs[4], double& x0, int& why);

class verdunstungsmodellklasse : public teilmodellklasse {
 public:
  verdunstungsmodellklasse(int& error, const ModuleInputs& in);
  ~verdunstungsmodellklasse() override;

  // When active: the soil grids "soil_storage" and "available_soil_moisture" (they must exist).
  virtual void LinkSoilGrids();
  // Each stores its argument when the module is active and returns the active flag.
  virtual int SetRadiationCorrection(double** correctionData);
  virtual int SetSnowStorageGrid(double** snowStorageSolid);
  virtual void SetSnowMethod(int snowMethod) { snowModelMethod = snowMethod; }
  virtual void InitLakes(const std::string& lakeSection);
  virtual void PotentialET(ModelDate date);
  virtual void SnowEvaporation(ModelDate date);
  // After the snow model's step, when it evaporates by its own energy balance (methods 5, 6,
  // 7 and 11): its evaporation takes its share of the cells' demands, and the snow
  // evaporation's grid and statistics of the step are written.
  virtual void SnowModelEvaporation(ModelDate date);
  virtual void RealET(ModelDate date);
  // Begins a step of real evapotranspiration without computing it (the sums of its
  // writers cleared), and writes what the grids hold; the application calls neither.
  virtual void RealETReset(ModelDate date);
  virtual void DoNothing() {}
  virtual void WriteOutput(ModelDate date);
  virtual void WriteStatistics();
  virtual double SatVapPress(double t) const;
  virtual int SolveQuadratic(double& x1, double& x2, double p, double q) const;
  void DeleteModule() override;
  void ShareScratchGrids() override;
  // The interception evaporation grid, once the interception module has registered it.
  void LinkInterceptionEvaporation();

  // --- configuration ------------------------------------------------------------------
  EtSection section;
  int layers = 1;  // N
  int inputMask = 0;
  bool netRadiation = false;
  bool arcVeg = false;
  int pineforestRow = 0;
  const std::vector<LanduseTableEntry>* landuseTable = nullptr;
  const std::vector<MultiLayerLanduseEntry>* multiLayerTable = nullptr;

  // --- grids read (per layer vectors hold 1..N; element 0 unused unless stated) ------
  double** temperature = nullptr;
  double** nightTemperature = nullptr;
  double** dem = nullptr;
  double** wind = nullptr;
  double** albedo = nullptr;
  double** radiation = nullptr;  // net or global radiation
  double** sunshine = nullptr;
  double** vapourPressure = nullptr;
  double** humidity = nullptr;
  double** airPressure = nullptr;
  double** soilResistance = nullptr;
  GlacierCells glaciers;  // the snow model's glacier cells
  std::vector<double**> landuse, lai, rootDepth, cover, canopyResistance, interceptionResistance, roughness,
      arcVegFraction;  // landuse[0]: the layer-0 land use when N > 1

  // --- grids of other modules ------------------------------------------------------------
  double** soilStorage = nullptr;
  double** availableSoilMoisture = nullptr;
  double** radiationCorrection = nullptr;
  double** snowStorageSolid = nullptr;
  int snowModelMethod = 0;
  double** lakeCodes = nullptr;
  double** ponding = nullptr;
  double** interceptionEvaporation = nullptr;
  double** glacierSnowEvaporation = nullptr;
  double** glacierSnowStorage = nullptr;
  bool glacierLinked = false;
  bool glacierChecked = false;

  // --- open water ------------------------------------------------------------------------
  int lakeFlowControl = 0;
  int lakeInitMethod = 1;
  double albedoOpenWater = 0.08;
  double z0OpenWater = 0.001;

  // --- outputs: per layer 0..N, then the single grids ---------------------------------
  std::vector<double**> potTranspiration, realTranspiration, potInterception;
  std::vector<int> potTranspirationPos, realTranspirationPos, potInterceptionPos;
  double** potEvaporation = nullptr;
  double** realEvaporation = nullptr;
  double** snowEvaporation = nullptr;
  double** correctedRadiation = nullptr;
  double** cloudiness = nullptr;
  double** sunshineSum = nullptr;  // "SSDTemp"
  int potEvaporationPos = 0, realEvaporationPos = 0, snowEvaporationPos = 0, correctedRadiationPos = 0,
      cloudinessPos = 0, sunshineSumPos = 0;
  std::vector<MatrixOwner> owned;
  std::vector<int> registered;

  // Statistics: per layer 0..N, then the single writers; each with its own zone table.
  std::vector<std::unique_ptr<zonalstatistic>> potTranspirationStat, realTranspirationStat, potInterceptionStat;
  std::unique_ptr<zonalstatistic> potEvaporationStat, realEvaporationStat, snowEvaporationStat, radiationStat,
      cloudinessStat;
  std::vector<std::vector<ZoneTableEntry>> zoneTables;
  std::vector<const zonalstatistic*> zoneTableWriters;  // the writer of each table
  // Zone sums that the cell loops add up (potential step, snow evaporation, real ET) and
  // the zone tables of their writers in the loops' order (null: the writer is off).
  ZoneSums potentialSums, snowSums, realSums;
  std::vector<ZoneTableEntry*> potentialTables, snowTables, realTables;
  std::vector<double> snowScratch;  // per thread: the demands of a cell, their layers, a copy

  // --- inputs corrected in place -----------------------------------------------------------
  // Per cell (row × (ncols + 1) + column): the radiation input that the terrain correction
  // overwrites, and the temperature and night temperature grids that long Penman-Monteith
  // steps overwrite with the day's and the night's values. A grid nobody refreshes keeps the
  // value written, and the step corrects the kept input again, not its own result. Empty
  // until the first step that overwrites them.
  std::vector<KeptInput> keptRadiation, keptDayTemperature, keptNightTemperature;

  // --- per step ------------------------------------------------------------------------
  std::vector<double> cosZenith;  // sub-steps 1..n of the step (element 0 unused)
  int dayStepCount = 0;
  // Grids smaller than this run the cell loop on one thread (threads cost more there).
  long minParallelCells = MinParallelCells();
  bool nightState = true;

  // Whether a cell belongs to the basin.
  bool IsBasinCell(int r, int c) const { return zoneGrid && zoneGrid[r][c] != geometry.nodata_value; }
  // Zone index of a basin cell for the statistics, 0 when it has none.
  int ZoneIndex(int r, int c) const;
  // The snow model's glacier cells (none when it runs no glaciers), in place of those the
  // registry gave at construction.
  void SetGlacierCells(const GlacierCells& cells) { glaciers = cells; }
  // Glacier fraction of a cell, 0..1.
  double GlacierFraction(int r, int c) const { return glaciers.Share(r, c); }
  // Whether the snow model evaporates by its own energy balance (methods 5, 6, 7 and 11).
  bool SnowModelEvaporates() const {
    return snowStorageSolid && snow::IsEnergyBalance(snowModelMethod);
  }
  // Whether the cell is a lake cell (lake set-up on and a lake code).
  bool IsLakeCell(int r, int c) const {
    return lakeFlowControl == 1 && lakeCodes && lakeCodes[r][c] != geometry.nodata_value;
  }

 private:
  void LookUpGrids();
  void BeginRealET(const ModelDate& date);
  // One pass of snow evaporation over the cells, in parallel: cell(r, c, scratch), with the
  // thread's scratch for the demands of a cell, their layers and a copy (N + 1 each), returns
  // the cell's snow evaporation; then its statistics and grid of the step are written.
  template <class Cell>
  void SnowEvaporationPass(const ModelDate& date, Cell cell);
  // A cell's demands in the order snow takes them (the layers with a land use, then the
  // soil), each with its layer (0: the soil) in slot; returns their number.
  int GatherDemands(int r, int c, double* demands, double* slot) const;
  // Writes back what snow left of the demands; a layer's wet canopy rate loses the share its
  // dry one lost.
  void ReturnDemands(int r, int c, const double* demands, const double* slot, int count);
  void CreateOutputs(const ModuleInputs& in);
  double** NewGrid(double fill);
  // Notes, for a module that requires one of the grids this module makes, that it is off.
  void NoteSwitchedOff(const ModuleInputs& in);
  int Register(const std::string& fileName, double** data, const std::string& internalName, int writeCode);
  std::unique_ptr<zonalstatistic> NewWriter(const ModuleInputs& in, const std::string& file, int code,
                                            const std::string& title);

 public:
  // The two halves of the potential step after its geometry (public for the benchmark).
  void PotentialCellLoop(int dayOfYear, double mDay, double wAnnual, double tau, int subSteps, double subStepHours);
  void PotentialStatistics();

 private:
  // The zone sums of row r (of block b) of the potential step.
  void AddPotentialRow(int b, int r);
  // The zone table of a writer that is on, else null.
  ZoneTableEntry* TableOf(const std::unique_ptr<zonalstatistic>& writer);
};
