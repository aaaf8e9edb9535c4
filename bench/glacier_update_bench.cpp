// The annual glacier update on n x n cells of 100 m (default 1000 x 1000) holding g x g
// square glaciers of 8 x 8 cells (default 10 x 10), each in a sub-basin of its own (every
// third with a cell marked to join it): the
// time to build the inventory and the time of one update, in which the glaciers of the
// lower half shrink and those of the upper half grow. One thread (the update is sequential);
// every round starts from the same glaciers, the minimum and median are printed.
//
//   glacier_update_bench [common options of bench_support.h] [--glaciers g]
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "bench_support.h"
#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "processes/snow/glacier_inventory.h"

int main(int argc, char** argv) {
  const bench::Options o = bench::Start(argc, argv, 1, 1000, {"glaciers"}, "[--glaciers g]");
  const int n = o.size;
  const int g = std::atoi(o.Extra("glaciers", "10").c_str());
  constexpr int kSide = 8;
  const int spacing = n / g;
  if (g < 1 || spacing < kSide + 2) {
    std::fprintf(stderr, "glacier_update_bench: %d glaciers per row do not fit into %d cells\n", g, n);
    return 2;
  }
  bench::Timing build;
  size_t glaciers = 0;
  double fingerprint = 0.0;
  bench::Options one = o;
  one.threads = {1};
  const auto timing = bench::TimeThreadCounts(one, [&](int) {
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
    const double t0 = bench::Now();
    inv.Build();
    build.seconds.push_back(bench::Now() - t0);
    const double t1 = bench::Now();
    inv.AnnualUpdate();
    const double update = bench::Now() - t1;
    // A fingerprint of the glaciers after the update, to compare two versions of it.
    fingerprint = 0.0;
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c) fingerprint += (r * 7 + c) * (grids.fraction[r][c] + 1e-3 * grids.code[r][c]);
    glaciers = inv.Glaciers().size();
    return update;
  });
  std::printf("%d x %d cells, %zu glaciers: build min %.3f s, median %.3f s; fingerprint %.17g\n", n, n, glaciers,
              build.Min(), build.Median(), fingerprint);
  bench::PrintTimings("annual update", one.threads, timing, static_cast<double>(n) * n, "cells");
  return 0;
}
