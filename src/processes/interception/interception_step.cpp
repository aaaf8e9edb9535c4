// The step of the interception module: the canopy snow (methods above 20), the liquid
// balance of every layer, the glacier share, the zone statistics and the output grids.
//
// The cell loop runs in parallel over fixed blocks of rows and writes only grids; each row's
// zone statistics are summed from its grids right after it (processes/zone_sums.h) and
// added to the writers in block order, so results and statistics are the same for any
// number of threads.
#include <algorithm>
#include <cmath>

#include "framework/logstream.h"
#include "framework/thread_policy.h"
#include "processes/glacier_share.h"
#include "processes/interception/canopy_snow.h"
#include "processes/interception/interception_physics.h"
#include "processes/interception/interzep.h"
#include "tables/landuse_table.h"

namespace {

void ClearSums(InterceptionStatistics& s) {
  if (s.writer) s.writer->ClearZoneSums();
}

}  // namespace

void interzeptionsmodellklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
  for (InterceptionLayer& l : layers)
    for (InterceptionStatistics* s : {&l.evaporationStats, &l.storageStats, &l.throughfallStats}) ClearSums(*s);
  for (size_t t = 1; t < moduleTracers.size(); ++t)
    if (moduleTracers[t].statistics) moduleTracers[t].statistics->ClearZoneSums();
  double** temperatureGrid = nullptr;  // the step's grid on the stack, filled row by row
  if (canopySnowModel) {
    // The stack holds one grid per step of the last day: steps shorter than an hour differ
    // in the minute only, so the minute is compared too (else a 15-minute run averaged 4 days).
    const bool sameStep = lastStepDate[0] == date.minute && lastStepDate[1] == date.hour &&
                          lastStepDate[2] == date.day && lastStepDate[3] == date.month &&
                          lastStepDate[4] == date.year;
    if (!sameStep) {
      // The grid may be the stack's oldest one given back; every row of it is written in the
      // cell loop below before any cell of the row reads the mean.
      temperatureGrid = snowCanopyStack->NewGrid();
      snowCanopyStack->Push(temperatureGrid);
    }
    for (int g = 0; g < CanopyGridCount(); ++g) ClearSums(canopyGrids[static_cast<size_t>(g)].stats);
  }

  // Blocks of rows in parallel; each row's statistics are summed as soon as it is done. The
  // temperature row is filled in the same pass, so the step walks its grids once.
  PrepareStatistics();
  const int blocks = statisticsSums.Blocks();
#pragma omp parallel for schedule(runtime) if (ForkRows(geometry.nrows, geometry.ncols))
  for (int b = 0; b < blocks; ++b)
    for (int r = statisticsSums.FirstRow(b); r <= statisticsSums.LastRow(b); ++r) {
      if (temperatureGrid) FillTemperatureRow(temperatureGrid, r);
      ComputeRow(r);
      AddStatisticsRow(b, r);
    }
  statisticsSums.Fold(statisticsTables.data());

  WriteOutputs();
  if (canopySnowModel) WriteTemperatureStackAtEnd();
  lastStepDate = {{static_cast<int>(date.minute), static_cast<int>(date.hour), static_cast<int>(date.day),
                   static_cast<int>(date.month), static_cast<int>(date.year)}};
}

void interzeptionsmodellklasse::FillTemperatureRow(double** grid, int r) const {
  // Every cell is written (0 where the cell is not this instance's, as in a new grid).
  const double* t = airTemperature[r];
  double* g = grid[r];
  for (int c = 0; c <= geometry.ncols; ++c)
    g[c] = t && c > 0 && (!mpiRegions || !mpiRegions[r] || mpiRegions[r][c] == instanceNumber) ? t[c] : 0.0;
}

void interzeptionsmodellklasse::PrepareStatistics() {
  // Writers: evaporation, storage and throughfall of layer k at 3k, 3k + 1 and 3k + 2, then
  // the canopy grids.
  const size_t N = static_cast<size_t>(layerCount);
  const int canopyCount = canopySnowModel ? CanopyGridCount() : 0;
  statisticsTables.clear();
  const auto table = [](InterceptionStatistics& s) { return s.Active() ? s.zones.data() : nullptr; };
  for (size_t k = 0; k <= N; ++k)
    for (InterceptionStatistics* s : {&layers[k].evaporationStats, &layers[k].storageStats, &layers[k].throughfallStats})
      statisticsTables.push_back(table(*s));
  for (int g = 0; g < canopyCount; ++g) statisticsTables.push_back(table(canopyGrids[static_cast<size_t>(g)].stats));
  statisticsSums.Prepare(StatisticsCells(), relCellArea, geometry.nrows, geometry.ncols,
                         static_cast<int>(statisticsTables.size()), zoneCount, firstRow, lastRow,
                         statisticsTables.data());
}

void interzeptionsmodellklasse::AddStatisticsRow(int b, int r) {
  const int N = layerCount;
  const bool arcVeg = arcVegActive > 0 && layerCount > 1;
  const int canopyCount = canopySnowModel ? CanopyGridCount() : 0;
  statisticsSums.AddRow(b, r, [&](int c, const ZoneSums::Cell& cell) {
    const double g = GlacierShare(r, c);
    // Canopy values count for the part of the cell without glacier.
    for (int k = 0; k < canopyCount; ++k)
      cell.AddValue(3 * (N + 1) + k, canopyGrids[static_cast<size_t>(k)].data[r][c], 1.0 - g);
    // Layer values count for the part without glacier, the glacier's part adds zeros: each
    // cell counts whole with (1 - g) times its value.
    for (int k = 0; k <= N; ++k) {
      const InterceptionLayer& l = layers[static_cast<size_t>(k)];
      cell.AddValue(3 * k, (1.0 - g) * l.evaporation[r][c]);
      cell.AddValue(3 * k + 1, (1.0 - g) * l.storage[r][c]);
      if (k > 0) {
        cell.AddValue(3 * k + 2, (1.0 - g) * l.throughfall[r][c]);
        continue;
      }
      // The cell's throughfall as the layers left it, before the glacier's part was mixed in.
      if (g == 0.0) {
        cell.AddValue(2, l.throughfall[r][c]);
        continue;
      }
      double t = 0.0;
      if (arcVeg)
        for (int j = 1; j <= N; ++j)
          t += layers[static_cast<size_t>(j)].arcVegFraction[r][c] * layers[static_cast<size_t>(j)].throughfall[r][c];
      else
        t = layers[static_cast<size_t>(N)].throughfall[r][c];
      cell.AddValue(2, (1.0 - g) * t);
    }
  });
}

void interzeptionsmodellklasse::ComputeRow(int r) {
  const double nodata = geometry.nodata_value;
  const size_t N = static_cast<size_t>(layerCount);
  const EvaporationRule rule = RuleOfMethod(method);
  const bool arcVeg = arcVegActive > 0 && layerCount > 1;

  int first = 1, last = geometry.ncols;
  if (!rowBounds.empty() && r < static_cast<int>(rowBounds.size())) {
    first = std::max(1, static_cast<int>(rowBounds[static_cast<size_t>(r)].first));
    last = std::min(geometry.ncols, static_cast<int>(rowBounds[static_cast<size_t>(r)].last));
  }
  for (int c = first; c <= last; ++c) {
    if (!OwnCell(r, c)) {
      for (InterceptionLayer& l : layers) l.evaporation[r][c] = l.throughfall[r][c] = nodata;
      continue;
    }
    const double g = GlacierShare(r, c);
    // The water input is read first: a fully glaciated cell passes it straight through.
    double P = inputGrid[r][c];
    const double P0 = P;
    if (g >= kWholeGlacierShare) {
      // A whole-glacier cell has no canopy: the snow model below reads the open air here,
      // and the cell's water input passes whole (also the sliver of a cell short of 1).
      if (canopySnowModel) OpenAirCanopyCell(r, c, P);
      for (InterceptionLayer& l : layers) l.evaporation[r][c] = l.storage[r][c] = l.throughfall[r][c] = 0.0;
      layers[0].throughfall[r][c] = P0;
      continue;
    }
    if (canopySnowModel) CanopySnowCell(r, c, P);
    InterceptionLayer& top = layers[0];
    top.evaporation[r][c] = top.throughfall[r][c] = top.storage[r][c] = 0.0;
    double layerInput = P;
    for (size_t k = 1; k <= N; ++k) {
      InterceptionLayer& l = layers[k];
      const double f = arcVeg ? l.arcVegFraction[r][c] : 1.0;
      const double input = k == 1 || arcVeg ? P : layerInput;
      const double landuse = l.landuse[r][c];
      const LanduseTableEntry* row = nullptr;
      if (landuse > nodata && landuseTable && landuse >= 0.0 &&
          landuse < static_cast<double>(landuseTable->size()))
        row = &(*landuseTable)[static_cast<size_t>(landuse)];
      // A layer without a land use holds no canopy: it passes its input on, and what it
      // may still hold from an earlier land use drains with it.
      double E = 0.0, S = 0.0, T = input + std::max(0.0, l.storage[r][c]);
      if (row) {
        S = l.storage[r][c];
        const double C = LayerCapacity(l.leafAreaIndex[r][c], row->GetIntercepCap(), maxWaterLayer);
        T = FillLayer(input, l.coverage[r][c], C, S);
        double& potT = l.potTranspiration[r][c];
        const double potTBefore = potT;
        // What the storage leaves of the wet canopy's rate has no taker after it in the
        // step: it is not stored back (a grid fewer to write per cell).
        double potIE = l.potInterceptionEvap[r][c];
        E = EvaporateLayer(rule, f, S, potT, potIE);
        if (N > 1) top.potTranspiration[r][c] -= potTBefore - potT;
      }
      l.evaporation[r][c] = E;
      l.storage[r][c] = S;
      l.throughfall[r][c] = T;
      layerInput = T;
      top.evaporation[r][c] += E;
      if (arcVeg) {
        top.throughfall[r][c] += f * T;
        top.storage[r][c] += f * S;
      } else {
        top.throughfall[r][c] = T;
        top.storage[r][c] += S;
      }
      if (N == 1) top.potTranspiration[r][c] = l.potTranspiration[r][c];
    }
    // The glaciated part passes its water input straight through.
    if (g > 0.0) layers[0].throughfall[r][c] = (1.0 - g) * layers[0].throughfall[r][c] + g * P0;
  }
}

void interzeptionsmodellklasse::CanopySnowCell(int r, int c, double& P) {
  double laiSum = 0.0, maxZ0 = -1e300, minRc = 3000.0, minRi = 3000.0, maxStorage = -1e300;
  for (int k = 1; k <= layerCount; ++k) {
    const InterceptionLayer& l = layers[static_cast<size_t>(k)];
    // A layer without a land use has no canopy: its parameter grids hold no-data.
    if (!(l.landuse[r][c] > geometry.nodata_value)) continue;
    laiSum += l.leafAreaIndex[r][c];
    maxZ0 = std::max(maxZ0, l.roughnessLength[r][c]);
    minRc = std::min(minRc, l.canopyResistance[r][c]);
    minRi = std::min(minRi, l.interceptionResistance[r][c]);
    maxStorage = std::max(maxStorage, l.storage[r][c]);
  }
  auto grid = [this, r, c](CanopyGrid g) -> double& { return canopyGrids[g].data[r][c]; };
  const double T = airTemperature[r][c];
  const double lai = laiSum * laiScaleSnowCanopy;
  if (!(laiSum > minLAISnowCanopy && maxZ0 > minZ0SnowCanopy && lai > 0.0)) {
    OpenAirCanopyCell(r, c, P);
    return;
  }
  CanopySnowState s;
  s[kAirTemperature] = T + 273.16;
  s[kMeanAirTemperature24h] = snowCanopyStack->Mean(r, c) + 273.16;
  s[kTemperatureOffset] = std::min(2.0, std::max(-2.0, (s[kMeanAirTemperature24h] - 273.16) / 3.0));
  s[kRelativeHumidity] = airHumidity[r][c] * 100.0;
  s[kPrecipitation] = P;
  s[kGlobalRadiation] = globalRadiation[r][c];
  s[kWindSpeed] = windSpeed[r][c];
  s[kCloudCover] = cloudiness[r][c];
  s[kTimeStep] = timeInterval * 60.0;
  s[kElevation] = elevationGrid[r][c];
  s[kLeafAreaIndex] = lai;
  s[kCanopySnowAlbedo] = grid(kCanopyAlbedo);
  s[kLoadBefore] = grid(kCanopyLoad);
  s[kCanopySnowAge] = grid(kCanopyAge);
  const double albedoBefore = grid(kCanopyAlbedo);

  SplitRainSnow(s[kSnow], s[kRain], T, thresholdTemperature, transZone, s[kPrecipitation]);
  InterceptedSnowStep(s);

  if (canopyEnergyBalance) {
    s[kCanopyAlbedoForBalance] = albedoBefore;
    s[kGroundSnowAlbedo] = groundAlbedo[r][c];
    s[kSnowSurfaceTemperature] = surfaceTemperature[r][c];
    s[kCanopyTemperature] = s[kAirTemperature] + 0.5;
    const double old = grid(kCEBTemperatureOld);
    s[kCanopyTemperatureOld] = old != 0.0 ? old : s[kAirTemperature] + 0.5;
    s[kGlobalRadiationAbove] = globalRadiation[r][c];
    s[kMinCanopyResistance] = minRc;
    s[kMinInterceptionResistance] = minRi;
    s[kMaxRoughnessLength] = maxZ0;
    s[kMaxInterceptionStorage] = maxStorage;
    s[kCapacityMember] = layerCapacity;
    if (snowStorageTotal[r][c] > 0.0) {
      CanopySnowModel(s);
      grid(kCanopyEnergyBalanceGrid) = s[kBalanceResidual];
      grid(kCEBTemperature) = grid(kCEBTemperatureOld) = s[kCanopyTemperature];
    } else {
      grid(kCanopyEnergyBalanceGrid) = 0.0;
      grid(kCEBTemperature) = grid(kCEBTemperatureOld) = s[kAirTemperature];
    }
    grid(kCEBDummy) = s[kCanopyMinusAirTemperature];
  }

  grid(kCanopyUnloadLiquid) = s[kRain];
  grid(kCanopyUnloadSolid) = s[kSnow];
  grid(kCanopyTemperatureGrid) = s[kAirTemperature] - 273.16;
  grid(kCanopyHumidity) = s[kRelativeHumidity] / 100.0;
  grid(kCanopyRadiation) = s[kGlobalRadiation];
  grid(kCanopyWind) = s[kWindSpeed];
  grid(kCanopyIRRadiation) = s[kLongwaveRadiation];
  grid(kCanopyAlbedo) = s[kCanopySnowAlbedo];
  grid(kCanopyLoad) = s[kLoadAfter];
  grid(kCanopyAge) = s[kCanopySnowAge];
  grid(kCanopySublimation) = s[kSublimation];
  P = s[kRain];
}

void interzeptionsmodellklasse::OpenAirCanopyCell(int r, int c, double P) {
  auto grid = [this, r, c](CanopyGrid g) -> double& { return canopyGrids[g].data[r][c]; };
  const double T = airTemperature[r][c];
  grid(kCanopyUnloadLiquid) = P;
  grid(kCanopyTemperatureGrid) = T;
  grid(kCanopyHumidity) = airHumidity[r][c];
  grid(kCanopyRadiation) = globalRadiation[r][c];
  grid(kCanopyWind) = windSpeed[r][c];
  grid(kCanopyIRRadiation) = 0.0;
  grid(kCanopyUnloadSolid) = 0.0;
  grid(kCanopyAlbedo) = 0.2;
  grid(kCanopyLoad) = 0.0;
  grid(kCanopyAge) = 0.0;
  grid(kCanopySublimation) = 0.0;
  if (canopyEnergyBalance) {
    grid(kCanopyEnergyBalanceGrid) = 0.0;
    grid(kCEBTemperature) = grid(kCEBTemperatureOld) = T + 273.15;
    grid(kCEBDummy) = 0.0;
  }
}

void interzeptionsmodellklasse::WriteStoreGrids() {
  if (flowControl == 0) return;
  if (canopySnowModel) WriteGrids(canopyGrids[kCanopyLoad].position, 1, false);
  for (InterceptionLayer& l : layers) WriteGrids(l.storagePosition, 1, false);
}

void interzeptionsmodellklasse::WriteOutputs() {
  const ModelDate& d = stepDate;
  if (canopySnowModel) {
    for (int g = 0; g < CanopyGridCount(); ++g)
      if (g != kCanopyLoad || !storesWrittenAfterSnow)
        WriteGrids(canopyGrids[static_cast<size_t>(g)].position, 1, false);
    for (int g = 0; g < CanopyGridCount(); ++g) {
      InterceptionStatistics& s = canopyGrids[static_cast<size_t>(g)].stats;
      if (s.writer) s.writer->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
    }
  }
  for (InterceptionLayer& l : layers) {
    for (InterceptionStatistics* s : {&l.evaporationStats, &l.storageStats, &l.throughfallStats})
      if (s->writer) s->writer->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
    WriteGrids(l.evaporationPosition, 1, false);
    WriteGrids(l.throughfallPosition, 1, false);
  }
  if (!storesWrittenAfterSnow) WriteStoreGrids();
}
