// Appending buffered rows to an output file so that the file holds whole rows only, and
// the bookkeeping of write failures at the end of a run.
#pragma once

#include <cerrno>
#include <string>

// Appends text to the file (created when missing) as one piece: either all of it reaches
// the file, or the file is cut back to its length before the call, so that a reader never
// finds half a row. SIGINT is ignored while the file is open and the program's Ctrl-C
// handler installed again afterwards. Returns 0, or the errno of the failure; opened tells
// whether the file could be opened at all.
// A file the run made (NoteFileMade) is appended to through a descriptor kept for it while
// its name still leads to it: where another file or link has taken the name since, nothing
// is written (opened false, kNoLongerTheRunsFile).
int AppendWhole(const std::string& path, const std::string& text, bool& opened);

// The failure of AppendWhole on a file the run made whose name no longer leads to it
// (FileOpenReason names it).
constexpr int kNoLongerTheRunsFile = ESTALE;

// Notes the file the run made under path (moved into place when the run's build was sealed),
// known by its device and inode: AppendWhole appends to that file alone.
void NoteFileMade(const std::string& path, unsigned long long device, unsigned long long inode);
// Forgets the files made (closing their kept descriptors): a new run begins.
void ForgetFilesMade();

// Appends as AppendWhole to a file of the name's own, never through a link: a symbolic link
// under the name is replaced by a new file that holds the text (what the link leads to is
// neither read nor written), and a file that shares its data with another name (a hard link,
// a copy made with "cp -al") is replaced by a copy of it with the text appended, so that the
// other name keeps what it held. A missing file is made new. Anything else (a FIFO, a device,
// a folder) is not written (EPERM, EISDIR). For the files the run appends to under names it
// cannot choose (the module log).
int AppendUnshared(const std::string& path, const std::string& text, bool& opened);

// Writes text as the whole content of the file open for writing as fd (closed here), in
// place: for a file shared by the users of a folder that no user may replace (framework/
// shared_file.h). Returns 0 or the errno of the failure.
int WriteInPlace(int fd, const std::string& text);

// Writes text as the whole content of the file, through its temporary name (OutputName,
// framework/new_file.h) and a rename, so that the file appears whole or not at all.
// Returns 0, or the errno of the failure (the earlier file of the name stays then); opened
// tells whether the file under the temporary name could be created.
int WriteWhole(const std::string& path, const std::string& text, bool& opened);

// The code of a run that could not complete a file it writes (a full disk): its failure is
// named with the system's reason, and the run is no success.
constexpr int kFileNotWritten = 16;

// A writer that cannot raise a failure where it happens (a release, a destructor) notes its
// code here, after its FATAL message; the end of the run raises it.
void NoteUnraisedWriteFailure(int code);
// The first code noted since the last call (0: none); forgets it.
int TakeUnraisedWriteFailure();

// Runs every write of a set, each also after an earlier one failed (every failure has
// written its FATAL message), and keeps the first code for Raise.
class WriteEach {
 public:
  template <typename Write>
  void operator()(Write&& write) {
    try {
      write();
    } catch (int code) {
      if (first_ == 0) first_ = code;
    }
  }
  int First() const { return first_; }
  // Throws the first failure's code, if any.
  void Raise() const {
    if (first_ != 0) throw first_;
  }

 private:
  int first_ = 0;
};
