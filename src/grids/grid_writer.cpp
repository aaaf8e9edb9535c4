// Writing one grid as an ASCII grid, a binary grid in single or double precision, or a
// record of a netCDF file.
//
// ASCII and binary files are written to "name.tmp" and renamed when complete, so a
// reader never sees a half-written grid.
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/netcdf_grid_io.h"

namespace {

using grid_io::ActiveColumns;
using grid_io::PendingFile;

[[noreturn]] void CloseError(modelobject& o, const std::string& name) {
  if (o.log) *o.log << "FATAL: error closing " << name << "[end-entry]";
  throw 27;
}

// Sets the cells outside the active columns of every held row to nodata (the blanking of
// WriteGridDouble).
void BlankInactiveCells(const modelobject& o, double** grid) {
  const GridGeometry& g = o.geometry;
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid[r]) continue;
    int first, last;
    ActiveColumns(o, r, first, last);
    if (last < 1) {
      for (int c = 1; c <= g.ncols; ++c) grid[r][c] = g.nodata_value;
      continue;
    }
    for (int c = 1; c < first; ++c) grid[r][c] = g.nodata_value;
    for (int c = last + 1; c <= g.ncols; ++c) grid[r][c] = g.nodata_value;
  }
}

void HandToNetcdf(modelobject& o, const std::string& path, double** grid, bool asDouble, const int64_t date[5]) {
  const int lat = LatitudeGridPosition(o.grids), lon = LongitudeGridPosition(o.grids);
  double** latitude = lat > 0 ? o.grids[lat].data : nullptr;
  double** longitude = lon > 0 ? o.grids[lon].data : nullptr;
  WriteModuleGridNetcdf(o, path, grid, asDouble, date[0], date[1], date[2], date[3], date[4], latitude, longitude);
}

void WriteAscii(modelobject& o, const std::string& path, double** grid, bool doubleVariant) {
  const GridGeometry& g = o.geometry;
  PendingFile f(path, "w");
  if (!f) {
    if (o.log) *o.log << "FATAL: error creating " << path << " for writing in text mode." << "[end-entry]";
    throw 26;
  }
  if (std::fprintf(f.get(), "ncols\t%d\nnrows\t%d\nxllcorner\t%lf\nyllcorner\t%lf\ncellsize\t%lf\nnodata_value\t%lf\n",
                   g.ncols, g.nrows, g.xllcorner, g.yllcorner, g.cellsize, g.nodata_value) < 0)
    o.WriteError(path, 18);
  std::string line;
  char value[64];
  for (int r = 1; r <= g.nrows; ++r) {
    line.clear();
    for (int c = 1; c <= g.ncols; ++c) {
      // to_chars in general format with precision 6 prints exactly what "%g" prints.
      const double v = grid[r] ? grid[r][c] : (doubleVariant ? g.nodata_value : -9999.0);
      const std::to_chars_result res = std::to_chars(value, value + sizeof value, v, std::chars_format::general, 6);
      line.append(value, static_cast<size_t>(res.ptr - value));
      line.push_back(c < g.ncols ? '\t' : '\n');
    }
    if (std::fwrite(line.data(), 1, line.size(), f.get()) != line.size()) o.WriteError(path, 18);
  }
  if (!f.Commit()) CloseError(o, path);
}

template <typename T>
void WriteBinary(modelobject& o, const std::string& path, double** grid, bool doubleVariant) {
  const GridGeometry& g = o.geometry;
  PendingFile f(path, "wb");
  if (!f) {
    if (o.log) *o.log << "FATAL: error creating " << path << " for writing in binary mode." << "[end-entry]";
    throw 26;
  }
  o.binaryHeader = {static_cast<double>(g.ncols), static_cast<double>(g.nrows), g.xllcorner, g.yllcorner,
                    g.cellsize, g.nodata_value, 0, 0, 0, 0, 0, 0};
  T header[12];
  for (int i = 0; i < 12; ++i) header[i] = static_cast<T>(o.binaryHeader[static_cast<size_t>(i)]);
  if (std::fwrite(header, sizeof(T), 12, f.get()) != 12) o.WriteError(path, 18);

  o.ResetStatistics(g.nodata_value);
  std::vector<T> row(static_cast<size_t>(g.ncols));
  for (int r = 1; r <= g.nrows; ++r) {
    if (!grid[r]) {
      std::fill(row.begin(), row.end(), static_cast<T>(g.nodata_value));
    } else {
      int first, last;
      ActiveColumns(o, r, first, last);
      if (last < 1 && !doubleVariant) {
        first = 1;
        last = g.ncols;
      }
      const double* weights = o.relCellArea ? o.relCellArea[r] : nullptr;
      for (int c = first; c <= last; ++c) o.AddToStatistics(grid[r][c], weights ? weights[c] : 1.0);
      for (int c = 1; c <= g.ncols; ++c) row[static_cast<size_t>(c - 1)] = static_cast<T>(grid[r][c]);
    }
    if (std::fwrite(row.data(), sizeof(T), row.size(), f.get()) != row.size()) o.WriteError(path, 18);
  }
  double count, minimum, maximum, sum, mean, stddev;
  o.GetStatistics(count, minimum, maximum, sum, mean, stddev);
  o.binaryHeader[6] = count;
  o.binaryHeader[7] = minimum;
  o.binaryHeader[8] = maximum;
  o.binaryHeader[9] = sum;
  o.binaryHeader[10] = mean;
  o.binaryHeader[11] = stddev;
  T stats[6];
  for (int i = 0; i < 6; ++i) stats[i] = static_cast<T>(o.binaryHeader[static_cast<size_t>(6 + i)]);
  if (std::fseek(f.get(), static_cast<long>(6 * sizeof(T)), SEEK_SET) != 0 ||
      std::fwrite(stats, sizeof(T), 6, f.get()) != 6)
    o.WriteError(path, 18);
  if (!f.Commit()) CloseError(o, path);
}

void WriteOneGrid(modelobject& o, const std::string& fileName, double** grid, bool ascii, bool asDouble,
                  bool netcdf, const int64_t date[5], bool doubleVariant) {
  grid_io::SigintGuard sigint;
  const std::string path = MakePath(o.output.outputDirectory, fileName);
  if (!grid) {
    if (o.log) *o.log << "FATAL: cannot write grid " << path << ": no grid given" << "[end-entry]";
    throw 18;
  }
  if (netcdf) {
    HandToNetcdf(o, path, grid, asDouble, date);
    return;
  }
  if (doubleVariant) BlankInactiveCells(o, grid);
  if (ascii) {
    WriteAscii(o, path, grid, doubleVariant);
  } else if (asDouble) {
    WriteBinary<double>(o, path, grid, doubleVariant);
  } else {
    WriteBinary<float>(o, path, grid, doubleVariant);
  }
}

}  // namespace

void modelobject::WriteGrid(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf,
                            int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  const int64_t date[5] = {year, month, day, hour, minute};
  WriteOneGrid(*this, fileName, grid, ascii, asDouble, netcdf, date, false);
}

void modelobject::WriteGridDouble(const std::string& fileName, double** grid, bool ascii, bool asDouble,
                                  bool netcdf) {
  const int64_t date[5] = {-1, -1, -1, -1, -1};
  WriteOneGrid(*this, fileName, grid, ascii, asDouble, netcdf, date, true);
}
