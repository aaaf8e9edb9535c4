// Feeds arbitrary control-file text to the reader of [irrigation] and [irrigation_table]
// and, as one line, to the schedule parser. Each input ends in a table whose events lie in
// the calendar, or in the reader's error codes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "init/irrigation_table.h"

namespace {

void CheckRow(const IrrigationTableEntry& row, bool calendar) {
  const size_t n = static_cast<size_t>(row.dateCount) + 1;
  if (row.months.size() != n || row.days.size() != n || row.amounts.size() != n) __builtin_trap();
  if (!calendar) return;
  for (size_t k = 1; k < n; ++k)
    if (row.months[k] < 1 || row.months[k] > 12 || row.days[k] < 1 || row.days[k] > 31) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  IrrigationTableEntry schedule;
  const std::array<int, 12> months{{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  if (ParseIrrigationSchedule(text, months, schedule) == ScheduleResult::Ok) CheckRow(schedule, true);

  GridRegistry registry;
  int error = 0;
  defaultini d(error, nullptr, "fuzz.ctl", nullptr, 200, 2, registry.Records());
  d.controlFile.SetText(text);
  d.controlFileOpen = true;
  try {
    d.ReadIrrigation();
  } catch (int code) {
    if (code != 17 && code != 29) __builtin_trap();
    return 0;
  }
  if (d.irrigationCount == 0) return 0;
  if (d.irrigationRows.size() != static_cast<size_t>(d.irrigationCount) + 1) __builtin_trap();
  if (d.irrigationCodes.size() != d.irrigationRows.size()) __builtin_trap();
  for (int i = 1; i <= d.irrigationCount; ++i) {
    const IrrigationTableEntry& row = d.irrigationTable[i];
    if (row.code != d.irrigationCodes[static_cast<size_t>(i)]) __builtin_trap();
    CheckRow(row, row.method == kIrrigationSchedule);
  }
  return 0;
}
