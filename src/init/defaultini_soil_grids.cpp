// Grids derived from the basin's code grids: one land-use code grid per layer of the
// multilayer land-use table, and the soil grids "available_soil_moisture",
// "hydraulic_conductivity" and "fillable_porosity" from the soil-type grid.
#include <algorithm>
#include <cstdio>
#include <string>

#include "framework/logstream.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

double LanduseLayerCode(const std::vector<MultiLayerLanduseEntry>& table, double landuseRow, int layer) {
  int row = 0;
  if (!CellCode(landuseRow, row) || row < 1 || row >= static_cast<int>(table.size())) return -9999.0;
  const MultiLayerLanduseEntry& e = table[static_cast<size_t>(row)];
  if (e.layerCount < layer || layer < 1 || static_cast<size_t>(layer) >= e.layerCodes.size()) return -9999.0;
  return e.layerCodes[static_cast<size_t>(layer)];
}

void defaultini::MakeLanduseLayerGrids() {
  const int layers = multiLayerTable.size() > 1 ? std::max(multiLayerTable[1].layerCount, 0) : 0;
  const int landuse = FindGrid("landuse");
  landuseLayerGrids.assign(static_cast<size_t>(layers) + 1, nullptr);
  landuseLayerPositions.assign(static_cast<size_t>(layers) + 1, 0);
  if (landuse == 0) return;
  landuseLayerGrids[0] = GridData(landuse);
  landuseLayerPositions[0] = landuse;
  for (int k = 1; k <= layers; ++k) {
    const int position = FirstPositionWithoutFileName();
    if (position >= 1000) {
      if (log) *log << "FATAL: no free grid found in memory (at position " << 1000 << ")\n" << "[end-entry]";
      throw 12;
    }
    char name[64];
    std::snprintf(name, sizeof name, "%s%d", "landuse", k);
    double** g = NewOwnedGrid(1, geometry.nrows);
    Register(position, name, g, name, 0);
    landuseLayerGrids[static_cast<size_t>(k)] = g;
    landuseLayerPositions[static_cast<size_t>(k)] = position;
  }
  FillLanduseLayerGrids();
}

void defaultini::FillLanduseLayerGrids() {
  if (landuseLayerGrids.empty() || landuseLayerGrids[0] == nullptr) return;
  double** landuse = landuseLayerGrids[0];
  const double nodata = geometry.nodata_value;
  // With cooperating instances each takes only the cells of its own region.
  const bool ownRegionOnly = instanceCount > 1 && mpiRegions != nullptr;
  for (size_t k = 1; k < landuseLayerGrids.size(); ++k) {
    double** g = landuseLayerGrids[k];
    if (g == nullptr || g == landuse) continue;
    for (int r = 1; r <= geometry.nrows; ++r) {
      if (g[r] == nullptr || landuse[r] == nullptr) continue;
      for (int c = 1; c <= geometry.ncols; ++c) {
        const bool own = IsBasinCell(r, c) && (!ownRegionOnly || mpiRegions[r][c] == instanceNumber);
        g[r][c] = own ? LanduseLayerCode(multiLayerTable, landuse[r][c], static_cast<int>(k)) : nodata;
      }
    }
  }
}

double SoilGridValue(const SoilTableEntry& row, SoilGridKind kind, double rootDepth) {
  switch (kind) {
    case SoilGridKind::AvailableSoilMoisture:
      return row.FCap * rootDepth * 10.0;
    case SoilGridKind::HydraulicConductivity:
      return row.ksat_vevurada;
    case SoilGridKind::FillablePorosity:
      return row.mSB * 0.01;
  }
  return 0.0;
}

namespace {

// Grids the soil model needs that no module makes: a message on one left out says where it
// goes, whichever module asks for it first (evapotranspiration reads the soil moisture too).
// `near` names a grid given under a name close to "soil_types" that no module reads.
void NoteAbsentSoilGrids(GridRecord* grids, bool soilTypesGiven, const std::string& near) {
  NoteAbsentGrid(grids, "soil_storage",
                 "soil_storage is the relative soil moisture of every cell (0 .. 1), the state of the soil model: no "
                 "interpolator or module makes it. Give it as a variable grid in [variable_grids], made with one "
                 "value (read flag 0: \"soil_storage.asc soil_storage 0 0.6\" starts every cell at 0.6) or read from "
                 "the state an earlier run wrote (read flag 1)");
  if (soilTypesGiven) return;
  for (const char* derived : {"available_soil_moisture", "hydraulic_conductivity", "fillable_porosity"})
    NoteAbsentGrid(grids, derived,
                   std::string(derived) +
                       " is made by the start-up from the grid \"soil_types\" (the code of [soil_table] of every "
                       "cell), which is not given: give \"soil_types\" as a variable grid in [variable_grids], read "
                       "from a file (read flag 1) or made with one code (read flag 0: \"soil_types.asc soil_types 0 "
                       "1\" gives every cell the soil type 1), or as a standard grid in [standard_grids]" +
                       (near.empty() ? "" : "; " + near));
}

}  // namespace

void defaultini::make_nFK_kWert_and_Na() {
  const int soil = FindGrid("soil_types");
  const bool given = soil != 0 && GridData(soil) != nullptr;
  NoteAbsentSoilGrids(grids, given, given ? "" : UnreadNearNameNote(grids, "soil_types", "the start-up"));
  if (!given) return;
  double** soilTypes = GridData(soil);
  const double nodata = geometry.nodata_value;
  const std::vector<RowBounds>& bounds = run.rowBounds.empty() ? rowBounds : run.rowBounds;

  struct Derived {
    const char* internalName;
    const char* tag;
    SoilGridKind kind;
    double** defaultini::*grid;
    int defaultini::*position;
  };
  const Derived derived[] = {
      {"available_soil_moisture", "fk", SoilGridKind::AvailableSoilMoisture, &defaultini::availableSoilMoisture,
       &defaultini::availableSoilMoisturePosition},
      {"hydraulic_conductivity", "k", SoilGridKind::HydraulicConductivity, &defaultini::hydraulicConductivity,
       &defaultini::hydraulicConductivityPosition},
      {"fillable_porosity", "na", SoilGridKind::FillablePorosity, &defaultini::fillablePorosity,
       &defaultini::fillablePorosityPosition},
  };
  bool first = true;
  for (const Derived& d : derived) {
    const int given = FindGrid(d.internalName);
    if (given > 0) {
      this->*d.grid = GridData(given);
      this->*d.position = given;
      first = false;
      continue;
    }
    // The available soil moisture scales with the root depth of the first land-use layer.
    double** rootDepth = nullptr;
    if (d.kind == SoilGridKind::AvailableSoilMoisture) rootDepth = GridData(RequireGrid("root_depth1"));
    const int position = FirstPositionWithoutFileName();
    if (position >= 1000) {
      if (log)
        *log << (first ? "FATAL: no free grid found in memory (at position " : "FATAL: no free grid found in memeory (at position ")
             << position << (first ? "" : ")") << "[end-entry]";
      throw 12;
    }
    first = false;
    double** g = NewOwnedGrid(1, geometry.nrows);
    // Cells outside the rows' basin columns hold the nodata value too.
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 0; c <= geometry.ncols; ++c) g[r][c] = nodata;
    for (int r = 1; r <= geometry.nrows; ++r) {
      int firstColumn = 1, lastColumn = geometry.ncols;
      if (static_cast<int>(bounds.size()) > r) {
        firstColumn = std::max<int>(bounds[static_cast<size_t>(r)].first, 1);
        lastColumn = std::min<int>(bounds[static_cast<size_t>(r)].last, geometry.ncols);
      }
      for (int c = firstColumn; c <= lastColumn; ++c) {
        if (!IsBasinCell(r, c)) continue;
        int row = 0;
        // The code check made every basin value a soil-table row; anything else stays nodata.
        if (!CellCode(soilTypes[r][c], row) || row < 1 || row >= static_cast<int>(soilTable.size())) continue;
        const double depth = rootDepth != nullptr && rootDepth[r] != nullptr ? rootDepth[r][c] : 0.0;
        g[r][c] = SoilGridValue(soilTable[static_cast<size_t>(row)], d.kind, depth);
      }
    }
    Register(position, DerivedGridName(GridFileName(soil), d.tag), g, d.internalName, 0);
    this->*d.grid = g;
    this->*d.position = position;
    WriteGridOnce(position);
  }
}
