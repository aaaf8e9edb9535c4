// netCDF input: one 2-D field of a variable by file, variable and record (or date), read
// through a per-module cache of open files, unpacked and put into the model's grid order.
#include <netcdf>

#include <cmath>
#include <ctime>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/text_helpers.h"
#include "grids/netcdf_file_check.h"
#include "grids/netcdf_grid_io.h"

using namespace netCDF;

struct NetcdfFileCache::OpenFile {
  std::string key;  // absolute, normalised path: the same file under another spelling
  std::unique_ptr<NcFile> file;
};

namespace {

// Every live cache of the process (the program's main thread is the only user). Never
// destroyed, so that caches of static objects may still leave it at exit.
std::set<NetcdfFileCache*>& LiveCaches() {
  static auto* caches = new std::set<NetcdfFileCache*>;
  return *caches;
}

std::string FileKey(const std::string& name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return p.lexically_normal().string();
}

// A failure of our own checks, reported like the library's errors.
struct ReadFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void FailFormat(LogStream* log, const std::string& text) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw kNetcdfFormatErrorCode;
}

// More cells than any model grid holds: a damaged or foreign file.
constexpr size_t kMaxNetcdfCells = size_t{1} << 28;

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

double NumericAttribute(const NcVarAtt& att, bool& ok) {
  ok = false;
  NcType t = att.getType();
  if (att.getAttLength() < 1 || t == ncChar || t == ncString) return 0.0;
  std::vector<double> v(att.getAttLength());
  att.getValues(v.data());
  ok = true;
  return v[0];
}

}  // namespace

struct NetcdfCacheAccess {
  static NcFile& Open(NetcdfFileCache& cache, const std::string& fileName) {
    auto it = cache.files_.find(fileName);
    if (it == cache.files_.end()) {
      if (cache.files_.size() >= kMaxNetcdfOpenFiles) {
        if (cache.log)
          *cache.log << "FATAL: more than " << static_cast<int>(kMaxNetcdfOpenFiles)
                     << " different netCDF files can not be hold open at the same time. If you read time series "
                        "of input grids from netCDF, please put all the single nc files into one large file or "
                        "into some groups of files"
                     << "[end-entry]";
        throw kNetcdfTooManyFilesCode;
      }
      auto entry = std::make_unique<NetcdfFileCache::OpenFile>();
      entry->key = FileKey(fileName);
      // The header's bytes are looked at before the library reads them, its names before
      // the C++ interface copies them.
      std::string problem = NetcdfFileProblem(fileName);
      if (problem.empty()) problem = NetcdfNamesProblem(fileName);
      if (!problem.empty()) FailFormat(cache.log, "netCDF file " + fileName + " cannot be read: " + problem);
      entry->file = std::make_unique<NcFile>(fileName, NcFile::read);
      it = cache.files_.emplace(fileName, std::move(entry)).first;
    }
    cache.current_ = it->second.get();
    return *cache.current_->file;
  }
};

NetcdfFileCache::NetcdfFileCache(LogStream* logStream) : log(logStream) { LiveCaches().insert(this); }

NetcdfFileCache::~NetcdfFileCache() {
  LiveCaches().erase(this);
  current_ = nullptr;
  files_.clear();  // each NcFile closes its file
}

bool NetcdfFileCache::IsOpen(const std::string& fileName) const {
  const std::string key = FileKey(fileName);
  for (const auto& f : files_)
    if (f.second->key == key) return true;
  return false;
}

void NetcdfFileCache::Close(const std::string& fileName) {
  const std::string key = FileKey(fileName);
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second->key == key) {
      if (current_ == it->second.get()) current_ = nullptr;
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
}

void NetcdfFileCache::CloseEverywhere(const std::string& fileName) {
  for (NetcdfFileCache* c : LiveCaches()) c->Close(fileName);
}

NetcdfFileCache& NetcdfCacheOf(modelobject& module) {
  if (!module.netcdfCache) module.netcdfCache = std::make_shared<NetcdfFileCache>(module.log);
  return *module.netcdfCache;
}

namespace {

// "file<variable>step": the parts, when both brackets stand behind the first character.
void SplitName(std::string& name, std::string& variable, long& step) {
  variable.clear();
  step = -1;
  size_t lt = name.find('<');
  size_t gt = name.find('>');
  if (lt == std::string::npos || gt == std::string::npos || lt < 1 || gt < 1 || gt < lt) return;
  variable = name.substr(lt + 1, gt - lt - 1);
  std::string stepText = name.substr(gt + 1, 10);
  name.erase(lt);
  TextCursor cursor(stepText);
  long v = 0;
  if (cursor.ReadLong(v)) step = v;
}

double RequestedMinutes(int year, int month, int day, int hour, int minute) {
  if (!IsDatedNetcdfCall(year, month, day, hour, minute)) return 0.0;
  return std::trunc(MinutesSinceEpoch(year, month, day, hour, minute));
}

bool IsCoordinateName(const std::string& n) {
  return n == "x" || n == "y" || n == "t" || n == "lat" || n == "lon" || n == "crs" || n == "time";
}

NcVar FindVariable(NcFile& file, LogStream* log, const std::string& fileName, const std::string& given,
                   long record, std::string& chosen) {
  if (!given.empty() && record >= 0) {
    chosen = given;
    return file.getVar(given);
  }
  chosen = GetNetcdfVariableName(fileName);
  NcVar v = file.getVar(chosen);
  if (!v.isNull()) return v;
  std::string base = fileName;
  size_t slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  std::string noDots;
  for (char c : base)
    if (c != '.') noDots += c;
  v = file.getVar(noDots);
  if (!v.isNull()) {
    chosen = noDots;
    return v;
  }
  if (log)
    *log << "INFO: netcdf input file names should be provided as filename<varname>timestep (example: "
            "\"temperature.nc<tair>12\")."
         << "[end-entry]";
  for (const auto& entry : file.getVars()) {  // ordered by name
    if (IsCoordinateName(entry.first)) continue;
    chosen = entry.first;
    return entry.second;
  }
  return NcVar();
}

// Whole-number coordinates of a 1-D variable (the fraction is dropped): one per cell of its
// axis, every one a number, in one direction (x west to east) and evenly spaced (dropping
// the fraction may change a step by 1). axis receives their extent as the file gives it.
std::vector<double> ReadCoordinate(NcVar& v, size_t expected, bool mayDescend, LogStream* log,
                                   const std::string& fileName, NetcdfFileCache::Axis& axis) {
  const std::string what = "coordinate variable \"" + v.getName() + "\" in netCDF file " + fileName;
  size_t n = v.getDimCount() == 1 ? v.getDim(0).getSize() : 0;
  if (n != expected)
    FailFormat(log, what + " holds " + std::to_string(n) + " values, expected " + std::to_string(expected) + ".");
  std::vector<double> c(n);
  if (n) v.getVar(c.data());
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(c[i]))
      FailFormat(log, what + " holds " + NumberText(c[i]) + " at index " + std::to_string(i) +
                          "; its cells cannot be placed.");
  if (n) {
    axis.count = n;
    axis.first = c.front();
    axis.last = c.back();
  }
  for (double& value : c) value = std::trunc(value);
  for (size_t i = 1; i < n; ++i) {
    const double step = c[i] - c[i - 1], first = c[1] - c[0];
    if ((!mayDescend && step < 0) || step * first < 0 || std::fabs(step - first) > 1.0)
      FailFormat(log, what + " is not evenly spaced" + (mayDescend ? "" : " from west to east") + ": " +
                          NumberText(c[i - 1]) + " at index " + std::to_string(i - 1) + ", " + NumberText(c[i]) +
                          " at index " + std::to_string(i) + " (the first step is " + NumberText(first) + ").");
  }
  return c;
}

}  // namespace

void ReadNetcdfGrid(NetcdfFileCache& cache, std::vector<double>& values, std::string& name,
                    std::string* variableName, int32_t& nrows, int32_t& ncols, double& xOrigin, double& yOrigin,
                    double& cellSize, double& nodata, int32_t& recordCount, int32_t record, int year, int month,
                    int day, int hour, int minute) {
  LogStream* log = cache.log;
  const double requested = RequestedMinutes(year, month, day, hour, minute);
  std::string variable;
  long step = -1;
  SplitName(name, variable, step);
  long rec = step != -1 ? step : (record >= 0 ? record : -1);
  const std::string& fileName = name;
  try {
    NcFile& file = NetcdfCacheAccess::Open(cache, fileName);
    cache.hasTimeAxis = false;
    cache.cellSizeAttribute = false;
    cache.xAxis = cache.yAxis = NetcdfFileCache::Axis();

    // Dimensions, in the order of their names.
    std::string xDimName, yDimName;
    for (const auto& d : file.getDims()) {
      const std::string& n = d.first;
      if (d.second.getSize() > kMaxNetcdfCells)
        FailFormat(log, "dimension \"" + n + "\" of netCDF file " + fileName + " has " +
                            std::to_string(d.second.getSize()) + " entries, more than a grid file can hold.");
      if (Contains(n, "x")) {
        ncols = static_cast<int32_t>(d.second.getSize());
        xDimName = n;
      } else if (Contains(n, "y")) {
        nrows = static_cast<int32_t>(d.second.getSize());
        yDimName = n;
      } else if (Contains(n, "time")) {
        recordCount = static_cast<int32_t>(d.second.getSize());
        cache.hasTimeAxis = true;
      } else if (Contains(n, "t")) {
        recordCount = static_cast<int32_t>(d.second.getSize());
      }
    }

    // Record by date; an initial state is the latest record before the run's first step.
    const bool initialState = record == kInitialStateRecord && rec == -1;
    if (cache.hasTimeAxis && rec == -1) {
      NcVar time = file.getVar("time");
      if (time.isNull()) throw ReadFailure("the file has no variable \"time\"");
      size_t n = time.getDimCount() == 1 ? time.getDim(0).getSize() : 0;
      std::vector<double> t(n);
      if (n) time.getVar(t.data());
      for (size_t i = 0; i < n; ++i) {
        if (initialState ? t[i] < requested && (rec < 0 || t[i] >= t[static_cast<size_t>(rec)]) : t[i] == requested)
          rec = static_cast<long>(i);
        if (!initialState && rec >= 0) break;
      }
    } else if (initialState && recordCount > 0) {
      rec = recordCount - 1;
    }

    std::string chosen;
    NcVar var = FindVariable(file, log, fileName, variable, rec, chosen);
    if (var.isNull()) {
      if (log)
        *log << "FATAL: cannot find variable " << "\"" << chosen << "\"" << " in file " << "\"" << fileName << "\""
             << " for reading from netCDF." << "[end-entry]";
      throw kNetcdfErrorCode;
    }

    // Packing and no-data attributes, in the order of their names.
    double scale = 1.0, offset = 0.0;
    // Every fill marker the variable declares ("_FillValue" and "missing_value" may
    // differ); the one last in name order is the no-data value returned.
    std::vector<double> fills;
    cellSize = -1.0;
    for (const auto& a : var.getAtts()) {
      const std::string& n = a.first;
      bool ok = false;
      if (Contains(n, "scale_factor")) {
        double v = NumericAttribute(a.second, ok);
        if (ok) scale = v;
      } else if (Contains(n, "add_offset")) {
        double v = NumericAttribute(a.second, ok);
        if (ok) offset = v;
      } else if (Contains(n, "missing_value") || Contains(n, "_FillValue")) {
        double v = NumericAttribute(a.second, ok);
        if (ok) {
          nodata = v;
          fills.push_back(v);
        }
      } else if (Contains(n, "default_cellsize")) {
        double v = NumericAttribute(a.second, ok);
        if (ok) cellSize = v;
        cache.cellSizeAttribute = cache.cellSizeAttribute || ok;
      }
    }

    // Coordinates.
    bool southToNorth = true;
    NcVar yVar = file.getVar("y");
    if (!yVar.isNull()) {
      std::vector<double> y = ReadCoordinate(yVar, static_cast<size_t>(nrows), true, log, fileName, cache.yAxis);
      if (y.size() >= 2) {
        // The direction as the file gives it: dropping the fraction may make the steps 0.
        if (cache.yAxis.last >= cache.yAxis.first) {
          yOrigin = y[0];
          if (cellSize < 0) cellSize = y[1] - y[0];
        } else {
          southToNorth = false;
          yOrigin = y.back();
          if (cellSize < 0) cellSize = y[0] - y[1];
        }
      } else if (y.size() == 1) {
        yOrigin = y[0];
        if (cellSize < 0) cellSize = 10.0;
      }
    }
    NcVar xVar = file.getVar("x");
    if (!xVar.isNull()) {
      std::vector<double> x = ReadCoordinate(xVar, static_cast<size_t>(ncols), false, log, fileName, cache.xAxis);
      if (!x.empty()) xOrigin = x[0];
    }

    // The variable must be (record, y, x) or (record, x, y) over the file's grid axes.
    const std::vector<NcDim> dims = var.getDims();
    bool xFirst = false;
    bool shapeOk = dims.size() == 3 && !xDimName.empty() && !yDimName.empty();
    if (shapeOk) {
      const std::string a = dims[1].getName(), b = dims[2].getName();
      if (a == xDimName && b == yDimName)
        xFirst = true;
      else if (!(a == yDimName && b == xDimName))
        shapeOk = false;
    }
    if (!shapeOk) {
      std::string shape;
      for (size_t i = 0; i < dims.size(); ++i) shape += (i ? ", " : "") + dims[i].getName();
      FailFormat(log, "variable \"" + chosen + "\" in netCDF file " + fileName + " has the dimensions (" + shape +
                          "); expected (time, y, x) or (time, x, y) with the file's dimensions for x and y.");
    }
    const size_t lenA = dims[1].getSize(), lenB = dims[2].getSize();
    const size_t nx = xFirst ? lenA : lenB, ny = xFirst ? lenB : lenA;
    const std::string extent = "variable \"" + chosen + "\" in netCDF file " + fileName + " has " +
                               std::to_string(nx) + " columns and " + std::to_string(ny) + " rows";
    if (nx != static_cast<size_t>(ncols) || ny != static_cast<size_t>(nrows))
      FailFormat(log, extent + ", expected " + std::to_string(ncols) + " and " + std::to_string(nrows) + ".");
    if (nx == 0 || ny == 0) FailFormat(log, extent + ": it holds no cell.");
    // Each dimension is at most kMaxNetcdfCells long, so the product cannot overflow.
    if (nx * ny > kMaxNetcdfCells)
      FailFormat(log, extent + ", " + std::to_string(nx * ny) + " cells: more than the " +
                          std::to_string(kMaxNetcdfCells) + " cells this program reads from one netCDF grid.");
    const size_t records = dims[0].getSize();
    if (rec < 0)
      throw ReadFailure("no record of variable \"" + chosen + "\" matches the requested date or step");
    if (static_cast<size_t>(rec) >= records)
      throw ReadFailure("record " + std::to_string(rec) + " of variable \"" + chosen + "\" is outside its " +
                        std::to_string(records) + " records");

    // One record, unpacked; fill cells are recognised before unpacking. An infinite value
    // (read, or made by unpacking) is no value a cell can hold.
    const size_t cells = lenA * lenB;
    auto infinite = [&](size_t src, double v) {
      const size_t c = xFirst ? src / ny : src % nx, r = xFirst ? src % ny : src / nx;
      FailFormat(log, "variable \"" + chosen + "\" in netCDF file " + fileName + " holds " + NumberText(v) +
                          (std::isinf(v) ? "" : " (infinite after scale_factor and add_offset)") + " in record " + std::to_string(rec) + " at column " + std::to_string(c + 1) + ", row " +
                          std::to_string(southToNorth ? ny - r : r + 1) + " (rows from the north).");
    };
    std::vector<double> raw(cells);
    std::vector<size_t> start{static_cast<size_t>(rec), 0, 0};
    std::vector<size_t> count{1, lenA, lenB};
    if (var.getType() == ncDouble) {
      var.getVar(start, count, raw.data());
      for (size_t i = 0; i < cells; ++i) {
        const double v = raw[i];
        bool isFill = std::isnan(v);
        for (double fill : fills) isFill = isFill || v == fill;
        raw[i] = isFill ? nodata : v * scale + offset;
        if (!isFill && std::isinf(raw[i])) infinite(i, v);
      }
    } else {
      std::vector<float> f(cells);
      var.getVar(start, count, f.data());
      std::vector<float> ffills;
      for (double fill : fills) ffills.push_back(static_cast<float>(fill));
      for (size_t i = 0; i < cells; ++i) {
        bool isFill = std::isnan(f[i]);
        for (float fill : ffills) isFill = isFill || f[i] == fill;
        raw[i] = isFill ? nodata : static_cast<double>(f[i]) * scale + offset;
        if (!isFill && std::isinf(raw[i])) infinite(i, f[i]);
      }
    }

    // Column order, rows north to south.
    values.assign(cells, nodata);
    for (size_t c = 0; c < nx; ++c)
      for (size_t r = 0; r < ny; ++r) {
        size_t src = xFirst ? c * ny + r : r * nx + c;
        size_t row = southToNorth ? ny - 1 - r : r;
        values[c * ny + row] = raw[src];
      }
    if (variableName) *variableName = chosen;
  } catch (const std::exception& e) {
    if (log)
      *log << "FATAL: exception occured when reading from netCDF file " << fileName
           << ". Internal message is: " << e.what() << "[end-entry]";
    throw kNetcdfErrorCode;
  }
}

double NetcdfGrid::LowerLeftX() const { return firstX - std::fabs(cellSize) / 2.0; }
double NetcdfGrid::LowerLeftY() const { return firstY - std::fabs(cellSize) / 2.0; }

NetcdfGrid ReadNetcdfForModule(modelobject& module, const std::string& name, int32_t record, int64_t year,
                               int64_t month, int64_t day, int64_t hour, int64_t minute) {
  NetcdfGrid g;
  g.fileName = name;
  g.nrows = module.geometry.nrows;
  g.ncols = module.geometry.ncols;
  g.nodata = module.geometry.nodata_value;
  g.firstX = module.geometry.xllcorner;
  g.firstY = module.geometry.yllcorner;
  auto field = [](int64_t v) { return v < -1 || v > 1000000 ? -1 : static_cast<int>(v); };
  std::vector<double> flat;
  ReadNetcdfGrid(NetcdfCacheOf(module), flat, g.fileName, &g.variableName, g.nrows, g.ncols, g.firstX, g.firstY,
                 g.cellSize, g.nodata, g.recordCount, record, field(year), field(month), field(day), field(hour),
                 field(minute));
  const double fileNodata = g.nodata;
  const double modelNodata = module.geometry.nodata_value;
  g.values.reset(AllocateMatrix(module.log, 1, g.nrows, g.ncols, 0));
  for (int32_t c = 1; c <= g.ncols; ++c)
    for (int32_t r = 1; r <= g.nrows; ++r) {
      double v = flat[static_cast<size_t>(c - 1) * static_cast<size_t>(g.nrows) + static_cast<size_t>(r - 1)];
      // A fill value of NaN compares equal to nothing.
      g.values[r][c] = v == fileNodata || std::isnan(v) ? modelNodata : v;
    }
  g.nodata = modelNodata;
  return g;
}

NetcdfGrid ReadNetcdfForStep(modelobject& module, const std::string& name) {
  // Before the first step the grid is the initial state: the record at the end of the step
  // before the run's start.
  const bool initialState = module.stepDate.IsMissing() && !module.output.runStart.IsMissing();
  const ModelDate& d = initialState ? module.output.runStart : module.stepDate;
  return ReadNetcdfForModule(module, name, initialState ? kInitialStateRecord : -1, d.year, d.month, d.day, d.hour,
                             d.minute);
}

void RequireNetcdfCellSize(const modelobject& module, const NetcdfGrid& grid) {
  if (grid.cellSize > 0.0 && std::isfinite(grid.cellSize)) return;
  if (grid.cellSize == -1.0)
    FailFormat(module.log, "netCDF file " + grid.fileName +
                               " gives no cell size (neither the attribute \"default_cellsize\" nor a y axis); its "
                               "cells cannot be placed on the model grid.");
  FailFormat(module.log, "netCDF file " + grid.fileName + " gives the cell size " + NumberText(grid.cellSize) +
                             " (from \"default_cellsize\" or the whole-number y coordinates); it must be greater "
                             "than 0 to place its cells on the model grid.");
}
