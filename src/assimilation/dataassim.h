// Data assimilation: replaces snow grids and lake water levels by observed values at the
// listed times.
#pragma once

#include <vector>

#include "framework/teilmod.h"

class SP_class;  // a reservoir or lake of a routing object

class data_assimilation : public teilmodellklasse {
 public:
  // The section is optional: without it the module is switched off.
  data_assimilation(int& error, const ModuleInputs& in, std::vector<SP_class*>& reservoirs, int mode,
                    int intParam);
  ~data_assimilation() override;

  // The grid entities, then the reservoir entities, whose observations are due.
  virtual void Run(ModelDate date);
  // Nothing is buffered.
  virtual void WriteStatistics() {}
  void DeleteModule() override;

  std::vector<SP_class*>* reservoirs = nullptr;  // the application's reservoir list
  int mode = 0;
};
