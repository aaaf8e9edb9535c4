// Files the users of one folder share under a name the run does not choose (the module log,
// the diagnostics file, the preprocessed copy of the control file): where one user's file
// stands there that another user may not write (made under umask 022), or may not remove
// from a folder with the sticky bit (a link or a FIFO another user made there), the other
// user writes a file of its own beside it.
#pragma once

#include <sys/stat.h>

#include <string>

// True when path stands as a file this user may neither write as it is nor replace: a
// regular file of one name that this user may not write (another user's), or any other kind
// of entry (a link, a FIFO, a file of two names) of another user in a folder with the sticky
// bit, while the folder takes a file of this user's; st then describes what stands there.
bool SharedFileRefusesThisUser(const std::string& path, struct stat& st);

// Opens the file under path to be written in place (not emptied), never through a link and
// never waiting: a regular file of one name only. -1 with errno set otherwise.
int OpenSharedInPlace(const std::string& path);

// The file of this user's own beside path: "<path without its ending>.<user><ending>"
// (modell_0.log -> modell_0.<user>.log), the user's name kept to the characters a file name
// takes anywhere. A name is this user's where nothing stands under it or this user's own
// entry does; where another user's stands there (two users whose names come out alike, a
// file planted there), "<...>.<user>.<uid><ending>", then "<...>.<user>.<uid>-<k><ending>"
// (k = 2 to 9) are tried in turn; the user's name is cut where the whole would be longer
// than the folder takes (the uid tells the cut names apart). Where each is taken, the first
// is returned and blocked (when given) says by whom: "<name> belongs to user <owner>
// (<kind, >mode <mode>)"; empty otherwise.
std::string OwnFileName(const std::string& path, std::string* blocked = nullptr);

// The text of the WARNING that names the shared file: "<shared> belongs to user <owner>
// (<kind, >mode <mode>), and this user cannot <cannot>: this run writes <instead>. To share
// one <kind>, its owner makes it writable for the group (chmod g+w <path>) and every user of
// the folder runs with umask 002".
std::string SharedFileWarning(const std::string& shared, const struct stat& st, const std::string& cannot,
                              const std::string& instead, const std::string& kind, const std::string& path);
