// The storage file of the warm start: one text file with the end-of-run state of the
// routing, soil and snow modules, each part beginning with its section header (such as
// "[snow_model_v2]"). The modules hand their parts over when they are deleted, and it always
// starts anew with the first part of the run, whichever module that comes from.
//
// The rest of the end state lies in the state grids, written in the run's last step. The
// end state is written as one set: every file of it (each state grid and stack written
// under its own name at the end, the permafrost days, the storage file) is first written
// whole under "<name>.tmp"; only when all of them are written does Commit move them into
// place, the storage file last. A failed write, a full disk or a SIGTERM before that point
// leaves the earlier state as it was. While the files are moved, the file
// "<storage file>.incomplete" stands beside the storage file, naming them; a run killed in
// between leaves it behind, and a warm start that finds it refuses the state (code 71).
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
#include <string>
#include <utility>
#include <vector>

#include "framework/model_date.h"

class LogStream;

// The name a file of the end state is written under until the whole set is written.
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

class StorageFile {
 public:
  // Forgets the end-state files noted and the storage files read by an earlier run.
  void BeginRun();
  // Declares a storage file that a module reads while the run is built, to the files of the
  // run and (storage not null) for the check of its record. A state that a run left
  // incomplete (its "<path>.incomplete" stands beside it) ends the run here with a FATAL
  // naming it (code 71).
  static void DeclareRead(StorageFile* storage, const std::string& path, LogStream* log);
  // Once the run is built: every file of filesRead that the record of a storage file read
  // holds and that differs from it gets one INFO naming it (edited after the run); it is
  // read as it is. One INFO names the date of the state, or a WARNING when that is not the
  // end of the step before the run's first step, which ends at runStart (stepMinutes
  // later). A storage file without a record (an older layout) gets one INFO; a damaged
  // record is a FATAL (code 71).
  void CheckEndState(const std::vector<std::string>& filesRead, const ModelDate& runStart, double stepMinutes,
                     LogStream* log) const;

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
  // Gives up the end state of a run that is not to replace the earlier one: the files
  // written for it are removed, nothing is moved. When there were any and whyNot is given,
  // a WARNING says why and that the earlier state is left as it was.
  void Abandon(LogStream* log = nullptr, const std::string& whyNot = std::string());

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // name, text, in order of first part
  std::vector<std::string> reads_;                          // storage files read by the run
};

// The marker beside a storage file whose end state is being moved into place.
std::string IncompleteStateMarker(const std::string& storagePath);

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
int ReadEndStateRecord(const std::string& text, EndStateRecord& record, std::string* why);
// Size and checksum of a file; false when it cannot be read.
bool FileFingerprint(const std::string& path, unsigned long long& bytes, unsigned long long& checksum);
// The same of the file open for reading under a descriptor, from its first byte on.
bool DescriptorFingerprint(int fd, unsigned long long& bytes, unsigned long long& checksum);
