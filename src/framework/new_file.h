// Creating a file that the run is about to fill (a "<name>.tmp" before its rename, a lock):
// the file is made new, so that nothing planted under its name can redirect the write. A
// symbolic link would lead the write to its target and a hard link would truncate the file
// it shares; both are only ever removed, never opened.
#pragma once

#include <cstdio>
#include <string>

// Removes whatever entry stands under path but a folder or a device (a stale file, a
// symbolic or hard link, a FIFO: only the name goes, never what it leads to). Returns 0
// (also when nothing stood there), or -1 with errno set (EISDIR for a folder, EEXIST for a
// device; neither is ever removed). For a writer that creates its file itself exclusively
// (the netCDF library with "no clobber").
int ClearName(const std::string& path);

// ClearName, then creates a new, empty regular file there for writing (O_CREAT | O_EXCL |
// O_NOFOLLOW, mode 0666 less the umask). Returns the file
// descriptor, or -1 with errno set (EEXIST when another process made the name in between
// or a device stands there; EISDIR when a folder stands there).
int CreateNewFile(const std::string& path);

// As CreateNewFile, as a stream opened with mode ("w" or "wb"; other modes are taken as
// "w"). Returns nullptr with errno set when the file cannot be made.
std::FILE* CreateNewStream(const std::string& path, const char* mode = "w");

// Writes text as the whole content of a file made new under path (CreateNewFile). Returns
// 0, or the errno of the failure; opened tells whether the file could be made. A file
// that could not be written to its end is removed.
int WriteNewFile(const std::string& path, const std::string& text, bool& opened);
