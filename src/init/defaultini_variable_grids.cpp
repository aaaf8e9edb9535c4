// [variable_grids] and the periodic re-reading of standard grids.
#include <cstdio>

#include "framework/control_keys.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_path.h"
#include "init/defaultini.h"
#include "init/grid_keys.h"

std::string DatedInputFileName(const std::string& base, const ModelDate& date) {
  return base + "_" + DateText(date, kFileDate.Until(DateField::kHour).TimeAfter(""));
}

bool IsCodeGrid(const std::string& internalName) {
  return internalName == "landuse" || internalName == "soil_types" || internalName == "irrigation_codes";
}

PeriodicInputAction AdvancePeriodicInput(StandardGridSpec& spec, const ModelDate& date) {
  if (spec.periodBlocks <= 0) return PeriodicInputAction::None;
  // The unit says which date field counts the steps within one block: hours within a
  // day, days within a month, months within a year.
  const std::string& unit = spec.periodUnit;
  bool counted = true;
  int64_t component = 0;
  if (unit.find('H') != std::string::npos || unit.find('D') != std::string::npos)
    component = date.hour;
  else if (unit.find('M') != std::string::npos)
    component = date.day;
  else if (unit.find('Y') != std::string::npos)
    component = date.month;
  else
    counted = false;
  if (counted) {
    if (component > spec.lastComponent[0]) {
      ++spec.stepCounter;
    } else if (component < spec.lastComponent[0]) {
      ++spec.blockCounter;
      spec.stepCounter = 1;
    }
    spec.lastComponent[0] = static_cast<int>(component);
  }
  if (spec.blockCounter == spec.periodBlocks && spec.stepCounter == spec.periodStep) {
    spec.blockCounter = 0;
    spec.stepCounter = 0;
    if (!spec.persistent) {
      spec.stepsSinceReading = 0;
      spec.restorePending = true;
    }
    return PeriodicInputAction::Read;
  }
  if (spec.restorePending) {
    ++spec.stepsSinceReading;
    if (spec.stepsSinceReading >= spec.holdSteps) {
      spec.restorePending = false;
      return PeriodicInputAction::Restore;
    }
  }
  return PeriodicInputAction::None;
}

void defaultini::ReadVariableGrids() {
  // The start-up may hold the control file open; it finds it as it left it.
  TextCursor savedCursor = controlFile;
  const bool wasOpen = controlFileOpen;
  struct Restore {
    defaultini& self;
    TextCursor& cursor;
    bool open;
    ~Restore() {
      self.controlFile = std::move(cursor);
      self.controlFileOpen = open;
    }
  } restore{*this, savedCursor, wasOpen};

  if (!OpenControlFile()) {
    if (log) *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  variableGridCount = 0;
  firstVariableGridPosition = 0;
  variableGridReadFlags.assign(1, 0);
  int count = 0;
  if (!SeekControlKey("[variable_grids]", false)) return;
  ReadControlValue(count, " number of variable grids ");
  const long countLine = controlFile.LineNumber() - 1;
  if (count < 1) return;

  const int first = FirstFreeGridPosition();
  if (first <= 0 || first >= 1000) {
    if (log) *log << "FATAL: no free grid found in memory (an Position " << 1000 << ")\n" << "[end-entry]";
    throw 12;
  }
  // A count beyond the registry is refused before anything is read or allocated for it.
  if (count > kMaxGridPosition - first + 1) {
    if (log)
      *log << "FATAL: error in control file " << ShownControlFile()
           << ", [variable_grids]: the number of variable grids "
           << count << " does not fit the " << kMaxGridPosition - first + 1
           << " free positions of the grid registry" << "[end-entry]";
    throw 12;
  }
  firstVariableGridPosition = first;
  variableGridReadFlags.assign(static_cast<size_t>(count) + 1, 0);
  const int firstRow = 1, lastRow = geometry.nrows;
  for (int i = 1; i <= count; ++i) {
    const int position = first + i - 1;
    StandardGridSpec spec;
    // File name, internal name, fill code and default value stand on one line.
    std::string& fileName = spec.fileName;
    std::string& internalName = spec.internalName;
    const size_t lineStart = controlFile.Pos();
    bool complete = controlFile.ReadWord(fileName) && controlFile.ReadWord(internalName) &&
                    controlFile.ReadInt(spec.fillCode) && controlFile.ReadDouble(spec.defaultValue);
    if (complete && (fileName.size() > kMaxFileName || internalName.size() > kMaxInternalName)) complete = false;
    if (!complete) {
      controlFile.Seek(lineStart);
      char text[160];
      std::snprintf(text, sizeof text,
                    "\nfile for vargrid %d or the identifier or the fillcode or the defaultvalue (which is new in "
                    "version 7.7) in ",
                    i);
      if (SectionEndsHere())
        CountBeyondSection(text, name, "[variable_grids]", countLine, count, i - 1,
                           "variable grids (three lines each: file, name, fill code and value; write code; read flag)");
      ControlFileKeyError(text, name);
    }
    const long lineNumber = controlFile.LineNumber();
    restOfLine = controlFile.RestOfLine();
    ReportUnknownKeys(log, "[variable_grids]", controlFile.LineText(lineNumber, controlFileName), restOfLine,
                      {"outname"});
    // Behind the four values the line may name the file to write to, as a standard grid does.
    KeyReader(*this, restOfLine, "variable grid", i).Word("outname", spec.outName, spec.fileName, kMaxFileName);
    ReadControlValue(spec.writeCode, "Writegrid for a variable grid ");
    int readFlag = 0;
    ReadControlValue(readFlag, "Readgrid for a variable grid ");
    variableGridReadFlags[static_cast<size_t>(i)] = readFlag;

    double** g = nullptr;
    if (readFlag == 1) {
      // A grid the run writes back as its state is one of a warm start; any other is an input,
      // which the flag 0 would make one value.
      const ReadFlagScope asked(*this,
                                "[variable_grids], the read flag 1 of variable grid " + std::to_string(i) + " (" +
                                    internalName + ")",
                                WrittenAsState(spec.writeCode)
                                    ? std::string()
                                    : "name an existing grid file; the flag 0 would give every cell the value " +
                                          NumberText(spec.defaultValue));
      ReadStartupGrid(spec, g, "variable_grids");
      AdoptGrid(g);
    } else {
      if (WrittenAsState(spec.writeCode))
        NoteStateGridNotRead(MakePath(output.inputDirectory, spec.fileName),
                             "[variable_grids]: the read flag 1 of variable grid " + std::to_string(i) + " (" +
                                 internalName + ")");
      g = NewOwnedGrid(firstRow, lastRow);
      double** zones = GridValues(1);
      for (int r = firstRow; r <= lastRow; ++r)
        for (int c = 1; c <= geometry.ncols; ++c)
          g[r][c] = zones != nullptr && zones[r] != nullptr && zones[r][c] > geometry.nodata_value
                        ? spec.defaultValue
                        : geometry.nodata_value;
    }
    if (static_cast<int>(standardGrids.size()) <= position) standardGrids.resize(static_cast<size_t>(position) + 1);
    Register(position, spec.fileName, g, spec.internalName, spec.writeCode);
    if (spec.internalName == "soil_storage") soilStorage = g;
    standardGrids[static_cast<size_t>(position)] = std::move(spec);
    UseOutputName(position);
  }
  CheckEntriesEndAtCount(" number of variable grids ", name, "[variable_grids]", countLine, count, "[variable_grids]",
                         "variable grids");
  variableGridCount = count;
  standardGridCount += count;
  run.standardGridCount = standardGridCount;
}

void defaultini::UpdatePeriodicGrids(ModelDate date, double /*dtMinutes*/) {
  const int last = std::min(standardGridCount + 2, static_cast<int>(standardGrids.size()) - 1);
  for (int p = 3; p <= last; ++p) {
    StandardGridSpec& spec = standardGrids[static_cast<size_t>(p)];
    if (spec.periodBlocks <= 0) continue;
    const PeriodicInputAction action = AdvancePeriodicInput(spec, date);
    double** data = GridValues(p);
    if (data == nullptr) continue;  // a grid that was never filled has nothing to re-read into
    if (action == PeriodicInputAction::Read) {
      const std::string file = DatedInputFileName(spec.fileName, date);
      ReadBasinGrid(file, data, spec.fillCode, false, true, false, spec.defaultValue);
      ZoneRuns::GridsRewritten();  // it may be a zone or region grid
      // A code grid brings user codes back: they become table rows again.
      if (IsCodeGrid(spec.internalName)) RecheckCodeGrid(p);
      MPIUpdateGrid(p, data);
    } else if (action == PeriodicInputAction::Restore && spec.startValues) {
      const std::vector<RowBounds>& bounds = run.rowBounds.empty() ? rowBounds : run.rowBounds;
      for (int r = 1; r <= geometry.nrows; ++r) {
        if (data[r] == nullptr) continue;
        int first = 1, lastColumn = geometry.ncols;
        if (static_cast<int>(bounds.size()) > r) {
          first = std::max(bounds[r].first, 1);
          lastColumn = std::min(bounds[r].last, static_cast<int32_t>(geometry.ncols));
        }
        for (int c = first; c <= lastColumn; ++c) data[r][c] = spec.startValues[r][c];
      }
      ZoneRuns::GridsRewritten();
      // The starting values were kept before the start-up's code check.
      if (IsCodeGrid(spec.internalName)) RecheckCodeGrid(p);
      MPIUpdateGrid(p, data);
    }
  }
}

void defaultini::RecheckCodeGrid(int position) {
  const std::string& name = standardGrids[static_cast<size_t>(position)].internalName;
  if (name == "landuse") {
    CheckLanduseCodes(position);
    if (multiLayerTable.size() > 1) FillLanduseLayerGrids();
  } else if (name == "soil_types") {
    check_SOIL_Codes(position);
  } else if (name == "irrigation_codes" && irrigationCount != 0) {
    check_irrig_Codes(position);
  }
}
