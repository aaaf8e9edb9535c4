// Region decomposition of the active cells among model instances, with the river links
// kept whole. The model runs as one instance, which computes every cell.
#include <algorithm>
#include <cmath>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "grids/grid_codes.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

// Runs of equal region numbers after the leading no-data cells of a row.
int RunCount(const double* regions, int ncols, double nodata) {
  int c = 1;
  while (c <= ncols && regions[c] == nodata) ++c;
  int runs = c <= ncols ? 1 : 0;
  for (++c; c <= ncols; ++c)
    if (regions[c] != regions[c - 1]) ++runs;
  return runs;
}

// Run-length description of one row of region numbers: element 0 counts the leading
// no-data cells, then each run k takes elements 2k+1 (value) and 2k+2 (length).
// A row of k runs takes 2 * k + 1 elements (at most 2 * ncols + 1).
void DescribeRow(const double* regions, int ncols, double nodata, double* helper) {
  int c = 1;
  int leading = 0;
  while (c <= ncols && regions[c] == nodata) {
    ++leading;
    ++c;
  }
  helper[0] = leading;
  int k = 0;
  while (c <= ncols) {
    const double value = regions[c];
    int length = 0;
    while (c <= ncols && regions[c] == value) {
      ++length;
      ++c;
    }
    helper[2 * k + 1] = value;
    helper[2 * k + 2] = length;
    ++k;
  }
}

}  // namespace

void defaultini::MakeMPIRegions(std::vector<long>& quota, int& firstRow, int& lastRow) {
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  const double nodata = geometry.nodata_value;
  firstRow = 1;
  lastRow = nrows;

  auto position = [this]() {
    const int p = FirstPositionWithoutFileName();
    if (p >= 1000) {
      if (log)
        *log << "FATAL: when trying to create MPI-Regions: no free grid found in memory (at position " << 1000 << ")"
             << "[end-entry]";
      throw 12;
    }
    return p;
  };
  mpiRegionsPosition = position();
  Register(mpiRegionsPosition, "", nullptr, "MPIRegions", 0);
  mpiRegions = NewOwnedGrid(1, nrows);
  grids[mpiRegionsPosition].data = mpiRegions;
  mpiHelperPosition = position();
  Register(mpiHelperPosition, "", nullptr, "MPIHelper", 0);
  KeepForReaders(mpiHelperPosition);
  // The helper is allocated once the regions are known, as wide as its longest row needs.
  mpiHaloPosition = position();
  Register(mpiHaloPosition, "", nullptr, "MPIHalo", 0);
  // With one instance no cell has a neighbour of another region: the halo is no-data
  // everywhere, one row of it serves every row.
  const bool oneInstance = instanceCount <= 1;
  if (oneInstance) {
    ownedGrids_.emplace_back(AllocateRepeatedRowMatrix(log, 1, nrows, ncols, nodata));
    mpiHalo = ownedGrids_.back().get();
  } else {
    mpiHalo = NewOwnedGrid(1, nrows);
  }
  grids[mpiHaloPosition].data = mpiHalo;
  // The three grids count as standard grids; their descriptions keep the table in step
  // with the registry positions.
  for (int p : {mpiRegionsPosition, mpiHelperPosition, mpiHaloPosition}) {
    if (static_cast<int>(standardGrids.size()) <= p) standardGrids.resize(static_cast<size_t>(p) + 1);
    standardGrids[static_cast<size_t>(p)].internalName = grids[p].internalName;
    standardGrids[static_cast<size_t>(p)].fileName.clear();
    standardGrids[static_cast<size_t>(p)].outName.clear();
  }
  standardGridCount += 3;
  run.standardGridCount = standardGridCount;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 0; c <= ncols; ++c) mpiRegions[r][c] = nodata;
  if (!oneInstance)
    for (int r = 1; r <= nrows; ++r)
      for (int c = 0; c <= ncols; ++c) mpiHalo[r][c] = nodata;

  // Regular and river cells.
  const int linksPosition = StandardGridPosition("river_links");
  double** links = linksPosition > 0 ? GridData(linksPosition) : nullptr;
  std::vector<RiverLinkCell> riverCellList;
  regularCells = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!IsBasinCell(r, c)) continue;
      // A link number is the value's integer part, of the whole number it stands for where a
      // float export left it a rounding off (0.9999999 is link 1, not 0).
      const double link = links && links[r] ? WholeIfNear(links[r][c]) : 0.0;
      if (link > 0 && link < 2147483647.0) {
        RiverLinkCell cell;
        cell.row = r;
        cell.column = c;
        cell.link = static_cast<int32_t>(link);
        cell.elevation = elevationModel && elevationModel[r] ? elevationModel[r][c] : nodata;
        riverCellList.push_back(cell);
      } else {
        ++regularCells;
      }
    }
  }
  riverCells = static_cast<long>(riverCellList.size());

  // Links ascending, upstream (higher) cells first; then the links by size, largest first.
  std::stable_sort(riverCellList.begin(), riverCellList.end(), [](const RiverLinkCell& a, const RiverLinkCell& b) {
    if (a.link != b.link) return a.link < b.link;
    return a.elevation > b.elevation;
  });
  riverLinks.clear();
  for (const RiverLinkCell& cell : riverCellList) {
    if (riverLinks.empty() || riverLinks.back().GetCells().front().link != cell.link) riverLinks.emplace_back();
    riverLinks.back().AddCell(cell);
  }
  std::stable_sort(riverLinks.begin(), riverLinks.end(),
                   [](const RiverLink& a, const RiverLink& b) { return a.CellCount() > b.CellCount(); });
  if (log) *log << "MPI regular cells: " << regularCells << "\nMPI river cells: " << riverCells << "[end-entry]";

  // One instance takes every cell and every river link.
  const long total = regularCells + riverCells;
  quota.assign(static_cast<size_t>(instanceCount > 0 ? instanceCount : 1), 0);
  quota.back() = total;
  for (int k = 0; k < static_cast<int>(quota.size()); ++k) {
    if (log) *log << "MPI num cells: " << quota[k] << " for instance: " << k << "[end-entry]";
    if (k + 1 == static_cast<int>(quota.size())) {
      for (RiverLink& link : riverLinks)
        if (log)
          *log << " + link cells: " << static_cast<long>(link.CellCount()) << " for river link "
               << static_cast<long>(link.GetCells().front().link) << "[end-entry]";
    }
    if (log) *log << "        total: " << quota[k] << " for instance " << k << "[end-entry]";
  }

  // Region numbers of the active cells: the instances in turn while their quota lasts.
  int instance = 0;
  long used = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!IsBasinCell(r, c)) continue;
      while (instance + 1 < static_cast<int>(quota.size()) && used >= quota[instance]) {
        ++instance;
        used = 0;
      }
      mpiRegions[r][c] = instance;
      ++used;
    }
  }
  for (RiverLink& link : riverLinks) {
    int32_t index = 0;
    for (RiverLinkCell& cell : link.GetCells()) {
      cell.region = static_cast<int32_t>(mpiRegions[cell.row][cell.column]);
      cell.index = index++;
    }
  }

  // A row of k runs needs 2 * k + 1 elements (at most 2 * ncols + 1); a basin row holds a
  // few runs, so the helper is as wide as its longest description, never narrower than
  // the other grids (a point output may read any column of it).
  int64_t widest = ncols;
  for (int r = 1; r <= nrows; ++r) widest = std::max(widest, 2 * static_cast<int64_t>(RunCount(mpiRegions[r], ncols, nodata)));
  ownedGrids_.emplace_back(matrix(1, nrows, 0, widest));
  mpiHelper = ownedGrids_.back().get();
  grids[mpiHelperPosition].data = mpiHelper;
  for (int r = 1; r <= nrows; ++r) DescribeRow(mpiRegions[r], ncols, nodata, mpiHelper[r]);

  // Halo: cells of other regions next to this instance's cells (none with one instance).
  if (oneInstance) return;
  const double own = instanceNumber;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (mpiRegions[r][c] != own) continue;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int rr = r + dr, cc = c + dc;
          if ((dr == 0 && dc == 0) || rr < 1 || rr > nrows || cc < 1 || cc > ncols) continue;
          const double v = mpiRegions[rr][cc];
          if (v != own && v != nodata) mpiHalo[rr][cc] = v;
        }
      }
    }
  }
}

int defaultini::ReadSubstepCount() {
  modelobject reader(log, controlFileName);
  reader.name = name;
  if (!reader.OpenControlFile()) {
    if (log) *log << "FATAL: Error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 28;
  }
  int count = 1;
  if (reader.SeekControlKey("[soil_surface_groundwater_substeps]", false)) {
    if (!reader.controlFile.ReadInt(count))
      reader.ControlFileKeyError("sub step counter from [soil_surface_groundwater_substeps] not found", "");
  }
  reader.CloseControlFile();
  return count;
}
