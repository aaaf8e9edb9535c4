// The arithmetic of land-use parameters over the year, free of I/O and of the row:
// altitude-corrected fix days, the search of the fix-point interval that holds a day, the
// linear value between two fix points, the per-cell fix-day path of dynamic phenology and
// the monthly values of old-format rows. Lists are 0-based arrays whose entry 0 is the
// wrap entry (the last fix point of the previous year).
#pragma once

#include <cstdint>

namespace landuse_days {

// Day of year of a date with the given month lengths (index 1..12); monthLength[2] is set
// to February's length of the year first. A month above 12 counts as December, a month
// of 1 or less gives the day itself. No range check.
int DayOfYear(int day, int month, int year, int monthLength[13]);

// The parameter mask of a text of '0' and '1': character i (0..7) equal to '1' sets bit
// 0x80 >> i; later characters are ignored.
int ParameterMask(const char* text, int length);

// corrected[k] = trunc((altitude - 400) * gradient[k]) + fixDays[k] for k = 1..n; with a
// dynamic fix index s in 1..n-1, corrected[s] = startDay and corrected[s+1] = startDay +
// fixDays[s+1]; corrected[0] = fixDays[n] - 366. Returns 0, or the first k in 1..n whose
// corrected day lies outside -1..366 (the list is then filled up to k).
// A start late in the year carries the fix day after it past the end of the start's year
// (yearLength days long): that day and every later one lie in the next year, counted on
// from the start's year (the later ones plus yearLength), and carried is set to yearLength
// (else 0): a day of the next year before the start is the day plus carried.
int CorrectFixDays(const int* fixDays, const double* gradient, int n, double altitude, int dynamicIndex,
                   int startDay, int* corrected, int yearLength = 366, int* carried = nullptr);

// The altitude the fix days of a cell are corrected for: a cell of the elevation model
// without a value (at or below its no-data value) takes 400 m, where no gradient moves a day.
double FixDayAltitude(double elevation, double nodata);

// The number of days of a year (366 in a leap year); 365 for year 0, a year not known.
int YearLength(int year);

// The first index k in 1..n with days[k] < 0 or days[k] >= day; n + 1 when there is none.
int FindInterval(const int* days, int n, int day);

// Value at the day from fix points (corrected days, values [0..n]): a day after the last
// fix point wraps to the interval (days[0], days[1]]; with holdIndex s > 0 the value stays
// at values[s-1] in the interval that ends at s. seasonShift is added to the day where the
// days count on into the next year (see CorrectFixDays).
double ValueFromFixPoints(const int* days, const double* values, int n, int day, int holdIndex,
                          int seasonShift = 0);

// The interval index e (1..n) of a day in a cell's own fix days L[0..n] (no wrap).
int FindCellInterval(const double* cellDays, int n, int day);
// Value at the day from a cell's fix days; with thresholds (may be null) above 0 at the
// interval's end, the forcing-unit sum replaces the day as the interpolation variable. An
// interval whose end is not set yet (0 or below: a start to come) holds its first value.
// After the last fix day (a leaf fall moves it forward) the value runs on the line to the
// first fix point of the next year, as a row's fix points wrap; between two fix days it
// never leaves their values. seasonShift as for ValueFromFixPoints (see CellSeasonShift).
double ValueFromCellDays(const double* cellDays, const double* values, int n, int day, const double* thresholds,
                         double forcingSum, int seasonShift = 0);
// A cell's own fix days after a start late in the year count on past the end of the start's
// year: the start is the first entry equal to startDay and the entry after it lies beyond
// previousYearLength, or a later entry beyond 366 (a leaf fall in the start's year moved the
// entry after the start back into that year). On a day before the start (the next year)
// the days of the list are then the day plus previousYearLength: that is returned, else 0.
int CellSeasonShift(const double* cellDays, int n, int startDay, int day, int previousYearLength);

// Monthly value of a list [0..13] (1..12 January to December, 0 December, 13 January) at
// day d of month m (1..12), between mid-month values at position 15 of each month.
// monthLength as in DayOfYear. Returns false for a month outside 1..12.
bool MonthlyValue(const double* values, const int monthLength[13], int day, int month, double& result);
// Turns a day of year into day-in-month and month with the month lengths (day above 365
// reduced modulo 365, a day-in-month of 0 becomes 1). False when it does not fit.
bool SplitDayOfYear(int dayOfYear, const int monthLength[13], int& day, int& month);

// Vegetation-period marker from fix points (after the wrap of FindInterval): the day when
// the interval index lies in the period and the day is the fix day, else -1.
// The day of year is returned; seasonShift as for the values.
double PeriodDayFromFixPoints(const int* days, int n, int day, int periodStart, int periodStop, int seasonShift = 0);
double StopDayFromFixPoints(const int* days, int n, int day, int periodStop, int seasonShift = 0);
double PeriodDayFromCellDays(const double* cellDays, int n, int day, int periodStart, int periodStop,
                             int seasonShift = 0);
double StopDayFromCellDays(const double* cellDays, int n, int day, int periodStop, int seasonShift = 0);

}  // namespace landuse_days
