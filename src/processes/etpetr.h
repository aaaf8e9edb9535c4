// Evapotranspiration: potential and real evapotranspiration, snow and lake evaporation.
#pragma once

#include <string>

#include "framework/teilmod.h"

class verdunstungsmodellklasse : public teilmodellklasse {
 public:
  verdunstungsmodellklasse(int& error, const ModuleInputs& in);
  ~verdunstungsmodellklasse() override;

  // When active: the soil grids "soil_storage" and "available_soil_moisture" (they must exist).
  virtual void LinkSoilGrids();
  // Each stores its argument when the module is active and returns the active flag.
  virtual int SetRadiationCorrection(double** correctionData);
  virtual int SetSnowStorageGrid(double** snowStorageSolid);
  virtual void SetSnowMethod(int snowMethod) { snowModelMethod = snowMethod; }
  virtual void InitLakes(const std::string& lakeSection);
  virtual void PotentialET(ModelDate date);
  virtual void SnowEvaporation(ModelDate date);
  virtual void RealET(ModelDate date);
  virtual void WriteStatistics();
  void DeleteModule() override;

  double** soilStorage = nullptr;
  double** availableSoilMoisture = nullptr;
  double** radiationCorrection = nullptr;
  double** snowStorageSolid = nullptr;
  int snowModelMethod = 0;
};
