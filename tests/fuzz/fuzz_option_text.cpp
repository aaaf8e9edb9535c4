// Feeds arbitrary text to the option readers: the first line names the key, the rest is
// the option text; the braced-block loop must always end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/option_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nl = input.find('\n');
  std::string key = nl == std::string::npos ? "key" : input.substr(0, nl);
  std::string text = nl == std::string::npos ? input : input.substr(nl + 1);
  int i = 0;
  double d = 0;
  std::string s;
  std::vector<double> ds;
  std::vector<int> is;
  GetKeyValueInt(text, key, i);
  GetKeyValueDouble(text, key, d);
  GetKeyValueString(text, key, s);
  GetKeyValueDoubles(text, key, ds);
  GetKeyValueInts(text, key, is);
  std::string rest = text, block;
  size_t guard = text.size() + 1;
  while (ContainsOptionWord(rest, "entity") && GetBracedText(rest, block)) {
    if (guard-- == 0) __builtin_trap();  // the loop must shrink rest every pass
  }
  return 0;
}
