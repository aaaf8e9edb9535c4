// Snow slides: cells on steep slopes give a share of their snow to their neighbours of
// the same zone, visited from the lowest to the highest cell; a cell takes up snow only to
// its deposition limit and passes the rest on when its own turn comes.
#include <algorithm>
#include <utility>
#include <vector>

#include "processes/snow/snowmod.h"
#include "framework/thread_policy.h"
#include "processes/glacier_share.h"

void SnowElevationOrder(double** reference, double** elevation, const GridGeometry& g, double** orderRow,
                        double** orderCol) {
  const double nodata = g.nodata_value;
  struct Cell {
    double z;
    int row, col;
  };
  std::vector<Cell> cells;
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c)
      if (reference[r][c] != nodata) cells.push_back({elevation ? elevation[r][c] : 0.0, r, c});
  std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.z < b.z; });
  size_t k = 0;
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      if (reference[r][c] == nodata) {
        orderRow[r][c] = orderCol[r][c] = nodata;
        continue;
      }
      orderRow[r][c] = cells[k].row;
      orderCol[r][c] = cells[k].col;
      ++k;
    }
}

double SnowDepositionLimit(double slope, double maxDepositionSlope, double maxDepositionFactor) {
  if (slope < maxDepositionSlope) return std::max(0.0, maxDepositionFactor * (1.0 - slope / maxDepositionSlope));
  return 0.0;
}

namespace {

// Adds snow to a cell; the liquid water keeps its share of the total (all of it solid
// when the cell had no snow).
void AddSnow(double& solid, double& liquid, double amount) {
  const double total = solid + liquid;
  const double liquidShare = total > 0.0 ? liquid / total : 0.0;
  const double newTotal = total + amount;
  liquid = liquidShare * newTotal;
  solid = newTotal - liquid;
}

// The glacier part of a cell, 0..1 (0 without glacier grids).
double GlacierShare(const SlideGrids& s, int r, int c, double nodata) {
  if (!s.glacierFraction || !s.solidOnGlacier) return 0.0;
  return GlacierCells::ShareOfFraction(s.glacierFraction[r][c], nodata);
}

// Gives up the share frac of a part's snow; the liquid water keeps its share. Returns the
// snow given (per unit area of the part).
double GiveUp(double& solid, double& liquid, double frac) {
  const double total = solid + liquid;
  const double given = total * frac;
  const double kept = total - given;
  liquid = liquid * (kept / total);
  solid = kept - liquid;
  return given;
}

}  // namespace

void SnowSlides(const SlideGrids& s, const GridGeometry& g, double minSlideSlope, double slideMassFrac) {
  const double nodata = g.nodata_value;
  // Clearing the slide grids and adding the moved snow back touch every cell on its own;
  // only the visit of the cells in elevation order is sequential.
#pragma omp parallel for schedule(runtime) if (ForkRows(g.nrows, g.ncols))
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      const double v = s.reference[r][c] != nodata ? 0.0 : nodata;
      s.inputMass[r][c] = s.mobileMass[r][c] = s.deposition[r][c] = v;
    }

  static const int kDr[5] = {0, -1, 0, 0, 1};
  static const int kDc[5] = {0, 0, -1, 1, 0};
  for (int pr = 1; pr <= g.nrows; ++pr)
    for (int pc = 1; pc <= g.ncols; ++pc) {
      if (s.reference[pr][pc] == nodata) continue;
      const int r = static_cast<int>(s.orderRow[pr][pc]);
      const int c = static_cast<int>(s.orderCol[pr][pc]);
      if (r < 1 || r > g.nrows || c < 1 || c > g.ncols || s.reference[r][c] == nodata) continue;

      const double share = GlacierShare(s, r, c, nodata);
      const double totalOnGlacier = share > 0.0 ? s.solidOnGlacier[r][c] + s.liquidOnGlacier[r][c] : 0.0;
      // Nothing to give and nothing passed on: the visit would change nothing.
      if (!(s.solid[r][c] + s.liquid[r][c] > 0.0) && !(totalOnGlacier > 0.0) && !(s.mobileMass[r][c] > 0.0))
        continue;
      double weight[5] = {0, 0, 0, 0, 0};
      double W = 0.0;
      for (int k = 1; k <= 4; ++k) {
        const int nr = r + kDr[k], nc = c + kDc[k];
        if (nr < 1 || nr > g.nrows || nc < 1 || nc > g.ncols) continue;
        if (s.reference[nr][nc] == nodata || s.zone[nr][nc] != s.zone[r][c]) continue;
        const double f = s.fraction[k][r][c];
        if (!(f > 0.0)) continue;
        weight[k] = f;
        W += f;
      }
      if (W > 0.0)
        for (int k = 1; k <= 4; ++k) weight[k] /= W;

      double& solid = s.solid[r][c];
      double& liquid = s.liquid[r][c];
      const double total = solid + liquid;
      double input = 0.0;
      if (!(s.slope[r][c] < minSlideSlope)) {
        if (total > 0.0) {
          // Per unit area of the cell: the glacier-free part covers 1 - g of it.
          input = GiveUp(solid, liquid, slideMassFrac) * (1.0 - share);
          s.total[r][c] = solid + liquid;
        }
        if (totalOnGlacier > 0.0) {
          const double given = GiveUp(s.solidOnGlacier[r][c], s.liquidOnGlacier[r][c], slideMassFrac);
          s.totalOnGlacier[r][c] = s.solidOnGlacier[r][c] + s.liquidOnGlacier[r][c];
          if (s.massBalance) s.massBalance[r][c] -= given;
          input += share * given;
        }
      }
      s.inputMass[r][c] = input;

      const double m = input + s.mobileMass[r][c];
      if (W > 0.0) {
        s.mobileMass[r][c] = 0.0;
        double given = 0.0;
        int lastNeighbour = 0;
        for (int k = 1; k <= 4; ++k)
          if (weight[k] > 0.0) lastNeighbour = k;
        for (int k = 1; k <= 4; ++k) {
          if (!(weight[k] > 0.0)) continue;
          // The last neighbour takes what is left, so the shares add up to m exactly.
          const double share = k == lastNeighbour ? m - given : weight[k] * m;
          given += share;
          const int nr = r + kDr[k], nc = c + kDc[k];
          double& dep = s.deposition[nr][nc];
          dep += share;
          const double limit = std::max(0.0, s.maxDeposition[nr][nc]);
          if (dep > limit) {
            s.mobileMass[nr][nc] += dep - limit;
            dep = limit;
          }
        }
      } else {
        s.mobileMass[r][c] = m;
      }
    }

#pragma omp parallel for schedule(runtime) if (ForkRows(g.nrows, g.ncols))
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      if (s.reference[r][c] == nodata) continue;
      // Snow that came to rest covers both parts of a cell alike.
      const double received = s.deposition[r][c] + s.mobileMass[r][c];
      const double share = GlacierShare(s, r, c, nodata);
      if (share < 1.0) {
        AddSnow(s.solid[r][c], s.liquid[r][c], received);
        s.total[r][c] = s.solid[r][c] + s.liquid[r][c];
      }
      if (share > 0.0) {
        AddSnow(s.solidOnGlacier[r][c], s.liquidOnGlacier[r][c], received);
        s.totalOnGlacier[r][c] = s.solidOnGlacier[r][c] + s.liquidOnGlacier[r][c];
        if (s.massBalance) s.massBalance[r][c] += received;
      }
    }
}
