// Glaciers of the snow model: the glacier cell physics and storages, the section
// [ice_firn], the glacier runoff of the sub-basins and the storage-file section.
#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <random>

#include "framework/model_date.h"
#include "framework/storage_file.h"
#include "processes/snow/snow_basin.h"
#include "processes/subbasin_runoff.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

// --- cell physics and storages -----------------------------------------------------------

TEST(GlacierPhysics, StorageReleasesAPulseExactlyAndZeroPassesThrough) {
  for (double k : {0.0, 0.5, 3.0, 48.0, 400.0}) {
    SCOPED_TRACE(k);
    const double e = glacier::Recession(k, 60.0);
    double S = glacier::StorageStep(0.0, 10.0, e), released = S;
    for (int step = 0; step < 200000 && S > 1e-300; ++step) {
      S = glacier::StorageStep(S, 0.0, e);
      released += S;
    }
    EXPECT_NEAR(released, 10.0, 1e-9);
    if (k == 0.0) {
      EXPECT_EQ(glacier::StorageStep(3.0, 7.0, e), 7.0);
    }
  }
  EXPECT_DOUBLE_EQ(glacier::Recession(2.0, 30.0), std::exp(-0.25));
}

TEST(GlacierPhysics, StorageBalanceEveryStep) {
  // input = change of the water held + outflow, for random inputs and constants.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const double e = glacier::Recession(0.1 + 100.0 * u(rng), 15.0 + 1425.0 * u(rng));
    double S = 5.0 * u(rng);
    for (int step = 0; step < 50; ++step) {
      const double I = u(rng) < 0.3 ? 0.0 : 20.0 * u(rng);
      const double held = glacier::StoredWater(S, e);
      S = glacier::StorageStep(S, I, e);
      ASSERT_NEAR(I, glacier::StoredWater(S, e) - held + S, 1e-9 * (1.0 + I + held));
    }
  }
}

TEST(GlacierPhysics, NamesAndDates) {
  EXPECT_EQ(glacier::SnowOnIceFileName("q.txt"), "q_qsgl_.txt");
  EXPECT_EQ(glacier::SnowOnIceFileName("out/glac.v1.out"), "out/glac.v1_qsgl_.out");
  EXPECT_EQ(glacier::SnowOnIceFileName("qglac"), "qglac_qsgl_");
  EXPECT_TRUE(glacier::ValidDayMonth(30, 9));
  EXPECT_TRUE(glacier::ValidDayMonth(29, 2));
  EXPECT_FALSE(glacier::ValidDayMonth(9, 30));
  EXPECT_FALSE(glacier::ValidDayMonth(31, 4));
  EXPECT_FALSE(glacier::ValidDayMonth(0, 1));
}

glacier::CellParameters CellParams(int method) {
  glacier::CellParameters p;
  p.method = method;
  p.T0 = 0.0;
  p.T0R = 1.0;
  p.transzone = 1.0;
  p.CWH = 0.1;
  p.stepsPerDay = 24.0;
  p.DDFice = 7.2;
  p.DDFfirn = 4.8;
  p.DDFsnow = 2.4;
  p.MF = 1.2;
  p.Aice = 0.02;
  p.Asnow = 0.01;
  return p;
}

TEST(GlacierPhysics, IceAndFirnMeltOnlyOnceTheSnowIsGone) {
  struct Case {
    const char* what;
    int method;
    bool firn;
    double T, R, debris, solid;
    double ice, firnMelt;
  } cases[] = {
      // Bare ice from the first degree: 7.2 mm/(°C d) over an hour at 1 °C.
      {"bare ice, method 1", 1, false, 1.0, 0.0, 1.0, 0.0, 0.3, 0.0},
      {"bare ice under debris", 1, false, 2.0, 0.0, 0.5, 0.0, 0.3, 0.0},
      {"bare firn, method 1", 1, true, 1.0, 0.0, 1.0, 0.0, 0.0, 0.2},
      {"ice with radiation, method 2", 2, false, 2.0, 100.0, 1.0, 0.0, 2.0 * (1.2 / 24.0 + 2.0), 0.0},
      {"firn with radiation, method 2", 2, true, 2.0, 100.0, 1.0, 0.0, 0.0, 2.0 * (1.2 / 24.0 + 1.0)},
      {"snow left on the ice", 1, false, 3.0, 0.0, 1.0, 50.0, 0.0, 0.0},
      {"below T0", 1, false, -0.5, 0.0, 1.0, 0.0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    double solid = c.solid, liquid = 0.0;
    glacier::CellResult out;
    glacier::CellStep(CellParams(c.method), c.T, 0.0, c.R, c.debris, c.firn, solid, liquid, out);
    EXPECT_NEAR(out.iceMelt, c.ice, 1e-12);
    EXPECT_NEAR(out.firnMelt, c.firnMelt, 1e-12);
  }
  // Snow melting away in the step: the ice melts only by what the snow did not take.
  double solid = 0.05, liquid = 0.0;
  glacier::CellResult out;
  glacier::CellStep(CellParams(1), 2.0, 0.0, 0.0, 1.0, false, solid, liquid, out);
  EXPECT_DOUBLE_EQ(out.snowMelt, 0.05);
  EXPECT_NEAR(out.iceMelt, 0.6 - 0.05, 1e-12);
  EXPECT_NEAR(out.snowOutflow, 0.05, 1e-15);
}

// --- the module -------------------------------------------------------------------------

const char* const kTail = "firn.asc\n0\nqfirn.stat 0\nice.asc\n0\nqice.stat 0\nqglac.out 0\n";

// The [ice_firn] section: global parameters, or a row of codes and one row per parameter.
std::string IceFirn(const std::string& method = "1", const std::string& k = "2.0") {
  return "[ice_firn]\n" + method +
         " # Glacier-Method\n7.2 # DDFice\n4.8 # DDFfirn\n2.4 # DDFsnow\n1.2 # MF\n0.01 # Aice_min\n0.03 # "
         "Aice_max\n0.005 # Asnow_min\n0.015 # Asnow_max\n" +
         k + " # kice_els\n5.0 # kfirn_els\n10.0 # ksnow_els\n0.5 # Qice\n0.25 # Qfirn\n0.125 # Qsnow\n" + kTail;
}
const char* const kTableRows =
    "1 2 # codes\n7.2 3.6\n4.8 2.4\n2.4 1.2\n1.2 0.6\n0.01 0.01\n0.03 0.03\n0.005 0.005\n0.015 0.015\n"
    "2.0 4.0\n5.0 5.0\n10.0 10.0\n0.5 0.0\n0.25 0.0\n0.125 0.0\n2000 2000\n0.1 0.1\n";

struct GlacierBasin {
  // Sub-basin 1 (left half) carries ice in row 1 and firn in row 2; sub-basin 2 none.
  GlacierBasin() : b(3, 4) {
    iceFirn = b.Add("ice_firn", SnowBasin::N);
    iceFirn[1][1] = 1.0;
    iceFirn[1][2] = 1.0;
    iceFirn[2][1] = 2.0;
    row.assign(4, 0.0);
    rows[0] = row.data();
    runoff.table = rows;
    runoff.subbasinCount = 2;
  }
  ModuleOwner<schneemodellklasse> Make(LogStream& log, const std::string& dir, const std::string& section,
                                           int& error) {
    auto m = MakeSnowModel(b, log, dir, JoinLines(SnowSectionLines(1)) + section, error);
    if (m) m->SetSubbasinRunoff(&runoff);
    return m;
  }
  SnowBasin b;
  double** iceFirn;
  std::vector<double> row;
  double* rows[1];
  SubbasinRunoff runoff;
};

TEST(GlacierSection, BadSectionsEndConstruction) {
  struct Case {
    const char* what;
    std::string section;
    int code;
    const char* message;
  } cases[] = {
      {"section missing", "", 17, "[ice_firn]"},
      {"method 3", IceFirn("3"), 80, "Method for glacier melt must be 1"},
      {"method 103", IceFirn("103"), 80, "Method for glacier melt must be 1"},
      {"negative storage constant", IceFirn("1", "-1.0"), 80, "kice_els is -1; it must be 0 hours (no storage) or more"},
      {"value missing", IceFirn("1", "two"), 17, "kice_els"},
      {"unknown code in the codes row", std::string("[ice_firn]\n101\n1 7\n"), 10, "there is no code 7"},
      {"code row unreadable", std::string("[ice_firn]\n101\nx\n"), 10, "error reading code[0]"},
      {"value row short", std::string("[ice_firn]\n101\n1 2\n7.2\n"), 10, "error reading kelsqd[2]"},
      {"dynamic without its grids", "[ice_firn]\n11\n", 33, "GlacierizedCells not found"},
      {"a method no int holds", IceFirn("99999999999"), 80, "Glacier-Method in [ice_firn] of"},
      {"a method no int holds (named)", IceFirn("99999999999"), 80, " is 99999999999; 100 more selects"},
      {"a method that is a word", IceFirn("ice"), 80, " is ice; 100 more selects"},
      {"negative ice melt factor", IceFirn("1", "2.0").replace(IceFirn("1").find("7.2"), 3, "-7.2"), 80,
       "[ice_firn] in "},
      {"negative initial outflow", IceFirn("1", "2.0").replace(IceFirn("1").find("0.5 # Qice"), 3, "-0.5"), 80,
       "Qice_els is -0.5; it must be 0 or more"},
      {"negative radiation factor of a sub-basin",
       [] {
         std::string rows = kTableRows;
         rows.replace(rows.find("0.015 0.015"), 11, "0.015 -0.015");
         return "[ice_firn]\n101\n" + rows + kTail;
       }(),
       80, "Asnow_max of sub-basin 2 is -0.015"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CapturedLog log;
    GlacierBasin g;
    int error = 0;
    auto m = g.Make(log.log(), dir.path(), c.section, error);
    EXPECT_EQ(error, c.code);
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    m.Release();
  }
}

// Date of daily step k (from 1) of a run from 1 January 2001, stamped 0:00 of the next day.
ModelDate DailyDate(int step) {
  int64_t y = 2001, m = 1, d = 1 + step;
  while (d > DaysInMonth(y, m)) d -= DaysInMonth(y, m), m = m == 12 ? (++y, 1) : m + 1;
  return ModelDate{0, 0, d, m, y};
}

// A dynamic [ice_firn] section (methods 11 to 13) with its settings lines.
std::string DynamicIceFirn(const std::string& method = "11", const std::string& date = "30 9",
                           const std::string& va = "28.5 1.36 4 0", const std::string& firn = "3 1100 0.01",
                           const std::string& stat = "0") {
  std::string s = "[ice_firn]\n" + method + "\n";
  for (int row = 0; row < glacier::kParameterRows; ++row) s += row == 8 || row == 9 || row == 10 ? "3.0\n" : "1.0\n";
  s += "firn.asc\n0\nqfirn.stat " + stat + "\nice.asc\n0\nqice.stat " + stat + "\nqglac.out " + stat + "\n";
  s += "qsog.stat " + stat + "\n0 # readgrid\n" + firn + "\n" + date + "\n" + va + "\n";
  s += "firnstack.asc\n0\nfirn.stat " + stat + "\nmb.asc\n0\nmbold.asc\n0\nmb1.stat " + stat + "\nmb2.stat " + stat +
       "\n1.0\nsog.stat " + stat + "\n";
  for (int k = 0; k < 7; ++k) s += "g" + std::to_string(k) + ".asc\n0\n";
  return s + "1000 0.25\n";
}

// Glacier 3 in sub-basin 1 (three cells), glacier 5 in sub-basin 2 (two cells).
struct DynamicBasin : GlacierBasin {
  DynamicBasin() {
    fraction = b.Add("GlacierizedCells", 0.0);
    codes = b.Add("GlacierCodes", SnowBasin::N);
    const struct {
      int r, c;
      double g, code;
    } cells[] = {{1, 1, 1.0, 3}, {1, 2, 0.6, 3}, {2, 1, 0.3, 3}, {1, 3, 0.8, 5}, {3, 4, 0.5, 5}};
    for (const auto& x : cells) {
      fraction[x.r][x.c] = x.g;
      codes[x.r][x.c] = x.code;
    }
  }
  double** fraction;
  double** codes;
};

TEST(GlacierSection, DynamicSettingsAreChecked) {
  struct Case {
    const char* what;
    std::string section;
    int code;
    const char* message;
    void (*change)(DynamicBasin&);
  } cases[] = {
      {"valid settings", DynamicIceFirn(), 0, "", nullptr},
      {"day and month swapped", DynamicIceFirn("11", "9 30"), 80, "the day first and then the month", nullptr},
      {"no such day", DynamicIceFirn("11", "31 4"), 80, "is not a date", nullptr},
      {"date line short", DynamicIceFirn("11", "30"), 80, "GMBEvalDay (int 1...31)", nullptr},
      {"scaling 0", DynamicIceFirn("11", "30 9", "0 1.36 4 0"), 80, "VAscaling > 0", nullptr},
      {"exponent 0", DynamicIceFirn("11", "30 9", "28.5 0 4 0"), 80, "VAscaling > 0", nullptr},
      {"negative extra weight", DynamicIceFirn("11", "30 9", "28.5 1.36 4 -1"), 80,
       "extraWeightFactorBand0 of 0 or more", nullptr},
      {"volume-area line short", DynamicIceFirn("11", "30 9", "28.5 1.36 4"), 80,
       "Could not read the four parameters", nullptr},
      {"firn line short", DynamicIceFirn("11", "30 9", "28.5 1.36 4 0", "3 1100"), 80, "firn_levels (int)", nullptr},
      {"negative firn levels", DynamicIceFirn("11", "30 9", "28.5 1.36 4 0", "-2 1100 0.1"), 80,
       "firn_levels in [ice_firn]", nullptr},
      {"a million firn levels", DynamicIceFirn("11", "30 9", "28.5 1.36 4 0", "1000000 1100 0.1"), 80,
       "firn_levels in [ice_firn] of", nullptr},
      {"bands narrower than a metre", DynamicIceFirn("11", "30 9", "28.5 1.36 371 0"), 80,
       "numElevBands in [ice_firn] of", nullptr},
      {"a band a metre wide", DynamicIceFirn("11", "30 9", "28.5 1.36 370 0"), 0, "", nullptr},
      {"glaciated cell without a code", DynamicIceFirn(), 80, "at row 3 and col 3",
       [](DynamicBasin& d) { d.fraction[3][3] = 0.4; }},
      {"no glaciated cell", DynamicIceFirn(), 80, "There are no glacierized cells",
       [](DynamicBasin& d) {
         for (int r = 1; r <= 3; ++r)
           for (int c = 1; c <= 4; ++c) d.fraction[r][c] = 0.0;
       }},
      {"a glacier code no int holds", DynamicIceFirn(), 80, "The GlacierCodes grid holds 1e+12 at row 3 and col 1",
       [](DynamicBasin& d) { d.codes[3][1] = 1e12; }},
      {"glacier in two sub-basins", DynamicIceFirn(), 84, "glacier 3 is located in more than one subbasin",
       [](DynamicBasin& d) {
         d.fraction[3][3] = 0.2;
         d.codes[3][3] = 3;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CapturedLog log;
    DynamicBasin d;
    if (c.change) c.change(d);
    int error = 0;
    auto m = d.Make(log.log(), dir.path(), c.section, error);
    EXPECT_EQ(error, c.code) << log.console();
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    m.Release();
  }
}

TEST(GlacierDynamic, ConstructionBuildsTheGlacierGridsAndInventory) {
  TempDir dir;
  CapturedLog log;
  DynamicBasin d;
  int error = 0;
  auto m = d.Make(log.log(), dir.path(), DynamicIceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  // Firn: three levels of (z - 1100) * 0.01 on glacier cells, no-data elsewhere.
  const int p = m->FindGrid("firn_WE_stack");
  ASSERT_GT(p, 0);
  const GridRecord& firn = m->grids[p];
  EXPECT_EQ(firn.stackLevels, 3);
  double** z = d.b.Grid("[elevation_model]");
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      if (!d.b.Inside(r, c)) continue;
      SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
      if (d.fraction[r][c] > 0.0) {
        const double level = std::max(0.0, (z[r][c] - 1100.0) * 0.01);
        EXPECT_DOUBLE_EQ(firn.stack[r][c][2], level);
        EXPECT_DOUBLE_EQ(firn.data[r][c], 3.0 * level);
        EXPECT_DOUBLE_EQ(firn.stack[r][c][0], firn.data[r][c]);
      } else {
        EXPECT_EQ(firn.data[r][c], SnowBasin::N);
      }
    }
  // The grids that evapotranspiration and data assimilation look for.
  for (const char* name : {"SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier", "TotalSnowStorage_onGlacier",
                           "SnowMelt_onGlacier", "SnowEvaporation_onGlacier", "GlacierMassBalance",
                           "OldGlacierMassBalance", "GlacierizedCellsOld", "GlacierCodesOld"})
    EXPECT_GT(m->FindGrid(name), 0) << name;
  EXPECT_EQ(d.b.Grid("GlacierCodesOld")[1][3], 5.0);
  // The inventory: one glacier per code, in the sub-basin of its cells.
  ASSERT_TRUE(m->glacierInventory);
  const auto& glaciers = m->glacierInventory->Glaciers();
  ASSERT_EQ(glaciers.size(), 2u);
  EXPECT_EQ(glaciers[0]->code, 3);
  EXPECT_EQ(glaciers[0]->subbasin, 1);
  EXPECT_EQ(glaciers[0]->cells, 3u);
  EXPECT_DOUBLE_EQ(glaciers[0]->area, 1.9);  // km² of 1 km cells
  EXPECT_EQ(glaciers[1]->subbasin, 2);
  EXPECT_DOUBLE_EQ(m->glacierSum[2], 1.3);
}

TEST(GlacierSection, PerSubbasinRowsAndDerivedNames) {
  TempDir dir;
  CapturedLog log;
  GlacierBasin g;
  int error = 0;
  auto m = g.Make(log.log(), dir.path(), std::string("[ice_firn]\n101\n") + kTableRows + kTail, error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_EQ(m->glacierMethod, 1);
  EXPECT_EQ(m->glacierParams[1].DDFice, 7.2);
  EXPECT_EQ(m->glacierParams[2].DDFice, 3.6);
  EXPECT_EQ(m->glacierParams[2].kice_els, 4.0);
  EXPECT_EQ(m->glacierParams[1].deltafirnper100m, 0.1);
  EXPECT_DOUBLE_EQ(m->glacierParams[1].aiceMean, 0.02);
  EXPECT_DOUBLE_EQ(m->glacierParams[1].aiceAmplitude, 0.01);
  EXPECT_EQ(m->glacierStatNames[schneemodellklasse::gSnowOnIce].file, "qglac_qsgl_.out");
  EXPECT_EQ(m->Qice[1], 0.5);
  EXPECT_EQ(m->Qice[2], 0.0);
  // Sub-basin 1 holds three glacier cells out of six.
  EXPECT_EQ(m->GlacierSubbasins(), (std::vector<unsigned char>{0, 1, 0}));
  EXPECT_DOUBLE_EQ(m->glacierSum[1] / m->glacierCellCount[1], 0.5);
}

void MeltReachesOnlyTheGlacierSubbasins(const std::string& section);

// Storage constants of 0 hours hold nothing: the step's melt is the step's outflow.
TEST(GlacierStep, MeltReachesOnlyTheGlacierSubbasinsAndBalances) {
  std::string withoutStorages = IceFirn("1", "0");
  withoutStorages.replace(withoutStorages.find("5.0 # kfirn_els\n10.0"), 20, "0 # kfirn_els\n0");
  for (const std::string& section : {IceFirn(), withoutStorages}) {
    SCOPED_TRACE(section);
    MeltReachesOnlyTheGlacierSubbasins(section);
  }
}

void MeltReachesOnlyTheGlacierSubbasins(const std::string& section) {
  TempDir dir;
  CapturedLog log;
  GlacierBasin g;
  int error = 0;
  auto m = g.Make(log.log(), dir.path(), section, error);
  ASSERT_EQ(error, 0) << log.console();
  double** T = g.b.Grid("temperature");
  double** P = g.b.Grid("precipitation");
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double share = 0.5;  // three glacier cells of six
  for (int step = 1; step <= 300; ++step) {
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        T[r][c] = -5.0 + 15.0 * u(rng);
        P[r][c] = u(rng) < 0.5 ? 0.0 : 3.0 * u(rng);
      }
    g.row[2] = -77.0;  // the soil model's value of the glacier-free sub-basin
    const glacier::SubbasinParameters& p = m->glacierParams[1];
    const double e[3] = {glacier::Recession(p.kice_els, 60.0), glacier::Recession(p.kfirn_els, 60.0),
                         glacier::Recession(p.ksnow_els, 60.0)};
    const double heldBefore = glacier::StoredWater(m->Qice[1], e[0]) + glacier::StoredWater(m->Qfirn[1], e[1]) +
                              glacier::StoredWater(m->Qsnow[1], e[2]);
    const ModelDate d = StepDate(step, 60);
    m->Run(d);
    m->PostRun(d);
    // Input of the storages: the melt and snow outflow of the glacier cells, per glacier area.
    double input = 0.0;
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 2; ++c)
        if (g.iceFirn[r][c] > 0.0)
          input += g.b.Grid("melt_from_ice")[r][c] + g.b.Grid("melt_from_firn")[r][c] +
                   g.b.Grid("SnowMelt_onGlacier")[r][c];
    input /= 3.0;
    const double held = glacier::StoredWater(m->Qice[1], e[0]) + glacier::StoredWater(m->Qfirn[1], e[1]) +
                        glacier::StoredWater(m->Qsnow[1], e[2]);
    const double out = m->Qice[1] + m->Qfirn[1] + m->Qsnow[1];
    ASSERT_NEAR(input, held - heldBefore + out, 1e-9 * (1.0 + input + held)) << "step " << step;
    ASSERT_DOUBLE_EQ(g.row[1], out * share);
    ASSERT_EQ(g.row[2], -77.0);
    // Glacier cells give nothing to the soil.
    ASSERT_EQ(g.b.Grid("snowcover_outflow")[1][1], 0.0);
  }
  EXPECT_GT(g.row[1], 0.0);
}

// Every step and glacier cell: each part's snow balances its snowfall and rainfall (over the
// basin when slides move snow between cells), the firn layers lose exactly the firn melt,
// and the mass balance follows the glacier part's snow and firn, less the ice melt.
TEST(GlacierDynamic, CellWaterBalanceOfBothPartsEveryStep) {
  struct Case {
    const char* glacierMethod;
    int snowMethod, interval;
    bool slides;
  } cases[] = {{"11", 1, 60, false},  {"12", 1, 60, false},     {"13", 2, 60, false},
               {"13", 11, 60, false}, {"113", 5, 1440, false}, {"13", 10, 1440, false},
               {"13", 8, 60, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string("glacier method ") + k.glacierMethod + ", snow method " + std::to_string(k.snowMethod));
    TempDir dir;
    CapturedLog log;
    DynamicBasin d;
    d.b.Add("global_radiation", 0.0);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c)
        if (d.fraction[r][c] == 0.0 && u(rng) < 0.5) {
          d.fraction[r][c] = u(rng);
          d.codes[r][c] = c <= 2 ? 3 : 5;
        }
    std::string section = DynamicIceFirn(k.glacierMethod);
    if (std::string(k.glacierMethod) == "113") {
      // Per-sub-basin rows: the 16 rows of the codes 1 and 2, then the dynamic settings.
      const std::string global = DynamicIceFirn("113");
      const size_t tail = global.find("firn.asc");
      std::string rows = kTableRows;
      rows.replace(rows.find("2000 2000\n0.1 0.1"), 17, "1100 1100\n0.01 0.01");
      section = "[ice_firn]\n113\n" + rows + global.substr(tail);
    }
    int error = 0;
    auto m = MakeSnowModel(d.b, log.log(), dir.path(), JoinLines(SnowSectionLines(k.snowMethod, k.interval)) + section,
                           error);
    ASSERT_EQ(error, 0) << log.console();
    m->SetSubbasinRunoff(&d.runoff);
    const char* names[] = {"snowstorage_solid", "snowstorage_liquid", "SolidSnowStorage_onGlacier",
                           "LiquidSnowStorage_onGlacier", "firn_WE_stack", "GlacierMassBalance"};
    double** g[6];
    for (int n = 0; n < 6; ++n) g[n] = d.b.Grid(names[n]);
    auto value = [&](int n, int r, int c) { return g[n][r][c] == SnowBasin::N ? 0.0 : g[n][r][c]; };
    double iceMelt = 0.0, firnMelt = 0.0, glacierOutflow = 0.0, slid = 0.0;
    // The daily case stops before the evaluation on 30 September: the annual update moves
    // mass balance between cells.
    for (int step = 1; step <= (k.interval == 1440 ? 272 : 400); ++step) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          d.b.Grid("temperature")[r][c] = -8.0 + 20.0 * u(rng);
          d.b.Grid("temperature_night")[r][c] = -10.0 + 14.0 * u(rng);
          d.b.Grid("precipitation")[r][c] = u(rng) < 0.6 ? 0.0 : 3.0 * u(rng);
          d.b.Grid("wind_speed")[r][c] = 5.0 * u(rng);
          d.b.Grid("AspectCorrectedGlobalRadiation")[r][c] = 600.0 * u(rng);
          d.b.Grid("global_radiation")[r][c] = 600.0 * u(rng);
          d.b.Grid("deposition_index")[r][c] = 0.2 * u(rng);
          if (k.slides) {
            d.b.Grid("slope_angle")[r][c] = 60.0 * u(rng);
            for (int n = 1; n <= 4; ++n) d.b.Grid("slidefraction" + std::to_string(n))[r][c] = u(rng);
          }
        }
      double before[13][6];
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c)
          for (int n = 0; n < 6; ++n) before[r * 4 + c - 4][n] = value(n, r, c);
      // Without an energy balance on the glacier, evapotranspiration takes snow from it first.
      if (!(snow::IsEnergyBalance(k.snowMethod) && std::string(k.glacierMethod).back() == '3'))
        for (int r = 1; r <= 3; ++r)
          for (int c = 1; c <= 4; ++c) {
            double& solid = d.b.Grid("SolidSnowStorage_onGlacier")[r][c];
            const double take = solid > 0.0 ? std::min(solid, 0.05 * u(rng)) : 0.0;
            solid -= take;
            d.b.Grid("SnowEvaporation_onGlacier")[r][c] = take;
          }
      const ModelDate date = StepDate(step, k.interval);
      m->Run(date);
      m->PostRun(date);
      double basin = 0.0, scale = 1.0;  // input less what both parts of every cell kept or gave
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          if (!d.b.Inside(r, c)) continue;
          const double* was = before[r * 4 + c - 4];
          const double g = std::min(1.0, d.fraction[r][c]);
          const double input = d.b.Grid("snow_fraction")[r][c] + d.b.Grid("rain_fraction")[r][c];
          const bool ownSnowMethod = g == 0.0 || std::string(k.glacierMethod).back() == '3';
          const double evaporation =
              snow::IsEnergyBalance(k.snowMethod) && ownSnowMethod ? d.b.Grid("snow_evaporation")[r][c] : 0.0;
          const double evaporationOnGlacier = d.b.Grid("SnowEvaporation_onGlacier")[r][c];
          // The snow cover's outflow is the cell's: (1 - g) times that of the free part.
          const double out = d.b.Grid("snowcover_outflow")[r][c];
          const double outG = d.b.Grid("SnowMelt_onGlacier")[r][c];
          const double firn = d.b.Grid("melt_from_firn")[r][c], ice = d.b.Grid("melt_from_ice")[r][c];
          const double kept = value(0, r, c) + value(1, r, c) - was[0] - was[1] + evaporation;
          const double onGlacier = value(2, r, c) + value(3, r, c) - was[2] - was[3] + outG + evaporationOnGlacier;
          basin += input - (1.0 - g) * kept - out - g * onGlacier;
          scale += input + was[0] + was[2];
          if (!(g > 0.0)) continue;
          const double tolerance = 1e-9 * (1.0 + std::fabs(was[5]) + was[0] + was[2]);
          if (g == 1.0) {
            ASSERT_EQ(out, 0.0) << "a whole-glacier cell gives the soil nothing";
          }
          if (!k.slides && g < 1.0) {
            ASSERT_NEAR(input, kept + out / (1.0 - g), tolerance)
                << "free part, step " << step << " cell " << r << "," << c;
          }
          if (!k.slides) {
            ASSERT_NEAR(input, onGlacier, tolerance) << "glacier part, step " << step << " cell " << r << "," << c;
          }
          ASSERT_NEAR(was[4] - value(4, r, c), firn, tolerance) << "firn, step " << step;
          // The mass balance follows the glacier part's snow and firn, less the ice melt.
          ASSERT_NEAR(value(5, r, c) - was[5], value(2, r, c) + value(3, r, c) - was[2] - was[3] - firn - ice, tolerance)
              << "mass balance, step " << step;
          ASSERT_GE(ice, 0.0);
          ASSERT_GE(firn, 0.0);
          iceMelt += ice;
          firnMelt += firn;
          glacierOutflow += outG;
        }
      ASSERT_NEAR(basin, 0.0, 1e-9 * scale) << "basin, step " << step;
      if (k.slides) slid += d.b.Grid("input_mass")[1][1] + d.b.Grid("input_mass")[1][2];
    }
    if (k.slides) {
      EXPECT_GT(slid, 0.0);
    }
    // Each path was taken: ice, firn and snow melt on the glacier.
    EXPECT_GT(iceMelt, 0.0);
    EXPECT_GT(firnMelt, 0.0);
    EXPECT_GT(glacierOutflow, 0.0);
    EXPECT_GT(d.row[1], 0.0);
    m.Release();
  }
}

// With snow held in the canopy, the interception module hands the snow model "throughfall0",
// in which the glacier part of a cell already has its share of the precipitation, and the
// snow unloaded from the canopy of the part without glacier. A partly glaciated cell takes
// that snow once: per cell, throughfall + (1 - g) x unloaded snow enter its two parts. The
// canopy stands on the free part only: the glacier part melts in the open air while the
// free part stays frozen in the cold air below the canopy.
TEST(GlacierDynamic, CanopySnowOfAPartlyGlaciatedCellCountsOnce) {
  for (const char* method : {"11", "12", "13"}) {
    SCOPED_TRACE(std::string("glacier method ") + method);
    TempDir dir;
    CapturedLog log;
    DynamicBasin d;
    d.b.Add("global_radiation", 100.0);
    d.b.Add("Snow_canopy_temperature", -10.0);
    double** throughfall = d.b.Add("throughfall0", 0.0);
    double** unload = d.b.Grid("Snow_canopy_unload_solid");
    int error = 0;
    auto m = d.Make(log.log(), dir.path(), DynamicIceFirn(method), error);
    ASSERT_EQ(error, 0) << log.console();
    m->inputsLinked = false;
    m->SetSnowInterceptionFlag(1);
    const char* names[] = {"snowstorage_solid", "snowstorage_liquid", "SolidSnowStorage_onGlacier",
                           "LiquidSnowStorage_onGlacier"};
    auto cellSnow = [&](int r, int c) {
      const double g = std::min(1.0, d.fraction[r][c]);
      return (1.0 - g) * (d.b.Grid(names[0])[r][c] + d.b.Grid(names[1])[r][c]) +
             g * (d.b.Grid(names[2])[r][c] + d.b.Grid(names[3])[r][c]);
    };
    double freeOutflow = 0.0, glacierMelt = 0.0;
    for (int step = 1; step <= 48; ++step) {
      double before[4][5];
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          d.b.Grid("temperature")[r][c] = step < 24 ? -4.0 : 15.0 + 0.1 * c;
          throughfall[r][c] = 1.0 + 0.2 * r;
          unload[r][c] = step % 2 == 0 ? 0.7 : 0.0;
          before[r][c] = cellSnow(r, c);
        }
      m->Run(StepDate(step, 60));
      m->PostRun(StepDate(step, 60));
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          if (!d.b.Inside(r, c)) continue;
          const double g = std::min(1.0, d.fraction[r][c]);
          const double out = d.b.Grid("snowcover_outflow")[r][c] + g * d.b.Grid("SnowMelt_onGlacier")[r][c];
          const double input = throughfall[r][c] + (1.0 - g) * unload[r][c];
          ASSERT_NEAR(cellSnow(r, c) - before[r][c] + out, input, 1e-12 * (1.0 + before[r][c]))
              << "step " << step << " cell " << r << "," << c << " glacier part " << g;
          freeOutflow += d.b.Grid("snowcover_outflow")[r][c];
          glacierMelt += g * (d.b.Grid("SnowMelt_onGlacier")[r][c] + d.b.Grid("melt_from_ice")[r][c] +
                              d.b.Grid("melt_from_firn")[r][c]);
        }
    }
    EXPECT_EQ(freeOutflow, 0.0);
    EXPECT_GT(glacierMelt, 1.0);
    m.Release();
  }
}

// A glacier fraction that changes (as the annual update changes it) moves the snow of the
// area that changes side: the snow of every cell stays what it was.
TEST(GlacierDynamic, ChangedGlacierFractionKeepsTheSnowOfTheCell) {
  TempDir dir;
  CapturedLog log;
  DynamicBasin d;
  int error = 0;
  auto m = d.Make(log.log(), dir.path(), DynamicIceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      d.b.Grid("temperature")[r][c] = r == 2 ? 0.8 : -3.0;  // liquid water in row 2
      d.b.Grid("precipitation")[r][c] = 10.0 + r + c;
    }
  for (int step = 1; step <= 3; ++step) {
    m->Run(StepDate(step, 60));
    m->PostRun(StepDate(step, 60));
  }
  // Parts with different snow (as melt on the glacier and slides make them).
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) d.b.Grid("SolidSnowStorage_onGlacier")[r][c] *= 2.0 + r;
  m->Run(StepDate(4, 60));
  // (1,1) shrinks from 1 to 0.3, (1,2) grows from 0.6 to 1, (2,1) leaves, (1,4) joins.
  const double changed[][3] = {{1, 1, 0.3}, {1, 2, 1.0}, {2, 1, 0.0}, {1, 4, 0.45}};
  double snowBefore[4];
  auto cellSnow = [&](int r, int c) {
    const double g = d.fraction[r][c];
    return (1.0 - g) * d.b.Grid("snow_storage_total")[r][c] + g * d.b.Grid("TotalSnowStorage_onGlacier")[r][c];
  };
  for (int k = 0; k < 4; ++k) {
    const int r = static_cast<int>(changed[k][0]), c = static_cast<int>(changed[k][1]);
    snowBefore[k] = cellSnow(r, c);
    d.fraction[r][c] = changed[k][2];
  }
  m->PostRun(StepDate(4, 60));
  for (int k = 0; k < 4; ++k) {
    const int r = static_cast<int>(changed[k][0]), c = static_cast<int>(changed[k][1]);
    SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
    EXPECT_NEAR(cellSnow(r, c), snowBefore[k], 1e-12 * snowBefore[k]);
    EXPECT_DOUBLE_EQ(d.b.Grid("snow_storage_total")[r][c],
                     d.b.Grid("snowstorage_solid")[r][c] + d.b.Grid("snowstorage_liquid")[r][c]);
  }
  EXPECT_GT(snowBefore[0], 0.0);
  // The cell that left its glacier holds its snow, liquid water too, in the free part only;
  // the cell now wholly glacier in the glacier part only.
  EXPECT_GT(d.b.Grid("snowstorage_liquid")[2][1], 0.0);
  EXPECT_EQ(d.b.Grid("TotalSnowStorage_onGlacier")[2][1], 0.0);
  EXPECT_EQ(d.b.Grid("snow_storage_total")[1][2], 0.0);
}

// The glacier storages keep their water (mm times cells) when the annual update changes the
// glacier area of their sub-basin: a year that shrinks the glaciers and one that grows them,
// step by step (input = change of the water held + outflow). A sub-basin whose last glacier
// cell is gone drains what its storages still hold into its runoff.
TEST(GlacierDynamic, GlacierStoragesKeepTheirWaterAcrossTheUpdate) {
  std::string section = DynamicIceFirn();
  section.replace(section.find("3.0\n3.0\n3.0\n"), 12, "300.0\n600.0\n150.0\n");  // storage constants in h
  for (const double warmth : {9.0, -2.0}) {
    SCOPED_TRACE(warmth > 0.0 ? "glaciers shrink" : "glaciers grow");
    TempDir dir;
    CapturedLog log;
    DynamicBasin d;
    int error = 0;
    auto m = MakeSnowModel(d.b, log.log(), dir.path(), JoinLines(SnowSectionLines(1, 1440)) + section, error);
    ASSERT_EQ(error, 0) << log.console();
    m->SetSubbasinRunoff(&d.runoff);
    const glacier::SubbasinParameters& p = m->glacierParams[1];
    const double e[3] = {glacier::Recession(p.kice_els, 1440.0), glacier::Recession(p.kfirn_els, 1440.0),
                         glacier::Recession(p.ksnow_els, 1440.0)};
    auto held = [&](size_t k) {
      return m->GlacierStorageArea(k) * (glacier::StoredWater(m->Qice[k], e[0]) +
                                         glacier::StoredWater(m->Qfirn[k], e[1]) +
                                         glacier::StoredWater(m->Qsnow[k], e[2]));
    };
    // One step at temperature T and precipitation P; checks every sub-basin's storages.
    auto step = [&](int k, double T, double P) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          d.b.Grid("temperature")[r][c] = T + 0.3 * c;
          d.b.Grid("temperature_night")[r][c] = T - 4.0;
          d.b.Grid("precipitation")[r][c] = P;
        }
      const double before[3] = {0.0, held(1), held(2)};
      double g[4][5];  // the glacier parts of the step (the update at its end changes them)
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) g[r][c] = std::min(1.0, std::max(0.0, d.fraction[r][c]));
      m->Run(DailyDate(k));
      m->PostRun(DailyDate(k));
      double input[3] = {0.0, 0.0, 0.0};
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          const int sub = static_cast<int>(d.b.Grid("zonegrid_soilmodel")[r][c]);
          if (sub >= 1 && g[r][c] > 0.0)
            input[sub] += g[r][c] * (d.b.Grid("melt_from_ice")[r][c] + d.b.Grid("melt_from_firn")[r][c] +
                                     d.b.Grid("SnowMelt_onGlacier")[r][c]);
        }
      for (size_t sub = 1; sub <= 2; ++sub) {
        if (!m->glacierStorages[sub]) continue;
        const double out = d.row[sub] * m->glacierCellCount[sub];
        ASSERT_NEAR(input[sub], held(sub) - before[sub] + out, 1e-9 * (1.0 + input[sub] + before[sub]))
            << "sub-basin " << sub << ", step " << k;
      }
    };
    const double area[3] = {0.0, m->glacierSum[1], m->glacierSum[2]};
    double heldAtUpdate = 0.0;
    for (int k = 1; k <= 304; ++k) {
      if (k == 273) heldAtUpdate = held(1) + held(2);  // 30 September
      step(k, warmth + 6.0 * std::sin(2.0 * M_PI * (k - 100) / 365.0), k % 4 == 0 ? (warmth > 0.0 ? 2.0 : 40.0) : 0.0);
    }
    ASSERT_NE(log.console().find("glaciers changed"), std::string::npos);
    EXPECT_GT(heldAtUpdate, 1.0);
    for (int sub = 1; sub <= 2; ++sub)
      if (warmth > 0.0)
        EXPECT_LT(m->glacierSum[sub], area[sub]) << sub;
      else
        EXPECT_GT(m->glacierSum[sub], area[sub]) << sub;
    if (warmth < 0.0) continue;
    // Sub-basin 2 loses its glacier cells (its glacier stays in the inventory): the storages'
    // water is kept, now over the whole sub-basin, and drains into its runoff.
    const double kept = held(2);
    for (int r = 1; r <= 3; ++r)
      for (int c = 3; c <= 4; ++c) d.fraction[r][c] = std::min(0.0, d.fraction[r][c]);
    m->RecountGlacierSharesKeepingStorages();
    EXPECT_EQ(m->hasGlacier[2], 0);
    EXPECT_EQ(m->GlacierSubbasins()[2], 1);
    EXPECT_NEAR(held(2), kept, 1e-12 * kept);
    double drained = 0.0;
    for (int k = 305; k <= 330; ++k) {
      step(k, -20.0, 0.0);
      drained += d.row[2] * m->glacierCellCount[2];
    }
    EXPECT_NEAR(drained + held(2), kept, 1e-9 * kept);
    EXPECT_GT(drained, 0.1 * kept);
    m.Release();
  }
}

// With the glacier readgrid flag 1 the firn stack, the mass balances and the snow on the
// glaciers come from files: the stack's levels replace firn_levels of the control file.
TEST(GlacierDynamic, GlacierStateGridsAreReadBack) {
  TempDir dir;
  WorkingDirectory here(dir.path());  // the grid reader notes its filled cells in the working folder
  CapturedLog log;
  DynamicBasin first, second;
  int error = 0;
  auto a = first.Make(log.log(), dir.path(), DynamicIceFirn("11", "30 9", "28.5 1.36 4 0", "5 1100 0.01"), error);
  ASSERT_EQ(error, 0) << log.console();
  for (int step = 1; step <= 30; ++step) {
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        first.b.Grid("temperature")[r][c] = 4.0 * std::sin(0.4 * step) + r;
        first.b.Grid("precipitation")[r][c] = step % 4 == 0 ? 5.0 : 0.0;
      }
    a->Run(StepDate(step, 60));
    a->PostRun(StepDate(step, 60));
  }
  const GridRecord& stack = a->grids[a->FindGrid("firn_WE_stack")];
  a->WriteStack(dir.file("firnstack.asc"), stack.stack, stack.stackLevels, true, false, false);
  const char* state[][2] = {{"GlacierMassBalance", "mb.asc"},
                            {"OldGlacierMassBalance", "mbold.asc"},
                            {"SolidSnowStorage_onGlacier", "g0.asc"},
                            {"LiquidSnowStorage_onGlacier", "g1.asc"},
                            {"TotalSnowStorage_onGlacier", "g2.asc"}};
  for (const auto& g : state) a->WriteGrid(dir.file(g[1]), first.b.Grid(g[0]), true, false, false);

  std::string section = DynamicIceFirn("11", "30 9", "28.5 1.36 4 0", "3 1100 0.01");
  section.replace(section.find("0 # readgrid"), 1, "1");
  for (const char* name : {"firnstack.asc", "mb.asc", "mbold.asc", "g0.asc", "g1.asc", "g2.asc"})
    section.replace(section.find(std::string("\n") + name) + 1, std::strlen(name), dir.file(name));
  auto b = second.Make(log.log(), dir.path(), section, error);
  ASSERT_EQ(error, 0) << log.console();
  EXPECT_EQ(b->firnLevels, 5);
  const GridRecord& read = b->grids[b->FindGrid("firn_WE_stack")];
  EXPECT_EQ(read.stackLevels, 5);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      for (int l = 0; l <= 5; ++l)
        EXPECT_NEAR(read.stack[r][c][l], stack.stack[r][c][l], 1e-5 * (1.0 + std::fabs(stack.stack[r][c][l])));
      EXPECT_EQ(read.data[r][c], read.stack[r][c][0]);
      if (!first.b.Inside(r, c)) continue;
      for (const auto& g : state) EXPECT_NEAR(second.b.Grid(g[0])[r][c], first.b.Grid(g[0])[r][c], 1e-4) << g[0];
    }
  EXPECT_GT(first.b.Grid("GlacierMassBalance")[1][1], 1.0);
  a.Release();
  b.Release();

  // A state grid that does not lie on the basin is refused, not resampled.
  WriteTextFile(dir.file("g1.asc"), "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\nNODATA_value -9999\n"
                                    "0 0\n0 0\n");
  DynamicBasin third;
  auto c = third.Make(log.log(), dir.path(), section, error);
  EXPECT_EQ(error, 24);
  EXPECT_NE(log.console().find(dir.file("g1.asc")), std::string::npos) << log.console();
}

// The glacier grids and statistics files of a run are the same for every thread count,
// and the total glacier melt file holds the runoff given to the soil model's record.
TEST(GlacierDynamic, StatisticsFilesAndThreadCounts) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  auto run = [](int threads, std::vector<double>& grids, std::string& files, std::vector<double>& runoff) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    TempDir dir;
    CapturedLog log;
    DynamicBasin d;
    d.b.Add("global_radiation", 200.0);
    int error = 0;
    auto m = d.Make(log.log(), dir.path(), DynamicIceFirn("13", "30 9", "28.5 1.36 4 0", "3 1100 0.01", "2001"), error);
    ASSERT_EQ(error, 0) << log.console();
    for (int step = 1; step <= 48; ++step) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          d.b.Grid("temperature")[r][c] = 3.0 * std::sin(0.3 * step + r) + c;
          d.b.Grid("precipitation")[r][c] = step % 5 == 0 ? 2.0 + r : 0.0;
        }
      m->Run(StepDate(step, 60));
      m->PostRun(StepDate(step, 60));
      runoff.push_back(d.row[1]);
      runoff.push_back(d.row[2]);
    }
    for (const char* name : {"SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier", "SnowMelt_onGlacier",
                             "melt_from_ice", "melt_from_firn", "firn_WE_stack", "GlacierMassBalance",
                             "snowstorage_solid"})
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) grids.push_back(d.b.Grid(name)[r][c]);
    m->WriteStatistics();
    m.Release();
    for (const char* f : {"qfirn.stat", "qice.stat", "qglac.out", "qsog.stat", "firn.stat", "mb1.stat", "mb2.stat",
                          "sog.stat"})
      files += std::string(f) + ":\n" + ReadTextFile(dir.file(f));
    omp_set_num_threads(saved);
  };
  std::vector<double> grids1, grids4, runoff1, runoff4;
  std::string files1, files4;
  run(1, grids1, files1, runoff1);
  run(4, grids4, files4, runoff4);
  ASSERT_EQ(grids1.size(), grids4.size());
  EXPECT_EQ(std::memcmp(grids1.data(), grids4.data(), grids1.size() * sizeof(double)), 0);
  EXPECT_EQ(runoff1, runoff4);
  EXPECT_EQ(files1, files4);
  for (const char* title : {"glacier_melt_total(firn+ice)__", "WE_in_firn_[mm_per_subbasin]",
                            "glacier_mass_balance_[mm_GlacierPartOfSubbasin]", "snow_storage_in_mm_WITHOUT_GLACIERS_"})
    EXPECT_NE(files1.find(title), std::string::npos) << title;
  // The last row of the total glacier melt: the runoff of both sub-basins at 5 decimals.
  const size_t start = files1.find("qglac.out:\n"), end = files1.find("qsog.stat:\n");
  const std::string qglac = files1.substr(start, end - start);
  const std::string last = qglac.substr(qglac.rfind('\n', qglac.size() - 2) + 1);
  char expected[64];
  std::snprintf(expected, sizeof expected, "\t%.5f\t%.5f", runoff1[runoff1.size() - 2], runoff1.back());
  EXPECT_NE(last.find(expected), std::string::npos) << last << " expected " << expected;
  EXPECT_GT(runoff1.back(), 0.0);
}

// --- the storage file -------------------------------------------------------------------

TEST(GlacierState, SectionRoundTripsAndRescales) {
  TempDir dir;
  CapturedLog log;
  GlacierBasin g;
  int error = 0;
  auto m = g.Make(log.log(), dir.path(), IceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  m->Qice[1] = 0.1 + 1.0 / 3.0;
  m->Qfirn[2] = 1e-300;
  m->Qsnow[1] = 12345.678901234567;
  // The albedo of the cells of the sub-basins (11: one cell lies outside) follows them.
  double** albedo = g.b.Grid("albedo");
  albedo[3][4] = 0.1 + 1.0 / 3.0;
  const std::string text = m->StorageSectionText();
  EXPECT_EQ(text.rfind("[snow_model_v2]\n2 (number of subasins)\n60.000 (timestep in minutes)\n1\t0.43333333333333335(TG", 0), 0u);
  EXPECT_NE(text.find("\t0.125(TG code and Qsnow_slr value)\n"), std::string::npos);
  EXPECT_NE(text.find("value)\n11 (cells: albedo at the end of the step)\n0.20000000000000001\n"), std::string::npos);
  m->Qice[1] = m->Qfirn[2] = m->Qsnow[1] = 0.0;
  albedo[3][4] = 0.2;
  m->RestoreStorageSection("[routing_model_v2]\nx\n" + text, "s.txt");
  EXPECT_EQ(m->StorageSectionText(), text);
  EXPECT_EQ(albedo[3][4], 0.1 + 1.0 / 3.0);

  // Written by a 60-minute run, read by a 15-minute one: outflows per step divided by 4.
  TempDir dir15;
  GlacierBasin g15;
  auto m15 = MakeSnowModel(g15.b, log.log(), dir15.path(), JoinLines(SnowSectionLines(1, 15)) + IceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  m15->RestoreStorageSection(text, "s.txt");
  EXPECT_EQ(m15->Qice[1], (0.1 + 1.0 / 3.0) / 4.0);
  EXPECT_EQ(m15->Qsnow[2], 0.125 / 4.0);
  EXPECT_EQ(g15.b.Grid("albedo")[3][4], 0.1 + 1.0 / 3.0);  // not a flow: as stored
  g15.b.Grid("albedo")[3][4] = 0.2;

  // The older section: no time step, the values as stored, no albedo.
  m15->RestoreStorageSection("[snow_model]\n2\n1 1.5\n1 2\n1 3\n2 4\n2 5\n2 6\n", "old.txt");
  EXPECT_EQ(m15->Qice[1], 1.5);
  EXPECT_EQ(m15->Qsnow[2], 6.0);
  EXPECT_NE(log.console().find("looking now for [snow_model] in old.txt"), std::string::npos);
  EXPECT_NE(log.console().find("old.txt does not hold the albedo of the cells"), std::string::npos);
  EXPECT_EQ(g15.b.Grid("albedo")[3][4], 0.2);
}

TEST(GlacierState, BadSectionsStopTheRun) {
  const std::string good = "[snow_model_v2]\n2 (n)\n60.000 (dt)\n1\t1(a)\n1\t1(b)\n1\t1(c)\n2\t1(a)\n2\t1(b)\n2\t1(c)\n";
  std::string cells;
  for (int k = 0; k < 11; ++k) cells += "0.5\n";
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  } cases[] = {
      {"no section", "[soil_model]\n1\n", "neither the section"},
      {"other count", "[snow_model_v2]\n3\n60\n", "number of subbasins:\nvalue in actual control is:   2"},
      {"count unreadable", "[snow_model_v2]\nthree\n", "reading number of subbasins in the part [snow_model_v2] of s.txt: line 2 holds \"three\""},
      {"step 0", "[snow_model_v2]\n2\n0\n", "must be above 0"},
      {"step unreadable", "[snow_model_v2]\n2\n\n", "timestep in minutes in the part [snow_model_v2] of s.txt: the file ends at line 3"},
      {"wrong position", "[snow_model_v2]\n2\n60\n2\t1\n", "subbasin code:\nvalue in actual control is:   1"},
      {"value missing", "[snow_model_v2]\n2\n60\n1\t1\n1\n", "Qfirn_slr of subbasin 1"},
      {"section cut short", good.substr(0, good.size() - 12), "Qfirn_slr of subbasin 2"},
      {"albedo of other cells", good + "12 (cells: albedo at the end of the step)\n" + cells + "0.5\n",
       "number of cells of the albedo:\nvalue in actual control is:   11"},
      {"albedo cut short", good + "11 (cells: albedo at the end of the step)\n" + cells.substr(4), "the albedo of the cells"},
      {"albedo not a number", good + "11 (cells: albedo at the end of the step)\nnan\n" + cells.substr(4),
       "the albedo of the cells"},
      // A number is its whole word; a remark may follow it, as "(a)" does above.
      {"a number that goes on as a word", "[snow_model_v2]\n2\n60\n1\t1d3(a)\n",
       "Qice_slr of subbasin 1 in the part [snow_model_v2] of s.txt: line 4 holds \"1d3(a)\""},
      {"a decimal comma", good + "11 (cells: albedo at the end of the step)\n0,5\n" + cells.substr(4),
       "the albedo of the cells in the part [snow_model_v2] of s.txt: line 11 holds \"0,5\""},
  };
  TempDir dir;
  CapturedLog log;
  GlacierBasin g;
  int error = 0;
  auto m = g.Make(log.log(), dir.path(), IceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int code = 0;
    try {
      m->RestoreStorageSection(c.text, "s.txt");
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 71);
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
    // A section that failed leaves the initial values.
    EXPECT_EQ(m->Qice[1], 0.5);
    EXPECT_EQ(g.b.Grid("albedo")[1][1], 0.2);
  }
}

TEST(GlacierState, ReadFlagsAndTheWriteAtTheEnd) {
  TempDir dir;
  CapturedLog log;
  GlacierBasin g;
  int error = 0;
  StorageFile storage;
  auto m = g.Make(log.log(), dir.path(), IceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  m->storage = &storage;
  // A missing file: cold start with a warning.
  m->output.initialStateDirectory = dir.path() + "/";
  m->ReadStorageFile("absent.txt", 1);
  EXPECT_NE(log.console().find("glacier model will be run with cold start initialization values"),
            std::string::npos);
  // Flag 2 reads nothing but keeps the name: the state of this run is written.
  m->ReadStorageFile("state.txt", 2);
  EXPECT_EQ(m->Qice[1], 0.5);
  m->Qice[1] = 0.75;
  const std::string expected = m->StorageSectionText();
  m.Release();
  EXPECT_EQ(storage.Text(dir.path() + "/state.txt"), expected);
}

// A run of 2N steps equals a run of N steps, its storage section and N more steps.
TEST(GlacierState, WarmStartContinuesTheRun) {
  auto weather = [](GlacierBasin& g, int step) {
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        g.b.Grid("temperature")[r][c] = 2.0 + 3.0 * std::sin(0.1 * step + r + c);
        g.b.Grid("precipitation")[r][c] = 0.0;
      }
  };
  const int N = 200;
  CapturedLog log;
  TempDir d1, d2, d3;
  int error = 0;
  GlacierBasin whole, first, second;
  auto a = whole.Make(log.log(), d1.path(), IceFirn(), error);
  for (int s = 1; s <= 2 * N; ++s) {
    weather(whole, s);
    a->Run(StepDate(s, 60));
    a->PostRun(StepDate(s, 60));
  }
  auto b = first.Make(log.log(), d2.path(), IceFirn(), error);
  for (int s = 1; s <= N; ++s) {
    weather(first, s);
    b->Run(StepDate(s, 60));
    b->PostRun(StepDate(s, 60));
  }
  auto c = second.Make(log.log(), d3.path(), IceFirn(), error);
  ASSERT_EQ(error, 0) << log.console();
  c->RestoreStorageSection(b->StorageSectionText(), "state");
  for (int s = N + 1; s <= 2 * N; ++s) {
    weather(second, s);
    c->Run(StepDate(s, 60));
    c->PostRun(StepDate(s, 60));
  }
  for (int k = 1; k <= 2; ++k) {
    EXPECT_NEAR(c->Qice[k], a->Qice[k], 1e-12 * std::fabs(a->Qice[k]));
    EXPECT_NEAR(c->Qfirn[k], a->Qfirn[k], 1e-12 * std::fabs(a->Qfirn[k]));
    EXPECT_NEAR(c->Qsnow[k], a->Qsnow[k], 1e-12 * std::fabs(a->Qsnow[k]));
  }
  EXPECT_EQ(second.row[1], whole.row[1]);
}

// Dynamic glaciers over two years of daily steps equal a year, a warm start and the second
// year: the grids carry the state of the cells (copied here as the module's grid files
// would give them back; "GlacierizedCellsOld" and "GlacierCodesOld" start as copies), the
// storage file the glacier storages and the glaciers' areas and volumes. Both years pass
// the evaluation date, on which the glaciers change.
TEST(GlacierState, DynamicGlaciersContinueAcrossAWarmStart) {
  const auto date = DailyDate;
  auto run = [&](DynamicBasin& basin, schneemodellklasse& m, int from, int to) {
    for (int step = from; step <= to; ++step) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          const double season = std::cos(2.0 * M_PI * (step - 200) / 365.0);
          basin.b.Grid("temperature")[r][c] = -2.0 + 9.0 * season + std::sin(0.7 * step + r) - 0.4 * c;
          basin.b.Grid("temperature_night")[r][c] = basin.b.Grid("temperature")[r][c] - 4.0;
          basin.b.Grid("precipitation")[r][c] = step % 3 == 0 ? 4.0 + r : 0.0;
        }
      m.Run(date(step));
      m.PostRun(date(step));
    }
  };
  const std::string control = JoinLines(SnowSectionLines(1, 1440)) + DynamicIceFirn("11", "30 9");
  CapturedLog log;
  TempDir d1, d2, d3;
  int error = 0;
  DynamicBasin whole, first, second;
  auto a = MakeSnowModel(whole.b, log.log(), d1.path(), control, error);
  auto b = MakeSnowModel(first.b, log.log(), d2.path(), control, error);
  ASSERT_EQ(error, 0) << log.console();
  a->SetSubbasinRunoff(&whole.runoff);
  b->SetSubbasinRunoff(&first.runoff);
  run(whole, *a, 1, 730);
  run(first, *b, 1, 365);
  size_t updates = 0;
  for (size_t at = 0; (at = log.console().find("glaciers changed", at)) != std::string::npos; ++at) ++updates;
  EXPECT_EQ(updates, 3u);  // two years and one

  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      second.fraction[r][c] = first.fraction[r][c];
      second.codes[r][c] = first.codes[r][c];
    }
  auto c = MakeSnowModel(second.b, log.log(), d3.path(), control, error);
  ASSERT_EQ(error, 0) << log.console();
  c->SetSubbasinRunoff(&second.runoff);
  auto record = [](SnowBasin& basin, const std::string& name) -> GridRecord* {
    for (int p = 1; p <= kMaxGridPosition && basin.registry[p].registered; ++p)
      if (basin.registry[p].internalName == name) return &basin.registry[p];
    return nullptr;
  };
  for (int p = 1; p <= kMaxGridPosition && first.b.registry[p].registered; ++p) {
    const GridRecord& from = first.b.registry[p];
    GridRecord* to = record(second.b, from.internalName);
    if (!to || from.internalName == "GlacierizedCellsOld" || from.internalName == "GlacierCodesOld") continue;
    for (int r = 1; r <= 3; ++r)
      for (int col = 1; col <= 4; ++col) {
        to->data[r][col] = from.data[r][col];
        for (int l = 0; from.stack && l <= from.stackLevels; ++l) to->stack[r][col][l] = from.stack[r][col][l];
      }
  }
  const std::string state = b->StorageSectionText();
  ASSERT_NE(state.find("\n\n[glacier_inventory]\n2 (number of glaciers)\n3\t1(glacier code and subbasin)\n"),
            std::string::npos)
      << state;
  c->RestoreStorageSection(state, "state.txt");
  EXPECT_EQ(c->StorageSectionText(), state);
  {
    // Read by an hourly run: the outflows per step are divided by 24, the glaciers the same.
    DynamicBasin hourly;
    for (int r = 1; r <= 3; ++r)
      for (int col = 1; col <= 4; ++col) {
        hourly.fraction[r][col] = first.fraction[r][col];
        hourly.codes[r][col] = first.codes[r][col];
      }
    TempDir d4;
    auto h = MakeSnowModel(hourly.b, log.log(), d4.path(),
                           JoinLines(SnowSectionLines(1, 60)) + DynamicIceFirn("11", "30 9"), error);
    ASSERT_EQ(error, 0) << log.console();
    const double kept = b->Qsnow[2];
    b->Qsnow[2] = 2.4;
    h->RestoreStorageSection(b->StorageSectionText(), "state.txt");
    b->Qsnow[2] = kept;
    EXPECT_DOUBLE_EQ(h->Qsnow[2], 0.1);
    EXPECT_EQ(h->glacierInventory->StateText(), b->glacierInventory->StateText());
    h.Release();
  }
  run(second, *c, 366, 730);

  auto same = [](double x, double y) { return std::fabs(x - y) <= 1e-12 * std::max(std::fabs(x), 1.0); };
  for (int p = 1; p <= kMaxGridPosition && whole.b.registry[p].registered; ++p) {
    const GridRecord& x = whole.b.registry[p];
    const GridRecord* y = record(second.b, x.internalName);
    if (x.internalName == "GlacierCodesOld") continue;  // a warm start starts it from the codes
    ASSERT_NE(y, nullptr);
    for (int r = 1; r <= 3; ++r)
      for (int col = 1; col <= 4; ++col) {
        ASSERT_PRED2(same, x.data[r][col], y->data[r][col]) << x.internalName << " " << r << "," << col;
        for (int l = 0; x.stack && l <= x.stackLevels; ++l)
          ASSERT_PRED2(same, x.stack[r][col][l], y->stack[r][col][l]) << x.internalName << " level " << l;
      }
  }
  for (int k = 1; k <= 2; ++k) {
    EXPECT_PRED2(same, a->Qice[k], c->Qice[k]);
    EXPECT_PRED2(same, a->Qfirn[k], c->Qfirn[k]);
    EXPECT_PRED2(same, a->Qsnow[k], c->Qsnow[k]);
    EXPECT_PRED2(same, whole.row[k], second.row[k]);
  }
  EXPECT_EQ(c->glacierInventory->StateText(), a->glacierInventory->StateText());
}

// Dynamic glaciers with permafrost over two years of daily steps equal a year, a warm start
// and the second year, with the state going through the files the module writes at the end
// of the first year (double grids) and reads with its readgrids flags: the snow and glacier
// storages, the firn stack, the mass balances and the permafrost days. The glacier masks and
// the thaw depth's own grid are copied as their entries would carry them; the root depth
// is set anew every day, as the land-use update does.
TEST(GlacierState, DynamicGlaciersWithPermafrostContinueThroughTheirFiles) {
  const auto date = DailyDate;
  TempDir state;
  WorkingDirectory here(state.path());  // the grid reader notes its filled cells in the working folder
  auto control = [&](bool read) {
    std::vector<std::string> lines = SnowSectionLines(1, 1440, "2001");
    for (const char* name : {"solid.asc", "liquid.asc", "total.asc", "snowdays.asc", "snowage.asc"}) {
      const auto at = std::find(lines.begin(), lines.end(), name);
      *at = state.file(name);
      *(at + 1) = "3";
    }
    lines.back() = read ? "1 # readgrids" : "0 # readgrids";
    std::string glacier = DynamicIceFirn("13", "30 9", "28.5 1.36 4 0", "3 1100 0.01", "2001");
    glacier.replace(glacier.find("0 # readgrid"), 1, read ? "1" : "0");
    for (const char* name : {"firnstack.asc", "mb.asc", "mbold.asc", "g0.asc", "g1.asc", "g2.asc"})
      glacier.replace(glacier.find(std::string("\n") + name + "\n0\n"), std::strlen(name) + 4,
                      "\n" + state.file(name) + "\n3\n");
    return JoinLines(lines) + glacier +
           "[permafrost]\n1 # method\n20.0 # Min_Snow_Age_Refreeze\n5.0 # Max_SWE_SnowFree\nthaw.stat 2001\n1e-6\n";
  };
  struct Run {
    DynamicBasin d;
    TempDir out;
    ModuleOwner<schneemodellklasse> m;
    double** thaw = nullptr;
  };
  CapturedLog log;
  auto start = [&](Run& run, bool read, int endStep) {
    run.d.b.Add("ThawCoeffPermaFrost", 0.04);
    run.thaw = run.d.b.Add("PermafrostThawDepth", 0.3);
    run.d.b.Add("root_depth1", 0.6);
    run.d.b.Add("global_radiation", 150.0);
    int error = 0;
    run.m = MakeSnowModel(run.d.b, log.log(), run.out.path(), control(read), error);
    ASSERT_EQ(error, 0) << log.console();
    run.m->SetSubbasinRunoff(&run.d.runoff);
    run.m->output.writeDoubleGrids = true;
    const ModelDate end = date(endStep);
    run.m->SetEndDate(end.year, end.month, end.day, end.hour, end.minute);
  };
  auto steps = [&](Run& run, int from, int to) {
    for (int step = from; step <= to; ++step) {
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) {
          const double season = std::cos(2.0 * M_PI * (step - 200) / 365.0);
          run.d.b.Grid("temperature")[r][c] = -2.0 + 11.0 * season + std::sin(0.7 * step + r) - 0.4 * c;
          run.d.b.Grid("temperature_night")[r][c] = run.d.b.Grid("temperature")[r][c] - 4.0;
          run.d.b.Grid("precipitation")[r][c] = step % 3 == 0 ? 4.0 + r : 0.0;
          run.d.b.Grid("root_depth1")[r][c] = 0.6;
        }
      run.m->Run(date(step));
      run.m->PostRun(date(step));
    }
  };
  Run whole, first, second;
  start(whole, false, 730);
  start(first, false, 365);
  steps(whole, 1, 730);
  steps(first, 1, 365);
  const std::string storage = first.m->StorageSectionText();
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      second.d.fraction[r][c] = first.d.fraction[r][c];
      second.d.codes[r][c] = first.d.codes[r][c];
    }
  start(second, true, 730);
  second.m->RestoreStorageSection(storage, "state.txt");
  steps(second, 366, 730);
  whole.m->WriteStatistics();
  second.m->WriteStatistics();

  // The permafrost thawed and refroze in both years (a thaw depth of the first year was
  // carried into the second's first days).
  EXPECT_GT(whole.d.b.Grid("SnowFreeDaysGrid")[1][1] + whole.d.b.Grid("SnowCoverDaysGrid")[1][1], 0.0);
  EXPECT_NE(first.thaw[2][2], 0.3);
  for (int p = 1; p <= kMaxGridPosition && whole.d.b.registry[p].registered; ++p) {
    const GridRecord& x = whole.d.b.registry[p];
    if (x.internalName == "GlacierCodesOld") continue;  // a warm start starts it from the codes
    const GridRecord* y = nullptr;
    for (int q = 1; q <= kMaxGridPosition && second.d.b.registry[q].registered; ++q)
      if (second.d.b.registry[q].internalName == x.internalName) y = &second.d.b.registry[q];
    ASSERT_NE(y, nullptr) << x.internalName;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        ASSERT_EQ(std::memcmp(&x.data[r][c], &y->data[r][c], sizeof(double)), 0)
            << x.internalName << " " << r << "," << c << ": " << x.data[r][c] << " against " << y->data[r][c];
        for (int l = 0; x.stack && l <= x.stackLevels; ++l)
          ASSERT_EQ(x.stack[r][c][l], y->stack[r][c][l]) << x.internalName << " level " << l;
      }
  }
  EXPECT_EQ(whole.m->StorageSectionText(), second.m->StorageSectionText());
  for (int k = 1; k <= 2; ++k) EXPECT_EQ(whole.d.row[k], second.d.row[k]);
  // Every statistics file of the second year holds the whole run's last rows.
  auto rows = [](const std::string& text) {
    std::vector<std::string> dated;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.size() > 4 && line.compare(0, 3, "200") == 0) dated.push_back(line);
    return dated;
  };
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(second.out.path())) {
    const std::string name = entry.path().filename().string();
    const std::vector<std::string> restarted = rows(ReadTextFile(entry.path().string()));
    if (restarted.empty()) continue;
    ++files;
    std::vector<std::string> all = rows(ReadTextFile(whole.out.file(name)));
    ASSERT_EQ(all.size(), 730u) << name;
    all.erase(all.begin(), all.begin() + 365);
    EXPECT_EQ(all, restarted) << name;
  }
  EXPECT_GE(files, 10);
  for (Run* run : {&whole, &first, &second}) run->m.Release();
}

}  // namespace
