// The grids and statistic tables written for the outside program of the coupling.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "init/coupling.h"
#include "init_harness.h"

namespace {

TEST(SummaryNames, SavedTotalsKeepTheDirectoryAndPrefixTheBaseName) {
  EXPECT_EQ(EndOfDayName("out.asc", 987, 3, 7), "SumTotal_EndOf_Day_0987_03_07_out.asc");
  EXPECT_EQ(EndOfDayName("res/out.asc", 987, 3, 7), "res/SumTotal_EndOf_Day_0987_03_07_out.asc");
  EXPECT_EQ(EndOfMonthName("a/b/out.asc", 2024, 11), "a/b/SumTotal_EndOf_Month_2024_11_out.asc");
  EXPECT_EQ(EndOfYearName("out.asc", 12345), "SumTotal_EndOf_Year_12345_out.asc");
}

TEST(SummaryNames, PeriodTestsOfTheRunningTotalCodes) {
  struct Case {
    const char* code;
    bool day, month, year;
  };
  for (const Case& c : {Case{"SumTotal", false, false, false}, Case{"SumTotal_D", true, false, false},
                        Case{"SumTotal_DM", true, true, false}, Case{"SumTotal_DMY", true, true, true},
                        Case{"SumTotal_M", false, true, false}, Case{"SumTotal_MY", false, true, true},
                        Case{"SumTotal_Y", false, false, true}, Case{"SumTotal_YX", false, false, false}}) {
    EXPECT_EQ(SavesAtEndOfDay(c.code), c.day) << c.code;
    EXPECT_EQ(SavesAtEndOfMonth(c.code), c.month) << c.code;
    EXPECT_EQ(SavesAtEndOfYear(c.code), c.year) << c.code;
  }
  EXPECT_TRUE(HasSumGrid("Mean"));
  EXPECT_TRUE(HasSumGrid("SumTotalX"));
  EXPECT_FALSE(HasSumGrid("sum"));
}

ExternalStatisticRecord TwoZones() {
  ExternalStatisticRecord r;
  r.name = "soil moisture";
  r.n = 3;
  r.zoneCodes = {0, 11, 12};
  r.values = {0.0, 2.0, 4.0};
  r.sums = {0.0, 1.0, 2.0};
  r.weights = {0.0, 0.25, 0.75};
  return r;
}

TEST(SummaryTable, ValuesByWriteCode) {
  ExternalStatisticRecord r = TwoZones();
  EXPECT_EQ(StatisticTableText(r, "Current", 2, 2, 987, 3, 7, 6),
            "date: 0987-03-07\nhour: 06h\nsoil moisture; 2 zones\n11\t2\n12\t4\naverage\t3.5\n");
  EXPECT_EQ(r.sums[1], 1.0);  // untouched by a plain code
  // Mean over two steps: the accumulated value plus the current one, halved.
  std::string mean = StatisticTableText(r, "Mean", 2, 2, 987, 3, 7, 6);
  EXPECT_NE(mean.find("11\t1.5\n12\t3\naverage\t2.625\n"), std::string::npos) << mean;
  EXPECT_EQ(r.sums[2], 6.0);
  std::string total = StatisticTableText(r, "SumTotal", 1, 2, 987, 3, 7, 6);
  EXPECT_NE(total.find("11\t5\n12\t10\n"), std::string::npos) << total;
}

TEST(SummaryTable, LongNamesAreCut) {
  ExternalStatisticRecord r = TwoZones();
  r.name = std::string(150, 'a') + "b";
  const std::string text = StatisticTableText(r, "Current", 1, 2, 2000, 1, 1, 0);
  EXPECT_NE(text.find("\n" + std::string(150, 'a') + "...; 2 zones\n"), std::string::npos);
}

// A 2x1 basin with a registered source grid "runoff" and output in ASCII.
struct Summary : ::testing::Test {
  void SetUp() override {
    h.Domain(2, 1);
    h.AllBasin();
    source = h.Put(2, "runoff", {{1.0, 3.0}});
    h.d->output.writeAsciiGrids = true;
  }
  ExternalWriteGrid& Add(const std::string& name, const std::string& code) {
    ExternalWriteGrid g;
    g.fileName = h.dir.file(name);
    g.internalName = "runoff";
    g.writeCode = code;
    if (HasSumGrid(code)) g.sum.reset(h.d->matrix(1, 1, 1, 2));
    g.data = source;
    h.d->coupling.writeGrids.push_back(std::move(g));
    return h.d->coupling.writeGrids.back();
  }
  bool Exists(const std::string& name) const { return std::ifstream(h.dir.file(name)).good(); }
  InitHarness h;
  double** source = nullptr;
};

TEST_F(Summary, RunningTotalsAreSavedForTheEndingPeriodsTheirCodeNames) {
  Add("dmy.asc", "SumTotal_DMY");
  Add("dm.asc", "SumTotal_DM");
  Add("my.asc", "SumTotal_MY");
  Add("plain.asc", "SumTotal");
  h.d->WriteSumTotal(0, 7, 3, 987, 0, true, true, true);
  for (const char* f : {"dmy.asc", "SumTotal_EndOf_Day_0987_03_07_dmy.asc", "SumTotal_EndOf_Month_0987_03_dmy.asc",
                        "SumTotal_EndOf_Year_0987_dmy.asc", "dm.asc", "SumTotal_EndOf_Day_0987_03_07_dm.asc",
                        "SumTotal_EndOf_Month_0987_03_dm.asc", "my.asc", "SumTotal_EndOf_Month_0987_03_my.asc",
                        "SumTotal_EndOf_Year_0987_my.asc", "plain.asc"})
    EXPECT_TRUE(Exists(f)) << f;
  for (const char* f : {"SumTotal_EndOf_Year_0987_dm.asc", "SumTotal_EndOf_Day_0987_03_07_my.asc",
                        "SumTotal_EndOf_Day_0987_03_07_plain.asc", "SumTotal_EndOf_Year_0987_plain.asc"})
    EXPECT_FALSE(Exists(f)) << f;
  // A running total is never set back.
  h.d->WriteSumTotal(1, 7, 3, 987, 0, false, false, false);
  EXPECT_EQ(h.d->coupling.writeGrids[3].sum[1][2], 6.0);
}

TEST_F(Summary, SumAndMeanCoverTheStepsSinceThePreviousWrite) {
  Add("sum.asc", "Sum");
  Add("mean.asc", "Mean");
  Add("now.asc", "Current");
  // With no accumulation since the previous write, the mean is the current grid.
  h.d->WriteSumTotal(0, 1, 1, 2000, 0, false, false, false);
  EXPECT_EQ(h.d->coupling.stepCounter, 0);
  EXPECT_EQ(h.d->coupling.writeGrids[1].sum[1][2], 0.0);  // set back after the write
  const std::string mean = ReadTextFile(h.dir.file("mean.asc"));
  EXPECT_NE(mean.find("\n1\t3\n"), std::string::npos) << mean;
  EXPECT_TRUE(Exists("now.asc"));

  h.d->AccumulateExternalGrids();
  source[1][1] = 5.0;
  h.d->AccumulateExternalGrids();
  h.d->AccumulateExternalGrids();
  source[1][1] = 3.0;
  // Three accumulated steps (1, 5, 5) and the step of the write (3).
  h.d->WriteSumTotal(0, 2, 1, 2000, 0, false, false, false);
  const std::string sum = ReadTextFile(h.dir.file("sum.asc"));
  EXPECT_NE(sum.find("\n14\t12\n"), std::string::npos) << sum;
  const std::string mean2 = ReadTextFile(h.dir.file("mean.asc"));
  EXPECT_NE(mean2.find("\n3.5\t3\n"), std::string::npos) << mean2;
}

TEST_F(Summary, StatisticTablesAreWrittenAndSumsStartAgainAfterEachWrite) {
  ExternalStatisticRecord r = TwoZones();
  h.d->coupling.statistics.push_back({h.dir.file("stat.txt"), "soil_moisture", "Sum", &r});
  h.d->coupling.statistics.push_back({h.dir.file("missing/dir/stat.txt"), "soil_moisture", "Sum", &r});
  h.d->WriteSumTotal(6, 7, 3, 987, 0, false, false, false);
  const std::string text = ReadTextFile(h.dir.file("stat.txt"));
  EXPECT_EQ(text.substr(0, 30), "date: 0987-03-07\nhour: 06h\nsoi") << text;
  EXPECT_EQ(r.sums[1], 0.0);
  // A table that cannot be opened is skipped without failing the run.
  EXPECT_FALSE(std::ifstream(h.dir.file("missing/dir/stat.txt")).good());
  EXPECT_EQ(h.d->coupling.stepCounter, 0);
}

TEST_F(Summary, AnEntityThatIsNotRegisteredEndsTheRun) {
  Add("x.asc", "Sum").internalName = "nothing";
  EXPECT_EQ(ThrownCode([&] { h.d->WriteSumTotal(0, 1, 1, 2000, 0, false, false, false); }), 33);
}

}  // namespace
