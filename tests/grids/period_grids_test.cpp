#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "grid_fixture.h"
#include "framework/run_files.h"
#include "grids/grid_stack.h"
#include "grids/period_grids.h"

namespace {

ModelDate At(int64_t y, int64_t mo, int64_t d, int64_t h, int64_t mi = 0) { return ModelDate{mi, h, d, mo, y}; }

TEST(PeriodNames, StemsDirectoriesAndFormats) {
  EXPECT_EQ(PeriodSumName("results/tsoil.stat", 3, At(2025, 1, 31, 23)), "results/tsoil_202501.sum");
  EXPECT_EQ(PeriodSumName("results/tsoil", 3, At(2025, 1, 31, 23)), "results/tsoil_202501.sum");
  EXPECT_EQ(PeriodSumName("runoff.asc", 4, At(2025, 1, 15, 23)), "runoff_002501.15s");
  EXPECT_EQ(PeriodSumName("runoff.asc", 8, At(2025, 1, 15, 23)), "runoff_002501.15m");
  EXPECT_EQ(PeriodSumName("a/b/x.y.z", 6, At(2024, 12, 31, 23)), "a/b/x_202400.mit");
  EXPECT_EQ(PeriodSumName("x", 1, At(2024, 1, 1, 0)), "x.sum");
  EXPECT_EQ(PeriodSumName("x", 5, At(2024, 1, 1, 0)), "x.mit");
  EXPECT_EQ(PeriodSumName("x", 9, At(2024, 1, 1, 0)), "");
  EXPECT_EQ(MinimumName("dir/.hidden"), "dir/.min");  // a base beginning with "." has an empty stem
  EXPECT_EQ(MaximumName("t.asc"), "t.max");
  EXPECT_EQ(VegetationPeriodName("out/etr.stat", 2, 2003), "out/etr_2003_vegper.mit");
  EXPECT_EQ(VegetationPeriodName("out/etr.stat", 1, 2003), "out/etr_2003_vegper.sum");
  EXPECT_EQ(DatedGridName("out/snow.asc", At(2001, 3, 1, 6, 30), 0, false), "out/snow_20010301.0630");
  EXPECT_EQ(DatedGridName("out/snow.asc", At(2001, 3, 1, 6, 30), 2, false), "out/snow_20010301.0630_002");
  EXPECT_EQ(DatedGridName("out/snow.asc", At(2001, 3, 1, 6, 30), 0, true), "out/snow_timeseries");
  // A run without dates: every field -9999, names sized from their content.
  EXPECT_EQ(DatedGridName("s", ModelDate{}, 0, false), "s_-9999-9999-9999.-9999-9999");
  EXPECT_EQ(VegetationLayerOf("out/etr_Layer_2.stat"), "2");
  EXPECT_EQ(VegetationLayerOf("out/etr_Layer_12"), "12");
  EXPECT_EQ(VegetationLayerOf("out/etr.stat"), "1");
}

TEST(PeriodClock, DayMonthYearAndRunEnds) {
  const int64_t end = At(2025, 3, 15, 23).Key();
  EXPECT_TRUE(PeriodClockAt(At(2025, 1, 15, 23), 1.0, 60, end).endOfDay);
  EXPECT_FALSE(PeriodClockAt(At(2025, 1, 15, 22), 1.0, 60, end).endOfDay);
  EXPECT_TRUE(PeriodClockAt(At(2025, 1, 15, 0), 24.0, 1440, end).endOfDay);
  EXPECT_TRUE(PeriodClockAt(At(2025, 1, 15, 23, 30), 0.5, 30, end).endOfDay);
  EXPECT_TRUE(PeriodClockAt(At(2025, 2, 28, 23), 1.0, 60, end).endOfMonth);
  // February of the step's own year, also in a run that ends in another year
  EXPECT_FALSE(PeriodClockAt(At(2024, 2, 28, 23), 1.0, 60, end).endOfMonth);
  EXPECT_TRUE(PeriodClockAt(At(2024, 2, 29, 23), 1.0, 60, end).endOfMonth);
  EXPECT_TRUE(PeriodClockAt(At(2024, 12, 31, 23), 1.0, 60, end).endOfYear);
  EXPECT_FALSE(PeriodClockAt(At(2025, 3, 15, 22), 1.0, 60, end).endOfRun);
  EXPECT_TRUE(PeriodClockAt(At(2025, 3, 15, 23), 1.0, 60, end).endOfRun);
  const PeriodClock none = PeriodClockAt(ModelDate{}, 1.0, 60, end);
  EXPECT_FALSE(none.endOfDay || none.endOfMonth || none.endOfYear || none.endOfRun);
  // Midnight stamped 0 h of the next day ends the day before, its month and year, as 24 h
  // does; 0 h that opens a step (an hour to its end) ends nothing.
  for (const ModelDate& midnight : {At(2025, 1, 16, 0), At(2025, 1, 15, 24)}) {
    EXPECT_TRUE(PeriodClockAt(midnight, 0.0, 60, end).endOfDay);
    EXPECT_EQ(PeriodClockAt(midnight, 0.0, 60, end).day.day, 15);
  }
  EXPECT_FALSE(PeriodClockAt(At(2025, 1, 16, 0), 1.0, 60, end).endOfDay);
  EXPECT_FALSE(PeriodClockAt(At(2025, 1, 16, 0), 0.0, 60, end).endOfMonth);
  EXPECT_TRUE(PeriodClockAt(At(2024, 3, 1, 0), 0.0, 60, end).endOfMonth);  // 29 February
  EXPECT_EQ(PeriodClockAt(At(2024, 3, 1, 0), 0.0, 60, end).day.day, 29);
  const PeriodClock newYear = PeriodClockAt(At(2025, 1, 1, 0), 0.0, 60, end);
  EXPECT_TRUE(newYear.endOfYear && newYear.endOfMonth);
  EXPECT_EQ(newYear.day.year, 2024);
  EXPECT_EQ(PeriodSumName("q.asc", 3, newYear.monthEnd), "q_202412.sum");
  // Steps that end at half past: the step stamped 0 h passes the end of the day before,
  // and of its month and year. A step of two days that ends 31 January and 1 February ends
  // January.
  EXPECT_FALSE(PeriodClockAt(At(2024, 12, 31, 23), 0.5, 60, end).endOfDay);
  const PeriodClock halfPast = PeriodClockAt(At(2025, 1, 1, 0), 0.5, 60, end);
  EXPECT_EQ(PeriodSumName("q.asc", 2, halfPast.yearEnd), "q_202400.sum");
  EXPECT_EQ(PeriodSumName("q.asc", 4, halfPast.day), "q_002412.31s");
  const PeriodClock twoDays = PeriodClockAt(At(2025, 2, 1, 24), 0.0, 2880, end);
  EXPECT_TRUE(twoDays.endOfMonth && !twoDays.endOfYear);
  EXPECT_EQ(PeriodSumName("q.asc", 3, twoDays.monthEnd) + PeriodSumName("q.asc", 4, twoDays.day),
            "q_202501.sumq_002502.01s");
}

// A 3 x 2 domain whose zone grid leaves cell (1,1) outside the basin; binary double output.
struct PeriodRun : ::testing::Test {
  GridModule m{3, 2, 0, 0, 1};
  MatrixOwner zones = m.Grid([](int r, int c) { return r == 1 && c == 1 ? -9999.0 : 1.0; });
  MatrixOwner value = m.Grid([](int, int) { return 0.0; });
  PeriodRun() {
    m.obj.RegisterGrid(1, "zones.asc", zones.get(), nullptr, 0, "zones", 0, 1, 2);
    m.obj.output.writeDoubleGrids = true;
    m.obj.output.stampToStepEndHours = 1.0;
  }
  void Reg(int p, const std::string& file, int code, double** data = nullptr) {
    m.obj.RegisterGrid(p, file, data ? data : value.get(), nullptr, 0, "g" + std::to_string(p), code, 1, 2);
  }
  void Step(const ModelDate& d, int lastPosition, bool noPeriod = false) {
    m.obj.stepDate = d;
    for (int p = 2; p <= lastPosition; ++p) m.obj.WriteGrids(p, 1, noPeriod);
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(m.dir.path())) names.insert(e.path().filename().string());
    return names;
  }
  MatrixOwner Load(const std::string& name) {
    double** g = nullptr;
    m.obj.ReadGrid(name, g, 0, true, false, false, 0);
    return MatrixOwner(g);
  }
};

TEST_F(PeriodRun, TwoHourlyMonthsGiveExactlyTheRequestedFiles) {
  m.obj.SetEndDate(2023, 2, 28, 23, 0);
  Reg(2, "sum.asc", 30);     // monthly sums
  Reg(3, "mean.asc", 70);    // monthly means
  Reg(4, "ext.asc", 300);    // minimum and maximum of the run
  Reg(5, "month.asc", 6);    // dated at each month end, plain name at the end of the run
  Reg(6, "last.asc", 3);     // at the end of the run
  Reg(7, "day/d.asc", 40);   // daily sums in a sub-folder
  std::filesystem::create_directory(m.file("day"));
  double janSum = 0, febSum = 0;
  int64_t k = 0;
  for (int month = 1; month <= 2; ++month)
    for (int day = 1; day <= DaysInMonth(2023, month); ++day)
      for (int hour = 0; hour < 24; ++hour, ++k) {
        for (int r = 1; r <= 2; ++r)
          for (int c = 1; c <= 3; ++c) value[r][c] = static_cast<double>(k) + 0.5 * c;
        (month == 1 ? janSum : febSum) += static_cast<double>(k);
        Step(At(2023, month, day, hour), 7);
      }
  std::set<std::string> expected = {"sum_202301.sum",       "sum_202302.sum",
                                    "mean_202301.mit", "mean_202302.mit", "ext.min",
                                    "ext.max",     "month_20230131.2300", "month_20230228.2300",
                                    "month.asc",   "last.asc",             "day"};
  EXPECT_EQ(Files(), expected);
  std::set<std::string> days;
  for (auto& e : std::filesystem::directory_iterator(m.file("day"))) days.insert(e.path().filename().string());
  EXPECT_EQ(days.size(), 59u);
  EXPECT_TRUE(days.count("d_002301.31s"));
  EXPECT_TRUE(days.count("d_002302.01s"));

  MatrixOwner jan = Load("sum_202301.sum");
  EXPECT_EQ(jan[1][1], -9999.0);  // outside the zone grid
  EXPECT_EQ(jan[1][2], janSum + 744 * 1.0);
  EXPECT_EQ(jan[2][3], janSum + 744 * 1.5);
  MatrixOwner feb = Load("sum_202302.sum");
  EXPECT_EQ(feb[2][1], febSum + 672 * 0.5);  // February starts again from 0
  MatrixOwner meanFeb = Load("mean_202302.mit");
  EXPECT_DOUBLE_EQ(meanFeb[2][2], febSum / 672 + 1.0);
  MatrixOwner lo = Load("ext.min"), hi = Load("ext.max");
  EXPECT_EQ(lo[2][3], 1.5);
  EXPECT_EQ(hi[2][3], 1415 + 1.5);
  EXPECT_EQ(lo[1][1], -9999.0);
  MatrixOwner day2 = Load("day/d_002301.02s");
  EXPECT_EQ(day2[1][2], (24 + 47) * 12 + 24 * 1.0);
  MatrixOwner last = Load("month.asc");
  EXPECT_EQ(last[1][1], -9999.0);  // the grid itself holds no data outside the zone grid either
  EXPECT_EQ(last[2][1], 1415 + 0.5);
}

TEST_F(PeriodRun, DatedNamesCountRepeatsAndTheRunEndKeepsThePlainName) {
  m.obj.SetEndDate(2020, 1, 2, 0, 0);
  Reg(2, "out.asc", 2);
  Step(At(2020, 1, 1, 5), 2);
  Step(At(2020, 1, 1, 5), 2);
  Step(At(2020, 1, 1, 5), 2);
  Step(At(2020, 1, 1, 6), 2);
  EXPECT_EQ(Files(), (std::set<std::string>{"out_20200101.0500", "out_20200101.0500_001",
                                             "out_20200101.0500_002", "out_20200101.0600"}));
  Step(At(2020, 1, 2, 0), 2);
  EXPECT_TRUE(Files().count("out.asc"));
  EXPECT_TRUE(Files().count("out_20200102.0000"));
}

TEST_F(PeriodRun, FilledIsWrittenOnceAndMeansDivideByCalls) {
  m.obj.SetEndDate(2020, 1, 1, 2, 0);
  Reg(2, "f.asc", 8);
  Reg(3, "m.asc", 50);
  value[2][2] = 3.0;
  Step(At(2020, 1, 1, 0), 3);
  EXPECT_TRUE(Files().count("f.asc.filled"));
  std::filesystem::remove(m.file("f.asc.filled"));
  value[2][2] = 6.0;
  Step(At(2020, 1, 1, 1), 3);
  EXPECT_FALSE(Files().count("f.asc.filled"));
  EXPECT_EQ(m.registry[2].units, 0);
  value[2][2] = 9.0;
  Step(At(2020, 1, 1, 2), 3);
  MatrixOwner mean = Load("m.mit");
  EXPECT_EQ(mean[2][2], 6.0);
  EXPECT_EQ(mean[1][1], -9999.0);
}

TEST_F(PeriodRun, NoPeriodOutputSuppressesMinimumAndMaximum) {
  m.obj.SetEndDate(2020, 1, 1, 1, 0);
  Reg(2, "x.asc", 301);
  Step(At(2020, 1, 1, 0), 2);
  Step(At(2020, 1, 1, 1), 2, true);
  EXPECT_EQ(Files(), (std::set<std::string>{"x.asc"}));
}

TEST_F(PeriodRun, StackLevelOneIsAccumulated) {
  m.obj.SetEndDate(2020, 1, 1, 0, 0);
  double*** stack = m.obj.d3_matrix(1, 2, 1, 3, 2, 0);
  stack[2][3][1] = 7.0;
  m.obj.RegisterGrid(2, "s.asc", value.get(), stack, 2, "s", 10, 1, 2);
  Step(At(2020, 1, 1, 0), 2);
  EXPECT_EQ(value[2][3], 7.0);
  MatrixOwner sum = Load("s.sum");
  EXPECT_EQ(sum[2][3], 7.0);
  m.obj.Free3DMatrix(stack);
}

TEST_F(PeriodRun, StackOfLevelZeroAloneLeavesTheGridAsItIs) {
  // Level 1 does not exist: nothing is copied, and no neighbour's level 0 is read instead.
  m.obj.SetEndDate(2020, 1, 1, 0, 0);
  double*** stack = m.obj.d3_matrix(1, 2, 1, 3, 0, 0);
  stack[2][2][0] = 5.0;
  stack[2][3][0] = 6.0;
  value[2][2] = 1.0;
  value[2][3] = 2.0;
  m.obj.RegisterGrid(2, "s.asc", value.get(), stack, 0, "s", 10, 1, 2);
  Step(At(2020, 1, 1, 0), 2);
  EXPECT_EQ(value[2][2], 1.0);
  EXPECT_EQ(value[2][3], 2.0);
  m.obj.Free3DMatrix(stack);
}

TEST_F(PeriodRun, VegetationPeriodSums) {
  m.obj.SetEndDate(2021, 1, 1, 0, 0);
  Reg(2, "etr_Layer_2.stat", 2000);
  EXPECT_EQ(GridModule::CodeOf([&] { Step(At(2020, 5, 1, 0), 2); }), 33);
  EXPECT_NE(m.log.console().find("VegetationStart2 not found in memory"), std::string::npos);

  MatrixOwner start = m.Grid([](int, int c) { return c == 3 ? -1.0 : 5.0; });
  MatrixOwner stop = m.Grid([](int, int) { return -2.0; });
  MatrixOwner duration = m.Grid([](int, int c) { return c == 2 ? 0.0 : 4.0; });
  GridModule& g = m;
  g.obj.FreeGrid(2);
  Reg(2, "vs", 0, start.get());
  m.registry[2].internalName = "VegetationStart2";
  Reg(3, "vp", 0, stop.get());
  m.registry[3].internalName = "VegetationStop2";
  Reg(4, "vd", 0, duration.get());
  m.registry[4].internalName = "VegetationDuration2";
  Reg(5, "etr_Layer_2.stat", 2000);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) value[r][c] = 2.0;
  m.obj.stepDate = At(2020, 5, 1, 0);
  m.obj.WriteGrids(5, 1, false);
  m.obj.WriteGrids(5, 1, false);
  m.registry[5].vegetationPeriodEnded = 1;
  m.obj.WriteGrids(5, 1, false);
  MatrixOwner mean = Load("etr_Layer_2_2020_vegper.mit");
  EXPECT_EQ(mean[2][1], 6.0 / 4.0);
  EXPECT_EQ(mean[2][2], -9999.0);  // no days in the period
  EXPECT_EQ(mean[2][3], 0.0);      // outside the vegetation period
  m.registry[5].vegetationPeriodBegins = 1;
  m.obj.WriteGrids(5, 1, false);
  EXPECT_EQ(m.registry[5].periodK[2][1], 0.0);
  EXPECT_EQ(m.registry[5].periodK[1][1], -9999.0);
}

TEST_F(PeriodRun, NothingHappensWithoutDigitsDataOrValidPosition) {
  Reg(2, "none.asc", 0);
  Reg(3, "nodata.asc", 1);
  m.registry[3].data = nullptr;
  Step(At(2020, 1, 1, 0), 3);
  m.obj.WriteGrids(0, 1, false);
  m.obj.WriteGrids(1000, 1, false);
  EXPECT_EQ(Files(), (std::set<std::string>{}));
}

// The patterns declared for the check of the run's files match every name the writers make
// from them, and no name of another stem.
TEST(PeriodNames, PatternsMatchTheNamesOfEveryDate) {
  auto matches = [](const std::string& pattern, const std::string& name) {
    RunFiles files;
    files.Begin();
    files.Read("r", "/o/" + name);
    files.Write("w", "/o/" + pattern);
    const bool clash = !files.FirstClash().empty();
    files.Abandon();
    return clash;
  };
  for (const ModelDate& d : {At(1985, 1, 1, 23), At(2024, 12, 31, 0, 30)}) {
    for (const char* source : {"t2m.asc", "out/snow", "a.b.c"}) {
      SCOPED_TRACE(source);
      EXPECT_TRUE(matches(DatedGridPattern(source, false), DatedGridName(source, d, 0, false)));
      EXPECT_TRUE(matches(DatedGridPattern(source, true), DatedGridName(source, d, 7, false)));
      for (int tens = 1; tens <= 8; ++tens)
        EXPECT_TRUE(matches(PeriodSumPattern(source, tens), PeriodSumName(source, tens, d))) << tens;
      for (int k = 1; k <= 2; ++k)
        EXPECT_TRUE(matches(VegetationPeriodPattern(source, k), VegetationPeriodName(source, k, d.year)));
      EXPECT_TRUE(matches(DatedStackPattern(source, false), DatedStackName(source, d.year, d.month, d.day, d.hour, 0)));
      EXPECT_TRUE(matches(DatedStackPattern(source, true), DatedStackName(source, d.year, d.month, d.day, d.hour, 3)));
    }
    // The stem keeps its own digits.
    EXPECT_FALSE(matches(DatedGridPattern("t2m.asc", false), DatedGridName("t3m.asc", d, 0, false)));
  }
}

}  // namespace
