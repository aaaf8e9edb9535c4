// Inverse distance with power 2 and no other option against the GIS gridding tool's
// invdist (no smoothing, no search radius) on the example basin's real station positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "framework/memory_handling.h"
#include "meteo/interpolation_kernels.h"
#include "support/test_support.h"

namespace {

struct Station {
  double x, y, v;
};

// Station positions of the example basin (UTM 13N) with test values.
const Station kStations[] = {
    {471798.3, 4174797.4, 2.5},  {453290.9, 4174881.4, -3.25}, {453994.1, 4142702.3, 7.0},
    {506152.5, 4196941.2, 11.5}, {440281.3, 4203814.1, 0.0},   {517649.7, 4163673.4, 4.75},
    {424797.6, 4142914.5, -1.5}, {457931.7, 4220347.8, 9.25},
};

TEST(InverseDistanceCrossCheck, MatchesGisGriddingToolOnRealStations) {
  ORVEL_NEEDS_TOOLS("gdal_grid gdal_translate");
  const int ncols = 160, nrows = 126;
  const double xll = 454800.0, yll = 4157800.0, cs = 200.0;
  TempDir dir;
  std::ostringstream csv;
  csv.precision(17);
  csv << "x,y,v\n";
  for (const Station& s : kStations) csv << s.x << "," << s.y << "," << s.v << "\n";
  WriteTextFile(dir.file("p.csv"), csv.str());
  WriteTextFile(dir.file("p.vrt"),
                "<OGRVRTDataSource><OGRVRTLayer name=\"p\"><SrcDataSource>" + dir.file("p.csv") +
                    "</SrcDataSource><GeometryType>wkbPoint</GeometryType><GeometryField "
                    "encoding=\"PointFromColumns\" x=\"x\" y=\"y\" z=\"v\"/></OGRVRTLayer></OGRVRTDataSource>\n");
  std::ostringstream cmd;
  cmd.precision(17);
  // The vectorised float paths are switched off so that the tool computes in double.
  cmd << "cd " << dir.path() << " && gdal_grid -q --config GDAL_USE_AVX NO --config GDAL_USE_SSE NO"
      << " -a invdist:power=2.0:smoothing=0.0 -txe " << xll << " " << xll + ncols * cs << " -tye "
      << yll + nrows * cs << " " << yll << " -outsize " << ncols << " " << nrows
      << " -ot Float64 -of GTiff -l p p.vrt out.tif && gdal_translate -q -of AAIGrid -co DECIMAL_PRECISION=17"
      << " out.tif out.asc";
  std::string output;
  ASSERT_EQ(RunCommand(cmd.str(), &output), 0) << output;

  std::istringstream in(ReadTextFile(dir.file("out.asc")));
  std::string key;
  double value;
  for (int k = 0; k < 5; ++k) in >> key >> value;  // header without a nodata line
  MatrixOwner cx(nrows, ncols), cy(nrows, ncols), zone(nrows, ncols), result(nrows, ncols);
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      cx[r][c] = xll + (c - 0.5) * cs;
      cy[r][c] = yll + (nrows - r + 0.5) * cs;
      zone[r][c] = 1.0;
    }
  std::vector<double> sx{0}, sy{0}, sv{0};
  for (const Station& s : kStations) {
    sx.push_back(s.x);
    sy.push_back(s.y);
    sv.push_back(s.v);
  }
  CellLoop loop;
  loop.lastRow = nrows;
  loop.ncols = ncols;
  loop.coordX = loop.distX = cx.get();
  loop.coordY = loop.distY = cy.get();
  loop.zone = zone.get();
  loop.stations = loop.rotated = StationPoints{8, sx.data(), sy.data(), sv.data()};
  loop.idw = MakeIdwSettings(2.0, 1e12);
  loop.result = result.get();
  RunCellLoop(loop);
  double worst = 0.0;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      double tool;
      ASSERT_TRUE(static_cast<bool>(in >> tool)) << "row " << r << " column " << c;
      const double rel = std::fabs(result[r][c] - tool) / std::max(1.0, std::fabs(tool));
      worst = std::max(worst, rel);
    }
  EXPECT_LT(worst, 1e-9);
}

}  // namespace
