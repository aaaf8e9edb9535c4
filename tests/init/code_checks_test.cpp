// Code checks of the land-use, soil-type and irrigation grids on small hand-made grids and
// tables: codes must have a table row and become row numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "init/init_harness.h"

namespace {

const double N = -9999.0;

// 2 x 3 domain; the right column lies outside the basin.
struct CodeBasin : InitHarness {
  CodeBasin() {
    Domain(3, 2);
    Put(1, "[zone_grid]", {{1, 1, N}, {1, 1, N}});
  }
  void SoilTable(const std::vector<int>& codes) {
    d->soilTable.assign(1, SoilTableEntry(static_cast<int32_t>(codes.size())));
    for (int c : codes) d->soilTable.emplace_back(c);
  }
  void LanduseTable(const std::vector<int>& codes) {
    d->landuseTable.assign(1, LanduseTableEntry(static_cast<int>(codes.size())));
    for (int c : codes) d->landuseTable.emplace_back(c);
  }
  // Multilayer rows: code and layer codes of each row.
  void MultiLayer(const std::vector<std::pair<int, std::vector<int>>>& rows) {
    d->multiLayerTable.assign(1, MultiLayerLanduseEntry(static_cast<int32_t>(rows.size())));
    for (const auto& row : rows) {
      MultiLayerLanduseEntry e(row.first);
      e.layerCount = static_cast<int32_t>(row.second.size());
      e.layerCodes.assign(1, 0);
      for (int c : row.second) e.layerCodes.push_back(c);
      e.layerCodesCopy = e.layerCodes;
      d->multiLayerTable.push_back(e);
    }
  }
  // Every cell of the 2 x 3 grid g against its expected value.
  static void ExpectGrid(double** g, const std::vector<std::vector<double>>& want) {
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) EXPECT_EQ(g[r][c], want[r - 1][c - 1]) << r << "," << c;
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    const std::string log = Console();
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
};

}  // namespace

TEST(CodeChecks, SoilCodesBecomeRowNumbersAndOnlyChangedRowsAreLogged) {
  CodeBasin b;
  b.SoilTable({10, 20, 30});
  double** g = b.Put(5, "soil_types", {{10, 20, 99}, {30, 10, 20}});
  b.d->check_SOIL_Codes(5);
  EXPECT_EQ(g[1][1], 1.0);
  EXPECT_EQ(g[1][2], 2.0);
  EXPECT_EQ(g[2][1], 3.0);
  EXPECT_EQ(g[2][3], 2.0);  // outside the basin, but equal to a replaced code
  EXPECT_EQ(g[1][3], 99.0);  // outside the basin and in no row: passes and stays
  EXPECT_EQ(b.Count(" replaced by "), 3u);
  EXPECT_NE(b.Console().find("10 replaced by 1 ..."), std::string::npos);
  EXPECT_NE(b.Console().find("2.:replacing soil type codes "), std::string::npos);

  CodeBasin same;
  same.SoilTable({1, 2, 3});
  same.Put(5, "soil_types", {{1, 2, N}, {3, 3, N}});
  same.d->check_SOIL_Codes(5);
  EXPECT_EQ(same.Count(" replaced by "), 0u);
  EXPECT_NE(same.Console().find("1.: checking soil type codes"), std::string::npos);
}

TEST(CodeChecks, SwappedCodesAreEachComparedWithTheGridAsRead) {
  CodeBasin b;
  b.SoilTable({2, 1});
  double** g = b.Put(5, "soil_types", {{1, 2, N}, {2, 2, N}});
  b.d->check_SOIL_Codes(5);
  CodeBasin::ExpectGrid(g, {{2, 1, N}, {1, 1, N}});
  // Two rows of one code: the cells go where the log says ("2 replaced by 1"), although
  // row 2 carries the code 2 as well.
  CodeBasin twice;
  twice.SoilTable({2, 2});
  double** t = twice.Put(5, "soil_types", {{2, 2, N}, {2, 2, N}});
  twice.d->check_SOIL_Codes(5);
  EXPECT_NE(twice.Console().find("2 replaced by 1 ..."), std::string::npos);
  EXPECT_EQ(twice.Count(" replaced by "), 1u);
  EXPECT_EQ(t[1][1], 1.0);
  // A fractional code counts by its integer part and gets its row too.
  CodeBasin f;
  f.SoilTable({10, 20});
  double** h = f.Put(5, "soil_types", {{20.7, 10, N}, {10, 10, N}});
  f.d->check_SOIL_Codes(5);
  EXPECT_EQ(h[1][1], 2.0);
}

// A float export writes 2 as 1.9999999: the code 2. Every checked cell ends as the whole
// number of its row, so that a module rounding a cell (the soil model) and one taking its
// integer part (the derived soil grids) read the row the check took, 2.6 included.
TEST(CodeChecks, CodesAFloatExportLeftOffWholeAreTheirCodesAndEveryCellItsRow) {
  CodeBasin b;
  b.SoilTable({1, 2, 3});
  double** g = b.Put(5, "soil_types", {{1.9999999, 2.6, 0.5}, {3.0000001, 0.9999999, N}});
  b.d->check_SOIL_Codes(5);
  CodeBasin::ExpectGrid(g, {{2, 2, 0.5}, {3, 1, N}});  // 0.5 lies outside the basin: no code, kept
  EXPECT_EQ(b.Count(" replaced by "), 0u);

  CodeBasin landuse;
  landuse.LanduseTable({10, 20});
  double** l = landuse.Put(5, "landuse", {{19.9999999, 10.0000001, N}, {20.5, 10, N}});
  landuse.d->CheckLanduseCodes(5);
  CodeBasin::ExpectGrid(l, {{2, 1, N}, {2, 1, N}});

  // An irrigation value a rounding above 0 is 0: not irrigated, never looked up.
  CodeBasin irrigation;
  irrigation.d->irrigationCount = 1;
  irrigation.d->irrigationCodes = {0, 5};
  double** i = irrigation.Put(5, "irrigation_codes", {{1e-9, 4.9999999, N}, {5, 0, N}});
  irrigation.d->check_irrig_Codes(5);
  EXPECT_EQ(i[1][2], 1.0);
  EXPECT_EQ(i[2][1], 1.0);
}

// Lake and glacier codes are compared with reservoir and glacier numbers.
TEST(CodeChecks, LakeAndGlacierCodesAFloatExportLeftOffWholeBecomeWhole) {
  CodeBasin b;
  b.Put(2, "[elevation_model]", b.Filled(1000));
  double** lakes = b.Put(3, "lake_codes", {{2.9999999, 3.0000001, 2.6}, {N, 0, -1e-9}});
  double** glaciers = b.Put(4, "GlacierCodes", {{11.9999999, -1.0000001, 12}, {N, N, N}});
  b.d->MakeCodesWhole();
  CodeBasin::ExpectGrid(lakes, {{3, 3, 2.6}, {N, 0, 0}});
  CodeBasin::ExpectGrid(glaciers, {{12, -1, 12}, {N, N, N}});
}

TEST(CodeChecks, UnknownCodesInTheBasinFailWithTheirTableMessage) {
  CodeBasin soil;
  soil.SoilTable({10});
  soil.Put(5, "soil_types", {{10, 40, N}, {10, 10, N}});
  EXPECT_EQ(ThrownCode([&] { soil.d->check_SOIL_Codes(5); }), 32);
  EXPECT_NE(soil.Console().find("soil type 40 in grid "), std::string::npos) << soil.Console();
  EXPECT_NE(soil.Console().find("(soil_types)\nis not present in the control file \n-------"), std::string::npos);

  // A value that is no number has no code: it fails instead of being cast.
  CodeBasin nan;
  nan.SoilTable({10});
  nan.Put(5, "soil_types", {{10, std::nan(""), N}, {10, 10, N}});
  EXPECT_EQ(ThrownCode([&] { nan.d->check_SOIL_Codes(5); }), 32);

  CodeBasin landuse;
  landuse.LanduseTable({1, 2});
  landuse.Put(5, "landuse", {{1, 2, N}, {3, 1, N}});
  EXPECT_EQ(ThrownCode([&] { landuse.d->CheckLanduseCodes(5); }), 31);
  EXPECT_NE(landuse.Console().find("land use 3 in grid "), std::string::npos);
  EXPECT_NE(landuse.Console().find("is not present in the land use table in the control file"), std::string::npos);

  // Without a table every basin code is unknown.
  CodeBasin none;
  none.Put(5, "soil_types", {{1, 1, N}, {1, 1, N}});
  EXPECT_EQ(ThrownCode([&] { none.d->check_SOIL_Codes(5); }), 32);
  // Position 0: no grid, nothing to check.
  EXPECT_EQ(ThrownCode([&] { none.d->check_SOIL_Codes(0); }), -1);
}

TEST(CodeChecks, IrrigationGridLooksUpOnlyIrrigatedCells) {
  CodeBasin b;
  b.d->irrigationCount = 2;
  b.d->irrigationCodes = {0, 5, 8};
  double** g = b.Put(5, "irrigation_codes", {{0, 8, N}, {5, -3, N}});
  b.d->check_irrig_Codes(5);
  EXPECT_EQ(g[1][1], 0.0);
  EXPECT_EQ(g[1][2], 2.0);
  EXPECT_EQ(g[2][1], 1.0);
  EXPECT_EQ(g[2][2], -3.0);
  b.Put(6, "irrigation_codes2", {{0, 9, N}, {5, 5, N}});
  EXPECT_EQ(ThrownCode([&] { b.d->check_irrig_Codes(6); }), 31);
  EXPECT_NE(b.Console().find("\nirrigation type 9 in grid "), std::string::npos);
  EXPECT_NE(b.Console().find("is not present in the irrigation table in the control file"), std::string::npos);
}

TEST(CodeChecks, MultilayerTableTakesTheGridCodesAndItsLayerCodesBecomeLanduseRows) {
  CodeBasin b;
  b.LanduseTable({20, 30, 40});
  b.MultiLayer({{100, {20, 30}}, {200, {40, static_cast<int>(N)}}});
  double** g = b.Put(5, "landuse", {{100, 200, N}, {200, 100, N}});
  b.d->CheckLanduseCodes(5);
  EXPECT_EQ(g[1][1], 1.0);
  EXPECT_EQ(g[1][2], 2.0);
  const auto& rows = b.d->multiLayerTable;
  EXPECT_EQ(rows[1].layerCodes[1], 1);
  EXPECT_EQ(rows[1].layerCodes[2], 2);
  EXPECT_EQ(rows[2].layerCodes[1], 3);
  EXPECT_EQ(rows[2].layerCodes[2], static_cast<int>(N));  // an empty lower layer is allowed
  EXPECT_EQ(rows[1].layerCodesCopy[1], 20);              // the codes as read stay
  EXPECT_NE(b.Console().find("Code replacement in MultiLayer-Landuse 1: changed Layer-Code #2 from 30 to 2"),
            std::string::npos)
      << b.Console();
}

TEST(CodeChecks, MultilayerFailures) {
  CodeBasin notInTable;
  notInTable.LanduseTable({20});
  notInTable.MultiLayer({{100, {20}}});
  notInTable.Put(5, "landuse", {{100, 20, N}, {100, 100, N}});
  EXPECT_EQ(ThrownCode([&] { notInTable.d->CheckLanduseCodes(5); }), 311);
  EXPECT_NE(notInTable.Console().find("is not present in the multilayer-landuse-table in the control file"),
            std::string::npos);

  CodeBasin emptyFirst;
  emptyFirst.LanduseTable({20});
  emptyFirst.MultiLayer({{100, {20}}, {200, {static_cast<int>(N), 20}}});
  emptyFirst.Put(5, "landuse", {{100, 100, N}, {100, 100, N}});
  EXPECT_EQ(ThrownCode([&] { emptyFirst.d->CheckLanduseCodes(5); }), 312);
  EXPECT_NE(emptyFirst.Console().find("Here, line 2 contains -9999 as first layer code."), std::string::npos);

  CodeBasin noLayers;
  noLayers.LanduseTable({20});
  noLayers.MultiLayer({{100, {}}});
  noLayers.Put(5, "landuse", {{100, 100, N}, {100, 100, N}});
  EXPECT_EQ(ThrownCode([&] { noLayers.d->CheckLanduseCodes(5); }), 312);

  CodeBasin missingLayer;
  missingLayer.LanduseTable({20});
  missingLayer.MultiLayer({{100, {20, 50}}});
  missingLayer.Put(5, "landuse", {{100, 100, N}, {100, 100, N}});
  EXPECT_EQ(ThrownCode([&] { missingLayer.d->CheckLanduseCodes(5); }), 312);
  EXPECT_NE(missingLayer.Console().find("not all layer codes from landuse 100 from MultiLayer_Landuse-Table\n"
                                        "are present in the landuse-table in the control file: Here, code 50 is "
                                        "missing."),
            std::string::npos);
}
