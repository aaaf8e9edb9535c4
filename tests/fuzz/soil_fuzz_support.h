// Small in-memory basins for the soil model's fuzz targets. SoilGrids: 3 x 4 cells holding
// every grid the soil model reads (all 0.5 but the zone grids, all 1). The soil model's part
// of the storage file for the storage-file fuzz target: a soil model with the infiltration
// on over two sub-basins of those cells (one cell outside), with travel times of up to three
// steps; SoilStorageFuzz feeds a text to its warm start: the part must be restored or refused
// with code 71, never leave a value that is not finite, and a restored state must write back
// as text that reads to the same state.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../support/module_basin.h"
#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "init/defaultini.h"
#include "processes/soil/infilt.h"

namespace soilfuzz {

struct SoilGrids : ModuleBasin {
  static constexpr int kRows = 3, kCols = 4;
  std::vector<SoilTableEntry> soilRows{2};
  RunValues run;
  double** zone = nullptr;
  double** soilZones = nullptr;

  double** Add(const char* name, double value) { return Register(name, value); }

  SoilGrids() : ModuleBasin(kRows, kCols, 100.0) {
    zone = Add("zone_grid", 1.0);
    soilZones = Add("zonegrid_soilmodel", 1.0);
    for (const char* g : {"hydraulic_conductivity", "topographic_faktor", "soil_storage", "available_soil_moisture",
                          "root_depth1", "soil_types", "precipitation", "fillable_porosity"})
      Add(g, 0.5);
    soilRows[1].mSBFCapDifference = 0.1;
    soilRows[1].suction = 300;
    run.soilTable = &soilRows;
    runValues = &run;
  }

  // The inputs of a soil model built from the control file over the zones of SetZones,
  // its every file in dir (with its trailing "/").
  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& dir) {
    ModuleInputs in = ModuleBasin::Inputs(log, control, dir);
    in.output.inputDirectory = in.output.initialStateDirectory = dir;
    in.reportInterval = 1000;
    return in;
  }
};

struct Basin : SoilGrids {
  std::ostringstream console;
  LogStream log{console, QuietDiagnosticsFile(), 0};
  std::unique_ptr<infiltrationsmodellklasse> module;

  Basin() {
    const std::string dir = "fuzz_soil_storage_" + std::to_string(getpid());
    if (std::system(("mkdir -p " + dir).c_str()) != 0) std::abort();
    double** times = Add("flow_times", 3600.0);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 3; c <= kCols; ++c) soilZones[r][c] = 2.0, times[r][c] = 3600.0 * r;
    zone[3][4] = soilZones[3][4] = -9999.0;
    SetZones({{1, 0.0}, {2, 0.0}});
    const std::string path = dir + "/soil.ctl";
    const std::string control =
        "[infiltration_model]\n1\n60\ninfex\n0\ninfex.stat 0\nsat\n0\n0.5\n\n[soil_model]\n1\n60\n2\n"
        "sd\n0\nsuz\n0\nsif\n0\nsbia\n0\nnfkia\n0\nssp\n0\nqd\n0\nqi\n0\npeak\n"
        "a 0\nb 0\nc 0\nd 0\ne 0\nf 0\ng 0\nh 0\ni 0\n1 2\n0.05 0.04\n1e-6 2e-6\n1 0.5\n1 2\n20 15\n10 5\n"
        "100 200\n0.01 0.02\n0.1 0.2\n5 4\n0.4 0.6\n4 6\n0.5 0.5\n0.2 0.1\n0\nstate\n";
    if (!WriteWhole(path, control)) std::abort();
    const ModuleInputs in = Inputs(log, path, dir + "/");
    // Built without reading its state (read flag 0): the fuzzed text is the state.
    int error = 0;
    module = std::make_unique<infiltrationsmodellklasse>(error, in);
    if (error != 0) std::abort();
  }
};

inline Basin& TheBasin() {
  static Basin b;
  return b;
}

// Aborts when a restored value is not finite.
inline void CheckFinite(const infiltrationsmodellklasse& m) {
  for (int i = 1; i <= m.subbasins; ++i) {
    const size_t k = static_cast<size_t>(i);
    for (double v : {m.QD[k], m.QBB[k], m.meanDeficit[k]})
      if (!std::isfinite(v)) std::abort();
    for (const TravelTimeZoneRecord& z : m.zoneFZT[k])
      for (double v : {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum})
        if (!std::isfinite(v)) std::abort();
  }
  m.ForEachCell([&](int r, int c) {
    for (double v : {m.soilStorageOld[r][c], m.saturationMarker[r][c], m.peakFlow[r][c]})
      if (!std::isfinite(v)) std::abort();
  });
}

// The text of a valid part, as a seed for the corpus.
inline std::string SoilStorageSeed() { return TheBasin().module->StorageSectionText(); }

inline void SoilStorageFuzz(const std::string& text) {
  infiltrationsmodellklasse& m = *TheBasin().module;
  TheBasin().console.str("");
  try {
    m.RestoreStorageSection(text, "fuzz.txt");
  } catch (int code) {
    if (code != 71) std::abort();
    return;
  }
  CheckFinite(m);
  const std::string first = m.StorageSectionText();
  try {
    m.RestoreStorageSection(first, "fuzz.txt");
  } catch (int) {
    std::abort();
  }
  if (m.StorageSectionText() != first) std::abort();
}

}  // namespace soilfuzz
