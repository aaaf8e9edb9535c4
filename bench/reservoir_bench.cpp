// A lake of n x n cells (default 500 x 500, DEM sloping from 100 to 120 m, top level 121 m):
// the time to build its level-volume table, then lake steps per second (gathering the
// cells' fluxes, the level and the water depths of every cell) and lake-cell-steps per
// second. The lake loops run on one thread.
//
//   reservoir_bench [n] [steps]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 500;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 50;
  LogStream log;
  ReservoirContext ctx;
  ctx.log = &log;
  ctx.subbasin = 1;
  ctx.geometry.ncols = ctx.geometry.nrows = n;
  ctx.geometry.cellsize = 25.0;
  ctx.lakes = true;
  ctx.tableDirectory = "/tmp/";
  MatrixOwner codes(n, n), ponding(n, n), maxPonding(n, n), zones(n, n), dem(n, n), prec(n, n), evap(n, n);
  for (int r = 1; r <= n; ++r)
    for (int c = 0; c <= n; ++c) {
      codes[r][c] = zones[r][c] = 1;
      dem[r][c] = 100.0 + 20.0 * (r + c) / (2.0 * n);
      maxPonding[r][c] = (121.0 - dem[r][c]) * 1000.0;
      ponding[r][c] = 0.0;
      prec[r][c] = 1.0;
      evap[r][c] = 0.2;
    }
  LakeGrids& g = ctx.grids;
  g.lakeCodes = codes.get();
  g.ponding = ponding.get();
  g.maxPonding = maxPonding.get();
  g.zones = zones.get();
  g.dem = dem.get();
  g.evaporation = evap.get();
  g.precipitation = prec.get();
  SP_class sp;
  sp.SetParameters(ctx);
  sp.ReadParameters(1, "file = /tmp/reservoir_bench.txt V0 = 1e8 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600");
  auto t0 = std::chrono::steady_clock::now();
  sp.InitLake();
  auto t1 = std::chrono::steady_clock::now();
  sp.UpdateLakeLevel(sp.state[0]);
  std::vector<AL_class*> none;
  for (int s = 0; s < steps; ++s)
    sp.BeginStep(5.0, nullptr, none, StepDate{2024, 1, 1, s % 24, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
  auto t2 = std::chrono::steady_clock::now();
  const double init = std::chrono::duration<double>(t1 - t0).count();
  const double run = std::chrono::duration<double>(t2 - t1).count();
  std::printf("lake %d x %d cells, table of %zu levels built in %.2f s\n", n, n, sp.levels.size(), init);
  std::printf("%d steps in %.3f s: %.1f steps/s, %.3g lake-cell-steps/s\n", steps, run, steps / run,
              double(n) * n * steps / run);
  return 0;
}
