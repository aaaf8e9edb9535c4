#include "processes/snow/snow_physics.h"

#include <algorithm>
#include <cmath>

namespace snow {

namespace {

constexpr int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr double kSeasonFrequency = 0.017214206;  // 2π/365 per day
constexpr double kSeasonPhase = -80.0;            // days

double Pow4(double x) {
  const double x2 = x * x;
  return x2 * x2;
}

// Vapour pressure over ice of a surface at Ts (K).
double SurfaceVapourPressure(double Ts) {
  const double t = Ts - kMeltingPoint;
  return 6.1071 * std::exp(22.4429 * t / (t + 172.44));
}

// Sublimation (E < 0) or condensation (E > 0) on the solid storage; a sublimation larger
// than the snow takes the snow. Returns the amount applied.
double Sublimate(double E, double& solid) {
  if (solid + E < 0.0) {
    E = -solid;
    solid = 0.0;
  } else {
    solid += E;
  }
  return E;
}

// Surface and pack temperature outputs; undefined (no-data) without snow.
void SetTemperatures(const Parameters& p, CellState& s, double surface, double pack) {
  s.surfTemp = surface;
  s.snowTemp = pack;
  if (s.total <= 0.0) s.surfTemp = s.snowTemp = p.nodata;
}

// Everything the energy balance of one call needs besides the storages.
struct Balance {
  double TK, e, Lin, fu, S, QP;
};

// Energy balance under melting conditions; returns w·M.
double WarmBalance(const Parameters& p, const CellInputs& in, CellState& s, const Balance& b, double T, double w,
                   double Ts0, double Tp) {
  const double Ts = p.measuredSurfaceTemperature ? Ts0 : kMeltingPoint;
  const double QE = b.fu * 32.82 * (b.e - 6.1071);
  double E = w * p.stepSeconds * QE / kLatentHeatSublimation;
  const double QH = b.fu * 18.85 * (b.TK - Ts);
  const double Lout = p.LWOUTcorr * kStefanBoltzmann * Pow4(Ts);
  double Q = (b.S + b.Lin - Lout + QH + QE + b.QP + 1.0) * p.EnBalScaling;
  if (Q > 0.0) Tp += w * p.stepSeconds * Q / (kHeatCapacityIce * s.solid + kHeatCapacityWater * s.liquid);
  double M = 0.0;
  if (WetBulbTemperature(T, b.e, AirPressure(in.z)) <= 0.0) {
    // No melt: the energy goes into evaporation (the weight is already in E).
    E -= w * p.stepSeconds * Q / kLatentHeatSublimation;
    Q = 0.0;
  } else {
    M = std::max(0.0, (Tp - kMeltingPoint) * kHeatCapacityIce * s.solid / kLatentHeatFusion);
  }
  if (E < 0.0) s.evaporation = -Sublimate(E, s.solid);
  s.total = s.solid + s.liquid;
  SetTemperatures(p, s, Ts, kMeltingPoint);
  return w * M;
}

// Energy balance under cold conditions: the surface temperature closes the balance;
// refreezing and heat conduction into the pack, no melt.
void ColdBalance(const Parameters& p, CellState& s, const Balance& b, double w, double Ts0, double Tp) {
  double Ts;
  if (s.liquid > 0.0 || b.TK > kMeltingPoint + 2.0)
    Ts = kMeltingPoint;
  else
    Ts = p.measuredSurfaceTemperature ? Ts0 : b.TK - 2.0;
  double QE = 0.0;
  auto balance = [&](double t) {
    QE = b.fu * 32.82 * (b.e - SurfaceVapourPressure(t));
    return b.S + b.Lin - p.LWOUTcorr * kStefanBoltzmann * Pow4(t) + b.fu * 18.85 * (b.TK - t) + QE + b.QP + 1.0;
  };
  double delta = -10.0, Qprev = 0.0;
  bool halving = false;
  double Q = balance(Ts);
  for (int k = 1;; ++k) {
    if (std::fabs(Q) <= 0.25 || k == 151 || p.measuredSurfaceTemperature || s.liquid > 0.0) break;
    const bool signChange = (Q < 0.0 && Qprev > 0.0) || (Q >= 0.0 && Qprev <= 0.0 && k > 1);
    if (signChange) {
      const double r = std::fabs(Q / (Q - Qprev));
      delta = r < 1.0 ? -r * delta : -delta / 2.0;
      halving = true;
    } else if (k == 1 && Q >= 0.0) {
      delta = -delta;
    } else if (halving) {
      delta /= 2.0;
    }
    const double nextTs = Ts + delta;
    const double saveQE = QE;
    const double nextQ = balance(nextTs);
    if (!std::isfinite(nextQ)) {
      // A surface far below any real temperature: keep the last finite state.
      QE = saveQE;
      break;
    }
    Ts = nextTs;
    Qprev = Q;
    Q = nextQ;
  }
  if (!p.measuredSurfaceTemperature) {
    if (b.TK - Ts > 13.0) {
      Ts = b.TK - 13.0;
      QE = b.fu * 32.82 * (b.e - SurfaceVapourPressure(Ts));
    }
    if (Ts > kMeltingPoint) {
      Ts = kMeltingPoint;
      QE = b.fu * 32.82 * (b.e - 6.1071);
    }
  }
  // Heat conduction into the pack, not beyond the surface temperature.
  const double swe = s.solid + s.liquid;
  const double K = 2.0 * 0.3 * 1000.0 * w * p.stepSeconds / (kHeatCapacityIce * swe * swe);
  double Tp1 = Tp + 0.3 * (Ts - Tp) * K;
  Tp1 = Tp < Ts ? std::min(Ts, Tp1) : std::max(Ts, Tp1);
  Tp1 = std::min(kMeltingPoint, Tp1);

  const double E = Sublimate(w * p.stepSeconds * QE / kLatentHeatSublimation, s.solid);
  const double R = -w * p.stepSeconds * Q / kLatentHeatFusion;
  if (R > 0.0 && s.liquid > 0.0) {
    if (s.liquid < R) {
      // All liquid water freezes; its latent heat warms the pack.
      const double frozen = s.liquid;
      s.solid += frozen;
      s.liquid = 0.0;
      const double T1 = Tp1 + frozen * kLatentHeatFusion / (kHeatCapacityIce * s.solid);
      Tp1 = T1 >= Ts - 3.0 ? std::min(kMeltingPoint, T1) : Ts - 3.0;
    } else {
      s.liquid -= R;
      s.solid += R;
    }
  }
  s.total = s.solid + s.liquid;
  s.evaporation = -E;
  SetTemperatures(p, s, Ts, Tp1);
}

double EnergyBalance(const Parameters& p, const CellInputs& in, CellState& s, double T, double w, double P,
                     CellNotes& notes) {
  const double TK = T + kMeltingPoint;
  double Ts = s.surfTemp;
  if (Ts == 0.0 || Ts == p.nodata) {
    Ts = TK - 3.0;
    s.surfTemp = Ts;
  }
  if (p.measuredSurfaceTemperature) Ts = in.surfaceTemperature < 100.0 ? in.surfaceTemperature + kMeltingPoint
                                                                       : in.surfaceTemperature;
  const double Ts0 = std::min(kMeltingPoint, Ts);
  double Tp = s.snowTemp;
  if (Tp == p.nodata || Tp == 0.0) Tp = std::min(TK, kMeltingPoint);

  const double es = TK <= kMeltingPoint ? 6.1071 * std::exp(22.4429 * T / (T + 172.44))
                                        : 6.1078 * std::exp(17.08085 * T / (T + 234.175));
  // A humidity outside 0..1, or a vapour pressure of (almost) nothing, would make the root
  // and the logarithm below undefined: both are limited and the caller counts the cells.
  bool clamped = false;
  double RH = in.RH;
  if (!(RH >= 0.0 && RH <= 1.0)) {
    RH = RH > 1.0 ? 1.0 : 0.0;
    clamped = true;
  }
  double e = es * RH;
  if (!(e >= kMinVapourPressure)) {
    e = kMinVapourPressure;
    clamped = true;
  }
  if (clamped) ++notes.humidityClamped;
  double c;
  if (P > 0.0)
    c = 0.24;
  else if (in.N <= 0.2)
    c = 0.08;
  else if (in.N < 0.6)
    c = 0.17;
  else
    c = 0.2;
  Balance b;
  b.TK = TK;
  b.e = e;
  b.Lin = p.LWINcorr * kStefanBoltzmann * Pow4(TK) * (0.61 + 0.05 * std::sqrt(e)) * (1.0 + c * in.N * in.N);
  if (in.hasCanopyLongwave && p.LWINcorr * in.canopyLongwave > 0.0) b.Lin = p.LWINcorr * in.canopyLongwave;
  b.fu = 0.18 + 0.098 * in.u;
  b.S = (1.0 - in.albedo) * in.G * 60.0 / p.intervalMinutes;
  b.QP = (TK - kMeltingPoint) * (kHeatCapacityWater * s.rainfall + kHeatCapacityIce * s.snowfall) / p.stepSeconds;

  if (s.solid <= 0.0) {
    s.surfTemp = s.snowTemp = p.nodata;
    return 0.0;
  }
  if (T > p.T0) return WarmBalance(p, in, s, b, T, w, Ts0, Tp);
  ColdBalance(p, s, b, w, Ts0, Tp);
  return 0.0;
}

}  // namespace

double SnowShare(double T, double T0R, double transzone, bool lakeWater) {
  if (lakeWater) return 0.0;
  if (T > T0R + transzone) return 0.0;
  if (T <= T0R - transzone) return 1.0;
  return (T0R + transzone - T) / (2.0 * transzone);
}

int SeasonDay(int day, int month) {
  int t = day;
  for (int m = 1; m < month && m <= 12; ++m) t += kMonthLength[m - 1];
  return t;
}

double SeasonalValue(double mean, double amplitude, int day, int month) {
  return mean + amplitude * std::sin((SeasonDay(day, month) + kSeasonPhase) * kSeasonFrequency);
}

double MonthlyValue(const double* v, int day, int month) {
  const int m = std::min(12, std::max(1, month));
  const double x = day;
  if (day < 16) {
    const double x0 = -15.0, x1 = 15.0;
    return v[m - 1] + (v[m] - v[m - 1]) * (x - x0) / (x1 - x0);
  }
  const double x0 = 16.0, x1 = kMonthLength[m - 1] + 16.0;
  return v[m] + (v[m + 1] - v[m]) * (x - x0) / (x1 - x0);
}

double AirPressure(double z) { return 1013.25 * std::pow(1.0 - 0.0065 * z / 288.15, 5.255); }

double WetBulbTemperature(double T, double e, double p) {
  const double x = 0.622 * e / (p - e);
  const double L = std::log(x * p / ((x + 0.622) * 6.112));
  const double Td = 272.62 * L / (22.46 - L);
  double Tw = (Td + 2.0 * T) / 3.0;
  double delta = (T + Tw) / 2.0;
  for (int i = 0; i < 15; ++i) {
    const double F = 6.1115 * std::exp(22.46 * Tw / (Tw + 272.62)) - 0.00066 * p * (T - Tw) * (1.0 + 0.00115 * Tw);
    if (e < F)
      delta = -delta;
    else
      delta = std::fabs(delta) / 2.0;
    Tw += delta;
    if (std::fabs(delta) <= 0.025) break;
  }
  return Tw;
}

double CellStep(const Parameters& p, const DayValues& d, CellInputs& in, CellState& s, double T, double w,
                double sAdd, bool noNewPrecipitation, CellNotes& notes) {
  const int m = p.method;
  double Psnow, Prain;
  if (!noNewPrecipitation) {
    const double share = SnowShare(T, p.T0R, p.transzone, in.lakeWater);
    Psnow = share * in.P;
    Prain = (1.0 - share) * in.P;
    if (UsesDepositionIndex(m)) {
      in.P += Psnow * in.DI;
      Psnow *= 1.0 + in.DI;
    }
    Psnow += sAdd;
    s.snowfall = Psnow;
    s.rainfall = Prain;
  } else {
    Psnow = s.snowfall;
    Prain = s.rainfall;
  }
  s.solid += w * Psnow;
  s.liquid += w * Prain;
  s.total = s.solid + s.liquid;
  s.evaporation = 0.0;

  if (IsEnergyBalance(m)) return EnergyBalance(p, in, s, T, w, in.P, notes);

  const double n = p.stepsPerDay;
  if (T <= p.T0) {
    if (IsCombination(m)) {
      const double R = w * std::fabs(p.CRFR * d.RMF * (T - p.T0) / n);
      if (R <= s.liquid) {
        s.liquid -= R;
        s.solid += R;
      } else {
        s.solid += s.liquid;
        s.liquid = 0.0;
      }
      s.total = s.solid + s.liquid;
    }
    return 0.0;
  }
  if (s.solid <= 0.0) return 0.0;
  double M = 0.0;
  if (IsTemperatureIndex(m)) {
    M = (T - p.T0) * d.DDF / n;
  } else if (IsTemperatureWindIndex(m)) {
    M = (T - p.T0) * (d.a + d.b * in.u) / n;
  } else if (IsCombination(m)) {
    if (in.P <= 2.4 / n) {
      const double f = in.hasRadCorrection ? (in.radCorrection + 1.0) / 2.0 : 1.0;
      M = f * d.RMF * (T - p.T0) / n;
    } else {
      const double e = m == 3 ? SatVapPressIce(T) : in.vapourPressure;
      const double ab = d.a + d.b * in.u;
      M = (ab * (e - 6.11) / 0.662 + ab * T + 0.6 * T) / n + 0.006 * in.P * T;
    }
  }
  return w * M;
}

void PermafrostStep(double swe, double maxSweSnowFree, double minSnowAgeRefreeze, double thawCoefficient,
                    double stepsPerDay, PermafrostCell& c) {
  if (swe <= maxSweSnowFree) {
    c.snowCoverDays = 0.0;
    c.snowFreeDays += 1.0 / stepsPerDay;
    if (c.snowFreeDays > 0.0) c.thawDepth = std::max(0.0, thawCoefficient) * std::sqrt(c.snowFreeDays);
  } else {
    c.snowCoverDays += 1.0 / stepsPerDay;
    if (c.snowCoverDays >= minSnowAgeRefreeze) {
      c.snowFreeDays = 0.0;
      c.thawDepth = 0.0;
    }
  }
  if (c.rootDepth > c.thawDepth) c.rootDepth = std::max(0.0, c.thawDepth);
}

}  // namespace snow
