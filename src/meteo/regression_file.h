// Regression files prepared outside the model (interpolation methods 2 and 3): per date
// eleven regression parameters, as text or as 120-byte binary records.
//
// Text form: a header line whose characters 1, 2, 4 and 5 are j, r, m, o (for example
// "jr mo tg st ..."), then one record per line: year month day hour and eleven values.
// Binary form (any other beginning): records of four 64-bit integers (year, month, day,
// hour) and eleven 64-bit doubles in the machine's byte order, without a header.
// A year of 999 or less means 1900 + year; the minute of a record is 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/model_date.h"

class LogStream;

// The eleven values in file order: intercept 1, gradient 1, segment limit 1, intercept 2,
// gradient 2, segment limit 2, intercept 3, gradient 3, c0, cx, cy. An intercept 1 below
// -N marks a record without valid parameters.
struct RegressionParameters {
  double intercept[4] = {0, 0, 0, 0};  // 1..3
  double gradient[4] = {0, 0, 0, 0};   // 1..3
  double limit1 = 0, limit2 = 0;
  double c0 = 0, cx = 0, cy = 0;
  // Set when the plane was fitted to stations: its c0 may then lie below -N (large
  // coordinates), which in a file's record means that there is no plane.
  bool planeFitted = false;
};
RegressionParameters RegressionFromValues(const double v[11]);

struct RegressionRecord {
  ModelDate date;
  double v[11] = {0};
};

struct RegressionFile {
  std::string fileName;
  bool textForm = false;
  uint64_t readPosition = 0;
  long nextLine = 0;                  // text form: line number at the read position
  std::vector<RegressionRecord> block;  // read-ahead block
  int blockCount = 0;
  int readIndex = 0;                  // 1-based; past blockCount: refill
  bool fileEnded = false;
  // The end key of the run: the read-ahead stops at the record that reaches it (or one dated
  // 0.0.0), so that a line after the run's last record is never read.
  int64_t lastKey = INT64_MAX;
  bool warnedUnreadable = false;
  ModelDate current;
  RegressionParameters parameters;
};

// Records per read-ahead block.
constexpr int kRegressionBlockSize = 15420;

// True when the first bytes of a file mark the text form.
bool IsTextRegressionHeader(const std::string& firstBytes);
// One text record; values that cannot be read make the record invalid (intercept 1 = -1e300)
// and are counted in *bad. False when the date cannot be read.
bool ParseRegressionLine(const std::string& line, RegressionRecord& record, int* bad);

// Positions the file at the start date (hour resolution) and loads its parameters;
// code 51 when the date is absent, 49 when the file cannot be opened.
void FindRegressionStart(LogStream& log, const std::string& name, const ModelDate& start, RegressionFile& f);
// Refills the read-ahead block from the read position, up to the record that reaches
// lastKey; false when nothing is left.
bool ReadRegressionBlock(LogStream& log, RegressionFile& f);
// Takes the next record as the current date and parameters. Returns true at the end of the
// period (end key reached, file exhausted, or a record dated 0.0.0).
bool NextRegressionRecord(LogStream& log, const std::string& name, int64_t endKey, RegressionFile& f);
// Whether the file holds no record after the current one (refills the block when it is used
// up, as the next step would; a record dated 0.0.0 ends the records).
bool NoRegressionRecordAfterCurrent(LogStream& log, RegressionFile& f);
