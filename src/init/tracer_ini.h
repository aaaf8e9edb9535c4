// Tracer settings of [substance_transport]: the tracer species carried with the water.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"

// One tracer species.
struct TracerRecord {
  std::string key;  // first three characters of the name, lower case, padded with "_"
  int radioactive = 0;
  int evaporating = 0;
  double minConc = 0.0;
  double maxConc = 0.0;
  double halfTime = -9999.0;  // days
  double gwini = 0.0;
  double soilini = 0.0;
  double decayFactor = 0.0;  // filled by the modules for their time step
  std::string path, statext, gridext;
  int statcode = 0;
  int gridcode = 0;
};

constexpr int kMaxTracers = 9;

class tracer_ini_class : public modelobject {
 public:
  // Reads the section; count and table (1-based, null without tracers) go to the caller.
  // Failures are returned through error: an integer code, 103 for anything else.
  tracer_ini_class(int& error, LogStream* log, const std::string& controlFileName, int& count,
                   TracerRecord*& table, const OutputSettings& settings);
  ~tracer_ini_class() override;
  void DeleteModule() override;

  int count = 0;
  std::vector<TracerRecord> tracers;  // 0..count, entry 0 unused

 private:
  void Read();
};

// The key of a tracer name: its first three characters in lower case, padded with "_".
std::string TracerKey(const std::string& name);
