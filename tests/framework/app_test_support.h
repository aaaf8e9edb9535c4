// Shared pieces of the application tests: a copy of the example basin in a temporary
// folder (with edits of its control file), a stand-in interpolator that only keeps a clock,
// and a guard that resets the application seams.
#pragma once

#include <csignal>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/ctrl_c.h"
#include "framework/modappli.h"
#include "meteo/meteoint.h"
#include "support/test_support.h"

// The example basin copied into a temporary folder.
class BasinCopy {
 public:
  BasinCopy();
  ~BasinCopy();
  BasinCopy(const BasinCopy&) = delete;
  BasinCopy& operator=(const BasinCopy&) = delete;
  // Replaces the first occurrence of from by to in the control file (fails the test when
  // from does not occur).
  void Edit(const std::string& from, const std::string& to);
  std::string ControlFile() const { return dir_.file("basin.ctl"); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::unique_ptr<WorkingDirectory> here_;  // the copy is the working folder
};

// Hourly clock of one interpolator: starts at hour startHour of 1 January 1990 and reaches
// its end at endHour of the same day. Everything else does nothing.
class ClockInterpolator : public meteointerpol {
 public:
  ClockInterpolator(const ModuleInputs& in, const std::string& name, int startHour, int endHour);
  void GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month, int64_t& year) const override;
  void ComputeStationRegression(int) override {}
  void Interpolate(ModelDate) override {}
  void WriteResultGrid() override {}
  void ReadNextRecord() override { ++now.hour; }
  int IsEndOfPeriod() const override { return now.Key() >= endDateKey ? 1 : 0; }
  void SetEndDateToCurrent() override { SetEndDate(now.year, now.month, now.day, now.hour, now.minute); }
  void WriteStatistics() override {}
  void DeleteModule() override;

  ModelDate now;
  int failOnDelete = 0;  // error code raised by DeleteModule (0: none)
};

// What the next application's interpolators look like.
struct ClockPlan {
  int count = 0;
  int startHour[4] = {1, 1, 1, 1};
  int endHour[4] = {3, 3, 3, 3};
  int method[4] = {0, 0, 0, 0};
  int failOnDelete[4] = {0, 0, 0, 0};
  bool zones = false;  // hand the modules a zone code map, so that they read their sections
};
ClockPlan& NextClockPlan();

// Installs the seams for one application and resets everything afterwards (seams, Ctrl-C
// state, the SIGINT action).
class AppSeams {
 public:
  AppSeams();
  ~AppSeams();
  ApplicationSeams& seams() { return NextApplicationSeams(); }
  std::vector<std::string> calls;
  std::istringstream answers;
};

// Builds an application for the control file.
std::unique_ptr<ModellApplication> MakeApplication(LogStream& log, const std::string& controlFile);

// Runs code and returns the integer it throws (0 when it throws nothing).
template <typename F>
int ThrownCode(F&& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

// Number of times text occurs in s.
int Occurrences(const std::string& s, const std::string& text);
