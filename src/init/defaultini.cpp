// Construction of the start-up object, the start-up steps one per call, and release.
#include "framework/file_reason.h"
#include "init/defaultini.h"

#include <cerrno>
#include <algorithm>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"

void RiverLink::SetCells(std::vector<RiverLinkCell> cells) {
  cells_ = std::move(cells);
  cellCount_ = static_cast<int32_t>(cells_.size());
}

void RiverLink::AddCell(const RiverLinkCell& cell) {
  cells_.push_back(cell);
  ++cellCount_;
}

defaultini::defaultini(int& error, LogStream* logStream, const std::string& controlFile,
                       StatisticsEntry* statistics, int statisticsSz, int modeValue, GridRecord* registry)
    : modelobject(logStream, controlFile) {
  error = 0;
  try {
    if (log) *log << "file " << "defltuzr" << ", compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
    name = "defaults";
    mode = modeValue;
    grids = registry;
    statisticsTable = statistics;
    statisticsSize = statisticsSz;
    workingControlFile = controlFile;
    landuseLayerGrids.assign(1, nullptr);
    stepCounter = 0;
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
}

defaultini::~defaultini() = default;

int defaultini::InitStep(bool& done) {
  if (stepCounter > kLastStartupStep) {
    CloseControlFile();
    initialised_ = true;
    done = true;
    return stepCounter;
  }
  RunStep(stepCounter);
  return ++stepCounter;
}

void defaultini::RunStep(int step) {
  auto logged = [this](const char* what, auto work) {
    if (log) *log << what << "[end-entry]";
    work();
    if (log) *log << "...ok" << "[end-entry]";
  };
  switch (step) {
    case 0:
      if (instanceNumber == 0)
        CompileSymbols(controlFileName);
      else
        controlFileName += ".intern";
      workingControlFile = controlFileName;
      ReadOutputControl(controlFileName, run);
      // min_to_int_end says where in its step a record's stamp lies, not how long the step
      // is: that only a timestep key tells before the station records are read.
      output.timeStepMinutes = run.timestep;
      output.stampToStepEndHours = run.minToIntEnd / 60.0;
      break;
    case 1:
      if (!OpenControlFile()) {
        if (log) *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0)
                      << "[end-entry]";
        throw 28;
      }
      ReadStandardGrids();
      break;
    case 2:
      ReadModelTime();
      SetEndDate(run.end.year, run.end.month, run.end.day, run.end.hour, run.end.minute);
      break;
    case 3:
      ReadMultilayerLanduseTable(mode);
      ReadLanduseTable(mode);
      break;
    case 4:
      ReadSoilTable(mode);
      break;
    case 5:
      irrigationCount = 0;
      if (mode > 1) ReadIrrigation();
      ReadRadiationCorrection();
      CloseControlFile();
      break;
    case 6:
      zoneGrid = elevationModel = iceFirnGrid = nullptr;
      if (instanceNumber == 0) ReadBasinGrids();
      MakeMPIRegions(run.instanceQuota, run.instanceFirstRow, run.instanceLastRow);
      break;
    case 7: {
      RankZones(nullptr);
      MPIDistributeGrid(1, GridData(1));
      MPIDistributeGrid(2, GridData(2));
      MPIUpdateGrid(1, GridData(1));
      MPIUpdateGrid(2, GridData(2));
      int links = StandardGridPosition("river_links");
      if (links > 0) {
        MPIDistributeGrid(links, GridData(links));
        MPIUpdateGrid(links, GridData(links));
      }
      break;
    }
    case 8:
      MakeStandardGrids();
      break;
    case 9: {
      int p = FindGrid("RelCellArea");
      relCellArea = p > 0 ? grids[p].data : nullptr;
      break;
    }
    case 10:
      CheckCellSizes();
      break;
    case 11:
      MakeCoordinateGrids();
      break;
    case 12:
      elevationModel = GridData(2);
      maxElevation = GetGridMaximum(2);
      break;
    case 13: {
      int p = FindGrid("landuse");
      CheckLanduseCodes(p);
      if (p == 0) {
        landuseLayerGrids.assign(1, nullptr);
        landuseLayerPositions.assign(1, 0);
        landuseLayerCount = 0;
      } else if (multiLayerTable.size() > 1) {
        MakeLanduseLayerGrids();
        landuseLayerCount = multiLayerTable[1].layerCount;
      } else {
        landuseLayerGrids.assign(2, nullptr);
        landuseLayerGrids[1] = grids[p].data;
        landuseLayerPositions.assign(2, 0);
        landuseLayerPositions[1] = p;
        grids[p].internalName = "landuse1";
        landuseLayerCount = 1;
      }
      break;
    }
    case 14:
      // The land-use grid of a one-layer run is registered as "landuse1" by now; the
      // parameter grids are made for every run that has land-use layer grids.
      if (landuseLayerCount > 0 && landuseLayerGrids.size() > 1 && landuseLayerGrids[1])
        logged("generateMultiLayerParameterGrids...", [this] { generateMultiLayerParameterGrids(landuseLayerCount); });
      break;
    case 15:
      if (irrigationCount != 0)
        logged("check_irrig_Codes", [this] { check_irrig_Codes(FindGrid("irrigation_codes")); });
      else
        irrigationTable = nullptr;
      break;
    case 16:
      logged("check_SOIL_Codes...", [this] { check_SOIL_Codes(FindGrid("soil_types")); });
      break;
    case 17:
      if (mode == 1) logged("make_nFK_kWert_and_Na...", [this] { make_nFK_kWert_and_Na(); });
      break;
    case 18:
      logged("make_Slope_and_Aspect...", [this] { make_Slope_and_Aspect(); });
      break;
    case 19:
      logged("check_ice_firn_grid...", [this] { check_ice_firn_grid(); });
      break;
    case 20:
      logged("MakeRegionWeightGrids...", [this] { MakeRegionWeightGrids(); });
      break;
    case 21:
      break;
    case 22:
      logged("GetCouplingParameters...", [this] { GetCouplingParameters(); });
      break;
    default:
      break;
  }
}

void defaultini::check_ice_firn_grid() {
  int p = 1;
  for (; p < 1000; ++p) {
    if (!grids[p].registered) break;
    if (grids[p].internalName == "ice_firn") {
      iceFirnGrid = grids[p].data;
      return;
    }
  }
  if (log) *log << "INFO: ice-grid not found in memory (at position " << p << ")" << "[end-entry]";
}

void defaultini::DeleteModule() {
  WritePhenologyState();
  FinishZonalStatistics();
  landuseTable.clear();
  soilTable.clear();
  multiLayerTable.clear();
  irrigationTable = nullptr;
  if (grids) {
    // The standard grids (with the variable grids behind them) and every grid made here.
    const int last = std::min(standardGridCount + 2, kMaxGridPosition);
    for (int p = 1; p <= last; ++p) FreeGrid(p);
    for (int p : registeredPositions_)
      if (p > last && p <= kMaxGridPosition) FreeGrid(p);
  }
  registeredPositions_.clear();
  for (StandardGridSpec& spec : standardGrids) spec.startValues.reset();
  ownedGrids_.clear();
  zoneGrid = elevationModel = iceFirnGrid = nullptr;
  relCellArea = nullptr;
  riverLinks.clear();
  modelobject::DeleteModule();
}

// The seven-day temperature history of the dynamic phenology (eight levels per cell) is
// kept at the end of the run as one stack, "<file name of TemperatureMOVAVG7>_End", with the
// number of days it holds as a ninth level, from which a later run can start its phenology.
void defaultini::WritePhenologyState() {
  WriteLayerPhenologyState(*this);
  LanduseParameterGrids& g = landuseGrids;
  if (!grids || !g.movingStack || g.movingAveragePosition < 1 || g.movingAveragePosition > kMaxGridPosition) return;
  const GridRecord& r = grids[g.movingAveragePosition];
  if (!r.registered || r.fileName.empty()) return;
  for (int i = 0; i <= geometry.nrows; ++i)
    for (int j = 0; j <= geometry.ncols; ++j) g.movingStack[i][j][kPhenologyDayCountLevel] = g.dayCounter;
  WriteStack(r.fileName + "_End", g.movingStack, kPhenologyDayCountLevel, output.writeAsciiGrids,
             output.writeDoubleGrids, output.writeNetcdfGrids, true);
}

// --- helpers ---------------------------------------------------------------------

std::string defaultini::DerivedGridName(const std::string& source, const std::string& tag) {
  std::string file = source.substr(0, source.find('<'));
  const size_t slash = file.rfind('/');
  if (slash != std::string::npos) file.erase(0, slash + 1);
  const size_t dot = file.rfind('.');
  return (dot == std::string::npos ? file : file.substr(0, dot)) + ".intern." + tag;
}

int defaultini::FirstPositionWithoutFileName() const {
  const int p = FirstFreeGridPosition();
  return p == 0 ? 1000 : p;
}

double** defaultini::NewOwnedGrid(int firstRow, int lastRow) {
  ownedGrids_.emplace_back(matrix(firstRow, lastRow, 0, geometry.ncols));
  return ownedGrids_.back().get();
}

double** defaultini::AdoptGrid(double** grid) {
  if (grid) ownedGrids_.emplace_back(grid);
  return grid;
}

std::string defaultini::SectionOfPosition(int position) const {
  if (position == 1) return "zone_grid";
  if (position == 2) return "elevation_model";
  if (position < 3 || position >= static_cast<int>(standardGrids.size())) return name;
  return firstVariableGridPosition > 0 && position >= firstVariableGridPosition ? "variable_grids" : "standard_grids";
}

namespace {
// Names the section of a grid of the start-up while it is registered or written.
struct InSection {
  modelobject& o;
  InSection(modelobject& object, std::string section) : o(object) { o.gridSection = std::move(section); }
  ~InSection() { o.gridSection.clear(); }
};
}  // namespace

void defaultini::Register(int position, const std::string& fileName, double** data, const std::string& internalName,
                          int writeCode) {
  InSection in(*this, SectionOfPosition(position));
  RegisterGrid(position, fileName, data, nullptr, 0, internalName, writeCode, 1, geometry.nrows);
  if (std::find(registeredPositions_.begin(), registeredPositions_.end(), position) == registeredPositions_.end())
    registeredPositions_.push_back(position);
}

long long defaultini::ReleaseUnreadGrids() {
  if (!grids) return 0;
  auto unread = [&](double** data) {
    for (const int p : forReadersOnly_)
      if (grids[p].data == data) return !grids[p].lookedUp && RecordWriteCode(grids[p]) == 0;
    return false;
  };
  // The land-use update writes the vegetation-period grids of a layer every day, all three
  // together; they go only when no write code asks for vegetation-period sums and none of
  // the three was looked up.
  const bool periodSums = AnyVegetationPeriodSums(grids);
  for (size_t k = 1; k < landuseGrids.layer[kVegetationDuration].size(); ++k) {
    double** layer[3] = {landuseGrids.layer[kVegetationStart][k], landuseGrids.layer[kVegetationStop][k],
                         landuseGrids.layer[kVegetationDuration][k]};
    if (!periodSums && unread(layer[0]) && unread(layer[1]) && unread(layer[2]))
      for (int n = kVegetationStart; n <= kVegetationDuration; ++n) landuseGrids.layer[n][k] = nullptr;
  }
  long long given = 0;
  for (const int p : forReadersOnly_) {
    GridRecord& rec = grids[p];
    if (!rec.registered || rec.released || !rec.data || !unread(rec.data)) continue;
    double** old = rec.data;
    bool stillWritten = false;
    for (int n = kVegetationStart; n <= kVegetationDuration; ++n)
      for (double** m : landuseGrids.layer[n]) stillWritten = stillWritten || (m && m == old);
    if (stillWritten) continue;
    auto owner = std::find_if(ownedGrids_.begin(), ownedGrids_.end(),
                              [&](const MatrixOwner& m) { return m.get() == old; });
    if (owner == ownedGrids_.end()) continue;
    given += MatrixBytes(old);
    // One row of no-data serves every row: searches by name go on past the record.
    owner->reset(AllocateRepeatedRowMatrix(log, 1, geometry.nrows, geometry.ncols, geometry.nodata_value));
    given -= MatrixBytes(owner->get());
    rec.data = owner->get();
    rec.released = true;
    for (double*** member : {&cellSizeX, &cellSizeY, &coordX, &coordY, &slopeAngle, &slopeAspect, &mpiHelper,
                             &regionGrids[1], &regionGrids[2], &regionGrids[3], &weightGrids[1], &weightGrids[2],
                             &weightGrids[3]})
      if (*member == old) *member = nullptr;
  }
  return given;
}

void defaultini::WriteGridOnce(int position) {
  InSection in(*this, SectionOfPosition(position));
  const GridRecord& r = grids[position];
  WriteGrid(r.firstFileName.empty() ? r.fileName : r.firstFileName, r.data, output.writeAsciiGrids, output.writeDoubleGrids, output.writeNetcdfGrids);
}

bool defaultini::IsBasinCell(int row, int column) const {
  return zoneGrid && zoneGrid[row] && zoneGrid[row][column] > geometry.nodata_value;
}

double** defaultini::GridData(int position) const {
  if (!grids || position < 1 || position > kMaxGridPosition) return nullptr;
  return grids[position].data;
}

const std::string& defaultini::GridFileName(int position) const { return grids[position].fileName; }

int defaultini::StandardGridPosition(const std::string& internalName) const {
  for (int p = 3; p < static_cast<int>(standardGrids.size()); ++p)
    if (standardGrids[p].internalName == internalName) return p;
  return 0;
}

double defaultini::GetGridMaximum(int position) const {
  double result = geometry.nodata_value;
  double** g = GridData(position);
  if (!g) return result;
  for (int r = 1; r <= geometry.nrows; ++r) {
    if (!g[r]) continue;
    int first = 1, last = geometry.ncols;
    if (static_cast<int>(rowBounds.size()) > r) {
      first = std::max(1, rowBounds[r].first);
      last = std::min(geometry.ncols, rowBounds[r].last);
    }
    for (int c = first; c <= last; ++c)
      if (g[r][c] > result && IsBasinCell(r, c)) result = g[r][c];
  }
  return result;
}
