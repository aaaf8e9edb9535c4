// Per-cell arithmetic of the dynamic vegetation start (forcing and chilling units, the
// thresholds of the dormancy methods), of the seven-day mean temperature and of the
// root-zone storage that follows a changed root depth. Everything here is free of I/O and
// state so that the daily update can call it from several threads.
#pragma once

namespace phenology {

// Sigmoid forcing unit of a day mean T above the base temperature tb (0 at or below it).
double ForcingUnit(double t, double tb);
// Degree-day forcing max(T - tb, 0).
double DegreeDayForcing(double t, double tb);
// Moisture factor (theta - h) / (150 - h) when a root-zone moisture exists and theta >= h.
double MoistureFactor(bool haveTheta, double theta, double h);
// The forcing sum after adding fu, weighted by 1 + sigma * x when sigma > 0.
double AddForcing(double sum, double fu, double sigma, double x);
// Chilling unit of the dormancy method with offsets o1 < tc < o2.
double ChillingUnit(double t, double o1, double tc, double o2);
// Forcing thresholds after dormancy: a * exp(b * C) and a + b * ln(C) (a when C <= 0).
double ExponentialThreshold(double a, double b, double chilling);
double LogarithmicThreshold(double a, double b, double chilling);

// Shifts the eight-deep stack of daily means (entries 1..7 used) by one day, puts today's
// mean into entry 1 and returns the mean of entries 1..7 divided by dayCount (1..7).
double ShiftMovingAverage(double* stack, double today, int dayCount);

// The soil model's root zone of one cell: the active part (usable field capacity, which
// grows with the root depth, and its relative filling) and the inactive part below it.
struct RootZone {
  double capacity;          // "available_soil_moisture", mm
  double fraction;          // "soil_storage", 0..1
  double inactiveCapacity;  // "inaktive_field_capacity", mm
  double inactiveFraction;  // "inaktive_soil_moisture", 0..1
};
// Rescales the active capacity from the old to the new root depth. Shallower roots hand the
// lost capacity with its water to the inactive part; deeper roots take capacity with its
// water from the inactive part first, and what lies beyond it enters dry. The water of the
// root zone (active plus inactive) stays the same. Depths must be positive.
void AdjustRootZone(RootZone& z, double oldDepth, double newDepth);

// The bounds of the daily parameter values.
double BoundRootDepth(double v);
double BoundCoverage(double v);
double BoundNonNegative(double v);
double BoundRoughness(double v);

// Method 5: index of the current entry of a cell's fix-day list list[1..n]: from 1, advance
// while the entry lies before the day, is positive and the next entry is above
// nodata + 1.
int CurrentFixEntry(const double* list, int n, int day, double nodata);

}  // namespace phenology
