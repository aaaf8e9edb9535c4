#include "routing/reservoir.h"

#include <cmath>

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

// Moves the cursor behind the next key and the "=" after it; false when either is absent.
bool SeekKey(TextCursor& t, const std::string& key) {
  const std::string& s = t.Text();
  const size_t k = s.find(key, t.Pos());
  if (k == std::string::npos) return false;
  const size_t eq = s.find('=', k + key.size());
  if (eq == std::string::npos) return false;
  t.Seek(eq + 1);
  return true;
}

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
  LogStream* log = c_.log;
  const std::string who = "for reservoir " + std::to_string(number) + ": ";
  TextCursor t(entry);
  t.RequireWholeNumbers();  // "V0 = 1000000,5" is refused as a decimal comma, not read as 1000000
  auto required = [&](const std::string& key) {
    if (entry.find(key) == std::string::npos || !SeekKey(t, key))
      Fail(log, who + "no \"" + key + " =\" found!", 35);
  };
  auto refused = [&]() { return RefusedValue(t); };
  // A number behind a key's value that no key takes ("V0 = 1000000, 5") would be lost.
  auto nothingLost = [&](const std::string& key) {
    const std::string lost = ValueWithoutKey(entry, t.Pos());
    if (!lost.empty())
      Fail(log, who + "the word \"" + lost + "\" behind the value of \"" + key +
                    " =\" is neither a value after an \"=\" nor a key = value" + ValueWithoutKeyNote(),
           35);
  };
  auto number35 = [&](const std::string& key, double& x) {
    if (t.ReadDouble(x)) return nothingLost(key);
    const std::string read = refused();
    Fail(log,
         who + "the value of \"" + key + " =\" is not a " +
             (read.empty() ? "number" : "finite number: \"" + read + "\"" + CommaBetweenDigitsNote(read)),
         35);
  };

  required("file");
  std::string word;
  if (!t.ReadWord(word)) Fail(log, who + "no \"file =\" found!", 35);
  // A comma or semicolon behind the name separates it from the next key, as behind a number.
  if (word.size() > 1 && (word.back() == ',' || word.back() == ';')) word.pop_back();
  fileName = MakeFilePath(c_.outputDirectory, word);
  fileNameNote = AsWrittenNote(c_.outputDirectory, word, "a reservoir's file (\"file =\" of its SP entry)");

  double v0 = 0.0;
  required("V0");
  number35("V0", v0);
  if (v0 < 0.0) Fail(log, who + "the initial volume V0 must not be negative", 35);
  // Far above the volume of any lake, and far below where the balance's sums lose their digits.
  if (v0 > kLargestVolume)
    Fail(log, who + FormatText("the initial volume V0 = %g m3 is above %g m3, more than any lake holds", v0,
                               kLargestVolume),
         35);
  const size_t afterV0 = t.Pos();
  if (entry.find("A0") != std::string::npos && SeekKey(t, "A0")) number35("A0", A0);
  else t.Seek(afterV0);
  const size_t afterA0 = t.Pos();
  if (entry.find("W0") != std::string::npos && SeekKey(t, "W0")) number35("W0", W0);
  else t.Seek(afterA0);
  if (A0 < 0.0) Fail(log, who + FormatText("the initial area A0 = %g must not be negative", A0), 35);
  A = A0;
  W = W0;

  required("C0");
  double c0[9];
  int present = 0;
  while (present < 9 && t.ReadDouble(c0[present])) ++present;
  if (present < 9) {
    const std::string read = refused();
    Fail(log,
         who + "\"C0 =\" needs nine initial concentrations, " + std::to_string(present) + " found" +
             (read.empty() ? std::string() : " before \"" + read + "\", which is no finite number" +
                                                 CommaBetweenDigitsNote(read)),
         35);
  }

  const size_t afterC0 = t.Pos();
  if (entry.find("dTmin") != std::string::npos && SeekKey(t, "dTmin")) number35("dTmin", dTmin);
  else t.Seek(afterC0);
  if (!(dTmin >= 1.0)) Fail(log, who + "the sub-step length dTmin must be at least 1 s", 35);
  if (dTmin > 60.0 * c_.dt && log)
    *log << "WARNING: reservoir " << number << ": dTmin (" << dTmin << " s) is longer than the time step; "
         << "the reservoir releases nothing" << "[end-entry]";
  if (entry.find("UseRunningAvg") != std::string::npos && SeekKey(t, "UseRunningAvg")) {
    if (!t.ReadInt(useRunningAvg) || useRunningAvg < 0 || useRunningAvg > 87600)
      Fail(log, who + "\"UseRunningAvg =\" takes a whole number of hours 0..87600", 35);
    nothingLost("UseRunningAvg");
  }

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
