// The example basin's snow grid rule in a whole run: the grid of snow_swe.asc replaces the
// snow cover at 15 January 1985, 12 h, and at no other step.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::string kExample = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";

// Sub-basin means of snowstorage.stat by "day hour" of January 1985.
std::map<std::string, std::vector<double>> SnowRows(const std::string& text) {
  std::map<std::string, std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    int y = 0, m = 0, d = 0, h = 0;
    std::vector<double> v(5);
    if (!(f >> y >> m >> d >> h)) continue;
    for (double& x : v) f >> x;
    if (f && y == 1985 && m == 1) rows[std::to_string(d) + " " + std::to_string(h)] = v;
  }
  return rows;
}

int Count(const std::string& what, const std::string& text) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Sub-basin means of the snow water equivalent grid the rule reads.
std::vector<double> GridMeans() {
  std::istringstream zones(ReadTextFile(kExample + "zones.asc")), swe(ReadTextFile(kExample + "snow_swe.asc"));
  std::string skip;
  for (int i = 0; i < 6; ++i) {
    std::getline(zones, skip);
    std::getline(swe, skip);
  }
  std::vector<double> sum(5, 0.0), count(5, 0.0);
  double z = 0, s = 0;
  while (zones >> z && swe >> s)
    if (z >= 1 && z <= 5) {
      sum[static_cast<int>(z) - 1] += s;
      count[static_cast<int>(z) - 1] += 1;
    }
  for (int i = 0; i < 5; ++i) sum[i] /= count[i];
  return sum;
}

TEST(AssimilationExample, TheSnowGridReplacesTheSnowCoverOnItsStepOnly) {
  TempDir dir;
  for (const auto& e : std::filesystem::directory_iterator(kExample))
    if (e.is_regular_file()) std::filesystem::copy_file(e.path(), dir.file(e.path().filename().string()));
  std::filesystem::create_directories(dir.file("output"));
  std::string log;
  ASSERT_EQ(RunCommand("cd " + dir.path() + " && OMP_NUM_THREADS=2 " + ORVEL_BINARY + " basin.ctl", &log), 0) << log;
  EXPECT_EQ(Count("data assimilation: snow_storage_total replaced by snow_swe.asc at 15.1.1985 12 h", log), 1)
      << log;
  EXPECT_EQ(Count("replaced by", log), 1);

  auto rows = SnowRows(ReadTextFile(dir.file("output/snowstorage.stat")));
  ASSERT_TRUE(rows.count("15 12")) << "snowstorage.stat lacks 15 January";
  const std::vector<double> grid = GridMeans();
  for (int z = 0; z < 5; ++z) {
    // The snow model runs after the replacement within the step: at most a few mm melt or fall.
    EXPECT_NEAR(rows["15 12"][z], grid[z], 2.0) << "sub-basin " << z + 1;
  }
}

}  // namespace
