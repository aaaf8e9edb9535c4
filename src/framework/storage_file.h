// The storage file of the warm start: one text file with the end-of-run state of the
// routing, soil and snow modules, each part beginning with its section header (such as
// "[snow_model_v2]"). The modules hand their parts over when they are deleted; the file is
// written once at the end of the shutdown, through "<name>.tmp" and a rename, so that the
// next run never reads a half-written file, and it always starts anew with the first part
// of the run, whichever module that comes from.
//
// The rest of the end state lies in the state grids, written in the run's last step before
// the storage file. So that a warm start cannot run from a mix (a run stopped while it wrote
// its end state leaves new grids beside the earlier storage file), the storage file ends with
// a record of that state, a part of its own that the modules' readers pass over:
//
//   [end_state]
//   1985 1 5 12 0 (date of the state: year month day hour minute)
//   2 (files written at the end of the run: bytes, checksum, name)
//   6912 3bd9c3f4a04e5e2c sd.asc
//   ...
//
// A warm start compares every file it reads whose name (without its folder) the record holds
// with the recorded size and checksum (64-bit FNV-1a of the bytes) and ends at start-up on a
// difference, naming the file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/model_date.h"

class LogStream;

// Notes a file written under a grid's own name in the last step of the run (a state grid
// or stack, the permafrost days): the storage file records it. Ignored while a run is built.
void NoteEndStateFile(const std::string& path);

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
  // run and (storage not null) for the check of its record.
  static void DeclareRead(StorageFile* storage, const std::string& path);
  // Once the run is built: every file of filesRead whose name the record of a storage file
  // read holds must have the recorded size and checksum, else a FATAL naming it (code 71).
  // A storage file without a record (an older layout) gets one INFO; one with it an INFO
  // naming the date of its state.
  void CheckEndState(const std::vector<std::string>& filesRead, LogStream* log) const;

  // Appends a part to the file of that name (the first part of a run starts it anew).
  void AddPart(const std::string& fileName, const std::string& text);
  bool Empty() const { return files_.empty(); }
  // The text collected for a file so far (empty when it has no part).
  std::string Text(const std::string& fileName) const;
  // Writes every file, with the record of the end state of stateDate when it is given. A
  // file that cannot be written completely gets a FATAL message naming it (the earlier file
  // of that name is then left as it was) and the others are still written; returns the
  // number of such files. The run then ends with kStorageWriteFailed: the next run would
  // otherwise start from the earlier state.
  int Commit(LogStream* log, const ModelDate* stateDate = nullptr);

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // name, text, in order of first part
  std::vector<std::string> reads_;                          // storage files read by the run
};

// The record of the end state of a storage file's text: the date and per file its name
// (without folder), size and checksum. False when the text holds none.
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
