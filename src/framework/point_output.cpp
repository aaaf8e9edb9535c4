// The special output module: reads "[special_output]" and steps its files.
#include "framework/point_output.h"

#include <exception>

#include "framework/append_file.h"
#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/option_text.h"
#include "grids/grid_registry.h"

SpecialOutputClass::SpecialOutputClass(int& error, const ModuleInputs& in, int intParam)
    : teilmodellklasse(in, "special_output", intParam, SectionRequirement::Optional),
      outputDirectory(in.output.defaultOutputDirectory) {
  error = 0;
  context.minuteColumn = in.runStepMinutes >= 1 && in.runStepMinutes < 60;
  if (flowControl == 0) return;  // switched off, or no section: no files
  try {
    Build();
  } catch (int code) {
    error = code;
  } catch (const std::exception&) {
    error = 104;
  }
  CloseControlFile();
}

SpecialOutputClass::~SpecialOutputClass() = default;

void SpecialOutputClass::Build() {
  if (!regionGrid) {
    const int p = FindGrid("MPIRegions");
    if (p > 0) regionGrid = grids[p].data;
  }
  context.log = log;
  context.grids = grids;
  context.geometry = geometry;
  context.outputDirectory = outputDirectory;
  context.instanceNumber = instanceNumber;
  context.regions = regionGrid;
  context.firstRow = firstRow;
  context.lastRow = lastRow;
  if (context.lastRow < context.firstRow) {  // no row range handed over: the whole grid
    context.firstRow = 1;
    context.lastRow = geometry.nrows;
  }

  if (log) *log << "file teilmod, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";

  std::string line;
  if (!controlFile.ReadLine(line) || !GetKeyValueInt(line, "numfiles", fileCount)) {
    if (log)
      *log << "FATAL: Error in section [special_output] of " << ShownControlFile()
           << ": the line after the time interval has to be \"numfiles = <number of files>;\", found: "
           << line.substr(0, 200) << "[end-entry]";
    throw 104;
  }
  for (int k = 1; k <= fileCount; ++k) files.push_back(std::make_unique<SpecialOutputFile>(context, ReadFileBlock(k)));
}

std::string SpecialOutputClass::ReadFileBlock(int number) {
  // Lines are added until the braces opened in the block are closed again; lines before
  // the first "{" belong to the block too.
  std::string block, line;
  int depth = 0;
  bool opened = false;
  auto sectionEnds = [&](const std::string& next) {
    if (log)
      *log << "FATAL: Error in section [special_output] of " << ShownControlFile() << ": numfiles = " << fileCount
           << ", but the section holds " << number - 1 << " file block" << (number == 2 ? "" : "s") << " (" << next
           << ")" << "[end-entry]";
    throw 104;
  };
  while (controlFile.ReadLine(line)) {
    if (!opened) {
      const size_t a = line.find_first_not_of(" \t\r");
      const size_t b = line.find_last_not_of(" \t\r");
      if (a != std::string::npos && line[a] == '[' && line[b] == ']')
        sectionEnds("the next line is the section " + line.substr(a, b - a + 1));
    }
    block += line;
    block += "\n";
    for (char c : line) {
      if (c == '{') {
        ++depth;
        opened = true;
      } else if (c == '}' && opened) {
        --depth;
      }
    }
    if (opened && depth <= 0) return block;
  }
  if (!opened) sectionEnds("the control file ends");
  if (log)
    *log << "FATAL: Error in section [special_output] of " << ShownControlFile()
         << ": the control file ends inside a file block; every \"{\" needs its \"}\"" << "[end-entry]";
  throw 104;
}

void SpecialOutputClass::CollectValues(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (flowControl == 0) return;
  for (auto& f : files) f->CollectValues(minute, hour, day, month, year);
}

void SpecialOutputClass::FlushAll() {
  WriteEach each;
  for (auto& f : files)
    if (f->RowCount() > 0) each([&] { f->WriteRows(); });
  each.Raise();
}

void SpecialOutputClass::DeleteModule() {
  files.clear();  // each file writes its remaining rows
  modelobject::DeleteModule();
}
