// Glacier physics of the snow model, without I/O: the per-sub-basin glacier parameters,
// the snow, firn and ice melt of a glacier cell, the linear storages that route glacier
// melt to the sub-basin outlet, and the checks of the glacier settings.
#pragma once

#include <string>

namespace glacier {

// Parameters of one sub-basin, in the order of the rows of [ice_firn].
struct SubbasinParameters {
  double DDFice = 0.0, DDFfirn = 0.0, DDFsnow = 0.0, MF = 0.0;
  double Aice_min = 0.0, Aice_max = 0.0, Asnow_min = 0.0, Asnow_max = 0.0;
  double kice_els = 0.0, kfirn_els = 0.0, ksnow_els = 0.0;  // hours
  double Qice_els = 0.0, Qfirn_els = 0.0, Qsnow_els = 0.0;  // initial storage outflows (mm per step)
  double firn_base = 0.0, deltafirnper100m = 0.0;
  // Seasonal radiation factors: mean and amplitude.
  double aiceMean = 0.0, aiceAmplitude = 0.0, asnowMean = 0.0, asnowAmplitude = 0.0;
};
constexpr int kParameterRows = 14;  // DDFice .. initial Qsnow_els: the labelled values
constexpr int kTableRows = 16;      // and firn_base, deltafirnper100m in the per-sub-basin table
double& Row(SubbasinParameters& p, int row);
// Label of a row in [ice_firn] (the global form of the section).
const char* RowLabel(int row);
// Name of the parameter of a row (0..kTableRows-1), as messages give it.
const char* RowName(int row);
// Computes the means and amplitudes of the radiation factors from their bounds.
void DeriveSeasonalFactors(SubbasinParameters& p);

// Recession factor of a linear storage over one step: exp(−(Δt/60)/k), k in hours,
// Δt in minutes. A constant of 0 passes the input straight through (factor 0).
double Recession(double kHours, double dtMinutes);
// A linear storage in outflow form: the outflow after a step with the mean input I.
inline double StorageStep(double outflow, double input, double recession) {
  return outflow * recession + (1.0 - recession) * input;
}
// The water a storage in outflow form holds (mm of the step's unit) when its outflow is S:
// what is left to drain after this step. Zero for a pass-through storage.
double StoredWater(double outflow, double recession);

// The snow-on-ice statistics file of a qglac file: "_qsgl_" before the last "." of the
// name (q.txt gives q_qsgl_.txt), at the end of a name without ".".
std::string SnowOnIceFileName(const std::string& qglacFile);

// The evaluation date of the glacier mass balance, read as day and month.
bool ValidDayMonth(int day, int month);

// Methods whose snow and bare-glacier melt take the radiation term (MF/n + A·R).
inline bool UsesRadiation(int method) { return method == 2 || method == 12 || method == 13; }

// One step of a glacier cell of the static methods (1: temperature index, 2: temperature
// index with radiation). The whole cell is glacier; its snow cover lies on the glacier.
struct CellParameters {
  int method = 1;
  double T0 = 0.0, T0R = 0.0, transzone = 0.0, CWH = 0.0;
  double stepsPerDay = 24.0;  // n
  double DDFice = 0.0, DDFfirn = 0.0, DDFsnow = 0.0, MF = 0.0;
  double Aice = 0.0, Asnow = 0.0;  // seasonal radiation factors of the day
};
struct CellResult {
  double snowfall = 0.0, rainfall = 0.0;
  double snowMelt = 0.0;     // melt taken from the solid snow (M_a)
  double snowOutflow = 0.0;  // water leaving the snow on the glacier
  double iceMelt = 0.0, firnMelt = 0.0;
};
// T air temperature (°C), P precipitation (mm), R radiation of methods 2, debris the debris
// factor (1 without debris), firn whether the cell is firn (else ice).
void CellStep(const CellParameters& p, double T, double P, double R, double debris, bool firn, double& solid,
              double& liquid, CellResult& out);

// Degree-day snow of one part of a cell (glacier methods 1, 2, 11, 12): the part receives
// the step's snowfall and rainfall, melts when T > T0 and it held snow before the step, and
// releases the liquid water above CWH times its solid water. melt is the water taken from
// the solid storage, the result the water leaving the part.
double DegreeDaySnow(const CellParameters& p, double T, double R, double snowfall, double rainfall, double& solid,
                     double& liquid, double& melt);

// Melt of bare firn or ice in a step (mm), before the snow melt of the step is subtracted;
// 0 at or below T0.
double BareMelt(const CellParameters& p, double T, double R, double debris, bool firn);

// Takes a firn melt from the firn layers of a cell, layer 1 (top) first; a layer holding
// the no-data value counts as empty. layers[1..count] are updated, layers[0] becomes their
// sum. Returns the melt taken; what the layers cannot supply is left to the ice.
double TakeFromFirnLayers(double* layers, int count, double melt, double nodata);
// Sum of the firn layers 1..count (no-data layers count as empty).
double FirnSum(const double* layers, int count, double nodata);

}  // namespace glacier
