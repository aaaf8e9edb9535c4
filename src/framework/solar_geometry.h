// Position of the sun for a site: declination, equation of time, elevation and azimuth,
// sunrise and sunset, the angle between two directions, and the part of a time step that
// lies in daylight. Pure functions; the process-module base wraps them with its site,
// month table and step.
#pragma once

#include <array>
#include <cstdint>

// The value of pi every degree-radian conversion of the solar geometry uses.
constexpr double kSolarPi = 3.141592653;
constexpr double kDegreesPerRadian = 57.29577952383886;  // 180 / kSolarPi

// Equation of time in minutes on the first day of each month: index 0 is the December
// before, 1..12 January..December, 13 the January after.
extern const std::array<double, 14> kEquationOfTimeTable;

// Month lengths, index 0 = January.
using MonthLengths = std::array<int, 12>;

// Declination in degrees for a day of a month (months outside 1..12 count as the
// nearest month).
double SolarDeclinationDegrees(int64_t day, int month, const MonthLengths& months);
// Equation of time in hours: the table value of the month's first day, interpolated
// linearly towards the next month's.
double EquationOfTimeHours(int64_t day, int month, const MonthLengths& months,
                           const std::array<double, 14>& table = kEquationOfTimeTable);

// Where the site lies relative to the clock time of the data.
struct SolarSite {
  double latitude = 0.0;   // degrees
  double longitude = 0.0;  // degrees
  double meridian = 0.0;   // reference meridian of the clock time, degrees
};

// Size of the sun's elevation in degrees (never negative: 10 degrees below the horizon
// gives 10) at clock time t (hours).
double SunElevationDegrees(double declinationDeg, double eotHours, const SolarSite& site, double clockTime);

// Azimuth from north and signed elevation, both in radians, at clock time t (hours).
void SunAzimuthElevation(double declinationDeg, double eotHours, const SolarSite& site, double clockTime,
                         double& azimuth, double& elevation);

// Cosine of the angle between two directions given as (azimuth, angle from the
// vertical) pairs in radians.
double CosAngleBetween(double azimuth1, double angle1, double azimuth2, double angle2);

// Sunrise and sunset in hours of clock time. When the sun does not cross the horizon,
// polar is +1 (it never sets: sunrise 0, sunset 24) or -1 (it never rises: sunrise and
// sunset both at solar noon); otherwise polar is 0.
struct SunTimes {
  double sunrise = 0.0;
  double sunset = 0.0;
  int polar = 0;
};
SunTimes SunriseSunsetHours(double declinationDeg, double eotHours, const SolarSite& site);

// Night and daylight in one time step.
struct DaylightPart {
  double sunrise = 0.0;             // wrapped to 0..24
  double sunset = 0.0;              // wrapped to 0..24
  double nightBeforeSunrise = 0.0;  // hours
  double nightAfterSunset = 0.0;    // hours
  double nightPart = 0.0;           // fraction of the step
  double daylightPart = 1.0;        // fraction of the step
  int nightFlag = 0;                // 1 when (almost) the whole step is night
};
// The step ends at hour + shiftHours and lasts intervalMinutes (at most a day).
DaylightPart ComputeDaylightPart(const SunTimes& sun, int64_t hour, double intervalMinutes, double shiftHours);
