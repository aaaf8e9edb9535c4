// Radiation correction: corrects radiation and temperature for slope and aspect.
#pragma once

#include "framework/teilmod.h"

class expokorrklasse : public teilmodellklasse {
 public:
  expokorrklasse(int& error, const ModuleInputs& in);
  ~expokorrklasse() override;

  // The correction data of the module when it is active, else null.
  virtual double** GetCorrection();
  virtual void Run(ModelDate date);
  void DeleteModule() override;

  double** correction = nullptr;
};
