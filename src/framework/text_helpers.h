// Text helpers shared by every reader: the tokenizer, substring search and cut, and
// TextCursor, the one way this program reads lines, words and positional values.
#pragma once

#include <cstdint>
#include <memory>
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
// The length of the UTF-8 byte-order mark at the start of bytes (3), or 0 without one. An
// editor may save a text file with one; it is no part of the text: its readers begin behind it.
size_t ByteOrderMarkLength(const char* bytes, size_t size);
inline size_t ByteOrderMarkLength(const std::string& bytes) { return ByteOrderMarkLength(bytes.data(), bytes.size()); }

// printf into a string sized from its content.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A number for a message, to ten significant digits ("%.10g").
std::string NumberText(double v);
// A number for a message with as many digits as tell it from its neighbours: the shortest
// text that reads back as v ("1.0000001", "-1e-09", not "1" and "-0"), of at least
// fewestDigits significant digits where v has them (10: "454800", not "5e+05").
std::string ExactNumberText(double v, int fewestDigits = 1);
// The text "%g" prints for v (six significant digits, trailing zeros dropped), written at
// out (room for 16 characters) without a terminating zero; returns the end. The grids'
// ASCII writers print every cell through it: values of 0.0001 to 999999 (nearly every
// cell) are formatted from their six digits, about five times faster than the general
// conversion, which takes the others and the rare value that lies within a millionth of a
// last digit's halfway point, so that the text is always exactly what "%g" prints.
char* GeneralNumberText(double v, char* out);
// A count as an English ordinal: "1st", "2nd", "3rd", "4th", "11th", "12th", "13th", "21st".
std::string OrdinalText(long n);
// Whether two words differ in upper and lower case only (or not at all).
bool SameLetters(const std::string& a, const std::string& b);

// The 64-bit FNV-1a hash of bytes, going on from hash (the start value for the first bytes):
// the checksums of the end state's files and the byte a held name takes in a lock file.
constexpr unsigned long long kFnv1aStart = 14695981039346656037ull;
inline unsigned long long Fnv1a(const unsigned char* bytes, size_t count, unsigned long long hash = kFnv1aStart) {
  for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

// The lines of a control file behind its preprocessed copy: the copy leaves out the remark
// lines and the "$set" lines, so that its line N is the line lineOf[N] of the file the user
// wrote. The preprocessing makes it, every cursor on the copy carries it, and every message
// that names a line of the copy names the user's line through it (TextCursor::LineText).
struct ControlFileLines {
  std::string source;         // the control file, as named on the command line
  std::string copy;           // its preprocessed copy
  std::vector<long> lineOf;   // index 1..: line of the copy -> line of the control file
  std::string sourceText;     // the control file's text, for messages that quote a line

  // The control file's line of a line of the copy (past the copy's last line: the file's).
  long SourceLine(long copyLine) const;
  // The text of a line of the control file (1-based), without its line break; empty past
  // its end.
  std::string SourceLineContent(long sourceLine) const;
  // Whether a section's lines of the copy are checked for a second header yet: true the
  // first time for each section, false after.
  bool FirstCheckOf(const std::string& section) const;
  // Keeps the lines of a copy for every cursor later opened on it (ForCopy).
  static void Remember(std::shared_ptr<const ControlFileLines> lines);
  // The lines kept for the copy of that name; null when none were (a copy made elsewhere).
  static std::shared_ptr<const ControlFileLines> ForCopy(const std::string& copy);
  // The name a message gives the control file read through a copy of that name: the file
  // the user wrote ("basin.ctl" for "basin.ctl.intern"); the name itself when no lines were
  // kept for it, as for a file read as it stands.
  static std::string SourceOf(const std::string& copy);

  // The sections FirstCheckOf was asked about (kept with the copy, so once per run).
  mutable std::vector<std::string> checkedSections;
};

// A read position in a text held in memory, with scanf-like reads: words are runs of
// non-blank characters, numbers are read as the longest valid prefix at the position
// (so "10#x" reads 10 and leaves "#x"). Blanks and line breaks before a value are
// skipped. Numbers that are not finite ("nan", "inf") are refused. A cursor that requires
// whole numbers (the control file's) reads a number as written and leaves the text
// attached to it as a remark ("37.75N", "60min", "60;"), but refuses a number that the
// attached text would make another one rather than read its first digits: a fraction or
// exponent that leaves an integer not whole ("1.5", "2.5e0"; "24.0", "1985." and "1.1e2"
// are whole and read as 24, 1985 and 110), a hexadecimal prefix ("0x10"), a decimal comma
// ("2,0") or a second point before a digit ("1.000.000"). An integer beyond its type ("3e9"
// for an int) is refused too. Such a cursor reads a row of numbers as the lists of the
// tables are read: a comma or a semicolon right behind a number (blanks may stand around
// it) separates it from the next one, as blanks do ("2.0, 2.0, 2.5"); one between two
// digits ("2,5") stays refused, as it may be a decimal comma, and so does a value left out
// between two separators with a value behind them ("2.0,, 3.0": RefusedNumber gives ",,"),
// which would otherwise end the row there.
class TextCursor {
 public:
  TextCursor() = default;
  explicit TextCursor(std::string text) : text_(std::move(text)) {}

  bool LoadFile(const std::string& path);  // replaces the text, rewinds
  void SetText(std::string text) {
    text_ = std::move(text);
    pos_ = 0;
    valueEnd_ = emptyValueAt_ = std::string::npos;
    sourceLines_.reset();
    countedTo_ = 0;
    countedLine_ = 1;
  }
  // The text is a control file's preprocessed copy of these lines (null: it is not).
  void SetSourceLines(std::shared_ptr<const ControlFileLines> lines) { sourceLines_ = std::move(lines); }
  const std::string& Text() const { return text_; }

  void Rewind() { pos_ = 0; }
  size_t Pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos < text_.size() ? pos : text_.size(); }
  bool AtEnd() const { return pos_ >= text_.size(); }
  // 1-based number of the line the position stands in. The lines are counted on from the
  // position asked last, so a reader that asks at every value as it moves through the text
  // counts each line once.
  long LineNumber() const;
  // A line of the text (by default the position's) as a message names it: "line N", with
  // " of <name>" when a name is given. In a control file's preprocessed copy it is the line
  // the user wrote, with the copy's beside it where the two differ: "line 14 of basin.ctl
  // (line 12 of basin.ctl.intern)".
  std::string LineText(const std::string& name = std::string()) const { return LineText(LineNumber(), name); }
  std::string LineText(long line, const std::string& name = std::string()) const;

  void SkipBlanks();  // blanks, tabs, carriage returns and line breaks
  // Whether only blanks stand between the position and the end of its line (or the text).
  bool AtLineEnd() const;
  // The next word (like "%s"); false at the end of the text.
  bool ReadWord(std::string& word);
  // The next word without moving the position; empty at the end of the text.
  std::string PeekWord() const;
  bool ReadLong(long& value);      // like "%ld"
  bool ReadInt(int& value);        // like "%d"; values outside int are refused
  bool ReadDouble(double& value);  // like "%lf"
  // The next word of a row of values ("1, loam, 25"): as ReadWord, but where numbers are read
  // whole a comma or semicolon separates it as it separates numbers: the one right behind
  // the value read before, and one that ends the word (a blank, the end or a number behind
  // it: "loam," and "loam,25" give "loam"; "silt,clay" stays one word).
  bool ReadRowWord(std::string& word);
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
  // From now on a number is, beyond that, its whole word: what follows it is a blank or a
  // character that begins a remark ("0.5(TG code", "5#", "5;"); anything else glued to it
  // ("5abc", "1d3", "2e", "730'703.77", "243/2", "11²", a no-break space) makes the word no
  // number, and the read fails as above. The storage file's values are read so.
  void RequireWholeWords() { wholeNumbers_ = wholeWords_ = true; }
  // The word at the position when it begins like a number ("1.5x", "2,0", "nan", "-3e9"),
  // the value a failed number read refused; empty when the word is none (a comment).
  std::string RefusedNumber() const;
  // RefusedNumber() when the last number read failed here and the position has not moved
  // since; empty otherwise.
  std::string NumberJustRefused() const { return refusedAt_ == pos_ ? RefusedNumber() : std::string(); }
  // The lines of the control file behind the text (null when it is no preprocessed copy).
  const std::shared_ptr<const ControlFileLines>& SourceLines() const { return sourceLines_; }

 private:
  // Reads the number that parsePrefix finds at the position (the length of its longest valid
  // prefix, 0 for none) and takes it when it is whole as required.
  template <typename T>
  bool ReadNumber(T& value, size_t (*parsePrefix)(const char*, const char*, T&));
  // Passes over the comma or semicolon behind the value just read of a row; false, with the
  // position at it, when a second one follows and leaves a value out.
  bool TakeRowSeparator();

  std::string text_;
  size_t pos_ = 0;
  std::shared_ptr<const ControlFileLines> sourceLines_;
  size_t refusedAt_ = std::string::npos;  // where the last failed number read stopped
  size_t valueEnd_ = std::string::npos;     // where the last value of a row read ended
  size_t emptyValueAt_ = std::string::npos;  // where a value left out was refused
  mutable size_t countedTo_ = 0;          // LineNumber's last position ...
  mutable long countedLine_ = 1;          // ... and the line it stands in
  bool wholeNumbers_ = false;
  bool wholeWords_ = false;
};

// Whether word begins like a number: an optional sign (or two, "--1.5", which no number
// has; a typeset minus U+2212 or en dash U+2013 counts as one, so that "\u22125" is refused
// as a number, not passed over), then a digit, a point and a digit, or "nan"/"inf" in any
// case. A word that does not ("#", "DDF", "--") begins a comment.
bool BeginsLikeNumber(const std::string& word);

// The numbers at the start of a line of values, at most max of them, each read whole and
// separated by blanks, commas or semicolons (see TextCursor); the first word that does not
// begin like a number ends them, as does other text attached to a number ("0.5mm 0.7": the
// rest is a remark). A word that begins like a number but is no finite number or not whole
// ("2,0", "0x10", "nan"), or the separators around a value left out (",,"), is returned in
// refused (false); true otherwise, with the numbers in values. beyond, when given, receives
// the count of numbers that follow the max-th (a row written longer than it is read).
bool ReadNumberRow(const std::string& line, size_t max, std::vector<double>& values, std::string& refused,
                   size_t* beyond = nullptr);
// What a message on a row that holds beyond numbers more than the max it takes says of it,
// behind the row's name: "holds 13 numbers, 1 more than the 12 it takes: ...".
std::string RowBeyondText(size_t max, size_t beyond);

// What a message on a refused number adds on its commas: for a word holding a comma between
// two digits ("2,5", "2.0,2.5") that it makes no number, and how to write a fraction or a row
// of values; for the separators around a value left out (",,") that a value is missing;
// for a word that begins with a typeset minus (U+2212) or en dash that it is no "-".
// Empty for any other word.
std::string CommaBetweenDigitsNote(const std::string& word);
// The message on a word that a number read refused: the word in quotes (its first 80
// characters), what it is (", which is no finite number", " on line 3 is not a whole number",
// or nothing), and CommaBetweenDigitsNote's note on its commas. Every reader that names such
// a word names it so.
std::string NoNumberText(const std::string& word, const std::string& is = std::string());

// The word written right behind a value that ends at valueEnd of text: the text glued to
// the number ("9km" gives "km") or, behind blanks, the next word; it ends at a blank, a comma
// or a semicolon, and brackets around it ("(1/1)") or one closing the entry ("A=50)") are no
// part of it. Empty where a remark ("#"), the end of the line or the next key ("kf=10")
// stands there.
std::string WordBehindValue(const std::string& text, size_t valueEnd);
// What a message says of a unit written behind a value that the value does not take: word
// is a known unit ("km", "min", "%", "K/km", ...) of another scale or kind than unit, the one
// the value takes ("m", "h", "m/m", "K/m", ...): "the unit km behind 9 is not the m the value
// takes (9 km are 9000 m: write 9000)". Empty when the word is the value's own unit (in any
// of its spellings) or no unit this program knows: such a word is a remark.
std::string UnitMismatch(const std::string& word, const std::string& unit, double value);
// Whether word is unit in one of its spellings ("K/m" and "°C/m", "m2" and "m^2").
bool IsSameUnit(const std::string& word, const std::string& unit);
// The same for a value counted in time steps of stepMinutes: a unit of time other than the
// step's own ("min" on an hourly run, "h" on a daily one) is named with the value in steps.
std::string StepUnitMismatch(const std::string& word, double stepMinutes, double value);

// Why a file's bytes cannot be read as this program's text files are, as a message goes on
// behind the file's name: saved in UTF-16 (two bytes a character, a NUL in every other byte
// of plain text), or its lines ending in a carriage return alone (classic Mac OS), which every
// reader would take for one line. Empty when neither holds. head: the bytes are the file's
// first ones only (a long file looked at where it begins), as the message then says.
std::string TextLayoutFault(const std::string& bytes, bool head = false);
// Reads at most maxBytes from the start of a file; false when it cannot be opened or read.
bool ReadFileStart(const std::string& path, size_t maxBytes, std::string& contents);

// Parses a whole string as a number (surrounding blanks allowed); false otherwise.
bool ParseDouble(const std::string& text, double& value);
bool ParseLong(const std::string& text, long& value);
