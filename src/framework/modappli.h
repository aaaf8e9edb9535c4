// The application object: owns one model run (one control file), its grid registry,
// statistics table, the start-up object and every module; builds and wires them (init),
// steps them through the simulation period (run) and releases them (ClearMemory).
//
// Member functions by file:
//   modappli_init.cpp      construction and wiring of the modules
//   modappli_run.cpp       the time loop and the Ctrl-C menu
//   modappli_shutdown.cpp  the final flush and the release of every module
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/model_date.h"
#include "framework/run_hold.h"
#include "framework/storage_file.h"
#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "init/defaultini.h"

class LogStream;
class GridRegistry;
class meteointerpol;
class precicorrclass;
class data_assimilation;
class schneemodellklasse;
class interzeptionsmodellklasse;
class infiltrationsmodellklasse;
class abflussmodellklasse;
class verdunstungsmodellklasse;
class expokorrklasse;
class RegionalSuperposition;
class SpecialOutputClass;
class tracer_ini_class;
class ModellApplication;
class SP_class;  // a reservoir or lake of a routing object

// Size of the statistics table (entries 0..200).
constexpr int kStatisticsTableSize = 200;

// Every module of a run. The application owns them from init to ClearMemory.
struct ModuleTable {
  defaultini* defaults = nullptr;
  std::vector<meteointerpol*> interpolators;  // entries 1..n; entry 0 stays null
  precicorrclass* precipitationCorrection = nullptr;
  data_assimilation* assimilation = nullptr;
  schneemodellklasse* snow = nullptr;
  interzeptionsmodellklasse* interception = nullptr;
  infiltrationsmodellklasse* soil = nullptr;  // the soil model
  abflussmodellklasse* routing = nullptr;
  verdunstungsmodellklasse* evapotranspiration = nullptr;
  expokorrklasse* radiationCorrection = nullptr;
  RegionalSuperposition* superposition = nullptr;
  SpecialOutputClass* specialOutput = nullptr;
  tracer_ini_class* tracers = nullptr;
};

// Seams for the tests: where a run records the module operations it calls, when a Ctrl-C
// is simulated, where menu answers come from and how interpolators are made.
struct ApplicationSeams {
  std::vector<std::string>* calls = nullptr;  // receives "class::operation" per call
  std::vector<double>* callSeconds = nullptr;  // with calls: the steady clock (s) after each call
  std::vector<long long>* callBytes = nullptr;  // with calls: LiveMatrixBytes() after each call
  int ctrlCAfterPass = 0;                    // raise SIGINT at the end of this pass (0: never)
  std::vector<int> moreCtrlCAfterPasses;     // further passes with a SIGINT
  std::istream* answers = nullptr;           // menu answers (default: standard input)
  // Makes interpolator i (1..n); null: the real one.
  meteointerpol* (*makeInterpolator)(const ModuleInputs& in, const std::string& name, int position,
                                     int option) = nullptr;
  // Changes the run values right after the start-up has handed them over; null: none.
  void (*adjustRunValues)(RunValues& values) = nullptr;
  // Called after every pass of the time loop with afterPassContext; null: none.
  void (*afterPass)(ModellApplication& app, void* context) = nullptr;
  void* afterPassContext = nullptr;
  // Every interpolator weighs its stations itself (the results are the same; tests compare).
  bool separateInverseDistance = false;
  // Every module keeps every grid it made: none is given back or shared once the run is
  // built (the tests compare the outputs of both).
  bool keepEveryGrid = false;
  // Called with each file of the end state moved into place; null: none.
  void (*afterEndStateMove)(const std::string& file) = nullptr;
};

// The seams that the next applications pick up (tests set them before constructing one).
ApplicationSeams& NextApplicationSeams();

class ModellApplication : public memory_handling {
 public:
  // Builds the run (init); raises an integer error code on failure.
  ModellApplication(LogStream* log, int argc, char** argv, int position);
  ~ModellApplication() override;

  void init(int argc, char** argv, int position);
  // Steps every module through the simulation period; returns the Ctrl-C state.
  virtual int run();
  // Final flush, end-of-run output and release of every module.
  virtual void ClearMemory();

  // The module inputs that every module constructor receives.
  ModuleInputs CommonInputs();

  // --- state -----------------------------------------------------------------------
  int initComplete = 0;
  bool routingOnly = false;  // "-mode:routing": routing alone, clocked by its runoff table
  int16_t endFlag = 0;
  std::string controlFileName;
  std::string workingControlFileName;
  std::vector<StatisticsTableEntry> statisticsTable;  // 0..kStatisticsTableSize
  std::unique_ptr<GridRegistry> registry;
  std::unique_ptr<ScratchGrids> scratch;  // the modules' shared scratch grids
  RunValues runValues;
  int interpolatorCount = 0;
  std::vector<std::string> interpolatorNames;  // 1..n
  int runStepMinutes = 0;  // the distance of the station records (0: not known)
  int outputListCount = 0;
  std::vector<int> outputList;  // 1..count; element 0 receives the count
  int tracerCount = 0;
  TracerRecord* tracerTable = nullptr;
  int interceptionMethod = 0;
  unsigned char interceptionBeforeSnow = 0;
  ModelDate stepDate;
  std::vector<SP_class*> reservoirs;  // every reservoir of every routing object, owned by routing
  ModuleTable modules;
  StorageFile storage;
  bool endStateWritten = false;  // the storage file (and so the end state) is written
  bool endingOnSignal = false;   // the time loop ended early on SIGTERM or SIGHUP
  // For a run that failed before its end: " (its storage file <path> is not written)" and
  // what became of the state there, or empty when the run has none (or its modules are gone).
  std::string UnwrittenStorageFile() const;
  ApplicationSeams seams;
  // The names the run writes under, held for it from their declaration (before anything is
  // written under them) to the destruction of the application, and the files it reads, held
  // against other runs' writes while it is built (framework/run_hold.h).
  RunHold hold;

 private:
  // Builds every module of the run, step by step: the start-up (the control file, the
  // grids, the run's values), the interpolators and the run's step, the process modules
  // (switched off for routing alone), routing and the state its storage file carries, and
  // the special output and data assimilation.
  void BuildModules();
  void BuildStartUp();
  void BuildInterpolators(ModuleInputs& in);
  void BuildProcessModules(const ModuleInputs& in, const ModuleInputs& processIn);
  void BuildRouting(const ModuleInputs& in);
  void BuildOutputAndAssimilation(ModuleInputs& in);
  // The run's time step: the distance between the record of the run's start and the next
  // one in the first station file (the clock's); every interpolator holds the records it
  // reads to it. A "timestep" of [output_interval] has to be the same. 0 when no file holds
  // a record after the start (then the "timestep", if any).
  int FindRunStep();
  // Declares the files the modules did not declare themselves (framework/run_files.h).
  void DeclareRunFiles();
  // Checks every file the run writes against every file it reads (framework/run_files.h).
  void SealRunFiles();
  void ReleaseModules();
  void ShowCtrlCMenu();
  // Ctrl-C choice 1, and SIGTERM or SIGHUP: every module ends with the interval that comes
  // next (interpolators and modules get it as their end date).
  void EndWithNextInterval();
  // Between the steps of the build: a recorded SIGTERM or SIGHUP ends the run before it
  // starts (kTerminatedCode).
  void StopIfTerminated();
  // Writes the buffered rows of every file once per simulated day (see run()).
  void FlushTheDay();
  int ReadMenuAnswer();
  void Trace(const char* call);
  // The same for a part of the start-up, traced only while the grids' bytes are counted.
  void TraceBuilt(const char* part) {
    if (seams.callBytes) Trace(part);
  }
  void SetEndDates(const ModelDate& date);
  void RunPass();
  // One step of routing alone, at the date of the routing module's runoff table.
  void RunRoutingPass();
  // Logs an ERROR for every interpolator whose input ran out before the end date and keeps
  // the closing line that replaces the success line.
  void ReportEarlyEnd();
  // Adds to the date-mismatch failure of interpolator i which inputs disagree.
  void ExplainDateMismatch(int i);
  // Writes every buffered statistics and point row; each failure is logged (with an ERROR
  // that the run is ending when ending is set) and the first code kept in firstError.
  void FlushBuffers(int& firstError, bool ending = true);
  // After a failure in the time loop: the rows of the steps done are not lost.
  void SaveBuffersAfterFailure();
  std::string earlyEnd;  // closing line of a run whose input ended early; empty: none did
  // Best-effort shutdown step: runs f, logs and keeps the first failure's code.
  template <typename F>
  void Attempt(int& firstError, F&& f, bool ending = true);
};

// The interception-before-snow flag: 1 when interception is active with a method above 10.
int InterceptionBeforeSnow(int interceptionFlowControl, int interceptionMethod);
// A menu answer: one word read as a number in base 10; anything else, and a number outside
// 0..3, is 0.
int ParseMenuAnswer(const std::string& word);
