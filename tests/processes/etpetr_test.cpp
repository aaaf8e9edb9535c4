// The evapotranspiration module on small basins: construction checks, the grids and files
// it makes, the potential step for every method, snow evaporation and the water balance of
// real evapotranspiration.
#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

#include "interception_basin.h"
#include "process_basin.h"
#include "processes/evapotranspiration/et_kernels.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/snow/snow_basin.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

// The section as a list of lines, so that a test can replace one.
std::vector<std::string> SectionLines(int method, int interval) {
  return {"[evapotranspiration]",
          "1 # flow control",
          std::to_string(interval) + " # interval",
          std::to_string(method) + " # method",
          "1 1 1 1 1 1 1 1 1 1 1 1 # PEC",
          "0.2 0.2 0.2 0.3 0.3 0.3 0.3 0.3 0.3 0.2 0.2 0.2 # fh",
          "1.0 # fk",
          "etp.asc",
          "0",
          "etp.stat 2001",
          "etr.asc",
          "0",
          "etr.stat 2001",
          "evap.asc",
          "0",
          "evap.stat 2001",
          "evar.asc",
          "0",
          "evar.stat 2001",
          "snowev.asc",
          "0",
          "snowev.stat 2001",
          "eip.asc",
          "0",
          "eip.stat 2001",
          "rgex.stat 2001",
          "0.2 0.8 0 0 # c0..c3",
          "0.072 -0.808 1.749 -0.239 # CS",
          "0.7 0.1 # A B",
          "1000 # H",
          "3 4 5 6 7 8 8 7 6 5 4 3 # M",
          "0.6 0.1 # f v"};
}
// Line numbers (in SectionLines) of values that tests replace.
constexpr int kMethodLine = 3, kPecLine = 4, kFhLine = 5, kEtpStatLine = 9, kCLine = 26, kCsLine = 27, kABLine = 28,
              kHLine = 29, kMLine = 30, kFvLine = 31;

std::string Join(const std::vector<std::string>& lines) {
  std::string t;
  for (auto& l : lines) t += l + "\n";
  return t;
}

// A basin of rows x cols cells with every input of the four methods.
struct EtBasin {
  TempDir dir;
  CapturedLog log;
  ProcessBasin basin;
  ModuleOwner<verdunstungsmodellklasse> et;

  EtBasin(int rows = 3, int cols = 4, int layers = 1) : basin(rows, cols) {
    basin.landuse.resize(2);
    basin.Add("temperature", 15.0);
    basin.Add("temperature_14", 18.0);
    basin.Add("wind_speed", 2.0);
    basin.Add("air_humidity", 0.6);
    basin.Add("air_humidity_14", 0.5);
    basin.Add("global_radiation", 150.0);
    basin.Add("albedo", 0.2);
    basin.Add("SurfaceEvaporationResistance", 150.0);
    basin.Add("landuse", 1.0);
    for (int k = 1; k <= layers; ++k) {
      const std::string s = std::to_string(k);
      if (layers > 1) basin.Add("landuse" + s, 1.0);
      basin.Add("leaf_area_index" + s, 3.0);
      basin.Add("root_depth" + s, 0.5);
      basin.Add("vegetation_coverage_degree" + s, 0.8);
      basin.Add("SurfaceCanopyResistance" + s, 60.0);
      basin.Add("SurfaceIntercepResistance" + s, 0.0);
      basin.Add("RoughnessLength" + s, 0.1);
    }
    if (layers > 1) {
      basin.multiLayer.resize(2);
      basin.multiLayer[1].layerCount = layers;
      basin.multiLayer[1].k_extinct = 0.5;
      basin.multiLayer[1].LAI_scale = 8.0;
    }
    basin.Add("soil_storage", 0.8);
    basin.Add("available_soil_moisture", 120.0);
  }
  int Build(const std::vector<std::string>& lines, const std::string& extra = "") {
    WriteTextFile(dir.file("run.ctl"), Join(lines) + extra);
    ModuleInputs in = basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
    int error = -1;
    et = MakeModule<verdunstungsmodellklasse>(error, in);
    return error;
  }
  double** Grid(const std::string& name) { return basin.Grid(name); }
};

TEST(EvapotranspirationConstruction, BadSectionsStopWithTheirCodes) {
  struct Case {
    const char* what;
    int line;  // replaced line (-1: none)
    const char* text;
    int method;
    int interval;
    int layers;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"method 5", kMethodLine, "5", 1, 60, 1, 46, "must be 1 (Penman/Monteith)"},
      {"11 PEC values", kPecLine, "1 1 1 1 1 1 1 1 1 1 1 # PEC", 1, 60, 1, 45, "12 (monthly) values for the PEC"},
      {"11 fh values", kFhLine, "1 1 1 1 1 1 1 1 1 1 1", 1, 60, 1, 45, "fh-parameter"},
      {"11 amplitudes", kMLine, "1 1 1 1 1 1 1 1 1 1 1", 1, 60, 1, 45, "12 (monthly) values"},
      {"no statistics code", kEtpStatLine, "etp.stat", 1, 60, 1, 17, "Name of ETP-stat.file for"},
      {"f above 1", kFvLine, "1.5 0.1", 1, 60, 1, 10, "amplitude_fraction_day: 1.5"},
      {"one value for f and v", kFvLine, "0.5", 1, 60, 1, 10, "fraction for temperature amplitude"},
      {"c0 too small", kCLine, "0.04 0.96 0 0", 1, 60, 1, 10, "too small: 0.04"},
      {"c0 too large", kCLine, "0.6 0.4 0 0", 1, 60, 1, 10, "too large: 0.6"},
      {"c sum", kCLine, "0.2 0.7 0 0", 1, 60, 1, 10, "in ihrer Summe 1"},
      {"c sum in English", kCLine, "0.2 0.7 0 0", 1, 60, 1, 10, "must add up to 1; their sum is 0.9"},
      {"three radiation coefficients", kCLine, "0.2 0.8 0", 1, 60, 1, 10, "four coefficients"},
      {"CS constant", kCsLine, "0.5 0 0 0", 1, 60, 1, 10, "at minimum a linear relationship"},
      {"CS without root", kCsLine, "0.5 0.5 0 0", 1, 60, 1, 10, "No null point (root)"},
      {"transmissivity", kABLine, "0.3 0.4", 1, 60, 1, 10, "transmissivity"},
      {"one transmissivity value", kABLine, "0.7", 1, 60, 1, 10, "two coefficients"},
      {"H 0 in daily PM", kHLine, "0", 1, 1440, 1, 10, "elevation scale H"},
      {"Hamon with two layers", -1, "", 2, 1440, 2, 44, "only possible\nfor unlayered"},
      {"f not a number", kFvLine, "nan 0.1", 1, 60, 1, 10, "fraction for temperature amplitude"},
      {"c0 not a number", kCLine, "nan 0.8 0 0", 1, 60, 1, 10, "four coefficients"},
      {"transmissivity above 1", kABLine, "0.9 0.2", 1, 60, 1, 10, "A + |B| is 1.1; it must lie in 0 .. 1"},
      {"negative PEC", kPecLine, "1 1 -0.5 1 1 1 1 1 1 1 1 1", 2, 1440, 1, 10,
       "the Hamon coefficient (PEC) of month 3 is -0.5; it must be 0 or more"},
      {"negative PEC unused by Penman/Monteith", kPecLine, "-1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1", 1, 60, 1, 0, ""},
      {"large PEC", kPecLine, "1 1 1 1 1 1 4 1 1 1 1 1", 2, 1440, 1, 0, "(PEC) of month 7 is 4, far above"},
      {"negative open-water factor", kFvLine, "0.6 0.1\nHamonCorrectionOpenWater = -1", 2, 1440, 1, 10,
       "HamonCorrectionOpenWater is -1"},
      {"negative fh with Haude", kFhLine, "0.2 0.2 0.2 0.3 0.3 0.3 0.3 0.3 0.3 0.2 0.2 -0.1", 4, 1440, 1, 10,
       "Haude factor (fh) of month 12 is -0.1"},
      {"negative coast factor with Wendling", kFhLine + 1, "-1", 3, 1440, 1, 10, "coast factor fk (WENDLING) is -1"},
      {"negative amplitude in daily PM", kMLine, "3 4 5 6 7 8 -8 7 6 5 4 3", 1, 1440, 1, 10,
       "amplitude (M) of month 7 is -8"},
      {"v moves the day's share out of 0..1", kFvLine, "0.9 0.2", 1, 1440, 1, 0, "annual variation v"},
      {"PEC with decimal commas", kPecLine, "0,9 0,9 1,0 1,1 1,2 1,2 1,2 1,2 1,1 1,0 0,9 0,9", 2, 1440, 1, 45,
       "\"0,9\" on line 5 of "},
      {"PEC with decimal commas, the comma named", kPecLine, "0,9 1", 2, 1440, 1, 45,
       "the comma between digits makes no number"},
      {"one PEC value", kPecLine, "1.1 # PEC", 2, 1440, 1, 45, "line 5 of " },
      {"one PEC value, counted", kPecLine, "1.1 # PEC", 2, 1440, 1, 45, " holds 1 number (a row of numbers ends"},
      {"PEC as a list", kPecLine, "1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.1, 1.0, 1.0, 1.0, 1.0, 1.0,", 2, 1440, 1, 0, ""},
      {"transmissivity as a list", kABLine, "0.7;0.1", 1, 60, 1, 0, ""},
      {"misspelt open-water key", kFvLine, "0.6 0.1\nHamonCorrectionOpenWatr = 1.2", 2, 1440, 1, 0,
       "no reader knows the key HamonCorrectionOpenWatr, so its value is not used; the nearest key of "
       "[evapotranspiration] is HamonCorrectionOpenWater"},
      {"misspelt open-water key behind the cloudiness", kFvLine, "0.6 0.1\nclouds.stat 0\nHamonKorrektur = 1.2", 2,
       1440, 1, 0, "no reader knows the key HamonKorrektur"},
  };
  for (const Case& c : cases) {
    EtBasin b(3, 4, c.layers);
    if (c.interval > 720) b.basin.Add("temperature_night", 5.0);
    auto lines = SectionLines(c.method, c.interval);
    if (c.line >= 0) lines[static_cast<size_t>(c.line)] = c.text;
    EXPECT_EQ(b.Build(lines), c.code) << c.what;
    EXPECT_NE(b.log.console().find(c.message), std::string::npos) << c.what << ": " << b.log.console();
  }
  {  // H = 0 is fine for hourly steps; Hamon hourly only warns.
    EtBasin b;
    auto lines = SectionLines(1, 60);
    lines[kHLine] = "0";
    EXPECT_EQ(b.Build(lines), 0);
    EtBasin h;
    EXPECT_EQ(h.Build(SectionLines(2, 60)), 0);
    EXPECT_NE(h.log.console().find("should only be used\nfor daily time steps"),
              std::string::npos);
  }
  {  // Missing inputs: Wendling without radiation or sunshine, PM without humidity.
    EtBasin b;
    b.basin.registry[b.basin.Position("global_radiation")].internalName = "gone";
    EXPECT_EQ(b.Build(SectionLines(3, 1440)), 46);
    EXPECT_NE(b.log.console().find("erlative sunshine duration"), std::string::npos);
    EtBasin p;
    p.basin.registry[p.basin.Position("air_humidity")].internalName = "gone";
    EXPECT_EQ(p.Build(SectionLines(1, 60)), 46);
    EXPECT_NE(p.log.console().find("vapor pressure (e, in mbar)"), std::string::npos);
  }
  {  // A registry without a free position.
    EtBasin b;
    for (int i = b.basin.Position("available_soil_moisture") + 1; i <= 999; ++i) b.basin.Add("filler", 0.0);
    EXPECT_EQ(b.Build(SectionLines(2, 1440)), 12);
    EXPECT_NE(b.log.console().find("no free grid left"), std::string::npos);
  }
  {  // ArcVeg switched on without its fraction grids.
    EtBasin b;
    EXPECT_EQ(b.Build(SectionLines(1, 60), "[ArcVegIntegration]\n1\n"), 1400);
    EtBasin off;
    EXPECT_EQ(off.Build(SectionLines(1, 60), "[ArcVegIntegration]\n0\n"), 0);
  }
}

TEST(EvapotranspirationConstruction, OptionalLinesAndTheSunshineThreshold) {
  EtBasin b;
  ASSERT_EQ(b.Build(SectionLines(1, 60)), 0);
  EXPECT_EQ(b.et->section.cloudinessStatFile, "cloudiness");
  EXPECT_EQ(b.et->section.cloudinessStatCode, 0);
  EXPECT_EQ(b.et->section.hamonOpenWater, 1.0);
  EXPECT_NEAR(b.et->section.x0, 0.243, 0.0005);
  // Monthly tables wrap around the year.
  EXPECT_EQ(b.et->section.fh[0], 0.2);
  EXPECT_EQ(b.et->section.amplitude[13], 3.0);
  EXPECT_EQ(b.et->section.amplitude[12], 3.0);
  EXPECT_EQ(b.et->section.amplitude[6], 8.0);

  EtBasin o;
  auto lines = SectionLines(2, 1440);
  lines[kCsLine] = "0 1 0 0";
  lines.push_back("clouds.stat 2001");
  lines.push_back("HamonCorrectionOpenWater = 1.3 ;");
  lines.push_back("[snow_model]");
  ASSERT_EQ(o.Build(lines), 0);
  EXPECT_EQ(o.et->section.cloudinessStatFile, "clouds.stat");
  EXPECT_EQ(o.et->section.cloudinessStatCode, 2001);
  EXPECT_EQ(o.et->section.hamonOpenWater, 1.3);
  EXPECT_EQ(o.et->section.x0, 0.0);

  // A row written as a list is the row; a misspelt key is neither optional line.
  EtBasin list;
  lines = SectionLines(2, 1440);
  lines[kPecLine] = "0.9, 0.9, 1.0, 1.1, 1.2, 1.25, 1.25, 1.2, 1.1, 1.0, 0.9, 0.9";
  lines.push_back("HamonCorrectionOpenWatr = 1.2");
  ASSERT_EQ(list.Build(lines), 0);
  EXPECT_EQ(list.et->section.pec[6], 1.25);
  EXPECT_EQ(list.et->section.pec[13], 0.9);
  EXPECT_EQ(list.et->section.cloudinessStatFile, "cloudiness");
  EXPECT_EQ(list.et->section.hamonOpenWater, 1.0);
}

TEST(EvapotranspirationConstruction, OneLayerGridsNamesAndFiles) {
  EtBasin b;
  ASSERT_EQ(b.Build(SectionLines(2, 1440)), 0);
  for (const char* n : {"pot_transpiration0", "pot_transpiration1", "real_transpiration0", "real_transpiration1",
                        "potential_InterceptionEvap0", "potential_InterceptionEvap1", "potential_evaporation",
                        "real_evaporation", "snow_evaporation", "AspectCorrectedGlobalRadiation", "cloudiness",
                        "SSDTemp"})
    EXPECT_NE(b.basin.Position(n), 0) << n;
  EXPECT_EQ(b.basin.registry[b.basin.Position("pot_transpiration0")].fileName, "etp.asc");
  EXPECT_EQ(b.basin.registry[b.basin.Position("pot_transpiration1")].fileName, "etp_Layer_1.asc");
  EXPECT_EQ(b.basin.registry[b.basin.Position("potential_InterceptionEvap1")].fileName, "eip_Layer_1.asc");

  b.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
  double** p0 = b.Grid("pot_transpiration0");
  double** p1 = b.Grid("pot_transpiration1");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      EXPECT_GT(p0[r][c], 0.0);
      EXPECT_EQ(p0[r][c], p1[r][c]);
    }
  // The statistics header carries the method.
  EXPECT_NE(ReadTextFile(b.dir.file("etp.stat")).find("(HAMON)_"), std::string::npos);
}

TEST(EvapotranspirationPotential, EmpiricalMethodsOnTheGrid) {
  const ModelDate july{0, 24, 15, 7, 2001};
  {  // Hamon: the open-water factor on lake cells with more than 5 mm of ponding.
    EtBasin b;
    double** lake = b.basin.Add("lake_codes", -9999.0);
    double** pond = b.basin.Add("ponding_storage", 0.0);
    lake[1][1] = lake[1][2] = 1.0;
    pond[1][1] = 10.0;
    pond[1][2] = 5.0;
    auto lines = SectionLines(2, 1440);
    lines.push_back("cloudiness 0");
    lines.push_back("HamonCorrectionOpenWater = 1.5");
    ASSERT_EQ(b.Build(lines, "[lake_model]\n1\n1\n0.08\n0.001\n"), 0);
    b.et->InitLakes("[lake_model]");
    b.et->PotentialET(july);
    double** e = b.Grid("pot_transpiration1");
    EXPECT_NEAR(e[1][1], 1.5 * e[2][2], 1e-12);
    EXPECT_EQ(e[1][2], e[2][2]);
    EXPECT_NEAR(b.Grid("potential_evaporation")[2][2], 0.2 * e[2][2], 1e-12);
  }
  {  // Haude from the 14 h grids; Wendling from the radiation.
    EtBasin h;
    ASSERT_EQ(h.Build(SectionLines(4, 1440)), 0);
    h.et->PotentialET(july);
    const double es = 6.11 * std::exp(17.62 * 18.0 / (243.12 + 18.0));
    EXPECT_NEAR(h.Grid("pot_transpiration0")[2][2], es * 0.3 * 0.5, 1e-9);
    EtBasin w;
    ASSERT_EQ(w.Build(SectionLines(3, 1440)), 0);
    w.et->PotentialET(july);
    EXPECT_GT(w.Grid("pot_transpiration0")[2][2], 0.0);
    EXPECT_GT(w.Grid("AspectCorrectedGlobalRadiation")[2][2], 0.0);
  }
}

TEST(EvapotranspirationPotential, PenmanMonteithDayAndNightAndThreads) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  // Daily steps: the day part warmer than the input, the night part colder; the shared
  // temperature grids take the part temperatures.
  EtBasin d(6, 7);
  d.basin.Add("temperature_night", 10.0);
  ASSERT_EQ(d.Build(SectionLines(1, 1440)), 0);
  d.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
  EXPECT_GT(d.Grid("temperature")[2][2], 15.0);
  EXPECT_LT(d.Grid("temperature_night")[2][2], 10.0);
  EXPECT_GT(d.Grid("pot_transpiration1")[2][2], 0.5);
  EXPECT_GT(d.Grid("potential_evaporation")[2][2], 0.0);
  EXPECT_NEAR(d.Grid("pot_transpiration0")[2][2],
              d.Grid("pot_transpiration1")[2][2] + d.Grid("potential_evaporation")[2][2], 1e-12);

  // Hourly steps of a day with snow evaporation and real ET on a basin of several zones:
  // grids and statistics files identical at any thread count.
  const int saved = omp_get_max_threads();
  std::vector<std::vector<double>> runs;
  std::vector<std::string> tables;
  for (int threads : {1, 2, 8}) {
    omp_set_num_threads(threads);
    EtBasin h(70, 11, 2);
    h.basin.zoneTable.resize(4);
    h.basin.codeMap = {0, 1, 2, 3};
    for (int z = 1; z <= 3; ++z) h.basin.zoneTable[static_cast<size_t>(z)].code = z;
    h.basin.Fill(h.Grid("zone_grid"), [](int r, int c) { return 1.0 + (r * 7 + c) % 3; });
    h.basin.Fill(h.Grid("temperature"), [](int r, int c) { return 5.0 + 0.2 * r + 0.3 * c; });
    h.basin.Fill(h.Grid("wind_speed"), [](int r, int c) { return 0.5 * ((r * c) % 7) - 2.0; });
    h.basin.Fill(h.Grid("soil_storage"), [](int r, int c) { return 0.1 * ((r + c) % 10); });
    double** snow = h.basin.Add("snow_storage", 0.0);
    h.basin.Fill(snow, [](int r, int c) { return (r + 2 * c) % 5 == 0 ? 0.3 : 0.0; });
    ASSERT_EQ(h.Build(SectionLines(1, 60)), 0);
    h.et->minParallelCells = 0;
    h.et->LinkSoilGrids();
    h.et->SetSnowStorageGrid(snow);
    h.et->SetSnowMethod(1);
    std::vector<double> all;
    for (int hour : {2, 6, 7, 12, 17, 21}) {
      const ModelDate d{0, hour, 15, 7, 2001};
      h.et->PotentialET(d);
      h.et->SnowEvaporation(d);
      h.et->RealET(d);
      for (const char* n : {"pot_transpiration0", "pot_transpiration2", "potential_InterceptionEvap1",
                            "potential_evaporation", "AspectCorrectedGlobalRadiation", "real_transpiration0",
                            "snow_evaporation", "soil_storage"})
        for (int r = 1; r <= 70; ++r)
          for (int c = 1; c <= 11; ++c) {
            const double v = h.Grid(n)[r][c];
            ASSERT_TRUE(std::isfinite(v)) << n;
            all.push_back(v);
          }
    }
    runs.push_back(all);
    h.et->WriteStatistics();
    std::string files;
    for (const char* f : {"etp.stat", "etp_Layer_2.stat", "eip_Layer_1.stat", "evap.stat", "rgex.stat", "etr.stat",
                          "etr_Layer_1.stat", "evar.stat", "snowev.stat"})
      files += ReadTextFile(h.dir.file(f));
    tables.push_back(files);
  }
  omp_set_num_threads(saved);
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_EQ(runs[0], runs[2]);
  EXPECT_GT(tables[0].size(), 900u);  // 9 files of 3 zones, 6 rows each
  EXPECT_EQ(tables[0], tables[1]);
  EXPECT_EQ(tables[0], tables[2]);
}

// The cell loop computes the air of a part once for all layers, once for both parts when
// they share the temperature, and takes the clear sky's pressure: every layer and part
// keeps the bits of a Penman-Monteith call of its own.
TEST(EvapotranspirationPotential, SharedPartsKeepTheBitsOfSeparateCalls) {
  // Three-hour steps: the sun of the sunrise step stands high enough for the clear sky.
  for (int hour = 3; hour <= 24; hour += 3) {
    EtBasin b(3, 4, 2);
    b.basin.Fill(b.Grid("temperature"), [](int r, int c) { return 4.0 + 3.1 * r - 1.7 * c; });
    b.basin.Fill(b.Grid("leaf_area_index1"), [](int r, int c) { return 0.5 * (r + c); });
    b.basin.Fill(b.Grid("leaf_area_index2"), [](int r, int c) { return 0.3 * r * c; });
    b.basin.Fill(b.Grid("RoughnessLength1"), [](int r, int c) { return 0.05 * r + 0.4 * c; });
    b.basin.Fill(b.Grid("global_radiation"), [](int r, int c) { return 40.0 * r + 25.0 * c; });
    ASSERT_EQ(b.Build(SectionLines(1, 180)), 0);
    const ModelDate d{0, hour, 15, 7, 2001};
    b.et->PotentialET(d);
    const double ld = b.et->daylightPart, ln = b.et->nightPart;
    if (ld < 0.05 || ln < 0.05) continue;  // a step of day and night is what this test needs
    PmSettings s;
    s.dtMinutes = 180.0;
    s.layers = 2;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        PmWeather w;
        w.elevation = b.Grid("[elevation_model]")[r][c];
        w.humidity = 0.6;
        w.wind = 2.0;
        PmCarry carry;
        carry.sunshine = b.Grid("SSDTemp")[r][c];
        carry.shortwave = (1.0 - 0.2) * b.Grid("AspectCorrectedGlobalRadiation")[r][c];
        double soil = 0.0;
        for (int k = 1; k <= 2; ++k) {
          const std::string n = std::to_string(k);
          PmLayer layer;
          layer.top = k == 1;
          layer.lowest = k == 2;
          layer.lai = b.Grid("leaf_area_index" + n)[r][c];
          layer.cover = 0.8;
          layer.canopyResistance = 60.0;
          layer.z0 = b.Grid("RoughnessLength" + n)[r][c];
          layer.soilResistance = 150.0;
          layer.extinction = 0.5;
          layer.laiScale = 8.0;
          if (k == 2) carry.laiAbove = b.Grid("leaf_area_index1")[r][c];
          w.t = b.Grid("temperature")[r][c];
          w.share = ln;
          w.day = false;
          const PmResult night = CellPenmanMonteith(s, w, layer, carry);
          w.share = ld;
          w.day = true;
          const PmResult day = CellPenmanMonteith(s, w, layer, carry);
          EXPECT_EQ(b.Grid("pot_transpiration" + n)[r][c], std::max(0.0, night.transpiration + day.transpiration));
          EXPECT_EQ(b.Grid("potential_InterceptionEvap" + n)[r][c],
                    std::max(0.0, night.interception + day.interception));
          soil += night.soil + day.soil;
        }
        EXPECT_EQ(b.Grid("potential_evaporation")[r][c], soil);
      }
    return;
  }
  FAIL() << "no step of the day holds day and night";
}

TEST(EvapotranspirationPotential, EveryStatisticsFileHoldsTheZoneMeansOfItsGrid) {
  // Two zones, two layers; one step of potential, snow and real ET. Each file's row holds
  // the mean of its own grid per zone (a writer summed into another's slot shows here).
  EtBasin b(6, 7, 2);
  b.basin.zoneTable.resize(3);
  b.basin.codeMap = {0, 1, 2};
  b.basin.zoneTable[2].code = 2;
  b.basin.Fill(b.Grid("zone_grid"), [](int r, int) { return r <= 2 ? 1.0 : 2.0; });
  b.basin.Fill(b.Grid("temperature"), [](int r, int c) { return 8.0 + r + 0.5 * c; });
  b.basin.Fill(b.Grid("global_radiation"), [](int r, int c) { return 100.0 + 40.0 * r + c; });
  b.basin.Fill(b.Grid("soil_storage"), [](int r, int c) { return 0.1 * ((r * c) % 9); });
  b.basin.Fill(b.Grid("leaf_area_index2"), [](int r, int c) { return 0.5 + 0.2 * ((r + c) % 7); });
  b.Grid("landuse2")[5][5] = -9999.0;  // counts as 0 in its layer's files
  ASSERT_EQ(b.Build(SectionLines(1, 60)), 0);
  b.et->LinkSoilGrids();
  const ModelDate d{0, 13, 15, 7, 2001};
  b.et->PotentialET(d);
  b.et->RealET(d);
  b.et->WriteStatistics();
  const struct {
    const char* file;
    const char* grid;
    const char* landuse;  // cells without it count as 0
  } files[] = {{"etp.stat", "pot_transpiration0", nullptr},
               {"etp_Layer_2.stat", "pot_transpiration2", "landuse2"},
               {"eip.stat", "potential_InterceptionEvap0", nullptr},
               {"eip_Layer_1.stat", "potential_InterceptionEvap1", "landuse1"},
               {"evap.stat", "potential_evaporation", nullptr},
               {"rgex.stat", "AspectCorrectedGlobalRadiation", nullptr},
               {"etr.stat", "real_transpiration0", nullptr},
               {"etr_Layer_2.stat", "real_transpiration2", nullptr},
               {"evar.stat", "real_evaporation", nullptr}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    double sum[3] = {0, 0, 0}, n[3] = {0, 0, 0};
    for (int r = 1; r <= 6; ++r)
      for (int c = 1; c <= 7; ++c) {
        const int z = r <= 2 ? 1 : 2;
        const bool used = !f.landuse || b.Grid(f.landuse)[r][c] > -9999.0;
        sum[z] += used ? b.Grid(f.grid)[r][c] : 0.0;
        n[z] += 1.0;
      }
    const std::string text = ReadTextFile(b.dir.file(f.file));
    const std::string row = text.substr(text.rfind("2001\t"));
    double v[3] = {0, 0, 0};
    int y, m, dd, h;
    ASSERT_EQ(std::sscanf(row.c_str(), "%d %d %d %d %lf %lf", &y, &m, &dd, &h, &v[1], &v[2]), 6) << row;
    for (int z : {1, 2}) EXPECT_NEAR(v[z], sum[z] / n[z], 6e-4) << "zone " << z;
    if (f.grid == std::string("pot_transpiration0")) {
      EXPECT_GT(std::fabs(v[1] - v[2]), 1e-2);  // the zones lie apart
    }
  }
}

TEST(EvapotranspirationPotential, LongStepsEmptyLayersMorningStampsAndGlaciers) {
  {  // Two-day steps: the sub-step table holds them; every value finite.
    EtBasin b;
    b.basin.Add("temperature_night", 8.0);
    ASSERT_EQ(b.Build(SectionLines(1, 2880)), 0);
    b.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
    EXPECT_TRUE(std::isfinite(b.Grid("pot_transpiration0")[2][2]));
    EXPECT_GT(b.Grid("pot_transpiration1")[2][2], 0.0);
  }
  {  // An upper layer without land use (LAI no-data) does not shade the one below.
    EtBasin b(3, 4, 2);
    b.Grid("landuse1")[2][2] = -9999.0;
    b.Grid("leaf_area_index1")[2][2] = -9999.0;
    ASSERT_EQ(b.Build(SectionLines(1, 60)), 0);
    b.et->PotentialET(ModelDate{0, 13, 15, 7, 2001});
    EXPECT_EQ(b.Grid("pot_transpiration1")[2][2], 0.0);
    const double below = b.Grid("pot_transpiration2")[2][2];
    EXPECT_TRUE(std::isfinite(below));
    EXPECT_GT(below, 0.0);
  }
  {  // Daily Hamon stamped at 07:00 sees about the daylight of a day, like one stamped 24:00.
    EtBasin a, m;
    ASSERT_EQ(a.Build(SectionLines(2, 1440)), 0);
    ASSERT_EQ(m.Build(SectionLines(2, 1440)), 0);
    a.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
    m.et->PotentialET(ModelDate{0, 7, 16, 7, 2001});
    EXPECT_NEAR(m.et->daylightPart, a.et->daylightPart, 0.02);
    EXPECT_GT(a.et->daylightPart, 0.6);
    EXPECT_NEAR(m.Grid("pot_transpiration0")[1][1], a.Grid("pot_transpiration0")[1][1],
                0.03 * a.Grid("pot_transpiration0")[1][1]);
  }
  {  // The glacier fraction comes from "GlacierizedCells" before "ice_firn".
    EtBasin b;
    b.basin.Add("ice_firn", 0.0);
    b.basin.Add("GlacierizedCells", 0.0)[1][1] = 1.0;
    ASSERT_EQ(b.Build(SectionLines(2, 1440)), 0);
    EXPECT_EQ(b.et->GlacierFraction(1, 1), 1.0);
  }
}

// Daily Penman-Monteith writes the radiation corrected by the terrain and the day and night
// temperatures back into their input grids. Grids nobody refreshes give every step the same
// input: a module going on from its own results equals one that starts on the day with the
// untouched grids, bit for bit, and refreshed grids are taken as they come. The night grid
// is copied from the temperature before each step (as the radiation correction does) or
// read once.
TEST(EvapotranspirationPotential, InputsWrittenBackAreCorrectedOnceEveryStep) {
  for (bool copyNight : {true, false}) {
    SCOPED_TRACE(copyNight ? "night copied" : "night read once");
    const auto make = [](double t, double rg) {
      auto b = std::make_unique<EtBasin>();
      b->basin.Add("temperature_night", 6.0);
      b->basin.Fill(b->Grid("temperature"), [&](int r, int c) { return t + 0.7 * r - 0.4 * c; });
      b->basin.Fill(b->Grid("global_radiation"), [&](int r, int c) { return rg + 90.0 * r + 40.0 * c; });
      double** k = b->basin.Add("radiation_correction", 1.0);
      b->basin.Fill(k, [](int r, int c) { return 0.4 + 0.25 * c + 0.1 * r; });
      EXPECT_EQ(b->Build(SectionLines(1, 1440)), 0);
      b->et->SetRadiationCorrection(k);
      return b;
    };
    const char* grids[] = {"temperature", "temperature_night", "global_radiation", "AspectCorrectedGlobalRadiation",
                           "pot_transpiration0", "potential_evaporation"};
    const auto step = [&](EtBasin& b, int day) {
      if (copyNight) b.basin.Fill(b.Grid("temperature_night"), [&](int r, int c) { return b.Grid("temperature")[r][c]; });
      b.et->PotentialET(ModelDate{0, 24, day, 7, 2001});
      std::vector<double> v;
      for (const char* g : grids)
        for (int r = 1; r <= 3; ++r)
          for (int c = 1; c <= 4; ++c) v.push_back(b.Grid(g)[r][c]);
      return v;
    };
    auto going = make(14.0, 4000.0);
    step(*going, 15);
    EXPECT_NE(going->Grid("global_radiation")[2][3], 4300.0);  // corrected
    EXPECT_NE(going->Grid("temperature")[2][3], 14.0 + 0.7 * 2 - 0.4 * 3);
    EXPECT_EQ(step(*going, 16), step(*make(14.0, 4000.0), 16));
    auto refreshed = make(9.0, 2500.0);
    for (const char* g : {"temperature", "global_radiation"})
      going->basin.Fill(going->Grid(g), [&](int r, int c) { return refreshed->Grid(g)[r][c]; });
    EXPECT_EQ(step(*going, 17), step(*refreshed, 17));
  }
}

TEST(EvapotranspirationReal, SnowTakesTheDemandFirst) {
  EtBasin b;
  ASSERT_EQ(b.Build(SectionLines(2, 1440)), 0);
  // Without a snow model nothing evaporates from snow.
  b.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
  b.et->SnowEvaporation(ModelDate{0, 24, 15, 7, 2001});
  EXPECT_EQ(b.Grid("snow_evaporation")[2][2], 0.0);

  double** snow = b.basin.Add("snowstorage_solid", 0.0);
  b.et->SetSnowStorageGrid(snow);
  double** pt = b.Grid("pot_transpiration1");
  double** pe = b.Grid("potential_evaporation");
  pt[2][2] = 2.0;
  pe[2][2] = 2.0;
  snow[2][2] = 3.0;
  b.et->SnowEvaporation(ModelDate{0, 24, 15, 7, 2001});
  EXPECT_EQ(b.Grid("snow_evaporation")[2][2], 3.0);
  EXPECT_EQ(pt[2][2], 0.0);
  EXPECT_EQ(pe[2][2], 1.0);
  EXPECT_EQ(snow[2][2], 0.0);
  // Snow models with their own snow evaporation: demands vanish where there is snow.
  b.et->SetSnowMethod(6);
  pt[2][2] = 2.0;
  snow[2][2] = 1.0;
  b.et->SnowEvaporation(ModelDate{0, 24, 16, 7, 2001});
  EXPECT_EQ(pt[2][2], 0.0);
  EXPECT_EQ(snow[2][2], 1.0);
}

TEST(EvapotranspirationReal, WaterBalanceOverRandomCellsAndSteps) {
  for (int layers : {1, 3}) {
    EtBasin b(8, 9, layers);
    double** lake = b.basin.Add("lake_codes", -9999.0);
    double** pond = b.basin.Add("ponding_storage", 0.0);
    b.basin.Add("temperature_night", 10.0);
    double** theta = b.Grid("soil_storage");
    double** w = b.Grid("available_soil_moisture");
    std::mt19937 rng(7 + layers);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    b.basin.Fill(w, [&](int r, int c) { return (r + c) % 11 == 0 ? 0.0 : 200.0 * u(rng); });
    for (int r = 1; r <= 8; r += 3) lake[r][r] = 1.0;
    if (layers > 1) b.Grid("landuse3")[4][4] = -9999.0;
    ASSERT_EQ(b.Build(SectionLines(1, 1440), "[lake_model]\n1\n1\n0.08\n0.001\n"), 0);
    b.et->InitLakes("[lake_model]");
    b.et->LinkSoilGrids();
    for (int step = 0; step < 20; ++step) {
      b.basin.Fill(theta, [&](int, int) { return u(rng) < 0.1 ? 0.0 : u(rng); });
      b.basin.Fill(pond, [&](int, int) { return 4.0 * u(rng); });
      b.basin.Fill(b.Grid("temperature"), [&](int, int) { return 30.0 * u(rng); });
      b.basin.Fill(b.Grid("temperature_night"), [&](int, int) { return 10.0 * u(rng); });
      const ModelDate d{0, 24, 1 + step, 6, 2001};
      b.et->PotentialET(d);
      std::vector<double> before(100 * 100), demand(100 * 100);
      for (int r = 1; r <= 8; ++r)
        for (int c = 1; c <= 9; ++c) {
          before[static_cast<size_t>(r * 100 + c)] = theta[r][c] * w[r][c] + pond[r][c];
          demand[static_cast<size_t>(r * 100 + c)] = b.Grid("potential_evaporation")[r][c];
        }
      b.et->RealET(d);
      for (int r = 1; r <= 8; ++r)
        for (int c = 1; c <= 9; ++c) {
          double out = b.Grid("real_evaporation")[r][c];
          for (int k = 1; k <= layers; ++k) out += b.Grid("real_transpiration" + std::to_string(k))[r][c];
          const double after = theta[r][c] * w[r][c] + pond[r][c];
          EXPECT_NEAR(before[static_cast<size_t>(r * 100 + c)] - after, out, 1e-9) << r << "," << c;
          // The soil evaporates once per cell, whatever the number of layers.
          EXPECT_LE(b.Grid("real_evaporation")[r][c], demand[static_cast<size_t>(r * 100 + c)] + 1e-12);
          EXPECT_GE(theta[r][c], 0.0);
          EXPECT_GE(pond[r][c], 0.0);
          EXPECT_TRUE(std::isfinite(out));
          if (w[r][c] == 0.0 && !(lake[r][c] > 0.0)) {
            EXPECT_EQ(out, 0.0);
          }
        }
    }
  }
}

TEST(EvapotranspirationReal, LakesGlaciersAndSoilLimits) {
  EtBasin b;
  double** lake = b.basin.Add("lake_codes", -9999.0);
  double** pond = b.basin.Add("ponding_storage", 0.0);
  double** glacier = b.basin.Add("GlacierizedCells", 0.0);
  ASSERT_EQ(b.Build(SectionLines(2, 1440), "[lake_model]\n1\n1\n0.08\n0.001\n"), 0);
  b.et->InitLakes("[lake_model]");
  b.et->LinkSoilGrids();
  double** theta = b.Grid("soil_storage");
  double** pt = b.Grid("pot_transpiration1");
  double** pe = b.Grid("potential_evaporation");
  double** rt = b.Grid("real_transpiration1");
  lake[1][1] = lake[1][2] = 1.0;
  pond[1][1] = 0.5;
  pond[1][2] = 3.0;
  glacier[3][4] = 1.0;
  b.et->PotentialET(ModelDate{0, 24, 15, 7, 2001});
  b.basin.Fill(pt, 2.0);
  b.basin.Fill(pe, 1.0);
  pt[1][2] = 4.0;
  theta[2][1] = 0.3;
  theta[2][2] = 0.01;
  pe[2][2] = 2.0;
  rt[3][4] = 7.0;
  b.et->SnowEvaporation(ModelDate{0, 24, 15, 7, 2001});  // first call: INFO on the glacier grids
  EXPECT_NE(b.log.console().find("no snow evaporates on glaciers"), std::string::npos);
  b.et->RealET(ModelDate{0, 24, 15, 7, 2001});
  // 0.5 mm of ponding: a dry lake cell evaporates nothing, not even from the soil that the
  // soil model keeps full there.
  EXPECT_EQ(pond[1][1], 0.5);
  EXPECT_EQ(theta[1][1], 0.8);
  EXPECT_EQ(rt[1][1], 0.0);
  EXPECT_EQ(b.Grid("real_evaporation")[1][1], 0.0);
  // 3 mm of ponding: up to 3 mm from the pond, the rest stays a demand, no soil evaporation.
  EXPECT_EQ(rt[1][2], 3.0);
  EXPECT_EQ(pond[1][2], 0.0);
  EXPECT_EQ(pt[1][2], 1.0);
  EXPECT_EQ(b.Grid("real_evaporation")[1][2], 0.0);
  EXPECT_EQ(theta[1][2], 0.8);
  // θ = 0.3 halves the transpiration.
  EXPECT_NEAR(rt[2][1], 1.0, 1e-12);
  // A dry soil gives what it has.
  EXPECT_NEAR(rt[2][2] + b.Grid("real_evaporation")[2][2], 1.2, 1e-12);
  EXPECT_EQ(theta[2][2], 0.0);
  // A glacier cell keeps its values.
  EXPECT_EQ(rt[3][4], 7.0);
}

TEST(EvapotranspirationReal, ResetAndOutputWithoutAStep) {
  EtBasin b;
  ASSERT_EQ(b.Build(SectionLines(2, 1440)), 0);
  b.et->LinkSoilGrids();
  const ModelDate d1{0, 24, 15, 7, 2001}, d2{0, 24, 16, 7, 2001};
  b.et->PotentialET(d1);
  b.et->RealET(d1);
  const double theta = b.Grid("soil_storage")[2][2];
  const double real = b.Grid("real_transpiration1")[2][2];
  b.et->RealETReset(d2);
  b.et->WriteOutput(d2);
  b.et->WriteStatistics();
  // Nothing more was withdrawn; both steps have their row.
  EXPECT_EQ(b.Grid("soil_storage")[2][2], theta);
  EXPECT_EQ(b.Grid("real_transpiration1")[2][2], real);
  const std::string table = ReadTextFile(b.dir.file("etr_Layer_1.stat"));
  EXPECT_NE(table.find("2001\t 7\t15\t24\t2.796"), std::string::npos) << table;
  EXPECT_NE(table.find("2001\t 7\t16\t24\t2.796"), std::string::npos) << table;
}

TEST(EvapotranspirationReal, LakeSetUp) {
  {
    EtBasin b;
    ASSERT_EQ(b.Build(SectionLines(2, 1440)), 0);
    b.et->InitLakes("[lake_model]");
    EXPECT_NE(b.log.console().find("no LAKE-grid was found in"), std::string::npos);
  }
  struct Case {
    const char* section;
    bool pond;
    int code;
  } cases[] = {{"[lake_model]\n1\n1\n0.08\n0.001\n", false, 28},
               {"[lake_model]\n1\n3\n0.08\n0.001\n", true, 211},
               {"[lake_model]\n1\n1\n0.08\n0\n", true, 10},
               {"[lake_model]\n1\n1\n1.08\n0.001\n", true, 10},  // an albedo above 1
               {"[lake_model]\n1\n1\n0.08\n", true, 17},
               {"[lake_model]\n0\n", true, 0}};
  for (const Case& c : cases) {
    EtBasin b;
    b.basin.Add("lake_codes", 1.0);
    if (c.pond) b.basin.Add("ponding_storage_top", 0.0);
    ASSERT_EQ(b.Build(SectionLines(2, 1440), c.section), 0);
    int code = 0;
    try {
      b.et->InitLakes("[lake_model]");
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, c.code) << c.section;
  }
}

}  // namespace

// One evaporative demand per layer and step, taken in the step's order by snow evaporation,
// the interception storage and the soil: each take counts as a share of its own rate (the
// potential transpiration, or the potential interception evaporation under the second
// interception rule), and the shares of a layer never add up to more than 1. The soil
// evaporates at most its potential. Every method, random cells and steps, with snow: the
// evaporation module's own, or the snow model's energy balance (its methods 5, 6, 7, 11),
// whose evaporation is not capped but takes its share of the demand in its step, before or
// after the interception by the interception method; its grid and statistics hold what the
// step evaporated.
TEST(EvaporationDemand, IsUsedOnceInEveryCellLayerAndStep) {
  struct Case {
    int etMethod, layers, interception;
    bool arcVeg;
    int snowMethod;
  };
  for (const Case& cs : {Case{1, 1, 2, false, 1}, Case{1, 1, 1, false, 1}, Case{1, 3, 12, false, 1},
                         Case{1, 2, 2, true, 1}, Case{2, 1, 2, false, 1}, Case{2, 1, 1, false, 1},
                         Case{3, 1, 12, false, 1}, Case{4, 1, 2, false, 1}, Case{1, 1, 2, false, 5},
                         Case{1, 1, 12, false, 6}, Case{2, 1, 11, false, 7}, Case{1, 3, 1, false, 11},
                         Case{1, 1, 12, false, 11}}) {
    SCOPED_TRACE("ET method " + std::to_string(cs.etMethod) + ", interception " + std::to_string(cs.interception) +
                 ", layers " + std::to_string(cs.layers) + (cs.arcVeg ? " side by side" : "") + ", snow method " +
                 std::to_string(cs.snowMethod));
    const int rows = 7, cols = 8, n = cs.layers;
    EtBasin b(rows, cols, n);
    std::mt19937 rng(31 + cs.etMethod * 7 + cs.interception + cs.snowMethod);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    b.basin.Add("temperature_night", 5.0);
    b.basin.Add("precipitation", 0.0);
    if (n == 1) b.basin.Add("landuse1", 1.0);
    double** snow = b.basin.Add("snowstorage_solid", 0.0);
    // The snow model's energy balance: its grids beside the basin's.
    const bool snowModel = cs.snowMethod != 1;
    b.basin.Add("zonegrid_soilmodel", 1.0);
    b.basin.Add("deposition_index", 0.1);
    b.basin.Add("slope_angle", 20.0);
    for (int k = 1; k <= 4; ++k) b.basin.Add("slidefraction" + std::to_string(k), 0.25);
    std::string extra = InterceptionBasin::Section(cs.interception, 0.4);
    if (snowModel) extra += JoinLines(SnowSectionLines(cs.snowMethod, 1440));
    if (cs.arcVeg) {
      extra += "[ArcVegIntegration]\n1\n";
      double** f1 = b.basin.Add("ArcVeg_Fraction_1", 0.0);
      double** f2 = b.basin.Add("ArcVeg_Fraction_2", 0.0);
      b.basin.Fill(f1, [&](int, int) { return u(rng); });
      b.basin.Fill(f2, [&](int r, int c) { return 1.0 - f1[r][c]; });
    }
    ASSERT_EQ(b.Build(SectionLines(cs.etMethod, 1440), extra), 0) << b.log.console();
    b.et->LinkSoilGrids();
    b.et->SetSnowStorageGrid(snow);
    b.et->SetSnowMethod(cs.snowMethod);
    const bool interceptionFirst = cs.interception > 10;
    int error = -1;
    ModuleOwner<schneemodellklasse> snowSteps;
    if (snowModel) {
      snowSteps = MakeModule<schneemodellklasse>(
          error, b.basin.Inputs(b.log.log(), b.dir.file("run.ctl"), b.dir.path() + "/"));
      ASSERT_EQ(error, 0) << b.log.console();
      snowSteps->SetSnowInterceptionFlag(interceptionFirst ? 1 : 0);
      ASSERT_EQ(snowSteps->GetSnowStorageSolid(), snow);
    }
    auto icpt = MakeModule<interzeptionsmodellklasse>(
        error, b.basin.Inputs(b.log.log(), b.dir.file("run.ctl"), b.dir.path() + "/"));
    ASSERT_EQ(error, 0) << b.log.console();
    const bool ruleA = cs.interception % 10 == 1;
    const auto layerGrid = [&](const char* base, int k) { return b.Grid(base + std::to_string(k)); };
    double** theta = b.Grid("soil_storage");
    double** w = b.Grid("available_soil_moisture");
    double** snowEvaporation = b.Grid("snow_evaporation");
    size_t checked = 0, bound = 0, snowModelTook = 0;
    std::vector<double> stepMeans;  // of the snow evaporation
    for (int step = 0; step < 24; ++step) {
      // Fresh weather, vegetation, snow and soil.
      b.basin.Fill(b.Grid("temperature"), [&](int, int) { return -5.0 + 30.0 * u(rng); });
      b.basin.Fill(b.Grid("temperature_14"), [&](int, int) { return -2.0 + 30.0 * u(rng); });
      b.basin.Fill(b.Grid("temperature_night"), [&](int, int) { return -8.0 + 15.0 * u(rng); });
      b.basin.Fill(b.Grid("air_humidity"), [&](int, int) { return 0.2 + 0.8 * u(rng); });
      b.basin.Fill(b.Grid("air_humidity_14"), [&](int, int) { return 0.2 + 0.8 * u(rng); });
      b.basin.Fill(b.Grid("wind_speed"), [&](int, int) { return 6.0 * u(rng); });
      b.basin.Fill(b.Grid("global_radiation"), [&](int, int) { return 4000.0 * u(rng); });
      b.basin.Fill(b.Grid("precipitation"), [&](int, int) { return u(rng) < 0.3 ? 0.0 : 6.0 * u(rng); });
      b.basin.Fill(snow, [&](int, int) { return u(rng) < 0.4 ? 0.0 : 3.0 * u(rng); });
      b.basin.Fill(theta, [&](int, int) { return u(rng); });
      b.basin.Fill(w, [&](int, int) { return 200.0 * u(rng); });
      for (int k = 1; k <= n; ++k) {
        if (n > 1) b.basin.Fill(layerGrid("landuse", k), [&](int, int) { return u(rng) < 0.2 ? -9999.0 : 1.0; });
        b.basin.Fill(layerGrid("leaf_area_index", k), [&](int, int) { return 6.0 * u(rng); });
        b.basin.Fill(layerGrid("vegetation_coverage_degree", k), [&](int, int) { return u(rng); });
        // Wet canopy faster or slower than the dry one.
        b.basin.Fill(layerGrid("SurfaceCanopyResistance", k), [&](int, int) { return 300.0 * u(rng); });
        b.basin.Fill(layerGrid("SurfaceIntercepResistance", k), [&](int, int) { return 300.0 * u(rng); });
      }
      const ModelDate d{0, 24, 1 + step, 1 + step % 12, 2001};
      b.et->PotentialET(d);
      const auto at = [&](int r, int c) { return static_cast<size_t>((r - 1) * cols + c - 1); };
      const size_t cells = static_cast<size_t>(rows * cols);
      // Per layer and cell: the rates, what is left after the snow's takes.
      std::vector<std::vector<double>> et(n + 1, std::vector<double>(cells)), eint = et, afterSnow = et,
          beforeModel = et, afterModel = et;
      std::vector<double> ev(cells), evAfterSnow(cells), evBeforeModel(cells), evAfterModel(cells),
          snowBefore(cells), soilBefore(cells);
      const auto keep = [&](std::vector<std::vector<double>>& pt, std::vector<double>& pe) {
        for (int r = 1; r <= rows; ++r)
          for (int c = 1; c <= cols; ++c) {
            for (int k = 1; k <= n; ++k) pt[k][at(r, c)] = layerGrid("pot_transpiration", k)[r][c];
            pe[at(r, c)] = b.Grid("potential_evaporation")[r][c];
          }
      };
      keep(et, ev);
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
          for (int k = 1; k <= n; ++k) eint[k][at(r, c)] = layerGrid("potential_InterceptionEvap", k)[r][c];
          snowBefore[at(r, c)] = snow[r][c];
        }
      b.et->SnowEvaporation(d);
      keep(afterSnow, evAfterSnow);
      if (interceptionFirst || !snowModel) icpt->Run(d);
      keep(beforeModel, evBeforeModel);
      if (snowModel) {
        snowSteps->Run(d);
        snowSteps->PostRun(d);
        b.et->SnowModelEvaporation(d);
        keep(afterModel, evAfterModel);
        if (!interceptionFirst) icpt->Run(d);
      }
      double evaporated = 0.0;
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) evaporated += snowEvaporation[r][c];
      stepMeans.push_back(evaporated / static_cast<double>(cells));
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) soilBefore[at(r, c)] = theta[r][c] * w[r][c];
      b.et->RealET(d);
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
          const size_t i = at(r, c);
          // The evaporation module's own snow evaporation is what left the snow.
          if (!snowModel) {
            ASSERT_NEAR(snowBefore[i] - snow[r][c], snowEvaporation[r][c], 1e-12);
          }
          if (snowModel) {
            // What the snow model evaporated is gone from the demand, as far as it reached.
            double left = evBeforeModel[i], took = evBeforeModel[i] - evAfterModel[i];
            for (int k = 1; k <= n; ++k)
              if (layerGrid("landuse", k)[r][c] > -9999.0) {
                left += beforeModel[k][i];
                took += beforeModel[k][i] - afterModel[k][i];
              }
            ASSERT_NEAR(took, std::min(std::max(0.0, snowEvaporation[r][c]), left), 1e-12 * (1.0 + left))
                << r << "," << c;
          }
          double potential = ev[i];
          for (int k = 1; k <= n; ++k) {
            const double Et = et[k][i], Eint = eint[k][i];
            const double fromSnow = Et - afterSnow[k][i];
            const double fromModel = snowModel ? beforeModel[k][i] - afterModel[k][i] : 0.0;
            snowModelTook += fromModel > 0.0;
            const double E = layerGrid("interception_evaporation", k)[r][c];
            const double T = layerGrid("real_transpiration", k)[r][c];
            const double rate = ruleA ? Et : Eint;
            const auto share = [](double take, double of) { return of > 0.0 ? take / of : (take > 0.0 ? 2.0 : 0.0); };
            const double used = share(fromSnow, Et) + share(fromModel, Et) + share(E, rate) + share(T, Et);
            ASSERT_LE(used, 1.0 + 1e-12) << r << "," << c << " layer " << k << ": snow " << fromSnow << " + "
                                         << fromModel << ", interception " << E << ", transpiration " << T << " of "
                                         << Et << " / " << Eint;
            bound += used > 0.999;
            ++checked;
            potential += Et;
          }
          // The soil takes what the snow left of its own potential.
          const double fromModel = snowModel ? evBeforeModel[i] - evAfterModel[i] : 0.0;
          ASSERT_LE(b.Grid("real_evaporation")[r][c] + (ev[i] - evAfterSnow[i]) + fromModel,
                    ev[i] + 1e-12 * (1.0 + ev[i]))
              << r << "," << c;
          // One rate per layer: the cell's real evapotranspiration stays within its potential
          // (the snow model's evaporation is its energy balance's).
          if (cs.etMethod > 1 && !snowModel) {
            ASSERT_LE(b.Grid("real_transpiration0")[r][c], potential + 1e-12) << r << "," << c;
          }
          // The soil gave what transpired and evaporated from it.
          double fromSoil = b.Grid("real_evaporation")[r][c];
          for (int k = 1; k <= n; ++k) fromSoil += layerGrid("real_transpiration", k)[r][c];
          ASSERT_NEAR(soilBefore[i] - theta[r][c] * w[r][c], fromSoil, 1e-9);
        }
    }
    EXPECT_GT(bound, checked / 20) << "too few layers used their whole demand to test the bound";
    if (snowModel) {
      EXPECT_GT(snowModelTook, checked / 20) << "the snow model's evaporation met too little demand to test it";
    }
    // Each step's statistics row holds the mean of what the step evaporated from snow.
    b.et->WriteStatistics();
    const std::string table = ReadTextFile(b.dir.file("snowev.stat"));
    size_t row = 0, at = table.find("\n2001\t");
    for (; at != std::string::npos && row < stepMeans.size(); at = table.find("\n2001\t", at + 1), ++row) {
      int y, m, dd, h;
      double v = -1.0;
      ASSERT_EQ(std::sscanf(table.c_str() + at + 1, "%d %d %d %d %lf", &y, &m, &dd, &h, &v), 5);
      EXPECT_NEAR(v, stepMeans[row], 6e-4) << "row " << row;
    }
    EXPECT_EQ(row, stepMeans.size());
    EXPECT_GT(*std::max_element(stepMeans.begin(), stepMeans.end()), 0.01);
    icpt.Release();
    if (snowModel) snowSteps.Release();
  }
}
