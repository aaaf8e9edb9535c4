// Summary outputs for the outside program of the coupling: per listed grid the current
// grid, its sum or mean since the previous write, or a running total (also saved under
// dated names at the end of a day, month or year); per listed statistic a small table.
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/coupling.h"
#include "init/defaultini.h"

namespace {

bool BeginsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Directory part (up to and including the last '/') and base name of a file name.
void SplitFileName(const std::string& fileName, std::string& directory, std::string& base) {
  const size_t slash = fileName.rfind('/');
  directory = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

}  // namespace

bool SavesAtEndOfDay(const std::string& writeCode) { return BeginsWith(writeCode, "SumTotal_D"); }

bool SavesAtEndOfMonth(const std::string& writeCode) {
  return BeginsWith(writeCode, "SumTotal_M") || BeginsWith(writeCode, "SumTotal_DM");
}

bool SavesAtEndOfYear(const std::string& writeCode) {
  return writeCode == "SumTotal_Y" || writeCode == "SumTotal_MY" || BeginsWith(writeCode, "SumTotal_DMY");
}

std::string EndOfDayName(const std::string& fileName, int year, int month, int day) {
  std::string dir, base;
  SplitFileName(fileName, dir, base);
  return dir + "SumTotal_EndOf_Day_" + DateText(year, month, day, 0, 0, kUnderscoredDate.Until(DateField::kDay)) + "_" +
         base;
}

std::string EndOfMonthName(const std::string& fileName, int year, int month) {
  std::string dir, base;
  SplitFileName(fileName, dir, base);
  return dir + "SumTotal_EndOf_Month_" + DateText(year, month, 1, 0, 0, kUnderscoredDate.Until(DateField::kMonth)) +
         "_" + base;
}

std::string EndOfYearName(const std::string& fileName, int year) {
  std::string dir, base;
  SplitFileName(fileName, dir, base);
  return dir + "SumTotal_EndOf_Year_" + DateText(year, 1, 1, 0, 0, kUnderscoredDate.Until(DateField::kYear)) + "_" +
         base;
}

std::string StatisticTableText(ExternalStatisticRecord& record, const std::string& writeCode, int stepCounter,
                               int zoneCount, int year, int month, int day, int hour) {
  std::ostringstream out;
  out << "date: " << DateText(year, month, day, hour, 0, kIsoDate.Until(DateField::kDay)) << "\n";
  out << "hour: " << std::setfill('0') << std::setw(2) << hour << "h\n" << std::setfill(' ');
  out << (record.name.size() > 150 ? record.name.substr(0, 150) + "..." : record.name) << "; " << zoneCount
      << " zones\n";
  const bool summing = HasSumGrid(writeCode);
  const bool mean = writeCode == "Mean";
  const double divisor = mean && stepCounter > 0 ? stepCounter : 1.0;
  double weighted = 0.0;
  auto at = [](const std::vector<double>& v, long k) { return k < static_cast<long>(v.size()) ? v[k] : 0.0; };
  for (long k = 1; k < record.n; ++k) {
    double value = at(record.values, k);
    if (summing && k < static_cast<long>(record.sums.size())) {
      record.sums[k] += value;
      value = record.sums[k];
    }
    weighted += at(record.weights, k) * value;
    const int64_t code = k < static_cast<long>(record.zoneCodes.size()) ? record.zoneCodes[k] : 0;
    out << static_cast<long long>(code) << "\t" << value / divisor << "\n";
  }
  out << "average" << "\t" << weighted / divisor << "\n";
  return out.str();
}

void defaultini::WriteSumTotal(int hour, int day, int month, int year, int /*unused*/, bool endOfDay,
                               bool endOfMonth, bool endOfYear) {
  ++coupling.stepCounter;
  const double nodata = geometry.nodata_value;
  const bool first = instanceNumber == 0;
  const OutputSettings& o = output;
  for (ExternalWriteGrid& g : coupling.writeGrids) {
    const int p = RequireGrid(g.internalName);
    double** source = grids[p].data;
    int r0 = grids[p].firstRow, r1 = grids[p].lastRow;
    if (r0 < 1) r0 = 1;
    if (r1 < 1 || r1 > geometry.nrows) r1 = geometry.nrows;
    // Calls f(row, column) for every active cell of the grid's rows.
    auto visit = [&](auto f) {
      for (int r = r0; r <= r1; ++r) {
        const int c0 = r < static_cast<int>(rowBounds.size()) ? rowBounds[r].first : 1;
        const int c1 = r < static_cast<int>(rowBounds.size()) ? rowBounds[r].last : geometry.ncols;
        for (int c = c0; c <= c1; ++c) f(r, c);
      }
    };
    const bool sumLike = g.writeCode == "Sum" || IsRunningTotal(g.writeCode);
    if ((sumLike || g.writeCode == "Mean") && g.sum && source) {
      double** out = g.sum.get();
      const double steps = coupling.stepCounter;
      visit([&](int r, int c) {
        if (OutsideThisInstance(r, c))
          out[r][c] = nodata;
        else
          out[r][c] = sumLike ? out[r][c] + source[r][c] : (source[r][c] + out[r][c]) / steps;
      });
      if (first) WriteGrid(g.fileName, out, o.writeAsciiGrids, o.writeDoubleGrids, o.writeNetcdfGrids);
      if (first && IsRunningTotal(g.writeCode)) {
        if (endOfDay && SavesAtEndOfDay(g.writeCode))
          WriteGrid(EndOfDayName(g.fileName, year, month, day), out, o.writeAsciiGrids, o.writeDoubleGrids,
                    o.writeNetcdfGrids);
        if (endOfMonth && SavesAtEndOfMonth(g.writeCode))
          WriteGrid(EndOfMonthName(g.fileName, year, month), out, o.writeAsciiGrids, o.writeDoubleGrids,
                    o.writeNetcdfGrids);
        if (endOfYear && SavesAtEndOfYear(g.writeCode))
          WriteGrid(EndOfYearName(g.fileName, year), out, o.writeAsciiGrids, o.writeDoubleGrids,
                    o.writeNetcdfGrids);
      }
      if (!IsRunningTotal(g.writeCode))
        visit([&](int r, int c) { out[r][c] = OutsideThisInstance(r, c) ? nodata : 0.0; });
    } else if (first && source) {
      WriteGrid(g.fileName, source, o.writeAsciiGrids, o.writeDoubleGrids, o.writeNetcdfGrids);
    }
  }
  if (!first || coupling.statistics.empty()) {
    coupling.stepCounter = 0;
    return;
  }
  for (ExternalWriteStatistic& s : coupling.statistics) {
    if (!s.record) continue;
    std::ofstream file(s.fileName, std::ios::trunc);
    if (!file) continue;  // a table that cannot be opened is skipped; the others are written
    file << StatisticTableText(*s.record, s.writeCode, coupling.stepCounter, run.zoneCount, year, month, day, hour);
    // Sums and means cover the steps since the previous write; running totals go on.
    if (s.writeCode == "Sum" || s.writeCode == "Mean")
      for (double& v : s.record->sums) v = 0.0;
  }
  coupling.stepCounter = 0;
}
