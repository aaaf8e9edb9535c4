#include "processes/soil/soil_cell.h"

#include <algorithm>
#include <cmath>

namespace soilcell {

double Reflow(double SIF, double SB, double nFK, double SHmax, double Rrueck) {
  if (!(SHmax > 0.001) || !(nFK > 0.0) || SIF <= 0.0) return 0.0;
  const double freeSpace = (1.0 - SB) * nFK;
  const double ratio = SIF / SHmax;
  const double reflow = SIF <= freeSpace ? SIF * ratio * Rrueck : ratio * freeSpace * Rrueck;
  // The store cannot give more than it holds.
  return std::max(0.0, std::min(reflow, SIF));
}

namespace {

// The inactive store hands capacity to the saturated zone: the water held in that capacity
// goes with it and lowers the deficit; the store keeps its relative filling.
void ShrinkInactiveStore(SoilCellState& s, double newCapacity) {
  s.SD -= s.SBia * (s.nFKia - newCapacity);
  s.nFKia = newCapacity;
}

// The cell is saturated up to the soil storage: the inactive store joins the saturated zone.
void MergeInactiveStore(SoilCellState& s) {
  ShrinkInactiveStore(s, 0.0);
  s.SBia = 1.0;
}

}  // namespace

bool CapillaryExchange(SoilCellState& s, double nFK, double R, double& sspNew, double& flow) {
  flow = 0.0;
  if (s.SD >= R) {
    // Water table below the reach: the saturated partition may shrink the inactive store.
    sspNew = R > 0.0 ? 1.0 - s.SD / R : 1.0;
    const double limit = nFK > 0.0 ? 1.0 - s.nFKia / nFK : 1.0;
    if (sspNew > limit) ShrinkInactiveStore(s, std::max(0.0, -sspNew * nFK));  // never a negative capacity
    s.SSP = sspNew;
    return true;
  }
  if (s.SD <= 0.1) {
    sspNew = 1.0;
    s.SSP = 1.0;
    flow = nFK > 0.0 ? (1.0 - s.SB) * nFK : 0.0;
    s.SD += flow;
    s.SB = 1.0;
    MergeInactiveStore(s);
    return true;
  }
  sspNew = 1.0 - s.SD / R;
  const double d = s.SBold - s.SB;
  if (sspNew <= s.SSP) {
    flow = d * sspNew * nFK;
  } else {
    if (s.SSP >= 1.0) return false;
    flow = d * s.SSP * nFK + (sspNew - s.SSP) * ((1.0 - s.SB) * nFK - d * s.SSP * nFK) / (1.0 - s.SSP);
  }
  if (!(nFK > 0.0)) flow = 0.0;
  s.SD += flow;
  if (nFK > 0.0) s.SB += flow / nFK;
  MergeInactiveStore(s);
  s.SSP = sspNew;
  return true;
}

void FillSoilStorage(SoilCellState& s, double water, double Pgrenz, double nFK) {
  if (!(nFK > 0.0)) {
    // No soil store (sealed, open water, rock): everything goes to the unsaturated zone.
    s.SUZ += water;
    s.SB = 1.0;
    s.SBold = s.SB;
    return;
  }
  if (water <= Pgrenz) {
    s.SB += water / nFK;
  } else {
    s.SB += Pgrenz / nFK;
    s.SUZ += water - Pgrenz;
  }
  if (s.SB > 1.0) {
    const double excess = (s.SB - 1.0) * nFK;
    s.SB = 1.0;
    if (s.nFKia < 1.0) {
      s.SUZ += excess;
    } else {
      s.SBia += excess / s.nFKia;
      if (s.SBia > 1.0) {
        // The full store keeps its capacity and its water; only what it cannot hold moves on.
        s.SUZ += (s.SBia - 1.0) * s.nFKia;
        s.SBia = 1.0;
      }
    }
  }
  s.SBold = s.SB;
}

double InterflowStep(SoilCellState& s, double SHmax, double kQI, double& qdOverflow) {
  const double level = s.SD - SHmax;
  if (level < s.SUZ) {
    if (SHmax <= s.SD) {
      s.SIF += s.SUZ - level;
      s.SUZ = level;
    } else {
      s.SIF += s.SUZ;
      s.SUZ = 0.0;
    }
  }
  if (s.SIF > SHmax) {
    qdOverflow = s.SIF - SHmax;
    s.SIF = SHmax;
  } else {
    qdOverflow = 0.0;
  }
  const double qi = (1.0 - kQI) * s.SIF;
  s.SIF -= qi;
  return qi;
}

double Drainage(SoilCellState& s, double conductivity, double Kkorr, double m) {
  double q = conductivity * Kkorr;
  if (s.SD >= 0.0) q *= std::exp(-s.SD / m);
  const double drained = std::min(s.SUZ, q);
  s.SUZ -= drained;
  return drained;
}

double SlowBaseflowInflow(double alpha, double SD, double m) {
  return SD >= 0.0 ? alpha * std::exp(-SD / m) : alpha;
}

void Step(SoilCellState& s, const SoilCellInputs& in, const SubbasinParameters& p, SoilCellOutputs& out) {
  const double nFK = in.nFK;
  const double R = in.porosity * 1000.0 * in.rootDepth * p.Rrueck;

  // Reflow from the interflow storage.
  const double reflow = soilcell::Reflow(s.SIF, s.SB, nFK, p.SHmax, p.Rrueck);
  s.SIF -= reflow;
  if (nFK > 0.0) s.SB += reflow / nFK;

  out.capillaryFailed = !CapillaryExchange(s, nFK, R, out.sspNew, out.capillaryFlow);
  if (out.capillaryFailed) return;

  // Water input, less the snowmelt share that runs off directly.
  double w = in.water;
  double snowShare = 0.0;
  if (in.snowSolid > 10.0 && w > 0.0) {
    snowShare = w * p.QDsnow;
    w -= snowShare;
  }
  out.waterLeft = w;
  FillSoilStorage(s, w, p.Pgrenz, nFK);

  double overflow = 0.0;
  out.QI = InterflowStep(s, p.SHmax, p.kQI, overflow);
  out.QD = overflow + snowShare + in.infiltrationExcess;
  out.QSUZ = Drainage(s, in.conductivity, p.Kkorr, p.m);
  out.QBBin = in.slowBaseflow ? SlowBaseflowInflow(p.alpha, s.SD, p.m) : 0.0;
}

int TravelTimeZone(double seconds, double dtMinutes) {
  if (!std::isfinite(seconds) || !(dtMinutes > 0.0)) return 1;
  const double zone = std::ceil(seconds / 60.0 / dtMinutes);
  if (!(zone >= 1.0)) return 1;
  if (zone > 1.0e6) return 1000000;  // far beyond any basin; keeps the zone tables bounded
  return static_cast<int>(zone);
}

double StabilityIndex(double soilDepth, double density, double cohesion, double frictionAngle,
                      double slopeDegrees, double SD, double porosity) {
  const double z = soilDepth;
  const double beta = slopeDegrees * 3.14159265359 / 180.0;
  if (z <= 0.0 || density <= 0.0 || beta <= 0.0 || beta >= 1.570796326795) return -1.0;
  double h = 0.0;
  if (SD >= 0.0 && porosity > 0.0) h = std::min(z, std::max(0.0, z - (SD / 1000.0) / porosity));
  return (cohesion / (z * 9.81 * density) + (1.0 - (h / z) * 999.7 / density) * std::cos(beta) * std::tan(frictionAngle)) /
         std::sin(beta);
}

double FreePoreFraction(double SUZ, double SD, double porosity, double SB, double nFK, double rootDepth) {
  double f = SD > 0.0 ? (1.0 - SUZ / SD) * porosity : 0.0;
  if (rootDepth > 0.0) f += (1.0 - SB) * nFK * 0.001 / rootDepth;
  return f;
}

double Infiltration(double P, double K, double f, double psi, double macroporeFraction, double& marker,
                    double& newInput) {
  newInput = P;
  if (P <= K || K <= 0.0 || f <= 0.0) {
    marker = 0.0;
    return 0.0;
  }
  const double S = std::max(0.0, f * psi);
  double Fs, Kp;
  if (marker < 0.5) {
    const double ts = (S / P) / (P / K - 1.0);
    if (ts > 1.0) {
      marker = 0.0;
      return 0.0;
    }
    Fs = P * ts;
    Kp = K * (1.0 - ts);
  } else {
    Fs = 0.0;
    Kp = K;
  }
  double F = 0.5 * Kp + std::sqrt(Fs * Fs + 0.25 * Kp * Kp + (2.0 * S + Fs) * Kp);
  F = std::min(P, F);
  const double excess = (1.0 - macroporeFraction) * (P - F);
  newInput = P - excess;
  marker = 1.0;
  return excess;
}

}  // namespace soilcell
