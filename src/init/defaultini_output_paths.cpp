// Where the standard and variable grids are written, and the files of the start-up that the
// check of the run's files (framework/run_files.h) learns from here.
#include <cctype>
#include <string>

#include "framework/run_files.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

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

std::string DatedInputPattern(const std::string& base) {
  ModelDate sample;
  sample.year = 1111;
  sample.month = sample.day = sample.hour = sample.minute = 11;
  std::string pattern = DatedInputFileName(base, sample);
  for (size_t i = base.size(); i < pattern.size(); ++i)
    if (std::isdigit(static_cast<unsigned char>(pattern[i]))) pattern[i] = RunFiles::kAnyDigit;
  return pattern;
}

void defaultini::DeclareRunFiles() {
  const int last = std::min(standardGridCount + 2, static_cast<int>(standardGrids.size()) - 1);
  const int firstVariable = firstVariableGridPosition > 0 ? firstVariableGridPosition : last + 1;
  RunFiles& files = RunFiles::Current();
  for (int p = 1; p <= last; ++p) {
    const StandardGridSpec& s = standardGrids[static_cast<size_t>(p)];
    if (grids && grids[p].registered) grids[p].section = p >= firstVariable ? "variable_grids" : "standard_grids";
    // A periodic grid is read again during the run from dated files.
    if (s.periodBlocks > 0)
      files.Read("[standard_grids] " + s.internalName + " (periodicity)",
                 DatedInputPattern(MakePath(output.inputDirectory, s.fileName)));
  }
  const LanduseParameterGrids& g = landuseGrids;
  if (grids && g.movingStack && g.movingAveragePosition >= 1 && g.movingAveragePosition <= kMaxGridPosition &&
      !grids[g.movingAveragePosition].fileName.empty())
    files.Write("the phenology's state stack", MakePath(output.outputDirectory,
                                                        grids[g.movingAveragePosition].fileName + "_End"),
                RunFiles::When::EndOnly, g.historyReadKey);
  // Each written over the file read by a chain in place.
  for (const auto& file : LayerPhenologyStateFiles(*this))
    files.Write("the phenology's state stack of a land-use layer", MakePath(output.outputDirectory, file.first),
                RunFiles::When::EndOnly, file.second);
  for (const ExternalReadGrid& e : coupling.readGrids)
    files.Read("[ExternalCoupling] grid " + e.internalName, MakePath(output.inputDirectory, e.fileName));
  for (const ExternalWriteGrid& e : coupling.writeGrids)
    files.Write("[ExternalCoupling] grid " + e.internalName, MakePath(output.outputDirectory, e.fileName));
  for (const ExternalWriteStatistic& e : coupling.statistics)
    files.Write("[ExternalCoupling] statistic " + e.entityName, e.fileName);
}
