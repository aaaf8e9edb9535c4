// Special output: point values of any registered grid, written to text files every step
// ("[special_output]", optional: without it the module is switched off).
#pragma once

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

class SpecialOutputClass : public teilmodellklasse {
 public:
  // Failures are returned through error (0 = success).
  SpecialOutputClass(int& error, const ModuleInputs& in, int intParam);
  ~SpecialOutputClass() override;

  // One row per file for the current step.
  virtual void CollectValues(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year);
  // Writes the buffered rows of every file.
  virtual void FlushAll();
  // Releases every file (each writes its remaining rows first).
  void DeleteModule() override;

  std::string outputDirectory;
};
