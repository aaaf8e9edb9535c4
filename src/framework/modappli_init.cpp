// Construction of a run: the start-up, the interpolators and the process modules in their
// fixed order, and the values and pointers that modules take from each other.
#include <exception>
#include <new>

#include "assimilation/dataassim.h"
#include "framework/append_file.h"
#include "framework/build_info.h"
#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/entry.h"
#include "framework/logstream.h"
#include "framework/modappli.h"
#include "framework/module_log.h"
#include "framework/new_file.h"
#include "framework/point_output.h"
#include "framework/run_files.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/tracer_ini.h"
#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "meteo/superposition.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/interception/interzep.h"
#include "processes/radiation/expokorr.h"
#include "processes/snow/snowmod.h"
#include "processes/soil/infilt.h"
#include "routing/abfluss.h"

namespace {

// A module whose constructor reported a failure is not kept: it is destroyed and its code
// raised (the module has written its FATAL message).
template <typename T>
void Check(int error, T*& module) {
  if (error == 0) return;
  delete module;
  module = nullptr;
  throw error;
}

meteointerpol* MakeRealInterpolator(const ModuleInputs& in, const std::string& name, int position, int option) {
  return new meteointerpol(in, name, position, option);
}

}  // namespace

ApplicationSeams& NextApplicationSeams() {
  static ApplicationSeams seams;
  return seams;
}

int InterceptionBeforeSnow(int interceptionFlowControl, int interceptionMethod) {
  return interceptionFlowControl > 0 && interceptionMethod > 10 ? 1 : 0;
}

ModellApplication::ModellApplication(LogStream* logStream, int argc, char** argv, int position) {
  log = logStream;
  name = "ModellApplication";
  seams = NextApplicationSeams();
  try {
    init(argc, argv, position);
  } catch (...) {
    // A failed construction runs no destructor: give back what was built (without any
    // end-of-run output) before the code travels on. The files it began are removed.
    RunFiles::Current().Abandon();
    ReleaseModules();
    throw;
  }
}

ModellApplication::~ModellApplication() {
  // A run that failed leaves the state it started from: the files written for its end state
  // are removed (after a complete end, nothing is left to remove).
  storage.Abandon();
  ReleaseModules();
}

void ModellApplication::ReleaseModules() {
  // After ClearMemory everything is gone already; on a failure path the modules built so
  // far are given back here without end-of-run output and without writing the rows their
  // statistics and point files still buffer.
  struct Discard {
    bool previous = DiscardBufferedOutput;
    Discard() { DiscardBufferedOutput = true; }
    ~Discard() { DiscardBufferedOutput = previous; }
  } discard;
  for (size_t i = modules.interpolators.size(); i-- > 1;) delete modules.interpolators[i];
  modules.interpolators.clear();
  delete modules.tracers;
  delete modules.routing;
  delete modules.soil;
  delete modules.interception;
  delete modules.snow;
  delete modules.evapotranspiration;
  delete modules.radiationCorrection;
  delete modules.superposition;
  delete modules.precipitationCorrection;
  delete modules.specialOutput;
  delete modules.assimilation;
  delete modules.defaults;
  modules = ModuleTable();
}

ModuleInputs ModellApplication::CommonInputs() {
  ModuleInputs in;
  in.log = log;
  in.statisticsTable = statisticsTable.data();
  in.statisticsSize = kStatisticsTableSize;
  in.controlFileName = workingControlFileName;
  in.grids = registry ? registry->Records() : nullptr;
  in.reportInterval = runValues.outputInterval;
  in.outputListCount = outputListCount;
  in.outputList = outputList.empty() ? nullptr : outputList.data();
  in.zoneTable = runValues.zoneTable.empty() ? nullptr : runValues.zoneTable.data();
  in.zoneCodeMap = runValues.zoneCodeMap.empty() ? nullptr : runValues.zoneCodeMap.data();
  in.zoneCount = runValues.zoneCount;
  in.maxZoneCode = runValues.maxZoneCode;
  in.rowBounds = &runValues.rowBounds;
  in.firstRow = runValues.firstRow;
  in.lastRow = runValues.lastRow;
  in.geometry = runValues.geometry;
  in.start = runValues.start;
  in.end = runValues.end;
  in.minToIntEnd = runValues.minToIntEnd;
  in.minToIntEndLine = runValues.minToIntEndLine;
  in.latitude = runValues.latitude;
  in.longitude = runValues.longitude;
  in.referenceMeridian = runValues.referenceMeridian;
  if (modules.defaults) in.output = modules.defaults->output;
  in.output.writeAsciiGrids = runValues.writeAsciiGrids;
  in.output.writeDoubleGrids = runValues.writeDoubleGrids;
  in.output.writeNetcdfGrids = runValues.writeNetcdfGrids;
  in.output.initialStateDirectory = runValues.initialStateDirectory;
  in.output.defaultOutputDirectory = runValues.defaultOutputDirectory;
  in.run = &runValues;
  in.storage = &storage;
  in.scratch = scratch.get();
  return in;
}

void ModellApplication::init(int argc, char** argv, int position) {
  try {
    *log << "file " << "modappli" << ", compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
    endFlag = 0;
    CtrlCState = 0;
    TakeUnraisedWriteFailure();  // one of an earlier run, raised there already
    controlFileName = argv[position] ? argv[position] : "";
    for (int i = 1; i < argc; ++i)
      if (argv[i] && std::string(argv[i]) == kRoutingModeOption) routingOnly = true;
    try {
      registry = std::make_unique<GridRegistry>();
    } catch (const std::bad_alloc&) {
      *log << "FATAL: no free grid found in memory(1) \n" << "[end-entry]";
      throw 1;
    }
    statisticsTable.assign(kStatisticsTableSize + 1, StatisticsTableEntry());
    // Every reader and writer declares its files while the run is built; nothing is written
    // over a file until the check at the end of the build has found no clash.
    hold.Begin(log, controlFileName, std::string());
    RunFiles::Current().Begin(&hold);
    storage.BeginRun();
    BuildModules();
    StopIfTerminated();
    // A warm start says which state it goes on from, and names the state grids edited since.
    // The step before the start is one of the run's steps: the distance of the station
    // records, or the soil model's interval in a run without them.
    storage.CheckIncompleteStates(RunFiles::Current().ReadPaths(), log);
    // The state files read are those whose grids the run writes again: known once every
    // write is declared.
    DeclareRunFiles();
    storage.CheckEndState(RunFiles::Current().ReadPaths(), runValues.start,
                          runStepMinutes > 0 ? runStepMinutes : modules.soil ? modules.soil->timeInterval : 0.0, log);
    SealRunFiles();
    initComplete = 1;
  } catch (int code) {
    *log << "FATAL: exceptions in ModellApplication::init() caught!" << "[end-entry]";
    throw;
  } catch (const std::exception& e) {
    // Anything else (a failed allocation, a library error) ends the run the same way,
    // naming where the control file was being read: a count there may ask too much.
    *log << "FATAL: " << e.what() << " while the start-up read " << controlFileName
         << (modelobject::LastSoughtSection().empty() ? std::string()
                                                       : ", section " + modelobject::LastSoughtSection())
         << ": a number or size there may ask for more memory than the machine has" << "[end-entry]";
    *log << "FATAL: exceptions in ModellApplication::init() caught!" << "[end-entry]";
    throw 103;
  }
}

void ModellApplication::StopIfTerminated() {
  if (TerminationSignal == 0) return;
  *log << "FATAL: " << TerminationSignalName() << " received while the run of " << controlFileName
       << " was being built: it ends before its first time step" << "[end-entry]";
  throw kTerminatedCode;
}

void ModellApplication::BuildModules() {
  BuildStartUp();
  ModuleInputs in = CommonInputs();
  BuildInterpolators(in);
  // Routing alone: no meteorology, and the process modules before routing are built
  // switched off (the soil model would start the statistics files that routing reads).
  ModuleInputs switchedOff = in;
  switchedOff.zoneCodeMap = nullptr;
  BuildProcessModules(in, routingOnly ? switchedOff : in);
  BuildRouting(in);
  BuildOutputAndAssimilation(in);
}

void ModellApplication::BuildStartUp() {
  int error = 0;
  ModuleTable& m = modules;
  // The start-up: one step per call until it reports done.
  m.defaults = new defaultini(error, log, controlFileName, statisticsTable.data(), kStatisticsTableSize, 1,
                              registry->Records());
  Check(error, m.defaults);
  bool done = false;
  m.defaults->InitStep(done);  // step 0: the control file's copy and the output settings
  const std::string& output = m.defaults->output.defaultOutputDirectory;
  hold.NameOutputFolder(output.substr(0, output.find_last_of('/') + 1));
  RunFiles::Current().NameOutputDirectory(output);
  StopIfTerminated();
  while (!done) {
    m.defaults->InitStep(done);
    StopIfTerminated();
  }
  m.defaults->CreateZonalStatistics();
  m.defaults->GetInitValues(workingControlFileName, runValues);
  if (seams.adjustRunValues) seams.adjustRunValues(runValues);
  m.defaults->SetRunFlag(1);
  TraceBuilt("start-up: defaultini");
  // From here on a look-up by name is a reader's: the start-up's own do not count.
  ForgetGridLookUps(registry->Records());
  if (!seams.keepEveryGrid)
    scratch = std::make_unique<ScratchGrids>(log, runValues.geometry.nrows, runValues.geometry.ncols);
  interpolatorCount = runValues.meteoCount > 0 ? runValues.meteoCount : 0;
  interpolatorNames = std::move(runValues.meteoNames);
  interpolatorNames.resize(static_cast<size_t>(interpolatorCount) + 1);
  outputListCount = runValues.outputListCount > 0 ? runValues.outputListCount : 0;
  outputList = std::move(runValues.outputList);
  if (outputListCount > 0) outputList.resize(static_cast<size_t>(outputListCount) + 1);
}

void ModellApplication::BuildInterpolators(ModuleInputs& in) {
  ModuleTable& m = modules;
  if (routingOnly) {
    *log << "INFO: routing only (" << kRoutingModeOption
         << "): no meteorological input, the process modules before routing are switched off" << "[end-entry]";
    interpolatorCount = 0;
  }

  // Interpolators 1..n, each with its result grid at the first free registry position. The
  // messages of a missing grid or section name the variables.
  registry->Records()[0].meteoNames.assign(interpolatorNames.begin() + 1, interpolatorNames.end());
  m.interpolators.assign(static_cast<size_t>(interpolatorCount) + 1, nullptr);
  auto make = seams.makeInterpolator ? seams.makeInterpolator : MakeRealInterpolator;
  for (int i = 1; i <= interpolatorCount; ++i) {
    int p = 1;
    while (p <= kMaxGridPosition && in.grids[p].data != nullptr) ++p;
    if (p > kMaxGridPosition) {
      *log << "FATAL: no more free grids in memeory, (max. " << 1000 << ")!\n" << "[end-entry]";
      throw 12;
    }
    m.interpolators[i] = make(in, interpolatorNames[i], p, runValues.thirdOption);
    m.interpolators[i]->SetIntOption(runValues.intOption);
    m.interpolators[i]->SetHourOffset(runValues.minToIntEnd / 60.0);
    m.interpolators[i]->SetRunFlag(1);
  }
  TraceBuilt("meteointerpol");
  runStepMinutes = FindRunStep();
  in.runStepMinutes = runStepMinutes;
  m.defaults->SetRunStepMinutes(runStepMinutes);
  // Every module tells the end of a day by the same step: the distance of the records, or
  // what the start-up takes without them.
  in.output.runStepMinutes = m.defaults->StepMinutes();
  m.defaults->output.runStepMinutes = in.output.runStepMinutes;
  for (int i = 1; i <= interpolatorCount; ++i) m.interpolators[i]->output.runStepMinutes = in.output.runStepMinutes;
}

void ModellApplication::BuildProcessModules(const ModuleInputs& in, const ModuleInputs& processIn) {
  int error = 0;
  ModuleTable& m = modules;
  // Tracer settings: read and checked; the modules carry no tracers.
  m.tracers = new tracer_ini_class(error, log, workingControlFileName, tracerCount, tracerTable, in.output);
  Check(error, m.tracers);
  if (tracerCount > 0)
    *log << "WARNING: [substance_transport] lists " << tracerCount
         << " tracers, but no module carries tracers: this run computes no tracer concentrations and writes no "
            "tracer grids or statistics"
         << "[end-entry]";
  tracerCount = 0;
  m.tracers->SetRunFlag(1);

  m.superposition = new RegionalSuperposition(in);
  TraceBuilt("RegionalSuperposition");

  m.precipitationCorrection =
      new precicorrclass(error, log, m.interpolators.data(), interpolatorNames, workingControlFileName,
                         interpolatorCount, in.grids, runValues.geometry);
  Check(error, m.precipitationCorrection);
  m.precipitationCorrection->SetInitValue(m.defaults->GetMaxElevation());
  m.precipitationCorrection->SetRunFlag(1);
  TraceBuilt("precicorrclass");

  m.radiationCorrection = new expokorrklasse(error, processIn);
  Check(error, m.radiationCorrection);
  m.radiationCorrection->SetRunFlag(1);
  TraceBuilt("expokorrklasse");

  m.evapotranspiration = new verdunstungsmodellklasse(error, processIn);
  Check(error, m.evapotranspiration);
  m.evapotranspiration->LinkSoilGrids();
  m.evapotranspiration->SetRadiationCorrection(m.radiationCorrection->GetCorrection());
  TraceBuilt("verdunstungsmodellklasse");

  m.snow = new schneemodellklasse(error, processIn);
  Check(error, m.snow);
  m.snow->SetRadiationCorrection(m.radiationCorrection->GetCorrection());
  m.evapotranspiration->SetSnowStorageGrid(m.snow->GetSnowStorageSolid());
  m.evapotranspiration->SetSnowMethod(m.snow->GetMethod());
  m.evapotranspiration->SetRunFlag(1);
  TraceBuilt("schneemodellklasse");

  m.interception = new interzeptionsmodellklasse(error, processIn);
  Check(error, m.interception);
  if (m.interception->GetFlowControl() > 0) {
    interceptionMethod = m.interception->method;
    interceptionBeforeSnow = static_cast<unsigned char>(InterceptionBeforeSnow(1, interceptionMethod));
    if (interceptionBeforeSnow) {
      m.interception->transZone = m.snow->transzone;
      m.interception->thresholdTemperature = m.snow->T0R;
      m.interception->storesWrittenAfterSnow = true;
    }
  } else {
    interceptionMethod = 0;
    interceptionBeforeSnow = 0;
  }
  m.snow->SetSnowInterceptionFlag(interceptionBeforeSnow);
  TraceBuilt("interzeptionsmodellklasse");

  m.soil = new infiltrationsmodellklasse(error, processIn);
  Check(error, m.soil);
  m.soil->SetInputGrid(interceptionBeforeSnow);
  m.snow->InitTracers(error, tracerCount, tracerTable, statisticsTable.data(), kStatisticsTableSize);
  if (error) throw error;
  m.interception->InitTracers(error, tracerCount, tracerTable, statisticsTable.data(), kStatisticsTableSize);
  if (error) throw error;
  m.interception->SetRunFlag(1);
  m.soil->InitTracers(error, tracerCount, tracerTable, statisticsTable.data(), kStatisticsTableSize);
  if (error) throw error;
  m.soil->SetRunFlag(1);
  TraceBuilt("infiltrationsmodellklasse");
  m.evapotranspiration->InitLakes("[lake_model]");
  m.snow->InitLakes("[lake_model]");
}

void ModellApplication::BuildRouting(const ModuleInputs& in) {
  int error = 0;
  ModuleTable& m = modules;
  const int soilInterval =
      routingOnly ? m.radiationCorrection->ReadFlowControl("soil_model") : m.soil->ReadFlowControl("");

  RoutingInputs routing;
  routing.soilInterval = soilInterval;
  routing.routingTimeOffset = runValues.minutesToInvEndRouting;
  routing.soilZoneTable = m.soil->soilZoneTable;
  routing.soilZoneCodeMap = m.soil->soilZoneCodeMap;
  routing.soilZoneCount = m.soil->soilZoneCount;
  routing.soilMaxZoneCode = m.soil->soilMaxZoneCode;
  routing.soilInitialGrids = m.soil->readInitialGrids;
  if (const char* name = m.soil->GetStorageFileName()) routing.storageFileName = name;
  routing.routingOnly = routingOnly;
  m.routing = new abflussmodellklasse(error, in, routing);
  Check(error, m.routing);
  m.routing->SetInputGridNames(interceptionBeforeSnow);
  if (m.routing->GetFlowControl() > 0) {
    m.routing->SetSubbasinRunoff(routingOnly ? nullptr : m.soil->GetSubbasinRunoff());
    m.routing->InitRouting();
    m.routing->SetInitialDischarge(0.0);
    m.routing->ReadStorageFile(m.soil->GetStorageFileName(), m.soil->readInitialGrids);
    m.routing->SetRunFlag(1);
  }
  TraceBuilt("abflussmodellklasse");

  // One set of glacier sub-basins: those whose runoff the snow model fills.
  m.soil->SetGlacierSubbasins(m.snow->GetFlowControl() > 0 ? &m.snow->GlacierSubbasins() : nullptr);
  // Which cells are glacier is the snow model's word for every module, so that each cell's
  // water is taken once: none where it runs no glaciers.
  m.evapotranspiration->SetGlacierCells(m.snow->Glaciers());
  m.interception->SetGlacierCells(m.snow->Glaciers());
  m.soil->SetGlacierCells(m.snow->Glaciers());
  m.soil->SetRootZoneReference(&m.defaults->landuseGrids);
  if (m.snow->GetFlowControl() > 0) {
    m.snow->SetSubbasinRunoff(m.soil->GetSubbasinRunoff());
    m.snow->ReadStorageFile(m.soil->GetStorageFileName(), m.soil->readInitialGrids);
    m.snow->SetRunFlag(1);
  }
  TraceBuilt("schneemodellklasse: storage file");

  // A warm start continues the rhythm of a radiation correction computed every n-th step,
  // whose stack lies beside the storage file.
  const char* storageName = m.soil->GetStorageFileName();
  m.radiationCorrection->ContinueRhythm(m.soil->readInitialGrids != 0, storageName ? storageName : std::string());
}

void ModellApplication::BuildOutputAndAssimilation(ModuleInputs& in) {
  int error = 0;
  ModuleTable& m = modules;
  m.specialOutput = new SpecialOutputClass(error, in, 1);
  Check(error, m.specialOutput);
  TraceBuilt("SpecialOutputClass");
  if (m.routing->GetFlowControl() != 0) m.routing->CollectRoutingObjects(reservoirs);

  in.warmStart = m.soil->readInitialGrids != 0;
  m.assimilation = new data_assimilation(error, in, reservoirs, routingOnly ? 1 : 0, 1);
  Check(error, m.assimilation);
  TraceBuilt("data_assimilation");
  // Every grid a coupled run exchanges must be a grid of the run.
  if (m.defaults->IsCoupled()) m.defaults->ResolveExternalGrids();
  // Every reader of the run has looked its grids up: the start-up's grids kept only for
  // readers that none of them asked for are given back.
  if (seams.keepEveryGrid) return;
  m.defaults->ReleaseUnreadGrids();
  TraceBuilt("start-up grids no module reads, given back");
  for (teilmodellklasse* module : {static_cast<teilmodellklasse*>(m.radiationCorrection),
                                   static_cast<teilmodellklasse*>(m.evapotranspiration),
                                   static_cast<teilmodellklasse*>(m.snow),
                                   static_cast<teilmodellklasse*>(m.interception),
                                   static_cast<teilmodellklasse*>(m.soil)})
    module->ShareScratchGrids();
  TraceBuilt("per-call grids of the modules in shared scratch grids");
}

int ModellApplication::FindRunStep() {
  const int timestep = runValues.timestep;
  const meteointerpol* clock = nullptr;
  for (int i = 1; i <= interpolatorCount && !clock; ++i)
    if (modules.interpolators[i]->StationStepRecords().count == 2) clock = modules.interpolators[i];
  if (!clock) return timestep;
  // The step is the distance from the record of the start to the next: the records before
  // the start are only skipped, and a gap among them says nothing of the run's step.
  const StepRecords& r = clock->StationStepRecords();
  const std::string& file = clock->DateSourceFile();
  const double step = r.StepMinutes();
  if (!(step >= 1.0 && step <= kMaxRecordStepMinutes)) {
    *log << "FATAL: the record of the run's start in " << file << " (line " << r.line[0] << ") and the next one (line "
         << r.line[1] << ") are dated " << DateText(r.date[0], kRecordDate) << " and "
         << DateText(r.date[1], kRecordDate) << ": the run steps by the distance between them, which has to be 1 to "
         << static_cast<long>(kMaxRecordStepMinutes) << " minutes, not " << step
         << " (a record repeated or out of order)" << "[end-entry]";
    throw 73;
  }
  const int minutes = static_cast<int>(step);
  if (timestep > 0 && timestep != minutes) {
    *log << "FATAL: timestep = " << timestep << " in [output_interval] of " << controlFileName
         << ", but the records of " << file << " follow each other by " << minutes << " minutes (lines " << r.line[0]
         << " and " << r.line[1] << ": " << DateText(r.date[0], kRecordDate) << " and "
         << DateText(r.date[1], kRecordDate) << "): the run steps by its records; give timestep the same minutes"
         << "[end-entry]";
    throw 17;
  }
  *log << "INFO: the run steps by " << minutes << " minutes, " << RecordStepSource(file) << "[end-entry]";
  for (int i = 1; i <= interpolatorCount; ++i)
    modules.interpolators[i]->SetRecordStep(minutes, RecordStepSource(file));
  return minutes;
}

std::string ModellApplication::UnwrittenStorageFile() const {
  if (modules.soil)
    if (const char* name = modules.soil->GetStorageFileName())
      return " (its storage file " + MakePath(runValues.defaultOutputDirectory, name) +
             " is not written): the earlier state files are left as they were";
  return std::string();
}

void ModellApplication::DeclareRunFiles() {
  RunFiles& files = RunFiles::Current();
  files.Read("the control file", controlFileName);
  DeclareModuleLog(log);
  if (modules.defaults) modules.defaults->DeclareRunFiles();
  DeclareRegisteredGridFiles(registry ? registry->Records() : nullptr);
  // The storage file is written once at the end of the run, through its temporary name: it
  // may replace the file the run started from. While its end state is moved into place, the
  // marker of an incomplete state stands beside it (none beside a device it is thrown into).
  if (modules.soil)
    if (const char* name = modules.soil->GetStorageFileName()) {
      const OutputName storageFile(MakePath(runValues.defaultOutputDirectory, name));
      const std::string& path = storageFile.Final();
      files.Write("the storage file of [soil_model]", path, RunFiles::When::EndOnly, &storage);
      if (!storageFile.IntoDevice())
        files.Reserve("the marker of an incomplete end state beside the storage file " + path,
                      IncompleteStateMarker(path), true);
    }
  // The diagnostics file is held by the log stream from the start of the program.
  files.Reserve("the diagnostics file", log->FileName(), false);
}

void ModellApplication::SealRunFiles() { RunFiles::Current().Seal(log, controlFileName); }
