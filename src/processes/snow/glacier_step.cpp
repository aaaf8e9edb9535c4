// Glaciers in the snow step: the glacier cells of the parallel loop (snow on the glacier,
// then firn or ice melt once the snow is gone) and, after the loop, the three linear
// storages of every glacier sub-basin that carry the melt into the soil model's runoff.
#include <algorithm>
#include <cmath>

#include "processes/snow/snowmod.h"
#include "processes/subbasin_runoff.h"

int schneemodellklasse::SubbasinIndex(int row, int col) const {
  if (!subbasinGrid) return 0;
  const double code = subbasinGrid[row][col];
  if (!(code >= 1.0) || code > static_cast<double>(largestSubbasinCode)) return 0;
  return subbasinCodeMap[static_cast<size_t>(std::floor(code + 0.5))];
}

double schneemodellklasse::GlacierShareOfCell(int row, int col) const {
  const double v = glacierFraction[row][col];
  if (v == geometry.nodata_value || !std::isfinite(v)) return 0.0;
  return std::min(1.0, std::max(0.0, v));
}

void schneemodellklasse::GlacierCell(int r, int c) {
  const int k = SubbasinIndex(r, c);
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
  const double R = glacierRadiation ? glacierRadiation[r][c] : 0.0;
  double debris = 1.0;
  if (glacierDebris && glacierDebris[r][c] != geometry.nodata_value) debris = glacierDebris[r][c];
  debris *= debrisScaling;
  const bool firn = glacierFraction[r][c] > 1.5;  // "ice_firn": 1 ice, 2 firn

  double solid = grid[kSolid][r][c], liquid = grid[kLiquid][r][c];
  glacier::CellResult out;
  glacier::CellStep(p, temperature[r][c], precipitation[r][c], R, debris, firn, solid, liquid, out);

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
  if (temperature[r][c] <= T0R + transzone && precipitation[r][c] > 1.0 && swe > 5.0)
    age = 0.0;
  else
    age += 1.0 / n;
}

void schneemodellklasse::RouteGlacierMelt() {
  const size_t n1 = static_cast<size_t>(subbasinCount) + 1;
  std::vector<double> ice(n1, 0.0), firn(n1, 0.0), snowOnIce(n1, 0.0);
  const double nodata = geometry.nodata_value;
  // Sequential in row order: the sums are the same for every thread count.
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (zoneGrid[r][c] == nodata) continue;
      const int k = SubbasinIndex(r, c);
      if (k <= 0) continue;
      const double g = GlacierShareOfCell(r, c);
      if (!(g > 0.0)) continue;
      const double snowMelt = grid[kSnowMeltOnGlacier][r][c];
      const bool hasFirn = glacierFraction[r][c] > 1.5;
      ice[static_cast<size_t>(k)] += g * grid[kMeltIce][r][c];
      firn[static_cast<size_t>(k)] += g * (grid[kMeltFirn][r][c] + (hasFirn ? snowMelt : 0.0));
      snowOnIce[static_cast<size_t>(k)] += g * (hasFirn ? 0.0 : snowMelt);
    }
  for (size_t k = 1; k < n1; ++k) {
    if (!hasGlacier[k]) continue;
    const double share = glacierSum[k];  // sum of g; the input per glacier area is sum / share
    if (!(share > 0.0)) {
      Qice[k] = Qfirn[k] = Qsnow[k] = 0.0;
    } else {
      const glacier::SubbasinParameters& p = glacierParams[k];
      Qice[k] = glacier::StorageStep(Qice[k], ice[k] / share, glacier::Recession(p.kice_els, timeInterval));
      Qfirn[k] = glacier::StorageStep(Qfirn[k], firn[k] / share, glacier::Recession(p.kfirn_els, timeInterval));
      Qsnow[k] = glacier::StorageStep(Qsnow[k], snowOnIce[k] / share, glacier::Recession(p.ksnow_els, timeInterval));
    }
    if (linked && subbasinRunoff && subbasinRunoff->table && static_cast<int>(k) <= subbasinRunoff->subbasinCount) {
      const double r = glacierCellCount[k] > 0.0 ? share / glacierCellCount[k] : 0.0;
      subbasinRunoff->Water(static_cast<int>(k)) = (Qice[k] + Qfirn[k] + Qsnow[k]) * r;
    }
  }
}
