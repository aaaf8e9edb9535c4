// Reading [landuse_table]: the section, the old positional line and the keyword entries.
#include <gtest/gtest.h>

#include <cmath>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/text_helpers.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "support/test_support.h"
#include "tables/landuse_table.h"

namespace {

const char* const kOldLine =
    "1 grass 0.2 20 30 30 40 50 60 60 60 50 40 30 60 100 150 250 300 1 2 3 1 0.01 0.02 0.03 0.01 "
    "0.5 0.8 0.8 0.5 0.3 0.4 0.4 0.3";

// A keyword entry of code 10 with the given method keyword and extra pairs.
std::string Entry(const std::string& method, const std::string& extra = "",
                  const std::string& days = "JulDays = 1 100 200 366;",
                  const std::string& values = "Albedo = 0.2 0.2 0.3 0.2;\n rsc = 80 70 60 80;\n"
                                              " LAI = 1 2 4 1;\n Z0 = 0.1 0.1 0.2 0.1;\n VCF = 0.5 0.6 0.9 0.5;\n"
                                              " RootDepth = 0.2 0.3 0.5 0.2;\n AltDep = 0 0 0 0;\n") {
  return "10 grassland { method = " + method + ";\n RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45;\n " + days +
         "\n" + values + extra + "}\n";
}

struct Read {
  CapturedLog log;
  std::vector<LanduseTableEntry> table;
  int error = 0;
  explicit Read(const std::string& section) {
    TextCursor c(section);
    try {
      table = ReadLanduseSection(&log.log(), c, 1);
    } catch (int code) {
      error = code;
    }
  }
};

// A section whose entry is refused (code 29) with the message, before the entry's own.
struct Refused {
  std::string section, message;
};
void ExpectRefused(const std::string& section, const std::string& message) {
  Read bad(section);
  EXPECT_EQ(bad.error, 29) << section;
  EXPECT_NE(bad.log.console().find(message), std::string::npos) << section << "\n" << bad.log.console();
  EXPECT_NE(bad.log.console().find(": some values could not be read\n"), std::string::npos) << bad.log.console();
}

}  // namespace

TEST(LanduseReader, OldLineFillsMonthlyResistancesAndFourFixPoints) {
  Read r(std::string("1\n") + kOldLine + "\n");
  ASSERT_EQ(r.error, 0) << r.log.console();
  ASSERT_EQ(r.table.size(), 2u);
  const LanduseTableEntry& e = r.table[1];
  EXPECT_EQ(e.GetCode(), 1);
  EXPECT_EQ(e.GetName(), "grass");
  EXPECT_EQ(e.GetMethod(), 1);
  EXPECT_EQ(e.GetFixPointCount(), 4);
  ASSERT_EQ(e.surfaceCanopyResistance.size(), 14u);
  EXPECT_EQ(e.surfaceCanopyResistance[0], 60.0);  // December
  EXPECT_EQ(e.surfaceCanopyResistance[13], 20.0);  // January
  EXPECT_EQ(e.surfaceEvaporationResistance, e.surfaceCanopyResistance);
  EXPECT_EQ(e.GetFixDay(0), 300 - 366);
  EXPECT_EQ(e.GetFixDay(4), 300);
  EXPECT_EQ(e.GetFixDay(5), -1);
  EXPECT_EQ(e.GetFixDay(-1), -1);
  EXPECT_EQ(e.GetAltitudeGradient(1), 0.025);
  EXPECT_EQ(e.GetAltitudeGradient(0), -0.025);
  EXPECT_EQ(e.GetAltitudeGradient(9), 0.0);
  EXPECT_EQ(e.leafAreaIndex[0], 1.0);
  EXPECT_EQ(e.rootDepth[2], 0.4);
  EXPECT_EQ(e.albedo, std::vector<double>(5, 0.2));
  EXPECT_EQ(e.GetTReduWet(), 0.95);
  EXPECT_EQ(e.GetParameterMask(), 0xff);
  EXPECT_EQ(e.GetETPHamonFactor(), 1.0);
  // 14 April: between the March and the April value at position 44 of 15..45.
  EXPECT_NEAR(e.GetSurfaceCanopyResistance(&r.log.log(), 14, 4, 2023, 1, 1, 1, 400.0), 30.0 + 10.0 * 29.0 / 30.0,
              1e-12);
  EXPECT_THROW(e.GetSurfaceCanopyResistance(&r.log.log(), 14, 13, 2023, 1, 1, 1, 400.0), int);
  EXPECT_DOUBLE_EQ(e.GetSurfaceCanopyResistanceAtDay(&r.log.log(), 74, 1, 1, 1, 400.0), 30.0);
  EXPECT_DOUBLE_EQ(e.GetSurfaceIntercepResistanceAtDay(&r.log.log(), 74, 1, 1, 1, 400.0), 20.0);
  // Fix-point values at 400 m, where the altitude gradients have no effect.
  EXPECT_DOUBLE_EQ(e.GetLeafAreaIndexAtDay(&r.log.log(), 125, 1, 1, 1, 400.0), 1.5);
  // At 800 m the spring fix days come 10 days later: day 110 is the first fix point.
  EXPECT_DOUBLE_EQ(e.GetLeafAreaIndexAtDay(&r.log.log(), 110, 1, 1, 1, 800.0), 1.0);
  EXPECT_DOUBLE_EQ(e.GetNFactorAtDay(&r.log.log(), 100), -9999.9);
  EXPECT_EQ(r.table[0].GetCode(), 1);
}

TEST(LanduseReader, BothFormatsInFileOrderWithTheHeaderRow) {
  Read r(std::string("2 # two classes\n") + kOldLine + "\n" + Entry("VariableDayCount"));
  ASSERT_EQ(r.error, 0) << r.log.console();
  ASSERT_EQ(r.table.size(), 3u);
  EXPECT_EQ(r.table[0].GetCode(), 2);
  EXPECT_EQ(r.table[1].GetMethod(), 1);
  const LanduseTableEntry& e = r.table[2];
  EXPECT_EQ(e.GetCode(), 10);
  EXPECT_EQ(e.GetName(), "grassland");
  EXPECT_EQ(e.GetMethod(), 2);
  EXPECT_EQ(e.GetFixPointCount(), 4);
  EXPECT_EQ(e.GetRootDist(), 1.0);
  EXPECT_EQ(e.GetHReduDry(), 3.45);
  EXPECT_EQ(e.GetETPHamonFactor(), 1.0);
  EXPECT_EQ(e.GetIntercepCap(), -1.0);
  EXPECT_EQ(e.GetForcingThreshold(1), -1.0);
  EXPECT_EQ(e.surfaceIntercepResistance, std::vector<double>(5, 20.0));
  EXPECT_EQ(e.surfaceEvaporationResistance, std::vector<double>(5, 200.0));
  int count = -1;
  const int* days = nullptr;
  e.GetSoilTillage(count, days);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(e.GetSR_cultivation(), 3);
  double a, b, c;
  e.GetSR_rough_coeff2(a, b, c);
  EXPECT_EQ(c, 0.142);
  EXPECT_DOUBLE_EQ(e.GetLeafAreaIndexAtDay(&r.log.log(), 150, 1, 1, 1, 1000.0), 3.0);
  // Old rows reset on day 1 (their default); no positive write day: 365.
  EXPECT_EQ(r.table[0].GetJDVegetationResetForBalance(), 1);
  EXPECT_EQ(r.table[0].GetJDVegetationWriteForBalance(), 365);
}

TEST(LanduseReader, HeaderTakesTheFirstPositiveBalanceDays) {
  Read r("3\n" + Entry("VariableDayCount", "JDVegetationResetForBalance = -1;") +
         Entry("VariableDayCount", "JDVegetationResetForBalance = 90;") +
         Entry("VariableDayCount", "JDVegetationResetForBalance = 120; JDVegetationWriteForBalance = 300;"));
  ASSERT_EQ(r.error, 0) << r.log.console();
  EXPECT_EQ(r.table[0].GetJDVegetationResetForBalance(), 90);
  EXPECT_EQ(r.table[0].GetJDVegetationWriteForBalance(), 300);
}

TEST(LanduseReader, EntryLinesAndBraces) {
  // The closing brace on the first line ends the entry there.
  Read one("1\n10 x { method = VariableDayCount; RootDist=1; TReduWet=1; HReduDry=1; JulDays = 100 200; "
           "Albedo=1 2; rsc=1 2; LAI=1 2; Z0=1 2; VCF=1 2; RootDepth=1 2; AltDep=0 0 }\n");
  ASSERT_EQ(one.error, 0) << one.log.console();
  EXPECT_EQ(one.table[1].altitudeGradient, std::vector<double>(3, 0.0));
  Read quoted("1\n" + Entry("\"VariableDayCount\""));
  EXPECT_EQ(quoted.error, 0) << quoted.log.console();
  // Without "{" on the first line the entry is no keyword entry, and no old positional line
  // either: named so.
  Read split("1\n10 x method = VariableDayCount\n{ RootDist = 1; }\n");
  EXPECT_EQ(split.error, 29);
  EXPECT_NE(split.log.console().find("land use entry 1, \"10 x\" at line 2: the line sets method = VariableDayCount "
                                     "but holds no \"{\""),
            std::string::npos);
}

TEST(LanduseReader, KeyLookupRules) {
  Read r("1\n" + Entry("VariableDayCount",
                       "useInternalParameters = x01111111;\n RootDist = 7;\n SR_cultivation = nonconserving;\n"
                       "SoilTillage = 100 250;\n n-factor = 1 2 3 4 5 6;\n IntercepCap = 2.5\n",
                       "JulDays = 15 46 74 105 135 165 196 227 258 288 319 349;",
                       "Albedo = 1 2 3 4 5 6 7 8 9 10 11 12; rsc = 1 2 3 4 5 6 7 8 9 10 11 12;"
                       "LAI = 1 2 3 4 5 6 7 8 9 10 11 12; Z0 = 1 2 3 4 5 6 7 8 9 10 11 12;"
                       "VCF = 1 2 3 4 5 6 7 8 9 10 11 12; RootDepth = 1 2 3 4 5 6 7 8 9 10 11 12;"
                       "AltDep = 0 0 0 0 0 0 0 0 0 0 0 0 0 0;"));
  ASSERT_EQ(r.error, 29);  // n-factor has fewer than twelve values
  Read ok("1\n" + Entry("VariableDayCount",
                        "useInternalParameters = x01111111;\n RootDist = 7;\n SR_cultivation = nonconserving;\n"
                        "SoilTillage = 100 250;\n IntercepCap = 2.5\n",
                        "JulDays = 15 46 74 105 135 165 196 227 258 288 319 349;",
                        "Albedo = 1 2 3 4 5 6 7 8 9 10 11 12; rsc = 1 2 3 4 5 6 7 8 9 10 11 12;"
                        "LAI = 1 2 3 4 5 6 7 8 9 10 11 12; Z0 = 1 2 3 4 5 6 7 8 9 10 11 12;"
                        "VCF = 1 2 3 4 5 6 7 8 9 10 11 12; RootDepth = 1 2 3 4 5 6 7 8 9 10 11 12;"
                        "AltDep = 0 0 0 0 0 0 0 0 0 0 0 0 0 0;"));
  ASSERT_EQ(ok.error, 0) << ok.log.console();
  const LanduseTableEntry& e = ok.table[1];
  EXPECT_EQ(e.GetFixPointCount(), 12);
  EXPECT_EQ(e.albedo[0], 12.0);
  EXPECT_EQ(e.GetUseInternalParameters().substr(0, 8), "01111111");
  EXPECT_EQ(e.GetParameterMask(), 0x7f);
  EXPECT_EQ(e.GetRootDist(), 1.0);  // the first of two
  EXPECT_EQ(e.GetSR_cultivation(), 2);
  int count = 0;
  const int* days = nullptr;
  e.GetSoilTillage(count, days);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(days[2], 250);
  EXPECT_EQ(days[0], 250 - 366);
  EXPECT_EQ(e.GetIntercepCap(), 2.5);  // the last pair without ";" runs to the end of the text
}

TEST(LanduseReader, BadEntriesEndTheRunWithTheirText) {
  struct Case {
    std::string section;
    std::string message;
  } cases[] = {
      {"1\n10 x 0.2 20 30\n", "landuse table code 10: some values could not be read\n10 x 0.2 20 30"},
      {"1\nabc x 0.2\n", "landuse table code 0:"},
      {"1\n\n", "landuse table code 1:"},
      {"1\n" + Entry("VariableDayCount", "SR_cultivation = none;"),
       "no valid value for parameter \"SR_cultivation\" for land use 10"},
      {"1\n" + Entry("DynamicPhenology_3", "ForcingThreshold = 0 1 1 0;", "JulDays = 2 100 200 366;"),
       "the first sample day (JulDay) must be 1 and not 2"},
      {"1\n" + Entry("DynamicPhenology_1", "DP1_T_Bf = 5; JDReset_TStart = 1; maxStartJDforDP1 = 150; F* = 1;"),
       "parameter \"DP1_t1_dorm\" not found for land use 10"},
      {"1\n" + Entry("VariableDayCount", "useInternalParameters = xyz;"), "some values could not be read\n{"},
      {"1\n" + Entry("VariableDayCount", "", "JulDays = ;"), "some values could not be read"},
      {"1\n10 " + std::string(200, 'n') + " { method = VariableDayCount; }\n", "some values could not be read"},
      {"2\n" + std::string(kOldLine) + "\n", "the file ends after 1 of 2 land use entries"},
      {"1\n10 x { method = VariableDayCount;\n RootDist = 1;\n",
       "land use entry 1, \"10 x\" at line 2: the file ends before its closing \"}\""},
      {"2\n10 x { method = VariableDayCount;\n RootDist = 1;\n11 y { method = VariableDayCount; }\n",
       "land use entry 1, \"10 x\" at line 2: its closing \"}\" is missing: line 4 begins another entry \"11 y {"},
      {"1\n10 x { method = VariableDayCount;\n RootDist = 1;\n[soil_table]\n}\n", "line 4 begins the section"},
      {"1\n10 x {method=DynamicPhenology1; }\n", "the method \"DynamicPhenology1\" is none of the land use methods"},
      // A method is a whole word: one that begins with a method's name is none.
      {"1\n" + Entry("VariableDayCounts"), "the method \"VariableDayCounts\" is none of the land use methods"},
      {"1\n" + Entry("VariableDayCount_2"), "the method \"VariableDayCount_2\" is none of the land use methods"},
  };
  for (const Case& c : cases) {
    Read r(c.section);
    EXPECT_EQ(r.error, 29) << c.section;
    EXPECT_NE(r.log.console().find(c.message), std::string::npos) << c.section << "\n" << r.log.console();
  }
  Read missing("1\n" + Entry("VariableDayCount").replace(Entry("VariableDayCount").find("RootDist"), 8, "Rootdist"));
  EXPECT_EQ(missing.error, 29);
  Read noCount("many\n");
  EXPECT_EQ(noCount.error, 17);
  Read negative("-1\n");
  EXPECT_EQ(negative.error, 17);
}

TEST(LanduseReader, DynamicPhenologyKeys) {
  const std::string dp1 = "F* = 120.5; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 1; maxStartJDforDP1 = 150;";
  Read one("1\n" + Entry("DynamicPhenology_1", dp1, "JulDays = 1 -1 200 366;"));
  ASSERT_EQ(one.error, 0) << one.log.console();
  EXPECT_EQ(one.table[1].GetMethod(), 3);
  EXPECT_EQ(one.table[1].GetDynamicFixIndex(), 2);
  EXPECT_EQ(one.table[1].GetDynamicStartShift(), -1);
  EXPECT_EQ(one.table[1].GetFStar(), 120.5);
  EXPECT_EQ(one.table[1].GetMaxStartJDforDP1(), 150);

  Read two("1\n" + Entry("DynamicPhenology_2", dp1 +
                                                   "DP2_t0_dorm = 1; DP2_t1_dorm = 2; DP2_T_Bf = 3; DP2_T_Bc = 4;"
                                                   "DP2_Par_a = 5; DP2_Par_b = 6;"));
  ASSERT_EQ(two.error, 0) << two.log.console();
  EXPECT_EQ(two.table[1].GetDP2_Offset_1(), -3.4);
  EXPECT_EQ(two.table[1].GetDP2_Offset_2(), 12.0);
  EXPECT_EQ(two.table[1].GetDP2_T_Bc(), 4.0);
  EXPECT_NE(two.log.console().find("parameter \"DP2_Offset_1\" not found for land use 10; Using default of -3.4"),
            std::string::npos);

  Read three("1\n" + Entry("DynamicPhenology_3", dp1 + "ForcingThreshold = 0 10 20 0;"));
  ASSERT_EQ(three.error, 0) << three.log.console();
  EXPECT_EQ(three.table[1].GetForcingThreshold(3), 20.0);
  EXPECT_EQ(three.table[1].GetForcingThreshold(5), -1.0);
}

TEST(LanduseReader, DynamicRowWithoutStartKeepsTheDormantValue) {
  const std::string dp1 = "F* = 1; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 1; maxStartJDforDP1 = 150;";
  Read r("1\n" + Entry("DynamicPhenology_1", dp1, "JulDays = 1 -1 30 366;"));
  ASSERT_EQ(r.error, 0) << r.log.console();
  const LanduseTableEntry& e = r.table[1];
  // LAI = 1 2 4 1: without a start day the value stays at fix point 1 after day 1.
  EXPECT_DOUBLE_EQ(e.GetLeafAreaIndexAtDay(&r.log.log(), 200, 1, 1, 1, 400.0), 1.0);
  // With a start day of 120 from the cell's grid: the leaf area grows over 30 days.
  std::vector<double> row(3, 120.0);
  double* rows[3] = {nullptr, row.data(), row.data()};
  double** grids[2] = {nullptr, rows};
  LanduseTableEntry copy = e;
  copy.SetStartDayGrids(grids);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 100, 1, 1, 1, 400.0), 1.0);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 135, 1, 1, 1, 400.0), 3.0);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 150, 1, 1, 1, 400.0), 4.0);
  // A start on day 350 of a common year puts fix point 3 on day 15 of the next year, where
  // the leaf area reaches it; the next year's days before the start lie on the season's line.
  row.assign(3, 350.0);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 360, 1, 1, 1, 400.0), 8.0 / 3.0);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 15, 1, 1, 1, 400.0), 4.0);
  EXPECT_DOUBLE_EQ(copy.GetLeafAreaIndexAtDay(&r.log.log(), 200, 1, 1, 1, 400.0), 849.0 / 351.0);
  // The start's year: that of the row's calendar year before the start, or of the year asked.
  copy.SetCalendarYear(1989);
  EXPECT_EQ(copy.StartYearLength(15, 350), 366);  // a start in 1988
  EXPECT_EQ(copy.StartYearLength(360, 350), 365);
  EXPECT_EQ(copy.StartYearLength(15, 350, 1986), 365);
  EXPECT_EQ(copy.StartYearLength(360, 350, 1988), 366);
  // An altitude no fix day can be corrected for ends the run with the cell's coordinates.
  EXPECT_THROW(
      {
        try {
          copy.GetRootDepthAtDay(&r.log.log(), 200, 1, 2, 1, std::nan(""));
        } catch (int code) {
          EXPECT_EQ(code, 152);
          throw;
        }
      },
      int);
  EXPECT_NE(r.log.console().find("altitude correction resulted in a Julian day of"), std::string::npos)
      << r.log.console();
  EXPECT_NE(r.log.console().find("Coordinates: i=2, j=1\nLayer=1"), std::string::npos);
}

TEST(LanduseReader, StartUpReadsTheSectionWhenPresent) {
  GridRegistry registry;
  int error = 0;
  CapturedLog log;
  defaultini d(error, &log.log(), "test.ctl", nullptr, 200, 1, registry.Records());
  d.controlFile.SetText("[model_time]\n1 x\n");
  d.controlFileOpen = true;
  d.ReadLanduseTable(1);
  EXPECT_TRUE(d.landuseTable.empty());
  d.controlFile.SetText(std::string("[landuse_table]\n1 # classes\n") + kOldLine + "\n[soil_table]\n0\n");
  d.ReadLanduseTable(1);
  ASSERT_EQ(d.landuseTable.size(), 2u);
  EXPECT_EQ(d.landuseTable[1].GetName(), "grass");
}

TEST(LanduseReader, RowDatesAndPhenologyStart) {
  const std::string dp1 = "F* = 1; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 1; maxStartJDforDP1 = 150;";
  Read r("2\n" + Entry("DynamicPhenology_1", dp1, "JulDays = 1 -1 200 366;") + Entry("VariableDayCount"));
  ASSERT_EQ(r.error, 0) << r.log.console();
  LanduseTableEntry& dynamic = r.table[1];
  EXPECT_EQ(dynamic.DayOfYear(31, 12, 2024), 366);
  EXPECT_THROW(
      {
        try {
          dynamic.DayOfYear(32, 12, 2024);
        } catch (int code) {
          EXPECT_EQ(code, 150);
          throw;
        }
      },
      int);
  dynamic.SetPhenologyStartDate(1, 5, 2023);  // day 121: not later than 150
  EXPECT_TRUE(dynamic.GetDynamicStartSet());
  EXPECT_EQ(dynamic.GetDynamicStartShift(), -1);
  dynamic.SetPhenologyStartDate(1, 7, 2023);  // day 182
  EXPECT_EQ(dynamic.GetDynamicStartShift(), 150 - 200);
  r.table[2].SetPhenologyStartDate(1, 7, 2023);
  EXPECT_FALSE(r.table[2].GetDynamicStartSet());
  EXPECT_EQ(LanduseTableEntry::Interpolate(0, 1, 10, 3, 5), 2.0);
  EXPECT_EQ(LanduseTableEntry::Interpolate(4, 1, 4, 3, 5), 1.0);
}

TEST(LanduseReader, RowsServeSeveralThreadsAtOnce) {
  Read r(std::string("1\n") + kOldLine + "\n");
  ASSERT_EQ(r.error, 0);
  const LanduseTableEntry& e = r.table[1];
  // Each thread evaluates the shared row at its own altitude; the results must match a
  // serial evaluation (the altitude correction must not leak between threads).
  const double altitudes[4] = {0.0, 400.0, 1200.0, 2400.0};
  double serial[4][366];
  for (int t = 0; t < 4; ++t)
    for (int day = 1; day <= 366; ++day) serial[t][day - 1] = e.GetLeafAreaIndexAtDay(nullptr, day, 1, 1, 1, altitudes[t]);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round)
        for (int day = 1; day <= 366; ++day)
          if (e.GetLeafAreaIndexAtDay(nullptr, day, 1, 1, 1, altitudes[t]) != serial[t][day - 1]) ++mismatches;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  // The explicit correction keeps its days in the row.
  e.CorrectFixPointsForAltitude(nullptr, -1, 800.0);
  EXPECT_EQ(e.JDcorr[1], 110);
  EXPECT_EQ(e.JDcorr[4], 290);
  EXPECT_EQ(e.FindFixPointInterval(nullptr, 111, -1, 800.0), 2);
}

TEST(LanduseReader, MonthlyValuesTakeFebruaryOfTheirYear) {
  Read r(std::string("1\n") + kOldLine + "\n");
  ASSERT_EQ(r.error, 0);
  const LanduseTableEntry& e = r.table[1];
  // 20 March: between March (30) and April (40) on positions 15..46.
  EXPECT_DOUBLE_EQ(e.GetSurfaceCanopyResistance(nullptr, 20, 3, 2024, 1, 1, 1, 0.0), 30.0 + 10.0 * 5.0 / 31.0);
  // 14 February: between January (20) and February (30) at position 44 of 15..(February + 15).
  EXPECT_DOUBLE_EQ(e.GetSurfaceCanopyResistance(nullptr, 14, 2, 2024, 1, 1, 1, 0.0),
                   20.0 + 10.0 * (14.0 + 31.0 - 1.0 - 15.0) / 29.0);  // 29 days of a leap February
  EXPECT_DOUBLE_EQ(e.GetSurfaceCanopyResistance(nullptr, 14, 2, 2023, 1, 1, 1, 0.0),
                   20.0 + 10.0 * (14.0 + 31.0 - 1.0 - 15.0) / 28.0);
}

// Numbers of the table are read as those of the rest of the control file: a whole number
// may carry a zero fraction or a bare point, and one that is not whole where a day or a code
// is read is refused naming it, rather than cut to its digits with the rest taken as the
// next value.
TEST(LanduseReader, NumbersAreReadAsInTheControlFile) {
  // Old line: "280.0" as the last fix day, "1." as the code; every later value keeps its place.
  std::string line = kOldLine;
  line.replace(line.find("300 1 2 3 1"), 11, "300.0 1 2 3 1");
  line.replace(0, 1, "1.");
  Read old(std::string("1\n") + line + "\n");
  ASSERT_EQ(old.error, 0) << old.log.console();
  const LanduseTableEntry& o = old.table[1];
  EXPECT_EQ(o.GetCode(), 1);
  EXPECT_EQ(o.GetName(), "grass");
  EXPECT_EQ(o.JD, (std::vector<int>{300 - 366, 100, 150, 250, 300}));
  EXPECT_EQ(o.leafAreaIndex, (std::vector<double>{1, 1, 2, 3, 1}));
  EXPECT_EQ(o.roughnessLength, (std::vector<double>{0.01, 0.01, 0.02, 0.03, 0.01}));
  EXPECT_EQ(o.rootDepth, (std::vector<double>{0.3, 0.3, 0.4, 0.4, 0.3}));
  line.replace(line.find("300.0"), 5, "300.");
  Read bare(std::string("1\n") + line + "\n");
  ASSERT_EQ(bare.error, 0) << bare.log.console();
  EXPECT_EQ(bare.table[1].JD, o.JD);
  EXPECT_EQ(bare.table[1].leafAreaIndex, o.leafAreaIndex);

  // Keyword entry: the same spellings in the fix days, the tillage days, a day key and the code.
  const std::string dp1 = "F* = 1; DP1_t1_dorm = 30.0; DP1_T_Bf = 5; JDReset_TStart = 1.; maxStartJDforDP1 = 150;"
                          "SoilTillage = 100.0, 250.;";
  std::string entry = Entry("DynamicPhenology_1", dp1, "JulDays = 1.0 -1. 30, 366.;");
  entry.replace(0, 2, "10.");
  Read keyword("1\n" + entry);
  ASSERT_EQ(keyword.error, 0) << keyword.log.console();
  const LanduseTableEntry& k = keyword.table[1];
  EXPECT_EQ(k.GetCode(), 10);
  EXPECT_EQ(k.JD, (std::vector<int>{0, 1, -1, 30, 366}));
  EXPECT_EQ(k.GetDynamicFixIndex(), 2);
  EXPECT_EQ(k.GetDP1_t1_dorm(), 30);
  EXPECT_EQ(k.GetJDReset_TStart(), 1);
  int count = 0;
  const int* days = nullptr;
  k.GetSoilTillage(count, days);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(days[2], 250);

  const Refused refused[] = {
      {"1\n" + std::string(kOldLine).replace(std::string(kOldLine).find("300 1 2 3"), 3, "300.5") + "\n",
       "landuse table code 1 (grass): \"300.5\" (fix day 4 of the line) is not a whole day of the year"},
      {"1\n1.5" + std::string(kOldLine).substr(1) + "\n",
       "[landuse_table], entry 1: \"1.5\" (the land-use code) is not a whole number"},
      {"1\n" + std::string(kOldLine).replace(std::string(kOldLine).find(" 0.2 "), 5, " 0,2 ") + "\n",
       "landuse table code 1 (grass): \"0,2\" (the albedo of the line) is not a number"},
      {"1\n" + Entry("VariableDayCount", "", "JulDays = 1 100 200.5 366;"),
       "landuse table code 10 (grassland): \"200.5\" (JulDays) is not a whole day of the year"},
      {"1\n" + Entry("VariableDayCount", "SoilTillage = 100 1e300;"), "\"1e300\" (SoilTillage) is not"},
      {"1\n" + Entry("VariableDayCount", "JDVegetationResetForBalance = 90.5;"),
       "\"90.5\" (JDVegetationResetForBalance) is not a whole day of the year"},
      {"1\n" + Entry("DynamicPhenology_1", "F* = 1; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 1.5; "
                                           "maxStartJDforDP1 = 150;"),
       "\"1.5\" (JDReset_TStart) is not a whole day of the year"},
      {"1\n" + Entry("VariableDayCount", "ETPHamonFactor = 1,5;"), "\"1,5\" (ETPHamonFactor) is not a number"},
      {"1\n" + Entry("VariableDayCount", "", "JulDays = 1 100 200 366;", "Albedo = 0.2 nan 0.3 0.2;\n"),
       "\"nan\" (Albedo, value 2) is not a number"},
  };
  for (const Refused& r : refused) ExpectRefused(r.section, r.message);
  // A value that is no number at all keeps its reading as 0.
  Read word("1\n" + Entry("VariableDayCount", "IntercepCap = none;"));
  ASSERT_EQ(word.error, 0) << word.log.console();
  EXPECT_EQ(word.table[1].GetIntercepCap(), 0.0);
}

// An old line is read whole or refused: a value more or less would move every later value
// by a place, so the line is refused naming the count of its values and the format's. Every
// list is read by one rule: blanks and commas separate its values.
TEST(LanduseReader, RowsAreReadWholeAndEveryListByOneRule) {
  // A remark after the 35 values still reads; an exponent that leaves a day whole is that day.
  std::string line = kOldLine;
  line.replace(line.find("300 1 2 3 1"), 3, "3e2");
  Read remark(std::string("1\n") + line + " meadow above 300 m\n");
  ASSERT_EQ(remark.error, 0) << remark.log.console();
  EXPECT_EQ(remark.table[1].JD, (std::vector<int>{300 - 366, 100, 150, 250, 300}));
  EXPECT_EQ(remark.table[1].rootDepth, (std::vector<double>{0.3, 0.3, 0.4, 0.4, 0.3}));

  // Lists with commas, with blanks before the commas, and a day in exponent form read as the
  // same list written with blanks.
  Read commas("1\n" + Entry("VariableDayCount", "", "JulDays = 1.1e2,150 250, 280;",
                            "Albedo = 0.20,0.18,0.18,0.20; rsc = 80 70 60 80; LAI = 1 2 4 1;\n"
                            " Z0 = 0.1 0.1 0.2 0.1; VCF = 0.4 ,0.8 ,0.8 ,0.4; RootDepth = 0.2\t0.3,\n0.5 0.2;"
                            " AltDep = 0 0 0 0;\n"));
  ASSERT_EQ(commas.error, 0) << commas.log.console();
  const LanduseTableEntry& e = commas.table[1];
  EXPECT_EQ(e.JD, (std::vector<int>{280 - 366, 110, 150, 250, 280}));
  EXPECT_EQ(e.albedo, (std::vector<double>{0.20, 0.20, 0.18, 0.18, 0.20}));
  EXPECT_EQ(e.vegetationCoverage, (std::vector<double>{0.4, 0.4, 0.8, 0.8, 0.4}));
  EXPECT_EQ(e.rootDepth, (std::vector<double>{0.2, 0.2, 0.3, 0.5, 0.2}));
  // A list longer than the fix days without a decimal comma: the values beyond are not read.
  Read longer("1\n" + Entry("VariableDayCount", "n-factor = 1 2 3 4 5;"));
  ASSERT_EQ(longer.error, 0) << longer.log.console();
  EXPECT_EQ(longer.table[1].nFactor, (std::vector<double>{4, 1, 2, 3, 4}));

  // The rest of the family the bad-input cases hold (1200 to 1205, 1007).
  const std::string days = "JulDays = 1 100 200 366;";
  const Refused refused[] = {
      {"1\n" + std::string(kOldLine) + " 0,3\n", "landuse table code 1 (grass): the line holds 36 values"},
      {"1\n1 grass 0.2 20 x\n", "\"x\" (canopy resistance 2 of the line) is not a number"},
      {"1\n" + Entry("VariableDayCount", "", days, "Albedo = 0.2 0.3 0.2;"), "Albedo holds 3 values; the entry reads 4"},
      {"1\n" + Entry("VariableDayCount", "", days, "Albedo = 0.2 x 0.3 0.2;"), "\"x\" (Albedo, value 2) is not a number"},
      {"1\n" + Entry("VariableDayCount", "ArcVegSeedMaxProb = 0.1, 0.x;"),
       "\"0.x\" (ArcVegSeedMaxProb, value 2) is not a number"},
  };
  for (const Refused& r : refused) ExpectRefused(r.section, r.message);

  // A key of one number without a value reads as 0, with a warning (a word: case 1206).
  Read empty("1\n" + Entry("VariableDayCount", "IntercepCap = ;"));
  ASSERT_EQ(empty.error, 0) << empty.log.console();
  EXPECT_NE(empty.log.console().find("landuse table code 10 (grassland): IntercepCap has no value; it reads as 0"),
            std::string::npos)
      << empty.log.console();
  EXPECT_EQ(empty.log.console().find("RootDist"), std::string::npos);
}

// A key of a keyword entry that no reader knows would leave its value at the default without
// a word: each is named once with its line, the entry and the key meant. Keys read only for
// other methods, pairs without blanks, remarks, what follows the "}" and old lines are not.
TEST(LanduseReader, KeysNoReaderKnowsAreNamed) {
  std::string entry = Entry("VariableDayCount",
                            " InterceptCap = 2;DP2_T_Bc = 4;ForcingThreshold = 0 1 1 0; LimitRedWet = 1;\n"
                            " # a remark = 1\n");
  entry.replace(entry.rfind("}\n"), 2, "} after = 1\n");
  Read r("2\n" + std::string(kOldLine) + "  # albedo = 0.2\n" + entry);
  ASSERT_EQ(r.error, 0) << r.log.console();
  const std::string console = r.log.console();
  const std::string where = "[landuse_table], the entry 10 grassland, line 13: no reader knows the key ";
  EXPECT_NE(console.find(where + "InterceptCap, so its value is not used; the nearest key of [landuse_table] is "
                                 "IntercepCap (its keys: method, RootDist,"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find(where + "LimitRedWet, so its value is not used; the nearest key of [landuse_table] is "
                                 "LimitReduWet"),
            std::string::npos)
      << console;
  size_t named = 0;
  for (size_t at = console.find("no reader knows"); at != std::string::npos; at = console.find("no reader", at + 1))
    ++named;
  EXPECT_EQ(named, 2u) << console;
  EXPECT_EQ(r.table[2].GetIntercepCap(), -1.0);  // what the WARNING says: the default
}
