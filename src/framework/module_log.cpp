#include "framework/module_log.h"

#include <sys/stat.h>

#include <cstring>

#include "framework/append_file.h"
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

std::string ModuleLogName() {
  struct stat st {};
  return SharedFileRefusesThisUser(kModuleLogName, st) ? OwnFileName(kModuleLogName) : std::string(kModuleLogName);
}

void AppendModuleLog(LogStream* log, const std::string& text) {
  if (text.empty() || DeferForTheBuild(text)) return;
  bool opened = false;
  const std::string name = ModuleLogName();
  const int e = AppendUnshared(name, text, opened);
  if (e == 0) return;
  if (log)
    *log << "ERROR: cannot " << (opened ? "write" : "open") << " the module log " << name << " ("
         << std::strerror(e) << "): a note of the run is lost" << "[end-entry]";
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
