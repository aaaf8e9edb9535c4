#include "framework/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "framework/file_reason.h"
#include "framework/logstream.h"

namespace {

// The text of the lock file: who holds it.
std::string ReadHolder(int fd) {
  std::string text;
  char buf[512];
  ssize_t n;
  ::lseek(fd, 0, SEEK_SET);
  while (text.size() < 4096 && (n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "a run that has not yet said who it is" : text;
}

// What stands under the lock file's name when it is no regular file of its own; empty when
// it is one (or nothing stands there).
std::string NotALockFile(const std::string& path, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISREG(st.st_mode))
    return st.st_nlink == 1 ? std::string()
                            : "a file with " + std::to_string(st.st_nlink) + " names (a hard link of another file)";
  const std::string kind = NotARegularFile(path);
  return kind.empty() ? "a special file" : kind;
}

[[noreturn]] void RefuseLockFile(LogStream* log, const std::string& path, const std::string& folder,
                                 const std::string& kind) {
  if (log)
    *log << "FATAL: the lock file " << path << " of " << folder << " is " << kind
         << ", not a lock file of its own: it is left as it is (the run's lock would be written into what it "
            "leads to or shares). Remove it, or give this run another folder"
         << "[end-entry]";
  throw 26;
}

}  // namespace

void OutputFolderLock::Take(LogStream* log, const std::string& folder, const std::string& controlFile,
                            const std::string& what, const std::string& detail, const std::string& remedy) {
  const std::string shown =
      what + " " + (folder.empty() ? "./ (the working folder)" : folder) + (detail.empty() ? "" : ", " + detail + ",");
  struct stat place {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &place) == 0)
    for (const Held& h : held_)
      if (h.folderDevice == place.st_dev && h.folderInode == place.st_ino) return;
  const std::string path = folder + kFileName;
  // The run that held the lock may remove its file between our open and our lock: the lock
  // counts only on the file that still stands under the name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat before {};
    if (::lstat(path.c_str(), &before) == 0) {
      const std::string kind = NotALockFile(path, before);
      if (!kind.empty()) RefuseLockFile(log, path, shown, kind);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
      const int e = errno;
      if (e == ELOOP) RefuseLockFile(log, path, shown, "a symbolic link");
      if (log)
        *log << "FATAL: cannot make the lock file " << path << " of " << shown << " ("
             << std::strerror(e) << ")" << "[end-entry]";
      throw 26;
    }
    struct stat held {};
    if (::fstat(fd, &held) != 0 || !NotALockFile(path, held).empty()) {
      const std::string kind = NotALockFile(path, held);
      ::close(fd);
      RefuseLockFile(log, path, shown, kind.empty() ? "no file that can be looked at" : kind);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      if (e == EWOULDBLOCK) {
        const std::string holder = ReadHolder(fd);
        ::close(fd);
        if (log)
          *log << "FATAL: " << shown << " is in use by another run (" << holder
               << "): two runs in one folder would write over each other's files. Let that run end, or " << remedy
               << "[end-entry]";
        throw 26;
      }
      ::close(fd);
      if (log)
        *log << "WARNING: " << shown << " cannot be locked (" << std::strerror(e)
             << "): nothing keeps another run from writing into it at the same time" << "[end-entry]";
      return;
    }
    // Locked: the file must still be the one under the name, and still have no other name.
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::lstat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    if (held.st_nlink != 1) {
      ::close(fd);
      RefuseLockFile(log, path, shown, NotALockFile(path, held));
    }
    std::error_code ignored;
    const std::string text = "process " + std::to_string(::getpid()) + ", control file " +
                             std::filesystem::absolute(controlFile, ignored).string() + "\n";
    if (::ftruncate(fd, 0) != 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      // The lock holds without the text; a second run is told less about the first.
    }
    held_.push_back(Held{fd, path, held.st_dev, held.st_ino, place.st_dev, place.st_ino});
    return;
  }
  if (log) *log << "FATAL: cannot lock " << shown << ": its lock file keeps changing" << "[end-entry]";
  throw 26;
}

void OutputFolderLock::Release() {
  for (const Held& h : held_) {
    // Removed while still locked, so that a run that opened the old file finds it gone and
    // makes anew; but only while the name is still this run's file.
    struct stat named {};
    if (::lstat(h.path.c_str(), &named) == 0 && named.st_dev == h.device && named.st_ino == h.inode)
      ::unlink(h.path.c_str());
    ::close(h.fd);
  }
  held_.clear();
}
