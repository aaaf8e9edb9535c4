#include "framework/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int ClearName(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  // A device is no file of ours either: its name may be all the system has of it.
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    errno = EEXIST;
    return -1;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}

int CreateNewFile(const std::string& path) {
  if (ClearName(path) != 0) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::FILE* CreateNewStream(const std::string& path, const char* mode) {
  const int fd = CreateNewFile(path);
  if (fd < 0) return nullptr;
  const bool binary = mode != nullptr && mode[0] == 'w' && mode[1] == 'b';
  std::FILE* f = ::fdopen(fd, binary ? "wb" : "w");
  if (f == nullptr) {
    const int e = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = e;
  }
  return f;
}

int WriteNewFile(const std::string& path, const std::string& text, bool& opened) {
  errno = 0;
  std::FILE* out = CreateNewStream(path, "wb");
  opened = out != nullptr;
  if (!opened) return errno != 0 ? errno : EIO;
  int e = std::fwrite(text.data(), 1, text.size(), out) == text.size() ? 0 : (errno != 0 ? errno : EIO);
  if (std::fclose(out) != 0 && e == 0) e = errno != 0 ? errno : EIO;
  if (e != 0) ::unlink(path.c_str());
  return e;
}
