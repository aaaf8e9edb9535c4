// Tracers carried with the water: one species of [substance_transport] as the tracer
// settings read it, and what a process module keeps per species (its concentration grids
// and statistics writer). The modules' operations are in tracer_grids.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/zonalstatistic.h"

// One tracer species (table entries 1..count; entry 0 holds no tracer).
struct TracerRecord {
  std::string key;  // first three characters of the name, lower case, padded with "_"
  int radioactive = 0;
  int evaporating = 0;
  double minConc = 0.0;
  double maxConc = 0.0;
  double halfTime = -9999.0;  // days; -9999 for a tracer that does not decay
  double gwini = 0.0;
  double soilini = 0.0;
  double decayFactor = 0.0;  // per step; written by each module for its own time step
  std::string path, statext, gridext;
  int statcode = 0;
  int gridcode = 0;
};

// A module's own state for one tracer.
struct ModuleTracer {
  std::vector<ZoneTableEntry> zones;  // copy of the module's zone table, sums 0
  std::unique_ptr<zonalstatistic> statistics;
  std::string statisticsFileName;
  std::string gridFileName;
  MatrixOwner storage;  // stored concentration (registered)
  MatrixOwner flux;     // concentration in the outflow (registered)
  int storagePosition = 0;
  int fluxPosition = 0;
};

// The fraction of a tracer with the given half-life (days) left after one step of the
// given length (minutes).
double TracerDecayFactor(double intervalMinutes, double halfTimeDays);

// "path key module.ext" with at most 3 characters of the key and the extension and 5 of
// the module name: ./out/ chl snow_model grd gives ./out/chlsnow_.grd.
std::string TracerFileName(const std::string& path, const std::string& key, const std::string& moduleName,
                           const std::string& extension);
