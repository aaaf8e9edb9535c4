// Feeds arbitrary text as a control file to the interception module: its section, the
// canopy snow values and "[ArcVegIntegration]" must end in a module or an error code,
// never a crash; a module that was built runs two steps.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../support/module_basin.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"
#include "grids/grid_reader.h"
#include "init/defaultini.h"
#include "processes/interception/interzep.h"

namespace {

constexpr int kRows = 3, kCols = 4;

struct Basin : ModuleBasin {
  QuietLog quiet{4};
  std::vector<LanduseTableEntry> landuse = std::vector<LanduseTableEntry>(2);
  RunValues run;
  std::string folder = ScratchFolder("/tmp/orvel-fuzz-XXXXXX");
  int inputs = 0;  // grids of the basin; what a module registers comes after them

  Basin() : ModuleBasin(kRows, kCols, 100.0) {
    SetGridRetrySleeper([](int) {});
    SetZones({{1, 1.0}});
    run.landuseTable = &landuse;
    runValues = &run;
    start = ModelDate{0, 0, 1, 1, 2001};
    end = ModelDate{0, 0, 2, 1, 2001};
    for (const char* n : {"zones", "[elevation_model]", "RelCellArea", "landuse1", "leaf_area_index1",
                          "vegetation_coverage_degree1", "RoughnessLength1", "SurfaceCanopyResistance1",
                          "SurfaceIntercepResistance1", "pot_transpiration0", "pot_transpiration1",
                          "potential_InterceptionEvap0", "potential_InterceptionEvap1", "real_transpiration0",
                          "real_transpiration1", "precipitation", "temperature", "AspectCorrectedGlobalRadiation",
                          "wind_speed", "air_humidity", "cloudiness", "albedo", "snow_storage_total", "surftemp",
                          "GlacierizedCells"}) {
      double** m = Register(n);
      for (int r = 1; r <= kRows; ++r)
        for (int c = 0; c <= kCols; ++c) m[r][c] = 1.0;
      ++inputs;
    }
    // one fully glaciated cell, the others free of ice; freezing air
    double** glacier = Grid("GlacierizedCells");
    double** temperature = Grid("temperature");
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        if (r + c > 2) glacier[r][c] = 0.0;
        temperature[r][c] = -1.0;
      }
  }
  // Gives the registry back its inputs only: what the last module registered is gone.
  void Reset() {
    for (int p = inputs + 1; p < kGridRegistrySize; ++p) registry[p] = GridRecord();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Basin basin;
  static const std::string path = "fuzz_interception_" + std::to_string(getpid()) + ".ctl";
  if (!WriteWhole(path, std::string(reinterpret_cast<const char*>(data), size))) return 0;

  ModuleInputs in = basin.Inputs(basin.quiet.log, path, basin.folder);
  in.minToIntEnd = 60.0;
  in.output.inputDirectory = basin.folder;
  try {
    int error = 0;
    FuzzOwner<interzeptionsmodellklasse> m = MakeModule<interzeptionsmodellklasse>(error, in);
    if (error == 0 && m->GetFlowControl() != 0) {
      m->Run(ModelDate{0, 1, 1, 1, 2001});
      m->Run(ModelDate{0, 2, 1, 1, 2001});
    }
  } catch (int) {
  }
  basin.Reset();
  return 0;
}
