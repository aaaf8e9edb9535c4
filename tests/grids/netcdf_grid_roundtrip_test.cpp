// Grids written by the grid writer as netCDF and read back through the grid reader: by a
// module without a georeference of its own, and by one georeferenced like the model, whose
// field is placed by the file's coordinates.
#include <gtest/gtest.h>

#include <string>

#include "grids/grid_registry.h"
#include "grids/netcdf_grid_io.h"
#include "netcdf_test_util.h"

namespace {

struct RoundTrip : TestModule {
  TempDir dir;
  GridRegistry registry;
  MatrixOwner grid{5, 4};
  RoundTrip() : TestModule(4, 5, 3500000, 5200000, 250) {
    module.output.outputDirectory = dir.path() + "/";
    module.output.inputDirectory = dir.path() + "/";
    module.grids = registry.Records();
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 4; ++c) grid[r][c] = r * 10 + c;
    grid[2][3] = -9999;
  }
  void ExpectSame(double** got) {
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 4; ++c) EXPECT_EQ(got[r][c], grid[r][c]) << "row " << r << ", column " << c;
  }
};

}  // namespace

TEST(NetcdfGridRoundTrip, DatedGridComesBackByTheStepDate) {
  RoundTrip t;
  t.module.WriteGrid("tair_timeseries", t.grid.get(), false, false, true, 2025, 6, 1, 12, 0);
  t.grid[1][1] = 77;
  t.module.WriteGrid("tair_timeseries", t.grid.get(), false, false, true, 2025, 6, 1, 13, 0);
  t.module.stepDate = ModelDate{0, 13, 1, 6, 2025};
  double** got = nullptr;
  t.module.ReadGrid("tair_timeseries.nc", got, 0, true, false, false, 0);
  t.ExpectSame(got);
  t.module.FreeMatrix(got);
}

TEST(NetcdfGridRoundTrip, GeoreferencedModuleGetsTheGridBackRowForRow) {
  RoundTrip t;
  // Every cell valid: how the resampler treats no-data cells is not the subject here.
  t.grid[2][3] = 23;
  t.module.WriteGridDouble("state", t.grid.get(), false, true, true);
  const GridGeometry& g = t.module.geometry;
  t.module.SetPosition(0, g.xllcorner, g.yllcorner, g.cellsize);
  double** got = nullptr;
  t.module.ReadGrid("state.nc<state>0", got, 0, true, false, false, 0);
  t.ExpectSame(got);
  t.module.FreeMatrix(got);
}
