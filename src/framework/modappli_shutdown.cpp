// The end of a run: the final flush of every statistics buffer, the end-of-run output and
// release of every module in the order that lays out the storage file, and the
// destruction of the modules.
//
// The shutdown goes on past a failing step, so that one file that cannot be written does
// not cost the others (the statistics, the storage file of the warm start); every failure
// is logged where it happens and the first code is raised at the end. The success line
// and "o.k." are written only once every buffer has reached its file.
#include <exception>

#include "framework/append_file.h"
#include "framework/ctrl_c.h"
#include "assimilation/dataassim.h"
#include "framework/logstream.h"
#include "framework/modappli.h"
#include "framework/point_output.h"
#include "grids/grid_registry.h"
#include "init/tracer_ini.h"
#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "meteo/superposition.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/radiation/expokorr.h"
#include "processes/soil/infilt.h"
#include "processes/interception/interzep.h"
#include "processes/snow/snowmod.h"
#include "routing/abfluss.h"

template <typename F>
void ModellApplication::Attempt(int& firstError, F&& f, bool ending) {
  int code = 0;
  try {
    f();
  } catch (int c) {
    code = c;
  } catch (const std::exception& e) {
    *log << "ERROR: " << e.what() << "[end-entry]";
    code = 103;
  }
  if (code != 0) {
    if (ending)
      *log << "ERROR: failure " << code << " while ending the run; the remaining modules are still released"
           << "[end-entry]";
    if (firstError == 0) firstError = code;
  }
}

namespace {

template <typename T>
void Destroy(T*& module) {
  delete module;
  module = nullptr;
}

}  // namespace

void ModellApplication::FlushBuffers(int& firstError, bool ending) {
  ModuleTable& m = modules;
  auto& ip = m.interpolators;
  for (int i = 1; i <= interpolatorCount; ++i)
    if (ip[i])
      Attempt(firstError, [&] {
        Trace("meteointerpol::WriteStatistics");
        ip[i]->WriteStatistics();
      }, ending);
  if (m.evapotranspiration)
    Attempt(firstError, [&] {
      Trace("verdunstungsmodellklasse::WriteStatistics");
      m.evapotranspiration->WriteStatistics();
    }, ending);
  if (m.snow)
    Attempt(firstError, [&] {
      Trace("schneemodellklasse::WriteStatistics");
      m.snow->WriteStatistics();
    }, ending);
  if (m.interception)
    Attempt(firstError, [&] {
      Trace("interzeptionsmodellklasse::WriteStatistics");
      m.interception->WriteStatistics();
    }, ending);
  if (m.soil)
    Attempt(firstError, [&] {
      Trace("infiltrationsmodellklasse::WriteStatistics");
      m.soil->WriteStatistics();
    }, ending);
  if (m.routing)
    Attempt(firstError, [&] {
      Trace("abflussmodellklasse::WriteStatistics");
      m.routing->WriteStatistics();
    }, ending);
  if (m.superposition)
    Attempt(firstError, [&] {
      Trace("RegionalSuperposition::WriteStatistics");
      m.superposition->WriteStatistics();
    }, ending);
  if (m.specialOutput)
    Attempt(firstError, [&] {
      Trace("SpecialOutputClass::FlushAll");
      m.specialOutput->FlushAll();
    }, ending);
  if (m.assimilation)
    Attempt(firstError, [&] {
      Trace("data_assimilation::WriteStatistics");
      m.assimilation->WriteStatistics();
    }, ending);
  if (m.defaults)
    Attempt(firstError, [&] {
      Trace("defaultini::WriteZonalStatistics");
      m.defaults->WriteZonalStatistics();
    }, ending);
  // A module stops its flush at its first file that fails: the rows of its other files
  // are written here.
  Attempt(firstError, [] {
    if (const int code = zonalstatistic::WriteEveryBuffer()) throw code;
  }, ending);
}

void ModellApplication::ClearMemory() {
  ModuleTable& m = modules;
  auto& ip = m.interpolators;
  int firstError = 0;

  *log << "free memory ..." << "[end-entry]";
  FlushBuffers(firstError);

  // Interpolators from n down to 1.
  for (int i = interpolatorCount; i >= 1; --i) {
    if (ip[i])
      Attempt(firstError, [&] {
        Trace("meteointerpol::DeleteModule");
        ip[i]->DeleteModule();
      });
    interpolatorNames[static_cast<size_t>(i)].clear();
  }
  interpolatorNames.clear();
  *log << "meteointerpolators are freed..." << "[end-entry]";

  if (m.snow)
    Attempt(firstError, [&] {
      Trace("schneemodellklasse::DeleteTracers");
      m.snow->DeleteTracers();
    });
  if (m.interception)
    Attempt(firstError, [&] {
      Trace("interzeptionsmodellklasse::DeleteTracers");
      m.interception->DeleteTracers();
    });
  if (m.soil)
    Attempt(firstError, [&] {
      Trace("infiltrationsmodellklasse::DeleteTracers");
      m.soil->DeleteTracers();
    });

  // End-of-run output and release: routing first, as it starts the storage file.
  auto release = [&](modelobject* module, const char* call) {
    if (module)
      Attempt(firstError, [&] {
        Trace(call);
        module->DeleteModule();
      });
  };
  release(m.routing, "abflussmodellklasse::DeleteModule");
  release(m.soil, "infiltrationsmodellklasse::DeleteModule");
  release(m.interception, "interzeptionsmodellklasse::DeleteModule");
  release(m.snow, "schneemodellklasse::DeleteModule");
  release(m.evapotranspiration, "verdunstungsmodellklasse::DeleteModule");
  release(m.radiationCorrection, "expokorrklasse::DeleteModule");
  release(m.superposition, "RegionalSuperposition::DeleteModule");
  release(m.precipitationCorrection, "precicorrclass::DeleteModule");
  release(m.tracers, "tracer_ini_class::DeleteModule");
  release(m.specialOutput, "SpecialOutputClass::DeleteModule");
  release(m.assimilation, "data_assimilation::DeleteModule");
  release(m.defaults, "defaultini::DeleteModule");
  // A release that could not raise its failure noted it.
  if (const int code = TakeUnraisedWriteFailure())
    if (firstError == 0) firstError = code;
  // The end state replaces the one the run started from only when every file of it is
  // written, so that a run that failed there can be repeated from its start; a SIGTERM or
  // SIGHUP that comes while the end is written (not one the time loop ended on) stops the
  // run before anything is replaced. The next run starts from this state: a storage file
  // that could not be written is no success, or that run would start from the earlier state
  // without a word.
  if (TerminationSignal != 0 && !endingOnSignal) {
    storage.Abandon(log, std::string(TerminationSignalName()) + " received while the end of the run was written");
    if (firstError == 0) firstError = kTerminatedCode;
  } else if (storage.Commit(log, &stepDate, seams.afterEndStateMove) != 0) {
    if (firstError == 0) firstError = kStorageWriteFailed;
    endStateWritten = storage.Moved();  // all but the removal of its marker
  } else {
    endStateWritten = true;
  }

  registry.reset();
  ForgetFilesMade();
  controlFileName.clear();
  workingControlFileName.clear();
  if (outputListCount > 0) outputList.clear();
  outputListCount = 0;

  // Another program that removed a lock file let other runs in: said, though nothing of
  // this run is known to be lost.
  hold.WarnOfLostLockFiles();
  // The diagnostics file that the forecasting system reads after the run lost messages.
  if (log->LostMessages() && firstError == 0) firstError = kFileNotWritten;
  if (firstError == 0) {
    *log << (earlyEnd.empty() ? std::string("end of simulation reached successfully!") : earlyEnd) << "[end-entry]";
    *log << "o.k." << "[end-entry]";
  }
  *log << "now removing modules...";
  for (int i = interpolatorCount; i >= 1; --i) Destroy(ip[static_cast<size_t>(i)]);
  ip.clear();
  interpolatorCount = 0;
  Destroy(m.tracers);
  Destroy(m.routing);
  Destroy(m.soil);
  Destroy(m.interception);
  Destroy(m.snow);
  Destroy(m.evapotranspiration);
  Destroy(m.radiationCorrection);
  Destroy(m.superposition);
  Destroy(m.precipitationCorrection);
  Destroy(m.specialOutput);
  Destroy(m.assimilation);
  Destroy(m.defaults);
  scratch.reset();
  initComplete = 0;
  if (const int code = TakeUnraisedWriteFailure())
    if (firstError == 0) firstError = code;
  *log << (firstError == 0 ? "o.k.\n\nthe end." : "") << "[end-entry]";

  if (firstError != 0) {
    *log << "FATAL: Exception in Modellapplication::ClearMemory() caught!" << "[end-entry]";
    throw firstError;
  }
}
