// The grid registry: one table of named grids shared by every module.
//
// A module registers the grids it produces at a position (1..999) under an internal name,
// with the file it is written to and a write code; other modules look the grid up by
// internal name and read the record directly. The record also holds the period grids
// that the write code asks for and the state of the period writer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/modelobject.h"

struct GridRecord {
  double** data = nullptr;   // the grid's values; owned by the registering module
  MatrixOwner periodT;       // running sum (tens digit)
  MatrixOwner periodH1;      // running minimum (H1 flag)
  MatrixOwner periodH2;      // running maximum (H2 flag)
  double*** stack = nullptr; // levels of a stack grid; null for a plain grid (not owned)
  int stackLevels = 1;
  std::string fileName;
  std::string fileNameT, fileNameH1, fileNameH2;
  std::string internalName;
  int units = 0;      // write code % 10
  int tens = 0;       // (write code % 100) / 10
  int h1 = 0;         // hundreds digit 1 or 3
  int h2 = 0;         // hundreds digit 2 or 3
  int periodStarted = 0;
  double accumulatedSteps = 1.0;
  int thousands = 0;  // (write code % 10000) / 1000
  MatrixOwner periodK;  // vegetation-period sum
  std::string fileNameK;

  // Further state of the period writer.
  double** vegetationStart = nullptr;  // looked up on the first vegetation accumulation
  double** vegetationStop = nullptr;
  double** vegetationDuration = nullptr;
  int vegetationPeriodEnded = 0;   // raised by the owner of the vegetation grids
  int vegetationPeriodBegins = 0;
  int persistent = 1;

  // Last write under a dated name and how often the same date was written again.
  int64_t lastYear = 0, lastMonth = 0, lastDay = 0, lastHour = 0, lastMinute = 0;
  int64_t repeatCount = 0;

  std::string firstFileName;  // the file name of the first registration at this position
  bool firstFileNameOwned = false;

  // Who writes the grid: the section of the registering module (messages name the grid as
  // "[section] internal name"), its output folder and whether it writes netCDF files.
  std::string section;
  std::string outputDirectory;
  bool netcdf = false;

  int firstRow = 0, lastRow = 0;  // row range of the period grids

  // True from registration until the record is freed; a free record ends every search.
  bool registered = false;

  // The range a warm start holds the cells of the grid to, where it is a state
  // (modelobject::HoldStateRange): its last write of a run under its own name holds it too.
  std::shared_ptr<const StateRange> stateRange;

  // Set by every search by name that finds the record (FindGrid, the requiring searches,
  // the point output). A grid the start-up derives only for its readers is given back
  // after the run is built when nothing looked it up since the start-up ended; its record
  // then holds one no-data row for every row (so searches go on past it) and released is
  // set: a search that finds it later ends the run.
  mutable bool lookedUp = false;
  bool released = false;

  // Used in record 0 only: registry-wide references of the netCDF writer to the
  // latitude and longitude grids (0 = none).
  int latitudePosition = 0;
  int longitudePosition = 0;
  // Used in record 0 only: why a grid that a module makes only in some set-ups is absent,
  // by internal name, as that module said it (NoteAbsentGrid); the requiring searches add
  // it to their message when the grid is missing.
  std::map<std::string, std::string> absenceReasons;
  // Used in record 0 only: the variables [meteo_names] names, as written there (the
  // internal names of the interpolators' grids); the requiring searches name them.
  std::vector<std::string> meteoNames;
};

// Owner of the 1001 records (positions 0..1000) in their empty state. The application
// makes one and hands Records() to every module.
class GridRegistry {
 public:
  GridRegistry() : records_(kGridRegistrySize) {}
  GridRecord* Records() { return records_.data(); }
  GridRecord& operator[](int position) { return records_[static_cast<size_t>(position)]; }

 private:
  std::vector<GridRecord> records_;
};

// Position of the latitude / longitude grid recorded for the netCDF writer (0 = none).
inline int LatitudeGridPosition(const GridRecord* grids) { return grids ? grids[0].latitudePosition : 0; }
inline int LongitudeGridPosition(const GridRecord* grids) { return grids ? grids[0].longitudePosition : 0; }
inline void SetLatitudeGridPosition(GridRecord* grids, int position) { grids[0].latitudePosition = position; }
inline void SetLongitudeGridPosition(GridRecord* grids, int position) { grids[0].longitudePosition = position; }

// Splits a write code into its digits (only code % 10000 counts).
struct WriteCodeDigits {
  int units = 0, tens = 0, hundreds = 0, thousands = 0;
  int h1 = 0, h2 = 0;
};
WriteCodeDigits SplitWriteCode(int writeCode);

// Notes why the grid of the internal name is absent, for a module that requires it later
// ("temperature_night": the radiation correction makes it only with a day-long interval);
// an empty reason forgets the note.
void NoteAbsentGrid(GridRecord* records, const std::string& internalName, const std::string& reason);
// What the message on a missing grid adds when a grid of [standard_grids] or
// [variable_grids] that no module has read yet bears a name near the one sought
// ("land_use" for "landuse"): that no module reads it under its name, and the name reader
// reads. Empty otherwise.
std::string UnreadNearNameNote(const GridRecord* records, const std::string& sought, const std::string& reader);
// What the messages of a missing grid or section add about the variables [meteo_names]
// names (registry record 0): the list, and a name there that differs from one sought only in
// upper and lower case. Empty without such variables.
std::string MeteoNamesNote(const GridRecord* records, const std::vector<std::string>& sought);

// Forgets every look-up so far (the start-up's own, before the modules are built).
void ForgetGridLookUps(GridRecord* records);
// True when a registered grid's write code asks for vegetation-period sums, which the
// period writer takes from the grids "VegetationStart<k>" .. "VegetationDuration<k>".
bool AnyVegetationPeriodSums(const GridRecord* records);

// The control-file entry of a registered grid: "[section] internal name", or the internal
// name itself when it is a section ("[zone_grid]").
std::string GridEntry(const GridRecord& record);
// The write code that the record's digits stand for.
int RecordWriteCode(const GridRecord& record);

// Declares to the files of the run (framework/run_files.h) the names under which every
// registered grid with a write code will be written (dated and period names as patterns),
// and names the grids that the grid reader read for the registry entries holding them.
void DeclareRegisteredGridFiles(const GridRecord* records);
