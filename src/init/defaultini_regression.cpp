// Regression regions of the meteorological interpolation and the weights with which a
// cell near a region border blends up to three regions.
#include <algorithm>
#include <cmath>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "init/region_weights.h"

void defaultini::MakeRegionWeightGrids() {
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  const double nodata = geometry.nodata_value;
  run.regionCount = 0;
  run.regionTable.clear();
  run.regionCodeMap.clear();
  for (int k = 0; k < 4; ++k) {
    regionGridPositions[k] = weightGridPositions[k] = 0;
    regionGrids[k] = weightGrids[k] = nullptr;
  }

  auto freePosition = [this]() {
    const int p = FirstPositionWithoutFileName();
    if (p >= 1000) {
      if (log) *log << "FATAL: no free grid found in memory (at position " << p << ")\n" << "[end-entry]";
      throw 12;
    }
    return p;
  };

  regionGridPositions[1] = FindGrid("regression_regions");
  if (regionGridPositions[1] > 0) {
    regionGrids[1] = GridData(regionGridPositions[1]);
  } else {
    regionGridPositions[1] = freePosition();
    regionGrids[1] = NewOwnedGrid(1, nrows);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) regionGrids[1][r][c] = IsBasinCell(r, c) ? 1.0 : nodata;
    Register(regionGridPositions[1], DerivedGridName(GridFileName(1), "r1"), regionGrids[1], "regression_regions", 0);
    KeepForReaders(regionGridPositions[1]);
  }

  {
    modelobject reader(log, controlFileName);
    reader.name = name;
    if (!reader.OpenControlFile()) {
      if (log) *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
      throw 28;
    }
    reader.SeekControlKey("[region_transition_distance]", true);
    reader.ReadControlValue(transitionDistance, "transition distance (if or if not using a region grid) ");
    reader.CloseControlFile();
    if (transitionDistance <= 0) transitionDistance = 0.01;
  }

  RankRegions(regionGridPositions[1]);
  const int R = run.regionCount;
  const std::string& regionFile = GridFileName(regionGridPositions[1]);
  auto make = [&](double**& grid, int& position, const char* internalName, const char* tag) {
    position = freePosition();
    grid = NewOwnedGrid(1, nrows);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) grid[r][c] = nodata;
    Register(position, DerivedGridName(regionFile, tag), grid, internalName, 0);
    KeepForReaders(position);
  };
  make(weightGrids[1], weightGridPositions[1], "regression_weights1", "w1");
  if (R > 1) {
    make(regionGrids[2], regionGridPositions[2], "regression_regions2", "r2");
    make(weightGrids[2], weightGridPositions[2], "regression_weights2", "w2");
  }
  if (R > 2) {
    make(regionGrids[3], regionGridPositions[3], "regression_regions3", "r3");
    make(weightGrids[3], weightGridPositions[3], "regression_weights3", "w3");
  }

  GenerateRegionWeightGrids();

  WriteGridOnce(weightGridPositions[1]);
  for (int k = 2; k <= std::min(R, 3); ++k) {
    WriteGridOnce(regionGridPositions[k]);
    WriteGridOnce(weightGridPositions[k]);
  }
}

void defaultini::GenerateRegionWeightGrids() {
  if (instanceNumber != 0) return;
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  const double nodata = geometry.nodata_value;
  const int R = run.regionCount;
  if (log) *log << "generating region weight grids";
  if (transitionDistance <= 0) transitionDistance = 0.01;
  const double d = transitionDistance / geometry.cellsize;
  const int reach = static_cast<int>(std::floor(d));
  double** regions = regionGrids[1];

  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (!IsBasinCell(r, c)) regions[r][c] = nodata;

  auto setAll = [&](int r, int c, double v) {
    for (int k = 1; k <= 3; ++k) {
      if (regionGrids[k]) regionGrids[k][r][c] = v;
      if (weightGrids[k]) weightGrids[k][r][c] = v;
    }
  };

  for (int r = 1; r <= nrows; ++r) {
    const int first = static_cast<int>(rowBounds.size()) > r ? std::max(1, rowBounds[r].first) : 1;
    const int last = static_cast<int>(rowBounds.size()) > r ? std::min(ncols, rowBounds[r].last) : ncols;
    for (int c = first; c <= last; ++c) {
      if (!IsBasinCell(r, c)) {
        setAll(r, c, nodata);
        continue;
      }
      if (R <= 1) {
        weightGrids[1][r][c] = 1.0;
        continue;
      }
      const double own = regions[r][c];
      double w1 = d, w2 = d, w3 = d;
      double r2 = 0, r3 = 0;
      int n2r = r, n2c = c, n3r = r, n3c = c;
      for (int i = std::max(1, r - reach); i <= std::min(nrows, r + reach); ++i) {
        const double dr = r - i;
        const int h = static_cast<int>(std::floor(std::sqrt(std::max(0.0, d * d - dr * dr))));
        for (int j = std::max(1, c - h); j <= std::min(ncols, c + h); ++j) {
          const double v = regions[i][j];
          if (v == own || !(v > nodata)) continue;
          const double dc = c - j;
          const double s = std::floor(std::sqrt(dr * dr + dc * dc));
          if (r2 == 0) r2 = v;
          if (v == r2) {
            if (s <= w1) {
              w1 = w2 = s;
              n2r = i;
              n2c = j;
            }
          } else if (R >= 3) {
            if (r3 == 0) r3 = v;
            if (v == r3) {
              if (s <= w3) {
                w3 = s;
                n3r = i;
                n3c = j;
              }
            } else if (w3 > w2 && s < w3) {
              r3 = v;
              w3 = s;
              n3r = i;
              n3c = j;
            } else if (w3 <= w2 && s < w2) {
              r2 = v;
              w2 = s;
              n2r = i;
              n2c = j;
            }
          }
        }
      }
      w1 = OwnRegionWeight(w1, d);
      if (R == 2) {
        w2 = 1.0 - w1;
      } else if (r3 == 0) {
        w3 = 0.0;
        w2 = r2 > 0 ? 1.0 - w1 : 0.0;
      } else {
        const double a = std::hypot(static_cast<double>(r - n2r), static_cast<double>(c - n2c));
        const double b = std::hypot(static_cast<double>(r - n3r), static_cast<double>(c - n3c));
        const ThreeRegionWeights w = ThreeRegionBlend(a, b, d);
        w1 = w.w1;
        w2 = w.w2;
        w3 = w.w3;
      }
      weightGrids[1][r][c] = w1;
      regionGrids[2][r][c] = r2;
      weightGrids[2][r][c] = w2;
      if (R > 2) {
        regionGrids[3][r][c] = r3;
        weightGrids[3][r][c] = w3;
      }
    }
    if (log) *log << ".";
  }
  if (log) *log << "[end-entry]";
}
