// Interpolation in response-unit mode: only master cells are interpolated, the other cells
// of a unit take their master cell's value.
#include <gtest/gtest.h>

#include <memory>

#include "meteo/meteoint.h"
#include "meteo/small_basin.h"
#include "support/test_support.h"

namespace {

constexpr double N = -9999.0;

TEST(InterpolatorHru, NonMasterCellsTakeTheirMastersValue) {
  TempDir dir;
  CapturedLog log;
  SmallBasin basin;
  // Unit 1: zone 1 (columns 1-2), master (1, 1); unit 2: zone 2, master (1, 3).
  MatrixOwner hru(SmallBasin::kRows, SmallBasin::kCols), master(SmallBasin::kRows, SmallBasin::kCols);
  for (int r = 1; r <= SmallBasin::kRows; ++r)
    for (int c = 1; c <= SmallBasin::kCols; ++c) {
      hru[r][c] = c <= 2 ? 1.0 : 2.0;
      master[r][c] = N;
    }
  hru[2][5] = N;
  master[1][1] = 1.0;
  master[1][3] = 2.0;
  basin.Register(6, hru.get(), "HydrologicResponseUnits");
  basin.Register(7, master.get(), "MasterHydrologicResponseUnits");

  // Station 1 on cell (1, 1), station 2 on cell (4, 5); nearest-station interpolation.
  WriteTextFile(dir.file("st.dat"),
                "stations\nYY MM DD HH 1000 1000\nYY MM DD HH 500 4500\nYY MM DD HH 3500 500\nYY MM DD HH S1 S2\n"
                "2001 1 1 0 0 0\n2001 1 1 1 10 20\n2001 1 1 2 10 20\n");
  WriteTextFile(dir.file("run.ctl"),
                "[temperature]\n4 # method\n" + dir.file("st.dat") +
                    "\nnone.reg\ntemperature.asc\n0\n1.0\ntemperature.stat 0\n9999\n2.0\n1.0\n1e7\n0\n1\n"
                    "-100\n-100\n100\n100\n0 # SzenUse\n");
  ModuleInputs in = basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
  in.output.hruMode = 1;
  ModuleOwner<meteointerpol> interp;
  try {
    interp = MakeModule<meteointerpol>(in, "temperature", 10, 0);
  } catch (int code) {
    FAIL() << code << "\n" << log.console();
  }
  interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
  double** g = interp->ResultGrid();
  for (int r = 1; r <= SmallBasin::kRows; ++r)
    for (int c = 1; c <= SmallBasin::kCols; ++c) {
      if (r == 2 && c == 5) continue;
      EXPECT_EQ(g[r][c], 10.0) << r << "," << c;  // (4, 5) lies on station 2 but follows (1, 3)
    }
  EXPECT_EQ(g[2][5], N);
}

}  // namespace
