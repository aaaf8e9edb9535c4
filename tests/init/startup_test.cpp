// The whole start-up on the small basin of the test data: the preprocessed copy, every
// step, the registered and written grids, and the failures of malformed input.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "init/terrain.h"
#include "init_harness.h"

namespace {

const std::string kBasin = std::string(ORVEL_TEST_DATA) + "/startup/";

// A copy of the basin whose control file names its grids in the copy's folder.
struct Basin {
  TempDir dir;
  Basin() {
    for (const char* f : {"basin.ctl", "zones.asc", "dem.asc"}) std::filesystem::copy_file(kBasin + f, dir.file(f));
    Edit("$set $dir = ./", "$set $dir = " + dir.path() + "/");
  }
  void Edit(const std::string& from, const std::string& to) {
    std::string text = ReadTextFile(control());
    const size_t p = text.find(from);
    ASSERT_NE(p, std::string::npos) << from;
    text.replace(p, from.size(), to);
    WriteTextFile(control(), text);
  }
  std::string control() const { return dir.file("basin.ctl"); }
};

// Runs the start-up until it is done or fails; returns the code (-1: done).
int RunStartup(InitHarness& h, int* calls = nullptr) {
  bool done = false;
  int n = 0;
  const int code = ThrownCode([&] {
    while (!done && n < 100) {
      h.d->InitStep(done);
      ++n;
    }
  });
  if (calls) *calls = n;
  return code;
}

TEST(Startup, EveryStepOnTheSmallBasin) {
  Basin b;
  InitHarness h(1, b.control());
  ASSERT_EQ(h.error, 0);
  int calls = 0;
  ASSERT_EQ(RunStartup(h, &calls), -1) << h.Console();
  EXPECT_EQ(calls, 24);
  EXPECT_TRUE(h.d->IsInitialised());
  defaultini& d = *h.d;

  // The copy: symbols replaced, remarks and "$set" lines gone.
  const std::string intern = ReadTextFile(b.control() + ".intern");
  EXPECT_EQ(d.controlFileName, b.control() + ".intern");
  EXPECT_EQ(intern.find("$"), std::string::npos);
  EXPECT_EQ(intern.find("#"), std::string::npos);
  EXPECT_NE(intern.find(b.dir.file("zones.asc") + "  "), std::string::npos) << intern;
  EXPECT_NE(intern.find("[model_time]\n0      \n1      \n1      \n2000  \n"), std::string::npos) << intern;

  // Settings, period, geometry, zones.
  EXPECT_EQ(d.run.outputInterval, 24);
  // No timestep key: the step is not known before station records are read; the stamps lie
  // 60 minutes before the ends of their steps.
  EXPECT_DOUBLE_EQ(d.output.timeStepMinutes, 0.0);
  EXPECT_DOUBLE_EQ(d.output.stampToStepEndHours, 1.0);
  EXPECT_TRUE(d.output.writeAsciiGrids);
  EXPECT_EQ(d.endDateKey, DateKey(2000, 1, 1, 23, 0));
  EXPECT_EQ(d.geometry.ncols, 8);
  EXPECT_EQ(d.geometry.nrows, 6);
  EXPECT_EQ(d.run.zoneCount, 3);
  EXPECT_EQ(d.run.zoneTable[2].cellCount, 12);
  EXPECT_EQ(d.rowBounds[4].first, 1);
  EXPECT_EQ(d.rowBounds[4].last, 7);
  EXPECT_DOUBLE_EQ(d.GetMaxElevation(), 1200 - 10 * 1 + 5 * 4);

  // Registered grids, each under its internal name.
  EXPECT_EQ(d.FindGrid("[zone_grid]"), 1);
  EXPECT_EQ(d.FindGrid("[elevation_model]"), 2);
  EXPECT_EQ(d.FindGrid("fixed_albedo"), 3);
  EXPECT_EQ(d.FindGrid("MPIRegions"), 4);
  EXPECT_EQ(d.FindGrid("MPIHelper"), 5);
  EXPECT_EQ(d.FindGrid("MPIHalo"), 6);
  const char* const derived[] = {"CellSizeX", "CellSizeY", "RelCellArea", "CoordX", "CoordY",
                                 "slope_angle", "slope_aspect", "regression_regions", "regression_weights1"};
  int expected = 7;
  for (const char* name : derived) EXPECT_EQ(d.FindGrid(name), expected++) << name;
  EXPECT_EQ(d.FindGrid("regression_regions2"), 0);
  EXPECT_EQ(d.standardGridCount, 4);  // the albedo grid and the three region grids

  double** albedo = d.GridData(3);
  EXPECT_DOUBLE_EQ(albedo[4][1], 0.2);
  EXPECT_EQ(albedo[1][1], -9999.0);

  // Slope and aspect of the plane (down to the east by 0.1 and to the north by 0.05).
  const double slope = std::atan(std::hypot(0.1, 0.05)) * kDegreesPerRadian;
  const double aspect = 90.0 - std::atan(0.5) * kDegreesPerRadian;
  for (int r = 1; r <= 6; ++r)
    for (int c = 1; c <= 8; ++c) {
      EXPECT_NEAR(d.slopeAngle[r][c], slope, 1e-9);
      EXPECT_NEAR(d.slopeAspect[r][c], aspect, 1e-9);
    }

  // Written once: the derived grids except the region grid made here.
  for (const char* f : {"zones.intern.rca", "zones.intern.csx", "zones.intern.csy", "zones.intern.cx",
                        "zones.intern.cy", "dem.intern.sl", "dem.intern.ex", "zones.intern.intern.w1"})
    EXPECT_TRUE(std::filesystem::exists(b.dir.file(f))) << f;
  EXPECT_FALSE(std::filesystem::exists(b.dir.file("zones.intern.r1")));
  std::string info;
  ASSERT_EQ(RunCommand("gdalinfo '" + b.dir.file("zones.intern.cx") + "'", &info), 0) << info;
  EXPECT_NE(info.find("Size is 8, 6"), std::string::npos) << info;
  EXPECT_NE(info.find("Origin = (1000.000000000000000,2600.000000000000000)"), std::string::npos) << info;

  const std::string log = h.Console();
  EXPECT_NE(log.find("ice-grid not found in memory (at position 14)"), std::string::npos) << log;
  EXPECT_NE(log.find("make_Slope_and_Aspect..."), std::string::npos);
  EXPECT_NE(log.find("make_nFK_kWert_and_Na..."), std::string::npos);
  EXPECT_EQ(log.find("check_irrig_Codes"), std::string::npos);

  // The hand-over.
  std::string working;
  RunValues v;
  EXPECT_EQ(d.GetInitValues(working, v), 0);
  EXPECT_EQ(working, b.control() + ".intern");
  EXPECT_EQ(v.outputList, (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(v.start.Key(), DateKey(2000, 1, 1, 0, 0));
  EXPECT_EQ(v.zoneCount, 3);
  EXPECT_EQ(v.standardGridCount, 4);
  EXPECT_EQ(v.instanceQuota, std::vector<long>{27});
  EXPECT_TRUE(d.run.outputList.empty());

  h.d.Release();
  EXPECT_EQ(d.FindGrid("[zone_grid]"), 0);
}

TEST(Startup, DerivedGridsNoReaderLookedUpAreGivenBackAndNoLongerFound) {
  Basin b;
  InitHarness h(1, b.control());
  ASSERT_EQ(h.error, 0);
  ASSERT_EQ(RunStartup(h), -1) << h.Console();
  defaultini& d = *h.d;
  ForgetGridLookUps(d.grids);
  const double x = d.GridData(d.FindGrid("CoordX"))[4][3];  // a reader of the coordinates
  d.RequireGridWhileBuilt("CellSizeX");                     // read while being built only
  const long long before = LiveMatrixBytes();
  const long long given = d.ReleaseUnreadGrids();
  EXPECT_EQ(before - LiveMatrixBytes(), given);
  // Cell sizes, CoordY, slope, aspect, MPIHelper and the regression grids: eight grids of 6
  // rows of 9 values, each now one row of 9.
  EXPECT_EQ(given, 8 * (6 * 9 - 9) * 8);
  EXPECT_EQ(d.GridData(d.FindGrid("CoordX"))[4][3], x);
  // A grid given back keeps its place: the searches go on past it to the grids behind.
  EXPECT_EQ(d.FindGrid("RelCellArea"), 9);
  EXPECT_DOUBLE_EQ(d.GridData(9)[4][3], 1.0);
  EXPECT_EQ(ThrownCode([&] { d.FindGrid("CellSizeY"); }), 33);
  EXPECT_EQ(ThrownCode([&] { d.RequireGrid("regression_weights1"); }), 33);
  EXPECT_NE(h.Console().find("the grid regression_weights1 was given back"), std::string::npos);
  EXPECT_EQ(d.ReleaseUnreadGrids(), 0);
}

TEST(Startup, ModeTwoSkipsTheSoilGrids) {
  Basin b;
  InitHarness h(2, b.control());
  ASSERT_EQ(RunStartup(h), -1) << h.Console();
  EXPECT_EQ(h.Console().find("make_nFK_kWert_and_Na..."), std::string::npos);
}

TEST(Startup, MalformedControlFilesAndGridsFail) {
  struct Case {
    std::string from, to;
    int code;
    std::string message;
  } cases[] = {
      {"[output_list]", "$nosuch\n[output_list]", 17, "undefined symbol at line 13:"},
      {"[coordinates]", "[coordinate]", 17, "[coordinates]; (EOF)not found!"},
      {"24      # output interval", "daily   # output interval", 17, "output control; not found!"},
      {"0       # start hour", "midnight", 17, "starting hour in ; defaultsnot found!"},
      {"[region_transition_distance]", "[no_distance]", 17, "[region_transition_distance]; (EOF)not found!"},
      {"$dir//dem.asc", "$dir//missing.asc", 21, "missing.asc"},
  };
  for (const Case& c : cases) {
    Basin b;
    b.Edit(c.from, c.to);
    InitHarness h(1, b.control());
    EXPECT_EQ(RunStartup(h), c.code) << c.to;
    EXPECT_NE(h.Console().find(c.message), std::string::npos) << c.to << "\n" << h.Console();
  }
}

// Grids are written into the output folder, a standard grid under its outname. (That no
// written grid lands on a file the run reads is checked when the whole run is built:
// tests/framework/run_files_test.cpp.)
TEST(Startup, GridsAreWrittenIntoTheOutputFolder) {
  const std::string listed =
      "2       # number of standard grids\n$dir//dem.asc  elevation  fillcode = 0  writecode = 8";
  auto withGrid = [&](Basin& b, const std::string& keys) {
    b.Edit("1       # number of standard grids", listed + keys + "\n");
  };
  {  // a relative outname lands in the output folder, as do relative derived names
    Basin b;
    std::filesystem::create_directory(b.dir.file("out"));
    withGrid(b, "  outname = dem_filled.asc");
    b.Edit("DefaultOutputDirectory = $dir", "DefaultOutputDirectory = " + b.dir.file("out") + "/");
    const std::string dem = ReadTextFile(b.dir.file("dem.asc"));
    InitHarness h(1, b.control());
    ASSERT_EQ(RunStartup(h), -1) << h.Console();
    EXPECT_EQ(ReadTextFile(b.dir.file("dem.asc")), dem);
    EXPECT_NE(ReadTextFile(b.dir.file("out/dem_filled.asc")).find("ncols\t8\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(b.dir.file("dem_filled.asc")));
    h.d->WriteGrid("relative.asc", h.d->GridData(2), true, false, false);
    EXPECT_TRUE(std::filesystem::exists(b.dir.file("out/relative.asc")));
    // The grids derived from the zone grid and the elevation model, named by an absolute path,
    // are named by their file names alone: into the output folder, nothing beside them.
    for (const char* f : {"zones.intern.rca", "zones.intern.cx", "dem.intern.sl"}) {
      EXPECT_TRUE(std::filesystem::exists(b.dir.file(std::string("out/") + f))) << f;
      EXPECT_FALSE(std::filesystem::exists(b.dir.file(f))) << f;
    }
  }
}

TEST(Startup, AMissingControlFileIsReportedWithTheSystemReason) {
  TempDir dir;
  InitHarness h(1, dir.file("absent.ctl"));
  EXPECT_EQ(RunStartup(h), 28);
  EXPECT_NE(h.Console().find("error opening " + dir.file("absent.ctl") + " (No such file or directory)"),
            std::string::npos)
      << h.Console();
}

TEST(Startup, GridsOfOtherGeometryOrBadZoneCodesFail) {
  {
    Basin b;
    WriteTextFile(b.dir.file("dem.asc"),
                  "ncols 7\nnrows 6\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n" +
                      std::string(6 * 14, ' '));
    InitHarness h(1, b.control());
    EXPECT_EQ(RunStartup(h), 22);
    EXPECT_NE(h.Console().find("does not have the geometry of the zone grid"), std::string::npos) << h.Console();
  }
  for (const char* code : {"40000", "-5"}) {
    Basin b;
    std::string zones = ReadTextFile(b.dir.file("zones.asc"));
    zones.replace(zones.find("3 3 1 2"), 1, code);
    WriteTextFile(b.dir.file("zones.asc"), zones);
    InitHarness h(1, b.control());
    EXPECT_EQ(RunStartup(h), 3) << code;
    EXPECT_NE(h.Console().find("invalid zone code in"), std::string::npos) << h.Console();
  }
}

}  // namespace
