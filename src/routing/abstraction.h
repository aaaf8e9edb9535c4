// One abstraction (an "AL" entry of a routing description): takes water out of the outlet
// discharge of its routing object, or out of the object's reservoir, and sends it to an
// inflow (ZL "intern") of another sub-basin or out of the model into a file.
//
// Modes (the word after the entry's "="):
//   3 intern                            share of the flow above a residual flow, to a ZL
//   4 extern                            the same, leaving the model (output file)
//   5 from_file                         a column of a dated input file (m3/s, output file)
//   6 intern_with_rule                  rule table of the discharge, to a ZL
//   7 extern_with_rule                  the same, leaving the model (output file)
//   8 intern_with_rule_from_reservoir   rule table of the reservoir volume, to a ZL
//   9 intern_from_file_from_reservoir   input file replacing the reservoir's outflow or
//                                       the amounts of listed mode-8 abstractions
//
// Failures write a "FATAL: " message ending in "[end-entry]" and throw the code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "routing/reservoir_rules.h"

class LogStream;
class TextCursor;
class TimeSeriesTable;

enum AbstractionMode : int {
  kAbstractIntern = 3,
  kAbstractExtern = 4,
  kAbstractFromFile = 5,
  kAbstractInternRule = 6,
  kAbstractExternRule = 7,
  kAbstractReservoirRule = 8,
  kAbstractReservoirFile = 9,
};

// Missing values of input files.
constexpr double kMissingValueLimit = -9998.0;

class AL_class {
 public:
  AL_class();
  ~AL_class();
  AL_class(const AL_class&) = delete;
  AL_class& operator=(const AL_class&) = delete;

  // The routing object's values: area (km²) = numerator / divisor, dt in minutes, the
  // time offset in hours, and the hours from a stamp to its step's end (min_to_int_end / 60).
  void SetParameters(LogStream* log, int tracers, const std::vector<std::string>& tracerNames,
                     const std::string& outputDirectory, double areaNumerator, double areaDivisor, double dt,
                     double timeOffset, double stampToStepEndHours);
  // Reads the mode and its values from the entry text (after the target code); returns
  // the mode. start: the first step of the run (the input files are positioned there).
  int ReadParameters(const std::string& entry, int number, const StepDate& start);
  // "[abstraction_rule_abstraction_<number>]" (modes 6 to 8).
  void ReadAbstractionRules(TextCursor& controlFile);
  // Links an internal abstraction to the target's values: the zone whose step value (mm)
  // the cap looks at and the area (km²) it refers to.
  void SetRuleParameters(int targetIndex, int valueIndex, double targetArea);

  // Amount of the step (mm) added to result; available: outlet discharge (mm per step).
  // zoneStep: the step values of the zones (mm), for the cap.
  void ApplyRule(const double* zoneStep, double& result, double available, const StepDate& date);
  // Rule amount in mm per step for the discharge x (m3/s), modes 6 and 7.
  double TimeStep(double x, const double* zoneStep, const StepDate& date);
  // Rule amount in m3/s for the reservoir volume x, mode 8, gated by weekday and hour. The
  // target's TargetCap would cap it by per-zone inflow records that routing does not keep:
  // a reservoir's rule abstraction takes its rule amount whatever its target carries.
  double ComputeAbstraction(double x, const StepDate& date);

  // Mode 9: the prescribed value of the current file row (m3/s); false when the row's
  // value is missing. The row's date must be the step's (FATAL 38 otherwise).
  bool FileValue(const StepDate& date, double& value);
  void AdvanceFileRow();

  // Mode 9: turns the written codes into abstraction numbers (0: the reservoir's outflow,
  // k: the k-th abstraction of list, found by its code); unknown codes are dropped with a
  // WARNING.
  static void ResolveAbstractionCodes(std::vector<AL_class*>& list, LogStream* log);

  // The routing object's conversions: exact inverses of each other.
  double DischargeToDepth(double q, double area, double dtMinutes) const { return q * 0.06 * dtMinutes / area; }
  double DepthToDischarge(double x, double area, double dtMinutes) const { return x * area / (0.06 * dtMinutes); }
  static std::string MakeFilePath(const std::string& directory, const std::string& name);

  bool HasOutputFile() const {
    return mode == kAbstractExtern || mode == kAbstractFromFile || mode == kAbstractExternRule;
  }
  void StoreOutputRow(const StepDate& date, const std::vector<double>& values);
  void FlushToDisk(int flag);

  // --- state -----------------------------------------------------------------------------
  int number = 0;   // the entry's number
  int code = 0;     // target code (the ZL inflow number for internal modes)
  int mode = 0;
  double R = 0.0, f = 0.0, M = 0.0;  // mm per step, share, mm per step
  int column = 0;                    // 1-based column of the input file
  std::vector<int> replacedCodes;    // mode 9, as written
  std::vector<int> replaced;         // mode 9, resolved: 0 the reservoir's outflow, k abstraction k
  double amount = 0.0;               // mode 8: the amount of the step, m3/s
  double area = 0.0;                 // km²
  double dt = 60.0;
  double timeOffset = 0.0;
  double stampToStepEndHours = 0.0;
  OperatingRules rules;
  int targetIndex = -1, valueIndex = 0;
  double targetArea = 0.0;
  std::string outputFile, inputFile;
  std::vector<std::vector<double>> rows;  // buffered output rows
  size_t rowCapacity = 1;

 private:
  double RuleValue(double x, const RuleChoice& choice) const;
  // Advances the input table; a row that cannot be read is FATAL 38.
  void NextFileRow();
  double Cap(double r, int rule, const double* zoneStep) const;

  LogStream* log_ = nullptr;
  int tracers_ = 0;
  std::vector<std::string> tracerNames_;
  std::string outputDirectory_;
  std::unique_ptr<TimeSeriesTable> table_;
  StepDate date_;
};
