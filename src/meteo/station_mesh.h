// Stations that stand on a regular mesh, possibly turned against the model grid: the
// mesh's orientation, the four stations around a cell (bilinear interpolation) and the
// ordering of all stations into mesh rows and columns (spline interpolation).
//
// Free of I/O and of the interpolator object; station arrays are indexed 1..n.
#pragma once

#include <cstddef>
#include <vector>

// The mesh angle from each station's direction to its nearest neighbour.
struct MeshOrientation {
  double alphaDegrees = 0.0;  // 0 when the mesh runs along the grid axes
  double ratio = 1.0;         // b/a: 0.995 for a turned mesh (so that rotated coordinates exist)
};
MeshOrientation DetectMeshOrientation(int n, const double* x, const double* y);

// The first station (1..n) whose coordinates lie strictly inside
// (x + xFrom, x + xTo) x (y + yFrom, y + yTo); 0 when there is none.
int FindStationInWindow(int n, const double* sx, const double* sy, double x, double y, double xFrom, double xTo,
                        double yFrom, double yTo);

// The stations at the corners of the mesh rectangle around (x, y): [0] north-west,
// [1] north-east, [2] south-west, [3] south-east; 0 where none was found. dx, dy: the
// average station spacings along x and y; t: the mesh tolerance (a share of a spacing).
struct MeshCorners {
  int p[4] = {0, 0, 0, 0};
};
MeshCorners FindMeshCorners(int n, const double* sx, const double* sy, double x, double y, double dx, double dy,
                            double t);

// Bilinear value at (x, y) from the corner stations' values; false when the corners do not
// span a rectangle with valid values (a corner missing or invalid, or two corners on one
// line), in which case the caller falls back to inverse distance.
bool BilinearValue(const MeshCorners& k, const double* sx, const double* sy, const double* sv, double nodata,
                   double x, double y, double& value);

// Stations ordered into a mesh: node (r, k), r = 1..rows from the highest y down,
// k = 1..columns from the lowest x, holds station station[(r - 1) * columns + (k - 1)].
struct StationMesh {
  int rows = 0, columns = 0;
  std::vector<int> station;
  int At(int r, int k) const { return station[static_cast<size_t>((r - 1) * columns + (k - 1))]; }
};
// False when the columns found hold different numbers of stations.
bool OrderStationsIntoMesh(int n, const double* sx, const double* sy, double dx, double dy, double t,
                           StationMesh& mesh);
