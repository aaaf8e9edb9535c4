// Construction of the interception module: the section "[interception_model]", the grids it
// reads, the storage, evaporation and throughfall grids of every layer with their
// statistics writers; statistics flush, tracers and deletion.
#include <cmath>
#include <cstdio>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "framework/value_checks.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/interception/interzep.h"
#include "processes/interception/layer_names.h"

namespace {

bool SupportedMethod(int m) {
  return m == 1 || m == 2 || m == 11 || m == 12 || m == 21 || m == 22 || m == 31 || m == 32;
}

std::string Numbered(const char* base, int k) {
  char text[160];
  std::snprintf(text, sizeof text, "%s%d", base, k);
  return text;
}

}  // namespace

interzeptionsmodellklasse::interzeptionsmodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "interception_model", 1, SectionRequirement::Required) {
  error = 0;
  if (flowControl == 0) return;
  try {
    Construct(in);
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
  if (ControlFileIsOpen()) CloseControlFile();
}

interzeptionsmodellklasse::~interzeptionsmodellklasse() {
  // A run that failed before its tear-down deletes the module without DeleteModule: give
  // the matrices back (the registry may be gone by now, so only the matrices).
  for (CanopySnowGrid& g : canopyGrids)
    if (g.data) FreeMatrix(g.data, firstRow, lastRow, 0, geometry.ncols);
  for (InterceptionLayer& l : layers)
    for (double** g : {l.evaporation, l.storage, l.throughfall})
      if (g && !(scratch && scratch->Holds(g))) FreeMatrix(g, firstRow, lastRow, 0, geometry.ncols);
}

void interzeptionsmodellklasse::Construct(const ModuleInputs& in) {
  *log << "file interzep, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
  if (in.run) landuseTable = in.run->landuseTable;

  if (!mpiRegions) {
    if (FindGrid("MPIRegions") > 0) mpiRegions = grids[RequireGrid("MPIRegions")].data;
  }

  layerCount = 1;
  if (in.run && in.run->multiLayerTable && in.run->multiLayerTable->size() > 1)
    layerCount = (*in.run->multiLayerTable)[1].layerCount;
  if (layerCount < 1) {
    *log << "FATAL: the multilayer land-use table of " << ShownControlFile() << " gives " << layerCount
         << " layers: the interception model needs at least one" << "[end-entry]";
    throw 1161;
  }
  layers.clear();
  layers.resize(static_cast<size_t>(layerCount) + 1);

  ReadSection();
  for (int k = 1; k <= layerCount; ++k) {
    InterceptionLayer& l = layers[static_cast<size_t>(k)];
    const InterceptionLayer& top = layers[0];
    l.throughfallFile = LayerFileName(top.throughfallFile, k);
    l.evaporationFile = LayerFileName(top.evaporationFile, k);
    l.storageFile = LayerFileName(top.storageFile, k);
    l.throughfallStatFile = LayerFileName(top.throughfallStatFile, k);
    l.evaporationStatFile = LayerFileName(top.evaporationStatFile, k);
    l.storageStatFile = LayerFileName(top.storageStatFile, k);
  }

  // [ArcVegIntegration]: the layers lie side by side, each on its fraction of the cell.
  CloseControlFile();
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  if (SeekControlKey("[ArcVegIntegration]", false)) {
    ReadControlValue(arcVegActive, "");
    if (arcVegActive > 0) {
      bool complete = layerCount > 0;
      for (int k = 1; k <= layerCount; ++k) {
        const int p = FindGrid(Numbered("ArcVeg_Fraction_", k));
        if (p > 0)
          layers[static_cast<size_t>(k)].arcVegFraction = grids[p].data;
        else
          complete = false;
      }
      if (!complete) {
        *log << "FATAL: ERROR in initializing interception: [ArcVegIntegration] is active but there are no or not "
                "all fraction grids found as standard grids (ArcVeg_Fraction_1..n according to the number of land "
                "use layers)"
             << "[end-entry]";
        throw 1400;
      }
    }
  }
  CloseControlFile();

  LookUpGrids();
  CreateLayerGrids(in);
  if (canopySnowModel) CreateCanopySnowGrids(in);

  glaciers = GlacierCellsInRegistry(*this);
  if (output.hruMode != 0 && !hruGrid) {
    hruGrid = grids[RequireGrid("HydrologicResponseUnits")].data;
    masterHruGrid = grids[RequireGrid("MasterHydrologicResponseUnits")].data;
  }
}

void interzeptionsmodellklasse::ReadNameAndCode(std::string& fileName, int& code, const std::string& label) {
  if (!controlFile.ReadWord(fileName) || !controlFile.ReadInt(code)) ControlFileKeyError(label, name);
  restOfLine = controlFile.RestOfLine();
  if (fileName.size() > kMaxFileName) {
    *log << "FATAL: value of " << label << " is longer than " << static_cast<unsigned long>(kMaxFileName)
         << " characters: " << fileName.substr(0, 80) << "..." << "[end-entry]";
    throw 17;
  }
}

void interzeptionsmodellklasse::ReadSection() {
  ReadControlValue(method, " method for ");
  if (!SupportedMethod(method)) {
    *log << "FATAL: method " << method
         << " is not supported in interception model (use one of 1, 2, 11, 12, 21, 22, 31, 32)" << "[end-entry]";
    throw 1161;
  }
  InterceptionLayer& l = layers[0];
  ReadControlValue(l.throughfallFile, "name outflow grid for ");
  ReadControlValue(throughfallWriteCode, "write code outflow grid for ");
  ReadNameAndCode(l.throughfallStatFile, throughfallStatCode, "name outflow statistics file for ");
  ReadControlValue(l.evaporationFile, "name potential interception evaporation grid for ");
  ReadControlValue(evaporationWriteCode, "write code potential interception evaporation grid for ");
  ReadNameAndCode(l.evaporationStatFile, evaporationStatCode, "name potential interception statistics file for ");
  ReadControlValue(l.storageFile, "name interception storage grid for ");
  ReadControlValue(storageWriteCode, "write code interception storage grid for ");
  ReadNameAndCode(l.storageStatFile, storageStatCode, "name interception storage statistics file for ");
  ReadControlValue(maxWaterLayer, "parameter interception storage maximum water layer thickness for ");
  if (!(maxWaterLayer >= 0.0)) {
    *log << "FATAL: the interception storage maximum water layer thickness in " << sectionHeader << " of "
         << ShownControlFile() << " must be 0 or more, read " << maxWaterLayer << "[end-entry]";
    throw 17;
  }
  WarnIf(maxWaterLayer > 2.0, *this, sectionHeader, "the interception storage maximum water layer thickness",
         maxWaterLayer, "mm per unit of leaf area: far above the usual 0.1 .. 0.5");
  ReadControlValue(readInitialGrids, "readgrid parameter for ");
  canopySnowModel = method > 20;
  canopyEnergyBalance = method > 30;
  if (canopySnowModel) ReadCanopySnowSection();
  transZone = 0.0;
  thresholdTemperature = 0.0;
}

void interzeptionsmodellklasse::LookUpGrids() {
  static const char* const kLanduseGrids[] = {"landuse", "leaf_area_index", "vegetation_coverage_degree",
                                              "RoughnessLength", "SurfaceCanopyResistance",
                                              "SurfaceIntercepResistance"};
  for (int k = 1; k <= layerCount; ++k) {
    InterceptionLayer& l = layers[static_cast<size_t>(k)];
    double*** targets[] = {&l.landuse, &l.leafAreaIndex, &l.coverage, &l.roughnessLength, &l.canopyResistance,
                           &l.interceptionResistance};
    for (int g = 0; g < 6; ++g) *targets[g] = grids[RequireGrid(Numbered(kLanduseGrids[g], k))].data;
  }
  for (int k = 0; k <= layerCount; ++k) {
    InterceptionLayer& l = layers[static_cast<size_t>(k)];
    l.potTranspiration = grids[RequireGrid(Numbered("pot_transpiration", k))].data;
    l.potInterceptionEvap = grids[RequireGrid(Numbered("potential_InterceptionEvap", k))].data;
    l.realTranspiration = grids[RequireGrid(Numbered("real_transpiration", k))].data;
  }
  const int input = method > 10 ? RequireGrid("precipitation")
                                : RequireOneOf3Grids("snowcover_outflow", "precipitation", "ungueltiger_Name");
  inputGrid = grids[input].data;
  if (canopySnowModel) LookUpCanopySnowInputs();
  elevationGrid = grids[RequireGrid("[elevation_model]")].data;
}

bool interzeptionsmodellklasse::OwnCell(int r, int c) const {
  if (!zoneGrid || !zoneGrid[r] || !(zoneGrid[r][c] > geometry.nodata_value)) return false;
  return !mpiRegions || !mpiRegions[r] || mpiRegions[r][c] == instanceNumber;
}

void interzeptionsmodellklasse::ShareScratchGrids() {
  if (flowControl == 0) return;
  // Evaporation and throughfall of a layer, and the cell's total storage (layer 0), serve
  // the step that computes them (the cell's evaporation and throughfall are read by the
  // modules after it, which looked them up); a layer's own storage is kept between steps.
  size_t slot = 0;
  for (InterceptionLayer& l : layers) {
    std::vector<std::pair<double***, int>> perStep = {{&l.evaporation, l.evaporationPosition},
                                                      {&l.throughfall, l.throughfallPosition}};
    if (&l == &layers[0]) perStep.emplace_back(&l.storage, l.storagePosition);
    for (const auto& g : perStep)
      if (double** shared = ScratchFor(g.second, slot)) {
        FreeMatrix(*g.first, firstRow, lastRow, 0, geometry.ncols);
        *g.first = shared;
        ++slot;
      }
  }
}

double** interzeptionsmodellklasse::NewGrid(double value) {
  double** g = matrix(firstRow, lastRow, 0, geometry.ncols, geometry.nrows);
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = 1; c <= geometry.ncols; ++c)
      g[r][c] = zoneGrid && zoneGrid[r] && zoneGrid[r][c] == geometry.nodata_value ? geometry.nodata_value : value;
  return g;
}

void interzeptionsmodellklasse::RequireFreePosition(int position) const {
  if (position < 1 || position > kMaxGridPosition || grids[position].registered ||
      !grids[position].internalName.empty()) {
    *log << "FATAL: no free grid left" << 1000 << "[end-entry]";
    throw 12;
  }
}

void interzeptionsmodellklasse::MakeStatistics(InterceptionStatistics& s, const ModuleInputs& in,
                                               const std::string& fileName, int code, const std::string& header) {
  s.zones.assign(static_cast<size_t>(zoneCount) + 1, ZoneTableEntry());
  for (int z = 0; z <= zoneCount && zoneTable; ++z) {
    s.zones[static_cast<size_t>(z)] = zoneTable[z];
    s.zones[static_cast<size_t>(z)].areaSum = 0.0;
    s.zones[static_cast<size_t>(z)].cellCount = 0.0;
  }
  int err = 0;
  s.writer = std::make_unique<zonalstatistic>(
      &err, log, statisticsTable, statisticsSize, relCellArea, geometry.nrows, geometry.ncols, s.zones.data(),
      zoneCount, code, 5, fileName,
      in.output.defaultOutputDirectory.empty() ? nullptr : in.output.defaultOutputDirectory.c_str(), outputListCount,
      outputList, timeInterval < 60.0);
  if (err) throw err;
  s.writer->WriteHeader(header, "", statisticsTable, statisticsSize);
}

void interzeptionsmodellklasse::CreateLayerGrids(const ModuleInputs& in) {
  const int p = FirstFreeGridPosition();
  if (p < 1 || p > kMaxGridPosition) RequireFreePosition(1000);
  for (int k = 0; k <= layerCount; ++k) {
    InterceptionLayer& l = layers[static_cast<size_t>(k)];
    l.storagePosition = p + 3 * k;
    l.evaporationPosition = p + 3 * k + 1;
    l.throughfallPosition = p + 3 * k + 2;

    RequireFreePosition(l.storagePosition);
    if (readInitialGrids == 1) {
      const ReadFlagScope asked(*this, "[" + name + "], read flag readgrids = 1");
      const EveryBasinCellScope everyCell(*this);
      ReadBasinGrid(l.storageFile, l.storage, 0, true, true, false, 0.0);
    } else {
      NoteStateGridNotRead(MakePath(output.inputDirectory, l.storageFile),
                           "the interception model: readgrids 1 of [" + name + "]");
      l.storage = NewGrid(0.0);
    }
    RegisterGrid(l.storagePosition, l.storageFile, l.storage, nullptr, 1, Numbered("interception_storage", k),
                 storageWriteCode, firstRow, lastRow);
    HoldStateRange(l.storage, StateRange::Storage());
    if (readInitialGrids == 1) RefuseNegativeCells(l.storage, l.storageFile, Numbered("interception_storage", k));

    RequireFreePosition(l.evaporationPosition);
    l.evaporation = NewGrid(0.0);
    for (int r = firstRow; r <= lastRow; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        if (l.evaporation[r][c] != geometry.nodata_value && mpiRegions && mpiRegions[r] &&
            mpiRegions[r][c] != instanceNumber)
          l.evaporation[r][c] = geometry.nodata_value;
    RegisterGrid(l.evaporationPosition, l.evaporationFile, l.evaporation, nullptr, 1,
                 Numbered("interception_evaporation", k), evaporationWriteCode, firstRow, lastRow);

    RequireFreePosition(l.throughfallPosition);
    l.throughfall = NewGrid(0.0);
    RegisterGrid(l.throughfallPosition, l.throughfallFile, l.throughfall, nullptr, 1, Numbered("throughfall", k),
                 throughfallWriteCode, firstRow, lastRow);

    MakeStatistics(l.evaporationStats, in, l.evaporationStatFile, evaporationStatCode,
                   Numbered("interception_evaporation_in_mm_layer_", k) + "_");
    MakeStatistics(l.storageStats, in, l.storageStatFile, storageStatCode,
                   Numbered("interception_storage_in_mm_layer_", k) + "_");
    MakeStatistics(l.throughfallStats, in, l.throughfallStatFile, throughfallStatCode,
                   Numbered("throughfall_in_mm_layer_", k) + "_");
  }
}

void interzeptionsmodellklasse::InitTracers(int& error, int count, TracerRecord* table,
                                            StatisticsTableEntry* statisticsTableIn, int statisticsSizeIn) {
  error = 0;
  if (flowControl == 0) return;
  try {
    teilmodellklasse::InitTracers(error, count, table, statisticsTableIn, statisticsSizeIn);
    if (error) return;
    tracerInputFlux.assign(static_cast<size_t>(tracerCount) + 1, nullptr);
    for (int t = 1; t <= tracerCount; ++t) {
      char n[3][64];
      const char* sources[3] = {"snow_model", "irrigation", "input"};
      for (int i = 0; i < 3; ++i) std::snprintf(n[i], sizeof n[i], "concflux_tracer_%1d_%s", t, sources[i]);
      tracerInputFlux[static_cast<size_t>(t)] = grids[RequireOneOf3Grids(n[0], n[1], n[2])].data;
    }
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
}

void interzeptionsmodellklasse::DeleteTracers() {
  if (flowControl != 0) teilmodellklasse::DeleteTracers();
}

void interzeptionsmodellklasse::WriteStatistics() {
  if (flowControl == 0) return;
  for (InterceptionLayer& l : layers)
    for (InterceptionStatistics* s : {&l.evaporationStats, &l.storageStats, &l.throughfallStats})
      if (s->writer) s->writer->WriteRow();
  for (size_t t = 1; t < moduleTracers.size(); ++t)
    if (moduleTracers[t].statistics) moduleTracers[t].statistics->WriteRow();
  if (!canopySnowModel) return;
  // Every canopy writer, the four of the energy balance included, so a flush leaves no row
  // of any of them behind.
  static const CanopyGrid kFlushOrder[] = {kCanopyTemperatureGrid, kCanopyHumidity, kCanopyRadiation, kCanopyWind,
                                           kCanopyLoad, kCanopyAge, kCanopyAlbedo, kCanopySublimation,
                                           kCanopyUnloadSolid, kCanopyUnloadLiquid, kCanopyEnergyBalanceGrid,
                                           kCEBTemperature, kCEBTemperatureOld, kCEBDummy};
  for (CanopyGrid g : kFlushOrder)
    if (canopyGrids[g].stats.writer) canopyGrids[g].stats.writer->WriteRow();
}

void interzeptionsmodellklasse::DeleteModule() {
  if (flowControl > 0) {
    snowCanopyStack.reset();
    for (CanopySnowGrid& g : canopyGrids) {
      if (g.stats.writer) g.stats.writer->Release();
      g.stats.writer.reset();
      if (g.data) {
        FreeMatrix(g.data, firstRow, lastRow, 0, geometry.ncols);
        if (g.position > 0) FreeGrid(g.position);
      }
      g.data = nullptr;
    }
    for (InterceptionLayer& l : layers)
      for (InterceptionStatistics* s : {&l.throughfallStats, &l.evaporationStats, &l.storageStats}) {
        if (s->writer) s->writer->Release();
        s->writer.reset();
      }
    for (InterceptionLayer& l : layers) {
      struct Owned {
        double**& data;
        int position;
      } owned[] = {{l.evaporation, l.evaporationPosition}, {l.storage, l.storagePosition},
                   {l.throughfall, l.throughfallPosition}};
      for (Owned& o : owned) {
        if (!o.data) continue;
        if (!scratch || !scratch->Holds(o.data)) FreeMatrix(o.data, firstRow, lastRow, 0, geometry.ncols);
        if (o.position > 0) FreeGrid(o.position);
        o.data = nullptr;
      }
    }
    layers.clear();
  }
  modelobject::DeleteModule();
}
