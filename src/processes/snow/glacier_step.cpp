// Glaciers in the snow step: the glacier cells of the parallel loop (snow on the glacier,
// then firn or ice melt once the snow is gone), the glacier statistics and, after the loop,
// the three linear storages of every glacier sub-basin that carry the melt into the soil
// model's runoff.
#include <algorithm>
#include <cmath>

#include "processes/snow/snowmod.h"
#include "processes/subbasin_runoff.h"
#include "framework/thread_policy.h"
#include "processes/glacier_share.h"

int schneemodellklasse::SubbasinIndex(int row, int col) const {
  if (!subbasinGrid) return 0;
  const double code = subbasinGrid[row][col];
  if (!(code >= 1.0) || code > static_cast<double>(largestSubbasinCode)) return 0;
  return subbasinCodeMap[static_cast<size_t>(std::floor(code + 0.5))];
}

double schneemodellklasse::GlacierShareOfCell(int row, int col) const { return glaciers.Share(row, col); }

bool schneemodellklasse::CellOnFirn(int row, int col) const {
  if (!DynamicGlaciers()) return glaciers.OnFirn(row, col);
  return grid[kFirnTotal] && grid[kFirnTotal][row][col] > 0.0;
}

glacier::CellParameters schneemodellklasse::GlacierCellParameters(int k) const {
  const glacier::SubbasinParameters& gp = glacierParams[static_cast<size_t>(k)];
  glacier::CellParameters p;
  p.method = glacierMethod;
  p.T0 = T0;
  p.T0R = T0R;
  p.transzone = transzone;
  p.CWH = CWH;
  p.stepsPerDay = params.stepsPerDay;
  p.DDFice = gp.DDFice;
  p.DDFfirn = gp.DDFfirn;
  p.DDFsnow = gp.DDFsnow;
  p.MF = gp.MF;
  p.Aice = aIceDay[static_cast<size_t>(k)];
  p.Asnow = aSnowDay[static_cast<size_t>(k)];
  return p;
}

double schneemodellklasse::GlacierDebris(int r, int c) const {
  double debris = 1.0;
  if (glacierDebris && glacierDebris[r][c] != geometry.nodata_value) debris = glacierDebris[r][c];
  return debris * debrisScaling;
}

// A cell of a static glacier, whole glacier: it stands under no canopy (open air).
void schneemodellklasse::GlacierCell(int r, int c) {
  const glacier::CellParameters p = GlacierCellParameters(SubbasinIndex(r, c));
  const double R = glacierRadiation ? glacierRadiation[r][c] : 0.0;
  const double T = openTemperature[r][c];
  double solid = grid[kSolid][r][c], liquid = grid[kLiquid][r][c];
  glacier::CellResult out;
  glacier::CellStep(p, T, precipitation[r][c], R, GlacierDebris(r, c), CellOnFirn(r, c), solid, liquid, out);

  grid[kSolid][r][c] = solid;
  grid[kLiquid][r][c] = liquid;
  const double swe = solid + liquid;
  grid[kTotal][r][c] = swe;
  grid[kSnowfall][r][c] = out.snowfall;
  grid[kRainfall][r][c] = out.rainfall;
  // The glacier's water leaves through the glacier storages, not the soil.
  grid[kOutflow][r][c] = 0.0;
  grid[kMeltOnly][r][c] = 0.0;
  grid[kSnowMeltOnGlacier][r][c] = out.snowOutflow;
  grid[kMeltIce][r][c] = out.iceMelt;
  grid[kMeltFirn][r][c] = out.firnMelt;
  const double n = params.stepsPerDay;
  grid[kDaysSnow][r][c] = swe > 5.0 ? 1.0 / n : 0.0;
  double& age = grid[kSnowAge][r][c];
  if (T <= T0R + transzone && precipitation[r][c] > 1.0 && swe > 5.0)
    age = 0.0;
  else
    age += 1.0 / n;
}

// A cell of a dynamic glacier: the glacier-free part keeps the ordinary snow storages, the
// glacier part (fraction g) its own; both receive the same snowfall and rainfall. Once the
// glacier part has no solid snow left, firn melts from the cell's firn layers, and ice
// where there is no firn (or the layers ran out). A canopy stands on the free part only:
// the glacier part melts in the open air.
void schneemodellklasse::DynamicGlacierCell(int r, int c, snow::CellNotes& notes) {
  const glacier::CellParameters p = GlacierCellParameters(SubbasinIndex(r, c));
  const double T = temperature[r][c], Tg = openTemperature[r][c];
  const double R = glacierRadiation ? glacierRadiation[r][c] : 0.0;
  grid[kOutflow][r][c] = 0.0;
  grid[kMeltOnly][r][c] = 0.0;

  snow::CellState s, sg;  // glacier-free part, glacier part
  s.solid = grid[kSolid][r][c];
  s.liquid = grid[kLiquid][r][c];
  s.total = s.solid + s.liquid;
  s.snowfall = grid[kSnowfall][r][c];
  s.rainfall = grid[kRainfall][r][c];
  sg.solid = grid[kSolidOnGlacier][r][c];
  sg.liquid = grid[kLiquidOnGlacier][r][c];
  sg.total = sg.solid + sg.liquid;
  SetAlbedoBefore(r, c, s.total);

  // Snow unloaded from the canopy falls on the part without glacier only: the interception
  // module already gave the glacier part its share of the precipitation in "throughfall0".
  // Both parts take the same input, so the cell takes (1 - g) of the unloaded snow.
  const double g = GlacierShareOfCell(r, c);
  const double sAdd = canopyUnload ? (1.0 - g) * canopyUnload[r][c] : 0.0;
  double taken = 0.0, takenG = 0.0, outflow, outflowG;
  if (glacierMethod == 13) {
    // The module's own snow method on both parts; the glacier part takes the snowfall and
    // rainfall of the free part's call.
    const bool energyBalance = snow::IsEnergyBalance(method);
    if (energyBalance) {
      s.snowTemp = grid[kSnowTemp][r][c];
      s.surfTemp = grid[kSurfTemp][r][c];
      sg.snowTemp = grid[kSnowTempOnGlacier][r][c];
      sg.surfTemp = grid[kSurfTempOnGlacier][r][c];
    }
    const double result = SnowCalls(r, c, s, sAdd, false, notes);
    sg.snowfall = s.snowfall;
    sg.rainfall = s.rainfall;
    const double resultG = SnowCallsInOpenAir(r, c, sg, sAdd, true, notes);
    if (energyBalance) {
      grid[kSnowTemp][r][c] = s.snowTemp;
      grid[kSurfTemp][r][c] = s.surfTemp;
      if (snowEvaporation) snowEvaporation[r][c] = s.evaporation;
      grid[kSnowTempOnGlacier][r][c] = sg.snowTemp;
      grid[kSurfTempOnGlacier][r][c] = sg.surfTemp;
      grid[kSnowEvaporationOnGlacier][r][c] = sg.evaporation;
    }
    taken = snow::ApplyMelt(result, s.solid, s.liquid);
    outflow = snow::Retain(CWH, s.solid, s.liquid);
    takenG = snow::ApplyMelt(resultG, sg.solid, sg.liquid);
    outflowG = snow::Retain(CWH, sg.solid, sg.liquid);
  } else {
    const double share = snow::SnowShare(T, T0R, transzone, false);
    s.snowfall = sg.snowfall = share * precipitation[r][c] + sAdd;
    s.rainfall = sg.rainfall = (1.0 - share) * precipitation[r][c];
    outflow = glacier::DegreeDaySnow(p, T, R, s.snowfall, s.rainfall, s.solid, s.liquid, taken);
    outflowG = glacier::DegreeDaySnow(p, Tg, R, sg.snowfall, sg.rainfall, sg.solid, sg.liquid, takenG);
  }
  // The outflow and its melt are the cell's: mm over the whole cell, of which the glacier
  // part gives none (its water goes to the glacier storages). The soil, the interception
  // below the snow cover and the lakes take them as they take a cell's water.
  const double free = 1.0 - g;
  if (outflow > 0.0) {
    grid[kOutflow][r][c] = free * outflow;
    if (taken > 0.0) grid[kMeltOnly][r][c] = free * taken;
  }

  double firnMelt = 0.0, iceMelt = 0.0;
  if (Tg > T0 && !(sg.solid > 0.0)) {
    const bool onFirn = CellOnFirn(r, c) && firnStack && firnLevels > 0;
    const double melt = glacier::BareMelt(p, Tg, R, GlacierDebris(r, c), onFirn) - takenG;
    if (melt > 0.0) {
      if (onFirn) {
        firnMelt = glacier::TakeFromFirnLayers(firnStack[r][c], firnLevels, melt, geometry.nodata_value);
        grid[kFirnTotal][r][c] = firnStack[r][c][0];
      }
      iceMelt = melt - firnMelt;
    }
  }
  grid[kMeltFirn][r][c] = firnMelt;
  grid[kMeltIce][r][c] = iceMelt;
  grid[kSnowMeltOnGlacier][r][c] = outflowG;
  grid[kSolidOnGlacier][r][c] = sg.solid;
  grid[kLiquidOnGlacier][r][c] = sg.liquid;
  grid[kTotalOnGlacier][r][c] = sg.solid + sg.liquid;
  // Mass balance of the glacier part (mm water equivalent), summed up to the evaluation date.
  // Its snow evaporation is the energy balance's, or what evapotranspiration took from the
  // glacier's snow before this step.
  grid[kMassBalance][r][c] +=
      s.snowfall + s.rainfall - outflowG - firnMelt - iceMelt - grid[kSnowEvaporationOnGlacier][r][c];
  FinishSnowCell(r, c, s);
}

// The interception's stores hold (1 - g0)·S of the cell's water; spread over the new part
// without glacier they hold (1 - g0)/(1 - g)·S. A cell that is all glacier has no canopy:
// the water its canopy held joins the glacier part's snow (liquid water, or solid where the
// canopy held snow), which gives it on as its own. A cell that was all glacier held none.
void schneemodellklasse::KeepCanopyWaterOfChangedGlacierPart(int r, int c, double g0, double g) {
  if (interceptionStores.empty() && !canopySnowLoad) return;
  const double nodata = geometry.nodata_value;
  const auto held = [nodata](double v) { return v != nodata ? v : 0.0; };
  // Layer 0 holds the cell's water of all layers.
  const double free = g0 < kWholeGlacierShare ? 1.0 - g0 : 0.0;
  const double water = interceptionStores.empty() ? 0.0 : free * held(interceptionStores[0][r][c]);
  const double snow = canopySnowLoad ? free * held(canopySnowLoad[r][c]) : 0.0;
  const bool whole = g >= kWholeGlacierShare;
  const double f = whole ? 0.0 : free / (1.0 - g);
  for (double** store : interceptionStores)
    if (store[r][c] != nodata) store[r][c] *= f;
  if (canopySnowLoad && canopySnowLoad[r][c] != nodata) canopySnowLoad[r][c] *= f;
  if (!whole) return;
  double& liquid = grid[kLiquidOnGlacier][r][c];
  double& solid = grid[kSolidOnGlacier][r][c];
  liquid = held(liquid) + water / g;
  solid = held(solid) + snow / g;
}

// When the annual update moves a cell's glacier fraction from g0 to g, the area that changes
// side takes its snow along: the snow of the cell, (1 - g)·free + g·glacier, stays the same.
// The canopy's stores on the free part keep their water too.
void schneemodellklasse::KeepSnowOfChangedGlacierParts() {
  if (!DynamicGlaciers() || !grid[kFractionOld]) return;
  const double nodata = geometry.nodata_value;
  auto share = [nodata](double v) { return GlacierCells::ShareOfFraction(v, nodata); };
  const std::pair<Grid, Grid> parts[2] = {{kSolid, kSolidOnGlacier}, {kLiquid, kLiquidOnGlacier}};
#pragma omp parallel for schedule(runtime) if (ForkRows(geometry.nrows, geometry.ncols))
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (zoneGrid[r][c] == nodata) continue;
      const double g0 = share(grid[kFractionOld][r][c]), g = share(glacierFraction[r][c]);
      if (g == g0) continue;
      for (const auto& part : parts) {
        double& free = grid[part.first][r][c];
        double& onGlacier = grid[part.second][r][c];
        if (free == nodata || onGlacier == nodata) continue;
        if (g < g0)
          free = ((1.0 - g0) * free + (g0 - g) * onGlacier) / (1.0 - g);
        else
          onGlacier = (g0 * onGlacier + (g - g0) * free) / g;
        // A part without area holds no snow.
        if (g == 0.0) onGlacier = 0.0;
        if (g == 1.0) free = 0.0;
      }
      KeepCanopyWaterOfChangedGlacierPart(r, c, g0, g);
      grid[kTotal][r][c] = grid[kSolid][r][c] + grid[kLiquid][r][c];
      grid[kTotalOnGlacier][r][c] = grid[kSolidOnGlacier][r][c] + grid[kLiquidOnGlacier][r][c];
      grid[kFractionOld][r][c] = glacierFraction[r][c];
    }
}

// --- statistics -----------------------------------------------------------------------------

ZoneCells schneemodellklasse::SubbasinCells() const {
  ZoneCells cells = ModuleZoneCells();
  cells.zone = subbasinGrid;
  cells.codeMap = subbasinCodeMap.data();
  cells.maxCode = largestSubbasinCode;
  return cells;
}

void schneemodellklasse::AddGlacierStatistics() {
  auto active = [this](int k) { return glacierStatistics[k] && glacierStatistics[k]->Active(); };
  // Glacier values count with the glacier share g of their cell, and 0 with 1 - g.
  const ZoneCells sub = SubbasinCells();
  if (active(gFirn))
    glacierStatistics[gFirn]->AddCells(sub, [this](int r, int c) {
      const double snowMelt = CellOnFirn(r, c) ? grid[kSnowMeltOnGlacier][r][c] : 0.0;
      return GlacierShareOfCell(r, c) * (grid[kMeltFirn][r][c] + snowMelt);
    });
  if (active(gIce))
    glacierStatistics[gIce]->AddCells(
        sub, [this](int r, int c) { return GlacierShareOfCell(r, c) * grid[kMeltIce][r][c]; });
  if (active(gSnowOnIce))
    glacierStatistics[gSnowOnIce]->AddCells(sub, [this](int r, int c) {
      return CellOnFirn(r, c) ? 0.0 : GlacierShareOfCell(r, c) * grid[kSnowMeltOnGlacier][r][c];
    });
  if (active(gSnowOnGlacier))
    glacierStatistics[gSnowOnGlacier]->AddCells(ModuleZoneCells(), [this](int r, int c) {
      return (1.0 - GlacierShareOfCell(r, c)) * (grid[kSolid][r][c] + grid[kLiquid][r][c]);
    });
  if (!DynamicGlaciers()) return;
  if (active(gFirnWE))
    glacierStatistics[gFirnWE]->AddCells(sub, [this](int r, int c) {
      const double firn = grid[kFirnTotal][r][c];
      return firn > 0.0 ? GlacierShareOfCell(r, c) * firn : 0.0;
    });
  if (active(gBalance1))
    glacierStatistics[gBalance1]->AddCells(
        sub, [this](int r, int c) { return GlacierShareOfCell(r, c) * grid[kMassBalance][r][c]; });
  if (active(gBalance2))
    glacierStatistics[gBalance2]->AddWeightedCells(
        sub, [this](int r, int c) { return grid[kMassBalance][r][c]; },
        [this](int r, int c) { return GlacierShareOfCell(r, c); });
}

// --- glacier outflow storages -----------------------------------------------------------------

void schneemodellklasse::RouteGlacierMelt(ModelDate date) {
  const size_t n1 = static_cast<size_t>(subbasinCount) + 1;
  const double nodata = geometry.nodata_value;
  // Melt of the glacier parts per sub-basin (ice, firn, snow on ice), summed per fixed block
  // of rows in parallel and the blocks added in order: the same sums for every thread count.
  const int rows = geometry.nrows;
  const int blocks = std::max(1, std::min(rows, 64));
  const int rowsPerBlock = (rows + blocks - 1) / blocks;
  const size_t width = 3 * n1;
  glacierBlockSums.assign(static_cast<size_t>(blocks) * width, 0.0);
#pragma omp parallel for schedule(runtime) if (ForkRows(rows, geometry.ncols))
  for (int b = 0; b < blocks; ++b) {
    double* sums = &glacierBlockSums[static_cast<size_t>(b) * width];
    const int r1 = std::min(rows, (b + 1) * rowsPerBlock);
    for (int r = b * rowsPerBlock + 1; r <= r1; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) {
        if (zoneGrid[r][c] == nodata) continue;
        const int k = SubbasinIndex(r, c);
        if (k <= 0) continue;
        const double g = GlacierShareOfCell(r, c);
        if (!(g > 0.0)) continue;
        const double snowMelt = grid[kSnowMeltOnGlacier][r][c];
        const bool hasFirn = CellOnFirn(r, c);
        double* s = sums + 3 * static_cast<size_t>(k);
        s[0] += g * grid[kMeltIce][r][c];
        s[1] += g * (grid[kMeltFirn][r][c] + (hasFirn ? snowMelt : 0.0));
        s[2] += g * (hasFirn ? 0.0 : snowMelt);
      }
  }
  std::vector<double> ice(n1, 0.0), firn(n1, 0.0), snowOnIce(n1, 0.0);
  for (int b = 0; b < blocks; ++b)
    for (size_t k = 1; k < n1; ++k) {
      const double* s = &glacierBlockSums[static_cast<size_t>(b) * width + 3 * k];
      ice[k] += s[0];
      firn[k] += s[1];
      snowOnIce[k] += s[2];
    }
  std::vector<double> outflow(n1, 0.0);  // per unit area of the sub-basin
  for (size_t k = 1; k < n1; ++k) {
    if (!glacierStorages[k]) continue;
    // The storages' outflows are per unit of their area: the glacier area of the sub-basin
    // (sum of g; the input per glacier area is the sum over it), or the whole sub-basin once
    // it has no glacier left, where they drain what they hold.
    const double share = GlacierStorageArea(k);
    const glacier::SubbasinParameters& p = glacierParams[k];
    Qice[k] = glacier::StorageStep(Qice[k], ice[k] / share, glacier::Recession(p.kice_els, timeInterval));
    Qfirn[k] = glacier::StorageStep(Qfirn[k], firn[k] / share, glacier::Recession(p.kfirn_els, timeInterval));
    Qsnow[k] = glacier::StorageStep(Qsnow[k], snowOnIce[k] / share, glacier::Recession(p.ksnow_els, timeInterval));
    const double r = glacierCellCount[k] > 0.0 ? share / glacierCellCount[k] : 0.0;
    outflow[k] = (Qice[k] + Qfirn[k] + Qsnow[k]) * r;
    if (linked && subbasinRunoff && subbasinRunoff->table && static_cast<int>(k) <= subbasinRunoff->subbasinCount)
      subbasinRunoff->Water(static_cast<int>(k)) = outflow[k];
  }
  zonalstatistic* total = glacierStatistics[gTotal].get();
  if (!total) return;
  if (total->Active())
    total->AddCells(SubbasinCells(), [this, &outflow](int r, int c) {
      const int k = SubbasinIndex(r, c);
      return k > 0 ? outflow[static_cast<size_t>(k)] : 0.0;
    });
  total->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
}
