// One channel of a routing object: a mean channel with flood plains on both sides, its
// water level-discharge table, and its routing state (translation queue and the linear
// storages of its sub-channels). The functions here do no I/O, so that every formula can be
// checked alone.
#pragma once

#include <string>
#include <vector>

#include "routing/routing_description.h"

enum ChannelKind : int { kChannelOL = 0, kChannelSumtrib = 1, kChannelInflow = 2 };

struct ChannelTable {
  ChannelKind kind = kChannelOL;
  int code = 0;              // tributary code (OL, SUMTRIB) or inflow number (ZL)
  std::vector<int> members;  // SUMTRIB: the codes joined with "&"
  int sourceZone = 0;        // zone whose runoff enters the channel
  std::vector<int> memberZones;  // SUMTRIB: zones of code and members

  // Parameters, defaults applied.
  double km = 0.01, kf = 0.01;  // storage constants, h
  double cm = 0.0, cf = 0.0;    // storage coefficients exp(-1/k)
  double bm = 0.1, bf = 0.1, hm = 0.1, kstm = 1.0, kstf = 1.0;
  double sqrtSlope = 0.0316, length = 1.0, area = 1e-6;
  double qmin = 0.0, qmax = 0.0;  // l/(s km²)
  int intervals = 0;              // table rows are 1..intervals + 1
  double dlog = 0.0;
  bool perAreaFactor = false;  // Q divided by the object's area factor

  // Rows 1..intervals + 1 (entry 0 unused).
  std::vector<double> q, depth, Q, v, vm, vf, t, dm, df, share;
  std::vector<int> delta;

  int subchannels = 1;      // num-subchannels
  int storageElements = 0;  // (subint + delta max) * subchannels
  int deltaMax = 0;
  bool deltaClamped = false;  // a row's translation was longer than at the smallest discharge

  // Routing state; sub-channels are numbered against the flow (1 = the last one).
  int subint = 1;
  std::vector<int> lastSlot;   // 1..subchannels
  std::vector<double> qvzuq;   // 1..subchannels
  std::vector<double> qaus;    // [m][s], m 1..subchannels, s 1..subint
  std::vector<double> queue;   // slots 1..subint + 1 + storageElements
  std::vector<double> scratch;  // room for one sub-channel's water in transit, see RouteSubchannel

  int Rows() const { return intervals + 1; }
  int BlockSize() const { return delta[1] + subint; }
  double& Qaus(int m, int s) { return qaus[static_cast<size_t>(m) * (subint + 1) + s]; }
  double Qaus(int m, int s) const { return qaus[static_cast<size_t>(m) * (subint + 1) + s]; }
};

// Largest number of queue slots of one channel; more means a table that cannot be meant.
constexpr double kMaxQueueSlots = 1e7;

// Manning-Strickler: depth h, hydraulic radius R and velocity v (start value in, result
// out) of a rectangular section of width b carrying Q, iterated at most maxIterations times
// until the velocity changes by no more than tolerance.
void ManningIteration(double Q, double b, double& h, double& R, double& v, int maxIterations, double kst,
                      double sqrtSlope, double tolerance);

// Applies the defaults to the parameters and sets the table's fixed fields.
void SetChannelParameters(ChannelTable& c, const ChannelParameters& p, double qmin, double qmax, double intervals,
                          bool perAreaFactor);
// Fills the rows: discharges, depths, velocities, travel time and flood-plain share, for a
// time step dt (minutes) and the object's area factor.
void ComputeTableRows(ChannelTable& c, double dt, double areaFactor);
// Number of sub-channels for travel times t1 (smallest discharge) and tLast (largest) and a
// time step of stepHours; 0 when no whole number fits (a travel time that is not finite).
int SubchannelCount(double t1, double tLast, double stepHours);
// Sub-channels, translations (clamped to the one at the smallest discharge) and storage
// elements, then the state arrays. Returns false when the travel time is not finite or the
// queue would need more than kMaxQueueSlots slots (nothing is allocated then).
bool LayOutChannel(ChannelTable& c, int subint, double dt);

// Table row of a discharge x (mm per step) for a time step dt (minutes).
int TableRow(const ChannelTable& c, double x, double dt);
// The largest of series[1..n].
double MaxValue(const double* series, int n);
// One sub-interval of the two parallel linear storages: inflow I, outflow O' of the same
// sub-interval in the previous step, flood-plain shares p (now) and p' (before). Together
// they act as one storage of coefficient k = (1 - p) cm + p cf that holds k / (1 - k) O;
// when the share changes, what the storages held under the old share passes whole into the
// new split, O = (1 - k) (I + k' / (1 - k') O'), so that they keep their water.
inline double StorageOutflow(double I, double Oprev, double p, double pprev, double cm, double cf) {
  if (p == pprev)
    return (1.0 - p) * I * (1.0 - cm) + (1.0 - pprev) * Oprev * cm + p * I * (1.0 - cf) + pprev * Oprev * cf;
  const double k = (1.0 - p) * cm + p * cf, kprev = (1.0 - pprev) * cm + pprev * cf;
  return (1.0 - k) * (I + kprev / (1.0 - kprev) * Oprev);
}
// Spreads the n values of from over the m values of to, in order: to[j] takes the part of
// from that lies in the j-th of m equal pieces of its length, so that the sum is kept.
void Respread(const double* from, int n, double* to, int m);
// Routes flow[1..subint] through sub-channel m: translation in the queue, then storage; the
// outflow replaces flow. When the translation differs from the last step's, the water on its
// way in the queue and the new inflow are spread, in their order, over the new translation
// and the step's sub-intervals, so that the queue neither makes nor loses water.
void RouteSubchannel(ChannelTable& c, int m, double* flow, double dt);
// Routes flow[1..subint] through all sub-channels in flow order.
void RouteChannel(ChannelTable& c, double* flow, double dt);
// Water held by the channel (mm per step over its source zone, summed over the sub-intervals
// and divided by their number): the values in transit in the queue and the contents
// k / (1 - k) * O of the linear storages. Its change over a step is the inflow less the
// outflow.
double ChannelContent(const ChannelTable& c);
// Steady state for a discharge x (mm per step): queue, outflow series, shares and slots.
void SetSteadyState(ChannelTable& c, double x, double dt);
