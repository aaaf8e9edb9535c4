// Feeds arbitrary text as an ASCII grid (behind the "ncols" that marks the format) to the
// grid reader: header, values, resampling of other geometries and hole filling must end in
// a grid or an error code.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grid_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int fillCode = data[0] % 3;
  std::string text = "ncols" + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  grid_fuzz::Instance().Read(text, fillCode);
  return 0;
}
