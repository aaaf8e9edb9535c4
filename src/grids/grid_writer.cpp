// Writing one grid as an ASCII grid, a binary grid in single or double precision, or a
// record of a netCDF file.
//
// ASCII and binary files are prepared here and written to "name.tmp" and renamed when
// complete (grid_output_thread.h), so a reader never sees a half-written grid.
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/run_files.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "framework/thread_policy.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_output_thread.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/netcdf_grid_io.h"

namespace {

using grid_io::ActiveColumns;

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

// Per-row partial header statistics, added in row order after the parallel pass so that
// the sums do not depend on the thread count.
struct RowStatistics {
  double count = 0.0, sum = 0.0, sumSq = 0.0, minimum = 0.0, maximum = 0.0;
  bool hasValue = false;
};

// The file job of a grid: one parallel pass over the rows copies the cells in the file's
// number format and, for binary files, sums the header statistics of the active columns.
GridFileJob MakeJob(modelobject& o, const std::string& path, double** grid, GridFileJob::Format format,
                    bool doubleVariant) {
  const GridGeometry& g = o.geometry;
  GridFileJob job;
  job.path = path;
  job.format = format;
  job.geometry = g;
  const size_t cols = static_cast<size_t>(g.ncols), cells = static_cast<size_t>(g.nrows) * cols;
  const bool ascii = format == GridFileJob::Format::Ascii;
  // A buffer of an earlier file of this size when the writer thread kept one.
  GridOutputThread* writer = GridOutputThread::Active();
  if (!writer || !writer->TakeSpareBuffer(job, cells)) {
    if (format == GridFileJob::Format::Float)
      job.floats.resize(cells);
    else
      job.doubles.resize(cells);
  }
  std::vector<RowStatistics> rows(ascii ? 0 : static_cast<size_t>(g.nrows) + 1);
  const double nodata = g.nodata_value, countedAbove = nodata + 1;
  float* floats = job.floats.data();
  double* doubles = job.doubles.data();
  double** zones = grid_io::ZoneGridOf(o);
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(cells), 16 * kMinParallelCells))
  for (int r = 1; r <= g.nrows; ++r) {
    const size_t at = static_cast<size_t>(r - 1) * cols;
    const double* in = grid[r];
    const double* zone = zones ? zones[r] : nullptr;
    if (!in) {
      // A row the grid does not hold: nodata (an ASCII file of a period grid writes -9999).
      const double fill = ascii && !doubleVariant ? -9999.0 : nodata;
      for (size_t c = 0; c < cols; ++c) {
        if (floats)
          floats[at + c] = static_cast<float>(fill);
        else
          doubles[at + c] = fill;
      }
      continue;
    }
    // A cell outside the zone grid holds no data, whatever the grid holds there (the values
    // of a start grid beyond the catchment).
    if (floats)
      for (size_t c = 0; c < cols; ++c)
        floats[at + c] = static_cast<float>(grid_io::InsideZone(zone, c + 1, nodata) ? in[c + 1] : nodata);
    else
      for (size_t c = 0; c < cols; ++c) doubles[at + c] = grid_io::InsideZone(zone, c + 1, nodata) ? in[c + 1] : nodata;
    if (ascii) continue;
    int first, last;
    ActiveColumns(o, r, first, last);
    if (last < 1 && !doubleVariant) {
      first = 1;
      last = g.ncols;
    }
    const double* weights = o.relCellArea ? o.relCellArea[r] : nullptr;
    // Summed in locals and stored once: the rows of neighbouring threads share cache lines.
    RowStatistics s;
    for (int c = first; c <= last; ++c) {
      const double x = in[c], w = weights ? weights[c] : 1.0;
      if (!(x > countedAbove) || !grid_io::InsideZone(zone, static_cast<size_t>(c), nodata)) continue;
      // A cell whose area weight is no-data lies outside the weighted area: not counted
      // (its weight would add -9999 to the count).
      if (weights && !(w > nodata)) continue;
      s.count += w;
      s.sum += w * x;
      s.sumSq += w * x * x;
      if (!s.hasValue) {
        s.hasValue = true;
        s.minimum = s.maximum = x;
      } else if (x < s.minimum) {
        s.minimum = x;
      } else if (x > s.maximum) {
        s.maximum = x;
      }
    }
    rows[static_cast<size_t>(r)] = s;
  }
  if (ascii) return job;

  // The header: geometry, then the statistics of the counted cells.
  o.ResetStatistics(nodata);
  for (const RowStatistics& s : rows)
    if (s.hasValue) o.AddStatisticsPart(s.count, s.sum, s.sumSq, s.minimum, s.maximum);
  o.binaryHeader = {static_cast<double>(g.ncols), static_cast<double>(g.nrows), g.xllcorner, g.yllcorner,
                    g.cellsize, nodata, 0, 0, 0, 0, 0, 0};
  double count, minimum, maximum, sum, mean, stddev;
  o.GetStatistics(count, minimum, maximum, sum, mean, stddev);
  o.binaryHeader[6] = count;
  o.binaryHeader[7] = minimum;
  o.binaryHeader[8] = maximum;
  o.binaryHeader[9] = sum;
  o.binaryHeader[10] = mean;
  o.binaryHeader[11] = stddev;
  job.header = o.binaryHeader;
  return job;
}

void WriteOneGrid(modelobject& o, const std::string& fileName, double** grid, bool ascii, bool asDouble,
                  bool netcdf, const int64_t date[5], bool doubleVariant, bool endState = false) {
  grid_io::SigintGuard sigint;
  const std::string path = MakePath(o.output.outputDirectory, fileName);
  if (!grid) {
    if (o.log) *o.log << "FATAL: cannot write grid " << path << ": no grid given" << "[end-entry]";
    throw 18;
  }
  // A state that is not finite, or beyond the range a warm start reads, is not written: the
  // earlier one stays.
  if (endState && !grid_io::EndStateIsFinite(o, netcdf ? AddNcExtension(path) : path, grid)) return;
  if (endState &&
      !grid_io::EndStateWithinItsRange(o, netcdf ? AddNcExtension(path) : path, grid, nullptr, 0, ascii, asDouble))
    return;
  RunFiles& files = RunFiles::Current();
  const std::string entry =
      files.Building() ? "[" + (o.gridSection.empty() ? o.name : o.gridSection) + "] grid " + fileName : std::string();
  if (netcdf) {
    files.Write(entry, AddNcExtension(path));
    if (endState)
      grid_io::WriteNetcdfEndState(o, path, [&](const std::string& to) { HandToNetcdf(o, to, grid, asDouble, date); });
    else
      HandToNetcdf(o, path, grid, asDouble, date);
    return;
  }

  if (doubleVariant) BlankInactiveCells(o, grid);
  const GridFileJob::Format format =
      ascii ? GridFileJob::Format::Ascii : asDouble ? GridFileJob::Format::Double : GridFileJob::Format::Float;
  GridFileJob job = MakeJob(o, path, grid, format, doubleVariant);
  job.endState = endState;
  // A grid written while the run is built (a derived grid) waits under a staged name until
  // the run's files are checked.
  const std::string staged = files.Create(entry, path, grid, true);
  if (staged != path) job.writeTo = staged;
  // During the time loop the writer thread writes the file; a failure ends the run at the
  // next step (GridOutputThread::RaiseFailure).
  if (GridOutputThread* writer = GridOutputThread::Active()) {
    writer->Hand(std::move(job));
    return;
  }
  const GridWriteResult r = WriteGridFile(job);
  if (r.code != 0) {
    if (o.log) *o.log << r.message << "[end-entry]";
    throw r.code;
  }
}

}  // namespace

bool grid_io::EndStateIsFinite(modelobject& o, const std::string& path, double** grid, double*** stack, int levels) {
  const GridGeometry& g = o.geometry;
  long count = 0;
  int row = 0, column = 0, level = 0;
  double first = 0.0;
  for (int r = 1; r <= g.nrows; ++r) {
    if (stack ? !stack[r] : !grid[r]) continue;
    for (int c = 1; c <= g.ncols; ++c) {
      const double* cell = stack ? stack[r][c] : &grid[r][c];
      if (!cell) continue;
      for (int l = 0; l <= (stack ? levels : 0); ++l) {
        if (std::isfinite(cell[l])) continue;
        if (count++ == 0) {
          row = r;
          column = c;
          level = l;
          first = cell[l];
        }
      }
    }
  }
  if (count == 0) return true;
  if (o.log)
    *o.log << "FATAL: the state " << (stack ? "stack " : "grid ") << path << " of " << o.name << " would hold "
           << first << " in row " << row << ", column " << column
           << (stack ? ", level " + std::to_string(level) : std::string())
           << (count > 1 ? " (and " + std::to_string(count - 1) + " values more that are not finite)" : std::string())
           << " at the end of the run: a state is a finite number, and a warm start would refuse it. The end state "
           << "is not moved into place; the values went out of bounds during the run (its parameters, or the state "
           << "it started from)" << "[end-entry]";
  NoteEndStateFailure(path);
  return false;
}

void grid_io::WriteNetcdfEndState(modelobject& o, const std::string& path,
                                  const std::function<void(const std::string&)>& write) {
  const std::string file = AddNcExtension(path);
  const bool inPlace = NetcdfOptionsOf(o).HasWrittenFile(file);
  const OutputName output(file);
  const std::string target = inPlace ? file : output.Temporary();
  unsigned long long bytes = 0, checksum = 0;
  try {
    write(target);
    if (!FileFingerprint(target, bytes, checksum)) {
      const int e = errno;
      if (o.log) *o.log << "FATAL: error reading back " << target << FileOpenReason(target, false, e) << "[end-entry]";
      throw kNetcdfErrorCode;
    }
  } catch (int) {
    if (!inPlace) output.RemoveTemporary();
    NoteEndStateFailure(file);
    throw;
  }
  NoteEndStateFile(file, !inPlace, bytes, checksum);
}

namespace {

// The value a cell reads back as from an ASCII grid ("%g") and from a single-precision file.
double AsReadFromAscii(double v) {
  char text[16];
  const char* const end = GeneralNumberText(v, text);
  double read = v;
  std::from_chars(text, end, read);
  return read;
}
double AsReadFromFloat(double v) { return static_cast<double>(static_cast<float>(v)); }

}  // namespace

bool grid_io::EndStateWithinItsRange(modelobject& o, const std::string& path, double** grid, double*** stack,
                                     int levels, bool ascii, bool asDouble) {
  const GridRecord* record = nullptr;
  for (int p = 1; o.grids && p <= kMaxGridPosition && !record; ++p) {
    const GridRecord& r = o.grids[p];
    if (r.registered && r.stateRange && (stack ? r.stack == stack : r.data == grid)) record = &r;
  }
  if (!record) return true;
  const StateRange& range = *record->stateRange;
  double (*asRead)(double) = ascii ? AsReadFromAscii : asDouble ? nullptr : AsReadFromFloat;
  MatrixOwner level;
  if (stack) level = MatrixOwner(o.geometry.nrows, o.geometry.ncols, o.log);
  for (int l = 0; l <= (stack ? levels : 0); ++l) {
    if (stack)
      for (int r = 1; r <= o.geometry.nrows; ++r)
        for (int c = 1; c <= o.geometry.ncols; ++c) level[r][c] = stack[r] && stack[r][c] ? stack[r][c][l] : 0.0;
    double** values = stack ? level.get() : grid;
    const CellsBeyond found = FindCellsBeyond(o, values, range, asRead);
    if (found.FirstKind() < 0) continue;
    if (o.log)
      *o.log << "FATAL: at the end of the run the state " << (stack ? "stack " : "grid ") << path << " ("
             << GridEntry(*record) << (stack ? ", level " + std::to_string(l) : std::string()) << ") "
             << found.Text(values, range, o.geometry.nodata_value)
             << ": a warm start would refuse it. The end state is not moved into place; the values went out of "
             << "bounds during the run (its input, its parameters, or the state it started from)" << "[end-entry]";
    NoteEndStateFailure(path);
    return false;
  }
  return true;
}

void modelobject::WriteGrid(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf,
                            int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  const int64_t date[5] = {year, month, day, hour, minute};
  WriteOneGrid(*this, fileName, grid, ascii, asDouble, netcdf, date, false);
}

void modelobject::WriteStateGrid(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf,
                                 int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  const int64_t date[5] = {year, month, day, hour, minute};
  WriteOneGrid(*this, fileName, grid, ascii, asDouble, netcdf, date, false, EndStateIsStaged());
}

void modelobject::WriteGridDouble(const std::string& fileName, double** grid, bool ascii, bool asDouble,
                                  bool netcdf) {
  const int64_t date[5] = {-1, -1, -1, -1, -1};
  WriteOneGrid(*this, fileName, grid, ascii, asDouble, netcdf, date, true);
}
