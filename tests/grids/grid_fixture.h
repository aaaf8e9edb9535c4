// A module object on a small model domain with its own registry, log and folder, for the
// tests of the grid store.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/modelobject.h"
#include "grids/grid_registry.h"
#include "support/test_support.h"

struct GridModule {
  CapturedLog log;
  TempDir dir;
  GridRegistry registry;
  modelobject obj;

  GridModule(int ncols, int nrows, double xll = 1000.0, double yll = 2000.0, double cellsize = 100.0) {
    obj.log = &log.log();
    obj.name = "test_module";
    obj.grids = registry.Records();
    obj.geometry.ncols = ncols;
    obj.geometry.nrows = nrows;
    obj.geometry.xllcorner = xll;
    obj.geometry.yllcorner = yll;
    obj.geometry.cellsize = cellsize;
    obj.geometry.nodata_value = -9999.0;
    obj.output.outputDirectory = dir.path() + "/";
    obj.output.inputDirectory = dir.path() + "/";
  }

  std::string file(const std::string& name) const { return dir.file(name); }

  // A model-sized matrix with value(r, c) in every cell.
  MatrixOwner Grid(const std::function<double(int, int)>& value) const {
    MatrixOwner m(obj.geometry.nrows, obj.geometry.ncols);
    for (int r = 1; r <= obj.geometry.nrows; ++r)
      for (int c = 1; c <= obj.geometry.ncols; ++c) m[r][c] = value(r, c);
    return m;
  }

  // Runs f and returns the error code it throws (0 when it throws none).
  static int CodeOf(const std::function<void()>& f) {
    try {
      f();
    } catch (int code) {
      return code;
    }
    return 0;
  }
};

inline std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

template <typename T>
inline std::string Raw(const std::vector<T>& values) {
  return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}
