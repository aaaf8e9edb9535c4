// The files of a run: every file the run reads and every file it writes, each with the
// control-file entry that names it, so that the start-up can refuse a run that would write
// over one of its own inputs before anything is written.
//
// While the application builds a run, the readers and writers declare their files here.
// A file that a writer creates during the build (a statistics file's header, a derived
// grid, a level-discharge table) is staged: it is written under "<name>.tmp" and moved into
// place only when the build is complete and the check has found no clash. A build that
// fails leaves no staged file behind and every earlier file as it was.
//
// One write over a read is allowed: the state that a run carries in place. A file read only
// while the run is built and written back once at its end by the same entry (a grid with
// the units digit 3 of its write code, the storage file) replaces its file, written through
// "<name>.tmp" and a rename.
//
// Two files the run writes while it is built have names the run cannot choose: the
// preprocessed copy of the control file (beside the control file) and the module log (in the
// working folder). Their text is held in memory until the check has passed (Hold); the
// readers of the copy take its text from here meanwhile.
//
// Outside a build (unit tests of single modules, the time loop) declarations are ignored
// and files are created under their own names.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class LogStream;

class RunFiles {
 public:
  // When a file is read or written.
  enum class When {
    Run,        // at any time of the run
    StartOnly,  // read only while the run is built
    EndOnly,    // written once, at the end of the run, through "<name>.tmp" and a rename
  };

  // The ledger of the run being built in this process.
  static RunFiles& Current();

  // Starts the build of a run: forgets what an earlier run declared.
  void Begin();
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
  // Declares a file that a writer creates now and returns the name to open it under: during
  // the build the staged name, otherwise the path itself.
  std::string Create(const std::string& entry, const std::string& path, const void* state = nullptr,
                     bool automatic = false);
  // Create, and the file opened: during the build its staged name is made new
  // (CreateNewStream: whatever was left under that name, a link included, is removed, never
  // written through); outside a build the file is opened under its own name (fopen with
  // mode). Null with errno set when the file cannot be opened.
  std::FILE* CreateStream(const std::string& entry, const std::string& path, const char* mode = "w");

  // Declares a file the run writes under a name it cannot choose (remedy: what the user can
  // do about a clash) and, during the build, holds its text until Seal writes it: the whole
  // file, or text appended to it (append). Returns false outside a build: the caller writes
  // the text itself.
  bool Hold(const std::string& entry, const std::string& path, const std::string& text, bool append,
            const std::string& remedy);
  // The text held for a whole file of that name, or null.
  const std::string* HeldText(const std::string& path) const;

  // Replaces the entry of every automatic declaration tied to `state` (the grid registry
  // names the grids that the grid files read and wrote).
  void NameState(const void* state, const std::string& entry);

  // Ends the build: checks every write against every read and, when none clashes, moves the
  // staged files into place and writes the held ones. A clash is logged as a FATAL naming
  // both entries and throws 26 (the staged files are removed). A staged file that cannot be
  // moved is code 26 as well; a held file that cannot be written kFileNotWritten.
  // run names the run (its control file) in the WARNING that lists the files of earlier
  // runs of the command line that this run replaces (one control file after another
  // writing the same outputs).
  void Seal(LogStream* log, const std::string& run = std::string());
  // Forgets the runs sealed so far (the entry, for each command line).
  void ForgetEarlierRuns() { earlier_.clear(); }
  // Ends a failed build: removes the staged files and writes the held files that are none
  // of the files read so far (the copy of the control file that the messages name).
  void Abandon();

  // The character that stands for any one digit in a declared name.
  static constexpr char kAnyDigit = '\x1f';
  static std::string AnyDigits(int count) { return std::string(static_cast<size_t>(count), kAnyDigit); }

  // The files declared as read so far, as declared.
  std::vector<std::string> ReadPaths() const;
  // The files declared as written at the time given so far: entry and path as declared.
  std::vector<std::pair<std::string, std::string>> Writes(When when) const;

  // The first clash of the declarations (empty when there is none): the message without
  // its "FATAL: " prefix.
  std::string FirstClash() const;

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
  };
  struct Held {
    std::string path;
    std::string text;
    bool append = false;
  };
  // Writes the held files (all, or those that are none of the files read); returns the
  // first that failed with its errno, or an empty path.
  std::pair<std::string, int> WriteHeld(bool onlyUnread);
  static File Make(const std::string& entry, const std::string& path, When when, const void* state);
  static bool SameFile(const File& a, const File& b);

  bool building_ = false;
  std::vector<File> reads_, writes_;
  std::vector<std::pair<std::string, std::string>> staged_;  // staged name, final name
  std::vector<Held> held_;
  struct EarlierRun {
    std::string run;
    std::vector<File> writes;
  };
  std::vector<EarlierRun> earlier_;
  // Warns of the files of earlier runs that this one writes again, then counts it among them.
  void WarnOfReplacedFiles(LogStream* log, const std::string& run);
};
