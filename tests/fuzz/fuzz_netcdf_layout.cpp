// Builds a small, well-formed netCDF file whose layout the input chooses (dimension names
// and lengths, the data variable's type and dimension order, packing, fill and cell-size
// attributes, coordinate and cell values) with ncgen, and reads it as a field and onto a
// model grid. The file's own bytes are the netCDF library's business; this target checks
// how the program copes with every layout the library accepts.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "grid_fuzz_support.h"
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
  static const std::vector<const char*> special = {"0",   "-1",     "1e+20", "-9999",    "NaN",
                                                   "0.5", "2",      "-32767", "1e-30", "Infinity"};
  uint8_t k = b.Next();
  if (k < 64) return special[k % special.size()];
  return std::to_string(static_cast<int>(b.Next()) - 128 + static_cast<int>(k));
}

// Values of a coordinate variable: numbers one by one, or evenly spaced from an origin
// (the model grid's corner or cell centre, 50 km away, NaN) by a step.
std::string Coordinate(Bytes& b, const char* name, int n) {
  std::string values;
  if (b.Next() % 2 == 0) {
    for (int i = 0; i < n; ++i) values += (i ? ", " : "") + Number(b);
  } else {
    const double origin = std::strtod(Pick(b, {"100", "105", "230", "235", "50100", "NaN", "200", "205"}), nullptr);
    const double step = std::strtod(Pick(b, {"10", "-10", "5", "0"}), nullptr);
    for (int i = 0; i < n; ++i) values += (i ? ", " : "") + (std::isnan(origin) ? std::string("NaN") : std::to_string(origin + i * step));
  }
  return std::string("  ") + name + " = " + values + " ;\n";
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
  if (atts & 32) cdl += Coordinate(b, d1, n1);
  if (atts & 64) cdl += Coordinate(b, d2, n2);
  if (atts & 128) {
    cdl += "  v = ";
    for (int i = 0, n = std::max(n0, 1) * n1 * n2; i < n; ++i) cdl += (i ? ", " : "") + Number(b);
    cdl += " ;\n";
  }
  cdl += "}\n";

  static const std::string base = "/tmp/fuzz_nclayout_" + std::to_string(getpid());
  // The module below keeps the files it read open; the file is made anew.
  NetcdfFileCache::CloseEverywhere(base + ".nc");
  {
    std::FILE* f = std::fopen((base + ".cdl").c_str(), "w");
    if (!f) return 0;
    std::fputs(cdl.c_str(), f);
    std::fclose(f);
  }
  const std::string nc = base + ".nc";
  std::remove(nc.c_str());
  if (std::system(("ncgen -k nc4 -o " + nc + " " + base + ".cdl >/dev/null 2>&1").c_str()) != 0) return 0;

  // One quiet log for the process.
  grid_fuzz::Module& m = grid_fuzz::Instance();
  NetcdfFileCache cache(&m.quiet.log);
  std::vector<double> values;
  std::string name = nc + "<v>" + std::to_string(b.Next() % 3);
  int32_t nrows = 2, ncols = 3, records = 0;
  double x0 = 0, y0 = 0, cs = 0, nodata = -9999;
  try {
    ReadNetcdfGrid(cache, values, name, nullptr, nrows, ncols, x0, y0, cs, nodata, records, -1, -1, -1, -1, -1, -1);
    // The cell size is returned as the file gives it (placing by coordinates checks it).
    if (values.size() != static_cast<size_t>(nrows) * static_cast<size_t>(ncols)) __builtin_trap();
  } catch (int) {
  }
  // The same file read onto the model grid (5 columns, 4 rows, lower-left corner 100/200,
  // cells of 10): during the run or at the start-up, with or without a georeference.
  const uint8_t how = b.Next();
  m.obj.SetPosition(0, how & 1 ? 100.0 : 9999.0, how & 1 ? 200.0 : 9999.0, how & 1 ? 10.0 : 9999.0);
  double** grid = nullptr;
  try {
    if (how & 2)
      m.obj.ReadBasinGrid(name + "<v>" + std::to_string(how >> 2 & 1), grid, 0, true, false, false, 0.0);
    else
      m.obj.ReadGrid(name + "<v>" + std::to_string(how >> 2 & 1), grid, 0, true, false, false, 0.0);
  } catch (int) {
  }
  MatrixOwner owner(grid);
  return 0;
}
