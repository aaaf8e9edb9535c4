#include "framework/text_helpers.h"

#include "framework/file_reason.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A comma or a semicolon: what separates the values of a row where it stands behind one.
bool IsRowSeparator(char c) { return c == ',' || c == ';'; }

// Whether a number (or "nan", "inf") begins at the offset of text.
bool NumberBeginsAt(const std::string& text, size_t at) {
  return at < text.size() && BeginsLikeNumber(text.substr(at, 6));
}

// Parses the longest numeric prefix of [p, end) as a double the way "%lf" does
// (optional sign, digits, fraction, exponent); returns the characters consumed or 0.
size_t ParseDoublePrefix(const char* p, const char* end, double& value) {
  const char* s = p;
  bool negative = false;
  if (s < end && (*s == '+' || *s == '-')) {
    negative = *s == '-';
    ++s;
  }
  // A second sign ("--1", "+-1") makes no number, though from_chars would take the one left.
  if (s >= end || *s == '+' || *s == '-') return 0;
  // from_chars refuses a leading '+', and accepts "inf"/"nan", which we refuse below.
  auto res = std::from_chars(s, end, value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Like strtod: overflow gives a non-finite value, refused; underflow gives 0.
    char buf[64];
    size_t len = static_cast<size_t>(res.ptr - s);
    if (len >= sizeof buf) return 0;
    std::memcpy(buf, s, len);
    buf[len] = '\0';
    value = std::strtod(buf, nullptr);
  } else if (res.ec != std::errc()) {
    return 0;
  }
  if (!std::isfinite(value)) return 0;
  if (negative) value = -value;
  return static_cast<size_t>(res.ptr - p);
}

size_t ParseLongPrefix(const char* p, const char* end, long& value) {
  const char* s = p;
  bool negative = false;
  if (s < end && (*s == '+' || *s == '-')) {
    negative = *s == '-';
    ++s;
  }
  if (s >= end || *s < '0' || *s > '9') return 0;
  unsigned long long magnitude = 0;
  auto res = std::from_chars(s, end, magnitude);
  if (res.ec != std::errc()) return 0;
  if (negative) {
    if (magnitude > static_cast<unsigned long long>(LONG_MAX) + 1ULL) return 0;
    value = magnitude == static_cast<unsigned long long>(LONG_MAX) + 1ULL ? LONG_MIN
                                                                          : -static_cast<long>(magnitude);
  } else {
    if (magnitude > static_cast<unsigned long long>(LONG_MAX)) return 0;
    value = static_cast<long>(magnitude);
  }
  return static_cast<size_t>(res.ptr - p);
}

// Where a number of the control file ends: the text attached to it is a remark ("37.75N",
// "60min", "60;", "37.75°") unless it would make the number another one, a decimal comma
// or a second point before a digit ("2,0", "1.000.000") or a hexadecimal prefix ("0x10").
// p holds the number's used characters; 0 refuses it.
size_t KeptWithItsRemark(const char* p, const char* end, size_t used) {
  const char* next = p + used;
  if (next >= end) return used;
  const bool digitFollows = next + 1 < end && next[1] >= '0' && next[1] <= '9';
  if ((*next == ',' || *next == '.') && digitFollows) return 0;
  const char* digits = *p == '+' || *p == '-' ? p + 1 : p;
  const bool hexFollows = next + 1 < end && std::isxdigit(static_cast<unsigned char>(next[1]));
  if (next - digits == 1 && *digits == '0' && (*next == 'x' || *next == 'X') && hexFollows) return 0;
  return used;
}

// Whether a character right after a number begins a remark (or ends the word): a blank, a
// bracket, "#" or ";". Any other keeps the number's word going ("5abc", "730'703", "243/2",
// "11²", a no-break space or a digit group mark of another script), which is then no number.
bool EndsANumbersWord(char c) { return IsBlank(c) || c == '(' || c == '#' || c == ';'; }

size_t WholeNumberLength(const char* p, const char* end, size_t used, double&) {
  return KeptWithItsRemark(p, end, used);
}

// An integer read with the fraction or exponent written with it, when they leave it whole:
// "24.0" and "1985." are 24 and 1985, "1e0" is 1, "1.1e2" 110 and "20e-1" 2; "1.5" and
// "1.05e1" are refused rather than read as 1.
size_t WholeNumberLength(const char* p, const char* end, size_t used, long& value) {
  double asDouble = 0.0;
  const size_t longer = ParseDoublePrefix(p, end, asDouble);
  if (longer == 0) return 0;  // an exponent beyond every double
  if (longer > used) {
    const bool zeros = p[used] == '.' && std::all_of(p + used + 1, p + longer, [](char c) { return c == '0'; });
    const bool whole = std::fabs(asDouble) < 9007199254740992.0 && asDouble == std::trunc(asDouble);
    if (!zeros && !whole) return 0;
    if (!zeros) value = static_cast<long>(asDouble);
    used = longer;
  }
  return KeptWithItsRemark(p, end, used);
}

}  // namespace

int GetToken(const std::string& text, const std::string& delimiters, std::vector<std::string>& words,
             bool keepEmpty) {
  auto isDelim = [&](char c) { return delimiters.find(c) != std::string::npos; };
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n && isDelim(text[pos])) ++pos;
  const bool quoteIsDelim = isDelim('"');
  while (pos < n) {
    size_t end;  // one past the word's last character
    bool stop = false;
    if (text[pos] == '"' && !quoteIsDelim) {
      size_t q = pos + 1;
      for (; q < n; ++q) {
        if (text[q] != '"') continue;
        bool escaped = q >= 1 && text[q - 1] == '\\' && !(q >= 2 && text[q - 2] == '\\');
        if (!escaped) break;
      }
      if (q >= n) {
        end = n;
        stop = true;
      } else {
        end = q + 1;
      }
    } else {
      end = pos;
      while (end < n && !isDelim(text[end])) ++end;
    }
    words.push_back(text.substr(pos, end - pos));
    if (stop) break;
    pos = end + 1;  // the character right after a word is skipped
    while (pos < n && isDelim(text[pos])) ++pos;
  }
  if (keepEmpty && (text.empty() || isDelim(text.back()))) words.emplace_back();
  return static_cast<int>(words.size());
}

int StrPos(const std::string& text, const std::string& pattern) {
  size_t p = text.find(pattern);
  return p == std::string::npos ? 0 : static_cast<int>(p);
}

std::string& MidStr(std::string& text, long start, long n) {
  if (start < 0 || n < 0) return text;
  if (static_cast<size_t>(start) >= text.size()) {
    text.clear();
    return text;
  }
  text = text.substr(static_cast<size_t>(start), static_cast<size_t>(n) + 1);
  return text;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  if (!RegularOrMissing(path)) return false;  // FileOpenReason names what it is
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  contents.clear();
  char buf[1 << 16];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, got);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool ReadFileStart(const std::string& path, size_t maxBytes, std::string& contents) {
  contents.clear();
  if (!RegularOrMissing(path)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  contents.resize(maxBytes);
  const size_t got = std::fread(&contents[0], 1, maxBytes, f);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  contents.resize(got);
  return ok;
}

std::string TextLayoutFault(const std::string& bytes, bool head) {
  const std::string looked = head ? FormatText(" in its first %zu bytes", bytes.size()) : std::string();
  // UTF-16: a byte-order mark FF FE or FE FF, or plain text whose every other byte is NUL
  // (three in four of them at least; a block of NULs, as a crash may leave, has them in both
  // places and is no UTF-16).
  const size_t sample = std::min<size_t>(bytes.size(), 4096) & ~static_cast<size_t>(1);
  size_t evenNul = 0, oddNul = 0;
  for (size_t i = 0; i < sample; ++i) (i % 2 ? oddNul : evenNul) += bytes[i] == '\0';
  const bool littleMark = bytes.compare(0, 2, "\xFF\xFE") == 0, bigMark = bytes.compare(0, 2, "\xFE\xFF") == 0;
  const size_t more = std::max(evenNul, oddNul), fewer = std::min(evenNul, oddNul);
  if (littleMark || bigMark || (sample >= 4 && more * 8 >= sample * 3 && fewer * 8 <= more)) {
    const bool little = littleMark || (!bigMark && oddNul >= evenNul);
    return std::string("is saved in UTF-16 (") + (little ? "little" : "big") + "-endian" +
           (littleMark || bigMark ? ", with the byte-order mark " + std::string(little ? "FF FE" : "FE FF") : "") +
           "): its readers read text of one byte a character (ASCII or UTF-8); save it as UTF-8 (iconv -f UTF-16 -t "
           "UTF-8 old > new)";
  }
  // Lines that end in a carriage return alone run together into one line for every reader.
  long loneReturns = 0, lineFeeds = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    lineFeeds += bytes[i] == '\n';
    loneReturns += bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
  }
  if (loneReturns <= lineFeeds) return std::string();
  return FormatText("ends its lines with a carriage return alone (CR, %ld of them, and %ld line feeds%s), as classic "
                    "Mac OS saved text: its readers read lines that end in a line feed (LF, or CR LF); save the "
                    "file with LF or CR LF line ends (tr '\\r' '\\n' < old > new)",
                    loneReturns, lineFeeds, looked.c_str());
}

size_t ByteOrderMarkLength(const char* bytes, size_t size) {
  return size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

bool TextCursor::LoadFile(const std::string& path) {
  pos_ = 0;
  valueEnd_ = emptyValueAt_ = std::string::npos;
  sourceLines_.reset();
  countedTo_ = 0;
  countedLine_ = 1;
  return ReadWholeFile(path, text_);
}

std::string TextCursor::LineText(long line, const std::string& name) const {
  if (!sourceLines_) return "line " + std::to_string(line) + (name.empty() ? std::string() : " of " + name);
  const long source = sourceLines_->SourceLine(line);
  std::string text = "line " + std::to_string(source) + " of " + sourceLines_->source;
  if (source != line) text += " (line " + std::to_string(line) + " of " + sourceLines_->copy + ")";
  return text;
}

std::string ControlFileLines::SourceLineContent(long sourceLine) const {
  size_t start = 0;
  for (long line = 1; line < sourceLine; ++line) {
    start = sourceText.find('\n', start);
    if (start == std::string::npos) return std::string();
    ++start;
  }
  if (sourceLine < 1 || start >= sourceText.size()) return std::string();
  size_t end = sourceText.find('\n', start);
  if (end == std::string::npos) end = sourceText.size();
  if (end > start && sourceText[end - 1] == '\r') --end;
  return sourceText.substr(start, end - start);
}

long ControlFileLines::SourceLine(long copyLine) const {
  if (copyLine < 1 || lineOf.size() < 2) return copyLine;
  if (static_cast<size_t>(copyLine) < lineOf.size()) return lineOf[static_cast<size_t>(copyLine)];
  // Behind the copy's last line (the end of the text): counted on from the last line's.
  return lineOf.back() + (copyLine - static_cast<long>(lineOf.size()) + 1);
}

namespace {
std::mutex gControlLinesMutex;
std::map<std::string, std::shared_ptr<const ControlFileLines>>& ControlLinesByCopy() {
  static std::map<std::string, std::shared_ptr<const ControlFileLines>> byCopy;
  return byCopy;
}
}  // namespace

bool ControlFileLines::FirstCheckOf(const std::string& section) const {
  std::lock_guard<std::mutex> hold(gControlLinesMutex);
  if (std::find(checkedSections.begin(), checkedSections.end(), section) != checkedSections.end()) return false;
  checkedSections.push_back(section);
  return true;
}

void ControlFileLines::Remember(std::shared_ptr<const ControlFileLines> lines) {
  if (!lines) return;
  std::lock_guard<std::mutex> hold(gControlLinesMutex);
  ControlLinesByCopy()[lines->copy] = std::move(lines);
}

std::shared_ptr<const ControlFileLines> ControlFileLines::ForCopy(const std::string& copy) {
  std::lock_guard<std::mutex> hold(gControlLinesMutex);
  const auto it = ControlLinesByCopy().find(copy);
  return it == ControlLinesByCopy().end() ? nullptr : it->second;
}

std::string ControlFileLines::SourceOf(const std::string& copy) {
  const auto lines = ForCopy(copy);
  return lines ? lines->source : copy;
}

long TextCursor::LineNumber() const {
  const size_t to = std::min(pos_, text_.size());
  const auto breaks = [this](size_t from, size_t until) {
    return static_cast<long>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(from),
                                        text_.begin() + static_cast<std::ptrdiff_t>(until), '\n'));
  };
  if (to >= countedTo_)
    countedLine_ += breaks(countedTo_, to);
  else if (to >= countedTo_ / 2)
    countedLine_ -= breaks(to, countedTo_);  // back a little (a reader that returns to a mark)
  else
    countedLine_ = 1 + breaks(0, to);  // back near the start (a rewind)
  countedTo_ = to;
  return countedLine_;
}

void TextCursor::SkipBlanks() {
  while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
}

bool TextCursor::AtLineEnd() const {
  size_t at = pos_;
  while (at < text_.size() && text_[at] != '\n' && IsBlank(text_[at])) ++at;
  return at >= text_.size() || text_[at] == '\n';
}

std::string TextCursor::PeekWord() const {
  size_t start = pos_;
  while (start < text_.size() && IsBlank(text_[start])) ++start;
  size_t end = start;
  while (end < text_.size() && !IsBlank(text_[end])) ++end;
  return text_.substr(start, end - start);
}

bool TextCursor::ReadWord(std::string& word) {
  SkipBlanks();
  if (AtEnd()) return false;
  size_t start = pos_;
  while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
  word.assign(text_, start, pos_ - start);
  return true;
}

bool TextCursor::TakeRowSeparator() {
  if (!wholeNumbers_ || wholeWords_ || pos_ != valueEnd_) return true;
  const auto spaceEnd = [this](size_t p) {
    while (p < text_.size() && (text_[p] == ' ' || text_[p] == '\t')) ++p;
    return p;
  };
  const size_t p = spaceEnd(pos_);
  if (p >= text_.size() || !IsRowSeparator(text_[p])) return true;
  // A second separator with a value behind it leaves a value out ("2.0,, 3.0"): refused,
  // rather than read as the end of the row.
  size_t next = spaceEnd(p + 1);
  if (next < text_.size() && IsRowSeparator(text_[next])) {
    while (next < text_.size() && (IsRowSeparator(text_[next]) || text_[next] == ' ' || text_[next] == '\t')) ++next;
    if (NumberBeginsAt(text_, next)) {
      pos_ = refusedAt_ = emptyValueAt_ = p;
      return false;
    }
  }
  pos_ = p + 1;
  return true;
}

template <typename T>
bool TextCursor::ReadNumber(T& value, size_t (*parsePrefix)(const char*, const char*, T&)) {
  if (!TakeRowSeparator()) return false;
  SkipBlanks();
  T v{};
  const char* at = text_.data() + pos_;
  const char* end = text_.data() + text_.size();
  size_t used = parsePrefix(at, end, v);
  if (used > 0 && wholeNumbers_) used = WholeNumberLength(at, end, used, v);
  if (used > 0 && wholeWords_ && at + used < end && !EndsANumbersWord(at[used])) used = 0;
  if (used == 0) {
    refusedAt_ = pos_;
    return false;
  }
  value = v;
  pos_ += used;
  valueEnd_ = pos_;
  return true;
}

bool TextCursor::ReadRowWord(std::string& word) {
  if (!TakeRowSeparator()) return false;
  SkipBlanks();
  if (AtEnd()) return false;
  const size_t start = pos_;
  for (; pos_ < text_.size() && !IsBlank(text_[pos_]); ++pos_) {
    if (!wholeNumbers_ || pos_ == start || !IsRowSeparator(text_[pos_])) continue;
    const size_t next = pos_ + 1;
    if (next >= text_.size() || IsBlank(text_[next]) || NumberBeginsAt(text_, next)) break;
  }
  word.assign(text_, start, pos_ - start);
  valueEnd_ = pos_;
  return true;
}

bool TextCursor::ReadLong(long& value) { return ReadNumber(value, ParseLongPrefix); }

bool TextCursor::ReadInt(int& value) {
  size_t save = pos_;
  long v;
  if (!ReadLong(v)) return false;
  if (v < INT_MIN || v > INT_MAX) {
    pos_ = refusedAt_ = save;
    return false;
  }
  value = static_cast<int>(v);
  return true;
}

bool TextCursor::ReadDouble(double& value) { return ReadNumber(value, ParseDoublePrefix); }

std::string TextCursor::RefusedNumber() const {
  if (pos_ == emptyValueAt_) {
    // The separators around the value left out, as written: ",," or ", ;".
    size_t end = pos_;
    while (end < text_.size() && (IsRowSeparator(text_[end]) || text_[end] == ' ' || text_[end] == '\t')) ++end;
    while (end > pos_ && !IsRowSeparator(text_[end - 1])) --end;
    return text_.substr(pos_, end - pos_);
  }
  std::string word = PeekWord();
  return BeginsLikeNumber(word) ? word : std::string();
}

namespace {

// The length of a typeset minus (U+2212) or en dash (U+2013) at the start of word, which
// text pasted from a document writes for "-"; 0 otherwise.
size_t TypesetMinusLength(const std::string& word) {
  if (word.compare(0, 3, "\xE2\x88\x92") == 0 || word.compare(0, 3, "\xE2\x80\x93") == 0) return 3;
  return 0;
}

}  // namespace

bool BeginsLikeNumber(const std::string& word) {
  size_t i = TypesetMinusLength(word);
  while (i < 2 && i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  auto digit = [&](size_t k) { return k < word.size() && word[k] >= '0' && word[k] <= '9'; };
  if (digit(i) || (i < word.size() && word[i] == '.' && digit(i + 1))) return true;
  std::string head = word.substr(i, 3);
  for (char& ch : head) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return head == "nan" || head == "inf";
}

bool ReadNumberRow(const std::string& line, size_t max, std::vector<double>& values, std::string& refused,
                   size_t* beyond) {
  values.clear();
  refused.clear();
  if (beyond) *beyond = 0;
  TextCursor c(line);
  c.RequireWholeNumbers();
  double v = 0.0;
  while (values.size() < max) {
    if (c.ReadDouble(v)) {
      values.push_back(v);
      continue;
    }
    refused = c.RefusedNumber();
    return refused.empty();
  }
  // Behind the row, a number with a word attached ("1/d", "2mm") begins a remark.
  const auto wordEnds = [&] {
    const char before = c.Pos() > 0 ? line[c.Pos() - 1] : ' ';
    return c.AtEnd() || EndsANumbersWord(c.Peek()) || IsRowSeparator(c.Peek()) || IsRowSeparator(before) ||
           IsBlank(before);
  };
  if (beyond)
    for (double more = 0.0; c.ReadDouble(more) && wordEnds();) ++*beyond;
  return true;
}

std::string RowBeyondText(size_t max, size_t beyond) {
  return "holds " + std::to_string(max + beyond) + " numbers, " + std::to_string(beyond) + " more than the " +
         std::to_string(max) + " it takes, and the rest of the line is not read (a remark behind the values begins "
         "with a word or \"#\")";
}

std::string TextCursor::RestOfLine() {
  size_t start = pos_;
  size_t nl = text_.find('\n', pos_);
  size_t end = nl == std::string::npos ? text_.size() : nl;
  pos_ = nl == std::string::npos ? text_.size() : nl + 1;
  if (end > start && text_[end - 1] == '\r') --end;
  return text_.substr(start, end - start);
}

bool TextCursor::ReadLine(std::string& line) {
  if (AtEnd()) return false;
  line = RestOfLine();
  return true;
}

std::string CommaBetweenDigitsNote(const std::string& word) {
  if (TypesetMinusLength(word) > 0)
    return std::string(": it begins with ") +
           (word[1] == '\x88' ? "the minus sign U+2212 (\"\xE2\x88\x92\")" : "the en dash U+2013 (\"\xE2\x80\x93\")") +
           " of typeset text, which is no \"-\": write the minus of a number as \"-\" (the hyphen-minus, \"-" +
           word.substr(3, 20) + "\")";
  if (!word.empty() && IsRowSeparator(word[0]))
    return ": no value stands between the separators (each value of a row stands behind one comma or semicolon: "
           "write the value left out, or drop a separator, \"2.0, 3.0\")";
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t i = 1; i + 1 < word.size(); ++i)
    if (word[i] == ',' && digit(word[i - 1]) && digit(word[i + 1]))
      return ": the comma between digits makes no number (a fraction is written with a point, \"2.5\"; values "
             "of a row are separated by blanks, or by a comma and a blank, \"2.0, 2.5\")";
  return std::string();
}

namespace {

// The units a value may be written with, and the base of their kind each is a multiple of.
struct UnitWord {
  const char* word;
  const char* kind;
  double factor;
};
const UnitWord kUnitWords[] = {
    {"mm", "length", 1e-3}, {"cm", "length", 1e-2},  {"dm", "length", 0.1},    {"m", "length", 1.0},
    {"km", "length", 1e3},  {"s", "time", 1.0},      {"sec", "time", 1.0},     {"min", "time", 60.0},
    {"h", "time", 3600.0},  {"hr", "time", 3600.0},  {"hours", "time", 3600.0}, {"d", "time", 86400.0},
    {"day", "time", 86400.0}, {"days", "time", 86400.0}, {"m2", "area", 1.0}, {"m^2", "area", 1.0},
    {"m\xc2\xb2", "area", 1.0}, {"ha", "area", 1e4}, {"km2", "area", 1e6}, {"km^2", "area", 1e6},
    {"km\xc2\xb2", "area", 1e6}, {"m3", "volume", 1.0}, {"m^3", "volume", 1.0}, {"m\xc2\xb3", "volume", 1.0},
    {"l", "volume", 1e-3},  {"hm3", "volume", 1e6},  {"m/m", "slope", 1.0},   {"1/1", "slope", 1.0},
    {"-", "slope", 1.0},    {"%", "slope", 0.01},    {"\xe2\x80\xb0", "slope", 1e-3}, {"m/km", "slope", 1e-3},
    {"K/m", "gradient", 1.0}, {"K/km", "gradient", 1e-3}, {"K/100m", "gradient", 1e-2},
    {"\xc2\xb0" "C/m", "gradient", 1.0}, {"\xc2\xb0" "C/km", "gradient", 1e-3},
    {"\xc2\xb0" "C/100m", "gradient", 1e-2}};

const UnitWord* FindUnit(const std::string& word) {
  for (const UnitWord& u : kUnitWords)
    if (word == u.word) return &u;
  return nullptr;
}

}  // namespace

std::string WordBehindValue(const std::string& text, size_t valueEnd) {
  size_t p = std::min(valueEnd, text.size());
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
  size_t end = p;
  while (end < text.size() && !IsBlank(text[end]) && !IsRowSeparator(text[end])) ++end;
  std::string word = text.substr(p, end - p);
  size_t next = end;
  while (next < text.size() && (text[next] == ' ' || text[next] == '\t')) ++next;
  if (word.empty() || word[0] == '#' || word.find('=') != std::string::npos ||
      (next < text.size() && text[next] == '='))
    return std::string();
  // Brackets around the word, and a closing one left over from the entry's.
  if (word.size() > 2 && word.front() == '(' && word.back() == ')') word = word.substr(1, word.size() - 2);
  const auto opened = std::count(word.begin(), word.end(), '(');
  if (!word.empty() && word.back() == ')' && std::count(word.begin(), word.end(), ')') > opened) word.pop_back();
  return word;
}

// UnitMismatch against the unit own (named unit) of a kind and its factor to the kind's base.
std::string UnitMismatchOf(const std::string& word, const std::string& unit, const char* kind, double factor,
                           double value) {
  const UnitWord* written = FindUnit(word);
  if (!written || (std::strcmp(written->kind, kind) == 0 && written->factor == factor)) return std::string();
  const std::string v = NumberText(value);
  std::string text = "the unit " + word + " behind " + v + " is not the " + unit + " the value takes";
  if (std::strcmp(written->kind, kind) != 0) return text + " (write the value in " + unit + ")";
  const std::string converted = NumberText(value * written->factor / factor);
  return text + " (" + v + " " + word + " is " + converted + " " + unit + ": write " + converted + ")";
}

std::string UnitMismatch(const std::string& word, const std::string& unit, double value) {
  const UnitWord* own = FindUnit(unit);
  return own ? UnitMismatchOf(word, unit, own->kind, own->factor, value) : std::string();
}

bool IsSameUnit(const std::string& word, const std::string& unit) {
  const UnitWord* written = FindUnit(word);
  const UnitWord* own = FindUnit(unit);
  return written && own && std::strcmp(written->kind, own->kind) == 0 && written->factor == own->factor;
}

std::string StepUnitMismatch(const std::string& word, double stepMinutes, double value) {
  const double seconds = stepMinutes * 60.0;
  // The step named by a unit of its length where there is one ("h", "d").
  std::string unit = "steps of " + NumberText(stepMinutes) + " min";
  for (const UnitWord& u : kUnitWords)
    if (std::strcmp(u.kind, "time") == 0 && u.factor == seconds) {
      unit = u.word;
      break;
    }
  return UnitMismatchOf(word, unit, "time", seconds, value);
}

std::string NoNumberText(const std::string& word, const std::string& is) {
  return "\"" + word.substr(0, 80) + "\"" + is + CommaBetweenDigitsNote(word);
}

bool ParseDouble(const std::string& text, double& value) {
  TextCursor c(text);
  if (!c.ReadDouble(value)) return false;
  c.SkipBlanks();
  return c.AtEnd();
}

bool ParseLong(const std::string& text, long& value) {
  TextCursor c(text);
  if (!c.ReadLong(value)) return false;
  c.SkipBlanks();
  return c.AtEnd();
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&out[0], out.size() + 1, format, args);
  va_end(args);
  return out;
}

std::string NumberText(double v) { return FormatText("%.10g", v); }

std::string ExactNumberText(double v, int fewestDigits) {
  std::string text;
  for (int digits = fewestDigits; digits <= 17; ++digits) {
    text = FormatText("%.*g", digits, v);
    if (std::strtod(text.c_str(), nullptr) == v) break;
  }
  return text;
}

namespace {

// "%g" of a value of 0.0001 <= |v| < 999999.5 from its six digits, written at out; returns
// the end, or nullptr where the general conversion must decide: the sixth digit lies within
// a millionth of a rounding's halfway point, or the rounding reaches 10^6.
char* SixDigitText(double v, double a, char* out) {
  static const double kPower[10] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  // The decimal exponent: 10^e <= a < 10^(e+1), -4 <= e <= 5. The doubles nearest the
  // negative powers lie above them, so the comparison never takes a value below a power
  // for one at it.
  int e = 5;
  while (e > 0 && a < kPower[e]) --e;
  if (e == 0 && a < 1.0) {
    e = -1;
    while (e > -4 && a < 1.0 / kPower[-e]) --e;
  }
  // Six digits: the product is exact to well below a millionth of the last digit.
  const double scaled = a * kPower[5 - e];
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < 1e-6) return nullptr;
  long digits = static_cast<long>(whole) + (fraction > 0.5 ? 1 : 0);
  if (digits == 1000000) {
    digits = 100000;
    if (++e > 5) return nullptr;
  }
  char d[6];
  for (int k = 5; k >= 0; --k, digits /= 10) d[k] = static_cast<char>('0' + digits % 10);
  int last = 5;
  while (last > 0 && d[last] == '0') --last;
  if (v < 0) *out++ = '-';
  if (e < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int k = -1; k > e; --k) *out++ = '0';
    for (int k = 0; k <= last; ++k) *out++ = d[k];
    return out;
  }
  for (int k = 0; k <= e; ++k) *out++ = d[k];
  if (last > e) {
    *out++ = '.';
    for (int k = e + 1; k <= last; ++k) *out++ = d[k];
  }
  return out;
}

}  // namespace

char* GeneralNumberText(double v, char* out) {
  const double a = std::fabs(v);
  if (a == 0.0) {
    if (std::signbit(v)) *out++ = '-';
    *out++ = '0';
    return out;
  }
  if (a >= 1e-4 && a < 999999.5)
    if (char* end = SixDigitText(v, a, out)) return end;
  return std::to_chars(out, out + 16, v, std::chars_format::general, 6).ptr;
}

std::string OrdinalText(long n) {
  const long last = (n < 0 ? -n : n) % 100;
  if (last >= 11 && last <= 13) return std::to_string(n) + "th";
  static const char* const kSuffix[10] = {"th", "st", "nd", "rd", "th", "th", "th", "th", "th", "th"};
  return std::to_string(n) + kSuffix[last % 10];
}

bool SameLetters(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
