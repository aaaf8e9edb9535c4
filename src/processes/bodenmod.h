// The soil model: the VEVURADA soil water balance with baseflow, interflow and capillary
// rise, per cell and per sub-basin.
#pragma once

#include <string>

#include "framework/teilmod.h"

struct SubbasinRunoff;  // runoff components per sub-basin, read by routing and snow

class bodenmodellklasse : public teilmodellklasse {
 public:
  bodenmodellklasse(int& error, const ModuleInputs& in, const std::string& sectionName);
  ~bodenmodellklasse() override;

  // When active: chooses once the grid that gives the soil its water input.
  virtual void SetInputGrid(int interceptionBeforeSnow);
  // The runoff per sub-basin when active, else null.
  virtual SubbasinRunoff* GetSubbasinRunoff();
  // The storage file name when active, else null.
  virtual const char* GetStorageFileName() const;
  virtual void Run(ModelDate date);
  virtual void WriteStatistics();
  // Leaves the soil part of the storage file and frees the grids.
  void DeleteModule() override;

  // The soil model's own zone tables (sub-basins of "zonegrid_soilmodel").
  ZoneTableEntry* soilZoneTable = nullptr;
  int* soilZoneCodeMap = nullptr;
  int soilZoneCount = 0;
  int soilMaxZoneCode = 0;
  // Grids read by the daily land-use update.
  double** saturatedSoilPartition = nullptr;
  double** inactiveFieldCapacity = nullptr;
  double** inactiveSoilMoisture = nullptr;
  double** interflowStorage = nullptr;
  std::string storageFileName;
  SubbasinRunoff* subbasinRunoff = nullptr;
  int inputGrid = 0;
};
