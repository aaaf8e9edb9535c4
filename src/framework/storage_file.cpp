#include "framework/storage_file.h"

#include <cerrno>
#include <cstdio>

#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"

std::string StorageFileEnd(const std::string& text, const std::string& missing) {
  TextCursor f(text);
  std::string line, last;
  int number = 0, start = 0;
  while (f.ReadLine(line)) {
    ++number;
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_last_not_of(" \t");
    // A part begins with a line that is its bracketed header alone.
    if (a != std::string::npos && line[a] == '[' && line[b] == ']') {
      last = line.substr(a, b - a + 1);
      start = number;
    }
  }
  if (last.empty()) return std::string();
  return "; the file ends in its part " + last + ", which begins at line " + std::to_string(start) + " of " +
         std::to_string(number) + ": it was cut short in that part, or written by a run without " + missing;
}

void StorageFile::AddPart(const std::string& fileName, const std::string& text) {
  for (auto& f : files_) {
    if (f.first == fileName) {
      f.second += text;
      return;
    }
  }
  files_.emplace_back(fileName, text);
}

std::string StorageFile::Text(const std::string& fileName) const {
  for (const auto& f : files_)
    if (f.first == fileName) return f.second;
  return std::string();
}

int StorageFile::Commit(LogStream* log) {
  int result = 0;
  for (const auto& f : files_) {
    const std::string tmp = f.first + ".tmp";
    const auto failure = [] { return errno != 0 ? errno : EIO; };
    IgnoreCtrlC();
    errno = 0;
    std::FILE* out = std::fopen(tmp.c_str(), "w");
    int e = out != nullptr ? 0 : failure();
    if (e == 0 && std::fwrite(f.second.data(), 1, f.second.size(), out) != f.second.size()) e = failure();
    if (out && std::fclose(out) != 0 && e == 0) e = failure();
    if (e == 0 && std::rename(tmp.c_str(), f.first.c_str()) != 0) e = failure();
    EnableCtrlCHandler();
    if (e != 0) {
      std::remove(tmp.c_str());
      if (log) *log << "FATAL: cannot write the storage file " << f.first << FileOpenReason(tmp, true, e) << "[end-entry]";
      ++result;
    }
  }
  files_.clear();
  return result;
}
