// The end of a day: every day of a run ends with one step, the first whose end reaches or
// passes its midnight, whatever the step, the offset from the stamp to the step's end and
// the way midnight is written.
#include <gtest/gtest.h>

#include <string>

#include "framework/model_date.h"

namespace {

std::string Text(const ModelDate& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day) + " " +
         std::to_string(d.hour) + ":" + std::to_string(d.minute);
}

// Minutes since 1970 of the end of `day` (0 h of the next), by the C library's calendar.
double EndOf(const ModelDate& d) {
  return MinutesSinceEpoch(static_cast<int>(d.year), static_cast<int>(d.month), static_cast<int>(d.day), 24, 0);
}

// Steps from 27 December 2023 over the turn of the year and the leap day to 3 March 2024:
// the days that end are each day once, in order, each with the first step whose end
// reaches its midnight; a run begun with any step holds the last day that ended before it;
// midnight written 24 h of the day before changes nothing.
TEST(DayEnds, EveryDayEndsOnceWithTheFirstStepThatReachesItsEnd) {
  // Step, offset from the stamp to the step's end and first stamp after 0 h, in minutes.
  const int clocks[][3] = {{15, 0, 0},  {15, 15, 0},  {30, 0, 0},     {30, 15, 0},   {30, 15, 15},    {30, 30, 0},
                           {45, 0, 0},  {45, 30, 0},  {45, 45, 0},    {60, 0, 0},    {60, 15, 0},     {60, 30, 0},
                           {60, 45, 0}, {60, 60, 0},  {60, 0, 30},    {90, 0, 0},    {90, 45, 0},     {90, 90, 0},
                           {1440, 0, 0}, {1440, 1440, 0}, {1440, 720, 720}, {1440, 0, 720}, {2880, 0, 0}, {2160, 0, 0}};
  const double from = MinutesSinceEpoch(2023, 12, 27, 0, 0), to = MinutesSinceEpoch(2024, 3, 3, 0, 0);
  for (const auto& k : clocks)
    for (bool midnightAs24 : {false, true}) {
      const int step = k[0], offset = k[1];
      SCOPED_TRACE(std::to_string(step) + " minutes, offset " + std::to_string(offset) + ", stamps " +
                   std::to_string(k[2]) + " minutes past" + (midnightAs24 ? ", midnight as 24 h" : ""));
      int64_t days = 0;
      ModelDate lastEnded;
      for (double t = from + k[2]; t < to; t += step) {
        ModelDate stamp = DateOfMinutesSinceEpoch(static_cast<int64_t>(t));
        if (midnightAs24 && stamp.hour == 0 && stamp.minute == 0) {
          stamp = DateOfMinutesSinceEpoch(static_cast<int64_t>(t) - 1440);
          stamp.hour = 24;
        }
        const double end = t + offset;
        if (!lastEnded.IsMissing()) {
          ASSERT_EQ(Text(DayEndedBeforeStep(stamp, offset / 60.0, step)), Text(lastEnded)) << Text(stamp);
        }
        const DayEnds e = DayEndsOfStep(stamp, offset / 60.0, step);
        if (e.count == 0) {
          if (!lastEnded.IsMissing()) {
            ASSERT_LT(end, EndOf(lastEnded) + 1440.0) << Text(stamp) << " passes a day's end";
          }
          continue;
        }
        ASSERT_GE(end, EndOf(e.last)) << Text(stamp);
        ASSERT_LT(end - step, EndOf(e.first)) << Text(stamp);
        ASSERT_EQ(EndOf(e.last) - EndOf(e.first), 1440.0 * static_cast<double>(e.count - 1)) << Text(stamp);
        if (!lastEnded.IsMissing()) {
          ASSERT_EQ(EndOf(e.first), EndOf(lastEnded) + 1440.0) << Text(stamp) << " leaves out a day or ends one twice";
        }
        lastEnded = e.last;
        days += e.count;
      }
      // From 25, 26 or 27 December to 1 or 2 March.
      EXPECT_GE(days, 66);
      EXPECT_LE(days, 68);
    }
  // A step of unknown length ends a day only at its midnight; a stamp off the calendar, none.
  EXPECT_EQ(DayEndsOfStep(ModelDate{30, 0, 1, 3, 2024}, 0.0, 0).count, 0);
  EXPECT_EQ(Text(DayEndsOfStep(ModelDate{0, 0, 1, 3, 2024}, 0.0, 0).last), "2024-2-29 24:0");
  EXPECT_EQ(DayEndsOfStep(ModelDate{}, 1.0, 60).count, 0);
  EXPECT_EQ(DayEndsOfStep(ModelDate{0, 0, 1, 13, 2024}, 0.0, 60).count, 0);
}

}  // namespace
