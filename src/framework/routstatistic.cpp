#include "framework/routstatistic.h"

#include <algorithm>

#include "framework/ctrl_c.h"

double EfficiencyRSquare(const EfficiencyRecord& r) {
  if (!(r.n_o > 2 && r.n_p > 2)) return 1.0;
  const double varO = (r.s_oo - r.s_o * r.s_o / r.n_o) / (r.n_o - 1.0);
  if (varO == 0.0) return 1.0;
  const double m = r.s_dd / (r.n_p - 1.0);
  if (m == 0.0) return 1.0;
  return 1.0 - m / varO;
}

double EfficiencyCoefficientOfVariation(const EfficiencyRecord& r) {
  if (!(r.n_o > 2 && r.n_p > 2)) return 1.0;
  const double varO = (r.s_oo - r.s_o * r.s_o / r.n_o) / (r.n_o - 1.0);
  if (varO == 0.0) return 1.0;
  const double v = (r.s_dd - r.s_d * r.s_d / r.n_p) / (r.n_p - 1.0);
  if (v == 0.0) return 1.0;
  return 1.0 - v / varO;
}

routstatistic::routstatistic(int* error, LogStream* log, StatisticsTableEntry* table, int tableSize,
                             double** weightGrid, int weightRows, int weightCols, ZoneTableEntry* zoneTable,
                             int zoneCount, int code, int decimals, const std::string& fileName,
                             const char* outputDirectory, int listCount, const int* listCodes, bool minuteColumn,
                             const double* areas)
    : zonalstatistic(error, log, table, tableSize, weightGrid, weightRows, weightCols, zoneTable, zoneCount, code,
                     decimals, fileName, outputDirectory, listCount, listCodes, minuteColumn),
      subbasinAreas(areas) {
  if (!active) return;
  // No total column.
  valuesPerRow = columns;
  valueCount = valuesPerRow + 1;
  try {
    if (AllZonesMode())
      observedCount = this->zoneCount;
    else if (ListMode())
      observedCount = this->listCount;
    else
      observedCount = 1;
    observedValueCount = columns;
    observedValues.assign(observedCount + 2, 0.0);
    observedSecondValues.assign(observedCount + 2, 0.0);
    observedFractions.assign(observedCount + 2, 0.0);
    observedCodes.assign(observedCount + 2, 0);
    observedTitle = "observed Runoff";
  } catch (...) {
    *this->error = 1;
    ok = false;
    active = false;
  }
}

int routstatistic::WriteHeader(const std::string& title1, const std::string& title2,
                               StatisticsTableEntry* statTable, int tableSize) {
  if (!active) return -1;
  title = title1 + "_submodel:" + title2;
  std::vector<double> areas(zoneCount + 1, 0.0);
  if (subbasinAreas != nullptr) std::copy(subbasinAreas, subbasinAreas + zoneCount + 1, areas.begin());
  CreateFileWithHeader(false, areas.data());
  ResetColumnArrays();
  for (int c = 1; c <= std::min(columns, observedCount); ++c) {
    observedCodes[c] = codes[c];
    observedFractions[c] = areaFractions[c];
  }
  EnterIntoTable(statTable, tableSize, 2);
  if (tableIndex >= 0) {
    StatisticsTableEntry& o = statTable[tableIndex + 1];
    o.lastRowDate = observedDate.data();
    o.valueCount = &observedValueCount;
    o.values = observedValues.data();
    o.secondValues = observedSecondValues.data();
    o.areaFractions = observedFractions.data();
    o.title = observedTitle.c_str();
    o.codes = observedCodes.data();
  }
  return tableIndex;
}

void routstatistic::AggregateAndWriteRouting(int64_t year, int64_t month, int64_t day, int64_t hour,
                                             int64_t minute) {
  if (!active || mode < 1) return;
  if (AggregateZones(year, month, day, hour, minute, true)) {
    observedDate = lastRowDate;
    FinishRow();
  }
}

void routstatistic::WriteMeasureBlock(const char* lower, const char* upper, EfficiencyRecord* const* records,
                                      bool coefficient) {
  Printf("----------------------\n");
  for (int s = -10; s <= 10; ++s) {
    Printf(s == 0 ? upper : lower, s);
    const EfficiencyRecord* shift = records != nullptr ? records[s + 10] : nullptr;
    for (int c = 1; c <= columns; ++c) {
      const int z = ZoneOfColumn(c);
      const EfficiencyRecord r = shift != nullptr ? shift[z] : EfficiencyRecord{};
      const double measure = coefficient ? EfficiencyCoefficientOfVariation(r) : EfficiencyRSquare(r);
      Printf("\t%.*lf", decimals - 1, measure);
    }
    Printf("\n");
  }
}

void routstatistic::WriteEfficiency(EfficiencyRecord* const* linear, EfficiencyRecord* const* logarithmic) {
  // A file whose rows could not all be written (named already) gets no block behind them.
  if (!active || writeFailed) return;
  WriteRow();
  IgnoreCtrlC();
  try {
    OpenFile("a+");
    WriteMeasureBlock("lin. R-square\t%d", "LIN. R-SQUARE\t%d", linear, false);
    WriteMeasureBlock("log. R-square\t%d", "LOG. R-SQUARE\t%d", logarithmic, false);
    WriteMeasureBlock("coeff.var.lin\t%d", "COEFF.VAR.LIN\t%d", linear, true);
    WriteMeasureBlock("coeff.var.log\t%d", "COEFF.VAR.LOG\t%d", logarithmic, true);
    Printf("----------------------\n");
    CloseFile();
  } catch (...) {
    DisableCtrlCHandler();
    throw;
  }
  // The coefficient of the unshifted linear series is kept in the zone table.
  const EfficiencyRecord* unshifted = linear != nullptr ? linear[10] : nullptr;
  for (int c = 1; c <= columns; ++c) {
    const int z = ZoneOfColumn(c);
    zones[z].areaSum = 1.0;
    ValueSum(zones[z]) = EfficiencyCoefficientOfVariation(unshifted != nullptr ? unshifted[z] : EfficiencyRecord{});
  }
  DisableCtrlCHandler();
}

void routstatistic::Release() {
  zonalstatistic::Release();
  observedValues = {};
  observedSecondValues = {};
  observedFractions = {};
  observedCodes = {};
  observedTitle.clear();
}
