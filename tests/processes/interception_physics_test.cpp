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
  // Whatever the evaporation uses of its own rate, the other rate loses the same share.
  struct Case {
    EvaporationRule rule;
    double f, S, potT, potIE;
    double E, Safter, potTafter, potIEafter;
  };
  const auto A = EvaporationRule::FromTranspiration, B = EvaporationRule::FromInterceptionDemand;
  const Case cases[] = {
      {A, 1.0, 0.3, 0.5, 0.8, 0.3, 0.0, 0.2, 0.32},   // demand above storage: storage empties into it
      {A, 1.0, 0.3, 0.1, 0.8, 0.1, 0.2, 0.0, 0.0},    // demand below storage: all demand is used
      {A, 1.0, 0.3, 0.3, 0.8, 0.3, 0.0, 0.0, 0.0},    // equal: the storage empties
      {B, 1.0, 0.3, 0.05, 0.5, 0.3, 0.0, 0.02, 0.2},  // 60 % of the wet rate used: 60 % of the dry one
      {B, 1.0, 0.3, 0.5, 0.1, 0.1, 0.2, 0.0, 0.0},    // demand below storage: the whole demand is used
      {B, 1.0, 0.3, 0.0, 0.1, 0.1, 0.2, 0.0, 0.0},
      {B, 1.0, 0.3, 0.4, 0.0, 0.0, 0.3, 0.4, 0.0},    // no demand left: nothing evaporates
      {A, 0.5, 0.4, 0.1, 0.3, 0.1, 0.2, 0.0, 0.0},    // side by side: the storage over the fraction
      {B, 0.5, 0.4, 1.0, 0.5, 0.2, 0.0, 0.6, 0.3},
      {A, 0.0, 0.4, 0.1, 0.3, 0.0, 0.4, 0.1, 0.3},    // no area: nothing happens
  };
  for (const Case& c : cases) {
    double S = c.S, potT = c.potT, potIE = c.potIE;
    const double E = EvaporateLayer(c.rule, c.f, S, potT, potIE);
    EXPECT_DOUBLE_EQ(E, c.E);
    EXPECT_DOUBLE_EQ(S, c.Safter);
    EXPECT_NEAR(potT, c.potTafter, 1e-15);
    EXPECT_NEAR(potIE, c.potIEafter, 1e-15);
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
    double S = C * u(rng), potT = 0.5 * u(rng), potIE = 0.5 * u(rng);
    const double S0 = S, potT0 = potT, potIE0 = potIE;
    const double T = FillLayer(P, u(rng), C, S);
    EXPECT_LE(S, C);
    const double Sfilled = S;
    const double E = EvaporateLayer(rule, f, S, potT, potIE);
    EXPECT_NEAR(f * P, f * T + f * (S - S0) + E, 1e-12);
    EXPECT_NEAR(E, f * (Sfilled - S), 1e-12);
    EXPECT_GE(S, -1e-15);
    EXPECT_GE(potT, 0.0);
    EXPECT_GE(potIE, 0.0);
    // The evaporation used its share of the demand, and both rates keep what is left of it.
    const double rate = rule == EvaporationRule::FromTranspiration ? potT0 : potIE0;
    const double left = rate > 0.0 ? 1.0 - E / rate : 1.0;
    EXPECT_NEAR(potT, potT0 * left, 1e-15);
    EXPECT_NEAR(potIE, potIE0 * left, 1e-15);
  }
}
