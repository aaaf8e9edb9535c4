// Writes the input to a temporary file and reads it as a time-series table with a small
// block, stepping through every row; then steps through it again as the readers that must
// not take a broken row for the end of the file do: the same rows, then that row exactly
// when the file is broken there.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/timeseries_table.h"
#include "fuzz_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_timeseries_" + std::to_string(getpid()) + ".txt";
  if (!WriteWhole(path, std::string(reinterpret_cast<const char*>(data), size))) return 0;
  constexpr int kLimit = 100000;
  try {
    TimeSeriesTable t(path, 0, 64);
    int steps = 0;
    while (t.GetState() != TimeSeriesTable::kEnd && t.CurrentRow() < t.RowCount() && steps < kLimit) {
      ++steps;
      int y, m, d, h, mi;
      t.GetDate(y, m, d, h, mi);
      for (int64_t j = -1; j <= t.ColumnCount(); ++j) t.GetValue(j);
      t.Next();
    }
    t.ErrorPlace();

    TimeSeriesTable k(path, 0, 64);
    int rows = 0;
    for (; !k.AtUnreadableRow() && k.GetState() != TimeSeriesTable::kEnd && k.CurrentRow() < k.RowCount() &&
           rows < kLimit;
         k.NextKeepingError())
      ++rows;
    if (steps < kLimit && rows != steps) std::abort();
    if (rows < kLimit && k.AtUnreadableRow() == k.ErrorPlace().empty()) std::abort();
    if (k.AtUnreadableRow() && k.RowsBeforeBlock() + k.RowCount() != rows) std::abort();
  } catch (int) {
  }
  return 0;
}
