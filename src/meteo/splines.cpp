#include "meteo/splines.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include <omp.h>

#include "framework/thread_policy.h"

TSplines::TSplines(const std::vector<double>& meshX, const std::vector<double>& meshY, double** cellX, double** cellY,
                   int meshRows, int meshColumns, int gridRows, int gridColumns, double firstX, double firstY,
                   double dx, double dy, double missingMark, double xllcorner, double yllcorner, double cellsize,
                   double gridNodata, double alpha, double factor, double** zone)
    : meshX_(meshX),
      meshY_(meshY),
      cellX_(cellX),
      cellY_(cellY),
      zone_(zone),
      meshRows_(meshRows),
      meshColumns_(meshColumns),
      gridRows_(gridRows),
      gridColumns_(gridColumns),
      firstX_(firstX),
      firstY_(firstY),
      dx_(dx),
      dy_(dy),
      missing_(missingMark),
      xll_(xllcorner),
      yll_(yllcorner),
      cellsize_(cellsize),
      gridNodata_(gridNodata),
      alpha_(alpha),
      factor_(factor) {
  SetUpSamplingGrid();
}

void TSplines::RotatePoint(double& x, double& y, double angle) const {
  const double ox = x - xll_, oy = y - yll_;
  const double r = std::sqrt(ox * ox + oy * oy);
  const double theta = ox == 0.0 ? (oy > 0.0 ? M_PI / 2 : -M_PI / 2) : std::atan2(oy, ox);
  x = xll_ + r * std::cos(theta - angle);
  y = yll_ + r * std::sin(theta - angle);
}

void TSplines::SecondDerivatives1D(const double* x, const double* y, int first, int last, double* y2,
                                   double slopeFirst, double slopeLast) const {
  const int n = last - first + 1;
  if (n < 2) {
    if (n == 1) y2[first] = 0.0;
    return;
  }
  std::vector<double> u(static_cast<size_t>(n) + 1, 0.0);
  if (slopeFirst > 9.9e29) {
    y2[first] = u[0] = 0.0;
  } else {
    y2[first] = -0.5;
    u[0] = (3.0 / (x[first + 1] - x[first])) * ((y[first + 1] - y[first]) / (x[first + 1] - x[first]) - slopeFirst);
  }
  for (int i = first + 1; i < last; ++i) {
    const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * y2[i - 1] + 2.0;
    y2[i] = (sig - 1.0) / p;
    const double d = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[static_cast<size_t>(i - first)] =
        (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[static_cast<size_t>(i - first - 1)]) / p;
  }
  double qn = 0.0, un = 0.0;
  if (!(slopeLast > 9.9e29)) {
    qn = 0.5;
    un = (3.0 / (x[last] - x[last - 1])) * (slopeLast - (y[last] - y[last - 1]) / (x[last] - x[last - 1]));
  }
  y2[last] = (un - qn * u[static_cast<size_t>(n - 2)]) / (qn * y2[last - 1] + 1.0);
  for (int k = last - 1; k >= first; --k) y2[k] = y2[k] * y2[k + 1] + u[static_cast<size_t>(k - first)];
}

void TSplines::NaturalSecondDerivatives(const double* x, const double* y, int first, int last, double* y2) {
  std::vector<double> u(static_cast<size_t>(std::max(last - first + 1, 1)), 0.0);
  NaturalSecondDerivatives(x, y, first, last, y2, u.data());
}

void TSplines::NaturalSecondDerivatives(const double* x, const double* y, int first, int last, double* y2, double* u) {
  if (last - first < 2) {  // one or two nodes: a straight line
    for (int i = first; i <= last; ++i) y2[i] = 0.0;
    return;
  }
  u[0] = 0.0;
  y2[first] = 0.0;
  for (int i = first + 1; i < last; ++i) {
    const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * y2[i - 1] + 2.0;
    y2[i] = (sig - 1.0) / p;
    const double d = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[i - first] = (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[i - first - 1]) / p;
  }
  y2[last] = 0.0;
  for (int k = last - 1; k >= first; --k) y2[k] = y2[k] * y2[k + 1] + u[k - first];
}

void TSplines::Evaluate1D(const double* x, const double* y, int& lo, int& hi, const double* y2, int n, double& value,
                          double xv, double missingMark, double fallback) const {
  if (!SplineValue(x, y, lo, hi, y2, n, value, xv, missingMark, fallback)) ReportEqualAbscissae(x, lo, hi);
}

void TSplines::ReportEqualAbscissae(const double* x, int lo, int hi) {
  RaiseFirstFailure({SplineFailure{0, x[lo], x[hi], lo, hi}});
  throw 82;  // not reached
}

void TSplines::RaiseFirstFailure(const std::vector<SplineFailure>& failures) {
  for (const SplineFailure& f : failures) {
    if (f.index == kNoFailure) continue;
    std::cout << "The two input coordinates " << f.xLo << " (index " << f.lo << ") \n"
              << "and " << f.xHi << " (index " << f.hi << ") for the 1-D-Splineevaluation are the same!" << std::endl;
    throw 82;
  }
}

bool TSplines::SplineValue(const double* x, const double* y, int& lo, int& hi, const double* y2, int n, double& value,
                           double xv, double missingMark, double fallback) {
  if (n < 2 || xv < x[1] || xv > x[n]) {
    value = fallback;
    return true;
  }
  if (lo < 1 || lo >= n) lo = 1;
  while (lo > 1 && x[lo] > xv) --lo;
  while (lo < n - 1 && x[lo + 1] <= xv) ++lo;
  hi = lo + 1;
  const double limit = missingMark + 0.01;
  if (y[lo] <= limit || y[hi] <= limit || y2[lo] <= limit || y2[hi] <= limit) {
    value = fallback;
    return true;
  }
  const double h = x[hi] - x[lo];
  if (h == 0.0) return false;
  const double a = (x[hi] - xv) / h, b = (xv - x[lo]) / h;
  value = a * y[lo] + b * y[hi] + ((a * a * a - a) * y2[lo] + (b * b * b - b) * y2[hi]) * h * h / 6.0;
  return true;
}

void TSplines::SecondDerivatives2D(const std::vector<double>& values, std::vector<double>& y2) const {
  y2.assign(values.size(), gridNodata_);
  std::vector<double> px(static_cast<size_t>(meshRows_) + 1), pv(px.size()), p2(px.size());
  const double limit = missing_ + 0.01;
  for (int c = 1; c <= meshColumns_; ++c) {
    // The column from the lowest node (last mesh row) up, over y.
    int n = 0;
    for (int r = meshRows_; r >= 1; --r) {
      const size_t i = static_cast<size_t>((r - 1) * meshColumns_ + (c - 1));
      ++n;
      px[static_cast<size_t>(n)] = meshY_[i];
      pv[static_cast<size_t>(n)] = values[i];
    }
    int k = 1;
    while (k <= n) {
      if (pv[static_cast<size_t>(k)] < limit) {
        ++k;
        continue;
      }
      int e = k;
      while (e + 1 <= n && pv[static_cast<size_t>(e + 1)] >= limit) ++e;
      NaturalSecondDerivatives(px.data(), pv.data(), k, e, p2.data());
      for (int q = k; q <= e; ++q) {
        const int r = meshRows_ - q + 1;
        y2[static_cast<size_t>((r - 1) * meshColumns_ + (c - 1))] = p2[static_cast<size_t>(q)];
      }
      k = e + 1;
    }
  }
}

void TSplines::SetUpSamplingGrid() {
  step_ = cellsize_ / (factor_ > 0.0 ? factor_ : 1.0);
  double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
  for (size_t i = 0; i < meshX_.size(); ++i) {
    xmin = std::min(xmin, meshX_[i]);
    xmax = std::max(xmax, meshX_[i]);
    ymin = std::min(ymin, meshY_[i]);
    ymax = std::max(ymax, meshY_[i]);
  }
  if (meshX_.empty()) xmin = xmax = ymin = ymax = 0.0;
  x0_ = xmin;
  y0_ = ymin;
  columns_ = static_cast<int>((xmax - xmin) / step_ + 0.49999) + 1;
  rows_ = static_cast<int>((ymax - ymin) / step_ + 0.49999) + 1;
  sample_.assign(static_cast<size_t>(rows_ + 1) * static_cast<size_t>(columns_ + 1), gridNodata_);
  needed_.assign(sample_.size(), 0);
  columnValue_.assign(static_cast<size_t>(rows_ + 1) * static_cast<size_t>(meshColumns_ + 1), missing_);
  columnX_.assign(columnValue_.size(), 0.0);
  rowFrom_ = columnFrom_ = 1 << 30;
  rowTo_ = columnTo_ = 0;
  // The sampling node of every model cell, found once: the cells and the sampling grid
  // stay where they are for the whole run.
  cellNode_.assign(static_cast<size_t>(gridRows_ + 1) * static_cast<size_t>(gridColumns_ + 1), -1);
  for (int r = 1; r <= gridRows_; ++r)
    for (int c = 1; c <= gridColumns_; ++c) {
      int row, column;
      if (!MarkNeededNodes(r, c, row, column)) continue;
      const int64_t node = static_cast<int64_t>(row) * (columns_ + 1) + column;
      cellNode_[static_cast<size_t>(r) * static_cast<size_t>(gridColumns_ + 1) + static_cast<size_t>(c)] = node;
      needed_[static_cast<size_t>(node)] = 1;
      rowFrom_ = std::min(rowFrom_, row);
      rowTo_ = std::max(rowTo_, row);
      columnFrom_ = std::min(columnFrom_, column);
      columnTo_ = std::max(columnTo_, column);
    }
  if (rowTo_ == 0) return;
  if (rowFrom_ > 1) --rowFrom_;
  if (rowTo_ < rows_) ++rowTo_;
  if (columnFrom_ > 1) --columnFrom_;
  if (columnTo_ < columns_) ++columnTo_;
}

bool TSplines::MarkNeededNodes(int r, int c, int& row, int& column) const {
  if (!(zone_[r][c] > gridNodata_ + 0.01)) return false;
  const double x = cellX_[r][c], y = cellY_[r][c];
  if (!(x > gridNodata_ + 0.01) || !(y > gridNodata_ + 0.01)) return false;
  const double fr = (y - y0_) / step_ + 0.4999, fc = (x - x0_) / step_;
  if (!(fr > -1e9 && fr < 1e9 && fc > -1e9 && fc < 1e9)) return false;
  row = rows_ - static_cast<int>(fr);
  column = static_cast<int>(fc) + 1;
  return row >= 1 && row <= rows_ && column >= 1 && column <= columns_ && y >= y0_ - 0.5 * step_ && x >= x0_;
}

TSplines::Scratch& TSplines::ScratchOfThread() { return scratch_[static_cast<size_t>(omp_get_thread_num())]; }

void TSplines::Evaluate2D(const std::vector<double>& values, const std::vector<double>& y2, double** result) {
  const double limit = missing_ + 0.01;
  // Scratch series for every thread, made before the parallel loops.
  const size_t threads = static_cast<size_t>(std::max(omp_get_max_threads(), 1));
  const size_t series = static_cast<size_t>(std::max(meshRows_, meshColumns_)) + 2;
  if (scratch_.size() < threads) scratch_.resize(threads);
  for (Scratch& t : scratch_)
    if (t.x.size() < series) t.x.assign(series, 0.0), t.v.assign(series, 0.0), t.y2.assign(series, 0.0),
          t.u.assign(series, 0.0);
  // Equal abscissae somewhere: the first (of the lowest column, or row) is reported after the loop.
  std::vector<SplineFailure> failures(static_cast<size_t>(std::max(meshColumns_, rowTo_) + 1));
  bool failed = false;

  // 1. Column splines over y, sampled at every sampling row (each column on its own).
#pragma omp parallel for schedule(runtime) reduction(|| : failed) if (ForkRows(meshColumns_, meshRows_))
  for (int c = 1; c <= meshColumns_; ++c) {
    Scratch& t = ScratchOfThread();
    int n = 0;
    for (int r = meshRows_; r >= 1; --r) {
      const size_t i = static_cast<size_t>((r - 1) * meshColumns_ + (c - 1));
      ++n;
      double y = meshY_[i];
      if (y <= missing_) y = firstY_ + (meshRows_ - r) * dy_;
      t.x[static_cast<size_t>(n)] = y;
      t.v[static_cast<size_t>(n)] = values[i];
      t.y2[static_cast<size_t>(n)] = y2[i];
    }
    int lo = 1, hi = 2;
    for (int row = 1; row <= rows_; ++row) {
      const double y = y0_ + (rows_ - row) * step_;
      double v;
      if (!SplineValue(t.x.data(), t.v.data(), lo, hi, t.y2.data(), n, v, y, missing_, missing_)) {
        failures[static_cast<size_t>(c)] = SplineFailure{c, t.x[static_cast<size_t>(lo)], t.x[static_cast<size_t>(hi)], lo, hi};
        failed = true;
        break;
      }
      const size_t at = static_cast<size_t>(row) * (meshColumns_ + 1) + c;
      columnValue_[at] = v;
      // x between the two nodes around y
      double x = meshX_[static_cast<size_t>((meshRows_ - 1) * meshColumns_ + (c - 1))];
      if (n >= 2 && y >= t.x[1] && y <= t.x[static_cast<size_t>(n)]) {
        const int a = lo, b = std::min(lo + 1, n);
        const int ra = meshRows_ - a + 1, rb = meshRows_ - b + 1;
        const double xa = meshX_[static_cast<size_t>((ra - 1) * meshColumns_ + (c - 1))];
        const double xb = meshX_[static_cast<size_t>((rb - 1) * meshColumns_ + (c - 1))];
        const double h = t.x[static_cast<size_t>(b)] - t.x[static_cast<size_t>(a)];
        x = h != 0.0 ? xa + (xb - xa) * (y - t.x[static_cast<size_t>(a)]) / h : xa;
      }
      columnX_[at] = x;
    }
  }
  if (failed) RaiseFirstFailure(failures);

  // 2. Row splines over x through the column values, at the needed sampling nodes (each
  // sampling row on its own; rows outside rowFrom..rowTo hold no needed node and keep the
  // nodata value they were made with).
#pragma omp parallel for schedule(runtime) reduction(|| : failed) if (ForkRows(rowTo_ - rowFrom_ + 1, meshColumns_))
  for (int row = rowFrom_; row <= rowTo_; ++row) {
    Scratch& t = ScratchOfThread();
    std::fill(&Sample(row, 0), &Sample(row, 0) + columns_ + 1, gridNodata_);
    const size_t base = static_cast<size_t>(row) * (meshColumns_ + 1);
    int k = 1;
    while (k <= meshColumns_) {
      if (columnValue_[base + k] < limit) {
        ++k;
        continue;
      }
      int e = k;
      while (e + 1 <= meshColumns_ && columnValue_[base + e + 1] >= limit) ++e;
      const int n = e - k + 1;
      for (int q = 1; q <= n; ++q) {
        t.x[static_cast<size_t>(q)] = columnX_[base + k + q - 1];
        t.v[static_cast<size_t>(q)] = columnValue_[base + k + q - 1];
      }
      NaturalSecondDerivatives(t.x.data(), t.v.data(), 1, n, t.y2.data(), t.u.data());
      int lo = 1, hi = 2;
      for (int column = columnFrom_; column <= columnTo_; ++column) {
        if (!needed_[static_cast<size_t>(row) * (columns_ + 1) + column]) continue;
        const double x = x0_ + (column - 1) * step_;
        if (n == 1) {
          if (x == t.x[1]) Sample(row, column) = t.v[1];
          continue;
        }
        double v;
        if (!SplineValue(t.x.data(), t.v.data(), lo, hi, t.y2.data(), n, v, x, missing_, gridNodata_)) {
          failures[static_cast<size_t>(row)] = SplineFailure{row, t.x[static_cast<size_t>(lo)], t.x[static_cast<size_t>(hi)], lo, hi};
          failed = true;
          break;
        }
        if (v != gridNodata_) Sample(row, column) = v;
      }
      if (failures[static_cast<size_t>(row)].index == row) break;
      k = e + 1;
    }
  }
  if (failed) RaiseFirstFailure(failures);
  // 3. Model cells.
  SampleToModelGrid(result);
}

void TSplines::SampleToModelGrid(double** result) const {
  const size_t stride = static_cast<size_t>(gridColumns_) + 1;
#pragma omp parallel for schedule(runtime) if (ForkRows(gridRows_, gridColumns_))
  for (int r = 1; r <= gridRows_; ++r) {
    const int64_t* node = cellNode_.data() + static_cast<size_t>(r) * stride;
    double* out = result[r];
    for (int c = 1; c <= gridColumns_; ++c) out[c] = node[c] >= 0 ? sample_[static_cast<size_t>(node[c])] : gridNodata_;
  }
}
