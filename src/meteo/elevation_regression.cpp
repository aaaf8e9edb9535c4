#include "meteo/elevation_regression.h"

#include <cmath>

namespace {

// Zone of elevation z: 3 above the upper height, 2 between the heights, 1 below the lower.
inline int ZoneOf(const RegressionParameters& p, double z) {
  if (z > p.limit2) return 3;
  if (z >= p.limit1) return 2;
  return 1;
}

// Sums of one altitude group of stations.
struct Group {
  int n = 0;
  double sz = 0, szz = 0, sv = 0, svz = 0;
  double zmin = 1e300, zmax = -1e300;
  void Add(double z, double v) {
    ++n;
    sz += z;
    szz += z * z;
    sv += v;
    svz += v * z;
    if (z < zmin) zmin = z;
    if (z > zmax) zmax = z;
  }
  void Clear() { *this = Group(); }
  // Replaces the group by one point (z, v) counted `count` times.
  void SetPoints(double z, double v, int count) {
    Clear();
    for (int k = 0; k < count; ++k) Add(z, v);
  }
  double MeanZ() const { return sz / n; }
  double MeanV() const { return sv / n; }
};

struct Line {
  double a = 0, b = 0;
  bool valid = false;
  double At(double z) const { return a + b * z; }
};

// Least-squares line of a group of more than one station; invalid when the altitudes
// do not spread.
Line Fit(const Group& g) {
  Line l;
  if (g.n <= 1) return l;
  const double szz = g.szz - g.sz * g.sz / g.n;
  if (szz == 0.0) return l;
  l.b = (g.svz - g.sz * g.sv / g.n) / szz;
  l.a = (g.sv - l.b * g.sz) / g.n;
  l.valid = true;
  return l;
}

// The line through (zp, vp) that meets `other` at elevation zj. A point lying at zj
// itself defines no slope: the line then runs parallel to `other` through the point.
Line Joining(const Line& other, double zj, double zp, double vp) {
  Line l;
  l.valid = true;
  if (zj == zp) {
    l.b = other.b;
    l.a = vp - other.b * zp;
    return l;
  }
  l.b = (other.a + other.b * zj - vp) / (zj - zp);
  l.a = other.a + (other.b - l.b) * zj;
  return l;
}

}  // namespace

double RegressionValue(const RegressionParameters& p, double nodata, double gridNodata, double x, double y,
                       double z) {
  if (p.intercept[1] < -nodata) return -nodata - 1.0;
  const int k = ZoneOf(p, z);
  const double line = p.intercept[k] + p.gradient[k] * z;
  if ((p.c0 < -nodata && !p.planeFitted) || x == gridNodata || y == gridNodata) return line;
  return (p.c0 + p.cx * x + p.cy * y) - p.intercept[1] + line;
}

double Determinant3(const double a[4], const double b[4], const double c[4]) {
  return a[1] * b[2] * c[3] + a[2] * b[3] * c[1] + a[3] * b[1] * c[2] - a[3] * b[2] * c[1] - a[1] * b[3] * c[2] -
         a[2] * b[1] * c[3];
}

RegressionParameters StationRegression(const StationRegressionSettings& s, int n, const double* altitude,
                                       const double* x, const double* y, const double* v, double nodata) {
  const double missing = -nodata - 1.0;
  RegressionParameters p;
  for (int k = 1; k <= 3; ++k) p.intercept[k] = p.gradient[k] = missing;
  p.limit1 = p.limit2 = missing;
  p.c0 = p.cx = p.cy = missing;
  const double z1 = s.lowerInversion, z2 = s.upperInversion, range = s.clusterRange;
  auto valid = [&](int i) { return v[i] > -nodata; };

  // 1. Groups below and above the lower inversion.
  Group g1, g2;
  for (int i = 1; i <= n; ++i)
    if (valid(i)) (altitude[i] <= z1 ? g1 : g2).Add(altitude[i], v[i]);

  // 2. Stations next to the inversion may serve both groups.
  double zb = -1e8, za = 1e9;
  for (int i = 1; i <= n; ++i) {
    if (altitude[i] <= z1 && altitude[i] > zb) zb = altitude[i];
    if (altitude[i] > z1 && altitude[i] < za) za = altitude[i];
  }
  const bool toGroup2 = s.overlap > 0 || g2.n == 1;
  if (toGroup2)
    for (int i = 1; i <= n; ++i)
      if (valid(i) && altitude[i] == zb) g2.Add(altitude[i], v[i]);
  const bool toGroup1 = s.overlap > 0 || g1.n == 1;
  if (toGroup1)
    for (int i = 1; i <= n; ++i)
      if (valid(i) && altitude[i] == za) g1.Add(altitude[i], v[i]);

  // 3. Groups of stations at nearly the same altitude count as their mean point.
  for (Group* g : {&g1, &g2})
    if (g->n > 1 && g->zmax - g->zmin < range) g->SetPoints(g->MeanZ(), g->MeanV(), 1);

  // 4. Two single points: too close to tell two lines apart, or one line through both.
  if (g1.n == 1 && g2.n == 1) {
    const double za1 = g1.MeanZ(), va1 = g1.MeanV(), zb2 = g2.MeanZ(), vb2 = g2.MeanV();
    if (zb2 - za1 < range) {
      g2.Clear();
    } else {
      Group both;
      both.Add(za1, va1);
      both.Add(zb2, vb2);
      g1 = g2 = both;
    }
  }

  // 5. and 6. Fit and complete the two lines. A group whose altitudes do not spread
  // gives no line and counts as empty.
  Line l1 = Fit(g1), l2 = Fit(g2);
  const bool p1 = g1.n == 1, p2 = g2.n == 1;
  if (l1.valid && l2.valid) {
  } else if (!l1.valid && !p1 && l2.valid) {
    l1 = l2;
  } else if (p1 && l2.valid) {
    l1 = Joining(l2, z1, g1.MeanZ(), g1.MeanV());
  } else if (p1) {
    l1 = Line{g1.MeanV(), 0.0, true};
    l2 = l1;
  } else if (l1.valid && p2) {
    l2 = Joining(l1, z1, g2.MeanZ(), g2.MeanV());
  } else if (l1.valid) {
    l2 = l1;
  } else if (p2) {
    l1 = Line{g2.MeanV(), 0.0, true};
    l2 = l1;
  } else {
    return p;  // no line at all: everything missing
  }

  // 7. Elevation where the lines cross.
  double h = z1;
  if (l1.b != l2.b) h = (l2.a - l1.a) / (l1.b - l2.b);

  // 8. Zones.
  auto shifted = [&](double lower, double upper) {
    p.limit1 = lower;
    p.limit2 = upper;
    p.intercept[3] = l2.a;
    p.gradient[3] = l2.b;
    p.intercept[2] = l1.a;
    p.gradient[2] = l1.b;
    p.intercept[1] = l1.a;
    p.gradient[1] = 0.0;
  };
  if (z1 - s.tolerance <= h && h <= z2 + s.tolerance) {
    shifted(0.0, h);
  } else if (z1 > 0.0) {
    p.limit1 = z1;
    p.limit2 = z2;
    p.intercept[1] = l1.a;
    p.gradient[1] = l1.b;
    p.intercept[3] = l2.a;
    p.gradient[3] = l2.b;
    if (z2 != z1) {
      p.gradient[2] = (l2.At(z2) - l1.At(z1)) / (z2 - z1);
      p.intercept[2] = l1.a + (l1.b - p.gradient[2]) * z1;
    } else {  // no middle zone to speak of
      p.intercept[2] = l1.a;
      p.gradient[2] = l1.b;
    }
  } else {
    shifted(z1, z2);
  }

  // 9. Fixed lapse rate above the upper height.
  if (s.upperLapseRate > -9998.0) {
    p.intercept[3] = p.intercept[3] + p.gradient[3] * p.limit2 - s.upperLapseRate * p.limit2;
    p.gradient[3] = s.upperLapseRate;
  }

  // 10. Plane of the residuals, solved on coordinates taken relative to the stations'
  // mean position (the same plane, without losing the digits of large coordinates).
  int m = 0;
  double mx = 0.0, my = 0.0;
  for (int i = 1; i <= n; ++i)
    if (valid(i)) {
      ++m;
      mx += x[i];
      my += y[i];
    }
  if (m <= 3) return p;
  mx /= m;
  my /= m;
  double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0, sr = 0, sxr = 0, syr = 0;
  for (int i = 1; i <= n; ++i) {
    if (!valid(i)) continue;
    const int zone = ZoneOf(p, altitude[i]);
    const double r = v[i] - (p.intercept[zone] + p.gradient[zone] * altitude[i]) + p.intercept[1];
    const double dx = x[i] - mx, dy = y[i] - my;
    sx += dx;
    sy += dy;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
    sr += r;
    sxr += dx * r;
    syr += dy * r;
  }
  const double row1[4] = {0, static_cast<double>(m), sx, sy};
  const double row2[4] = {0, sx, sxx, sxy};
  const double row3[4] = {0, sy, sxy, syy};
  const double rhs[4] = {0, sr, sxr, syr};
  const double det = Determinant3(row1, row2, row3);
  // Stations on one line give no plane.
  if (!(std::fabs(det) > 1e-12 * m * sxx * syy) || !std::isfinite(det)) return p;
  const double c1[4] = {0, rhs[1], row1[2], row1[3]};
  const double c2[4] = {0, rhs[2], row2[2], row2[3]};
  const double c3[4] = {0, rhs[3], row3[2], row3[3]};
  const double d1[4] = {0, row1[1], rhs[1], row1[3]};
  const double d2[4] = {0, row2[1], rhs[2], row2[3]};
  const double d3[4] = {0, row3[1], rhs[3], row3[3]};
  const double e1[4] = {0, row1[1], row1[2], rhs[1]};
  const double e2[4] = {0, row2[1], row2[2], rhs[2]};
  const double e3[4] = {0, row3[1], row3[2], rhs[3]};
  const double c0 = Determinant3(c1, c2, c3) / det;
  p.cx = Determinant3(d1, d2, d3) / det;
  p.cy = Determinant3(e1, e2, e3) / det;
  p.c0 = c0 - p.cx * mx - p.cy * my;
  p.planeFitted = true;
  return p;
}

double ShiftByLapseRates(const ElevationGradientSettings& g, double v, double zs, double z) {
  if (g.pType && v == 0.0) return 0.0;
  const double H = g.inversionHeight;
  if (H <= -9998.0 || g.g2 <= -9998.0) return v + g.g1 * (z - zs);
  if (zs <= H) return z <= H ? v + g.g1 * (z - zs) : v + g.g1 * (H - zs) + g.g2 * (z - H);
  return z > H ? v + g.g2 * (z - zs) : v + g.g2 * (H - zs) + g.g1 * (z - H);
}

double ElevationGradientValue(const ElevationGradientSettings& g, int n, const double* sx, const double* sy,
                              const double* sv, const double* altitude, double nodata, double x, double y,
                              double z) {
  double best = 1e20;
  int found = 0;
  for (int i = 1; i <= n; ++i) {
    if (!(sv[i] >= -nodata)) continue;
    const double dx = sx[i] - x, dy = sy[i] - y;
    const double d2 = dx * dx + dy * dy;
    if (d2 < best) {
      best = d2;
      found = i;
    }
  }
  if (!found) return -nodata - 1.0;
  return ShiftByLapseRates(g, sv[found], altitude[found], z);
}
