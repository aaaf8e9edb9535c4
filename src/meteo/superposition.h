// Regional superposition: output grids made as region-weighted sums of other grids. Each
// entity (cSuperposition) names input grids of the registry, gives each input one weight
// per region, and produces one output grid registered under its own name: in every basin
// cell the inputs are summed with the weights of the cell's regions, and up to three
// regions are blended with the region weight grids of the start-up ("regression_regions",
// "regression_weights1" and their levels 2 and 3).
//
// Section "[RegionalSuperposition]": flow control and time interval, a line
// "NumberOfEntities = n;", then n entity blocks (see superposition_kernels.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/model_date.h"
#include "framework/teilmod.h"
#include "meteo/superposition_kernels.h"

class zonalstatistic;
class RegionalSuperposition;

class cSuperposition {
 public:
  // Builds the entity from its parsed block: finds the inputs, checks their region lists,
  // registers the output grid and creates the statistics writer. Failures are thrown as
  // their error code after a FATAL message.
  cSuperposition(RegionalSuperposition& owner, const SuperpositionEntityText& text);
  virtual ~cSuperposition();
  cSuperposition(const cSuperposition&) = delete;
  cSuperposition& operator=(const cSuperposition&) = delete;

  virtual void WriteResults();
  virtual void WriteStatistics();
  virtual void Compute(ModelDate date);
  virtual void Release();

  const std::string& Name() const { return name; }
  const std::string& OutputName() const { return outputName; }
  int OutputPosition() const { return outputPosition; }
  double** Output() const { return output; }

 private:
  RegionalSuperposition& owner;
  std::string name;
  std::vector<std::string> inputNames;
  std::vector<double**> inputGrids;
  std::vector<double> weights;  // input e, region r at e * R + r - 1
  std::string outputName;
  int writeCode = 0;
  std::string tableName;
  int statCode = 0;
  double** output = nullptr;
  int outputPosition = 0;
  std::unique_ptr<zonalstatistic> statistics;
  std::vector<ZoneTableEntry> zoneTableCopy;
  double** mpiRegions = nullptr;
  int regionCount = 0;
  int levels = 0;
  double** regionGrids[4] = {nullptr, nullptr, nullptr, nullptr};
  double** weightGrids[4] = {nullptr, nullptr, nullptr, nullptr};
  ModelDate date;
  bool released = false;
};

class RegionalSuperposition : public teilmodellklasse {
 public:
  // Section "[RegionalSuperposition]"; raises its failures itself.
  explicit RegionalSuperposition(const ModuleInputs& in);
  ~RegionalSuperposition() override;

  virtual void WriteResults();
  virtual void WriteStatistics();
  virtual void Run(ModelDate date);
  void DeleteModule() override;

  int EntityCount() const { return static_cast<int>(entities.size()); }
  const cSuperposition& Entity(int i) const { return *entities[static_cast<size_t>(i)]; }

  // Region table of the start-up: region number 1..R of a code, and the codes ascending
  // (index 1..R). Empty without a region grid.
  std::vector<int> regionCodeMap;
  std::vector<long> sortedRegionCodes;
  int regionCount = 0;
  std::string outputDirectory;
  bool minuteColumn = false;

 private:
  void ReadEntities();
  // Names in a WARNING each key on a line of an entity block that no entity reads (where:
  // the line as messages name it).
  void ReportUnknownEntityKeys(const std::string& where, const std::string& line);
  [[noreturn]] void Fatal(const std::string& text, int code);

  std::vector<std::unique_ptr<cSuperposition>> entities;
  ModelDate date;
  bool deleted = false;
};
