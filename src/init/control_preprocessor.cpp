#include "init/control_preprocessor.h"

#include <algorithm>
#include <cstdlib>

#include "framework/logstream.h"
#include "framework/text_helpers.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

[[noreturn]] void Fail(LogStream* log, const std::string& text) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw 17;
}

// A line of the control file as the messages name it.
std::string LineOf(long lineNumber, const std::string& source) {
  return "line " + std::to_string(lineNumber) + " of " + source;
}

[[noreturn]] void UndefinedSymbol(LogStream* log, long lineNumber, const std::string& line, const std::string& word) {
  if (log)
    *log << "FATAL: \n-----------------------------------------------------------"
         << "\npossible error in control file!\n"
         << "undefined symbol at line " << lineNumber << ": \"" << word.substr(0, 80)
         << "\" is no symbol a \"$set\" line sets (a name ends at a blank, \",\", \"/\", \";\" or \")\")\n"
         << line << "\n\n-----------------------------------------------------------\n"
         << "[end-entry]";
  throw 17;
}

// Cuts the line at its first "#": the character in front of it becomes the line break
// when it is a blank; a value written right before the "#" is kept whole.
void CutRemark(std::string& line) {
  size_t hash = line.find('#');
  if (hash == std::string::npos || hash == 0) return;
  if (IsSpace(line[hash - 1])) {
    line[hash - 1] = '\n';
    line.resize(hash);
  } else {
    line.resize(hash);
    line += '\n';
  }
}

void RemoveDoubleSlashes(std::string& line) {
  size_t p;
  while ((p = line.find("//")) != std::string::npos) line.erase(p, 2);
}

// A value is "plainly a number" (no duplicate warning) when it holds inf or nan in any of
// the usual spellings or converts as a whole to a number.
bool IsNumericValue(const std::string& value) {
  static const char* const kSpecial[] = {"inf", "nan", "INF", "NAN", "Inf", "Nan"};
  for (const char* s : kSpecial)
    if (value.find(s) != std::string::npos) return true;
  if (value.empty()) return false;
  char* end = nullptr;
  std::strtod(value.c_str(), &end);
  return end != nullptr && *end == '\0';
}

// The name and the value of a "$set" line's words: "$set $name = value", and the same with
// the "=" written without blanks ("$name=value", "$name= value", "$name =value"); the word in
// the place of the "=" is not looked at ("$set $name : value"). False when a part is missing.
bool SplitDefinition(const std::vector<std::string>& words, std::string& name, std::string& value) {
  if (words.size() >= 2) {
    const size_t eq = words[1].find('=');
    if (eq != std::string::npos && eq > 0) {
      name = words[1].substr(0, eq);
      value = words[1].substr(eq + 1);
      if (value.empty() && words.size() >= 3) value = words[2];
      return !value.empty();
    }
  }
  if (words.size() == 3 && words[2].size() > 1 && words[2][0] == '=') {
    name = words[1];
    value = words[2].substr(1);
    return true;
  }
  if (words.size() < 4) return false;
  name = words[1];
  value = words[3];
  return true;
}

// A symbol set again (a shared header's value and a local one): every line takes the value it
// was first set to, which the WARNING names with both lines (an INFO where both give the
// same value).
void WarnIfSetBefore(LogStream* log, const SymbolTable& table, int index, const std::string& source) {
  int first = 1;
  while (first < index && table.names[first] != table.names[index]) ++first;
  if (first == index || !log) return;
  // Set again to the same value it changes nothing: worth knowing, not a fault.
  if (table.values[first] == table.values[index]) {
    *log << "INFO: the symbol " << table.names[index] << " is set twice in " << source << ", at line "
         << table.lines[first] << " to " << table.values[first] << " and at line " << table.lines[index] << " to "
         << table.values[index] << ": the same value, so the second line changes nothing" << "[end-entry]";
    return;
  }
  *log << "WARNING: the symbol " << table.names[index] << " is set twice in " << source << ", at line "
       << table.lines[first] << " to " << table.values[first] << " and at line " << table.lines[index] << " to "
       << table.values[index] << ": the run uses the value of line " << table.lines[first] << ", "
       << table.values[first] << ", on every line (a symbol keeps the value it is first set to); remove the "
       << "line not meant" << "[end-entry]";
}

// The index 1..count of the symbol named token; 0 for none.
int SymbolIndex(const std::vector<std::string>& names, int count, const std::string& token) {
  for (int i = 1; i <= count; ++i)
    if (names[i] == token) return i;
  return 0;
}

}  // namespace

std::string& SubstituteLine(LogStream* log, std::string& line, long lineNumber, const std::vector<std::string>& names,
                            const std::vector<std::string>& values, int count, int selfIndex,
                            const std::string& source) {
  CutRemark(line);
  if (line.find("$set") != std::string::npos) return line;

  // More replacements than this, or more growth, mean that symbols refer to each other
  // (through values that hold "$set" and so keep their "$"): the line would grow without
  // end, and every replacement moves the rest of the line.
  constexpr int kMaxReplacements = 10000;
  constexpr size_t kMaxGrowth = 100000;
  const size_t longest = line.size() + kMaxGrowth;
  int replacements = 0;
  // The text in front of the first "$" holds none, and a value is put in where its name
  // began, so the search for the next "$" starts there.
  size_t dollar = 0;
  while ((dollar = line.find('$', dollar)) != std::string::npos) {
    if (++replacements > kMaxReplacements)
      Fail(log, "the symbols in " + LineOf(lineNumber, source) + " refer to each other without end");
    // The name runs to the first blank, "//" or ";"; one longer than any name matches none.
    size_t end = dollar;
    while (end < line.size() && end - dollar <= kMaxSymbolText && !IsSpace(line[end]) && line[end] != ';' &&
           line.compare(end, 2, "//") != 0)
      ++end;
    std::string token = line.substr(dollar, end - dollar);
    int match = SymbolIndex(names, count, token);
    // A name also ends at a comma, a slash or a closing bracket ("kh=$kh, kf=10", "$base/").
    if (match == 0) {
      token.resize(std::min(token.find_first_of(",/)"), token.size()));
      match = SymbolIndex(names, count, token);
    }
    if (match == 0) UndefinedSymbol(log, lineNumber, line, token);
    if (match == selfIndex)
      Fail(log, "symbol " + token + " refers to itself at " + LineOf(lineNumber, source));
    // The token starts at the first "$", so the first occurrence of the name is there.
    line.replace(dollar, names[match].size(), values[match]);
    if (line.size() > longest)
      Fail(log, "replacing the symbols in " + LineOf(lineNumber, source) + " makes it more than " +
                    std::to_string(kMaxGrowth) + " characters longer");
  }
  RemoveDoubleSlashes(line);
  return line;
}

std::string PreprocessControlText(LogStream* log, const std::string& text, std::vector<long>* lineOf,
                                  const std::string& source) {
  // Split into physical lines; "\r\n" counts as a line break like "\n". Lines have no
  // length limit: a long line is never split into two.
  std::vector<std::string> lines;
  bool lastHasBreak = !text.empty() && text.back() == '\n';
  {
    TextCursor cursor(text);
    std::string line;
    while (cursor.ReadLine(line)) {
      lines.push_back(line);
    }
  }
  auto withBreak = [&](size_t i) {
    std::string l = " " + lines[i];
    if (i + 1 < lines.size() || lastHasBreak) l += '\n';
    return l;
  };

  // Pass 1: collect the symbols in file order.
  SymbolTable table;
  for (size_t i = 0; i < lines.size(); ++i) {
    const long lineNumber = static_cast<long>(i) + 1;
    std::string line = withBreak(i);
    if (line.size() > 1 && line[1] == '#') continue;
    // A "$set" inside a remark defines nothing.
    CutRemark(line);
    if (line.find("$set") == std::string::npos) continue;
    std::vector<std::string> words;
    GetToken(line, " \t\r\n\v\f", words);
    std::string name, value;
    if (!SplitDefinition(words, name, value))
      Fail(log, "incomplete symbol definition at " + LineOf(lineNumber, source) + " (expected: $set $name = value)");
    if (table.count() >= kMaxSymbols)
      Fail(log, "more than " + std::to_string(kMaxSymbols) + " symbols in " + source + " (line " +
                    std::to_string(lineNumber) + ")");
    if (name.size() > kMaxSymbolText)
      Fail(log, "the name of the symbol at " + LineOf(lineNumber, source) + " is longer than " +
                    std::to_string(kMaxSymbolText) + " characters");
    table.names.push_back(name);
    table.values.push_back(value);
    table.lines.push_back(lineNumber);
    const int index = table.count();
    SubstituteLine(log, value, lineNumber, table.names, table.values, index, index, source);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    if (value.size() > kMaxSymbolText)
      Fail(log, "the value of symbol " + name + " at " + LineOf(lineNumber, source) + " is longer than " +
                    std::to_string(kMaxSymbolText) + " characters");
    table.values[index] = value;
    WarnIfSetBefore(log, table, index, source);

    if (!IsNumericValue(value)) {
      for (int k = 1; k < index; ++k) {
        // The same symbol set again is named by the WARNING above.
        if (table.values[k] != value || table.names[k] == name) continue;
        if (log)
          *log << "INFO: \n------------------------ WARNING --------------------------"
               << "\npossible error in control file!\n"
               << "content of symbol " << table.names[k] << " is the same as symbol " << name
               << ", \n (which is: " << table.values[k] << ").\n"
               << "this may lead to collusions!"
               << "\n-----------------------------------------------------------\n"
               << "[end-entry]";
      }
    }
  }

  // Pass 2: write the copy. A line of the control file gives the copy one line or none (a
  // remark line, a "$set" line): a value holds no line break.
  std::string out;
  out.reserve(text.size());
  if (lineOf) lineOf->assign(1, 0);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = withBreak(i);
    SubstituteLine(log, line, static_cast<long>(i) + 1, table.names, table.values, table.count(), 0, source);
    if (line.size() > 1 && line[1] == '$') continue;
    if (line.size() > 1 && lineOf) lineOf->push_back(static_cast<long>(i) + 1);
    out.append(line, 1, std::string::npos);
  }
  return out;
}
