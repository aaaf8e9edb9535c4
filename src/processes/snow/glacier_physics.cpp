#include "processes/snow/glacier_physics.h"

#include <algorithm>
#include <cmath>

#include "processes/snow/snow_physics.h"

namespace glacier {

double& Row(SubbasinParameters& p, int row) {
  switch (row) {
    case 0: return p.DDFice;
    case 1: return p.DDFfirn;
    case 2: return p.DDFsnow;
    case 3: return p.MF;
    case 4: return p.Aice_min;
    case 5: return p.Aice_max;
    case 6: return p.Asnow_min;
    case 7: return p.Asnow_max;
    case 8: return p.kice_els;
    case 9: return p.kfirn_els;
    case 10: return p.ksnow_els;
    case 11: return p.Qice_els;
    case 12: return p.Qfirn_els;
    case 13: return p.Qsnow_els;
    case 14: return p.firn_base;
    default: return p.deltafirnper100m;
  }
}

const char* RowLabel(int row) {
  static const char* const kLabels[kParameterRows] = {
      "DDFice  for ",        "DDFfirn for ",        "DDFsnow for ",         "MF  for ",
      "Aice_min for ",       "Aice_max for ",       "Asnow_min for ",       "Asnow_max for ",
      "kice_els for ",       "kfirn_els ",          "ksnow_els for ",       "initial Qice_els for ",
      "initial Qfirn_els ",  "initial Qsnow_els for "};
  return row >= 0 && row < kParameterRows ? kLabels[row] : "";
}

const char* RowName(int row) {
  static const char* const kNames[kTableRows] = {
      "DDFice",   "DDFfirn",  "DDFsnow",   "MF",        "Aice_min",  "Aice_max",  "Asnow_min",        "Asnow_max",
      "kice_els", "kfirn_els", "ksnow_els", "Qice_els", "Qfirn_els", "Qsnow_els", "firn_base", "deltafirnper100m"};
  return row >= 0 && row < kTableRows ? kNames[row] : "";
}

void DeriveSeasonalFactors(SubbasinParameters& p) {
  p.aiceMean = p.Aice_min + (p.Aice_max - p.Aice_min) * 0.5;
  p.aiceAmplitude = (p.Aice_max - p.Aice_min) * 0.5;
  p.asnowMean = p.Asnow_min + (p.Asnow_max - p.Asnow_min) * 0.5;
  p.asnowAmplitude = (p.Asnow_max - p.Asnow_min) * 0.5;
}

double Recession(double kHours, double dtMinutes) {
  if (kHours == 0.0) return 0.0;
  return std::exp(-(dtMinutes / 60.0) / kHours);
}

double StoredWater(double outflow, double recession) {
  return recession > 0.0 && recession < 1.0 ? outflow * recession / (1.0 - recession) : 0.0;
}

std::string SnowOnIceFileName(const std::string& qglacFile) {
  const size_t dot = qglacFile.rfind('.');
  if (dot == std::string::npos) return qglacFile + "_qsgl_";
  return qglacFile.substr(0, dot) + "_qsgl_" + qglacFile.substr(dot);
}

bool ValidDayMonth(int day, int month) {
  static const int kDays[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month];
}

double DegreeDaySnow(const CellParameters& p, double T, double R, double snowfall, double rainfall, double& solid,
                     double& liquid, double& melt) {
  const bool hadSnow = solid + liquid > 0.0;
  solid += snowfall;
  liquid += rainfall;
  melt = 0.0;
  const double dT = T - p.T0;
  if (dT > 0.0 && hadSnow) {
    const double n = p.stepsPerDay;
    const double M = UsesRadiation(p.method) ? (p.MF / n + p.Asnow * R) * dT : dT * p.DDFsnow / n;
    melt = std::max(0.0, std::min(solid, M));
    solid -= melt;
    liquid += melt;
  }
  return snow::Retain(p.CWH, solid, liquid);
}

double BareMelt(const CellParameters& p, double T, double R, double debris, bool firn) {
  const double dT = T - p.T0;
  if (!(dT > 0.0)) return 0.0;
  const double n = p.stepsPerDay;
  if (firn) return UsesRadiation(p.method) ? dT * (p.MF / n + p.Asnow * R) : dT * p.DDFfirn / n;
  return UsesRadiation(p.method) ? dT * debris * (p.MF / n + p.Aice * R) : debris * p.DDFice * dT / n;
}

double FirnSum(const double* layers, int count, double nodata) {
  double sum = 0.0;
  for (int l = 1; l <= count; ++l)
    if (layers[l] != nodata) sum += layers[l];
  return sum;
}

double TakeFromFirnLayers(double* layers, int count, double melt, double nodata) {
  double rest = melt;
  for (int l = 1; l <= count && rest > 0.0; ++l) {
    const double held = layers[l] == nodata ? 0.0 : std::max(0.0, layers[l]);
    const double take = std::min(held, rest);
    layers[l] = held - take;
    rest -= take;
  }
  layers[0] = FirnSum(layers, count, nodata);
  return melt - rest;
}

void CellStep(const CellParameters& p, double T, double P, double R, double debris, bool firn, double& solid,
              double& liquid, CellResult& out) {
  const double s = snow::SnowShare(T, p.T0R, p.transzone, false);
  out = CellResult();
  out.snowfall = s * P;
  out.rainfall = (1.0 - s) * P;
  out.snowOutflow = DegreeDaySnow(p, T, R, out.snowfall, out.rainfall, solid, liquid, out.snowMelt);
  if (T - p.T0 > 0.0 && !(solid > 0.0)) {
    const double melt = BareMelt(p, T, R, debris, firn) - out.snowMelt;
    if (melt > 0.0) (firn ? out.firnMelt : out.iceMelt) = melt;
  }
}

}  // namespace glacier
