// Text helpers shared by every reader: the tokenizer, substring search and cut, and
// TextCursor, the one way this program reads lines, words and positional values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits text into words at any of the delimiter characters; double-quoted words stay
// whole (quotes included). Appends to words and returns its new size.
int GetToken(const std::string& text, const std::string& delimiters, std::vector<std::string>& words,
             bool keepEmpty = false);
// Offset of the first occurrence of pattern in text; 0 when absent (and at offset 0).
int StrPos(const std::string& text, const std::string& pattern);
// Keeps the characters start..start+n of text (fewer when it ends earlier); a negative
// start or n leaves the text unchanged. Returns the text.
std::string& MidStr(std::string& text, long start, long n);

// Reads a whole file into memory; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& contents);

// printf into a string sized from its content.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A number for a message, to ten significant digits ("%.10g").
std::string NumberText(double v);
// Whether two words differ in upper and lower case only (or not at all).
bool SameLetters(const std::string& a, const std::string& b);

// The 64-bit FNV-1a hash of bytes, going on from hash (the start value for the first bytes):
// the checksums of the end state's files and the byte a held name takes in a lock file.
constexpr unsigned long long kFnv1aStart = 14695981039346656037ull;
inline unsigned long long Fnv1a(const unsigned char* bytes, size_t count, unsigned long long hash = kFnv1aStart) {
  for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

// A read position in a text held in memory, with scanf-like reads: words are runs of
// non-blank characters, numbers are read as the longest valid prefix at the position
// (so "10#x" reads 10 and leaves "#x"). Blanks and line breaks before a value are
// skipped. Numbers that are not finite ("nan", "inf") are refused. A cursor that requires
// whole numbers (the control file's) reads a number as written and leaves the text
// attached to it as a remark ("37.75N", "60min", "60;"), but refuses a number that the
// attached text would make another one rather than read its first digits: a fraction or
// exponent that an integer would drop ("1.5", "3e9"; "24.0" and "1985." are whole and read
// as 24 and 1985), a hexadecimal prefix ("0x10"), a decimal comma ("2,0") or a second point
// before a digit ("1.000.000").
class TextCursor {
 public:
  TextCursor() = default;
  explicit TextCursor(std::string text) : text_(std::move(text)) {}

  bool LoadFile(const std::string& path);  // replaces the text, rewinds
  void SetText(std::string text) {
    text_ = std::move(text);
    pos_ = 0;
  }
  const std::string& Text() const { return text_; }

  void Rewind() { pos_ = 0; }
  size_t Pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos < text_.size() ? pos : text_.size(); }
  bool AtEnd() const { return pos_ >= text_.size(); }
  // 1-based number of the line the position stands in.
  long LineNumber() const;

  void SkipBlanks();  // blanks, tabs, carriage returns and line breaks
  // The next word (like "%s"); false at the end of the text.
  bool ReadWord(std::string& word);
  bool ReadLong(long& value);      // like "%ld"
  bool ReadInt(int& value);        // like "%d"; values outside int are refused
  bool ReadDouble(double& value);  // like "%lf"
  // The rest of the current line without its line break (a trailing "\r" is dropped);
  // the position moves to the start of the next line.
  std::string RestOfLine();
  // The next whole line (false at the end of the text); a trailing "\r" is dropped.
  bool ReadLine(std::string& line);
  // The character at the position, or 0 at the end.
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  // From now on a number is read whole (see above); a number read that fails leaves the
  // position before its word.
  void RequireWholeNumbers() { wholeNumbers_ = true; }
  // The word at the position when it begins like a number ("1.5x", "2,0", "nan", "-3e9"),
  // the value a failed number read refused; empty when the word is none (a comment).
  std::string RefusedNumber() const;
  // RefusedNumber() when the last number read failed here and the position has not moved
  // since; empty otherwise.
  std::string NumberJustRefused() const { return refusedAt_ == pos_ ? RefusedNumber() : std::string(); }

 private:
  // Reads the number that parsePrefix finds at the position (the length of its longest valid
  // prefix, 0 for none) and takes it when it is whole as required.
  template <typename T>
  bool ReadNumber(T& value, size_t (*parsePrefix)(const char*, const char*, T&));

  std::string text_;
  size_t pos_ = 0;
  size_t refusedAt_ = std::string::npos;  // where the last failed number read stopped
  bool wholeNumbers_ = false;
};

// Whether word begins like a number: an optional sign, then a digit, a point and a digit,
// or "nan"/"inf" in any case. A word that does not ("#", "DDF", "--") begins a comment.
bool BeginsLikeNumber(const std::string& word);

// The numbers at the start of a line of values, at most max of them, each read whole (see
// TextCursor); the first word that does not begin like a number ends them, as does the text
// attached to a number ("0.5mm 0.7": the rest is a remark). A word that begins like a
// number but is no finite number or not whole ("2,0", "0x10", "nan") is returned in refused
// (false); true otherwise, with the numbers in values.
bool ReadNumberRow(const std::string& line, size_t max, std::vector<double>& values, std::string& refused);

// Parses a whole string as a number (surrounding blanks allowed); false otherwise.
bool ParseDouble(const std::string& text, double& value);
bool ParseLong(const std::string& text, long& value);
