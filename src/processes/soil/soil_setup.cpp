// Construction of the soil model from "[soil_model]", its grids, travel-time zones, lakes
// and water input, and its tear-down.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "grids/grid_codes.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/soil/bodenmod.h"
#include "processes/soil/soil_parameters.h"
#include "processes/water_input.h"

namespace {

constexpr int kTotalRunoffStatistics = 4;  // Qg, in the order of the files
const char* const kStatisticsTitles[9] = {
    "gebildeter Direktabfluss in mm je Zone (QD)",
    "gebildeter Interflow in mm je Zone (Summe aus QBB, QB und QI)",
    "gebildeter schneller Basisabfluss in mm je Zone (Summe aus QBB und QB)",
    "gebildeter verzoegerter Basisabfluss in mm je Zone (QBB)",
    "gebildeter Gesamtabfluss in mm je Zone (Summe aus QBB, QB, QI und QD)",
    "Bodenspeicher in 1/1 je Zone ",
    "Drainspeicher in mm je Zone ",
    "Interflowspeicher in mm je Zone ",
    "Saettigungsdefizit in mm je Zone  "};

const char* const kStatisticsLabels[9] = {
    "Name des QDstatfiles fuer ", "Name des QIstatfiles fuer ",  "Name des QBstatfiles fuer ",
    "Name des QBstatfiles fuer ", "Name des Qgstatfiles fuer ",  "Name des SBstatfiles fuer ",
    "Name des SUZstatfiles fuer ", "Name des SIFstatfiles fuer ", "Name des SDstatfiles fuer "};

const char* const kNoTravelTimeInfo =
    "INFO: \n------------------------------------------------------------------------\n\nWarning! There was no "
    "flow travel time grid for surface runoff read in\nAll surface runoof will be routed immediately to the outlet "
    "of the sub-basin\n(except the effects of a linear reservoir).\nA flow travel time grid may be created by "
    "PELTRIX, writing the\nflow travel times for each grid cell to the sub basins outlet in secounds\nwhich are "
    "reclassified into model time steps in Orvel.\n\n------------------------------------------------------------"
    "------------\n";

bool Valid(double** g, int r, int c, double nodata) { return g && g[r][c] > nodata; }

// The soil model computes only the cells with a sub-basin code, while every module above
// the ground computes every cell of the zone grid: the water of a cell of the zone grid
// without a code would leave the balance of the soil and of routing.
void RefuseCellsWithoutSubbasin(const GridRecord& zoneGrid, const GridRecord& subbasinGrid, const GridGeometry& g,
                                LogStream* log) {
  double** zones = zoneGrid.data;
  double** subbasins = subbasinGrid.data;
  if (!zones || !subbasins) return;
  long cells = 0;
  int row = 0, column = 0;
  for (int r = 1; r <= g.nrows; ++r)
    for (int c = 1; c <= g.ncols; ++c) {
      if (!(zones[r][c] > g.nodata_value) || subbasins[r][c] > g.nodata_value) continue;
      if (cells++ == 0) row = r, column = c;
    }
  if (cells == 0) return;
  if (log)
    *log << "FATAL: the sub-basin grid \"zonegrid_soilmodel\" (" << subbasinGrid.fileName
         << ") holds no sub-basin code in " << cells << (cells == 1 ? " cell" : " cells") << " of the zone grid ("
         << zoneGrid.fileName << "), the first at " << CellPlace(g, row, column)
         << ": the soil model computes only the cells with a code, so the rain and snow melt of "
         << (cells == 1 ? "this cell" : "these cells") << " would leave the water balance of the soil model and "
         << "routing. Give every cell of the zone grid a sub-basin code (a fill code of the grid's line in "
         << "[standard_grids] fills gaps from their neighbours), or leave such cells out of the zone grid"
         << "[end-entry]";
  throw 7;
}

}  // namespace

bodenmodellklasse::bodenmodellklasse(int& error, const ModuleInputs& in, const std::string& sectionName)
    : teilmodellklasse(in, sectionName, 1, SectionRequirement::Required) {
  error = 0;
  soilZoneTable = zoneTable;
  soilZoneCodeMap = zoneCodeMap;
  soilZoneCount = zoneCount;
  soilMaxZoneCode = maxZoneCode;
  if (in.zoneCodeMap == nullptr || flowControl == 0) {
    flowControl = 0;
    CloseControlFile();
    return;
  }
  *log << "file " << "bodenmod" << ", compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";

  layerCount = 1;
  if (in.run && in.run->multiLayerTable && in.run->multiLayerTable->size() > 1)
    layerCount = std::max(1, static_cast<int>((*in.run->multiLayerTable)[1].layerCount));
  soilRows = in.run ? in.run->soilTable : nullptr;

  ReadSection();

  // Step arrays and the runoff record (rows 0 and 1, columns 0..n+1, all 0).
  const size_t n1 = static_cast<size_t>(subbasins) + 1;
  for (auto* v : {&meanTopographicIndex, &Q0, &meanDeficit, &QD, &QI, &QB, &QBB, &QBBin, &QV, &weightSum})
    v->assign(n1, 0.0);
  runoffTable.reset(matrix(0, 1, 0, subbasins + 1));
  for (int r = 0; r <= 1; ++r)
    for (int c = 0; c <= subbasins + 1; ++c) runoffTable[r][c] = 0.0;
  runoffRecord.table = runoffTable.get();
  runoffRecord.subbasinCount = subbasins;
  runoffRecord.tracerCount = 0;
  subbasinRunoff = &runoffRecord;
  for (int i = 1; i <= subbasins; ++i) QBB[static_cast<size_t>(i)] = params[static_cast<size_t>(i)].QBBini;

  try {
    BuildGridsAndState();
  } catch (...) {
    // Nothing of a half-built model stays in the registry.
    ReleaseGrids();
    throw;
  }

  soilZoneTable = zoneTableStore.data();
  soilZoneCodeMap = codeMapStore.data();
  soilZoneCount = subbasins;
  soilMaxZoneCode = largestCode;
  storageWrite = true;
}

void bodenmodellklasse::BuildGridsAndState() {
  FindInputGrids();
  *log << "looking for longest flow travel time" << "[end-entry]";
  SetUpTravelTimeZones();
  CreateStatistics();
  CreateStateGrids();
  RefuseImpossibleStates();
  InitialiseDeficits();

  glaciers = GlacierCellsInRegistry(*this);
  InitLakes("[lake_model]");
  if (readgrids != 0)
    ReadStorageFile();
  else if (flowControl != 0 && !storageFileName.empty())
    StorageFile::NoteStoragePath(storage, MakePath(output.initialStateDirectory, storageFileName));

  static const char* const kStabilityGrids[6] = {"root_cohesion",           "soil_cohesion", "wet_soil_density",
                                                 "internal_friction_angle", "soil_depth",    "slope_angle"};
  int positions[7] = {FindGrid("soil_stability_index"), 0, 0, 0, 0, 0, 0};
  bool all = positions[0] > 0;
  for (int k = 0; k < 6 && all; ++k) {
    positions[k + 1] = FindGrid(kStabilityGrids[k]);
    all = positions[k + 1] > 0;
  }
  if (all) {
    slopeStability = true;
    stabilityIndex = grids[positions[0]].data;
    for (int k = 0; k < 6; ++k) stability[k] = grids[positions[k + 1]].data;
  }
}

bodenmodellklasse::~bodenmodellklasse() {
  // The registry may be gone by now: only the matrices are freed here.
  for (double** g : ownGrids) FreeMatrix(g);
}

void bodenmodellklasse::ReadSection() {
  int m = 0;
  ReadControlValue(m, "Methode fuer ");
  method = m;
  static const char* const kGridLabels[17] = {
      "Name des Saettigungsdefizit-Grids fuer ", "Writegrid Saettigungsdefizit in ", "Name des SUZ-Grids fuer ",
      "Writegrid Drainage in ",                  "Name des SIF-Grids fuer ",         "Writegrid Drainage in ",
      "Name des SBia-Grids fuer ",               "Writegrid SBia-Grid in ",          "Name des nFKia-Grids fuer ",
      "Writegrid nFKia-Grid in ",                "Name des SSP-Grids fuer ",         "Writegrid SSP-Grid in ",
      "Name des QD-Grids fuer ",                 "Writegrid QD-Grid in ",            "Name des QI-Grids fuer ",
      "Writegrid QI-Grid in ",                   "Name des Peakflow-Grids fuer "};
  for (int k = 0; k < 8; ++k) {
    ReadControlValue(gridNames[k], kGridLabels[2 * k]);
    ReadControlValue(gridWriteCodes[k], kGridLabels[2 * k + 1]);
  }
  ReadControlValue(gridNames[8], kGridLabels[16]);
  for (int k = 0; k < 9; ++k) {
    std::string flag;
    ReadTwoControlValues(statisticsNames[k], flag, kStatisticsLabels[k]);
    long value = 0;
    if (!ParseLong(flag, value) || value < -2147483647L || value > 2147483647L)
      ControlFileKeyError(kStatisticsLabels[k], name);
    statisticsCodes[k] = static_cast<int>(value);
  }

  // The sub-basins of the soil model's own zone grid.
  int largest = 0;
  RankZones(soilZoneGrid, zoneTableStore, codeMapStore, subbasins, largest);
  if (instanceNumber == 0)
    RefuseCellsWithoutSubbasin(grids[1], grids[RequireGrid("zonegrid_soilmodel")], geometry, log);
  largestCode = largest;
  subbasinCodes.assign(static_cast<size_t>(subbasins) + 1, 0);
  for (int i = 1; i <= subbasins; ++i)
    subbasinCodes[static_cast<size_t>(i)] = static_cast<int>(zoneTableStore[static_cast<size_t>(i)].code);

  SubbasinTableContext context;
  context.codeMap = &codeMapStore;
  context.codes = &subbasinCodes;
  context.largestCode = largestCode;
  context.dtMinutes = timeInterval;
  context.moduleName = name;
  context.section = "[soil_model]";
  context.controlFileName = ShownControlFile();
  context.log = log;
  ReadSubbasinParameterTable(controlFile, context, params);

  controlFile.SkipBlanks();  // to the line of the flag
  readFlagLine = controlFile.LineText(ShownControlFile());
  ReadControlValue(readgrids, "read control parameter for storage grids for ");
  ReadControlValue(storageFileName, "name of the storage content file ");
  readInitialGrids = readgrids;
  CloseControlFile();
}

void bodenmodellklasse::FindInputGrids() {
  // Grids no module makes: the control file gives them, and a message on one left out says where.
  NoteAbsentGrid(grids, "topographic_faktor",
                 "topographic_faktor is the topographic index of every cell (the soil model offsets a cell's "
                 "saturation deficit by its difference from the sub-basin's mean, and takes the sub-basin's "
                 "baseflow from the mean): no interpolator or module makes it. Give it as a variable grid in "
                 "[variable_grids] of " + ShownControlFile() +
                 ", read from a file (\"topo.asc topographic_faktor 0 7.0\", write code 0, read flag 1) or made "
                 "with one value (read flag 0: the same index in every cell), or as a standard grid in [standard_grids]");
  conductivity = grids[RequireGrid("hydraulic_conductivity")].data;
  topographicOffset = grids[RequireGrid("topographic_faktor")].data;
  soilStorage = grids[RequireGrid("soil_storage")].data;
  availableSoilMoisture = grids[RequireGrid("available_soil_moisture")].data;
  rootDepth.assign(static_cast<size_t>(layerCount) + 1, nullptr);
  for (int k = 1; k <= layerCount; ++k)
    rootDepth[static_cast<size_t>(k)] = grids[RequireGrid("root_depth" + std::to_string(k))].data;
  soilTypes = grids[RequireGrid("soil_types")].data;
  const int snow = FindGrid("snowstorage_solid");
  snowSolid = snow > 0 ? grids[snow].data : nullptr;
  const int times = FindGrid("flow_times");
  flowTimes = times > 0 ? grids[times].data : nullptr;

  // The conductivity is taken as mm per step; values that look like m/s deserve a word. A
  // negative one would drain the saturated zone up into the unsaturated zone: it ends the run.
  double sum = 0.0, count = 0.0;
  const double nodata = geometry.nodata_value;
  for (int r = 1; r <= geometry.nrows; ++r) {
    int first, last;
    ColumnRange(r, first, last);
    for (int c = first; c <= last; ++c)
      if (SubbasinOf(r, c) > 0 && Valid(conductivity, r, c, nodata)) {
        if (conductivity[r][c] < 0.0) {
          *log << "FATAL: \"hydraulic_conductivity\" is " << conductivity[r][c] << " in row " << r << ", column " << c
               << " of " << name << "; a conductivity cannot be negative" << "[end-entry]";
          throw 10;
        }
        sum += conductivity[r][c];
        count += 1.0;
      }
  }
  if (count > 0.0 && sum / count < 1e-3)
    *log << "WARNING: the mean of \"hydraulic_conductivity\" in " << name << " is " << sum / count
         << ": the soil model takes it as mm per time step (values in m/s are far too small)" << "[end-entry]";
}

void bodenmodellklasse::SetUpTravelTimeZones() {
  const size_t n1 = static_cast<size_t>(subbasins) + 1;
  maxzeit.assign(n1, 1);
  zoneFZT.assign(n1, std::vector<TravelTimeZoneRecord>());
  if (!flowTimes) {
    for (int i = 1; i <= subbasins; ++i) {
      zoneFZT[static_cast<size_t>(i)].assign(2, TravelTimeZoneRecord());
      TravelTimeZoneRecord& z = zoneFZT[static_cast<size_t>(i)][1];
      z.n = 1.0;
      z.rel = 1.0;
      z.zonenwert = 1.0;
    }
    AppendModelLog("Fliesszeitverteilung wird nicht berechnet (kein FZT-Grid eingelesen)\n");
    *log << kNoTravelTimeInfo << "[end-entry]";
    return;
  }

  // Travel times in seconds become zones (steps); a cell without one goes to zone 1.
  const double nodata = geometry.nodata_value;
  std::vector<long> validCells(n1, 0);
  long missing = 0;
  for (int r = 1; r <= geometry.nrows; ++r) {
    int first, last;
    ColumnRange(r, first, last);
    for (int c = first; c <= last; ++c) {
      const int i = SubbasinOf(r, c);
      if (i <= 0) continue;
      const double t = flowTimes[r][c];
      int zone = 1;
      if (t > nodata && std::isfinite(t)) {
        zone = soilcell::TravelTimeZone(t, timeInterval);
        ++validCells[static_cast<size_t>(i)];
      } else {
        ++missing;
      }
      flowTimes[r][c] = zone;
      maxzeit[static_cast<size_t>(i)] = std::max(maxzeit[static_cast<size_t>(i)], zone);
    }
  }
  for (int i = 1; i <= subbasins; ++i)
    if (validCells[static_cast<size_t>(i)] == 0) {
      *log << "FATAL: all cells in flow time grid " << "flow_times" << ", sub basin " << subbasinCodes[static_cast<size_t>(i)]
           << " are NODATA!" << "[end-entry]";
      throw 6;
    }
  if (missing > 0)
    *log << "WARNING: " << missing << " cells of " << name
         << " have no value in the flow time grid flow_times: their direct runoff reaches the outlet in the same step"
         << "[end-entry]";

  // Cells per zone besides their weights: a sub-basin without weight still has its shares.
  std::vector<std::vector<double>> cells(n1);
  for (int i = 1; i <= subbasins; ++i) {
    auto& zones = zoneFZT[static_cast<size_t>(i)];
    zones.assign(static_cast<size_t>(maxzeit[static_cast<size_t>(i)]) + 1, TravelTimeZoneRecord());
    for (size_t k = 0; k < zones.size(); ++k) zones[k].zonenwert = static_cast<double>(k);
    cells[static_cast<size_t>(i)].assign(zones.size(), 0.0);
  }
  for (int r = 1; r <= geometry.nrows; ++r) {
    int first, last;
    ColumnRange(r, first, last);
    for (int c = first; c <= last; ++c) {
      const int i = SubbasinOf(r, c);
      if (i <= 0) continue;
      const size_t zone = static_cast<size_t>(flowTimes[r][c]);
      TravelTimeZoneRecord& z = zoneFZT[static_cast<size_t>(i)][zone];
      const double w = CellWeight(r, c);
      z.n += w;
      z.RelCellSum += w;
      cells[static_cast<size_t>(i)][zone] += 1.0;
    }
  }
  std::string text = "Fliesszeitverteilung:\n";
  char buffer[64];
  for (int i = 1; i <= subbasins; ++i) {
    auto& zones = zoneFZT[static_cast<size_t>(i)];
    const int mz = maxzeit[static_cast<size_t>(i)];
    double total = 0.0, count = 0.0;
    for (int k = 1; k <= mz; ++k) {
      total += zones[static_cast<size_t>(k)].n;
      count += cells[static_cast<size_t>(i)][static_cast<size_t>(k)];
    }
    const int code = subbasinCodes[static_cast<size_t>(i)];
    if (mz < 1 || count == 0.0) {
      *log << "FATAL: all cells in flow time grid " << "flow_times" << ", sub basin " << code << " are NODATA!"
           << "[end-entry]";
      throw 6;
    }
    std::snprintf(buffer, sizeof buffer, "TG\t%4d\t(%3d\tZonen):", code, mz);
    text += buffer;
    for (int k = 1; k <= mz; ++k) {
      zones[static_cast<size_t>(k)].rel = total > 0.0 ? zones[static_cast<size_t>(k)].n / total
                                                      : cells[static_cast<size_t>(i)][static_cast<size_t>(k)] / count;
      std::snprintf(buffer, sizeof buffer, "\t%5.3f", zones[static_cast<size_t>(k)].rel);
      text += buffer;
    }
    text += "\n";
    if (!(zones[1].rel > 0.0)) {
      *log << "FATAL: Error in flow-travel-time grid: the first time zone of subbasin " << code << " has no cells!"
           << "[end-entry]";
      throw 61;
    }
    for (int k = mz - 1; k >= 1; --k) {
      zones[static_cast<size_t>(k)].n += zones[static_cast<size_t>(k) + 1].n;
      zones[static_cast<size_t>(k)].RelCellSum += zones[static_cast<size_t>(k) + 1].RelCellSum;
    }
  }
  AppendModelLog(text);
}

// Every file gets three decimals but the total runoff's: routing alone (-mode:routing) reads
// it back as the runoff of its steps, so it carries 17 decimals: every digit of a double from
// 0.1 mm per step up, and 1e-17 mm below (three decimals cut up to a tenth off the smallest
// flows). The layout is unchanged.
void bodenmodellklasse::CreateStatistics() {
  const char* directory = output.defaultOutputDirectory.empty() ? nullptr : output.defaultOutputDirectory.c_str();
  for (int k = 0; k < 9; ++k) {
    if (k == 3 && method != 2) continue;
    statisticsZones[k] = zoneTableStore;
    int err = 0;
    statistics[k] = std::make_unique<zonalstatistic>(
        &err, log, statisticsTable, statisticsSize, relCellArea, geometry.nrows, geometry.ncols,
        statisticsZones[k].data(), subbasins, statisticsCodes[k], k == kTotalRunoffStatistics ? 17 : 3,
        statisticsNames[k], directory, outputListCount, outputList, timeInterval < 60.0);
    if (err) throw err;
    statistics[k]->WriteHeader(kStatisticsTitles[k], name, statisticsTable, statisticsSize);
  }
}

double** bodenmodellklasse::NewGrid(const std::string& internalName, const std::string& fileName, int writeCode,
                                    double value, bool zoneCellsOnly, int readIndex) {
  const int position = FirstFreeGridPosition();
  if (position == 0) {
    *log << "FATAL: no free grid left in memory at position " << 1000 << "[end-entry]";
    throw 12;
  }
  double** g = nullptr;
  if (readIndex >= 0 && readgrids == 1) {
    const ReadFlagScope asked(*this, "[soil_model], read flag readgrids = 1");
    const EveryBasinCellScope everyCell(*this);
    ReadBasinGrid(fileName, g, 0, true, true, false, value);
  } else {
    if (readIndex >= 0)
      NoteStateGridNotRead(MakePath(output.inputDirectory, fileName),
                           "the soil model: the read flag 1 of [soil_model], \"read the state grids and the storage "
                           "file\"");
    g = matrix(1, geometry.nrows, 1, geometry.ncols);
    double** reference = zoneCellsOnly ? soilZoneGrid : grids[1].data;
    const double nodata = geometry.nodata_value;
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) g[r][c] = Valid(reference, r, c, nodata) ? value : nodata;
  }
  RegisterGrid(position, fileName, g, nullptr, 0, internalName, writeCode, 1, geometry.nrows);
  ownGridPositions.push_back(position);
  ownGrids.push_back(g);
  return g;
}

void bodenmodellklasse::CreateStateGrids() {
  const double nodata = geometry.nodata_value;
  saturationDeficit = NewGrid("saturation_deficite", gridNames[0], gridWriteCodes[0], 0.0, false, 0);
  if (readgrids != 1) {
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) {
        const int i = SubbasinOf(r, c);
        if (i > 0 && saturationDeficit[r][c] > nodata && Valid(availableSoilMoisture, r, c, nodata))
          saturationDeficit[r][c] = params[static_cast<size_t>(i)].SDini * availableSoilMoisture[r][c];
      }
  }
  unsaturatedZone = NewGrid("unsaturated_zone_storage", gridNames[1], gridWriteCodes[1], 0.0, false, 1);
  interflowStorage = NewGrid("interflow_storage", gridNames[2], gridWriteCodes[2], 0.0, false, 2);
  if (readgrids != 1) {
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) {
        const int i = SubbasinOf(r, c);
        if (i > 0 && interflowStorage[r][c] > nodata) interflowStorage[r][c] = params[static_cast<size_t>(i)].SUZini;
      }
  }
  inactiveSoilMoisture = NewGrid("inaktive_soil_moisture", gridNames[3], gridWriteCodes[3], 1.0, false, 3);
  inactiveFieldCapacity = NewGrid("inaktive_field_capacity", gridNames[4], gridWriteCodes[4], 0.0, false, 4);
  saturatedSoilPartition = NewGrid("saturated_soil_partition", gridNames[5], gridWriteCodes[5], 0.0, false, 5);
  soilStorageOld = NewGrid("soil_storage_old", "$$sbold_grid$$", 0, 0.0, false, -1);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c)
      if (soilStorageOld[r][c] > nodata) soilStorageOld[r][c] = soilStorage[r][c];
  directFlow = NewGrid("directflow", gridNames[6], gridWriteCodes[6], 0.0, true, -1);
  interflowGrid = NewGrid("interflow", gridNames[7], gridWriteCodes[7], 0.0, true, -1);
  peakFlowPosition = FirstFreeGridPosition();
  peakFlow = NewGrid("peakflow", gridNames[8], 1, 0.0, true, -1);
  for (int k = 0; k < 2; ++k) {
    double**& g = k == 0 ? cellDrainage : cellSlowInflow;
    if (scratch) {
      g = scratch->Slot(static_cast<size_t>(k));
    } else {
      ownScratch[k].reset(matrix(1, geometry.nrows, 1, geometry.ncols));
      g = ownScratch[k].get();
    }
  }
}

void bodenmodellklasse::RefuseImpossibleStates() {
  // The relative soil moisture and the usable field capacity the run starts from, read or
  // derived by the start-up; the run ends with them in the same ranges.
  for (const auto& g : {std::make_pair("soil_storage", StateRange::Fraction()),
                        std::make_pair("available_soil_moisture", StateRange::Storage())}) {
    RefuseImpossibleCells(g.first, g.second);
    if (const int p = FindGrid(g.first)) HoldStateRange(grids[p].data, g.second);
  }
  // A deficit may lie below 0 (water above the saturated zone's reference), but not so far
  // that the saturated zone's outflow exp(-SD/m) of the cell's sub-basin overflows.
  StateRange deficit = StateRange::Storage();
  deficit.lowAt = [this](int r, int c) {
    const int i = SubbasinOf(r, c);
    return i > 0 ? -std::log(std::numeric_limits<double>::max()) * params[static_cast<size_t>(i)].m : -HUGE_VAL;
  };
  deficit.lowText = "-709.78 m (m of the cell's sub-basin, in mm)";
  deficit.lowRule = "a deficit that far below 0 makes the saturated zone's outflow exp(-SD/m) overflow";
  deficit.highRule = "no soil lacks 1,000 km of water";
  // The saturated partition is at most the whole soil; below 0 the water table lies below
  // the capillary reach.
  StateRange partition;
  partition.high = 1.0 + 1e-9;
  partition.highText = "1";
  partition.highRule = "a partition of the soil is at most 1 (all of it)";
  const struct {
    double** grid;
    int name;
    const char* what;
    StateRange range;
  } states[] = {
      {saturationDeficit, 0, "saturation_deficite", deficit},
      {unsaturatedZone, 1, "unsaturated_zone_storage", StateRange::Storage()},
      {interflowStorage, 2, "interflow_storage", StateRange::Storage()},
      {inactiveSoilMoisture, 3, "inaktive_soil_moisture", StateRange::Fraction()},
      {inactiveFieldCapacity, 4, "inaktive_field_capacity", StateRange::Storage()},
      {saturatedSoilPartition, 5, "saturated_soil_partition", partition},
  };
  for (const auto& s : states) {
    HoldStateRange(s.grid, s.range);
    if (readgrids == 1) RefuseImpossibleCells(s.grid, gridNames[s.name], s.what, s.range);
  }
}

void bodenmodellklasse::ShareScratchGrids() {
  if (flowControl == 0) return;
  // Direct flow and interflow are written by the cell step and summed per sub-basin right
  // after it, beside the drainage and slow inflow (slots 0 and 1).
  size_t slot = 2;
  for (double*** g : {&directFlow, &interflowGrid})
    for (size_t i = 0; i < ownGrids.size(); ++i)
      if (*g && ownGrids[i] == *g)
        if (double** shared = ScratchFor(ownGridPositions[i], slot)) {
          FreeMatrix(ownGrids[i]);
          ownGrids[i] = nullptr;
          *g = shared;
          ++slot;
        }
}

void bodenmodellklasse::InitialiseDeficits() {
  const double nodata = geometry.nodata_value;
  const size_t n1 = static_cast<size_t>(subbasins) + 1;
  std::vector<double> topoSum(n1, 0.0), topoWeight(n1, 0.0), sdSum(n1, 0.0), sdWeight(n1, 0.0);
  for (int r = 1; r <= geometry.nrows; ++r) {
    int first, last;
    ColumnRange(r, first, last);
    for (int c = first; c <= last; ++c) {
      const size_t i = static_cast<size_t>(SubbasinOf(r, c));
      if (i == 0) continue;
      const double w = CellWeight(r, c);
      weightSum[i] += w;
      if (Valid(topographicOffset, r, c, nodata)) {
        topoSum[i] += topographicOffset[r][c] * w;
        topoWeight[i] += w;
      }
      if (Valid(saturationDeficit, r, c, nodata)) {
        sdSum[i] += saturationDeficit[r][c] * w;
        sdWeight[i] += w;
      }
    }
  }
  int empty = 0;
  for (size_t i = 1; i < n1; ++i) {
    const SubbasinParameters& p = params[i];
    if (topoWeight[i] > 0.0) {
      meanTopographicIndex[i] = topoSum[i] / topoWeight[i];
      Q0[i] = p.Tkorr > 0.0 ? std::exp(std::log(timeInterval * 60000000.0 * p.Tkorr) - meanTopographicIndex[i]) : 0.0;
    } else {
      meanTopographicIndex[i] = -9999.0;
      Q0[i] = 0.0;
      ++empty;
    }
    meanDeficit[i] = sdWeight[i] > 0.0 ? sdSum[i] / sdWeight[i] : 0.0;
    QB[i] = Q0[i] * std::exp(-meanDeficit[i] / p.m);
  }
  if (empty > 0)
    *log << "WARNING: " << empty << " sub-basins of " << name
         << " have no cell weight with a topographic index: their baseflow is 0 and their means are 0" << "[end-entry]";

  std::vector<double> sifSum(n1, 0.0);
  for (int r = 1; r <= geometry.nrows; ++r) {
    int first, last;
    ColumnRange(r, first, last);
    for (int c = first; c <= last; ++c) {
      const size_t i = static_cast<size_t>(SubbasinOf(r, c));
      if (i == 0) continue;
      double offset = 0.0;
      if (Valid(topographicOffset, r, c, nodata) && topoWeight[i] > 0.0)
        offset = (topographicOffset[r][c] - meanTopographicIndex[i]) * params[i].m;
      topographicOffset[r][c] = offset;
      // A deficit grid read back holds each cell's deficit at the end of the former run (the
      // infiltration's first step reads it); a new run starts every cell from the mean.
      if (readgrids != 1 || !Valid(saturationDeficit, r, c, nodata)) saturationDeficit[r][c] = meanDeficit[i] - offset;
      if (Valid(interflowStorage, r, c, nodata)) sifSum[i] += (1.0 - params[i].kQI) * interflowStorage[r][c] * CellWeight(r, c);
    }
  }
  for (size_t i = 1; i < n1; ++i)
    runoffTable[0][i] = (weightSum[i] > 0.0 ? sifSum[i] / weightSum[i] : 0.0) + QB[i];
}

void bodenmodellklasse::InitLakes(const std::string& section) {
  if (flowControl == 0) return;
  const int lakes = FindGrid("lake_codes");
  if (lakes == 0) {
    *log << "INFO: --> no LAKE-grid was found in " << name << "\n" << "Lake modelling is switched off for " << name
         << "[end-entry]";
    return;
  }
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  SeekControlKey(section, true);
  ReadControlValue(lakeFlowControl, "flow control parameter for ");
  if (lakeFlowControl == 0) {
    CloseControlFile();
    return;
  }
  ReadControlValue(lakeMethod, "initialization method for ");
  CloseControlFile();
  lakeCodes = grids[lakes].data;
  if (lakeMethod != 1 && lakeMethod != 2) {
    *log << "\n\n=======================================\n" << "!!!! ERROR !!!! \n\n " << "Error in initialization method for "
         << section << ".\n" << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
         << "In either case, theta_soil will be set to saturation,\n"
         << "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n" << "will be set to 0."
         << "[end-entry]";
    throw 211;
  }
  pondingTop = grids[RequireGrid("ponding_storage_top")].data;
  maxPonding = grids[RequireGrid("max_ponding_storage")].data;
  const double nodata = geometry.nodata_value;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c)
      if (SubbasinOf(r, c) > 0 && maxPonding[r][c] > nodata) maxPonding[r][c] *= 1000.0;
  if (lakeMethod == 2) {
    const int dem = FindGrid("[elevation_model]");
    double** elevation = dem > 0 ? grids[dem].data : nullptr;
    if (elevation)
      for (int r = 1; r <= geometry.nrows; ++r)
        for (int c = 1; c <= geometry.ncols; ++c)
          if (lakeCodes[r][c] >= 0 && elevation[r][c] > nodata && maxPonding[r][c] > nodata)
            elevation[r][c] -= maxPonding[r][c] / 1000.0;
  }
}

void bodenmodellklasse::SetInputGrid(int interceptionBeforeSnow) {
  if (flowControl == 0 || inputGridChosen) return;
  inputGridFlag = static_cast<unsigned char>(interceptionBeforeSnow);
  inputGrid = RequireGroundWaterInput(*this, interceptionBeforeSnow != 0);
  waterInput = grids[inputGrid].data;
  inputGridChosen = true;
}

void bodenmodellklasse::SetGlacierSubbasins(const std::vector<unsigned char>* filledBySnow) {
  glacierFlags = filledBySnow;
}

SubbasinRunoff* bodenmodellklasse::GetSubbasinRunoff() { return flowControl == 1 ? subbasinRunoff : nullptr; }

const char* bodenmodellklasse::GetStorageFileName() const {
  return flowControl != 0 && !storageFileName.empty() ? storageFileName.c_str() : nullptr;
}

void bodenmodellklasse::WriteStatistics() {
  if (flowControl == 0) return;
  for (auto& s : statistics)
    if (s) s->WriteRow();
}

void bodenmodellklasse::ReleaseGrids() {
  for (int p : ownGridPositions)
    if (p >= 1 && p <= kMaxGridPosition) FreeGrid(p);
  ownGridPositions.clear();
  for (double** g : ownGrids) FreeMatrix(g);
  ownGrids.clear();
  saturationDeficit = unsaturatedZone = interflowStorage = inactiveSoilMoisture = inactiveFieldCapacity =
      saturatedSoilPartition = soilStorageOld = directFlow = interflowGrid = peakFlow = nullptr;
}

void bodenmodellklasse::DeleteModule() {
  if (flowControl != 0) {
    if (storageWrite) {
      if (peakFlowPosition > 0 && peakFlow) WriteGrids(peakFlowPosition, 1, false);
      WriteStorageFile();
    }
    for (auto& s : statistics)
      if (s) {
        s->Release();
        s.reset();
      }
    ReleaseGrids();
    subbasinRunoff = nullptr;
  }
  DeleteTracers();
  modelobject::DeleteModule();
}
