// Feeds arbitrary text to the readers of reservoirs and abstractions: the first part is a
// reservoir entry, the rest its rule section (with a hydraulic connection); the same text
// is then read as an abstraction entry and as the abstraction's rule section. Every input
// must end in a reservoir, an abstraction or an error code, never a crash. An abstraction
// creates its output file where its name says, so names that may leave the fuzzer's folder
// (a "/" or "~") are not read as an abstraction.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "framework/text_helpers.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\n');
  const std::string entry = text.substr(0, cut);
  const std::string rules = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  std::ostringstream console;
  LogStream log(console, QuietDiagnosticsFile(), 0);
  ReservoirContext ctx;
  ctx.log = &log;
  ctx.outputDirectory = "/nonexistent-dir/";
  try {
    SP_class sp;
    sp.SetParameters(ctx);
    sp.ReadParameters(1, entry);
    TextCursor control("[abstraction_rule_reservoir_1]\n" + rules);
    sp.ReadAbstractionRules(control);
    std::vector<AL_class*> none;
    sp.TimeStep(none, StepDate{2024, 3, 1, 5, 0}, 1.0, 60.0, 0.0);
  } catch (int) {
  }
  if (entry.find_first_of("/~") != std::string::npos) return 0;
  try {
    AL_class al;
    al.SetParameters(&log, 0, {}, "/nonexistent-dir/", 10.0, 1.0, 60.0, 0.0, 0.0);
    al.ReadParameters(entry, 1, StepDate{2024, 1, 1, 0, 0});
    TextCursor control("[abstraction_rule_abstraction_1]\n" + rules);
    al.ReadAbstractionRules(control);
    double result = 0.0;
    al.ApplyRule(nullptr, result, 3.0, StepDate{2024, 1, 1, 1, 0});
    al.ComputeAbstraction(5.0, StepDate{2024, 1, 1, 1, 0});
  } catch (int) {
  }
  return 0;
}
