// Rows of [soil_table]: one row per soil-type code (row 0 unused).
#pragma once

#include <string>

class SoilTableEntry {
 public:
  SoilTableEntry() = default;
  virtual ~SoilTableEntry() = default;

  int code = 0;
  std::string name;
  int layerCount = 0;
  double hydraulicConductivity = 0.0;    // saturated conductivity of the upper layer
  double availableWaterCapacity = 0.0;   // per unit of root depth
  double fillablePorosity = 0.0;         // percent
};
