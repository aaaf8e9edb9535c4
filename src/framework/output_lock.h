// A run holds the folders it writes into for itself: two runs writing into one folder would
// write over each other's files (a statistics file with the rows of both, a grid of the
// other run, one run's end state in place of the other's). The lock is advisory (flock) on
// the file ".orvel.lock" in the folder, which names the run that holds it; it is taken
// before the run writes anything into the folder and given back, the file removed, when the
// run ends. A run killed outright leaves the file, but not the lock: the next run takes it.
//
// The lock file is a regular file of its own or nothing: a link or a second name of another
// file standing there is never written (the run's lock text would land in that file), and
// the start-up ends naming it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class LogStream;

class OutputFolderLock {
 public:
  OutputFolderLock() = default;
  ~OutputFolderLock() { Release(); }
  OutputFolderLock(const OutputFolderLock&) = delete;
  OutputFolderLock& operator=(const OutputFolderLock&) = delete;

  // Takes the folder (as every output name is joined to it, with its trailing "/"; empty:
  // the working folder) for the run of controlFile, besides those it holds already (a folder
  // held already is not taken again). The messages call it what (followed by the folder and
  // by detail, when given, set off by commas). Another run holding it ends the start-up with
  // a FATAL naming the folder, that run's process and control file and the remedy (code 26);
  // a folder where no lock file can be made, or where something else stands under its name,
  // as well. A file system without locks gets a WARNING.
  void Take(LogStream* log, const std::string& folder, const std::string& controlFile,
            const std::string& what = "the output folder", const std::string& detail = std::string(),
            const std::string& remedy = "give this one another DefaultOutputDirectory in [output_interval]");
  // Gives every lock back and removes each lock file that is still this run's own (another
  // run may have made its own after a third party removed this one's).
  void Release();

  static constexpr const char* kFileName = ".orvel.lock";

 private:
  struct Held {
    int fd = -1;
    std::string path;
    dev_t device = 0;  // of the lock file
    ino_t inode = 0;
    dev_t folderDevice = 0;
    ino_t folderInode = 0;
  };
  std::vector<Held> held_;
};
