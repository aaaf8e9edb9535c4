// Grid stacks: file layouts and round trips in every format, dated names, the registry-driven
// writer and the rejection of stacks that do not fit the model or are damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "grids/grid_registry.h"
#include "grids/grid_stack.h"
#include "grids/netcdf_grid_io.h"
#include "netcdf_test_util.h"

namespace {

// A module on a 3 x 4 grid (ncols 3, nrows 4) whose files go to and come from one folder.
struct StackModule : TestModule {
  TempDir dir;
  GridRegistry registry;
  double*** stack = nullptr;
  int levels;
  explicit StackModule(int n = 2) : TestModule(3, 4, 1000.5, 2000, 100), levels(n) {
    module.output.outputDirectory = dir.path() + "/";
    module.output.inputDirectory = dir.path() + "/";
    module.grids = registry.Records();
    stack = module.d3_matrix(1, 4, 1, 3, n);
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= n; ++l) stack[r][c][l] = 100 * r + 10 * c + l + 0.5;
  }
  ~StackModule() { module.Free3DMatrix(stack); }
  std::string file(const std::string& n) const { return dir.file(n); }
};

size_t FileSize(const std::string& path) {
  std::error_code ec;
  auto n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<size_t>(n);
}

void ExpectSameStack(double*** a, double*** b, int levels) {
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 3; ++c)
      for (int l = 0; l <= levels; ++l) ASSERT_EQ(a[r][c][l], b[r][c][l]) << r << "/" << c << "/" << l;
}

// Reads the stack back and releases it; returns the level count read.
int ReadBack(StackModule& m, const std::string& name, double*** expect) {
  double*** got = nullptr;
  int n = m.module.ReadStack(name, got, 1);
  if (expect) ExpectSameStack(expect, got, n);
  m.module.Free3DMatrix(got);
  return n;
}

}  // namespace

TEST(GridStackFiles, BinaryStacksHaveTheirSizeAndHeaderAndReadBack) {
  StackModule m(2);
  m.module.WriteStack("s.bin", m.stack, 2, false, false, false);
  EXPECT_EQ(FileSize(m.file("s.bin")), 192u);  // 48 + 3*4*3*4
  std::string bytes = ReadTextFile(m.file("s.bin"));
  float h[12];
  std::memcpy(h, bytes.data(), sizeof h);
  EXPECT_EQ(h[0], 3);
  EXPECT_EQ(h[1], 4);
  EXPECT_EQ(h[2], 1000.5f);
  EXPECT_EQ(h[5], -9999);
  EXPECT_EQ(h[6], 0);
  EXPECT_EQ(h[11], 2);
  float first[3];
  std::memcpy(first, bytes.data() + 48, sizeof first);  // row 1, column 1, levels 0..2
  EXPECT_EQ(first[0], 110.5f);
  EXPECT_EQ(first[2], 112.5f);
  EXPECT_EQ(ReadBack(m, "s.bin", m.stack), 2);

  m.module.WriteStack("d.bin", m.stack, 2, false, true, false);
  EXPECT_EQ(FileSize(m.file("d.bin")), 96u + 8 * 36);
  EXPECT_EQ(ReadBack(m, "d.bin", m.stack), 2);
  EXPECT_FALSE(std::filesystem::exists(m.file("d.bin.tmp")));
  EXPECT_NE(m.log.console().find("reading " + m.file("d.bin") + " for testmodule..."), std::string::npos);
}

TEST(GridStackFiles, AsciiStackHasItsHeaderAndOneValuePerLine) {
  StackModule m(1);
  m.module.WriteStack("a.txt", m.stack, 1, true, false, false);
  const std::string text = ReadTextFile(m.file("a.txt"));
  EXPECT_EQ(text.rfind(
                "stack_ncols\t3.000000\nnrows\t4.000000\nxll\t1000.500000\nyll\t2000.000000\ncs\t100.000000\n"
                "nodata\t-9999.000000\ncnt\t0.000000\nmin\t0.000000\nmax\t0.000000\nsum\t0.000000\n"
                "average\t0.000000\nnumlevels\t1.000000\n110.5\n111.5\n120.5\n",
                0),
            0u)
      << text;
  EXPECT_EQ(ReadBack(m, "a.txt", m.stack), 1);
}

// An ASCII stack saved by an editor with a byte-order mark and CR LF line ends reads back.
TEST(GridStackFiles, AsciiStackWithAByteOrderMarkAndCrLfReadsBack) {
  StackModule m(1);
  m.module.WriteStack("a.txt", m.stack, 1, true, false, false);
  std::string edited = "\xEF\xBB\xBF";
  for (const char c : ReadTextFile(m.file("a.txt"))) edited += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteTextFile(m.file("a.txt"), edited);
  EXPECT_EQ(ReadBack(m, "a.txt", m.stack), 1);
}

TEST(GridStackFiles, RowsNotHeldAreWrittenAsNodata) {
  StackModule m(0);
  double** saved = m.stack[2];
  m.stack[2] = nullptr;
  m.module.WriteStack("n.bin", m.stack, 0, false, true, false);
  m.stack[2] = saved;
  double*** got = nullptr;
  m.module.ReadStack("n.bin", got, 1);
  EXPECT_EQ(got[2][1][0], -9999);
  EXPECT_EQ(got[3][1][0], 310.5);
  m.module.Free3DMatrix(got);
}

TEST(GridStackFiles, NetcdfStackHoldsOneRecordPerLevelAndReadsBack) {
  StackModule m(2);
  m.stack[4][3][1] = -9999;
  m.module.WriteStack("snow_stack", m.stack, 2, true, true, true);
  const std::string nc = m.file("snow_stack.nc");
  EXPECT_FALSE(std::filesystem::exists(m.file("snow_stack")));  // the netCDF flag wins
  const std::string h = NcDump(nc);
  EXPECT_NE(h.find("t = UNLIMITED ; // (3 currently)"), std::string::npos) << h;
  EXPECT_NE(h.find("double snowstack(t, x, y) ;"), std::string::npos);
  EXPECT_EQ(ReadBack(m, "snow_stack.nc", m.stack), 2);

  // Written again in the same run: the records are appended, with one warning.
  m.module.WriteStack("snow_stack", m.stack, 2, false, true, true);
  m.module.WriteStack("snow_stack", m.stack, 2, false, true, true);
  EXPECT_NE(NcDump(nc).find("(9 currently)"), std::string::npos);
  const std::string log = m.log.console();
  const std::string warning = "netCDF stack " + nc + " is written more than once in this run";
  size_t first = log.find(warning);
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(warning, first + 1), std::string::npos);
  EXPECT_EQ(ReadBack(m, "snow_stack.nc", nullptr), 8);
}

TEST(GridStackFiles, StacksThatDoNotFitTheModelAreRejectedWith24) {
  StackModule m(1);
  m.module.WriteStack("fit.bin", m.stack, 1, false, false, false);
  m.module.WriteStack("fit", m.stack, 1, false, false, true);
  m.module.geometry.nodata_value = -9998;
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "fit.bin", nullptr); }), 24);
  EXPECT_NE(m.log.console().find(m.file("fit.bin") + " has not the specified grid measures (in testmodule)\n"),
            std::string::npos)
      << m.log.console();
  EXPECT_NE(m.log.console().find("-9998 -9999\n"), std::string::npos);
  m.module.geometry.nodata_value = -9999;
  m.module.geometry.xllcorner = 1000.9;  // same whole part: fits
  EXPECT_EQ(ReadBack(m, "fit.bin", m.stack), 1);
  // A basin corner and cell size within float noise of the file's fit, as they do a grid's.
  m.module.geometry.xllcorner = 1000.0;
  m.module.WriteStack("whole.bin", m.stack, 1, false, false, false);
  m.module.geometry.xllcorner = 999.99999999999989;
  m.module.geometry.cellsize *= 1.0 + 1e-15;
  EXPECT_EQ(ReadBack(m, "whole.bin", m.stack), 1);
  m.module.geometry.xllcorner = 999.99;  // beyond: the digits that differ
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "whole.bin", nullptr); }), 24);
  EXPECT_NE(m.log.console().find("\n999.99 1000\n"), std::string::npos) << m.log.console();
  m.module.geometry.xllcorner = 1000.9;
  m.module.geometry.cellsize = 100;
  m.module.geometry.ncols = 2;
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "fit.nc", nullptr); }), 24);
  EXPECT_NE(m.log.console().find("has not the specified stack measures (in testmodule)"), std::string::npos);
  EXPECT_NE(m.log.console().find("\n expected ncols: 2 <-> read from stack: 3"), std::string::npos);
}

TEST(GridStackFiles, DamagedStacksFailWithReadCodes) {
  StackModule m(2);
  m.module.WriteStack("s.bin", m.stack, 2, false, false, false);
  m.module.WriteStack("a.txt", m.stack, 2, true, false, false);
  std::string bytes = ReadTextFile(m.file("s.bin"));
  // Shorter than the header says.
  WriteTextFile(m.file("short.bin"), bytes.substr(0, bytes.size() - 4));
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "short.bin", nullptr); }), 22);
  EXPECT_NE(m.log.console().find("is shorter than its header says"), std::string::npos);
  // An absurd level count.
  std::string huge = bytes;
  float levels = 1e9f;
  std::memcpy(&huge[44], &levels, 4);
  WriteTextFile(m.file("huge.bin"), huge);
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "huge.bin", nullptr); }), 22);
  levels = -1;
  std::memcpy(&huge[44], &levels, 4);
  WriteTextFile(m.file("neg.bin"), huge);
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "neg.bin", nullptr); }), 22);
  // An ASCII stack cut short, and one with a word in place of a value.
  std::string text = ReadTextFile(m.file("a.txt"));
  WriteTextFile(m.file("cut.txt"), text.substr(0, text.size() - 40));
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "cut.txt", nullptr); }), 22);
  std::string bad = text;
  bad.replace(bad.find("110.5"), 5, "abc.d");
  WriteTextFile(m.file("bad.txt"), bad);
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "bad.txt", nullptr); }), 22);
  EXPECT_NE(m.log.console().find("error reading ascii stack " + m.file("bad.txt") + "at row 1, column 1, level 0"),
            std::string::npos)
      << m.log.console();
  // Unknown format, too short for any header, missing file.
  std::string other = bytes;
  float nodata = -9998;
  std::memcpy(&other[20], &nodata, 4);
  WriteTextFile(m.file("other.bin"), other);
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "other.bin", nullptr); }), 22);
  EXPECT_NE(m.log.console().find("could not recognize file format (ascii, single float or double float) for stack"),
            std::string::npos);
  WriteTextFile(m.file("tiny.bin"), "abc");
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "tiny.bin", nullptr); }), 22);
  EXPECT_EQ(ThrownCode([&] { ReadBack(m, "absent.bin", nullptr); }), 21);
}

TEST(GridStackNames, DatedNamesKeepAtMostFourCharactersOfTheBaseName) {
  EXPECT_EQ(DatedStackName("out/snowstack.txt", 2001, 3, 1, 6, 0), "out/snow_20010301.006");
  EXPECT_EQ(DatedStackName("out/snowstack.txt", 2001, 3, 1, 6, 1), "out/snow_20010301.006_001");
  EXPECT_EQ(DatedStackName("a/b/ab", 2001, 12, 31, 23, 1234), "a/b/ab_20011231.023_1234");
  EXPECT_EQ(DatedStackName("x.y", 2001, 3, 1, 6, 0), "x_20010301.006");
  EXPECT_EQ(DatedStackName("dir/.hidden", 2001, 3, 1, 6, 0), "dir/_20010301.006");
  // Dates of a run without meteorological input: the name just grows.
  EXPECT_EQ(DatedStackName("s", -9999, -9999, -9999, -9999, 0), "s_-9999-9999-9999.-9999");
}

TEST(GridStackOutput, WriteCodeDigitsChooseWhenAndUnderWhichName) {
  StackModule m(1);
  m.module.geometry.nodata_value = -9999;
  m.module.SetEndDate(2001, 3, 2, 0, 0);
  m.module.output.stampToStepEndHours = 1.0;
  m.module.RegisterGrid(1, "zones.asc", nullptr, nullptr, 0, "zones", 0, 1, 4);
  m.module.RegisterGrid(2, "snowstack.txt", nullptr, m.stack, 1, "dated", 2, 1, 4);
  m.module.RegisterGrid(3, "daily.bin", nullptr, m.stack, 1, "daily", 4, 1, 4);
  m.module.RegisterGrid(4, "final.bin", nullptr, m.stack, 1, "final", 3, 1, 4);
  m.module.RegisterGrid(5, "plain.bin", nullptr, nullptr, 0, "plain", 1, 1, 4);
  auto step = [&](int day, int hour) {
    m.module.stepDate.year = 2001;
    m.module.stepDate.month = 3;
    m.module.stepDate.day = day;
    m.module.stepDate.hour = hour;
    m.module.stepDate.minute = 0;
    for (int p = 2; p <= 5; ++p) m.module.WriteStackGrids(p);
  };
  step(1, 6);
  EXPECT_TRUE(std::filesystem::exists(m.file("snow_20010301.006")));
  EXPECT_FALSE(std::filesystem::exists(m.file("daily.bin")));
  EXPECT_FALSE(std::filesystem::exists(m.file("final.bin")));
  EXPECT_FALSE(std::filesystem::exists(m.file("plain.bin")));  // no stack data
  step(1, 6);
  EXPECT_TRUE(std::filesystem::exists(m.file("snow_20010301.006_001")));
  step(1, 23);  // the last step of the day
  EXPECT_TRUE(std::filesystem::exists(m.file("daily.bin")));
  EXPECT_FALSE(std::filesystem::exists(m.file("snowstack.txt")));
  step(2, 0);  // the end of the run
  EXPECT_TRUE(std::filesystem::exists(m.file("snow_20010302.000")));
  EXPECT_TRUE(std::filesystem::exists(m.file("snowstack.txt")));
  EXPECT_TRUE(std::filesystem::exists(m.file("final.bin")));
  EXPECT_EQ(ReadBack(m, "snowstack.txt", m.stack), 1);
  m.module.WriteStackGrids(0);
  m.module.WriteStackGrids(1000);
}
