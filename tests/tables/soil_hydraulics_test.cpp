// The hydraulic tables of a soil row: van Genuchten retention and Mualem conductivity
// checked against hand values, the lookups between table points, frozen-soil
// conductivities, heat capacities and the capacity tables of the soil model.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tables/soil_table.h"

namespace {

// A row of `layers` equal layers with the given van Genuchten parameters, tables built.
SoilTableEntry Row(double ts, double tr, double a, double n, double m, int layers = 1, double tau = 0.5) {
  SoilTableEntry row(1);
  row.layerCount = layers;
  row.AllocateLayerArrays(true);
  for (int l = 0; l <= layers; ++l) {
    const size_t i = static_cast<size_t>(l);
    row.theta_sat[i] = ts;
    row.theta_res[i] = tr;
    row.alpha[i] = a;
    row.Par_n[i] = n;
    row.Par_m[i] = m;
    row.Par_tau[i] = tau;
    row.ksat[i] = 1e-4;
  }
  row.BuildTables();
  return row;
}

double VanGenuchtenTheta(double ts, double tr, double a, double n, double m, double psi) {
  return tr + (ts - tr) * std::pow(1.0 / (1.0 + std::pow(a * psi, n)), m);
}

}  // namespace

TEST(SoilHydraulics, RetentionTableFollowsTheCurveAndEndsAtResidualWater) {
  const SoilTableEntry row = Row(0.45, 0.05, 2.0, 1.5, 1.0 / 3.0);
  const auto& axis = row.suctionAxis[1];
  ASSERT_EQ(axis.size(), 31u);
  EXPECT_DOUBLE_EQ(axis[19], 1.2);
  EXPECT_DOUBLE_EQ(axis[30], 150.0);
  EXPECT_DOUBLE_EQ(row.thetaForSuction[1][19], VanGenuchtenTheta(0.45, 0.05, 2.0, 1.5, 1.0 / 3.0, 1.2));
  EXPECT_DOUBLE_EQ(row.thetaForSuction[1][1], 0.45);
  // The last point carries the residual content and no conductivity, not the curve's value.
  EXPECT_DOUBLE_EQ(row.thetaForSuction[1][30], 0.05);
  EXPECT_DOUBLE_EQ(row.relConductivity[1][30], 0.0);
  // Entry 0 is the curve at suction 0.
  EXPECT_DOUBLE_EQ(row.suctionAxis[1][0], 0.0);
  EXPECT_DOUBLE_EQ(row.relConductivity[1][0], 1.0);
  // Layer 0 mirrors layer 1.
  EXPECT_EQ(row.thetaForSuction[0], row.thetaForSuction[1]);
}

TEST(SoilHydraulics, MualemConductivityMatchesTheHandValueAtHalfSaturation) {
  // n = 2, m = 0.5, and alpha chosen so that the point 0.8 has Se = 0.5:
  // Kr = 0.5^0.5 * (1 - (1 - 0.25)^0.5)^2 = 0.0126919957...
  const double a = std::sqrt(3.0) / 0.8;
  const SoilTableEntry row = Row(0.4, 0.1, a, 2.0, 0.5);
  EXPECT_NEAR(row.relConductivity[1][18], 0.0126919957, 1e-9);
  EXPECT_NEAR(row.thetaForConductivity[1][18], 0.25, 1e-12);
  EXPECT_NEAR(row.RelConductivityFromWaterContent(1, 0.25, 1.0, -1, -1), 0.0126919957, 1e-9);
  EXPECT_DOUBLE_EQ(row.RelConductivityFromWaterContent(1, 0.4, 1.0, -1, -1), 1.0);
  EXPECT_DOUBLE_EQ(row.RelConductivityFromWaterContent(1, 0.1, 1.0, -1, -1), 0.0);
  EXPECT_DOUBLE_EQ(row.RelConductivityFromWaterContent(1, 0.05, 1.0, -1, -1), 0.0);
  // Factor 0 collapses any content onto the residual one.
  EXPECT_DOUBLE_EQ(row.RelConductivityFromWaterContent(1, 0.35, 0.0, -1, -1), 0.0);
  // Mapped from a range 0.2..0.5: 0.35 is the middle, the layer's 0.25.
  EXPECT_NEAR(row.RelConductivityFromWaterContent(1, 0.35, 1.0, 0.2, 0.5), 0.0126919957, 1e-9);
}

TEST(SoilHydraulics, SuctionAndWaterContentLookupsInvertEachOther) {
  const SoilTableEntry row = Row(0.45, 0.05, 2.0, 1.5, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(row.SuctionFromWaterContent(1, 0.05, -1, -1), 150.0);
  EXPECT_DOUBLE_EQ(row.SuctionFromWaterContent(1, 0.01, -1, -1), 150.0);
  EXPECT_DOUBLE_EQ(row.SuctionFromWaterContent(1, 0.45, -1, -1), 0.0);
  EXPECT_NEAR(row.SuctionFromWaterContent(1, row.thetaForSuction[1][19], -1, -1), 1.2, 1e-12);
  for (double psi : {0.003, 0.25, 1.0, 4.0, 30.0, 140.0}) {
    const double theta = row.WaterContentFromSuction(1, psi, -1, -1);
    EXPECT_NEAR(row.SuctionFromWaterContent(1, theta, -1, -1), psi, 1e-9 * (1 + psi)) << psi;
  }
  // Suction 0 or below is saturation; 150 or more is residual water, never mapped.
  EXPECT_DOUBLE_EQ(row.WaterContentFromSuction(1, 0.0, -1, -1), 0.45);
  EXPECT_DOUBLE_EQ(row.WaterContentFromSuction(1, -3.0, -1, -1), 0.45);
  EXPECT_DOUBLE_EQ(row.WaterContentFromSuction(1, 200.0, 0.1, 0.3), 0.05);
  // A mapping onto 0.1..0.3 scales the content linearly.
  const double theta = row.WaterContentFromSuction(1, 1.2, -1, -1);
  EXPECT_NEAR(row.WaterContentFromSuction(1, 1.2, 0.1, 0.3), 0.1 + (theta - 0.05) / 0.4 * 0.2, 1e-12);
  EXPECT_NEAR(row.SuctionFromWaterContent(1, 0.1 + (theta - 0.05) / 0.4 * 0.2, 0.1, 0.3), 1.2, 1e-9);
}

TEST(SoilHydraulics, LookupsStayInsideTheirTablesForDegenerateInput) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const SoilTableEntry row = Row(0.45, 0.05, 2.0, 1.5, 1.0 / 3.0);
  // A NaN content or suction must not step past the tables' ends.
  row.SuctionFromWaterContent(1, nan, -1, -1);
  row.RelConductivityFromWaterContent(1, nan, 1.0, -1, -1);
  row.WaterContentFromSuction(1, nan, -1, -1);
  // A layer whose saturated and residual contents are equal has a flat table.
  const SoilTableEntry flat = Row(0.3, 0.3, 2.0, 1.5, 1.0 / 3.0);
  EXPECT_TRUE(std::isfinite(flat.SuctionFromWaterContent(1, 0.2, -1, -1)));
  EXPECT_TRUE(std::isfinite(flat.RelConductivityFromWaterContent(1, 0.3, 1.0, -1, -1)));
  EXPECT_TRUE(std::isfinite(flat.WaterContentFromSuction(1, 1.0, 0.1, 0.2)));
  // A layer number outside the row reads nothing.
  EXPECT_EQ(row.SuctionFromWaterContent(7, 0.2, -1, -1), 0.0);
  EXPECT_EQ(row.LookupTable(-1, 0.5), 0.0);
}

TEST(SoilHydraulics, FrozenLayersBlendTowardsTheFrozenConductivity) {
  SoilTableEntry row = Row(0.4, 0.1, 2.0, 2.0, 0.5, 2);
  double out[3] = {0, 0, 0};
  const double theta[3] = {0, 0.4, 0.4}, ref[3] = {0, 0.4, 0.4}, half[3] = {0, 0.5, 0.5};
  row.LayerConductivities(out, nullptr, theta, ref);
  EXPECT_DOUBLE_EQ(out[1], 1e-4);
  // Saturated (K = ksat), r = 1, w = 0.5: the geometric mean of ksat and exp(-20).
  row.LayerConductivities(out, half, theta, ref);
  EXPECT_NEAR(out[1], std::exp(0.5 * std::log(1e-4) - 10.0), 1e-18);
  // No conductivity at all blends ln(1e-23) instead of failing.
  row.ksat[2] = 0.0;
  row.LayerConductivities(out, half, theta, ref);
  EXPECT_NEAR(out[2], std::exp(0.5 * std::log(1e-23) - 10.0), 1e-25);
}

TEST(SoilHydraulics, HeatCapacityRunsLinearlyBetweenLiquidAndFrozenWater) {
  SoilTableEntry row = Row(0.4, 0.1, 2.0, 2.0, 0.5, 3);
  for (size_t l = 0; l <= 3; ++l) {
    row.DryDensity[l] = 1500.0;
    row.DryHeatCapacity[l] = 800.0;
  }
  // Offset 1: layers 1..3 at indexes 2..4.
  const double T[5] = {0, 0, 5.0, -10.0, -30.0}, phi[5] = {0, 0, 0.0, 0.0, 0.5}, add[5] = {0, 0, 1.0, 1.0, 1.0};
  const double water[5] = {0, 0, 0.3, 0.3, 0.3};
  double out[5] = {0, 0, 0, 0, 0};
  row.LayerHeatCapacities(1, T, out, phi, add, water, 1000.0, 1000.0, 4180.0, 2100.0);
  const double dry = 1500.0 * 800.0 + 1.0;
  EXPECT_DOUBLE_EQ(out[2], 300.0 * 4180.0 + dry);
  EXPECT_DOUBLE_EQ(out[3], 300.0 * (0.5 * 4180.0 + 0.5 * 2100.0) + dry);
  EXPECT_DOUBLE_EQ(out[4], 300.0 * (0.5 * 1000.0 + 0.5 * 2100.0) + dry);
  EXPECT_EQ(out[1], 0.0);
}

TEST(SoilHydraulics, GlobalFieldCapacitySuctionHonoursItsMode) {
  SoilTableEntry row = Row(0.4, 0.1, 2.0, 2.0, 0.5, 2);
  std::fill(row.psi_FC.begin(), row.psi_FC.end(), 3.0);
  row.psiFCUnassigned = false;
  row.SetPsiFC(2, 9.0);
  row.SetPsiFC(1, 9.0);
  EXPECT_EQ(row.psi_FC, std::vector<double>(3, 3.0));
  row.SetPsiFC(0, 9.0);
  EXPECT_EQ(row.psi_FC, std::vector<double>(3, 9.0));
  row.psiFCUnassigned = true;
  row.SetPsiFC(1, 7.0);
  EXPECT_EQ(row.psi_FC, std::vector<double>(3, 7.0));
}

TEST(SoilHydraulics, CapacityIsTheSlopeOfTheSaturationTable) {
  SoilTableEntry row = Row(0.45, 0.05, 1.5, 1.6, 0.375);
  row.MakeCapacityTables(1, 1.0);
  const auto& S = row.saturationTable[1];
  const auto& C = row.capacityTable[1];
  ASSERT_EQ(S.size(), 1001u);
  EXPECT_DOUBLE_EQ(S[0], 1.0);
  EXPECT_DOUBLE_EQ(S[100], std::pow(1.0 / (1.0 + std::pow(1.5, 1.6)), 0.375));  // suction -1
  for (size_t i : {50u, 200u, 500u, 900u}) {
    const double slope = (S[i - 1] - S[i + 1]) / 0.02;  // per unit of suction, steps of 0.01
    EXPECT_NEAR(C[i], slope, 1e-4 * slope) << i;
  }
  // The largest capacity maps to no shift; the shifts never point to wetter states.
  const auto& shift = row.suctionShiftTable[1];
  EXPECT_DOUBLE_EQ(shift[1000], 0.0);
  for (double v : shift) EXPECT_LE(v, 0.0);
  EXPECT_DOUBLE_EQ(row.LookupTable(1, -5.0), std::fabs(shift[0]));
  EXPECT_DOUBLE_EQ(row.LookupTable(1, 2.0), std::fabs(shift[1000]));
  EXPECT_DOUBLE_EQ(row.LookupTable(1, 0.2505), std::fabs(0.5 * shift[250] + 0.5 * shift[251]));
  EXPECT_DOUBLE_EQ(row.LookupTable(1, std::numeric_limits<double>::quiet_NaN()), std::fabs(shift[0]));
}

TEST(SoilHydraulics, StateLookupsReadTheCapacityTables) {
  SoilTableEntry row = Row(0.45, 0.05, 1.5, 1.6, 0.375, 2);
  for (int l = 1; l <= 2; ++l) row.MakeCapacityTables(l, 1.0);
  // Layer 1 saturated content (no shift) at suction -1; layer 2 wet suction.
  const double psi[3] = {0, -1.0, 0.5}, theta[3] = {0, 0.45, 0.3};
  double s[3] = {9, 9, 9}, c[3] = {9, 9, 9};
  row.SaturationFromState(s, psi, theta);
  row.CapacityFromState(c, psi, theta);
  EXPECT_DOUBLE_EQ(s[1], row.saturationTable[1][100]);
  EXPECT_DOUBLE_EQ(c[1], row.capacityTable[1][100]);
  EXPECT_EQ(s[2], 1.0);
  EXPECT_EQ(c[2], 0.0);
  // At the lower end the saturation is 0, while the capacity still reads its table.
  const double dry[3] = {0, -10.0, -11.0};
  row.SaturationFromState(s, dry, theta);
  row.CapacityFromState(c, dry, theta);
  EXPECT_EQ(s[1], 0.0);
  EXPECT_NEAR(c[1], row.capacityTable[1][1000], 0.01 * row.capacityTable[1][1000]);
  EXPECT_EQ(s[2], 0.0);
  EXPECT_EQ(c[2], 0.0);
  // The combined form reads and writes at an offset, with its own content range.
  const double psiO[5] = {0, 0, 0, -1.0, -1.0}, thetaO[5] = {0, 0, 0, 0.3, 0.45};
  const double lowO[3] = {0, 0.1, 0.05}, highO[3] = {0, 0.3, 0.45};
  double so[5] = {0, 0, 0, 0, 0}, co[5] = {0, 0, 0, 0, 0};
  row.SaturationAndCapacityFromState(2, so, co, psiO, thetaO, lowO, highO);
  EXPECT_DOUBLE_EQ(so[3], row.saturationTable[1][100]);
  EXPECT_DOUBLE_EQ(co[4], row.capacityTable[2][100]);
  EXPECT_EQ(so[1], 0.0);
  // A layer without a content range must not index the tables with a NaN.
  const double same[3] = {0, 0.3, 0.3};
  row.SaturationAndCapacityFromState(2, so, co, psiO, thetaO, same, same);
}
