// The layer balance of the interception storage on its own: capacity, filling, overflow
// and the two evaporation rules.
#include <gtest/gtest.h>

#include <random>

#include "processes/interception/interception_physics.h"

TEST(InterceptionPhysics, CapacityFillingAndOverflow) {
  EXPECT_DOUBLE_EQ(LayerCapacity(3.0, -1.0, 0.5), 1.5);  // no value in the row: LAI x water layer
  EXPECT_DOUBLE_EQ(LayerCapacity(3.0, 0.4, 0.5), 1.2);
  EXPECT_EQ(LayerCapacity(3.0, 0.0, 0.5), 0.0);  // a row capacity of 0 holds nothing

  double S = 0.5;
  EXPECT_DOUBLE_EQ(FillLayer(1.0, 0.8, 2.0, S), 0.2);  // only the uncovered part falls through
  EXPECT_DOUBLE_EQ(S, 1.3);
  S = 1.0;
  EXPECT_EQ(FillLayer(1.0, 1.0, 2.0, S), 0.0);  // exactly at capacity: no overflow
  EXPECT_EQ(S, 2.0);
  EXPECT_DOUBLE_EQ(FillLayer(1.0, 1.0, 2.0, S), 1.0);  // full: everything overflows
  EXPECT_EQ(S, 2.0);
  S = 0.3;
  EXPECT_DOUBLE_EQ(FillLayer(2.0, 0.5, 0.0, S), 2.3);  // capacity 0: covered input and old storage leave
  EXPECT_EQ(S, 0.0);
}

TEST(InterceptionPhysics, EvaporationRules) {
  struct Case {
    EvaporationRule rule;
    double f, S, potT, potIE;
    double E, Safter, potTafter, reduction;
  };
  const auto A = EvaporationRule::FromTranspiration, B = EvaporationRule::FromInterceptionDemand;
  const Case cases[] = {
      {A, 1.0, 0.3, 0.5, 9.0, 0.3, 0.0, 0.2, 0.3},    // demand above storage: storage empties into it
      {A, 1.0, 0.3, 0.1, 9.0, 0.1, 0.2, 0.0, 0.1},    // demand below storage: all demand is used
      {A, 1.0, 0.3, 0.3, 9.0, 0.3, 0.0, 0.0, 0.3},    // equal: the storage empties
      {B, 1.0, 0.3, 0.05, 0.5, 0.3, 0.0, 0.0, 0.05},  // transpiration never falls below 0
      {B, 1.0, 0.3, 0.5, 0.1, 0.1, 0.2, 0.4, 0.1},    // demand below storage
      {B, 1.0, 0.3, 0.0, 0.1, 0.1, 0.2, 0.0, 0.0},
      {A, 0.5, 0.4, 0.1, 9.0, 0.1, 0.2, 0.0, 0.1},    // side by side: the storage over the fraction
      {B, 0.5, 0.4, 1.0, 0.5, 0.2, 0.0, 0.8, 0.2},
      {A, 0.0, 0.4, 0.1, 9.0, 0.0, 0.4, 0.1, 0.0},    // no area: nothing happens
  };
  for (const Case& c : cases) {
    double S = c.S, potT = c.potT, reduction = -1.0;
    const double E = EvaporateLayer(c.rule, c.f, S, potT, c.potIE, reduction);
    EXPECT_DOUBLE_EQ(E, c.E);
    EXPECT_DOUBLE_EQ(S, c.Safter);
    EXPECT_DOUBLE_EQ(potT, c.potTafter);
    EXPECT_DOUBLE_EQ(reduction, c.reduction);
  }
  EXPECT_EQ(RuleOfMethod(1), A);
  EXPECT_EQ(RuleOfMethod(31), A);
  EXPECT_EQ(RuleOfMethod(12), B);
  EXPECT_EQ(RuleOfMethod(22), B);
}

TEST(InterceptionPhysics, LayerBalanceHoldsForRandomLayers) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    const EvaporationRule rule = i % 2 ? EvaporationRule::FromTranspiration : EvaporationRule::FromInterceptionDemand;
    const double f = i % 3 ? 1.0 : 0.05 + u(rng);
    const double P = 5 * u(rng), C = 3 * u(rng);
    double S = C * u(rng), potT = 0.5 * u(rng), reduction = 0;
    const double S0 = S, potT0 = potT;
    const double T = FillLayer(P, u(rng), C, S);
    EXPECT_LE(S, C);
    const double Sfilled = S;
    const double E = EvaporateLayer(rule, f, S, potT, 0.5 * u(rng), reduction);
    EXPECT_NEAR(f * P, f * T + f * (S - S0) + E, 1e-12);
    EXPECT_NEAR(E, f * (Sfilled - S), 1e-12);
    EXPECT_GE(S, -1e-15);
    EXPECT_GE(potT, 0.0);
    EXPECT_NEAR(potT0 - potT, reduction, 1e-15);
  }
}
