// Tracer settings of [substance_transport]: the tracer species carried with the water.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/tracer_grids.h"  // TracerRecord

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
  // The items of tracer i's line after its name, found anywhere in the line.
  void ParseLine(int i, const std::string& line, TracerRecord& t);
  [[noreturn]] void Fail(const std::string& message);  // message, then code 56
};

// The key of a tracer name: its first three characters in lower case, padded with "_".
std::string TracerKey(const std::string& name);
