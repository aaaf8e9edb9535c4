// Feeds arbitrary preprocessed control-file text to the [SpinUp] reader on a small basin
// with a zone grid, an elevation model and a land-use grid. Each input ends in response
// units or in one of the reader's error codes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

bool Expected(int code) {
  return code == 17 || code == 33 || code == 1030 || code == 1031 || code == 12 || code == 18;
}

std::string WorkDirectory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/fuzz_spinup_XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? std::string(made) + "/" : std::string("/tmp/");
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = WorkDirectory();
  const std::string control = dir + "spinup.ctl";
  if (FILE* f = std::fopen(control.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  GridRegistry registry;
  int error = 0;
  defaultini d(error, nullptr, control, nullptr, 200, 1, registry.Records());
  d.geometry = GridGeometry{3, 2, 0.0, 0.0, 100.0, -9999.0};
  d.output.outputDirectory = dir;
  const double values[3][2][3] = {{{1, 1, -9999}, {1, 2, 2}},
                                  {{1234.5, -16, 1e6}, {-9999, 0.5, 9999}},
                                  {{3, 3, 4}, {-9999, 3, 1e300}}};
  const char* names[3] = {"[zone_grid]", "[elevation_model]", "landuse"};
  for (int p = 1; p <= 3; ++p) {
    double** g = d.NewOwnedGrid(1, 2);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) g[r][c] = values[p - 1][r - 1][c - 1];
    d.Register(p, dir + names[p - 1], g, names[p - 1], 0);
  }
  int spinUp = 0, pre = 0, repeat = 0;
  std::unique_ptr<HruList> hrus;
  try {
    d.CreateHRUs(spinUp, pre, repeat, hrus);
  } catch (int code) {
    if (!Expected(code)) __builtin_trap();
  }
  return 0;
}
