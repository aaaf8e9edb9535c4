// Entry text of the keyword tables: row counts, joined entries and key values.
#include "tables/soil_table_text.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "framework/control_keys.h"
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
      *o.log << "FATAL: error in control file " << o.ShownControlFile() << ", " << section << ": the number of rows "
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

TextCursor NumberCursor(const std::string& text) {
  TextCursor c(text);
  c.RequireWholeNumbers();
  return c;
}

NumberReader::NumberReader(LogStream* log, std::string where, Refusal refuse, std::string zeroWhere)
    : log_(log), where_(std::move(where)), refuse_(std::move(refuse)), zeroWhere_(std::move(zeroWhere)) {}

template <typename T>
bool NumberReader::Next(TextCursor& c, T& number, const std::string& what, const char* expected, bool anyWord) const {
  bool read;
  if constexpr (std::is_same<T, int>::value)
    read = c.ReadInt(number);
  else
    read = c.ReadDouble(number);
  if (read) return true;
  std::string word = c.NumberJustRefused();
  if (word.empty() && anyWord) c.ReadWord(word);
  if (!word.empty()) Refuse(word, what, expected);
  return false;
}

template <typename T>
bool NumberReader::KeyValue(const std::string& value, T& number, const std::string& key, const char* expected) const {
  TextCursor c = NumberCursor(value);
  return Next(c, number, key, expected);
}

template <typename T>
void NumberReader::KeyValueOrZero(const std::string& value, T& number, const std::string& key,
                                  const char* expected) const {
  if (KeyValue(value, number, key, expected)) return;
  number = 0;
  WarnReadAsZero(log_, zeroWhere_.empty() ? where_ : zeroWhere_, key, value);
}

template bool NumberReader::Next(TextCursor&, int&, const std::string&, const char*, bool) const;
template bool NumberReader::Next(TextCursor&, double&, const std::string&, const char*, bool) const;
template bool NumberReader::KeyValue(const std::string&, int&, const std::string&, const char*) const;
template bool NumberReader::KeyValue(const std::string&, double&, const std::string&, const char*) const;
template void NumberReader::KeyValueOrZero(const std::string&, int&, const std::string&, const char*) const;
template void NumberReader::KeyValueOrZero(const std::string&, double&, const std::string&, const char*) const;

void NumberReader::Refuse(const std::string& word, const std::string& what, const std::string& expected) const {
  refuse_(RefusalText(word, what, expected));
  throw std::logic_error("a table's refusal of " + QuotedNumber(word) + " went on");
}

std::string NumberReader::RefusalText(const std::string& word, const std::string& what,
                                      const std::string& expected) const {
  return "FATAL: " + where_ + ": " + QuotedNumber(word) + " (" + what + ") is not " + expected;
}

bool ListNumbers(const std::string& value, bool whole, std::vector<double>& numbers, std::string& refused,
                 std::string* end) {
  std::vector<std::string> words;
  GetToken(value, " \t\r\n,;", words);
  numbers.clear();
  if (end) end->clear();
  for (const std::string& word : words) {
    long integer = 0;
    double number = 0.0;
    TextCursor c = NumberCursor(word);
    const bool read = whole ? c.ReadLong(integer) : c.ReadDouble(number);
    if (!read || !c.AtEnd()) {
      if (end && !BeginsLikeNumber(word)) {
        *end = word;
        return true;
      }
      refused = word;
      return false;
    }
    numbers.push_back(whole ? static_cast<double>(integer) : number);
  }
  return true;
}

std::string CommaBetweenDigits(const std::string& value) {
  std::vector<std::string> words;
  GetToken(value, " \t\r\n;", words);
  auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
  for (const std::string& word : words)
    for (size_t i = 1; i + 1 < word.size(); ++i)
      if (word[i] == ',' && digit(word[i - 1]) && digit(word[i + 1])) return word;
  return std::string();
}

std::string CommaNote(const std::string& value, bool whole) {
  std::string word = CommaBetweenDigits(value);
  if (word.empty()) return std::string();
  std::string fix = word;
  const size_t comma = fix.find(',');
  if (whole)
    fix.resize(comma);
  else
    fix[comma] = '.';
  return "; in lists the comma separates values: " + QuotedNumber(word) + " is read as two values, not as one with " +
         "a decimal comma (" + (whole ? "a day is a whole number: " : "a decimal fraction takes a point: ") + fix + ")";
}

void WarnReadAsZero(LogStream* log, const std::string& where, const std::string& key, const std::string& value) {
  if (!log) return;
  const size_t first = value.find_first_not_of(" \t\r\n");
  *log << "WARNING: " << where << ": ";
  if (first == std::string::npos)
    *log << key << " has no value";
  else
    *log << key << " = " << QuotedNumber(value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1))
         << " is no number";
  *log << "; it reads as 0 (write the number to use another value)" << "[end-entry]";
}

std::string ValueCountText(const std::string& row, int found, const std::string& format) {
  return "FATAL: " + row + ": the line holds " + std::to_string(found) + (found == 1 ? " value" : " values") +
         "; the format has " + format;
}

std::string QuotedNumber(const std::string& word) {
  return "\"" + (word.size() > 80 ? word.substr(0, 80) + "..." : word) + "\"";
}

void ReportUnknownKeys(LogStream* log, const TextCursor& file, const std::string& fileName, size_t from, size_t to,
                       bool braced, const std::string& section, const std::vector<std::string>& known) {
  const std::string& text = file.Text();
  to = std::min(to, text.size());
  from = std::min(from, to);
  std::string entry;
  if (braced) {
    std::vector<std::string> words;
    GetToken(text.substr(from, std::min(text.find_first_of("{\n", from), to) - from), " \t\r", words);
    for (const std::string& word : words) entry += (entry.empty() ? "the entry " : " ") + word;
    if (entry.size() > 90) entry = entry.substr(0, 90) + "...";
  }
  bool inside = !braced, closed = false;
  for (size_t begin = from; begin < to && !closed;) {
    const size_t end = std::min(text.find('\n', begin), to);
    std::string keys = text.substr(begin, end - begin);
    keys.erase(std::min(keys.find('#'), keys.size()));
    if (!inside) {
      const size_t brace = keys.find('{');
      keys.erase(0, brace == std::string::npos ? keys.size() : brace + 1);
      inside = brace != std::string::npos;
    }
    const size_t close = braced ? keys.find('}') : std::string::npos;
    if (close != std::string::npos) {
      keys.erase(close);
      closed = true;
    }
    for (char& c : keys)
      if (c == ';' || c == '{') c = ' ';
    // The line is counted only for a key to name.
    if (::ReportUnknownKeys(nullptr, section, std::string(), keys, known) > 0) {
      const long line = 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<long>(begin), '\n'));
      const std::string where = file.LineText(line, fileName);
      ::ReportUnknownKeys(log, section, entry.empty() ? where : entry + ", " + where, keys, known);
    }
    begin = end + 1;
  }
}

size_t SectionEnd(const std::string& text, size_t from) {
  size_t at = std::min(from, text.size());
  while (at < text.size()) {
    const size_t first = text.find_first_not_of(" \t", at);
    if (first != std::string::npos && text[first] == '[') break;
    const size_t lineBreak = text.find('\n', at);
    at = lineBreak == std::string::npos ? text.size() : lineBreak + 1;
  }
  return at;
}

std::string EntryName(std::string word, size_t maxLength) {
  const size_t brace = word.find('{');
  if (brace != std::string::npos) word.resize(brace);
  if (word.size() > maxLength) word.resize(maxLength);
  return word;
}

}  // namespace tabletext
