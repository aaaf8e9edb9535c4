// The schedule text of an irrigation rule turned into dated events.
#include <string>

#include "framework/text_helpers.h"
#include "init/irrigation_table.h"

namespace {

const std::string kStart = "starting from";

// Limits a month to 1..12 and then a day to 1..the month's length.
void LimitDate(long& month, long& day, const std::array<int, 12>& daysPerMonth) {
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  const long length = daysPerMonth[static_cast<size_t>(month - 1)];
  if (day > length) day = length;
  if (day < 1) day = 1;
}

// Moves the text behind the first occurrence of key into text; false when key is absent.
bool CutAfter(std::string& text, const std::string& key) {
  const size_t p = text.find(key);
  if (p == std::string::npos) return false;
  text.erase(0, p + key.size());
  return true;
}

bool ReadDate(const std::string& text, long& month, long& day) {
  TextCursor c(text);
  int m = 0, d = 0;
  if (!c.ReadInt(m) || !c.ReadInt(d)) return false;
  month = m;
  day = d;
  return true;
}

bool ReadAmount(const std::string& text, double& amount) {
  TextCursor c(text);
  return c.ReadDouble(amount);
}

bool ReadStep(const std::string& text, long& step) {
  TextCursor c(text);
  return c.ReadLong(step);
}

// Days from (month, day) forward to (toMonth, toDay), passing the new year when the end
// lies before the start in the calendar.
long DaysBetween(long month, long day, long toMonth, long toDay, const std::array<int, 12>& daysPerMonth) {
  long n = 0;
  while (month != toMonth || day > toDay) {
    n += daysPerMonth[static_cast<size_t>(month - 1)] - day + 1;
    day = 1;
    month = month % 12 + 1;
  }
  return n + toDay - day;
}

// Adds step days to a date, moving into the next month (after December comes January).
// Whole years of the calendar are passed at once, so any step ends in a few months.
void AdvanceDate(long& month, long& day, long step, const std::array<int, 12>& daysPerMonth) {
  long year = 0;
  for (int length : daysPerMonth) year += length;
  day += step % year;
  while (day > daysPerMonth[static_cast<size_t>(month - 1)]) {
    day -= daysPerMonth[static_cast<size_t>(month - 1)];
    month = month % 12 + 1;
  }
}

// One scheme (the text behind its "starting from", up to the next scheme).
ScheduleResult ParseScheme(std::string text, const std::array<int, 12>& daysPerMonth, IrrigationTableEntry& row) {
  const bool hasTo = text.find("to") != std::string::npos;
  const bool hasTimes = text.find("times") != std::string::npos;
  if (!hasTo && !hasTimes) return ScheduleResult::NoKeyword;

  long month = 0, day = 0;
  if (!ReadDate(text, month, day)) return ScheduleResult::Malformed;
  LimitDate(month, day, daysPerMonth);
  double first = 0.0;
  if (!CutAfter(text, "with") || !ReadAmount(text, first)) return ScheduleResult::Malformed;

  if (hasTo) {
    long endMonth = 0, endDay = 0;
    double last = 0.0;
    long step = 0;
    if (!CutAfter(text, "to") || !ReadDate(text, endMonth, endDay)) return ScheduleResult::Malformed;
    LimitDate(endMonth, endDay, daysPerMonth);
    if (!CutAfter(text, "with") || !ReadAmount(text, last)) return ScheduleResult::Malformed;
    if (!CutAfter(text, "every") || !ReadStep(text, step) || step < 1) return ScheduleResult::Malformed;
    const long span = DaysBetween(month, day, endMonth, endDay, daysPerMonth);
    const long count = span / step + 1;
    if (row.dateCount + count > kMaxIrrigationEvents) return ScheduleResult::Malformed;
    const int f = row.dateCount + 1;
    row.AddEvent(month, day, first);
    for (long k = 1; k < count; ++k) {
      AdvanceDate(month, day, step, daysPerMonth);
      row.AddEvent(month, day, first);
    }
    const int l = row.dateCount;
    for (int k = f + 1; k < l; ++k)
      row.amounts[static_cast<size_t>(k)] = ((l - k) * first + (k - f) * last) / (l - f);
    row.amounts[static_cast<size_t>(l)] = last;
    return ScheduleResult::Ok;
  }

  long step = 0;
  int times = 0;
  {
    if (!CutAfter(text, "mm")) return ScheduleResult::Malformed;
    TextCursor c(text);
    if (!c.ReadInt(times) || times < 1) return ScheduleResult::Malformed;
  }
  if (!CutAfter(text, "every") || !ReadStep(text, step) || step < 1) return ScheduleResult::Malformed;
  if (row.dateCount + static_cast<long>(times) > kMaxIrrigationEvents) return ScheduleResult::Malformed;
  for (int k = 1; k <= times; ++k) {
    if (k > 1) AdvanceDate(month, day, step, daysPerMonth);
    row.AddEvent(month, day, first);
  }
  return ScheduleResult::Ok;
}

}  // namespace

ScheduleResult ParseIrrigationSchedule(const std::string& text, const std::array<int, 12>& daysPerMonth,
                                       IrrigationTableEntry& row) {
  size_t p = text.find(kStart);
  if (p == std::string::npos) return ScheduleResult::Malformed;
  while (p != std::string::npos) {
    const size_t begin = p + kStart.size();
    const size_t next = text.find(kStart, begin);
    const std::string scheme = text.substr(begin, next == std::string::npos ? std::string::npos : next - begin);
    const ScheduleResult r = ParseScheme(scheme, daysPerMonth, row);
    if (r != ScheduleResult::Ok) return r;
    p = next;
  }
  return ScheduleResult::Ok;
}
