// Code checks of the land-use, soil-type and irrigation grids: every code in the basin must
// have a row in its table, and each code is then replaced by the number of its row, so that
// the modules may use a cell value directly as a table index.
#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_map>

#include "framework/logstream.h"
#include "grids/grid_codes.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

const char* const kRule = "-----------------------------------------------------------------------";

}  // namespace

bool CellCode(double value, int& code) {
  // The integer part of the value, of the whole number it stands for where a float export
  // left it a rounding off (2.9999999 is 3); NaN and values beyond the int range have no code.
  const double whole = IntegerPartCode(value);
  if (!(whole >= static_cast<double>(INT_MIN) && whole <= static_cast<double>(INT_MAX))) return false;
  code = static_cast<int>(whole);
  return true;
}

bool FindCodeOutsideTable(double** grid, double** zones, const GridGeometry& geometry,
                          const std::vector<int>& codes, bool positiveOnly, double& value, int* row, int* column) {
  if (grid == nullptr) return false;
  std::unordered_map<int, int> known;
  for (size_t i = 1; i < codes.size(); ++i) known.emplace(codes[i], static_cast<int>(i));
  for (int r = 1; r <= geometry.nrows; ++r) {
    if (grid[r] == nullptr || zones == nullptr || zones[r] == nullptr) continue;
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!(zones[r][c] > geometry.nodata_value)) continue;
      const double v = grid[r][c];
      if (positiveOnly && !(WholeIfNear(v) > 0.0)) continue;
      int code = 0;
      if (!CellCode(v, code) || known.find(code) == known.end()) {
        value = v;
        if (row) *row = r;
        if (column) *column = c;
        return true;
      }
    }
  }
  return false;
}

void ReplaceCodesByRows(double** grid, const GridGeometry& geometry, const std::vector<int>& codes) {
  if (grid == nullptr) return;
  // Every row whose code differs from its number replaces that code (and says so in the
  // log); when two such rows share a code the later one wins, and a row whose code is its
  // own number replaces nothing, so the cells always end at the row of the last message.
  // Each cell is looked at once, so one replacement never feeds the next. A cell whose code
  // keeps its number gets it as a whole number (4.9 and 3.9999999 become 4 where row 4 has
  // the code 4), so that every module takes the row the check took, whether it takes the
  // integer part of a cell or rounds it.
  std::unordered_map<int, int> rowOf;
  for (size_t i = 1; i < codes.size(); ++i)
    if (codes[i] != static_cast<int>(i)) rowOf[codes[i]] = static_cast<int>(i);
  for (size_t i = 1; i < codes.size(); ++i)
    if (codes[i] == static_cast<int>(i)) rowOf.emplace(codes[i], codes[i]);
  if (rowOf.empty()) return;
  for (int r = 1; r <= geometry.nrows; ++r) {
    if (grid[r] == nullptr) continue;
    for (int c = 1; c <= geometry.ncols; ++c) {
      int code = 0;
      if (!CellCode(grid[r][c], code)) continue;
      const auto it = rowOf.find(code);
      if (it != rowOf.end() && grid[r][c] != it->second) grid[r][c] = it->second;
    }
  }
}

// Checks the grid at a position against the table codes (1-based) and replaces its codes
// by row numbers. kind names the table in the failure message.
void defaultini::CheckAndReplaceCodes(int position, const std::vector<int>& codes, bool positiveOnly,
                                      const char* checkLine, const char* replaceLine, const char* what,
                                      const char* tableText, int failureCode) {
  double** grid = GridData(position);
  if (log) *log << checkLine << "[end-entry]";
  double value = 0.0;
  int row = 0, column = 0;
  if (FindCodeOutsideTable(grid, zoneGrid, geometry, codes, positiveOnly, value, &row, &column)) {
    if (log) {
      *log << "FATAL: \n" << kRule << "\n" << what << " " << value << " in grid " << grids[position].fileName
           << " (" << grids[position].internalName << ")\n" << tableText << " \n" << kRule << "\n\n";
      // A cell of the basin without a code is no code the table lacks.
      if (!(value > geometry.nodata_value))
        *log << "The cell in row " << row << ", column " << column << " lies in the basin (the zone grid holds a "
             << "value there) but holds no value in " << grids[position].fileName
             << " (its no-data value, or one of the file's own): give it a " << what
             << " code of the table, or let the start-up fill such cells by the grid's fill code in its line of "
             << "the control file (fillcode = 1: the code of the nearest cell with one; 2: its defaultValue)";
      *log << "[end-entry]";
    }
    throw failureCode;
  }
  if (log) *log << replaceLine << grids[position].fileName << "[end-entry]";
  for (size_t i = 1; i < codes.size(); ++i)
    if (codes[i] != static_cast<int>(i) && log) *log << codes[i] << " replaced by " << i << " ..." << "[end-entry]";
  ReplaceCodesByRows(grid, geometry, codes);
}

void defaultini::CheckLanduseCodes(int index) {
  if (index <= 0 || GridData(index) == nullptr) return;
  if (instanceNumber != 0) {
    MPIDistributeGrid(index, GridData(index));
    MPIUpdateGrid(index, GridData(index));
    return;
  }
  std::vector<int> landuseCodes(1, 0);
  for (size_t i = 1; i < landuseTable.size(); ++i) landuseCodes.push_back(landuseTable[i].code);

  if (multiLayerTable.size() <= 1) {
    CheckAndReplaceCodes(index, landuseCodes, false, "1.: checking codes in land use grid",
                         "2.:replacing codes in land use grid ", "land use",
                         "is not present in the land use table in the control file", 31);
  } else {
    std::vector<int> rowCodes(1, 0);
    for (size_t m = 1; m < multiLayerTable.size(); ++m) rowCodes.push_back(multiLayerTable[m].code);
    CheckAndReplaceCodes(index, rowCodes, false, "1.: checking codes in land use grid",
                         "2.:replacing codes in land use grid ", "land use",
                         "is not present in the multilayer-landuse-table in the control file", 311);
    CheckMultiLayerCodes(landuseCodes);
  }
  MPIDistributeGrid(index, GridData(index));
  MPIUpdateGrid(index, GridData(index));
}

void defaultini::CheckMultiLayerCodes(const std::vector<int>& landuseCodes) {
  const double nodata = geometry.nodata_value;
  for (size_t m = 1; m < multiLayerTable.size(); ++m) {
    MultiLayerLanduseEntry& e = multiLayerTable[m];
    // Both code arrays cover the layers 1..layerCount (a short array counts as no layer).
    const int layers = std::min<int>(e.layerCount, static_cast<int>(std::min(e.layerCodes.size(), e.layerCodesCopy.size())) - 1);
    if (layers < 1 || !(e.layerCodesCopy[1] > nodata)) {
      if (log)
        *log << "FATAL: \n\n" << kRule
             << "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid entry (not 9999 or "
                "larger):\nHere, line "
             << m << " contains " << (layers < 1 ? -9999 : e.layerCodesCopy[1]) << " as first layer code.\n"
             << kRule << "\n\n" << "[end-entry]";
      throw 312;
    }
    for (int k = 1; k <= layers; ++k) {
      const int code = e.layerCodesCopy[static_cast<size_t>(k)];
      if (!(code > nodata)) continue;
      bool present = false;
      for (size_t i = 1; i < landuseCodes.size() && !present; ++i) present = landuseCodes[i] == code;
      if (!present) {
        if (log)
          *log << "FATAL: \n" << kRule << "\nError: not all layer codes from landuse " << e.code
               << " from MultiLayer_Landuse-Table\nare present in the landuse-table in the control file: Here, code "
               << code << " is missing.\n" << kRule << "\n\n" << "[end-entry]";
        throw 312;
      }
    }
  }
  for (size_t i = 1; i < landuseCodes.size(); ++i) {
    if (landuseCodes[i] == static_cast<int>(i)) continue;
    for (size_t m = 1; m < multiLayerTable.size(); ++m) {
      MultiLayerLanduseEntry& e = multiLayerTable[m];
      const int layers = std::min<int>(e.layerCount, static_cast<int>(std::min(e.layerCodes.size(), e.layerCodesCopy.size())) - 1);
      for (int k = 1; k <= layers; ++k) {
        if (e.layerCodesCopy[static_cast<size_t>(k)] != landuseCodes[i]) continue;
        e.layerCodes[static_cast<size_t>(k)] = static_cast<int32_t>(i);
        if (log)
          *log << "Code replacement in MultiLayer-Landuse " << m << ": changed Layer-Code #" << k << " from "
               << landuseCodes[i] << " to " << i << "[end-entry]";
      }
    }
  }
}

void defaultini::check_SOIL_Codes(int index) {
  if (index <= 0 || GridData(index) == nullptr) return;
  if (instanceNumber == 0) {
    std::vector<int> codes(1, 0);
    for (size_t i = 1; i < soilTable.size(); ++i) codes.push_back(soilTable[i].code);
    CheckAndReplaceCodes(index, codes, false, "1.: checking soil type codes", "2.:replacing soil type codes ",
                         "soil type", "is not present in the control file", 32);
  }
  MPIDistributeGrid(index, GridData(index));
  MPIUpdateGrid(index, GridData(index));
}

void defaultini::check_irrig_Codes(int index) {
  if (index <= 0 || GridData(index) == nullptr) return;
  if (instanceNumber == 0) {
    std::vector<int> codes(1, 0);
    for (int i = 1; i <= irrigationCount && i < static_cast<int>(irrigationCodes.size()); ++i)
      codes.push_back(irrigationCodes[static_cast<size_t>(i)]);
    CheckAndReplaceCodes(index, codes, true, "1.: checking codes in irrigation grid",
                         "2.:replacing codes in irrigation grid ", "irrigation type",
                         "is not present in the irrigation table in the control file", 31);
  }
  MPIDistributeGrid(index, GridData(index));
  MPIUpdateGrid(index, GridData(index));
}
