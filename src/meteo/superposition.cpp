#include "meteo/superposition.h"

#include <algorithm>

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

// ------------------------------------------------------------------------------------
// RegionalSuperposition

RegionalSuperposition::RegionalSuperposition(const ModuleInputs& in)
    : teilmodellklasse(in, "RegionalSuperposition", 1, SectionRequirement::Required) {
  if (flowControl == 0) return;
  if (in.run && in.run->regionCount > 0) {
    regionCount = in.run->regionCount;
    regionCodeMap = in.run->regionCodeMap;
    sortedRegionCodes.assign(static_cast<size_t>(regionCount) + 1, 0);
    for (size_t code = 0; code < regionCodeMap.size(); ++code) {
      const int i = regionCodeMap[code];
      if (i >= 1 && i <= regionCount) sortedRegionCodes[static_cast<size_t>(i)] = static_cast<long>(code);
    }
  } else {
    sortedRegionCodes.assign(1, 0);
  }
  outputDirectory = in.output.defaultOutputDirectory;
  // Rows of steps shorter than an hour carry their minute (an unknown step is an hour or longer).
  minuteColumn = in.runStepMinutes >= 1 && in.runStepMinutes < 60;
  try {
    ReadEntities();
  } catch (...) {
    CloseControlFile();
    for (auto& e : entities) e->Release();
    entities.clear();
    throw;
  }
  CloseControlFile();
}

RegionalSuperposition::~RegionalSuperposition() {
  for (auto& e : entities) e->Release();
}

void RegionalSuperposition::Fatal(const std::string& text, int code) {
  CloseControlFile();
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

void RegionalSuperposition::ReadEntities() {
  std::string line;
  bool found = false;
  while (controlFile.ReadLine(line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    found = true;
    break;
  }
  int count = 0;
  if (!found || !ParseNumberOfEntities(line, count))
    Fatal("could not read \"NumberOfEntities\" keyword in section [" + name + "]\n\n", 133);
  long lineNumber = controlFile.LineNumber();  // counted on by one a line read
  for (int i = 1; i <= count; ++i) {
    std::string block;
    bool closed = false;
    while (controlFile.ReadLine(line)) {
      ReportUnknownEntityKeys(controlFile.LineText(lineNumber++, controlFileName), line);
      block += line;
      block += '\n';
      if (line.find('}') != std::string::npos) {
        closed = true;
        break;
      }
    }
    if (!closed)
      Fatal("the section [" + name + "] ends before entity " + std::to_string(i) + " of " + std::to_string(count) +
                " is closed with \"}\" in " + ShownControlFile() + "\n",
            133);
    SuperpositionEntityText text;
    std::string why;
    if (!ParseEntityBlock(block, text, why))
      Fatal("error reading entity " + std::to_string(i) + " of section [" + name + "] in " + ShownControlFile() + ": " +
                why + "\n",
            133);
    entities.push_back(std::make_unique<cSuperposition>(*this, text));
  }
}

void RegionalSuperposition::ReportUnknownEntityKeys(const std::string& where, const std::string& line) {
  // A remark ("#" to the line's end) is not checked; ";" and the braces stand between keys
  // as blanks do.
  std::string text = line.substr(0, line.find('#'));
  for (char& c : text)
    if (c == ';' || c == '{' || c == '}') c = ' ';
  ReportUnknownKeys(log, "[" + name + "]", where, text, kEntityKeys, false);
}

void RegionalSuperposition::Run(ModelDate d) {
  if (flowControl == 0) return;
  BeginTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  date = d;
  for (auto& e : entities) e->Compute(d);
}

void RegionalSuperposition::WriteResults() {
  if (flowControl == 0) return;
  for (auto& e : entities) e->WriteResults();
}

void RegionalSuperposition::WriteStatistics() {
  if (flowControl == 0) return;
  for (auto& e : entities) e->WriteStatistics();
}

void RegionalSuperposition::DeleteModule() {
  if (deleted) return;
  deleted = true;
  for (auto& e : entities) e->Release();
  entities.clear();
  modelobject::DeleteModule();
}

// ------------------------------------------------------------------------------------
// cSuperposition

cSuperposition::cSuperposition(RegionalSuperposition& m, const SuperpositionEntityText& text) : owner(m) {
  LogStream* log = owner.log;
  auto fatal = [&](const std::string& message, int code) {
    if (log) *log << "FATAL: " << message << "[end-entry]";
    Release();
    throw code;
  };
  auto data = [&](int p) { return p > 0 ? owner.grids[p].data : nullptr; };
  mpiRegions = data(owner.FindGrid("MPIRegions"));
  name = text.name;
  regionCount = owner.regionCount;

  for (const SuperpositionInput& in : text.inputs) {
    const int p = owner.RequireGrid(in.gridName);
    std::string message;
    if (const int code = CheckEntityRegions(owner.name, name, in, owner.sortedRegionCodes, message))
      fatal(message, code);
    inputNames.push_back(in.gridName);
    inputGrids.push_back(owner.grids[p].data);
    weights.insert(weights.end(), in.weights.begin(), in.weights.end());
  }

  outputName = text.outputGrid;
  writeCode = static_cast<int>(std::clamp(text.writeCode, -2147483647L, 2147483647L));
  tableName = text.outputTable;
  statCode = static_cast<int>(std::clamp(text.statCode, -2147483647L, 2147483647L));

  // Region levels: only with a region table.
  if (regionCount > 0) {
    levels = std::min(3, regionCount);
    const char* regionNames[4] = {"", "regression_regions", "regression_regions2", "regression_regions3"};
    const char* weightNames[4] = {"", "regression_weights1", "regression_weights2", "regression_weights3"};
    for (int k = 1; k <= levels; ++k) {
      regionGrids[k] = data(owner.RequireGrid(regionNames[k]));
      weightGrids[k] = data(owner.RequireGrid(weightNames[k]));
    }
  }

  const GridGeometry& g = owner.geometry;
  int p = 2;
  while (p <= kMaxGridPosition && owner.grids[p].data != nullptr) ++p;
  if (p > kMaxGridPosition) fatal("no free grid anymore, allowed number of grids is " + std::to_string(1000) + "!", 12);
  output = owner.matrix(owner.firstRow, owner.lastRow, 0, g.ncols, g.nrows);
  // Cells outside the basin are never computed: they hold no-data, like every other grid.
  for (int r = owner.firstRow; r <= owner.lastRow; ++r)
    if (output[r])
      for (int c = 0; c <= g.ncols; ++c) output[r][c] = g.nodata_value;
  outputPosition = p;
  owner.RegisterGrid(p, outputName, output, nullptr, 1, outputName, writeCode, owner.firstRow, owner.lastRow);

  if (owner.zoneTable) zoneTableCopy.assign(owner.zoneTable, owner.zoneTable + owner.zoneCount + 1);
  int err = 0;
  statistics = std::make_unique<zonalstatistic>(
      &err, log, owner.statisticsTable, owner.statisticsSize, owner.relCellArea, g.nrows, g.ncols,
      zoneTableCopy.empty() ? nullptr : zoneTableCopy.data(), owner.zoneCount, statCode, 3, tableName,
      owner.outputDirectory.empty() ? nullptr : owner.outputDirectory.c_str(), owner.outputListCount,
      owner.outputList, owner.minuteColumn);
  if (err) {
    Release();
    throw err;
  }
  statistics->WriteHeader("regional superposition " + name + ": " + outputName, "", owner.statisticsTable,
                          owner.statisticsSize);
}

cSuperposition::~cSuperposition() { Release(); }

void cSuperposition::Compute(ModelDate d) {
  date = d;
  if (statistics) statistics->ClearZoneSums();
  SuperpositionLoop loop;
  loop.firstRow = owner.firstRow;
  loop.lastRow = owner.lastRow;
  loop.ncols = owner.geometry.ncols;
  loop.rowBounds = &owner.rowBounds;
  loop.zone = owner.zoneGrid;
  loop.gridNodata = owner.geometry.nodata_value;
  loop.mpiRegions = mpiRegions;
  loop.rank = owner.instanceNumber;
  loop.levels = levels;
  for (int k = 1; k <= 3; ++k) {
    loop.regionGrid[k] = regionGrids[k];
    loop.weightGrid[k] = weightGrids[k];
  }
  loop.codeMap = owner.regionCodeMap.data();
  loop.maxCode = static_cast<int>(owner.regionCodeMap.size()) - 1;
  loop.regionCount = regionCount;
  loop.inputCount = static_cast<int>(inputGrids.size());
  loop.inputs = inputGrids.data();
  loop.weights = weights.data();
  loop.out = output;
  RunSuperposition(loop);
}

void cSuperposition::WriteResults() {
  if (!output) return;
  owner.WriteGrids(outputPosition, 1, false);
  if (!statistics || !owner.zoneGrid) return;
  ZoneCells cells = owner.StatisticsCells();
  cells.zone = owner.zoneGrid;
  cells.regions = mpiRegions;
  statistics->AddGrid(cells, output);
  statistics->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
}

void cSuperposition::WriteStatistics() {
  if (statistics) statistics->WriteRow();
}

void cSuperposition::Release() {
  if (released) return;
  released = true;
  if (statistics) {
    statistics->Release();
    statistics.reset();
  }
  if (output) {
    if (outputPosition > 0 && owner.grids[outputPosition].data == output) owner.FreeGrid(outputPosition);
    owner.FreeMatrix(output);
    output = nullptr;
  }
}
