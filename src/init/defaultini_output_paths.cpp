// Where the standard and variable grids are written, and the guard that no written grid
// replaces a file the run reads.
#include <filesystem>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

// One path that the run reads or writes, with the control-file key that names it.
struct NamedPath {
  std::string key;
  std::string path;     // as the run opens it (joined with its directory)
  std::string compare;  // absolute and normalised, for comparing
};

NamedPath Named(const std::string& key, const std::string& directory, const std::string& fileName) {
  NamedPath n{key, MakePath(directory, fileName), std::string()};
  std::error_code error;
  std::filesystem::path p = std::filesystem::absolute(n.path, error);
  if (!error) p = std::filesystem::weakly_canonical(p, error);
  n.compare = error ? n.path : p.lexically_normal().string();
  return n;
}

}  // namespace

void defaultini::UseOutputName(int position) {
  if (!grids || position < 1 || position > kMaxGridPosition || position >= static_cast<int>(standardGrids.size()))
    return;
  const std::string& out = standardGrids[static_cast<size_t>(position)].outName;
  if (out.empty()) return;
  GridRecord& r = grids[position];
  r.firstFileName = out;
  for (std::string* periodName : {&r.fileNameT, &r.fileNameH1, &r.fileNameH2, &r.fileNameK})
    if (!periodName->empty()) *periodName = out;
}

void defaultini::CheckOutputsAgainstInputs() const {
  const int last = std::min(standardGridCount + 2, static_cast<int>(standardGrids.size()) - 1);
  const int firstVariable = firstVariableGridPosition > 0 ? firstVariableGridPosition : last + 1;
  auto keyOf = [&](int p) {
    if (p == 1 || p == 2) return standardGrids[static_cast<size_t>(p)].internalName;
    const char* section = p >= firstVariable ? "[variable_grids] " : "[standard_grids] ";
    return section + standardGrids[static_cast<size_t>(p)].internalName;
  };
  auto isRead = [&](int p) {
    if (p <= 2) return true;
    if (p >= firstVariable) {
      const size_t i = static_cast<size_t>(p - firstVariable + 1);
      return i < variableGridReadFlags.size() && variableGridReadFlags[i] == 1;
    }
    return standardGrids[static_cast<size_t>(p)].readCode >= 1;
  };

  std::vector<NamedPath> reads, writes;
  for (int p = 1; p <= last; ++p) {
    const StandardGridSpec& s = standardGrids[static_cast<size_t>(p)];
    if (s.fileName.empty()) continue;
    if (isRead(p)) reads.push_back(Named(keyOf(p), output.inputDirectory, s.fileName));
    if (p >= 2 && s.writeCode != 0)
      writes.push_back(Named(keyOf(p) + " (writecode " + std::to_string(s.writeCode) + ")", output.outputDirectory,
                             s.outName.empty() ? s.fileName : s.outName));
  }
  for (const NamedPath& w : writes)
    for (const NamedPath& r : reads) {
      if (w.compare != r.compare) continue;
      if (log)
        *log << "FATAL: " << w.key << " would be written to " << w.path << ", the file read for " << r.key
             << ": the run never writes over its input. Give the grid an outname or set DefaultOutputDirectory "
                "in [output_interval]."
             << "[end-entry]";
      throw 26;
    }
}
