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
    c.controlFileName = "basin.ctl";
    c.log = &log.log();
    return c;
  }
};

std::string Rows(int columns, double first = 0.05) {
  std::string t;
  for (int row = 0; row < 14; ++row) {
    for (int c = 0; c < columns; ++c) t += std::to_string(row == 0 ? first + 0.01 * c : row + 0.5 * c) + "\t";
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
  std::string negativeTkorr = Rows(2);
  negativeTkorr.replace(negativeTkorr.find("1.000000\t1.500000"), 17, "1 -0.5");
  struct Case {
    const char* what;
    std::string text;
    int code;
    const char* message;
  } cases[] = {
      {"code that is no sub-basin", "1 4 8\n" + Rows(3), 10, "there is no code 4 (from basin.ctl)"},
      {"code above the largest", "1 9\n" + Rows(2), 10, "there is no code 9"},
      {"code below 1", "0 8\n" + Rows(2), 10, "there is no code 0"},
      {"unreadable code", "1 x 8\n" + Rows(3), 10, "error reading code[1] for soil_model"},
      {"row of codes without the largest", "1 5\n", 10, "error reading code[5]"},
      {"codes out of order", "5 2 8\n" + Rows(3), 10, "ascending order"},
      {"short value row", "1 8\n0.05 # m\n", 10, "error reading m[8] for soil_model"},
      {"value that is no number", "1 8\n0.05 nan\n", 10, "error reading m[8]"},
      {"m of zero", "1 8\n" + Rows(2, 0.0), 1, "recession parameter m for subbasin 1 is negative! (0)"},
      {"negative Tkorr", "1 8\n" + negativeTkorr, 10, "Tkorr[8]"},
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
}
