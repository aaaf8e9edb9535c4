// The per-layer land-use parameter grids: made for the start date, set once a day,
// vegetation markers counted, guarded against codes outside the table.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "framework/text_helpers.h"
#include "init/init_harness.h"
#include "framework/thread_policy.h"

namespace {

constexpr double kNo = -9999.0;

std::string Section(const std::string& method, const std::string& extra) {
  return "1\n10 grassland { method = " + method +
         ";\n RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45;\n JulDays = 1 100 200 366;\n"
         "Albedo = 0.2 0.2 0.3 0.2;\n rsc = 80 70 60 80;\n LAI = 1 2 4 1;\n Z0 = 0.1 0.1 0.2 0.1;\n"
         " VCF = 0.5 0.6 0.9 0.5;\n RootDepth = 0.2 0.3 0.5 0.2;\n AltDep = 0 0 0 0;\n" +
         extra + "}\n";
}

struct Basin {
  InitHarness h;
  double** landuse = nullptr;
  MatrixOwner m1, m2, m3, m4;
  explicit Basin(const std::string& extra = "", const std::string& method = "VariableDayCount") {
    h.Domain(3, 2);
    h.AllBasin();
    h.Put(2, "[elevation_model]", h.Filled(300.0));
    h.Put(3, "albedo", h.Filled(0.5));
    landuse = h.Put(4, "landuse1", Rows{{1, 1, kNo}, {1, 7, 1}});  // 7: no such row
    TextCursor c(Section(method, extra));
    h.d->landuseTable = ReadLanduseSection(&h.log.log(), c, 1);
    h.d->landuseLayerGrids = {nullptr, landuse};
    h.d->landuseLayerCount = 1;
    // The first step on 2 January: the parameters in force are those of 1 January.
    h.d->run.start.hour = 1;
    h.d->run.start.day = 2;
    h.d->run.start.month = 1;
    h.d->run.start.year = 2023;
    m1.reset(h.d->matrix(1, 2, 0, 3, 0.0));
    m2.reset(h.d->matrix(1, 2, 0, 3, 0.0));
    m3.reset(h.d->matrix(1, 2, 0, 3, 0.0));
    m4.reset(h.d->matrix(1, 2, 0, 3, 0.0));
  }
  double** Grid(const std::string& name) {
    const int p = h.d->FindGrid(name);
    return p > 0 ? h.d->grids[p].data : nullptr;
  }
  void Step(int day, int month, int hour) {
    ModelDate d;
    d.year = 2023, d.month = month, d.day = day, d.hour = hour, d.minute = 0;
    h.d->UpdateLanduseParameters(d, 60, m1.get(), m2.get(), m3.get(), m4.get());
  }
};

}  // namespace

TEST(LanduseParameterGrids, StartUpFillsLayerGridsAndLeavesNoDataCodesEmpty) {
  Basin b;
  b.h.d->generateMultiLayerParameterGrids(1);
  double** root = b.Grid("root_depth1");
  ASSERT_NE(root, nullptr);
  EXPECT_NEAR(root[1][1], 0.2, 1e-12);
  EXPECT_EQ(root[1][3], kNo);  // no-data code
  EXPECT_EQ(root[2][2], kNo);  // a code outside the table is not used as a row
  EXPECT_NEAR(b.Grid("albedo")[1][1], 0.2, 1e-12);
  EXPECT_EQ(b.Grid("albedo")[1][3], kNo);
  EXPECT_EQ(b.Grid("VegetationStart1")[1][1], -1.0);
  EXPECT_EQ(b.Grid("VegetationStop1")[1][1], -1.0);
  EXPECT_NE(b.Grid("SurfaceEvaporationResistance"), nullptr);
  EXPECT_EQ(b.Grid("SumOfForcingUnits1"), nullptr);  // no dynamic row
}

// The time loop sets the parameters at the end of each day; a run that starts before that
// hour begins with the day before's, as the run it continues holds them, also across the
// turn of the year.
TEST(LanduseParameterGrids, StartUpFillsTheParametersInForceAtTheFirstStep) {
  struct Case {
    int hour, day, month, year;
    double minToIntEnd, depth;
  } cases[] = {
      {1, 10, 4, 2023, 0.0, 0.2 * 1.0 / 99.0 + 0.3 * 98.0 / 99.0},  // day 99
      {24, 10, 4, 2023, 0.0, 0.2 * 1.0 / 99.0 + 0.3 * 98.0 / 99.0},  // the first step ends the day
      {24, 10, 4, 2023, 60.0, 0.3},                                    // day 100 ended at hour 23
      {1, 1, 1, 2023, 0.0, 0.5 * 1.0 / 166.0 + 0.2 * 165.0 / 166.0},  // 31 December 2022
  };
  for (const Case& k : cases) {
    Basin b;
    b.h.d->run.start.hour = k.hour, b.h.d->run.start.day = k.day, b.h.d->run.start.month = k.month;
    b.h.d->run.start.year = k.year;
    b.h.d->run.minToIntEnd = k.minToIntEnd;
    b.h.d->generateMultiLayerParameterGrids(1);
    EXPECT_NEAR(b.Grid("root_depth1")[1][1], k.depth, 1e-12) << k.hour << " " << k.day << "." << k.month;
  }
}

TEST(LanduseParameterGrids, MissingAlbedoEndsTheStartUp) {
  Basin b;
  b.h.d->FreeGrid(3);
  b.h.d->grids[3].internalName.clear();
  EXPECT_EQ(ThrownCode([&] { b.h.d->generateMultiLayerParameterGrids(1); }), 12);
  EXPECT_NE(b.h.Console().find("Albedo Grid not found"), std::string::npos);
}

TEST(LanduseParameterGrids, ClearedAlbedoBitKeepsTheReadAlbedo) {
  Basin b("useInternalParameters = 11111110;\n");
  b.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(b.Grid("albedo")[1][1], 0.5);
  b.Step(10, 4, 24);
  EXPECT_EQ(b.Grid("albedo")[1][1], 0.5);
}

TEST(LanduseParameterGrids, DailyPartRunsAtHour24AndBoundsValues) {
  Basin b;
  b.h.d->generateMultiLayerParameterGrids(1);
  b.Step(10, 4, 12);  // day 100, not yet the end of the day
  EXPECT_NEAR(b.Grid("root_depth1")[1][1], 0.2, 1e-12);
  b.Step(10, 4, 24);
  EXPECT_NEAR(b.Grid("root_depth1")[1][1], 0.3, 1e-12);
  EXPECT_NEAR(b.Grid("leaf_area_index1")[1][1], 2.0, 1e-12);
  EXPECT_NEAR(b.Grid("vegetation_coverage_degree1")[1][1], 0.6, 1e-12);
  EXPECT_EQ(b.Grid("root_depth1")[1][3], kNo);
  EXPECT_NE(b.h.Console().find("actual parameters"), std::string::npos);
}

TEST(LanduseParameterGrids, ResultsDoNotDependOnTheThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int before = omp_get_max_threads();
  std::vector<double> first;
  for (int threads : {1, 2, 8}) {
    omp_set_num_threads(threads);
    Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 30;\n",
            "DynamicPhenology_1");
    b.h.Put(5, "temperature", Rows{{20, 24, 28}, {10, 23.4, 30}});
    b.h.d->generateMultiLayerParameterGrids(1);
    for (int d = 1; d <= 5; ++d) b.Step(d, 5, 24);
    std::vector<double> v;
    for (const char* name : {"root_depth1", "VegetationDuration1", "VegetationStart1", "RoughnessLength1",
                             "SumOfForcingUnits1", "Pheno_start1", "TemperatureMOVAVG7"})
      for (int i = 1; i <= 2; ++i)
        for (int j = 1; j <= 3; ++j) v.push_back(b.Grid(name)[i][j]);
    if (first.empty())
      first = v;
    else
      EXPECT_EQ(v, first) << threads << " threads";
  }
  omp_set_num_threads(before);
}

TEST(LanduseParameterGrids, ForcingSumStartsTheVegetationOfADynamicRow) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 20;\n",
          "DynamicPhenology_1");
  b.h.Put(5, "temperature", b.h.Filled(23.4));  // 14.2 forcing units a day
  b.h.d->generateMultiLayerParameterGrids(1);
  ASSERT_NE(b.Grid("SumOfForcingUnits1"), nullptr);
  EXPECT_EQ(b.Grid("SumOfForcingUnits1")[1][1], 0.0);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], -1.0);
  EXPECT_EQ(b.Grid("FStar_ForcingThreshold1")[1][1], 20.0);
  EXPECT_EQ(b.Grid("SumOfForcingUnits1")[1][3], kNo);
  ModelDate d;
  d.year = 2023, d.month = 4, d.day = 10, d.hour = 24, d.minute = 0;
  auto day = [&](int dd) {
    d.day = dd;
    b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  };
  day(10);  // day 100
  EXPECT_NEAR(b.Grid("SumOfForcingUnits1")[1][1], 14.2, 1e-9);
  EXPECT_NEAR(b.Grid("TemperatureMOVAVG7")[1][1], 23.4, 1e-9);
  EXPECT_EQ(b.Grid("TemperatureAVG")[1][1], 0.0);  // restarted after the daily part
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], -1.0);
  day(11);
  EXPECT_NEAR(b.Grid("SumOfForcingUnits1")[1][1], 28.4, 1e-9);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], 101.0);
  day(12);  // the start stays, no more forcing
  EXPECT_NEAR(b.Grid("SumOfForcingUnits1")[1][1], 28.4, 1e-9);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], 101.0);
}

TEST(LanduseParameterGrids, DynamicRowWithoutTemperatureEndsTheRun) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 20;\n",
          "DynamicPhenology_1");
  b.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(ThrownCode([&] { b.Step(10, 4, 1); }), 33);
  EXPECT_NE(b.h.Console().find("for using dynamic phenology"), std::string::npos);
}

TEST(LanduseParameterGrids, BalanceDaysRaiseTheVegetationPeriodFlags) {
  Basin b;
  b.h.d->landuseTable[0].SetJDVegetationWriteForBalance(100);
  b.h.d->landuseTable[0].SetJDVegetationResetForBalance(101);
  b.h.d->generateMultiLayerParameterGrids(1);
  GridRecord& sums = b.h.d->grids[b.h.d->FindGrid("root_depth1")];
  sums.thousands = 1;
  b.Step(9, 4, 24);
  EXPECT_EQ(sums.vegetationPeriodEnded, 0);
  b.Step(10, 4, 24);  // day 100
  EXPECT_EQ(sums.vegetationPeriodEnded, 1);
  EXPECT_EQ(sums.vegetationPeriodBegins, 0);
  b.Step(11, 4, 24);
  EXPECT_EQ(sums.vegetationPeriodBegins, 1);
  EXPECT_EQ(b.h.d->grids[3].vegetationPeriodEnded + b.h.d->grids[3].vegetationPeriodBegins, 0);  // no period sums
}

TEST(LanduseParameterGrids, ChillingRowFollowsTheForcingRuleUntilItsDormancyBegins) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 20;\n"
          "DP2_t0_dorm = 280; DP2_t1_dorm = 30; DP2_T_Bf = 5; DP2_T_Bc = 2; DP2_Par_a = 300; DP2_Par_b = -0.01;\n",
          "DynamicPhenology_2");
  b.h.Put(5, "temperature", b.h.Filled(2.0));  // one chilling unit a day, no forcing
  b.h.d->generateMultiLayerParameterGrids(1);
  ModelDate d;
  d.hour = 24, d.minute = 0;
  auto day = [&](int dd, int mm, int yy) {
    d.day = dd, d.month = mm, d.year = yy;
    b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  };
  EXPECT_TRUE(b.h.d->landuseTable[1].GetDynamicStartSet());
  day(6, 10, 2023);  // day 279: still the forcing rule, no chilling
  EXPECT_EQ(b.Grid("SumOfChillingUnits1")[1][1], 0.0);
  day(7, 10, 2023);  // day 280: dormancy begins
  EXPECT_FALSE(b.h.d->landuseTable[1].GetDynamicStartSet());
  EXPECT_EQ(b.Grid("SumOfChillingUnits1")[1][1], 1.0);
  day(8, 10, 2023);
  EXPECT_EQ(b.Grid("SumOfChillingUnits1")[1][1], 2.0);
  day(29, 1, 2024);  // the day before forcing starts sets the threshold
  EXPECT_EQ(b.Grid("SumOfChillingUnits1")[1][1], 3.0);
  EXPECT_NEAR(b.Grid("FStar_ForcingThreshold1")[1][1], 300.0 * std::exp(-0.03), 1e-9);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], -1.0);
}

TEST(LanduseParameterGrids, ArcVegGridsAreRequiredWhenTheLayerTableGivesThem) {
  Basin b;
  b.h.d->multiLayerTable.resize(2);
  b.h.d->multiLayerTable[1].fractionCount = 2;
  EXPECT_NE(ThrownCode([&] { b.h.d->generateMultiLayerParameterGrids(1); }), -1);

  Basin c;
  c.h.d->multiLayerTable.resize(2);
  c.h.d->multiLayerTable[1].fractionCount = 2;
  double** arc = c.h.Put(6, "ArcVeg_Fraction_1", Rows{{0.5, -1, -1}, {0.5, 0.5, 0.5}});
  c.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(arc[1][2], -1.0);  // a land-use cell keeps its value
  EXPECT_EQ(arc[1][3], kNo);   // a cell without land use loses the negative value
}

TEST(LanduseParameterGrids, DeeperRootsRescaleTheSoilModelsRootZone) {
  Basin b;
  b.h.d->generateMultiLayerParameterGrids(1);  // root depth 0.2 on day 1
  double** c = b.h.Put(7, "available_soil_moisture", b.h.Filled(100.0));
  double** r = b.h.Put(8, "soil_storage", b.h.Filled(0.4));
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j)
      b.m1.get()[i][j] = 0.3, b.m2.get()[i][j] = 10.0, b.m3.get()[i][j] = 0.5, b.m4.get()[i][j] = 7.0;
  b.Step(10, 4, 24);  // day 100: root depth 0.3
  EXPECT_NEAR(c[1][1], 100.0 * 0.3 / 0.2, 1e-9);
  // The inactive zone (10 mm at 0.5) joins the active one, the remaining 40 mm enter dry.
  EXPECT_NEAR(r[1][1], (100.0 * 0.4 + 10.0 * 0.5) / 150.0, 1e-9);
  EXPECT_EQ(b.m2.get()[1][1], 0.0);
  EXPECT_EQ(b.m3.get()[1][1], 1.0);
  EXPECT_EQ(b.m1.get()[1][1], 0.3);  // saturated partition and interflow storage stay
  EXPECT_EQ(b.m4.get()[1][1], 7.0);
  EXPECT_NEAR(c[1][1] * r[1][1] + b.m2.get()[1][1] * b.m3.get()[1][1], 45.0, 1e-9);
  EXPECT_EQ(c[1][3], 100.0);  // no land use: nothing moves
  b.h.d->UpdateLanduseParametersWithSoilMoisture(ModelDate{0, 24, 20, 5, 2023}, 60);  // variant: no root zone
  EXPECT_NEAR(c[1][1], 150.0, 1e-9);
}

// The snow model lowers "root_depth1" to the permafrost's thaw depth in every step; the
// next day rescales the root zone from the depth it stood for, not from the lowered one, so
// half a year of thin thaw layers neither grows the capacity nor changes the water.
TEST(LanduseParameterGrids, PermafrostLoweringBetweenDaysLeavesTheRootZoneAlone) {
  Basin b;
  b.h.d->generateMultiLayerParameterGrids(1);  // root depth 0.2 on day 1
  double** c = b.h.Put(7, "available_soil_moisture", b.h.Filled(100.0));
  double** r = b.h.Put(8, "soil_storage", b.h.Filled(0.4));
  double** root = b.Grid("root_depth1");
  b.Step(1, 1, 1);  // the first step comes before the snow model
  const int days[] = {31, 28, 31, 30, 31, 30};
  for (int month = 1; month <= 6; ++month)
    for (int day = month == 1 ? 2 : 1; day <= days[month - 1]; ++day) {
      root[1][1] = 0.05;  // the thaw depth of the day's steps
      b.Step(day, month, 24);
      ASSERT_NEAR(c[1][1], 100.0 * root[1][1] / 0.2, 1e-9) << month << "/" << day;
      ASSERT_NEAR(c[1][1] * r[1][1] + b.m2.get()[1][1] * b.m3.get()[1][1], 40.0, 1e-9) << month << "/" << day;
    }
  EXPECT_NEAR(root[1][1], 0.3 + 0.2 * (181.0 - 100.0) / 100.0, 1e-9);  // the table's depth of 30 June
}

TEST(LanduseParameterGrids, DataStampedAtTheStepStartEndTheDayAtHour23) {
  Basin b;
  b.h.d->run.minToIntEnd = 60.0;  // hourly data stamped one hour before the end of the step
  b.h.d->generateMultiLayerParameterGrids(1);
  b.Step(10, 4, 22);
  EXPECT_NEAR(b.Grid("root_depth1")[1][1], 0.2, 1e-12);
  b.Step(10, 4, 23);
  EXPECT_NEAR(b.Grid("root_depth1")[1][1], 0.3, 1e-12);
}

TEST(LanduseParameterGrids, DegreeDayRowStartsAndSetsLeafFallAfterFiveColdDays) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 12;\n"
          "DP4_t0_dorm = 280; DP4_t1_dorm = 50; DP4_T0 = 0; DP4_T1 = 5; DP4_Par_a = 12; DP4_Par_b = 1;\n"
          "DP4_T_xylstop = 15; DP4_t_xs1 = 103; DP4_SPSLF = 9;\n",
          "DynamicPhenology_4");
  b.h.Put(5, "temperature", b.h.Filled(10.0));  // 5 degree-days, no chilling, a cold week
  b.h.d->generateMultiLayerParameterGrids(1);
  b.h.d->landuseTable[1].SetDynamicStartSet(false);  // as after the first dormancy
  ModelDate d;
  d.year = 2023, d.month = 4, d.hour = 24, d.minute = 0;
  auto day = [&](int dd) {
    d.day = dd;
    b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  };
  day(10);  // 100
  day(11);
  EXPECT_NEAR(b.Grid("SumOfForcingUnits1")[1][1], 10.0, 1e-12);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], -1.0);
  EXPECT_EQ(b.Grid("FStar_ForcingThreshold1")[1][1], 12.0);  // no chilling: a
  day(12);  // 102: 15 > 12
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], 102.0);
  const double* list = b.h.d->landuseGrids.fixDays[1][1][1];
  EXPECT_EQ(list[3], 102.0);  // the first fix day not before the start
  for (int dd = 13; dd <= 16; ++dd) day(dd);  // days 103..106: four cold days
  EXPECT_EQ(b.Grid("StartDayOfLeaveFall")[1][1], 0.0);
  day(17);  // 107: the fifth
  EXPECT_EQ(b.Grid("StartDayOfLeaveFall")[1][1], 107.0);
  EXPECT_EQ(list[3], 102.0);  // the shift point lies beyond the list: the list stays
  day(18);
  EXPECT_EQ(b.Grid("StartDayOfLeaveFall")[1][1], 107.0);
}

// In an hourly or a daily run every step adds its share of the day: the daily mean
// temperature and the seven-day mean are means, not sums of the steps.
TEST(LanduseParameterGrids, HourlyAndDailyStepsOfTheRunGiveTheDailyMeanTemperature) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 12;\n"
          "DP4_t0_dorm = 280; DP4_t1_dorm = 50; DP4_T0 = 0; DP4_T1 = 5; DP4_Par_a = 12; DP4_Par_b = 1;\n"
          "DP4_T_xylstop = 15; DP4_t_xs1 = 103; DP4_SPSLF = 9;\n",
          "DynamicPhenology_4");
  b.h.Put(5, "temperature", b.h.Filled(10.0));
  b.h.d->generateMultiLayerParameterGrids(1);
  b.h.d->output.timeStepMinutes = 60.0;
  ASSERT_EQ(b.h.d->StepMinutes(), 60);
  ModelDate d;
  d.year = 2023, d.month = 4, d.day = 10, d.minute = 0;
  for (int hour = 1; hour <= 24; ++hour) {
    d.hour = hour;
    b.h.d->UpdateLanduseParameters(d, b.h.d->StepMinutes(), b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  }
  EXPECT_NEAR(b.Grid("TemperatureMOVAVG7")[1][1], 10.0, 1e-12);
  b.h.d->output.timeStepMinutes = 0.0;  // no step set: hourly
  b.h.d->run.minToIntEnd = 0.0;
  EXPECT_EQ(b.h.d->StepMinutes(), 60);
  b.h.d->run.minToIntEnd = 30.0;  // where in its hour a stamp lies is no step
  EXPECT_EQ(b.h.d->StepMinutes(), 60);
  b.h.d->run.minToIntEnd = 1440.0;  // no records to tell: stamps that open their day
  EXPECT_EQ(b.h.d->StepMinutes(), 1440);
  // A daily run whose hour stamps mark the step's end (min_to_int_end 0): the step of its
  // records makes one step the whole day.
  b.h.d->SetRunStepMinutes(1440);
  ASSERT_EQ(b.h.d->StepMinutes(), 1440);
  d.day = 11, d.hour = 24;
  b.h.d->UpdateLanduseParameters(d, b.h.d->StepMinutes(), b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  EXPECT_NEAR(b.Grid("TemperatureMOVAVG7")[1][1], 10.0, 1e-12);
}

// Monthly resistances (the old positional rows) follow the calendar of the date: on
// 14 March of a leap year the interval from mid-February is 29 + 14 - 1 = 42 days long,
// not the 15 March of a 365-day table.
TEST(LanduseParameterGrids, MonthlyResistancesOfTheDayFollowTheCalendarDate) {
  Basin b;
  TextCursor c(
      "1\n10 grass 0.2 20 100 50 40 50 60 60 60 50 40 30 60 100 150 250 300 1 2 3 1 0.01 0.02 0.03 0.01 "
      "0.5 0.8 0.8 0.5 0.3 0.4 0.4 0.3\n");
  b.h.d->landuseTable = ReadLanduseSection(&b.h.log.log(), c, 1);
  b.h.d->generateMultiLayerParameterGrids(1);
  ModelDate d;
  d.year = 2024, d.month = 3, d.day = 14, d.hour = 24, d.minute = 0;
  b.h.d->UpdateLanduseParameters(d, 60, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  EXPECT_NEAR(b.Grid("SurfaceCanopyResistance1")[1][1], 100.0 + (50.0 - 100.0) * (42.0 - 15.0) / 31.0, 1e-9);
  EXPECT_EQ(b.Grid("SurfaceIntercepResistance1")[1][1], 20.0);
}

// At the end of the run the seven-day temperature history of every cell is kept as one
// stack beside the moving-average grid's name, with the number of days it holds, so that a
// later run can start from it.
TEST(LanduseParameterGrids, TheEndOfTheRunKeepsThePhenologyStateAsAStack) {
  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 12;\n"
          "DP4_t0_dorm = 280; DP4_t1_dorm = 50; DP4_T0 = 0; DP4_T1 = 5; DP4_Par_a = 12; DP4_Par_b = 1;\n"
          "DP4_T_xylstop = 15; DP4_t_xs1 = 103; DP4_SPSLF = 9;\n",
          "DynamicPhenology_4");
  double** t = b.h.Put(5, "temperature", b.h.Filled(4.0));
  b.h.d->generateMultiLayerParameterGrids(1);
  b.h.d->output.outputDirectory = b.h.dir.path() + "/";
  ModelDate d;
  d.year = 2023, d.month = 4, d.hour = 24, d.minute = 0;
  for (int day = 10; day <= 11; ++day) {
    d.day = day;
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 3; ++j) t[i][j] = day;
    b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  }
  b.h.d.Release();
  const std::string file = b.h.dir.file("TemperatureMOVAVG7.asc_End");
  ASSERT_EQ(ReadTextFile(file).size(), 48u + 2 * 3 * 9 * 4) << b.h.Console();  // single precision, 9 levels

  modelobject reader(&b.h.log.log(), "");
  reader.geometry = GridGeometry{3, 2, 0.0, 0.0, 100.0, -9999.0};
  double*** stack = nullptr;
  ASSERT_EQ(reader.ReadStack(file, stack, 0), kPhenologyDayCountLevel);
  EXPECT_EQ(stack[1][1][1], 11.0);  // the last day first
  EXPECT_EQ(stack[1][1][2], 10.0);
  EXPECT_EQ(stack[1][1][3], 0.0);
  EXPECT_EQ(stack[2][3][kPhenologyDayCountLevel], 2.0);  // two days
  reader.Free3DMatrix(stack);
}

// A run that reads "TemperatureMOVAVG7" from a file takes the history's day count from the
// stack beside it, whatever its values; a stack written without the count (levels 0..7)
// is taken to hold the days up to its oldest level with a value, and a WARNING says what
// it lacks; a count that is no whole number of days, or differs between cells, is refused.
TEST(LanduseParameterGrids, TheSevenDayHistoryTakesItsDayCountFromTheStack) {
  // Binary double stacks of 3 x 2 cells: day 1 at 5 °C, day 2 at 0.0 °C, day 3 at 4 °C
  // (newest first), and at level 8 the count of each cell (none when count < 0).
  auto writeStack = [](const std::string& path, double count, double otherCount) {
    const int levels = count < 0 ? kPhenologyStateLevels : kPhenologyDayCountLevel;
    std::vector<double> v = {3, 2, 0, 0, 100, -9999, 0, 0, 0, 0, 0, static_cast<double>(levels)};
    for (int cell = 0; cell < 6; ++cell)
      for (int l = 0; l <= levels; ++l)
        v.push_back(l == 1 ? 4.0 : l == 3 ? 5.0 : l == kPhenologyDayCountLevel ? (cell == 5 ? otherCount : count) : 0.0);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()),
                                                static_cast<std::streamsize>(v.size() * sizeof(double)));
  };
  struct Case {
    const char* what;
    double count, otherCount;
    int days, code;
    const char* said;
  } cases[] = {
      {"counted", 3, 3, 3, -1, ""},
      {"counted, the oldest day not yet 7", 5, 5, 5, -1, ""},
      {"without its count", -1, -1, 3, -1, "holds no count of its days (a stack of 8 levels, without level 8): the run "
                                             "takes it to hold 3 days"},
      {"a count of no whole day", 2.5, 2.5, 0, 22, "holds 2.5 at level 8 of row 1, column 1"},
      {"a count beyond seven", 8, 8, 0, 22, "holds 8 at level 8 of row 1, column 1"},
      {"counts that differ", 3, 2, 0, 22, "holds 2 at level 8 of row 2, column 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 12;\n",
            "DynamicPhenology_1");
    const std::string file = b.h.dir.file("tmov.asc");
    b.h.Put(5, "TemperatureMOVAVG7", b.h.Filled(0.0), file);
    b.h.d->standardGrids.resize(6);
    b.h.d->standardGrids[5].fileName = file;
    b.h.d->standardGrids[5].internalName = "TemperatureMOVAVG7";
    writeStack(file + "_End", c.count, c.otherCount);
    const int code = ThrownCode([&] { b.h.d->generateMultiLayerParameterGrids(1); });
    EXPECT_EQ(code, c.code) << b.h.Console();
    EXPECT_NE(b.h.Console().find(c.said), std::string::npos) << b.h.Console();
    if (code < 0) {
      EXPECT_EQ(b.h.d->landuseGrids.dayCounter, c.days);
    }
  }
}

// The grids the start-up makes (not those the control file supplies) count as standard
// grids: the per-step output writes them by their write codes, without moving the block of
// standard grids it writes in order.
TEST(LanduseParameterGrids, GridsMadeAtStartUpCountAsStandardGridsAndAreWrittenByTheirWriteCodes) {
  Basin b;
  b.h.d->standardGridCount = 2;  // the albedo and land-use grids of [standard_grids]
  b.h.d->output.outputDirectory = b.h.dir.path() + "/";
  b.h.d->output.writeAsciiGrids = true;
  const int lastBefore = b.h.d->LastStandardGridPosition();
  b.h.Put(5, "leaf_area_index1", b.h.Filled(3.0));  // supplied: used, not made
  b.h.d->generateMultiLayerParameterGrids(1);
  const std::vector<int>& made = b.h.d->landuseGrids.createdPositions;
  ASSERT_EQ(made.size(), 9u);  // SurfaceEvaporationResistance and eight of the nine layer grids
  EXPECT_EQ(b.h.d->standardGridCount, 11);
  EXPECT_EQ(b.h.d->run.standardGridCount, 11);
  EXPECT_EQ(b.h.d->LastStandardGridPosition(), lastBefore);
  EXPECT_EQ(std::count(made.begin(), made.end(), 5), 0);

  const int root = b.h.d->FindGrid("root_depth1");
  b.h.d->grids[root].units = 1;
  b.h.d->WriteStandardGrids(ModelDate{0, 24, 10, 4, 2023});
  EXPECT_NE(ReadTextFile(b.h.dir.file("root_depth_Layer_1.asc")).find("ncols"), std::string::npos);
  EXPECT_FALSE(std::ifstream(b.h.dir.file("RoughnessLength_Layer_1.asc")).good());  // write code 0
}

// Rows of methods 5 and 6 keep each cell's fix days in the grid stack "MultipleStartTimes<k>"
// (levels 0..n), which other modules find by name; its plain grid is level 1.
TEST(LanduseParameterGrids, PerCellFixDaysAreTheGridStackMultipleStartTimes) {
  Basin plain;
  plain.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(plain.h.d->FindGrid("MultipleStartTimes1"), 0);  // no row of method 5 or 6

  Basin b("DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 12;\n"
          "DP4_t0_dorm = 280; DP4_t1_dorm = 50; DP4_T0 = 0; DP4_T1 = 5; DP4_Par_a = 12; DP4_Par_b = 1;\n"
          "DP4_T_xylstop = 15; DP4_t_xs1 = 103; DP4_SPSLF = 9;\n",
          "DynamicPhenology_4");
  b.h.Put(5, "temperature", b.h.Filled(10.0));
  const int before = b.h.d->standardGridCount;
  b.h.d->generateMultiLayerParameterGrids(1);
  const int p = b.h.d->FindGrid("MultipleStartTimes1");
  ASSERT_GT(p, 0);
  const GridRecord& rec = b.h.d->grids[p];
  EXPECT_EQ(rec.stack, b.h.d->landuseGrids.fixDays[1]);
  EXPECT_EQ(rec.stackLevels, 4);  // four fix days
  EXPECT_EQ(rec.stack[1][1][1], 1.0);
  EXPECT_EQ(rec.data[1][1], 1.0);
  EXPECT_EQ(rec.stack[1][3][1], kNo);  // no land use
  EXPECT_EQ(rec.data[1][3], kNo);
  EXPECT_EQ(b.h.d->standardGridCount - before, static_cast<int>(b.h.d->landuseGrids.createdPositions.size()));
  // A grid registered behind the stack is still found.
  b.h.d->Register(b.h.d->FirstFreeGridPosition(), "later.asc", b.h.d->NewOwnedGrid(1, 2), "later", 0);
  EXPECT_GT(b.h.d->FindGrid("later"), p);

  b.h.d->landuseTable[1].SetDynamicStartSet(false);
  ModelDate d;
  d.year = 2023, d.month = 4, d.hour = 24, d.minute = 0;
  for (int day = 10; day <= 12; ++day) {
    d.day = day;
    b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
  }
  EXPECT_EQ(rec.stack[1][1][3], 102.0);  // the start, set by the phenology in the stack itself
  EXPECT_EQ(rec.data[1][1], rec.stack[1][1][1]);
}

// A cell whose vegetation started before the run (its start day read with "Pheno_start1")
// takes at the start-up the values after its start, as the daily update of the run that
// wrote that start did; a cell not yet started keeps the dormant ones.
TEST(LanduseParameterGrids, StartUpTakesTheValuesAfterASuppliedStartDay) {
  Basin b;
  // Fix point 2 is the start the phenology sets, fix point 3 lies 200 days after it.
  std::string section = Section("DynamicPhenology_1",
                                "DP1_t1_dorm = 1; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150; F* = 30;\n");
  section.replace(section.find("JulDays = 1 100"), 15, "JulDays = 1 -1 ");
  TextCursor c(section);
  b.h.d->landuseTable = ReadLanduseSection(&b.h.log.log(), c, 1);
  ASSERT_EQ(b.h.d->landuseTable[1].GetDynamicFixIndex(), 2);
  // The first step on 2 April 2023 at 1 h: the values in force are those of day 91.
  b.h.d->run.start.day = 2, b.h.d->run.start.month = 4;
  b.h.Put(5, "Pheno_start1", Rows{{60, -1, kNo}, {60, 60, 60}});
  b.h.d->generateMultiLayerParameterGrids(1);
  double** lai = b.Grid("leaf_area_index1");  // LAI = 1 2 4 1
  EXPECT_NEAR(lai[1][1], 2.0 + 2.0 * (91.0 - 60.0) / 200.0, 1e-12);  // started on day 60
  EXPECT_NEAR(lai[1][2], 1.0, 1e-12);                                 // not started: dormant
  EXPECT_NEAR(b.Grid("root_depth1")[1][1], 0.3 + 0.2 * (91.0 - 60.0) / 200.0, 1e-12);
}

namespace {

// A row of DynamicPhenology_4 with fix days 1, its start (-1), 10 days after the start and
// 366 (LAI = 1 2 4 1): by its own rule degree days above 5 °C pass 12 on its first day of
// 23.4 °C (none at 5 °C), and from day 100 on, five days under a seven-day mean of 30 °C
// after the start make the leaves fall: fix point 4 moves to that day, and fix point 3, then
// after it, to the day before.
std::string Dp4Section(int latestStart) {
  std::string s = Section("DynamicPhenology_4", "DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = " +
                                                    std::to_string(latestStart) + "; F* = 12;\n"
                                                    "DP4_t0_dorm = 280; DP4_t1_dorm = 50; DP4_T0 = 0; DP4_T1 = 5; "
                                                    "DP4_Par_a = 12; DP4_Par_b = 1;\nDP4_T_xylstop = 30; DP4_t_xs1 = 100; "
                                                    "DP4_SPSLF = 4;\n");
  s.replace(s.find("JulDays = 1 100 200 366"), 23, "JulDays = 1 -1 10 366");
  return s;
}

void UseTable(Basin& b, const std::string& section) {
  TextCursor c(section);
  b.h.d->landuseTable = ReadLanduseSection(&b.h.log.log(), c, 1);
}

// A grid at position p that the start-up takes as read from its file (a state grid).
double** PutRead(Basin& b, int p, const std::string& name, const Rows& rows, const std::string& file) {
  if (b.h.d->standardGrids.size() <= static_cast<size_t>(p)) b.h.d->standardGrids.resize(static_cast<size_t>(p) + 1);
  b.h.d->standardGrids[static_cast<size_t>(p)].fileName = file;
  b.h.d->standardGrids[static_cast<size_t>(p)].internalName = name;
  return b.h.Put(p, name, rows, file);
}

}  // namespace

// A run that reads the starts ("Pheno_start1") goes on with what the run that wrote them had
// reached beside them: the rule its rows followed and each cell's fix days, with the start
// and the leaf fall marked; a cell not started stays so, though the run begins after the
// latest start day. Without that state (a stack of an older build) the run says so and the
// fix days hold the starts read.
TEST(LanduseParameterGrids, AWarmStartGoesOnWithTheRulesAndFixDaysOfTheRunBefore) {
  Basin first;
  UseTable(first, Dp4Section(150));
  first.h.Put(5, "temperature", Rows{{23.4, 5.0, 23.4}, {23.4, 23.4, 23.4}});
  first.h.d->run.start.day = 2, first.h.d->run.start.month = 4;
  first.h.d->generateMultiLayerParameterGrids(1);
  first.h.d->landuseTable[1].SetDynamicStartSet(false);  // its own rule, as after its dormancy day
  ModelDate d;
  d.year = 2023, d.month = 4, d.hour = 24, d.minute = 0;
  for (d.day = 10; d.day <= 15; ++d.day)  // days 100 to 105: started on day 100, leaves fallen on day 104
    first.h.d->UpdateLanduseParameters(d, 1440, first.m1.get(), first.m2.get(), first.m3.get(), first.m4.get());
  const double* reached = first.h.d->landuseGrids.fixDays[1][1][1];
  ASSERT_EQ(std::vector<double>(reached, reached + 5), (std::vector<double>{0, 1, 100, 103, 104}));
  Rows starts(2, std::vector<double>(3));
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) starts[i - 1][j - 1] = first.Grid("Pheno_start1")[i][j];
  const std::string startFile = first.h.dir.file("Pheno_start_Layer_1.asc");
  first.h.d.Release();  // the end of the run writes the state
  ASSERT_TRUE(std::ifstream(startFile + "_End").good());

  for (const bool withState : {true, false}) {
    SCOPED_TRACE(withState ? "with the state" : "without it");
    if (!withState) std::remove((startFile + "_End").c_str());
    Basin next;  // from 20 June 2023 (day 171, after the latest start day 150)
    UseTable(next, Dp4Section(150));
    next.h.d->run.start.day = 20, next.h.d->run.start.month = 6;
    PutRead(next, 5, "Pheno_start1", starts, startFile);
    next.h.d->generateMultiLayerParameterGrids(1);
    EXPECT_EQ(next.Grid("Pheno_start1")[1][2], -1.0);  // not started: no start on day 140
    const double* list = next.h.d->landuseGrids.fixDays[1][1][1];
    const std::vector<double> expected = withState ? std::vector<double>{0, 1, 100, 103, 104}
                                                   : std::vector<double>{0, 1, 100, 110, 366};
    EXPECT_EQ(std::vector<double>(list, list + 5), expected);
    EXPECT_EQ(next.h.d->landuseTable[1].GetDynamicStartSet(), !withState);
    EXPECT_EQ(next.Grid("leaf_area_index1")[1][2], 1.0);  // the dormant value
    const std::string console = next.h.Console();
    EXPECT_NE(console.find("not the grid StartDayOfLeaveFall"), std::string::npos);
    EXPECT_EQ(console.find("no phenology state") == std::string::npos, withState) << console;
  }
}

// The state stack of a layer must fit the table: as many fix days, and each cell's rule 1
// or 0.
TEST(LanduseParameterGrids, AStateStackOfTheLayerThatDoesNotFitIsRefused) {
  const auto writeStack = [](const std::string& path, int levels, double rule) {
    std::vector<double> v = {3, 2, 0, 0, 100, -9999, 0, 0, 0, 0, 0, static_cast<double>(levels)};
    for (int cell = 0; cell < 6; ++cell)
      for (int l = 0; l <= levels; ++l) v.push_back(l == 0 ? rule : l == 1 ? 0.0 : l - 1.0);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()),
                                                static_cast<std::streamsize>(v.size() * sizeof(double)));
  };
  struct Case {
    const char* what;
    int levels;
    double rule;
    int code;
    const char* said;
  } cases[] = {
      {"fitting", 5, 0.0, -1, ""},
      {"of fewer fix days", 4, 0.0, 22, "holds 5 levels; the phenology state of land-use layer 1 is a stack of 6"},
      {"with a rule of 2", 5, 2.0, 22, "holds 2 at level 0 of row 1, column 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Basin b;
    UseTable(b, Dp4Section(150));
    const std::string file = b.h.dir.file("phs.asc");
    PutRead(b, 5, "Pheno_start1", b.h.Filled(-1.0), file);
    writeStack(file + "_End", c.levels, c.rule);
    EXPECT_EQ(ThrownCode([&] { b.h.d->generateMultiLayerParameterGrids(1); }), c.code) << b.h.Console();
    EXPECT_NE(b.h.Console().find(c.said), std::string::npos) << b.h.Console();
    if (c.code < 0) {
      EXPECT_FALSE(b.h.d->landuseTable[1].GetDynamicStartSet());
    }
  }
}

// A run that starts the phenology after a row's latest start day gives every cell the start
// that reaches the fix point after it on that day, in the fix days of the cell's list too;
// one that would lie before the year is refused naming the key. The first day's values are
// bounded as the daily update bounds them.
TEST(LanduseParameterGrids, TheLatestStartDayStartsTheCellsOfARunThatBeginsAfterIt) {
  Basin b;  // from 20 June 2023: the values of day 170
  UseTable(b, Dp4Section(150));
  b.h.d->run.start.day = 20, b.h.d->run.start.month = 6;
  b.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(b.Grid("Pheno_start1")[1][1], 140.0);
  const double* list = b.h.d->landuseGrids.fixDays[1][1][1];
  EXPECT_EQ(std::vector<double>(list, list + 5), (std::vector<double>{0, 1, 140, 150, 366}));
  EXPECT_NEAR(b.Grid("leaf_area_index1")[1][1], 4.0 - 3.0 * 20.0 / 216.0, 1e-12);

  Basin early;
  UseTable(early, Dp4Section(5));
  early.h.d->run.start.day = 20, early.h.d->run.start.month = 6;
  EXPECT_EQ(ThrownCode([&] { early.h.d->generateMultiLayerParameterGrids(1); }), 152);
  EXPECT_NE(early.h.Console().find("class 10 (grassland): the run begins after its maxStartJDforDP1 = 5, so every "
                                   "cell whose vegetation has not started takes the start that reaches fix point 3 "
                                   "of JulDays, 10 days after the start, on day 5: day -5, before the year"),
            std::string::npos)
      << early.h.Console();

  Basin smooth;
  std::string section = Section("VariableDayCount", "");
  section.replace(section.find("Z0 = 0.1 0.1 0.2 0.1"), 20, "Z0 = 0.001 0.001 0.001 0.001");
  UseTable(smooth, section);
  smooth.h.d->generateMultiLayerParameterGrids(1);
  EXPECT_EQ(smooth.Grid("RoughnessLength1")[1][1], 0.01);
}

// A late start of DynamicPhenology_4 whose leaf fall comes on its start day (fix point 3,
// 20 days after the start, is on or before any day of December): the leaves reach their
// largest value at the leaf fall and fall towards the fix point after it, which keeps its
// distance. Started on day 340 that season ends in December; started on day 352 it ends in
// the next year, and the first of January goes on with it. Every day the LAI lies within
// the row's values (1 to 4), never moves by more than a season's step from one day to the
// next, and the cell's fix days stay in order.
TEST(LanduseParameterGrids, ALateSeasonWithItsLeafFallCarriesToItsEnd) {
  for (const int startDay : {340, 352}) {
    SCOPED_TRACE(startDay);
    Basin b;
    std::string section = Section("DynamicPhenology_4", "DP1_t1_dorm = 50; DP1_T_Bf = 5; JDReset_TStart = 300; "
                                                        "maxStartJDforDP1 = 366; F* = 12;\nDP4_t0_dorm = 280; "
                                                        "DP4_t1_dorm = " + std::to_string(startDay) +
                                                        "; DP4_T0 = 0; DP4_T1 = 5; DP4_Par_a = 12; DP4_Par_b = 1;\n"
                                                        "DP4_T_xylstop = -50; DP4_t_xs1 = 1; DP4_SPSLF = 3;\n");
    section.replace(section.find("JulDays = 1 100 200 366"), 23, "JulDays = 1 -1 20 366");
    UseTable(b, section);
    b.h.Put(5, "temperature", b.h.Filled(23.4));  // 18.4 degree days a day: the start on day t1
    b.h.d->run.start.day = 26, b.h.d->run.start.month = 11;
    b.h.d->generateMultiLayerParameterGrids(1);
    b.h.d->landuseTable[1].SetDynamicStartSet(false);
    std::vector<double> lai;
    ModelDate d;
    d.hour = 24, d.minute = 0;
    for (int k = 0; k < 70; ++k) {  // 26 November 2023 to 3 February 2024
      d.year = k < 36 ? 2023 : 2024;
      d.month = k < 5 ? 11 : k < 36 ? 12 : k < 67 ? 1 : 2;
      d.day = k < 5 ? 26 + k : k < 36 ? k - 4 : k < 67 ? k - 35 : k - 66;
      b.h.d->UpdateLanduseParameters(d, 1440, b.m1.get(), b.m2.get(), b.m3.get(), b.m4.get());
      lai.push_back(b.Grid("leaf_area_index1")[1][1]);
      const double* list = b.h.d->landuseGrids.fixDays[1][1][1];
      for (int e = 2; e <= 4; ++e) {
        if (list[e] > 0) {
          ASSERT_LE(list[e - 1], list[e]) << "day " << k << ", fix point " << e;
        }
      }
    }
    EXPECT_EQ(b.Grid("StartDayOfLeaveFall")[1][1], startDay);
    for (size_t k = 0; k < lai.size(); ++k) {
      EXPECT_GE(lai[k], 1.0) << k;
      EXPECT_LE(lai[k], 4.0) << k;
      // The jump to the largest value at the leaf fall on the start day is the row's line.
      if (k > 0 && static_cast<int>(k) != startDay - 330) {
        EXPECT_LE(std::fabs(lai[k] - lai[k - 1]), 0.5) << k;
      }
    }
    // The season carried into January: the leaves still fall there.
    if (startDay == 352) {
      EXPECT_GT(lai[36], 3.0);
    }
  }
}
