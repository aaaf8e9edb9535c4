#include "framework/ctrl_c.h"

#include <csignal>

#include <algorithm>
#include <chrono>
#include <thread>

#include "framework/descriptor_stream.h"

ModellApplication* CurrentApplication = nullptr;
std::atomic<int> CtrlCState{0};
bool DiscardBufferedOutput = false;
bool RoutineFlush = false;
std::atomic<int> TerminationSignal{0};

static_assert(std::atomic<int>::is_always_lock_free, "the Ctrl-C state must be usable in a signal handler");

namespace {

// The signals the program was started with set to "ignore" (nohup, a background job of a
// shell): they stay ignored. Written once by main before any thread starts.
bool sigintIgnoredAtStart = false;
bool sigtermIgnoredAtStart = false;
bool sighupIgnoredAtStart = false;

bool IgnoredNow(int signum) {
  struct sigaction now {};
  return sigaction(signum, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

}  // namespace

void KeepSignalsIgnoredAtStart() {
  sigintIgnoredAtStart = IgnoredNow(SIGINT);
  sigtermIgnoredAtStart = IgnoredNow(SIGTERM);
  sighupIgnoredAtStart = IgnoredNow(SIGHUP);
}

extern "C" void CtrlCHandler(int signum) {
  std::signal(SIGINT, SIG_IGN);
  if (CurrentApplication == nullptr) {
    // Between two runs there is no menu to show: behave as Ctrl-C normally does.
    std::signal(SIGINT, SIG_DFL);
    std::raise(signum);
    return;
  }
  int expected = 0;
  if (!CtrlCState.compare_exchange_strong(expected, 1)) return;
  static const char kNotice[] = "\nCntr-C pressed! please wait...\n\n";
  WriteNoticeWithoutWaiting(kNotice, sizeof kNotice - 1);
}

void EnableCtrlCHandler() { std::signal(SIGINT, sigintIgnoredAtStart ? SIG_IGN : CtrlCHandler); }
void DisableCtrlCHandler() { std::signal(SIGINT, sigintIgnoredAtStart ? SIG_IGN : SIG_DFL); }
void IgnoreCtrlC() { std::signal(SIGINT, SIG_IGN); }

extern "C" void TerminationHandler(int signum) {
  int none = 0;
  if (!TerminationSignal.compare_exchange_strong(none, signum)) return;  // one notice
  static const char kTerm[] =
      "\nSIGTERM received: the run ends after the next time step, writing every buffer and grid...\n\n";
  static const char kHup[] =
      "\nSIGHUP received: the run ends after the next time step, writing every buffer and grid...\n\n";
  // Not waiting: the handler runs on the thread that a console nobody reads may hold up.
  WriteNoticeWithoutWaiting(signum == SIGHUP ? kHup : kTerm, (signum == SIGHUP ? sizeof kHup : sizeof kTerm) - 1);
}

void InstallTerminationHandlers() {
  struct sigaction action {};
  action.sa_handler = TerminationHandler;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a call that can wait for ever (the menu's answer from a terminal, an
  // open or a write that waits for the other end of a pipe) returns, so the run reaches its
  // next step or its failure path instead of waiting on. Reads and writes of regular files
  // are not interrupted by a signal.
  action.sa_flags = 0;
  if (!sigtermIgnoredAtStart) sigaction(SIGTERM, &action, nullptr);
  if (!sighupIgnoredAtStart) sigaction(SIGHUP, &action, nullptr);
  // A console whose reader went away (`| head`) fails its writes (EPIPE) instead of killing
  // the run: the run goes on without its console (framework/descriptor_stream.h).
  std::signal(SIGPIPE, SIG_IGN);
}

const char* TerminationSignalName() {
  const int signum = TerminationSignal;
  return signum == SIGHUP ? "SIGHUP" : signum == SIGINT ? "SIGINT" : "SIGTERM";
}

extern "C" void WaitInterruptHandler(int) {
  int none = 0;
  TerminationSignal.compare_exchange_strong(none, SIGINT);
}

SignalAwareWait::SignalAwareWait() {
  if (sigintIgnoredAtStart) {  // stays ignored: the wait is ended by SIGTERM or SIGHUP alone
    sigaction(SIGINT, nullptr, &previous_);
    return;
  }
  struct sigaction action {};
  action.sa_handler = WaitInterruptHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a call that waits returns
  sigaction(SIGINT, &action, &previous_);
}

SignalAwareWait::~SignalAwareWait() { sigaction(SIGINT, &previous_, nullptr); }

bool SignalAwareWait::Sleep(int milliseconds) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (Clock::time_point now = Clock::now(); TerminationSignal == 0; now = Clock::now()) {
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(5)));
  }
  return false;
}
