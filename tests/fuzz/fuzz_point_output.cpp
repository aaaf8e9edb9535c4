// Feeds arbitrary text as one file block of "[special_output]" to the special output:
// reading its settings and entities, locating the points and collecting a few rows must
// end in a file object or an error code, never a crash or a read outside a grid.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "framework/memory_handling.h"
#include "framework/point_output.h"
#include "grids/grid_registry.h"

namespace {

// A 5 x 4 model grid (cell size 100, lower-left corner 1000/2000) with a plain grid
// "alpha" and a 2-level stack "layers"; instance 1, so that no file is written.
struct Model {
  Model() : alpha(5, 4), regions(5, 4) {
    ctx.log = &log;
    ctx.grids = registry.Records();
    ctx.geometry.ncols = 4;
    ctx.geometry.nrows = 5;
    ctx.geometry.xllcorner = 1000;
    ctx.geometry.yllcorner = 2000;
    ctx.geometry.cellsize = 100;
    ctx.instanceNumber = 1;
    ctx.regions = regions.get();
    ctx.firstRow = 2;
    ctx.lastRow = 5;
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 4; ++c) {
        alpha[r][c] = 10 * r + c;
        regions[r][c] = (r + c) % 3 == 0 ? 0 : 1;
      }
    registry[1].internalName = "alpha";
    registry[1].data = alpha.get();
    stack = Allocate3DMatrix(nullptr, 1, 5, 1, 4, 2, 0);
    registry[3].internalName = "layers";
    registry[3].stack = stack;
    registry[3].stackLevels = 2;
  }
  ~Model() { Release3DMatrix(stack); }

  std::ostringstream console;
  LogStream log{console, QuietDiagnosticsFile(), 0};
  GridRegistry registry;
  MatrixOwner alpha, regions;
  double*** stack = nullptr;
  SpecialOutputContext ctx;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Model model;
  model.console.str(std::string());
  const std::string block(reinterpret_cast<const char*>(data), size);
  try {
    SpecialOutputFile file(model.ctx, block);
    for (int64_t hour = 1; hour <= 3; ++hour) file.CollectValues(0, hour, 1, 1, 2000);
    file.Flush();
  } catch (int) {
  }
  return 0;
}
