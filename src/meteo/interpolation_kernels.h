// Per-cell interpolation of station values: inverse distance (isotropic and anisotropic),
// the nearest station, the rotation used by the anisotropy, result post-processing,
// scenario values, and the parallel row loop that applies them to a grid.
//
// Everything here is free of I/O and of the interpolator object, so that tests and the
// benchmark can drive it with hand-made stations and grids.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "framework/thread_policy.h"
#include "framework/zonalstatistic.h"

struct RowBounds;
struct RegressionParameters;
struct ElevationGradientSettings;

// Stations of one station file as the cell operations see them (arrays indexed 1..n).
struct StationPoints {
  int n = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* v = nullptr;
};

// Inverse-distance settings. The mode is floor(1000 * power): 2000 works on squared
// distances, 1000 on plain distances, any other mode uses pow().
struct IdwSettings {
  double power = 2.0;
  int mode = 2000;
  double maxDistance = 1e30;         // search radius in coordinate units
  double maxDistanceSquared = 1e60;  // its square, for mode 2000
};
IdwSettings MakeIdwSettings(double power, double maxDistance);

// A station value is valid when it is not below -N.
inline bool IsValidStationValue(double v, double nodata) { return v >= -nodata; }
// The value stored for a station value read from a file: unchanged inside [-N, N],
// otherwise the invalid marker -N-1.
inline double StoreStationValue(double v, double nodata) {
  return (v >= -nodata && v <= nodata) ? v : -nodata - 1.0;
}
// What a cell operation returns when no station can be used.
inline double MissingResult(double nodata) { return -nodata - 1.0; }

// Inverse-distance value at (x, y). A station exactly at the point counts at distance 1.
inline double IdwValue(const StationPoints& s, const IdwSettings& w, double nodata, double x, double y,
                       double ratio = 1.0) {
  double sumW = 0.0, sumWV = 0.0;
  const double valid = -nodata;
  for (int i = 1; i <= s.n; ++i) {
    const double v = s.v[i];
    if (!(v >= valid)) continue;
    const double dx = (s.x[i] - x) * ratio;
    const double dy = s.y[i] - y;
    double d2 = dx * dx + dy * dy;
    double weight;
    if (w.mode == 2000) {
      if (d2 == 0.0) d2 = 1.0;
      if (!(d2 <= w.maxDistanceSquared)) continue;
      weight = 1.0 / d2;
    } else if (w.mode == 1000) {
      double d = std::sqrt(d2);
      if (d == 0.0) d = 1.0;
      if (!(d <= w.maxDistance)) continue;
      weight = 1.0 / d;
    } else {
      const double d = d2 <= 0.0 ? 1.0 : std::sqrt(d2);
      if (!(d <= w.maxDistance)) continue;
      weight = std::pow(d, -w.power);
    }
    if (weight > 0.0) {
      sumW += weight;
      sumWV += weight * v;
    }
  }
  return sumW == 0.0 ? MissingResult(nodata) : sumWV / sumW;
}

// The same on rotated coordinates: the difference along the main axis (x) is scaled by b/a.
inline double IdwValueAnisotropic(const StationPoints& rotated, const IdwSettings& w, double nodata, double xr,
                                  double yr, double ratio) {
  return IdwValue(rotated, w, nodata, xr, yr, ratio);
}

// Value of the nearest valid station; of equally near stations the higher number wins.
inline double ThiessenValue(const StationPoints& s, double nodata, double x, double y) {
  double best = 1e20;
  int found = 0;
  const double valid = -nodata;
  for (int i = 1; i <= s.n; ++i) {
    if (!(s.v[i] >= valid)) continue;
    const double dx = s.x[i] - x, dy = s.y[i] - y;
    const double d2 = dx * dx + dy * dy;
    if (best >= d2) {
      best = d2;
      found = i;
    }
  }
  return found ? s.v[found] : MissingResult(nodata);
}

// Rotates (x, y) about (xll, yll) by -alpha (radians).
void RotatePoint(double x, double y, double xll, double yll, double alpha, double& xr, double& yr);

// Scenario stations: x, y, twelve monthly values and the day value of the current step.
struct ScenarioStations {
  int count = 0;
  std::vector<double> x, y;                   // 1..count
  std::vector<std::array<double, 13>> month;  // [row][1..12]
  std::vector<double> dayValue;               // 1..count
};
// Day value between monthly values (d: day of month; prevLength, curLength: days of the
// previous and the current month).
double ScenarioDayValue(double prev, double cur, double next, int day, int prevLength, int curLength);
// Fills dayValue for a date (month 1..12, day of month, February length given).
void UpdateScenarioDayValues(ScenarioStations& s, int64_t month, int64_t day, const int daysPerMonth[12]);
// Day value of the scenario station nearest to (x, y); 0 without stations.
double ScenarioStationValue(const ScenarioStations& s, double x, double y);

// Scaling, limits, scenario and scaling grid applied to an interpolated value.
struct PostProcessing {
  double scale = 1.0;
  double lower = -1e300, lowerReplacement = -1e300;
  double upper = 1e300, upperReplacement = 1e300;
  int szenUse = 0;
  int szenMeth = 0;
};
// Scale and limits, then the scenario value s (added for SzenMeth 1 and 5, a factor otherwise).
// *limit, when given, becomes -1 where the lower limit replaced the value, 1 where the upper
// did, 0 elsewhere.
inline double PostProcessValue(double v, const PostProcessing& p, double scenario, int* limit = nullptr) {
  v *= p.scale;
  int replaced = 0;
  if (v < p.lower) {
    v = p.lowerReplacement;
    replaced = -1;
  } else if (v > p.upper) {
    v = p.upperReplacement;
    replaced = 1;
  }
  if (limit) *limit = replaced;
  if (p.szenUse == 1) {
    if (p.szenMeth == 1 || p.szenMeth == 5)
      v += scenario;
    else
      v *= scenario;
  }
  return v;
}

// What a cell loop counted, for the interpolator to report after it: cells that found no
// valid station value in reach (they take the missing value), and cells with a value that
// the lower or the upper limit replaced.
struct CellCounts {
  long noStation = 0;
  long belowLower = 0;
  long aboveUpper = 0;
};

// Everything the parallel cell loop reads and the grid it writes.
struct CellLoop {
  int firstRow = 1, lastRow = 0, ncols = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // 1..nrows; empty or null: all columns
  double** coordX = nullptr;                          // cell centres
  double** coordY = nullptr;
  double** distX = nullptr;                           // distance coordinates (rotated with anisotropy)
  double** distY = nullptr;
  double** zone = nullptr;  // cells with the grid nodata value lie outside the basin
  double gridNodata = -9999.0;
  double** mpiRegions = nullptr;  // optional: cells whose value differs from rank are skipped
  int rank = 0;
  double** masterHru = nullptr;  // optional: HRU mode, cells with grid nodata are skipped
  double xmin = -1e300, xmax = 1e300, ymin = -1e300, ymax = 1e300;

  int method = 1;                // 1 inverse distance, 4 nearest station, 9 the grid read into result,
                                 // 2 and 10 elevation regression, 3 and 11 inverse distance mixed with
                                 // it, 12 nearest station with lapse rates, 5 and 6 station meshes,
                                 // 7 and 8 splines over a station mesh
  StationPoints stations;        // unrotated
  StationPoints rotated;         // rotated coordinates (same as stations without anisotropy)
  double ratio = 1.0;            // b/a; below 1 the anisotropic variant is used
  IdwSettings idw;
  double nodata = 9999.0;        // the interpolator's nodata value N

  // Elevation methods (2, 3, 10, 11, 12).
  double** elevation = nullptr;
  const RegressionParameters* regression = nullptr;  // 2, 3, 10, 11
  double idwFraction = 1.0;                          // share of inverse distance for 3 and 11
  const ElevationGradientSettings* gradient = nullptr;  // 12
  const double* stationAltitude = nullptr;           // 12: 1..n of the stations

  // Station meshes (5, 6): four corner stations per cell at ((r * (ncols + 1) + c) * 4),
  // compared on rotated coordinates; method 6 adds the gradients of station file 1 times
  // the elevation. Cells without a full rectangle take the inverse-distance value.
  const int* meshCorners = nullptr;
  StationPoints rotatedGradient;  // station file 1 on rotated coordinates (methods 6 and 8)
  // Splines (7, 8): the spline pass has put its values into result (grid nodata where the
  // mesh does not reach); method 8 adds its gradient grid times the elevation.
  double** splineGradient = nullptr;

  // Records whose valid values are all equal: the common value is taken without weighting.
  bool useCommonValue = false;
  bool commonValueValid = false;
  double commonValue = 0.0;

  bool postProcess = true;
  PostProcessing post;
  const ScenarioStations* scenarioStations = nullptr;  // SzenUse 1 and SzenMeth other than 5, 6
  double** scenarioGrid = nullptr;                     // SzenMeth 5 and 6
  double** scalingGrid = nullptr;

  double** result = nullptr;
  // Set when RunSharedInverseDistance has put the cells' inverse-distance values into
  // result already: the loop takes them from there, mixes and post-processes them.
  bool inverseDistanceInResult = false;
  // Asks RunSharedInverseDistance to finish the cells itself, as this loop's RunCellLoop
  // would (mixed, post-processed, flagged in missMask, grid nodata outside): for loops whose
  // finishing reads nothing another interpolator's step could change before this one's
  // (no scenario), so the grid is read and written once instead of twice.
  bool finishShared = false;
  // With finishShared: the zone statistics of the finished grid (may be null) and their
  // cells; the shared pass adds each row as it is done (see zonalstatistic::BeginRows).
  zonalstatistic* statistics = nullptr;
  ZoneCells statisticsCells;
  // Grids with fewer cells run on one thread: thread start-up and barriers would cost more
  // than the cells (the results are the same either way).
  long minParallelCells = MinParallelCells();
  // Optional, (nrows + 1) * (ncols + 1) bytes: set to 1 where a cell found no station, 0 elsewhere.
  uint8_t* missMask = nullptr;
  // Optional for methods 4 and 12: the nearest valid station of every cell (a current
  // NearestStationIndex of the same stations and cells), so the cells need not search.
  const int32_t* nearest = nullptr;
};

// The nearest valid station of every cell of a cell loop (at (r * (ncols + 1) + c); 0: no
// valid station), searched again only when the set of valid stations changes. The cells'
// coordinates and the station positions are the same for the whole run.
class NearestStationIndex {
 public:
  // Makes the index current for the loop's stations (L.stations, the cells at L.coordX,
  // L.coordY): of equally near stations the higher number wins for method 4 and the lower
  // for method 12, as in the searches of each cell. Returns true when it searched.
  bool Update(const CellLoop& L);
  const int32_t* Data() const { return index_.data(); }

 private:
  std::vector<int32_t> index_;
  std::vector<uint8_t> valid_;  // 1..n: the valid stations of the last search
  int method_ = 0;
  bool built_ = false;
};

// Whether the loop's cells start from inverse distance of power 1 or 2 on the vector
// kernel (methods 1, 3 and 11, the record's values not all equal).
bool InverseDistanceOnLanes(const CellLoop& L);
// Whether two such loops visit the same cells at the same distance coordinates, with the
// same settings, from stations at the same places that are valid in both: then one pass
// can weigh each station once per cell for both (RunSharedInverseDistance).
bool SharesInverseDistance(const CellLoop& a, const CellLoop& b);
// What the shared pass did for one loop.
struct SharedPassResult {
  bool finished = false;         // the cells are finished (the loop asked for finishShared)
  CellCounts counts;             // then: what RunCellLoop would have counted
  bool statisticsAdded = false;  // and every row went to its statistics: EndRows folds them
};
// The inverse-distance values of up to kMaxIdwSets loops that share them, in one pass over
// the cells: each loop's values into its result grid, with the bits each loop would make
// alone. A loop with finishShared gets its cells finished in the same pass, and their rows
// added to its statistics (results[k], when given, tells what was done); the others' own
// RunCellLoop (with inverseDistanceInResult) finishes their cells.
void RunSharedInverseDistance(const CellLoop* const* loops, int count, SharedPassResult* results = nullptr);

// For each station of the loop's inverse distance (1..n; entry 0 unused): 0 when it lies
// within the maximum distance of a cell the loop computes, as the cell values weigh it (on
// rotated coordinates with the x difference scaled by b/a under anisotropy); otherwise the
// distance to the nearest such cell, measured so: the station is never weighed. All 0 when
// the loop computes no cell. Stops looking for a station at the first cell it reaches.
std::vector<double> StationsOutOfReach(const CellLoop& loop);

// Runs the cell loop over the rows in an OpenMP parallel loop with the run-time schedule.
// Each thread writes only the cells of its rows; no locks, no messages, no allocation.
// Returns the cells that found no station in reach and those whose value the limits replaced.
CellCounts RunCellLoop(const CellLoop& loop);
