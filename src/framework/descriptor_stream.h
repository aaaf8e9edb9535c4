// Output streams over a file descriptor: the diagnostics file, which the log stream makes new
// and locks itself before it writes, and the console (standard output), which must never
// hold up or end a run that nobody watches.
#pragma once

#include <ostream>
#include <streambuf>

// A buffer that writes to a file descriptor it does not own. What it writes goes out on
// every flush of its stream and whenever its buffer is full.
class DescriptorBuf : public std::streambuf {
 public:
  DescriptorBuf();
  void Attach(int fd);
  int Descriptor() const { return fd_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;
  // Writes size bytes; false with errno set when they could not all be written.
  virtual bool WriteOut(const char* data, size_t size);

 private:
  bool Drain();
  int fd_ = -1;
  char buffer_[8192];
};

// A stream over a file descriptor that it owns from open(fd) to close().
class DescriptorStream : public std::ostream {
 public:
  DescriptorStream();
  ~DescriptorStream() override;
  DescriptorStream(const DescriptorStream&) = delete;
  DescriptorStream& operator=(const DescriptorStream&) = delete;
  void open(int fd);
  bool is_open() const { return buf_.Descriptor() >= 0; }
  // Writes what is buffered and closes the descriptor; failbit (errno set) when either fails.
  void close();

 private:
  DescriptorBuf buf_;
};

// The console: standard output of the program, which a terminal, a file or a pipe to a log
// collector may take.
// - A reader that goes away (`orvelvco64 basin.ctl | head`) costs the console only: the
//   program ignores SIGPIPE, the console is lost (Lost) and takes nothing more, and the run
//   goes on, its messages in the diagnostics file.
// - Once a termination is requested (SIGTERM, SIGHUP) a write never waits: what a console
//   that nobody reads cannot take at once is left out (the diagnostics file has it), so that
//   the run ends after its next step as it is asked to. Before that, a console that is not
//   read holds the run up, as any full output would.
class ConsoleBuf : public DescriptorBuf {
 public:
  bool Lost() const { return lost_; }

 protected:
  bool WriteOut(const char* data, size_t size) override;

 private:
  bool lost_ = false;
};

class ConsoleStream : public std::ostream {
 public:
  explicit ConsoleStream(int fd);
  ~ConsoleStream() override;
  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;
  // True once the console's reader has gone (a broken pipe).
  bool Lost() const { return buf_.Lost(); }

 private:
  ConsoleBuf buf_;
};

// Writes a notice of a signal handler to standard output if it can be taken at once (a
// console nobody reads must not hold up the handler); async-signal-safe.
void WriteNoticeWithoutWaiting(const char* text, size_t length);
