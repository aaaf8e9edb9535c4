#include "framework/memory_handling.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "framework/logstream.h"

namespace {

const int64_t kMaxBlockBytes = 2147480000;
const uintptr_t kMatrixMagic = 0x4f52564c4d415432ULL;  // marks a header written by AllocateMatrix

// Bytes of the values of every matrix allocated and not yet released, and their peak.
std::atomic<long long> liveBytes{0}, peakBytes{0};

void CountAllocated(long long bytes) {
  const long long now = liveBytes.fetch_add(bytes) + bytes;
  long long peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}

[[noreturn]] void MatrixFailure(LogStream* log, const char* text, int code) {
  if (log) *log << text << "[end-entry]";
  throw code;
}

int64_t CeilLog2(double x) {
  if (x <= 1.0) return 0;
  int64_t n = 0;
  while (x > 1.0) {
    x /= 2.0;
    ++n;
  }
  return n;
}

// The split of rows nrl..nrh into blocks: returns the row count of each block.
std::vector<int64_t> SplitRows(int64_t nrl, int64_t nrh, int64_t rowbytes) {
  std::vector<int64_t> blocks;
  int64_t total = (nrh - nrl + 2) * rowbytes;
  int64_t threshold = static_cast<int64_t>(static_cast<double>(total) * 0.1);
  int64_t r = nrl;
  int64_t remaining = total;
  while (true) {
    int64_t n = CeilLog2(static_cast<double>(remaining + 24));
    double pow_n = std::ldexp(1.0, static_cast<int>(n));
    if (remaining <= threshold && pow_n < static_cast<double>(kMaxBlockBytes)) break;
    if (static_cast<double>(rowbytes + 24) > std::ldexp(1.0, static_cast<int>(n - 1))) break;
    int64_t blockbytes = static_cast<int64_t>(std::ldexp(1.0, static_cast<int>(n - 1))) - 24;
    if (blockbytes > kMaxBlockBytes) blockbytes = kMaxBlockBytes;
    int64_t k = blockbytes / rowbytes;
    if (r + k > nrh + 1) k = nrh + 1 - r;
    remaining = (nrh + 1 - r - k) * rowbytes;
    if (k > 0) blocks.push_back(k);
    r += k;
    if (remaining < 1) return blocks;
  }
  if (r <= nrh) blocks.push_back(nrh - r + 1);
  return blocks;
}

}  // namespace

double** AllocateMatrix(LogStream* log, int64_t nrl, int64_t nrh, int64_t nch, int64_t nrmax) {
  if (nch < 0) nch = 0;
  int64_t rowbytes = (nch + 1) * static_cast<int64_t>(sizeof(double));
  if (rowbytes + 24 > kMaxBlockBytes) MatrixFailure(log, "FATAL: too long matrix rows", 1);
  if (nrl < 0 || nrh < nrl - 1) MatrixFailure(log, "FATAL: memory allocation error 1 in matrix()", 1);
  std::vector<int64_t> blocks = nrh >= nrl ? SplitRows(nrl, nrh, rowbytes) : std::vector<int64_t>{};
  int64_t entries = (nrmax > 0 ? std::max(nrmax, nrh) : nrh) + 1;
  // Header in front of the row pointers: block addresses, the bytes of the values, the
  // block count and a magic word.
  int64_t header = static_cast<int64_t>(blocks.size()) + 3;
  double** base = static_cast<double**>(std::calloc(static_cast<size_t>(header + entries), sizeof(double*)));
  if (!base) MatrixFailure(log, "FATAL: memory allocation error 1 in matrix()", 1);
  double** m = base + header;
  m[-1] = reinterpret_cast<double*>(kMatrixMagic);
  m[-2] = reinterpret_cast<double*>(static_cast<uintptr_t>(blocks.size()));
  int64_t r = nrl;
  uintptr_t bytes = 0;
  for (size_t b = 0; b < blocks.size(); ++b) {
    int64_t k = blocks[b];
    double* block = static_cast<double*>(std::calloc(static_cast<size_t>(k * (nch + 1)), sizeof(double)));
    if (!block) {
      for (size_t done = 0; done < b; ++done) std::free(m[-4 - static_cast<int64_t>(done)]);
      std::free(base);
      MatrixFailure(log, "FATAL: memory allocation error 2 in matrix()", 1);
    }
    m[-4 - static_cast<int64_t>(b)] = block;
    bytes += static_cast<uintptr_t>(k * (nch + 1)) * sizeof(double);
    for (int64_t i = 0; i < k; ++i) m[r + i] = block + i * (nch + 1);
    r += k;
  }
  m[-3] = reinterpret_cast<double*>(bytes);
  CountAllocated(static_cast<long long>(bytes));
  return m;
}

double** AllocateRepeatedRowMatrix(LogStream* log, int64_t nrl, int64_t nrh, int64_t nch, double value) {
  if (nch < 0) nch = 0;
  if ((nch + 1) * static_cast<int64_t>(sizeof(double)) + 24 > kMaxBlockBytes)
    MatrixFailure(log, "FATAL: too long matrix rows", 1);
  if (nrl < 0 || nrh < nrl - 1) MatrixFailure(log, "FATAL: memory allocation error 1 in matrix()", 1);
  // The header of AllocateMatrix with one block: the row.
  const int64_t header = 4, entries = nrh + 1;
  double** base = static_cast<double**>(std::calloc(static_cast<size_t>(header + entries), sizeof(double*)));
  if (!base) MatrixFailure(log, "FATAL: memory allocation error 1 in matrix()", 1);
  double* row = static_cast<double*>(std::malloc(static_cast<size_t>(nch + 1) * sizeof(double)));
  if (!row) {
    std::free(base);
    MatrixFailure(log, "FATAL: memory allocation error 2 in matrix()", 1);
  }
  for (int64_t c = 0; c <= nch; ++c) row[c] = value;
  double** m = base + header;
  m[-1] = reinterpret_cast<double*>(kMatrixMagic);
  m[-2] = reinterpret_cast<double*>(static_cast<uintptr_t>(1));
  const uintptr_t bytes = static_cast<uintptr_t>(nch + 1) * sizeof(double);
  m[-3] = reinterpret_cast<double*>(bytes);
  m[-4] = row;
  CountAllocated(static_cast<long long>(bytes));
  for (int64_t r = nrl; r <= nrh; ++r) m[r] = row;
  return m;
}

int MatrixBlockCount(double** m) {
  if (!m) return 0;
  return static_cast<int>(reinterpret_cast<uintptr_t>(m[-2]));
}

long long MatrixBytes(double** m) {
  if (!m) return 0;
  return static_cast<long long>(reinterpret_cast<uintptr_t>(m[-3]));
}

void ReleaseMatrix(double** m) {
  if (!m) return;
  if (reinterpret_cast<uintptr_t>(m[-1]) != kMatrixMagic) std::abort();  // not one of ours: never free blindly
  int64_t nb = static_cast<int64_t>(reinterpret_cast<uintptr_t>(m[-2]));
  for (int64_t b = 0; b < nb; ++b) std::free(m[-4 - b]);
  liveBytes.fetch_sub(static_cast<long long>(reinterpret_cast<uintptr_t>(m[-3])));
  m[-1] = nullptr;
  std::free(m - (nb + 3));
}

double** ScratchGrids::Slot(size_t k) {
  while (slots_.size() <= k) slots_.emplace_back(AllocateMatrix(log_, 1, nrows_, ncols_, 0));
  return slots_[k].get();
}

bool ScratchGrids::Holds(double** m) const {
  for (const MatrixOwner& s : slots_)
    if (m && s.get() == m) return true;
  return false;
}

bool ReleaseHeld(std::vector<MatrixOwner>& owners, double** m) {
  for (MatrixOwner& o : owners)
    if (m && o.get() == m) {
      o.reset();
      return true;
    }
  return false;
}

long long LiveMatrixBytes() { return liveBytes.load(); }
long long PeakMatrixBytes() { return peakBytes.load(); }
void ResetPeakMatrixBytes() { peakBytes.store(liveBytes.load()); }

double*** Allocate3DMatrix(LogStream* log, int64_t nl, int64_t nh, int nrl, int64_t nrh, int64_t nch,
                           int64_t nlmax) {
  if (nch < 0) nch = 0;
  if (nl < 0 || nh < nl - 1 || nrh < 0) MatrixFailure(log, "FATAL: memory allocation error (1) in 3_d_matrix()", 1);
  int64_t entries = (nlmax > 0 ? std::max(nlmax, nh) : nh) + 1;
  // Two hidden slots in front hold the number of first-level entries and the bytes of the values.
  double*** base = static_cast<double***>(std::calloc(static_cast<size_t>(entries + 2), sizeof(double**)));
  if (!base) MatrixFailure(log, "FATAL: memory allocation error (1) in 3_d_matrix()", 1);
  double*** m = base + 2;
  m[-1] = reinterpret_cast<double**>(static_cast<uintptr_t>(entries));
  const uintptr_t levelBytes = static_cast<uintptr_t>((nrh + 1) * (nch + 1)) * sizeof(double);
  for (int64_t i = nl; i <= nh; ++i) {
    double** second = static_cast<double**>(std::calloc(static_cast<size_t>(nrh + 1), sizeof(double*)));
    if (!second) MatrixFailure(log, "FATAL: memory allocation error (2) in 3_d_matrix()", 1);
    double* block = static_cast<double*>(std::calloc(static_cast<size_t>((nrh + 1) * (nch + 1)), sizeof(double)));
    if (!block) {
      std::free(second);
      MatrixFailure(log, "FATAL: memory allocation error (3) in 3_d_matrix()", 1);
    }
    second[0] = block;
    for (int64_t j = std::max<int64_t>(nrl, 0); j <= nrh; ++j) second[j] = block + j * (nch + 1);
    m[i] = second;
    m[-2] = reinterpret_cast<double**>(reinterpret_cast<uintptr_t>(m[-2]) + levelBytes);
    CountAllocated(static_cast<long long>(levelBytes));
  }
  return m;
}

void Release3DMatrix(double*** m) {
  if (!m) return;
  int64_t entries = static_cast<int64_t>(reinterpret_cast<uintptr_t>(m[-1]));
  for (int64_t i = 0; i < entries; ++i) {
    if (m[i]) {
      std::free(m[i][0]);
      std::free(m[i]);
    }
  }
  liveBytes.fetch_sub(static_cast<long long>(reinterpret_cast<uintptr_t>(m[-2])));
  std::free(m - 2);
}

double*** memory_handling::d3_matrix(int64_t nl, int64_t nh, int nrl, int64_t nrh, int64_t nch, int64_t nlmax) {
  return Allocate3DMatrix(log, nl, nh, nrl, nrh, nch, nlmax);
}

void memory_handling::Free3DMatrix(double*** m, int64_t, int64_t) { Release3DMatrix(m); }

double** memory_handling::matrix(int64_t nrl, int64_t nrh, int64_t, int64_t nch, int64_t nrmax) {
  return AllocateMatrix(log, nrl, nrh, nch, nrmax);
}

void memory_handling::FreeMatrix(double** m, int64_t, int64_t, int64_t, int64_t) { ReleaseMatrix(m); }

void* memory_handling::Alloc(int count, int tag) {
  void* p = std::calloc(count > 0 ? static_cast<size_t>(count) : 1, 1);
  if (!p) AllocError(tag);
  return p;
}

void memory_handling::AllocError(int tag) {
  if (log) *log << "FATAL: memory allocation error in " << name << " (" << tag << "[end-entry]";
  throw 81;
}

double memory_handling::CountHalvings(double x) { return static_cast<double>(CeilLog2(x)); }
