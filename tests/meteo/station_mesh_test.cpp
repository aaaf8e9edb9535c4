// Station meshes: orientation, ordering into rows and columns, corner stations and the
// bilinear value, on small hand-made meshes.
#include "meteo/station_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "meteo/interpolation_kernels.h"

namespace {

constexpr double N = 9999.0;

// Stations in 1-based arrays.
struct Mesh {
  std::vector<double> x{0}, y{0}, v{0};
  void Add(double sx, double sy, double sv = 0) {
    x.push_back(sx);
    y.push_back(sy);
    v.push_back(sv);
  }
  int n() const { return static_cast<int>(x.size()) - 1; }
};

// columns x rows stations, 1000 apart along a mesh row and 1500 along a column, the mesh
// turned by `degrees` about (50000, 60000).
Mesh Turned(int columns, int rows, double degrees) {
  Mesh m;
  const double a = degrees * M_PI / 180.0;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < columns; ++i) {
      const double px = 1000.0 * i, py = 1500.0 * j;
      m.Add(50000 + px * std::cos(a) - py * std::sin(a), 60000 + px * std::sin(a) + py * std::cos(a), 10 * j + i);
    }
  return m;
}

TEST(StationMesh, OrientationOfATurnedAndOfAStraightMesh) {
  Mesh turned = Turned(3, 4, 30.0);
  MeshOrientation o = DetectMeshOrientation(turned.n(), turned.x.data(), turned.y.data());
  EXPECT_NEAR(o.alphaDegrees, 30.0, 1e-6);
  EXPECT_EQ(o.ratio, 0.995);
  Mesh steep = Turned(3, 4, -60.0);  // rows at -60 degrees: columns run at 30 degrees
  EXPECT_NEAR(DetectMeshOrientation(steep.n(), steep.x.data(), steep.y.data()).alphaDegrees, 30.0, 1e-6);
  Mesh straight = Turned(3, 4, 0.0);
  o = DetectMeshOrientation(straight.n(), straight.x.data(), straight.y.data());
  EXPECT_EQ(o.alphaDegrees, 0.0);
  EXPECT_EQ(o.ratio, 1.0);
}

TEST(StationMesh, OrderingIntoRowsAndColumns) {
  Mesh turned = Turned(3, 4, 30.0);
  // Rotated back by the detected angle, the mesh rows run along x.
  Mesh r;
  for (int k = 1; k <= turned.n(); ++k) {
    double xr, yr;
    RotatePoint(turned.x[k], turned.y[k], 0.0, 0.0, 30.0 * M_PI / 180.0, xr, yr);
    r.Add(xr, yr, turned.v[k]);
  }
  StationMesh mesh;
  ASSERT_TRUE(OrderStationsIntoMesh(r.n(), r.x.data(), r.y.data(), 1000, 1500, 0.25, mesh));
  EXPECT_EQ(mesh.rows, 4);
  EXPECT_EQ(mesh.columns, 3);
  EXPECT_EQ(mesh.At(1, 1), 10);  // highest row, lowest x: mesh row j = 3, column i = 0
  EXPECT_EQ(mesh.At(4, 3), 3);   // lowest row, highest x
  EXPECT_EQ(mesh.At(2, 2), 8);

  Mesh gap = Turned(3, 4, 0.0);
  gap.x.erase(gap.x.begin() + 5);  // the middle column loses a station
  gap.y.erase(gap.y.begin() + 5);
  EXPECT_FALSE(OrderStationsIntoMesh(gap.n(), gap.x.data(), gap.y.data(), 1000, 1500, 0.25, mesh));
}

TEST(StationMesh, CornersAndBilinearValue) {
  Mesh m = Turned(3, 4, 0.0);  // x 50000..52000, y 60000..64500, value 10 * row + column
  // A cell in the middle of the rectangle of columns 1..2 and rows 1..2.
  const double cx = 50500, cy = 60750;
  MeshCorners k = FindMeshCorners(m.n(), m.x.data(), m.y.data(), cx, cy, 1000, 1500, 0.25);
  EXPECT_EQ(k.p[0], 4);  // north-west
  EXPECT_EQ(k.p[1], 5);
  EXPECT_EQ(k.p[2], 1);
  EXPECT_EQ(k.p[3], 2);
  double v = 0;
  ASSERT_TRUE(BilinearValue(k, m.x.data(), m.y.data(), m.v.data(), N, cx, cy, v));
  EXPECT_DOUBLE_EQ(v, (m.v[1] + m.v[2] + m.v[4] + m.v[5]) / 4);
  ASSERT_TRUE(BilinearValue(k, m.x.data(), m.y.data(), m.v.data(), N, 50250, 61125, v));
  EXPECT_DOUBLE_EQ(v, 0.25 * 1 + 0.75 * 10);  // linear in both directions
  m.v[5] = -N - 1;  // a corner without a value: the caller falls back to inverse distance
  EXPECT_FALSE(BilinearValue(k, m.x.data(), m.y.data(), m.v.data(), N, cx, cy, v));
  // Outside the mesh the search finds no corner on the far side.
  k = FindMeshCorners(m.n(), m.x.data(), m.y.data(), 49000, 60750, 1000, 1500, 0.25);
  EXPECT_EQ(k.p[0] * k.p[2], 0);
  MeshCorners same;
  for (int& p : same.p) p = 3;
  ASSERT_TRUE(BilinearValue(same, m.x.data(), m.y.data(), m.v.data(), N, 0, 0, v));
  EXPECT_EQ(v, m.v[3]);
}

}  // namespace
