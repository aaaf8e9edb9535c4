// Routing alone on the example basin: the total runoff that a full run's soil model wrote,
// routed again with -mode:routing and the same control file, gives the full run's dates and
// its discharges as printed.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

const std::string kExample = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";

// The rows of a discharge statistics file as printed: date and the five outlets.
std::vector<std::vector<std::string>> Rows(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::vector<std::string>> rows;
  for (int k = 0; k < 3; ++k) std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::vector<std::string> row(9);
    for (std::string& v : row) f >> v;
    if (f) rows.push_back(row);
  }
  return rows;
}

TEST(RoutingOnlyBasin, TheFullRunsTotalRunoffRoutedAloneGivesItsDischarges) {
  TempDir dir;
  CopyExampleInputs(kExample, dir.path());
  // From a cold start, the premise below: routing alone starts from its initialisation routing.
  // Without the outlet's reservoir, whose volume would keep the difference of the two starts
  // for weeks.
  std::string control = ColdStart(ReadTextFile(dir.file("basin.ctl")));
  const size_t sp = control.find("SP 1 (");
  ASSERT_NE(sp, std::string::npos);
  control.erase(sp, control.find('\n', sp) + 1 - sp);
  WriteTextFile(dir.file("basin.ctl"), control);
  std::filesystem::create_directories(dir.file("output"));
  std::string log;
  const std::string run = "cd " + dir.path() + " && OMP_NUM_THREADS=2 " + ORVEL_BINARY + " basin.ctl";
  ASSERT_EQ(RunCommand(run, &log), 0) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  const auto full = Rows(ReadTextFile(dir.file("output/discharge.stat")));
  ASSERT_GT(full.size(), 100u);

  ASSERT_EQ(RunCommand(run + " -mode:routing", &log), 0) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  EXPECT_NE(log.find("looking for starting date in output/Qg.stat"), std::string::npos);
  const auto alone = Rows(ReadTextFile(dir.file("output/discharge.stat")));
  ASSERT_EQ(alone.size(), full.size());
  // Sub-basins 1 to 3 have no channel: their outlet is their runoff of the step. Sub-basins 4
  // and 5 route through channels whose initialisation routing starts, in this mode, from the
  // file's first row and, in the full run, from the soil model's record before its first step.
  // That start fades within the first days: after five days the two agree to the printed
  // precision (a last digit may still round the other way), and from the tenth day every
  // printed digit agrees.
  const size_t fading = 5 * 24, forgotten = 10 * 24;
  ASSERT_GT(full.size(), forgotten + 100);
  for (size_t k = 0; k < full.size(); ++k) {
    for (int c = 0; c < 7; ++c) ASSERT_EQ(alone[k][c], full[k][c]) << "row " << k << " column " << c;
    for (int c = 7; c < 9; ++c) {
      const double a = std::stod(alone[k][c]), f = std::stod(full[k][c]);
      if (k >= forgotten)
        ASSERT_EQ(alone[k][c], full[k][c]) << "row " << k << " column " << c;
      else if (k >= fading)
        ASSERT_LE(std::fabs(a - f), 0.001 + 1e-9) << "row " << k << " column " << c;
      else
        EXPECT_NEAR(a, f, 0.15 * f) << "row " << k << " column " << c;
    }
  }
}

}  // namespace
