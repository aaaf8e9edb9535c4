// Feeds arbitrary text to the glacier readers of the snow model: with the first byte even,
// as the body of [ice_firn] (construction must end in a module or an error code, never a
// crash; a module that was built steps once); with it odd, as a storage file read by a
// module with a valid [ice_firn] (a section is restored or error 71 is thrown).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_module.h"
#include "processes/subbasin_runoff.h"
#include "snow_fuzz_support.h"

namespace {

const char* const kSnow =
    "[snow_model]\n1\n60\n1\n1.0\n0.5\n0.0\n0.1\n0.05\n2.0\n1.5\n0.3\n0.01\n1.0\n3.0\n0.45\n0.9\n"
    "rain.asc\n0\nrain.stat 0\nsnow.asc\n0\nsnow.stat 0\nsd.asc\n0\nsd.stat 0\nsa.asc\n0\nsa.stat 0\nalb.stat 0\n"
    "out.asc\n0\nout.stat 0\nmo.asc\n0\nmo.stat 0\nsolid.asc\n0\nliquid.asc\n0\ntotal.stat 0\ntotal.asc\n0\n0\n";
const char* const kIceFirn =
    "[ice_firn]\n1\n7.2\n4.8\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n2\n5\n10\n0.5\n0.25\n0.125\n"
    "firn.asc\n0\nqfirn.stat 0\nice.asc\n0\nqice.stat 0\nqglac.out 0\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = ScratchFolder("/tmp/fuzz_glacier_XXXXXX");
  if (dir.empty() || size == 0) return 0;
  const bool storage = data[0] & 1;
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (char& ch : body)
    if (ch == '/' || ch == '~' || ch == '\0') ch = '_';
  const std::string path = dir + "glacier.ctl";
  if (!WriteWhole(path, std::string(kSnow) + (storage ? std::string(kIceFirn) : "[ice_firn]\n" + body))) return 0;

  SnowFuzzDomain domain;
  for (const char* n : {"zone_grid", "[elevation_model]", "albedo", "landuse1", "precipitation", "temperature",
                        "snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age",
                        "global_radiation", "debris_on_glaciers"})
    domain.Add(n, 1.0);
  double** subbasins = domain.Add("zonegrid_soilmodel", 1.0);
  for (int r = 1; r <= SnowFuzzDomain::kRows; ++r) subbasins[r][4] = 3.0;
  double** ice = domain.Add("ice_firn", -9999.0);
  ice[1][1] = 1.0;
  ice[2][1] = 2.0;
  double** fraction = domain.Add("GlacierizedCells", 0.0);
  double** codes = domain.Add("GlacierCodes", -9999.0);
  fraction[1][2] = 0.5;
  codes[1][2] = 4.0;
  ModuleInputs in = domain.Inputs(path, dir);
  int error = 0;
  std::vector<double> row(4, 0.0);
  double* rows[1] = {row.data()};
  SubbasinRunoff runoff;
  runoff.table = rows;
  runoff.subbasinCount = 2;
  try {
    FuzzOwner<schneemodellklasse> m = MakeModule<schneemodellklasse>(error, in);
    if (error == 0) {
      m->SetSnowInterceptionFlag(0);
      m->SetSubbasinRunoff(&runoff);
      if (storage) {
        try {
          m->RestoreStorageSection(body, "fuzz");
        } catch (int) {
        }
      }
      const ModelDate d{0, 1, 1, 1, 2001};
      m->Run(d);
      m->PostRun(d);
    }
  } catch (int) {
  }
  return 0;
}
