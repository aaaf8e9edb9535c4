// The text of the keyword entries of the parameter tables ([soil_table],
// [multilayer_landuse]): "code name { key = values; ... }" spread over one or more lines of
// the control file, keys found by plain substring search.
#pragma once

#include <string>

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

// The number at the start of value (leading blanks skipped, like "%lf"); false when none.
bool LeadingDouble(const std::string& value, double& number);
bool LeadingInt(const std::string& value, int& number);

// The first word of a text cut to maxLength characters and before any "{".
std::string EntryName(std::string word, size_t maxLength);

}  // namespace tabletext
