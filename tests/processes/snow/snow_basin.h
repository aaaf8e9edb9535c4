// A small basin for the snow model tests: every grid the snow methods read is registered,
// and the [snow_model] section is built line by line so that a test can replace a line.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "processes/snow/snowmod.h"
#include "support/module_basin.h"
#include "support/module_owner.h"

class SnowBasin : public ModuleBasin {
 public:
  static constexpr double N = -9999.0;
  SnowBasin(int rows, int cols) : ModuleBasin(rows, cols, 1000.0, N), rows(rows), cols(cols) {
    const char* names[] = {"zone_grid",       "[elevation_model]", "RelCellArea",  "zonegrid_soilmodel",
                           "albedo",          "landuse1",          "precipitation", "temperature",
                           "wind_speed",      "air_humidity",      "AspectCorrectedGlobalRadiation",
                           "cloudiness",      "vapor_pressure",    "deposition_index", "slope_angle",
                           "slidefraction1",  "slidefraction2",    "slidefraction3", "slidefraction4",
                           "temperature_night", "snow_evaporation", "Snow_canopy_unload_solid"};
    for (const char* n : names) Add(n, 0.0);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        Grid("zone_grid")[r][c] = c <= cols / 2 ? 1.0 : 2.0;
        Grid("zonegrid_soilmodel")[r][c] = c <= cols / 2 ? 1.0 : 2.0;
        Grid("[elevation_model]")[r][c] = 1000.0 + 37.0 * ((r * 7 + c * 3) % 11);
        Grid("RelCellArea")[r][c] = 1.0;
        Grid("albedo")[r][c] = 0.2;
        Grid("air_humidity")[r][c] = 0.7;
        Grid("cloudiness")[r][c] = 0.5;
      }
    SetOutside(2, cols);
    SetZones({{1, 0.5}, {2, 0.5}});
    statisticsTable.resize(200);
    start = ModelDate{0, 1, 1, 1, 2001};
    end = ModelDate{0, 0, 1, 6, 2001};
    latitude = 47.0;
    longitude = 11.0;
    referenceMeridian = 15.0;
  }

  // Registers a grid filled with a value at the next position.
  double** Add(const std::string& name, double value) { return Register(name, value); }
  // A cell outside the basin: no-data in every grid read as a mask.
  void SetOutside(int r, int c) {
    for (const char* n : {"zone_grid", "zonegrid_soilmodel", "RelCellArea"}) Grid(n)[r][c] = N;
  }
  bool Inside(int r, int c) { return Grid("zone_grid")[r][c] != N; }

  int rows, cols;
};

// The lines of a [snow_model] section (header first); line k of the section is
// lines[k + 1]. Methods above 4 get the second block.
std::vector<std::string> SnowSectionLines(int method, int interval = 60, const std::string& statCode = "0");
std::string JoinLines(const std::vector<std::string>& lines);

// Builds the module from a control file in dir; fails the test on a construction error.
ModuleOwner<schneemodellklasse> MakeSnowModel(SnowBasin& basin, LogStream& log, const std::string& dir,
                                                  const std::string& controlText, int& error);

// Date of step k (from 1) of a run from 1 January 2001 with the given interval in minutes.
ModelDate StepDate(int step, int interval);
