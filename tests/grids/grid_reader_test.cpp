#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>

#include "framework/ctrl_c.h"
#include "grid_fixture.h"
#include "grids/grid_reader.h"

namespace {

std::string AsciiGrid(int ncols, int nrows, double xll, double yll, double cs, double nodata,
                      const std::string& values) {
  char head[256];
  std::snprintf(head, sizeof head, "ncols %d\nnrows %d\nxllcorner %g\nyllcorner %g\ncellsize %g\nNODATA_value %g\n",
                ncols, nrows, xll, yll, cs, nodata);
  return head + values;
}

// A sleeper that counts the waits and can run an action at a given wait.
struct FakeSleeper {
  std::vector<int> waits;
  std::function<void(int)> onWait;
  FakeSleeper() {
    SetGridRetrySleeper([this](int ms) {
      waits.push_back(ms);
      if (onWait) onWait(static_cast<int>(waits.size()));
    });
  }
  ~FakeSleeper() { SetGridRetrySleeper(nullptr); }
};

struct Reader : ::testing::Test {
  GridModule m{3, 2, 1000.0, 2000.0, 50.0};
  double** grid = nullptr;
  MatrixOwner owner;
  int Read(const std::string& name, int fill = 0, bool report = false, double def = 0.0) {
    owner.reset();
    grid = nullptr;
    int code = GridModule::CodeOf([&] { m.obj.ReadGrid(name, grid, fill, true, true, report, def); });
    owner.reset(grid);
    return code;
  }
  void Write(const std::string& name, const std::string& bytes) { WriteTextFile(m.file(name), bytes); }
};

TEST_F(Reader, ReadsAnAsciiGridOfTheModelDomain) {
  Write("a.asc", AsciiGrid(3, 2, 1000.4, 2000, 50, -9999, "1 2 3\n4 5 6\n"));
  ASSERT_EQ(Read("a.asc"), 0);  // xllcorner off by 0.4: same whole part, read directly
  EXPECT_EQ(grid[1][1], 1.0);
  EXPECT_EQ(grid[2][3], 6.0);
  EXPECT_NE(m.log.console().find("reading " + m.file("a.asc") + " for test_module..."), std::string::npos);
}

TEST_F(Reader, RetriesUntilTheFileAppears) {
  FakeSleeper sleeper;
  sleeper.onWait = [&](int n) {
    if (n == 3) Write("late.asc", AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 4 5 6"));
  };
  ASSERT_EQ(Read("late.asc"), 0);
  EXPECT_EQ(sleeper.waits, (std::vector<int>{200, 200, 200}));
  const std::string out = m.log.console();
  for (int left : {5, 4, 3})
    EXPECT_NE(out.find("error opening " + m.file("late.asc") + ". Will try again in 200 ms... (retriesleft = " +
                       std::to_string(left) + ")"),
              std::string::npos);
  EXPECT_EQ(out.find("retriesleft = 2"), std::string::npos);
  // the retry notes are warnings: level 2 in the diagnostics file
  EXPECT_NE(m.log.CloseAndReadDiag().find("level=\"2\" description= \"error opening"), std::string::npos);
}

TEST_F(Reader, GivesUpAfterSixAttempts) {
  FakeSleeper sleeper;
  EXPECT_EQ(Read("never.asc"), 21);
  EXPECT_EQ(sleeper.waits.size(), 5u);
  EXPECT_NE(m.log.console().find("still error opening " + m.file("never.asc") + " - no retry."), std::string::npos);
}

TEST_F(Reader, RestoresTheProgramsCtrlCHandler) {
  std::signal(SIGINT, SIG_DFL);
  Write("a.asc", AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 4 5 6"));
  ASSERT_EQ(Read("a.asc"), 0);
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, &CtrlCHandler);
  std::signal(SIGINT, SIG_DFL);
}

TEST_F(Reader, RecognisesFormatsByTheirFirstBytes) {
  EXPECT_EQ(DetectGridFormat("CDF\x01"), GridFileFormat::Netcdf);
  EXPECT_EQ(DetectGridFormat("\x89HDF\r\n"), GridFileFormat::Netcdf);
  EXPECT_EQ(DetectGridFormat("NCOLS 3"), GridFileFormat::Ascii);
  EXPECT_EQ(DetectGridFormat("\xEF\xBB\xBFncols 3"), GridFileFormat::Ascii);  // an editor's byte-order mark
  EXPECT_EQ(DetectGridFormat("\xEF\xBB\xBFGIF89a"), GridFileFormat::Unknown);
  EXPECT_EQ(DetectGridFormat("GIF89a"), GridFileFormat::Gif);
  EXPECT_EQ(DetectGridFormat(Raw(std::vector<float>{3, 2, 0, 0, 1, -9999})), GridFileFormat::BinarySingle);
  EXPECT_EQ(DetectGridFormat(Raw(std::vector<double>{3, 2, 0, 0, 1, -9999})), GridFileFormat::BinaryDouble);
  EXPECT_EQ(DetectGridFormat(Raw(std::vector<float>{3, 2, 0, 0, 1, -9998})), GridFileFormat::Unknown);

  Write("odd.bin", Raw(std::vector<float>{3, 2, 1000, 2000, 50, -9998, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Read("odd.bin"), 22);
  EXPECT_NE(m.log.console().find("could not recognise file format (neither ascii, nor single, double, or GIF) for "),
            std::string::npos);
}

TEST_F(Reader, BadHeadersEndWith22BeforeAnythingIsAllocated) {
  const char* bad[] = {
      "ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n",
      "ncols -3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3",
      "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 0\nnodata_value -9999\n1 2 3 4 5 6",
      "ncols 2.5\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3 4 5 6",
      "ncols 2000000000\nnrows 2000000000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1",
      "ncols 90000\nnrows 90000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3",
      "ncols 3\nnrows 2\nxllcorner 0\nyllcorner",
      "ncols 3\nnrows 2\nxllcorner nan\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3 4 5 6",
      "ncols",
  };
  for (const char* text : bad) {
    Write("bad.asc", text);
    EXPECT_EQ(Read("bad.asc"), 22) << text;
  }
  EXPECT_NE(m.log.console().find("error reading ascii value #4 from"), std::string::npos);
  // The value is named with every digit it holds, not rounded to a whole number.
  Write("bad.asc", "ncols 3\nnrows 12345678901.5\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1");
  EXPECT_EQ(Read("bad.asc"), 22);
  EXPECT_NE(m.log.console().find("nrows must be a whole number from 1 to 10000000 (it gives 12345678901.5)"),
            std::string::npos)
      << m.log.console();
}

TEST_F(Reader, ShortAsciiGridNamesRowAndColumn) {
  Write("short.asc", AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 x 6\n"));
  EXPECT_EQ(Read("short.asc"), 22);
  EXPECT_NE(m.log.console().find("error reading ascii grid " + m.file("short.asc") +
                                 " in ASCII-Format in row 2, col 2: \"x\" is not a number"),
            std::string::npos);
}

TEST_F(Reader, BinaryFileLengthMustMatchItsHeader) {
  std::vector<float> v = {3, 2, 1000, 2000, 50, -9999, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6};
  Write("ok.bin", Raw(v));
  EXPECT_EQ(Read("ok.bin"), 0);
  Write("cut.bin", Raw(v).substr(0, 60));
  EXPECT_EQ(Read("cut.bin"), 22);
  Write("head.bin", Raw(v).substr(0, 30));
  EXPECT_EQ(Read("head.bin"), 22);
  EXPECT_NE(m.log.console().find("error reading double value #8 from the header of"), std::string::npos);
  std::vector<float> huge = v;
  huge[0] = 3e9f;
  Write("huge.bin", Raw(huge));
  EXPECT_EQ(Read("huge.bin"), 22);
  std::vector<double> d = {3, 2, 1000, 2000, 50, -9999, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
  Write("cut.dbl", Raw(d));
  EXPECT_EQ(Read("cut.dbl"), 22);
  EXPECT_NE(m.log.console().find("the file holds 136 bytes, its header asks for 144"), std::string::npos);
}

TEST_F(Reader, MissingGridWithoutAllocationIs22) {
  Write("a.asc", AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 4 5 6"));
  double** none = nullptr;
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("a.asc", none, 0, false, false, false, 0); }), 22);
  EXPECT_NE(m.log.console().find("no memory allocated (pointer given to function is NULL)"), std::string::npos);
  // An existing grid is overwritten in place.
  MatrixOwner mine(2, 3);
  double** p = mine.get();
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("a.asc", p, 0, false, false, false, 0); }), 0);
  EXPECT_EQ(p, mine.get());
  EXPECT_EQ(mine[2][1], 4.0);
}

TEST_F(Reader, OtherNodataOfTheModelGeometryIsMappedNotSmeared) {
  Write("codes.asc", AsciiGrid(3, 2, 1000, 2000, 50, -1, "3 -1 7\n-1 12 5\n"));
  ASSERT_EQ(Read("codes.asc"), 0);
  EXPECT_EQ(grid[1][1], 3.0);
  EXPECT_EQ(grid[1][2], -9999.0);
  EXPECT_EQ(grid[1][3], 7.0);
  EXPECT_EQ(grid[2][2], 12.0);
}

// A file's no-data value above the model's marks only the cells that hold it: 0 of a
// storage, -3 of a temperature, the codes below an 8-bit raster's 255 are data. One below
// the model's marks every value down from it.
TEST_F(Reader, ANodataValueAmongTheDataMarksOnlyItsOwnCells) {
  const struct {
    double nodata;
    const char* values;
    double expected[6];
  } cases[] = {
      {0, "0 -3 7\n0.5 0 -0.25\n", {-9999, -3, 7, 0.5, -9999, -0.25}},
      {255, "1 2 255\n255 3 254\n", {1, 2, -9999, -9999, 3, 254}},
      {-99999, "-99999 -100000 -9999\n1 -5e5 0\n", {-9999, -9999, -9999, 1, -9999, 0}},
  };
  for (const auto& c : cases) {
    Write("n.asc", AsciiGrid(3, 2, 1000, 2000, 50, c.nodata, c.values));
    ASSERT_EQ(Read("n.asc"), 0) << c.values;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[1 + k / 3][1 + k % 3], c.expected[k]) << c.values << " value " << k;
  }
}

// Binary grids (no-data -9999 marks them) are read straight into the matrix rows: single
// values widened in place, rows the matrix does not hold skipped without shifting the rows
// after them.
TEST_F(Reader, BinaryValuesGoIntoTheirRowsInBothPrecisions) {
  const double values[6] = {1.5, -9999.0, 3.25e7, -2.0, 0.0, 7.0};
  auto file = [&](bool asDouble) {
    std::string bytes;
    auto put = [&](double v) {
      if (asDouble) {
        bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
      } else {
        const float f = static_cast<float>(v);
        bytes.append(reinterpret_cast<const char*>(&f), sizeof f);
      }
    };
    for (double h : {3.0, 2.0, 1000.0, 2000.0, 50.0, -9999.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}) put(h);
    for (double v : values) put(v);
    return bytes;
  };
  for (bool asDouble : {false, true}) {
    const std::string name = asDouble ? "g.dbl" : "g.bin";
    Write(name, file(asDouble));
    ASSERT_EQ(Read(name), 0) << name;
    for (int k = 0; k < 6; ++k)
      EXPECT_EQ(grid[1 + k / 3][1 + k % 3], asDouble ? values[k] : static_cast<double>(static_cast<float>(values[k])))
          << name << " value " << k;

    // Into a given matrix whose first row is not held.
    MatrixOwner mine(2, 3);
    std::vector<double*> rows = {mine[0], nullptr, mine[2]};
    double** target = rows.data();
    ASSERT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid(name, target, 0, false, false, false, 0); }), 0);
    EXPECT_EQ(mine[2][1], -2.0);
    EXPECT_EQ(mine[2][2], 0.0);
    EXPECT_EQ(mine[2][3], 7.0);
  }
}

// A grid of values on another geometry is sampled at each cell's centre: a file of the
// model's own values on a wider extent, or in quarters of its cells, gives them back exactly
// (a file cell without a value stays without one), and no cell outside the zone grid gets one.
TEST_F(Reader, GridsOfAnotherGeometryAreResampledAtTheCentres) {
  const double own[6] = {1.1, 2.3, 3.7, 4.9, 5.3, 6.1};
  auto expectOwn = [&](const std::string& what) {
    for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[1 + k / 3][1 + k % 3], own[k]) << what << " cell " << k;
  };
  // One column more on the east and one row more on the south.
  Write("wide.asc", AsciiGrid(4, 3, 1000, 1950, 50, -9999, "1.1 2.3 3.7 9\n4.9 5.3 6.1 9\n9 9 9 9\n"));
  ASSERT_EQ(Read("wide.asc"), 0);
  expectOwn("wider");
  // Cells of 25 of four equal quarters each.
  std::string quarters;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 6; ++c) quarters += FormatText("%g ", own[(r / 2) * 3 + c / 2]);
    quarters += "\n";
  }
  Write("fine.asc", AsciiGrid(6, 4, 1000, 2000, 25, -9999, quarters));
  ASSERT_EQ(Read("fine.asc"), 0);
  expectOwn("quarters");
  // A blend where the centre lies between file cells: half a cell shifted east.
  Write("shift.asc", AsciiGrid(4, 2, 975, 2000, 50, -9999, "1 2 3 4\n5 6 7 8\n"));
  ASSERT_EQ(Read("shift.asc"), 0);
  EXPECT_DOUBLE_EQ(grid[2][2], 6.5);

  // One cell of 100 over the first two columns: a centre beyond the file's cells holds no
  // value (not the edge's), one within half a cell of its centre the edge's value.
  Write("coarse.asc", AsciiGrid(1, 1, 1000, 2000, 100, -9999, "7\n"));
  ASSERT_EQ(Read("coarse.asc"), 0);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[1 + k / 3][1 + k % 3], k % 3 == 2 ? -9999.0 : 7.0) << k;
  // A file beside the basin covers none of its cells: refused naming both extents.
  Write("beside.asc", AsciiGrid(3, 2, 1150, 2000, 50, -9999, "1 2 3\n4 5 6\n"));
  EXPECT_EQ(Read("beside.asc"), 24);
  EXPECT_NE(m.log.console().find("covers no cell of the basin: its cells span x 1150 to 1300, y 2000 to 2100, the "
                                 "basin's x 1000 to 1150, y 2000 to 2100"),
            std::string::npos);

  // The file's own no-data value (-1) marks a cell without a value, never blended.
  Write("wide1.asc", AsciiGrid(4, 2, 1000, 2000, 50, -1, "1 -1 3 4\n5 -1 7 8\n"));
  ASSERT_EQ(Read("wide1.asc"), 0);
  EXPECT_EQ(grid[2][1], 5.0);
  EXPECT_EQ(grid[2][2], -9999.0);

  // Outside the zone grid no value.
  MatrixOwner zones = m.Grid([](int r, int c) { return r == 1 && c == 3 ? -9999.0 : 1.0; });
  m.obj.RegisterGrid(1, "zones.asc", zones.get(), nullptr, 0, "zones", 0, 1, 2);
  ASSERT_EQ(Read("wide.asc"), 0);
  EXPECT_EQ(grid[1][3], -9999.0);
  EXPECT_EQ(grid[2][3], 6.1);
}

// A grid of codes on another geometry gives each cell the code of the file's cell its centre
// lies in: never a blend of codes, nor a code from beside a no-data cell, and no value
// beyond the file's cells.
TEST_F(Reader, CodesOfAnotherGeometryAreTakenFromTheCellUnderEachCentre) {
  m.obj.readCodes = true;
  // One column more on the west, one row more on the north.
  Write("wide.asc", AsciiGrid(4, 3, 950, 2000, 50, -9999, "9 9 9 9\n-9999 1 2 3\n-9999 4 -9999 6\n"));
  ASSERT_EQ(Read("wide.asc"), 0);
  const double codes[6] = {1, 2, 3, 4, -9999, 6};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[1 + k / 3][1 + k % 3], codes[k]) << k;
  // Cells of twice the size, shifted: the basin's first column lies beyond the file's cells.
  Write("coarse.asc", AsciiGrid(1, 1, 1050, 2000, 100, -9999, "7\n"));
  ASSERT_EQ(Read("coarse.asc"), 0);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(grid[1 + k / 3][1 + k % 3], k % 3 == 0 ? -9999.0 : 7.0) << k;
}

// A grid read during the run must lie on the basin: nothing is resampled, and every ASCII
// row holds exactly its header's number of values on a line of its own.
TEST_F(Reader, GridsReadDuringTheRunMustLieOnTheBasin) {
  struct Case {
    std::string file;
    int code;
    std::string words;
  };
  const std::string rows = "1 2 3\n4 5 6\n";
  const Case cases[] = {
      {AsciiGrid(3, 2, 1000.4, 2000, 50, -9999, rows), 0, ""},  // within a hundredth of a cell
      {"ncols 3\nnrows 2\nxllcenter 1025\nyllcenter 2025\ncellsize 50\nNODATA_value -9999\n" + rows, 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 \r\n4 5 6\n\n"), 0, ""},
      {AsciiGrid(4, 2, 1000, 2000, 50, -9999, "1 2 3 4\n5 6 7 8\n"), 24, "4 columns (the basin has 3)"},
      {AsciiGrid(3, 3, 1000, 2000, 50, -9999, rows + "7 8 9\n"), 24, "3 rows (the basin has 2)"},
      {AsciiGrid(3, 2, 1000, 2000, 25, -9999, rows), 24, "cell size 25 (the basin's is 50)"},
      {AsciiGrid(3, 2, 51000, 2000, 50, -9999, rows), 24,
       "lower-left corner 51000/2000 (the basin's is 1000/2000)"},
      // Rows wrapped over lines, or the whole grid on one line, as the format allows.
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 4 5 6\n"), 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2\n3\n4 5\n6\n"), 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2\n3\n4 5 6\n"), 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2\n3\n4 5 6 7\n"), 22,
       "row 2 (from line 9) does not end at the end of a line: every row of this file begins a line of its own, as "
       "its first row does, and line 9 holds"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3 4\n5 6 7\n"), 22,
       "row 1 holds 4 values, its header gives 3 columns (line 7); its other rows stand"},
      // Without the no-data line: -9999 marks the cells without a value.
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 50\n1 2 -9999\n4 5 6\n", 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5\n6\n"), 22, "row 2 holds 2 values"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5 6 7\n"), 22, "row 2 holds 4 values"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 1.5.2 6\n"), 22, "col 2: \"1.5.2\" is not a number"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5-6\n"), 22, "col 2: \"5-6\" is not a number"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 50.5.2\nNODATA_value -9999\n" + rows, 22,
       "\"cellsize\" is \"50.5.2\", not a number"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5\n"), 22,
       "row 2 holds 2 values, its header gives 3 columns (line 8)"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, rows + "7\n"), 22, "values follow its last row (line 9;"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5 nan\n"), 22, "in row 2, col 3: \"nan\" is not a number"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 -inf 3\n4 5 6\n"), 22, "in row 1, col 2: \"-inf\" is not a number"},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1e999 2 3\n4 5 6\n"), 22, "col 1: \"1e999\" is not a number"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize nan\nNODATA_value -9999\n" + rows, 22,
       "error reading ascii value #5 from " + m.file("b.asc") + ": \"cellsize\" is \"nan\", not a number"},
      // Geometry: digits enough to tell what differs; float noise is none.
      {AsciiGrid(3, 2, 1000, 2000, 50.0001, -9999, rows), 24, "cell size 50.0001 (the basin's is 50)"},
      {AsciiGrid(3, 2, 999.4, 2000, 50, -9999, rows), 24, "lower-left corner 999.4/2000 (the basin's is 1000/2000)"},
      {"ncols 3\nnrows 2\nxllcorner 999.99999999999989\nyllcorner 2000\ncellsize 49.999999999999993\n" + rows, 0,
       ""},
      // Keys by name in any order and case; dx and dy for a cell size where they agree.
      {"nodata -1\nYLLCORNER 2000\nxllcorner 1000\ncellsize 50\nNrows 2\nncols 3\n-1 2 3\n4 5 6\n", 0, ""},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ndx 50\ndy 50.00000000001\n" + rows, 0, ""},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ndx 50\ndy 25\n" + rows, 22,
       "header of " + m.file("b.asc") + ": its cells are 50 wide (dx) and 25 high (dy): the model's cells are square"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ndx 50\nNODATA_value -9999\n" + rows, 22,
       "the header gives dx without dy"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\nNODATA_value -9999\n" + rows, 22,
       "the header gives no cellsize (or dx and dy) before the values begin"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nncols 3\n" + rows, 22, "the header gives \"ncols\" twice (pairs #1 and #4)"},
      {"ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncell_size 50\n" + rows, 22,
       "\"cell_size\" is no key of an ASCII grid header"},
      // A DOS end-of-file mark and NUL padding behind the last row end the file.
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5 6\x1A"), 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, rows + "\x1A" + std::string(5, '\0')), 0, ""},
      {AsciiGrid(3, 2, 1000, 2000, 50, -9999, "1 2 3\n4 5" + std::string(1, '\0') + "6\n"), 22,
       "in row 2, col 2: \"5\\06\" is not a number (it holds a NUL byte"},
  };
  for (const Case& c : cases) {
    Write("b.asc", c.file);
    owner.reset();
    grid = nullptr;
    EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadBasinGrid("b.asc", grid, 0, true, false, false, 0.0); }), c.code)
        << c.file;
    owner.reset(grid);
    EXPECT_NE(m.log.console().find(c.words), std::string::npos) << c.words << "\n" << m.log.console();
    if (c.code == 0) {
      EXPECT_EQ(grid[2][3], 6.0) << c.file;
    }
  }
  EXPECT_NE(m.log.console().find("the grid " + m.file("b.asc") +
                                 " read by test_module does not lie on the basin's grid: 4 columns"),
            std::string::npos);
  // A binary grid of another geometry likewise.
  std::vector<float> binary = {4, 2, 1000, 2000, 50, -9999, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  Write("b.bin", Raw(binary));
  owner.reset();
  grid = nullptr;
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadBasinGrid("b.bin", grid, 0, true, false, false, 0.0); }), 24);
  owner.reset(grid);
}

// Hole filling: the model domain 5 x 5, zone grid valid everywhere except the corner (1,1).
struct Holes : ::testing::Test {
  GridModule m{5, 5, 0, 0, 1};
  MatrixOwner zones = m.Grid([](int r, int c) { return r == 1 && c == 1 ? -9999.0 : 1.0; });
  double** grid = nullptr;
  MatrixOwner owner;
  Holes() { m.obj.RegisterGrid(1, "zones.asc", zones.get(), nullptr, 0, "zones", 0, 1, 5); }
  int Read(const std::string& rows, int fill, bool report, double def = 42.0) {
    owner.reset();
    grid = nullptr;
    WriteTextFile(m.file("h.asc"), AsciiGrid(5, 5, 0, 0, 1, -9999, rows));
    WorkingDirectory here(m.dir.path());
    int code = GridModule::CodeOf([&] { m.obj.ReadGrid("h.asc", grid, fill, true, true, report, def); });
    owner.reset(grid);
    return code;
  }
};

TEST_F(Holes, RingOneScansTheRowAboveFirst) {
  ASSERT_EQ(Read("-9999 -9999 -9999 -9999 -9999\n"
                 "-9999 -9999 7 -9999 -9999\n"
                 "-9999 -9999 -9999 9 -9999\n"
                 "-9999 -9999 -9999 -9999 -9999\n"
                 "-9999 -9999 -9999 -9999 -9999\n",
                 1, true),
            0);
  EXPECT_EQ(grid[3][3], 7.0);  // row r-1 column c comes before row r column c+1
  EXPECT_EQ(grid[1][1], -9999.0);  // outside the basin: stays no-data
  const std::string log = ReadTextFile(m.file("modell_0.log"));
  EXPECT_NE(log.find("y: 3 x: 3  in " + m.file("h.asc") + " -9999.000000 replaced by 7.000000!\n"), std::string::npos);
  EXPECT_NE(log.find("nodata values replaced!\n\n"), std::string::npos);
  EXPECT_NE(m.log.console().find("checking nodata values and replace"), std::string::npos);
}

TEST_F(Holes, ModuleLogNoteKeepsAValueOfManyDigitsWhole) {
  // "%lf" of 1e300 takes over 300 characters: the note still ends with its "!".
  ASSERT_EQ(Read("1e300 1e300 1e300 1e300 1e300\n"
                 "1e300 1e300 1e300 1e300 1e300\n"
                 "1e300 1e300 -9999 1e300 1e300\n"
                 "1e300 1e300 1e300 1e300 1e300\n"
                 "1e300 1e300 1e300 1e300 1e300\n",
                 1, true),
            0);
  const std::string log = ReadTextFile(m.file("modell_0.log"));
  EXPECT_NE(log.find(" -9999.000000 replaced by " + FormatText("%lf", 1e300) + "!\n"), std::string::npos) << log;
}

TEST_F(Holes, RingShape) {
  // Only valid cell: (2,4). The hole (3,3) reaches it in ring 2, since ring 1 covers row 2 at column 3 only.
  ASSERT_EQ(Read("1 1 1 1 1\n"
                 "-9999 -9999 -9999 8 -9999\n"
                 "-9999 -9999 -9999 -9999 -9999\n"
                 "-9999 -9999 -9999 -9999 -9999\n"
                 "-9999 -9999 -9999 -9999 -9999\n",
                 1, false),
            0);
  EXPECT_EQ(grid[3][3], 1.0);  // ring 2 starts at row 1, column 3
  double v;
  MatrixOwner only = m.Grid([](int r, int c) { return r == 2 && c == 4 ? 8.0 : -9999.0; });
  ASSERT_TRUE(FindRingValue(only.get(), 5, 5, 3, 3, -9999.0, v));
  EXPECT_EQ(v, 8.0);
  ASSERT_TRUE(FindRingValue(only.get(), 5, 5, 3, 4, -9999.0, v));  // directly above: ring 1
  GridModule big(30, 30);
  MatrixOwner far = big.Grid([](int r, int c) { return r == 1 && c == 25 ? 3.0 : -9999.0; });
  EXPECT_FALSE(FindRingValue(far.get(), 30, 30, 5, 5, -9999.0, v));  // rows above widen slowly
  far[1][5] = 2.0;
  ASSERT_TRUE(FindRingValue(far.get(), 30, 30, 5, 5, -9999.0, v));
  EXPECT_EQ(v, 2.0);
}

TEST_F(Holes, DefaultValueAndTooBigHoles) {
  const std::string empty = "-9999 -9999 -9999 -9999 -9999\n"
                            "-9999 -9999 -9999 -9999 -9999\n"
                            "-9999 -9999 -9999 -9999 -9999\n"
                            "-9999 -9999 -9999 -9999 -9999\n"
                            "-9999 -9999 -9999 -9999 -9999\n";
  ASSERT_EQ(Read(empty, 2, false, 5.5), 0);
  EXPECT_EQ(grid[3][3], 5.5);
  EXPECT_EQ(grid[1][1], -9999.0);
  ASSERT_EQ(Read(empty, 1, false, 6.5), 0);
  EXPECT_EQ(grid[5][5], 6.5);
  EXPECT_EQ(Read(empty, 1, true), 25);
  EXPECT_NE(m.log.console().find("is a too big hole at x/y = 2/1!"), std::string::npos);
}

TEST_F(Holes, ValidCellsOutsideTheBasinBecomeNodataOnlyWhenAHoleWasFound) {
  ASSERT_EQ(Read("4 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n", 1, false), 0);
  EXPECT_EQ(grid[1][1], 4.0);  // no hole: the grid stays as read
  ASSERT_EQ(Read("4 1 1 1 1\n1 1 1 1 1\n1 1 -9999 1 1\n1 1 1 1 1\n1 1 1 1 1\n", 1, false), 0);
  EXPECT_EQ(grid[1][1], -9999.0);
  EXPECT_EQ(grid[3][3], 1.0);
}

}  // namespace

namespace {

// Values that are no data, whatever the file's format says: NaN of a binary grid; and the
// header forms every reader takes: keywords in any case, centre instead of corner.
TEST_F(Reader, NanIsNoDataAndCentreHeadersAreCorners) {
  const double nan = std::nan("");
  Write("nan.bin", Raw(std::vector<float>{3, 2, 1000, 2000, 50, -9999, 0, 0, 0, 0, 0, 0, 1, static_cast<float>(nan),
                                          3, 4, 5, 6}));
  ASSERT_EQ(Read("nan.bin"), 0) << m.log.console();
  EXPECT_EQ(grid[1][2], -9999.0);
  EXPECT_EQ(grid[2][3], 6.0);
  Write("nan.dbl", Raw(std::vector<double>{3, 2, 1000, 2000, 50, -9999, 0, 0, 0, 0, 0, 0, nan, 2, 3, 4, 5, 6}));
  ASSERT_EQ(Read("nan.dbl"), 0);
  EXPECT_EQ(grid[1][1], -9999.0);
  // "nan" as the no-data value of a float ASCII grid: the cells that hold it have no value.
  Write("nan.asc", "ncols 3\nnrows 2\nxllcorner 1000\nyllcorner 2000\ncellsize 50\nNODATA_value nan\n-nan 2 3\n4 NaN 6\n");
  ASSERT_EQ(Read("nan.asc"), 0) << m.log.console();
  EXPECT_EQ(grid[1][1], -9999.0);
  EXPECT_EQ(grid[2][2], -9999.0);
  EXPECT_EQ(grid[2][3], 6.0);

  // The centre of the lower-left cell lies half a cell (25 m) inside the corner: this is
  // the model domain itself, read without resampling.
  Write("centre.asc", "NCOLS 3\nNROWS 2\nXLLCENTER 1025\nyllcenter 2025\nCELLSIZE 50\nNODATA_VALUE -9999\n1 2 3\n4 5 6\n");
  ASSERT_EQ(Read("centre.asc"), 0) << m.log.console();
  EXPECT_EQ(grid[1][1], 1.0);
  EXPECT_EQ(grid[2][3], 6.0);
  EXPECT_EQ(m.obj.binaryHeader[2], 1000.0);
  EXPECT_EQ(m.obj.binaryHeader[3], 2000.0);
  EXPECT_EQ(DetectGridFormat("NcOlS 3"), GridFileFormat::Ascii);
  // Any header key begins an ASCII grid; a word that is none does not.
  EXPECT_EQ(DetectGridFormat("\r\nNODATA_value -9999\n"), GridFileFormat::Ascii);
  EXPECT_EQ(DetectGridFormat("dx 3\n"), GridFileFormat::Ascii);
  EXPECT_EQ(DetectGridFormat("dxy 3\n"), GridFileFormat::Unknown);
  EXPECT_EQ(DetectGridFormat("\xEF\xBB\xBFnrows 3\n"), GridFileFormat::Ascii);
}

// A header within float noise of the basin's geometry (a millionth of a cell) is the basin's:
// read cell by cell, as a corner in the same whole metres is. A grid of another geometry is
// resampled where its header puts it, the basin's corner being no whole metre either.
TEST_F(Reader, FloatNoiseIsTheBasinsGeometryAndResampledGridsLieWhereTheirHeaderSays) {
  const std::string rows = "1.1 2.3 3.7\n4.9 5.3 6.1\n";
  for (const char* head : {"xllcorner 999.99999999999989\nyllcorner 1999.9999999999998\ncellsize 50\n",
                           "xllcorner 1000\nyllcorner 2000\ncellsize 49.999999999999993\n",
                           "xllcorner 1000.00004\nyllcorner 1999.99996\ncellsize 50.00004\n"}) {
    Write("noise.asc", std::string("ncols 3\nnrows 2\n") + head + "NODATA_value -9999\n" + rows);
    ASSERT_EQ(Read("noise.asc"), 0) << head;
    EXPECT_EQ(grid[1][1], 1.1) << head;
    EXPECT_EQ(grid[2][3], 6.1) << head;
  }
  EXPECT_EQ(m.log.console().find("resampled"), std::string::npos);
  // Beyond float noise and across a whole metre, the file is resampled where it lies.
  Write("off.asc", "ncols 3\nnrows 2\nxllcorner 999.9\nyllcorner 2000\ncellsize 50\nNODATA_value -9999\n" + rows);
  ASSERT_EQ(Read("off.asc"), 0);
  EXPECT_NE(m.log.console().find("lies on 3 x 2 cells of 50 at 999.9/2000, the basin on 3 x 2 cells of 50 at "
                                 "1000/2000: it is resampled"),
            std::string::npos);

  // A basin whose corner lies half a metre past the whole: a wider grid on its cells (one
  // column more on the west) gives each cell its own value back.
  GridModule half{3, 2, 1000.5, 2000.5, 50.0};
  WriteTextFile(half.file("wide.asc"),
                "ncols 4\nnrows 2\nxllcorner 950.5\nyllcorner 2000.5\ncellsize 50\nNODATA_value -9999\n"
                "9 1.1 2.3 3.7\n9 4.9 5.3 6.1\n");
  double** wide = nullptr;
  ASSERT_EQ(GridModule::CodeOf([&] { half.obj.ReadGrid("wide.asc", wide, 0, true, false, false, 0.0); }), 0);
  MatrixOwner wideOwner(wide);
  const double own[6] = {1.1, 2.3, 3.7, 4.9, 5.3, 6.1};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(wide[1 + k / 3][1 + k % 3], own[k]) << k;
}

// A header that claims more cells than the file can hold fails before anything is
// allocated for them, in the model domain as in a grid of another geometry.
TEST_F(Reader, AsciiHeaderClaimingMoreCellsThanTheFileHoldsFailsEarly) {
  for (const char* head : {"ncols 3\nnrows 2\n", "ncols 12000\nnrows 12000\n", "ncols 40000\nnrows 40000\n"}) {
    Write("big.asc", std::string(head) + "xllcorner 1000\nyllcorner 2000\ncellsize 50\nnodata_value -9999\n1 2 3\n");
    EXPECT_EQ(Read("big.asc"), 22) << head;
  }
  EXPECT_NE(m.log.console().find("is too short for the 40000 x 40000 values of its header"), std::string::npos);
  EXPECT_TRUE(AsciiGridCanHold(11, 3, 2));
  EXPECT_FALSE(AsciiGridCanHold(10, 3, 2));
}

}  // namespace
