#include "framework/timeseries_table.h"
#include "framework/run_files.h"

#include <algorithm>
#include <fstream>

#include "framework/file_reason.h"
#include "framework/text_helpers.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Reads a file from a given offset a piece at a time into a TextCursor, so that a block
// of rows is parsed with the common number readers while only a small window of the
// file is in memory. A word or line is always loaded whole before it is read.
class ChunkReader {
 public:
  static constexpr size_t kChunk = 1 << 16;
  // Longest word or line accepted; anything longer is no valid series input.
  static constexpr size_t kMaxPiece = 1 << 20;

  bool Open(const std::string& path, uint64_t offset) {
    if (!RegularOrMissing(path)) return false;
    file_.open(path, std::ios::in | std::ios::binary);
    if (!file_) return false;
    file_.seekg(static_cast<std::streamoff>(offset));
    if (!file_) return false;
    base_ = offset;
    return true;
  }

  // File offset of the read position.
  uint64_t Offset() const { return base_ + cursor_.Pos(); }

  // Skips white space; false when nothing but white space is left in the file.
  bool SkipToData() {
    for (;;) {
      cursor_.SkipBlanks();
      if (!cursor_.AtEnd()) return true;
      if (!Fill()) return false;
    }
  }

  // The next character, or -1 at the end of the file.
  int PeekChar() {
    while (cursor_.AtEnd())
      if (!Fill()) return -1;
    return static_cast<unsigned char>(cursor_.Peek());
  }

  // The rest of the current line; false at the end of the file or for an overlong line.
  bool ReadLine(std::string& line) {
    for (;;) {
      if (cursor_.Text().find('\n', cursor_.Pos()) != std::string::npos || atEof_) break;
      if (cursor_.Text().size() - cursor_.Pos() > kMaxPiece) return false;
      Fill();
    }
    return cursor_.ReadLine(line);
  }

  // File offset of the next word (of the end of the file when none is left).
  uint64_t WordOffset() {
    SkipToData();
    return Offset();
  }

  bool ReadLong(long& value) {
    if (!LoadWord()) return false;
    return cursor_.ReadLong(value) && WordEnds();
  }
  bool ReadDouble(double& value) {
    if (!LoadWord()) return false;
    return cursor_.ReadDouble(value) && WordEnds();
  }

 private:
  // Appends the next piece of the file to the unread text; false when none is left.
  bool Fill() {
    if (atEof_) return false;
    std::string text = cursor_.Text().substr(cursor_.Pos());
    base_ += cursor_.Pos();
    size_t old = text.size();
    text.resize(old + kChunk);
    file_.read(&text[old], static_cast<std::streamsize>(kChunk));
    size_t got = static_cast<size_t>(file_.gcount());
    text.resize(old + got);
    if (got < kChunk) atEof_ = true;
    cursor_.SetText(std::move(text));
    return got > 0;
  }

  // Makes sure the next word lies wholly in memory; false at the end of the file.
  bool LoadWord() {
    if (!SkipToData()) return false;
    for (;;) {
      const std::string& t = cursor_.Text();
      size_t end = cursor_.Pos();
      while (end < t.size() && !IsBlank(t[end])) ++end;
      if (end < t.size() || atEof_) return true;
      if (end - cursor_.Pos() > kMaxPiece) return false;
      Fill();
    }
  }

  // A field must be a whole word: "1.5" is no year and "12abc" no value.
  bool WordEnds() const { return cursor_.AtEnd() || IsBlank(cursor_.Peek()); }

  std::ifstream file_;
  TextCursor cursor_;
  uint64_t base_ = 0;  // file offset of the cursor text's first character
  bool atEof_ = false;
};

// True for the column-title line; minute set when "mm" follows the four date titles.
bool ParseTitleLine(const std::string& line, bool& minute) {
  if (line.find("YY") == std::string::npos || line.find("MM") == std::string::npos ||
      line.find("DD") == std::string::npos || line.find("HH") == std::string::npos)
    return false;
  size_t p = 0;
  const size_t n = line.size();
  auto skipBlanks = [&] {
    while (p < n && (line[p] == ' ' || line[p] == '\t')) ++p;
  };
  skipBlanks();
  for (int k = 0; k < 4; ++k) {
    while (p < n && (line[p] == 'Y' || line[p] == 'M' || line[p] == 'D' || line[p] == 'H')) ++p;
    skipBlanks();
  }
  minute = p + 2 <= n && line[p] == 'm' && line[p + 1] == 'm' &&
           (p + 2 == n || line[p + 2] == ' ' || line[p + 2] == '\t' || line[p + 2] == '\r');
  return true;
}

}  // namespace

TimeSeriesTable::TimeSeriesTable(const std::string& fileName, int option, int64_t blockSizeBytes) {
  RunFiles& files = RunFiles::Current();
  if (files.Building()) files.Read("the time series " + fileName, fileName, RunFiles::When::Run, nullptr, true);
  ParseHeader(fileName, option, blockSizeBytes);
}

std::unique_ptr<TimeSeriesTable> TimeSeriesTable::Open(const std::string& fileName, int option,
                                                       int64_t blockSizeBytes) {
  return std::make_unique<TimeSeriesTable>(fileName, option, blockSizeBytes);
}

void TimeSeriesTable::ParseHeader(const std::string& fileName, int option, int64_t blockSizeBytes) {
  if (state_ != kNotOpened) return;
  fileName_ = fileName;
  option_ = option;
  blockSize_ = blockSizeBytes;

  ChunkReader reader;
  if (!reader.Open(fileName_, 0)) {
    state_ = kCannotOpen;
    return;
  }
  minuteColumn_ = false;
  for (;;) {
    int c = reader.PeekChar();
    if (IsDigit(c)) break;
    std::string line;
    if (c < 0 || !reader.ReadLine(line)) {  // the header ends before any data
      state_ = kReadError;
      failed_ = true;
      failedNumber_ = false;
      return;
    }
    bool minute = false;
    if (ParseTitleLine(line, minute)) minuteColumn_ = minute;
  }
  dataStart_ = reader.Offset();

  // The first row: its date, then the values on the rest of its line are counted.
  long field = 0;
  const int dateFields = minuteColumn_ ? 5 : 4;
  for (int k = 0; k < dateFields; ++k) {
    const uint64_t at = reader.WordOffset();
    if (!reader.ReadLong(field)) {
      Failed(at, true);
      return;
    }
  }
  const uint64_t restStart = reader.Offset();
  std::string rest;
  reader.ReadLine(rest);
  TextCursor values(rest);
  columns_ = 0;
  for (;;) {
    values.SkipBlanks();
    if (values.AtEnd()) break;
    const size_t at = values.Pos();
    double v;
    if (!values.ReadDouble(v) || !(values.AtEnd() || IsBlank(values.Peek()))) {
      Failed(restStart + at, false);
      columns_ = 0;
      return;
    }
    ++columns_;
  }

  capacity_ = blockSize_ / (8 * columns_ + 16);
  if (capacity_ < 1) capacity_ = 1;
  dates_.assign(static_cast<size_t>(capacity_), {0, 0, 0, 0, 0});
  values_.assign(static_cast<size_t>(capacity_ * columns_), 0.0);
  state_ = kMoreRows;
  nextBlock_ = dataStart_;
  ReadBlock();
}

void TimeSeriesTable::ReadBlock() {
  rowsBefore_ += rowCount_;
  row_ = 0;
  if (capacity_ < 1) return;  // no header was parsed
  ChunkReader reader;
  if (!reader.Open(fileName_, nextBlock_)) {
    state_ = kCannotOpen;
    rowCount_ = 0;
    return;
  }
  int64_t rows = 0;
  bool atEnd = false;
  for (;;) {
    if (!reader.SkipToData()) {  // only white space is left
      atEnd = true;
      break;
    }
    if (rows == capacity_) break;
    std::array<int64_t, 5>& date = dates_[static_cast<size_t>(rows)];
    double* values = values_.data() + rows * columns_;
    bool ok = true;
    uint64_t at = 0;
    bool dateField = true;
    for (int k = 0; k < 5 && ok; ++k) {
      long field = 0;
      if (k == 4 && !minuteColumn_) {
        date[4] = 0;
        break;
      }
      at = reader.WordOffset();
      ok = reader.ReadLong(field);
      date[static_cast<size_t>(k)] = field;
    }
    for (int64_t j = 0; j < columns_ && ok; ++j) {
      dateField = false;
      at = reader.WordOffset();
      ok = reader.ReadDouble(values[j]);
    }
    if (!ok) {
      // The rows read so far stay usable; the rest of the file is not.
      Failed(at, dateField);
      rowCount_ = rows;
      return;
    }
    ++rows;
  }
  state_ = atEnd ? kLastBlock : kMoreRows;
  rowCount_ = rows;
  nextBlock_ = reader.Offset();
}

void TimeSeriesTable::Failed(uint64_t offset, bool dateField) {
  state_ = kReadError;
  failed_ = true;
  failedNumber_ = true;
  failedDate_ = dateField;
  failedOffset_ = offset;
}

std::string TimeSeriesTable::ErrorPlace() const {
  if (state_ != kReadError || !failed_) return std::string();
  if (!failedNumber_) return "no data row";
  // Counted only now, once: the lines before the field and the fields before it on its line.
  std::ifstream in(fileName_, std::ios::in | std::ios::binary);
  long long line = 1, column = 1;
  bool inWord = false;
  char buffer[1 << 14];
  uint64_t left = failedOffset_;
  while (in && left > 0) {
    in.read(buffer, static_cast<std::streamsize>(std::min<uint64_t>(left, sizeof buffer)));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    for (std::streamsize i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        ++line;
        column = 1;
        inWord = false;
      } else if (IsBlank(c)) {
        inWord = false;
      } else if (!inWord) {
        inWord = true;
        ++column;
      }
    }
    left -= static_cast<uint64_t>(got);
  }
  std::string word;
  for (int c = in.get(); in && c != EOF && !IsBlank(static_cast<char>(c)) && word.size() < 40; c = in.get())
    word += c < 32 || c == 127 ? '?' : static_cast<char>(c);
  if (word.empty()) return "line " + std::to_string(line) + ": the file ends inside a row";
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": \"" + word +
         (failedDate_ ? "\" is no whole number of the date" : "\" is no number");
}

void TimeSeriesTable::Next() {
  if (row_ < rowCount_ - 1) {
    ++row_;
  } else if (state_ == kMoreRows) {
    ReadBlock();
    row_ = 0;
  } else {
    state_ = kEnd;
  }
}

void TimeSeriesTable::NextKeepingError() {
  if (state_ == kReadError && row_ + 1 >= rowCount_)
    SetRow(rowCount_);
  else
    Next();
}

void TimeSeriesTable::SetRow(int64_t index) {
  if (index >= -1 && index <= rowCount_) row_ = index;
}

void TimeSeriesTable::MoveRow(int64_t n) {
  int64_t target = row_ + n;
  if (target >= -1 && target <= rowCount_) row_ = target;
}

void TimeSeriesTable::GetDate(int& year, int& month, int& day, int& hour, int& minute) const {
  if (!RowIsLoaded()) {
    year = month = day = hour = minute = -9999;
    return;
  }
  const std::array<int64_t, 5>& d = dates_[static_cast<size_t>(row_)];
  year = static_cast<int>(d[0]);
  month = static_cast<int>(d[1]);
  day = static_cast<int>(d[2]);
  hour = static_cast<int>(d[3]);
  minute = static_cast<int>(d[4]);
}

double TimeSeriesTable::GetValue(int64_t column) const {
  if (column < 0 || column >= columns_ || !RowIsLoaded()) return -9999.0;
  return values_[static_cast<size_t>(row_ * columns_ + column)];
}

void TimeSeriesTable::Clear() {
  dates_.clear();
  dates_.shrink_to_fit();
  values_.clear();
  values_.shrink_to_fit();
  capacity_ = 0;
  rowCount_ = 0;
  row_ = 0;
}
