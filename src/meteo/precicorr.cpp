#include "meteo/precicorr.h"

#include <algorithm>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "meteo/meteoint.h"
#include "meteo/regression_file.h"

namespace {

bool IsStationMethod(int method) { return method != 2 && method != 10; }
bool IsRegressionMethod(int method) { return method == 2 || method == 3 || method == 10 || method == 11; }

}  // namespace

precicorrclass::precicorrclass(int& error, LogStream* logStream, meteointerpol** table,
                               const std::vector<std::string>& names, const std::string& controlFile, int count,
                               GridRecord* registry, const GridGeometry& geom, bool switchOff)
    : modelobject(logStream, controlFile), interpolators(table), interpolatorCount(count) {
  error = 0;
  name = "precipitation_correction";
  grids = registry;
  geometry = geom;
  try {
    Construct(names, switchOff);
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
  if (error) CloseControlFile();
}

precicorrclass::~precicorrclass() = default;

void precicorrclass::ReadSection() {
  if (!OpenControlFile(controlFileName)) {
    if (log) *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  const std::string section = "[" + name.substr(0, name.find(' ')) + "]";
  if (!SeekControlKey(section, false)) {
    CloseControlFile();
    if (log)
      *log << "WARNING: no section " << section << " in " << ShownControlFile()
           << ": precipitation is not corrected" << "[end-entry]";
    doIt = 0;
    return;
  }
  ReadControlValue(doIt, "do_it fuer " + name);
  ReadControlValue(factors.threshold, "Grenztemperatur fuer " + name);
  ReadControlValue(factors.rainConstant, "Konstante Regen fuer " + name);
  ReadControlValue(factors.rainSlope, "Anstieg Regen fuer " + name);
  ReadControlValue(factors.snowConstant, "Konstante Schnee fuer " + name);
  ReadControlValue(factors.snowSlope, "Anstieg Schnee fuer " + name);
  CloseControlFile();
}

int precicorrclass::IndexOf(const std::vector<std::string>& names, const char* variable) const {
  const int n = std::min(interpolatorCount, static_cast<int>(names.size()) - 1);
  for (int i = 1; i <= n; ++i)
    if (names[static_cast<size_t>(i)] == variable && interpolators && interpolators[i]) return i;
  return -1;
}

double** precicorrclass::RegisteredGrid(const char* internalName) const {
  const int p = FindGrid(internalName);
  return p > 0 ? grids[p].data : nullptr;
}

void precicorrclass::Construct(const std::vector<std::string>& names, bool switchOff) {
  ReadSection();
  if (switchOff) doIt = 0;
  if (doIt == 0) return;

  precipitationIndex = IndexOf(names, "precipitation");
  if (precipitationIndex < 0) correctGrid = 1;
  precipitationPosition = RequireGrid("precipitation");
  precipitationGrid = grids[precipitationPosition].data;

  temperatureIndex = IndexOf(names, "temperature");
  if (temperatureIndex < 0) {
    temperatureGrid = RegisteredGrid("temperature");
    if (temperatureGrid)
      correctGrid = 1;
    else
      noTemperature = true;
  } else {
    temperatureGrid = RegisteredGrid("temperature");
  }
  windIndex = IndexOf(names, "wind_speed");
  if (windIndex < 0) {
    windGrid = RegisteredGrid("wind_speed");
    if (windGrid)
      correctGrid = 1;
    else
      noWind = true;
  } else {
    windGrid = RegisteredGrid("wind_speed");
  }

  if ((temperatureIndex > 0 && interpolators[temperatureIndex]->GetMethod() == 9) ||
      (windIndex > 0 && interpolators[windIndex]->GetMethod() == 9) ||
      (precipitationIndex > 0 && interpolators[precipitationIndex]->GetMethod() == 9))
    correctGrid = 1;

  if (!correctGrid) {
    const meteointerpol* p = interpolators[precipitationIndex];
    precipitationMethod = p->GetMethod();
    const int n = IsStationMethod(precipitationMethod) ? p->Station(0).count : 1;
    stationTemperature.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0.0);
    stationWind.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0.0);
  }
}

double precicorrclass::ValueAtStation(double x, double y, double z, const meteointerpol* source) const {
  if (!source) return -1e300;
  if (source->GetMethod() == 9) {
    double** g = source->ResultGrid();
    if (!g || geometry.nrows < 1 || geometry.ncols < 1) return MissingResult(source->Nodata());
    int row, col;
    CellOfPoint(x, y, geometry.xllcorner, geometry.yllcorner, geometry.cellsize, geometry.nrows, geometry.ncols, row,
                col);
    return g[row][col];
  }
  return source->PointValue(0, x, y, z);
}

void precicorrclass::WeatherAt(double x, double y, double z, double& t, double& u) const {
  t = RainTemperature(factors);
  u = 0.0;
  if (temperatureIndex > 0) {
    const meteointerpol* ti = interpolators[temperatureIndex];
    const double v = ValueAtStation(x, y, z, ti);
    if (IsValidStationValue(v, ti->Nodata()) && v > geometry.nodata_value) t = v;
  }
  if (windIndex > 0) {
    const meteointerpol* wi = interpolators[windIndex];
    const double v = ValueAtStation(x, y, z, wi);
    if (IsValidStationValue(v, wi->Nodata()) && v > geometry.nodata_value) u = v;
  }
}

void precicorrclass::CorrectStationValues() {
  if (doIt == 0 || correctGrid || precipitationIndex <= 0) return;
  meteointerpol* p = interpolators[precipitationIndex];
  const double nodata = p->Nodata();
  if (IsStationMethod(precipitationMethod)) {
    StationFile& f = p->Station(0);
    const int n = std::min(f.count, static_cast<int>(stationTemperature.size()) - 1);
    for (int k = 1; k <= n; ++k) {
      WeatherAt(f.x[k], f.y[k], f.altitude[k], stationTemperature[k], stationWind[k]);
      f.values[k] = CorrectPrecipitationValue(factors, f.values[k], nodata, stationTemperature[k], stationWind[k]);
    }
    // Equal station values may no longer be equal once each station has its own factor.
    if (f.equalValues) {
      bool seen = false, equal = true;
      double first = 0.0;
      for (int k = 1; k <= f.count && equal; ++k) {
        if (!IsValidStationValue(f.values[k], nodata)) continue;
        if (!seen) {
          seen = true;
          first = f.values[k];
        } else if (f.values[k] != first) {
          equal = false;
        }
      }
      f.equalValues = equal;
    }
  }
  if (IsRegressionMethod(precipitationMethod)) CorrectRegression();
}

void precicorrclass::CorrectRegression() {
  meteointerpol* p = interpolators[precipitationIndex];
  RegressionParameters& parameters = p->Regression();
  const double nodata = p->Nodata();
  if (!(parameters.intercept[1] >= -nodata)) return;  // no valid regression in this step
  // Temperature and wind of a sample elevation are taken without a horizontal position
  // (the grid nodata value): a regression then gives its value at that elevation alone.
  const double nowhere = geometry.nodata_value;
  RegressionSegments segments = SegmentsOf(parameters);
  CorrectRegressionSegments(segments, maxElevation, nodata, [&](double z) {
    double t, u;
    WeatherAt(nowhere, nowhere, z, t, u);
    return CorrectionFactor(factors, t, u);
  });
  StoreSegments(segments, parameters);
}

void precicorrclass::CorrectPrecipitation() {
  if (doIt == 0 || !precipitationGrid) return;
  if (!regionsLooked) {
    regionsLooked = true;
    mpiRegions = RegisteredGrid("MPIRegions");
  }
  PrecipitationGridLoop loop;
  const GridRecord& rec = grids[precipitationPosition];
  loop.firstRow = rec.firstRow >= 1 ? rec.firstRow : 1;
  loop.lastRow = rec.lastRow >= 1 ? std::min(rec.lastRow, geometry.nrows) : geometry.nrows;
  loop.ncols = geometry.ncols;
  loop.rowBounds = &rowBounds;
  loop.gridNodata = geometry.nodata_value;
  loop.nodata = precipitationIndex > 0 ? interpolators[precipitationIndex]->Nodata() : 9999.0;
  loop.mpiRegions = mpiRegions;
  loop.rank = instanceNumber;
  loop.precipitation = precipitationGrid;
  loop.temperature = noTemperature ? nullptr : temperatureGrid;
  loop.wind = windGrid;
  loop.factors = factors;
  RunPrecipitationGridCorrection(loop);
}

void precicorrclass::DeleteModule() {
  stationTemperature.clear();
  stationWind.clear();
  modelobject::DeleteModule();
}
