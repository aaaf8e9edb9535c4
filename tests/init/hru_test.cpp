// Response units from [SpinUp]: classification, renumbering, the master cells and the copy
// of master values to the other cells of a unit.
#include <gtest/gtest.h>

#include <filesystem>

#include "init_harness.h"

namespace {

constexpr double N = -9999.0;

struct SpinUp {
  int spinUp = -1, preSpinUp = -1, repeat = -1;
  std::unique_ptr<HruList> list;
};

SpinUp RunSpinUp(InitHarness& h, const std::string& control) {
  const std::string file = h.dir.file("run.ctl.intern");
  WriteTextFile(file, control);
  h.d->controlFileName = file;
  h.d->output.outputDirectory = h.dir.path() + "/";
  h.d->output.writeAsciiGrids = true;
  SpinUp s;
  h.d->CreateHRUs(s.spinUp, s.preSpinUp, s.repeat, s.list);
  return s;
}

double** Grid(InitHarness& h, const char* name) {
  const int p = h.d->FindGrid(name);
  return p ? h.d->GridData(p) : nullptr;
}

bool Written(const InitHarness& h, const std::string& stem) {
  for (const auto& e : std::filesystem::directory_iterator(h.dir.path()))
    if (e.path().filename().string().rfind(stem, 0) == 0) return true;
  return false;
}

TEST(HruClass, PlainAndSquareRootSpacing) {
  EXPECT_EQ(HruClass(1234.5, 100.0, false), 12.0);
  EXPECT_EQ(HruClass(1299.0, 100.0, false), 12.0);
  EXPECT_EQ(HruClass(1300.0, 100.0, false), 13.0);
  EXPECT_EQ(HruClass(-16.0, 1.0, true), 4.0);
  EXPECT_EQ(HruClass(-50.0, 100.0, false), -1.0);
  std::string name;
  AppendHruClass(name, 12.0);
  AppendHruClass(name, 3.0);
  AppendHruClass(name, 9999.0);
  EXPECT_EQ(name, "0012'0003'9999'");
}

TEST(CreateHRUs, WithoutSectionOrSwitchOffNothingIsMade) {
  for (const char* control : {"[model_time]\n1\n", "[SpinUp]\n0  # off\n1\n2\n1\n"}) {
    InitHarness h;
    h.Domain(2, 1);
    h.AllBasin();
    SpinUp s = RunSpinUp(h, control);
    EXPECT_EQ(s.spinUp, 0);
    EXPECT_EQ(s.preSpinUp, 0);
    EXPECT_EQ(s.repeat, 0);
    ASSERT_TRUE(s.list);
    EXPECT_EQ(s.list->size(), 1u);
    EXPECT_EQ(h.d->FindGrid("HydrologicResponseUnits"), 0);
    EXPECT_EQ(h.d->FindGrid("MasterHydrologicResponseUnits"), 0);
  }
}

TEST(CreateHRUs, ClassesOfTwoGridsMakeUnitsWithOneMasterEach) {
  InitHarness h;
  h.Domain(4, 2);
  h.Put(1, "[zone_grid]", {{1, 1, 1, 1}, {1, 1, 1, N}});
  h.d->RankZones(nullptr);
  h.Put(2, "[elevation_model]", {{1234.5, 1299, 1300, N}, {1250, 1210, 1300, 1300}});
  h.Put(3, "landuse", {{2, 2, 2, 5}, {N, 3, 2, 2}});
  const int before = h.d->standardGridCount;
  SpinUp s = RunSpinUp(h, "[SpinUp]\n1 switch\n1 pre\n3 repeat\n2 grids\n"
                    "elevation_model 100 linear\nlanduse 1 linear\n");
  EXPECT_EQ(s.spinUp, 1);
  EXPECT_EQ(s.preSpinUp, 1);
  EXPECT_EQ(s.repeat, 3);
  EXPECT_EQ(h.d->standardGridCount, before + 2);
  double** hru = Grid(h, "HydrologicResponseUnits");
  double** master = Grid(h, "MasterHydrologicResponseUnits");
  ASSERT_TRUE(hru && master);
  const HruList& l = *s.list;
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0].number, 0u);
  EXPECT_EQ(l[0].name, "");
  EXPECT_EQ(l[1].name, "0012'0002'");
  EXPECT_EQ(l[2].name, "0013'0002'");
  EXPECT_EQ(l[3].name, "0012'");  // landuse missing: classified by the elevation alone
  EXPECT_EQ(l[4].name, "0012'0003'");
  EXPECT_EQ(l[4].row, 2);
  EXPECT_EQ(l[4].column, 2);
  const double hruWant[2][4] = {{1, 1, 2, N}, {3, 4, 2, N}};
  const double masterWant[2][4] = {{1, N, 2, N}, {3, 4, N, N}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 4; ++c) {
      EXPECT_EQ(hru[r][c], hruWant[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(master[r][c], masterWant[r - 1][c - 1]) << r << "," << c;
    }
  EXPECT_TRUE(Written(h, "All_HydrologicResponseUnits"));
  EXPECT_TRUE(Written(h, "Master_HydrologicResponseUnits"));
}

TEST(CreateHRUs, CellsOfOtherRegionsStayOutside) {
  InitHarness h;
  h.Domain(3, 1);
  h.AllBasin();
  h.Put(2, "[elevation_model]", {{10, 10, 10}});
  h.Put(3, "MPIRegions", {{0, 1, 0}});
  SpinUp s = RunSpinUp(h, "[SpinUp]\n1\n0\n1\n1\n[elevation_model] 100 sqrt\n");
  double** hru = Grid(h, "HydrologicResponseUnits");
  ASSERT_TRUE(hru);
  EXPECT_EQ(hru[1][1], 1);
  EXPECT_EQ(hru[1][2], N);
  EXPECT_EQ(hru[1][3], 1);
  EXPECT_EQ(s.list->size(), 2u);
}

TEST(CreateHRUs, ClassLimitAndBadDefinitions) {
  struct Case {
    const char* control;
    double value;
    int code;
  } cases[] = {
      {"[SpinUp]\n1\n0\n1\n1\nelevation_model 1 linear\n", 9999.5, -1},
      {"[SpinUp]\n1\n0\n1\n1\nelevation_model 1 linear\n", 10000.0, 1031},
      {"[SpinUp]\n1\n0\n1\n1\nelevation_model 0 linear\n", 5.0, 17},
      {"[SpinUp]\n1\n0\n1\n1\nelevation_model 100\n", 5.0, 17},
      {"[SpinUp]\n1\n0\nx\n1\n", 5.0, 17},
      {"[SpinUp]\n1\n0\n1\n1\nno_such_grid 1 linear\n", 5.0, 33},
      {"[SpinUp]\n1\n0\n1\n0\n", 5.0, 1030},
  };
  for (const Case& k : cases) {
    InitHarness h;
    h.Domain(1, 1);
    h.AllBasin();
    h.Put(2, "[elevation_model]", {{k.value}});
    EXPECT_EQ(ThrownCode([&] { RunSpinUp(h, k.control); }), k.code) << k.control << " " << k.value;
  }
  InitHarness h;
  h.Domain(1, 1);
  h.d->controlFileName = h.dir.file("missing.ctl");
  int a, b, c;
  std::unique_ptr<HruList> l;
  EXPECT_EQ(ThrownCode([&] { h.d->CreateHRUs(a, b, c, l); }), 28);
}

TEST(CreateHRUs, GivenUnitGridIsRenumberedInCellOrder) {
  InitHarness h;
  h.Domain(4, 1);
  h.AllBasin();
  h.Put(2, "HydrologicResponseUnits", {{7, 3, 7, N}});
  SpinUp s;
  const int code = ThrownCode([&] { s = RunSpinUp(h, "[SpinUp]\n1\n0\n2\n0\n"); });
  ASSERT_EQ(code, -1) << h.Console();
  double** hru = Grid(h, "HydrologicResponseUnits");
  double** master = Grid(h, "MasterHydrologicResponseUnits");
  ASSERT_TRUE(hru && master);
  EXPECT_EQ(hru[1][1], 1);
  EXPECT_EQ(hru[1][2], 2);
  EXPECT_EQ(hru[1][3], 1);
  EXPECT_EQ(hru[1][4], N);  // a cell without a unit forms none
  EXPECT_EQ(master[1][1], 1);
  EXPECT_EQ(master[1][2], 2);
  EXPECT_EQ(master[1][3], N);
  EXPECT_EQ(master[1][4], N);
  ASSERT_EQ(s.list->size(), 3u);
  EXPECT_EQ((*s.list)[1].name, "7");
  EXPECT_EQ((*s.list)[2].name, "3");
}

TEST(CopyFromHruMasters, OtherCellsTakeTheirMastersValue) {
  InitHarness h;
  h.Domain(4, 2);
  double** zone = h.Put(1, "[zone_grid]", {{1, 1, 1, 1}, {1, 1, N, 1}});
  double** regions = h.Put(2, "MPIRegions", {{0, 0, 0, 0}, {0, 0, 0, 1}});
  double** hru = h.Put(3, "hru", {{1, 2, 1, 2}, {2, 9, 1, 1}});
  double** master = h.Put(4, "master", {{1, 2, N, N}, {N, N, N, N}});
  double** grid = h.Put(5, "values", {{10, 20, N, N}, {N, 5, N, N}});
  HruCellScope scope;
  scope.geometry = &h.d->geometry;
  scope.zone = zone;
  scope.regions = regions;
  const std::vector<HruRecord> masters = MasterCellsFromGrid(master, scope);
  ASSERT_EQ(masters.size(), 3u);
  EXPECT_EQ(masters[2].row, 1);
  EXPECT_EQ(masters[2].column, 2);
  CopyFromHruMasters(grid, hru, master, masters, scope);
  EXPECT_EQ(grid[1][3], 10);
  EXPECT_EQ(grid[1][4], 20);
  EXPECT_EQ(grid[2][1], 20);
  EXPECT_EQ(grid[2][2], 5);  // unit 9 is not listed: left as it is
  EXPECT_EQ(grid[2][3], N);  // outside the basin
  EXPECT_EQ(grid[2][4], N);  // another region's cell
}

}  // namespace
