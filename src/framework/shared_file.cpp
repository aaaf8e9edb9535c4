#include "framework/shared_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "framework/file_reason.h"
#include "framework/new_file.h"
#include "framework/text_helpers.h"

bool SharedFileRefusesThisUser(const std::string& path, struct stat& st) {
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES &&
         ::access(FolderOfName(path).c_str(), W_OK | X_OK) == 0;
}

std::string OwnFileName(const std::string& path) {
  std::string user = UserName(::geteuid());
  for (char& c : user)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  const size_t base = path.size() - BaseLength(path);
  const size_t dot = path.rfind('.');
  const size_t at = dot == std::string::npos || dot <= base ? path.size() : dot;
  return path.substr(0, at) + "." + user + path.substr(at);
}

std::string SharedFileWarning(const std::string& shared, const struct stat& st, const std::string& cannot,
                              const std::string& instead, const std::string& kind, const std::string& path) {
  return shared + " belongs to user " + UserName(st.st_uid) +
         FormatText(" (mode %04o)", static_cast<unsigned>(st.st_mode & 07777)) + ", and this user cannot " + cannot +
         ": this run writes " + instead + ". To share one " + kind +
         ", its owner makes it writable for the group (chmod g+w " + path +
         ") and every user of the folder runs with umask 002";
}
