// The path join used by every file opener: a relative name gets its directory in front.
#pragma once

#include <string>

// directory + fileName when the name is non-empty, the directory is non-empty and the
// name begins neither with "/" nor with "~"; otherwise the name unchanged. The directory
// carries its own trailing separator.
std::string MakePath(const std::string& directory, const std::string& fileName);
