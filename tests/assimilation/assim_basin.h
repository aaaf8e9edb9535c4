// A basin for the assimilation tests: the process-module basin with the snow storages,
// a control file with the "[data_assimilation]" section, list and grid files written into
// a temporary folder, and a module built from them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "assimilation/assim_reservoir.h"
#include "assimilation/dataassim.h"
#include "processes/process_basin.h"
#include "support/test_support.h"

// A lake whose level-volume table is linear: V = area * (W - bottom) inside the table.
struct FakeLake {
  int number = 1;
  bool hasTable = true;
  double bottom = 400.0, top = 410.0, area = 1.0e6;
  double volume = -1.0, level = -1.0;
  int updates = 0;
};

class FakeLevelTarget : public LevelTarget {
 public:
  explicit FakeLevelTarget(FakeLake& l) : lake(l) {}
  bool HasLevelVolumeTable() const override { return lake.hasTable; }
  // Extrapolates below the table's bottom, as a table read linearly would.
  double VolumeAtLevel(double w) const override { return lake.area * (w - lake.bottom); }
  void SetState(double v, double w) override {
    lake.volume = v;
    lake.level = w;
    ++lake.updates;
  }
  FakeLake& lake;
};

class AssimBasin : public ProcessBasin {
 public:
  AssimBasin(int rows = 3, int cols = 4) : ProcessBasin(rows, cols) {}

  void AddSnowGrids(bool glacier) {
    Add("snowstorage_liquid", 0.0);
    Add("snowstorage_solid", 0.0);
    Add("snow_storage_total", 0.0);
    if (glacier) {
      Add("TotalSnowStorage_onGlacier", 0.0);
      Add("SolidSnowStorage_onGlacier", 0.0);
      Add("LiquidSnowStorage_onGlacier", 0.0);
      Add("GlacierizedCells", 0.0);
    }
  }
  std::string Path(const std::string& name) const { return dir.file(name); }
  void WriteFile(const std::string& name, const std::string& text) const { WriteTextFile(Path(name), text); }
  // An ASCII grid of the basin's size with every cell at value.
  void WriteGrid(const std::string& name, double value) const {
    std::string t = "ncols " + std::to_string(cols()) + "\nnrows " + std::to_string(rows()) +
                    "\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
    for (int r = 1; r <= rows(); ++r) {
      for (int c = 1; c <= cols(); ++c) t += FormatText("%.17g ", value);
      t += "\n";
    }
    WriteFile(name, t);
  }
  // A grid list file in the model's layout: records of (year month day hour file).
  void WriteGridList(const std::string& name, const std::vector<std::string>& records) const {
    std::string t = "snow grids for assimilation\nnumber of columns : 4\nnumber of rows : 3\n"
                    "grid cell size : 1000\nunit of values : mm\n";
    for (auto& r : records) t += r + "\n";
    WriteFile(name, t);
  }
  static std::string GridRule(const std::string& grid, const std::string& list, const std::string& options = "") {
    std::string t = "grid {\n  grid-ID = " + grid + ";\n  listfilename = " + list + ";\n";
    if (!options.empty()) t += "  options = {\n" + options + "  }\n";
    return t + "}\n";
  }
  static std::string ReservoirRule(int id, const std::string& list, const std::string& options = "") {
    std::string t = "reservoir {\n  lake-ID = " + std::to_string(id) + ";\n  AverageWaterTable = 405.5;\n" +
                    "  listfilename = " + list + ";\n";
    if (!options.empty()) t += "  options = {" + options + "}\n";
    return t + "}\n";
  }
  void WriteControl(const std::vector<std::string>& rules, int flow = 1, int interval = 60) {
    std::string t = "[data_assimilation]\n" + std::to_string(flow) + " # flow control\n" + std::to_string(interval) +
                    " # interval\n" +
                    "number of data-assimilation rules " + std::to_string(rules.size()) + "\n";
    for (auto& r : rules) t += r;
    WriteFile("run.ctl", t + "\n[other_section]\n1\n");
  }
  // With realReservoirs the rules look up reservoirList, else the fake lakes.
  ModuleOwner<data_assimilation> Make(int& error, int routingOnly = 0, bool realReservoirs = false) {
    ModuleInputs in = Inputs(log.log(), Path("run.ctl"), dir.path());
    if (realReservoirs) return MakeModule<data_assimilation>(error, in, reservoirList, routingOnly, 1);
    auto lookup = [this](int number) -> std::unique_ptr<LevelTarget> {
      for (auto& l : lakes)
        if (l.number == number) return std::make_unique<FakeLevelTarget>(l);
      return nullptr;
    };
    return MakeModule<data_assimilation>(error, in, reservoirList, routingOnly, 1, lookup);
  }
  static ModelDate Date(int year, int month, int day, int hour) { return ModelDate{0, hour, day, month, year}; }

  TempDir dir;
  CapturedLog log;
  std::vector<FakeLake> lakes;
  std::vector<SP_class*> reservoirList;
};
