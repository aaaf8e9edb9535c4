// netCDF input of files made elsewhere: name parts, variable choice, axis orders,
// unpacking and fill values, the limits of the file cache and malformed files.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "grids/netcdf_grid_io.h"
#include "netcdf_test_util.h"

namespace {

struct ReadResult {
  std::vector<double> values;
  std::string name, variable;
  int32_t nrows = 7, ncols = 7, records = -5;
  double x0 = -1, y0 = -1, cs = 0, nodata = -1;
};

ReadResult Read(NetcdfFileCache& cache, const std::string& name, int record = -1, int year = -1, int month = -1,
                int day = -1, int hour = -1, int minute = -1) {
  ReadResult r;
  r.name = name;
  ReadNetcdfGrid(cache, r.values, r.name, &r.variable, r.nrows, r.ncols, r.x0, r.y0, r.cs, r.nodata, r.records,
                 record, year, month, day, hour, minute);
  return r;
}

// Variable v(time, y, x) of 2 rows and 3 columns; y ascends (south to north).
const char* kAscendingYX = R"(dimensions: time = UNLIMITED ; y = 2 ; x = 3 ;
variables:
  double time(time) ; double y(y) ; double x(x) ;
  float v(time, y, x) ; v:_FillValue = -9999.f ;
data:
  time = 0, 60 ;
  y = 1000, 1025 ;
  x = 500.7, 525, 550 ;
  v = 1, 2, 3, 4, 5, 6,  11, 12, 13, 14, 15, 16 ;)";

}  // namespace

TEST(NetcdfRead, StepInTheNameSelectsTheRecordAndTheBufferKeepsTheFileName) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "temperature.nc", R"(dimensions: t = 13 ; x = 2 ; y = 1 ;
variables: float tair(t, x, y) ; float other(t, x, y) ;
data: tair = 0,0, 1,1, 2,2, 3,3, 4,4, 5,5, 6,6, 7,7, 8,8, 9,9, 10,10, 11,11, 12,13 ;
  other = 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0, 0,0 ;)");
  NetcdfFileCache cache;
  ReadResult r = Read(cache, dir.file("temperature.nc") + "<tair>12");
  EXPECT_EQ(r.name, dir.file("temperature.nc"));
  EXPECT_EQ(r.variable, "tair");
  EXPECT_EQ(r.values, (std::vector<double>{12, 13}));
  EXPECT_EQ(r.records, 13);
  EXPECT_EQ(r.ncols, 2);
  EXPECT_EQ(r.nrows, 1);
  EXPECT_FALSE(cache.hasTimeAxis);
  // No x or y variable: origins keep the caller's values, the cell size is unknown.
  EXPECT_EQ(r.x0, -1);
  EXPECT_EQ(r.y0, -1);
  EXPECT_EQ(r.cs, -1);
  // The caller's record counts when the name carries none; the name's step wins otherwise.
  EXPECT_EQ(Read(cache, dir.file("temperature.nc") + "<tair>", 3).values, (std::vector<double>{3, 3}));
  EXPECT_EQ(Read(cache, dir.file("temperature.nc") + "<tair>5", 3).values, (std::vector<double>{5, 5}));
  EXPECT_EQ(cache.OpenFileCount(), 1u);
}

TEST(NetcdfRead, AscendingYXFieldComesBackNorthWesternCellFirst) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "asc.nc", kAscendingYX);
  NetcdfFileCache cache;
  ReadResult r = Read(cache, dir.file("asc.nc") + "<v>1");
  // Column order, rows north to south: column 1 = (north 14, south 11), ...
  EXPECT_EQ(r.values, (std::vector<double>{14, 11, 15, 12, 16, 13}));
  EXPECT_EQ(r.x0, 500);  // whole numbers
  EXPECT_EQ(r.y0, 1000);
  EXPECT_EQ(r.cs, 25);
  EXPECT_EQ(r.nodata, -9999);
  EXPECT_TRUE(cache.hasTimeAxis);
  EXPECT_EQ(r.records, 2);
  // Record by date: minute 60 after the epoch.
  EXPECT_EQ(Read(cache, dir.file("asc.nc<v>"), -1, 1970, 1, 1, 1, 0).values,
            (std::vector<double>{14, 11, 15, 12, 16, 13}));
}

TEST(NetcdfRead, DescendingXYFieldIsKeptAsStoredAndTheCellSizeAttributeWins) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "desc.nc", R"(dimensions: t = 1 ; x = 2 ; y = 3 ;
variables: double y(y) ; double x(x) ; double d(t, x, y) ; d:default_cellsize = 5. ; d:missing_value = -1. ;
data: y = 300, 200, 100 ; x = 0, 100 ; d = 1, 2, 3, 4, 5, 6 ;)");
  NetcdfFileCache cache;
  ReadResult r = Read(cache, dir.file("desc.nc<d>0"));
  EXPECT_EQ(r.values, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(r.y0, 100);
  EXPECT_EQ(r.cs, 5);
  EXPECT_EQ(r.nodata, -1);
}

TEST(NetcdfRead, VariableFallsBackToTheFileNameAndThenToTheFirstDataVariable) {
  TempDir dir;
  const char* body = R"(dimensions: t = 1 ; x = 1 ; y = 1 ;
variables: double x(x) ; double lat(x, y) ; double %s(t, x, y) ; double zz(t, x, y) ;
data: x = 3 ; lat = 47 ; %s = 42 ; zz = 7 ;)";
  auto cdl = [&](const char* var) {
    std::string s = body;
    for (size_t p; (p = s.find("%s")) != std::string::npos;) s.replace(p, 2, var);
    return s;
  };
  MakeNetcdfFromCdl(dir, "snow_cover_timeseries.nc", cdl("snowcover"));
  MakeNetcdfFromCdl(dir, "a.b.nc", cdl("abnc"));
  MakeNetcdfFromCdl(dir, "other.nc", cdl("precip"));
  CapturedLog log;
  NetcdfFileCache cache(&log.log());
  ReadResult r = Read(cache, dir.file("snow_cover_timeseries.nc"), 0);
  EXPECT_EQ(r.variable, "snowcover");
  EXPECT_EQ(r.values, std::vector<double>{42});
  EXPECT_EQ(Read(cache, dir.file("a.b.nc"), 0).variable, "abnc");
  EXPECT_EQ(log.console().find("netcdf input file names"), std::string::npos);
  r = Read(cache, dir.file("other.nc"), 0);
  EXPECT_EQ(r.variable, "precip");
  EXPECT_EQ(r.values, std::vector<double>{42});
  EXPECT_NE(log.console().find("netcdf input file names should be provided as filename<varname>timestep"),
            std::string::npos);
  // A named variable that the file lacks.
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("other.nc") + "<tair>0"); }), 26);
  EXPECT_NE(log.console().find("cannot find variable \"tair\" in file \"" + dir.file("other.nc") + "\""),
            std::string::npos)
      << log.console();
}

TEST(NetcdfRead, PackedValuesAreUnpackedAndFillCellsBecomeNodata) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "f.nc", R"(dimensions: t = 1 ; x = 1 ; y = 1 ;
variables: float f(t, x, y) ; f:scale_factor = 0.5 ; f:add_offset = 273.25 ;
data: f = 100 ;)");
  // Short data packed with a fill value that would unpack to a plausible number.
  MakeNetcdfFromCdl(dir, "s.nc", R"(dimensions: t = 1 ; x = 2 ; y = 2 ;
variables: short s(t, y, x) ; s:scale_factor = 0.01 ; s:add_offset = 10. ; s:_FillValue = -32767s ;
  double d(t, y, x) ; d:_FillValue = 1.e+20 ;
data: s = 100, -32767, _, 0 ; d = 1.e+20, NaN, 2, 3 ;)");
  NetcdfFileCache cache;
  EXPECT_DOUBLE_EQ(Read(cache, dir.file("f.nc"), 0).values[0], 323.25);
  ReadResult s = Read(cache, dir.file("s.nc<s>0"));
  EXPECT_EQ(s.nodata, -32767);
  // rows north to south (the file has no y axis: south to north), column order.
  ASSERT_EQ(s.values.size(), 4u);
  EXPECT_EQ(s.values[0], -32767);  // column 1 north: the "_" (fill) cell
  EXPECT_DOUBLE_EQ(s.values[1], 11.0);
  EXPECT_DOUBLE_EQ(s.values[2], 10.0);
  EXPECT_EQ(s.values[3], -32767);
  ReadResult d = Read(cache, dir.file("s.nc<d>0"));
  EXPECT_EQ(d.values, (std::vector<double>{2, 1e20, 3, 1e20}));

  // Two different markers: cells holding either are no-data; "missing_value" is the one returned.
  MakeNetcdfFromCdl(dir, "m.nc", R"(dimensions: t = 1 ; x = 3 ; y = 1 ;
variables: float m(t, x, y) ; m:_FillValue = -1.f ; m:missing_value = -2.f ; m:scale_factor = 3. ;
data: m = -1, -2, 5 ;)");
  ReadResult mm = Read(cache, dir.file("m.nc<m>0"));
  EXPECT_EQ(mm.nodata, -2);
  EXPECT_EQ(mm.values, (std::vector<double>{-2, -2, 15}));

  // Through the module helper fill cells carry the model's no-data value.
  TestModule t(2, 2, 0, 0, 1);
  NetcdfGrid g = ReadNetcdfForModule(t.module, dir.file("s.nc<s>0"), -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(g.values[1][1], -9999);
  EXPECT_DOUBLE_EQ(g.values[2][1], 11.0);
  EXPECT_EQ(g.values[2][2], -9999);
  EXPECT_EQ(g.nodata, -9999);
}

TEST(NetcdfRead, MalformedFilesFailWithClearCodes) {
  TempDir dir;
  // Whole-number y coordinates 0 and 0: no cell size.
  MakeNetcdfFromCdl(dir, "flat.nc", R"(dimensions: t = 1 ; x = 1 ; y = 2 ;
variables: double y(y) ; double flat(t, y, x) ; data: y = 0.2, 0.7 ; flat = 1, 2 ;)");
  MakeNetcdfFromCdl(dir, "lonlat.nc", R"(dimensions: time = 1 ; lat = 2 ; lon = 2 ;
variables: double time(time) ; double lonlat(time, lat, lon) ; data: time = 0 ; lonlat = 1, 2, 3, 4 ;)");
  MakeNetcdfFromCdl(dir, "flat2d.nc", R"(dimensions: x = 2 ; y = 2 ;
variables: double flat2d(y, x) ; data: flat2d = 1, 2, 3, 4 ;)");
  MakeNetcdfFromCdl(dir, "shorty.nc", R"(dimensions: t = 1 ; x = 2 ; y = 2 ; n = 3 ;
variables: double y(n) ; double shorty(t, y, x) ; data: y = 1, 2, 3 ; shorty = 1, 2, 3, 4 ;)");
  WriteTextFile(dir.file("junk.nc"), "CDF\x01 not really");
  CapturedLog log;
  NetcdfFileCache cache(&log.log());
  // The field is read; placing it by its coordinates is refused (a cell-by-cell copy needs none).
  EXPECT_EQ(Read(cache, dir.file("flat.nc"), 0).cs, 0);
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("lonlat.nc"), 0); }), 22);
  EXPECT_NE(log.console().find("has the dimensions (time, lat, lon); expected (time, y, x) or (time, x, y)"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("flat2d.nc"), 0); }), 22);
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("shorty.nc"), 0); }), 22);
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("junk.nc"), 0); }), 22);
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("absent.nc"), 0); }), 26);
  EXPECT_NE(log.console().find("exception occured when reading from netCDF file " + dir.file("absent.nc") +
                               ". Internal message is: "),
            std::string::npos);
  // A netCDF-4 file of 20000 x 20000 cells that holds none of their data: the limit is named.
  MakeNetcdfFromCdl(dir, "huge.nc", "dimensions: t = 1 ; y = 20000 ; x = 20000 ;\nvariables: float huge(t, y, x) ;");
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("huge.nc"), 0); }), 22);
  EXPECT_NE(log.console().find("variable \"huge\" in netCDF file " + dir.file("huge.nc") +
                               " has 20000 columns and 20000 rows, 400000000 cells: more than the 268435456 cells"),
            std::string::npos)
      << log.console();
  // A record past the end of the axis.
  MakeNetcdfFromCdl(dir, "asc.nc", kAscendingYX);
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("asc.nc<v>2")); }), 26);
  EXPECT_NE(log.console().find("record 2 of variable \"v\" is outside its 2 records"), std::string::npos);
  // The module helper refuses a field without a usable cell size where one is needed.
  TestModule t(1, 1, 0, 0, 1);
  NetcdfGrid g;
  g.fileName = "nocs.nc";
  g.cellSize = -1;
  EXPECT_EQ(ThrownCode([&] { RequireNetcdfCellSize(t.module, g); }), 22);
}

TEST(NetcdfRead, CacheHoldsAtMostAThousandFiles) {
  // The cache keeps every file open: make sure the process may hold that many.
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 1200 && lim.rlim_max >= 1200) {
    lim.rlim_cur = 1200;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 1100) GTEST_SKIP() << "the process may not open 1100 files";
  TempDir dir;
  MakeNetcdfFromCdl(dir, "one.nc", R"(dimensions: t = 1 ; x = 1 ; y = 1 ;
variables: float v(t, x, y) ; data: v = 1 ;)",
                    "classic");
  for (int i = 0; i < 1000; ++i)
    std::filesystem::create_symlink(dir.file("one.nc"), dir.file("f" + std::to_string(i) + ".nc"));
  CapturedLog log;
  NetcdfFileCache cache(&log.log());
  for (int i = 0; i < 1000; ++i) Read(cache, dir.file("f" + std::to_string(i) + ".nc<v>0"));
  EXPECT_EQ(cache.OpenFileCount(), 1000u);
  Read(cache, dir.file("f0.nc<v>0"));  // known already: no new file
  EXPECT_EQ(ThrownCode([&] { Read(cache, dir.file("one.nc<v>0")); }), 1100);
  EXPECT_NE(log.console().find("more than 1000 different netCDF files can not be hold open at the same time"),
            std::string::npos);
}

// A netCDF grid of the basin's size copied onto it cell by cell (by a module without a
// georeference of its own) is refused only when its coordinates, in the basin's units and
// cell size, put it more than a cell away under every reading (centres, lower or upper
// edges); one resampled by its coordinates must cover the basin; each must hold numbers.
TEST(NetcdfRead, GridsMustLieOnTheBasinOrCoverItAndHoldNumbers) {
  enum Read { kDuringRun, kStartUp, kGeoreferenced };
  struct Case {
    std::string x, y, v;
    int code;
    const char* words;
    Read read = kDuringRun;
    std::string attributes = "";
  };
  const char* const kCopied = "is copied onto the basin cell by cell; its coordinates (";
  const Case cases[] = {
      {"1000, 1050, 1100", "2050, 2000", "1, 2, 3, 4, 5, 6", 0, ""},  // edges, as the writer gives them
      {"1025, 1075, 1125", "2025, 2075", "4, 5, 6, 1, 2, 3", 0, ""},  // centres, south to north
      {"1050, 1100, 1150", "2100, 2050", "1, 2, 3, 4, 5, 6", 0, ""},  // upper edges
      {"1100, 1150, 1200", "2050, 2000", "1, 2, 3, 4, 5, 6", 0, ""},  // a cell off as upper edges
      {"1000, 1050, 1100", "2000, 1950", "1, 2, 3, 4, 5, 6", 0, "", kStartUp},  // a cell off as lower edges
      {"1000, 1050, 1100", "2050, 2000", "1, 2, 3, 4, 5, NaNf", 0, ""},
      {"1000, 1050, 1100", "2050, 2000", "1, 2, 3, 4, 5, 6", 0, "", kGeoreferenced},
      // Coordinates that cannot be set against the basin's: copied, with a note.
      {"0, 1, 2", "1, 0", "1, 2, 3, 4, 5, 6", 0, "(x spaced 1, y spaced 1) are not in the basin's cells of 50"},
      {"1, 2, 3", "1, 2", "4, 5, 6, 1, 2, 3", 0, "(x spaced 1, y spaced 1)", kStartUp},
      {"8.5, 8.51, 8.52", "47.01, 47", "1, 2, 3, 4, 5, 6", 0, "(x spaced 0.01, y spaced 0.01)"},
      {"8.5, 8.51, 8.52", "47.01, 47", "1, 2, 3, 4, 5, 6", 0, "(x spaced 0.01, y spaced 0.01)", kDuringRun,
       "v:default_cellsize = 50. ;"},
      {"1000, 1050, 1100", "2025, 2000", "1, 2, 3, 4, 5, 6", 0, "(x spaced 50, y spaced 25)"},
      {"51000, 51100, 51200", "2050, 2000", "1, 2, 3, 4, 5, 6", 0, "(x spaced 100, y spaced 50)"},
      // Surely elsewhere.
      {"51000, 51050, 51100", "2050, 2000", "1, 2, 3, 4, 5, 6", 24,
       "does not lie on the basin's grid: lower-left corner 51000/2000 (the basin's is 1000/2000), more than a cell "
       "away whether its coordinates give the cells' centres, lower or upper edges"},
      {"51000, 51050, 51100", "2050, 2000", "1, 2, 3, 4, 5, 6", 24, "lower-left corner 51000/2000", kStartUp},
      {"1000, 1050, 1100", "1998, 1948", "1, 2, 3, 4, 5, 6", 24, "lower-left corner 1000/1948"},
      {"1102, 1152, 1202", "2050, 2000", "1, 2, 3, 4, 5, 6", 24, "lower-left corner 1102/2000"},
      {"51000, 51050, 51100", "2050, 2000", "1, 2, 3, 4, 5, 6", 24,
       "does not cover the basin: its cells span x 50975 to 51125, y 1975 to 2075, the lower-left corner of the "
       "basin's cell in row 1, column 1 lies at 1000/2050",
       kGeoreferenced},
      {"NaN, NaN, NaN", "2050, 2000", "1, 2, 3, 4, 5, 6", 22, "\"x\" in netCDF file @ holds nan at index 0"},
      {"1000, 1050, 1300", "2050, 2000", "1, 2, 3, 4, 5, 6", 22,
       "\"x\" in netCDF file @ is not evenly spaced from west to east: 1050 at index 1, 1300 at index 2"},
      {"1100, 1050, 1000", "2050, 2000", "1, 2, 3, 4, 5, 6", 22, "is not evenly spaced from west to east"},
      {"1000, 1050, 1100", "2050, 2000", "1, 2, 3, 4, 5, -Infinityf", 22,
       "variable \"v\" in netCDF file @ holds -inf in record 0 at column 3, row 2"},
      {"8.5, 8.51, 8.52", "47.01, 47", "1, 2, 3, 4, 5, 6", 22, "gives the cell size 0 (from", kGeoreferenced},
  };
  for (const Case& c : cases) {
    TestModule t(3, 2, 1000, 2000, 50);
    if (c.read == kGeoreferenced) t.module.SetPosition(0, 1000, 2000, 50);
    TempDir dir;
    const bool nan = c.v.find("NaN") != std::string::npos;
    MakeNetcdfFromCdl(dir, "g.nc", "dimensions: t = 1 ; y = 2 ; x = 3 ;\nvariables: double x(x) ; double y(y) ; "
                                   "float v(t, y, x) ; v:_FillValue = " + std::string(nan ? "NaNf" : "-9999.f") +
                                   " ; " + c.attributes + "\ndata: x = " + c.x + " ; y = " + c.y + " ; v = " + c.v +
                                   " ;");
    double** grid = nullptr;
    const std::string name = dir.file("g.nc") + "<v>0";
    EXPECT_EQ(ThrownCode([&] {
                if (c.read == kStartUp)
                  t.module.ReadGrid(name, grid, 0, true, false, false, 0);
                else
                  t.module.ReadBasinGrid(name, grid, 0, true, false, false, 0);
              }),
              c.code == 0 ? -1 : c.code)
        << c.x << " / " << c.y;
    std::string words = c.words;
    if (words.find('@') != std::string::npos) words.replace(words.find('@'), 1, dir.file("g.nc"));
    EXPECT_NE(t.log.console().find(words), std::string::npos) << words << "\n" << t.log.console();
    if (c.code == 0 && grid) {
      EXPECT_EQ(grid[1][1], 1.0);
      EXPECT_EQ(grid[2][3], nan ? -9999.0 : 6.0);
      t.module.FreeMatrix(grid);
    }
    // Only coordinates that cannot be compared are noted.
    EXPECT_EQ(t.log.console().find(kCopied) != std::string::npos, words.find("(x spaced") != std::string::npos)
        << t.log.console();
  }
}

// The note on coordinates that cannot be compared is given once per file, not at each step.
TEST(NetcdfRead, UncomparedCoordinatesAreNotedOncePerFile) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "deg.nc", R"(dimensions: time = 2 ; y = 2 ; x = 1 ;
variables: double time(time) ; double x(x) ; double y(y) ; float deg(time, y, x) ;
data: time = 0, 60 ; x = 8.5 ; y = 47.01, 47 ; deg = 1, 2, 3, 4 ;)");
  TestModule t(1, 2, 0, 0, 1000);
  double** grid = t.module.matrix(1, 2, 1, 1);
  for (int hour : {0, 1, 0}) {
    t.module.stepDate.year = 1970;
    t.module.stepDate.month = t.module.stepDate.day = 1;
    t.module.stepDate.hour = hour;
    t.module.stepDate.minute = 0;
    t.module.ReadBasinGrid(dir.file("deg.nc"), grid, 0, false, false, false, 0);
    EXPECT_EQ(grid[1][1], hour ? 3.0 : 1.0);
    EXPECT_EQ(grid[2][1], hour ? 4.0 : 2.0);
  }
  t.module.FreeMatrix(grid);
  const std::string log = t.log.console();
  const std::string note = "the netCDF grid " + dir.file("deg.nc") + " read by testmodule is copied";
  const size_t first = log.find(note);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(note, first + 1), std::string::npos) << log;
}

// An initial state takes the record of the latest time before the run's first step (the end
// of the step before it), whatever the order of the records, or the last record of a file
// without dates; a file with nothing before the first step holds no state for the run.
TEST(NetcdfRead, AnInitialStateIsTheLatestRecordBeforeTheFirstStep) {
  TempDir dir;
  MakeNetcdfFromCdl(dir, "state.nc", R"(dimensions: time = UNLIMITED ; y = 1 ; x = 2 ;
variables:
  double time(time) ; double y(y) ; double x(x) ;
  double state(time, y, x) ;
data:
  time = 60, 0, 120 ;
  y = 1000 ;
  x = 500, 525 ;
  state = 1, 1, 0, 0, 2, 2 ;)");
  NetcdfFileCache cache;
  // Minutes since 1 January 1970: the run starting with the step that ends at 2 h takes the
  // record of 1 h, the one starting at 1 h that of 0 h.
  EXPECT_EQ(Read(cache, dir.file("state.nc"), kInitialStateRecord, 1970, 1, 1, 2, 0).values,
            (std::vector<double>{1, 1}));
  EXPECT_EQ(Read(cache, dir.file("state.nc"), kInitialStateRecord, 1970, 1, 1, 1, 0).values,
            (std::vector<double>{0, 0}));
  EXPECT_EQ(Read(cache, dir.file("state.nc"), kInitialStateRecord, 1970, 1, 1, 3, 0).values,
            (std::vector<double>{2, 2}));
  EXPECT_THROW(Read(cache, dir.file("state.nc"), kInitialStateRecord, 1970, 1, 1, 0, 0), int);

  MakeNetcdfFromCdl(dir, "undated.nc", R"(dimensions: t = 3 ; x = 2 ; y = 1 ;
variables: double undated(t, x, y) ;
data: undated = 0,0, 1,1, 2,3 ;)");
  EXPECT_EQ(Read(cache, dir.file("undated.nc"), kInitialStateRecord, 1970, 1, 1, 2, 0).values,
            (std::vector<double>{2, 3}));
}
