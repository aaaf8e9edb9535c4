// [multilayer_landuse]: layer lists, ArcVeg vectors and the checks between rows.
#include <gtest/gtest.h>

#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "support/test_support.h"

namespace {

struct MultilayerReader {
  explicit MultilayerReader(const std::string& text) {
    d = std::make_unique<defaultini>(error, &log.log(), "ml.ctl", nullptr, 200, 1, registry.Records());
    d->controlFile.SetText(text);
    d->controlFileOpen = true;
  }
  int Read() {
    try {
      d->ReadMultilayerLanduseTable(1);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  const MultiLayerLanduseEntry& row(size_t i) const { return d->multiLayerTable.at(i); }
  std::string console() const { return log.console(); }

  CapturedLog log;
  GridRegistry registry;
  int error = 0;
  std::unique_ptr<defaultini> d;
};

std::string Section(const std::string& rows, int count) {
  return "[multilayer_landuse]\n" + std::to_string(count) + " # types\n" + rows;
}

}  // namespace

TEST(MultilayerTable, LayerListsVectorsAndDefaults) {
  MultilayerReader r(Section("11 forest { Landuse_Layers = 3, 2, 1; ArcVeg_Initial_Fractions = 0.5, 0.3, 0.2;\n"
                             "  k_extinct = 0.5; LAI_scale = 12; }\n"
                             "12 meadow { Landuse_Layers = 4,5,6; ArcVeg_Initial_Fractions = 1, 0.5 ,0.25 ; }\n",
                             2));
  ASSERT_EQ(r.Read(), 0) << r.console();
  ASSERT_EQ(r.d->multiLayerTable.size(), 3u);
  EXPECT_EQ(r.row(0).code, 2);
  const auto& f = r.row(1);
  EXPECT_EQ(f.code, 11);
  EXPECT_EQ(f.codeCopy, 11);
  EXPECT_EQ(f.name, "forest");
  EXPECT_EQ(f.layerCount, 3);
  EXPECT_EQ(f.layerCodes, (std::vector<int32_t>{0, 3, 2, 1}));
  EXPECT_EQ(f.layerCodesCopy, f.layerCodes);
  EXPECT_EQ(f.fractionCount, 3);
  EXPECT_DOUBLE_EQ(f.ArcVeg_Initial_Fractions[3], 0.2);
  EXPECT_TRUE(f.ArcVeg_Initial_Biomass.empty());
  EXPECT_DOUBLE_EQ(f.k_extinct, 0.5);
  EXPECT_DOUBLE_EQ(f.LAI_scale, 12.0);
  const auto& m = r.row(2);
  EXPECT_EQ(m.layerCodes, (std::vector<int32_t>{0, 4, 5, 6}));
  EXPECT_EQ(m.fractionCount, 3);
  EXPECT_DOUBLE_EQ(m.ArcVeg_Initial_Fractions[2], 0.5);
  EXPECT_DOUBLE_EQ(m.k_extinct, 0.3);
  EXPECT_DOUBLE_EQ(m.LAI_scale, 10.0);
}

// The lists are read as every list of the tables: blanks separate values as commas do.
TEST(MultilayerTable, BlankSeparatedCodesAreValuesAndUnparsedLinesKeepDefaults) {
  MultilayerReader blanks(Section("5 a { Landuse_Layers = 3 2 1;\n k_extinct = dense; }\n", 1));
  ASSERT_EQ(blanks.Read(), 0) << blanks.console();
  EXPECT_EQ(blanks.row(1).layerCount, 3);
  EXPECT_EQ(blanks.row(1).layerCodes, (std::vector<int32_t>{0, 3, 2, 1}));
  EXPECT_DOUBLE_EQ(blanks.row(1).k_extinct, 0.0);  // no number reads as 0, named in a warning
  EXPECT_NE(
      blanks.console().find("multilayer_landuse_table code 5: k_extinct = \"dense\" is no number; it reads as 0"),
      std::string::npos)
      << blanks.console();
  MultilayerReader r(Section("5 a { Landuse_Layers = 3; }\njust a comment line\n", 2));
  ASSERT_EQ(r.Read(), 0) << r.console();
  EXPECT_EQ(r.row(2).code, 2);
  EXPECT_EQ(r.row(2).layerCount, 1);
  EXPECT_TRUE(r.row(2).layerCodes.empty());
}

TEST(MultilayerTable, WithoutTheSectionThereIsNoTable) {
  MultilayerReader r("[soil_table]\n0\n");
  ASSERT_EQ(r.Read(), 0);
  EXPECT_TRUE(r.d->multiLayerTable.empty());
}

TEST(MultilayerTable, CountsThatDisagreeEndTheRunWithCode111) {
  struct Case {
    std::string rows, message;
  };
  for (const Case& c : std::vector<Case>{
           {"1 a { Landuse_Layers = 1, 2; ArcVeg_Initial_Fractions = 0.5; }\n",
            "number of layers is 2 , but number of fractions for ArcVeg is 1)"},
           {"1 a { Landuse_Layers = 1, 2; ArcVeg_Initial_Biomass = 1, 2, 3; }\n",
            "number of layers is 2 , but number of biomasses for ArcVeg is 3)"},
           {"1 a { Landuse_Layers = 1; ArcVeg_Initial_Retrans = ; }\n",
            "number of layers is 1 , but number of Retrans for ArcVeg is 0)"},
           {"1 a { Landuse_Layers = 1, 2; }\n2 b { Landuse_Layers = 1; }\n",
            "(here: multilayer-landuse type 2 (entry number 2): 1 layers, but multilayer-landuse type 1: 2 layers)"},
           {"1 a { Landuse_Layers = 1, 2; ArcVeg_Initial_Fractions = 0.5, 0.5; }\n2 b { Landuse_Layers = 3, 4; }\n",
            "(here: multilayer-landuse type 2 (entry number 2): 0 fractions, but multilayer-landuse type 1: 2 "
            "fractions)"},
       }) {
    const int count = c.rows.find("2 b") == std::string::npos ? 1 : 2;
    MultilayerReader r(Section(c.rows, count));
    EXPECT_EQ(r.Read(), 111) << c.rows;
    EXPECT_NE(r.console().find(c.message), std::string::npos) << r.console();
  }
}

TEST(MultilayerTable, UnreadableEntriesAndEndOfFile) {
  MultilayerReader noCode(Section("x a { Landuse_Layers = 1; }\n", 1));
  EXPECT_EQ(noCode.Read(), 110);
  EXPECT_NE(noCode.console().find("some parameters could not be read\nx a { Landuse_Layers = 1; }"),
            std::string::npos);
  MultilayerReader noValue(Section("1 a { Landuse_Layers = 1 }\n", 1));
  EXPECT_EQ(noValue.Read(), 110);
  MultilayerReader noLayer(Section("1 a { Landuse_Layers = x, y; }\n", 1));
  EXPECT_EQ(noLayer.Read(), 110);
  MultilayerReader early(Section("1 a { Landuse_Layers = 1;\n", 1));
  EXPECT_EQ(early.Read(), 110);
  MultilayerReader missingRows(Section("", 1));
  EXPECT_EQ(missingRows.Read(), 110);

  MultiLayerLanduseEntry row(4);
  CapturedLog log;
  int code = 0;
  try {
    MultiLayerLanduseEntry::ReadEntry(row, &log.log(), "4 a { k_extinct = 1; }");
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 112);
  EXPECT_NE(log.console().find("parameter Landuse_Layers not found 4 a"), std::string::npos);
}

// Layer codes are whole numbers as in the rest of the control file: "3.0" is 3, "3.5" is
// refused naming it rather than read as 3, and so is a word in a list.
TEST(MultilayerTable, LayerCodesAreWholeNumbers) {
  MultilayerReader r(Section("11. forest { Landuse_Layers = 3.0, 2., 1; ArcVeg_Initial_Fractions = 0.5, 0.3, 0.2; }\n", 1));
  ASSERT_EQ(r.Read(), 0) << r.console();
  EXPECT_EQ(r.row(1).code, 11);
  EXPECT_EQ(r.row(1).layerCodes, (std::vector<int32_t>{0, 3, 2, 1}));
  for (const auto& c : std::vector<std::pair<std::string, std::string>>{
           {"11 forest { Landuse_Layers = 3.5, 2; }\n", "\"3.5\" (Landuse_Layers) is not a whole number"},
           {"11 forest { Landuse_Layers = 3, 2; ArcVeg_Initial_Biomass = 1, nan; }\n",
            "\"nan\" (ArcVeg_Initial_Biomass) is not a number"},
           {"11 forest { Landuse_Layers = 3; k_extinct = 0.1.2; }\n", "\"0.1.2\" (k_extinct) is not a number"},
           {"1.5 forest { Landuse_Layers = 3; }\n", "\"1.5\" (the code) is not a whole number"},
           {"11 forest { Landuse_Layers = 4,x,5; }\n", "\"x\" (Landuse_Layers) is not a whole number"},
       }) {
    MultilayerReader bad(Section(c.first, 1));
    EXPECT_EQ(bad.Read(), 110) << c.first;
    EXPECT_NE(bad.console().find(c.second), std::string::npos) << bad.console();
    EXPECT_NE(bad.console().find("some parameters could not be read"), std::string::npos);
  }
}

// A key no reader knows is named with its line and the key meant, also where a misspelt
// Landuse_Layers leaves the line unread (its row keeps one layer without a word otherwise).
TEST(MultilayerTable, KeysNoReaderKnowsAreNamed) {
  MultilayerReader r(Section("11 forest { Landuse_Layer = 3; }\n"
                             "12 meadow { Landuse_Layers = 4;\n  LAI_scal = 3; k_extinct=0.5;LAI_scale = 8; }\n",
                             2));
  ASSERT_EQ(r.Read(), 0) << r.console();
  EXPECT_NE(r.console().find("[multilayer_landuse], the entry 11 forest, line 3 of ml.ctl: no reader knows the key "
                             "Landuse_Layer, so its value is not used; the nearest key of [multilayer_landuse] is "
                             "Landuse_Layers"),
            std::string::npos)
      << r.console();
  EXPECT_NE(r.console().find("[multilayer_landuse], the entry 12 meadow, line 5 of ml.ctl: no reader knows the key "
                             "LAI_scal, so its value is not used; the nearest key of [multilayer_landuse] is "
                             "LAI_scale"),
            std::string::npos)
      << r.console();
  EXPECT_EQ(r.console().find("key k_extinct"), std::string::npos) << r.console();
  EXPECT_DOUBLE_EQ(r.row(2).LAI_scale, 8.0);
}
