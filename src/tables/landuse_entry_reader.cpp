// The two formats of one [landuse_table] entry: the old positional line and the keyword
// entry "code name { key = values; ... }". Any failure of an entry ends the run with the
// entry's text and error code 29.
#include <algorithm>
#include <cmath>
#include <new>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "tables/landuse_day_values.h"
#include "tables/landuse_table.h"

namespace {

constexpr size_t kMaxNameLength = 199;
constexpr long kMaxFixDay = 100000;  // keeps day arithmetic inside int; real days are checked on use
const char* const kListSeparators = " \t\r\n;,";

// Thrown inside an entry's parser; the entry as a whole is then reported.
struct EntryError {};

[[noreturn]] void Fail() { throw EntryError{}; }

// The value text of the first occurrence of key in body: after the first "=" behind the
// key, up to the first ";" behind the key. False when the key is absent.
bool ValueText(const std::string& body, const std::string& key, std::string& value) {
  const size_t at = body.find(key);
  if (at == std::string::npos) return false;
  const size_t eq = body.find('=', at);
  size_t end = body.find(';', at);
  if (end == std::string::npos) end = body.size();
  value = eq != std::string::npos && eq < end ? body.substr(eq + 1, end - eq - 1) : std::string();
  return true;
}

// A number from the start of a value text; 0 when it cannot be read.
double LeadingDouble(const std::string& value) {
  TextCursor c(value);
  double v = 0.0;
  return c.ReadDouble(v) ? v : 0.0;
}
int LeadingInt(const std::string& value) {
  TextCursor c(value);
  int v = 0;
  return c.ReadInt(v) ? v : 0;
}

// Optional keys: the value, or the default when the key is absent.
double OptionalDouble(const std::string& body, const std::string& key, double fallback) {
  std::string value;
  return ValueText(body, key, value) ? LeadingDouble(value) : fallback;
}
int OptionalInt(const std::string& body, const std::string& key, int fallback) {
  std::string value;
  return ValueText(body, key, value) ? LeadingInt(value) : fallback;
}
double RequiredDouble(const std::string& body, const std::string& key) {
  std::string value;
  if (!ValueText(body, key, value)) Fail();
  return LeadingDouble(value);
}

// The values of a list key (ints), split at blanks, tabs, line breaks, semicolons and
// commas. False when a value is not an integer.
bool IntList(const std::string& value, std::vector<long>& out) {
  std::vector<std::string> words;
  GetToken(value, kListSeparators, words);
  out.clear();
  for (const std::string& w : words) {
    long v = 0;
    if (!ParseLong(w, v) || v < -kMaxFixDay || v > kMaxFixDay) return false;
    out.push_back(v);
  }
  return true;
}

class DynamicKeys {
 public:
  DynamicKeys(LogStream* log, const std::string& body, int code) : log_(log), body_(body), code_(code) {}
  template <typename T>
  void Read(const std::string& key, T& field) {
    std::string value;
    if (!ValueText(body_, key, value)) {
      if (log_) *log_ << "FATAL: parameter \"" << key << "\" not found for land use " << code_ << "[end-entry]";
      Fail();
    }
    field = static_cast<T>(Leading(value, field));
  }
  void ReadWithDefault(const std::string& key, double& field, double fallback) {
    std::string value;
    if (ValueText(body_, key, value)) {
      field = LeadingDouble(value);
      return;
    }
    field = fallback;
    if (log_)
      *log_ << "INFO: parameter \"" << key << "\" not found for land use " << code_ << "; Using default of "
            << fallback << "[end-entry]";
  }

 private:
  static double Leading(const std::string& value, double) { return LeadingDouble(value); }
  static int Leading(const std::string& value, int) { return LeadingInt(value); }
  LogStream* log_;
  const std::string& body_;
  int code_;
};

[[noreturn]] void ReportEntry(LogStream* log, int code, const std::string& text) {
  if (log) *log << "FATAL: landuse table code " << code << ": some values could not be read\n" << text << "[end-entry]";
  throw 29;
}

}  // namespace

// --- old format -----------------------------------------------------------------------

void LanduseTableEntry::ReadOldFormat(LogStream* log, const std::string& line, int /*mode*/) {
  method = 1;
  try {
    TextCursor c(line);
    c.SkipBlanks();
    if (c.AtEnd()) Fail();  // keeps the position code for the message
    if (!c.ReadInt(code)) {
      code = 0;
      Fail();
    }
    double albedoValue = 0.0;
    if (!c.ReadWord(name) || name.size() > kMaxNameLength || !c.ReadDouble(albedoValue)) Fail();
    double resistance[12];
    for (double& r : resistance)
      if (!c.ReadDouble(r)) Fail();
    int days[4];
    for (int& d : days)
      if (!c.ReadInt(d) || d < -kMaxFixDay || d > kMaxFixDay) Fail();
    std::vector<double>* lists[4] = {&leafAreaIndex, &roughnessLength, &vegetationCoverage, &rootDepth};
    for (std::vector<double>* list : lists) {
      list->assign(5, 0.0);
      for (int k = 1; k <= 4; ++k)
        if (!c.ReadDouble((*list)[k])) Fail();
      (*list)[0] = (*list)[4];
    }

    n = 4;
    albedo.assign(5, albedoValue);
    surfaceCanopyResistance.assign(14, 0.0);
    std::copy(resistance, resistance + 12, surfaceCanopyResistance.begin() + 1);
    surfaceCanopyResistance[0] = surfaceCanopyResistance[12];
    surfaceCanopyResistance[13] = surfaceCanopyResistance[1];
    surfaceEvaporationResistance = surfaceCanopyResistance;
    // The old format has no interception resistance: the keyword format's default.
    surfaceIntercepResistance.assign(14, 20.0);
    JD.assign(5, 0);
    std::copy(days, days + 4, JD.begin() + 1);
    JD[0] = JD[4] - 366;
    JDcorr = JD;
    if (!FixDaysRise(log)) Fail();
    TReduWet = 0.95;
    LimitReduWet = 0.0;
    altitudeGradient = {-0.025, 0.025, 0.025, -0.025, -0.025};
    // Lists the keyword format always has, with its defaults.
    stemDiameter.assign(5, 0.01);
    residueCoverage.assign(5, 0.01);
    nFactor.assign(5, -9999.9);
  } catch (const EntryError&) {
    ReportEntry(log, code, line);
  } catch (const std::bad_alloc&) {
    ReportEntry(log, code, line);
  }
}

// --- keyword format ---------------------------------------------------------------------

bool LanduseTableEntry::ReadJulDays(LogStream* log, const std::string& text) {
  std::string value;
  std::vector<long> days;
  if (!ValueText(text, "JulDays", value) || !IntList(value, days) || days.empty()) return false;
  n = static_cast<int>(days.size());
  JD.assign(days.size() + 1, 0);
  for (int k = 1; k <= n; ++k) JD[k] = static_cast<int>(days[k - 1]);
  JD[0] = JD[n] - 366;
  JDcorr = JD;
  if (method == 5) {
    if (JD[1] != 1) {
      if (log)
        *log << "FATAL: Error in Landuse Table (Code: " << code
             << "): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and not " << JD[1]
             << "[end-entry]";
      return false;
    }
    if (JD[n] != 366) {
      if (log)
        *log << "FATAL: Error in Landuse Table (Code: " << code
             << "): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not " << JD[n]
             << "[end-entry]";
      return false;
    }
  }
  return FixDaysRise(log);
}

bool LanduseTableEntry::FixDaysRise(LogStream* log) const {
  // A dynamic row's first negative day marks the start that the phenology sets, and the day
  // after it counts from that start.
  int start = 0;
  if (method == 3 || method == 4 || method == 6)
    for (int k = 1; k < n && start == 0; ++k)
      if (JD[k] < 0) start = k;
  int before = 0;
  for (int k = 1; k <= n; ++k) {
    if (start > 0 && (k == start || k == start + 1)) continue;
    if (before > 0 && JD[k] < JD[before]) {
      if (log)
        *log << "FATAL: Error in Landuse Table (Code: " << code << ", " << name << "): the fix days of "
             << (method == 1 ? "the line" : "JulDays") << " have to rise through the year, but fix point " << k << " (day " << JD[k] << ") comes after fix point "
             << before << " (day " << JD[before] << ")" << "[end-entry]";
      return false;
    }
    before = k;
  }
  return true;
}

bool LanduseTableEntry::ReadSoilTillage(const std::string& text) {
  std::string value;
  std::vector<long> days;
  if (!ValueText(text, "SoilTillage", value)) {
    soilTillageCount = 0;
    soilTillageDays.assign(1, -9999);
    return true;
  }
  if (!IntList(value, days)) return false;
  soilTillageCount = static_cast<int>(days.size());
  soilTillageDays.assign(days.size() + 1, 0);
  for (int k = 1; k <= soilTillageCount; ++k) soilTillageDays[k] = static_cast<int>(days[k - 1]);
  soilTillageDays[0] = soilTillageCount > 0 ? soilTillageDays[soilTillageCount] - 366 : -9999;
  return true;
}

bool LanduseTableEntry::ReadKeyDouble(const std::string& text, const std::string& key, std::vector<double>& list,
                                      int count) {
  std::string value;
  if (count < 1 || !ValueText(text, key, value)) return false;
  if (list.size() < static_cast<size_t>(count) + 1) list.resize(static_cast<size_t>(count) + 1);
  TextCursor c(value);
  for (int k = 1; k <= count; ++k)
    if (!c.ReadDouble(list[k])) return false;
  list[0] = list[count];
  return true;
}

void LanduseTableEntry::ReadNewFormat(LogStream* log, const std::string& text, const std::string& keyword) {
  static const char* const kKeywords[] = {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2",
                                          "DynamicPhenology_3", "DynamicPhenology_4"};
  const size_t brace = text.find('{');
  const std::string body = brace == std::string::npos ? std::string() : text.substr(brace);
  try {
    method = 0;
    for (int k = 0; k < 5; ++k)
      if (keyword == kKeywords[k]) method = k + 2;
    if (method == 0) Fail();
    dynamicStartSet = false;
    dynamicStartShift = -1;

    TextCursor c(text);
    if (!c.ReadInt(code)) {
      code = 0;
      Fail();
    }
    if (!c.ReadWord(name) || name.size() > kMaxNameLength) Fail();

    RootDist = RequiredDouble(body, "RootDist");
    TReduWet = RequiredDouble(body, "TReduWet");
    std::string value;
    if (ValueText(body, "useInternalParameters", value)) {
      const size_t first = value.find_first_of("01");
      if (first == std::string::npos) Fail();
      useInternalParameters = value.substr(first);
    } else {
      useInternalParameters = "11111111";
    }
    parameterMask = landuse_days::ParameterMask(useInternalParameters.data(),
                                                static_cast<int>(useInternalParameters.size()));
    LimitReduWet = OptionalDouble(body, "LimitReduWet", 0.0);
    ETPHamonFactor = OptionalDouble(body, "ETPHamonFactor", 1.0);
    HReduDry = RequiredDouble(body, "HReduDry");
    StartVegetationPeriodForBalance = OptionalInt(body, "StartVegetationPeriodForBalance", 0);
    StopVegetationPeriodForBalance = OptionalInt(body, "StopVegetationPeriodForBalance", 0);
    JDVegetationResetForBalance = OptionalInt(body, "JDVegetationResetForBalance", -1);
    JDVegetationWriteForBalance = OptionalInt(body, "JDVegetationWriteForBalance", -1);
    IntercepCap = OptionalDouble(body, "IntercepCap", -1.0);
    StressFactorDynPhen = OptionalDouble(body, "StressFactorDynPhen", 0.0);
    if (!ReadJulDays(log, body)) Fail();

    DynamicKeys keys(log, body, code);
    if (method == 3 || method == 4 || method == 6) {
      dynamicStartShift = -1;
      dynamicFixIndex = -1;
      keys.Read("F*", FStar);
    }
    if (method >= 3) {
      keys.Read("DP1_t1_dorm", DP1_t1_dorm);
      keys.Read("DP1_T_Bf", DP1_T_Bf);
      keys.Read("JDReset_TStart", JDReset_TStart);
      keys.Read("maxStartJDforDP1", maxStartJDforDP1);
    }
    if (method == 3 || method == 4 || method == 6) {
      for (int k = 1; k < n; ++k)
        if (JD[k] < 0) {
          dynamicFixIndex = k;
          break;
        }
    }
    if (method == 4) {
      keys.Read("DP2_t0_dorm", DP2_t0_dorm);
      keys.Read("DP2_t1_dorm", DP2_t1_dorm);
      keys.Read("DP2_T_Bf", DP2_T_Bf);
      keys.Read("DP2_T_Bc", DP2_T_Bc);
      keys.Read("DP2_Par_a", DP2_Par_a);
      keys.Read("DP2_Par_b", DP2_Par_b);
      keys.ReadWithDefault("DP2_Offset_1", DP2_Offset_1, -3.4);
      keys.ReadWithDefault("DP2_Offset_2", DP2_Offset_2, 12.0);
    }
    if (method == 6) {
      keys.Read("DP4_t0_dorm", DP4_t0_dorm);
      keys.Read("DP4_t1_dorm", DP4_t1_dorm);
      keys.Read("DP4_T0", DP4_T0);
      keys.Read("DP4_T1", DP4_T1);
      keys.Read("DP4_Par_a", DP4_Par_a);
      keys.Read("DP4_Par_b", DP4_Par_b);
      keys.Read("DP4_T_xylstop", DP4_T_xylstop);
      keys.Read("DP4_t_xs1", DP4_t_xs1);
      keys.Read("DP4_SPSLF", DP4_SPSLF);
    }

    const size_t size = static_cast<size_t>(n) + 1;
    if (method == 5 && !ReadKeyDouble(body, "ForcingThreshold", forcingThresholds, n)) Fail();
    struct {
      const char* key;
      std::vector<double>* list;
    } const required[] = {{"Albedo", &albedo},         {"rsc", &surfaceCanopyResistance},
                          {"LAI", &leafAreaIndex},      {"Z0", &roughnessLength},
                          {"VCF", &vegetationCoverage}, {"RootDepth", &rootDepth},
                          {"AltDep", &altitudeGradient}};
    for (const auto& r : required)
      if (!ReadKeyDouble(body, r.key, *r.list, n)) Fail();
    struct {
      const char* key;
      std::vector<double>* list;
      double fallback;
    } const optional[] = {{"rs_interception", &surfaceIntercepResistance, 20.0},
                          {"rs_evaporation", &surfaceEvaporationResistance, 200.0}};
    for (const auto& o : optional) {
      if (!ValueText(body, o.key, value))
        o.list->assign(size, o.fallback);
      else if (!ReadKeyDouble(body, o.key, *o.list, n))
        Fail();
    }

    if (!ReadSoilTillage(body)) Fail();
    if (ValueText(body, "SR_cultivation", value)) {
      if (value.find("other") != std::string::npos)
        SR_cultivation = 3;
      else if (value.find("nonconserving") != std::string::npos)
        SR_cultivation = 2;
      else if (value.find("conserving") != std::string::npos)
        SR_cultivation = 1;
      else {
        if (log) *log << "FATAL: no valid value for parameter \"SR_cultivation\" for land use " << code << "[end-entry]";
        Fail();
      }
    } else {
      SR_cultivation = 3;
    }
    SR_CropDistX = OptionalDouble(body, "SR_CropDistX", 0.3);
    SR_CropDistY = OptionalDouble(body, "SR_CropDistY", 0.3);
    SR_K_ST = OptionalDouble(body, "SR_K_ST", 10.0);
    SR_C_WR = OptionalDouble(body, "SR_C_WR", 1.5);
    for (std::vector<double>* coefficients : {&SR_rough_coeff1, &SR_rough_coeff2}) {
      const char* key = coefficients == &SR_rough_coeff1 ? "SR_rough_coeff1" : "SR_rough_coeff2";
      if (!ValueText(body, key, value))
        *coefficients = {0.0, 0.0198, 0.712, 0.142};
      else if (!ReadKeyDouble(body, key, *coefficients, 3))
        Fail();
    }
    struct {
      const char* key;
      std::vector<double>* list;
      double fallback;
    } const surface[] = {{"SR_StemDiameter", &stemDiameter, 0.01},
                         {"SR_ResidCovrg", &residueCoverage, 0.01},
                         {"n-factor", &nFactor, -9999.9}};
    for (const auto& s : surface) {
      if (!ValueText(body, s.key, value))
        s.list->assign(size, s.fallback);
      else if (!ReadKeyDouble(body, s.key, *s.list, n))
        Fail();
    }
    nf_freezing = OptionalDouble(body, "nf_freezing", -9999.9);
    nf_thawing = OptionalDouble(body, "nf_thawing", -9999.9);
    struct {
      const char* key;
      double* field;
    } const arcVeg[] = {{"ArcVegInFactFull", &ArcVegInFactFull}, {"ArcVegInFactSome", &ArcVegInFactSome},
                        {"ArcVegInUDIceWdg", &ArcVegInUDIceWdg}, {"ArcVegBNratio", &ArcVegBNratio},
                        {"ArcVegSenesce", &ArcVegSenesce},       {"ArcVegRetran", &ArcVegRetran},
                        {"ArcVegFoliarProp", &ArcVegFoliarProp}, {"ArcVegPropN", &ArcVegPropN},
                        {"ArcVegAGProp", &ArcVegAGProp},         {"ArcVegMaxBio", &ArcVegMaxBio}};
    for (const auto& a : arcVeg) *a.field = OptionalDouble(body, a.key, 1.0);
    ArcVegSeedMaxProb.assign(8, 0.0);
    ArcVegUptakeEfficiency.assign(6, 0.0);
    for (std::vector<double>* vector : {&ArcVegSeedMaxProb, &ArcVegUptakeEfficiency}) {
      const bool seed = vector == &ArcVegSeedMaxProb;
      if (ValueText(body, seed ? "ArcVegSeedMaxProb" : "ArcVegUptakeEfficiency", value)) {
        TextCursor c2(value);
        // Values that cannot be read stay 0.
        for (size_t k = 1; k < vector->size(); ++k)
          if (!c2.ReadDouble((*vector)[k])) break;
      }
    }
  } catch (const EntryError&) {
    ReportEntry(log, code, body);
  } catch (const std::bad_alloc&) {
    ReportEntry(log, code, body);
  }
}
