// Geometry of the radiation correction: the dark part of a sub-step, terrain shading cast
// along rays from the sunward grid edges, the direct-radiation weight of a sloped cell and
// the exposure correction of the air temperature. No I/O; matrices are 1-based.
#pragma once

#include <algorithm>
#include <cmath>

// Light of one sub-step of length delta (hours) centred at t (clock hours, wrapped into
// the day) between sunrise tr and sunset ts.
struct SubStepLight {
  double darkBefore = 0.0;  // hours of the sub-step before sunrise
  double dark = 0.0;        // dark fraction 0..1
  double light = 0.0;       // light fraction; 0 at night
  bool night = true;
};
SubStepLight SubStepDarkness(double t, double delta, double tr, double ts);

// Direct clear-sky radiation (W/m² × hours) of a sub-step of length delta with light
// fraction light at zenith angle z; 0 when the sun is below 0.017 rad.
double SubStepRadiation(double delta, double light, double zenith);

// Shading of the grid for a sun at azimuth (from north, clockwise) and elevation
// (radians): shadow[r][c] is 1 for shaded, 0 for lit cells whose zone is valid; other
// cells are left as they are. Rays run from the sunward grid edges across the grid. With
// parallel the rays of both edges run on all threads, those that cross others writing only
// the cells they would write last in order; the result is the same as on one thread.
void CastShadows(double** dem, double** zone, double nodata, int nrows, int ncols, double cellsize, double azimuth,
                 double elevation, double** shadow, bool parallel = false);

// Cosine of the angle of incidence of the sun (zenith angle given by its cosine and sine,
// azimuth in radians) on a cell of slope angle s (given by cos s and sin s) and aspect in
// degrees: the operations of CosAngleBetween(aspect, s, azimuth, zenith) in their order,
// so that the bits are the same while the slope's cosine and sine are made once.
inline double CosIncidence(double cosSlope, double sinSlope, double aspectDegrees, double cosZenith,
                           double sinZenith, double azimuth) {
  return cosSlope * cosZenith + sinSlope * sinZenith * std::cos(azimuth - M_PI * aspectDegrees / 180.0);
}

// Weight of the direct radiation on a cell: cosIncidence (of the sloped surface), cosZ
// (of a horizontal one), the cell's relative sunshine (below 0: none). Overcast cells
// count as horizontal; the weight is at most five times the horizontal one (inline: the
// cell loop of every lit sub-step asks it).
inline double DirectWeight(double cosIncidence, double cosZ, double sunshine) {
  double c = cosIncidence > 0.0 ? cosIncidence : 0.0;
  if (c > 0.0 && sunshine >= 0.0 && sunshine < 0.1) c = cosZ;
  return std::min(c, 5.0 * cosZ);
}

// Exposure-corrected temperature: factor r, scale s, relative sunshine sigma, whether the
// step had sun (k), the relative sun height rho (applied with a single sub-step only).
inline double ExposureTemperature(double t, double r, double s, double sigma, bool sunStep, double rho,
                                  bool singleSubStep) {
  if (r > 0.2) {
    double add = std::log(r) * s * sigma;
    if (singleSubStep) add *= rho;
    return t + add;
  }
  double drop = s * 1.6094 * sigma * (sunStep ? 1.0 : 0.0);
  if (singleSubStep) drop *= rho;
  return t - drop;
}
