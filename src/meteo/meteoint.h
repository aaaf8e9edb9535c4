// The interpolator of one meteorological variable: it reads the variable's control
// section and station files, keeps its result grid registered under the variable's name,
// and per time step interpolates the station values of the current record onto the grid.
//
// The member functions are spread over several files by concern:
//   meteoint.cpp               construction, the control section, description, release
//   meteoint_step.cpp          the step: interpolation, statistics, output, next record
//   meteoint_grids.cpp         rotated coordinate grids, scenario grids, grid lists
//   station_file.cpp           the station file reader
//   interpolation_kernels.cpp  the per-cell operations and the parallel row loop
//   elevation_regression_steps.cpp  regression files and station regressions (2, 3, 10, 11)
//   station_mesh_steps.cpp     station meshes: orientation, corner stations (5, 6), splines (7, 8)
//
// Methods 1 (inverse distance, with optional anisotropy), 2, 3, 10 and 11 (elevation
// regressions, mixed with inverse distance in 3 and 11), 4 (nearest station), 5 to 8
// (bilinear or cubic splines between the stations of a mesh, 6 and 8 with elevation
// gradients), 9 (ready-made grids from a grid list) and 12 (nearest station with lapse
// rates).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/model_date.h"
#include "framework/modelobject.h"
#include "init/hru.h"
#include "meteo/elevation_regression.h"
#include "meteo/interpolation_kernels.h"
#include "meteo/regression_file.h"
#include "meteo/splines.h"
#include "meteo/station_mesh.h"
#include "meteo/station_file.h"

struct ModuleInputs;
struct StatisticsTableEntry;
struct ZoneTableEntry;
class zonalstatistic;

// Name of method m as the control file's method label lists it ("idw", "thiessen", ...).
const char* InterpolationMethodName(int method);

// Before the interpolators of a step run (the records read, the precipitation corrected):
// interpolators whose stations stand at the same places and are valid alike have their
// inverse-distance values made in one pass per group, which weighs each station once per
// cell for all of them. Each one's Interpolate then finishes its own values; the results
// have the bits of each interpolator run alone. Returns how many interpolators share.
class meteointerpol;
int ShareInverseDistance(meteointerpol* const* interpolators, int count, ModelDate date);

class meteointerpol : public modelobject {
 public:
  // Builds the interpolator from its section "[name]" with its result grid at registry
  // position resultPosition. option: the further value of [output_interval] that only
  // interpolators take. A failure is thrown as its error code (103 for anything else).
  meteointerpol(const ModuleInputs& in, const std::string& name, int resultPosition, int option);
  // The same, with the code of a failure also stored in error (0 on success).
  meteointerpol(int& error, const ModuleInputs& in, const std::string& name, int resultPosition, int option);
  ~meteointerpol() override;

  void DeleteModule() override;
  virtual void SetIntOption(int value) { warningSwitch = value; }
  // The hour offset of the progress line (minutes / 60 of the application's setting).
  virtual void SetTimeStepHours(double hours) { hourOffset = hours; }
  virtual void SetHourOffset(double hours) { hourOffset = hours; }
  virtual void GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month, int64_t& year) const;
  // Interpolates the current record onto the result grid; the date must be the current one.
  virtual void Interpolate(ModelDate date);
  void Interpolate(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year) {
    Interpolate(ModelDate{minute, hour, day, month, year});
  }
  virtual void ReadNextRecord();
  // When this step's cell loop is inverse distance on the vector kernel that another
  // interpolator's may share (methods 1, 3 and 11 of power 1 or 2, the record for the
  // date, its values not all equal): fills loop and returns true.
  bool SharedInverseDistanceLoop(ModelDate date, CellLoop& loop);
  // The inverse-distance values of the step are in the result grid already (made with
  // other interpolators' in one pass): the step finishes them, or, when that pass finished
  // them too (pass.finished), takes from it what it did (cells without a station in reach,
  // rows added to the statistics).
  void TakeInverseDistanceFromResult(const SharedPassResult& pass) {
    inverseDistanceInResult = true;
    sharedPass = pass;
  }
  virtual int IsEndOfPeriod() const { return endFlag ? 1 : 0; }
  // The input file that ran out before the end date; empty while none has.
  const std::string& InputEndedEarly() const { return inputEndedEarly; }
  // Whether an input runs out with the current record, before the end of the period: the
  // run then ends with this step, and the file is noted (InputEndedEarly).
  bool InputRunsOutAfterThisStep();
  // The file whose records give the interpolator its dates.
  const std::string& DateSourceFile() const {
    return interpolationMethod == 2 || stationFiles.empty() ? regressionFile.fileName : stationFiles[0].fileName;
  }
  // The record of the run's start in the first station file (or grid list) and the one
  // after it; count 0 for an interpolator that reads neither.
  const StepRecords& StationStepRecords() const { return stepRecords; }
  // Every record of the station files has to follow the one before by minutes (0: not
  // checked); source says where that step comes from. It is the step of the run: methods 2
  // and 3 refuse one below an hour.
  void SetRecordStep(int minutes, const std::string& source);
  virtual void SetEndDateToCurrent();
  virtual void WriteStatistics();
  virtual void WriteResultGrid();
  virtual void RewindInputFiles();
  // Methods 10 and 11: fits the regression parameters to the current values of station
  // file `file` (0); called before the interpolation of every step.
  virtual void ComputeStationRegression(int file);
  // Methods 2 and 3: takes the next record of the regression file (r = 1).
  virtual void AdvanceRegressionData(int r);
  // Cell operations of the elevation and mesh methods, for callers outside the cell loop
  // (the loop uses the same functions of elevation_regression.h and station_mesh.h).
  virtual double RegressionCellValue(int row, int column, double x, double y, double z) const;
  virtual double ElevationGradientCellValue(double x, double y, double z, double g1, double H, double g2) const;
  virtual double BilinearCellValue(double x, double y, int file, int row, int column, double* buffer) const;
  virtual int FindStationInWindow(double x, double y, double xFrom, double xTo, double yFrom, double yTo) const;
  virtual int AnyFlagSet(const int* flags, int n) const;
  static double Determinant3(const double a[4], const double b[4], const double c[4]) {
    return ::Determinant3(a, b, c);
  }

  int GetMethod() const { return interpolationMethod; }
  int interpolationMethod = 0;  // 1..12; 10 and 11 work from station regressions
  int option = 0;

  // --- read access for the application, other modules and tests -------------------------
  double** ResultGrid() const { return result; }
  int ResultPosition() const { return resultPosition; }
  const std::string& Description() const { return description; }
  const StationFile& Station(int i) const { return stationFiles[i]; }
  StationFile& Station(int i) { return stationFiles[i]; }
  ModelDate CurrentDate() const { return current; }
  double Nodata() const { return nodataN; }
  double AverageHorizontalDistance() const { return avgHorizontal; }
  double AverageVerticalDistance() const { return avgVertical; }
  // Point evaluation of the interpolation (precipitation correction), post-processed
  // only when valid: the same operations as the cell loop at (x, y).
  double PointValue(int file, double x, double y) const;
  // The same at elevation z, for the methods that depend on it (2, 3, 10, 11 and 12); a
  // position at the grid nodata value leaves out the plane of residuals.
  double PointValue(int file, double x, double y, double z) const;
  // The value of a station mesh (methods 5 to 8) at a point: the bilinear value of the
  // point's cell corners (6: plus the gradient's bilinear value times the cell's
  // elevation), or for the spline methods the nearest valid station at the cell's
  // coordinates. Post-processed when valid.
  double MeshPointValue(double x, double y) const;
  // The regression parameters of the step (methods 2, 3, 10 and 11).
  const RegressionParameters& Regression() const {
    return (interpolationMethod == 2 || interpolationMethod == 3) ? regressionFile.parameters : stationRegression;
  }
  // Precipitation correction rewrites them before the step's interpolation.
  RegressionParameters& Regression() {
    return (interpolationMethod == 2 || interpolationMethod == 3) ? regressionFile.parameters : stationRegression;
  }

 protected:
  // For stand-ins of the tests: an interpolator at a start date that reads no control
  // file and no station file; its operations do nothing until a derived class says so.
  meteointerpol(const ModuleInputs& in, const std::string& name, ModelDate start, double stepMinutes);

  void Construct(const ModuleInputs& in, int resultPosition);
  void Release();
  // Reads the variable's section, step by step in the order of its lines: the method, the
  // station file lines, the method's parameters (regression file or a row of numbers), the
  // result grid with its statistics, no-data value, inverse-distance and anisotropy settings
  // and limits, then the scenario.
  void ReadControlSection();
  void ReadMethod(const std::string& section);
  void ReadStationLines();
  void ReadMethodParameters();
  // Methods 9 to 12 read their parameters from the next line, a row of numbers of the
  // control file ("8.9e-5, 0.077, 127, ..." too).
  TextCursor NextParameterRow();
  void ReadGifMapping();              // method 9
  void ReadElevationRegressionRow();  // methods 10 and 11
  void ReadElevationGradientRow();    // method 12
  // A number of a parameter row with the unit it takes, and a unit written behind it.
  bool ReadRowValue(TextCursor& c, double& value, const char* unit);
  void ReadResultSettings();
  // Declares the station, regression, scenario and grid-list files (and the listed grids)
  // to the check of the run's files.
  void DeclareInputFiles(const std::string& section);
  void DeclareListedGrids(const std::string& entry);
  void ReadScenarioSettings();
  void BuildDescription();
  void CreateStatistics(const ModuleInputs& in);
  void CreateRotatedCoordinates();
  void SetAnisotropy();
  void ComputeStationDistances();
  void LoadScenarioGrid(int64_t month);
  void FindStartDateGridList();
  void NextGridListRecord();
  void ReadListedGrid();
  void WriteMissingStationWarnings();
  // Names in one WARNING at the start the stations of an inverse-distance method that lie
  // beyond the maximum distance of every cell: they are never weighed.
  void WarnOfStationsOutOfReach();
  // What the message of the variable's missing section adds: a heading of the control file
  // that differs from key in upper and lower case only, and the variables [meteo_names] names.
  std::string MissingSectionNote(const std::string& key);
  // Says once per run, whatever the warning switch, that a step left cells without a
  // station in reach, and once that the limits replaced values (how many, which limit).
  void ReportCellCounts(const CellCounts& counts, const ModelDate& date);
  bool warnedNoStation = false, warnedLimits = false;
  // The cell loop of the current settings and record, apart from the shortcut of a record
  // whose values are all equal.
  void FillCellLoop(CellLoop& loop) const;
  // Points loop at the mask of cells without a station in reach when the step warns of them
  // (made on first use); returns whether it does.
  bool SetMissMask(CellLoop& loop);
  // The cells of the zone statistics.
  ZoneCells StatisticsCells() const;
  // Inverse-distance value of station file `file` at a point (rotated with anisotropy).
  double IdwPoint(int file, double x, double y) const;
  // Scaling, limits and scenario of a valid point value; invalid values come back as they are.
  double PostProcessPoint(double v, double x, double y) const;
  void OpenRegressionInput();
  // Regression files hold one record an hour: methods 2 and 3 end the start-up on a shorter step.
  void RefuseRegressionFilesBelowAnHour();
  void CheckSecondStationFile();
  void DetectStationGridOrientation();
  void ChooseLookupStations(int files);
  void StationsToGrid(int file);
  void RunSplinePass();
  double** GridData(int position) const;
  [[noreturn]] void Fatal(const std::string& text, int code);

  // --- settings of the section ----------------------------------------------------------
  int stationFileCount = 1;
  std::vector<StationFile> stationFiles;  // 0 and (methods 6, 8) 1
  std::string regressionFileName;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  std::string resultGridName;
  int writeCode = 0;
  double scalingFactor = 1.0;
  std::string statisticFileName;
  int statisticCode = 0;
  double nodataN = 9999.0;
  int integerNodata = 9999;
  double idwWeight = 2.0;
  double idwFraction = 1.0;
  double maxDistance = 0.0;  // as read (never squared)
  double anisotropySlope = 0.0;  // degrees as read, radians after construction
  double anisotropyRatio = 1.0;
  PostProcessing post;
  // method 10, 11 and 12 parameters
  double lowerInversion = 0, upperInversion = 0, tolerance = 0, clusterRange = 0, upperLapseRate = -9999;
  int overlap = 0;
  double lapseRate = 0, inversionHeight = -9999, fixedUpperLapseRate = -9999;
  int pTypeFlag = 0;
  int szenUse = 0, szenMeth = 0, szenNum = 0;
  ScenarioStations scenarioStations;
  std::vector<std::string> scenarioFiles;  // 12 names for SzenMeth 5 and 6

  // --- state -----------------------------------------------------------------------------
  int resultPosition = 0;
  double** result = nullptr;
  double** scalingGrid = nullptr;
  double** coordX = nullptr;
  double** coordY = nullptr;
  double** zoneGrid = nullptr;
  double** elevationGrid = nullptr;  // registry position 2 (elevation methods)
  double** mpiRegions = nullptr;
  double** hruGrid = nullptr;
  double** masterHruGrid = nullptr;
  std::vector<HruRecord> hruMasters;  // master cell of each HRU, found at the first step
  bool hruMode = false;
  bool regionsLooked = false;
  int rotatedXPosition = 0, rotatedYPosition = 0;  // registry positions of the rotated grids
  double** rotatedX = nullptr;
  double** rotatedY = nullptr;
  std::vector<double> stationXRot, stationYRot;  // 1..n of station file 0 (with anisotropy)
  IdwSettings idw;
  RegressionFile regressionFile;           // methods 2 and 3
  RegressionParameters stationRegression;  // methods 10 and 11
  ElevationGradientSettings gradient;      // method 12
  std::vector<int> meshCorners;            // methods 5, 6: four corner stations per cell
  StationMesh stationMesh;                 // methods 7, 8
  std::unique_ptr<TSplines> splines;
  std::vector<double> nodeValues, nodeSecondDerivatives;
  double** splineGradient = nullptr;       // method 8: the gradient grid of station file 1
  int scenarioPosition = 0;
  double** scenarioGrid = nullptr;
  int64_t scenarioMonth = -1;

  ModelDate start;
  ModelDate current;
  bool endFlag = false;
  std::string inputEndedEarly;
  void NoteEarlyEnd(const std::string& file);
  double timeStepMinutes = 60.0;  // the run's step, as far as it is known
  StepRecords stepRecords;
  int warningSwitch = 0;
  int firstRow = 1, lastRow = 0;
  std::vector<RowBounds> bounds;

  // method 9: the grid list
  std::string gridListName;  // the station file of the section
  std::string currentGridName;
  std::string lastValidGridName;
  std::vector<std::string> gridListNames;
  ModelDate listDate;

  std::unique_ptr<zonalstatistic> statistics;
  std::vector<ZoneTableEntry> zoneTableCopy;
  std::vector<int> zoneCodeMap;
  int zoneCount = 0;
  std::string description;
  std::vector<uint8_t> missMask;
  NearestStationIndex nearestIndex;  // methods 4 and 12
  bool inverseDistanceInResult = false;
  SharedPassResult sharedPass;  // what the shared pass did for this step
  double avgHorizontal = -9999.0, avgVertical = -9999.0;
  double meshCoefficient = 0.0;
  bool deleted = false;
};
