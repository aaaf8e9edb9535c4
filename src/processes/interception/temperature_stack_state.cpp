// The air temperature grids of the last day, whose mean drives the canopy snow, carried from
// one run to the next: a run that writes the canopy load at its end writes them beside it as
// one stack (levels 1..n oldest first, level 0 their mean), and a run that starts from its
// stored grids reads them back, so its first day averages the same 24 hours as an unbroken
// run would. The stack is written in double precision whatever the output format: it is
// state, and a warm start must continue with the same bits.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "framework/logstream.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "processes/interception/interzep.h"

std::string TemperatureStackName(const std::string& canopyLoadFile) {
  const size_t slash = canopyLoadFile.find_last_of('/');
  size_t dot = canopyLoadFile.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = canopyLoadFile.size();
  return canopyLoadFile.substr(0, dot) + "_temperature_stack.bin";
}

void interzeptionsmodellklasse::ReadTemperatureStack() {
  const std::string file = TemperatureStackName(canopyGrids[kCanopyLoad].fileName);
  const std::string path = MakePath(output.inputDirectory, file);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    *log << "INFO: " << name << ": no air temperature stack " << path
         << " to start from (the state read holds none): the canopy snow's mean "
            "temperature of the last day takes only the steps of this run until a day has passed"
         << "[end-entry]";
    return;
  }
  double*** stack = nullptr;
  const int levels = ReadStack(file, stack, 0);
  // Air temperatures: any finite number (or no-data).
  try {
    RefuseImpossibleLevels(stack, 1, levels, file, "air temperature stack", StateRange::Finite());
  } catch (int) {
    Free3DMatrix(stack);
    throw;
  }
  // A run with longer steps keeps fewer grids: the newest ones.
  for (int l = std::max(1, levels - snowCanopyStack->Depth() + 1); l <= levels; ++l) {
    double** g = snowCanopyStack->NewGrid();
    for (int r = firstRow; r <= lastRow; ++r) {
      g[r][0] = 0.0;
      for (int c = 1; c <= geometry.ncols; ++c) g[r][c] = stack[r][c][l];
    }
    snowCanopyStack->Push(g);
  }
  Free3DMatrix(stack);
}

void interzeptionsmodellklasse::WriteTemperatureStackAtEnd() {
  if (stepDate.IsMissing() || stepDate.Key() < endDateKey) return;
  // Only beside a canopy load that is written under its own name in the last step: the
  // stack belongs to that state.
  const int units = grids[canopyGrids[kCanopyLoad].position].units;
  if (units < 1 || units > 3) return;
  const int n = snowCanopyStack->Count();
  const double nodata = geometry.nodata_value;
  HeldStack stack(*this);
  stack.levels = d3_matrix(1, geometry.nrows, 1, geometry.ncols, n);
  stack.top = n;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      double* levels = stack.levels[r][c];
      const bool own = r >= firstRow && r <= lastRow;
      levels[0] = own && n > 0 ? snowCanopyStack->Mean(r, c) : nodata;
      for (int l = 1; l <= n; ++l) levels[l] = own ? snowCanopyStack->Grid(l - 1)[r][c] : nodata;
    }
  WriteStateStack(TemperatureStackName(canopyGrids[kCanopyLoad].fileName), stack);
}
