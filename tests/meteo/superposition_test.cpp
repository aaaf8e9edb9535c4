// Regional superposition: the section text, the region checks, the weighted sum per cell
// across thread counts, and the module with its output grid and statistics.
#include <gtest/gtest.h>

#include <omp.h>

#include <filesystem>
#include <memory>

#include "init/defaultini.h"
#include "meteo/superposition.h"
#include "small_basin.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

const char* kBlock =
    "  mixed {\n"
    "  entityinputgrid = gridA; regions = 1 2; weights = 0.3 1.0;\n"
    "  entityinputgrid = gridB;\tregions = 1 2 ; weights = 0.7 0.0;\n"
    "  outputgrid = mixed_out; writecode = 0; outputtable = mixed.stat; statcode = 1001;\n"
    "}\n";

TEST(SuperpositionText, NumberOfEntities) {
  int n = -1;
  EXPECT_TRUE(ParseNumberOfEntities("NumberOfEntities = 2; # two", n));
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(ParseNumberOfEntities("NumberOfEntities=0", n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(ParseNumberOfEntities("Entities = 2;", n));
  EXPECT_FALSE(ParseNumberOfEntities("NumberOfEntities = two;", n));
  EXPECT_FALSE(ParseNumberOfEntities("NumberOfEntities = -1;", n));
  EXPECT_FALSE(ParseNumberOfEntities("NumberOfEntities 2", n));
}

TEST(SuperpositionText, EntityBlock) {
  SuperpositionEntityText e;
  std::string why;
  ASSERT_TRUE(ParseEntityBlock(kBlock, e, why)) << why;
  EXPECT_EQ(e.name, "mixed");
  ASSERT_EQ(e.inputs.size(), 2u);
  EXPECT_EQ(e.inputs[0].gridName, "gridA");
  EXPECT_EQ(e.inputs[0].regionCodes, (std::vector<long>{1, 2}));
  EXPECT_EQ(e.inputs[0].weights, (std::vector<double>{0.3, 1.0}));
  EXPECT_EQ(e.inputs[1].gridName, "gridB");
  EXPECT_EQ(e.inputs[1].weights, (std::vector<double>{0.7, 0.0}));
  EXPECT_EQ(e.outputGrid, "mixed_out");
  EXPECT_EQ(e.writeCode, 0);
  EXPECT_EQ(e.outputTable, "mixed.stat");
  EXPECT_EQ(e.statCode, 1001);

  // An input grid whose name ends in "regions" is not taken for the key.
  ASSERT_TRUE(ParseEntityBlock("e { entityinputgrid = regression_regions; regions = 1; weights = 2;"
                               " outputgrid = o; writecode = 1; outputtable = t; statcode = 0 }",
                               e, why))
      << why;
  EXPECT_EQ(e.inputs[0].gridName, "regression_regions");
  EXPECT_EQ(e.inputs[0].regionCodes, (std::vector<long>{1}));

  struct Bad {
    const char* text;
    const char* why;
  };
  for (const Bad& b :
       {Bad{"e entityinputgrid = a; }", "no \"{\""}, Bad{"e { entityinputgrid = a;", "no closing"},
        Bad{"{ entityinputgrid = a; }", "no entity name"},
        Bad{"e { outputgrid = o; writecode = 1; outputtable = t; statcode = 0; }", "no \"entityinputgrid\""},
        Bad{"e { entityinputgrid = a; weights = 1; }", "no \"regions\""},
        Bad{"e { entityinputgrid = a; regions = 1 x; weights = 1; }", "not a whole number"},
        Bad{"e { entityinputgrid = a; regions = 1; weights = 1 nan; }", "not a number"},
        Bad{"e { entityinputgrid = a; regions = 1; weights = 1; writecode = 1; outputtable = t; statcode = 0; }",
            "no \"outputgrid\""},
        Bad{"e { entityinputgrid = a; regions = 1; weights = 1; outputgrid = o; writecode = x; }",
            "writecode"}}) {
    EXPECT_FALSE(ParseEntityBlock(b.text, e, why)) << b.text;
    EXPECT_NE(why.find(b.why), std::string::npos) << b.text << ": " << why;
  }
}

TEST(SuperpositionText, RegionListsMustMatchTheRegionGrid) {
  const std::vector<long> codes = {0, 3, 7};  // region 1 has code 3, region 2 code 7
  SuperpositionInput in;
  in.gridName = "g";
  in.regionCodes = {3, 7};
  in.weights = {1, 2};
  std::string m;
  EXPECT_EQ(CheckEntityRegions("RegionalSuperposition", "e", in, codes, m), 0);

  in.regionCodes = {3};
  EXPECT_EQ(CheckEntityRegions("RegionalSuperposition", "e", in, codes, m), 134);
  EXPECT_NE(m.find("\nerror reading regions in RegionalSuperposition entity: e, inputgrid g\nThe number of regions "
                   "here (1) does not equal the number of\nregions in the regiongrid (2)\n"),
            std::string::npos)
      << m;

  in.regionCodes = {7, 3};  // out of order
  EXPECT_EQ(CheckEntityRegions("RegionalSuperposition", "e", in, codes, m), 134);
  EXPECT_NE(m.find("region on position 1 in the region list should have value 3\nbut was read as 7"),
            std::string::npos)
      << m;

  in.regionCodes = {3, 5};  // not in the grid
  EXPECT_EQ(CheckEntityRegions("RegionalSuperposition", "e", in, codes, m), 134);
  EXPECT_NE(m.find("region on position 2 was read as 5\nThere is now region with this code in the region grid"),
            std::string::npos)
      << m;

  in.regionCodes = {3, 7};
  in.weights = {1};
  EXPECT_EQ(CheckEntityRegions("RegionalSuperposition", "e", in, codes, m), 135);
  EXPECT_NE(m.find("The number of regions (2) does not equal the number of weights (1)"), std::string::npos) << m;
}

// A grid of rows x cols filled with f(r, c).
template <class F>
MatrixOwner Grid(int rows, int cols, F f) {
  MatrixOwner m(rows, cols);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) m[r][c] = f(r, c);
  return m;
}

TEST(SuperpositionCells, WeightedSumsOverLevels) {
  const int rows = 2, cols = 3;
  MatrixOwner zone = Grid(rows, cols, [](int, int) { return 1.0; });
  zone[2][3] = -9999.0;
  MatrixOwner a = Grid(rows, cols, [](int r, int c) { return 10.0 * r + c; });
  MatrixOwner b = Grid(rows, cols, [](int r, int c) { return 100.0 + r - c; });
  // Level 1: region code 1 in column 1, code 2 elsewhere; level 2: the neighbour region,
  // 0 (none) in row 2.
  MatrixOwner reg1 = Grid(rows, cols, [](int, int c) { return c == 1 ? 1.0 : 2.0; });
  MatrixOwner w1 = Grid(rows, cols, [](int r, int) { return r == 1 ? 0.6 : 1.0; });
  MatrixOwner reg2 = Grid(rows, cols, [](int r, int c) { return r == 2 ? 0.0 : (c == 1 ? 2.0 : 1.0); });
  MatrixOwner w2 = Grid(rows, cols, [](int r, int) { return r == 1 ? 0.4 : 0.0; });
  MatrixOwner out = Grid(rows, cols, [](int, int) { return -1.0; });
  const std::vector<int> codeMap = {0, 1, 2};
  // weights: input a: region 1 0.3, region 2 1.0; input b: 0.7, 0.0
  const std::vector<double> weights = {0.3, 1.0, 0.7, 0.0};
  double** inputs[] = {a.get(), b.get()};
  SuperpositionLoop L;
  L.firstRow = 1;
  L.lastRow = rows;
  L.ncols = cols;
  L.zone = zone.get();
  L.levels = 2;
  L.regionGrid[1] = reg1.get();
  L.weightGrid[1] = w1.get();
  L.regionGrid[2] = reg2.get();
  L.weightGrid[2] = w2.get();
  L.codeMap = codeMap.data();
  L.maxCode = 2;
  L.regionCount = 2;
  L.inputCount = 2;
  L.inputs = inputs;
  L.weights = weights.data();
  L.out = out.get();
  RunSuperposition(L);
  auto mix1 = [&](int r, int c) { return 0.3 * a[r][c] + 0.7 * b[r][c]; };  // region 1
  auto mix2 = [&](int r, int c) { return 1.0 * a[r][c]; };                  // region 2
  EXPECT_NEAR(out[1][1], 0.6 * mix1(1, 1) + 0.4 * mix2(1, 1), 1e-12);  // transition cell
  EXPECT_NEAR(out[1][2], 0.6 * mix2(1, 2) + 0.4 * mix1(1, 2), 1e-12);
  EXPECT_NEAR(out[2][1], mix1(2, 1), 1e-12);  // level-2 code 0: level 1 only
  EXPECT_NEAR(out[2][2], mix2(2, 2), 1e-12);
  EXPECT_EQ(out[2][3], -1.0);  // outside the basin: kept

  // A level-1 code that is no region of the table adds nothing (and reads nothing).
  reg1[1][3] = 9.0;
  reg2[1][3] = -5.0;
  RunSuperposition(L);
  EXPECT_EQ(out[1][3], 0.0);
}

TEST(SuperpositionCells, TheSameForAnyThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int rows = 101, cols = 67, R = 3;
  MatrixOwner zone = Grid(rows, cols, [](int r, int c) { return (r + c) % 17 == 0 ? -9999.0 : 1.0; });
  MatrixOwner a = Grid(rows, cols, [](int r, int c) { return 0.1 * r + 0.37 * c; });
  MatrixOwner b = Grid(rows, cols, [](int r, int c) { return 1.0 / (r + c); });
  MatrixOwner reg[4], w[4];
  for (int k = 1; k <= 3; ++k) {
    reg[k] = Grid(rows, cols, [k](int r, int c) { return 1.0 + (r * k + c) % 3; });
    w[k] = Grid(rows, cols, [k](int r, int c) { return 0.1 * k + 0.01 * ((r + c) % 7); });
  }
  const std::vector<int> codeMap = {0, 1, 2, 3};
  const std::vector<double> weights = {0.2, 0.5, 0.9, 0.8, 0.5, 0.1};
  double** inputs[] = {a.get(), b.get()};
  MatrixOwner out(rows, cols);
  SuperpositionLoop L;
  L.firstRow = 1;
  L.lastRow = rows;
  L.ncols = cols;
  L.zone = zone.get();
  L.levels = 3;
  for (int k = 1; k <= 3; ++k) {
    L.regionGrid[k] = reg[k].get();
    L.weightGrid[k] = w[k].get();
  }
  L.codeMap = codeMap.data();
  L.maxCode = 3;
  L.regionCount = R;
  L.inputCount = 2;
  L.inputs = inputs;
  L.weights = weights.data();
  L.out = out.get();
  L.minParallelCells = 0;
  std::vector<double> first;
  for (int threads : {1, 2, 8}) {
    omp_set_num_threads(threads);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) out[r][c] = -7.0;
    RunSuperposition(L);
    std::vector<double> now;
    for (int r = 1; r <= rows; ++r) now.insert(now.end(), out[r] + 1, out[r] + cols + 1);
    if (first.empty())
      first = now;
    else
      EXPECT_EQ(now, first) << threads << " threads";
  }
  omp_set_num_threads(1);
}

// --- the module ----------------------------------------------------------------------

struct SuperpositionRun {
  TempDir dir;
  CapturedLog log;
  SmallBasin basin;
  RunValues run;
  MatrixOwner a{SmallBasin::kRows, SmallBasin::kCols}, b{SmallBasin::kRows, SmallBasin::kCols};
  MatrixOwner regions{SmallBasin::kRows, SmallBasin::kCols}, weights{SmallBasin::kRows, SmallBasin::kCols};
  // Two regions, codes 4 (columns 1 and 2) and 8, with the level-2 grids.
  MatrixOwner regions2{SmallBasin::kRows, SmallBasin::kCols}, weights2{SmallBasin::kRows, SmallBasin::kCols};
  ModuleOwner<RegionalSuperposition> module;
  int code = 0;

  SuperpositionRun() {
    for (int r = 1; r <= SmallBasin::kRows; ++r)
      for (int c = 1; c <= SmallBasin::kCols; ++c) {
        a[r][c] = r;
        b[r][c] = 10.0 * c;
        regions[r][c] = 4.0;  // one region of code 4
        weights[r][c] = 1.0;
      }
    basin.Register(6, a.get(), "gridA");
    basin.Register(7, b.get(), "gridB");
    basin.Register(8, regions.get(), "regression_regions");
    basin.Register(9, weights.get(), "regression_weights1");
    run.regionCount = 1;
    run.regionCodeMap = {0, 0, 0, 0, 1};
  }
  void TwoRegions() {
    run.regionCount = 2;
    run.regionCodeMap = {0, 0, 0, 0, 1, 0, 0, 0, 2};
    for (int r = 1; r <= SmallBasin::kRows; ++r)
      for (int c = 3; c <= SmallBasin::kCols; ++c) regions[r][c] = 8.0;
    basin.Register(10, regions2.get(), "regression_regions2");
    basin.Register(11, weights2.get(), "regression_weights2");
  }
  void Build(const std::string& body, int flow = 1) {
    WriteTextFile(dir.file("run.ctl"), "[RegionalSuperposition]\n" + std::to_string(flow) + " # flow control\n60\n" +
                                           body + "[next_section]\n");
    ModuleInputs in = basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
    in.run = &run;
    try {
      module = MakeModule<RegionalSuperposition>(in);
    } catch (int c) {
      code = c;
    }
  }
};

TEST(RegionalSuperpositionModule, OneRegionTwoInputsOutputGridAndStatistics) {
  SuperpositionRun s;
  s.Build("NumberOfEntities = 1;\nmixed {\n entityinputgrid = gridA; regions = 4; weights = 0.3;\n"
          " entityinputgrid = gridB; regions = 4; weights = 0.7;\n"
          " outputgrid = mixed_out; writecode = 1; outputtable = mixed.stat; statcode = 1001;\n}\n");
  ASSERT_EQ(s.code, 0) << s.log.console();
  ASSERT_EQ(s.module->EntityCount(), 1);
  const cSuperposition& e = s.module->Entity(0);
  EXPECT_EQ(e.OutputPosition(), 10);
  EXPECT_EQ(s.basin.registry[10].internalName, "mixed_out");
  s.module->Run(ModelDate{0, 1, 1, 1, 2001});
  double** out = e.Output();
  EXPECT_DOUBLE_EQ(out[1][1], 0.3 * 1 + 0.7 * 10);
  EXPECT_DOUBLE_EQ(out[4][3], 0.3 * 4 + 0.7 * 30);
  EXPECT_EQ(out[2][5], -9999.0);  // outside the basin: no-data
  s.module->WriteResults();
  s.module->WriteStatistics();
  EXPECT_TRUE(std::filesystem::exists(s.dir.file("mixed_out"))) << s.log.console();
  double** written = nullptr;
  s.module->ReadGrid(s.dir.file("mixed_out"), written, 0, true, false, false, 0.0);
  MatrixOwner back(written);
  EXPECT_EQ(written[2][5], -9999.0);
  EXPECT_DOUBLE_EQ(written[1][1], 0.3 * 1 + 0.7 * 10);
  const std::string stat = ReadTextFile(s.dir.file("mixed.stat"));
  EXPECT_NE(stat.find("2001"), std::string::npos) << stat;
  s.module.Release();
  EXPECT_FALSE(s.basin.registry[10].registered);
  EXPECT_EQ(s.basin.registry[10].data, nullptr);
}

TEST(RegionalSuperpositionModule, TwoLevelsBlendRegions) {
  SuperpositionRun s;
  s.TwoRegions();
  // Column 3 is a transition cell of region 8 with 0.4 of region 4.
  for (int r = 1; r <= SmallBasin::kRows; ++r)
    for (int c = 1; c <= SmallBasin::kCols; ++c) {
      s.regions2[r][c] = c == 3 ? 4.0 : 0.0;
      s.weights2[r][c] = c == 3 ? 0.4 : 0.0;
      s.weights[r][c] = c == 3 ? 0.6 : 1.0;
    }
  s.Build("NumberOfEntities = 1;\nmixed {\n entityinputgrid = gridA; regions = 4 8; weights = 1 0;\n"
          " entityinputgrid = gridB; regions = 4 8; weights = 0 1;\n"
          " outputgrid = mixed_out; writecode = 0; outputtable = mixed.stat; statcode = 0;\n}\n");
  ASSERT_EQ(s.code, 0) << s.log.console();
  s.module->Run(ModelDate{0, 1, 1, 1, 2001});
  double** out = s.module->Entity(0).Output();
  EXPECT_DOUBLE_EQ(out[2][1], 2.0);                     // region 4: gridA
  EXPECT_DOUBLE_EQ(out[2][4], 40.0);                    // region 8: gridB
  EXPECT_DOUBLE_EQ(out[2][3], 0.6 * 30.0 + 0.4 * 2.0);  // transition
}

TEST(RegionalSuperpositionModule, SectionErrorsEndTheRunWithTheirCodes) {
  struct Case {
    const char* body;
    int code;
    const char* text;
  };
  const std::string tail = " outputgrid = o; writecode = 0; outputtable = t.stat; statcode = 0;\n}\n";
  for (const Case& c :
       {Case{"Entities = 1;\n", 133, "could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]"},
        Case{"NumberOfEntities = 1;\ne {\n entityinputgrid = gridA; regions = 4; weights = 1;\n", 133,
             "is closed with \"}\""},
        Case{"NumberOfEntities = 1;\ne {\n entityinputgrid = gridA; regions = 4 8; weights = 1;\n", 134,
             "The number of regions here (2)"},
        Case{"NumberOfEntities = 1;\ne {\n entityinputgrid = gridA; regions = 4; weights = 1 2;\n", 135,
             "does not equal the number of weights (2)"},
        Case{"NumberOfEntities = 1;\ne {\n entityinputgrid = nowhere; regions = 4; weights = 1;\n", 33,
             "nowhere not found in memory"}}) {
    SuperpositionRun s;
    const std::string body = std::string(c.body) + (c.code == 133 ? "" : tail);
    s.Build(body);
    EXPECT_EQ(s.code, c.code) << c.body;
    EXPECT_NE(s.log.console().find(c.text), std::string::npos) << s.log.console();
    // Nothing stays registered after a failed construction.
    for (int p = 10; p < 20; ++p) EXPECT_FALSE(s.basin.registry[p].registered) << p;
  }
}

TEST(RegionalSuperpositionModule, ZeroEntitiesOrSwitchedOffDoNothing) {
  for (int flow : {0, 1}) {
    SuperpositionRun s;
    s.Build("NumberOfEntities = 0;\n", flow);
    ASSERT_EQ(s.code, 0) << s.log.console();
    EXPECT_EQ(s.module->EntityCount(), 0);
    s.module->Run(ModelDate{0, 1, 1, 1, 2001});
    s.module->WriteResults();
    s.module->WriteStatistics();
  }
}

}  // namespace
