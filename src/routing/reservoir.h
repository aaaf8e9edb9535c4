// One reservoir or lake on the channel network of a routing object (an "SP" entry of its
// routing description). A reservoir is a point storage with volume, level and area; a lake
// is a reservoir whose water also lies on its lake cells (the cells of "lake_codes" that
// carry its number), with a level-volume table built from the elevation model.
//
// Member functions by file:
//   reservoir.cpp         entry keys, operating rules, registry
//   reservoir_lake.cpp    lake cells, level-volume table, water depths of the lake cells
//   reservoir_step.cpp    the balance of one step and the outflow by rule or connection
//   reservoir_output.cpp  the balance file
//
// Failures write a "FATAL: " message ending in "[end-entry]" and throw the code.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "routing/reservoir_rules.h"

class LogStream;
class TextCursor;
class AL_class;

// Grids of the run a lake reads and writes; a grid that is not registered stays null.
struct LakeGrids {
  double** lakeCodes = nullptr;
  double** ponding = nullptr;     // water depth of the lake cells, mm
  double** maxPonding = nullptr;  // mm
  double** zones = nullptr;       // sub-basin grid
  double** dem = nullptr;         // m
  double** evaporation = nullptr;              // "real_transpiration", layer 0
  double** interceptionEvaporation = nullptr;  // layer 0
  double** snowEvaporation = nullptr;          // "snow_evaporation"
  double** qDown = nullptr;
  double** baseflow = nullptr;
  double** precipitation = nullptr;  // "PrecOnLakes"
  std::vector<double**> tracers;     // per tracer, cell values
};

// Evapotranspiration draws on the water of a lake cell only where it stands deeper than this
// (mm); a shallower lake cell evaporates nothing.
constexpr double kLakeEvaporationDepth = 1.0;

// What a reservoir takes from its routing object.
struct ReservoirContext {
  LogStream* log = nullptr;
  int tracers = 0;
  std::vector<std::string> tracerNames;
  std::vector<int> tracerTypes;       // type 1 is multiplied by its factor in every step
  std::vector<double> tracerFactors;
  int subbasin = 0;                   // code of the routing object's sub-basin
  int zone = 0;                       // its internal number
  GridGeometry geometry;
  const std::vector<RowBounds>* rows = nullptr;  // 1..nrows; null: every column
  LakeGrids grids;
  bool lakes = false;                 // lakes are modelled
  std::string outputDirectory;
  std::string tableDirectory;         // where the level-volume table goes
  int dt = 60;                        // minutes
  double timeOffset = 0.0;            // hours
  double stampToStepEndHours = 0.0;   // min_to_int_end / 60: the day a rule is chosen by
};

// Level, dV rate (m3/s) and area of every reservoir of a routing object, by number.
struct ReservoirLevels {
  const double* level = nullptr;
  const double* dVRate = nullptr;
  const double* area = nullptr;
};
using ReservoirRegistry = std::map<int, ReservoirLevels>;

// One balance term in its three forms.
struct BalanceTerm {
  double m3 = 0.0, mm = 0.0, m3s = 0.0;
};

// Appends buffered rows to a file: the first dateFields values as "%2.0lf", the rest as
// "\t%lg"; rows are emptied. On a failure the file keeps whole rows only; the FATAL
// message names the file, the reason and the rows lost, and code 65 is thrown.
void AppendBufferedRows(const std::string& fileName, std::vector<std::vector<double>>& rows, int dateFields,
                        LogStream* log);

class SP_class {
 public:
  SP_class() = default;

  void SetParameters(const ReservoirContext& context);
  // Reads the entry keys ("file", "V0", "A0", "W0", "C0", "dTmin", "UseRunningAvg") from
  // the entry text, each by its name wherever it stands; a key given twice is refused.
  void ReadParameters(int number, const std::string& entry);
  // The state at the start: volume v0 (m3) and the nine concentrations of c0; no rows kept.
  void ResetState(double v0, const double* c0);
  // Lake cells, checks and the level-volume table (for a lake).
  void InitLake();
  // Reads "[abstraction_rule_reservoir_<number>]".
  void ReadAbstractionRules(TextCursor& controlFile);
  // The grids of the step a lake reads: evaporation, interception and snow evaporation,
  // and groundwater.
  void LinkLakeInputs(const LakeGrids& inputs);
  void AttachRegistry(ReservoirRegistry* registry);
  void AttachIndex(std::map<int, int>* connected);

  static std::string MakeFilePath(const std::string& directory, const std::string& name);
  // For the message about the folder of a file named `name` (whose: whose file it is): where
  // MakeFilePath puts a name that it takes as written although a directory is given (it
  // holds "/" or "~"); empty when the directory was put in front or there is none.
  static std::string AsWrittenNote(const std::string& directory, const std::string& name, const std::string& whose);

  // --- lake ------------------------------------------------------------------------------
  double InterpolateForward(double v) const;   // level from volume
  double InterpolateBackward(double w) const;  // volume from level
  // Sets W from v and the water depths of the lake cells, which hold v; returns the
  // flooded cells.
  int UpdateLakeLevel(double v);
  // Volume and concentrations held in the lake cells; returns the wet cells.
  int SumLakeCells(std::vector<double>& out) const;
  void SumLakeCellTracers();

  // --- step ------------------------------------------------------------------------------
  // One call of the reservoir: inflow (m3/s) with its tracer concentrations, dt in minutes,
  // irrigation and abstraction volumes (m3). runoffFactor divides the lake-cell fluxes.
  void BeginStep(double inflow, const double* inflowConcentrations, std::vector<AL_class*>& abstractions,
                 const StepDate& date, int runoffFactor, int conversion, int s, double dt, double irrigation,
                 double abstraction);
  // Mean outflow (m3/s) over dt minutes, by rule or connection; mode-8 abstractions draw
  // on the reservoir in every sub-step.
  double TimeStep(std::vector<AL_class*>& abstractions, const StepDate& date, double qin, double dt,
                  double timeOffset);

  static double WeightedMean(double a, double b, double wa, double wb);

  // --- output ----------------------------------------------------------------------------
  void WriteOutputHeader();
  void StoreOutputRow(const StepDate& date);
  void FlushToDisk(int flag);

  // --- state -----------------------------------------------------------------------------
  int number = 0;
  bool lake = false;
  std::vector<double> state;     // V (m3), then the tracer concentrations
  std::vector<double> previous;  // the state at the start of the step
  double W = 0.0, A = 0.0, W0 = 0.0, A0 = 0.0;
  double V0 = 0.0;  // initial volume of the entry
  double Qout = 0.0;             // m3/s
  double dTmin = 60.0;           // s
  int useRunningAvg = 0;         // hours
  std::deque<double> runningAvg;
  double storedBalance = 0.0;    // m3
  BalanceTerm Qin, QoutTerm, Irrig, QGW, ETR, PREC, dV, Abstr, Err;
  double withdrawalGiven = 0.0;  // m3 of the step's outside abstraction volume it could give
  std::vector<double> levels, volumes;  // level-volume table, highest level first
  int firstRow = 0, lastRow = -1, firstCol = 0, lastCol = -1;  // bounding box of the lake
  OperatingRules rules;
  HydraulicConnection connection;
  std::string fileName;
  std::string fileNameNote;  // AsWrittenNote of the name as written
  std::vector<std::vector<double>> rows;  // buffered output rows
  size_t rowCapacity = 0;

  const ReservoirContext& Context() const { return c_; }

 private:
  bool IsLakeCell(int row, int col) const;
  double HeldBelow(double level) const;  // water (m summed over the cells) below a level
  double TableOutflow(double vx, double v, double qin, const RuleChoice& choice) const;
  void Abstractions(std::vector<AL_class*>& abstractions, std::vector<double>& acc, double reference, double& v,
                    const StepDate& date) const;

  StepDate date_;
  ReservoirContext c_;
  // Per cell of the lake's bounding box, row by row: its water stood deeper than
  // kLakeEvaporationDepth when the depths were last written (evapotranspiration draws on it).
  std::vector<unsigned char> drawnOn_;
  // The ground of the lake cells, lowest first, and per entry k the water that a level at
  // ground_[k] holds over the cells below it: sum over i < k of ground_[k] - ground_[i] (m).
  // Any level's water then follows without a pass over the cells.
  std::vector<double> ground_, heldAtGround_;
  int lowestRow_ = 0, lowestCol_ = 0;  // a lake cell of the lowest ground
  ReservoirRegistry* registry_ = nullptr;
  std::map<int, int>* connected_ = nullptr;
};
