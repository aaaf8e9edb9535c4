// Feeds arbitrary bytes as the zone grid to the start-up's header reader, which sets the
// model domain from the zone grid and the elevation model: ASCII headers (keywords in any
// case, corner or centre), float and double headers must end in a geometry whose cells
// the file can hold, netCDF files in the place their coordinates give (at most the 2^28
// cells of one netCDF grid: compressed data may hold more cells than bytes), or in an error
// code.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "grids/grid_reader.h"
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
  // The run's start: a netCDF zone grid is read as the initial state, the record before it.
  d.output.runStart.year = 1985, d.output.runStart.month = 1, d.output.runStart.day = 1, d.output.runStart.hour = 1;
  d.output.runStart.minute = 0;
  const bool netcdf = DetectGridFormat(std::string(reinterpret_cast<const char*>(data), size < 96 ? size : 96)) ==
                      GridFileFormat::Netcdf;
  const double most = netcdf ? 268435456.0 : 2.0 * static_cast<double>(size) + 1.0;
  GridGeometry g;
  try {
    d.ReadGridHeader(g);
    // What is accepted is a usable domain that the file can fill.
    if (g.ncols < 1 || g.nrows < 1 || !(g.cellsize > 0.0) || !std::isfinite(g.xllcorner) ||
        !std::isfinite(g.yllcorner) || static_cast<double>(g.ncols) * static_cast<double>(g.nrows) > most)
      __builtin_trap();
  } catch (int code) {
    // 26 and 1100: the netCDF reader's codes.
    if (code != 21 && code != 22 && code != 23 && code != 26 && code != 1100) __builtin_trap();
  }
  return 0;
}
