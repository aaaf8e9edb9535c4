// Dates as text. DateText writes a date's year, month, day, hour and minute in a style; every
// message, dated file name and statistics row writes its dates through it. A style says the
// order of the fields, how each is filled, what stands between them and the last one written;
// the named styles below are those the program writes, each with its look.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "framework/model_date.h"

// The fields of a date from the year down; a style writes them up to its last one.
enum class DateField { kYear, kMonth, kDay, kHour, kMinute };

// How a field is written: at least `places` characters, filled with `fill` in front ("04",
// " 4"); places 0 writes the number as it is.
struct DatePad {
  int places;
  char fill;
};
constexpr DatePad kAsIs{0, '0'};
constexpr DatePad kTwoZeros{2, '0'};
constexpr DatePad kTwoBlanks{2, ' '};
constexpr DatePad kThreeZeros{3, '0'};
constexpr DatePad kFourZeros{4, '0'};

struct DateStyle {
  bool dayFirst;              // day, month, year; else year, month, day
  DatePad year;
  DatePad dayAndMonth;
  DatePad hour;
  DatePad minute;
  const char* dateSeparator;  // between the year, the month and the day
  const char* beforeTime;     // between the day and the hour
  const char* timeSeparator;  // between the hour and the minute
  DateField last;             // the last field written

  // The same style up to another field.
  constexpr DateStyle Until(DateField field) const {
    DateStyle s = *this;
    s.last = field;
    return s;
  }
  // The same style with another text between the day and the hour.
  constexpr DateStyle TimeAfter(const char* separator) const {
    DateStyle s = *this;
    s.beforeTime = separator;
    return s;
  }
};

// "04.01.1985 15:00": the run's messages about its steps, its state and its statistics.
constexpr DateStyle kMessageDate{true, kAsIs, kTwoZeros, kTwoZeros, kTwoZeros, ".", " ", ":", DateField::kMinute};
// "4.1.1985 15:00": the messages of data assimilation.
constexpr DateStyle kShortDate{true, kAsIs, kAsIs, kTwoZeros, kTwoZeros, ".", " ", ":", DateField::kMinute};
// "4.1.1985 15:0": every field as its number (the dates of records, progress lines).
constexpr DateStyle kRecordDate{true, kAsIs, kAsIs, kAsIs, kAsIs, ".", " ", ":", DateField::kMinute};
// " 4. 1.1985 15: 0": the start a station file is searched for.
constexpr DateStyle kAlignedDate{true, kAsIs, kTwoBlanks, kTwoBlanks, kTwoBlanks, ".", " ", ":", DateField::kMinute};
// "1985.1.4, 15:0": the dates of the inflow and abstraction tables in their messages.
constexpr DateStyle kTableDate{false, kAsIs, kAsIs, kAsIs, kAsIs, ".", ", ", ":", DateField::kMinute};
// "1985-01-04 15:00".
constexpr DateStyle kIsoDate{false, kFourZeros, kTwoZeros, kTwoZeros, kTwoZeros, "-", " ", ":", DateField::kMinute};
// "19850104.1500": the date of a dated grid's file name.
constexpr DateStyle kFileDate{false, kFourZeros, kTwoZeros, kTwoZeros, kTwoZeros, "", ".", "", DateField::kMinute};
// "1985_01_04_15": the date of the end-of-period and exchanged grids' file names (until the hour).
constexpr DateStyle kUnderscoredDate{false, kFourZeros, kTwoZeros, kTwoZeros, kTwoZeros, "_", "_", "_",
                                     DateField::kHour};
// "1985\t 1\t 4\t15": the date columns of a statistics row (until the minute on sub-hourly runs).
constexpr DateStyle kColumnDate{false, kTwoBlanks, kTwoBlanks, kTwoBlanks, kTwoBlanks, "\t", "\t", "\t",
                                DateField::kHour};
// "1985\t1\t4\t15": the date columns of a point output's row.
constexpr DateStyle kPlainColumnDate{false, kAsIs, kAsIs, kAsIs, kAsIs, "\t", "\t", "\t", DateField::kHour};
// "1985 1 15 12": a date as the records of files write it (the list files of data
// assimilation; until the minute, the storage file's record).
constexpr DateStyle kListDate{false, kAsIs, kAsIs, kAsIs, kAsIs, " ", " ", " ", DateField::kHour};

std::string DateText(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, const DateStyle& style);
inline std::string DateText(const ModelDate& d, const DateStyle& style) {
  return DateText(d.year, d.month, d.day, d.hour, d.minute, style);
}
// A date kept as {year, month, day, hour, minute} (the rows of the statistics writers).
inline std::string DateText(const std::array<int64_t, 5>& d, const DateStyle& style) {
  return DateText(d[0], d[1], d[2], d[3], d[4], style);
}
