// Feeds arbitrary text as /proc/stat to the reader of the processors' busy ticks: the first
// byte marks the processors counted (none: every one), the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/thread_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<bool> processors;
  for (int n = 0; n < 8 && data[0] != 0; ++n) processors.push_back((data[0] >> n) & 1);
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const double ticks = BusyProcessorTicks(text, processors);
  if (!(ticks == -1.0 || ticks >= 0.0)) __builtin_trap();  // never negative, never NaN
  return 0;
}
