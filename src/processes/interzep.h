// Interception: the canopy storage, with snow held in the canopy for methods above 10.
#pragma once

#include "framework/teilmod.h"

class interzeptionsmodellklasse : public teilmodellklasse {
 public:
  interzeptionsmodellklasse(int& error, const ModuleInputs& in);
  ~interzeptionsmodellklasse() override;

  virtual void Run(ModelDate date);
  virtual void WriteStatistics();
  void DeleteModule() override;

  // Canopy snow: set from the snow model's values when the method is above 10.
  double transzone = 0.0;
  double T0R = 0.0;
};
