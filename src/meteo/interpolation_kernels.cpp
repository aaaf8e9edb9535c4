#include "meteo/interpolation_kernels.h"

#include <omp.h>

#include "framework/modelobject.h"
#include "meteo/elevation_regression.h"

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

inline double InverseDistanceAt(const CellLoop& L, int r, int c) {
  return L.ratio < 1.0 ? IdwValueAnisotropic(L.rotated, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio)
                       : IdwValue(L.stations, L.idw, L.nodata, L.distX[r][c], L.distY[r][c]);
}

inline double GradientAt(const CellLoop& L, int r, int c) {
  const StationPoints& s = L.stations;
  return ElevationGradientValue(*L.gradient, s.n, s.x, s.y, s.v, L.stationAltitude, L.nodata, L.coordX[r][c],
                                L.coordY[r][c], L.elevation[r][c]);
}

// The value of one cell; returns false when the cell is to be left as it is.
inline bool CellValue(const CellLoop& L, int r, int c, double& value, bool& missing) {
  missing = false;
  if (L.method == 2 || L.method == 10) {
    // Without valid regression parameters the whole step leaves the cells as they are.
    if (!L.regression || L.regression->intercept[1] < -L.nodata) return false;
    value = RegressionValue(*L.regression, L.nodata, L.gridNodata, L.coordX[r][c], L.coordY[r][c],
                            L.elevation[r][c]);
    return true;
  }
  if (L.useCommonValue) {
    if (!L.commonValueValid) return false;  // no valid station: keep the last value untouched
    value = L.method == 12 ? GradientAt(L, r, c) : L.commonValue;
    return true;
  }
  switch (L.method) {
    case 9:
      value = L.result[r][c];  // the grid read for this step
      return true;
    case 4:
      value = ThiessenValue(L.stations, L.nodata, L.coordX[r][c], L.coordY[r][c]);
      break;
    case 12:
      value = GradientAt(L, r, c);
      return true;
    case 3:
    case 11: {
      const double w = InverseDistanceAt(L, r, c);
      missing = w < -L.nodata;
      value = w;
      if (L.regression && L.regression->intercept[1] >= -L.nodata) {
        const double g = RegressionValue(*L.regression, L.nodata, L.gridNodata, L.coordX[r][c], L.coordY[r][c],
                                         L.elevation[r][c]);
        // A cell that no station reaches takes the regression alone.
        value = missing ? g : L.idwFraction * w + (1.0 - L.idwFraction) * g;
      }
      return true;
    }
    default:
      value = InverseDistanceAt(L, r, c);
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
