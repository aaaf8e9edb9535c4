// Reservoir rules: observed levels set the volume and level of their lake in both list
// layouts, skip no-data levels and skipped rows, and never make a volume negative.
#include <gtest/gtest.h>

#include "assim_basin.h"
#include "assimilation/assim_lists.h"
#include "routing/reservoir.h"

namespace {

const char* kOrvelHeader = "lake levels\nlake number is : 1\nnumber of records : 5\nlevel datum in : 0\nunit of levels : m\n";

// A line of the provider layout: date in columns 23-35, level from column 40.
std::string BafuLine(int y, int mo, int d, int h, double level) {
  return FormatText("%-22s%04d %02d %02d %02d    %10.3f\n", "2104 Lake gauge", y, mo, d, h, level);
}

ModuleOwner<data_assimilation> MakeLakeRule(AssimBasin& b, const std::string& list, const std::string& options,
                                            int& error) {
  b.Add("ponding_storage", 0.0);
  b.Add("lake_codes", 0.0);
  b.lakes.push_back(FakeLake{});
  b.WriteControl({AssimBasin::ReservoirRule(1, b.Path(list), options)});
  return b.Make(error);
}

}  // namespace

// The model's own layout also with a minute column, as station files may have one: the
// records apply as without it, each at the first step of its hour, and the later record of
// an hour replaces the earlier. What stands behind a level is a remark.
TEST(ReservoirAssimilation, LevelsSetVolumeAndLevelOnTheirDatesInBothLayouts) {
  for (int variant = 0; variant < 4; ++variant) {
    const char* options = variant == 1 ? " format = orvel; " : variant == 2 ? " format = xbafux; " : "";
    const bool minutes = variant == 3;
    SCOPED_TRACE(std::string(options) + (minutes ? "with minutes" : ""));
    AssimBasin b;
    const bool bafu = std::string(options).find("bafu") != std::string::npos;
    if (bafu)
      b.WriteFile("levels.txt", "station\nunits\n-----\n" + BafuLine(2001, 6, 30, 12, 409.0) +
                                    BafuLine(2001, 7, 1, 2, 404.0) + BafuLine(2001, 7, 1, 2, 405.5) + BafuLine(2001, 7, 1, 4, -9999.0) +
                                    BafuLine(2001, 7, 1, 5, 399.0));
    else if (minutes)
      b.WriteFile("levels.txt", std::string(kOrvelHeader) + "2001 6 30 12 0 409.0\n2001 7 1 2 0 404\n2001 7 1 2 30 405.5\n"
                                                            "2001 7 1 4 30 -9999\n2001 7 1 5 15 399\n");
    else
      b.WriteFile("levels.txt", std::string(kOrvelHeader) +
                                    "2001 6 30 12 409.0\n2001 7 1 2 405.5 # checked\n2001 7 1 4 -9999\n2001 7 1 5 399.0 m\n");
    int error = -1;
    auto m = MakeLakeRule(b, "levels.txt", options, error);
    ASSERT_EQ(error, 0) << b.log.console();
    // One dot for the first record and one for the change of month before the start.
    EXPECT_NE(b.log.console().find(".."), std::string::npos);
    FakeLake& lake = b.lakes[0];
    m->Run(AssimBasin::Date(2001, 7, 1, 1));
    EXPECT_EQ(lake.updates, 0);  // the June record lies before the start
    m->Run(AssimBasin::Date(2001, 7, 1, 2));
    EXPECT_EQ(lake.updates, 1);
    EXPECT_DOUBLE_EQ(lake.level, 405.5);
    EXPECT_DOUBLE_EQ(lake.volume, 5.5e6);
    m->Run(AssimBasin::Date(2001, 7, 1, 3));
    m->Run(AssimBasin::Date(2001, 7, 1, 4));  // no-data level: the lake keeps its state
    EXPECT_EQ(lake.updates, 1);
    // Below the bottom of the table the lake is empty, not negative.
    m->Run(AssimBasin::Date(2001, 7, 1, 5));
    EXPECT_EQ(lake.updates, 2);
    EXPECT_EQ(lake.volume, 0.0);
    EXPECT_EQ(lake.level, 399.0);
    EXPECT_EQ(b.log.console().find("falls on no step"), std::string::npos) << b.log.console();
  }
}

TEST(ReservoirAssimilation, SkippedRowsAreNeverDatedInEitherLayout) {
  for (bool bafu : {false, true}) {
    SCOPED_TRACE(bafu ? "bafu" : "orvel");
    AssimBasin b;
    std::string text = bafu ? "a\nb\nc\n" : kOrvelHeader;
    for (int h = 1; h <= 7; ++h)
      text += bafu ? BafuLine(2001, 7, 1, h, 400.0 + h) : FormatText("2001 7 1 %d %g\n", h, 400.0 + h);
    b.WriteFile("levels.txt", text);
    int error = -1;
    auto m = MakeLakeRule(b, "levels.txt", bafu ? " format = bafu; skiprows = 2; " : " skiprows = 2; ", error);
    ASSERT_EQ(error, 0) << b.log.console();
    std::vector<double> applied;
    for (int h = 1; h <= 8; ++h) {
      const int before = b.lakes[0].updates;
      m->Run(AssimBasin::Date(2001, 7, 1, h));
      if (b.lakes[0].updates > before) applied.push_back(b.lakes[0].level);
    }
    EXPECT_EQ(applied, (std::vector<double>{401.0, 404.0, 407.0}));
  }
}

// On daily steps a level dated at noon falls on no step: it is skipped with a WARNING naming
// its line, and the record after it applies on its day, in either layout.
TEST(ReservoirAssimilation, ALevelOnNoStepIsSkippedAndTheNextApplies) {
  for (bool bafu : {false, true}) {
    SCOPED_TRACE(bafu ? "bafu" : "orvel");
    AssimBasin b;
    b.start = ModelDate{0, 24, 1, 7, 2001};
    const std::string text =
        bafu ? "a\nb\nc\n" + BafuLine(2001, 7, 2, 12, 402.0) + BafuLine(2001, 7, 3, 24, 403.0)
             : std::string(kOrvelHeader) + "2001 7 2 12 402.0\n2001 7 3 24 403.0\n";
    b.WriteFile("levels.txt", text);
    int error = -1;
    auto m = MakeLakeRule(b, "levels.txt", bafu ? " format = bafu; " : "", error);
    ASSERT_EQ(error, 0) << b.log.console();
    for (int d = 1; d <= 4; ++d) m->Run(AssimBasin::Date(2001, 7, d, 24));
    EXPECT_EQ(b.lakes[0].updates, 1);
    EXPECT_EQ(b.lakes[0].level, 403.0);
    EXPECT_NE(b.log.console().find("the record of 2001-7-2 12h (line " + std::string(bafu ? "4" : "6") + " of " +
                                   b.Path("levels.txt") + ") falls on no step of the run: it lies between the "
                                   "steps of 1.7.2001 24:00 and 2.7.2001 24:00"),
              std::string::npos)
        << b.log.console();
  }
}

TEST(ReservoirAssimilation, FixedColumnLinesAreReadOrRefusedByWhatTheyLack) {
  int y = 0, mo = 0, d = 0, h = 0;
  double level = 0;
  EXPECT_EQ(ParseFixedLevelLine(BafuLine(2001, 7, 1, 2, 405.25), y, mo, d, h, level), FixedLineResult::Ok);
  EXPECT_EQ(y * 1000000 + mo * 10000 + d * 100 + h, 2001070102);
  EXPECT_EQ(level, 405.25);
  EXPECT_EQ(ParseFixedLevelLine("short", y, mo, d, h, level), FixedLineResult::TooShort);
  EXPECT_EQ(ParseFixedLevelLine(std::string(22, ' ') + "2001 07 01 0x    405", y, mo, d, h, level),
            FixedLineResult::BadDate);
  EXPECT_EQ(ParseFixedLevelLine(std::string(22, ' ') + "2001 07 01 02", y, mo, d, h, level),
            FixedLineResult::BadLevel);
  EXPECT_EQ(ParseFixedLevelLine(std::string(22, ' ') + "2001 07 01 02    abc", y, mo, d, h, level),
            FixedLineResult::BadLevel);
  // Calendar seconds roll over as the calendar does and refuse what int cannot hold.
  EXPECT_EQ(CalendarSeconds(2001, 13, 1, 0), CalendarSeconds(2002, 1, 1, 0));
  EXPECT_EQ(CalendarSeconds(1970, 1, 1, 1), 3600);
  EXPECT_EQ(CalendarSeconds(5000000000LL, 1, 1, 0), -1);
}

TEST(ReservoirAssimilation, RuleKeepsItsKeysAndAStartAfterTheLastRecordAppliesNothing) {
  AssimBasin b;
  b.WriteFile("levels.txt", std::string(kOrvelHeader) + "2001 6 30 12 409.0\n");
  int error = -1;
  auto m = MakeLakeRule(b, "levels.txt", " format = orvel-v2; ", error);
  ASSERT_EQ(error, 0) << b.log.console();
  auto* rule = dynamic_cast<data_assimilation_reservoir_entity*>(m->entities[0].get());
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->LakeId(), 1);
  EXPECT_EQ(rule->AverageWaterTable(), 405.5);
  EXPECT_EQ(rule->Format(), data_assimilation_reservoir_entity::Layout::Orvel);
  for (int h = 1; h <= 5; ++h) m->Run(AssimBasin::Date(2001, 7, 1, h));
  EXPECT_EQ(b.lakes[0].updates, 0);
}

TEST(ReservoirAssimilation, RoutingLakeTakesVolumeAndLevelAndAReservoirWithoutTableIsRefused) {
  SP_class reservoir, lake;
  reservoir.number = 2;  // no level-volume table: a level would empty it
  lake.number = 3;
  lake.lake = true;
  lake.levels = {410.0, 400.0};
  lake.volumes = {1.0e7, 0.0};
  lake.state = {2.0e6};
  for (int id : {2, 3}) {
    SCOPED_TRACE(id);
    AssimBasin b;
    b.Add("ponding_storage", 0.0);
    b.Add("lake_codes", 0.0);
    b.reservoirList = {&reservoir, &lake};
    b.WriteFile("levels.txt", std::string(kOrvelHeader) + "2001 7 1 2 405.0\n");
    b.WriteControl({AssimBasin::ReservoirRule(id, b.Path("levels.txt"))});
    int error = -1;
    auto m = b.Make(error, 0, true);
    if (id == 2) {
      EXPECT_EQ(error, 1220);
      EXPECT_NE(b.log.console().find("reservoir 2 has no level-volume table"), std::string::npos);
      continue;
    }
    ASSERT_EQ(error, 0) << b.log.console();
    m->Run(AssimBasin::Date(2001, 7, 1, 2));
    EXPECT_DOUBLE_EQ(lake.state[0], lake.InterpolateBackward(405.0));
    EXPECT_GT(lake.state[0], 0.0);
    EXPECT_EQ(lake.W, 405.0);
    EXPECT_DOUBLE_EQ(lake.InterpolateForward(lake.state[0]), 405.0);  // volume and level agree
  }
}
