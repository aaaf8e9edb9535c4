// The application object: owns one model run (one control file), its grid registry,
// statistics table, the start-up object and every module.
#pragma once

#include "framework/memory_handling.h"

class LogStream;

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

  int initComplete = 0;
};
