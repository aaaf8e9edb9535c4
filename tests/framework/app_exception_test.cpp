// Failures that are not error codes (a library exception, a failed allocation) end a run
// like an error code: a FATAL line with the text, the method's FATAL line, and code 103.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "framework/app_test_support.h"

namespace {

class ThrowingClock : public ClockInterpolator {
 public:
  using ClockInterpolator::ClockInterpolator;
  void Interpolate(ModelDate) override { throw std::runtime_error("station table corrupt"); }
};

meteointerpol* MakeThrowingClock(const ModuleInputs& in, const std::string& name, int, int) {
  return new ThrowingClock(in, name, 1, 3);
}

meteointerpol* MakeNoMemory(const ModuleInputs&, const std::string&, int, int) { throw std::bad_alloc(); }

}  // namespace

// Memory that runs out while the run is built (a count no reader bounded) names the control
// file's section being read.
TEST(AppExceptions, MemoryExhaustedAtStartUpNamesTheSectionBeingRead) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  NextApplicationSeams().makeInterpolator = MakeNoMemory;
  CapturedLog log;
  int code = 0;
  try {
    MakeApplication(log.log(), basin.ControlFile());
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 103);
  EXPECT_NE(log.console().find("bad_alloc while the start-up read " + basin.ControlFile() + ", section ["),
            std::string::npos)
      << log.console();
}

TEST(AppExceptions, ALibraryExceptionInTheTimeLoopEndsWithCode103) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  NextApplicationSeams().makeInterpolator = MakeThrowingClock;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  try {
    app->run();
    FAIL() << "the run should have failed";
  } catch (int code) {
    EXPECT_EQ(code, 103);
  }
  const std::string console = log.console();
  const size_t text = console.find("station table corrupt\n");
  ASSERT_NE(text, std::string::npos);
  EXPECT_NE(console.find("Exception in Modellapplication::run() caught!", text), std::string::npos);
  app->ClearMemory();
}
