// Meteorological interpolation: one interpolator per variable of [meteo_names]. It reads
// the dated station records of its variable, interpolates them onto the model grid in each
// step, writes the result grid and its statistics, and keeps the clock of the run.
//
// This version keeps the clock only: the current date starts at the model start and
// advances by the model's time step with every record; no station data are read and the
// result grid is not filled.
#pragma once

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

class meteointerpol : public teilmodellklasse {
 public:
  // position: first free grid-registry position for the result grid; option: the further
  // value of [output_interval] that only interpolators take. Failures raise their code.
  meteointerpol(const ModuleInputs& in, const std::string& variableName, int position, int option);
  ~meteointerpol() override;

  virtual void SetIntOption(int value) { intOption = value; }
  virtual void SetHourOffset(double hours) { hourOffset = hours; }
  virtual void GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month, int64_t& year) const;
  // Elevation regression of the step's station values (methods 10 and 11).
  virtual void ComputeStationRegression(int mode);
  virtual void Interpolate(ModelDate date);
  virtual void WriteResultGrid();
  // Reads the next dated record, which becomes the current date.
  virtual void ReadNextRecord();
  // 1 once the current date has reached the end date.
  virtual int IsEndOfPeriod() const;
  virtual void SetEndDateToCurrent();
  virtual void WriteStatistics();
  void DeleteModule() override;

  int interpolationMethod = 0;  // 10 and 11 work from station regressions
  int gridPosition = 0;
  int intOption = 0;
  int option = 0;
  double stepMinutes = 60.0;
  ModelDate current;

 protected:
  // For stand-ins of the tests: builds the object around a given start date without
  // touching the control file.
  meteointerpol(const ModuleInputs& in, const std::string& variableName, ModelDate start, double stepMinutes);
};

// Adds minutes to a date (Gregorian calendar; hour 0..23).
ModelDate AddMinutes(const ModelDate& date, int64_t minutes);
