// Cubic splines over a mesh of stations (bicubic spline interpolation of methods 7 and 8).
//
// The mesh has rows 1..m (from the highest y down) and columns 1..k (from the lowest x);
// its coordinates are rotated so that mesh rows run along x. A step first runs a spline
// along every mesh column and samples it at every row of a regular sampling grid (step:
// cell size / factor), then runs a spline along every sampling row through the column
// values, and finally gives every model cell the sampling node at its position.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/memory_handling.h"

class TSplines : public memory_handling {
 public:
  // meshX, meshY: node coordinates, node (r, c) at [(r - 1) * meshColumns + (c - 1)];
  // cellX, cellY: the model cells' (rotated) coordinates, rows 1..gridRows, columns
  // 1..gridColumns; zone: cells with the grid nodata value are outside the basin.
  TSplines(const std::vector<double>& meshX, const std::vector<double>& meshY, double** cellX, double** cellY,
           int meshRows, int meshColumns, int gridRows, int gridColumns, double firstX, double firstY, double dx,
           double dy, double missingMark, double xllcorner, double yllcorner, double cellsize, double gridNodata,
           double alpha, double factor, double** zone);
  ~TSplines() override = default;

  virtual void RotatePoint(double& x, double& y, double angle) const;
  // Second derivatives of the spline through (x[first..last], y[...]) with given end
  // slopes; a slope above 9.9e29 makes that end natural.
  virtual void SecondDerivatives1D(const double* x, const double* y, int first, int last, double* y2,
                                   double slopeFirst, double slopeLast) const;
  // The spline value at xv; lo is the interval of the previous call (searched from there);
  // hi receives the upper index. Outside x[1..n], or next to a missing value or second
  // derivative, the result is fallback. Two equal abscissae end the run with code 82.
  virtual void Evaluate1D(const double* x, const double* y, int& lo, int& hi, const double* y2, int n,
                          double& value, double xv, double missingMark, double fallback) const;
  // Natural second derivatives along every mesh column over runs of valid node values;
  // nodes outside a run get the grid nodata value.
  virtual void SecondDerivatives2D(const std::vector<double>& nodeValues, std::vector<double>& secondDerivatives) const;
  // Fills result (rows 1..gridRows, columns 1..gridColumns) at the basin cells from the
  // node values; cells outside the mesh get the grid nodata value.
  virtual void Evaluate2D(const std::vector<double>& nodeValues, const std::vector<double>& secondDerivatives,
                          double** result);
  virtual void SetUpSamplingGrid();
  virtual void SampleToModelGrid(double** result) const;
  // Sampling node (row, column) of the model cell (r, c); false outside the basin or the
  // sampling grid.
  virtual bool MarkNeededNodes(int r, int c, int& row, int& column) const;

  static void NaturalSecondDerivatives(const double* x, const double* y, int first, int last, double* y2);
  // The same with the caller's scratch u (last - first + 1 values); allocates nothing.
  static void NaturalSecondDerivatives(const double* x, const double* y, int first, int last, double* y2, double* u);

  int SamplingRows() const { return rows_; }
  int SamplingColumns() const { return columns_; }

 private:
  // Scratch series of one thread, 1-based.
  struct Scratch {
    std::vector<double> x, v, y2, u;
  };
  static constexpr int kNoFailure = 1 << 30;
  // Two equal abscissae met by a spline evaluation (index: the mesh column or sampling row).
  struct SplineFailure {
    int index = kNoFailure;
    double xLo = 0.0, xHi = 0.0;
    int lo = 0, hi = 0;
  };
  // Evaluate1D without its report: false (and nothing else done) for equal abscissae.
  static bool SplineValue(const double* x, const double* y, int& lo, int& hi, const double* y2, int n, double& value,
                          double xv, double missingMark, double fallback);
  [[noreturn]] static void ReportEqualAbscissae(const double* x, int lo, int hi);
  // Reports the first failure that holds one and ends the run with code 82.
  static void RaiseFirstFailure(const std::vector<SplineFailure>& failures);
  Scratch& ScratchOfThread();

  double& Sample(int row, int column) { return sample_[static_cast<size_t>(row) * (columns_ + 1) + column]; }
  double SampleAt(int row, int column) const { return sample_[static_cast<size_t>(row) * (columns_ + 1) + column]; }

  std::vector<double> meshX_, meshY_;
  double** cellX_;
  double** cellY_;
  double** zone_;
  int meshRows_, meshColumns_, gridRows_, gridColumns_;
  double firstX_, firstY_, dx_, dy_, missing_, xll_, yll_, cellsize_, gridNodata_, alpha_, factor_;
  double step_ = 1.0, x0_ = 0.0, y0_ = 0.0;
  int rows_ = 0, columns_ = 0;
  int rowFrom_ = 1, rowTo_ = 0, columnFrom_ = 1, columnTo_ = 0;
  std::vector<double> sample_;        // (rows + 1) x (columns + 1)
  std::vector<char> needed_;          // the same layout: nodes that model cells use
  std::vector<double> columnValue_;   // per sampling row and mesh column: pass 1 value
  std::vector<double> columnX_;       // ... and its x
  std::vector<Scratch> scratch_;      // one per thread
  std::vector<int64_t> cellNode_;     // model cell (r, c) at r * (gridColumns + 1) + c: its sampling node or -1
};
