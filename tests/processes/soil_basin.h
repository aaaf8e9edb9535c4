// A small basin for the soil model tests: 6 x 5 cells of 1000 m, sub-basins 1 (columns 1-2)
// and 3 (columns 3-5), cell (6, 5) outside; every grid the soil model reads, registered by
// name, and a control file built from the parameters below.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "grids/grid_registry.h"
#include "framework/storage_file.h"
#include "init/defaultini.h"
#include "processes/soil/infilt.h"
#include "support/module_owner.h"
#include "support/test_support.h"

struct SoilSectionOptions {
  int flowControl = 1;
  int interval = 60;
  int method = 2;
  std::string codeRow = "1 3";
  // Fourteen rows, each with the values of the listed codes.
  std::vector<std::string> rows = {"0.05 0.04", "1e-6 2e-6", "1 0.5", "1 2",     "20 15", "10 5",   "100 200",
                                   "0.01 0.02", "0.1 0.2",  "5 4",   "0.4 0.6", "4 6",   "0 0",    "0.2 0.1"};
  int readgrids = 0;
  std::string gridDir;  // prefix of the state grid files
  int infiltration = 1;
  int infiltrationInterval = 60;
  double macropores = 0.3;
  std::string extra;  // appended to the control file
  std::string statCode = "0";  // of every statistics file
};

class SoilBasin {
 public:
  static constexpr int kRows = 6, kCols = 5;
  SoilBasin();

  // Registers a grid (owned by the basin) under a name with every cell at value.
  double** Add(const std::string& internalName, double value);
  double** Grid(const std::string& internalName);
  ModuleInputs Inputs(const std::string& controlFile);
  std::string ControlText(const SoilSectionOptions& o) const;
  // Builds the soil object from the options (control file in the temporary folder).
  ModuleOwner<infiltrationsmodellklasse> Build(const SoilSectionOptions& o, int* error = nullptr);
  bool Inside(int r, int c) const { return zone[r][c] > -9999.0; }

  TempDir dir;
  // The module's log file ("modell_0.log") goes to the working folder: the temporary one.
  WorkingDirectory here{dir.path()};
  CapturedLog log;
  GridGeometry geometry;
  GridRegistry registry;
  std::vector<std::unique_ptr<MatrixOwner>> owned;
  MatrixOwner zone;
  std::vector<ZoneTableEntry> zoneTable;
  std::vector<int> codeMap;
  std::vector<SoilTableEntry> soilRows;
  RunValues run;
  StorageFile storage;
  int next = 1;
};
