#include "framework/file_reason.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "framework/append_file.h"
#include "framework/new_file.h"
#include "framework/run_files.h"

namespace {

std::string Shown(const std::string& folder) { return folder == "/" ? folder : folder + "/"; }

std::string Reason(int e) { return e != 0 ? std::strerror(e) : std::string(); }

}  // namespace

std::string NotARegularFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::string();
  return KindOfFile(st.st_mode);
}

std::string KindOfFile(unsigned mode) {
  const mode_t st_mode = static_cast<mode_t>(mode);
  if (S_ISREG(st_mode)) return std::string();
  if (S_ISLNK(st_mode)) return "a symbolic link";  // a mode from lstat
  if (S_ISFIFO(st_mode)) return "a FIFO";
  if (S_ISCHR(st_mode)) return "a character device";
  if (S_ISBLK(st_mode)) return "a block device";
  if (S_ISSOCK(st_mode)) return "a socket";
  if (S_ISDIR(st_mode)) return "a folder";
  return "a special file";
}

std::string UserName(unsigned uid) {
  if (const passwd* p = ::getpwuid(static_cast<uid_t>(uid))) return p->pw_name;
  return "uid " + std::to_string(uid);
}

std::string FileOpenReason(const std::string& path, bool forWriting, int errnoValue) {
  if (forWriting && errnoValue == kNoLongerTheRunsFile) {
    struct stat st {};
    std::string now = "nothing stands there now";
    if (::lstat(path.c_str(), &st) == 0) {
      const std::string kind = KindOfFile(st.st_mode);
      now = (kind.empty() ? std::string("another file") : kind) + " of user " + UserName(st.st_uid) +
            " has taken its place";
    }
    return " (the name no longer leads to the file the run made and appends to: " + now +
           "; nothing is written through it)";
  }
  if (!forWriting) {
    const std::string kind = NotARegularFile(path);
    if (!kind.empty()) return " (" + kind + ", not a regular file)";
  }
  std::string reason = Reason(errnoValue);
  if (forWriting) {
    const std::string folder = FolderOfName(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
      const int e = errno;
      if (reason.empty()) reason = Reason(e);
      reason += "; the folder " + Shown(folder) + " does not exist";
    } else if (!S_ISDIR(st.st_mode)) {
      if (reason.empty()) reason = Reason(ENOTDIR);
      reason += "; " + Shown(folder) + " is not a folder";
    }
  } else {
    if (reason.empty()) {
      errno = 0;
      std::FILE* f = std::fopen(path.c_str(), "rb");
      const int e = errno;
      if (f)
        std::fclose(f);
      else
        reason = Reason(e);
    }
    // A link that leads to no file shows under its name (ls lists it): its target is named.
    struct stat own {}, target {};
    if (!reason.empty() && ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode) &&
        ::stat(path.c_str(), &target) != 0 && errno == ENOENT) {
      std::string to(4096, '\0');
      const ssize_t n = ::readlink(path.c_str(), &to[0], to.size());
      to.resize(n > 0 ? static_cast<size_t>(n) : 0);
      reason += ": it is a symbolic link to " + to + ", which leads to no file";
    }
  }
  return reason.empty() ? std::string() : " (" + reason + ")";
}

std::string FileNamedBy(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  const std::string target = resolved;
  std::free(resolved);
  return target;
}

std::string UnwritableOutput(const std::string& entry, const std::string& note) {
  std::string text = RunFiles::Current().FirstUnwritable();
  if (!text.empty() && !note.empty() && text.rfind(entry + " would be written to ", 0) == 0) text += ". " + note;
  return text;
}
