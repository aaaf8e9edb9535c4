// Cubic splines: one-dimensional pieces against hand values, and the mesh spline
// reproducing a linear field at the model cells.
#include "meteo/splines.h"
#include "framework/thread_policy.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double kMissing = -9999.0;

TEST(Splines, OneDimensionalPiecesMatchHandValues) {
  const double x[4] = {0, 0, 1, 2};
  const double y[4] = {0, 0, 1, 0};
  double y2[4] = {0, 0, 0, 0};
  TSplines::NaturalSecondDerivatives(x, y, 1, 3, y2);
  EXPECT_DOUBLE_EQ(y2[1], 0.0);
  EXPECT_DOUBLE_EQ(y2[2], -3.0);  // 4 y2 = 6 (0 - 2 + 0)
  EXPECT_DOUBLE_EQ(y2[3], 0.0);
  std::vector<double> mx{0, 1}, my{0, 0};
  MatrixOwner cell(1, 1), zone(1, 1);
  TSplines s(mx, my, cell.get(), cell.get(), 1, 2, 1, 1, 0, 0, 1, 1, kMissing, 0, 0, 1, kMissing, 0, 1, zone.get());
  int lo = 1, hi = 0;
  double v = 0;
  s.Evaluate1D(x, y, lo, hi, y2, 3, v, 0.5, kMissing, kMissing);
  EXPECT_DOUBLE_EQ(v, 0.5 + 1.125 / 6);
  s.Evaluate1D(x, y, lo, hi, y2, 3, v, 1.5, kMissing, kMissing);
  EXPECT_EQ(hi, 3);
  EXPECT_DOUBLE_EQ(v, 0.5 + 1.125 / 6);  // symmetric
  s.Evaluate1D(x, y, lo, hi, y2, 3, v, 2.5, kMissing, -1.0);
  EXPECT_EQ(v, -1.0);  // outside: the default

  // Natural ends by slope > 9.9e29 equal the natural derivatives; given slopes change them.
  double n2[4] = {0, 0, 0, 0};
  s.SecondDerivatives1D(x, y, 1, 3, n2, 1e30, 1e30);
  EXPECT_DOUBLE_EQ(n2[2], -3.0);
  s.SecondDerivatives1D(x, y, 1, 3, n2, 1.0, -1.0);
  s.Evaluate1D(x, y, lo, hi, n2, 3, v, 0.0, kMissing, kMissing);
  EXPECT_DOUBLE_EQ(v, 0.0);
  EXPECT_NE(n2[1], 0.0);

  // Two nodes: a straight line.
  const double lx[3] = {0, 10, 20}, ly[3] = {0, 3, 7};
  double l2[3];
  TSplines::NaturalSecondDerivatives(lx, ly, 1, 2, l2);
  lo = 1;
  s.Evaluate1D(lx, ly, lo, hi, l2, 2, v, 12.5, kMissing, kMissing);
  EXPECT_DOUBLE_EQ(v, 4.0);

  // A missing node value, and two nodes at the same place (code 82).
  const double my2[4] = {0, 0, kMissing, 0};
  lo = 1;
  s.Evaluate1D(x, my2, lo, hi, y2, 3, v, 0.5, kMissing, 5.0);
  EXPECT_EQ(v, 5.0);
  const double sx[3] = {0, 1, 1}, sy[3] = {0, 1, 2}, s2[3] = {0, 0, 0};
  lo = 1;
  EXPECT_THROW(
      try { s.Evaluate1D(sx, sy, lo, hi, s2, 2, v, 1.0, kMissing, kMissing); } catch (int code) {
        EXPECT_EQ(code, 82);
        throw;
      },
      int);
}

TEST(Splines, MeshSplineReproducesALinearField) {
  // 12 rows x 10 columns of 100 m cells; mesh nodes on cell centres: 3 columns x 4 rows.
  const int rows = 12, cols = 10;
  MatrixOwner cx(rows, cols), cy(rows, cols), zone(rows, cols), out(rows, cols);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      cx[r][c] = (c - 0.5) * 100;
      cy[r][c] = (rows - r + 0.5) * 100;
      zone[r][c] = 1;
    }
  zone[5][5] = kMissing;
  const double xs[3] = {50, 450, 850}, ys[4] = {950, 650, 350, 50};  // mesh rows from the top
  auto field = [](double x, double y) { return 1 + 0.01 * x + 0.02 * y; };
  std::vector<double> mx, my, values;
  for (double y : ys)
    for (double x : xs) {
      mx.push_back(x);
      my.push_back(y);
      values.push_back(field(x, y));
    }
  TSplines s(mx, my, cx.get(), cy.get(), 4, 3, rows, cols, 50, 50, 400, 300, kMissing, 0, 0, 100, kMissing, 0, 1.0,
             zone.get());
  EXPECT_EQ(s.SamplingRows(), 10);
  EXPECT_EQ(s.SamplingColumns(), 9);
  std::vector<double> y2;
  s.SecondDerivatives2D(values, y2);
  s.Evaluate2D(values, y2, out.get());
  for (int r = 3; r <= rows; ++r)
    for (int c = 1; c <= 9; ++c) {
      if (r == 5 && c == 5) continue;
      EXPECT_NEAR(out[r][c], field(cx[r][c], cy[r][c]), 1e-9) << r << " " << c;
    }
  EXPECT_EQ(out[5][5], kMissing);   // outside the basin
  EXPECT_EQ(out[3][10], kMissing);  // east of the mesh
  EXPECT_EQ(out[1][1], kMissing);   // north of the mesh

  // A node without a value splits its column: the cells still get values where runs reach.
  values[4] = kMissing;  // mesh row 2, column 2
  s.SecondDerivatives2D(values, y2);
  EXPECT_EQ(y2[4], kMissing);
  s.Evaluate2D(values, y2, out.get());
  EXPECT_NEAR(out[12][1], field(50, 50), 1e-9);
}

// A curved field on a 9 x 11 mesh over a grid of 150 x 170 cells, sampled at half the
// cell size, with a few nodes without a value.
struct CurvedMesh {
  static constexpr int kRows = 150, kCols = 170, kMeshRows = 9, kMeshCols = 11;
  MatrixOwner cx{kRows, kCols}, cy{kRows, kCols}, zone{kRows, kCols};
  std::vector<double> mx, my, values;
  explicit CurvedMesh(double topRowY = -1.0) {
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        cx[r][c] = (c - 0.5) * 100;
        cy[r][c] = (kRows - r + 0.5) * 100;
        zone[r][c] = (r * c) % 13 == 0 ? kMissing : 1;
      }
    for (int i = 0; i < kMeshRows; ++i)
      for (int j = 0; j < kMeshCols; ++j) {
        const double x = 50 + j * 1690.0 + (i % 2) * 30.0, y = 14850 - i * 1850.0;
        mx.push_back(x);
        my.push_back(i == 1 && topRowY > 0 ? topRowY : y);
        values.push_back((i * 7 + j * 3) % 17 == 0 ? kMissing : std::sin(x / 3000.0) * std::cos(y / 4000.0) * 10.0);
      }
  }
  TSplines Make() {
    return TSplines(mx, my, cx.get(), cy.get(), kMeshRows, kMeshCols, kRows, kCols, 50, 50, 1690, 1850, kMissing, 0, 0,
                    100, kMissing, 0, 2.0, zone.get());
  }
};

TEST(Splines, MeshSplineHasTheSameBitsForEveryThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  CurvedMesh m;
  TSplines s = m.Make();
  std::vector<double> y2;
  s.SecondDerivatives2D(m.values, y2);
  const int before = omp_get_max_threads();
  std::vector<double> first;
  for (int threads : {1, 3, 8}) {
    omp_set_num_threads(threads);
    MatrixOwner out(CurvedMesh::kRows, CurvedMesh::kCols);
    s.Evaluate2D(m.values, y2, out.get());
    std::vector<double> got;
    for (int r = 1; r <= CurvedMesh::kRows; ++r) got.insert(got.end(), out[r] + 1, out[r] + CurvedMesh::kCols + 1);
    if (first.empty()) {
      first = got;
      long valued = 0;
      for (double v : got) valued += v != kMissing;
      EXPECT_GT(valued, CurvedMesh::kRows * CurvedMesh::kCols / 2);
    } else {
      EXPECT_EQ(0, std::memcmp(first.data(), got.data(), got.size() * sizeof(double))) << threads << " threads";
    }
  }
  omp_set_num_threads(before);
}

TEST(Splines, EqualNodeCoordinatesEndTheParallelPassWithCode82) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  // The two top mesh rows at the same y: the column splines meet two equal abscissae at
  // the top sampling row.
  CurvedMesh m(14850.0);
  for (double& v : m.values) v = v == kMissing ? 1.0 : v;
  TSplines s = m.Make();
  std::vector<double> y2;
  s.SecondDerivatives2D(m.values, y2);
  const int before = omp_get_max_threads();
  for (int threads : {1, 4}) {
    omp_set_num_threads(threads);
    MatrixOwner out(CurvedMesh::kRows, CurvedMesh::kCols);
    int code = 0;
    try {
      s.Evaluate2D(m.values, y2, out.get());
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 82) << threads << " threads";
  }
  omp_set_num_threads(before);
}

}  // namespace
