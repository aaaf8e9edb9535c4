// The grids the whole chain holds once the run is built, in bytes per cell of the grid, as
// chain_bench --memory counts them: a basin of 10^7 cells pays every byte here ten million
// times, so a grid that comes back unnoticed fails here.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/app_test_support.h"
#include "framework/memory_handling.h"
#include "grids/grid_registry.h"

namespace {

const GridRecord& Record(ModellApplication& app, const char* name) {
  GridRecord* grids = app.registry->Records();
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if (grids[p].registered && grids[p].internalName == name) return grids[p];
  ADD_FAILURE() << name << " is not registered";
  return grids[0];
}

}  // namespace

TEST(GridMemory, TheWholeChainOfTheExampleHoldsItsGridsOnceAndGivesEveryOneBack) {
  // Every process module of the example runs (its data assimilation, which reads the snow
  // total, is off, as in chain_bench, and so are the writes of its snow state at the end);
  // its point output reads the elevation model, the slope and the x coordinates.
  TempDir dir;
  CopyExampleInputs(std::string(ORVEL_SOURCE_DIR) + "/examples/basin", dir.path());
  std::filesystem::create_directories(dir.file("output"));
  std::string control = ReadTextFile(dir.file("basin.ctl"));
  const size_t p = control.find("[data_assimilation]\n1");
  ASSERT_NE(p, std::string::npos);
  control[p + 20] = '0';
  // A grid written is kept whole.
  for (const char* grid : {"snowdays.asc", "snowage.asc", "snowliquid.asc", "snowtotal.asc"}) {
    const size_t at = control.find(std::string("\n") + grid + " ");
    ASSERT_NE(at, std::string::npos) << grid;
    control[control.find('\n', at + 1) + 1] = '0';  // its write code
  }
  WriteTextFile(dir.file("basin.ctl"), control);
  WorkingDirectory here(dir.path());
  CapturedLog log;
  NextApplicationSeams() = ApplicationSeams();
  std::string program = "orvelvco64", file = "basin.ctl";
  char* argv[] = {program.data(), file.data(), nullptr};
  const long long before = LiveMatrixBytes();
  {
    auto app = std::make_unique<ModellApplication>(&log.log(), 2, argv, 1);
    const GridGeometry& g = app->runValues.geometry;
    const double perCell = double(LiveMatrixBytes() - before) / (double(g.nrows) * g.ncols);
    EXPECT_LE(perCell, 500.0);  // 498.2 now; one grid more is 8.25
    // Read by the point output: kept whole.
    for (const char* kept : {"CoordX", "slope_angle"}) {
      EXPECT_FALSE(Record(*app, kept).released) << kept;
      EXPECT_EQ(MatrixBytes(Record(*app, kept).data), 8LL * g.nrows * (g.ncols + 1)) << kept;
    }
    // Read by nothing: given back, or a grid of the shared scratch.
    for (const char* given : {"CellSizeX", "MPIHelper", "regression_weights1", "VegetationDuration1",
                              "cloudiness", "Shadow", "snow_fraction", "days_snow", "snow_storage_total",
                              "directflow"})
      EXPECT_TRUE(Record(*app, given).released) << given;
    // Read by the modules after it: the interception's cell totals stay its own.
    EXPECT_FALSE(Record(*app, "interception_evaporation0").released);
    EXPECT_EQ(app->run(), 0);
    app->ClearMemory();
  }
  EXPECT_EQ(LiveMatrixBytes(), before);
}
