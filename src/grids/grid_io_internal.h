// Small pieces shared by the grid reader and the grid writers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "framework/ctrl_c.h"
#include "framework/modelobject.h"
#include "framework/new_file.h"
#include "framework/storage_file.h"

namespace grid_io {

// Ignores SIGINT while a grid file is open and installs the program's Ctrl-C handler
// again afterwards (also when the operation fails).
class SigintGuard {
 public:
  SigintGuard() { IgnoreCtrlC(); }
  ~SigintGuard() { EnableCtrlCHandler(); }
  SigintGuard(const SigintGuard&) = delete;
  SigintGuard& operator=(const SigintGuard&) = delete;
};

// Writes a netCDF file of the end state, path without ".nc" as the writers take it: write
// is given the name to write under (joined with ".nc" by the writers), the staged name, or
// the file itself when the run has written it before and extends it step by step. The file
// is then noted with the size and checksum of its bytes.
void WriteNetcdfEndState(modelobject& o, const std::string& path, const std::function<void(const std::string&)>& write);

// A grid or stack (levels 0..levels per cell) of the end state holds finite numbers (or its
// no-data value) in every cell it holds: otherwise a FATAL names the file, the first such
// cell and how many there are, the file is noted as one that could not be written (the end
// state is then not moved into place, the earlier one stays) and false is returned.
bool EndStateIsFinite(modelobject& o, const std::string& path, double** grid, double*** stack = nullptr,
                      int levels = 0);

// A registered state grid or stack of the end state (its record found by its values) holds
// in every cell of the basin, on every level, a value within the range a warm start holds it
// to (modelobject::HoldStateRange), as the cell reads back from its file (ascii: "%g";
// otherwise single or double precision): otherwise a FATAL names it, the first such cell and
// how many there are, the file is noted as one that could not be written (the earlier state
// stays) and false is returned.
bool EndStateWithinItsRange(modelobject& o, const std::string& path, double** grid, double*** stack, int levels,
                            bool ascii, bool asDouble);

// The cells of the basin (the zone grid's valid cells) whose value breaks a state range, by
// kind (StateRange::Breaks: 0 no number, 1 below, 2 above): how many, and the first of each.
// asRead, when given, is the value a cell reads back as from its file: a cell breaks the
// range only when that does too.
struct CellsBeyond {
  long count[3] = {0, 0, 0};
  int row[3] = {0, 0, 0}, col[3] = {0, 0, 0};
  // The first kind found (-1: none).
  int FirstKind() const;
  // For a message on the first kind found: "holds 1.8e+09 at row 3, column 4 (2 cells of the
  // basin above 1e9 mm); no store holds 1,000 km of water".
  std::string Text(double** grid, const StateRange& range, double nodata) const;
};
CellsBeyond FindCellsBeyond(const modelobject& o, double** grid, const StateRange& range,
                            double (*asRead)(double) = nullptr);

// The zone grid (registry position 1) of the object's registry; null before it is read.
double** ZoneGridOf(const modelobject& o);

// Whether column c of a zone grid's row lies in the basin (above the no-data value); every
// cell does without a zone grid.
inline bool InsideZone(const double* zoneRow, size_t c, double nodata) { return !zoneRow || zoneRow[c] > nodata; }

// First and last active column of row r; rows without known bounds are fully active.
// last < 1 marks a row without active cells.
inline void ActiveColumns(const modelobject& o, int r, int& first, int& last) {
  first = 1;
  last = o.geometry.ncols;
  if (r >= 1 && static_cast<size_t>(r) < o.rowBounds.size()) {
    first = std::max(1, o.rowBounds[static_cast<size_t>(r)].first);
    last = std::min(o.geometry.ncols, o.rowBounds[static_cast<size_t>(r)].last);
  }
}

// A FILE* that is closed on every path.
class File {
 public:
  File() = default;
  explicit File(std::FILE* f) : f_(f) {}
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Closes the file; false when closing failed.
  bool Close() {
    if (!f_) return true;
    int rc = std::fclose(f_);
    f_ = nullptr;
    return rc == 0;
  }

 private:
  std::FILE* f_ = nullptr;
};

// A file under construction under its temporary name (OutputName, framework/new_file.h),
// moved into place by Commit(); removed when the write fails, so a reader never sees a
// half-written file. The temporary file is made new: a link or a stale file left under it is
// removed, never written through; what the creation could not remove (a folder) is left
// alone. A name that leads to a character device (/dev/null) is written straight into.
class PendingFile {
 public:
  PendingFile(const std::string& name, const char* mode)
      : name_(name), file_(name_.CreateStream(mode)), created_(file_) {}
  ~PendingFile() {
    if (!committed_ && created_) {
      file_.Close();
      name_.RemoveTemporary();
    }
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  std::FILE* get() const { return file_.get(); }
  explicit operator bool() const { return static_cast<bool>(file_); }
  // Closes the file and moves it into place; false when either fails.
  bool Commit() {
    if (!file_.Close()) return false;
    if (name_.MoveIntoPlace() != 0) return false;
    committed_ = true;
    return true;
  }
  // A file of the end state: closes it and notes it, with the size and checksum of the
  // bytes written, to wait whole under its temporary name (its staged name) until the whole
  // end state is written; false when it could not be written to its end.
  bool KeepForEndState() {
    unsigned long long bytes = 0, checksum = 0;
    if (std::fflush(file_.get()) != 0 || !DescriptorFingerprint(fileno(file_.get()), bytes, checksum) ||
        !file_.Close())
      return false;
    committed_ = true;
    NoteEndStateFile(name_.Final(), !name_.IntoDevice(), bytes, checksum);
    return true;
  }

 private:
  OutputName name_;
  File file_;
  bool created_;
  bool committed_ = false;
};

}  // namespace grid_io
