// Data assimilation: replaces snow grids and lake water levels by observed values at the
// listed times. The module reads its rules from "[data_assimilation]" and builds one rule
// object (entity) per rule; each step it applies the grid rules, then the reservoir rules.
//
// Files:
//   dataassim.cpp            the module: section, rule texts, dispatch, step
//   assim_lists.h/.cpp       rule texts and list files: records, dates, fixed columns
//   assim_grid.h/.cpp        grid rules and the split of a snow total into its storages
//   assim_reservoir.h/.cpp   reservoir rules: observed levels into a lake or reservoir
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "assimilation/assim_lists.h"
#include "framework/teilmod.h"

class SP_class;  // a reservoir or lake of a routing object
class data_assimilation;
class LevelTarget;

// Base of a rule: what grid and reservoir rules share (the module, its geometry and rows,
// the run's start, the open list file and its pending record).
class data_assimilation_entity {
 public:
  data_assimilation_entity(data_assimilation& module, const std::string& type, const std::string& ruleText);
  virtual ~data_assimilation_entity() = default;

  // Applies the pending record when its time is the step's (year, month, day and hour).
  virtual void Apply(ModelDate date) = 0;

  const std::string& Type() const { return type; }
  bool HasPending() const { return pendingValid; }
  int64_t PendingTime() const { return pendingTime; }

 protected:
  // Writes the FATAL block of the module with message and throws code.
  [[noreturn]] void Fail(const std::string& message, int code) const;
  // Loads the list file into listFile; false when it cannot be read.
  bool OpenList();
  // Calendar seconds from which on a record is the run's to apply: the start's hour. A
  // record applies at the first step of its hour; a warm start leaves to the run before it
  // the records that run applied, those up to the end of the step before the start
  // (sub-hourly steps: a warm start at 00:30 does not apply again the record of 00:00 that
  // the run ending then applied, where a cold start at 00:30 does apply it).
  int64_t FirstRecordTime() const;
  // Reads the list on to the step: a pending record dated before the step's hour, which the
  // steps have passed without meeting it (dated on no step), is skipped with one WARNING
  // naming it and the steps around it, and the next record becomes pending. The step is kept
  // as the step before for the next call's WARNING.
  void SkipRecordsBeforeStep(ModelDate step);
  // Whether the pending record is dated at the step's hour (the rule applies it now).
  bool PendingAt(ModelDate step) const;
  // Reads the list's next record into the pending one (pendingValid false at its end).
  virtual void ReadNextRecord() = 0;
  // Reads the date of the list's next record into the pending one (levels: the reservoir
  // rules' layout); false when it cannot be read.
  bool ReadPendingDate(bool levels);
  // Whether the list's next record is dated in the pending record's hour: being applied at
  // the same step, the later record of an hour replaces the earlier.
  bool NextRecordInPendingHour(bool levels);
  // The line of the list file that holds the pending record (for messages).
  virtual long PendingLine() const { return listFile.LineNumber(); }
  // Checks every record of the list file before the run: a date that no calendar has, or a
  // record dated before the one above it, ends the run (1205, naming the file, line, field
  // and value); a list without records, without a record inside the run, or whose records
  // end at a line that is no record gets one WARNING. unreadLine is that line (0: none).
  void CheckListRecords(const std::vector<ListRecord>& records, long unreadLine);

  data_assimilation& module;
  LogStream* log = nullptr;
  std::string type;
  std::string ruleText;
  GridRecord* grids = nullptr;
  GridGeometry geometry;
  int firstRow = 1, lastRow = 0;
  ModelDate start;
  int timeInterval = 0;  // minutes

  std::string listFileName;
  TextCursor listFile;
  int64_t startTime = 0;    // FirstRecordTime
  int64_t pendingTime = 0;  // calendar seconds of the pending record
  ListDate pending;  // the pending record's date (its minute read where the list gives one)
  bool pendingValid = false;  // false once the list file holds no further record
  ModelDate previousStep;     // the date of the step before (missing before the first)
};

class data_assimilation : public teilmodellklasse {
 public:
  // Finds the reservoir or lake with a number among the application's reservoirs; null
  // when there is none.
  using ReservoirLookup = std::function<std::unique_ptr<LevelTarget>(int number)>;

  // The section is optional: without it the module is switched off; so is it in a
  // routing-only run (routingOnly != 0).
  data_assimilation(int& error, const ModuleInputs& in, std::vector<SP_class*>& reservoirs, int routingOnly,
                    int intParam, ReservoirLookup lookup = nullptr);
  ~data_assimilation() override;

  // The grid entities, then the reservoir entities, whose observations are due.
  virtual void Run(ModelDate date);
  // Nothing is buffered.
  virtual void WriteStatistics() {}
  void DeleteModule() override;
  void InitTracers(int& error, int count, TracerRecord* table, StatisticsTableEntry* statisticsTable,
                   int statisticsSize) override;

  // Per-row column range of the cells (all columns when the module has no row bounds).
  int FirstColumn(int row) const;
  int LastColumn(int row) const;
  // Whether a cell belongs to the domain (registry position 1 holds a value) and to this
  // instance.
  bool InDomain(int row, int col) const;

  // The water that grid rules put into the snow cover (or took out of it): per cell, the
  // change of liquid plus solid snow storage at each replacement, summed over the run (mm).
  // Null until a rule replaced a snow storage. This water enters the basin from outside its
  // balance; a balance of the run books it as an input.
  double** AssimilatedSnowWater() const { return assimilatedSnow.get(); }
  // Adds sign * (liquid + solid) of every domain cell to AssimilatedSnowWater.
  void BookSnowWater(double** liquid, double** solid, double sign);

  std::vector<SP_class*>* reservoirs = nullptr;  // the application's reservoir list
  ReservoirLookup findReservoir;
  int ruleCount = 0;
  std::vector<std::unique_ptr<data_assimilation_entity>> entities;
  int pondingIndex = 0;     // "ponding_storage", 0 until the first reservoir rule
  int lakeCodesIndex = 0;   // "lake_codes"
  double** mpiRegions = nullptr;
  // The run's step in minutes (that of its station records, else the timestep key, else
  // this module's interval), and whether the run goes on from an earlier run's state.
  int runStepMinutes = 0;
  bool warmStart = false;

 private:
  MatrixOwner assimilatedSnow;
  void ReadRules();
};

// The FATAL block of this module: heading, message, "[end-entry]"; then throws code.
[[noreturn]] void AssimilationFailure(LogStream* log, const std::string& message, int code);
// The closing rule line of the module's FATAL messages.
extern const char* const kAssimilationRule;
