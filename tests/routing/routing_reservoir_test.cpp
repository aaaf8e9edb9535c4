// Reservoirs in the routing: a reservoir at the outlet of a sub-basin takes the routed
// discharge, releases its outflow there, writes its balance rows, and leaves its volume
// and running averages in the storage file for a warm start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <random>

#include "framework/text_helpers.h"
#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

const char* kRules =
    "\n[abstraction_rule_reservoir_7]\n"
    "3 1\n"
    "0 0\n"
    "1e6 5\n"
    "1e8 50\n"
    "\n";

std::string Descriptions(const std::string& reservoir) {
  std::string d = ThreeBasinDescriptions();
  const std::string end = "end of the list\n";
  return d.replace(d.find(end), end.size(), reservoir + end);
}

const std::string kReservoir =
    "SP 7 (file = res7.txt V0 = 500000 A0 = 2e6 W0 = 400 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600 UseRunningAvg = 3)\n";

std::string Control(const RoutingBasin& b, const std::string& reservoir = kReservoir) {
  return b.Control(RoutingBasin::Settings("1.0 3000.0 20 2", "none 0"), Descriptions(reservoir)) + kRules;
}

void SetStepRunoff(RoutingBasin& b, int h) {
  std::mt19937 rng(static_cast<unsigned>(7 + h));
  std::uniform_real_distribution<double> u(0.0, 3.0);
  const double x = u(rng), y = u(rng), z = u(rng);
  b.SetRunoff(x, y, z);
}

SP_class& Reservoir(abflussmodellklasse& m) { return *m.routingObjects.back()->reservoirs.front(); }

}  // namespace

// The reservoir changes nothing upstream: it receives exactly what the basin without it
// delivers at the outlet, and the outlet then carries its outflow; its volume closes
// with inflow and outflow step by step.
TEST(RoutingReservoir, TakesTheRoutedDischargeAndReleasesItsOutflow) {
  CapturedLog log;
  RoutingBasin plain, dammed;
  SetStepRunoff(plain, 0);
  SetStepRunoff(dammed, 0);
  auto without = plain.Start(plain.Control(RoutingBasin::Settings("1.0 3000.0 20 2", "none 0"), Descriptions("")),
                             log.log());
  auto with = dammed.Start(Control(dammed), log.log());
  routingclass& outlet = *with->routingObjects.back();
  SP_class& sp = Reservoir(*with);
  EXPECT_EQ(sp.number, 7);
  EXPECT_EQ(sp.fileName, dammed.dir.path() + "/res7.txt");
  const int steps = 60;
  for (int h = 0; h < steps; ++h) {
    SetStepRunoff(plain, h);
    SetStepRunoff(dammed, h);
    without->RunTimeStep(StepDate(h), 1, 1);
    const double before = sp.state[0];
    with->RunTimeStep(StepDate(h), 1, 1);
    for (int z = 1; z <= 2; ++z) ASSERT_DOUBLE_EQ(with->input[z], without->input[z]);
    ASSERT_NEAR(sp.Qin.m3s, outlet.DepthToDischarge(without->input[3], outlet.area), 1e-9 * (1 + sp.Qin.m3s));
    ASSERT_NEAR(with->input[3], outlet.DischargeToDepth(sp.Qout, outlet.area), 1e-12);
    ASSERT_NEAR(sp.state[0], before + sp.Qin.m3 - sp.QoutTerm.m3, 1e-9 * (before + sp.Qin.m3)) << h;
    ASSERT_GE(sp.state[0], 0.0);
    // The level of a reservoir without cells moves by dV / A.
    ASSERT_NEAR(sp.W, 400 + (sp.state[0] - 500000) / 2e6, 1e-9);
  }
  with->routingObjects.back()->FlushOutputFiles();
  std::ifstream f(sp.fileName);
  std::string line;
  int rows = 0;
  std::getline(f, line);
  EXPECT_EQ(line.rfind("YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]", 0), 0u);
  for (int k = 0; k < 2; ++k) std::getline(f, line);
  while (std::getline(f, line)) {
    EXPECT_EQ(line.rfind("2001\t 1\t ", 0), 0u) << line;  // no rows of the start-up routing
    ++rows;
  }
  EXPECT_EQ(rows, steps);
}

// The routing module's tables for other modules, for networks that name their tributaries
// in every way: the order list (OL entries first, then each SUMTRIB with its "&" members,
// description by description), the sub-basin each flows into, the description of each TG,
// the cell counts (a TG's grown to its catchment) and area factors; and the second
// per-sub-basin array, which holds the last reservoir's volume at its sub-basin, in mm over
// the outlet's area (60 km² over the area factor), from the initialisation routing on and at
// the end of each step. The first array stays empty.
TEST(RoutingReservoir, LeavesItsVolumeInTheLinkedArray) {
  const std::string tg12 = "TG 1 (AE=10, AF=1.0)\nTG 2 (AE=20, AF=1.0)\n";
  const std::string rule8 = "\n[abstraction_rule_reservoir_8]\n2 1\n0 0\n1e8 20\n\n";
  const std::string reservoir8 =
      "SP 8 (file = res8.txt V0 = 3000000 A0 = 1e6 W0 = 300 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)\n";
  const struct {
    const char* name;
    std::string descriptions, rules;
    std::vector<int> order, downstream, object;
    std::vector<double> cells, factors;
  } networks[] = {
      {"two tributaries", Descriptions(kReservoir), "", {0, 1, 2, 0}, {0, 3, 3, 0}, {0, 1, 2, 3}, {1, 10, 20, 60},
       {1, 1, 1, 1}},
      {"a chain", "TG 1 (AE=10, AF=1.0)\nTG 2 (AE=30, AF=1.0)\nOL 1 " + ChannelText(8000, 10) +
                      "\nTG 3 (AE=60, AF=1.0)\nOL 2 " + ChannelText(20000, 30) + "\n" + kReservoir + "end of the list\n",
       "", {0, 1, 2, 0}, {0, 2, 3, 0}, {0, 1, 2, 3}, {1, 10, 30, 60}, {1, 1, 1, 1}},
      {"a summed tributary and its member, area factor 2",
       tg12 + "TG 3 (AE=60, AF=2.0)\nSUMTRIB 2&1 " + ChannelText(15000, 30) + "\n" + kReservoir + "end of the list\n",
       "", {0, 2, 1, 0}, {0, 3, 3, 0}, {0, 1, 2, 3}, {1, 10, 20, 60}, {1, 1, 1, 2}},
      {"an OL written after a summed tributary",
       tg12 + "TG 3 (AE=60, AF=1.0)\nSUMTRIB 2 " + ChannelText(15000, 20) + "\nOL 1 " + ChannelText(8000, 10) + "\n" +
           kReservoir + "end of the list\n",
       "", {0, 1, 2, 0}, {0, 3, 3, 0}, {0, 1, 2, 3}, {1, 10, 20, 60}, {1, 1, 1, 1}},
      {"two reservoirs: the last one's volume", Descriptions(kReservoir + reservoir8), rule8, {0, 1, 2, 0},
       {0, 3, 3, 0}, {0, 1, 2, 3}, {1, 10, 20, 60}, {1, 1, 1, 1}},
  };
  for (const auto& n : networks) {
    SCOPED_TRACE(n.name);
    CapturedLog log;
    RoutingBasin b;
    SetStepRunoff(b, 0);
    auto m = b.Start(b.Control(RoutingBasin::Settings("1.0 3000.0 20 2", "none 0"), n.descriptions) + kRules + n.rules,
                     log.log());
    const SubbasinLinkTables links = m->GetLinkA();
    ASSERT_NE(links.order, nullptr);
    EXPECT_EQ(links.subbasins, 3);
    std::vector<int> order(links.order, links.order + 7);
    EXPECT_EQ(order, (std::vector<int>{n.order[0], n.order[1], n.order[2], n.order[3], 0, 0, 0}));
    EXPECT_EQ(std::vector<int>(links.downstream, links.downstream + 4), n.downstream);
    EXPECT_EQ(std::vector<int>(links.routingObject, links.routingObject + 4), n.object);
    const SubbasinAreaTables areas = m->GetLinkB();
    ASSERT_EQ(areas.zones, 3);
    EXPECT_EQ(std::vector<double>(areas.cellCounts, areas.cellCounts + 4), n.cells);
    EXPECT_EQ(std::vector<double>(areas.areaFactors, areas.areaFactors + 4), n.factors);

    double** first = m->GetLinkC();
    double** second = m->GetLinkD();
    ASSERT_TRUE(first && second && first != second);
    const routingclass& outlet = *m->routingObjects.back();
    const SP_class& last = *outlet.reservoirs.back();
    EXPECT_EQ(last.number, outlet.reservoirs.size() == 2 ? 8 : 7);
    const double mm = 60e3 / n.factors[3];  // m³ per mm over the outlet's area
    // The initialisation routing leaves the volume it starts from.
    EXPECT_NEAR(second[0][3], last.state[0] / mm, 1e-12 * second[0][3]);
    EXPECT_GT(second[0][3], 0.0);
    for (int h = 0; h < 24; ++h) {
      SetStepRunoff(b, h);
      m->RunTimeStep(StepDate(h), 1, 1);
      ASSERT_NEAR(second[0][3], last.state[0] / mm, 1e-12 * second[0][3]) << h;
      if (outlet.reservoirs.size() == 2) {
        ASSERT_NE(outlet.reservoirs[0]->state[0], last.state[0]);
      }
      for (int z = 0; z <= 3; ++z) ASSERT_EQ(first[0][z], 0.0);
      for (int z = 0; z <= 2; ++z) ASSERT_EQ(second[0][z], 0.0);
    }
    EXPECT_GT(second[0][3], 0.0);
  }
}

// Write -> read -> write gives the same text, and a warm start goes on exactly.
TEST(RoutingReservoir, StorageFileKeepsVolumeAndRunningAverages) {
  const int N = 30;
  CapturedLog log;
  RoutingBasin b;
  const std::string control = Control(b);
  SetStepRunoff(b, 0);
  auto whole = b.Start(control, log.log());
  std::string atHalf;
  std::vector<double> expected, expectedVolume;
  for (int h = 0; h < 2 * N; ++h) {
    if (h == N) atHalf = whole->StorageSectionText();
    SetStepRunoff(b, h);
    whole->RunTimeStep(StepDate(h), 1, 1);
    expected.push_back(whole->input[3]);
    expectedVolume.push_back(whole->GetLinkD()[0][3]);
  }
  EXPECT_NE(atHalf.find(" (reservoir 1)\n3 (useRunningAvg reservoir 1)\n"), std::string::npos) << atHalf;

  RoutingBasin b2;
  SetStepRunoff(b2, N);
  auto warm = b2.Build(control, log.log());
  warm->readInitialStates = 1;
  warm->SetSubbasinRunoff(&b2.runoff);
  warm->InitRouting();
  warm->RestoreStorageSection(atHalf, "stored.txt");
  EXPECT_EQ(warm->StorageSectionText(), atHalf);
  EXPECT_EQ(Reservoir(*warm).runningAvg.size(), 3u);
  // The level of a reservoir without cells follows the stored volume, not the initial one.
  EXPECT_NEAR(Reservoir(*warm).W, 400 + (Reservoir(*warm).state[0] - 500000) / 2e6, 1e-12);
  EXPECT_NE(Reservoir(*warm).state[0], 500000.0);
  // The volume left for other modules is there before the first step.
  EXPECT_EQ(warm->GetLinkD()[0][3], expectedVolume[N - 1]);
  for (int h = N; h < 2 * N; ++h) {
    SetStepRunoff(b2, h);
    warm->RunTimeStep(StepDate(h), 1, 1);
    ASSERT_NEAR(warm->input[3], expected[h], 1e-12 * std::fabs(expected[h])) << "step " << h;
    ASSERT_NEAR(warm->GetLinkD()[0][3], expectedVolume[h], 1e-12 * expectedVolume[h]) << "step " << h;
  }

  // Damaged reservoir lines stop the run and keep the state; a file of an older version
  // without the running-average line is read.
  const std::string before = warm->StorageSectionText();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = before;
    const size_t p = t.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    return t.replace(p, from.size(), to);
  };
  const size_t vAt = before.find("1 (number of reservoirs)\n") + 25;
  const std::string volume = before.substr(vAt, before.find(' ', vAt) - vAt);
  const size_t listAt = before.find("(useRunningAvg reservoir 1)\n") + 28;
  const std::string list = before.substr(listAt, before.find('\n', listAt) - listAt);
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } bad[] = {
      {"count", replaced("1 (number of reservoirs)", "2 (number of reservoirs)"), "expected 1 reservoirs, read 2"},
      {"negative volume", replaced(volume + " ", "-5 "), "the volume of reservoir 1 in the part [routing_model_v2] (line 191: -5 is below 0; a volume is 0 or more)"},
      {"volume of 1e300", replaced(volume + " ", "1e300 "), "the volume of reservoir 1 in the part [routing_model_v2] (line 191: 1e+300 is above 1e15 m3"},
      {"damaged list", replaced(list, "1 2 x"), "running averages of reservoir 1 (not a number)"},
      {"cut list", before.substr(0, listAt), "running averages of reservoir 1 (end of file)"},
  };
  for (const auto& c : bad) {
    CapturedLog l;
    warm->log = &l.log();
    EXPECT_EQ(ThrownCode([&] { warm->RestoreStorageSection(c.text, "stored.txt"); }), 71) << c.name;
    EXPECT_NE(l.console().find(c.message), std::string::npos) << c.name << l.console();
    EXPECT_EQ(warm->StorageSectionText(), before) << c.name;
  }
  warm->log = &log.log();  // the logs of the cases are gone
  const std::string old = replaced("3 (useRunningAvg reservoir 1)\n" + list + "\n", "");
  warm->RestoreStorageSection(old, "stored.txt");
  EXPECT_EQ(std::stod(volume), Reservoir(*warm).state[0]);
}

// Sub-basin 3 with lake 7 of four cells (2,2) (2,3) (3,2) (3,3) at 100..103 m, all topped
// at 105 m, water at 103 m, and the grids of the other modules that a lake reads; the grids
// named in `without` are not registered.
struct LakeBasin {
  RoutingBasin b;
  std::vector<MatrixOwner> owned;
  int position = 0;
  double **codes = nullptr, **pond = nullptr, **input = nullptr, **transpiration = nullptr,
         **interception = nullptr;
  static bool LakeCell(int r, int c) { return (r == 2 || r == 3) && (c == 2 || c == 3); }
  static double Dem(int r, int c) { return 100.0 + (r - 2) * 2 + (c - 2); }

  explicit LakeBasin(const std::vector<std::string>& without = {}) {
    auto add = [&](const std::string& name, const std::function<double(int, int)>& f) -> double** {
      if (std::find(without.begin(), without.end(), name) != without.end()) return nullptr;
      owned.emplace_back(b.geometry.nrows, b.geometry.ncols);
      double** m = owned.back().get();
      for (int r = 1; r <= b.geometry.nrows; ++r)
        for (int c = 0; c <= b.geometry.ncols; ++c) m[r][c] = c >= 1 ? f(r, c) : -9999.0;
      ++position;
      b.registry[position].data = m;
      b.registry[position].internalName = name;
      b.registry[position].registered = true;
      return m;
    };
    codes = add("lake_codes", [&](int r, int c) { return LakeCell(r, c) ? 7.0 : -9999.0; });
    add("zonegrid_soilmodel", [](int, int) { return 3.0; });
    add("[elevation_model]", [&](int r, int c) { return LakeCell(r, c) ? Dem(r, c) : 120.0; });
    add("max_ponding_storage", [&](int r, int c) { return LakeCell(r, c) ? (105.0 - Dem(r, c)) * 1000 : 0.0; });
    pond = add("ponding_storage_top",
               [&](int r, int c) { return LakeCell(r, c) ? std::max(0.0, 103.0 - Dem(r, c)) * 1000 : 0.0; });
    input = add("precipitation", [](int, int) { return 2.0; });
    transpiration = add("real_transpiration0", [](int, int) { return 0.0; });
    interception = add("interception_evaporation0", [](int, int) { return 0.0; });
    b.SetRunoff(0.5, 0.5, 0.5);
  }
  std::string LakeControl(bool lakesOn = true, int readgrids = 0) {
    std::string control = Control(b);
    const std::string lakesOff = "[lake_model]\n0\n";
    if (lakesOn)
      control.replace(control.find(lakesOff), lakesOff.size(),
                      "[lake_model]\n1\n60\n1\n2\n" + std::to_string(readgrids) + "  # readgrids\n");
    return control;
  }
};

// A lake of four cells at the outlet of sub-basin 3: its level-volume table comes from the
// elevation model, its water depths go to the ponding grid that evapotranspiration draws
// on, the water input of its cells falls on it, and its volume closes step by step.
TEST(RoutingReservoir, LakeCellsCarryTheLevelAndGatherTheirWater) {
  CapturedLog log;
  LakeBasin lb;
  RoutingBasin& b = lb.b;
  double **codes = lb.codes, **pond = lb.pond, **input = lb.input, **transpiration = lb.transpiration,
         **interception = lb.interception;
  auto dem = LakeBasin::Dem;
  auto m = b.Start(lb.LakeControl(), log.log());
  EXPECT_NE(log.console().find("lakeCellsPerMPIRank[0] 4\n"), std::string::npos);
  SP_class& sp = Reservoir(*m);
  ASSERT_TRUE(sp.lake) << log.console();
  EXPECT_DOUBLE_EQ(sp.levels.front(), 105.0);
  EXPECT_DOUBLE_EQ(sp.levels.back(), 100.0);
  EXPECT_EQ(sp.levels.size(), 451u);  // 400 steps of 0.01 m, 50 of 0.02 m and the bottom
  EXPECT_NEAR(sp.InterpolateBackward(103.0), (3 + 2 + 1) * 1e6, 1e-3);
  EXPECT_NEAR(sp.state[0], 6e6, 1e-3);  // gathered from the water depths at start-up
  EXPECT_NEAR(sp.W, 103.0, 1e-9);
  std::ifstream table(b.dir.path() + "/W_V_Table_07.dat");
  std::string first;
  std::getline(table, first);
  EXPECT_EQ(first, "waterlevel-volume-table lake 7");

  for (int h = 0; h < 24; ++h) {
    const double before = sp.state[0];
    // Evapotranspiration: 0.3 mm from the canopy, and 1.5 mm of transpiration taken from
    // the water of a lake cell deeper than 1 mm; the cell at 103 m, dry before the step
    // (which the step's rain wets), reports 1.5 mm that the lake does not book.
    double evaporated = 0.0;
    for (int r = 2; r <= 3; ++r)
      for (int c = 2; c <= 3; ++c) {
        double e = 1.5;
        if (pond[r][c] > 1.0) {
          e = std::min(e, pond[r][c]);
          pond[r][c] -= e;
          evaporated += 1e3 * e;
        }
        interception[r][c] = 0.3;
        transpiration[r][c] = e + interception[r][c];
      }
    input[2][2] = 1.0 + h;
    m->RunTimeStep(StepDate(h), 1, 1);
    ASSERT_NEAR(sp.PREC.m3, 1e3 * (1.0 + h + 3 * 2.0), 1e-6) << h;  // every cell is wet
    ASSERT_NEAR(sp.ETR.m3, evaporated, 1e-9 * evaporated) << h;
    ASSERT_NEAR(sp.Err.m3, 0.0, 1e-9 * before) << h;
    ASSERT_NEAR(sp.state[0], before - evaporated + sp.PREC.m3 + sp.Qin.m3 - sp.QoutTerm.m3, 1e-9 * before) << h;
    ASSERT_NEAR(sp.W, sp.InterpolateForward(sp.state[0]), 1e-9);
    for (int r = 2; r <= 3; ++r)
      for (int c = 2; c <= 3; ++c)
        ASSERT_NEAR(pond[r][c], std::max(0.0, sp.W - dem(r, c)) * 1000, 1e-9) << r << " " << c;
    ASSERT_EQ(codes[1][1], -9999.0);
  }
}

// Lake 7 gives all it held at the step's start to two internal abstractions (0.6 of it each,
// the second taking what is left) in sub-basins 1 and 2, while its water evaporates in the
// step: the lake can give only what it still holds, and the two inflows receive exactly
// that. In every step the lake's inflow = its volume change + outflow + evaporation + what
// the inflows received.
TEST(RoutingReservoir, LakeGivesItsAbstractionsNoMoreThanItHolds) {
  CapturedLog log;
  LakeBasin lb;
  RoutingBasin& b = lb.b;
  std::string control = lb.LakeControl();
  auto insert = [&](const std::string& after, const std::string& text) {
    control.insert(control.find(after) + after.size(), text);
  };
  insert("TG 1 (AE=10, AF=1.0)\n", "ZL 1 = intern " + ChannelText(3000, 4) + "\n");
  insert("TG 2 (AE=20, AF=1.0)\n", "ZL 2 = intern " + ChannelText(3000, 4) + "\n");
  control.insert(control.find("SP 7"), "AL 1 (mode = intern 0 0.6 1e9 mm)\nAL 2 (mode = intern 0 0.6 1e9 mm)\n");
  auto m = b.Start(control, log.log());
  routingclass& outlet = *m->routingObjects.back();
  SP_class& sp = Reservoir(*m);
  ASSERT_TRUE(sp.lake) << log.console();
  ASSERT_EQ(outlet.abstractions.size(), 2u);
  for (int r = 1; r <= b.geometry.nrows; ++r)
    for (int c = 1; c <= b.geometry.ncols; ++c) lb.input[r][c] = 0.0;
  double capped = 0.0;
  for (int h = 0; h < 48; ++h) {
    double e = 0.0;
    for (int r = 2; r <= 3; ++r)
      for (int c = 2; c <= 3; ++c) {
        const double take = lb.pond[r][c] > 1.0 ? std::min(1.5, lb.pond[r][c]) : 0.0;
        lb.pond[r][c] -= take;
        lb.transpiration[r][c] = take;
        e += 1e3 * take;
      }
    const double asked = sp.state[0];
    m->RunTimeStep(StepDate(h), 1, 1);
    ASSERT_NEAR(sp.ETR.m3, e, 1e-9 * (1.0 + e)) << h;
    double delivered = 0.0;
    for (int t = 0; t < 2; ++t)
      for (const auto& pending : m->routingObjects[t]->PendingTransfers()) delivered += 3600.0 * pending.second;
    ASSERT_NEAR(sp.Err.m3, 0.0, 1e-9 * (1.0 + asked)) << h;
    ASSERT_NEAR(sp.Qin.m3 + sp.PREC.m3, sp.state[0] - asked + sp.QoutTerm.m3 + sp.ETR.m3 + delivered,
                1e-9 * (1.0 + asked + sp.Qin.m3))
        << h;
    if (sp.Abstr.m3 < asked - 1.0) capped += asked - sp.Abstr.m3;
  }
  EXPECT_GT(capped, 0.0);  // the lake held less than the abstractions asked
}

// A sub-basin whose last reservoir drains through a hydraulic connection hands its outflow
// on untranslated: the channel below passes it to the next outlet in the same step, and the
// water that leaves the one reservoir reaches the other.
TEST(RoutingReservoir, ConnectedReservoirBypassesTheChannelBelow) {
  CapturedLog log;
  RoutingBasin b;
  const std::string descriptions =
      "TG 1 (AE=10, AF=1.0)\n"
      "SP 1 (file = r1.txt V0 = 3e6 A0 = 1e6 W0 = 102 C0 = 0 0 0 0 0 0 0 0 0)\n"
      "TG 3 (AE=60, AF=1.0)\n"
      "OL 1 " + ChannelText(20000, 10) + "\n"
      "SP 2 (file = r2.txt V0 = 1e6 A0 = 1e6 W0 = 100 C0 = 0 0 0 0 0 0 0 0 0)\n"
      "end of the list\n";
  const std::string rules =
      "\n[abstraction_rule_reservoir_1]\n0\n"
      "HydraulicConnection {\nTargetReservoir = 2; ChannelWidth = 5; ChannelBottom = 99; ChannelLength = 500; "
      "RoughnessCoeff = 30;\n}\n"
      "\n[abstraction_rule_reservoir_2]\n2 1\n0 0\n1e7 1\n\n";
  b.SetRunoff(0.0, 0.0, 0.0);
  auto m = b.Start(b.Control(RoutingBasin::Settings("1.0 3000.0 20 2", "none 0"), descriptions) + rules, log.log());
  SP_class& upper = *m->routingObjects.front()->reservoirs.front();
  SP_class& lower = *m->routingObjects.back()->reservoirs.front();
  ASSERT_TRUE(upper.connection.on);
  EXPECT_EQ(m->reservoirZones.at(1), 1);
  double before = upper.state[0] + lower.state[0], released = 0.0;
  for (int h = 0; h < 48; ++h) {
    m->RunTimeStep(StepDate(h), 1, 1);
    if (h == 0) {
      ASSERT_GT(upper.Qout, 0.0);  // 102 m above 100 m, downhill
    }
    ASSERT_NEAR(lower.Qin.m3s, upper.Qout, 1e-9 * std::fabs(upper.Qout)) << h;
    released += lower.QoutTerm.m3;
    ASSERT_NEAR(upper.state[0] + lower.state[0] + released, before, 1e-6 * before) << h;
  }
  // The levels have met: the exchange goes back and forth around a common level.
  EXPECT_LT(std::fabs(upper.W - lower.W), 0.1);
}

// With lakes on, a lake needs the evaporation and interception evaporation of layer 0 and a
// water input from the other modules; without them the run stops (33) naming the grid.
// Lakes switched off look up nothing.
TEST(RoutingReservoir, LakesRequireTheGridsOfTheOtherModules) {
  const struct {
    std::vector<std::string> without;
    bool lakesOn;
    int code;
    const char* message;
  } cases[] = {
      {{"real_transpiration0"}, true, 33, "real_transpiration0 not found in memory"},
      {{"interception_evaporation0"}, true, 33, "interception_evaporation0 not found in memory"},
      {{"precipitation"}, true, 33, "throughfall0, snowcover_outflow or precipitation"},
      {{"real_transpiration0", "interception_evaporation0", "precipitation"}, false, 0, ""},
  };
  for (const auto& c : cases) {
    CapturedLog log;
    LakeBasin lb(c.without);
    EXPECT_EQ(ThrownCode([&] { lb.b.Start(lb.LakeControl(c.lakesOn), log.log()); }), c.code) << c.message;
    EXPECT_NE(log.console().find(c.message), std::string::npos) << log.console();
  }
}

// With lakes on, the readgrids value of [lake_model] in place of the soil model's read flag
// tells routing whether it skips its initialisation routing (the state comes from the
// storage file); with the lake section switching lakes off the soil model's flag holds.
TEST(RoutingReservoir, LakesReadFlagDecidesTheInitialisationRouting) {
  const struct {
    const char* name;
    bool lakesOn;
    int lakeFlag, soilFlag;
    const char* storage;
    bool skips;
    const char* message;
  } cases[] = {
      {"lakes read, soil does not", true, 1, 0, "state.txt", true, "readgrids of [lake_model] is 1: routing skips"},
      {"soil reads, lakes do not", true, 0, 1, "state.txt", false, "readgrids of [lake_model] is 0: routing runs"},
      {"lakes read without a storage file", true, 1, 1, "", false, nullptr},
      {"lakes off, soil reads", false, 1, 1, "state.txt", true, nullptr},
      {"lakes off, soil does not", false, 1, 0, "state.txt", false, nullptr},
  };
  for (const auto& c : cases) {
    CapturedLog log;
    LakeBasin lb;
    lb.b.soilReadFlag = c.soilFlag;
    lb.b.storageFileName = c.storage;
    auto m = lb.b.Start(lb.LakeControl(c.lakesOn, c.lakeFlag), log.log());
    EXPECT_EQ(m->readInitialStates, c.skips ? 1 : 0) << c.name;
    EXPECT_EQ(log.console().find("routing the initialization discharges") == std::string::npos, c.skips) << c.name;
    // The initialisation routing leaves the lake's volume (mm over the 60 km² of sub-basin
    // 3) in the linked array; without it, a warm start puts the stored volume there.
    const double linked = m->GetLinkD()[0][3], volume = Reservoir(*m).state[0];
    EXPECT_GT(volume, 0.0) << c.name;
    EXPECT_NEAR(linked, c.skips ? 0.0 : volume / 60e3, 1e-12 * volume / 60e3) << c.name;
    if (c.message) {
      EXPECT_NE(log.console().find(c.message), std::string::npos) << c.name << log.console();
    }
  }
}
