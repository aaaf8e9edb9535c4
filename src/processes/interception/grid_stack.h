// A bounded list of grids of one size, oldest first: the interception module keeps the air
// temperature grids of the last day in one and reads their mean per cell.
#pragma once

#include <vector>

#include "framework/modelobject.h"

class GridStack : public modelobject {
 public:
  // depth below 1 counts as 1 (a stack always holds the newest grid).
  GridStack(int depth, int firstRow, int lastRow, int columns, int rows);
  ~GridStack() override;
  GridStack(const GridStack&) = delete;
  GridStack& operator=(const GridStack&) = delete;

  // Takes ownership of grid (allocated with memory_handling::matrix) and appends it; the
  // oldest grid is freed when the stack then holds more than depth grids. Returns 1.
  int Push(double** grid);
  // Mean of the held grids at the cell; 0 for an empty stack.
  double Mean(int row, int column) const {
    if (held.empty()) return 0.0;
    double sum = 0.0;
    for (double** g : held) sum += g[row][column];
    return sum / static_cast<double>(held.size());
  }
  int Count() const { return static_cast<int>(held.size()); }
  // The i-th held grid, 0 the oldest.
  double** Grid(int i) const { return held[static_cast<size_t>(i)]; }
  int Depth() const { return depth; }
  // A grid of the stack's bounds for the caller to fill (every cell) and push. A full stack
  // hands back its oldest grid instead of allocating a new one, so a run allocates its
  // grids in the first day only.
  double** NewGrid();

 private:
  std::vector<double**> held;
  int firstRow, lastRow, columns, rows;
  int depth;
};
