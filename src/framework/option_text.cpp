#include "framework/option_text.h"

#include <climits>
#include <cmath>

#include "framework/text_helpers.h"

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Offset of the word at or after from that stands alone (no name character on either
// side), or npos.
size_t FindWord(const std::string& text, const std::string& word, size_t from) {
  if (word.empty()) return std::string::npos;
  for (size_t p = text.find(word, from); p != std::string::npos; p = text.find(word, p + 1)) {
    bool startOk = p == 0 || !IsNameChar(text[p - 1]);
    size_t end = p + word.size();
    bool endOk = end >= text.size() || !IsNameChar(text[end]);
    if (startOk && endOk) return p;
  }
  return std::string::npos;
}

// The value text of the setting whose value starts at offset start: up to the next ";"
// or the end of the text.
std::string ValueText(const std::string& text, size_t start) {
  size_t end = text.find(';', start);
  if (end == std::string::npos) end = text.size();
  return text.substr(start, end - start);
}

bool OnlySpace(const std::string& s) {
  for (char c : s)
    if (!IsSpace(c)) return false;
  return true;
}

// Reads one integer from the start of a value the way a formatted stream read does:
// the longest integer prefix, clamped to the int range; 0 when none.
int ConvertInt(const std::string& value) {
  TextCursor cursor(value);
  long v = 0;
  if (cursor.ReadLong(v)) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
  }
  // Digits beyond the range of long: the sign still decides the limit.
  cursor.Rewind();
  double d = 0.0;
  if (cursor.ReadDouble(d)) {
    if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
  }
  return 0;
}

double ConvertDouble(const std::string& value) {
  TextCursor cursor(value);
  double d = 0.0;
  return cursor.ReadDouble(d) ? d : 0.0;
}

// The separators of list values.
const char* const kListSeparators = "\t ;,\n\r";

}  // namespace

size_t FindOptionKey(const std::string& text, const std::string& key, bool last) {
  size_t found = std::string::npos;
  for (size_t p = FindWord(text, key, 0); p != std::string::npos; p = FindWord(text, key, p + 1)) {
    size_t q = p + key.size();
    while (q < text.size() && IsSpace(text[q])) ++q;
    if (q < text.size() && text[q] == '=') {
      found = q + 1;
      if (!last) break;
    }
  }
  return found;
}

bool ContainsOptionWord(const std::string& text, const std::string& word) {
  return FindWord(text, word, 0) != std::string::npos;
}

bool GetBracedText(std::string& rest, std::string& block) {
  size_t open = rest.find('{');
  if (open == std::string::npos) {
    rest.clear();
    return false;
  }
  size_t close = rest.find('}', open + 1);
  if (close == std::string::npos) {
    block = rest.substr(open + 1);
    rest.clear();
  } else {
    block = rest.substr(open + 1, close - open);
    rest.erase(0, close + 1);
  }
  return true;
}

bool GetKeyValueInt(const std::string& text, const std::string& key, int& out) {
  size_t start = FindOptionKey(text, key);
  if (start == std::string::npos) return false;
  std::string value = ValueText(text, start);
  if (!OnlySpace(value)) out = ConvertInt(value);
  return true;
}

bool GetKeyValueDouble(const std::string& text, const std::string& key, double& out) {
  size_t start = FindOptionKey(text, key);
  if (start == std::string::npos) return false;
  std::string value = ValueText(text, start);
  if (!OnlySpace(value)) out = ConvertDouble(value);
  return true;
}

bool GetKeyValueString(const std::string& text, const std::string& key, std::string& out) {
  size_t start = FindOptionKey(text, key);
  if (start == std::string::npos) return false;
  TextCursor cursor(ValueText(text, start));
  std::string word;
  if (cursor.ReadWord(word)) out = word;
  return true;
}

int GetKeyValueDoubles(const std::string& text, const std::string& key, std::vector<double>& out) {
  size_t start = FindOptionKey(text, key, true);
  if (start == std::string::npos) return 0;
  std::vector<std::string> tokens;
  GetToken(ValueText(text, start), kListSeparators, tokens);
  for (const std::string& t : tokens)
    if (!t.empty()) out.push_back(ConvertDouble(t));
  return static_cast<int>(out.size());
}

int GetKeyValueInts(const std::string& text, const std::string& key, std::vector<int>& out) {
  size_t start = FindOptionKey(text, key, true);
  if (start == std::string::npos) return 0;
  std::vector<std::string> tokens;
  GetToken(ValueText(text, start), kListSeparators, tokens);
  for (const std::string& t : tokens)
    if (!t.empty()) out.push_back(ConvertInt(t));
  return static_cast<int>(out.size());
}
