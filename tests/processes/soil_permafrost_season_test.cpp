// The example basin over three months made warm enough to thaw, with permafrost on: the snow
// model lowers the roots to the thaw depth in every step, and the soil model's storages stay
// in their ranges; the root zone keeps the capacity of the land-use table's depths.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "processes/soil/infilt.h"
#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

// Every value of the station file's data rows raised by kelvin.
std::string Warmer(const std::string& stations, double kelvin) {
  std::istringstream in(stations);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.rfind("1985 ", 0) == 0) {
      std::istringstream f(line);
      std::string y, m, d, h;
      f >> y >> m >> d >> h;
      line = y + " " + m + " " + d + " " + h;
      double v;
      while (f >> v) line += " " + std::to_string(v + kelvin);
    }
    out += line + "\n";
  }
  return out;
}

struct Season {
  ModellApplication* app = nullptr;
  MatrixOwner capacity0;  // the usable field capacity at the start
  int passes = 0, lowered = 0;
  double largestDeficit = 0.0;
  std::string fault;

  void Check() {
    const infiltrationsmodellklasse& s = *app->modules.soil;
    const double** root = const_cast<const double**>(s.rootDepth[1]);
    ++passes;
    for (int r = 1; r <= s.geometry.nrows; ++r)
      for (int c = 1; c <= s.geometry.ncols; ++c) {
        if (s.SubbasinOf(r, c) < 1) continue;
        const double nFK = s.availableSoilMoisture[r][c];
        std::ostringstream where;
        where << "pass " << passes << " cell " << r << "," << c << ": ";
        if (std::fabs(nFK - capacity0[r][c]) > 1e-9 * capacity0[r][c]) fault = where.str() + "capacity " + std::to_string(nFK);
        if (!(s.soilStorage[r][c] >= 0.0 && s.soilStorage[r][c] <= 1.0)) fault = where.str() + "SB";
        if (!(s.inactiveSoilMoisture[r][c] >= 0.0 && s.inactiveSoilMoisture[r][c] <= 1.0)) fault = where.str() + "SBia";
        if (!(s.inactiveFieldCapacity[r][c] >= 0.0 && s.inactiveFieldCapacity[r][c] <= nFK)) fault = where.str() + "nFKia";
        if (!(std::fabs(s.saturationDeficit[r][c]) < 1000.0)) fault = where.str() + "SD";
        if (root[r][c] < 0.1) ++lowered;
      }
    for (int i = 1; i <= s.subbasins; ++i)
      largestDeficit = std::max(largestDeficit, std::fabs(s.meanDeficit[static_cast<size_t>(i)]));
  }
};

void AfterPass(ModellApplication&, void* context) {
  Season& s = *static_cast<Season*>(context);
  if (s.fault.empty()) s.Check();
}

TEST(SoilPermafrost, StoragesStayInTheirRangesOverAThawingSeason) {
  TempDir dir;
  std::string control = CopyExampleBasin(dir, 3);
  WriteTextFile(dir.file("temperature.dat"), Warmer(ReadTextFile(dir.file("temperature.dat")), 12.0));
  const std::string count = "10      # number of variable grids";
  ASSERT_NE(control.find(count), std::string::npos);
  control.replace(control.find(count), count.size(),
                  "12\nthawc.asc ThawCoeffPermaFrost 0 0.05\n0\n0\nthawd.asc PermafrostThawDepth 0 0.0\n0\n0 #");
  control += "\n[permafrost]\n1 # method\n3.0 # Min_Snow_Age_Refreeze\n5.0 # Max_SWE_SnowFree\n"
             "thaw.stat 0\n1e-6 # reduced k_sat\n";
  WriteTextFile(dir.file("basin.ctl"), control);
  std::filesystem::create_directories(dir.file("output"));

  Season season;
  std::string console;
  const auto started = [&](ModellApplication& app) {
    season.app = &app;
    infiltrationsmodellklasse& soil = *app.modules.soil;
    season.capacity0.reset(soil.matrix(1, soil.geometry.nrows, 1, soil.geometry.ncols));
    for (int r = 1; r <= soil.geometry.nrows; ++r)
      for (int c = 1; c <= soil.geometry.ncols; ++c) season.capacity0[r][c] = soil.availableSoilMoisture[r][c];
  };
  ASSERT_EQ(RunExampleInProcess(dir, started, AfterPass, &season, nullptr, &console), 0) << console;
  EXPECT_EQ(season.passes, (31 + 28 + 31) * 24);
  EXPECT_EQ(season.fault, "");
  EXPECT_GT(season.lowered, 0) << "the thaw depth lowers roots";
  EXPECT_LT(season.largestDeficit, 1000.0);
}

}  // namespace
