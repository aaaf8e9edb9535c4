// Feeds arbitrary control-file text to the [multilayer_landuse] reader. Each input ends in
// rows whose arrays match their counts, or in the reader's error codes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grids/grid_registry.h"
#include "init/defaultini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  GridRegistry registry;
  int error = 0;
  defaultini d(error, nullptr, "fuzz.ctl", nullptr, 200, 1, registry.Records());
  d.controlFile.SetText(text);
  d.controlFileOpen = true;
  try {
    d.ReadMultilayerLanduseTable(1);
  } catch (int code) {
    if (code != 17 && code != 110 && code != 111 && code != 112) __builtin_trap();
    return 0;
  }
  for (size_t i = 1; i < d.multiLayerTable.size(); ++i) {
    const MultiLayerLanduseEntry& row = d.multiLayerTable[i];
    if (!row.layerCodes.empty() && row.layerCodes.size() != static_cast<size_t>(row.layerCount) + 1) __builtin_trap();
    if (!row.ArcVeg_Initial_Fractions.empty() && row.fractionCount != row.layerCount) __builtin_trap();
  }
  return 0;
}
