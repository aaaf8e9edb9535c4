// Geometry grids derived at start-up: cell sizes and relative cell areas, the
// coordinates of the cells, and slope and aspect of the elevation model.
#include <cmath>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "init/terrain.h"

namespace {

constexpr int kReportedShortAreas = 10;

}  // namespace

void defaultini::CheckCellSizes() {
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  const double nodata = geometry.nodata_value, cs = geometry.cellsize;
  const std::string& zoneFile = GridFileName(1);

  auto takeOrCreate = [&](const char* internalName, const char* tag, int& position, bool& given) -> double** {
    position = FindGrid(internalName);
    if (position > 0) {
      given = true;
      return grids[position].data;
    }
    given = false;
    position = FirstPositionWithoutFileName();
    if (position >= 1000) {
      if (log) *log << "FATAL: no free grid found in memory (at position " << 1000 << ")" << "[end-entry]";
      throw 12;
    }
    double** g = NewOwnedGrid(1, nrows);
    Register(position, DerivedGridName(zoneFile, tag), g, internalName, 0);
    return g;
  };
  cellSizeX = takeOrCreate("CellSizeX", "csx", cellSizeXPosition, cellSizeXGiven);
  cellSizeY = takeOrCreate("CellSizeY", "csy", cellSizeYPosition, cellSizeYGiven);
  double** area = takeOrCreate("RelCellArea", "rca", relCellAreaPosition, relCellAreaGiven);
  // The cell sizes serve the coordinates below and their readers; the relative areas weigh
  // every statistic of the run.
  if (!cellSizeXGiven) KeepForReaders(cellSizeXPosition);
  if (!cellSizeYGiven) KeepForReaders(cellSizeYPosition);
  // A relative area made here is 1.0 unless it follows from given cell sizes. With only
  // one cell size given, the other is the regular cell size.
  if (!relCellAreaGiven) {
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) area[r][c] = IsBasinCell(r, c) ? 1.0 : nodata;
  }
  if (log) *log << "Checking cell sizes for variable Cells..." << "[end-entry]";

  const std::string& fileX = GridFileName(cellSizeXPosition);
  const std::string& fileY = GridFileName(cellSizeYPosition);
  const std::string& fileA = GridFileName(relCellAreaPosition);
  // The message for x ends with a line break, the one for y does not.
  auto zeroSize = [&](const char* direction, int r, int c, const std::string& file) {
    if (log)
      *log << "FATAL: cell size in " << direction << " direction is zero at row " << r << ", column " << c
           << ",\nread from file " << file << (direction[0] == 'x' ? "\n" : "") << "[end-entry]";
    throw 66;
  };
  long shortAreas = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      double& X = cellSizeX[r][c];
      double& Y = cellSizeY[r][c];
      double& A = area[r][c];
      if (!IsBasinCell(r, c)) {
        X = Y = A = nodata;
        continue;
      }
      if (!cellSizeXGiven && !cellSizeYGiven) {
        X = Y = std::sqrt(cs * cs * A);
      } else if (cellSizeXGiven && !cellSizeYGiven) {
        if (X == 0) zeroSize("x", r, c, fileX);
        if (relCellAreaGiven) {
          Y = cs * cs * A / X;
        } else {
          Y = cs;
          A = X * Y / (cs * cs);
        }
      } else if (cellSizeYGiven && !cellSizeXGiven) {
        if (Y == 0) zeroSize("y", r, c, fileY);
        if (relCellAreaGiven) {
          X = cs * A * cs / Y;
        } else {
          X = cs;
          A = X * Y / (cs * cs);
        }
      } else if (!relCellAreaGiven) {
        if (X == 0) zeroSize("x", r, c, fileX);
        A = X * Y / (cs * cs);
      } else {
        if (X == 0) zeroSize("x", r, c, fileX);
        const double q = X * Y / (cs * cs);
        if (A - q > 0.00001) {
          if (log)
            *log << "FATAL: Cell size Y (" << Y << ", from " << fileY << ") times\ncell size X (" << X << ", from "
                 << fileX << ") \ndivided by the mean cell area is " << q << " and differs from \nthe relative grid "
                 << "cell size " << A << " (from " << fileA << ") by more than 0.001%\n" << "[end-entry]";
          throw 66;
        }
        if (q - A > 0.00001) {
          if (++shortAreas <= kReportedShortAreas && log)
            *log << "WARNING: the relative cell area " << A << " (from " << fileA << ") at row " << r << ", column "
                 << c << " is smaller than cell size X (" << X << ") times cell size Y (" << Y
                 << ") divided by the mean cell area (" << q << ")" << "[end-entry]";
        }
      }
    }
  }
  if (shortAreas > kReportedShortAreas && log)
    *log << "WARNING: " << shortAreas << " cells in all have a relative cell area (from " << fileA
         << ") smaller than their cell sizes give" << "[end-entry]";

  relCellArea = area;
  if (!relCellAreaGiven) WriteGridOnce(relCellAreaPosition);
  if (!cellSizeXGiven) WriteGridOnce(cellSizeXPosition);
  if (!cellSizeYGiven) WriteGridOnce(cellSizeYPosition);
}

void defaultini::MakeCoordinateGrids() {
  const int ncols = geometry.ncols, nrows = geometry.nrows;
  const double nodata = geometry.nodata_value, cs = geometry.cellsize;
  const int first = run.firstRow < 1 ? 1 : run.firstRow;
  const int last = run.lastRow > nrows || run.lastRow < 1 ? nrows : run.lastRow;
  const std::string& zoneFile = GridFileName(1);

  auto create = [&](const char* internalName, const char* tag, int& position) {
    position = FirstPositionWithoutFileName();
    if (position >= 1000) {
      if (log) *log << "FATAL: no free grid found in memory (at position " << 1000 << ")" << "[end-entry]";
      throw 12;
    }
    double** g = NewOwnedGrid(first, last);
    Register(position, DerivedGridName(zoneFile, tag), g, internalName, 0);
    KeepForReaders(position);
    return g;
  };
  coordX = create("CoordX", "cx", coordXPosition);
  coordY = create("CoordY", "cy", coordYPosition);

  for (int r = last; r >= first; --r) {
    for (int c = 1; c <= ncols; ++c) {
      coordX[r][c] = geometry.xllcorner + (c - 1) * cs;
      coordY[r][c] = geometry.yllcorner + (nrows - r) * cs;
    }
  }

  const int areaPosition = FindGrid("RelCellArea");
  if (areaPosition > 0 && cellSizeX && cellSizeY) {
    auto sizeX = [&](int r, int c) { return cellSizeX[r][c] > nodata ? cellSizeX[r][c] : cs; };
    auto sizeY = [&](int r, int c) { return cellSizeY[r][c] > nodata ? cellSizeY[r][c] : cs; };
    const int c0 = static_cast<int>(rowBounds.size()) > last ? rowBounds[last].first : 1;
    if (c0 >= 1)
      for (int c = c0 + 1; c <= ncols; ++c) coordX[last][c] = coordX[last][c - 1] + sizeX(last, c - 1);
    for (int r = last - 1; r >= first; --r) {
      coordX[r][1] = geometry.xllcorner;
      for (int c = 2; c <= ncols; ++c) {
        coordX[r][c] = coordX[r][c - 1] + sizeX(r, c - 1);
        coordY[r][c] = coordY[r + 1][c] + sizeY(r + 1, c);
      }
    }
  }

  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (!IsBasinCell(r, c)) coordX[r][c] = coordY[r][c] = nodata;

  WriteGridOnce(coordXPosition);
  WriteGridOnce(coordYPosition);
}

void defaultini::MeanOfValidNeighbours(int row, int column, double** grid) {
  static const int kOffsets[8][2] = {{-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}};
  double sum = 0.0;
  int found = 0;
  for (const auto& o : kOffsets) {
    const int r = row + o[0], c = column + o[1];
    if (r < 1 || r > geometry.nrows || c < 1 || c > geometry.ncols || !grid[r]) continue;
    if (grid[r][c] > geometry.nodata_value) {
      sum += grid[r][c];
      ++found;
    }
  }
  if (found > 0) grid[row][column] = sum / found;
}

void defaultini::make_Slope_and_Aspect() {
  const int demPosition = FindGrid("[elevation_model]");
  if (demPosition == 0 || !GridData(demPosition)) return;
  double** E = GridData(demPosition);
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  const double nodata = geometry.nodata_value, cs = geometry.cellsize;
  const int first = 1, last = nrows;

  slopeAnglePosition = FindGrid("slope_angle");
  slopeAspectPosition = FindGrid("slope_aspect");
  if (slopeAnglePosition > 0 && slopeAspectPosition > 0) {
    slopeAngle = GridData(slopeAnglePosition);
    slopeAspect = GridData(slopeAspectPosition);
    return;
  }
  const bool computeSlope = slopeAnglePosition == 0;
  const bool computeAspect = slopeAspectPosition == 0;
  const std::string& demFile = GridFileName(demPosition);
  if (computeSlope) {
    slopeAnglePosition = FirstPositionWithoutFileName();
    if (slopeAnglePosition >= 1000) {
      if (log) *log << "FATAL: no free grid found in memeory (at position " << 1000 << ")" << "[end-entry]";
      throw 12;
    }
    slopeAngle = NewOwnedGrid(first, last);
    Register(slopeAnglePosition, DerivedGridName(demFile, "sl"), slopeAngle, "slope_angle", 0);
    KeepForReaders(slopeAnglePosition);
  } else {
    slopeAngle = GridData(slopeAnglePosition);
  }
  if (computeAspect) {
    slopeAspectPosition = FirstPositionWithoutFileName();
    if (slopeAspectPosition >= 1000) {
      if (log) *log << "FATAL: no free grid left (at position " << 1000 << ")\n" << "[end-entry]";
      throw 12;
    }
    slopeAspect = NewOwnedGrid(first, last);
    Register(slopeAspectPosition, DerivedGridName(demFile, "ex"), slopeAspect, "slope_aspect", 0);
    KeepForReaders(slopeAspectPosition);
  } else {
    slopeAspect = GridData(slopeAspectPosition);
  }
  if (log) *log << "calculating the lokal topography (aspect, slope ...).. " << "[end-entry]";

  auto set = [&](int r, int c, double slope, double aspect) {
    if (computeSlope) slopeAngle[r][c] = slope;
    if (computeAspect) slopeAspect[r][c] = aspect;
  };
  for (int r = first; r <= last; ++r) {
    const bool borderRow = (r == first && first == 1) || (r == last && last == nrows);
    for (int c = 1; c <= ncols; ++c) {
      if (borderRow || c == 1 || c == ncols) {
        set(r, c, nodata, nodata);
        continue;
      }
      const double n = E[r - 1][c], s = E[r + 1][c], w = E[r][c - 1], e = E[r][c + 1];
      if (!(n > nodata && s > nodata && w > nodata && e > nodata)) {
        set(r, c, nodata, nodata);
        continue;
      }
      const SlopeAspect sa = SlopeAndAspect(n, s, w, e, cs);
      set(r, c, sa.slope, sa.aspect);
    }
  }

  // Cells of the elevation model without a computed value take the mean of their
  // neighbours (cells filled before count as valid).
  for (int r = first; r <= last; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!(E[r][c] > nodata)) continue;
      if (computeAspect && !(slopeAspect[r][c] > nodata)) MeanOfValidNeighbours(r, c, slopeAspect);
      if (computeSlope && !(slopeAngle[r][c] > nodata)) MeanOfValidNeighbours(r, c, slopeAngle);
    }
  }

  if (computeAspect) WriteGridOnce(slopeAspectPosition);
  if (computeSlope) WriteGridOnce(slopeAnglePosition);
}
