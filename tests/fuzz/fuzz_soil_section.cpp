// Feeds arbitrary text to the soil model's section reader (the values after the flow control
// parameter and the time interval: grid and statistics names, the sub-basin parameter table,
// the read flag and the storage file name) on a small in-memory basin, and, when the model
// is built, the same text to the reader of its storage-file part. Each input ends in a model
// or in an error code; '/' and '~' are replaced so that no name leaves its temporary folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/soil/infilt.h"

namespace {

struct Basin {
  static constexpr int kRows = 3, kCols = 4;
  GridRegistry registry;
  std::vector<std::unique_ptr<MatrixOwner>> grids;
  std::vector<SoilTableEntry> soilRows{2};
  RunValues run;
  std::vector<ZoneTableEntry> zones{2};
  std::vector<int> map{0, 1};
  int next = 1;
  void Add(const char* name, double value) {
    grids.push_back(std::make_unique<MatrixOwner>(kRows, kCols));
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) (*grids.back())[r][c] = value;
    registry[next].data = grids.back()->get();
    registry[next].internalName = name;
    registry[next].registered = true;
    ++next;
  }
  Basin() {
    Add("zone_grid", 1.0);
    Add("zonegrid_soilmodel", 1.0);
    (*grids.back())[1][1] = 2.0;
    (*grids.back())[2][2] = 4.0;
    (*grids.back())[3][4] = -9999.0;
    for (const char* g : {"hydraulic_conductivity", "topographic_faktor", "soil_storage", "available_soil_moisture",
                          "root_depth1", "soil_types", "precipitation", "fillable_porosity"})
      Add(g, 0.5);
    soilRows[1].mSBFCapDifference = 0.1;
    soilRows[1].suction = 300;
    run.soilTable = &soilRows;
  }
};

}  // namespace

std::string gDirectory;  // every file of the model goes here

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/fuzz_soil_XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  gDirectory = std::string(dir) + "/";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& ch : text)
    if (ch == '/' || ch == '~' || ch == '\0') ch = '_';
  {
    std::FILE* f = std::fopen((gDirectory + "soil.ctl").c_str(), "w");
    if (!f) return 0;
    std::fputs("[infiltration_model]\n1\n60\ninfex\n0\ninfex.stat 0\nsat\n0\n0.5\n\n[soil_model]\n1\n60\n", f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  Basin b;
  std::ostringstream console;
  LogStream log(console, "", 0);
  ModuleInputs in;
  in.log = &log;
  in.controlFileName = gDirectory + "soil.ctl";
  in.output.defaultOutputDirectory = in.output.outputDirectory = gDirectory;
  in.output.inputDirectory = in.output.initialStateDirectory = gDirectory;
  in.grids = b.registry.Records();
  in.zoneTable = b.zones.data();
  in.zoneCodeMap = b.map.data();
  in.zoneCount = 1;
  in.maxZoneCode = 1;
  in.lastRow = Basin::kRows;
  in.geometry.nrows = Basin::kRows;
  in.geometry.ncols = Basin::kCols;
  in.geometry.cellsize = 100;
  in.run = &b.run;
  in.reportInterval = 1000;
  std::unique_ptr<infiltrationsmodellklasse> m;
  try {
    int error = 0;
    m = std::make_unique<infiltrationsmodellklasse>(error, in);
    m->SetInputGrid(0);
  } catch (int) {
    return 0;
  }
  try {
    m->RestoreStorageSection(text, "state");
  } catch (int code) {
    if (code != 71) __builtin_trap();
  }
  try {
    m->Run(ModelDate{0, 1, 1, 1, 2001});
  } catch (int code) {
    if (code != 55) __builtin_trap();
  }
  m->DeleteModule();
  return 0;
}
