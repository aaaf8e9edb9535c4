// The module log "modell_0.log" in the working folder: notes of the grid reader (cells filled
// because they had no value) and of the soil model, appended run after run.
#pragma once

#include <string>

class LogStream;

// The module log's name (the model's one instance is instance 0).
constexpr const char* kModuleLogName = "modell_0.log";

// The name the notes go to: the module log, or, where it is another user's file that this
// user cannot append to (made under umask 022 in a folder users take turns in),
// "modell_0.<user>.log" of this user's own (OwnFileName, framework/shared_file.h: blocked
// names the file of another user that stands under each name of this user's own).
std::string ModuleLogName(std::string* blocked = nullptr);

// Appends text to the module log, never through a link: a link under its name is replaced
// by a file of its own (AppendUnshared), and anything but a regular file (a FIFO, a device)
// is never written. While a run is built the text waits until the
// check of the run's files has passed (the module log may be named like one of its inputs).
// An append that fails is named with the system's reason (an ERROR) and noted as the run's
// failure: the run goes on and ends without success (kFileNotWritten).
void AppendModuleLog(LogStream* log, const std::string& text);

// Declares the module log as a file the run writes, whether or not a note is made; a WARNING
// in log names the shared log that this user cannot append to, its owner and the fix.
void DeclareModuleLog(LogStream* log);
