#include "processes/soil_basin.h"

SoilBasin::SoilBasin() : zone(kRows, kCols) {
  geometry.ncols = kCols;
  geometry.nrows = kRows;
  geometry.cellsize = 1000.0;
  geometry.nodata_value = -9999.0;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) zone[r][c] = c <= 2 ? 1.0 : 3.0;
  zone[6][5] = -9999.0;
  registry[1].data = zone.get();
  registry[1].internalName = "zone_grid";
  registry[1].registered = true;
  next = 2;
  double** soilZones = Add("zonegrid_soilmodel", 0.0);
  double** weights = Add("RelCellArea", 1.0);
  double** topo = Add("topographic_faktor", 0.0);
  double** rd = Add("root_depth1", 0.5);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      soilZones[r][c] = zone[r][c];
      weights[r][c] = 0.5 + 0.1 * ((r * 7 + c * 3) % 10);
      topo[r][c] = 5.0 + 0.3 * ((r * 5 + c * 11) % 7);
      rd[r][c] = 0.3 + 0.1 * ((r + c) % 5);
    }
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c)
      if (!Inside(r, c)) soilZones[r][c] = weights[r][c] = topo[r][c] = rd[r][c] = -9999.0;
  Add("hydraulic_conductivity", 2.0);
  Add("soil_storage", 0.5);
  Add("available_soil_moisture", 120.0);
  Add("soil_types", 1.0);
  Add("precipitation", 0.0);
  Add("fillable_porosity", 0.0);
  zoneTable.resize(3);
  zoneTable[1].code = 1;
  zoneTable[2].code = 3;
  codeMap = {0, 1, 0, 2};
  soilRows.resize(2);
  soilRows[1].mSBFCapDifference = 0.1;
  soilRows[1].suction = 300.0;
  run.soilTable = &soilRows;
}

double** SoilBasin::Add(const std::string& internalName, double value) {
  owned.push_back(std::make_unique<MatrixOwner>(kRows, kCols));
  double** m = owned.back()->get();
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) m[r][c] = value;
  registry[next].data = m;
  registry[next].internalName = internalName;
  registry[next].fileName = internalName + ".asc";
  registry[next].registered = true;
  ++next;
  return m;
}

double** SoilBasin::Grid(const std::string& internalName) {
  for (int p = 1; p < kGridRegistrySize; ++p)
    if (registry[p].registered && registry[p].internalName == internalName) return registry[p].data;
  return nullptr;
}

ModuleInputs SoilBasin::Inputs(const std::string& controlFile) {
  ModuleInputs in;
  in.log = &log.log();
  in.controlFileName = controlFile;
  in.grids = registry.Records();
  in.reportInterval = 1000;
  in.zoneTable = zoneTable.data();
  in.zoneCodeMap = codeMap.data();
  in.zoneCount = 2;
  in.maxZoneCode = 3;
  in.firstRow = 1;
  in.lastRow = kRows;
  in.geometry = geometry;
  in.start = ModelDate{0, 1, 1, 1, 2001};
  in.end = ModelDate{0, 24, 31, 12, 2001};
  in.output.defaultOutputDirectory = dir.path() + "/";
  in.output.outputDirectory = dir.path() + "/";
  in.output.initialStateDirectory = dir.path() + "/";
  in.output.timeStepMinutes = 60.0;
  in.run = &run;
  in.storage = &storage;
  return in;
}

std::string SoilBasin::ControlText(const SoilSectionOptions& o) const {
  std::string t = "[infiltration_model]\n" + std::to_string(o.infiltration) + "\n" +
                  std::to_string(o.infiltrationInterval) + "\ninfex.asc\n0\ninfex.stat " + o.statCode + "\ninfsat.asc\n0\n" +
                  std::to_string(o.macropores) + "\n\n";
  t += "[soil_model]\n" + std::to_string(o.flowControl) + "\n" + std::to_string(o.interval) + "\n" +
       std::to_string(o.method) + "\n";
  const char* names[8] = {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "qd", "qi"};
  for (const char* n : names) t += o.gridDir + n + ".bin\n0\n";
  t += "peak.asc\n";
  for (const char* s : {"QD", "QI", "QB", "QBB", "Qg", "SB", "SUZ", "SIF", "SD"}) t += std::string(s) + ".stat " + o.statCode + "\n";
  t += o.codeRow + " # codes\n";
  for (const std::string& row : o.rows) t += row + " # row\n";
  t += std::to_string(o.readgrids) + "\nstate.txt\n\n" + o.extra;
  return t;
}

ModuleOwner<infiltrationsmodellklasse> SoilBasin::Build(const SoilSectionOptions& o, int* error) {
  const std::string path = dir.file("soil.ctl");
  WriteTextFile(path, ControlText(o));
  int err = 0;
  auto m = MakeModule<infiltrationsmodellklasse>(err, Inputs(path));
  if (error) *error = err;
  m->SetInputGrid(0);
  return m;
}
