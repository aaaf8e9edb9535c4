// Elevation regressions and lapse rates checked against hand-computed values, and the
// cell loop of the elevation methods on 1, 2 and 8 threads.
#include "meteo/elevation_regression.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <vector>

#include "framework/memory_handling.h"
#include "meteo/interpolation_kernels.h"
#include "meteo/station_mesh.h"
#include "framework/thread_policy.h"

namespace {

constexpr double N = 9999.0;
constexpr double kGridNodata = -9999.0;

RegressionParameters ThreeZones() {
  RegressionParameters p;
  p.intercept[1] = 10;
  p.gradient[1] = -0.005;
  p.limit1 = 500;
  p.intercept[2] = 12;
  p.gradient[2] = -0.01;
  p.limit2 = 1500;
  p.intercept[3] = 5;
  p.gradient[3] = -0.002;
  p.c0 = -N - 1;
  return p;
}

// Stations in 1-based arrays with altitudes.
struct Stations {
  std::vector<double> z{0}, x{0}, y{0}, v{0};
  void Add(double sz, double sv, double sx = 0, double sy = 0) {
    z.push_back(sz);
    v.push_back(sv);
    x.push_back(sx);
    y.push_back(sy);
  }
  int n() const { return static_cast<int>(z.size()) - 1; }
  RegressionParameters Fit(const StationRegressionSettings& s) const {
    return StationRegression(s, n(), z.data(), x.data(), y.data(), v.data(), N);
  }
};

StationRegressionSettings Settings(double z1, double z2, double t, int o, double r, double lambda = -9999) {
  StationRegressionSettings s;
  s.lowerInversion = z1;
  s.upperInversion = z2;
  s.tolerance = t;
  s.overlap = o;
  s.clusterRange = r;
  s.upperLapseRate = lambda;
  return s;
}

double At(const RegressionParameters& p, double z, double x = 0, double y = 0) {
  return RegressionValue(p, N, kGridNodata, x, y, z);
}

TEST(RegressionValue, ZonesPlaneAndMissingIntercept) {
  RegressionParameters p = ThreeZones();
  EXPECT_DOUBLE_EQ(At(p, 400), 8.0);     // zone 1
  EXPECT_DOUBLE_EQ(At(p, 500), 7.0);     // a limit belongs to zone 2
  EXPECT_DOUBLE_EQ(At(p, 1500), -3.0);
  EXPECT_DOUBLE_EQ(At(p, 2000), 1.0);    // zone 3
  p.c0 = 3;
  p.cx = 0.001;
  p.cy = -0.002;
  EXPECT_DOUBLE_EQ(At(p, 400, 1000, 500), 1.0);   // plane replaces intercept 1
  EXPECT_DOUBLE_EQ(At(p, 2000, 1000, 500), -6.0);  // other zones keep their offset to it
  EXPECT_DOUBLE_EQ(At(p, 400, kGridNodata, 500), 8.0);  // no coordinates, no plane
  p.intercept[1] = -N - 1;
  EXPECT_EQ(At(p, 400), -N - 1);
}

TEST(RegressionValue, Determinant) {
  const double a[4] = {0, 1, 2, 3}, b[4] = {0, 0, 1, 4}, c[4] = {0, 5, 6, 0};
  EXPECT_DOUBLE_EQ(Determinant3(a, b, c), 1.0);
  EXPECT_DOUBLE_EQ(Determinant3(a, a, c), 0.0);
}

TEST(StationRegression, OneGroupAndClusters) {
  Stations low;  // all below the lower inversion: one line everywhere
  low.Add(100, 20);
  low.Add(300, 19);
  low.Add(500, 18);
  RegressionParameters p = low.Fit(Settings(1000, 2000, 0, 0, 10));
  EXPECT_DOUBLE_EQ(p.limit1, 0.0);
  EXPECT_DOUBLE_EQ(p.limit2, 1000.0);
  EXPECT_NEAR(At(p, 300), 19.0, 1e-12);
  EXPECT_NEAR(At(p, 1500), 13.0, 1e-12);  // zone 3 follows the same line
  EXPECT_NEAR(At(p, -5), 20.5, 1e-12);    // below 0: the intercept
  EXPECT_LT(p.c0, -N);                    // three stations give no plane

  Stations cluster;  // 400, 410, 415 m within a range of 50: one mean point
  cluster.Add(400, 5);
  cluster.Add(410, 6);
  cluster.Add(415, 7);
  p = cluster.Fit(Settings(1000, 2000, 0, 0, 50));
  for (double z : {-100.0, 408.0, 1200.0, 3000.0}) EXPECT_DOUBLE_EQ(At(p, z), 6.0) << z;

  Stations none;
  none.Add(100, -N - 1);
  p = none.Fit(Settings(1000, 2000, 0, 0, 50));
  EXPECT_EQ(At(p, 100), -N - 1);
  EXPECT_EQ(p.c0, -N - 1);
}

TEST(StationRegression, CrossingInsideAndFarAboveTheInversion) {
  Stations s;
  s.Add(200, 10, 0, 0);
  s.Add(600, 12, 1000, 0);
  s.Add(1200, 14, 0, 1000);
  s.Add(1800, 11, 1000, 1000);
  // Lines 9 + 0.005 z and 20 - 0.005 z cross at 1100, inside 1000 - 100 .. 1500 + 100.
  RegressionParameters p = s.Fit(Settings(1000, 1500, 100, 0, 10));
  EXPECT_NEAR(p.limit1, 0.0, 1e-12);
  EXPECT_NEAR(p.limit2, 1100.0, 1e-9);
  EXPECT_NEAR(At(p, -5), 9.0, 1e-9);
  EXPECT_NEAR(At(p, 1000), 14.0, 1e-9);
  EXPECT_NEAR(At(p, 1300), 13.5, 1e-9);
  EXPECT_NEAR(p.c0, 9.0, 1e-9);  // every residual is 9: a flat plane at intercept 1
  EXPECT_NEAR(p.cx, 0.0, 1e-12);
  EXPECT_NEAR(At(p, 1300, 500, 500), 13.5, 1e-9);

  Stations f;
  f.Add(200, 10, 0, 0);
  f.Add(600, 12, 1000, 0);
  f.Add(1200, 15, 0, 1000);
  f.Add(1800, 16, 1000, 1000);
  // Lines 9 + 0.005 z and 13 + z / 600 cross at 1200, above 1100: the middle zone joins
  // line 1 at 1000 (14) to line 2 at 1100 (14.8333).
  p = f.Fit(Settings(1000, 1100, 0, 0, 10));
  EXPECT_DOUBLE_EQ(p.limit1, 1000.0);
  EXPECT_DOUBLE_EQ(p.limit2, 1100.0);
  EXPECT_NEAR(At(p, 500), 11.5, 1e-9);
  EXPECT_NEAR(At(p, 1050), 14.0 + 0.5 * (13.0 + 1100.0 / 600 - 14.0), 1e-9);
  EXPECT_NEAR(At(p, 1200), 15.0, 1e-9);
  // A fixed lapse rate above the upper height keeps the value at 1100.
  p = f.Fit(Settings(1000, 1100, 0, 0, 10, -0.0065));
  p.planeFitted = false;  // the zone lines alone
  p.c0 = -N - 1;
  EXPECT_NEAR(At(p, 2100), 13.0 + 1100.0 / 600 - 6.5, 1e-9);
  EXPECT_NEAR(At(p, 1100), 13.0 + 1100.0 / 600, 1e-9);
}

TEST(StationRegression, BoundaryStationJoinsALoneStationAbove) {
  Stations s;
  s.Add(200, 10);
  s.Add(600, 12);
  s.Add(1200, 14);
  // Group 2 holds one station, so the highest station below 1000 m joins it.
  RegressionParameters p = s.Fit(Settings(1000, 1500, 0, 0, 10));
  EXPECT_NEAR(p.gradient[3], 2.0 / 600, 1e-12);
  EXPECT_NEAR(At(p, 1800), 16.0, 1e-9);
  EXPECT_NEAR(At(p, 200), 10.0, 1e-9);
}

TEST(StationRegression, PlaneOfResidualsAtLargeCoordinates) {
  const double x0 = 3.5e6, y0 = 5.2e6;
  Stations s;
  auto truth = [](double z, double x, double y) { return 10 - 0.005 * z + 0.001 * x + 0.002 * y; };
  const double pts[4][3] = {{100, 0, 0}, {300, 1000, 0}, {300, 0, 1000}, {100, 1000, 1000}};
  for (const auto& q : pts) s.Add(q[0], truth(q[0], q[1], q[2]), x0 + q[1], y0 + q[2]);
  RegressionParameters p = s.Fit(Settings(1000, 2000, 0, 0, 10));
  EXPECT_NEAR(p.cx, 0.001, 1e-9);
  EXPECT_NEAR(p.cy, 0.002, 1e-9);
  EXPECT_NEAR(At(p, 200, x0 + 500, y0 + 500), truth(200, 500, 500), 1e-6);
  EXPECT_NEAR(At(p, 100, x0, y0), truth(100, 0, 0), 1e-6);  // c0 itself lies far below -N
  EXPECT_LT(p.c0, -N);

  Stations line;  // stations on one line give no plane
  for (int k = 0; k < 5; ++k) line.Add(100 + 50 * k, 10 - k, x0 + 100 * k, y0);
  p = line.Fit(Settings(1000, 2000, 0, 0, 10));
  EXPECT_EQ(p.c0, -N - 1);
  EXPECT_GE(p.intercept[1], -N);
}

TEST(ElevationGradient, LapseRatesAroundTheInversion) {
  ElevationGradientSettings g;
  g.g1 = -0.0065;
  g.inversionHeight = 1000;
  g.g2 = 0.002;
  EXPECT_DOUBLE_EQ(ShiftByLapseRates(g, 10, 500, 1500), 7.75);
  EXPECT_DOUBLE_EQ(ShiftByLapseRates(g, 10, 500, 800), 10 - 0.0065 * 300);
  EXPECT_DOUBLE_EQ(ShiftByLapseRates(g, 5, 1200, 800), 5 - 0.4 + 1.3);
  EXPECT_DOUBLE_EQ(ShiftByLapseRates(g, 5, 1200, 1500), 5 + 0.6);
  g.inversionHeight = g.g2 = -9999;
  EXPECT_DOUBLE_EQ(ShiftByLapseRates(g, 10, 500, 1500), 3.5);
  g.pType = 1;
  EXPECT_EQ(ShiftByLapseRates(g, 0.0, 500, 1500), 0.0);

  Stations s;  // two stations equally near the point: the lower number wins
  s.Add(100, 1, -10, 0);
  s.Add(200, 2, 10, 0);
  s.Add(300, -N - 1, 0, 0);  // invalid, though nearest
  g.pType = 0;
  EXPECT_DOUBLE_EQ(ElevationGradientValue(g, s.n(), s.x.data(), s.y.data(), s.v.data(), s.z.data(), N, 0, 0, 100), 1);
  EXPECT_EQ(ElevationGradientValue(g, 0, s.x.data(), s.y.data(), s.v.data(), s.z.data(), N, 0, 0, 100), -N - 1);
}

// A grid with elevations rising to the north-east and six stations.
struct ElevationLoop {
  int rows = 41, cols = 37;
  MatrixOwner cx{41, 37}, cy{41, 37}, zone{41, 37}, dem{41, 37}, result{41, 37};
  Stations st;
  RegressionParameters reg = ThreeZones();
  ElevationGradientSettings g;
  CellLoop loop;
  ElevationLoop() {
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j) {
        cx[i][j] = 50.0 + 100.0 * (j - 1);
        cy[i][j] = 50.0 + 100.0 * (rows - i);
        zone[i][j] = (i * j) % 11 == 0 ? kGridNodata : 1.0;
        dem[i][j] = 200.0 + 20.0 * j + 15.0 * (rows - i);
        result[i][j] = -1.0;
      }
    for (int k = 0; k < 6; ++k) st.Add(300.0 + 150 * k, 10.0 - k, 300.0 * k + 70, 3000.0 - 450 * k);
    g.g1 = -0.0065;
    loop.firstRow = 1;
    loop.lastRow = rows;
    loop.ncols = cols;
    loop.coordX = loop.distX = cx.get();
    loop.coordY = loop.distY = cy.get();
    loop.zone = zone.get();
    loop.stations = loop.rotated = StationPoints{st.n(), st.x.data(), st.y.data(), st.v.data()};
    loop.idw = MakeIdwSettings(2.0, 1e9);
    loop.nodata = N;
    loop.result = result.get();
    loop.elevation = dem.get();
    loop.regression = &reg;
    loop.idwFraction = 0.25;
    loop.gradient = &g;
    loop.stationAltitude = st.z.data();
    loop.minParallelCells = 0;
  }
  std::vector<double> Cells() const {
    std::vector<double> out;
    for (int i = 1; i <= rows; ++i) out.insert(out.end(), result[i] + 1, result[i] + cols + 1);
    return out;
  }
};

TEST(ElevationCellLoop, BitIdenticalForOneTwoAndEightThreads) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  for (int method : {2, 3, 11, 12, 5, 6, 7, 8}) {
    ElevationLoop f;
    f.loop.method = method;
    // Stations 1..6 and a 3 x 3 mesh of further stations 7..15 for the mesh methods.
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) f.st.Add(500, 0.5 * i - j, 600.0 + 1200.0 * i, 700.0 + 1300.0 * j);
    f.loop.stations = f.loop.rotated = StationPoints{f.st.n(), f.st.x.data(), f.st.y.data(), f.st.v.data()};
    std::vector<double> gradients(f.st.v.size(), 0.002);
    f.loop.rotatedGradient = StationPoints{f.st.n(), f.st.x.data(), f.st.y.data(), gradients.data()};
    f.loop.stationAltitude = f.st.z.data();
    std::vector<int> corners(static_cast<size_t>(4 * (f.rows + 1) * (f.cols + 1)), 0);
    for (int i = 1; i <= f.rows; ++i)
      for (int j = 1; j <= f.cols; ++j) {
        const MeshCorners k =
            FindMeshCorners(f.st.n(), f.st.x.data(), f.st.y.data(), f.cx[i][j], f.cy[i][j], 1200, 1300, 0.25);
        for (int q = 0; q < 4; ++q) corners[static_cast<size_t>(4 * (i * (f.cols + 1) + j) + q)] = k.p[q];
      }
    f.loop.meshCorners = corners.data();
    f.reg.c0 = 1.5;
    f.reg.cx = 1e-4;
    f.reg.cy = -2e-4;
    std::vector<double> reference;
    // Methods 7 and 8 find the spline values in the result grid (grid nodata where the
    // mesh does not reach) and, for 8, the gradients in a second grid.
    MatrixOwner splineGradient(f.rows, f.cols);
    f.loop.splineGradient = splineGradient.get();
    auto splinePass = [&]() {
      for (int i = 1; i <= f.rows; ++i)
        for (int j = 1; j <= f.cols; ++j) {
          f.result[i][j] = j > 30 ? kGridNodata : 0.1 * i - 0.05 * j;
          splineGradient[i][j] = i > 35 ? kGridNodata : 0.001 * j;
        }
    };
    for (int threads : {1, 2, 8}) {
      omp_set_num_threads(threads);
      omp_set_schedule(omp_sched_dynamic, 2);
      if (method >= 7) splinePass();
      RunCellLoop(f.loop);
      const std::vector<double> got = f.Cells();
      if (reference.empty())
        reference = got;
      else
        EXPECT_EQ(0, std::memcmp(reference.data(), got.data(), got.size() * sizeof(double))) << method << threads;
    }
    const double x = f.cx[3][4], y = f.cy[3][4], z = f.dem[3][4];
    const double r = RegressionValue(f.reg, N, kGridNodata, x, y, z);
    const double w = IdwValue(f.loop.stations, f.loop.idw, N, x, y);
    double mesh = 0;
    if (method == 5 || method == 6) {
      const int* k = &corners[static_cast<size_t>(4 * (3 * (f.cols + 1) + 4))];
      if (!BilinearValue(MeshCorners{{k[0], k[1], k[2], k[3]}}, f.st.x.data(), f.st.y.data(), f.st.v.data(), N, x, y,
                         mesh))
        mesh = w;
      if (method == 6) mesh += 0.002 * z;
    }
    if (method == 7) mesh = 0.1 * 3 - 0.05 * 4;
    if (method == 8) mesh = 0.1 * 3 - 0.05 * 4 + 0.001 * 4 * z;
    const double expected = method >= 5 && method <= 8 ? mesh
                            : method == 2 ? r
                            : method == 12
                                ? ElevationGradientValue(f.g, f.st.n(), f.st.x.data(), f.st.y.data(), f.st.v.data(),
                                                         f.st.z.data(), N, x, y, z)
                                : 0.25 * w + 0.75 * r;
    EXPECT_DOUBLE_EQ(f.result[3][4], expected) << method;
    EXPECT_EQ(f.result[11][1], kGridNodata);  // outside the basin
  }
}

TEST(ElevationCellLoop, MissingRegressionAndUnreachedCells) {
  ElevationLoop f;
  f.loop.method = 2;
  f.reg.intercept[1] = -N - 1;
  f.loop.post.scale = 2.0;
  RunCellLoop(f.loop);
  EXPECT_EQ(f.result[3][4], -1.0);  // left as it was, not post-processed
  EXPECT_EQ(f.result[11][1], kGridNodata);

  // Method 3 with no station in reach: the regression alone; without regression: missing.
  ElevationLoop m;
  m.loop.method = 3;
  m.loop.idw = MakeIdwSettings(2.0, 1.0);
  std::vector<uint8_t> miss(static_cast<size_t>((m.rows + 1) * (m.cols + 1)));
  m.loop.missMask = miss.data();
  EXPECT_GT(RunCellLoop(m.loop).noStation, 0);
  EXPECT_DOUBLE_EQ(m.result[3][4], RegressionValue(m.reg, N, kGridNodata, m.cx[3][4], m.cy[3][4], m.dem[3][4]));
  m.reg.intercept[1] = -N - 1;
  RunCellLoop(m.loop);
  EXPECT_EQ(m.result[3][4], -N - 1);

  // A record of equal values: methods 3 and 11 take it unweighted, method 12 still
  // applies the lapse rate.
  ElevationLoop e;
  e.loop.useCommonValue = e.loop.commonValueValid = true;
  e.loop.commonValue = 4.0;
  for (double& v : e.st.v) v = 4.0;
  e.loop.method = 11;
  RunCellLoop(e.loop);
  EXPECT_EQ(e.result[3][4], 4.0);
  e.loop.method = 12;
  RunCellLoop(e.loop);
  EXPECT_NE(e.result[3][4], 4.0);
}

}  // namespace
