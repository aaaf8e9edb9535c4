// Feeds arbitrary text as a control file to the sections of the radiation correction and
// of evapotranspiration (with "[ArcVegIntegration]" and "[lake_model]") on a small basin
// that has every input grid: construction ends in a module or an error code, and a built
// module steps once without a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/module_basin.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"
#include "init/defaultini.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/radiation/expokorr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "fuzz_et_sections_" + std::to_string(getpid()) + ".ctl";
  if (!WriteWhole(path, std::string(reinterpret_cast<const char*>(data), size))) return 0;

  constexpr int kRows = 4, kCols = 5;
  QuietLog quiet;
  ModuleBasin basin(kRows, kCols);
  const char* names[] = {"zone_grid", "[elevation_model]", "slope_aspect", "slope_angle", "temperature",
                         "temperature_14", "temperature_night", "wind_speed", "air_humidity", "air_humidity_14",
                         "vapor_pressure", "global_radiation", "sunshine_duration", "albedo",
                         "SurfaceEvaporationResistance", "landuse", "leaf_area_index1", "root_depth1",
                         "vegetation_coverage_degree1", "SurfaceCanopyResistance1", "SurfaceIntercepResistance1",
                         "RoughnessLength1", "soil_storage", "available_soil_moisture", "lake_codes",
                         "ponding_storage", "snowstorage_solid", "GlacierizedCells"};
  int p = 0;
  for (const char* n : names) {
    double** m = basin.Register(n);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) m[r][c] = (r + c) % 3 * 0.4 + (p == 1 ? 1000.0 * r : 0.5);
    ++p;
  }
  basin.Grid("zone_grid")[2][2] = -9999.0;  // one cell outside the basin
  basin.SetZones({{1, 0.0}});
  basin.latitude = 47.0;
  RunValues run;
  basin.runValues = &run;
  const ModuleInputs in = basin.Inputs(quiet.log, path, "/dev/null/");  // no file can be written there
  const ModelDate date{0, 12, 15, 6, 2001};

  // The section itself must be there: its absence is thrown by the module base.
  try {
    int error = 0;
    FuzzOwner<expokorrklasse> correction = MakeModule<expokorrklasse>(error, in);
    if (error == 0) correction->Run(date);
  } catch (int) {
  }

  try {
    int error = 0;
    FuzzOwner<verdunstungsmodellklasse> et = MakeModule<verdunstungsmodellklasse>(error, in);
    if (error == 0) {
      et->LinkSoilGrids();
      et->SetSnowStorageGrid(basin.Grid("snowstorage_solid"));
      et->InitLakes("[lake_model]");
      et->PotentialET(date);
      et->SnowEvaporation(date);
      et->RealET(date);
    }
  } catch (int) {
  }
  return 0;
}
