// Feeds arbitrary preprocessed control-file text to the start-up's section readers: the
// output settings, both forms of [model_time] (up to the end date key), the basin and
// standard grid sections and [radiation_correction]. Each ends in values or in a
// control-file error code.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

// A control-file error, or an output folder that does not exist (26).
bool Expected(int code) { return code == 17 || code == 97 || code == 1301 || code == 12 || code == 26; }

template <typename F>
void Guarded(F&& f) {
  try {
    f();
  } catch (int code) {
    if (!Expected(code)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  GridRegistry registry;
  int error = 0;
  defaultini d(error, nullptr, "fuzz.ctl", nullptr, 200, 1, registry.Records());
  d.controlFile.SetText(text);
  d.controlFileOpen = true;
  RunValues v;
  Guarded([&] { d.ReadOutputSections(v); });
  for (int timestep : {0, 15}) {
    d.output.subHourTimeStep = timestep;
    Guarded([&] {
      // As the start-up does: the end date key is formed from what the reader accepted.
      d.ReadModelTime();
      d.SetEndDate(d.run.end.year, d.run.end.month, d.run.end.day, d.run.end.hour, d.run.end.minute);
    });
  }
  Guarded([&] { d.ReadStandardGrids(); });
  Guarded([&] { d.ReadRadiationCorrection(); });
  return 0;
}
