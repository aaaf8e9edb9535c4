// Feeds arbitrary text as the body of [snow_model] (and of [permafrost]) to the snow model's
// constructor: it must end in a module or an error code, never a crash. A module that was
// built steps once. File names of the text are kept inside a scratch folder.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/fuzz_snow_XXXXXX";
    if (!mkdtemp(pattern)) return 0;
    dir = std::string(pattern) + "/";
  }
  std::string body(reinterpret_cast<const char*>(data), size);
  for (char& ch : body)
    if (ch == '/' || ch == '~' || ch == '\0') ch = '_';
  const std::string path = dir + "snow.ctl";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  const std::string text = "[snow_model]\n1\n60\n" + body;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);

  constexpr int kRows = 3, kCols = 4;
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  auto add = [&](const char* name, double value) {
    owned.emplace_back(kRows, kCols);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) owned.back()[r][c] = value;
    const int p = static_cast<int>(owned.size());
    registry[p].data = owned.back().get();
    registry[p].internalName = name;
    registry[p].registered = true;
  };
  // Every grid a method may need, and the state grids (so that none is read from a file).
  for (const char* n : {"zone_grid", "zonegrid_soilmodel", "[elevation_model]", "albedo", "landuse1", "precipitation",
                        "temperature", "wind_speed", "air_humidity", "AspectCorrectedGlobalRadiation", "cloudiness",
                        "vapor_pressure", "deposition_index", "slope_angle", "slidefraction1", "slidefraction2",
                        "slidefraction3", "slidefraction4", "temperature_night", "snowstorage_solid",
                        "snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age", "snowtemp", "surftemp",
                        "ThawCoeffPermaFrost", "PermafrostThawDepth", "root_depth1"})
    add(n, 1.0);
  owned[0][2][4] = -9999.0;

  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  std::vector<ZoneTableEntry> zones(2);
  zones[1].code = 1;
  int codeMap[2] = {0, 1};
  std::vector<StatisticsTableEntry> statisticsTable(50);
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = path;
  in.grids = registry.Records();
  in.zoneTable = zones.data();
  in.zoneCodeMap = codeMap;
  in.zoneCount = 1;
  in.maxZoneCode = 1;
  in.lastRow = kRows;
  in.geometry = GridGeometry{kCols, kRows, 0.0, 0.0, 1000.0, -9999.0};
  in.statisticsTable = statisticsTable.data();
  in.statisticsSize = static_cast<int>(statisticsTable.size());
  in.output.defaultOutputDirectory = dir;
  in.output.outputDirectory = dir;
  in.output.inputDirectory = dir;
  int error = 0;
  try {
    schneemodellklasse m(error, in);
    if (error == 0) {
      m.SetSnowInterceptionFlag(0);
      const ModelDate d{0, 1, 1, 1, 2001};
      m.Run(d);
      m.PostRun(d);
    }
    m.DeleteModule();
  } catch (int) {
  }
  return 0;
}
