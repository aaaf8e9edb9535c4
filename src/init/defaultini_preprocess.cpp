// Start-up step 0: the preprocessed copy of the control file.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
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
  // A file saved in UTF-16 or with lone carriage returns would be read as no section or one
  // line: named as such, with the way to save it.
  const std::string layout = TextLayoutFault(text);
  if (!layout.empty()) {
    if (log) *log << "FATAL: the control file " << source << " " << layout << "[end-entry]";
    throw 17;
  }
  // An editor's byte-order mark is no part of the text: the first line may begin a section.
  text.erase(0, ByteOrderMarkLength(text));
  auto lines = std::make_shared<ControlFileLines>();
  lines->source = source;
  lines->copy = copy;
  lines->sourceText = text;
  const std::string result = PreprocessControlText(log, text, &lines->lineOf, source);
  ControlFileLines::Remember(std::move(lines));
  controlFile = copy;

  // While a run is built the copy waits in memory, where its readers find it, until the
  // check of the run's files has found it over none of its inputs.
  if (RunFiles::Current().Defer("the preprocessed copy of the control file", copy, result, false,
                                "The copy is written beside the control file as <control file>.intern: give the "
                                "input or the control file another name."))
    return;
  // The copy appears whole or not at all.
  bool opened = false;
  const int e = WriteWhole(copy, result, opened);
  if (e == 0) return;
  if (log)
    *log << "FATAL: error " << (opened ? "closing " : "opening ") << copy << FileOpenReason(copy, true, e)
         << "[end-entry]";
  throw opened ? 11 : 28;
}

std::string& defaultini::SubstituteSymbols(std::string& line, long lineNumber, const std::vector<std::string>& names,
                                           const std::vector<std::string>& values, int count) {
  return SubstituteLine(log, line, lineNumber, names, values, count);
}
