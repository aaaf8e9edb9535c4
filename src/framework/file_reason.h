// Why a file could not be opened, in words a user can act on: the system's reason and,
// for a file to be written, the folder that is missing.
#pragma once

#include <string>

// The system's reason for the failed open of path as " (reason)", to follow the message
// that names the file. errnoValue is errno as the failed open left it (0 when unknown:
// the file is probed again). For a file to be written the reason names its folder when
// that folder does not exist or is not a folder; for a file to be read that is a symbolic
// link leading to no file, the link's target. Empty when no reason can be found.
// A path to be read that exists but is not a regular file is named for what it is ("a FIFO,
// not a regular file"): it is never opened. For a file to be written, kNoLongerTheRunsFile
// (framework/append_file.h) says what has taken the name of the file the run made.
std::string FileOpenReason(const std::string& path, bool forWriting, int errnoValue);

// What an existing path is when it is not a regular file ("a FIFO", "a character device",
// "a block device", "a socket", "a folder"); empty for a regular file and for a path that
// names nothing. The run reads regular files only: opening a FIFO waits for a writer for
// ever, and a device may never end.
std::string NotARegularFile(const std::string& path);
// The same for a file type (st_mode of stat).
std::string KindOfFile(unsigned mode);
// The user of that number (a file's owner), by name where the system knows it ("uid 1234"
// otherwise).
std::string UserName(unsigned uid);
// True when path is a regular file or names nothing (the open then says why).
inline bool RegularOrMissing(const std::string& path) { return NotARegularFile(path).empty(); }

// The file a name leads to: when the name itself is a symbolic link, the path of the file
// it leads to at last (absolute); otherwise (a file, a name nothing stands under, a link
// that leads nowhere) the name as given. A state read through a link is that file, with its
// marker and its holds beside it.
std::string FileNamedBy(const std::string& path);

// The error code of an output refused at start-up (its folder missing, no folder or not
// writable, its name too long for the folder's file system, a clash with a file the run
// reads): the run writes nothing.
constexpr int kOutputRefused = 26;

// For a writer whose output could not be created while the run is built: the message of the
// start-up check of every output's folder and name (RunFiles::FirstUnwritable, without
// "FATAL: "), which names the output, its folder and how its name was joined to the output
// folder; note follows it when it is about the writer's own entry (how that writer takes a
// name with folders of its own). Empty when the check finds nothing: the failure has another
// cause, which the writer names itself.
std::string UnwritableOutput(const std::string& entry, const std::string& note = std::string());
