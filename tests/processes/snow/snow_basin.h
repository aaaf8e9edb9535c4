// A small basin for the snow model tests: every grid the snow methods read is registered,
// and the [snow_model] section is built line by line so that a test can replace a line.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"

class SnowBasin {
 public:
  static constexpr double N = -9999.0;
  SnowBasin(int rows, int cols) : rows(rows), cols(cols) {
    geometry.ncols = cols;
    geometry.nrows = rows;
    geometry.cellsize = 1000.0;
    geometry.nodata_value = N;
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
    zoneTable.resize(3);
    zoneTable[1].code = 1;
    zoneTable[1].fraction = 0.5;
    zoneTable[2].code = 2;
    zoneTable[2].fraction = 0.5;
    codeMap = {0, 1, 2};
    statisticsTable.resize(200);
  }

  // Registers a grid filled with a value at the next position.
  double** Add(const std::string& name, double value) {
    owned.emplace_back(rows, cols);
    double** m = owned.back().get();
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) m[r][c] = value;
    const int p = static_cast<int>(owned.size());
    registry[p].data = m;
    registry[p].internalName = name;
    registry[p].registered = true;
    return m;
  }
  double** Grid(const std::string& name) {
    for (int p = 1; p <= kMaxGridPosition && registry[p].registered; ++p)
      if (registry[p].internalName == name) return registry[p].data;
    return nullptr;
  }
  // A cell outside the basin: no-data in every grid read as a mask.
  void SetOutside(int r, int c) {
    for (const char* n : {"zone_grid", "zonegrid_soilmodel", "RelCellArea"}) Grid(n)[r][c] = N;
  }
  bool Inside(int r, int c) { return Grid("zone_grid")[r][c] != N; }

  ModuleInputs Inputs(LogStream& log, const std::string& control, const std::string& outDir) {
    ModuleInputs in;
    in.log = &log;
    in.controlFileName = control;
    in.grids = registry.Records();
    in.reportInterval = 24;
    in.statisticsTable = statisticsTable.data();
    in.statisticsSize = static_cast<int>(statisticsTable.size());
    in.zoneTable = zoneTable.data();
    in.zoneCodeMap = codeMap.data();
    in.zoneCount = 2;
    in.maxZoneCode = 2;
    in.firstRow = 1;
    in.lastRow = rows;
    in.geometry = geometry;
    in.start = ModelDate{0, 1, 1, 1, 2001};
    in.end = ModelDate{0, 0, 1, 6, 2001};
    in.latitude = 47.0;
    in.longitude = 11.0;
    in.referenceMeridian = 15.0;
    in.output.defaultOutputDirectory = outDir;
    in.output.outputDirectory = outDir;
    in.output.timeStepMinutes = 60.0;
    return in;
  }

  int rows, cols;
  GridGeometry geometry;
  GridRegistry registry;
  std::vector<MatrixOwner> owned;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
  std::vector<StatisticsTableEntry> statisticsTable;
};

// The lines of a [snow_model] section (header first); line k of the section is
// lines[k + 1]. Methods above 4 get the second block.
std::vector<std::string> SnowSectionLines(int method, int interval = 60, const std::string& statCode = "0");
std::string JoinLines(const std::vector<std::string>& lines);

// Builds the module from a control file in dir; fails the test on a construction error.
std::unique_ptr<schneemodellklasse> MakeSnowModel(SnowBasin& basin, LogStream& log, const std::string& dir,
                                                  const std::string& controlText, int& error);

// Date of step k (from 1) of a run from 1 January 2001 with the given interval in minutes.
ModelDate StepDate(int step, int interval);
