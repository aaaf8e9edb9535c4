// Feeds arbitrary text as the body of [snow_model] (and of [permafrost]) to the snow model's
// constructor: it must end in a module or an error code, never a crash. A module that was
// built steps once. File names of the text are kept inside a scratch folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_module.h"
#include "snow_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = ScratchFolder("/tmp/fuzz_snow_XXXXXX");
  if (dir.empty()) return 0;
  std::string body(reinterpret_cast<const char*>(data), size);
  for (char& ch : body)
    if (ch == '/' || ch == '~' || ch == '\0') ch = '_';
  const std::string path = dir + "snow.ctl";
  if (!WriteWhole(path, "[snow_model]\n1\n60\n" + body)) return 0;

  SnowFuzzDomain domain;
  // Every grid a method may need, and the state grids (so that none is read from a file).
  for (const char* n : {"zone_grid", "zonegrid_soilmodel", "[elevation_model]", "albedo", "landuse1", "precipitation",
                        "temperature", "wind_speed", "air_humidity", "AspectCorrectedGlobalRadiation", "cloudiness",
                        "vapor_pressure", "deposition_index", "slope_angle", "slidefraction1", "slidefraction2",
                        "slidefraction3", "slidefraction4", "temperature_night", "snowstorage_solid",
                        "snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age", "snowtemp", "surftemp",
                        "ThawCoeffPermaFrost", "PermafrostThawDepth", "root_depth1"})
    domain.Add(n, 1.0);
  ModuleInputs in = domain.Inputs(path, dir);
  int error = 0;
  try {
    FuzzOwner<schneemodellklasse> m = MakeModule<schneemodellklasse>(error, in);
    if (error == 0) {
      m->SetSnowInterceptionFlag(0);
      const ModelDate d{0, 1, 1, 1, 2001};
      m->Run(d);
      m->PostRun(d);
    }
  } catch (int) {
  }
  return 0;
}
