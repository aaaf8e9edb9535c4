#include "meteo/station_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

constexpr double N = 9999.0;
constexpr int64_t kNever = INT64_MAX;  // the end key of a run that never ends

const char* kHourly =
    "temperature test stations\n"
    "YY MM DD HH  2000 1500 1000\n"
    "YY MM DD HH  100.5 200 300\n"
    "YY MM DD HH  10 20 30\n"
    "YY MM DD HH  A B C\n"
    "98 12 31 23  1 2 3\n"
    "1999 1 1 0   4 5 6\n"
    "1999 1 1 1   7 x 99999\n"
    "1999 1 1 2   -1 -1 -1\n"
    "\n";

StationFile MakeFile(const TempDir& dir, const std::string& text, int additional = 0) {
  StationFile f;
  f.fileName = dir.file("stations.dat");
  WriteTextFile(f.fileName, text);
  f.additionalColumns = additional;
  return f;
}

ModelDate Date(int64_t y, int64_t m, int64_t d, int64_t h, int64_t mi = 0) {
  ModelDate date;
  date.year = y;
  date.month = m;
  date.day = d;
  date.hour = h;
  date.minute = mi;
  return date;
}

TEST(StationHeader, MinuteColumnAdditionalColumnsAndCounts) {
  StationHeader h;
  std::string why;
  ASSERT_TRUE(ParseStationHeader("YY MM DD HH mm 1 2", "YY MM DD HH mm 3 4", "YY MM DD HH mm 5 6", 0, h, why)) << why;
  EXPECT_TRUE(h.minuteColumn);
  EXPECT_EQ(h.count, 2);
  EXPECT_EQ(h.x[2], 4.0);
  EXPECT_EQ(h.y[1], 5.0);
  // "mn" is no minute column: it counts as a station (and is no number).
  EXPECT_FALSE(ParseStationHeader("YY MM DD HH mn 1", "YY MM DD HH mn 3", "YY MM DD HH mn 5", 0, h, why));
  std::string l2 = "YYYY\tMM DD HH a b c", l3 = "YY MM DD HH a b c", l4 = l3;
  for (int k = 1; k <= 25; ++k) {
    l2 += " " + std::to_string(k);
    l3 += " " + std::to_string(1000 + k);
    l4 += " " + std::to_string(2000 + k);
  }
  ASSERT_TRUE(ParseStationHeader(l2, l3, l4, 3, h, why)) << why;
  EXPECT_FALSE(h.minuteColumn);
  EXPECT_EQ(h.count, 25);
  EXPECT_EQ(h.altitude[25], 25.0);
  EXPECT_EQ(h.x[1], 1001.0);
  // A coordinate row shorter than the altitude row is refused.
  EXPECT_FALSE(ParseStationHeader("YY MM DD HH 1 2", "YY MM DD HH 3", "YY MM DD HH 5 6", 0, h, why));
  EXPECT_NE(why.find("X coordinate"), std::string::npos);
}

TEST(StationLine, Options) {
  StationLineOptions o = ParseStationLineOptions("t.dat AdditionalColumns=2 xmin = 5 ymax=7.5 # xmax");
  EXPECT_EQ(o.additionalColumns, 2);
  EXPECT_TRUE(o.hasXmin);
  EXPECT_EQ(o.xmin, 5.0);
  EXPECT_TRUE(o.hasYmax);
  EXPECT_EQ(o.ymax, 7.5);
  EXPECT_FALSE(o.hasXmax);  // "xmax" without a following "=" number
  EXPECT_EQ(StationBlockSize(500), 518);
}

TEST(StationFileReader, StartDateRecordsAndValidity) {
  TempDir dir;
  CapturedLog log;
  StationFile f = MakeFile(dir, kHourly);
  AnalyzeStationFile(log.log(), "temperature", N, f);
  ASSERT_EQ(f.count, 3);
  EXPECT_EQ(f.x[1], 100.5);
  FindStartDate(log.log(), "temperature", N, Date(1998, 12, 31, 23), f);  // year 98 is 1998
  EXPECT_EQ(f.values[3], 3.0);
  const int64_t endKey = Date(1999, 1, 1, 2).Key();
  EXPECT_FALSE(NextStationRecord(log.log(), "temperature", N, endKey, f));
  EXPECT_EQ(f.recordDate.Key(), Date(1999, 1, 1, 0).Key());
  EXPECT_EQ(f.values[2], 5.0);
  EXPECT_FALSE(f.equalValues);
  EXPECT_FALSE(NextStationRecord(log.log(), "temperature", N, endKey, f));
  EXPECT_EQ(f.values[1], 7.0);
  EXPECT_EQ(f.values[2], -N - 1);  // unreadable: missing, one warning
  EXPECT_EQ(f.values[3], -N - 1);  // above N
  EXPECT_TRUE(f.equalValues);      // one valid value only
  EXPECT_FALSE(NextStationRecord(log.log(), "temperature", N, endKey, f));
  EXPECT_TRUE(f.equalValues);
  EXPECT_TRUE(NextStationRecord(log.log(), "temperature", N, endKey, f));  // end date reached
  EXPECT_NE(log.console().find("unreadable station values"), std::string::npos);
  EXPECT_EQ(log.console().find("before the end of the simulation period"), std::string::npos);
  // Whether a record follows the current one is known before the step that would take it,
  // across the ends of the read-ahead blocks; a record dated 0 0 0 ends the records.
  for (const char* tail : {"", "0 0 0 3 1 1 1\n"}) {
    CapturedLog tailLog;
    StationFile g = MakeFile(dir, std::string(kHourly) + tail);
    AnalyzeStationFile(tailLog.log(), "temperature", N, g);
    FindStartDate(tailLog.log(), "temperature", N, Date(1998, 12, 31, 23), g);
    g.blockSize = 2;
    g.readIndex = 3;
    const int64_t never = Date(2100, 1, 1, 0).Key();
    for (int k = 0; k < 3; ++k) {
      EXPECT_FALSE(NoRecordAfterCurrent(tailLog.log(), "temperature", N, never, g)) << k;
      ASSERT_FALSE(NextStationRecord(tailLog.log(), "temperature", N, never, g));
    }
    EXPECT_EQ(g.recordDate.hour, 2);
    EXPECT_TRUE(NoRecordAfterCurrent(tailLog.log(), "temperature", N, never, g)) << tail;
    EXPECT_TRUE(NextStationRecord(tailLog.log(), "temperature", N, never, g));
  }
}

TEST(StationFileReader, ShortFileIsReportedAndBlocksRefill) {
  TempDir dir;
  CapturedLog log;
  std::string text = "x\nYY MM DD HH mm 1\nYY MM DD HH mm 0\nYY MM DD HH mm 0\nname\n";
  for (int m = 0; m < 50; m += 10) text += "2020 5 1 3 " + std::to_string(m) + " " + std::to_string(m) + "\n";
  StationFile f = MakeFile(dir, text);
  AnalyzeStationFile(log.log(), "precipitation", N, f);
  EXPECT_TRUE(f.minuteColumn);
  FindStartDate(log.log(), "precipitation", N, Date(2020, 5, 1, 3, 10), f);
  f.blockSize = 2;  // small blocks: every second record refills
  f.readIndex = 3;
  const int64_t endKey = Date(2020, 5, 2, 0).Key();
  for (int m = 20; m < 50; m += 10) {
    ASSERT_FALSE(NextStationRecord(log.log(), "precipitation", N, endKey, f));
    EXPECT_EQ(f.recordDate.minute, m);
    EXPECT_EQ(f.values[1], m);
  }
  EXPECT_TRUE(NextStationRecord(log.log(), "precipitation", N, endKey, f));
  EXPECT_NE(log.console().find("station file " + f.fileName + " of interpolator precipitation ends"), std::string::npos);
  EXPECT_NE(log.console().find("1.5.2020 3:40"), std::string::npos);
}

TEST(StationFileReader, MalformedFilesEndWithTheirCodes) {
  TempDir dir;
  {
    CapturedLog log;
    StationFile f = MakeFile(dir, kHourly);
    AnalyzeStationFile(log.log(), "t", N, f);
    try {
      FindStartDate(log.log(), "t", N, Date(2001, 1, 1, 0), f);
      FAIL();
    } catch (int code) {
      EXPECT_EQ(code, 51);
    }
    EXPECT_NE(log.console().find("dosnt contain date  1. 1.2001,  0: 0(feof)!\nthe start of the run ([model_time]) "
                                 "has to be the date of one of its records: its first record is dated 31.12.1998 "
                                 "23:0 (line 6), its last 1.1.1999 2:0 (line 9), before the start"),
              std::string::npos)
        << log.console();
  }
  auto codeOf = [&](const std::string& text, bool start) {
    CapturedLog log;
    StationFile f = MakeFile(dir, text);
    try {
      AnalyzeStationFile(log.log(), "t", N, f);
      if (start) FindStartDate(log.log(), "t", N, Date(1999, 1, 1, 1), f);
    } catch (int code) {
      return code;
    }
    return 0;
  };
  EXPECT_EQ(codeOf("x\nYY MM DD HH 1\n", false), 49);                                   // too short
  EXPECT_EQ(codeOf("x\nYY MM DD HH 1\nYY MM DD HH\nYY MM DD HH 1\n", false), 49);       // no X
  EXPECT_EQ(codeOf("x\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\nbad\n", true), 73);  // no date
  EXPECT_EQ(codeOf("x\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n99999999999999 1 1 1 5\n", true), 73);
  // A date or time written as one word, or an hour with a fraction, would shift the fields;
  // a minus glued to the hour begins the first value.
  const std::string head = "x\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n";
  for (const char* record : {"1999-01-01 1 5\n", "1999 1 1 01:00 5\n", "1999 1 1 1.0 5\n", "1999/1/1 1 5\n"})
    EXPECT_EQ(codeOf(head + record, true), 73) << record;
  EXPECT_EQ(codeOf(head + "1999 1 1 1-5.5\n", true), 0);
  // A number behind the values the header gives (a flag behind each value) does not fit
  // the columns; a remark there does.
  EXPECT_EQ(codeOf(head + "1999 1 1 1 5 0\n", true), 73);
  EXPECT_EQ(codeOf(head + "1999 1 1 1 5 # checked\n", true), 0);
  EXPECT_EQ(codeOf(head + "1999 1 1 1 5\n1999 1 1 2 5 1\n", true), 0);  // not read at the start
  // The message of a file whose start record (1999-01-01 1 h, or as given) cannot be taken.
  auto refusalOf = [&](const std::string& text, int additional, int hour = 1) {
    CapturedLog log;
    StationFile f = MakeFile(dir, text, additional);
    AnalyzeStationFile(log.log(), "t", N, f);
    EXPECT_THROW(FindStartDate(log.log(), "t", N, Date(1999, 1, 1, hour), f), int);
    return log.console();
  };
  EXPECT_NE(refusalOf(head + "1999 1 1 5.0 5\n", 0, 5)
                .find("line 6: '1999 1 1 5.0 5'\nthe hour '5.0' is no whole number; a record begins with the year, "
                      "month, day and hour as whole numbers of their own"),
            std::string::npos);
  // Additional columns stand between the date and the values.
  const std::string flagged = "x\nYY MM DD HH q 1 2\nYY MM DD HH q 3 4\nYY MM DD HH q 5 6\nn\n";
  {
    CapturedLog log;
    StationFile f = MakeFile(dir, flagged + "1999 1 1 1 7 5 6\n", 1);
    AnalyzeStationFile(log.log(), "t", N, f);
    FindStartDate(log.log(), "t", N, Date(1999, 1, 1, 1), f);
    EXPECT_EQ(f.values[1], 5.0);
    EXPECT_EQ(f.values[2], 6.0);
  }
  EXPECT_NE(refusalOf(flagged + "1999 1 1 1 5 0 6 0\n", 1)
                .find(", line 6: the number '0' stands behind the 2 station values that line 2 gives (behind the "
                      "date and AdditionalColumns=1 columns)"),
            std::string::npos);
  // Without the names line the first record stands on line 5: the message names that line.
  const std::string unnamed = "x\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\n";
  EXPECT_NE(refusalOf(unnamed + "1999 1 1 1 5\n1999 1 1 2 5\n", 0)
                .find("reads as a record dated 1.1.1999 1:0: line 5 is the line of the station names, which the "
                      "file lacks"),
            std::string::npos);
  EXPECT_EQ(codeOf(unnamed + "1999 1 1 0 5\n1999 1 1 1 5\n", true), 0);
  {
    CapturedLog iso;
    StationFile f = MakeFile(dir, "x\nYY MM DD HH mm 1\nYY MM DD HH mm 2\nYY MM DD HH mm 3\nn\n2019-11-01 00:00 5\n");
    AnalyzeStationFile(iso.log(), "t", N, f);
    EXPECT_THROW(FindStartDate(iso.log(), "t", N, Date(2019, 11, 1, 0), f), int);
    EXPECT_NE(iso.console().find("line 6: '2019-11-01 00:00 5'\nthe date '2019-11-01' is written as one word; a "
                                 "record begins with the year, month, day and hour, and the minute that line 2 "
                                 "declares with \"mm\", as whole numbers of their own, separated by blanks or tabs "
                                 "(YYYY MM DD HH mm: '2019 11 1 0 0'"),
              std::string::npos)
        << iso.console();
  }
  StationFile missing;
  missing.fileName = dir.file("absent.dat");
  CapturedLog log;
  EXPECT_THROW(AnalyzeStationFile(log.log(), "t", N, missing), int);
}

}  // namespace

namespace {

TEST(StationFileReader, LongLinesAreOneRecord) {
  // 400 stations: header and data lines far beyond 2400 characters.
  std::string alt = "YY MM DD HH", x = alt, y = alt, row1 = "2001 1 1 0", row2 = "2001 1 1 1";
  for (int k = 1; k <= 400; ++k) {
    alt += " 1000.000";
    x += " " + std::to_string(100000 + k);
    y += " " + std::to_string(200000 + k);
    row1 += " " + std::to_string(k) + ".12345";
    row2 += " " + std::to_string(-k) + ".12345";
  }
  TempDir dir;
  CapturedLog log;
  StationFile f = MakeFile(dir, "t\n" + alt + "\n" + x + "\n" + y + "\nn\n" + row1 + "\n" + row2 + "\n");
  AnalyzeStationFile(log.log(), "t", N, f);
  ASSERT_EQ(f.count, 400);
  FindStartDate(log.log(), "t", N, Date(2001, 1, 1, 0), f);
  EXPECT_EQ(f.values[400], 400.12345);
  EXPECT_FALSE(NextStationRecord(log.log(), "t", N, Date(2001, 1, 1, 1).Key(), f));
  EXPECT_EQ(f.recordDate.hour, 1);
  EXPECT_EQ(f.values[400], -400.12345);
  EXPECT_TRUE(NextStationRecord(log.log(), "t", N, Date(2001, 1, 1, 1).Key(), f));
}

}  // namespace

namespace {

// A value of exactly -N or N is data (the validity rule keeps -N <= v <= N), but almost
// surely a marker the no-data value does not catch: the first one the run reads, at the
// start record or in a later block, is warned about once per file. Values beyond N are
// missing: those above N are counted in one WARNING per file with the largest (once the
// first block is read), those below -N and those before the start without a word.
TEST(StationFileReader, AValueAtTheNoDataBoundIsDataWithOneWarning) {
  TempDir dir;
  for (const bool atStart : {true, false}) {
    CapturedLog log;
    StationFile f = MakeFile(dir, std::string("t\nYY MM DD HH 1 2\nYY MM DD HH 1 2\nYY MM DD HH 1 2\nn\n"
                                              "2001 1 1 0 9999 -9999\n") +
                                      (atStart ? "2001 1 1 1 -9999 9999.5\n" : "2001 1 1 1 1 -9999.5\n") +
                                      "2001 1 1 2 2 -9999\n2001 1 1 3 9999 3\n");
    AnalyzeStationFile(log.log(), "temperature basin", N, f);
    FindStartDate(log.log(), "temperature basin", N, Date(2001, 1, 1, 1), f);
    const int64_t endKey = Date(2001, 1, 1, 3).Key();
    EXPECT_EQ(f.values[2], -N - 1);  // beyond N: missing
    EXPECT_FALSE(NextStationRecord(log.log(), "temperature basin", N, endKey, f));
    EXPECT_EQ(f.values[2], -N);  // data
    EXPECT_FALSE(NextStationRecord(log.log(), "temperature basin", N, endKey, f));
    const std::string console = log.console();
    const std::string warning = atStart ? "line 7, station 1: the value -9999 equals minus the no-data value 9999 of "
                                          "[temperature], so it counts as data (the values from -9999 to 9999 are data)"
                                        : "line 8, station 2: the value -9999 equals minus";
    EXPECT_NE(console.find(warning), std::string::npos) << console;
    const size_t first = console.find("so it counts as data");
    EXPECT_EQ(console.find("so it counts as data", first + 1), std::string::npos) << "one warning per file";
    EXPECT_NE(console.find("give [temperature] a no-data value below its size"), std::string::npos) << console;
    const size_t above = console.find(" of [temperature]: 1 of the 6 values of lines 7 to 9 lie above the no-data "
                                      "value 9999 of [temperature] (the largest 9999.5) and count as missing");
    EXPECT_EQ(above != std::string::npos, atStart) << console;
  }
  // Where the file goes on behind the block the count stops at, the WARNING says so.
  CapturedLog log;
  StationFile f = MakeFile(dir, "t\nYY MM DD HH 1 2\nYY MM DD HH 1 2\nYY MM DD HH 1 2\nn\n2001 1 1 1 -9999 9999.5\n"
                                "2001 1 1 2 2 -9999\n2001 1 1 3 9999 3\n");
  AnalyzeStationFile(log.log(), "temperature basin", N, f);
  FindStartDate(log.log(), "temperature basin", N, Date(2001, 1, 1, 1), f);
  f.blockSize = 1;
  f.readIndex = 2;
  EXPECT_FALSE(NextStationRecord(log.log(), "temperature basin", N, Date(2001, 1, 1, 3).Key(), f));
  EXPECT_NE(log.console().find("1 of the 4 values of lines 6 to 7 lie above the no-data value 9999 of [temperature] "
                               "(the largest 9999.5) and count as missing: if they are data, give [temperature] a "
                               "no-data value above them. This is said once per file, so the lines after line 7 are "
                               "not counted"),
            std::string::npos)
      << log.console();
}

// Records follow each other by the file's step: hour 24 is 0 h of the next day, a record of
// the next block is measured from the last of the one before, and a step taken twice ends
// the run naming the file, the line and both dates.
TEST(StationFileReader, RecordsThatDoNotFollowByTheStepEndTheRun) {
  TempDir dir;
  CapturedLog log;
  StationFile f = MakeFile(dir, "t\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n"
                                "2001 1 1 23 1\n2001 1 1 24 2\n2001 1 2 1 3\n2001 1 2 2 4\n2001 1 2 2 5\n");
  AnalyzeStationFile(log.log(), "t", N, f);
  FindStartDate(log.log(), "t", N, Date(2001, 1, 1, 23), f);
  f.stepMinutes = 60;
  f.blockSize = 2;  // the repeated record lies in the second block
  f.readIndex = 3;
  const int64_t endKey = Date(2001, 1, 3, 0).Key();
  for (int k = 0; k < 3; ++k) ASSERT_FALSE(NextStationRecord(log.log(), "t", N, endKey, f)) << log.console();
  EXPECT_EQ(f.recordDate.hour, 2);
  try {
    NextStationRecord(log.log(), "t", N, endKey, f);
    FAIL() << "a repeated step was taken";
  } catch (int code) {
    EXPECT_EQ(code, 73);
  }
  EXPECT_NE(log.console().find("station file " + f.fileName + " of interpolator t, line 10: the date 2.1.2001 2:0 "
                               "follows the date 2.1.2001 2:0 of line 9 by 0 minutes"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(log.console().find("to run over the gap"), std::string::npos) << "a repeated step is no gap";

  // Whole steps left out: the message says which records mend the file; a stamp off the
  // steps (70 minutes) is no gap of whole steps.
  for (const char* next : {"2001 1 2 2 0 4\n", "2001 1 2 0 10 4\n"}) {
    CapturedLog gapLog;
    StationFile g = MakeFile(dir, std::string("t\nYY MM DD HH mm 1\nYY MM DD HH mm 2\nYY MM DD HH mm 3\nn\n"
                                              "2001 1 1 22 30 1\n2001 1 1 23 0 2\n") + next);
    AnalyzeStationFile(gapLog.log(), "t", N, g);
    FindStartDate(gapLog.log(), "t", N, Date(2001, 1, 1, 22, 30), g);
    g.stepMinutes = 30;
    ASSERT_FALSE(NextStationRecord(gapLog.log(), "t", N, endKey, g));
    EXPECT_THROW(NextStationRecord(gapLog.log(), "t", N, endKey, g), int);
    const bool whole = std::string(next).find(" 0 10 ") == std::string::npos;
    EXPECT_EQ(gapLog.console().find("give the file a record for each of the 5 missing steps between these two, with "
                                    "-10000 (outside -9999 to 9999, so missing) for every station without a value") !=
                  std::string::npos,
              whole)
        << gapLog.console();
  }
}

// The run's step is the distance between the record of the start and the next one (blank
// lines skipped, years 0..99 of the 1900s): records before the start, a gap among them
// included, say nothing of it. A start that is no record's date names the file's first
// record and the first after the start.
TEST(StationFileReader, TheStartRecordAndTheNextGiveTheStepAndTheStartHint) {
  TempDir dir;
  CapturedLog log;
  StationFile f = MakeFile(dir, "t\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n\n"
                                "99 12 29 24 1\n99 12 31 24 1\n\n2000 1 1 24 2\n2000 1 2 24 3\n");
  AnalyzeStationFile(log.log(), "t", N, f);
  FindStartDate(log.log(), "t", N, Date(1999, 12, 31, 24), f);
  StepRecords r = ReadStepRecords(log.log(), f, kNever);
  ASSERT_EQ(r.count, 2);
  EXPECT_EQ(r.date[0].year, 1999);
  EXPECT_EQ(r.date[0].day, 31);
  EXPECT_EQ(r.line[0], 8);
  EXPECT_EQ(r.line[1], 10);
  EXPECT_EQ(r.StepMinutes(), 1440.0);
  FindStartDate(log.log(), "t", N, Date(2000, 1, 1, 24), f);
  r = ReadStepRecords(log.log(), f, kNever);
  EXPECT_EQ(r.line[0], 10);
  EXPECT_EQ(r.line[1], 11);
  EXPECT_EQ(r.StepMinutes(), 1440.0);
  try {
    FindStartDate(log.log(), "t", N, Date(2000, 1, 1, 0), f);
    FAIL() << "a start between two records was taken";
  } catch (int code) {
    EXPECT_EQ(code, 51);
  }
  EXPECT_NE(log.console().find("its first record is dated 29.12.1999 24:0 (line 7), the first after the start "
                               "1.1.2000 24:0 (line 10)"),
            std::string::npos)
      << log.console();

  // The start at the last record: no step from this file.
  FindStartDate(log.log(), "t", N, Date(2000, 1, 2, 24), f);
  EXPECT_EQ(ReadStepRecords(log.log(), f, kNever).count, 1);
  EXPECT_EQ(ReadStepRecords(log.log(), f, kNever).StepMinutes(), 0.0);
  StationFile none = MakeFile(dir, "t\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n");
  AnalyzeStationFile(log.log(), "t", N, none);
  EXPECT_EQ(ReadStepRecords(log.log(), none, kNever).count, 0);
  EXPECT_THROW(FindStartDate(log.log(), "t", N, Date(2000, 1, 1, 0), none), int);
  EXPECT_NE(log.console().find("the file holds no record below its five header lines"), std::string::npos);
  StationFile bad = MakeFile(dir, "t\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\nx y\n2000 1 1 0 1\n2000 x\n");
  AnalyzeStationFile(log.log(), "t", N, bad);
  try {
    FindStartDate(log.log(), "t", N, Date(2000, 1, 1, 0), bad);
    FAIL() << "an unreadable date before the start was taken";
  } catch (int code) {
    EXPECT_EQ(code, 73);
  }
  StationFile late = MakeFile(dir, "t\nYY MM DD HH 1\nYY MM DD HH 2\nYY MM DD HH 3\nn\n2000 1 1 0 1\n2000 x\n");
  AnalyzeStationFile(log.log(), "t", N, late);
  FindStartDate(log.log(), "t", N, Date(2000, 1, 1, 0), late);
  try {
    ReadStepRecords(log.log(), late, kNever);
    FAIL() << "an unreadable date was taken";
  } catch (int code) {
    EXPECT_EQ(code, 73);
  }
  // A run of the start record alone reads no record after it: the line is none of the run's.
  EXPECT_EQ(ReadStepRecords(log.log(), late, Date(2000, 1, 1, 0).Key()).count, 1);
}

}  // namespace
