// The program's outer shell: command line, log stream, banner, one application per
// control file, exit code.
#pragma once

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

struct CommandLine {
  int diagLevel = 4;
  std::string diagFile;
  int levelOptionPosition = 0;
  int fileOptionPosition = 0;
  bool routingOnly = false;  // "-mode:routing": route the total runoff of a former run
  int modeOptionPosition = 0;
  // Positions of an option given again before the one kept; the first option given twice
  // with two values (0: none), the earlier and the later position.
  std::vector<int> earlierPositions;
  int twiceFirst = 0, twiceLater = 0;
  // True for the position of an option (not a control file).
  bool IsOption(int i) const {
    return i == levelOptionPosition || i == fileOptionPosition || i == modeOptionPosition ||
           std::find(earlierPositions.begin(), earlierPositions.end(), i) != earlierPositions.end();
  }
};

// The option of routing alone.
constexpr const char* kRoutingModeOption = "-mode:routing";

// Reads the "-diaglevel:", "-diagfile:" and "-mode:routing" options; every other argument
// is a control file. An option given again keeps its later value; the same option given
// with two values is noted (twiceFirst, twiceLater) for the program to refuse.
CommandLine ParseCommandLine(int argc, char** argv);
// The arguments that name control files (all but the two options the reader kept).
int ControlFileCount(int argc, const CommandLine& cl);
// Level of a "-diaglevel:" value (case-insensitive FATAL, ERROR, WARNING, INFO; else 4).
int DiagLevelFromName(const std::string& value);
// The version text of the banner.
std::string VersionText();

// Runs the whole program and returns its exit code (the full error code; see ExitStatus).
int RunOrvel(int argc, char** argv, std::ostream& console);
// The exit status of a failure whose code would not survive as itself: the shell reads
// 126 to 255 as "cannot run" or a signal (137 a kill, 143 a SIGTERM) and 0 as success.
constexpr int kReplacedExitStatus = 120;
// The process exit status for a code. Linux keeps 8 bits: a code whose low byte is 0 or
// lies in 126..255 exits with kReplacedExitStatus; the log keeps the full code.
int ExitStatus(int code);
