// Grid files prepared on the calling thread and written by one writer thread.
//
// A grid file job owns a copy of the cells in the file's own number format, the header
// with its statistics, and the path. Preparing it (one parallel pass over the rows: the
// copy, the conversion and the header statistics) is all the time step waits for; the
// writer thread then writes the job through "name.tmp" and a rename while the next step
// computes. Jobs are written in the order they were given, so a file written twice holds
// the later grid.
//
// Without an active GridOutputThread (start-up, tests, the end of a run) jobs are written
// at once by the caller.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/modelobject.h"

class LogStream;

// Allocates the cells of a job without filling them: the preparing pass writes every cell,
// so sizing a buffer costs no pass of its own over the memory.
template <typename T>
struct UnfilledAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnfilledAllocator<U>;
  };
  UnfilledAllocator() = default;
  template <typename U>
  UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
template <typename T>
using CellBuffer = std::vector<T, UnfilledAllocator<T>>;

struct GridFileJob {
  enum class Format { Ascii, Float, Double };
  std::string path;
  std::string writeTo;  // the name the file is written under when not its path (a staged file); messages name the path
  bool endState = false;  // a file of the end state: it waits whole under its staged name (framework/storage_file.h)
  Format format = Format::Float;
  GridGeometry geometry;
  std::array<double, 12> header{};  // binary files: geometry and statistics
  CellBuffer<double> doubles;       // Ascii and Double: nrows * ncols cells, row by row
  CellBuffer<float> floats;         // Float
  size_t Bytes() const { return doubles.size() * sizeof(double) + floats.size() * sizeof(float); }
};

// What writing a job came to: code 0, or the error code and its FATAL message.
struct GridWriteResult {
  int code = 0;
  std::string message;
};

// Writes the job's file through "path.tmp" and a rename (a file of the end state stays under
// "path.tmp" and is noted); never throws.
GridWriteResult WriteGridFile(const GridFileJob& job);

class GridOutputThread {
 public:
  // Starts the writer thread and makes it the one that grid writes are handed to. The log
  // receives the FATAL message of a failed write when it is raised. maxPendingBytes bounds
  // the memory of the jobs waiting: a hand-over waits while it is exceeded.
  explicit GridOutputThread(LogStream* log, size_t maxPendingBytes = size_t(512) << 20,
                            size_t maxSpareBytes = size_t(64) << 20);
  // Writes every job still waiting, then stops the thread. Every failure not named yet is
  // logged (the run ends with another code already: a grid it cost is named all the same).
  ~GridOutputThread();
  GridOutputThread(const GridOutputThread&) = delete;
  GridOutputThread& operator=(const GridOutputThread&) = delete;

  // The active writer thread, or nullptr.
  static GridOutputThread* Active();

  void Hand(GridFileJob job);
  // Jobs handed over so far.
  size_t Handed();
  // Gives the job the cell buffer of a written job of the same format and size when one is
  // kept (the writer keeps up to maxSpareBytes of them), so that a grid written every step
  // reuses its memory instead of mapping and clearing new pages each time. Returns false
  // when none was there; the job is left as it was.
  bool TakeSpareBuffer(GridFileJob& job, size_t cells);
  // Waits until every job handed over is written.
  void Drain();
  // When a write failed: logs the FATAL message of the first failure and throws its code
  // (once); every later failure is named too (an ERROR each), here or when it comes.
  void RaiseFailure();

 private:
  void Loop();

  LogStream* log;
  size_t maxPendingBytes;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<GridFileJob> jobs;
  size_t pendingBytes = 0;
  size_t maxSpareBytes;
  size_t spareBytes = 0;
  std::vector<CellBuffer<float>> spareFloats;
  std::vector<CellBuffer<double>> spareDoubles;
  bool busy = false;
  bool stopping = false;
  size_t handed = 0;
  // Logs the failures not named yet: the first one raised as its FATAL message, the others
  // as ERRORs. Called without the lock.
  void NameFailures(std::vector<GridWriteResult> failed, bool raising);
  std::vector<GridWriteResult> failures;  // in the order they came
  size_t failuresNamed = 0;
  bool failureRaised = false;
  GridOutputThread* previous = nullptr;
  std::thread thread;
};
