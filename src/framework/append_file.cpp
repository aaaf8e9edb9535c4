#include "framework/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "framework/ctrl_c.h"

namespace {

int AppendOrCutBack(const std::string& path, const std::string& text, bool& opened) {
  // Not blocking: a FIFO nobody reads from fails at once (ENXIO) instead of waiting for ever.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  opened = fd >= 0;
  if (!opened) return errno;
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

int WriteWholeOrNothing(const std::string& path, const std::string& text, bool& opened) {
  const std::string temporary = path + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  opened = f != nullptr;
  if (!opened) return errno;
  errno = 0;
  int error = std::fwrite(text.data(), 1, text.size(), f) == text.size() ? 0 : (errno != 0 ? errno : EIO);
  if (std::fclose(f) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) std::remove(temporary.c_str());
  return error;
}

std::atomic<int> unraisedWriteFailure{0};

}  // namespace

int AppendWhole(const std::string& path, const std::string& text, bool& opened) {
  IgnoreCtrlC();
  const int error = AppendOrCutBack(path, text, opened);
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
