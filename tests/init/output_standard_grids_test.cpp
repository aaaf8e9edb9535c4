// Per-step output of the standard grids, their zonal statistics, the variable grids and
// the periodic re-reading, on a small basin built by hand (the start-up is not run).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"
#include "support/module_owner.h"
#include "support/test_support.h"

namespace {

const double kNodata = -9999.0;

// A 3 x 4 basin: zone codes 3 (left) and 5 (right), one no-data cell in each row's end.
struct Basin {
  TempDir dir;
  CapturedLog log;
  GridRegistry registry;
  std::vector<StatisticsTableEntry> table = std::vector<StatisticsTableEntry>(201);
  int error = -1;
  MatrixOwner zone{3, 4};
  MatrixOwner temp{3, 4};
  MatrixOwner lai{3, 4};
  ModuleOwner<defaultini> d;

  explicit Basin(const std::string& control = "") {
    const std::string ctl = dir.file("basin.ctl");
    WriteTextFile(ctl, control);
    d = MakeModule<defaultini>(error, &log.log(), ctl, table.data(), 200, 1, registry.Records());
    d->geometry.ncols = 4;
    d->geometry.nrows = 3;
    d->geometry.cellsize = 1000;
    d->geometry.nodata_value = kNodata;
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        zone[r][c] = c == 4 ? kNodata : (c <= 2 ? 3 : 5);
        temp[r][c] = r * 10 + c;  // also under the no-data zone cell: must not count
        lai[r][c] = zone[r][c] == kNodata ? kNodata : 1.0;
      }
    d->RegisterGrid(1, dir.file("zones.asc"), zone.get(), nullptr, 0, "[zone_grid]", 0, 1, 3);
    d->RegisterGrid(2, dir.file("dem.asc"), lai.get(), nullptr, 0, "[elevation_model]", 0, 1, 3);
    d->RegisterGrid(3, dir.file("temp.asc"), temp.get(), nullptr, 0, "temp", 0, 1, 3);
    d->RegisterGrid(4, dir.file("lai"), lai.get(), nullptr, 0, "lai", 0, 1, 3);
    d->zoneGrid = zone.get();
    d->standardGrids.resize(5);
    d->standardGrids[1].internalName = "[zone_grid]";
    d->standardGrids[2].internalName = "[elevation_model]";
    d->standardGrids[3].internalName = "temp";
    d->standardGrids[3].fileName = dir.file("temp.asc");
    d->standardGrids[4].internalName = "lai";
    d->standardGrids[4].fileName = dir.file("lai");
    d->standardGridCount = 2;
    RunValues& run = d->run;
    run.zoneCount = 2;
    run.zoneTable.resize(3);
    run.zoneTable[1].code = 3;
    run.zoneTable[1].fraction = 0.5;
    run.zoneTable[2].code = 5;
    run.zoneTable[2].fraction = 0.5;
    run.zoneCodeMap.assign(6, 0);
    run.zoneCodeMap[3] = 1;
    run.zoneCodeMap[5] = 2;
    run.defaultOutputDirectory = dir.path() + "/";
  }

  void Step(int64_t day, int64_t hour) {
    ModelDate date;
    date.year = 2020;
    date.month = 1;
    date.day = day;
    date.hour = hour;
    date.minute = 0;
    d->UpdatePeriodicGrids(date, 60.0);
    d->WriteStandardGrids(date);
    d->WriteVariableGrids(date);
    d->ResetZonalStatistics();
    d->AccumulateZonalStatistics();
    d->AggregateZonalStatistics(date);
  }
};

std::string AsciiGrid(double value) {
  std::string text = "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) text += (c == 3 ? std::string("-9999") : std::to_string(value)) + " ";
    text += "\n";
  }
  return text;
}

}  // namespace

TEST(StandardGridOutput, ZonalStatisticsOfAStandardGridEveryStepAndOnRequest) {
  Basin b;
  ASSERT_EQ(b.error, 0);
  b.d->standardGrids[3].statFile = "temp.stat";
  b.d->standardGrids[3].statCode = 2001;
  b.d->CreateZonalStatistics();
  ASSERT_NE(b.d->ZonalStatisticAt(3), nullptr);
  EXPECT_EQ(b.d->ZonalStatisticAt(2), nullptr);  // no statistics file: no writer
  EXPECT_EQ(b.d->ZonalStatisticAt(4), nullptr);
  EXPECT_STREQ(b.table[0].title, "temp_submodel:(default)");

  b.Step(1, 0);
  b.Step(1, 1);
  EXPECT_EQ(ReadTextFile(b.dir.file("temp.stat")),
            "YY\tMM\tDD\tHH\t\"3\"\t\"5\"\ttot_average\ntemp_submodel:(default)\n"
            "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n");
  b.d->WriteZonalStatistics();  // the Ctrl-C choice "flush buffers"
  b.Step(1, 2);
  b.d->FinishZonalStatistics();
  // Zone 3: columns 1, 2 of rows 1..3 -> mean 21.5; zone 5: column 3 -> 23; total 66/3.
  EXPECT_EQ(ReadTextFile(b.dir.file("temp.stat")),
            "YY\tMM\tDD\tHH\t\"3\"\t\"5\"\ttot_average\ntemp_submodel:(default)\n"
            "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n"
            "2020\t 1\t 1\t 0\t21.50000\t23.00000\t22.00000\n"
            "2020\t 1\t 1\t 1\t21.50000\t23.00000\t22.00000\n"
            "2020\t 1\t 1\t 2\t21.50000\t23.00000\t22.00000\n");
  EXPECT_EQ(b.table[0].values, nullptr);
}

TEST(StandardGridOutput, ReleaseAtTheEndOfTheRunWritesTheBufferedRows) {
  Basin b;
  b.d->standardGrids[3].statFile = "temp.stat";
  b.d->standardGrids[3].statCode = 1001;
  b.d->CreateZonalStatistics();
  b.Step(1, 0);
  b.Step(1, 1);
  b.d.Release();
  EXPECT_EQ(ReadTextFile(b.dir.file("temp.stat")),
            "YY\tMM\tDD\tHH\ttot_average\ntemp_submodel:(default)\n--\t--\t--\t--\t1.0000\n"
            "2020\t 1\t 1\t 0\t22.00000\n2020\t 1\t 1\t 1\t22.00000\n");
  EXPECT_EQ(b.d->ZonalStatisticAt(3), nullptr);
}

TEST(StandardGridOutput, ListedZonesAndAFailingWriterEndTheCreation) {
  Basin b;
  b.d->standardGrids[3].statFile = "temp.stat";
  b.d->standardGrids[3].statCode = 5001;
  b.d->run.outputListCount = 1;
  b.d->run.outputList = {0, 5};
  b.d->CreateZonalStatistics();
  b.Step(1, 0);
  b.d->FinishZonalStatistics();
  EXPECT_EQ(ReadTextFile(b.dir.file("temp.stat")),
            "YY\tMM\tDD\tHH\t\"5\"\ttot_average\ntemp_submodel:(default)\n--\t--\t--\t--\t0.5000000\t1.0000\n"
            "2020\t 1\t 1\t 0\t23.00000\t22.00000\n");

  Basin f;
  f.d->standardGrids[3].statFile = "temp.stat";
  f.d->standardGrids[3].statCode = 5001;
  f.d->run.outputListCount = 1;
  f.d->run.outputList = {0, 4};  // no zone 4
  EXPECT_THROW(f.d->CreateZonalStatistics(), int);
}

TEST(StandardGridOutput, VariableGridsAreReadOrCreatedAndRegisteredBehindTheStandardGrids) {
  Basin b(
      "[variable_grids]\n"
      "2 # count\n"
      "VAR/soil.asc soil_storage 0 2.5 # created\n"
      "1 # write code\n"
      "0 # read flag\n"
      "VAR/wet.asc wetness 0 0 # read\n"
      "1\n"
      "1\n");
  const std::string varDir = b.dir.file("VAR");
  ASSERT_EQ(RunCommand("mkdir -p " + varDir), 0);
  WriteTextFile(varDir + "/wet.asc", AsciiGrid(0.25));
  b.d->output.inputDirectory = b.dir.path() + "/";
  b.d->output.outputDirectory = b.dir.path() + "/";
  b.d->output.writeAsciiGrids = true;
  b.d->ReadVariableGrids();
  EXPECT_EQ(b.d->variableGridCount, 2);
  EXPECT_EQ(b.d->firstVariableGridPosition, 5);
  EXPECT_EQ(b.d->standardGridCount, 4);
  EXPECT_EQ(b.d->LastStandardGridPosition(), 4);
  EXPECT_EQ(b.d->FindGrid("soil_storage"), 5);
  EXPECT_EQ(b.d->FindGrid("wetness"), 6);
  ASSERT_NE(b.d->soilStorage, nullptr);
  EXPECT_EQ(b.d->soilStorage[2][1], 2.5);
  EXPECT_EQ(b.d->soilStorage[2][4], kNodata);
  EXPECT_EQ(b.registry[6].data[3][2], 0.25);

  // Write code 1: the standard grid by WriteStandardGrids, each variable grid by
  // WriteVariableGrids, in every step; the zone grid is never written.
  b.d->RegisterGrid(3, b.dir.file("temp.asc"), b.temp.get(), nullptr, 0, "temp", 1, 1, 3);
  b.Step(1, 0);
  EXPECT_NE(ReadTextFile(b.dir.file("VAR/soil.asc")).find("2.5"), std::string::npos);
  EXPECT_NE(ReadTextFile(b.dir.file("temp.asc")).find("ncols"), std::string::npos);
  EXPECT_FALSE(std::ifstream(b.dir.file("zones.asc")).good());
  // The variable grids are not written a second time by WriteStandardGrids.
  ASSERT_EQ(std::remove(b.dir.file("VAR/soil.asc").c_str()), 0);
  ModelDate date;
  b.d->WriteStandardGrids(date);
  EXPECT_FALSE(std::ifstream(b.dir.file("VAR/soil.asc")).good());
  b.d->WriteVariableGrids(date);
  EXPECT_TRUE(std::ifstream(b.dir.file("VAR/soil.asc")).good());
}

TEST(StandardGridOutput, AVariableGridRowThatIsShortFailsWithItsIndex) {
  Basin b("[variable_grids]\n1\nonly_a_name lai2 # no fill code\n1\n0\n");
  try {
    b.d->ReadVariableGrids();
    FAIL() << "no error";
  } catch (int code) {
    EXPECT_EQ(code, 17);
  }
  EXPECT_NE(b.log.console().find("file for vargrid 1 or the identifier or the fillcode or the defaultvalue"),
            std::string::npos);
}

TEST(StandardGridOutput, AVariableGridCountBeyondTheRegistryFailsWithoutOverflow) {
  for (const char* count : {"998", "2147483647"}) {
    Basin b(std::string("[variable_grids]\n") + count + "\n");
    try {
      b.d->ReadVariableGrids();
      FAIL() << "no error for " << count;
    } catch (int code) {
      EXPECT_EQ(code, 12) << count;
    }
    EXPECT_NE(b.log.console().find(std::string("[variable_grids]: the number of variable grids ") + count +
                                   " does not fit the "),
              std::string::npos)
        << b.log.console();
  }
}

TEST(StandardGridOutput, ZoneCellsThatAreNotANumberAddNothing) {
  Basin b;
  b.zone[2][4] = std::nan("");
  b.temp[2][4] = 1.0e6;
  b.d->standardGrids[3].statFile = "temp.stat";
  b.d->standardGrids[3].statCode = 1001;
  b.d->CreateZonalStatistics();
  b.Step(1, 0);
  b.d->FinishZonalStatistics();
  EXPECT_NE(ReadTextFile(b.dir.file("temp.stat")).find("2020\t 1\t 1\t 0\t22.00000\n"), std::string::npos);
}

TEST(StandardGridOutput, PeriodicGridIsReadFromItsDatedFilesAndRestored) {
  Basin b;
  WriteTextFile(b.dir.file("lai_2020010100"), AsciiGrid(3.0));
  WriteTextFile(b.dir.file("lai_2020010200"), AsciiGrid(4.0));
  StandardGridSpec& s = b.d->standardGrids[4];
  s.periodBlocks = 1;
  s.periodUnit = "D";
  s.periodStep = 1;
  s.persistent = false;
  s.holdSteps = 2;
  s.startValues.reset(AllocateMatrix(nullptr, 1, 3, 4, 0));
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) s.startValues[r][c] = b.lai[r][c];

  std::vector<double> seen;
  std::vector<unsigned long> rewrites;  // a periodic grid may be a zone grid: zone caches are told
  for (int h = 0; h < 27; ++h) {
    const unsigned long before = ZoneRuns::Rewrites();
    b.Step(1 + h / 24, h % 24);
    seen.push_back(b.lai[2][2]);
    rewrites.push_back(ZoneRuns::Rewrites() - before);
  }
  EXPECT_GE(rewrites[0], 1u);   // read
  EXPECT_GE(rewrites[2], 1u);   // restored
  EXPECT_EQ(rewrites[3], 0u);   // left as it is
  EXPECT_GE(rewrites[24], 1u);  // read again
  EXPECT_EQ(seen[0], 3.0);
  EXPECT_EQ(seen[1], 3.0);
  EXPECT_EQ(seen[2], 1.0);  // restored after two hold steps
  EXPECT_EQ(seen[23], 1.0);
  EXPECT_EQ(seen[24], 4.0);
  EXPECT_EQ(seen[26], 1.0);
  EXPECT_EQ(b.lai[2][4], kNodata);
}

TEST(StandardGridOutput, RestoredStartingValuesOfASoilGridAreCheckedToo) {
  Basin b;
  // The starting values were kept before the start-up replaced the codes: 30 is row 2.
  b.d->soilTable.resize(3);
  b.d->soilTable[1].code = 20;
  b.d->soilTable[2].code = 30;
  WriteTextFile(b.dir.file("lai_2020010100"), AsciiGrid(20.0));
  StandardGridSpec& s = b.d->standardGrids[4];
  s.internalName = "soil_types";
  s.periodBlocks = 1;
  s.periodUnit = "D";
  s.periodStep = 1;
  s.persistent = false;
  s.holdSteps = 1;
  s.startValues.reset(AllocateMatrix(nullptr, 1, 3, 4, 0));
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) s.startValues[r][c] = c == 4 ? kNodata : 30.0;
  b.Step(1, 0);
  EXPECT_EQ(b.lai[1][1], 1.0);
  b.Step(1, 1);
  EXPECT_EQ(b.lai[1][1], 2.0);  // restored 30, then replaced by its row
  EXPECT_EQ(b.lai[1][4], kNodata);
}

TEST(StandardGridOutput, ReReadLandUseGridGetsItsCodesCheckedAndReplacedAgain) {
  Basin b;
  // Land-use table with codes 7 and 3: code 7 is row 1, code 3 row 2.
  b.d->landuseTable.resize(3);
  b.d->landuseTable[1].code = 7;
  b.d->landuseTable[2].code = 3;
  WriteTextFile(b.dir.file("lai_2020010100"), AsciiGrid(3.0));
  WriteTextFile(b.dir.file("lai_2020010200"), AsciiGrid(5.0));
  StandardGridSpec& s = b.d->standardGrids[4];
  s.internalName = "landuse";
  s.periodBlocks = 1;
  s.periodUnit = "D";
  s.periodStep = 1;
  b.Step(1, 0);
  EXPECT_EQ(b.lai[2][2], 2.0);  // code 3 read again, replaced by its row
  EXPECT_EQ(b.lai[2][4], kNodata);
  for (int h = 1; h < 24; ++h) b.Step(1, h);
  EXPECT_EQ(b.lai[2][2], 2.0);
  EXPECT_THROW(b.Step(2, 0), int);  // code 5 is in no row
  EXPECT_NE(b.log.console().find("land use 5 in grid "), std::string::npos) << b.log.console();
}
