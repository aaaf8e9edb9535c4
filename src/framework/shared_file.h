// Files the users of one folder share under a name the run does not choose (the module log,
// the diagnostics file): where one user's file stands there that another user may not
// write (made under umask 022), the other user writes a file of its own beside it.
#pragma once

#include <sys/stat.h>

#include <string>

// True when path stands as a regular file of one name that this user may not write (another
// user's), while its folder takes a file of this user's; st then describes the file.
bool SharedFileRefusesThisUser(const std::string& path, struct stat& st);

// The file of this user's own beside path: "<path without its ending>.<user><ending>"
// (modell_0.log -> modell_0.<user>.log), the user's name kept to the characters a file name
// takes anywhere.
std::string OwnFileName(const std::string& path);

// The text of the WARNING that names the shared file: "<shared> belongs to user <owner>
// (mode <mode>), and this user cannot <cannot>: this run writes <instead>. To share one
// <kind>, its owner makes it writable for the group (chmod g+w <path>) and every user of the
// folder runs with umask 002".
std::string SharedFileWarning(const std::string& shared, const struct stat& st, const std::string& cannot,
                              const std::string& instead, const std::string& kind, const std::string& path);
