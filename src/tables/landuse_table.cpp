// Construction of a land-use row and its date arithmetic.
#include "tables/landuse_table.h"

#include <algorithm>

#include "tables/landuse_day_values.h"

void ThrowDayOfYearError() { throw 150; }

LanduseTableEntry::LanduseTableEntry() = default;

LanduseTableEntry::LanduseTableEntry(int c) : code(c) {}

int LanduseTableEntry::DayOfYear(int day, int month, int year) const {
  int lengths[13];
  std::copy(monthLength, monthLength + 13, lengths);
  const int result = landuse_days::DayOfYear(day, month, year, lengths);
  if (result > 366) ThrowDayOfYearError();
  return result;
}

void LanduseTableEntry::SetPhenologyStartDate(int day, int month, int year) {
  if (method != 3 && method != 4 && method != 6) return;
  dynamicStartSet = true;
  const int d = DayOfYear(day, month, year);
  // The fix day after the dynamic start counts days from the start.
  const int next = dynamicFixIndex + 1;
  if (d > maxStartJDforDP1 && next >= 0 && next < static_cast<int>(JD.size()))
    dynamicStartShift = maxStartJDforDP1 - JD[next];
}

double LanduseTableEntry::Interpolate(double x0, double y0, double x1, double y1, double x) {
  if (x1 == x0) return y0;
  return ((x1 - x) * y0 + (x - x0) * y1) / (x1 - x0);
}
