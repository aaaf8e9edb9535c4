// Feeds arbitrary bytes as a binary grid in single or double precision to the grid
// reader. The no-data place of the header is forced to -9999 so that the bytes are taken
// as a binary grid; header sizes, file length and values come from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "grid_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool asDouble = data[0] & 1;
  const int fillCode = (data[0] >> 1) % 3;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if (asDouble && bytes.size() >= 48) {
    const double nodata = -9999.0;
    std::memcpy(&bytes[40], &nodata, sizeof nodata);
  } else if (!asDouble && bytes.size() >= 24) {
    const float nodata = -9999.0f;
    std::memcpy(&bytes[20], &nodata, sizeof nodata);
  }
  grid_fuzz::Instance().Read(bytes, fillCode);
  return 0;
}
