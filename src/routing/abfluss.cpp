#include "routing/abfluss.h"

#include <sstream>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/timeseries_table.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "routing/routingclass.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

}  // namespace

abflussmodellklasse::abflussmodellklasse(int& error, const ModuleInputs& in, const RoutingInputs& r)
    : teilmodellklasse(in, "routing_model", 1, SectionRequirement::Required), routing(r) {
  error = 0;
  if (flowControl == 0) return;
  try {
    if (flowControl < 0 || flowControl > 3)
      Fail(log,
           "the flow control parameter of [routing_model] is " + std::to_string(flowControl) +
               ", but only 0 (off), 1 (routing), 2 (observed discharge in mm) and 3 (in m3/s) are defined",
           17);
    *log << "file abfluss, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
    replacementMode = flowControl - 1;
    if (!(timeInterval > 0.0))
      Fail(log, "the time interval of [routing_model] must be positive (" + std::to_string(timeInterval) + ")", 17);
    if (routing.soilInterval <= 0)
      Fail(log, "routing needs the time interval of the soil model, which is " + std::to_string(routing.soilInterval),
           17);
    stepRatio = routing.soilInterval / timeInterval;
    // Routing takes 1/ratio of the soil model's runoff of a step for each of its own
    // intervals, and the time loop steps it once per step: only the ratio 1 routes the
    // runoff handed over, no more and no less.
    if (stepRatio != 1.0) {
      std::ostringstream s;
      s << "the time interval of [routing_model] (" << timeInterval << " minutes) differs from the one of "
        << "[soil_model] (" << routing.soilInterval << " minutes) in " << ShownControlFile() << ": routing takes the "
        << "soil model's runoff of a step divided by their ratio, but runs once per time step, so the water it "
        << "routes would not be the runoff; give [routing_model] the time interval " << routing.soilInterval;
      Fail(log, s.str(), 17);
    }

    if (routing.soilZoneCodeMap != nullptr) {
      codes = SubbasinCodes{routing.soilZoneCodeMap, routing.soilMaxZoneCode};
      subbasinCount = routing.soilZoneCount;
    } else {
      routing.soilZoneTable = zoneTable;
      codes = SubbasinCodes{zoneCodeMap, maxZoneCode};
      subbasinCount = zoneCount;
    }
    readInitialStates = ReadsStoredState(routing.storageFileName.c_str(), routing.soilInitialGrids) ? 1 : 0;
    startDate = in.start;

    ReadSettings();
    ReadDescriptions();
    CreateStatistics(in);
    OpenObservedDischarge();
    stepCounter = 0;
    CloseControlFile();
  } catch (int code) {
    CloseControlFile();
    // The destructor does not run for a constructor that throws.
    for (routingclass* o : routingObjects) delete o;
    routingObjects.clear();
    ReleaseLakeGrids();
    error = code;
    throw;
  }
}

abflussmodellklasse::~abflussmodellklasse() {
  for (routingclass* o : routingObjects) delete o;
}

void abflussmodellklasse::ReadSettings() {
  const char* missing =
      "values for min/max specific discharge and/or discharge and time interval splitting   \nnot found in control "
      "file";
  const bool numbers = controlFile.ReadDouble(qmin) && controlFile.ReadDouble(qmax) && controlFile.ReadDouble(intervals);
  if (!numbers || !controlFile.ReadInt(subint)) {
    // A word that begins like a number but is none ("0,5", "2.5" sub-intervals) is named with its line.
    const std::string word = controlFile.NumberJustRefused();
    if (word.empty()) Fail(log, missing, 17);
    Fail(log,
         std::string(missing) + "\n" +
             NoNumberText(word, " on " + controlFile.LineText(ShownControlFile()) + " is not " +
                                    (numbers ? "a whole number of sub-intervals" : "a finite number")),
         17);
  }
  {
    // A fifth number on the line would be dropped.
    const std::string at = controlFile.LineText(ShownControlFile());
    std::vector<double> more;
    std::string refused;
    size_t beyond = 0;
    ReadNumberRow(controlFile.RestOfLine(), 0, more, refused, &beyond);
    if (beyond > 0)
      Fail(log, "the line of qmin, qmax, table intervals and sub-intervals in [routing_model], " + at + ", " +
                    RowBeyondText(4, beyond),
           17);
  }
  if (!(qmin > 0.0) || !(qmax >= qmin) || !(intervals >= 1.0) || !(intervals <= kMaxTableIntervals) || subint < 1 ||
      subint > kMaxSubintervals)
    Fail(log,
         FormatText("the routing table needs 0 < qmin <= qmax, 1 to %d intervals and 1 to %d time "
                    "sub-intervals; read qmin %g, qmax %g, intervals %g, sub-intervals %d",
                    kMaxTableIntervals, kMaxSubintervals, qmin, qmax, intervals, subint),
         17);

  std::string code;
  ReadTwoControlValues(statisticsFileName, code, "name of the Qstatfiles for ");
  long value = 0;
  if (!ParseLong(code, value) || value < INT32_MIN || value > INT32_MAX)
    Fail(log, "the write code of the discharge statistics file is not a whole number: " + code, 17);
  statisticsCode = static_cast<int>(value);
  ReadControlValue(observedFileName, "name of spec.discharge files for ");
  int descriptors = 0;
  ReadControlValue(descriptors, "number column descriptors for");

  observedColumn.assign(subbasinCount + 1, 0);
  for (int i = 1; i <= descriptors; ++i) {
    if (i > subbasinCount)
      Fail(log,
           "too much column descriptors (" + std::to_string(descriptors) + ") in routing model (more than sub basins: " +
               std::to_string(subbasinCount) + ")",
           17);
    int c = 0, column = 0;
    if (!controlFile.ReadInt(c)) Fail(log, "error reading a subbasin index for column indexing in routing model", 17);
    if (!codes.Exists(c))
      Fail(log, "there is no subbasin with code " + std::to_string(c) + " for column indexing in routing model", 17);
    if (!controlFile.ReadInt(column) || column < 0)
      Fail(log, "error reading a column number for column indexing in routing model", 17);
    observedColumn[codes.Internal(c)] = column;
  }
  if (descriptors > 0) controlFile.RestOfLine();
  ReadControlValue(rSquareOffset, "Zeitoffset fuer Beginn der R-square-Berechnung fuer ");
}

void abflussmodellklasse::ReadGrids(const std::string& sectionName) {
  if (FindGrid("lake_codes") <= 0) {
    *log << "INFO: no LAKE-grid was found in " << name << "\n"
         << "Lake modelling is switched off for " << name << ".\n"
         << "[end-entry]";
    return;
  }
  SeekControlKey(sectionName, true);
  ReadControlValue(lakeSwitch, "flow control parameter for ");
  if (routing.routingOnly) lakeSwitch = 0;
  // Lakes off: the soil model's read flag stays routing's, so that a warm start does not
  // begin with the initialisation routing.
  if (lakeSwitch == 0) return;
  for (int k = 0; k < 3; ++k) controlFile.RestOfLine();
  ReadControlValue(lakeReadFlag, "readgrids for ");
  // With lakes on, the lakes' read flag decides whether routing skips its initialisation
  // routing; the routing state is still read as the soil model's read flag asks.
  const char* storage = routing.storageFileName.c_str();
  readInitialStates = ReadsStoredState(storage, lakeReadFlag) ? 1 : 0;
  const bool stateRead = ReadsStoredState(storage, routing.soilInitialGrids);
  if (readInitialStates && !stateRead)
    *log << "WARNING: readgrids of " << sectionName << " is " << lakeReadFlag
         << ": routing skips its initialisation routing, but the soil model's read flag "
         << routing.soilInitialGrids
         << " reads no routing state: the channels start from the steady state of the first runoff" << "[end-entry]";
  else if (!readInitialStates && stateRead)
    *log << "INFO: readgrids of " << sectionName << " is " << lakeReadFlag
         << ": routing runs its initialisation routing before it reads its state from the storage file"
         << "[end-entry]";
}

void abflussmodellklasse::ReadDescriptions() {
  // The list is read twice: counted first, then read; both from the line after the
  // R-square offset.
  const size_t listStart = controlFile.Pos();
  totals = CountRoutingDescriptions(controlFile, log);
  *log << "number inbetween areas (routings)    : " << totals.descriptions << "[end-entry]";
  *log << "number tributaries  total      (OL)  : " << totals.joins + totals.ol + totals.sumtrib << "[end-entry]";
  *log << " - flowing into another at the end   : " << totals.ol << "[end-entry]";
  *log << " - flowing into another at the start : " << totals.sumtrib + totals.joins << "[end-entry]";
  *log << "so the total of routingchannels is   : " << totals.sumtrib + totals.ol << "[end-entry]";
  *log << "number of inflows              (ZL)  : " << totals.zl << "[end-entry]";
  *log << "number of abstractions         (AL)  : " << totals.al << "[end-entry]";
  *log << "number reservoirs              (SP)  : " << totals.sp << "[end-entry]";

  ReadGrids("[lake_model]");

  controlFile.Seek(listStart);
  std::vector<std::vector<DescriptionLine>> lines;
  const std::vector<std::string> texts = JoinRoutingDescriptions(controlFile, log, &lines);
  std::vector<RoutingDescription> list;
  for (size_t k = 0; k < texts.size(); ++k) {
    *log << "reading routing description " << static_cast<int>(k + 1) << "[end-entry]";
    list.push_back(
        ParseRoutingDescription(texts[k], static_cast<int>(k + 1), codes, totals.zl, log, ShownControlFile(),
                                timeInterval));
    list.back().lines = std::move(lines[k]);
  }
  CheckRoutingNetwork(list, log, ShownControlFile());

  const int zones = subbasinCount + totals.zl;
  cellCounts.assign(zones + 1, 0.0);
  zoneAreaFactors.assign(zones + 1, 1.0);
  cellCounts[0] = geometry.cellsize * geometry.cellsize / 1e6;
  for (int i = 1; i <= subbasinCount; ++i) cellCounts[i] = routing.soilZoneTable[i].cellCount;
  downstream.assign(subbasinCount + 1, 0);
  objectOf.assign(subbasinCount + 1, 0);
  tributaryOrder.assign(2 * static_cast<size_t>(subbasinCount) + 1, 0);
  linkFirst = MatrixOwner(AllocateMatrix(log, 0, tracerCount, subbasinCount, 0));
  linkSecond = MatrixOwner(AllocateMatrix(log, 0, tracerCount, subbasinCount, 0));

  RoutingSetup setup;
  setup.dt = timeInterval;
  setup.subint = subint;
  setup.qmin = qmin;
  setup.qmax = qmax;
  setup.intervals = intervals;
  setup.replacementMode = replacementMode;
  setup.codes = codes;
  setup.subbasinCount = subbasinCount;
  setup.cellCounts = cellCounts.data();
  setup.zoneAreaFactors = zoneAreaFactors.data();
  setup.start = startDate;
  setup.nodata = geometry.nodata_value;
  setup.outputDirectory = output.defaultOutputDirectory;
  setup.timeOffsetHours = routing.routingTimeOffset / 60.0;
  setup.stampToStepEndHours = minToIntEndHours;
  setup.runoffFactor = std::max(1, static_cast<int>(stepRatio));
  if (totals.sp > 0) {
    ReservoirContext& rc = setup.reservoirs;
    rc.log = log;
    rc.geometry = geometry;
    rc.rows = rowBounds.empty() ? nullptr : &rowBounds;
    rc.grids = FindLakeGrids();
    rc.lakes = rc.grids.lakeCodes != nullptr;
    rc.outputDirectory = output.defaultOutputDirectory;
    rc.tableDirectory = output.defaultOutputDirectory;
    rc.dt = timeIntervalMinutes;
    rc.timeOffset = setup.timeOffsetHours;
    rc.stampToStepEndHours = minToIntEndHours;
  }
  size_t ordered = 0;
  for (const RoutingDescription& d : list) {
    routingObjects.push_back(new routingclass(log, d, setup));
    const int own = codes.Internal(d.code);
    objectOf[own] = d.number;
    // A sub-basin is the tributary of one description at most: the order list holds n.
    auto link = [&](int tributaryCode) {
      const int t = codes.Internal(tributaryCode);
      downstream[t] = own;
      tributaryOrder[++ordered] = t;
    };
    for (const ChannelEntry& c : d.ol) link(c.code);
    for (const ChannelEntry& c : d.sumtrib) {
      link(c.code);
      for (int m : c.members) link(m);
    }
  }
  BuildReservoirs(list);
  for (routingclass* o : routingObjects) {
    o->CheckSubbasinAreas();
    o->WriteWQTable(output.defaultOutputDirectory);
    o->SetLinks(linkFirst.get(), linkSecond.get());
  }
  // The checked counts hold each sub-basin's area upstream of its outlet.
  if (cellCounts[0] > 0.0) {
    std::vector<double> upstream(subbasinCount + 1, 0.0);
    for (int i = 1; i <= subbasinCount; ++i) upstream[i] = cellCounts[0] * cellCounts[i];
    WarnOfUnroutedAreas(list, codes, upstream, log, ShownControlFile());
  }
  // Abstractions convert with the checked areas; their rule sections lie anywhere in the
  // control file.
  const size_t listEnd = controlFile.Pos();
  for (size_t k = 0; k < list.size(); ++k) routingObjects[k]->SetAblaufModus(list[k], controlFile);
  controlFile.Seek(listEnd);
  input.assign(zones + 3, 0.0);
  subRunoff = MatrixOwner(subint, zones, log);
  for (int s = 1; s <= subint; ++s)
    for (int z = 0; z <= zones; ++z) subRunoff[s][z] = 0.0;
}

void abflussmodellklasse::CreateStatistics(const ModuleInputs& in) {
  if (SeekControlKey("[output_interval]", false)) {
    controlFile.RestOfLine();
    controlFile.RestOfLine();
    if (!controlFile.ReadInt(unitCode)) unitCode = 0;
    controlFile.RestOfLine();
  }
  if (statisticsCode <= 1000) return;
  statisticsZones.assign(routing.soilZoneTable, routing.soilZoneTable + subbasinCount + 1);
  int err = 0;
  statistics = std::make_unique<routstatistic>(
      &err, log, in.statisticsTable, in.statisticsSize, nullptr, 0, 0, statisticsZones.data(), subbasinCount,
      statisticsCode, 3, statisticsFileName,
      in.output.defaultOutputDirectory.empty() ? nullptr : in.output.defaultOutputDirectory.c_str(),
      in.outputListCount, in.outputList, timeInterval < 60.0, cellCounts.data());
  if (err) throw err;
  const char* title = unitCode == 0   ? "routed discharge [mm per subbasin] "
                      : unitCode == 1 ? "routed discharge [ m3 per sec ] "
                                      : "routed discharge (unknown measure)";
  statistics->WriteHeader(title, name, in.statisticsTable, in.statisticsSize);
}

void abflussmodellklasse::SetSubbasinRunoff(SubbasinRunoff* runoff) {
  if (flowControl == 0) return;
  if (runoff == nullptr && routing.routingOnly) {
    InitRoutingMode();
    runoff = modeRunoff.get();
  }
  if (runoff == nullptr) {
    *log << "FATAL: No valid discharges for discharge routing!\nYou have to run the model including at least "
            "precipitation interpolation and soil model\nif discharges are wished."
         << "[end-entry]";
    throw 43;
  }
  subbasinRunoff = runoff;
}

void abflussmodellklasse::SetInitialDischarge(double) {}

void abflussmodellklasse::CollectRoutingObjects(std::vector<SP_class*>& list) {
  for (const routingclass* o : routingObjects) o->AppendTo(list);
}

SubbasinLinkTables abflussmodellklasse::GetLinkA() const {
  if (flowControl == 0) return {};
  return SubbasinLinkTables{tributaryOrder.data(), downstream.data(), objectOf.data(), subbasinCount};
}

SubbasinAreaTables abflussmodellklasse::GetLinkB() const {
  if (flowControl == 0) return {};
  return SubbasinAreaTables{cellCounts.data(), zoneAreaFactors.data(), static_cast<int>(cellCounts.size()) - 1};
}

void abflussmodellklasse::SetSharedInput(const double* perZone) {
  if (flowControl == 0) return;
  sharedInput = perZone;
  for (routingclass* o : routingObjects) o->SetSharedInput(perZone);
}

double** abflussmodellklasse::GetLinkC() const { return flowControl != 0 ? linkFirst.get() : nullptr; }

double** abflussmodellklasse::GetLinkD() const { return flowControl != 0 ? linkSecond.get() : nullptr; }
