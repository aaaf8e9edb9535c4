// The storage file of the warm start: one text file with the end-of-run state of the
// routing, soil and snow modules, each part beginning with its section header (such as
// "[snow_model_v2]"). The modules hand their parts over when they are deleted; the file is
// written once at the end of the shutdown, through "<name>.tmp" and a rename, so that the
// next run never reads a half-written file, and it always starts anew with the first part
// of the run, whichever module that comes from.
#pragma once

#include <string>
#include <utility>
#include <vector>

class LogStream;

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
  // Appends a part to the file of that name (the first part of a run starts it anew).
  void AddPart(const std::string& fileName, const std::string& text);
  bool Empty() const { return files_.empty(); }
  // The text collected for a file so far (empty when it has no part).
  std::string Text(const std::string& fileName) const;
  // Writes every file. A file that cannot be written completely gets a FATAL message naming
  // it (the earlier file of that name is then left as it was) and the others are still
  // written; returns the number of such files. The run then ends with kStorageWriteFailed:
  // the next run would otherwise start from the earlier state.
  int Commit(LogStream* log);

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // name, text, in order of first part
};
