// The storage file of the warm start: one text file with the end-of-run state of the
// routing, soil and snow modules, each part beginning with its section header (such as
// "[snow_model_v2]"). The modules hand their parts over when they are deleted, and it always
// starts anew with the first part of the run, whichever module that comes from.
//
// The rest of the end state lies in the state grids, written in the run's last step. The
// end state is written as one set: every file of it (each state grid and stack written
// under its own name at the end, the permafrost days, the storage file) is first written
// whole under its temporary name (OutputName, framework/new_file.h); only when all of them
// are written does Commit move them into place, the storage file last. A failed write, a
// full disk or a SIGTERM before that point leaves the earlier state as it was. While the
// files are moved, the file "<storage file>.incomplete" (IncompleteStateMarker) stands
// beside the storage file, naming them; a run killed in between leaves it behind, and a
// warm start that finds it refuses the state (code 71).
//
// The storage file ends with a record of the state written with it, a part of its own that
// the modules' readers pass over:
//
//   [end_state]
//   1985 1 5 12 0 (date of the state: year month day hour minute)
//   2 (files written at the end of the run: bytes, checksum, name)
//   6912 3bd9c3f4a04e5e2c sd.asc
//   ...
//
// Sizes and checksums (64-bit FNV-1a) are those of the bytes the run wrote; a name is the
// file's path relative to the storage file's folder (a file beside it: its name alone). A
// warm start names every state file it reads that differs from its record (edited after
// the run) and reads it as it is, and warns when the state is not that of the step before
// its start.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/model_date.h"

class LogStream;
class TextCursor;
struct StateRange;

// The name a file of the end state is written under until the whole set is written: its
// temporary name (OutputName::Temporary).
std::string EndStateStagedName(const std::string& path);
// True while a run's end state is collected (from StorageFile::BeginRun to its Commit or
// Abandon): its files are then staged. Outside a run (tests of single modules) a file of the
// end state is written in place at once.
bool EndStateIsStaged();
// Notes a file of the end state (a state grid or stack written under its own name in the
// last step of the run, the permafrost days) with the size and checksum of the bytes the
// run wrote: staged, it waits under EndStateStagedName(path) for Commit; otherwise it was
// written in place (a netCDF file that the run extends step by step). Ignored while a run
// is built.
void NoteEndStateFile(const std::string& path, bool staged, unsigned long long bytes, unsigned long long checksum);
// Notes a file of the state that a reader looked for at a warm start and did not find, and
// what the run does without it ("the seven-day mean starts from the days of this run"):
// when the record of a storage file read lists it, CheckEndState names it in a WARNING.
void NoteStateFileMissing(const std::string& path, const std::string& without);
// Notes a file of the state that a reader does not read at this run (a part of the state
// the control file does not declare), and what that means and how to read it: when the
// record of a storage file read lists it, CheckEndState names it in a WARNING rather than
// as an output of the run before.
void NoteStateFileNotRead(const std::string& path, const std::string& why);
// Notes a file of the state that this run reads but whose state it does not carry on whole
// (a part of it the control file does not declare): when the record of a storage file read
// lists it, CheckEndState names it in a WARNING with why.
void NoteStateNotCarried(const std::string& path, const std::string& why);
// Notes a state grid that a module reads only by a read flag that this run leaves at 0, or
// sets to read other state (reader: the module and the flag that reads it, "the snow model:
// readgrids 1 of [snow_model]"): where the record of the storage file the control file names
// lists it, whether the run reads that storage file or not, CheckEndState names it with the
// others so noted in one WARNING rather than as an output of the run before.
void NoteStateGridNotRead(const std::string& path, const std::string& reader);
// Notes a file of the end state that could not be written (its writer raises the failure):
// the end state is then not moved into place.
void NoteEndStateFailure(const std::string& path);

// The code of a run whose storage file could not be written (as for a file of rows that
// cannot be written at the end).
constexpr int kStorageWriteFailed = 16;

// For the message of a reader that does not find its part (named by missing) in the text
// of a storage file: where the file ends, when it ends in another part ("; the file ends
// in its part [routing_model_v2], which begins at line 1: ..."); empty when it holds none.
// A file cut short inside the routing part is so reported at that part, not as a missing
// soil or snow part.
std::string StorageFileEnd(const std::string& text, const std::string& missing);

// A storage file is the program's own text: an empty file, or one that holds bytes no text
// holds (random bytes, a binary file under its name), ends the start-up naming what it
// holds and where (code 71). A file that holds any line of ownLines (blocks that only this
// program's writer writes, such as the soil model's cell rows) or the record [end_state]
// was written by this program, which always ends it with that record: it must hold the
// record whole, listing as many files as it counts, or it was cut short (code 71, naming
// where the file ends). Its last line may lack its line feed (an editor that drops it)
// when the name it ends with is that of a file beside the storage file: a name cut short
// names none. A file without any line only this program writes is left to the modules'
// readers. CR LF line ends are text as any other.
void RequireWholeStorageFile(const std::string& text, const std::string& path, LogStream* log,
                             const std::vector<std::string>& ownLines);

// The lines only this program's writer writes into a storage file (blocks of a module's
// part that a file written by other means lacks, such as the soil model's cell rows): each
// module registers those of its part once, from a static initialiser of the file that reads
// the part. Returns true.
bool RegisterStorageFileMarks(std::initializer_list<const char*> marks);
// Every line registered, the one list a storage file is checked against.
std::vector<std::string> StorageFileMarks();

// Why no number could be read at the cursor of a storage file's text, for the message of
// its reader: "line N holds "<word>" where this value belongs, which is not a number of the
// state", or "the file ends at line N where this value belongs (it was cut short)". A
// cursor over one line of the file counts from firstLine, that line's number.
std::string UnreadValue(TextCursor& f, long firstLine = 1);

// A value of a module's part of a storage file within its range (the ranges of the state
// grids): otherwise a FATAL naming the part, the file, the line, what the value is and the
// value, code 71.
void RequireStoredValue(double value, const StateRange& range, LogStream* log, const std::string& part,
                        const std::string& path, long line, const std::string& what);
// The writer of a module's part holds each value it writes to the range its reader holds it
// to (RequireStoredValue) and notes here a finite value beyond it (what: what the value is,
// "QD of sub-basin 3"), the first of each part: Commit then names it in a FATAL and leaves
// the earlier state as it was (the run fails with kStorageWriteFailed), so that no run ends
// as a success with a state the next run refuses. Ignored outside a run's end state.
void NoteStoredValueBeyond(const std::string& part, const std::string& what, double value, const StateRange& range);
// Whether a value is a finite number beyond the range.
bool StoredValueBeyond(double value, const StateRange& range);
// NoteStoredValueBeyond for a value beyond its range; what() is asked only then.
template <typename What>
void HoldStoredValue(double value, const StateRange& range, const char* part, What what) {
  if (StoredValueBeyond(value, range)) NoteStoredValueBeyond(part, what(), value, range);
}

class StorageFile {
 public:
  // Forgets the end-state files noted and the storage files read by an earlier run.
  void BeginRun();
  // Declares a storage file that a module reads while the run is built, to the files of the
  // run and (storage not null) for the check of its record. A marker of a state left
  // incomplete (its "<path>.incomplete") beside it, or beside the file it leads to when it
  // is a symbolic link, is resolved here (ResolveIncompleteState).
  static void DeclareRead(StorageFile* storage, const std::string& path, LogStream* log);
  // The text of the storage file of path that a module reads: declared as DeclareRead does,
  // loaded once and checked once whole against StorageFileMarks (RequireWholeStorageFile),
  // a UTF-8 byte-order mark at its start dropped. Every module that reads the file gets the
  // same text, and CheckEndState checks the record of that text, after which it is let go.
  // Null when the file cannot be read (the module says so and what it does). Without
  // storage (a module alone) the text is loaded and checked for the caller alone.
  static std::shared_ptr<const std::string> ReadText(StorageFile* storage, const std::string& path, LogStream* log);
  // Notes the storage file a module would read were its read flags set: a marker beside it
  // is checked by CheckIncompleteStates whichever flags are set.
  static void NoteStoragePath(StorageFile* storage, const std::string& path);
  // Once the run is built: every marker of an incomplete state beside a storage file noted,
  // or in the folder of a file read that it names, is resolved as DeclareRead resolves it,
  // whichever read flags brought the file in: a run never starts from one run's files mixed
  // with another's, nor erases the marker of such a state with its own end.
  void CheckIncompleteStates(const std::vector<std::string>& filesRead, LogStream* log) const;
  // Once the run is built, for each storage file read: every file of filesRead that its
  // record holds and that differs from it gets one INFO naming it (edited after the run; when
  // most of them differ but not all, the summary is a WARNING that the state looks like a
  // copy taken while a run moved it into place); it is read as it is. A recorded file a
  // reader did not find, and state grids read that the record does not list, get a WARNING.
  // One INFO names the date of the state, or a WARNING when that is not the end of the step
  // before the run's first step, which ends at runStart (stepMinutes later), or when the run
  // reads none of the recorded files or others of their names in their place. A storage
  // file without a record (an older layout) gets one INFO; a damaged record is a FATAL
  // (code 71). The state grids noted as not read (NoteStateGridNotRead) that the record of a
  // storage file read, or of one noted (NoteStoragePath) that this run does not read, lists
  // get one WARNING per storage file naming them, their modules and flags (and the storage
  // file itself when it is not read).
  void CheckEndState(const std::vector<std::string>& filesRead, const ModelDate& runStart, double stepMinutes,
                     LogStream* log);

  // Appends a part to the file of that name (the first part of a run starts it anew).
  void AddPart(const std::string& fileName, const std::string& text);
  bool Empty() const { return files_.empty(); }
  // The text collected for a file so far (empty when it has no part).
  std::string Text(const std::string& fileName) const;
  // Writes the end state as one set: every storage file with the record of the state of
  // stateDate (when given) under its staged name, then moves the state files noted and the
  // storage files into place. A storage file that cannot be written gets a FATAL message
  // naming it; then, or when a state file could not be written, nothing is moved and the
  // earlier state stays whole. Returns the number of failures (the run then ends without
  // success). afterMove, when given, is called after each file moved into place (a seam of
  // the tests).
  int Commit(LogStream* log, const ModelDate* stateDate = nullptr,
             const std::function<void(const std::string&)>& afterMove = nullptr);
  // Whether the last Commit moved the whole end state into place (its marker may have
  // stayed: that failure costs no state).
  bool Moved() const { return moved_; }
  // Gives up the end state of a run that is not to replace the earlier one: the files
  // written for it are removed, nothing is moved. When there were any and whyNot is given,
  // a WARNING says why and that the earlier state is left as it was.
  void Abandon(LogStream* log = nullptr, const std::string& whyNot = std::string());

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // name, text, in order of first part
  std::vector<std::string> reads_;                          // storage files read by the run
  std::vector<std::pair<std::string, std::shared_ptr<const std::string>>> texts_;  // their text, until checked
  std::vector<std::string> noted_;                          // storage files the run would read
  bool moved_ = false;                                      // the last Commit moved the end state
};

// The marker beside a storage file whose end state is being moved into place:
// "<storage file>.incomplete", cut to fit the folder's file system where that would be too
// long (FittedName, framework/new_file.h).
std::string IncompleteStateMarker(const std::string& storagePath);
// A marker left beside a storage file (a run stopped between its last move and the removal
// of the marker, or in the middle of its moves): when every file it names was moved into
// place (none left under its staged name) and agrees with the record of the storage file,
// the state is whole: one WARNING, and the marker is removed. Otherwise the state is one
// run's files mixed with another's: a FATAL names the files of each (code 71).
void ResolveIncompleteState(const std::string& marker, const std::string& storagePath, LogStream* log);

// The record of the end state of a storage file's text: the date and per file its name
// (relative to the storage file's folder), size and checksum.
struct EndStateRecord {
  ModelDate date;
  struct File {
    std::string name;
    unsigned long long bytes = 0, checksum = 0;
  };
  std::vector<File> files;
};
// Reads the record from the text of a storage file: 0 without a record, 1 with one, -1 for a
// damaged record (*why says where).
// *end (when given) is where the record's last line ends.
int ReadEndStateRecord(const std::string& text, EndStateRecord& record, std::string* why, size_t* end = nullptr);
// Size and checksum of a file; false when it cannot be read.
bool FileFingerprint(const std::string& path, unsigned long long& bytes, unsigned long long& checksum);
// The same of the file open for reading under a descriptor, from its first byte on.
bool DescriptorFingerprint(int fd, unsigned long long& bytes, unsigned long long& checksum);
