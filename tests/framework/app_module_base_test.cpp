// The process-module base: the two opening values of a module section, the checks on the
// time interval, optional sections, the progress line and the small numeric helpers.
#include <gtest/gtest.h>

#include <functional>

#include "framework/teilmod.h"
#include "support/test_support.h"

namespace {

struct ModuleFixture {
  TempDir dir;
  CapturedLog log;
  int zoneCodes[2] = {0, 1};
  int outputList[3] = {0, 3, 7};
  ModuleInputs in;

  explicit ModuleFixture(const std::string& controlText, double minToIntEnd = 0.0) {
    WriteTextFile(dir.file("run.ctl"), controlText);
    in.log = &log.log();
    in.controlFileName = dir.file("run.ctl");
    in.zoneCodeMap = zoneCodes;
    in.outputList = outputList;
    in.outputListCount = 2;
    in.reportInterval = 1;
    in.minToIntEnd = minToIntEnd;
    in.end.year = 1990;
    in.end.month = 12;
    in.end.day = 31;
    in.end.hour = 24;
    in.end.minute = 0;
  }
};

int Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

}  // namespace

TEST(AppModuleBase, ReadsFlowControlAndIntervalAndKeepsTheFileOpenForAnActiveModule) {
  ModuleFixture f("[snow_model]\n1 # on\n60 # minutes\n7 # the module's own value\n");
  teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required);
  EXPECT_EQ(m.GetFlowControl(), 1);
  EXPECT_EQ(m.GetTimeInterval(), 60);
  EXPECT_DOUBLE_EQ(m.stepsPerDay, 24.0);
  EXPECT_EQ(f.outputList[0], 2);  // the count goes into element 0
  ASSERT_TRUE(m.ControlFileIsOpen());
  int own = 0;
  m.ReadControlValue(own, "own value");
  EXPECT_EQ(own, 7);
  EXPECT_EQ(m.endDateKey, DateKey(1990, 12, 31, 24, 0));
  EXPECT_NE(f.log.console().find("initializing module snow_model"), std::string::npos);
}

TEST(AppModuleBase, ASwitchedOffModuleClosesTheFileKeepsItsIntervalAndWritesNoProgress) {
  ModuleFixture f("[snow_model]\n0\n1440\n");
  teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required);
  EXPECT_EQ(m.GetFlowControl(), 0);
  EXPECT_EQ(m.GetTimeInterval(), 1440);
  EXPECT_FALSE(m.ControlFileIsOpen());
  const std::string before = f.log.console();
  m.BeginTimeStep(0, 24, 1, 1, 1990);
  EXPECT_EQ(f.log.console(), before);
}

TEST(AppModuleBase, WithoutZonesNothingIsRead) {
  ModuleFixture f("nothing here\n");
  f.in.zoneCodeMap = nullptr;
  teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required);
  EXPECT_EQ(m.GetFlowControl(), 0);
  EXPECT_EQ(f.log.console(), "");
}

TEST(AppModuleBase, MissingSectionsAndFiles) {
  {
    ModuleFixture f("[other]\n1\n60\n");
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 17);
  }
  {
    // An optional module without its section is switched off with a warning, not a FATAL line.
    ModuleFixture f("[other]\n1\n60\n");
    teilmodellklasse m(f.in, "special_output", 1, SectionRequirement::Optional);
    EXPECT_EQ(m.GetFlowControl(), 0);
    EXPECT_FALSE(m.ControlFileIsOpen());
    const std::string diag = f.log.CloseAndReadDiag();
    EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
    EXPECT_NE(diag.find("level=\"2\""), std::string::npos);
  }
  {
    ModuleFixture f("");
    f.in.controlFileName = f.dir.file("missing.ctl");
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 28);
  }
  {
    ModuleFixture f("[snow_model]\non\n");
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 17);
  }
}

TEST(AppModuleBase, IntervalChecks) {
  {
    // Shift 1440 minutes, interval 60: code 63 with its long message.
    ModuleFixture f("[snow_model]\n1\n60\n", 1440.0);
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 63);
    EXPECT_NE(f.log.console().find("is shorter than the parameter min_to_int_end with 1440 minutes"),
              std::string::npos);
  }
  {
    // Routing is exempt; an equal shift and interval pass.
    ModuleFixture f("[routing_model]\n0\n60\n[snow_model]\n0\n1440\n", 1440.0);
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "routing_model", 1, SectionRequirement::Required); }), 0);
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 0);
  }
  {
    // An active module needs an interval above 0; a switched-off one keeps its value.
    ModuleFixture f("[snow_model]\n1\n0\n[soil_model]\n0\n0\n");
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 17);
    teilmodellklasse soil(f.in, "soil_model", 1, SectionRequirement::Required);
    EXPECT_EQ(soil.GetTimeInterval(), 0);
    EXPECT_EQ(soil.stepsPerDay, 0.0);
  }
  {
    // Whole minutes must fit an int: an active module is refused with the section, a
    // switched-off one keeps 0 whole minutes.
    ModuleFixture f("[snow_model]\n1\n3e9\n[soil_model]\n0\n1e300\n");
    EXPECT_EQ(Thrown([&] { teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required); }), 17);
    EXPECT_NE(f.log.console().find("below 2147483648 minutes, read 3e+09 in the section [snow_model]"),
              std::string::npos)
        << f.log.console();
    teilmodellklasse soil(f.in, "soil_model", 1, SectionRequirement::Required);
    EXPECT_EQ(soil.GetTimeInterval(), 0);
  }
  {
    // An interval other than the run's step: one warning for an active module, with the
    // module, its interval and the step; none for an equal interval, a switched-off module
    // or a step not known.
    ModuleFixture f("[snow_model]\n1\n60\n[soil_model]\n1\n1440\n[routing_model]\n0\n60\n");
    f.in.runStepMinutes = 1440;
    for (const char* name : {"snow_model", "soil_model", "routing_model"})
      teilmodellklasse m(f.in, name, 1, SectionRequirement::Required);
    const std::string& console = f.log.console();
    const std::string warning = "the time interval of the module snow_model is 60 minutes in [snow_model] of " +
                                f.in.controlFileName + ", but the run steps by 1440 minutes";
    ASSERT_NE(console.find(warning), std::string::npos) << console;
    EXPECT_EQ(console.find(warning, console.find(warning) + 1), std::string::npos);
    EXPECT_EQ(console.find("the time interval of the module soil_model"), std::string::npos);
    EXPECT_EQ(console.find("the time interval of the module routing_model"), std::string::npos);
    ModuleFixture unknown("[snow_model]\n1\n60\n");
    teilmodellklasse m(unknown.in, "snow_model", 1, SectionRequirement::Required);
    EXPECT_EQ(unknown.log.console().find("the run steps by"), std::string::npos);
  }
}

TEST(AppModuleBase, ReadFlowControlOfAnotherSectionKeepsTheOwnReadingPosition) {
  ModuleFixture f("[routing_model]\n1\n60\n5 # own value\n[soil_model]\n1\n1440\n");
  teilmodellklasse m(f.in, "routing_model", 1, SectionRequirement::Required);
  EXPECT_EQ(m.ReadFlowControl(""), 60);
  EXPECT_EQ(m.ReadFlowControl("routing_model"), 60);
  EXPECT_EQ(m.ReadFlowControl("soil_model"), 1440);
  EXPECT_EQ(m.sectionHeader, "[soil_model]");
  int own = 0;
  m.ReadControlValue(own, "own value");
  EXPECT_EQ(own, 5);
  EXPECT_EQ(Thrown([&] { m.ReadFlowControl("snow_model"); }), 17);
}

TEST(AppModuleBase, ProgressLineRule) {
  // Hourly data, reporting every 24 hours, shift 0: lines at hours 24 and 0 only.
  EXPECT_TRUE(ProgressLineDue(24, 60, 0.0, 24, 0));
  EXPECT_TRUE(ProgressLineDue(24, 60, 0.0, 0, 0));
  EXPECT_FALSE(ProgressLineDue(24, 60, 0.0, 12, 0));
  // Shift 1440 minutes ((int)S = 24): the same hours.
  EXPECT_TRUE(ProgressLineDue(24, 60, 24.0, 24, 0));
  EXPECT_FALSE(ProgressLineDue(24, 60, 24.0, 5, 0));
  // Sub-hourly: never at hour 0, even when the minute count matches.
  EXPECT_FALSE(ProgressLineDue(2, 15, 0.0, 0, 0));
  EXPECT_TRUE(ProgressLineDue(2, 15, 0.0, 2, 0));
  EXPECT_FALSE(ProgressLineDue(2, 15, 0.0, 2, 15));
  // Reporting interval 1 writes every step; 0 or below counts as 1 (no division by zero).
  EXPECT_TRUE(ProgressLineDue(1, 60, 0.0, 7, 0));
  EXPECT_TRUE(ProgressLineDue(0, 60, 0.0, 7, 0));
  EXPECT_TRUE(ProgressLineDue(-3, 15, 0.0, 7, 45));
}

TEST(AppModuleBase, ProgressLineText) {
  ModuleFixture f("[snow_model]\n1\n60\n[interception_model]\n1\n15\n");
  teilmodellklasse hourly(f.in, "snow_model", 1, SectionRequirement::Required);
  hourly.CloseControlFile();
  hourly.BeginTimeStep(0, 24, 1, 1, 1990);
  EXPECT_NE(f.log.console().find("          snow_model 1.1.1990 24. h (time of meteo data)"), std::string::npos);
  EXPECT_EQ(hourly.stepHour, 24);
  EXPECT_EQ(hourly.stepYear, 1990);
  teilmodellklasse quarter(f.in, "interception_model", 1, SectionRequirement::Required);
  quarter.CloseControlFile();
  quarter.BeginTimeStep(45, 3, 2, 1, 1990, nullptr, " extra");
  EXPECT_NE(f.log.console().find("  interception_model 2.1.1990 3:45 h (time of meteo data) extra"),
            std::string::npos);
}

TEST(AppModuleBase, NumericHelpersAndFpeReport) {
  ModuleFixture f("[snow_model]\n0\n60\n");
  teilmodellklasse m(f.in, "snow_model", 1, SectionRequirement::Required);
  EXPECT_DOUBLE_EQ(m.Product(3.0, 4.0), 12.0);
  EXPECT_DOUBLE_EQ(m.WeightedMean(1.0, 3.0, 1.0, 1.0), 2.0);
  EXPECT_EQ(m.WeightedMean(1.0, 3.0, 0.0, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(m.ScaledRatio(2.0, 3.0, 1.0), 3.0);
  EXPECT_EQ(m.ScaledRatio(2.0, 3.0, 3.0), 0.0);
  EXPECT_EQ(m.ReportFPE(1, 2, 3, 4, 1, 2, 3, 4, 5), 0);
  m.fpeFlag = 1;
  EXPECT_EQ(m.ReportFPE(1, 2, 3, 4, 1, 2, 3, 4, 5), 2);
  EXPECT_NE(f.log.console().find("fpe in i1: 1, i2: 2, i3: 3, i4: 4"), std::string::npos);
  EXPECT_EQ(m.GetIntParameter(), 1);
  m.SetIntParameter(5);
  EXPECT_EQ(m.GetIntParameter(), 5);
  EXPECT_DOUBLE_EQ(m.pi, 3.141592653);
  EXPECT_DOUBLE_EQ(m.equationOfTimeTable[3], -12.6);
}
