// Feeds arbitrary text to the readers of the regional superposition section: the first
// line as the "NumberOfEntities" line, the rest as one entity block, whose inputs are
// then checked against a region table of codes 1..3.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "meteo/superposition_kernels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string first = nl == std::string::npos ? input : input.substr(0, nl);
  const std::string block = nl == std::string::npos ? std::string() : input.substr(nl + 1);
  int count = 0;
  if (ParseNumberOfEntities(first, count) && count < 0) __builtin_trap();
  SuperpositionEntityText e;
  std::string why;
  if (ParseEntityBlock(block, e, why)) {
    if (e.inputs.empty() || e.outputGrid.empty() || e.name.empty()) __builtin_trap();
    const std::vector<long> codes = {0, 1, 2, 3};
    std::string message;
    for (const SuperpositionInput& in : e.inputs) {
      const int code = CheckEntityRegions("RegionalSuperposition", e.name, in, codes, message);
      if (code != 0 && code != 134 && code != 135) __builtin_trap();
    }
  } else if (why.empty()) {
    __builtin_trap();
  }
  return 0;
}
