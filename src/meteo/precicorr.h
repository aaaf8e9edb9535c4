// Precipitation correction: precipitation is multiplied by a rain or a snow factor (decided
// by the air temperature against a threshold) that grows linearly with wind speed. Before
// interpolation it corrects the station values (or the regression parameters) of the
// precipitation interpolator; in grid mode, or with regional superposition, it corrects
// the precipitation grid after interpolation.
//
// Section "[precipitation_correction]": do_it, threshold temperature, rain constant, rain
// slope, snow constant, snow slope. A control file without the section runs without
// correction (with a warning).
//
// The arithmetic lives in precicorr_kernels.h.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "meteo/precicorr_kernels.h"

class meteointerpol;

class precicorrclass : public modelobject {
 public:
  // interpolators: table 1..count; names: 1..count. A failure puts its code into error
  // (103 for anything that is not an error code); switchOff builds the module switched off.
  precicorrclass(int& error, LogStream* log, meteointerpol** interpolators, const std::vector<std::string>& names,
                 const std::string& controlFileName, int count, GridRecord* registry, const GridGeometry& geometry,
                 bool switchOff = false);
  ~precicorrclass() override;

  // The highest elevation of the elevation model.
  virtual void SetInitValue(double value) { maxElevation = value; }
  virtual void CorrectStationValues();
  virtual void CorrectPrecipitation();
  void DeleteModule() override;

  // Value of another interpolator's variable at a point (x, y, elevation z), post-processed
  // like its grid; invalid values come back as they are. Methods 5 to 8 (station meshes)
  // give the missing value.
  double ValueAtStation(double x, double y, double z, const meteointerpol* source) const;

  // --- read access for the application and tests ----------------------------------------
  int DoIt() const { return doIt; }
  const PrecipitationFactors& Factors() const { return factors; }
  int PrecipitationIndex() const { return precipitationIndex; }
  int TemperatureIndex() const { return temperatureIndex; }
  int WindIndex() const { return windIndex; }
  bool NoTemperature() const { return noTemperature; }
  bool NoWind() const { return noWind; }

  meteointerpol** interpolators = nullptr;
  int interpolatorCount = 0;
  double maxElevation = 0.0;
  unsigned char correctGrid = 0;  // 1: correct the precipitation grid after interpolation

 private:
  void Construct(const std::vector<std::string>& names, bool switchOff);
  void ReadSection();
  int IndexOf(const std::vector<std::string>& names, const char* variable) const;
  double** RegisteredGrid(const char* internalName) const;
  // Temperature and wind at a point, with the substitutes for invalid values.
  void WeatherAt(double x, double y, double z, double& t, double& u) const;
  void CorrectRegression();

  int doIt = 0;
  PrecipitationFactors factors;
  int precipitationIndex = -1, temperatureIndex = -1, windIndex = -1;
  bool noTemperature = false, noWind = false;
  int precipitationPosition = 0;
  double** precipitationGrid = nullptr;
  double** temperatureGrid = nullptr;
  double** windGrid = nullptr;
  int precipitationMethod = 0;
  std::vector<double> stationTemperature, stationWind;  // 1..n, work arrays
  double** mpiRegions = nullptr;
  bool regionsLooked = false;
};
