#include "meteo/station_mesh.h"

#include <cmath>
#include <deque>

namespace {

constexpr double kPi = 3.14159265359;

}  // namespace

MeshOrientation DetectMeshOrientation(int n, const double* x, const double* y) {
  MeshOrientation o;
  if (n < 2) return o;
  std::vector<int> neighbour(static_cast<size_t>(n) + 1, 0);
  std::vector<double> angle(static_cast<size_t>(n) + 1, 0.0);
  std::vector<int> angleClass(static_cast<size_t>(n) + 1, -1);
  int counts[18] = {0};
  for (int i = 1; i <= n; ++i) {
    double best = 1e300;
    int found = 0;
    for (int j = 1; j <= n; ++j) {
      if (j == i) continue;
      const double ddx = x[j] - x[i], ddy = y[j] - y[i];
      const double d2 = ddx * ddx + ddy * ddy;
      // A station that already chose i counts only when clearly nearer than the others.
      const double weighed = neighbour[static_cast<size_t>(j)] == i ? d2 * 1.01 : d2;
      if (weighed < best) {
        best = weighed;
        found = j;
      }
    }
    neighbour[static_cast<size_t>(i)] = found;
    if (!found) continue;
    double a = std::atan2(y[found] - y[i], x[found] - x[i]);
    if (a > kPi / 2) a -= kPi;
    if (a <= -kPi / 2) a += kPi;
    a = a * 180.0 / kPi;
    angle[static_cast<size_t>(i)] = a;
    const int c = static_cast<int>(std::fmod(a + 365.0, 360.0) / 10.0) % 18;
    angleClass[static_cast<size_t>(i)] = c;
    ++counts[c];
  }
  int winner = 0;
  for (int c = 1; c < 18; ++c)
    if (counts[c] > counts[winner]) winner = c;
  double sum = 0.0;
  int used = 0;
  for (int i = 1; i <= n; ++i) {
    if (angleClass[static_cast<size_t>(i)] != winner) continue;
    double a = std::fmod(angle[static_cast<size_t>(i)] + 360.0, 180.0);
    if (winner == 0 && a > 5.0) a -= 180.0;
    if (a >= 10.0 * winner - 5.0 && a <= 10.0 * winner + 5.0) {
      sum += a;
      ++used;
    }
  }
  if (!used) return o;
  double mean = sum / used;
  if (mean > 45.0) mean -= 90.0;
  if (std::fabs(mean) > 0.001) {
    o.alphaDegrees = mean;
    o.ratio = 0.995;
  }
  return o;
}

int FindStationInWindow(int n, const double* sx, const double* sy, double x, double y, double xFrom, double xTo,
                        double yFrom, double yTo) {
  for (int i = 1; i <= n; ++i)
    if (sx[i] > x + xFrom && sx[i] < x + xTo && sy[i] > y + yFrom && sy[i] < y + yTo) return i;
  return 0;
}

MeshCorners FindMeshCorners(int n, const double* sx, const double* sy, double x, double y, double dx, double dy,
                            double t) {
  MeshCorners k;
  double best = 1e30;
  int nearest = 0;
  for (int i = 1; i <= n; ++i) {
    const double ox = sx[i] - x, oy = sy[i] - y;
    const double d2 = ox * ox + oy * oy;
    if (d2 < best) {
      best = d2;
      nearest = i;
    }
  }
  if (!nearest) return k;
  const bool west = sx[nearest] - x <= 0.0, south = sy[nearest] - y <= 0.0;
  // One mesh step from station s towards the cell's other side along x, or along y.
  const double xs = west ? 1.0 : -1.0, ys = south ? 1.0 : -1.0;
  auto stepX = [&](int s) {
    if (!s) return 0;
    const double a = xs * dx * (1 - t), b = xs * dx * (1 + t);
    return FindStationInWindow(n, sx, sy, sx[s], sy[s], std::fmin(a, b), std::fmax(a, b), -dy * t, dy * t);
  };
  auto stepY = [&](int s) {
    if (!s) return 0;
    const double a = ys * dy * (1 - t), b = ys * dy * (1 + t);
    return FindStationInWindow(n, sx, sy, sx[s], sy[s], -dx * t, dx * t, std::fmin(a, b), std::fmax(a, b));
  };
  const int alongX = stepX(nearest), alongY = stepY(nearest), diagonal = stepX(alongY);
  // Corner index: north-west 0, north-east 1, south-west 2, south-east 3.
  auto corner = [](bool w, bool s) { return (s ? 2 : 0) + (w ? 0 : 1); };
  k.p[corner(west, south)] = nearest;
  k.p[corner(!west, south)] = alongX;
  k.p[corner(west, !south)] = alongY;
  k.p[corner(!west, !south)] = diagonal;
  return k;
}

bool BilinearValue(const MeshCorners& k, const double* sx, const double* sy, const double* sv, double nodata,
                   double x, double y, double& value) {
  int p[4];
  for (int i = 0; i < 4; ++i) p[i] = k.p[i] && sv[k.p[i]] >= -nodata ? k.p[i] : 0;
  if (p[0] && p[0] == p[1] && p[0] == p[2] && p[0] == p[3]) {
    value = sv[p[0]];
    return true;
  }
  if (!p[0] || !p[1] || !p[2] || !p[3]) return false;
  const double ex = sx[p[1]] - sx[p[0]], ey = sy[p[2]] - sy[p[0]];
  if (ex == 0.0 || ey == 0.0) return false;
  const double u = (x - sx[p[0]]) / ex, w = (y - sy[p[0]]) / ey;
  value = (1 - u) * (1 - w) * sv[p[0]] + u * (1 - w) * sv[p[1]] + (1 - u) * w * sv[p[2]] + u * w * sv[p[3]];
  return true;
}

bool OrderStationsIntoMesh(int n, const double* sx, const double* sy, double dx, double dy, double t,
                           StationMesh& mesh) {
  mesh = StationMesh();
  std::vector<char> used(static_cast<size_t>(n) + 1, 0);
  std::vector<std::deque<int>> columns;
  for (;;) {
    int first = 0;
    double smallest = 1e40;
    for (int i = 1; i <= n; ++i)
      if (!used[static_cast<size_t>(i)] && sx[i] < smallest) {
        smallest = sx[i];
        first = i;
      }
    if (!first) break;
    used[static_cast<size_t>(first)] = 1;
    std::deque<int> column{first};
    for (int s = first;;) {  // downwards
      const int next = FindStationInWindow(n, sx, sy, sx[s], sy[s], -dx * t, dx * t, -dy * (1 + t), -dy * (1 - t));
      if (!next || used[static_cast<size_t>(next)]) break;
      used[static_cast<size_t>(next)] = 1;
      column.push_back(next);
      s = next;
    }
    for (int s = first;;) {  // upwards
      const int next = FindStationInWindow(n, sx, sy, sx[s], sy[s], -dx * t, dx * t, dy * (1 - t), dy * (1 + t));
      if (!next || used[static_cast<size_t>(next)]) break;
      used[static_cast<size_t>(next)] = 1;
      column.push_front(next);
      s = next;
    }
    columns.push_back(column);
  }
  if (columns.empty()) return false;
  const size_t rows = columns[0].size();
  for (const auto& c : columns)
    if (c.size() != rows) return false;
  mesh.rows = static_cast<int>(rows);
  mesh.columns = static_cast<int>(columns.size());
  mesh.station.resize(rows * columns.size());
  for (size_t k = 0; k < columns.size(); ++k)
    for (size_t r = 0; r < rows; ++r) mesh.station[r * columns.size() + k] = columns[k][r];
  return true;
}
