#include "framework/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "framework/logstream.h"

namespace {

// The text of the lock file: who holds it.
std::string ReadHolder(int fd) {
  std::string text;
  char buf[512];
  ssize_t n;
  ::lseek(fd, 0, SEEK_SET);
  while (text.size() < 4096 && (n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "a run that has not yet said who it is" : text;
}

}  // namespace

void OutputFolderLock::Take(LogStream* log, const std::string& folder, const std::string& controlFile) {
  Release();
  const std::string shown = folder.empty() ? "./ (the working folder)" : folder;
  const std::string path = folder + kFileName;
  // The run that held the lock may remove its file between our open and our lock: the lock
  // counts only on the file that still stands under the name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      const int e = errno;
      if (log)
        *log << "FATAL: cannot make the lock file " << path << " of the output folder " << shown << " ("
             << std::strerror(e) << ")" << "[end-entry]";
      throw 26;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      if (e == EWOULDBLOCK) {
        const std::string holder = ReadHolder(fd);
        ::close(fd);
        if (log)
          *log << "FATAL: the output folder " << shown << " is in use by another run (" << holder
               << "): two runs in one folder would write over each other's files. Let that run end, or give this "
                  "one another DefaultOutputDirectory in [output_interval]"
               << "[end-entry]";
        throw 26;
      }
      ::close(fd);
      if (log)
        *log << "WARNING: the output folder " << shown << " cannot be locked (" << std::strerror(e)
             << "): nothing keeps another run from writing into it at the same time" << "[end-entry]";
      return;
    }
    struct stat held {}, named {};
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    std::error_code ignored;
    const std::string text = "process " + std::to_string(::getpid()) + ", control file " +
                             std::filesystem::absolute(controlFile, ignored).string() + "\n";
    if (::ftruncate(fd, 0) != 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      // The lock holds without the text; a second run is told less about the first.
    }
    fd_ = fd;
    path_ = path;
    return;
  }
  if (log) *log << "FATAL: cannot lock the output folder " << shown << ": its lock file keeps changing" << "[end-entry]";
  throw 26;
}

void OutputFolderLock::Release() {
  if (fd_ < 0) return;
  // Removed while still locked: a run that opened the old file finds it gone and makes anew.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}
