#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "framework/memory_handling.h"
#include "framework/point_output.h"
#include "grids/grid_registry.h"
#include "support/test_support.h"

namespace {

// A 4 x 3 model grid (cell size 100, lower-left corner 0/0) with a registry holding a
// plain grid "alpha" (value 10*row + column) and a 2-level stack "layers".
struct Fixture {
  Fixture() : alpha(4, 3), regions(4, 3) {
    ctx.log = &log.log();
    ctx.grids = registry.Records();
    ctx.geometry.ncols = 3;
    ctx.geometry.nrows = 4;
    ctx.geometry.cellsize = 100;
    ctx.outputDirectory = dir.path() + "/";
    ctx.firstRow = 1;
    ctx.lastRow = 4;
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 3; ++c) {
        alpha[r][c] = 10 * r + c;
        regions[r][c] = 0;
      }
    regions[4][3] = -9999;  // outside the basin
    registry[1].internalName = "zones";
    registry[1].data = alpha.get();
    registry[2].internalName = "alpha";
    registry[2].data = alpha.get();
    stack = Allocate3DMatrix(nullptr, 1, 4, 1, 3, 2, 0);
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= 2; ++l) stack[r][c][l] = 1000 * l + 10 * r + c;
    registry[5].internalName = "layers";  // behind a gap at 3 and 4
    registry[5].stack = stack;
    registry[5].stackLevels = 2;
  }
  ~Fixture() { Release3DMatrix(stack); }

  int BuildError(const std::string& block) {
    try {
      SpecialOutputFile f(ctx, block);
    } catch (int code) {
      return code;
    }
    return 0;
  }

  TempDir dir;
  CapturedLog log;
  GridRegistry registry;
  MatrixOwner alpha, regions;
  double*** stack = nullptr;
  SpecialOutputContext ctx;
};

}  // namespace

TEST(SpecialOutputPoints, CellOfAPoint) {
  EXPECT_EQ(PointColumn(0.0, 0.0, 100.0), 0);  // on the western edge: outside
  EXPECT_EQ(PointColumn(100.0, 0.0, 100.0), 1);
  EXPECT_EQ(PointColumn(100.5, 0.0, 100.0), 2);
  EXPECT_EQ(PointRow(0.0, 0.0, 100.0, 4), 4);    // southern edge: the last row
  EXPECT_EQ(PointRow(400.0, 0.0, 100.0, 4), 0);  // northern edge: outside
  EXPECT_EQ(PointRow(399.0, 0.0, 100.0, 4), 1);
  EXPECT_EQ(PointColumn(1e300, 0.0, 1.0), 2147483647);  // far away, still no overflow
  EXPECT_EQ(SpecialOutputCapacity(0), 52428);
  EXPECT_EQ(SpecialOutputCapacity(300000), 1);
  EXPECT_EQ(SpecialOutputCapacity(3), 2097152 / 64);
}

TEST(SpecialOutputFile, TitleLinesAndRows) {
  Fixture fx;
  std::string block =
      "{\nfilename = pts.txt; header = two words;\n"
      "entity { ID = alpha; Symbol = A; Xcoords = 150 250; Ycoords = 350 50; }\n"
      "entity { ID = layers; Symbol = L; Xcoords = 50; Ycoords = 150; Level = 2; }\n"
      "entity { ID = nothing; Symbol = N; Xcoords = 250; Ycoords = 50; }\n}\n";
  {
    SpecialOutputFile f(fx.ctx, block);
    EXPECT_EQ(f.ValueCount(), 4);
    EXPECT_EQ(f.FileName(), fx.dir.path() + "/pts.txt");
    ASSERT_EQ(f.Entities().size(), 3u);
    EXPECT_EQ(f.Entities()[1].gridPosition, 5);  // found behind the gap
    EXPECT_EQ(f.Entities()[2].gridPosition, 0);
    f.CollectValues(0, 1, 2, 3, 2001);
    f.CollectValues(0, 2, 2, 3, 2001);
    EXPECT_EQ(f.RowCount(), 2);
  }  // released: the rows reach the file
  EXPECT_EQ(ReadTextFile(fx.dir.file("pts.txt")),
            "YY\tMM\tDD\tHH\tA/2/1\tA/3/4\tL/1/3/2\tN/3/4\n"
            "two\n"
            "YY\tMM\tDD\tHH\tA/150/350\tA/250/50\tL/50/150/2\tN/250/50\n"
            "2001\t3\t2\t1\t12\t43\t2031\t-9999\n"
            "2001\t3\t2\t2\t12\t43\t2031\t-9999\n");
  EXPECT_NE(fx.log.console().find("special output: no grid with the internal name nothing"),
            std::string::npos);
}

TEST(SpecialOutputFile, ActiveCellsAndLevels) {
  Fixture fx;
  fx.ctx.regions = fx.regions.get();
  SpecialOutputFile f(fx.ctx,
                      "{ filename = a.txt; header = h; entity { ID = alpha; Symbol = A; Xcoords = 250 50; "
                      "Ycoords = 50 50; } entity { ID = layers; Symbol = L; Xcoords = 50 50 50 150; "
                      "Ycoords = 50 50 50 50; Level = 0 1 3 2; } entity { ID = layers; Symbol = P; "
                      "Xcoords = 50; Ycoords = 50; } }");
  f.CollectValues(0, 24, 1, 1, 2000);
  f.Flush();
  std::string text = ReadTextFile(fx.dir.file("a.txt"));
  // (4,3) inactive; level 0 and a level above the count give -9999; without levels the
  // stack entity reads no plain grid either
  EXPECT_NE(text.find("2000\t1\t1\t24\t-9999\t41\t-9999\t1041\t-9999\t2042\t-9999\n"), std::string::npos) << text;
}

TEST(SpecialOutputFile, BufferIsWrittenWhenFullAndAtTheEnd) {
  Fixture fx;
  // 300000 values: a row exceeds the buffer, so every row is written at once
  std::string xs, ys;
  for (int k = 0; k < 300000; ++k) {
    xs += "50 ";
    ys += "50 ";
  }
  {
    SpecialOutputFile big(fx.ctx, "{ filename = big.txt; header = h; entity { ID = alpha; Symbol = B; Xcoords = " +
                                      xs + "; Ycoords = " + ys + "; } }");
    EXPECT_EQ(big.Capacity(), 1);
    big.CollectValues(0, 1, 1, 1, 2000);
    EXPECT_EQ(big.RowCount(), 0);
  }
  // with no entities the rows hold only the date
  SpecialOutputFile empty(fx.ctx, "{ filename = e.txt; header = h; }");
  EXPECT_EQ(empty.ValueCount(), 0);
  EXPECT_EQ(empty.Capacity(), 52428);
  for (int k = 0; k < 52428; ++k) empty.CollectValues(0, k % 24, 1, 1, 2000);
  EXPECT_EQ(empty.RowCount(), 0);  // written when full
  empty.CollectValues(0, 5, 2, 1, 2000);
  EXPECT_EQ(empty.RowCount(), 1);
  std::string text = ReadTextFile(fx.dir.file("e.txt"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 52428);
  empty.Flush();
  text = ReadTextFile(fx.dir.file("e.txt"));
  EXPECT_EQ(text.substr(text.size() - 12), "\n2000\t1\t2\t5\n");
}

TEST(SpecialOutputFile, SettingErrors) {
  Fixture fx;
  EXPECT_EQ(fx.BuildError("{ header = h; }"), 104);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; }"), 104);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity { Symbol = S; } }"), 104);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity ID = a; }"), 104);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity { ID = a; Symbol = S; Xcoords = 50 60; "
                          "Ycoords = 50; } }"),
            1006);
  EXPECT_NE(fx.log.console().find("count of X coordinates dos not match the number of Y coordinates for entity a"),
            std::string::npos);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity { ID = a; Symbol = S; Xcoords = 50 60; "
                          "Ycoords = 50 50; Level = 1; } }"),
            1007);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity { ID = a; Symbol = S; Xcoords = 0; "
                          "Ycoords = 50; } }"),
            1008);
  EXPECT_NE(fx.log.console().find("x-coordinate 0, defined as point 0 for entity a, is located outside"),
            std::string::npos);
  EXPECT_EQ(fx.BuildError("{ filename = f.txt; header = h; entity { ID = a; Symbol = S; Xcoords = 50 50; "
                          "Ycoords = 50 400; } }"),
            1008);
  EXPECT_NE(fx.log.console().find("y-coordinate 400, defined as point 1 for entity a"), std::string::npos);
  EXPECT_EQ(fx.BuildError("{ filename = /nonexistent/dir/f.txt; header = h; }"), 1007);
}

TEST(SpecialOutputFile, UnwritableFileStopsWithCode65) {
  Fixture fx;
  const std::string sub = fx.dir.file("sub");
  ASSERT_EQ(RunCommand("mkdir " + sub), 0);
  SpecialOutputFile f(fx.ctx, "{ filename = sub/f.txt; header = h; }");
  f.CollectValues(0, 1, 1, 1, 2000);
  ASSERT_EQ(RunCommand("rm -r " + sub), 0);
  int code = 0;
  try {
    f.Flush();
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 65);
  EXPECT_EQ(f.RowCount(), 1);  // the row is kept, not reported as written
  EXPECT_NE(fx.log.console().find("error opening file " + sub + "/f.txt"), std::string::npos);
}
