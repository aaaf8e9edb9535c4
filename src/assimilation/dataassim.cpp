#include "assimilation/dataassim.h"

#include <algorithm>

#include "assimilation/assim_grid.h"
#include "assimilation/assim_lists.h"
#include "assimilation/assim_reservoir.h"
#include "framework/build_info.h"
#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/option_text.h"
#include "framework/run_files.h"
#include "framework/thread_policy.h"
#include "grids/grid_registry.h"

const char* const kAssimilationRule = "-----------------------------------------------------------------------\n";

void AssimilationFailure(LogStream* log, const std::string& message, int code) {
  if (log)
    *log << "FATAL: \n---------------------- error in data assimilation model ------------------- \n" << message
         << "[end-entry]";
  throw code;
}

// --- the module ------------------------------------------------------------------------

data_assimilation::data_assimilation(int& error, const ModuleInputs& in, std::vector<SP_class*>& list,
                                     int routingOnly, int intParam, ReservoirLookup lookup)
    : teilmodellklasse(in, "data_assimilation", intParam, SectionRequirement::Optional),
      reservoirs(&list),
      findReservoir(std::move(lookup)) {
  error = 0;
  runStepMinutes = in.runStepMinutes > 0             ? in.runStepMinutes
                   : in.output.subHourTimeStep > 0 ? in.output.subHourTimeStep
                                                   : timeIntervalMinutes;
  warmStart = in.warmStart;
  if (routingOnly != 0) {
    flowControl = 0;
    CloseControlFile();
    return;
  }
  if (flowControl == 0) return;
  try {
    *log << "file dataassim, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
    if (int p = FindGrid("MPIRegions")) mpiRegions = grids[p].data;
    if (!findReservoir) findReservoir = DefaultReservoirLookup(list);
    ReadRules();
    CloseControlFile();
  } catch (int code) {
    CloseControlFile();
    error = code;
  } catch (...) {
    CloseControlFile();
    error = 103;
  }
}

data_assimilation::~data_assimilation() = default;

void data_assimilation::ReadRules() {
  SeekControlKey("[data_assimilation]", true);
  int flow = 0;
  double interval = 0.0;
  ReadControlValue(flow, "");
  ReadControlValue(interval, "");
  // The count stands behind its label on the line ("number of data-assimilation rules 2").
  static const std::string kCountLabel = "number of data-assimilation rules";
  controlFile.SkipBlanks();
  if (controlFile.Text().compare(controlFile.Pos(), kCountLabel.size(), kCountLabel) == 0)
    controlFile.Seek(controlFile.Pos() + kCountLabel.size());
  ReadControlValue(ruleCount, kCountLabel + " ");
  for (int i = 1; i <= ruleCount; ++i) {
    std::string rule;
    if (!ReadRuleText(controlFile, rule))
      AssimilationFailure(log,
                          "data-assimilation rule " + std::to_string(i) + " of " + std::to_string(ruleCount) +
                              " in " + ShownControlFile() +
                              " is not complete: the file ends before its block is closed with \"}\"\n" +
                              kAssimilationRule,
                          17);
    if (rule.compare(0, 4, "grid") == 0) {
      entities.push_back(std::make_unique<data_assimilation_grid_entity>(*this, rule));
    } else if (rule.compare(0, 9, "reservoir") == 0) {
      if (pondingIndex == 0) {
        pondingIndex = RequireGrid("ponding_storage");
        lakeCodesIndex = RequireGrid("lake_codes");
      }
      if (instanceNumber == 0)
        entities.push_back(std::make_unique<data_assimilation_reservoir_entity>(*this, rule));
    } else if (!rule.empty()) {
      std::string word = rule.substr(0, rule.find_first_of(" \t\r\n{"));
      *log << "WARNING: data-assimilation rule " << i << " in " << ShownControlFile() << " begins with \"" << word
           << "\", neither \"grid\" nor \"reservoir\": the rule is passed over" << "[end-entry]";
    }
  }
}

void data_assimilation::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
  for (auto& e : entities)
    if (e->Type() == "grid") e->Apply(date);
  if (instanceNumber == 0)
    for (auto& e : entities)
      if (e->Type() == "reservoir") e->Apply(date);
  if (pondingIndex > 0 && lakeCodesIndex > 0) {
    MPIExchangeMatrix(pondingIndex, 0, grids[pondingIndex].data);
    MPIExchangeMatrix(lakeCodesIndex, 0, grids[lakeCodesIndex].data);
  }
}

void data_assimilation::DeleteModule() {
  if (flowControl != 0) entities.clear();
  DeleteTracers();
  modelobject::DeleteModule();
}

void data_assimilation::InitTracers(int& error, int count, TracerRecord* table,
                                    StatisticsTableEntry* statisticsTable, int statisticsSize) {
  error = 0;
  if (flowControl == 0) return;
  teilmodellklasse::InitTracers(error, count, table, statisticsTable, statisticsSize);
  if (error != 0) throw error;
}

int data_assimilation::FirstColumn(int row) const {
  return static_cast<size_t>(row) < rowBounds.size() ? rowBounds[row].first : 1;
}

int data_assimilation::LastColumn(int row) const {
  return static_cast<size_t>(row) < rowBounds.size() ? rowBounds[row].last : geometry.ncols;
}

bool data_assimilation::InDomain(int row, int col) const {
  double** reference = grids[1].data;
  if (!reference || reference[row][col] == geometry.nodata_value) return false;
  return !mpiRegions || mpiRegions[row][col] == instanceNumber;
}

void data_assimilation::BookSnowWater(double** liquid, double** solid, double sign) {
  if (!assimilatedSnow) assimilatedSnow = MatrixOwner(geometry.nrows, geometry.ncols, log);
  double** booked = assimilatedSnow.get();
  const double nodata = geometry.nodata_value;
  const int first = std::max(1, firstRow), last = lastRow > 0 ? lastRow : static_cast<int>(geometry.nrows);
#pragma omp parallel for schedule(runtime) if (ForkRows(last - first + 1, geometry.ncols))
  for (int r = first; r <= last; ++r)
    for (int c = FirstColumn(r); c <= LastColumn(r); ++c) {
      if (!InDomain(r, c)) continue;
      double held = 0.0;
      if (liquid[r][c] > nodata) held += liquid[r][c];
      if (solid[r][c] > nodata) held += solid[r][c];
      booked[r][c] += sign * held;
    }
}

// --- the base of a rule ------------------------------------------------------------------

namespace {

// A record in the WARNING of a record dated on no step: "1985-1-15 12".
constexpr DateStyle kPendingDate{false, kAsIs, kAsIs, kAsIs, kAsIs, "-", " ", "", DateField::kHour};
// A record with its minute in the INFO on lists that give minutes: "1985 1 15 12:05".
constexpr DateStyle kMinuteDate{false, kAsIs, kAsIs, kAsIs, kTwoZeros, " ", " ", ":", DateField::kMinute};

}  // namespace

data_assimilation_entity::data_assimilation_entity(data_assimilation& m, const std::string& t,
                                                   const std::string& text)
    : module(m),
      log(m.log),
      type(t),
      ruleText(text),
      grids(m.grids),
      geometry(m.geometry),
      firstRow(m.firstRow),
      lastRow(m.lastRow > 0 ? m.lastRow : m.geometry.nrows),
      start(m.startDate),
      timeInterval(m.timeIntervalMinutes) {
  // Only the text inside the rule's braces holds its keys.
  std::string rest = ruleText, block;
  ruleText = GetBracedText(rest, block) ? block : std::string();
}

void data_assimilation_entity::Fail(const std::string& message, int code) const {
  AssimilationFailure(log, message, code);
}

bool data_assimilation_entity::OpenList() {
  RunFiles::Current().Read("[data_assimilation] list file of a " + type + " rule", listFileName);
  if (!listFile.LoadFile(listFileName)) return false;
  startTime = FirstRecordTime();
  return true;
}

bool data_assimilation_entity::ReadPendingDate(bool levels) { return ReadRecordDate(listFile, levels, pending); }

bool data_assimilation_entity::NextRecordInPendingHour(bool levels) {
  const size_t at = listFile.Pos();
  ListDate next;
  std::string word;
  double level = 0.0;
  const bool same = ReadRecordDate(listFile, levels, next) &&
                    (levels ? listFile.ReadDouble(level) : listFile.ReadWord(word)) &&
                    CalendarSeconds(next.year, next.month, next.day, next.hour) == pendingTime;
  listFile.Seek(at);
  return same;
}

int64_t data_assimilation_entity::FirstRecordTime() const {
  const int64_t hour = CalendarSeconds(start.year, start.month, start.day, start.hour);
  if (hour == -1 || !module.warmStart) return hour;
  // A warm start: the run before ended with the step before the start, and applied the
  // records up to its end.
  const int64_t step = module.runStepMinutes;
  const int64_t minute = start.minute > 0 && start.minute < 60 ? start.minute : 0;
  const int64_t afterPreviousStep = hour + 60 * (minute - step) + 1;
  return step > 0 ? std::max(hour, afterPreviousStep) : hour;
}

void data_assimilation_entity::CheckListRecords(const std::vector<ListRecord>& records, long unreadLine) {
  auto dated = [](const ListRecord& r) { return DateText(r.year, r.month, r.day, r.hour, 0, kListDate); };
  const std::string where = "[data_assimilation], list file " + listFileName;
  const int64_t end = CalendarSeconds(module.endYear, module.endMonth, module.endDay, module.endHour);
  size_t inside = 0, sameHour = 0;
  int64_t previous = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const ListRecord& r = records[i];
    std::string field, expected;
    if (!IsCalendarDate(r.year, r.month, r.day, r.hour, field, expected))
      Fail(where + ", line " + std::to_string(r.line) + ": the record " + dated(r) +
               " has no date of the calendar: its " + field + " is not " + expected + "\n" + kAssimilationRule,
           1205);
    if (!r.minuteWord.empty())
      Fail(where + ", line " + std::to_string(r.line) + ": the record " + dated(r) + " gives the minute '" +
               r.minuteWord.substr(0, 40) + "' behind its hour: a minute is a whole number 0 to 59 (or leave it out)\n" +
               kAssimilationRule,
           1205);
    const int64_t time = CalendarSeconds(r.year, r.month, r.day, r.hour);
    if (i > 0 && time == previous && sameHour == 0) sameHour = i;
    if (i > 0 && time < previous)
      Fail(where + ", line " + std::to_string(r.line) + ": the record " + dated(r) +
               " is dated before the record above it (" + dated(records[i - 1]) +
               "); the records must be in ascending date order\n" + kAssimilationRule,
           1205);
    previous = time;
    if (time >= startTime && time <= end) ++inside;
  }
  if (unreadLine > 0)
    *log << "WARNING: data assimilation: line " << unreadLine << " of " << listFileName
         << " is no record of the list (year, month, day, hour and a " << (type == "grid" ? "grid file" : "level")
         << ", with or without the minute behind the hour): the rule ends there" << "[end-entry]";
  if (sameHour > 0)
    *log << "INFO: data assimilation: the record of line " << records[sameHour].line << " of " << listFileName
         << " (" << dated(records[sameHour]) << ") is of the hour of the record above it (line "
         << records[sameHour - 1].line << "): a record applies at the first step of its hour, so the later record "
         << "of an hour replaces the earlier" << "[end-entry]";
  // A minute is read, not compared: the record applies at the first step of its hour.
  const auto minute = std::find_if(records.begin(), records.end(), [](const ListRecord& r) { return r.minute != 0; });
  if (minute != records.end())
    *log << "INFO: data assimilation: the records of " << listFileName << " give minutes (line " << minute->line
         << ": " << DateText(minute->year, minute->month, minute->day, minute->hour, minute->minute, kMinuteDate)
         << "): a record applies at the first step of its hour, whatever its minute" << "[end-entry]";
  if (records.empty())
    *log << "WARNING: data assimilation: the list file " << listFileName << " holds no record: the " << type
         << " rule applies nothing" << "[end-entry]";
  else if (inside == 0)
    *log << "WARNING: data assimilation: none of the " << static_cast<unsigned long>(records.size()) << " records of "
         << listFileName << " (" << dated(records.front()) << " to " << dated(records.back())
         << ") lies within the run (" << DateText(start, kListDate) << " to "
         << DateText(module.endYear, module.endMonth, module.endDay, module.endHour, 0, kListDate) << "): the " << type
         << " rule applies nothing" << "[end-entry]";
}

void data_assimilation_entity::SkipRecordsBeforeStep(ModelDate step) {
  const int64_t now = CalendarSeconds(step.year, step.month, step.day, step.hour);
  // A record dated on no step (13 h on 3-hourly steps, noon on daily ones) is passed over:
  // it must not hold back the records after it.
  while (pendingValid && now > pendingTime) {
    *log << "WARNING: data assimilation: the record of "
         << DateText(pending.year, pending.month, pending.day, pending.hour, 0, kPendingDate) << "h (line "
         << PendingLine() << " of " << listFileName << ") falls on no step of the run: it lies "
         << (previousStep.IsMissing()
                 ? "before the run's first step, " + DateText(step, kShortDate)
                 : "between the steps of " + DateText(previousStep, kShortDate) + " and " + DateText(step, kShortDate))
         << "; it is skipped, and the rule goes on with its next record" << "[end-entry]";
    ReadNextRecord();
  }
  previousStep = step;
}

bool data_assimilation_entity::PendingAt(ModelDate step) const {
  return pendingValid && CalendarSeconds(step.year, step.month, step.day, step.hour) == pendingTime;
}
