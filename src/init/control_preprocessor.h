// Preprocessing of a control file: "$set" symbols are replaced by their values, remarks
// after "#" are cut off and every "//" is removed. The result is the text that every
// reader of the run sees (the ".intern" copy of the control file).
#pragma once

#include <string>
#include <vector>

class LogStream;

// Limits of the control-file text.
constexpr size_t kMaxSymbolText = 299;     // characters of a symbol's name or value
constexpr int kMaxSymbols = 2000;

struct SymbolTable {
  std::vector<std::string> names;   // 1-based, names[0] unused; names keep their "$"
  std::vector<std::string> values;  // 1-based
  std::vector<long> lines;          // 1-based: the line of the control file that sets it
  int count() const { return static_cast<int>(names.size()) - 1; }
  SymbolTable() : names(1), values(1), lines(1) {}
};

// Treats one line in place (the line carries one blank in front): cuts the remark,
// replaces the symbols 1..count and removes every "//". A line holding "$set" is only cut.
// selfIndex > 0 names the symbol whose value is being defined (a reference to it is a
// loop). An undefined symbol or a result beyond the limits logs a FATAL message and
// throws 17; source names the file of the line in that message.
std::string& SubstituteLine(LogStream* log, std::string& line, long lineNumber, const std::vector<std::string>& names,
                            const std::vector<std::string>& values, int count, int selfIndex = 0,
                            const std::string& source = "the control file");

// Runs both passes over the text of a control file and returns the copy's text; lineOf,
// when given, receives for every line of the copy (from index 1) the line of the text it
// comes from. Failures are logged, naming the line of source, and thrown as codes (17).
std::string PreprocessControlText(LogStream* log, const std::string& text, std::vector<long>* lineOf = nullptr,
                                  const std::string& source = "the control file");
