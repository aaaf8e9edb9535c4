#include <cmath>

#include "framework/logstream.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"

namespace {

void SetForms(BalanceTerm& t, double ts, double area) {
  t.m3s = t.m3 / ts;
  t.mm = area > 0.0 ? t.m3 / area * 1000.0 : 0.0;
}

// The prescribed value of a mode-9 abstraction for index k (0: the reservoir's outflow);
// replaced: whether an object lists k, value: its amount (m3/s), first: k heads its list.
bool Prescribed(std::vector<AL_class*>& abstractions, int k, const StepDate& date, double& value, bool& first) {
  for (AL_class* a : abstractions) {
    if (!a || a->mode != kAbstractReservoirFile) continue;
    for (size_t i = 0; i < a->replaced.size(); ++i) {
      if (a->replaced[i] != k) continue;
      double v = 0.0;
      if (!a->FileValue(date, v)) return false;
      value = v;
      first = i == 0;
      return true;
    }
  }
  return false;
}

}  // namespace

void SP_class::Abstractions(std::vector<AL_class*>& abstractions, std::vector<double>& acc, double reference,
                            double& v, const StepDate& date) const {
  for (size_t k = 0; k < abstractions.size(); ++k) {
    AL_class* al = abstractions[k];
    if (!al || al->mode != kAbstractReservoirRule) continue;
    double a = dTmin * al->ComputeAbstraction(reference, date);
    double file = 0.0;
    bool first = false;
    if (Prescribed(abstractions, static_cast<int>(k) + 1, date, file, first)) a = first ? dTmin * file : 0.0;
    if (a < 0.0) a = 0.0;
    if (connection.on) {
      a = std::min(a, std::max(0.0, v));
    } else {
      // Leave at least 90 % of the reference volume in the reservoir.
      const double excess = 0.9 * reference - (v - a);
      if (excess > 0.0) a = std::max(0.0, a - excess);
      a = std::min(a, std::max(0.0, v));
    }
    v -= a;
    acc[k] = a + std::max(0.0, acc[k]);
  }
}

double SP_class::TableOutflow(double vx, double v, double qin, const RuleChoice& ch) const {
  const OperatingRules& t = rules;
  const int n = t.rows;
  if (n <= 0) return 0.0;
  const int r = ch.r;
  const bool blend = r > 0;
  const double w = ch.w, w1 = 1.0 - ch.w;
  if (t.flowTable) return FlowTableValue(t, ch, vx);
  const double vn = t.first[n - 1];
  if (v <= vn) {
    double q = 0.0;
    return VolumeTableValue(t, ch, vx, q) ? q : 0.0;
  }
  // Above the table: extrapolated with the last slope; spill.
  const int last = n >= 2 ? n - 2 : 0;
  double q = t.column[r][n - 1] + (n >= 2 ? t.slope[r][last] : 0.0) * (v - vn);
  if (blend) q = w * q + w1 * (t.column[r - 1][n - 1] + (n >= 2 ? t.slope[r - 1][last] : 0.0) * (v - vn));
  if (!lake) return qin;
  if (static_cast<int>(levels.size()) >= n && W > levels[n - 1] + 0.5) q = std::max(qin, q);
  return q;
}

double SP_class::TimeStep(std::vector<AL_class*>& abstractions, const StepDate& date, double qin, double dt,
                          double timeOffset) {
  const int steps = static_cast<int>(std::floor(60.0 * dt / dTmin));
  std::vector<double> acc(abstractions.size(), 0.0);
  double qf = 0.0;
  bool first = false;
  const bool prescribed = Prescribed(abstractions, 0, date, qf, first);

  double v = state[0];
  const int window = std::max(1, static_cast<int>(std::floor(useRunningAvg * 60.0 / dt)));
  runningAvg.push_back(v);
  while (static_cast<int>(runningAvg.size()) > window) runningAvg.pop_front();
  double vavg = v;
  if (runningAvg.size() > 1) {
    double sum = 0.0;
    for (double x : runningAvg) sum += x;
    vavg = sum / runningAvg.size();
  }

  double result = 0.0;
  if (connection.on) {
    double wt = connection.bottom;
    if (registry_) {
      auto it = registry_->find(connection.target);
      if (it == registry_->end() || !it->second.level) {
        if (c_.log)
          *c_.log << "FATAL: reading HydraulicConnection parameters for SP " << number << ": TargetReservoir "
                  << connection.target << " does not exist\n" << "[end-entry]";
        throw 29;
      }
      wt = *it->second.level;
    }
    double w = W;
    const double zb = connection.bottom;
    for (int j = 0; j < steps; ++j) {
      if (A > 0.0) w += dTmin * qin / A;
      double q = prescribed ? qf : ConnectionFlow(connection, w, wt);
      if (A > 0.0) {
        w -= dTmin * q / A;
        if (w < zb && W > zb) {
          q -= (zb - w) * A / dTmin;
          w = zb;
        }
      }
      v += dTmin * qin - dTmin * q;
      if (v < 0.0) {
        q += v / dTmin;
        v = 0.0;
      }
      result += q / steps;
      Abstractions(abstractions, acc, v, v, date);
    }
  } else {
    const RuleChoice choice = ChooseRule(rules, RuleDayOfYear(date, c_.stampToStepEndHours));
    bool active = false;
    if (date.month >= 1 && !rules.weekDays.empty())
      active = RuleActive(rules, choice.r,
                          WeekdayOf(date.year, date.month, date.day, date.hour, 0, timeOffset), date.hour);
    const double cap = rules.targetCap.empty() ? -1.0 : rules.targetCap[choice.r];
    for (int j = 0; j < steps; ++j) {
      if (date.year >= 1) v += qin * dTmin;
      const double vx = useRunningAvg > 1 ? vavg : v;
      double q = prescribed ? qf : (active ? TableOutflow(vx, v, qin, choice) : 0.0);
      if (cap > 0.0) q = std::min(q, cap);
      if (date.year >= 1) {
        v -= q * dTmin;
        if (v < 0.0) {
          q += v / dTmin;
          v = 0.0;
        }
      }
      result += std::max(0.0, q) / steps;
      Abstractions(abstractions, acc, vx, v, date);
    }
  }
  for (size_t k = 0; k < abstractions.size(); ++k)
    if (abstractions[k] && abstractions[k]->mode == kAbstractReservoirRule) abstractions[k]->amount = acc[k] / (60.0 * dt);
  if (date.year >= 1)
    for (AL_class* a : abstractions)
      if (a && a->mode == kAbstractReservoirFile) a->AdvanceFileRow();
  return result;
}

void SP_class::BeginStep(double inflow, const double* cin, std::vector<AL_class*>& abstractions, const StepDate& date,
                         int runoffFactor, int conversion, int s, double dt, double irrigation, double abstraction) {
  const double ts = 60.0 * dt;
  const double c2 = c_.geometry.cellsize * c_.geometry.cellsize;
  const double f = runoffFactor > 0 ? runoffFactor : 1.0;
  const int n = c_.tracers;
  const LakeGrids& g = c_.grids;
  if (lake) A = 0.0;
  for (BalanceTerm* t : {&Qin, &QoutTerm, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err}) *t = BalanceTerm{};
  Irrig.m3 = irrigation;
  Abstr.m3 = abstraction;
  Qin.m3s = inflow;
  Qin.m3 = ts * inflow;

  previous = state;
  if (lake) {
    const bool groundwater = g.qDown && g.baseflow;
    const bool drawnOnKnown = !drawnOn_.empty();
    size_t i = 0;
    for (int r = firstRow; r <= lastRow; ++r)
      for (int c = firstCol; c <= lastCol; ++c, ++i) {
        const bool drawnOn = drawnOnKnown && drawnOn_[i] != 0;
        if ((!drawnOn && !(g.ponding[r][c] > 0.0)) || g.lakeCodes[r][c] != number) continue;
        // The lake's evaporation is what evapotranspiration took from the water the cells
        // held before the step: not the soil evaporation of a cell that the step's rain
        // wetted, nor that of a shallow cell, nor the evaporation of snow lying on the
        // water. A cell the step emptied still counts.
        if (drawnOn && g.evaporation)
          ETR.m3 += (g.evaporation[r][c] - (g.interceptionEvaporation ? g.interceptionEvaporation[r][c] : 0.0) -
                     (g.snowEvaporation ? g.snowEvaporation[r][c] : 0.0)) *
                    c2 / 1000.0 / f;
        if (!(g.ponding[r][c] > 0.0)) continue;
        if (groundwater) {
          const double q = g.qDown[r][c];
          if (std::fabs(q) <= 1e-10) QGW.m3 -= ts * c2 * g.baseflow[r][c];
          else QGW.m3 += ts * c2 * q;
        }
        if (g.precipitation) PREC.m3 += c2 * g.precipitation[r][c] / 1000.0 / f;
      }
    std::vector<double> gathered;
    SumLakeCells(gathered);
    if (s >= 2) {
      if (conversion == 0) {
        storedBalance = QGW.m3 - ETR.m3 - Irrig.m3 - Abstr.m3 + PREC.m3;
        gathered[0] -= (s - 1) * storedBalance;
      } else {
        gathered[0] += storedBalance;
      }
    }
    A = c2 * UpdateLakeLevel(gathered[0]);
    state = gathered;
  }

  // Withdrawals take what is there, no more.
  double& V = state[0];
  Irrig.m3 = std::min(Irrig.m3, std::max(0.0, V));
  V = std::max(0.0, V - Irrig.m3);
  Abstr.m3 = std::min(Abstr.m3, V);
  V -= Abstr.m3;
  withdrawalGiven = Abstr.m3;

  date_ = date;
  if (date.year >= 1) {
    for (int k = 1; k <= n; ++k) {
      if (k <= static_cast<int>(c_.tracerTypes.size()) && c_.tracerTypes[k - 1] == 1 &&
          k <= static_cast<int>(c_.tracerFactors.size()))
        state[k] *= c_.tracerFactors[k - 1];
      state[k] = WeightedMean(state[k], cin ? cin[k] : 0.0, V, ts * inflow);
    }
  }

  Qout = TimeStep(abstractions, date, Qin.m3s, dt, c_.timeOffset);

  double total = Abstr.m3;
  if (date.year < 1) {
    if (V < Qout * ts) Qout = V / ts;
  } else {
    V += ts * inflow;
    for (AL_class* a : abstractions) {
      if (!a || a->mode != kAbstractReservoirRule) continue;
      double take = std::max(0.0, ts * a->amount);
      if (take > V) take = std::max(0.0, V);
      a->amount = take / ts;
      V -= take;
      total += take;
    }
    if (V < Qout * ts) Qout = V / ts;
    V -= ts * Qout;
    if (V < 0.0) V = 0.0;
    UpdateLakeLevel(V);
  }

  QoutTerm.m3 = ts * Qout;
  if (!lake) {
    dV.m3 = Qin.m3 - total - QoutTerm.m3;
    if (A > 0.0 && date.year >= 1) W += dV.m3 / A;
  } else {
    dV.m3 = QGW.m3 + Qin.m3 + PREC.m3 - ETR.m3 - Irrig.m3 - total - QoutTerm.m3;
    Err.m3 = (V - previous[0]) - dV.m3;
  }
  Abstr.m3 = total;
  for (BalanceTerm* t : {&Qin, &QoutTerm, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err}) SetForms(*t, ts, A);
}
