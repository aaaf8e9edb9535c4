// Block-wise reader of dated time series files, so that long series need not be held
// in memory.
//
// File layout: header lines (every line before the first line that begins with a digit);
// a header line that names YY, MM, DD and HH is the column-title line, and "mm" after
// those four titles adds a minute column. Then data rows: year, month, day, hour, the
// minute when the minute column is on, then a fixed number of values; fields are
// separated by any white space. The number of values is counted on the first data row;
// every later row is read with that many values, whatever its line layout.
//
// The file is opened only while a block is read. The table never logs: callers decide
// what a state means for their run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TimeSeriesTable {
 public:
  enum State : int {
    kNotOpened = 0,
    kMoreRows = 1,    // a block is loaded and more rows follow in the file
    kLastBlock = 2,   // the loaded block reaches the end of the file
    kCannotOpen = 3,  // the file could not be opened
    kEnd = 4,         // Next was called on the last row of the last block
    kReadError = 5,   // the header or a row could not be read
  };

  TimeSeriesTable() = default;
  // Opens fileName and loads its first block (see ParseHeader).
  TimeSeriesTable(const std::string& fileName, int option, int64_t blockSizeBytes);
  static std::unique_ptr<TimeSeriesTable> Open(const std::string& fileName, int option, int64_t blockSizeBytes);

  // Reads the header and the first block; does nothing unless the state is kNotOpened.
  // The block holds floor(blockSizeBytes / (8 * columns + 16)) rows, at least one.
  // A first data row that holds something other than numbers after its date leaves the
  // state kReadError with no rows, like any other row that cannot be read.
  void ParseHeader(const std::string& fileName, int option, int64_t blockSizeBytes);
  // Loads the next block from where the previous one ended.
  void ReadBlock();
  // Advances to the next row, loading the next block when the current one is used up;
  // after the last row of the file the state becomes kEnd.
  void Next();
  // Next for a reader that must not take a row that cannot be read for the end of the
  // file: after the last row before that row the table stands on it (CurrentRow() ==
  // RowCount()) and keeps kReadError, so that AtUnreadableRow() names it.
  void NextKeepingError();
  // The current row is the one that could not be read: no row before it is left.
  bool AtUnreadableRow() const { return state_ == kReadError && row_ >= rowCount_; }
  // Sets the current row when -1 <= index <= RowCount(); otherwise nothing.
  void SetRow(int64_t index);
  // Moves the current row by n when the result lies in -1..RowCount(); otherwise nothing.
  void MoveRow(int64_t n);

  // Date of the current row; every field -9999 when the current row is no loaded row.
  void GetDate(int& year, int& month, int& day, int& hour, int& minute) const;
  // Value of the 0-based column of the current row; -9999.0 for a column outside
  // 0..ColumnCount()-1 or when the current row is no loaded row.
  double GetValue(int64_t column) const;

  // Frees the loaded block.
  void Clear();

  int GetState() const { return state_; }
  int64_t CurrentRow() const { return row_; }
  int64_t RowCount() const { return rowCount_; }
  // Data rows of the file before the loaded block.
  int64_t RowsBeforeBlock() const { return rowsBefore_; }
  int64_t ColumnCount() const { return columns_; }
  int64_t Capacity() const { return capacity_; }
  bool HasMinuteColumn() const { return minuteColumn_; }
  int Option() const { return option_; }
  const std::string& FileName() const { return fileName_; }
  // With kReadError, where the file stops being a table: "line 4, column 5: \"n/a\" is no
  // number" (the column counts the fields of the line; a date field "is no whole number of
  // the date"), "line 4: the file ends inside a row", or "no data row" for a file whose
  // header is all there is; empty otherwise.
  std::string ErrorPlace() const;

 private:
  bool RowIsLoaded() const { return row_ >= 0 && row_ < rowCount_; }
  void Failed(uint64_t offset, bool dateField);

  std::string fileName_;
  int option_ = 0;
  int64_t blockSize_ = 0;
  bool minuteColumn_ = false;
  int64_t columns_ = 0;
  uint64_t dataStart_ = 0;  // file offset of the first data row
  uint64_t nextBlock_ = 0;  // file offset where the next block begins
  int64_t capacity_ = 0;
  std::vector<std::array<int64_t, 5>> dates_;  // year, month, day, hour, minute per row
  std::vector<double> values_;                 // capacity_ rows of columns_ values
  int64_t row_ = 0;
  int64_t rowCount_ = 0;
  int64_t rowsBefore_ = 0;
  int state_ = kNotOpened;
  // The field that could not be read: its file offset (the end of the file for a row cut short).
  bool failed_ = false;
  uint64_t failedOffset_ = 0;
  bool failedNumber_ = true;  // a value or date field (false: the header ran to the end)
  bool failedDate_ = false;   // one of the date fields
};
