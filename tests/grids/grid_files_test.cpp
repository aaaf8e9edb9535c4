#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "grid_fixture.h"
#include "grids/grid_path.h"

namespace {

TEST(MakePath, JoinsRelativeNamesOnly) {
  EXPECT_EQ(MakePath("out/", "a.asc"), "out/a.asc");
  EXPECT_EQ(MakePath("out/", "sub/a.asc"), "out/sub/a.asc");
  EXPECT_EQ(MakePath("out/", "/abs/a.asc"), "/abs/a.asc");
  EXPECT_EQ(MakePath("out/", "~/a.asc"), "~/a.asc");
  EXPECT_EQ(MakePath("", "a.asc"), "a.asc");
  EXPECT_EQ(MakePath("out/", ""), "");
  EXPECT_EQ(MakePath("out/", "a~b/c"), "out/a~b/c");
}

// A 3 x 2 grid: 1 2 3 / 4 nodata 6.
struct SmallGrid : ::testing::Test {
  GridModule m{3, 2, 1000.0, 2000.0, 50.0};
  MatrixOwner g = m.Grid([](int r, int c) { return (r == 2 && c == 2) ? -9999.0 : (r - 1) * 3 + c; });
};

TEST_F(SmallGrid, SinglePrecisionFileMatchesHandMadeBytes) {
  m.obj.WriteGrid("g.bin", g.get(), false, false, false);
  // count 5, min 1, max 6, sum 16, mean 3.2, sd sqrt((1+4+9+16+36 - 16*16/5)/4)
  const double sd = std::sqrt((66.0 - 256.0 / 5.0) / 4.0);
  std::vector<float> expected = {3, 2, 1000, 2000, 50, -9999, 5, 1, 6, 16, 3.2f, static_cast<float>(sd),
                                 1, 2, 3, 4, -9999, 6};
  const std::string bytes = ReadTextFile(m.file("g.bin"));
  ASSERT_EQ(bytes.size(), 72u);
  EXPECT_EQ(bytes, Raw(expected));
  EXPECT_FALSE(std::filesystem::exists(m.file("g.bin.tmp")));
}

TEST_F(SmallGrid, DoublePrecisionFileMatchesHandMadeBytes) {
  m.obj.WriteGrid("g.dbl", g.get(), false, true, false);
  const double sd = std::sqrt((66.0 - 256.0 / 5.0) / 4.0);
  std::vector<double> expected = {3, 2, 1000, 2000, 50, -9999, 5, 1, 6, 16, 3.2, sd, 1, 2, 3, 4, -9999, 6};
  EXPECT_EQ(ReadTextFile(m.file("g.dbl")), Raw(expected));
}

TEST_F(SmallGrid, AsciiFileHasTheSixWordHeaderAndTabs) {
  m.obj.WriteGrid("g.asc", g.get(), true, false, false);
  EXPECT_EQ(ReadTextFile(m.file("g.asc")),
            "ncols\t3\nnrows\t2\nxllcorner\t1000.000000\nyllcorner\t2000.000000\ncellsize\t50.000000\n"
            "nodata_value\t-9999.000000\n1\t2\t3\n4\t-9999\t6\n");
}

TEST_F(SmallGrid, HeaderStatisticsOfEdgeCases) {
  auto stats = [&](const MatrixOwner& grid) {
    m.obj.WriteGrid("s.bin", grid.get(), false, false, false);
    std::string b = ReadTextFile(m.file("s.bin"));
    std::vector<float> v(6);
    std::memcpy(v.data(), b.data() + 24, 24);
    return v;
  };
  auto all = stats(m.Grid([](int, int) { return -9999.0; }));
  EXPECT_EQ(all, (std::vector<float>{0, 0, 0, 0, -9999, -9999}));
  // exactly two valid cells: a mean, no standard deviation; nodata + 0.5 is not counted
  auto two = stats(m.Grid([](int r, int c) { return r == 1 && c < 3 ? 2.0 * c : -9998.5; }));
  EXPECT_EQ(two, (std::vector<float>{2, 2, 4, 6, 3, -9999}));
}

TEST_F(SmallGrid, FractionalWeightsStartMinimumAndMaximumFromTheFirstValue) {
  MatrixOwner w = m.Grid([](int, int) { return 0.5; });
  m.obj.relCellArea = w.get();
  MatrixOwner values = m.Grid([](int, int c) { return 10.0 + c; });
  m.obj.WriteGrid("w.dbl", values.get(), false, true, false);
  std::string b = ReadTextFile(m.file("w.dbl"));
  std::vector<double> v(6);
  std::memcpy(v.data(), b.data() + 48, 48);
  EXPECT_DOUBLE_EQ(v[0], 3.0);   // six cells of weight 0.5
  EXPECT_DOUBLE_EQ(v[1], 11.0);  // not 0
  EXPECT_DOUBLE_EQ(v[2], 13.0);
  EXPECT_DOUBLE_EQ(v[3], 0.5 * 2 * (11 + 12 + 13));
}

// Cells outside the basin carry no-data in the area-weight grid: they count for nothing,
// whatever value the written grid holds there.
TEST_F(SmallGrid, CellsWithoutAreaWeightAreNotCounted) {
  MatrixOwner w = m.Grid([](int r, int) { return r == 1 ? 1.0 : -9999.0; });
  m.obj.relCellArea = w.get();
  MatrixOwner values = m.Grid([](int, int c) { return 1.0 * c; });
  m.obj.WriteGrid("o.bin", values.get(), false, false, false);
  std::string b = ReadTextFile(m.file("o.bin"));
  std::vector<float> v(6);
  std::memcpy(v.data(), b.data() + 24, 24);
  EXPECT_EQ(v, (std::vector<float>{3, 1, 3, 6, 2, 1}));
}

TEST_F(SmallGrid, ActiveColumnsDecideStatisticsAndBlanking) {
  m.obj.rowBounds.assign(3, RowBounds{});
  m.obj.rowBounds[1] = {2, 2};
  m.obj.rowBounds[2] = {1, 0};  // a row without active cells
  MatrixOwner v = m.Grid([](int r, int c) { return r * 10.0 + c; });
  m.obj.WriteGrid("a.dbl", v.get(), false, true, false);
  std::string b = ReadTextFile(m.file("a.dbl"));
  std::vector<double> s(6);
  std::memcpy(s.data(), b.data() + 48, 48);
  EXPECT_EQ(s[0], 4.0);  // cell (1,2) and all of row 2
  EXPECT_EQ(v[1][1], 11.0);  // WriteGrid leaves the grid alone

  m.obj.WriteGridDouble("b.dbl", v.get(), false, true, false);
  b = ReadTextFile(m.file("b.dbl"));
  std::memcpy(s.data(), b.data() + 48, 48);
  EXPECT_EQ(s[0], 1.0);
  EXPECT_EQ(v[1][1], -9999.0);
  EXPECT_EQ(v[1][2], 12.0);
  EXPECT_EQ(v[1][3], -9999.0);
  EXPECT_EQ(v[2][1], -9999.0);
  EXPECT_EQ(v[2][3], -9999.0);
}

TEST_F(SmallGrid, NullRowsAreWrittenAsNodata) {
  double* saved = g.get()[2];
  g.get()[2] = nullptr;
  m.obj.WriteGrid("n.asc", g.get(), true, false, false);
  m.obj.geometry.nodata_value = -99.0;
  m.obj.WriteGridDouble("n2.asc", g.get(), true, false, false);
  g.get()[2] = saved;
  EXPECT_NE(ReadTextFile(m.file("n.asc")).find("1\t2\t3\n-9999\t-9999\t-9999\n"), std::string::npos);
  EXPECT_NE(ReadTextFile(m.file("n2.asc")).find("\n-99\t-99\t-99\n"), std::string::npos);
}

// Whatever a grid holds outside the zone grid (a start grid's values beyond the catchment),
// its files hold no data there, nor count it in their statistics.
TEST_F(SmallGrid, CellsOutsideTheZoneGridAreWrittenAsNodata) {
  MatrixOwner zones = m.Grid([](int r, int c) { return r == 1 && c == 3 ? -9999.0 : 1.0; });
  m.obj.RegisterGrid(1, "zones.asc", zones.get(), nullptr, 0, "zones", 0, 1, 2);
  g[1][3] = -3.4028235e38;
  m.obj.WriteGrid("z.asc", g.get(), true, false, false);
  EXPECT_NE(ReadTextFile(m.file("z.asc")).find("\n1\t2\t-9999\n4\t-9999\t6\n"), std::string::npos);
  g[1][3] = 150.0;
  m.obj.WriteGrid("z.dbl", g.get(), false, true, false);
  EXPECT_EQ(m.obj.binaryHeader[6], 4.0);  // 1, 2, 4 and 6
  EXPECT_EQ(m.obj.binaryHeader[8], 6.0);
  double** back = nullptr;
  m.obj.ReadGrid("z.dbl", back, 0, true, false, false, 0.0);
  MatrixOwner owner(back);
  EXPECT_EQ(back[1][3], -9999.0);
  EXPECT_EQ(back[1][2], 2.0);
  EXPECT_EQ(g[1][3], 150.0);  // the grid itself keeps what it holds
}

TEST_F(SmallGrid, RoundTripsInEveryFormat) {
  // Values that "%g" prints exactly, and one that single precision rounds.
  MatrixOwner v = m.Grid([](int r, int c) { return r == 2 && c == 2 ? -9999.0 : 0.5 * r + 0.25 * c - 3.0; });
  v[1][3] = 0.1;
  for (auto [name, ascii, dbl] : {std::tuple{"r.asc", true, false}, {"r.bin", false, false}, {"r.dbl", false, true}}) {
    m.obj.WriteGrid(name, v.get(), ascii, dbl, false);
    double** back = nullptr;
    m.obj.ReadGrid(name, back, 0, true, false, false, 0.0);
    MatrixOwner owner(back);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) {
        const double expected = (!dbl && !ascii) ? static_cast<float>(v[r][c]) : v[r][c];
        EXPECT_EQ(back[r][c], expected) << name << " " << r << "," << c;
      }
  }
}

TEST_F(SmallGrid, UnwritableTargetFailsWith26AndLeavesNoFile) {
  m.obj.output.outputDirectory = m.file("missing_dir") + "/";
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.WriteGrid("x.asc", g.get(), true, false, false); }), 26);
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.WriteGrid("x.bin", g.get(), false, false, false); }), 26);
  EXPECT_NE(m.log.console().find("for writing in binary mode. (No such file or directory; the folder " +
                                 m.file("missing_dir") + "/ does not exist)"),
            std::string::npos)
      << m.log.console();
}

TEST_F(SmallGrid, AMissingInputFileIsReportedWithTheSystemReason) {
  double** back = nullptr;
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.ReadGrid("absent.asc", back, 0, true, false, false, 0.0); }), 21);
  EXPECT_NE(m.log.console().find("still error opening " + m.file("absent.asc") +
                                 " - no retry. (No such file or directory)"),
            std::string::npos)
      << m.log.console();
}

TEST_F(SmallGrid, GdalReadsOurAsciiGrid) {
  ORVEL_NEEDS_TOOLS("gdalinfo");
  std::string out;
  m.obj.WriteGrid("gdal.asc", g.get(), true, false, false);
  ASSERT_EQ(RunCommand("gdalinfo '" + m.file("gdal.asc") + "'", &out), 0) << out;
  EXPECT_NE(out.find("Driver: AAIGrid"), std::string::npos) << out;
  EXPECT_NE(out.find("Size is 3, 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Origin = (1000.000000000000000,2100.000000000000000)"), std::string::npos) << out;
  EXPECT_NE(out.find("Pixel Size = (50.000000000000000,-50.000000000000000)"), std::string::npos) << out;
  EXPECT_NE(out.find("NoData Value=-9999"), std::string::npos) << out;
}

}  // namespace

namespace {

TEST_F(SmallGrid, NetcdfFlagWinsAndTheReaderFindsTheRecordByDate) {
  m.obj.WriteGrid("tair", g.get(), true, true, true, 2020, 3, 1, 6, 0);
  EXPECT_TRUE(std::filesystem::exists(m.file("tair.nc")));
  EXPECT_FALSE(std::filesystem::exists(m.file("tair")));
  m.obj.stepDate = ModelDate{0, 6, 1, 3, 2020};
  double** back = nullptr;
  m.obj.ReadGrid("tair.nc", back, 0, true, false, false, 0.0);
  MatrixOwner owner(back);
  EXPECT_EQ(back[1][3], 3.0);
  EXPECT_EQ(back[2][1], 4.0);
  EXPECT_EQ(back[2][2], -9999.0);
}

}  // namespace

namespace {

// The ASCII writer prints values exactly as "%g" does.
TEST(AsciiValues, PrintedLikePercentG) {
  GridModule m(9, 1);
  const double values[9] = {1e-5, 123456, 1234567, 0.0001, -0.0, 1e100, 100000, 1e6, -2.5e-7};
  MatrixOwner g = m.Grid([&](int, int c) { return values[c - 1]; });
  m.obj.WriteGrid("v.asc", g.get(), true, false, false);
  std::string expected;
  for (int i = 0; i < 9; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", values[i]);
    expected += std::string(buf) + (i < 8 ? "\t" : "\n");
  }
  const std::string text = ReadTextFile(m.file("v.asc"));
  EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
}

}  // namespace

namespace {

TEST_F(SmallGrid, NetcdfGridOfOtherSizeNeedsAGeoreference) {
  m.obj.WriteGrid("tair", g.get(), false, true, true, 2020, 3, 1, 6, 0);
  GridModule other(4, 2, 1000.0, 2000.0, 50.0);
  other.obj.output.inputDirectory = m.dir.path() + "/";
  other.obj.stepDate = ModelDate{0, 6, 1, 3, 2020};
  double** back = nullptr;
  EXPECT_EQ(GridModule::CodeOf([&] { other.obj.ReadGrid("tair.nc", back, 0, true, false, false, 0.0); }), 22);
  EXPECT_NE(other.log.console().find("number of columns (3) and/or rows (2) in nc-file not matching those in Orvel (4 "
                                     "and 2 resp.)"),
            std::string::npos);
  // With a georeference of its own the module places the file by the file's coordinates:
  // cell for cell where the corners agree (rows are not shifted), the edge column beyond.
  other.obj.SetPosition(1, 0.0, 0.0, 0.0);
  ASSERT_EQ(GridModule::CodeOf([&] { other.obj.ReadGrid("tair.nc", back, 0, true, false, false, 0.0); }), 0);
  MatrixOwner owner(back);
  EXPECT_EQ(back[1][1], 1.0);
  EXPECT_EQ(back[1][2], 2.0);
  EXPECT_EQ(back[2][1], 4.0);
  EXPECT_EQ(back[2][3], 6.0);
  EXPECT_EQ(back[1][4], 3.0);
}

}  // namespace
