// The vector kernels of inverse distance against the one-cell operation, bit by bit, for
// every instruction set this CPU offers, on the example basin's real stations and hourly
// temperatures.
#include "meteo/idw_vector_kernels.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <vector>

#include "framework/memory_handling.h"

namespace {

constexpr double N = 9999.0;

// Station positions (UTM 13N) of the example basin's temperature file, plus one station
// put exactly on a cell centre below.
const double kX[] = {471798.3, 453290.9, 453994.1, 506152.5, 440281.3, 517649.7};
const double kY[] = {4174797.4, 4174881.4, 4142702.3, 4196941.2, 4203814.1, 4163673.4};
// Hourly temperatures of 1 January 1985 at these stations (hours 0, 1, 2), and a record
// with a missing value.
const double kRecords[][6] = {{-10.6, -11.1, -14.5, -9.6, -10.0, -7.1},
                              {-11.5, -12.0, -15.9, -10.5, -10.8, -8.1},
                              {-11.9, -12.5, -16.6, -11.1, -11.3, -8.6},
                              {-11.9, -10000.0, -16.6, -11.1, -11.3, -8.6}};

// The basin's extent on a 500 m grid whose column count is no multiple of any batch.
constexpr int kRows = 61, kCols = 83;
constexpr double kXll = 440000.0, kYll = 4140000.0, kCell = 1000.0;

struct Grid {
  MatrixOwner cx{kRows, kCols}, cy{kRows, kCols}, zone{kRows, kCols}, result{kRows, kCols};
  std::vector<double> x{0.0}, y{0.0}, v{0.0};
  Grid() {
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        cx[r][c] = kXll + (c - 0.5) * kCell;
        cy[r][c] = kYll + (kRows - r + 0.5) * kCell;
        zone[r][c] = (r * 3 + c) % 29 == 0 ? -9999.0 : 1.0;
      }
    for (int k = 0; k < 6; ++k) {
      x.push_back(kX[k]);
      y.push_back(kY[k]);
      v.push_back(0.0);
    }
    x.push_back(cx[20][30]);  // at a cell centre: counts at distance 1
    y.push_back(cy[20][30]);
    v.push_back(0.0);
  }
  StationPoints Points() const { return StationPoints{static_cast<int>(x.size()) - 1, x.data(), y.data(), v.data()}; }
};

}  // namespace

TEST(IdwVectorKernels, EverySetOfThisCpuGivesTheBitsOfTheOneCellOperation) {
  Grid g;
  const IdwInstructionSet before = ActiveIdwInstructionSet();
  int setsTried = 0;
  for (IdwInstructionSet set : {IdwInstructionSet::Sse2, IdwInstructionSet::Avx2, IdwInstructionSet::Avx512}) {
    if (!SelectIdwInstructionSet(set)) continue;
    ++setsTried;
    for (const auto& record : kRecords)
      for (double power : {2.0, 1.0})
        for (double ratio : {1.0, 0.6})
          for (double reach : {1e9, 20000.0}) {
            for (int k = 0; k < 6; ++k) g.v[static_cast<size_t>(k + 1)] = StoreStationValue(record[k], N);
            g.v[7] = record[0] + 0.25;
            CellLoop loop;
            loop.lastRow = kRows;
            loop.ncols = kCols;
            loop.coordX = loop.distX = g.cx.get();
            loop.coordY = loop.distY = g.cy.get();
            loop.zone = g.zone.get();
            loop.stations = loop.rotated = g.Points();
            loop.ratio = ratio;
            loop.idw = MakeIdwSettings(power, reach);
            loop.nodata = N;
            loop.result = g.result.get();
            RunCellLoop(loop);
            for (int r = 1; r <= kRows; ++r)
              for (int c = 1; c <= kCols; ++c) {
                const double expected =
                    g.zone[r][c] == -9999.0 ? -9999.0 : IdwValue(g.Points(), loop.idw, N, g.cx[r][c], g.cy[r][c], ratio);
                ASSERT_EQ(0, std::memcmp(&expected, &g.result[r][c], sizeof(double)))
                    << IdwInstructionSetName(set) << " power " << power << " b/a " << ratio << " reach " << reach
                    << " cell " << r << "," << c << ": " << expected << " vs " << g.result[r][c];
              }
          }
  }
  EXPECT_GE(setsTried, 1);
  SelectIdwInstructionSet(before);
}

TEST(IdwVectorKernels, ABatchWithoutAnyStationInReachIsMissingAndUnavailableSetsAreRefused) {
  Grid g;
  for (int k = 1; k <= 7; ++k) g.v[static_cast<size_t>(k)] = 1.0;
  double px[kMaxIdwBatch], py[kMaxIdwBatch], out[kMaxIdwBatch];
  for (int k = 0; k < kMaxIdwBatch; ++k) {
    px[k] = 0.0;  // far from every station
    py[k] = 1000.0 * k;
  }
  for (IdwInstructionSet set : {IdwInstructionSet::Sse2, IdwInstructionSet::Avx2, IdwInstructionSet::Avx512}) {
    if (!IdwInstructionSetAvailable(set)) {
      const IdwInstructionSet active = ActiveIdwInstructionSet();
      EXPECT_FALSE(SelectIdwInstructionSet(set));
      EXPECT_EQ(ActiveIdwInstructionSet(), active);
      continue;
    }
    for (double power : {2.0, 1.0}) {
      IdwBatch(set, g.Points(), MakeIdwSettings(power, 5000.0), N, 1.0, px, py, out);
      for (int k = 0; k < IdwBatchSize(set); ++k) EXPECT_EQ(out[k], MissingResult(N)) << IdwInstructionSetName(set);
    }
  }
  EXPECT_TRUE(IdwInstructionSetAvailable(IdwInstructionSet::Sse2));
}

TEST(IdwVectorKernels, ValueSetsOnTheSameStationsGetTheBitsOfEachSetAlone) {
  // One to six variables of one station file: the weights are made once per point, every
  // set's value must still be what IdwBatch gives it alone (each with its own nodata value).
  Grid g;
  const double nodata[kMaxIdwSets] = {N, 999.0, 99.0, N, 9999.5, 500.0};
  std::vector<std::vector<double>> values(kMaxIdwSets, std::vector<double>(8, 0.0));
  for (int k = 0; k < kMaxIdwSets; ++k) {
    for (int i = 1; i <= 7; ++i) values[k][i] = std::sin(1.7 * i + k) * (10.0 + 5 * k);
    values[k][4] = -nodata[k] - 1.0;  // missing in every set
  }
  double px[kMaxIdwBatch], py[kMaxIdwBatch];
  for (int l = 0; l < kMaxIdwBatch; ++l) {
    px[l] = g.cx[3 + l][5 + 2 * l];
    py[l] = g.cy[3 + l][5 + 2 * l];
  }
  px[3] = g.x[7];  // at a station
  py[3] = g.y[7];
  for (IdwInstructionSet set : {IdwInstructionSet::Sse2, IdwInstructionSet::Avx2, IdwInstructionSet::Avx512}) {
    if (!IdwInstructionSetAvailable(set)) continue;
    for (double power : {2.0, 1.0})
      for (double ratio : {1.0, 0.6})
        for (double reach : {1e9, 20000.0, 10.0})
          for (int count = 1; count <= kMaxIdwSets; ++count) {
            const IdwSettings w = MakeIdwSettings(power, reach);
            IdwSets sets;
            sets.count = count;
            for (int k = 0; k < count; ++k) {
              sets.v[k] = values[k].data();
              sets.nodata[k] = nodata[k];
            }
            double together[kMaxIdwSets * kMaxIdwBatch];
            const StationPoints first{7, g.x.data(), g.y.data(), values[0].data()};
            IdwBatchSets(set, first, sets, w, ratio, px, py, together);
            for (int k = 0; k < count; ++k) {
              double alone[kMaxIdwBatch];
              IdwBatch(set, StationPoints{7, g.x.data(), g.y.data(), values[k].data()}, w, nodata[k], ratio, px, py,
                       alone);
              for (int l = 0; l < IdwBatchSize(set); ++l)
                ASSERT_EQ(0, std::memcmp(&alone[l], &together[k * kMaxIdwBatch + l], sizeof(double)))
                    << IdwInstructionSetName(set) << " power " << power << " b/a " << ratio << " reach " << reach
                    << " sets " << count << " set " << k << " point " << l;
            }
          }
  }
}
