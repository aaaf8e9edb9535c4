#include "framework/storage_file.h"

#include <cerrno>
#include <cstdio>

#include "framework/ctrl_c.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"

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
