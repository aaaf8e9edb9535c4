#include "routing/reservoir.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "routing/routing_description.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

// Bytes of output rows a reservoir buffers before it writes them.
constexpr size_t kOutputBufferBytes = 2097152;

// The largest initial volume (m3): a million cubic kilometres.
constexpr double kLargestVolume = 1e15;

// The keys of one SP entry, read by name wherever they stand: each value is read from behind
// its key's "=", checked for a unit it does not take and for a number behind it that no key
// takes. Every failure is a FATAL naming the reservoir, code 35.
class ReservoirEntry {
 public:
  ReservoirEntry(int number, const std::string& entry, LogStream* log)
      : entry_(entry), log_(log), who_("for reservoir " + std::to_string(number) + ": "), t_(entry) {
    t_.RequireWholeNumbers();  // "V0 = 1000000,5" is refused as a decimal comma, not read as 1000000
    for (const EntryKey& k : EntryKeys(entry, 0, EntryEnd(entry, 0))) {
      const std::string key = ReservoirKeyOf(k.name);
      if (key.empty()) continue;  // named in a WARNING as the list is read
      auto done = keys_.emplace(key, k);
      if (!done.second) Fail(log_, who_ + KeyGivenTwiceText(entry, done.first->second, k), 35);
    }
  }
  [[noreturn]] void Refuse(const std::string& what) const { Fail(log_, who_ + what, 35); }
  // Moves behind the key's "="; false where the entry does not give the key (required: refused).
  bool Seek(const std::string& key, bool required) {
    auto it = keys_.find(key);
    if (it == keys_.end()) {
      if (required) Refuse("no \"" + key + " =\" found!");
      return false;
    }
    t_.Seek(it->second.value);
    return true;
  }
  // The word behind the key's "=" (required keys only); a comma or semicolon behind it
  // separates it from the next key, as behind a number.
  std::string Word(const std::string& key) {
    std::string word;
    if (!Seek(key, true) || !t_.ReadWord(word))
      Refuse("no \"" + key + " =\" found!");
    if (word.size() > 1 && (word.back() == ',' || word.back() == ';')) word.pop_back();
    // A bracket that closes the entry ("file = r.txt)") is no part of the name.
    if (word.size() > 1 && word.back() == ')' && std::count(word.begin(), word.end(), '(') <
                                                     std::count(word.begin(), word.end(), ')'))
      word.pop_back();
    return word;
  }
  // The number behind the key's "=", in unit (null: not checked); x keeps its value where
  // the entry does not give an optional key.
  void Number(const std::string& key, bool required, const char* unit, double& x) {
    if (!Seek(key, required)) return;
    if (!t_.ReadDouble(x)) {
      const std::string read = RefusedValue(t_);
      Refuse("the value of \"" + key + " =\" is not a " +
             (read.empty() ? std::string("number") : "finite number: " + NoNumberText(read)));
    }
    Behind(key, unit, x);
  }
  // Up to count numbers behind the key's "="; the count read.
  int Numbers(const std::string& key, double* values, int count) {
    Seek(key, true);
    int read = 0;
    while (read < count && t_.ReadDouble(values[read])) ++read;
    if (read == count) Behind(key, nullptr, 0.0);
    return read;
  }
  // The whole number behind an optional key's "=" within [0, most].
  void Whole(const std::string& key, int most, const char* what, int& x) {
    if (!Seek(key, false)) return;
    if (!t_.ReadInt(x) || x < 0 || x > most) Refuse("\"" + key + " =\" takes " + what);
    Behind(key, "h", x);
  }
  // The word that a number read refused ("0,5"), empty for none.
  std::string Refused() const { return RefusedValue(t_); }

 private:
  // What stands behind a value: a unit the key does not take, or a number that no key takes
  // ("V0 = 1000000, 5"), which would be lost, is refused; any other word is a remark.
  void Behind(const std::string& key, const char* unit, double x) {
    const std::string note = unit ? UnitMismatch(WordBehindValue(entry_, t_.Pos()), unit, x) : std::string();
    if (!note.empty()) Refuse("\"" + key + " = " + NumberText(x) + "\": " + note);
    const std::string lost = ValueWithoutKey(entry_, t_.Pos());
    if (!lost.empty())
      Refuse("the word \"" + lost + "\" behind the value of \"" + key +
             " =\" is neither a value after an \"=\" nor a key = value" + ValueWithoutKeyNote());
  }

  const std::string& entry_;
  LogStream* log_;
  std::string who_;
  TextCursor t_;
  std::map<std::string, EntryKey> keys_;
};

}  // namespace

void SP_class::SetParameters(const ReservoirContext& context) {
  c_ = context;
  state.assign(c_.tracers + 1, 0.0);
  previous.assign(c_.tracers + 1, 0.0);
}

std::string SP_class::MakeFilePath(const std::string& directory, const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('~') != std::string::npos || directory.empty()) return name;
  return directory + name;
}

std::string SP_class::AsWrittenNote(const std::string& directory, const std::string& name, const std::string& whose) {
  if (directory.empty() || MakeFilePath(directory, name) != name) return std::string();
  const std::string base = name.substr(name.find_last_of("/~") + 1);
  return "The name " + name + " of " + whose + " holds a \"" + (name.find('/') != std::string::npos ? "/" : "~") +
         "\", so it is used as written, from the working folder: DefaultOutputDirectory = " + directory +
         " of [output_interval] stands in front of a name without \"/\" and \"~\" only (" + base +
         " is written to " + directory + base + ")";
}

void SP_class::ReadParameters(int reservoir, const std::string& entry) {
  number = reservoir;
  ReservoirEntry keys(number, entry, c_.log);
  const std::string word = keys.Word("file");
  fileName = MakeFilePath(c_.outputDirectory, word);
  fileNameNote = AsWrittenNote(c_.outputDirectory, word, "a reservoir's file (\"file =\" of its SP entry)");

  double v0 = 0.0;
  keys.Number("V0", true, "m3", v0);
  if (v0 < 0.0) keys.Refuse("the initial volume V0 must not be negative");
  // Far above the volume of any lake, and far below where the balance's sums lose their digits.
  if (v0 > kLargestVolume)
    keys.Refuse(FormatText("the initial volume V0 = %g m3 is above %g m3, more than any lake holds", v0, kLargestVolume));
  keys.Number("A0", false, "m2", A0);
  keys.Number("W0", false, "m", W0);
  if (A0 < 0.0) keys.Refuse(FormatText("the initial area A0 = %g must not be negative", A0));
  A = A0;
  W = W0;

  double c0[9];
  const int present = keys.Numbers("C0", c0, 9);
  if (present < 9) {
    const std::string read = keys.Refused();
    keys.Refuse("\"C0 =\" needs nine initial concentrations, " + std::to_string(present) + " found" +
                (read.empty() ? std::string() : " before " + NoNumberText(read, ", which is no finite number")));
  }

  keys.Number("dTmin", false, "s", dTmin);
  if (!(dTmin >= 1.0)) keys.Refuse("the sub-step length dTmin must be at least 1 s");
  if (dTmin > 60.0 * c_.dt && c_.log)
    *c_.log << "WARNING: reservoir " << number << ": dTmin (" << dTmin << " s) is longer than the time step; "
            << "the reservoir releases nothing" << "[end-entry]";
  keys.Whole("UseRunningAvg", 87600, "a whole number of hours 0..87600", useRunningAvg);
  ResetState(v0, c0);
}

void SP_class::ResetState(double v0, const double* c0) {
  state.assign(c_.tracers + 1, 0.0);
  previous.assign(c_.tracers + 1, 0.0);
  state[0] = v0;
  V0 = v0;
  for (int k = 1; k <= c_.tracers && k <= 9; ++k) state[k] = c0[k - 1];
  const size_t rowBytes = 8 * static_cast<size_t>(c_.tracers + 35);
  rowCapacity = rowBytes > kOutputBufferBytes ? 1 : kOutputBufferBytes / rowBytes;
  rows.clear();
}

void SP_class::ReadAbstractionRules(TextCursor& controlFile) {
  const std::string header = "[abstraction_rule_reservoir_" + std::to_string(number) + "]";
  FindRuleSection(controlFile, header, c_.log);
  rules = ReadRuleTable(controlFile, header, c_.log);
  connection = ReadHydraulicConnection(controlFile, number, c_.log);
}

void SP_class::LinkLakeInputs(const LakeGrids& inputs) {
  LakeGrids& g = c_.grids;
  g.evaporation = inputs.evaporation;
  g.interceptionEvaporation = inputs.interceptionEvaporation;
  g.snowEvaporation = inputs.snowEvaporation;
  g.qDown = inputs.qDown;
  g.baseflow = inputs.baseflow;
}

void SP_class::AttachRegistry(ReservoirRegistry* registry) {
  registry_ = registry;
  if (registry_) (*registry_)[number] = ReservoirLevels{&W, &dV.m3s, &A};
}

void SP_class::AttachIndex(std::map<int, int>* connected) {
  connected_ = connected;
  if (connected_) (*connected_)[c_.zone] = connection.on ? 1 : 0;
}

double SP_class::WeightedMean(double a, double b, double wa, double wb) {
  const double s = std::fabs(wa) + std::fabs(wb);
  return s == 0.0 ? 0.0 : (std::fabs(wa) * a + std::fabs(wb) * b) / s;
}
