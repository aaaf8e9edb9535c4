// Writes the input to a temporary file and reads it as a grid stack for a small model
// domain (3 x 2 cells, the no-data value -9999); every failure must be a reported code.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "framework/modelobject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_stack_" + std::to_string(getpid()) + ".stk";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  static std::ostream quiet(nullptr);
  static LogStream log(quiet, QuietDiagnosticsFile(), 0);
  modelobject o(&log, "");
  o.geometry.ncols = 3;
  o.geometry.nrows = 2;
  o.geometry.xllcorner = 0;
  o.geometry.yllcorner = 0;
  o.geometry.cellsize = 1;
  o.geometry.nodata_value = -9999;
  double*** stack = nullptr;
  try {
    int n = o.ReadStack(path, stack, 1);
    volatile double sum = 0;
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c)
        for (int l = 0; l <= n; ++l) sum = sum + stack[r][c][l];
  } catch (int) {
  }
  o.Free3DMatrix(stack);
  return 0;
}
