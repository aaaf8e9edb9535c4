// Grids of an interpolator besides its result: the rotated cell coordinates of the
// anisotropy, the monthly scenario grids, and the ready-made grids of a grid list.
#include <cmath>
#include <iomanip>
#include <set>
#include <sstream>

#include "framework/ctrl_c.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "meteo/meteoint.h"

namespace {

bool UsesStations(int m) { return m == 1 || (m >= 3 && m <= 8) || (m >= 10 && m <= 12); }

}  // namespace

void meteointerpol::CreateRotatedCoordinates() {
  if (!(anisotropyRatio < 1.0) || !UsesStations(interpolationMethod)) return;
  const double nd = geometry.nodata_value;
  auto make = [&](int& position, double**& grid, const std::string& internalName) {
    position = FirstFreeGridPosition();
    if (position <= 0 || position > kMaxGridPosition)
      Fatal("no more free grids in memeory, (max. " + std::to_string(kGridRegistrySize - 1) + ")!", 12);
    grid = matrix(1, geometry.nrows, 1, geometry.ncols);
    RegisterGrid(position, internalName, grid, nullptr, 0, internalName, 0, 1, geometry.nrows);
  };
  make(rotatedXPosition, rotatedX, "CoordXRot_" + name);
  make(rotatedYPosition, rotatedY, "CoordYRot_" + name);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (coordX[r][c] == nd) {
        rotatedX[r][c] = rotatedY[r][c] = nd;
        continue;
      }
      RotatePoint(coordX[r][c], coordY[r][c], geometry.xllcorner, geometry.yllcorner, anisotropySlope,
                  rotatedX[r][c], rotatedY[r][c]);
    }
}

void meteointerpol::SetAnisotropy() {
  idw = MakeIdwSettings(idwWeight, maxDistance);
  if (!UsesStations(interpolationMethod)) return;
  if (!(anisotropySlope >= -1.570796326795 && anisotropySlope <= 1.570796326795))
    Fatal("anisotropy slope has to range from -90 to +90 degree \n", 54);
  if (!(anisotropyRatio > 0.0 && anisotropyRatio <= 1.0))
    Fatal("ratio of anisotropy has to range from +1 to >0 liegen", 54);
  const StationFile& f = stationFiles[0];
  if (anisotropyRatio < 1.0) {
    stationXRot.assign(static_cast<size_t>(f.count) + 1, 0.0);
    stationYRot.assign(static_cast<size_t>(f.count) + 1, 0.0);
    for (int k = 1; k <= f.count; ++k)
      RotatePoint(f.x[k], f.y[k], geometry.xllcorner, geometry.yllcorner, anisotropySlope, stationXRot[k],
                  stationYRot[k]);
  } else {
    stationXRot = f.x;
    stationYRot = f.y;
  }
}

void meteointerpol::ComputeStationDistances() {
  *log << "calculating average horizontal and vertical distance to the next station..." << "[end-entry]";
  const int n = stationFiles[0].count;
  double sumH = 0, sumV = 0;
  int countH = 0, countV = 0;
  for (int k = 1; k <= n; ++k) {
    double h = -9999.0, v = -9999.0;
    for (int j = 1; j <= n; ++j) {
      if (j == k) continue;
      const double dx = stationXRot[j] - stationXRot[k], dy = stationYRot[j] - stationYRot[k];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (std::fabs(dy) > std::fabs(dx) && dy > 0) {
        if (v < -1000 || d < v) v = d;
      } else if (std::fabs(dy) <= std::fabs(dx) && dx > 0) {
        if (h < -1000 || d < h) h = d;
      }
    }
    if (h > -1000) {
      sumH += h;
      ++countH;
    }
    if (v > -1000) {
      sumV += v;
      ++countV;
    }
  }
  avgHorizontal = countH ? sumH / countH : -9999.0;
  avgVertical = countV ? sumV / countV : -9999.0;
  meshCoefficient = 0.25;
  *log << "avg. horizontal distance: " << avgHorizontal << " m" << "[end-entry]";
  *log << "avg. vertical   distance: " << avgVertical << " m" << "[end-entry]";
}

void meteointerpol::LoadScenarioGrid(int64_t month) {
  const int m = static_cast<int>(((month - 1) % 12 + 12) % 12 + 1);
  if (scenarioGrid) {
    if (scenarioPosition > 0) FreeGrid(scenarioPosition);
    FreeMatrix(scenarioGrid);
    scenarioGrid = nullptr;
    scenarioPosition = 0;
  }
  ReadBasinGrid(scenarioFiles[m - 1], scenarioGrid, 0, true, true, true, 0.0);
  scenarioPosition = FirstFreeGridPosition();
  if (scenarioPosition <= 0 || scenarioPosition > kMaxGridPosition)
    Fatal("no more free grids in memeory, (max. " + std::to_string(kGridRegistrySize - 1) + ")!", 12);
  RegisterGrid(scenarioPosition, scenarioFiles[m - 1], scenarioGrid, nullptr, 0, "scenariogrid_" + name, 0, 1,
               geometry.nrows);
  scenarioMonth = month;
}

// --- grid lists (method 9) ---

namespace {

// Reads the grid file name that follows the date of a grid-list row.
bool ReadListedName(TextCursor& c, std::string& gridName) { return c.ReadWord(gridName); }

// Whether a row that is not blank follows (the reader is left behind it).
bool RowFollows(LineReader& in) {
  std::string line;
  while (in.NextLine(line)) {
    TextCursor c(line);
    c.SkipBlanks();
    if (!c.AtEnd()) return true;
  }
  return false;
}

}  // namespace

void meteointerpol::FindStartDateGridList() {
  StationFile& f = stationFiles[0];
  *log << "looking for starting date " << DateText(start, kAlignedDate.Until(DateField::kDay)) << " for " << name
       << " in " << f.fileName << "[end-entry]";
  LineReader in(f.fileName);
  if (!in.Ok()) Fatal("\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  std::string line;
  long lineNo = 0;
  for (int k = 0; k < 5; ++k)
    if (in.NextLine(line)) ++lineNo;
  TextCursor c;
  StartSearch search(start);
  while (true) {
    const uint64_t lineStart = in.Offset();
    if (!in.NextLine(line)) break;
    ++lineNo;
    c.SetText(line);
    c.SkipBlanks();
    if (c.AtEnd()) continue;
    ModelDate d;
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d))
      Fatal("error reading date from grid list " + f.fileName + ", line " + std::to_string(lineNo) +
                RecordDateNote(line, f.minuteColumn),
            73);
    if (d.year >= 0 && d.year <= 99) d.year += 1900;
    search.Note(d, lineNo);
    listDate = d;
    if (d.day == start.day && d.hour == start.hour && d.month == start.month && d.year == start.year &&
        d.minute == start.minute) {
      if (!ReadListedName(c, currentGridName))
        Fatal("grid list " + f.fileName + ", line " + std::to_string(lineNo) + ": no grid file name after the date",
              49);
      f.startOffset = lineStart;
      f.startLine = lineNo;
      f.readPosition = in.Offset();
      f.nextLine = lineNo + 1;
      f.lastDateRead = d;
      f.fileEnded = !RowFollows(in);
      return;
    }
  }
  *log << "FATAL: \nfile " << f.fileName << " dosnt contain date "
       << DateText(start, kAlignedDate.Until(DateField::kDay)) << ", hour " << start.hour << "(feof)!" << search.Hint()
       << "[end-entry]";
  throw 51;
}

// Every grid a grid list names up to the run's last row is read during the run: each is
// declared to the check of the run's files once. A row that cannot be read ends the scan
// (the reader reports it).
void meteointerpol::DeclareListedGrids(const std::string& entry) {
  if (!RunFiles::Current().Building()) return;
  const StationFile& f = stationFiles[0];
  LineReader in(f.fileName);
  if (!in.Ok()) return;
  std::set<std::string> seen;
  std::string line, gridName;
  for (int k = 0; k < 5; ++k) in.NextLine(line);
  TextCursor c;
  while (in.NextLine(line)) {
    c.SetText(line);
    c.SkipBlanks();
    if (c.AtEnd()) continue;
    ModelDate d;
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d) || !ReadListedName(c, gridName)) return;
    if (gridName != "-9999" && seen.insert(gridName).second)
      RunFiles::Current().Read(entry + "grid of the grid list " + f.fileName, MakePath(output.inputDirectory, gridName));
    if (EndsTheRecords(d, endDateKey)) return;  // the rows after the run's last are not read
  }
}

void meteointerpol::NextGridListRecord() {
  StationFile& f = stationFiles[0];
  if (listDate.Key() >= endDateKey) {
    endFlag = true;
    return;
  }
  if (endFlag) return;
  LineReader in(f.fileName, f.readPosition);
  if (!in.Ok()) Fatal("\nerror opening file " + f.fileName + FileOpenReason(f.fileName, false, 0), 49);
  std::string line;
  TextCursor c;
  while (true) {
    if (!in.NextLine(line)) {
      endFlag = true;
      NoteEarlyEnd(f.fileName);
      *log << "WARNING: grid list " << f.fileName << " of interpolator " << name << " ends with the date "
           << DateText(f.lastDateRead, kRecordDate) << " before the end of the simulation period" << "[end-entry]";
      return;
    }
    const long lineNo = f.nextLine++;
    c.SetText(line);
    c.SkipBlanks();
    if (c.AtEnd()) continue;
    ModelDate d;
    if (!ParseRecordDate(c, f.minuteColumn, f.additionalColumns, d))
      Fatal("error reading date from grid list " + f.fileName + ", line " + std::to_string(lineNo) +
                RecordDateNote(line, f.minuteColumn),
            73);
    if (d.year >= 0 && d.year <= 99) d.year += 1900;
    if (!ReadListedName(c, currentGridName))
      Fatal("grid list " + f.fileName + ", line " + std::to_string(lineNo) + ": no grid file name after the date", 49);
    listDate = d;
    f.lastDateRead = d;
    f.readPosition = in.Offset();
    f.fileEnded = !RowFollows(in);
    return;
  }
}

void meteointerpol::ReadListedGrid() {
  std::string gridName = currentGridName;
  if (gridName == "-9999") {
    if (lastValidGridName.empty())
      Fatal("interpolation method 9 (read from grid) no valid grid name was found (-9999 as input) and no last valid "
            "grid name present (i.e., simulation starts, when input list file contains -9999 only)",
            1050);
    gridName = lastValidGridName;
  }
  DisableCtrlCHandler();
  try {
    ReadBasinGrid(gridName, result, 0, false, false, false, geometry.nodata_value);
  } catch (...) {
    EnableCtrlCHandler();
    throw;
  }
  EnableCtrlCHandler();
  lastValidGridName = gridName;
}
