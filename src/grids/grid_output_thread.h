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
#include <vector>

#include "framework/modelobject.h"

class LogStream;

struct GridFileJob {
  enum class Format { Ascii, Float, Double };
  std::string path;
  Format format = Format::Float;
  GridGeometry geometry;
  std::array<double, 12> header{};  // binary files: geometry and statistics
  std::vector<double> doubles;      // Ascii and Double: nrows * ncols cells, row by row
  std::vector<float> floats;        // Float
  size_t Bytes() const { return doubles.size() * sizeof(double) + floats.size() * sizeof(float); }
};

// What writing a job came to: code 0, or the error code and its FATAL message.
struct GridWriteResult {
  int code = 0;
  std::string message;
};

// Writes the job's file through "path.tmp" and a rename; never throws.
GridWriteResult WriteGridFile(const GridFileJob& job);

class GridOutputThread {
 public:
  // Starts the writer thread and makes it the one that grid writes are handed to. The log
  // receives the FATAL message of a failed write when it is raised. maxPendingBytes bounds
  // the memory of the jobs waiting: a hand-over waits while it is exceeded.
  explicit GridOutputThread(LogStream* log, size_t maxPendingBytes = size_t(512) << 20);
  // Writes every job still waiting, then stops the thread. A failure not raised yet is
  // logged (the run ends with another code already).
  ~GridOutputThread();
  GridOutputThread(const GridOutputThread&) = delete;
  GridOutputThread& operator=(const GridOutputThread&) = delete;

  // The active writer thread, or nullptr.
  static GridOutputThread* Active();

  void Hand(GridFileJob job);
  // Waits until every job handed over is written.
  void Drain();
  // When a write failed: logs its FATAL message and throws its code (once).
  void RaiseFailure();

 private:
  void Loop();

  LogStream* log;
  size_t maxPendingBytes;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<GridFileJob> jobs;
  size_t pendingBytes = 0;
  bool busy = false;
  bool stopping = false;
  GridWriteResult failure;  // the first failure
  bool failureRaised = false;
  GridOutputThread* previous = nullptr;
  std::thread thread;
};
