// Radiation correction: the factor by which direct radiation on every cell's slope,
// aspect and terrain shading differs from that on a horizontal surface, integrated over
// sub-steps of the time step, and the air temperature corrected by that exposure.
// Implemented beside this header.
#pragma once

#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/thread_policy.h"

class expokorrklasse : public teilmodellklasse {
 public:
  expokorrklasse(int& error, const ModuleInputs& in);
  ~expokorrklasse() override;

  // The correction grid when the flow control parameter is 1, else null.
  virtual double** GetCorrection();
  virtual void Run(ModelDate date);
  void DeleteModule() override;
  void ShareScratchGrids() override;

  // --- section values ---------------------------------------------------------------
  int correctionMethod = 2;  // 1..4
  std::string temperatureFile, correctionFile, shadowFile;
  int temperatureWriteCode = 0, correctionWriteCode = 0, shadowWriteCode = 0;
  double temperatureScale = 0.0;
  int skipSteps = 1;  // compute in every skipSteps-th step
  int subSteps = 1;   // sub-steps per time step

  // --- grids (registry positions 0 when absent) ------------------------------------
  double** correction = nullptr;
  double** shadow = nullptr;
  double** effectiveRadiation = nullptr;  // "Ieff_max"
  double** correctedTemperature = nullptr;
  double** nightTemperature = nullptr;
  int correctionPosition = 0, shadowPosition = 0, effectivePosition = 0, temperaturePosition = 0,
      nightPosition = 0;
  double** temperature = nullptr;  // the air temperature read
  double** sunshine = nullptr;
  double** dem = nullptr;
  double** aspect = nullptr;
  double** slope = nullptr;
  // Cosine and sine of every cell's slope at (r * (ncols + 1) + c) * 2: the slope does not
  // change during a run, so they are made once at start-up rather than in every sub-step.
  std::vector<double> slopeCosSin;
  std::vector<MatrixOwner> owned;

  // --- state ---------------------------------------------------------------------------
  int stepCounter = 0;
  double horizontalSum = 0.0;  // of the last computed step
  double relativeSunHeight = 0.0;  // of the last sub-step of the last computed step
  bool computed = false;
  // Grids smaller than this run their cell loops on one thread (threads cost more there).
  long minParallelCells = MinParallelCells();

 private:
  // Why the module made no "temperature_night", for the message of a module that needs it.
  std::string NightTemperatureAbsence(int runStepMinutes) const;
  bool CastsShadows() const;
  bool Parallel() const;
  bool IsModuleCell(int r, int c) const;
  double** NewGrid(int rows, double fill);
  int Register(const std::string& fileName, double** data, const std::string& internalName, int writeCode);
  // Calls row(r, zone row r) for every row of the grid (on all threads when parallel);
  // nothing without a zone grid.
  template <typename Row>
  void ForModuleRows(bool parallel, Row&& row);
  void CorrectTemperature();
  void CorrectTemperatureRow(int r);
};
