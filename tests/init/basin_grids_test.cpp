// [zone_grid], [elevation_model], [standard_grids] and the header of the zone grid.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "init_harness.h"

namespace {

struct Sections {
  InitHarness h;
  int code = -1;
  explicit Sections(const std::string& grids) {
    h.d->controlFile.SetText("[zone_grid]\nz.asc # zones\n[elevation_model]\ndem.asc\n" + grids);
    h.d->controlFileOpen = true;
    code = ThrownCode([&] { h.d->ReadStandardGrids(); });
  }
  const StandardGridSpec& at(int p) const { return h.d->standardGrids[static_cast<size_t>(p)]; }
};

TEST(StandardGridSection, OldAndKeyFormsWithDefaults) {
  Sections s(
      "[standard_grids]\n4\n"
      "lu.asc landuse 1 writecode = 8\n"
      "soil.asc soil_types fillcode = 2 readcode=0 defaultValue = 3.5 outname = o.asc statfile = s.txt statcode = 5\n"
      "per.asc per fillcode=0 periodicity = 3 D 2 persistent = 0 4\n"
      "lat.asc latitude 0\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_EQ(s.h.d->standardGridCount, 4);
  EXPECT_EQ(s.at(1).fileName, "z.asc");
  EXPECT_EQ(s.at(1).internalName, "[zone_grid]");
  EXPECT_EQ(s.at(2).internalName, "[elevation_model]");
  const StandardGridSpec& lu = s.at(3);
  EXPECT_EQ(lu.fileName, "lu.asc");
  EXPECT_EQ(lu.internalName, "landuse");
  EXPECT_EQ(lu.fillCode, 1);
  EXPECT_EQ(lu.readCode, 1);
  EXPECT_EQ(lu.defaultValue, 0.0);
  EXPECT_EQ(lu.writeCode, 8);
  EXPECT_EQ(lu.outName, "lu.asc");
  EXPECT_TRUE(lu.statFile.empty());
  EXPECT_EQ(lu.periodBlocks, -1);
  EXPECT_EQ(lu.periodStep, -1);
  EXPECT_TRUE(lu.persistent);
  const StandardGridSpec& soil = s.at(4);
  EXPECT_EQ(soil.fillCode, 2);
  EXPECT_EQ(soil.readCode, 0);
  EXPECT_DOUBLE_EQ(soil.defaultValue, 3.5);
  EXPECT_EQ(soil.outName, "o.asc");
  EXPECT_EQ(soil.statFile, "s.txt");
  EXPECT_EQ(soil.statCode, 5);
  const StandardGridSpec& per = s.at(5);
  EXPECT_EQ(per.periodBlocks, 3);
  EXPECT_EQ(per.periodUnit, "D");
  EXPECT_EQ(per.periodStep, 2);
  EXPECT_FALSE(per.persistent);
  EXPECT_EQ(per.holdSteps, 4);
  EXPECT_EQ(per.lastComponent[0], 9999);
  EXPECT_EQ(s.h.registry[0].latitudePosition, 6);
  EXPECT_NE(s.h.Console().find("found latitude grid on position: 4"), std::string::npos);
  // The positions are taken, so a later grid comes behind them.
  EXPECT_EQ(s.h.d->FirstPositionWithoutFileName(), 7);
  EXPECT_EQ(s.h.registry[3].internalName, "landuse");
}

TEST(StandardGridSection, MissingPartsFail) {
  Sections noFill("[standard_grids]\n2\na.asc one 1\nb.asc two readcode = 1\n");
  EXPECT_EQ(noFill.code, 17);
  EXPECT_NE(noFill.h.Console().find("error reading the fillcode for standard grid 2"), std::string::npos)
      << noFill.h.Console();
  Sections noName("[standard_grids]\n1\nlonely\n");
  EXPECT_EQ(noName.code, 17);
  EXPECT_NE(noName.h.Console().find("error reading a grid name or identifier 1"), std::string::npos);
  Sections badNumber("[standard_grids]\n1\na.asc one fillcode = 1 defaultValue = high\n");
  EXPECT_EQ(badNumber.code, 17);
  EXPECT_NE(badNumber.h.Console().find("defaultValue"), std::string::npos);
  Sections noSection("[standard_grids_missing]\n");
  EXPECT_EQ(noSection.code, 17);
  Sections wordCount("[standard_grids]\nmany\n");
  EXPECT_EQ(wordCount.code, 17);
}

// Writes a file of raw bytes.
void WriteBytes(const std::string& path, const void* data, size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, n, f);
  std::fclose(f);
}

struct Header {
  InitHarness h;
  GridGeometry g;
  int code = -1;
  explicit Header(const std::function<void(const std::string&)>& write) {
    h.d->standardGrids.resize(3);
    h.d->standardGrids[1].fileName = h.dir.file("z.grd");
    write(h.d->standardGrids[1].fileName);
    code = ThrownCode([&] { h.d->ReadGridHeader(g); });
  }
};

TEST(GridHeader, AsciiDoubleAndSingleHeaders) {
  Header ascii([](const std::string& p) {
    WriteTextFile(p, "ncols 10.7\nnrows 4\nxllcorner 100.5\nyllcorner 20\ncellsize 25\nnodata_value -1\n" +
                         [] {
                           std::string values;  // the 10 x 4 cells
                           for (int k = 0; k < 40; ++k) values += "1 ";
                           return values + "\n";
                         }());
  });
  ASSERT_EQ(ascii.code, -1) << ascii.h.Console();
  EXPECT_EQ(ascii.g.ncols, 10);
  EXPECT_EQ(ascii.g.nrows, 4);
  EXPECT_DOUBLE_EQ(ascii.g.xllcorner, 100.5);
  EXPECT_DOUBLE_EQ(ascii.g.cellsize, 25);
  // -1 is a value data take (a temperature): the model keeps -9999 and says so.
  EXPECT_DOUBLE_EQ(ascii.g.nodata_value, -9999);
  EXPECT_NE(ascii.h.Console().find("marks the cells outside the basin with the no-data value -1, a value that data "
                                   "take"),
            std::string::npos)
      << ascii.h.Console();

  Header dbl([](const std::string& p) {
    double v[18] = {3, 2, 1, 2, 50, -9999, 0, 0, 0, 0, 0, 0, 7, 8, 9, 10, 11, 12};
    WriteBytes(p, v, sizeof v);
  });
  ASSERT_EQ(dbl.code, -1) << dbl.h.Console();
  EXPECT_EQ(dbl.g.ncols, 3);
  EXPECT_DOUBLE_EQ(dbl.g.cellsize, 50);

  Header flt([](const std::string& p) {
    float v[42] = {5, 6, 1, 2, 10, -9999};
    WriteBytes(p, v, sizeof v);
  });
  ASSERT_EQ(flt.code, -1) << flt.h.Console();
  EXPECT_EQ(flt.g.nrows, 6);
  EXPECT_DOUBLE_EQ(flt.g.nodata_value, -9999);
}

TEST(GridHeader, UnreadableHeadersFail) {
  Header other([](const std::string& p) {
    double v[12] = {3, 2, 1, 2, 50, -9998, 0, 0, 0, 0, 0, 0};
    WriteBytes(p, v, sizeof v);
  });
  EXPECT_EQ(other.code, 22);
  EXPECT_NE(other.h.Console().find("could not recognise file format (ascii, float or double)"), std::string::npos);
  Header shortAscii([](const std::string& p) { WriteTextFile(p, "ncols 3\nnrows 2\nxllcorner x\n"); });
  EXPECT_EQ(shortAscii.code, 22);
  Header empty([](const std::string& p) { WriteTextFile(p, "ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\n"
                                                           "cellsize 1\nnodata_value -9999\n"); });
  EXPECT_EQ(empty.code, 22);
  Header missing([](const std::string&) {});
  EXPECT_EQ(missing.code, 21);
}

// The header must describe cells the file can hold, before the domain is allocated for
// them: an ASCII value takes at least two bytes, a binary file holds exactly its cells.
TEST(GridHeader, CellsTheFileCannotHoldAreRefused) {
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {"ncols 12000\nnrows 12000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3\n",
       "cannot be the 12000 x 12000 cells of its header"},
      {"ncols 40000\nnrows 40000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n",
       "cannot be the 40000 x 40000 cells of its header"},
      {"ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3 4 5", "3 x 2 cells"},
      // More cells than the program can address: named with their number.
      {"ncols 100000\nnrows 100000\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3\n",
       "z.grd: its header gives 100000 x 100000 = 10000000000 cells, more than the 2000000000 cells the program "
       "can address"},
      {"ncols 46341.9\nnrows 46341\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1\n",
       "46341 x 46341 = 2147488281 cells, more than"},
      {"ncols 3037000500\nnrows 3037000500\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1\n",
       "3037000500 x 3037000500 = 9223372037000250000 cells, more than"},
      {"ncols 1e300\nnrows 1e10\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1\n",
       "1e+300 x 1e+10 = 1e+310 cells"},
      {"ncols 44721\nnrows 44721\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1\n",
       "cannot be the 44721 x 44721 cells of its header"},
  };
  for (const Case& c : cases) {
    Header t([&](const std::string& p) { WriteTextFile(p, c.text); });
    EXPECT_EQ(t.code, 22) << c.text;
    EXPECT_NE(t.h.Console().find(c.message), std::string::npos) << t.h.Console();
  }
  Header exact([](const std::string& p) {
    WriteTextFile(p, "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n1 2 3\n4 5 6");
  });
  EXPECT_EQ(exact.code, -1) << exact.h.Console();
  Header shortDouble([](const std::string& p) {
    double v[17] = {3, 2, 1, 2, 50, -9999};
    WriteBytes(p, v, sizeof v);
  });
  EXPECT_EQ(shortDouble.code, 22);
  EXPECT_NE(shortDouble.h.Console().find("holds 136 bytes, which cannot be the 3 x 2 cells"), std::string::npos);
  Header hugeSingle([](const std::string& p) {
    float v[12] = {46341, 46341, 0, 0, 1, -9999};
    WriteBytes(p, v, sizeof v);
  });
  EXPECT_EQ(hugeSingle.code, 22);
  EXPECT_NE(hugeSingle.h.Console().find("46341 x 46341 = 2147488281 cells"), std::string::npos);
}

// Keywords count in any case; a centre coordinate is half a cell inside the corner.
TEST(GridHeader, KeywordsInAnyCaseAndCentreCoordinates) {
  Header upper([](const std::string& p) {
    WriteTextFile(p, "NCOLS 3\nNROWS 2\nXLLCENTER 1025\nYllCenter 2025\nCELLSIZE 50\nNODATA_VALUE -32768\n1 2 3 4 5 6\n");
  });
  ASSERT_EQ(upper.code, -1) << upper.h.Console();
  EXPECT_EQ(upper.g.ncols, 3);
  EXPECT_DOUBLE_EQ(upper.g.xllcorner, 1000);
  EXPECT_DOUBLE_EQ(upper.g.yllcorner, 2000);
  // The model keeps -9999 below the zone grid's -32768, as the warm start's binary grids need.
  EXPECT_DOUBLE_EQ(upper.g.nodata_value, -9999);
  // Without the no-data line, which may be left out: -9999.
  Header bare([](const std::string& p) {
    WriteTextFile(p, "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 5 6\n");
  });
  ASSERT_EQ(bare.code, -1) << bare.h.Console();
  EXPECT_EQ(bare.g.nrows, 2);
  EXPECT_DOUBLE_EQ(bare.g.nodata_value, -9999);
}

}  // namespace

// A netCDF zone grid sets the basin from its dimensions and coordinates, as the grid reader
// takes the field at the start-up (the record of the initial state). Coordinates give the
// cells' centres; files of this program's writer, marked by "default_cellsize", give the
// western and southern edges. Without coordinates the basin has no place: refused.
TEST(GridHeader, NetcdfZoneGridsGiveTheirPlaceByTheirCoordinates) {
  // A classic netCDF file made by ncgen from CDL text.
  auto make = [](const TempDir& dir, const std::string& file, const std::string& cdl) {
    WriteTextFile(dir.file(file + ".cdl"), "netcdf x {\n" + cdl + "\n}\n");
    std::string out;
    ASSERT_EQ(RunCommand("ncgen -k classic -o '" + dir.file(file) + "' '" + dir.file(file + ".cdl") + "'", &out), 0)
        << out;
  };
  struct Case {
    const char* what;
    std::string cdl;
    int code;
    double xll, yll, cellsize;
  } cases[] = {
      {"(time, y, x), centres, the north first",
       "dimensions: time = UNLIMITED; y = 2; x = 3;\nvariables: double time(time); double x(x); double y(y);\n"
       "float z(time, y, x); z:_FillValue = -9999.f;\n"
       "data: time = 0; x = 150, 250, 350; y = 1050, 950; z = 1, 2, 3, 4, 5, -9999;",
       -1, 100.0, 900.0, 100.0},
      {"(time, y, x), centres, the south first, a record axis without dates",
       "dimensions: t = UNLIMITED; y = 2; x = 3;\nvariables: double x(x); double y(y);\n"
       "double z(t, y, x);\ndata: x = 1025, 1075, 1125; y = 2025, 2075; z = 4, 5, 6, 1, 2, 3, 7, 8, 9, 1, 2, 3;",
       -1, 1000.0, 2000.0, 50.0},
      {"(time, x, y) as this program writes it: edges",
       "dimensions: x = 3; y = 2; time = UNLIMITED;\nvariables: double x(x); double y(y); double time(time);\n"
       "float z(time, x, y); z:_FillValue = -9999.f; z:default_cellsize = 100.;\n"
       "data: x = 100, 200, 300; y = 1000, 900; time = 0; z = 1, 4, 2, 5, 3, 6;",
       -1, 100.0, 900.0, 100.0},
      {"no coordinates",
       "dimensions: time = UNLIMITED; y = 2; x = 3;\nvariables: double time(time);\n"
       "float z(time, y, x); z:default_cellsize = 100.;\ndata: time = 0; z = 1, 2, 3, 4, 5, 6;",
       22, 0.0, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InitHarness h;
    h.d->standardGrids.resize(3);
    h.d->standardGrids[1].fileName = h.dir.file("z.nc");
    make(h.dir, "z.nc", c.cdl);
    // The run starts on 1 January 1985 at 1 h: the initial state is the record before.
    h.d->output.runStart.year = 1985, h.d->output.runStart.month = 1, h.d->output.runStart.day = 1;
    h.d->output.runStart.hour = 1, h.d->output.runStart.minute = 0;
    GridGeometry g;
    EXPECT_EQ(ThrownCode([&] { h.d->ReadGridHeader(g); }), c.code) << h.Console();
    if (c.code == 22) {
      EXPECT_NE(h.Console().find("the netCDF zone grid sets the basin's place, but the file has no x coordinate "
                                 "variable"),
                std::string::npos)
          << h.Console();
      continue;
    }
    EXPECT_EQ(g.ncols, 3);
    EXPECT_EQ(g.nrows, 2);
    EXPECT_DOUBLE_EQ(g.xllcorner, c.xll);
    EXPECT_DOUBLE_EQ(g.yllcorner, c.yll);
    EXPECT_DOUBLE_EQ(g.cellsize, c.cellsize);
    EXPECT_DOUBLE_EQ(g.nodata_value, -9999.0);
  }
}
