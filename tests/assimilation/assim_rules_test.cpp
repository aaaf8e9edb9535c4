// The module and its rules: the section, how a rule's text is cut from the control file,
// dispatch by type, and every code with which a rule is refused.
#include <gtest/gtest.h>

#include "assim_basin.h"
#include "assimilation/assim_grid.h"
#include "assimilation/assim_lists.h"

namespace {

std::vector<std::string> Rules(const std::string& text) {
  TextCursor c(text);
  std::vector<std::string> out;
  std::string rule;
  while (ReadRuleText(c, rule)) out.push_back(rule);
  return out;
}

}  // namespace

TEST(AssimilationRules, RuleTextEndsWhereItsBlockCloses) {
  // The first line opens the block whatever it holds, even both braces; nested blocks
  // close in turn.
  auto r = Rules("grid { a = 1; }\n}\nreservoir {\n options = {\n x = 1;\n }\n}\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], "grid { a = 1; }\n}");
  EXPECT_EQ(r[1], "reservoir {\n options = {\n x = 1;\n }\n}");
  // A line with both braces leaves the depth as it is.
  r = Rules("grid {\nopts = { a; }\n}\nnext\n}\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1], "next\n}");
  // The text ends inside the block, or right after the first line: no rule.
  EXPECT_TRUE(Rules("grid\n{\n grid-ID = x;\n").empty());
  EXPECT_TRUE(Rules("grid").empty());
  EXPECT_TRUE(Rules("").empty());
}

TEST(AssimilationRules, SwitchedOffOrRoutingOnlyModuleReadsNoRule) {
  AssimBasin b;
  b.WriteControl({AssimBasin::GridRule("missing_grid", b.Path("none.txt"))}, 0);
  int error = -1;
  auto m = b.Make(error);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(m->entities.empty());
  m->Run(AssimBasin::Date(2001, 7, 1, 1));

  b.WriteControl({AssimBasin::GridRule("missing_grid", b.Path("none.txt"))}, 1);
  auto routingOnly = b.Make(error, 1);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(routingOnly->GetFlowControl(), 0);
  EXPECT_TRUE(routingOnly->entities.empty());
}

TEST(AssimilationRules, RulesAreDispatchedByTheirFirstWordAndUnknownOnesPassedOver) {
  AssimBasin b;
  b.AddSnowGrids(false);
  b.Add("ponding_storage", 0.0);
  b.Add("lake_codes", 0.0);
  b.lakes.push_back(FakeLake{});
  b.WriteGridList("g.txt", {});
  b.WriteFile("r.txt", "levels\na b c d 1\na b c d 2\na b c d 3\na b c d w\n");
  b.WriteControl({AssimBasin::ReservoirRule(1, b.Path("r.txt")), " grid {\n}\n", "lake {\n}\n",
                  AssimBasin::GridRule("snowstorage_solid", b.Path("g.txt"))});
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  EXPECT_EQ(m->ruleCount, 4);
  ASSERT_EQ(m->entities.size(), 2u);
  EXPECT_EQ(m->entities[0]->Type(), "reservoir");
  EXPECT_EQ(m->entities[1]->Type(), "grid");
  EXPECT_GT(m->pondingIndex, 0);
  EXPECT_GT(m->lakeCodesIndex, 0);
  EXPECT_NE(b.log.console().find("begins with \"lake\""), std::string::npos);
  m.Release();
  EXPECT_TRUE(m->entities.empty());
}

TEST(AssimilationRules, EveryRefusedRuleEndsTheConstructionWithItsCode) {
  struct Case {
    const char* what;
    std::function<std::string(AssimBasin&)> rule;  // the rule text, after preparing the basin
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"target grid absent", [](AssimBasin& b) { return AssimBasin::GridRule("no_such_grid", b.Path("g.txt")); },
       1210, "entity no_such_grid not available as grid"},
      {"grid list file absent",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         return AssimBasin::GridRule("snowstorage_solid", b.Path("absent.txt"));
       },
       1200,
       "error opening input list file"},
      {"liquid storage absent",
       [](AssimBasin& b) {
         b.Add("snow_storage_total", 0.0);
         return AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                     "split-into-liquid-and-solid = true;\n");
       },
       1211, "entity snowstorage_liquid not available"},
      {"solid storage absent",
       [](AssimBasin& b) {
         b.Add("snowstorage_liquid", 0.0);
         return AssimBasin::GridRule("snowstorage_liquid", b.Path("g.txt"),
                                     "split-into-liquid-and-solid = true;\n");
       },
       1212, "entity snowstorage_solid not available"},
      {"default percentage above 100",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         return AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                     "split-into-liquid-and-solid = true;\ndefault-liquid-percentage = 120;\n");
       },
       1213, "must lie between 0 and 100"},
      {"glacier total absent",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         return AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                     "weighing-by-glacierized-fraction = true;\n");
       },
       1214, "set \"weighing-by-glacierized-fraction\" to false"},
      {"glacier solid absent",
       [](AssimBasin& b) {
         b.Add("TotalSnowStorage_onGlacier", 0.0);
         return AssimBasin::GridRule("TotalSnowStorage_onGlacier", b.Path("g.txt"),
                                     "weighing-by-glacierized-fraction = true;\n");
       },
       1215, "entity SolidSnowStorage_onGlacier"},
      {"glacier liquid absent",
       [](AssimBasin& b) {
         b.Add("TotalSnowStorage_onGlacier", 0.0);
         b.Add("SolidSnowStorage_onGlacier", 0.0);
         return AssimBasin::GridRule("TotalSnowStorage_onGlacier", b.Path("g.txt"),
                                     "weighing-by-glacierized-fraction = true;\n");
       },
       1216, "entity LiquidSnowStorage_onGlacier"},
      {"glacier fraction absent",
       [](AssimBasin& b) {
         b.Add("TotalSnowStorage_onGlacier", 0.0);
         b.Add("SolidSnowStorage_onGlacier", 0.0);
         b.Add("LiquidSnowStorage_onGlacier", 0.0);
         return AssimBasin::GridRule("TotalSnowStorage_onGlacier", b.Path("g.txt"),
                                     "weighing-by-glacierized-fraction = true;\n");
       },
       1214, "entity GlacierizedCells"},
      {"no reservoir with the number",
       [](AssimBasin& b) { return AssimBasin::ReservoirRule(7, b.Path("r.txt")); }, 1220,
       "reservoir 7 as defined for data assimilation not found"},
      {"reservoir without level-volume table",
       [](AssimBasin& b) {
         b.lakes[0].hasTable = false;
         return AssimBasin::ReservoirRule(1, b.Path("r.txt"));
       },
       1220, "reservoir 1 has no level-volume table"},
      {"unknown format",
       [](AssimBasin& b) { return AssimBasin::ReservoirRule(1, b.Path("r.txt"), " format = csv; "); }, 1220,
       "for reservoir 1: format csvnot defined"},
      {"level list file absent",
       [](AssimBasin& b) { return AssimBasin::ReservoirRule(1, b.Path("absent.txt")); }, 1200,
       "for reservoir-type data assimilation for reservoir 1"},
      {"bafu line shorter than its date",
       [](AssimBasin& b) {
         b.WriteFile("short.txt", "h1\nh2\nh3\nLAKE 2001 07 01\n");
         return AssimBasin::ReservoirRule(1, b.Path("short.txt"), " format = bafu; ");
       },
       1205, "short.txt for reservoir-type data assimilation for reservoir 1 (line 4 is shorter"},
      {"bafu date columns hold no date",
       [](AssimBasin& b) {
         b.WriteFile("bad.txt", "h1\nh2\nh3\n                      20x1 07 01 03    405.20\n");
         return AssimBasin::ReservoirRule(1, b.Path("bad.txt"), " format = bafu; ");
       },
       1205, "columns 23 to 35 hold no date"},
      {"end of file inside a rule", [](AssimBasin&) { return std::string("grid {\n  grid-ID = x;\n"); }, 17,
       "data-assimilation rule 1 of 1"},
      {"default percentage that is no number",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         return AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                     "split-into-liquid-and-solid = true;\ndefault-liquid-percentage = abc;\n");
       },
       1213, "default-liquid-percentage \"abc\" for entity snow_storage_total is not a number"},
      {"default percentage NaN",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         return AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                     "split-into-liquid-and-solid = true;\ndefault-liquid-percentage = nan;\n");
       },
       1213, "default-liquid-percentage \"nan\" for entity snow_storage_total is not a number"},
      // Dates that no calendar has are not rolled over into another day.
      {"hour 99",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         b.WriteGridList("h.txt", {"2001 7 2 3 a.asc", "2001 7 3 99 a.asc"});
         return AssimBasin::GridRule("snowstorage_solid", b.Path("h.txt"));
       },
       1205, "h.txt, line 7: the record 2001 7 3 99 has no date of the calendar: its hour 99 is not 0 to 24"},
      {"31 June",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         b.WriteGridList("h.txt", {"2001 6 31 3 a.asc"});
         return AssimBasin::GridRule("snowstorage_solid", b.Path("h.txt"));
       },
       1205, "the record 2001 6 31 3 has no date of the calendar: its day 31 is not 1 to 30 in 2001-6"},
      {"month 13 of a level list",
       [](AssimBasin& b) {
         b.WriteFile("m.txt", "levels\na b c d 1\na b c d 2\na b c d 3\na b c d w\n2001 13 1 0 405\n");
         return AssimBasin::ReservoirRule(1, b.Path("m.txt"));
       },
       1205, "m.txt, line 6: the record 2001 13 1 0 has no date of the calendar: its month 13 is not 1 to 12"},
      {"records out of order",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         b.WriteGridList("h.txt", {"2001 7 3 3 a.asc", "2001 7 2 3 a.asc"});
         return AssimBasin::GridRule("snowstorage_solid", b.Path("h.txt"));
       },
       1205, "line 7: the record 2001 7 2 3 is dated before the record above it (2001 7 3 3)"},
      {"minute 60",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         b.WriteGridList("h.txt", {"2001 7 2 3 a.asc", "2001 7 3 3 60 a.asc"});
         return AssimBasin::GridRule("snowstorage_solid", b.Path("h.txt"));
       },
       1205, "h.txt, line 7: the record 2001 7 3 3 gives the minute '60' behind its hour: a minute is a whole number "
             "0 to 59 (or leave it out)"},
      {"minute 59.9",
       [](AssimBasin& b) {
         b.AddSnowGrids(false);
         b.WriteGridList("h.txt", {"2001 7 3 3 59.9 a.asc"});
         return AssimBasin::GridRule("snowstorage_solid", b.Path("h.txt"));
       },
       1205, "line 6: the record 2001 7 3 3 gives the minute '59.9'"},
      {"minute -1 of a level list",
       [](AssimBasin& b) {
         b.WriteFile("m.txt", "levels\na b c d 1\na b c d 2\na b c d 3\na b c d w\n2001 7 3 3 -1 405\n");
         return AssimBasin::ReservoirRule(1, b.Path("m.txt"));
       },
       1205, "m.txt, line 6: the record 2001 7 3 3 gives the minute '-1'"},
      {"bafu line after the start without a date",
       [](AssimBasin& b) {
         b.WriteFile("late.txt", "h1\nh2\nh3\n                      2001 07 02 03    405.20\nnote\n");
         return AssimBasin::ReservoirRule(1, b.Path("late.txt"), " format = bafu; ");
       },
       1205, "late.txt for reservoir-type data assimilation for reservoir 1 (line 5 is shorter"},
      {"negative skiprows",
       [](AssimBasin& b) { return AssimBasin::ReservoirRule(1, b.Path("r.txt"), " format = orvel; skiprows = -2; "); },
       1220, "for reservoir 1: skiprows \"-2\" is no number of lines (0 or more)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AssimBasin b;
    b.Add("ponding_storage", 0.0);
    b.Add("lake_codes", 0.0);
    b.lakes.push_back(FakeLake{});
    b.WriteGridList("g.txt", {});
    b.WriteFile("r.txt", "levels\na b c d 1\na b c d 2\na b c d 3\na b c d w\n");
    const std::string rule = c.rule(b);
    // The end-of-file case must see no section after the rule.
    if (c.code == 17)
      b.WriteFile("run.ctl", "[data_assimilation]\n1\n60\nnumber of data-assimilation rules 1\n" + rule);
    else
      b.WriteControl({rule});
    int error = -1;
    auto m = b.Make(error);
    EXPECT_EQ(error, c.code);
    const std::string console = b.log.console();
    EXPECT_NE(console.find("error in data assimilation model"), std::string::npos) << console;
    EXPECT_NE(console.find(c.message), std::string::npos) << console;
  }
}

TEST(AssimilationRules, AMissingRuleCountEndsTheRun) {
  AssimBasin b;
  b.WriteFile("run.ctl", "[data_assimilation]\n1\n60\nnumber of rules follows\n");
  int error = -1;
  auto m = b.Make(error);
  EXPECT_NE(error, 0);
}

// Lists that are possible but apply nothing get one WARNING each; the listed grids are read
// during the run and must lie on the basin.
TEST(AssimilationRules, ListsThatApplyNothingAreWarnedAbout) {
  struct Case {
    const char* what;
    std::vector<std::string> records;
    const char* warning;  // empty: none
  };
  const Case cases[] = {
      {"no record", {}, "the list file {list} holds no record: the grid rule applies nothing"},
      {"every record before the start", {"2000 7 1 3 a.asc", "2001 6 30 23 a.asc"},
       "none of the 2 records of {list} (2000 7 1 3 to 2001 6 30 23) lies within the run (2001 7 1 1 to 2001 12 "
       "31 24): the grid rule applies nothing"},
      {"every record after the end", {"2002 1 1 1 a.asc"}, "none of the 1 records of {list}"},
      {"an unreadable line", {"2001 7 2 3 a.asc", "2001 7 x"},
       "line 7 of {list} is no record of the list (year, month, day, hour and a grid file, with or without the "
       "minute behind the hour): the rule ends there"},
      {"records inside the run", {"2001 7 2 3 a.asc", "2001 12 31 24 a.asc"}, ""},
      // A minute column is read as station files read theirs: the rule applies what it would
      // without, and says so where a minute is not 0.
      {"records with minutes of 0", {"2001 7 2 3 0 a.asc", "2001 12 31 24 0 a.asc"}, ""},
      {"records with minutes", {"2001 7 2 3 a.asc", "2001 12 31 23 30 a.asc"},
       "the records of {list} give minutes (line 7: 2001 12 31 23:30): a record applies at the first step of its "
       "hour, whatever its minute"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AssimBasin b;
    b.AddSnowGrids(false);
    b.WriteGridList("l.txt", c.records);
    b.WriteControl({AssimBasin::GridRule("snowstorage_solid", b.Path("l.txt"))});
    int error = -1;
    auto m = b.Make(error);
    ASSERT_EQ(error, 0) << b.log.console();
    std::string warning = c.warning;
    const size_t at = warning.find("{list}");
    if (at != std::string::npos) warning.replace(at, 6, b.Path("l.txt"));
    const std::string console = b.log.console();
    size_t warnings = 0;
    // The console shows messages without their level.
    for (size_t p = console.find("data assimilation: "); p != std::string::npos;
         p = console.find("data assimilation: ", p + 1))
      ++warnings;
    EXPECT_EQ(warnings, warning.empty() ? 0u : 1u) << console;
    EXPECT_NE(console.find(warning), std::string::npos) << warning << "\n" << console;
  }
}
