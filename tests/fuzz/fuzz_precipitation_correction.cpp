// Feeds arbitrary text as the [precipitation_correction] section to the precipitation
// correction beside a precipitation and a temperature interpolator: the factors must be
// read and applied, or the construction must end in an error code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "meteo/precicorr.h"
#include "meteo_fuzz_support.h"

namespace {

std::string Section(const std::string& name) {
  return "[" + name + "]\n1\nst.dat\nnone\n" + name + ".asc\n0\n1.0\n" + name +
         ".stat 0\n9999\n2.0\n1.0\n1e7\n0\n1.0\n-100\n-100\n100\n100\n0\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QuietLog quiet;
  const std::string text(reinterpret_cast<const char*>(data), size);
  meteo_fuzz::InWorkFolder inFolder;
  WriteWhole("run.ctl", Section("precipitation") + Section("temperature") + "[precipitation_correction]\n" + text);
  SmallBasin basin;
  const ModuleInputs in = basin.Inputs(quiet.log, "run.ctl", meteo_fuzz::WorkFolder().path + "/");
  try {
    // Released after the correction, which reads their stations.
    std::vector<FuzzOwner<meteointerpol>> owned;
    std::vector<meteointerpol*> table{nullptr};
    std::vector<std::string> names{"", "precipitation", "temperature"};
    for (int i = 1; i <= 2; ++i) {
      owned.push_back(MakeModule<meteointerpol>(in, names[static_cast<size_t>(i)], 5 + i, 0));
      table.push_back(owned.back().get());
    }
    int error = 0;
    const FuzzOwner<precicorrclass> correction = MakeModule<precicorrclass>(
        error, &quiet.log, table.data(), names, "run.ctl", 2, basin.registry.Records(), basin.geometry);
    if (error == 0) {
      correction->CorrectStationValues();
      correction->CorrectPrecipitation();
    }
  } catch (int) {
  }
  return 0;
}
