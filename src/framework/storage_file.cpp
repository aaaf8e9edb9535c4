#include "framework/storage_file.h"

#include <cstdio>

#include "framework/ctrl_c.h"
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
    IgnoreCtrlC();
    std::FILE* out = std::fopen(tmp.c_str(), "w");
    bool ok = out != nullptr;
    if (ok) ok = std::fwrite(f.second.data(), 1, f.second.size(), out) == f.second.size();
    if (out && std::fclose(out) != 0) ok = false;
    if (ok) ok = std::rename(tmp.c_str(), f.first.c_str()) == 0;
    EnableCtrlCHandler();
    if (!ok) {
      std::remove(tmp.c_str());
      if (log) *log << "ERROR: cannot write the storage file " << f.first << "[end-entry]";
      ++result;
    }
  }
  files_.clear();
  return result;
}
