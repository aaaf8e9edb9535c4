// A run holds its output folder for itself: two runs writing into one folder would write
// over each other's files (a statistics file with the rows of both, a grid of the other
// run). The lock is advisory (flock) on the file ".orvel.lock" in the folder, which names
// the run that holds it; it is taken before the run writes anything into the folder and
// given back, the file removed, when the run ends. A run killed outright leaves the file, but
// not the lock: the next run takes it.
#pragma once

#include <string>

class LogStream;

class OutputFolderLock {
 public:
  OutputFolderLock() = default;
  ~OutputFolderLock() { Release(); }
  OutputFolderLock(const OutputFolderLock&) = delete;
  OutputFolderLock& operator=(const OutputFolderLock&) = delete;

  // Takes the folder (as every output name is joined to it, with its trailing "/"; empty:
  // the working folder) for the run of controlFile. Another run holding it ends the start-up
  // with a FATAL naming the folder, that run's process and control file (code 26); a folder
  // where no lock file can be made as well. A file system without locks gets a WARNING.
  void Take(LogStream* log, const std::string& folder, const std::string& controlFile);
  // Removes the lock file and gives the lock back (nothing when none is held).
  void Release();

  static constexpr const char* kFileName = ".orvel.lock";

 private:
  int fd_ = -1;
  std::string path_;
};
