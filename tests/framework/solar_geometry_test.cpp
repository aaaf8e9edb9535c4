#include <gtest/gtest.h>

#include <cmath>

#include "framework/solar_geometry.h"

namespace {
const MonthLengths kNormalYear{{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
const MonthLengths kLeapYear{{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
}  // namespace

TEST(SolarGeometry, ConstantsAreTheModelsOwn) {
  EXPECT_EQ(kSolarPi, 3.141592653);
  EXPECT_EQ(kDegreesPerRadian, 57.29577952383886);
  EXPECT_NE(kSolarPi, M_PI);
}

TEST(SolarGeometry, DeclinationFollowsTheMonthTable) {
  EXPECT_NEAR(SolarDeclinationDegrees(1, 1, kNormalYear), -22.98, 0.005);
  EXPECT_DOUBLE_EQ(SolarDeclinationDegrees(1, 1, kNormalYear), -23.4 * std::cos(11.0 / 58.09155423));
  // day of year 355 (21 December) is the minimum
  double dec21 = SolarDeclinationDegrees(21, 12, kNormalYear);
  EXPECT_NEAR(dec21, -23.4, 1e-3);
  EXPECT_LT(dec21, SolarDeclinationDegrees(20, 12, kNormalYear));
  EXPECT_LT(dec21, SolarDeclinationDegrees(22, 12, kNormalYear));
  // 1 March is day 60 in a normal year and day 61 with a 29-day February
  EXPECT_DOUBLE_EQ(SolarDeclinationDegrees(1, 3, kLeapYear), SolarDeclinationDegrees(2, 3, kNormalYear));
  // a month outside 1..12 (a run without dates) reads no table out of range
  EXPECT_TRUE(std::isfinite(SolarDeclinationDegrees(-9999, -9999, kNormalYear)));
}

TEST(SolarGeometry, EquationOfTimeInterpolatesTheTable) {
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(1, 3, kNormalYear), -12.6 / 60.0);
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(31, 12, kNormalYear), (1.0 / 31) * 11.3 / 60 + (30.0 / 31) * (-3.2) / 60);
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(29, 2, kLeapYear), (1.0 / 29) * -13.6 / 60 + (28.0 / 29) * (-12.6) / 60);
  EXPECT_TRUE(std::isfinite(EquationOfTimeHours(1, 13, kNormalYear)));
  EXPECT_TRUE(std::isfinite(EquationOfTimeHours(1, 0, kNormalYear)));
}

TEST(SolarGeometry, SunriseAndSunsetOnTheEquator) {
  SolarSite site{0.0, 10.0, 10.0};
  SunTimes t = SunriseSunsetHours(0.0, 0.0, site);
  EXPECT_EQ(t.sunrise, 6.0);
  EXPECT_EQ(t.sunset, 18.0);
  EXPECT_EQ(t.polar, 0);
  // shifted to clock time: one hour per 15 degrees west of the meridian, minus E
  SolarSite west{0.0, -5.0, 10.0};
  t = SunriseSunsetHours(10.0, 0.1, west);
  EXPECT_DOUBLE_EQ(t.sunrise, 6.0 + 1.0 - 0.1);
  EXPECT_DOUBLE_EQ(t.sunset, 18.0 + 1.0 - 0.1);
}

TEST(SolarGeometry, LongAndShortDaysAtMidLatitudes) {
  SolarSite site{50.0, 0.0, 0.0};
  SunTimes summer = SunriseSunsetHours(23.0, 0.0, site);
  SunTimes winter = SunriseSunsetHours(-23.0, 0.0, site);
  EXPECT_LT(summer.sunrise, 6.0);
  EXPECT_NEAR(summer.sunset - summer.sunrise, 16.2, 0.2);
  EXPECT_NEAR(winter.sunset - winter.sunrise, 7.8, 0.2);
  EXPECT_NEAR(summer.sunrise + summer.sunset, 24.0, 1e-12);
}

TEST(SolarGeometry, PolarDayAndPolarNightAreToldApart) {
  SolarSite site{80.0, 0.0, 0.0};
  double june = SolarDeclinationDegrees(21, 6, kNormalYear);
  double december = SolarDeclinationDegrees(21, 12, kNormalYear);
  SunTimes day = SunriseSunsetHours(june, 0.0, site);
  SunTimes night = SunriseSunsetHours(december, 0.0, site);
  EXPECT_EQ(day.polar, 1);
  EXPECT_EQ(day.sunrise, 0.0);
  EXPECT_EQ(day.sunset, 24.0);
  EXPECT_EQ(night.polar, -1);
  EXPECT_EQ(night.sunset - night.sunrise, 0.0);
  for (int64_t hour = 1; hour <= 24; ++hour) {
    DaylightPart d = ComputeDaylightPart(day, hour, 60.0, 0.0);
    EXPECT_EQ(d.daylightPart, 1.0);
    EXPECT_EQ(d.nightFlag, 0);
    DaylightPart n = ComputeDaylightPart(night, hour, 60.0, 0.0);
    EXPECT_EQ(n.daylightPart, 0.0);
    EXPECT_EQ(n.nightPart, 1.0);
    EXPECT_EQ(n.nightFlag, 1);
  }
  // southern hemisphere: the other way round
  SolarSite south{-80.0, 0.0, 0.0};
  EXPECT_EQ(SunriseSunsetHours(june, 0.0, south).polar, -1);
  EXPECT_EQ(SunriseSunsetHours(december, 0.0, south).polar, 1);
}

TEST(SolarGeometry, ElevationMagnitudeAndSignedPosition) {
  SolarSite site{0.0, 0.0, 0.0};
  // at declination 0 on the equator the hour angle is the zenith angle: 4 hours after
  // sunset the sun stands 60 degrees below the horizon
  EXPECT_NEAR(SunElevationDegrees(0.0, 0.0, site, 12.0), 90.0, 1e-6);
  EXPECT_NEAR(SunElevationDegrees(0.0, 0.0, site, 8.0), 30.0, 1e-6);
  EXPECT_NEAR(SunElevationDegrees(0.0, 0.0, site, 22.0), 60.0, 1e-6);  // below: still positive
  double az = 0, el = 0;
  SunAzimuthElevation(0.0, 0.0, site, 22.0, az, el);
  EXPECT_NEAR(el, -60.0 / kDegreesPerRadian, 1e-6);
  SunAzimuthElevation(0.0, 0.0, site, 6.6667, az, el);  // 10 degrees above the horizon
  EXPECT_NEAR(el * kDegreesPerRadian, 10.0, 0.01);
  SunAzimuthElevation(0.0, 0.0, site, 5.3333, az, el);  // 10 degrees below
  EXPECT_NEAR(el * kDegreesPerRadian, -10.0, 0.01);
  EXPECT_NEAR(SunElevationDegrees(0.0, 0.0, site, 5.3333), 10.0, 0.01);

  // mid-latitude morning sun in the east, afternoon sun in the west
  SolarSite mid{47.0, 8.0, 15.0};
  double decl = SolarDeclinationDegrees(1, 7, kNormalYear);
  double eot = EquationOfTimeHours(1, 7, kNormalYear);
  SunAzimuthElevation(decl, eot, mid, 9.0, az, el);
  EXPECT_GT(az, 0.0);
  EXPECT_LT(az, kSolarPi);
  double morningElevation = el;
  SunAzimuthElevation(decl, eot, mid, 17.0, az, el);
  EXPECT_GT(az, kSolarPi);
  EXPECT_LT(az, 2 * kSolarPi);
  EXPECT_GT(el, 0.0);
  EXPECT_NEAR(SunElevationDegrees(decl, eot, mid, 9.0), morningElevation * 180.0 / kSolarPi, 1e-6);
  // the sun in the zenith has no azimuth: pi by convention, and nothing is NaN
  SunAzimuthElevation(0.0, 0.0, site, 12.0, az, el);
  EXPECT_EQ(az, 3.14159265359);
  EXPECT_NEAR(el, kSolarPi / 2, 1e-6);
}

TEST(SolarGeometry, CosineOfTheAngleBetweenDirections) {
  EXPECT_DOUBLE_EQ(CosAngleBetween(1.0, 0.0, 2.0, 0.0), 1.0);  // both vertical
  EXPECT_NEAR(CosAngleBetween(0.0, kSolarPi / 2, kSolarPi, kSolarPi / 2), -1.0, 1e-9);
  EXPECT_NEAR(CosAngleBetween(0.3, 0.5, 0.3, 0.2), std::cos(0.3), 1e-12);
}

TEST(SolarGeometry, HourlyDaylightPartsAddUpToTheDayLength) {
  SunTimes sun{5.25, 19.75, 0};
  double daylightHours = 0;
  for (int64_t hour = 1; hour <= 24; ++hour) {
    DaylightPart d = ComputeDaylightPart(sun, hour, 60.0, 0.0);
    EXPECT_NEAR(d.daylightPart + d.nightPart, 1.0, 1e-12);
    daylightHours += d.daylightPart;
    if (hour <= 5 || hour >= 21) {
      EXPECT_EQ(d.nightFlag, 1) << hour;
    }
  }
  EXPECT_NEAR(daylightHours, 19.75 - 5.25, 1e-12);
  // the step that holds sunrise
  DaylightPart d = ComputeDaylightPart(sun, 6, 60.0, 0.0);
  EXPECT_DOUBLE_EQ(d.nightBeforeSunrise, 0.25);
  EXPECT_DOUBLE_EQ(d.daylightPart, 0.75);
  // a shift of one hour moves the step end
  d = ComputeDaylightPart(sun, 5, 60.0, 1.0);
  EXPECT_DOUBLE_EQ(d.daylightPart, 0.75);
}

TEST(SolarGeometry, DailyAndLongerSteps) {
  SunTimes sun{6.5, 17.0, 0};
  DaylightPart day = ComputeDaylightPart(sun, 24, 1440.0, 0.0);
  EXPECT_DOUBLE_EQ(day.daylightPart, (17.0 - 6.5) / 24.0);
  EXPECT_EQ(day.nightFlag, 0);
  DaylightPart longer = ComputeDaylightPart(sun, 24, 2880.0, 0.0);  // treated as a day
  EXPECT_GE(longer.daylightPart, 0.0);
  EXPECT_LE(longer.daylightPart, 1.0);
  EXPECT_DOUBLE_EQ(longer.nightBeforeSunrise, 6.5);
  // sunset after midnight in clock time wraps to the small hours
  SunTimes late{7.0, 25.0, 0};
  DaylightPart w = ComputeDaylightPart(late, 12, 60.0, 0.0);
  EXPECT_DOUBLE_EQ(w.sunset, 1.0);
  EXPECT_EQ(w.daylightPart, 1.0);
}

TEST(SolarGeometry, DailyStepsStampedInTheMorningReachIntoTheDayBefore) {
  SunTimes sun{5.0, 20.0, 0};
  DaylightPart midnight = ComputeDaylightPart(sun, 24, 1440.0, 0.0);
  DaylightPart morning = ComputeDaylightPart(sun, 7, 1440.0, 0.0);  // 07:00 the day before to 07:00
  EXPECT_DOUBLE_EQ(midnight.daylightPart, 15.0 / 24.0);
  EXPECT_DOUBLE_EQ(morning.daylightPart, 15.0 / 24.0);
  EXPECT_EQ(morning.nightFlag, 0);
  // Daylight told from sunrise on: the step start plus the dark part is 05:00 of a day.
  EXPECT_DOUBLE_EQ(std::fmod(7.0 - 24.0 + morning.nightBeforeSunrise + 48.0, 24.0), 5.0);
  // A stamp of 07:00 with the data hour marking the step start ends the step at 07:00 + 24.
  DaylightPart shifted = ComputeDaylightPart(sun, 7, 1440.0, 24.0);
  EXPECT_DOUBLE_EQ(shifted.daylightPart, 15.0 / 24.0);
  // An hourly step that began before midnight stays a night step.
  DaylightPart early = ComputeDaylightPart(sun, 0, 60.0, 0.0);
  EXPECT_EQ(early.nightFlag, 1);
  EXPECT_EQ(early.daylightPart, 0.0);
  // A late sunset lights half of the last hour of the day before.
  DaylightPart late = ComputeDaylightPart(SunTimes{7.0, 23.5, 0}, 0, 60.0, 0.0);
  EXPECT_DOUBLE_EQ(late.daylightPart, 0.5);
}
