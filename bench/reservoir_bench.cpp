// A lake of n x n cells (default 500 x 500, DEM sloping from 100 to 120 m, top level 121 m):
// the time to build its level-volume table, then lake steps per second (gathering the
// cells' fluxes, the level and the water depths of every cell) and lake-cell-steps per
// second (minimum and median of the rounds). The lake loops run on one thread.
//
//   reservoir_bench [common options of bench_support.h]     (default 500 x 500 cells, 50 steps)
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 50, 500, {}, "");
  const int n = o.size, steps = o.steps;
  bench::Folder folder(o.folder, "reservoir_bench");
  LogStream log;
  ReservoirContext ctx;
  ctx.log = &log;
  ctx.subbasin = 1;
  ctx.geometry.ncols = ctx.geometry.nrows = n;
  ctx.geometry.cellsize = 25.0;
  ctx.lakes = true;
  ctx.tableDirectory = folder.Path() + "/";
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
  sp.ReadParameters(1, "file = " + folder.Path() + "/reservoir_bench.txt V0 = 1e8 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600");
  const double t0 = bench::Now();
  sp.InitLake();
  const double init = bench::Now() - t0;
  sp.UpdateLakeLevel(sp.state[0]);
  std::vector<AL_class*> none;
  std::printf("lake %d x %d cells, table of %zu levels built in %.2f s\n", n, n, sp.levels.size(), init);
  const auto timing = bench::TimeThreadCounts(o, [&](int) {
    const double t = bench::Now();
    for (int s = 0; s < steps; ++s)
      sp.BeginStep(5.0, nullptr, none, StepDate{2024, 1, 1, s % 24, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
    return bench::Now() - t;
  });
  bench::PrintTimings(std::to_string(steps) + " lake steps", o.threads, timing, double(n) * n * steps,
                      "lake-cell-steps");
  return 0;
}
