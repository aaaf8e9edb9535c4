// Reading the routing part of the storage file: a cursor that counts the items it reads
// and names the file and that count in every failure (error 71), so that a damaged or
// truncated file never leaves half-read state behind a running model.
#pragma once

#include <string>

#include "routing/routing_channel.h"

class LogStream;
class TextCursor;

class StateReader {
 public:
  StateReader(TextCursor& file, std::string path, LogStream* log);
  int Int(const std::string& what);
  double Double(const std::string& what);
  // The mean of the values of the next line that is not empty, which must hold expected
  // values (a comment may follow them).
  double LineMean(int expected, const std::string& what);
  void SkipLine();
  // The next whole line (may be empty); FATAL at the end of the file.
  std::string Line(const std::string& what);
  size_t Mark() const;
  void Return(size_t mark);
  // "FATAL: " what " in file " path " (position " n ")", error 71.
  [[noreturn]] void Fail(const std::string& what) const;
  long Position() const { return position_; }

 private:
  TextCursor& file_;
  std::string path_;
  LogStream* log_;
  long position_ = 0;
};

// Sets each sub-channel's last occupied queue slot from the restored queue and outflows
// (the translation the sub-channel used in its last step).
void RestoreLastSlots(ChannelTable& c, double dt);
