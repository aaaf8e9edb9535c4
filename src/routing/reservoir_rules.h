// Operating-rule tables of reservoirs and abstractions: a table of outflow (or abstraction)
// against a key value, one column per rule, the rules taking turns through the year, each
// active on listed weekdays and hours and capped.
//
// Section layout (one per reservoir or abstraction, found by its header):
//   n d1 d2 ... dm                      table rows, then the start day of each rule
//   c q1 ... qm                         n table lines: key column, one column per rule
//   TargetCap = v1 ... vm               keyword lines in any order, ended by a line that
//   WeekDays = 12345 ...                holds "[", an empty line or the end of the text
//   start_hour = ... / stop_hour = ...
//   TableIndex = Flow                   first column holds outflows, rule columns keys
// A reservoir section may go on, after the ending line, with a HydraulicConnection block.
//
// Failures write a "FATAL: " message ending in "[end-entry]" and throw the code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class LogStream;
class TextCursor;

// Date of a step as the reservoirs and abstractions see it; year < 1 marks a step without
// calendar (the start-up routing), month < 1 a step without a valid date.
struct StepDate {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

struct OperatingRules {
  int rows = 0;                 // n
  std::vector<int> startDay;    // per rule, day of the year 1..365
  std::vector<double> first;    // first column, rows 0..n-1
  std::vector<std::vector<double>> column, slope;  // [rule][row]
  bool flowTable = false;
  std::vector<double> targetCap;     // per rule; <= 0: no cap
  std::vector<int64_t> weekDays;     // per rule; -1: always active
  std::vector<int> startHour, stopHour;

  int Rules() const { return static_cast<int>(startDay.size()); }
};

// Channel between two reservoirs (Manning-Strickler, rectangular).
struct HydraulicConnection {
  bool on = false;
  int target = 0;
  double width = 0.0, bottom = 0.0, length = 0.0, roughness = 0.0;
};

// Rule of a day of the year and its weight: rule r (0-based) counts with w, rule r - 1
// with 1 - w (w = 1 when the rule stands alone). The weight stays within [0, 1].
struct RuleChoice {
  int r = 0;
  double w = 1.0;
};

// Day of the year without leap days (February has 28 days).
int DayOfYear(int month, int day);
// The day of the year a rule is chosen by: that of the day the step lies in, midnight
// written 0 h counting as 24 h of the day before (CalendarStamp, framework/model_date.h).
int RuleDayOfYear(const StepDate& date, double stampToStepEndHours);
// Weekday (1 Monday .. 7 Sunday) of the date shifted back by offsetHours (and the minute).
int WeekdayOf(int year, int month, int day, int hour, int minute, double offsetHours);

RuleChoice ChooseRule(const OperatingRules& rules, int dayOfYear);
// Lookups in the table of the chosen rule (blended with the rule before it): the highest
// row below x, interpolated; VolumeTableValue is false when no row lies below x.
bool VolumeTableValue(const OperatingRules& rules, const RuleChoice& choice, double x, double& value);
double FlowTableValue(const OperatingRules& rules, const RuleChoice& choice, double x);
// Whether rule r acts on this weekday (1 Monday .. 7 Sunday; WeekDays -1: every day).
bool OnRuleWeekday(const OperatingRules& rules, int r, int weekday);
// Whether the hour of a step lies within rule r's hours start_hour..stop_hour (over midnight
// when stop_hour < start_hour). A step stamped 24 h ends its day: it is hour 0 of the next
// day, as its weekday is.
bool WithinRuleHours(const OperatingRules& rules, int r, int hour);
// Whether a reservoir's rule r acts on this weekday and hour: WeekDays -1 always, any other
// WeekDays on its days within its hours.
bool RuleActive(const OperatingRules& rules, int r, int weekday, int hour);

// How the rules of a table are switched by WeekDays and the hours, as its owner applies them.
enum class RuleSchedule {
  kReservoir,    // RuleActive
  kWithinHours,  // rule abstractions from a reservoir: within the hours only, every day for -1
  kEveryStep,    // rule abstractions of the discharge: WeekDays and hours do not apply
};

// Positions the cursor at the line after the first line whose first word is header;
// FATAL 34 when there is none.
void FindRuleSection(TextCursor& file, const std::string& header, LogStream* log);
// Reads the rule block at the cursor (after the header). where names the section in
// messages. Leaves the cursor after the line that ended the keyword lines. WeekDays without
// start_hour and stop_hour get a WARNING that says what each rule then does by schedule.
OperatingRules ReadRuleTable(TextCursor& file, const std::string& where, LogStream* log,
                             RuleSchedule schedule = RuleSchedule::kReservoir);
// Reads an optional HydraulicConnection block at the cursor (reservoir number in messages).
HydraulicConnection ReadHydraulicConnection(TextCursor& file, int reservoir, LogStream* log);

// Manning-Strickler flow (m3/s, positive out of the reservoir at level w) through the
// connection towards the level wt.
double ConnectionFlow(const HydraulicConnection& c, double w, double wt);
