#include "meteo/meteoint.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "framework/build_info.h"
#include "framework/file_reason.h"
#include "grids/grid_registry.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "grids/grid_path.h"
#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr double kDegreesToRadians = 0.017453292519944444;

const char* const kMethodLabel =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic spline] 8 [SPLINERES] "
    "9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station data] 12 [Thiessen combines with "
    "elevation gradient] for ";

bool HasStationFiles(int m) { return m == 1 || (m >= 3 && m <= 8) || (m >= 10 && m <= 12); }

}  // namespace

const char* InterpolationMethodName(int m) {
  static const char* const kNames[] = {"",
                                       "idw",
                                       "regress",
                                       "idw+regr",
                                       "thiessen",
                                       "bilinear",
                                       "BIGRES",
                                       "bicubic spline",
                                       "SPLINERES",
                                       "ReadGrid",
                                       "EDR from station data",
                                       "IDW + EDR from station data",
                                       "Thiessen combines with elevation gradient"};
  return m >= 1 && m <= 12 ? kNames[m] : "unknown";
}

meteointerpol::meteointerpol(const ModuleInputs& in, const std::string& interpolatorName, int resultPos,
                             int opt)
    : modelobject(in.log, in.controlFileName, in.output), option(opt) {
  name = interpolatorName;
  try {
    Construct(in, resultPos);
  } catch (int) {
    Release();
    throw;
  } catch (...) {
    Release();
    throw 103;
  }
}

meteointerpol::meteointerpol(int& error, const ModuleInputs& in, const std::string& interpolatorName,
                             int resultPos, int opt)
    : modelobject(in.log, in.controlFileName, in.output), option(opt) {
  error = 0;
  name = interpolatorName;
  try {
    Construct(in, resultPos);
  } catch (int code) {
    error = code;
    Release();
    throw;
  } catch (...) {
    error = 103;
    Release();
    throw 103;
  }
}

meteointerpol::meteointerpol(const ModuleInputs& in, const std::string& interpolatorName, ModelDate startDate,
                             double stepMinutes)
    : modelobject(in.log, in.controlFileName, in.output) {
  name = interpolatorName;
  geometry = in.geometry;
  grids = in.grids;
  start = current = startDate;
  timeStepMinutes = stepMinutes;
  SetEndDate(in.end.year, in.end.month, in.end.day, in.end.hour, in.end.minute);
  stationFiles.resize(2);
}

meteointerpol::~meteointerpol() { Release(); }

void meteointerpol::SetRecordStep(int minutes, const std::string& source) {
  for (StationFile& f : stationFiles) {
    f.stepMinutes = minutes;
    f.stepSource = source;
  }
  if (minutes < 1) return;
  timeStepMinutes = minutes;
  if (interpolationMethod == 2 || interpolationMethod == 3) RefuseRegressionFilesBelowAnHour();
}

void meteointerpol::Fatal(const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

double** meteointerpol::GridData(int position) const {
  return position > 0 ? grids[position].data : nullptr;
}

void meteointerpol::Construct(const ModuleInputs& in, int resultPos) {
  if (log) {
    *log << "file meteoint, compiled at " << BuildDate() << ", " << BuildTime() << "[end-entry]";
    *log << "DEBUG: initializing interpolator for " << name << "[end-entry]";
  }
  geometry = in.geometry;
  grids = in.grids;
  reportInterval = in.reportInterval;
  resultPosition = resultPos;
  // Until the records tell, the step is the timestep key's, else an hour or longer.
  timeStepMinutes = in.output.timeStepMinutes >= 1.0 ? in.output.timeStepMinutes : 60.0;
  start = in.start;
  firstRow = in.firstRow;
  lastRow = in.lastRow >= in.firstRow ? in.lastRow : geometry.nrows;
  if (in.rowBounds) bounds = *in.rowBounds;
  SetEndDate(in.end.year, in.end.month, in.end.day, in.end.hour, in.end.minute);
  hruMode = in.output.hruMode != 0;

  if (int p = FindGrid("MPIRegions")) mpiRegions = GridData(p);
  if (hruMode) {
    hruGrid = GridData(RequireGrid("HydrologicResponseUnits"));
    masterHruGrid = GridData(RequireGrid("MasterHydrologicResponseUnits"));
  }
  const int relPos = FindGrid("RelCellArea");
  if (relPos == 0)
    Fatal("\n-----------------------------------------------------------\nOrvel-KTA no longer works without a "
          "RelCellArea-Grid.\nIf this message appears, then something is wrong with the code,\nso please contact "
          "the author.\n-----------------------------------------------------------\n\n",
          74);
  relCellArea = GridData(relPos);
  coordX = GridData(RequireGrid("CoordX"));
  coordY = GridData(RequireGrid("CoordY"));
  zoneGrid = GridData(1);

  stationFiles.resize(2);
  xmin = geometry.xllcorner;
  xmax = geometry.xllcorner + geometry.cellsize * (geometry.ncols + 1);
  ymin = geometry.yllcorner;
  ymax = geometry.yllcorner + geometry.cellsize * (geometry.nrows + 1);
  ReadControlSection();

  // The result grid, registered under the variable's name.
  result = matrix(1, geometry.nrows, 1, geometry.ncols);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) result[r][c] = geometry.nodata_value;
  RegisterGrid(resultPosition, resultGridName, result, nullptr, 0, name, writeCode, 1, geometry.nrows);

  if (interpolationMethod == 0 || interpolationMethod > 12 || interpolationMethod < 0)
    Fatal("error! interpolation method has to range from 1..12 (here: " + std::to_string(interpolationMethod) + ")\n", 53);
  if (szenUse == 1 && (szenMeth == 5 || szenMeth == 6)) LoadScenarioGrid(start.month);

  const int64_t marker = -static_cast<int64_t>(integerNodata) - 1;
  const ModelDate missingDate{marker, marker, marker, marker, marker};
  for (StationFile& f : stationFiles) f.recordDate = missingDate;
  current = missingDate;
  current.minute = 0;

  if (HasStationFiles(interpolationMethod)) {
    for (int i = 0; i < stationFileCount; ++i) {
      StationFile& f = stationFiles[i];
      AnalyzeStationFile(*log, name, nodataN, f);
      if (i == 1) CheckSecondStationFile();
      FindStartDate(*log, name, nodataN, start, f);
    }
    // On its own the interpolator holds its files to the step of its first file's records
    // from the start on; the application gives every interpolator the step of the run.
    stepRecords = ReadStepRecords(*log, stationFiles[0], endDateKey);
    const double step = stepRecords.StepMinutes();
    if (step >= 1.0 && step <= kMaxRecordStepMinutes)
      SetRecordStep(static_cast<int>(step), RecordStepSource(stationFiles[0].fileName));
    DetectStationGridOrientation();
    anisotropySlope *= kDegreesToRadians;
    CreateRotatedCoordinates();
    SetAnisotropy();
    ComputeStationDistances();
    if (interpolationMethod == 5 || interpolationMethod == 6) ChooseLookupStations(stationFileCount);
    if (interpolationMethod == 7 || interpolationMethod == 8) StationsToGrid(0);
    current = stationFiles[0].recordDate;
  }
  if (interpolationMethod == 2 || interpolationMethod == 3) OpenRegressionInput();
  if (interpolationMethod == 9) {
    StationFile& f = stationFiles[0];
    AnalyzeStationFile(*log, name, nodataN, f);
    FindStartDateGridList();
    stepRecords = ReadStepRecords(*log, f, endDateKey);
    DeclareListedGrids("[" + name.substr(0, name.find(' ')) + "] ");
    if (f.count > 0) SetPosition(0, f.x[1], f.y[1], f.altitude[1]);
    f.equalValues = false;
    current = listDate;
  }
  if (interpolationMethod == 2 || interpolationMethod == 3 || interpolationMethod == 6 || interpolationMethod == 8 ||
      interpolationMethod >= 10) {
    elevationGrid = GridData(2);
    if (!elevationGrid)
      Fatal("interpolation method " + std::to_string(interpolationMethod) + " of " + name +
                " needs the elevation model (grid 2), which is not there",
            17);
  }
  if (interpolationMethod == 10 || interpolationMethod == 11) ComputeStationRegression(0);
  gradient.g1 = lapseRate;
  gradient.inversionHeight = fixedUpperLapseRate > -9998.0 ? inversionHeight : -9999.0;
  gradient.g2 = fixedUpperLapseRate > -9998.0 ? fixedUpperLapseRate : -9999.0;
  gradient.pType = pTypeFlag;
  endFlag = false;
  BuildDescription();
  CreateStatistics(in);
  if (int p = FindGrid("ScalingGrid_" + name)) scalingGrid = GridData(p);
  idw = MakeIdwSettings(idwWeight, maxDistance);
  if (interpolationMethod == 1 || interpolationMethod == 3) WarnOfStationsOutOfReach();
}

void meteointerpol::WarnOfStationsOutOfReach() {
  // With cells in other instances, a station may reach theirs.
  if (!log || instanceCount > 1 || stationFiles.empty() || !coordX || !zoneGrid) return;
  CellLoop loop;
  FillCellLoop(loop);
  const std::vector<double> nearest = StationsOutOfReach(loop);
  const StationFile& f = stationFiles[0];
  std::ostringstream list;
  int count = 0;
  for (int i = 1; i <= f.count && i < static_cast<int>(nearest.size()); ++i) {
    if (!(nearest[static_cast<size_t>(i)] > 0.0)) continue;
    list << (count++ ? "; " : "") << "station " << i << " (X " << FormatText("%.10g", f.x[i]) << ", Y "
         << FormatText("%.10g", f.y[i]) << ": "
         << FormatText("%.10g", std::round(nearest[static_cast<size_t>(i)] * 10.0) / 10.0) << " from the nearest cell)";
  }
  if (count == 0) return;
  *log << "WARNING: [" << name.substr(0, name.find(' ')) << "]: " << list.str() << " of " << f.fileName
       << (count == 1 ? " lies" : " lie") << " beyond the maximum distance of " << FormatText("%.10g", maxDistance)
       << " (in the unit of the coordinates) of every cell the section interpolates, so "
       << (count == 1 ? "its values are" : "their values are") << " never used. Are the X and Y (lines 3 and 4 of "
       << f.fileName << ") in the grid's coordinates?" << "[end-entry]";
}

std::string meteointerpol::MissingSectionNote(const std::string& key) {
  std::vector<std::string> other;
  controlFile.Rewind();
  std::string word;
  while (other.empty() && controlFile.ReadWord(word)) {
    controlFile.RestOfLine();
    if (word != key && SameLetters(word, key)) other.push_back(word.substr(1, word.size() - 2));
  }
  const std::string note = MeteoNamesNote(grids, other);
  return other.empty() ? note : "the control file has [" + other[0] + "]" + (note.empty() ? "" : "; " + note);
}

void meteointerpol::ReadControlSection() {
  if (!OpenControlFile(controlFileName)) Fatal("error opening " + controlFileName + FileOpenReason(controlFileName, false, 0), 28);
  const std::string section = name.substr(0, name.find(' '));
  ReadMethod(section);
  ReadStationLines();
  ReadMethodParameters();
  ReadResultSettings();
  ReadScenarioSettings();
  CloseControlFile();
  DeclareInputFiles(section);
}

void meteointerpol::ReadMethod(const std::string& section) {
  if (!SeekControlKey("[" + section + "]", false))
    ControlFileKeyError("[" + section + "]", "(EOF)", MissingSectionNote("[" + section + "]"));
  ReadControlValue(interpolationMethod, kMethodLabel + name);
  // Checked before the rest of the section is read: its lines depend on the method.
  if (interpolationMethod < 1 || interpolationMethod > 12)
    Fatal("error! interpolation method has to range from 1..12 (here: " + std::to_string(interpolationMethod) +
              "), section [" + section + "] of control file " + ShownControlFile(),
          53);
  stationFileCount = (interpolationMethod == 6 || interpolationMethod == 8) ? 2 : 1;
}

void meteointerpol::ReadStationLines() {
  for (int i = 0; i < stationFileCount; ++i) {
    controlFile.SkipBlanks();
    std::string line = controlFile.AtEnd() ? std::string() : controlFile.RestOfLine();
    TextCursor c(line);
    std::string first;
    if (!c.ReadWord(first))
      Fatal("error reading station data file name nr. " + std::to_string(i) + " for interpolation of " + name, 49);
    StationFile& f = stationFiles[i];
    f.fileName = first;
    f.fileLine = line;
    StationLineOptions o = ParseStationLineOptions(line);
    f.additionalColumns = o.additionalColumns;
    if (o.additionalColumns < 0)
      Fatal("negative AdditionalColumns= in the station file line of " + name + ": " + line, 49);
    if (o.hasXmin) xmin = o.xmin;
    if (o.hasXmax) xmax = o.xmax;
    if (o.hasYmin) ymin = o.ymin;
    if (o.hasYmax) ymax = o.ymax;
  }
}

TextCursor meteointerpol::NextParameterRow() {
  controlFile.SkipBlanks();
  TextCursor c(controlFile.RestOfLine());
  c.RequireWholeNumbers();
  return c;
}

void meteointerpol::ReadMethodParameters() {
  if (interpolationMethod >= 1 && interpolationMethod <= 8)
    ReadControlValue(regressionFileName, "name of the regression file in " + name);
  else if (interpolationMethod == 9)
    ReadGifMapping();
  else if (interpolationMethod == 10 || interpolationMethod == 11)
    ReadElevationRegressionRow();
  else if (interpolationMethod == 12)
    ReadElevationGradientRow();
}

void meteointerpol::ReadGifMapping() {
  TextCursor c = NextParameterRow();
  double f1, x1, f2, x2;
  int threshold;
  if (!(c.ReadDouble(f1) && c.ReadDouble(x1) && c.ReadInt(threshold) && c.ReadDouble(f2) && c.ReadDouble(x2)))
    Fatal("error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), x1 (0.0767528404), "
          "threshold (127), f2 (default=6.00e-006), x2 (0.098) for interpolation of " + name,
          49);
  gifOffset1 = f1;
  gifScale1 = x1;
  gifThreshold = threshold;
  gifOffset2 = f2;
  gifScale2 = x2;
}

void meteointerpol::ReadElevationRegressionRow() {
  TextCursor c = NextParameterRow();
  int got = 0;
  got += c.ReadDouble(lowerInversion);
  got += got == 1 && c.ReadDouble(upperInversion);
  got += got == 2 && c.ReadDouble(tolerance);
  got += got == 3 && c.ReadInt(overlap);
  got += got == 4 && c.ReadDouble(clusterRange);
  got += got == 5 && c.ReadDouble(upperLapseRate);
  if (got == 5) upperLapseRate = -9999.0;
  if (got < 5)
    Fatal("error reading the required 5 or 6 regression parameters <lower inversion> <upper inversion> "
          "<tolerance> <overlap> <clusterrange> [<lapse rate above upper inversion>] for interpolation of " + name,
          49);
}

bool meteointerpol::ReadRowValue(TextCursor& c, double& value, const char* unit) {
  if (!c.ReadDouble(value)) return false;
  // A unit behind the value: the value's own is passed over, one of another scale or kind
  // would change the value without a word; any other word is a remark.
  const std::string word = WordBehindValue(c.Text(), c.Pos());
  if (word.empty()) return true;
  const std::string mismatch = UnitMismatch(word, unit, value);
  if (!mismatch.empty())
    Fatal("in the parameter row of " + name + " \"" + c.Text() + "\": " + mismatch, 49);
  std::string taken;
  if (IsSameUnit(word, unit)) c.ReadRowWord(taken);
  return true;
}

void meteointerpol::ReadElevationGradientRow() {
  TextCursor c = NextParameterRow();
  int got = 0;
  got += ReadRowValue(c, lapseRate, "K/m");
  got += got == 1 && ReadRowValue(c, inversionHeight, "m");
  got += got == 2 && ReadRowValue(c, fixedUpperLapseRate, "K/m");
  std::string token;
  if (got == 3 && c.ReadRowWord(token)) pTypeFlag = token.find("P-type") != std::string::npos ? 1 : 0;
  if (got == 1) inversionHeight = fixedUpperLapseRate = -9999.0;
  if (got == 0 || got == 2)
    Fatal("error reading the required parameter \"lapse rate\" and/or optional parameters inversion_hight and fix "
          "upper lapse rate for interpolation of " + name,
          49);
}

void meteointerpol::ReadResultSettings() {
  ReadControlValue(resultGridName, "name of the result grid in " + name);
  ReadControlValue(writeCode, "grid write code for result grid in " + name);
  ReadControlValue(scalingFactor, "scaling factor for " + name);
  {
    const std::string label = "name of the statistic result file in " + name;
    if (!controlFile.ReadWord(statisticFileName) || !controlFile.ReadInt(statisticCode))
      ControlFileKeyError(label, name);
    restOfLine = controlFile.RestOfLine();
  }
  ReadControlValue(nodataN, "nodata value in " + name);
  if (!(std::fabs(nodataN) < 2e9)) Fatal("the nodata value of " + name + " has to be a number below 2e9", 49);
  integerNodata = static_cast<int>(nodataN);
  ReadControlValue(idwWeight, "idw-weight in " + name);
  ReadControlValue(idwFraction, "fraction of idw on weighted interpolation (method 3)");
  ReadControlValue(maxDistance, "maximum distance in " + name);
  ReadControlValue(anisotropySlope, "slope of the main axis of the anisotropy ellipse in " + name);
  ReadControlValue(anisotropyRatio, "anisotropy b/a in " + name);
  ReadControlValue(post.lower, "lower limit of results in " + name);
  ReadControlValue(post.lowerReplacement, "lower replacement for limit-exceeding results in " + name);
  ReadControlValue(post.upper, "upper limit of results in " + name);
  ReadControlValue(post.upperReplacement, "upper replacement for limit-exceeding results in " + name);
  post.scale = scalingFactor;
}

void meteointerpol::DeclareInputFiles(const std::string& section) {
  RunFiles& files = RunFiles::Current();
  if (!files.Building()) return;
  const std::string entry = "[" + section + "] ";
  for (int i = 0; i < stationFileCount; ++i)
    files.Read(entry + (interpolationMethod == 9 ? "grid list" : "station file"), stationFiles[i].fileName);
  if (interpolationMethod == 2 || interpolationMethod == 3) files.Read(entry + "regression file", regressionFileName);
  for (size_t m = 0; m < scenarioFiles.size(); ++m)
    files.Read(entry + "scenario grid of month " + std::to_string(m + 1),
               MakePath(output.inputDirectory, scenarioFiles[m]));
}

void meteointerpol::ReadScenarioSettings() {
  ReadControlValue(szenUse, "SzenUse in " + name);
  post.szenUse = szenUse;
  if (szenUse != 1) return;
  ReadControlValue(szenMeth, "SzenMeth in " + name);
  post.szenMeth = szenMeth;
  if (szenMeth == 5 || szenMeth == 6) {
    scenarioFiles.resize(12);
    for (int m = 1; m <= 12; ++m) {
      if (!controlFile.ReadWord(scenarioFiles[m - 1]))
        Fatal("error in control file: scenario grid for month " + std::to_string(m) + " in " + name +
                  " not found!\nThere have to be exactly 12 filenames after the sceario application mode\nreferring "
                  "to each of the 12 months if using scenario method 5 or 6.\nHowever, if methods 0..4 are used, NO "
                  "FILENAMES are allowed there\n (for backwards compatibility reasons)",
              17);
      controlFile.RestOfLine();
    }
    return;
  }
  ReadControlValue(szenNum, "SzenNum in " + name);
  if (szenNum < 0 || szenNum > 100000) Fatal("SzenNum in " + name + " has to range from 0 to 100000", 48);
  ScenarioStations& s = scenarioStations;
  s.count = szenNum;
  s.x.assign(szenNum + 1, 0.0);
  s.y.assign(szenNum + 1, 0.0);
  s.month.assign(szenNum + 1, {});
  s.dayValue.assign(szenNum + 1, 0.0);
  for (int r = 1; r <= szenNum; ++r) {
    for (int c = 1; c <= 14; ++c) {
      double v;
      if (!controlFile.ReadDouble(v)) {
        // A word that begins like a number ("2,5", ",,") is named with its line.
        const std::string word = controlFile.NumberJustRefused();
        Fatal("error! scenario-data row " + std::to_string(r) + ", column " + std::to_string(c) + " in " + name +
                  ": read error!" +
                  (word.empty() ? std::string()
                                : " " + NoNumberText(word, " on " + controlFile.LineText(ShownControlFile()) +
                                                                      " is not a finite number")),
              48);
      }
      if (c == 1)
        s.x[r] = v;
      else if (c == 2)
        s.y[r] = v;
      else
        s.month[r][c - 2] = szenMeth == 3 ? v / 100.0 + 1.0 : v;
    }
    controlFile.RestOfLine();
  }
}

void meteointerpol::BuildDescription() {
  const StationFile& f0 = stationFiles[0];
  const std::string zones = grids && grids[1].fileName.size() ? grids[1].fileName : std::string();
  const char* ctl = controlFileName.c_str();
  switch (interpolationMethod) {
    case 1:
      description = FormatText(
          "%s interpolated with idw from %s, zones from %s, weighting = %4.1f,  maxentf = %8.0f, control file %s, "
          "additional columns: %d",
          name.c_str(), f0.fileName.c_str(), zones.c_str(), idwWeight, maxDistance, ctl, f0.additionalColumns);
      break;
    case 4:
      description = FormatText("%s interpolated with Thiessen from %s, zones from %s, control file %s, additional columns: %d",
                           name.c_str(), f0.fileName.c_str(), zones.c_str(), ctl, f0.additionalColumns);
      break;
    case 9:
      description = FormatText(
          "%s read in from grids containing already interpolated data (%s, add. col.: %d) zones from %s, control file "
          "%s",
          name.c_str(), f0.fileName.c_str(), f0.additionalColumns, zones.c_str(), ctl);
      break;
    case 2:
      description = FormatText("%s interpolated with regression from %s %s,", name.c_str(),
                           regressionFile.fileName.c_str(), regressionFile.textForm ? "(text)" : "(binary)") +
                    FormatText("%s zones from %s, control file: %s", "", zones.c_str(), ctl);
      break;
    case 3:
      description = FormatText(
          "%s interpolated with idw+regression from %s, zones from %s,weighting = %4.1f, fraction distance: = %4.1f "
          "max distance = %8.0f, control file %s, additional columns: %d",
          name.c_str(), f0.fileName.c_str(), zones.c_str(), idwWeight, idwFraction, maxDistance, ctl,
          f0.additionalColumns);
      break;
    case 5:
      description = FormatText("%s interpolated with bilinear interpolation from %s, zones from %s, control file %s, "
                           "additional columns: %d",
                           name.c_str(), f0.fileName.c_str(), zones.c_str(), ctl, f0.additionalColumns);
      break;
    case 6:
    case 8: {
      const StationFile& f1 = stationFiles[1];
      description = FormatText(interpolationMethod == 6
                               ? "%s interpolated with bilinear interpolation of gradients (%s, add. col.: %d) and "
                                 "residuals (%s, add. col.: %d), linearly combined, zones from %s, control file %s"
                               : "%s interpolated with bicubic spline interpolation of gradients (%s, add. col.: %d) "
                                 "and residuals (%s, add. col.: %d), linearly combined, zones from %s, control file %s",
                           name.c_str(), f0.fileName.c_str(), f0.additionalColumns, f1.fileName.c_str(),
                           f1.additionalColumns, zones.c_str(), ctl);
      break;
    }
    case 7:
      description = FormatText("%s interpolated with bicubic spline interpolation (%s, add. col.: %d), zones from %s, "
                           "control file %s",
                           name.c_str(), f0.fileName.c_str(), f0.additionalColumns, zones.c_str(), ctl);
      break;
    case 10:
      description = FormatText("%s interpolated with elevation dependent regression for values taken from %s, control "
                           "file %s",
                           name.c_str(), f0.fileName.c_str(), ctl);
      break;
    case 11:
      description = FormatText("%s interpolated with elevation dependent regression + idw, all values taken from %s, "
                           "control file %s",
                           name.c_str(), f0.fileName.c_str(), ctl);
      break;
    case 12:
      description = FormatText("%s interpolated with Thiessen plus elevation lapserate, all values taken from %s, control "
                           "file %s",
                           name.c_str(), f0.fileName.c_str(), ctl);
      break;
    default:
      description = name + " interpolated with method " + std::to_string(interpolationMethod);
  }
}

void meteointerpol::CreateStatistics(const ModuleInputs& in) {
  zoneCount = in.zoneCount;
  if (in.zoneTable) zoneTableCopy.assign(in.zoneTable, in.zoneTable + zoneCount + 1);
  if (in.zoneCodeMap) zoneCodeMap.assign(in.zoneCodeMap, in.zoneCodeMap + in.maxZoneCode + 1);
  if (statisticCode <= 1000) return;
  int err = 0;
  statistics = std::make_unique<zonalstatistic>(
      &err, log, in.statisticsTable, in.statisticsSize, relCellArea, geometry.nrows, geometry.ncols,
      zoneTableCopy.empty() ? nullptr : zoneTableCopy.data(), zoneCount, statisticCode, 3, statisticFileName,
      in.output.defaultOutputDirectory.empty() ? nullptr : in.output.defaultOutputDirectory.c_str(), in.outputListCount,
      in.outputList, stationFiles[0].minuteColumn);
  if (err) throw err;
  statistics->WriteHeader(description, "", in.statisticsTable, in.statisticsSize);
}

void meteointerpol::GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month,
                                   int64_t& year) const {
  minute = current.minute;
  hour = current.hour;
  day = current.day;
  month = current.month;
  year = current.year;
}

void meteointerpol::SetEndDateToCurrent() {
  SetEndDate(current.year, current.month, current.day, current.hour, current.minute);
}

void meteointerpol::WriteStatistics() {
  if (statistics) statistics->WriteRow();
}

void meteointerpol::WriteResultGrid() {
  if (result && resultPosition > 0) WriteGrids(resultPosition, 1, false);
}

void meteointerpol::DeleteModule() {
  if (deleted) return;
  if (log) *log << "DEBUG: deleting interpolator for " << name << "[end-entry]";
  Release();
  modelobject::DeleteModule();
}

void meteointerpol::Release() {
  deleted = true;
  if (statistics) {
    statistics->Release();
    statistics.reset();
  }
  auto drop = [&](int& position, double**& m) {
    if (position > 0 && grids && grids[position].data == m && m) FreeGrid(position);
    if (m) FreeMatrix(m);
    m = nullptr;
    position = 0;
  };
  drop(rotatedXPosition, rotatedX);
  drop(rotatedYPosition, rotatedY);
  drop(scenarioPosition, scenarioGrid);
  drop(resultPosition, result);
  splines.reset();
  if (splineGradient) FreeMatrix(splineGradient);
  splineGradient = nullptr;
  stationFiles.clear();
}
