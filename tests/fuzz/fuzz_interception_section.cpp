// Feeds arbitrary text as a control file to the interception module: its section, the
// canopy snow values and "[ArcVegIntegration]" must end in a module or an error code,
// never a crash; a module that was built runs two steps.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "grids/grid_reader.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/interception/interzep.h"

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

constexpr int kRows = 3, kCols = 4;

struct Basin {
  NullBuffer buffer;
  std::ostream sink{&buffer};
  LogStream log{sink, "/dev/null", 4};
  GridRegistry registry;
  std::vector<std::unique_ptr<MatrixOwner>> owned;
  std::vector<ZoneTableEntry> zones = std::vector<ZoneTableEntry>(2);
  int codeMap[2] = {0, 1};
  std::vector<LanduseTableEntry> landuse = std::vector<LanduseTableEntry>(2);
  RunValues run;
  std::string folder;
  int next = 1;

  Basin() {
    char tmpl[] = "/tmp/orvel-fuzz-XXXXXX";
    if (mkdtemp(tmpl)) folder = std::string(tmpl) + "/";
    SetGridRetrySleeper([](int) {});
    zones[1].code = 1;
    zones[1].fraction = 1.0;
    run.landuseTable = &landuse;
    const char* names[] = {"zones", "[elevation_model]", "RelCellArea", "landuse1", "leaf_area_index1",
                           "vegetation_coverage_degree1", "RoughnessLength1", "SurfaceCanopyResistance1",
                           "SurfaceIntercepResistance1", "pot_transpiration0", "pot_transpiration1",
                           "potential_InterceptionEvap0", "potential_InterceptionEvap1", "real_transpiration0",
                           "real_transpiration1", "precipitation", "temperature", "AspectCorrectedGlobalRadiation",
                           "wind_speed", "air_humidity", "cloudiness", "albedo", "snow_storage_total", "surftemp",
                           "GlacierizedCells"};
    for (const char* n : names) Add(n, 1.0);
    // one fully glaciated cell, the others free of ice; freezing air
    registry[next - 1].data[1][1] = 1.0;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        if (r + c > 2) registry[next - 1].data[r][c] = 0.0;
        registry[17].data[r][c] = -1.0;
      }
  }
  void Add(const char* name, double value) {
    owned.push_back(std::make_unique<MatrixOwner>(kRows, kCols));
    double** m = owned.back()->get();
    for (int r = 1; r <= kRows; ++r)
      for (int c = 0; c <= kCols; ++c) m[r][c] = value;
    GridRecord& rec = registry[next++];
    rec.data = m;
    rec.internalName = name;
    rec.registered = true;
  }
  // Gives the registry back its inputs only: what the last module registered is gone.
  void Reset() {
    for (int p = next; p < kGridRegistrySize; ++p) registry[p] = GridRecord();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Basin basin;
  static const std::string path = "fuzz_interception_" + std::to_string(getpid()) + ".ctl";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  ModuleInputs in;
  in.log = &basin.log;
  in.controlFileName = path;
  in.grids = basin.registry.Records();
  in.zoneTable = basin.zones.data();
  in.zoneCodeMap = basin.codeMap;
  in.zoneCount = 1;
  in.maxZoneCode = 1;
  in.firstRow = 1;
  in.lastRow = kRows;
  in.geometry = GridGeometry{kCols, kRows, 0.0, 0.0, 100.0, -9999.0};
  in.start = ModelDate{0, 0, 1, 1, 2001};
  in.end = ModelDate{0, 0, 2, 1, 2001};
  in.minToIntEnd = 60.0;
  in.output.inputDirectory = basin.folder;
  in.output.outputDirectory = basin.folder;
  in.run = &basin.run;
  try {
    int error = 0;
    interzeptionsmodellklasse m(error, in);
    if (error == 0 && m.GetFlowControl() != 0) {
      m.Run(ModelDate{0, 1, 1, 1, 2001});
      m.Run(ModelDate{0, 2, 1, 1, 2001});
    }
    m.DeleteModule();
  } catch (int) {
  }
  basin.Reset();
  return 0;
}
