// Reservoir rules: the observed water level of a lake or reservoir replaces its simulated
// state (volume, level, the water depth of its lake cells) at each date of a list file, in
// the model's own list layout ("orvel") or the provider's fixed columns ("bafu").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "assimilation/dataassim.h"

// What a level rule reads and sets of a reservoir or lake.
class LevelTarget {
 public:
  virtual ~LevelTarget() = default;
  // Whether the level-volume table has rows (without them a level means no volume).
  virtual bool HasLevelVolumeTable() const = 0;
  // Volume (m3) at a level (m) after the level-volume table.
  virtual double VolumeAtLevel(double level) const = 0;
  // Volume and level, and the water depth of the lake cells that follow the volume.
  virtual void SetState(double volume, double level) = 0;
};

// The lookup of the application's reservoir list by reservoir number.
data_assimilation::ReservoirLookup DefaultReservoirLookup(std::vector<SP_class*>& list);

class data_assimilation_reservoir_entity : public data_assimilation_entity {
 public:
  enum class Layout { Orvel, Bafu };

  data_assimilation_reservoir_entity(data_assimilation& module, const std::string& ruleText);

  void Apply(ModelDate date) override;

  int LakeId() const { return lakeId; }
  Layout Format() const { return layout; }
  int SkipRows() const { return skipRows; }
  double PendingLevel() const { return pendingLevel; }
  double AverageWaterTable() const { return averageWaterTable; }

 private:
  void ReadNextRecord() override { ReadNextRecord(false); }
  long PendingLine() const override;
  // Reads the next record; at construction the month dots of the log entry are written.
  // A provider line without its date or level, or a date no calendar has, ends the run (1205).
  void ReadNextRecord(bool atConstruction);
  // Whether the list's next record (either layout) is dated in the pending record's hour.
  bool NextLevelInPendingHour();
  [[noreturn]] void DateError(const std::string& what);
  void SkipLines(int n);

  int lakeId = 0;
  std::unique_ptr<LevelTarget> reservoir;
  double averageWaterTable = 0.0;
  std::string formatWord;
  Layout layout = Layout::Orvel;
  int skipRows = 0;
  double pendingLevel = 0.0;
  int lastMonth = -1;  // month of the last record read at construction (progress dots)
};
