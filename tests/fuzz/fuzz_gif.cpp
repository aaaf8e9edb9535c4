// Feeds arbitrary bytes as a GIF (behind the "GIF89a" signature) to the GIF decoder and to
// the grid reader, which decodes, resamples and maps the image onto the model grid.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "grid_fuzz_support.h"
#include "grids/gif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes = "GIF89a" + std::string(reinterpret_cast<const char*>(data), size);
  grid_fuzz::Instance().Read(bytes, 0);

  // The decoder alone, on screens small enough to decode every input quickly.
  GIFReader reader("fuzz.gif", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  int width, height;
  reader.ReadSize(width, height);
  if (width < 1 || height < 1 || static_cast<int64_t>(width) * height > (1 << 20)) return 0;
  MatrixOwner pixels(height, width);
  try {
    reader.Decode(pixels.get());
  } catch (const GifFormatError&) {
  }
  return 0;
}
