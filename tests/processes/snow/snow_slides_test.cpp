// Snow slides: visiting order, deposition limit and conservation of the basin's snow.
#include <gtest/gtest.h>

#include <random>

#include "processes/snow/snowmod.h"

namespace {

constexpr double N = -9999.0;

struct SlideBasin {
  SlideBasin(int rows, int cols) : rows(rows), cols(cols) {
    g.nrows = rows;
    g.ncols = cols;
    g.nodata_value = N;
    for (MatrixOwner* m : {&reference, &zone, &elevation, &orderRow, &orderCol, &slope, &maxDeposition, &solid,
                           &liquid, &total, &inputMass, &mobileMass, &deposition, &f[1], &f[2], &f[3], &f[4]}) {
      *m = MatrixOwner(rows, cols);
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) (*m)[r][c] = 0.0;
    }
  }
  SlideGrids Grids() {
    SlideGrids s;
    s.reference = reference.get();
    s.zone = zone.get();
    s.orderRow = orderRow.get();
    s.orderCol = orderCol.get();
    s.slope = slope.get();
    for (int k = 1; k <= 4; ++k) s.fraction[k] = f[k].get();
    s.maxDeposition = maxDeposition.get();
    s.solid = solid.get();
    s.liquid = liquid.get();
    s.total = total.get();
    s.inputMass = inputMass.get();
    s.mobileMass = mobileMass.get();
    s.deposition = deposition.get();
    return s;
  }
  double Snow() {
    double sum = 0.0;
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c)
        if (reference[r][c] != N) sum += solid[r][c] + liquid[r][c];
    return sum;
  }
  int rows, cols;
  GridGeometry g;
  MatrixOwner reference, zone, elevation, orderRow, orderCol, slope, maxDeposition, solid, liquid, total, inputMass,
      mobileMass, deposition, f[5];
};

TEST(SnowSlides, ElevationOrderIsStableAndSkipsCellsOutside) {
  SlideBasin b(2, 3);
  const double z[2][3] = {{30, 10, 10}, {5, 20, 10}};
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) b.elevation[r][c] = z[r - 1][c - 1];
  b.reference[2][2] = N;
  SnowElevationOrder(b.reference.get(), b.elevation.get(), b.g, b.orderRow.get(), b.orderCol.get());
  // Lowest first: (2,1) 5; then the equal 10s in row-major order (1,2), (1,3), (2,3); then (1,1).
  const int expected[5][2] = {{2, 1}, {1, 2}, {1, 3}, {2, 3}, {1, 1}};
  int k = 0;
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) {
      if (r == 2 && c == 2) {
        EXPECT_EQ(b.orderRow[r][c], N);
        continue;
      }
      EXPECT_EQ(b.orderRow[r][c], expected[k][0]) << k;
      EXPECT_EQ(b.orderCol[r][c], expected[k][1]) << k;
      ++k;
    }
}

TEST(SnowSlides, DepositionLimitFallsWithTheSlope) {
  EXPECT_DOUBLE_EQ(SnowDepositionLimit(0.0, 55.0, 2.0), 2.0);
  EXPECT_DOUBLE_EQ(SnowDepositionLimit(27.5, 55.0, 2.0), 1.0);
  EXPECT_EQ(SnowDepositionLimit(55.0, 55.0, 2.0), 0.0);
  EXPECT_EQ(SnowDepositionLimit(70.0, 55.0, 2.0), 0.0);
  EXPECT_EQ(SnowDepositionLimit(10.0, 0.0, 2.0), 0.0);  // a limit slope of 0: no deposition anywhere
}

TEST(SnowSlides, SnowGoesDownhillUpToTheDepositionLimit) {
  // One row, elevation falling to the right; every cell slides to its right neighbour.
  SlideBasin b(1, 4);
  for (int c = 1; c <= 4; ++c) {
    b.elevation[1][c] = 100.0 - 10.0 * c;
    b.slope[1][c] = c == 2 ? 10.0 : 40.0;  // cell 2 lies below the minimum slide slope
    b.f[3][1][c] = 1.0;
    b.maxDeposition[1][c] = 0.5;
    b.solid[1][c] = 100.0;
    b.liquid[1][c] = c == 1 ? 10.0 : 0.0;
  }
  b.maxDeposition[1][4] = 100.0;
  SnowElevationOrder(b.reference.get(), b.elevation.get(), b.g, b.orderRow.get(), b.orderCol.get());
  const double before = b.Snow();
  SnowSlides(b.Grids(), b.g, 30.0, 0.1);
  // Visiting order 4, 3, 2, 1: cell 1 gives 11, cell 2 (flat) gives nothing but receives.
  EXPECT_DOUBLE_EQ(b.inputMass[1][1], 11.0);
  EXPECT_EQ(b.inputMass[1][2], 0.0);
  EXPECT_DOUBLE_EQ(b.deposition[1][2], 0.5);
  EXPECT_DOUBLE_EQ(b.mobileMass[1][2], 10.5);  // passed on only when cell 2 is visited again
  EXPECT_DOUBLE_EQ(b.inputMass[1][3], 10.0);
  EXPECT_DOUBLE_EQ(b.deposition[1][4], 10.0);
  // The liquid water keeps its share of cell 1's snow.
  EXPECT_NEAR(b.liquid[1][1] / (b.solid[1][1] + b.liquid[1][1]), 10.0 / 110.0, 1e-12);
  EXPECT_NEAR(b.Snow(), before, 1e-9);
}

TEST(SnowSlides, RandomSlopesConserveTheBasinsSnow) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int round = 0; round < 20; ++round) {
    SlideBasin b(12, 9);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) {
        b.zone[r][c] = c <= 4 ? 1.0 : 2.0;
        if (u(rng) < 0.1) b.reference[r][c] = b.zone[r][c] = N;
        b.elevation[r][c] = 1000.0 * u(rng);
        b.slope[r][c] = 60.0 * u(rng);
        b.maxDeposition[r][c] = SnowDepositionLimit(b.slope[r][c], 55.0, 3.0);
        b.solid[r][c] = u(rng) < 0.3 ? 0.0 : 200.0 * u(rng);
        b.liquid[r][c] = 0.1 * b.solid[r][c] * u(rng);
        for (int k = 1; k <= 4; ++k) b.f[k][r][c] = u(rng) < 0.4 ? 0.0 : u(rng);
      }
    SnowElevationOrder(b.reference.get(), b.elevation.get(), b.g, b.orderRow.get(), b.orderCol.get());
    const double before = b.Snow();
    SnowSlides(b.Grids(), b.g, 30.0, 0.05 + 0.9 * u(rng));
    EXPECT_NEAR(b.Snow(), before, 1e-12 * before);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) {
        if (b.reference[r][c] == N) continue;
        EXPECT_GE(b.solid[r][c], 0.0);
        EXPECT_GE(b.liquid[r][c], 0.0);
        EXPECT_LE(b.deposition[r][c], b.maxDeposition[r][c] + 1e-12);
      }
  }
}

}  // namespace
