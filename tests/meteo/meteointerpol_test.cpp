// The interpolator frame on a small basin: control section, station files, result grid,
// statistics file and the per-step protocol.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "grids/grid_registry.h"
#include "meteo/meteoint.h"
#include "meteo/small_basin.h"
#include "support/test_support.h"

namespace {

// The small test basin with the file name of its zone grid (for the descriptions) and a
// lookup of registered grids by name.
class Basin : public SmallBasin {
 public:
  Basin() { registry[1].fileName = "zones.asc"; }
  int FindRegistered(const std::string& internalName) {
    for (int p = 1; p < kGridRegistrySize; ++p)
      if (registry[p].registered && registry[p].internalName == internalName) return p;
    return 0;
  }
};

// A control file with one interpolator section.
std::string Section(const std::string& name, int method, const std::string& stationLine, int statCode = 0,
                    double maxDistance = 1e7, double slope = 0.0, double ratio = 1.0,
                    const std::string& tail = "0 # SzenUse\n") {
  std::string s = "[" + name + "]\n" + std::to_string(method) + " # method\n" + stationLine + "\n";
  if (method == 10 || method == 11) s += "0 1000 0.5 1 100 # regression parameters\n";
  else if (method == 12) s += "-0.0065 # lapse rate\n";
  else if (method == 9) s += "8.916787e-5 0.0767528404 127 6e-6 0.098 # gif mapping\n";
  else if (method >= 1 && method <= 8) s += "none.reg # regression file\n";
  s += name + ".asc # result grid\n0 # write code\n1.0 # scaling\n" + name + ".stat " + std::to_string(statCode) +
       " # statistics\n9999 # nodata\n2.0 # idw weight\n1.0 # fraction\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "%.17g # max distance\n%.17g # slope\n%.17g # b/a\n", maxDistance, slope, ratio);
  s += buf;
  s += "-100 # lower limit\n-100 # lower replacement\n100 # upper limit\n100 # upper replacement\n" + tail;
  return s;
}

// Station file with stations (x, y) and hourly rows from 1.1.2001 0:00.
std::string StationText(const std::vector<std::pair<double, double>>& xy, const std::vector<std::string>& rows) {
  std::string alt = "YY MM DD HH", x = alt, y = alt, names = alt;
  for (size_t k = 0; k < xy.size(); ++k) {
    alt += " 1000";
    x += " " + std::to_string(xy[k].first);
    y += " " + std::to_string(xy[k].second);
    names += " S" + std::to_string(k + 1);
  }
  std::string t = "stations\n" + alt + "\n" + x + "\n" + y + "\n" + names + "\n";
  for (size_t h = 0; h < rows.size(); ++h) t += "2001 1 1 " + std::to_string(h) + " " + rows[h] + "\n";
  return t;
}

struct InterpolatorRun {
  TempDir dir;
  CapturedLog log;
  Basin basin;
  ModuleOwner<meteointerpol> interp;
  int code = 0;
  void Build(const std::string& control, const std::string& stations, const std::string& name = "temperature") {
    WriteTextFile(dir.file("run.ctl"), control);
    WriteTextFile(dir.file("st.dat"), stations);
    try {
      interp = MakeModule<meteointerpol>(basin.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/"), name, 10, 0);
    } catch (int c) {
      code = c;
    }
  }
  std::string StationLine() const { return dir.file("st.dat"); }
  // Steps like the time loop: interpolate, next record, until the end.
  int Steps(std::vector<ModelDate>* dates = nullptr) {
    int n = 0;
    do {
      int64_t mi, h, d, m, y;
      interp->GetCurrentTime(mi, h, d, m, y);
      if (dates) dates->push_back(ModelDate{mi, h, d, m, y});
      interp->Interpolate(ModelDate{mi, h, d, m, y});
      interp->WriteResultGrid();
      interp->ReadNextRecord();
      ++n;
    } while (!interp->IsEndOfPeriod() && n < 100);
    return n;
  }
};

TEST(Interpolator, SingleStationEverywhereAndTheRunEndsAtTheEndDate) {
  InterpolatorRun run;
  const std::string stations = StationText({{2500, 1500}}, {"1.5", "2.5", "3.5", "4.5", "5.5"});
  WriteTextFile(run.dir.file("st.dat"), stations);
  run.Build(Section("temperature", 1, run.dir.file("st.dat"), 1001), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_EQ(run.basin.registry[10].internalName, "temperature");
  std::vector<ModelDate> dates;
  EXPECT_EQ(run.Steps(&dates), 3);  // hours 1, 2 and 3
  EXPECT_EQ(dates.front().hour, 1);
  EXPECT_EQ(dates.back().hour, 3);
  double** g = run.interp->ResultGrid();
  EXPECT_EQ(g[1][1], 4.5);
  EXPECT_EQ(g[4][4], 4.5);
  EXPECT_EQ(g[2][5], -9999.0);
  EXPECT_NE(run.interp->Description().find("temperature interpolated with idw from"), std::string::npos);
  run.interp->WriteStatistics();
  const std::string stat = ReadTextFile(run.dir.file("temperature.stat"));
  EXPECT_NE(stat.find("tot_average"), std::string::npos) << stat;
  EXPECT_NE(stat.find("4.500"), std::string::npos) << stat;
  run.interp.Release();
  EXPECT_FALSE(run.basin.registry[10].registered);
}

TEST(Interpolator, InverseDistanceNearestStationAndMissingValues) {
  for (int method : {1, 4}) {
    InterpolatorRun run;
    // Station 1 at the centre of cell (1, 1), station 2 at the centre of cell (4, 5).
    const std::string stations = StationText({{500, 3500}, {4500, 500}}, {"0 0", "10 20", "-99999 20", "10 20"});
    WriteTextFile(run.dir.file("st.dat"), stations);
    run.Build(Section("temperature", method, run.dir.file("st.dat")), stations);
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    double** g = run.interp->ResultGrid();
    if (method == 1) {
      // cell (1, 1): station 1 at distance 1 (on the cell), station 2 at sqrt(4000² + 3000²).
      const double w1 = 1.0, w2 = 1.0 / 25e6;
      EXPECT_DOUBLE_EQ(g[1][1], (w1 * 10 + w2 * 20) / (w1 + w2));
      EXPECT_DOUBLE_EQ(g[1][3], (10.0 / 4e6 + 20.0 / 13e6) / (1 / 4e6 + 1 / 13e6));
    } else {
      EXPECT_EQ(g[1][1], 10.0);
      EXPECT_EQ(g[4][5], 20.0);
      EXPECT_EQ(g[1][2], 10.0);
    }
    run.interp->ReadNextRecord();
    run.interp->Interpolate(ModelDate{0, 2, 1, 1, 2001});
    EXPECT_EQ(g[1][1], 20.0);  // station 1 missing: left out
  }
}

TEST(Interpolator, ShortFileIsReportedAndEndsThePeriod) {
  InterpolatorRun run;
  const std::string stations = StationText({{2500, 1500}}, {"1", "2"});
  WriteTextFile(run.dir.file("st.dat"), stations);
  run.Build(Section("precipitation", 1, run.dir.file("st.dat")), stations, "precipitation");
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_EQ(run.Steps(), 1);
  EXPECT_TRUE(run.interp->IsEndOfPeriod());
  EXPECT_NE(run.log.console().find("ends with the date 1.1.2001 1:0 before the end of the simulation period"),
            std::string::npos)
      << run.log.console();
}

// Cells that no station reaches and values the limits replace are said once per run, with
// the warning switch off: how many cells, and which limit.
TEST(Interpolator, CellsWithoutAStationAndValuesBeyondTheLimitsAreSaidOnce) {
  InterpolatorRun run;
  // The second station lies beyond the reach of every cell.
  const std::string stations = StationText({{2500, 1500}, {1e6, 1e6}}, {"150 160", "150 160", "150 160", "150 160"});
  run.Build(Section("temperature", 1, run.StationLine(), 0, 1200.0), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_EQ(run.Steps(), 3);
  int reached = 0, beyond = 0;
  double** g = run.interp->ResultGrid();
  for (int r = 1; r <= run.basin.geometry.nrows; ++r)
    for (int c = 1; c <= run.basin.geometry.ncols; ++c) {
      reached += g[r][c] == 100.0;
      beyond += g[r][c] == -100.0;
    }
  ASSERT_GT(reached * beyond, 0);
  const std::string log = run.log.console();
  const auto count = [&log](const std::string& text) {
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("[temperature], step 01.01.2001 01:00: " + std::to_string(beyond) +
                  " cells found no valid station value within the maximum distance of 1200"),
            1)
      << log;
  EXPECT_EQ(count("which the limits of the section replaced by -100"), 1);
  EXPECT_EQ(count("[temperature], step 01.01.2001 01:00: the limits replaced the interpolated values of " +
                  std::to_string(reached) + " cells: " + std::to_string(reached) + " above the upper limit 100 by 100."),
            1)
      << log;
  EXPECT_EQ(count("within the specified search radius"), 0);
}

TEST(Interpolator, AnisotropyRegistersRotatedCoordinatesAtFreePositions) {
  InterpolatorRun run;
  const std::string stations = StationText({{500, 500}, {4500, 500}}, {"1 2", "1 2"});
  WriteTextFile(run.dir.file("st.dat"), stations);
  // Position 6 is taken behind the result grid's position 10 would be: the rotated grids
  // go to the first free positions, never onto another module's grid.
  run.basin.Register(6, run.basin.dem.get(), "other");
  run.Build(Section("temperature", 1, run.dir.file("st.dat"), 0, 1e7, 0.0, 0.5), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_EQ(run.basin.registry[7].internalName, "CoordXRot_temperature");
  EXPECT_EQ(run.basin.registry[8].internalName, "CoordYRot_temperature");
  EXPECT_EQ(run.basin.registry[6].internalName, "other");
  run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
  // Cell (4, 1) centre (500, 500): station 1 on it, station 2 4000 m east counts as 2000 m.
  const double w2 = 1.0 / 4e6;
  EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[4][1], (1.0 + w2 * 2) / (1.0 + w2));
  run.interp.Release();
  EXPECT_FALSE(run.basin.registry[7].registered);

  InterpolatorRun iso;
  WriteTextFile(iso.dir.file("st.dat"), stations);
  iso.Build(Section("temperature", 1, iso.dir.file("st.dat")), stations);
  ASSERT_EQ(iso.code, 0);
  EXPECT_EQ(iso.basin.FindRegistered("CoordXRot_temperature"), 0);
}

TEST(Interpolator, RefusedInputEndsWithTheCodes) {
  const std::string good = StationText({{500, 500}}, {"1", "2", "3"});
  auto codeOf = [&](const std::string& section, const std::string& stations, std::string* console = nullptr) {
    InterpolatorRun run;
    WriteTextFile(run.dir.file("st.dat"), stations);
    std::string s = section;
    const size_t p = s.find("@ST");
    if (p != std::string::npos) s.replace(p, 3, run.dir.file("st.dat"));
    run.Build(s, stations);
    if (console) *console = run.log.console();
    return run.code;
  };
  std::string console;
  EXPECT_EQ(codeOf(Section("temperature", 13, "@ST"), good, &console), 53);
  EXPECT_NE(console.find("(here: 13)"), std::string::npos);
  EXPECT_EQ(codeOf(Section("temperature", 0, "@ST"), good, &console), 53);
  EXPECT_NE(console.find("(here: 0)"), std::string::npos);
  EXPECT_EQ(codeOf(Section("temperature", 1, "@ST", 0, 1e7, 95.0), good, &console), 54);
  EXPECT_EQ(codeOf(Section("temperature", 1, "@ST", 0, 1e7, 0.0, 1.5), good, &console), 54);
  EXPECT_EQ(codeOf(Section("temperature", 1, "@ST"), "x\nYY MM DD HH 1\nYY MM DD HH 1\nYY MM DD HH 1\nn\n"
                                                      "2000 1 1 0 5\n", &console),
            51);
  EXPECT_NE(console.find("dosnt contain date  1. 1.2001,  1: 0(feof)!"), std::string::npos) << console;
  EXPECT_EQ(codeOf(Section("temperature", 1, "@ST", 0, 1e7, 0, 1, "1\n5\njan.asc\n"), good, &console), 17);
  EXPECT_EQ(codeOf(Section("temperature", 1, "@ST", 0, 1e7, 0, 1, "1\n1\n1\n1 2 3\n"), good, &console), 48);
  EXPECT_EQ(codeOf("[temperature]\n1\n", good, &console), 49);
  EXPECT_EQ(codeOf("[other]\n", good, &console), 17);
  {
    InterpolatorRun run;
    WriteTextFile(run.dir.file("st.dat"), good);
    run.Build(Section("temperature", 1, run.dir.file("st.dat")), good);
    ASSERT_EQ(run.code, 0);
    EXPECT_THROW(run.interp->Interpolate(ModelDate{0, 2, 1, 1, 2001}), int);
    EXPECT_NE(run.log.console().find("error in date columns of temperature"), std::string::npos);
  }
}

TEST(Interpolator, ScenarioStationsAndLimits) {
  InterpolatorRun run;
  const std::string stations = StationText({{2500, 1500}}, {"50", "150", "-150"});
  WriteTextFile(run.dir.file("st.dat"), stations);
  // SzenMeth 1: the day value of the nearest scenario station is added after the limits.
  std::string scen = "1 # SzenUse\n1 # SzenMeth\n1 # SzenNum\n0 0";
  for (int m = 1; m <= 12; ++m) scen += " " + std::to_string(m);
  scen += "\n";
  run.Build(Section("temperature", 1, run.dir.file("st.dat"), 0, 1e7, 0, 1, scen), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
  // 1 January: (15/31) December + (16/31) January.
  const double day = (15.0 / 31) * 12 + (16.0 / 31) * 1;
  EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[1][1], 100 + day);
  run.interp->ReadNextRecord();
  run.interp->Interpolate(ModelDate{0, 2, 1, 1, 2001});
  EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[1][1], -100 + day);
}

TEST(Interpolator, MonthlyScenarioGridsTakeFreePositions) {
  InterpolatorRun run;
  const std::string stations = StationText({{2500, 1500}}, {"10", "10", "10"});
  WriteTextFile(run.dir.file("st.dat"), stations);
  std::string scen = "1 # SzenUse\n5 # SzenMeth: monthly grids, added\n";
  for (int m = 1; m <= 12; ++m) {
    std::string grid = "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
    for (int r = 0; r < 4; ++r) grid += "0.5 0.5 0.5 0.5 " + std::to_string(m) + "\n";
    const std::string file = run.dir.file("scen" + std::to_string(m) + ".asc");
    WriteTextFile(file, grid);
    scen += file + "\n";
  }
  run.basin.Register(6, run.basin.dem.get(), "other");
  run.Build(Section("temperature", 1, run.dir.file("st.dat"), 0, 1e7, 0, 1, scen), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  const int p = run.basin.FindRegistered("scenariogrid_temperature");
  EXPECT_EQ(p, 7);  // the first free position, not the result grid's position + 1
  EXPECT_EQ(run.basin.registry[11].registered, false);
  run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
  EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[1][1], 10.5);
  EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[1][5], 11.0);  // January's grid holds 1 in column 5
  run.interp.Release();
  EXPECT_EQ(run.basin.FindRegistered("scenariogrid_temperature"), 0);
}

TEST(Interpolator, GridListReadsReadyMadeGrids) {
  InterpolatorRun run;
  std::string grid = "ncols 5\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
  for (int r = 0; r < 4; ++r) grid += "1 2 3 4 5\n";
  WriteTextFile(run.dir.file("g1.asc"), grid);
  const std::string list = "list\nYY MM DD HH 1000\nYY MM DD HH 0\nYY MM DD HH 0\nname\n2001 1 1 1 " +
                           run.dir.file("g1.asc") + "\n2001 1 1 2 -9999\n2001 1 1 3 -9999\n";
  WriteTextFile(run.dir.file("st.dat"), list);
  run.Build(Section("temperature", 9, run.dir.file("st.dat")), list);
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_EQ(run.Steps(), 3);
  EXPECT_EQ(run.interp->ResultGrid()[3][4], 4.0);
  EXPECT_EQ(run.interp->ResultGrid()[2][5], -9999.0);
}

}  // namespace

namespace {

// A text regression file with one record per hour of 1.1.2001 from hour 0; the zone 2
// line is (20 + hour) - 0.01 z over every elevation of the basin.
std::string RegressionText(int hours, int skipHour = -1) {
  std::string t = "jr mo tg st a1 b1 L a2 b2 U a3 b3 c0 cx cy\n";
  for (int h = 0; h < hours; ++h) {
    if (h == skipHour) continue;
    t += "2001 1 1 " + std::to_string(h) + " 5 0 0 " + std::to_string(20 + h) + " -0.01 5000 0 0 -10000 0 0\n";
  }
  return t;
}

std::string WithRegressionFile(std::string section, const std::string& path) {
  section.replace(section.find("none.reg"), 8, path);
  return section;
}

}  // namespace

TEST(Interpolator, RegressionFileMethodsFollowTheFileRecords) {
  {  // method 2: the regression file alone is the clock
    InterpolatorRun run;
    WriteTextFile(run.dir.file("t.reg"), RegressionText(6));
    run.Build(WithRegressionFile(Section("temperature", 2, "unused.dat"), run.dir.file("t.reg")), "");
    ASSERT_EQ(run.code, 0) << run.log.console();
    std::vector<ModelDate> dates;
    EXPECT_EQ(run.Steps(&dates), 3);
    EXPECT_EQ(dates.front().hour, 1);
    EXPECT_EQ(dates.back().hour, 3);
    double** g = run.interp->ResultGrid();
    EXPECT_DOUBLE_EQ(g[2][1], 23 - 0.01 * 1020);  // hour 3, elevation 1020 m
    EXPECT_EQ(g[2][5], -9999.0);
  }
  {  // method 3: inverse distance (fraction 1.0 in the section) with the regression file beside
    InterpolatorRun run;
    const std::string stations = StationText({{500, 500}}, {"1", "2", "3", "4"});
    WriteTextFile(run.dir.file("st.dat"), stations);
    std::string s = WithRegressionFile(Section("temperature", 3, run.dir.file("st.dat")), run.dir.file("t.reg"));
    s.replace(s.find("1.0 # fraction"), 3, "0.5");
    const std::string reg = RegressionText(6);
    WriteTextFile(run.dir.file("t.reg"), reg);
    run.Build(s, stations);
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    EXPECT_DOUBLE_EQ(run.interp->ResultGrid()[1][1], 0.5 * 2 + 0.5 * (21 - 0.01 * 1010));
    run.interp->ReadNextRecord();
    EXPECT_EQ(run.interp->Regression().intercept[2], 22.0);
    // A regression file that skips an hour disagrees with the stations: code 52.
    std::string gap = reg;
    gap.erase(gap.find("2001 1 1 3 "), gap.find("2001 1 1 4 ") - gap.find("2001 1 1 3 "));
    InterpolatorRun second;
    WriteTextFile(second.dir.file("st.dat"), stations);
    WriteTextFile(second.dir.file("t.reg"), gap);
    std::string s2 = WithRegressionFile(Section("temperature", 3, second.dir.file("st.dat")), second.dir.file("t.reg"));
    second.Build(s2, stations);
    ASSERT_EQ(second.code, 0) << second.log.console();
    second.interp->ReadNextRecord();
    EXPECT_THROW(second.interp->ReadNextRecord(), int);
    EXPECT_NE(second.log.console().find("for IDW*Regress"), std::string::npos);
  }
  {  // time steps below an hour are refused before the file is opened
    InterpolatorRun run;
    WriteTextFile(run.dir.file("run.ctl"), WithRegressionFile(Section("temperature", 2, "x"), "missing.reg"));
    ModuleInputs in = run.basin.Inputs(run.log.log(), run.dir.file("run.ctl"), run.dir.path() + "/");
    in.output.timeStepMinutes = 30.0;
    int code = 0;
    try {
      meteointerpol m(in, "temperature", 10, 0);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 1302);
  }
}

// The step of the run is the distance of the records, wherever the hour stamp lies in it:
// it decides whether the progress lines carry the minute and whether regression files
// (one record an hour) can be used.
TEST(Interpolator, TheRecordsStepDecidesTheProgressLineAndTheRegressionFiles) {
  const std::string halfHours = "stations\nYY MM DD HH mm 1000\nYY MM DD HH mm 2500\nYY MM DD HH mm 1500\n"
                                "YY MM DD HH mm S1\n2001 1 1 0 30 1\n2001 1 1 1 0 2\n2001 1 1 1 30 3\n2001 1 1 2 0 4\n";
  {  // records every 30 minutes, nothing else saying so: the lines carry hour and minute
    InterpolatorRun run;
    run.Build(Section("temperature", 1, run.StationLine()), halfHours);
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->SetReportInterval(1);
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    run.interp->ReadNextRecord();
    run.interp->Interpolate(ModelDate{30, 1, 1, 1, 2001});
    EXPECT_NE(run.log.console().find("temperature 1.1.2001 1:0 h"), std::string::npos) << run.log.console();
    EXPECT_NE(run.log.console().find("temperature 1.1.2001 1:30 h"), std::string::npos) << run.log.console();
  }
  {  // the same records beside a regression file: refused before the file is opened
    InterpolatorRun run;
    run.Build(Section("temperature", 3, run.StationLine()), halfHours);
    EXPECT_EQ(run.code, 1302);
    EXPECT_NE(run.log.console().find("the run steps by 30 minutes"), std::string::npos) << run.log.console();
  }
  {  // a regression file alone learns the step from the run's first station file
    InterpolatorRun run;
    WriteTextFile(run.dir.file("t.reg"), RegressionText(6));
    run.Build(WithRegressionFile(Section("temperature", 2, "unused.dat"), run.dir.file("t.reg")), "");
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->SetRecordStep(60, "the records of p.dat");
    run.interp->SetRecordStep(1440, "the records of p.dat");
    int code = 0;
    try {
      run.interp->SetRecordStep(30, "the records of p.dat");
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 1302);
    EXPECT_NE(run.log.console().find("the run steps by 30 minutes"), std::string::npos) << run.log.console();
  }
}

TEST(Interpolator, StationRegressionAndLapseRateMethods) {
  for (int method : {10, 11, 12}) {
    InterpolatorRun run;
    // Two stations at 1000 m (both above the lower inversion of 0 m and closer in altitude
    // than the cluster range): the regression is their mean at every elevation.
    const std::string stations = StationText({{500, 500}, {4500, 3500}}, {"1 3", "2 6", "3 9"});
    WriteTextFile(run.dir.file("st.dat"), stations);
    run.Build(Section("temperature", method, run.dir.file("st.dat")), stations);
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->ComputeStationRegression(0);
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    double** g = run.interp->ResultGrid();
    if (method == 10) {
      EXPECT_DOUBLE_EQ(g[1][1], 4.0);
      EXPECT_DOUBLE_EQ(g[4][3], 4.0);
    } else if (method == 11) {  // fraction 1.0: inverse distance alone
      EXPECT_NEAR(g[4][1], 2.0, 1e-6);
    } else {  // nearest station moved by -0.0065 per metre from 1000 m
      EXPECT_DOUBLE_EQ(g[4][1], 2.0 - 0.0065 * 40);
      EXPECT_DOUBLE_EQ(g[1][5], 6.0 - 0.0065 * 10);
      // the same operation for callers outside the cell loop, with other lapse rates
      EXPECT_DOUBLE_EQ(run.interp->ElevationGradientCellValue(500, 500, 1500, -0.005, 1200, 0.001),
                       2.0 - 0.005 * 200 + 0.001 * 300);
    }
    EXPECT_NE(run.interp->Description().find(method == 12 ? "Thiessen plus elevation lapserate" : "elevation dependent"),
              std::string::npos);
  }
}

TEST(Interpolator, BilinearBetweenMeshStations) {
  // Four stations at the corners of the basin: a mesh of one rectangle along the axes.
  const std::vector<std::pair<double, double>> corners = {{500, 3500}, {4500, 3500}, {500, 500}, {4500, 500}};
  const std::string residuals = StationText(corners, {"0 0 0 0", "1 2 3 4", "1 2 3 -99999", "5 5 5 5"});
  const std::string gradients = StationText(corners, {"0 0 0 0", "0.01 0.01 0.01 0.01", "0 0 0 0", "0.01 0.01 0.01 0.01"});
  for (int method : {5, 6}) {
    InterpolatorRun run;
    WriteTextFile(run.dir.file("st.dat"), residuals);
    WriteTextFile(run.dir.file("gr.dat"), gradients);
    std::string lines = run.dir.file("st.dat");
    if (method == 6) lines += "\n" + run.dir.file("gr.dat");
    run.Build(Section("temperature", method, lines), residuals);
    ASSERT_EQ(run.code, 0) << run.log.console();
    EXPECT_EQ(run.basin.FindRegistered("CoordXRot_temperature"), 0);  // a straight mesh needs no rotation
    double** g = run.interp->ResultGrid();
    const double z = 1020.0;  // row 2
    const double gradient = method == 6 ? 0.01 * z : 0.0;
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    // cell (2, 3) at (2500, 2500): u = 0.5 from the west, w = 1/3 from the north
    EXPECT_NEAR(g[2][3], 1.5 + 2.0 / 3 + gradient, 1e-12);
    run.interp->ReadNextRecord();
    run.interp->Interpolate(ModelDate{0, 2, 1, 1, 2001});
    // A corner without a value: inverse distance of the other three (gradients are 0 now).
    const double w1 = 1 / 5e6, w2 = 1 / 5e6, w3 = 1 / 8e6;
    EXPECT_NEAR(g[2][3], (w1 * 1 + w2 * 2 + w3 * 3) / (w1 + w2 + w3), 1e-12);
    run.interp->ReadNextRecord();
    run.interp->Interpolate(ModelDate{0, 3, 1, 1, 2001});
    EXPECT_NEAR(g[2][3], 5 + gradient, 1e-12);  // equal residuals keep their gradients
  }
  {  // the two files of method 6 must describe the same stations
    InterpolatorRun run;
    WriteTextFile(run.dir.file("st.dat"), residuals);
    WriteTextFile(run.dir.file("gr.dat"),
                  StationText({{500, 3500}, {4500, 3500}, {600, 500}, {4500, 500}}, {"0 0 0 0"}));
    run.Build(Section("temperature", 6, run.dir.file("st.dat") + "\n" + run.dir.file("gr.dat")), residuals);
    EXPECT_EQ(run.code, 73);
    EXPECT_NE(run.log.console().find("Altitude and/or coordinates of station 3"), std::string::npos);
  }
}

TEST(Interpolator, SplinesOverAStationMesh) {
  // Stations on cell centres: 3 columns 2000 m apart, 4 rows 1000 m apart; a linear field.
  std::vector<std::pair<double, double>> mesh;
  std::string row0, row1, gradients;
  for (double y : {3500.0, 2500.0, 1500.0, 500.0})
    for (double x : {500.0, 2500.0, 4500.0}) {
      mesh.push_back({x, y});
      row1 += " " + std::to_string(1 + 0.001 * x + 0.002 * y);
      row0 += " 0";
      gradients += " 0.001";
    }
  const std::string residuals = StationText(mesh, {row0, row1});
  const std::string slopes = StationText(mesh, {row0, gradients});
  for (int method : {7, 8}) {
    InterpolatorRun run;
    WriteTextFile(run.dir.file("st.dat"), residuals);
    WriteTextFile(run.dir.file("gr.dat"), slopes);
    std::string lines = run.dir.file("st.dat");
    if (method == 8) lines += "\n" + run.dir.file("gr.dat");
    run.Build(Section("temperature", method, lines), residuals);
    ASSERT_EQ(run.code, 0) << run.log.console();
    run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
    double** g = run.interp->ResultGrid();
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 5; ++c) {
        if (r == 2 && c == 5) continue;
        const double x = (c - 0.5) * 1000, y = (4 - r + 0.5) * 1000;
        const double z = 1000 + 10 * r;
        EXPECT_NEAR(g[r][c], 1 + 0.001 * x + 0.002 * y + (method == 8 ? 0.001 * z : 0.0), 1e-9) << r << c;
      }
    EXPECT_EQ(g[2][5], -9999.0);
  }
  {  // a column short of one station cannot be a mesh: code 70
    InterpolatorRun run;
    std::vector<std::pair<double, double>> holed(mesh.begin(), mesh.end() - 1);
    const std::string text = StationText(holed, {"0 0 0 0 0 0 0 0 0 0 0", "0 0 0 0 0 0 0 0 0 0 0"});
    WriteTextFile(run.dir.file("st.dat"), text);
    run.Build(Section("temperature", 7, run.dir.file("st.dat")), text);
    EXPECT_EQ(run.code, 70);
    EXPECT_NE(run.log.console().find("Error converting the station coordinates into a grid"), std::string::npos);
  }
}

TEST(Interpolator, BilinearOnAMeshTurnedByThirtyDegrees) {
  // 3 x 4 stations, 2000 m apart along a mesh row and 3000 m along a column, turned by 30
  // degrees so that cell (3, 3) lies in the middle of the rectangle of stations 1, 2, 4, 5.
  const double a = 30.0 * M_PI / 180.0;
  const double ox = 2500 - 1000 * std::cos(a) + 1500 * std::sin(a), oy = 1500 - 1000 * std::sin(a) - 1500 * std::cos(a);
  std::vector<std::pair<double, double>> mesh;
  std::string row;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 3; ++i) {
      mesh.push_back({ox + 2000 * i * std::cos(a) - 3000 * j * std::sin(a), oy + 2000 * i * std::sin(a) + 3000 * j * std::cos(a)});
      row += " " + std::to_string(10 * j + i);
    }
  const std::string stations = StationText(mesh, {row, row});
  InterpolatorRun run;
  WriteTextFile(run.dir.file("st.dat"), stations);
  run.Build(Section("temperature", 5, run.dir.file("st.dat")), stations);
  ASSERT_EQ(run.code, 0) << run.log.console();
  EXPECT_GT(run.basin.FindRegistered("CoordXRot_temperature"), 0);  // the turned mesh needs rotated cells
  EXPECT_NEAR(run.interp->AverageHorizontalDistance(), 2000.0, 1e-3);
  EXPECT_NEAR(run.interp->AverageVerticalDistance(), 3000.0, 1e-3);
  run.interp->Interpolate(ModelDate{0, 1, 1, 1, 2001});
  EXPECT_NEAR(run.interp->ResultGrid()[3][3], (0 + 1 + 10 + 11) / 4.0, 1e-6);
}
