// Feeds arbitrary text to the data-assimilation readers: the first part (up to a NUL byte)
// as the rules of "[data_assimilation]", the rest as a list file that a grid rule and
// reservoir rules in both list layouts read (and the reservoir rules step through). Each must end in a module, a
// refused rule with its code or a rule that applies nothing, never a crash or a hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "assimilation/assim_reservoir.h"
#include "assimilation/dataassim.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

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
  WriteFile(list, cut == std::string::npos ? std::string() : input.substr(cut + 1));

  const int rows = 2, cols = 3;
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  const char* names[] = {"zone_grid", "snowstorage_liquid", "snowstorage_solid", "snow_storage_total",
                         "ponding_storage", "lake_codes"};
  for (int p = 1; p <= 6; ++p) {
    owned.emplace_back(rows, cols);
    registry[p].data = owned.back().get();
    registry[p].internalName = names[p - 1];
    registry[p].registered = true;
  }
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  int zoneCodes[2] = {0, 1};
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = control;
  in.grids = registry.Records();
  in.zoneCodeMap = zoneCodes;
  in.geometry.nrows = rows;
  in.geometry.ncols = cols;
  in.geometry.cellsize = 1000.0;
  in.lastRow = rows;
  in.start = ModelDate{0, 1, 1, 1, 2000};
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
    WriteFile(control, head + body);
    int error = 0;
    data_assimilation m(error, in, reservoirs, 0, 1, lookup);
    // Grid rules are only built: applying one reads grid files, which have fuzzers of their own.
    if (error == 0 && &body != &fixed[0]) {
      try {
        for (int h = 1; h <= 30; ++h) m.Run(ModelDate{0, h % 24, 1 + h / 24, 1, 2000});
      } catch (int) {
      }
    }
    m.DeleteModule();
  }
  return 0;
}
