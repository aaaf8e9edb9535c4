// The routing part of the storage file: a warm start goes on exactly where the run
// stopped, older and resampled layouts are read, and a damaged file stops the run (71)
// without touching the state.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <sstream>

#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "routing/routing_state.h"
#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

// 1 and 2 join into 3 at its upper end; 1 has a constant inflow of its own.
std::string JoinedDescriptions() {
  return "TG 1 (AE=10, AF=1.0)\n"
         "ZL 1 = constant 0.5 " + ChannelText(3000, 4) + "\n"
         "TG 2 (AE=20, AF=1.0)\n"
         "TG 3 (AE=60, AF=1.0)\n"
         "SUMTRIB 1&2 " + ChannelText(15000, 30) + "\n"
         "end of the list\n";
}

std::string Control(const RoutingBasin& b, const std::string& descriptions, const std::string& range = "1.0 3000.0 20 2",
                    int interval = 60) {
  std::string c = b.Control(RoutingBasin::Settings(range, "none 0"), descriptions);
  const std::string line = "60  # interval";
  c.replace(c.find(line), line.size(), std::to_string(interval) + "  # interval");
  return c;
}

// Random runoff of step h, the same in every run.
void SetStepRunoff(RoutingBasin& b, int h) {
  std::mt19937 rng(static_cast<unsigned>(1000 + h));
  std::uniform_real_distribution<double> u(0.0, 4.0);
  const double a = u(rng), c = u(rng), d = u(rng);
  b.SetRunoff(a, c, d);
}

// Steps from..to - 1 with the runoff of each step.
void RunSteps(RoutingBasin& b, abflussmodellklasse& m, int from, int to) {
  for (int h = from; h < to; ++h) {
    SetStepRunoff(b, h);
    m.RunTimeStep(StepDate(h), 1, 1);
  }
}

// Builds a module that starts from the stored text instead of the initialisation routing.
ModuleOwner<abflussmodellklasse> StartWarm(RoutingBasin& b, const std::string& control, const std::string& text,
                                           LogStream& log) {
  auto m = b.Build(control, log);
  m->readInitialStates = 1;
  m->SetSubbasinRunoff(&b.runoff);
  m->InitRouting();
  m->RestoreStorageSection(text, "stored.txt");
  m->SetRunFlag(1);
  return m;
}

TEST(RoutingState, WarmStartGoesOnExactlyAndWritesBackByteForByte) {
  const int N = 40;
  CapturedLog log;
  RoutingBasin b;
  const std::string control = Control(b, JoinedDescriptions());
  SetStepRunoff(b, 0);
  auto whole = b.Start(control, log.log());
  std::vector<std::vector<double>> expected;
  std::string atHalf;
  for (int h = 0; h < 2 * N; ++h) {
    if (h == N) atHalf = whole->StorageSectionText();
    SetStepRunoff(b, h);
    whole->RunTimeStep(StepDate(h), 1, 1);
    expected.push_back({whole->input[1], whole->input[2], whole->input[3]});
  }

  RoutingBasin b2;
  SetStepRunoff(b2, N);
  auto warm = StartWarm(b2, control, atHalf, log.log());
  EXPECT_EQ(warm->StorageSectionText(), atHalf);
  EXPECT_EQ(log.console().find("routing the initialization discharges", log.console().rfind("number reservoirs")),
            std::string::npos);
  for (int h = N; h < 2 * N; ++h) {
    SetStepRunoff(b2, h);
    warm->RunTimeStep(StepDate(h), 1, 1);
    for (int z = 1; z <= 3; ++z)
      ASSERT_NEAR(warm->input[z], expected[h][z - 1], 1e-12 * std::fabs(expected[h][z - 1])) << "step " << h;
  }
  // The part is laid out as its readers expect it.
  EXPECT_EQ(atHalf.rfind("[routing_model_v2]\n60.000 (timestep in minutes)\n1 (routing subbasin with tributaries)\n", 0),
            0u);
  EXPECT_NE(atHalf.find("\n0 4 2 "), std::string::npos);  // inflow 1 is zone 3 + 1
  EXPECT_NE(atHalf.find(" (tracer/flow index and external inflow, subint, maxdelta, num-subchannels)\n"),
            std::string::npos);
  EXPECT_NE(atHalf.find("(wqtab[local tributary 1].Qaus[subchannel 1][1..2])\n"), std::string::npos);
  EXPECT_NE(atHalf.find("0 (number of reservoirs)\n\n0 (transfers on their way to internal inflows)\n\n"),
            std::string::npos);
}

TEST(RoutingState, VersionOneFilesReadWithTheModelsOwnLayoutAndStep) {
  CapturedLog log;
  RoutingBasin b;
  const std::string control = Control(b, ThreeBasinDescriptions());
  SetStepRunoff(b, 0);
  auto m = b.Start(control, log.log());
  RunSteps(b, *m, 0, 10);
  const std::string v2 = m->StorageSectionText();
  // The older layout: its own header, no time step line, no layout fields.
  std::istringstream in(v2);
  std::string line, v1;
  while (std::getline(in, line)) {
    if (line == "[routing_model_v2]") line = "[routing_model]";
    if (line.find("(timestep in minutes)") != std::string::npos) continue;
    const size_t p = line.find(" (tracer/flow index");
    if (p != std::string::npos) {
      std::istringstream h(line);
      int t, sub;
      h >> t >> sub;
      line = std::to_string(t) + " " + std::to_string(sub) + line.substr(p);
    }
    v1 += line + "\n";
  }
  RoutingBasin b2;
  auto warm = StartWarm(b2, control, "[soil_model]\n1\n" + v1, log.log());
  EXPECT_EQ(warm->StorageSectionText(), v2);
}

// A state stored with a 30-minute step and two sub-intervals read by a model of 60 minutes
// and three: the layouts differ, every value is averaged over its stored line and scaled to
// the longer step, so a steady state stays steady at the doubled depth.
TEST(RoutingState, AnotherStepAndLayoutIsResampledChannelByChannel) {
  CapturedLog log;
  RoutingBasin b(30);
  b.SetRunoff(0.4, 0.4, 0.4);
  auto m = b.Start(Control(b, ThreeBasinDescriptions(), "1.0 3000.0 20 2", 30), log.log());
  for (int h = 0; h < 5; ++h) m->RunTimeStep(StepDate(h), 1, 1);
  const std::string stored = m->StorageSectionText();

  RoutingBasin b2;
  b2.SetRunoff(0.8, 0.8, 0.8);
  const std::string control = Control(b2, ThreeBasinDescriptions(), "1.0 3000.0 20 3");
  auto warm = StartWarm(b2, control, stored, log.log());
  const ChannelTable& c = warm->routingObjects[2]->channels[1];
  ASSERT_NE(c.subint, m->routingObjects[2]->channels[1].subint);
  for (int k = 1; k <= c.subint + c.storageElements; ++k) EXPECT_NEAR(c.queue[k], 0.8, 1e-12) << k;
  for (int s = 1; s <= c.subchannels; ++s) EXPECT_NEAR(c.Qaus(s, 1), 0.8, 1e-12);
  for (int h = 0; h < 20; ++h) {
    warm->RunTimeStep(StepDate(h), 1, 1);
    EXPECT_NEAR(warm->input[3], 0.8, 1e-9) << h;
  }
}

TEST(RoutingState, SubchannelsOfAStoredItemAreSpreadOverTheOwnOnes) {
  // Two stored sub-channels over five own ones: items cover 1..2 and 3..5; over one own
  // sub-channel the two stored values are averaged.
  RoutingBasin b;
  CapturedLog log;
  auto m = b.Start(Control(b, ThreeBasinDescriptions()), log.log());
  ChannelTable& c = m->routingObjects[2]->channels[0];
  const std::string text = "0 1 1 0 2 (x)\n1\n2\n4\n7 (Qaus)\n0.1 (qvzuq)\n9 (Qaus)\n0.3 (qvzuq)\n";
  for (int own : {5, 1}) {
    ChannelTable t = c;
    t.subint = 1;
    t.delta.assign(t.delta.size(), 0);
    t.deltaMax = 0;
    t.subchannels = own;
    t.storageElements = own;
    t.queue.assign(t.storageElements + 3, -1.0);
    t.qaus.assign(static_cast<size_t>(own + 1) * 2, -1.0);
    t.qvzuq.assign(own + 1, -1.0);
    TextCursor f(text);
    StateReader r(f, "x", &log.log());
    for (int k = 0; k < 5; ++k) r.Int("header");
    r.SkipLine();
    m->routingObjects[2]->ResampleSubchannels(r, t, 1, 0, 2, 60.0);
    EXPECT_EQ(t.queue[1], 1.0);
    if (own == 5) {
      EXPECT_EQ(std::vector<double>(t.queue.begin() + 2, t.queue.begin() + 7), std::vector<double>({2, 2, 4, 4, 4}));
      EXPECT_EQ(t.Qaus(2, 1), 7.0);
      EXPECT_EQ(t.Qaus(3, 1), 9.0);
      EXPECT_EQ(t.qvzuq[5], 0.3);
    } else {
      EXPECT_EQ(t.queue[2], 3.0);
      EXPECT_EQ(t.Qaus(1, 1), 8.0);
      EXPECT_NEAR(t.qvzuq[1], 0.2, 1e-15);
    }
  }
}

TEST(RoutingState, EveryDamagedPartStopsTheRunWithItsPositionAndKeepsTheState) {
  CapturedLog log;
  RoutingBasin b;
  const std::string control = Control(b, JoinedDescriptions());
  SetStepRunoff(b, 0);
  auto m = b.Start(control, log.log());
  RunSteps(b, *m, 0, 5);
  const std::string good = m->StorageSectionText();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const size_t p = t.find(from);
    EXPECT_NE(p, std::string::npos) << from;
    return t.replace(p, from.size(), to);
  };
  const std::string firstHeader = good.substr(good.find("\n0 ") + 1, good.find(" (tracer") - good.find("\n0 ") - 1);
  std::istringstream h(firstHeader);
  int t, sub, si, md, nc;
  h >> t >> sub >> si >> md >> nc;
  const std::string layout = std::to_string(si) + " " + std::to_string(md) + " ";
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no section", "[soil_model]\n3\n", "error looking for the section [routing_model_v2] or [routing_model]"},
      {"zero stored step", replaced("60.000 (timestep", "0 (timestep"), "stored time step (0 minutes"},
      {"no stored step", replaced("60.000 (timestep", "(timestep"), "error reading the stored time step"},
      {"zero sub-channels", replaced(firstHeader, "0 4 " + layout + "0"), "must be at least 1"},
      {"wrong sub-basin", replaced("1 (routing subbasin", "2 (routing subbasin"), "subbasin code (expected 1, read 2)"},
      {"wrong tracer", replaced(firstHeader, "1 4 " + layout + std::to_string(nc)), "tracer code (expected 0, read 1)"},
      {"objects in another order", replaced("[routing_model_v2]\n60.000 (timestep in minutes)\n1 (routing",
                                            "[routing_model_v2]\n60.000 (timestep in minutes)\n2 (routing"),
       "subbasin code"},
      {"damaged value", replaced("\n0 (wqtab[inflow 1].qvzuq", "\nx (wqtab[inflow 1].qvzuq"),
       "error reading flood-plain share"},
      {"reservoirs", replaced("0 (number of reservoirs)", "1 (number of reservoirs)"), "reservoir code"},
  };
  const std::string before = m->StorageSectionText();
  for (const Case& c : cases) {
    CapturedLog l;
    m->log = &l.log();
    EXPECT_EQ(ThrownCode([&] { m->RestoreStorageSection(c.text, "stored.txt"); }), 71) << c.name;
    EXPECT_NE(l.console().find(c.message), std::string::npos) << c.name << "\n" << l.console();
    if (c.text.find("[routing_model") != std::string::npos) {
      EXPECT_NE(l.console().find("in file stored.txt (position "), std::string::npos) << c.name;
    }
    EXPECT_EQ(m->StorageSectionText(), before) << c.name;
  }
  m->log = &log.log();  // the logs of the cases are gone
  // Cut anywhere before its last line, the part is refused.
  const size_t last = good.rfind(" (transfers on their way to internal inflows)") + 20;
  for (size_t cut = 0; cut < last; cut += 13) {
    ASSERT_EQ(ThrownCode([&] { m->RestoreStorageSection(good.substr(0, cut), "stored.txt"); }), 71) << cut;
    ASSERT_EQ(m->StorageSectionText(), before);
  }
}

// The end of a run holds the part to the ranges its reader holds it to: a flow of 1,000 km
// in a translation queue is not written where the next warm start would refuse it; the run
// fails naming it and leaves the earlier state.
TEST(RoutingState, AValueBeyondTheRangeAWarmStartReadsIsNotWritten) {
  CapturedLog log;
  RoutingBasin b;
  SetStepRunoff(b, 0);
  const std::string control = Control(b, ThreeBasinDescriptions());
  WriteTextFile(b.dir.file("state.txt"), "the earlier state\n");
  StorageFile storage;
  storage.BeginRun();
  auto m = b.Start(control, log.log());
  m->storage = &storage;
  m->ReadStorageFile("state.txt", 0);
  for (int h = 0; h < 3; ++h) m->RunTimeStep(StepDate(h), 1, 1);
  m->routingObjects.back()->channels.front().queue[1] = 2e9;
  m.Release();
  EXPECT_EQ(storage.Commit(&log.log()), 1);
  EXPECT_NE(log.console().find("would hold 2e+09 as the translation queue of local tributary 1 in its part "
                               "[routing_model_v2]: above 1e9; no river carries that much, and a warm start would "
                               "refuse it"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(ReadTextFile(b.dir.file("state.txt")), "the earlier state\n");
}

TEST(RoutingState, TheFileIsNamedByTheSoilModelAndReadOnlyForReadFlagsThatAskForIt) {
  struct Flag {
    const char* name;
    int flag;
    bool reads;
  };
  for (const Flag& f : {Flag{"s.txt", 0, false}, Flag{"s.txt", 1, true}, Flag{"s.txt", 2, false},
                        Flag{"s.txt", 3, true}, Flag{"s.txt", 4, false}, Flag{"", 1, false}, Flag{nullptr, 1, false}})
    EXPECT_EQ(abflussmodellklasse::ReadsStoredState(f.name, f.flag), f.reads) << f.flag;

  CapturedLog log;
  RoutingBasin b;
  SetStepRunoff(b, 0);
  const std::string control = Control(b, ThreeBasinDescriptions());
  StorageFile storage;
  auto m = b.Start(control, log.log());
  m->storage = &storage;
  m->ReadStorageFile("state.txt", 0);  // keeps the name only
  for (int h = 0; h < 3; ++h) m->RunTimeStep(StepDate(h), 1, 1);
  const std::string text = m->StorageSectionText();
  m.Release();
  // The record of the end state closes the file, as at the end of a run.
  const ModelDate date{0, 3, 1, 1, 1985};
  ASSERT_EQ(storage.Commit(&log.log(), &date), 0);
  EXPECT_EQ(ReadTextFile(b.dir.file("state.txt")).rfind(text + "[end_state]\n", 0), 0u);

  // Read back from the initial-state directory; flag 2 reads nothing, not even a missing file.
  auto warm = b.Build(control, log.log());
  warm->output.initialStateDirectory = b.dir.path() + "/";
  warm->SetSubbasinRunoff(&b.runoff);
  warm->InitRouting();
  warm->ReadStorageFile("no-such-file.txt", 2);
  warm->ReadStorageFile("state.txt", 1);
  EXPECT_EQ(warm->StorageSectionText(), text);
  EXPECT_EQ(ThrownCode([&] { warm->ReadStorageFile("no-such-file.txt", 3); }), 64);
  EXPECT_NE(log.console().find("error opening storage content file "), std::string::npos);

  // Without a name the part goes to "storage.ftz".
  StorageFile unnamed;
  auto other = b.Start(control, log.log());
  other->storage = &unnamed;
  other.Release();
  ASSERT_EQ(unnamed.Commit(&log.log()), 0);
  EXPECT_EQ(ReadTextFile(b.dir.file("storage.ftz")).rfind("[routing_model_v2]\n", 0), 0u);
}

}  // namespace
