// The reading side of the exchange with an outside program: resolving the exchanged
// grids and statistics, summing the handed-over grids per step, and reading the outside
// program's grids with the clean-up of the exchanged files.
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/logstream.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/coupling.h"
#include "init/defaultini.h"

namespace {

constexpr const char* kErrorHead = "FATAL: -----------------error------------\n";

CouplingClock& ClockHook() {
  static CouplingClock hook;
  return hook;
}
CouplingWaiter& WaiterHook() {
  static CouplingWaiter hook;
  return hook;
}
CouplingRemover& RemoverHook() {
  static CouplingRemover hook;
  return hook;
}

// Name of a statistic as the control file spells entities: blanks become '_'.
std::string EntitySpelling(std::string name) {
  for (char& ch : name)
    if (ch == ' ') ch = '_';
  return name;
}

}  // namespace

void SetCouplingClock(CouplingClock clock) { ClockHook() = std::move(clock); }
void SetCouplingWaiter(CouplingWaiter waiter) { WaiterHook() = std::move(waiter); }
void SetCouplingRemover(CouplingRemover remover) { RemoverHook() = std::move(remover); }

long CouplingClockTicks() { return ClockHook() ? ClockHook()() : static_cast<long>(std::clock()); }

void CouplingWait(long clockTicks) {
  if (WaiterHook()) {
    WaiterHook()(clockTicks);
    return;
  }
  const std::clock_t start = std::clock();
  while (std::clock() - start < clockTicks) {
  }
}

int CouplingRemove(const std::string& path) {
  return RemoverHook() ? RemoverHook()(path) : std::remove(path.c_str());
}

std::string ExchangedGridName(const std::string& fileName, long year, long month, long day, long hour,
                              long clockTicks) {
  return fileName + "_" + DateText(year, month, day, hour, 0, kUnderscoredDate.Until(DateField::kHour)) + "_" +
         std::to_string(clockTicks);
}

void defaultini::FindExternalEntities(std::vector<ExternalStatisticRecord>& records, int count) {
  ResolveExternalGrids();
  if (instanceNumber != 0) return;

  // Searched: the first count records, up to the first one without values.
  size_t searched = 0;
  while (searched < records.size() && static_cast<long>(searched) < count && !records[searched].values.empty())
    ++searched;
  for (size_t i = 0; i < coupling.statistics.size(); ++i) {
    ExternalWriteStatistic& s = coupling.statistics[i];
    size_t found = searched;
    for (size_t j = 0; j < searched; ++j)
      if (EntitySpelling(records[j].name).find(s.entityName) != std::string::npos) {
        found = j;
        break;
      }
    if (found == searched) {
      if (log)
        *log << kErrorHead << "error looking for zonal statistic with internal name \"" << s.entityName
             << "\"\npossible reason: name of the statistic entity is wrong (case sensitive!)" << "[end-entry]";
      throw 1005;
    }
    // The list is brought into the order of the statistics; a record is swapped into its
    // place, so the record that stood there is kept further down the list. Earlier
    // statistics point below position i and are not moved.
    if (found > i && i < searched) {
      std::swap(records[i], records[found]);
      found = i;
    }
    s.record = &records[found];
  }
}

void defaultini::ResolveExternalGrids() {
  for (ExternalReadGrid& g : coupling.readGrids) {
    const int p = FindGrid(g.internalName);
    if (p <= 0) {
      if (log)
        *log << kErrorHead << "error looking for internal grid to read from " << g.fileName
             << ", with internal name \"" << g.internalName
             << "\"\npossible reason: internal name of the grid is wrong (case sensitive!)" << "[end-entry]";
      throw 1003;
    }
    g.data = grids[p].data;
  }
  for (ExternalWriteGrid& g : coupling.writeGrids) {
    const int p = FindGrid(g.internalName);
    if (p <= 0) {
      if (log)
        *log << kErrorHead << "error looking for internal grid to write to " << g.fileName
             << " with internal name \"" << g.internalName
             << "\"\npossible reason: internal name of the grid is wrong (case sensitive!)" << "[end-entry]";
      throw 1004;
    }
    g.data = grids[p].data;
  }
}

bool defaultini::OutsideThisInstance(int row, int column) const {
  if (!IsBasinCell(row, column)) return true;
  return mpiRegions && mpiRegions[row] && static_cast<int>(mpiRegions[row][column]) != instanceNumber;
}

void defaultini::AccumulateExternalGrids() {
  const double nodata = geometry.nodata_value;
  for (ExternalWriteGrid& g : coupling.writeGrids) {
    if ((g.writeCode != "Sum" && g.writeCode != "Mean") || !g.sum || !g.data) continue;
    const int p = FindGrid(g.internalName);
    int first = p > 0 ? grids[p].firstRow : 1, last = p > 0 ? grids[p].lastRow : geometry.nrows;
    if (first < 1) first = 1;
    if (last < 1 || last > geometry.nrows) last = geometry.nrows;
    for (int r = first; r <= last; ++r) {
      const int c0 = r < static_cast<int>(rowBounds.size()) ? rowBounds[r].first : 1;
      const int c1 = r < static_cast<int>(rowBounds.size()) ? rowBounds[r].last : geometry.ncols;
      for (int c = c0; c <= c1; ++c)
        g.sum[r][c] = OutsideThisInstance(r, c) ? nodata : g.sum[r][c] + g.data[r][c];
    }
  }
  for (ExternalWriteStatistic& s : coupling.statistics) {
    if (!HasSumGrid(s.writeCode) || !s.record) continue;
    ExternalStatisticRecord& rec = *s.record;
    for (long k = 1; k < rec.n && k < static_cast<long>(rec.values.size()) && k < static_cast<long>(rec.sums.size());
         ++k)
      rec.sums[k] += rec.values[k];
  }
  ++coupling.stepCounter;
}

void defaultini::ExchangeExternalGrids(long year, long month, long day, long hour) {
  for (ExternalReadGrid& g : coupling.readGrids) {
    double** target = g.data;
    if (!target) {
      const int p = FindGrid(g.internalName);
      target = p > 0 ? grids[p].data : nullptr;
    }
    ReadBasinGrid(g.fileName, target, g.fillCode, false, true, false, geometry.nodata_value);
    EnableCtrlCHandler();
    if (instanceNumber != 0) continue;
    const std::string path = MakePath(output.inputDirectory, g.fileName);
    if (g.renameCode == 1) {
      const std::string newName = ExchangedGridName(path, year, month, day, hour, CouplingClockTicks());
      if (std::rename(path.c_str(), newName.c_str()) != 0) {
        if (log) *log << "FATAL: error renaming external grid " << path << " nach " << newName << "[end-entry]";
        throw 1002;
      }
    } else if (g.renameCode == 0) {
      if (CouplingRemove(path) != 0) {
        if (log) *log << "FATAL: error deleting external grid " << path << "[end-entry]";
        throw 1002;
      }
    }
  }
  if (instanceNumber != 0) return;
  if (CouplingRemove(coupling.semaphoreFile) != 0) {
    CouplingWait(100);
    if (CouplingRemove(coupling.semaphoreFile) != 0) {
      if (log) *log << "FATAL: error deleting semaphore file " << coupling.semaphoreFile << "[end-entry]";
      throw 1001;
    }
  }
}
