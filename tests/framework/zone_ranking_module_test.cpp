// The module zone ranking over the grid registry.
#include <gtest/gtest.h>

#include "framework/teilmod.h"
#include "framework/zone_ranking.h"
#include "grids/grid_registry.h"
#include "support/test_support.h"

namespace {

struct RankingModule {
  TempDir dir;
  CapturedLog log;
  int zoneCodes[2] = {0, 1};
  GridRegistry registry;
  MatrixOwner subbasins{2, 2};
  ModuleInputs in;

  RankingModule() {
    WriteTextFile(dir.file("run.ctl"), "[soil_model]\n1\n60\n");
    in.log = &log.log();
    in.controlFileName = dir.file("run.ctl");
    in.zoneCodeMap = zoneCodes;
    in.grids = registry.Records();
    in.geometry.ncols = 2;
    in.geometry.nrows = 2;
    in.geometry.cellsize = 1000;
    subbasins[1][1] = 20;
    subbasins[1][2] = 10;
    subbasins[2][1] = -9999;
    subbasins[2][2] = 20;
  }
};

}  // namespace

TEST(ZoneRankingModule, RanksTheRegisteredSubbasinGrid) {
  RankingModule f;
  teilmodellklasse m(f.in, "soil_model", 1, SectionRequirement::Required);
  m.RegisterGrid(1, "subbasins.asc", f.subbasins.get(), nullptr, 0, "zonegrid_soilmodel", 0, 1, 2);
  double** grid = nullptr;
  std::vector<ZoneTableEntry> table;
  std::vector<int> map;
  int zones = 0, largest = 0;
  m.RankZones(grid, table, map, zones, largest);
  EXPECT_EQ(grid, f.subbasins.get());
  EXPECT_EQ(zones, 2);
  EXPECT_EQ(largest, 20);
  EXPECT_EQ(map[10], 1);
  EXPECT_EQ(map[20], 2);
  EXPECT_DOUBLE_EQ(table[2].fraction, 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(table[0].fraction, 3.0);  // km²
  EXPECT_NE(f.log.console().find("ranking zones from subbasins.asc for soil_model"), std::string::npos);

  // another instance gets only the grid
  m.instanceNumber = 1;
  m.RankZones(grid, table, map, zones, largest);
  EXPECT_EQ(grid, f.subbasins.get());
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(zones, 0);
}

TEST(ZoneRankingModule, MissingGridEndsTheRun) {
  RankingModule f;
  teilmodellklasse m(f.in, "soil_model", 1, SectionRequirement::Required);
  double** grid = nullptr;
  std::vector<ZoneTableEntry> table;
  std::vector<int> map;
  int zones = 0, largest = 0;
  int code = 0;
  try {
    m.RankZones(grid, table, map, zones, largest);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 33);
}
