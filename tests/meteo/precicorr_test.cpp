// Precipitation correction: the factors, the refit of regression segments, the grid loop,
// and the module on real interpolators (station form) and on registered grids (grid form).
#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "meteo/meteoint.h"
#include "meteo/precicorr.h"
#include "meteo/regression_file.h"
#include "small_basin.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

PrecipitationFactors ExampleFactors() {
  PrecipitationFactors f;
  f.threshold = 0.5;
  f.rainConstant = 1.05;
  f.rainSlope = 0.01;
  f.snowConstant = 1.2;
  f.snowSlope = 0.1;
  return f;
}

TEST(PrecipitationFactor, RainAboveTheThresholdSnowAtAndBelow) {
  const PrecipitationFactors f = ExampleFactors();
  EXPECT_DOUBLE_EQ(CorrectPrecipitationValue(f, 10.0, 9999, 3.0, 2.0), 10.7);
  EXPECT_DOUBLE_EQ(CorrectPrecipitationValue(f, 10.0, 9999, 0.0, 2.0), 14.0);
  EXPECT_DOUBLE_EQ(CorrectPrecipitationValue(f, 10.0, 9999, 0.5, 0.0), 12.0);  // at the threshold: snow
  EXPECT_DOUBLE_EQ(CorrectPrecipitationValue(f, 10.0, 9999, RainTemperature(f), 0.0), 10.5);
  // Invalid precipitation stays as it is.
  EXPECT_EQ(CorrectPrecipitationValue(f, -10000.0, 9999, 3.0, 2.0), -10000.0);
  EXPECT_TRUE(std::isnan(CorrectPrecipitationValue(f, std::nan(""), 9999, 3.0, 2.0)));
}

TEST(PrecipitationFactor, StraightLineFit) {
  const double z[] = {0, 1, 2, 3};
  const double p[] = {1, 3, 5, 7};
  double a = -1, b = -1;
  ASSERT_TRUE(FitStraightLine(z, p, 4, a, b));
  EXPECT_DOUBLE_EQ(a, 1.0);
  EXPECT_DOUBLE_EQ(b, 2.0);
  // One point, or one elevation only: the line stays.
  EXPECT_FALSE(FitStraightLine(z, p, 1, a, b));
  const double same[] = {2, 2, 2};
  EXPECT_FALSE(FitStraightLine(same, p, 3, a, b));
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 2.0);
}

TEST(PrecipitationFactor, RegressionSegmentsScaleAndJoin) {
  // A constant factor scales every line; segment 2 is then rebuilt to join 1 and 3.
  RegressionSegments s;
  s.s1 = 1000;
  s.s2 = 2000;
  s.a[1] = 1.0;
  s.b[1] = 0.002;
  s.a[2] = 2.0;
  s.b[2] = 0.001;
  s.a[3] = 0.0;
  s.b[3] = 0.002;
  CorrectRegressionSegments(s, 3000, 9999, [](double) { return 2.0; });
  EXPECT_NEAR(s.a[1], 2.0, 1e-9);
  EXPECT_NEAR(s.b[1], 0.004, 1e-12);
  EXPECT_NEAR(s.a[3], 0.0, 1e-9);
  EXPECT_NEAR(s.b[3], 0.004, 1e-12);
  // Joins: at s1 segment 1 gives 6, at s2 segment 3 gives 8.
  EXPECT_NEAR(s.b[2], (8.0 - 6.0) / 1000.0, 1e-12);
  EXPECT_NEAR(s.a[2] + s.b[2] * 1000, 6.0, 1e-9);
  EXPECT_EQ(s.s2, 2000);

  // Without segment 1 the limit s2 moves to where segments 2 and 3 meet.
  RegressionSegments t;
  t.s1 = 0;
  t.s2 = 1000;
  t.a[1] = -10000;  // invalid: segment 1 untouched
  t.a[2] = 1.0;
  t.b[2] = 0.001;
  t.a[3] = -1.0;
  t.b[3] = 0.003;
  // Factor 1 below 500 m, 2 above: segment 2 is refitted on the mixed samples.
  CorrectRegressionSegments(t, 2000, 9999, [](double z) { return z > 500 ? 2.0 : 1.0; });
  EXPECT_EQ(t.a[1], -10000);
  EXPECT_NEAR(t.s2, (t.a[2] - t.a[3]) / (t.b[3] - t.b[2]), 1e-9);

  // A negative s2 leaves segment 2 as it was (no sample), with no NaN anywhere.
  RegressionSegments u;
  u.s1 = 0;
  u.s2 = -5;
  u.a[2] = 1.0;
  u.b[2] = 0.5;
  u.b[3] = 0.0;
  CorrectRegressionSegments(u, 100, 9999, [](double) { return 3.0; });
  EXPECT_EQ(u.a[2], 1.0);
  EXPECT_EQ(u.b[2], 0.5);
  EXPECT_FALSE(std::isnan(u.s2));
}

TEST(PrecipitationFactor, SegmentThreeEndsEvenWhenItsStepVanishes) {
  RegressionSegments s;
  s.s1 = 0;
  s.s2 = 1e12;
  s.a[3] = 1.0;
  s.b[3] = 1.0;
  int calls = 0;
  // max - s2 below the resolution of s2: the step adds nothing; the sampling must stop.
  CorrectRegressionSegments(s, 1e12 + 1e-3, 9999, [&calls](double) {
    ++calls;
    return 1.0;
  });
  EXPECT_LE(calls, 200000);
}

TEST(PrecipitationFactor, CellOfAPointIsClamped) {
  int r, c;
  CellOfPoint(500, 3500, 0, 0, 1000, 4, 5, r, c);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(c, 1);
  CellOfPoint(4500, 500, 0, 0, 1000, 4, 5, r, c);
  EXPECT_EQ(r, 4);
  EXPECT_EQ(c, 5);
  CellOfPoint(-9999, -9999, 0, 0, 1000, 4, 5, r, c);
  EXPECT_EQ(r, 4);
  EXPECT_EQ(c, 1);
  CellOfPoint(1e300, 1e300, 0, 0, 1000, 4, 5, r, c);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(c, 5);
}

TEST(PrecipitationGridCorrection, ValidCellsOnlyAndTheSameForAnyThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int rows = 97, cols = 83;
  MatrixOwner p(rows, cols), t(rows, cols), u(rows, cols), mpi(rows, cols);
  auto fill = [&]() {
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        p[r][c] = 0.1 * ((r * 7 + c * 3) % 50);
        t[r][c] = -5.0 + 0.13 * ((r + 2 * c) % 80);
        u[r][c] = 0.07 * ((r * c) % 90);
      }
    p[1][1] = -9999.0;   // no data of the grid
    p[1][2] = -10000.0;  // invalid precipitation
    t[1][3] = -9999.0;   // no temperature: rain
    u[1][4] = -9999.0;   // no wind: calm
    mpi[2][2] = 1.0;     // another instance's cell
  };
  PrecipitationGridLoop loop;
  loop.firstRow = 1;
  loop.lastRow = rows;
  loop.ncols = cols;
  loop.precipitation = p.get();
  loop.temperature = t.get();
  loop.wind = u.get();
  loop.mpiRegions = mpi.get();
  loop.factors = ExampleFactors();
  loop.minParallelCells = 0;
  std::vector<double> first;
  for (int threads : {1, 2, 8}) {
    fill();
    omp_set_num_threads(threads);
    RunPrecipitationGridCorrection(loop);
    std::vector<double> now;
    for (int r = 1; r <= rows; ++r) now.insert(now.end(), p[r] + 1, p[r] + cols + 1);
    if (first.empty())
      first = now;
    else
      EXPECT_EQ(now, first) << threads << " threads";
  }
  omp_set_num_threads(1);
  EXPECT_EQ(p[1][1], -9999.0);
  EXPECT_EQ(p[1][2], -10000.0);
  EXPECT_DOUBLE_EQ(p[1][3], 0.1 * ((7 + 9) % 50) * (1.05 + 0.01 * u[1][3]));
  EXPECT_DOUBLE_EQ(p[1][4], 0.1 * ((7 + 12) % 50) * (t[1][4] > 0.5 ? 1.05 : 1.2));
  EXPECT_DOUBLE_EQ(p[2][2], 0.1 * ((14 + 6) % 50));  // untouched
  const double t33 = t[3][3], u33 = u[3][3];
  EXPECT_DOUBLE_EQ(p[3][3], 0.1 * ((21 + 9) % 50) * (t33 > 0.5 ? 1.05 + 0.01 * u33 : 1.2 + 0.1 * u33));
}

// --- the module ------------------------------------------------------------------------

std::string InterpolatorSection(const std::string& name, const std::string& stationFile, int method = 1,
                                const std::string& methodLine = "none.reg # regression file") {
  return "[" + name + "]\n" + std::to_string(method) + " # method\n" + stationFile + "\n" + methodLine + "\n" + name +
         ".asc # result grid\n0 # write code\n1.0 # scaling\n" + name +
         ".stat 0 # statistics\n9999 # nodata\n2.0 # idw weight\n1.0 # fraction\n1e7 # max distance\n0 # slope\n"
         "1 # b/a\n-1000 # lower limit\n-1000 # lower replacement\n1000 # upper limit\n1000 # upper "
         "replacement\n0 # SzenUse\n";
}

std::string CorrectionSection(int doIt) {
  return "[precipitation_correction]\n" + std::to_string(doIt) +
         " # do_it\n0.5 # threshold\n1.05 # rain constant\n0.01 # rain slope\n1.2 # snow constant\n0.1 # snow "
         "slope\n";
}

// One station in cell (3, 3); hourly rows from 1.1.2001 0:00.
std::string OneStation(const std::vector<std::string>& rows, const std::string& altitude = "1200") {
  std::string t = "values\nYY MM DD HH " + altitude + "\nYY MM DD HH 2500\nYY MM DD HH 1500\nYY MM DD HH S1\n";
  for (size_t h = 0; h < rows.size(); ++h) t += "2001 1 1 " + std::to_string(h) + " " + rows[h] + "\n";
  return t;
}

struct CorrectionRun {
  TempDir dir;
  CapturedLog log;
  SmallBasin basin;
  std::vector<ModuleOwner<meteointerpol>> owned;
  std::vector<meteointerpol*> table{nullptr};
  std::vector<std::string> names{""};
  std::string control;

  void AddInterpolator(const std::string& name, const std::vector<std::string>& rows, int method = 1,
                       const std::string& methodLine = "none.reg # regression file",
                       const std::string& altitude = "1200") {
    WriteTextFile(dir.file(name + ".dat"), OneStation(rows, altitude));
    control += InterpolatorSection(name, dir.file(name + ".dat"), method, methodLine);
    names.push_back(name);
  }
  void Build() {
    WriteTextFile(dir.file("run.ctl"), control);
    const ModuleInputs in = basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
    for (size_t i = 1; i < names.size(); ++i) {
      owned.push_back(MakeModule<meteointerpol>(in, names[i], static_cast<int>(5 + i), 0));
      table.push_back(owned.back().get());
    }
  }
  ModuleOwner<precicorrclass> Correction(int& error, bool switchOff = false) {
    return MakeModule<precicorrclass>(error, &log.log(), table.data(), names, dir.file("run.ctl"),
                                      static_cast<int>(names.size()) - 1, basin.registry.Records(), basin.geometry,
                                      switchOff);
  }
  // Builds the run with correction switched on, corrects the station values of the first
  // step once and returns the first value of interpolator i's station file (NAN on failure).
  double CorrectedStationValue(int i) {
    control += CorrectionSection(1);
    Build();
    int error = -1;
    auto pc = Correction(error);
    EXPECT_EQ(error, 0) << log.console();
    if (error != 0) return NAN;
    pc->CorrectStationValues();
    pc.Release();
    return table[static_cast<size_t>(i)]->Station(0).values[1];
  }
  void InterpolateAll(ModelDate d) {
    for (size_t i = 1; i < table.size(); ++i) table[i]->Interpolate(d);
  }
  void NextAll() {
    for (size_t i = 1; i < table.size(); ++i) table[i]->ReadNextRecord();
  }
};

TEST(PrecipitationCorrection, StationValuesByTemperatureAndWind) {
  CorrectionRun run;
  run.AddInterpolator("temperature", {"0", "3", "0", "-99999"});
  run.AddInterpolator("precipitation", {"0", "10", "10", "10"});
  run.AddInterpolator("wind_speed", {"0", "2", "2", "-99999"});
  run.control += CorrectionSection(1);
  run.Build();
  int error = -1;
  auto pc = run.Correction(error);
  ASSERT_EQ(error, 0) << run.log.console();
  EXPECT_EQ(pc->correctGrid, 0);
  EXPECT_EQ(pc->PrecipitationIndex(), 2);
  EXPECT_EQ(pc->TemperatureIndex(), 1);
  EXPECT_EQ(pc->WindIndex(), 3);
  double** p = run.table[2]->ResultGrid();

  // 1:00 rain at 3 deg C and 2 m/s; 2:00 snow at 0 deg C; 3:00 no temperature and no wind.
  const double expected[] = {10.7, 14.0, 10.5};
  for (int h = 1; h <= 3; ++h) {
    pc->CorrectStationValues();
    run.InterpolateAll(ModelDate{0, h, 1, 1, 2001});
    EXPECT_DOUBLE_EQ(p[3][3], expected[h - 1]) << h;
    EXPECT_DOUBLE_EQ(p[1][1], expected[h - 1]) << h;
    EXPECT_EQ(p[2][5], -9999.0);
    run.NextAll();
  }
}

TEST(PrecipitationCorrection, StationTemperatureAtTheStationsElevation) {
  // Temperature by the nearest station with a lapse rate: 2 deg C at 1200 m are -0.6 deg C
  // at the precipitation gauge's 1600 m, so its 10 mm count as snow.
  CorrectionRun run;
  run.AddInterpolator("temperature", {"2", "2"}, 12, "-0.0065 # lapse rate");
  run.AddInterpolator("precipitation", {"10", "10"}, 1, "none.reg # regression file", "1600");
  EXPECT_DOUBLE_EQ(run.CorrectedStationValue(2), 12.0);
}

TEST(PrecipitationCorrection, RegressionParametersOfTheStep) {
  // Precipitation from a regression file (segments joined at 500 m and 2000 m), snow
  // everywhere and no wind: every cell gets 1.2 times its regression value.
  CorrectionRun run;
  std::string reg = "jr mo tg st a1 b1 L a2 b2 U a3 b3 c0 cx cy\n";
  for (int h = 0; h < 3; ++h)
    reg += "2001 1 1 " + std::to_string(h) + " 1 0.002 500 1 0.002 2000 0 0.0025 -10000 0 0\n";
  WriteTextFile(run.dir.file("p.reg"), reg);
  run.AddInterpolator("temperature", {"-5", "-5", "-5"});
  run.AddInterpolator("precipitation", {"0", "0", "0"}, 2, run.dir.file("p.reg") + " # regression file");
  run.control += CorrectionSection(1);
  run.Build();
  int error = -1;
  auto pc = run.Correction(error);
  ASSERT_EQ(error, 0) << run.log.console();
  pc->SetInitValue(3000.0);
  pc->CorrectStationValues();
  const RegressionParameters& p = run.table[2]->Regression();
  EXPECT_NEAR(p.intercept[1], 1.2, 1e-9);
  EXPECT_NEAR(p.gradient[1], 0.0024, 1e-12);
  EXPECT_NEAR(p.gradient[3], 0.003, 1e-12);
  EXPECT_NEAR(p.gradient[2], 0.0024, 1e-12);
  EXPECT_EQ(p.limit1, 500.0);
  EXPECT_NEAR(p.limit2, 2000.0, 1e-9);
  run.InterpolateAll(ModelDate{0, 1, 1, 1, 2001});
  double** g = run.table[2]->ResultGrid();
  EXPECT_NEAR(g[1][1], 1.2 * (1 + 0.002 * 1010), 1e-9);
  EXPECT_NEAR(g[4][4], 1.2 * (1 + 0.002 * 1040), 1e-9);
}

TEST(PrecipitationCorrection, SwitchedOffOrWithoutSectionNothingChanges) {
  for (int variant : {0, 1, 2}) {
    CorrectionRun run;
    run.AddInterpolator("precipitation", {"0", "10", "10"});
    if (variant == 0) run.control += CorrectionSection(0);
    if (variant == 1) run.control += CorrectionSection(1);  // switched off by the application's flag
    run.Build();
    int error = -1;
    auto pc = run.Correction(error, variant == 1);
    ASSERT_EQ(error, 0) << run.log.console();
    EXPECT_EQ(pc->DoIt(), 0);
    pc->CorrectStationValues();
    run.InterpolateAll(ModelDate{0, 1, 1, 1, 2001});
    pc->CorrectPrecipitation();
    EXPECT_EQ(run.table[1]->ResultGrid()[3][3], 10.0);
    if (variant == 2) {
      EXPECT_NE(run.log.console().find("no section [precipitation_correction]"), std::string::npos);
    }
  }
}

TEST(PrecipitationCorrection, WithoutWindTheConstantsAloneAndWithoutTemperatureRain) {
  CorrectionRun run;
  run.AddInterpolator("precipitation", {"0", "10", "10"});
  run.control += CorrectionSection(1);
  run.Build();
  int error = -1;
  auto pc = run.Correction(error);
  ASSERT_EQ(error, 0) << run.log.console();
  EXPECT_TRUE(pc->NoTemperature());
  EXPECT_TRUE(pc->NoWind());
  EXPECT_EQ(pc->correctGrid, 0);
  pc->CorrectStationValues();
  run.InterpolateAll(ModelDate{0, 1, 1, 1, 2001});
  EXPECT_DOUBLE_EQ(run.table[1]->ResultGrid()[2][2], 10.5);
}

// A temperature interpolated over a station mesh has a value at the gauge: the bilinear
// value between the mesh corners (5) or the nearest station at the gauge's cell (7). Here
// that value is below the threshold, so the gauge's 10 mm are snow (12 mm), not rain.
TEST(PrecipitationCorrection, TemperatureOverAStationMeshAtTheGauge) {
  auto stationText = [&](const std::vector<std::pair<double, double>>& xy, const std::vector<double>& t) {
    std::string alt = "YY MM DD HH", x = alt, y = alt, names = x, row = "2001 1 1 0", row1 = "2001 1 1 1";
    for (size_t k = 0; k < xy.size(); ++k) {
      alt += " 1000";
      x += " " + std::to_string(xy[k].first);
      y += " " + std::to_string(xy[k].second);
      names += " S" + std::to_string(k + 1);
      row += " " + std::to_string(t[k]);
      row1 += " " + std::to_string(t[k]);
    }
    return "stations\n" + alt + "\n" + x + "\n" + y + "\n" + names + "\n" + row + "\n" + row1 + "\n";
  };
  // Method 5: four corners, -3 in the north and 0 in the south: -1 at the gauge (2500, 1500).
  const std::string bilinear =
      stationText({{500, 3500}, {4500, 3500}, {500, 500}, {4500, 500}}, {-3.0, -3.0, 0.0, 0.0});
  // Method 7: a 3 x 4 mesh on cell centres; only the station on the gauge's cell is cold.
  std::vector<std::pair<double, double>> mesh;
  std::vector<double> temperatures;
  for (double y : {3500.0, 2500.0, 1500.0, 500.0})
    for (double x : {500.0, 2500.0, 4500.0}) {
      mesh.push_back({x, y});
      temperatures.push_back(x == 2500.0 && y == 1500.0 ? -2.0 : 5.0);
    }
  const std::string spline = stationText(mesh, temperatures);
  for (int method : {5, 7}) {
    CorrectionRun run;
    WriteTextFile(run.dir.file("temperature.dat"), method == 5 ? bilinear : spline);
    run.control += InterpolatorSection("temperature", run.dir.file("temperature.dat"), method);
    run.names.push_back("temperature");
    run.AddInterpolator("precipitation", {"10", "10"});
    EXPECT_DOUBLE_EQ(run.CorrectedStationValue(2), 12.0) << method;
  }
}

TEST(PrecipitationCorrection, GridFormOnRegisteredGrids) {
  CorrectionRun run;
  run.control += CorrectionSection(1);
  MatrixOwner p(SmallBasin::kRows, SmallBasin::kCols), t(SmallBasin::kRows, SmallBasin::kCols),
      u(SmallBasin::kRows, SmallBasin::kCols);
  for (int r = 1; r <= SmallBasin::kRows; ++r)
    for (int c = 1; c <= SmallBasin::kCols; ++c) {
      p[r][c] = 10.0;
      t[r][c] = c <= 2 ? 3.0 : 0.5;
      u[r][c] = 2.0;
    }
  p[2][5] = -9999.0;
  run.basin.Register(6, p.get(), "precipitation");
  run.basin.Register(7, t.get(), "temperature");
  run.basin.Register(8, u.get(), "wind_speed");
  run.Build();
  int error = -1;
  auto pc = run.Correction(error);
  ASSERT_EQ(error, 0) << run.log.console();
  EXPECT_EQ(pc->correctGrid, 1);  // no interpolators: the grids are corrected
  pc->CorrectStationValues();     // does nothing in grid form
  EXPECT_EQ(p[1][1], 10.0);
  pc->CorrectPrecipitation();
  EXPECT_DOUBLE_EQ(p[1][1], 10.7);
  EXPECT_DOUBLE_EQ(p[1][3], 14.0);
  EXPECT_EQ(p[2][5], -9999.0);
}

TEST(PrecipitationCorrection, ConstructionFailuresGoToTheErrorCode) {
  {  // switched on without any precipitation: the grid is required
    CorrectionRun run;
    run.control += CorrectionSection(1);
    run.Build();
    int error = 0;
    auto pc = run.Correction(error);
    EXPECT_EQ(error, 33);
    EXPECT_NE(run.log.console().find("precipitation not found in memory"), std::string::npos) << run.log.console();
  }
  {  // a value missing from the section
    CorrectionRun run;
    run.AddInterpolator("precipitation", {"0", "10"});
    run.control += "[precipitation_correction]\n1\n0.5\n1.05\n0.01\n1.2\n";
    run.Build();
    int error = 0;
    auto pc = run.Correction(error);
    EXPECT_EQ(error, 17);
    EXPECT_NE(run.log.console().find("Anstieg Schnee fuer"), std::string::npos) << run.log.console();
  }
}

// The whole program on the example basin, with and without correction: every hour with
// precipitation is raised by a factor between the rain and the snow constant (no wind).
TEST(PrecipitationCorrection, WholeRunOnTheExampleBasin) {
  const std::string basin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  std::vector<std::string> totals[2];
  for (int doIt : {0, 1}) {
    TempDir dir;
    CopyExampleInputs(basin, dir.path());
    std::filesystem::create_directories(dir.file("output"));
    std::string ctl = ReadTextFile(dir.file("basin.ctl"));
    const std::string key = "0       # do_it";
    ASSERT_NE(ctl.find(key), std::string::npos);
    ctl.replace(ctl.find(key), 1, std::to_string(doIt));
    WriteTextFile(dir.file("basin.ctl"), ctl);
    std::string out;
    ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml", &out), 0)
        << out;
    std::istringstream stat(ReadTextFile(dir.file("output/precipitation.stat")));
    std::string line;
    while (std::getline(stat, line))
      if (line.rfind("1985", 0) == 0) totals[doIt].push_back(line.substr(line.rfind('\t') + 1));
  }
  ASSERT_EQ(totals[0].size(), totals[1].size());
  ASSERT_GT(totals[0].size(), 100u);
  int wet = 0;
  for (size_t i = 0; i < totals[0].size(); ++i) {
    const double before = std::stod(totals[0][i]), after = std::stod(totals[1][i]);
    if (before < 0.1) continue;  // three decimals: too coarse for a ratio
    ++wet;
    EXPECT_GE(after / before, 1.05 - 0.01) << i;
    EXPECT_LE(after / before, 1.2 + 0.01) << i;
  }
  EXPECT_GT(wet, 0);
}

}  // namespace
