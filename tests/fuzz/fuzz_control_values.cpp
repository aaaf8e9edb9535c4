// Feeds arbitrary text to the control-file access operations: section seeks and
// positional reads of every type must end in a value or error code 17, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/modelobject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  modelobject o;
  o.name = "fuzz";
  o.controlFile.SetText(text);
  o.controlFileOpen = true;
  try {
    if (!o.SeekControlKey("[s]", false)) o.controlFile.Rewind();
    int i;
    long l;
    double d, e;
    std::string w;
    o.ReadControlValue(i, "i");
    o.ReadControlValue(d, "d");
    o.ReadControlValue(w, "w", 100);
    o.ReadTwoControlValues(d, e, "pair");
    o.ReadControlValue(l, "l");
    while (!o.controlFile.AtEnd()) o.ReadControlValue(d, "rest");
  } catch (int) {
  }
  return 0;
}
