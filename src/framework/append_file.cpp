#include "framework/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "framework/ctrl_c.h"
#include "framework/new_file.h"
#include "framework/text_helpers.h"

namespace {

// Appends text to the open file fd (closed here), taking a short append back.
int AppendOrCutBack(int fd, const std::string& path, const std::string& text) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const off_t before = ::lseek(fd, 0, SEEK_END);
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

}  // namespace

int AppendWhole(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  const int fd = OpenForAppending(path, O_CREAT);
  opened = fd >= 0;
  const int error = opened ? AppendOrCutBack(fd, path, text) : errno;
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
  // Anything else (a FIFO, a device, a folder) is never replaced: written as it is, or named
  // with the reason it cannot take the text.
  const int fd = OpenForAppending(path, O_NOFOLLOW);
  opened = fd >= 0;
  return opened ? AppendOrCutBack(fd, path, text) : errno;
}

}  // namespace

int AppendUnshared(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  const int error = AppendToItsOwnFile(path, text, opened);
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
