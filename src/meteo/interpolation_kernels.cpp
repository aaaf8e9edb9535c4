#include "meteo/interpolation_kernels.h"

#include <algorithm>
#include <omp.h>

#include "framework/modelobject.h"
#include "meteo/elevation_regression.h"
#include "meteo/idw_vector_kernels.h"
#include "meteo/station_mesh.h"

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

// Whether a loop over the rows is worth threads, and the columns of row r it visits.
inline bool ParallelLoop(const CellLoop& L) {
  return ForkCells(static_cast<long>(L.lastRow - L.firstRow + 1) * static_cast<long>(L.ncols), L.minParallelCells);
}
inline void LoopColumns(const CellLoop& L, int r, int& c0, int& c1) {
  c0 = 1;
  c1 = L.ncols;
  if (L.rowBounds && static_cast<size_t>(r) < L.rowBounds->size()) {
    c0 = (*L.rowBounds)[static_cast<size_t>(r)].first;
    c1 = (*L.rowBounds)[static_cast<size_t>(r)].last;
  }
}

// Whether the loop computes cell (r, c); the others take the grid's nodata value.
inline bool Interpolated(const CellLoop& L, int r, int c) {
  const double cx = L.coordX[r][c], cy = L.coordY[r][c];
  return !(cx < L.xmin || cx > L.xmax || cy < L.ymin || cy > L.ymax || !(L.zone[r][c] != L.gridNodata) ||
           (L.mpiRegions && L.mpiRegions[r][c] != L.rank) || (L.masterHru && L.masterHru[r][c] == L.gridNodata));
}

// The stations the vector kernel reads (rotated with anisotropy) and the scale of its x differences.
inline const StationPoints& LaneStations(const CellLoop& L) { return L.ratio < 1.0 ? L.rotated : L.stations; }
inline double LaneRatio(const CellLoop& L) { return L.ratio < 1.0 ? L.ratio : 1.0; }

inline double InverseDistanceAt(const CellLoop& L, int r, int c) {
  return L.ratio < 1.0 ? IdwValueAnisotropic(L.rotated, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio)
                       : IdwValue(L.stations, L.idw, L.nodata, L.distX[r][c], L.distY[r][c]);
}

inline double GradientAt(const CellLoop& L, int r, int c) {
  const StationPoints& s = L.stations;
  if (L.nearest) {
    const int k = L.nearest[static_cast<size_t>(r) * (static_cast<size_t>(L.ncols) + 1) + static_cast<size_t>(c)];
    return k ? ShiftByLapseRates(*L.gradient, s.v[k], L.stationAltitude[k], L.elevation[r][c]) : MissingResult(L.nodata);
  }
  return ElevationGradientValue(*L.gradient, s.n, s.x, s.y, s.v, L.stationAltitude, L.nodata, L.coordX[r][c],
                                L.coordY[r][c], L.elevation[r][c]);
}

// Methods 3 and 11: the inverse-distance value w mixed with the regression, when the
// step has valid regression parameters.
inline double MixWithRegression(const CellLoop& L, int r, int c, double w) {
  if (!L.regression || L.regression->intercept[1] < -L.nodata) return w;
  const double g =
      RegressionValue(*L.regression, L.nodata, L.gridNodata, L.coordX[r][c], L.coordY[r][c], L.elevation[r][c]);
  // A cell that no station reaches takes the regression alone.
  return w < -L.nodata ? g : L.idwFraction * w + (1.0 - L.idwFraction) * g;
}

// Methods whose cell value starts from inverse distance alone.
inline bool StartsFromInverseDistance(int method) { return method == 1 || method == 3 || method == 11; }

// Bilinear value of a station file between the cell's mesh corners, or its
// inverse-distance value where the corners span no rectangle.
inline double MeshValue(const CellLoop& L, const StationPoints& s, int r, int c) {
  const int* k = L.meshCorners + 4 * (static_cast<size_t>(r) * (static_cast<size_t>(L.ncols) + 1) + c);
  const MeshCorners corners{{k[0], k[1], k[2], k[3]}};
  double v;
  if (BilinearValue(corners, s.x, s.y, s.v, L.nodata, L.distX[r][c], L.distY[r][c], v)) return v;
  return IdwValue(s, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio);
}

// Gradient of station file 1 at a cell: bilinear (6) or from the spline grid (8), where
// those give none the inverse-distance value.
inline double GradientPart(const CellLoop& L, int r, int c) {
  if (L.method == 8) {
    const double g = L.splineGradient[r][c];
    return g != L.gridNodata ? g
                             : IdwValue(L.rotatedGradient, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio);
  }
  return MeshValue(L, L.rotatedGradient, r, c);
}

// Residual a plus gradient b (station file 1) times the elevation; missing when either is.
inline double ResidualPlusGradient(const CellLoop& L, double a, int r, int c) {
  const double b = GradientPart(L, r, c);
  if (a < -L.nodata || b < -L.nodata) return MissingResult(L.nodata);
  return a + b * L.elevation[r][c];
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
    if (L.method == 12)
      value = GradientAt(L, r, c);
    else if (L.method == 6 || L.method == 8)
      value = ResidualPlusGradient(L, L.commonValue, r, c);  // equal residuals, gradients still apply
    else
      value = L.commonValue;
    return true;
  }
  switch (L.method) {
    case 9:
      value = L.result[r][c];  // the grid read for this step
      return true;
    case 4:
      if (L.nearest) {
        const int k = L.nearest[static_cast<size_t>(r) * (static_cast<size_t>(L.ncols) + 1) + static_cast<size_t>(c)];
        value = k ? L.stations.v[k] : MissingResult(L.nodata);
      } else {
        value = ThiessenValue(L.stations, L.nodata, L.coordX[r][c], L.coordY[r][c]);
      }
      break;
    case 12:
      value = GradientAt(L, r, c);
      return true;
    case 5:
      value = MeshValue(L, L.rotated, r, c);
      return true;
    case 7:
    case 8: {
      // The spline value, or inverse distance where the mesh does not reach.
      double a = L.result[r][c];
      if (a == L.gridNodata) a = IdwValue(L.rotated, L.idw, L.nodata, L.distX[r][c], L.distY[r][c], L.ratio);
      value = L.method == 7 ? a : ResidualPlusGradient(L, a, r, c);
      missing = value < -L.nodata;
      return true;
    }
    case 6:
      value = ResidualPlusGradient(L, MeshValue(L, L.rotated, r, c), r, c);
      missing = value < -L.nodata;
      return true;
    case 3:
    case 11: {
      const double w = InverseDistanceAt(L, r, c);
      missing = w < -L.nodata;
      value = MixWithRegression(L, r, c, w);
      return true;
    }
    default:
      value = InverseDistanceAt(L, r, c);
  }
  missing = value < -L.nodata;
  return true;
}

// Slots of the counts a cell loop sums (CellCounts, in this order).
enum CountSlot { kNoStation, kBelowLower, kAboveUpper, kCountSlots };

// Flags and counts a cell without a station in reach, post-processes its value, counts a
// value the limits replaced (a missing one is counted as such alone) and stores it.
[[gnu::always_inline]] inline void FinishCell(const CellLoop& L, int r, int c, double v, bool missing, uint8_t* miss,
                                              long* counts) {
  if (missing) {
    ++counts[kNoStation];
    if (miss) miss[c] = 1;
  }
  if (L.postProcess) {
    double scen = 0.0;
    if (L.post.szenUse == 1) {
      if (L.scenarioGrid)
        scen = L.scenarioGrid[r][c];
      else if (L.scenarioStations)
        scen = ScenarioStationValue(*L.scenarioStations, L.distX[r][c], L.distY[r][c]);
    }
    int limit;
    v = PostProcessValue(v, L.post, scen, &limit);
    if (limit != 0 && !missing) ++counts[limit < 0 ? kBelowLower : kAboveUpper];
    if (L.scalingGrid) v *= L.scalingGrid[r][c];
  }
  L.result[r][c] = v;
}

CellCounts CountsOf(const long* counts) {
  CellCounts n;
  n.noStation = counts[kNoStation];
  n.belowLower = counts[kBelowLower];
  n.aboveUpper = counts[kAboveUpper];
  return n;
}

}  // namespace

std::vector<double> StationsOutOfReach(const CellLoop& L) {
  const StationPoints& s = LaneStations(L);
  const double ratio = LaneRatio(L);
  std::vector<double> nearest(static_cast<size_t>(std::max(s.n, 0)) + 1, 0.0);
  // The box of each row's cells in distance coordinates: no cell of the row lies nearer to a
  // station than the box.
  struct Box {
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
  };
  std::vector<Box> boxes(static_cast<size_t>(std::max(L.lastRow, 0)) + 1);
  bool anyCell = false;
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0, c1;
    LoopColumns(L, r, c0, c1);
    Box& b = boxes[static_cast<size_t>(r)];
    for (int c = c0; c <= c1; ++c) {
      if (!Interpolated(L, r, c)) continue;
      b.x0 = std::min(b.x0, L.distX[r][c]);
      b.x1 = std::max(b.x1, L.distX[r][c]);
      b.y0 = std::min(b.y0, L.distY[r][c]);
      b.y1 = std::max(b.y1, L.distY[r][c]);
      anyCell = true;
    }
  }
  if (!anyCell) return nearest;
  // One station alone, with a valid value: the cell's value is missing where it is not weighed.
  double x[2] = {0.0, 0.0}, y[2] = {0.0, 0.0};
  const double v[2] = {0.0, std::max(0.0, -L.nodata)};
  const StationPoints one{1, x, y, v};
  std::vector<std::pair<double, int>> rows;  // the least distance of a row's box, the row
  for (int i = 1; i <= s.n; ++i) {
    x[1] = s.x[i];
    y[1] = s.y[i];
    rows.clear();
    for (int r = L.firstRow; r <= L.lastRow; ++r) {
      const Box& b = boxes[static_cast<size_t>(r)];
      if (!(b.x0 <= b.x1)) continue;  // no cell
      const double bx = std::max({0.0, b.x0 - s.x[i], s.x[i] - b.x1}) * ratio;
      const double by = std::max({0.0, b.y0 - s.y[i], s.y[i] - b.y1});
      rows.emplace_back(std::sqrt(bx * bx + by * by), r);
    }
    // Nearest rows first: a station in reach is found in the first rows within the maximum
    // distance; one out of reach stops at the first row farther than the nearest cell found.
    std::sort(rows.begin(), rows.end());
    double best = HUGE_VAL;  // as the weights measure it: a distance of 0 counts as 1
    bool reached = false;
    for (const auto& [least, r] : rows) {
      if (reached || least >= best) break;
      int c0, c1;
      LoopColumns(L, r, c0, c1);
      for (int c = c0; c <= c1 && !reached; ++c) {
        if (!Interpolated(L, r, c)) continue;
        const double px = L.distX[r][c], py = L.distY[r][c];
        reached = IdwValue(one, L.idw, L.nodata, px, py, ratio) >= -L.nodata;
        const double dx = (s.x[i] - px) * ratio, dy = s.y[i] - py;
        const double d = std::sqrt(dx * dx + dy * dy);
        best = std::min(best, d > 0.0 ? d : 1.0);
      }
    }
    nearest[static_cast<size_t>(i)] = reached ? 0.0 : best;
  }
  return nearest;
}

CellCounts RunCellLoop(const CellLoop& L) {
  const size_t stride = static_cast<size_t>(L.ncols) + 1;
  long counts[kCountSlots] = {};
  const bool parallel = ParallelLoop(L);
  // Inverse distance with power 1 or 2 runs through the vector kernel of the CPU, a batch
  // of cells at once.
  const IdwInstructionSet vectorSet = ActiveIdwInstructionSet();
  const int batch = IdwBatchSize(vectorSet);
  const bool lanes = InverseDistanceOnLanes(L);
  const bool mixed = L.method == 3 || L.method == 11;
  const StationPoints& laneStations = LaneStations(L);
  const double laneRatio = LaneRatio(L);
#pragma omp parallel for schedule(runtime) reduction(+ : counts[:kCountSlots]) if (parallel)
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0, c1;
    LoopColumns(L, r, c0, c1);
    double* out = L.result[r];
    uint8_t* miss = L.missMask ? L.missMask + stride * static_cast<size_t>(r) : nullptr;
    if (miss)
      for (size_t c = 0; c < stride; ++c) miss[c] = 0;
    long rowCounts[kCountSlots] = {};  // the row's counts, added to the loop's at its end
    int pending[kMaxIdwBatch];
    int waiting = 0;
    // Interpolates the waiting cells (the last one repeated to fill the batch).
    auto flush = [&]() {
      double px[kMaxIdwBatch], py[kMaxIdwBatch], w[kMaxIdwBatch];
      for (int l = 0; l < batch; ++l) {
        const int c = pending[l < waiting ? l : waiting - 1];
        px[l] = L.distX[r][c];
        py[l] = L.distY[r][c];
      }
      IdwBatch(vectorSet, laneStations, L.idw, L.nodata, laneRatio, px, py, w);
      for (int l = 0; l < waiting; ++l) {
        const int c = pending[l];
        const double v = mixed ? MixWithRegression(L, r, c, w[l]) : w[l];
        FinishCell(L, r, c, v, w[l] < -L.nodata, miss, rowCounts);
      }
      waiting = 0;
    };
    for (int c = c0; c <= c1; ++c) {
      if (!Interpolated(L, r, c)) {
        out[c] = L.gridNodata;
        continue;
      }
      if (lanes && L.inverseDistanceInResult) {
        const double w = out[c];
        FinishCell(L, r, c, mixed ? MixWithRegression(L, r, c, w) : w, w < -L.nodata, miss, rowCounts);
        continue;
      }
      if (lanes) {
        pending[waiting++] = c;
        if (waiting == batch) flush();
        continue;
      }
      double v;
      bool missing;
      if (!CellValue(L, r, c, v, missing)) continue;
      FinishCell(L, r, c, v, missing, miss, rowCounts);
    }
    if (waiting > 0) flush();
    for (int k = 0; k < kCountSlots; ++k) counts[k] += rowCounts[k];
  }
  return CountsOf(counts);
}

bool InverseDistanceOnLanes(const CellLoop& L) {
  return !L.useCommonValue && StartsFromInverseDistance(L.method) && (L.idw.mode == 2000 || L.idw.mode == 1000);
}

bool SharesInverseDistance(const CellLoop& a, const CellLoop& b) {
  if (!InverseDistanceOnLanes(a) || !InverseDistanceOnLanes(b)) return false;
  // The same cells ...
  if (a.firstRow != b.firstRow || a.lastRow != b.lastRow || a.ncols != b.ncols || a.coordX != b.coordX ||
      a.coordY != b.coordY || a.distX != b.distX || a.distY != b.distY || a.zone != b.zone ||
      a.gridNodata != b.gridNodata || a.mpiRegions != b.mpiRegions || a.rank != b.rank ||
      a.masterHru != b.masterHru || a.xmin != b.xmin || a.xmax != b.xmax || a.ymin != b.ymin || a.ymax != b.ymax)
    return false;
  const bool aBounds = a.rowBounds && !a.rowBounds->empty(), bBounds = b.rowBounds && !b.rowBounds->empty();
  if (aBounds != bBounds) return false;
  if (aBounds && a.rowBounds != b.rowBounds) {
    if (a.rowBounds->size() != b.rowBounds->size()) return false;
    for (size_t r = 0; r < a.rowBounds->size(); ++r)
      if ((*a.rowBounds)[r].first != (*b.rowBounds)[r].first || (*a.rowBounds)[r].last != (*b.rowBounds)[r].last)
        return false;
  }
  // ... the same weights ...
  if (a.idw.mode != b.idw.mode || a.idw.maxDistance != b.idw.maxDistance ||
      a.idw.maxDistanceSquared != b.idw.maxDistanceSquared || LaneRatio(a) != LaneRatio(b))
    return false;
  // ... from stations at the same places, valid in both.
  const StationPoints& s = LaneStations(a);
  const StationPoints& t = LaneStations(b);
  if (s.n != t.n) return false;
  for (int i = 1; i <= s.n; ++i)
    if (s.x[i] != t.x[i] || s.y[i] != t.y[i] || (s.v[i] >= -a.nodata) != (t.v[i] >= -b.nodata)) return false;
  return true;
}

namespace {

// What one pass of shared inverse distance reads, and row r of it: the values of every
// loop, finished for the loops with finishShared (what they count summed in counts at
// k * kCountSlots) and added to the statistics of the loops in addRows (block b).
struct SharedPass {
  const CellLoop* const* loops;
  int count;
  IdwInstructionSet vectorSet;
  int batch;
  IdwSets sets;
  bool anyFinished;
  bool addRows[kMaxIdwSets];
};

void SharedRow(const SharedPass& P, int r, int b, long* counts) {
  const CellLoop& L = *P.loops[0];
  const size_t stride = static_cast<size_t>(L.ncols) + 1;
  int c0, c1;
  LoopColumns(L, r, c0, c1);
  uint8_t* miss[kMaxIdwSets];
  for (int k = 0; k < P.count; ++k) {
    const CellLoop& K = *P.loops[k];
    miss[k] = K.finishShared && K.missMask ? K.missMask + stride * static_cast<size_t>(r) : nullptr;
    if (miss[k])
      for (size_t c = 0; c < stride; ++c) miss[k][c] = 0;
  }
  long rowCounts[kMaxIdwSets * kCountSlots] = {};  // the row's counts, added to counts at its end
  int pending[kMaxIdwBatch];
  int waiting = 0;
  auto flush = [&]() {
    double px[kMaxIdwBatch], py[kMaxIdwBatch], w[kMaxIdwSets * kMaxIdwBatch];
    for (int l = 0; l < P.batch; ++l) {
      const int c = pending[l < waiting ? l : waiting - 1];
      px[l] = L.distX[r][c];
      py[l] = L.distY[r][c];
    }
    IdwBatchSets(P.vectorSet, LaneStations(L), P.sets, L.idw, LaneRatio(L), px, py, w);
    for (int k = 0; k < P.count; ++k) {
      const CellLoop& K = *P.loops[k];
      const double* wk = w + k * kMaxIdwBatch;
      if (!K.finishShared) {
        for (int l = 0; l < waiting; ++l) K.result[r][pending[l]] = wk[l];
        continue;
      }
      const bool mixed = K.method == 3 || K.method == 11;
      for (int l = 0; l < waiting; ++l) {
        const int c = pending[l];
        FinishCell(K, r, c, mixed ? MixWithRegression(K, r, c, wk[l]) : wk[l], wk[l] < -K.nodata, miss[k],
                   rowCounts + k * kCountSlots);
      }
    }
    waiting = 0;
  };
  for (int c = c0; c <= c1; ++c) {
    if (!Interpolated(L, r, c)) {
      if (P.anyFinished)
        for (int k = 0; k < P.count; ++k)
          if (P.loops[k]->finishShared) P.loops[k]->result[r][c] = P.loops[k]->gridNodata;
      continue;
    }
    pending[waiting++] = c;
    if (waiting == P.batch) flush();
  }
  if (waiting > 0) flush();
  for (int k = 0; k < P.count * kCountSlots; ++k) counts[k] += rowCounts[k];
  for (int k = 0; k < P.count; ++k)
    if (P.addRows[k]) P.loops[k]->statistics->AddGridRow(P.loops[k]->statisticsCells, b, r, P.loops[k]->result);
}

}  // namespace

void RunSharedInverseDistance(const CellLoop* const* loops, int count, SharedPassResult* results) {
  if (count < 1 || count > kMaxIdwSets) return;
  const CellLoop& L = *loops[0];
  SharedPass P;
  P.loops = loops;
  P.count = count;
  P.vectorSet = ActiveIdwInstructionSet();
  P.batch = IdwBatchSize(P.vectorSet);
  P.sets.count = count;
  P.anyFinished = false;
  // The rows go to the statistics by the blocks of the first loop that adds them; the
  // loops' cells are the same rows, so their blocks are the same.
  zonalstatistic* layout = nullptr;
  for (int k = 0; k < count; ++k) {
    const CellLoop& K = *loops[k];
    P.sets.v[k] = LaneStations(K).v;
    P.sets.nodata[k] = K.nodata;
    P.anyFinished = P.anyFinished || K.finishShared;
    P.addRows[k] = K.finishShared && K.statistics && K.statisticsCells.firstRow == L.firstRow &&
                   K.statisticsCells.lastRow == L.lastRow && K.statistics->BeginRows(K.statisticsCells);
    if (P.addRows[k] && !layout) layout = K.statistics;
  }
  long counts[kMaxIdwSets * kCountSlots] = {};
  if (layout) {
    const int blocks = layout->RowBlocks();
#pragma omp parallel for schedule(runtime) reduction(+ : counts[:kMaxIdwSets * kCountSlots]) if (ParallelLoop(L))
    for (int b = 0; b < blocks; ++b)
      for (int r = layout->FirstRowOfBlock(b); r <= layout->LastRowOfBlock(b); ++r) SharedRow(P, r, b, counts);
  } else {
#pragma omp parallel for schedule(runtime) reduction(+ : counts[:kMaxIdwSets * kCountSlots]) if (ParallelLoop(L))
    for (int r = L.firstRow; r <= L.lastRow; ++r) SharedRow(P, r, 0, counts);
  }
  if (results)
    for (int k = 0; k < count; ++k) {
      results[k].finished = loops[k]->finishShared;
      results[k].counts = CountsOf(counts + k * kCountSlots);
      results[k].statisticsAdded = P.addRows[k];
    }
}

bool NearestStationIndex::Update(const CellLoop& L) {
  const StationPoints& s = L.stations;
  const size_t n = static_cast<size_t>(s.n > 0 ? s.n : 0);
  bool same = built_ && method_ == L.method && valid_.size() == n + 1;
  if (valid_.size() != n + 1) valid_.assign(n + 1, 0);
  for (size_t i = 1; i <= n; ++i) {
    const uint8_t v = s.v[i] >= -L.nodata ? 1 : 0;
    if (valid_[i] != v) same = false;
    valid_[i] = v;
  }
  if (same) return false;
  const size_t stride = static_cast<size_t>(L.ncols) + 1;
  index_.assign(stride * (static_cast<size_t>(L.lastRow > 0 ? L.lastRow : 0) + 1), 0);
  const bool higherWins = L.method == 4;
  const uint8_t* valid = valid_.data();
#pragma omp parallel for schedule(runtime) if (ParallelLoop(L))
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0, c1;
    LoopColumns(L, r, c0, c1);
    int32_t* out = index_.data() + stride * static_cast<size_t>(r);
    for (int c = c0 < 1 ? 1 : c0; c <= c1 && c <= L.ncols; ++c) {
      const double x = L.coordX[r][c], y = L.coordY[r][c];
      // The searches of ThiessenValue (ties: the higher number) and of
      // ElevationGradientValue (ties: the lower number), both from 1e20.
      double best = 1e20;
      int32_t found = 0;
      for (int i = 1; i <= s.n; ++i) {
        if (!valid[i]) continue;
        const double dx = s.x[i] - x, dy = s.y[i] - y;
        const double d2 = dx * dx + dy * dy;
        if (higherWins ? best >= d2 : d2 < best) {
          best = d2;
          found = i;
        }
      }
      out[c] = found;
    }
  }
  method_ = L.method;
  built_ = true;
  return true;
}
