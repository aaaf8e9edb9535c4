// Construction of the snow model: the [snow_model] section, its checks and the grids.
#include <gtest/gtest.h>

#include <memory>

#include "processes/snow/snow_basin.h"
#include "support/test_support.h"

namespace {

constexpr int kMethodLine = 3, kDdfLine = 9, kALine = 10, kRainStatLine = 19, kSecondBlock = 44;
constexpr int kMaxDepositionSlopeLine = 59, kLWOUTLine = 64, kEnBalLine = 65;

struct BadSection {
  const char* what;
  int method;
  int line;  // -1: no replacement
  const char* replacement;
  const char* missingGrid;  // a grid the basin does not have
  int code;
  const char* message;
};

TEST(SnowConfig, BadSectionsEndConstructionWithTheirCodes) {
  const BadSection cases[] = {
      {"method not a number", 1, kMethodLine, "x", nullptr, 17, "method for "},
      {"method outside 1..14", 15, -1, "", nullptr, 17, "must be one of 1 to 14"},
      {"method 0", 0, -1, "", nullptr, 17, "must be one of 1 to 14"},
      {"transzone missing", 1, 4, "# nothing", nullptr, 17, "transzone for "},
      {"degree-day table empty for method 1", 1, kDdfLine, "# no numbers", nullptr, 17, "degree-day factor DDF"},
      {"coefficient a empty for method 3", 3, kALine, "", nullptr, 17, "coefficient a"},
      {"statistics line without its flag", 1, kRainStatLine, "rain.stat", nullptr, 17,
       "Name of the rain statistics for "},
      {"second block too short", 5, kSecondBlock, "ab", nullptr, 404, "cannot read additional parameters"},
      {"maxDepositionSlope above 90", 6, kMaxDepositionSlopeLine, "90.5", nullptr, 405, "maxDepositionSlope"},
      {"maxDepositionSlope below 0", 6, kMaxDepositionSlopeLine, "-1", nullptr, 405, "[0...90] Here: -1"},
      {"maxDepositionFactor 0", 6, kMaxDepositionSlopeLine + 1, "0", nullptr, 406, "maxDepositionFactor"},
      {"minSlideSlope above 90", 6, kMaxDepositionSlopeLine + 2, "95", nullptr, 407, "minSlideSlope"},
      {"slideMassFrac 0", 6, kMaxDepositionSlopeLine + 3, "0", nullptr, 408, "slideMassFrac"},
      {"slideMassFrac above 1", 6, kMaxDepositionSlopeLine + 3, "1.5", nullptr, 408, "slideMassFrac"},
      {"LWINcorr above 3", 5, kMaxDepositionSlopeLine + 4, "3.5", nullptr, 408, "LWINcorr"},
      {"LWOUTcorr 0", 5, kLWOUTLine, "0", nullptr, 408, "LWOUTcorr"},
      {"method 4 without vapour pressure", 4, -1, "", "vapor_pressure", 33, "vapor_pressure"},
      {"energy balance without cloudiness", 5, -1, "", "cloudiness", 33, "cloudiness"},
      {"slides without slope", 8, -1, "", "slope_angle", 33, "slope_angle"},
      {"deposition index missing", 10, -1, "", "deposition_index", 33, "deposition_index"},
      {"no albedo grid", 1, -1, "", "albedo", 33, "albedo"},
      {"no land-use layer", 1, -1, "", "landuse1", 33, "landuse1"},
      {"daily steps without night temperature", 1, 2, "1440", "temperature_night", 33, "temperature_night"},
      {"no sub-basin grid", 1, -1, "", "zonegrid_soilmodel", 33, "zonegrid_soilmodel"},
      {"glaciers in the basin without [ice_firn]", 1, -1, "", nullptr, 17, "[ice_firn]"},
      {"transzone below 0", 1, 4, "-1", nullptr, 17, "[snow_model] in "},
      {"transzone below 0 (named)", 1, 4, "-1", nullptr, 17, ": transzone is -1; it must be 0 or more"},
      {"CWH above 1", 1, 7, "1.5", nullptr, 17, "CWH is 1.5; it must lie in 0 .. 1"},
      {"CRFR below 0", 3, 8, "-0.05", nullptr, 17, "CRFR is -0.05"},
      {"negative degree-day factor", 1, kDdfLine, "2 -2.2 2 2 2 2 2 2 2 2 2 2", nullptr, 17,
       "the degree-day factor DDF of month 2 is -2.2"},
      {"negative coefficient b of the wind index", 2, kALine + 1, "-0.3", nullptr, 17,
       "the coefficient b of month 1 is -0.3"},
      {"snow albedo above 1", 1, 16, "1.2", nullptr, 17, "ALBsnow_max is 1.2"},
      {"RMFMIN below 0", 3, 13, "-1", nullptr, 17, "RMFMIN is -1"},
      {"EnBalScaling below 0", 5, kEnBalLine, "-1", nullptr, 17, "EnBalScaling is -1"},
  };
  for (const BadSection& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CapturedLog log;
    SnowBasin basin(3, 4);
    if (c.missingGrid) {
      for (int p = 1; p <= kMaxGridPosition && basin.registry[p].registered; ++p)
        if (basin.registry[p].internalName == c.missingGrid) basin.registry[p].internalName = "renamed";
    }
    if (std::string(c.what) == "glaciers in the basin without [ice_firn]") basin.Add("GlacierizedCells", 0.0);
    std::vector<std::string> lines = SnowSectionLines(c.method);
    if (c.line >= 0) lines[c.line] = c.replacement;
    int error = 0;
    auto m = MakeSnowModel(basin, log.log(), dir.path(), JoinLines(lines), error);
    EXPECT_EQ(error, c.code) << log.console();
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    m.Release();
  }
}

TEST(SnowConfig, BoundaryValuesAndOptionalLinesAreAccepted) {
  struct Good {
    const char* what;
    int method;
    int line;
    const char* replacement;
    const char* logged;  // expected in the log, or null
  } cases[] = {
      {"maxDepositionSlope 0", 6, kMaxDepositionSlopeLine, "0", nullptr},
      {"minSlideSlope 0", 6, kMaxDepositionSlopeLine + 2, "0", nullptr},
      {"slideMassFrac 1", 6, kMaxDepositionSlopeLine + 3, "1.0", nullptr},
      {"LWINcorr 3", 5, kMaxDepositionSlopeLine + 4, "3.0", nullptr},
      {"EnBalScaling missing", 5, kEnBalLine, "# nothing", "Could not read the optional parameter EnBalScaling"},
      {"unused empty monthly table", 1, kALine, "", "coefficient a in [snow_model]"},
      {"methods 1 to 4 stop after the readgrid flag", 2, -1, "", nullptr},
      {"transzone 0", 1, 4, "0", nullptr},
      {"a negative table the method does not use", 1, kALine, "-1.5", nullptr},
      {"RMFMIN above RMFMAX", 3, 13, "4.0", "RMFMIN is 4, above RMFMAX"},
      {"a degree-day factor of 25", 1, kDdfLine, "25", "of month 12 is 25, far above"},
  };
  for (const Good& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CapturedLog log;
    SnowBasin basin(3, 4);
    std::vector<std::string> lines = SnowSectionLines(c.method);
    if (c.line >= 0) lines[c.line] = c.replacement;
    if (c.method <= 4) lines.push_back("garbage that is never read");
    int error = 0;
    auto m = MakeSnowModel(basin, log.log(), dir.path(), JoinLines(lines), error);
    ASSERT_EQ(error, 0) << log.console();
    if (c.logged) {
      EXPECT_NE(log.console().find(c.logged), std::string::npos) << log.console();
    }
    EXPECT_EQ(m->GetMethod(), c.method);
    if (std::string(c.what) == "EnBalScaling missing") {
      EXPECT_EQ(m->EnBalScaling, 1.0);
    }
    m.Release();
  }
}

TEST(SnowConfig, MonthlyTablesThresholdsAndGrids) {
  TempDir dir;
  CapturedLog log;
  SnowBasin basin(3, 4);
  std::vector<std::string> lines = SnowSectionLines(2);
  lines[kALine] = "1 2 3 4 5 # fewer than 12: every month takes the first";
  lines[kALine + 1] = "0.25 # one number: a constant factor";
  lines[5] = "-0.1 # T0R below T0";
  lines[6] = "0.0";
  int error = 0;
  auto m = MakeSnowModel(basin, log.log(), dir.path(), JoinLines(lines), error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_EQ(m->ddfTable[0], 2.5);   // December before January
  EXPECT_EQ(m->ddfTable[13], 2.0);  // January after December
  EXPECT_EQ(m->ddfTable[7], 4.5);
  for (double v : m->aTable) EXPECT_EQ(v, 1.0);
  for (double v : m->bTable) EXPECT_EQ(v, 0.25);
  // A row cut short is named; a row of one number is the constant form, no fault, and said.
  EXPECT_NE(log.console().find("monthly table of the coefficient a"), std::string::npos) << log.console();
  EXPECT_NE(log.console().find("[snow_model], line 12 of " + dir.file("run.ctl") + ", holds one number, 0.25: every "
                               "month takes it"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(m->T0R, 0.0);
  EXPECT_NE(log.console().find("T0R was set to T0"), std::string::npos);
  // The state grids are registered; the solid storage goes to evapotranspiration.
  double** solid = m->GetSnowStorageSolid();
  ASSERT_NE(solid, nullptr);
  EXPECT_EQ(basin.Grid("snowstorage_solid"), solid);
  for (const char* g : {"snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age", "snow_fraction",
                        "rain_fraction", "snowcover_outflow", "melt_from_snowcover"})
    EXPECT_NE(basin.Grid(g), nullptr) << g;
  EXPECT_EQ(solid[2][4], SnowBasin::N);  // outside the basin
  EXPECT_EQ(solid[1][1], 0.0);
  m.Release();
  EXPECT_EQ(basin.Grid("snowstorage_solid"), nullptr);
}

TEST(SnowConfig, SwitchedOffModuleReadsNothing) {
  TempDir dir;
  CapturedLog log;
  SnowBasin basin(3, 4);
  int error = 0;
  auto m = MakeSnowModel(basin, log.log(), dir.path(), "[snow_model]\n0\n60\nnot a method\n", error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(m->GetMethod(), 0);
  EXPECT_EQ(m->GetSnowStorageSolid(), nullptr);
  EXPECT_EQ(basin.Grid("snowstorage_solid"), nullptr);
  m->Run(ModelDate{0, 1, 1, 1, 2001});
  m->PostRun(ModelDate{0, 1, 1, 1, 2001});
}

TEST(SnowConfig, ExistingStateGridIsUsedInsteadOfReadingAFile) {
  TempDir dir;
  CapturedLog log;
  SnowBasin basin(3, 4);
  double** mine = basin.Add("snowstorage_solid", 7.0);
  std::vector<std::string> lines = SnowSectionLines(1);
  lines[43] = "1 # readgrids: the files do not exist";
  lines[36] = "does-not-exist.asc";
  lines[38] = "also-missing.asc";
  basin.Add("snowstorage_liquid", 0.0);
  basin.Add("snow_storage_total", 0.0);
  basin.Add("days_snow", 0.0);
  basin.Add("snow_age", 0.0);
  int error = 0;
  auto m = MakeSnowModel(basin, log.log(), dir.path(), JoinLines(lines), error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_EQ(m->GetSnowStorageSolid(), mine);
  m.Release();
  EXPECT_EQ(basin.Grid("snowstorage_solid"), mine);  // not ours: not freed
}

TEST(SnowConfig, LakeSetUp) {
  TempDir dir;
  CapturedLog log;
  SnowBasin basin(3, 4);
  const std::string text = JoinLines(SnowSectionLines(1)) + "[lake_model]\n1 # lakes on\n";
  int error = 0;
  auto m = MakeSnowModel(basin, log.log(), dir.path(), text, error);
  ASSERT_EQ(error, 0);
  m->InitLakes("[lake_model]");  // no lake grid: lakes off
  EXPECT_NE(log.console().find("Lake modelling is switched off for snow_model"), std::string::npos);
  EXPECT_EQ(m->lakeFlowControl, 0);
  basin.Add("lake_codes", 1.0);
  EXPECT_THROW(m->InitLakes("[lake_model]"), int);  // no ponding storage
  EXPECT_NE(log.console().find("LAKE-grid was found, but no POND-Grid"), std::string::npos);
  basin.Add("ponding_storage_top", 0.0);
  m->InitLakes("[lake_model]");
  EXPECT_EQ(m->lakeFlowControl, 1);
  EXPECT_EQ(m->pondingStorage, basin.Grid("ponding_storage_top"));
}

}  // namespace

namespace {

TEST(SnowConfig, SnowStackLinksAndParameters) {
  TempDir dir;
  CapturedLog log;
  SnowBasin basin(3, 4);
  int error = 0;
  auto m = MakeSnowModel(basin, log.log(), dir.path(), JoinLines(SnowSectionLines(1)), error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(m->SetStackParameters(0x1203, 0x45, 0x1ff, 7), 0x4503);  // low bytes only
  m->LinkSnowStackGrids(0, nullptr, 1.0);
  EXPECT_EQ(m->GetSnowStackFlag(), 0);
  EXPECT_THROW(m->LinkSnowStackGrids(1, nullptr, 1.0), int);  // the stacks are not there
  for (const char* g : {"SnowWaterEquivalentSolid", "SnowWaterEquivalentLiquid", "upperIndexSnow",
                        "SnowLayerThickness", "SnowDensity"})
    basin.Add(g, 0.0);
  m->LinkSnowStackGrids(1, nullptr, 2.0);
  EXPECT_EQ(m->GetSnowStackFlag(), 1);
  m->SetModeFlag(0x101);  // the temperature stack is then required as well
  EXPECT_EQ(m->GetModeFlag(), 1);
  EXPECT_THROW(m->LinkSnowStackGrids(1, nullptr, 2.0), int);
}

}  // namespace
