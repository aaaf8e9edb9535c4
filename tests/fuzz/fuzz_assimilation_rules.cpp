// Feeds arbitrary text to the data-assimilation readers: the first part (up to a NUL byte)
// as the rules of "[data_assimilation]", the rest as a list file that a grid rule and
// reservoir rules in both list layouts read (and the reservoir rules step through). Each must end in a module, a
// refused rule with its code or a rule that applies nothing, never a crash or a hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../support/module_basin.h"
#include "assimilation/assim_reservoir.h"
#include "assimilation/dataassim.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"

namespace {

class Lake : public LevelTarget {
 public:
  bool HasLevelVolumeTable() const override { return true; }
  double VolumeAtLevel(double w) const override { return 1.0e6 * (w - 400.0); }
  void SetState(double, double) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string pid = std::to_string(getpid());
  static const std::string control = "fuzz_assim_" + pid + ".ctl", list = "fuzz_assim_list_" + pid + ".txt";
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\0');
  const std::string rules = input.substr(0, cut);
  WriteWhole(list, cut == std::string::npos ? std::string() : input.substr(cut + 1));

  ModuleBasin basin(2, 3);
  for (const char* name : {"zone_grid", "snowstorage_liquid", "snowstorage_solid", "snow_storage_total",
                           "ponding_storage", "lake_codes"})
    basin.Register(name);
  basin.SetZones({{1, 1.0}});
  basin.start = ModelDate{0, 1, 1, 1, 2000};
  QuietLog quiet;
  const ModuleInputs in = basin.Inputs(quiet.log, control, "");
  auto lookup = [](int number) -> std::unique_ptr<LevelTarget> {
    return number == 1 ? std::make_unique<Lake>() : nullptr;
  };
  std::vector<SP_class*> reservoirs;

  const std::string head = "[data_assimilation]\n1\n60\n";
  const std::string fixed[] = {
      "number of data-assimilation rules 1\ngrid {\ngrid-ID = snowstorage_solid; listfilename = " + list +
          ";\noptions = { split-into-liquid-and-solid = true; }\n}\n",
      "number of data-assimilation rules 1\nreservoir {\nlake-ID = 1; listfilename = " + list +
          ";\noptions = { format = orvel; skiprows = 1; }\n}\n",
      "number of data-assimilation rules 1\nreservoir {\nlake-ID = 1; listfilename = " + list +
          ";\noptions = { format = bafu; }\n}\n",
      rules};
  for (const std::string& body : fixed) {
    WriteWhole(control, head + body);
    int error = 0;
    FuzzOwner<data_assimilation> m = MakeModule<data_assimilation>(error, in, reservoirs, 0, 1, lookup);
    // Grid rules are only built: applying one reads grid files, which have fuzzers of their own.
    if (error == 0 && &body != &fixed[0]) {
      try {
        for (int h = 1; h <= 30; ++h) m->Run(ModelDate{0, h % 24, 1 + h / 24, 1, 2000});
      } catch (int) {
      }
    }
  }
  return 0;
}
