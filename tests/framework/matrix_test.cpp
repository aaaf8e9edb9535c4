#include <gtest/gtest.h>

#include "framework/memory_handling.h"
#include "support/test_support.h"

TEST(Matrix, ZeroFilledOneBasedRowsWithNullOutside) {
  memory_handling mh;
  double** m = mh.matrix(1, 3, 1, 4, 6);
  EXPECT_EQ(m[0], nullptr);
  EXPECT_EQ(m[4], nullptr);
  EXPECT_EQ(m[6], nullptr);
  for (int r = 1; r <= 3; ++r)
    for (int c = 0; c <= 4; ++c) EXPECT_EQ(m[r][c], 0.0);
  // Rows of one block follow each other: 160 bytes split as 104 - 24 bytes (two rows) and the rest.
  EXPECT_EQ(m[2], m[1] + 5);
  EXPECT_EQ(MatrixBlockCount(m), 2);
  m[3][4] = 7.5;
  mh.FreeMatrix(m);
  mh.FreeMatrix(nullptr, 1, 2, 1, 2);
}

TEST(Matrix, OneByOne) {
  memory_handling mh;
  double** m = mh.matrix(1, 1, 1, 1, 0);
  EXPECT_EQ(m[0], nullptr);
  EXPECT_EQ(m[1][1], 0.0);
  EXPECT_EQ(MatrixBlockCount(m), 1);
  mh.FreeMatrix(m, 1, 1, 1, 1);
}

TEST(Matrix, LargeMatrixIsSplitIntoPowerOfTwoBlocksOfWholeRows) {
  // 100 MiB: a block of 64 MiB less 24 bytes, one of 32 MiB less 24 bytes, then the rest.
  const int64_t nch = 1023;  // 8 KiB per row
  const int64_t rows = 100 * 128 - 1;  // (rows + 1) rows make the 100 MiB the split is sized by
  memory_handling mh;
  double** m = mh.matrix(1, rows, 1, nch, 0);
  EXPECT_EQ(MatrixBlockCount(m), 3);
  int64_t first = (64 * 1024 * 1024 - 24) / 8192;  // rows of the first block
  // Inside a block rows follow each other; the row after a block starts a new allocation.
  EXPECT_EQ(m[first - 1] + nch + 1, m[first]);
  m[rows][nch] = 1.0;
  mh.FreeMatrix(m);
}

TEST(Matrix, RepeatedRowMatrixHoldsOneValueEverywhereAndFreesLikeAnyMatrix) {
  double** m = AllocateRepeatedRowMatrix(nullptr, 1, 500, 7, -9999.0);
  EXPECT_EQ(m[0], nullptr);
  EXPECT_EQ(MatrixBlockCount(m), 1);
  for (int r = 1; r <= 500; ++r) {
    EXPECT_EQ(m[r], m[1]);
    for (int c = 0; c <= 7; ++c) EXPECT_EQ(m[r][c], -9999.0);
  }
  MatrixOwner owner(m);  // released through the common path
  EXPECT_THROW(AllocateRepeatedRowMatrix(nullptr, 1, 2, int64_t(1) << 29, 0.0), int);
}

TEST(Matrix, TooLongRowsFailBeforeAllocating) {
  CapturedLog cap;
  memory_handling mh;
  mh.log = &cap.log();
  const int64_t largestOk = (2147480000 - 24) / 8 - 1;
  EXPECT_THROW(
      {
        try {
          mh.matrix(1, 1, 1, largestOk + 1, 0);
        } catch (int code) {
          EXPECT_EQ(code, 1);
          throw;
        }
      },
      int);
  EXPECT_NE(cap.console().find("too long matrix rows"), std::string::npos);
}

TEST(Matrix, ThreeDimensional) {
  memory_handling mh;
  double*** m = mh.d3_matrix(1, 3, 1, 4, 5, 0);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j)
      for (int k = 0; k <= 5; ++k) EXPECT_EQ(m[i][j][k], 0.0);
  EXPECT_EQ(m[0], nullptr);
  EXPECT_EQ(m[2][0], m[2][1] - 6);
  m[3][4][5] = 2.0;
  mh.Free3DMatrix(m, 1, 3);
  mh.Free3DMatrix(nullptr);
}

TEST(Matrix, OwnerReleasesAndMoves) {
  MatrixOwner a(3, 2);
  a[3][2] = 4.0;
  MatrixOwner b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b[3][2], 4.0);
  b.reset();
  EXPECT_FALSE(b);
}

TEST(Matrix, CountHalvingsAndAllocError) {
  memory_handling mh;
  EXPECT_EQ(mh.CountHalvings(1), 0);
  EXPECT_EQ(mh.CountHalvings(2), 1);
  EXPECT_EQ(mh.CountHalvings(3), 2);
  EXPECT_EQ(mh.CountHalvings(1024), 10);
  EXPECT_EQ(mh.CountHalvings(1025), 11);
  EXPECT_EQ(mh.CountHalvings(0.5), 0);
  CapturedLog cap;
  mh.log = &cap.log();
  mh.name = "snow_model";
  try {
    mh.AllocError(7);
    FAIL();
  } catch (int code) {
    EXPECT_EQ(code, 81);
  }
  EXPECT_NE(cap.console().find("memory allocation error in snow_model (7"), std::string::npos);
}

TEST(Matrix, LiveAndPeakBytesCountTheValuesOfEveryKindOfMatrixUntilReleased) {
  // The benchmarks' bytes per cell rest on this count: a matrix of rows 1..r and columns
  // 0..c holds r (c + 1) doubles, a repeated row one row, a 3-D matrix one block of rows
  // 0..r per level; releasing gives them back and the peak keeps the most.
  const long long before = LiveMatrixBytes();
  ResetPeakMatrixBytes();
  double** a = AllocateMatrix(nullptr, 1, 9, 4, 0);
  EXPECT_EQ(LiveMatrixBytes() - before, 9 * 5 * 8);
  double** row = AllocateRepeatedRowMatrix(nullptr, 1, 1000, 4, 2.0);
  EXPECT_EQ(LiveMatrixBytes() - before, 9 * 5 * 8 + 5 * 8);
  double*** cube = Allocate3DMatrix(nullptr, 1, 3, 1, 4, 5, 0);
  const long long all = 9 * 5 * 8 + 5 * 8 + 3 * 5 * 6 * 8;
  EXPECT_EQ(LiveMatrixBytes() - before, all);
  ReleaseMatrix(a);
  ReleaseMatrix(row);
  Release3DMatrix(cube);
  EXPECT_EQ(LiveMatrixBytes(), before);
  EXPECT_EQ(PeakMatrixBytes() - before, all);
}
