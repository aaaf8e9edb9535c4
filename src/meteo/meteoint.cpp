#include "meteo/meteoint.h"

#include "framework/logstream.h"

namespace {

// Days since 1970-01-01 of a Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2);
}

ModuleInputs WithoutSection(const ModuleInputs& in) {
  ModuleInputs copy = in;
  copy.zoneCodeMap = nullptr;  // the base then reads nothing
  return copy;
}

}  // namespace

ModelDate AddMinutes(const ModelDate& date, int64_t minutes) {
  int64_t total = DaysFromCivil(date.year, date.month, date.day) * 1440 + date.hour * 60 + date.minute + minutes;
  int64_t days = total >= 0 ? total / 1440 : -((-total + 1439) / 1440);
  int64_t rest = total - days * 1440;
  ModelDate out;
  CivilFromDays(days, out.year, out.month, out.day);
  out.hour = rest / 60;
  out.minute = rest % 60;
  return out;
}

meteointerpol::meteointerpol(const ModuleInputs& in, const std::string& variableName, int position, int opt)
    : teilmodellklasse(WithoutSection(in), variableName, 1, SectionRequirement::Optional),
      gridPosition(position),
      option(opt) {
  stepMinutes = in.output.timeStepMinutes >= 1.0 ? in.output.timeStepMinutes : 60.0;
  current = in.start;
  SetEndDate(in.end.year, in.end.month, in.end.day, in.end.hour, in.end.minute);
  *log << "WARNING: no station data are read for " << name
       << " in this version: its grid is not interpolated, only the model time advances" << "[end-entry]";
}

meteointerpol::meteointerpol(const ModuleInputs& in, const std::string& variableName, ModelDate start,
                             double step)
    : teilmodellklasse(WithoutSection(in), variableName, 1, SectionRequirement::Optional),
      stepMinutes(step),
      current(start) {
  SetEndDate(in.end.year, in.end.month, in.end.day, in.end.hour, in.end.minute);
}

meteointerpol::~meteointerpol() = default;

void meteointerpol::GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month,
                                   int64_t& year) const {
  minute = current.minute;
  hour = current.hour;
  day = current.day;
  month = current.month;
  year = current.year;
}

void meteointerpol::ComputeStationRegression(int) {}
void meteointerpol::Interpolate(ModelDate) {}
void meteointerpol::WriteResultGrid() {}

void meteointerpol::ReadNextRecord() { current = AddMinutes(current, static_cast<int64_t>(stepMinutes)); }

int meteointerpol::IsEndOfPeriod() const { return current.Key() >= endDateKey ? 1 : 0; }

void meteointerpol::SetEndDateToCurrent() {
  SetEndDate(current.year, current.month, current.day, current.hour, current.minute);
}

void meteointerpol::WriteStatistics() {}

void meteointerpol::DeleteModule() { modelobject::DeleteModule(); }
