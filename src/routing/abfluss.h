// Runoff routing through channels, lakes and reservoirs, with abstractions, to the
// discharge at every sub-basin outlet.
#pragma once

#include <vector>

#include "framework/teilmod.h"

struct SubbasinRunoff;  // the soil model's runoff per sub-basin
class routingclass;     // one routing object (channel, lake, reservoir, abstraction)

// What the routing module takes besides the common module inputs.
struct RoutingInputs {
  int soilInterval = 0;           // the soil module's time interval, minutes
  double routingTimeOffset = 0.0;  // MinutesToInvEndRouting of [output_interval]
  ZoneTableEntry* soilZoneTable = nullptr;
  int* soilZoneCodeMap = nullptr;
  int soilZoneCount = 0;
  int soilMaxZoneCode = 0;
  int soilInitialGrids = 0;  // 1 when the soil model starts from initial grids
};

class abflussmodellklasse : public teilmodellklasse {
 public:
  abflussmodellklasse(int& error, const ModuleInputs& in, const RoutingInputs& routing);
  ~abflussmodellklasse() override;

  // Names and looks up the grids that routing reads.
  virtual void SetInputGridNames(int interceptionBeforeSnow);
  // When active: keeps the runoff per sub-basin; without it the run cannot route (43).
  virtual void SetSubbasinRunoff(SubbasinRunoff* runoff);
  virtual void InitRouting();
  virtual void SetInitialDischarge(double q);
  // Reads the routing part ("[routing_model_v2]", else "[routing_model]") of the storage file.
  virtual void ReadStorageFile(const char* storageFileName, int initialGrids);
  // Appends every routing object to the list.
  virtual void CollectRoutingObjects(std::vector<routingclass*>& list);
  virtual void RunTimeStep(ModelDate date, int a, int b);
  virtual void WriteStatistics();
  // With run flag 1: end-of-run output and the routing part of the storage file.
  void DeleteModule() override;

  RoutingInputs routing;
  SubbasinRunoff* subbasinRunoff = nullptr;
  std::vector<routingclass*> routingObjects;  // owned by the routing module
};
