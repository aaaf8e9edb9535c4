// Cell physics of the soil water balance and of the infiltration, without I/O: the soil
// model's cell loop calls these, and a test checks each against hand values alone. Those of
// every step are inline, so that the loop keeps a cell's values in registers.
// Water amounts are mm per step, storages relative (SB, SBia, SSP) or in mm (the rest).
#pragma once

#include <algorithm>
#include <cmath>

// Parameters of one sub-basin in their internal units (see the parameter table reader).
struct SubbasinParameters {
  double m = 0.0;       // recession parameter, mm
  double Tkorr = 0.0;   // transmissivity scaling (baseflow)
  double Kkorr = 0.0;   // conductivity scaling (drainage)
  double kQD = 60.0;    // direct-runoff storage coefficient, minutes
  double SHmax = 0.0;   // interflow storage capacity, mm
  double kQI = 0.0;     // interflow recession factor exp(-dt / k)
  double kQBB = 60.0;   // slow-baseflow storage coefficient, minutes
  double alpha = 0.0;   // slow-baseflow inflow, mm per step
  double QBBini = 0.0;  // initial slow baseflow, mm per step
  double SUZini = 0.0;  // initial interflow storage, mm
  double SDini = 0.0;   // initial deficit as a fraction of the available soil moisture
  double Pgrenz = 0.0;  // input intensity above which macropores bypass the soil storage
  double Rrueck = 0.0;  // reinfiltrating fraction
  double QDsnow = 0.0;  // direct-runoff share of the input under a snow cover
};

// The state a cell carries from step to step.
struct SoilCellState {
  double SB = 0.0;     // soil storage, relative to nFK
  double SBia = 1.0;   // inactive soil moisture, relative to nFKia
  double nFKia = 0.0;  // inactive field capacity, mm
  double SSP = 0.0;    // saturated soil partition
  double SBold = 0.0;  // soil storage after the previous step's filling
  double SUZ = 0.0;    // unsaturated-zone storage, mm
  double SIF = 0.0;    // interflow storage, mm
  double SD = 0.0;     // local saturation deficit, mm
};

// What the cell step takes besides its state.
struct SoilCellInputs {
  double water = 0.0;               // input of the step (after infiltration)
  double snowSolid = -1.0;          // solid snow storage, mm; below 0 when there is none
  double infiltrationExcess = 0.0;  // added to the direct runoff
  double nFK = 0.0;                 // available soil moisture, mm
  double rootDepth = 0.0;           // m, largest of the layers
  double porosity = 0.0;            // drainable porosity n, fraction
  double conductivity = 0.0;        // hydraulic conductivity, mm per step
  bool slowBaseflow = false;        // method 2
};

// What the cell step gives.
struct SoilCellOutputs {
  double waterLeft = 0.0;  // the input without the snow share (written back to the input grid)
  double QD = 0.0;         // direct runoff incl. snow share and infiltration excess
  double QI = 0.0;         // interflow
  double QSUZ = 0.0;       // drainage to the saturated zone
  double QBBin = 0.0;      // inflow to the slow baseflow storage (method 2)
  bool capillaryFailed = false;  // SSP was 1 and would still grow: the step must stop
  double sspNew = 0.0;           // for the failure report
  double capillaryFlow = 0.0;
};

namespace soilcell {

// Reflow from the interflow storage into the soil storage; never more than the store holds.
inline double Reflow(double SIF, double SB, double nFK, double SHmax, double Rrueck) {
  if (!(SHmax > 0.001) || !(nFK > 0.0) || SIF <= 0.0) return 0.0;
  const double freeSpace = (1.0 - SB) * nFK;
  const double ratio = SIF / SHmax;
  const double reflow = SIF <= freeSpace ? SIF * ratio * Rrueck : ratio * freeSpace * Rrueck;
  // The store cannot give more than it holds.
  return std::max(0.0, std::min(reflow, SIF));
}

namespace detail {

// The inactive store hands capacity to the saturated zone: the water held in that capacity
// goes with it and lowers the deficit; the store keeps its relative filling.
inline void ShrinkInactiveStore(SoilCellState& s, double newCapacity) {
  s.SD -= s.SBia * (s.nFKia - newCapacity);
  s.nFKia = newCapacity;
}

// The cell is saturated up to the soil storage: the inactive store joins the saturated zone.
inline void MergeInactiveStore(SoilCellState& s) {
  ShrinkInactiveStore(s, 0.0);
  s.SBia = 1.0;
}

}  // namespace detail

// Capillary exchange with the saturated zone for capillary reach R (mm). Returns false when
// the cell is fully saturated (SSP = 1) and the saturated partition would still grow.
inline bool CapillaryExchange(SoilCellState& s, double nFK, double R, double& sspNew, double& flow) {
  flow = 0.0;
  if (s.SD >= R) {
    // Water table below the reach: the saturated partition may shrink the inactive store.
    sspNew = R > 0.0 ? 1.0 - s.SD / R : 1.0;
    const double limit = nFK > 0.0 ? 1.0 - s.nFKia / nFK : 1.0;
    if (sspNew > limit) detail::ShrinkInactiveStore(s, std::max(0.0, -sspNew * nFK));  // never a negative capacity
    s.SSP = sspNew;
    return true;
  }
  if (s.SD <= 0.1) {
    sspNew = 1.0;
    s.SSP = 1.0;
    flow = nFK > 0.0 ? (1.0 - s.SB) * nFK : 0.0;
    s.SD += flow;
    s.SB = 1.0;
    detail::MergeInactiveStore(s);
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
  detail::MergeInactiveStore(s);
  s.SSP = sspNew;
  return true;
}

// Adds water to the soil storage; what it cannot hold goes to the inactive store and then
// to the unsaturated zone. A cell without capacity (nFK <= 0) passes all to the unsaturated
// zone.
inline void FillSoilStorage(SoilCellState& s, double water, double Pgrenz, double nFK) {
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

// Interflow storage: takes the unsaturated zone above SD - SHmax, spills above SHmax as
// direct runoff (returned in qdOverflow) and drains by the recession factor. Returns QI.
inline double InterflowStep(SoilCellState& s, double SHmax, double kQI, double& qdOverflow) {
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

// Drainage to the saturated zone, at most what the unsaturated zone holds.
inline double Drainage(SoilCellState& s, double conductivity, double Kkorr, double m) {
  double q = conductivity * Kkorr;
  // An unsaturated zone holding nothing (or less) gives what it holds for any capacity of 0
  // or more: the recession factor is only needed otherwise.
  if ((s.SUZ > 0.0 || !(q >= 0.0)) && s.SD >= 0.0) q *= std::exp(-s.SD / m);
  const double drained = std::min(s.SUZ, q);
  s.SUZ -= drained;
  return drained;
}

// Inflow to the slow baseflow storage.
inline double SlowBaseflowInflow(double alpha, double SD, double m) {
  return SD >= 0.0 ? alpha * std::exp(-SD / m) : alpha;
}

// Steps b to m of a cell: s.SD must hold the cell's deficit for this step on entry.
[[gnu::always_inline]] inline void Step(SoilCellState& s, const SoilCellInputs& in, const SubbasinParameters& p,
                                        SoilCellOutputs& out) {
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

// Output of a linear storage with factor e = exp(-dt / k) for a step's inflow.
inline double LinearStorage(double previousOutput, double inflow, double e) {
  return previousOutput * e + inflow * (1.0 - e);
}
// The water such a storage holds behind an output q (exact for the update above).
inline double LinearStorageContent(double q, double e) { return e < 1.0 ? q * e / (1.0 - e) : 0.0; }

// Travel-time zone of a travel time in seconds for a step of dtMinutes; at least 1.
int TravelTimeZone(double seconds, double dtMinutes);

// Slope stability index (infinite slope); -1 where it is not defined.
double StabilityIndex(double soilDepth, double density, double cohesion, double frictionAngle,
                      double slopeDegrees, double SD, double porosity);

// Infiltration of input P with conductivity K, free pore fraction f and suction psi.
// marker: 0 unsaturated, 1 saturated since an earlier step (updated). Returns the
// infiltration excess; newInput gets what stays in the input grid.
inline double Infiltration(double P, double K, double f, double psi, double macroporeFraction, double& marker,
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

// Free pore fraction of a cell for the infiltration.
inline double FreePoreFraction(double SUZ, double SD, double porosity, double SB, double nFK, double rootDepth) {
  double f = SD > 0.0 ? (1.0 - SUZ / SD) * porosity : 0.0;
  if (rootDepth > 0.0) f += (1.0 - SB) * nFK * 0.001 / rootDepth;
  return f;
}

}  // namespace soilcell
