// The control section "evapotranspiration": positional values, the tables of monthly
// values and the checks of the radiation and sunshine coefficients.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/value_checks.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/evapotranspiration/et_kernels.h"

namespace {

[[noreturn]] void Fail(modelobject& o, const std::string& text, int code) {
  if (o.log) *o.log << text << "[end-entry]";
  throw code;
}

// A file name and a statistics code on one line.
void ReadNameAndCode(modelobject& o, std::string& name, int& code, const std::string& label) {
  if (!o.controlFile.ReadWord(name) || !o.controlFile.ReadInt(code)) o.ControlFileKeyError(label, o.name);
  o.restOfLine = o.controlFile.RestOfLine();
}

// An output of the module: its grid, the grid's write code, and its statistics file with
// the statistics code on one line.
void ReadOutputName(modelobject& o, EtOutputName& out, const char* grid, const char* writeCode, const char* stat) {
  o.ReadControlValue(out.grid, grid);
  o.ReadControlValue(out.writeCode, writeCode);
  ReadNameAndCode(o, out.statFile, out.statCode, stat);
}

// count numbers from one line of the section; returns how many the line gave. A word that
// begins like a number but is none ("2,0", "nan") ends the numbers; why stands then in
// refused, for the caller's message (empty otherwise). where names the line.
// beyond, when given, receives the count of numbers behind the count-th.
int ReadNumbersOfLine(modelobject& o, double* values, int count, std::string& refused, std::string* where = nullptr,
                      size_t* beyond = nullptr) {
  o.controlFile.SkipBlanks();
  const long lineNumber = o.controlFile.LineNumber();
  std::vector<double> read;
  std::string word;
  refused.clear();
  if (!ReadNumberRow(o.controlFile.RestOfLine(), static_cast<size_t>(count), read, word, beyond))
    refused = "\n" + NoNumberText(word, " on " + o.controlFile.LineText(lineNumber, o.controlFileName) +
                                             " is not a finite number");
  if (where) *where = o.controlFile.LineText(lineNumber, o.controlFileName);
  std::copy(read.begin(), read.end(), values);
  return static_cast<int>(read.size());
}

const char* const kSection = "[evapotranspiration]";
const char* const kRule = "\n-----------------------------------------------------------------------\n";

// Twelve monthly values into a table of 14 (0 = December before, 13 = January after).
void ReadMonthly(modelobject& o, std::array<double, 14>& table, const std::string& what, const std::string& methodName) {
  double v[12];
  std::string refused, where;
  size_t beyond = 0;
  const int count = ReadNumbersOfLine(o, v, 12, refused, &where, &beyond);
  if (count < 12 && refused.empty())
    refused = "\n" + where + " holds " + std::to_string(count) + (count == 1 ? " number" : " numbers") +
              " (a row of numbers ends at the first word that is none)";
  if (count < 12 || !refused.empty())
    Fail(o,
         "FATAL: \n---------------------- error in evapotranspiration model ------------------- \nthere have to be 12 "
         "(monthly) values for the " +
             what + "-parameter for \n" + methodName + " in the control file." + refused + "\n" + kRule,
         45);
  if (beyond > 0 && o.log)
    *o.log << "WARNING: the monthly values of the " << what << "-parameter for " << methodName << " in "
           << kSection << ", " << where << ", " << RowBeyondText(12, beyond)
           << "; the months take the first 12, January to December" << "[end-entry]";
  for (int m = 1; m <= 12; ++m) table[m] = v[m - 1];
  table[0] = v[11];
  table[13] = v[0];
}

void ReadFixed(modelobject& o, double* values, int count, const std::string& what) {
  std::string refused;
  if (ReadNumbersOfLine(o, values, count, refused) < count || !refused.empty()) {
    std::ostringstream s;
    s << "FATAL: error reading " << what << " in the section [" << o.name << "] of " << o.ShownControlFile()
      << ": " << count << " values expected on one line" << refused;
    Fail(o, s.str(), 10);
  }
}

// The values that only some methods use, checked where they are used: monthly factors and
// amplitudes are never negative, and the day's share of the amplitude stays in 0..1.
void CheckMethodValues(modelobject& o, const EtSection& s, double dtMinutes) {
  const auto monthly = [&](const std::array<double, 14>& table, const std::string& what, double suspicious,
                           const std::string& why) {
    for (int m = 1; m <= 12; ++m) {
      const std::string key = what + " of month " + std::to_string(m);
      if (!(table[m] >= 0.0)) RefuseValue(o, kSection, key, table[m], "it must be 0 or more", 10);
      WarnIf(table[m] > suspicious, o, kSection, key, table[m], why);
    }
  };
  if (s.method == 2) {
    monthly(s.pec, "the Hamon coefficient (PEC)", 3.0, "far above the usual 0.5 .. 1.5");
    if (!(s.hamonOpenWater >= 0.0))
      RefuseValue(o, kSection, "HamonCorrectionOpenWater", s.hamonOpenWater, "it must be 0 or more", 10);
  }
  if (s.method == 3 && !(s.fk >= 0.0))
    RefuseValue(o, kSection, "the coast factor fk (WENDLING)", s.fk, "it must be 0 or more", 10);
  if (s.method == 4) monthly(s.fh, "the Haude factor (fh)", 1.0, "far above the usual 0.2 .. 0.4 mm/hPa");
  if (s.method == 1 && dtMinutes > 720.0) {
    monthly(s.amplitude, "the day/night temperature amplitude (M)", 25.0, "K: far above what a day and night differ");
    WarnIf(s.dayFraction - std::fabs(s.annualVariation) < 0.0 || s.dayFraction + std::fabs(s.annualVariation) > 1.0,
           o, kSection, "the annual variation v of the day's share of the amplitude", s.annualVariation,
           "so that the day's share leaves 0 .. 1 in part of the year");
  }
}

std::string CoefficientList(const double cs[4]) {
  std::ostringstream s;
  s << "CS[0]=" << cs[0] << ", CS[1]=" << cs[1] << ", CS[2]=" << cs[2] << ", CS[3]=" << cs[3];
  return s.str();
}

// The optional lines behind the positional values: the cloudiness statistics, then the
// Hamon factor of open water ("HamonCorrectionOpenWater = <x>"); a section header ends them.
void ReadOptionalLines(modelobject& o, EtSection& s) {
  s.cloudinessStatFile = "cloudiness";
  s.cloudinessStatCode = 0;
  s.hamonOpenWater = 1.0;
  std::string line;
  const size_t mark = o.controlFile.Pos();
  long lineNumber = o.controlFile.LineNumber();
  bool haveLine = o.controlFile.ReadLine(line);
  const auto isHamonLine = [](const std::string& l) {
    return l.find("HamonCorrectionOpenWater") != std::string::npos && l.find('=') != std::string::npos;
  };
  // A line "key = value" whose key is none of these lines' (a misspelt
  // HamonCorrectionOpenWater) is named rather than read as the statistics' name.
  const auto namedAsUnknownKey = [&](const std::string& l) {
    const std::vector<std::string> keys = KeysSetIn(l);
    TextCursor c(l);
    std::string first;
    int code = 0;
    if (keys.empty() || !c.ReadWord(first) || first.compare(0, keys[0].size(), keys[0]) != 0 || c.ReadInt(code))
      return false;
    ReportUnknownKeys(o.log, kSection, o.controlFile.LineText(lineNumber, o.controlFileName), l,
                      {"HamonCorrectionOpenWater"});
    return true;
  };
  if (haveLine && !isHamonLine(line)) {
    TextCursor c(line);
    std::string word;
    const bool isSection = line.find('[') != std::string::npos && line.find('[') == line.find_first_not_of(" \t");
    if (line.size() > 2 && !isSection && !namedAsUnknownKey(line) && c.ReadWord(word) && word[0] != '#') {
      s.cloudinessStatFile = word;
      if (!c.ReadInt(s.cloudinessStatCode)) s.cloudinessStatCode = 0;
    }
    if (isSection) {
      o.controlFile.Seek(mark);
      haveLine = false;
    } else {
      lineNumber = o.controlFile.LineNumber();
      haveLine = o.controlFile.ReadLine(line);
      if (haveLine && !isHamonLine(line)) namedAsUnknownKey(line);
    }
  }
  if (haveLine && isHamonLine(line)) {
    std::string value = line.substr(line.find('=') + 1);
    value = value.substr(0, value.find_first_of("#;"));
    if (!ParseDouble(value, s.hamonOpenWater))
      Fail(o, "FATAL: the value of HamonCorrectionOpenWater in " + o.ShownControlFile() + " is not a number: " + line,
           10);
  }
}

// The values read, checked together: the method, the day's share of the amplitude, the
// radiation and sunshine coefficients (which give the sunshine threshold x0), the
// transmissivity and the values of the method.
void CheckEtSection(modelobject& o, EtSection& s, double dtMinutes) {
  if (s.method < 1 || s.method > 4) {
    std::ostringstream m;
    m << "FATAL: the method of evapotranspiration in " << o.ShownControlFile() << " must be 1 (Penman/Monteith), 2 "
      << "(Hamon), 3 (Wendling) or 4 (Haude), read " << s.method;
    Fail(o, m.str(), 46);
  }
  if (!(s.dayFraction >= 0.0 && s.dayFraction <= 1.0)) {
    std::ostringstream m;
    m << "FATAL: \n---------------------------- error in control file --------------------\n\nThe splitting of the "
         "temperature amplitude between day and night\nhas to be done in a way that the fraction for the bright "
         "day is between 0..1\nread: amplitude_fraction_day: "
      << s.dayFraction << "\n\n-----------------------------------------------------------------------\n";
    Fail(o, m.str(), 10);
  }
  if (!(s.c[0] >= 0.05)) {
    std::ostringstream m;
    m << "FATAL: fraction of diffuse radiation is too small: " << s.c[0] << " (should be 0.05 ... 0.5)\n";
    Fail(o, m.str(), 10);
  }
  if (s.c[0] > 0.5) {
    std::ostringstream m;
    m << "FATAL: fraction of diffuse radiation is too large: " << s.c[0] << " (should be 0.05 ... 0.5)\n";
    Fail(o, m.str(), 10);
  }
  const double sum = s.c[0] + s.c[1] + s.c[2] + s.c[3];
  if (!(std::fabs(sum - 1.0) <= 0.01)) {
    std::ostringstream m;
    m << "FATAL: die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in ihrer Summe 1 ergeben\n"
      << " derzeitige Summe: " << s.c[0] << " + " << s.c[1] << " + " << s.c[2] << " + " << s.c[3] << " = " << sum
      << "\n(the four coefficients of the global radiation model in [evapotranspiration] of " << o.ShownControlFile()
      << " must add up to 1; their sum is " << sum << ")";
    Fail(o, m.str(), 10);
  }
  int why = 0;
  if (!SunshineThreshold(s.cs, s.x0, why)) {
    if (why == 1)
      Fail(o,
           "FATAL: The coefficients for sunshine duration modelling are wrong!\nThere must be at minimum a linear "
           "relationship\nbetween radiation and sunshine duration\n" +
               CoefficientList(s.cs) + "\n\n",
           10);
    Fail(o,
         "FATAL: \n----------------------------!! Error !! -----------------------\nThe coefficients for sunshine "
         "duration modelling are wrong!\nNo null point (root) was found between 0 and 1!\n" +
             CoefficientList(s.cs) +
             "\n\nuse e.g.: CS[0]=0.072, CS[1]=-0.808, CS[2]=1.749, "
             "CS[3]=-0.239\n----------------------------------------------------------------",
         10);
  }
  if (s.method == 1 || s.method == 3) {
    // The transmissivity A + B·cos(...) must stay within 0..1 all year.
    if (!(s.transmissivityA - std::fabs(s.transmissivityB) > 0.0)) {
      std::ostringstream m;
      m << "FATAL: the atmospheric transmissivity A + B cos(...) of " << o.ShownControlFile()
        << " must stay above 0 all year: A - |B| = " << s.transmissivityA - std::fabs(s.transmissivityB)
        << " (A = " << s.transmissivityA << ", B = " << s.transmissivityB << ")";
      Fail(o, m.str(), 10);
    }
    RequireWithin(o, kSection, "the highest atmospheric transmissivity of the year A + |B|",
                  s.transmissivityA + std::fabs(s.transmissivityB), 0.0, 1.0, 10);
  }
  CheckMethodValues(o, s, dtMinutes);
  if (s.method == 1 && dtMinutes > 720.0 && !(s.elevationScale > 0.0)) {
    std::ostringstream m;
    m << "FATAL: the elevation scale H of the day/night temperature amplitude in " << o.ShownControlFile()
      << " must be greater than 0 m for Penman/Monteith with time steps over 720 minutes, read "
      << s.elevationScale;
    Fail(o, m.str(), 10);
  }
}

}  // namespace

bool SunshineThreshold(const double cs[4], double& x0, int& why) {
  double x1 = 0.0, x2 = 0.0;
  int roots;
  why = 0;
  if (cs[3] != 0.0) {
    roots = SolveQuadraticRoots(x1, x2, 2.0 * cs[2] / (3.0 * cs[3]), cs[1] / (3.0 * cs[3]));
  } else if (cs[2] != 0.0) {
    roots = SolveQuadraticRoots(x1, x2, cs[1] / cs[2], cs[0] / cs[2]);
  } else if (cs[1] != 0.0) {
    roots = 1;
    x1 = x2 = -cs[0] / cs[1];
  } else {
    why = 1;
    return false;
  }
  const auto inside = [](double x) { return x >= 0.0 && x <= 1.0; };
  if (roots == 1 && inside(x1)) {
    x0 = x1;
    return true;
  }
  if (roots == 2) {
    if (inside(x2)) {
      x0 = x2;
      return true;
    }
    if (inside(x1)) {
      x0 = x1;
      return true;
    }
  }
  why = 2;
  return false;
}

void ReadEtSection(modelobject& o, EtSection& s, double dtMinutes) {
  o.ReadControlValue(s.method, "Methode fuer ");
  ReadMonthly(o, s.pec, "PEC", "HAMON-evaporation");
  ReadMonthly(o, s.fh, "fh", "HAUDE-evaporation");
  o.ReadControlValue(s.fk, "fk - Coastfactor (WENDLING) for");
  ReadOutputName(o, s.etp, "Name of the ETP-Grids for ", "Writegrid ETP for ", "Name of ETP-stat.file for ");
  ReadOutputName(o, s.etr, "Name of the ETR-Grids for ", "Writegrid ETR for    ", "Name of the ETR-stat.file for ");
  ReadOutputName(o, s.evaporation, "Name of the evaporation_potential-grid for ", "Writegrid EVAP for    ",
                 "Name of the evaporation_potential-stat.files for ");
  ReadOutputName(o, s.realEvaporation, "Name of the evaporation_real grid for ", "Writegrid evaporation real for    ",
                 "Name of the evaporation_real-stat.files for ");
  ReadOutputName(o, s.snowEvaporation, "Name of the snow evaporation grid for ", "Writegrid snow evaporation for    ",
                 "Name of the snow evaporation-stat.files for ");
  ReadOutputName(o, s.eip, "Name of the EIP-Grids for ", "Writegrid EIP for ", "Name of EIP-stat.file for ");
  ReadNameAndCode(o, s.radiationStatFile, s.radiationStatCode, "Name of the RGEX-stat.file for ");
  ReadFixed(o, s.c, 4, "the four coefficients of global radiation from sunshine duration");
  ReadFixed(o, s.cs, 4, "the four coefficients of sunshine duration from global radiation");
  double ab[2];
  ReadFixed(o, ab, 2, "the two coefficients of the atmospheric transmissivity");
  s.transmissivityA = ab[0];
  s.transmissivityB = ab[1];
  ReadFixed(o, &s.elevationScale, 1, "the elevation scale of the temperature amplitude");
  ReadMonthly(o, s.amplitude, "temperature amplitude (M)", "the day/night temperatures");
  double fv[2];
  std::string refused;
  if (ReadNumbersOfLine(o, fv, 2, refused) < 2 || !refused.empty())
    Fail(o,
         "FATAL: error reading fraction for temperature amplitude for day/night\nor the annual variability\n" + refused,
         10);
  s.dayFraction = fv[0];
  s.annualVariation = fv[1];

  ReadOptionalLines(o, s);
  CheckEtSection(o, s, dtMinutes);
}
