// Meteorological station files: header analysis, positioning at the start date, and
// reading records ahead in blocks.
//
// Layout (tokens separated by blanks or tabs):
//   line 1   free text
//   line 2   four date tokens made of Y, M, D, H; optionally "mm" (minute column); the
//            additional columns; one altitude per station
//   line 3   the same leading tokens, then the X coordinate of each station
//   line 4   the same leading tokens, then the Y coordinate of each station
//   line 5   free text (station names)
//   line 6.. year month day hour [minute] [additional columns] value per station
//
// A year of 0..99 means 1900 + year. A value v is kept when -N <= v <= N (N: the
// interpolator's nodata value) and stored as -N-1 otherwise: a value of -N is data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/model_date.h"
#include "framework/text_helpers.h"

class LogStream;

// Reads a file line by line in large chunks; knows the byte offset after each line.
class LineReader {
 public:
  // Opens the file and seeks to offset; Ok() tells whether that worked.
  LineReader(const std::string& path, uint64_t offset = 0);
  bool Ok() const { return ok_; }
  // The next whole line without its line break and a trailing "\r"; false at the end.
  bool NextLine(std::string& line);
  // Byte offset just after the last line returned.
  uint64_t Offset() const { return offset_; }
  bool AtEnd();

 private:
  bool Fill();
  std::string path_;
  std::string chunk_;
  size_t pos_ = 0;
  uint64_t offset_ = 0;
  bool eof_ = false;
  bool ok_ = false;
  uint64_t fileOffset_ = 0;  // offset of chunk_[0]
};

// The header of a station file (arrays indexed 1..count).
struct StationHeader {
  bool minuteColumn = false;
  int count = 0;
  std::vector<double> altitude, x, y;
};

// The station values of a file read so far (the read-ahead included), and those of them
// beyond the no-data value N (above N, with the largest, and below -N), which count as
// missing.
struct ValueTally {
  long read = 0;
  long above = 0;
  long below = 0;
  double largest = 0.0;
};

// One station file of an interpolator with its current record and its read-ahead block.
struct StationFile {
  std::string fileName;
  std::string fileLine;  // the whole control line (options such as "AdditionalColumns=")
  int additionalColumns = 0;
  bool minuteColumn = false;
  int count = 0;
  std::vector<double> altitude, x, y;  // 1..count
  std::vector<double> values;          // current record, 1..count
  ModelDate recordDate;
  bool equalValues = false;
  uint64_t readPosition = 0;  // byte offset after the last record read
  uint64_t startOffset = 0;   // byte offset of the start record
  long startLine = 0;         // line of the start record
  long nextLine = 0;          // line number at readPosition (for messages)
  long recordLine = 0;        // line of the current record
  // The time step of the run in minutes: every record has to follow the one before by it
  // (0: not checked); stepSource says where the step comes from (for messages).
  int stepMinutes = 0;
  std::string stepSource;

  // Read-ahead block: blockCount records, taken from readIndex (1-based) on.
  int blockSize = 1;
  int blockCount = 0;
  int readIndex = 2;
  std::vector<ModelDate> blockDates;  // 1..blockSize
  std::vector<double> blockValues;    // record k at (k - 1) * (count + 1), values 1..count
  std::vector<long> blockLines;       // 1..blockSize: the line of each record
  bool fileEnded = false;             // the last block reached the end of the file or the run's
                                      // last record (EndsTheRecords): nothing after it is read
  bool warnedUnreadable = false;
  bool warnedAtBound = false;  // a value equal to -N or N was warned about
  bool warnedAbove = false;    // the values above N were counted in a WARNING
  ValueTally tally;
  ModelDate lastDateRead;
};

// The record at the run's start and the one after it, dated with the year fix: the distance
// between them is the time step of the run whose clock the file is. Records before the
// start are only skipped: a gap among them does not set the step.
struct StepRecords {
  int count = 0;  // 0, 1 (the start record is the file's last) or 2
  ModelDate date[2];
  long line[2] = {0, 0};
  // Minutes from the first record to the second (count 2 only).
  double StepMinutes() const;
};

// The longest time step of a run, in minutes (as the "timestep" key of [output_interval]).
constexpr double kMaxRecordStepMinutes = 1000000.0;
// Where the time step comes from, as the messages say it.
inline std::string RecordStepSource(const std::string& file) {
  return "the distance between the record of the run's start and the next one in " + file;
}

// Number of records of a read-ahead block for a file of n stations.
int StationBlockSize(int n);

// Analyses lines 2..4 of a station file. On bad input returns false and a reason.
bool ParseStationHeader(const std::string& line2, const std::string& line3, const std::string& line4,
                        int additionalColumns, StationHeader& header, std::string& why);

// Largest magnitude of a date field that a record may hold.
constexpr long kMaxDateField = 10000000;
// Reads the date of a record line (without the year fix) and skips the additional
// columns; false when the date cannot be read or a field is beyond kMaxDateField. Every
// field is a whole number of its own: one glued to a date or time mark ("2019-11-01",
// "1.11.2019", "12:00", an hour "1.0") is refused, as reading on behind its first digits
// would take the rest for the next fields or the first station value. A minus behind the
// last field ("0-10.6") begins the first value, as a column of fixed width writes it.
bool ParseRecordDate(TextCursor& line, bool minuteColumn, int additionalColumns, ModelDate& date);
// What the message on a record whose date cannot be read adds when its first word holds a
// date or time mark between digits ("2019-11-01", "01.11.2019"): the word as written and
// the form a record's date has. Empty otherwise.
std::string RecordDateNote(const std::string& line, bool minuteColumn);
// Reads count station values into values[1..count] with the validity rule; values that
// are absent or not numbers become -N-1. Returns the number of those. tally, when given,
// counts the numbers read and those beyond N.
int ParseRecordValues(TextCursor& line, int count, double nodata, double* values, ValueTally* tally = nullptr);

// The control-file options of a station line: "AdditionalColumns=" and the window bounds
// "xmin", "xmax", "ymin", "ymax" (the number after the first "=" behind the word).
struct StationLineOptions {
  int additionalColumns = 0;
  bool hasXmin = false, hasXmax = false, hasYmin = false, hasYmax = false;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};
StationLineOptions ParseStationLineOptions(const std::string& line);

// --- file operations; failures write a FATAL message and throw the error code ---------------
// Header analysis: fills minute flag, count, altitude, X, Y and sets the values to -N-1.
void AnalyzeStationFile(LogStream& log, const std::string& name, double nodata, StationFile& f);
// What a search for the start record has seen: the file's first and last record and the
// first one after the start, to tell the user which dates the file holds.
class StartSearch {
 public:
  explicit StartSearch(const ModelDate& start) : start_(start) {}
  void Note(const ModelDate& date, long line);
  // The lines that follow "... dosnt contain date ...": the start has to be a record's date.
  std::string Hint() const;

 private:
  ModelDate start_, first_, second_, last_, after_;
  long firstLine_ = 0, secondLine_ = 0, lastLine_ = 0, afterLine_ = 0;
};

// Reads the dates of the start record and the next one; the file has been positioned by
// FindStartDate (startOffset, startLine). Code 73 for a line whose date cannot be read,
// unless the start record is the run's last (end key endKey): the line then is no record
// of the run, and the count stays 1.
StepRecords ReadStepRecords(LogStream& log, const StationFile& f, int64_t endKey);
// Positions the file at the start record and loads its values. Without a record of the start
// date the run ends with code 51, naming the file's first record and the first after the start.
void FindStartDate(LogStream& log, const std::string& name, double nodata, const ModelDate& start,
                   StationFile& f);
// Whether the run takes no record after one of this date (the year fix applied): its date
// key reaches endKey, or it is dated 0.0.0.
bool EndsTheRecords(const ModelDate& date, int64_t endKey);
// Refills the read-ahead block from the read position; false when no record is left. The
// block ends with the record that ends the records (EndsTheRecords): a line after it is
// never read, so it may be anything. Code 73 for a line before it whose date cannot be read.
bool ReadStationBlock(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f);

// Takes the next record into the file's current values (end key: date key of the end date).
// Returns true when the end of the period is reached (the values are then unchanged). A
// record that does not follow the one before by the file's step (a repeated or missing
// step, a record out of order) ends the run naming the file, its line and date (code 73).
bool NextStationRecord(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f);
// Whether the file holds no record after the current one. Refills the read-ahead block
// when it is used up, as the next step would; a record dated 0.0.0 ends the records.
bool NoRecordAfterCurrent(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f);
// Equal-values flag of a record: its valid values are all equal, or none is valid.
bool AllValidValuesEqual(const double* values, int count, double nodata);
