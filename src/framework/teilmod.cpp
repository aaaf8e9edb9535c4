#include "framework/teilmod.h"

#include <omp.h>

#include <iomanip>
#include <sstream>
#include <utility>

#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/solar_geometry.h"
#include "grids/grid_registry.h"

std::string IntervalShorterThanShiftMessage(double interval, const std::string& moduleName, double shiftMinutes) {
  std::ostringstream s;
  s << "FATAL: \n-------- error --------\n\nthe time step " << interval
    << " minutes as given in the section for the module " << moduleName
    << " \nis shorter than the parameter min_to_int_end with " << shiftMinutes
    << " minutes\nfrom the [program_output]-section which gives the shift from \nthe hour entry of meteo-data to "
       "the time step end\nthis parameter (the 4-th in the section [program_output])\nshould be set to 0 if the "
       "hour markes the end of the time step\ne.g. like in \"1984 01 01 24\" for daily time steps -> parameter "
       "set to 0\nand it should set to the variable $time, if the hour marks the time step start\ne.g. like in "
       "\"1984 01 01 00\" for daily time steps -> parameter set to 1440 or $time\n\n-------- error --------";
  return s.str();
}

bool ProgressLineDue(int reportHours, double intervalMinutes, double shiftHours, int64_t hour, int64_t minute) {
  const int64_t r = reportHours < 1 ? 1 : reportHours;
  if (r == 1) return true;
  if (intervalMinutes > 0.0 && intervalMinutes < 60.0) {
    const int64_t minutes = 60 * hour + static_cast<int64_t>(60.0 * shiftHours + static_cast<double>(minute));
    return hour != 0 && minutes % (60 * r) == 0;
  }
  return (static_cast<int64_t>(shiftHours) + hour) % r == 0;
}

teilmodellklasse::teilmodellklasse(const ModuleInputs& in, const std::string& moduleName, int intParam,
                                   SectionRequirement requirement)
    : modelobject(in.log, in.controlFileName, in.output) {
  name = moduleName;
  intParameter = intParam;
  if (in.zoneCodeMap == nullptr) return;  // no zones: the module stays switched off

  grids = in.grids;
  geometry = in.geometry;
  if (in.rowBounds) rowBounds = *in.rowBounds;
  statisticsTable = in.statisticsTable;
  statisticsSize = in.statisticsSize;
  reportInterval = in.reportInterval;
  outputListCount = in.outputListCount;
  outputList = in.outputList;
  if (outputList) outputList[0] = outputListCount;
  zoneTable = in.zoneTable;
  zoneCodeMap = in.zoneCodeMap;
  zoneCount = in.zoneCount;
  maxZoneCode = in.maxZoneCode;
  firstRow = in.firstRow;
  lastRow = in.lastRow;
  startDate = in.start;
  storage = in.storage;
  scratch = in.scratch;
  SetEndDate(in.end.year, in.end.month, in.end.day, in.end.hour, in.end.minute);
  minToIntEnd = in.minToIntEnd;
  latitude = in.latitude;
  longitude = in.longitude;
  referenceMeridian = in.referenceMeridian;
  if (grids) {
    const int rel = FindGrid("RelCellArea");
    relCellArea = rel > 0 ? grids[rel].data : nullptr;
    zoneGrid = grids[1].data;
  }
  pi = kSolarPi;
  degreesPerRadian = kDegreesPerRadian;
  equationOfTimeTable = kEquationOfTimeTable;

  *log << "DEBUG: initializing module " << name << "[end-entry]";
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  sectionHeader = "[" + name + "]";
  if (requirement == SectionRequirement::Required) {
    SeekControlKey(sectionHeader, true);
  } else if (!SeekControlKey(sectionHeader, false)) {
    // An optional module without its section is simply not used: a warning, not a failure.
    *log << "WARNING: no section " << sectionHeader << " in " << ShownControlFile() << ": the module " << name
         << " is switched off" << "[end-entry]";
    flowControl = 0;
    CloseControlFile();
    return;
  }
  ReadControlValue(flowControl, "flow control parameter for ");
  ReadControlValue(timeInterval, "time interval for ");
  // The interval is also kept in whole minutes: a value that no int holds (or NaN) is no
  // interval. A module switched off never uses it.
  const bool wholeMinutesFit = timeInterval > -2147483649.0 && timeInterval < 2147483648.0;
  if (flowControl != 0 && !(timeInterval > 0.0 && wholeMinutesFit)) {
    *log << "FATAL: the time interval of the module " << name
         << " must be greater than 0 minutes and below 2147483648 minutes, read " << timeInterval
         << " in the section " << sectionHeader << " of " << ShownControlFile() << "[end-entry]";
    throw 17;
  }
  if (flowControl != 0 && in.runStepMinutes > 0 && timeInterval != in.runStepMinutes)
    *log << "WARNING: the time interval of the module " << name << " is " << timeInterval << " minutes in "
         << sectionHeader << " of " << ShownControlFile() << ", but the run steps by " << in.runStepMinutes
         << " minutes (the distance of its station records): the module computes every step as one of "
         << timeInterval << " minutes; give it the time interval " << in.runStepMinutes << "[end-entry]";
  timeIntervalMinutes = wholeMinutesFit ? static_cast<int>(timeInterval) : 0;
  output.timeStepMinutes = timeIntervalMinutes;
  minToIntEndHours = minToIntEnd / 60.0;

  // A module switched off never steps: its interval is not checked against the shift.
  if (flowControl != 0 && minToIntEnd / 60.0 > timeInterval / 60.0 + 0.00001 && name != "routing_model") {
    // The system's text names a section [program_output] that control files call [output_interval].
    const std::string where =
        in.minToIntEndLine.empty() ? "in " + ShownControlFile() : std::string(in.minToIntEndLine);
    *log << IntervalShorterThanShiftMessage(timeInterval, name, minToIntEnd) << "\n(min_to_int_end is the fourth "
         << "value of [output_interval], " << where << ": " << minToIntEnd << " minutes, more than the step of "
         << timeInterval << " minutes that the module " << name << " computes, its time interval in "
         << sectionHeader << ". Give " << sectionHeader
         << " the run's step as its time interval, or [output_interval] a min_to_int_end of at most "
         << timeInterval << " minutes if the stamps of the data allow it)" << "[end-entry]";
    throw 63;
  }
  stepsPerDay = timeInterval > 0.0 ? 1440.0 / timeInterval : 0.0;
  if (flowControl == 0) CloseControlFile();
}

teilmodellklasse::~teilmodellklasse() {}

int teilmodellklasse::ReportFPE(int i1, int i2, int i3, int i4, double a1, double a2, double a3, double a4,
                                double a5) {
  if (fpeFlag == 1) {
    *log << "INFO: fpe in i1: " << i1 << ", i2: " << i2 << ", i3: " << i3 << ", i4: " << i4 << "\na1: " << a1
         << " a2: " << a2 << " a3: " << a3 << " a4: " << a4 << " a5: " << a5 << " " << "[end-entry]";
    fpeFlag = 2;
  } else {
    fpeFlag = 0;
  }
  return fpeFlag;
}

double teilmodellklasse::WeightedMean(double a, double b, double wa, double wb) const {
  const double w = wa + wb;
  return w == 0.0 ? 0.0 : (wa * a + wb * b) / w;
}

double teilmodellklasse::ScaledRatio(double a, double b, double c) const {
  return b - c == 0.0 ? 0.0 : a * b / (b - c);
}

void teilmodellklasse::BeginTimeStep(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year,
                                     const char* label, const char* extra) {
  if (flowControl == 0) return;
  LogProgress(minute, hour, day, month, year, label, extra);
}

void teilmodellklasse::LogProgress(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year,
                                   const char* label, const char* extra) {
  stepMinute = minute;
  stepHour = hour;
  stepDay = day;
  stepMonth = month;
  stepYear = year;
  stepDate = ModelDate{minute, hour, day, month, year};
  calendarStamp = CalendarStamp(stepDate, minToIntEndHours);
  if (omp_in_parallel()) return;
  UseFebruaryOf(calendarStamp.year);
  if (!ProgressLineDue(reportInterval, timeInterval, minToIntEndHours, hour, minute)) return;
  const bool subHourly = timeInterval > 0.0 && timeInterval < 60.0;
  *log << std::setw(20) << (label ? std::string(label) : name) << " "
       << DateText(year, month, day, hour, minute, kRecordDate.Until(subHourly ? DateField::kMinute : DateField::kHour))
       << (subHourly ? " h " : ". h ");
  *log << "(time of meteo data)" << (extra ? extra : "") << "[end-entry]";
}

int teilmodellklasse::ReadFlowControl(const std::string& sectionName) {
  if (sectionName.empty() || sectionName == name) return GetTimeInterval();
  // Another module's section: read it with a cursor of its own, so that a derived
  // constructor that is still reading its own section keeps its position.
  TextCursor saved = std::move(controlFile);
  const bool savedOpen = controlFileOpen;
  struct Restore {
    teilmodellklasse& self;
    TextCursor& saved;
    bool open;
    ~Restore() {
      self.controlFile = std::move(saved);
      self.controlFileOpen = open;
    }
  } restore{*this, saved, savedOpen};
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  sectionHeader = "[" + sectionName + "]";
  SeekControlKey(sectionHeader, true);
  int otherFlowControl = 0, otherInterval = 0;
  ReadControlValue(otherFlowControl, "flow control parameter for ");
  ReadControlValue(otherInterval, "time interval for ");
  CloseControlFile();
  return otherInterval;
}

ZoneCells teilmodellklasse::StatisticsCells() const {
  ZoneCells cells;
  cells.zone = zoneGrid;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = zoneCodeMap;
  cells.maxCode = zoneCodeMap ? maxZoneCode : -1;
  cells.firstRow = firstRow;
  cells.lastRow = lastRow;
  cells.ncols = geometry.ncols;
  cells.rowBounds = &rowBounds;
  if (const int p = grids ? FindGrid("MPIRegions") : 0) cells.regions = grids[p].data;
  cells.instance = instanceNumber;
  return cells;
}

double** teilmodellklasse::ScratchFor(int position, size_t slot) {
  if (!scratch || !grids || position < 1 || position > kMaxGridPosition) return nullptr;
  GridRecord& rec = grids[position];
  if (!rec.registered || rec.lookedUp || RecordWriteCode(rec) != 0 || rec.stack) return nullptr;
  rec.data = scratch->Slot(slot);
  rec.released = true;  // its own matrix is gone: a later look-up would read another module's values
  return rec.data;
}
