// netCDF grids: the writer of grids and grid series (one record per write along an
// unlimited time axis) and the reader of single 2-D fields by file, variable and record,
// with a per-module cache of open files.
//
// This header uses plain types only: the netCDF library is seen by the netcdf_*.cpp files
// of this folder and nowhere else.
//
// Value order shared by reader and writer: a flat array of ncols * nrows values, column
// after column (west to east), each column from row 1 (north) to row nrows (south); the
// element of grid (row, column) sits at index (column - 1) * nrows + (row - 1).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/model_date.h"

class LogStream;
class modelobject;

// Error codes of the netCDF layer.
constexpr int kNetcdfErrorCode = 26;        // library failure, variable missing
constexpr int kNetcdfFormatErrorCode = 22;  // unexpected dimensions, bad cell size
constexpr int kNetcdfTooManyFilesCode = 1100;
// Files one cache keeps open at most.
constexpr size_t kMaxNetcdfOpenFiles = 1000;
// The record of an initial state, asked for with the date of the run's first step: the
// record of the latest time before that date (the end of the step before it), or the last
// record of a file without dates.
constexpr int32_t kInitialStateRecord = -2;

// The writer state of one module: geometry of the coordinate axes, optional latitude and
// longitude arrays, and which files and variables this module created in this run (the
// first write of a file creates it, every later write appends one record).
class NetcdfWriteOptions {
 public:
  explicit NetcdfWriteOptions(LogStream* log = nullptr) : log(log) {}

  void SetGeometry(double x, double y, double size) {
    xOrigin = x;
    yOrigin = y;
    cellSize = size;
  }
  // ncols * nrows values in the order of the data; not owned. A flag once set stays set.
  void SetLatitudes(const double* values) {
    latitudes = values;
    latitudesPresent = true;
  }
  void SetLongitudes(const double* values) {
    longitudes = values;
    longitudesPresent = true;
  }
  bool HasWrittenFile(const std::string& fileName) const;
  bool HasWrittenVariable(const std::string& fileName, const std::string& variableName) const;

  double xOrigin = 0.0;
  double yOrigin = 0.0;
  double cellSize = 1.0;
  LogStream* log = nullptr;
  bool latitudesPresent = false;
  bool longitudesPresent = false;
  const double* latitudes = nullptr;
  const double* longitudes = nullptr;
  std::vector<std::string> writtenFiles;
  std::vector<std::pair<std::string, std::string>> writtenVariables;
  // netCDF stacks that were written a second time in this run (warned once each).
  std::set<std::string> restackedFiles;
};

// The files one module has opened for reading, kept open until the cache is destroyed.
// Every live cache is known process-wide, so that the writer can close a file that any
// cache holds before it re-creates or extends it (HDF5 refuses a second open).
class NetcdfFileCache {
 public:
  explicit NetcdfFileCache(LogStream* log = nullptr);
  ~NetcdfFileCache();  // closes every open file
  NetcdfFileCache(const NetcdfFileCache&) = delete;
  NetcdfFileCache& operator=(const NetcdfFileCache&) = delete;

  size_t OpenFileCount() const { return files_.size(); }
  bool IsOpen(const std::string& fileName) const;
  // Closes the file if this cache holds it.
  void Close(const std::string& fileName);
  // Closes the file in every live cache of the process.
  static void CloseEverywhere(const std::string& fileName);

  LogStream* log = nullptr;
  bool hasTimeAxis = false;  // the current file has a dimension whose name contains "time"
  // The coordinate variable "x" or "y" of the field read last, as the file gives it (the
  // fraction kept): how many values, the first and the last. count 0: the file has none.
  struct Axis {
    size_t count = 0;
    double first = 0.0;
    double last = 0.0;
    double Lowest() const { return first < last ? first : last; }
    double Highest() const { return first < last ? last : first; }
  };
  Axis xAxis, yAxis;
  // The variable read last gives its cell size in the attribute "default_cellsize", as this
  // program's writer does (whose coordinates give the cells' western and southern edges).
  bool cellSizeAttribute = false;
  // Files whose place the grid reader could not set against the basin's (noted once each).
  std::set<std::string> unplacedFiles;

  struct OpenFile;  // defined by the netCDF layer

 private:
  friend struct NetcdfCacheAccess;
  std::map<std::string, std::unique_ptr<OpenFile>> files_;  // by file name as given
  OpenFile* current_ = nullptr;
};

// The writer and reader objects of a module, made on first use.
NetcdfWriteOptions& NetcdfOptionsOf(modelobject& module);
NetcdfFileCache& NetcdfCacheOf(modelobject& module);

// The file name with ".nc" appended unless the name contains ".nc" anywhere.
std::string AddNcExtension(const std::string& fileName);
// The variable name derived from an output name: directory removed, cut at the first "."
// and at the first "_timeseries", every "_" and "-" removed.
std::string GetNetcdfVariableName(const std::string& fileName);

// A date is given when year, month, day >= 1 and hour, minute >= 0.
bool IsDatedNetcdfCall(int year, int month, int day, int hour, int minute);

// Writes one grid as one record of variable variableName in fileName (netCDF-4). Give
// either doubleValues (asDouble set) or floatValues, in the value order above. A call
// with year, month, day >= 1 and hour, minute >= 0 is dated (time axis "time", minutes
// since 1970-01-01 00:00 UTC); any other call is undated (axis "t", the record index).
// Failures log a FATAL entry and throw 26.
void WriteNetcdfGrid(NetcdfWriteOptions& options, bool asDouble, const double* doubleValues,
                     const float* floatValues, const std::string& fileName, const std::string& variableName,
                     int32_t nrows, int32_t ncols, int year, int month, int day, int hour, int minute,
                     double nodata, double cellSize);

// Reads one 2-D field. name may be "file<variable>record"; on return it holds the file name
// only. Out values that the file does not give keep the caller's values, except cellSize,
// which is -1.0 when neither the attribute "default_cellsize" nor the y axis gives one.
// record -1 selects the record whose time equals the date (all date fields -1: no date),
// kInitialStateRecord the record of an initial state (above).
// values receives ncols * nrows values in the value order above; cells holding a fill
// value ("_FillValue" or "missing_value", tested before unpacking) and NaN cells hold the
// returned nodata value.
// Failures: 1100 too many open files, 26 variable missing or library error, 22 a file the
// check before the library refuses (netcdf_file_check.h), dimensions not (record, y, x) /
// (record, x, y), lengths that do not match, a field of no cell or of more than 2^28 cells,
// coordinates that are not numbers or not evenly spaced (x west to east), or a cell that is
// infinite after unpacking. A cell size of 0 or below is returned as it is: placing the
// field by its coordinates refuses it (RequireNetcdfCellSize), a cell-by-cell copy needs none.
// The coordinates as the file gives them are left in cache.xAxis and cache.yAxis.
void ReadNetcdfGrid(NetcdfFileCache& cache, std::vector<double>& values, std::string& name,
                    std::string* variableName, int32_t& nrows, int32_t& ncols, double& xOrigin, double& yOrigin,
                    double& cellSize, double& nodata, int32_t& recordCount, int32_t record, int year, int month,
                    int day, int hour, int minute);

// ---- module-level helpers used by the grid reader and writers ------------------------

// One field read for a module: values as a matrix (rows 1..nrows north to south, columns
// 1..ncols), with the file's coordinates. Fill and NaN cells hold the module's nodata_value.
struct NetcdfGrid {
  MatrixOwner values;
  int32_t nrows = 0;
  int32_t ncols = 0;
  double firstX = 0.0;     // x of the first (western) column's centre
  double firstY = 0.0;     // y of the southern row's centre
  double cellSize = -1.0;  // -1 when the file gives none
  double nodata = -9999.0;
  int32_t recordCount = 0;
  std::string fileName;
  std::string variableName;
  // Lower-left corner of the field for resampling: half a cell west and south of the
  // first cell centre.
  double LowerLeftX() const;
  double LowerLeftY() const;
};

// Reads through the module's cache. The grid's nrows, ncols and nodata start from the
// module's geometry. record -1 selects by the date (all -1: no date), kInitialStateRecord
// the record of an initial state before the date.
NetcdfGrid ReadNetcdfForModule(modelobject& module, const std::string& name, int32_t record, int64_t year,
                               int64_t month, int64_t day, int64_t hour, int64_t minute);
// The field the grid reader takes for the module: during the run the record of the step's
// date, before the first step the record of the initial state (kInitialStateRecord).
NetcdfGrid ReadNetcdfForStep(modelobject& module, const std::string& name);
// Fails with 22 (FATAL naming the file) when the field has no usable cell size; for
// callers that place the field by its own coordinates.
void RequireNetcdfCellSize(const modelobject& module, const NetcdfGrid& grid);

// Writes a module grid (rows 1..nrows of the module geometry; a null row is written as
// nodata) the way the grid writers do: file name AddNcExtension(fileName), variable
// GetNetcdfVariableName(fileName), the module's corner and cell size, the optional
// latitude and longitude grids (null when the registry holds none), doubles when asDouble
// is set, floats otherwise. fileName is already joined with the output directory.
void WriteModuleGridNetcdf(modelobject& module, const std::string& fileName, double** grid, bool asDouble,
                           int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                           double** latitudeGrid = nullptr, double** longitudeGrid = nullptr);
