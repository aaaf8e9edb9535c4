#include "framework/zonalstatistic.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <new>

#include "framework/append_file.h"
#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"

namespace {
// Rows of the buffer of a writer without zone columns (the total only).
constexpr long kTotalOnlyCapacity = 43690;

// Every active writer of the process, in the order they were built.
std::mutex liveMutex;
std::vector<zonalstatistic*>& LiveWriters() {
  static std::vector<zonalstatistic*> writers;
  return writers;
}
void Forget(zonalstatistic* w) {
  std::lock_guard<std::mutex> lock(liveMutex);
  auto& all = LiveWriters();
  all.erase(std::remove(all.begin(), all.end(), w), all.end());
}

}  // namespace

zonalstatistic::zonalstatistic(int* errorFlag, LogStream* logStream, StatisticsTableEntry* /*table*/,
                               int /*tableSize*/, double** weights, int rows, int cols, ZoneTableEntry* zoneTable,
                               int zoneCountIn, int code, int decimalsIn, const std::string& name,
                               const char* outputDirectory, int listCountIn, const int* listCodesIn,
                               bool minuteColumnIn) {
  static int ignoredError = 0;
  error = errorFlag != nullptr ? errorFlag : &ignoredError;
  *error = 0;
  log = logStream;
  if (code <= 1000) {
    ok = true;
    return;
  }
  try {
    mode = code / 1000;
    period = code % 1000;
    weightGrid = weights;
    weightRows = rows;
    weightCols = cols;
    zones = zoneTable;
    zoneCount = std::max(zoneCountIn, 0);
    decimals = decimalsIn;
    minuteColumn = minuteColumnIn;
    fileName = name;
    if (outputDirectory != nullptr && !name.empty() && name[0] != '/' && name[0] != '~')
      fileName = std::string(outputDirectory) + name;
    if (zones == nullptr) {
      if (log) *log << "FATAL: statistics file " << fileName << " has no zone table" << "[end-entry]";
      throw 1;
    }
    // Codes whose digits select no output of their own are kept as they read, and said.
    if (log && mode > 6)
      *log << "WARNING: statistics code " << code << " of " << fileName << ": its mode " << mode
           << " is none of 1 to 6 and counts as mode 3, the basin total's sum"
           << (period > 0 ? ", a row every " + std::to_string(period) + " steps" : std::string()) << "[end-entry]";
    if (log && period == 0)
      *log << "WARNING: statistics code " << code << " of " << fileName
           << ": its period 0 writes no row; the file holds its header only" << "[end-entry]";

    listCount = listCodesIn != nullptr ? std::min(zoneCount, std::max(listCountIn, 0)) : 0;
    listCodes.assign(listCount + 1, 0);
    listMap.assign(listCount + 2, 0);
    // Each listed code belongs to a zone behind the zone of the previous code: the list
    // is walked together with the zones, so it must be in ascending order.
    int j = 0;
    for (int k = 1; k <= listCount; ++k) {
      listCodes[k] = listCodesIn[k];
      int found = 0;
      for (j = std::max(j + 1, k); j <= zoneCount; ++j) {
        if (static_cast<long long>(zones[j].code) == listCodes[k]) {
          found = j;
          break;
        }
      }
      if (found == 0) {
        if (log) {
          *log << "FATAL: \n\n ------ error ------\n\n there is a code in the output list which no zone exists for ("
               << listCodes[k] << "): the sub-basin code " << listCodes[k] << " of [output_list] (entry " << k
               << ") names no zone of the zone grid, which has the codes";
          for (int z = 1; z <= zoneCount && z <= 20; ++z) *log << " " << static_cast<long long>(zones[z].code);
          *log << (zoneCount > 20 ? " ..." : "") << " (statistics file " << fileName << ")" << "[end-entry]";
        }
        throw 1;
      }
      listMap[k] = found;
    }

    // The row buffer is sized to 2 MB of rows.
    int sizingColumns = 0;
    if (AllZonesMode())
      sizingColumns = zoneCount;
    else if (mode >= 5)
      sizingColumns = listCount;
    columns = ColumnsForMode();
    valuesPerRow = columns + 1;
    valueCount = valuesPerRow + 1;
    valueSlots = sizingColumns + 2;
    if (mode == 1 || mode == 3) {
      capacity = kTotalOnlyCapacity;
    } else {
      capacity = kStatisticsBufferBytes / (8L * sizingColumns + 40L);
      if (capacity < 1) capacity = 1;
    }
    rowDates.assign(capacity, std::array<int64_t, 5>{});
    rowValues.assign(static_cast<size_t>(capacity) * valueSlots, 0.0);
    currentValues.assign(valueSlots, 0.0);
    secondValues.assign(valueSlots, 0.0);
    areaFractions.assign(valueSlots, 0.0);
    codes.assign(valueSlots, 0);

    for (int z = 0; z <= zoneCount; ++z) {
      zones[z].areaSum = 0.0;
      ValueSum(zones[z]) = 0.0;
      WeightedAreaSum(zones[z]) = 0.0;
    }
    if (period >= 2) {
      try {
        carriedValueSums.assign(zoneCount + 1, 0.0);
        carriedAreaSums.assign(zoneCount + 1, 0.0);
        carriedWeightedAreaSums.assign(zoneCount + 1, 0.0);
      } catch (const std::bad_alloc&) {
        if (log) *log << "FATAL: no free memory in zonalstatistik::zonalstatistik " << "[end-entry]";
        throw 1;
      }
    }
    active = true;
    ok = true;
    std::lock_guard<std::mutex> lock(liveMutex);
    LiveWriters().push_back(this);
  } catch (...) {
    // The owner learns of the failure through the error flag.
    *error = 1;
    ok = false;
    active = false;
  }
}

zonalstatistic::~zonalstatistic() {
  Forget(this);
  if (file != nullptr) std::fclose(file);
}

int zonalstatistic::WriteEveryBuffer() {
  std::vector<zonalstatistic*> writers;
  {
    std::lock_guard<std::mutex> lock(liveMutex);
    writers = LiveWriters();
  }
  WriteEach each;
  for (zonalstatistic* w : writers)
    if (w->active && w->filledRows > 0 && !w->writeFailed) each([&] { w->WriteRow(); });
  return each.First();
}

int zonalstatistic::ColumnsForMode() const {
  if (AllZonesMode()) return zoneCount;
  if (ListMode()) return listCount;
  return 0;  // 1, 3 and every mode above 6: the total only
}

void zonalstatistic::OpenFile(const char* openMode) {
  streamErrno = 0;
  // The file is created once, with its header; while the run is built under a staged name.
  const bool creating = openMode && openMode[0] == 'w';
  std::string entry;
  if (creating) {
    // The title is "<what>_submodel:<module>".
    const size_t cut = title.find("_submodel:");
    const std::string what = title.substr(0, cut);
    const std::string module = cut == std::string::npos ? std::string() : title.substr(cut + 10);
    entry = "the statistics file " + fileName + " of " + what +
            (module.empty() || module[0] == '(' ? "" : " in [" + module + "]");
    file = RunFiles::Current().CreateStream(entry, fileName, openMode);
  } else {
    file = std::fopen(fileName.c_str(), openMode);
  }
  if (file == nullptr) {
    const int e = errno;
    const std::string unwritable = creating ? UnwritableOutput(entry) : std::string();
    if (!unwritable.empty()) {
      if (log) *log << "FATAL: " << unwritable << "[end-entry]";
      throw kOutputRefused;
    }
    const bool writing = openMode && openMode[0] != 'r';
    if (log) *log << "FATAL: error opening " << fileName << FileOpenReason(fileName, writing, e) << "[end-entry]";
    throw 15;
  }
}

void zonalstatistic::CloseFile() {
  if (file == nullptr) return;
  // A failed write shows as an error of the stream or of the final flush.
  int e = streamErrno;
  bool failed = std::ferror(file) != 0;
  if (std::fflush(file) != 0) {
    failed = true;
    if (e == 0) e = errno;
  }
  if (std::fclose(file) != 0) {
    failed = true;
    if (e == 0) e = errno;
  }
  file = nullptr;
  if (failed) {
    if (log) *log << "FATAL: cannot close " << fileName << FileOpenReason(fileName, true, e) << "[end-entry]";
    throw 16;
  }
}

void zonalstatistic::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (std::vfprintf(file, format, args) < 0 && streamErrno == 0) streamErrno = errno;
  va_end(args);
}

void zonalstatistic::WriteHeaderLines(bool totalColumn, const double* lineThreeValues) {
  Printf("YY\tMM\tDD\tHH");
  if (minuteColumn) Printf("\tmm");
  for (int c = 1; c <= columns; ++c) Printf("\t\"%.0lf\"", zones[ZoneOfColumn(c)].code);
  Printf(totalColumn ? "\ttot_average\n" : "\n");
  Printf("%s\n", title.c_str());
  Printf("--\t--\t--\t--");
  if (minuteColumn) Printf("\t--");
  for (int c = 1; c <= columns; ++c) Printf("\t%.7lf", lineThreeValues[ZoneOfColumn(c)]);
  Printf(totalColumn ? "\t1.0000\n" : "\n");
}

int zonalstatistic::WriteHeader(const std::string& title1, const std::string& title2,
                                StatisticsTableEntry* statTable, int tableSize) {
  if (!active) return -1;
  title = title1 + "_submodel:" + title2;
  std::vector<double> fractions(zoneCount + 1, 0.0);
  for (int z = 0; z <= zoneCount; ++z) fractions[z] = zones[z].fraction;
  CreateFileWithHeader(true, fractions.data());
  ResetColumnArrays();
  areaFractions[columns + 1] = 1.0;
  EnterIntoTable(statTable, tableSize, 1);
  return tableIndex;
}

void zonalstatistic::CreateFileWithHeader(bool totalColumn, const double* lineThreeValues) {
  IgnoreCtrlC();
  try {
    OpenFile("w");
    WriteHeaderLines(totalColumn, lineThreeValues);
    CloseFile();
  } catch (...) {
    DisableCtrlCHandler();
    throw;
  }
  DisableCtrlCHandler();
}

void zonalstatistic::ResetColumnArrays() {
  for (int c = 1; c <= columns; ++c) {
    codes[c] = static_cast<int64_t>(zones[ZoneOfColumn(c)].code);
    areaFractions[c] = zones[ZoneOfColumn(c)].fraction;
  }
  std::fill(currentValues.begin(), currentValues.end(), 0.0);
  std::fill(secondValues.begin(), secondValues.end(), 0.0);
}

void zonalstatistic::EnterIntoTable(StatisticsTableEntry* statTable, int tableSize, int entries) {
  tableIndex = -1;
  if (statTable == nullptr || tableSize < entries) return;
  // Entry 0 first, then the first run of free entries 1..size-1.
  auto freeRun = [&](int i) {
    for (int e = 0; e < entries; ++e)
      if (i + e >= tableSize || statTable[i + e].values != nullptr) return false;
    return true;
  };
  for (int i = 0; i < tableSize; ++i) {
    if (freeRun(i)) {
      tableIndex = i;
      break;
    }
  }
  if (tableIndex < 0) return;
  table = statTable;
  tableEntries = entries;
  StatisticsTableEntry& e = statTable[tableIndex];
  e.lastRowDate = lastRowDate.data();
  e.valueCount = &valuesPerRow;
  e.values = currentValues.data();
  e.secondValues = secondValues.data();
  e.areaFractions = areaFractions.data();
  e.title = title.c_str();
  e.codes = codes.data();
}

void zonalstatistic::ClearTableEntries() {
  if (table != nullptr && tableIndex >= 0)
    for (int e = 0; e < tableEntries; ++e) table[tableIndex + e] = StatisticsTableEntry{};
  table = nullptr;
  tableIndex = -1;
  tableEntries = 0;
}

void zonalstatistic::ClearZoneSums() {
  if (!active) return;
  ++stepCounter;
  for (int z = 0; z <= zoneCount; ++z) {
    zones[z].areaSum = 0.0;
    ValueSum(zones[z]) = 0.0;
    WeightedAreaSum(zones[z]) = 0.0;
  }
}

void zonalstatistic::AddCellValue(int row, int col, int zoneIndex, double value, double weight) {
  if (!active || zoneIndex < 0 || zoneIndex > zoneCount) return;
  ZoneTableEntry& z = zones[zoneIndex];
  z.areaSum += weight;
  if (weightGrid != nullptr && row >= 1 && row <= weightRows && col >= 1 && col <= weightCols &&
      weightGrid[row] != nullptr && weightGrid[row][col] > weightNodata) {
    const double w = weightGrid[row][col];
    WeightedAreaSum(z) += w * weight;
    ValueSum(z) += weight * value * w;
  } else {
    WeightedAreaSum(z) += weight;
    ValueSum(z) += weight * value;
  }
}

void zonalstatistic::PrepareBlocks(int firstRow, int lastRow) {
  const int rows = lastRow - firstRow + 1;
  BlockSums& b = blockSums;
  b.firstRow = firstRow;
  b.lastRow = lastRow;
  b.rowsPerBlock = (rows + kMaxBlocks - 1) / kMaxBlocks;
  b.blocks = (rows + b.rowsPerBlock - 1) / b.rowsPerBlock;
  const size_t slots = static_cast<size_t>(b.blocks) * (static_cast<size_t>(zoneCount) + 1);
  if (b.touched.size() < slots) {
    b.sums.assign(slots * 3, 0.0);
    b.touched.assign(slots, 0);
    b.touchedZones.assign(slots, 0);
  }
  if (b.touchedCount.size() < static_cast<size_t>(b.blocks)) b.touchedCount.assign(static_cast<size_t>(b.blocks), 0);
}

void zonalstatistic::FoldBlocks() {
  BlockSums& b = blockSums;
  const size_t perBlock = static_cast<size_t>(zoneCount) + 1;
  for (int k = 0; k < b.blocks; ++k) {
    const size_t base = static_cast<size_t>(k) * perBlock;
    const int n = b.touchedCount[static_cast<size_t>(k)];
    for (int i = 0; i < n; ++i) {
      const int z = b.touchedZones[base + static_cast<size_t>(i)];
      const size_t slot = base + static_cast<size_t>(z);
      double* s = &b.sums[slot * 3];
      ZoneTableEntry& e = zones[z];
      e.areaSum += s[0];
      ValueSum(e) += s[1];
      WeightedAreaSum(e) += s[2];
      s[0] = s[1] = s[2] = 0.0;
      b.touched[slot] = 0;
    }
    b.touchedCount[static_cast<size_t>(k)] = 0;
  }
}

bool zonalstatistic::AggregateZones(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                                    bool routing) {
  if (period >= 2) {
    for (int z = 1; z <= zoneCount; ++z) {
      ValueSum(zones[z]) += carriedValueSums[z];
      if (MeanMode()) {
        zones[z].areaSum += carriedAreaSums[z];
        WeightedAreaSum(zones[z]) += carriedWeightedAreaSums[z];
      }
    }
  }
  const bool rowBegan = stepCounter == period;
  double* row = nullptr;
  if (rowBegan) {
    lastRowDate = {year, month, day, hour, minute};
    rowDates[filledRows] = lastRowDate;
    row = &rowValues[static_cast<size_t>(filledRows) * valueSlots];
    valuesInRow = 0;
  }
  int nextListed = 1;
  for (int z = 1; z <= zoneCount; ++z) {
    const ZoneTableEntry& e = zones[z];
    // A zone without weight has no mean: it gets 0, never a division by 0.
    double value = 0.0;
    if (e.areaSum > 0.0 && WeightedAreaSum(e) > 0.0)
      value = routing ? (ValueSum(e) / e.areaSum) * (e.areaSum / WeightedAreaSum(e)) : ValueSum(e) / WeightedAreaSum(e);
    if (!rowBegan) continue;
    bool append = AllZonesMode();
    if (ListMode() && nextListed <= listCount && listMap[nextListed] == z) {
      append = true;
      ++nextListed;
    }
    if (append) {
      ++valuesInRow;
      row[valuesInRow] = value;
      currentValues[valuesInRow] = value;
    }
  }
  if (!routing) {
    double valueSum = 0.0, weightSum = 0.0;
    for (int z = 1; z <= zoneCount; ++z) {
      valueSum += ValueSum(zones[z]);
      weightSum += WeightedAreaSum(zones[z]);
    }
    lastValue = weightSum > 0.0 ? valueSum / weightSum : 0.0;
  }
  if (period >= 2) {
    for (int z = 1; z <= zoneCount; ++z) {
      carriedValueSums[z] = ValueSum(zones[z]);
      carriedAreaSums[z] = zones[z].areaSum;
      carriedWeightedAreaSums[z] = WeightedAreaSum(zones[z]);
    }
  }
  if (rowBegan && !routing) {
    ++valuesInRow;
    row[valuesInRow] = lastValue;
    currentValues[valuesInRow] = lastValue;
  }
  return rowBegan;
}

void zonalstatistic::FinishRow() {
  std::fill(carriedValueSums.begin(), carriedValueSums.end(), 0.0);
  std::fill(carriedAreaSums.begin(), carriedAreaSums.end(), 0.0);
  std::fill(carriedWeightedAreaSums.begin(), carriedWeightedAreaSums.end(), 0.0);
  stepCounter = 0;
  ++filledRows;
  if (filledRows >= capacity) WriteRow();
}

void zonalstatistic::AggregateAndWrite(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  if (!active || mode < 1) return;
  if (AggregateZones(year, month, day, hour, minute, false)) FinishRow();
}

std::string zonalstatistic::FormatValue(double v) const {
  char text[64];
  if (decimals > 98) {
    std::snprintf(text, sizeof text, "\t%.6g", v);
    return text;
  }
  const int n = std::snprintf(text, sizeof text, "\t%.*f", decimals, v);
  if (n >= 0 && n < static_cast<int>(sizeof text)) return text;
  std::string wide(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(&wide[0], wide.size(), "\t%.*f", decimals, v);
  wide.resize(static_cast<size_t>(n));
  return wide;
}

void zonalstatistic::WriteRow() {
  if (!active || filledRows == 0) return;
  std::string text;
  for (long r = 0; r < filledRows; ++r) {
    text += DateText(rowDates[r], kColumnDate.Until(minuteColumn ? DateField::kMinute : DateField::kHour));
    const double* row = &rowValues[static_cast<size_t>(r) * valueSlots];
    for (int c = 1; c <= valuesPerRow; ++c) text += FormatValue(row[c]);
    text += '\n';
  }
  bool opened = false;
  const int e = AppendWhole(fileName, text, opened);
  writeFailed = e != 0;
  if (!opened) {
    if (log) *log << "FATAL: error opening " << fileName << FileOpenReason(fileName, true, e) << "[end-entry]";
    throw 15;
  }
  if (e != 0) {
    if (log)
      *log << "FATAL: cannot close " << fileName << FileOpenReason(fileName, true, e) << ": its " << filledRows
           << " rows from " << DateText(rowDates[0], kMessageDate) << " on are not written" << "[end-entry]";
    throw 16;
  }
  const long bytes = (static_cast<long>(valuesPerRow) + 4) * filledRows * 8;
  if (log && !RoutineFlush)
    *log << "write " << fileName << "(" << bytes << " of " << kStatisticsBufferBytes << " buffer-bytes)"
         << "[end-entry]";
  filledRows = 0;
  valuesInRow = 0;
}

void zonalstatistic::Release() {
  // A run given up drops its rows; rows whose write failed are named already.
  if (ok && !DiscardBufferedOutput && !writeFailed) {
    try {
      WriteRow();
    } catch (int code) {
      NoteUnraisedWriteFailure(code);
    }
  }
  Forget(this);
  ClearTableEntries();
  active = false;
  rowDates = {};
  rowValues = {};
  currentValues = {};
  secondValues = {};
  areaFractions = {};
  codes = {};
  listMap = {};
  carriedValueSums = {};
  carriedAreaSums = {};
  carriedWeightedAreaSums = {};
  blockSums = BlockSums{};
  filledRows = 0;
}

namespace {
std::atomic<unsigned long> gridRewrites{1};
}  // namespace

void ZoneRuns::GridsRewritten() { gridRewrites.fetch_add(1); }
unsigned long ZoneRuns::Rewrites() { return gridRewrites.load(); }

void ZoneRuns::Update(const ZoneCells& cells, int zones) {
  const unsigned long rewrites = Rewrites();
  if (rewrites == madeRewrites && zones == madeZones && cells.zone == made.zone && cells.nodata == made.nodata &&
      cells.codeMap == made.codeMap && cells.maxCode == made.maxCode && cells.firstRow == made.firstRow &&
      cells.lastRow == made.lastRow && cells.ncols == made.ncols && cells.rowBounds == made.rowBounds &&
      cells.regions == made.regions && cells.instance == made.instance)
    return;
  runs.clear();
  rowRuns.clear();
  made = cells;
  madeZones = zones;
  madeRewrites = rewrites;
  if (cells.zone == nullptr || cells.codeMap == nullptr || cells.lastRow < cells.firstRow) return;
  rowRuns.reserve(static_cast<size_t>(cells.lastRow - cells.firstRow) + 2);
  for (int r = cells.firstRow; r <= cells.lastRow; ++r) {
    const size_t rowStart = runs.size();
    rowRuns.push_back(rowStart);
    if (cells.zone[r] == nullptr || (cells.regions && cells.regions[r] == nullptr)) continue;
    int first, last;
    cells.Columns(r, first, last);
    for (int c = first; c <= last; ++c) {
      const int zi = cells.ZoneIndex(r, c);
      if (zi <= 0 || zi > zones) continue;
      if (runs.size() > rowStart && runs.back().zone == zi && runs.back().last == c - 1)
        runs.back().last = c;
      else
        runs.push_back(Run{c, c, zi});
    }
  }
  rowRuns.push_back(runs.size());
}
