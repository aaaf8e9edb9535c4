// The reservoirs and lakes of the routing module: their grids, their construction from the
// SP entries and the precipitation that falls on the lake cells.
#include "framework/logstream.h"
#include "grids/grid_registry.h"
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

LakeGrids abflussmodellklasse::FindLakeGrids() {
  LakeGrids g;
  if (lakeSwitch == 0 || routing.routingOnly || FindGrid("lake_codes") <= 0) return g;
  g.lakeCodes = grids[RequireGrid("lake_codes")].data;
  g.ponding = LakeGrid("ponding_storage");
  if (!g.ponding) g.ponding = LakeGrid("ponding_storage_top");
  if (!g.ponding)
    Fail(log,
         "the lake grid \"lake_codes\" was found, but no water depth grid of the lake cells "
         "(\"ponding_storage\" or \"ponding_storage_top\"); lakes need both grids and \"max_ponding_storage\"",
         28);
  g.maxPonding = LakeGrid("max_ponding_storage");
  g.zones = LakeGrid("zonegrid_soilmodel");
  g.dem = LakeGrid("[elevation_model]");
  g.evaporation = LakeGrid("real_transpiration0");
  g.interceptionEvaporation = LakeGrid("interception_evaporation0");
  g.snowEvaporation = LakeGrid("snow_evaporation");
  g.qDown = LakeGrid("q_down");
  g.baseflow = LakeGrid("baseflow");
  waterInput = LakeGrid("throughfall0");
  if (!waterInput) waterInput = LakeGrid("snowcover_outflow");
  if (!waterInput) waterInput = LakeGrid("precipitation");

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
}

void abflussmodellklasse::FillPrecipitationOnLakes() {
  if (lakeNumbers.empty() || !waterInput || !lakeCodeGrid || !pondingGrid) return;
  // The soil model passes over lake cells: the water input of a lake cell falls on the
  // lake surface, where the lake's step gathers it with the water depth.
  const double nodata = geometry.nodata_value;
  const std::vector<int>& lakes = lakeNumbers;
  double** p = precipitationOnLakes.get();
  double** pond = pondingGrid;
#pragma omp parallel for schedule(runtime)
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
