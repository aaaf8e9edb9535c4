// Grid rules: the replaced grid on exactly its dates, the split of the new snow total into
// liquid and solid storages and between the parts on and off the glacier.
#include <gtest/gtest.h>

#include <random>

#include "framework/zonalstatistic.h"
#include "assim_basin.h"
#include "assimilation/assim_grid.h"

namespace {

const std::string kSplit = "split-into-liquid-and-solid = true;\ndefault-liquid-percentage = 30;\n";
const std::string kSplitWeigh = kSplit + "weighing-by-glacierized-fraction = true;\n";

}  // namespace

TEST(GridAssimilation, GridIsReplacedInPlaceOnExactlyTheListedDates) {
  AssimBasin b;
  b.AddSnowGrids(false);
  double** solid = b.Grid("snowstorage_solid");
  b.WriteGrid("a.asc", 11.0);
  b.WriteGrid("b.asc", 22.0);
  b.WriteGrid("old.asc", 99.0);
  // The run starts 2001-07-01 01h: the first record lies before it and is skipped.
  b.WriteGridList("g.txt", {"2001 6 30 23 " + b.Path("old.asc"), "2001 7 1 3 " + b.Path("a.asc"),
                            "2001 7 1 5 " + b.Path("b.asc")});
  b.WriteControl({AssimBasin::GridRule("snowstorage_solid", b.Path("g.txt"))});
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  const double expected[] = {0, 0, 11, 11, 22, 22, 22};  // hours 1..7
  for (int h = 1; h <= 7; ++h) {
    const unsigned long rewrites = ZoneRuns::Rewrites();
    m->Run(AssimBasin::Date(2001, 7, 1, h));
    EXPECT_EQ(solid[2][3], expected[h - 1]) << "hour " << h;
    // A replaced grid may be a zone grid: zone caches are told.
    EXPECT_EQ(ZoneRuns::Rewrites() > rewrites, h == 3 || h == 5) << "hour " << h;
  }
  // The matrix is the one the registry and every other module hold.
  EXPECT_EQ(b.Grid("snowstorage_solid"), solid);
  // Sub-hourly steps: the minute is not compared, a record applies at its hour's first step.
  b.WriteGridList("g.txt", {"2001 7 1 2 " + b.Path("a.asc")});
  auto again = b.Make(error);
  b.Fill(solid, 0.0);
  again->Run(ModelDate{30, 1, 1, 7, 2001});
  EXPECT_EQ(solid[1][1], 0.0);
  again->Run(ModelDate{0, 2, 1, 7, 2001});
  EXPECT_EQ(solid[1][1], 11.0);
  // A record applies at the first step of its hour that the run takes. A warm start leaves
  // to the run before it the records that run applied up to the end of the step before the
  // start (a start at 2:30 on 30-minute steps after the run that ended at 2:00 and applied
  // the record of 2 h); a cold start at 2:30 applies it. The step is the run's, else the
  // timestep key's, else the module's interval. With hourly steps stamped at the half hour,
  // 2:30 is the first step of hour 2 also on a warm start.
  b.WriteGridList("g.txt", {"2001 7 1 2 " + b.Path("a.asc"), "2001 7 1 3 " + b.Path("b.asc")});
  const struct {
    bool warm;
    int startMinute, interval, runStep, timestepKey;
    double atStart;
  } starts[] = {
      {false, 30, 30, 30, 0, 11.0}, {true, 30, 30, 30, 0, 0.0},   {false, 0, 30, 30, 0, 11.0},
      {true, 0, 30, 30, 0, 11.0},   {true, 30, 60, 30, 0, 0.0},   {true, 30, 60, 0, 30, 0.0},
      {true, 30, 30, 0, 0, 0.0},    {true, 30, 60, 60, 0, 11.0},  {false, 30, 60, 0, 0, 11.0},
  };
  for (const auto& s : starts) {
    SCOPED_TRACE(FormatText("%s start at 2:%02d, interval %d, run step %d, timestep %d", s.warm ? "warm" : "cold",
                            s.startMinute, s.interval, s.runStep, s.timestepKey));
    b.start = ModelDate{s.startMinute, 2, 1, 7, 2001};
    b.WriteControl({AssimBasin::GridRule("snowstorage_solid", b.Path("g.txt"))}, 1, s.interval);
    ModuleInputs in = b.Inputs(b.log.log(), b.Path("run.ctl"), b.dir.path());
    in.runStepMinutes = s.runStep;
    in.output.subHourTimeStep = s.timestepKey;
    in.warmStart = s.warm;
    auto run = MakeModule<data_assimilation>(error, in, b.reservoirList, 0, 1);
    ASSERT_EQ(error, 0) << b.log.console();
    b.Fill(solid, 0.0);
    run->Run(b.start);
    EXPECT_EQ(solid[1][1], s.atStart);
    const int step = s.runStep > 0 ? s.runStep : s.timestepKey > 0 ? s.timestepKey : s.interval;
    const int next = s.startMinute + step;
    run->Run(ModelDate{next % 60, 2 + next / 60, 1, 7, 2001});
    if (next < 60) {
      EXPECT_EQ(solid[1][1], s.atStart);  // still hour 2: nothing more
      run->Run(ModelDate{0, 3, 1, 7, 2001});
    }
    EXPECT_EQ(solid[1][1], 22.0);
  }
  EXPECT_EQ(b.log.console().find("falls on no step"), std::string::npos);
  // A list of that one record: the cold start counts it among the run's, the warm one says
  // that it applies nothing.
  b.WriteGridList("g.txt", {"2001 7 1 2 " + b.Path("a.asc")});
  for (const bool warm : {false, true}) {
    CapturedLog log;
    ModuleInputs in = b.Inputs(log.log(), b.Path("run.ctl"), b.dir.path());
    in.runStepMinutes = 30;
    in.warmStart = warm;
    auto run = MakeModule<data_assimilation>(error, in, b.reservoirList, 0, 1);
    EXPECT_EQ(warm, log.console().find("none of the 1 records of " + b.Path("g.txt") +
                                       " (2001 7 1 2 to 2001 7 1 2) lies within the run") != std::string::npos)
        << log.console();
  }
}

// A record dated on no step (2 h and 6 h on steps of the odd hours) is skipped with one
// WARNING that names it and the steps around it; the next record is pending and applies at
// its step, also within the step that passed the skipped one.
TEST(GridAssimilation, RecordOnNoStepIsSkippedAndTheNextOnesApply) {
  AssimBasin b;
  b.AddSnowGrids(false);
  double** solid = b.Grid("snowstorage_solid");
  b.WriteGrid("a.asc", 11.0);
  b.WriteGrid("b.asc", 22.0);
  b.WriteGrid("c.asc", 33.0);
  b.WriteGridList("g.txt", {"2001 7 1 2 " + b.Path("a.asc"), "2001 7 1 3 " + b.Path("b.asc"),
                            "2001 7 1 6 " + b.Path("a.asc"), "2001 7 1 9 " + b.Path("c.asc")});
  b.WriteControl({AssimBasin::GridRule("snowstorage_solid", b.Path("g.txt"))});
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0);
  const double expected[] = {0, 22, 22, 22, 33};  // hours 1, 3, 5, 7, 9
  for (int h = 1; h <= 9; h += 2) {
    m->Run(AssimBasin::Date(2001, 7, 1, h));
    EXPECT_EQ(solid[1][1], expected[h / 2]) << "hour " << h;
  }
  const std::string console = b.log.console();
  EXPECT_NE(console.find("data assimilation: the record of 2001-7-1 2h (line 6 of " + b.Path("g.txt") +
                         ") falls on no step of the run: it lies between the steps of 1.7.2001 01:00 and "
                         "1.7.2001 03:00; it is skipped, and the rule goes on with its next record"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("the record of 2001-7-1 6h (line 8 of"), std::string::npos) << console;
  size_t warnings = 0;
  for (size_t at = console.find("falls on no step"); at != std::string::npos;
       at = console.find("falls on no step", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 2u);
  // The later record of an hour replaces the earlier, at its step; what stands behind a grid
  // file is a remark, and the records after it apply.
  b.WriteGridList("g.txt", {"2001 7 1 3 " + b.Path("a.asc") + " # first look", "2001 7 1 3 30 " + b.Path("b.asc"),
                            "2001 7 1 5 " + b.Path("c.asc") + " checked 2 times"});
  auto later = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  b.Fill(solid, 0.0);
  for (int h : {1, 3, 4, 5}) {
    later->Run(AssimBasin::Date(2001, 7, 1, h));
    EXPECT_EQ(solid[1][1], h < 3 ? 0.0 : h < 5 ? 22.0 : 33.0) << "hour " << h;
  }
  const std::string all = b.log.console();
  EXPECT_EQ(all.find("falls on no step", console.size()), std::string::npos) << all;
  EXPECT_EQ(all.find("is no record of the list"), std::string::npos) << all;
  EXPECT_NE(all.find("the record of line 7 of " + b.Path("g.txt") + " (2001 7 1 3) is of the hour of the record "
                     "above it (line 6): a record applies at the first step of its hour, so the later record of an "
                     "hour replaces the earlier"),
            std::string::npos)
      << all;
}

TEST(GridAssimilation, SplitAndGlacierWeighingKeepTheAssimilatedTotalInEveryCell) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    const double total = 500.0 * u(rng);
    const double p = 100.0 * u(rng);
    assim::SnowCell cell;
    // Every third cell has no solid storage and takes the default percentage.
    cell.liquid = i % 5 == 0 ? 0.0 : 50.0 * u(rng);
    cell.solid = i % 3 == 0 ? 0.0 : 200.0 * u(rng);
    cell.glacierLiquid = 20.0 * u(rng);
    cell.glacierSolid = i % 4 == 0 ? 0.0 : 300.0 * u(rng);
    const double g = i % 7 == 0 ? 0.0 : (i % 11 == 0 ? 1.0 : u(rng));
    const double fraction = cell.solid > 0.0 ? cell.liquid / (cell.liquid + cell.solid) : p / 100.0;
    assim::AssimilateSnowCell(total, p, true, g, cell);
    ASSERT_GE(cell.liquid, 0.0);
    ASSERT_GE(cell.solid, 0.0);
    ASSERT_GE(cell.glacierLiquid, 0.0);
    ASSERT_GE(cell.glacierSolid, 0.0);
    // The glacier-free and glacier parts, weighed by 1 - g and g, hold the total.
    const double off = cell.liquid + cell.solid, on = cell.glacierTotal;
    ASSERT_NEAR((1.0 - g) * off + g * on, total, 1e-12 * (1.0 + total)) << i;
    if (g > 0.0) {
      ASSERT_NEAR(cell.glacierLiquid + cell.glacierSolid, total, 1e-12 * (1.0 + total));
    }
    if (g < 1.0) {
      ASSERT_NEAR(cell.liquid, fraction * total, 1e-12 * (1.0 + total));
    }
  }
  // Hand values: no storage and 0 % liquid puts all into solid; storages of 1 and 3 keep 25 % liquid.
  assim::SnowCell c;
  assim::AssimilateSnowCell(80.0, 0.0, false, 0.0, c);
  EXPECT_EQ(c.liquid, 0.0);
  EXPECT_EQ(c.solid, 80.0);
  c.liquid = 1.0;
  c.solid = 3.0;
  assim::AssimilateSnowCell(80.0, 0.0, false, 0.0, c);
  EXPECT_EQ(c.liquid, 20.0);
  EXPECT_EQ(c.solid, 60.0);
  // A glacier cell (g = 1) loses its storages off the glacier, a free cell (g = 0) those on it.
  assim::SnowCell on{5, 5, 9, 1, 1}, off{5, 5, 9, 1, 1};
  assim::AssimilateSnowCell(40.0, 50.0, true, 1.0, on);
  assim::AssimilateSnowCell(40.0, 50.0, true, 0.0, off);
  EXPECT_EQ(on.liquid + on.solid, 0.0);
  EXPECT_EQ(on.glacierTotal, 40.0);
  EXPECT_EQ(on.glacierLiquid, 20.0);
  EXPECT_EQ(off.glacierTotal + off.glacierLiquid + off.glacierSolid, 0.0);
  EXPECT_EQ(off.liquid, 20.0);
}

TEST(GridAssimilation, SplitActsOnDomainCellsOnly) {
  AssimBasin b(3, 4);
  b.SetOutside(3, 4);
  b.AddSnowGrids(true);
  double** total = b.Grid("snow_storage_total");
  double** liquid = b.Grid("snowstorage_liquid");
  double** solid = b.Grid("snowstorage_solid");
  double** onGlacier = b.Grid("TotalSnowStorage_onGlacier");
  b.Fill(b.Grid("GlacierizedCells"), [](int r, int) { return r == 1 ? 1.0 : (r == 2 ? 0.5 : 0.0); });
  b.Fill(liquid, 2.0);
  b.Fill(solid, 6.0);
  liquid[3][4] = solid[3][4] = 7.0;  // outside the basin: must stay
  std::string grid = "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n"
                     "40 40 40 40\n40 0 40 40\n40 40 40 40\n";
  b.WriteFile("obs.asc", grid);
  b.WriteGridList("g.txt", {"2001 7 1 1 " + b.Path("obs.asc")});
  b.WriteControl({AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"), kSplitWeigh)});
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  m->Run(AssimBasin::Date(2001, 7, 1, 1));
  EXPECT_EQ(total[2][2], 0.0);
  EXPECT_EQ(liquid[2][2] + solid[2][2], 0.0);
  EXPECT_EQ(total[3][4], 40.0);  // the grid is replaced as a whole ...
  EXPECT_EQ(liquid[3][4], 7.0);  // ... its storages outside the basin are not
  EXPECT_EQ(liquid[1][1] + solid[1][1], 0.0);  // glacier row
  EXPECT_EQ(onGlacier[1][1], 40.0);
  EXPECT_EQ(liquid[2][1], 10.0);  // partly glacier: both parts hold the total
  EXPECT_EQ(solid[2][1], 30.0);
  EXPECT_EQ(onGlacier[2][1], 40.0);
  EXPECT_EQ(liquid[3][1], 10.0);  // glacier-free row
  EXPECT_EQ(onGlacier[3][1], 0.0);
  // The snow cover's change is booked per domain cell, as water from outside the balance.
  double** booked = m->AssimilatedSnowWater();
  ASSERT_NE(booked, nullptr);
  EXPECT_EQ(booked[2][2], -8.0);
  EXPECT_EQ(booked[1][1], -8.0);
  EXPECT_EQ(booked[2][1], 32.0);
  EXPECT_EQ(booked[3][3], 32.0);
  EXPECT_EQ(booked[3][4], 0.0);  // outside the basin
}

TEST(GridAssimilation, WeighingWithoutSplittingChangesOnlyTheReplacedGrid) {
  AssimBasin b;
  b.AddSnowGrids(true);
  b.Fill(b.Grid("snowstorage_liquid"), 2.0);
  b.Fill(b.Grid("TotalSnowStorage_onGlacier"), 3.0);
  b.WriteGrid("obs.asc", 40.0);
  b.WriteGridList("g.txt", {"2001 7 1 1 " + b.Path("obs.asc")});
  b.WriteControl({AssimBasin::GridRule("snow_storage_total", b.Path("g.txt"),
                                       "weighing-by-glacierized-fraction = true;\n")});
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  m->Run(AssimBasin::Date(2001, 7, 1, 1));
  EXPECT_EQ(b.Grid("snow_storage_total")[2][2], 40.0);
  EXPECT_EQ(b.Grid("snowstorage_liquid")[2][2], 2.0);
  EXPECT_EQ(b.Grid("TotalSnowStorage_onGlacier")[2][2], 3.0);
}
