// The one message channel of the program: every message goes to the console and,
// filtered by a maximum level, into the FEWS PI "Diag" XML diagnostics file.
#pragma once

#include <fstream>
#include <iomanip>
#include <ostream>
#include <string>

#include "framework/descriptor_stream.h"

class LogStream {
 public:
  LogStream();
  LogStream(const std::string& file, int maxLevel);
  LogStream(std::ostream& console, const std::string& file, int maxLevel);
  // Closes the file (Close).
  ~LogStream();
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  LogStream& operator<<(const char* text);
  LogStream& operator<<(const std::string& text);
  LogStream& operator<<(int v);
  LogStream& operator<<(unsigned int v);
  LogStream& operator<<(long v);
  LogStream& operator<<(unsigned long v);
  LogStream& operator<<(long long v);
  LogStream& operator<<(unsigned long long v);
  LogStream& operator<<(float v);
  LogStream& operator<<(double v);
  LogStream& operator<<(char c);
  LogStream& operator<<(const void* p);
  LogStream& operator<<(void* p);
  LogStream& operator<<(decltype(std::setw(0)) manip);
  LogStream& operator<<(decltype(std::setfill('x')) manip);
  LogStream& operator<<(LogStream& (*fn)(LogStream&)) { return fn(*this); }

  // Writes the finish line and closes the file; false when a write to the file or its close
  // failed at any time (the failure was named on the console, once, when it happened).
  bool Close();

  // True once a write to the file failed: the run that goes on is no success.
  bool LostMessages() const { return writeError_ != 0; }

  const std::string& FileName() const { return fileName_; }
  int MaxLevel() const { return maxLevel_; }
  // Level of the message in progress (or of the last one).
  int Level() const { return level_; }

  // True for an existing file that does not begin like a diagnostics file ("<?xml"): it may
  // be an input of the run and is never written over.
  static bool HoldsNoDiagnostics(const std::string& path);

  // XML escaping of one text piece as it goes into the description attribute.
  static std::string EscapeForXml(const std::string& text);

 private:
  void Open(const std::string& file);
  // Makes the file new and locks it; false (with the errno of the failure in e) when it
  // cannot be made or is no regular file.
  bool OpenFile(const std::string& name, int& e);
  // The file of another user that this one may not replace (e: why; a folder with the
  // sticky bit): opened to be written in place where this user may write it (inPlace, to be
  // emptied once locked), else a file of this user's own made beside it (ownName_), which a
  // WARNING names with the shared file, its owner and the fix. -1 when neither can be.
  int OpenShared(const std::string& name, int& e, bool& inPlace);
  // Where no file of this user's own could be made beside another user's (OpenShared): ": "
  // and why, naming the file that blocks and its owner; empty otherwise. Said once.
  std::string OwnFileBlocked();
  // Another run holds the file (e == EWOULDBLOCK): FATAL on the console, code 26.
  [[noreturn]] void RefuseTakenFile();
  void WriteEntry(const char* text);
  template <typename T>
  LogStream& Value(const T& v);
  void WriteStartLine();
  void CloseOpenElement();
  // The console, ready for the next piece.
  std::ostream& Console();
  // Flushes the file; a failure is noted (NoteFileFailure).
  void Flush();
  // The first failed write or close: named on the console with the system's reason and
  // remembered (LostMessages): a full disk must not end in a success.
  void NoteFileFailure(int e);
  // A console whose reader has gone: said once, in the diagnostics file alone.
  void NoteLostConsole();
  bool FileUsable() const { return rank_ == 0 && file_.is_open() && file_.good(); }

  int rank_ = 0;
  DescriptorStream file_;  // made new and locked while it is written
  std::ostream* console_;
  const ConsoleStream* consoleDevice_ = nullptr;  // the console, when it is the program's own
  bool consoleLossNoted_ = false;
  bool newEntry_ = true;
  bool suppress_ = false;
  int level_ = 0;
  std::string entryText_;
  std::string fileName_;
  std::string ownName_;        // the file of this user's own beside a shared one (OpenShared)
  std::string ownBlocked_;      // why no file of this user's own could be made (OpenShared)
  std::string sharedWarning_;  // the WARNING that names the shared file, once the file is open
  int maxLevel_ = 4;
  int writeError_ = 0;  // errno of the first failed write or close; 0: none
};

// Local date and time as 2025-12-11T09:05:00.
std::string LocalTimeStamp();
