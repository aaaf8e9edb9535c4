// Feeds arbitrary text to the [landuse_table] reader and evaluates every row it accepts
// over the year at a few altitudes. Reading ends in rows or in error codes 17 and 29;
// the day values in rows or in codes 150 to 155.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "framework/text_helpers.h"
#include "tables/landuse_table.h"

namespace {

template <typename F>
void Guarded(F&& f, int low, int high, int other = 0) {
  try {
    f();
  } catch (int code) {
    if ((code < low || code > high) && code != other) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Messages go nowhere: a stream without a buffer drops what it is given.
  static std::ostream sink(nullptr);
  static LogStream* log = new LogStream(sink, QuietDiagnosticsFile(), 0);
  const std::string text(reinterpret_cast<const char*>(data), size);
  TextCursor cursor(text);
  std::vector<LanduseTableEntry> table;
  Guarded([&] { table = ReadLanduseSection(log, cursor, 1); }, 29, 29, 17);
  for (size_t r = 1; r < table.size(); ++r) {
    const LanduseTableEntry& e = table[r];
    for (double altitude : {0.0, 400.0, 2500.0}) {
      for (int day : {-5, 1, 59, 60, 183, 365, 366, 400}) {
        Guarded([&] { e.GetLeafAreaIndexAtDay(log, day, 1, 1, 1, altitude); }, 150, 155);
        Guarded([&] { e.GetRootDepthAtDay(log, day, 1, 1, 1, altitude); }, 150, 155);
        Guarded([&] { e.GetSurfaceCanopyResistanceAtDay(log, day, 1, 1, 1, altitude); }, 150, 155);
        Guarded([&] { e.GetVegetationPeriodDayAtDay(log, day, 1, 1, 1, altitude); }, 150, 155);
        Guarded([&] { e.GetVegetationStopDayAtDay(log, day, 1, 1, 1, altitude); }, 150, 155);
        Guarded([&] { e.GetNFactorAtDay(log, day); }, 150, 155);
      }
      Guarded([&] { e.GetAlbedo(log, 29, 2, 2024, 1, 1, 1, altitude); }, 150, 155);
      Guarded([&] { e.GetSurfaceIntercepResistance(log, 31, 12, 2023, 1, 1, 1, altitude); }, 150, 155);
    }
    Guarded([&] { table[r].SetPhenologyStartDate(1, 7, 2023); }, 150, 150);
  }
  return 0;
}
