// The reader of [soil_table] and [GlobalSoilParameters], and the two row parsers: keyword
// entries of the method "MultipleHorizons" (layered profiles built from horizons) and the
// positional lines of the old format.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "tables/soil_table.h"
#include "tables/soil_table_text.h"

namespace {

// A row that failed; message is the specific FATAL text written before the generic one
// (empty: only the generic message).
struct RowFailure {
  std::string message;
};

// The van Genuchten parameters of every layer must describe a retention curve: n above 1
// (m = 1 - 1/n then lies in (0, 1)), a saturated water content above the residual one and a
// positive alpha. Otherwise the tables would give water contents above saturation.
void CheckVanGenuchten(const SoilTableEntry& row) {
  const size_t count = std::min({row.Par_n.size(), row.theta_sat.size(), row.theta_res.size(), row.alpha.size()});
  const size_t first = row.layerCount >= 1 ? 1 : 0;
  const size_t last = std::min(static_cast<size_t>(std::max<int32_t>(row.layerCount, 0)), count == 0 ? 0 : count - 1);
  for (size_t l = first; l <= last && l < count; ++l) {
    const double n = row.Par_n[l], ts = row.theta_sat[l], tr = row.theta_res[l], a = row.alpha[l];
    if (n > 1.0 && ts > tr && a > 0.0 && std::isfinite(n) && std::isfinite(ts) && std::isfinite(tr) &&
        std::isfinite(a))
      continue;
    std::ostringstream text;
    text << "FATAL: soil type " << row.code << " (" << row.name << "), layer " << l
         << ": the van Genuchten parameters describe no retention curve: Par_n = " << n
         << " (must be above 1), theta_sat = " << ts << " (must be above theta_res = " << tr << "), alpha = " << a
         << " (must be above 0)";
    throw RowFailure{text.str()};
  }
}

// The VEVURADA storage: a field capacity of 0 or more that the maximum storage holds
// (mSB - FCap is the fillable porosity, which a negative value would turn into a source).
void CheckFieldCapacity(const SoilTableEntry& row) {
  std::ostringstream text;
  text << "FATAL: [soil_table], soil type " << row.code << " (" << row.name << "): ";
  if (!(row.FCap >= 0.0) || !std::isfinite(row.FCap)) {
    text << "FCap is " << row.FCap << "; the field capacity must be 0 or more";
    throw RowFailure{text.str()};
  }
  if (!(row.mSB >= row.FCap) || !std::isfinite(row.mSB)) {
    text << "FCap is " << row.FCap << ", above mSB = " << row.mSB
         << "; the field capacity must not exceed the maximum storage";
    throw RowFailure{text.str()};
  }
}

void Fatal(LogStream* log, const std::string& text) {
  if (log) *log << text << "[end-entry]";
}

// The row as messages name it: its code and, once read, its name.
std::string RowText(const SoilTableEntry& row) {
  return "soil table code " + std::to_string(row.code) + (row.name.empty() ? "" : " (" + row.name + ")");
}

// "Read a number, else name the word" for a row: a value that begins like a number but is
// none of the kind the table reads there ("2.5" layers, "1.5" as a code, "2,0") fails the
// row, which writes the FATAL naming it and what it stands for before its own message.
tabletext::NumberReader RowNumbers(const SoilTableEntry& row) {
  return tabletext::NumberReader(nullptr, RowText(row), [](const std::string& fatal) {
    throw RowFailure{fatal};
  });
}
[[noreturn]] void Refuse(const SoilTableEntry& row, const std::string& word, const std::string& what,
                         const char* expected) {
  RowNumbers(row).Refuse(word, what, expected);
}

// Reads the next number of the row's cursor, or fails the row (naming the word that stands
// there; at the end of the text only with the generic message).
template <typename T>
void Next(const SoilTableEntry& row, TextCursor& c, T& value, const std::string& what) {
  if (!RowNumbers(row).Next(c, value, what, std::is_same<T, int>::value ? "a whole number" : "a number", true))
    throw RowFailure{};
}

// Every key of a MultipleHorizons entry: a key that is none of them is named in a WARNING.
const std::vector<std::string> kKeywordKeys = {
    "method", "layers", "ksat", "theta_sat", "theta_res", "alpha", "Par_n", "thickness", "isArcVegType",
    "EvapMaxDepth", "ThicknessScaling", "GrainSizeDist", "SU_PAR00", "SU_PAR01", "SU_PAR02", "SU_PAR03",
    "SU_PAR04", "SU_PAR05", "SU_PAR06", "SU_PAR07", "SU_PAR08", "SU_PAR09", "SU_PAR10", "psi_FC", "Par_tau",
    "k_recession", "PMacroThresh", "MacroCapacity", "CapacityRedu", "MacroDepth", "DryHeatCapacity", "DryDensity",
    "DryThermalConduct", "KMinFrozenSoil", "maxratio", "FCap", "mSB", "ksat_vevurada", "suction", "Par_m",
    "MaxInterflowDepth"};

// The values of an old-format line, for the message on a line that holds more or fewer.
const char* const kOldFormat =
    "6: code, name, FCap, mSB, ksat_vevurada and suction (or 15 with the layered part, not read in this run)";
const char* const kLayeredFormat =
    "15: code, name, FCap, mSB, ksat_vevurada, suction, method, theta_sat, theta_res, alpha, Par_n, the number of "
    "layers, the layer thickness, maxratio and the k reduction";

// The code and the name at the start of a row of either format.
void ReadCodeAndName(SoilTableEntry& row, TextCursor& c) {
  int code = 0;
  Next(row, c, code, "the soil code");
  row.code = code;
  std::string word;
  if (!c.ReadRowWord(word)) throw RowFailure{};
  row.name = tabletext::EntryName(word, SoilTableEntry::kMaxNameLength);
}

}  // namespace

void SoilTableEntry::AllocateLayerArrays(bool withThermal) {
  const size_t n = static_cast<size_t>(layerCount) + 1;
  for (auto* v : {&thickness, &ksat, &theta_sat, &theta_res, &Par_m, &Par_n, &alpha, &Par_tau}) v->assign(n, 0.0);
  if (withThermal)
    for (auto* v : {&psi_FC, &k_recession, &DryHeatCapacity, &DryDensity, &DryThermalConduct}) v->assign(n, 0.0);
}

void SoilTableEntry::BuildTables() {
  conductivityPoints = suctionPoints = kTablePoints;
  const size_t n = static_cast<size_t>(layerCount) + 1;
  for (auto* t : {&thetaForConductivity, &relConductivity, &thetaForSuction, &suctionAxis, &saturationTable,
                  &capacityTable, &suctionShiftTable})
    t->assign(n, {});
  for (int l = 0; l <= layerCount; ++l) {
    MakeVanGenuchtenTables(l);
    for (auto* t : {&saturationTable, &capacityTable, &suctionShiftTable})
      (*t)[static_cast<size_t>(l)].assign(static_cast<size_t>(capacitySteps) + 1, 0.0);
  }
}

int SoilTableEntry::ReadLayerValues(SoilTableEntry& row, const std::string& text, const std::string& key,
                                    std::vector<double>* target, int horizonCount) {
  const size_t at = text.rfind(key);
  std::string value;
  if (at == std::string::npos || !tabletext::ValueText(text, at, value)) return -1;
  if (horizonCount < 0) {
    std::vector<double> numbers;
    std::string refused;
    if (!tabletext::ListNumbers(value, true, numbers, refused)) Refuse(row, refused, key, "a whole number of layers");
    std::vector<int32_t> layers{0};
    long sum = 0;
    for (const double n : numbers) {
      if (n < 0 || n > kMaxLayers) return -1;
      sum += n;
      if (sum > kMaxLayers) return -1;
      layers.push_back(static_cast<int32_t>(n));
    }
    if (layers.size() < 2) return -1;
    layers[0] = static_cast<int32_t>(sum);
    row.horizonCount = static_cast<int32_t>(layers.size()) - 1;
    row.horizonLayers = std::move(layers);
    return static_cast<int>(sum);
  }
  if (!target || target->size() < 2 || static_cast<size_t>(horizonCount) >= row.horizonLayers.size()) return -1;
  std::vector<double> numbers;
  std::string refused;
  if (!tabletext::ListNumbers(value, false, numbers, refused))
    Refuse(row, refused, key + " of horizon " + std::to_string(numbers.size() + 1), "a number");
  if (numbers.empty()) return -1;
  // Values beyond the horizons are not read, unless a comma between two digits made them.
  const std::string note = tabletext::CommaNote(value, false);
  if (numbers.size() > static_cast<size_t>(horizonCount) && !note.empty())
    throw RowFailure{"FATAL: " + RowText(row) + ": " + key + " holds " + std::to_string(numbers.size()) +
                     " values for " + std::to_string(horizonCount) + (horizonCount == 1 ? " horizon" : " horizons") + note};
  // Horizons beyond the values given take the last of them.
  int read = 0;
  double current = 0.0;
  size_t layer = 1;
  for (int j = 1; j <= horizonCount; ++j) {
    if (static_cast<size_t>(read) < numbers.size()) current = numbers[static_cast<size_t>(read++)];
    for (int k = 0; k < row.horizonLayers[static_cast<size_t>(j)] && layer < target->size(); ++k) (*target)[layer++] = current;
  }
  (*target)[0] = (*target)[1];
  return read;
}

bool SoilTableEntry::ReadKeyDouble(SoilTableEntry& row, const std::string& text, const std::string& key,
                                   double& target) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return false;
  std::string value;
  double number = 0.0;
  if (!tabletext::ValueText(text, at, value)) throw std::runtime_error("the value of \"" + key + "\" is missing");
  if (!RowNumbers(row).KeyValue(value, number, key, "a number"))
    throw std::runtime_error("the value of \"" + key + "\" is not a number");
  target = number;
  return true;
}

bool SoilTableEntry::ReadGrainSizeDist(SoilTableEntry& row, const std::string& text) {
  const size_t at = text.find("GrainSizeDist");
  if (at == std::string::npos) return false;
  std::string value;
  if (!tabletext::ValueText(text, at, value)) throw std::runtime_error("the value of \"GrainSizeDist\" is missing");
  std::vector<double> numbers;
  std::string refused;
  if (!tabletext::ListNumbers(value, false, numbers, refused)) Refuse(row, refused, "GrainSizeDist", "a number");
  // Fractions not given keep their defaults.
  for (size_t i = 0; i < row.grainSize.size() && i < numbers.size(); ++i) row.grainSize[i] = numbers[i];
  return true;
}

void SoilTableEntry::ReadNewFormat(SoilTableEntry& row, LogStream* log, const std::string& text, int) {
  if (text.find("MultipleHorizons") == std::string::npos) {
    Fatal(log, "FATAL: soil table definition method unknown " + text);
    throw 29;
  }
  try {
    TextCursor c = tabletext::NumberCursor(text);
    ReadCodeAndName(row, c);

    const int L = ReadLayerValues(row, text, "layers", nullptr, -1);
    if (L < 1) throw RowFailure{};
    row.layerCount = L;
    row.AllocateLayerArrays(true);
    const int H = row.horizonCount;
    auto perHorizon = [&](const char* key, std::vector<double>& target, bool required, double fallback) {
      if (ReadLayerValues(row, text, key, &target, H) >= 0) return true;
      if (required || text.find(key) != std::string::npos) throw RowFailure{};
      std::fill(target.begin(), target.end(), fallback);
      return false;
    };
    auto single = [&](const char* key, double& target, double fallback) {
      if (!ReadKeyDouble(row, text, key, target)) target = fallback;
    };

    perHorizon("ksat", row.ksat, true, 0.0);
    perHorizon("theta_sat", row.theta_sat, true, 0.0);
    perHorizon("theta_res", row.theta_res, true, 0.0);
    perHorizon("alpha", row.alpha, true, 0.0);
    perHorizon("Par_n", row.Par_n, true, 0.0);
    perHorizon("thickness", row.thickness, true, 0.0);
    const double firstThickness = row.thickness[1];
    row.isArcVeg = ReadKeyDouble(row, text, "isArcVegType", row.isArcVegType) && row.isArcVegType != 0.0;
    single("EvapMaxDepth", row.EvapMaxDepth, firstThickness);
    single("ThicknessScaling", row.ThicknessScaling, 1.0);
    if (row.ThicknessScaling != 1.0 && log)
      *log << "INFO: Soil layers for soil type " << row.code << " will be scaled by a factor of "
           << row.ThicknessScaling << "[end-entry]";
    row.totalDepth = 0.0;
    for (size_t l = 0; l < row.thickness.size(); ++l) {
      row.thickness[l] *= row.ThicknessScaling;
      if (l > 0) row.totalDepth += row.thickness[l];
    }
    if (ReadGrainSizeDist(row, text)) {
      const auto& g = row.grainSize;
      const std::string where = "\nsoil type: " + std::to_string(row.code) + "\n" + text;
      if (!(g[0] > 0)) throw RowFailure{"FATAL: Grainsize distribution: fraction of sand must be > 0 " + where};
      for (size_t i = 1; i < g.size(); ++i)
        if (!(g[i] >= 0))
          throw RowFailure{
              "FATAL: Grainsize distribution: all grain size fractions must be >= 0 (sand must be >0)" + where};
      double sum = 0.0;
      for (double f : g) sum += f;
      if (!(std::fabs(sum - 1.0) <= 0.0001))
        throw RowFailure{"FATAL: Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be "
                         "1.0\n soil type: " +
                         std::to_string(row.code) + "\n" + text};
    }
    for (int i = 0; i <= 10; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "SU_PAR%.02d", i);
      single(key, row.SU_PAR[static_cast<size_t>(i)], 0.0);
    }
    row.psiFCUnassigned = !perHorizon("psi_FC", row.psi_FC, false, 200.0);
    perHorizon("Par_tau", row.Par_tau, false, 0.5);
    perHorizon("k_recession", row.k_recession, false, 1.0);
    single("PMacroThresh", row.PMacroThresh, 1000.0);
    single("MacroCapacity", row.MacroCapacity, 0.0);
    single("CapacityRedu", row.CapacityRedu, 1.0);
    single("MacroDepth", row.MacroDepth, 1.0);
    perHorizon("DryHeatCapacity", row.DryHeatCapacity, false, -1.0);
    perHorizon("DryDensity", row.DryDensity, false, -1.0);
    perHorizon("DryThermalConduct", row.DryThermalConduct, false, -1.0);
    if (ReadKeyDouble(row, text, "KMinFrozenSoil", row.KMinFrozenSoil))
      row.lnKMinFrozen = row.KMinFrozenSoil > 0 ? std::log(row.KMinFrozenSoil) : -27.631;
    row.PMacroThresh /= 3.6e6;
    row.MacroCapacity /= 3.6e6;
    single("maxratio", row.maxratio, 1000.0);
    single("FCap", row.FCap, 25.0);
    single("mSB", row.mSB, 35.0);
    single("ksat_vevurada", row.ksat_vevurada, 1e-5);
    single("suction", row.suction, 300.0);
    CheckFieldCapacity(row);
    row.mSBFCapDifference = (row.mSB - row.FCap) * 0.01;
    if (!perHorizon("Par_m", row.Par_m, false, 0.0))
      for (size_t l = 0; l < row.Par_m.size(); ++l) row.Par_m[l] = row.Par_n[l] != 0.0 ? 1.0 - 1.0 / row.Par_n[l] : 0.0;
    single("MaxInterflowDepth", row.MaxInterflowDepth, 2.0);

    CheckVanGenuchten(row);
    row.BuildTables();

    // Conductivity falls with the depth of each layer's centre below the top of its horizon,
    // down to MaxInterflowDepth below the surface.
    double depth = 0.0;
    size_t k = 0;
    bool deep = false;
    for (int j = 1; j <= H && !deep; ++j) {
      double z = 0.0;
      for (int q = 0; q < row.horizonLayers[static_cast<size_t>(j)]; ++q) {
        ++k;
        const double half = k == 1 ? row.thickness[1] / 2 : (row.thickness[k - 1] + row.thickness[k]) / 2;
        z = q == 0 ? row.thickness[k] / 2 : z + (row.thickness[k - 1] + row.thickness[k]) / 2;
        depth = k == 1 ? half : depth + half;
        if (depth > row.MaxInterflowDepth) {
          deep = true;
          break;
        }
        row.ksat[k] *= std::pow(row.k_recession[k], z);
      }
    }
  } catch (const RowFailure& f) {
    if (!f.message.empty()) Fatal(log, f.message);
    Fatal(log, "FATAL: Soil table code " + std::to_string(row.code) + ": some values could not be read\n" + text);
    throw 29;
  } catch (const std::exception& e) {
    Fatal(log, "FATAL: Soil table code " + std::to_string(row.code) + ": " + e.what());
    Fatal(log, "FATAL: Soil table code " + std::to_string(row.code) + ": some values could not be read\n" + text);
    throw 29;
  }
}

namespace {

// The values of an old line in their order, counted: a value more or less would have moved
// every later one by a place, so a line that ends early or holds more is refused naming the
// count and the format's values. The first word that no number begins ends the values; a
// remark may follow them.
class OldLine {
 public:
  OldLine(SoilTableEntry& row, const std::string& line, int mode)
      : row_(row), c_(tabletext::NumberCursor(line)), mode_(mode), format_(mode == 2 ? kLayeredFormat : kOldFormat) {
    ReadCodeAndName(row_, c_);
  }
  template <typename T>
  void Next(T& value, const char* what) {
    // Looked at without a move: a comma behind the value before, after blanks (" , "), is
    // its separator only while the cursor stands right behind that value.
    if (c_.PeekWord().empty()) throw RowFailure{tabletext::ValueCountText(RowText(row_), found_, format_)};
    try {
      ::Next(row_, c_, value, what);
    } catch (RowFailure& f) {
      if (!f.message.empty()) f.message += CommaBetweenDigitsNote(c_.NumberJustRefused());
      throw;
    }
    ++found_;
  }
  // Refuses numbers behind the values read (a word that begins like one counted too, "2,0"),
  // but the layered part of a line that this run does not read.
  void Complete() {
    int more = 0;
    for (double v = 0.0; c_.ReadDouble(v) || !c_.NumberJustRefused().empty(); ++more) {
      std::string word;
      if (!c_.NumberJustRefused().empty()) c_.ReadWord(word);
    }
    if (more == 0 || (mode_ != 2 && found_ + more == 15)) return;
    throw RowFailure{tabletext::ValueCountText(RowText(row_), found_ + more, format_) +
                     "; a remark after the values begins with a word or \"#\""};
  }

 private:
  SoilTableEntry& row_;
  TextCursor c_;
  int mode_;
  const char* format_;
  int found_ = 2;  // the code and the name
};

// The layered part of an old line (soil-model mode 2): method 1 (van Genuchten) with its
// four values for every layer, the number of layers, their thickness, maxratio and the k
// reduction; returns the layer thickness.
double ReadOldLayeredPart(SoilTableEntry& row, OldLine& values) {
  int method = 0;
  values.Next(method, "the method");
  row.method = method;
  if (method != 1)
    throw RowFailure{"FATAL: error reading soil parameters for soil type " + std::to_string(row.code) +
                     ": a row of the old form takes method 1 (van-Genuchten Parameter) only, not method " +
                     std::to_string(method) +
                     ".\nUse the new soil type table format (method = MultipleHorizons) for a layered profile instead."};
  double ts = 0, tr = 0, a = 0, n = 0, t = 0;
  int L = 0;
  values.Next(ts, "theta_sat");
  values.Next(tr, "theta_res");
  values.Next(a, "alpha");
  values.Next(n, "Par_n");
  values.Next(L, "the number of layers");
  if (L < 0 || L > SoilTableEntry::kMaxLayers) throw RowFailure{};
  row.layerCount = L;
  row.AllocateLayerArrays(false);
  for (int l = 0; l <= L; ++l) {
    const size_t i = static_cast<size_t>(l);
    row.theta_sat[i] = ts;
    row.theta_res[i] = tr;
    row.Par_m[i] = n != 0.0 ? 1.0 - 1.0 / n : 0.0;
    row.Par_n[i] = n;
    row.alpha[i] = a;
    row.Par_tau[i] = 0.5;
  }
  values.Next(t, "the layer thickness");
  values.Next(row.maxratio, "maxratio");
  values.Next(row.kReduction, "the k reduction");
  values.Complete();
  return t;
}

// The layers of an old line of thickness t: a top layer of 0.05 m, the second down to t,
// every further one t thick; the conductivity falls with depth by the k reduction down to
// 2 m and stays below.
void SetOldLayers(SoilTableEntry& row, double t, LogStream* log) {
  if (t < 0.1) {
    if (log) {
      *log << "FATAL: \nerror soil type " << row.code << ":\nthickness of single layers (here " << t
           << " m)\nhas to be at minimum twice as thick as the\nthickness of the top layer (here " << 0.05 << " m)"
           << "[end-entry]";
    }
    throw RowFailure{};
  }
  const int L = row.layerCount;
  const double kv = row.ksat_vevurada, kr = row.kReduction;
  if (L >= 1) {
    row.thickness[1] = 0.05;
    row.ksat[1] = kv * std::pow(kr, 0.025);
  }
  if (L >= 2) {
    row.thickness[2] = t - 0.05;
    row.ksat[2] = kv * std::pow(kr, 0.05 + 0.5 * (row.thickness[2] - 0.05));
  }
  for (int k = 3; k <= L; ++k) {
    const size_t i = static_cast<size_t>(k);
    row.thickness[i] = t;
    const double z = (k - 1.5) * t;
    row.ksat[i] = z <= 2.0 ? kv * std::pow(kr, z) : row.ksat[i - 1];
  }
}

}  // namespace

void SoilTableEntry::ReadOldFormat(SoilTableEntry& row, LogStream* log, const std::string& line, int mode,
                                   const std::string& where) {
  const std::string at = where.empty() ? std::string() : " (" + where + ")";
  try {
    // Without the layered part of soil-model mode 2 a line holds 6 values, or 15 with that
    // part, which such a run does not read.
    OldLine values(row, line, mode);
    values.Next(row.FCap, "FCap");
    values.Next(row.mSB, "mSB");
    values.Next(row.ksat_vevurada, "ksat_vevurada");
    values.Next(row.suction, "suction");
    CheckFieldCapacity(row);
    row.mSBFCapDifference = (row.mSB - row.FCap) * 0.01;
    if (mode != 2) {
      values.Complete();
      return;
    }
    const double t = ReadOldLayeredPart(row, values);
    row.thickness[0] = t;
    CheckVanGenuchten(row);
    row.BuildTables();
    SetOldLayers(row, t, log);
  } catch (const RowFailure& f) {
    if (!f.message.empty()) Fatal(log, f.message + at);
    Fatal(log, "FATAL: soil table code " + std::to_string(row.code) + ": some values could not be read\n" + line + at);
    throw 30;
  }
}

void defaultini::ReadSoilTable(int mode) {
  const int count = tabletext::ReadRowCount(*this, "[soil_table]", "number of soil types", true);
  soilTable.clear();
  soilTable.reserve(static_cast<size_t>(count) + 1);
  for (int i = 0; i <= count; ++i) soilTable.emplace_back(i);
  soilTable[0].code = count;
  for (int i = 1; i <= count; ++i) {
    SoilTableEntry& row = soilTable[static_cast<size_t>(i)];
    std::string text;
    const size_t from = controlFile.Pos();
    const long line = controlFile.LineNumber();
    bool complete = tabletext::NextLine(*this, text);
    const bool keyword = complete && (text.find("MultipleHorizons") != std::string::npos ||
                                      text.find("method") != std::string::npos || text.find('{') != std::string::npos);
    if (keyword) complete = tabletext::JoinEntry(*this, text);
    if (keyword)
      tabletext::ReportUnknownKeys(log, controlFile, ShownControlFile(), from, controlFile.Pos(), true, "[soil_table]",
                                   kKeywordKeys);
    if (!complete) {
      if (log)
        *log << "FATAL: [soil_table] in " << ShownControlFile() << ": the control file ends within soil type " << i
             << " of " << count << "[end-entry]";
      throw 30;
    }
    if (keyword)
      SoilTableEntry::ReadNewFormat(row, log, text, mode);
    else
      SoilTableEntry::ReadOldFormat(row, log, text, mode, controlFile.LineText(line, ShownControlFile()));
    if (i > 1) {
      const SoilTableEntry& previous = soilTable[static_cast<size_t>(i) - 1];
      if (row.layerCount != previous.layerCount) {
        if (log)
          *log << "FATAL: the numbers of soil layers has to be equal for all soil types\n(here: soil type " << row.code
               << ": " << row.layerCount << " layers, but soil type " << previous.code << ": " << previous.layerCount
               << " layers)\n\n" << "[end-entry]";
        throw 30;
      }
    }
  }

  if (!SeekControlKey("[GlobalSoilParameters]", false)) return;
  // Its two lines are read; a key in them or behind them that is none of the two is named.
  const size_t from = controlFile.Pos();
  tabletext::ReportUnknownKeys(log, controlFile, ShownControlFile(), from,
                               tabletext::SectionEnd(controlFile.Text(), from),
                               false, "[GlobalSoilParameters]", {"psi_FC_global", "usePsiFCglobalForUnassignedOnly"});
  std::string line, value;
  size_t at = std::string::npos;
  if (!tabletext::NextLine(*this, line) || (at = line.find("psi_FC_global")) == std::string::npos)
    ControlFileKeyError("[GlobalSoilParameters]", "psi_FC_global ");
  // A value that is no number reads as 0; one that begins like a number but is none of the
  // kind ends the run naming it.
  const tabletext::NumberReader global(
      log, "error in control file " + ShownControlFile() + ", [GlobalSoilParameters]",
      [this](const std::string& fatal) {
        if (log) *log << fatal << "[end-entry]";
        throw 17;
      },
      "[GlobalSoilParameters] in " + ShownControlFile());
  double psiFCGlobal = 0.0;
  if (!tabletext::ValueText(line, at, value)) value.clear();
  global.KeyValueOrZero(value, psiFCGlobal, "psi_FC_global", "a number");
  if (!tabletext::NextLine(*this, line) || (at = line.find("usePsiFCglobalForUnassignedOnly")) == std::string::npos)
    ControlFileKeyError("[GlobalSoilParameters]", "usePsiFCglobalForUnassignedOnly ");
  int unassignedOnly = 0;
  if (!tabletext::ValueText(line, at, value)) value.clear();
  global.KeyValueOrZero(value, unassignedOnly, "usePsiFCglobalForUnassignedOnly", "a whole number");
  for (size_t i = 1; i < soilTable.size(); ++i) soilTable[i].SetPsiFC(unassignedOnly, psiFCGlobal);
}
