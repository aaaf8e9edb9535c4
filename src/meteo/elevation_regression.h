// Elevation-dependent interpolation: values that follow straight lines in elevation (one
// below a lower zone height, one between the two heights, one above the upper height),
// optionally shifted by a horizontal plane of residuals; the fit of these lines to the
// station values of a step; and the nearest-station value shifted by fixed lapse rates.
//
// Everything here is free of I/O and of the interpolator object: arrays of stations are
// indexed 1..n as in the station files.
#pragma once

#include "meteo/regression_file.h"

// Value of the zone lines at elevation z, shifted by the plane of residuals at (x, y) when
// the set has one (c0 not below -N, or a plane fitted to stations) and x, y are not the grid nodata value. A set whose
// intercept 1 is below -N gives the missing result -N - 1.
double RegressionValue(const RegressionParameters& p, double nodata, double gridNodata, double x, double y, double z);

// Determinant of the 3 x 3 matrix whose rows are a, b and c (each indexed 1..3).
double Determinant3(const double a[4], const double b[4], const double c[4]);

// Settings of the station regression (read from the interpolator's section).
struct StationRegressionSettings {
  double lowerInversion = 0.0;   // Z1
  double upperInversion = 0.0;   // Z2
  double tolerance = 0.0;        // T
  int overlap = 0;               // O
  double clusterRange = 0.0;     // R
  double upperLapseRate = -9999.0;  // lambda above the upper inversion; -9999: none
};

// Fits the zone lines and the plane of residuals to the valid stations (value > -N) of one
// record. altitude, x, y and v are indexed 1..n. Coefficients that cannot be formed are
// -N - 1; without any valid station the whole set is missing.
RegressionParameters StationRegression(const StationRegressionSettings& s, int n, const double* altitude,
                                       const double* x, const double* y, const double* v, double nodata);

// Fixed lapse rates of the nearest-station method: g1 below the inversion height H, g2
// above it. H <= -9998 means that only g1 applies. With pType set, a station value of 0
// stays 0 at any elevation (a dry station stays dry).
struct ElevationGradientSettings {
  double g1 = 0.0;
  double inversionHeight = -9999.0;
  double g2 = -9999.0;
  int pType = 0;
};

// The nearest valid station's value (of equally near stations the lower number wins),
// moved from the station's altitude to elevation z by the lapse rates. Without a valid
// station: -N - 1.
double ElevationGradientValue(const ElevationGradientSettings& g, int n, const double* sx, const double* sy,
                              const double* sv, const double* altitude, double nodata, double x, double y, double z);
// The lapse-rate shift alone: value v of a station at altitude zs taken to elevation z.
double ShiftByLapseRates(const ElevationGradientSettings& g, double v, double zs, double z);
