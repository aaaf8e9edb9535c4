// The routing module over the three-basin network: mass over a pulse, steady state, the
// statistics file and the start-up routing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

// Outlet volume of a step in mm·km² (over the whole basin of 60 km²).
double OutletVolume(const abflussmodellklasse& m) { return m.input[3] * m.cellCounts[3] * m.cellCounts[0]; }

TEST(RoutingModule, BuildsOneObjectPerDescriptionWithCumulativeAreas) {
  CapturedLog log;
  RoutingBasin b;
  auto m = b.Start(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()), log.log());
  ASSERT_EQ(m->routingObjects.size(), 3u);
  EXPECT_EQ(m->routingObjects[2]->channels.size(), 2u);
  EXPECT_DOUBLE_EQ(m->cellCounts[3], 60.0);  // 30 own cells and its two tributaries
  EXPECT_EQ(m->downstream[1], 3);
  EXPECT_EQ(m->downstream[2], 3);
  EXPECT_EQ(m->objectOf[3], 3);
  const routingclass& o = *m->routingObjects[2];
  EXPECT_DOUBLE_EQ(o.areaShare[0] + o.areaShare[1] + o.areaShare[2], 1.0);
  // The description's area matched the grid: no adjustment message.
  EXPECT_EQ(log.console().find("adjusted to the latter"), std::string::npos);
  EXPECT_NE(log.console().find("routing the initialization discharges"), std::string::npos);
}

TEST(RoutingModule, SteadyRunoffGivesSteadyOutletEqualToIt) {
  CapturedLog log;
  RoutingBasin b;
  b.SetRunoff(0.3, 0.3, 0.3);
  auto m = b.Start(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()), log.log());
  for (int h = 0; h < 50; ++h) {
    m->RunTimeStep(StepDate(h), 1, 1);
    EXPECT_NEAR(m->input[3], 0.3, 1e-12) << "step " << h;
    EXPECT_NEAR(m->input[1], 0.3, 1e-12);
  }
}

// A pulse of runoff leaves the basin whole: every mm·km² that the sub-basins give comes
// out at the outlet once the channels have drained. With qmin = qmax every discharge
// maps to the same table row, so the translation stays constant and the channel keeps its
// water exactly.
TEST(RoutingModule, PulseIsConservedAtTheOutlet) {
  CapturedLog log;
  RoutingBasin b;
  auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 3"), ThreeBasinDescriptions()), log.log());
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 5.0);
  double in = 0.0, out = 0.0;
  for (int h = 0; h < 2000; ++h) {
    if (h < 30) {
      b.SetRunoff(u(rng), u(rng), u(rng));
    } else {
      b.SetRunoff(0, 0, 0);
    }
    in += b.rows[0][1] * 10 + b.rows[0][2] * 20 + b.rows[0][3] * 30;
    m->RunTimeStep(StepDate(h), 1, 1);
    out += OutletVolume(*m);
    ASSERT_TRUE(std::isfinite(m->input[3]));
    ASSERT_GE(m->input[3], 0.0);
  }
  EXPECT_NEAR(out, in, 1e-9 * in);
}

// Water held by the network's channels, in mm·cells like the outlet volume.
double NetworkContent(const abflussmodellklasse& m) {
  double v = 0.0;
  for (const routingclass* o : m.routingObjects)
    for (const ChannelTable& c : o->channels) v += ChannelContent(c) * m.cellCounts[static_cast<size_t>(c.sourceZone)];
  return v;
}

// Flashy runoff through channels whose translation follows the discharge, and (with a
// mean channel 0.1 m deep) whose floods wet the flood plains: in every step the runoff
// equals the outlet's discharge plus what the channels gained.
TEST(RoutingModule, FlashyRunoffKeepsTheNetworksWaterInEveryStep) {
  for (double hm : {5.0, 0.1}) {
    CapturedLog log;
    RoutingBasin b;
    auto m = b.Start(b.Control(RoutingBasin::Settings("1.0 100.0 10 2"), ThreeBasinDescriptions(hm)), log.log());
    const ChannelTable& c = m->routingObjects[2]->channels[0];
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double held = NetworkContent(*m), in = 0.0, largestShare = 0.0;
    int changes = 0;
    std::vector<int> slots = c.lastSlot;
    for (int h = 0; h < 1500; ++h) {
      // Bursts of up to 3 mm in an hour, recessions of a hundredth of it.
      const double scale = h > 1000 ? 0.0 : h % 50 < 5 ? 3.0 : 0.03;
      b.SetRunoff(scale * u(rng), scale * u(rng), scale * u(rng));
      const double step = b.rows[0][1] * 10 + b.rows[0][2] * 20 + b.rows[0][3] * 30;
      m->RunTimeStep(StepDate(h), 1, 1);
      const double now = NetworkContent(*m), out = m->input[3] * m->cellCounts[3];
      ASSERT_NEAR(step, now - held + out, 1e-9 * std::max(step, 1.0)) << "hm " << hm << ", step " << h;
      held = now;
      in += step;
      if (c.lastSlot != slots) ++changes;
      slots = c.lastSlot;
      for (size_t k = 1; k < c.qvzuq.size(); ++k) largestShare = std::max(largestShare, c.qvzuq[k]);
    }
    EXPECT_GT(changes, 100) << "the translation should follow the discharge";
    EXPECT_EQ(largestShare > 0.3, hm < 1.0) << "the floods should wet the flood plains of the shallow channel only";
    EXPECT_LT(held, 1e-9 * in);  // drained
  }
}

// The soil model's runoff of a step is the routing's input of that step, whole.
TEST(RoutingModule, SoilIntervalOfRoutingTakesTheWholeRunoff) {
  CapturedLog log;
  RoutingBasin b(60);
  b.SetRunoff(0.9, 0.9, 0.9);
  auto m = b.Start(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()), log.log());
  EXPECT_DOUBLE_EQ(m->stepRatio, 1.0);
  m->RunTimeStep(StepDate(0), 1, 1);
  EXPECT_EQ(m->input[1], 0.9);
}

TEST(RoutingModule, WritesDischargeInMillimetresOrCubicMetres) {
  for (int unit : {0, 1}) {
    CapturedLog log;
    RoutingBasin b;
    b.SetRunoff(0.36, 0.36, 0.36);
    auto m = b.Start(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions(), unit), log.log());
    for (int h = 0; h < 3; ++h) m->RunTimeStep(StepDate(h), 1, 1);
    m->WriteStatistics();
    m.Release();
    const std::string text = ReadTextFile(b.dir.file("qstat.txt"));
    // 0.36 mm per hour over 60 km² is 6 m³/s; over 10 km² 1 m³/s.
    const std::string row = unit == 0 ? "\t0.360\t0.360\t0.360" : "\t1.000\t2.000\t6.000";
    EXPECT_NE(text.find(row), std::string::npos) << text;
    EXPECT_NE(text.find(unit == 0 ? "routed discharge [mm per subbasin]" : "routed discharge [ m3 per sec ]"),
              std::string::npos);
  }
}

TEST(RoutingModule, ConstantInflowIsAddedEveryStep) {
  CapturedLog log;
  RoutingBasin b;
  const std::string list = "TG 1 (AE=10, AF=1.0)\n"
                           "ZL 1 = constant 1.0 " + ChannelText(10, 5) + "\n"
                           "end\n";
  auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 1"), list), log.log());
  for (int h = 0; h < 200; ++h) m->RunTimeStep(StepDate(h), 1, 1);
  // 1 m³/s over 10 km² in an hour is 0.36 mm; the zone itself gives nothing.
  EXPECT_NEAR(m->input[1], 0.36, 1e-9);
}

TEST(RoutingModule, FileInflowFollowsTheDatesOfItsRows) {
  CapturedLog log;
  RoutingBasin b;
  WriteTextFile(b.dir.file("inflow.txt"),
                "YY MM DD HH Q\n2001 1 1 1 2.0\n2001 1 1 2 -9999\n2001 1 1 3 4.0\n2001 1 1 5 1.0\n");
  const std::string list = "TG 1 (AE=10, AF=1.0)\n"
                           "ZL 1 = extern " + b.dir.file("inflow.txt") + " 0 1 " + ChannelText(10, 10) + "\n"
                           "end\n";
  auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 1"), list), log.log());
  m->RunTimeStep(StepDate(0), 1, 1);
  EXPECT_NEAR(m->input[4], 0.72, 1e-12);  // 2 m³/s over 10 km²
  m->RunTimeStep(StepDate(1), 1, 1);
  EXPECT_EQ(m->input[4], 0.0);  // a missing value counts as 0
  m->RunTimeStep(StepDate(2), 1, 1);
  try {
    m->RunTimeStep(StepDate(3), 1, 1);  // the file jumps to hour 5
    FAIL() << "a row of another date must stop the run";
  } catch (int code) {
    EXPECT_EQ(code, 38);
  }
  EXPECT_NE(log.console().find("error comparing dates in"), std::string::npos);
}

// Inflow files are read in blocks of some 266 000 rows; a row that cannot be read in a
// later block ends the run naming its line and column, as one in the first block does,
// whether the start-up search or a step reaches it.
TEST(RoutingModule, InflowRowThatCannotBeReadPastTheFirstBlockIsNamed) {
  const std::string filler = [] {
    std::string text = "YY MM DD HH Q\n";
    for (int i = 0; i < 300000; ++i) text += "1990 1 1 0 1.0\n";
    return text;
  }();
  struct Case {
    const char* what;
    std::string tail;
    int startRow;
    int stepsBefore;  // steps that still read good rows
    const char* place;
  };
  const Case cases[] = {
      {"a step", "2001 1 1 1 2.0\n2001 1 1 2 3.0\n2001 1 1 3 4.0\n2001 1 1 4 n/a\n", 300000, 3,
       "line 300005, column 5: \"n/a\" is no number"},
      {"the search for the start", "1990 1 x 0 1.0\n2001 1 1 1 2.0\n", 0, 0,
       "line 300002, column 3"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CapturedLog log;
    RoutingBasin b;
    WriteTextFile(b.dir.file("inflow.txt"), filler + k.tail);
    const std::string list = "TG 1 (AE=10, AF=1.0)\n"
                             "ZL 1 = extern " + b.dir.file("inflow.txt") + " " + std::to_string(k.startRow) +
                             " 1 " + ChannelText(10, 10) + "\n"
                             "end\n";
    int code = 0;
    try {
      auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 1"), list), log.log());
      for (int h = 0; h < k.stepsBefore; ++h) m->RunTimeStep(StepDate(h), 1, 1);
      EXPECT_NEAR(m->input[4], k.stepsBefore == 0 ? 0.0 : 1.44, 1e-12);  // 4 m³/s over 10 km²
      m->RunTimeStep(StepDate(k.stepsBefore), 1, 1);
    } catch (int c) {
      code = c;
    }
    EXPECT_EQ(code, 37);
    EXPECT_NE(log.console().find(std::string("inflow 1: ") + k.place), std::string::npos) << log.console();
  }
}

}  // namespace

namespace {

// The table files of the two channels of sub-basin 3 (the first wets its flood plains, the
// second does not) against golden files, which the independent calculation of
// tests/data/routing/wq_table_check.py wrote and still gives character for character.
TEST(RoutingModule, WritesTheLevelDischargeTablesOfTheIndependentCalculation) {
  CapturedLog log;
  RoutingBasin b;
  b.Start(b.Control(RoutingBasin::Settings("1.0 100.0 10 2"), ThreeBasinDescriptions(0.1)), log.log());
  for (const char* name : {"wq_table.001", "wq_table.002"}) {
    const std::string golden = ReadTextFile(std::string(ORVEL_TEST_DATA) + "/routing/" + name);
    ASSERT_FALSE(golden.empty()) << name;
    EXPECT_EQ(ReadTextFile(b.dir.file(name)), golden) << name;
  }
}

TEST(RoutingModule, GoldenTablesAreTheIndependentCalculation) {
  ORVEL_NEEDS_TOOLS("python3");
  std::string output;
  EXPECT_EQ(RunCommand("python3 " + std::string(ORVEL_TEST_DATA) + "/routing/wq_table_check.py", &output), 0)
      << output;
}

}  // namespace

namespace {

// The routing section of the example basin over its five sub-basins: every
// description builds, the network runs 1 and 3 into 4, 2 and 4 into 5, and steady runoff
// leaves the outlet unchanged.
TEST(RoutingModule, ExampleBasinSectionRoutesItsFiveSubbasins) {
  const std::string control = ReadTextFile(std::string(ORVEL_SOURCE_DIR) + "/examples/basin/basin.ctl");
  ASSERT_NE(control.find("[routing_model]\n1 "), std::string::npos);
  CapturedLog log;
  RoutingBasin b;
  const double cells[] = {0, 50, 64, 113, 120, 23};
  b.zones.resize(6);
  for (int i = 1; i <= 5; ++i) {
    b.zones[i].code = i;
    b.zones[i].cellCount = cells[i];
  }
  b.codeMap = {0, 1, 2, 3, 4, 5};
  b.rows.assign(2, std::vector<double>(7, 0.2));
  b.rowPointers = {b.rows[0].data(), b.rows[1].data()};
  b.runoff.table = b.rowPointers.data();
  b.runoff.subbasinCount = 5;
  WriteTextFile(b.dir.file("basin.ctl"), control);
  ModuleInputs in;
  in.log = &log.log();
  in.controlFileName = b.dir.file("basin.ctl");
  in.grids = b.registry.Records();
  in.statisticsTable = b.statistics.data();
  in.statisticsSize = 200;
  in.zoneTable = b.zones.data();
  in.zoneCodeMap = b.codeMap.data();
  in.zoneCount = 5;
  in.maxZoneCode = 5;
  in.geometry = b.geometry;
  in.start = ModelDate{0, 1, 1, 1, 1985};
  in.output.defaultOutputDirectory = b.dir.path() + "/";
  RoutingInputs r;
  r.soilInterval = 60;
  r.soilZoneTable = b.zones.data();
  r.soilZoneCodeMap = b.codeMap.data();
  r.soilZoneCount = 5;
  r.soilMaxZoneCode = 5;
  int error = 0;
  auto m = MakeModule<abflussmodellklasse>(error, in, r);
  m->SetSubbasinRunoff(&b.runoff);
  m->InitRouting();
  ASSERT_EQ(m->routingObjects.size(), 5u) << log.console();
  EXPECT_EQ(m->downstream[1], 4);
  EXPECT_EQ(m->downstream[3], 4);
  EXPECT_EQ(m->downstream[2], 5);
  EXPECT_EQ(m->downstream[4], 5);
  EXPECT_DOUBLE_EQ(m->cellCounts[5], 370.0);
  // The reservoir at the outlet takes the 0.2 mm per hour over 370 km² (20.56 m³/s) that
  // reach it and releases by its rule (0.8 m³/s at its 1,000,000 m³, 2 m³/s at 2,000,000 m³):
  // it fills, its release rising with its volume, until at the table's last volume it passes
  // its inflow.
  ASSERT_EQ(m->routingObjects.back()->reservoirs.size(), 1u);
  const SP_class& sp = *m->routingObjects.back()->reservoirs.front();
  const double inflow = 0.2 * 370 / 0.06 / 60;
  double released = 0.0, before = 0.8;
  for (int h = 0; h < 24; ++h) {
    m->RunTimeStep(StepDate(h), 1, 1);
    EXPECT_NEAR(sp.Qin.m3s, inflow, 1e-9);
    EXPECT_NEAR(m->input[5], sp.Qout * 0.06 * 60 / 370, 1e-12);
    EXPECT_GE(sp.Qout, before);
    EXPECT_LE(sp.Qout, inflow + 1e-9);
    before = sp.Qout;
    released += sp.QoutTerm.m3;
  }
  EXPECT_NEAR(sp.state[0], 1e6 + 24 * 3600 * inflow - released, 1e-6);
  EXPECT_NEAR(sp.state[0], 2e6, 3600 * inflow);
  EXPECT_NEAR(sp.Qout, inflow, 1e-9);
  EXPECT_EQ(m->unitCode, 1);
  m.Release();
  EXPECT_NE(ReadTextFile(b.dir.file("reservoir_1.txt")).find("reservoir_1\n"), std::string::npos);
}

}  // namespace
