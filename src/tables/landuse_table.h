// Rows of the land-use tables: [landuse_table] and [multilayer_landuse].
//
// The start-up keeps one row per land-use code (row 0 unused; the table size is the
// row count + 1). The parameter columns and their interpolation over the year belong to
// the land-use parameter code; the start-up itself only needs what is declared here.
#pragma once

#include <string>
#include <vector>

#include "tables/multilayer_table.h"  // the rows of [multilayer_landuse]

class LanduseTableEntry {
 public:
  LanduseTableEntry() = default;
  virtual ~LanduseTableEntry() = default;

  int code = 0;          // land-use code of the row
  std::string name;      // name of the land-use type
};
