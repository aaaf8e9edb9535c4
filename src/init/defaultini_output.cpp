// Per-step output of the standard grids and their zonal statistics.
#include <algorithm>

#include "framework/logstream.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

double** defaultini::GridValues(int position) const {
  if (grids == nullptr || position < 1 || position > kMaxGridPosition) return nullptr;
  return grids[position].data;
}

zonalstatistic* defaultini::ZonalStatisticAt(int position) const {
  if (position < 0 || position >= static_cast<int>(zonalStatistics.size())) return nullptr;
  return zonalStatistics[static_cast<size_t>(position)].get();
}

// Every standard grid (from position 2, variable grids included) that names a statistics
// file gets a writer with its own copy of the zone table.
void defaultini::CreateZonalStatistics() {
  const int last = std::min(standardGridCount + 2, static_cast<int>(standardGrids.size()) - 1);
  zonalStatistics.clear();
  zonalStatisticZones.clear();
  zonalStatistics.resize(static_cast<size_t>(std::max(last + 1, 0)));
  zonalStatisticZones.resize(zonalStatistics.size());

  double** weights = nullptr;
  const int relCellArea = FindGrid("RelCellArea");
  if (relCellArea > 0) weights = GridValues(relCellArea);
  const std::string& directory =
      output.defaultOutputDirectory.empty() ? run.defaultOutputDirectory : output.defaultOutputDirectory;
  const char* outputDirectory = directory.empty() ? nullptr : directory.c_str();
  const int timestep = output.subHourTimeStep != 0 ? output.subHourTimeStep : run.timestep;
  const bool minuteColumn = timestep >= 1 && timestep <= 59;
  const int zoneCount = run.zoneCount;

  for (int p = 2; p <= last; ++p) {
    const StandardGridSpec& spec = standardGrids[static_cast<size_t>(p)];
    if (spec.statFile.empty()) continue;
    std::vector<ZoneTableEntry>& zones = zonalStatisticZones[static_cast<size_t>(p)];
    zones.assign(static_cast<size_t>(zoneCount) + 1, ZoneTableEntry{});
    for (int z = 0; z <= zoneCount && z < static_cast<int>(run.zoneTable.size()); ++z) {
      zones[z].code = run.zoneTable[z].code;
      zones[z].fraction = run.zoneTable[z].fraction;
      zones[z].areaSum2 = run.zoneTable[z].areaSum2;
    }
    int error = 0;
    const int* list = run.outputList.empty() ? nullptr : run.outputList.data();
    auto writer = std::make_unique<zonalstatistic>(
        &error, log, statisticsTable, statisticsSize, weights, geometry.nrows, geometry.ncols, zones.data(),
        zoneCount, spec.statCode, 5, spec.statFile, outputDirectory, run.outputListCount, list, minuteColumn);
    if (error != 0) throw error;
    writer->WriteHeader(spec.internalName, "(default)", statisticsTable, statisticsSize);
    zonalStatistics[static_cast<size_t>(p)] = std::move(writer);
  }
}

void defaultini::WriteStandardGrids(ModelDate date) {
  stepDate = date;
  for (int p = 2; p <= LastStandardGridPosition(); ++p) WriteGrids(p, 1, false);
  // The land-use grids made at start-up; the moving-average temperature is written by the
  // daily update that sets it.
  for (int p : landuseGrids.createdPositions)
    if (p != landuseGrids.movingAveragePosition) WriteGrids(p, 1, false);
}

void defaultini::WriteVariableGrids(ModelDate date) {
  stepDate = date;
  if (firstVariableGridPosition <= 0) return;
  for (int i = 0; i < variableGridCount; ++i) WriteGrids(firstVariableGridPosition + i, 1, false);
}

void defaultini::ResetZonalStatistics() {
  for (auto& writer : zonalStatistics)
    if (writer) writer->ClearZoneSums();
}

void defaultini::AccumulateZonalStatistics() {
  double** zones = GridValues(1);
  if (zones == nullptr) return;
  ZoneCells cells;
  cells.zone = zones;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = run.zoneCodeMap.data();
  cells.maxCode = static_cast<int>(run.zoneCodeMap.size()) - 1;
  cells.firstRow = 1;
  cells.lastRow = geometry.nrows;
  cells.ncols = geometry.ncols;
  cells.rowBounds = run.rowBounds.empty() ? &rowBounds : &run.rowBounds;
  for (size_t p = 0; p < zonalStatistics.size(); ++p)
    if (zonalstatistic* writer = zonalStatistics[p].get()) writer->AddGrid(cells, GridValues(static_cast<int>(p)));
}

void defaultini::AggregateZonalStatistics(ModelDate date) {
  for (auto& writer : zonalStatistics)
    if (writer) writer->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
}

void defaultini::WriteZonalStatistics() {
  for (auto& writer : zonalStatistics)
    if (writer) writer->WriteRow();
}

void defaultini::FinishZonalStatistics() {
  for (auto& writer : zonalStatistics)
    if (writer) writer->Release();
  zonalStatistics.clear();
  zonalStatisticZones.clear();
}
