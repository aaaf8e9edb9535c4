// The reader of [landuse_table]: the row count, then one entry per land-use class in
// either the old positional format (one line) or the keyword format (from the line with
// "method", "{" and a method keyword up to the first line holding "}").
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "tables/landuse_table.h"
#include "tables/soil_table_text.h"

namespace {

const char* const kMethodKeywords[] = {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2",
                                       "DynamicPhenology_3", "DynamicPhenology_4"};

// The method keyword of a keyword-format entry's first line, or empty for the old format.
std::string MethodKeyword(const std::string& line) {
  if (line.find("method") == std::string::npos || line.find('{') == std::string::npos) return std::string();
  for (const char* keyword : kMethodKeywords)
    if (line.find(keyword) != std::string::npos) return keyword;
  return std::string();
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
    if (!cursor.ReadLine(text)) EndOfFile(log, i - 1, count);
    table.emplace_back(i);
    LanduseTableEntry& row = table.back();
    const std::string keyword = MethodKeyword(text);
    if (keyword.empty()) {
      row.ReadOldFormat(log, text, mode);
      CheckRootDepths(log, row);
      continue;
    }
    std::string next;
    while (text.find('}') == std::string::npos) {
      if (!cursor.ReadLine(next)) EndOfFile(log, i - 1, count);
      text += '\n';
      text += next;
    }
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
