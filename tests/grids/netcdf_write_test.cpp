// netCDF output: names, file layout, series along the time axis, replacement of files of
// an earlier run, and reading the written files back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "grids/grid_registry.h"
#include "grids/netcdf_grid_io.h"
#include "netcdf_test_util.h"

namespace {

// 3 columns, 2 rows; value (row r, column c) = 10 r + c; column order as the writer takes it.
std::vector<double> Sample3x2() {
  std::vector<double> v(6);
  for (int c = 1; c <= 3; ++c)
    for (int r = 1; r <= 2; ++r) v[(c - 1) * 2 + (r - 1)] = 10 * r + c;
  return v;
}

bool HasLine(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

}  // namespace

TEST(NetcdfNames, ExtensionAndVariableNames) {
  EXPECT_EQ(AddNcExtension("results/snow_cover_timeseries"), "results/snow_cover_timeseries.nc");
  EXPECT_EQ(AddNcExtension("grid.nc"), "grid.nc");
  EXPECT_EQ(AddNcExtension("grid.nc.old"), "grid.nc.old");
  EXPECT_EQ(AddNcExtension("grid.ncx"), "grid.ncx");
  EXPECT_EQ(GetNetcdfVariableName("results/snow_cover_timeseries"), "snowcover");
  EXPECT_EQ(GetNetcdfVariableName("results/tsoil_202501.sum"), "tsoil202501");
  EXPECT_EQ(GetNetcdfVariableName("a-b_c.d"), "abc");
  EXPECT_EQ(GetNetcdfVariableName("c:\\out\\x-y.asc"), "xy");
  EXPECT_EQ(GetNetcdfVariableName(""), "");
}

TEST(NetcdfWrite, DatedFileHasTheAxesAttributesAndCoordinates) {
  TempDir dir;
  CapturedLog log;
  NetcdfWriteOptions o(&log.log());
  o.SetGeometry(100, 200, 10);
  const std::string f = dir.file("g.nc");
  auto v = Sample3x2();
  WriteNetcdfGrid(o, true, v.data(), nullptr, f, "g", 2, 3, 2025, 1, 1, 0, 0, -9999, 10);
  EXPECT_FALSE(std::filesystem::exists(f + ".tmp"));
  const std::string h = NcDump(f, "-hs");
  EXPECT_TRUE(HasLine(h, "x = 3 ;")) << h;
  EXPECT_TRUE(HasLine(h, "y = 2 ;"));
  EXPECT_TRUE(HasLine(h, "time = UNLIMITED ; // (1 currently)"));
  EXPECT_TRUE(HasLine(h, "double x(x) ;"));
  EXPECT_TRUE(HasLine(h, "x:standard_name = \"projection_x_coordinate\" ;"));
  EXPECT_TRUE(HasLine(h, "y:standard_name = \"projection_y_coordinate\" ;"));
  EXPECT_TRUE(HasLine(h, "y:axis = \"Y\" ;"));
  EXPECT_TRUE(HasLine(h, "x:units = \"m\" ;"));
  EXPECT_TRUE(HasLine(h, "x:_FillValue = -9999. ;"));
  EXPECT_TRUE(HasLine(h, "x:_DeflateLevel = 3 ;"));
  EXPECT_TRUE(HasLine(h, "double time(time) ;"));
  EXPECT_TRUE(HasLine(h, "time:units = \"minutes since 1970-01-01 01:00:00.0 +0100\" ;"));
  EXPECT_TRUE(HasLine(h, "time:axis = \"T\" ;"));
  EXPECT_TRUE(HasLine(h, "double g(time, x, y) ;"));
  EXPECT_TRUE(HasLine(h, "g:missing_value = -9999. ;"));
  EXPECT_TRUE(HasLine(h, "g:default_cellsize = 10. ;"));
  EXPECT_TRUE(HasLine(h, "g:_DeflateLevel = 3 ;"));
  EXPECT_FALSE(HasLine(h, "g:_Shuffle = \"true\""));
  EXPECT_TRUE(HasLine(h, ":_Format = \"netCDF-4\" ;"));
  EXPECT_FALSE(HasLine(h, "double lat("));
  const std::string d = NcDump(f, "-v x,y");
  EXPECT_TRUE(HasLine(d, "x = 100, 110, 120 ;")) << d;
  EXPECT_TRUE(HasLine(d, "y = 210, 200 ;"));
}

TEST(NetcdfWrite, FloatVariableCarriesFloatFillValues) {
  TempDir dir;
  NetcdfWriteOptions o;
  std::vector<float> v(6, 1.5f);
  WriteNetcdfGrid(o, false, nullptr, v.data(), dir.file("f.nc"), "f", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  const std::string h = NcDump(dir.file("f.nc"));
  EXPECT_TRUE(HasLine(h, "float f(t, x, y) ;")) << h;
  EXPECT_TRUE(HasLine(h, "f:_FillValue = -9999.f ;"));
  EXPECT_TRUE(HasLine(h, "double t(t) ;"));
  EXPECT_FALSE(HasLine(h, "t:units"));
}

TEST(NetcdfWrite, DatedSeriesAppendsRecordsAndReadsBackByDateAndByStep) {
  TempDir dir;
  CapturedLog log;
  NetcdfWriteOptions o(&log.log());
  o.SetGeometry(100, 200, 10);
  const std::string f = dir.file("series.nc");
  auto v0 = Sample3x2();
  auto v1 = v0;
  for (double& x : v1) x += 0.25;
  WriteNetcdfGrid(o, true, v0.data(), nullptr, f, "series", 2, 3, 2025, 1, 1, 0, 0, -9999, 10);
  WriteNetcdfGrid(o, true, v1.data(), nullptr, f, "series", 2, 3, 2025, 1, 1, 1, 0, -9999, 10);
  const std::string d = NcDump(f, "-v time");
  // 2025-01-01 00:00 UTC is 1735689600 s after the epoch.
  EXPECT_TRUE(HasLine(d, "time = 28928160, 28928220 ;")) << d;

  NetcdfFileCache cache(&log.log());
  std::vector<double> got;
  std::string name = f;
  std::string var;
  int32_t nrows = 0, ncols = 0, records = 0;
  double x0 = 0, y0 = 0, cs = 0, nd = 0;
  ReadNetcdfGrid(cache, got, name, &var, nrows, ncols, x0, y0, cs, nd, records, -1, 2025, 1, 1, 1, 0);
  EXPECT_EQ(var, "series");
  EXPECT_EQ(nrows, 2);
  EXPECT_EQ(ncols, 3);
  EXPECT_EQ(records, 2);
  EXPECT_EQ(x0, 100);
  EXPECT_EQ(y0, 200);
  EXPECT_EQ(cs, 10);
  EXPECT_EQ(nd, -9999);
  EXPECT_TRUE(cache.hasTimeAxis);
  EXPECT_EQ(got, v1);

  name = f + "<series>0";
  ReadNetcdfGrid(cache, got, name, &var, nrows, ncols, x0, y0, cs, nd, records, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(name, f);
  EXPECT_EQ(got, v0);
  EXPECT_EQ(cache.OpenFileCount(), 1u);

  // No record at the date asked for: the read fails with 26.
  name = f;
  EXPECT_EQ(ThrownCode([&] {
              ReadNetcdfGrid(cache, got, name, &var, nrows, ncols, x0, y0, cs, nd, records, -1, 2025, 1, 2, 0, 0);
            }),
            26);
  EXPECT_TRUE(HasLine(log.console(), "exception occured when reading from netCDF file " + f));
}

TEST(NetcdfWrite, UndatedWritesNumberTheRecordsAndANewRunReplacesTheFile) {
  TempDir dir;
  const std::string f = dir.file("u.nc");
  auto v = Sample3x2();
  {
    NetcdfWriteOptions o;
    for (int i = 0; i < 3; ++i)
      WriteNetcdfGrid(o, true, v.data(), nullptr, f, "u", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
    EXPECT_TRUE(HasLine(NcDump(f, "-v t"), "t = 0, 1, 2 ;"));
  }
  NetcdfWriteOptions nextRun;
  WriteNetcdfGrid(nextRun, true, v.data(), nullptr, f, "u", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  EXPECT_TRUE(HasLine(NcDump(f, "-v t"), "t = 0 ;"));
}

// The library creates the file itself: a link left under the temporary name (symbolic, or a
// second name of an input) is removed, and the input it leads to stays as it was.
TEST(NetcdfWrite, ALinkLeftUnderTheTemporaryNameIsNeverWrittenThrough) {
  TempDir dir;
  WriteTextFile(dir.file("zones.asc"), "the zone grid");
  ASSERT_EQ(::symlink(dir.file("zones.asc").c_str(), dir.file("s.nc.tmp").c_str()), 0);
  ASSERT_EQ(::link(dir.file("zones.asc").c_str(), dir.file("h.nc.tmp").c_str()), 0);
  auto v = Sample3x2();
  for (const char* name : {"s", "h"}) {
    NetcdfWriteOptions o;
    const std::string f = dir.file(std::string(name) + ".nc");
    WriteNetcdfGrid(o, true, v.data(), nullptr, f, name, 2, 3, -1, -1, -1, -1, -1, -9999, 10);
    EXPECT_TRUE(HasLine(NcDump(f, "-v t"), "t = 0 ;")) << name;
    EXPECT_FALSE(std::filesystem::exists(f + ".tmp")) << name;
  }
  EXPECT_EQ(ReadTextFile(dir.file("zones.asc")), "the zone grid");
}

TEST(NetcdfWrite, LatitudeAndLongitudeArraysAreWrittenWhenPresent) {
  TempDir dir;
  NetcdfWriteOptions o;
  std::vector<double> lat{47.0, 47.1, 47.2, 47.3, 47.4, 47.5}, lon{8, 8, 8, 8, 8, 8};
  o.SetLatitudes(lat.data());
  o.SetLongitudes(lon.data());
  auto v = Sample3x2();
  WriteNetcdfGrid(o, true, v.data(), nullptr, dir.file("l.nc"), "l", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  const std::string h = NcDump(dir.file("l.nc"), "-v lat");
  EXPECT_TRUE(HasLine(h, "double lat(x, y) ;")) << h;
  EXPECT_TRUE(HasLine(h, "lat:units = \"degrees north\" ;"));
  EXPECT_TRUE(HasLine(h, "lon:units = \"degrees east\" ;"));
  EXPECT_TRUE(HasLine(h, "lat =\n  47, 47.1,\n  47.2, 47.3,\n  47.4, 47.5 ;"));
}

TEST(NetcdfWrite, FailureIsFatal26AndLeavesNoTemporaryFile) {
  TempDir dir;
  CapturedLog log;
  NetcdfWriteOptions o(&log.log());
  auto v = Sample3x2();
  const std::string f = dir.file("missing/dir/g.nc");
  EXPECT_EQ(ThrownCode([&] {
              WriteNetcdfGrid(o, true, v.data(), nullptr, f, "g", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
            }),
            26);
  EXPECT_TRUE(HasLine(log.console(), "error creating " + f + " for writing in netCDF: No such file or directory; the folder " +
                                         dir.file("missing/dir/") + " does not exist"))
      << log.console();
  EXPECT_TRUE(o.writtenFiles.empty());
  EXPECT_EQ(ThrownCode([&] {
              WriteNetcdfGrid(o, true, nullptr, nullptr, dir.file("n.nc"), "n", 2, 3, -1, -1, -1, -1, -1, -9999, 1);
            }),
            26);
}

TEST(NetcdfWrite, FileHeldOpenByAReaderIsClosedBeforeItIsRewritten) {
  TempDir dir;
  const std::string f = dir.file("held.nc");
  auto v = Sample3x2();
  CapturedLog log;
  NetcdfWriteOptions o(&log.log());
  WriteNetcdfGrid(o, true, v.data(), nullptr, f, "held", 2, 3, -1, -1, -1, -1, -1, -9999, 10);

  NetcdfFileCache cache(&log.log());
  std::vector<double> got;
  std::string name = f + "<held>0";
  int32_t nrows = 0, ncols = 0, records = 0;
  double x0 = 0, y0 = 0, cs = 0, nd = 0;
  ReadNetcdfGrid(cache, got, name, nullptr, nrows, ncols, x0, y0, cs, nd, records, -1, -1, -1, -1, -1, -1);
  ASSERT_TRUE(cache.IsOpen(f));

  // Appending and re-creating (a new writer state, as in the next run) both work.
  WriteNetcdfGrid(o, true, v.data(), nullptr, f, "held", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  EXPECT_FALSE(cache.IsOpen(f));
  name = f + "<held>1";
  ReadNetcdfGrid(cache, got, name, nullptr, nrows, ncols, x0, y0, cs, nd, records, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(records, 2);
  NetcdfWriteOptions again(&log.log());
  for (double& x : v) x = -x;
  WriteNetcdfGrid(again, true, v.data(), nullptr, f, "held", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  name = f + "<held>0";
  ReadNetcdfGrid(cache, got, name, nullptr, nrows, ncols, x0, y0, cs, nd, records, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(records, 1);
  EXPECT_EQ(got, v);
  EXPECT_EQ(log.console(), "");
}

TEST(NetcdfWrite, ModuleGridGoesOutColumnAfterColumnWithMissingRowsAsNodata) {
  TempDir dir;
  TestModule t(3, 2, 100, 200, 10);
  MatrixOwner g(2, 3);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) g[r][c] = 10 * r + c;
  const std::string base = dir.file("out/modgrid_timeseries");
  std::filesystem::create_directories(dir.file("out"));
  WriteModuleGridNetcdf(t.module, base, g.get(), false, 2001, 3, 1, 6, 0);
  const std::string f = base + ".nc";
  const std::string d = NcDump(f, "-v modgrid");
  EXPECT_TRUE(HasLine(d, "float modgrid(time, x, y) ;")) << d;
  EXPECT_TRUE(HasLine(d, "modgrid =\n  11, 21,\n  12, 22,\n  13, 23 ;")) << d;

  // A row the module does not hold is written as no-data.
  double* saved = g.get()[2];
  g.get()[2] = nullptr;
  WriteModuleGridNetcdf(t.module, base, g.get(), false, 2001, 3, 1, 7, 0);
  g.get()[2] = saved;
  NetcdfGrid back = ReadNetcdfForModule(t.module, f, -1, 2001, 3, 1, 7, 0);
  EXPECT_EQ(back.recordCount, 2);
  EXPECT_EQ(back.values[1][2], 12);
  EXPECT_EQ(back.values[2][2], -9999);
  EXPECT_EQ(back.firstX, 100);
  EXPECT_EQ(back.firstY, 200);
  EXPECT_EQ(back.LowerLeftX(), 95);
  EXPECT_EQ(back.LowerLeftY(), 195);

  // A cell outside the zone grid is written as no-data, whatever the grid holds there.
  MatrixOwner zones(2, 3);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) zones[r][c] = r == 1 && c == 3 ? -9999.0 : 1.0;
  GridRegistry registry;
  t.module.grids = registry.Records();
  t.module.RegisterGrid(1, "zones.asc", zones.get(), nullptr, 0, "zones", 0, 1, 2);
  WriteModuleGridNetcdf(t.module, base, g.get(), false, 2001, 3, 1, 8, 0);
  back = ReadNetcdfForModule(t.module, f, -1, 2001, 3, 1, 8, 0);
  EXPECT_EQ(back.values[1][3], -9999);
  EXPECT_EQ(back.values[2][3], 23);
  t.module.grids = nullptr;  // the registry ends first
}

TEST(NetcdfWrite, CdoReadsTheWrittenFiles) {
  ORVEL_NEEDS_TOOLS("cdo");
  std::string out;
  TempDir dir;
  NetcdfWriteOptions o;
  o.SetGeometry(100, 200, 10);
  auto v = Sample3x2();
  WriteNetcdfGrid(o, true, v.data(), nullptr, dir.file("d.nc"), "d", 2, 3, 2025, 1, 1, 0, 0, -9999, 10);
  WriteNetcdfGrid(o, true, v.data(), nullptr, dir.file("d.nc"), "d", 2, 3, 2025, 1, 1, 1, 0, -9999, 10);
  std::vector<float> fv(v.begin(), v.end());
  WriteNetcdfGrid(o, false, nullptr, fv.data(), dir.file("u.nc"), "u", 2, 3, -1, -1, -1, -1, -1, -9999, 10);
  for (const char* f : {"d.nc", "u.nc"}) {
    int rc = RunCommand("cdo -s sinfo '" + dir.file(f) + "'", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  }
  RunCommand("cdo -s sinfo '" + dir.file("d.nc") + "'", &out);
  EXPECT_NE(out.find("time : 2 steps"), std::string::npos) << out;
}
