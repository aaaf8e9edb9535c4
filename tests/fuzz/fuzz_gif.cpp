// Feeds arbitrary bytes as a GIF (behind the "GIF89a" signature) to the GIF decoder and to
// the grid reader, which decodes the pixels the model grid is sampled from, resamples and
// maps them onto the model grid.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "grid_fuzz_support.h"
#include "grids/gif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes = "GIF89a" + std::string(reinterpret_cast<const char*>(data), size);
  grid_fuzz::Instance().Read(bytes, 0);

  // The decoder alone, on screens small enough to decode every input quickly: whole, and
  // keeping every third row and every other column, which must keep the same pixels.
  GIFReader reader("fuzz.gif", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  int width, height;
  reader.ReadSize(width, height);
  if (width < 1 || height < 1 || static_cast<int64_t>(width) * height > (1 << 20)) return 0;
  MatrixOwner pixels(height, width);
  std::string whole, part;
  try {
    reader.Decode(pixels.get());
  } catch (const GifFormatError& e) {
    whole = e.what();
  }
  MatrixOwner kept((height + 2) / 3, (width + 1) / 2);
  std::vector<double*> rows(static_cast<size_t>(height) + 1, nullptr);
  std::vector<int> places(static_cast<size_t>(width) + 1, 0);
  for (int r = 1; r <= height; r += 3) rows[static_cast<size_t>(r)] = kept[(r + 2) / 3];
  for (int c = 1; c <= width; c += 2) places[static_cast<size_t>(c)] = (c + 1) / 2;
  try {
    reader.Decode(rows.data(), &places);
  } catch (const GifFormatError& e) {
    part = e.what();
  }
  if (part != whole) __builtin_trap();
  for (int r = 1; r <= height; r += 3)
    for (int c = 1; c <= width; c += 2)
      if (kept[(r + 2) / 3][(c + 1) / 2] != pixels[r][c]) __builtin_trap();
  return 0;
}
