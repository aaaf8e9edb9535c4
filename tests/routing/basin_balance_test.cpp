// The water balance of the example basin with every process module on (radiation
// correction, evapotranspiration, interception, snow, soil with infiltration, routing with
// the outlet's reservoir giving water out of the model, and the example's snow grid rule),
// and each set-up's edits of the example (glaciers, snow held in the canopy, a lake at the
// outlet, a drought, the snow model's energy-balance methods): what falls on the
// sub-basins, with the snow that data assimilation put in, is what evaporates (snow in the
// canopy included), what the storages gained (the glaciers losing what their ice and firn
// melt, the lake what its water gave), what left the outlet and what the abstraction took out of
// the basin, to 1e-9 of the precipitation, with no term that books a difference.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "assimilation/dataassim.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/modappli.h"
#include "grids/grid_registry.h"
#include "processes/evapotranspiration/etpetr.h"
#include "processes/soil/infilt.h"
#include "processes/interception/interzep.h"
#include "processes/snow/snowmod.h"
#include "routing/abfluss.h"
#include "routing/routing_channel.h"
#include "routing/routingclass.h"
#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t p = text.find(from);
  ASSERT_NE(p, std::string::npos) << from;
  text.replace(p, from.size(), to);
}

// Sums per cell over the run of what the snow model computed on the cells of whole
// glaciers: ice and firn melt, the glacier part's snow and its outflow, the snow of the
// (empty) free part.
using WholeGlacierCells = std::vector<double>;

// Sums over the cells of the basin (the zone grid's), weighted as the soil model and routing
// weigh them (mm times cells).
struct Balance {
  ModellApplication* app = nullptr;
  double precipitation = 0.0, transpiration = 0.0, soilEvaporation = 0.0, interceptionEvaporation = 0.0,
         snowEvaporation = 0.0, canopySublimation = 0.0, outflow = 0.0, abstracted = 0.0, total = 0.0;
  double glacierMelt = 0.0, assimilated = 0.0;
  double snow0 = 0.0, interception0 = 0.0, soil0 = 0.0, channels0 = 0.0, reservoirs0 = 0.0, glacier0 = 0.0;
  int outlet = 0;
  int passes = 0;
  long dryLakeCells = 0, wetLakeCells = 0;  // lake cells and steps after which a cell was dry or not
  WholeGlacierCells* wholeCells = nullptr;

  infiltrationsmodellklasse& Soil() const { return *app->modules.soil; }

  // The glacier part of a cell (0 without glaciers; 1 on the cells of static glaciers).
  double GlacierShare(int r, int c) const { return app->modules.snow->Glaciers().Share(r, c); }
  // The part of a cell whose snow the ordinary snow storages hold: the part without glacier
  // of a dynamic glacier cell (the glacier part has its own), the whole cell elsewhere.
  double FreeSnowShare(int r, int c) const {
    return app->modules.snow->DynamicGlaciers() ? 1.0 - GlacierShare(r, c) : 1.0;
  }
  // The glacier part of a cell as the step began: the annual update changes it at the end of
  // the snow step, so what the modules before it computed stands on the parts of before, what
  // the soil and real evapotranspiration computed on the new ones.
  std::vector<double> sharesBefore;
  size_t CellIndex(int r, int c) const {
    return static_cast<size_t>(r) * static_cast<size_t>(Soil().geometry.ncols + 1) + static_cast<size_t>(c);
  }
  double ShareBefore(int r, int c) const { return sharesBefore[CellIndex(r, c)]; }
  void KeepShares() {
    sharesBefore.assign(CellIndex(Soil().geometry.nrows + 1, 0), 0.0);
    for (int r = 1; r <= Soil().geometry.nrows; ++r)
      for (int c = 1; c <= Soil().geometry.ncols; ++c) sharesBefore[CellIndex(r, c)] = GlacierShare(r, c);
  }
  // Water that data assimilation put into the free part's snow cover in the step (its sum so
  // far, per cell, at the end of the last step).
  std::vector<double> assimilatedBefore;

  template <typename F>
  double Cells(F&& value) const {
    const infiltrationsmodellklasse& s = Soil();
    double** zones = s.grids[1].data;
    double v = 0.0;
    for (int r = 1; r <= s.geometry.nrows; ++r)
      for (int c = 1; c <= s.geometry.ncols; ++c)
        if (zones[r][c] > s.geometry.nodata_value) v += (s.relCellArea ? s.relCellArea[r][c] : 1.0) * value(r, c);
    return v;
  }

  double SnowHeld() const {
    schneemodellklasse& sn = *app->modules.snow;
    using S = schneemodellklasse;
    return Cells([&](int r, int c) {
      const double onGlacier = sn.DynamicGlaciers() ? GlacierShare(r, c) * (sn.grid[S::kSolidOnGlacier][r][c] +
                                                                            sn.grid[S::kLiquidOnGlacier][r][c])
                                                    : 0.0;
      return FreeSnowShare(r, c) * (sn.grid[S::kSolid][r][c] + sn.grid[S::kLiquid][r][c]) + onGlacier;
    });
  }
  // The glaciers' outflow storages (mm over the storages' area in each sub-basin).
  double GlacierHeld() const {
    const schneemodellklasse& sn = *app->modules.snow;
    double v = 0.0;
    for (size_t k = 1; k < sn.glacierStorages.size(); ++k) {
      if (!sn.glacierStorages[k]) continue;
      const glacier::SubbasinParameters& q = sn.glacierParams[k];
      const double dt = sn.timeInterval;
      v += sn.GlacierStorageArea(k) * (glacier::StoredWater(sn.Qice[k], glacier::Recession(q.kice_els, dt)) +
                                       glacier::StoredWater(sn.Qfirn[k], glacier::Recession(q.kfirn_els, dt)) +
                                       glacier::StoredWater(sn.Qsnow[k], glacier::Recession(q.ksnow_els, dt)));
    }
    return v;
  }
  // The canopy of the part of a cell without glacier.
  double InterceptionHeld() const {
    const interzeptionsmodellklasse& ic = *app->modules.interception;
    return Cells([&](int r, int c) {
      double v = ic.canopySnowModel ? ic.canopyGrids[kCanopyLoad].data[r][c] : 0.0;  // snow in the canopy
      for (size_t k = 1; k < ic.layers.size(); ++k) v += ic.layers[k].storage[r][c];
      return (1.0 - GlacierShare(r, c)) * v;
    });
  }
  // Glacier and lake cells have no soil: the soil model passes over them and keeps fixed
  // values in their grids.
  double SoilHeld() const {
    const infiltrationsmodellklasse& s = Soil();
    const double nodata = s.geometry.nodata_value;
    double v = Cells([&](int r, int c) {
      if (s.glaciers.Soilless(r, c) || (s.lakeCodes && s.lakeCodes[r][c] > nodata)) return 0.0;
      return s.soilStorage[r][c] * s.availableSoilMoisture[r][c] +
             s.inactiveSoilMoisture[r][c] * s.inactiveFieldCapacity[r][c] + s.unsaturatedZone[r][c] +
             s.interflowStorage[r][c];
    });
    for (int i = 1; i <= s.subbasins; ++i) {
      const size_t k = static_cast<size_t>(i);
      const SubbasinParameters& q = s.params[k];
      for (size_t z = 2; z < s.zoneFZT[k].size(); ++z) v += s.zoneFZT[k][z].sx;
      v += s.weightSum[k] * (-s.meanDeficit[k] +
                             soilcell::LinearStorageContent(s.QD[k], std::exp(-s.timeInterval / q.kQD)) +
                             soilcell::LinearStorageContent(s.QBB[k], std::exp(-s.timeInterval / q.kQBB)));
    }
    return v;
  }
  double ChannelsHeld() const {
    const abflussmodellklasse& r = *app->modules.routing;
    double v = 0.0;
    for (const routingclass* o : r.routingObjects)
      for (const ChannelTable& c : o->channels) v += ChannelContent(c) * r.cellCounts[static_cast<size_t>(c.sourceZone)];
    return v;
  }
  // m³ as mm over one cell.
  double CellDepth(double m3) const {
    const double side = Soil().geometry.cellsize;
    return m3 * 1000.0 / (side * side);
  }
  double ReservoirsHeld() const {
    double v = 0.0;
    for (const routingclass* o : app->modules.routing->routingObjects)
      for (const auto& sp : o->reservoirs) v += CellDepth(sp->state[0]);
    return v;
  }

  // Water that data assimilation put into the snow cover from outside the balance in the
  // step, on the free part of the cell as it was then.
  double Assimilated() {
    double** a = app->modules.assimilation ? app->modules.assimilation->AssimilatedSnowWater() : nullptr;
    if (!a) return 0.0;
    assimilatedBefore.resize(sharesBefore.size(), 0.0);
    const bool dynamic = app->modules.snow->DynamicGlaciers();
    return Cells([&](int r, int c) {
      double& before = assimilatedBefore[CellIndex(r, c)];
      const double added = a[r][c] - before;
      before = a[r][c];
      return (dynamic ? 1.0 - ShareBefore(r, c) : 1.0) * added;
    });
  }

  void Start() {
    snow0 = SnowHeld();
    interception0 = InterceptionHeld();
    soil0 = SoilHeld();
    channels0 = ChannelsHeld();
    reservoirs0 = ReservoirsHeld();
    glacier0 = GlacierHeld();
    KeepShares();
  }

  void Step() {
    verdunstungsmodellklasse& et = *app->modules.evapotranspiration;
    interzeptionsmodellklasse& ic = *app->modules.interception;
    // The module on top reads the precipitation grid: the snow model with the interception
    // below it, the interception when its canopy holds snow.
    double** p = ic.canopySnowModel ? ic.inputGrid : app->modules.snow->precipitation;
    precipitation += Cells([&](int r, int c) { return p[r][c]; });
    // The deposition index raises the snow model's input in place, by its share of the
    // snowfall less what the canopy unloaded (on the part without glacier): below the canopy
    // that comes on top of what the canopy took. The snow of a glacier cell falls as it comes
    // but with the snow model's own method on its glacier part (glacier method 13).
    schneemodellklasse& sn = *app->modules.snow;
    if (ic.canopySnowModel && sn.depositionIndex)
      precipitation += Cells([&](int r, int c) {
        const double g = ShareBefore(r, c);
        if (g > 0.0 && sn.glacierMethod != 13) return 0.0;
        const double di = sn.depositionIndex[r][c], unload = sn.canopyUnload ? sn.canopyUnload[r][c] : 0.0;
        return (sn.grid[schneemodellklasse::kSnowfall][r][c] - (1.0 - g) * unload) * di / (1.0 + di);
      });
    assimilated += Assimilated();
    // The cell's real evapotranspiration (transpiration of every layer, soil and snow
    // evaporation, and the interception evaporation when the module links it) and its parts:
    // per unit area of the part without glacier, which the glacier part's snow evaporation
    // completes. The snow model and the modules before it stepped the parts of before.
    const auto free = [&](double** grid) {
      return Cells([&](int r, int c) { return (1.0 - GlacierShare(r, c)) * grid[r][c]; });
    };
    const auto freeBefore = [&](double** grid) {
      return Cells([&](int r, int c) { return (1.0 - ShareBefore(r, c)) * grid[r][c]; });
    };
    const bool interceptionFirst = ic.GetMethod() > 10;
    total += free(et.realTranspiration[0]);
    if (et.interceptionEvaporation) total -= free(et.interceptionEvaporation);
    for (int k = 1; k <= et.layers; ++k) transpiration += free(et.realTranspiration[static_cast<size_t>(k)]);
    soilEvaporation += free(et.realEvaporation);
    interceptionEvaporation +=
        interceptionFirst ? freeBefore(ic.layers[0].evaporation) : free(ic.layers[0].evaporation);
    if (ic.canopySnowModel) canopySublimation += freeBefore(ic.canopyGrids[kCanopySublimation].data);
    snowEvaporation += freeBefore(et.snowEvaporation);
    if (sn.DynamicGlaciers())
      snowEvaporation += Cells([&](int r, int c) {
        return ShareBefore(r, c) * sn.grid[schneemodellklasse::kSnowEvaporationOnGlacier][r][c];
      });
    if (sn.glacierMethod != 0)
      glacierMelt += Cells([&](int r, int c) {
        return ShareBefore(r, c) *
               (sn.grid[schneemodellklasse::kMeltIce][r][c] + sn.grid[schneemodellklasse::kMeltFirn][r][c]);
      });
    if (wholeCells && sn.DynamicGlaciers()) {
      using S = schneemodellklasse;
      size_t k = 0;
      for (int r = 1; r <= sn.geometry.nrows; ++r)
        for (int c = 1; c <= sn.geometry.ncols; ++c) {
          if (GlacierShare(r, c) != 1.0 || Soil().SubbasinOf(r, c) < 1) continue;
          if (wholeCells->size() < k + 5) wholeCells->resize(k + 5, 0.0);
          for (S::Grid g : {S::kMeltIce, S::kMeltFirn, S::kSnowMeltOnGlacier, S::kTotalOnGlacier, S::kTotal})
            (*wholeCells)[k++] += sn.grid[g][r][c];
        }
    }
    const abflussmodellklasse& routing = *app->modules.routing;
    if (routing.pondingGrid)
      Cells([&](int r, int c) {
        if (routing.lakeCodeGrid[r][c] > routing.geometry.nodata_value)
          ++(routing.pondingGrid[r][c] > 1.0 ? wetLakeCells : dryLakeCells);
        return 0.0;
      });
    outflow += routing.input[static_cast<size_t>(outlet)] * routing.cellCounts[static_cast<size_t>(outlet)];
    // What the reservoirs gave to abstractions (all of them leave the model here).
    for (const routingclass* o : routing.routingObjects)
      for (const auto& sp : o->reservoirs) abstracted += CellDepth(sp->Abstr.m3);
    KeepShares();
    ++passes;
  }
};

void AfterPass(ModellApplication&, void* context) { static_cast<Balance*>(context)->Step(); }

// An edit of the example's copy: its files in dir and its control file.
using BasinEdit = std::function<void(const TempDir& dir, std::string& control)>;

// Adds entries to the grid list whose count line holds `label`, raising its count by `count`.
void AddGrids(std::string& control, const std::string& label, int count, const std::string& entries) {
  const size_t at = control.find(label);
  ASSERT_NE(at, std::string::npos) << label;
  const size_t begin = control.rfind('\n', at) + 1;
  const int was = std::stoi(control.substr(begin));
  control.replace(begin, at - begin, std::to_string(was + count) + " ");
  control.insert(control.find('\n', begin) + 1, entries);
}
const char* const kStandardGrids = "# number of standard grids";
const char* const kVariableGrids = "# number of variable grids";

// An ASCII grid of the example: its six header lines and its values in row order.
struct ExampleGrid {
  std::string header;
  std::vector<double> values;
};
ExampleGrid ReadExampleGrid(const std::string& path) {
  ExampleGrid g;
  std::istringstream in(ReadTextFile(path));
  std::string line;
  for (int k = 0; k < 6 && std::getline(in, line); ++k) g.header += line + "\n";
  for (double v; in >> v;) g.values.push_back(v);
  return g;
}
void WriteExampleGrid(const std::string& path, const ExampleGrid& g) {
  std::string text = g.header;
  for (size_t i = 0; i < g.values.size(); ++i) text += FormatText("%.10g", g.values[i]) + (i % 32 == 31 ? "\n" : " ");
  WriteTextFile(path, text);
}

// Every station value v of a station file becomes factor * v + offset.
void ChangeStations(const TempDir& dir, const std::string& file, double factor, double offset) {
  std::istringstream in(ReadTextFile(dir.file(file)));
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.rfind("1985 ", 0) != 0) {
      out += line + "\n";
      continue;
    }
    std::istringstream f(line);
    std::string y, m, d, h;
    f >> y >> m >> d >> h;
    out += y + " " + m + " " + d + " " + h;
    for (double v; f >> v;) out += " " + FormatText("%.10g", factor * v + offset);
    out += "\n";
  }
  WriteTextFile(dir.file(file), out);
}

// Constant wind, humidity and radiation grids (the canopy snow and the snow energy balance
// read them), once.
void WeatherGrids(std::string& control) {
  if (control.find("wind_speed") != std::string::npos) return;
  AddGrids(control, kVariableGrids, 3,
           "wind.asc wind_speed 0 2.0\n0\n0\nrh.asc air_humidity 0 0.7\n0\n0\nrad.asc global_radiation 0 150\n0\n0\n");
}

// Cells above 3600 m carry ice, those above 3430 m firn (sub-basins 3 and 4, each with
// glacier-free cells), as a grid beside the example's elevations.
void AddGlaciers(const TempDir& dir, std::string& control) {
  ExampleGrid g = ReadExampleGrid(dir.file("dem.asc"));
  for (double& z : g.values) z = z > 3600.0 ? 1 : z > 3430.0 ? 2 : -9999;
  WriteExampleGrid(dir.file("ice_firn.asc"), g);
  AddGrids(control, kStandardGrids, 1, "ice_firn.asc ice_firn fillcode = 0\n");
  Replace(control, "[interception_model]",
          "[ice_firn]\n1 # Glacier-Method\n7.2 # DDFice\n4.8 # DDFfirn\n2.4 # DDFsnow\n1.2 # MF\n0.01 # Aice_min\n"
          "0.03 # Aice_max\n0.005 # Asnow_min\n0.015 # Asnow_max\n20 # kice_els\n50 # kfirn_els\n10 # ksnow_els\n"
          "0 # Qice\n0 # Qfirn\n0 # Qsnow\nfirn.asc\n0\nqfirn.stat 0\nice.asc\n0\nqice.stat 0\nqglac.stat 0\n\n"
          "[interception_model]");
}

// The same glaciers in a grid that holds 0 where a cell has none (a rasterizer's background
// without a no-data value): cells without glacier.
void AddGlaciersOnZeroBackground(const TempDir& dir, std::string& control) {
  AddGlaciers(dir, control);
  ExampleGrid g = ReadExampleGrid(dir.file("ice_firn.asc"));
  for (double& v : g.values) v = v == -9999.0 ? 0.0 : v;
  WriteExampleGrid(dir.file("ice_firn.asc"), g);
}

// Dynamic glaciers (method 11) on the highest cells of sub-basins 3 and 4: whole cells above
// 3600 m, cells glaciated in part (0.51 to 0.93) from 3430 m up, each sub-basin's cells one
// glacier; firn from 3550 m up. Every glacier sub-basin keeps glacier-free cells. The
// annual update falls on `evaluation` ("day month"), by default after the run; a small
// coefficient c of the volume-area relation V = c A^1.36 turns the mass balance of a few
// weeks into changes of whole cells.
void AddDynamicGlaciersEvaluatedOn(const TempDir& dir, std::string& control, const std::string& evaluation,
                                   double volumeScaling) {
  const ExampleGrid dem = ReadExampleGrid(dir.file("dem.asc")), zones = ReadExampleGrid(dir.file("zones.asc"));
  ExampleGrid fraction = dem, codes = zones;
  for (size_t i = 0; i < dem.values.size(); ++i) {
    const double z = zones.values[i] > 0.0 ? dem.values[i] : 0.0;
    fraction.values[i] = z > 3600.0 ? 1.0 : z > 3430.0 ? 0.51 + 0.42 * (z - 3430.0) / 170.0 : 0.0;
    codes.values[i] = z > 3430.0 ? zones.values[i] : -9999.0;
  }
  WriteExampleGrid(dir.file("glacier_fraction.asc"), fraction);
  WriteExampleGrid(dir.file("glacier_codes.asc"), codes);
  AddGrids(control, kStandardGrids, 2,
           "glacier_fraction.asc GlacierizedCells fillcode = 0\nglacier_codes.asc GlacierCodes fillcode = 0\n");
  std::string section = "[ice_firn]\n11 # Glacier-Method\n7.2 # DDFice\n4.8 # DDFfirn\n2.4 # DDFsnow\n1.2 # MF\n"
                        "0.01\n0.03\n0.005\n0.015\n20 # kice_els\n50 # kfirn_els\n10 # ksnow_els\n0\n0\n0\n"
                        "firn.asc\n0\nqfirn.stat 0\nice.asc\n0\nqice.stat 0\nqglac.stat 0\nqsog.stat 0\n0 # readgrid\n"
                        "3 3550 0.5 # firn levels, firn base, firn per 100 m\n" +
                        evaluation + " # evaluation day and month\n" + FormatText("%g", volumeScaling) +
                        " 1.36 4 0\nfirnstack.asc\n0\nfirn.stat 0\nmb.asc\n0\nmbold.asc\n0\nmb1.stat 0\nmb2.stat 0\n"
                        "1.0 # debris scaling\nsog.stat 0\n";
  for (int k = 0; k < 7; ++k) section += "glacier" + std::to_string(k) + ".asc\n0\n";
  Replace(control, "[interception_model]", section + "1000 0.25\n\n[interception_model]");
}
// The same glaciers without storages: a constant of 0 hours passes the melt on in its step.
void AddGlaciersWithoutStorages(const TempDir& dir, std::string& control) {
  AddGlaciers(dir, control);
  Replace(control, "20 # kice_els\n50 # kfirn_els\n10 # ksnow_els", "0 # kice_els\n0 # kfirn_els\n0 # ksnow_els");
}

void AddDynamicGlaciers(const TempDir& dir, std::string& control) {
  AddDynamicGlaciersEvaluatedOn(dir, control, "30 9", 28.5);
}
// The same glaciers beside an "ice_firn" grid of 0 in every cell, which the dynamic glaciers
// do not read: no module takes its cells for glacier.
void AddDynamicGlaciersBesideIceGridOfZeros(const TempDir& dir, std::string& control) {
  AddDynamicGlaciers(dir, control);
  ExampleGrid g = ReadExampleGrid(dir.file("dem.asc"));
  for (double& v : g.values) v = 0.0;
  WriteExampleGrid(dir.file("ice_firn.asc"), g);
  AddGrids(control, kStandardGrids, 1, "ice_firn.asc ice_firn fillcode = 0\n");
}
// The same glaciers with their fraction grid written beyond 0..1: 1.2 where a cell is all
// glacier, -0.1 where it has none. Limited to 0..1 as the snow model takes them, they are the
// same glaciers, and every module takes the same shares.
void AddDynamicGlaciersWithFractionsBeyondTheirRange(const TempDir& dir, std::string& control) {
  AddDynamicGlaciers(dir, control);
  ExampleGrid fraction = ReadExampleGrid(dir.file("glacier_fraction.asc"));
  for (double& v : fraction.values) v = v >= 1.0 ? 1.2 : v == 0.0 ? -0.1 : v;
  WriteExampleGrid(dir.file("glacier_fraction.asc"), fraction);
}
BasinEdit GlaciersUpdatedOn(const std::string& evaluation, double volumeScaling) {
  return [evaluation, volumeScaling](const TempDir& dir, std::string& control) {
    AddDynamicGlaciersEvaluatedOn(dir, control, evaluation, volumeScaling);
  };
}

// Interception above the snow cover with snow held in the canopy (method 22): it runs
// before the snow model.
void CanopySnow(const TempDir&, std::string& control) {
  Replace(control, "2       # method: one storage per layer below", "22      # method: one storage per layer below");
  std::string canopy;
  for (const char* g : {"scn_temp", "scn_rh", "scn_rad", "scn_wind", "scn_load", "scn_age", "scn_alb", "scn_subl",
                        "scn_solid", "scn_liquid"})
    canopy += std::string("output/") + g + ".asc\n0\n" + g + ".stat 0\n";
  canopy += "0.5 # min LAI\n0.01 # min z0\n1.0 # LAI scale\n";
  const std::string readgrids = "0       # readgrids: 0 starts with empty storages\n";
  Replace(control, readgrids, readgrids + canopy);
  WeatherGrids(control);
}

// Lake 1, the outlet's reservoir, on the three lowest cells of sub-basin 5, topped 2 m above
// the highest of them, with 300 mm of water on each at the start: the level lies between
// their grounds, so that some lake cells are dry while others hold water.
void AddLake(const TempDir& dir, std::string& control) {
  const ExampleGrid dem = ReadExampleGrid(dir.file("dem.asc")), zones = ReadExampleGrid(dir.file("zones.asc"));
  std::vector<std::pair<double, size_t>> cells;
  for (size_t i = 0; i < zones.values.size(); ++i)
    if (zones.values[i] == 5) cells.push_back({dem.values[i], i});
  std::sort(cells.begin(), cells.end());
  cells.resize(3);
  ExampleGrid codes = zones, depth = zones;
  std::fill(codes.values.begin(), codes.values.end(), -9999.0);
  std::fill(depth.values.begin(), depth.values.end(), 0.0);
  for (const auto& cell : cells) {
    codes.values[cell.second] = 1;
    depth.values[cell.second] = cells.back().first + 2.0 - cell.first;  // m
  }
  WriteExampleGrid(dir.file("lake.asc"), codes);
  WriteExampleGrid(dir.file("maxpond.asc"), depth);
  AddGrids(control, kStandardGrids, 2,
           "lake.asc lake_codes fillcode = 0\nmaxpond.asc max_ponding_storage fillcode = 0\n");
  AddGrids(control, kVariableGrids, 2,
           "pond.asc ponding_storage 0 300\n0\n0\npondtop.asc ponding_storage_top 0 0\n0\n0\n");
  control += "\n[lake_model]\n1 # flow control\n1 # initialization\n0.08 # albedo\n0.001 # z0\n0 # readgrids\n";
}

// A warm and dry season: the stations 10 K warmer, with a tenth of their precipitation.
void Drought(const TempDir& dir, std::string&) {
  ChangeStations(dir, "temperature.dat", 1.0, 10.0);
  ChangeStations(dir, "precipitation.dat", 0.1, 0.0);
}

// The start soil moisture from a grid of 8 km cells over the basin's south-west, one of them
// without a value: blended by inverse distance beside it, and the cells beyond the file and
// its hole filled by the fill code 2.
void CoarseStartSoilMoisture(const TempDir& dir, std::string& control) {
  WriteTextFile(dir.file("soil_storage.asc"),
                "ncols 3\nnrows 2\nxllcorner 454800\nyllcorner 4158000\ncellsize 8000\nNODATA_value -9999\n"
                "0.55 -9999 0.7\n0.4 0.62 0.5\n");
  Replace(control, "soil_storage.asc soil_storage 0 0.6", "soil_storage.asc soil_storage 2 0.6");
}

// The zone grid of two elevation bands (the land-use grid), the soil model's and routing's
// sub-basins a grid of their own, its codes written a float's rounding off (4.9999999,
// 2.0000001), as an export in single precision leaves them.
void SubbasinsOfTheirOwn(const TempDir& dir, std::string& control) {
  ExampleGrid subbasins = ReadExampleGrid(dir.file("zones.asc"));
  for (size_t i = 0; i < subbasins.values.size(); ++i)
    if (subbasins.values[i] > 0.0) subbasins.values[i] += i % 2 ? 1e-7 : -1e-7;
  WriteExampleGrid(dir.file("subbasins.asc"), subbasins);
  Replace(control, "zones.asc zonegrid_soilmodel", "subbasins.asc zonegrid_soilmodel");
  Replace(control, "zones.asc       # sub-basin codes", "landuse.asc     # elevation bands");
  Replace(control, "5       # number of sub-basins with statistics output\n1\n2\n3\n4\n5\n",
          "2       # number of sub-basins with statistics output\n1\n2\n");
}

// The stations 5 K colder.
void Cold(const TempDir& dir, std::string&) { ChangeStations(dir, "temperature.dat", 1.0, -5.0); }

// Penman-Monteith evapotranspiration on the wind, humidity and radiation grids.
void PenmanMonteith(const TempDir&, std::string& control) {
  Replace(control, "2       # method: 1 Penman-Monteith", "1       # method: 1 Penman-Monteith");
  WeatherGrids(control);
}

// A water table within the roots' capillary reach: a small initial saturation deficit.
void CapillaryRise(const TempDir&, std::string& control) {
  Replace(control, "0.5     0.5     # SDini", "0.02    0.02    # SDini");
}

// The snow model's method m (5, 6, 7 or 11: an energy balance with its own snow
// evaporation), with the grids and values those methods read.
BasinEdit SnowMethod(int m) {
  return [m](const TempDir&, std::string& control) {
    Replace(control, "1       # method: temperature index", std::to_string(m) + "       # method:");
    std::string block;
    for (const char* g : {"snowtemp", "surftemp", "inputmass", "mobilemass", "deposition"})
      block += std::string("output/") + g + ".asc\n0\n" + g + ".stat 0\n";
    block += "55.0 # maxDepositionSlope\n1.0 # maxDepositionFactor\n5.0 # minSlideSlope\n0.01 # slideMassFrac\n"
             "1.0 # LWINcorr\n1.0 # LWOUTcorr\n1.0 # EnBalScaling\n";
    const std::string readgrids = "0       # readgrids: 0 starts without snow\n";
    Replace(control, readgrids, readgrids + block);
    WeatherGrids(control);
    AddGrids(control, kVariableGrids, 5,
             "di.asc deposition_index 0 0.1\n0\n0\nsf1.asc slidefraction1 0 0.25\n0\n0\n"
             "sf2.asc slidefraction2 0 0.25\n0\n0\nsf3.asc slidefraction3 0 0.25\n0\n0\n"
             "sf4.asc slidefraction4 0 0.25\n0\n0\n");
  };
}

// Runs the example for three months (or its January) with the edits and checks the balance
// term by term.
// `outputs` (when given) receives every file the run wrote into output/, by name.
void CheckBalance(int months, const std::vector<BasinEdit>& edits, WholeGlacierCells* wholeCells = nullptr,
                  std::map<std::string, std::string>* outputs = nullptr) {
  TempDir dir;
  std::string control = CopyExampleBasin(dir, months);
  // Interception on where the example leaves it off.
  const std::string off = "[interception_model]\n0       # flow control parameter\n60      # time interval in minutes\n";
  if (control.find(off) != std::string::npos)
    Replace(control, off,
            "[interception_model]\n1\n60\n1   # method\noutput/ithr.asc\n0\nithr.stat 0\noutput/ievap.asc\n0\n"
            "ievap.stat 0\noutput/istor.asc\n0\nistor.stat 0\n0.3 # max water layer\n0 # readgrids\n");
  // The outlet's reservoir gives 0.2 % of its volume per step out of the model.
  Replace(control, "SP 1 (file = reservoir_1.txt",
          "AL 1 (mode = extern abstraction_1.txt 0 0.002 1000 mm)\nSP 1 (file = reservoir_1.txt");
  for (const BasinEdit& edit : edits) edit(dir, control);
  WriteTextFile(dir.file("basin.ctl"), control);
  std::filesystem::create_directories(dir.file("output"));

  Balance b;
  b.wholeCells = wholeCells;
  std::string console;
  const auto started = [&](ModellApplication& app) {
    b.app = &app;
    ASSERT_NE(app.modules.interception, nullptr);
    ASSERT_NE(app.modules.snow, nullptr);
    ASSERT_NE(app.modules.soil, nullptr);
    ASSERT_NE(app.modules.routing, nullptr);
    ASSERT_NE(app.modules.evapotranspiration, nullptr);
    b.outlet = app.modules.soil->soilZoneCodeMap[5];
    b.Start();
  };
  const auto finished = [&](ModellApplication&) {
    const double snow = b.SnowHeld() - b.snow0, interception = b.InterceptionHeld() - b.interception0,
                 soil = b.SoilHeld() - b.soil0, channels = b.ChannelsHeld() - b.channels0,
                 reservoirs = b.ReservoirsHeld() - b.reservoirs0,
                 glacier = b.GlacierHeld() - b.glacier0 - b.glacierMelt;
    const double et =
        b.transpiration + b.soilEvaporation + b.interceptionEvaporation + b.snowEvaporation + b.canopySublimation;
    const double fromTotal = b.total + b.interceptionEvaporation;
    const double assimilated = b.assimilated;
    const double residual =
        b.precipitation + assimilated - et - snow - glacier - interception - soil - channels - reservoirs - b.outflow -
        b.abstracted;
    std::printf("passes %d (mm times cells)\nP %.9g  assimilated snow %.9g\n"
                "ET %.9g (transpiration %.9g, soil %.9g, interception %.9g, snow %.9g, canopy snow %.9g)\n"
                "dSnow %.9g  dGlacier %.9g (melt of ice and firn %.9g)  dInterception %.9g  dSoil %.9g  dChannels %.9g  "
                "dReservoirs %.9g\noutlet discharge %.9g  abstraction out of the basin %.9g\n"
                "residual %.3g (%.3g of P)\nET from the cell totals %.9g\n",
                b.passes, b.precipitation, assimilated, et, b.transpiration, b.soilEvaporation,
                b.interceptionEvaporation, b.snowEvaporation, b.canopySublimation, snow, glacier, b.glacierMelt, interception, soil, channels,
                reservoirs, b.outflow, b.abstracted, residual, residual / b.precipitation, fromTotal);
    EXPECT_EQ(b.passes, (months == 3 ? 31 + 28 + 31 : 31) * 24);
    EXPECT_GT(b.precipitation, 0.0);
    EXPECT_GT(b.outflow, 0.0);
    EXPECT_TRUE(std::isfinite(residual));
    EXPECT_LT(b.outflow, b.precipitation + assimilated + b.glacierMelt);
    EXPECT_GT(assimilated, 0.0) << "the example's snow grid rule adds snow";
    EXPECT_EQ(b.canopySublimation > 0.0, b.app->modules.interception->canopySnowModel);
    EXPECT_GT(b.abstracted, 0.0);
    EXPECT_EQ(b.glacierMelt > 0.0, b.app->modules.snow->glacierMethod != 0);
    if (b.app->modules.routing->pondingGrid) {
      EXPECT_GT(b.dryLakeCells, 0) << "no lake cell was dry";
      EXPECT_GT(b.wetLakeCells, 0) << "no lake cell held water";
    }
    EXPECT_LE(std::fabs(residual), 1e-9 * b.precipitation);
  };
  // The balance reads grids of the step after the pass, which modules would otherwise share.
  NextApplicationSeams().keepEveryGrid = true;
  EXPECT_EQ(RunExampleInProcess(dir, started, AfterPass, &b, finished, &console), 0) << console;
  // What the abstraction's file says left the basin (m³/s per hourly step, each 1 km² cell
  // taking 1000 m³ as 1 mm) is what the reservoir gave; the last day reaches the file at the
  // end of the run.
  std::istringstream rows(ReadTextFile(dir.file("output/abstraction_1.txt")));
  std::string row;
  double written = 0.0;
  while (std::getline(rows, row)) {
    std::istringstream f(row);
    double year = 0.0, month, day, hour, q = 0.0;
    if (f >> year >> month >> day >> hour >> q && year == 1985.0) written += 3600.0 * q;
  }
  EXPECT_NEAR(written / 1000.0, b.abstracted, 1e-5 * b.abstracted) << "six digits per row";
  if (outputs)
    for (const auto& f : std::filesystem::directory_iterator(dir.file("output")))
      (*outputs)[f.path().filename().string()] = ReadTextFile(f.path().string());
}

TEST(BasinBalance, EverySetUpClosesTermByTerm) {
  const struct {
    const char* name;
    int months;
    std::vector<BasinEdit> edits;
  } rows[] = {
      {"three months with glaciers, the interception below the snow cover", 3, {AddGlaciers}},
      {"January with glaciers whose storage constants are 0 hours", 1, {AddGlaciersWithoutStorages}},
      {"January with glaciers coded 1 and 2 on a background of 0", 1, {AddGlaciersOnZeroBackground}},
      {"January with snow held in the canopy above the snow cover", 1, {CanopySnow}},
      // The soil and routing take the water of every cell of the zone grid.
      {"January with a zone grid of elevation bands and sub-basins of their own, written a float's rounding off",
       1,
       {SubbasinsOfTheirOwn}},
      {"January from a start soil moisture of coarse cells over part of the basin", 1, {CoarseStartSoilMoisture}},
      // Dry lake cells hold no water to evaporate.
      {"January's drought with a lake whose higher cells are dry", 1, {AddLake, Drought}},
      // The lake takes the snow cover's outflow, the last module above its cells.
      {"January with a lake and snow held in the canopy above the snow cover", 1, {AddLake, CanopySnow}},
      // The snow's own evaporation, whatever share of the demand it takes.
      {"January with the snow cover's energy balance (method 5)", 1, {SnowMethod(5)}},
      {"January with the snow cover's energy balance and slides (method 6)", 1, {SnowMethod(6)}},
      {"three months with the snow cover's energy balance, slides and deposition (method 7)", 3, {SnowMethod(7)}},
      {"January with a lake, snow held in the canopy and the energy balance with deposition (method 11)", 1,
       {AddLake, CanopySnow, SnowMethod(11)}},
      // The snow model's outflow is the glacier-free part's water once, the soil takes it,
      // real evapotranspiration takes from the soil what it books.
      {"three months with dynamic glaciers, wholly, partly and not glaciated cells", 3, {AddDynamicGlaciers}},
      {"January with dynamic glaciers whose fraction grid holds 1.2 on whole and -0.1 on glacier-free cells", 1,
       {AddDynamicGlaciersWithFractionsBeyondTheirRange}},
      {"January with dynamic glaciers beside an ice_firn grid of 0", 1, {AddDynamicGlaciersBesideIceGridOfZeros}},
      // The annual update inside the run: the canopy's stores on the part without glacier
      // keep their water, which a cell that becomes all glacier gives to its glacier's snow.
      {"three months with every module: Penman-Monteith, capillary rise, a lake whose higher cells dry, snow held in "
       "the canopy above the energy balance with slides and deposition (method 7), and dynamic glaciers 5 K colder "
       "that grow on 15 February (partly glaciated cells become whole, glacier-free ones join)",
       3,
       {Cold, PenmanMonteith, CapillaryRise, GlaciersUpdatedOn("15 2", 0.05), AddLake, CanopySnow, SnowMethod(7)}},
      {"three months with snow held in the canopy and dynamic glaciers that shrink on 15 February (cells leave "
       "them, whole cells keep a part without glacier)",
       3,
       {GlaciersUpdatedOn("15 2", 0.02), CanopySnow}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CheckBalance(row.months, row.edits);
  }
}

// Whole-glacier cells have no canopy: with snow held in the canopy of the other cells, their
// snow and glacier take the open air and the same water as without it, step by step.
TEST(BasinBalance, WholeGlacierCellsTheSameWithAndWithoutSnowHeldInTheCanopy) {
  WholeGlacierCells below, above;
  CheckBalance(1, {AddDynamicGlaciers}, &below);
  CheckBalance(1, {AddDynamicGlaciers, CanopySnow}, &above);
  ASSERT_EQ(below.size(), above.size());
  ASSERT_GT(below.size(), 5u * 4u);
  for (size_t k = 0; k < below.size(); ++k)
    EXPECT_NEAR(above[k], below[k], 1e-9 * std::fabs(below[k])) << "cell " << k / 5 << ", value " << k % 5;
}

// A glacier grid with 0 where a cell has none runs as its twin with no-data there: every
// file written the same.
TEST(BasinBalance, GlacierCodesOnAZeroBackgroundAsOnNoData) {
  std::map<std::string, std::string> noData, zero;
  CheckBalance(1, {AddGlaciers}, nullptr, &noData);
  CheckBalance(1, {AddGlaciersOnZeroBackground}, nullptr, &zero);
  ASSERT_GT(noData.size(), 10u);
  ASSERT_GT(noData.count("discharge.stat"), 0u);
  for (const auto& f : noData) EXPECT_TRUE(zero[f.first] == f.second) << f.first;
  EXPECT_EQ(zero.size(), noData.size());
}

}  // namespace
