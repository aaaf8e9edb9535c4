// Abstractions: the entry of every mode, the amount of each mode, rule tables with their
// caps and windows, input files with missing values and dates, the output file, and the
// abstractions that draw on a reservoir.
#include <gtest/gtest.h>

#include <functional>

#include "framework/text_helpers.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"
#include "support/test_support.h"

namespace {

int Code(const std::function<void()>& f) {
  try {
    f();
  } catch (int code) {
    return code;
  }
  return 0;
}

// An abstraction of a 36 km² object with hourly steps (1 m³/s = 0.1 mm per step).
struct AbstractionBench {
  CapturedLog log;
  TempDir dir;
  StepDate start{2024, 1, 1, 0, 0};

  std::unique_ptr<AL_class> Make(const std::string& entry, double dt = 60.0, const std::string& rules = "") {
    auto a = std::make_unique<AL_class>();
    a->SetParameters(&log.log(), 0, {}, dir.path() + "/", 72.0, 2.0, dt, 0.0, 0.0);
    a->ReadParameters(entry, 1, start);
    if (!rules.empty()) {
      TextCursor control("[abstraction_rule_abstraction_1]\n" + rules);
      a->ReadAbstractionRules(control);
    }
    return a;
  }
  std::string File(const std::string& name, const std::string& rows) {
    WriteTextFile(dir.file(name), "YY MM DD HH Q1 Q2\n" + rows);
    return dir.file(name);
  }
};

TEST(Abstraction, ResidualFlowShareAndCap) {
  AbstractionBench b;
  const struct {
    std::string values;
    double available, booked, expected;
  } cases[] = {
      {"1 0.5 10 mm", 5, 0, 2},        // (5 - 1) / 2
      {"1 0.5 10 mm", 0.5, 0, 0},      // below the residual flow
      {"1 0.5 0 mm", 5, 0, 0},         // no maximum: nothing
      {"1 1 10 mm", 5, 3, 1},          // what is booked already stays: 5 - 3 - 1
      {"1 0.5 1.5 mm", 5, 0, 1.5},     // capped
      {"10 0.5 100 m3/s", 5, 0, 2},    // 10 m³/s = 1 mm; 100 m³/s = 10 mm
      {"10 0.5 100 l/s", 5, 0, 0},     // "l/s" is no known unit: 10 mm
  };
  for (const auto& c : cases) {
    auto a = b.Make("= intern " + c.values);
    double result = c.booked;
    a->ApplyRule(nullptr, result, c.available, StepDate{2024, 1, 1, 1, 0});
    EXPECT_NEAR(result - c.booked, c.expected, 1e-9) << c.values;
  }
  auto e = b.Make("= extern out.txt) 0 1 100 mm");
  EXPECT_EQ(e->mode, kAbstractExtern);
  EXPECT_EQ(e->outputFile, b.dir.path() + "/out.txt");
  EXPECT_DOUBLE_EQ(e->area, 36.0);
  // Water handed on in m³/s and back in mm keeps its volume.
  for (double x : {1e-3, 0.7, 123.4}) EXPECT_NEAR(e->DischargeToDepth(e->DepthToDischarge(x, 36, 60), 36, 60), x, 1e-14 * x);
}

TEST(Abstraction, BadEntriesAreRefusedWithTheirCodes) {
  AbstractionBench b;
  const std::string file = b.File("in.txt", "2024 1 1 0 1 2\n2024 1 1 1 1 2\n");
  const std::string text = b.File("text.txt", "2024 1 1 0 1 two\n");
  const struct {
    std::string entry;
    int code;
    const char* message = "";
  } cases[] = {
      {"= intern 1 1.5 10 mm", 44, "a share of 0..1, read R = 1, f = 1.5, M = 10"},
      {"= extern o.txt 0 -0.1 10 mm", 44, "f = -0.1"},
      {"= intern -1 0.5 10 mm", 44, "R = -1"},
      {"= intern 1 0.5 -10 m3/s", 44, "M = -10"},
      {"= from_file input_file = " + file + " col = 3 out = o.txt", 44,
       "the column 3 of \"input_file =\" lies beyond the 2 value columns"},
      {"= from_file input_file = " + text + " col = 1 out = o.txt", 37,
       "(\"input_file =\" of abstraction 1): its first row holds something other than a date and numbers"},
      {"= intern_something", 44},
      {"no mode word", 44},
      {"= intern 1 2", 44},
      {"= from_file input_file = " + b.dir.file("none.txt") + " col = 1 out = o.txt", 37},
      {"= from_file input_file = " + file + " col = 0 out = o.txt", 44},
      {"= extern_with_rule " + b.dir.path() + "/missing/o.txt", 37},
      {"= from_file input_file = " + file + " col = 2 out = o.txt", 0},
      {"= from_file input_file = " + file + " col = 2 out = in.txt", 37},  // would overwrite its input
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Code([&] { b.Make(c.entry); }), c.code) << c.entry;
    EXPECT_NE(b.log.console().find(c.message), std::string::npos) << c.message;
  }
  // A later row with text ends the run when the table moves to it, naming the row before.
  const std::string late = b.File("late.txt", "2024 1 1 0 1 2\n2024 1 1 1 1 x\n");
  auto a = b.Make("= from_file input_file = " + late + " col = 1 out = o.txt");
  double result = 0.0;
  EXPECT_EQ(Code([&] { a->ApplyRule(nullptr, result, 5.0, StepDate{2024, 1, 1, 0, 0}); }), 38);
  EXPECT_NE(b.log.console().find("the row after 1.1.2024, 0:00 h holds something other than a date and 2 numbers"),
            std::string::npos);
  b.start = StepDate{2023, 1, 1, 0, 0};
  EXPECT_EQ(Code([&] { b.Make("= from_file input_file = " + file + " col = 1 out = o.txt"); }), 38);
  b.start = StepDate{2024, 1, 1, 0, 0};
  EXPECT_EQ(Code([&] { b.Make("= from_file input_file = " + file + " col = 1 out = o.txt", 60.0, "x\n"); }), 0);
}

TEST(Abstraction, FileValuesMissingValuesDatesAndOutput) {
  AbstractionBench b;
  const std::string file = b.File("in.txt", "124 1 1 0 10 2\n124 1 1 1 -9999 2\n124 1 1 2 -5 2\n124 1 1 4 10 2\n");
  auto a = b.Make("= from_file input_file = " + file + " col = 1 out = o.txt");
  // Years below 1000 count from 1900. 10 m³/s = 1 mm; missing; negative (refused).
  const double expected[] = {1.0, 0.0};
  for (int h = 0; h < 2; ++h) {
    double result = 0.0;
    const StepDate d{2024, 1, 1, h, 0};
    a->ApplyRule(nullptr, result, 5.0, d);
    EXPECT_DOUBLE_EQ(result, expected[h]) << h;
    a->StoreOutputRow(d, {a->DepthToDischarge(result, a->area, a->dt)});
  }
  double result = 0.0;
  EXPECT_EQ(Code([&] { a->ApplyRule(nullptr, result, 5.0, StepDate{2024, 1, 1, 2, 0}); }), 38);
  EXPECT_NE(b.log.console().find("the row of 1.1.2024, 2:00 h holds -5 m3/s in column 1"), std::string::npos);
  EXPECT_EQ(Code([&] { a->ApplyRule(nullptr, result, 5.0, StepDate{2024, 1, 1, 3, 0}); }), 38);
  a->FlushToDisk(1);
  EXPECT_EQ(ReadTextFile(b.dir.file("o.txt")),
            "YY\tMM\tDD\tHH\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tm^3/s\n"
            "2024\t 1\t 1\t 0\t10\n2024\t 1\t 1\t 1\t0\n");
  auto half = b.Make("= extern_with_rule o2.txt", 30.0);
  half->StoreOutputRow(StepDate{2024, 1, 1, 0, 30}, {2.5});
  half->FlushToDisk(1);
  EXPECT_EQ(ReadTextFile(b.dir.file("o2.txt")),
            "YY\tMM\tDD\tHH\tmm\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tmm\tm^3/s\n2024\t 1\t 1\t 0\t30\t2.5\n");
}

TEST(Abstraction, RuleTablesCapsAndWindows) {
  AbstractionBench b;
  const std::string table = "3 1\n10 0\n20 5\n30 10\n";
  auto a = b.Make("= intern_with_rule", 60.0, table);
  const StepDate d{2024, 1, 1, 12, 0};
  const struct {
    double x, expected;
  } values[] = {{5, 0}, {10, 0}, {15, 2.5}, {25, 7.5}, {30, 10}, {100, 10}};
  for (const auto& v : values)
    EXPECT_NEAR(a->TimeStep(v.x, nullptr, d), a->DischargeToDepth(v.expected, 36.0, 60.0), 1e-12) << v.x;
  // Capped by what the target already carries: 4 m³/s there, cap 10.
  auto capped = b.Make("= intern_with_rule", 60.0, table + "TargetCap = 10\n");
  double zones[3] = {0, 0, capped->DischargeToDepth(4.0, 9.0, 60.0)};
  capped->SetRuleParameters(1, 2, 9.0);
  EXPECT_NEAR(capped->TimeStep(100, zones, d), capped->DischargeToDepth(6.0, 36.0, 60.0), 1e-8);
  // A target without TargetCap abstracts nothing, and says so.
  a->SetRuleParameters(1, 2, 9.0);
  EXPECT_EQ(a->TimeStep(100, zones, d), 0.0);
  EXPECT_NE(b.log.console().find("rule 1 has no TargetCap"), std::string::npos);
  // Mode 8: weekdays and hours; 1 January 2024 is a Monday, 6 January a Saturday.
  auto r = b.Make("= intern_with_rule_from_reservoir", 60.0,
                  table + "WeekDays = 12345\nstart_hour = 22\nstop_hour = 6\n");
  const struct {
    int day, hour;
    double expected;
  } windows[] = {{1, 23, 10}, {1, 3, 10}, {1, 12, 0}, {6, 23, 0}, {5, 6, 10}};
  for (const auto& w : windows)
    EXPECT_EQ(r->ComputeAbstraction(100, StepDate{2024, 1, w.day, w.hour, 0}), w.expected) << w.day;
  // Daily steps are stamped 24 h, the start of the next day: Monday's step is Tuesday 0 h for
  // the window as for the weekday.
  const struct {
    const char* rule;
    double expected;
  } daily[] = {{"WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\n", 10},
               {"WeekDays = 2\nstart_hour = 0\nstop_hour = 0\n", 10},
               {"WeekDays = 1\nstart_hour = 0\nstop_hour = 23\n", 0},
               {"WeekDays = 2\nstart_hour = 1\nstop_hour = 23\n", 0}};
  for (const auto& c : daily)
    EXPECT_EQ(b.Make("= intern_with_rule_from_reservoir", 1440.0, table + c.rule)
                  ->ComputeAbstraction(100, StepDate{2024, 1, 1, 24, 0}),
              c.expected)
        << c.rule;
  // Its target does not cap it: connected to a target that carries 4 m³/s, without a
  // TargetCap, it takes its rule amount, and no warning says otherwise.
  AbstractionBench b8;
  auto fromReservoir = b8.Make("= intern_with_rule_from_reservoir", 60.0,
                               table + "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\n");
  fromReservoir->SetRuleParameters(1, 2, 9.0);
  EXPECT_EQ(fromReservoir->ComputeAbstraction(100, d), 10.0);
  EXPECT_EQ(b8.log.console().find("TargetCap"), std::string::npos);
  auto never = b.Make("= intern_with_rule_from_reservoir", 60.0, table);
  EXPECT_EQ(never->ComputeAbstraction(100, d), 0.0);  // no hours: never active
  // WeekDays -1 admits every day, but the hours still apply, and the warning says so.
  AbstractionBench minusOne;
  EXPECT_EQ(minusOne.Make("= intern_with_rule_from_reservoir", 60.0, table + "WeekDays = -1\n")
                ->ComputeAbstraction(100, d),
            0.0);
  EXPECT_NE(minusOne.log.console().find("rule 1 (WeekDays -1) never acts"), std::string::npos)
      << minusOne.log.console();
  EXPECT_EQ(r->ComputeAbstraction(100, StepDate{0, 0, 1, 23, 0}), 0.0);
  TextCursor none("[x]\n");
  EXPECT_EQ(Code([&] { r->ReadAbstractionRules(none); }), 34);
}

// Abstractions that draw on a reservoir: a rule amount never takes more than is there,
// and a file value replaces the outflow or a rule amount.
TEST(Abstraction, DrawingOnAReservoir) {
  AbstractionBench b;
  ReservoirContext ctx;
  ctx.log = &b.log.log();
  ctx.geometry.ncols = ctx.geometry.nrows = 1;
  ctx.geometry.cellsize = 100;
  ctx.outputDirectory = b.dir.path() + "/";
  SP_class sp;
  sp.SetParameters(ctx);
  sp.ReadParameters(1, "file = r.txt V0 = 100000 C0 = 0 0 0 0 0 0 0 0 0");
  TextCursor control("[abstraction_rule_reservoir_1]\n0\n");
  sp.ReadAbstractionRules(control);
  auto rule = b.Make("= intern_with_rule_from_reservoir", 60.0,
                     "2 1\n0 1000\n1e9 1000\nWeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\n");
  std::vector<AL_class*> list = {rule.get()};
  for (int h = 0; h < 5; ++h) {
    const double v = sp.state[0];
    sp.BeginStep(0.0, nullptr, list, StepDate{2024, 1, 1, h, 0}, 1, 1, 1, 60.0, 0.0, 0.0);
    EXPECT_GE(sp.state[0], 0.0);
    EXPECT_NEAR(sp.state[0], v - sp.Abstr.m3, 1e-9);
    EXPECT_NEAR(rule->amount * 3600.0, sp.Abstr.m3, 1e-9);
    EXPECT_GT(sp.state[0], 0.0);  // each sub-step leaves 90 % of what it finds
  }
  const std::string file = b.File("p.txt", "2024 1 1 0 3 -9999\n2024 1 1 1 -9999 -9999\n");
  auto prescription = b.Make("= intern_from_file_from_reservoir externalAbstractionFile = " + file +
                             " 1 replaced_Abstractions = { 0 99 }");
  prescription->code = 5;
  rule->code = 7;
  std::vector<AL_class*> both = {rule.get(), prescription.get()};
  AL_class::ResolveAbstractionCodes(both, &b.log.log());
  EXPECT_EQ(prescription->replaced, std::vector<int>{0});
  EXPECT_NE(b.log.console().find("names 99"), std::string::npos);
  sp.state[0] = 1e6;
  EXPECT_NEAR(sp.TimeStep(both, StepDate{2024, 1, 1, 0, 0}, 0.0, 60.0, 0.0), 3.0, 1e-12);
  // A missing value prescribes nothing: the (empty) table gives 0.
  EXPECT_EQ(sp.TimeStep(both, StepDate{2024, 1, 1, 1, 0}, 0.0, 60.0, 0.0), 0.0);
}

}  // namespace
