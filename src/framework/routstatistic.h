// The discharge table of the routing module: one column per sub-basin, no total column,
// and at the end of the run a block of model-efficiency measures.
#pragma once

#include "framework/zonalstatistic.h"

// Sums of simulated/observed pairs of one sub-basin and one time shift, filled by the
// routing module (for the logarithmic records the same sums of logarithms).
struct EfficiencyRecord {
  double n_p = 0.0;   // number of pairs
  double s_d = 0.0;   // sum of the differences
  double s_dd = 0.0;  // sum of the squared differences
  double n_o = 0.0;   // number of observed values
  double s_o = 0.0;   // sum of the observed values
  double s_oo = 0.0;  // sum of their squares
};

// Time shifts of the efficiency block: -10..+10 steps.
constexpr int kEfficiencyShifts = 21;

// R-square of a record; 1.0 when it cannot be computed (fewer than three values, a
// constant observed series) or when the squared differences are 0.
double EfficiencyRSquare(const EfficiencyRecord& r);
// Coefficient of variation of the differences against the observed variance; 1.0 in the
// same cases.
double EfficiencyCoefficientOfVariation(const EfficiencyRecord& r);

class routstatistic : public zonalstatistic {
 public:
  // As zonalstatistic, plus the sub-basin area table (indexed by zone index) that the
  // header's third line shows.
  routstatistic(int* error, LogStream* log, StatisticsTableEntry* table, int tableSize, double** weightGrid,
                int weightRows, int weightCols, ZoneTableEntry* zoneTable, int zoneCount, int code, int decimals,
                const std::string& fileName, const char* outputDirectory, int listCount, const int* listCodes,
                bool minuteColumn, const double* subbasinAreas);

  // Fills two consecutive entries: the simulated values and the "observed Runoff" ones.
  int WriteHeader(const std::string& title1, const std::string& title2, StatisticsTableEntry* table,
                  int tableSize) override;
  void Release() override;
  // linear and logarithmic: one pointer per time shift -10..+10, each to a 1-based array of
  // records indexed by zone index.
  virtual void WriteEfficiency(EfficiencyRecord* const* linear, EfficiencyRecord* const* logarithmic);
  virtual void AggregateAndWriteRouting(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute);

  // The observed entry that the routing module fills (1-based, ObservedCount() values).
  double* ObservedValues() { return observedValues.data(); }
  int ObservedCount() const { return observedCount; }
  const std::array<int64_t, 5>& ObservedDate() const { return observedDate; }

 protected:
  void WriteMeasureBlock(const char* lower, const char* upper, EfficiencyRecord* const* records,
                         bool coefficient);

  const double* subbasinAreas = nullptr;  // not owned
  std::string observedTitle;
  std::vector<double> observedValues, observedSecondValues, observedFractions;
  std::vector<int64_t> observedCodes;
  int observedCount = 0;
  int observedValueCount = 0;
  std::array<int64_t, 5> observedDate{};
};
