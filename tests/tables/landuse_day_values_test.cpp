// The arithmetic of land-use parameters over the year, checked against hand values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tables/landuse_day_values.h"

using namespace landuse_days;

namespace {
int NonLeap[13] = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
}

TEST(LanduseDays, DayOfYearFollowsTheGregorianFebruary) {
  int len[13];
  std::copy(NonLeap, NonLeap + 13, len);
  EXPECT_EQ(DayOfYear(31, 12, 2023, len), 365);
  EXPECT_EQ(DayOfYear(31, 12, 2024, len), 366);
  EXPECT_EQ(len[2], 29);  // February of the year converted
  EXPECT_EQ(DayOfYear(29, 2, 2000, len), 60);
  EXPECT_EQ(DayOfYear(1, 3, 2000, len), 61);
  EXPECT_EQ(DayOfYear(1, 3, 1900, len), 60);
  EXPECT_EQ(DayOfYear(1, 3, 2100, len), 60);
  EXPECT_EQ(DayOfYear(40, 1, 2023, len), 40);    // a day beyond the month is not refused
  EXPECT_EQ(DayOfYear(1, 13, 2023, len), 335);   // a month above 12 counts as December
  EXPECT_EQ(DayOfYear(32, 12, 2024, len), 367);  // refused by the row
}

TEST(LanduseDays, ParameterMaskReadsEightCharactersLeftToRight) {
  EXPECT_EQ(ParameterMask("11111111", 8), 0xff);
  EXPECT_EQ(ParameterMask("10000001", 8), 0x81);
  EXPECT_EQ(ParameterMask("1", 1), 0x80);
  EXPECT_EQ(ParameterMask("111111111111", 12), 0xff);
  EXPECT_EQ(ParameterMask("1x1", 3), 0xa0);
}

TEST(LanduseDays, AltitudeShiftsFixDaysTruncatedTowardZero) {
  const int jd[3] = {-166, 100, 200};
  const double g[3] = {-0.025, 0.025, -0.025};
  int c[3];
  ASSERT_EQ(CorrectFixDays(jd, g, 2, 800.0, -1, -1, c), 0);
  EXPECT_EQ(c[1], 110);
  EXPECT_EQ(c[2], 190);
  EXPECT_EQ(c[0], -166);  // from the uncorrected last fix day
  ASSERT_EQ(CorrectFixDays(jd, g, 2, 400.0, -1, -1, c), 0);
  EXPECT_EQ(c[1], 100);
  const double half[3] = {0.05, 0.05, 0.05};
  CorrectFixDays(jd, half, 2, 390.0, -1, -1, c);  // -0.5 days: truncated to 0, not floored to -1
  EXPECT_EQ(c[1], 100);
}

TEST(LanduseDays, CorrectedDaysOutsideTheYearAreReported) {
  const int jd[3] = {-6, 100, 360};
  const double g[3] = {0.025, 0.0, 0.025};
  int c[3];
  EXPECT_EQ(CorrectFixDays(jd, g, 2, 800.0, -1, -1, c), 2);
  EXPECT_EQ(c[2], 370);
  EXPECT_EQ(CorrectFixDays(jd, g, 2, std::numeric_limits<double>::quiet_NaN(), -1, -1, c), 1);  // NaN at the first fix point
  EXPECT_EQ(CorrectFixDays(jd, g, 2, 1e300, -1, -1, c), 2);
}

TEST(LanduseDays, DynamicStartReplacesItsFixDayAndTheNext) {
  const int jd[5] = {0, 1, -1, 30, 366};
  const double g[5] = {0, 0, 0, 0, 0};
  int c[5];
  ASSERT_EQ(CorrectFixDays(jd, g, 4, 1500.0, 2, 120, c), 0);
  EXPECT_EQ(c[2], 120);
  EXPECT_EQ(c[3], 150);
  ASSERT_EQ(CorrectFixDays(jd, g, 4, 1500.0, 2, -1, c), 0);  // start not yet set
  EXPECT_EQ(c[2], -1);
  EXPECT_EQ(FindInterval(c, 4, 50), 2);  // the search stops at the unset start
}

// A start on day 354 of a common year with the next fix point 40 days later: that day is
// day 29 of the next year, the last fix day (366) the next year's end; a day of the next
// year before the start lies on the season's line, as a day of the start's year after it.
TEST(LanduseDays, ALateStartCarriesItsFixDaysIntoTheNextYear) {
  const int jd[5] = {0, 1, -1, 40, 366};
  const double g[5] = {0, 0, 0, 0, -0.001};
  const double lai[5] = {1.0, 1.0, 2.0, 6.0, 1.0};
  int c[5], carried = -1;
  ASSERT_EQ(CorrectFixDays(jd, g, 4, 1400.0, 2, 354, c, 365, &carried), 0);
  EXPECT_EQ(carried, 365);
  EXPECT_EQ(c[3], 394);
  EXPECT_EQ(c[4], 365 + 365);  // the altitude moves it a day, in the next year
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, lai, 4, 364, 2), 3.0);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, lai, 4, 9, 2, carried), 4.0);  // day 374 of the season
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, lai, 4, 29, 2, carried), 6.0);
  EXPECT_EQ(PeriodDayFromFixPoints(c, 4, 29, 3, 4, carried), 29.0);
  EXPECT_EQ(StopDayFromFixPoints(c, 4, 29, 3, carried), 29.0);
  // In a leap year the same start reaches it a day earlier; a start whose next fix day
  // stays in the year carries nothing.
  ASSERT_EQ(CorrectFixDays(jd, g, 4, 1400.0, 2, 354, c, 366, &carried), 0);
  EXPECT_EQ(carried, 366);
  EXPECT_EQ(c[3] - carried, 28);
  ASSERT_EQ(CorrectFixDays(jd, g, 4, 1400.0, 2, 325, c, 365, &carried), 0);
  EXPECT_EQ(carried, 0);
  EXPECT_EQ(c[3], 365);
  // A cell's own list marked so: the next year's days before the start take the shift.
  const double list[5] = {0, 1, 354, 394, 731};
  EXPECT_EQ(CellSeasonShift(list, 4, 354, 9, 365), 365);
  EXPECT_EQ(CellSeasonShift(list, 4, 354, 360, 365), 0);
  EXPECT_EQ(CellSeasonShift(list, 4, -1, 9, 365), 0);
  const double early[5] = {0, 1, 100, 140, 366};
  EXPECT_EQ(CellSeasonShift(early, 4, 100, 9, 365), 0);
  EXPECT_DOUBLE_EQ(ValueFromCellDays(list, lai, 4, 9, nullptr, 0, 365), 4.0);
  // A cell without an elevation takes none: its fix days are those of 400 m.
  EXPECT_EQ(FixDayAltitude(-9999.0, -9999.0), 400.0);
  EXPECT_EQ(FixDayAltitude(1400.0, -9999.0), 1400.0);
}

TEST(LanduseDays, FixPointValuesAreLinearAndWrapOverTheYear) {
  const int days[3] = {-166, 100, 200};
  const double v[3] = {3.0, 1.0, 3.0};
  EXPECT_EQ(FindInterval(days, 2, 100), 1);
  EXPECT_EQ(FindInterval(days, 2, 101), 2);
  EXPECT_EQ(FindInterval(days, 2, 201), 3);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(days, v, 2, 100, -1), 1.0);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(days, v, 2, 150, -1), 2.0);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(days, v, 2, 200, -1), 3.0);
  EXPECT_NEAR(ValueFromFixPoints(days, v, 2, 50, -1), 366.0 / 266.0, 1e-12);
  // Day 250 lies on the same wrap interval, shifted back by a year.
  EXPECT_NEAR(ValueFromFixPoints(days, v, 2, 250, -1), 698.0 / 266.0, 1e-12);
  const int flat[3] = {-166, 200, 200};
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(flat, v, 2, 200, -1), 1.0);
  // Between equal values every day holds the value itself, not a rounding step beside it.
  const int year[5] = {-86, 110, 150, 250, 280};
  const double depth[5] = {0.2, 0.2, 0.4, 0.4, 0.2};
  for (int day = 1; day <= 366; ++day) {
    if (day <= 110 || day >= 280) {
      ASSERT_EQ(ValueFromFixPoints(year, depth, 4, day, -1), 0.2) << day;
    } else if (day >= 150 && day <= 250) {
      ASSERT_EQ(ValueFromFixPoints(year, depth, 4, day, -1), 0.4) << day;
    }
  }
}

TEST(LanduseDays, DynamicRowHoldsTheDormantValueUntilItsStart) {
  const int c[5] = {0, 1, 120, 150, 366};
  const double v[5] = {0.5, 0.5, 0.5, 4.0, 0.5};
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, v, 4, 100, 2), 0.5);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, v, 4, 135, 2), 2.25);
  EXPECT_DOUBLE_EQ(ValueFromFixPoints(c, v, 4, 150, 2), 4.0);
}

TEST(LanduseDays, CellFixDaysInterpolateWithoutWrap) {
  const double L[4] = {0, 100, 200, 300};
  const double v[4] = {5, 1, 2, 3};
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 50, nullptr, 0), 3.0);
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 100, nullptr, 0), 1.0);
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 150, nullptr, 0), 1.5);
  // After the last fix day: on the line to the first of the next year (day 466), never
  // beyond the values.
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 350, nullptr, 0), 3.0 - 2.0 * 50.0 / 166.0);
  const double unset[4] = {0, 100, 0, 300};
  EXPECT_EQ(FindCellInterval(unset, 3, 250), 2);  // stops at a day not set
  const double thresholds[4] = {0, 0, 50, 0};
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 150, thresholds, 25.0), 1.5);
  EXPECT_DOUBLE_EQ(ValueFromCellDays(L, v, 3, 150, thresholds, 50.0), 2.0);
}

// A start not marked yet (-1, as DynamicPhenology_4 lists it until its start) ends no
// interval: the value stays at the fix point before it on every day, rather than following
// the line through (1, v1) and (-1, v2) out of the range of the values.
TEST(LanduseDays, CellFixDaysHoldTheDormantValueUntilTheStartIsMarked) {
  const double waiting[5] = {0, 1, -1, 250, 300};
  const double lai[5] = {6.0, 1.0, 3.0, 6.0, 6.0}, roots[5] = {1.0, 0.8, 1.0, 1.0, 1.0};
  for (int day : {1, 2, 100, 366}) {
    EXPECT_EQ(ValueFromCellDays(waiting, lai, 4, day, nullptr, 0), 1.0) << day;
    EXPECT_EQ(ValueFromCellDays(waiting, roots, 4, day, nullptr, 0), 0.8) << day;
  }
  const double started[5] = {0, 1, 20, 270, 300};  // marked on day 20
  EXPECT_DOUBLE_EQ(ValueFromCellDays(started, lai, 4, 145, nullptr, 0), 4.5);
}

TEST(LanduseDays, MonthlyValuesRunBetweenMidMonths) {
  const double v[14] = {120, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 10};
  double r = 0;
  ASSERT_TRUE(MonthlyValue(v, NonLeap, 14, 3, r));
  EXPECT_NEAR(r, 20.0 + 10.0 * 26.0 / 31.0, 1e-12);  // position 41 on 15..46
  ASSERT_TRUE(MonthlyValue(v, NonLeap, 15, 3, r));
  EXPECT_DOUBLE_EQ(r, 30.0);
  ASSERT_TRUE(MonthlyValue(v, NonLeap, 20, 12, r));
  EXPECT_NEAR(r, 120.0 - 110.0 * 5.0 / 31.0, 1e-12);
  ASSERT_TRUE(MonthlyValue(v, NonLeap, 1, 1, r));
  EXPECT_NEAR(r, 120.0 - 110.0 * 16.0 / 31.0, 1e-12);
  EXPECT_FALSE(MonthlyValue(v, NonLeap, 1, 13, r));
  EXPECT_FALSE(MonthlyValue(v, NonLeap, 1, 0, r));
}

TEST(LanduseDays, DaysOfYearSplitIntoMonths) {
  int d = 0, m = 0;
  ASSERT_TRUE(SplitDayOfYear(74, NonLeap, d, m));
  EXPECT_EQ(d, 15);
  EXPECT_EQ(m, 3);
  ASSERT_TRUE(SplitDayOfYear(365, NonLeap, d, m));
  EXPECT_EQ(d, 31);
  EXPECT_EQ(m, 12);
  ASSERT_TRUE(SplitDayOfYear(366, NonLeap, d, m));
  EXPECT_EQ(d, 1);
  EXPECT_EQ(m, 1);
  EXPECT_FALSE(SplitDayOfYear(-5, NonLeap, d, m));
}

TEST(LanduseDays, VegetationPeriodMarkers) {
  const int days[4] = {-66, 100, 200, 300};
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 100, 1, 3), 100.0);
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 150, 1, 3), -1.0);
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 200, 1, 3), 200.0);
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 300, 1, 3), -1.0);
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 300, 3, 1), 300.0);  // over the turn of the year
  EXPECT_EQ(PeriodDayFromFixPoints(days, 3, 100, 0, 3), 0.0);
  EXPECT_EQ(StopDayFromFixPoints(days, 3, 200, 2), 200.0);
  EXPECT_EQ(StopDayFromFixPoints(days, 3, 199, 2), -1.0);
  EXPECT_EQ(StopDayFromFixPoints(days, 3, 200, 0), 0.0);
  const double L[4] = {0, 100, 200, 300};
  EXPECT_EQ(PeriodDayFromCellDays(L, 3, 150, 1, 3), 150.0);
  EXPECT_EQ(PeriodDayFromCellDays(L, 3, 50, 1, 3), -1.0);
  EXPECT_EQ(StopDayFromCellDays(L, 3, 200, 2), 200.0);
  EXPECT_EQ(StopDayFromCellDays(L, 3, 50, 0), 0.0);
  EXPECT_EQ(StopDayFromCellDays(L, 3, 50, 1), -1.0);
}
