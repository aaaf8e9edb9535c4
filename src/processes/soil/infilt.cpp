#include "processes/soil/infilt.h"

#include <algorithm>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/value_checks.h"
#include "framework/thread_policy.h"
#include "grids/grid_registry.h"

infiltrationsmodellklasse::infiltrationsmodellklasse(int& error, const ModuleInputs& in)
    : bodenmodellklasse(error, in, "soil_model") {
  if (error != 0) throw error;
  if (in.zoneCodeMap == nullptr) return;
  try {
    ReadOwnSection();
  } catch (...) {
    // The soil model's grids leave the registry with the failed module.
    ReleaseGrids();
    if (markerPosition > 0) FreeGrid(markerPosition);
    if (excessPosition > 0) FreeGrid(excessPosition);
    throw;
  }
}

void infiltrationsmodellklasse::ReadOwnSection() {
  *log << "initialisieren " << moduleName << " (initialising " << moduleName << ")" << "[end-entry]";
  if (!OpenControlFile()) {
    *log << "ERROR: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  const std::string section = "[" + moduleName + "]";
  SeekControlKey(section, true);
  ReadControlValue(infiltrationFlowControl, "ignoranzparameter fuer Infiltrationsmodell, dem Vorfahr vom " + moduleName);
  if (flowControl == 0 && infiltrationFlowControl == 1) {
    CloseControlFile();
    *log << "ERROR: ------------ Fehler in der Steuerdatei! ----------------\n"
         << "Das Infiltrationsmodell kann nur ausgefuehrt werden, wenn\n"
         << "auch das Bodenmodell ausgefuehrt wird. Da hier das Bodenmodell\n"
         << "nicht ausgefuehrt werden soll, kann das Modell nicht ordentlich\n" << "abgearbeitet werden. Ende..."
         << "[end-entry]";
    *log << "FATAL: " << section << " of " << ShownControlFile()
         << " is switched on (1) while [soil_model] is switched off (0): the infiltration runs inside the soil "
            "model. Switch the soil model on (its flow control parameter 1; routing needs it on as well), or, "
            "for a run without the soil model, the infiltration off (0) and the routing off (0)"
         << "[end-entry]";
    throw 47;
  }
  if (flowControl == 0) infiltrationFlowControl = 0;
  if (infiltrationFlowControl == 0) {
    CloseControlFile();
    return;
  }
  *log << "file " << "infilt" << ", compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
  ReadControlValue(infiltrationInterval, "Intervall fuer " + moduleName);
  // Both sections describe one step: they must agree on its length.
  if (infiltrationInterval != timeInterval) {
    CloseControlFile();
    *log << "FATAL: error in control file " << ShownControlFile() << ": the time interval of " << section << " ("
         << infiltrationInterval << " minutes) differs from the one of [soil_model] (" << timeInterval
         << " minutes); both must be the same" << "[end-entry]";
    throw 17;
  }
  ReadControlValue(excessGridName, "Name des Infiltrations-Ueberschuss-Grids fuer " + moduleName);
  ReadControlValue(excessWriteCode, "Writegrid INFEX in " + moduleName);
  std::string flag;
  ReadTwoControlValues(excessStatisticsName, flag, "Name des INFEXstatfiles fuer " + moduleName);
  long code = 0;
  if (!ParseLong(flag, code) || code < -2147483647L || code > 2147483647L)
    ControlFileKeyError("Name des INFEXstatfiles fuer ", moduleName);
  excessStatisticsCode = static_cast<int>(code);
  ReadControlValue(markerGridName, "Name des Saettigungs-Merker-Grids fuer " + moduleName);
  ReadControlValue(markerWriteCode, "Writegrid Satt-Merker in " + moduleName);
  ReadControlValue(macroporeFraction, "Durch Makroporen versickernder Anteil P fuer " + moduleName);
  if (!(macroporeFraction >= 0.0 && macroporeFraction <= 1.0)) {
    CloseControlFile();
    RequireWithin(*this, section, "the share of the infiltration excess through macropores", macroporeFraction, 0.0,
                  1.0, 17);
  }

  fillablePorosity = grids[RequireGrid("fillable_porosity")].data;
  auto create = [&](const std::string& internalName, const std::string& fileName, int writeCode, int& position) {
    position = FirstFreeGridPosition();
    if (position == 0) {
      CloseControlFile();
      *log << "ERROR: no free grid in memeory at " << 1000 << "[end-entry]";
      throw 12;
    }
    double** g = matrix(1, geometry.nrows, 1, geometry.ncols);
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) g[r][c] = SubbasinOf(r, c) > 0 ? 0.0 : geometry.nodata_value;
    RegisterGrid(position, fileName, g, nullptr, 0, internalName, writeCode, 1, geometry.nrows);
    return g;
  };
  infiltrationExcess = create("infiltration_excess", excessGridName, excessWriteCode, excessPosition);
  saturationMarker = create("infiltration_saturation", markerGridName, markerWriteCode, markerPosition);
  if (!restoredMarker.empty()) {
    // A warm start continues the saturation of the cells.
    size_t k = 0;
    ForEachCell([&](int r, int c) { saturationMarker[r][c] = restoredMarker[k++]; });
    restoredMarker.clear();
  }

  excessZones = zoneTableStore;
  int err = 0;
  excessStatistics = std::make_unique<zonalstatistic>(
      &err, log, statisticsTable, statisticsSize, relCellArea, geometry.nrows, geometry.ncols, excessZones.data(),
      subbasins, excessStatisticsCode, 3, excessStatisticsName,
      output.defaultOutputDirectory.empty() ? nullptr : output.defaultOutputDirectory.c_str(), outputListCount,
      outputList, timeInterval < 60.0);
  if (err) throw err;
  excessStatistics->WriteHeader("Infiltrationueberschuss in mm je Zone  ", moduleName, statisticsTable, statisticsSize);
  CloseControlFile();
}

infiltrationsmodellklasse::~infiltrationsmodellklasse() {
  if (saturationMarker) FreeMatrix(saturationMarker);
  if (infiltrationExcess) FreeMatrix(infiltrationExcess);
}

void infiltrationsmodellklasse::PrepareInfiltration() {
  const int nrows = geometry.nrows;
  // The excess's zone sums are added as the rows are done, in fixed blocks of rows.
  excessTable = excessStatistics && excessStatistics->Active() ? excessZones.data() : nullptr;
  if (excessTable) excessStatistics->ClearZoneSums();
  ZoneCells cells;
  cells.zone = soilZoneGrid;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = codeMapStore.data();
  cells.maxCode = largestCode;
  cells.firstRow = 1;
  cells.lastRow = nrows;
  cells.ncols = geometry.ncols;
  excessSums.Prepare(cells, relCellArea, nrows, geometry.ncols, 1, subbasins, 1, nrows, &excessTable);
  stepInfiltration.macroporeFraction = macroporeFraction;
  stepInfiltration.fillablePorosity = fillablePorosity;
  stepInfiltration.excessSums = &excessSums;
  stepInfiltration.excessSummed = excessTable != nullptr;
}

void infiltrationsmodellklasse::CellLoopDone() {
  if (!stepInfiltration.on) return;
  if (excessTable) {
    excessSums.Fold(&excessTable);
    excessStatistics->AggregateAndWrite(stepYear, stepMonth, stepDay, stepHour, stepMinute);
  }
  WriteGrids(excessPosition, 1, false);
  WriteGrids(markerPosition, 1, false);
}

void infiltrationsmodellklasse::Run(ModelDate date) {
  // The soil model's cell loop infiltrates each cell's input just before its soil step.
  stepInfiltration.on = flowControl != 0 && infiltrationFlowControl == 1;
  if (stepInfiltration.on) {
    BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year, moduleName.c_str());
    PrepareInfiltration();
  }
  bodenmodellklasse::Run(date);
}

void infiltrationsmodellklasse::WriteStatistics() {
  if (infiltrationFlowControl > 0 && excessStatistics) excessStatistics->WriteRow();
  bodenmodellklasse::WriteStatistics();
}

void infiltrationsmodellklasse::DeleteModule() {
  if (infiltrationFlowControl > 0 && excessStatistics) {
    excessStatistics->Release();
    excessStatistics.reset();
  }
  // The soil model leaves the saturation marker of the last step in the storage file: the
  // marker goes after it.
  bodenmodellklasse::DeleteModule();
  if (infiltrationFlowControl > 0) {
    if (markerPosition > 0) FreeGrid(markerPosition);
    if (excessPosition > 0) FreeGrid(excessPosition);
    markerPosition = excessPosition = 0;
    if (saturationMarker) FreeMatrix(saturationMarker);
    if (infiltrationExcess) FreeMatrix(infiltrationExcess);
    saturationMarker = infiltrationExcess = nullptr;
  }
}
