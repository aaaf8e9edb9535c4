// Routing alone on the example basin: the total runoff that a full run's soil model wrote,
// routed again with -mode:routing and the same control file, gives the full run's dates and,
// within what the file's three printed decimals of runoff allow, its discharges.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::string kExample = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";

// The rows of a discharge statistics file: date and the five outlets.
std::vector<std::vector<double>> Rows(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::vector<double>> rows;
  for (int k = 0; k < 3; ++k) std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::vector<double> row(9);
    for (double& v : row) f >> v;
    if (f) rows.push_back(row);
  }
  return rows;
}

TEST(RoutingOnlyBasin, TheFullRunsTotalRunoffRoutedAloneGivesItsDischarges) {
  TempDir dir;
  for (const auto& e : std::filesystem::directory_iterator(kExample)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && name != "README.md") std::filesystem::copy_file(e.path(), dir.file(name));
  }
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
  for (size_t k = 0; k < full.size(); ++k) {
    for (int c = 0; c < 4; ++c) ASSERT_EQ(alone[k][c], full[k][c]) << "row " << k;
    // The first day differs by the start of the initialisation routing; later the runoff's
    // rounding to 0.001 mm per step (a tenth of the lowest flows here) is all that differs.
    if (k < 48) continue;
    for (int c = 4; c < 9; ++c) EXPECT_NEAR(alone[k][c], full[k][c], 0.01 + 0.15 * full[k][c]) << "row " << k;
  }
}

}  // namespace
