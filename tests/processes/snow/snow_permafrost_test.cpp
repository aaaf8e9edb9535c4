// Permafrost in the snow step: the section, the thaw depth over snow-free days, the refreeze
// under a lasting snow cover, and the root depth it lowers.
#include <gtest/gtest.h>

#include <cmath>

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
    if (m) m->DeleteModule();
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
  m->DeleteModule();
}

}  // namespace
