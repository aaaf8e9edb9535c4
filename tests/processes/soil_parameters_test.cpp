// The sub-basin parameter table of the soil section: listed and copied codes, conversions,
// and one table of bad tables with their codes and messages.
#include <gtest/gtest.h>

#include <cmath>

#include "framework/text_helpers.h"
#include "processes/soil/soil_parameters.h"
#include "support/test_support.h"

namespace {

// Sub-basin codes 1, 2, 3, 5, 8 (indices 1..5).
struct Table {
  std::vector<int> map = {0, 1, 2, 3, 0, 4, 0, 0, 5};
  std::vector<int> codes = {0, 1, 2, 3, 5, 8};
  CapturedLog log;
  SubbasinTableContext Context() {
    SubbasinTableContext c;
    c.codeMap = &map;
    c.codes = &codes;
    c.largestCode = 8;
    c.dtMinutes = 60.0;
    c.moduleName = "soil_model";
    c.section = "[soil_model]";
    c.controlFileName = "basin.ctl";
    c.log = &log.log();
    return c;
  }
};

// Fourteen rows of valid values (the shares of rows 12 and 13 below 1); row `bad` holds
// `value` in its last column when given.
std::string Rows(int columns, double first = 0.05, int bad = -1, const std::string& value = "") {
  std::string t;
  for (int row = 0; row < 14; ++row) {
    for (int c = 0; c < columns; ++c) {
      const double v = row == 0 ? first + 0.01 * c : row >= 12 ? 0.1 * (c + 1) : row + 0.5 * c;
      t += (row == bad && c == columns - 1 ? value : std::to_string(v)) + "\t";
    }
    t += "# row\n";
  }
  return t;
}

}  // namespace

TEST(SoilParameterTable, ListedCodesHoldUpToTheNextListedCode) {
  Table t;
  std::vector<SubbasinParameters> p;
  TextCursor cursor("3\t5\t8 # codes\n" + Rows(3));
  ReadSubbasinParameterTable(cursor, t.Context(), p);
  ASSERT_EQ(p.size(), 6u);
  // The first column belongs to the smallest code and holds for 1..3, then 5, then 8.
  const double m[6] = {0, 50, 50, 50, 60, 70};
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(p[static_cast<size_t>(i)].m, m[i], 1e-9) << i;
  EXPECT_EQ(p[4].Tkorr, 1.5);
  EXPECT_EQ(p[5].Tkorr, 2.0);
  // Conversions: storage coefficients in minutes (below 0.001 h one hour), the interflow
  // one as a recession factor, alpha per step.
  EXPECT_EQ(p[1].kQD, 3.0 * 60.0);
  EXPECT_NEAR(p[1].kQI, std::exp(-60.0 / (5.0 * 60.0)), 1e-15);
  EXPECT_NEAR(p[1].alpha, 7.0, 1e-12);
  EXPECT_EQ(cursor.RestOfLine(), "");

  Table zero;
  std::string rows = Rows(2);
  TextCursor c2("1 8\n" + rows.replace(rows.find("3.000000\t3.500000"), 17, "0 0.0001"));
  ReadSubbasinParameterTable(c2, zero.Context(), p);
  EXPECT_EQ(p[1].kQD, 60.0);
  EXPECT_EQ(p[5].kQD, 60.0);
  EXPECT_EQ(p[3].kQD, 60.0);  // copied from code 1
}

TEST(SoilParameterTable, BadTablesEndTheRunWithTheirCodes) {
  struct Case {
    const char* what;
    std::string text;
    int code;
    const char* message;
  } cases[] = {
      {"code that is no sub-basin", "1 4 8\n" + Rows(3), 10, "there is no code 4 (from basin.ctl)"},
      {"code above the largest", "1 9\n" + Rows(2), 10, "there is no code 9"},
      {"code below 1", "0 8\n" + Rows(2), 10, "there is no code 0"},
      {"unreadable code", "1 x 8\n" + Rows(3), 10,
       "[soil_model] in basin.ctl: error reading code[1] for soil_model: \"x\" in the row of codes \"1 x 8\" is no "
       "sub-basin code"},
      {"row of codes without the largest", "1 5\n", 10,
       "error reading code[5] for soil_model: the row of codes \"1 5\" ends before the largest sub-basin code, 8. Its "
       "columns must cover the sub-basin codes 1 to 8: the first column the smallest code (1), the last the largest (8)"},
      {"codes out of order", "5 2 8\n" + Rows(3), 10, "ascending order"},
      {"short first row", "1 8\n0.05 # m\n", 10, "error reading m[8] for soil_model: the row \"0.05 # m\" holds 1 of the 2"},
      {"short row in the middle", "1 8\n" + Rows(2, 0.05, 2, ""), 10, "error reading Kkorr[8] for soil_model: the row"},
      {"value that is no number", "1 8\n" + Rows(2, 0.05, 4, "abc"), 10, "error reading SHmax[8] for soil_model: \"abc\" is not"},
      {"value that is NaN", "1 8\n0.05 nan\n", 10, "error reading m[8]"},
      {"m of zero", "1 8\n" + Rows(2, 0.0), 1,
       "[soil_model] in basin.ctl: the recession parameter m of sub-basin 1 is 0; it must be greater than 0"},
      {"negative Tkorr", "1 8\n" + Rows(2, 0.05, 1, "-0.5"), 10, "Tkorr of sub-basin 8 is -0.5; it must be 0 or more"},
      {"negative Kkorr", "1 8\n" + Rows(2, 0.05, 2, "-1"), 10, "Kkorr of sub-basin 8 is -1"},
      {"negative SHmax", "1 8\n" + Rows(2, 0.05, 4, "-20"), 10, "SHmax of sub-basin 8 is -20"},
      {"negative alpha", "1 8\n" + Rows(2, 0.05, 7, "-0.01"), 10, "alpha of sub-basin 8 is -0.01"},
      {"negative QBBini", "1 8\n" + Rows(2, 0.05, 8, "-1"), 10, "QBBini of sub-basin 8 is -1"},
      {"negative SUZini", "1 8\n" + Rows(2, 0.05, 9, "-5"), 10, "SUZini of sub-basin 8 is -5"},
      {"negative initial deficit", "1 8\n" + Rows(2, 0.05, 10, "-0.2"), 10, "SDini of sub-basin 8 is -0.2"},
      {"negative Pgrenz", "1 8\n" + Rows(2, 0.05, 11, "-1"), 10, "Pgrenz of sub-basin 8 is -1"},
      {"Rrueck above 1", "1 8\n" + Rows(2, 0.05, 12, "1.5"), 10, "Rrueck of sub-basin 8 is 1.5; it must lie in 0 .. 1"},
      {"negative snow share", "1 8\n" + Rows(2, 0.05, 13, "-0.1"), 10, "QDsnow of sub-basin 8 is -0.1"},
  };
  for (const Case& c : cases) {
    Table t;
    std::vector<SubbasinParameters> p;
    TextCursor cursor(c.text);
    int code = 0;
    try {
      ReadSubbasinParameterTable(cursor, t.Context(), p);
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, c.code) << c.what;
    EXPECT_NE(t.log.console().find(c.message), std::string::npos) << c.what << ": " << t.log.console();
  }
  // The row of codes of another section's table (the glaciers' read it too) is not reported
  // as one of [soil_model].
  Table t;
  SubbasinTableContext glaciers = t.Context();
  glaciers.section.clear();
  glaciers.moduleName = "snow_model";
  TextCursor cursor("1 4 8\n");
  EXPECT_THROW(ReadSubbasinColumns(cursor, glaciers), int);
  EXPECT_NE(t.log.console().find("there is no code 4 (from basin.ctl) for a subbasin in snow_model"), std::string::npos);
  EXPECT_EQ(t.log.console().find("[soil_model]"), std::string::npos) << t.log.console();
}

// A zone 0 is a sub-basin the row of codes cannot list: the first column holds for it.
TEST(SoilParameterTable, ZoneZeroTakesTheFirstColumn) {
  Table t;
  t.map = {1, 2, 3, 4, 0, 5, 0, 0, 6};
  t.codes = {0, 0, 1, 2, 3, 5, 8};
  std::vector<SubbasinParameters> p;
  TextCursor cursor("1 5 8\n" + Rows(3));
  ReadSubbasinParameterTable(cursor, t.Context(), p);
  ASSERT_EQ(p.size(), 7u);
  const double m[7] = {0, 50, 50, 50, 50, 60, 70};
  for (int i = 1; i <= 6; ++i) EXPECT_NEAR(p[static_cast<size_t>(i)].m, m[i], 1e-9) << i;

  for (const auto& [row, message] : std::vector<std::pair<std::string, std::string>>{
           {"0 5 8\n" + Rows(3), "error! code 0 (from basin.ctl) cannot stand in the row of codes for soil_model: the row lists "
                       "codes from 1 on, and its first column holds for the smallest code, 0, and every code up to "
                       "the next listed one; begin the row with 1 (0 takes its values)"},
           {"1 5\n", "the first column the smallest code (0: the row begins with the next code, whose column holds "
                     "for 0 too), the last the largest (8)"}}) {
    Table bad;
    bad.map = t.map;
    bad.codes = t.codes;
    TextCursor c(row);
    EXPECT_THROW(ReadSubbasinParameterTable(c, bad.Context(), p), int) << row;
    EXPECT_NE(bad.log.console().find(message), std::string::npos) << bad.log.console();
  }
}

// Possible but suspicious values: one WARNING each, and the table is read.
TEST(SoilParameterTable, SuspiciousValuesGetAWarning) {
  Table t;
  std::vector<SubbasinParameters> p;
  std::string rows = Rows(2, 0.05, 0, "20");
  rows.replace(rows.find("3.000000\t3.500000"), 17, "-2 3");  // k_ELS_QD of code 1
  TextCursor c2("1 8\n\n" + rows);  // a blank line before the rows is passed over
  ReadSubbasinParameterTable(c2, t.Context(), p);
  const std::string log = t.log.console();
  EXPECT_NE(log.find("[soil_model] in basin.ctl: the recession parameter m of sub-basin 8 is 20, far above"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("the storage coefficient k_ELS_QD of sub-basin 1 is -2, taken as one hour"), std::string::npos);
  EXPECT_EQ(p[1].kQD, 60.0);
  EXPECT_EQ(p[5].m, 20000.0);
}
