// Evapotranspiration module: construction (section, inputs, output grids and statistics
// writers), the wiring operations of the application, open water and release.
#include "processes/evapotranspiration/etpetr.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/value_checks.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/evapotranspiration/et_kernels.h"
#include "tables/landuse_table.h"
#include "tables/multilayer_table.h"

namespace {

const char* const kMethodTags[5] = {"", "(Penman/Monteith)_", "(HAMON)_", "(WENDLING)_", "(HAUDE)_"};

// File name of layer k: "_Layer_k" before the last "." of the layer-0 name.
std::string LayerFileName(const std::string& name, int k) {
  if (k == 0) return name;
  const size_t dot = name.rfind('.');
  const std::string tag = "_Layer_" + std::to_string(k);
  if (dot == std::string::npos) return name + tag;
  return name.substr(0, dot) + tag + name.substr(dot);
}

std::string MissingInputsBlock(bool radiation) {
  const std::string rule = "-------------------------------------------------------------------\n";
  if (radiation)
    return "FATAL: --------------------------- ERROR ----------------------------------------\nEvapotranspiration "
           "requires at least one of the following entities\nerlative sunshine duration (SSD, in 1/1)  or global "
           "radiation  (RG, in Wh/m^2).\nor net radiation (RN, in Wh/m^2) (either RG or RN!)\n" +
           rule;
  return "FATAL: ---------------------------- ERROR ---------------------------------------\nEvapotranspiration "
         "requires at least one of the following entities\nvapor pressure (e, in mbar) or relative air humidity "
         "(RLF, in 1/1).\n" +
         rule;
}

}  // namespace


verdunstungsmodellklasse::verdunstungsmodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "evapotranspiration", 1, SectionRequirement::Required) {
  error = 0;
  if (grids && flowControl == 0) NoteSwitchedOff(in);
  if (!in.zoneCodeMap || !grids || flowControl == 0) return;
  try {
    *log << "file etpetr, compiled at " << __DATE__ << " " << __TIME__ << "[end-entry]";
    if (in.run) {
      landuseTable = in.run->landuseTable;
      multiLayerTable = in.run->multiLayerTable;
    }
    layers = 1;
    if (multiLayerTable && multiLayerTable->size() > 1) layers = std::max(1, (*multiLayerTable)[1].layerCount);

    ReadEtSection(*this, section, timeInterval);
    method = section.method;
    CloseControlFile();
    if (method > 1 && layers > 1) {
      *log << "FATAL: \n---------------------- error in evapotranspiration model ------------------- \n\nModelling "
              "evapotranspiration after HAMON, WENDLING or HAUDE is only possible\nfor unlayered Vegetation. "
              "Actual parameters: method: "
           << method << ", number of layers: " << layers
           << "\n\n-----------------------------------------------------------------------\n" << "[end-entry]";
      throw 44;
    }
    if (method > 1 && timeInterval < 1440.0)
      *log << "WARNING: \n---------------------- error in evapotranspiration model ------------------- \n\nModelling "
              "evapotranspiration after HAMON, WENDLING or HAUDE should only be used\nfor daily time steps or "
              "larger. The actual time step is less than 1440 min.\nactual parameters: method: "
           << method << ", timestep: " << timeInterval
           << " minutes\n\n-----------------------------------------------------------------------\n" << "[end-entry]";

    if (!OpenControlFile()) {
      *log << "FATAL: error opening " << controlFileName << "[end-entry]";
      throw 28;
    }
    if (SeekControlKey("[ArcVegIntegration]", false)) {
      int on = 0;
      ReadControlValue(on, "");
      arcVeg = on > 0;
    }
    CloseControlFile();

    // Inputs present.
    const auto has = [this](const char* n) { return FindGrid(n) > 0; };
    inputMask = 0;
    if (method == 1) {
      if (has("air_pressure")) inputMask |= 1;
      if (has("wind_speed")) inputMask |= 16;
      if (has("air_humidity")) inputMask |= 32;
      if (has("vapor_pressure")) inputMask |= 64;
    }
    if (method == 4) {
      if (has("air_humidity_14")) inputMask |= 32;
      if (has("vapor_pressure_14")) inputMask |= 64;
    }
    if (has("landuse0") || has("landuse")) inputMask |= 2;
    if (method == 1 || method == 3) {
      if (has("net_radiation")) {
        inputMask |= 4;
        netRadiation = true;
      } else if (has("global_radiation")) {
        inputMask |= 4;
      }
      if (has("sunshine_duration")) inputMask |= 8;
    }
    if (method == 4 ? has("temperature_14") : (has("corr_temperature") || has("temperature"))) inputMask |= 128;
    if ((method == 1 || method == 3) && !(inputMask & (4 | 8))) {
      *log << MissingInputsBlock(true) << "[end-entry]";
      throw 46;
    }
    if ((method == 1 || method == 4) && !(inputMask & (32 | 64))) {
      *log << MissingInputsBlock(false) << "[end-entry]";
      throw 46;
    }
    if (arcVeg) {
      bool all = layers > 0;
      for (int k = 1; k <= layers; ++k) all = all && has(("ArcVeg_Fraction_" + std::to_string(k)).c_str());
      if (!all) {
        *log << "FATAL: ERROR in initializing ETPETR: [ArcVegIntegration] is active but there are no or not all "
                "fraction grids found as standard grids (ArcVeg_Fraction_1..n according to the number of land use "
                "layers)"
             << "[end-entry]";
        throw 1400;
      }
    }
    LookUpGrids();
    CreateOutputs(in);
    if (landuseTable)
      for (size_t r = 1; r < landuseTable->size(); ++r)
        if ((*landuseTable)[r].GetName() == "pineforest") {
          pineforestRow = static_cast<int>(r);
          break;
        }
    // Glacier fraction: "GlacierizedCells", else "ice_firn", until the snow model hands
    // over its own.
    glaciers = GlacierCellsInRegistry(*this);
    // Sub-steps of the clear-sky radiation: at most one per daylight hour of the step
    // (steps are taken as at most a month long).
    cosZenith.assign(static_cast<size_t>(std::ceil(std::min(timeInterval, 31.0 * 1440.0) / 60.0)) + 2, 0.0);
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
}

verdunstungsmodellklasse::~verdunstungsmodellklasse() = default;

void verdunstungsmodellklasse::LookUpGrids() {
  const auto required = [this](const std::string& n) { return grids[RequireGrid(n)].data; };
  const auto optional = [this](const std::string& n) {
    const int p = FindGrid(n);
    return p > 0 ? grids[p].data : nullptr;
  };
  temperature = method == 4 ? required("temperature_14")
                            : grids[RequireOneOf3Grids("corr_temperature", "temperature", "temperature")].data;
  dem = required("[elevation_model]");
  const size_t n = static_cast<size_t>(layers) + 1;
  for (auto* v : {&landuse, &lai, &rootDepth, &cover, &canopyResistance, &interceptionResistance, &roughness})
    v->assign(n + 1, nullptr);  // one more: "the layer below the lowest" reads as absent
  if (layers > 1) landuse[0] = required("landuse");
  for (int k = 1; k <= layers; ++k) {
    const std::string s = std::to_string(k);
    double** own = optional("landuse" + s);
    // A basin of one layer (no multilayer table) has its land use in "landuse" itself.
    landuse[k] = own ? own : (layers == 1 ? required("landuse") : required("landuse" + s));
    lai[k] = required("leaf_area_index" + s);
    rootDepth[k] = required("root_depth" + s);
    cover[k] = required("vegetation_coverage_degree" + s);
    canopyResistance[k] = required("SurfaceCanopyResistance" + s);
    interceptionResistance[k] = required("SurfaceIntercepResistance" + s);
    roughness[k] = required("RoughnessLength" + s);
  }
  if (method == 1) {
    wind = required("wind_speed");
    soilResistance = required("SurfaceEvaporationResistance");
  }
  if (method == 1 || method == 3) albedo = required("albedo");
  if (method == 1 && timeInterval > 720.0) nightTemperature = required("temperature_night");
  if ((method == 1 || method == 3) && (inputMask & 4)) radiation = required(netRadiation ? "net_radiation" : "global_radiation");
  if (inputMask & 8) sunshine = required("sunshine_duration");
  if (inputMask & 64) vapourPressure = required(method == 4 ? "vapor_pressure_14" : "vapor_pressure");
  if (inputMask & 32) humidity = required(method == 4 ? "air_humidity_14" : "air_humidity");
  if (inputMask & 1) airPressure = required("air_pressure");
  if (arcVeg) {
    arcVegFraction.assign(n, nullptr);
    for (int k = 1; k <= layers; ++k) arcVegFraction[k] = required("ArcVeg_Fraction_" + std::to_string(k));
  }
}

void verdunstungsmodellklasse::NoteSwitchedOff(const ModuleInputs& in) {
  // A module that needs a grid only this one makes (interception the potential
  // transpiration) names it as switched off.
  const std::string why = "evapotranspiration makes this grid, and it is switched off: the flow control of "
                          "[evapotranspiration] in " + ShownControlFile() + " is 0; set it to 1";
  int layerCount = 1;
  if (in.run && in.run->multiLayerTable && in.run->multiLayerTable->size() > 1)
    layerCount = std::max(1, (*in.run->multiLayerTable)[1].layerCount);
  for (int k = 0; k <= layerCount; ++k)
    for (const char* grid : {"pot_transpiration", "real_transpiration", "potential_InterceptionEvap"})
      NoteAbsentGrid(grids, grid + std::to_string(k), why);
  for (const char* grid : {"potential_evaporation", "real_evaporation", "snow_evaporation",
                           "AspectCorrectedGlobalRadiation", "cloudiness", "SSDTemp"})
    NoteAbsentGrid(grids, grid, why);
}

double** verdunstungsmodellklasse::NewGrid(double fill) {
  MatrixOwner m(geometry.nrows, geometry.ncols, log);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 0; c <= geometry.ncols; ++c) m[r][c] = IsBasinCell(r, c) ? fill : geometry.nodata_value;
  owned.push_back(std::move(m));
  return owned.back().get();
}

int verdunstungsmodellklasse::Register(const std::string& fileName, double** data, const std::string& internalName,
                                       int writeCode) {
  const int p = FirstFreeGridPosition();
  if (p < 1) {
    *log << "FATAL: no free grid left" << "[end-entry]";
    throw 12;
  }
  RegisterGrid(p, fileName, data, nullptr, 0, internalName, writeCode, 1, geometry.nrows);
  registered.push_back(p);
  return p;
}

std::unique_ptr<zonalstatistic> verdunstungsmodellklasse::NewWriter(const ModuleInputs& in, const std::string& file,
                                                                    int code, const std::string& title) {
  zoneTables.emplace_back();
  zoneTableWriters.push_back(nullptr);
  if (zoneTable) zoneTables.back().assign(zoneTable, zoneTable + zoneCount + 1);
  int err = 0;
  auto w = std::make_unique<zonalstatistic>(
      &err, log, statisticsTable, statisticsSize, relCellArea, geometry.nrows, geometry.ncols,
      zoneTables.back().empty() ? nullptr : zoneTables.back().data(), zoneCount, code, 3, file,
      in.output.defaultOutputDirectory.empty() ? nullptr : in.output.defaultOutputDirectory.c_str(), outputListCount,
      outputList, timeInterval < 60.0);
  if (err) throw err;
  w->WriteHeader(title, "", statisticsTable, statisticsSize);
  zoneTableWriters.back() = w.get();
  return w;
}

ZoneTableEntry* verdunstungsmodellklasse::TableOf(const std::unique_ptr<zonalstatistic>& writer) {
  if (!writer || !writer->Active()) return nullptr;
  for (size_t i = 0; i < zoneTableWriters.size(); ++i)
    if (zoneTableWriters[i] == writer.get()) return zoneTables[i].data();
  return nullptr;
}

void verdunstungsmodellklasse::CreateOutputs(const ModuleInputs& in) {
  const size_t n = static_cast<size_t>(layers) + 1;
  potTranspiration.assign(n, nullptr);
  realTranspiration.assign(n, nullptr);
  potInterception.assign(n, nullptr);
  potTranspirationPos.assign(n, 0);
  realTranspirationPos.assign(n, 0);
  potInterceptionPos.assign(n, 0);
  potTranspirationStat.resize(n);
  realTranspirationStat.resize(n);
  potInterceptionStat.resize(n);
  zoneTables.reserve(3 * n + 8);  // the writers keep pointers into these tables
  const std::string tag = kMethodTags[method];
  for (int k = 0; k <= layers; ++k) {
    const std::string s = std::to_string(k);
    potTranspiration[k] = NewGrid(0.0);
    potTranspirationPos[k] =
        Register(LayerFileName(section.etp.grid, k), potTranspiration[k], "pot_transpiration" + s, section.etp.writeCode);
    realTranspiration[k] = NewGrid(0.0);
    realTranspirationPos[k] = Register(LayerFileName(section.etr.grid, k), realTranspiration[k],
                                       "real_transpiration" + s, section.etr.writeCode);
    potInterception[k] = NewGrid(0.0);
    potInterceptionPos[k] = Register(LayerFileName(section.eip.grid, k), potInterception[k],
                                     "potential_InterceptionEvap" + s, section.eip.writeCode);
    potTranspirationStat[k] =
        NewWriter(in, LayerFileName(section.etp.statFile, k), section.etp.statCode, "pot_transpiration" + s + tag);
    realTranspirationStat[k] =
        NewWriter(in, LayerFileName(section.etr.statFile, k), section.etr.statCode,
                  k == 0 ? "total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS_" + tag
                         : "real_transpiration" + s + tag);
    potInterceptionStat[k] = NewWriter(in, LayerFileName(section.eip.statFile, k), section.eip.statCode,
                                       "potential_InterceptionEvap" + s + tag);
  }
  potEvaporation = NewGrid(0.0);
  potEvaporationPos = Register(section.evaporation.grid, potEvaporation, "potential_evaporation",
                               section.evaporation.writeCode);
  realEvaporation = NewGrid(0.0);
  realEvaporationPos = Register(section.realEvaporation.grid, realEvaporation, "real_evaporation",
                                section.realEvaporation.writeCode);
  snowEvaporation = NewGrid(0.0);
  snowEvaporationPos = Register(section.snowEvaporation.grid, snowEvaporation, "snow_evaporation",
                                section.snowEvaporation.writeCode);
  correctedRadiation = NewGrid(0.0);
  correctedRadiationPos = Register("correctedradiation", correctedRadiation, "AspectCorrectedGlobalRadiation", 0);
  cloudiness = NewGrid(0.0);
  cloudinessPos = Register("cloudiness", cloudiness, "cloudiness", 0);
  sunshineSum = NewGrid(0.0);
  sunshineSumPos = Register("SSDTemp", sunshineSum, "SSDTemp", 0);
  potEvaporationStat = NewWriter(in, section.evaporation.statFile, section.evaporation.statCode,
                                 "potential_evaporation" + tag);
  realEvaporationStat = NewWriter(in, section.realEvaporation.statFile, section.realEvaporation.statCode,
                                  "real_evaporation" + tag);
  snowEvaporationStat = NewWriter(in, section.snowEvaporation.statFile, section.snowEvaporation.statCode,
                                  "snow_evaporation" + tag);
  radiationStat = NewWriter(in, section.radiationStatFile, section.radiationStatCode,
                            "Global_Radiation_corrected_by_Exposition_" + tag);
  cloudinessStat = NewWriter(in, section.cloudinessStatFile, section.cloudinessStatCode, "cloudiness" + tag);
  // The order in which the cell loops add to the writers.
  potentialTables.clear();
  for (int k = 0; k <= layers; ++k) {
    potentialTables.push_back(TableOf(potTranspirationStat[k]));
    potentialTables.push_back(TableOf(potInterceptionStat[k]));
  }
  potentialTables.insert(potentialTables.end(),
                         {TableOf(potEvaporationStat), TableOf(radiationStat), TableOf(cloudinessStat)});
  snowTables = {TableOf(snowEvaporationStat)};
  realTables.clear();
  for (int k = 0; k <= layers; ++k) realTables.push_back(TableOf(realTranspirationStat[k]));
  realTables.push_back(TableOf(realEvaporationStat));
}

void verdunstungsmodellklasse::ShareScratchGrids() {
  if (flowControl == 0) return;
  // The interception module is built by now: its evaporation is looked up here, before it
  // shares the grids nobody looked up.
  LinkInterceptionEvaporation();
  // The corrected radiation and the cloudiness serve the potential step and its statistics;
  // the sunshine sum is kept for its readers (no method reads it back).
  size_t slot = 0;
  for (const auto& g : {std::pair<double***, int>{&correctedRadiation, correctedRadiationPos},
                        {&cloudiness, cloudinessPos}, {&sunshineSum, sunshineSumPos}})
    if (double** shared = ScratchFor(g.second, slot)) {
      ReleaseHeld(owned, *g.first);
      *g.first = shared;
      ++slot;
    }
}

void verdunstungsmodellklasse::LinkSoilGrids() {
  if (flowControl == 0) return;
  soilStorage = grids[RequireGrid("soil_storage")].data;
  availableSoilMoisture = grids[RequireGrid("available_soil_moisture")].data;
}

int verdunstungsmodellklasse::SetRadiationCorrection(double** correctionData) {
  if (flowControl == 0) return 0;
  radiationCorrection = correctionData;
  return flowControl;
}

int verdunstungsmodellklasse::SetSnowStorageGrid(double** grid) {
  if (flowControl == 0) return 0;
  snowStorageSolid = grid;
  return flowControl;
}

double verdunstungsmodellklasse::SatVapPress(double t) const { return SaturationVapourPressure(t); }

int verdunstungsmodellklasse::SolveQuadratic(double& x1, double& x2, double p, double q) const {
  return SolveQuadraticRoots(x1, x2, p, q);
}

int verdunstungsmodellklasse::ZoneIndex(int r, int c) const {
  const double z = zoneGrid[r][c];
  if (!(z >= 0.0 && z <= maxZoneCode)) return 0;
  return zoneCodeMap[static_cast<int>(z)];
}

void verdunstungsmodellklasse::InitLakes(const std::string& lakeSection) {
  if (flowControl == 0) return;
  const int codes = FindGrid("lake_codes");
  if (codes == 0) {
    *log << "INFO: no LAKE-grid was found in " << ShownControlFile() << "\n" << "Lake modelling is switched off for "
         << name << ".\n" << "[end-entry]";
    return;
  }
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  SeekControlKey(lakeSection, true);
  ReadControlValue(lakeFlowControl, "flow control parameter for ");
  if (output.hruMode != 0) lakeFlowControl = 0;
  if (lakeFlowControl != 0) {
    ReadControlValue(lakeInitMethod, "initialization method for ");
    ReadControlValue(albedoOpenWater, "Albedo_OpenWater for ");
    ReadControlValue(z0OpenWater, "z0_OpenWater for ");
    lakeCodes = grids[codes].data;
    int p = FindGrid("ponding_storage");
    if (p == 0) p = FindGrid("ponding_storage_top");
    if (p == 0) {
      CloseControlFile();
      *log << "FATAL: \n=======================================\n" << "!!!! ERROR !!!! \n\n"
           << "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
           << "\nboth grids as well as the MAXPOND grid must be present." << "\n\n=======================================\n"
           << "[end-entry]";
      throw 28;
    }
    ponding = grids[p].data;
    if (lakeInitMethod != 1 && lakeInitMethod != 2) {
      CloseControlFile();
      *log << "FATAL: \n=======================================\n" << "!!!! ERROR !!!! \n\n "
           << "Error in initialization method for " << lakeSection << ".\n"
           << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
           << "In either case, theta_soil will be set to saturated, if the cell is marked as lake and POND is > 0."
           << "\n\n=======================================\n" << "[end-entry]";
      throw 211;
    }
    // A roughness of 0 or below has no logarithmic wind profile.
    if (!(z0OpenWater > 0.0)) {
      CloseControlFile();
      *log << "FATAL: z0_OpenWater in " << lakeSection << " of " << ShownControlFile()
           << " must be greater than 0 m, read " << z0OpenWater << "[end-entry]";
      throw 10;
    }
    if (!(albedoOpenWater >= 0.0 && albedoOpenWater <= 1.0)) {
      CloseControlFile();
      RequireWithin(*this, lakeSection, "Albedo_OpenWater", albedoOpenWater, 0.0, 1.0, 10);
    }
    WarnIf(z0OpenWater > 0.1, *this, lakeSection, "z0_OpenWater", z0OpenWater,
           "m: far above the roughness of open water (about 0.001 m)");
  }
  CloseControlFile();
}

void verdunstungsmodellklasse::WriteStatistics() {
  if (flowControl == 0) return;
  const auto flush = [](const std::unique_ptr<zonalstatistic>& w) {
    if (w) w->WriteRow();
  };
  for (int k = 0; k <= layers && static_cast<size_t>(k) < potTranspirationStat.size(); ++k) {
    flush(potTranspirationStat[k]);
    flush(potInterceptionStat[k]);
    flush(realTranspirationStat[k]);
  }
  for (auto* w : {&radiationStat, &cloudinessStat, &realEvaporationStat, &potEvaporationStat, &snowEvaporationStat})
    flush(*w);
}

void verdunstungsmodellklasse::DeleteModule() {
  const auto release = [](std::unique_ptr<zonalstatistic>& w) {
    if (w) w->Release();
    w.reset();
  };
  for (auto& w : potTranspirationStat) release(w);
  for (auto& w : realTranspirationStat) release(w);
  for (auto& w : potInterceptionStat) release(w);
  for (auto* w : {&potEvaporationStat, &realEvaporationStat, &snowEvaporationStat, &radiationStat, &cloudinessStat})
    release(*w);
  for (auto it = registered.rbegin(); it != registered.rend(); ++it) FreeGrid(*it);
  registered.clear();
  owned.clear();
  DeleteTracers();
  modelobject::DeleteModule();
}
