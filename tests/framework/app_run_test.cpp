// The time loop: the order of the module operations in a pass, the end test, and the
// Ctrl-C menu reached through a simulated SIGINT with fed answers.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "framework/app_test_support.h"
#include "framework/point_output.h"
#include "framework/thread_policy.h"
#include "processes/snow/snowmod.h"

namespace {

// One pass of a run without interpolators, in its fixed order.
const std::vector<std::string> kPassWithoutInterpolators = {
    "precicorrclass::CorrectStationValues",
    "RegionalSuperposition::Run",
    "defaultini::UpdatePeriodicGrids",
    "defaultini::UpdateLanduseParameters",
    "data_assimilation::Run",
    "RegionalSuperposition::WriteResults",
    "expokorrklasse::Run",
    "verdunstungsmodellklasse::PotentialET",
    "verdunstungsmodellklasse::SnowEvaporation",
    "schneemodellklasse::Run",
    "schneemodellklasse::PostRun",
    "verdunstungsmodellklasse::SnowModelEvaporation",
    "interzeptionsmodellklasse::Run",
    "infiltrationsmodellklasse::Run",
    "verdunstungsmodellklasse::RealET",
    "abflussmodellklasse::RunTimeStep",
    "defaultini::WriteStandardGrids",
    "defaultini::WriteVariableGrids",
    "defaultini::ResetZonalStatistics",
    "defaultini::AccumulateZonalStatistics",
    "defaultini::AggregateZonalStatistics",
    "SpecialOutputClass::CollectValues",
};

int Count(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

const char* const kMenuTitle = "Ctrl-C: cancel the model?";

}  // namespace

TEST(AppRun, WithoutInterpolatorsOnePassWithAMissingDate) {
  BasinCopy basin;
  AppSeams s;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->interpolatorCount, 0);
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(s.calls, kPassWithoutInterpolators);
  for (int64_t field : {app->stepDate.minute, app->stepDate.hour, app->stepDate.day, app->stepDate.month,
                        app->stepDate.year})
    EXPECT_EQ(field, -9999);
  app->ClearMemory();
}

TEST(AppRun, PassOrderWithInterpolatorsAndTheEndTest) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 2;
  NextClockPlan().method[2] = 10;  // works from station regressions
  NextClockPlan().endHour[1] = 2;
  NextClockPlan().endHour[2] = 4;  // the loop goes on until every interpolator is at its end
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  ASSERT_EQ(app->interpolatorCount, 2);
  EXPECT_EQ(app->run(), 0);

  // Hours 1, 2 and 3 are computed; after the third pass both clocks are at their end.
  EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 3);
  EXPECT_EQ(app->stepDate.hour, 3);
  std::vector<std::string> firstPass(s.calls.begin(),
                                     std::find(s.calls.begin(), s.calls.end(), "meteointerpol::ReadNextRecord"));
  std::vector<std::string> expected = {"meteointerpol::GetCurrentTime", "meteointerpol::ComputeStationRegression",
                                       "precicorrclass::CorrectStationValues", "meteointerpol::Interpolate",
                                       "meteointerpol::Interpolate"};
  expected.insert(expected.end(), kPassWithoutInterpolators.begin() + 1, kPassWithoutInterpolators.begin() + 5);
  expected.push_back("meteointerpol::WriteResultGrid");
  expected.push_back("meteointerpol::WriteResultGrid");
  expected.insert(expected.end(), kPassWithoutInterpolators.begin() + 5, kPassWithoutInterpolators.end());
  EXPECT_EQ(firstPass, expected);
  EXPECT_EQ(Count(s.calls, "meteointerpol::ReadNextRecord"), 6);
  app->ClearMemory();
}

TEST(AppRun, InterceptionHoldingSnowRunsBeforeTheSnowModel) {
  EXPECT_EQ(InterceptionBeforeSnow(1, 11), 1);
  EXPECT_EQ(InterceptionBeforeSnow(1, 10), 0);
  EXPECT_EQ(InterceptionBeforeSnow(0, 11), 0);  // switched off: neither method nor flag

  BasinCopy basin;
  AppSeams s;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->interceptionBeforeSnow, 0);
  EXPECT_EQ(app->interceptionMethod, 0);
  app->interceptionBeforeSnow = 1;
  app->run();
  auto at = [&](const char* call) { return std::find(s.calls.begin(), s.calls.end(), call) - s.calls.begin(); };
  EXPECT_LT(at("interzeptionsmodellklasse::Run"), at("schneemodellklasse::Run"));
  EXPECT_EQ(at("schneemodellklasse::Run") + 1, at("schneemodellklasse::PostRun"));
  EXPECT_EQ(at("schneemodellklasse::PostRun") + 1, at("verdunstungsmodellklasse::SnowModelEvaporation"));
  // The canopy's stores are written once the snow model's glacier update may have moved them.
  EXPECT_EQ(at("verdunstungsmodellklasse::SnowModelEvaporation") + 1, at("interzeptionsmodellklasse::WriteStoreGrids"));
  EXPECT_LT(at("verdunstungsmodellklasse::SnowModelEvaporation"), at("infiltrationsmodellklasse::Run"));
  app->ClearMemory();
}

TEST(AppRun, MenuAnswersThatAreNoChoiceContinueTheRun) {
  for (const char* answer : {"0\n", "7\n", "-1\n", "abc\n", "", "   \n\n", "99999999999999999999999\n"}) {
    BasinCopy basin;
    AppSeams s;
    NextClockPlan().count = 1;
    s.seams().ctrlCAfterPass = 1;
    s.answers.str(answer);
    CapturedLog log;
    auto app = MakeApplication(log.log(), basin.ControlFile());
    EXPECT_EQ(app->run(), 0) << answer;
    EXPECT_EQ(Occurrences(log.console(), kMenuTitle), 1) << answer;
    EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 2) << answer;
    app->ClearMemory();
  }
}

TEST(AppRun, AVeryLongAnswerIsReadBounded) {
  EXPECT_EQ(ParseMenuAnswer("3"), 3);
  EXPECT_EQ(ParseMenuAnswer("2abc"), 2);
  EXPECT_EQ(ParseMenuAnswer("4"), 0);
  EXPECT_EQ(ParseMenuAnswer("x1"), 0);
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  NextClockPlan().endHour[1] = 4;
  s.seams().ctrlCAfterPass = 1;
  s.seams().moreCtrlCAfterPasses = {2};
  s.answers.str("3" + std::string(5000, '0') + " 0\n");  // out of range after 300 characters: 0
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(Occurrences(log.console(), kMenuTitle), 2);
  EXPECT_EQ(Count(s.calls, "flush"), 0);
  app->ClearMemory();
}

TEST(AppRun, ChoiceThreeFlushesAndGoesOn) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  NextClockPlan().endHour[1] = 5;
  s.seams().ctrlCAfterPass = 1;
  s.seams().moreCtrlCAfterPasses = {3};
  s.answers.str("3\n3\n");
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->run(), 0);
  EXPECT_EQ(Occurrences(log.console(), kMenuTitle), 2);  // a later Ctrl-C shows the menu again
  EXPECT_EQ(Count(s.calls, "flush"), 2);
  EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 4);
  // The special output's end date is the date of the pass before the menu.
  EXPECT_EQ(app->modules.specialOutput->endDateKey, DateKey(1990, 1, 1, 3, 0));
  // The menu entry stays out of the diagnostics file.
  app->ClearMemory();
  EXPECT_EQ(log.CloseAndReadDiag().find("cancel the model"), std::string::npos);
}

TEST(AppRun, ChoiceOneEndsWithTheNextIntervalAndSetsEveryEndDate) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 2;
  NextClockPlan().endHour[1] = 10;
  NextClockPlan().endHour[2] = 10;
  s.seams().ctrlCAfterPass = 2;
  s.answers.str("1\n");
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->run(), 99);
  // Passes at hours 1 and 2, the menu before the third, which is computed completely.
  EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 3);
  EXPECT_EQ(Count(s.calls, "SetEndDate"), 1);
  const int64_t key = DateKey(1990, 1, 1, 3, 0);
  EXPECT_EQ(app->modules.interpolators[2]->endDateKey, key);
  EXPECT_EQ(app->modules.snow->endDateKey, key);
  EXPECT_EQ(app->modules.defaults->endDateKey, key);
  app->ClearMemory();
  // Every row computed before the early end is written: the example's standard-grid
  // statistics (code 2001) hold the three header lines and the rows of hours 1 to 3.
  const std::string stat = ReadTextFile(basin.dir().file("output/elevation_stat.txt"));
  EXPECT_EQ(std::count(stat.begin(), stat.end(), '\n'), 3 + 3) << stat;
  EXPECT_NE(stat.find("\n1990\t 1\t 1\t 3\t"), std::string::npos) << stat;
}

TEST(AppRun, ChoiceOneWithoutInterpolatorsKeepsTheMissingDate) {
  BasinCopy basin;
  AppSeams s;
  s.answers.str("1\n");
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  CtrlCState = 1;  // a Ctrl-C while the run was being built
  EXPECT_EQ(app->run(), 99);
  EXPECT_EQ(app->modules.snow->endYear, -9999);
  EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 1);
  app->ClearMemory();
}

TEST(AppRun, ChoiceTwoEndsAtOnceWith98) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  s.seams().ctrlCAfterPass = 1;
  s.answers.str("2\n");
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(ThrownCode([&] { app->run(); }), 98);
  const std::string console = log.console();
  const size_t warning = console.find("program manually killed by pressing Ctrl-C and selecting 2!");
  ASSERT_NE(warning, std::string::npos);
  EXPECT_LT(warning, console.find("Exception in Modellapplication::run() caught!"));
  EXPECT_EQ(Count(s.calls, "SpecialOutputClass::CollectValues"), 1);
}

TEST(AppRun, ChoiceTwoLeavesTheBufferedRowsUnwritten) {
  // The example with its real interpolators: statistics files and the point file buffer
  // their rows; "cancel now without saving buffers!" must not write them, also not when
  // the failed application is given back.
  BasinCopy basin;
  AppSeams s;
  s.seams().adjustRunValues = nullptr;
  s.seams().makeInterpolator = nullptr;
  s.seams().ctrlCAfterPass = 3;
  s.answers.str("2\n");
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  const std::string statistics = basin.dir().file("output/temperature.stat");
  const std::string points = basin.dir().file("output/points.txt");
  const std::string statisticsHeader = ReadTextFile(statistics);
  ASSERT_FALSE(statisticsHeader.empty());
  EXPECT_EQ(ThrownCode([&] { app->run(); }), 98);
  app.reset();  // what the entry does with a run that failed
  EXPECT_EQ(ReadTextFile(statistics), statisticsHeader);
  EXPECT_EQ(Occurrences(ReadTextFile(points), "\n"), 3);  // the three title lines only
  EXPECT_FALSE(DiscardBufferedOutput);
}

TEST(AppRun, CtrlCInTheLastPassEndsTheRunWithOneAndNoMenu) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 1;
  NextClockPlan().endHour[1] = 3;
  s.seams().ctrlCAfterPass = 2;
  s.seams().moreCtrlCAfterPasses = {2};  // a second signal in the same pass changes nothing
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  EXPECT_EQ(app->run(), 1);
  EXPECT_EQ(Occurrences(log.console(), kMenuTitle), 0);
  app->ClearMemory();
}

namespace {

// Every file a whole run of the example in this process writes into its output folder, by
// name, at `threads` threads; *shared: whether interpolators shared their station weights.
// edits: replacements in its control file.
std::map<std::string, std::string> ExampleOutputs(int threads, bool separateInverseDistance, bool* shared,
                                                  bool keepEveryGrid = false,
                                                  const std::vector<std::pair<std::string, std::string>>& edits = {}) {
  const std::string example = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  std::map<std::string, std::string> outputs;
  TempDir dir;
  for (const auto& e : std::filesystem::directory_iterator(example))
    if (e.is_regular_file()) std::filesystem::copy_file(e.path(), dir.file(e.path().filename().string()));
  std::filesystem::create_directories(dir.file("output"));
  std::string control = ReadTextFile(dir.file("basin.ctl"));
  for (const auto& e : edits) {
    const size_t p = control.find(e.first);
    EXPECT_NE(p, std::string::npos) << e.first;
    if (p != std::string::npos) control.replace(p, e.first.size(), e.second);
  }
  WriteTextFile(dir.file("basin.ctl"), control);
  WorkingDirectory here(dir.path());
  std::vector<std::string> calls;
  NextApplicationSeams() = ApplicationSeams();
  NextApplicationSeams().calls = &calls;
  NextApplicationSeams().separateInverseDistance = separateInverseDistance;
  NextApplicationSeams().keepEveryGrid = keepEveryGrid;
  const int savedThreads = omp_get_max_threads();
  omp_set_num_threads(threads);
  {
    CapturedLog log;
    std::string program = "orvelvco64", file = "basin.ctl";
    char* argv[] = {program.data(), file.data(), nullptr};
    ModellApplication app(&log.log(), 2, argv, 1);
    EXPECT_EQ(app.run(), 0);
    app.ClearMemory();
  }
  omp_set_num_threads(savedThreads);
  NextApplicationSeams() = ApplicationSeams();
  *shared = Count(calls, "ShareInverseDistance") > 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("output")))
    if (e.is_regular_file()) outputs[e.path().filename().string()] = ReadTextFile(e.path().string());
  EXPECT_GT(outputs.size(), 10u);
  return outputs;
}

void ExpectSameFiles(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (const auto& f : a) EXPECT_TRUE(b.count(f.first) && f.second == b.at(f.first)) << f.first;
}

}  // namespace

TEST(AppRun, InterpolatorsSharingTheirStationWeightsLeaveEveryOutputOfTheExampleAsItIs) {
  // The example's temperature and precipitation come from the same six stations: their
  // inverse-distance weights are made once per step. Every file of the run must have the
  // bits of a run in which each interpolator weighs its stations itself.
  bool shared = false, sharedSeparately = true;
  const auto together = ExampleOutputs(2, false, &shared);
  const auto separately = ExampleOutputs(2, true, &sharedSeparately);
  EXPECT_TRUE(shared);
  EXPECT_FALSE(sharedSeparately);
  ExpectSameFiles(together, separately);
}

TEST(AppRun, EveryOutputOfTheExampleHasTheSameBitsOnOneThreadAndOnThreeWithEveryLoopForked) {
  // The example is too small for any loop to fork by itself: every loop is made to, so the
  // whole chain's parallel paths are compared with one thread.
  const ScopedMinParallelCells forkAlways(0);
  bool shared = false;
  ExpectSameFiles(ExampleOutputs(1, false, &shared), ExampleOutputs(3, false, &shared));
}

TEST(AppRun, GridsGivenBackOrSharedOnceTheRunIsBuiltLeaveEveryOutputOfTheExampleAsItIs) {
  // The example's snowfall and melt, the interception layer's grids, the soil's direct flow
  // and the evapotranspiration's radiation share scratch grids, its cell sizes and regression
  // grids are given back: every file must have the bits of a run that keeps them; with the
  // snow statistics on, read grids take a slot each, unread ones share one.
  bool shared = false;
  ExpectSameFiles(ExampleOutputs(2, false, &shared), ExampleOutputs(2, false, &shared, true));
  const std::vector<std::pair<std::string, std::string>> snowStatistics = {
      {"rain.stat 0", "rain.stat 2001"}, {"snowdays.stat 0", "snowdays.stat 2001"}};
  ExpectSameFiles(ExampleOutputs(2, false, &shared, false, snowStatistics),
                  ExampleOutputs(2, false, &shared, true, snowStatistics));
}
