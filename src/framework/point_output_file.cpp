// Output files and entities of the special output: reading their settings, locating the
// points, the title lines and the buffered rows.
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/append_file.h"
#include "framework/control_keys.h"
#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/option_text.h"
#include "framework/point_output.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "grids/grid_registry.h"

namespace {

constexpr double kNoValue = -9999.0;

int ClampToInt(double v) {
  if (!(v == v)) return 0;  // NaN: outside every grid
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

// printf-style "%g" of one number.
std::string G(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

[[noreturn]] void Fail(LogStream* log, const std::string& message, int code) {
  if (log) *log << message << "[end-entry]";
  throw code;
}

// Whether the cell belongs to this instance.
bool IsActiveCell(const SpecialOutputContext& c, int row, int column) {
  if (!c.regions) return true;
  if (row < c.firstRow || row > c.lastRow || !c.regions[row]) return false;  // a row held elsewhere counts as -1
  const double v = c.regions[row][column];
  return v > -2147483648.0 && v < 2147483648.0 && static_cast<int>(v) == c.instanceNumber;
}

}  // namespace

int64_t SpecialOutputCapacity(int64_t valueCount) {
  const int64_t rowBytes = valueCount * 8 + 40;
  return rowBytes <= kSpecialOutputBufferBytes ? kSpecialOutputBufferBytes / rowBytes : 1;
}

int PointColumn(double x, double xllcorner, double cellsize) { return ClampToInt(std::ceil((x - xllcorner) / cellsize)); }

int PointRow(double y, double yllcorner, double cellsize, int nrows) {
  const double fromBottom = std::floor((y - yllcorner) / cellsize);
  return ClampToInt(static_cast<double>(nrows) - fromBottom);
}

// --- entities ---------------------------------------------------------------------------

SpecialOutputEntity::SpecialOutputEntity(const SpecialOutputContext& context, const std::string& text) {
  if (!GetKeyValueString(text, "ID", id) || !GetKeyValueString(text, "Symbol", symbol))
    Fail(context.log,
         "FATAL: Error in section [special_output]: an entity needs \"ID = <grid>;\" and \"Symbol = <column "
         "name>;\", found: " + text.substr(0, 200),
         104);
  GetKeyValueDoubles(text, "Xcoords", x);
  GetKeyValueDoubles(text, "Ycoords", y);
  GetKeyValueInts(text, "Level", levels);
  // The text of a file's first entity reaches back to the file's own keys: the section's
  // keys are known in it.
  ReportUnknownKeys(context.log, "[special_output]", "the entity " + id, text,
                    {"ID", "Symbol", "Xcoords", "Ycoords", "Level", "filename", "header", "numfiles"}, false);
  LogStream* log = context.log;
  const GridGeometry& g = context.geometry;
  if (x.size() != y.size())
    Fail(log,
         "FATAL: Error in section [special_output]: count of X coordinates dos not match the number of Y "
         "coordinates for entity " + id,
         1006);
  if (!levels.empty() && levels.size() != x.size())
    Fail(log,
         "FATAL: Error in section [special_output]: number of levels dos not match the number of X and Y "
         "coordinates for entity " + id + ". EIther each point has a level or none has.",
         1007);
  for (size_t k = 0; k < x.size(); ++k) {
    const int column = PointColumn(x[k], g.xllcorner, g.cellsize);
    if (column < 1 || column > g.ncols)
      Fail(log,
           "FATAL: Error in section [special_output]: x-coordinate " + G(x[k]) + ", defined as point " +
               std::to_string(k) + " for entity " + id + ", is located outside the actual grid.",
           1008);
    columns.push_back(column);
  }
  for (size_t k = 0; k < y.size(); ++k) {
    const int row = PointRow(y[k], g.yllcorner, g.cellsize, g.nrows);
    if (row < 1 || row > g.nrows)
      Fail(log,
           "FATAL: Error in section [special_output]: y-coordinate " + G(y[k]) + ", defined as point " +
               std::to_string(k) + " for entity " + id + ", is located outside the actual grid.",
           1008);
    rows.push_back(row);
  }
  gridPosition = FindGrid(context.grids, id);
  if (gridPosition == 0 && log)
    *log << "WARNING: special output: no grid with the internal name " << id << " is registered; the "
         << PointCount() << " column(s) of entity " << symbol << " hold -9999" << "[end-entry]";
}

int SpecialOutputEntity::FindGrid(const GridRecord* grids, const std::string& internalName) {
  if (!grids) return 0;
  // The whole registry: a freed record between two grids does not end the search.
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if ((grids[p].registered || grids[p].data || grids[p].stack) && grids[p].internalName == internalName) {
      grids[p].lookedUp = true;
      return p;
    }
  return 0;
}

int SpecialOutputEntity::CollectValues(const SpecialOutputContext& context, double* values, int firstColumn) const {
  const GridRecord* record = gridPosition > 0 && context.grids ? &context.grids[gridPosition] : nullptr;
  const bool fromStack = record && record->stack && !levels.empty();
  for (int k = 0; k < PointCount(); ++k) {
    double& out = values[firstColumn + k];
    out = kNoValue;
    const int r = rows[static_cast<size_t>(k)];
    const int c = columns[static_cast<size_t>(k)];
    if (!record || !IsActiveCell(context, r, c)) continue;
    if (r < context.firstRow || r > context.lastRow || c < 1 || c > context.geometry.ncols) continue;
    if (fromStack) {
      const int level = levels[static_cast<size_t>(k)];
      if (level < 1 || level > record->stackLevels) continue;
      if (record->stack[r] && record->stack[r][c]) out = record->stack[r][c][level];
    } else if (record->data && record->data[r]) {
      out = record->data[r][c];
    }
  }
  return firstColumn + PointCount();
}

std::string SpecialOutputEntity::CellTitles() const {
  std::string s;
  for (int k = 0; k < PointCount(); ++k) {
    s += "\t" + symbol + "/" + std::to_string(columns[static_cast<size_t>(k)]) + "/" +
         std::to_string(rows[static_cast<size_t>(k)]);
    if (!levels.empty()) s += "/" + std::to_string(levels[static_cast<size_t>(k)]);
  }
  return s;
}

std::string SpecialOutputEntity::CoordinateTitles() const {
  std::string s;
  for (int k = 0; k < PointCount(); ++k) {
    s += "\t" + symbol + "/" + G(x[static_cast<size_t>(k)]) + "/" + G(y[static_cast<size_t>(k)]);
    if (!levels.empty()) s += "/" + std::to_string(levels[static_cast<size_t>(k)]);
  }
  return s;
}

// --- files ------------------------------------------------------------------------------

std::string SpecialOutputFile::MakePath(const std::string& directory, const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '~' || directory.empty()) return name;
  return directory + name;
}

SpecialOutputFile::SpecialOutputFile(const SpecialOutputContext& ctx, const std::string& blockText) : context(ctx) {
  std::string name;
  if (!GetKeyValueString(blockText, "header", header) || !GetKeyValueString(blockText, "filename", name) ||
      name.empty())
    Fail(ctx.log,
         "FATAL: Error in section [special_output]: a file block needs \"filename = <name>;\" and \"header = "
         "<text>;\", found: " + blockText.substr(0, 200),
         104);
  fileName = MakePath(context.outputDirectory, name);

  std::string work = blockText;
  std::string entityText;
  while (ContainsOptionWord(work, "entity")) {
    if (!GetBracedText(work, entityText))
      Fail(context.log,
           "FATAL: Error in section [special_output]: \"entity\" has to be followed by its settings in braces, "
           "entity { ID = ...; Symbol = ...; Xcoords = ...; Ycoords = ...; }, in the block of " + name,
           104);
    entities.emplace_back(context, entityText);
  }

  for (const SpecialOutputEntity& e : entities) valueCount += e.PointCount();
  capacity = SpecialOutputCapacity(valueCount);
  dates.assign(static_cast<size_t>(capacity), {0, 0, 0, 0, 0});
  values.assign(static_cast<size_t>(capacity * (valueCount + 1)), 0.0);
  rowCount = 0;

  if (context.instanceNumber != 0) return;  // only instance 0 writes files
  const std::string dateTitles = context.minuteColumn ? "YY\tMM\tDD\tHH\tmm" : "YY\tMM\tDD\tHH";
  std::string text = dateTitles;
  for (const SpecialOutputEntity& e : entities) text += e.CellTitles();
  text += "\n" + header + "\n" + dateTitles;
  for (const SpecialOutputEntity& e : entities) text += e.CoordinateTitles();
  text += "\n";
  IgnoreCtrlC();
  const std::string entry = "[special_output] " + name;
  std::FILE* f = RunFiles::Current().CreateStream(entry, fileName);
  const bool opened = f != nullptr;
  bool ok = opened;
  if (f) {
    ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
  }
  EnableCtrlCHandler();
  const std::string unwritable = opened ? std::string() : UnwritableOutput(entry);
  if (!unwritable.empty()) Fail(context.log, "FATAL: " + unwritable, kOutputRefused);
  if (!ok)
    Fail(context.log,
         "FATAL: error opening file for special output of file\n" + fileName +
             "\n-> check file name, disk space or user rights",
         1007);
}

SpecialOutputFile::~SpecialOutputFile() {
  // A run given up: its rows are not written; rows whose write failed are named already.
  if (DiscardBufferedOutput || writeFailed) return;
  try {
    Flush();
  } catch (int code) {
    NoteUnraisedWriteFailure(code);  // named by WriteRows; the end of the run raises it
  }
}

void SpecialOutputFile::CollectValues(int64_t minute, int64_t hour, int64_t day, int64_t month, int64_t year) {
  if (newRow) {
    if (rowCount >= capacity) WriteRows();  // rows left by a failed write
    ++rowCount;
    dates[static_cast<size_t>(rowCount - 1)] = {year, month, day, hour, minute};
    newRow = false;
  }
  double* row = RowValues(rowCount);
  int column = 1;
  for (const SpecialOutputEntity& e : entities) column = e.CollectValues(context, row, column);
  if (rowCount >= capacity) WriteRows();
  newRow = true;
}

void SpecialOutputFile::Flush() {
  if (rowCount > 0) WriteRows();
}

void SpecialOutputFile::WriteRows() {
  if (context.instanceNumber == 0) {
    LogStream* log = context.log;
    if (log && !RoutineFlush) *log << "write " << fileName << "[end-entry]";
    std::string text;
    for (int64_t r = 1; r <= rowCount; ++r) {
      const std::array<int64_t, 5>& d = dates[static_cast<size_t>(r - 1)];
      text += DateText(d, kPlainColumnDate.Until(context.minuteColumn ? DateField::kMinute : DateField::kHour));
      const double* v = RowValues(r);
      for (int k = 1; k <= valueCount; ++k) text += FormatText("\t%g", v[k]);
      text += '\n';
    }
    bool opened = false;
    const int e = AppendWhole(fileName, text, opened);
    // On a failure the file keeps whole rows only and the rows stay buffered.
    writeFailed = e != 0;
    if (!opened) Fail(log, "FATAL: \nerror opening file " + fileName + FileOpenReason(fileName, true, e), 65);
    if (e != 0)
      Fail(log,
           "FATAL: \nerror writing file " + fileName + FileOpenReason(fileName, true, e) + ": its " +
               std::to_string(rowCount) + " rows are not written",
           65);
    if (log && !RoutineFlush)
      *log << "(" << static_cast<long long>((valueCount + 4) * rowCount * 8) << " of "
           << static_cast<long long>(kSpecialOutputBufferBytes) << " buffer-bytes)" << "[end-entry]";
  }
  rowCount = 0;
}
