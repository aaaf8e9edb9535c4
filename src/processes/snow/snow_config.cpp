// Construction of the snow model: the section [snow_model], the statistics files, the
// grids of other modules it reads, its own grids and the section [permafrost].
#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/build_info.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "framework/value_checks.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "processes/snow/snowmod.h"

namespace {

// Methods that melt with each monthly table: the degree-day factor, and the coefficients
// a and b of the temperature and wind index (also used for rain on snow).
bool UsesMonthlyTable(int method, int table) {
  if (table == 0) return snow::IsTemperatureIndex(method);
  return snow::IsTemperatureWindIndex(method) || snow::IsCombination(method);
}

const char* const kTableNames[3] = {"degree-day factor DDF", "coefficient a", "coefficient b"};

}  // namespace

schneemodellklasse::schneemodellklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "snow_model", 1, SectionRequirement::Required) {
  error = 0;
  try {
    Construct(in);
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
  if (error != 0) CloseControlFile();
}

schneemodellklasse::~schneemodellklasse() { FreeEverything(); }

double** schneemodellklasse::Registered(const std::string& internalName) const {
  const int p = FindGrid(internalName);
  return p > 0 ? grids[p].data : nullptr;
}

void schneemodellklasse::Construct(const ModuleInputs& in) {
  *log << "file snowmod, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
  if (flowControl == 0) return;

  outputDirectory = in.output.defaultOutputDirectory;
  landuseTable = in.run ? in.run->landuseTable : nullptr;
  firstModuleRow = 1;
  lastModuleRow = geometry.nrows;
  RankZones(subbasinGrid, subbasinTable, subbasinCodeMap, subbasinCount, largestSubbasinCode);
  mpiRegions = Registered("MPIRegions");

  ReadSection();
  // Before the second block, which only the methods above 4 have.
  if (!snow::IsKnownMethod(method)) {
    *log << "FATAL: snow model method " << method << " in " << ShownControlFile()
         << ": the method must be one of 1 to 14" << "[end-entry]";
    throw 17;
  }
  if (snow::HasSlides(method)) wholeDomain = true;
  if (method > 4) ReadSecondBlock();
  CloseControlFile();

  for (int t : monthlyMissing) {
    if (UsesMonthlyTable(method, t)) {
      *log << "FATAL: error in control file, the monthly table of the " << kTableNames[t]
           << " in [snow_model] of " << ShownControlFile() << " holds no number, but method " << method
           << " uses it" << "[end-entry]";
      throw 17;
    }
    *log << "WARNING: the monthly table of the " << kTableNames[t] << " in [snow_model] of " << ShownControlFile()
         << " holds no number; method " << method << " does not use it, it is set to 0" << "[end-entry]";
  }

  CheckSectionValues();

  CreateStatistics(in);
  rmfMean = RMFMIN + (RMFMAX - RMFMIN) * 0.5;
  rmfAmplitude = (RMFMAX - RMFMIN) * 0.5;
  LookUpGrids();
  if (FindGrid("ice_firn") > 0 || FindGrid("GlacierizedCells") > 0) ReadIceFirn();
  CreateGrids();
  if (glacierMethod != 0) {
    CreateGlacierGrids();
    CreateGlacierStatistics(in);
  }
  if (FindGrid("ThawCoeffPermaFrost") > 0 && FindGrid("PermafrostThawDepth") > 0) ReadPermafrost(in);

  if (T0R < T0) {
    *log << "ERROR: \n-----------------------------------------------------------------------\n"
         << "   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow melt)  \n"
         << "   because these thresholds are contradicting each other, T0R was set to T0!                    \n"
         << "-----------------------------------------------------------------------" << "[end-entry]";
    T0R = T0;
  }
  linked = 0;
  if (output.hruMode != 0 && !hruGrid) {
    hruGrid = grids[RequireGrid("HydrologicResponseUnits")].data;
    masterHruGrid = grids[RequireGrid("MasterHydrologicResponseUnits")].data;
  }

  params.method = method;
  params.transzone = transzone;
  params.T0R = T0R;
  params.T0 = T0;
  params.CWH = CWH;
  params.CRFR = CRFR;
  params.albedoMin = ALBsnow_min;
  params.albedoMax = ALBsnow_max;
  params.LWINcorr = LWINcorr;
  params.LWOUTcorr = LWOUTcorr;
  params.EnBalScaling = EnBalScaling;
  params.intervalMinutes = timeInterval;
  params.stepsPerDay = 1440.0 / timeInterval;
  params.stepSeconds = 60.0 * timeInterval;
  params.nodata = geometry.nodata_value;
  params.measuredSurfaceTemperature = surfaceTemperature != nullptr;
}

// --- [snow_model] ------------------------------------------------------------------------

void schneemodellklasse::ReadStat(StatName& s, const std::string& label) {
  std::string code;
  ReadTwoControlValues(s.file, code, label);
  long value = 0;
  if (!ParseLong(code, value) || value < -2147483647L || value > 2147483647L) ControlFileKeyError(label, name);
  s.code = static_cast<int>(value);
}

void schneemodellklasse::ReadGridName(GridName& g, const std::string& nameLabel, const std::string& codeLabel) {
  ReadControlValue(g.file, nameLabel);
  ReadControlValue(g.writeCode, codeLabel);
}

void schneemodellklasse::ReadMonthlyTable(std::array<double, 14>& table, int which) {
  // One line of up to 12 numbers; the rest of the line (a comment) is ignored.
  std::string line;
  const long lineNumber = controlFile.LineNumber();
  if (!controlFile.ReadLine(line)) line.clear();
  std::vector<double> values;
  std::string refused;
  size_t beyond = 0;
  if (!ReadNumberRow(line, 12, values, refused, &beyond)) {
    *log << "FATAL: error in control file, the monthly table of the " << kTableNames[which] << " in [snow_model], "
         << controlFile.LineText(lineNumber, ShownControlFile()) << ": "
         << NoNumberText(refused, " is not a finite number") << "[end-entry]";
    throw 17;
  }
  const size_t count = values.size();
  if (count == 12) {
    if (beyond > 0)
      *log << "WARNING: the monthly table of the " << kTableNames[which] << " in [snow_model], "
           << controlFile.LineText(lineNumber, ShownControlFile()) << ", " << RowBeyondText(12, beyond)
           << "; the months take the first 12, January to December" << "[end-entry]";
    for (int m = 1; m <= 12; ++m) table[m] = values[m - 1];
    table[0] = table[12];
    table[13] = table[1];
  } else if (count == 1) {
    table.fill(values[0]);  // a constant factor: every month takes it
    *log << "INFO: the monthly table of the " << kTableNames[which] << " in [snow_model], "
         << controlFile.LineText(lineNumber, ShownControlFile()) << ", holds one number, " << values[0]
         << ": every month takes it" << "[end-entry]";
  } else if (count > 0) {
    *log << "WARNING: the monthly table of the " << kTableNames[which] << " in [snow_model], "
         << controlFile.LineText(lineNumber, ShownControlFile()) << ", holds " << count
         << " of 12 numbers; every month takes the first, " << values[0] << "[end-entry]";
    table.fill(values[0]);
  } else {
    table.fill(0.0);
    monthlyMissing.push_back(which);
  }
}

void schneemodellklasse::ReadSection() {
  ReadControlValue(method, "method for ");
  ReadControlValue(transzone, "transzone for ");
  ReadControlValue(T0R, "T0R for ");
  ReadControlValue(T0, "T0 for ");
  ReadControlValue(CWH, "CWH for ");
  ReadControlValue(CRFR, "CRFR for ");
  ReadMonthlyTable(ddfTable, 0);
  ReadMonthlyTable(aTable, 1);
  ReadMonthlyTable(bTable, 2);
  ReadControlValue(z0, "z0 for ");
  ReadControlValue(RMFMIN, "RMFMIN for ");
  ReadControlValue(RMFMAX, "RMFMAX for ");
  ReadControlValue(ALBsnow_min, "ALBsnow_min for ");
  ReadControlValue(ALBsnow_max, "ALBsnow_max for ");
  ReadGridName(gridNames[kRainfall], "Name of the rain-grid for ", "Writegrid of rain-grid for ");
  ReadStat(statNames[sRainfall], "Name of the rain statistics for ");
  ReadGridName(gridNames[kSnowfall], "Name of the snow grid for ", "Writegrid of the snow grid for ");
  ReadStat(statNames[sSnowfall], "Name of the snow statistics for ");
  ReadGridName(gridNames[kDaysSnow], "Name of the snowdays grid for ", "Writegrid of the snowdays grid for ");
  ReadStat(statNames[sDaysSnow], "Name of the snowdays statistics for ");
  ReadGridName(gridNames[kSnowAge], "Name of the snow age grid for ", "Writegrid of the snow age grid for ");
  ReadStat(statNames[sSnowAge], "Name of the snow age statistics for ");
  ReadStat(statNames[sAlbedo], "name of the albedo statistics for ");
  ReadGridName(gridNames[kOutflow], "Name of the snow outflow grid for ", "Writegrid of the snow outflow grid for ");
  ReadStat(statNames[sOutflow], "Name of the snow outflow statistics for ");
  ReadGridName(gridNames[kMeltOnly], "Name of the snow melt only outflow grid for ",
               "Writegrid of the snow melt only outflow grid for ");
  ReadStat(statNames[sMeltOnly], "Name of the snow melt only outflow statistics for ");
  ReadGridName(gridNames[kSolid], "Name of the snow storage grids for ", "Writegrid of the snow storage grids for ");
  ReadGridName(gridNames[kLiquid], "Name of the liquid storage grids for ",
               "Writegrid of the liquid storage grids for ");
  ReadStat(statNames[sTotal], "Name of the total snow storage statistics for ");
  ReadGridName(gridNames[kTotal], "name of the total snow storage grid for ",
               "Writegrid of the total snow storage grid for ");
  ReadControlValue(readInitialGrids, "readgrid forr storage grids for ");
}

void schneemodellklasse::ReadSecondBlock() {
  // The first line is read whole: its first word names the snow temperature grid.
  std::string line;
  if (!controlFile.ReadLine(line)) line.clear();
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.size() < 3) {
    *log << "FATAL: cannot read additional parameters for snow model methods 5 to 11 from " << ShownControlFile()
         << "[end-entry]";
    throw 404;
  }
  TextCursor first(line);
  if (!first.ReadWord(gridNames[kSnowTemp].file)) {
    *log << "FATAL: cannot read additional parameters for snow model methods 5 to 11 from " << ShownControlFile()
         << "[end-entry]";
    throw 404;
  }
  ReadControlValue(gridNames[kSnowTemp].writeCode, "Writegrid of the snow pack temperature grid for ");
  ReadStat(statNames[sSnowTemp], "Name of the snow pack temperature statistics for ");
  ReadGridName(gridNames[kSurfTemp], "Name of the snow surface temperature grid for ",
               "Writegrid of the snow surface temperature grid for ");
  ReadStat(statNames[sSurfTemp], "Name of the snow surface temperature statistics for ");
  ReadGridName(gridNames[kInputMass], "Name of the input mass grid for ", "Writegrid of the input mass grid for ");
  ReadStat(statNames[sInputMass], "Name of the input mass statistics for ");
  ReadGridName(gridNames[kMobileMass], "Name of the mobile mass grid for ", "Writegrid of the mobile mass grid for ");
  ReadStat(statNames[sMobileMass], "Name of the mobile mass statistics for ");
  ReadGridName(gridNames[kDeposition], "Name of the deposition grid for ", "Writegrid of the deposition grid for ");
  ReadStat(statNames[sDeposition], "Name of the deposition statistics for ");

  auto bounded = [&](double value, bool ok, const char* message, int code) {
    if (!ok) {
      *log << "FATAL: " << message << value << "[end-entry]";
      throw code;
    }
  };
  ReadControlValue(maxDepositionSlope, "maximum slope for deposition for ");
  bounded(maxDepositionSlope, maxDepositionSlope >= 0.0 && maxDepositionSlope <= 90.0,
          "maxDepositionSlope not within parameter bounds of [0...90] Here: ", 405);
  ReadControlValue(maxDepositionFactor, "maximum deposition factor for ");
  bounded(maxDepositionFactor, maxDepositionFactor > 0.0,
          "maxDepositionFactor not within parameter bounds of (0...inf). Here: ", 406);
  ReadControlValue(minSlideSlope, "minimum slope for slides for ");
  bounded(minSlideSlope, minSlideSlope >= 0.0 && minSlideSlope <= 90.0,
          "minSlideSlope not within parameter bounds of [0...90]. Here: ", 407);
  ReadControlValue(slideMassFrac, "slide mass fraction for ");
  bounded(slideMassFrac, slideMassFrac > 0.0 && slideMassFrac <= 1.0,
          "slideMassFrac not within parameter bounds of (0...1.0]. Here: ", 408);
  ReadControlValue(LWINcorr, "incoming long wave radiation correction factor for ");
  bounded(LWINcorr, LWINcorr > 0.0 && LWINcorr <= 3.0,
          "incoming long wave radiation correction factor LWINcorr not within parameter bounds of (0...3.0]. Here: ",
          408);
  ReadControlValue(LWOUTcorr, "outgoing long wave radiation correction factor for ");
  bounded(LWOUTcorr, LWOUTcorr > 0.0 && LWOUTcorr <= 3.0,
          "outgoing long wave radiation correction factor LWOUTcorr not within parameter bounds of (0...3.0]. Here: ",
          408);
  // Optional: the scaling of the energy balance.
  const size_t before = controlFile.Pos();
  double scaling = 1.0;
  if (controlFile.ReadDouble(scaling)) {
    EnBalScaling = scaling;
  } else {
    controlFile.Seek(before);
    *log << "WARNING: \n------------- warning: -------------\n"
         << "Could not read the optional parameter EnBalScaling (double),\n"
         << "for snow melt methods with energy baöance that will be used for scaling the energy balance (i.e. affect "
            "melt rates)\n"
         << "Setting default values of 1.0" << "[end-entry]";
    EnBalScaling = 1.0;
  }
  controlFile.RestOfLine();
}

void schneemodellklasse::CheckSectionValues() {
  const char* const section = "[snow_model]";
  auto atLeastZero = [&](const std::string& key, double v) {
    if (!(v >= 0.0)) RefuseValue(*this, section, key, v, "it must be 0 or more", 17);
  };
  atLeastZero("transzone", transzone);
  WarnIf(transzone > 10.0, *this, section, "transzone", transzone, "K: rain and snow would mix over more than 20 K");
  for (const auto& t : {std::make_pair("T0R", T0R), std::make_pair("T0", T0)}) {
    RequireWithin(*this, section, t.first, t.second, -273.15, 1000.0, 17);
    WarnIf(std::fabs(t.second) > 10.0, *this, section, t.first, t.second, "degrees Celsius: far from 0");
  }
  RequireWithin(*this, section, "CWH", CWH, 0.0, 1.0, 17);
  WarnIf(CWH > 0.5, *this, section, "CWH", CWH, "the pack would hold more than half its snow as liquid water");
  atLeastZero("CRFR", CRFR);
  for (int t = 0; t < 3; ++t) {
    if (!UsesMonthlyTable(method, t)) continue;
    const std::array<double, 14>& table = t == 0 ? ddfTable : t == 1 ? aTable : bTable;
    for (int m = 1; m <= 12; ++m) {
      const std::string key = std::string("the ") + kTableNames[t] + " of month " + std::to_string(m);
      atLeastZero(key, table[m]);
      WarnIf(table[m] > 20.0, *this, section, key, table[m], "far above the usual 1 .. 10 mm/(degree C day)");
    }
  }
  atLeastZero("z0", z0);
  atLeastZero("RMFMIN", RMFMIN);
  atLeastZero("RMFMAX", RMFMAX);
  WarnIf(RMFMIN > RMFMAX, *this, section, "RMFMIN", RMFMIN, "above RMFMAX: the seasonal melt factor turns over");
  RequireWithin(*this, section, "ALBsnow_min", ALBsnow_min, 0.0, 1.0, 17);
  RequireWithin(*this, section, "ALBsnow_max", ALBsnow_max, 0.0, 1.0, 17);
  WarnIf(ALBsnow_min > ALBsnow_max, *this, section, "ALBsnow_min", ALBsnow_min,
         "above ALBsnow_max: old snow would be brighter than fresh snow");
  if (method > 4) {
    atLeastZero("EnBalScaling", EnBalScaling);
    WarnIf(EnBalScaling == 0.0, *this, section, "EnBalScaling", EnBalScaling, "so that no energy melts snow");
  }
}

// --- statistics files ---------------------------------------------------------------------

std::unique_ptr<zonalstatistic> schneemodellklasse::MakeWriter(const StatName& s, int decimals,
                                                               const std::string& title, const ModuleInputs& in,
                                                               bool perSubbasin, std::vector<ZoneTableEntry>& zones) {
  const int count = perSubbasin ? subbasinCount : zoneCount;
  zones.assign(static_cast<size_t>(count) + 1, ZoneTableEntry{});
  for (int z = 0; z <= count; ++z) {
    const ZoneTableEntry* from = perSubbasin ? (static_cast<size_t>(z) < subbasinTable.size() ? &subbasinTable[z] : nullptr)
                                             : (zoneTable ? &zoneTable[z] : nullptr);
    if (!from) continue;
    zones[z].code = from->code;
    zones[z].fraction = from->fraction;
    zones[z].areaSum2 = from->areaSum2;
  }
  int writerError = 0;
  auto w = std::make_unique<zonalstatistic>(
      &writerError, log, in.statisticsTable, in.statisticsSize, relCellArea, geometry.nrows, geometry.ncols,
      zones.data(), count, s.code, decimals, s.file, outputDirectory.empty() ? nullptr : outputDirectory.c_str(),
      outputListCount, outputList, timeInterval < 60.0);
  if (writerError != 0) throw writerError;
  w->WriteHeader(title, name, in.statisticsTable, in.statisticsSize);
  return w;
}

void schneemodellklasse::MakeStatistic(Stat s, int decimals, const std::string& title, const ModuleInputs& in) {
  statistics[s] = MakeWriter(statNames[s], decimals, title, in, false, statisticsZones[s]);
}

void schneemodellklasse::CreateStatistics(const ModuleInputs& in) {
  MakeStatistic(sOutflow, 4, "snow_melt_(effective_outflow_from_snow_cover)___", in);
  MakeStatistic(sMeltOnly, 4, "snow_melt_only(effective_outflow_from_snow_cover)___", in);
  MakeStatistic(sTotal, 3, "snow_storage_in_mm___", in);
  MakeStatistic(sDaysSnow, 3, "snow_days____", in);
  MakeStatistic(sSnowAge, 3, "snow_age____", in);
  MakeStatistic(sSnowfall, 3, "p_snow____", in);
  MakeStatistic(sRainfall, 3, "p_rain____", in);
  MakeStatistic(sAlbedo, 3, "albedo____", in);
  if (snow::IsEnergyBalance(method)) {
    MakeStatistic(sSnowTemp, 3, "snowtemp____", in);
    MakeStatistic(sSurfTemp, 3, "surftemp____", in);
  }
  if (snow::HasSlides(method)) {
    MakeStatistic(sInputMass, 3, "input_mass____", in);
    MakeStatistic(sMobileMass, 3, "mobile_mass____", in);
    MakeStatistic(sDeposition, 3, "deposition____", in);
  }
}

// --- grids of other modules -------------------------------------------------------------------

void schneemodellklasse::LookUpGrids() {
  albedo = grids[RequireGrid("albedo")].data;
  snowEvaporation = Registered("snow_evaporation");
  int layers = 1;
  while (FindGrid("landuse" + std::to_string(layers + 1)) > 0) ++layers;
  landuseLayers.assign(static_cast<size_t>(layers) + 1, nullptr);
  for (int k = 1; k <= layers; ++k) landuseLayers[k] = grids[RequireGrid("landuse" + std::to_string(k))].data;

  elevation = Registered("[elevation_model]");
  if (method == 4) vapourPressure = grids[RequireGrid("vapor_pressure")].data;
  if (timeInterval > 720.0) temperatureNight = grids[RequireGrid("temperature_night")].data;
  if (snow::HasSlides(method)) {
    for (int k = 1; k <= 4; ++k) slideFraction[k] = grids[RequireGrid("slidefraction" + std::to_string(k))].data;
    slopeAngle = grids[RequireGrid("slope_angle")].data;
    if (!elevation) elevation = grids[RequireGrid("[elevation_model]")].data;
  }
  if (snow::UsesDepositionIndex(method)) depositionIndex = grids[RequireGrid("deposition_index")].data;
  if (snow::IsEnergyBalance(method)) {
    cloudiness = grids[RequireGrid("cloudiness")].data;
    surfaceTemperature = Registered("surfacetemperature");
  }
}

// --- grids of the module ----------------------------------------------------------------------

void schneemodellklasse::UseOrCreateGrid(Grid g, const std::string& internalName, double initial, bool readable,
                                         double readDefault, int readFlag, int fill) {
  if (readable || g == kEnergyBalance || g == kMaxDeposition) {
    if (const int p = FindGrid(internalName)) {
      gridPosition[g] = p;
      grid[g] = grids[p].data;
      gridOwned[g] = false;
      return;
    }
  }
  const int p = FirstFreeGridPosition();
  if (p == 0) {
    *log << "FATAL: no free grid left. Please contact the author to set the number of available grids to a larger "
            "number "
         << 1000 << "[end-entry]";
    throw 12;
  }
  double** data = nullptr;
  bool readNow = false;
  const double nodata = geometry.nodata_value;
  double** reference = grids[1].data;
  if (readable && (readFlag < 0 ? readInitialGrids : readFlag) == 1) {
    const ReadFlagScope asked(*this, readFlag < 0 ? "[" + name + "], read flag readgrids = 1"
                                                  : "[" + name + "], the read flag of " + gridNames[g].file + " = 1");
    // The snow cover's states hold a value in every basin cell; a glacier's (read by their
    // own flag) are left to the glacier rule.
    const EveryBasinCellScope everyCell(*this, readFlag < 0);
    ReadBasinGrid(gridNames[g].file, data, fill, true, true, false, readDefault);
    readNow = true;
  } else {
    if (readable)
      NoteStateGridNotRead(MakePath(output.inputDirectory, gridNames[g].file),
                           readFlag < 0 ? "the snow model: readgrids 1 of [" + name + "]"
                                        : "the snow model: the read flag 1 of " + gridNames[g].file + " in [" + name + "]");
    data = matrix(1, geometry.nrows, 1, geometry.ncols);
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        data[r][c] = (reference && reference[r][c] == nodata) ? nodata : initial;
  }
  RegisterGrid(p, gridNames[g].file, data, nullptr, 0, internalName, gridNames[g].writeCode, firstModuleRow,
               lastModuleRow);
  gridPosition[g] = p;
  grid[g] = data;
  gridOwned[g] = true;
  HoldStateRange(data, StateRangeOf(g));
  if (readNow) RefuseImpossibleCells(data, gridNames[g].file, internalName, StateRangeOf(g));
}

StateRange schneemodellklasse::StateRangeOf(Grid g) {
  switch (g) {
    case kSolid: case kLiquid: case kTotal: case kSolidOnGlacier: case kLiquidOnGlacier: case kTotalOnGlacier:
      return StateRange::Storage();
    case kDaysSnow: case kSnowAge: case kSnowFreeDays: case kSnowCoverDays:
      return StateRange::Days();
    case kSnowTemp: case kSurfTemp: case kSnowTempOnGlacier: case kSurfTempOnGlacier:
      return StateRange::AtLeast(0.0, "0 K", "a temperature in kelvin is 0 or more");
    default:
      return StateRange::Finite();  // the mass balances gain or lose
  }
}

void schneemodellklasse::CreateGrids() {
  UseOrCreateGrid(kSolid, "snowstorage_solid", 0.0, true, 0.0);
  UseOrCreateGrid(kLiquid, "snowstorage_liquid", 0.0, true, 0.0);
  UseOrCreateGrid(kTotal, "snow_storage_total", 0.0, true, 0.0);
  UseOrCreateGrid(kDaysSnow, "days_snow", 0.0, true, 0.0);
  UseOrCreateGrid(kSnowAge, "snow_age", 0.0, true, 0.0);
  UseOrCreateGrid(kSnowfall, "snow_fraction", 0.0, false, 0.0);
  UseOrCreateGrid(kRainfall, "rain_fraction", 0.0, false, 0.0);
  UseOrCreateGrid(kOutflow, "snowcover_outflow", 0.0, false, 0.0);
  UseOrCreateGrid(kMeltOnly, "melt_from_snowcover", 0.0, false, 0.0);
  snowStorageSolid = grid[kSolid];
  if (snow::IsEnergyBalance(method)) {
    UseOrCreateGrid(kSnowTemp, "snowtemp", 0.0, true, snow::kMeltingPoint);
    UseOrCreateGrid(kSurfTemp, "surftemp", 0.0, true, snow::kMeltingPoint);
    gridNames[kEnergyBalance].file = "EnergyBalance";
    UseOrCreateGrid(kEnergyBalance, "EnergyBalance", 0.0, false, 0.0);
  }
  if (snow::HasSlides(method)) {
    UseOrCreateGrid(kInputMass, "input_mass", 0.0, false, 0.0);
    UseOrCreateGrid(kMobileMass, "mobile_mass", 0.0, false, 0.0);
    UseOrCreateGrid(kDeposition, "deposition", 0.0, false, 0.0);
    UseOrCreateGrid(kMaxDeposition, "max_deposition", 0.0, false, 0.0);
    if (gridOwned[kMaxDeposition]) {
      double** reference = grids[1].data;
      for (int r = 1; r <= geometry.nrows; ++r)
        for (int c = 1; c <= geometry.ncols; ++c)
          if (reference[r][c] != geometry.nodata_value)
            grid[kMaxDeposition][r][c] =
                SnowDepositionLimit(slopeAngle[r][c], maxDepositionSlope, maxDepositionFactor);
    }
    UseOrCreateGrid(kElevOrderRow, "elev_order_row", 0.0, false, 0.0);
    UseOrCreateGrid(kElevOrderCol, "elev_order_col", 0.0, false, 0.0);
    SnowElevationOrder(grids[1].data, elevation, geometry, grid[kElevOrderRow], grid[kElevOrderCol]);
  }
}
