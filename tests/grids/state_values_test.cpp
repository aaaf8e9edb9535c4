// The check of the states a run starts from: no-data and values within the quantity's range
// pass; a value beyond it, and a value that is no finite number (-inf is no no-data), end
// the run naming the file, the first cell, its value and how many cells break the rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "grids/grid_fixture.h"
#include "grids/grid_io_internal.h"

namespace {

struct StateCheck : GridModule {
  StateCheck() : GridModule(4, 3), zone(Grid([](int, int c) { return c == 4 ? -9999.0 : 1.0; })) {
    obj.RegisterGrid(1, "zones.asc", zone.get(), nullptr, 0, "zones", 0, 1, 3);
  }
  // The error code of the check of a grid holding `fill`, with `v` at row 2, column 3 and
  // `outside` in the column outside the basin.
  int Check(double v, const StateRange& range, double fill = 0.5, double outside = -1e300) {
    MatrixOwner g = Grid([&](int r, int c) { return c == 4 ? outside : r == 2 && c == 3 ? v : fill; });
    return CodeOf([&] { obj.RefuseImpossibleCells(g.get(), "s.bin", "state", range); });
  }
  MatrixOwner zone;
};

TEST(StateValues, EveryBasinCellIsNoDataOrAFiniteNumberWithinItsRange) {
  StateCheck t;
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    double value;
    StateRange range;
    int code;
    const char* message;  // null: runs
  } cases[] = {
      {"no-data", -9999.0, StateRange::Storage(), 0, nullptr},
      {"an empty storage", 0.0, StateRange::Storage(), 0, nullptr},
      {"a fraction of 1 and a rounding above it", 1.0 + 1e-12, StateRange::Fraction(), 0, nullptr},
      {"a fraction of 0 and a rounding below it", -1e-12, StateRange::Fraction(), 0, nullptr},
      {"any finite number", -1e300, StateRange::Finite(), 0, nullptr},
      {"-inf is no no-data", -inf, StateRange::Finite(), 22,
       "s.bin (state) holds -inf at row 2, column 3 (1 cells of the basin hold no finite number); a state is a "
       "finite number, or the no-data value -9999"},
      {"+inf", inf, StateRange::Storage(), 22, "holds inf at row 2, column 3 (1 cells of the basin hold no"},
      {"a value below the no-data value", -1e300, StateRange::Storage(), 22,
       "holds -1e+300 at row 2, column 3 (1 cells of the basin below 0); a storage is 0 or more"},
      {"a storage of more than 1e9 mm", 1e308, StateRange::Storage(), 22,
       "holds 1e+308 at row 2, column 3 (1 cells of the basin above 1e9 mm); no store holds 1,000 km of water"},
      {"a fraction above 1", 1.5, StateRange::Fraction(), 22,
       "holds 1.5 at row 2, column 3 (1 cells of the basin above 1); a relative quantity lies within 0..1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(t.Check(c.value, c.range), c.code);
    if (c.message) {
      EXPECT_NE(t.log.console().find(c.message), std::string::npos) << t.log.console();
    }
  }
  // Cells outside the basin are not states of the run; every bad cell of the basin counts.
  EXPECT_EQ(t.Check(0.5, StateRange::Fraction(), 0.5, inf), 0);
  EXPECT_EQ(t.Check(-2.0, StateRange::Storage(), -1.0), 22);
  EXPECT_NE(t.log.console().find("holds -1 at row 1, column 1 (9 cells of the basin below 0)"), std::string::npos)
      << t.log.console();
}

TEST(StateValues, ABoundPerCellAndEveryLevelOfAStack) {
  StateCheck t;
  StateRange r;
  r.lowAt = [](int, int c) { return -10.0 * c; };
  r.lowText = "-10 c";
  r.lowRule = "the bound of the column";
  EXPECT_EQ(t.Check(-30.0, r, -10.0), 0);
  EXPECT_EQ(t.Check(-31.0, r, -10.0), 22);
  EXPECT_NE(t.log.console().find("holds -31 at row 2, column 3 (1 cells of the basin below -10 c)"), std::string::npos);

  double*** stack = t.obj.d3_matrix(1, 3, 1, 4, 2);
  for (int row = 1; row <= 3; ++row)
    for (int c = 1; c <= 4; ++c)
      for (int l = 0; l <= 2; ++l) stack[row][c][l] = 1.0;
  EXPECT_EQ(GridModule::CodeOf([&] { t.obj.RefuseImpossibleLevels(stack, 0, 2, "f.bin", "firn", StateRange::Storage()); }),
            0);
  stack[3][2][2] = -0.5;
  EXPECT_EQ(GridModule::CodeOf([&] { t.obj.RefuseImpossibleLevels(stack, 0, 2, "f.bin", "firn", StateRange::Storage()); }),
            22);
  EXPECT_NE(t.log.console().find("f.bin (firn level 2) holds -0.5 at row 3, column 2"), std::string::npos);
  t.obj.Free3DMatrix(stack);
}

// The end of a run holds a state grid to the range it was given, as each cell reads back from
// its file: a value that rounds into the range in an ASCII or single-precision file is no
// fault there, one beyond it in any file is; cells outside the basin and grids without a
// range are left alone, and a stack is held level by level.
TEST(StateValues, TheEndStateIsHeldToTheRangeAWarmStartReadsItIn) {
  StateCheck t;
  MatrixOwner snow = t.Grid([](int, int c) { return c == 4 ? 1e300 : 10.0; });
  MatrixOwner free = t.Grid([](int, int) { return 1e300; });
  t.obj.RegisterGrid(2, "snow.asc", snow.get(), nullptr, 0, "snow", 3, 1, 3);
  t.obj.RegisterGrid(3, "free.asc", free.get(), nullptr, 0, "free", 3, 1, 3);
  t.obj.HoldStateRange(snow.get(), StateRange::Storage());
  const auto holds = [&](double** g, bool ascii, bool asDouble) {
    return grid_io::EndStateWithinItsRange(t.obj, "out/snow.asc", g, nullptr, 0, ascii, asDouble);
  };
  EXPECT_TRUE(holds(snow.get(), false, true));
  EXPECT_TRUE(holds(free.get(), false, true));  // no range given: finite is all it holds
  snow[2][3] = 1e9 + 1;                          // "1e+09" in an ASCII grid, 1e9 in single precision
  EXPECT_TRUE(holds(snow.get(), true, false));
  EXPECT_TRUE(holds(snow.get(), false, false));
  EXPECT_FALSE(holds(snow.get(), false, true));
  snow[3][1] = 1.8e9;
  for (const bool ascii : {true, false}) EXPECT_FALSE(holds(snow.get(), ascii, false));
  EXPECT_NE(t.log.console().find("at the end of the run the state grid out/snow.asc ([test_module] snow) holds 1.8e+09 at "
                                 "row 3, column 1 (1 cells of the basin above 1e9 mm); no store holds 1,000 km of "
                                 "water: a warm start would refuse it"),
            std::string::npos)
      << t.log.console();

  double*** firn = t.obj.d3_matrix(1, 3, 1, 4, 2);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c)
      for (int l = 0; l <= 2; ++l) firn[r][c][l] = 1.0;
  MatrixOwner total = t.Grid([](int, int) { return 1.0; });
  t.obj.RegisterGrid(4, "firn.bin", total.get(), firn, 2, "firn", 3, 1, 3);
  t.obj.HoldStateRange(total.get(), StateRange::Storage());
  const auto stackHolds = [&] { return grid_io::EndStateWithinItsRange(t.obj, "firn.bin", nullptr, firn, 2, false, true); };
  EXPECT_TRUE(stackHolds());
  firn[2][2][2] = -0.5;
  EXPECT_FALSE(stackHolds());
  EXPECT_NE(t.log.console().find("the state stack firn.bin ([test_module] firn, level 2) holds -0.5 at row 2, column 2"),
            std::string::npos)
      << t.log.console();
  t.obj.Free3DMatrix(firn);
}

}  // namespace
