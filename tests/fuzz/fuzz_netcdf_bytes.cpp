// Feeds arbitrary bytes as a netCDF file to the netCDF grid reader: the check of the
// file's signature and header must refuse what the library cannot read safely, and what
// it lets through must end in a grid or an error code.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "grids/netcdf_file_check.h"
#include "grids/netcdf_grid_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/orvel-netcdf-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string problem = NetcdfBytesProblem(bytes);
  const std::string path = folder + "/input.nc";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (NetcdfFileProblem(path) != problem) __builtin_trap();  // the file check sees the same bytes

  std::ostringstream console;
  LogStream log(console, QuietDiagnosticsFile(), 0);
  NetcdfFileCache cache(&log);
  std::vector<double> values;
  std::string name = path, variable;
  int32_t nrows = 0, ncols = 0, records = 0;
  double x = 0, y = 0, cell = 0, nodata = -9999.0;
  try {
    ReadNetcdfGrid(cache, values, name, &variable, nrows, ncols, x, y, cell, nodata, records, 0, 2001, 1, 1, 0, 0);
  } catch (int) {
  }
  return 0;
}
