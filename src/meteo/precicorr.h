// Precipitation correction: corrects the station values of precipitation before
// interpolation, or the precipitation grid after it.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"

class meteointerpol;

class precicorrclass : public modelobject {
 public:
  // interpolators: table 1..count; names: 1..count.
  precicorrclass(int& error, LogStream* log, meteointerpol** interpolators, const std::vector<std::string>& names,
                 const std::string& controlFileName, int count, GridRecord* registry, const GridGeometry& geometry);
  ~precicorrclass() override;

  // The highest elevation of the elevation model.
  virtual void SetInitValue(double value) { maxElevation = value; }
  virtual void CorrectStationValues();
  virtual void CorrectPrecipitation();
  void DeleteModule() override;

  meteointerpol** interpolators = nullptr;
  int interpolatorCount = 0;
  double maxElevation = 0.0;
  unsigned char correctGrid = 0;  // 1: correct the precipitation grid after interpolation
};
