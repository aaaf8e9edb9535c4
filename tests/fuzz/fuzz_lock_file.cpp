// Feeds arbitrary bytes as the lock file of a folder to the holds of a run: a name read and
// a name written there. A file that lists runs is taken over (the lines of runs that have
// gone dropped); anything else is never written: the write ends with code 26 and the file
// keeps its bytes, the read holds nothing there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/run_hold.h"
#include "fuzz_folder.h"
#include "framework/text_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = ScratchFolder("/tmp/fuzz_lock_file_XXXXXX");
  if (folder.empty()) return 0;
  const std::string lockFile = folder + RunHold::kFileName;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!WriteWhole(lockFile, bytes)) return 0;
  RunHold hold;
  hold.Begin(nullptr, "fuzz.ctl", folder);
  hold.Read(folder + "dem.asc", "[x] grid");
  try {
    hold.Write(folder + "QB.stat", "[s] statistics", false);
  } catch (int code) {
    std::string after;
    if (code != 26 || !ReadWholeFile(lockFile, after) || after != bytes) __builtin_trap();
  }
  hold.Release();
  return 0;
}
