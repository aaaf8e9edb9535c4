// The program on the example basin for three months (January's station hours repeated for
// February and March), with every process module the example switches on: discharge at all
// five outlets, finite and not negative, and the same bits at 1 and at 8 threads.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

// Runs the basin in a fresh folder with the thread count; returns the folder's output.
std::string RunBasin(const TempDir& dir, int threads) {
  const std::string control = CopyExampleBasin(dir, 3);
  WriteTextFile(dir.file("basin.ctl"), control);
  std::filesystem::create_directories(dir.file("output"));
  std::string log;
  const int status = RunCommand("cd " + dir.path() + " && OMP_NUM_THREADS=" + std::to_string(threads) + " " +
                                    ORVEL_BINARY + " basin.ctl -diagfile:output/Orvel_Diag.xml",
                                &log);
  EXPECT_EQ(status, 0) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
  return dir.file("output");
}

TEST(RoutingBasinRun, ThreeMonthsOfDischargeAtEveryOutletWithTheSameBitsAtAnyThreadCount) {
  TempDir one, eight;
  const std::string a = RunBasin(one, 1);
  const std::string b = RunBasin(eight, 8);
  const std::string discharge = ReadTextFile(a + "/discharge.stat");
  ASSERT_FALSE(discharge.empty());

  std::istringstream in(discharge);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\t\"3\"\t\"4\"\t\"5\"");
  std::getline(in, line);
  std::getline(in, line);
  int rows = 0;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    double v;
    for (int k = 0; k < 4; ++k) f >> v;
    for (int k = 0; k < 5; ++k) {
      ASSERT_TRUE(f >> v) << line;
      EXPECT_TRUE(std::isfinite(v) && v >= 0.0) << line;
    }
    ++rows;
  }
  EXPECT_EQ(rows, (31 + 28 + 31) * 24);

  // Every statistics file of the run is the same at 1 and 8 threads.
  int compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(a)) {
    const std::string name = e.path().filename().string();
    if (name.find(".stat") == std::string::npos && name.find("wq_table") == std::string::npos) continue;
    EXPECT_EQ(ReadTextFile(e.path().string()), ReadTextFile(b + "/" + name)) << name;
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

}  // namespace
