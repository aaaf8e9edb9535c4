// Per-value arithmetic of the precipitation correction: the rain and snow factors, the
// refit of elevation regression segments, the cell of a point, and the parallel row loop
// that corrects a precipitation grid. Free of I/O and of the module object, so that tests
// drive it with hand values.
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "framework/thread_policy.h"

struct RowBounds;
struct RegressionParameters;

// The five settings of the section.
struct PrecipitationFactors {
  double threshold = 0.0;  // above: rain, at or below: snow (deg C)
  double rainConstant = 1.0, rainSlope = 0.0;
  double snowConstant = 1.0, snowSlope = 0.0;
};

// Factor for temperature t and wind speed u.
inline double CorrectionFactor(const PrecipitationFactors& f, double t, double u) {
  return t > f.threshold ? f.rainConstant + f.rainSlope * u : f.snowConstant + f.snowSlope * u;
}

// Corrected precipitation p (valid when p >= -nodata); invalid values come back unchanged.
inline double CorrectPrecipitationValue(const PrecipitationFactors& f, double p, double nodata, double t, double u) {
  if (!(p >= -nodata)) return p;
  return p * CorrectionFactor(f, t, u);
}

// The temperature used for a station whose temperature is invalid: it counts as rain.
inline double RainTemperature(const PrecipitationFactors& f) { return f.threshold + 1.0; }

// Least-squares line p = a + b z through n points; false (a, b untouched) with fewer than
// two points or when all z are equal.
bool FitStraightLine(const double* z, const double* p, int n, double& a, double& b);

// Elevation regression of one region: three segments p = a[k] + b[k] z separated at the
// limits s1 and s2 (index 0 of a and b is unused).
struct RegressionSegments {
  double s1 = 0.0, s2 = 0.0;
  double a[4] = {0, 0, 0, 0};
  double b[4] = {0, 0, 0, 0};
};

// Corrects the segments for the factor at each elevation: every segment is sampled (11
// elevations), the corrected values are refitted, and segment 2 is made to join its
// neighbours again. nodata: the interpolator's N (a1 below -N marks invalid parameters).
// A segment without two distinct sample elevations keeps its line; a join that would
// divide by zero keeps segment 2 as refitted.
void CorrectRegressionSegments(RegressionSegments& s, double maxElevation, double nodata,
                               const std::function<double(double z)>& factorAtElevation);

// The segments of an interpolator's regression parameters, and back (intercepts, gradients
// and the limit s2; s1 is not changed by the correction).
RegressionSegments SegmentsOf(const RegressionParameters& p);
void StoreSegments(const RegressionSegments& s, RegressionParameters& p);

// Row and column (1-based) of the cell that holds (x, y), clamped to the grid.
void CellOfPoint(double x, double y, double xll, double yll, double cellsize, int nrows, int ncols, int& row,
                 int& col);

// Everything the grid correction reads and the grid it corrects.
struct PrecipitationGridLoop {
  int firstRow = 1, lastRow = 0, ncols = 0;
  const std::vector<RowBounds>* rowBounds = nullptr;  // 1..nrows; empty or null: all columns
  double gridNodata = -9999.0;  // values at or below it are no data, whatever N says
  double nodata = 9999.0;       // the precipitation interpolator's N
  double** mpiRegions = nullptr;  // optional: cells of other instances are skipped
  int rank = 0;
  double** precipitation = nullptr;
  double** temperature = nullptr;  // null: rain factor everywhere
  double** wind = nullptr;         // null: wind 0
  PrecipitationFactors factors;
  long minParallelCells = MinParallelCells();
};

// Corrects every valid precipitation cell in an OpenMP loop over the rows (run-time
// schedule); a cell with invalid temperature counts as rain, one with invalid wind as calm.
void RunPrecipitationGridCorrection(const PrecipitationGridLoop& loop);
