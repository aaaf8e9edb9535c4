// The liquid interception balance of one vegetation layer in one cell and step: filling
// the canopy storage from the water input, overflow into throughfall, and evaporation from
// the storage against the evaporation demand. No I/O; the step's cell loop calls these.
#pragma once

#include <algorithm>

// Which demand drives the evaporation from the storage: rule A consumes the potential
// transpiration itself, rule B the separate potential interception evaporation (and
// reduces the potential transpiration by the same amount, never below 0).
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
// stacked layers): the demand D meets the stored water f * S. potT is the layer's potential
// transpiration, reduced in place; potIE its potential interception evaporation. Returns
// the evaporation E (mm over the cell); reduction receives what potT lost, for the cell
// total of several layers.
inline double EvaporateLayer(EvaporationRule rule, double f, double& S, double& potT, double potIE,
                             double& reduction) {
  reduction = 0.0;
  if (!(f > 0.0)) return 0.0;  // a layer without area in the cell evaporates nothing
  const double Sf = f * S;
  const double D = rule == EvaporationRule::FromTranspiration ? potT : potIE;
  double E;
  if (D >= Sf) {
    E = Sf;
    S = 0.0;
  } else {
    E = D;
    S -= E / f;
  }
  if (rule == EvaporationRule::FromTranspiration) {
    // Under rule A the whole demand is the transpiration: what the storage did not take
    // is left, when the storage took all of it nothing is.
    reduction = D >= Sf ? Sf : potT;
    potT = D >= Sf ? potT - Sf : 0.0;
  } else {
    reduction = std::min(potT, E);
    potT -= reduction;
  }
  return E;
}
