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

// A diagnostics file of its own for a quiet log stream of a fuzz target, in a scratch folder
// of the process: a log stream locks its file, and a name that is no regular file (such as
// /dev/null) falls back to Orvel_Diag.xml in the working folder, which the first log stream
// of any target there would hold.
inline std::string QuietDiagnosticsFile() {
  static const std::string folder = ScratchFolder("/tmp/fuzz_diagnostics_XXXXXX");
  static int count = 0;
  return folder + "diagnostics_" + std::to_string(++count) + ".xml";
}

// Writes text to path; false when the file cannot be written.
inline bool WriteWhole(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return true;
}
