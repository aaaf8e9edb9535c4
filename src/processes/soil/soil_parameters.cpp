#include "processes/soil/soil_parameters.h"

#include <cmath>

#include "framework/logstream.h"
#include "framework/text_helpers.h"

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
  if (c.log) *c.log << "FATAL: \n-----------------error------------\n" << what << "[end-entry]";
  throw code;
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

}  // namespace

const char* SubbasinGroupHelpText() { return kGroupHelp; }

double StorageCoefficientMinutes(double hours) { return hours < 0.001 ? 60.0 : hours * 60.0; }

std::vector<bool> ReadSubbasinColumns(TextCursor& cursor, const SubbasinTableContext& c) {
  const std::vector<int>& map = *c.codeMap;
  const int n = static_cast<int>(c.codes->size()) - 1;
  std::vector<bool> column(static_cast<size_t>(n) + 1, false);
  int last = 0;
  int lastIndex = 0;
  for (;;) {
    int code = 0;
    if (!cursor.ReadInt(code))
      Fail(c, "error reading code[" + std::to_string(last) + "] for " + c.moduleName + HelpText(0), 10);
    const int index = code >= 1 && code <= c.largestCode && static_cast<size_t>(code) < map.size()
                          ? map[static_cast<size_t>(code)]
                          : 0;
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

  for (int row = 0; row < 14; ++row) {
    for (int i = 1; i <= n; ++i) {
      double& v = Field(params[static_cast<size_t>(i)], row);
      if (!column[static_cast<size_t>(i)]) {
        v = Field(params[static_cast<size_t>(i) - 1], row);
        continue;
      }
      if (!cursor.ReadDouble(v) || !std::isfinite(v))
        Fail(c, std::string("error reading ") + kRowNames[row] + "[" + std::to_string(codes[static_cast<size_t>(i)]) +
                    "] for " + c.moduleName + HelpText(row), 10);
      const std::string code = std::to_string(codes[static_cast<size_t>(i)]);
      if (row == 0 && !(v > 0.0)) {
        if (c.log)
          *c.log << "FATAL: recession parameter m for subbasin " << code << " is negative! (" << v << ")"
                 << "[end-entry]";
        throw 1;
      }
      if (row == 1 && v < 0.0)
        Fail(c, "error: Tkorr[" + code + "] = " + std::to_string(v) + " is negative for " + c.moduleName +
                    " (the transmissivity scaling must be 0 or more)", 10);
    }
    cursor.RestOfLine();
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
