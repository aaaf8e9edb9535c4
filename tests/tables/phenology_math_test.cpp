// Forcing and chilling units, thresholds, the seven-day mean and the root-zone transfer,
// checked against hand values.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(PhenologyMath, RootDepthMovesCapacityAndWaterBetweenActiveAndInactiveZone) {
  // Shallower roots: the lost capacity joins the inactive zone with the active filling.
  RootZone z{100.0, 0.4, 10.0, 0.5};
  AdjustRootZone(z, 1.0, 0.5);
  EXPECT_DOUBLE_EQ(z.capacity, 50.0);
  EXPECT_EQ(z.fraction, 0.4);
  EXPECT_DOUBLE_EQ(z.inactiveCapacity, 60.0);
  EXPECT_NEAR(z.inactiveFraction, (50.0 * 0.4 + 10.0 * 0.5) / 60.0, 1e-12);

  // Deeper roots take the inactive zone first (with its filling), the rest enters dry.
  RootZone small{50.0, 0.4, 10.0, 0.5};
  AdjustRootZone(small, 0.5, 1.0);
  EXPECT_DOUBLE_EQ(small.capacity, 100.0);
  EXPECT_NEAR(small.fraction, (20.0 + 5.0) / 100.0, 1e-12);
  EXPECT_EQ(small.inactiveCapacity, 0.0);
  EXPECT_EQ(small.inactiveFraction, 1.0);
  RootZone big{50.0, 0.4, 80.0, 0.5};
  AdjustRootZone(big, 0.5, 1.0);
  EXPECT_NEAR(big.fraction, (20.0 + 25.0) / 100.0, 1e-12);
  EXPECT_DOUBLE_EQ(big.inactiveCapacity, 30.0);
  EXPECT_EQ(big.inactiveFraction, 0.5);

  RootZone same{50.0, 0.4, 80.0, 0.5};
  AdjustRootZone(same, 0.0, 0.5);  // no old depth: nothing moves, nothing divides by zero
  EXPECT_EQ(same.capacity, 50.0);
  EXPECT_EQ(same.inactiveCapacity, 80.0);
}

// A season of daily root depths: the rescaling alone neither creates nor loses water, and
// capacities and fillings stay in their ranges.
TEST(PhenologyMath, RootZoneWaterIsConservedOverASeason) {
  for (double inactive : {0.0, 15.0, 200.0}) {
    RootZone z{120.0, 0.55, inactive, 0.7};
    const double water = z.capacity * z.fraction + z.inactiveCapacity * z.inactiveFraction;
    double depth = 0.2;
    for (int day = 1; day <= 365; ++day) {
      const double next = 0.2 + 0.9 * std::sin(3.14159265358979 * day / 365.0) * (day % 7 == 3 ? 0.5 : 1.0);
      AdjustRootZone(z, depth, std::max(0.01, next));
      depth = std::max(0.01, next);
      const double now = z.capacity * z.fraction + z.inactiveCapacity * z.inactiveFraction;
      ASSERT_NEAR(now, water, 1e-9 * water) << "day " << day;
      ASSERT_GE(z.fraction, 0.0);
      ASSERT_LE(z.fraction, 1.0 + 1e-12);
      ASSERT_GE(z.inactiveCapacity, 0.0);
      ASSERT_GE(z.inactiveFraction, 0.0);
      ASSERT_LE(z.inactiveFraction, 1.0 + 1e-12);
    }
  }
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
