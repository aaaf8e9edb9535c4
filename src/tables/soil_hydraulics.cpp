// Hydraulic and thermal functions of a soil row: the van Genuchten retention and
// conductivity tables of each layer and the lookups in them, the layer conductivities of a
// partly frozen profile, layer heat capacities, and the capacity tables of the soil model.
// Everything here works on the row alone (no I/O) and only reads it after start-up.
#include <algorithm>
#include <cmath>

#include "tables/soil_table.h"

namespace {

// The suction points of the van Genuchten tables, entries 1..30 (entry 0 is suction 0).
constexpr double kSuctionAxis[SoilTableEntry::kTablePoints + 1] = {
    0.0,  0.0,  0.0005, 0.001, 0.002, 0.005, 0.007, 0.01, 0.02, 0.03,  0.05,  0.07,  0.1,   0.15,  0.2,  0.3,
    0.4,  0.6,  0.8,    1.2,   1.6,   2.6,   3.45,  6.9,  20.0, 35.0,  50.0,  75.0,  100.0, 125.0, 150.0};

constexpr double kLnTinyConductivity = -52.95945713886305;  // ln(1e-23)

// Largest index j in 1..last with values[j] above x, for values falling with the index;
// kept within 1..last-1 so that j + 1 is a valid entry whatever x is (also NaN).
int FallingBracket(const std::vector<double>& values, int last, double x) {
  int lo = 1, hi = last;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    if (x >= values[static_cast<size_t>(mid)])
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return std::max(1, std::min(hi, last - 1));
}

// Interpolates out-values between entries j and j + 1 for x between keys[j] and keys[j+1].
double InterpolateBetween(const std::vector<double>& keys, const std::vector<double>& out, int j, double x) {
  const double a = keys[static_cast<size_t>(j)], b = keys[static_cast<size_t>(j) + 1];
  const double w = a != b ? (x - b) / (a - b) : 0.0;
  return w * out[static_cast<size_t>(j)] + (1.0 - w) * out[static_cast<size_t>(j) + 1];
}

// Interpolates a capacity-table value at y = N * suction / suctionMin.
double TableAt(const std::vector<double>& table, int n, double y) {
  if (std::isnan(y)) return table[0];
  const double whole = std::trunc(y);
  const double f = y - whole;
  size_t first = 0, second = 1;
  if (whole >= n) {
    first = static_cast<size_t>(n) - 1;
    second = static_cast<size_t>(n);
  } else if (whole >= 0) {
    first = static_cast<size_t>(whole);
    second = first + 1;
  }
  return (1.0 - f) * table[first] + f * table[second];
}

}  // namespace

void SoilTableEntry::MakeVanGenuchtenTables(int l) {
  if (l < 0 || l > layerCount || static_cast<size_t>(l) >= theta_sat.size()) return;
  const size_t L = static_cast<size_t>(layerCount) + 1;
  for (auto* t : {&thetaForConductivity, &relConductivity, &thetaForSuction, &suctionAxis})
    if (t->size() < L) t->resize(L);
  const int P = std::max(2, std::min<int>(conductivityPoints, kTablePoints));
  const int Q = std::max(2, std::min<int>(suctionPoints, kTablePoints));
  const size_t i = static_cast<size_t>(l);
  const double ts = theta_sat[i], tr = theta_res[i], a = alpha[i], n = Par_n[i], m = Par_m[i], tau = Par_tau[i];
  auto& tc = thetaForConductivity[i];
  auto& kr = relConductivity[i];
  auto& tsu = thetaForSuction[i];
  auto& axis = suctionAxis[i];
  tc.assign(static_cast<size_t>(P) + 1, 0.0);
  kr.assign(static_cast<size_t>(P) + 1, 0.0);
  tsu.assign(static_cast<size_t>(Q) + 1, 0.0);
  axis.assign(kSuctionAxis, kSuctionAxis + Q + 1);
  tsu[0] = ts;
  tc[0] = tc[1] = ts;
  tsu[static_cast<size_t>(Q)] = tr;
  tc[static_cast<size_t>(P)] = tr;
  kr[0] = 1.0;  // the curve at suction 0
  auto saturation = [&](double psi) { return std::pow(1.0 / (1.0 + std::pow(a * psi, n)), m); };
  const int common = std::min(P, Q);
  for (int k = 1; k < common; ++k) {
    const size_t kk = static_cast<size_t>(k);
    const double se = saturation(axis[kk]);
    const double theta = tr + (ts - tr) * se;
    tsu[kk] = tc[kk] = theta;
    const double g = 1.0 - std::pow(1.0 - std::pow(se, 1.0 / m), m);
    kr[kk] = std::pow(se, tau) * g * g;
  }
  for (int k = common; k < Q; ++k) tsu[static_cast<size_t>(k)] = tr + (ts - tr) * saturation(axis[static_cast<size_t>(k)]);
  kr[static_cast<size_t>(P)] = 0.0;
}

double SoilTableEntry::SuctionFromWaterContent(int l, double theta, double low, double high) const {
  if (l < 0 || static_cast<size_t>(l) >= thetaForSuction.size() || thetaForSuction[static_cast<size_t>(l)].empty())
    return 0.0;
  const size_t i = static_cast<size_t>(l);
  const auto& C = thetaForSuction[i];
  const auto& D = suctionAxis[i];
  const int Q = static_cast<int>(C.size()) - 1;
  if (low > 0 && high > 0) theta = theta_res[i] + (theta - low) / (high - low) * (theta_sat[i] - theta_res[i]);
  if (C[static_cast<size_t>(Q)] >= theta) return D[static_cast<size_t>(Q)];
  if (theta >= C[1]) return 0.0;
  return InterpolateBetween(C, D, FallingBracket(C, Q, theta), theta);
}

double SoilTableEntry::RelConductivityFromWaterContent(int l, double theta, double factor, double low,
                                                        double high) const {
  if (l < 0 || static_cast<size_t>(l) >= thetaForConductivity.size() ||
      thetaForConductivity[static_cast<size_t>(l)].empty())
    return 0.0;
  const size_t i = static_cast<size_t>(l);
  const auto& A = thetaForConductivity[i];
  const auto& B = relConductivity[i];
  const int P = static_cast<int>(A.size()) - 1;
  const double tr = theta_res[i];
  const double delta = (low > 0 && high > 0) ? (theta_sat[i] - tr) * (theta - low) / (high - low) : theta - tr;
  const double t = std::max(tr, tr + factor * delta);
  if (A[static_cast<size_t>(P)] > t) return B[static_cast<size_t>(P)];
  if (t >= A[1]) return 1.0;
  return InterpolateBetween(A, B, FallingBracket(A, P, t), t);
}

double SoilTableEntry::WaterContentFromSuction(int l, double psi, double low, double high) const {
  if (l < 0 || static_cast<size_t>(l) >= suctionAxis.size() || suctionAxis[static_cast<size_t>(l)].empty())
    return 0.0;
  const size_t i = static_cast<size_t>(l);
  const auto& D = suctionAxis[i];
  const auto& C = thetaForSuction[i];
  const int Q = static_cast<int>(D.size()) - 1;
  if (psi >= D[static_cast<size_t>(Q)]) return C[static_cast<size_t>(Q)];
  int lo = 1, hi = Q;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    if (D[static_cast<size_t>(mid)] >= psi)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  const size_t j = static_cast<size_t>(std::max(0, std::min(hi, Q - 1)));
  double theta;
  if (D[j + 1] - D[j] < 0.001) {
    theta = C[j];
  } else {
    const double w = (psi - D[j]) / (D[j + 1] - D[j]);
    theta = (1.0 - w) * C[j] + w * C[j + 1];
  }
  if (high > 0 && low > 0) {
    const double range = theta_sat[i] - theta_res[i];
    return range != 0.0 ? low + (theta - theta_res[i]) / range * (high - low) : low;
  }
  return theta;
}

void SoilTableEntry::LayerConductivities(double* out, const double* f, const double* theta,
                                         const double* thetaRef) const {
  for (int l = 1; l <= layerCount && static_cast<size_t>(l) < ksat.size(); ++l) {
    const size_t i = static_cast<size_t>(l);
    if (!f) {
      out[l] = ksat[i];
      continue;
    }
    double r = theta[l] / thetaRef[l];
    if (r <= 0) r = 0.001;
    if (r > 1) r = 1.0;
    const double k = RelConductivityFromWaterContent(l, theta[l], 1.0, -1.0, -1.0) * ksat[i];
    const double w = (1.0 - f[l]) * r;
    const double lnK = k > 0 ? std::log(k) : kLnTinyConductivity;
    out[l] = std::exp((1.0 - w) * lnK + w * lnKMinFrozen);
  }
}

void SoilTableEntry::LayerHeatCapacities(int o, const double* T, double* out, const double* phi, const double* a,
                                         const double* water, double s, double cAlt, double cLiquid,
                                         double cFrozen) const {
  for (int l = 1; l <= layerCount && static_cast<size_t>(l) < DryDensity.size(); ++l) {
    const int i = o + l;
    double c;
    if (T[i] < -20.0)
      c = cFrozen;
    else if (T[i] >= 0.0)
      c = cLiquid;
    else
      c = (T[i] / 20.0 + 1.0) * cLiquid + (T[i] / -20.0) * cFrozen;
    const double mixed = phi[i] * cAlt + (1.0 - phi[i]) * c;
    out[i] = s * water[i] * mixed + DryDensity[static_cast<size_t>(l)] * DryHeatCapacity[static_cast<size_t>(l)] + a[i];
  }
}

void SoilTableEntry::SetPsiFC(int mode, double value) {
  if (mode == 0 || (mode == 1 && psiFCUnassigned)) std::fill(psi_FC.begin(), psi_FC.end(), value);
}

void SoilTableEntry::MakeCapacityTables(int l, double scale) {
  if (l < 0 || l > layerCount || static_cast<size_t>(l) >= alpha.size() || capacitySteps < 1) return;
  const size_t L = static_cast<size_t>(layerCount) + 1;
  const size_t N = static_cast<size_t>(capacitySteps);
  for (auto* t : {&saturationTable, &capacityTable, &suctionShiftTable}) {
    if (t->size() < L) t->resize(L);
    (*t)[static_cast<size_t>(l)].assign(N + 1, 0.0);
  }
  auto& S = saturationTable[static_cast<size_t>(l)];
  auto& C = capacityTable[static_cast<size_t>(l)];
  auto& shift = suctionShiftTable[static_cast<size_t>(l)];
  const double h = suctionMin / static_cast<double>(N);
  const double a = alpha[static_cast<size_t>(l)], n = Par_n[static_cast<size_t>(l)], m = Par_m[static_cast<size_t>(l)];
  S[0] = 1.0;
  C[0] = 0.0;
  double cMax = 0.0, psiStar = 0.0;
  for (size_t i = 1; i <= N; ++i) {
    const double psi = static_cast<double>(i) * h;
    const double xa = std::fabs(psi * scale) * a;
    S[i] = std::pow(1.0 / (1.0 + std::pow(xa, n)), m);
    C[i] = n * m * a * scale * std::pow(xa, n - 1.0) * std::pow(std::pow(xa, n) + 1.0, -m - 1.0);
    if (C[i] > cMax) {
      cMax = C[i];
      psiStar = psi;
    }
  }
  for (size_t j = 0; j <= N; ++j) {
    const double c = static_cast<double>(j) / static_cast<double>(N) * cMax;
    double psiC = static_cast<double>(N) * h;
    if (!(C[N] > c)) {
      size_t k = N;
      while (c > C[k] && k > 0) --k;
      // Stopping at the last entry (c equal to it) leaves no upper neighbour: the table's end.
      if (k < N) {
        const double w = C[k] != C[k + 1] ? (c - C[k + 1]) / (C[k] - C[k + 1]) : 1.0;
        psiC = h * (w * static_cast<double>(k) + (1.0 - w) * static_cast<double>(k + 1));
      }
    }
    if (psiC >= psiStar)
      shift[j] = 0.0;
    else if (psiC < 1.2999999999999998 * psiStar)
      shift[j] = psiC - 1.15 * psiStar;
    else
      shift[j] = psiC - psiStar * (1.0 + 0.1499999999999999 * (psiC - psiStar) / (0.2999999999999998 * psiStar));
  }
}

double SoilTableEntry::LookupTable(int l, double x) const {
  if (l < 0 || static_cast<size_t>(l) >= suctionShiftTable.size() || suctionShiftTable[static_cast<size_t>(l)].empty())
    return 0.0;
  const auto& T = suctionShiftTable[static_cast<size_t>(l)];
  const int N = static_cast<int>(T.size()) - 1;
  const double y = N * x;
  if (!(y > -1.0)) return std::fabs(T[0]);  // truncates below 0 (NaN too)
  if (y >= N) return std::fabs(T[static_cast<size_t>(N)]);
  const int i = static_cast<int>(y);
  const double f = y - i;
  return std::fabs((1.0 - f) * T[static_cast<size_t>(i)] + f * T[static_cast<size_t>(i) + 1]);
}

// One layer's saturation and capacity from its suction and effective saturation (both 0
// when the layer has no capacity tables).
static void StateLookup(const SoilTableEntry& row, int l, double psi, double se, bool equalMinInside, double& sat,
                        double& cap) {
  const size_t i = static_cast<size_t>(l);
  if (i >= row.saturationTable.size() || row.saturationTable[i].size() < 2) {
    sat = cap = 0.0;
    return;
  }
  if (psi > 0) {
    sat = 1.0;
    cap = 0.0;
    return;
  }
  if (psi < row.suctionMin || (psi == row.suctionMin && !equalMinInside)) {
    sat = cap = 0.0;
    return;
  }
  const double shifted = psi + row.LookupTable(l, se);
  if (shifted >= 0) {
    sat = 1.0;
    cap = 0.0;
    return;
  }
  const int N = static_cast<int>(row.saturationTable[i].size()) - 1;
  const double y = N * shifted / row.suctionMin;
  sat = TableAt(row.saturationTable[i], N, y);
  cap = TableAt(row.capacityTable[i], N, y);
}

void SoilTableEntry::SaturationFromState(double* out, const double* psi, const double* theta) const {
  for (int l = 1; l <= layerCount && static_cast<size_t>(l) < theta_sat.size(); ++l) {
    const size_t i = static_cast<size_t>(l);
    const double se = (theta[l] - theta_res[i]) / (theta_sat[i] - theta_res[i]);
    double cap;
    StateLookup(*this, l, psi[l], se, false, out[l], cap);
  }
}

void SoilTableEntry::CapacityFromState(double* out, const double* psi, const double* theta) const {
  for (int l = 1; l <= layerCount && static_cast<size_t>(l) < theta_sat.size(); ++l) {
    const size_t i = static_cast<size_t>(l);
    const double se = (theta[l] - theta_res[i]) / (theta_sat[i] - theta_res[i]);
    double sat;
    StateLookup(*this, l, psi[l], se, true, sat, out[l]);
  }
}

void SoilTableEntry::SaturationAndCapacityFromState(int o, double* outS, double* outC, const double* psi,
                                                    const double* theta, const double* thetaLow,
                                                    const double* thetaHigh) const {
  for (int l = 1; l <= layerCount; ++l) {
    const int k = o + l;
    const double se = (theta[k] - thetaLow[l]) / (thetaHigh[l] - thetaLow[l]);
    StateLookup(*this, l, psi[k], se, false, outS[k], outC[k]);
  }
}
