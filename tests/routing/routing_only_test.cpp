// Routing alone: the runoff comes from the total-runoff statistics file of a former run,
// whose rows are the clock; a missing file, a wrong column count and a start date that the
// file does not hold end the run with their codes.
#include <gtest/gtest.h>

#include "routing/routingclass.h"
#include "routing_fixture.h"

namespace {

// The soil model's section up to its total-runoff line (the file that routing reads).
std::string SoilSection(const std::string& totalRunoffFile) {
  std::string s = "\n[soil_model]\n1  # flow control\n60  # interval\n1  # method\n";
  for (int k = 0; k < 17; ++k) s += (k % 2 ? "0" : "grid.asc") + std::string("  # grid\n");
  for (const char* f : {"QD.stat", "QI.stat", "QB.stat", "QBB.stat"}) s += std::string(f) + " 0  # statistics\n";
  return s + totalRunoffFile + " 2001  # total runoff\nSB.stat 0\n";
}

// Rows of the statistics file: the hours given on 2001-01-01 with runoff h/10, h/5 and h/2.
std::string TotalRunoff(const std::vector<int>& hours, int columns = 4) {
  std::string t = "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\t\"3\"\ttot_average\ntitle_submodel:soil_model\n"
                  "--\t--\t--\t--\t0.1\t0.3\t0.6\t1.0\n";
  for (int h : hours) {
    t += "2001\t 1\t 1\t" + std::to_string(h);
    const double v[4] = {h / 10.0, h / 5.0, h / 2.0, h / 3.0};
    for (int c = 0; c < columns; ++c) t += "\t" + std::to_string(v[c]);
    t += "\n";
  }
  return t;
}

TEST(RoutingOnly, RoutesTheFormerRunsRunoffFromTheStartDateOnLikeTheSoilRecord) {
  CapturedLog log;
  RoutingBasin alone;
  alone.routingOnly = true;
  WriteTextFile(alone.dir.file("Qg.stat"), TotalRunoff({0, 1, 2, 3, 4, 5}));
  const std::string control = alone.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()) + SoilSection("Qg.stat");
  auto m = alone.Build(control, log.log());
  m->SetSubbasinRunoff(nullptr);
  m->InitRouting();
  m->SetRunFlag(1);
  EXPECT_NE(log.console().find("looking for starting date in " + alone.dir.file("Qg.stat")), std::string::npos);

  // The same runoff handed as the soil model's record.
  RoutingBasin soil;
  soil.SetRunoff(0.1, 0.2, 0.5);
  auto reference = soil.Start(soil.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()), log.log());
  for (int h = 1; h <= 5; ++h) {
    ModelDate d;
    m->GetCurrentTime(d.minute, d.hour, d.day, d.month, d.year);
    EXPECT_EQ(d.Key(), (ModelDate{0, h, 1, 1, 2001}).Key());
    EXPECT_EQ(m->IsEndOfPeriod(), 0) << h;  // the end date is a year later
    soil.SetRunoff(h / 10.0, h / 5.0, h / 2.0);
    m->RunTimeStep(d, 1, 1);
    reference->RunTimeStep(d, 1, 1);
    for (int z = 1; z <= 3; ++z) EXPECT_EQ(m->input[z], reference->input[z]) << h;
    m->ReadNextRecord();
  }
  EXPECT_EQ(m->IsEndOfPeriod(), 1);  // read past the last row
}

TEST(RoutingOnly, AFileThatCannotServeEndsTheRunWithItsCode) {
  struct Case {
    const char* name;
    std::string file;  // empty: none
    int code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing", "", 1400, "can only be done with valid input data as result of a former model run"},
      {"one column short", TotalRunoff({1, 2}, 3), 1410, "number of expected columns in "},
      {"ends before the start", TotalRunoff({0}), 1420,
       "error looking for start date 2001-01-01 01:00 (run into error at actual position: 2001-01-01 00:00) in "},
      {"another minute", [] {
         std::string t = TotalRunoff({});
         t.replace(t.find("HH\t"), 3, "HH\tmm\t");
         return t + "2001\t1\t1\t1\t30\t1\t2\t3\t6\n";
       }(),
       1420, "(run into error at actual position: 2001-01-01 01:30)"},
  };
  for (const Case& c : cases) {
    CapturedLog log;
    RoutingBasin b;
    b.routingOnly = true;
    if (!c.file.empty()) WriteTextFile(b.dir.file("Qg.stat"), c.file);
    auto m = b.Build(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()) + SoilSection("Qg.stat"), log.log());
    EXPECT_EQ(ThrownCode([&] { m->SetSubbasinRunoff(nullptr); }), c.code) << c.name;
    EXPECT_NE(log.console().find(c.message), std::string::npos) << c.name << "\n" << log.console();
  }
}

// A row of the former run's file that cannot be read past the first block ends the run
// (1400) naming its line when the start-up search or a step needs it, instead of ending the
// period there; one after the end date is not needed.
TEST(RoutingOnly, ARowThatCannotBeReadPastTheFirstBlockEndsTheRun) {
  const SmallTableBlocks blocks(96);  // two rows of four columns
  const struct {
    const char* what;
    std::string file;
    int goodReads;  // -1: the start-up fails
    int code;
    const char* place;
  } cases[] = {
      {"a step", TotalRunoff({0, 1, 2, 3}) + "2001\t1\t1\t4\t1\tx\t1\t1\n", 2, 1400, "line 8, column 6: \"x\""},
      {"the search for the start", "2000 1 1 1 1 1 1 1\n2000 1 1 2 1 1 1 1\n2000 1 1 3 1 1 1 1\n2000 1 x", -1, 1400,
       "line 4, column 3"},
      {"after the end date", "2001 1 1 1 1 1 1 1\n2002 1 1 1 1 1 1 1\n2002 1 1 2 1 x 1 1\n", 1, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CapturedLog log;
    RoutingBasin b;
    b.routingOnly = true;
    WriteTextFile(b.dir.file("Qg.stat"), c.file);
    auto m = b.Build(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()) + SoilSection("Qg.stat"), log.log());
    const int code = ThrownCode([&] {
      m->SetSubbasinRunoff(nullptr);
      for (int k = 0; k < c.goodReads; ++k) m->ReadNextRecord();
      EXPECT_GE(c.goodReads, 0);
      EXPECT_EQ(m->IsEndOfPeriod(), c.code == 0);
      m->ReadNextRecord();
    });
    EXPECT_EQ(code, c.code);
    EXPECT_NE(log.console().find(c.place), std::string::npos) << log.console();
  }
}

}  // namespace
