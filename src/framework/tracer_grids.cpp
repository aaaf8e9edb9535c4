// Tracer grids of a process module: per tracer species a storage and a flux concentration
// grid in the registry, a concentration statistics file and the decay factor of the
// module's time step.
#include "framework/tracer_grids.h"

#include <cmath>

#include "framework/logstream.h"
#include "framework/teilmod.h"
#include "grids/grid_registry.h"

double TracerDecayFactor(double intervalMinutes, double halfTimeDays) {
  // 1.442695041111 = 1 / ln 2: the mean life in days.
  return std::exp(-(intervalMinutes / 60.0 / 24.0) / (1.442695041111 * halfTimeDays));
}

std::string TracerFileName(const std::string& path, const std::string& key, const std::string& moduleName,
                           const std::string& extension) {
  return path + key.substr(0, 3) + moduleName.substr(0, 5) + "." + extension.substr(0, 3);
}

void teilmodellklasse::InitTracers(int& error, int count, TracerRecord* table, StatisticsTableEntry* statsTable,
                                   int statsSize) {
  error = 0;
  tracerCount = count;
  if (count <= 0) return;
  tracerTable = table;
  moduleTracers.clear();
  moduleTracers.resize(static_cast<size_t>(count) + 1);

  const int nrows = geometry.nrows;
  const int ncols = geometry.ncols;
  const double nodata = geometry.nodata_value;
  const std::string& directory = output.defaultOutputDirectory;
  const char* outputDirectory = directory.empty() ? nullptr : directory.c_str();

  auto freePosition = [&]() {
    const int p = FirstFreeGridPosition();
    if (p < 1 || p > kMaxGridPosition) {
      *log << "FATAL: no free grid left. Please contact the author to set the number of available grids to a "
              "larger value "
           << 1000 << "[end-entry]";
      error = 12;
      throw 12;
    }
    return p;
  };

  for (int i = 1; i <= count; ++i) {
    TracerRecord& t = table[i];
    ModuleTracer& m = moduleTracers[static_cast<size_t>(i)];
    if (t.radioactive == 1) t.decayFactor = TracerDecayFactor(timeInterval, t.halfTime);

    // The writer overwrites the sums of its zone table: this tracer gets its own copy.
    m.zones.assign(static_cast<size_t>(zoneCount) + 1, ZoneTableEntry{});
    if (zoneTable) {
      for (int z = 0; z <= zoneCount; ++z) {
        m.zones[static_cast<size_t>(z)].code = zoneTable[z].code;
        m.zones[static_cast<size_t>(z)].fraction = zoneTable[z].fraction;
      }
    }
    m.statisticsFileName = TracerFileName(t.path, t.key, name, t.statext);
    int writerError = 0;
    m.statistics = std::make_unique<zonalstatistic>(&writerError, log, statsTable, statsSize, relCellArea, nrows,
                                                    ncols, m.zones.data(), zoneCount, t.statcode, 99,
                                                    m.statisticsFileName, outputDirectory, outputListCount,
                                                    outputList, timeInterval < 60.0);
    if (writerError != 0) {
      error = writerError;
      throw writerError;
    }
    m.statistics->WriteHeader(FormatText("tracer concentration for tracer %d (%s) ", i, t.key.c_str()), name,
                              statsTable, statsSize);

    // Storage grid: the initial grid, or 0 in the module's cells and no-data elsewhere.
    m.storagePosition = freePosition();
    m.gridFileName = TracerFileName(t.path, t.key, name, t.gridext);
    const std::string storageName = FormatText("concstor_tracer_%d_%s", i, name.c_str());
    if (readInitialGrids == 1) {
      double** g = nullptr;
      ReadBasinGrid(m.gridFileName, g, 0, true, true, false, 0.0);
      m.storage.reset(g);
    } else {
      m.storage.reset(matrix(1, nrows, 1, ncols));
      const int first = firstRow < 1 ? 1 : firstRow;
      const int last = lastRow > nrows ? nrows : lastRow;
      for (int r = first; r <= last; ++r)
        for (int c = 1; c <= ncols; ++c)
          m.storage[r][c] = (zoneGrid && zoneGrid[r][c] == nodata) ? nodata : 0.0;
    }
    RegisterGrid(m.storagePosition, m.gridFileName, m.storage.get(), nullptr, 0, storageName, t.gridcode, 1, nrows);

    // Flux grid: 0 everywhere, never written.
    m.fluxPosition = freePosition();
    m.flux.reset(matrix(1, nrows, 1, ncols));
    RegisterGrid(m.fluxPosition, m.gridFileName, m.flux.get(), nullptr, 0,
                 FormatText("concflux_tracer_%d_%s", i, name.c_str()), 0, 1, nrows);
  }
}

void teilmodellklasse::DeleteTracers() {
  // Also releases what a failed InitTracers left behind.
  for (ModuleTracer& m : moduleTracers) {
    if (m.storage) {
      if (grids && m.storagePosition > 0 && grids[m.storagePosition].data == m.storage.get())
        FreeGrid(m.storagePosition);
      m.storage.reset();
    }
    if (m.flux) {
      if (grids && m.fluxPosition > 0 && grids[m.fluxPosition].data == m.flux.get()) FreeGrid(m.fluxPosition);
      m.flux.reset();
    }
    m.gridFileName.clear();
    if (m.statistics) {
      m.statistics->Release();
      m.statistics.reset();
    }
    m.statisticsFileName.clear();
    m.zones.clear();
  }
  moduleTracers.clear();
  tracerCount = 0;
  tracerTable = nullptr;
}
