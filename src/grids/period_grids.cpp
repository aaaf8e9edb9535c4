// modelobject::WriteGrids: accumulates a registered grid into its period grids (sum,
// minimum, maximum, vegetation-period sum) and writes the grid and its period grids when
// their time has come, under names derived from the registered file names.
#include "grids/period_grids.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "grids/grid_io_internal.h"
#include "grids/grid_registry.h"

namespace {

int StemLength(const PeriodNameParts& p) { return static_cast<int>(p.stem.size()); }

}  // namespace

PeriodNameParts SplitPeriodName(const std::string& source) {
  PeriodNameParts parts;
  const size_t slash = source.rfind('/');
  std::string base = source;
  if (slash != std::string::npos) {
    parts.directory = source.substr(0, slash + 1);
    base = source.substr(slash + 1);
  }
  if (base.find('.', 1) == std::string::npos) base += ".";
  parts.stem = base.substr(0, base.find('.'));
  return parts;
}

std::string PeriodSumName(const std::string& source, int tensDigit, const ModelDate& d) {
  const PeriodNameParts p = SplitPeriodName(source);
  const int n = StemLength(p);
  const char* s = p.stem.c_str();
  // "1985" for a year, "198501" for a month, "009001.31" for a day (the year of its century).
  const std::string year = DateText(d, kFileDate.Until(DateField::kYear));
  const std::string month = DateText(d, kFileDate.Until(DateField::kMonth));
  const std::string day = DateText(d.year % 100, d.month, d.day, 0, 0, kFileDate.Until(DateField::kMonth)) +
                          FormatText(".%02ld", static_cast<long>(d.day));
  std::string name;
  switch (tensDigit) {
    case 1: name = FormatText("%.*s.sum", n, s); break;
    case 2: name = FormatText("%.*s_%s00.sum", n, s, year.c_str()); break;
    case 3: name = FormatText("%.*s_%s.sum", n, s, month.c_str()); break;
    case 4: name = FormatText("%.*s_%ss", n, s, day.c_str()); break;
    case 5: name = FormatText("%.*s.mit", n, s); break;
    case 6: name = FormatText("%.*s_%s00.mit", n, s, year.c_str()); break;
    case 7: name = FormatText("%.*s_%s.mit", n, s, month.c_str()); break;
    case 8: name = FormatText("%.*s_%sm", n, s, day.c_str()); break;
    default: return std::string();
  }
  return p.directory + name;
}

std::string MinimumName(const std::string& source) {
  const PeriodNameParts p = SplitPeriodName(source);
  return p.directory + FormatText("%.*s.min", StemLength(p), p.stem.c_str());
}

std::string MaximumName(const std::string& source) {
  const PeriodNameParts p = SplitPeriodName(source);
  return p.directory + FormatText("%.*s.max", StemLength(p), p.stem.c_str());
}

std::string VegetationPeriodName(const std::string& source, int thousandsDigit, int64_t year) {
  const PeriodNameParts p = SplitPeriodName(source);
  const std::string date = DateText(year, 1, 1, 0, 0, kFileDate.Until(DateField::kYear));
  const char* format = thousandsDigit == 2 ? "%.*s_%s_vegper.mit" : "%.*s_%s_vegper.sum";
  return p.directory + FormatText(format, StemLength(p), p.stem.c_str(), date.c_str());
}

std::string DatedGridName(const std::string& source, const ModelDate& d, int64_t repeatCount, bool netcdf) {
  const PeriodNameParts p = SplitPeriodName(source);
  const int n = StemLength(p);
  const char* s = p.stem.c_str();
  if (netcdf) return p.directory + FormatText("%.*s_%s", n, s, "timeseries");
  const std::string date = DateText(d, kFileDate);
  if (repeatCount > 0)
    return p.directory + FormatText("%.*s_%s_%.03ld", n, s, date.c_str(), static_cast<long>(repeatCount));
  return p.directory + FormatText("%.*s_%s", n, s, date.c_str());
}

std::string VegetationLayerOf(const std::string& fileName) {
  const std::string key = "_Layer_";
  const size_t at = fileName.find(key);
  if (at == std::string::npos) return "1";
  const std::string rest = fileName.substr(at + key.size());
  return rest.substr(0, rest.find('.'));
}

PeriodClock PeriodClockAt(const ModelDate& d, double stampToStepEndHours, int64_t stepMinutes, int64_t endDateKey) {
  PeriodClock k;
  k.endOfRun = d.Key() >= endDateKey;
  const DayEnds ends = DayEndsOfStep(d, stampToStepEndHours, stepMinutes);
  // Midnight written as 0 h of the next day ends the day before, as 24 h of that day does.
  k.day = ends.count > 0 ? ends.last : CalendarStamp(d, stampToStepEndHours);
  if (ends.count == 0) return k;
  k.endOfDay = true;
  // A month or year ends with the step when one of the days that end is its last (the
  // month's length in that day's own year).
  const ModelDate& first = ends.first;
  const ModelDate& last = ends.last;
  if (last.day == DaysInMonth(last.year, last.month)) {
    k.endOfMonth = true;
    k.monthEnd = last;
  } else if (first.year != last.year || first.month != last.month) {
    k.endOfMonth = true;
    k.monthEnd = DayOfNumber(DayNumber(last.year, last.month, 1) - 1);
  }
  if (last.month == 12 && last.day == 31) {
    k.endOfYear = true;
    k.yearEnd = last;
  } else if (first.year != last.year) {
    k.endOfYear = true;
    k.yearEnd = DayOfNumber(DayNumber(last.year, 1, 1) - 1);
  }
  return k;
}

void modelobject::WriteGrids(int position, int onlyThisInstance, bool noPeriodOutput) {
  if (!grids || position < 1 || position > kMaxGridPosition) return;
  GridRecord& rec = grids[position];
  if (rec.units == 0 && rec.tens == 0 && rec.h1 == 0 && rec.h2 == 0 && rec.thousands == 0) return;
  if (!rec.data) return;
  double** data = rec.data;
  const GridGeometry& g = geometry;
  const double nodata = g.nodata_value;
  rec.accumulatedSteps += 1.0;

  // Counted cells: inside the zone grid and, when asked, owned by this instance.
  double** zone = grid_io::ZoneGridOf(*this);
  double** regions = nullptr;
  if (onlyThisInstance) {
    const int p = FindGrid("MPIRegions");
    if (p > 0) regions = grids[p].data;
  }
  const int rowLo = std::max(1, rec.firstRow), rowHi = std::min(g.nrows, rec.lastRow);
  auto counted = [&](int r, int c) {
    if (zone && !(zone[r] && zone[r][c] > nodata)) return false;
    if (regions && !(regions[r] && regions[r][c] == instanceNumber)) return false;
    return true;
  };
  // Calls f(r, c, counted) for every cell of the row range's active columns of held rows.
  auto forCells = [&](auto&& f) {
    for (int r = rowLo; r <= rowHi; ++r) {
      if (!data[r]) continue;
      int first, last;
      grid_io::ActiveColumns(*this, r, first, last);
      for (int c = first; c <= last; ++c) f(r, c, counted(r, c));
    }
  };

  // Level 1 of a stack is the grid that is accumulated; a stack of level 0 alone has none.
  if (rec.stack && rec.stackLevels >= 1 && (rec.tens > 0 || rec.h1 || rec.h2))
    forCells([&](int r, int c, bool in) {
      if (in && rec.stack[r] && rec.stack[r][c]) data[r][c] = rec.stack[r][c][1];
    });

  if (rec.tens != 0 && rec.periodT)
    forCells([&](int r, int c, bool in) { rec.periodT[r][c] = in ? rec.periodT[r][c] + data[r][c] : nodata; });

  if (rec.periodStarted == 0) {
    forCells([&](int r, int c, bool in) {
      if (rec.h1 && rec.periodH1) rec.periodH1[r][c] = in ? data[r][c] : nodata;
      if (rec.h2 && rec.periodH2) rec.periodH2[r][c] = in ? data[r][c] : nodata;
    });
    rec.periodStarted = 1;
  } else if (rec.h1 || rec.h2) {
    forCells([&](int r, int c, bool in) {
      if (!in) return;
      if (rec.h1 && rec.periodH1 && data[r][c] < rec.periodH1[r][c]) rec.periodH1[r][c] = data[r][c];
      if (rec.h2 && rec.periodH2 && data[r][c] > rec.periodH2[r][c]) rec.periodH2[r][c] = data[r][c];
    });
  }

  const ModelDate date = stepDate;
  const bool ascii = output.writeAsciiGrids, asDouble = output.writeDoubleGrids, netcdf = output.writeNetcdfGrids;
  const bool mainInstance = instanceNumber == 0;
  // Period grids are named by the day, month or year that ends; the grid itself by its stamp.
  const PeriodClock clock = PeriodClockAt(date, output.stampToStepEndHours, output.runStepMinutes, endDateKey);

  if (rec.thousands != 0 && rec.periodK) {
    if (!rec.vegetationStart) {
      const std::string k = VegetationLayerOf(rec.firstFileName);
      double** found[3];
      const char* names[3] = {"VegetationStart", "VegetationStop", "VegetationDuration"};
      for (int i = 0; i < 3; ++i) {
        if (FindGrid(names[i] + k, true) == 0 && log)
          *log << "FATAL: the write code of grid " << rec.internalName << " (file " << rec.firstFileName
               << ") asks for vegetation-period sums (its thousands digit is " << rec.thousands
               << "), which need the grid " << names[i] << k
               << " that only a run with a land-use grid makes; the write code counts modulo 10000" << "[end-entry]";
        const int p = RequireGrid(names[i] + k);
        found[i] = grids[p].data;
        if (!found[i]) {
          if (log)
            *log << "FATAL: grid " << names[i] << k << " holds no data (needed within " << name << ")"
                 << "[end-entry]";
          throw 33;
        }
      }
      rec.vegetationStart = found[0];
      rec.vegetationStop = found[1];
      rec.vegetationDuration = found[2];
    }
    double** start = rec.vegetationStart;
    double** stop = rec.vegetationStop;
    forCells([&](int r, int c, bool in) {
      if (in && start[r] && stop[r] && start[r][c] >= 0.0 && stop[r][c] <= 0.0 && data[r][c] != nodata)
        rec.periodK[r][c] += data[r][c];
    });
    if (rec.vegetationPeriodEnded == 1) {
      rec.vegetationPeriodEnded = 0;
      if (rec.thousands == 2) {
        double** duration = rec.vegetationDuration;
        forCells([&](int r, int c, bool in) {
          if (!in) return;
          // A mean over no days has no value.
          const double days = duration[r] ? duration[r][c] : 0.0;
          rec.periodK[r][c] = days > 0.0 ? rec.periodK[r][c] / days : nodata;
        });
      }
      if (mainInstance)
        WriteGridDouble(VegetationPeriodName(rec.fileNameK, rec.thousands, clock.day.year), rec.periodK.get(), ascii,
                        asDouble, netcdf);
    }
    if (rec.vegetationPeriodBegins == 1) {
      forCells([&](int r, int c, bool in) { rec.periodK[r][c] = in ? 0.0 : nodata; });
      rec.vegetationPeriodBegins = 0;
    }
  }

  // The grid itself, by its units digit.
  const int units = rec.units;
  bool due = false;
  switch (units) {
    case 1: case 2: case 8: due = true; break;
    case 3: due = clock.endOfRun; break;
    case 4: case 5: due = clock.endOfDay; break;
    case 6: due = clock.endOfMonth; break;
    case 7: due = clock.endOfYear; break;
    default: break;
  }
  if (due) {
    std::string fileName;
    if (units == 1 || units == 3 || units == 4) {
      fileName = rec.firstFileName;
    } else if (units == 8) {
      fileName = rec.firstFileName + ".filled";
      rec.units = 0;
    } else {
      const bool repeated = date.year == rec.lastYear && date.month == rec.lastMonth && date.day == rec.lastDay &&
                            date.hour == rec.lastHour && date.minute == rec.lastMinute;
      rec.repeatCount = repeated ? rec.repeatCount + 1 : 0;
      fileName = DatedGridName(rec.firstFileName, date, rec.repeatCount, netcdf);
      rec.lastYear = date.year;
      rec.lastMonth = date.month;
      rec.lastDay = date.day;
      rec.lastHour = date.hour;
      rec.lastMinute = date.minute;
    }
    if (mainInstance) {
      // The last state of the run under the grid's own name is a file of the end state.
      const bool endState = clock.endOfRun && units != 8;
      const ModelDate& d = date;
      if (endState && fileName == rec.firstFileName)
        WriteStateGrid(fileName, data, ascii, asDouble, netcdf, d.year, d.month, d.day, d.hour, d.minute);
      else
        WriteGrid(fileName, data, ascii, asDouble, netcdf, d.year, d.month, d.day, d.hour, d.minute);
      if (clock.endOfRun && (units == 2 || units >= 5)) {
        if (endState)
          WriteStateGrid(rec.firstFileName, data, ascii, asDouble, netcdf);
        else
          WriteGrid(rec.firstFileName, data, ascii, asDouble, netcdf);
      }
    }
  }

  if (noPeriodOutput) return;
  if (rec.h1 && rec.periodH1 && clock.endOfRun && mainInstance)
    WriteGridDouble(MinimumName(rec.fileNameH1), rec.periodH1.get(), ascii, asDouble, netcdf);
  if (rec.h2 && rec.periodH2 && clock.endOfRun && mainInstance)
    WriteGridDouble(MaximumName(rec.fileNameH2), rec.periodH2.get(), ascii, asDouble, netcdf);
  if (rec.tens >= 1 && rec.tens <= 8 && rec.periodT) {
    bool ends = false;
    const ModelDate* period = &clock.day;
    switch (rec.tens) {
      case 1: case 5: ends = clock.endOfRun; break;
      case 2: case 6: ends = clock.endOfYear, period = &clock.yearEnd; break;
      case 3: case 7: ends = clock.endOfMonth, period = &clock.monthEnd; break;
      default: ends = clock.endOfDay; break;
    }
    if (ends) {
      if (rec.tens >= 5)
        forCells([&](int r, int c, bool in) {
          if (in) rec.periodT[r][c] /= rec.accumulatedSteps;
        });
      if (mainInstance)
        WriteGridDouble(PeriodSumName(rec.fileNameT, rec.tens, *period), rec.periodT.get(), ascii, asDouble, netcdf);
      rec.accumulatedSteps = 0.0;
      forCells([&](int r, int c, bool in) {
        if (in) rec.periodT[r][c] = 0.0;
      });
    }
  }
}

namespace {

// A name made for a sample date with every digit behind its first `kept` characters turned
// into an any-digit place: the stem keeps its own digits, the date part matches every date.
std::string DigitsFreeAfter(const std::string& name, size_t kept) {
  std::string pattern = name;
  for (size_t i = kept; i < pattern.size(); ++i)
    if (std::isdigit(static_cast<unsigned char>(pattern[i]))) pattern[i] = RunFiles::kAnyDigit;
  return pattern;
}

size_t StemEnd(const std::string& source) {
  const PeriodNameParts p = SplitPeriodName(source);
  return p.directory.size() + p.stem.size();
}

ModelDate SampleDate() {
  ModelDate d;
  d.year = 1111;
  d.month = d.day = d.hour = d.minute = 11;
  return d;
}

}  // namespace

std::string DatedGridPattern(const std::string& source, bool repeated) {
  return DigitsFreeAfter(DatedGridName(source, SampleDate(), repeated ? 1 : 0, false), StemEnd(source));
}

std::string PeriodSumPattern(const std::string& source, int tensDigit) {
  return DigitsFreeAfter(PeriodSumName(source, tensDigit, SampleDate()), StemEnd(source));
}

std::string VegetationPeriodPattern(const std::string& source, int thousandsDigit) {
  return DigitsFreeAfter(VegetationPeriodName(source, thousandsDigit, SampleDate().year), StemEnd(source));
}
