// Abstractions inside the routing network: water taken from one sub-basin's outlet and
// handed to an internal inflow of another, or out of the model into a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

// Sub-basin 1 gives half its outflow above 0.2 mm to inflow 1 of sub-basin 2, which sends a
// tenth of its own outflow out of the model; 1 and 2 flow into 3.
std::string TransferDescriptions() {
  return "TG 1 (AE=10, AF=1.0)\n"
         "AL 1 (mode = intern 0.2 0.5 1000 mm)\n"
         "TG 2 (AE=20, AF=1.0)\n"
         "ZL 1 = intern " + ChannelText(5000, 5) + "\n"
         "AL 2 (mode = extern taken.txt 0 0.1 1000 mm)\n"
         "TG 3 (AE=60, AF=1.0)\n"
         "OL 1 " + ChannelText(8000, 10) + "\n"
         "OL 2 " + ChannelText(20000, 20) + "\n"
         "end of the list\n";
}

// Random runoff for the first 40 steps, none after; returns the step's runoff in mm·km².
double PulseOfRunoff(RoutingBasin& b, std::mt19937& rng, int h) {
  std::uniform_real_distribution<double> u(0.0, 5.0);
  if (h < 40)
    b.SetRunoff(u(rng), u(rng), u(rng));
  else
    b.SetRunoff(0, 0, 0);
  return b.rows[0][1] * 10 + b.rows[0][2] * 20 + b.rows[0][3] * 30;
}

// Every mm·km² of runoff leaves at the outlet or through the external abstraction. With
// qmin = qmax every channel keeps one translation, so the channels hold their water
// exactly and the sums close to rounding once they have drained. The external
// abstraction's file holds one row per step of the run (none for the start-up routing),
// in m³/s.
TEST(RoutingAbstraction, NetworkWithTransferAndExternalAbstractionConservesWater) {
  CapturedLog log;
  RoutingBasin b;
  auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 3"), TransferDescriptions()), log.log());
  const routingclass& source = *m->routingObjects[0];
  const routingclass& middle = *m->routingObjects[1];
  ASSERT_EQ(source.abstractions.size(), 1u);
  EXPECT_EQ(source.abstractionTarget[0], 3 + 1);  // inflow 1 after the three sub-basins
  EXPECT_EQ(source.abstractions[0]->targetIndex, 2);
  std::mt19937 rng(11);
  double in = 0.0, out = 0.0, taken = 0.0, moved = 0.0;
  std::string rows = "YY\tMM\tDD\tHH\tm^3/s\nabstraction_2\nYY\tMM\tDD\tHH\tm^3/s\n";
  for (int h = 0; h < 3000; ++h) {
    in += PulseOfRunoff(b, rng, h);
    m->RunTimeStep(StepDate(h), 1, 1);
    out += m->input[3] * m->cellCounts[3] * m->cellCounts[0];
    taken += middle.abstractionResult * middle.OutletArea();
    if (h < 3)
      rows += FormatText("2001\t 1\t 1\t%2d\t%g\n", h + 1,
                         middle.DepthToDischarge(middle.abstractionResult, middle.OutletArea()));
    moved += source.abstractionResult * source.OutletArea();
    ASSERT_GE(m->input[1], 0.0);
    ASSERT_GE(m->input[2], 0.0);
  }
  EXPECT_GT(moved, 0.05 * in);
  EXPECT_GT(taken, 0.01 * in);
  EXPECT_NEAR(out + taken, in, 1e-9 * in);
  m->WriteStatistics();
  m->WriteStatistics();  // a second flush adds nothing
  const std::string text = ReadTextFile(b.dir.file("taken.txt"));
  EXPECT_EQ(text.substr(0, rows.size()), rows);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 3000);
}

// Sub-basin 2 ends in an empty reservoir: sub-basin 1 still hands it water through inflow
// 1; the reservoir gives part of its volume by rule to inflow 2 of sub-basin 3 (mode 8) and
// a tenth of it out of the model (mode 4, booked against the reservoir alone); a file
// prescribes its outflow while it has values (mode 9).
std::string ReservoirDescriptions(const std::string& prescription) {
  return "TG 1 (AE=10, AF=1.0)\n"
         "AL 1 (mode = intern 0.2 0.5 1000 mm)\n"
         "TG 2 (AE=20, AF=1.0)\n"
         "ZL 1 = intern " + ChannelText(5000, 5) + "\n"
         "AL 3 (mode = extern taken.txt 0 0.1 1000 mm)\n"
         "AL 2 (mode = intern_with_rule_from_reservoir)\n"
         "AL 6 (mode = intern_from_file_from_reservoir externalAbstractionFile = " + prescription +
         " 1 replaced_Abstractions = { 0 })\n"
         "SP 4 (file = res4.txt V0 = 0 A0 = 2e6 W0 = 400 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)\n"
         "TG 3 (AE=60, AF=1.0)\n"
         "OL 1 " + ChannelText(8000, 10) + "\n"
         "OL 2 " + ChannelText(20000, 20) + "\n"
         "ZL 2 = intern " + ChannelText(3000, 4) + "\n"
         "end of the list\n"
         "[abstraction_rule_reservoir_4]\n3 1\n0 0\n1e6 5\n1e8 50\n\n"
         "[abstraction_rule_abstraction_2]\n2 1\n0 0\n1e6 2\n"
         "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\nTargetCap = 1000\n\n";
}

// A prescription file of 0.5 m³/s for the first 50 steps, missing after, in a folder whose
// name holds no keyword of the descriptions.
struct Prescription {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orvel-prescription-" + std::to_string(getpid()));
  std::string file = (folder / "p.txt").string();
  Prescription() {
    std::filesystem::create_directories(folder);
    std::string rows = "YY MM DD HH Q\n";
    for (int h = 0; h < 3000; ++h) {
      const ModelDate d = StepDate(h);
      rows += FormatText("2001 1 %d %d %g\n", static_cast<int>(d.day), static_cast<int>(d.hour), h < 50 ? 0.5 : -9999.0);
    }
    WriteTextFile(file, rows);
  }
  ~Prescription() { std::filesystem::remove_all(folder); }
};

// The basin with a reservoir, a mode-8 abstraction from it, an external abstraction at it
// and a transfer into its sub-basin: every m³ of runoff leaves at the outlet, leaves
// through the external abstraction, or is still in the reservoir.
TEST(RoutingAbstraction, NetworkWithReservoirAndAbstractionsConservesWater) {
  CapturedLog log;
  RoutingBasin b;
  b.routingTimeOffset = 1440.0;  // minutes; the rules' weekdays are a day earlier
  const Prescription p;
  auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 3"), ReservoirDescriptions(p.file)), log.log());
  routingclass& middle = *m->routingObjects[1];
  ASSERT_EQ(middle.reservoirs.size(), 1u);
  ASSERT_EQ(middle.abstractions.size(), 3u);
  const SP_class& sp = *middle.reservoirs[0];
  const AL_class& fromReservoir = *middle.abstractions[1];
  EXPECT_EQ(middle.abstractionTarget[1], 3 + 2);
  EXPECT_DOUBLE_EQ(fromReservoir.timeOffset, 24.0);
  std::mt19937 rng(5);
  double in = 0.0, out = 0.0, taken = 0.0, drawn = 0.0;
  for (int h = 0; h < 3000; ++h) {
    in += 1e3 * PulseOfRunoff(b, rng, h);
    const double before = sp.state[0];
    m->RunTimeStep(StepDate(h), 1, 1);
    out += 1e3 * m->input[3] * m->cellCounts[3] * m->cellCounts[0];
    // The external amount is booked once, against the reservoir, and never more than it
    // holds.
    const double external = 3600.0 * middle.DepthToDischarge(middle.abstractionResult, middle.OutletArea());
    const double rule = 3600.0 * fromReservoir.amount;
    ASSERT_NEAR(sp.Abstr.m3, external + rule, 1e-9 * (1.0 + sp.Abstr.m3)) << h;
    ASSERT_NEAR(sp.state[0], before + sp.Qin.m3 - sp.QoutTerm.m3 - sp.Abstr.m3, 1e-9 * (1.0 + before + sp.Qin.m3));
    ASSERT_GE(sp.state[0], 0.0);
    taken += external;
    drawn += rule;
    if (h == 45) {
      EXPECT_DOUBLE_EQ(sp.Qout, 0.5);
    }
  }
  EXPECT_GT(drawn, 0.01 * in);
  EXPECT_GT(taken, 0.01 * in);
  EXPECT_NEAR(out + taken + sp.state[0], in, 1e-9 * in);
}

}  // namespace

namespace {

// Two reservoirs in one description: the first starts full and releases by rule into the
// second, which starts empty; a rule abstraction draws on the second, its amount replaced by
// a file for the first 50 steps, and sends the water to inflow 1. The inflow lies in a
// description after the reservoirs' or before it.
std::string TwoReservoirDescriptions(const std::string& prescription, bool targetFirst) {
  const std::string source =
      "AL 1 (mode = intern_with_rule_from_reservoir)\n"
      "AL 6 (mode = intern_from_file_from_reservoir externalAbstractionFile = " + prescription +
      " 1 replaced_Abstractions = { 1 })\n"
      "SP 4 (file = res4.txt V0 = 3e6 A0 = 2e6 W0 = 400 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)\n"
      "SP 5 (file = res5.txt V0 = 0 A0 = 1e6 W0 = 380 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 900)\n";
  const std::string target = "ZL 1 = intern " + ChannelText(3000, 4) + "\n";
  const std::string outlet =
      "TG 3 (AE=60, AF=1.0)\nOL 1 " + ChannelText(8000, 10) + "\nOL 2 " + ChannelText(20000, 20) + "\n";
  return "TG 1 (AE=10, AF=1.0)\n" + (targetFirst ? target : source) + "TG 2 (AE=20, AF=1.0)\n" +
         (targetFirst ? source : target) + outlet + "end of the list\n";
}

const char* kTwoReservoirRules =
    "[abstraction_rule_reservoir_4]\n3 1\n0 0\n1e6 5\n1e8 50\n\n"
    "[abstraction_rule_reservoir_5]\n3 1\n0 0\n1e6 2\n1e8 40\n\n"
    "[abstraction_rule_abstraction_1]\n2 1\n0 0\n1e6 3\n"
    "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\nTargetCap = 1000\n\n";

}  // namespace

// Every m³ of runoff and of the first reservoir's volume leaves at the outlet or is still in
// a reservoir: only the last reservoir evaluates the rule and file abstractions, once per
// step, and what it gives them is what the inflow receives, in both orders of the
// descriptions.
TEST(RoutingAbstraction, TwoReservoirsInOneDescriptionDeliverWhatTheyGive) {
  for (bool targetFirst : {false, true}) {
    CapturedLog log;
    RoutingBasin b;
    const Prescription p;
    auto m = b.Start(b.Control(RoutingBasin::Settings("20 20 4 3"), TwoReservoirDescriptions(p.file, targetFirst)) +
                         kTwoReservoirRules,
                     log.log());
    const routingclass& source = *m->routingObjects[targetFirst ? 1 : 0];
    ASSERT_EQ(source.reservoirs.size(), 2u);
    const SP_class& first = *source.reservoirs[0];
    const SP_class& last = *source.reservoirs[1];
    const AL_class& rule = *source.abstractions[0];
    std::mt19937 rng(9);
    const double stored0 = first.state[0] + last.state[0];
    double in = 0.0, out = 0.0, drawn = 0.0;
    for (int h = 0; h < 3000; ++h) {
      in += 1e3 * PulseOfRunoff(b, rng, h);
      m->RunTimeStep(StepDate(h), 1, 1);
      out += 1e3 * m->input[3] * m->cellCounts[3] * m->cellCounts[0];
      ASSERT_EQ(first.Abstr.m3, 0.0) << h;
      ASSERT_NEAR(last.Abstr.m3, 3600.0 * rule.amount, 1e-9 * (1.0 + last.Abstr.m3)) << h;
      if (h < 50) {
        ASSERT_LE(rule.amount, 0.5 + 1e-12) << h;  // the file's value, or what the reservoir spares
      }
      drawn += last.Abstr.m3;
    }
    EXPECT_GT(drawn, 0.05 * (in + stored0)) << targetFirst;
    // The reservoirs and channels have drained.
    EXPECT_LT(first.state[0] + last.state[0], 1e-6 * stored0);
    EXPECT_NEAR(out + first.state[0] + last.state[0], in + stored0, 1e-9 * (in + stored0)) << targetFirst;
  }
}

// A warm start from the storage file written after N steps goes on as the run of 2N steps:
// the file abstraction finds its rows again at the warm run's first step, and the rule
// abstraction keeps nothing from step to step.
TEST(RoutingAbstraction, TwoReservoirsRestartFromTheStorageFileAsTheyRan) {
  const int N = 40;
  const Prescription p;
  CapturedLog log;
  RoutingBasin b;
  const std::string control =
      b.Control(RoutingBasin::Settings("20 20 4 3"), TwoReservoirDescriptions(p.file, false)) + kTwoReservoirRules;
  auto whole = b.Start(control, log.log());
  std::mt19937 rng(4);
  std::string atHalf;
  std::vector<std::vector<double>> runoff, expected;
  for (int h = 0; h < 2 * N; ++h) {
    if (h == N) atHalf = whole->StorageSectionText();
    PulseOfRunoff(b, rng, h);
    runoff.push_back(b.rows[0]);
    whole->RunTimeStep(StepDate(h), 1, 1);
    const routingclass& o = *whole->routingObjects[0];
    expected.push_back({whole->input[3], o.reservoirs[0]->state[0], o.reservoirs[1]->state[0], o.abstractions[0]->amount});
  }
  RoutingBasin b2;
  b2.start = StepDate(N);
  std::copy(runoff[N].begin(), runoff[N].end(), b2.rows[0].begin());
  auto warm = b2.Build(control, log.log());
  warm->readInitialStates = 1;
  warm->SetInputGridNames(0);
  warm->SetSubbasinRunoff(&b2.runoff);
  warm->InitRouting();
  warm->RestoreStorageSection(atHalf, "stored.txt");
  for (int h = N; h < 2 * N; ++h) {
    std::copy(runoff[static_cast<size_t>(h)].begin(), runoff[static_cast<size_t>(h)].end(), b2.rows[0].begin());
    warm->RunTimeStep(StepDate(h), 1, 1);
    const routingclass& o = *warm->routingObjects[0];
    const std::vector<double> got = {warm->input[3], o.reservoirs[0]->state[0], o.reservoirs[1]->state[0],
                                     o.abstractions[0]->amount};
    for (size_t k = 0; k < got.size(); ++k)
      ASSERT_NEAR(got[k], expected[static_cast<size_t>(h)][k], 1e-12 * (1.0 + std::fabs(got[k]))) << h << " " << k;
  }
}
