// Forcing and chilling units, thresholds, the seven-day mean and the root-zone transfer,
// checked against hand values.
#include <gtest/gtest.h>

#include <cmath>

#include "tables/phenology.h"

using namespace phenology;

TEST(PhenologyMath, ForcingUnitsAndTheirSum) {
  EXPECT_NEAR(ForcingUnit(5.0 + 18.4, 5.0), 14.2, 1e-12);  // the midpoint of the sigmoid
  EXPECT_EQ(ForcingUnit(5.0, 5.0), 0.0);
  EXPECT_EQ(ForcingUnit(-3.0, 5.0), 0.0);
  EXPECT_NEAR(ForcingUnit(10.0, 0.0), 28.4 / (1.0 + std::exp(-0.185 * (10.0 - 18.4))), 1e-12);
  EXPECT_EQ(DegreeDayForcing(7.5, 5.0), 2.5);
  EXPECT_EQ(DegreeDayForcing(4.0, 5.0), 0.0);
  EXPECT_EQ(AddForcing(10.0, 2.0, 0.0, 0.7), 12.0);   // no stress factor: moisture has no effect
  EXPECT_EQ(AddForcing(10.0, 2.0, 0.5, 0.0), 12.0);   // no root-zone moisture
  EXPECT_EQ(AddForcing(10.0, 2.0, 0.5, 0.4), 12.4);
  EXPECT_NEAR(MoistureFactor(true, 60.0, 30.0), 30.0 / 120.0, 1e-12);
  EXPECT_EQ(MoistureFactor(true, 20.0, 30.0), 0.0);
  EXPECT_EQ(MoistureFactor(false, 60.0, 30.0), 0.0);
  EXPECT_EQ(MoistureFactor(true, 160.0, 150.0), 0.0);  // no division by zero
}

TEST(PhenologyMath, ChillingUnitsAndThresholds) {
  // o1 = -5, Tc = 2, o2 = 10
  EXPECT_EQ(ChillingUnit(2.0, -5.0, 2.0, 10.0), 1.0);
  EXPECT_EQ(ChillingUnit(-5.0, -5.0, 2.0, 10.0), 0.0);
  EXPECT_EQ(ChillingUnit(10.0, -5.0, 2.0, 10.0), 0.0);
  EXPECT_NEAR(ChillingUnit(-1.5, -5.0, 2.0, 10.0), 0.5, 1e-12);
  EXPECT_NEAR(ChillingUnit(6.0, -5.0, 2.0, 10.0), 0.5, 1e-12);
  EXPECT_EQ(ChillingUnit(20.0, -5.0, 2.0, 10.0), 0.0);
  EXPECT_NEAR(ExponentialThreshold(300.0, -0.01, 100.0), 300.0 * std::exp(-1.0), 1e-9);
  EXPECT_NEAR(LogarithmicThreshold(100.0, -10.0, std::exp(2.0)), 80.0, 1e-9);
  EXPECT_EQ(LogarithmicThreshold(100.0, -10.0, 0.0), 100.0);
}

TEST(PhenologyMath, MovingAverageOverTheLastSevenDays) {
  double stack[8] = {3.0, 0, 0, 0, 0, 0, 0, 0};  // entry 0 (cold-day counter) stays
  EXPECT_EQ(ShiftMovingAverage(stack, 6.0, 1), 6.0);
  EXPECT_EQ(ShiftMovingAverage(stack, 3.0, 2), 4.5);
  EXPECT_EQ(ShiftMovingAverage(stack, 0.0, 3), 3.0);  // mean of three daily means
  for (int d = 4; d <= 7; ++d) ShiftMovingAverage(stack, 7.0, d);
  EXPECT_EQ(ShiftMovingAverage(stack, 14.0, 7), (3.0 + 0.0 + 4 * 7.0 + 14.0) / 7.0);  // day 6 dropped out
  EXPECT_EQ(stack[0], 3.0);
  EXPECT_EQ(stack[1], 14.0);
}

TEST(PhenologyMath, DeeperRootsMoveTheRootZoneDifferenceIntoStorage) {
  RootZone z{100.0, 0.4, 0.0, 0.8, 10.0, 0.5};
  AdjustRootZone(z, 0.5, 1.0);
  EXPECT_DOUBLE_EQ(z.capacity, 50.0);
  EXPECT_NEAR(z.m4, (50.0 * 0.4 + 10.0 * 0.5) / 60.0, 1e-12);
  EXPECT_DOUBLE_EQ(z.m3, 60.0);
  EXPECT_NEAR(z.m2, 0.6, 1e-12);
  EXPECT_EQ(z.m1, 0.4);
}

TEST(PhenologyMath, ShallowerRootsTakeFromStorageOrEmptyIt) {
  RootZone small{50.0, 0.4, 0.0, 0.8, 10.0, 0.5};  // 10 + 50 < 100: storage emptied
  AdjustRootZone(small, 1.0, 0.5);
  EXPECT_DOUBLE_EQ(small.capacity, 100.0);
  EXPECT_NEAR(small.fraction, 0.65, 1e-12);
  EXPECT_EQ(small.m3, 0.0);
  EXPECT_EQ(small.m4, 1.0);
  EXPECT_NEAR(small.m2, 0.9, 1e-12);
  EXPECT_NEAR(small.m1, 0.65, 1e-12);
  RootZone big{50.0, 0.4, 0.0, 0.8, 80.0, 0.5};
  AdjustRootZone(big, 1.0, 0.5);
  EXPECT_NEAR(big.fraction, 0.45, 1e-12);
  EXPECT_DOUBLE_EQ(big.m3, 30.0);
  RootZone same{50.0, 0.4, 0.0, 0.8, 80.0, 0.5};
  AdjustRootZone(same, 0.0, 0.5);  // no old depth: nothing moves, nothing divides by zero
  EXPECT_EQ(same.capacity, 50.0);
  EXPECT_EQ(same.m3, 80.0);
}

TEST(PhenologyMath, BoundsAndCurrentFixEntry) {
  EXPECT_EQ(BoundRootDepth(0.0), 0.01);
  EXPECT_EQ(BoundRoughness(-1.0), 0.01);
  EXPECT_EQ(BoundCoverage(1.2), 1.0);
  EXPECT_EQ(BoundCoverage(-0.2), 0.0);
  EXPECT_EQ(BoundNonNegative(-3.0), 0.0);
  EXPECT_EQ(BoundNonNegative(3.0), 3.0);
  const double list[5] = {0, 50, 120, -1, -9999};
  EXPECT_EQ(CurrentFixEntry(list, 4, 40, -9999), 1);
  EXPECT_EQ(CurrentFixEntry(list, 4, 100, -9999), 2);
  EXPECT_EQ(CurrentFixEntry(list, 4, 200, -9999), 3);  // stops at the waiting entry
}
