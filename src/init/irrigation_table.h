// The irrigation rules of [irrigation_table]: one row per irrigation code, with its
// method and, for the date-table and schedule methods, the dated irrigation events.
#pragma once

#include <array>
#include <string>
#include <vector>

// Irrigation methods of a row.
constexpr int kIrrigationDateTable = 1;  // dates and amounts listed below the row
constexpr int kIrrigationSchedule = 2;   // schedule text behind the suctions
constexpr int kIrrigationBySuction = 3;  // on demand: start at psi_dry, stop at psi_wet
constexpr int kIrrigationByEtRatio = 4;  // on demand: start below a ratio of ETR to ETP

// Longest label of a row.
constexpr size_t kIrrigationNameLength = 50;
// Most events one row may hold (schedules and date tables together).
constexpr long kMaxIrrigationEvents = 100000;

// One row of the irrigation table. Row 0 of the table holds only the row count (in code).
// The event vectors are 1-based (element 0 unused) and hold dateCount + 1 elements.
struct IrrigationTableEntry {
  int code = 0;
  std::string name;
  int method = 0;
  int origin = 0;
  double psiDry = 0.0;
  double psiWet = 0.0;
  double minEtrEtp = 0.0;
  int dateCount = 0;
  std::vector<long> months{0};
  std::vector<long> days{0};
  std::vector<double> amounts{0.0};

  void AddEvent(long month, long day, double amount) {
    months.push_back(month);
    days.push_back(day);
    amounts.push_back(amount);
    ++dateCount;
  }
};

// Result of parsing a schedule text.
enum class ScheduleResult {
  Ok,
  NoKeyword,  // a scheme holds neither "to" nor "times"
  Malformed,  // a keyword, date, amount, count or step is missing or unusable
};

// Parses the schedule text of a method-2 row ("starting from MM DD with XX mm to MM DD
// with YY mm every ZZ day" or "starting from MM DD with XX mm AA times every ZZ days",
// several schemes separated by ";") and appends its events to the row's date table.
// daysPerMonth decides when a schedule moves into the next month.
ScheduleResult ParseIrrigationSchedule(const std::string& text, const std::array<int, 12>& daysPerMonth,
                                       IrrigationTableEntry& row);
