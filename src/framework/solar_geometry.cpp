#include "framework/solar_geometry.h"

#include <algorithm>
#include <cmath>

#include "framework/teilmod.h"

const std::array<double, 14> kEquationOfTimeTable = {11.3, -3.2, -13.6, -12.6, -4.2, 2.8, 2.5,
                                                     -3.5, -6.3, -0.3,  10.0,  16.4, 11.3, -3.2};

namespace {

int ClampMonth(int month) { return std::min(12, std::max(1, month)); }

double Radians(double degrees) { return degrees * kSolarPi / 180.0; }

double ClampUnit(double x) { return std::min(1.0, std::max(-1.0, x)); }

}  // namespace

double SolarDeclinationDegrees(int64_t day, int month, const MonthLengths& months) {
  month = ClampMonth(month);
  double n = static_cast<double>(day);
  for (int m = 1; m < month; ++m) n += months[static_cast<size_t>(m - 1)];
  return -23.4 * std::cos((n + 10.0) / 58.09155423);
}

double EquationOfTimeHours(int64_t day, int month, const MonthLengths& months,
                           const std::array<double, 14>& table) {
  month = ClampMonth(month);
  const double length = months[static_cast<size_t>(month - 1)];
  const double d = static_cast<double>(day);
  const double w1 = (length - d + 1.0) / length;
  const double w2 = (d - 1.0) / length;
  return w1 * table[static_cast<size_t>(month)] / 60.0 + w2 * table[static_cast<size_t>(month + 1)] / 60.0;
}

double SunElevationDegrees(double declinationDeg, double eotHours, const SolarSite& site, double clockTime) {
  const double solarTime = clockTime - (site.meridian - site.longitude) / 15.0 + eotHours;
  const double omega = (12.0 - solarTime) * 15.0 * kSolarPi / 180.0;
  const double phi = Radians(site.latitude);
  const double delta = Radians(declinationDeg);
  const double cosZ = ClampUnit(std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::cos(omega));
  const double z = std::acos(cosZ) * 180.0 / kSolarPi;
  return cosZ >= 0.0 ? 90.0 - z : z - 90.0;
}

void SunAzimuthElevation(double declinationDeg, double eotHours, const SolarSite& site, double clockTime,
                         double& azimuth, double& elevation) {
  const double latitude = std::fmod(site.latitude, 360.0);
  const double longitude = std::fmod(site.longitude, 360.0);
  const double solarTime = std::fmod(clockTime - (site.meridian - longitude) / 15.0 + eotHours + 24.0, 24.0);
  const double omega = (12.0 - solarTime) / 12.0 * kSolarPi;
  const double phi = Radians(latitude);
  const double delta = Radians(declinationDeg);
  const double cosZ = ClampUnit(std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::cos(omega));
  const double sinZ = std::sqrt(1.0 - cosZ * cosZ);
  elevation = kSolarPi / 2.0 - std::acos(cosZ);
  const double cosA = (std::sin(delta) * std::cos(phi) - std::sin(phi) * std::cos(delta) * std::cos(omega)) / sinZ;
  if (cosA > -1.0 && cosA < 1.0) {  // false also for NaN (sun in the zenith or nadir)
    const double a = std::acos(cosA);
    azimuth = solarTime > 12.0 ? 6.28318530718 - a : a;
  } else {
    azimuth = 3.14159265359;
  }
}

double CosAngleBetween(double azimuth1, double angle1, double azimuth2, double angle2) {
  return std::cos(angle1) * std::cos(angle2) + std::sin(angle1) * std::sin(angle2) * std::cos(azimuth2 - azimuth1);
}

SunTimes SunriseSunsetHours(double declinationDeg, double eotHours, const SolarSite& site) {
  const double phi = Radians(std::fmod(site.latitude, 360.0));
  const double delta = Radians(declinationDeg);
  const double shift = (site.meridian - std::fmod(site.longitude, 360.0)) / 15.0 - eotHours;
  const double x = (std::sin(phi) / std::cos(phi)) * (std::sin(delta) / std::cos(delta));
  SunTimes t;
  if (x > 1.0) {  // the sun never sets
    t.sunrise = 0.0;
    t.sunset = 24.0;
    t.polar = 1;
    return t;
  }
  if (x < -1.0) {  // the sun never rises: a day of no length at solar noon
    t.sunrise = t.sunset = 12.0 + shift;
    t.polar = -1;
    return t;
  }
  if (x == 0.0) {
    t.sunrise = 6.0;
    t.sunset = 18.0;
  } else {
    t.sunrise = 12.0 / kSolarPi * std::acos(x);
    t.sunset = 24.0 - t.sunrise;
  }
  t.sunrise += shift;
  t.sunset += shift;
  return t;
}

// Night share r of a step: almost all night (above 0.95) counts as night.
static void SetNightShare(DaylightPart& p, double r) {
  if (r > 0.95) {
    p.daylightPart = 0.0;
    p.nightPart = 1.0;
    p.nightFlag = 1;
  } else {
    p.daylightPart = 1.0 - r;
    p.nightPart = r;
    p.nightFlag = p.daylightPart < 0.05 ? 1 : 0;
  }
}

DaylightPart ComputeDaylightPart(const SunTimes& sun, int64_t hour, double intervalMinutes, double shiftHours) {
  DaylightPart p;
  const double te = static_cast<double>(hour) + shiftHours;
  const double stepHours = intervalMinutes <= 1440.0 ? intervalMinutes / 60.0 : 24.0;
  const double ts = te - stepHours;
  const double intervalHours = intervalMinutes / 60.0;
  p.sunrise = std::fmod(sun.sunrise + 24.0, 24.0);
  p.sunset = std::fmod(sun.sunset + 24.0, 24.0);

  if (sun.polar > 0) {  // all day light
    p.sunrise = 0.0;
    p.sunset = 24.0;
    return p;
  }
  if (sun.polar < 0) {  // all night
    p.nightAfterSunset = intervalHours;
    p.nightPart = 1.0;
    p.daylightPart = 0.0;
    p.nightFlag = 1;
    return p;
  }

  const double sr = p.sunrise;
  const double ss = p.sunset;
  if (ts < 0.0 || te > 24.0) {
    // The step reaches into another day (a daily step stamped 07:00, say): its daylight is the
    // evening of one day and the morning of the next. The daylight is then told
    // from sunrise on, in clock time of the day.
    const double setAfterRise = ss > sr ? ss : ss + 24.0;
    double light = 0.0;
    for (int k = -2; k <= 1; ++k)
      light += std::max(0.0, std::min(te, setAfterRise + 24.0 * k) - std::max(ts, sr + 24.0 * k));
    light = std::min(light, stepHours);
    if (light > 0.0) {
      p.nightBeforeSunrise = std::fmod(sr - ts + 48.0, 24.0);
      p.nightAfterSunset = std::max(0.0, stepHours - light - p.nightBeforeSunrise);
    } else {
      p.nightAfterSunset = intervalHours;
    }
    SetNightShare(p, 1.0 - light / stepHours);
    return p;
  }
  double a = 0.0;
  if (ts <= sr && sr < te) a = sr - ts;
  double b;
  if (ss > sr) {
    if (te < ss && te > sr)
      b = 0.0;
    else if (ss <= ts)
      b = intervalHours;
    else if (te > ss)
      b = te - ss;
    else
      b = intervalHours;  // the step ends at or before sunrise
  } else {
    if (ss > te)
      b = 0.0;
    else if (ss > ts)
      b = te - ss;
    else
      b = sr > te ? intervalHours : 0.0;
  }
  p.nightBeforeSunrise = a;
  p.nightAfterSunset = b;
  double r = (a + b) / stepHours;
  if (r > 1.0) r -= 1.0;
  SetNightShare(p, r);
  return p;
}

// ---------------------------------------------------------------------------------------
// The process-module base's solar operations: the functions above with the module's site,
// month table and step.

double teilmodellklasse::SolarDeclination(int64_t day, int month) const {
  return SolarDeclinationDegrees(day, month, daysPerMonth);
}

double teilmodellklasse::EquationOfTime(int64_t day, int month) const {
  return EquationOfTimeHours(day, month, daysPerMonth, equationOfTimeTable);
}

double teilmodellklasse::SunElevation(int64_t day, int month, double lat, double lon, double clockTime) const {
  const double eot = EquationOfTime(day, month);
  const double declination = SolarDeclination(day, month);
  return SunElevationDegrees(declination, eot, SolarSite{lat, lon, referenceMeridian}, clockTime);
}

void teilmodellklasse::SunPosition(int64_t day, int month, double& azimuth, double& elevation, double lat,
                                   double lon, double clockTime) const {
  const double eot = EquationOfTime(day, month);
  const double declination = SolarDeclination(day, month);
  SunAzimuthElevation(declination, eot, SolarSite{lat, lon, referenceMeridian}, clockTime, azimuth, elevation);
}

double teilmodellklasse::CosIncidenceAngle(double azimuth1, double angle1, double azimuth2, double angle2) const {
  return CosAngleBetween(azimuth1, angle1, azimuth2, angle2);
}

void teilmodellklasse::SunriseSunset(int64_t day, int month, double& sunriseOut, double& sunsetOut, double lat,
                                     double lon) const {
  const double eot = EquationOfTime(day, month);
  const double declination = SolarDeclination(day, month);
  SunTimes t = SunriseSunsetHours(declination, eot, SolarSite{lat, lon, referenceMeridian});
  sunriseOut = t.sunrise;
  sunsetOut = t.sunset;
}

int teilmodellklasse::DaylightFraction() {
  SunTimes t;
  SunriseSunset(calendarStamp.day, static_cast<int>(calendarStamp.month), t.sunrise, t.sunset, latitude, longitude);
  // A whole day of light or none is recognised from the span of the two clock times.
  const double span = t.sunset - t.sunrise;
  t.polar = span >= 24.0 ? 1 : (span <= 0.0 ? -1 : 0);
  DaylightPart p = ComputeDaylightPart(t, calendarStamp.hour, timeInterval, minToIntEndHours);
  sunrise = p.sunrise;
  sunset = p.sunset;
  nightBeforeSunrise = p.nightBeforeSunrise;
  nightAfterSunset = p.nightAfterSunset;
  nightPart = p.nightPart;
  daylightPart = p.daylightPart;
  nightFlag = p.nightFlag;
  return nightFlag;
}
