#include <gtest/gtest.h>

#include <string>

#include "framework/timeseries_table.h"
#include "support/test_support.h"

namespace {

// Collects every row of a table by stepping through it with Next.
struct Row {
  int y, m, d, h, mi;
  std::vector<double> v;
};

std::vector<Row> ReadAll(TimeSeriesTable& t, std::vector<int>* statesAfterBlocks = nullptr) {
  std::vector<Row> rows;
  int guard = 100000;
  while (t.GetState() != TimeSeriesTable::kEnd && t.CurrentRow() < t.RowCount() && guard-- > 0) {
    Row r;
    t.GetDate(r.y, r.m, r.d, r.h, r.mi);
    for (int64_t j = 0; j < t.ColumnCount(); ++j) r.v.push_back(t.GetValue(j));
    rows.push_back(r);
    bool lastOfBlock = t.CurrentRow() == t.RowCount() - 1;
    if (lastOfBlock && statesAfterBlocks) statesAfterBlocks->push_back(t.GetState());
    t.Next();
  }
  return rows;
}

}  // namespace

TEST(TimeSeriesTable, HeaderTitlesAndMinuteColumn) {
  TempDir dir;
  WriteTextFile(dir.file("a.txt"), "gauge file\nYY\tMM\tDD\tHH\tmm\tq1\tq2\n2001 1 2 3 30 1.5 -2\n2001 1 2 4 0 2.5 3\n");
  TimeSeriesTable t(dir.file("a.txt"), 0, 1000000);
  ASSERT_EQ(t.GetState(), TimeSeriesTable::kLastBlock);
  EXPECT_TRUE(t.HasMinuteColumn());
  EXPECT_EQ(t.ColumnCount(), 2);
  auto rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].mi, 30);
  EXPECT_EQ(rows[0].h, 3);
  EXPECT_EQ(rows[0].v, (std::vector<double>{1.5, -2}));
  EXPECT_EQ(rows[1].v, (std::vector<double>{2.5, 3}));
  EXPECT_EQ(t.GetState(), TimeSeriesTable::kEnd);

  // blanks and one value title: no minute column
  WriteTextFile(dir.file("b.txt"), "YY MM DD HH mmq\n1990 1 1 1 7\n");
  TimeSeriesTable b(dir.file("b.txt"), 0, 1000);
  EXPECT_FALSE(b.HasMinuteColumn());
  EXPECT_EQ(b.ColumnCount(), 1);
  EXPECT_EQ(b.GetValue(0), 7.0);

  // no header at all
  WriteTextFile(dir.file("c.txt"), "1990 1 1 1 7 8 9\n");
  TimeSeriesTable c(dir.file("c.txt"), 0, 1000);
  EXPECT_FALSE(c.HasMinuteColumn());
  EXPECT_EQ(c.ColumnCount(), 3);
}

TEST(TimeSeriesTable, ReadsInBlocksWithStates) {
  TempDir dir;
  // one value column: 24 bytes a row, so 48 bytes give two rows a block
  std::string text = "YY MM DD HH Q\n";
  for (int h = 1; h <= 5; ++h) text += "2000 6 1 " + std::to_string(h) + " " + std::to_string(h * 10) + "\n";
  text += "\n  \n";  // trailing blank lines are no row
  WriteTextFile(dir.file("q.txt"), text);
  TimeSeriesTable t(dir.file("q.txt"), 0, 48);
  EXPECT_EQ(t.Capacity(), 2);
  std::vector<int> states;
  auto rows = ReadAll(t, &states);
  ASSERT_EQ(rows.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(rows[k].h, k + 1);
    EXPECT_EQ(rows[k].v[0], (k + 1) * 10.0);
  }
  EXPECT_EQ(states, (std::vector<int>{1, 1, 2}));
  EXPECT_EQ(t.GetState(), TimeSeriesTable::kEnd);

  // four rows fill two blocks exactly: the second block already knows it is the last
  text = "";
  for (int h = 1; h <= 4; ++h) text += "2000 6 1 " + std::to_string(h) + " 1\n";
  WriteTextFile(dir.file("r.txt"), text);
  TimeSeriesTable r(dir.file("r.txt"), 0, 48);
  states.clear();
  EXPECT_EQ(ReadAll(r, &states).size(), 4u);
  EXPECT_EQ(states, (std::vector<int>{1, 2}));
}

TEST(TimeSeriesTable, RowsMayWrapAndShortLastRowIsRead) {
  TempDir dir;
  WriteTextFile(dir.file("w.txt"), "1 2 3 4 5 6\n1 2 3\n5 7 8\n1 2 3 6 9 9");
  TimeSeriesTable t(dir.file("w.txt"), 0, 1 << 20);
  auto rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].h, 5);
  EXPECT_EQ(rows[1].v, (std::vector<double>{7, 8}));
  EXPECT_EQ(rows[2].v, (std::vector<double>{9, 9}));
}

TEST(TimeSeriesTable, Failures) {
  TempDir dir;
  TimeSeriesTable missing(dir.file("none.txt"), 0, 1000);
  EXPECT_EQ(missing.GetState(), TimeSeriesTable::kCannotOpen);

  WriteTextFile(dir.file("h.txt"), "only a header\nYY MM DD HH\n");
  TimeSeriesTable header(dir.file("h.txt"), 0, 1000);
  EXPECT_EQ(header.GetState(), TimeSeriesTable::kReadError);

  WriteTextFile(dir.file("e.txt"), "");
  EXPECT_EQ(TimeSeriesTable(dir.file("e.txt"), 0, 1000).GetState(), TimeSeriesTable::kReadError);

  WriteTextFile(dir.file("f.txt"), "2000 1 1 1 3 x\n");
  TimeSeriesTable first(dir.file("f.txt"), 0, 1000);
  EXPECT_EQ(first.GetState(), TimeSeriesTable::kReadError);
  EXPECT_EQ(first.RowCount(), 0);

  // a broken third row: the two rows before it stay readable
  WriteTextFile(dir.file("g.txt"), "2000 1 1 1 3\n2000 1 1 2 4\n2000 1 1 x 5\n2000 1 1 4 6\n");
  TimeSeriesTable g(dir.file("g.txt"), 0, 1000);
  EXPECT_EQ(g.GetState(), TimeSeriesTable::kReadError);
  EXPECT_EQ(g.RowCount(), 2);
  g.SetRow(1);
  EXPECT_EQ(g.GetValue(0), 4.0);

  // a value glued to text or a non-whole date field is refused, not misread
  WriteTextFile(dir.file("k.txt"), "2000 1 1 1 3\n2000 1 1.5 2 4\n");
  TimeSeriesTable k(dir.file("k.txt"), 0, 1000);
  EXPECT_EQ(k.GetState(), TimeSeriesTable::kReadError);
  EXPECT_EQ(k.RowCount(), 1);
}

// A file that stops being a table names where: the line, the field of that line and its text,
// also when the broken row lies blocks behind the first and the rows wrap over lines.
TEST(TimeSeriesTable, ReadErrorNamesLineAndColumn) {
  TempDir dir;
  std::string many = "YY MM DD HH Q\n";
  for (int h = 1; h <= 24; ++h) many += "2000 1 1 " + std::to_string(h) + " 2.5\n";
  const struct {
    std::string text, place;
  } cases[] = {
      {"title\nYY MM DD HH Q\n2000 1 1 1 two\n", "line 3, column 5: \"two\" is no number"},
      {"YY MM DD HH Q R\n2000 1 1 1 2.5 3\n2000 1 1 2\n  2.5 n/a\n", "line 4, column 2: \"n/a\" is no number"},
      {"2000 1 1 1 3\n2000 1 1.5 2 4\n", "line 2, column 3: \"1.5\" is no whole number of the date"},
      {"2000 1 1 1 3 4\n2000 1 1 2 5", "line 2: the file ends inside a row"},
      {"YY MM DD HH\n", "no data row"},
      {many + "2000 1 2 1 \x01" "bad\n", "line 26, column 5: \"?bad\" is no number"},
  };
  for (const auto& c : cases) {
    WriteTextFile(dir.file("t.txt"), c.text);
    TimeSeriesTable t(dir.file("t.txt"), 0, 64);
    while (t.GetState() != TimeSeriesTable::kReadError && t.GetState() != TimeSeriesTable::kEnd) t.Next();
    EXPECT_EQ(t.ErrorPlace(), c.place) << c.text;
  }
  WriteTextFile(dir.file("t.txt"), "2000 1 1 1 3\n");
  EXPECT_EQ(TimeSeriesTable(dir.file("t.txt"), 0, 64).ErrorPlace(), "");
}

// A reader that must not take a broken row for the end of the file stops on it: in a later
// block Next ends the table there, NextKeepingError stands on the row and stays.
TEST(TimeSeriesTable, NextKeepingErrorStopsOnTheBrokenRowOfALaterBlock) {
  TempDir dir;
  std::string text = "YY MM DD HH Q\n";
  for (int h = 1; h <= 5; ++h) text += "2000 6 1 " + std::to_string(h) + " 1\n";
  WriteTextFile(dir.file("q.txt"), text + "2000 6 1 6 n/a\n2000 6 1 7 1\n");
  TimeSeriesTable plain(dir.file("q.txt"), 0, 48), kept(dir.file("q.txt"), 0, 48);
  EXPECT_EQ(ReadAll(plain).size(), 5u);
  EXPECT_EQ(plain.GetState(), TimeSeriesTable::kEnd);
  int rows = 0;
  for (; !kept.AtUnreadableRow() && rows < 10; kept.NextKeepingError()) ++rows;
  EXPECT_EQ(rows, 5);
  kept.NextKeepingError();
  EXPECT_TRUE(kept.AtUnreadableRow());
  EXPECT_EQ(kept.RowsBeforeBlock() + kept.RowCount(), 5);
  EXPECT_EQ(kept.ErrorPlace(), "line 7, column 5: \"n/a\" is no number");
}

TEST(TimeSeriesTable, CursorBoundsAndValueColumns) {
  TempDir dir;
  WriteTextFile(dir.file("a.txt"), "2000 1 1 1 3 4\n2000 1 1 2 5 6\n");
  TimeSeriesTable t(dir.file("a.txt"), 0, 1000);
  EXPECT_EQ(t.GetValue(-1), -9999.0);
  EXPECT_EQ(t.GetValue(2), -9999.0);
  EXPECT_EQ(t.GetValue(1), 4.0);
  t.SetRow(-1);
  EXPECT_EQ(t.CurrentRow(), -1);
  int y, m, d, h, mi;
  t.GetDate(y, m, d, h, mi);
  EXPECT_EQ(y, -9999);
  EXPECT_EQ(t.GetValue(0), -9999.0);
  t.SetRow(3);  // beyond m: ignored
  EXPECT_EQ(t.CurrentRow(), -1);
  t.MoveRow(4);  // would leave -1..m: ignored
  EXPECT_EQ(t.CurrentRow(), -1);
  t.MoveRow(2);
  EXPECT_EQ(t.CurrentRow(), 1);
  t.SetRow(2);  // one past the last row is allowed, but reads nothing
  EXPECT_EQ(t.GetValue(0), -9999.0);

  // a block size too small for one row still holds one row
  TimeSeriesTable z(dir.file("a.txt"), 0, 0);
  EXPECT_EQ(z.Capacity(), 1);
  EXPECT_EQ(ReadAll(z).size(), 2u);
}

TEST(TimeSeriesTable, DefaultConstructedThenParsed) {
  TempDir dir;
  WriteTextFile(dir.file("a.txt"), "2000 1 1 1 3\n");
  TimeSeriesTable t;
  EXPECT_EQ(t.GetState(), TimeSeriesTable::kNotOpened);
  t.ParseHeader(dir.file("a.txt"), 0, 100000);
  EXPECT_EQ(t.GetState(), TimeSeriesTable::kLastBlock);
  t.ParseHeader(dir.file("other.txt"), 0, 100000);  // already open: no effect
  EXPECT_EQ(t.FileName(), dir.file("a.txt"));
  auto opened = TimeSeriesTable::Open(dir.file("a.txt"), 7, 100000);
  EXPECT_EQ(opened->Option(), 7);
  EXPECT_EQ(opened->GetValue(0), 3.0);
}

TEST(TimeSeriesTable, LongFileAcrossManyChunks) {
  TempDir dir;
  std::string text = "YY MM DD HH a b c\n";
  const int n = 20000;  // well beyond one read window of the file
  for (int i = 0; i < n; ++i)
    text += "2001 1 1 " + std::to_string(i) + " " + std::to_string(i) + ".25 -1e3 " + std::to_string(i % 7) + "\n";
  WriteTextFile(dir.file("long.txt"), text);
  TimeSeriesTable t(dir.file("long.txt"), 0, 40 * 333);
  auto rows = ReadAll(t);
  ASSERT_EQ(rows.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; i += 997) {
    EXPECT_EQ(rows[i].h, i);
    EXPECT_EQ(rows[i].v[0], i + 0.25);
    EXPECT_EQ(rows[i].v[2], i % 7);
  }
}
