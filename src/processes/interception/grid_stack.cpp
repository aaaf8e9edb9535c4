#include "processes/interception/grid_stack.h"

#include <algorithm>

GridStack::GridStack(int depthIn, int firstRowIn, int lastRowIn, int columnsIn, int rowsIn)
    : firstRow(firstRowIn),
      lastRow(lastRowIn),
      columns(columnsIn),
      rows(rowsIn),
      depth(std::max(1, depthIn)) {}

GridStack::~GridStack() {
  for (auto it = held.rbegin(); it != held.rend(); ++it) FreeMatrix(*it, firstRow, lastRow, 0, columns);
}

double** GridStack::NewGrid() {
  if (static_cast<int>(held.size()) < depth) return matrix(firstRow, lastRow, 0, columns, rows);
  double** oldest = held.front();
  held.erase(held.begin());
  return oldest;
}

int GridStack::Push(double** grid) {
  held.push_back(grid);
  if (static_cast<int>(held.size()) > depth) {
    FreeMatrix(held.front(), firstRow, lastRow, 0, columns);
    held.erase(held.begin());
  }
  return 1;
}
