// Construction of a run: required and optional sections, the interval check, the tracer
// count handed to the modules, and whole runs of the program on the example basin.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/app_test_support.h"
#include "framework/entry.h"
#include "assimilation/dataassim.h"
#include "framework/point_output.h"
#include "meteo/superposition.h"
#include "processes/soil/infilt.h"
#include "processes/snow/snowmod.h"
#include "routing/abfluss.h"

TEST(AppInit, EveryModuleIsBuiltSwitchedOffWithItsRunFlag) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().zones = true;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  const ModuleTable& m = app->modules;
  ASSERT_NE(m.defaults, nullptr);
  ASSERT_NE(m.assimilation, nullptr);
  ASSERT_NE(m.specialOutput, nullptr);
  EXPECT_EQ(app->initComplete, 1);
  EXPECT_EQ(m.soil->GetFlowControl(), 0);
  EXPECT_EQ(m.routing->GetTimeInterval(), 60);
  EXPECT_EQ(m.defaults->runFlag, 1);
  EXPECT_EQ(m.soil->runFlag, 1);
  EXPECT_EQ(m.routing->runFlag, 0);  // routing and snow only when active
  EXPECT_EQ(m.snow->runFlag, 0);
  EXPECT_EQ(m.specialOutput->runFlag, 0);
  EXPECT_EQ(m.assimilation->runFlag, 0);
  EXPECT_EQ(m.superposition->runFlag, 0);
  EXPECT_EQ(app->tracerCount, 0);
  EXPECT_TRUE(app->reservoirs.empty());
  EXPECT_EQ(m.routing->routing.soilInterval, 60);
  app->run();
  app->ClearMemory();
}

TEST(AppInit, MissingSectionsAndTheIntervalCheck) {
  struct Case {
    const char* from;
    const char* to;
    int code;
  };
  for (const Case& c : {Case{"[snow_model]", "[snow_model_gone]", 17},
                        Case{"[substance_transport]\n0", "[substance_transport]\n10", 58},
                        Case{"[snow_model]\n1       # flow control parameter\n60", "[snow_model]\n1\n30", 63},
                        Case{"[evapotranspiration]\n0", "[evapotranspiration]\n1", 33}}) {  // no temperature grid
    BasinCopy basin;
    basin.Edit(c.from, c.to);
    AppSeams s;
    NextClockPlan().zones = true;
    CapturedLog log;
    EXPECT_EQ(ThrownCode([&] { MakeApplication(log.log(), basin.ControlFile()); }), c.code) << c.to;
    EXPECT_NE(log.console().find("exceptions in ModellApplication::init() caught!"), std::string::npos);
  }
}

TEST(AppInit, OptionalModulesWithoutSectionsOnlyWarn) {
  BasinCopy basin;
  basin.Edit("[special_output]", "[no_special_output]");
  basin.Edit("[data_assimilation]", "[no_data_assimilation]");
  AppSeams s;
  NextClockPlan().zones = true;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->modules.specialOutput->GetFlowControl(), 0);
  app->run();
  app->ClearMemory();
  app.reset();
  const std::string diag = log.CloseAndReadDiag();
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_NE(diag.find("no section [special_output]"), std::string::npos);
}

TEST(AppInit, TracerSettingsAreReadButTheModulesCarryNone) {
  BasinCopy basin;
  basin.Edit("[substance_transport]\n0       # number of tracers",
             "[substance_transport]\n2\n"
             "Chloride non_radioactive non_evaporating min_conc = 0 max_conc = 100 mg/l soilini = 5 gwini = 10 "
             "statcode = 1001 gridcode = 11 path = ./ statext = sta gridext = grd\n"
             "Oxygen radioactive half_time = 2 d evaporating min_conc = 0 max_conc = 9 g/l soilini = 0 gwini = 0 "
             "statcode = 0 gridcode = 0 path = ./ statext = sta gridext = grd");
  AppSeams s;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->tracerCount, 0);
  EXPECT_EQ(app->modules.soil->tracerCount, 0);
  EXPECT_EQ(Occurrences(log.console(), "[substance_transport] lists 2 tracers, but no module carries"), 1)
      << log.console();
  app->ClearMemory();
}

// Settings the run reads but does not carry out are named once each; the grids a coupled
// run would exchange must be grids of the run.
TEST(AppInit, CouplingAndSpinUpThatTheRunDoesNotMakeAreWarnedAbout) {
  const std::string coupling =
      "[ExternalCoupling]\n1\nsema.txt\n30\nD\n1440\n1\ngw.asc %s 0 1\n1\nout.asc elevation Sum\n0\n"
      "inform.txt\nready\n[SpinUp]\n1\n0\n1\n0\n";
  auto section = [&](const char* readGrid) {
    std::string text = coupling;
    text.replace(text.find("%s"), 2, readGrid);
    return text;
  };
  {
    BasinCopy basin;
    basin.Edit("[radiation_correction]", section("elevation") + "[radiation_correction]");
    AppSeams s;
    CapturedLog log;
    auto app = MakeApplication(log.log(), basin.ControlFile());
    const std::string out = log.console();
    EXPECT_EQ(Occurrences(out, "[ExternalCoupling] asks for coupling mode 1"), 1) << out;
    EXPECT_EQ(Occurrences(out, "[SpinUp] switch 1: this run makes no spin-up"), 1) << out;
    app->ClearMemory();
  }
  {
    BasinCopy basin;
    basin.Edit("[radiation_correction]", section("GWTableExtern") + "[radiation_correction]");
    AppSeams s;
    CapturedLog log;
    EXPECT_EQ(ThrownCode([&] { MakeApplication(log.log(), basin.ControlFile()); }), 1003);
    EXPECT_NE(log.console().find("with internal name \"GWTableExtern\""), std::string::npos) << log.console();
  }
}
