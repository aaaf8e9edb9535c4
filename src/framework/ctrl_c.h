// SIGINT handling: the handler only records the request (an atomic flag) and writes its
// notice with write(2); the time loop shows the menu between passes. SIGTERM and SIGHUP
// are recorded the same way and end the run cleanly. A signal the program was started with
// set to "ignore" (`nohup`, a background job of a shell) stays ignored throughout: none of
// the functions here installs a handler or a default action for it.
#pragma once

#include <signal.h>

#include <atomic>

class ModellApplication;

// The application that is running; null between runs. Read by the SIGINT handler.
extern ModellApplication* CurrentApplication;

// Ctrl-C state shared with the handler: 0 nothing pending, 1 SIGINT received, 99 the
// run ends after the current interval.
extern std::atomic<int> CtrlCState;

// True while the modules of a run that did not end normally (a failure, or Ctrl-C choice
// 2 "cancel now without saving buffers") are given back: the writers of buffered rows
// then drop them instead of writing them. Main thread only.
extern bool DiscardBufferedOutput;

// True while the time loop writes the buffered rows of the day: the writers do not
// announce each file in the log. Main thread only.
extern bool RoutineFlush;

// SIGTERM and SIGHUP (a batch system, `timeout`, a container stop, a closed terminal): the
// handler only records the first such signal; the time loop then ends the run like Ctrl-C
// choice 1, after the next step with every buffer and grid written, no later control file
// is started, and the program exits with kTerminatedCode. A call that waits (the Ctrl-C
// menu's answer, a pipe) is interrupted by the signal, so the run ends whatever it waits on.
extern std::atomic<int> TerminationSignal;  // 0, or the number of the first such signal
constexpr int kTerminatedCode = 96;
extern "C" void TerminationHandler(int signum);
// Notes which of SIGINT, SIGTERM and SIGHUP the process was started with ignored; main calls
// it first. Without the call (the program run in-process by tests) none is.
void KeepSignalsIgnoredAtStart();
// Installs TerminationHandler for SIGTERM and SIGHUP (each not ignored at start), and ignores
// SIGPIPE.
void InstallTerminationHandlers();
// "SIGTERM", "SIGHUP" or "SIGINT" (one that came during a SignalAwareWait) for the recorded
// signal.
const char* TerminationSignalName();

// A wait of the program (a file it tries to open again, the list of a lock file that another
// run writes): while one lasts, a SIGINT is neither ignored (as while a file is open) nor
// fatal at once, but recorded as a termination signal (TerminationSignal = SIGINT), so that
// every wait ends within moments of SIGTERM, SIGHUP or SIGINT and the run ends through its
// failure path with kTerminatedCode, its lock files and staged files cleared. The action
// SIGINT had before is put back when the wait ends.
class SignalAwareWait {
 public:
  SignalAwareWait();
  ~SignalAwareWait();
  SignalAwareWait(const SignalAwareWait&) = delete;
  SignalAwareWait& operator=(const SignalAwareWait&) = delete;
  // Sleeps for milliseconds in short slices; false, at once, when the program is asked to end
  // (before or during the sleep).
  bool Sleep(int milliseconds) const;

 private:
  struct sigaction previous_ {};
};

extern "C" void CtrlCHandler(int signum);
// Installs CtrlCHandler for SIGINT.
void EnableCtrlCHandler();
// Restores the default action of SIGINT (the ignore it had at start, if so).
void DisableCtrlCHandler();
// Ignores SIGINT (file writers call it before writing, and EnableCtrlCHandler after).
void IgnoreCtrlC();
