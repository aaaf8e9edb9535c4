#include "meteo/interpolation_kernels.h"

#include <omp.h>

#include "framework/modelobject.h"

IdwSettings MakeIdwSettings(double power, double maxDistance) {
  IdwSettings s;
  s.power = power;
  s.mode = static_cast<int>(std::floor(1000.0 * power));
  s.maxDistance = maxDistance;
  s.maxDistanceSquared = maxDistance * maxDistance;
  return s;
}

void RotatePoint(double x, double y, double xll, double yll, double alpha, double& xr, double& yr) {
  const double dx = x - xll, dy = y - yll;
  const double r = std::sqrt(dx * dx + dy * dy);
  double theta;
  if (dx == 0.0)
    theta = dy > 0.0 ? M_PI / 2.0 : -M_PI / 2.0;
  else
    theta = std::atan2(dy, dx);
  xr = xll + r * std::cos(theta - alpha);
  yr = yll + r * std::sin(theta - alpha);
}

double ScenarioDayValue(double prev, double cur, double next, int day, int prevLength, int curLength) {
  if (day < 16) {
    const double L = prevLength;
    return ((16.0 - day) / L) * prev + ((L - 16.0 + day) / L) * cur;
  }
  const double L = curLength;
  return ((L - day + 15.0) / L) * cur + ((day - 15.0) / L) * next;
}

void UpdateScenarioDayValues(ScenarioStations& s, int64_t month, int64_t day, const int daysPerMonth[12]) {
  const int m = static_cast<int>(((month - 1) % 12 + 12) % 12 + 1);
  const int prev = m == 1 ? 12 : m - 1;
  const int next = m == 12 ? 1 : m + 1;
  s.dayValue.resize(s.count + 1);
  for (int k = 1; k <= s.count; ++k)
    s.dayValue[k] = ScenarioDayValue(s.month[k][prev], s.month[k][m], s.month[k][next], static_cast<int>(day),
                                     daysPerMonth[prev - 1], daysPerMonth[m - 1]);
}

double ScenarioStationValue(const ScenarioStations& s, double x, double y) {
  double best = 1e15;
  int found = 0;
  for (int k = 1; k <= s.count; ++k) {
    const double dx = s.x[k] - x, dy = s.y[k] - y;
    const double d2 = dx * dx + dy * dy;
    if (best >= d2) {
      best = d2;
      found = k;
    }
  }
  return found ? s.dayValue[found] : 0.0;
}

namespace {

// The value of one cell; returns false when the cell is to be left as it is.
inline bool CellValue(const CellLoop& L, int r, int c, double& value, bool& missing) {
  missing = false;
  if (L.useCommonValue) {
    if (!L.commonValueValid) return false;  // no valid station: keep the last value untouched
    value = L.commonValue;
    return true;
  }
  if (L.method == 9) {
    value = L.result[r][c];  // the grid read for this step
    return true;
  }
  if (L.method == 4) {
    value = ThiessenValue(L.stations, L.nodata, L.coordX[r][c], L.coordY[r][c]);
  } else if (L.ratio < 1.0) {
    value = IdwValueAnisotropic(L.rotated, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio);
  } else {
    value = IdwValue(L.stations, L.idw, L.nodata, L.distX[r][c], L.distY[r][c]);
  }
  missing = value < -L.nodata;
  return true;
}

}  // namespace

long RunCellLoop(const CellLoop& L) {
  const bool haveBounds = L.rowBounds && !L.rowBounds->empty();
  const size_t stride = static_cast<size_t>(L.ncols) + 1;
  long missingCells = 0;
  const bool parallel =
      static_cast<long>(L.lastRow - L.firstRow + 1) * static_cast<long>(L.ncols) >= L.minParallelCells;
#pragma omp parallel for schedule(runtime) reduction(+ : missingCells) if (parallel)
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0 = 1, c1 = L.ncols;
    if (haveBounds && static_cast<size_t>(r) < L.rowBounds->size()) {
      c0 = (*L.rowBounds)[r].first;
      c1 = (*L.rowBounds)[r].last;
    }
    double* out = L.result[r];
    uint8_t* miss = L.missMask ? L.missMask + stride * static_cast<size_t>(r) : nullptr;
    if (miss)
      for (size_t c = 0; c < stride; ++c) miss[c] = 0;
    for (int c = c0; c <= c1; ++c) {
      const double cx = L.coordX[r][c], cy = L.coordY[r][c];
      if (cx < L.xmin || cx > L.xmax || cy < L.ymin || cy > L.ymax || !(L.zone[r][c] != L.gridNodata) ||
          (L.mpiRegions && L.mpiRegions[r][c] != L.rank) ||
          (L.masterHru && L.masterHru[r][c] == L.gridNodata)) {
        out[c] = L.gridNodata;
        continue;
      }
      double v;
      bool missing;
      if (!CellValue(L, r, c, v, missing)) continue;
      if (missing && miss) {
        miss[c] = 1;
        ++missingCells;
      }
      if (L.postProcess) {
        double scen = 0.0;
        if (L.post.szenUse == 1) {
          if (L.scenarioGrid)
            scen = L.scenarioGrid[r][c];
          else if (L.scenarioStations)
            scen = ScenarioStationValue(*L.scenarioStations, L.distX[r][c], L.distY[r][c]);
        }
        v = PostProcessValue(v, L.post, scen);
        if (L.scalingGrid) v *= L.scalingGrid[r][c];
      }
      out[c] = v;
    }
  }
  return missingCells;
}
