// The text of the keyword entries of the parameter tables ([soil_table],
// [multilayer_landuse]): "code name { key = values; ... }" spread over one or more lines of
// the control file, keys found by plain substring search; and the numbers of all three
// tables ([landuse_table] too), read as every number of the control file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/text_helpers.h"

class LogStream;
class modelobject;

namespace tabletext {

// Seeks a table section and reads its row count with the rest of the line. An absent
// optional section gives -1; a missing required one is a control-file error (17), and a
// count outside 0..100000 too.
int ReadRowCount(modelobject& o, const std::string& section, const std::string& label, bool required);

// The next line of the open control file; false at its end.
bool NextLine(modelobject& o, std::string& line);

// Appends further lines (joined with a blank) to text until it holds "}"; false when the
// control file ends first.
bool JoinEntry(modelobject& o, std::string& text);

// The text between the first "=" and the first ";" after offset `from`; false when either
// is missing.
bool ValueText(const std::string& text, size_t from, std::string& value);

// A cursor over a table's text that reads numbers as the control file does (TextCursor's
// whole numbers): "280.0" and "280." are the whole number 280, "280.5" is none (a day, a
// code or a count is not cut to its first digits), "2,0" is no number, and text attached
// to a number is a remark ("0.5mm").
TextCursor NumberCursor(const std::string& text);

// "Read a number, else name the word", as a table names the values of one row or section.
// A word that begins like a number but is none of the kind ("280.5" where a whole number is
// read, "2,0", "nan") is refused with the FATAL "FATAL: <where>: "<word>" (<what>) is not
// <expected>", which refuse receives: it writes the text (or carries it to the row's
// message) and ends the row by throwing; it does not return. A value that holds no number at
// all (a word, or nothing) is the caller's to treat, or reads as 0 with a WARNING.
class NumberReader {
 public:
  using Refusal = std::function<void(const std::string& fatal)>;
  // zeroWhere names the row in the WARNING on a value read as 0 (empty: where).
  NumberReader(LogStream* log, std::string where, Refusal refuse, std::string zeroWhere = std::string());

  // The number at the start of a key's value text (leading blanks skipped, text attached to
  // it a remark); false when the text holds none.
  template <typename T>
  bool KeyValue(const std::string& value, T& number, const std::string& key, const char* expected) const;
  // The same, but a value that holds no number reads as 0, with the WARNING of
  // WarnReadAsZero naming the key and the word.
  template <typename T>
  void KeyValueOrZero(const std::string& value, T& number, const std::string& key, const char* expected) const;
  // The next number of a cursor made by NumberCursor; false when none stands there. With
  // anyWord every word that stands there is refused (false then only at the end of the
  // text), else only one that begins like a number.
  template <typename T>
  bool Next(TextCursor& c, T& number, const std::string& what, const char* expected, bool anyWord = false) const;
  // Refuses a word read elsewhere (a value of a list).
  [[noreturn]] void Refuse(const std::string& word, const std::string& what, const std::string& expected) const;
  // The FATAL text on a refused word.
  std::string RefusalText(const std::string& word, const std::string& what, const std::string& expected) const;

 private:
  LogStream* log_;
  std::string where_;
  Refusal refuse_;
  std::string zeroWhere_;
};

// The values of a list key (its value text): the words of the text, separated by blanks,
// tabs, line breaks or commas (in lists the comma separates values), each one number read
// whole as above; whole requires whole numbers ("280." and "1.1e2" are 280 and 110). False
// at the first word that is none: refused then holds it, and numbers the values before it.
// With end given, a word that no number begins ("}", the next key of a pair without its
// ";") ends the list instead and is put into end.
bool ListNumbers(const std::string& value, bool whole, std::vector<double>& numbers, std::string& refused,
                 std::string* end = nullptr);
// A word of a list's value text that a decimal comma may have split in two ("250,0": a digit
// on each side of the comma), for the message on a list that cannot be used; empty when
// there is none.
std::string CommaBetweenDigits(const std::string& value);
// The explanation that follows such a message: what the list read from that word and how
// the value is written (whole: a whole number, "250"; else with a decimal point, "2.0").
std::string CommaNote(const std::string& value, bool whole);
// The WARNING on a key that takes one number but whose value holds none (a word, or
// nothing), and so reads as 0: where names the row.
void WarnReadAsZero(LogStream* log, const std::string& where, const std::string& key, const std::string& value);
// A row of positional values that holds more or fewer of them than its format: the FATAL
// naming the count found and the format's values (what lists them), for the row's message.
std::string ValueCountText(const std::string& row, int found, const std::string& format);
// The refused word for a message: in quotes, cut after 80 characters.
std::string QuotedNumber(const std::string& word);

// The keys set in a table's "key = value;" text that no reader of the table knows (a
// misspelt key would leave its value at the default without a word): each is named in one
// WARNING with its line of the control file and the nearest key the table knows
// (framework/control_keys.h). The text is the part [from, to) of the control file's text.
// With braced it is an entry "code name { key = values; ... }": the WARNING names the entry
// by its code and name, which set no key, and neither does what follows its "}". A remark
// behind "#" sets none either, and pairs may follow one another without a blank ("a = 1;b =
// 2;"). A key holding a known one counts as known: the readers find their keys within longer
// words.
void ReportUnknownKeys(LogStream* log, const TextCursor& file, const std::string& fileName, size_t from, size_t to,
                       bool braced, const std::string& section, const std::vector<std::string>& known);
// The end of a section's text that begins at from: the start of the next line that opens a
// section ("["), or the end of the text.
size_t SectionEnd(const std::string& text, size_t from);

// The first word of a text cut to maxLength characters and before any "{".
std::string EntryName(std::string word, size_t maxLength);

}  // namespace tabletext
