// Permafrost of the snow model: the section [permafrost], and the state of every permafrost
// cell carried from one run to the next. The thaw depth follows the root of the snow-free
// days and drops to 0 once the snow has lain long enough, so those two counts are the state;
// so is the root depth of layer 1 between two days: each step lowers it to the thaw depth,
// and only the land-use update at the end of a day sets it back to the table's, so within
// a day it is the shallowest thaw since that update. A run that writes the solid snow
// storage under its own name at its end writes the three beside it (double precision
// whatever the output format: a warm start must continue with the same bits), and a run
// that starts from its stored grids (readgrids 1) reads them back, sets the thaw depth the
// days imply and lowers the roots of layer 1 as they were.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "framework/logstream.h"
#include "framework/value_checks.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"

namespace {

// The solid snow storage's file name with `suffix` in place of its extension.
std::string BesideSolidStorage(const std::string& solidStorageFile, const char* suffix) {
  const size_t slash = solidStorageFile.find_last_of('/');
  size_t dot = solidStorageFile.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = solidStorageFile.size();
  return solidStorageFile.substr(0, dot) + suffix;
}

}  // namespace

std::string PermafrostDaysFileName(const std::string& solidStorageFile, bool snowFree) {
  return BesideSolidStorage(solidStorageFile, snowFree ? "_snow_free_days.bin" : "_snow_cover_days.bin");
}

std::string PermafrostRootDepthFileName(const std::string& solidStorageFile) {
  return BesideSolidStorage(solidStorageFile, "_thawed_root_depth.bin");
}

void schneemodellklasse::ReadPermafrost(const ModuleInputs& in) {
  UseOrCreateGrid(kSnowFreeDays, "SnowFreeDaysGrid", 0.0, false, 0.0);
  UseOrCreateGrid(kSnowCoverDays, "SnowCoverDaysGrid", 0.0, false, 0.0);
  thawCoefficient = grids[RequireGrid("ThawCoeffPermaFrost")].data;
  thawDepth = grids[RequireGrid("PermafrostThawDepth")].data;
  rootDepth1 = grids[RequireGrid("root_depth1")].data;
  // The thaw depth a run starts from (a negative one counts as 0).
  RefuseImpossibleCells("PermafrostThawDepth", StateRange::Finite());

  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  SeekControlKey("[permafrost]", true);
  ReadControlValue(permafrostMethod, "Permafrost-Method for ");
  if (permafrostMethod != 1) {
    *log << "FATAL: method for permafrost melt must be 1 (alpha*sqrt(time))" << "[end-entry]";
    throw 80;
  }
  ReadControlValue(minSnowAgeRefreeze, "Min_Snow_Age_Refreeze for ");
  ReadControlValue(maxSweSnowFree, "Max_SWE_SnowFree for ");
  ReadStat(statNames[sThawDepth], "name of thaw depth statistics file ");
  ReadControlValue(reducedKsat, "reduced k_sat (in m/s)");
  for (const auto& v : {std::make_pair("Min_Snow_Age_Refreeze", minSnowAgeRefreeze),
                        std::make_pair("Max_SWE_SnowFree", maxSweSnowFree), std::make_pair("reduced k_sat", reducedKsat)})
    if (!(v.second >= 0.0 && v.second < std::numeric_limits<double>::infinity()))
      RefuseValue(*this, "[permafrost]", v.first, v.second, "it must be 0 or more", 80);
  WarnIf(reducedKsat > 1e-3, *this, "[permafrost]", "reduced k_sat", reducedKsat,
         "m/s: more than a frozen soil conducts (a value in another unit?)");
  MakeStatistic(sThawDepth, 4, "thaw_depth_in_m_", in);
  CloseControlFile();
  permafrost = 1;
  if (readInitialGrids == 1) ReadPermafrostState();
}

MatrixOwner schneemodellklasse::ReadCarriedGrid(const std::string& file, const std::string& what,
                                                const std::string& otherwise, const StateRange& range) {
  const std::string path = MakePath(output.inputDirectory, file);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    *log << "INFO: " << name << ": no " << what << " " << path
         << " to start from (the state read holds none): " << otherwise << "[end-entry]";
    return MatrixOwner();
  }
  double** values = nullptr;
  ReadBasinGrid(file, values, 0, true, true, false, 0.0);
  MatrixOwner owner(values);
  RefuseImpossibleCells(values, file, what, range);
  return owner;
}

void schneemodellklasse::ReadPermafrostState() {
  // Grids another module registered under these names are theirs, not read here.
  bool read = false;
  const double nodata = geometry.nodata_value;
  for (const Grid g : {kSnowFreeDays, kSnowCoverDays}) {
    if (!gridOwned[g]) continue;
    const MatrixOwner days =
        ReadCarriedGrid(PermafrostDaysFileName(gridNames[kSolid].file, g == kSnowFreeDays),
                        g == kSnowFreeDays ? "permafrost snow-free days" : "permafrost snow-cover days",
                        "they start at 0", StateRangeOf(g));
    if (!days) continue;
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        if (grid[g][r][c] != nodata && days[r][c] != nodata) grid[g][r][c] = days[r][c];
    read = true;
  }
  // The roots of the day that the table sets, as deep as the ground was thawed: the start-up
  // set them for the day the first step belongs to.
  const MatrixOwner depth = ReadCarriedGrid(PermafrostRootDepthFileName(gridNames[kSolid].file),
                                            "root depth of the thawed ground",
                                            "the roots of layer 1 start at the land-use table's depth",
                                            StateRange::AtLeast(0.0, "0", "a depth is 0 or more"));
  if (depth)
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c)
        if (thawCoefficient[r][c] > nodata && rootDepth1[r][c] > nodata && depth[r][c] != nodata)
          rootDepth1[r][c] = std::min(rootDepth1[r][c], depth[r][c]);
  if (!read) return;
  // The thaw depth the days imply: the root of the snow-free days once the ground has thawed,
  // 0 once it has refrozen; a cell that has lain under snow since the first run began keeps
  // the thaw depth it was given.
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!(thawCoefficient[r][c] > nodata) || grid[kSnowFreeDays][r][c] == nodata) continue;
      const double free = grid[kSnowFreeDays][r][c], cover = grid[kSnowCoverDays][r][c];
      if (free > 0.0)
        thawDepth[r][c] = std::max(0.0, thawCoefficient[r][c]) * std::sqrt(free);
      else if (cover > 0.0 && cover >= minSnowAgeRefreeze)
        thawDepth[r][c] = 0.0;
    }
}

void schneemodellklasse::WritePermafrostStateAtEnd(const ModelDate& date) {
  if (!permafrost || date.Key() < endDateKey || gridPosition[kSolid] <= 0) return;
  // Only beside a solid snow storage written under its own name in the last step.
  const int units = grids[gridPosition[kSolid]].units;
  if (!(units == 1 || units == 2 || units == 3 || (units >= 5 && units <= 7))) return;
  for (const Grid g : {kSnowFreeDays, kSnowCoverDays}) {
    const std::string file = PermafrostDaysFileName(gridNames[kSolid].file, g == kSnowFreeDays);
    WriteStateGrid(file, grid[g], false, true, false);
  }
  const std::string roots = PermafrostRootDepthFileName(gridNames[kSolid].file);
  WriteStateGrid(roots, rootDepth1, false, true, false);
}
