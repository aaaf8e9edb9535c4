// The reservoirs and lakes of the routing module: their grids, their construction from the
// SP entries and the precipitation that falls on the lake cells.
#include <cmath>
#include <set>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/thread_policy.h"
#include "grids/grid_registry.h"
#include "processes/water_input.h"
#include "routing/abfluss.h"
#include "routing/routingclass.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

}  // namespace

double** abflussmodellklasse::LakeGrid(const std::string& gridName) const {
  const int p = FindGrid(gridName);
  return p > 0 ? grids[p].data : nullptr;
}

double** abflussmodellklasse::RequirePondingGrid() const {
  double** ponding = LakeGrid("ponding_storage");
  if (!ponding) ponding = LakeGrid("ponding_storage_top");
  if (!ponding)
    Fail(log,
         "the lake grid \"lake_codes\" was found, but no water depth grid of the lake cells "
         "(\"ponding_storage\" or \"ponding_storage_top\"); lakes need both grids and \"max_ponding_storage\"",
         28);
  return ponding;
}

bool abflussmodellklasse::LakesOn() const {
  return flowControl != 0 && lakeSwitch != 0 && !routing.routingOnly && FindGrid("lake_codes") > 0;
}

LakeGrids abflussmodellklasse::FindLakeGrids() {
  LakeGrids g;
  if (!LakesOn()) return g;
  // What the lakes' set-up needs; the grids of the step follow in SetInputGridNames.
  g.lakeCodes = grids[RequireGrid("lake_codes")].data;
  g.ponding = RequirePondingGrid();
  g.maxPonding = LakeGrid("max_ponding_storage");
  g.zones = LakeGrid("zonegrid_soilmodel");
  g.dem = LakeGrid("[elevation_model]");

  // The precipitation on the lake cells, filled from the water input in every step.
  const int position = FirstFreeGridPosition();
  if (position == 0) Fail(log, "no more free grids in memory, (max. " + std::to_string(kMaxGridPosition) + ")!", 12);
  precipitationOnLakes = MatrixOwner(geometry.nrows, geometry.ncols, log);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) precipitationOnLakes[r][c] = 0.0;
  RegisterGrid(position, "PrecOnLakes", precipitationOnLakes.get(), nullptr, 1, "PrecOnLakes", 0, firstRow, lastRow);
  precipitationOnLakesPosition = position;
  g.precipitation = precipitationOnLakes.get();
  lakeCodeGrid = g.lakeCodes;
  pondingGrid = g.ponding;
  return g;
}

void abflussmodellklasse::SetInputGridNames(int interceptionBeforeSnow) {
  // A lake cell's water input is what leaves the last module above the ground that stepped
  // it, as the soil model's input elsewhere.
  if (!LakesOn()) return;
  double** codes = grids[RequireGrid("lake_codes")].data;
  RequirePondingGrid();
  LakeGrids g;
  g.evaporation = grids[RequireGrid("real_transpiration0")].data;
  g.interceptionEvaporation = grids[RequireGrid("interception_evaporation0")].data;
  g.snowEvaporation = LakeGrid("snow_evaporation");
  g.qDown = LakeGrid("q_downext");
  g.baseflow = LakeGrid("baseflow");
  waterInput = grids[RequireGroundWaterInput(*this, interceptionBeforeSnow != 0)].data;
  for (routingclass* o : routingObjects)
    for (auto& sp : o->reservoirs) sp->LinkLakeInputs(g);

  // One instance runs the whole basin: all lake cells are its own.
  const double nodata = geometry.nodata_value;
  double** regions = LakeGrid("MPIRegions");
  long cells = 0;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c)
      cells += codes[r][c] > nodata && (!regions || regions[r][c] > nodata);
  *log << "DEBUG: lakeCellsPerMPIRank[0] " << cells << "[end-entry]";
}

void abflussmodellklasse::BuildReservoirs(const std::vector<RoutingDescription>& list) {
  for (size_t k = 0; k < list.size(); ++k) {
    const RoutingDescription& d = list[k];
    for (size_t e = 0; e < d.reservoirCodes.size(); ++e)
      routingObjects[k]->SetSpeicherParams(d.reservoirCodes[e], d.reservoirEntries[e]);
  }
  for (routingclass* o : routingObjects) {
    o->ReadReservoirRules(controlFile);
    o->AttachReservoirRegistry(&reservoirRegistry);
    o->AttachReservoirIndex(&reservoirZones);
  }
  // Every hydraulic connection must lead to a reservoir of the run.
  for (routingclass* o : routingObjects)
    for (const auto& sp : o->reservoirs)
      if (sp->connection.on && reservoirRegistry.count(sp->connection.target) == 0)
        Fail(log,
             "reading HydraulicConnection parameters for SP " + std::to_string(sp->number) + ": TargetReservoir " +
                 std::to_string(sp->connection.target) + " does not exist\n",
             29);
  for (routingclass* o : routingObjects) o->RunReservoirs();
  for (routingclass* o : routingObjects)
    for (const auto& sp : o->reservoirs)
      if (sp->lake) lakeNumbers.push_back(sp->number);
  CheckLakeCodes();
}

void abflussmodellklasse::CheckLakeCodes() const {
  // The soil model passes over lake cells; the water of a cell whose lake code has no
  // reservoir would reach no module.
  if (!LakesOn() || !lakeCodeGrid) return;
  std::set<double> numbers;
  for (routingclass* o : routingObjects)
    for (const auto& sp : o->reservoirs) numbers.insert(sp->number);
  const double nodata = geometry.nodata_value;
  double** zones = grids[1].data;
  long orphans = 0;
  int firstRow = 0, firstColumn = 0;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      const double code = lakeCodeGrid[r][c];
      if (!(code > nodata) || (zones && !(zones[r][c] > nodata)) || numbers.count(code)) continue;
      if (orphans++ == 0) {
        firstRow = r;
        firstColumn = c;
      }
    }
  if (orphans == 0) return;
  // The start-up made the codes a float export left a rounding off whole; any other fraction
  // is no reservoir's number and is named as it stands.
  const double first = lakeCodeGrid[firstRow][firstColumn];
  Fail(log,
       "the lake grid \"lake_codes\" (" + grids[RequireGrid("lake_codes")].fileName + ") holds at row " +
           std::to_string(firstRow) + ", column " + std::to_string(firstColumn) + " the lake code " +
           ExactNumberText(first) + (first == std::trunc(first) ? "" : ", which is no whole number") +
           ", but no reservoir (SP) of [routing_model] has that number (" + std::to_string(orphans) +
           " cells of the basin hold a lake code without a reservoir); the water of such a cell would reach no module",
       224);
}

void abflussmodellklasse::FillPrecipitationOnLakes() {
  if (lakeNumbers.empty() || !waterInput || !lakeCodeGrid || !pondingGrid) return;
  // The soil model passes over lake cells: the water input of a lake cell falls on the
  // lake surface, where the lake's step gathers it with the water depth.
  const double nodata = geometry.nodata_value;
  const std::vector<int>& lakes = lakeNumbers;
  double** p = precipitationOnLakes.get();
  double** pond = pondingGrid;
#pragma omp parallel for schedule(runtime) if (ForkRows(geometry.nrows, geometry.ncols))
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      const double code = lakeCodeGrid[r][c];
      const double x = waterInput[r][c];
      bool lake = false;
      for (int n : lakes) lake = lake || code == n;
      p[r][c] = lake && x != nodata && x > 0.0 ? x : 0.0;
      if (lake) pond[r][c] += p[r][c];
    }
}

void abflussmodellklasse::ReleaseLakeGrids() {
  if (precipitationOnLakesPosition > 0) FreeGrid(precipitationOnLakesPosition);
  precipitationOnLakesPosition = 0;
  precipitationOnLakes = MatrixOwner();
}
