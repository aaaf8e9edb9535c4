// The date of a model step and the date key used to compare dates.
#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>

// Weights of the date key: months count as 31 days, years as 12 such months.
constexpr int64_t kKeyYear = 535680;
constexpr int64_t kKeyMonth = 44640;
constexpr int64_t kKeyDay = 1440;
constexpr int64_t kKeyHour = 60;
constexpr int64_t kMissingDateField = -9999;

inline int64_t DateKey(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  return year * kKeyYear + month * kKeyMonth + day * kKeyDay + hour * kKeyHour + minute;
}

// Step date, handed by value to every per-step operation. -9999 marks a missing field.
struct ModelDate {
  int64_t minute = kMissingDateField;
  int64_t hour = kMissingDateField;
  int64_t day = kMissingDateField;
  int64_t month = kMissingDateField;
  int64_t year = kMissingDateField;

  int64_t Key() const { return DateKey(year, month, day, hour, minute); }
  bool IsMissing() const { return year == kMissingDateField; }
};

// Gregorian leap year rule.
inline bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days of a month (1..12) in a year; 0 for a month outside 1..12.
inline int DaysInMonth(int64_t year, int64_t month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A step's stamp as the run's calendar takes it. A step that ends at 0 h of its stamp's day
// (stamp "1990 3 2 0" with no minutes from the stamp to the step's end) is the last step of
// the day before: it is taken as "1990 3 1 24". Every other stamp is returned as it is.
// Whatever depends on the day a step lies in (the end of a day, month or year, the day of
// the year, the sun, monthly values) is taken from this stamp, so that both ways of writing
// midnight make the same run. stampToStepEndHours: min_to_int_end / 60.
inline ModelDate CalendarStamp(const ModelDate& stamp, double stampToStepEndHours) {
  const double endMinute = static_cast<double>(stamp.minute) + 60.0 * stampToStepEndHours;
  if (stamp.hour != 0 || std::floor(endMinute) != 0.0) return stamp;
  if (stamp.month < 1 || stamp.month > 12 || stamp.day < 1) return stamp;
  ModelDate d = stamp;
  d.hour = 24;
  if (--d.day < 1) {
    if (--d.month < 1) {
      d.month = 12;
      --d.year;
    }
    d.day = DaysInMonth(d.year, d.month);
  }
  return d;
}

// Whether a step ends its day: the end of the step of a calendar stamp (CalendarStamp) falls
// on 24 h of the stamp's day.
inline bool StepEndsDay(const ModelDate& calendarStamp, double stampToStepEndHours) {
  const double endMinute = static_cast<double>(calendarStamp.minute) + 60.0 * stampToStepEndHours;
  return 60 * calendarStamp.hour + static_cast<int64_t>(std::floor(endMinute)) == kKeyDay;
}

// Minutes since 1970-01-01 00:00 of a date of the Gregorian calendar taken as UTC (hour 24
// is 0 h of the next day); the value of a netCDF time axis.
inline double MinutesSinceEpoch(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return static_cast<double>(timegm(&t)) / 60.0;
}

// The date of a number of minutes since 1970-01-01 00:00 UTC (hour 0..23).
inline ModelDate DateOfMinutesSinceEpoch(int64_t minutes) {
  const time_t at = static_cast<time_t>(minutes) * 60;
  std::tm t{};
  gmtime_r(&at, &t);
  ModelDate d;
  d.year = t.tm_year + 1900;
  d.month = t.tm_mon + 1;
  d.day = t.tm_mday;
  d.hour = t.tm_hour;
  d.minute = t.tm_min;
  return d;
}
