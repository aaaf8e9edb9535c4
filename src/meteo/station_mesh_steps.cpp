// The interpolator's station meshes: the mesh orientation and the corner stations of every
// cell (bilinear methods 5 and 6), and the check that the two station files of methods 6
// and 8 describe the same stations.
#include <cmath>

#include "framework/logstream.h"
#include "meteo/meteoint.h"
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
