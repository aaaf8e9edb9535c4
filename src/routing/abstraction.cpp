#include "routing/abstraction.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "framework/append_file.h"
#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "framework/timeseries_table.h"
#include "routing/reservoir.h"
#include "routing/routing_description.h"

namespace {

constexpr size_t kOutputBufferBytes = 2097152;
constexpr int64_t kInputBlockBytes = 1 << 20;
// A row of an input file in messages: "4.1.1985, 5:00".
constexpr DateStyle kRowDate{true, kAsIs, kAsIs, kAsIs, kTwoZeros, ".", ", ", ":", DateField::kMinute};

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

bool SeekAfter(TextCursor& t, const std::string& pattern) {
  const size_t k = t.Text().find(pattern, t.Pos());
  if (k == std::string::npos) return false;
  t.Seek(k + pattern.size());
  return true;
}

std::string CutAtParenthesis(std::string word) {
  const size_t p = word.find(')');
  if (p != std::string::npos) word.erase(p);
  return word;
}

struct ModeWord {
  const char* word;
  int mode;
};
const ModeWord kModes[] = {{"intern", kAbstractIntern},
                           {"extern", kAbstractExtern},
                           {"from_file", kAbstractFromFile},
                           {"intern_with_rule", kAbstractInternRule},
                           {"extern_with_rule", kAbstractExternRule},
                           {"intern_with_rule_from_reservoir", kAbstractReservoirRule},
                           {"intern_from_file_from_reservoir", kAbstractReservoirFile}};

}  // namespace

AL_class::AL_class() = default;
AL_class::~AL_class() = default;

std::string AL_class::MakeFilePath(const std::string& directory, const std::string& name) {
  return SP_class::MakeFilePath(directory, name);
}

void AL_class::SetParameters(LogStream* log, int tracers, const std::vector<std::string>& tracerNames,
                             const std::string& outputDirectory, double areaNumerator, double areaDivisor,
                             double stepMinutes, double offsetHours, double stampToEndHours) {
  log_ = log;
  tracers_ = tracers;
  tracerNames_ = tracerNames;
  outputDirectory_ = outputDirectory;
  area = areaDivisor != 0.0 ? areaNumerator / areaDivisor : 0.0;
  dt = stepMinutes;
  timeOffset = offsetHours;
  stampToStepEndHours = stampToEndHours;
}

int AL_class::ReadParameters(const std::string& entry, int abstraction, const StepDate& start) {
  number = abstraction;
  const std::string who = "abstraction " + std::to_string(number);
  // A key given twice: one of the two would not be read.
  const std::vector<EntryKey> keys = EntryKeys(entry, 0, EntryEnd(entry, 0));
  for (size_t k = 0; k < keys.size(); ++k)
    for (size_t j = 0; j < k; ++j)
      if (SameLetters(keys[j].name, keys[k].name)) Fail(log_, who + ": " + KeyGivenTwiceText(entry, keys[j], keys[k]), 44);
  TextCursor t(entry);
  std::string word;
  if (!SeekAfter(t, "=") || !t.ReadWord(word)) Fail(log_, "no modus found for " + who, 44);
  word = CutAtParenthesis(word.substr(0, 100));
  mode = 0;
  for (const ModeWord& m : kModes)
    if (word == m.word) mode = m.mode;
  if (mode == 0) Fail(log_, "the modus \"" + word + "\" is not supported for " + who, 44);

  auto fileName = [&](const char* what) {
    std::string name;
    if (!t.ReadWord(name)) Fail(log_, who + ": " + what + " expected after \"" + word + "\"", 44);
    return CutAtParenthesis(name);
  };
  R = f = M = 0.0;
  if (mode == kAbstractExtern || mode == kAbstractExternRule) outputFile = fileName("the output file name");
  if (mode == kAbstractIntern || mode == kAbstractExtern) {
    std::string unit;
    if (!t.ReadDouble(R) || !t.ReadDouble(f) || !t.ReadDouble(M) || !t.ReadWord(unit))
      Fail(log_, who + ": residual flow, share, maximum and unit expected after \"" + word + "\"", 44);
    // A residual flow or maximum below 0 would take more than the river carries.
    if (R < 0.0 || M < 0.0 || f < 0.0 || f > 1.0)
      Fail(log_,
           who + FormatText(": \"%s\" takes a residual flow and a maximum of at least 0 and a share of 0..1, read "
                            "R = %g, f = %g, M = %g",
                            word.c_str(), R, f, M),
           44);
    if (unit.find("m^3/s") != std::string::npos || unit.find("m3/s") != std::string::npos ||
        unit.find("m3s") != std::string::npos) {
      R = DischargeToDepth(R, area, dt);
      M = DischargeToDepth(M, area, dt);
    }
  }
  if (mode == kAbstractFromFile) {
    if (!SeekAfter(t, "input_file") || !SeekAfter(t, "=")) Fail(log_, who + ": \"input_file =\" expected", 44);
    inputFile = fileName("the input file name");
    if (!SeekAfter(t, "=") || !t.ReadInt(column)) Fail(log_, who + ": the column of the input file expected", 44);
    if (!SeekAfter(t, "=")) Fail(log_, who + ": the output file name expected", 44);
    outputFile = fileName("the output file name");
  }
  if (mode == kAbstractReservoirFile) {
    if (!SeekAfter(t, "externalAbstractionFile") || !SeekAfter(t, "="))
      Fail(log_, who + ": \"externalAbstractionFile =\" expected", 44);
    inputFile = fileName("the input file name");
    if (!t.ReadInt(column)) Fail(log_, who + ": the column of the input file expected", 44);
    if (!SeekAfter(t, "replaced_Abstractions") || !SeekAfter(t, "="))
      Fail(log_, who + ": \"replaced_Abstractions =\" expected", 44);
    t.SkipBlanks();
    if (t.Peek() == '{') t.Seek(t.Pos() + 1);
    int code = 0;
    replacedCodes.clear();
    while (t.ReadInt(code)) replacedCodes.push_back(code);
  }
  if ((mode == kAbstractFromFile || mode == kAbstractReservoirFile) && column < 1)
    Fail(log_, who + ": the column of the input file must be 1 or more", 44);

  if (mode == kAbstractFromFile || mode == kAbstractReservoirFile) {
    const std::string key = mode == kAbstractFromFile ? "input_file" : "externalAbstractionFile";
    RunFiles::Current().Read("[routing_model] " + who + " input file", inputFile);
    table_ = TimeSeriesTable::Open(inputFile, 0, kInputBlockBytes);
    const std::string unreadable = "error reading " + inputFile + " (\"" + key + " =\" of " + who +
                                   "): its first row holds something other than a date and numbers (" +
                                   table_->ErrorPlace() + ")";
    if (table_->GetState() == TimeSeriesTable::kCannotOpen)
      Fail(log_, "error opening " + inputFile + " for " + who + FileOpenReason(inputFile, false, 0), 37);
    // Rows before one that cannot be read stay usable (NextFileRow stops at that row).
    if (table_->GetState() == TimeSeriesTable::kReadError && table_->RowCount() == 0) Fail(log_, unreadable, 37);
    if (column > table_->ColumnCount())
      Fail(log_,
           FormatText("%s: the column %d of \"%s =\" lies beyond the %lld value columns of ", who.c_str(), column,
                      key.c_str(), static_cast<long long>(table_->ColumnCount())) +
               inputFile,
           44);
    table_->MoveRow(-1);
    for (;;) {
      NextFileRow();
      if (table_->GetState() == TimeSeriesTable::kEnd || table_->CurrentRow() >= table_->RowCount())
        Fail(log_,
             "starting date " +
                 DateText(start.year, start.month, start.day, start.hour, start.minute,
                          kRecordDate.Until(DateField::kHour).TimeAfter(", ")) +
                 ". h in " + inputFile + " not found.",
             38);
      int y, mo, d, h, mi;
      table_->GetDate(y, mo, d, h, mi);
      if (y >= 0 && y < 1000) y += 1900;
      if (y == start.year && mo == start.month && d == start.day && h == start.hour && mi == start.minute) break;
    }
  }
  if (HasOutputFile()) {
    const std::string note = SP_class::AsWrittenNote(outputDirectory_, outputFile, "the output file of " + who);
    outputFile = MakeFilePath(outputDirectory_, outputFile);
    std::error_code ec;
    if (!inputFile.empty() && std::filesystem::equivalent(outputFile, inputFile, ec))
      Fail(log_, "error opening " + outputFile + " for " + who + ": it is the abstraction's input file", 37);
    std::string line = dt < 60.0 ? "YY\tMM\tDD\tHH\tmm\tm^3/s" : "YY\tMM\tDD\tHH\tm^3/s";
    for (int k = 0; k < tracers_; ++k)
      line += "\t" + (k < static_cast<int>(tracerNames_.size()) ? tracerNames_[k] : std::string());
    const std::string entry = "[routing_model] " + who + " output file";
    FILE* file = RunFiles::Current().CreateStream(entry, outputFile);
    if (!file) {
      const int e = errno;
      const std::string unwritable = UnwritableOutput(entry, note);
      if (!unwritable.empty()) Fail(log_, unwritable, kOutputRefused);
      Fail(log_, "error opening " + outputFile + " for " + who + FileOpenReason(outputFile, true, e), 37);
    }
    errno = 0;
    const bool written = std::fprintf(file, "%s\nabstraction_%d\n%s\n", line.c_str(), number, line.c_str()) > 0;
    if (std::fclose(file) != 0 || !written)
      Fail(log_, "cannot write " + outputFile + " for " + who + " (" + std::strerror(errno != 0 ? errno : EIO) + ")",
           kFileNotWritten);
    const size_t rowBytes = 8 * static_cast<size_t>(tracers_ + 6);
    rowCapacity = rowBytes > kOutputBufferBytes ? 1 : kOutputBufferBytes / rowBytes;
  }
  return mode;
}

void AL_class::ReadAbstractionRules(TextCursor& controlFile) {
  if (mode != kAbstractInternRule && mode != kAbstractExternRule && mode != kAbstractReservoirRule) return;
  const std::string header = "[abstraction_rule_abstraction_" + std::to_string(number) + "]";
  FindRuleSection(controlFile, header, log_);
  rules = ReadRuleTable(controlFile, header, log_,
                        mode == kAbstractReservoirRule ? RuleSchedule::kWithinHours : RuleSchedule::kEveryStep);
}

void AL_class::SetRuleParameters(int target, int value, double area) {
  targetIndex = target;
  valueIndex = value;
  targetArea = area;
  // Only the discharge rules are capped by their target (see ComputeAbstraction).
  if (target > 0 && value > 0 && (mode == kAbstractInternRule || mode == kAbstractExternRule))
    for (int r = 0; r < rules.Rules(); ++r)
      if (rules.targetCap[r] <= 0.0 && log_) {
        *log_ << "WARNING: abstraction " << number << ": rule " << r + 1
              << " has no TargetCap while its target is set: it abstracts nothing" << "[end-entry]";
        break;
      }
}

void AL_class::ResolveAbstractionCodes(std::vector<AL_class*>& list, LogStream* log) {
  for (AL_class* a : list) {
    if (!a || a->mode != kAbstractReservoirFile) continue;
    a->replaced.clear();
    for (int code : a->replacedCodes) {
      if (code == 0) {
        a->replaced.push_back(0);
        continue;
      }
      bool found = false;
      for (size_t k = 0; k < list.size() && !found; ++k)
        if (list[k] && list[k]->code == code) {
          a->replaced.push_back(static_cast<int>(k) + 1);
          found = true;
        }
      if (!found && log)
        *log << "WARNING: abstraction " << a->number << ": \"replaced_Abstractions\" names " << code
             << ", which no abstraction of its routing description has; ignored" << "[end-entry]";
    }
  }
}

bool AL_class::FileValue(const StepDate& date, double& value) {
  if (!table_) return false;
  TimeSeriesTable& t = *table_;
  if (t.GetState() == TimeSeriesTable::kEnd || t.CurrentRow() < 0 || t.CurrentRow() >= t.RowCount())
    Fail(log_, "error reading from " + inputFile + " for abstraction " + std::to_string(number) + "\nreached end of file!",
         38);
  if (date.year >= 1) {
    int y, mo, d, h, mi;
    t.GetDate(y, mo, d, h, mi);
    if (y >= 0 && y < 1000) y += 1900;
    if (y != date.year || mo != date.month || d != date.day || h != date.hour || mi != date.minute)
      Fail(log_,
           "error comparing dates in " + inputFile + ":\n     read: " + DateText(y, mo, d, h, mi, kTableDate) +
               " h,\nshould be: " + DateText(date.year, date.month, date.day, date.hour, date.minute, kTableDate) +
               " h.\n",
           38);
  }
  const double v = t.GetValue(column - 1);
  if (v <= kMissingValueLimit) return false;
  // An abstraction takes water; a negative one would add water that came from nowhere.
  if (v < 0.0) {
    int y, mo, d, h, mi;
    t.GetDate(y, mo, d, h, mi);
    if (y >= 0 && y < 1000) y += 1900;
    Fail(log_,
         FormatText("error reading %s for abstraction %d: the row of ", inputFile.c_str(), number) +
             DateText(y, mo, d, h, mi, kRowDate) +
             FormatText(" h holds %g m3/s in column %d; a discharge taken is 0 or more (missing values are -9999)", v,
                        column),
         38);
  }
  value = v;
  return true;
}

void AL_class::AdvanceFileRow() {
  if (table_) NextFileRow();
}

void AL_class::NextFileRow() {
  TimeSeriesTable& t = *table_;
  // The rows before a row that cannot be read stay usable; that row ends the run.
  if (t.GetState() == TimeSeriesTable::kReadError && t.CurrentRow() + 1 >= t.RowCount()) {
    int y, mo, d, h, mi;
    t.GetDate(y, mo, d, h, mi);
    const std::string after =
        t.CurrentRow() < 0 ? "the first row" : "the row after " + DateText(y, mo, d, h, mi, kRowDate) + " h";
    Fail(log_,
         "error reading " + inputFile + " for abstraction " + std::to_string(number) + ": " + after +
             " holds something other than a date and " + std::to_string(t.ColumnCount()) + " numbers (" +
             t.ErrorPlace() + ")",
         38);
  }
  t.Next();
}

double AL_class::RuleValue(double x, const RuleChoice& ch) const {
  const OperatingRules& t = rules;
  const int n = t.rows;
  if (n <= 0) return 0.0;
  if (t.flowTable) return FlowTableValue(t, ch, x);
  if (t.first[n - 1] < x) return t.column[ch.r][n - 1];
  double r = 0.0;
  return VolumeTableValue(t, ch, x, r) ? r : 0.0;
}

double AL_class::Cap(double r, int rule, const double* zoneStep) const {
  if (targetIndex <= 0 || valueIndex <= 0 || !zoneStep) return r;
  const double qt = DepthToDischarge(zoneStep[valueIndex], targetArea, dt);
  const double cap = rules.targetCap[rule];
  if (cap < r + qt) r = std::max(0.0, cap - qt);
  return r;
}

double AL_class::TimeStep(double x, const double* zoneStep, const StepDate& date) {
  date_ = date;
  if (rules.Rules() == 0) return 0.0;
  const RuleChoice ch = ChooseRule(rules, RuleDayOfYear(date, stampToStepEndHours));
  const double r = Cap(RuleValue(x, ch), ch.r, zoneStep);
  return area > 0.0 ? DischargeToDepth(r, area, dt) : 0.0;
}

double AL_class::ComputeAbstraction(double x, const StepDate& date) {
  date_ = date;
  if (date.month <= 0 || rules.Rules() == 0) return 0.0;
  const RuleChoice ch = ChooseRule(rules, RuleDayOfYear(date, stampToStepEndHours));
  const int weekday = WeekdayOf(date.year, date.month, date.day, date.hour, dt < 60.0 ? date.minute : 0,
                                std::trunc(timeOffset));
  // Mode 8 rules act only within their hours; WeekDays -1 admits every weekday.
  if (!OnRuleWeekday(rules, ch.r, weekday) || !WithinRuleHours(rules, ch.r, date.hour)) return 0.0;
  return std::max(0.0, RuleValue(x, ch));
}

void AL_class::ApplyRule(const double* zoneStep, double& result, double available, const StepDate& date) {
  date_ = date;
  const double avail = available - result;
  double amount = 0.0;
  switch (mode) {
    case kAbstractIntern:
    case kAbstractExtern:
      if (avail >= R) {
        amount = (available - R) * f;
        if (avail - amount < R) amount = avail - R;
        amount = std::min(M, std::max(0.0, amount));
      }
      break;
    case kAbstractFromFile: {
      double q = 0.0;
      if (!FileValue(date, q)) q = 0.0;
      amount = std::min(avail, DischargeToDepth(q, area, dt));
      if (date.year > 0) AdvanceFileRow();
      break;
    }
    case kAbstractInternRule:
    case kAbstractExternRule:
    case kAbstractReservoirRule:
      amount = std::min(avail, TimeStep(DepthToDischarge(available, area, dt), zoneStep, date));
      break;
    default:
      break;
  }
  result += std::max(0.0, amount);
}

void AL_class::StoreOutputRow(const StepDate& date, const std::vector<double>& values) {
  if (!HasOutputFile()) return;
  if (rows.size() >= rowCapacity) FlushToDisk(1);
  std::vector<double> row = {double(date.year), double(date.month), double(date.day), double(date.hour)};
  if (dt < 60.0) row.push_back(date.minute);
  row.insert(row.end(), values.begin(), values.end());
  rows.push_back(std::move(row));
}

void AL_class::FlushToDisk(int flag) {
  if (flag < 1 || !HasOutputFile() || rows.empty()) return;
  if (DiscardBufferedOutput) {
    rows.clear();
    return;
  }
  AppendBufferedRows(outputFile, rows, dt < 60.0 ? 5 : 4, log_);
}
