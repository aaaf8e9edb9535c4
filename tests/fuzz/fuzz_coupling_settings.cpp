// Feeds arbitrary control-file text to the reader of [ExternalCoupling]. It ends in
// settings or in reading error 10; sum grids are made on a small domain.
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
  d.geometry = GridGeometry{3, 2, 0.0, 0.0, 100.0, -9999.0};
  d.controlFile.SetText("[ExternalCoupling]\n" + text);
  d.controlFileOpen = true;
  try {
    d.ReadCouplingSection();
  } catch (int code) {
    if (code != 10) __builtin_trap();
  }
  const char mode = d.GetExternalGridMode();
  if (mode != 'I' && mode != 'H' && mode != 'D' && mode != 'M' && mode != 'Y') __builtin_trap();
  for (const ExternalWriteGrid& g : d.coupling.writeGrids)
    if (g.writeCode.size() > 49) __builtin_trap();
  return 0;
}
