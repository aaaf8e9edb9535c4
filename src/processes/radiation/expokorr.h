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
  // One step; the last step of a run that computes every skipSteps-th step (above 1) keeps
  // the rhythm's state beside the correction grid (StateStackName).
  virtual void Run(ModelDate date);
  // A correction computed every skipSteps-th step declares the stack of its rhythm that its
  // last step writes beside the storage file of the run (storageName, the soil model's
  // storage file name; without one beside the correction grid's file name); at a warm start
  // (the soil model reads its storage file) it goes on with the rhythm and the factors of the
  // run before, from the stack that run kept beside the storage file read (without one, an
  // INFO says so, a WARNING when the record lists it, and the first step computes).
  void ContinueRhythm(bool warmStart, const std::string& storageName = std::string());
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
  bool effectiveShared = false;  // "Ieff_max" serves as a shared scratch grid (no reader)
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
  void Step(ModelDate date);
  void WriteRhythm();
  // The rhythm's state at a warm start; what ties the file read to the one written.
  const void* ReadRhythm(const std::string& storagePath);
  // Where the stack of the rhythm is read from: beside the storage file read (its folder and
  // the prefix of InitialStateDirectory); where it is not there and the record of an older
  // layout lists it elsewhere, where the record has it.
  std::string RhythmToRead(const std::string& storagePath) const;
  // The stack's name, relative to the output folder when written and to the state folder
  // when read (RhythmBesideStorageFile).
  std::string rhythmFile;
};

// The file of the rhythm's state beside the correction grid's file name: levels 0 the
// factor, 1 "Ieff_max", 2 the steps since they were computed, 3 the horizontal radiation of
// that step, 4 its last sub-step's relative sun height (2 to 4 the same in every cell).
std::string RhythmStateName(const std::string& correctionFile);
// Its name beside the storage file of the run (the folder of the storage file's name, which
// the output folder or the state folder, or their prefix, is put in front of): so the
// storage file and every file its record lists, copied into one folder, are a whole state.
std::string RhythmBesideStorageFile(const std::string& correctionFile, const std::string& storageName);
