#include "framework/module_log.h"

#include <cstring>

#include "framework/append_file.h"
#include "framework/logstream.h"
#include "framework/run_files.h"

namespace {

bool DeferForTheBuild(const std::string& text) {
  return RunFiles::Current().Defer("the module log", kModuleLogName, text, true,
                                   "The module log is written in the working folder: run the program from "
                                   "another folder or give the input another name.");
}

}  // namespace

void AppendModuleLog(LogStream* log, const std::string& text) {
  if (text.empty() || DeferForTheBuild(text)) return;
  bool opened = false;
  const int e = AppendUnshared(kModuleLogName, text, opened);
  if (e == 0) return;
  if (log)
    *log << "ERROR: cannot " << (opened ? "write" : "open") << " the module log " << kModuleLogName << " ("
         << std::strerror(e) << "): a note of the run is lost" << "[end-entry]";
  NoteUnraisedWriteFailure(kFileNotWritten);
}

void DeclareModuleLog() { DeferForTheBuild(std::string()); }
