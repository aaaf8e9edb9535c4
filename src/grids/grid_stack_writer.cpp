// Writing grid stacks: ASCII and binary stack files, netCDF stacks (one record per level),
// and the registry-driven output of stacks under fixed or dated names.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/run_files.h"
#include "framework/storage_file.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/grid_stack.h"
#include "grids/netcdf_grid_io.h"
#include "grids/period_grids.h"

namespace {

using grid_io::PendingFile;

const double* CellLevels(double*** stack, int r, int c) {
  return stack && stack[r] && stack[r][c] ? stack[r][c] : nullptr;
}

// A file of the end state (endState) waits whole under its staged name.
bool Finish(PendingFile& f, bool endState) { return endState ? f.KeepForEndState() : f.Commit(); }

void WriteAsciiStack(modelobject& o, const std::string& path, double*** stack, int levels, bool endState) {
  PendingFile f(path, "w");
  if (!f) {
    const int e = errno;
    if (o.log) *o.log << "FATAL: error opening " << path << FileOpenReason(path, true, e) << "[end-entry]";
    throw 26;
  }
  const auto& h = o.binaryHeader;
  if (std::fprintf(f.get(),
                   "stack_ncols\t%lf\nnrows\t%lf\nxll\t%lf\nyll\t%lf\ncs\t%lf\nnodata\t%lf\ncnt\t%lf\nmin\t%lf\n"
                   "max\t%lf\nsum\t%lf\naverage\t%lf\nnumlevels\t%lf\n",
                   h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10], h[11]) < 0)
    o.WriteError(path, 18);
  const GridGeometry& g = o.geometry;
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      const double* cell = CellLevels(stack, r, c);
      for (int l = 0; l <= levels; ++l)
        if (std::fprintf(f.get(), "%lg\n", cell ? cell[l] : g.nodata_value) < 0) o.WriteError(path, 18);
    }
  if (!Finish(f, endState)) {
    if (o.log) *o.log << "FATAL: error closing " << path << "[end-entry]";
    throw 27;
  }
}

template <typename T>
void WriteBinaryStack(modelobject& o, const std::string& path, double*** stack, int levels, bool endState) {
  PendingFile f(path, "wb");
  if (!f) {
    const int e = errno;
    if (o.log) *o.log << "FATAL: error opening " << path << FileOpenReason(path, true, e) << "[end-entry]";
    throw 26;
  }
  if (sizeof(T) == sizeof(double)) {
    if (std::fwrite(o.binaryHeader.data(), sizeof(double), 12, f.get()) != 12) o.WriteError(path, 18);
  } else {
    for (double v : o.binaryHeader) {
      T x = static_cast<T>(v);
      if (std::fwrite(&x, sizeof(T), 1, f.get()) != 1) o.WriteError(path, 18);
    }
  }
  const GridGeometry& g = o.geometry;
  const size_t n = static_cast<size_t>(levels) + 1;
  std::vector<T> cellValues(n);
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      const double* cell = CellLevels(stack, r, c);
      for (size_t l = 0; l < n; ++l) cellValues[l] = static_cast<T>(cell ? cell[l] : g.nodata_value);
      if (std::fwrite(cellValues.data(), sizeof(T), n, f.get()) != n) o.WriteError(path, 18);
    }
  if (!Finish(f, endState)) {
    if (o.log) *o.log << "FATAL: error closing " << path << "[end-entry]";
    throw 27;
  }
}

void WriteNetcdfStack(modelobject& o, const std::string& path, double*** stack, int levels, bool asDouble) {
  const GridGeometry& g = o.geometry;
  NetcdfWriteOptions& options = NetcdfOptionsOf(o);
  const std::string ncName = AddNcExtension(path);
  if (options.HasWrittenFile(ncName) && options.restackedFiles.insert(ncName).second && o.log)
    *o.log << "WARNING: the netCDF stack " << ncName << " is written more than once in this run (" << o.name
           << "); its levels are appended as further records, so a reader takes them all as levels." << "[end-entry]";
  double** lat = nullptr;
  double** lon = nullptr;
  if (o.grids) {
    int latPos = LatitudeGridPosition(o.grids), lonPos = LongitudeGridPosition(o.grids);
    if (latPos > 0 && latPos <= kMaxGridPosition) lat = o.grids[latPos].data;
    if (lonPos > 0 && lonPos <= kMaxGridPosition) lon = o.grids[lonPos].data;
  }
  MatrixOwner level(g.nrows, g.ncols, o.log);
  for (int l = 0; l <= levels; ++l) {
    for (int r = 1; r <= g.nrows; ++r)
      for (int c = 1; c <= g.ncols; ++c) {
        const double* cell = CellLevels(stack, r, c);
        level[r][c] = cell ? cell[l] : g.nodata_value;
      }
    WriteModuleGridNetcdf(o, path, level.get(), asDouble, -1, -1, -1, -1, -1, lat, lon);
  }
}

// "19850104.015": the date of a stack's file name, its hour of three places.
constexpr DateStyle kStackDate{false, kFourZeros, kTwoZeros, kThreeZeros, kTwoZeros, "", ".", "", DateField::kHour};

bool IsEndOfDay(const modelobject& o) {
  return DayEndsOfStep(o.stepDate, o.output.stampToStepEndHours, o.output.runStepMinutes).count > 0;
}

}  // namespace

std::string DatedStackName(const std::string& fileName, int64_t year, int64_t month, int64_t day, int64_t hour,
                           int64_t repeat) {
  size_t slash = fileName.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  size_t dot = base.find('.');
  size_t k = dot == std::string::npos ? base.size() : dot;
  if (k > 4) k = 4;
  std::string name = dir + base.substr(0, k) + "_" + DateText(year, month, day, hour, 0, kStackDate);
  if (repeat > 0) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "_%.03" PRId64, repeat);
    name += counter;
  }
  return name;
}

std::string DatedStackPattern(const std::string& fileName, bool repeated) {
  std::string name = DatedStackName(fileName, 1111, 11, 11, 11, repeated ? 1 : 0);
  // The characters kept from the base name keep their digits; every digit behind them is the date's.
  const size_t slash = fileName.find_last_of('/');
  const size_t dir = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = fileName.find('.', dir);
  const size_t kept = dir + std::min<size_t>(4, (dot == std::string::npos ? fileName.size() : dot) - dir);
  for (size_t i = kept; i < name.size(); ++i)
    if (std::isdigit(static_cast<unsigned char>(name[i]))) name[i] = RunFiles::kAnyDigit;
  return name;
}

void modelobject::WriteStack(const std::string& fileName, double*** stack, int levels, bool ascii, bool asDouble,
                             bool netcdf, bool endState) {
  grid_io::SigintGuard guard;
  endState = endState && EndStateIsStaged();
  std::string path = MakePath(output.outputDirectory, fileName);
  if (levels < 0 || levels > kMaxStackLevels) {
    if (log) *log << "FATAL: error opening " << path << ": a stack of " << levels << " levels" << "[end-entry]";
    throw 26;
  }
  if (endState && !grid_io::EndStateIsFinite(*this, netcdf ? AddNcExtension(path) : path, nullptr, stack, levels))
    return;
  if (endState && !grid_io::EndStateWithinItsRange(*this, netcdf ? AddNcExtension(path) : path, nullptr, stack, levels,
                                                   ascii, asDouble))
    return;
  RunFiles& files = RunFiles::Current();
  const std::string entry = files.Building() ? "[" + name + "] stack " + fileName : std::string();
  if (netcdf) {
    files.Write(entry, AddNcExtension(path));
    const auto write = [&](const std::string& to) { WriteNetcdfStack(*this, to, stack, levels, asDouble); };
    if (endState)
      grid_io::WriteNetcdfEndState(*this, path, write);
    else
      write(path);
    return;
  }
  // A stack written while the run is built waits under a staged name for the check of the run's files.
  path = files.Create(entry, path);
  binaryHeader = {static_cast<double>(geometry.ncols), static_cast<double>(geometry.nrows), geometry.xllcorner,
                  geometry.yllcorner, geometry.cellsize, geometry.nodata_value, 0, 0, 0, 0, 0,
                  static_cast<double>(levels)};
  try {
    if (ascii)
      WriteAsciiStack(*this, path, stack, levels, endState);
    else if (asDouble)
      WriteBinaryStack<double>(*this, path, stack, levels, endState);
    else
      WriteBinaryStack<float>(*this, path, stack, levels, endState);
  } catch (int) {
    if (endState) NoteEndStateFailure(path);
    throw;
  }
}

void modelobject::WriteStateStack(const std::string& file, HeldStack& stack) {
  try {
    WriteStack(file, stack.levels, stack.top, false, true, false, true);
  } catch (...) {
    stack.Release();
    throw;
  }
  stack.Release();
}

void modelobject::WriteStackGrids(int position) {
  if (position < 1 || position > kMaxGridPosition || !grids) return;
  GridRecord& rec = grids[position];
  const int u = rec.units;
  if (u < 1 || u > 5 || !rec.stack) return;
  const bool atEnd = !stepDate.IsMissing() && stepDate.Key() >= endDateKey;
  if (u == 3 && !atEnd) return;
  if ((u == 4 || u == 5) && !IsEndOfDay(*this)) return;
  std::string name = rec.fileName;
  if (u == 2 || u == 5) {
    const ModelDate& d = stepDate;
    if (d.year == rec.lastYear && d.month == rec.lastMonth && d.day == rec.lastDay && d.hour == rec.lastHour &&
        d.minute == rec.lastMinute) {
      ++rec.repeatCount;
    } else {
      rec.lastYear = d.year;
      rec.lastMonth = d.month;
      rec.lastDay = d.day;
      rec.lastHour = d.hour;
      rec.lastMinute = d.minute;
      rec.repeatCount = 0;
    }
    name = DatedStackName(rec.fileName, d.year, d.month, d.day, d.hour, rec.repeatCount);
  }
  // The last state of the run under the stack's own name is a file of the end state.
  const bool dated = u == 2 || u == 5;
  WriteStack(name, rec.stack, rec.stackLevels, output.writeAsciiGrids, output.writeDoubleGrids,
             output.writeNetcdfGrids, atEnd && !dated);
  if (dated && atEnd)
    WriteStack(rec.fileName, rec.stack, rec.stackLevels, output.writeAsciiGrids, output.writeDoubleGrids,
               output.writeNetcdfGrids, true);
}
