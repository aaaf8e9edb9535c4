// Parameter values of a land-use row at a day and a cell: fix points shifted with the
// cell's altitude (and, for dynamic phenology, with the cell's start of the vegetation
// period), a cell's own fix days, or the monthly resistances of old-format rows.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/logstream.h"
#include "framework/model_date.h"
#include "tables/landuse_day_values.h"
#include "tables/landuse_table.h"

namespace {

bool IsDynamic(int method) { return method == 3 || method == 4 || method == 6; }

}  // namespace

int LanduseTableEntry::CellStartDay(int layer, int i, int j) const {
  if (!IsDynamic(method) || !startDayGrids || !startDayGrids[layer]) return -1;
  const double v = startDayGrids[layer][i][j];
  if (!(v > -1e6 && v < 1e6)) return -1000000;  // refused by the range check of the fix days
  return static_cast<int>(v);
}

const double* LanduseTableEntry::CellFixDays(int layer, int i, int j) const {
  if ((method != 5 && method != 6) || !perCellFixDays || !perCellFixDays[layer] || !perCellFixDays[layer][i])
    return nullptr;
  return perCellFixDays[layer][i][j];
}

const double* LanduseTableEntry::CellFixDays(int layer, int i, int j, int dayOfYear, int& seasonShift,
                                             int year) const {
  seasonShift = 0;
  const double* days = CellFixDays(layer, i, j);
  const int count = std::min(n, perCellFixDayCount);
  if (days && count >= 1) {
    const int start = CellStartDay(layer, i, j);
    seasonShift =
        landuse_days::CellSeasonShift(days, count, start, dayOfYear, StartYearLength(dayOfYear, start, year));
  }
  return days;
}

void LanduseTableEntry::SetCalendarYear(int year) {
  calendarYear = year;
  calendarYearLength = landuse_days::YearLength(year);
  previousYearLength = landuse_days::YearLength(year > 0 ? year - 1 : 0);
}

int LanduseTableEntry::StartYearLength(int dayOfYear, int startDay, int year) const {
  const bool yearBefore = startDay > dayOfYear;
  if (year <= 0 || year == calendarYear) return yearBefore ? previousYearLength : calendarYearLength;
  return landuse_days::YearLength(yearBefore ? year - 1 : year);
}

namespace {

// A list of the calling thread for fix days corrected for a cell, so that cell loops may
// share the rows.
int* ThreadFixDayList(int n) {
  thread_local std::vector<int> list;
  const size_t size = static_cast<size_t>(n) + 1;
  if (list.size() < size) list.resize(size);
  return list.data();
}

}  // namespace

std::string LanduseTableEntry::FixDayOutOfYear(double altitude, int startDay) const {
  if (!HasFixPoints()) return std::string();
  const int dynamic = IsDynamic(method) ? dynamicFixIndex : -1;
  int* corrected = ThreadFixDayList(n);
  const int bad =
      landuse_days::CorrectFixDays(JD.data(), altitudeGradient.data(), n, altitude, dynamic, startDay, corrected);
  if (bad == 0) return std::string();
  std::ostringstream s;
  s << "\n---ERROR--\naltitude correction resulted in a Julian day of " << corrected[bad] << " for fix point " << bad
    << " (JD should be between 1 and 366): [landuse_table] class " << code << " (" << name << "), ";
  if (dynamic >= 1 && (bad == dynamic || bad == dynamic + 1)) {
    s << "the start day " << startDay << " of the dynamic phenology";
    if (bad == dynamic + 1) s << " and " << JD[bad] << " days after it (JulDays)";
  } else {
    const bool old = method == 1;  // the positional line: its fix days and fixed gradients
    s << (old ? "fix day " : "JulDays ") << JD[bad] << " and " << (old ? "the altitude gradient " : "AltDep ")
      << altitudeGradient[bad] << " days per m at an altitude of " << altitude << " m";
  }
  return s.str();
}

const int* LanduseTableEntry::CorrectedDays(LogStream* log, int startDay, double altitude, int dayOfYear,
                                            int& seasonShift, int year) const {
  int* corrected = ThreadFixDayList(n);
  int carried = 0;
  const int bad = landuse_days::CorrectFixDays(JD.data(), altitudeGradient.data(), n, altitude,
                                               IsDynamic(method) ? dynamicFixIndex : -1, startDay, corrected,
                                               StartYearLength(dayOfYear, startDay, year), &carried);
  if (bad > 0) {
    if (log) *log << "FATAL: " << FixDayOutOfYear(altitude, startDay) << "[end-entry]";
    throw 152;
  }
  // A day before the start lies in the year after it.
  seasonShift = startDay > dayOfYear ? carried : 0;
  return corrected;
}

const int* LanduseTableEntry::CorrectedDays(LogStream* log, int startDay, double altitude) const {
  int seasonShift = 0;
  return CorrectedDays(log, startDay, altitude, 366, seasonShift);
}

void LanduseTableEntry::CorrectFixPointsForAltitude(LogStream* log, int startDay, double altitude) const {
  if (!HasFixPoints()) return;
  const int* corrected = CorrectedDays(log, startDay, altitude);
  JDcorr.assign(corrected, corrected + n + 1);
}

int LanduseTableEntry::FindFixPointInterval(LogStream* log, int dayOfYear, int startDay, double altitude) const {
  if (!HasFixPoints()) return n + 1;
  CorrectFixPointsForAltitude(log, startDay, altitude);
  const int e = landuse_days::FindInterval(JDcorr.data(), n, dayOfYear);
  if (e < 1 || e > n + 1) {
    if (log)
      *log << "FATAL: Julian-day-fixpoint at " << e << " is outside of the allowed range of " << 1 << " to "
           << n + 1 << "[end-entry]";
    throw 151;
  }
  return e;
}

double LanduseTableEntry::ValueAtDay(LogStream* log, const std::vector<double>& values, int dayOfYear, int layer,
                                     int i, int j, double altitude, int year) const {
  if (!HasFixPoints() || values.size() < static_cast<size_t>(n) + 1) return 0.0;
  int shift = 0;
  if (const double* cellDays = CellFixDays(layer, i, j, dayOfYear, shift, year)) {
    const int count = std::min(n, perCellFixDayCount);
    if (count >= 1) {
      const double* thresholds = nullptr;
      double forcingSum = 0.0;
      if (method == 5 && forcingSumGrids && forcingSumGrids[layer] && forcingThresholds.size() > static_cast<size_t>(n)) {
        thresholds = forcingThresholds.data();
        forcingSum = forcingSumGrids[layer][i][j];
      }
      return landuse_days::ValueFromCellDays(cellDays, values.data(), count, dayOfYear, thresholds, forcingSum, shift);
    }
  }
  const int* corrected = CorrectedDays(log, CellStartDay(layer, i, j), altitude, dayOfYear, shift, year);
  return landuse_days::ValueFromFixPoints(corrected, values.data(), n, dayOfYear,
                                          IsDynamic(method) ? dynamicFixIndex : -1, shift);
}

double LanduseTableEntry::MonthlyValue(const std::vector<double>& values, const int lengths[13], int day,
                                       int month) const {
  if (month < 1 || month > 12) throw 154;
  if (values.size() < 14) return 0.0;
  double result = 0.0;
  if (!landuse_days::MonthlyValue(values.data(), lengths, day, month, result)) throw 155;
  return result;
}

double LanduseTableEntry::MonthlyValueAtDay(const std::vector<double>& values, int dayOfYear) const {
  // A day of year carries no year: the months of a common year.
  int day = 0, month = 0;
  if (!landuse_days::SplitDayOfYear(dayOfYear, monthLength, day, month)) throw 153;
  return MonthlyValue(values, monthLength, day, month);
}

double LanduseTableEntry::ResistanceAtDay(LogStream* log, const std::vector<double>& values, int dayOfYear,
                                          int layer, int i, int j, double altitude) const {
  if (method == 1) return MonthlyValueAtDay(values, dayOfYear);
  return ValueAtDay(log, values, dayOfYear, layer, i, j, altitude);
}

double LanduseTableEntry::ResistanceAtDate(LogStream* log, const std::vector<double>& values, int day, int month,
                                           int year, int layer, int i, int j, double altitude) const {
  if (method == 1) {
    // February of the date's own year, not of whatever date the row converted last.
    int lengths[13];
    std::copy(monthLength, monthLength + 13, lengths);
    lengths[2] = IsLeapYear(year) ? 29 : 28;
    return MonthlyValue(values, lengths, day, month);
  }
  return ValueAtDay(log, values, DayOfYear(day, month, year), layer, i, j, altitude);
}

// --- the three surface resistances ----------------------------------------------------

double LanduseTableEntry::GetSurfaceCanopyResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i, int j,
                                                          double altitude) const {
  return ResistanceAtDay(log, surfaceCanopyResistance, dayOfYear, layer, i, j, altitude);
}
double LanduseTableEntry::GetSurfaceCanopyResistance(LogStream* log, int day, int month, int year, int layer, int i,
                                                     int j, double altitude) const {
  return ResistanceAtDate(log, surfaceCanopyResistance, day, month, year, layer, i, j, altitude);
}
double LanduseTableEntry::GetSurfaceIntercepResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i, int j,
                                                            double altitude) const {
  return ResistanceAtDay(log, surfaceIntercepResistance, dayOfYear, layer, i, j, altitude);
}
double LanduseTableEntry::GetSurfaceIntercepResistance(LogStream* log, int day, int month, int year, int layer,
                                                       int i, int j, double altitude) const {
  return ResistanceAtDate(log, surfaceIntercepResistance, day, month, year, layer, i, j, altitude);
}
double LanduseTableEntry::GetSurfaceEvaporationResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i,
                                                               int j, double altitude) const {
  return ResistanceAtDay(log, surfaceEvaporationResistance, dayOfYear, layer, i, j, altitude);
}
double LanduseTableEntry::GetSurfaceEvaporationResistance(LogStream* log, int day, int month, int year, int layer,
                                                          int i, int j, double altitude) const {
  return ResistanceAtDate(log, surfaceEvaporationResistance, day, month, year, layer, i, j, altitude);
}

// --- fix-point parameters -----------------------------------------------------------------

#define LANDUSE_FIX_POINT_VALUE(Getter, list)                                                                   \
  double LanduseTableEntry::Getter##AtDay(LogStream* log, int dayOfYear, int layer, int i, int j,               \
                                          double altitude, int year) const {                                    \
    return ValueAtDay(log, list, dayOfYear, layer, i, j, altitude, year);                                       \
  }                                                                                                             \
  double LanduseTableEntry::Getter(LogStream* log, int day, int month, int year, int layer, int i, int j,       \
                                   double altitude) const {                                                     \
    return Getter##AtDay(log, DayOfYear(day, month, year), layer, i, j, altitude, year);                        \
  }

// GetRoughnessLengthAtDay, GetLeafAreaIndexAtDay, GetVegetationCoverageDegreeAtDay,
// GetAlbedoAtDay, GetStemDiameterAtDay, GetResidCovrgAtDay and their date forms.
LANDUSE_FIX_POINT_VALUE(GetRoughnessLength, roughnessLength)
LANDUSE_FIX_POINT_VALUE(GetLeafAreaIndex, leafAreaIndex)
LANDUSE_FIX_POINT_VALUE(GetVegetationCoverageDegree, vegetationCoverage)
LANDUSE_FIX_POINT_VALUE(GetAlbedo, albedo)
LANDUSE_FIX_POINT_VALUE(GetStemDiameter, stemDiameter)
LANDUSE_FIX_POINT_VALUE(GetResidCovrg, residueCoverage)
#undef LANDUSE_FIX_POINT_VALUE

double LanduseTableEntry::GetRootDepthAtDay(LogStream* log, int dayOfYear, int layer, int i, int j,
                                            double altitude) const {
  try {
    return ValueAtDay(log, rootDepth, dayOfYear, layer, i, j, altitude);
  } catch (int errorCode) {
    if (log)
      *log << "FATAL: Coordinates: i=" << i << ", j=" << j << "\nLayer=" << layer << "\nAltitude=" << altitude
           << "m\nJulday=" << dayOfYear << "\nLanduse Code=" << code << "\nTStart=" << dynamicStartShift
           << "[end-entry]";
    throw errorCode;
  }
}
double LanduseTableEntry::GetRootDepth(LogStream* log, int day, int month, int year, int layer, int i, int j,
                                       double altitude) const {
  return GetRootDepthAtDay(log, DayOfYear(day, month, year), layer, i, j, altitude);
}

// --- vegetation-period markers ------------------------------------------------------------

double LanduseTableEntry::GetVegetationPeriodDayAtDay(LogStream* log, int dayOfYear, int layer, int i, int j,
                                                      double altitude) const {
  if (StartVegetationPeriodForBalance == 0) return 0.0;
  if (!HasFixPoints()) return -1.0;
  int shift = 0;
  if (const double* cellDays = CellFixDays(layer, i, j, dayOfYear, shift)) {
    const int count = std::min(n, perCellFixDayCount);
    if (count >= 1)
      return landuse_days::PeriodDayFromCellDays(cellDays, count, dayOfYear, StartVegetationPeriodForBalance,
                                                 StopVegetationPeriodForBalance, shift);
  }
  const int* corrected = CorrectedDays(log, CellStartDay(layer, i, j), altitude, dayOfYear, shift);
  return landuse_days::PeriodDayFromFixPoints(corrected, n, dayOfYear, StartVegetationPeriodForBalance,
                                              StopVegetationPeriodForBalance, shift);
}
double LanduseTableEntry::GetVegetationPeriodDay(LogStream* log, int day, int month, int year, int layer, int i,
                                                 int j, double altitude) const {
  return GetVegetationPeriodDayAtDay(log, DayOfYear(day, month, year), layer, i, j, altitude);
}

double LanduseTableEntry::GetVegetationStopDayAtDay(LogStream* log, int dayOfYear, int layer, int i, int j,
                                                    double altitude) const {
  if (StopVegetationPeriodForBalance == 0) return 0.0;
  if (!HasFixPoints()) return -1.0;
  int shift = 0;
  if (const double* cellDays = CellFixDays(layer, i, j, dayOfYear, shift)) {
    const int count = std::min(n, perCellFixDayCount);
    if (count >= 1)
      return landuse_days::StopDayFromCellDays(cellDays, count, dayOfYear, StopVegetationPeriodForBalance, shift);
  }
  const int* corrected = CorrectedDays(log, CellStartDay(layer, i, j), altitude, dayOfYear, shift);
  return landuse_days::StopDayFromFixPoints(corrected, n, dayOfYear, StopVegetationPeriodForBalance, shift);
}
double LanduseTableEntry::GetVegetationStopDay(LogStream* log, int day, int month, int year, int layer, int i, int j,
                                               double altitude) const {
  return GetVegetationStopDayAtDay(log, DayOfYear(day, month, year), layer, i, j, altitude);
}

// --- n-factor: uncorrected fix days, no cell ------------------------------------------------

double LanduseTableEntry::GetNFactorAtDay(LogStream*, int dayOfYear) const {
  const size_t size = static_cast<size_t>(n) + 1;
  if (n < 1 || nFactor.size() < size || JD.size() < size) return -9999.9;
  return landuse_days::ValueFromFixPoints(JD.data(), nFactor.data(), n, dayOfYear, -1);
}
double LanduseTableEntry::GetNFactor(LogStream* log, int day, int month, int year) const {
  return GetNFactorAtDay(log, DayOfYear(day, month, year));
}
