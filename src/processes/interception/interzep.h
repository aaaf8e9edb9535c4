// Interception: the storage of rain (and, with the methods above 10, of snow) on the
// vegetation canopy of every layer, its evaporation and the throughfall that reaches the
// ground. With the methods above 20 the canopy also holds snow (canopy_snow.h), above 30
// with the canopy energy balance.
//
// Member functions by file:
//   interception_config.cpp   construction of the section and the per-layer grids,
//                             statistics flush, tracers, deletion
//   canopy_snow_config.cpp    what the canopy snow methods add to the construction
//   interception_step.cpp     the step: canopy snow, layer balances, statistics, output
//   temperature_stack_state.cpp  the canopy snow's temperature stack carried between runs
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "processes/glacier_share.h"
#include "processes/interception/grid_stack.h"
#include "framework/zone_sums.h"

class LanduseTableEntry;

// A statistics writer of the module with its own zone table.
struct InterceptionStatistics {
  std::vector<ZoneTableEntry> zones;
  std::unique_ptr<zonalstatistic> writer;
  bool Active() const { return writer && writer->Active(); }
};

// Everything the module keeps per layer k = 0..N (0 is the cell as a whole).
struct InterceptionLayer {
  std::string throughfallFile, evaporationFile, storageFile;
  std::string throughfallStatFile, evaporationStatFile, storageStatFile;
  // land-use parameter grids (layers 1..N only)
  double** landuse = nullptr;
  double** leafAreaIndex = nullptr;
  double** coverage = nullptr;
  double** roughnessLength = nullptr;
  double** canopyResistance = nullptr;
  double** interceptionResistance = nullptr;
  double** arcVegFraction = nullptr;  // with the ArcVeg integration (layers 1..N)
  // evapotranspiration grids
  double** potTranspiration = nullptr;
  double** potInterceptionEvap = nullptr;
  double** realTranspiration = nullptr;
  // own grids and their registry positions
  double** storage = nullptr;
  double** evaporation = nullptr;
  double** throughfall = nullptr;
  int storagePosition = 0, evaporationPosition = 0, throughfallPosition = 0;
  InterceptionStatistics evaporationStats, storageStats, throughfallStats;
};

// The canopy snow grids in registry order.
enum CanopyGrid {
  kCanopyLoad, kCanopyAlbedo, kCanopyAge, kCanopySublimation, kCanopyUnloadSolid, kCanopyUnloadLiquid,
  kCanopyTemperatureGrid, kCanopyHumidity, kCanopyRadiation, kCanopyWind, kCanopyIRRadiation,
  kCanopyEnergyBalanceGrid, kCEBTemperature, kCEBTemperatureOld, kCEBDummy,
  kCanopyGridCount
};
constexpr int kCanopyGridsWithoutBalance = kCanopyEnergyBalanceGrid;

struct CanopySnowGrid {
  std::string fileName;
  int writeCode = 0;
  std::string statFile;
  int statCode = 0;
  double** data = nullptr;
  int position = 0;
  InterceptionStatistics stats;
};

// The file of the canopy snow's air temperature stack carried to the next run: the canopy
// load grid's file name with "_temperature_stack.bin" in place of its extension.
std::string TemperatureStackName(const std::string& canopyLoadFile);

class interzeptionsmodellklasse : public teilmodellklasse {
 public:
  interzeptionsmodellklasse(int& error, const ModuleInputs& in);
  ~interzeptionsmodellklasse() override;

  void InitTracers(int& error, int count, TracerRecord* table, StatisticsTableEntry* statisticsTable,
                   int statisticsSize) override;
  void DeleteTracers() override;
  // Appends the buffered rows of every statistics writer to its file.
  virtual void WriteStatistics();
  virtual void Run(ModelDate date);
  // The method when the module is switched on, else 0.
  virtual int GetMethod() const { return flowControl > 0 ? method : 0; }
  void DeleteModule() override;
  void ShareScratchGrids() override;
  // The grids of the stores (every layer's and the canopy's snow load), the module's state:
  // written by Run, or, where the module runs before the snow model (storesWrittenAfterSnow,
  // set by the application), after the snow model's step, whose annual glacier update may
  // rescale them at its end, so that a run's last step writes the state it ends with.
  void WriteStoreGrids();
  bool storesWrittenAfterSnow = false;

  // --- configuration ---------------------------------------------------------------------
  int layerCount = 1;  // N
  std::vector<InterceptionLayer> layers;  // 0..N
  int throughfallWriteCode = 0, evaporationWriteCode = 0, storageWriteCode = 0;
  int throughfallStatCode = 0, evaporationStatCode = 0, storageStatCode = 0;
  double maxWaterLayer = 0.0;
  bool canopySnowModel = false;
  bool canopyEnergyBalance = false;
  // Rain/snow threshold (°C) and transition half-width (K) of the snow model; the
  // application copies them in when the method is above 10.
  double transZone = 0.0;
  double thresholdTemperature = 0.0;
  int arcVegActive = 0;
  std::array<int, 5> lastStepDate{{0, -1, -1, -1, -1}};  // minute, hour, day, month, year
  double layerCapacity = 0.0;  // capacity of the last layer computed

  const std::vector<LanduseTableEntry>* landuseTable = nullptr;
  double** inputGrid = nullptr;
  double** elevationGrid = nullptr;
  GlacierCells glaciers;  // the snow model's glacier cells
  double** mpiRegions = nullptr;
  double** hruGrid = nullptr;
  double** masterHruGrid = nullptr;
  std::vector<double**> tracerInputFlux;  // 1..tracerCount

  // --- canopy snow (methods above 20) ---------------------------------------------------
  double minLAISnowCanopy = 0.0;
  double minZ0SnowCanopy = 0.0;
  double laiScaleSnowCanopy = 0.0;
  std::array<CanopySnowGrid, kCanopyGridCount> canopyGrids;
  double** airTemperature = nullptr;
  double** globalRadiation = nullptr;
  double** windSpeed = nullptr;
  double** airHumidity = nullptr;
  double** cloudiness = nullptr;
  double** groundAlbedo = nullptr;
  double** snowStorageTotal = nullptr;
  double** surfaceTemperature = nullptr;
  std::unique_ptr<GridStack> snowCanopyStack;

  // The snow model's glacier cells (none when it runs no glaciers), in place of those the
  // registry gave at construction.
  void SetGlacierCells(const GlacierCells& cells) { glaciers = cells; }

 private:
  void Construct(const ModuleInputs& in);
  void ReadSection();
  // A file name and a code on one line.
  void ReadNameAndCode(std::string& fileName, int& code, const std::string& label);
  void ReadCanopySnowSection();
  void LookUpGrids();
  void LookUpCanopySnowInputs();
  void CreateLayerGrids(const ModuleInputs& in);
  void CreateCanopySnowGrids(const ModuleInputs& in);
  // A registry position that holds no grid yet; fails with 12 otherwise.
  void RequireFreePosition(int position) const;
  void MakeStatistics(InterceptionStatistics& s, const ModuleInputs& in, const std::string& fileName, int code,
                      const std::string& header);
  // A new grid of the module's rows, no-data outside the zone grid and value inside.
  double** NewGrid(double value);
  bool OwnCell(int r, int c) const;
  int CanopyGridCount() const { return canopyEnergyBalance ? kCanopyGridCount : kCanopyGridsWithoutBalance; }

  // the step (interception_step.cpp)
  // Row r of the step's air temperature grid on the stack (0 where the cell is not this
  // instance's); the cell loop fills each row just before the row's cells read the mean.
  void FillTemperatureRow(double** grid, int r) const;
  void ComputeRow(int r);
  void CanopySnowCell(int r, int c, double& P);
  // A cell without a canopy to hold snow: the canopy grids take the open air and P passes.
  void OpenAirCanopyCell(int r, int c, double P);
  // The glacierised share of a cell, 0..1.
  double GlacierShare(int r, int c) const {
    return glaciers.Share(r, c);
  }
  // The zone sums of the step's writers, and those of row r (of block b) of the step.
  void PrepareStatistics();
  void AddStatisticsRow(int b, int r);
  ZoneSums statisticsSums;
  std::vector<ZoneTableEntry*> statisticsTables;  // in the order of AddStatisticsRow (null: off)
  void WriteOutputs();
  // The temperature stack of the last day (temperature_stack_state.cpp): read at start-up
  // when the module starts from its stored grids, written in the run's last step.
  void ReadTemperatureStack();
  void WriteTemperatureStackAtEnd();
};
