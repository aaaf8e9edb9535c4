// Feeds arbitrary text as the [variable_grids] section of a control file to the
// variable-grid reader on a small basin: every input must end in registered grids or an
// error code, never a crash. Grid files are looked up below a folder that does not exist,
// and names cannot be absolute, so rows that ask for a file to be read end in the grid
// reader's error without waiting.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "grids/grid_reader.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {
std::string ControlPath() {
  static std::string path = [] {
    char name[] = "/tmp/fuzz-variable-grids-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LogStream* log = [] {
    SetGridRetrySleeper([](int) {});
    static std::ofstream quiet("/dev/null");
    return new LogStream(quiet, QuietDiagnosticsFile(), 0);
  }();
  const std::string path = ControlPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  // No absolute names: a row must never make the reader open a device or a real file.
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& ch : text)
    if (ch == '/' || ch == '~') ch = '_';
  std::fputs("[variable_grids]\n", f);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);

  GridRegistry registry;
  int error = 0;
  defaultini d(error, log, path, nullptr, 0, 1, registry.Records());
  d.geometry.ncols = 3;
  d.geometry.nrows = 2;
  d.geometry.cellsize = 100;
  d.output.inputDirectory = "/nonexistent-fuzz-folder/";
  MatrixOwner zone(2, 3);
  d.RegisterGrid(1, "zones", zone.get(), nullptr, 0, "[zone_grid]", 0, 1, 2);
  d.standardGrids.resize(3);
  try {
    d.ReadVariableGrids();
  } catch (int) {
  }
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if (registry[p].registered) d.FreeGrid(p);
  return 0;
}
