// The netCDF layer's side of the two calls of the grid reader and the grid writers.
#include "grids/netcdf_hooks.h"

#include <vector>

#include "framework/modelobject.h"
#include "grids/netcdf_grid_io.h"

namespace {

int DateField(int64_t v) { return v < -1 || v > 1000000 ? -1 : static_cast<int>(v); }

}  // namespace

bool ReadNetcdfGridForReader(modelobject& caller, const std::string& name, NetcdfGridRead& out) {
  const GridGeometry& g = caller.geometry;
  const ModelDate& d = caller.stepDate;
  std::string fileName = name;
  int32_t nrows = g.nrows, ncols = g.ncols, records = 0;
  double x0 = g.xllcorner, y0 = g.yllcorner, cellSize = -1.0, nodata = g.nodata_value;
  ReadNetcdfGrid(NetcdfCacheOf(caller), out.values, fileName, nullptr, nrows, ncols, x0, y0, cellSize, nodata,
                 records, -1, DateField(d.year), DateField(d.month), DateField(d.day), DateField(d.hour),
                 DateField(d.minute));
  // Fill cells carry the file's no-data value: hand them over as the model's.
  for (double& v : out.values)
    if (v == nodata) v = g.nodata_value;
  out.nrows = nrows;
  out.ncols = ncols;
  out.xOrigin = x0;
  out.yOrigin = y0;
  out.cellsize = cellSize;
  out.nodata = g.nodata_value;
  out.recordCount = records;
  return true;
}

void WriteNetcdfGridForWriter(modelobject& caller, const NetcdfGridHandOver& grid) {
  NetcdfWriteOptions& o = NetcdfOptionsOf(caller);
  o.SetGeometry(grid.xllcorner, grid.yllcorner, grid.cellsize);
  if (grid.latitude) o.SetLatitudes(grid.latitude);
  if (grid.longitude) o.SetLongitudes(grid.longitude);
  struct Reset {
    NetcdfWriteOptions& o;
    ~Reset() {
      o.latitudes = nullptr;
      o.longitudes = nullptr;
    }
  } reset{o};
  const std::string variable = GetNetcdfVariableName(grid.sourceName);
  const size_t n = static_cast<size_t>(grid.nrows > 0 ? grid.nrows : 0) * static_cast<size_t>(grid.ncols > 0 ? grid.ncols : 0);
  if (grid.asDouble) {
    WriteNetcdfGrid(o, true, grid.values, nullptr, grid.ncFileName, variable, grid.nrows, grid.ncols,
                    DateField(grid.year), DateField(grid.month), DateField(grid.day), DateField(grid.hour),
                    DateField(grid.minute), grid.nodata, grid.cellsize);
  } else {
    std::vector<float> values(n);
    for (size_t i = 0; i < n && grid.values; ++i) values[i] = static_cast<float>(grid.values[i]);
    WriteNetcdfGrid(o, false, nullptr, grid.values ? values.data() : nullptr, grid.ncFileName, variable, grid.nrows,
                    grid.ncols, DateField(grid.year), DateField(grid.month), DateField(grid.day),
                    DateField(grid.hour), DateField(grid.minute), grid.nodata, grid.cellsize);
  }
}
