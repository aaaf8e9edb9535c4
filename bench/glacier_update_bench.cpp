// The annual glacier update on n x n cells of 100 m (default 1000 x 1000) holding g x g
// square glaciers of 8 x 8 cells (default 10 x 10), each in a sub-basin of its own (every
// third with a cell marked to join it): the
// time to build the inventory and the time of one update, in which the glaciers of the
// lower half shrink and those of the upper half grow. One thread (the update is sequential).
//
//   glacier_update_bench [n] [g]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "processes/snow/glacier_inventory.h"

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int g = argc > 2 ? std::atoi(argv[2]) : 10;
  constexpr int kSide = 8;
  const int spacing = n / g;
  if (g < 1 || spacing < kSide + 2) {
    std::fprintf(stderr, "glacier_update_bench: %d glaciers per row do not fit into %d cells\n", g, n);
    return 2;
  }
  std::vector<MatrixOwner> m;
  for (int k = 0; k < 8; ++k) m.emplace_back(n, n);
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= n; ++c) {
      const int gr = (r - 1) / spacing, gc = (c - 1) / spacing;
      const int lr = (r - 1) % spacing, lc = (c - 1) % spacing;
      const bool ice = gr < g && gc < g && lr >= 1 && lr <= kSide && lc >= 1 && lc <= kSide;
      m[0][r][c] = m[2][r][c] = ice ? (lc == 1 ? 0.6 : 1.0) : 0.0;
      m[1][r][c] = m[3][r][c] = ice ? 1.0 + gr * g + gc : -9999.0;
      // Every third glacier has a cell above it that is to join it.
      if (gr < g && gc < g && (gr + gc) % 3 == 0 && lr == 0 && lc == 3) {
        m[0][r][c] = -9999.0;
        m[1][r][c] = -1.0;
      }
      m[4][r][c] = ice ? (gr < g / 2 ? -4000.0 : 3000.0) : 0.0;
      m[5][r][c] = 0.0;
      m[6][r][c] = 3000.0 - 2.0 * r;
      m[7][r][c] = 1.0 + (gr < g ? gr : g - 1) * g + (gc < g ? gc : g - 1);
    }
  GlacierGrids grids;
  grids.nrows = grids.ncols = n;
  grids.cellSize = 100.0;
  grids.fraction = m[0].get();
  grids.code = m[1].get();
  grids.fractionOld = m[2].get();
  grids.codeOld = m[3].get();
  grids.massBalance = m[4].get();
  grids.oldMassBalance = m[5].get();
  grids.elevation = m[6].get();
  grids.subbasin = m[7].get();
  GlacierSettings settings;
  settings.bands = 4;
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  GlacierInventory inv(grids, settings, &log);
  const auto t0 = std::chrono::steady_clock::now();
  inv.Build();
  const auto t1 = std::chrono::steady_clock::now();
  inv.AnnualUpdate();
  const auto t2 = std::chrono::steady_clock::now();
  const double build = std::chrono::duration<double>(t1 - t0).count();
  const double update = std::chrono::duration<double>(t2 - t1).count();
  // A fingerprint of the glaciers after the update, to compare two versions of it.
  double fingerprint = 0.0;
  for (int r = 1; r <= n; ++r)
    for (int c = 1; c <= n; ++c) fingerprint += (r * 7 + c) * (grids.fraction[r][c] + 1e-3 * grids.code[r][c]);
  std::printf("%d x %d cells, %zu glaciers: build %.3f s, annual update %.3f s (%.3g cells per second); "
              "fingerprint %.17g\n", n, n, inv.Glaciers().size(), build, update, static_cast<double>(n) * n / update,
              fingerprint);
  return 0;
}
