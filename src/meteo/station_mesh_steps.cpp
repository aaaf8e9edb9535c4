// The interpolator's station meshes: the mesh orientation, the corner stations of every
// cell (bilinear methods 5 and 6), the mesh rows and columns with their splines (methods 7
// and 8), and the check that the two station files of methods 6 and 8 describe the same
// stations.
#include <cmath>

#include "framework/logstream.h"
#include "meteo/meteoint.h"
#include "meteo/splines.h"
#include "meteo/station_mesh.h"

void meteointerpol::CheckSecondStationFile() {
  const StationFile& a = stationFiles[0];
  const StationFile& b = stationFiles[1];
  const char* head = "\n------- Error 73 in Interpolation input data ---------\n";
  const char* tail = "------- Program terminated due to input data error ---------\n\n";
  if (a.count != b.count) {
    *log << "FATAL: " << head << "meteorological station files " << b.fileName << " \nand " << a.fileName
         << " contain a different number of stations \n(" << b.count << " and " << a.count << ", resp.)\n"
         << "these data has to be identical in both files for interpolation method 6\n" << tail << "[end-entry]";
    throw 73;
  }
  for (int k = 1; k <= a.count; ++k) {
    if (a.altitude[k] == b.altitude[k] && a.x[k] == b.x[k] && a.y[k] == b.y[k]) continue;
    *log << "FATAL: " << head << "Altitude and/or coordinates of station " << k
         << " are different in\nmeteorological station files " << b.fileName << "\nH: " << b.altitude[k]
         << ",\tX: " << b.x[k] << "\tY: " << b.y[k] << "\nand\n" << a.fileName << "\nH: " << a.altitude[k]
         << ",\tX: " << a.x[k] << "\tY: " << a.y[k] << "\n"
         << "These data has to be identical in both files for interpolation method 6\n" << tail << "[end-entry]";
    throw 73;
  }
}

void meteointerpol::DetectStationGridOrientation() {
  if (interpolationMethod < 5 || interpolationMethod > 8) return;
  const StationFile& f = stationFiles[0];
  const MeshOrientation o = DetectMeshOrientation(f.count, f.x.data(), f.y.data());
  anisotropySlope = o.alphaDegrees;
  anisotropyRatio = o.ratio;
}

void meteointerpol::ChooseLookupStations(int files) {
  (void)files;  // both files hold the same stations, so their corners are the same
  *log << "choosing look-up-stations..." << "[end-entry]";
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  meshCorners.assign(4 * stride * (static_cast<size_t>(geometry.nrows) + 1), 0);
  const int n = stationFiles[0].count;
  const bool rotated = anisotropyRatio < 1.0 && rotatedX && rotatedY;
  double** dx = rotated ? rotatedX : coordX;
  double** dy = rotated ? rotatedY : coordY;
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (zoneGrid[r][c] == geometry.nodata_value) continue;
      if (mpiRegions && mpiRegions[r][c] != instanceNumber) continue;
      const MeshCorners k = FindMeshCorners(n, stationXRot.data(), stationYRot.data(), dx[r][c], dy[r][c],
                                            avgHorizontal, avgVertical, meshCoefficient);
      int* out = &meshCorners[4 * (stride * static_cast<size_t>(r) + static_cast<size_t>(c))];
      for (int i = 0; i < 4; ++i) out[i] = k.p[i];
    }
}

void meteointerpol::StationsToGrid(int file) {
  const StationFile& f = stationFiles[static_cast<size_t>(file)];
  if (!OrderStationsIntoMesh(f.count, stationXRot.data(), stationYRot.data(), avgHorizontal, avgVertical,
                             meshCoefficient, stationMesh))
    Fatal("Error converting the station coordinates into a grid:\nThe actual version of Orvel-KTA accepts only "
          "station meshs\nwith an equal number of more or less equally spaced stations\nin each column, whereas the "
          "total number of both, rows \nand columns, are each virtually unlimited\n",
          70);
  const size_t nodes = stationMesh.station.size();
  std::vector<double> mx(nodes), my(nodes);
  for (size_t i = 0; i < nodes; ++i) {
    mx[i] = stationXRot[static_cast<size_t>(stationMesh.station[i])];
    my[i] = stationYRot[static_cast<size_t>(stationMesh.station[i])];
  }
  nodeValues.assign(nodes, -9999.0);
  if (interpolationMethod == 8) {
    splineGradient = matrix(1, geometry.nrows, 1, geometry.ncols);
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) splineGradient[r][c] = geometry.nodata_value;
  }
  const bool rotated = anisotropyRatio < 1.0 && rotatedX && rotatedY;
  const size_t first = static_cast<size_t>((stationMesh.rows - 1) * stationMesh.columns);
  splines = std::make_unique<TSplines>(mx, my, rotated ? rotatedX : coordX, rotated ? rotatedY : coordY,
                                       stationMesh.rows, stationMesh.columns, geometry.nrows, geometry.ncols, mx[first],
                                       my[first], avgHorizontal, avgVertical, -9999.0, geometry.xllcorner,
                                       geometry.yllcorner, geometry.cellsize, geometry.nodata_value, anisotropySlope,
                                       1.0, zoneGrid);
}

void meteointerpol::RunSplinePass() {
  for (int file = 0; file < (interpolationMethod == 8 ? 2 : 1); ++file) {
    const StationFile& f = stationFiles[static_cast<size_t>(file)];
    for (size_t i = 0; i < nodeValues.size(); ++i) {
      const double v = f.values[static_cast<size_t>(stationMesh.station[i])];
      nodeValues[i] = IsValidStationValue(v, nodataN) ? v : -9999.0;  // the splines' own missing mark
    }
    splines->SecondDerivatives2D(nodeValues, nodeSecondDerivatives);
    splines->Evaluate2D(nodeValues, nodeSecondDerivatives, file == 0 ? result : splineGradient);
  }
}

int meteointerpol::FindStationInWindow(double x, double y, double xFrom, double xTo, double yFrom, double yTo) const {
  return ::FindStationInWindow(stationFiles[0].count, stationXRot.data(), stationYRot.data(), x, y, xFrom, xTo, yFrom,
                               yTo);
}

int meteointerpol::AnyFlagSet(const int* flags, int n) const {
  for (int i = 1; i <= n; ++i)
    if (flags[i]) return 1;
  return 0;
}

double meteointerpol::BilinearCellValue(double x, double y, int file, int row, int column, double*) const {
  const StationFile& f = stationFiles[static_cast<size_t>(file)];
  const StationPoints s{f.count, stationXRot.data(), stationYRot.data(), f.values.data()};
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  const size_t at = 4 * (stride * static_cast<size_t>(row) + static_cast<size_t>(column));
  double v;
  if (at + 3 < meshCorners.size()) {
    const MeshCorners k{{meshCorners[at], meshCorners[at + 1], meshCorners[at + 2], meshCorners[at + 3]}};
    if (BilinearValue(k, s.x, s.y, s.v, nodataN, x, y, v)) return v;
  }
  return IdwValue(s, idw, nodataN, x, y, anisotropyRatio < 1.0 ? anisotropyRatio : 1.0);
}
