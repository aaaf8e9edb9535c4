// The time loop: one pass per time step, every module in its fixed order, and the Ctrl-C
// menu between two passes.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "assimilation/dataassim.h"
#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "framework/modappli.h"
#include "framework/point_output.h"
#include "framework/thread_policy.h"
#include "grids/grid_output_thread.h"
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

// True when date lies on another day than the one of the last flush (remembered in
// flushed; the first date only starts the count).
bool NewDay(ModelDate& flushed, const ModelDate& date) {
  if (flushed.IsMissing()) {
    flushed = date;
    return false;
  }
  if (date.day == flushed.day && date.month == flushed.month && date.year == flushed.year) return false;
  flushed = date;
  return true;
}

// Longest answer kept; the rest of a longer word is read and dropped.
constexpr size_t kAnswerLength = 300;

const char* const kMenu =
    "SKIP: \nCtrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next interval (writing all grids and "
    "buffers)\n2 = cancel now without saving buffers!\n3 = flush buffers and go on with simulation\n\nchoose one "
    "of the above options: ";

}  // namespace

int ParseMenuAnswer(const std::string& word) {
  if (word.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(word.c_str(), &end, 10);
  if (end == word.c_str() || errno == ERANGE) return 0;
  return value >= 0 && value <= 3 ? static_cast<int>(value) : 0;
}

void ModellApplication::Trace(const char* call) {
  if (!seams.calls) return;
  seams.calls->emplace_back(call);
  if (seams.callSeconds)
    seams.callSeconds->push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
  if (seams.callBytes) seams.callBytes->push_back(LiveMatrixBytes());
}

int ModellApplication::ReadMenuAnswer() {
  std::istream& in = seams.answers ? *seams.answers : std::cin;
  std::string word;
  int c = in.get();
  while (c != EOF && std::isspace(c)) c = in.get();
  while (c != EOF && !std::isspace(c)) {
    if (word.size() < kAnswerLength) word += static_cast<char>(c);
    c = in.get();
  }
  if (word.empty()) in.clear();  // nothing could be read (no terminal): continue
  return ParseMenuAnswer(word);
}

void ModellApplication::SetEndDates(const ModelDate& d) {
  modules.radiationCorrection->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.superposition->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.evapotranspiration->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.snow->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.interception->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.soil->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.routing->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.defaults->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  modules.specialOutput->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  Trace("SetEndDate");
}

void ModellApplication::EndWithNextInterval() {
  auto& ip = modules.interpolators;
  for (int i = 1; i <= interpolatorCount; ++i) ip[i]->SetEndDateToCurrent();
  // Without interpolators the step date stays as it is (-9999 before the first pass).
  if (interpolatorCount > 0)
    ip[1]->GetCurrentTime(stepDate.minute, stepDate.hour, stepDate.day, stepDate.month, stepDate.year);
  SetEndDates(stepDate);
}

void ModellApplication::FlushTheDay() {
  // Not one of the module protocol's calls: the call record of the tests leaves it out.
  std::vector<std::string>* calls = seams.calls;
  seams.calls = nullptr;
  RoutineFlush = true;
  int firstError = 0;
  FlushBuffers(firstError, false);
  RoutineFlush = false;
  seams.calls = calls;
  if (firstError != 0) throw firstError;
}

void ModellApplication::ShowCtrlCMenu() {
  CtrlCState = 0;
  *log << kMenu << "[end-entry]";
  const int choice = ReadMenuAnswer();
  CtrlCState = choice;
  auto& ip = modules.interpolators;
  switch (choice) {
    case 1:
      EndWithNextInterval();
      CtrlCState = 99;
      EnableCtrlCHandler();
      break;
    case 2:
      *log << "WARNING: program manually killed by pressing Ctrl-C and selecting 2!" << "[end-entry]";
      throw 98;
    case 3:
      for (int i = 1; i <= interpolatorCount; ++i) ip[i]->WriteStatistics();
      modules.superposition->WriteStatistics();
      modules.evapotranspiration->WriteStatistics();
      modules.snow->WriteStatistics();
      modules.interception->WriteStatistics();
      modules.soil->WriteStatistics();
      modules.routing->WriteStatistics();
      modules.specialOutput->SetEndDate(stepDate.year, stepDate.month, stepDate.day, stepDate.hour,
                                        stepDate.minute);
      modules.defaults->WriteZonalStatistics();
      Trace("flush");
      CtrlCState = 0;
      EnableCtrlCHandler();
      break;
    default:
      CtrlCState = 0;
      EnableCtrlCHandler();
      break;
  }
}

void ModellApplication::RunPass() {
  ModuleTable& m = modules;
  auto& ip = m.interpolators;
  const int n = interpolatorCount;

  if (n > 0) {
    ip[1]->GetCurrentTime(stepDate.minute, stepDate.hour, stepDate.day, stepDate.month, stepDate.year);
    Trace("meteointerpol::GetCurrentTime");
  } else {
    stepDate = ModelDate();
  }
  const ModelDate d = stepDate;

  for (int i = 1; i <= n; ++i) {
    if (ip[i]->interpolationMethod == 10 || ip[i]->interpolationMethod == 11) {
      ip[i]->ComputeStationRegression(0);
      Trace("meteointerpol::ComputeStationRegression");
    }
  }
  if (m.superposition->GetFlowControl() == 0) {
    m.precipitationCorrection->CorrectStationValues();
    Trace("precicorrclass::CorrectStationValues");
  }
  if (n > 1 && !seams.separateInverseDistance && ShareInverseDistance(ip.data() + 1, n, d) > 0)
    Trace("ShareInverseDistance");
  for (int i = 1; i <= n; ++i) {
    try {
      ip[i]->Interpolate(d);
    } catch (int code) {
      if (code == 52) ExplainDateMismatch(i);
      throw;
    }
    Trace("meteointerpol::Interpolate");
  }
  m.superposition->Run(d);
  Trace("RegionalSuperposition::Run");
  if (m.superposition->GetFlowControl() != 0 || m.precipitationCorrection->correctGrid) {
    m.precipitationCorrection->CorrectPrecipitation();
    Trace("precicorrclass::CorrectPrecipitation");
  }

  const int dt = m.defaults->StepMinutes();
  m.defaults->UpdatePeriodicGrids(d, dt);
  Trace("defaultini::UpdatePeriodicGrids");
  m.defaults->UpdateLanduseParameters(d, dt, m.soil->saturatedSoilPartition, m.soil->inactiveFieldCapacity,
                                      m.soil->inactiveSoilMoisture, m.soil->interflowStorage);
  Trace("defaultini::UpdateLanduseParameters");

  m.assimilation->Run(d);
  Trace("data_assimilation::Run");
  for (int i = 1; i <= n; ++i) {
    ip[i]->WriteResultGrid();
    Trace("meteointerpol::WriteResultGrid");
  }
  m.superposition->WriteResults();
  Trace("RegionalSuperposition::WriteResults");

  m.radiationCorrection->Run(d);
  Trace("expokorrklasse::Run");
  m.evapotranspiration->PotentialET(d);
  Trace("verdunstungsmodellklasse::PotentialET");
  m.evapotranspiration->SnowEvaporation(d);
  Trace("verdunstungsmodellklasse::SnowEvaporation");
  // The snow model's own evaporation takes its share of the demand right after its step,
  // before the interception below it and the soil take from what is left.
  const auto snowStep = [&] {
    m.snow->Run(d);
    Trace("schneemodellklasse::Run");
    m.snow->PostRun(d);
    Trace("schneemodellklasse::PostRun");
    m.evapotranspiration->SnowModelEvaporation(d);
    Trace("verdunstungsmodellklasse::SnowModelEvaporation");
  };
  if (interceptionBeforeSnow == 1) {
    m.interception->Run(d);
    Trace("interzeptionsmodellklasse::Run");
    snowStep();
    m.interception->WriteStoreGrids();
    Trace("interzeptionsmodellklasse::WriteStoreGrids");
  } else {
    snowStep();
    m.interception->Run(d);
    Trace("interzeptionsmodellklasse::Run");
  }
  m.soil->Run(d);
  Trace("infiltrationsmodellklasse::Run");
  m.evapotranspiration->RealET(d);
  Trace("verdunstungsmodellklasse::RealET");
  m.routing->RunTimeStep(d, 1, 1);
  Trace("abflussmodellklasse::RunTimeStep");

  m.defaults->WriteStandardGrids(d);
  Trace("defaultini::WriteStandardGrids");
  m.defaults->WriteVariableGrids(d);
  Trace("defaultini::WriteVariableGrids");
  m.defaults->ResetZonalStatistics();
  Trace("defaultini::ResetZonalStatistics");
  m.defaults->AccumulateZonalStatistics();
  Trace("defaultini::AccumulateZonalStatistics");
  m.defaults->AggregateZonalStatistics(d);
  Trace("defaultini::AggregateZonalStatistics");
  m.specialOutput->CollectValues(d.minute, d.hour, d.day, d.month, d.year);
  Trace("SpecialOutputClass::CollectValues");
}

void ModellApplication::RunRoutingPass() {
  modules.routing->GetCurrentTime(stepDate.minute, stepDate.hour, stepDate.day, stepDate.month, stepDate.year);
  Trace("abflussmodellklasse::GetCurrentTime");
  modules.routing->RunTimeStep(stepDate, 1, 1);
  Trace("abflussmodellklasse::RunTimeStep");
}

namespace {
// The basin's cells, as the zone table counts them (every zone's cells).
long BasinCellCount(const RunValues& run) {
  double cells = 0.0;
  for (int z = 1; z <= run.zoneCount && z < static_cast<int>(run.zoneTable.size()); ++z)
    cells += run.zoneTable[static_cast<size_t>(z)].cellCount;
  return static_cast<long>(cells);
}
}  // namespace

int ModellApplication::run() {
  // Grid files are written on their own thread while the steps go on; it has written
  // every grid handed to it when run() returns, also when the run fails.
  GridOutputThread gridOutput(log);
  // The threads of the cell loops follow the basin's cells (the loops pass over the others)
  // and the machine's load.
  RunThreads threads(routingOnly ? 0L : BasinCellCount(modules.defaults->run));
  bool terminating = false;
  try {
    int pass = 0;
    bool inputRunsOut = false;  // an input has no record after this step's
    ModelDate flushed;  // the day of the last pass whose rows were written
    while (endFlag != 1) {
      gridOutput.RaiseFailure();  // a grid of the last step that could not be written
      // A run that is asked to stop shows no menu: nobody may be there to answer it.
      if (CtrlCState == 1 && TerminationSignal == 0) ShowCtrlCMenu();
      if (TerminationSignal != 0 && !terminating) {
        terminating = endingOnSignal = true;
        if (!routingOnly) EndWithNextInterval();  // routing alone just stops after its step
        *log << "WARNING: " << TerminationSignalName()
             << " received: the run ends after the next time step, with every buffer and grid written"
             << "[end-entry]";
      }
      // An input whose records end before the end date ends the run with this step, which
      // is then run as the last one: its grids of the end of the run and the end state
      // are written, dated at this step.
      if (!routingOnly && !terminating && !inputRunsOut && CtrlCState != 99) {
        for (int i = 1; i <= interpolatorCount; ++i)  // every file that runs out is named
          if (modules.interpolators[i]->InputRunsOutAfterThisStep()) inputRunsOut = true;
        if (inputRunsOut) EndWithNextInterval();
      }
      ++pass;
      threads.BeforeStep(gridOutput.Handed());
      if (routingOnly) {
        // The step of the end date (or the table's last row) is the last one.
        RunRoutingPass();
        const int end = modules.routing->IsEndOfPeriod();
        modules.routing->ReadNextRecord();
        Trace("abflussmodellklasse::ReadNextRecord");
        if (end || terminating || modules.routing->modeReadsPastEnd > 0 || modules.routing->GetFlowControl() == 0)
          break;
        if (NewDay(flushed, stepDate)) FlushTheDay();
        continue;
      }
      RunPass();
      if (seams.afterPass) seams.afterPass(*this, seams.afterPassContext);
      if (pass == seams.ctrlCAfterPass ||
          std::find(seams.moreCtrlCAfterPasses.begin(), seams.moreCtrlCAfterPasses.end(), pass) !=
              seams.moreCtrlCAfterPasses.end())
        std::raise(SIGINT);

      // End test: every interpolator reads its next record; the loop ends once all of them
      // have come to the end of their period (all are asked).
      for (int i = 1; i <= interpolatorCount; ++i) {
        modules.interpolators[i]->ReadNextRecord();
        Trace("meteointerpol::ReadNextRecord");
      }
      endFlag = 1;
      if (interpolatorCount == 0 || terminating) break;
      // The run ends once every interpolator has come to the end of its period, or with the
      // last step for which every input had a record: an input that ran out before the end
      // date has nothing for the next step, whatever the others still hold.
      bool ranOut = false;
      for (int i = 1; i <= interpolatorCount; ++i) {
        if (modules.interpolators[i]->IsEndOfPeriod() == 0) endFlag = 0;
        if (!modules.interpolators[i]->InputEndedEarly().empty()) ranOut = true;
      }
      if (ranOut) endFlag = 1;
      // Rows reach their files at least once per simulated day, so that a run killed
      // outright (SIGKILL, an out-of-memory kill) keeps all but the rows of its last day; the rows
      // of the last pass go with the end of the run.
      if (endFlag != 1 && NewDay(flushed, stepDate)) FlushTheDay();
    }
    gridOutput.Drain();
    gridOutput.RaiseFailure();
    if (CtrlCState != 99) ReportEarlyEnd();
    if (terminating)
      earlyEnd = "end of simulation reached early, at " + DateText(stepDate, kMessageDate) + ", on " +
                 TerminationSignalName() + " (planned end " + DateText(runValues.end, kMessageDate) + ")!";
  } catch (int code) {
    *log << "FATAL: Exception in Modellapplication::run() caught!" << "[end-entry]";
    if (code != 98) SaveBuffersAfterFailure();
    throw;
  } catch (const std::exception& e) {
    *log << "FATAL: " << e.what() << "[end-entry]";
    *log << "FATAL: Exception in Modellapplication::run() caught!" << "[end-entry]";
    SaveBuffersAfterFailure();
    throw 103;
  }
  return terminating ? kTerminatedCode : CtrlCState.load();
}


void ModellApplication::ReportEarlyEnd() {
  earlyEnd.clear();
  for (int i = 1; i <= interpolatorCount; ++i) {
    const meteointerpol& ip = *modules.interpolators[i];
    if (ip.InputEndedEarly().empty()) continue;
    const ModelDate& planned = runValues.end;
    *log << "ERROR: the input file " << ip.InputEndedEarly() << " of " << interpolatorNames[static_cast<size_t>(i)]
         << " ends before the planned end of the simulation: the run ends with the step of "
         << DateText(stepDate, kMessageDate) << " instead of " << DateText(planned, kMessageDate) << "[end-entry]";
    if (earlyEnd.empty())
      earlyEnd = "end of simulation reached early, at " + DateText(stepDate, kMessageDate) + " (planned end " +
                 DateText(planned, kMessageDate) + ")!";
  }
}

void ModellApplication::ExplainDateMismatch(int i) {
  auto& ip = modules.interpolators;
  ModelDate other;
  ip[i]->GetCurrentTime(other.minute, other.hour, other.day, other.month, other.year);
  *log << "FATAL: the step date " << DateText(stepDate, kMessageDate) << " comes from " << interpolatorNames[1]
       << " (file " << ip[1]->DateSourceFile() << "), but " << interpolatorNames[static_cast<size_t>(i)] << " (file "
       << ip[i]->DateSourceFile() << ") is at " << DateText(other, kMessageDate)
       << ": every meteorological input has to hold the same dates, one record per step";
  for (int k = 1; k <= interpolatorCount; ++k)
    if (!ip[k]->InputEndedEarly().empty())
      *log << "\nthe input file " << ip[k]->InputEndedEarly() << " of " << interpolatorNames[static_cast<size_t>(k)]
           << " has ended before the planned end of the simulation, while the others go on";
  *log << "[end-entry]";
}

void ModellApplication::SaveBuffersAfterFailure() {
  *log << "ERROR: the run failed; the buffered statistics and point rows of the steps done so far are written"
       << "[end-entry]";
  int ignored = 0;  // the failure that ends the run is the one reported
  FlushBuffers(ignored);
}
