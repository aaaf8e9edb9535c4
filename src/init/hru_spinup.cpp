// [SpinUp]: the spin-up settings and the grids of the hydrologic response units.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "init/hru.h"

namespace {

constexpr const char* kHruGrid = "HydrologicResponseUnits";
constexpr const char* kMasterGrid = "MasterHydrologicResponseUnits";

void ReadSpinUpInt(modelobject& reader, int& value, const char* label) {
  if (!reader.controlFile.ReadInt(value)) reader.ControlFileKeyError(label, "");
  reader.restOfLine = reader.controlFile.RestOfLine();
}

}  // namespace

void defaultini::CreateHRUs(int& spinUp, int& doTemperaturePreSpinUp, int& repeatCount,
                            std::unique_ptr<HruList>& hrus) {
  if (log) *log << "DEBUG: Creating HRUs" << "[end-entry]";
  hrus = std::make_unique<HruList>(1);
  instanceNumber = 0;
  instanceCount = 1;
  spinUp = doTemperaturePreSpinUp = repeatCount = 0;

  modelobject reader(log, controlFileName);
  reader.name = name;
  if (!reader.OpenControlFile()) {
    if (log) *log << "FATAL: Error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  if (!reader.SeekControlKey("[SpinUp]", false)) return;
  ReadSpinUpInt(reader, spinUp, "SpinUp-switch not found");
  if (spinUp == 0) return;
  ReadSpinUpInt(reader, doTemperaturePreSpinUp, "doTemperaturePreSpinUp not found");
  ReadSpinUpInt(reader, repeatCount, "repeatCnt not found");
  int gridCount = 0;
  ReadSpinUpInt(reader, gridCount, "numGrids not found");

  HruCellScope scope;
  scope.geometry = &geometry;
  scope.rowBounds = &rowBounds;
  const int regionPosition = FindGrid("MPIRegions");
  scope.regions = regionPosition ? GridData(regionPosition) : nullptr;
  scope.instance = instanceNumber;

  double** hru = nullptr;
  double** master = nullptr;
  if (gridCount > 0) {
    std::vector<HruSourceGrid> sources;
    for (int k = 0; k < gridCount; ++k) {
      HruSourceGrid g;
      std::string spacing;
      if (!reader.controlFile.ReadWord(g.identifier) || !reader.controlFile.ReadDouble(g.classWidth) ||
          !reader.controlFile.ReadWord(spacing))
        reader.ControlFileKeyError(" error reading HRU defintions ", "");
      reader.restOfLine = reader.controlFile.RestOfLine();
      // A class width of zero or below (or not a number) gives no classes at all.
      if (!(g.classWidth > 0.0) || !std::isfinite(g.classWidth))
        reader.ControlFileKeyError(" error reading HRU defintions (class width must be above 0) ", g.identifier);
      g.sqrtSpacing = spacing.find("sqrt") != std::string::npos;
      g.data = GridData(RequireOneOf3Grids(g.identifier, "[" + g.identifier + "]", g.identifier));
      sources.push_back(g);
    }
    const int hruPosition = FirstFreeGridPosition();
    if (hruPosition == 0) {
      if (log)
        *log << "FATAL: when trying to create HRU grid: no free grid found in memory (max position " << 1000 << ")"
             << "[end-entry]";
      throw 12;
    }
    hru = NewOwnedGrid(1, geometry.nrows);
    Register(hruPosition, "All_HydrologicResponseUnits", hru, kHruGrid, 0);
    const int masterPosition = FirstFreeGridPosition();
    if (masterPosition == 0) {
      if (log)
        *log << "FATAL: when trying to create HRUMaster grid: no free grid found in memory (max position "
             << hruPosition << ")" << "[end-entry]";
      throw 12;
    }
    master = NewOwnedGrid(1, geometry.nrows);
    Register(masterPosition, "Master_HydrologicResponseUnits", master, kMasterGrid, 0);
    standardGridCount += 2;
    run.standardGridCount = standardGridCount;
    // Every cell outside the classified range stays nodata.
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) hru[r][c] = master[r][c] = geometry.nodata_value;
    scope.zone = GridData(1);
    ClassifyHrus(sources, scope, hru, master, *hrus, log);
  } else {
    const int hruPosition = FindGrid(kHruGrid);
    if (hruPosition == 0) {
      if (log)
        *log << "FATAL: standard grid with identifier " << kHruGrid
             << " not found (Hydrologic Respond Units, HRU; used for SpinUp mode)" << "[end-entry]";
      throw 1030;
    }
    hru = GridData(hruPosition);
    const int masterPosition = FirstFreeGridPosition();
    if (masterPosition == 0) {
      if (log)
        *log << "FATAL: when trying to create HRUMaster grid: no free grid found in memory (max position "
             << hruPosition << ")" << "[end-entry]";
      throw 12;
    }
    master = NewOwnedGrid(1, geometry.nrows);
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) master[r][c] = geometry.nodata_value;
    Register(masterPosition, "MasterHydrologicResponseUnits", master, kMasterGrid, 0);
    standardGridCount += 1;
    run.standardGridCount = standardGridCount;
    RenumberHruGrid(scope, hru, master, *hrus);
  }
  reader.CloseControlFile();
  if (instanceNumber == 0) {
    WriteGridOnce(FindGrid(kHruGrid));
    WriteGridOnce(FindGrid(kMasterGrid));
  }
}
