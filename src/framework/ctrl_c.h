// SIGINT handling: the handler only records the request (an atomic flag) and writes its
// notice with write(2); the time loop shows the menu between passes.
#pragma once

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

extern "C" void CtrlCHandler(int signum);
// Installs CtrlCHandler for SIGINT.
void EnableCtrlCHandler();
// Restores the default action of SIGINT.
void DisableCtrlCHandler();
// Ignores SIGINT (file writers call it before writing, and EnableCtrlCHandler after).
void IgnoreCtrlC();
