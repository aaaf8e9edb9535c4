#include "processes/radiation/radiation_kernels.h"

#include <algorithm>
#include <cmath>

SubStepLight SubStepDarkness(double t, double delta, double tr, double ts) {
  SubStepLight s;
  const double lo = t - delta / 2.0, hi = t + delta / 2.0;
  const double pre = (lo <= tr && tr < hi) ? tr - lo : 0.0;
  double post;
  if (ts <= tr) {
    if (ts > hi)
      post = 0.0;
    else if (lo < ts)
      post = hi - ts;
    else if (hi < tr)
      post = delta;
    else
      post = 0.0;
  } else if (ts <= hi) {
    post = (lo < ts && ts < hi) ? hi - ts : delta;
  } else {
    post = hi <= tr ? delta : 0.0;
  }
  double f = (pre + post) / delta;
  if (f > 1.0) f -= 1.0;
  s.darkBefore = pre;
  s.dark = f;
  if (f > 0.95 || 1.0 - f < 0.05) return s;
  s.light = 1.0 - f;
  s.night = false;
  return s;
}

double SubStepRadiation(double delta, double light, double zenith) {
  if (!(M_PI / 2.0 - zenith > 0.017)) return 0.0;
  return delta * light * 1367.0 * std::pow(0.86, 0.9 / std::cos(zenith));
}

void CastShadows(double** dem, double** zone, double nodata, int nrows, int ncols, double cellsize, double azimuth,
                 double elevation, double** shadow, bool parallel) {
  if (nrows < 1 || ncols < 1) return;
  // The grid edges toward the sun and the directions away from it (row 1 is north).
  int edgeRow, edgeCol, dRow, dCol;
  if (azimuth <= M_PI / 2.0) {
    edgeRow = 1, edgeCol = ncols, dRow = 1, dCol = -1;
  } else if (azimuth <= M_PI) {
    edgeRow = nrows, edgeCol = ncols, dRow = -1, dCol = -1;
  } else if (azimuth <= 4.7123889803850005) {
    edgeRow = nrows, edgeCol = 1, dRow = -1, dCol = 1;
  } else {
    edgeRow = 1, edgeCol = 1, dRow = 1, dCol = 1;
  }
  const double ca = std::cos(azimuth), sa = std::sin(azimuth), te = std::tan(elevation);
  const bool alongRows = std::fabs(ca) > 0.707106781;
  const double drop = alongRows ? std::fabs(cellsize / ca) * te : std::fabs(cellsize / sa) * te;
  const long n = alongRows ? nrows : ncols;
  const long m = alongRows ? static_cast<long>(std::fabs(nrows * sa / ca)) : static_cast<long>(std::fabs(ncols * ca / sa));

  // A ray writes every cell it crosses (all), or only the cells no later ray of its edge
  // would write again when the rays of that edge run one after the other: rays of one
  // edge are copies of one path, shifted by a cell per ray, so when they run forward the
  // last writer of a cell is the ray that reached it first on its side offset (first),
  // when they run backward the one that leaves that offset there (lastOfOffset), and on
  // the edge's last ray every cell (lastRay).
  enum class Writes { all, first, lastOfOffset };
  const auto ray = [&](int r, int c, Writes writes, bool lastRay) {
    double h = dem[r][c];
    long e = -n / 2;
    bool fresh = true;
    while (true) {
      const bool turn = e + m >= 0;
      const bool write = writes == Writes::all || (writes == Writes::first ? fresh : lastRay || turn);
      if (zone[r][c] != nodata) {
        if (dem[r][c] >= h) {
          if (write) shadow[r][c] = 0.0;
          h = dem[r][c];
        } else if (write) {
          shadow[r][c] = 1.0;
        }
      }
      if (alongRows || h > nodata) h -= drop;
      e += m;
      fresh = false;
      if (e >= 0) {
        e -= n;
        fresh = true;
        if (alongRows)
          c += dCol;
        else
          r += dRow;
      }
      if (alongRows)
        r += dRow;
      else
        c += dCol;
      if (r < 1 || r > nrows || c < 1 || c > ncols) return;
    }
  };
  // Rays from the edge row step one row at a time when the sun runs along the rows, so two
  // of them never meet; rays from the edge column then cross them and overwrite them in
  // order. With the sun along the columns it is the other way round. On threads the
  // crossing rays run after the others, each writing only the cells it would be the last
  // to write in order, so the grid is the same as on one thread.
  if (!parallel) {
    for (int c = 1; c <= ncols; ++c) ray(edgeRow, c, Writes::all, false);
    for (int r = 1; r <= nrows; ++r) ray(r, edgeCol, Writes::all, false);
    return;
  }
  // Threads take bundles of eight neighbouring rays: rays of a bundle share the cache lines
  // of the rows they cross, so threads seldom write into the same line, and a grid of a few
  // hundred columns still has enough bundles to share out evenly (rays near a corner are short).
  constexpr int kBundle = 8;
  const auto bundles = [](int count) { return (count + kBundle - 1) / kBundle; };
  const auto last = [](int b, int count) { return std::min(count, (b + 1) * kBundle); };
  const int rowBundles = bundles(nrows), colBundles = bundles(ncols);
  const Writes crossing = (alongRows ? dRow : dCol) > 0 ? Writes::first : Writes::lastOfOffset;
  const Writes fromRow = alongRows ? Writes::all : crossing, fromCol = alongRows ? crossing : Writes::all;
#pragma omp parallel
  {
#pragma omp for schedule(runtime)
    for (int b = 0; b < colBundles; ++b)
      for (int c = b * kBundle + 1; c <= last(b, ncols); ++c) ray(edgeRow, c, fromRow, c == ncols);
#pragma omp for schedule(runtime)
    for (int b = 0; b < rowBundles; ++b)
      for (int r = b * kBundle + 1; r <= last(b, nrows); ++r) ray(r, edgeCol, fromCol, r == nrows);
  }
}
