// Feeds arbitrary text to the soil model's section reader (the values after the flow control
// parameter and the time interval: grid and statistics names, the sub-basin parameter table,
// the read flag and the storage file name) on a small in-memory basin, and, when the model
// is built, the same text to the reader of its storage-file part. Each input ends in a model
// or in an error code; '/' and '~' are replaced so that no name leaves its temporary folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz_module.h"
#include "soil_fuzz_support.h"

namespace {

struct Basin : soilfuzz::SoilGrids {
  Basin() {
    SetZones({{1, 0.0}});
    soilZones[1][1] = 2.0;
    soilZones[2][2] = 4.0;
    soilZones[3][4] = -9999.0;
  }
};

}  // namespace

std::string gDirectory;  // every file of the model goes here

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/fuzz_soil_XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  gDirectory = std::string(dir) + "/";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& ch : text)
    if (ch == '/' || ch == '~' || ch == '\0') ch = '_';
  if (!WriteWhole(gDirectory + "soil.ctl",
                  "[infiltration_model]\n1\n60\ninfex\n0\ninfex.stat 0\nsat\n0\n0.5\n\n[soil_model]\n1\n60\n" + text))
    return 0;
  Basin b;
  std::ostringstream console;
  LogStream log(console, "", 0);
  const ModuleInputs in = b.Inputs(log, gDirectory + "soil.ctl", gDirectory);
  FuzzOwner<infiltrationsmodellklasse> m;
  try {
    int error = 0;
    m = MakeModule<infiltrationsmodellklasse>(error, in);
    m->SetInputGrid(0);
  } catch (int) {
    return 0;
  }
  try {
    m->RestoreStorageSection(text, "state");
  } catch (int code) {
    if (code != 71) __builtin_trap();
  }
  try {
    m->Run(ModelDate{0, 1, 1, 1, 2001});
  } catch (int code) {
    if (code != 55) __builtin_trap();
  }
  return 0;
}
