#include "interception_basin.h"

#include <gtest/gtest.h>

#include "framework/text_helpers.h"

namespace {

std::string LanduseEntry(int code, const std::string& extra) {
  return std::to_string(code) +
         " forest { method = VariableDayCount;\n RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45;\n "
         "JulDays = 1 100 200 366;\nAlbedo = 0.2 0.2 0.3 0.2;\n rsc = 80 70 60 80;\n LAI = 1 2 4 1;\n "
         "Z0 = 0.1 0.1 0.2 0.1;\n VCF = 0.5 0.6 0.9 0.5;\n RootDepth = 0.2 0.3 0.5 0.2;\n AltDep = 0 0 0 0;\n" +
         extra + "}\n";
}

}  // namespace

InterceptionBasin::InterceptionBasin(int rowsIn, int colsIn, int layersIn)
    : rows(rowsIn), cols(colsIn), layers(layersIn) {
  geometry.ncols = cols;
  geometry.nrows = rows;
  geometry.cellsize = 1000.0;
  geometry.nodata_value = -9999.0;
  double** zone = Add("zone_grid", 1.0);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) zone[r][c] = c <= cols / 2 ? 1.0 : 2.0;
  if (rows >= 2) zone[2][cols] = -9999.0;
  Add("[elevation_model]", 1500.0);
  Add("RelCellArea", 1.0);
  zoneTable.resize(3);
  zoneTable[1].code = 1;
  zoneTable[1].fraction = 0.5;
  zoneTable[2].code = 2;
  zoneTable[2].fraction = 0.5;
  codeMap = {0, 1, 2};
  bounds.assign(static_cast<size_t>(rows) + 1, RowBounds{1, cols});

  TextCursor c("3\n" + LanduseEntry(10, "IntercepCap = 0.4;\n") + LanduseEntry(20, "") +
               LanduseEntry(30, "IntercepCap = 0;\n"));
  landuse = ReadLanduseSection(&log.log(), c, 1);
  run.landuseTable = &landuse;
  if (layers > 1) {
    multiLayer.resize(2);
    multiLayer[1].layerCount = layers;
    run.multiLayerTable = &multiLayer;
  }
  for (int k = 1; k <= layers; ++k) {
    const std::string n = std::to_string(k);
    Add("landuse" + n, 1.0);
    Add("leaf_area_index" + n, 3.0);
    Add("vegetation_coverage_degree" + n, 0.8);
    Add("RoughnessLength" + n, 1.5);
    Add("SurfaceCanopyResistance" + n, 80.0);
    Add("SurfaceIntercepResistance" + n, 60.0);
  }
  for (int k = 0; k <= layers; ++k) {
    const std::string n = std::to_string(k);
    Add("pot_transpiration" + n, 0.1);
    Add("potential_InterceptionEvap" + n, 0.15);
    Add("real_transpiration" + n, 0.0);
  }
  Add("precipitation", 1.0);
  Add("temperature", -2.0);
  Add("AspectCorrectedGlobalRadiation", 200.0);
  Add("wind_speed", 2.0);
  Add("air_humidity", 0.8);
  Add("cloudiness", 0.5);
  control = dir.file("control.txt");
}

InterceptionBasin::~InterceptionBasin() = default;

double** InterceptionBasin::Add(const std::string& internalName, double value) {
  owned.push_back(std::make_unique<MatrixOwner>(rows, cols));
  double** m = owned.back()->get();
  for (int r = 1; r <= rows; ++r)
    for (int c = 0; c <= cols; ++c) m[r][c] = value;
  GridRecord& rec = registry[nextPosition++];
  rec.data = m;
  rec.internalName = internalName;
  rec.registered = true;
  return m;
}

double** InterceptionBasin::Grid(const std::string& internalName) {
  for (int p = 1; p < kGridRegistrySize; ++p)
    if (registry[p].internalName == internalName) return registry[p].data;
  ADD_FAILURE() << "no grid " << internalName;
  return nullptr;
}

void InterceptionBasin::Remove(const std::string& internalName) {
  for (int p = 1; p < kGridRegistrySize; ++p)
    if (registry[p].internalName == internalName) registry[p].internalName = "removed_" + internalName;
}

std::string InterceptionBasin::Section(int method, double maxWaterLayer, int readGrids, int statCode,
                                       const std::string& names) {
  const std::string code = std::to_string(statCode);
  return "[interception_model]\n1  # flow control\n60 # interval\n" + std::to_string(method) + " # method\n" +
         names + "thr.asc # throughfall\n3\n" + names + "thr.stat " + code + "\n" + names + "evap.asc\n3\n" + names +
         "evap.stat " + code + "\n" + names + "stor.asc\n3\n" + names + "stor.stat " + code + "\n" +
         FormatText("%.17g", maxWaterLayer) + " # max water layer\n" + std::to_string(readGrids) + " # readgrids\n";
}

std::string InterceptionBasin::CanopySection(double minLai, double minZ0, double laiScale, bool balance,
                                             const std::string& names, int statCode) {
  const std::string code = std::to_string(statCode);
  std::string s;
  const char* grids[] = {"scn_temp", "scn_rh", "scn_rad", "scn_wind", "scn_load", "scn_age", "scn_alb", "scn_subl",
                         "scn_solid", "scn_liquid"};
  for (const char* g : grids) s += names + g + ".asc\n3\n" + names + g + ".stat " + code + "\n";
  s += FormatText("%.17g\n%.17g\n%.17g\n", minLai, minZ0, laiScale);
  if (balance)
    for (const char* g : {"ceb", "ceb_t", "ceb_told", "ceb_dummy"})
      s += names + g + ".asc\n3\n" + names + g + ".stat " + code + "\n";
  return s;
}

void InterceptionBasin::WriteControl(const std::string& text) { WriteTextFile(control, text); }

ModuleInputs InterceptionBasin::Inputs() {
  ModuleInputs in;
  in.log = &log.log();
  in.controlFileName = control;
  in.grids = registry.Records();
  in.reportInterval = 24;
  in.zoneTable = zoneTable.data();
  in.zoneCodeMap = codeMap.data();
  in.zoneCount = 2;
  in.maxZoneCode = 2;
  in.rowBounds = &bounds;
  in.firstRow = 1;
  in.lastRow = rows;
  in.geometry = geometry;
  in.start = ModelDate{0, 1, 1, 1, 2001};
  in.end = ModelDate{0, 0, 3, 1, 2001};
  in.output.defaultOutputDirectory = dir.path() + "/";
  in.output.outputDirectory = dir.path() + "/";
  in.output.inputDirectory = dir.path() + "/";
  in.output.writeDoubleGrids = true;
  in.output.timeStepMinutes = 60.0;
  in.run = &run;
  return in;
}

ModuleOwner<interzeptionsmodellklasse> InterceptionBasin::Make(int& error) {
  return MakeModule<interzeptionsmodellklasse>(error, Inputs());
}
