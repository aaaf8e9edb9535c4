#include "grids/grid_output_thread.h"

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "grids/grid_io_internal.h"

namespace {

GridOutputThread* activeThread = nullptr;

// The message of a failed write, with the system's reason (a full disk) when errno has one.
std::string WriteErrorText(const std::string& path) {
  const int e = errno;
  return "FATAL: write error " + path + " ! (18)" + FileOpenReason(path, true, e);
}

GridWriteResult Failed(int code, std::string message) { return GridWriteResult{code, std::move(message)}; }

GridWriteResult WriteAscii(const GridFileJob& job, grid_io::PendingFile& f) {
  const GridGeometry& g = job.geometry;
  if (std::fprintf(f.get(), "ncols\t%d\nnrows\t%d\nxllcorner\t%lf\nyllcorner\t%lf\ncellsize\t%lf\nnodata_value\t%lf\n",
                   g.ncols, g.nrows, g.xllcorner, g.yllcorner, g.cellsize, g.nodata_value) < 0)
    return Failed(18, WriteErrorText(job.path));
  const size_t cols = static_cast<size_t>(g.ncols);
  // Rows gather into chunks of some 64 KiB, which the file takes without copying them into
  // its own buffer. A row takes at most 15 characters and a separator per cell.
  constexpr size_t kChunk = size_t(64) << 10;
  const size_t rowBytes = cols * 16;
  std::vector<char> chunk(kChunk + rowBytes);
  char* out = chunk.data();
  const auto flush = [&] {
    const size_t length = static_cast<size_t>(out - chunk.data());
    out = chunk.data();
    return std::fwrite(chunk.data(), 1, length, f.get()) == length;
  };
  // A run of equal cells (no-data around the basin, a dry day's zeros) copies the text of the first.
  double previous = 0.0;
  char previousText[16];
  size_t previousLength = 0;
  for (size_t r = 0; r < static_cast<size_t>(g.nrows); ++r) {
    const double* row = job.doubles.data() + r * cols;
    for (size_t c = 0; c < cols; ++c) {
      const double v = row[c];
      if (previousLength > 0 && std::memcmp(&v, &previous, sizeof v) == 0) {
        std::memcpy(out, previousText, previousLength);
        out += previousLength;
      } else {
        char* const start = out;
        out = GeneralNumberText(v, out);
        previous = v;
        previousLength = static_cast<size_t>(out - start);
        std::memcpy(previousText, start, previousLength);
      }
      *out++ = c + 1 < cols ? '\t' : '\n';
    }
    if (static_cast<size_t>(out - chunk.data()) >= kChunk && !flush()) return Failed(18, WriteErrorText(job.path));
  }
  if (!flush()) return Failed(18, WriteErrorText(job.path));
  return {};
}

template <typename T>
GridWriteResult WriteBinary(const GridFileJob& job, const CellBuffer<T>& cells, grid_io::PendingFile& f) {
  T header[12];
  for (int i = 0; i < 12; ++i) header[i] = static_cast<T>(job.header[static_cast<size_t>(i)]);
  if (std::fwrite(header, sizeof(T), 12, f.get()) != 12 ||
      std::fwrite(cells.data(), sizeof(T), cells.size(), f.get()) != cells.size())
    return Failed(18, WriteErrorText(job.path));
  return {};
}

}  // namespace

GridWriteResult WriteGridFile(const GridFileJob& job) {
  // A file of the end state that is not written keeps the end state from replacing the earlier one.
  struct NoteFailure {
    const GridFileJob& job;
    bool written = false;
    ~NoteFailure() {
      if (!written && job.endState) NoteEndStateFailure(job.path);
    }
  } note{job};
  errno = 0;  // a reason given with a failure is this file's
  const bool ascii = job.format == GridFileJob::Format::Ascii;
  grid_io::PendingFile f(job.writeTo.empty() ? job.path : job.writeTo, ascii ? "w" : "wb");
  if (!f) {
    const int e = errno;
    return Failed(26, "FATAL: error creating " + job.path +
                          (ascii ? " for writing in text mode." : " for writing in binary mode.") +
                          FileOpenReason(job.path, true, e));
  }
  GridWriteResult r;
  if (ascii)
    r = WriteAscii(job, f);
  else if (job.format == GridFileJob::Format::Double)
    r = WriteBinary(job, job.doubles, f);
  else
    r = WriteBinary(job, job.floats, f);
  if (r.code != 0) return r;
  if (!(job.endState ? f.KeepForEndState() : f.Commit())) {
    const int e = errno;
    return Failed(27, "FATAL: error closing " + job.path + FileOpenReason(job.path, true, e));
  }
  note.written = true;
  return {};
}

GridOutputThread::GridOutputThread(LogStream* logStream, size_t maxPending, size_t maxSpare)
    : log(logStream), maxPendingBytes(maxPending), maxSpareBytes(maxSpare) {
  // The writer thread never takes Ctrl-C: the main thread's handler and menu see it.
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  thread = std::thread([this] { Loop(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  previous = activeThread;
  activeThread = this;
}

GridOutputThread::~GridOutputThread() {
  activeThread = previous;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
  std::vector<GridWriteResult> unnamed(failures.begin() + static_cast<std::ptrdiff_t>(failuresNamed), failures.end());
  NameFailures(std::move(unnamed), false);
}

void GridOutputThread::NameFailures(std::vector<GridWriteResult> failed, bool raising) {
  if (!log) return;
  for (size_t i = 0; i < failed.size(); ++i) {
    std::string& text = failed[i].message;
    // One failure ends the run; each other grid it could not write is named beside it.
    if (!(raising && i == 0) && text.rfind("FATAL: ", 0) == 0) text.replace(0, 7, "ERROR: ");
    *log << text << "[end-entry]";
  }
}

GridOutputThread* GridOutputThread::Active() { return activeThread; }

size_t GridOutputThread::Handed() {
  std::lock_guard<std::mutex> lock(mutex);
  return handed;
}

void GridOutputThread::Hand(GridFileJob job) {
  const size_t bytes = job.Bytes();
  std::unique_lock<std::mutex> lock(mutex);
  // One job always fits, however large.
  changed.wait(lock, [&] { return pendingBytes == 0 || pendingBytes + bytes <= maxPendingBytes; });
  pendingBytes += bytes;
  jobs.push_back(std::move(job));
  ++handed;
  lock.unlock();
  changed.notify_all();
}

namespace {

// Moves a kept buffer of the given size into the job's buffer; returns its bytes (0: none).
template <typename T>
size_t TakeSpare(std::vector<CellBuffer<T>>& spares, CellBuffer<T>& into, size_t cells) {
  for (size_t i = spares.size(); i-- > 0;) {
    if (spares[i].size() != cells) continue;
    into = std::move(spares[i]);
    spares.erase(spares.begin() + static_cast<std::ptrdiff_t>(i));
    return cells * sizeof(T);
  }
  return 0;
}

// Keeps the buffer when it fits into the bound of kept bytes.
template <typename T>
void KeepSpare(std::vector<CellBuffer<T>>& spares, CellBuffer<T>& buffer, size_t& spareBytes, size_t maxSpare) {
  const size_t bytes = buffer.size() * sizeof(T);
  if (bytes == 0 || spareBytes + bytes > maxSpare) return;
  spares.push_back(std::move(buffer));
  spareBytes += bytes;
}

}  // namespace

bool GridOutputThread::TakeSpareBuffer(GridFileJob& job, size_t cells) {
  std::lock_guard<std::mutex> lock(mutex);
  const size_t bytes = job.format == GridFileJob::Format::Float ? TakeSpare(spareFloats, job.floats, cells)
                                                                 : TakeSpare(spareDoubles, job.doubles, cells);
  spareBytes -= bytes;
  return bytes > 0;
}

void GridOutputThread::Drain() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [&] { return jobs.empty() && !busy; });
}

void GridOutputThread::RaiseFailure() {
  std::vector<GridWriteResult> unnamed;
  bool raising = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    unnamed.assign(failures.begin() + static_cast<std::ptrdiff_t>(failuresNamed), failures.end());
    failuresNamed = failures.size();
    raising = !unnamed.empty() && !failureRaised;
    failureRaised = failureRaised || raising;
  }
  const int code = raising ? unnamed.front().code : 0;
  NameFailures(std::move(unnamed), raising);
  if (raising) throw code;
}

void GridOutputThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [&] { return stopping || !jobs.empty(); });
    if (jobs.empty()) return;  // stopping, and nothing left to write
    GridFileJob job = std::move(jobs.front());
    jobs.pop_front();
    busy = true;
    lock.unlock();
    GridWriteResult r = WriteGridFile(job);
    const size_t bytes = job.Bytes();
    lock.lock();
    // The cell buffer is kept for a later job of the same size, or freed with the job
    // before the next one is taken.
    KeepSpare(spareFloats, job.floats, spareBytes, maxSpareBytes);
    KeepSpare(spareDoubles, job.doubles, spareBytes, maxSpareBytes);
    lock.unlock();
    job = GridFileJob{};
    lock.lock();
    busy = false;
    pendingBytes -= bytes;
    if (r.code != 0) failures.push_back(std::move(r));
    changed.notify_all();
  }
}
