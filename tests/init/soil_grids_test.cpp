// Land-use layer grids and the soil grids derived from the soil-type grid.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "grids/grid_registry.h"
#include "init/init_harness.h"

namespace {

const double N = -9999.0;

struct SoilBasin : InitHarness {
  SoilBasin() {
    Domain(3, 2);
    Put(1, "[zone_grid]", {{1, 1, N}, {1, 1, N}});
    d->RankZones(nullptr);
  }
};

}  // namespace

TEST(LanduseLayerGrids, OneCodeGridPerLayerWithMissingLayersAsMinus9999) {
  SoilBasin b;
  b.d->multiLayerTable.assign(3, MultiLayerLanduseEntry(2));
  auto& t = b.d->multiLayerTable;
  t[1] = MultiLayerLanduseEntry(100);
  t[1].layerCount = 3;
  t[1].layerCodes = {0, 4, 5, 6};
  t[2] = MultiLayerLanduseEntry(200);
  t[2].layerCount = 2;
  t[2].layerCodes = {0, 7, 8};
  b.Put(2, "landuse", {{1, 2, 1}, {2, 1, N}});  // codes already replaced by rows
  b.d->MakeLanduseLayerGrids();
  ASSERT_EQ(b.d->landuseLayerGrids.size(), 4u);
  for (int k = 1; k <= 3; ++k) EXPECT_GT(b.d->FindGrid("landuse" + std::to_string(k)), 0) << k;
  double** l1 = b.d->landuseLayerGrids[1];
  double** l3 = b.d->landuseLayerGrids[3];
  EXPECT_EQ(l1[1][1], 4.0);
  EXPECT_EQ(l1[1][2], 7.0);
  EXPECT_EQ(l1[1][3], N);  // outside the basin
  EXPECT_EQ(l3[1][1], 6.0);
  EXPECT_EQ(l3[1][2], N);  // the type has two layers only
  EXPECT_EQ(b.d->GridFileName(b.d->FindGrid("landuse2")), "landuse2");
  // A re-read land-use grid sets the layers anew.
  b.d->landuseLayerGrids[0][1][1] = 2.0;
  b.d->FillLanduseLayerGrids();
  EXPECT_EQ(l1[1][1], 7.0);
  EXPECT_EQ(l3[1][1], N);
}

TEST(SoilGrids, ValuesFromTheSoilRowsAndNodataOutsideTheBasin) {
  SoilBasin b;
  b.d->soilTable.assign(3, SoilTableEntry(2));
  auto& t = b.d->soilTable;
  t[1].FCap = 15.0;
  t[1].mSB = 40.0;
  t[1].ksat_vevurada = 1e-5;
  t[2].FCap = 20.0;
  t[2].mSB = 30.0;
  t[2].ksat_vevurada = 2e-6;
  b.Put(2, "soil_types", {{1, 2, 1}, {2, 1, N}}, b.dir.file("soil.asc"));
  b.Put(3, "root_depth1", {{0.5, 1.0, N}, {2.0, 0.1, N}});
  b.d->make_nFK_kWert_and_Na();
  const int fk = b.d->FindGrid("available_soil_moisture");
  const int k = b.d->FindGrid("hydraulic_conductivity");
  const int na = b.d->FindGrid("fillable_porosity");
  ASSERT_GT(fk, 0);
  ASSERT_GT(k, 0);
  ASSERT_GT(na, 0);
  EXPECT_EQ(b.d->GridFileName(fk), "soil.intern.fk");
  EXPECT_EQ(b.d->GridFileName(k), "soil.intern.k");
  double** gfk = b.d->GridData(fk);
  double** gk = b.d->GridData(k);
  double** gna = b.d->GridData(na);
  EXPECT_DOUBLE_EQ(gfk[1][1], 15.0 * 0.5 * 10.0);
  EXPECT_DOUBLE_EQ(gfk[2][1], 20.0 * 2.0 * 10.0);
  EXPECT_DOUBLE_EQ(gk[1][2], 2e-6);
  EXPECT_DOUBLE_EQ(gna[2][2], 0.4);
  for (double** g : {gfk, gk, gna}) {
    EXPECT_EQ(g[1][3], N);  // beyond the row's last basin column: nodata, not 0
    EXPECT_EQ(g[2][3], N);
  }
}

TEST(SoilGrids, ASuppliedGridIsKeptAndTheOthersAreDerived) {
  SoilBasin b;
  b.d->soilTable.assign(2, SoilTableEntry(1));
  b.d->soilTable[1].ksat_vevurada = 3.0;
  b.d->soilTable[1].mSB = 50.0;
  b.Put(2, "soil_types", {{1, 1, N}, {1, 1, N}}, b.dir.file("soil.asc"));
  double** supplied = b.Put(3, "hydraulic_conductivity", b.Filled(7.0));
  b.Put(4, "root_depth1", b.Filled(1.0));
  b.d->make_nFK_kWert_and_Na();
  EXPECT_EQ(b.d->FindGrid("hydraulic_conductivity"), 3);
  EXPECT_EQ(supplied[1][1], 7.0);
  EXPECT_EQ(b.d->hydraulicConductivity, supplied);
  EXPECT_DOUBLE_EQ(b.d->GridData(b.d->FindGrid("fillable_porosity"))[1][1], 0.5);

  // Without a root-depth grid the available soil moisture cannot be derived.
  SoilBasin noRoots;
  noRoots.d->soilTable.assign(2, SoilTableEntry(1));
  noRoots.Put(2, "soil_types", {{1, 1, N}, {1, 1, N}});
  EXPECT_EQ(ThrownCode([&] { noRoots.d->make_nFK_kWert_and_Na(); }), 33);
  // Without a soil-type grid nothing is made.
  SoilBasin none;
  none.d->make_nFK_kWert_and_Na();
  EXPECT_EQ(none.d->FindGrid("fillable_porosity"), 0);
}

namespace {

const std::string kStartupBasin = std::string(ORVEL_TEST_DATA) + "/startup/";

// The start-up of the small test basin in dir, with edits of its control file and text
// appended to it; fails the test unless every step runs.
std::unique_ptr<InitHarness> StartUp(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& edits,
                                     const std::string& appended = "") {
  for (const char* f : {"basin.ctl", "zones.asc", "dem.asc"})
    std::filesystem::copy_file(kStartupBasin + f, dir.file(f));
  std::string text = ReadTextFile(dir.file("basin.ctl"));
  for (const auto& [from, to] : edits) {
    const size_t p = text.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    if (p != std::string::npos) text.replace(p, from.size(), to);
  }
  WriteTextFile(dir.file("basin.ctl"), text + appended);
  auto h = std::make_unique<InitHarness>(1, dir.file("basin.ctl"));
  EXPECT_EQ(h->error, 0);
  bool done = false;
  EXPECT_EQ(ThrownCode([&] {
              for (int n = 0; n < 100 && !done; ++n) h->d->InitStep(done);
            }),
            -1)
      << h->Console();
  return h;
}

}  // namespace

TEST(SoilGrids, StartupChecksTheSoilCodesAndDerivesTheGridsFromTheReplacedRows) {
  TempDir dir;
  auto harness = StartUp(dir, {{"$set $dir = ./", "$set $dir = " + dir.path() + "/"},
                               {"1       # number of standard grids\n",
                                "3       # number of standard grids\n"
                                "$dir//soil.asc  soil_types  fillcode = 0  readcode = 0  defaultValue = 7\n"
                                "$dir//roots.asc  root_depth1  fillcode = 0  readcode = 0  defaultValue = 0.5\n"},
                               {"1 loam 25 35 1e-5", "7 loam 25 35 1e-5"}});
  InitHarness& h = *harness;
  defaultini& d = *h.d;
  double** soil = d.GridData(d.FindGrid("soil_types"));
  ASSERT_NE(soil, nullptr);
  EXPECT_EQ(soil[4][1], 1.0);  // code 7 is row 1
  EXPECT_NE(h.Console().find("7 replaced by 1 ..."), std::string::npos) << h.Console();
  double** fk = d.GridData(d.FindGrid("available_soil_moisture"));
  ASSERT_NE(fk, nullptr);
  EXPECT_DOUBLE_EQ(fk[4][1], 25.0 * 0.5 * 10.0);
  EXPECT_EQ(fk[1][1], -9999.0);
  EXPECT_DOUBLE_EQ(d.GridData(d.FindGrid("fillable_porosity"))[4][1], 0.35);
  EXPECT_DOUBLE_EQ(d.GridData(d.FindGrid("hydraulic_conductivity"))[4][1], 1e-5);
  for (const char* f : {"soil.intern.fk", "soil.intern.k", "soil.intern.na"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(f))) << f;
}

// The most common set-up: one land-use grid and no multilayer table. The grid becomes the
// only layer and the per-layer parameter grids are made, so the soil grids can use the root
// depth of layer 1.
TEST(SoilGrids, OneLanduseLayerWithoutMultilayerTableMakesTheParameterGrids) {
  TempDir dir;
  auto harness = StartUp(
      dir,
      {{"$set $dir = ./", "$set $dir = " + dir.path() + "/"},
       {"1       # number of standard grids\n$dir//albedo.asc  fixed_albedo",
        "3       # number of standard grids\n"
        "$dir//soil.asc  soil_types  fillcode = 0  readcode = 0  defaultValue = 1\n"
        "$dir//landuse.asc  landuse  fillcode = 0  readcode = 0  defaultValue = 5\n"
        "$dir//albedo.asc  albedo"}},
      "\n[landuse_table]\n1\n5 conifer_forest 0.12 70 70 70 65 60 55 55 55 60 65 70 70 110 150 250 280 6 7 7 6 "
      "1.2 1.2 1.2 1.2 0.9 0.9 0.9 0.9 1.0 1.0 1.0 1.0\n");
  InitHarness& h = *harness;
  defaultini& d = *h.d;
  EXPECT_EQ(d.landuseLayerCount, 1);
  EXPECT_GT(d.FindGrid("landuse1"), 0);
  const int roots = d.FindGrid("root_depth1");
  ASSERT_GT(roots, 0) << h.Console();
  double** rootDepth = d.GridData(roots);
  EXPECT_DOUBLE_EQ(rootDepth[4][1], 1.0);  // the row's root depth on 1 January
  double** fk = d.GridData(d.FindGrid("available_soil_moisture"));
  ASSERT_NE(fk, nullptr);
  EXPECT_DOUBLE_EQ(fk[4][1], 25.0 * rootDepth[4][1] * 10.0);
  EXPECT_EQ(fk[1][1], -9999.0);
}
