// One routing object: the routing sub-basin (TG) of one routing description with the
// channels that bring water to its outlet (OL, SUMTRIB) and its inflows (ZL).
//
// Member functions by file:
//   routingclass.cpp         construction from a description, tables, areas, table files
//   routingclass_step.cpp    flow arrays, initial state, inflows and the routing step
//   routingclass_reservoirs.cpp  the reservoirs and lakes of the object and their steps
//   routing_state.cpp        the object's state in the storage file
//   routingclass_abstractions.cpp  abstractions (AL): creation, links, the step's amounts
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/model_date.h"
#include "framework/modelobject.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"
#include "routing/routing_channel.h"
#include "routing/routing_description.h"

class TimeSeriesTable;
class StateReader;
class AL_class;

// What every routing object takes from the routing module.
struct RoutingSetup {
  double dt = 60.0;  // time step, minutes
  int subint = 1;    // sub-intervals per step
  double qmin = 0.0, qmax = 0.0, intervals = 0.0;
  int replacementMode = 0;  // observed-discharge replacement: 0 none, 1 mm per step, 2 m³/s
  SubbasinCodes codes;
  int subbasinCount = 0;  // n: inflow zones are n + inflow number
  int runoffFactor = 1;   // steps of the routing per step of the soil model
  // Shared area tables, indexed by zone: cell counts (entry 0: cell area in km²) and area
  // factors.
  double* cellCounts = nullptr;
  double* zoneAreaFactors = nullptr;
  ModelDate start;
  double nodata = -9999.0;
  std::string outputDirectory;  // abstraction output files go here
  double timeOffsetHours = 0.0;  // the weekday of a step is that of its date minus this
  double stampToStepEndHours = 0.0;  // min_to_int_end / 60: the day the rules are chosen by
  // What every reservoir of the object shares (grids, geometry, directories, the log);
  // the object adds its own sub-basin.
  ReservoirContext reservoirs;
};

// One inflow (ZL) of the object.
struct InflowState {
  int number = 0;
  int mode = 0;
  int zone = 0;
  int channel = 0;          // index into the channels
  double constant = 0.0;    // m³/s
  std::unique_ptr<TimeSeriesTable> table;
  std::string fileName;
  int column = 0;  // 0-based value column of the file
  // Internal: its abstraction's object is routed after this one, so the water waits in
  // the inflow zone (m³/s) until the next step.
  bool deliveredLater = false;
};

class routingclass;
// Connects every internal inflow (ZL "intern") with the one internal abstraction (modes 3,
// 6 and 8) that names it; FATAL 300 to 303 when they do not pair up.
void ConnectInternalAbstractions(const std::vector<routingclass*>& objects, LogStream* log);

class routingclass : public modelobject {
 public:
  // Builds the object with its tables. Failures: a FATAL message and the code thrown.
  routingclass(LogStream* log, const RoutingDescription& description, const RoutingSetup& setup);
  ~routingclass() override;

  // --- set-up ------------------------------------------------------------------------
  // Channel shares from the zone cell counts; the sub-basin area becomes the grid's.
  void CheckSubbasinAreas();
  // One table file per channel into directory ("wq_table.%.3d" or "wq_tabZL.%.3d").
  void WriteWQTable(const std::string& directory);
  // The step arrays of the module (step[zone], subRunoff[s][zone], mm per step) and the
  // observed values (row[column], may be null); fills every queue with its zone's value.
  void ComputeFlowArrays(double* step, double** subRunoff, const std::vector<double>* observedRow,
                         const int* observedColumn);
  // Steady state of queues and storages from the zones' step values.
  void RouteInitialDischarge();
  // The largest travel time (h, truncated) at the smallest discharge over the channels.
  int MaxTravelHours() const;
  // The routing module's two arrays [tracer][sub-basin]: the last reservoir of the object
  // leaves its volume (mm over the object's area) in the second at the own sub-basin.
  void SetLinks(double** first, double** second);
  // Values per zone shared between cooperating instances; one instance does not read them.
  void SetSharedInput(const double* perZone) { sharedInput = perZone; }
  // Appends each reservoir to the list, in order.
  void AppendTo(std::vector<SP_class*>& list) const;

  // --- reservoirs (routingclass_reservoirs.cpp) ---------------------------------------
  // Builds reservoir `code` from the text of its entry: keys, lake, output header.
  void SetSpeicherParams(int code, const std::string& entry);
  // "[abstraction_rule_reservoir_<n>]" of every reservoir.
  void ReadReservoirRules(TextCursor& controlFile);
  void AttachReservoirRegistry(ReservoirRegistry* registry);
  // Only the last reservoir enters the object's zone and its connection flag.
  void AttachReservoirIndex(std::map<int, int>* zones);
  // A first step of every reservoir (no date), its outflow limited to its volume.
  void RunReservoirs();
  // Every reservoir in turn takes the outlet discharge and releases its outflow there.
  void RouteReservoirs(const StepDate& date, int conversion, int secondFlag);
  // The outlet discharge (mm per step) that abstractions see: the last reservoir's volume
  // per step when there are reservoirs.
  double OutflowBeforeAbstractions() const;

  // --- per step ----------------------------------------------------------------------
  // Values of the inflows for the step (file rows must carry the step's date).
  void ReadInflows(const ModelDate& date);
  // Routes the object's channels into its own zone's step and sub-interval values, then
  // takes the abstractions out, then lets its reservoirs act on the outlet. date: the
  // step's (year 0 in the initialisation routing); conversion and secondFlag are handed
  // to the reservoirs' steps.
  void Route(const StepDate& date, int conversion = 0, int secondFlag = 1);

  // Exact inverses of each other, so that water handed between objects keeps its volume.
  double DischargeToDepth(double q, double area) const { return q * 0.06 * dt / area; }
  double DepthToDischarge(double x, double area) const { return x * area / (0.06 * dt); }

  // --- abstractions (routingclass_abstractions.cpp) ----------------------------------------
  // Builds the AL entries of the description (after the areas are checked) and reads their
  // rule sections from the control file.
  void SetAblaufModus(const RoutingDescription& description, TextCursor& controlFile);
  // Links internal abstraction k to inflowZone of object target (the target's own
  // sub-basin and first OL tributary give its cap's values).
  void ConnectAbstraction(size_t k, const routingclass& target, int inflowZone);
  // Abstractions of the step (modes 3 to 7) from the outflow available (mm per step),
  // summed in abstractionResult. reduceOwnZone: take them out of the own zone's step and
  // sub-interval values (else the reservoir books them).
  void ApplyAbstractions(const StepDate& date, double available, bool reduceOwnZone);
  // Hands the amounts of the mode-8 abstractions (set by the reservoir's step) to their
  // targets.
  void DeliverReservoirAbstractions();
  // With a reservoir, the abstractions of ApplyAbstractions draw on its volume: asked and
  // given are the m³ they took and the m³ the reservoir could give. Each abstraction's
  // amount is scaled by given / asked when the reservoir gave less, then written to its
  // row and handed to its target.
  void DeliverOutletAbstractions(const StepDate& date, double asked, double given);
  // The amount q (m³/s) of abstraction k goes to its target inflow zone, if it has one.
  void DeliverToTarget(size_t k, double q);
  void FlushOutputFiles();
  // The area (km²) the object's outlet values refer to.
  double OutletArea() const { return area / areaFactor; }

  void DeleteModule() override;

  // --- storage file (routing_state.cpp) -------------------------------------------------
  // Appends the object's queues and sub-channel states.
  void WriteState(std::string& text) const;
  // Reads them back from a file of the given version (1 or 2) written with a time step of
  // storedStep minutes; a channel stored with another layout is resampled.
  void ReadState(StateReader& reader, int version, double storedStep);
  // The reservoir lines are kept aside until the whole section has been read.
  void ReadReservoirStates(StateReader& reader);
  void ApplyStoredReservoirs();
  // Water on its way to the internal inflows that wait for it: (inflow number, m³/s).
  std::vector<std::pair<int, double>> PendingTransfers() const;
  // Sets the water waiting for inflow number; false when no inflow of the object waits.
  bool SetPendingTransfer(int number, double q);
  void ResampleSubchannels(StateReader& reader, ChannelTable& c, int storedSubint, int storedDelta,
                           int storedChannels, double storedStep);

  // --- state ---------------------------------------------------------------------------
  int code = 0;
  int number = 0;  // position of the description
  int ownZone = 0;
  double area = 0.0;        // km²
  double areaFactor = 1.0;
  double dt = 60.0;
  int subint = 1;
  int olCount = 0, sumtribCount = 0;
  std::vector<ChannelTable> channels;  // OL, then SUMTRIB, then ZL
  std::vector<double> areaShare;       // 0: own share, i: channel i (1-based)
  std::vector<InflowState> inflows;
  std::vector<std::unique_ptr<AL_class>> abstractions;
  std::vector<AL_class*> abstractionList;  // the same, as the reservoirs take them
  std::vector<int> abstractionTarget;      // per abstraction: its inflow zone (0: none)
  double abstractionResult = 0.0;          // mm per step booked in the step
  std::vector<double> outletAmounts;       // per abstraction: mm taken by ApplyAbstractions
  std::vector<std::unique_ptr<SP_class>> reservoirs;  // SP entries, in order
  struct StoredReservoir {
    std::vector<double> state;
    std::deque<double> runningAvg;
  };
  std::vector<StoredReservoir> storedReservoirs;
  double** linkFirst = nullptr;         // not owned (SetLinks)
  double** linkSecond = nullptr;        // not owned (SetLinks)
  const double* sharedInput = nullptr;  // not owned (SetSharedInput)

 private:
  void ReadChannel(StateReader& reader, ChannelTable& c, int expectedIndex, int version, double storedStep,
                   const char* indexName);
  // The stored translation of sub-channel m of c; false when the file has none there.
  bool ReadTranslation(StateReader& reader, ChannelTable& c, int m);
  void BuildWQTable(ChannelTable& c, const ChannelParameters& p, bool perAreaFactor);
  void OpenInflow(InflowState& z, const InflowEntry& e);
  // Ends the run (code 37) with the line and column where an inflow file stops being a
  // table once no row before that place is left.
  void RequireInflowRow(const InflowState& z) const;
  std::string ChannelName(const ChannelTable& c) const;
  [[noreturn]] void FailInflow(const std::string& text) const;  // error 38
  // Observed value (mm per step) of zone z when the replacement applies, else false.
  bool ObservedDepth(int zone, double area, double& value) const;

  RoutingSetup setup;
  double* step = nullptr;        // not owned
  double** subRunoff = nullptr;  // not owned
  const std::vector<double>* observedRow = nullptr;
  const int* observedColumn = nullptr;
  std::vector<double> outlet, flow;  // 1..subint
  std::map<int, int>* reservoirZones = nullptr;  // zone -> its last reservoir is connected
  // The last reservoir's volume in mm over the object's area (there must be one).
  double LastReservoirDepth() const;
  // The last reservoir's volume into the second linked array.
  void LinkLastReservoir();
  // A zone whose last reservoir exchanges through a hydraulic connection passes its
  // runoff untranslated.
  bool Bypassed(int zone) const;
};
