// The snow model's links with the rest of the run: input grids, lakes, tracers, the
// soil model's runoff record, the statistics flush and the tear-down.
#include <initializer_list>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"

void schneemodellklasse::SetRadiationCorrection(double** correctionData) {
  if (flowControl != 0) radiationCorrection = correctionData;
}

double** schneemodellklasse::GetSnowStorageSolid() { return flowControl != 0 ? grid[kSolid] : nullptr; }

int schneemodellklasse::SetSubbasinRunoff(SubbasinRunoff* runoff) {
  if (flowControl != 0) {
    subbasinRunoff = runoff;
    linked = 1;
  }
  return flowControl;
}

void schneemodellklasse::SetSnowInterceptionFlag(int flag) {
  snowInterception = flag;
  if (flowControl != 0 && !inputsLinked) LinkInputs();
}

void schneemodellklasse::ShareScratchGrids() {
  if (flowControl == 0) return;
  // The total storage, snowfall, rainfall, melt and the snow-covered share of the day are
  // written by the step and read by its statistics in the second phase right after it (the
  // cell takes its storage and its split of the precipitation anew; slides read the total).
  // A grid whose statistics are off is read by nothing: all such grids share one slot.
  const std::pair<Grid, Stat> perStep[] = {
      {kTotal, sTotal}, {kSnowfall, sSnowfall}, {kRainfall, sRainfall}, {kMeltOnly, sMeltOnly}, {kDaysSnow, sDaysSnow}};
  size_t slot = 0;
  int unreadSlot = -1;
  for (const auto& [g, s] : perStep) {
    if (!gridOwned[g] || !grid[g]) continue;
    const bool read = (statistics[s] && statistics[s]->Active()) || (g == kTotal && snow::HasSlides(method));
    const size_t k = read || unreadSlot < 0 ? slot : static_cast<size_t>(unreadSlot);
    if (double** shared = ScratchFor(gridPosition[g], k)) {
      FreeMatrix(grid[g]);
      grid[g] = shared;
      gridOwned[g] = false;
      if (k == slot) {
        if (!read) unreadSlot = static_cast<int>(slot);
        ++slot;
      }
    }
  }
}

void schneemodellklasse::LinkInputs() {
  const std::string never = "ungueltiger_Name";
  auto data = [&](int position) { return grids[position].data; };
  if (snowInterception)
    precipitation = data(RequireOneOf3Grids("throughfall0", "precipitation", never));
  else
    precipitation = data(RequireGrid("precipitation"));
  canopyUnload = Registered("Snow_canopy_unload_solid");
  canopyLongwave = Registered("Snow_canopy_IR_radiation");
  interceptionStores.clear();
  for (int k = 0; double** store = Registered(FormatText("interception_storage%d", k)); ++k)
    interceptionStores.push_back(store);
  canopySnowLoad = Registered("Snow_canopy_load");
  // The open air, where the sub-canopy grid of a variable is taken (the interception module
  // requires the open-air grids beside them).
  auto open = [this](double** taken, const char* canopyName, std::initializer_list<const char*> openNames) {
    if (!taken || !Registered(canopyName)) return taken;
    for (const char* n : openNames)
      if (double** g = Registered(n)) return g;
    return taken;
  };
  if (snow::UsesWind(method)) wind = data(RequireOneOf3Grids("Snow_canopy_wind", "wind_speed", never));
  if (snow::IsEnergyBalance(method)) {
    humidity = data(RequireOneOf3Grids("Snow_canopy_rh", "air_humidity", never));
    radiation = data(RequireOneOf3Grids("Snow_canopy_rad", "AspectCorrectedGlobalRadiation", never));
  }
  temperature = data(RequireOneOf4Grids("Snow_canopy_temperature", "corr_temperature", "temperature", "temperature_14"));
  openTemperature = open(temperature, "Snow_canopy_temperature", {"corr_temperature", "temperature", "temperature_14"});
  openWind = open(wind, "Snow_canopy_wind", {"wind_speed"});
  openHumidity = open(humidity, "Snow_canopy_rh", {"air_humidity"});
  openRadiation = open(radiation, "Snow_canopy_rad", {"AspectCorrectedGlobalRadiation"});
  inputsLinked = true;
}

void schneemodellklasse::LinkSnowStackGrids(int enable, void* reference, double value) {
  if (flowControl == 0) return;
  snowStackFlag = static_cast<unsigned char>(enable != 0);
  if (!snowStackFlag) return;
  snowStackReference = reference;
  snowStackPositions[0] = RequireGrid("SnowWaterEquivalentSolid");
  snowStackPositions[1] = RequireGrid("SnowWaterEquivalentLiquid");
  snowStackPositions[5] = RequireGrid("upperIndexSnow");
  snowStackPositions[2] = RequireGrid("SnowLayerThickness");
  snowStackPositions[3] = RequireGrid("SnowDensity");
  if (modeFlag) snowStackPositions[4] = RequireGrid("Temperature_Stack_Snow");
  snowStackValue = value;
}

int schneemodellklasse::SetStackParameters(int first, int second, int third, int64_t fourth) {
  stackBytes[0] = static_cast<unsigned char>(first & 0xff);
  stackBytes[1] = static_cast<unsigned char>(second & 0xff);
  stackBytes[2] = static_cast<unsigned char>(third & 0xff);
  stackValue = fourth;
  return stackBytes[0] | (stackBytes[1] << 8);
}

void schneemodellklasse::InitLakes(const std::string& lakeSection) {
  if (flowControl == 0) return;
  if (FindGrid("lake_codes") == 0) {
    *log << "INFO: no LAKE-grid was found in " << name << "\n"
         << "Lake modelling is switched off for " << name << "." << "[end-entry]";
    return;
  }
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  SeekControlKey(lakeSection, true);
  ReadControlValue(lakeFlowControl, "flow control parameter for ");
  if (lakeFlowControl != 0) {
    lakeCodes = grids[RequireGrid("lake_codes")].data;
    pondingStorage = Registered("ponding_storage");
    if (!pondingStorage) pondingStorage = Registered("ponding_storage_top");
    if (!pondingStorage) {
      CloseControlFile();
      *log << "FATAL: \n\n=======================================\n"
           << "!!!! ERROR !!!! \n\n"
           << "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
           << "\nboth grids as well as the MAXPOND grid must be present."
           << "\n\n=======================================\n" << "[end-entry]";
      throw 28;
    }
  }
  CloseControlFile();
}

void schneemodellklasse::InitTracers(int& error, int count, TracerRecord* table,
                                     StatisticsTableEntry* statisticsTableIn, int statisticsSizeIn) {
  error = 0;
  if (flowControl == 0) return;
  teilmodellklasse::InitTracers(error, count, table, statisticsTableIn, statisticsSizeIn);
  if (error != 0) throw error;
  tracerInputs.assign(static_cast<size_t>(tracerCount) + 1, nullptr);
  for (int i = 1; i <= tracerCount; ++i)
    tracerInputs[i] = grids[RequireOneOf3Grids(FormatText("concflux_tracer_%1d_%s", i, "irrigation"),
                                               FormatText("concflux_tracer_%1d_%s", i, "input"), "!!_no_entry_!!")]
                          .data;
}

void schneemodellklasse::DeleteTracers() {
  if (flowControl != 0) teilmodellklasse::DeleteTracers();
}

void schneemodellklasse::WriteStatistics() {
  if (flowControl == 0) return;
  for (auto& s : statistics)
    if (s) s->WriteRow();
  for (auto& s : glacierStatistics)
    if (s) s->WriteRow();
  for (ModuleTracer& t : moduleTracers)
    if (t.statistics) t.statistics->WriteRow();
}

void schneemodellklasse::FreeEverything() {
  for (auto& s : statistics)
    if (s) {
      s->Release();
      s.reset();
    }
  for (auto& s : glacierStatistics)
    if (s) {
      s->Release();
      s.reset();
    }
  glacierInventory.reset();  // refers into the glacier grids
  for (int g = 0; g < kGridCount; ++g) {
    if (gridOwned[g] && grid[g]) {
      if (grids && gridPosition[g] > 0 && grids[gridPosition[g]].data == grid[g]) FreeGrid(gridPosition[g]);
      FreeMatrix(grid[g]);
    }
    grid[g] = nullptr;
    gridOwned[g] = false;
    gridPosition[g] = 0;
  }
  if (firnStackOwned) Free3DMatrix(firnStack);
  firnStack = nullptr;
  firnStackOwned = false;
  snowStorageSolid = nullptr;
  glacierInventory.reset();  // it refers to the glacier grids
  landAlbedo.clear();
  landAlbedoCode.clear();
  landAlbedoDay = -1;
}

void schneemodellklasse::DeleteModule() {
  if (flowControl != 0) {
    if (linked) WriteStorageFile(true);
    DeleteTracers();
    FreeEverything();
  }
  modelobject::DeleteModule();
}
