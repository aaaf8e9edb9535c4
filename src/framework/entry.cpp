#include "framework/entry.h"

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "framework/append_file.h"
#include "framework/build_info.h"
#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modappli.h"
#include "framework/new_file.h"
#include "framework/run_files.h"

namespace {

const char* const kUsage =
    "FATAL: \nusage: orvelvc[o]<32|64> <1st cntrl-file> [<2nd cntrl-file> ... [n-th cntrl-file]] "
    "[-diagfile:<diagnostics_file> [-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]] [-mode:routing]\n"
    "  -mode:routing routes the total runoff per subbasin that a former run wrote, without meteorology and soil "
    "model\n";

void WriteBanner(LogStream& log) {
  log << std::string(76, '-') << "[end-entry]";
  log << "Orvel-KTA (OpenMP) " << "[end-entry]";
  log << "64-bit Version on Linux " << "[end-entry]";
  log << "Version: " << VersionText() << "[end-entry]";
  log << "            distributed hydrological water balance model\n"
         "            grid based, with runoff generation after VEVURADA\n"
         "            contact: the model's development team\n"
      << std::string(75, '-') << "[end-entry]";
}

void WriteTopLevelFailure(LogStream& log, int code) {
  log << "FATAL: Execption " << code << " caught at top level!" << "[end-entry]";
  log << "FATAL: Program aborted with exit code " << code << "[end-entry]";
}

}  // namespace

int DiagLevelFromName(const std::string& value) {
  std::string up = value;
  for (char& c : up)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (up == "FATAL") return 0;
  if (up == "ERROR") return 1;
  if (up == "WARNING") return 2;
  if (up == "INFO") return 3;
  return 4;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine cl;
  // The option's position moves to i; one it had before stays an option. Given twice, it is
  // one value where both read alike (same says whether they do).
  auto take = [&](int& position, int i, const std::function<bool(const std::string&, const std::string&)>& same) {
    if (position != 0) {
      cl.earlierPositions.push_back(position);
      if (cl.twiceFirst == 0 && !same(argv[position], argv[i])) {
        cl.twiceFirst = position;
        cl.twiceLater = i;
      }
    }
    position = i;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (arg.compare(0, 11, "-diaglevel:") == 0) {
      cl.diagLevel = DiagLevelFromName(arg.substr(11));
      // The level read counts: "-diaglevel:INFO" and "-diaglevel:info" are one value.
      take(cl.levelOptionPosition, i, [](const std::string& a, const std::string& b) {
        return DiagLevelFromName(a.substr(11)) == DiagLevelFromName(b.substr(11));
      });
    } else if (arg.compare(0, 10, "-diagfile:") == 0) {
      cl.diagFile = arg.substr(10);
      take(cl.fileOptionPosition, i, std::equal_to<std::string>());
    } else if (arg == kRoutingModeOption) {
      cl.routingOnly = true;
      take(cl.modeOptionPosition, i, std::equal_to<std::string>());
    }
  }
  return cl;
}

int ControlFileCount(int argc, const CommandLine& cl) {
  int count = 0;
  for (int i = 1; i < argc; ++i)
    if (!cl.IsOption(i)) ++count;
  return count;
}

std::string VersionText() {
  std::string v = std::string("Vevurada 11.00.10d, last change: December, 11, 2025 12:00 compiled at ") +
                  BuildDate() + ", " + BuildTime();
  std::string out;
  for (char c : v)
    if (c != '$') out += c;
  return out;
}

int ExitStatus(int code) {
  const int status = code & 0xFF;
  if (code != 0 && (status == 0 || status >= 126)) return kReplacedExitStatus;
  return status;
}

namespace {

// The diagnostics file is opened before the control file is read, so before the run knows
// its inputs: an existing file that holds no diagnostics may be one of them and is never
// emptied. Anything but a regular file or a character device (/dev/null: thrown away) is
// refused unopened (a FIFO would wait for a reader for ever). False after the FATAL line on
// the console.
bool DiagnosticsFileIsFree(const std::string& name, std::ostream& console) {
  if (name.empty()) return true;
  const std::string kind = NotARegularFile(name);
  if (!kind.empty() && !OutputName(name).IntoDevice())
    console << "FATAL: -diagfile:" << name << " is " << kind
            << ", not a regular file: name a regular file as diagnostics file\n";
  else if (LogStream::HoldsNoDiagnostics(name))
    console << "FATAL: -diagfile:" << name
            << " names an existing file that holds no diagnostics (it may be an input of the run); the run never "
               "writes over its input: name another diagnostics file\n";
  else
    return true;
  console << "FATAL: Program aborted with exit code 26\n";
  return false;
}

// The ERROR that names the control files of the command line from position first on, which
// the program does not start for the signal it received.
void SayNotStarted(LogStream& log, int argc, char** argv, const CommandLine& cl, int first) {
  std::vector<std::string> names;
  for (int i = first; i < argc; ++i)
    if (!cl.IsOption(i)) names.push_back(argv[i] ? argv[i] : "");
  if (names.empty()) return;
  std::string list;
  for (size_t k = 0; k < names.size(); ++k)
    list += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
  log << "ERROR: " << TerminationSignalName() << " received: the run" << (names.size() == 1 ? " of " : "s of ") << list
      << (names.size() == 1 ? " is" : " are") << " not started" << "[end-entry]";
}

// An argument that begins with "-" and names no file is an option written otherwise
// ("-diagfile output/x.xml", "-diaglevel=INFO"). Taken for a control file it would end the
// program only after the runs before it: it is refused before any run, with the form meant.
// So is an option given twice with two values (which one is meant?), named with both.
void RefuseUnknownOptions(LogStream& log, int argc, char** argv, const CommandLine& cl) {
  if (cl.twiceFirst != 0) {
    const std::string first = argv[cl.twiceFirst], later = argv[cl.twiceLater];
    log << "FATAL: " << first.substr(0, first.find(':') + 1) << " is given twice on the command line, as " << first
        << " and as " << later << ": give it once; no control file is run" << "[end-entry]";
    log << kUsage << "[end-entry]";
    throw 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    struct stat st {};
    if (cl.IsOption(i) || arg.size() < 2 || arg[0] != '-' || ::stat(arg.c_str(), &st) == 0) continue;
    std::string fix;
    for (const char* const option : {"-diagfile", "-diaglevel", "-mode"}) {
      const std::string name = option;
      if (arg.compare(0, name.size(), name) != 0) continue;
      std::string value = arg.substr(std::min(arg.size(), name.size() + 1));
      if (arg.size() == name.size() && i + 1 < argc && argv[i + 1] && !cl.IsOption(i + 1)) value = argv[i + 1];
      if (arg.size() > name.size() && arg[name.size()] != '=') continue;
      fix = "; write " + name + ":" + (value.empty() ? "<value>" : value);
    }
    log << "FATAL: " << arg << " on the command line is no option and names no file: an option is written with "
        << "\":\" before its value (-diagfile:<diagnostics_file>, -diaglevel:<level>, -mode:routing)" << fix
        << "; no control file is run" << "[end-entry]";
    log << kUsage << "[end-entry]";
    throw 2;
  }
}

}  // namespace

int RunOrvel(int argc, char** argv, std::ostream& console) {
  CommandLine cl = ParseCommandLine(argc, argv);
  if (!DiagnosticsFileIsFree(cl.diagFile, console)) return 26;
  std::unique_ptr<LogStream> log;
  try {
    log = std::make_unique<LogStream>(console, cl.diagFile, cl.diagLevel);
  } catch (int code) {
    // The diagnostics file could not be opened at all: there is no log stream to write to.
    std::cerr << "FATAL: Execption " << code << " caught at top level!\n"
              << "FATAL: Program aborted with exit code " << code << "\n";
    return code;
  }
  CurrentApplication = nullptr;
  TerminationSignal = 0;
  RunFiles::Current().ForgetEarlierRuns();
  InstallTerminationHandlers();
  int exitCode = 0;
  ModellApplication* app = nullptr;
  const char* running = nullptr;  // the control file of the run under way
  int runningAt = 0;              // its position on the command line
  const char* lastRun = nullptr;  // the control file of the last run that ended
  bool leftOut = false;  // a control file was not started: the program was asked to stop
  try {
    try {
      WriteBanner(*log);
      // A command line of options alone names no run: that is the same mistake as an
      // empty one.
      if (ControlFileCount(argc, cl) == 0) {
        *log << kUsage << "[end-entry]";
        throw 2;
      }
      RefuseUnknownOptions(*log, argc, argv, cl);
      for (int i = 1; i < argc; ++i) {
        if (cl.IsOption(i)) continue;
        if (TerminationSignal != 0) {  // asked to stop: no further control file
          SayNotStarted(*log, argc, argv, cl, i);
          leftOut = true;
          break;
        }
        running = argv[i];
        runningAt = i;
        app = new ModellApplication(log.get(), argc, argv, i);
        exitCode = 0;
        CtrlCState = 0;
        CurrentApplication = app;
        EnableCtrlCHandler();
        exitCode = app->run();
        app->ClearMemory();
        // A signal that came once the run had decided to write its end state (not one its
        // time loop ended on, nor one before, which ClearMemory ends the run on) finds the
        // run whole: nothing of it is to be repeated.
        if (TerminationSignal != 0 && exitCode != kTerminatedCode)
          *log << "WARNING: " << TerminationSignalName() << " received after the last step of the run of " << running
               << ", while its end was written: every step and every output of the run is written, and it ends as "
                  "a success" << "[end-entry]";
        lastRun = running;
        CurrentApplication = nullptr;
        delete app;
        app = nullptr;
        running = nullptr;
      }
      if (leftOut) exitCode = kTerminatedCode;
    } catch (const std::exception& e) {
      *log << "FATAL: " << e.what() << "[end-entry]";
      throw 103;
    } catch (int) {
      throw;
    } catch (...) {
      *log << "FATAL: unknown exception" << "[end-entry]";
      throw 103;
    }
  } catch (int code) {
    // The application that failed gets no end-of-run output (no ClearMemory); its memory
    // is still given back, so that the program can be run in-process by tests.
    if (running && app && app->endStateWritten)
      *log << "ERROR: the run of " << running << " failed after its end state was written: the state files it "
           << "wrote are those of its last step, and a warm start goes on from there" << "[end-entry]";
    else if (running)
      *log << "ERROR: the run of " << running << " failed and left no end state"
           << (app ? app->UnwrittenStorageFile() : std::string()) << "[end-entry]";
    // A signal during a run's start-up or its end writes: the later control files are not
    // started either.
    if (running && TerminationSignal != 0) SayNotStarted(*log, argc, argv, cl, runningAt + 1);
    CurrentApplication = nullptr;
    delete app;
    DisableCtrlCHandler();
    WriteTopLevelFailure(*log, code);
    log.reset();
    return code;
  }
  *log << "exitcode " << exitCode << "[end-entry]";
  *log << "o.k.\n\nthe end." << "[end-entry]";
  // A diagnostics file that lost messages (a full disk) is no success either; what the runs
  // wrote stands, and the console says whether the end state of the last one is written.
  const bool closed = log->Close();
  log.reset();
  if (closed || exitCode != 0) return exitCode;
  if (lastRun)
    console << "ERROR: the diagnostics file could not be written to its end; the run of " << lastRun
            << " ended whole: its end state is written" << std::endl;
  console << "FATAL: Program aborted with exit code " << kFileNotWritten << std::endl;
  return kFileNotWritten;
}
