#include "framework/descriptor_stream.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "framework/ctrl_c.h"

namespace {

// True when fd takes a write now, or when a write would fail at once (a pipe without its
// reader, a closed descriptor): the write says which.
bool TakesAWriteNow(int fd, int waitMilliseconds) {
  pollfd p{fd, POLLOUT, 0};
  const int r = ::poll(&p, 1, waitMilliseconds);
  return r > 0 || (r < 0 && errno != EINTR);  // a descriptor poll cannot watch is written as it is
}

}  // namespace

DescriptorBuf::DescriptorBuf() { setp(buffer_, buffer_ + sizeof buffer_); }

void DescriptorBuf::Attach(int fd) {
  fd_ = fd;
  setp(buffer_, buffer_ + sizeof buffer_);
}

DescriptorBuf::int_type DescriptorBuf::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int DescriptorBuf::sync() { return Drain() ? 0 : -1; }

bool DescriptorBuf::Drain() {
  const size_t size = static_cast<size_t>(pptr() - pbase());
  // What could not be written is not tried again: the failure was reported with it.
  const bool written = size == 0 || WriteOut(pbase(), size);
  setp(buffer_, buffer_ + sizeof buffer_);
  return written;
}

bool DescriptorBuf::WriteOut(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

DescriptorStream::DescriptorStream() : std::ostream(nullptr) { rdbuf(&buf_); }

DescriptorStream::~DescriptorStream() { close(); }

void DescriptorStream::open(int fd) {
  close();
  buf_.Attach(fd);
  clear();
}

void DescriptorStream::close() {
  const int fd = buf_.Descriptor();
  if (fd < 0) return;
  const bool written = buf_.pubsync() == 0;
  int e = written ? 0 : errno;
  if (::close(fd) != 0 && e == 0 && errno != EINTR) e = errno;
  buf_.Attach(-1);
  if (e != 0) {
    setstate(std::ios::failbit);
    errno = e;
  }
}

bool ConsoleBuf::WriteOut(const char* data, size_t size) {
  while (size > 0 && !lost_) {
    // Short waits, so that a termination request is seen while the console takes nothing;
    // once one is made the console gets what it takes at once, in pieces a pipe takes whole.
    const int fd = Descriptor();
    while (!TakesAWriteNow(fd, TerminationSignal != 0 ? 0 : 100))
      if (TerminationSignal != 0) return true;
    const ssize_t n = ::write(fd, data, std::min<size_t>(size, PIPE_BUF));
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0 && errno == EPIPE) {
      lost_ = true;
      break;
    }
    if (n == 0) errno = EIO;
    return false;  // the next message tries again
  }
  return true;
}

ConsoleStream::ConsoleStream(int fd) : std::ostream(nullptr) {
  buf_.Attach(fd);
  rdbuf(&buf_);
}

ConsoleStream::~ConsoleStream() { flush(); }

void WriteNoticeWithoutWaiting(const char* text, size_t length) {
  if (!TakesAWriteNow(STDOUT_FILENO, 0)) return;
  const ssize_t ignored = ::write(STDOUT_FILENO, text, length);
  (void)ignored;
}
