#include "meteo/station_file.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "grids/netcdf_grid_io.h"
#include "meteo/interpolation_kernels.h"

namespace {

constexpr size_t kChunkBytes = 1 << 20;

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsBlankLine(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return IsBlankChar(c); });
}

void FixYear(ModelDate& d) {
  if (d.year >= 0 && d.year <= 99) d.year += 1900;
}

double RecordMinutes(const ModelDate& x) {
  return MinutesSinceEpoch(static_cast<int>(x.year), static_cast<int>(x.month), static_cast<int>(x.day),
                           static_cast<int>(x.hour), static_cast<int>(x.minute));
}

[[noreturn]] void Fail(LogStream& log, const std::string& text, int code) {
  log << "FATAL: " << text << "[end-entry]";
  throw code;
}

[[noreturn]] void UnreadableDate(LogStream& log, const StationFile& f, long line, const std::string& text) {
  Fail(log, "error reading date from stationfiles: file " + f.fileName + ", line " + std::to_string(line) + ": '" +
                text.substr(0, 200) + "'" + RecordDateNote(text, f.minuteColumn),
       73);
}

// The marks that join the fields of a date or a time written as one word.
bool IsDateMark(char c) { return c == '-' || c == '/' || c == '.' || c == ':'; }

// Splits a header row into its words.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  GetToken(line, " \t\r", words);
  words.erase(std::remove(words.begin(), words.end(), std::string()), words.end());
  return words;
}

// Reads the numbers behind the leading tokens of a header row into v[1..count].
bool HeaderNumbers(const std::string& line, size_t leading, int count, std::vector<double>& v,
                   std::string& why, const char* what) {
  std::vector<std::string> w = Words(line);
  v.assign(static_cast<size_t>(count) + 1, 0.0);
  if (w.size() < leading + static_cast<size_t>(count)) {
    why = std::string("the ") + what + " row holds " + std::to_string(w.size() > leading ? w.size() - leading : 0) +
          " station values, " + std::to_string(count) + " expected";
    return false;
  }
  for (int k = 1; k <= count; ++k) {
    if (!ParseDouble(w[leading + k - 1], v[k])) {
      why = std::string("the ") + what + " of station " + std::to_string(k) + " is not a number: '" +
            w[leading + k - 1] + "'";
      return false;
    }
  }
  return true;
}

// Reads the station values of a record (line lineNo of f) into values[1..count]. Once per
// file a WARNING says that values could not be read (they are missing), and once that a
// value equals -N or N: it counts as data, though it is most often a marker of missing
// values that the section's no-data value N does not catch (-9999 with N = 9999).
void ReadRecordValues(LogStream& log, const std::string& name, double nodata, TextCursor& c, long lineNo,
                      StationFile& f, double* values) {
  const int unread = ParseRecordValues(c, f.count, nodata, values, &f.tally);
  // A number behind the values the header gives: the record's columns do not fit the
  // stations of line 2 and the additional columns, which stand between the date and the
  // values (a flag behind each value would be read as the next station's value).
  double beyond;
  if (ParseDouble(c.PeekWord(), beyond))
    Fail(log, "station file " + f.fileName + ", line " + std::to_string(lineNo) + ": the number '" +
                  c.PeekWord().substr(0, 40) + "' stands behind the " + std::to_string(f.count) +
                  " station values that line 2 gives (behind the date " +
                  (f.additionalColumns > 0 ? "and AdditionalColumns=" + std::to_string(f.additionalColumns) + " columns"
                                           : std::string("without additional columns")) +
                  "): a record holds its date, then its additional columns, then one value per station, so line 2 "
                  "holds a word for each additional column before the altitudes. Give the file one value per "
                  "station behind its additional columns, or AdditionalColumns= the number of columns between the "
                  "date and the values",
         73);
  if (unread > 0 && !f.warnedUnreadable) {
    f.warnedUnreadable = true;
    log << "WARNING: station file " << f.fileName << ", line " << lineNo
        << ": missing or unreadable station values are taken as missing" << "[end-entry]";
  }
  if (f.warnedAtBound) return;
  for (int k = 1; k <= f.count; ++k) {
    if (values[k] != nodata && values[k] != -nodata) continue;
    f.warnedAtBound = true;
    const std::string section = "[" + name.substr(0, name.find(' ')) + "]";
    std::ostringstream s;
    s << "WARNING: station file " << f.fileName << ", line " << lineNo << ", station " << k << ": the value "
      << values[k] << " equals " << (values[k] < 0 ? "minus " : "") << "the no-data value " << nodata << " of "
      << section << ", so it counts as data (the values from " << -nodata << " to " << nodata
      << " are data); if it marks a missing value, give " << section
      << " a no-data value below its size, or mark missing values beyond it" << "[end-entry]";
    log << s.str();
    return;
  }
}

// Once per file, after the first block that holds values above N (or at the run's end
// when the run reads no block): how many of the values read so far lie above N, and the
// largest. They count as missing, though a cell still finds other stations' values and
// nothing else would show it (daily radiation sums in Wh/m2 under an N meant for W/m2).
void SayValuesAbove(LogStream& log, const std::string& name, double nodata, StationFile& f) {
  if (f.warnedAbove || f.tally.above == 0) return;
  f.warnedAbove = true;
  const std::string section = "[" + name.substr(0, name.find(' ')) + "]";
  const long last = f.nextLine > f.startLine ? f.nextLine - 1 : f.startLine;
  std::ostringstream s;
  s << "WARNING: station file " << f.fileName << " of " << section << ": " << f.tally.above << " of the "
    << f.tally.read << " values of lines " << f.startLine << " to " << last << " lie above the no-data value "
    << nodata << " of " << section << " (the largest " << f.tally.largest
    << ") and count as missing: if they are data, give " << section
    << " a no-data value above them. This is said once per file"
    << (f.fileEnded ? std::string() : ", so the lines after line " + std::to_string(last) + " are not counted")
    << "[end-entry]";
  log << s.str();
}

// What the message on a start date not found adds when line 5, the line of the station
// names, reads as a record: the file lacks its names line, so its first record was taken
// for it. Empty otherwise (names may be numbers, but not a date and a value per station).
std::string NamesLineNote(const std::string& line5, const StationFile& f) {
  TextCursor c(line5);
  ModelDate d;
  if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d) || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > 31 || d.hour < 0 || d.hour > 24)
    return std::string();
  std::string word;
  double v;
  int values = 0;
  while (c.ReadWord(word))
    if (!ParseDouble(word, v) || ++values > f.count) return std::string();
  if (values != f.count) return std::string();
  FixYear(d);
  return "\nline 5 of " + f.fileName + " reads as a record dated " + DateText(d, kRecordDate) +
         ": line 5 is the line of the station names, which the file lacks, so that record is not read. Put a line "
         "of station names before the first record";
}

}  // namespace

bool EndsTheRecords(const ModelDate& date, int64_t endKey) {
  if (date.year == 0 && date.month == 0 && date.day == 0) return true;
  ModelDate d = date;
  FixYear(d);
  return d.Key() >= endKey;
}

double StepRecords::StepMinutes() const { return count < 2 ? 0.0 : RecordMinutes(date[1]) - RecordMinutes(date[0]); }

void StartSearch::Note(const ModelDate& date, long line) {
  if (firstLine_ == 0) {
    first_ = date;
    firstLine_ = line;
  } else if (secondLine_ == 0) {
    second_ = date;
    secondLine_ = line;
  }
  last_ = date;
  lastLine_ = line;
  if (afterLine_ == 0 && date.Key() > start_.Key()) {
    after_ = date;
    afterLine_ = line;
  }
}

std::string StartSearch::Hint() const {
  const std::string rule = "the start of the run ([model_time]) has to be the date of one of its records";
  if (firstLine_ == 0) return "\nthe file holds no record below its five header lines; " + rule;
  std::string s = "\n" + rule + ": its first record is dated " + DateText(first_, kRecordDate) + " (line " +
                  std::to_string(firstLine_) + ")";
  if (afterLine_ == 0)
    s += ", its last " + DateText(last_, kRecordDate) + " (line " + std::to_string(lastLine_) + "), before the start";
  else if (afterLine_ != firstLine_)
    s += ", the first after the start " + DateText(after_, kRecordDate) + " (line " + std::to_string(afterLine_) + ")";
  // The file's own step tells a file of days from one of hours.
  const double step = secondLine_ == 0 ? 0.0 : RecordMinutes(second_) - RecordMinutes(first_);
  if (step > 0.0) {
    std::ostringstream t;
    t << "; its first two records are " << step << " minutes apart (lines " << firstLine_ << " and " << secondLine_
      << ")";
    s += t.str();
  }
  return s;
}

// --- LineReader -----------------------------------------------------------------------------

LineReader::LineReader(const std::string& path, uint64_t offset) : path_(path), offset_(offset), fileOffset_(offset) {
  if (!RegularOrMissing(path_)) return;  // not ok: the caller's FileOpenReason names what it is
  std::ifstream in(path_, std::ios::binary);
  ok_ = in.is_open();
  if (ok_) {
    in.seekg(0, std::ios::end);
    const uint64_t size = static_cast<uint64_t>(in.tellg());
    if (offset > size) offset_ = fileOffset_ = size;
  }
}

bool LineReader::Fill() {
  if (eof_) return false;
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    eof_ = true;
    return false;
  }
  const uint64_t readFrom = fileOffset_ + chunk_.size();
  in.seekg(static_cast<std::streamoff>(readFrom));
  // Keep the unread part, append the next chunk.
  chunk_.erase(0, pos_);
  fileOffset_ += pos_;
  pos_ = 0;
  const size_t old = chunk_.size();
  chunk_.resize(old + kChunkBytes);
  in.read(&chunk_[old], static_cast<std::streamsize>(kChunkBytes));
  const size_t got = static_cast<size_t>(in.gcount());
  chunk_.resize(old + got);
  if (got < kChunkBytes) eof_ = true;
  return got > 0;
}

bool LineReader::AtEnd() {
  while (pos_ >= chunk_.size()) {
    if (!Fill()) return pos_ >= chunk_.size();
  }
  return false;
}

bool LineReader::NextLine(std::string& line) {
  if (!ok_) return false;
  size_t nl;
  while ((nl = chunk_.find('\n', pos_)) == std::string::npos) {
    if (!Fill()) break;
  }
  if (pos_ >= chunk_.size()) return false;
  size_t end = nl == std::string::npos ? chunk_.size() : nl;
  size_t next = nl == std::string::npos ? chunk_.size() : nl + 1;
  line.assign(chunk_, pos_, end - pos_);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  offset_ = fileOffset_ + next;
  pos_ = next;
  return true;
}

// --- pure parsing ---------------------------------------------------------------------------

int StationBlockSize(int n) {
  const long size = 2097152L / (48L + 8L * std::max(n, 0));
  return size < 1 ? 1 : static_cast<int>(size);
}

bool ParseStationHeader(const std::string& line2, const std::string& line3, const std::string& line4,
                        int additionalColumns, StationHeader& header, std::string& why) {
  header = StationHeader();
  if (additionalColumns < 0) {
    why = "negative number of additional columns";
    return false;
  }
  // Four runs of date letters with the blanks behind them.
  size_t p = 0;
  const size_t n = line2.size();
  for (int k = 0; k < 4; ++k) {
    while (p < n && (line2[p] == 'Y' || line2[p] == 'M' || line2[p] == 'D' || line2[p] == 'H')) ++p;
    while (p < n && IsBlankChar(line2[p])) ++p;
  }
  if (p + 2 < n && line2.compare(p, 2, "mm") == 0 && IsBlankChar(line2[p + 2])) {
    header.minuteColumn = true;
    while (p < n && (line2[p] == 'm' || IsBlankChar(line2[p]))) ++p;
  }
  std::vector<std::string> rest = Words(line2.substr(p));
  if (rest.size() < static_cast<size_t>(additionalColumns)) {
    why = "line 2 holds fewer words than the " + std::to_string(additionalColumns) + " additional columns";
    return false;
  }
  header.count = static_cast<int>(rest.size()) - additionalColumns;
  const size_t leading = 4 + (header.minuteColumn ? 1 : 0) + static_cast<size_t>(additionalColumns);
  return HeaderNumbers(line2, leading, header.count, header.altitude, why, "altitude") &&
         HeaderNumbers(line3, leading, header.count, header.x, why, "X coordinate") &&
         HeaderNumbers(line4, leading, header.count, header.y, why, "Y coordinate");
}

bool ParseRecordDate(TextCursor& c, bool minuteColumn, int additionalColumns, ModelDate& date) {
  long y, m, d, h, mi = 0;
  // A minus glued to the last field may begin the first value (a column of fixed width
  // that a negative value fills): only the fields before it refuse it.
  const auto field = [&c](long& v, bool last) {
    return c.ReadLong(v) && !(IsDateMark(c.Peek()) && !(last && c.Peek() == '-'));
  };
  if (!field(y, false) || !field(m, false) || !field(d, false) || !field(h, !minuteColumn)) return false;
  if (minuteColumn && !field(mi, true)) return false;
  // Dates far outside any calendar cannot be compared by their date key.
  for (long v : {y, m, d, h, mi})
    if (v < -kMaxDateField || v > kMaxDateField) return false;
  date.year = y;
  date.month = m;
  date.day = d;
  date.hour = h;
  date.minute = mi;
  std::string word;
  for (int k = 0; k < additionalColumns; ++k)
    if (!c.ReadWord(word)) return false;
  return true;
}

std::string RecordDateNote(const std::string& line, bool minuteColumn) {
  TextCursor c(line);
  const auto digit = [](char x) { return x >= '0' && x <= '9'; };
  const char* const fields[] = {"year", "month", "day", "hour", "minute"};
  std::string word, what;
  // The first date field that holds a mark between digits: the first one is a date written
  // as one word, a later one a time ("01:00") or a field with a fraction ("5.0").
  for (int k = 0; k < (minuteColumn ? 5 : 4) && what.empty() && c.ReadWord(word); ++k) {
    bool marked = false;
    for (size_t i = 1; i + 1 < word.size(); ++i)
      marked = marked || (IsDateMark(word[i]) && digit(word[i - 1]) && digit(word[i + 1]));
    if (marked)
      what = k == 0 ? "the date '" + word.substr(0, 40) + "' is written as one word"
                    : std::string("the ") + fields[k] + " '" + word.substr(0, 40) + "' is no whole number";
  }
  if (what.empty()) return std::string();
  return "\n" + what + "; a record begins with the year, month, day and hour" +
         (minuteColumn ? ", and the minute that line 2 declares with \"mm\"," : std::string()) +
         " as whole numbers of their own, separated by blanks or tabs (YYYY MM DD HH" + (minuteColumn ? " mm" : "") +
         ": '2019 11 1 0" + (minuteColumn ? " 0" : "") + "' for 1 November 2019, 0 h)";
}

int ParseRecordValues(TextCursor& c, int count, double nodata, double* values, ValueTally* tally) {
  int bad = 0;
  std::string word;
  for (int k = 1; k <= count; ++k) {
    double v;
    if (c.ReadWord(word) && ParseDouble(word, v)) {
      values[k] = StoreStationValue(v, nodata);
      if (tally) {
        ++tally->read;
        if (v > nodata) tally->largest = tally->above++ == 0 ? v : std::max(tally->largest, v);
        if (v < -nodata) ++tally->below;
      }
    } else {
      values[k] = MissingResult(nodata);
      ++bad;
    }
  }
  return bad;
}

StationLineOptions ParseStationLineOptions(const std::string& line) {
  StationLineOptions o;
  size_t p = line.find("AdditionalColumns=");
  if (p != std::string::npos) {
    TextCursor c(line.substr(p + 18));
    int v;
    if (c.ReadInt(v)) o.additionalColumns = v;
  }
  auto bound = [&](const char* key, bool& has, double& value) {
    size_t k = line.find(key);
    if (k == std::string::npos) return;
    size_t eq = line.find('=', k);
    if (eq == std::string::npos) return;
    TextCursor c(line.substr(eq + 1));
    double v;
    if (c.ReadDouble(v)) {
      has = true;
      value = v;
    }
  };
  bound("xmin", o.hasXmin, o.xmin);
  bound("xmax", o.hasXmax, o.xmax);
  bound("ymin", o.hasYmin, o.ymin);
  bound("ymax", o.hasYmax, o.ymax);
  return o;
}

bool NoRecordAfterCurrent(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f) {
  if ((f.readIndex < 1 || f.readIndex > f.blockCount) && !ReadStationBlock(log, name, nodata, endKey, f)) return true;
  const ModelDate& d = f.blockDates[f.readIndex];
  return d.year == 0 && d.month == 0 && d.day == 0;
}

bool AllValidValuesEqual(const double* values, int count, double nodata) {
  bool any = false;
  double first = 0.0;
  for (int k = 1; k <= count; ++k) {
    if (!IsValidStationValue(values[k], nodata)) continue;
    if (!any) {
      any = true;
      first = values[k];
    } else if (values[k] != first) {
      return false;
    }
  }
  return true;
}

// --- file operations ------------------------------------------------------------------------

void AnalyzeStationFile(LogStream& log, const std::string& name, double nodata, StationFile& f) {
  log << "analyzing station data for interpolator " << name << " from " << f.fileName << " ..."
      << "[end-entry]";
  LineReader in(f.fileName);
  if (!in.Ok()) Fail(log, "\nerror opening " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  // A file saved in UTF-16 or with lone carriage returns is named as such, not by a header
  // it seems to lack; where it begins tells.
  std::string head;
  const size_t headBytes = 1 << 16;
  const std::string layout =
      ReadFileStart(f.fileName, headBytes, head) ? TextLayoutFault(head, head.size() == headBytes) : std::string();
  if (!layout.empty()) Fail(log, "station file " + f.fileName + " " + layout, 49);
  std::string lines[4];
  int got = 0;
  while (got < 4 && in.NextLine(lines[got])) ++got;
  if (got < 4)
    Fail(log, "station file " + f.fileName + " ends after " + std::to_string(got) +
                  " lines; expected a text line and the rows of altitudes, X and Y coordinates",
         49);
  StationHeader h;
  std::string why;
  if (!ParseStationHeader(lines[1], lines[2], lines[3], f.additionalColumns, h, why))
    Fail(log, "error in the header of station file " + f.fileName + ": " + why, 49);
  f.minuteColumn = h.minuteColumn;
  f.count = h.count;
  f.altitude = std::move(h.altitude);
  f.x = std::move(h.x);
  f.y = std::move(h.y);
  f.values.assign(static_cast<size_t>(f.count) + 1, MissingResult(nodata));
  log << " (" << f.count << ") Stationen (stations in " << f.fileName << ")" << "[end-entry]";
}

void FindStartDate(LogStream& log, const std::string& name, double nodata, const ModelDate& start,
                   StationFile& f) {
  log << "looking for starting date " << DateText(start, kAlignedDate) << " for " << name << " in " << f.fileName
      << "[end-entry]";
  LineReader in(f.fileName);
  if (!in.Ok()) Fail(log, "\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  std::string line, namesLine;
  long lineNo = 0;
  for (int k = 0; k < 5; ++k)
    if (in.NextLine(line)) ++lineNo;
  if (lineNo == 5) namesLine = line;
  f.values.assign(static_cast<size_t>(f.count) + 1, MissingResult(nodata));
  TextCursor c;
  StartSearch search(start);
  bool found = false;
  while (true) {
    const uint64_t lineStart = in.Offset();
    if (!in.NextLine(line)) break;
    ++lineNo;
    if (IsBlankLine(line)) continue;
    c.SetText(line);
    ModelDate d;
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d)) UnreadableDate(log, f, lineNo, line);
    FixYear(d);
    search.Note(d, lineNo);
    f.recordDate = d;
    if (d.day == start.day && d.month == start.month && d.year == start.year && d.hour == start.hour &&
        d.minute == start.minute) {
      f.startOffset = lineStart;
      f.startLine = f.recordLine = lineNo;
      ReadRecordValues(log, name, nodata, c, lineNo, f, f.values.data());
      found = true;
      break;
    }
  }
  if (!found) {
    log << "FATAL: \nfile " << f.fileName << " dosnt contain date " << DateText(start, kAlignedDate.TimeAfter(", "))
        << "(feof)!" << search.Hint() << NamesLineNote(namesLine, f) << "[end-entry]";
    throw 51;
  }
  f.equalValues = false;
  f.readPosition = in.Offset();
  f.nextLine = lineNo + 1;
  f.lastDateRead = f.recordDate;
  f.blockSize = StationBlockSize(f.count);
  f.blockCount = 0;
  f.readIndex = f.blockSize + 1;
  f.fileEnded = false;
}

StepRecords ReadStepRecords(LogStream& log, const StationFile& f, int64_t endKey) {
  StepRecords r;
  if (f.startLine < 1) return r;
  LineReader in(f.fileName, f.startOffset);
  if (!in.Ok()) Fail(log, "\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  std::string line;
  long lineNo = f.startLine - 1;
  TextCursor c;
  while (r.count < 2 && in.NextLine(line)) {
    ++lineNo;
    if (IsBlankLine(line)) continue;
    c.SetText(line);
    ModelDate& d = r.date[r.count];
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d)) {
      // A run of one step needs no record after its start: what follows is no record of it.
      if (r.count == 1 && r.date[0].Key() >= endKey) break;
      UnreadableDate(log, f, lineNo, line);
    }
    FixYear(d);
    r.line[r.count++] = lineNo;
  }
  return r;
}

bool ReadStationBlock(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f) {
  if (f.fileEnded) {
    f.blockCount = 0;
    f.readIndex = 0;
    return false;
  }
  LineReader in(f.fileName, f.readPosition);
  if (!in.Ok()) Fail(log, "\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  const size_t stride = static_cast<size_t>(f.count) + 1;
  if (f.blockDates.size() != static_cast<size_t>(f.blockSize) + 1) {
    f.blockDates.assign(static_cast<size_t>(f.blockSize) + 1, ModelDate());
    f.blockLines.assign(static_cast<size_t>(f.blockSize) + 1, 0);
    f.blockValues.assign(static_cast<size_t>(f.blockSize) * stride, 0.0);
  }
  int n = 0;
  std::string line;
  TextCursor c;
  while (n < f.blockSize) {
    if (!in.NextLine(line)) {
      f.fileEnded = true;
      break;
    }
    const long lineNo = f.nextLine++;
    if (IsBlankLine(line)) continue;
    c.SetText(std::move(line));
    ModelDate d;
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d)) UnreadableDate(log, f, lineNo, c.Text());
    ++n;
    f.blockDates[n] = d;
    f.blockLines[n] = lineNo;
    double* values = &f.blockValues[static_cast<size_t>(n - 1) * stride];
    ReadRecordValues(log, name, nodata, c, lineNo, f, values);
    line = std::string();
    // The run takes nothing after the record of its end or one dated 0.0.0: the lines that
    // follow (an "END", a remark, a record still being written) are not read.
    if (EndsTheRecords(d, endKey)) {
      f.fileEnded = true;
      break;
    }
  }
  if (!f.fileEnded && in.AtEnd()) f.fileEnded = true;
  f.readPosition = in.Offset();
  f.blockCount = n;
  f.readIndex = n > 0 ? 1 : 0;
  SayValuesAbove(log, name, nodata, f);
  return n > 0;
}

bool NextStationRecord(LogStream& log, const std::string& name, double nodata, int64_t endKey, StationFile& f) {
  if (f.recordDate.Key() >= endKey) {
    SayValuesAbove(log, name, nodata, f);  // a run of one step reads no block
    return true;
  }
  if (f.readIndex < 1 || f.readIndex > f.blockCount) {
    if (!ReadStationBlock(log, name, nodata, endKey, f)) {
      log << "WARNING: station file " << f.fileName << " of interpolator " << name << " ends with the date "
          << DateText(f.lastDateRead, kRecordDate) << " before the end of the simulation period" << "[end-entry]";
      return true;
    }
  }
  ModelDate d = f.blockDates[f.readIndex];
  if (d.year == 0 && d.month == 0 && d.day == 0) return true;
  FixYear(d);
  const long line = f.blockLines[f.readIndex];
  if (f.stepMinutes > 0) {
    const double step = RecordMinutes(d) - RecordMinutes(f.recordDate);
    if (step != f.stepMinutes) {
      std::ostringstream s;
      s << "station file " << f.fileName << " of interpolator " << name << ", line " << line << ": the date "
        << DateText(d, kRecordDate) << " follows the date " << DateText(f.recordDate, kRecordDate) << " of line "
        << f.recordLine << " by " << step << " minutes; every record has to follow the one before by the time step of "
        << f.stepMinutes << " minutes" << (f.stepSource.empty() ? "" : ", " + f.stepSource)
        << " (a step repeated, left out or out of order)";
      const double steps = step / f.stepMinutes;
      if (f.recordLine == f.startLine && step > 0.0) {
        // The first record after the start: the file steps otherwise than the run.
        s << "; " << f.fileName << " steps by " << step << " minutes from the record of the run's start on (lines "
          << f.recordLine << " and " << line << "), the run by " << f.stepMinutes
          << " minutes: every station file has to hold one record for each step of the run";
      } else if (steps > 1.0 && steps == std::floor(steps)) {
        // Steps left out: the run can go over them once the file has a record for each.
        const long missing = static_cast<long>(steps) - 1;
        s << "; to run over the gap, give the file a record for "
          << (missing == 1 ? std::string("the missing step") : "each of the " + std::to_string(missing) + " missing steps")
          << " between these two, with " << MissingResult(nodata) << " (outside "
          << -nodata << " to " << nodata << ", so missing) for every station without a value";
      }
      Fail(log, s.str(), 73);
    }
  }
  f.recordDate = d;
  f.recordLine = line;
  f.lastDateRead = d;
  const size_t stride = static_cast<size_t>(f.count) + 1;
  const double* src = &f.blockValues[static_cast<size_t>(f.readIndex - 1) * stride];
  for (int k = 1; k <= f.count; ++k) f.values[k] = src[k];
  f.equalValues = AllValidValuesEqual(f.values.data(), f.count, nodata);
  ++f.readIndex;
  return false;
}
