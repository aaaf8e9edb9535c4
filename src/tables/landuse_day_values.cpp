// Arithmetic of land-use parameters over the year (see landuse_day_values.h).
#include "tables/landuse_day_values.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/model_date.h"

namespace landuse_days {

namespace {

double Line(double x0, double y0, double x1, double y1, double x) {
  // Between two equal values the value holds exactly: the weighted sum would move it by
  // a rounding step from day to day, and every move of a root depth reshapes the root zone.
  if (x1 == x0 || y1 == y0) return y0;
  return y0 * (x1 - x) / (x1 - x0) + y1 * (x - x0) / (x1 - x0);
}

// Interval of a day among fix points, with the wrap after the last one: day becomes the
// position searched (the day plus seasonShift, or the day a year before).
int WrappedInterval(const int* days, int n, int& day, int seasonShift) {
  const int x = day + seasonShift;
  int e = FindInterval(days, n, x);
  if (e == n + 1) {
    day -= 366;
    e = 1;
  } else {
    day = x;
  }
  return e;
}

}  // namespace

int DayOfYear(int day, int month, int year, int monthLength[13]) {
  monthLength[2] = IsLeapYear(year) ? 29 : 28;
  long long sum = day;
  for (int m = 1; m < month && m <= 11; ++m) sum += monthLength[m];
  // Anything above a year is refused by the callers; keep the value inside int.
  return static_cast<int>(std::min<long long>(sum, 100000));
}

int ParameterMask(const char* text, int length) {
  int mask = 0;
  for (int i = 0; i < 8 && i < length; ++i)
    if (text[i] == '1') mask |= 0x80 >> i;
  return mask;
}

int CorrectFixDays(const int* fixDays, const double* gradient, int n, double altitude, int dynamicIndex,
                   int startDay, int* corrected, int yearLength, int* carried) {
  const bool dynamic = dynamicIndex >= 1 && dynamicIndex < n;
  // A start late in the year: the fix day after it and every later one lie in the next year.
  const int shift =
      dynamic && startDay > 0 && startDay + static_cast<double>(fixDays[dynamicIndex + 1]) > yearLength ? yearLength : 0;
  if (carried) *carried = shift;
  for (int k = 1; k <= n; ++k) {
    double day;
    if (dynamic && k == dynamicIndex)
      day = startDay;
    else if (dynamic && k == dynamicIndex + 1)
      day = static_cast<double>(startDay) + fixDays[k] - shift;
    else
      day = std::trunc((altitude - 400.0) * gradient[k]) + fixDays[k];
    // Also refuses NaN (an altitude that is not a number).
    if (!(day >= -1.0 && day <= 366.0)) {
      corrected[k] = std::isnan(day) ? std::numeric_limits<int>::min()
                                     : static_cast<int>(std::max(-1e9, std::min(day, 1e9)));
      return k;
    }
    corrected[k] = static_cast<int>(day) + (dynamic && k > dynamicIndex ? shift : 0);
  }
  corrected[0] = fixDays[n] - 366;
  return 0;
}

double FixDayAltitude(double elevation, double nodata) { return elevation > nodata ? elevation : 400.0; }

int YearLength(int year) { return year > 0 && IsLeapYear(year) ? 366 : 365; }

int FindInterval(const int* days, int n, int day) {
  for (int k = 1; k <= n; ++k)
    if (days[k] < 0 || days[k] >= day) return k;
  return n + 1;
}

double ValueFromFixPoints(const int* days, const double* values, int n, int day, int holdIndex, int seasonShift) {
  int x = day;
  const int e = WrappedInterval(days, n, x, seasonShift);
  if (holdIndex > 0 && e == holdIndex) return values[e - 1];
  return Line(days[e - 1], values[e - 1], days[e], values[e], x);
}

int FindCellInterval(const double* cellDays, int n, int day) {
  if (day < cellDays[1]) return 1;
  int e = 1;
  while (e < n) {
    if (cellDays[e] <= 0) break;
    ++e;
    if (day < cellDays[e]) break;
  }
  return e;
}

double ValueFromCellDays(const double* cellDays, const double* values, int n, int day, const double* thresholds,
                         double forcingSum, int seasonShift) {
  day += seasonShift;
  const int e = FindCellInterval(cellDays, n, day);
  if (thresholds && thresholds[e] > 0.0)
    return Line(cellDays[0], values[e - 1], thresholds[e], values[e], forcingSum);
  // A fix day the phenology has not set yet (a start to come) ends no interval: the value
  // stays at the one before it, as between the fix points of a dynamic row's dormancy.
  if (!(cellDays[e] > 0.0)) return values[e - 1];
  // After the last fix day (moved forward by a leaf fall) the line runs on to the first fix
  // day of the next year, as the row's own line wraps; the days of a season carried into
  // the next year count on past the end of the start's year.
  if (e == n && day > cellDays[n]) {
    const double next = cellDays[1] + 366.0 + seasonShift;
    return next > cellDays[n] ? Line(cellDays[n], values[n], next, values[1], std::min<double>(day, next)) : values[n];
  }
  // Between two fix days the value lies between their values, whatever the list holds.
  if (e >= 2 && cellDays[e - 1] > 0.0 && cellDays[e - 1] <= cellDays[e])
    return Line(cellDays[e - 1], values[e - 1], cellDays[e], values[e],
                std::max<double>(day, cellDays[e - 1]));
  return Line(cellDays[e - 1], values[e - 1], cellDays[e], values[e], day);
}

int CellSeasonShift(const double* cellDays, int n, int startDay, int day, int previousYearLength) {
  if (startDay <= 0 || day >= startDay) return 0;
  for (int e = 1; e < n; ++e) {
    if (cellDays[e] != startDay) continue;
    // The fix day after the start lies past the end of its year, or a later one does (the
    // leaf fall moved the one after the start back into the start's year; the days after
    // it, counted on from that year, lie beyond any day of a year).
    if (cellDays[e + 1] > previousYearLength) return previousYearLength;
    for (int k = e + 2; k <= n; ++k)
      if (cellDays[k] > 366.0) return previousYearLength;
    return 0;
  }
  return 0;
}

bool MonthlyValue(const double* values, const int monthLength[13], int day, int month, double& result) {
  if (month < 1 || month > 12) return false;
  const double upper = monthLength[month] + 15;
  if (day >= 15)
    result = Line(15.0, values[month], upper, values[month + 1], day);
  else
    result = Line(15.0, values[month - 1], upper, values[month], day + monthLength[month - 1] - 1);
  return true;
}

bool SplitDayOfYear(int dayOfYear, const int monthLength[13], int& day, int& month) {
  if (dayOfYear > 365) dayOfYear %= 365;
  day = dayOfYear;
  month = 1;
  while (month <= 12 && day > monthLength[month]) day -= monthLength[month++];
  if (day == 0) day = 1;
  return day >= 1 && month <= 12;
}

namespace {

bool InPeriod(int index, int periodStart, int periodStop) {
  return (periodStart <= index && index < periodStop) || (index >= periodStop && periodStop < periodStart);
}

}  // namespace

double PeriodDayFromFixPoints(const int* days, int n, int day, int periodStart, int periodStop, int seasonShift) {
  if (periodStart == 0) return 0.0;
  int x = day;
  const int e = WrappedInterval(days, n, x, seasonShift);
  return InPeriod(e, periodStart, periodStop) && days[e] > 0 && days[e] <= x ? day : -1.0;
}

double StopDayFromFixPoints(const int* days, int n, int day, int periodStop, int seasonShift) {
  if (periodStop == 0) return 0.0;
  int x = day;
  const int e = WrappedInterval(days, n, x, seasonShift);
  return e == periodStop && days[e] == x ? day : -1.0;
}

double PeriodDayFromCellDays(const double* cellDays, int n, int day, int periodStart, int periodStop,
                             int seasonShift) {
  if (periodStart == 0) return 0.0;
  const int x = day + seasonShift;
  const int lower = FindCellInterval(cellDays, n, x) - 1;
  return InPeriod(lower, periodStart, periodStop) && x >= cellDays[lower] ? day : -1.0;
}

double StopDayFromCellDays(const double* cellDays, int n, int day, int periodStop, int seasonShift) {
  if (periodStop == 0) return 0.0;
  const int x = day + seasonShift;
  if (x < cellDays[1]) return -1.0;
  const int lower = FindCellInterval(cellDays, n, x) - 1;
  return lower == periodStop && cellDays[lower] == x ? day : -1.0;
}

}  // namespace landuse_days
