#include "meteo/regression_file.h"

#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "meteo/station_file.h"

namespace {

constexpr size_t kBinaryRecordBytes = 4 * 8 + 11 * 8;

void FixRegressionYear(ModelDate& d) {
  if (d.year <= 999) d.year += 1900;
}

[[noreturn]] void Fail(LogStream& log, const std::string& text, int code) {
  log << "FATAL: " << text << "[end-entry]";
  throw code;
}

bool SameHour(const ModelDate& a, const ModelDate& b) {
  return a.hour == b.hour && a.day == b.day && a.month == b.month && a.year == b.year;
}

// False when a date field lies beyond any calendar (its date key could not be formed).
bool DecodeBinary(const char* p, RegressionRecord& r) {
  int64_t date[4];
  std::memcpy(date, p, sizeof date);
  std::memcpy(r.v, p + sizeof date, sizeof r.v);
  r.date = ModelDate{0, date[3], date[2], date[1], date[0]};
  for (int64_t v : date)
    if (v < -kMaxDateField || v > kMaxDateField) return false;
  return true;
}

// Whether the run takes no record after one of this date: it reaches the run's end key
// (the year fix applied) or is dated 0.0.0.
bool EndsTheRun(const ModelDate& date, int64_t lastKey) {
  if (date.year == 0 && date.month == 0 && date.day == 0) return true;
  ModelDate d = date;
  FixRegressionYear(d);
  return d.Key() >= lastKey;
}

[[noreturn]] void BadBinaryDate(LogStream& log, const RegressionFile& f, uint64_t offset) {
  Fail(log, "regression file " + f.fileName + ": the record at byte " + std::to_string(offset) +
                " holds no valid date (is it a binary regression file?)",
       52);
}

void WarnUnreadable(LogStream& log, RegressionFile& f, long line) {
  if (f.warnedUnreadable) return;
  f.warnedUnreadable = true;
  log << "WARNING: regression file " << f.fileName << ", line " << line
      << ": values that cannot be read make the record invalid" << "[end-entry]";
}

}  // namespace

RegressionParameters RegressionFromValues(const double v[11]) {
  RegressionParameters p;
  p.intercept[1] = v[0];
  p.gradient[1] = v[1];
  p.limit1 = v[2];
  p.intercept[2] = v[3];
  p.gradient[2] = v[4];
  p.limit2 = v[5];
  p.intercept[3] = v[6];
  p.gradient[3] = v[7];
  p.c0 = v[8];
  p.cx = v[9];
  p.cy = v[10];
  return p;
}

bool IsTextRegressionHeader(const std::string& b) {
  return b.size() >= 5 && b[0] == 'j' && b[1] == 'r' && b[3] == 'm' && b[4] == 'o';
}

bool ParseRegressionLine(const std::string& line, RegressionRecord& r, int* bad) {
  TextCursor c(line);
  long y, m, d, h;
  if (!c.ReadLong(y) || !c.ReadLong(m) || !c.ReadLong(d) || !c.ReadLong(h)) return false;
  for (long v : {y, m, d, h})
    if (v < -kMaxDateField || v > kMaxDateField) return false;
  r.date = ModelDate{0, h, d, m, y};
  int unread = 0;
  std::string word;
  for (double& v : r.v) {
    if (!(c.ReadWord(word) && ParseDouble(word, v))) {
      v = 0.0;
      ++unread;
    }
  }
  if (unread) r.v[0] = -1e300;
  if (bad) *bad = unread;
  return true;
}

void FindRegressionStart(LogStream& log, const std::string& name, const ModelDate& start, RegressionFile& f) {
  log << "looking for starting date " << DateText(start, kRecordDate.Until(DateField::kDay)) << " for " << name
      << " in " << f.fileName << "[end-entry]";
  std::ifstream probe;
  if (RegularOrMissing(f.fileName)) probe.open(f.fileName, std::ios::binary);
  if (!probe) Fail(log, "\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  char head[5] = {0, 0, 0, 0, 0};
  probe.read(head, 5);
  f.textForm = IsTextRegressionHeader(std::string(head, static_cast<size_t>(probe.gcount())));
  probe.close();
  f.current = ModelDate{0, 0, 0, 0, 0};
  bool found = false;
  if (f.textForm) {
    LineReader in(f.fileName);
    std::string line;
    long lineNo = 0;
    if (in.NextLine(line)) ++lineNo;  // header
    while (in.NextLine(line)) {
      ++lineNo;
      TextCursor blank(line);
      blank.SkipBlanks();
      if (blank.AtEnd()) continue;
      RegressionRecord r;
      int bad = 0;
      if (!ParseRegressionLine(line, r, &bad))
        Fail(log, "regression file " + f.fileName + ", line " + std::to_string(lineNo) + ": the date cannot be read",
             52);
      if (bad) WarnUnreadable(log, f, lineNo);
      FixRegressionYear(r.date);
      f.current = r.date;
      f.parameters = RegressionFromValues(r.v);
      if (SameHour(r.date, start)) {
        found = true;
        f.readPosition = in.Offset();
        f.nextLine = lineNo + 1;
        break;
      }
    }
  } else {
    std::ifstream in(f.fileName, std::ios::binary);
    char buf[kBinaryRecordBytes];
    uint64_t offset = 0;
    while (in.read(buf, sizeof buf)) {
      RegressionRecord r;
      if (!DecodeBinary(buf, r)) BadBinaryDate(log, f, offset);
      offset += sizeof buf;
      FixRegressionYear(r.date);
      f.current = r.date;
      f.parameters = RegressionFromValues(r.v);
      if (SameHour(r.date, start)) {
        found = true;
        f.readPosition = offset;
        break;
      }
    }
  }
  if (!found) {
    log << "FATAL: \nEOF reached: " << f.fileName << ", date "
        << DateText(start, kRecordDate.Until(DateField::kHour).TimeAfter(", ")) << ". h not found!" << "[end-entry]";
    throw 51;
  }
  f.blockCount = 0;
  f.readIndex = kRegressionBlockSize + 1;
  f.fileEnded = false;
}

bool ReadRegressionBlock(LogStream& log, RegressionFile& f) {
  f.blockCount = 0;
  f.readIndex = 0;
  if (f.fileEnded) return false;
  if (f.block.empty()) f.block.resize(kRegressionBlockSize + 1);
  int n = 0;
  if (f.textForm) {
    LineReader in(f.fileName, f.readPosition);
    if (!in.Ok()) Fail(log, "\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
    std::string line;
    while (n < kRegressionBlockSize) {
      if (!in.NextLine(line)) {
        f.fileEnded = true;
        break;
      }
      const long lineNo = f.nextLine++;
      TextCursor blank(line);
      blank.SkipBlanks();
      if (blank.AtEnd()) continue;
      RegressionRecord& r = f.block[static_cast<size_t>(n) + 1];
      int bad = 0;
      if (!ParseRegressionLine(line, r, &bad))
        Fail(log, "regression file " + f.fileName + ", line " + std::to_string(lineNo) + ": the date cannot be read",
             52);
      if (bad) WarnUnreadable(log, f, lineNo);
      ++n;
      if (EndsTheRun(r.date, f.lastKey)) {
        f.fileEnded = true;
        break;
      }
    }
    f.readPosition = in.Offset();
  } else {
    std::ifstream in(f.fileName, std::ios::binary);
    if (!in) Fail(log, "error opening regression file " + f.fileName + " in binary mode" + FileOpenReason(f.fileName, false, 0), 49);
    in.seekg(static_cast<std::streamoff>(f.readPosition));
    char buf[kBinaryRecordBytes];
    while (n < kRegressionBlockSize) {
      if (!in.read(buf, sizeof buf)) {
        f.fileEnded = true;
        break;
      }
      RegressionRecord& r = f.block[static_cast<size_t>(n) + 1];
      if (!DecodeBinary(buf, r)) BadBinaryDate(log, f, f.readPosition);
      f.readPosition += sizeof buf;
      ++n;
      if (EndsTheRun(r.date, f.lastKey)) {
        f.fileEnded = true;
        break;
      }
    }
  }
  f.blockCount = n;
  f.readIndex = n > 0 ? 1 : 0;
  return n > 0;
}

bool NoRegressionRecordAfterCurrent(LogStream& log, RegressionFile& f) {
  if ((f.readIndex < 1 || f.readIndex > f.blockCount) && !ReadRegressionBlock(log, f)) return true;
  const ModelDate& d = f.block[static_cast<size_t>(f.readIndex)].date;
  return d.year == 0 && d.month == 0 && d.day == 0;
}

bool NextRegressionRecord(LogStream& log, const std::string& name, int64_t endKey, RegressionFile& f) {
  if (f.current.Key() >= endKey) return true;
  if (f.readIndex < 1 || f.readIndex > f.blockCount) {
    if (!ReadRegressionBlock(log, f)) {
      log << "WARNING: regression file " << f.fileName << " of interpolator " << name << " ends with the date "
          << DateText(f.current, kRecordDate.Until(DateField::kHour)) << " h before the end of the simulation period"
          << "[end-entry]";
      return true;
    }
  }
  RegressionRecord r = f.block[static_cast<size_t>(f.readIndex)];
  if (r.date.year == 0 && r.date.month == 0 && r.date.day == 0) return true;
  FixRegressionYear(r.date);
  f.current = r.date;
  f.parameters = RegressionFromValues(r.v);
  ++f.readIndex;
  return false;
}
