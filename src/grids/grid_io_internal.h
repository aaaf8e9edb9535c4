// Small pieces shared by the grid reader and the grid writers.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include "framework/ctrl_c.h"
#include "framework/modelobject.h"

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
  File(const std::string& path, const char* mode) : f_(std::fopen(path.c_str(), mode)) {}
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

}  // namespace grid_io
