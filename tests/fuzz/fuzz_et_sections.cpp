// Feeds arbitrary text as a control file to the sections of the radiation correction and
// of evapotranspiration (with "[ArcVegIntegration]" and "[lake_model]") on a small basin
// that has every input grid: construction ends in a module or an error code, and a built
// module steps once without a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/teilmod.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/radiation/expokorr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "fuzz_et_sections_" + std::to_string(getpid()) + ".ctl";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  constexpr int kRows = 4, kCols = 5;
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  const char* names[] = {"zone_grid", "[elevation_model]", "slope_aspect", "slope_angle", "temperature",
                         "temperature_14", "temperature_night", "wind_speed", "air_humidity", "air_humidity_14",
                         "vapor_pressure", "global_radiation", "sunshine_duration", "albedo",
                         "SurfaceEvaporationResistance", "landuse", "leaf_area_index1", "root_depth1",
                         "vegetation_coverage_degree1", "SurfaceCanopyResistance1", "SurfaceIntercepResistance1",
                         "RoughnessLength1", "soil_storage", "available_soil_moisture", "lake_codes",
                         "ponding_storage", "snowstorage_solid", "GlacierizedCells"};
  int p = 0;
  for (const char* n : names) {
    owned.emplace_back(kRows, kCols);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) owned.back()[r][c] = (r + c) % 3 * 0.4 + (p == 1 ? 1000.0 * r : 0.5);
    ++p;
    registry[p].data = owned.back().get();
    registry[p].internalName = n;
    registry[p].registered = true;
  }
  owned[0][2][2] = -9999.0;  // one cell outside the basin
  std::vector<ZoneTableEntry> zones(2);
  zones[1].code = 1;
  int codeMap[2] = {0, 1};
  RunValues run;
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
  in.latitude = 47.0;
  in.output.defaultOutputDirectory = "/dev/null/";  // no file can be written there
  in.output.outputDirectory = "/dev/null/";
  in.run = &run;
  const ModelDate date{0, 12, 15, 6, 2001};

  // The section itself must be there: its absence is thrown by the module base.
  try {
    int error = 0;
    expokorrklasse correction(error, in);
    try {
      if (error == 0) correction.Run(date);
    } catch (int) {
    }
    correction.DeleteModule();
  } catch (int) {
  }

  try {
    int error = 0;
    verdunstungsmodellklasse et(error, in);
    if (error == 0) {
      try {
        et.LinkSoilGrids();
        et.SetSnowStorageGrid(registry[27].data);
        et.InitLakes("[lake_model]");
        et.PotentialET(date);
        et.SnowEvaporation(date);
        et.RealET(date);
      } catch (int) {
      }
    }
    et.DeleteModule();
  } catch (int) {
  }
  return 0;
}
