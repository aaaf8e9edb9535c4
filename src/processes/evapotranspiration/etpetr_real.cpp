// Snow evaporation (after the potential step, or after the snow model's step where that
// evaporates by its own energy balance) and real evapotranspiration (after the soil model):
// the potential amounts are taken from the snow pack, the ponding water of lakes and the
// soil storage. They run in parallel over blocks of rows and sum their zone statistics as
// they go (processes/zone_sums.h).
#include <omp.h>

#include <algorithm>
#include <vector>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/evapotranspiration/et_kernels.h"

int verdunstungsmodellklasse::GatherDemands(int r, int c, double* demands, double* slot) const {
  const double nodata = geometry.nodata_value;
  int count = 0;
  for (int k = 1; k <= layers; ++k)
    if (landuse[k][r][c] > nodata) {
      slot[count] = k;
      demands[count++] = potTranspiration[k][r][c];
    }
  slot[count] = 0;
  demands[count++] = potEvaporation[r][c];
  return count;
}

void verdunstungsmodellklasse::ReturnDemands(int r, int c, const double* demands, const double* slot, int count) {
  for (int i = 0; i < count; ++i) {
    const int k = static_cast<int>(slot[i]);
    if (k == 0) {
      potEvaporation[r][c] = demands[i];
      continue;
    }
    // The snow took a share of the layer's demand: the same share of its wet canopy rate is
    // gone for the interception storage.
    double& pt = potTranspiration[k][r][c];
    if (pt > 0.0 && demands[i] < pt) potInterception[k][r][c] *= demands[i] / pt;
    pt = demands[i];
  }
}

template <class Cell>
void verdunstungsmodellklasse::SnowEvaporationPass(const ModelDate& date, Cell cell) {
  snowEvaporationStat->ClearZoneSums();
  // Each thread's demands, their layers and the glacier's copy, N + 1 each, rounded up to
  // whole cache lines and a line apart, so no two threads write into one line.
  const size_t stride = (3 * (static_cast<size_t>(layers) + 1) + 7) / 8 * 8 + 8;
  const size_t threads = static_cast<size_t>(omp_get_max_threads());
  if (snowScratch.size() < threads * stride) snowScratch.assign(threads * stride, 0.0);
  double* scratch = snowScratch.data();
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  snowSums.Prepare(StatisticsCells(), relCellArea, nrows, ncols, 1, zoneCount, 1, nrows, snowTables.data());
  const int blocks = snowSums.Blocks();
#pragma omp parallel if (ForkCells(static_cast<long>(nrows) * ncols, minParallelCells))
  {
    double* demands = scratch + static_cast<size_t>(omp_get_thread_num()) * stride;
#pragma omp for schedule(runtime)
    for (int b = 0; b < blocks; ++b)
      for (int r = snowSums.FirstRow(b); r <= snowSums.LastRow(b); ++r) {
        ZoneSums::Row row = snowSums.RowOf(b, r);
        for (int c = 1; c <= ncols; ++c)
          if (IsBasinCell(r, c)) row.At(c).Add(0, cell(r, c, demands));
      }
  }
  snowSums.Fold(snowTables.data());
  snowEvaporationStat->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
  WriteGrids(snowEvaporationPos, 1, false);
}

void verdunstungsmodellklasse::SnowEvaporation(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year, "snow_evaporation");
  if (!glacierChecked) {
    glacierChecked = true;
    if (FindGrid("SnowEvaporation_onGlacier") > 0 && FindGrid("TotalSnowStorage_onGlacier") > 0) {
      glacierSnowEvaporation = grids[RequireGrid("SnowEvaporation_onGlacier")].data;
      glacierSnowStorage = grids[RequireGrid("SolidSnowStorage_onGlacier")].data;
      glacierLinked = true;
    } else if (glaciers) {
      *log << "INFO: " << name << ": a glacier fraction grid is there, but not the snow model's glacier snow grids "
           << "(SnowEvaporation_onGlacier, TotalSnowStorage_onGlacier): no snow evaporates on glaciers"
           << "[end-entry]";
    }
  }
  const double nodata = geometry.nodata_value;
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  if (SnowModelEvaporates()) {
    // The snow model evaporates by its own energy balance in its step, and its output follows
    // that step (SnowModelEvaporation). Where snow lies at the step's start it takes the
    // layers' whole demand, at the dry and the wet canopy's rate alike, and the soil's.
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(nrows) * ncols, minParallelCells))
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) {
        if (!IsBasinCell(r, c) || !(snowStorageSolid[r][c] > 0.0)) continue;
        for (int k = 1; k <= layers; ++k)
          if (landuse[k][r][c] > nodata) potTranspiration[k][r][c] = potInterception[k][r][c] = 0.0;
        potEvaporation[r][c] = 0.0;
      }
    return;
  }
  SnowEvaporationPass(date, [this](int r, int c, double* demands) {
    // Without a snow model there is no snow to evaporate.
    if (snowStorageSolid) {
      double* slot = demands + layers + 1;
      double* copy = slot + layers + 1;
      double& s = snowStorageSolid[r][c];
      const double g = GlacierFraction(r, c);
      snowEvaporation[r][c] = 0.0;
      if (glacierLinked) glacierSnowEvaporation[r][c] = 0.0;
      // Demands in order: the layers with a land use, then the soil.
      const int count = GatherDemands(r, c, demands, slot);
      if (g < 1.0 && s > 0.0) {
        snowEvaporation[r][c] = TakeFromSnow(s, demands, count);
        ReturnDemands(r, c, demands, slot, count);
      }
      if (g > 0.0 && glacierLinked && glacierSnowStorage[r][c] > 0.0) {
        std::copy(demands, demands + count, copy);
        glacierSnowEvaporation[r][c] = TakeFromSnow(glacierSnowStorage[r][c], copy, count);
      }
    }
    return snowEvaporation[r][c];
  });
}

void verdunstungsmodellklasse::SnowModelEvaporation(ModelDate date) {
  if (flowControl == 0 || !SnowModelEvaporates()) return;
  SnowEvaporationPass(date, [this](int r, int c, double* demands) {
    // What the snow evaporated (not condensed) is a share of the cell's demand that no later
    // process of the step finds: the snow's evaporation stays as its energy balance gave it,
    // beyond the demand too.
    const double e = snowEvaporation[r][c];
    if (e > 0.0 && GlacierFraction(r, c) < 1.0) {
      double* slot = demands + layers + 1;
      const int count = GatherDemands(r, c, demands, slot);
      double left = e;
      TakeFromSnow(left, demands, count);
      ReturnDemands(r, c, demands, slot, count);
    }
    return e;
  });
}

void verdunstungsmodellklasse::LinkInterceptionEvaporation() {
  if (interceptionEvaporation) return;
  const int p = FindGrid("interception_evaporation0");
  if (p > 0) interceptionEvaporation = grids[p].data;
}

// The start of a real-ET step: the step's clock, the interception evaporation grid once the
// interception module has registered it, and cleared statistics.
void verdunstungsmodellklasse::BeginRealET(const ModelDate& date) {
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year, "real evapotranspir.");
  LinkInterceptionEvaporation();
  for (auto& w : realTranspirationStat) w->ClearZoneSums();
  realEvaporationStat->ClearZoneSums();
}

void verdunstungsmodellklasse::RealET(ModelDate date) {
  if (flowControl == 0) return;
  BeginRealET(date);
  const double nodata = geometry.nodata_value;
  const int nrows = geometry.nrows, ncols = geometry.ncols, n = layers;
  // Writers: real transpiration of layer k at k, then real evaporation.
  realSums.Prepare(StatisticsCells(), relCellArea, nrows, ncols, n + 2, zoneCount, 1, nrows, realTables.data());
  const int blocks = realSums.Blocks();
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(nrows) * ncols, minParallelCells))
  for (int b = 0; b < blocks; ++b)
    for (int r = realSums.FirstRow(b); r <= realSums.LastRow(b); ++r) {
      ZoneSums::Row row = realSums.RowOf(b, r);
      for (int c = 1; c <= ncols; ++c) {
        if (!IsBasinCell(r, c)) {
          for (int k = 0; k <= n; ++k) realTranspiration[k][r][c] = nodata;
          continue;
        }
        const double g = GlacierFraction(r, c);
        if (g >= 1.0) continue;
        // The soil holds the water of the whole cell, which only its part without glacier
        // gave it: that part takes its demand (per unit of its own area, as the grids and
        // statistics hold it) from the soil, (1 - g) times it over the cell.
        const double free = 1.0 - g;
        const ZoneSums::Cell cell = row.At(c);
        const double w = availableSoilMoisture ? availableSoilMoisture[r][c] : 0.0;
        double dummy = 1.0;
        double& theta = (soilStorage && w > 0.0) ? soilStorage[r][c] : dummy;
        const double thetaStart = w > 0.0 ? theta : 1.0;
        // A lake cell evaporates only the water it holds: from its ponding storage where that
        // stands deeper than 1 mm, and nothing where it is dry (the soil model keeps the
        // soil of lake cells full, a value that holds no water of the basin).
        const bool lake = IsLakeCell(r, c);
        const bool pond = lake && ponding[r][c] > 1.0;
        realTranspiration[0][r][c] = 0.0;
        bool anyLanduse = false;
        for (int k = 1; k <= n; ++k) {
          if (!(landuse[k][r][c] > nodata)) {
            realTranspiration[k][r][c] = 0.0;
            cell.Add(k, 0.0, 1.0);
            continue;
          }
          anyLanduse = true;
          double e = potTranspiration[k][r][c];
          if (pond) {
            double& lp = ponding[r][c];
            if (e < lp) {
              lp -= e;
              potTranspiration[k][r][c] = 0.0;
            } else {
              potTranspiration[k][r][c] = e - lp;
              e = lp;
              lp = 0.0;
            }
          } else if (lake) {
            e = 0.0;
          } else {
            if (thetaStart < 0.6) e *= thetaStart / 0.6;
            e = WithdrawFromSoil(theta, w, free * e) / free;
          }
          realTranspiration[k][r][c] += e;
          cell.Add(k, realTranspiration[k][r][c], 1.0 - g);
          if (g != 0.0) cell.Add(k, 0.0, g);  // the glacier's zero part (a zero weight adds nothing)
          realTranspiration[0][r][c] += realTranspiration[k][r][c];
        }
        // The soil evaporates once per cell, whatever the number of layers above it.
        if (anyLanduse) {
          double ev = 0.0;
          if (!lake) ev = WithdrawFromSoil(theta, w, free * potEvaporation[r][c]) / free;
          realEvaporation[r][c] = lake ? 0.0 : realEvaporation[r][c] + ev;
          cell.Add(n + 1, ev, 1.0 - g);
          if (g != 0.0) cell.Add(n + 1, 0.0, g);
        }
        double total = realTranspiration[0][r][c] + snowEvaporation[r][c] + realEvaporation[r][c];
        if (interceptionEvaporation) total += interceptionEvaporation[r][c];
        realTranspiration[0][r][c] = total;
        cell.Add(0, total, 1.0 - g);
        if (g != 0.0) cell.Add(0, 0.0, g);
      }
    }
  realSums.Fold(realTables.data());
  for (int k = 0; k <= layers; ++k) {
    realTranspirationStat[k]->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
    WriteGrids(realTranspirationPos[k], 1, false);
  }
  realEvaporationStat->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
  WriteGrids(realEvaporationPos, 1, false);
}

void verdunstungsmodellklasse::RealETReset(ModelDate date) {
  if (flowControl == 0) return;
  BeginRealET(date);
}

void verdunstungsmodellklasse::WriteOutput(ModelDate date) {
  if (flowControl == 0) return;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!IsBasinCell(r, c)) continue;
      const int zone = ZoneIndex(r, c);
      const double g = GlacierFraction(r, c);
      double total = snowEvaporation[r][c];
      for (int k = 1; k <= layers; ++k) {
        realTranspirationStat[k]->AddCellValue(r, c, zone, realTranspiration[k][r][c], 1.0 - g);
        realTranspirationStat[k]->AddCellValue(r, c, zone, 0.0, g);
        total += realTranspiration[k][r][c];
      }
      if (interceptionEvaporation) total += interceptionEvaporation[r][c] + realEvaporation[r][c];
      const double onGlacier = glacierLinked ? glacierSnowEvaporation[r][c] : snowEvaporation[r][c];
      realTranspirationStat[0]->AddCellValue(r, c, zone, (1.0 - g) * total + g * onGlacier, 1.0);
      realEvaporationStat->AddCellValue(r, c, zone, realEvaporation[r][c], 1.0 - g);
      realEvaporationStat->AddCellValue(r, c, zone, 0.0, g);
    }
  for (int k = 0; k <= layers; ++k) {
    realTranspirationStat[k]->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
    WriteGrids(realTranspirationPos[k], 1, false);
  }
  realEvaporationStat->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
  WriteGrids(realEvaporationPos, 1, false);
}
