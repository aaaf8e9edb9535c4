// Reservoirs with abstractions and internal inflows across the start of a run: the start-up
// routing takes no abstraction, and a warm start from the storage file goes on exactly where
// the run stopped, also with water on its way to an internal inflow.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

// Inflow 1 of sub-basin 1 takes, by rule, from the reservoir at the outlet 3, whose
// description comes later (its water waits a step); sub-basin 1 gives half its outflow
// above 0.2 mm to inflow 2 of sub-basin 2, described later (the same step). Sub-basin 2
// ends in a reservoir; the outlet's reservoir also sends a tenth of its volume per step out
// of the model.
std::string TransferNetwork() {
  return "TG 1 (AE=10, AF=1.0)\n"
         "ZL 1 = intern " + ChannelText(3000, 4) + "\n"
         "AL 2 (mode = intern 0.2 0.5 1000 mm)\n"
         "TG 2 (AE=20, AF=1.0)\n"
         "ZL 2 = intern " + ChannelText(5000, 5) + "\n"
         "SP 4 (file = res4.txt V0 = 2e5 A0 = 2e6 W0 = 400 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)\n"
         "TG 3 (AE=60, AF=1.0)\n"
         "OL 1 " + ChannelText(8000, 10) + "\n"
         "OL 2 " + ChannelText(20000, 20) + "\n"
         "AL 1 (mode = intern_with_rule_from_reservoir)\n"
         "AL 3 (mode = extern taken.txt 0 0.1 1000 mm)\n"
         "SP 5 (file = res5.txt V0 = 3e6 A0 = 1e6 W0 = 380 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 900)\n"
         "end of the list\n"
         "[abstraction_rule_reservoir_4]\n3 1\n0 0\n1e6 5\n1e8 50\n\n"
         "[abstraction_rule_reservoir_5]\n3 1\n0 0\n1e6 2\n1e8 40\n\n"
         "[abstraction_rule_abstraction_1]\n2 1\n0 0\n1e6 3\n"
         "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\nTargetCap = 1000\n\n";
}

// Random runoff of step h, the same in every run.
void SetStepRunoff(RoutingBasin& b, int h) {
  std::mt19937 rng(static_cast<unsigned>(77 + h));
  std::uniform_real_distribution<double> u(0.0, 2.0);
  const double a = u(rng), c = u(rng), d = u(rng);
  b.SetRunoff(a, c, d);
}

std::string Control(const RoutingBasin& b) {
  return b.Control(RoutingBasin::Settings("1.0 100.0 10 2", "none 0"), TransferNetwork());
}

// What a step leaves behind: the discharge of every zone (inflow zones included) and the
// reservoirs' volumes, levels and outflows.
std::vector<double> Outputs(const abflussmodellklasse& m) {
  std::vector<double> v(m.input.begin() + 1, m.input.begin() + 3 + 2 + 1);
  for (const routingclass* o : m.routingObjects)
    for (const auto& sp : o->reservoirs) v.insert(v.end(), {sp->state[0], sp->W, sp->Qout});
  return v;
}

// The data rows of an output file from row `from` (0-based) on; its header rows are the
// lines that do not begin with the year.
std::vector<std::string> Rows(const std::string& path, size_t from) {
  std::istringstream in(ReadTextFile(path));
  std::vector<std::string> rows;
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("2001", 0) == 0) rows.push_back(line);
  return std::vector<std::string>(rows.begin() + static_cast<long>(std::min(from, rows.size())), rows.end());
}

TEST(RoutingWarmStart, TheStartUpRoutingTakesNoAbstraction) {
  CapturedLog log;
  RoutingBasin b;
  b.SetRunoff(1.0, 1.0, 1.0);
  auto m = b.Start(Control(b), log.log());
  ASSERT_NE(log.console().find("routing the initialization discharges ("), std::string::npos) << log.console();
  ASSERT_EQ(log.console().find("routing the initialization discharges (1 times)"), std::string::npos);
  // The outlet's reservoir still holds what it started with, and no inflow zone holds water
  // made from start-up discharges.
  const routingclass& outlet = *m->routingObjects[2];
  EXPECT_EQ(outlet.reservoirs[0]->state[0], 3e6);
  EXPECT_EQ(m->routingObjects[1]->reservoirs[0]->state[0], 2e5);
  EXPECT_EQ(m->input[3 + 1], 0.0);
  EXPECT_EQ(m->input[3 + 2], 0.0);
  // The first step takes the abstractions.
  m->RunTimeStep(StepDate(0), 1, 1);
  EXPECT_GT(outlet.abstractions[1]->amount + outlet.abstractionResult, 0.0);
}

// 2N steps against N steps, the storage file, and N more steps: every zone's discharge, the
// reservoirs' states and outputs, the abstraction's output file and the state at the end.
TEST(RoutingWarmStart, GoesOnExactlyWithWaterOnItsWayToAnInternalInflow) {
  const int N = 30;
  CapturedLog log;
  RoutingBasin whole;
  SetStepRunoff(whole, 0);
  auto m = whole.Start(Control(whole), log.log());
  std::vector<std::vector<double>> expected;
  std::string atHalf;
  for (int h = 0; h < 2 * N; ++h) {
    if (h == N) atHalf = m->StorageSectionText();
    SetStepRunoff(whole, h);
    m->RunTimeStep(StepDate(h), 1, 1);
    expected.push_back(Outputs(*m));
  }
  ASSERT_NE(atHalf.find("1 (transfers on their way to internal inflows)\n1 "), std::string::npos) << atHalf;
  ASSERT_EQ(atHalf.find("1 (transfers on their way to internal inflows)\n1 0 "), std::string::npos)
      << "water should be on its way at the half";

  RoutingBasin half;
  SetStepRunoff(half, N);
  auto warm = half.Build(Control(half), log.log());
  warm->readInitialStates = 1;
  warm->SetSubbasinRunoff(&half.runoff);
  warm->InitRouting();
  warm->RestoreStorageSection(atHalf, "stored.txt");
  warm->SetRunFlag(1);
  ASSERT_EQ(warm->StorageSectionText(), atHalf);
  for (int h = N; h < 2 * N; ++h) {
    SetStepRunoff(half, h);
    warm->RunTimeStep(StepDate(h), 1, 1);
    const std::vector<double> got = Outputs(*warm);
    for (size_t k = 0; k < got.size(); ++k)
      ASSERT_NEAR(got[k], expected[static_cast<size_t>(h)][k], 1e-12 * std::fabs(expected[static_cast<size_t>(h)][k]))
          << "step " << h << ", value " << k;
  }
  EXPECT_EQ(warm->StorageSectionText(), m->StorageSectionText());
  m->WriteStatistics();
  warm->WriteStatistics();
  for (const char* file : {"taken.txt", "res4.txt", "res5.txt"}) {
    const std::vector<std::string> second = Rows(whole.dir.file(file), N);
    ASSERT_EQ(second.size(), static_cast<size_t>(N)) << file;
    EXPECT_EQ(Rows(half.dir.file(file), 0), second) << file;
  }
}

// A file of the layout before the translations and transfers were kept still reads: each
// sub-channel's translation is taken from its queue, no water waits, and one INFO line says
// what was not there.
TEST(RoutingWarmStart, OlderFilesWithoutTranslationsAndTransfersStillRead) {
  CapturedLog log;
  RoutingBasin b;
  SetStepRunoff(b, 0);
  auto m = b.Start(Control(b), log.log());
  for (int h = 0; h < 10; ++h) {
    SetStepRunoff(b, h);
    m->RunTimeStep(StepDate(h), 1, 1);
  }
  std::istringstream in(m->StorageSectionText());
  std::string older, line;
  bool skip = false;
  while (std::getline(in, line)) {
    if (line.find("(transfers on their way") != std::string::npos) skip = true;
    if (line.empty()) skip = false;
    if (!skip && line.find(".translation[subchannel") == std::string::npos) older += line + "\n";
  }
  CapturedLog l;
  auto warm = b.Build(Control(b), l.log());
  warm->readInitialStates = 1;
  warm->SetSubbasinRunoff(&b.runoff);
  warm->InitRouting();
  warm->RestoreStorageSection(older, "older.txt");
  const std::string& text = l.console();
  const size_t info = text.find("the routing section of older.txt does not hold");
  ASSERT_NE(info, std::string::npos) << text;
  EXPECT_EQ(text.find("the routing section of", info + 1), std::string::npos) << "one INFO line";
  EXPECT_NE(text.find("the translations of the sub-channels", info), std::string::npos);
  EXPECT_NE(text.find("the transfers on their way to internal inflows (taken as 0)", info), std::string::npos);
  EXPECT_EQ(warm->input[3 + 1], 0.0);
  for (const routingclass* o : warm->routingObjects)
    for (const ChannelTable& c : o->channels)
      for (int k = 1; k <= c.subchannels; ++k) {
        const int d = c.lastSlot[static_cast<size_t>(k)] - ((k - 1) * c.BlockSize() + c.subint);
        EXPECT_TRUE(d >= 0 && d <= c.delta[1]) << d;
      }
}

}  // namespace
