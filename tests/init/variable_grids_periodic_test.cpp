#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "init/defaultini.h"

namespace {

StandardGridSpec Periodic(int blocks, const std::string& unit, int step, bool persistent = true, int hold = 0) {
  StandardGridSpec s;
  s.periodBlocks = blocks;
  s.periodUnit = unit;
  s.periodStep = step;
  s.persistent = persistent;
  s.holdSteps = hold;
  return s;
}

ModelDate Date(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute = 0) {
  ModelDate d;
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.minute = minute;
  return d;
}

// Steps through an hourly run and returns "R<label>" / "S<label>" for reads and restores.
std::vector<std::string> RunHourly(StandardGridSpec& s, int days, int minutesPerStep = 60) {
  std::vector<std::string> events;
  for (int t = 0; t < days * 24 * 60; t += minutesPerStep) {
    const ModelDate d = Date(2020, 1, 1 + t / 1440, (t / 60) % 24, t % 60);
    const PeriodicInputAction a = AdvancePeriodicInput(s, d);
    const std::string label = std::to_string(d.day) + "/" + std::to_string(d.hour) + ":" + std::to_string(d.minute);
    if (a == PeriodicInputAction::Read) events.push_back("R" + label);
    if (a == PeriodicInputAction::Restore) events.push_back("S" + label);
  }
  return events;
}

}  // namespace

TEST(PeriodicInput, OneDayOneReadsAtTheFirstStepAndEveryNewDay) {
  StandardGridSpec s = Periodic(1, "D", 1);
  EXPECT_EQ(RunHourly(s, 3), (std::vector<std::string>{"R1/0:0", "R2/0:0", "R3/0:0"}));
  // Sub-hour steps: the hour repeats within a day, still one read per day.
  StandardGridSpec q = Periodic(1, "H", 1);
  EXPECT_EQ(RunHourly(q, 2, 15), (std::vector<std::string>{"R1/0:0", "R2/0:0"}));
  EXPECT_EQ(DatedInputFileName("basin_lai", Date(2020, 1, 1, 0)), "basin_lai_2020010100");
  EXPECT_EQ(DatedInputFileName("/x/lai", Date(1999, 12, 31, 23)), "/x/lai_1999123123");
}

TEST(PeriodicInput, StepNumberPicksTheKthDistinctHour) {
  StandardGridSpec s = Periodic(1, "D", 3);
  EXPECT_EQ(RunHourly(s, 2), (std::vector<std::string>{"R1/2:0", "R2/2:0"}));
}

TEST(PeriodicInput, NonPersistentGridIsRestoredAfterItsHoldSteps) {
  StandardGridSpec s = Periodic(1, "D", 1, false, 5);
  EXPECT_EQ(RunHourly(s, 2), (std::vector<std::string>{"R1/0:0", "S1/5:0", "R2/0:0", "S2/5:0"}));
  // Held longer than the period: the next reading comes first and no restore happens.
  StandardGridSpec l = Periodic(1, "D", 1, false, 24);
  EXPECT_EQ(RunHourly(l, 2), (std::vector<std::string>{"R1/0:0", "R2/0:0"}));
}

TEST(PeriodicInput, MonthsAndYearsCountFromTheLastReading) {
  StandardGridSpec m = Periodic(2, "M", 1);
  StandardGridSpec y = Periodic(1, "Y", 1);
  std::vector<std::string> monthReads, yearReads;
  for (int64_t year = 2020; year <= 2021; ++year)
    for (int64_t month = 1; month <= 12; ++month)
      for (int64_t day = 1; day <= DaysInMonth(year, month); ++day) {
        const ModelDate d = Date(year, month, day, 0);
        const std::string label = std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day);
        if (AdvancePeriodicInput(m, d) == PeriodicInputAction::Read) monthReads.push_back(label);
        if (AdvancePeriodicInput(y, d) == PeriodicInputAction::Read) yearReads.push_back(label);
      }
  EXPECT_EQ(monthReads, (std::vector<std::string>{"2020-2-1", "2020-4-1", "2020-6-1", "2020-8-1", "2020-10-1",
                                                  "2020-12-1", "2021-2-1", "2021-4-1", "2021-6-1", "2021-8-1",
                                                  "2021-10-1", "2021-12-1"}));
  EXPECT_EQ(yearReads, (std::vector<std::string>{"2020-1-1", "2021-1-1"}));
}

TEST(PeriodicInput, UnknownUnitOrNoPeriodicityNeverReads) {
  StandardGridSpec w = Periodic(1, "W", 1);
  StandardGridSpec none;  // block count -1
  EXPECT_TRUE(RunHourly(w, 2).empty());
  EXPECT_TRUE(RunHourly(none, 2).empty());
  EXPECT_TRUE(IsCodeGrid("landuse"));
  EXPECT_TRUE(IsCodeGrid("soil_types"));
  EXPECT_TRUE(IsCodeGrid("irrigation_codes"));
  EXPECT_FALSE(IsCodeGrid("lai"));
}
