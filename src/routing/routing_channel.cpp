#include "routing/routing_channel.h"

#include <algorithm>
#include <cmath>

void ManningIteration(double Q, double b, double& h, double& R, double& v, int maxIterations, double kst,
                      double sqrtSlope, double tolerance) {
  for (int i = 0; i < maxIterations; ++i) {
    const double a = v > 0.0 ? Q / v : 0.0;
    h = a / b;
    const double p = 2.0 * h + b;
    double next = 0.0;
    if (p > 0.0) {
      R = a / p;
      next = R > 0.0 ? kst * std::pow(R, 0.66667) * sqrtSlope : 0.0;
    } else {
      R = 0.0;
    }
    const double change = std::fabs(v - next);
    v = next;
    if (!(change > tolerance)) break;
  }
}

void SetChannelParameters(ChannelTable& c, const ChannelParameters& p, double qmin, double qmax, double intervals,
                          bool perAreaFactor) {
  auto positive = [](double v, double fallback) { return v > 0.0 ? v : fallback; };
  c.km = positive(p.km, 0.01);
  c.kf = positive(p.kf, 0.01);
  c.bm = positive(p.bm, 0.1);
  c.bf = positive(p.bf, 0.1);
  c.hm = positive(p.hm, 0.1);
  c.kstm = positive(p.kstm, 1.0);
  c.kstf = positive(p.kstf, 1.0);
  c.sqrtSlope = p.slope > 0.0 ? std::sqrt(p.slope) : 0.0316;
  c.length = positive(p.length, 1.0);
  c.area = positive(p.area, 1e-6);
  c.qmin = qmin;
  c.qmax = qmax;
  c.intervals = static_cast<int>(intervals);
  c.dlog = std::log(qmax / qmin) / c.intervals;
  c.perAreaFactor = perAreaFactor;
  c.cm = std::exp(-1.0 / c.km);
  c.cf = std::exp(-1.0 / c.kf);
}

void ComputeTableRows(ChannelTable& c, double dt, double areaFactor) {
  const int rows = c.Rows();
  for (auto* a : {&c.q, &c.depth, &c.Q, &c.v, &c.vm, &c.vf, &c.t, &c.dm, &c.df, &c.share}) a->assign(rows + 1, 0.0);
  c.delta.assign(rows + 1, 0);
  const double lnMax = std::log(c.qmax);
  double vm = 1.0;  // each row starts from the velocity of the row above it
  for (int j = rows; j >= 1; --j) {
    const double q = std::exp(lnMax - (rows - j) * c.dlog);
    double Q = q / 1000.0 * c.area;
    if (c.perAreaFactor) Q /= areaFactor;
    double Qm = Q, Qf = 0.0, dm = 0.0, df = 0.0, vf = 0.0, Rm = 0.0, Rf = 0.0;
    ManningIteration(Qm, c.bm, dm, Rm, vm, 50, c.kstm, c.sqrtSlope, 0.005);
    if (dm > c.hm) {
      // The water leaves the mean channel: exchange with the flood plains towards a
      // common level, the flood plains starting from the mean channel's first velocity.
      vf = 1.0;
      for (int i = 0; i < 50; ++i) {
        const double level = (dm + df + c.hm) / 2.0;
        df = level - c.hm;
        if (dm > level) {
          const double x = std::min((dm - level) * c.bm * vm, (dm - level) * c.bf * vf);
          Qm -= x;
          Qf += x;
        } else {
          const double x = std::min((level - dm) * c.bm * vm, (level - dm) * c.bf * vf);
          Qm += x;
          Qf -= x;
        }
        ManningIteration(Qm, c.bm, dm, Rm, vm, 50, c.kstm, c.sqrtSlope, 0.005);
        ManningIteration(Qf, c.bf, df, Rf, vf, 50, c.kstf, c.sqrtSlope, 0.005);
        if (!(std::fabs(dm - df - c.hm) > 0.01)) break;
      }
    }
    const double total = Qm + Qf;
    c.q[j] = q;
    c.depth[j] = q * 0.0036 * dt / 60.0;
    c.Q[j] = Q;
    c.vm[j] = vm;
    c.vf[j] = vf;
    c.v[j] = total != 0.0 ? Qm / total * vm + Qf / total * vf : vm;
    c.dm[j] = dm;
    c.df[j] = df;
    c.share[j] = total != 0.0 ? Qf / total : 0.0;
    c.t[j] = c.length / c.v[j] / 3600.0;
  }
}

int SubchannelCount(double t1, double tLast, double stepHours) {
  if (!std::isfinite(t1) || !std::isfinite(tLast) || !(stepHours > 0.0)) return 0;
  // The smallest m with t1 / m <= tLast / m + c, that is m >= (t1 - tLast) / c.
  const double m = std::max(1.0, std::ceil((t1 - tLast) / stepHours));
  if (!(m < kMaxQueueSlots)) return 0;
  int n = static_cast<int>(m);
  while (n > 1 && t1 / (n - 1) <= tLast / (n - 1) + stepHours) --n;  // guard the rounding of ceil
  while (!(t1 / n <= tLast / n + stepHours)) ++n;
  return n;
}

bool LayOutChannel(ChannelTable& c, int subint, double dt) {
  const int rows = c.Rows();
  c.subint = subint;
  c.subchannels = SubchannelCount(c.t[1], c.t[rows], dt / 60.0);
  if (c.subchannels < 1) return false;
  c.deltaClamped = false;
  for (int j = 1; j <= rows; ++j) {
    const double d = c.t[j] / c.subchannels / dt * 60.0 * subint;
    if (!std::isfinite(d) || !(d < kMaxQueueSlots)) return false;
    c.delta[j] = static_cast<int>(d);
  }
  // The queue's blocks are sized by the translation at the smallest discharge; a longer
  // one would write past its block.
  for (int j = 2; j <= rows; ++j)
    if (c.delta[j] > c.delta[1]) {
      c.delta[j] = c.delta[1];
      c.deltaClamped = true;
    }
  c.deltaMax = *std::max_element(c.delta.begin() + 1, c.delta.end());
  const double elements = static_cast<double>(subint + c.deltaMax) * c.subchannels;
  if (!(elements + subint + 1 <= kMaxQueueSlots)) return false;
  c.storageElements = static_cast<int>(elements);
  c.lastSlot.assign(c.subchannels + 1, 0);
  c.qvzuq.assign(c.subchannels + 1, 0.0);
  c.qaus.assign(static_cast<size_t>(c.subchannels + 1) * (subint + 1), 0.0);
  c.queue.assign(static_cast<size_t>(subint) + 2 + c.storageElements, 0.0);
  c.scratch.assign(static_cast<size_t>(c.delta[1] + subint), 0.0);
  return true;
}

int TableRow(const ChannelTable& c, double x, double dt) {
  const double q = std::max(16666.668 / dt * x, 1e-7);
  if (!(c.dlog > 0.0)) return 1;
  const double r = std::ceil(std::log(q / c.qmin) / c.dlog);
  if (!(r >= 1.0)) return 1;
  if (!(r <= c.Rows())) return c.Rows();
  return static_cast<int>(r);
}

double MaxValue(const double* series, int n) {
  double m = series[1];
  for (int s = 2; s <= n; ++s) m = std::max(m, series[s]);
  return m;
}

void Respread(const double* from, int n, double* to, int m) {
  // Measured in n * m parts of the whole length, value i of from covers [i m, (i + 1) m)
  // and value j of to covers [j n, (j + 1) n).
  const long nl = n, ml = m;
  long pos = 0;
  int i = 0;
  for (int j = 0; j < m; ++j) {
    const long end = (j + 1) * nl;
    double v = 0.0;
    while (pos < end) {
      const long fromEnd = (i + 1) * ml;
      const long upTo = std::min(end, fromEnd);
      v += from[i] * static_cast<double>(upTo - pos) / static_cast<double>(ml);
      pos = upTo;
      if (pos == fromEnd) ++i;
    }
    to[j] = v;
  }
}

void RouteSubchannel(ChannelTable& c, int m, double* flow, double dt) {
  const int subint = c.subint;
  double* queue = c.queue.data();
  const int d = c.delta[TableRow(c, MaxValue(flow, subint), dt)];
  const int b = (m - 1) * c.BlockSize();
  // Slots b + subint + 1 .. lastSlot hold the water on its way; the new values follow it.
  double* transit = queue + b + subint + 1;
  const int last = c.lastSlot[m] - (b + subint);
  for (int s = 1; s <= subint; ++s) transit[(last >= 0 ? last : d) + s - 1] = flow[s];
  if (last >= 0 && last != d) {
    // The water on its way and the new inflow, in their order, spread over the new
    // translation and the step.
    double* spread = c.scratch.data();
    Respread(transit, last + subint, spread, d + subint);
    std::copy(spread, spread + d + subint, transit);
  }
  for (int k = b + 1; k <= b + c.BlockSize(); ++k) queue[k] = queue[k + subint];
  c.lastSlot[m] = b + subint + d;

  const double share = c.share[TableRow(c, MaxValue(queue + b, subint), dt)];
  const double before = c.qvzuq[m];
  for (int s = 1; s <= subint; ++s) {
    const double o = StorageOutflow(queue[b + s], c.Qaus(m, s), share, before, c.cm, c.cf);
    flow[s] = o;
    c.Qaus(m, s) = o;
  }
  c.qvzuq[m] = share;
}

void RouteChannel(ChannelTable& c, double* flow, double dt) {
  for (int m = c.subchannels; m >= 1; --m) RouteSubchannel(c, m, flow, dt);
}

double ChannelContent(const ChannelTable& c) {
  double held = 0.0;
  for (int m = 1; m <= c.subchannels; ++m) {
    const int b = (m - 1) * c.BlockSize();
    for (int k = b + c.subint + 1; k <= c.lastSlot[m]; ++k) held += c.queue[static_cast<size_t>(k)];
    // The two storages act as one of coefficient (1 - p) cm + p cf on the outflow series.
    const double k = (1.0 - c.qvzuq[m]) * c.cm + c.qvzuq[m] * c.cf;
    const double store = k / (1.0 - k);
    for (int s = 1; s <= c.subint; ++s) held += store * c.Qaus(m, s);
  }
  return held / c.subint;
}

void SetSteadyState(ChannelTable& c, double x, double dt) {
  const int d = c.delta[TableRow(c, x, dt)];
  for (int m = 1; m <= c.subchannels; ++m) {
    for (int s = 1; s <= c.subint; ++s) c.Qaus(m, s) = x;
    c.qvzuq[m] = 0.0;
    c.lastSlot[m] = c.BlockSize() * (m - 1) + c.subint + d;
  }
}
