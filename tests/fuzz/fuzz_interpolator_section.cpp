// Feeds arbitrary text as the body of an interpolator's control section ([temperature])
// to the interpolator: method and its parameters, file names, limits and scenario settings
// must end in an interpolator that steps through the station file, or in an error code.
#include <cstddef>
#include <cstdint>
#include <string>

#include "meteo_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('/') != std::string::npos) return 0;  // files stay in the work folder
  meteo_fuzz::InWorkFolder inFolder;
  WriteWhole("run.ctl", "[temperature]\n" + text);
  meteo_fuzz::BuildAndStep(3);
  return 0;
}
