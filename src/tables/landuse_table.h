// Rows of the land-use tables: [landuse_table] and [multilayer_landuse].
//
// The start-up keeps one row per land-use code (row 0 unused; the table size is the
// row count + 1). The parameter columns and their interpolation over the year belong to
// the land-use parameter code; the start-up itself only needs what is declared here.
#pragma once

#include <string>
#include <vector>

class LanduseTableEntry {
 public:
  LanduseTableEntry() = default;
  virtual ~LanduseTableEntry() = default;

  int code = 0;          // land-use code of the row
  std::string name;      // name of the land-use type
};

class MultiLayerLanduseEntry {
 public:
  MultiLayerLanduseEntry() = default;
  virtual ~MultiLayerLanduseEntry() = default;

  int code = 0;                 // land-use code of the row
  std::string name;             // name of the multilayer type
  int layerCount = 0;           // number of layers of this type
  std::vector<int> layerCodes;  // 1..layerCount: land-use code of each layer (index 0 unused)
};
