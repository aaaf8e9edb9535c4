// Cell sizes, relative cell areas, coordinates, slope and aspect.
#include <gtest/gtest.h>

#include <cmath>

#include "init/terrain.h"
#include "init_harness.h"

namespace {

constexpr double N = -9999.0;

// A domain of ncols x nrows cells of 100 m at (1000, 2000) whose zone grid has a no-data
// cell at (1, 1); grids are written into the harness's folder.
struct Geometry {
  InitHarness h;
  Geometry(int ncols, int nrows) {
    h.Domain(ncols, nrows, 100.0, N, 1000.0, 2000.0);
    Rows zones = h.Filled(1);
    zones[0][0] = N;
    h.Put(1, "[zone_grid]", zones, h.dir.file("zones.asc"));
    h.Put(2, "[elevation_model]", h.Filled(1000.0), h.dir.file("flat.asc"));
    h.d->RankZones(nullptr);
  }
  double** grid(const char* name) const { return h.d->GridData(h.d->FindGrid(name)); }
};

TEST(CellSizes, WithoutGivenGridsEveryCellIsRegular) {
  Geometry g(4, 3);
  g.h.d->CheckCellSizes();
  double** x = g.grid("CellSizeX");
  double** y = g.grid("CellSizeY");
  double** a = g.grid("RelCellArea");
  ASSERT_TRUE(x && y && a);
  EXPECT_EQ(x[1][1], N);
  EXPECT_EQ(a[1][1], N);
  EXPECT_DOUBLE_EQ(x[2][3], 100.0);
  EXPECT_DOUBLE_EQ(y[3][4], 100.0);
  EXPECT_DOUBLE_EQ(a[3][4], 1.0);
  EXPECT_EQ(g.h.registry[g.h.d->relCellAreaPosition].fileName, "zones.intern.rca");
  EXPECT_EQ(g.h.registry[g.h.d->cellSizeXPosition].fileName, "zones.intern.csx");
  EXPECT_EQ(g.h.d->relCellArea, a);

  g.h.d->MakeCoordinateGrids();
  double** cx = g.grid("CoordX");
  double** cy = g.grid("CoordY");
  EXPECT_EQ(cx[1][1], N);
  EXPECT_DOUBLE_EQ(cx[1][2], 1100.0);
  EXPECT_DOUBLE_EQ(cy[1][2], 2200.0);
  EXPECT_DOUBLE_EQ(cx[3][4], 1300.0);
  EXPECT_DOUBLE_EQ(cy[3][4], 2000.0);
  EXPECT_EQ(g.h.registry[g.h.d->coordYPosition].fileName, "zones.intern.cy");
}

TEST(CellSizes, GivenSizesGiveAreasAndAccumulatedCoordinates) {
  Geometry g(3, 2);
  g.h.Put(3, "CellSizeX", {{N, 50, 200}, {100, 50, 100}});
  g.h.Put(4, "CellSizeY", {{N, 100, 100}, {100, 200, 100}});
  g.h.d->CheckCellSizes();
  double** a = g.grid("RelCellArea");
  EXPECT_DOUBLE_EQ(a[1][2], 0.5);
  EXPECT_DOUBLE_EQ(a[1][3], 2.0);
  EXPECT_DOUBLE_EQ(a[2][2], 1.0);
  g.h.d->MakeCoordinateGrids();
  double** cx = g.grid("CoordX");
  double** cy = g.grid("CoordY");
  // Last row: from its first basin column eastwards.
  EXPECT_DOUBLE_EQ(cx[2][2], 1100.0);
  EXPECT_DOUBLE_EQ(cx[2][3], 1150.0);
  // Row 1: from the west edge, northwards from row 2.
  EXPECT_DOUBLE_EQ(cx[1][2], 1100.0);  // cell (1,1) has no size: the regular size stands in
  EXPECT_DOUBLE_EQ(cx[1][3], 1150.0);
  EXPECT_DOUBLE_EQ(cy[1][2], 2000.0 + 200.0);
  EXPECT_DOUBLE_EQ(cy[1][3], 2000.0 + 100.0);
}

TEST(CellSizes, AllThreeGivenAreCheckedOneSided) {
  {
    Geometry g(2, 1);
    g.h.Put(3, "CellSizeX", {{N, 100}});
    g.h.Put(4, "CellSizeY", {{N, 100}});
    g.h.Put(5, "RelCellArea", {{N, 1.0001}});
    EXPECT_EQ(ThrownCode([&] { g.h.d->CheckCellSizes(); }), 66);
    EXPECT_NE(g.h.Console().find("divided by the mean cell area is"), std::string::npos);
  }
  {
    Geometry g(2, 1);
    g.h.Put(3, "CellSizeX", {{N, 100}});
    g.h.Put(4, "CellSizeY", {{N, 100}});
    g.h.Put(5, "RelCellArea", {{N, 0.5}});
    EXPECT_EQ(ThrownCode([&] { g.h.d->CheckCellSizes(); }), -1);
    EXPECT_NE(g.h.Console().find("the relative cell area 0.5"), std::string::npos) << g.h.Console();
  }
  {
    Geometry g(2, 1);
    g.h.Put(3, "CellSizeX", {{N, 0}});
    EXPECT_EQ(ThrownCode([&] { g.h.d->CheckCellSizes(); }), 66);
    EXPECT_NE(g.h.Console().find("cell size in x direction is zero at row 1, column 2,\nread from file " +
                                 g.h.d->GridFileName(g.h.d->FindGrid("CellSizeX")) + "\n"),
              std::string::npos)
        << g.h.Console();
  }
  {
    Geometry g(2, 1);
    g.h.Put(3, "CellSizeY", {{N, 0}});
    EXPECT_EQ(ThrownCode([&] { g.h.d->CheckCellSizes(); }), 66);
    const std::string file = g.h.d->GridFileName(g.h.d->FindGrid("CellSizeY"));
    EXPECT_NE(g.h.Console().find("cell size in y direction is zero at row 1, column 2,\nread from file " + file),
              std::string::npos)
        << g.h.Console();
  }
  {
    // One size given: the other is regular.
    Geometry g(2, 1);
    g.h.Put(3, "CellSizeY", {{N, 50}});
    g.h.d->CheckCellSizes();
    EXPECT_DOUBLE_EQ(g.grid("CellSizeX")[1][2], 100.0);
    EXPECT_DOUBLE_EQ(g.grid("RelCellArea")[1][2], 0.5);
  }
}

TEST(Terrain, PlanesGiveAnalyticSlopeAndAspect) {
  // Down to the east, south, west, north.
  EXPECT_DOUBLE_EQ(SlopeAndAspect(10, 10, 20, 0, 5).aspect, 90.0);
  EXPECT_DOUBLE_EQ(SlopeAndAspect(20, 0, 10, 10, 5).aspect, 180.0);
  EXPECT_DOUBLE_EQ(SlopeAndAspect(10, 10, 0, 20, 5).aspect, 270.0);
  EXPECT_DOUBLE_EQ(SlopeAndAspect(0, 20, 10, 10, 5).aspect, 0.0);
  EXPECT_NEAR(SlopeAndAspect(20, 0, 20, 0, 5).aspect, 135.0, 1e-9);
  EXPECT_DOUBLE_EQ(SlopeAndAspect(10, 10, 20, 0, 5).slope, std::atan(2.0) * kDegreesPerRadian);
  SlopeAspect flat = SlopeAndAspect(3, 3, 3, 3, 5);
  EXPECT_EQ(flat.slope, 0.0);
  EXPECT_EQ(flat.aspect, 0.0);
}

TEST(SlopeAspect, PlaneOnTheGridWithBordersFilled) {
  Geometry g(5, 4);
  Rows dem(4, Rows::value_type(5));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 5; ++c) dem[r][c] = 500.0 - 20.0 * c;  // 0.1 per metre down to the east
  g.h.Put(2, "[elevation_model]", dem, g.h.dir.file("dem.asc"));
  g.h.d->make_Slope_and_Aspect();
  double** sl = g.grid("slope_angle");
  double** ex = g.grid("slope_aspect");
  ASSERT_TRUE(sl && ex);
  const double slope = std::atan(0.2) * kDegreesPerRadian;
  for (int r = 1; r <= 4; ++r) {
    for (int c = 1; c <= 5; ++c) {
      EXPECT_NEAR(ex[r][c], 90.0, 1e-9) << r << "," << c;
      EXPECT_NEAR(sl[r][c], slope, 1e-9) << r << "," << c;
    }
  }
  EXPECT_EQ(g.h.registry[g.h.d->slopeAnglePosition].fileName, "dem.intern.sl");
  EXPECT_EQ(g.h.registry[g.h.d->slopeAspectPosition].fileName, "dem.intern.ex");
}

TEST(SlopeAspect, GivenSlopeKeepsItAndNoDataNeighboursAreFilled) {
  Geometry g(4, 4);
  Rows dem(4, Rows::value_type(4));
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) dem[r][c] = 100.0 + 10.0 * r;  // down to the north
  dem[0][3] = N;
  g.h.Put(2, "[elevation_model]", dem, g.h.dir.file("dem"));
  double** given = g.h.Put(3, "slope_angle", g.h.Filled(7.0));
  g.h.d->make_Slope_and_Aspect();
  EXPECT_EQ(g.grid("slope_angle"), given);
  EXPECT_EQ(given[2][2], 7.0);
  double** ex = g.grid("slope_aspect");
  EXPECT_EQ(g.h.registry[g.h.d->slopeAspectPosition].fileName, "dem.intern.ex");
  EXPECT_DOUBLE_EQ(ex[2][2], 0.0);
  EXPECT_EQ(ex[1][4], N);  // no elevation: stays no-data
  EXPECT_DOUBLE_EQ(ex[4][1], 0.0);
}

TEST(SlopeAspect, MeanOfValidNeighbours) {
  InitHarness h;
  h.Domain(3, 3);
  Rows v{{1, 2, N}, {3, 100, 5}, {N, 7, 9}};
  double** g = h.Put(3, "x", v);
  h.d->MeanOfValidNeighbours(1, 1, g);
  EXPECT_DOUBLE_EQ(g[1][1], (2 + 3 + 100) / 3.0);
  double** lonely = h.Put(4, "y", {{N, N, N}, {N, 4, N}, {N, N, N}});
  h.d->MeanOfValidNeighbours(2, 2, lonely);
  EXPECT_EQ(lonely[2][2], 4.0);
}

}  // namespace
