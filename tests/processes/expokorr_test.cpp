// Radiation correction on synthetic terrain: a flat plane, a tilted plane against the
// geometry of its normal, the shadow of a ridge, night steps, the temperature correction
// and the section checks.
#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "framework/solar_geometry.h"
#include "grids/period_grids.h"
#include "process_basin.h"
#include "processes/radiation/expokorr.h"
#include "processes/radiation/radiation_kernels.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"

namespace {

std::string Section(int method, int skip, int subSteps, int interval = 60, double scale = 1.0,
                    int temperatureCode = 0) {
  return "[radiation_correction]\n1\n" + std::to_string(interval) + "\n" + std::to_string(method) +
         " # method\ntkorr.asc\n" + std::to_string(temperatureCode) + "\n" + std::to_string(scale) + "\nexkorr.asc\n0\nshape.asc\n0\n" +
         std::to_string(skip) + "\n" + std::to_string(subSteps) + "\n";
}

struct Terrain {
  TempDir dir;
  CapturedLog log;
  ProcessBasin basin;
  ModuleOwner<expokorrklasse> rc;
  double latitude = 47.0;

  Terrain(int rows, int cols, double cellsize = 100.0) : basin(rows, cols, cellsize) {
    basin.Add("slope_aspect", 180.0);
    basin.Add("slope_angle", 0.0);
    basin.Add("temperature", 10.0);
  }
  int Build(const std::string& section) {
    WriteTextFile(dir.file("run.ctl"), section);
    ModuleInputs in = basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
    in.latitude = latitude;
    in.longitude = 15.0;
    in.referenceMeridian = 15.0;
    int error = -1;
    rc = MakeModule<expokorrklasse>(error, in);
    return error;
  }
  double** Grid(const std::string& n) { return basin.Grid(n); }
};

TEST(RadiationCorrection, FlatTerrainGivesOneInDaylightAndZeroAtNight) {
  Terrain t(12, 10);
  ASSERT_EQ(t.Build(Section(2, 1, 4)), 0);
  double** k = t.Grid("radiation_correction");
  for (int hour = 1; hour <= 24; ++hour) {
    t.rc->Run(ModelDate{0, hour, 21, 6, 2001});
    const bool day = t.rc->horizontalSum > 0.0;
    if (hour == 13) {
      EXPECT_TRUE(day);
    }
    if (hour <= 3) {
      EXPECT_FALSE(day) << hour;
    }
    for (int r = 1; r <= 12; ++r)
      for (int c = 1; c <= 10; ++c) {
        EXPECT_EQ(k[r][c], day ? 1.0 : 0.0) << hour;
        // The temperature correction of a factor 1 leaves the air temperature; at night there
        // is no cooling either.
        EXPECT_EQ(t.Grid("corr_temperature")[r][c], 10.0);
      }
  }
}

TEST(RadiationCorrection, TiltedPlaneFollowsItsNormal) {
  // A plane rising to the north (facing south) by 20 degrees, and one facing west by 30.
  for (const auto& plane : {std::pair<double, double>{180.0, 20.0}, std::pair<double, double>{270.0, 30.0}}) {
    Terrain t(10, 10);
    const double aspect = plane.first * M_PI / 180.0, slope = plane.second * M_PI / 180.0;
    t.basin.Fill(t.Grid("slope_aspect"), plane.first);
    t.basin.Fill(t.Grid("slope_angle"), plane.second);
    // Heights of the plane, so that its own shading sees it lit.
    t.basin.Fill(t.Grid("[elevation_model]"), [&](int r, int c) {
      const double x = c * 100.0, y = (10 - r) * 100.0;  // east, north
      return 1000.0 - std::tan(slope) * (x * std::sin(aspect) + y * std::cos(aspect));
    });
    ASSERT_EQ(t.Build(Section(1, 1, 1)), 0);
    for (int hour : {9, 12, 16}) {
      t.rc->Run(ModelDate{0, hour, 21, 6, 2001});
      // The sun in the middle of the (single) sub-step, from the module's own geometry.
      double az = 0.0, el = 0.0;
      t.rc->SunPosition(21, 6, az, el, 47.0, 15.0, hour - 0.5);
      // Normal of the plane and direction of the sun as vectors (east, north, up).
      const double n[3] = {std::sin(slope) * std::sin(aspect), std::sin(slope) * std::cos(aspect), std::cos(slope)};
      const double s[3] = {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
      const double ratio = std::max(0.0, n[0] * s[0] + n[1] * s[1] + n[2] * s[2]) / s[2];
      EXPECT_NEAR(t.Grid("radiation_correction")[5][5], ratio, 0.01 * ratio + 1e-9) << plane.first << " " << hour;
      EXPECT_EQ(t.Grid("Shadow")[5][5], 0.0);
    }
  }
}

TEST(RadiationCorrection, RidgeCastsItsGeometricShadow) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  // An east-west ridge 500 m above a plain of 100 m cells; the sun from the south.
  const int rows = 60, cols = 20;
  ProcessBasin b(rows, cols, 100.0);
  double** dem = b.Grid("[elevation_model]");
  for (int c = 1; c <= cols; ++c) dem[40][c] = 1500.0;
  MatrixOwner shadow(rows, cols);
  for (double elevationDeg : {20.0, 35.0, 60.0}) {
    const double e = elevationDeg * M_PI / 180.0;
    CastShadows(dem, b.Grid("zone_grid"), -9999.0, rows, cols, 100.0, M_PI, e, shadow.get());
    int shaded = 0;
    for (int r = 39; r >= 1 && shadow[r][10] == 1.0; --r) ++shaded;
    EXPECT_NEAR(shaded, 500.0 / std::tan(e) / 100.0, 1.0) << elevationDeg;
    EXPECT_EQ(shadow[41][10], 0.0);
    EXPECT_EQ(shadow[40][10], 0.0);
  }
  // A north-south ridge with the sun low in the west-south-west: the shadow falls east,
  // with the length of its projection on the rows.
  ProcessBasin w(20, 60, 100.0);
  double** dw = w.Grid("[elevation_model]");
  for (int r = 1; r <= 20; ++r) dw[r][20] = 1500.0;
  MatrixOwner sw(20, 60);
  const double az = 250.0 * M_PI / 180.0, e = 25.0 * M_PI / 180.0;
  CastShadows(dw, w.Grid("zone_grid"), -9999.0, 20, 60, 100.0, az, e, sw.get());
  int shaded = 0;
  for (int c = 21; c <= 60 && sw[10][c] == 1.0; ++c) ++shaded;
  EXPECT_NEAR(shaded, 500.0 / std::tan(e) * std::fabs(std::sin(az)) / 100.0, 1.0);

  // Rays cast on all threads shade like rays cast one after the other, for suns along the
  // rows and along the columns from every quarter and straight along the axes, on rough
  // terrain of a tall and of a wide grid.
  const int saved = omp_get_max_threads();
  omp_set_num_threads(8);
  for (const auto& shape : {std::pair<int, int>{47, 31}, std::pair<int, int>{31, 47}}) {
    const int rows = shape.first, cols = shape.second;
    ProcessBasin rough(rows, cols, 100.0);
    rough.Fill(rough.Grid("[elevation_model]"),
               [](int r, int c) { return 300.0 * std::sin(r * 0.7) * std::cos(c * 0.45) + 7.0 * ((r * c) % 5); });
    MatrixOwner one(rows, cols), all(rows, cols);
    for (double azDeg : {20.0, 60.0, 90.0, 100.0, 170.0, 180.0, 200.0, 250.0, 270.0, 300.0, 340.0, 360.0}) {
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) one[r][c] = all[r][c] = 0.5;
      const double a = azDeg * M_PI / 180.0, low = 12.0 * M_PI / 180.0;
      CastShadows(rough.Grid("[elevation_model]"), rough.Grid("zone_grid"), -9999.0, rows, cols, 100.0, a, low,
                  one.get());
      CastShadows(rough.Grid("[elevation_model]"), rough.Grid("zone_grid"), -9999.0, rows, cols, 100.0, a, low,
                  all.get(), true);
      int shadedCells = 0;
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
          ASSERT_EQ(one[r][c], all[r][c]) << rows << "x" << cols << " " << azDeg << " " << r << "," << c;
          shadedCells += one[r][c] == 1.0;
        }
      EXPECT_GT(shadedCells, 20) << azDeg;
    }
  }
  omp_set_num_threads(saved);
}

TEST(RadiationCorrection, SubStepLightAndWeights) {
  // Wholly before sunrise or after sunset: night; a sub-step holding sunrise: its lit share.
  EXPECT_TRUE(SubStepDarkness(4.0, 1.0, 5.0, 19.0).night);
  EXPECT_TRUE(SubStepDarkness(20.0, 1.0, 5.0, 19.0).night);
  const SubStepLight dawn = SubStepDarkness(5.0, 1.0, 4.75, 19.0);
  EXPECT_FALSE(dawn.night);
  EXPECT_DOUBLE_EQ(dawn.light, 0.75);
  EXPECT_DOUBLE_EQ(dawn.darkBefore, 0.25);
  EXPECT_DOUBLE_EQ(SubStepDarkness(19.0, 1.0, 5.0, 19.25).light, 0.75);
  EXPECT_FALSE(SubStepDarkness(12.0, 1.0, 5.0, 19.0).night);
  // Weights: facing away gives 0, overcast counts as horizontal, at most 5 cos z.
  EXPECT_EQ(DirectWeight(-0.3, 0.5, -1.0), 0.0);
  EXPECT_EQ(DirectWeight(0.8, 0.5, 0.05), 0.5);
  EXPECT_EQ(DirectWeight(0.8, 0.1, -1.0), 0.5);
  EXPECT_EQ(SubStepRadiation(1.0, 1.0, M_PI / 2.0 - 0.01), 0.0);
  // Temperature: ln r above 0.2; 0.2 itself and shade cool by s·1.6094·σ when the step had sun.
  EXPECT_NEAR(ExposureTemperature(10.0, 2.0, 1.5, 0.5, true, 1.0, false), 10.0 + std::log(2.0) * 0.75, 1e-12);
  EXPECT_NEAR(ExposureTemperature(10.0, 0.2, 1.5, 0.5, true, 1.0, false), 10.0 - 1.5 * 1.6094 * 0.5, 1e-12);
  EXPECT_EQ(ExposureTemperature(10.0, 0.0, 1.5, 0.5, false, 1.0, false), 10.0);
  EXPECT_NEAR(ExposureTemperature(10.0, 2.0, 1.5, 0.5, true, 0.5, true), 10.0 + std::log(2.0) * 0.375, 1e-12);
}

TEST(RadiationCorrection, IncidenceFromTheSlopesCosineAndSineHasTheBitsOfTheFullFormula) {
  // The slope's cosine and sine are made once at start-up; every cell and sun must still
  // give the bits of CosAngleBetween on the slope and aspect in degrees.
  unsigned seed = 11;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) / 4294967296.0; };
  for (int i = 0; i < 20000; ++i) {
    const double slope = 90.0 * next(), aspect = 360.0 * next() - (i % 7 == 0 ? 360.0 : 0.0);
    const double zenith = 1.6 * next(), azimuth = 6.3 * next();
    const double s = M_PI * slope / 180.0;
    const double expected = CosAngleBetween(M_PI * aspect / 180.0, s, azimuth, zenith);
    EXPECT_EQ(CosIncidence(std::cos(s), std::sin(s), aspect, std::cos(zenith), std::sin(zenith), azimuth), expected)
        << slope << " " << aspect << " " << zenith << " " << azimuth;
  }
}

TEST(RadiationCorrection, SectionChecksAndMethods) {
  {  // Methods outside 1..4 run as method 2, with a warning.
    Terrain t(4, 4);
    ASSERT_EQ(t.Build(Section(5, 1, 2)), 0);
    EXPECT_EQ(t.rc->correctionMethod, 2);
    EXPECT_NE(t.log.console().find("runs as method 2"), std::string::npos);
    EXPECT_NE(t.basin.Position("corr_temperature"), 0);
  }
  {  // No sub-step: refused. A negative or large temperature scale: a warning.
    Terrain t(4, 4);
    EXPECT_EQ(t.Build(Section(1, 1, 0)), 10);
    for (double scale : {-1.0, 12.0}) {
      Terrain w(4, 4);
      EXPECT_EQ(w.Build(Section(2, 1, 2, 60, scale)), 0);
      EXPECT_NE(w.log.console().find("[radiation_correction] in " + w.dir.file("run.ctl") +
                                     ": the scale of the temperature correction is"),
                std::string::npos)
          << w.log.console();
    }
  }
  {  // A value missing: the control-file error.
    Terrain t(4, 4);
    EXPECT_EQ(t.Build("[radiation_correction]\n1\n60\n1\ntkorr.asc\n0\n1.0\nexkorr.asc\n0\nshape.asc\n0\n1\n"), 17);
  }
  {  // Method 3: no shading, no temperature grid; off: no correction handed out.
    Terrain t(4, 4);
    ASSERT_EQ(t.Build(Section(3, 1, 2)), 0);
    EXPECT_EQ(t.basin.Position("corr_temperature"), 0);
    EXPECT_NE(t.rc->GetCorrection(), nullptr);
  }
  {  // Daily steps keep a night temperature, even with the correction switched off.
    Terrain t(4, 4);
    ASSERT_EQ(t.Build("[radiation_correction]\n0\n1440\n"), 0);
    EXPECT_EQ(t.rc->GetCorrection(), nullptr);
    t.Grid("temperature")[2][2] = 3.5;
    t.rc->Run(ModelDate{0, 24, 1, 7, 2001});
    EXPECT_EQ(t.Grid("temperature_night")[2][2], 3.5);
  }
}

TEST(RadiationCorrection, PolarNightAndMidnightSun) {
  // No sun at noon: nothing to correct, nothing undefined.
  for (int month : {12, 6}) {
    Terrain t(5, 5);
    t.latitude = 80.0;
    t.basin.Fill(t.Grid("slope_angle"), 25.0);
    ASSERT_EQ(t.Build(Section(2, 1, 1)), 0);
    for (int hour : {1, 12, 18}) {
      t.rc->Run(ModelDate{0, hour, 21, month, 2001});
      for (const char* n : {"radiation_correction", "corr_temperature"}) {
        EXPECT_TRUE(std::isfinite(t.Grid(n)[3][3])) << n << month << hour;
      }
      if (month == 12) {
        EXPECT_EQ(t.Grid("radiation_correction")[3][3], 0.0);
        EXPECT_EQ(t.Grid("corr_temperature")[3][3], 10.0);
      }
    }
  }
}

TEST(RadiationCorrection, SkippedStepsKeepTheFactorAndFollowTheTemperature) {
  Terrain t(6, 6);
  t.basin.Fill(t.Grid("slope_angle"), 30.0);
  ASSERT_EQ(t.Build(Section(4, 3, 2, 60, 2.0, 2)), 0);
  // The first step computes (no step runs on a correction of 0).
  t.rc->Run(ModelDate{0, 12, 21, 6, 2001});
  const double factor = t.Grid("radiation_correction")[3][3];
  EXPECT_GT(factor, 1.0);
  const double warm = t.Grid("corr_temperature")[3][3];
  EXPECT_NEAR(warm, 10.0 + std::log(factor) * 2.0 * 0.5, 1e-12);
  // Skipped: the factor stays, the corrected temperature follows the air's.
  t.Grid("temperature")[3][3] = 14.0;
  t.rc->Run(ModelDate{0, 13, 21, 6, 2001});
  EXPECT_EQ(t.Grid("radiation_correction")[3][3], factor);
  EXPECT_NEAR(t.Grid("corr_temperature")[3][3], warm + 4.0, 1e-12);
  t.rc->Run(ModelDate{0, 14, 21, 6, 2001});
  EXPECT_EQ(t.Grid("radiation_correction")[3][3], factor);
  // The fourth step computes again.
  t.rc->Run(ModelDate{0, 15, 21, 6, 2001});
  EXPECT_NE(t.Grid("radiation_correction")[3][3], factor);
  // Each step's corrected temperature is written under its own date, computed or not.
  for (int hour = 12; hour <= 15; ++hour) {
    const std::string dated = DatedGridName("tkorr.asc", ModelDate{0, hour, 21, 6, 2001}, 0, false);
    EXPECT_TRUE(std::filesystem::exists(t.dir.file(dated))) << dated;
    EXPECT_FALSE(std::filesystem::exists(t.dir.file(DatedGridName("tkorr.asc", ModelDate{0, hour, 21, 6, 2001}, 1, false))));
  }
}

TEST(RadiationCorrection, AStepOwesNothingToWhatItsGridsHeldBefore) {
  // Shading, factor, effective radiation and corrected temperature may serve others
  // between steps: whatever they hold then, each step leaves the bits of a module whose
  // grids nobody touched, through night, dawn, day and dusk steps, and a step without sun
  // leaves no shade, factor or effective radiation behind.
  Terrain clean(19, 13), used(19, 13);
  for (Terrain* t : {&clean, &used}) {
    t->basin.Fill(t->Grid("[elevation_model]"), [](int r, int c) { return 900.0 + 250.0 * std::sin(r * 0.5) + 9.0 * c; });
    t->basin.Fill(t->Grid("slope_angle"), [](int r, int c) { return (r * 5 + c * 11) % 35; });
    t->basin.Fill(t->Grid("slope_aspect"), [](int r, int c) { return (r * 23 + c * 41) % 360; });
    t->basin.SetOutside(2, 3);
    ASSERT_EQ(t->Build(Section(2, 1, 4)), 0);
  }
  const char* names[] = {"Shadow", "radiation_correction", "Ieff_max", "corr_temperature"};
  int sunSteps = 0;
  for (int hour : {2, 5, 7, 12, 17, 20, 23, 13, 3}) {
    for (const char* n : names) used.basin.Fill(used.Grid(n), 7.25);
    used.Grid("Shadow")[2][3] = used.Grid("radiation_correction")[2][3] = -9999.0;
    clean.rc->Run(ModelDate{0, hour, 21, 3, 2001});
    used.rc->Run(ModelDate{0, hour, 21, 3, 2001});
    for (const char* n : names) {
      for (int r = 1; r <= 19; ++r) {
        for (int c = 1; c <= 13; ++c) {
          ASSERT_EQ(clean.Grid(n)[r][c], used.Grid(n)[r][c]) << n << " " << hour << " h " << r << "," << c;
        }
      }
    }
    sunSteps += clean.rc->horizontalSum > 0.0;
    if (hour == 2 || hour == 23 || hour == 3) {
      for (const char* n : {"Shadow", "radiation_correction", "Ieff_max"}) EXPECT_EQ(used.Grid(n)[9][6], 0.0) << n;
    }
  }
  EXPECT_GE(sunSteps, 3);
}

TEST(RadiationCorrection, SameBitsForEveryThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int saved = omp_get_max_threads();
  std::vector<std::vector<double>> runs;
  for (int threads : {1, 2, 8}) {
    omp_set_num_threads(threads);
    Terrain t(23, 17);
    t.basin.Fill(t.Grid("[elevation_model]"), [](int r, int c) { return 1000.0 + 300.0 * std::sin(r * 0.4) * std::cos(c * 0.3); });
    t.basin.Fill(t.Grid("slope_angle"), [](int r, int c) { return (r * 7 + c * 3) % 40; });
    t.basin.Fill(t.Grid("slope_aspect"), [](int r, int c) { return (r * 31 + c * 17) % 360; });
    t.basin.SetOutside(1, 1);
    ASSERT_EQ(t.Build(Section(2, 1, 3)), 0);
    t.rc->minParallelCells = 0;
    std::vector<double> all;
    for (int hour : {6, 9, 12, 15, 18, 20}) {
      t.rc->Run(ModelDate{0, hour, 1, 5, 2001});
      for (const char* n : {"radiation_correction", "corr_temperature", "Ieff_max"})
        for (int r = 1; r <= 23; ++r)
          for (int c = 1; c <= 17; ++c) all.push_back(t.Grid(n)[r][c]);
    }
    runs.push_back(all);
  }
  omp_set_num_threads(saved);
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_EQ(runs[0], runs[2]);
}

}  // namespace

// A correction computed every third step keeps its rhythm and its factors at the end of the
// run; a warm start goes on with them bit for bit, as the run would have gone on. A stack
// whose rhythm is not one for the basin is refused; without one the first step computes.
TEST(RadiationCorrection, AWarmStartKeepsTheRhythmOfTheComputedSteps) {
  Terrain whole(6, 6), next(6, 6), bare(6, 6);
  for (Terrain* t : {&whole, &next, &bare}) {
    t->basin.Fill(t->Grid("slope_angle"), [](int r, int c) { return 5.0 * r + c; });
    ASSERT_EQ(t->Build(Section(4, 3, 2, 60, 2.0)), 0);
  }
  whole.rc->endDateKey = ModelDate{0, 13, 21, 6, 2001}.Key();  // the first run ends at 13 h
  for (int hour : {12, 13}) whole.rc->Run(ModelDate{0, hour, 21, 6, 2001});
  const std::string stack = whole.dir.file(RhythmStateName("exkorr.asc"));
  ASSERT_TRUE(std::filesystem::exists(stack));
  next.rc->output.inputDirectory = bare.rc->output.inputDirectory = whole.dir.path() + "/";
  next.rc->ContinueRhythm(true);
  std::filesystem::rename(stack, stack + ".away");
  bare.rc->ContinueRhythm(true);
  EXPECT_NE(bare.log.console().find("no state of the radiation correction"), std::string::npos);
  whole.rc->endDateKey = ModelDate{0, 24, 31, 12, 2001}.Key();
  for (int hour : {14, 15}) {
    for (Terrain* t : {&whole, &next, &bare}) t->Grid("temperature")[3][3] = hour;
    for (Terrain* t : {&whole, &next, &bare}) t->rc->Run(ModelDate{0, hour, 21, 6, 2001});
    for (const char* n : {"radiation_correction", "corr_temperature"})
      for (int r = 1; r <= 6; ++r)
        for (int c = 1; c <= 6; ++c) ASSERT_EQ(next.Grid(n)[r][c], whole.Grid(n)[r][c]) << n << " " << hour << " h";
  }
  EXPECT_EQ(bare.rc->stepCounter, 2);  // computed at 14 h, not at 15 h

  // Levels 2 to 4 hold one rhythm for the basin.
  std::filesystem::rename(stack + ".away", stack);
  std::string bytes = ReadTextFile(stack);
  double other = 3.0;
  std::memcpy(&bytes[(12 + 5 + 2) * sizeof(double)], &other, sizeof other);  // the count of the second cell
  WriteTextFile(stack, bytes);
  Terrain refused(6, 6);
  ASSERT_EQ(refused.Build(Section(4, 3, 2)), 0);
  refused.rc->output.inputDirectory = whole.dir.path() + "/";
  int code = 0;
  try {
    refused.rc->ContinueRhythm(true);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 22);
  EXPECT_NE(refused.log.console().find("holds at row 1, column 2 the count 3"), std::string::npos)
      << refused.log.console();
}
