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

// --- the end of a day ----------------------------------------------------------------
// Days since 1970-01-01 of a date of the Gregorian calendar (a day past its month's end
// counts on into the next month), and the date of such a day number.
inline int64_t DayNumber(int64_t year, int64_t month, int64_t day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}
// The day at its end: hour 24, minute 0.
inline ModelDate DayOfNumber(int64_t number) {
  const int64_t z = number + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t m = (5 * dayOfYear + 2) / 153;
  ModelDate d;
  d.day = dayOfYear - (153 * m + 2) / 5 + 1;
  d.month = m < 10 ? m + 3 : m - 9;
  d.year = yearOfEra + era * 400 + (d.month <= 2 ? 1 : 0);
  d.hour = 24;
  d.minute = 0;
  return d;
}

// Where a step lies: the day number of its stamp's day, and the days (counted from it) in
// which the step's beginning and its end lie (a moment at midnight lies in the day that
// midnight begins). The step stamped `stamp` ends stampToStepEndHours after its stamp
// (min_to_int_end / 60) and began stepMinutes before its end; a step of unknown length (0)
// is taken as a minute long.
struct StepDays {
  bool dated = false;  // the stamp is a date of the calendar
  int64_t stampDay = 0, beginDay = 0, endDay = 0;
};
inline StepDays DaysOfStep(const ModelDate& stamp, double stampToStepEndHours, int64_t stepMinutes) {
  StepDays s;
  if (stamp.IsMissing() || stamp.month < 1 || stamp.month > 12 || stamp.day < 1) return s;
  const double offset = 60.0 * stampToStepEndHours;
  const int64_t offsetMinutes = std::isfinite(offset) && std::fabs(offset) < 1e12 ? std::llround(offset) : 0;
  const int64_t minute = stamp.minute == kMissingDateField ? 0 : stamp.minute;
  const int64_t end = kKeyHour * stamp.hour + minute + offsetMinutes;
  const int64_t begin = end - (stepMinutes > 0 ? stepMinutes : 1);
  auto dayOf = [](int64_t m) { return m >= 0 ? m / kKeyDay : -((-m + kKeyDay - 1) / kKeyDay); };
  s.dated = true;
  s.stampDay = DayNumber(stamp.year, stamp.month, stamp.day);
  s.beginDay = dayOf(begin);
  s.endDay = dayOf(end);
  return s;
}

// The days whose end a step holds: the ends (midnights) after its beginning up to and with
// its end. So every day of a run of steps one after the other ends with exactly one step,
// the first whose end reaches or passes the day's end, whether a step ends at midnight or
// the day ends between two steps, and however midnight is written (24 h or 0 h of the next
// day). A step of up to a day holds at most one day's end, a longer one may hold several:
// the first and the last of them are given. A stamp without a date of the calendar holds
// none.
struct DayEnds {
  int64_t count = 0;  // days that end with the step
  ModelDate first;    // the first and the last of them (hour 24), when count > 0
  ModelDate last;
};
inline DayEnds DayEndsOfStep(const ModelDate& stamp, double stampToStepEndHours, int64_t stepMinutes) {
  DayEnds e;
  const StepDays s = DaysOfStep(stamp, stampToStepEndHours, stepMinutes);
  if (!s.dated || s.endDay <= s.beginDay) return e;
  // The midnight that begins day k (counted from the stamp's) ends day k - 1.
  e.count = s.endDay - s.beginDay;
  e.first = DayOfNumber(s.stampDay + s.beginDay);
  e.last = DayOfNumber(s.stampDay + s.endDay - 1);
  return e;
}

// The last day that has ended when the step stamped `stamp` begins: the day whose once-a-day
// values a run that starts with this step takes over from the steps before it. A stamp
// without a date of the calendar is returned as it is.
inline ModelDate DayEndedBeforeStep(const ModelDate& stamp, double stampToStepEndHours, int64_t stepMinutes) {
  const StepDays s = DaysOfStep(stamp, stampToStepEndHours, stepMinutes);
  return s.dated ? DayOfNumber(s.stampDay + s.beginDay - 1) : stamp;
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
