// [soil_table] and [GlobalSoilParameters]: layered keyword entries, positional rows of the
// old format, the checks of a row and of the table, and the global field-capacity suction.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "support/test_support.h"

namespace {

struct SoilReader {
  explicit SoilReader(const std::string& text) {
    d = std::make_unique<defaultini>(error, &log.log(), "soil.ctl", nullptr, 200, 1, registry.Records());
    d->controlFile.SetText(text);
    d->controlFileOpen = true;
  }
  // Reads the table; the thrown code, or 0.
  int Read(int mode = 1) {
    try {
      d->ReadSoilTable(mode);
    } catch (int code) {
      return code;
    }
    return 0;
  }
  const SoilTableEntry& row(size_t i) const { return d->soilTable.at(i); }

  CapturedLog log;
  GridRegistry registry;
  int error = 0;
  std::unique_ptr<defaultini> d;
};

const std::string kLoam =
    "1 loam { method = MultipleHorizons; layers = 2 3; ksat = 1e-4 1e-5; theta_sat = 0.45 0.40;\n"
    "  theta_res = 0.05; alpha = 2.0 1.5; Par_n = 1.5 1.4; thickness = 0.1 0.2; }\n";

std::string Table(const std::string& rows, int count = 1) {
  return "[soil_table]\n" + std::to_string(count) + " # soil types\n" + rows;
}

}  // namespace

TEST(SoilTableReader, HorizonValuesReachEveryLayerOfTheirHorizon) {
  SoilReader r(Table(kLoam));
  ASSERT_EQ(r.Read(), 0) << r.log.console();
  ASSERT_EQ(r.d->soilTable.size(), 2u);
  EXPECT_EQ(r.row(0).code, 1);
  const SoilTableEntry& s = r.row(1);
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.name, "loam");
  EXPECT_EQ(s.horizonCount, 2);
  EXPECT_EQ(s.horizonLayers, (std::vector<int32_t>{5, 2, 3}));
  ASSERT_EQ(s.layerCount, 5);
  EXPECT_EQ(s.theta_sat, (std::vector<double>{0.45, 0.45, 0.45, 0.40, 0.40, 0.40}));
  EXPECT_EQ(s.theta_res, std::vector<double>(6, 0.05));  // one value serves every horizon
  EXPECT_EQ(s.thickness, (std::vector<double>{0.1, 0.1, 0.1, 0.2, 0.2, 0.2}));
  EXPECT_DOUBLE_EQ(s.totalDepth, 0.8);
  EXPECT_DOUBLE_EQ(s.EvapMaxDepth, 0.1);
  // Without k_recession (1.0) the conductivity keeps its value at every depth.
  EXPECT_EQ(s.GetKsat(), (std::vector<double>{1e-4, 1e-4, 1e-4, 1e-5, 1e-5, 1e-5}));
  EXPECT_NEAR(s.Par_m[4], 1.0 - 1.0 / 1.4, 1e-15);
  // Defaults of the keys not given.
  EXPECT_TRUE(s.psiFCUnassigned);
  EXPECT_EQ(s.psi_FC, std::vector<double>(6, 200.0));
  EXPECT_EQ(s.Par_tau, std::vector<double>(6, 0.5));
  EXPECT_EQ(s.DryDensity, std::vector<double>(6, -1.0));
  EXPECT_DOUBLE_EQ(s.PMacroThresh, 1000.0 / 3.6e6);
  EXPECT_DOUBLE_EQ(s.MacroDepth, 1.0);
  EXPECT_DOUBLE_EQ(s.maxratio, 1000.0);
  EXPECT_DOUBLE_EQ(s.mSBFCapDifference, 0.1);
  EXPECT_DOUBLE_EQ(s.ksat_vevurada, 1e-5);
  EXPECT_DOUBLE_EQ(s.suction, 300.0);
  EXPECT_DOUBLE_EQ(s.MaxInterflowDepth, 2.0);
  EXPECT_DOUBLE_EQ(s.lnKMinFrozen, -20.0);
  EXPECT_FALSE(s.isArcVeg);
  // Tables of every layer: van Genuchten with 30 points, capacity tables allocated.
  EXPECT_EQ(s.conductivityPoints, 30);
  ASSERT_EQ(s.thetaForSuction.size(), 6u);
  EXPECT_DOUBLE_EQ(s.thetaForSuction[4][1], 0.40);
  EXPECT_EQ(s.saturationTable[5].size(), 1001u);
}

TEST(SoilTableReader, KeyedValuesScalingAndDepthRecession) {
  SoilReader r(Table(
      "7 clay { method = MultipleHorizons; layers = 3, 1; ksat = 1e-4; theta_sat = 0.5; theta_res = 0.1;\n"
      " alpha = 1; Par_n = 1.3; Par_m = 0.2 0.3; thickness = 0.1; ThicknessScaling = 2; k_recession = 0.5 0.25;\n"
      " MaxInterflowDepth = 0.6; psi_FC = 3.3; isArcVegType = 1; KMinFrozenSoil = 0; GrainSizeDist = 0.5 0.3 0.20005;\n"
      " SU_PAR03 = 4.5; FCap = 20; mSB = 40; PMacroThresh = 3.6e6; }\n"));
  ASSERT_EQ(r.Read(), 0) << r.log.console();
  const SoilTableEntry& s = r.row(1);
  EXPECT_NE(r.log.console().find("Soil layers for soil type 7 will be scaled by a factor of 2"), std::string::npos);
  EXPECT_EQ(s.thickness, std::vector<double>(5, 0.2));
  EXPECT_DOUBLE_EQ(s.EvapMaxDepth, 0.1);  // the first thickness as read, not scaled
  EXPECT_DOUBLE_EQ(s.totalDepth, 0.8);
  EXPECT_EQ(s.Par_m, (std::vector<double>{0.2, 0.2, 0.2, 0.2, 0.3}));
  EXPECT_TRUE(s.isArcVeg);
  EXPECT_FALSE(s.psiFCUnassigned);
  EXPECT_DOUBLE_EQ(s.lnKMinFrozen, -27.631);
  EXPECT_DOUBLE_EQ(s.grainSize[2], 0.20005);
  EXPECT_DOUBLE_EQ(s.SU_PAR[3], 4.5);
  EXPECT_DOUBLE_EQ(s.mSBFCapDifference, 0.2);
  EXPECT_DOUBLE_EQ(s.PMacroThresh, 1.0);
  // Centres at 0.1, 0.3, 0.5 (z 0.1, 0.3, 0.5 in horizon 1), then 0.7 > 0.6: unscaled.
  EXPECT_NEAR(s.ksat[1], 1e-4 * std::pow(0.5, 0.1), 1e-18);
  EXPECT_NEAR(s.ksat[2], 1e-4 * std::pow(0.5, 0.3), 1e-18);
  EXPECT_NEAR(s.ksat[3], 1e-4 * std::pow(0.5, 0.5), 1e-18);
  EXPECT_DOUBLE_EQ(s.ksat[4], 1e-4);
}

TEST(SoilTableReader, KeysAreSubstringsAndTheLastListOccurrenceWins) {
  // "ksat" is also found inside "ksat_vevurada", which comes later in the entry.
  SoilReader r(Table("1 sand {\n method = MultipleHorizons; layers = 1; ksat = 1e-4; theta_sat = 0.4; theta_res = 0.05;\n"
                     "alpha = 3; Par_n = 2; thickness = 0.3; ksat_vevurada = 2e-5;\n}\n"));
  ASSERT_EQ(r.Read(), 0) << r.log.console();
  EXPECT_DOUBLE_EQ(r.row(1).ksat[1], 2e-5);
  EXPECT_DOUBLE_EQ(r.row(1).ksat_vevurada, 2e-5);
}

TEST(SoilTableReader, BadKeywordEntriesEndTheRunWithCode29) {
  struct Case {
    std::string extra, message;
  };
  const std::string base =
      "1 silt { method = MultipleHorizons; layers = 2; ksat = 1e-4; theta_sat = 0.4; theta_res = 0.05; alpha = 3;"
      " Par_n = 2; thickness = 0.3; ";
  for (const Case& c : std::vector<Case>{
           {"GrainSizeDist = 0.5 0.3 0.2002; }", "sum of all fractions"},
           {"GrainSizeDist = 0 0.5 0.5; }", "fraction of sand must be > 0"},
           {"GrainSizeDist = 0.6 -0.1 0.5; }", "all grain size fractions must be >= 0"},
           {"FCap = wet; }", "\"FCap\" is not a number"},
           {"Par_tau = ; }", "some values could not be read"},
           {"GrainSizeDist = 0.5 x 0.2; }", "\"x\" (GrainSizeDist) is not a number"},
           {"Par_tau = 0.5 x; }", "\"x\" (Par_tau of horizon 2) is not a number"},
           {"Par_tau = 0,5; }",
            "soil table code 1 (silt): Par_tau holds 2 values for 1 horizon; in lists the comma separates values: "
            "\"0,5\" is read as two values, not as one with a decimal comma (a decimal fraction takes a point: 0.5)"},
       }) {
    SoilReader r(Table(base + c.extra + "\n"));
    EXPECT_EQ(r.Read(), 29) << c.extra;
    EXPECT_NE(r.log.console().find(c.message), std::string::npos) << r.log.console();
    EXPECT_NE(r.log.console().find("Soil table code 1: some values could not be read"), std::string::npos);
  }
  for (const std::string& entry : {
           std::string("1 a { method = MultipleHorizons; layers = 2; theta_sat = 0.4; }"),  // required keys missing
           std::string("1 a { method = MultipleHorizons; layers = -1; }"),
           std::string("1 a { method = MultipleHorizons; layers = 600 600; }"),
           std::string("1 a { method = MultipleHorizons; layers = x; }"),
       }) {
    SoilReader r(Table(entry + "\n"));
    EXPECT_EQ(r.Read(), 29) << entry;
  }
  // A list may separate its values by commas, and hold more than its horizons without one
  // between two digits.
  SoilReader commas(Table(base + "Par_tau = 0.4 0.6, 0.7; }\n"));
  ASSERT_EQ(commas.Read(), 0) << commas.log.console();
  EXPECT_EQ(commas.row(1).Par_tau, std::vector<double>(3, 0.4));
  SoilReader unknown(Table("1 a { method = Single; }\n"));
  EXPECT_EQ(unknown.Read(), 29);
  EXPECT_NE(unknown.log.console().find("soil table definition method unknown 1 a { method = Single; }"),
            std::string::npos);
}

// A van Genuchten curve needs n > 1, theta_sat > theta_res and alpha > 0 in every layer;
// otherwise the row is refused before its tables give water contents above saturation.
TEST(SoilTableReader, VanGenuchtenParametersWithoutARetentionCurveAreRefused) {
  struct Case {
    std::string row;
    int mode, code;
    std::string message;
  };
  const std::string head = "1 silt { method = MultipleHorizons; layers = 1 1; ksat = 1e-4; thickness = 0.3; ";
  for (const Case& c : std::vector<Case>{
           {head + "theta_sat = 0.4; theta_res = 0.05; alpha = 3; Par_n = 2 1; }", 1, 29,
            "soil type 1 (silt), layer 2: the van Genuchten parameters describe no retention curve: Par_n = 1 "
            "(must be above 1)"},
           {head + "theta_sat = 0.4 0.04; theta_res = 0.05; alpha = 3; Par_n = 2; }", 1, 29,
            "theta_sat = 0.04 (must be above theta_res = 0.05)"},
           {head + "theta_sat = 0.4; theta_res = 0.05; alpha = 0 3; Par_n = 2; }", 1, 29, "layer 1"},
           {"3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 0.9 4 0.1 900 0.5", 2, 30,
            "soil type 3 (peat), layer 1: the van Genuchten parameters"},
           {"3 peat 20 30 1e-5 250  1 0.1 0.5 2.0 1.25 4 0.1 900 0.5", 2, 30, "must be above theta_res"},
       }) {
    SoilReader r(Table(c.row + "\n"));
    EXPECT_EQ(r.Read(c.mode), c.code) << c.row;
    EXPECT_NE(r.log.console().find(c.message), std::string::npos) << r.log.console();
  }
}

TEST(SoilTableReader, OldFormatRowsAndTheirLayeredPart) {
  const std::string rows = "3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4 0.1 900 0.5 trailing text\n"
                           "4 sand 10 20 2e-5 100\n";
  SoilReader plain(Table(rows, 2));
  ASSERT_EQ(plain.Read(1), 0) << plain.log.console();
  EXPECT_EQ(plain.row(1).layerCount, 0);
  EXPECT_DOUBLE_EQ(plain.row(2).ksat_vevurada, 2e-5);
  EXPECT_DOUBLE_EQ(plain.row(2).mSBFCapDifference, 0.1);

  SoilReader layered(Table("3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4 0.1 900 0.5\n"));
  ASSERT_EQ(layered.Read(2), 0) << layered.log.console();
  const SoilTableEntry& s = layered.row(1);
  EXPECT_EQ(s.layerCount, 4);
  EXPECT_EQ(s.thickness, (std::vector<double>{0.1, 0.05, 0.05, 0.1, 0.1}));
  EXPECT_DOUBLE_EQ(s.Par_m[3], 0.2);
  EXPECT_DOUBLE_EQ(s.maxratio, 900.0);
  EXPECT_DOUBLE_EQ(s.ksat[1], 1e-5 * std::pow(0.5, 0.025));
  EXPECT_DOUBLE_EQ(s.ksat[2], 1e-5 * std::pow(0.5, 0.05));
  EXPECT_DOUBLE_EQ(s.ksat[3], 1e-5 * std::pow(0.5, 0.15));
  EXPECT_DOUBLE_EQ(s.ksat[4], 1e-5 * std::pow(0.5, 0.25));
  EXPECT_TRUE(s.psi_FC.empty());  // no field-capacity suction in this format
  // All layers share one curve, so their tables are the same.
  EXPECT_EQ(s.thetaForSuction[1], s.thetaForSuction[4]);
  EXPECT_EQ(s.relConductivity[2], s.relConductivity[3]);
}

TEST(SoilTableReader, BadOldRowsAndUnequalLayerCountsEndTheRunWithCode30) {
  SoilReader method(Table("3 peat 20 30 1e-5 250  2 0.5 0.1 2.0 1.25 4 0.2 900 0.5\n"));
  EXPECT_EQ(method.Read(2), 30);
  EXPECT_NE(method.log.console().find("a row of the old form takes method 1 (van-Genuchten Parameter) only, not "
                                      "method 2"),
            std::string::npos);
  SoilReader thin(Table("3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4 0.09 900 0.5\n"));
  EXPECT_EQ(thin.Read(2), 30);
  EXPECT_NE(thin.log.console().find("thickness of single layers (here 0.09 m)"), std::string::npos);
  SoilReader shortLine(Table("3 peat 20 30\n"));
  EXPECT_EQ(shortLine.Read(1), 30);
  EXPECT_NE(shortLine.log.console().find("soil table code 3: some values could not be read\n3 peat 20 30"),
            std::string::npos);
  SoilReader negative(Table("3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 -4 0.2 900 0.5\n"));
  EXPECT_EQ(negative.Read(2), 30);
  SoilReader unequal(Table("5 a 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4 0.2 900 0.5\n"
                           "6 b 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 3 0.2 900 0.5\n",
                           2));
  EXPECT_EQ(unequal.Read(2), 30);
  EXPECT_NE(unequal.log.console().find("(here: soil type 6: 3 layers, but soil type 5: 4 layers)"), std::string::npos);
}

TEST(SoilTableReader, MissingSectionAndEarlyEndOfFile) {
  SoilReader none("[other]\n1\n");
  EXPECT_EQ(none.Read(), 17);
  SoilReader early(Table("1 a 20 30 1e-5 250\n", 2));
  EXPECT_EQ(early.Read(), 30);
  EXPECT_NE(early.log.console().find("ends within soil type 2 of 2"), std::string::npos);
  SoilReader open(Table("1 a { method = MultipleHorizons; layers = 1;\n"));
  EXPECT_EQ(open.Read(), 30);
  SoilReader empty(Table("", 0));
  EXPECT_EQ(empty.Read(), 0);
  EXPECT_EQ(empty.d->soilTable.size(), 1u);
}

TEST(SoilTableReader, LongNamesAreCut) {
  SoilReader r(Table("1 " + std::string(300, 'n') + " 20 30 1e-5 250\n"));
  ASSERT_EQ(r.Read(), 0);
  EXPECT_EQ(r.row(1).name.size(), 199u);
}

TEST(SoilTableReader, GlobalFieldCapacitySuctionByMode) {
  const std::string rows = kLoam +
                           "2 silt { method = MultipleHorizons; layers = 1 4; ksat = 1e-4; theta_sat = 0.4; "
                           "theta_res = 0.05; alpha = 3; Par_n = 2; thickness = 0.3; psi_FC = 3.0; }\n";
  auto psi = [&](const std::string& global, double& first, double& second) {
    SoilReader r(Table(rows, 2) + global);
    const int code = r.Read();
    if (code == 0) {
      first = r.row(1).psi_FC[3];
      second = r.row(2).psi_FC[3];
    }
    return code;
  };
  double a = 0, b = 0;
  ASSERT_EQ(psi("", a, b), 0);
  EXPECT_EQ(a, 200.0);
  EXPECT_EQ(b, 3.0);
  ASSERT_EQ(psi("[GlobalSoilParameters]\npsi_FC_global = 5.5;\nusePsiFCglobalForUnassignedOnly = 1;\n", a, b), 0);
  EXPECT_EQ(a, 5.5);
  EXPECT_EQ(b, 3.0);
  ASSERT_EQ(psi("[GlobalSoilParameters]\npsi_FC_global = 5.5;\nusePsiFCglobalForUnassignedOnly = 0;\n", a, b), 0);
  EXPECT_EQ(a, 5.5);
  EXPECT_EQ(b, 5.5);
  ASSERT_EQ(psi("[GlobalSoilParameters]\npsi_FC_global = none;\nusePsiFCglobalForUnassignedOnly = 1;\n", a, b), 0);
  EXPECT_EQ(a, 0.0);
  ASSERT_EQ(psi("[GlobalSoilParameters]\npsi_FC_global = 5.5;\nusePsiFCglobalForUnassignedOnly = 2;\n", a, b), 0);
  EXPECT_EQ(a, 200.0);
  EXPECT_EQ(psi("[GlobalSoilParameters]\nusePsiFCglobalForUnassignedOnly = 1;\n", a, b), 17);
  EXPECT_EQ(psi("[GlobalSoilParameters]\npsi_FC_global = 5.5;\n", a, b), 17);
}

// Numbers of the soil table are read as those of the rest of the control file: "1." and
// "2.0" are whole, "2.5" layers or a code of "1.5" are refused naming the word.
TEST(SoilTableReader, NumbersAreReadAsInTheControlFile) {
  SoilReader keyword(Table("1. silt { method = MultipleHorizons; layers = 2.0, 3.; ksat = 1e-4; theta_sat = 0.4;"
                           " theta_res = 0.05; alpha = 3; Par_n = 2; thickness = 0.3; }\n"));
  ASSERT_EQ(keyword.Read(), 0) << keyword.log.console();
  EXPECT_EQ(keyword.row(1).code, 1);
  EXPECT_EQ(keyword.row(1).horizonLayers, (std::vector<int32_t>{5, 2, 3}));
  // The old row's method and layer count as "1.0" and "4.": every later value keeps its place.
  SoilReader old(Table("3. peat 20 30 1e-5 250  1.0 0.5 0.1 2.0 1.25 4. 0.1 900 0.5\n"));
  ASSERT_EQ(old.Read(2), 0) << old.log.console();
  EXPECT_EQ(old.row(1).code, 3);
  EXPECT_EQ(old.row(1).layerCount, 4);
  EXPECT_DOUBLE_EQ(old.row(1).theta_sat[1], 0.5);
  EXPECT_DOUBLE_EQ(old.row(1).thickness[0], 0.1);
  EXPECT_DOUBLE_EQ(old.row(1).maxratio, 900.0);

  struct Case {
    std::string row;
    int mode, code;
    std::string message;
  };
  const std::string layered = " ksat = 1e-4; theta_sat = 0.4; theta_res = 0.05; alpha = 3; Par_n = 2; thickness = 0.3; }";
  for (const Case& c : std::vector<Case>{
           {"1 silt { method = MultipleHorizons; layers = 2.5;" + layered, 1, 29,
            "soil table code 1 (silt): \"2.5\" (layers) is not a whole number of layers"},
           {"1.5 silt { method = MultipleHorizons; layers = 2;" + layered, 1, 29,
            "\"1.5\" (the soil code) is not a whole number"},
           {"1 silt { method = MultipleHorizons; layers = 1 1; ksat = 1e-4 1.5.5;" + layered.substr(14), 1, 29,
            "\"1.5.5\" (ksat of horizon 2) is not a number"},
           {"1 silt { method = MultipleHorizons; layers = 2; FCap = 2,5;" + layered, 1, 29,
            "\"2,5\" (FCap) is not a number"},
           {"3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4.5 0.1 900 0.5", 2, 30,
            "soil table code 3 (peat): \"4.5\" (the number of layers) is not a whole number"},
           {"3.5 peat 20 30 1e-5 250", 1, 30, "\"3.5\" (the soil code) is not a whole number"},
           {"3 peat 20 3.0.0 1e-5 250", 1, 30, "\"3.0.0\" (mSB) is not a number"},
       }) {
    SoilReader r(Table(c.row + "\n"));
    EXPECT_EQ(r.Read(c.mode), c.code) << c.row;
    EXPECT_NE(r.log.console().find(c.message), std::string::npos) << r.log.console();
    EXPECT_NE(r.log.console().find("some values could not be read"), std::string::npos) << r.log.console();
  }
  SoilReader global(Table(kLoam) + "[GlobalSoilParameters]\npsi_FC_global = 5.5;\nusePsiFCglobalForUnassignedOnly = 1.5;\n");
  EXPECT_EQ(global.Read(), 17);
  EXPECT_NE(global.log.console().find("\"1.5\" (usePsiFCglobalForUnassignedOnly) is not a whole number"),
            std::string::npos)
      << global.log.console();
  SoilReader wholeMode(Table(kLoam) + "[GlobalSoilParameters]\npsi_FC_global = 5.5;\nusePsiFCglobalForUnassignedOnly = 1.0;\n");
  ASSERT_EQ(wholeMode.Read(), 0) << wholeMode.log.console();
  EXPECT_EQ(wholeMode.row(1).psi_FC[1], 5.5);
}

// An old row holds 6 values, or 15 with the layered part (read in soil-model mode 2 only):
// a value more or less would move every later one by a place, so the row is refused naming
// how many it holds and what the format has; a remark after the values still reads.
TEST(SoilTableReader, OldRowsAreReadWholeOrRefusedWithTheirCount) {
  const std::string layered = "3 peat 20 30 1e-5 250  1 0.5 0.1 2.0 1.25 4 0.1 900 0.5";
  struct Case {
    std::string row;
    int mode, code;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"3 peat 20 30 1e-5 250 peat above the lake", 1, 0, ""},
           {layered + " # layered", 1, 0, ""},
           {layered + " peat", 2, 0, ""},
           {"3 peat 20 30 1e-5 250 0.4", 1, 30,
            "soil table code 3 (peat): the line holds 7 values; the format has 6: code, name, FCap, mSB, ksat_vevurada "
            "and suction (or 15 with the layered part, not read in this run); a remark after the values begins"},
           {layered + " 0.5", 2, 30, "the line holds 16 values; the format has 15: code, name, FCap"},
           {"3 peat 20 30 1e-5 250  1 0.5 0.1", 2, 30, "the line holds 9 values; the format has 15"},
           {"3 peat 20 wet 1e-5 250", 1, 30, "soil table code 3 (peat): \"wet\" (mSB) is not a number"},
       }) {
    SoilReader r(Table(c.row + "\n"));
    EXPECT_EQ(r.Read(c.mode), c.code) << c.row;
    if (c.code == 0) continue;
    EXPECT_NE(r.log.console().find(c.message), std::string::npos) << r.log.console();
    EXPECT_NE(r.log.console().find("soil table code 3: some values could not be read\n" + c.row), std::string::npos)
        << r.log.console();
  }
  // A global value that is no number reads as 0, with a warning naming it.
  SoilReader global(Table(kLoam) + "[GlobalSoilParameters]\npsi_FC_global = none;\nusePsiFCglobalForUnassignedOnly = 1;\n");
  ASSERT_EQ(global.Read(), 0) << global.log.console();
  EXPECT_NE(global.log.console().find("[GlobalSoilParameters] in soil.ctl: psi_FC_global = \"none\" is no number; it "
                                      "reads as 0"),
            std::string::npos)
      << global.log.console();
  EXPECT_EQ(global.log.console().find("usePsiFCglobalForUnassignedOnly = "), std::string::npos);
}

// A key no reader knows, in a MultipleHorizons entry or in [GlobalSoilParameters] (in its
// two lines or behind them), is named with its line and the key meant; a remark and the
// next section are not read for keys.
TEST(SoilTableReader, KeysNoReaderKnowsAreNamed) {
  SoilReader r(Table("1 loam { method = MultipleHorizons; layers = 2 3; ksat = 1e-4 1e-5; theta_sat = 0.45 0.40;\n"
                     "  theta_res = 0.05; alpha = 2.0 1.5; Par_n = 1.5 1.4; thickness = 0.1 0.2;"
                     " MaxInterflowDepht = 1; }\n") +
               "[GlobalSoilParameters]\npsi_FC_global = 5.5; psi_FC_globl = 1;\n"
               "usePsiFCglobalForUnassignedOnly = 1; # x = 1\npsi_FC_locl = 2;\n\n[next_section]\nfoo = 1\n");
  ASSERT_EQ(r.Read(), 0) << r.log.console();
  const std::string console = r.log.console();
  for (const char* warning :
       {"[soil_table], the entry 1 loam, line 4 of soil.ctl: no reader knows the key MaxInterflowDepht, so its value "
        "is not used; the nearest key of [soil_table] is MaxInterflowDepth",
        "[GlobalSoilParameters], line 6 of soil.ctl: no reader knows the key psi_FC_globl, so its value is not used; "
        "the nearest key of [GlobalSoilParameters] is psi_FC_global",
        "[GlobalSoilParameters], line 8 of soil.ctl: no reader knows the key psi_FC_locl"})
    EXPECT_NE(console.find(warning), std::string::npos) << warning << "\n" << console;
  EXPECT_EQ(console.find("key foo"), std::string::npos) << console;
  EXPECT_EQ(console.find("key x"), std::string::npos) << console;
  EXPECT_EQ(r.row(1).MaxInterflowDepth, 2.0);  // the default, as the WARNING says
}
