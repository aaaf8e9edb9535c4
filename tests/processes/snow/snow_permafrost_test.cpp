// Permafrost in the snow step: the section, the thaw depth over snow-free days, the refreeze
// under a lasting snow cover, and the root depth it lowers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "processes/snow/snow_basin.h"
#include "support/test_support.h"

namespace {

const char* const kPermafrost = "[permafrost]\n1 # method\n2.0 # Min_Snow_Age_Refreeze\n1.0 # Max_SWE_SnowFree\n"
                                "thaw.stat 0\n1e-6 # reduced k_sat\n";

struct PermafrostBasin {
  PermafrostBasin() : b(3, 4) {
    coefficient = b.Add("ThawCoeffPermaFrost", 0.05);
    coefficient[1][2] = SnowBasin::N;  // no permafrost in this cell
    depth = b.Add("PermafrostThawDepth", 0.0);
    root = b.Add("root_depth1", 0.6);
  }
  SnowBasin b;
  double** coefficient;
  double** depth;
  double** root;
};

TEST(SnowPermafrost, SectionFailures) {
  struct Case {
    const char* what;
    std::string section;
    int code;
    const char* message;
  } cases[] = {
      {"section missing", "", 17, "[permafrost]"},
      {"method 2", "[permafrost]\n2\n2.0\n1.0\nthaw.stat 0\n1e-6\n", 80, "must be 1 (alpha*sqrt(time))"},
      {"statistics flag missing", "[permafrost]\n1\n2.0\n1.0\nthaw.stat\n", 17, "thaw depth statistics"},
      {"refreeze age below 0", "[permafrost]\n1\n-2.0\n1.0\nthaw.stat 0\n1e-6\n", 80,
       "[permafrost] in "},
      {"snow-free limit below 0", "[permafrost]\n1\n2.0\n-1.0\nthaw.stat 0\n1e-6\n", 80,
       "Max_SWE_SnowFree is -1; it must be 0 or more"},
      {"conductivity below 0", "[permafrost]\n1\n2.0\n1.0\nthaw.stat 0\n-1e-6\n", 80, "reduced k_sat is -1e-06"},
      {"a conductivity in mm per hour", "[permafrost]\n1\n2.0\n1.0\nthaw.stat 0\n36\n", 0,
       "reduced k_sat is 36, m/s: more than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CapturedLog log;
    PermafrostBasin p;
    int error = 0;
    auto m = MakeSnowModel(p.b, log.log(), dir.path(), JoinLines(SnowSectionLines(1)) + c.section, error);
    EXPECT_EQ(error, c.code);
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    m.Release();
  }
}

TEST(SnowPermafrost, ThawGrowsWithTheRootOfSnowFreeDaysAndRefreezesUnderSnow) {
  TempDir dir;
  CapturedLog log;
  PermafrostBasin p;
  int error = 0;
  auto m = MakeSnowModel(p.b, log.log(), dir.path(), JoinLines(SnowSectionLines(1, 1440)) + kPermafrost, error);
  ASSERT_EQ(error, 0) << log.console();
  double** T = p.b.Grid("temperature");
  double** night = p.b.Grid("temperature_night");
  double** P = p.b.Grid("precipitation");
  auto weather = [&](double t, double prec) {
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        T[r][c] = night[r][c] = t;
        P[r][c] = prec;
      }
  };
  // Nine warm dry days: the thaw depth is 0.05·√9.
  weather(10.0, 0.0);
  for (int day = 1; day <= 9; ++day) {
    const ModelDate d = StepDate(day, 1440);
    m->Run(d);
    m->PostRun(d);
  }
  EXPECT_NEAR(p.depth[1][1], 0.15, 1e-12);
  EXPECT_NEAR(p.b.Grid("SnowFreeDaysGrid")[1][1], 9.0, 1e-12);
  EXPECT_NEAR(p.root[1][1], 0.05, 1e-12);  // lowered to the thaw depth of the first day
  EXPECT_EQ(p.depth[1][2], 0.0);             // no coefficient: left alone
  EXPECT_EQ(p.root[1][2], 0.6);
  // A snow cover: the depth holds for less than two days, then the ground refreezes.
  weather(-10.0, 20.0);
  for (int day = 10; day <= 11; ++day) {
    const ModelDate d = StepDate(day, 1440);
    m->Run(d);
    m->PostRun(d);
    if (day == 10) {
      EXPECT_NEAR(p.depth[1][1], 0.15, 1e-12);
    }
  }
  EXPECT_EQ(p.depth[1][1], 0.0);
  EXPECT_EQ(p.b.Grid("SnowFreeDaysGrid")[1][1], 0.0);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c)
      if (p.b.Inside(r, c)) {
        EXPECT_GE(p.root[r][c], 0.0);
      }
}

// The days without and with snow and the roots of layer 1 go beside the solid snow storage
// when the run writes it at its end, and a run that reads its storage grids takes them back
// with the thaw depth they imply and its roots no deeper than the thaw left them; without
// them (an older state) it starts the days at 0 and the roots at the table's, and says so.
TEST(SnowPermafrost, DaysAreCarriedBesideTheSolidStorage) {
  EXPECT_EQ(PermafrostDaysFileName("out/snow.v1.asc", true), "out/snow.v1_snow_free_days.bin");
  EXPECT_EQ(PermafrostDaysFileName("a.b/solid", false), "a.b/solid_snow_cover_days.bin");
  EXPECT_EQ(PermafrostRootDepthFileName("out/snow.v1.asc"), "out/snow.v1_thawed_root_depth.bin");
  TempDir dir;
  WorkingDirectory here(dir.path());  // the grid reader notes its filled cells in the working folder
  auto control = [&](const std::string& writeCode, bool read) {
    std::vector<std::string> lines = SnowSectionLines(1, 1440);
    for (const char* name : {"solid.asc", "liquid.asc", "total.asc", "snowdays.asc", "snowage.asc"}) {
      const auto at = std::find(lines.begin(), lines.end(), name);
      *at = dir.file(name);
      *(at + 1) = name == std::string("solid.asc") ? writeCode : "3";
    }
    lines.back() = read ? "1 # readgrids" : "0 # readgrids";
    return JoinLines(lines) + kPermafrost;
  };
  CapturedLog log;
  for (const char* code : {"0", "4", "3"}) {
    SCOPED_TRACE(code);
    PermafrostBasin p;
    int error = 0;
    auto m = MakeSnowModel(p.b, log.log(), dir.path(), control(code, false), error);
    ASSERT_EQ(error, 0) << log.console();
    m->SetEndDate(2001, 1, 6, 0, 0);
    for (int day = 1; day <= 5; ++day) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          p.b.Grid("temperature")[r][c] = p.b.Grid("temperature_night")[r][c] = c == 4 ? -5.0 : 5.0;
          p.b.Grid("precipitation")[r][c] = c == 4 ? 10.0 : 0.0;
        }
      m->Run(StepDate(day, 1440));
      m->PostRun(StepDate(day, 1440));
    }
    EXPECT_EQ(std::filesystem::exists(dir.file("solid_snow_free_days.bin")), std::string(code) == "3");
    EXPECT_EQ(std::filesystem::exists(dir.file("solid_thawed_root_depth.bin")), std::string(code) == "3");
    m.Release();
  }
  PermafrostBasin warm;
  int error = 0;
  auto m = MakeSnowModel(warm.b, log.log(), dir.path(), control("3", true), error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_DOUBLE_EQ(warm.b.Grid("SnowFreeDaysGrid")[1][1], 5.0);
  EXPECT_DOUBLE_EQ(warm.depth[1][1], 0.05 * std::sqrt(5.0));
  EXPECT_DOUBLE_EQ(warm.b.Grid("SnowCoverDaysGrid")[1][4], 5.0);
  EXPECT_EQ(warm.depth[1][4], 0.0);  // refrozen after two days under snow
  EXPECT_EQ(warm.b.Grid("SnowFreeDaysGrid")[2][4], SnowBasin::N);  // outside the basin
  // The table's roots of 0.6 m as deep as the thaw of the first day left them.
  EXPECT_DOUBLE_EQ(warm.root[1][1], 0.05);
  EXPECT_EQ(warm.root[1][4], 0.0);
  EXPECT_EQ(warm.root[1][2], 0.6);  // no permafrost
  m.Release();
  std::filesystem::remove(dir.file("solid_snow_cover_days.bin"));
  std::filesystem::remove(dir.file("solid_thawed_root_depth.bin"));
  PermafrostBasin older;
  auto n = MakeSnowModel(older.b, log.log(), dir.path(), control("3", true), error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_NE(log.console().find("no permafrost snow-cover days " + dir.file("solid_snow_cover_days.bin")),
            std::string::npos);
  EXPECT_EQ(older.b.Grid("SnowCoverDaysGrid")[1][4], 0.0);
  EXPECT_NE(log.console().find("no root depth of the thawed ground " + dir.file("solid_thawed_root_depth.bin")),
            std::string::npos);
  EXPECT_EQ(older.root[1][1], 0.6);
  EXPECT_DOUBLE_EQ(older.b.Grid("SnowFreeDaysGrid")[1][1], 5.0);
}

}  // namespace
