// What the canopy snow methods (above 20) add to the construction of the interception
// module: their section values, the meteorological and snow inputs, the temperature stack
// of the last day, and the canopy snow grids with their statistics writers.
#include <cmath>

#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "processes/interception/interzep.h"

namespace {

const char* const kCanopyGridNames[kCanopyGridCount] = {
    "Snow_canopy_load", "Snow_canopy_albedo", "Snow_canopy_age", "Snow_canopy_sublim",
    "Snow_canopy_unload_solid", "Snow_canopy_unload_liquid", "Snow_canopy_temperature", "Snow_canopy_rh",
    "Snow_canopy_rad", "Snow_canopy_wind", "Snow_canopy_IR_radiation", "Canopy_Energy_balance",
    "CEB_Canopy_Temperature", "CEB_Canopy_Temperature_Old", "CEB_DUMMY"};

// Starting value in a basin cell of each grid that is not read from file.
const double kCanopyGridStart[kCanopyGridCount] = {0.0, 0.2, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                                                   0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

// What a canopy grid that a run starts from may hold: the load is a storage, the albedo a
// fraction, the age a count of steps, the temperature any number.
StateRange StoredRange(int g) {
  if (g == kCanopyLoad) return StateRange::Storage();
  if (g == kCanopyAlbedo) return StateRange::Fraction();
  if (g == kCanopyAge) return StateRange::AtLeast(0.0, "0", "an age is 0 or more");
  return StateRange::Finite();
}

// Statistics writers in the order of creation, with their header names.
struct CanopyWriter {
  CanopyGrid grid;
  const char* header;
};
const CanopyWriter kCanopyWriters[] = {
    {kCanopyLoad, "SCN_LOAD_in_mm"},
    {kCanopyAge, "SCN_AGE_Number_of_time_steps_per_day"},
    {kCanopyAlbedo, "SCN_ALBEDO_Dimensionless"},
    {kCanopySublimation, "SCN_SUBLIMATION_mm_per_time_step"},
    {kCanopyUnloadSolid, "SCN_SNOW_Throughfall_mm_per_time_step"},
    {kCanopyUnloadLiquid, "SCN_Output_rain_mm_per_time_step"},
    {kCanopyTemperatureGrid, "SCN_sub-canopy_temperature"},
    {kCanopyHumidity, "SCN_sub-canopy_relative_humidity"},
    {kCanopyRadiation, "SCN_sub-canopy_shortwave_radiation"},
    {kCanopyWind, "SCN_sub-canopy_windspeed"},
    {kCanopyEnergyBalanceGrid, "CEB_canopy_energy_balance"},
    {kCEBTemperature, "CEB_canopy_temperature"},
    {kCEBTemperatureOld, "CEB_canopy_temperature_old"},
    {kCEBDummy, "CEB_dummy"},
};

}  // namespace

void interzeptionsmodellklasse::ReadCanopySnowSection() {
  // Three values per grid: its file name, its write code, its statistics file with code.
  auto readGrid = [this](CanopyGrid g, const std::string& what, const std::string& statistics) {
    CanopySnowGrid& x = canopyGrids[g];
    ReadControlValue(x.fileName, "name " + what + " grid for ");
    ReadControlValue(x.writeCode, "write code " + what + " grid for ");
    ReadNameAndCode(x.statFile, x.statCode, "name " + statistics + " statistics file for ");
  };
  readGrid(kCanopyTemperatureGrid, "sub-canopy temperature", "sub-canopy stemperature");
  readGrid(kCanopyHumidity, "sub-canopy relative humidity", "sub-canopy relative humidity");
  readGrid(kCanopyRadiation, "sub-canopy shortwave radiation", "sub-canopy shortwave radiation");
  readGrid(kCanopyWind, "sub-canopy windspeed", "sub-canopy windspeed");
  // load, age, albedo and sublimation share their labels
  for (CanopyGrid g : {kCanopyLoad, kCanopyAge, kCanopyAlbedo, kCanopySublimation})
    readGrid(g, "snow canopy load", "snow canopy load");
  readGrid(kCanopyUnloadSolid, "snow canopy unload (snow)", "snow canopy unload (snow)");
  readGrid(kCanopyUnloadLiquid, "snow canopy liquid water output", "snow canopy liquid water output");
  ReadControlValue(minLAISnowCanopy, "minimum LAI value above which the snow canopy model will be started for");
  ReadControlValue(minZ0SnowCanopy, "minimum z0 value above which the snow canopy model will be started for");
  ReadControlValue(laiScaleSnowCanopy, "LAI scaling factor for the snow canopy model for");
  // The canopy snow model takes logarithms of the scaled leaf area index: it must be able
  // to become positive, and a negative threshold would admit cells without leaves.
  if (!(laiScaleSnowCanopy > 0.0) || !(minLAISnowCanopy >= 0.0)) {
    *log << "FATAL: the snow canopy model of " << sectionHeader << " in " << ShownControlFile()
         << " needs a LAI scaling factor above 0 and a minimum LAI of 0 or more, read scaling factor "
         << laiScaleSnowCanopy << " and minimum LAI " << minLAISnowCanopy << "[end-entry]";
    throw 1160;
  }
  canopyGrids[kCanopyIRRadiation].fileName = "SCN_IR";
  if (method > 30) {
    for (CanopyGrid g : {kCanopyEnergyBalanceGrid, kCEBTemperature, kCEBTemperatureOld, kCEBDummy})
      readGrid(g, "canopy energy balance", "canopy energy balance output");
  }
}

void interzeptionsmodellklasse::LookUpCanopySnowInputs() {
  airTemperature = grids[RequireOneOf3Grids("corr_temperature", "temperature", "temperature_14")].data;
  globalRadiation = grids[RequireGrid("AspectCorrectedGlobalRadiation")].data;
  windSpeed = grids[RequireGrid("wind_speed")].data;
  airHumidity = grids[RequireGrid("air_humidity")].data;
  cloudiness = grids[RequireGrid("cloudiness")].data;
  // One day of steps; a step longer than a day still keeps the newest grid.
  snowCanopyStack = std::make_unique<GridStack>(static_cast<int>(1440.0 / timeInterval), firstRow, lastRow,
                                                geometry.ncols, geometry.nrows);
  if (!canopyEnergyBalance) return;
  struct Needed {
    const char* name;
    double*** target;
    const char* message;
  } const needed[] = {
      {"albedo", &groundAlbedo,
       "FATAL: Albedo not available in advanced snow interception model with canopy energy balance (should be "
       "available when an extended snow model is used)"},
      {"snow_storage_total", &snowStorageTotal,
       "FATAL: total snow storage not available in advanced snow interception model with canopy energy balance "
       "(use any snow model to have this grid been created for you)"},
      {"surftemp", &surfaceTemperature,
       "FATAL: snow surface temperatur not available in advanced snow interception model with canopy energy "
       "balance (in snow model, an energy balance approach should be used)"},
  };
  for (const Needed& n : needed) {
    const int p = FindGrid(n.name);
    if (p <= 0) {
      *log << n.message << "[end-entry]";
      throw 1160;
    }
    *n.target = grids[p].data;
  }
}

void interzeptionsmodellklasse::CreateCanopySnowGrids(const ModuleInputs& in) {
  int first = 1;
  while (first <= kMaxGridPosition && (grids[first].registered || !grids[first].internalName.empty())) ++first;
  if (first > 985) RequireFreePosition(1000);
  const int count = CanopyGridCount();
  for (int g = 0; g < count; ++g) {
    CanopySnowGrid& x = canopyGrids[static_cast<size_t>(g)];
    x.position = first + g;
    RequireFreePosition(x.position);
    const bool stored = g == kCanopyLoad || g == kCanopyAlbedo || g == kCanopyAge || g == kCEBTemperatureOld;
    if (readInitialGrids == 1 && stored) {
      const ReadFlagScope asked(*this, "[" + name + "], read flag readgrids = 1");
      const EveryBasinCellScope everyCell(*this);
      ReadBasinGrid(x.fileName, x.data, 0, true, true, false, 0.0);
    } else {
      if (stored)
        NoteStateGridNotRead(MakePath(output.inputDirectory, x.fileName),
                             "the interception model: readgrids 1 of [" + name + "]");
      x.data = NewGrid(kCanopyGridStart[g]);
    }
    RegisterGrid(x.position, x.fileName, x.data, nullptr, 1, kCanopyGridNames[g], x.writeCode, firstRow, lastRow);
    if (stored) HoldStateRange(x.data, StoredRange(g));
    if (readInitialGrids == 1 && stored) RefuseImpossibleCells(x.data, x.fileName, kCanopyGridNames[g], StoredRange(g));
  }
  for (const CanopyWriter& w : kCanopyWriters) {
    if (w.grid >= count) continue;
    CanopySnowGrid& x = canopyGrids[w.grid];
    MakeStatistics(x.stats, in, x.statFile, x.statCode, w.header);
  }
  if (readInitialGrids == 1) ReadTemperatureStack();
}
