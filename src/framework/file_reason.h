// Why a file could not be opened, in words a user can act on: the system's reason and,
// for a file to be written, the folder that is missing.
#pragma once

#include <string>

// The system's reason for the failed open of path as " (reason)", to follow the message
// that names the file. errnoValue is errno as the failed open left it (0 when unknown:
// the file is probed again). For a file to be written the reason names its folder when
// that folder does not exist or is not a folder. Empty when no reason can be found.
std::string FileOpenReason(const std::string& path, bool forWriting, int errnoValue);
