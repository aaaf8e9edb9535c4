// Region decomposition: MPIRegions, MPIHelper, MPIHalo and the river links.
#include <gtest/gtest.h>

#include "framework/memory_handling.h"
#include "init_harness.h"

namespace {

constexpr double N = -9999.0;

struct Decomposition {
  InitHarness h;
  std::vector<long> quota;
  int first = 0, last = 0;
  Decomposition(int ncols, const Rows& zones, const Rows& links = {}) {
    h.Domain(ncols, static_cast<int>(zones.size()));
    h.Put(1, "[zone_grid]", zones);
    Rows dem = zones;
    for (size_t r = 0; r < dem.size(); ++r)
      for (size_t c = 0; c < dem[r].size(); ++c) dem[r][c] = 1000.0 - 10.0 * static_cast<double>(c);
    h.Put(2, "[elevation_model]", dem);
    if (!links.empty()) {
      h.d->standardGrids.resize(4);
      h.d->standardGrids[3].internalName = "river_links";
      h.Put(3, "river_links", links);
    }
    const long long before = LiveMatrixBytes();
    h.d->MakeMPIRegions(quota, first, last);
    bytes = LiveMatrixBytes() - before;
  }
  long long bytes = 0;
  double helper(int r, int k) const { return h.d->mpiHelper[r][k]; }
};

TEST(Decompose, OneInstanceTakesEveryActiveCell) {
  Decomposition d(12, {{N, N, N, 1, 1, 2, 2, 1, 1, N, N, N}, Rows::value_type(12, N)});
  EXPECT_EQ(d.first, 1);
  EXPECT_EQ(d.last, 2);
  ASSERT_EQ(d.quota, std::vector<long>{6});
  EXPECT_EQ(d.h.registry[d.h.d->mpiRegionsPosition].internalName, "MPIRegions");
  EXPECT_EQ(d.h.d->mpiHelperPosition, d.h.d->mpiRegionsPosition + 1);
  EXPECT_EQ(d.h.d->FindGrid("MPIHalo"), d.h.d->mpiHaloPosition);
  for (int c = 1; c <= 12; ++c) {
    EXPECT_EQ(d.h.d->mpiRegions[1][c], c >= 4 && c <= 9 ? 0.0 : N) << c;
    EXPECT_EQ(d.h.d->mpiHalo[1][c], N);
  }
  // 3 leading no-data cells, six cells of region 0, three no-data cells.
  EXPECT_EQ(d.helper(1, 0), 3);
  EXPECT_EQ(d.helper(1, 1), 0);
  EXPECT_EQ(d.helper(1, 2), 6);
  EXPECT_EQ(d.helper(1, 3), N);
  EXPECT_EQ(d.helper(1, 4), 3);
  EXPECT_EQ(d.helper(2, 0), 12);
  EXPECT_NE(d.h.Console().find("MPI regular cells: 6\nMPI river cells: 0"), std::string::npos);
}

TEST(Decompose, AlternatingRowFitsTheHelper) {
  Rows zones{{1, N, 1, N, 1, N, 1, N}};
  Decomposition d(8, zones);
  // 0 leading, then eight runs of one cell: elements 1..16 = 2 * ncols.
  EXPECT_EQ(d.helper(1, 0), 0);
  EXPECT_EQ(d.helper(1, 15), N);
  EXPECT_EQ(d.helper(1, 16), 1);
}

TEST(Decompose, HelperIsAsWideAsItsLongestRowNeeds) {
  // A whole basin of one region: one run a row, so the helper takes no more than the
  // region grid (plus the halo's one row); it used to take twice the width of every row.
  constexpr int rows = 40, cols = 100;
  Decomposition d(cols, Rows(rows, Rows::value_type(cols, 1)));
  const long long grid = static_cast<long long>(rows) * (cols + 1) * 8;
  EXPECT_LE(d.bytes, 2 * grid + 4 * (cols + 1) * 8);
  EXPECT_EQ(d.helper(rows, 0), 0);
  EXPECT_EQ(d.helper(rows, 1), 0);
  EXPECT_EQ(d.helper(rows, 2), cols);
}

TEST(Decompose, RiverLinksLargestFirstUpstreamFirst) {
  Rows zones(2, Rows::value_type(9, 1));
  Rows links{{0, 2, 2, 2, 2, 2, 0, 0, 0}, {1, 1, 0, 2, 2, 2, 2, 2, 2}};
  Decomposition d(9, zones, links);
  ASSERT_EQ(d.h.d->riverLinks.size(), 2u);
  RiverLink& big = d.h.d->riverLinks[0];
  EXPECT_EQ(big.CellCount(), 11);
  EXPECT_EQ(big.GetCells().front().link, 2);
  // Elevation falls to the east: the westernmost cells come first.
  EXPECT_EQ(big.GetCells()[0].column, 2);
  EXPECT_EQ(big.GetCells()[1].column, 3);
  EXPECT_EQ(big.GetCells()[10].index, 10);
  EXPECT_EQ(d.h.d->riverLinks[1].CellCount(), 2);
  EXPECT_EQ(d.h.d->regularCells, 5);
  EXPECT_EQ(d.h.d->riverCells, 13);
  const std::string out = d.h.Console();
  EXPECT_LT(out.find(" + link cells: 11 for river link 2"), out.find(" + link cells: 2 for river link 1"));
}

TEST(Decompose, LinkNumbersAFloatExportLeftOffWholeAreTheirLinks) {
  Rows zones(1, Rows::value_type(6, 1));
  Rows links{{0.9999999, 1, 2.0000001, 1.9999999, 1e-9, 2.5}};
  Decomposition d(6, zones, links);
  ASSERT_EQ(d.h.d->riverLinks.size(), 2u);
  EXPECT_EQ(d.h.d->riverLinks[0].CellCount(), 3);  // link 2: 2.0000001, 1.9999999 and 2.5 by its integer part
  EXPECT_EQ(d.h.d->riverLinks[0].GetCells().front().link, 2);
  EXPECT_EQ(d.h.d->riverLinks[1].CellCount(), 2);  // link 1, not link 0
  EXPECT_EQ(d.h.d->riverLinks[1].GetCells().front().link, 1);
  EXPECT_EQ(d.h.d->regularCells, 1);  // a rounding above 0 is no link
}

TEST(Decompose, SubstepCount) {
  InitHarness h;
  h.d->controlFileName = h.dir.file("s.ctl");
  WriteTextFile(h.d->controlFileName, "[x]\n1\n");
  EXPECT_EQ(h.d->ReadSubstepCount(), 1);
  WriteTextFile(h.d->controlFileName, "[soil_surface_groundwater_substeps]\n4\n");
  EXPECT_EQ(h.d->ReadSubstepCount(), 4);
  WriteTextFile(h.d->controlFileName, "[soil_surface_groundwater_substeps]\nfour\n");
  EXPECT_EQ(ThrownCode([&] { h.d->ReadSubstepCount(); }), 17);
}

}  // namespace
