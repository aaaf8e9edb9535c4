// Rule texts of "[data_assimilation]" and the list files of the rules: dated records read
// word by word, and the fixed-column lines of the provider layout of lake levels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/text_helpers.h"

// Reads one rule from the position of file: its first line, then lines until the braces
// opened since the first line are closed again (a line with "{" adds one, a line with "}"
// takes one away). Lines are joined with "\n". Returns false when the text ends first.
bool ReadRuleText(TextCursor& file, std::string& rule);

// Calendar seconds (UTC) of an hour; values out of range roll over as the calendar does
// (month 13 is January of the next year). -1 when the date cannot be represented.
int64_t CalendarSeconds(int64_t year, int64_t month, int64_t day, int64_t hour);

// Skips the first line and the four header entries of a list file (four words and a
// value each). False when the file ends first.
bool SkipListHeader(TextCursor& file);

// The date of a record: year, month, day, hour and minute.
struct ListDate {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  // A number in the place of the minute that is no whole number 0 to 59 ("60", "-1",
  // "59.9"): the record is refused before the run. Empty otherwise.
  std::string minuteWord;
};
// A dated record's date: year, month, day, hour, then the minute where the record gives
// one: a number behind the hour with the record's value behind it on the same line (a
// level where levels is set, else a grid file). Without it the minute is 0; a minute that
// is no whole number 0 to 59 is kept in minuteWord. False when one of the first four
// cannot be read.
bool ReadRecordDate(TextCursor& file, bool levels, ListDate& date);
// Moves the cursor to the end of its line: what stands behind a record's grid file or
// level is a remark.
void SkipRecordRemark(TextCursor& file);

// One line of the provider layout: year in columns 23-26, month 28-29, day 31-32, hour
// 34-35, level from column 40 (to 49). The result tells what was wrong.
enum class FixedLineResult { Ok, TooShort, BadDate, BadLevel };
FixedLineResult ParseFixedLevelLine(const std::string& line, int& year, int& month, int& day, int& hour,
                                    double& level);

// Whether a record's date is one of the calendar: month 1 to 12, a day of that month, hour
// 0 to 24 (24 ends the day). Otherwise the field that is not, and what it must be.
bool IsCalendarDate(int year, int month, int day, int hour, std::string& field, std::string& expected);

// A record of a list file as the check before the run sees it.
struct ListRecord : ListDate {
  long line = 0;         // line of the list file where the record begins
  std::string gridFile;  // grid rules: the file that replaces the grid
};

// The records of a list in the model's own layout from the cursor's position on (the
// cursor is a copy): a date and a grid file name, or with levels set a date and a level.
// Returns the line of the first text behind the records that is no record (0 when the
// records reach the end of the file).
long ScanListRecords(TextCursor file, bool levels, std::vector<ListRecord>& records);
// The same for the provider layout (one record per line in fixed columns); problem tells
// what is wrong with the line returned.
long ScanFixedLevelRecords(TextCursor file, std::vector<ListRecord>& records, FixedLineResult& problem);
// What is wrong with a line of the provider layout, as the messages say it.
std::string FixedLineProblem(FixedLineResult result, long line);
