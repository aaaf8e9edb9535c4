#include "framework/module_log.h"

#include <sys/stat.h>

#include <cstring>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/shared_file.h"

namespace {

bool DeferForTheBuild(const std::string& text) {
  return RunFiles::Current().Defer("the module log", ModuleLogName(), text, true,
                                   "The module log is written in the working folder: run the program from "
                                   "another folder or give the input another name.");
}

}  // namespace

std::string ModuleLogName(std::string* blocked) {
  struct stat st {};
  if (blocked) blocked->clear();
  return SharedFileRefusesThisUser(kModuleLogName, st) ? OwnFileName(kModuleLogName, blocked)
                                                        : std::string(kModuleLogName);
}

void AppendModuleLog(LogStream* log, const std::string& text) {
  if (text.empty() || DeferForTheBuild(text)) return;
  bool opened = false;
  std::string blocked;
  const std::string name = ModuleLogName(&blocked);
  const int e = blocked.empty() ? AppendUnshared(name, text, opened) : EACCES;
  if (e == 0) return;
  const std::string kind = NotARegularFile(name);
  if (log)
    *log << "ERROR: cannot " << (opened ? "write" : "open") << " the module log " << name << " ("
         << (!blocked.empty() ? "another user's file stands under " + std::string(kModuleLogName) +
                                    " and under each name of this user's own beside it: " + blocked
             : kind.empty() ? std::string(std::strerror(e))
                            : kind + ", not a regular file")
         << "): a note of the run is lost" << "[end-entry]";
  NoteUnraisedWriteFailure(kFileNotWritten);
}

void DeclareModuleLog(LogStream* log) {
  DeferForTheBuild(std::string());
  struct stat st {};
  if (!log || !SharedFileRefusesThisUser(kModuleLogName, st)) return;
  *log << "WARNING: "
       << SharedFileWarning(std::string("the module log ") + kModuleLogName + " in the working folder", st,
                            "append to it", "its notes to " + OwnFileName(kModuleLogName), "module log",
                            kModuleLogName)
       << "[end-entry]";
}
