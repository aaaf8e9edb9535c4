// Infiltration, built on the soil model: the application's soil model is this object. Each
// step splits every cell's water input into infiltrating water and infiltration excess
// (saturation-time approach with macropores) and then runs the cell's soil water balance,
// which adds the excess to the direct runoff, in one loop over the cells.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "processes/soil/bodenmod.h"

class infiltrationsmodellklasse : public bodenmodellklasse {
 public:
  // Builds the soil model from "[soil_model]", then reads "[infiltration_model]".
  infiltrationsmodellklasse(int& error, const ModuleInputs& in);
  ~infiltrationsmodellklasse() override;

  // Infiltration, then the soil water balance.
  void Run(ModelDate date) override;
  // Its own statistics and those of the soil water balance.
  void WriteStatistics() override;
  void DeleteModule() override;

  std::string moduleName = "infiltration_model";
  int infiltrationFlowControl = 0;  // 1 runs the infiltration
  double infiltrationInterval = 0.0;
  std::string excessGridName, excessStatisticsName, markerGridName;
  int excessWriteCode = 0, excessStatisticsCode = 0, markerWriteCode = 0;
  double macroporeFraction = 0.0;
  double** fillablePorosity = nullptr;
  int excessPosition = 0, markerPosition = 0;
  std::unique_ptr<zonalstatistic> excessStatistics;
  std::vector<ZoneTableEntry> excessZones;
  ZoneSums excessSums;  // the excess's zone sums, added as the rows are done

 private:
  void ReadOwnSection();
  // Readies the step's infiltration, which the soil model's cell loop runs.
  void PrepareInfiltration();
  // Writes the step's excess (its zone sums and grids).
  void CellLoopDone() override;
  ZoneTableEntry* excessTable = nullptr;  // the step's excess zone table (null: statistics off)
};
