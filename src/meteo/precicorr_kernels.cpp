#include "meteo/precicorr_kernels.h"

#include <algorithm>

#include "framework/modelobject.h"
#include "meteo/regression_file.h"

bool FitStraightLine(const double* z, const double* p, int n, double& a, double& b) {
  if (n < 2) return false;
  double sz = 0.0, sp = 0.0, szz = 0.0, szp = 0.0;
  for (int i = 0; i < n; ++i) {
    sz += z[i];
    sp += p[i];
    szz += z[i] * z[i];
    szp += z[i] * p[i];
  }
  const double denominator = n * szz - sz * sz;
  if (!(denominator != 0.0) || !std::isfinite(denominator)) return false;
  const double slope = (n * szp - sz * sp) / denominator;
  const double intercept = (sp - slope * sz) / n;
  if (!std::isfinite(slope) || !std::isfinite(intercept)) return false;
  a = intercept;
  b = slope;
  return true;
}

namespace {

// Samples of one segment: up to this many elevations (a guard against steps that do not
// advance; the regular sampling uses 11).
constexpr int kMaxSamples = 100000;

// Refits a + b z over the elevations z0, z0 + step, ... while more(z).
template <class More>
void RefitSegment(double& a, double& b, double z0, double step, More more,
                  const std::function<double(double)>& factorAt) {
  std::vector<double> zs, ps;
  for (int i = 0; i < kMaxSamples; ++i) {
    const double z = z0 + step * i;
    if (!more(z)) break;
    zs.push_back(z);
    ps.push_back((a + b * z) * factorAt(z));
    if (!(step > 0.0)) break;
  }
  FitStraightLine(zs.data(), ps.data(), static_cast<int>(zs.size()), a, b);
}

}  // namespace

void CorrectRegressionSegments(RegressionSegments& s, double maxElevation, double nodata,
                               const std::function<double(double z)>& factorAt) {
  double* a = s.a;
  double* b = s.b;
  const double s1 = s.s1;
  if (a[1] >= -nodata && s1 > 0.0 && b[1] != 0.0)
    RefitSegment(a[1], b[1], 0.0, s1 / 10.0, [s1](double z) { return z <= s1; }, factorAt);
  if (s.s2 >= 0.0) {
    const double s2 = s.s2;
    RefitSegment(a[2], b[2], 0.0, s2 / 10.0, [s2](double z) { return z <= s2; }, factorAt);
  }
  if (b[3] != 0.0 && s.s2 < maxElevation) {
    const double s2 = s.s2;
    RefitSegment(
        a[3], b[3], s2, (maxElevation - s2) / 10.0,
        [s2, maxElevation](double z) { return z <= 2.0 * s2 || z <= maxElevation; }, factorAt);
  }
  if (s1 <= 0.0) {
    if (std::fabs(b[3] - b[2]) > 0.0001) s.s2 = (a[2] - a[3]) / (b[3] - b[2]);
  } else if (s.s2 != s1) {
    b[2] = ((a[3] + b[3] * s.s2) - (a[1] + b[1] * s1)) / (s.s2 - s1);
    a[2] = a[1] + (b[1] - b[2]) * s1;
  }
}

RegressionSegments SegmentsOf(const RegressionParameters& p) {
  RegressionSegments s;
  s.s1 = p.limit1;
  s.s2 = p.limit2;
  for (int k = 1; k <= 3; ++k) {
    s.a[k] = p.intercept[k];
    s.b[k] = p.gradient[k];
  }
  return s;
}

void StoreSegments(const RegressionSegments& s, RegressionParameters& p) {
  p.limit2 = s.s2;
  for (int k = 1; k <= 3; ++k) {
    p.intercept[k] = s.a[k];
    p.gradient[k] = s.b[k];
  }
}

void CellOfPoint(double x, double y, double xll, double yll, double cellsize, int nrows, int ncols, int& row,
                 int& col) {
  const double fr = cellsize > 0.0 ? (y - yll) / cellsize : 0.0;
  const double fc = cellsize > 0.0 ? (x - xll) / cellsize : 0.0;
  // Truncation towards zero, clamped before the conversion so that far-off points stay in range.
  const double r = static_cast<double>(nrows) - std::trunc(std::clamp(fr, -1e9, 1e9));
  const double c = std::trunc(std::clamp(fc, -1e9, 1e9)) + 1.0;
  row = static_cast<int>(std::clamp(r, 1.0, static_cast<double>(std::max(1, nrows))));
  col = static_cast<int>(std::clamp(c, 1.0, static_cast<double>(std::max(1, ncols))));
}

void RunPrecipitationGridCorrection(const PrecipitationGridLoop& L) {
  if (!L.precipitation) return;
  const bool haveBounds = L.rowBounds && !L.rowBounds->empty();
  const bool parallel =
      ForkCells(static_cast<long>(L.lastRow - L.firstRow + 1) * static_cast<long>(L.ncols), L.minParallelCells);
#pragma omp parallel for schedule(runtime) if (parallel)
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0 = 1, c1 = L.ncols;
    if (haveBounds && static_cast<size_t>(r) < L.rowBounds->size()) {
      c0 = std::max(1, (*L.rowBounds)[r].first);
      c1 = std::min(L.ncols, (*L.rowBounds)[r].last);
    }
    double* p = L.precipitation[r];
    for (int c = c0; c <= c1; ++c) {
      if (L.mpiRegions && L.mpiRegions[r][c] != L.rank) continue;
      const double v = p[c];
      if (!(v > L.gridNodata) || !(v >= -L.nodata)) continue;
      double t = RainTemperature(L.factors);
      if (L.temperature) {
        const double tc = L.temperature[r][c];
        if (tc > L.gridNodata) t = tc;
      }
      double u = 0.0;
      if (L.wind) {
        const double uc = L.wind[r][c];
        if (uc > L.gridNodata) u = uc;
      }
      p[c] = v * CorrectionFactor(L.factors, t, u);
    }
  }
}
