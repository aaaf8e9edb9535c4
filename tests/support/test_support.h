// Helpers shared by the tests: temporary folders, files, log streams that write into
// memory and a well-formedness check of diagnostics files.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "framework/logstream.h"

// A fresh folder below the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes a folder the working folder for the lifetime of the object and returns to the
// previous one after, also when a failed check ends the test early. The program writes its
// module log (and, without a named diagnostics file, that file) into the working folder.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::string previous_;
};

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);

// A log stream whose console is a string and whose diagnostics file lies in a temporary folder.
class CapturedLog {
 public:
  explicit CapturedLog(int maxLevel = 4);
  ~CapturedLog();
  LogStream& log() { return *log_; }
  LogStream* operator->() { return log_.get(); }
  std::string console() const { return console_.str(); }
  // Closes the log stream and returns the diagnostics file.
  std::string CloseAndReadDiag();
  const std::string& diagPath() const { return diagPath_; }

 private:
  TempDir dir_;
  std::ostringstream console_;
  std::string diagPath_;
  std::unique_ptr<LogStream> log_;
};

// True when xmllint accepts the file as well-formed XML (message in *why otherwise).
bool IsWellFormedXml(const std::string& path, std::string* why = nullptr);

// Runs a shell command, returns its exit status and its standard output and error.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Copies what a run of the example basin reads (control file, grids, station and list
// files, the start state) from its folder into dir; its README, scripts, picture and what
// a run left there stay behind.
void CopyExampleInputs(const std::string& exampleFolder, const std::string& dir);

// Makes at path a character device that throws away what is written to it, as /dev/null
// does (the tests never rely on /dev/null itself being one); false with the reason in *why
// when this system does not let a test make one (no privilege, a file system without devices).
bool MakeNullDevice(const std::string& path, std::string* why);

// True when the shell finds every command named in the blank-separated list.
bool ToolsInstalled(const std::string& commands);
// True when the outside tools of the tests are promised: ORVEL_REQUIRE_TOOLS is set (and not
// "0"), as scripts/run-tests.sh sets it after the install script has installed them.
bool ToolsRequired();

// A test that checks against an outside tool skips when the tool is missing, unless the
// tools are promised: then the missing tool fails the test instead of passing it unchecked.
#define ORVEL_NEEDS_TOOLS(commands)                                                           \
  do {                                                                                        \
    if (!ToolsInstalled(commands)) {                                                          \
      if (ToolsRequired()) FAIL() << "not installed: " << (commands) << " (ORVEL_REQUIRE_TOOLS is set)"; \
      GTEST_SKIP() << "not installed: " << (commands);                                       \
    }                                                                                         \
  } while (0)
