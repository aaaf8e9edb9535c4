// Infiltration, built on the soil model: the application's soil model is this object.
#pragma once

#include "processes/bodenmod.h"

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

  int infiltrationFlowControl = 0;
  int infiltrationInterval = 0;
};
