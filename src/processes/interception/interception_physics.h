// The liquid interception balance of one vegetation layer in one cell and step: filling
// the canopy storage from the water input, overflow into throughfall, and evaporation from
// the storage against the evaporation demand. No I/O; the step's cell loop calls these.
#pragma once

#include <algorithm>

// Which demand drives the evaporation from the storage: rule A the layer's potential
// transpiration, rule B its potential interception evaporation. The two are rates of one
// evaporative demand (dry and wet canopy): whatever takes a share of one rate takes the same
// share of the other, so each process of the step uses only what the ones before it left.
enum class EvaporationRule { FromTranspiration, FromInterceptionDemand };

// Rule A for methods 1, 11, 21, 31; rule B for 2, 12, 22, 32.
inline EvaporationRule RuleOfMethod(int method) {
  return method % 10 == 1 ? EvaporationRule::FromTranspiration : EvaporationRule::FromInterceptionDemand;
}

// Storage capacity of a layer: LAI times the land-use row's capacity per unit leaf area
// when the row gives one (0 or more), else LAI times the section's maximum water layer.
inline double LayerCapacity(double lai, double rowCapacity, double maxWaterLayer) {
  return rowCapacity >= 0.0 ? lai * rowCapacity : lai * maxWaterLayer;
}

// Fills the storage S with the covered part c of the input P; the uncovered part and what
// exceeds the capacity C leave as throughfall, which is returned. A storage exactly at
// capacity does not overflow.
inline double FillLayer(double P, double cover, double capacity, double& S) {
  double T = (1.0 - cover) * P;
  S += cover * P;
  if (S > capacity) {
    T += S - capacity;
    S = capacity;
  }
  return T;
}

// Evaporation from the storage S of a layer lying on the fraction f of the cell (f = 1 for
// stacked layers): the demand D of the rule meets the stored water f * S. potT and potIE are
// the layer's remaining potential transpiration and interception evaporation (mm over the
// cell); both lose the share E / D of the demand that the evaporation used. Returns E.
inline double EvaporateLayer(EvaporationRule rule, double f, double& S, double& potT, double& potIE) {
  if (!(f > 0.0)) return 0.0;  // a layer without area in the cell evaporates nothing
  const double Sf = f * S;
  double& demand = rule == EvaporationRule::FromTranspiration ? potT : potIE;
  double& other = rule == EvaporationRule::FromTranspiration ? potIE : potT;
  const double D = demand;
  if (!(D > 0.0)) return 0.0;  // no demand left: nothing evaporates, nothing is used
  double E;
  if (D >= Sf) {
    E = Sf;
    S = 0.0;
    demand = D - Sf;
    other *= demand / D;
  } else {
    E = D;
    S -= E / f;
    demand = 0.0;
    other = 0.0;
  }
  return E;
}
