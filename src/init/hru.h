// Hydrologic response units (HRUs): cells grouped by the classes of a few standard grids
// for spin-up runs. Every HRU has one master cell (the first cell met in row order); the
// process modules compute the master cells only and copy their values to the other cells
// of the HRU.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/modelobject.h"

class LogStream;

// One HRU: its number (1, 2, ... in the order first met), its class text and its master cell.
struct HruRecord {
  uint64_t number = 0;
  std::string name;
  int32_t row = 0;
  int32_t column = 0;
  int64_t spare = 0;
};

// Element 0 is a placeholder (number 0, empty name, row and column 0); element i is HRU i.
using HruList = std::vector<HruRecord>;

// A grid line of [SpinUp]: the grid, its class width and whether the square root of the
// absolute value is classified.
struct HruSourceGrid {
  std::string identifier;
  double** data = nullptr;
  double classWidth = 1.0;
  bool sqrtSpacing = false;
};

// The class of a value: floor(x / width), x the value or sqrt(|value|).
double HruClass(double value, double classWidth, bool sqrtSpacing);
// Appends a class as at least four zero-padded digits followed by an apostrophe ("0012'").
void AppendHruClass(std::string& name, double hruClass);

// Cells that take part: the bounds of every row (an empty vector: all columns of every row),
// the zone grid (basin cells are valid), the region grid (null: every cell belongs to the
// instance) and the instance number.
struct HruCellScope {
  const GridGeometry* geometry = nullptr;
  const std::vector<RowBounds>* rowBounds = nullptr;
  double** zone = nullptr;
  double** regions = nullptr;
  int instance = 0;
  int firstRow = 1;
  int lastRow = 0;  // below firstRow: all rows
  void Columns(int row, int& first, int& last) const;
  bool InInstance(int row, int column) const;
};

// Classifies the cells by the classes of the source grids into hru and master (both set to
// nodata where a cell is not classified) and appends the HRUs met to list. A class above
// 9999 writes a FATAL message and throws 1031.
void ClassifyHrus(const std::vector<HruSourceGrid>& sources, const HruCellScope& scope, double** hru,
                  double** master, HruList& list, LogStream* log);

// Renumbers an HRU grid given as a standard grid: equal values (written without decimals)
// become one HRU numbered in the order first met; master marks the first cell of each.
// Cells whose value is nodata stay nodata and form no HRU.
void RenumberHruGrid(const HruCellScope& scope, double** hru, double** master, HruList& list);

// Master cell of every HRU read from the master grid: element n holds the row and column
// of the cell whose master value is n (row 0 where no cell has it); element 0 is unused.
std::vector<HruRecord> MasterCellsFromGrid(double** master, const HruCellScope& scope);

// Gives every valid cell of the instance that is not a master cell the value of its HRU's
// master cell in grid. Cells whose HRU number is nodata or names no listed HRU are left as
// they are.
void CopyFromHruMasters(double** grid, double** hru, double** master, const std::vector<HruRecord>& masters,
                        const HruCellScope& scope);
