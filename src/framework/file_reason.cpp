#include "framework/file_reason.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "framework/new_file.h"
#include "framework/run_files.h"

namespace {

std::string Shown(const std::string& folder) { return folder == "/" ? folder : folder + "/"; }

std::string Reason(int e) { return e != 0 ? std::strerror(e) : std::string(); }

}  // namespace

std::string NotARegularFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return std::string();
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISCHR(st.st_mode)) return "a character device";
  if (S_ISBLK(st.st_mode)) return "a block device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  if (S_ISDIR(st.st_mode)) return "a folder";
  return "a special file";
}

std::string FileOpenReason(const std::string& path, bool forWriting, int errnoValue) {
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
  } else if (reason.empty()) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const int e = errno;
    if (f)
      std::fclose(f);
    else
      reason = Reason(e);
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
