#include "framework/append_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <cerrno>
#include <cstdio>

#include "framework/ctrl_c.h"
#include "framework/new_file.h"
#include "framework/text_helpers.h"

namespace {

void Blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Appends text to the open file fd (blocking), taking a short append back; before is the
// file's end, where it was.
int AppendAt(int fd, const std::string& text, off_t before) {
  int error = 0;
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // A short append is taken back, so that the rows before it stay whole; when even that
  // fails there is nothing more to do than to report the first failure.
  if (error != 0 && before >= 0) {
    const int ignored = ::ftruncate(fd, before);
    (void)ignored;
  }
  return error;
}
int AppendAt(int fd, const std::string& text) { return AppendAt(fd, text, ::lseek(fd, 0, SEEK_END)); }

// Appends text to the open file fd (closed here), taking a short append back.
int AppendOrCutBack(int fd, const std::string& path, const std::string& text) {
  Blocking(fd);
  const off_t before = ::lseek(fd, 0, SEEK_END);
  int error = AppendAt(fd, text, before);
  if (::close(fd) != 0 && error == 0 && errno != EINTR) {
    error = errno;
    if (before >= 0) {
      const int ignored = ::truncate(path.c_str(), before);
      (void)ignored;
    }
  }
  return error;
}

// Opens for appending; not blocking: a FIFO nobody reads from fails at once (ENXIO) instead
// of waiting for ever. -1 with errno set when it cannot be opened.
int OpenForAppending(const std::string& path, int moreFlags) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | moreFlags, 0666);
}

int WriteWholeOrNothing(const std::string& path, const std::string& text, bool& opened) {
  return OutputName(path).Write(text, opened);
}

std::atomic<int> unraisedWriteFailure{0};

// A file the run made, known by its device and inode, and the descriptor kept to append to
// it (-1: not opened yet, or opened for each append where descriptors are few).
struct MadeFile {
  unsigned long long device = 0, inode = 0;
  int fd = -1;
};
std::mutex madeLock;
std::map<std::string, MadeFile> madeFiles;  // by absolute name, links not resolved
size_t keptDescriptors = 0;

std::string AbsoluteName(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[4096];
  return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

// How many descriptors the files appended to may keep: a quarter of what the process may
// open, the rest left to the readers, the grids and the libraries.
size_t DescriptorsToKeep() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
  return static_cast<size_t>(limit.rlim_cur / 4);
}

bool SameFile(const struct stat& st, const MadeFile& made) {
  return S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_dev) == made.device &&
         static_cast<unsigned long long>(st.st_ino) == made.inode;
}

// Appends to the file the run made under path: through its kept descriptor while the name
// still leads to it, never to what has taken its name since.
int AppendToMadeFile(MadeFile& made, const std::string& path, const std::string& text, bool& opened) {
  struct stat st {};
  if (made.fd >= 0) {
    opened = ::lstat(path.c_str(), &st) == 0 && SameFile(st, made);
    return opened ? AppendAt(made.fd, text) : kNoLongerTheRunsFile;
  }
  const int fd = OpenForAppending(path, O_NOFOLLOW);
  opened = fd >= 0 && ::fstat(fd, &st) == 0 && SameFile(st, made);
  if (!opened) {
    const int e = fd < 0 && errno != ENOENT && errno != ELOOP ? errno : kNoLongerTheRunsFile;
    if (fd >= 0) ::close(fd);
    return e;
  }
  if (keptDescriptors >= DescriptorsToKeep()) return AppendOrCutBack(fd, path, text);
  Blocking(fd);
  made.fd = fd;
  ++keptDescriptors;
  return AppendAt(fd, text);
}

}  // namespace

void NoteFileMade(const std::string& path, unsigned long long device, unsigned long long inode) {
  std::lock_guard<std::mutex> guard(madeLock);
  MadeFile& made = madeFiles[AbsoluteName(path)];
  if (made.fd >= 0) {
    ::close(made.fd);
    --keptDescriptors;
  }
  made = MadeFile{device, inode, -1};
}

void ForgetFilesMade() {
  std::lock_guard<std::mutex> guard(madeLock);
  for (auto& [name, made] : madeFiles)
    if (made.fd >= 0) ::close(made.fd);
  madeFiles.clear();
  keptDescriptors = 0;
}

int AppendWhole(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  int error;
  {
    std::lock_guard<std::mutex> guard(madeLock);
    const auto made = madeFiles.empty() ? madeFiles.end() : madeFiles.find(AbsoluteName(path));
    if (made != madeFiles.end()) {
      error = AppendToMadeFile(made->second, path, text, opened);
    } else {
      const int fd = OpenForAppending(path, O_CREAT);
      opened = fd >= 0;
      error = opened ? AppendOrCutBack(fd, path, text) : errno;
    }
  }
  EnableCtrlCHandler();
  return error;
}

namespace {

int AppendToItsOwnFile(const std::string& path, const std::string& text, bool& opened) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      opened = false;
      return errno;
    }
    return WriteWholeOrNothing(path, text, opened);  // a new file
  }
  if (S_ISREG(st.st_mode) && st.st_nlink == 1) {
    const int fd = OpenForAppending(path, O_NOFOLLOW);
    opened = fd >= 0;
    if (!opened) return errno;
    // A second name may have been given to the file since it was looked at.
    struct stat held;
    if (::fstat(fd, &held) == 0 && held.st_nlink == 1) return AppendOrCutBack(fd, path, text);
    ::close(fd);
    if (::lstat(path.c_str(), &st) != 0) st.st_mode = 0;
  }
  if (S_ISLNK(st.st_mode)) return WriteWholeOrNothing(path, text, opened);  // what it leads to is not read
  if (S_ISREG(st.st_mode)) {
    // Shared with another name (a hard link): replaced by a copy that goes on.
    std::string before;
    if (!ReadWholeFile(path, before)) {
      opened = false;
      return errno != 0 ? errno : EIO;
    }
    return WriteWholeOrNothing(path, before + text, opened);
  }
  // Anything else (a FIFO, a device, a folder) is neither replaced nor written: a FIFO whose
  // reader stopped would hold the run for ever.
  opened = false;
  return S_ISDIR(st.st_mode) ? EISDIR : EPERM;
}

}  // namespace

int AppendUnshared(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  const int error = AppendToItsOwnFile(path, text, opened);
  EnableCtrlCHandler();
  return error;
}

int WriteInPlace(int fd, const std::string& text) {
  IgnoreCtrlC();
  Blocking(fd);
  int error = ::ftruncate(fd, 0) == 0 ? AppendAt(fd, text) : errno;
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  EnableCtrlCHandler();
  return error;
}

int WriteWhole(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  const int error = WriteWholeOrNothing(path, text, opened);
  EnableCtrlCHandler();
  return error;
}

void NoteUnraisedWriteFailure(int code) {
  int none = 0;
  if (code != 0) unraisedWriteFailure.compare_exchange_strong(none, code);
}

int TakeUnraisedWriteFailure() { return unraisedWriteFailure.exchange(0); }
