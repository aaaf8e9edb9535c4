#include "framework/module_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"

namespace {

// The shared log, when it stands as a file of its own that this user may not append to (a
// file of another user, made under umask 022) while the folder takes a log of this user's.
bool SharedLogRefusesThisUser(struct stat& st) {
  if (::lstat(kModuleLogName, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  return ::faccessat(AT_FDCWD, kModuleLogName, W_OK, AT_EACCESS) != 0 && errno == EACCES &&
         ::access(".", W_OK | X_OK) == 0;
}

// "modell_0.<user>.log", the user's name kept to the characters a file name takes anywhere.
std::string OwnLogName() {
  std::string user = UserName(::geteuid());
  for (char& c : user)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  return "modell_0." + user + ".log";
}

bool DeferForTheBuild(const std::string& text) {
  return RunFiles::Current().Defer("the module log", ModuleLogName(), text, true,
                                   "The module log is written in the working folder: run the program from "
                                   "another folder or give the input another name.");
}

}  // namespace

std::string ModuleLogName() {
  struct stat st {};
  return SharedLogRefusesThisUser(st) ? OwnLogName() : std::string(kModuleLogName);
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
  if (!log || !SharedLogRefusesThisUser(st)) return;
  *log << "WARNING: the module log " << kModuleLogName << " in the working folder belongs to user "
       << UserName(st.st_uid) << FormatText(" (mode %04o)", static_cast<unsigned>(st.st_mode & 07777))
       << ", and this user cannot append to it: this run writes its notes to " << OwnLogName()
       << ". To share one module log, its owner makes it writable for the group (chmod g+w " << kModuleLogName
       << ") and every user of the folder runs with umask 002" << "[end-entry]";
}
