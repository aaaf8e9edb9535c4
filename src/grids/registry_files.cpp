// The files of the registered grids: under which names each grid with a write code will be
// written (the writers of period_grids.cpp and grid_stack_writer.cpp), declared to the files
// of the run before the time loop begins.
#include <string>

#include "framework/run_files.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "grids/grid_stack.h"
#include "grids/netcdf_grid_io.h"
#include "grids/period_grids.h"

std::string GridEntry(const GridRecord& record) {
  if (!record.internalName.empty() && record.internalName[0] == '[') return record.internalName;
  return "[" + record.section + "] " + record.internalName;
}

int RecordWriteCode(const GridRecord& r) {
  const int hundreds = r.h1 && r.h2 ? 3 : r.h1 ? 1 : r.h2 ? 2 : 0;
  return r.thousands * 1000 + hundreds * 100 + r.tens * 10 + r.units;
}

namespace {

void DeclareGrid(RunFiles& files, const GridRecord& r) {
  const std::string entry = GridEntry(r) + " (writecode " + std::to_string(RecordWriteCode(r)) + ")";
  const void* state = r.data ? static_cast<const void*>(r.data) : static_cast<const void*>(r.stack);
  auto write = [&](const std::string& name, RunFiles::When when = RunFiles::When::Run) {
    if (name.empty()) return;
    const std::string path = MakePath(r.outputDirectory, name);
    files.Write(entry, r.netcdf ? AddNcExtension(path) : path, when, state);
  };
  const std::string& own = r.firstFileName.empty() ? r.fileName : r.firstFileName;
  if (r.stack) {
    // Stacks: the units digit alone (1 to 5), dated names for 2 and 5.
    if (r.units == 3)
      write(r.fileName, RunFiles::When::EndOnly);
    else if (r.units >= 1 && r.units <= 5)
      write(r.fileName);
    if (r.units == 2 || r.units == 5) {
      write(DatedStackPattern(r.fileName, false));
      write(DatedStackPattern(r.fileName, true));
    }
    return;
  }
  switch (r.units) {
    case 1: case 4: write(own); break;
    case 3: write(own, RunFiles::When::EndOnly); break;
    case 8:  // once after the start-up under its own name, then filled
      write(own);
      write(own + ".filled");
      break;
    case 2: case 5: case 6: case 7:
      // Dated names in every period and the grid itself at the end of the run.
      if (r.netcdf) {
        write(DatedGridName(own, ModelDate(), 0, true));
      } else {
        write(DatedGridPattern(own, false));
        write(DatedGridPattern(own, true));
      }
      write(own);
      break;
    default: break;
  }
  if (r.tens >= 1 && r.tens <= 8) write(PeriodSumPattern(r.fileNameT, r.tens));
  if (r.h1) write(MinimumName(r.fileNameH1));
  if (r.h2) write(MaximumName(r.fileNameH2));
  if (r.thousands >= 1) write(VegetationPeriodPattern(r.fileNameK, r.thousands));
}

}  // namespace

void DeclareRegisteredGridFiles(const GridRecord* records) {
  RunFiles& files = RunFiles::Current();
  if (!records || !files.Building()) return;
  for (int p = 1; p <= kMaxGridPosition; ++p) {
    const GridRecord& r = records[p];
    if (!r.registered || (!r.data && !r.stack)) continue;
    files.NameState(r.data ? static_cast<const void*>(r.data) : static_cast<const void*>(r.stack), GridEntry(r));
    DeclareGrid(files, r);
  }
}
