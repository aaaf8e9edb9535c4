// Slope and aspect of a real elevation model against the GIS terrain tool's central
// differences (gdaldem -alg ZevenbergenThorne), which writes single-precision results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "framework/text_helpers.h"
#include "init_harness.h"

namespace {

// One unit in the last place of a single-precision value between 256 and 512.
constexpr double kAspectRounding = 3.0517578125e-5;

const std::string kDem = std::string(ORVEL_TEST_DATA) + "/huerfano/dem.asc";

// Reads a raw little-endian float grid of the tool (rows north first).
std::vector<float> ReadFloats(const std::string& path, size_t count) {
  std::vector<float> v(count);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  const size_t got = std::fread(v.data(), sizeof(float), count, f);
  std::fclose(f);
  if (got != count) return {};
  return v;
}

TEST(TerrainGis, InteriorSlopeAndAspectAgreeWithTheTerrainTool) {
  InitHarness h;
  // The elevation model as the start-up reads it, a basin covering the whole grid.
  h.d->standardGrids.resize(3);
  h.d->standardGrids[1].fileName = kDem;
  h.d->ReadGridHeader(h.d->geometry);
  const int ncols = h.d->geometry.ncols, nrows = h.d->geometry.nrows;
  ASSERT_EQ(ncols, 160);
  ASSERT_EQ(nrows, 126);
  h.d->output.writeAsciiGrids = true;
  double** dem = nullptr;
  h.d->ReadGrid(kDem, dem, 0, true, false, false, 0.0);
  h.d->AdoptGrid(dem);
  h.Put(1, "[zone_grid]", h.Filled(1.0), h.dir.file("zones.asc"));
  h.d->Register(2, h.dir.file("dem.asc"), dem, "[elevation_model]", 0);
  h.d->make_Slope_and_Aspect();
  double** slope = h.d->slopeAngle;
  double** aspect = h.d->slopeAspect;
  ASSERT_TRUE(slope && aspect);

  const std::string s = h.dir.file("s.bil"), a = h.dir.file("a.bil");
  ASSERT_EQ(RunCommand("gdaldem slope -q -alg ZevenbergenThorne -of EHdr '" + kDem + "' '" + s + "'"), 0);
  ASSERT_EQ(RunCommand("gdaldem aspect -q -alg ZevenbergenThorne -of EHdr '" + kDem + "' '" + a + "'"), 0);
  const size_t n = static_cast<size_t>(ncols) * static_cast<size_t>(nrows);
  std::vector<float> gs = ReadFloats(s, n), ga = ReadFloats(a, n);
  ASSERT_EQ(gs.size(), n);
  ASSERT_EQ(ga.size(), n);

  // The tool's values are single precision: slopes agree within 1e-6 degrees or one unit
  // in the last place of the float, aspects within one unit in the last place at 360.
  auto tolerance = [](double v) {
    const float f = static_cast<float>(v);
    return std::max(1e-6, static_cast<double>(std::nextafter(f, std::numeric_limits<float>::max()) - f));
  };
  int compared = 0;
  double sumAspect = 0;
  for (int r = 2; r < nrows; ++r) {
    for (int c = 2; c < ncols; ++c) {
      const size_t i = static_cast<size_t>(r - 1) * static_cast<size_t>(ncols) + static_cast<size_t>(c - 1);
      EXPECT_NEAR(slope[r][c], gs[i], tolerance(slope[r][c])) << "slope at " << r << "," << c;
      if (ga[i] == -9999.0f) {
        EXPECT_EQ(slope[r][c], 0.0) << "the tool finds flat ground at " << r << "," << c;
        continue;
      }
      double difference = std::fabs(aspect[r][c] - ga[i]);
      difference = std::min(difference, 360.0 - difference);
      sumAspect += difference;
      // The tool rounds its aspect through single precision on the scale of a full circle.
      EXPECT_LE(difference, kAspectRounding) << "aspect at " << r << "," << c;
      ++compared;
    }
  }
  EXPECT_GT(compared, 19000);
  EXPECT_LT(sumAspect / compared, 1e-5);

  // The derived grids written by the start-up open in the tool with the grid's geometry.
  std::string info;
  ASSERT_EQ(RunCommand("gdalinfo '" + h.dir.file("dem.intern.sl") + "'", &info), 0) << info;
  EXPECT_NE(info.find("Size is 160, 126"), std::string::npos) << info;
  EXPECT_NE(info.find("Origin = (454800.000000000000000,4183000.000000000000000)"), std::string::npos) << info;
  EXPECT_NE(info.find("Pixel Size = (200.000000000000000,-200.000000000000000)"), std::string::npos) << info;
}

}  // namespace
