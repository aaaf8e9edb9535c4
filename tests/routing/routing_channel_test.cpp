// Channel hydraulics and the routing of one channel: Manning-Strickler, the table rows,
// sub-channels and translations, the storage recursion and the channel's water balance.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "routing/routing_channel.h"

namespace {

ChannelParameters Parameters(double length, double km = 2.0, double hm = 5.0) {
  ChannelParameters p;
  p.km = km;
  p.kf = 5.0;
  p.bm = 5.0;
  p.bf = 50.0;
  p.hm = hm;
  p.kstm = 25.0;
  p.kstf = 10.0;
  p.slope = 0.01;
  p.length = length;
  p.area = 10.0;
  return p;
}

ChannelTable Channel(double length, int subint, double qmin, double qmax, double n, double km = 2.0,
                     double hm = 5.0) {
  ChannelTable c;
  SetChannelParameters(c, Parameters(length, km, hm), qmin, qmax, n, true);
  ComputeTableRows(c, 60.0, 1.0);
  EXPECT_TRUE(LayOutChannel(c, subint, 60.0));
  return c;
}

TEST(ChannelHydraulics, ManningIterationReachesTheFixedPoint) {
  // 10 m³/s in a 5 m wide channel: the result satisfies v = kst R^0.66667 sqrt(I) with
  // R = A / (2h + b), A = Q / v, within the tolerance.
  double h = 0, R = 0, v = 1.0;
  ManningIteration(10.0, 5.0, h, R, v, 500, 25.0, 0.1, 1e-12);
  const double a = 10.0 / v;
  EXPECT_NEAR(h, a / 5.0, 1e-9);
  EXPECT_NEAR(v, 25.0 * std::pow(a / (2 * h + 5.0), 0.66667) * 0.1, 1e-9);
  // Nothing flowing: depth and velocity 0.
  double h0 = 1, R0 = 1, v0 = 0.0;
  ManningIteration(0.0, 5.0, h0, R0, v0, 50, 25.0, 0.1, 0.005);
  EXPECT_EQ(h0, 0.0);
  EXPECT_EQ(v0, 0.0);
}

TEST(ChannelHydraulics, TableRowsFollowTheLogarithmicSpacing) {
  const ChannelTable c = Channel(10000, 1, 1.0, 1000.0, 3);
  ASSERT_EQ(c.Rows(), 4);
  EXPECT_NEAR(c.q[1], 1.0, 1e-12);
  EXPECT_NEAR(c.q[2], 10.0, 1e-9);
  EXPECT_NEAR(c.q[4], 1000.0, 1e-9);
  EXPECT_NEAR(c.depth[4], 1000 * 0.0036, 1e-12);  // mm per hour
  EXPECT_NEAR(c.Q[4], 1000 / 1000.0 * 10.0, 1e-12);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_NEAR(c.t[j], c.length / c.v[j] / 3600.0, 1e-12);
    EXPECT_EQ(c.share[j], 0.0);  // 5 m deep: the flood plains stay dry
    EXPECT_EQ(c.v[j], c.vm[j]);
  }
  EXPECT_NEAR(c.cm, std::exp(-1.0 / 2.0), 1e-15);
  // Table rows of discharges: below qmin row 1, above qmax the last row.
  EXPECT_EQ(TableRow(c, 0.0, 60.0), 1);
  EXPECT_EQ(TableRow(c, 5.0 * 0.0036, 60.0), 1);   // 5 l/(s km²) lies between rows 1 and 2
  EXPECT_EQ(TableRow(c, 50.0 * 0.0036, 60.0), 2);  // 50 between rows 2 and 3
  EXPECT_EQ(TableRow(c, 1e9, 60.0), 4);
  // qmin = qmax: every discharge maps to row 1.
  const ChannelTable flat = Channel(10000, 1, 20.0, 20.0, 4);
  EXPECT_EQ(TableRow(flat, 1e3, 60.0), 1);
}

TEST(ChannelHydraulics, SubchannelsAndTranslations) {
  EXPECT_EQ(SubchannelCount(0.5, 0.2, 1.0), 1);  // short channel
  EXPECT_EQ(SubchannelCount(5.0, 1.0, 1.0), 4);  // 4 / 4 <= 1
  EXPECT_EQ(SubchannelCount(5.5, 1.0, 1.0), 5);
  EXPECT_EQ(SubchannelCount(NAN, 1.0, 1.0), 0);
  EXPECT_EQ(SubchannelCount(INFINITY, 1.0, 1.0), 0);
  // A travel time of 2.5 h in one sub-channel with one sub-interval of an hour: 2 slots.
  ChannelTable c = Channel(10000, 1, 20.0, 20.0, 1);
  c.t.assign(3, 2.5);
  ASSERT_TRUE(LayOutChannel(c, 1, 60.0));
  EXPECT_EQ(c.subchannels, 1);
  EXPECT_EQ(c.delta[1], 2);
  EXPECT_EQ(c.storageElements, 3);
  // A row with a longer translation than the smallest discharge's is clamped to it.
  c.t = {0, 2.5, 3.9};
  ASSERT_TRUE(LayOutChannel(c, 1, 60.0));
  EXPECT_TRUE(c.deltaClamped);
  EXPECT_EQ(c.delta[2], 2);
}

// One sub-interval and one sub-channel without translation: each step is the single
// linear storage O = I (1 - c) + O' c.
TEST(ChannelRouting, ReproducesTheStorageRecursion) {
  ChannelTable c = Channel(1.0, 1, 20.0, 20.0, 2, 3.0);
  ASSERT_EQ(c.subchannels, 1);
  ASSERT_EQ(c.delta[1], 0);
  SetSteadyState(c, 0.0, 60.0);
  const double cm = std::exp(-1.0 / 3.0);
  const double inputs[] = {0.0, 4.0, 2.0, 0.0, 0.0, 1.0, 0.0};
  double expected = 0.0;
  for (double in : inputs) {
    double flow[2] = {0.0, in};
    RouteChannel(c, flow, 60.0);
    expected = in * (1 - cm) + expected * cm;
    EXPECT_NEAR(flow[1], expected, 1e-15);
  }
}

// Inflow = change of content + outflow in every step, whether the translation stays or
// follows a flashy discharge up and down.
TEST(ChannelRouting, KeepsItsWaterWhateverTheTranslationDoes) {
  struct Case {
    int subint;
    double qmin, qmax;
    bool varies;
  };
  for (const Case& k : {Case{1, 20.0, 20.0, false}, Case{3, 20.0, 20.0, false}, Case{1, 1.0, 2000.0, true},
                        Case{2, 1.0, 2000.0, true}, Case{4, 1.0, 5000.0, true}}) {
    ChannelTable c = Channel(30000, k.subint, k.qmin, k.qmax, 20, 1.5);
    ASSERT_GT(c.subchannels * c.delta[1], 0) << "the case needs translation";
    SetSteadyState(c, 0.0, 60.0);
    std::mt19937 rng(11 + k.subint);
    std::uniform_real_distribution<double> u(0.0, 3.0);
    double before = ChannelContent(c), total = 0.0;
    int changes = 0;
    std::vector<int> slots(c.lastSlot);
    std::vector<double> flow(k.subint + 1);
    for (int step = 0; step < 500; ++step) {
      double in = 0.0, out = 0.0;
      const double scale = step % 40 < 10 ? 1.0 : 0.01;  // floods and recessions
      for (int s = 1; s <= k.subint; ++s) in += flow[s] = step < 300 ? scale * u(rng) : 0.0;
      RouteChannel(c, flow.data(), 60.0);
      for (int s = 1; s <= k.subint; ++s) out += flow[s];
      const double after = ChannelContent(c);
      ASSERT_NEAR(in / k.subint, after - before + out / k.subint, 1e-12 * (1.0 + in)) << "step " << step << " subint " << k.subint << " qmin " << k.qmin;
      before = after;
      total += in / k.subint;
      if (c.lastSlot != slots) ++changes;
      slots = c.lastSlot;
    }
    EXPECT_EQ(changes > 20, k.varies) << "subint " << k.subint << " qmin " << k.qmin;
    EXPECT_LT(before, 1e-9 * total) << "subint " << k.subint << " qmin " << k.qmin;  // drained
  }
}

TEST(ChannelRouting, SteadyInflowGivesTheSameOutflow) {
  ChannelTable c = Channel(40000, 2, 1.0, 500.0, 8, 4.0);
  SetSteadyState(c, 0.7, 60.0);
  for (double& slot : c.queue) slot = 0.7;
  for (int step = 0; step < 20; ++step) {
    double flow[3] = {0, 0.7, 0.7};
    RouteChannel(c, flow, 60.0);
    EXPECT_NEAR(flow[1], 0.7, 1e-14);
    EXPECT_NEAR(flow[2], 0.7, 1e-14);
  }
}

// Slots of a one-sub-channel queue with three slots of translation at small discharges and
// two at large ones: the water on its way and the new inflow are spread, in order and with
// their sum, over the new translation and the step.
TEST(ChannelRouting, AChangingTranslationSpreadsTheWaterOnItsWay) {
  ChannelTable c = Channel(1.0, 1, 20.0, 20.0, 1);
  c.t = {0, 3.5, 2.5};  // row 1 (up to 40 l/(s km²)): three slots of translation, row 2: two
  c.dlog = std::log(2.0);
  c.qmax = 40.0;
  ASSERT_TRUE(LayOutChannel(c, 1, 60.0));
  ASSERT_EQ(c.subchannels, 1);
  ASSERT_EQ(c.delta[1], 3);
  SetSteadyState(c, 0.0, 60.0);
  for (double& slot : c.queue) slot = 0.0;
  for (double x : {0.03, 0.06, 0.09}) {
    double f[2] = {0, x};
    RouteSubchannel(c, 1, f, 60.0);
  }
  ASSERT_EQ(c.lastSlot[1], 4);
  // A large inflow shortens the translation: 0.03 0.06 0.09 | 0.3 becomes 0.05 0.1 | 0.33.
  double big[2] = {0, 0.3};
  RouteSubchannel(c, 1, big, 60.0);
  EXPECT_EQ(c.lastSlot[1], 3);
  const double shrunk[] = {0.05, 0.1, 0.33};
  for (int k = 1; k <= 3; ++k) EXPECT_NEAR(c.queue[k], shrunk[k - 1], 1e-15) << k;
  // A small one lengthens it again: 0.1 0.33 | 0.03 becomes 0.075 0.19 0.1725 | 0.0225.
  double small[2] = {0, 0.03};
  RouteSubchannel(c, 1, small, 60.0);
  EXPECT_EQ(c.lastSlot[1], 4);
  const double grown[] = {0.075, 0.19, 0.1725, 0.0225};
  for (int k = 1; k <= 4; ++k) EXPECT_NEAR(c.queue[k], grown[k - 1], 1e-15) << k;
}

TEST(ChannelRouting, RespreadKeepsOrderAndSum) {
  const double from[] = {1.0, 2.0, 3.0, 4.0, 5.0};
  double to[7];
  for (int m : {1, 2, 3, 5, 7}) {
    Respread(from, 5, to, m);
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum += to[j];
    EXPECT_NEAR(sum, 15.0, 1e-13) << m;
    for (int j = 1; j < m; ++j) EXPECT_GE(to[j], to[j - 1] - 1e-12) << m;  // a rising series stays rising
  }
  Respread(from, 5, to, 2);  // halves of 2.5 values each
  EXPECT_DOUBLE_EQ(to[0], 1.0 + 2.0 + 0.5 * 3.0);
  EXPECT_DOUBLE_EQ(to[1], 0.5 * 3.0 + 4.0 + 5.0);
}

}  // namespace
