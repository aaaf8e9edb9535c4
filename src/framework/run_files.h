// The files of a run: every file the run reads and every file it writes, each with the
// control-file entry that names it, so that the start-up can refuse a run that would write
// over one of its own inputs before anything is written.
//
// While the application builds a run, the readers and writers declare their files here.
// A file that a writer creates during the build (a statistics file's header, a derived
// grid, a level-discharge table) is staged: it is written under its temporary name and moved
// into place only when the build is complete and the check has found no clash. A build that
// fails leaves no staged file behind and every earlier file as it was.
//
// One write over a read is allowed: the state that a run carries in place. A file read only
// while the run is built and written back once at its end by the same entry (a grid with
// the units digit 3 of its write code, the storage file) replaces its file, written through
// its temporary name and a rename.
//
// Two files the run writes while it is built have names the run cannot choose: the
// preprocessed copy of the control file (beside the control file) and the module log (in the
// working folder). Their text is kept in memory until the check has passed (Defer); the
// readers of the copy take its text from here meanwhile.
//
// The names an output is written under are an OutputName (framework/new_file.h): its own,
// and its temporary name "<name>.tmp" (cut to fit where that is too long for its folder)
// until it is whole, or its own alone for a character device (/dev/null), which is written
// straight into. Besides its outputs' own names, the run writes under names of its own: each
// output's temporary name, the marker of an incomplete end state beside the storage file,
// the lock file of every folder it holds names in and the diagnostics file. They are the run's as much as its outputs: an input or a
// second output under any of them is a clash.
// While the run is built nothing is removed under any name: a staged file whose name is taken
// (a stale "<name>.tmp", or an input of that name declared later) is made under a name of
// its own until the check has passed.
//
// With a hold (RunHold, framework/run_hold.h), every name the run writes under is held for
// it as it is declared, and every file it reads is held against other runs' writes before it
// is read (Opened) or as it is declared; the holds of the files read only while the run is
// built are given back once it is sealed.
//
// Outside a build (unit tests of single modules, the time loop) declarations are ignored
// and files are created under their own names.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "framework/new_file.h"

class LogStream;
class RunHold;

class RunFiles {
 public:
  // When a file is read or written.
  enum class When {
    Run,        // at any time of the run
    StartOnly,  // read only while the run is built
    EndOnly,    // written once, at the end of the run, through its temporary name and a rename
  };

  // The ledger of the run being built in this process.
  static RunFiles& Current();

  // Starts the build of a run: forgets what an earlier run declared. hold, when given, takes
  // the holds of the run's names (it must live until the run's end).
  void Begin(RunHold* hold = nullptr);
  bool Building() const { return building_; }

  // Declares a file the run reads. `state` ties the read to the written state it may be
  // replaced by (the grid matrix, the storage file); null for inputs. A second declaration
  // of the same file with the same state keeps one entry: a named entry replaces an
  // automatic one (`automatic` set by the file layers that declare every file they open).
  void Read(const std::string& entry, const std::string& path, When when = When::Run, const void* state = nullptr,
            bool automatic = false);
  // Declares a file the run writes; the path may hold AnyDigit() places (dated names).
  void Write(const std::string& entry, const std::string& path, When when = When::Run, const void* state = nullptr,
             bool automatic = false);
  // A reader that opens a file while the run is built says so right after the open (fd the
  // descriptor it reads from; -1: the file is about to be read by its name), before it reads:
  // the file is held against other runs' writes, and the file opened is the one that
  // ChangedSinceRead compares with.
  void Opened(const std::string& path, int fd);
  // Empty while the file under path is still the one opened for the run (Opened), or was
  // never so noted; else what became of it ("has been replaced by another file since the
  // run read it"). A file read is known by the device and inode of what was opened under
  // its name (made absolute, links on the way not resolved), not by where the name leads
  // now: a folder link switched to another state since is a replacement of every file read
  // through it.
  std::string ChangedSinceRead(const std::string& path) const;
  // Opens the file under path for reading (never waiting: a regular file only) while it is
  // still the one opened for the run, or one never so noted: what is read through the
  // descriptor (its fingerprint) is then what the run read. -1 otherwise: `changed` says what
  // became of the file read (as ChangedSinceRead), or is empty where nothing can be opened.
  int OpenAsRead(const std::string& path, std::string& changed) const;
  // Declares a name the run writes under besides its outputs (the marker of the end state,
  // the diagnostics file): an input or an output of that name is a clash. hold: held for the
  // run as its outputs are.
  void Reserve(const std::string& entry, const std::string& path, bool hold);
  // Declares a file that a writer creates now and returns the name to open it under: during
  // the build the staged name (the path itself for a character device, written straight
  // into), otherwise the path itself.
  std::string Create(const std::string& entry, const std::string& path, const void* state = nullptr,
                     bool automatic = false);
  // Create, and the file opened: during the build its staged name is made new
  // (OutputName::CreateStream: a name nothing stands under; a character device is opened as
  // it is); outside a build the file is opened under its own name (fopen with mode). Null
  // with errno set when the file cannot be opened.
  std::FILE* CreateStream(const std::string& entry, const std::string& path, const char* mode = "w");

  // Declares a file the run writes under a name it cannot choose (remedy: what the user can
  // do about a clash) and, during the build, keeps its text until Seal writes it: the whole
  // file, or text appended to it (append). Returns false outside a build: the caller writes
  // the text itself.
  bool Defer(const std::string& entry, const std::string& path, const std::string& text, bool append,
             const std::string& remedy);
  // The text kept for a whole file of that name, or null.
  const std::string* DeferredText(const std::string& path) const;

  // Replaces the entry of every automatic declaration tied to `state` (the grid registry
  // names the grids that the grid files read and wrote).
  void NameState(const void* state, const std::string& entry);

  // Ends the build: checks every write against every read and every name the run writes
  // under (FirstUnwritable) and, when none clashes, moves the staged files into place and
  // writes the deferred ones. A clash is logged as a FATAL naming both entries and throws 26
  // (the staged files are removed); so is a name a write would fail on. A staged file that cannot be
  // moved is code 26 as well; a deferred file that cannot be written kFileNotWritten.
  // run names the run (its control file) in the WARNING that lists the files of earlier
  // runs of the command line that this run replaces (one control file after another
  // writing the same outputs).
  void Seal(LogStream* log, const std::string& run = std::string());
  // Forgets the runs sealed so far (the entry, for each command line).
  void ForgetEarlierRuns() { earlier_.clear(); }
  // Ends a failed build: removes the staged files and writes the deferred files that are none
  // of the files read so far (the copy of the control file that the messages name).
  void Abandon();

  // The character that stands for any one digit in a declared name.
  static constexpr char kAnyDigit = '\x1f';
  static std::string AnyDigits(int count) { return std::string(static_cast<size_t>(count), kAnyDigit); }

  // The files declared as read so far, as declared.
  std::vector<std::string> ReadPaths() const;
  // Those of them that hold a state the run writes again under the file's own name (a read
  // and a write of that name tied to the same state, such as a grid with write code 3): the
  // state files of a warm start.
  std::vector<std::string> StateReadPaths() const;
  // The files declared as written at the time given so far: entry and path as declared.
  std::vector<std::pair<std::string, std::string>> Writes(When when) const;

  // The first clash of the declarations (empty when there is none): the message without
  // its "FATAL: " prefix.
  std::string FirstClash() const;
  // The first name the run writes under that a write would fail on, at the end of the run
  // or in its time loop (empty when there is none): its folder missing, no folder or not
  // writable, a folder standing under it, or the name, or its temporary name where not even
  // a cut one fits, longer than the file system of its folder takes (NAME_MAX, PATH_MAX).
  // The message (without "FATAL: ") names the output, the folder, and how a relative name is
  // joined to the output folder.
  std::string FirstUnwritable() const;
  // The output folder as the control file gives it (DefaultOutputDirectory, put in front of
  // relative names), for the messages of Seal.
  void NameOutputDirectory(const std::string& directory) { outputDirectory_ = directory; }

 private:
  struct File {
    std::string entry;
    std::string path;     // as declared
    std::string compare;  // absolute and normalised
    unsigned long long device = 0, inode = 0;  // of an existing file (0, 0 otherwise)
    When when = When::Run;
    const void* state = nullptr;
    bool automatic = false;
    std::string remedy;  // what to do about a clash (empty: rename the output)
    bool append = false;  // the run adds to the file (the module log): it replaces nothing
    bool reserved = false;  // a name of the run's own besides its outputs (Reserve)
    bool staged = false;    // made while the run is built (Create), under a name of its own
    std::string name;  // absolute and normalised, the file's own name not resolved (a link stays the link)
    OutputName output;  // of a write: the names it is written under
  };
  // Size, time and place of a file as it was opened for reading.
  struct Opening {
    std::string key;  // its name made absolute, not resolved
    unsigned long long device = 0, inode = 0, bytes = 0;
    long long seconds = 0, nanoseconds = 0;
    bool changed = false;  // opened again later, another file or other bytes
  };
  // The text of a file written under a name the run cannot choose, kept until Seal.
  struct Deferred {
    std::string entry;
    std::string path;
    std::string text;
    bool append = false;
  };
  // A file made while the run is built: the output, written under its staged name, and the
  // output's usual temporary name (the staged name unless that was taken or too long).
  struct Staged {
    OutputName output;
    std::string usual;
  };
  // Writes the deferred files (all, or those that are none of the files read); returns the
  // first that failed with its errno, or an empty path.
  // A whole file under another user's name in a folder with the sticky bit is written as
  // the diagnostics file is (in place, or a file of this user's own beside it, which a
  // WARNING in log names).
  std::pair<std::string, int> WriteDeferred(bool onlyUnread, LogStream* log);
  static File Make(const std::string& entry, const std::string& path, When when, const void* state);
  // What became of a file opened (o) that is now st; empty when it is the same and unchanged.
  static std::string Differs(const Opening& o, const struct stat& st);
  const Opening* OpeningOf(const std::string& path) const;
  static bool SameFile(const File& a, const File& b);
  // The end of a message about the name of w: how the output folder was put in front of it,
  // when it was, what to do (remedy, and the name relative to the output folder where the
  // name has folders of its own), and for a state grid how it is read and written.
  std::string JoinedToOutputFolder(const File& w, const std::string& remedy) const;
  // Declares a write without holding it.
  File& Declare(const std::string& entry, const std::string& path, When when, const void* state, bool automatic);
  // Declares a write and holds its names (its own and its temporary one) for the run.
  File& DeclareAndHold(const std::string& entry, const std::string& path, When when, const void* state,
                       bool automatic);
  // Declares a file a writer makes now (during the build) and returns the names it is
  // written under: its staged name and its own, or the device it is written straight into.
  OutputName Stage(const std::string& entry, const std::string& path, const void* state, bool automatic);
  // The names the run writes under besides the outputs' own (temporary names, reserved
  // names, lock files), each with what it is to the run.
  std::vector<std::pair<File, std::string>> OwnNames() const;

  bool building_ = false;
  std::string outputDirectory_;
  RunHold* hold_ = nullptr;
  std::vector<File> reads_, writes_;
  std::vector<Opening> openings_;
  std::vector<Staged> staged_;
  std::vector<Deferred> deferred_;
  struct EarlierRun {
    std::string run;
    std::vector<File> writes;
  };
  std::vector<EarlierRun> earlier_;
  // Warns of the files of earlier runs that this one writes again, then counts it among them.
  void WarnOfReplacedFiles(LogStream* log, const std::string& run);
};
