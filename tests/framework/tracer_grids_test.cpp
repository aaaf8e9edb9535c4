// A module's tracer grids: decay factor, statistics writer, registered storage and flux
// grids, and their release.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>

#include "framework/teilmod.h"
#include "framework/tracer_grids.h"
#include "grids/grid_registry.h"
#include "support/test_support.h"

namespace {

// A 3 x 2 basin whose zone grid (registry position 1) has one no-data cell, and a module
// "snow_model" with the given time interval over rows 1..2.
struct TracerModule {
  TempDir dir;
  CapturedLog log;
  int zoneCodes[2] = {0, 1};
  ZoneTableEntry zones[2];
  GridRegistry registry;
  MatrixOwner zoneGrid{3, 2};
  std::vector<StatisticsTableEntry> statistics = std::vector<StatisticsTableEntry>(50);
  std::vector<TracerRecord> tracers = std::vector<TracerRecord>(3);
  ModuleInputs in;
  std::unique_ptr<teilmodellklasse> m;

  explicit TracerModule(int interval, int readInitialGrids = 0) {
    WriteTextFile(dir.file("run.ctl"), "[snow_model]\n1\n" + std::to_string(interval) + "\n");
    in.log = &log.log();
    in.controlFileName = dir.file("run.ctl");
    in.zoneCodeMap = zoneCodes;
    zones[0].code = 1.0;
    zones[0].fraction = 5.0;
    zones[1].code = 1.0;
    zones[1].fraction = 1.0;
    zones[1].areaSum = 7.0;
    in.zoneTable = zones;
    in.zoneCount = 1;
    in.maxZoneCode = 1;
    in.grids = registry.Records();
    in.geometry.ncols = 2;
    in.geometry.nrows = 3;
    in.geometry.cellsize = 1000;
    in.firstRow = 1;
    in.lastRow = 2;
    in.output.defaultOutputDirectory = dir.path() + "/";
    in.output.inputDirectory = dir.path() + "/";
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 2; ++c) zoneGrid[r][c] = 1.0;
    zoneGrid[1][2] = -9999.0;
    m = std::make_unique<teilmodellklasse>(in, "snow_model", 1, SectionRequirement::Required);
    m->RegisterGrid(1, "zones.asc", zoneGrid.get(), nullptr, 0, "zonegrid", 0, 1, 3);
    m->zoneGrid = zoneGrid.get();
    m->readInitialGrids = readInitialGrids;
    const char* names[] = {"", "Chloride", "Iodine-131"};
    for (int i = 1; i <= 2; ++i) {
      tracers[i].key = names[i];
      tracers[i].key = tracers[i].key.substr(0, 3);
      for (char& ch : tracers[i].key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      tracers[i].statcode = 1001;
      tracers[i].gridcode = 11;
      tracers[i].statext = "sta";
      tracers[i].gridext = "grd";
    }
    tracers[2].radioactive = 1;
    tracers[2].halfTime = 8.02;
  }
  ~TracerModule() {
    if (m) m->DeleteTracers();
  }
  int Init(int count) {
    int error = -1;
    try {
      m->InitTracers(error, count, tracers.data(), statistics.data(), 49);
    } catch (int code) {
      EXPECT_EQ(code, error);
    }
    return error;
  }
};

}  // namespace

TEST(TracerGrids, DecayFactorAndFileNames) {
  EXPECT_NEAR(TracerDecayFactor(1440, 8.02), std::pow(0.5, 1 / 8.02), 1e-9);
  EXPECT_NEAR(TracerDecayFactor(60, 1.0), std::pow(0.5, 1 / 24.0), 1e-9);
  EXPECT_EQ(TracerFileName("./out/", "chl", "snow_model", "grd"), "./out/chlsnow_.grd");
  EXPECT_EQ(TracerFileName("", "o2", "soil", "stats"), "o2soil.sta");

  TracerModule f(1440);
  f.tracers[1].decayFactor = 0.25;
  ASSERT_EQ(f.Init(2), 0) << f.log.console();
  EXPECT_EQ(f.tracers[1].decayFactor, 0.25);  // not radioactive: untouched
  EXPECT_NEAR(f.tracers[2].decayFactor, std::pow(0.5, 1 / 8.02), 1e-9);
}

TEST(TracerGrids, StorageAndFluxGridsPerTracer) {
  TracerModule f(1440);
  ASSERT_EQ(f.Init(2), 0) << f.log.console();
  GridRecord* g = f.registry.Records();
  const char* expected[] = {"concstor_tracer_1_snow_model", "concflux_tracer_1_snow_model",
                            "concstor_tracer_2_snow_model", "concflux_tracer_2_snow_model"};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(g[2 + k].internalName, expected[k]);
  EXPECT_EQ(g[2].fileName, "chlsnow_.grd");
  EXPECT_EQ(g[4].fileName, "iodsnow_.grd");
  EXPECT_EQ(g[2].units, 1);  // gridcode 11
  EXPECT_EQ(g[3].units, 0);  // the flux grid is never written
  EXPECT_EQ(g[3].tens, 0);

  const ModuleTracer& t = f.m->moduleTracers[1];
  EXPECT_EQ(t.storagePosition, 2);
  EXPECT_EQ(t.fluxPosition, 3);
  EXPECT_EQ(g[2].data, t.storage.get());
  // module rows: no-data where the zone grid has it; rows outside the module stay 0
  EXPECT_EQ(t.storage[1][1], 0.0);
  EXPECT_EQ(t.storage[1][2], -9999.0);
  EXPECT_EQ(t.storage[2][2], 0.0);
  EXPECT_EQ(t.flux[1][2], 0.0);
  // its own zone table: codes and fractions, sums 0
  EXPECT_EQ(t.zones[1].code, 1.0);
  EXPECT_EQ(t.zones[1].fraction, 1.0);
  EXPECT_EQ(t.zones[1].areaSum, 0.0);

  f.m->DeleteTracers();
  for (int k = 2; k <= 5; ++k) EXPECT_TRUE(g[k].internalName.empty()) << k;
  EXPECT_TRUE(f.m->moduleTracers.empty());
  EXPECT_EQ(f.m->tracerCount, 0);
  EXPECT_EQ(g[1].internalName, "zonegrid");
}

TEST(TracerGrids, StatisticsHeaderAndMinuteColumn) {
  for (int interval : {60, 30}) {
    TracerModule f(interval);
    ASSERT_EQ(f.Init(1), 0) << f.log.console();
    f.m->DeleteTracers();
    const std::string text = ReadTextFile(f.dir.file("chlsnow_.sta"));
    EXPECT_NE(text.find("tracer concentration for tracer 1 (chl) "), std::string::npos) << text;
    EXPECT_NE(text.find("snow_model"), std::string::npos);
    EXPECT_EQ(text.find("\tmm") != std::string::npos, interval == 30) << interval;
  }
}

TEST(TracerGrids, CountZeroCreatesNothing) {
  TracerModule f(60);
  EXPECT_EQ(f.Init(0), 0);
  EXPECT_TRUE(f.m->moduleTracers.empty());
  EXPECT_TRUE(f.registry.Records()[2].internalName.empty());
  f.m->DeleteTracers();
}

TEST(TracerGrids, InitialGridsAreRead) {
  TracerModule f(60, 1);
  WriteTextFile(f.dir.file("chlsnow_.grd"),
                "ncols 2\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1000\nNODATA_value -9999\n"
                "1 2\n3 4\n5 6\n");
  ASSERT_EQ(f.Init(1), 0) << f.log.console();
  EXPECT_EQ(f.m->moduleTracers[1].storage[3][2], 6.0);
  EXPECT_EQ(f.registry.Records()[2].units, 1);

  TracerModule missing(60, 1);
  int code = 0;
  int error = -1;
  try {
    missing.m->InitTracers(error, 1, missing.tracers.data(), missing.statistics.data(), 49);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 21);  // the grid reader's missing file
}

TEST(TracerGrids, NoFreeGridLeft) {
  TracerModule f(60);
  GridRecord* g = f.registry.Records();
  for (int p = 2; p <= kMaxGridPosition; ++p)
    f.m->RegisterGrid(p, "x", f.zoneGrid.get(), nullptr, 0, "x" + std::to_string(p), 0, 1, 3);
  EXPECT_EQ(f.Init(1), 12);
  EXPECT_NE(f.log.console().find("no free grid left. Please contact the author to set the number of "
                                 "available grids to a larger value 1000"),
            std::string::npos);
  for (int p = 2; p <= kMaxGridPosition; ++p) f.m->FreeGrid(p);
  EXPECT_TRUE(g[2].internalName.empty());
}
