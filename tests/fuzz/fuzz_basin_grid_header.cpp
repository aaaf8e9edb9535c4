// Feeds arbitrary bytes as the zone grid to the start-up's header reader, which sets the
// model domain from the zone grid and the elevation model: ASCII headers (keywords in any
// case, corner or centre), float and double headers must end in a geometry whose cells
// the file can hold, or in an error code.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/orvel-header-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  const std::string path = folder + "/zones.grid";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  GridRegistry registry;
  int error = 0;
  defaultini d(error, nullptr, "fuzz.ctl", nullptr, 200, 1, registry.Records());
  d.standardGrids.resize(3);
  d.standardGrids[1].fileName = path;
  GridGeometry g;
  try {
    d.ReadGridHeader(g);
    // What is accepted is a usable domain that the file can fill.
    if (g.ncols < 1 || g.nrows < 1 || !(g.cellsize > 0.0) ||
        static_cast<double>(g.ncols) * static_cast<double>(g.nrows) > 2.0 * static_cast<double>(size) + 1.0)
      __builtin_trap();
  } catch (int code) {
    if (code != 21 && code != 22 && code != 23) __builtin_trap();
  }
  return 0;
}
