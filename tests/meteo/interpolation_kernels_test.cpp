#include "meteo/interpolation_kernels.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/memory_handling.h"
#include "framework/modelobject.h"
#include "meteo/elevation_regression.h"
#include "framework/thread_policy.h"

namespace {

// Stations held in 1-based arrays.
struct Stations {
  std::vector<double> x{0.0}, y{0.0}, v{0.0};
  void Add(double sx, double sy, double sv) {
    x.push_back(sx);
    y.push_back(sy);
    v.push_back(sv);
  }
  StationPoints Points() const {
    return StationPoints{static_cast<int>(x.size()) - 1, x.data(), y.data(), v.data()};
  }
};

constexpr double N = 9999.0;

TEST(InverseDistance, SingleStationGivesItsValueEverywhere) {
  Stations s;
  s.Add(100.0, 200.0, 7.25);
  for (double p : {1.0, 2.0, 2.5}) {
    IdwSettings w = MakeIdwSettings(p, 1e9);
    EXPECT_EQ(IdwValue(s.Points(), w, N, -5000.0, 12345.0), 7.25);
    EXPECT_EQ(IdwValue(s.Points(), w, N, 100.0, 200.0), 7.25);
  }
}

TEST(InverseDistance, WeightsMatchHandComputation) {
  Stations s;
  s.Add(0.0, 0.0, 10.0);  // on the cell: counts at distance 1
  s.Add(2.0, 0.0, 20.0);  // distance 2
  IdwSettings w2 = MakeIdwSettings(2.0, 100.0);
  EXPECT_DOUBLE_EQ(IdwValue(s.Points(), w2, N, 0.0, 0.0), (4 * 10.0 + 20.0) / 5.0);

  Stations t;
  t.Add(3.0, 0.0, 6.0);
  t.Add(0.0, -4.0, 12.0);
  IdwSettings w1 = MakeIdwSettings(1.0, 100.0);
  EXPECT_DOUBLE_EQ(IdwValue(t.Points(), w1, N, 0.0, 0.0), (6.0 / 3 + 12.0 / 4) / (1.0 / 3 + 1.0 / 4));
  IdwSettings w3 = MakeIdwSettings(3.0, 100.0);
  EXPECT_DOUBLE_EQ(IdwValue(t.Points(), w3, N, 0.0, 0.0), (6.0 / 27 + 12.0 / 64) / (1.0 / 27 + 1.0 / 64));
  EXPECT_EQ(w3.mode, 3000);
  EXPECT_EQ(w1.mode, 1000);
}

TEST(InverseDistance, SearchRadiusAndMissingStations) {
  Stations s;
  s.Add(9.9, 0.0, 1.0);
  s.Add(-10.1, 0.0, 3.0);
  IdwSettings w = MakeIdwSettings(2.0, 10.0);
  EXPECT_DOUBLE_EQ(IdwValue(s.Points(), w, N, 0.0, 0.0), 1.0);
  IdwSettings w1 = MakeIdwSettings(1.0, 10.0);
  EXPECT_DOUBLE_EQ(IdwValue(s.Points(), w1, N, 0.0, 0.0), 1.0);
  // Nothing in reach: the missing result.
  IdwSettings tight = MakeIdwSettings(2.0, 5.0);
  EXPECT_EQ(IdwValue(s.Points(), tight, N, 0.0, 0.0), -N - 1);
  // A station whose value is missing is left out.
  Stations m;
  m.Add(1.0, 0.0, -N - 1);
  m.Add(2.0, 0.0, 8.0);
  EXPECT_EQ(IdwValue(m.Points(), w, N, 0.0, 0.0), 8.0);
  Stations none;
  EXPECT_EQ(IdwValue(none.Points(), w, N, 0.0, 0.0), -N - 1);
}

TEST(InverseDistance, AnisotropyShortensTheMainAxis) {
  // b/a = 0.5, alpha = 0: 10 east counts as 5, 10 north as 10.
  Stations s;
  s.Add(10.0, 0.0, 1.0);
  s.Add(0.0, 10.0, 2.0);
  IdwSettings w = MakeIdwSettings(2.0, 1e6);
  EXPECT_DOUBLE_EQ(IdwValueAnisotropic(s.Points(), w, N, 0.0, 0.0, 0.5),
                   (1.0 / 25 + 2.0 / 100) / (1.0 / 25 + 1.0 / 100));
  double xr, yr;
  RotatePoint(110.0, 200.0, 100.0, 200.0, M_PI / 2, xr, yr);
  EXPECT_NEAR(xr, 100.0, 1e-12);
  EXPECT_NEAR(yr, 190.0, 1e-12);
  RotatePoint(100.0, 210.0, 100.0, 200.0, M_PI / 4, xr, yr);
  EXPECT_NEAR(xr, 100.0 + 10 * std::cos(M_PI / 4), 1e-12);
  EXPECT_NEAR(yr, 200.0 + 10 * std::sin(M_PI / 4), 1e-12);
  RotatePoint(100.0, 190.0, 100.0, 200.0, 0.0, xr, yr);  // straight below the origin
  EXPECT_NEAR(xr, 100.0, 1e-12);
  EXPECT_NEAR(yr, 190.0, 1e-12);
}

TEST(NearestStation, NearestValidStationAndTies) {
  Stations s;
  s.Add(-1.0, 0.0, 1.0);
  s.Add(1.0, 0.0, 2.0);  // as near as station 1: the higher number wins
  s.Add(0.5, 0.0, -N - 1);
  EXPECT_EQ(ThiessenValue(s.Points(), N, 0.0, 0.0), 2.0);
  EXPECT_EQ(ThiessenValue(s.Points(), N, -0.9, 0.0), 1.0);
  Stations m;
  m.Add(0.0, 0.0, -N - 5);
  EXPECT_EQ(ThiessenValue(m.Points(), N, 0.0, 0.0), -N - 1);
}

TEST(PostProcessing, LimitsScenarioAndStoredValues) {
  PostProcessing p;
  p.lower = -40;
  p.lowerReplacement = -40;
  p.upper = 40;
  p.upperReplacement = 40;
  EXPECT_EQ(PostProcessValue(-45, p, 0), -40);
  EXPECT_EQ(PostProcessValue(47, p, 0), 40);
  EXPECT_EQ(PostProcessValue(40, p, 0), 40);
  p.scale = 2.0;
  EXPECT_EQ(PostProcessValue(10, p, 0), 20);
  p.szenUse = 1;
  p.szenMeth = 1;
  EXPECT_EQ(PostProcessValue(10, p, 1.5), 21.5);
  p.szenMeth = 3;
  EXPECT_EQ(PostProcessValue(10, p, 1.5), 30);
  EXPECT_EQ(StoreStationValue(10000.0, 9999.0), -10000.0);
  EXPECT_EQ(StoreStationValue(-9999.0, 9999.0), -9999.0);
}

TEST(Scenario, DayValueBetweenMonths) {
  // 10 March, February of 28 days.
  EXPECT_DOUBLE_EQ(ScenarioDayValue(2.0, 3.0, 4.0, 10, 28, 31), (6.0 / 28) * 2.0 + (22.0 / 28) * 3.0);
  EXPECT_DOUBLE_EQ(ScenarioDayValue(2.0, 3.0, 4.0, 20, 28, 31), (26.0 / 31) * 3.0 + (5.0 / 31) * 4.0);
  ScenarioStations s;
  s.count = 2;
  s.x = {0, 0.0, 100.0};
  s.y = {0, 0.0, 0.0};
  s.month.resize(3);
  for (int m = 1; m <= 12; ++m) {
    s.month[1][m] = m;
    s.month[2][m] = 10 * m;
  }
  int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  UpdateScenarioDayValues(s, 1, 15, days);  // January wraps to December
  EXPECT_DOUBLE_EQ(s.dayValue[1], (1.0 / 31) * 12 + (30.0 / 31) * 1);
  EXPECT_DOUBLE_EQ(ScenarioStationValue(s, 90.0, 0.0), s.dayValue[2]);
  EXPECT_DOUBLE_EQ(ScenarioStationValue(s, 50.0, 0.0), s.dayValue[2]);  // tie: the later one
  EXPECT_EQ(ScenarioStationValue(ScenarioStations(), 0, 0), 0.0);
}

// A grid of rows x cols with cell centres 10 apart and a few stations.
struct LoopFixture {
  int rows, cols;
  MatrixOwner cx, cy, zone, result;
  Stations st;
  CellLoop loop;
  LoopFixture(int r, int c) : rows(r), cols(c), cx(r, c), cy(r, c), zone(r, c), result(r, c) {
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j) {
        cx[i][j] = 5.0 + 10.0 * (j - 1);
        cy[i][j] = 5.0 + 10.0 * (rows - i);
        zone[i][j] = (i + j) % 7 == 0 ? -9999.0 : 1.0;
      }
    for (int k = 0; k < 13; ++k) st.Add(3.7 * k * k, 17.0 * k, std::sin(k) * 10);
    loop.firstRow = 1;
    loop.lastRow = rows;
    loop.ncols = cols;
    loop.coordX = loop.distX = cx.get();
    loop.coordY = loop.distY = cy.get();
    loop.zone = zone.get();
    loop.stations = loop.rotated = st.Points();
    loop.idw = MakeIdwSettings(2.0, 1e9);
    loop.nodata = N;
    loop.result = result.get();
  }
  // Anisotropy: the stations and cells rotated by alpha about (0, 0), the x differences
  // scaled by ratio.
  std::vector<double> rx, ry;
  MatrixOwner dx, dy;
  void Rotate(double alpha, double ratio) {
    rx.assign(st.x.size(), 0.0);
    ry.assign(st.y.size(), 0.0);
    dx = MatrixOwner(rows, cols);
    dy = MatrixOwner(rows, cols);
    for (size_t k = 1; k < rx.size(); ++k) RotatePoint(st.x[k], st.y[k], 0, 0, alpha, rx[k], ry[k]);
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j) RotatePoint(cx[i][j], cy[i][j], 0, 0, alpha, dx[i][j], dy[i][j]);
    loop.rotated = StationPoints{st.Points().n, rx.data(), ry.data(), st.v.data()};
    loop.distX = dx.get();
    loop.distY = dy.get();
    loop.ratio = ratio;
  }
};

TEST(CellLoop, BitIdenticalForOneTwoAndEightThreads) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  for (int method : {1, 4, 11}) {  // 11 here: inverse distance with anisotropy
    LoopFixture f(57, 43);
    f.loop.method = method == 4 ? 4 : 1;
    if (method == 11) f.Rotate(0.3, 0.4);
    f.loop.post.scale = 1.1;
    f.loop.minParallelCells = 0;
    std::vector<double> reference;
    for (int threads : {1, 2, 8}) {
      omp_set_num_threads(threads);
      omp_set_schedule(omp_sched_dynamic, 3);
      RunCellLoop(f.loop);
      std::vector<double> got;
      for (int i = 1; i <= f.rows; ++i) got.insert(got.end(), f.result[i] + 1, f.result[i] + f.cols + 1);
      if (reference.empty())
        reference = got;
      else
        EXPECT_EQ(0, std::memcmp(reference.data(), got.data(), got.size() * sizeof(double))) << threads;
    }
    EXPECT_EQ(f.result[7][7] == -9999.0, true);  // outside the basin
    const double expected = method == 1    ? IdwValue(f.st.Points(), f.loop.idw, N, 5.0, 565.0)
                            : method == 4  ? ThiessenValue(f.st.Points(), N, 5.0, 565.0)
                                           : IdwValueAnisotropic(f.loop.rotated, f.loop.idw, N, f.dx[1][1],
                                                                 f.dy[1][1], 0.4);
    EXPECT_DOUBLE_EQ(f.result[1][1], 1.1 * expected);
  }
}

TEST(CellLoop, WindowCommonValueAndMissingCells) {
  LoopFixture f(6, 6);
  f.loop.xmax = 30.0;  // columns 4..6 lie outside the window
  f.loop.useCommonValue = true;
  f.loop.commonValueValid = true;
  f.loop.commonValue = 2.0;
  f.loop.post.scale = 3.0;
  RunCellLoop(f.loop);
  EXPECT_EQ(f.result[1][1], 6.0);
  EXPECT_EQ(f.result[1][4], -9999.0);
  // No valid station at all: cells keep their last value, not post-processed again.
  f.loop.commonValueValid = false;
  RunCellLoop(f.loop);
  RunCellLoop(f.loop);
  EXPECT_EQ(f.result[1][1], 6.0);
  EXPECT_EQ(f.result[2][2], 6.0);
  // Cells that no station reaches are counted and flagged.
  f.loop.useCommonValue = false;
  f.loop.idw = MakeIdwSettings(2.0, 1.0);
  std::vector<uint8_t> mask((6 + 1) * (6 + 1), 9);
  f.loop.missMask = mask.data();
  f.loop.post = PostProcessing();
  const CellCounts missing = RunCellLoop(f.loop);
  EXPECT_GT(missing.noStation, 0);
  EXPECT_EQ(mask[1 * 7 + 1], 1);
  EXPECT_EQ(f.result[1][1], -N - 1);
  EXPECT_EQ(mask[1 * 7 + 5], 0);  // outside the window
  // The limits' replacements are counted by limit, a missing value as missing alone; without
  // the mask the cells are counted all the same.
  f.loop.missMask = nullptr;
  const IdwSettings reach = MakeIdwSettings(2.0, 1e9);
  std::vector<double> values;
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 3; ++j) values.push_back(IdwValue(f.st.Points(), reach, N, f.cx[i][j], f.cy[i][j]));
  std::sort(values.begin(), values.end());
  const double middle = values[values.size() / 2];
  f.loop.post.lower = f.loop.post.lowerReplacement = middle;
  f.loop.post.upper = f.loop.post.upperReplacement = middle;
  const CellCounts limited = RunCellLoop(f.loop);
  EXPECT_EQ(limited.noStation, missing.noStation);
  f.loop.idw = reach;
  CellCounts expected;
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 3; ++j) {
      if (f.zone[i][j] < 0.0) continue;
      const double v = IdwValue(f.st.Points(), reach, N, f.cx[i][j], f.cy[i][j]);
      expected.belowLower += v < middle;
      expected.aboveUpper += v > middle;
    }
  const CellCounts reached = RunCellLoop(f.loop);
  EXPECT_EQ(reached.noStation, 0);
  EXPECT_EQ(reached.belowLower, expected.belowLower);
  EXPECT_EQ(reached.aboveUpper, expected.aboveUpper);
  EXPECT_GT(expected.belowLower * expected.aboveUpper, 0);
}

// A station is out of reach when the cell loop weighs it at no cell: the maximum distance
// as each power measures it, the cells outside the basin or the window left out, the
// anisotropy's shorter main axis; with no cell at all nothing is said.
TEST(CellLoop, StationsOutOfReachOfEveryCell) {
  struct Row {
    const char* what;
    double power, ratio, xmax;
    double sx, sy;
    double nearest;  // 0: in reach
  };
  const Row rows[] = {
      {"inside the grid", 2.0, 1.0, 1e300, 25.0, 25.0, 0.0},
      {"at the maximum distance", 2.0, 1.0, 1e300, 65.0, 5.0, 0.0},
      {"just beyond it", 2.0, 1.0, 1e300, 65.5, 5.0, 10.5},
      {"just beyond it, power 1", 1.0, 1.0, 1e300, 65.5, 5.0, 10.5},
      {"at it, power 2.5", 2.5, 1.0, 1e300, 65.0, 5.0, 0.0},
      {"near a cell outside the basin only", 2.0, 1.0, 1e300, 55.0, 65.0, std::sqrt(200.0)},
      {"near a cell outside the window only", 2.0, 1.0, 30.0, 65.0, 5.0, 40.0},
      {"far along the shortened main axis", 2.0, 0.5, 1e300, 75.0, 5.0, 0.0},
      {"the same without anisotropy", 2.0, 1.0, 1e300, 75.0, 5.0, 20.0},
      {"no cell in the window", 2.0, 1.0, -1.0, 500.0, 500.0, 0.0},
  };
  for (const Row& r : rows) {
    LoopFixture f(6, 6);  // cell centres 5 .. 55; the cell of x 55, y 55 lies outside the basin
    Stations s;
    s.Add(25.0, 25.0, 1.0);
    s.Add(r.sx, r.sy, -N - 1.0);  // its value does not matter
    f.loop.stations = f.loop.rotated = s.Points();
    f.loop.ratio = r.ratio;
    f.loop.xmax = r.xmax;
    f.loop.idw = MakeIdwSettings(r.power, 10.0);
    const std::vector<double> nearest = StationsOutOfReach(f.loop);
    ASSERT_EQ(nearest.size(), 3u) << r.what;
    EXPECT_EQ(nearest[1], 0.0) << r.what;
    EXPECT_NEAR(nearest[2], r.nearest, 1e-12) << r.what;
  }
  // Against weighing every cell with every station alone, on a rotated grid of holes.
  for (double reach : {30.0, 400.0}) {
    LoopFixture f(57, 43);
    f.Rotate(0.3, 0.4);
    f.loop.idw = MakeIdwSettings(2.0, reach);
    const std::vector<double> nearest = StationsOutOfReach(f.loop);
    int out = 0;
    for (int k = 1; k <= f.st.Points().n; ++k) {
      double best = HUGE_VAL;
      bool reached = false;
      for (int i = 1; i <= f.rows; ++i)
        for (int j = 1; j <= f.cols; ++j) {
          if (f.zone[i][j] < 0.0) continue;
          const double ex = (f.rx[k] - f.dx[i][j]) * 0.4, ey = f.ry[k] - f.dy[i][j];
          best = std::min(best, std::sqrt(ex * ex + ey * ey));
          reached = reached || best <= reach;
        }
      EXPECT_NEAR(nearest[k], reached ? 0.0 : best, 1e-9) << reach << " " << k;
      out += !reached;
    }
    EXPECT_EQ(out > 0, reach < 100.0) << reach;  // both kinds are tested
  }
}

}  // namespace

namespace {

// The row loop interpolates several cells at once; every cell must get the very bits of
// the one-cell operation, whatever the power, anisotropy, reach and row length.
TEST(CellLoop, SameBitsAsTheOneCellOperation) {
  for (double power : {2.0, 1.0}) {
    for (double ratio : {1.0, 0.6}) {
      for (double reach : {1e9, 150.0}) {
        LoopFixture f(9, 11);  // 11 columns: the last cells of a row do not fill the lanes
        f.st.Add(15.0, 45.0, -2.5);              // exactly on cell (5, 2): counts at distance 1
        f.st.Add(40.0, 40.0, -N - 1.0);          // invalid: left out
        f.st.Add(1e6, 1e6, 77.0);                // beyond any reach but the first
        f.loop.stations = f.loop.rotated = f.st.Points();
        f.loop.idw = MakeIdwSettings(power, reach);
        f.loop.ratio = ratio;
        f.loop.minParallelCells = 0;
        RunCellLoop(f.loop);
        for (int i = 1; i <= f.rows; ++i)
          for (int j = 1; j <= f.cols; ++j) {
            const double expected = f.zone[i][j] == -9999.0
                                        ? -9999.0
                                        : IdwValue(f.st.Points(), f.loop.idw, N, f.cx[i][j], f.cy[i][j], ratio);
            ASSERT_EQ(0, std::memcmp(&expected, &f.result[i][j], sizeof(double)))
                << "power " << power << " b/a " << ratio << " reach " << reach << " cell " << i << "," << j << ": "
                << expected << " vs " << f.result[i][j];
          }
      }
    }
  }
}

TEST(NearestStationIndex, SameBitsAsTheSearchOfEveryCellWhileStationsComeAndGo) {
  ElevationGradientSettings gradient;
  gradient.g1 = -0.0065;
  gradient.inversionHeight = 900.0;
  gradient.g2 = 0.002;
  for (int method : {4, 12}) {
    LoopFixture f(23, 31);
    // Two stations at the same distance from a column of cells: ties decide.
    f.st.Add(5.0 + 10.0 * 8, 400.0, 3.0);
    f.st.Add(5.0 + 10.0 * 8, -170.0, 4.0);
    MatrixOwner elevation(f.rows, f.cols);
    for (int i = 1; i <= f.rows; ++i)
      for (int j = 1; j <= f.cols; ++j) elevation[i][j] = 500.0 + 31.0 * i - 7.0 * j;
    std::vector<double> altitude(f.st.x.size());
    for (size_t k = 1; k < altitude.size(); ++k) altitude[k] = 400.0 + 50.0 * static_cast<double>(k);
    MatrixOwner expected(f.rows, f.cols);
    CellLoop& loop = f.loop;
    loop.method = method;
    loop.elevation = elevation.get();
    loop.gradient = &gradient;
    loop.stationAltitude = altitude.data();
    loop.minParallelCells = 0;
    NearestStationIndex index;
    std::vector<double>& v = f.st.v;
    const std::vector<double> original = v;
    // Records: all valid, one station missing, two missing (the tie pair's one), the same
    // set again with other values, all valid again, none valid.
    const std::vector<std::vector<int>> missing = {{}, {3}, {3, 14}, {3, 14}, {}, {}};
    const bool searches[] = {true, true, true, false, true, false};
    for (size_t record = 0; record <= missing.size(); ++record) {
      v = original;
      for (size_t k = 1; k < v.size(); ++k) v[k] += static_cast<double>(record);
      if (record < missing.size()) {
        for (int k : missing[record]) v[static_cast<size_t>(k)] = -N - 1.0;
      } else {
        for (size_t k = 1; k < v.size(); ++k) v[k] = -N - 1.0;
      }
      loop.stations = loop.rotated = f.st.Points();
      loop.nearest = nullptr;
      loop.result = expected.get();
      RunCellLoop(loop);
      const bool searched = index.Update(loop);
      if (record < missing.size()) {
        EXPECT_EQ(searched, searches[record]) << "record " << record;
      }
      loop.nearest = index.Data();
      loop.result = f.result.get();
      RunCellLoop(loop);
      for (int i = 1; i <= f.rows; ++i)
        ASSERT_EQ(0, std::memcmp(expected[i] + 1, f.result[i] + 1, sizeof(double) * static_cast<size_t>(f.cols)))
            << "method " << method << " record " << record << " row " << i;
    }
  }
}

}  // namespace

namespace {

// Three variables of one station file on the fixture's grid, each with its own values,
// nodata value and post-processing.
struct ThreeVariables {
  LoopFixture a{23, 19}, b{23, 19}, c{23, 19};
  std::vector<double> vb, vc;
  ThreeVariables() {
    for (LoopFixture* f : {&a, &b, &c}) {
      f->st.Add(15.0, 45.0, 1.0);     // on a cell centre
      f->st.Add(40.0, 40.0, -N - 1);  // missing
      f->loop.stations = f->loop.rotated = f->st.Points();
      f->loop.minParallelCells = 0;
    }
    vb = b.st.v;
    vc = c.st.v;
    for (size_t i = 1; i < vb.size(); ++i) {
      vb[i] = vb[i] < -N ? -1000.0 : 3.0 * vb[i] + 1.0;  // nodata 999 in b
      vc[i] = vc[i] < -N ? vc[i] : 0.5 * vc[i] * vc[i];
    }
    b.loop.stations = b.loop.rotated = StationPoints{b.st.Points().n, b.st.x.data(), b.st.y.data(), vb.data()};
    c.loop.stations = c.loop.rotated = StationPoints{c.st.Points().n, c.st.x.data(), c.st.y.data(), vc.data()};
    b.loop.nodata = 999.0;
    b.loop.post.scale = 0.1;
    c.loop.post.upper = 40.0;
    c.loop.post.upperReplacement = 40.0;
    // One grid of cells and distances, as interpolators of one basin have.
    for (LoopFixture* f : {&b, &c}) {
      f->loop.coordX = f->loop.distX = a.cx.get();
      f->loop.coordY = f->loop.distY = a.cy.get();
      f->loop.zone = a.zone.get();
    }
  }
  std::vector<double> Results() const {
    std::vector<double> all;
    for (const LoopFixture* f : {&a, &b, &c})
      for (int i = 1; i <= f->rows; ++i) all.insert(all.end(), f->result[i] + 1, f->result[i] + f->cols + 1);
    return all;
  }
};

}  // namespace

TEST(SharedInverseDistance, OnePassForSeveralVariablesGivesTheBitsOfEachAlone) {
  // The shared pass leaves the values for each loop to finish, or finishes b and c itself.
  for (bool finish : {false, true})
    for (double power : {2.0, 1.0})
      for (double reach : {1e9, 60.0}) {
        ThreeVariables alone, shared;
        std::vector<uint8_t> maskAlone(24 * 20), maskShared(24 * 20);
        std::fill(maskShared.begin() + 20, maskShared.end(), 7);  // rows 1.. hold an older step's flags
        for (ThreeVariables* t : {&alone, &shared})
          for (LoopFixture* f : {&t->a, &t->b, &t->c}) f->loop.idw = MakeIdwSettings(power, reach);
        alone.c.loop.missMask = maskAlone.data();
        shared.c.loop.missMask = maskShared.data();
        shared.b.loop.finishShared = shared.c.loop.finishShared = finish;
        long missingAlone = 0, missingShared = 0;
        for (LoopFixture* f : {&alone.a, &alone.b, &alone.c}) missingAlone += RunCellLoop(f->loop).noStation;

        ASSERT_TRUE(SharesInverseDistance(shared.a.loop, shared.b.loop));
        ASSERT_TRUE(SharesInverseDistance(shared.a.loop, shared.c.loop));
        const CellLoop* loops[] = {&shared.a.loop, &shared.b.loop, &shared.c.loop};
        SharedPassResult passes[3];
        RunSharedInverseDistance(loops, 3, passes);
        int k = 0;
        for (LoopFixture* f : {&shared.a, &shared.b, &shared.c}) {
          f->loop.inverseDistanceInResult = true;
          EXPECT_EQ(passes[k].finished, f->loop.finishShared);
          missingShared += (passes[k].finished ? passes[k].counts : RunCellLoop(f->loop)).noStation;
          EXPECT_FALSE(passes[k++].statisticsAdded);  // none has statistics
        }
        const std::vector<double> x = alone.Results(), y = shared.Results();
        ASSERT_EQ(x.size(), y.size());
        EXPECT_EQ(0, std::memcmp(x.data(), y.data(), x.size() * sizeof(double))) << finish << " " << power << " " << reach;
        EXPECT_EQ(missingAlone, missingShared);
        EXPECT_EQ(maskAlone, maskShared);
        if (reach < 100.0) {
          EXPECT_GT(missingShared, 0);
        }
      }
}

TEST(SharedInverseDistance, OnlyLoopsOfTheSameCellsStationsAndValidStationsShare) {
  struct Case {
    const char* what;
    void (*change)(ThreeVariables&);
    bool shares;
  };
  const Case cases[] = {
      {"the same", [](ThreeVariables&) {}, true},
      {"another station valid", [](ThreeVariables& t) { t.vb[t.vb.size() - 1] = 5.0; }, false},
      {"a station missing", [](ThreeVariables& t) { t.vb[2] = -1000.0; }, false},
      {"a station elsewhere", [](ThreeVariables& t) { t.b.st.x[3] += 1.0; }, false},
      {"another power", [](ThreeVariables& t) { t.b.loop.idw = MakeIdwSettings(1.0, 1e9); }, false},
      {"another reach", [](ThreeVariables& t) { t.b.loop.idw = MakeIdwSettings(2.0, 100.0); }, false},
      {"other distance grids", [](ThreeVariables& t) { t.b.loop.distX = t.b.cx.get(); }, false},
      {"another window", [](ThreeVariables& t) { t.b.loop.xmax = 50.0; }, false},
      {"all values equal", [](ThreeVariables& t) { t.b.loop.useCommonValue = true; }, false},
      {"nearest station", [](ThreeVariables& t) { t.b.loop.method = 4; }, false},
      {"power 3", [](ThreeVariables& t) { t.b.loop.idw = MakeIdwSettings(3.0, 1e9); t.a.loop.idw = t.b.loop.idw; }, false},
  };
  for (const Case& k : cases) {
    ThreeVariables t;
    k.change(t);
    EXPECT_EQ(SharesInverseDistance(t.a.loop, t.b.loop), k.shares) << k.what;
  }
}
