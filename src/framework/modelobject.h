// Base of every configurable object: control-file access, end date, running statistics,
// the module log file, and access to the shared grid registry and grid files.
//
// The grid operations are declared here and implemented in src/grids (registry, file
// formats, period output); this header only forward-declares their types.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/model_date.h"
#include "framework/text_helpers.h"

class LogStream;
struct GridRecord;
class HeldStack;

// The values a state grid may hold in a cell of the basin: a finite number within
// [low, high] (lowAt, when set, gives the lower bound of each cell instead), or the
// no-data value itself. The texts name the bounds and the rule a value beyond them breaks.
struct StateRange {
  double low = -HUGE_VAL, high = HUGE_VAL;
  std::string lowText, highText, lowRule, highRule;
  std::function<double(int row, int col)> lowAt;
  // Water (or snow, firn, capacity) in mm: 0 or more, and less than 1e9 mm (1,000 km).
  static StateRange Storage();
  // A relative quantity 0..1, with 1e-9 either side for the rounding of a run's own sums.
  static StateRange Fraction();
  // Any finite number.
  static StateRange Finite() { return StateRange(); }
  // A finite number of low (named lowText) or more; below it breaks `rule`.
  static StateRange AtLeast(double low, const std::string& lowText, const std::string& rule);
  // A quantity of 0 or more (below it breaks lowRule) up to high (named highText; above it
  // breaks highRule).
  static StateRange ZeroUpTo(const std::string& lowRule, double high, const std::string& highText,
                             const std::string& highRule);
  // A volume in m³: 0 or more, and below 1e15 m³ (1,000 km³).
  static StateRange Volume();
  // A count of days or an age in days: 0 or more, and at most 1e7 days (27,000 years).
  static StateRange Days();
  // The rule v breaks, with lowHere the lower bound that applies to it: -1 none, 0 it is no
  // finite number, 1 it lies below the range, 2 above it.
  int Breaks(double v, double lowHere) const;
  int Breaks(double v) const { return Breaks(v, low); }
  // What a value that breaks rule kind (1 or 2) is, and the rule: "below 0; a storage is 0
  // or more".
  std::string Broken(int kind) const;
};
class NetcdfWriteOptions;
class NetcdfFileCache;

// Number of records of the grid registry (positions 0..1000; grids at 1..999).
constexpr int kGridRegistrySize = 1001;
constexpr int kMaxGridPosition = 999;
// Limits of texts that other code relies on.
constexpr size_t kMaxInternalName = 100;
constexpr size_t kMaxFileName = 2400;

// The header of every grid; a cell is valid when its value is greater than nodata_value.
struct GridGeometry {
  int32_t ncols = 0;
  int32_t nrows = 0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata_value = -9999.0;
};

// First and last active column of a grid row; last < 1 marks a row without active cells.
struct RowBounds {
  int32_t first = 1;
  int32_t last = 0;
};

// Run and output settings that every module takes over from the start-up.
struct OutputSettings {
  bool writeAsciiGrids = false;
  bool writeDoubleGrids = false;
  bool writeNetcdfGrids = false;
  std::string initialStateDirectory;
  std::string defaultOutputDirectory;
  std::string outputDirectory;  // prefix of written grid files (path join)
  std::string inputDirectory;   // prefix of read grid files (path join)
  // The run's step in minutes, as far as it is known: the timestep key until the station
  // records are read, then the distance of the records; below 1: not known (without a
  // minute column no step is shorter than an hour). A module keeps its own interval here.
  double timeStepMinutes = 60.0;
  // Hours from the hour stamp of the data to the end of its step (min_to_int_end / 60): the
  // step stamped h ends at h plus this.
  double stampToStepEndHours = 1.0;
  // The run's step in minutes, the same for every module: a day ends with the step that
  // holds its midnight (DayEndsOfStep), whether it ends at midnight or passes it. 0 until
  // the application knows it: a day then ends only with a step that ends at midnight.
  int runStepMinutes = 0;
  // The end of the run's first step ([model_time]): a grid read before the first step is the
  // initial state, that at the end of the step before (a netCDF file's record of that time).
  ModelDate runStart;
  int subHourTimeStep = 0;  // the "timestep" key of [output_interval]; 0 = hourly form
  int hruMode = 0;
};

class modelobject : public memory_handling {
 public:
  modelobject();  // minimal: run flag 0 only
  modelobject(LogStream* log, const std::string& controlFileName, const OutputSettings& settings = {});
  ~modelobject() override;

  void SetPosition(int index, double x, double y, double z);

  // --- module log, dates, report interval ---------------------------------------
  virtual void AppendModelLog(const std::string& text);
  virtual void SetEndDate(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute);
  // Sets February's length in daysPerMonth for the year of the current step (years below 1,
  // as in runs without dates, leave it as it is), so day arithmetic of a multi-year run
  // follows each year's own calendar.
  void UseFebruaryOf(int64_t year) {
    if (year >= 1) daysPerMonth[1] = DaysInMonth(year, 2);
  }
  virtual void SetReportInterval(int hours) { reportInterval = hours; }
  virtual int GetReportInterval() const { return reportInterval; }
  virtual double GetHourOffset() const { return hourOffset; }

  // --- control file ---------------------------------------------------------------
  // Opens the control file (the preprocessed copy) for the access operations below.
  bool OpenControlFile(const std::string& path);
  bool OpenControlFile() { return OpenControlFile(controlFileName); }
  void CloseControlFile() { controlFile = TextCursor(); controlFileOpen = false; }
  bool ControlFileIsOpen() const { return controlFileOpen; }
  // The control file as a message names it: the file the user wrote, not the preprocessed
  // copy (controlFileName) that the readers open. A line of it is named by
  // controlFile.LineText(line, ShownControlFile()).
  std::string ShownControlFile() const { return ControlFileLines::SourceOf(controlFileName); }

  [[noreturn]] virtual void ControlFileKeyError(const std::string& a, const std::string& b);
  // The same, with what mends it added to the English part.
  [[noreturn]] void ControlFileKeyError(const std::string& a, const std::string& b, const std::string& fix);
  // The system's text followed by the whole English report `why` in parentheses (error 17).
  [[noreturn]] void ControlFileKeyErrorBecause(const std::string& a, const std::string& b, const std::string& why);
  // Whether the entries of a section end before the position: the next word begins a
  // section ("[...]") or the file ends. A reader of a counted list asks before each entry.
  bool SectionEndsHere() const;
  // The report on a count of entries (read on countLine) that asks for more than the
  // section holds: the count given, the entries found (each `what`, "codes") and where the
  // section ended, then the fix. a and b as for ControlFileKeyError.
  [[noreturn]] void CountBeyondSection(const std::string& a, const std::string& b, const std::string& section,
                                       long countLine, long count, long found, const std::string& what);
  // The report on a count of entries (read on countLine of countSection) that the entries
  // go on beyond (each `what`, "codes"): unless the entries' section (entriesSection) ends
  // at the position, the count, the word the entries go on with and its line, then the fix;
  // the entries beyond the count would be dropped. a and b as for ControlFileKeyError.
  void CheckEntriesEndAtCount(const std::string& a, const std::string& b, const std::string& countSection,
                              long countLine, long count, const std::string& entriesSection, const std::string& what);
  [[noreturn]] virtual void WriteError(const std::string& file, int code);
  [[noreturn]] virtual void ReadError(const std::string& file, int code);

  // Rewinds and finds the line whose first word equals key; the file then stands at the
  // start of the next line. A missing key with mustExist set is error 17.
  virtual bool SeekControlKey(const std::string& key, bool mustExist);
  // After key was found on line: a second line beginning with key, which no reader reads,
  // is named with the first (once per section and control file).
  void NameSectionGivenAgain(const std::string& key, long line);
  // The section the start-up sought last (empty before any), so that a failure no reader
  // foresaw (memory exhausted by a count) can name where the control file was being read.
  static const std::string& LastSoughtSection();
  // Sees every section sought (label null) and every labelled value read from it, in the
  // order of reading; none by default. The tests compare it with the key tables of docs/.
  using ControlReadObserver = void (*)(const std::string& section, const std::string* label);
  static ControlReadObserver& ControlReadHook();
  // One positional value, then the rest of its line into restOfLine. A value that cannot
  // be read is error 17 with the label and the object's name. Returns 1.
  int ReadControlValue(int& value, const std::string& label);
  int ReadControlValue(long& value, const std::string& label);
  int ReadControlValue(long long& value, const std::string& label);
  int ReadControlValue(double& value, const std::string& label);
  // A word; words longer than maxLength are a control-file error (17).
  int ReadControlValue(std::string& value, const std::string& label, size_t maxLength = kMaxFileName);
  // Two values on one line; returns 2.
  int ReadTwoControlValues(double& a, double& b, const std::string& label);
  int ReadTwoControlValues(int& a, int& b, const std::string& label);
  int ReadTwoControlValues(long& a, long& b, const std::string& label);
  int ReadTwoControlValues(std::string& a, std::string& b, const std::string& label);

  // --- running statistics -----------------------------------------------------------
  virtual void ResetStatistics(double nodata);
  virtual void AddToStatistics(double x, double w);
  // Adds the sums of a part of the values (weights, weighted values and squares, their
  // minimum and maximum), as if its values had been added one by one.
  void AddStatisticsPart(double count, double sum, double sumSq, double minimum, double maximum);
  virtual void GetStatistics(double& count, double& minimum, double& maximum, double& sum, double& mean,
                             double& stddev) const;

  virtual double LinearInterpolate(double x0, double y0, double x1, double y1, double x) const;
  virtual void SetRunFlag(int flag) { runFlag = flag; }
  virtual void DeleteModule();

  // --- grid registry (src/grids/grid_registry.cpp) -----------------------------------
  int FindGrid(const std::string& internalName, bool includeUnfilled = false) const;
  int RequireGrid(const std::string& internalName) const;
  // RequireGrid for a grid this module reads only while it is built: the look-up does not
  // count as a reader's, so it does not keep the grid past the build (grids/grid_registry.h).
  int RequireGridWhileBuilt(const std::string& internalName) const;
  int RequireOneOf3Grids(const std::string& n1, const std::string& n2, const std::string& n3) const;
  int RequireOneOf4Grids(const std::string& n1, const std::string& n2, const std::string& n3,
                         const std::string& n4) const;
  void RegisterGrid(int position, const std::string& fileName, double** data, double*** stack, int levels,
                    const std::string& internalName, int writeCode, int firstRow, int lastRow);
  void FreeGrid(int position);
  // The first position from 1 whose record was never registered (0 when none is left).
  int FirstFreeGridPosition() const;

  // --- grid files (src/grids) ----------------------------------------------------------
  void ReadGrid(const std::string& fileName, double**& grid, int fillCode, bool allocate, bool announce,
                bool report, double defaultValue);
  // ReadGrid for a grid that must lie exactly on the basin (every grid read during the run,
  // and the state grids): an ASCII or binary grid of other rows, columns, cell size or
  // lower-left corner, or an ASCII row of another number of values than its header's
  // columns, ends the run with a FATAL naming the file and what differs (code 24; a
  // malformed row 22) instead of being resampled. GIF and netCDF grids are placed as
  // ReadGrid places them (by the module's georeference or the file's coordinates).
  void ReadBasinGrid(const std::string& fileName, double**& grid, int fillCode, bool allocate, bool announce,
                     bool report, double defaultValue);
  // RefuseImpossibleCells for a storage (StateRange::Storage).
  void RefuseNegativeCells(double** grid, const std::string& fileName, const std::string& what) const;
  // A state read at start-up holds in every cell of the basin (the zone grid's valid cells)
  // the no-data value or a finite number within its range: -inf is no no-data. Otherwise the
  // run ends with a FATAL naming the file, what it holds, the first such cell, its value and
  // how many cells break the rule (code 22).
  void RefuseImpossibleCells(double** grid, const std::string& fileName, const std::string& what,
                             const StateRange& range) const;
  // The same for the registered grid of the name (none: nothing to check).
  void RefuseImpossibleCells(const std::string& internalName, const StateRange& range) const;
  // The range of a registered state grid (found by its values), the same that
  // RefuseImpossibleCells holds it to when a warm start reads it: the end of a run does not
  // write the grid under its own name with a cell of the basin beyond it (the run fails with
  // the FATAL of RefuseImpossibleCells' kind, and the earlier state stays), so that no run
  // ends as a success with a state the next run refuses.
  void HoldStateRange(double** grid, const StateRange& range);
  // The same for the levels first..last of a stack read from fileName ("<what> level <l>").
  void RefuseImpossibleLevels(double*** stack, int first, int last, const std::string& fileName,
                              const std::string& what, const StateRange& range) const;
  void WriteGrid(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf,
                 int64_t year = -1, int64_t month = -1, int64_t day = -1, int64_t hour = -1,
                 int64_t minute = -1);
  // Writes a grid of the end state under its own name: it waits whole under a staged name
  // until the run's whole end state is written (framework/storage_file.h).
  void WriteStateGrid(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf,
                      int64_t year = -1, int64_t month = -1, int64_t day = -1, int64_t hour = -1,
                      int64_t minute = -1);
  void WriteGridDouble(const std::string& fileName, double** grid, bool ascii, bool asDouble, bool netcdf);
  void WriteGrids(int position, int onlyThisInstance, bool noPeriodOutput);
  int ReadStack(const std::string& fileName, double***& stack, int flag);
  // Reads the stack `file` that a run keeps at its end beside a grid as its state (levels
  // into `stack`): false when there is none, after an INFO "no <what> <path><beside>:
  // <without>" (a WARNING at the end of the start-up when the record of the storage file
  // read lists it: NoteStateFileMissing).
  bool ReadStateStack(const std::string& file, const std::string& what, const std::string& beside,
                      const std::string& without, HeldStack& stack);
  // Writes levels 0..top of a stack of the end state in double precision whatever the output
  // format (it is state: a warm start goes on with the same bits); the stack is given back
  // whether or not the write succeeds.
  void WriteStateStack(const std::string& file, HeldStack& stack);

 private:
  void ReadGridFile(const std::string& fileName, double**& grid, int fillCode, bool allocate, bool announce,
                    bool report, double defaultValue, bool basinOnly);

 public:
  // endState: a stack of the end state, written as WriteStateGrid writes a grid.
  void WriteStack(const std::string& fileName, double*** stack, int levels, bool ascii, bool asDouble,
                  bool netcdf, bool endState = false);
  void WriteStackGrids(int position);

  // --- instance-exchange hooks: the model runs as one instance, they do nothing --------
  void MPIDistributeGrid(int, double**) {}
  void MPIUpdateGrid(int, double**) {}
  void MPIGatherGrid(int, double**) {}
  void MPIGatherGridAlt(int, double**) {}
  void MPIDistributeGridAlt(int, double**, double**) {}
  int MPIQueryStub(int, void*) { return 0; }
  void MPIExchangeMatrix(int, int, double**) {}
  // Copies the source grid into dest where the mask grid is valid, over the active columns.
  void CopyWhereValid(int sourcePosition, int maskPosition, void* unused, double** dest) const;

  // --- state -------------------------------------------------------------------------
  std::string controlFileName;
  TextCursor controlFile;
  bool controlFileOpen = false;
  std::string restOfLine;   // the comment behind the last value read
  std::string spareBuffer;  // second text buffer of the object

  std::array<int, 12> daysPerMonth{{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  int64_t endYear = 0, endMonth = 0, endDay = 0, endHour = 0, endMinute = 0, endDateKey = 0;

  double statCount = 0, statMin = 0, statMax = 0, statSum = 0, statSumSq = 0, statNodata = -9999.0;
  bool statHasValue = false;  // minimum and maximum start from the first counted value

  int reportInterval = 0;
  double hourOffset = 0.0;
  int positionIndex = 0;
  double positionX = 9999.0, positionY = 9999.0, positionZ = 9999.0;

  // Default value mapping of the GIF grid reader.
  double gifScale1 = 0.0767528404, gifOffset1 = 8.916787e-05;
  double gifScale2 = 0.0767528404, gifOffset2 = 8.916787e-05;
  int gifThreshold = 127;

  int instanceNumber = 0;
  int instanceCount = 1;

  // netCDF bookkeeping, made by the netCDF layer on first use.
  std::shared_ptr<NetcdfWriteOptions> netcdfOptions;
  std::shared_ptr<NetcdfFileCache> netcdfCache;

  GridGeometry geometry;
  // Date of the current step (stored by the process-module base at every step); the
  // grid writers and the netCDF reader take it from here.
  ModelDate stepDate;
  // Mask of the grid reader's resampling: cells at -9999 or below keep the mask's value.
  double** readMask = nullptr;
  GridRecord* grids = nullptr;  // the shared registry (kGridRegistrySize records); not owned
  std::vector<RowBounds> rowBounds;  // index 1..nrows; empty until the region split
  double** relCellArea = nullptr;    // weights of the grid statistics; may be null
  std::array<double, 12> binaryHeader{};
  OutputSettings output;
  // While grids are read because a read flag asks for them (the state grids of a warm
  // start): the section and the flag ("[soil_model], read flag readgrids = 1"), which a grid
  // file that cannot be opened then names. Set for a scope with ReadFlagScope.
  std::string readFlagNote;
  // What those messages advise; empty: the advice for a state ("name the file the run before
  // wrote, or set the flag to 0 to start without it").
  std::string readFlagAdvice;
  // While the start-up reads a standard or variable grid: its section and internal name
  // ("[standard_grids] landuse"), and whether its values are codes (land use, soil types,
  // sub-basins), which a grid file of another geometry gives each basin cell from the file's
  // cell its centre lies in, never blended.
  std::string readGridName;
  bool readCodes = false;
  // Whether the grid read is a state the run writes again under its own name; false for an
  // input of the start-up that a write code writes once (8) or never: its file is no state
  // of a warm start.
  bool readIsState = true;
  // Whether the grid read is one a module needs in every cell of the basin (a start or
  // state grid, a parameter grid): a basin cell left without a value once the fill code has
  // filled what it fills ends the start-up naming the grid and the cells (EveryBasinCellScope).
  bool readEveryCell = false;
  // The section, without its brackets, that the grids registered or written now are
  // described in where it is not the object's name (the start-up's standard and variable
  // grids); empty: the name.
  std::string gridSection;
};

// A stack of levels (one per cell, [row][column][level]) that an object holds for one read or
// write, given back with this object.
class HeldStack {
 public:
  explicit HeldStack(memory_handling& owner) : owner_(owner) {}
  ~HeldStack() { Release(); }
  HeldStack(const HeldStack&) = delete;
  HeldStack& operator=(const HeldStack&) = delete;
  void Release() {
    owner_.Free3DMatrix(levels);
    levels = nullptr;
  }
  double*** levels = nullptr;
  int top = -1;  // the highest level

 private:
  memory_handling& owner_;
};

// Marks the grids an object reads in one scope as needed in every basin cell.
class EveryBasinCellScope {
 public:
  explicit EveryBasinCellScope(modelobject& o, bool everyCell = true) : o_(o), was_(o.readEveryCell) {
    o_.readEveryCell = everyCell;
  }
  ~EveryBasinCellScope() { o_.readEveryCell = was_; }
  EveryBasinCellScope(const EveryBasinCellScope&) = delete;
  EveryBasinCellScope& operator=(const EveryBasinCellScope&) = delete;

 private:
  modelobject& o_;
  bool was_;
};

// Names the section and read flag of the grids an object reads in one scope.
class ReadFlagScope {
 public:
  ReadFlagScope(modelobject& o, std::string note, std::string advice = std::string()) : o_(o) {
    o_.readFlagNote = std::move(note);
    o_.readFlagAdvice = std::move(advice);
  }
  ~ReadFlagScope() {
    o_.readFlagNote.clear();
    o_.readFlagAdvice.clear();
  }
  ReadFlagScope(const ReadFlagScope&) = delete;
  ReadFlagScope& operator=(const ReadFlagScope&) = delete;

 private:
  modelobject& o_;
};
