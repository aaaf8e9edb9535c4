// The dynamic vegetation start of the land-use rows of methods 3 to 6: once a day, per cell
// and land-use layer, forcing units are summed from the daily mean temperature until a
// threshold is passed; chilling units during dormancy set the threshold of methods 4 and 6.
#include "tables/phenology.h"

#include <algorithm>

#include "init/defaultini.h"
#include "tables/landuse_day_values.h"
#include "framework/thread_policy.h"

namespace {

// The grids of one cell and layer that a row's method changes.
struct CellState {
  double& forcing;    // S
  double& start;      // P
  double& chilling;   // C
  double& threshold;  // F
  double* list;       // fix-day list [0..n] (methods 5 and 6), may be null
  double* leafFall;   // "StartDayOfLeaveFall", may be null
  double* coldDays;   // cold-day counter of method 6, may be null
  double temperature;
  double movingAverage;
  double moisture;    // moisture factor x
  double nodata;
};

// Resets the list to the row's fix days.
void ResetList(const LanduseTableEntry& row, double* list, int n) {
  for (int e = 1; e <= n; ++e) list[e] = row.GetFixDay(e);
}

void Method3(const LanduseTableEntry& row, CellState& c, int day, int n) {
  if (c.start < 0 && day >= row.GetDP1_t1_dorm()) {
    c.forcing = phenology::AddForcing(c.forcing, phenology::ForcingUnit(c.temperature, row.GetDP1_T_Bf()),
                                      row.GetStressFactorDynPhen(), c.moisture);
    if (c.forcing > row.GetFStar()) {
      c.start = day;
      if (row.method == 6) MarkStartInFixDays(row, c.list, n, day, c.nodata, row.StartYearLength(day, day));
    }
  }
  if (day == row.GetJDReset_TStart()) {
    c.forcing = 0.0;
    c.start = -1.0;
    if (c.leafFall) *c.leafFall = 0.0;
    if (c.list) {
      for (int e = 1; e <= n; ++e) {
        const bool waits = row.method == 5 && row.GetForcingThreshold(e) >= 0 && row.GetFixDay(e) > day;
        c.list[e] = waits ? -1.0 : row.GetFixDay(e);
      }
    }
  }
}

void Method4(const LanduseTableEntry& row, CellState& c, int day) {
  const int t0 = row.GetDP2_t0_dorm(), t1 = row.GetDP2_t1_dorm();
  if (c.start < 0 && day >= t1) {
    c.forcing = phenology::AddForcing(c.forcing, phenology::ForcingUnit(c.temperature, row.GetDP2_T_Bf()),
                                      row.GetStressFactorDynPhen(), c.moisture);
    if (c.forcing > c.threshold) c.start = day;
  }
  if (day >= t0 || day < t1)
    c.chilling += phenology::ChillingUnit(c.temperature, row.GetDP2_Offset_1(), row.GetDP2_T_Bc(), row.GetDP2_Offset_2());
  if (day == row.GetJDReset_TStart()) {
    c.forcing = 0.0;
    c.start = -1.0;
  }
  if (day == t0 - 1) c.chilling = 0.0;
  if (day == t1 - 1) c.threshold = phenology::ExponentialThreshold(row.GetDP2_Par_a(), row.GetDP2_Par_b(), c.chilling);
}

void Method5(const LanduseTableEntry& row, CellState& c, int day, int n) {
  if (!c.list || n < 1) return;
  double* list = c.list;
  const int e = phenology::CurrentFixEntry(list, n, day, c.nodata);
  const double phi = row.GetForcingThreshold(e);
  if (row.GetFixDay(e) <= day && phi > 0 && list[e] < 0) {
    list[e] = row.GetFixDay(e);
    list[0] = phi;
  }
  c.forcing = phenology::AddForcing(c.forcing, phenology::DegreeDayForcing(c.temperature, row.GetDP1_T_Bf()),
                                    row.GetStressFactorDynPhen(), c.moisture);
  if (list[e] < 0) {
    if (e >= n && phi < 0) {
      if (c.forcing >= -1) {
        list[e] = day;
        list[0] = -1;
      }
    } else if (c.forcing >= phi) {
      list[e] = day;
      list[0] = phi;
    }
  }
  if (day == 1) {
    c.forcing = 0.0;
    list[0] = 0.0;
    for (int k = 1; k <= n; ++k)
      list[k] = (row.GetForcingThreshold(k) < 0 || row.GetFixDay(k) == 1) ? row.GetFixDay(k) : -1.0;
  }
}

void Method6(const LanduseTableEntry& row, CellState& c, int day, int n) {
  const int t0 = row.GetDP4_t0_dorm(), t1 = row.GetDP4_t1_dorm();
  if (c.start < 0 && day >= t1) {
    c.forcing = phenology::AddForcing(c.forcing, phenology::DegreeDayForcing(c.temperature, row.GetDP4_T1()),
                                      row.GetStressFactorDynPhen(), c.moisture);
    if (c.forcing > c.threshold) {
      c.start = day;
      MarkStartInFixDays(row, c.list, n, day, c.nodata, row.StartYearLength(day, day));
    }
  }
  if (c.start < 0 || day >= t0) c.chilling += c.temperature <= row.GetDP4_T0() ? 1.0 : 0.0;
  if (day == row.GetJDReset_TStart()) {
    c.forcing = 0.0;
    c.start = -1.0;
    if (c.leafFall) *c.leafFall = 0.0;
    if (c.list) ResetList(row, c.list, n);
  }
  if (day == t0 - 1) c.chilling = 0.0;
  if (day >= t1 - 1 && c.start < 0)
    c.threshold = phenology::LogarithmicThreshold(row.GetDP4_Par_a(), row.GetDP4_Par_b(), c.chilling);

  // Leaf fall after enough cold days or at the fix point of the shift.
  if (day >= row.GetDP4_t_xs1() && c.leafFall && !(*c.leafFall > 0) && c.start > 0) {
    if (c.coldDays) *c.coldDays = c.movingAverage < row.GetDP4_T_xylstop() ? *c.coldDays + 1.0 : 0.0;
    const int s = row.GetDP4_SPSLF();
    const bool fixReached = s >= 1 && s <= n && row.GetFixDay(s) <= day;
    const bool cold = c.coldDays && *c.coldDays >= 5;
    if (cold || fixReached) {
      if (c.list && s >= 1 && s <= n) {
        // In the year after a late start the list's days count on from the start's year.
        const int start = c.start < 1e6 ? static_cast<int>(c.start) : 1000000;  // a day, or no day of a year
        const int at =
            day + landuse_days::CellSeasonShift(c.list, n, start, day, row.StartYearLength(day, start));
        const double shift = at - c.list[s];
        c.list[s] = at;
        if (s < n) c.list[s + 1] += shift;
        for (int e = s - 1; e >= 1; --e)
          if (c.list[e] > at || c.list[e] < 0 || (e > 1 && c.list[e] < c.list[e - 1])) c.list[e] = at - 1;
        // The fix days stay in order: none after the leaf fall before it.
        for (int e = s + 1; e <= n; ++e)
          if (c.list[e] > 0 && c.list[e] < c.list[e - 1]) c.list[e] = c.list[e - 1];
      }
      *c.leafFall = day;
    }
  }
}

}  // namespace

void MarkStartInFixDays(const LanduseTableEntry& row, double* list, int n, int day, double nodata, int yearLength) {
  if (!list || n < 1) return;
  int e = 1;
  while (e < n && list[e] > 0 && list[e] < day && list[e + 1] > nodata) ++e;
  list[e] = day;
  if (e >= n) return;
  list[e + 1] = day + row.GetFixDay(e + 1);
  // A start late in the year: the fix day after it lies in the next year, and so does every
  // later one, counted on from the end of this year.
  if (list[e + 1] > yearLength)
    for (int k = e + 2; k <= n; ++k)
      if (list[k] > 0) list[k] += yearLength;
}

void defaultini::UpdateDynamicPhenology(int dayOfYear, int layerCount) {
  LanduseParameterGrids& g = landuseGrids;
  const int day = dayOfYear;
  for (size_t r = 1; r < landuseTable.size(); ++r) {
    LanduseTableEntry& row = landuseTable[r];
    if ((row.method == 4 && row.GetDP2_t0_dorm() == day) || (row.method == 6 && row.GetDP4_t0_dorm() == day))
      row.SetDynamicStartSet(false);
  }
  const int L = std::min(layerCount, g.layers);
  if (L < 1 || g.layer[kForcingSum].size() <= static_cast<size_t>(L) || !g.temperatureAvg || !zoneGrid) return;
  const int nrows = geometry.nrows;
  const double nodata = geometry.nodata_value;
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
  for (int i = 1; i <= nrows; ++i) {
    int first = 1, last = geometry.ncols;
    if (!rowBounds.empty() && i < static_cast<int>(rowBounds.size())) {
      first = std::max(1, static_cast<int>(rowBounds[i].first));
      last = std::min(geometry.ncols, static_cast<int>(rowBounds[i].last));
    }
    for (int j = first; j <= last; ++j) {
      if (!(zoneGrid[i][j] > nodata)) continue;
      for (int k = 1; k <= L; ++k) {
        const LanduseTableEntry* row = LanduseRowAt(k, i, j);
        if (!row || row->method < 3 || row->method > 6) continue;
        const int n = std::min(row->GetFixPointCount(), g.maxFixPoints);
        double* list = (g.perCell && k < static_cast<int>(g.fixDays.size())) ? g.fixDays[k][i][j] : nullptr;
        const bool haveTheta = g.meanTheta != nullptr;
        CellState c{g.layer[kForcingSum][k][i][j],
                    g.layer[kPhenoStart][k][i][j],
                    g.layer[kChillingSum][k][i][j],
                    g.layer[kForcingThreshold][k][i][j],
                    list,
                    g.leafFallStart ? &g.leafFallStart[i][j] : nullptr,
                    g.movingStack ? &g.movingStack[i][j][0] : nullptr,
                    g.temperatureAvg[i][j],
                    g.movingAverage ? g.movingAverage[i][j] : 0.0,
                    phenology::MoistureFactor(haveTheta, haveTheta ? g.meanTheta[i][j] : 0.0, row->GetHReduDry()),
                    nodata};
        if (row->method == 3 || row->GetDynamicStartSet())
          Method3(*row, c, day, n);
        else if (row->method == 4)
          Method4(*row, c, day);
        else if (row->method == 5)
          Method5(*row, c, day, n);
        else
          Method6(*row, c, day, n);
      }
    }
  }
}
