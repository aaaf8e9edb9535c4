// Entry text of the keyword tables: row counts, joined entries and key values.
#include "tables/soil_table_text.h"

#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/text_helpers.h"

namespace tabletext {

int ReadRowCount(modelobject& o, const std::string& section, const std::string& label, bool required) {
  if (!o.SeekControlKey(section, required)) return -1;
  int count = 0;
  o.ReadControlValue(count, label);
  if (count < 0 || count > 100000) {
    if (o.log)
      *o.log << "FATAL: error in control file " << o.controlFileName << ", " << section << ": the number of rows "
             << count << " is not between 0 and 100000" << "[end-entry]";
    throw 17;
  }
  return count;
}

bool NextLine(modelobject& o, std::string& line) { return o.controlFile.ReadLine(line); }

bool JoinEntry(modelobject& o, std::string& text) {
  std::string line;
  while (text.find('}') == std::string::npos) {
    if (!o.controlFile.ReadLine(line)) return false;
    text += ' ';
    text += line;
  }
  return true;
}

bool ValueText(const std::string& text, size_t from, std::string& value) {
  const size_t eq = text.find('=', from);
  if (eq == std::string::npos) return false;
  const size_t end = text.find(';', eq + 1);
  if (end == std::string::npos) return false;
  value = text.substr(eq + 1, end - eq - 1);
  return true;
}

bool LeadingDouble(const std::string& value, double& number) {
  TextCursor c(value);
  return c.ReadDouble(number);
}

bool LeadingInt(const std::string& value, int& number) {
  TextCursor c(value);
  return c.ReadInt(number);
}

std::string EntryName(std::string word, size_t maxLength) {
  const size_t brace = word.find('{');
  if (brace != std::string::npos) word.resize(brace);
  if (word.size() > maxLength) word.resize(maxLength);
  return word;
}

}  // namespace tabletext
