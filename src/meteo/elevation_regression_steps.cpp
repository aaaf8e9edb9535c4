// The interpolator's elevation regressions: the regression file of methods 2 and 3 (opened
// at construction, advanced at the end of every step) and the station regression of
// methods 10 and 11 (fitted before the interpolation of every step).
#include <sstream>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "meteo/meteoint.h"

void meteointerpol::RefuseRegressionFilesBelowAnHour() {
  if (timeStepMinutes >= 60.0) return;
  std::ostringstream step;
  step << timeStepMinutes;
  Fatal("interpolation method 2 or 3 with externally prepared regression files does not work for time steps less "
        "than one hour - please use interpolation methods 10 or 11 instead\n([" +
            name.substr(0, name.find(' ')) + "] of " + ShownControlFile() + ", the run steps by " + step.str() +
            " minutes)",
        1302);
}

void meteointerpol::OpenRegressionInput() {
  RefuseRegressionFilesBelowAnHour();
  regressionFile = RegressionFile();
  regressionFile.fileName = regressionFileName;
  regressionFile.lastKey = endDateKey;
  FindRegressionStart(*log, name, start, regressionFile);
  if (interpolationMethod == 2) {
    current = regressionFile.current;
    current.minute = 0;
  }
}

void meteointerpol::AdvanceRegressionData(int r) {
  if (r != 1 || !result) return;  // one regression file per interpolator
  RegressionFile& f = regressionFile;
  if (interpolationMethod == 2) {
    if (endFlag) return;
    if (NextRegressionRecord(*log, name, endDateKey, f)) {
      endFlag = true;
      if (f.current.Key() < endDateKey) NoteEarlyEnd(f.fileName);
      return;
    }
    current = f.current;
    current.minute = 0;
    return;
  }
  // Method 3: the station files decide the end of the period; the regression file follows
  // them and must be at the same hour.
  if (endFlag) return;
  if (NextRegressionRecord(*log, name, INT64_MAX, f)) {
    endFlag = true;
    NoteEarlyEnd(f.fileName);  // the station files go on
    return;
  }
  const ModelDate& s = stationFiles[0].recordDate;
  if (s.year == f.current.year && s.month == f.current.month && s.day == f.current.day && s.hour == f.current.hour)
    return;
  const std::string rule(77, '-');
  *log << "FATAL: " << rule << "\nerror in date column of " << name
       << " for IDW*Regress \n\nDate from station/regress file " << stationFiles[0].fileName << ":\n"
       << DateText(s, kRecordDate.Until(DateField::kHour)) << " h\n\nbut date from regres file " << f.fileName << ":\n"
       << DateText(f.current, kRecordDate.Until(DateField::kHour)) << " h\n\n"
       << rule << "\n" << "[end-entry]";
  throw 52;
}

void meteointerpol::ComputeStationRegression(int file) {
  if (!(interpolationMethod == 10 || interpolationMethod == 11) || file < 0 || file >= stationFileCount) return;
  const StationFile& f = stationFiles[static_cast<size_t>(file)];
  StationRegressionSettings s;
  s.lowerInversion = lowerInversion;
  s.upperInversion = upperInversion;
  s.tolerance = tolerance;
  s.overlap = overlap;
  s.clusterRange = clusterRange;
  s.upperLapseRate = upperLapseRate;
  stationRegression =
      StationRegression(s, f.count, f.altitude.data(), f.x.data(), f.y.data(), f.values.data(), nodataN);
}

double meteointerpol::RegressionCellValue(int, int, double x, double y, double z) const {
  return RegressionValue(Regression(), nodataN, geometry.nodata_value, x, y, z);
}

double meteointerpol::ElevationGradientCellValue(double x, double y, double z, double g1, double H, double g2) const {
  const StationFile& f = stationFiles[0];
  ElevationGradientSettings g;
  g.g1 = g1;
  g.inversionHeight = g2 > -9998.0 ? H : -9999.0;
  g.g2 = g2 > -9998.0 ? g2 : -9999.0;
  g.pType = pTypeFlag;
  return ElevationGradientValue(g, f.count, f.x.data(), f.y.data(), f.values.data(), f.altitude.data(), nodataN, x, y,
                                z);
}
