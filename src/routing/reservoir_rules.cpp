#include "routing/reservoir_rules.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/model_date.h"
#include "framework/text_helpers.h"
#include "grids/netcdf_grid_io.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  GetToken(line, " \t\r", words);
  return words;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

// The numbers of a row, read as every row of numbers is: blanks, or a comma or semicolon
// right behind a number, separate them ("500000, 0.2"), and the first word that does not
// begin like a number ends them (a remark). FATAL 29 naming the section, the line and the
// word where one begins like a number but is none ("0,2", "nan"), or where fewer than
// `needed` numbers stand before a word ("2000000 two").
std::vector<double> Numbers(const std::string& text, const std::string& where, const std::string& line,
                            LogStream* log, size_t needed = 0) {
  std::vector<double> v;
  std::string refused;
  if (!ReadNumberRow(text, text.size(), v, refused))
    Fail(log, "in " + where + ", " + line + ": " + NoNumberText(refused, " is not a number"), 29);
  if (v.size() >= needed) return v;
  // A short row names the word that ended it; its words are split only then.
  std::vector<std::string> words;
  GetToken(text, " \t\r,;", words);
  if (v.size() < words.size())
    Fail(log, "in " + where + ", " + line + ": \"" + words[v.size()].substr(0, 80) + "\" is not a number (" +
                  std::to_string(needed) + " values expected)",
         29);
  return v;
}

const int kMonthStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// WeekDays: -1, or a whole number whose every decimal digit names a weekday 1..7.
bool WeekDaysValid(double v) {
  if (v == -1.0) return true;
  if (!(v >= 1.0 && v <= 1e10) || v != std::floor(v)) return false;
  for (int64_t days = static_cast<int64_t>(v); days > 0; days /= 10)
    if (days % 10 < 1 || days % 10 > 7) return false;
  return true;
}

// What the rules of a table whose hours are not given (-1 to -1, which no step's hour lies
// in) do, as their owner switches them.
std::string RulesWithoutHours(const OperatingRules& t, RuleSchedule schedule) {
  if (schedule == RuleSchedule::kEveryStep)
    return "the rules of an abstraction of the discharge act at every step, whatever their WeekDays and hours";
  std::string text;
  for (int r = 0; r < t.Rules(); ++r) {
    if (r > 0) text += "; ";
    text += "rule " + std::to_string(r + 1) + " (WeekDays " + std::to_string(t.weekDays[r]) + ") ";
    if (schedule == RuleSchedule::kReservoir && t.weekDays[r] == -1)
      text += "acts at every hour of every day";
    else
      text += "never acts: no hour lies in its hours -1 to -1 (start_hour = 0 and stop_hour = 23 make it act "
              "all day on its weekdays)";
  }
  return text;
}

}  // namespace

int DayOfYear(int month, int day) {
  if (month < 1 || month > 12) return day;
  return day + kMonthStart[month - 1];
}

int RuleDayOfYear(const StepDate& d, double stampToStepEndHours) {
  const ModelDate c = CalendarStamp(ModelDate{d.minute, d.hour, d.day, d.month, d.year}, stampToStepEndHours);
  return DayOfYear(static_cast<int>(c.month), static_cast<int>(c.day));
}

int WeekdayOf(int year, int month, int day, int hour, int minute, double offsetHours) {
  const time_t at = static_cast<time_t>(std::llround(MinutesSinceEpoch(year, month, day, hour, minute) * 60.0 -
                                                    offsetHours * 3600.0));
  std::tm out{};
  gmtime_r(&at, &out);
  return out.tm_wday == 0 ? 7 : out.tm_wday;
}

RuleChoice ChooseRule(const OperatingRules& rules, int d) {
  RuleChoice c;
  const int m = rules.Rules();
  if (m <= 1 || d <= rules.startDay[0]) return c;
  int r = 1;
  while (r < m - 1 && rules.startDay[r] < d) ++r;
  c.r = r;
  const double span = rules.startDay[r] - rules.startDay[r - 1];
  double w = span > 0.0 ? (d - rules.startDay[r - 1]) / span : 1.0;
  c.w = w < 0.0 ? 0.0 : (w > 1.0 ? 1.0 : w);
  return c;
}

bool VolumeTableValue(const OperatingRules& t, const RuleChoice& ch, double x, double& q) {
  const int r = ch.r;
  for (int i = t.rows - 2; i >= 0; --i) {
    if (!(t.first[i] < x)) continue;
    q = t.column[r][i] + t.slope[r][i] * (x - t.first[i]);
    if (r > 0) q = ch.w * q + (1.0 - ch.w) * (t.column[r - 1][i] + t.slope[r - 1][i] * (x - t.first[i]));
    return true;
  }
  return false;
}

double FlowTableValue(const OperatingRules& t, const RuleChoice& ch, double x) {
  const int r = ch.r;
  const double w = ch.w, w1 = 1.0 - ch.w;
  for (int i = t.rows - 2; i >= 0; --i) {
    const double v = r > 0 ? w * t.column[r][i] + w1 * t.column[r - 1][i] : t.column[r][i];
    if (v < x) return t.first[i] + (r > 0 ? w * t.slope[r][i] + w1 * t.slope[r - 1][i] : t.slope[r][i]) * (x - v);
  }
  return 0.0;
}

bool OnRuleWeekday(const OperatingRules& rules, int r, int weekday) {
  const int64_t days = rules.weekDays[r];
  return days == -1 || std::to_string(days).find(static_cast<char>('0' + weekday)) != std::string::npos;
}

bool WithinRuleHours(const OperatingRules& rules, int r, int hour) {
  if (hour == 24) hour = 0;
  const int a = rules.startHour[r], b = rules.stopHour[r];
  if (a <= b) return a <= hour && hour <= b;
  return hour >= a || hour <= b;
}

bool RuleActive(const OperatingRules& rules, int r, int weekday, int hour) {
  if (rules.weekDays[r] == -1) return true;
  return OnRuleWeekday(rules, r, weekday) && WithinRuleHours(rules, r, hour);
}

void FindRuleSection(TextCursor& file, const std::string& header, LogStream* log) {
  file.Rewind();
  std::string line;
  while (file.ReadLine(line)) {
    const std::vector<std::string> w = Words(line);
    if (!w.empty() && w[0] == header) return;
  }
  Fail(log, "section " + header + " not found in control file", 34);
}

OperatingRules ReadRuleTable(TextCursor& file, const std::string& where, LogStream* log, RuleSchedule schedule) {
  OperatingRules t;
  std::string line;
  const long firstLine = file.LineNumber();
  if (!file.ReadLine(line)) Fail(log, where + ": the line with the number of table rows is missing", 29);
  const std::vector<std::string> words = Words(line);
  if (words.empty()) Fail(log, where + ", " + file.LineText(firstLine) + ": number of table rows expected", 29);
  std::vector<double> days = Numbers(line, where, file.LineText(firstLine), log);
  if (days.empty() || days[0] != std::floor(days[0]) || days[0] > 100000)
    Fail(log, where + ", " + file.LineText(firstLine) + ": \"" + words[0] + "\" is no number of table rows", 29);
  const long n = static_cast<long>(std::max(days[0], -1.0));
  days.erase(days.begin());
  const int m = days.size() > 1 ? static_cast<int>(days.size()) : 1;
  t.startDay.assign(m, 1);
  if (m > 1) {
    for (int r = 0; r < m; ++r) {
      const double d = days[r];
      if (d != std::floor(d) || d < 1 || d > 365 || (r > 0 && d <= t.startDay[r - 1]))
        Fail(log,
             where + ", " + file.LineText(firstLine) +
                 ": the start days of the rules must be whole days of the year 1..365 in increasing order",
             29);
      t.startDay[r] = static_cast<int>(d);
    }
  }
  t.targetCap.assign(m, -1.0);
  t.weekDays.assign(m, -1);
  t.startHour.assign(m, -1);
  t.stopHour.assign(m, -1);
  t.column.assign(m, {});
  t.slope.assign(m, {});
  if (n <= 0) return t;
  t.rows = static_cast<int>(n);
  std::vector<long> tableLines;
  for (int i = 0; i < t.rows; ++i) {
    const long at = file.LineNumber();
    tableLines.push_back(at);
    if (!file.ReadLine(line)) Fail(log, where + ": the table ends after " + std::to_string(i) + " of " + std::to_string(n) + " rows", 29);
    const std::vector<double> v = Numbers(line, where, file.LineText(at), log, static_cast<size_t>(m) + 1);
    if (static_cast<int>(v.size()) < m + 1)
      Fail(log, where + ", " + file.LineText(at) + ": " + std::to_string(m + 1) + " values expected", 29);
    if (v.size() > static_cast<size_t>(m) + 1)
      Fail(log, "in " + where + ", " + file.LineText(at) + ": the row " + RowBeyondText(m + 1, v.size() - m - 1) +
                    ": the first column and one per rule; the rules are counted by the start days behind the row "
                    "count, " + file.LineText(firstLine),
           29);
    t.first.push_back(v[0]);
    for (int r = 0; r < m; ++r) t.column[r].push_back(v[r + 1]);
  }
  bool weekDaysGiven = false, hoursGiven = false;
  while (true) {
    const long at = file.LineNumber();
    if (!file.ReadLine(line) || line.find('[') != std::string::npos || IsBlank(line)) break;
    const size_t eq = line.find('=');
    // A row of the table beyond the count of its first line would be dropped.
    if (eq == std::string::npos && BeginsLikeNumber(Words(line).front()))
      Fail(log, "in " + where + ", " + file.LineText(at) + ": a row of the table beyond the " + std::to_string(n) +
                    " rows that " + file.LineText(firstLine) + " counts; raise the count or remove the row",
           29);
    if (eq == std::string::npos) continue;
    ReportUnknownKeys(log, where, file.LineText(at), line.substr(0, eq + 1),
                      {"TableIndex", "TargetCap", "WeekDays", "start_hour", "stop_hour"});
    const std::string key = line.substr(0, eq);
    const std::string rest = line.substr(eq + 1);
    if (key.find("TableIndex") != std::string::npos) {
      t.flowTable = rest.find("Flow") != std::string::npos;
      continue;
    }
    enum { kCap, kDays, kStart, kStop, kNone } which = kNone;
    if (key.find("TargetCap") != std::string::npos) which = kCap;
    else if (key.find("WeekDays") != std::string::npos) which = kDays;
    else if (key.find("start_hour") != std::string::npos) which = kStart;
    else if (key.find("stop_hour") != std::string::npos) which = kStop;
    if (which == kNone) continue;
    const std::vector<double> v = Numbers(rest, where, file.LineText(at), log, static_cast<size_t>(m));
    if (static_cast<int>(v.size()) < m)
      Fail(log, where + ", " + file.LineText(at) + ": one value per rule (" + std::to_string(m) + ") expected", 29);
    if (v.size() > static_cast<size_t>(m))
      Fail(log, "in " + where + ", " + file.LineText(at) + ": " + Words(key).front().substr(0, 40) + " " +
                    RowBeyondText(m, v.size() - m) + ": one value per rule",
           29);
    for (int r = 0; r < m; ++r) {
      const bool whole = v[r] == std::floor(v[r]);
      if ((which == kStart || which == kStop) && (!whole || v[r] < -1 || v[r] > 23))
        Fail(log, where + ", " + file.LineText(at) + ": hours are whole numbers 0..23", 29);
      if (which == kDays && !WeekDaysValid(v[r]))
        Fail(log,
             where + ", " + file.LineText(at) + ": WeekDays of rule " + std::to_string(r + 1) + " is " +
                 NumberText(v[r]) + "; WeekDays are digits 1 (Monday) to 7 (Sunday), or -1 for every day",
             29);
      if (which == kCap) t.targetCap[r] = v[r];
      if (which == kDays) t.weekDays[r] = static_cast<int64_t>(v[r]);
      if (which == kStart) t.startHour[r] = static_cast<int>(v[r]);
      if (which == kStop) t.stopHour[r] = static_cast<int>(v[r]);
    }
    weekDaysGiven |= which == kDays;
    hoursGiven |= which == kStart || which == kStop;
  }
  // Volumes, discharges and amounts are never negative, and the column a table is looked
  // up by (the first; each rule column of a flow table) must not fall (equal neighbours are
  // a flat segment).
  for (int i = 0; i < t.rows; ++i) {
    auto bad = [&](const std::string& what) {
      Fail(log, "in " + where + ", " + file.LineText(tableLines[static_cast<size_t>(i)]) + ": " + what, 29);
    };
    if (t.first[i] < 0.0)
      bad(FormatText("the first column holds %g: volumes, discharges and amounts are at least 0", t.first[i]));
    if (i > 0 && !t.flowTable && t.first[i] < t.first[i - 1])
      bad(FormatText("the first column falls from %g to %g: it must rise from row to row", t.first[i - 1], t.first[i]));
    for (int r = 0; r < m; ++r) {
      const double q = t.column[r][i];
      if (q < 0.0) bad(FormatText("rule %d holds %g: volumes, discharges and amounts are at least 0", r + 1, q));
      if (i > 0 && t.flowTable && q < t.column[r][i - 1])
        bad(FormatText("rule %d falls from %g to %g: with TableIndex = Flow its column must rise from row to row", r + 1,
                       t.column[r][i - 1], q));
    }
  }
  if (weekDaysGiven && !hoursGiven && log)
    *log << "WARNING: " << where << ": WeekDays without start_hour and stop_hour: " << RulesWithoutHours(t, schedule)
         << "[end-entry]";
  for (int r = 0; r < m; ++r) {
    t.slope[r].assign(t.rows, 0.0);
    for (int i = 0; i + 1 < t.rows; ++i) {
      const double dc = t.first[i + 1] - t.first[i];
      const double dq = t.column[r][i + 1] - t.column[r][i];
      const double den = t.flowTable ? dq : dc;
      t.slope[r][i] = den == 0.0 ? 0.0 : (t.flowTable ? dc : dq) / den;
    }
  }
  return t;
}

HydraulicConnection ReadHydraulicConnection(TextCursor& file, int reservoir, LogStream* log) {
  HydraulicConnection c;
  const size_t start = file.Pos();
  std::string line;
  if (!file.ReadLine(line) || line.find("HydraulicConnection") == std::string::npos) {
    file.Seek(start);
    return c;
  }
  const std::string failure =
      "reading HydraulicConnection parameters for SP " + std::to_string(reservoir) + ": some values could not be read\n";
  std::string text = line;
  while (text.find('}') == std::string::npos) {
    if (!file.ReadLine(line)) Fail(log, failure + "(no closing \"}\")", 29);
    text += "\n" + line;
  }
  auto value = [&](const std::string& key) {
    const size_t k = text.find(key);
    if (k == std::string::npos) Fail(log, failure, 29);
    const size_t eq = text.find('=', k);
    if (eq == std::string::npos) Fail(log, failure, 29);
    const size_t end = text.find_first_of(";\n}", eq + 1);
    double x = 0.0;
    std::string written = text.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
    if (!ParseDouble(written, x)) {
      written.erase(0, std::min(written.find_first_not_of(" \t\r"), written.size()));
      written.erase(std::min(written.find_last_not_of(" \t\r") + 1, written.size()));
      Fail(log, failure + "(" + key + " = " + NoNumberText(written, " is not a number") + ")", 29);
    }
    return x;
  };
  const double target = value("TargetReservoir");
  if (!(std::fabs(target) < 2e9)) Fail(log, failure, 29);
  c.target = static_cast<int>(target);
  c.width = value("ChannelWidth");
  c.bottom = value("ChannelBottom");
  c.length = value("ChannelLength");
  c.roughness = value("RoughnessCoeff");
  const struct {
    const char* key;
    double value;
  } positive[] = {{"ChannelWidth", c.width}, {"ChannelLength", c.length}, {"RoughnessCoeff", c.roughness}};
  for (const auto& p : positive)
    if (!(p.value > 0.0)) Fail(log, failure + FormatText("(%s = %g: it must be positive)", p.key, p.value), 29);
  c.on = true;
  return c;
}

double ConnectionFlow(const HydraulicConnection& c, double w, double wt) {
  const double zb = c.bottom;
  double h = 0.0, slope = 0.0, sign = 1.0;
  if (w > zb && wt <= zb) {
    h = w - zb;
    slope = h / c.length;
  } else if (w > zb && wt > zb) {
    const double i = (w - wt) / c.length;
    if (i > 0.0) {
      h = w - zb;
      slope = i;
    } else {
      h = wt - zb;
      slope = -i;
      sign = -1.0;
    }
  } else if (w <= zb && wt > zb) {
    h = wt - zb;
    slope = h / c.length;
    sign = -1.0;
  }
  if (h <= 0.0 || slope == 0.0) return 0.0;
  const double area = c.width * h;
  const double radius = area / (c.width + 2.0 * h);
  return sign * c.roughness * area * std::pow(radius, 2.0 / 3.0) * std::sqrt(slope);
}
