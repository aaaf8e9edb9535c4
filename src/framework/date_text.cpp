#include "framework/date_text.h"

#include <cstdio>

namespace {

void Append(std::string& text, int64_t value, const DatePad& pad) {
  char field[32];
  const long long v = static_cast<long long>(value);
  if (pad.places <= 0) std::snprintf(field, sizeof field, "%lld", v);
  else if (pad.fill == '0') std::snprintf(field, sizeof field, "%0*lld", pad.places, v);
  else std::snprintf(field, sizeof field, "%*lld", pad.places, v);
  text += field;
}

}  // namespace

std::string DateText(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, const DateStyle& style) {
  const bool withMonth = style.last >= DateField::kMonth;
  const bool withDay = style.last >= DateField::kDay;
  std::string text;
  if (style.dayFirst) {
    if (withDay) {
      Append(text, day, style.dayAndMonth);
      text += style.dateSeparator;
    }
    if (withMonth) {
      Append(text, month, style.dayAndMonth);
      text += style.dateSeparator;
    }
    Append(text, year, style.year);
  } else {
    Append(text, year, style.year);
    if (withMonth) {
      text += style.dateSeparator;
      Append(text, month, style.dayAndMonth);
    }
    if (withDay) {
      text += style.dateSeparator;
      Append(text, day, style.dayAndMonth);
    }
  }
  if (style.last >= DateField::kHour) {
    text += style.beforeTime;
    Append(text, hour, style.hour);
  }
  if (style.last >= DateField::kMinute) {
    text += style.timeSeparator;
    Append(text, minute, style.minute);
  }
  return text;
}
