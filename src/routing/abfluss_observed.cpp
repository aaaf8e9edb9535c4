#include <algorithm>
#include <cmath>
#include <iostream>

#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/timeseries_table.h"
#include "routing/abfluss.h"
#include "routing/routingclass.h"

// About a million rows of a few columns.
int64_t abflussmodellklasse::tableBlockBytes = 1000000LL * 64;

void abflussmodellklasse::FailObservedFile(const TimeSeriesTable& t) const {
  *log << "FATAL: error analysing or reading " << observedFileName << " at row "
       << static_cast<long>(t.RowsBeforeBlock() + t.RowCount()) << " or before \n(e.g. due to wrong formatting or "
       << "wrong number of columns or start date not found): " << t.ErrorPlace() << "[end-entry]";
  throw 203;
}

void abflussmodellklasse::RequireObservedRow() const {
  if (observed->AtUnreadableRow()) FailObservedFile(*observed);
}

void abflussmodellklasse::FillWindowRow(std::vector<double>& row) {
  RequireObservedRow();
  std::fill(row.begin(), row.end(), 0.0);
  for (int j = 0; j < observedColumns; ++j) row[static_cast<size_t>(j) + 1] = observed->GetValue(j);
}

// Moves the table one row on, counting reads past its end. A row that cannot be read is
// no end: it ends the run when a step needs it (RequireObservedRow).
void abflussmodellklasse::AdvanceObserved() {
  observed->NextKeepingError();
  if (observed->AtUnreadableRow()) return;
  if (observed->GetState() == TimeSeriesTable::kEnd || observed->CurrentRow() >= observed->RowCount()) {
    *log << "INFO: end of discharge file reached!" << "[end-entry]";
    ++readsPastEnd;
  }
}

void abflussmodellklasse::OpenObservedDischarge() {
  if (observedFileName.empty()) return;
  RunFiles::Current().Read("[routing_model] observed discharge", observedFileName);
  auto table = TimeSeriesTable::Open(observedFileName, 0, tableBlockBytes);
  const int state = table->GetState();
  if (state == TimeSeriesTable::kCannotOpen || state == TimeSeriesTable::kNotOpened) {
    *log << "INFO: error opening " << observedFileName << FileOpenReason(observedFileName, false, 0)
         << "\nRouting will be done without comparison to observed discharge data!" << "[end-entry]";
    readsPastEnd = 10;
    return;
  }
  if (state == TimeSeriesTable::kReadError) FailObservedFile(*table);
  observed = std::move(table);
  observedColumns = static_cast<int>(observed->ColumnCount());
  // A descriptor naming a column the file does not have compares nothing: its outlet's
  // efficiency would read as a perfect fit.
  for (int i = 1; i < static_cast<int>(observedColumn.size()); ++i) {
    int& c = observedColumn[static_cast<size_t>(i)];
    if (c <= observedColumns) continue;
    int code = 0;
    while (code < codes.maxCode && codes.Internal(code) != i) ++code;
    *log << "WARNING: [routing_model]: the column descriptor of sub-basin " << code << " names column "
         << c << " of the observed discharge file " << observedFileName << ", which has " << observedColumns
         << " value column" << (observedColumns == 1 ? "" : "s") << " (counted from 1 behind the date fields): "
         << "the sub-basin's discharge is compared with no observation, and its efficiency block holds 1.00 as "
         << "for an outlet without observations. Give the column of its observations, or 0" << "[end-entry]";
    c = 0;
  }
  *log << "INFO: looking for starting date in " << observedFileName;
  window.assign(kObservedWindowRows, std::vector<double>(static_cast<size_t>(observedColumns) + 1, 0.0));
  linearSums.assign(kObservedWindowRows, std::vector<EfficiencyRecord>(subbasinCount + 1));
  logSums.assign(kObservedWindowRows, std::vector<EfficiencyRecord>(subbasinCount + 1));

  observed->SetRow(0);
  int lastDay = 0;
  for (;;) {
    if (observed->AtUnreadableRow()) {
      *log << "[end-entry]";
      FailObservedFile(*observed);
    }
    int y, mo, d, h, mi;
    observed->GetDate(y, mo, d, h, mi);
    if (y >= 0 && y <= 999) y += 1900;
    if (y == startDate.year && mo == startDate.month && d == startDate.day && h == startDate.hour) break;
    if (d < lastDay) *log << ".";
    lastDay = d;
    AdvanceObserved();
    if (readsPastEnd > 0) break;
  }
  *log << "[end-entry]";
  for (int r = 10; r < kObservedWindowRows; ++r) {
    FillWindowRow(window[static_cast<size_t>(r)]);
    AdvanceObserved();
  }
  for (int r = 0; r < 10; ++r) window[static_cast<size_t>(r)] = window[10];
}

void abflussmodellklasse::CompareObservedDischarge() {
  // The window moves one row on: row 0 is dropped and its storage becomes row 20.
  auto shift = [&]() { std::rotate(window.begin(), window.begin() + 1, window.end()); };
  if (readsPastEnd > 9) {
    int y, mo, d, h, mi;
    observed->GetDate(y, mo, d, h, mi);
    *log << "INFO: observed runoff: actual date "
         << DateText(stepYear, stepMonth, stepDay, stepHour, 0, kRecordDate.Until(DateField::kHour))
         << "h not found (end of discharge file at "
         << DateText(y, mo, d, h, mi, kRecordDate.Until(DateField::kHour).TimeAfter(", ")) << "h)" << "[end-entry]";
    shift();
    std::fill(window[20].begin(), window[20].end(), 0.0);
    return;
  }
  ++stepCounter;
  const int code = statisticsCode;
  const bool allZones = (code >= 2000 && code <= 2999) || (code >= 4000 && code <= 4999);
  const bool firstListed = code >= 5000 && code <= 6999;
  const double dt = timeInterval;
  for (int i = 1; i <= subbasinCount; ++i) {
    const int c = observedColumn[static_cast<size_t>(i)];
    if (c < 1) continue;
    // The output record carries the observation of the step itself, as the efficiency does.
    if (statistics) {
      if (allZones && i <= statistics->ObservedCount())
        statistics->ObservedValues()[i] = window[10][static_cast<size_t>(c)];
      else if (firstListed && outputListCount > 0 && outputList != nullptr && codes.Exists(outputList[1]) &&
               codes.Internal(outputList[1]) == i)
        statistics->ObservedValues()[1] = window[10][static_cast<size_t>(c)];
    }
    if (stepCounter <= rSquareOffset) continue;
    const double factor = objectOf[static_cast<size_t>(i)] > 0
                              ? routingObjects[static_cast<size_t>(objectOf[static_cast<size_t>(i)]) - 1]->areaFactor
                              : 1.0;
    const double k = cellCounts[0] * cellCounts[static_cast<size_t>(i)] * 16.6666667;
    for (int s = 0; s < kObservedWindowRows; ++s) {
      double o = window[static_cast<size_t>(s)][static_cast<size_t>(c)];
      if (!(o > 0.0)) continue;
      double sim = input[static_cast<size_t>(i)];
      if (flowControl >= 3) {
        if (unitCode == 1)
          sim = k / dt * sim / factor;
        else
          o = o * dt * factor / k;
      } else if (unitCode == 1) {
        sim = sim * k / dt / factor;
        o = o * k / dt / factor;
      }
      EfficiencyRecord& l = linearSums[static_cast<size_t>(s)][static_cast<size_t>(i)];
      l.n_p += 1.0;
      l.s_d += sim - o;
      l.s_dd += (sim - o) * (sim - o);
      l.n_o += 1.0;
      l.s_o += o;
      l.s_oo += o * o;
      if (sim > 0.0 && o > 0.0) {
        EfficiencyRecord& g = logSums[static_cast<size_t>(s)][static_cast<size_t>(i)];
        const double ls = std::log(sim), lo = std::log(o);
        g.n_p += 1.0;
        g.s_d += ls - lo;
        g.s_dd += (ls - lo) * (ls - lo);
        g.n_o += 1.0;
        g.s_o += lo;
        g.s_oo += lo * lo;
      }
    }
  }
  shift();
  RequireObservedRow();
  if (observed->CurrentRow() < observed->RowCount()) {
    FillWindowRow(window[20]);
  } else {
    std::fill(window[20].begin(), window[20].end(), 0.0);
  }
  AdvanceObserved();
}
