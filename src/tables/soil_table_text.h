// The text of the keyword entries of the parameter tables ([soil_table],
// [multilayer_landuse]): "code name { key = values; ... }" spread over one or more lines of
// the control file, keys found by plain substring search; and the numbers of all three
// tables ([landuse_table] too), read as every number of the control file.
#pragma once

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

// The number at the start of value (leading blanks skipped); false when none. A word that
// begins like a number but is none of the kind ("280.5" for an integer, "2,0", "nan") is
// put into refused (when given) for the caller's message; refused is empty otherwise.
bool LeadingDouble(const std::string& value, double& number, std::string* refused = nullptr);
bool LeadingInt(const std::string& value, int& number, std::string* refused = nullptr);
// A whole word (surrounding blanks allowed) as an integer, read as above ("280." is 280);
// false otherwise.
bool WholeInteger(const std::string& word, long& number);
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

// The first word of a text cut to maxLength characters and before any "{".
std::string EntryName(std::string word, size_t maxLength);

}  // namespace tabletext
