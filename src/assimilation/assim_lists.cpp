#include "assimilation/assim_lists.h"

#include <cctype>
#include <ctime>

bool ReadRuleText(TextCursor& file, std::string& rule) {
  if (!file.ReadLine(rule)) return false;
  int depth = 1;
  std::string line;
  while (depth > 0) {
    if (!file.ReadLine(line)) return false;
    const bool opens = line.find('{') != std::string::npos;
    const bool closes = line.find('}') != std::string::npos;
    depth += (opens ? 1 : 0) - (closes ? 1 : 0);
    rule += '\n';
    rule += line;
  }
  return true;
}

int64_t CalendarSeconds(int64_t year, int64_t month, int64_t day, int64_t hour) {
  // Keep every field inside int before handing it to the calendar.
  const int64_t limit = 1000000;
  if (year < -limit || year > limit || month < -limit || month > limit || day < -limit || day > limit ||
      hour < -limit || hour > limit)
    return -1;
  std::tm t{};
  t.tm_year = static_cast<int>(year - 1900);
  t.tm_mon = static_cast<int>(month - 1);
  t.tm_mday = static_cast<int>(day);
  t.tm_hour = static_cast<int>(hour);
  return static_cast<int64_t>(timegm(&t));
}

bool SkipListHeader(TextCursor& file) {
  file.RestOfLine();
  std::string word;
  for (int entry = 0; entry < 4; ++entry)
    for (int w = 0; w < 5; ++w)
      if (!file.ReadWord(word)) return false;
  return true;
}

bool ReadRecordDate(TextCursor& file, int& year, int& month, int& day, int& hour) {
  return file.ReadInt(year) && file.ReadInt(month) && file.ReadInt(day) && file.ReadInt(hour);
}

namespace {

// A decimal integer in columns first..last (1-based), blanks around it allowed.
bool ColumnInt(const std::string& line, size_t first, size_t last, int& out) {
  std::string field = line.substr(first - 1, last - first + 1);
  long value = 0;
  if (!ParseLong(field, value)) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

FixedLineResult ParseFixedLevelLine(const std::string& line, int& year, int& month, int& day, int& hour,
                                    double& level) {
  if (line.size() < 35) return FixedLineResult::TooShort;
  if (!ColumnInt(line, 23, 26, year) || !ColumnInt(line, 28, 29, month) || !ColumnInt(line, 31, 32, day) ||
      !ColumnInt(line, 34, 35, hour))
    return FixedLineResult::BadDate;
  if (line.size() < 40) return FixedLineResult::BadLevel;
  TextCursor levelText(line.substr(39, 10));
  if (!levelText.ReadDouble(level)) return FixedLineResult::BadLevel;
  return FixedLineResult::Ok;
}
