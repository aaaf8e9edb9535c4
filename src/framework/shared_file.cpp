#include "framework/shared_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "framework/file_reason.h"
#include "framework/new_file.h"
#include "framework/text_helpers.h"

namespace {

// Who owns the entry st describes and what it is: "user <owner> (<kind, >mode <mode>)".
std::string OwnerAndMode(const struct stat& st) {
  std::string kind = KindOfFile(st.st_mode);
  if (S_ISREG(st.st_mode) && st.st_nlink > 1) kind = "a file of " + std::to_string(st.st_nlink) + " names";
  return "user " + UserName(st.st_uid) + " (" + (kind.empty() ? kind : kind + ", ") +
         FormatText("mode %04o)", static_cast<unsigned>(st.st_mode & 07777));
}

// True when this user may not remove the entry st describes from its folder: another user's
// in a folder with the sticky bit that is not this user's either.
bool KeptByTheStickyBit(const std::string& path, const struct stat& st) {
  const uid_t me = ::geteuid();
  struct stat folder {};
  return me != 0 && st.st_uid != me && ::stat(FolderOfName(path).c_str(), &folder) == 0 &&
         (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != me;
}

// The candidate name of this user's own: path with ".<user><suffix>" before its ending, the
// user's name cut where the whole would not fit the folder's limits.
std::string OwnCandidate(const std::string& path, const std::string& user, const std::string& suffix,
                         const NameLimits& limits, bool& cut) {
  const size_t base = path.size() - BaseLength(path);
  const size_t dot = path.rfind('.');
  const size_t at = dot == std::string::npos || dot <= base ? path.size() : dot;
  const std::string head = path.substr(0, at) + ".", tail = suffix + path.substr(at);
  const size_t whole = head.size() + user.size() + tail.size();
  const size_t nameOver = BaseLength(head) + user.size() + tail.size() > limits.name
                              ? BaseLength(head) + user.size() + tail.size() - limits.name
                              : 0;
  const size_t pathOver = whole >= limits.path ? whole + 1 - limits.path : 0;
  const size_t over = nameOver > pathOver ? nameOver : pathOver;
  cut = over > 0;
  return head + user.substr(0, over < user.size() ? user.size() - over : 0) + tail;
}

}  // namespace

bool SharedFileRefusesThisUser(const std::string& path, struct stat& st) {
  if (::lstat(path.c_str(), &st) != 0) return false;
  const bool single = S_ISREG(st.st_mode) && st.st_nlink == 1;
  if (single && !(::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES)) return false;
  if (!single && (S_ISDIR(st.st_mode) || !KeptByTheStickyBit(path, st))) return false;
  return ::access(FolderOfName(path).c_str(), W_OK | X_OK) == 0;
}

int OpenSharedInPlace(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1)) return fd;
  ::close(fd);
  errno = EPERM;
  return -1;
}

std::string OwnFileName(const std::string& path, std::string* blocked) {
  const uid_t me = ::geteuid();
  std::string user = UserName(me);
  for (char& c : user)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  const NameLimits limits = NameLimitsOf(path);
  const std::string uid = "." + std::to_string(me);
  std::string first, firstBlock;
  for (int k = 0; k <= 9; ++k) {
    const std::string suffix = k == 0 ? std::string() : k == 1 ? uid : uid + "-" + std::to_string(k);
    bool cut = false;
    const std::string name = OwnCandidate(path, user, suffix, limits, cut);
    // A cut name of the user's alone may be another user's: the uid tells them apart.
    if (k == 0 && cut) continue;
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || st.st_uid == me) {
      if (blocked) blocked->clear();
      return name;
    }
    if (first.empty()) {
      first = name;
      firstBlock = name + " belongs to " + OwnerAndMode(st);
    }
  }
  if (blocked) *blocked = firstBlock;
  return first;
}

std::string SharedFileWarning(const std::string& shared, const struct stat& st, const std::string& cannot,
                              const std::string& instead, const std::string& kind, const std::string& path) {
  return shared + " belongs to " + OwnerAndMode(st) + ", and this user cannot " + cannot + ": this run writes " +
         instead + ". To share one " + kind + ", its owner makes it writable for the group (chmod g+w " + path +
         ") and every user of the folder runs with umask 002";
}
