// netCDF output of grids and grid series: one netCDF-4 file per output name, the grid
// as variable (time, x, y), one record per write along an unlimited time axis.
#include <netcdf>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/new_file.h"
#include "grids/grid_io_internal.h"
#include "grids/netcdf_grid_io.h"

using namespace netCDF;

namespace {

constexpr int kDeflateLevel = 3;

struct WriteFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void DefineCoordinate(NcFile& file, const char* name, const NcDim& dim, const char* standardName,
                      const char* axis, double nodata, const std::vector<double>& values) {
  NcVar v = file.addVar(name, ncDouble, dim);
  v.setCompression(false, true, kDeflateLevel);
  v.putAtt("standard_name", standardName);
  v.putAtt("units", "m");
  v.putAtt("axis", axis);
  v.putAtt("missing_value", ncDouble, nodata);
  v.putAtt("_FillValue", ncDouble, nodata);
  v.putVar(values.data());
}

void PutRecord(NcVar& data, NcVar& time, size_t record, bool dated, double timeValue, bool asDouble,
               const double* dv, const float* fv, int32_t nrows, int32_t ncols) {
  std::vector<size_t> at{record};
  if (dated) {
    time.putVar(at, timeValue);
  } else {
    time.putVar(at, static_cast<int>(record));
  }
  std::vector<size_t> start{record, 0, 0};
  std::vector<size_t> count{1, static_cast<size_t>(ncols), static_cast<size_t>(nrows)};
  if (asDouble)
    data.putVar(start, count, dv);
  else
    data.putVar(start, count, fv);
}

NcVar DefineDataVariable(NcFile& file, const std::string& variableName, bool asDouble, const NcDim& timeDim,
                         const NcDim& xDim, const NcDim& yDim, double nodata, double cellSize) {
  NcVar data = file.addVar(variableName, asDouble ? NcType(ncDouble) : NcType(ncFloat), {timeDim, xDim, yDim});
  if (asDouble) {
    data.putAtt("missing_value", ncDouble, nodata);
    data.putAtt("_FillValue", ncDouble, nodata);
  } else {
    data.putAtt("missing_value", ncFloat, static_cast<float>(nodata));
    data.putAtt("_FillValue", ncFloat, static_cast<float>(nodata));
  }
  data.setCompression(false, true, kDeflateLevel);
  data.putAtt("default_cellsize", ncDouble, cellSize);
  return data;
}

// First write of a file in this run: a new file with axes, coordinates and the variable.
void CreateFile(const NetcdfWriteOptions& o, bool asDouble, const double* dv, const float* fv,
                const std::string& fileName, const std::string& variableName, int32_t nrows, int32_t ncols,
                bool dated, double timeValue, double nodata, double cellSize) {
  // Build the file under a temporary name and move it into place when it is complete,
  // so that a failure never leaves a half-made file under the real name.
  // The library creates the file itself: whatever stands under the temporary name (a link,
  // a stale file) goes first, and the file is created exclusively ("no clobber"), so that
  // the library never opens a link planted there in between. A netCDF file is no stream a
  // device could take: one under the name is left as it is (ClearName refuses it).
  const OutputName output(fileName);
  const std::string& tmpName = output.Temporary();
  if (ClearName(tmpName) != 0) throw WriteFailure("cannot make " + tmpName + " (" + std::strerror(errno) + ")");
  try {
    NcFile file(tmpName, NcFile::newFile, NcFile::nc4);
    NcDim xDim = file.addDim("x", static_cast<size_t>(ncols));
    NcDim yDim = file.addDim("y", static_cast<size_t>(nrows));
    NcDim timeDim = file.addDim(dated ? "time" : "t");

    std::vector<double> xs(static_cast<size_t>(ncols)), ys(static_cast<size_t>(nrows));
    for (int32_t i = 0; i < ncols; ++i) xs[static_cast<size_t>(i)] = o.xOrigin + i * o.cellSize;
    for (int32_t j = 0; j < nrows; ++j) ys[static_cast<size_t>(j)] = o.yOrigin + (nrows - 1 - j) * o.cellSize;
    DefineCoordinate(file, "x", xDim, "projection_x_coordinate", "X", nodata, xs);
    DefineCoordinate(file, "y", yDim, "projection_y_coordinate", "Y", nodata, ys);

    NcVar time = file.addVar(dated ? "time" : "t", ncDouble, timeDim);
    if (dated) {
      time.putAtt("standard_name", "time");
      time.putAtt("long_name", "time");
      time.putAtt("axis", "T");
      time.putAtt("units", "minutes since 1970-01-01 01:00:00.0 +0100");
    }
    if (o.latitudesPresent && o.latitudes) {
      NcVar lat = file.addVar("lat", ncDouble, {xDim, yDim});
      lat.setCompression(false, true, kDeflateLevel);
      lat.putAtt("units", "degrees north");
      lat.putVar(o.latitudes);
    }
    if (o.longitudesPresent && o.longitudes) {
      NcVar lon = file.addVar("lon", ncDouble, {xDim, yDim});
      lon.setCompression(false, true, kDeflateLevel);
      lon.putAtt("units", "degrees east");
      lon.putVar(o.longitudes);
    }
    NcVar data = DefineDataVariable(file, variableName, asDouble, timeDim, xDim, yDim, nodata, cellSize);
    PutRecord(data, time, 0, dated, timeValue, asDouble, dv, fv, nrows, ncols);
  } catch (...) {  // the file is closed by now
    std::remove(tmpName.c_str());
    throw;
  }
  if (output.MoveIntoPlace() != 0) {
    std::remove(tmpName.c_str());
    throw WriteFailure("cannot rename " + tmpName + " to " + fileName);
  }
}

// Later write of a file created in this run: one more record.
void AppendRecord(bool asDouble, const double* dv, const float* fv, const std::string& fileName,
                  const std::string& variableName, int32_t nrows, int32_t ncols, bool dated, double timeValue,
                  double nodata, double cellSize, bool newVariable) {
  NcFile file(fileName, NcFile::write);
  const char* timeName = dated ? "time" : "t";
  NcDim timeDim = file.getDim(timeName);
  if (timeDim.isNull())
    throw WriteFailure(std::string("the file has no dimension \"") + timeName + "\"");
  NcVar time = file.getVar(timeName);
  NcVar data;
  if (newVariable) {
    // A second variable in a file made earlier in this run: it shares the axes and
    // starts with the file's current record.
    data = DefineDataVariable(file, variableName, asDouble, timeDim, file.getDim("x"), file.getDim("y"), nodata,
                              cellSize);
  } else {
    data = file.getVar(variableName);
  }
  if (time.isNull() || data.isNull())
    throw WriteFailure("variable \"" + variableName + "\" or its time axis is missing");
  PutRecord(data, time, timeDim.getSize(), dated, timeValue, asDouble, dv, fv, nrows, ncols);
}

}  // namespace

bool IsDatedNetcdfCall(int year, int month, int day, int hour, int minute) {
  return year >= 1 && month >= 1 && day >= 1 && hour >= 0 && minute >= 0;
}

bool NetcdfWriteOptions::HasWrittenFile(const std::string& fileName) const {
  for (const auto& f : writtenFiles)
    if (f == fileName) return true;
  return false;
}

bool NetcdfWriteOptions::HasWrittenVariable(const std::string& fileName, const std::string& variableName) const {
  for (const auto& p : writtenVariables)
    if (p.first == fileName && p.second == variableName) return true;
  return false;
}

std::string AddNcExtension(const std::string& fileName) {
  if (fileName.find(".nc") != std::string::npos) return fileName;
  return fileName + ".nc";
}

std::string GetNetcdfVariableName(const std::string& fileName) {
  std::string name = fileName;
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  size_t series = name.find("_timeseries");
  if (series != std::string::npos) name.erase(series);
  std::string out;
  out.reserve(name.size());
  for (char c : name)
    if (c != '_' && c != '-') out += c;
  return out;
}

void WriteNetcdfGrid(NetcdfWriteOptions& options, bool asDouble, const double* doubleValues,
                     const float* floatValues, const std::string& fileName, const std::string& variableName,
                     int32_t nrows, int32_t ncols, int year, int month, int day, int hour, int minute,
                     double nodata, double cellSize) {
  const bool dated = IsDatedNetcdfCall(year, month, day, hour, minute);
  const double timeValue = dated ? MinutesSinceEpoch(year, month, day, hour, minute) : 0.0;
  try {
    if (nrows < 1 || ncols < 1 || (asDouble ? doubleValues == nullptr : floatValues == nullptr))
      throw WriteFailure("no values to write");
    // A reader of this process may still hold the file open.
    NetcdfFileCache::CloseEverywhere(fileName);
    if (!options.HasWrittenFile(fileName)) {
      CreateFile(options, asDouble, doubleValues, floatValues, fileName, variableName, nrows, ncols, dated,
                 timeValue, nodata, cellSize);
      options.writtenFiles.push_back(fileName);
      options.writtenVariables.emplace_back(fileName, variableName);
    } else {
      bool known = options.HasWrittenVariable(fileName, variableName);
      AppendRecord(asDouble, doubleValues, floatValues, fileName, variableName, nrows, ncols, dated, timeValue,
                   nodata, cellSize, !known);
      if (!known) options.writtenVariables.emplace_back(fileName, variableName);
    }
  } catch (const std::exception& e) {
    // The library says "Permission denied" for a folder that is not there: name the folder.
    const std::string folder = FileOpenReason(fileName, true, 0);
    if (options.log)
      *options.log << "FATAL: error creating " << fileName << " for writing in netCDF: "
                   << (folder.empty() ? std::string(e.what()) : folder.substr(2, folder.size() - 3)) << "[end-entry]";
    throw kNetcdfErrorCode;
  }
}

NetcdfWriteOptions& NetcdfOptionsOf(modelobject& module) {
  if (!module.netcdfOptions) module.netcdfOptions = std::make_shared<NetcdfWriteOptions>(module.log);
  return *module.netcdfOptions;
}

namespace {

// A module grid flattened column after column; rows the module does not hold are nodata,
// and so are the cells outside the zone grid where one is given.
template <typename T>
void Flatten(double** grid, int32_t nrows, int32_t ncols, double nodata, std::vector<T>& out,
             double** zones = nullptr) {
  out.assign(static_cast<size_t>(nrows) * static_cast<size_t>(ncols), static_cast<T>(nodata));
  if (!grid) return;
  for (int32_t r = 1; r <= nrows; ++r) {
    const double* row = grid[r];
    if (!row) continue;
    const double* zone = zones ? zones[r] : nullptr;
    for (int32_t c = 1; c <= ncols; ++c)
      if (grid_io::InsideZone(zone, static_cast<size_t>(c), nodata))
        out[static_cast<size_t>(c - 1) * static_cast<size_t>(nrows) + static_cast<size_t>(r - 1)] =
            static_cast<T>(row[c]);
  }
}

}  // namespace

void WriteModuleGridNetcdf(modelobject& module, const std::string& fileName, double** grid, bool asDouble,
                           int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                           double** latitudeGrid, double** longitudeGrid) {
  const GridGeometry& g = module.geometry;
  NetcdfWriteOptions& o = NetcdfOptionsOf(module);
  o.SetGeometry(g.xllcorner, g.yllcorner, g.cellsize);
  std::vector<double> lat, lon;
  if (latitudeGrid) {
    Flatten(latitudeGrid, g.nrows, g.ncols, g.nodata_value, lat);
    o.SetLatitudes(lat.data());
  }
  if (longitudeGrid) {
    Flatten(longitudeGrid, g.nrows, g.ncols, g.nodata_value, lon);
    o.SetLongitudes(lon.data());
  }
  // The arrays above live for this call only: leave no dangling reference behind.
  struct Reset {
    NetcdfWriteOptions& o;
    ~Reset() {
      o.latitudes = nullptr;
      o.longitudes = nullptr;
    }
  } reset{o};
  auto field = [](int64_t v) { return v < -1 || v > 1000000 ? -1 : static_cast<int>(v); };
  const std::string ncName = AddNcExtension(fileName);
  const std::string variable = GetNetcdfVariableName(fileName);
  if (asDouble) {
    std::vector<double> values;
    Flatten(grid, g.nrows, g.ncols, g.nodata_value, values, grid_io::ZoneGridOf(module));
    WriteNetcdfGrid(o, true, values.data(), nullptr, ncName, variable, g.nrows, g.ncols, field(year),
                    field(month), field(day), field(hour), field(minute), g.nodata_value, g.cellsize);
  } else {
    std::vector<float> values;
    Flatten(grid, g.nrows, g.ncols, g.nodata_value, values, grid_io::ZoneGridOf(module));
    WriteNetcdfGrid(o, false, nullptr, values.data(), ncName, variable, g.nrows, g.ncols, field(year),
                    field(month), field(day), field(hour), field(minute), g.nodata_value, g.cellsize);
  }
}
