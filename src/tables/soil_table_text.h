// The text of the keyword entries of the parameter tables ([soil_table],
// [multilayer_landuse]): "code name { key = values; ... }" spread over one or more lines of
// the control file, keys found by plain substring search; and the numbers of all three
// tables ([landuse_table] too), read as every number of the control file.
#pragma once

#include <string>

#include "framework/text_helpers.h"

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
// The refused word for a message: in quotes, cut after 80 characters.
std::string QuotedNumber(const std::string& word);

// The first word of a text cut to maxLength characters and before any "{".
std::string EntryName(std::string word, size_t maxLength);

}  // namespace tabletext
