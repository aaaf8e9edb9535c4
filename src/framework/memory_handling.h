// Root of the object family: 1-based matrices of doubles and the one allocation-error report.
//
// A 2-D matrix is an array of row pointers; rows nrl..nrh hold columns 0..nch (index 0
// unused by convention), each row contiguous, rows grouped in blocks of at most
// 2147480000 bytes. Every matrix remembers its own blocks in a small header in front of
// its row-pointer array, so freeing never depends on the caller repeating the bounds.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class LogStream;

using Matrix2D = double**;
using Matrix3D = double***;

// Allocation primitives shared by memory_handling and the owning wrappers below.
// A null log stream is allowed (messages are then dropped, the code is still thrown).
double** AllocateMatrix(LogStream* log, int64_t nrl, int64_t nrh, int64_t nch, int64_t nrmax);
void ReleaseMatrix(double** m);
// A matrix of rows nrl..nrh whose row pointers all lead to one row of columns 0..nch
// filled with value: a grid that holds the same value everywhere at the cost of a row.
// Writing a cell writes that column of every row. Freed by ReleaseMatrix.
double** AllocateRepeatedRowMatrix(LogStream* log, int64_t nrl, int64_t nrh, int64_t nch, double value);
double*** Allocate3DMatrix(LogStream* log, int64_t nl, int64_t nh, int nrl, int64_t nrh, int64_t nch,
                           int64_t nlmax);
void Release3DMatrix(double*** m);
// Number of blocks a matrix was allocated in (for tests and diagnostics).
int MatrixBlockCount(double** m);
// Bytes of the values of a matrix made by AllocateMatrix or AllocateRepeatedRowMatrix.
long long MatrixBytes(double** m);
// Bytes of the values of all matrices (2-D and 3-D) allocated and not yet released, the
// most they came to, and a new start for that peak (the benchmarks' count of a run's grids).
long long LiveMatrixBytes();
long long PeakMatrixBytes();
void ResetPeakMatrixBytes();

class memory_handling {
 public:
  memory_handling() = default;
  virtual ~memory_handling() = default;
  memory_handling(const memory_handling&) = delete;
  memory_handling& operator=(const memory_handling&) = delete;

  virtual double*** d3_matrix(int64_t nl, int64_t nh, int nrl, int64_t nrh, int64_t nch, int64_t nlmax = 0);
  virtual void Free3DMatrix(double*** m, int64_t nl = 0, int64_t nh = 0);
  virtual double** matrix(int64_t nrl, int64_t nrh, int64_t ncl, int64_t nch, int64_t nrmax = 0);
  virtual void FreeMatrix(double** m, int64_t nrl = 0, int64_t nrh = 0, int64_t ncl = 0, int64_t nch = 0);
  virtual void* Alloc(int count, int tag);
  [[noreturn]] virtual void AllocError(int tag);
  virtual double CountHalvings(double x);

  LogStream* log = nullptr;   // not owned
  int runFlag = 0;            // set by the application after building the object
  std::string name;           // module name, used in messages
};

// Grids that modules need only within one of their calls, shared by every module of a run
// (the modules run one after the other): a module takes slots 0, 1, ... for the grids it
// uses at the same time. What a slot holds when a call begins is undefined. A slot is a
// matrix of rows 1..nrows and columns 0..ncols, allocated when first taken.
class ScratchGrids;

// Owning handle of a 2-D matrix (RAII); exposes the 1-based row pointers.
class MatrixOwner {
 public:
  MatrixOwner() = default;
  explicit MatrixOwner(double** m) : m_(m) {}
  MatrixOwner(int64_t nrows, int64_t ncols, LogStream* log = nullptr)
      : m_(AllocateMatrix(log, 1, nrows, ncols, 0)) {}
  ~MatrixOwner() { ReleaseMatrix(m_); }
  MatrixOwner(MatrixOwner&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  MatrixOwner& operator=(MatrixOwner&& o) noexcept {
    if (this != &o) reset(std::exchange(o.m_, nullptr));
    return *this;
  }
  MatrixOwner(const MatrixOwner&) = delete;
  MatrixOwner& operator=(const MatrixOwner&) = delete;

  double* operator[](int64_t row) const { return m_[row]; }
  double** get() const { return m_; }
  double** release() { return std::exchange(m_, nullptr); }
  void reset(double** m = nullptr) {
    ReleaseMatrix(m_);
    m_ = m;
  }
  explicit operator bool() const { return m_ != nullptr; }

 private:
  double** m_ = nullptr;
};

// Frees the matrix m that one of owners holds (that owner is emptied); false when none does.
bool ReleaseHeld(std::vector<MatrixOwner>& owners, double** m);

class ScratchGrids {
 public:
  ScratchGrids(LogStream* log, int64_t nrows, int64_t ncols) : log_(log), nrows_(nrows), ncols_(ncols) {}
  double** Slot(size_t k);
  size_t Count() const { return slots_.size(); }
  bool Holds(double** m) const;

 private:
  LogStream* log_;
  int64_t nrows_, ncols_;
  std::vector<MatrixOwner> slots_;
};
