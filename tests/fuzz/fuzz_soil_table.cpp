// Feeds arbitrary control-file text to the [soil_table] and [GlobalSoilParameters] reader in
// both soil-model modes, then runs the lookups of every row read. Each input ends in rows
// or in the reader's error codes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int mode : {1, 2}) {
    GridRegistry registry;
    int error = 0;
    defaultini d(error, nullptr, "fuzz.ctl", nullptr, 200, mode, registry.Records());
    d.controlFile.SetText(text);
    d.controlFileOpen = true;
    try {
      d.ReadSoilTable(mode);
    } catch (int code) {
      if (code != 17 && code != 29 && code != 30) __builtin_trap();
      continue;
    }
    for (size_t i = 1; i < d.soilTable.size(); ++i) {
      SoilTableEntry& row = d.soilTable[i];
      for (int l = 0; l <= row.layerCount && l < 3; ++l) {
        for (double x : {-1.0, 0.0, 0.1, 0.3, 0.6, std::nan("")}) {
          (void)row.SuctionFromWaterContent(l, x, -1, -1);
          (void)row.RelConductivityFromWaterContent(l, x, 1.0, 0.1, 0.4);
          (void)row.WaterContentFromSuction(l, x * 200.0, 0.1, 0.4);
        }
        if (l > 0 && !row.alpha.empty()) {
          row.MakeCapacityTables(l, 1.0);
          (void)row.LookupTable(l, 0.5);
        }
      }
    }
  }
  return 0;
}
