// Feeds arbitrary control-file text to the preprocessor: every input ends in the text of
// the ".intern" copy or in error code 17, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "init/control_preprocessor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::string copy = PreprocessControlText(nullptr, text);
    // The copy holds no symbol and no remark.
    if (copy.find('#') != std::string::npos) __builtin_trap();
  } catch (int code) {
    if (code != 17) __builtin_trap();
  }
  return 0;
}
