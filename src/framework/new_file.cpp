#include "framework/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "framework/text_helpers.h"

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

namespace {

std::FILE* StreamOf(int fd, const char* mode, const std::string& made) {
  if (fd < 0) return nullptr;
  const bool binary = mode != nullptr && mode[0] == 'w' && mode[1] == 'b';
  std::FILE* f = ::fdopen(fd, binary ? "wb" : "w");
  if (f == nullptr) {
    const int e = errno;
    ::close(fd);
    if (!made.empty()) ::unlink(made.c_str());
    errno = e;
  }
  return f;
}

// Writes the whole text to the stream just opened (null: it could not be, errno says why)
// and closes it; 0 or the errno of the failure.
int WriteAndClose(std::FILE* out, const std::string& text, bool& opened) {
  opened = out != nullptr;
  if (!opened) return errno != 0 ? errno : EIO;
  errno = 0;
  int e = std::fwrite(text.data(), 1, text.size(), out) == text.size() ? 0 : (errno != 0 ? errno : EIO);
  errno = 0;
  if (std::fclose(out) != 0 && e == 0) e = errno != 0 ? errno : EIO;
  return e;
}

}  // namespace

std::FILE* CreateNewStream(const std::string& path, const char* mode) {
  return StreamOf(CreateNewFile(path), mode, path);
}

int WriteNewFile(const std::string& path, const std::string& text, bool& opened) {
  errno = 0;
  const int e = WriteAndClose(CreateNewStream(path, "wb"), text, opened);
  if (e != 0 && opened) ::unlink(path.c_str());
  return e;
}

size_t BaseLength(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path.size() : path.size() - slash - 1;
}

bool NameLimits::Fit(const std::string& p) const { return BaseLength(p) <= name && p.size() < path; }

std::string FolderOfName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

NameLimits NameLimitsOf(const std::string& path) {
  const std::string folder = FolderOfName(path);
  NameLimits limits;
  const long name = ::pathconf(folder.c_str(), _PC_NAME_MAX), longest = ::pathconf(folder.c_str(), _PC_PATH_MAX);
  if (name > 0) limits.name = static_cast<size_t>(name);
  if (longest > 0) limits.path = static_cast<size_t>(longest);
  return limits;
}

namespace {

// True when path leads to an existing character device (a link to one included).
bool IsCharacterDevice(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Opens the character device path leads to for writing, as it stands: a file that took its
// place meanwhile is not written.
int OpenDevice(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    ::close(fd);
    errno = EEXIST;
    return -1;
  }
  return fd;
}

}  // namespace

namespace {

// path with mark after it, the end of path's last part cut where the whole would be longer
// than limits take: never inside a UTF-8 character, never the whole part. Empty when no cut
// makes it fit.
std::string CutToFit(const std::string& path, const std::string& mark, const NameLimits& limits) {
  const size_t base = BaseLength(path), start = path.size() - base;
  const size_t overName = base + mark.size() > limits.name ? base + mark.size() - limits.name : 0;
  const size_t overPath = path.size() + mark.size() >= limits.path ? path.size() + mark.size() + 1 - limits.path : 0;
  const size_t over = std::max(overName, overPath);
  if (over >= base) return std::string();
  size_t end = path.size() - over;
  while (end > start && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) --end;
  return end == start ? std::string() : path.substr(0, end) + mark;
}

}  // namespace

std::string FittedName(const std::string& path, const std::string& ending) {
  const std::string name = path + ending;
  // Every file system takes this much: its limits need no look.
  if (BaseLength(name) <= _POSIX_NAME_MAX && name.size() < _POSIX_PATH_MAX) return name;
  const NameLimits limits = NameLimitsOf(path);
  if (limits.Fit(name)) return name;
  const size_t base = BaseLength(path);
  const unsigned long long hash =
      Fnv1a(reinterpret_cast<const unsigned char*>(path.data() + path.size() - base), base);
  const std::string cut = CutToFit(path, FormatText(".%016llx", hash) + ending, limits);
  return cut.empty() ? name : cut;
}

OutputName::OutputName(const std::string& path) : final_(path), device_(IsCharacterDevice(path)) {
  temporary_ = device_ ? path : FittedName(path, kTemporaryEnding);
}

OutputName OutputName::WrittenUnder(const std::string& path, const std::string& temporary) {
  OutputName name;
  name.final_ = path;
  name.temporary_ = temporary;
  return name;
}

int OutputName::Create() const { return device_ ? OpenDevice(final_) : CreateNewFile(temporary_); }

std::FILE* OutputName::CreateStream(const char* mode) const {
  return StreamOf(Create(), mode, device_ ? std::string() : temporary_);
}

int OutputName::MoveIntoPlace() const {
  if (device_) return 0;
  return std::rename(temporary_.c_str(), final_.c_str()) == 0 ? 0 : errno;
}

void OutputName::RemoveTemporary() const {
  if (!device_) ClearName(temporary_);
}

int OutputName::WriteText(const std::string& text, bool& opened) const {
  errno = 0;
  const int e = WriteAndClose(CreateStream("wb"), text, opened);
  if (e != 0 && opened) RemoveTemporary();
  return e;
}

int OutputName::Write(const std::string& text, bool& opened) const {
  int e = WriteText(text, opened);
  if (e == 0 && (e = MoveIntoPlace()) != 0) RemoveTemporary();
  return e;
}

std::string SpareTemporaryName(const std::string& path, int attempt) {
  const std::string mark = "." + std::to_string(::getpid()) +
                           (attempt > 1 ? "-" + std::to_string(attempt) : std::string()) + OutputName::kTemporaryEnding;
  // Never longer than the folder's file system takes: the end of the name gives way.
  const NameLimits limits = NameLimitsOf(path);
  const std::string cut = limits.Fit(path + mark) ? std::string() : CutToFit(path, mark, limits);
  return cut.empty() ? path + mark : cut;
}
