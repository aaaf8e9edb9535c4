// The scratch folder of a fuzz target and the whole-file writer its control files use.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <string>

// A scratch folder made once per process from the pattern ("/tmp/name_XXXXXX"), with its
// trailing "/"; empty when it cannot be made.
inline std::string ScratchFolder(const char* pattern) {
  std::string p(pattern);
  if (!mkdtemp(&p[0])) return std::string();
  return p + "/";
}

// Writes text to path; false when the file cannot be written.
inline bool WriteWhole(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return true;
}
