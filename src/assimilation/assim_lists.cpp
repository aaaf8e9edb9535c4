#include "assimilation/assim_lists.h"

#include <cctype>
#include <ctime>

#include "framework/model_date.h"

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

bool ReadRecordDate(TextCursor& file, bool levels, ListDate& date) {
  if (!file.ReadInt(date.year) || !file.ReadInt(date.month) || !file.ReadInt(date.day) || !file.ReadInt(date.hour))
    return false;
  date.minute = 0;
  date.minuteWord.clear();
  // A minute column, as station files may have one: the value then follows the minute.
  const size_t at = file.Pos();
  std::string word;
  double number = 0.0, level = 0.0;
  if (file.AtLineEnd() || !file.ReadWord(word) || !ParseDouble(word, number) || file.AtLineEnd()) {
    file.Seek(at);
    return true;
  }
  const std::string value = file.PeekWord();
  if (!(levels ? ParseDouble(value, level) : value[0] != '#')) {
    file.Seek(at);
    return true;
  }
  long minute = 0;
  if (ParseLong(word, minute) && minute >= 0 && minute <= 59)
    date.minute = static_cast<int>(minute);
  else
    date.minuteWord = word;
  return true;
}

void SkipRecordRemark(TextCursor& file) {
  const size_t nl = file.Text().find('\n', file.Pos());
  file.Seek(nl == std::string::npos ? file.Text().size() : nl);
}

bool IsCalendarDate(int year, int month, int day, int hour, std::string& field, std::string& expected) {
  if (month < 1 || month > 12) {
    field = "month " + std::to_string(month);
    expected = "1 to 12";
    return false;
  }
  const int days = DaysInMonth(year, month);
  if (day < 1 || day > days) {
    field = "day " + std::to_string(day);
    expected = "1 to " + std::to_string(days) + " in " + std::to_string(year) + "-" + std::to_string(month);
    return false;
  }
  if (hour < 0 || hour > 24) {
    field = "hour " + std::to_string(hour);
    expected = "0 to 24";
    return false;
  }
  return true;
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

namespace {

// Line numbers of a cursor moving forwards, counted from where it stood first.
class LineCounter {
 public:
  explicit LineCounter(const TextCursor& c) : line_(c.LineNumber()), pos_(c.Pos()) {}
  long At(const TextCursor& c) {
    const std::string& text = c.Text();
    for (; pos_ < c.Pos() && pos_ < text.size(); ++pos_)
      if (text[pos_] == '\n') ++line_;
    return line_;
  }

 private:
  long line_;
  size_t pos_;
};

}  // namespace

long ScanListRecords(TextCursor file, bool levels, std::vector<ListRecord>& records) {
  LineCounter lines(file);
  while (true) {
    file.SkipBlanks();
    if (file.AtEnd()) return 0;
    ListRecord r;
    r.line = lines.At(file);
    double level = 0.0;
    const bool read = ReadRecordDate(file, levels, r) && (levels ? file.ReadDouble(level) : file.ReadWord(r.gridFile));
    if (!read) return r.line;
    SkipRecordRemark(file);
    records.push_back(std::move(r));
  }
}

std::string FixedLineProblem(FixedLineResult result, long line) {
  const std::string at = " (line " + std::to_string(line);
  switch (result) {
    case FixedLineResult::TooShort: return at + " is shorter than its date columns 23 to 35)";
    case FixedLineResult::BadDate: return at + ": columns 23 to 35 hold no date)";
    case FixedLineResult::BadLevel: return at + ": columns 40 to 49 hold no water level)";
    default: return std::string();
  }
}

long ScanFixedLevelRecords(TextCursor file, std::vector<ListRecord>& records, FixedLineResult& problem) {
  LineCounter lines(file);
  std::string line;
  while (!file.AtEnd()) {
    ListRecord r;
    r.line = lines.At(file);
    file.ReadLine(line);
    double level = 0.0;
    problem = ParseFixedLevelLine(line, r.year, r.month, r.day, r.hour, level);
    if (problem != FixedLineResult::Ok) {
      bool blank = true;
      for (char c : line) blank = blank && std::isspace(static_cast<unsigned char>(c));
      if (blank) continue;
      return r.line;
    }
    records.push_back(std::move(r));
  }
  return 0;
}
