// One row of [soil_table]: a soil type with its whole-profile VEVURADA parameters and, for a
// layered profile, per-layer hydraulic and thermal values with the tables derived from the
// van Genuchten retention curve.
//
// The start-up keeps the rows in a table of count + 1 entries whose row 0 holds the count in
// `code`. Layers are numbered 1..layerCount; every per-layer array has layerCount + 1
// entries and entry 0 mirrors layer 1 (old-format rows keep the read layer thickness there).
// Rows are filled once at start-up and only read afterwards, so every lookup below may be
// called from parallel cell loops.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class LogStream;

class SoilTableEntry {
 public:
  SoilTableEntry() = default;
  explicit SoilTableEntry(int32_t code) : code(code) {}

  // --- row parsers (soil_table_reader.cpp) --------------------------------------------
  // A joined keyword entry "code name { key = values; ... }" of the method
  // "MultipleHorizons". Failures write their FATAL message and throw 29.
  static void ReadNewFormat(SoilTableEntry& row, LogStream* log, const std::string& text, int method);
  // One positional line, a row of values as the control file writes rows ("1 loam 25 35" or
  // "1, loam, 25, 35"); mode 2 also reads the layered van Genuchten part. Failures write
  // their FATAL message, naming the line by where ("line 392 of basin.ctl") when given, and
  // throw 30.
  static void ReadOldFormat(SoilTableEntry& row, LogStream* log, const std::string& line, int mode,
                            const std::string& where = std::string());
  // Reads the list after the last occurrence of key. While horizonCount is unknown (< 0) it
  // reads the layers per horizon and returns their sum; otherwise it copies one value per
  // horizon to the horizon's layers (the last value serving the rest) and returns the count
  // of values read. -1 when the key or a value cannot be read.
  static int ReadLayerValues(SoilTableEntry& row, const std::string& text, const std::string& key,
                             std::vector<double>* target, int horizonCount);
  // The number after the first occurrence of key; false when the key is absent
  // (absent: target unchanged). Throws 29 through the row's caller when it is unreadable.
  static bool ReadKeyDouble(SoilTableEntry& row, const std::string& text, const std::string& key, double& target);
  // Up to seven grain-size fractions after "GrainSizeDist"; false when the key is absent.
  static bool ReadGrainSizeDist(SoilTableEntry& row, const std::string& text);

  // --- van Genuchten tables and lookups (soil_hydraulics.cpp) --------------------------
  void MakeVanGenuchtenTables(int layer);
  double SuctionFromWaterContent(int layer, double theta, double low, double high) const;
  double RelConductivityFromWaterContent(int layer, double theta, double factor, double low, double high) const;
  double WaterContentFromSuction(int layer, double psi, double low, double high) const;
  // out[1..L]: ksat, or with frozen fractions the conductivity blended towards
  // lnKMinFrozen by the frozen share of each layer's water.
  void LayerConductivities(double* out, const double* frozenFraction, const double* theta,
                           const double* thetaRef) const;
  // out[o+1..o+L]: volumetric heat capacity of each layer from its temperature, its share of
  // another material, its water content and the dry soil.
  void LayerHeatCapacities(int offset, const double* temperature, double* out, const double* altFraction,
                           const double* addend, const double* water, double factor, double cAlt, double cLiquid,
                           double cFrozen) const;
  const std::vector<double>& GetKsat() const { return ksat; }
  // mode 0: psi_FC of every layer = value; mode 1: only when the row gave no psi_FC.
  void SetPsiFC(int mode, double value);

  // --- capacity tables (soil_hydraulics.cpp) -------------------------------------------
  // Allocates (when needed) and fills the saturation, capacity and suction-shift tables of
  // the layer for suctions 0..suctionMin.
  void MakeCapacityTables(int layer, double scale);
  double LookupTable(int layer, double x) const;
  void SaturationFromState(double* out, const double* psi, const double* theta) const;
  void CapacityFromState(double* out, const double* psi, const double* theta) const;
  void SaturationAndCapacityFromState(int offset, double* outS, double* outC, const double* psi, const double* theta,
                                      const double* thetaLow, const double* thetaHigh) const;

  // --- fields --------------------------------------------------------------------------
  std::string name;  // one word, at most kMaxNameLength characters
  int32_t code = 0;  // soil type code; row 0: number of rows
  int32_t method = 0;
  double isArcVegType = 0.0;
  bool isArcVeg = false;
  double FCap = 0.0;
  double mSB = 0.0;
  double mSBFCapDifference = 0.0;  // (mSB - FCap) * 0.01
  double ksat_vevurada = 0.0;
  double suction = 0.0;
  int32_t conductivityPoints = 0;  // last index of the conductivity tables
  int32_t suctionPoints = 0;       // last index of the suction tables
  int32_t layerCount = 0;
  int32_t horizonCount = -1;
  std::vector<int32_t> horizonLayers;  // [0] sum, [j] layers of horizon j

  std::vector<std::vector<double>> thetaForConductivity;  // per layer, 0..conductivityPoints
  std::vector<std::vector<double>> relConductivity;
  std::vector<std::vector<double>> thetaForSuction;       // per layer, 0..suctionPoints
  std::vector<std::vector<double>> suctionAxis;

  std::vector<double> ksat;
  std::vector<double> thickness;  // m
  std::vector<double> theta_sat;
  std::vector<double> theta_res;
  std::vector<double> psi_FC;
  bool psiFCUnassigned = true;
  std::vector<double> Par_n;
  std::vector<double> Par_m;
  std::vector<double> alpha;
  std::vector<double> Par_tau;
  std::vector<double> k_recession;
  double kReduction = 0.0;
  double maxratio = 0.0;
  double EvapMaxDepth = 0.1;
  double MaxInterflowDepth = 2.0;
  double ThicknessScaling = 1.0;
  double totalDepth = 0.0;
  double PMacroThresh = 1.0;   // stored divided by 3.6e6
  double MacroCapacity = 0.0;  // stored divided by 3.6e6
  double MacroDepth = 0.0;
  double CapacityRedu = 1.0;
  std::array<double, 7> grainSize{{0.3333, 0.3333, 0.3334, 0.0, 0.0, 0.0, 0.0}};  // sand, silt, clay, stones1..4
  std::array<double, 11> SU_PAR{};
  std::vector<double> DryHeatCapacity;
  std::vector<double> DryDensity;
  std::vector<double> DryThermalConduct;
  double KMinFrozenSoil = -1.0;
  double lnKMinFrozen = -20.0;
  double suctionMin = -10.0;      // lower end of the capacity tables
  int32_t capacitySteps = 1000;   // N, steps of the capacity tables
  std::vector<std::vector<double>> saturationTable;    // per layer, 0..N
  std::vector<std::vector<double>> capacityTable;      // per layer, 0..N
  std::vector<std::vector<double>> suctionShiftTable;  // per layer, 0..N
  // Kept for the soil model; not used by the tables.
  double soilModelValue1 = -1.0;
  double soilModelValue2 = -1.0;

  static constexpr size_t kMaxNameLength = 199;
  static constexpr int kMaxLayers = 1000;  // layers per soil type a row may declare
  static constexpr int kTablePoints = 30;  // last index of the van Genuchten tables

  // Allocates the per-layer value arrays for layerCount layers (zero-filled).
  void AllocateLayerArrays(bool withThermal);
  // Sets both table sizes to kTablePoints, builds the van Genuchten tables of layers 0..L
  // and allocates the capacity tables.
  void BuildTables();
};
