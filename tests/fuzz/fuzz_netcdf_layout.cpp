// Builds a small, well-formed netCDF file whose layout the input chooses (dimension names
// and lengths, the data variable's type and dimension order, packing, fill and cell-size
// attributes, coordinate values) with ncgen, and reads it as a grid. The file's own bytes
// are the netCDF library's business; this target checks how the program copes with every
// layout the library accepts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "grids/netcdf_grid_io.h"

namespace {

struct Bytes {
  const uint8_t* p;
  size_t n;
  uint8_t Next() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

const char* Pick(Bytes& b, const std::vector<const char*>& options) { return options[b.Next() % options.size()]; }

std::string Number(Bytes& b) {
  static const std::vector<const char*> special = {"0", "-1", "1e+20", "-9999", "NaN", "0.5", "2", "-32767", "1e-30"};
  uint8_t k = b.Next();
  if (k < 64) return special[k % special.size()];
  return std::to_string(static_cast<int>(b.Next()) - 128 + static_cast<int>(k));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes b{data, size};
  const std::vector<const char*> names = {"x", "y", "t", "time", "lat", "lon", "xc", "yy"};
  const char* d0 = Pick(b, names);
  const char* d1 = Pick(b, names);
  const char* d2 = Pick(b, names);
  int n0 = b.Next() % 4, n1 = b.Next() % 5 + 1, n2 = b.Next() % 5 + 1;
  std::string dims = std::string(d0) + " = " + std::to_string(n0) + " ; ";
  if (std::string(d1) != d0) dims += std::string(d1) + " = " + std::to_string(n1) + " ; ";
  if (std::string(d2) != d0 && std::string(d2) != d1) dims += std::string(d2) + " = " + std::to_string(n2) + " ; ";
  const char* type = Pick(b, {"double", "float", "short", "int", "byte"});
  const int ndims = b.Next() % 4;
  std::string vdims = ndims == 0 ? "" : ndims == 1 ? d0 : ndims == 2 ? std::string(d0) + ", " + d1 : std::string(d0) + ", " + d1 + ", " + d2;
  std::string cdl = "netcdf f {\ndimensions: " + dims + "\nvariables:\n";
  cdl += std::string("  ") + type + " v" + (vdims.empty() ? "" : "(" + vdims + ")") + " ;\n";
  const uint8_t atts = b.Next();
  if (atts & 1) cdl += "  v:scale_factor = " + Number(b) + " ;\n";
  if (atts & 2) cdl += "  v:add_offset = " + Number(b) + " ;\n";
  if (atts & 4) cdl += "  v:missing_value = " + Number(b) + " ;\n";
  if (atts & 8) cdl += "  v:default_cellsize = " + Number(b) + " ;\n";
  if (atts & 16) cdl += "  v:_FillValue = " + Number(b) + (std::string(type) == "short" ? "s" : "") + " ;\n";
  if (atts & 32) cdl += std::string("  double ") + d1 + "(" + d1 + ") ;\n";
  if (atts & 64) cdl += std::string("  double ") + d2 + "(" + d2 + ") ;\n";
  cdl += "data:\n";
  if (atts & 32) {
    cdl += std::string("  ") + d1 + " = ";
    for (int i = 0; i < n1; ++i) cdl += (i ? ", " : "") + Number(b);
    cdl += " ;\n";
  }
  cdl += "}\n";

  static const std::string base = "/tmp/fuzz_nclayout_" + std::to_string(getpid());
  {
    std::FILE* f = std::fopen((base + ".cdl").c_str(), "w");
    if (!f) return 0;
    std::fputs(cdl.c_str(), f);
    std::fclose(f);
  }
  const std::string nc = base + ".nc";
  std::remove(nc.c_str());
  if (std::system(("ncgen -k nc4 -o " + nc + " " + base + ".cdl >/dev/null 2>&1").c_str()) != 0) return 0;

  static std::ostream quiet(nullptr);
  static LogStream log(quiet, "/dev/null", 0);
  NetcdfFileCache cache(&log);
  std::vector<double> values;
  std::string name = nc + "<v>" + std::to_string(b.Next() % 3);
  int32_t nrows = 2, ncols = 3, records = 0;
  double x0 = 0, y0 = 0, cs = 0, nodata = -9999;
  try {
    ReadNetcdfGrid(cache, values, name, nullptr, nrows, ncols, x0, y0, cs, nodata, records, -1, -1, -1, -1, -1, -1);
    if (values.size() != static_cast<size_t>(nrows) * static_cast<size_t>(ncols)) __builtin_trap();
    if (cs != -1.0 && !(cs > 0)) __builtin_trap();
  } catch (int) {
  }
  return 0;
}
