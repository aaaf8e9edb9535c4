// The two formats of one [landuse_table] entry: the old positional line and the keyword
// entry "code name { key = values; ... }". Any failure of an entry ends the run with the
// entry's text and error code 29.
#include <algorithm>
#include <cmath>
#include <new>
#include <type_traits>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "tables/landuse_day_values.h"
#include "tables/landuse_table.h"
#include "tables/soil_table_text.h"

namespace {

constexpr size_t kMaxNameLength = 199;
constexpr long kMaxFixDay = 100000;  // keeps day arithmetic inside int; real days are checked on use
const char* const kWholeDay = "a whole day of the year";
const char* const kWholeNumber = "a whole number";
const char* const kNumber = "a number";
// The values of an old-format line, for the message on a line that holds more or fewer.
const char* const kOldFormat =
    "35: code, name, albedo, 12 canopy resistances (January to December), 4 fix days and 4 values each of leaf "
    "area index, roughness length, vegetation coverage and root depth";

// Thrown inside an entry's parser; the entry as a whole is then reported.
struct EntryError {};

[[noreturn]] void Fail() { throw EntryError{}; }

// The row as messages name it: its code and, once read, its name.
std::string RowText(const LanduseTableEntry& row) {
  return "landuse table code " + std::to_string(row.code) + (row.name.empty() ? "" : " (" + row.name + ")");
}

// "Read a number, else name the word" for a row: a value that begins like a number but is
// none of the kind the table reads there ("280.5" where a day is read, "2,0") is named with
// the row and what it stands for, and the entry fails; the entry follows in the message that
// ends the run.
tabletext::NumberReader RowNumbers(LogStream* log, const LanduseTableEntry& row) {
  return tabletext::NumberReader(log, RowText(row), [log](const std::string& fatal) {
    if (log) *log << fatal << "[end-entry]";
    Fail();
  });
}
// The same message, for a reader that fails by returning false.
void NameRefused(LogStream* log, const LanduseTableEntry& row, const std::string& word, const std::string& what,
                 const char* expected) {
  if (log) *log << RowNumbers(log, row).RefusalText(word, what, expected) << "[end-entry]";
}

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

// The days of a list key, each a whole number ("280.0" is 280). False when a value is none;
// refused then holds it.
bool DayList(const std::string& value, std::vector<long>& out, std::string& refused) {
  std::vector<double> numbers;
  out.clear();
  if (!tabletext::ListNumbers(value, true, numbers, refused)) return false;
  for (const double v : numbers) {
    if (v < -kMaxFixDay || v > kMaxFixDay) {
      refused = NumberText(v);
      return false;
    }
    out.push_back(static_cast<long>(v));
  }
  return true;
}

// The single values of an entry's keys. A number is read from the start of the value text;
// a text that is no number reads as 0, one that begins like a number but is none of the
// kind is refused.
class EntryKeys {
 public:
  EntryKeys(LogStream* log, const std::string& body, const LanduseTableEntry& row)
      : log_(log), body_(body), row_(row), numbers_(RowNumbers(log, row)) {}
  LogStream* Log() const { return log_; }
  const std::string& Body() const { return body_; }
  bool Value(const std::string& key, std::string& value) const { return ValueText(body_, key, value); }
  bool Has(const std::string& key) const {
    std::string value;
    return Value(key, value);
  }
  // Optional keys: the value, or the default when the key is absent.
  double Double(const std::string& key, double fallback) const {
    std::string value;
    return Value(key, value) ? Number(key, value, 0.0, kNumber) : fallback;
  }
  int Int(const std::string& key, int fallback, const char* expected = kWholeNumber) const {
    std::string value;
    return Value(key, value) ? Number(key, value, 0, expected) : fallback;
  }
  double RequiredDouble(const std::string& key) const {
    std::string value;
    if (!Value(key, value)) Fail();
    return Number(key, value, 0.0, kNumber);
  }
  // The keys of the dynamic phenology: each required for its methods, named when missing.
  template <typename T>
  void Dynamic(const std::string& key, T& field, const char* expected = kWholeDay) const {
    std::string value;
    if (!Value(key, value)) {
      if (log_) *log_ << "FATAL: parameter \"" << key << "\" not found for land use " << row_.code << "[end-entry]";
      Fail();
    }
    field = Number(key, value, T(), std::is_same<T, int>::value ? expected : kNumber);
  }
  void DynamicWithDefault(const std::string& key, double& field, double fallback) const {
    std::string value;
    if (Value(key, value)) {
      field = Number(key, value, 0.0, kNumber);
      return;
    }
    field = fallback;
    if (log_)
      *log_ << "INFO: parameter \"" << key << "\" not found for land use " << row_.code << "; Using default of "
            << fallback << "[end-entry]";
  }

 private:
  template <typename T>
  T Number(const std::string& key, const std::string& value, T number, const char* expected) const {
    numbers_.KeyValueOrZero(value, number, key, expected);
    return number;
  }
  LogStream* log_;
  const std::string& body_;
  const LanduseTableEntry& row_;
  const tabletext::NumberReader numbers_;
};

[[noreturn]] void ReportEntry(LogStream* log, int code, const std::string& text) {
  if (log) *log << "FATAL: landuse table code " << code << ": some values could not be read\n" << text << "[end-entry]";
  throw 29;
}

// The code and the name at the start of an entry (either format): the code a whole number
// ("1." is 1), the name one word.
void ReadCodeAndName(LogStream* log, TextCursor& c, LanduseTableEntry& row) {
  // Until it is read the row's code is its place in the section.
  const tabletext::NumberReader entry(log, "[landuse_table], entry " + std::to_string(row.code),
                                      [log, &row](const std::string& fatal) {
                                        row.code = 0;
                                        if (log) *log << fatal << "[end-entry]";
                                        Fail();
                                      });
  int code = 0;
  if (!entry.Next(c, code, "the land-use code", kWholeNumber)) {
    row.code = 0;
    Fail();
  }
  row.code = code;
  // A comma behind the code or the name separates it as it separates numbers ("1, conifer, 0.12").
  if (!c.ReadRowWord(row.name) || row.name.size() > kMaxNameLength) Fail();
}

}  // namespace

// --- old format -----------------------------------------------------------------------

void LanduseTableEntry::ReadOldFormat(LogStream* log, const std::string& line, int /*mode*/) {
  method = 1;
  name.clear();
  try {
    TextCursor c = tabletext::NumberCursor(line);
    c.SkipBlanks();
    if (c.AtEnd()) Fail();  // keeps the position code for the message
    ReadCodeAndName(log, c, *this);
    // The values of the line in their order; a word that stands where a value is read is
    // named with its place, and so is a line that ends before the last.
    const tabletext::NumberReader numbers = RowNumbers(log, *this);
    int found = 2;  // the code and the name
    auto number = [&](auto& v, const std::string& what, const char* expected) {
      if (!numbers.Next(c, v, what + " of the line", expected, true)) {
        if (log) *log << tabletext::ValueCountText(RowText(*this), found, kOldFormat) << "[end-entry]";
        Fail();
      }
      ++found;
    };
    double albedoValue = 0.0;
    number(albedoValue, "the albedo", kNumber);
    double resistance[12];
    for (int m = 0; m < 12; ++m) number(resistance[m], "canopy resistance " + std::to_string(m + 1), kNumber);
    int days[4];
    for (int k = 0; k < 4; ++k) {
      const std::string what = "fix day " + std::to_string(k + 1);
      number(days[k], what, kWholeDay);
      if (days[k] < -kMaxFixDay || days[k] > kMaxFixDay)
        numbers.Refuse(std::to_string(days[k]), what + " of the line", kWholeDay);
    }
    std::vector<double>* lists[4] = {&leafAreaIndex, &roughnessLength, &vegetationCoverage, &rootDepth};
    const char* const listNames[4] = {"leaf area index", "roughness length", "vegetation coverage", "root depth"};
    for (int l = 0; l < 4; ++l) {
      std::vector<double>& list = *lists[l];
      list.assign(5, 0.0);
      for (int k = 1; k <= 4; ++k) number(list[k], std::string(listNames[l]) + " " + std::to_string(k), kNumber);
      list[0] = list[4];
    }
    // A value too many would have moved every later one by a place: the line is refused. The
    // first word that no number begins ends the values; a remark may follow them.
    const int values = found;
    for (std::string word; c.ReadWord(word) && BeginsLikeNumber(word);) ++found;
    if (found > values) {
      if (log)
        *log << tabletext::ValueCountText(RowText(*this), found, kOldFormat)
             << "; a remark after the values begins with a word or \"#\"" << "[end-entry]";
      Fail();
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
  std::string value, refused;
  std::vector<long> days;
  if (!ValueText(text, "JulDays", value)) return false;
  if (!DayList(value, days, refused)) {
    NameRefused(log, *this, refused, "JulDays", kWholeDay);
    return false;
  }
  const std::string note = tabletext::CommaNote(value, true);
  if (days.empty()) return false;
  n = static_cast<int>(days.size());
  JD.assign(days.size() + 1, 0);
  for (int k = 1; k <= n; ++k) JD[k] = static_cast<int>(days[k - 1]);
  JD[0] = JD[n] - 366;
  JDcorr = JD;
  if (method == 5) {
    if (JD[1] != 1) {
      if (log)
        *log << "FATAL: Error in Landuse Table (Code: " << code
             << "): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and not " << JD[1] << note
             << "[end-entry]";
      return false;
    }
    if (JD[n] != 366) {
      if (log)
        *log << "FATAL: Error in Landuse Table (Code: " << code
             << "): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not " << JD[n] << note
             << "[end-entry]";
      return false;
    }
  }
  return FixDaysRise(log, note);
}

bool LanduseTableEntry::FixDaysRise(LogStream* log, const std::string& note) const {
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
             << before << " (day " << JD[before] << ")" << note << "[end-entry]";
      return false;
    }
    before = k;
  }
  return true;
}

bool LanduseTableEntry::ReadSoilTillage(LogStream* log, const std::string& text) {
  std::string value, refused;
  std::vector<long> days;
  if (!ValueText(text, "SoilTillage", value)) {
    soilTillageCount = 0;
    soilTillageDays.assign(1, -9999);
    return true;
  }
  if (!DayList(value, days, refused)) {
    NameRefused(log, *this, refused, "SoilTillage", kWholeDay);
    return false;
  }
  soilTillageCount = static_cast<int>(days.size());
  soilTillageDays.assign(days.size() + 1, 0);
  for (int k = 1; k <= soilTillageCount; ++k) soilTillageDays[k] = static_cast<int>(days[k - 1]);
  soilTillageDays[0] = soilTillageCount > 0 ? soilTillageDays[soilTillageCount] - 366 : -9999;
  return true;
}

bool LanduseTableEntry::ReadKeyDouble(LogStream* log, const std::string& text, const std::string& key,
                                      std::vector<double>& list, int count) {
  std::string value, refused, end;
  std::vector<double> numbers;
  if (count < 1 || !ValueText(text, key, value)) return false;
  // The list ends at a word that no number begins: one that stands where a value is read
  // is named.
  if (!tabletext::ListNumbers(value, false, numbers, refused, &end) ||
      (numbers.size() < static_cast<size_t>(count) && !end.empty())) {
    NameRefused(log, *this, refused.empty() ? end : refused, key + ", value " + std::to_string(numbers.size() + 1),
                kNumber);
    return false;
  }
  // Values beyond count are not read, unless a comma between two digits made them: then the
  // list was meant otherwise.
  const std::string note = tabletext::CommaNote(value, false);
  const size_t wanted = static_cast<size_t>(count);
  if (numbers.size() < wanted || (numbers.size() > wanted && !note.empty())) {
    if (log)
      *log << "FATAL: " << RowText(*this) << ": " << key << " holds " << numbers.size()
           << (numbers.size() == 1 ? " value" : " values") << "; the entry reads "
           << count << (count == n && key.rfind("SR_rough_coeff", 0) != 0 ? " (one per fix day of JulDays)" : "")
           << note << "[end-entry]";
    return false;
  }
  if (list.size() < wanted + 1) list.resize(wanted + 1);
  std::copy(numbers.begin(), numbers.begin() + count, list.begin() + 1);
  list[0] = list[wanted];
  return true;
}

namespace {

// The steps of a keyword entry, in the order the entry is read: its messages come in that
// order. Each fails the entry (EntryError) on a value it cannot use.

int MethodOfKeyword(const std::string& keyword) {
  static const char* const kKeywords[] = {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2",
                                          "DynamicPhenology_3", "DynamicPhenology_4"};
  for (int k = 0; k < 5; ++k)
    if (keyword == kKeywords[k]) return k + 2;
  return 0;
}

// The water-balance values of the row, which parameters it sets, and its balance days.
void ReadWaterKeys(const EntryKeys& keys, LanduseTableEntry& row) {
  row.RootDist = keys.RequiredDouble("RootDist");
  row.TReduWet = keys.RequiredDouble("TReduWet");
  std::string value;
  if (keys.Value("useInternalParameters", value)) {
    const size_t first = value.find_first_of("01");
    if (first == std::string::npos) Fail();
    row.useInternalParameters = value.substr(first);
  } else {
    row.useInternalParameters = "11111111";
  }
  row.parameterMask = landuse_days::ParameterMask(row.useInternalParameters.data(),
                                                  static_cast<int>(row.useInternalParameters.size()));
  row.LimitReduWet = keys.Double("LimitReduWet", 0.0);
  row.ETPHamonFactor = keys.Double("ETPHamonFactor", 1.0);
  row.HReduDry = keys.RequiredDouble("HReduDry");
  row.StartVegetationPeriodForBalance = keys.Int("StartVegetationPeriodForBalance", 0);
  row.StopVegetationPeriodForBalance = keys.Int("StopVegetationPeriodForBalance", 0);
  row.JDVegetationResetForBalance = keys.Int("JDVegetationResetForBalance", -1, kWholeDay);
  row.JDVegetationWriteForBalance = keys.Int("JDVegetationWriteForBalance", -1, kWholeDay);
  row.IntercepCap = keys.Double("IntercepCap", -1.0);
  row.StressFactorDynPhen = keys.Double("StressFactorDynPhen", 0.0);
}

// The keys of the dynamic phenology that the row's method needs (after JulDays, whose first
// negative day is the fix point the phenology's start sets).
void ReadPhenologyKeys(const EntryKeys& keys, LanduseTableEntry& row) {
  const int method = row.method;
  const bool withStart = method == 3 || method == 4 || method == 6;
  if (withStart) {
    row.dynamicStartShift = -1;
    row.dynamicFixIndex = -1;
    keys.Dynamic("F*", row.FStar);
  }
  if (method >= 3) {
    keys.Dynamic("DP1_t1_dorm", row.DP1_t1_dorm);
    keys.Dynamic("DP1_T_Bf", row.DP1_T_Bf);
    keys.Dynamic("JDReset_TStart", row.JDReset_TStart);
    keys.Dynamic("maxStartJDforDP1", row.maxStartJDforDP1);
  }
  if (withStart) {
    for (int k = 1; k < row.n; ++k)
      if (row.JD[k] < 0) {
        row.dynamicFixIndex = k;
        break;
      }
  }
  if (method == 4) {
    keys.Dynamic("DP2_t0_dorm", row.DP2_t0_dorm);
    keys.Dynamic("DP2_t1_dorm", row.DP2_t1_dorm);
    keys.Dynamic("DP2_T_Bf", row.DP2_T_Bf);
    keys.Dynamic("DP2_T_Bc", row.DP2_T_Bc);
    keys.Dynamic("DP2_Par_a", row.DP2_Par_a);
    keys.Dynamic("DP2_Par_b", row.DP2_Par_b);
    keys.DynamicWithDefault("DP2_Offset_1", row.DP2_Offset_1, -3.4);
    keys.DynamicWithDefault("DP2_Offset_2", row.DP2_Offset_2, 12.0);
  }
  if (method == 6) {
    keys.Dynamic("DP4_t0_dorm", row.DP4_t0_dorm);
    keys.Dynamic("DP4_t1_dorm", row.DP4_t1_dorm);
    keys.Dynamic("DP4_T0", row.DP4_T0);
    keys.Dynamic("DP4_T1", row.DP4_T1);
    keys.Dynamic("DP4_Par_a", row.DP4_Par_a);
    keys.Dynamic("DP4_Par_b", row.DP4_Par_b);
    keys.Dynamic("DP4_T_xylstop", row.DP4_T_xylstop);
    keys.Dynamic("DP4_t_xs1", row.DP4_t_xs1);
    keys.Dynamic("DP4_SPSLF", row.DP4_SPSLF, kWholeNumber);  // a fix point, not a day
  }
}

// An optional list of count values: its default when the key is absent.
void OptionalList(const EntryKeys& keys, LanduseTableEntry& row, const char* key, std::vector<double>& list,
                  int count, const std::vector<double>& fallback) {
  if (!keys.Has(key))
    list = fallback;
  else if (!row.ReadKeyDouble(keys.Log(), keys.Body(), key, list, count))
    Fail();
}

// The values at the fix days: the required ones and the resistances of interception and
// evaporation (and for DynamicPhenology_3 the forcing thresholds).
void ReadFixDayLists(const EntryKeys& keys, LanduseTableEntry& row) {
  const int n = row.n;
  if (row.method == 5 && !row.ReadKeyDouble(keys.Log(), keys.Body(), "ForcingThreshold", row.forcingThresholds, n))
    Fail();
  struct {
    const char* key;
    std::vector<double>* list;
  } const required[] = {{"Albedo", &row.albedo},         {"rsc", &row.surfaceCanopyResistance},
                        {"LAI", &row.leafAreaIndex},      {"Z0", &row.roughnessLength},
                        {"VCF", &row.vegetationCoverage}, {"RootDepth", &row.rootDepth},
                        {"AltDep", &row.altitudeGradient}};
  for (const auto& r : required)
    if (!row.ReadKeyDouble(keys.Log(), keys.Body(), r.key, *r.list, n)) Fail();
  const size_t size = static_cast<size_t>(n) + 1;
  OptionalList(keys, row, "rs_interception", row.surfaceIntercepResistance, n, std::vector<double>(size, 20.0));
  OptionalList(keys, row, "rs_evaporation", row.surfaceEvaporationResistance, n, std::vector<double>(size, 200.0));
}

// Tillage, cultivation, roughness of the soil surface and the n-factors of frozen ground.
void ReadSoilSurfaceKeys(const EntryKeys& keys, LanduseTableEntry& row) {
  if (!row.ReadSoilTillage(keys.Log(), keys.Body())) Fail();
  std::string value;
  if (keys.Value("SR_cultivation", value)) {
    if (value.find("other") != std::string::npos)
      row.SR_cultivation = 3;
    else if (value.find("nonconserving") != std::string::npos)
      row.SR_cultivation = 2;
    else if (value.find("conserving") != std::string::npos)
      row.SR_cultivation = 1;
    else {
      if (keys.Log())
        *keys.Log() << "FATAL: no valid value for parameter \"SR_cultivation\" for land use " << row.code
                    << "[end-entry]";
      Fail();
    }
  } else {
    row.SR_cultivation = 3;
  }
  row.SR_CropDistX = keys.Double("SR_CropDistX", 0.3);
  row.SR_CropDistY = keys.Double("SR_CropDistY", 0.3);
  row.SR_K_ST = keys.Double("SR_K_ST", 10.0);
  row.SR_C_WR = keys.Double("SR_C_WR", 1.5);
  const std::vector<double> coefficients = {0.0, 0.0198, 0.712, 0.142};
  OptionalList(keys, row, "SR_rough_coeff1", row.SR_rough_coeff1, 3, coefficients);
  OptionalList(keys, row, "SR_rough_coeff2", row.SR_rough_coeff2, 3, coefficients);
  const size_t size = static_cast<size_t>(row.n) + 1;
  OptionalList(keys, row, "SR_StemDiameter", row.stemDiameter, row.n, std::vector<double>(size, 0.01));
  OptionalList(keys, row, "SR_ResidCovrg", row.residueCoverage, row.n, std::vector<double>(size, 0.01));
  OptionalList(keys, row, "n-factor", row.nFactor, row.n, std::vector<double>(size, -9999.9));
  row.nf_freezing = keys.Double("nf_freezing", -9999.9);
  row.nf_thawing = keys.Double("nf_thawing", -9999.9);
}

// The values of the ArcVeg vegetation model; its two vectors keep 0 where the list gives none.
void ReadArcVegKeys(const EntryKeys& keys, LanduseTableEntry& row) {
  struct {
    const char* key;
    double* field;
  } const arcVeg[] = {{"ArcVegInFactFull", &row.ArcVegInFactFull}, {"ArcVegInFactSome", &row.ArcVegInFactSome},
                      {"ArcVegInUDIceWdg", &row.ArcVegInUDIceWdg}, {"ArcVegBNratio", &row.ArcVegBNratio},
                      {"ArcVegSenesce", &row.ArcVegSenesce},       {"ArcVegRetran", &row.ArcVegRetran},
                      {"ArcVegFoliarProp", &row.ArcVegFoliarProp}, {"ArcVegPropN", &row.ArcVegPropN},
                      {"ArcVegAGProp", &row.ArcVegAGProp},         {"ArcVegMaxBio", &row.ArcVegMaxBio}};
  for (const auto& a : arcVeg) *a.field = keys.Double(a.key, 1.0);
  row.ArcVegSeedMaxProb.assign(8, 0.0);
  row.ArcVegUptakeEfficiency.assign(6, 0.0);
  struct {
    const char* key;
    std::vector<double>* vector;
  } const vectors[] = {{"ArcVegSeedMaxProb", &row.ArcVegSeedMaxProb},
                       {"ArcVegUptakeEfficiency", &row.ArcVegUptakeEfficiency}};
  for (const auto& v : vectors) {
    std::string value;
    if (!keys.Value(v.key, value)) continue;
    std::vector<double> numbers;
    std::string refused, end;
    if (!tabletext::ListNumbers(value, false, numbers, refused, &end))
      RowNumbers(keys.Log(), row).Refuse(refused, std::string(v.key) + ", value " + std::to_string(numbers.size() + 1),
                                         kNumber);
    for (size_t k = 1; k < v.vector->size() && k <= numbers.size(); ++k) (*v.vector)[k] = numbers[k - 1];
  }
}

}  // namespace

const std::vector<std::string>& LanduseTableEntry::Keys() {
  static const std::vector<std::string> keys = {
      "method", "RootDist", "TReduWet", "useInternalParameters", "LimitReduWet", "ETPHamonFactor", "HReduDry",
      "StartVegetationPeriodForBalance", "StopVegetationPeriodForBalance", "JDVegetationResetForBalance",
      "JDVegetationWriteForBalance", "IntercepCap", "StressFactorDynPhen", "JulDays",
      // the dynamic phenology, by method
      "F*", "DP1_t1_dorm", "DP1_T_Bf", "JDReset_TStart", "maxStartJDforDP1", "DP2_t0_dorm", "DP2_t1_dorm",
      "DP2_T_Bf", "DP2_T_Bc", "DP2_Par_a", "DP2_Par_b", "DP2_Offset_1", "DP2_Offset_2", "DP4_t0_dorm",
      "DP4_t1_dorm", "DP4_T0", "DP4_T1", "DP4_Par_a", "DP4_Par_b", "DP4_T_xylstop", "DP4_t_xs1", "DP4_SPSLF",
      // the values at the fix days
      "ForcingThreshold", "Albedo", "rsc", "LAI", "Z0", "VCF", "RootDepth", "AltDep", "rs_interception",
      "rs_evaporation",
      // the soil surface
      "SoilTillage", "SR_cultivation", "SR_CropDistX", "SR_CropDistY", "SR_K_ST", "SR_C_WR", "SR_rough_coeff1",
      "SR_rough_coeff2", "SR_StemDiameter", "SR_ResidCovrg", "n-factor", "nf_freezing", "nf_thawing",
      // ArcVeg
      "ArcVegInFactFull", "ArcVegInFactSome", "ArcVegInUDIceWdg", "ArcVegBNratio", "ArcVegSenesce", "ArcVegRetran",
      "ArcVegFoliarProp", "ArcVegPropN", "ArcVegAGProp", "ArcVegMaxBio", "ArcVegSeedMaxProb",
      "ArcVegUptakeEfficiency"};
  return keys;
}

void LanduseTableEntry::ReadNewFormat(LogStream* log, const std::string& text, const std::string& keyword) {
  const size_t brace = text.find('{');
  const std::string body = brace == std::string::npos ? std::string() : text.substr(brace);
  try {
    method = MethodOfKeyword(keyword);
    if (method == 0) Fail();
    dynamicStartSet = false;
    dynamicStartShift = -1;
    name.clear();
    TextCursor c = tabletext::NumberCursor(text);
    ReadCodeAndName(log, c, *this);

    const EntryKeys keys(log, body, *this);
    ReadWaterKeys(keys, *this);
    if (!ReadJulDays(log, body)) Fail();
    ReadPhenologyKeys(keys, *this);
    ReadFixDayLists(keys, *this);
    ReadSoilSurfaceKeys(keys, *this);
    ReadArcVegKeys(keys, *this);
  } catch (const EntryError&) {
    ReportEntry(log, code, body);
  } catch (const std::bad_alloc&) {
    ReportEntry(log, code, body);
  }
}
