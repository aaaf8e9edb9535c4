// Writes the input to a temporary file and reads it as a time-series table with a small
// block, stepping through every row.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/timeseries_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_timeseries_" + std::to_string(getpid()) + ".txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    TimeSeriesTable t(path, 0, 64);
    int steps = 0;
    while (t.GetState() != TimeSeriesTable::kEnd && t.CurrentRow() < t.RowCount() && steps++ < 100000) {
      int y, m, d, h, mi;
      t.GetDate(y, m, d, h, mi);
      for (int64_t j = -1; j <= t.ColumnCount(); ++j) t.GetValue(j);
      t.Next();
    }
    t.ErrorPlace();
  } catch (int) {
  }
  return 0;
}
