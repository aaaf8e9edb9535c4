#include "processes/soil/soil_parameters.h"

#include <algorithm>
#include <cmath>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/value_checks.h"

namespace {

const char* const kGroupHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first AND the last "
    "subbasin code have\nto be specified with all their parameters like this:\n(if the smallest code is 1 and the "
    "largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\n..\t..\nThen, to all "
    "subcatchments with zone-codes ranging from 1 to 7 the \nparameters of subbasin 1 will be assigned!";

const char* const kRowNames[14] = {"m",      "Tkorr",  "Kkorr",  "k_ELS_QD", "SHmax",  "k_ELS_QI", "k_ELS_QBB",
                                   "alpha",  "QBBini", "SUZini", "SDini",    "Pgrenz", "Rrueck",   "QDsnow"};

std::string HelpText(int row) { return row == 0 ? std::string(kGroupHelp) + "\n" : std::string(kGroupHelp); }

[[noreturn]] void Fail(const SubbasinTableContext& c, const std::string& what, int code) {
  if (c.log) {
    *c.log << "FATAL: \n-----------------error------------\n";
    if (!c.section.empty()) *c.log << c.section << " in " << c.controlFileName << ": ";
    *c.log << what << "[end-entry]";
  }
  throw code;
}

// A table value as the control file gives it: plainly impossible values end the run (the
// recession parameter with code 1, the others with 10), suspicious ones get a WARNING. The
// storage coefficients may be anything: below 0.001 h they stand for one hour.
void CheckTableValue(const SubbasinTableContext& c, int row, const std::string& code, double v) {
  const std::string key = std::string(kRowNames[row]) + " of sub-basin " + code;
  switch (row) {
    case 0:
      if (!(v > 0.0)) RefuseValue(c.log, c.controlFileName, c.section, "the recession parameter " + key, v,
                                  "it must be greater than 0 (m)", 1);
      WarnIf(v > 1.0, c.log, c.controlFileName, c.section, "the recession parameter " + key, v,
             "far above the usual 0.001 to 1 (it is in m, not mm)");
      return;
    case 3:
    case 5:
    case 6:
      WarnIf(v < 0.0, c.log, c.controlFileName, c.section, "the storage coefficient " + key, v,
             "taken as one hour (0 is the usual way to say so)");
      return;
    case 12:
    case 13:
      if (!(v >= 0.0 && v <= 1.0)) RefuseValue(c.log, c.controlFileName, c.section, key, v, "it must lie in 0 .. 1", 10);
      return;
    default:
      if (!(v >= 0.0)) RefuseValue(c.log, c.controlFileName, c.section, key, v, "it must be 0 or more", 10);
  }
}

double& Field(SubbasinParameters& p, int row) {
  switch (row) {
    case 0: return p.m;
    case 1: return p.Tkorr;
    case 2: return p.Kkorr;
    case 3: return p.kQD;
    case 4: return p.SHmax;
    case 5: return p.kQI;
    case 6: return p.kQBB;
    case 7: return p.alpha;
    case 8: return p.QBBini;
    case 9: return p.SUZini;
    case 10: return p.SDini;
    case 11: return p.Pgrenz;
    case 12: return p.Rrueck;
    default: return p.QDsnow;
  }
}

// What a row of codes that cannot be read lacks: the word that stands in it, or the codes up
// to the largest one, which its columns must reach.
std::string CodeRowFault(TextCursor& cursor, size_t rowStart, const SubbasinTableContext& c) {
  const std::string& text = cursor.Text();
  const size_t lineEnd = std::min(text.find('\n', rowStart), text.size());
  std::string row = text.substr(rowStart, lineEnd - rowStart);
  row.erase(row.find_last_not_of(" \t\r") + 1);
  cursor.SkipBlanks();
  if (cursor.Pos() < lineEnd) {
    std::string word;
    cursor.ReadWord(word);
    return ": " + NoNumberText(word, " in the row of codes \"" + row + "\" is no sub-basin code (a whole number; " +
                                         cursor.LineText(c.controlFileName) + ")");
  }
  const std::string smallest = std::to_string(c.codes->size() > 1 ? (*c.codes)[1] : 1);
  const std::string largest = std::to_string(c.largestCode);
  return ": the row of codes \"" + row + "\" ends before the largest sub-basin code, " + largest +
         ". Its columns must cover the sub-basin codes " + smallest + " to " + largest +
         ": the first column the smallest code (" + smallest +
         (smallest == "0" ? ": the row begins with the next code, whose column holds for 0 too" : "") +
         "), the last the largest (" + largest +
         "), each value row one value per column";
}

}  // namespace

const char* SubbasinGroupHelpText() { return kGroupHelp; }

double StorageCoefficientMinutes(double hours) { return hours < 0.001 ? 60.0 : hours * 60.0; }

std::vector<bool> ReadSubbasinColumns(TextCursor& cursor, const SubbasinTableContext& c) {
  const std::vector<int>& map = *c.codeMap;
  const int n = static_cast<int>(c.codes->size()) - 1;
  std::vector<bool> column(static_cast<size_t>(n) + 1, false);
  int last = 0;
  int lastIndex = 0;
  cursor.SkipBlanks();
  const size_t rowStart = cursor.Pos();
  for (;;) {
    int code = 0;
    if (!cursor.ReadInt(code))
      Fail(c, "error reading code[" + std::to_string(last) + "] for " + c.moduleName + CodeRowFault(cursor, rowStart, c) +
                  HelpText(0),
           10);
    const int index = code >= 1 && code <= c.largestCode && static_cast<size_t>(code) < map.size()
                          ? map[static_cast<size_t>(code)]
                          : 0;
    // A zone 0 is a sub-basin, but the row lists codes from 1 on: it takes the first column.
    if (code == 0 && !map.empty() && map[0] > 0)
      Fail(c, "error! code 0 (from " + c.controlFileName + ") cannot stand in the row of codes for " + c.moduleName +
                  ": the row lists codes from 1 on, and its first column holds for the smallest code, 0, and every "
                  "code up to the next listed one; " +
                  (n >= 2 ? "begin the row with " + std::to_string((*c.codes)[2]) + " (0 takes its values)"
                          : std::string("0 is the only sub-basin: give it another code")) +
                  HelpText(0),
           10);
    if (index <= 0)
      Fail(c, "error! there is no code " + std::to_string(code) + " (from " + c.controlFileName +
                  ") for a subbasin in " + c.moduleName + HelpText(0), 10);
    if (index <= lastIndex)
      Fail(c, "error! the subbasin code " + std::to_string(code) + " (from " + c.controlFileName +
                  ") does not follow " + std::to_string(last) + " in ascending order in " + c.moduleName +
                  HelpText(0), 10);
    // The first column always belongs to the smallest code.
    column[static_cast<size_t>(lastIndex == 0 ? 1 : index)] = true;
    last = code;
    lastIndex = index;
    if (code == c.largestCode) break;
  }
  cursor.RestOfLine();
  return column;
}

void ReadSubbasinParameterTable(TextCursor& cursor, const SubbasinTableContext& c,
                                std::vector<SubbasinParameters>& params) {
  const std::vector<int>& codes = *c.codes;
  const int n = static_cast<int>(codes.size()) - 1;
  params.assign(static_cast<size_t>(n) + 1, SubbasinParameters());

  // Row of codes: which sub-basin indices hold a column of their own.
  const std::vector<bool> column = ReadSubbasinColumns(cursor, c);
  int listed = 0;
  for (int i = 1; i <= n; ++i) listed += column[static_cast<size_t>(i)] ? 1 : 0;

  for (int row = 0; row < 14; ++row) {
    // Each row holds its values on its own line (blank lines between rows are passed over),
    // so that a short row is reported as itself. Its values are a row of numbers of the
    // control file: blanks, or a comma or semicolon behind a value, separate them.
    std::string line;
    long lineNumber = 0;
    bool found = false;
    do {
      lineNumber = cursor.LineNumber();
      found = cursor.ReadLine(line);
    } while (found && line.find_first_not_of(" \t\r") == std::string::npos);
    const std::string at = cursor.LineText(lineNumber, c.controlFileName);
    TextCursor values(found ? line : std::string());
    values.RequireWholeNumbers();
    int read = 0;
    for (int i = 1; i <= n; ++i) {
      double& v = Field(params[static_cast<size_t>(i)], row);
      if (!column[static_cast<size_t>(i)]) {
        v = Field(params[static_cast<size_t>(i) - 1], row);
        continue;
      }
      const std::string code = std::to_string(codes[static_cast<size_t>(i)]);
      const std::string where = std::string("error reading ") + kRowNames[row] + "[" + code + "] for " + c.moduleName;
      if (!values.ReadDouble(v)) {
        const std::string refused = values.NumberJustRefused();
        if (!refused.empty())
          Fail(c, where + ": " + NoNumberText(refused, " is not a finite number (" + at + ")"), 10);
        std::string word;
        if (!values.ReadWord(word) || word[0] == '#')
          Fail(c, where + ": the row \"" + line + "\" holds " + std::to_string(read) + " of the " +
                      std::to_string(listed) + " values of the listed sub-basin codes (" + at + ")" + HelpText(row),
               10);
        Fail(c, where + ": \"" + word + "\" is not a number (" + at + ")" + HelpText(row), 10);
      }
      if (!std::isfinite(v)) Fail(c, where + ": " + std::to_string(v) + " is not a number" + HelpText(row), 10);
      ++read;
      CheckTableValue(c, row, code, v);
    }
    // Numbers behind the listed sub-basins' values would be dropped.
    std::vector<double> more;
    std::string refused;
    size_t beyond = 0;
    ReadNumberRow(line.substr(std::min(values.Pos(), line.size())), 0, more, refused, &beyond);
    if (beyond > 0)
      Fail(c, std::string("error reading ") + kRowNames[row] + " for " + c.moduleName + ": the row \"" + line.substr(0, 120) +
                  "\" (" + at + ") " + RowBeyondText(static_cast<size_t>(listed), beyond) +
                  ", one for each sub-basin code of the row of codes",
           10);
  }

  // Internal units.
  for (int i = 1; i <= n; ++i) {
    SubbasinParameters& p = params[static_cast<size_t>(i)];
    p.m *= 1000.0;
    p.kQD = StorageCoefficientMinutes(p.kQD);
    p.kQI = std::exp(-c.dtMinutes / StorageCoefficientMinutes(p.kQI));
    p.kQBB = StorageCoefficientMinutes(p.kQBB);
    p.alpha *= c.dtMinutes / 60.0;
  }
}
