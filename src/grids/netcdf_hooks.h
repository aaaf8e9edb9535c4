// The two calls through which the grid reader and the grid writers reach the netCDF
// layer. The netCDF layer defines both; the weak defaults in grid_reader.cpp and
// grid_writer.cpp only report that netCDF grids cannot be handled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class modelobject;

// One grid read from a netCDF file: ncols * nrows values column after column (west to
// east), each column north to south, with the geometry the file gives.
struct NetcdfGridRead {
  std::vector<double> values;
  int ncols = 0;
  int nrows = 0;
  double xOrigin = 0.0;    // the file's first x coordinate
  double yOrigin = 0.0;    // the file's first y coordinate
  double cellsize = -1.0;
  double nodata = -9999.0;
  int recordCount = 0;
};

// Reads the grid named by name ("file.nc" or "file.nc<var>step", already joined with the
// input directory) for the calling object, choosing the record by the object's step date
// when the name gives none. Failures are reported on the object's log and thrown.
bool ReadNetcdfGridForReader(modelobject& caller, const std::string& name, NetcdfGridRead& out);

// One grid handed from WriteGrid / WriteGridDouble to the netCDF writer.
struct NetcdfGridHandOver {
  std::string ncFileName;  // the joined file name, ".nc" appended unless it holds ".nc"
  std::string sourceName;  // the joined file name as given (the variable name derives from it)
  const double* values = nullptr;     // ncols * nrows values, column after column
  const double* latitude = nullptr;   // same order, or null
  const double* longitude = nullptr;  // same order, or null
  int nrows = 0;
  int ncols = 0;
  bool asDouble = false;
  int64_t year = -1, month = -1, day = -1, hour = -1, minute = -1;
  double xllcorner = 0.0, yllcorner = 0.0, cellsize = 0.0, nodata = -9999.0;
};

void WriteNetcdfGridForWriter(modelobject& caller, const NetcdfGridHandOver& grid);
