// Shared set-up of the grid reader fuzz targets: a quiet module object on a small model
// domain with a registry whose zone grid is valid everywhere, a private working folder
// (for the hole filling's log file) and no waits between attempts to open a file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/memory_handling.h"
#include "framework/modelobject.h"
#include "fuzz_folder.h"
#include "fuzz_module.h"
#include "grids/grid_reader.h"
#include "grids/grid_registry.h"

namespace grid_fuzz {

struct Module {
  QuietLog quiet{4};
  GridRegistry registry;
  MatrixOwner zones{4, 5};
  modelobject obj;
  std::string folder;  // the working folder of each read (the hole filling writes its log there)
  std::string home;    // the fuzzer's own working folder

  Module() {
    char tmpl[] = "/tmp/orvel-fuzz-XXXXXX";
    if (mkdtemp(tmpl)) folder = tmpl;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) home = cwd;
    SetGridRetrySleeper([](int) {});
    obj.log = &quiet.log;
    obj.name = "fuzz";
    obj.grids = registry.Records();
    obj.geometry = GridGeometry{5, 4, 100.0, 200.0, 10.0, -9999.0};
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 5; ++c) zones[r][c] = 1.0;
    obj.RegisterGrid(1, "zones", zones.get(), nullptr, 0, "zones", 0, 1, 4);
  }

  // Writes the bytes to a file and reads it as a grid; every failure must be an error code.
  void Read(const std::string& bytes, int fillCode) {
    if (folder.empty() || home.empty() || chdir(folder.c_str()) != 0) return;
    ReadInFolder(bytes, fillCode);
    if (chdir(home.c_str()) != 0) std::abort();
  }

  void ReadInFolder(const std::string& bytes, int fillCode) {
    const std::string path = "input.grid";
    if (!WriteWhole(path, bytes)) return;
    std::remove("modell_0.log");
    double** grid = nullptr;
    try {
      obj.ReadGrid(path, grid, fillCode, true, false, fillCode == 1, 0.0);
    } catch (int) {
    }
    MatrixOwner owner(grid);
  }
};

// Never destroyed: the module outlives every static object it may reach at exit.
inline Module& Instance() {
  static Module* module = new Module;
  return *module;
}

}  // namespace grid_fuzz
