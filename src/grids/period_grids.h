// Names and output times of the period statistics grids (modelobject::WriteGrids).
#pragma once

#include <cstdint>
#include <string>

#include "framework/model_date.h"

// The directory part (up to and with the last "/") and the stem of a source name: the base
// name (behind the last "/") with "." appended when it has none behind its first
// character, cut before its first ".". A base name that begins with "." has an empty stem.
struct PeriodNameParts {
  std::string directory;
  std::string stem;
};
PeriodNameParts SplitPeriodName(const std::string& source);

// The name of period grid T for tens digit 1..8 at the given date; empty for other digits.
std::string PeriodSumName(const std::string& source, int tensDigit, const ModelDate& date);
// ".min", ".max" and the vegetation-period names.
std::string MinimumName(const std::string& source);
std::string MaximumName(const std::string& source);
std::string VegetationPeriodName(const std::string& source, int thousandsDigit, int64_t year);
// The dated name of the grid itself: stem_YYYYMMDD.HHMM, with "_NNN" for a repeated date;
// stem_timeseries for netCDF output.
std::string DatedGridName(const std::string& source, const ModelDate& date, int64_t repeatCount, bool netcdf);

// The layer number of the vegetation grids taken from a file name ("..._Layer_2.stat" -> "2").
std::string VegetationLayerOf(const std::string& fileName);

// Output times of a step: the days it ends (DayEndsOfStep: the step that holds a day's end,
// whether it ends at midnight or passes it, by the run's step in minutes) and the months,
// years and run that end with them. `day` is the last day that ends, or else the step's
// stamp as the calendar takes it (CalendarStamp); monthEnd and yearEnd are the last day of
// the month and of the year that end.
struct PeriodClock {
  ModelDate day;
  ModelDate monthEnd;
  ModelDate yearEnd;
  bool endOfDay = false;
  bool endOfMonth = false;
  bool endOfYear = false;
  bool endOfRun = false;
};
PeriodClock PeriodClockAt(const ModelDate& date, double stampToStepEndHours, int64_t stepMinutes, int64_t endDateKey);

// The names above as patterns of the files of the run (framework/run_files.h): the date
// digits behind the stem stand for any digit, so that one pattern covers every date.
std::string DatedGridPattern(const std::string& source, bool repeated);
std::string PeriodSumPattern(const std::string& source, int tensDigit);
std::string VegetationPeriodPattern(const std::string& source, int thousandsDigit);
