// The reader of [landuse_table]: the row count, then one entry per land-use class in
// either the old positional format (one line) or the keyword format (from the line with
// "method", "{" and a method keyword up to the first line holding "}").
#include <algorithm>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "tables/landuse_table.h"
#include "tables/soil_table_text.h"

namespace {

const char* const kMethodKeywords[] = {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2",
                                       "DynamicPhenology_3", "DynamicPhenology_4"};

// The word a line gives the key "method" ("method = <word>"), before any remark; false
// where no "method" is followed by "=".
bool MethodWord(const std::string& line, std::string& word) {
  const std::string text = line.substr(0, line.find('#'));
  size_t eq = std::string::npos;
  for (size_t at = text.find("method"); at != std::string::npos && eq == std::string::npos;
       at = text.find("method", at + 1)) {
    const size_t after = std::min(text.find_first_not_of(" \t", at + 6), text.size());
    if (after < text.size() && text[after] == '=') eq = after;
  }
  if (eq == std::string::npos) return false;
  const size_t begin = std::min(text.find_first_not_of(" \t", eq + 1), text.size());
  word = text.substr(begin, text.find_first_of(" \t\r;{}", begin) - begin);
  if (word.size() >= 2 && word.front() == '"' && word.back() == '"') word = word.substr(1, word.size() - 2);
  return true;
}

bool IsMethodKeyword(const std::string& word) {
  return std::find(std::begin(kMethodKeywords), std::end(kMethodKeywords), word) != std::end(kMethodKeywords);
}

// The method keyword of a keyword-format entry's first line, or empty for the old format.
// The method is a whole word: "VariableDayCounts" is none.
std::string MethodKeyword(const std::string& line) {
  std::string word;
  if (line.find('{') == std::string::npos || !MethodWord(line, word) || !IsMethodKeyword(word)) return std::string();
  return word;
}

// An entry as a message names it: its position, its first two words (code and name) and its line.
std::string EntryText(int i, const std::string& firstLine, const std::string& where) {
  std::vector<std::string> words;
  GetToken(firstLine.substr(0, firstLine.find_first_of("{#")), " \t\r", words);
  if (words.size() > 2) words.resize(2);
  std::string first;
  for (const std::string& word : words) first += (first.empty() ? "" : " ") + word.substr(0, 40);
  return "land use entry " + std::to_string(i) + ", \"" + first + "\" at " + where;
}

[[noreturn]] void EntryFault(LogStream* log, const std::string& entry, const std::string& what) {
  if (log) *log << "FATAL: error in control file, [landuse_table], " << entry << ": " << what << "[end-entry]";
  throw 29;
}

// A first line that no old positional line is, though no keyword entry begins with it
// either: it sets the key "method" (the keyword form) with a method this table does not
// know, or with a known one but without the "{" that opens the entry on the same line.
void RefuseKeywordFormWithoutEntry(LogStream* log, const std::string& line, const std::string& entry) {
  std::string method;
  if (!MethodWord(line, method)) return;
  std::string known;
  for (const char* keyword : kMethodKeywords) known += std::string(known.empty() ? "" : ", ") + keyword;
  const std::string form = "; an entry of the keyword form begins \"<code> <name> { method = <method>;\" on one line "
                           "and ends with \"}\", an old positional line holds no \"method =\"";
  if (!IsMethodKeyword(method))
    EntryFault(log, entry, "the method \"" + method.substr(0, 80) + "\" is none of the land use methods (" + known +
                               "; the old positional form takes no method)" + form);
  EntryFault(log, entry, "the line sets method = " + method + " but holds no \"{\"" + form);
}

// The lines of a keyword entry up to its "}": a line that begins another entry (a "{") or a
// section ("[") before it, or the end of the file, means the "}" is missing.
void JoinEntryLines(LogStream* log, TextCursor& cursor, std::string& text, const std::string& entry) {
  std::string next;
  while (text.find('}') == std::string::npos) {
    const long line = cursor.LineNumber();
    if (!cursor.ReadLine(next))
      EntryFault(log, entry, "the file ends before its closing \"}\"; end the entry with \"}\"");
    const size_t first = next.find_first_not_of(" \t");
    if (next.find('{') != std::string::npos || (first != std::string::npos && next[first] == '['))
      EntryFault(log, entry, "its closing \"}\" is missing: " + cursor.LineText(line) + " begins " +
                                 (next[first] == '[' ? "the section " : "another entry ") + "\"" +
                                 next.substr(first, 60) + "\"; end the entry with \"}\" before it");
    text += '\n';
    text += next;
  }
}

[[noreturn]] void EndOfFile(LogStream* log, int read, int count) {
  if (log)
    *log << "FATAL: error in control file, [landuse_table]: the file ends after " << read << " of " << count
         << " land use entries" << "[end-entry]";
  throw 29;
}

// Roots reach down from the surface: a root depth of a fix point below 0 is refused (one
// below the grids' floor of 0.01 m is raised to it when the grids are made).
void CheckRootDepths(LogStream* log, const LanduseTableEntry& row) {
  for (size_t k = 1; k < row.rootDepth.size(); ++k) {
    if (row.rootDepth[k] >= 0.0) continue;
    if (log)
      *log << "FATAL: error in control file, [landuse_table]: land use " << row.code << " (" << row.name
           << "): the root depth (RootDepth) of fix point " << k << " is " << row.rootDepth[k]
           << " m; it must be 0 or more" << "[end-entry]";
    throw 29;
  }
}

}  // namespace

std::vector<LanduseTableEntry> ReadLanduseSection(LogStream* log, TextCursor& cursor, int mode,
                                                  const std::string& fileName) {
  int count = 0;
  if (!cursor.ReadInt(count) || count < 0) {
    if (log)
      *log << "FATAL: error in control file, [landuse_table]: expected the number of land use types "
              "(0 or more) in the first line of the section" << "[end-entry]";
    throw 17;
  }
  cursor.RestOfLine();

  std::vector<LanduseTableEntry> table(1);
  table[0].code = count;
  for (int i = 1; i <= count; ++i) {
    std::string text;
    const size_t from = cursor.Pos();
    const long firstLine = cursor.LineNumber();
    if (!cursor.ReadLine(text)) EndOfFile(log, i - 1, count);
    table.emplace_back(i);
    LanduseTableEntry& row = table.back();
    const std::string keyword = MethodKeyword(text);
    const std::string entry = EntryText(i, text, cursor.LineText(firstLine, fileName));
    if (keyword.empty()) {
      RefuseKeywordFormWithoutEntry(log, text, entry);
      row.ReadOldFormat(log, text, mode);
      CheckRootDepths(log, row);
      continue;
    }
    JoinEntryLines(log, cursor, text, entry);
    tabletext::ReportUnknownKeys(log, cursor, fileName, from, cursor.Pos(), true, "[landuse_table]",
                                 LanduseTableEntry::Keys());
    row.ReadNewFormat(log, text, keyword);
    CheckRootDepths(log, row);
  }

  // Table-wide balance days: the first positive value of the rows.
  int reset = 0, write = 0;
  for (int i = 1; i <= count; ++i) {
    if (reset <= 0 && table[i].JDVegetationResetForBalance > 0) reset = table[i].JDVegetationResetForBalance;
    if (write <= 0 && table[i].JDVegetationWriteForBalance > 0) write = table[i].JDVegetationWriteForBalance;
  }
  table[0].JDVegetationResetForBalance = reset > 0 ? reset : 1;
  table[0].JDVegetationWriteForBalance = write > 0 ? write : 365;
  return table;
}

void defaultini::ReadLanduseTable(int tableMode) {
  landuseTable.clear();
  // A control file without the section has no land-use table (the run then has no land-use grid).
  if (!SeekControlKey("[landuse_table]", false)) return;
  landuseTable = ReadLanduseSection(log, controlFile, tableMode, ShownControlFile());
}
