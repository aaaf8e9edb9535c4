// A single cell through a synthetic winter against an independent step-by-step computation
// of the temperature-index methods (a script in the test data).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "processes/snow/snow_basin.h"
#include "support/test_support.h"

namespace {

TEST(SnowCrossCheck, SyntheticWinterMatchesTheIndependentComputation) {
  ORVEL_NEEDS_TOOLS("python3");
  constexpr int kInterval = 720, kSteps = 300;  // two steps a day, January to May
  for (int method : {1, 2}) {
    SCOPED_TRACE(method);
    TempDir dir;
    CapturedLog log;
    SnowBasin b(2, 2);
    int error = 0;
    const std::vector<std::string> lines = SnowSectionLines(method, kInterval);
    auto m = MakeSnowModel(b, log.log(), dir.path(), JoinLines(lines), error);
    ASSERT_EQ(error, 0) << log.console();

    std::ostringstream forcing, parameters;
    parameters << "2\n1.0\n0.5\n0.0\n0.1\n";
    for (int k : {9, 10, 11}) parameters << lines[k].substr(0, lines[k].find('#')) << "\n";
    std::vector<std::array<double, 4>> model;
    for (int step = 1; step <= kSteps; ++step) {
      const ModelDate d = StepDate(step, kInterval);
      const double season = step / static_cast<double>(kSteps);
      const double T = -9.0 + 16.0 * season + 5.0 * std::sin(step * 0.7) + 2.0 * std::cos(step * 0.13);
      const double P = (step % 9 == 0 || step % 13 == 0) ? 3.0 + 2.0 * std::sin(step) : 0.0;
      const double wind = 2.0 + 1.5 * std::sin(step * 0.31);
      for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 2; ++c) {
          b.Grid("temperature")[r][c] = T;
          b.Grid("precipitation")[r][c] = P;
          b.Grid("wind_speed")[r][c] = wind;
        }
      forcing.precision(17);
      // The step stamped 0 h ends at midnight: it lies in the day before, whose monthly
      // values it takes.
      const ModelDate day = CalendarStamp(d, 0.0);
      forcing << day.day << " " << day.month << " " << T << " " << P << " " << wind << "\n";
      m->Run(d);
      m->PostRun(d);
      model.push_back({b.Grid("snowstorage_solid")[1][1], b.Grid("snowstorage_liquid")[1][1],
                       b.Grid("snowcover_outflow")[1][1], b.Grid("melt_from_snowcover")[1][1]});
    }
    m.Release();
    WriteTextFile(dir.file("forcing.txt"), forcing.str());
    WriteTextFile(dir.file("parameters.txt"), parameters.str());
    std::string output;
    ASSERT_EQ(RunCommand("python3 " + std::string(ORVEL_TEST_DATA) + "/snow/degree_day_check.py " +
                             std::to_string(method) + " " + dir.file("forcing.txt") + " " +
                             dir.file("parameters.txt") + " > " + dir.file("expected.txt"),
                         &output),
              0)
        << output;
    std::istringstream expected(ReadTextFile(dir.file("expected.txt")));
    double maxSnow = 0.0, totalOutflow = 0.0;
    for (int step = 0; step < kSteps; ++step) {
      for (int k = 0; k < 4; ++k) {
        double v = 0.0;
        ASSERT_TRUE(expected >> v) << "step " << step;
        ASSERT_NEAR(model[step][k], v, 1e-9) << "step " << step + 1 << " value " << k;
      }
      maxSnow = std::max(maxSnow, model[step][0]);
      totalOutflow += model[step][2];
    }
    // The winter builds a snow pack and melts it again.
    EXPECT_GT(maxSnow, 20.0);
    EXPECT_GT(totalOutflow, 20.0);
  }
}

}  // namespace
