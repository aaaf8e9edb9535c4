#include "meteo/regression_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>

#include "support/test_support.h"

namespace {

void WriteBinary(const std::string& path, const std::vector<std::pair<std::array<int64_t, 4>, double>>& rows) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& row : rows) {
    out.write(reinterpret_cast<const char*>(row.first.data()), 32);
    for (int k = 0; k < 11; ++k) {
      const double v = row.second + k;
      out.write(reinterpret_cast<const char*>(&v), 8);
    }
  }
}

TEST(RegressionFile, TextFormRecordsAndYears) {
  EXPECT_TRUE(IsTextRegressionHeader("jr mo tg"));
  EXPECT_FALSE(IsTextRegressionHeader("yr mo"));
  RegressionRecord r;
  int bad = 0;
  ASSERT_TRUE(ParseRegressionLine("998 1 2 3 1 2 3 4 5 6 7 8 9 10 11", r, &bad));
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(r.date.year, 998);  // the year fix is the reader's
  RegressionParameters p = RegressionFromValues(r.v);
  EXPECT_EQ(p.intercept[2], 4.0);
  EXPECT_EQ(p.limit2, 6.0);
  EXPECT_EQ(p.cy, 11.0);
  ASSERT_TRUE(ParseRegressionLine("2001 1 2 3 1 2 x", r, &bad));
  EXPECT_EQ(bad, 9);
  EXPECT_LT(r.v[0], -1e299);  // unreadable: the record has no valid parameters
  EXPECT_FALSE(ParseRegressionLine("2001 1 x", r, &bad));

  TempDir dir;
  CapturedLog log;
  RegressionFile f;
  f.fileName = dir.file("r.txt");
  WriteTextFile(f.fileName,
                "jr mo tg st a1 b1 g1 a2 b2 g2 a3 b3 c0 cx cy\n"
                "998 1 1 0 1 0 0 0 0 0 0 0 0 0 0\n"
                "998 1 1 1 2 0 0 0 0 0 0 0 0 0 0\n"
                "1998 1 1 2 3 0 0 0 0 0 0 0 0 0 0\n");
  FindRegressionStart(log.log(), "t", ModelDate{0, 1, 1, 1, 2898}, f);  // 998 is 2898
  EXPECT_TRUE(f.textForm);
  EXPECT_EQ(f.parameters.intercept[1], 2.0);
  // Whether a record follows is known before the step that would take it.
  EXPECT_FALSE(NoRegressionRecordAfterCurrent(log.log(), f));
  EXPECT_FALSE(NextRegressionRecord(log.log(), "t", ModelDate{0, 5, 1, 1, 2898}.Key(), f));
  EXPECT_EQ(f.current.year, 1998);
  EXPECT_EQ(f.parameters.intercept[1], 3.0);
  EXPECT_TRUE(NoRegressionRecordAfterCurrent(log.log(), f));
  EXPECT_TRUE(NextRegressionRecord(log.log(), "t", ModelDate{0, 5, 1, 1, 2898}.Key(), f));
  EXPECT_NE(log.console().find("ends with the date"), std::string::npos);
}

TEST(RegressionFile, BinaryFormAndMissingStart) {
  TempDir dir;
  CapturedLog log;
  RegressionFile f;
  f.fileName = dir.file("r.bin");
  WriteBinary(f.fileName, {{{2001, 3, 4, 5}, 10.0}, {{2001, 3, 4, 6}, 20.0}, {{0, 0, 0, 0}, 0.0}});
  FindRegressionStart(log.log(), "t", ModelDate{0, 5, 4, 3, 2001}, f);
  EXPECT_FALSE(f.textForm);
  EXPECT_EQ(f.parameters.intercept[1], 10.0);
  EXPECT_EQ(f.parameters.cy, 20.0);
  const int64_t endKey = ModelDate{0, 23, 4, 3, 2001}.Key();
  EXPECT_FALSE(NextRegressionRecord(log.log(), "t", endKey, f));
  EXPECT_EQ(f.parameters.gradient[1], 21.0);
  EXPECT_TRUE(NextRegressionRecord(log.log(), "t", endKey, f));  // the record dated 0.0.0 ends the data

  RegressionFile g;
  g.fileName = f.fileName;
  try {
    FindRegressionStart(log.log(), "t", ModelDate{0, 7, 4, 3, 2001}, g);
    FAIL();
  } catch (int code) {
    EXPECT_EQ(code, 51);
  }
  EXPECT_NE(log.console().find("EOF reached: " + f.fileName + ", date 4.3.2001, 7. h not found!"),
            std::string::npos);
  // A text file mistaken for binary records: its dates are no calendar dates.
  RegressionFile wrong;
  wrong.fileName = dir.file("wrong.bin");
  WriteTextFile(wrong.fileName, std::string(240, 'x'));
  try {
    FindRegressionStart(log.log(), "t", ModelDate{0, 7, 4, 3, 2001}, wrong);
    FAIL();
  } catch (int code) {
    EXPECT_EQ(code, 52);
  }
  RegressionFile none;
  none.fileName = dir.file("absent");
  EXPECT_THROW(FindRegressionStart(log.log(), "t", ModelDate{0, 7, 4, 3, 2001}, none), int);
}

}  // namespace
