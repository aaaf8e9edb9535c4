// Runoff routing through channels, lakes and reservoirs, with abstractions, to the
// discharge at every sub-basin outlet.
//
// Member functions by file:
//   abfluss.cpp            construction: settings, routing descriptions, objects, outputs
//   abfluss_step.cpp       start-up routing, the time step, statistics and tear-down
//   abfluss_observed.cpp   observed discharge: the window of rows and the efficiency sums
//   abfluss_storage.cpp    the routing part of the storage file (warm start)
//   abfluss_lakes.cpp      reservoirs and lakes: their grids and their construction
//   routing_only.cpp       routing alone, from the total runoff of a former run
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/routstatistic.h"
#include "framework/teilmod.h"
#include "processes/subbasin_runoff.h"
#include "routing/reservoir.h"
#include "routing/routing_description.h"

class routingclass;     // one routing object (channels and inflows of one sub-basin)
class TimeSeriesTable;
class StateReader;

// What the routing module takes besides the common module inputs.
struct RoutingInputs {
  int soilInterval = 0;           // the soil module's time interval, minutes
  double routingTimeOffset = 0.0;  // MinutesToInvEndRouting of [output_interval]
  ZoneTableEntry* soilZoneTable = nullptr;
  int* soilZoneCodeMap = nullptr;
  int soilZoneCount = 0;
  int soilMaxZoneCode = 0;
  int soilInitialGrids = 0;  // the soil model's read flag (1: initial grids and stored state)
  std::string storageFileName;  // the soil model's storage file name (empty: none)
  bool routingOnly = false;     // route the total runoff that a former run's soil model wrote
};

// The sub-basin link tables of the routing network, indexed by internal sub-basin number
// (GetLinkA). Views into the module's tables; null pointers when routing is off.
struct SubbasinLinkTables {
  const int* order = nullptr;          // 2n + 1 entries: from entry 1 on the tributaries in the
                                       // order the descriptions name them (OL, then SUMTRIB with
                                       // their members), 0 after the last
  const int* downstream = nullptr;     // 1..n: the sub-basin it flows into (0 none)
  const int* routingObject = nullptr;  // 1..n: the description whose TG it is (0 none)
  int subbasins = 0;                   // n
};

// The area tables the routing objects share (GetLinkB), indexed by zone (sub-basins 1..n,
// then the inflows): cell counts (entry 0: the cell area in km²) and area factors.
struct SubbasinAreaTables {
  const double* cellCounts = nullptr;
  const double* areaFactors = nullptr;
  int zones = 0;  // entries 1..zones
};

// Observed discharge: rows -10..+10 steps around the current one (row 10), each holding
// the file's columns at entries 1..columns.
constexpr int kObservedWindowRows = 21;
// Limits of the table intervals and the sub-intervals of a step, far beyond any use.
constexpr int kMaxTableIntervals = 100000;
constexpr int kMaxSubintervals = 10000;

class abflussmodellklasse : public teilmodellklasse {
 public:
  abflussmodellklasse(int& error, const ModuleInputs& in, const RoutingInputs& routing);
  ~abflussmodellklasse() override;

  // With lakes on: the grids the lakes read in every step (evaporation and interception
  // evaporation of layer 0 and a water input are required, FATAL 33), handed to every
  // reservoir; logs the number of lake cells.
  virtual void SetInputGridNames(int interceptionBeforeSnow);
  // When active: keeps the runoff per sub-basin; without it the run cannot route (43).
  virtual void SetSubbasinRunoff(SubbasinRunoff* runoff);
  // Start-up: flow arrays, the steady initial state and the initialisation routing.
  virtual void InitRouting();
  virtual void SetInitialDischarge(double q);
  // Warm start from the routing part of the storage file. The name is kept for writing;
  // nothing is read without a name or with the read flag 0, 2 or 4.
  virtual void ReadStorageFile(const char* storageFileName, int initialGrids);
  // Hands the routing part to the run's storage file (named, else "storage.ftz").
  virtual void WriteStorageFile();
  // The text of the routing part.
  std::string StorageSectionText() const;
  // Restores every routing object from the text of a storage file (path names it in
  // messages); a failure is FATAL 71 and leaves the objects as they were.
  void RestoreStorageSection(const std::string& text, const std::string& path);
  // The transfers on their way to internal inflows at the end of the stored run.
  std::vector<std::pair<int, double>> ReadPendingTransfers(StateReader& reader) const;
  // True when the read flag asks routing to start from the storage file.
  static bool ReadsStoredState(const char* storageFileName, int readFlag);
  // --- links for other modules ----------------------------------------------------------
  // Each returns null (or empty views) when routing is off.
  virtual SubbasinLinkTables GetLinkA() const;
  virtual SubbasinAreaTables GetLinkB() const;
  // Values per zone that cooperating instances would share; handed to every routing object.
  // One instance routes the whole basin: nothing hands them and nothing reads them.
  virtual void SetSharedInput(const double* perZone);
  // The two arrays [tracer 0..count][sub-basin 0..n] handed to every routing object (index
  // 0 = water). No step writes the first; the second holds, at the own sub-basin of every
  // routing object with reservoirs, the last reservoir's volume in mm over the object's
  // area at the end of the step.
  virtual double** GetLinkC() const;
  virtual double** GetLinkD() const;
  // Appends every reservoir of every routing object, in order.
  virtual void CollectRoutingObjects(std::vector<SP_class*>& list);
  virtual void RunTimeStep(ModelDate date, int a, int b);
  virtual void WriteStatistics();

  // --- routing alone (routing_only.cpp) ---------------------------------------------------
  // Opens the soil model's total-runoff statistics file of a former run, finds the start
  // date in it and fills the runoff record from that row (1400, 1410, 1420 on failure).
  virtual void InitRoutingMode();
  // The date of the table's current row: the run's clock in this mode.
  virtual void GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month, int64_t& year) const;
  // Advances the table by one row and takes its runoff.
  virtual void ReadNextRecord();
  // 1 at the end of the table or when the current row carries the end date.
  virtual int IsEndOfPeriod() const;
  virtual void FreeInputBuffer();
  // A row of the table that cannot be read past its first block ends the run (1400) when
  // the run needs it, naming the file, the line and column of the row and what it holds.
  [[noreturn]] void FailModeRow() const;
  std::unique_ptr<TimeSeriesTable> modeTable;
  std::string modeFileName;
  std::vector<std::vector<double>> modeRows;  // the runoff record of this mode: [tracer][1..n]
  std::vector<double*> modeRowPointers;
  std::unique_ptr<SubbasinRunoff> modeRunoff;
  ModelDate modeDate;
  int modeReadsPastEnd = 0;
  int64_t lastMessageDay = -1;

  // End-of-run output (the efficiency block) and release.
  void DeleteModule() override;

  // --- settings --------------------------------------------------------------------------
  RoutingInputs routing;
  SubbasinRunoff* subbasinRunoff = nullptr;
  SubbasinCodes codes;
  int subbasinCount = 0;
  double qmin = 0.0, qmax = 0.0, intervals = 0.0;
  int subint = 1;
  double stepRatio = 1.0;  // soil interval / own interval
  int replacementMode = 0;
  std::string statisticsFileName, observedFileName;
  int statisticsCode = 0;
  int unitCode = 0;  // 0: mm per sub-basin, 1: m³/s
  std::vector<int> observedColumn;  // 1..n, 0 = none
  int rSquareOffset = 0;
  int lakeSwitch = 0;
  // 1: the state comes from the storage file, so no initialisation routing. The soil
  // model's read flag decides, or with lakes on the "readgrids" value of [lake_model].
  int readInitialStates = 0;
  int lakeReadFlag = 0;       // "readgrids" of [lake_model] (read with lakes on)
  std::string storageName;    // the storage file name handed by the soil model
  DescriptionTotals totals;

  // --- routing objects and shared arrays ----------------------------------------------------
  std::vector<routingclass*> routingObjects;  // owned, in the order of the descriptions
  std::vector<int> tributaryOrder;  // 2n + 1: tributaries in the order of the descriptions
  std::vector<int> downstream;     // per sub-basin: the sub-basin it flows into (0 none)
  std::vector<int> objectOf;       // per sub-basin: the number of its description (0 none)
  std::vector<double> cellCounts;  // per zone; entry 0: cell area, km²
  std::vector<double> zoneAreaFactors;
  std::vector<double> input;       // step values per zone: 1..n sub-basins, n+1.. inflows
  MatrixOwner subRunoff;           // [s][zone]
  std::vector<double> savedInput;  // initialisation routing
  MatrixOwner linkFirst, linkSecond;    // [tracer][sub-basin], see GetLinkC and GetLinkD
  const double* sharedInput = nullptr;  // not owned (SetSharedInput)

  // --- statistics and observed discharge -------------------------------------------------
  std::vector<ZoneTableEntry> statisticsZones;  // the writer's own copy
  std::unique_ptr<routstatistic> statistics;
  std::unique_ptr<TimeSeriesTable> observed;
  // Bytes of a block of the observed-discharge and the routing-only tables (tests make it small).
  static int64_t tableBlockBytes;
  int observedColumns = 0;
  std::vector<std::vector<double>> window;  // kObservedWindowRows rows
  int readsPastEnd = 0;
  int stepCounter = 0;
  std::vector<std::vector<EfficiencyRecord>> linearSums, logSums;  // [shift][zone]

  // --- reservoirs and lakes (abfluss_lakes.cpp) --------------------------------------------
  ReservoirRegistry reservoirRegistry;  // every reservoir of the run, by number
  std::map<int, int> reservoirZones;    // zone -> its last reservoir has a hydraulic connection
  std::vector<int> lakeNumbers;         // reservoirs with lake cells
  MatrixOwner precipitationOnLakes;     // "PrecOnLakes", mm per step
  int precipitationOnLakesPosition = 0;
  double** waterInput = nullptr;        // where "PrecOnLakes" comes from
  double** lakeCodeGrid = nullptr;
  double** pondingGrid = nullptr;
  // The grids the lakes read and write (none when lakes are off).
  LakeGrids FindLakeGrids();
  // The reservoirs of every SP entry, their rules and links, and a first step of each.
  void BuildReservoirs(const std::vector<RoutingDescription>& list);
  // Every lake cell of the basin must belong to a reservoir of its number (error 224).
  void CheckLakeCodes() const;
  void FillPrecipitationOnLakes();
  void ReleaseLakeGrids();

  // Observed-discharge set-up (at construction) and one step of it.
  void OpenObservedDischarge();
  void CompareObservedDischarge();

 private:
  void ReadSettings();
  void ReadDescriptions();
  void ReadGrids(const std::string& sectionName);
  void CreateStatistics(const ModuleInputs& in);
  void FillWindowRow(std::vector<double>& row);
  void AdvanceObserved();
  // A row of the observed discharge that cannot be read ends the run (203) naming the file
  // and the place, whether it lies in the first block (found at start-up) or in a later one
  // (found when a step needs the row).
  [[noreturn]] void FailObservedFile(const TimeSeriesTable& t) const;
  void RequireObservedRow() const;
  void CopyInputToSubintervals();
  double Discharge(int zone, double depth) const;  // mm per step -> m³/s
  double** LakeGrid(const std::string& gridName) const;  // null when not registered
  // "ponding_storage", else "ponding_storage_top" (FATAL 28 without either).
  double** RequirePondingGrid() const;
  // Lakes are modelled: routing is on, "[lake_model]" switches them on, not routing alone,
  // and there is a "lake_codes" grid.
  bool LakesOn() const;
};
