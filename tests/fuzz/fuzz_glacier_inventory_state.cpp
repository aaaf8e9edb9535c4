// Feeds arbitrary text to the glaciers' part of the storage file, read by an inventory of
// two glaciers on a small grid: the part is taken or error 71 is thrown. A part taken then
// goes through an annual update and is written again; the glacier fractions must stay
// between 0 and 1 whatever areas and volumes the part held.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "fuzz_folder.h"
#include "framework/memory_handling.h"
#include "framework/text_helpers.h"
#include "processes/snow/glacier_inventory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int kRows = 6, kCols = 7;
  constexpr double N = -9999.0;
  std::vector<MatrixOwner> m;
  for (int k = 0; k < 8; ++k) m.emplace_back(kRows, kCols);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      const bool first = r >= 2 && r <= 4 && c >= 2 && c <= 3, second = r >= 3 && c == 6;
      m[0][r][c] = m[2][r][c] = first || second ? (r == 3 ? 0.5 : 1.0) : 0.0;
      m[1][r][c] = m[3][r][c] = first ? 4.0 : second ? 9.0 : N;
      m[4][r][c] = first || second ? -300.0 * r : 0.0;
      m[5][r][c] = 0.0;
      m[6][r][c] = 2500.0 - 40.0 * r;
      m[7][r][c] = c <= 4 ? 1.0 : 2.0;
    }
  m[7][1][1] = N;
  GlacierGrids g;
  g.nrows = kRows;
  g.ncols = kCols;
  g.nodata = N;
  g.cellSize = 100.0;
  double** grids[8];
  for (int k = 0; k < 8; ++k) grids[k] = m[static_cast<size_t>(k)].get();
  g.fraction = grids[0];
  g.code = grids[1];
  g.fractionOld = grids[2];
  g.codeOld = grids[3];
  g.massBalance = grids[4];
  g.oldMassBalance = grids[5];
  g.elevation = grids[6];
  g.subbasin = grids[7];
  GlacierSettings s;
  s.bands = 3;
  s.extraWeightBand0 = 1;

  std::ostringstream console;
  LogStream log(console, QuietDiagnosticsFile(), 0);
  GlacierInventory inv(g, s, &log);
  inv.Build();
  TextCursor f(std::string(reinterpret_cast<const char*>(data), size));
  try {
    inv.RestoreState(f, "fuzz");
  } catch (int) {
    return 0;
  }
  inv.AnnualUpdate();
  const std::string again = inv.StateText();
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      const double v = g.fraction[r][c];
      if (v != N && !(v >= 0.0 && v <= 1.0)) std::abort();
    }
  (void)again;
  return 0;
}
