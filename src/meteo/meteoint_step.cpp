// The per-step protocol of an interpolator: interpolation of the current record onto the
// grid with its zonal statistics, and the advance to the next record.
#include <omp.h>

#include <iomanip>
#include <sstream>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/zonalstatistic.h"
#include "meteo/idw_vector_kernels.h"
#include "meteo/meteoint.h"
#include "meteo/precicorr_kernels.h"

void meteointerpol::Interpolate(ModelDate asked) {
  if (!result) return;  // a stand-in without a grid
  const int64_t minute = asked.minute, hour = asked.hour, day = asked.day, month = asked.month, year = asked.year;
  if (minute != current.minute || hour != current.hour || day != current.day || month != current.month ||
      year != current.year) {
    const std::string rule(77, '-');
    *log << "FATAL: " << rule << "\n"
         << "error in date columns of " << name << "\n\nfirst Meteo data set (this is the set from which data is get:\n"
         << DateText(asked, kRecordDate) << " h\n\nbut in " << name << ":\n"
         << DateText(current, kRecordDate) << " h\n\n"
         << rule << "\n" << "[end-entry]";
    throw 52;
  }
  stepDate = asked;  // the grid writers date their files by it
  if (!regionsLooked) {
    regionsLooked = true;
    if (int p = FindGrid("MPIRegions")) mpiRegions = GridData(p);
  }
  if (!omp_in_parallel() && reportInterval > 0) {
    const int64_t stamp = hour * 60 + static_cast<int64_t>(minute + 60.0 * hourOffset);
    if (reportInterval == 1 || (stamp % (reportInterval * 60) == 0 && hour != 0)) {
      const bool subHourly = timeStepMinutes >= 1 && timeStepMinutes <= 59;
      *log << std::setw(20) << name << " "
           << DateText(year, month, day, hour, minute,
                       kRecordDate.Until(subHourly ? DateField::kMinute : DateField::kHour))
           << (subHourly ? " h " : ". h ");
      if (szenUse == 1) *log << "using scenarios!";
      *log << "[end-entry]";
    }
  }
  if (szenUse == 1) {
    // The day the step lies in: midnight written 0 h is the last step of the day before.
    const ModelDate c = CalendarStamp(asked, hourOffset);
    if (szenMeth == 5 || szenMeth == 6) {
      if (c.month != scenarioMonth) LoadScenarioGrid(c.month);
    } else {
      UseFebruaryOf(c.year);
      UpdateScenarioDayValues(scenarioStations, c.month, c.day, daysPerMonth.data());
    }
  }
  if (interpolationMethod == 9) ReadListedGrid();
  if ((interpolationMethod == 7 || interpolationMethod == 8) && splines) RunSplinePass();
  if (statistics) statistics->ClearZoneSums();

  // Everything the parallel loop reads is settled here, on one thread.
  StationFile& f0 = stationFiles[0];
  CellLoop loop;
  FillCellLoop(loop);
  const int m = interpolationMethod;
  if (m != 9 && m != 2 && f0.equalValues) {
    loop.useCommonValue = true;
    for (int k = 1; k <= f0.count; ++k)
      if (IsValidStationValue(f0.values[k], nodataN)) {
        loop.commonValueValid = true;
        loop.commonValue = f0.values[k];
        f0.values[1] = f0.values[k];
        break;
      }
  }
  loop.inverseDistanceInResult = inverseDistanceInResult && InverseDistanceOnLanes(loop);
  const SharedPassResult pass = sharedPass;
  const bool finished = loop.inverseDistanceInResult && pass.finished;
  inverseDistanceInResult = false;
  sharedPass = SharedPassResult();
  const bool warn = SetMissMask(loop);
  if (m == 4 || m == 12) {
    nearestIndex.Update(loop);  // searches again only when other stations are valid
    loop.nearest = nearestIndex.Data();
  }
  const CellCounts counts = finished ? pass.counts : RunCellLoop(loop);
  if (warn && counts.noStation > 0) WriteMissingStationWarnings();
  ReportCellCounts(counts, asked);

  // Cells of a response unit that are not its master cell take the master cell's value.
  if (hruMode && hruGrid && masterHruGrid) {
    HruCellScope scope;
    scope.geometry = &geometry;
    scope.rowBounds = &bounds;
    scope.zone = zoneGrid;
    scope.regions = mpiRegions;
    scope.instance = instanceNumber;
    scope.firstRow = firstRow;
    scope.lastRow = lastRow;
    if (hruMasters.empty()) hruMasters = MasterCellsFromGrid(masterHruGrid, scope);
    CopyFromHruMasters(result, hruGrid, masterHruGrid, hruMasters, scope);
  }

  if (statistics && zoneGrid) {
    if (finished && pass.statisticsAdded)
      statistics->EndRows();  // the shared pass added the rows
    else
      statistics->AddGrid(StatisticsCells(), result);
    statistics->AggregateAndWrite(year, month, day, hour, minute);
  }
}

ZoneCells meteointerpol::StatisticsCells() const {
  ZoneCells cells;
  cells.zone = zoneGrid;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = zoneCodeMap.data();
  cells.maxCode = static_cast<int>(zoneCodeMap.size()) - 1;
  cells.firstRow = firstRow;
  cells.lastRow = lastRow;
  cells.ncols = geometry.ncols;
  cells.rowBounds = &bounds;
  cells.regions = mpiRegions;
  cells.instance = instanceNumber;
  return cells;
}

void meteointerpol::FillCellLoop(CellLoop& loop) const {
  const StationFile& f0 = stationFiles[0];
  loop.firstRow = firstRow;
  loop.lastRow = lastRow;
  loop.ncols = geometry.ncols;
  loop.rowBounds = &bounds;
  loop.coordX = coordX;
  loop.coordY = coordY;
  const bool anisotropic = anisotropyRatio < 1.0 && rotatedX && rotatedY;
  loop.distX = anisotropic ? rotatedX : coordX;
  loop.distY = anisotropic ? rotatedY : coordY;
  loop.zone = zoneGrid;
  loop.gridNodata = geometry.nodata_value;
  loop.mpiRegions = mpiRegions;
  loop.rank = instanceNumber;
  loop.masterHru = hruMode ? masterHruGrid : nullptr;
  loop.xmin = xmin;
  loop.xmax = xmax;
  loop.ymin = ymin;
  loop.ymax = ymax;
  loop.method = interpolationMethod;
  loop.nodata = nodataN;
  const int m = interpolationMethod;
  if (m >= 5 && m <= 8) {
    loop.meshCorners = meshCorners.data();
    loop.splineGradient = splineGradient;
    loop.elevation = elevationGrid;
    if (m == 6 || m == 8) {
      const StationFile& f1 = stationFiles[1];
      loop.rotatedGradient = StationPoints{f1.count, stationXRot.data(), stationYRot.data(), f1.values.data()};
    }
  }
  if (m == 2 || m == 3 || m >= 10) {
    loop.elevation = elevationGrid;
    loop.regression = m == 12 ? nullptr : &Regression();
    loop.idwFraction = idwFraction;
    loop.gradient = &gradient;
    loop.stationAltitude = f0.altitude.data();
  }
  if (m != 9 && m != 2) {
    loop.stations = StationPoints{f0.count, f0.x.data(), f0.y.data(), f0.values.data()};
    loop.rotated = anisotropic ? StationPoints{f0.count, stationXRot.data(), stationYRot.data(), f0.values.data()}
                               : loop.stations;
    loop.ratio = anisotropic ? anisotropyRatio : 1.0;
    loop.idw = idw;
  }
  loop.postProcess = true;
  loop.post = post;
  loop.scenarioStations = szenUse == 1 && !(szenMeth == 5 || szenMeth == 6) ? &scenarioStations : nullptr;
  loop.scenarioGrid = szenUse == 1 && (szenMeth == 5 || szenMeth == 6) ? scenarioGrid : nullptr;
  loop.scalingGrid = scalingGrid;
  loop.result = result;
}

bool meteointerpol::SharedInverseDistanceLoop(ModelDate date, CellLoop& loop) {
  const int m = interpolationMethod;
  if (!result || stationFiles.empty() || stationFiles[0].equalValues || !(m == 1 || m == 3 || m == 11) ||
      hruMode || (idw.mode != 2000 && idw.mode != 1000))
    return false;
  if (date.minute != current.minute || date.hour != current.hour || date.day != current.day ||
      date.month != current.month || date.year != current.year)
    return false;  // its own step reports the date
  if (!regionsLooked) {
    regionsLooked = true;
    if (int p = FindGrid("MPIRegions")) mpiRegions = GridData(p);
  }
  FillCellLoop(loop);
  // Without a scenario, finishing a cell reads only what stays as it is until this
  // interpolator's step: the shared pass finishes the cells too.
  loop.finishShared = szenUse != 1;
  SetMissMask(loop);
  if (statistics && zoneGrid) {
    loop.statistics = statistics.get();
    loop.statisticsCells = StatisticsCells();
  }
  return InverseDistanceOnLanes(loop);
}

bool meteointerpol::SetMissMask(CellLoop& loop) {
  const int m = interpolationMethod;
  const bool warn = warningSwitch != 0 && (m == 1 || m == 3 || m == 11);
  if (warn && missMask.empty())
    missMask.assign(static_cast<size_t>(geometry.nrows + 1) * static_cast<size_t>(geometry.ncols + 1), 0);
  loop.missMask = warn ? missMask.data() : nullptr;
  return warn;
}

int ShareInverseDistance(meteointerpol* const* interpolators, int count, ModelDate date) {
  int shared = 0;
  std::vector<CellLoop> loops(static_cast<size_t>(count > 0 ? count : 0));
  std::vector<int> open;
  for (int i = 0; i < count; ++i)
    if (interpolators[i] && interpolators[i]->SharedInverseDistanceLoop(date, loops[static_cast<size_t>(i)]))
      open.push_back(i);
  // Groups in the interpolators' order, each of at most kMaxIdwSets; one alone runs its own step.
  while (open.size() > 1) {
    std::vector<int> group = {open.front()}, rest;
    for (size_t k = 1; k < open.size(); ++k)
      if (static_cast<int>(group.size()) < kMaxIdwSets &&
          SharesInverseDistance(loops[static_cast<size_t>(group.front())], loops[static_cast<size_t>(open[k])]))
        group.push_back(open[k]);
      else
        rest.push_back(open[k]);
    if (group.size() > 1) {
      const CellLoop* members[kMaxIdwSets];
      SharedPassResult passes[kMaxIdwSets];
      for (size_t k = 0; k < group.size(); ++k) members[k] = &loops[static_cast<size_t>(group[k])];
      RunSharedInverseDistance(members, static_cast<int>(group.size()), passes);
      for (size_t k = 0; k < group.size(); ++k)
        interpolators[group[k]]->TakeInverseDistanceFromResult(passes[k]);
      shared += static_cast<int>(group.size());
    }
    open = rest;
  }
  return shared;
}

void meteointerpol::WriteMissingStationWarnings() {
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = 1; c <= geometry.ncols; ++c)
      if (missMask[stride * static_cast<size_t>(r) + static_cast<size_t>(c)])
        *log << (interpolationMethod == 1 ? "WARNING:  at x=" : "WARNING: at x=")
             << coordX[r][c] << ", y=" << coordY[r][c] << " "
             << "no station within the specified search radius!" << "[end-entry]";
}

void meteointerpol::ReportCellCounts(const CellCounts& n, const ModelDate& date) {
  // Once both have been said (or there is nothing to say) a step builds no message text.
  const bool noStationDue = n.noStation > 0 && !warnedNoStation;
  const bool limitsDue = n.belowLower + n.aboveUpper > 0 && !warnedLimits;
  if ((!noStationDue && !limitsDue) || omp_in_parallel()) return;
  const std::string section = "[" + name.substr(0, name.find(' ')) + "]";
  const std::string where = "WARNING: " + section + ", step " + DateText(date, kMessageDate) + ": ";
  const std::string once = " This is said once per run";
  if (noStationDue) {
    warnedNoStation = true;
    const int m = interpolationMethod;
    std::ostringstream s;
    s << where << n.noStation << " cells found no valid station value";
    if (m == 4 || m == 12)
      s << " (no station of the record has one)";
    else
      s << " within the maximum distance of " << maxDistance << " (in the unit of the coordinates)";
    const double missing = MissingResult(nodataN), taken = PostProcessValue(missing, post, 0.0);
    s << ", so they took the missing value " << missing;
    if (taken != missing) s << ", which the limits of the section replaced by " << taken;
    const StationFile& f = stationFiles[0];
    s << ".";
    if (f.tally.above > 0) {
      s << " " << f.tally.above << " of the " << f.tally.read << " values read from " << f.fileName
        << " so far lie above the no-data value " << nodataN << " of " << section << " (up to " << f.tally.largest
        << ")";
      if (f.tally.below > 0) s << " and " << f.tally.below << " below " << -nodataN;
      s << ", and count as missing: if they are data, give " << section << " a no-data value above them.";
    }
    s << (f.tally.above > 0 ? " Else: are" : " Are") << " the X and Y of the stations in " << f.fileName
      << " in the grid's coordinates, and is the maximum distance wide enough?" << once
      << "; the second value of [output_interval] set to 1 names every such cell at every step.";
    *log << s.str() << "[end-entry]";
  }
  if (limitsDue) {
    warnedLimits = true;
    std::ostringstream s;
    s << where << "the limits replaced the interpolated values of " << n.belowLower + n.aboveUpper << " cells:";
    if (n.aboveUpper > 0)
      s << " " << n.aboveUpper << " above the upper limit " << post.upper << " by " << post.upperReplacement;
    if (n.belowLower > 0)
      s << (n.aboveUpper > 0 ? "," : "") << " " << n.belowLower << " below the lower limit " << post.lower << " by "
        << post.lowerReplacement;
    s << ". Are the station values in the unit the limits of the section are given in?" << once << ".";
    *log << s.str() << "[end-entry]";
  }
}

void meteointerpol::ReadNextRecord() {
  if (!result) return;  // a stand-in without input
  if (interpolationMethod == 9) {
    NextGridListRecord();
    current = listDate;
    return;
  }
  if (interpolationMethod == 2) {
    AdvanceRegressionData(1);
    return;
  }
  for (int i = 0; i < stationFileCount; ++i) {
    if (NextStationRecord(*log, name, nodataN, endDateKey, stationFiles[i])) {
      endFlag = true;
      // A file whose last record lies before the end date has run out.
      if (stationFiles[i].recordDate.Key() < endDateKey) NoteEarlyEnd(stationFiles[i].fileName);
    }
    if (i == 0) current = stationFiles[0].recordDate;
  }
  if (endFlag) return;
  if (interpolationMethod == 3) AdvanceRegressionData(1);
  for (int i = 0; i < stationFileCount; ++i) {
    const ModelDate& d = stationFiles[i].recordDate;
    if (d.minute == current.minute && d.hour == current.hour && d.day == current.day && d.month == current.month &&
        d.year == current.year)
      continue;
    *log << "FATAL: error reading date from stationfiles:";
    for (int k = 0; k < stationFileCount; ++k) {
      const ModelDate& e = stationFiles[k].recordDate;
      *log << "\nfile " << stationFiles[k].fileName << ": YYYY=" << e.year << ", MM=" << e.month << ", DD=" << e.day
           << ", HH=" << e.hour << " mm=" << e.minute;
    }
    *log << "[end-entry]";
    throw 73;
  }
}

bool meteointerpol::InputRunsOutAfterThisStep() {
  if (!result || endFlag || current.Key() >= endDateKey) return false;
  std::string file;
  if (interpolationMethod == 9) {
    if (stationFiles[0].fileEnded) file = stationFiles[0].fileName;
  } else if (interpolationMethod != 2) {
    for (int i = 0; i < stationFileCount && file.empty(); ++i)
      if (NoRecordAfterCurrent(*log, name, nodataN, endDateKey, stationFiles[i])) file = stationFiles[i].fileName;
  }
  if (file.empty() && (interpolationMethod == 2 || interpolationMethod == 3) &&
      NoRegressionRecordAfterCurrent(*log, regressionFile))
    file = regressionFile.fileName;
  if (file.empty()) return false;
  NoteEarlyEnd(file);
  return true;
}

void meteointerpol::NoteEarlyEnd(const std::string& file) {
  if (inputEndedEarly.empty()) inputEndedEarly = file;
}

void meteointerpol::RewindInputFiles() {
  if (!result) return;
  endFlag = false;
  inputEndedEarly.clear();
  if (interpolationMethod == 9) {
    FindStartDateGridList();
    current = listDate;
    return;
  }
  if (interpolationMethod != 2) {
    for (int i = 0; i < stationFileCount; ++i) FindStartDate(*log, name, nodataN, start, stationFiles[i]);
    current = stationFiles[0].recordDate;
  }
  if (interpolationMethod == 2 || interpolationMethod == 3) OpenRegressionInput();
}

double meteointerpol::PointValue(int file, double x, double y) const {
  if (file < 0 || file >= stationFileCount || interpolationMethod == 9) return MissingResult(nodataN);
  const StationFile& f = stationFiles[file];
  StationPoints s{f.count, f.x.data(), f.y.data(), f.values.data()};
  double v;
  if (interpolationMethod == 4)
    v = ThiessenValue(s, nodataN, x, y);
  else
    v = IdwPoint(file, x, y);
  return PostProcessPoint(v, x, y);
}

double meteointerpol::IdwPoint(int file, double x, double y) const {
  const StationFile& f = stationFiles[file];
  if (anisotropyRatio < 1.0 && file == 0 && !stationXRot.empty()) {
    double xr, yr;
    RotatePoint(x, y, geometry.xllcorner, geometry.yllcorner, anisotropySlope, xr, yr);
    StationPoints rs{f.count, stationXRot.data(), stationYRot.data(), f.values.data()};
    return IdwValueAnisotropic(rs, idw, nodataN, xr, yr, anisotropyRatio);
  }
  return IdwValue(StationPoints{f.count, f.x.data(), f.y.data(), f.values.data()}, idw, nodataN, x, y);
}

double meteointerpol::PostProcessPoint(double v, double x, double y) const {
  if (!IsValidStationValue(v, nodataN)) return v;
  const double scen = szenUse == 1 && !(szenMeth == 5 || szenMeth == 6) ? ScenarioStationValue(scenarioStations, x, y)
                                                                           : 0.0;
  return PostProcessValue(v, post, scen);
}

double meteointerpol::MeshPointValue(double x, double y) const {
  const int m = interpolationMethod;
  if (m < 5 || m > 8 || geometry.nrows < 1 || geometry.ncols < 1) return MissingResult(nodataN);
  int row, column;
  CellOfPoint(x, y, geometry.xllcorner, geometry.yllcorner, geometry.cellsize, geometry.nrows, geometry.ncols, row,
              column);
  const StationFile& f = stationFiles[0];
  if (m == 7 || m == 8) {
    if (!coordX || !coordY || !coordX[row] || !coordY[row]) return MissingResult(nodataN);
    const StationPoints s{f.count, f.x.data(), f.y.data(), f.values.data()};
    return PostProcessPoint(ThiessenValue(s, nodataN, coordX[row][column], coordY[row][column]), x, y);
  }
  // The point is rotated like the station coordinates of the mesh.
  double px = x, py = y;
  if (anisotropyRatio < 1.0) RotatePoint(x, y, geometry.xllcorner, geometry.yllcorner, anisotropySlope, px, py);
  double v = BilinearCellValue(px, py, 0, row, column, nullptr);
  if (m == 6) {
    const double gradient = BilinearCellValue(px, py, 1, row, column, nullptr);
    const double elevation = elevationGrid && elevationGrid[row] ? elevationGrid[row][column] : geometry.nodata_value;
    v = v < -nodataN || gradient < -nodataN || !(elevation > geometry.nodata_value)
            ? MissingResult(nodataN)
            : v + gradient * elevation;
  }
  return PostProcessPoint(v, x, y);
}

double meteointerpol::PointValue(int file, double x, double y, double z) const {
  const int m = interpolationMethod;
  if (file == 0 && m >= 5 && m <= 8) return MeshPointValue(x, y);
  if (file != 0 || !(m == 2 || m == 3 || m == 10 || m == 11 || m == 12)) return PointValue(file, x, y);
  const StationFile& f = stationFiles[0];
  if (m == 12)
    return PostProcessPoint(ElevationGradientValue(gradient, f.count, f.x.data(), f.y.data(), f.values.data(),
                                                   f.altitude.data(), nodataN, x, y, z),
                            x, y);
  const RegressionParameters& p = Regression();
  const double g = p.intercept[1] >= -nodataN ? RegressionValue(p, nodataN, geometry.nodata_value, x, y, z)
                                              : MissingResult(nodataN);
  if (m == 2 || m == 10) return PostProcessPoint(g, x, y);
  // 3 and 11: inverse distance and regression mixed; when only one is valid, that one.
  const double w = IdwPoint(0, x, y);
  double v;
  if (!IsValidStationValue(w, nodataN))
    v = g;
  else if (!IsValidStationValue(g, nodataN))
    v = w;
  else
    v = idwFraction * w + (1.0 - idwFraction) * g;
  return PostProcessPoint(v, x, y);
}
