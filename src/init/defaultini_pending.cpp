// Bodies that are still being written; each moves to its own file.
#include "init/defaultini.h"

#include "framework/logstream.h"

void RiverLink::SetCells(std::vector<RiverLinkCell> cells) {
  cells_ = std::move(cells);
  cellCount_ = static_cast<int32_t>(cells_.size());
}
void RiverLink::AddCell(const RiverLinkCell& cell) {
  cells_.push_back(cell);
  ++cellCount_;
}

defaultini::defaultini(int& error, LogStream* logStream, const std::string& controlFile,
                       StatisticsEntry* statistics, int statisticsSz, int modeValue, GridRecord* registry)
    : modelobject(logStream, controlFile) {
  error = 0;
  name = "defaults";
  mode = modeValue;
  grids = registry;
  statisticsTable = statistics;
  statisticsSize = statisticsSz;
}
defaultini::~defaultini() = default;
int defaultini::InitStep(bool& done) {
  if (stepCounter > kLastStartupStep) {
    initialised_ = true;
    done = true;
    return stepCounter;
  }
  return ++stepCounter;
}
void defaultini::RunStep(int) {}
void defaultini::ReadBasinGrids() {}
void defaultini::MakeStandardGrids() {}
void defaultini::CompileSymbols(std::string&) {}
std::string& defaultini::SubstituteSymbols(std::string& line, long, const std::vector<std::string>&,
                                           const std::vector<std::string>&, int) {
  return line;
}
void defaultini::ReadOutputControl(const std::string&, RunValues&) {}
void defaultini::ReadModelTime() {}
void defaultini::ReadStandardGrids() {}
void defaultini::ReadGridHeader(GridGeometry&) {}
void defaultini::ReadRadiationCorrection() {}
void defaultini::IrrigationDescriptionError(int) { throw 29; }
void defaultini::MakeMPIRegions(std::vector<long>&, int&, int&) {}
int defaultini::ReadSubstepCount() { return 1; }
void defaultini::RankZones(double**) {}
void defaultini::RankRegions(int) {}
void defaultini::CheckCellSizes() {}
void defaultini::MakeCoordinateGrids() {}
void defaultini::make_Slope_and_Aspect() {}
void defaultini::MeanOfValidNeighbours(int, int, double**) {}
void defaultini::check_ice_firn_grid() {}
void defaultini::MakeRegionWeightGrids() {}
void defaultini::GenerateRegionWeightGrids() {}
int defaultini::GetInitValues(std::string& workingFile, RunValues& values) {
  workingFile = controlFileName;
  values = run;
  return 0;
}
double defaultini::GetGridMaximum(int) const { return geometry.nodata_value; }
void defaultini::DeleteModule() { modelobject::DeleteModule(); }
std::string defaultini::DerivedGridName(const std::string& source, const std::string& tag) {
  return source + ".intern." + tag;
}
int defaultini::FirstPositionWithoutFileName() const { return 1000; }
double** defaultini::NewOwnedGrid(int, int) { return nullptr; }
void defaultini::WriteGridOnce(int) {}
bool defaultini::IsBasinCell(int, int) const { return false; }
double** defaultini::GridData(int) const { return nullptr; }
const std::string& defaultini::GridFileName(int) const { return controlFileName; }
void defaultini::ReadMultilayerLanduseTable(int) {}
void defaultini::ReadLanduseTable(int) {}
void defaultini::ReadSoilTable(int) {}
void defaultini::UpdateLanduseParameters(ModelDate, int, double**, double**, double**, double**) {}
void defaultini::generateMultiLayerParameterGrids(int) {}
