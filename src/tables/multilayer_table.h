// One row of [multilayer_landuse]: land uses of [landuse_table] stacked on one cell, the top
// layer first, with optional initial values of the ArcVeg vegetation model per layer.
//
// The start-up keeps the rows in a table of count + 1 entries whose row 0 holds the count in
// `code`; a row that was never parsed keeps its index as code and one layer. Arrays are
// 1-based (entry 0 unused); an empty ArcVeg array means the key was not given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class LogStream;

class MultiLayerLanduseEntry {
 public:
  MultiLayerLanduseEntry() = default;
  explicit MultiLayerLanduseEntry(int32_t code) : code(code), codeCopy(code) {}

  // Parses one joined entry "code name { Landuse_Layers = 3, 2, 1; ... }". Writes the
  // FATAL message and throws 112 without "Landuse_Layers", 110 for any other failure.
  static void ReadEntry(MultiLayerLanduseEntry& row, LogStream* log, const std::string& text);
  // The integers of the list after the first occurrence of key (pieces split at "," and
  // ";"; pieces that are no number are dropped) into codes[1..count]. -1 when the key or its
  // "= ... ;" is missing. Numbers are read as every number of the control file ("3.0" is 3);
  // a piece that begins like a number but is none of the kind ("3.5" as a code, "nan") is
  // put into refused (when given) and makes the result -1. The same for numbers:
  static int ReadLanduseLayers(MultiLayerLanduseEntry& row, const std::string& text, const std::string& key,
                               std::vector<int32_t>& codes, int32_t& count, std::string* refused = nullptr);
  static int ReadDoubleList(MultiLayerLanduseEntry& row, const std::string& text, const std::string& key,
                            std::vector<double>& values, int32_t& count, std::string* refused = nullptr);

  std::string name;  // one word, at most kMaxNameLength characters
  int32_t code = 0;  // row 0: number of rows
  std::vector<int32_t> layerCodes;              // 1..layerCount: land-use code of each layer
  std::vector<double> ArcVeg_Initial_Fractions;  // 1..fractionCount, or empty
  std::vector<double> ArcVeg_Initial_Biomass;    // 1..biomassCount, or empty
  std::vector<double> ArcVeg_Initial_Retrans;    // 1..retransCount, or empty
  int32_t layerCount = 1;
  int32_t fractionCount = 0;
  int32_t biomassCount = 0;
  int32_t retransCount = 0;
  std::vector<int32_t> layerCodesCopy;
  int32_t codeCopy = 0;
  double k_extinct = 0.3;
  double LAI_scale = 10.0;

  static constexpr size_t kMaxNameLength = 199;
};
