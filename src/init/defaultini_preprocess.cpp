// Start-up step 0: the preprocessed copy of the control file.
#include <cerrno>
#include <cstdio>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/control_preprocessor.h"
#include "init/defaultini.h"

void defaultini::CompileSymbols(std::string& controlFile) {
  const std::string source = controlFile;
  const std::string copy = source + ".intern";
  if (log) *log << "compiling symbols in control file " << source << " to " << copy << "[end-entry]";

  std::string text;
  if (!ReadWholeFile(source, text)) {
    if (log) *log << "FATAL: error opening " << source << FileOpenReason(source, false, 0) << "[end-entry]";
    throw 28;
  }
  const std::string result = PreprocessControlText(log, text);

  // The copy appears whole or not at all.
  const std::string temporary = copy + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    const int e = errno;
    if (log) *log << "FATAL: error opening " << copy << FileOpenReason(copy, true, e) << "[end-entry]";
    throw 28;
  }
  const bool written = std::fwrite(result.data(), 1, result.size(), f) == result.size();
  if (std::fclose(f) != 0 || !written) {
    std::remove(temporary.c_str());
    if (log) *log << "FATAL: error closing " << copy << "[end-entry]";
    throw 11;
  }
  if (std::rename(temporary.c_str(), copy.c_str()) != 0) {
    std::remove(temporary.c_str());
    if (log) *log << "FATAL: error closing " << copy << "[end-entry]";
    throw 11;
  }
  controlFile = copy;
}

std::string& defaultini::SubstituteSymbols(std::string& line, long lineNumber, const std::vector<std::string>& names,
                                           const std::vector<std::string>& values, int count) {
  return SubstituteLine(log, line, lineNumber, names, values, count);
}
