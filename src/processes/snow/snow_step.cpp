// The snow step: values of the day, the parallel cell loop (Run), and the second phase
// (PostRun): HRU copy, slides, statistics and output grids.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/thread_policy.h"
#include "grids/grid_registry.h"
#include "init/hru.h"
#include "processes/snow/snowmod.h"
#include "tables/landuse_day_values.h"
#include "tables/landuse_table.h"

namespace {

// Albedo of the snow cover, or of the land below it when there is (almost) no snow.
constexpr double kSnowfreeBefore = 2.5;  // mm, at the start of the step
constexpr double kSnowfreeAfter = 5.0;   // mm, at its end
constexpr double kSnowCovered = 5.0;     // mm: a snow-covered cell and step
constexpr double kFreshSnowfall = 1.0;   // mm: precipitation that renews the snow surface

}  // namespace

double schneemodellklasse::BandValue(int day, int month) const {
  return snow::SeasonalValue(rmfMean, rmfAmplitude, day, month);
}

bool schneemodellklasse::CellComputed(int row, int col) const {
  if (!(zoneGrid[row][col] != geometry.nodata_value)) return false;
  if (mpiRegions && mpiRegions[row][col] != instanceNumber) return false;
  if (hruGrid && masterHruGrid && masterHruGrid[row][col] == geometry.nodata_value) return false;
  return true;
}

double schneemodellklasse::LanduseAlbedoOfDay(int row, int col, LogStream* to) const {
  if (!landuseTable || landuseLayers.size() < 2 || !landuseLayers[1]) return albedo[row][col];
  const double c = landuseLayers[1][row][col];
  if (!(c >= 1.0) || c >= static_cast<double>(landuseTable->size())) return albedo[row][col];
  const double z = elevation ? landuse_days::FixDayAltitude(elevation[row][col], geometry.nodata_value) : 0.0;
  // The step's own year: a start late in the year counts the next year's days on from it.
  return (*landuseTable)[static_cast<size_t>(c)].GetAlbedoAtDay(to, dayOfYear, 1, row, col, z,
                                                                static_cast<int>(calendarStamp.year));
}

double schneemodellklasse::LanduseAlbedoInLoop(int row, int col) const {
  try {
    return LanduseAlbedoOfDay(row, col, nullptr);
  } catch (...) {
    const size_t k = static_cast<size_t>(row) * (static_cast<size_t>(geometry.ncols) + 1) + static_cast<size_t>(col);
    size_t seen = albedoFailure.load();
    while (k < seen && !albedoFailure.compare_exchange_weak(seen, k)) {
    }
    return albedo[row][col];
  }
}

void schneemodellklasse::RaiseAlbedoFailure() const {
  const size_t bad = albedoFailure.load();
  if (bad == ~size_t(0)) return;
  // The first failing cell in row order (the same for every thread count) is taken again on
  // this thread, which writes the message and throws.
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  LanduseAlbedoOfDay(static_cast<int>(bad / stride), static_cast<int>(bad % stride), log);
  throw 152;  // the table's check failed without a message in the loop only
}

void schneemodellklasse::TakeLanduseAlbedoOfDay() {
  if (landAlbedoDay == dayOfYear || !albedo || !landuseTable || landuseLayers.size() < 2 || !landuseLayers[1])
    return;
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  const float none = std::numeric_limits<float>::quiet_NaN();
  landAlbedo.resize((static_cast<size_t>(geometry.nrows) + 1) * stride);
  landAlbedoCode.assign(landAlbedo.size(), none);
  landAlbedoDay = -1;
  const int first = std::max(1, firstModuleRow), last = std::min(static_cast<int>(geometry.nrows), lastModuleRow);
  // A fix day that the altitude moves out of the year ends the run after the loop.
  albedoFailure.store(~size_t(0));
#pragma omp parallel for schedule(runtime) if (ForkRows(last - first + 1, geometry.ncols))
  for (int r = first; r <= last; ++r) {
    int c0 = 1, c1 = geometry.ncols;
    if (static_cast<size_t>(r) < rowBounds.size()) {
      c0 = std::max(1, static_cast<int>(rowBounds[r].first));
      c1 = std::min(static_cast<int>(geometry.ncols), static_cast<int>(rowBounds[r].last));
    }
    for (int c = c0; c <= c1; ++c) {
      const double code = landuseLayers[1][r][c];
      if (!CellComputed(r, c) || !(code >= 1.0) || code >= static_cast<double>(landuseTable->size())) continue;
      // Dynamic phenology and per-cell fix days may change the row's days within a day.
      const int method = (*landuseTable)[static_cast<size_t>(code)].method;
      if (method >= 3 && method <= 6) continue;
      const size_t k = static_cast<size_t>(r) * stride + static_cast<size_t>(c);
      landAlbedo[k] = LanduseAlbedoInLoop(r, c);
      landAlbedoCode[k] = static_cast<float>(code);
    }
  }
  RaiseAlbedoFailure();
  landAlbedoDay = dayOfYear;
}

schneemodellklasse::RowGrids schneemodellklasse::GridsOfRow(int r) const {
  const auto row = [r](double** m) { return m ? m[r] : nullptr; };
  RowGrids g;
  g.r = r;
  using M = schneemodellklasse;
  static constexpr std::pair<const double* RowGrids::*, double** M::*> kInputs[] = {
      {&RowGrids::temperature, &M::temperature},
      {&RowGrids::temperatureNight, &M::temperatureNight},
      {&RowGrids::wind, &M::wind},
      {&RowGrids::humidity, &M::humidity},
      {&RowGrids::radiation, &M::radiation},
      {&RowGrids::cloudiness, &M::cloudiness},
      {&RowGrids::elevation, &M::elevation},
      {&RowGrids::depositionIndex, &M::depositionIndex},
      {&RowGrids::vapourPressure, &M::vapourPressure},
      {&RowGrids::radiationCorrection, &M::radiationCorrection},
      {&RowGrids::surfaceTemperature, &M::surfaceTemperature},
      {&RowGrids::canopyLongwave, &M::canopyLongwave},
      {&RowGrids::canopyUnload, &M::canopyUnload}};
  for (const auto& input : kInputs) g.*input.first = row(this->*input.second);
  g.precipitation = row(precipitation);
  g.albedo = row(albedo);
  g.snowEvaporation = row(snowEvaporation);
  if (lakeFlowControl != 0 && lakeCodes && pondingStorage) {
    g.lakeCodes = row(lakeCodes);
    g.pondingStorage = row(pondingStorage);
  }
  if (permafrost) {
    g.thawCoefficient = row(thawCoefficient);
    g.thawDepth = row(thawDepth);
    g.rootDepth = row(rootDepth1);
    g.snowFreeDays = row(grid[kSnowFreeDays]);
    g.snowCoverDays = row(grid[kSnowCoverDays]);
  }
  static constexpr std::pair<double* RowGrids::*, Grid> kOwn[] = {
      {&RowGrids::solid, kSolid},       {&RowGrids::liquid, kLiquid},     {&RowGrids::total, kTotal},
      {&RowGrids::daysSnow, kDaysSnow}, {&RowGrids::snowAge, kSnowAge},   {&RowGrids::snowfall, kSnowfall},
      {&RowGrids::rainfall, kRainfall}, {&RowGrids::outflow, kOutflow},   {&RowGrids::meltOnly, kMeltOnly},
      {&RowGrids::snowTemp, kSnowTemp}, {&RowGrids::surfTemp, kSurfTemp}};
  for (const auto& own : kOwn) g.*own.first = row(grid[own.second]);
  if (landAlbedoDay == dayOfYear && landuseLayers.size() > 1 && landuseLayers[1]) {
    const size_t k = static_cast<size_t>(r) * (static_cast<size_t>(geometry.ncols) + 1);
    g.landAlbedo = landAlbedo.data() + k;
    g.landAlbedoCode = landAlbedoCode.data() + k;
    g.landuse = landuseLayers[1][r];
  }
  return g;
}

double schneemodellklasse::CellStep(int row, int col, double T, double w, double sAdd, snow::CellState& s,
                                    bool noNewPrecipitation, snow::CellNotes& notes) {
  return CellStep(GridsOfRow(row), col, T, w, sAdd, s, noNewPrecipitation, notes);
}

double schneemodellklasse::SnowCalls(int r, int c, snow::CellState& s, double sAdd, bool noNewPrecipitation,
                                     snow::CellNotes& notes) {
  return SnowCalls(GridsOfRow(r), c, s, sAdd, noNewPrecipitation, notes);
}

double schneemodellklasse::SnowCallsInOpenAir(int r, int c, snow::CellState& s, double sAdd, bool noNewPrecipitation,
                                              snow::CellNotes& notes) {
  RowGrids g = GridsOfRow(r);
  const auto row = [r](double** m) { return m ? m[r] : nullptr; };
  g.temperature = row(openTemperature);
  g.wind = row(openWind);
  g.humidity = row(openHumidity);
  g.radiation = row(openRadiation);
  g.canopyLongwave = nullptr;  // the canopy's; the sky's comes from the air
  return SnowCalls(g, c, s, sAdd, noNewPrecipitation, notes);
}

void schneemodellklasse::SetAlbedoBefore(int r, int c, double total) { SetAlbedoBefore(GridsOfRow(r), c, total); }

void schneemodellklasse::CellSequence(int r, int c, snow::CellNotes& notes) { CellSequence(GridsOfRow(r), c, notes); }

void schneemodellklasse::FinishSnowCell(int r, int c, const snow::CellState& s) { FinishSnowCell(GridsOfRow(r), c, s); }

// The cell functions of a row are inline: the cell loop below and the (row, col) functions
// above are their only callers.
inline double schneemodellklasse::CellStep(const RowGrids& g, int c, double T, double w, double sAdd,
                                           snow::CellState& s, bool noNewPrecipitation, snow::CellNotes& notes) {
  snow::CellInputs in;
  in.P = g.precipitation[c];
  if (g.wind) in.u = g.wind[c];
  // The inputs only some methods read are taken for those (see snow::CellStep).
  if (inputsOfMethod.energyBalance) {
    if (g.humidity) in.RH = g.humidity[c];
    if (g.radiation) in.G = g.radiation[c];
    if (g.cloudiness) in.N = g.cloudiness[c];
    if (g.elevation) in.z = g.elevation[c];
    if (g.albedo) in.albedo = g.albedo[c];
    if (g.surfaceTemperature) in.surfaceTemperature = g.surfaceTemperature[c];
    if (g.canopyLongwave) {
      in.canopyLongwave = g.canopyLongwave[c];
      in.hasCanopyLongwave = true;
    }
  }
  if (inputsOfMethod.depositionIndex && g.depositionIndex) in.DI = g.depositionIndex[c];
  if (inputsOfMethod.combination) {
    if (g.vapourPressure) in.vapourPressure = g.vapourPressure[c];
    if (g.radiationCorrection) {
      in.radCorrection = g.radiationCorrection[c];
      in.hasRadCorrection = true;
    }
  }
  if (g.lakeCodes) in.lakeWater = g.lakeCodes[c] > 0.0 && g.pondingStorage[c] > 0.0;
  const double result = snow::CellStep(params, dayValues, in, s, T, w, sAdd, noNewPrecipitation, notes);
  g.precipitation[c] = in.P;
  return result;
}

inline double schneemodellklasse::SnowCalls(const RowGrids& g, int c, snow::CellState& s, double sAdd,
                                            bool noNewPrecipitation, snow::CellNotes& notes) {
  const double T = g.temperature[c];
  if (timeInterval <= 720.0) return CellStep(g, c, T, 1.0, sAdd, s, noNewPrecipitation, notes);
  // Night and day of a long step: the night temperature for the night part. Each part
  // splits the step's own precipitation; the deposition index raises the precipitation by
  // the snow of each part, weighted like the part, so the step's precipitation is raised
  // once and holds what entered the storages, and the step's snowfall and rainfall are
  // those of the two parts together.
  double& P = g.precipitation[c];
  const double P0 = P;
  const double night = CellStep(g, c, g.temperatureNight[c], nightPart, sAdd, s, noNewPrecipitation, notes);
  const double nightEvaporation = s.evaporation;
  const double nightP = P, nightSnowfall = s.snowfall, nightRainfall = s.rainfall;
  P = P0;
  const double result = night + CellStep(g, c, T, daylightPart, sAdd, s, noNewPrecipitation, notes);
  s.evaporation += nightEvaporation;
  if (!noNewPrecipitation) {
    P = P0 + nightPart * (nightP - P0) + daylightPart * (P - P0);
    s.snowfall = nightPart * nightSnowfall + daylightPart * s.snowfall;
    s.rainfall = nightPart * nightRainfall + daylightPart * s.rainfall;
  }
  return result;
}

inline void schneemodellklasse::SetAlbedoBefore(const RowGrids& g, int c, double total) {
  if (!g.albedo) return;
  g.albedo[c] = total <= kSnowfreeBefore ? LanduseAlbedo(g, c)
                                         : snow::SnowAlbedo(ALBsnow_min, ALBsnow_max, g.snowAge[c], g.temperature[c]);
}

inline void schneemodellklasse::CellSequence(const RowGrids& g, int c, snow::CellNotes& notes) {
  g.outflow[c] = 0.0;
  g.meltOnly[c] = 0.0;

  snow::CellState s;
  s.solid = g.solid[c];
  s.liquid = g.liquid[c];
  s.total = s.solid + s.liquid;
  s.snowfall = g.snowfall[c];
  s.rainfall = g.rainfall[c];
  const bool energyBalance = snow::IsEnergyBalance(method);
  if (energyBalance) {
    s.snowTemp = g.snowTemp[c];
    s.surfTemp = g.surfTemp[c];
  }
  SetAlbedoBefore(g, c, s.total);
  const double sAdd = g.canopyUnload ? g.canopyUnload[c] : 0.0;
  const double result = SnowCalls(g, c, s, sAdd, false, notes);
  if (energyBalance) {
    g.snowTemp[c] = s.snowTemp;
    g.surfTemp[c] = s.surfTemp;
    if (g.snowEvaporation) g.snowEvaporation[c] = s.evaporation;
  }

  const double taken = snow::ApplyMelt(result, s.solid, s.liquid);
  const double outflow = snow::Retain(CWH, s.solid, s.liquid);
  if (outflow > 0.0) {
    g.outflow[c] = outflow;
    if (taken > 0.0) g.meltOnly[c] = taken;
  }
  FinishSnowCell(g, c, s);
}

inline void schneemodellklasse::FinishSnowCell(const RowGrids& g, int c, const snow::CellState& s) {
  const double T = g.temperature[c];
  const double swe = s.solid + s.liquid;
  const double n = params.stepsPerDay;
  g.daysSnow[c] = swe > kSnowCovered ? 1.0 / n : 0.0;
  const double P = g.precipitation[c];
  double& age = g.snowAge[c];
  if (T <= T0R + transzone && P > kFreshSnowfall && swe > kSnowCovered)
    age = 0.0;
  else
    age += 1.0 / n;
  if (g.albedo)
    g.albedo[c] = swe <= kSnowfreeAfter ? LanduseAlbedo(g, c) : snow::SnowAlbedo(ALBsnow_min, ALBsnow_max, age, T);
  g.solid[c] = s.solid;
  g.liquid[c] = s.liquid;
  g.total[c] = swe;
  g.snowfall[c] = s.snowfall;
  g.rainfall[c] = s.rainfall;

  if (g.thawCoefficient && g.thawCoefficient[c] > geometry.nodata_value) {
    snow::PermafrostCell p;
    p.snowFreeDays = g.snowFreeDays[c];
    p.snowCoverDays = g.snowCoverDays[c];
    p.thawDepth = std::max(0.0, g.thawDepth[c]);
    const bool rootValid = g.rootDepth[c] > geometry.nodata_value;
    p.rootDepth = rootValid ? g.rootDepth[c] : 0.0;
    snow::PermafrostStep(swe, maxSweSnowFree, minSnowAgeRefreeze, g.thawCoefficient[c], n, p);
    g.snowFreeDays[c] = p.snowFreeDays;
    g.snowCoverDays[c] = p.snowCoverDays;
    g.thawDepth[c] = p.thawDepth;
    if (rootValid) g.rootDepth[c] = p.rootDepth;
  }
}

void schneemodellklasse::Run(ModelDate date) {
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
  if (flowControl == 0) return;
  if (!inputsLinked) LinkInputs();
  // The day the step lies in: midnight written 0 h is the last step of the day before.
  const int day = static_cast<int>(calendarStamp.day), month = static_cast<int>(calendarStamp.month);
  inputsOfMethod.energyBalance = snow::IsEnergyBalance(params.method);
  inputsOfMethod.depositionIndex = snow::UsesDepositionIndex(params.method);
  inputsOfMethod.combination = snow::IsCombination(params.method);
  dayValues.DDF = snow::MonthlyValue(ddfTable.data(), day, month);
  dayValues.a = snow::MonthlyValue(aTable.data(), day, month);
  dayValues.b = snow::MonthlyValue(bTable.data(), day, month);
  dayValues.RMF = BandValue(day, month);
  DaylightFraction();
  dayOfYear = landuseTable && landuseTable->size() > 1
                  ? (*landuseTable)[1].DayOfYear(day, month, static_cast<int>(calendarStamp.year))
                  : snow::SeasonDay(day, month);
  TakeLanduseAlbedoOfDay();
  for (auto& s : statistics)
    if (s) s->ClearZoneSums();
  for (auto& s : glacierStatistics)
    if (s) s->ClearZoneSums();
  if (glacierMethod != 0) {
    aIceDay.assign(glacierParams.size(), 0.0);
    aSnowDay.assign(glacierParams.size(), 0.0);
    for (size_t k = 1; k < glacierParams.size(); ++k) {
      const glacier::SubbasinParameters& p = glacierParams[k];
      aIceDay[k] = snow::SeasonalValue(p.aiceMean, p.aiceAmplitude, day, month);
      aSnowDay[k] = snow::SeasonalValue(p.asnowMean, p.asnowAmplitude, day, month);
    }
  }

  long clamped = 0;
  albedoFailure.store(~size_t(0));
  const int first = std::max(1, firstModuleRow), last = std::min(static_cast<int>(geometry.nrows), lastModuleRow);
#pragma omp parallel for schedule(runtime) reduction(+ : clamped) if (ForkRows(last - first + 1, geometry.ncols))
  for (int r = first; r <= last; ++r) {
    int c0 = 1, c1 = geometry.ncols;
    if (static_cast<size_t>(r) < rowBounds.size()) {
      c0 = std::max(1, static_cast<int>(rowBounds[r].first));
      c1 = std::min(static_cast<int>(geometry.ncols), static_cast<int>(rowBounds[r].last));
    }
    snow::CellNotes notes;
    const RowGrids g = GridsOfRow(r);
    for (int c = c0; c <= c1; ++c) {
      if (!CellComputed(r, c)) continue;
      if (glacierFraction) {
        grid[kMeltFirn][r][c] = grid[kMeltIce][r][c] = grid[kSnowMeltOnGlacier][r][c] = 0.0;
        if (grid[kFractionOld]) grid[kFractionOld][r][c] = glacierFraction[r][c];
        if (GlacierShareOfCell(r, c) > 0.0 && SubbasinIndex(r, c) > 0) {
          if (DynamicGlaciers())
            DynamicGlacierCell(r, c, notes);
          else
            GlacierCell(r, c);
          continue;
        }
      }
      CellSequence(g, c, notes);
    }
    clamped += notes.humidityClamped;
  }
  // A cell whose land use changed during the day (or follows a dynamic phenology) and whose
  // table albedo failed.
  RaiseAlbedoFailure();
  humidityClamped = clamped;
  if (clamped > 0)
    *log << "WARNING: " << name << ": relative humidity outside 0..1 or a vapour pressure below "
         << snow::kMinVapourPressure << " hPa in " << clamped << " cells of the step "
         << DateText(date, kRecordDate.Until(DateField::kHour))
         << " h; limited to the valid range" << "[end-entry]";
}

// --- second phase -------------------------------------------------------------------------

void schneemodellklasse::CopyHruMasters() {
  HruCellScope scope;
  scope.geometry = &geometry;
  scope.rowBounds = rowBounds.empty() ? nullptr : &rowBounds;
  scope.zone = zoneGrid;
  scope.regions = mpiRegions;
  scope.instance = instanceNumber;
  scope.firstRow = firstModuleRow;
  scope.lastRow = lastModuleRow;
  const std::vector<HruRecord> masters = MasterCellsFromGrid(masterHruGrid, scope);
  std::vector<double**> copied = {grid[kTotal], grid[kSolid],    grid[kLiquid],   grid[kDaysSnow], grid[kSnowAge],
                                  grid[kSnowfall], grid[kRainfall], albedo,      grid[kOutflow],  grid[kMeltOnly],
                                  grid[kSnowTemp], grid[kSurfTemp], grid[kInputMass], grid[kMobileMass],
                                  grid[kDeposition], grid[kMeltFirn], grid[kMeltIce], grid[kSnowMeltOnGlacier],
                                  grid[kSolidOnGlacier], grid[kLiquidOnGlacier], grid[kTotalOnGlacier],
                                  grid[kSnowTempOnGlacier], grid[kSurfTempOnGlacier], grid[kSnowEvaporationOnGlacier],
                                  grid[kMassBalance], grid[kOldMassBalance], grid[kFirnTotal]};
  for (double** g : copied)
    if (g) CopyFromHruMasters(g, hruGrid, masterHruGrid, masters, scope);
}

ZoneCells schneemodellklasse::ModuleZoneCells() const {
  ZoneCells cells;
  cells.zone = zoneGrid;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = zoneCodeMap;
  cells.maxCode = maxZoneCode;
  cells.firstRow = firstModuleRow;
  cells.lastRow = lastModuleRow;
  cells.ncols = geometry.ncols;
  cells.rowBounds = rowBounds.empty() ? nullptr : &rowBounds;
  cells.regions = mpiRegions;
  cells.instance = instanceNumber;
  return cells;
}

void schneemodellklasse::AddStatistics() {
  std::array<double**, kStatCount> source{};
  source[sOutflow] = grid[kOutflow];
  source[sMeltOnly] = grid[kMeltOnly];
  source[sTotal] = grid[kTotal];
  source[sDaysSnow] = grid[kDaysSnow];
  source[sSnowAge] = grid[kSnowAge];
  source[sSnowfall] = grid[kSnowfall];
  source[sRainfall] = grid[kRainfall];
  source[sAlbedo] = albedo;
  source[sSnowTemp] = grid[kSnowTemp];
  source[sSurfTemp] = grid[kSurfTemp];
  source[sInputMass] = grid[kInputMass];
  source[sMobileMass] = grid[kMobileMass];
  source[sDeposition] = grid[kDeposition];
  source[sThawDepth] = permafrost ? thawDepth : nullptr;

  const ZoneCells cells = ModuleZoneCells();
  // Every writer's zone sums in one parallel pass over the cells (processes/zone_sums.h).
  std::array<ZoneTableEntry*, kStatCount> tables{};
  std::array<int, kStatCount> active{};
  int count = 0;
  for (int s = 0; s < kStatCount; ++s) {
    const zonalstatistic* w = statistics[s].get();
    if (!w || !w->Active() || !source[s]) continue;
    tables[s] = statisticsZones[s].data();
    active[count++] = s;
  }
  if (count == 0) return;
  const double nodata = geometry.nodata_value;
  statisticsSums.Prepare(cells, relCellArea, geometry.nrows, geometry.ncols, kStatCount, zoneCount, cells.firstRow,
                         cells.lastRow, tables.data());
  const int blocks = statisticsSums.Blocks();
#pragma omp parallel for schedule(runtime) if (ForkRows(cells.lastRow - cells.firstRow + 1, geometry.ncols))
  for (int b = 0; b < blocks; ++b)
    for (int r = statisticsSums.FirstRow(b); r <= statisticsSums.LastRow(b); ++r)
      statisticsSums.AddRow(b, r, [&](int c, const ZoneSums::Cell& cell) {
        for (int i = 0; i < count; ++i) {
          const int s = active[i];
          const double v = source[s][r][c];
          // Temperatures and thaw depths count only where they are defined (snow, permafrost).
          if (s == sSnowTemp || s == sSurfTemp || s == sThawDepth) {
            if (v > nodata + 1.0) cell.Add(s, v);
          } else {
            cell.AddValue(s, v);
          }
        }
      });
  statisticsSums.Fold(tables.data());
}

void schneemodellklasse::WriteOutputGrids() {
  for (int g = 0; g < kGridCount; ++g) {
    if (!gridOwned[g] || gridPosition[g] <= 0) continue;
    // The firn layers go out as a stack (a later run reads them back with the glacier readgrid flag).
    if (g == kFirnTotal)
      WriteStackGrids(gridPosition[g]);
    else
      WriteGrids(gridPosition[g], 0, false);
  }
}

void schneemodellklasse::PostRun(ModelDate date) {
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
  if (flowControl == 0) return;
  if (hruGrid && masterHruGrid) CopyHruMasters();
  if (snow::HasSlides(method) && !hruGrid) {
    SlideGrids s;
    s.reference = grids[1].data;
    s.zone = zoneGrid;
    s.orderRow = grid[kElevOrderRow];
    s.orderCol = grid[kElevOrderCol];
    s.slope = slopeAngle;
    for (int k = 1; k <= 4; ++k) s.fraction[k] = slideFraction[k];
    s.maxDeposition = grid[kMaxDeposition];
    s.solid = grid[kSolid];
    s.liquid = grid[kLiquid];
    s.total = grid[kTotal];
    s.inputMass = grid[kInputMass];
    s.mobileMass = grid[kMobileMass];
    s.deposition = grid[kDeposition];
    if (DynamicGlaciers()) {
      s.glacierFraction = glacierFraction;
      s.solidOnGlacier = grid[kSolidOnGlacier];
      s.liquidOnGlacier = grid[kLiquidOnGlacier];
      s.totalOnGlacier = grid[kTotalOnGlacier];
      s.massBalance = grid[kMassBalance];
    }
    SnowSlides(s, geometry, minSlideSlope, slideMassFrac);
  }
  AddStatistics();
  if (glacierMethod != 0) AddGlacierStatistics();
  for (auto& s : statistics)
    if (s) s->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
  for (int k = 0; k < kGlacierStatCount; ++k)
    if (glacierStatistics[k] && k != gTotal)
      glacierStatistics[k]->AggregateAndWrite(date.year, date.month, date.day, date.hour, date.minute);
  if (glacierMethod != 0 && instanceNumber == 0) RouteGlacierMelt(date);
  UpdateGlaciersIfDue(date);
  KeepSnowOfChangedGlacierParts();
  WriteOutputGrids();
  WritePermafrostStateAtEnd(date);
}
