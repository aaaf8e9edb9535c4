// Reservoirs and lakes: entry keys, the level-volume table of a lake from its cells, the
// operating rules, the balance of many random steps, hydraulic connections and the
// balance file.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "framework/memory_handling.h"
#include "framework/text_helpers.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"
#include "support/test_support.h"

namespace {

const char* kEntry = "( file = res.txt V0 = 5000 A0 = 1e6 W0 = 420 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 60 )";

// A reservoir of sub-basin 1 on a 5 x 5 grid of 100 m cells, lakes switched off.
struct ReservoirBench {
  CapturedLog log;
  TempDir dir;
  ReservoirContext ctx;
  MatrixOwner lakeCodes{5, 5}, ponding{5, 5}, maxPonding{5, 5}, zones{5, 5}, dem{5, 5}, prec{5, 5};

  explicit ReservoirBench(int dt = 60) {
    ctx.log = &log.log();
    ctx.subbasin = 1;
    ctx.zone = 1;
    ctx.geometry.ncols = 5;
    ctx.geometry.nrows = 5;
    ctx.geometry.cellsize = 100.0;
    ctx.outputDirectory = dir.path() + "/";
    ctx.tableDirectory = dir.path() + "/";
    ctx.dt = dt;
    for (int r = 1; r <= 5; ++r)
      for (int c = 0; c <= 5; ++c) {
        zones[r][c] = 1;
        dem[r][c] = 500;
        lakeCodes[r][c] = ponding[r][c] = maxPonding[r][c] = prec[r][c] = 0;
      }
    ctx.grids.lakeCodes = lakeCodes.get();
    ctx.grids.ponding = ponding.get();
    ctx.grids.maxPonding = maxPonding.get();
    ctx.grids.zones = zones.get();
    ctx.grids.dem = dem.get();
    ctx.grids.precipitation = prec.get();
  }
  // Lake cells of number 1: DEM values, all with the top level `top`.
  void Lake(const std::vector<std::array<double, 3>>& cells, double top) {
    ctx.lakes = true;
    for (const auto& c : cells) {
      const int r = static_cast<int>(c[0]), col = static_cast<int>(c[1]);
      lakeCodes[r][col] = 1;
      dem[r][col] = c[2];
      maxPonding[r][col] = (top - c[2]) * 1000.0;
    }
  }
  std::unique_ptr<SP_class> Make(const std::string& entry = kEntry, const std::string& rules = "0\n") {
    auto sp = std::make_unique<SP_class>();
    sp->SetParameters(ctx);
    sp->ReadParameters(1, entry);
    sp->InitLake();
    TextCursor control("[abstraction_rule_reservoir_1]\n" + rules);
    sp->ReadAbstractionRules(control);
    return sp;
  }
};

int Code(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

TEST(Reservoir, EntryKeysDefaultsAndFileNames) {
  ReservoirBench b;
  auto sp = b.Make("(file = /data/r.txt V0 = 10 C0 = 1 2 3 4 5 6 7 8 9)");
  EXPECT_EQ(sp->fileName, "/data/r.txt");
  EXPECT_DOUBLE_EQ(sp->state[0], 10.0);
  EXPECT_EQ(sp->A, 0.0);
  EXPECT_EQ(sp->W, 0.0);
  EXPECT_EQ(sp->dTmin, 60.0);
  EXPECT_EQ(sp->useRunningAvg, 0);
  EXPECT_FALSE(sp->lake);
  EXPECT_EQ(SP_class::MakeFilePath("out/", "~/r.txt"), "~/r.txt");
  EXPECT_EQ(SP_class::MakeFilePath("out/", "r.txt"), "out/r.txt");
  EXPECT_EQ(SP_class::MakeFilePath("", "r.txt"), "r.txt");
  // No tracers: a row of 35 doubles, 7489 rows in the buffer.
  EXPECT_EQ(sp->rowCapacity, 7489u);
  // Every key is read by its name wherever it stands; a remark or a unit of its own stays a
  // remark.
  auto any = b.Make("(dTmin = 600 s, A0 = 5e5 m2 W0 = 300 (m) UseRunningAvg = 24 C0 = 1 2 3 4 5 6 7 8 9 V0 = 7 m3 "
                    "# V0 = 9\nfilename = r.txt)");
  EXPECT_EQ(any->fileName.substr(any->fileName.size() - 6), "/r.txt");
  EXPECT_DOUBLE_EQ(any->state[0], 7.0);
  EXPECT_DOUBLE_EQ(any->A, 5e5);
  EXPECT_DOUBLE_EQ(any->W, 300.0);
  EXPECT_DOUBLE_EQ(any->dTmin, 600.0);
  EXPECT_EQ(any->useRunningAvg, 24);
}

TEST(Reservoir, BadEntriesAndLakesAreRefusedWithTheirCodes) {
  const std::string c0 = " C0 = 0 0 0 0 0 0 0 0 0";
  const struct {
    std::string entry;
    int code;
  } cases[] = {
      {"(V0 = 1" + c0 + ")", 35},                          // no file
      {"(file = a" + c0 + ")", 35},                        // no V0
      {"(file = a V0 = 1)", 35},                           // no C0
      {"(file = a V0 = -1" + c0 + ")", 35},                // negative volume
      {"(file = a V0 = x" + c0 + ")", 35},                 // no number
      {"(file = a V0 = nan" + c0 + ")", 35},               // not finite
      {"(file = a V0 = 2e15" + c0 + ")", 35},              // more than any lake
      {"(file = a V0 = 1 C0 = 0 0 0 0 0 0 0 0)", 35},      // eight concentrations
      {"(file = a V0 = 1" + c0 + " dTmin = 0)", 35},       // no sub-steps
      {"(file = a V0 = 1" + c0 + " dTmin = 1e-300)", 35},  // endless sub-steps
      {"(file = a V0 = 1" + c0 + " UseRunningAvg = -2)", 35},
      {"(file = a V0 = 1 A0 = -2e5" + c0 + ")", 35},
      {"(file = a V0 = 1" + c0 + " dTmin = 30)", 0},
      {"(file = a V0 = 1" + c0 + " V0 = 2)", 35},           // a key given twice
      {"(file = a filename = b V0 = 1" + c0 + ")", 35},     // the same key in a longer word
      {"(file = a V0 = 1" + c0 + " dTmin = 10 min)", 35},  // a unit the key does not take
      {"(file = a V0 = 1 hm3" + c0 + ")", 35},
      {"(file = a V0 = 1 A0 = 2 km2" + c0 + ")", 35},
      {"(file = a V0 = 1" + c0 + " UseRunningAvg = 2 d)", 35},
  };
  for (const auto& t : cases) {
    ReservoirBench b;
    EXPECT_EQ(Code([&] { b.Make(t.entry); }), t.code) << t.entry;
  }
  // Lakes: top levels 0.02 m apart; 0.005 m apart; a cell in another sub-basin; a flat
  // lake; no writable table folder.
  {
    ReservoirBench b;
    b.Lake({{{1, 1, 100}}, {{1, 2, 100}}}, 101);
    b.maxPonding[1][2] += 20;
    EXPECT_EQ(Code([&] { b.Make(); }), 213);
    EXPECT_NE(b.log.console().find("All Cells for a lake must have the same Altitude"), std::string::npos);
  }
  {
    ReservoirBench b;
    b.Lake({{{1, 1, 100}}, {{1, 2, 100}}}, 101);
    b.maxPonding[1][2] += 5;
    EXPECT_EQ(Code([&] { b.Make(); }), 0);
  }
  {
    ReservoirBench b;
    b.Lake({{{1, 1, 100}}, {{2, 2, 100}}}, 101);
    b.zones[2][2] = 2;
    EXPECT_EQ(Code([&] { b.Make(); }), 224);
  }
  {
    ReservoirBench b;
    b.Lake({{{1, 1, 100}}}, 100);
    EXPECT_EQ(Code([&] { b.Make(); }), 213);
  }
  {
    ReservoirBench b;
    b.Lake({{{1, 1, 100}}}, 101);
    b.ctx.tableDirectory = b.dir.path() + "/missing/";
    EXPECT_EQ(Code([&] { b.Make(); }), 225);
  }
}

TEST(Reservoir, ReservoirWithoutLakeCellsIsNoLake) {
  ReservoirBench b;
  b.ctx.lakes = true;
  auto sp = b.Make();
  EXPECT_FALSE(sp->lake);
  EXPECT_NE(b.log.console().find("reservoir 1 has no lake cells"), std::string::npos);
  EXPECT_EQ(sp->InterpolateForward(100.0), 0.0);
  EXPECT_EQ(sp->UpdateLakeLevel(100.0), 0);
}

TEST(Reservoir, LakeTableAndWaterDepthsFromTheCells) {
  ReservoirBench b;
  // Three cells, DEM 100, 101 and 102, all filled up to 102.5 (span 2.5 m).
  b.Lake({{{2, 2, 100}}, {{2, 3, 101}}, {{3, 3, 102}}}, 102.5);
  auto sp = b.Make();
  ASSERT_TRUE(sp->lake);
  ASSERT_EQ(sp->levels.size(), 251u);
  EXPECT_DOUBLE_EQ(sp->levels.front(), 102.5);
  EXPECT_DOUBLE_EQ(sp->levels.back(), 100.0);
  EXPECT_DOUBLE_EQ(sp->volumes.back(), 0.0);
  const double c2 = 1e4;
  EXPECT_NEAR(sp->volumes.front(), (2.5 + 1.5 + 0.5) * c2, 1e-6);
  EXPECT_NEAR(sp->volumes[100], (1.5 + 0.5) * c2, 1e-6);  // level 101.5
  EXPECT_EQ(sp->firstRow, 2);
  EXPECT_EQ(sp->lastRow, 3);
  EXPECT_EQ(sp->firstCol, 2);
  EXPECT_EQ(sp->lastCol, 3);
  // Level from volume and back; beyond the top the table is extrapolated.
  for (double level : {100.3, 101.25, 102.0, 102.49}) {
    const double v = sp->InterpolateBackward(level);
    EXPECT_NEAR(sp->InterpolateForward(v), level, 1e-9) << level;
  }
  EXPECT_GT(sp->InterpolateForward(sp->volumes.front() * 1.1), 102.5);
  // A level of 101.5 floods two cells; the cell at 102 stays dry.
  EXPECT_EQ(sp->UpdateLakeLevel(2.0 * c2), 2);
  EXPECT_NEAR(sp->W, 101.5, 1e-9);
  EXPECT_NEAR(b.ponding[2][2], 1500.0, 1e-6);
  EXPECT_NEAR(b.ponding[2][3], 500.0, 1e-6);
  EXPECT_EQ(b.ponding[3][3], 0.0);
  std::vector<double> held;
  EXPECT_EQ(sp->SumLakeCells(held), 2);
  EXPECT_NEAR(held[0], 2.0 * c2, 1e-6);
  const std::string table = ReadTextFile(b.dir.file("W_V_Table_01.dat"));
  EXPECT_EQ(table.rfind("waterlevel-volume-table lake 1\nLevel[m a.s.l.]\tVolume[m^3]\n102.5\t45000\n", 0), 0u);
}

TEST(Reservoir, DeepLakeTableSegments) {
  ReservoirBench b;
  b.Lake({{{1, 1, 100}}, {{1, 2, 110}}}, 120);
  auto sp = b.Make();
  ASSERT_EQ(sp->levels.size(), 400u + 500u + 120u + 1u);
  EXPECT_NEAR(sp->levels[400], 116.0, 1e-9);
  EXPECT_NEAR(sp->levels[900], 106.0, 1e-9);
  EXPECT_NEAR(sp->levels[1019], 100.05, 1e-9);
  // Equal volumes never divide by zero: below the second cell's DEM only one cell holds water.
  for (size_t i = 0; i + 1 < sp->volumes.size(); ++i) EXPECT_GE(sp->volumes[i], sp->volumes[i + 1]);
  EXPECT_TRUE(std::isfinite(sp->InterpolateForward(0.0)));
}

TEST(ReservoirRules, ReadingAndRefusals) {
  CapturedLog log;
  {
    TextCursor t("3 1 100 200\n0 0 0 0\n100 1 2 3\n100 5 5 5\nTargetCap = 4 -1 -1\nWeekDays = 12345 -1 -1\n"
                 "start_hour = 22 -1 -1\nstop_hour = 6 -1 -1\nTableIndex = Volume\n\n");
    const OperatingRules r = ReadRuleTable(t, "[s]", &log.log());
    ASSERT_EQ(r.Rules(), 3);
    EXPECT_EQ(r.rows, 3);
    EXPECT_EQ(r.startDay, (std::vector<int>{1, 100, 200}));
    EXPECT_EQ(r.weekDays[0], 12345);
    EXPECT_EQ(r.startHour[0], 22);
    EXPECT_EQ(r.stopHour[0], 6);
    EXPECT_EQ(r.targetCap[1], -1.0);
    EXPECT_FALSE(r.flowTable);
    EXPECT_DOUBLE_EQ(r.slope[0][0], 0.01);
    EXPECT_DOUBLE_EQ(r.slope[0][1], 0.0);  // equal volumes: slope 0
    EXPECT_DOUBLE_EQ(r.slope[0][2], 0.0);
  }
  {
    // One rule: its start day is 1 whatever the line holds. A connection after "0".
    TextCursor t("2 77\n0 0\n10 1\n[next]\n");
    EXPECT_EQ(ReadRuleTable(t, "[s]", nullptr).startDay, std::vector<int>{1});
    // Rows as every row of numbers: a comma or semicolon behind a number separates it, a
    // remark ends the row.
    TextCursor commas("2, 1\n0; 0\n1e5 , 0.5  # the largest\n");
    const OperatingRules r = ReadRuleTable(commas, "[s]", nullptr);
    EXPECT_EQ(r.first, (std::vector<double>{0.0, 1e5}));
    EXPECT_EQ(r.column[0], (std::vector<double>{0.0, 0.5}));
    TextCursor c("0\nHydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 3;\nChannelBottom = 99.5;"
                 " ChannelLength = 100; RoughnessCoeff = 30;\n}\n");
    EXPECT_EQ(ReadRuleTable(c, "[s]", nullptr).rows, 0);
    const HydraulicConnection h = ReadHydraulicConnection(c, 1, nullptr);
    EXPECT_TRUE(h.on);
    EXPECT_EQ(h.target, 2);
    EXPECT_DOUBLE_EQ(h.bottom, 99.5);
    EXPECT_DOUBLE_EQ(h.roughness, 30.0);
  }
  const char* bad[] = {
      "2 100 100\n0 0 0\n1 1 1\n",        // equal start days
      "2 1 400\n0 0 0\n1 1 1\n",          // start day outside the year
      "2 1 100\n0 0 0\n1 x 1\n",          // no number
      "3 1\n0 0\n1 1\n",                  // the table ends early
      "2 1 100\n0 0 0\n1 1\n",            // too few values in a row
      "1 1 100\n0 0 0\nTargetCap = 3\n",  // a value per rule
      "x\n",
      "1 1\n0 0\nstart_hour = 24\n",         // no hour of the day
      "1 1\n0 0\nWeekDays = 1e300\n",        // no weekdays
  };
  for (const char* text : bad) {
    TextCursor t(text);
    EXPECT_EQ(Code([&] { ReadRuleTable(t, "[s]", nullptr); }), 29) << text;
  }
  // Impossible tables name the section, the line and the value; equal volumes are allowed.
  const struct {
    const char* text;
    const char* message;
  } impossible[] = {
      {"3 1\n0 0\n2e6 60\n1e5 5\n", "[s], line 4: the first column falls from 2e+06 to 100000"},
      {"2 1\n0 0\n1e5 -5\n", "[s], line 3: rule 1 holds -5"},
      {"2 1\n-1 0\n1e5 5\n", "[s], line 2: the first column holds -1"},
      {"3 1 100\n0 0 0\n10 5e6 4e6\n10 1e6 5e6\nTableIndex = Flow\n",
       "[s], line 4: rule 1 falls from 5e+06 to 1e+06"},
      {"2 1\n0 0\n1e5 0,5\n", "[s], line 3: \"0,5\" is not a number: the comma between digits makes no number"},
      {"2 1\n0 0\n1e5 half\n", "[s], line 3: \"half\" is not a number (2 values expected)"},
      // Rows beyond the count and values beyond a row, which would be dropped.
      {"2 1\n0 0\n5e5 0.2\n2e6 2\n", "[s], line 4: a row of the table beyond the 2 rows that line 1 counts"},
      {"2 1\n0 0\n5e5 0.2 0.3\n", "[s], line 3: the row holds 3 numbers, 1 more than the 2 it takes"},
      {"2 1 100\n0 0 0\n5e5 1 2\nTargetCap = 3 4 5\n", "[s], line 4: TargetCap holds 3 numbers, 1 more than the 2"},
  };
  for (const auto& c : impossible) {
    CapturedLog l;
    TextCursor t(c.text);
    EXPECT_EQ(Code([&] { ReadRuleTable(t, "[s]", &l.log()); }), 29) << c.text;
    EXPECT_NE(l.console().find(c.message), std::string::npos) << l.console();
  }
  const char* badConnection[] = {
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 3; ChannelBottom = 1; RoughnessCoeff = 3;\n}",
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 3; ChannelBottom = 1; ChannelLength = 0;"
      " RoughnessCoeff = 3;\n}",
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = y; ChannelBottom = 1; ChannelLength = 5;"
      " RoughnessCoeff = 3;\n}",
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 3; ChannelBottom = 1; ChannelLength = 5;\n",
      "HydraulicConnection {\nTargetReservoir = 1e30; ChannelWidth = 3; ChannelBottom = 1; ChannelLength = 5;"
      " RoughnessCoeff = 3;\n}",
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 0; ChannelBottom = 1; ChannelLength = 5;"
      " RoughnessCoeff = 3;\n}",
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 3; ChannelBottom = 1; ChannelLength = 5;"
      " RoughnessCoeff = -3;\n}",
  };
  for (const char* text : badConnection) {
    TextCursor t(text);
    EXPECT_EQ(Code([&] { ReadHydraulicConnection(t, 4, nullptr); }), 29) << text;
  }
  CapturedLog comma;
  TextCursor t("HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 2,5; ChannelBottom = 1; ChannelLength = 5;"
               " RoughnessCoeff = 3;\n}");
  EXPECT_EQ(Code([&] { ReadHydraulicConnection(t, 4, &comma.log()); }), 29);
  EXPECT_NE(comma.console().find("(ChannelWidth = \"2,5\" is not a number: the comma between digits"), std::string::npos)
      << comma.console();
  TextCursor none("[other]\n1\n");
  EXPECT_EQ(Code([&] { FindRuleSection(none, "[abstraction_rule_reservoir_3]", nullptr); }), 34);
  // WeekDays without hours: the warning says what each rule does as its owner switches it,
  // and says "never" only of the rules that never act.
  const struct {
    const char* text;
    RuleSchedule schedule;
    const char* says;
    bool never;
  } warnings[] = {
      {"1\n0 0\nWeekDays = 12345\n", RuleSchedule::kReservoir, "rule 1 (WeekDays 12345) never acts", true},
      {"1\n0 0\nWeekDays = -1\n", RuleSchedule::kReservoir, "rule 1 (WeekDays -1) acts at every hour of every day",
       false},
      {"1 1 100\n0 0 0\nWeekDays = 67 -1\n", RuleSchedule::kReservoir,
       "rule 1 (WeekDays 67) never acts: no hour lies in its hours -1 to -1 (start_hour = 0 and stop_hour = 23 make "
       "it act all day on its weekdays); rule 2 (WeekDays -1) acts at every hour of every day",
       true},
      {"1\n0 0\nWeekDays = -1\n", RuleSchedule::kWithinHours, "rule 1 (WeekDays -1) never acts", true},
      {"1\n0 0\nWeekDays = 12345\n", RuleSchedule::kEveryStep, "act at every step, whatever their WeekDays", false},
      {"1\n0 0\nWeekDays = -1\nstart_hour = 0\n", RuleSchedule::kReservoir, nullptr, false},
  };
  for (const auto& w : warnings) {
    CapturedLog l;
    TextCursor t(w.text);
    ReadRuleTable(t, "[w]", &l.log(), w.schedule);
    const std::string console = l.console();
    EXPECT_EQ(console.find("[w]: WeekDays without start_hour and stop_hour: ") != std::string::npos,
              w.says != nullptr)
        << console;
    if (w.says) {
      EXPECT_NE(console.find(w.says), std::string::npos) << console;
    }
    EXPECT_EQ(console.find("never") != std::string::npos, w.never) << console;
  }
}

TEST(ReservoirRules, ChoiceWeightsAndWindows) {
  OperatingRules r;
  r.startDay = {60, 160, 300};
  r.weekDays = {12345, -1, 67};
  r.startHour = {22, -1, 8};
  r.stopHour = {6, -1, 8};
  const struct {
    int day, rule;
    double w;
  } choices[] = {{1, 0, 1.0}, {60, 0, 1.0}, {110, 1, 0.5}, {160, 1, 1.0}, {230, 2, 0.5}, {365, 2, 1.0}};
  for (const auto& c : choices) {
    const RuleChoice ch = ChooseRule(r, c.day);
    EXPECT_EQ(ch.r, c.rule) << c.day;
    EXPECT_DOUBLE_EQ(ch.w, c.w) << c.day;
  }
  EXPECT_EQ(DayOfYear(3, 1), 60);
  EXPECT_EQ(DayOfYear(12, 31), 365);
  // 1 January 2024 is a Monday; an offset of 2 h moves 1 h on Monday back to Sunday.
  EXPECT_EQ(WeekdayOf(2024, 1, 1, 12, 0, 0.0), 1);
  EXPECT_EQ(WeekdayOf(2024, 1, 1, 1, 0, 2.0), 7);
  const struct {
    int rule, weekday, hour;
    bool active;
  } windows[] = {{0, 1, 22, true}, {0, 1, 6, true}, {0, 1, 7, false}, {0, 1, 21, false}, {0, 6, 23, false},
                 {1, 6, 13, true}, {2, 7, 8, true},  {2, 7, 9, false}, {2, 5, 8, false}};
  for (const auto& w : windows)
    EXPECT_EQ(RuleActive(r, w.rule, w.weekday, w.hour), w.active) << w.rule << " " << w.weekday << " " << w.hour;
}

TEST(ReservoirRules, ConnectionFlowsDownhillAndNotBelowTheSill) {
  HydraulicConnection c;
  c.on = true;
  c.width = 4;
  c.bottom = 100;
  c.length = 200;
  c.roughness = 30;
  EXPECT_GT(ConnectionFlow(c, 101, 100.5), 0.0);
  EXPECT_LT(ConnectionFlow(c, 100.5, 101), 0.0);
  EXPECT_DOUBLE_EQ(ConnectionFlow(c, 101, 100.5), -ConnectionFlow(c, 100.5, 101));
  EXPECT_EQ(ConnectionFlow(c, 100, 99), 0.0);
  EXPECT_EQ(ConnectionFlow(c, 100, 100), 0.0);
  EXPECT_EQ(ConnectionFlow(c, 101, 101), 0.0);
  // Free outflow over the sill: h = 1, I = h / L.
  const double h = 1.0, a = 4.0 * h, rad = a / (4.0 + 2.0 * h);
  EXPECT_NEAR(ConnectionFlow(c, 101, 90), 30.0 * a * std::pow(rad, 2.0 / 3.0) * std::sqrt(h / 200.0), 1e-12);
}

// Outflow of one step of dt minutes of a reservoir without cells (2024-01-01 is a Monday).
double Outflow(ReservoirBench& b, const std::string& rules, double v0, StepDate date, double qin = 0.0,
               const std::string& extra = "", double dt = 60.0) {
  auto sp = b.Make("(file = r.txt V0 = " + std::to_string(v0) + " C0 = 0 0 0 0 0 0 0 0 0 " + extra + ")", rules);
  std::vector<AL_class*> none;
  return sp->TimeStep(none, date, qin, dt, 0.0);
}

TEST(ReservoirRules, OutflowByTable) {
  const StepDate monday{2024, 1, 1, 12, 0}, saturday{2024, 1, 6, 12, 0}, april{2024, 4, 1, 12, 0};
  const std::string table = "3 1\n0 0\n1e8 10\n2e8 30\n";
  const std::string blended = "3 1 181\n0 0 0\n1e8 10 20\n2e8 30 40\n";
  const std::string daily = "3 1\n0 0\n1e10 10\n2e10 30\n";
  const StepDate mondayEnd{2024, 1, 1, 24, 0};
  const struct {
    std::string rules;
    double v0;
    StepDate date;
    double qin;
    double expected;
    double dt = 60.0;
  } cases[] = {
      {table, 5e7, monday, 0, 5},                                  // between rows
      {table, 1.5e8, monday, 0, 20},
      {table, 0, monday, 0, 0},                                    // at the first row
      {table, 2.5e8, monday, 7, 7},                                // spill: the inflow
      {table + "TargetCap = 12\n", 1.5e8, monday, 0, 12},          // capped
      {table + "WeekDays = 12345\nstart_hour = 8\nstop_hour = 16\n", 1.5e8, monday, 0, 20},
      {table + "WeekDays = 12345\nstart_hour = 8\nstop_hour = 16\n", 1.5e8, saturday, 0, 0},
      {table + "WeekDays = 12345\n", 1.5e8, monday, 0, 0},         // no hours: never
      {blended, 1.5e8, april, 0, 25},                               // half way: 20 and 30
      {"3 1\n0 0\n10 1e8\n30 2e8\nTableIndex = Flow\n", 1.5e8, monday, 0, 20},
      // Daily steps, stamped 24 h: Monday's step is Tuesday 0 h for the window and the weekday.
      {daily + "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\n", 1.5e10, mondayEnd, 0, 20, 1440},
      {daily + "WeekDays = 2\nstart_hour = 0\nstop_hour = 0\n", 1.5e10, mondayEnd, 0, 20, 1440},
      {daily + "WeekDays = 1\nstart_hour = 0\nstop_hour = 23\n", 1.5e10, mondayEnd, 0, 0, 1440},
  };
  for (const auto& c : cases) {
    ReservoirBench b;
    // The sub-steps draw the volume down; the expected values hold for small draws.
    EXPECT_NEAR(Outflow(b, c.rules, c.v0, c.date, c.qin, "", c.dt), c.expected, 0.01 * (1 + c.expected)) << c.rules;
  }
  {
    // A step shorter than dTmin has no sub-step and releases nothing.
    ReservoirBench b;
    EXPECT_EQ(Outflow(b, table, 1.5e8, monday, 0, "dTmin = 7200"), 0.0);
  }
}

TEST(Reservoir, RunningAverageWindowStaysItsLength) {
  ReservoirBench b;
  auto sp = b.Make("(file = r.txt V0 = 100 C0 = 0 0 0 0 0 0 0 0 0 UseRunningAvg = 3)", "2 1\n0 0\n1e9 1e9\n");
  std::vector<AL_class*> none;
  for (int i = 0; i < 10; ++i) {
    sp->state[0] = 100.0 * i;
    sp->TimeStep(none, StepDate{2024, 1, 1, i, 0}, 0.0, 60.0, 0.0);
    EXPECT_LE(sp->runningAvg.size(), 3u);
  }
  EXPECT_EQ(sp->runningAvg, (std::deque<double>{700, 800, 900}));
}

// V(t+1) = V(t) + inflow - outflow - abstraction over many random steps and tables; the
// volume never falls below 0.
TEST(ReservoirBalance, RandomStepsCloseExactly) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    ReservoirBench b;
    const std::string rules = "3 1 180\n0 0 0\n" + std::to_string(1e5 + 1e6 * u(rng)) + " " +
                              std::to_string(50 * u(rng)) + " " + std::to_string(50 * u(rng)) + "\n" +
                              std::to_string(2e6 + 1e6 * u(rng)) + " " + std::to_string(100 * u(rng)) + " " +
                              std::to_string(100 * u(rng)) + "\n";
    auto sp = b.Make("(file = r.txt V0 = " + std::to_string(3e6 * u(rng)) +
                         " A0 = 1e6 W0 = 10 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)",
                     rules);
    std::vector<AL_class*> none;
    for (int step = 0; step < 200; ++step) {
      const double v = sp->state[0];
      const double inflow = 40.0 * u(rng), abstraction = u(rng) < 0.2 ? 2e5 * u(rng) : 0.0;
      StepDate d{2024, 1 + step % 12, 1 + step % 28, step % 24, 0};
      sp->BeginStep(inflow, nullptr, none, d, 1, 1, 1, 60.0, 0.0, abstraction);
      const double expected = v + sp->Qin.m3 - sp->QoutTerm.m3 - sp->Abstr.m3;
      ASSERT_NEAR(sp->state[0], expected, 1e-9 * (1.0 + std::fabs(v))) << trial << " " << step;
      ASSERT_GE(sp->state[0], 0.0);
      ASSERT_GE(sp->Qout, 0.0);
      ASSERT_LE(sp->Abstr.m3, v + 1e-9);
      ASSERT_NEAR(sp->dV.m3, sp->Qin.m3 - sp->Abstr.m3 - sp->QoutTerm.m3, 1e-9);
    }
  }
}

TEST(ReservoirBalance, OverdrawReleasesWhatIsThere) {
  ReservoirBench b;
  auto sp = b.Make("(file = r.txt V0 = 1000 C0 = 0 0 0 0 0 0 0 0 0)", "2 1\n0 1000\n1e9 1000\n");
  std::vector<AL_class*> none;
  sp->BeginStep(0.0, nullptr, none, StepDate{2024, 1, 1, 1, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
  EXPECT_NEAR(sp->QoutTerm.m3, 1000.0, 1e-9);
  EXPECT_NEAR(sp->state[0], 0.0, 1e-9);
  // Withdrawals larger than the volume book only what was there.
  auto sp2 = b.Make("(file = r.txt V0 = 1000 C0 = 0 0 0 0 0 0 0 0 0)", "0\n");
  sp2->BeginStep(0.0, nullptr, none, StepDate{2024, 1, 1, 1, 0}, 1, 1, 1, 60.0, 0.0, 5000.0);
  EXPECT_DOUBLE_EQ(sp2->Abstr.m3, 1000.0);
  EXPECT_EQ(sp2->state[0], 0.0);
}

// A lake gathers its cells' water; precipitation that the other modules put on the cells
// comes back as PREC, and the closing error stays at rounding.
TEST(ReservoirBalance, LakeBalanceWithPrecipitation) {
  ReservoirBench b;
  b.Lake({{{2, 2, 100}}, {{2, 3, 101}}, {{3, 3, 102}}}, 105);
  auto sp = b.Make("(file = r.txt V0 = 20000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)", "2 1\n0 0\n1e6 100\n");
  sp->UpdateLakeLevel(sp->state[0]);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<AL_class*> none;
  for (int step = 0; step < 100; ++step) {
    const double v = sp->state[0];
    double rain = 0.0;
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 5; ++c) {
        b.prec[r][c] = 5.0 * u(rng);
        if (b.lakeCodes[r][c] == 1 && b.ponding[r][c] > 0.0) {
          b.ponding[r][c] += b.prec[r][c];
          rain += b.prec[r][c] / 1000.0 * 1e4;
        }
      }
    sp->BeginStep(0.5 * u(rng), nullptr, none, StepDate{2024, 5, 1 + step % 28, step % 24, 0}, 1, 1, 1, 60.0, 0.0,
                  0.0);
    EXPECT_NEAR(sp->PREC.m3, rain, 1e-9 * rain);
    ASSERT_NEAR(sp->state[0], v + rain + sp->Qin.m3 - sp->QoutTerm.m3, 1e-9 * v) << step;
    ASSERT_NEAR(sp->Err.m3, 0.0, 1e-6);
    EXPECT_GT(sp->A, 0.0);
    EXPECT_NEAR(sp->W, sp->InterpolateForward(sp->state[0]), 1e-12);
  }
}

// The lake's evaporation is what evapotranspiration took from its water: a deep cell, and a
// cell of 1.2 mm that the step empties, count; a cell of 0.5 mm (which evaporates from its
// soil) and snow evaporating on the water do not.
TEST(ReservoirBalance, LakeEvaporationIsWhatLeftTheWater) {
  ReservoirBench b;
  MatrixOwner transpiration{5, 5}, interception{5, 5}, snow{5, 5};
  b.Lake({{{1, 1, 100}}, {{1, 2, 100.9988}}, {{1, 3, 100.9995}}}, 102);
  b.ctx.grids.evaporation = transpiration.get();
  b.ctx.grids.interceptionEvaporation = interception.get();
  b.ctx.grids.snowEvaporation = snow.get();
  auto sp = b.Make("(file = r.txt V0 = 0 C0 = 0 0 0 0 0 0 0 0 0)");
  sp->state[0] = sp->InterpolateBackward(101.0);
  sp->UpdateLakeLevel(sp->state[0]);
  double taken = 0.0;
  for (int c = 1; c <= 3; ++c) {
    double& pond = b.ponding[1][c];
    const bool fromWater = pond > 1.0;
    const double e = fromWater ? std::min(1.5, pond) : 1.5;
    if (fromWater) {
      pond -= e;
      taken += e;
    }
    snow[1][c] = c == 1 ? 0.4 : 0.0;
    interception[1][c] = 0.3;
    transpiration[1][c] = e + snow[1][c] + interception[1][c];
  }
  EXPECT_NEAR(taken, 2.7, 1e-9);
  EXPECT_EQ(b.ponding[1][2], 0.0);
  const double v = sp->state[0];
  std::vector<AL_class*> none;
  sp->BeginStep(0.0, nullptr, none, StepDate{2024, 5, 1, 0, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
  EXPECT_NEAR(sp->ETR.m3, taken * 10.0, 1e-9);
  EXPECT_NEAR(sp->Err.m3, 0.0, 1e-9 * v);
}

// The water depths a lake writes hold its volume, also where the ground of a cell lies
// inside a step of the level-volume table (100.004 and 100.013 m inside the 1 cm steps):
// from nearly empty to above full, at the level the table gives. A step in which
// evapotranspiration takes all the water of every cell closes its balance and leaves the
// lake empty, not below it.
TEST(ReservoirBalance, LakeDepthsHoldTheVolumeAtTheTableLevel) {
  ReservoirBench b;
  MatrixOwner transpiration{5, 5}, interception{5, 5};
  b.Lake({{{2, 2, 100.0}}, {{2, 3, 100.004}}, {{3, 2, 100.013}}, {{3, 3, 101.2}}}, 102.5);
  b.ctx.grids.evaporation = transpiration.get();
  b.ctx.grids.interceptionEvaporation = interception.get();
  auto sp = b.Make("(file = r.txt V0 = 0 C0 = 0 0 0 0 0 0 0 0 0)");
  const double c2 = 1e4;
  auto held = [&] {
    double v = 0.0;
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 5; ++c) v += b.ponding[r][c] / 1000.0 * c2;
    return v;
  };
  std::vector<AL_class*> none;
  for (double v : {0.05, 0.3, 0.8, 1.0, 4.0, 60.0, 170.0, 1e3, 1.2e4, 4e4, 9e4}) {
    SCOPED_TRACE(v);
    sp->state[0] = v;
    const int flooded = sp->UpdateLakeLevel(v);
    EXPECT_EQ(sp->W, sp->InterpolateForward(v));
    EXPECT_NEAR(held(), v, 1e-13 * v);
    int wet = 0;
    for (int r = 2; r <= 3; ++r)
      for (int c = 2; c <= 3; ++c) {
        wet += b.ponding[r][c] > 0.0;
        EXPECT_EQ(b.ponding[r][c] > 0.0, sp->W > b.dem[r][c]) << r << "," << c;
      }
    EXPECT_EQ(flooded, wet);

    // Evapotranspiration takes all the water of every cell deeper than 1 mm, as its module
    // draws on a lake.
    double taken = 0.0;
    for (int r = 2; r <= 3; ++r)
      for (int c = 2; c <= 3; ++c) {
        const double e = b.ponding[r][c] > 1.0 ? b.ponding[r][c] : 0.0;
        transpiration[r][c] = e;
        taken += e / 1000.0 * c2;
        b.ponding[r][c] -= e;
      }
    sp->BeginStep(0.0, nullptr, none, StepDate{2024, 5, 1, 0, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
    EXPECT_NEAR(sp->ETR.m3, taken, 1e-13 * v);
    EXPECT_NEAR(sp->state[0], v - taken, 1e-13 * v);
    EXPECT_GE(sp->state[0], 0.0);
    EXPECT_NEAR(sp->Err.m3, 0.0, 1e-13 * v);
  }
  // Water too shallow to lift the level above the ground stays on the lowest cell.
  sp->UpdateLakeLevel(1e-9);
  EXPECT_NEAR(b.ponding[2][2], 1e-9 / c2 * 1000.0, 1e-25);
  EXPECT_EQ(b.ponding[2][3] + b.ponding[3][2] + b.ponding[3][3], 0.0);
}

TEST(ReservoirBalance, HydraulicConnectionExchangesFromHighToLow) {
  ReservoirBench b;
  const std::string link = [](int target) {
    return "0\nHydraulicConnection {\nTargetReservoir = " + std::to_string(target) +
           "; ChannelWidth = 5; ChannelBottom = 100; ChannelLength = 500; RoughnessCoeff = 30;\n}\n";
  }(2);
  auto high = b.Make("(file = a.txt V0 = 2e6 A0 = 1e6 W0 = 102 C0 = 0 0 0 0 0 0 0 0 0)", link);
  ReservoirRegistry registry;
  high->AttachRegistry(&registry);
  double lowLevel = 101.0, rate = 0.0, area = 1e6;
  registry[2] = ReservoirLevels{&lowLevel, &rate, &area};
  std::vector<AL_class*> none;
  const StepDate d{2024, 1, 1, 0, 0};
  EXPECT_GT(high->TimeStep(none, d, 0.0, 60.0, 0.0), 0.0);
  lowLevel = 103.0;
  EXPECT_LT(high->TimeStep(none, d, 0.0, 60.0, 0.0), 0.0);
  high->W = 100.0;
  lowLevel = 99.0;
  EXPECT_EQ(high->TimeStep(none, d, 0.0, 60.0, 0.0), 0.0);
  // The level never falls below the sill: at most the water above it leaves.
  high->W = 100.001;
  const double q = high->TimeStep(none, d, 0.0, 60.0, 0.0);
  EXPECT_LE(q * 3600.0, 0.001 * 1e6 + 1e-6);
  registry.erase(2);
  EXPECT_EQ(Code([&] { high->TimeStep(none, d, 0.0, 60.0, 0.0); }), 29);
}

// The balance file: header and three rows, hourly and in 30-minute steps.
TEST(ReservoirOutput, MatchesTheGoldenFile) {
  const std::string titles =
      "\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig[m3]\tIrrig[mm]"
      "\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]"
      "\tdV[mm]\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";
  const std::string zeros15 = "\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0";
  for (int dt : {60, 30}) {
    ReservoirBench b(dt);
    auto sp = b.Make("(file = res.txt V0 = 1000 A0 = 1e6 W0 = 0 C0 = 0 0 0 0 0 0 0 0 0)", "0\n");
    sp->WriteOutputHeader();
    std::vector<AL_class*> none;
    for (int i = 0; i < 3; ++i) {
      const StepDate d{2025, 3, 9, 5 + i, dt == 30 ? 30 : 0};
      sp->BeginStep(1.0, nullptr, none, d, 1, 1, 1, dt, 0.0, 0.0);
      sp->StoreOutputRow(d);
    }
    sp->FlushToDisk(1);
    const std::string head = dt == 60 ? "YY\tMM\tDD\tHH" : "YY\tMM\tDD\tHH\tmm";
    const std::string ts = dt == 60 ? "3600" : "1800", mm = dt == 60 ? "3.6" : "1.8";
    std::string expected = head + titles + "\nreservoir_1\n" + head + titles + "\n";
    for (int i = 0; i < 3; ++i) {
      const std::string v = std::to_string(1000 + (i + 1) * (dt * 60));
      expected += "2025\t 3\t 9\t " + std::to_string(5 + i) + (dt == 30 ? "\t30" : "") + "\t0\t1e+06\t" + v + "\t" +
                  ts + "\t" + mm + "\t1" + zeros15 + "\t" + ts + "\t" + mm + "\t1\t0\t0\t0\t0\t0\t0\n";
    }
    EXPECT_EQ(ReadTextFile(b.dir.file("res.txt")), expected) << dt;
  }
  ReservoirBench b;
  auto sp = b.Make("(file = missing/res.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0)");
  EXPECT_EQ(Code([&] { sp->WriteOutputHeader(); }), 37);
  sp->StoreOutputRow(StepDate{2025, 1, 1, 0, 0});
  EXPECT_EQ(Code([&] { sp->FlushToDisk(1); }), 65);
}

}  // namespace
