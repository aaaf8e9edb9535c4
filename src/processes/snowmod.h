// Snow and glaciers: accumulation and melt, energy balance, redistribution, glaciers with
// firn and elevation bands, permafrost thaw.
#pragma once

#include <string>

#include "framework/teilmod.h"

struct SubbasinRunoff;  // the soil model's runoff per sub-basin

class schneemodellklasse : public teilmodellklasse {
 public:
  schneemodellklasse(int& error, const ModuleInputs& in);
  ~schneemodellklasse() override;

  virtual void SetRadiationCorrection(double** correctionData);
  // The data of the grid "snowstorage_solid" when active, else null.
  virtual double** GetSnowStorageSolid();
  // The method when active, else 0.
  virtual int GetMethod() const { return flowControl != 0 ? method : 0; }
  virtual void SetSnowInterceptionFlag(int flag) { snowInterception = flag; }
  virtual void InitLakes(const std::string& lakeSection);
  virtual void SetSubbasinRunoff(SubbasinRunoff* runoff);
  // Reads the snow part ("[snow_model_v2]", else "[snow_model]") of the storage file.
  virtual void ReadStorageFile(const char* storageFileName, int initialGrids);
  virtual void Run(ModelDate date);
  virtual void PostRun(ModelDate date);
  virtual void WriteStatistics();
  // Leaves the snow part of the storage file (after routing and soil) and frees the grids.
  void DeleteModule() override;

  // Read under the labels "transzone for " and "T0R for "; interception takes them over.
  double transzone = 0.0;
  double T0R = 0.0;
  double** radiationCorrection = nullptr;
  double** snowStorageSolid = nullptr;
  int snowInterception = 0;
  SubbasinRunoff* subbasinRunoff = nullptr;
};
