// Regional superposition: combines the interpolated fields of regional entities.
#pragma once

#include "framework/teilmod.h"

class RegionalSuperposition : public teilmodellklasse {
 public:
  // Section "[RegionalSuperposition]"; raises its failures itself.
  explicit RegionalSuperposition(const ModuleInputs& in);
  ~RegionalSuperposition() override;

  virtual void Run(ModelDate date);
  virtual void WriteResults();
  virtual void WriteStatistics();
  void DeleteModule() override;
};
