// Comparison with observed discharge: the efficiency sums of every time shift against an
// independent two-pass computation (tests/data/routing/efficiency_reference.py).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "routing_fixture.h"

namespace {

std::string DataFile(const std::string& name) { return std::string(ORVEL_TEST_DATA) + "/routing/" + name; }

TEST(RoutingEfficiency, MatchesTheTwoPassReference) {
  CapturedLog log;
  RoutingBasin b;
  std::vector<double> simulated;
  {
    std::ifstream in(DataFile("efficiency_simulated.txt"));
    for (double x; in >> x;) simulated.push_back(x);
  }
  ASSERT_EQ(simulated.size(), 40u);
  b.SetRunoff(simulated[0], 0, 0);
  const std::string settings =
      RoutingBasin::Settings("1 100 10 1", "qstat.txt 2001", DataFile("efficiency_observed.txt"), "1\n1 1");
  auto m = b.Start(b.Control(settings, "TG 1 (AE=10, AF=1)\nend\n"), log.log());
  ASSERT_TRUE(m->observed != nullptr) << log.console();
  for (size_t t = 0; t < simulated.size(); ++t) {
    b.SetRunoff(simulated[t], 0, 0);
    m->RunTimeStep(StepDate(static_cast<int>(t)), 1, 1);
    // The output record carries the observation of the step itself.
    EXPECT_DOUBLE_EQ(m->statistics->ObservedValues()[1], m->window[9][1]) << t;
  }
  std::ifstream expected(DataFile("efficiency_expected.txt"));
  std::string line;
  std::getline(expected, line);
  int rows = 0;
  while (std::getline(expected, line)) {
    std::istringstream f(line);
    int shift;
    double linR2, logR2, linCv, logCv;
    f >> shift >> linR2 >> logR2 >> linCv >> logCv;
    const EfficiencyRecord& lin = m->linearSums[static_cast<size_t>(shift + 10)][1];
    const EfficiencyRecord& lg = m->logSums[static_cast<size_t>(shift + 10)][1];
    EXPECT_NEAR(EfficiencyRSquare(lin), linR2, 1e-10) << "shift " << shift;
    EXPECT_NEAR(EfficiencyRSquare(lg), logR2, 1e-10) << "shift " << shift;
    EXPECT_NEAR(EfficiencyCoefficientOfVariation(lin), linCv, 1e-10) << "shift " << shift;
    EXPECT_NEAR(EfficiencyCoefficientOfVariation(lg), logCv, 1e-10) << "shift " << shift;
    ++rows;
  }
  EXPECT_EQ(rows, 21);
  m.Release();
  const std::string text = ReadTextFile(b.dir.file("qstat.txt"));
  EXPECT_NE(text.find("LIN. R-SQUARE\t0"), std::string::npos);
}

TEST(RoutingEfficiency, MissingObservedFileMeansNoComparison) {
  CapturedLog log;
  RoutingBasin b;
  const std::string settings = RoutingBasin::Settings("1 100 10 1", "qstat.txt 2001", "absent.txt", "1\n1 1");
  auto m = b.Start(b.Control(settings, "TG 1 (AE=10, AF=1)\nend\n"), log.log());
  EXPECT_EQ(m->observed, nullptr);
  EXPECT_NE(log.console().find("Routing will be done without comparison to observed discharge data!"),
            std::string::npos);
  m->RunTimeStep(StepDate(0), 1, 1);
  m.Release();
  EXPECT_EQ(ReadTextFile(b.dir.file("qstat.txt")).find("R-SQUARE"), std::string::npos);
}

// A descriptor naming a column the file does not have is named at the start: the outlet
// is compared with nothing, and its block holds 1.00 as one without observations.
TEST(RoutingEfficiency, ADescriptorBeyondTheFilesColumnsIsNamed) {
  CapturedLog log;
  RoutingBasin b;
  const std::string settings =
      RoutingBasin::Settings("1 100 10 1", "qstat.txt 2001", DataFile("efficiency_observed.txt"), "1\n1 2");
  auto m = b.Start(b.Control(settings, "TG 1 (AE=10, AF=1)\nend\n"), log.log());
  ASSERT_TRUE(m->observed != nullptr) << log.console();
  EXPECT_EQ(m->observedColumn[1], 0);
  EXPECT_NE(log.console().find("[routing_model]: the column descriptor of sub-basin 1 names column 2 of the observed "
                               "discharge file " + DataFile("efficiency_observed.txt") + ", which has 1 value column "
                               "(counted from 1 behind the date fields)"),
            std::string::npos)
      << log.console();
  for (int t = 0; t < 5; ++t) m->RunTimeStep(StepDate(t), 1, 1);
  m.Release();
  EXPECT_NE(ReadTextFile(b.dir.file("qstat.txt")).find("LIN. R-SQUARE\t0\t1.0"), std::string::npos);
}

}  // namespace

namespace {

// Flow control 2: where sub-basin 1 has an observed column, its channel carries the
// observation of the step (mm per step) in place of the routed runoff.
TEST(RoutingEfficiency, ObservedDischargeReplacesTheTributaryRunoff) {
  CapturedLog log;
  RoutingBasin b;
  std::string observed = "YY\tMM\tDD\tHH\tQ1\n";
  for (int h = 1; h <= 200; ++h)
    observed += "2001\t1\t" + std::to_string(1 + h / 24) + "\t" + std::to_string(h % 24) + "\t0.8\n";
  WriteTextFile(b.dir.file("observed.txt"), observed);
  b.SetRunoff(0.2, 0.2, 0.2);
  const std::string settings =
      RoutingBasin::Settings("20 20 4 1", "q.txt 0", b.dir.file("observed.txt"), "1\n1 1");
  auto m = b.Start(b.Control(settings, ThreeBasinDescriptions(), 0, 2), log.log());
  EXPECT_EQ(m->replacementMode, 1);
  for (int h = 0; h < 150; ++h) m->RunTimeStep(StepDate(h), 1, 1);
  // Outlet: 10 cells at 0.8 and 50 at 0.2 over 60 cells.
  EXPECT_NEAR(m->input[3], (10 * 0.8 + 50 * 0.2) / 60.0, 1e-9);
}

// A row of the observed discharge that cannot be read past the first block ends the run
// (203) naming its line, when the start-up search or a step's window reaches it.
TEST(RoutingEfficiency, ObservedRowThatCannotBeReadPastTheFirstBlockIsNamed) {
  const SmallTableBlocks blocks(48);  // two rows of one column; each broken row ends a block
  std::string good = "YY\tMM\tDD\tHH\tQ1\n";
  for (int h = 1; h <= 13; ++h) good += "2001\t1\t1\t" + std::to_string(h) + "\t0.8\n";
  const struct {
    const char* what;
    std::string text;
    int goodSteps;  // -1: the construction fails
    const char* place;
  } cases[] = {
      {"a step", good + "2001\t1\t1\t14\tn/a\n", 2, "at row 13 or before"},
      {"the search for the start", "2000 1 1 1 1\n2000 1 1 2 1\n2000 1 1 3 1\n2000 1 1 4 n/a\n", -1,
       "at row 3 or before"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CapturedLog log;
    RoutingBasin b;
    WriteTextFile(b.dir.file("observed.txt"), c.text);
    const std::string settings = RoutingBasin::Settings("1 100 10 1", "q.txt 0", b.dir.file("observed.txt"), "1\n1 1");
    const int code = ThrownCode([&] {
      auto m = b.Start(b.Control(settings, ThreeBasinDescriptions()), log.log());
      for (int h = 0; h < c.goodSteps; ++h) m->RunTimeStep(StepDate(h), 1, 1);
      EXPECT_GE(c.goodSteps, 0);
      m->RunTimeStep(StepDate(c.goodSteps), 1, 1);
    });
    EXPECT_EQ(code, 203);
    EXPECT_NE(log.console().find(c.place), std::string::npos) << log.console();
    EXPECT_NE(log.console().find("\"n/a\" is no number"), std::string::npos);
  }
}

// The level-discharge tables are only a view for the user: a table file that cannot be
// written is a warning, and the run goes on.
TEST(RoutingEfficiency, UnwritableTableFileOnlyWarns) {
  CapturedLog log;
  RoutingBasin b;
  std::string control = b.Control(RoutingBasin::Settings("1 100 10 1", "q.txt 0"), ThreeBasinDescriptions());
  WriteTextFile(b.dir.file("wq_table.001"), "");
  std::filesystem::remove(b.dir.file("wq_table.001"));
  std::filesystem::create_directory(b.dir.file("wq_table.001"));  // a folder in the file's place
  auto m = b.Start(control, log.log());
  EXPECT_EQ(m->routingObjects.size(), 3u);
  EXPECT_NE(log.console().find("error opening file " + b.dir.file("wq_table.001")), std::string::npos);
  EXPECT_FALSE(ReadTextFile(b.dir.file("wq_table.002")).empty());
}

}  // namespace
