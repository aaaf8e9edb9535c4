#include "framework/modelobject.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <type_traits>

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/module_log.h"
#include "framework/run_files.h"

modelobject::modelobject() = default;

modelobject::modelobject(LogStream* logStream, const std::string& controlFile, const OutputSettings& settings)
    : controlFileName(controlFile), output(settings) {
  log = logStream;
  runFlag = 0;
}

modelobject::~modelobject() = default;

void modelobject::SetPosition(int index, double x, double y, double z) {
  positionIndex = index;
  positionX = x;
  positionY = y;
  positionZ = z;
}

void modelobject::AppendModelLog(const std::string& text) {
  if (instanceNumber != 0) return;
  std::time_t now = std::time(nullptr);
  char when[64];
  ctime_r(&now, when);
  AppendModuleLog(log, std::string(when) + ": " + text + "\n");
}

void modelobject::SetEndDate(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  endYear = year;
  endMonth = month;
  endDay = day;
  endHour = hour;
  endMinute = minute;
  endDateKey = DateKey(year, month, day, hour, minute);
}

bool modelobject::OpenControlFile(const std::string& path) {
  // While the run is built, its preprocessed copy waits in memory for the check of its files.
  if (const std::string* kept = RunFiles::Current().DeferredText(path)) {
    controlFile.SetText(*kept);
    controlFileOpen = true;
  } else {
    controlFileOpen = controlFile.LoadFile(path);
  }
  // Messages name the lines of the control file the user wrote.
  controlFile.SetSourceLines(ControlFileLines::ForCopy(path));
  controlFile.RequireWholeNumbers();
  return controlFileOpen;
}

void modelobject::ControlFileKeyError(const std::string& a, const std::string& b) {
  ControlFileKeyError(a, b, std::string());
}

namespace {

// What the message on a section not found adds where a heading of the control file differs
// from it by upper and lower case or by a letter or two ("[Soil_model]", "[snow_modell]"):
// that heading, its line and the name to write. Empty otherwise.
std::string NearestSectionNote(const TextCursor& file, const std::string& section, const std::string& shown) {
  const std::string& text = file.Text();
  std::string best;
  size_t bestDistance = 3;  // farther headings are other sections
  long bestLine = 0, line = 1;
  for (size_t at = 0; at < text.size(); ++line) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const size_t first = text.find_first_not_of(" \t", at);
    if (first < end && text[first] == '[') {
      const size_t close = text.find(']', first);
      if (close < end) {
        const std::string heading = text.substr(first, close - first + 1);
        const size_t distance = KeyDistance(heading, section);
        if (heading != section && distance < bestDistance) {
          best = heading;
          bestDistance = distance;
          bestLine = line;
        }
      }
    }
    at = end + 1;
  }
  if (best.empty()) return std::string();
  return "; the section heading " + best + " (" + file.LineText(bestLine, shown) + ") is the nearest: " +
         (bestDistance == 0 ? "upper and lower case count, so " : std::string()) + "write it " + section;
}

}  // namespace

void modelobject::ControlFileKeyError(const std::string& a, const std::string& b, const std::string& fix) {
  // The system's own text first; then, in English, what could not be read and where: the
  // section sought last and the line the reading stopped on. A reader that read a number
  // itself names the word it could not take as one.
  const std::string refused = controlFile.NumberJustRefused();
  const std::string& section = LastSoughtSection();
  std::string label = a;
  while (!label.empty() && label.back() == ' ') label.pop_back();
  const std::string file = ShownControlFile();
  const std::string line =
      controlFile.AtEnd() && refused.empty() ? "at the end of " + file : controlFile.LineText(file);
  std::string english;
  if (b == "(EOF)")
    english = "no line of " + file + " begins with " + label +
              (fix.empty() && label.size() > 2 && label.front() == '[' && label.back() == ']'
                   ? NearestSectionNote(controlFile, label, file)
                   : std::string());
  else if (!refused.empty())
    english = "\"" + refused.substr(0, 80) + "\" is not a number of the kind expected there" +
              CommaBetweenDigitsNote(refused) + ", " + line;
  else if (label.find('\n') != std::string::npos)
    english = "a value cannot be read, " + line;  // the label is a sentence of its own
  else
    english = "the value \"" + label + "\" cannot be read, " + line;
  if (b != "(EOF)" && !section.empty()) english += ", section " + section;
  if (!fix.empty()) english += "; " + fix;
  ControlFileKeyErrorBecause(a, b, english);
}

void modelobject::ControlFileKeyErrorBecause(const std::string& a, const std::string& b, const std::string& why) {
  if (log) *log << "FATAL: error in control file, " << a << "; " << b << "not found! (" << why << ")" << "[end-entry]";
  throw 17;
}

bool modelobject::SectionEndsHere() const {
  const std::string next = controlFile.PeekWord();
  return next.empty() || next[0] == '[';
}

void modelobject::CountBeyondSection(const std::string& a, const std::string& b, const std::string& section,
                                     long countLine, long count, long found, const std::string& what) {
  const size_t at = controlFile.Pos();
  std::string next;
  const bool atEnd = !controlFile.ReadWord(next);
  const std::string end = atEnd ? "the end of the file" : next + " (" + controlFile.LineText() + ")";
  controlFile.Seek(at);
  ControlFileKeyErrorBecause(a, b,
                             section + ", " + controlFile.LineText(countLine, ShownControlFile()) + ": the count is " +
                          std::to_string(count) + ", but the section holds " + std::to_string(found) + " " + what +
                          " before " + end + ": set the count to " + std::to_string(found) +
                          ", or add the missing entries");
}

void modelobject::CheckEntriesEndAtCount(const std::string& a, const std::string& b, const std::string& countSection,
                                         long countLine, long count, const std::string& entriesSection,
                                         const std::string& what) {
  if (SectionEndsHere()) return;
  controlFile.SkipBlanks();
  const std::string next = controlFile.PeekWord();
  ControlFileKeyErrorBecause(a, b,
                             countSection + ", " + controlFile.LineText(countLine, ShownControlFile()) +
                                 ": the count is " + std::to_string(count) + ", but " + entriesSection +
                                 " goes on behind its " + std::to_string(count) + " " + what + " with \"" +
                                 next.substr(0, 80) + "\" (" + controlFile.LineText(ShownControlFile()) +
                                 "), which would not be read: set the count to the number of " + what +
                                 ", or remove the lines behind them");
}

void modelobject::WriteError(const std::string& file, int code) {
  if (log) *log << "FATAL: write error " << file << " ! (" << code << ")" << "[end-entry]";
  throw 18;
}

void modelobject::ReadError(const std::string& file, int code) {
  if (log) *log << "FATAL: read error " << file << " ! (" << code << ")" << "[end-entry]";
  throw 19;
}

namespace {
std::string& SoughtSection() {
  static std::string section;
  return section;
}
}  // namespace

const std::string& modelobject::LastSoughtSection() { return SoughtSection(); }

modelobject::ControlReadObserver& modelobject::ControlReadHook() {
  static ControlReadObserver observer = nullptr;
  return observer;
}

bool modelobject::SeekControlKey(const std::string& key, bool mustExist) {
  SoughtSection() = key;
  if (ControlReadObserver observe = ControlReadHook()) observe(key, nullptr);
  controlFile.Rewind();
  std::string word;
  while (controlFile.ReadWord(word)) {
    // Only the first word of a line counts: drop the rest of the line.
    if (word == key) {
      const long line = controlFile.LineNumber();
      controlFile.RestOfLine();
      NameSectionGivenAgain(key, line);
      return true;
    }
    controlFile.RestOfLine();
  }
  if (mustExist) ControlFileKeyError(key, "(EOF)");
  return false;
}

void modelobject::NameSectionGivenAgain(const std::string& key, long line) {
  const auto& lines = controlFile.SourceLines();
  if (!lines || !lines->FirstCheckOf(key)) return;
  const size_t at = controlFile.Pos();
  std::string word;
  long again = 0;
  while (controlFile.ReadWord(word)) {
    if (word == key) {
      again = controlFile.LineNumber();
      break;
    }
    controlFile.RestOfLine();
  }
  controlFile.Seek(at);
  if (again == 0 || !log) return;
  *log << "WARNING: " << key << " stands twice in " << lines->source << ": the section of "
       << controlFile.LineText(line) << " is read, the one of " << controlFile.LineText(again)
       << " is not (a section is read where it first stands); remove the one not meant" << "[end-entry]";
}

namespace {

// The notice written before a failed value read: the next word of the file.
void ReportUnreadableValue(modelobject& o) {
  if (o.log) *o.log << "--> In ." << "\n" << "  Next line in Orvel control file: " << "[end-entry]";
  std::string next;
  if (!o.controlFile.ReadWord(next)) next = "(EOF)";
  if (next.size() > 1007) next.resize(1007);
  if (o.log) *o.log << next << "[end-entry]";
}

void NoteRead(const std::string& label) {
  if (modelobject::ControlReadObserver observe = modelobject::ControlReadHook())
    observe(modelobject::LastSoughtSection(), &label);
}

// What a value of type T must be, for the message on a word that is none.
template <typename T>
const char* Expected() {
  if (std::is_same<T, int>::value) return "an integer from -2147483648 to 2147483647";
  if (std::is_integral<T>::value) return "an integer";
  return "a finite number";
}

// A value that begins like a number but is none of its type ("1.5" or "3e9" for an
// integer, "2,0", "0x1p2000", "nan") ends the run naming it, its line and the section,
// rather than being read as its first digits.
template <typename T>
void RefuseMalformedNumber(modelobject& o, const std::string& label) {
  if (std::is_same<T, std::string>::value) return;
  const std::string word = o.controlFile.RefusedNumber();
  if (word.empty()) return;
  if (o.log)
    *o.log << "FATAL: error in control file, " << label << (label.find(o.name) == std::string::npos ? o.name : "")
           << ": " << NoNumberText(word, std::string(" is not ") + Expected<T>()) << " ("
           << o.controlFile.LineText(o.ShownControlFile())
           << ", section " << modelobject::LastSoughtSection() << ")" << "[end-entry]";
  std::string refused;
  o.controlFile.ReadWord(refused);  // a caller that goes on reads behind it
  throw 17;
}

template <typename T, typename Reader>
int ReadOne(modelobject& o, T& value, const std::string& label, Reader read) {
  NoteRead(label);
  if (!read(o.controlFile, value)) {
    RefuseMalformedNumber<T>(o, label);
    ReportUnreadableValue(o);
    o.ControlFileKeyError(label, o.name);
  }
  o.restOfLine = o.controlFile.RestOfLine();
  return 1;
}

template <typename T, typename Reader>
int ReadPair(modelobject& o, T& a, T& b, const std::string& label, Reader read) {
  NoteRead(label);
  if (!read(o.controlFile, a) || !read(o.controlFile, b)) {
    RefuseMalformedNumber<T>(o, label);
    o.ControlFileKeyError(label, o.name);
  }
  o.restOfLine = o.controlFile.RestOfLine();
  return 2;
}

}  // namespace

int modelobject::ReadControlValue(int& value, const std::string& label) {
  return ReadOne(*this, value, label, [](TextCursor& c, int& v) { return c.ReadInt(v); });
}

int modelobject::ReadControlValue(long& value, const std::string& label) {
  return ReadOne(*this, value, label, [](TextCursor& c, long& v) { return c.ReadLong(v); });
}

int modelobject::ReadControlValue(long long& value, const std::string& label) {
  long v = 0;
  int n = ReadControlValue(v, label);
  value = v;
  return n;
}

int modelobject::ReadControlValue(double& value, const std::string& label) {
  return ReadOne(*this, value, label, [](TextCursor& c, double& v) { return c.ReadDouble(v); });
}

int modelobject::ReadControlValue(std::string& value, const std::string& label, size_t maxLength) {
  controlFile.SkipBlanks();  // to the line of the word
  const long line = controlFile.LineNumber();
  ReadOne(*this, value, label, [](TextCursor& c, std::string& v) { return c.ReadWord(v); });
  if (value.size() > maxLength) {
    if (log)
      *log << "FATAL: value of " << label << " is longer than " << static_cast<unsigned long>(maxLength)
           << " characters: " << value.substr(0, 80) << "... (" << controlFile.LineText(line, ShownControlFile())
           << ", section " << LastSoughtSection() << ")" << "[end-entry]";
    throw 17;
  }
  return 1;
}

int modelobject::ReadTwoControlValues(double& a, double& b, const std::string& label) {
  return ReadPair(*this, a, b, label, [](TextCursor& c, double& v) { return c.ReadDouble(v); });
}

int modelobject::ReadTwoControlValues(int& a, int& b, const std::string& label) {
  return ReadPair(*this, a, b, label, [](TextCursor& c, int& v) { return c.ReadInt(v); });
}

int modelobject::ReadTwoControlValues(long& a, long& b, const std::string& label) {
  return ReadPair(*this, a, b, label, [](TextCursor& c, long& v) { return c.ReadLong(v); });
}

int modelobject::ReadTwoControlValues(std::string& a, std::string& b, const std::string& label) {
  return ReadPair(*this, a, b, label, [](TextCursor& c, std::string& v) { return c.ReadWord(v); });
}

void modelobject::ResetStatistics(double nodata) {
  statNodata = nodata;
  statCount = statMin = statMax = statSum = statSumSq = 0.0;
  statHasValue = false;
}

void modelobject::AddToStatistics(double x, double w) {
  if (!(x > statNodata + 1)) return;
  statCount += w;
  statSum += w * x;
  statSumSq += w * x * x;
  if (!statHasValue) {
    // The first counted value, whatever its weight (a fractional weight would otherwise
    // leave minimum and maximum at 0).
    statHasValue = true;
    statMin = statMax = x;
  } else if (x < statMin) {
    statMin = x;
  } else if (x > statMax) {
    statMax = x;
  }
}

void modelobject::AddStatisticsPart(double count, double sum, double sumSq, double minimum, double maximum) {
  statCount += count;
  statSum += sum;
  statSumSq += sumSq;
  if (!statHasValue) {
    statHasValue = true;
    statMin = minimum;
    statMax = maximum;
  } else {
    if (minimum < statMin) statMin = minimum;
    if (maximum > statMax) statMax = maximum;
  }
}

void modelobject::GetStatistics(double& count, double& minimum, double& maximum, double& sum, double& mean,
                                double& stddev) const {
  count = statCount;
  minimum = statMin;
  maximum = statMax;
  sum = statSum;
  mean = statCount > 0 ? statSum / statCount : -9999.0;
  if (statCount <= 2) {
    stddev = -9999.0;
  } else {
    double v = (statSumSq - statSum * statSum / statCount) / (statCount - 1);
    stddev = v > 0 ? std::sqrt(v) : v;
  }
}

double modelobject::LinearInterpolate(double x0, double y0, double x1, double y1, double x) const {
  if (x1 == x0) return y0;
  return ((x1 - x) * y0 + (x - x0) * y1) / (x1 - x0);
}

void modelobject::DeleteModule() {
  if (log) *log << "DEBUG: deleting module " << name << "[end-entry]";
  netcdfOptions.reset();
  netcdfCache.reset();
}
