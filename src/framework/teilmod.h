// Base of every process module (radiation correction, evapotranspiration, snow,
// interception, soil and infiltration, routing, regional superposition, data assimilation,
// special output): its control-file section with the two opening values (flow control
// parameter and time interval), the shared run values, the site for the solar geometry,
// the tracer tables, and the start-of-step hook with its progress line.
//
// Member functions by file:
//   teilmod.cpp          construction, flow control, progress line, small numeric helpers
//   solar_geometry.cpp   declination, equation of time, sun position, day length
//   zone_ranking.cpp     ranking of a module's own zone grid ("zonegrid_soilmodel")
//   tracer_grids.cpp     tracer storage and flux grids, their statistics and decay
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/model_date.h"
#include "framework/modelobject.h"
#include "framework/tracer_grids.h"
#include "framework/zonalstatistic.h"

struct ZoneTableEntry;        // one zone of the start-up's zone table (five doubles)
struct StatisticsTableEntry;  // one entry of the application's statistics table
struct RunValues;             // everything the start-up hands to the application
class StorageFile;            // the storage file of the warm start

// The inputs that the application hands to every module constructor: the run values of
// the start-up, unpacked into what the module base keeps, plus the shared objects.
struct ModuleInputs {
  LogStream* log = nullptr;
  StatisticsTableEntry* statisticsTable = nullptr;
  int statisticsSize = 0;
  std::string controlFileName;  // the working (preprocessed) control file
  GridRecord* grids = nullptr;  // the shared registry

  int reportInterval = 1;  // hours between two progress lines
  int outputListCount = 0;
  int* outputList = nullptr;  // 1-based codes of [output_list]; element 0 receives the count

  // Zone tables of the start-up: table entries 0..zoneCount, code map 0..maxZoneCode.
  ZoneTableEntry* zoneTable = nullptr;
  int* zoneCodeMap = nullptr;  // null: the module is built switched off, nothing is read
  int zoneCount = 0;
  int maxZoneCode = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // rows 1..nrows
  int firstRow = 1;
  int lastRow = 0;

  GridGeometry geometry;
  ModelDate start;
  ModelDate end;
  double minToIntEnd = 0.0;  // shift from the hour stamp of the data to the step end, minutes
  std::string minToIntEndLine;  // where the control file gives it ("line 14 of basin.ctl")
  // The run's time step in minutes, the distance of the station records (without any: the
  // timestep key; 0: not known, an hour or longer); a module whose time interval differs
  // is warned about.
  int runStepMinutes = 0;
  // The run goes on from the state an earlier run wrote (the soil model reads its storage
  // file): data assimilation leaves to that run the records of its last step.
  bool warmStart = false;
  double latitude = 0.0;
  double longitude = 0.0;
  double referenceMeridian = 0.0;
  OutputSettings output;

  const RunValues* run = nullptr;  // the whole set, for modules that need more of it
  StorageFile* storage = nullptr;  // where routing, soil and snow leave their end-of-run state
  ScratchGrids* scratch = nullptr;  // the run's shared scratch grids; null: each module its own
};

// The section of a module is required (a missing one ends the run) or optional (a missing
// one switches the module off with a warning).
enum class SectionRequirement { Required, Optional };

class teilmodellklasse : public modelobject {
 public:
  // Reads "[name]": flow control parameter and time interval. When the module is active
  // the control file stays positioned after these two values for the derived constructor,
  // which closes it; otherwise it is closed here. intParameter is kept for the module.
  teilmodellklasse(const ModuleInputs& in, const std::string& moduleName, int intParameter,
                   SectionRequirement requirement);
  ~teilmodellklasse() override;

  // --- flow control --------------------------------------------------------------------
  virtual int GetFlowControl() const { return flowControl; }
  virtual int GetTimeInterval() const { return timeIntervalMinutes; }
  virtual int GetIntParameter() const { return intParameter; }
  virtual void SetIntParameter(int value) { intParameter = value; }
  // When the FPE flag is pending (1) logs the values and sets it to 2, else clears it.
  virtual int ReportFPE(int i1, int i2, int i3, int i4, double a1, double a2, double a3, double a4, double a5);

  // --- solar geometry: declared and defined in solar_geometry.cpp's section below ------
  //     (see the block "solar geometry" at the end of this class)

  // --- tracer grids (tracer_grids.cpp) ---------------------------------------------------
  // Per tracer 1..count: the decay factor for this module's step (radioactive tracers),
  // a statistics writer over a copy of the zone table, and the registered storage and flux
  // grids. The table stays the tracer settings'. error is 0, or the code the operation
  // also throws. The application hands every module a count of 0.
  virtual void InitTracers(int& error, int count, TracerRecord* table, StatisticsTableEntry* statisticsTable,
                           int statisticsSize);
  // Releases what InitTracers created (statistics rows still buffered are written).
  virtual void DeleteTracers();

  // --- small numeric helpers -------------------------------------------------------------
  virtual double Product(double a, double b) const { return a * b; }
  // (wa*a + wb*b) / (wa + wb); 0 when both weights add up to exactly 0.
  virtual double WeightedMean(double a, double b, double wa, double wb) const;
  // a*b / (b - c); 0 when b equals c.
  virtual double ScaledRatio(double a, double b, double c) const;

  // --- per step ------------------------------------------------------------------------
  // Start-of-step hook of every module's step operation: stores the date and writes the
  // progress line; does nothing while the module is switched off.
  virtual void BeginTimeStep(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year,
                             const char* label = nullptr, const char* extra = nullptr);
  // Time interval (minutes) of another module's section; this module's own for an empty
  // name or its own name (the control file is then not touched).
  virtual int ReadFlowControl(const std::string& sectionName);
  // Stores the date and writes the progress line (see ProgressLineDue).
  void LogProgress(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year,
                   const char* label = nullptr, const char* extra = nullptr);

  // The cells that count for this module's zone statistics (hand it to AddGrid or
  // AddCells): the zone grid and code map, the module's rows and their active columns, and
  // with a grid "MPIRegions" only the cells of this instance.
  ZoneCells StatisticsCells() const;

  // --- shared scratch grids ----------------------------------------------------------------
  // Once the run is built: the grids this module registered that serve only one of its
  // calls are taken from the run's scratch grids when nothing else looked them up and no
  // write code asks for them (each module says which; none by default).
  virtual void ShareScratchGrids() {}
  // The scratch grid of slot for the grid registered at position, put into its record; null
  // when the run has no scratch grids, the grid was looked up or is to be written.
  double** ScratchFor(int position, size_t slot);

  // --- state ---------------------------------------------------------------------------
  std::string sectionHeader;  // "[" + name + "]" of the last section sought
  StatisticsTableEntry* statisticsTable = nullptr;
  int statisticsSize = 0;
  int outputListCount = 0;
  int* outputList = nullptr;
  double minToIntEnd = 0.0;       // minutes
  double minToIntEndHours = 0.0;  // the same in hours
  int flowControl = 0;            // 0: module switched off
  int readInitialGrids = 0;       // set by derived modules (1: start from initial grids)
  int method = 0;                 // set by derived modules
  int fpeFlag = 0;                // 0 none, 1 pending, 2 reported
  double timeInterval = 0.0;      // minutes
  int timeIntervalMinutes = 0;    // truncated to whole minutes
  double stepsPerDay = 0.0;
  int intParameter = 0;
  int64_t stepMinute = 0, stepHour = 0, stepDay = 0, stepMonth = 0, stepYear = 0;
  // The step's stamp as the calendar takes it (CalendarStamp: midnight written 0 h is 24 h of
  // the day before): the sun, the day of the year and monthly values are taken from it.
  ModelDate calendarStamp;
  ModelDate startDate;
  StorageFile* storage = nullptr;
  ScratchGrids* scratch = nullptr;  // the run's shared scratch grids (may be null)

  // Zone tables (shared, not owned), the zone grid (registry position 1; the soil model
  // replaces it with its own) and the row ranges of the basin.
  ZoneTableEntry* zoneTable = nullptr;
  int* zoneCodeMap = nullptr;
  int zoneCount = 0;
  int maxZoneCode = 0;
  double** zoneGrid = nullptr;
  int firstRow = 1;
  int lastRow = 0;

  // Site and solar constants (used by the solar geometry).
  double pi = 0.0;
  double degreesPerRadian = 0.0;
  std::array<double, 14> equationOfTimeTable{};  // minutes, on the first day of Dec(prev)..Jan(next)
  double latitude = 0.0, longitude = 0.0, referenceMeridian = 0.0;
  double sunrise = 0.0, sunset = 0.0;
  double daylightPart = 0.0, nightPart = 0.0, nightBeforeSunrise = 0.0, nightAfterSunset = 0.0;
  int nightFlag = 0;

  // --- tracer grids (tracer_grids.cpp) ---------------------------------------------------
  // Count 0 in a run; the table belongs to the tracer settings, moduleTracers (1..count,
  // entry 0 unused) to the module.
  int tracerCount = 0;
  TracerRecord* tracerTable = nullptr;
  std::vector<ModuleTracer> moduleTracers;
  // --- end of tracer grids ---------------------------------------------------------------

  // --- solar geometry (solar_geometry.cpp) -----------------------------------------------
  // Site from latitude, longitude (degrees) and the reference meridian; clock time in
  // hours; month lengths from daysPerMonth. Safe in parallel loops, except
  // DaylightFraction, which stores its results in the object.
  virtual double SolarDeclination(int64_t day, int month) const;  // degrees
  virtual double EquationOfTime(int64_t day, int month) const;    // hours
  // Size of the sun's elevation in degrees (also positive below the horizon).
  virtual double SunElevation(int64_t day, int month, double lat, double lon, double clockTime) const;
  // Azimuth from north and signed elevation, radians.
  virtual void SunPosition(int64_t day, int month, double& azimuth, double& elevation, double lat, double lon,
                           double clockTime) const;
  virtual double CosIncidenceAngle(double azimuth1, double angle1, double azimuth2, double angle2) const;
  // Clock times of sunrise and sunset; sunrise 0 and sunset 24 when the sun never sets,
  // both at solar noon when it never rises.
  virtual void SunriseSunset(int64_t day, int month, double& sunriseOut, double& sunsetOut, double lat,
                             double lon) const;
  // Night and daylight part of the current step (sunrise, sunset, daylightPart, nightPart,
  // nightBeforeSunrise, nightAfterSunset, nightFlag); returns the night flag.
  virtual int DaylightFraction();

  // --- zone ranking (zone_ranking.cpp) ---------------------------------------------------
  // Ranks the sub-basins of the registered grid "zonegrid_soilmodel" (soil and snow
  // models): its matrix, the zone table (entries 0..zoneCountOut), the code map and the
  // largest code. On instances other than 0 only the matrix is returned.
  void RankZones(double**& gridOut, std::vector<ZoneTableEntry>& tableOut, std::vector<int>& codeMapOut,
                 int& zoneCountOut, int& largestCodeOut);
};

// The progress-line rule: whether a step of a module with reporting interval R (hours,
// below 1 counts as 1), time interval I (minutes) and data-time shift S (hours) writes its
// line at hour h and minute m.
bool ProgressLineDue(int reportHours, double intervalMinutes, double shiftHours, int64_t hour, int64_t minute);

// The message of a module whose time interval is shorter than the data-time shift.
std::string IntervalShorterThanShiftMessage(double interval, const std::string& moduleName, double shiftMinutes);
