// Irrigation rules: the schedule texts, the reader of [irrigation] and [irrigation_table],
// and the start-up of mode 2 whose irrigation grid gets its codes replaced by table rows.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "init/irrigation_table.h"
#include "init_harness.h"

namespace {

const std::array<int, 12> kMonths{{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

struct Event {
  long month;
  long day;
  double amount;
};

std::vector<Event> Events(const IrrigationTableEntry& row) {
  std::vector<Event> e;
  for (int k = 1; k <= row.dateCount; ++k)
    e.push_back({row.months[static_cast<size_t>(k)], row.days[static_cast<size_t>(k)],
                 row.amounts[static_cast<size_t>(k)]});
  return e;
}

void ExpectEvents(const IrrigationTableEntry& row, const std::vector<Event>& expected) {
  const std::vector<Event> got = Events(row);
  ASSERT_EQ(got.size(), expected.size());
  ASSERT_EQ(row.months.size(), expected.size() + 1);
  for (size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].month, expected[k].month) << "event " << k + 1;
    EXPECT_EQ(got[k].day, expected[k].day) << "event " << k + 1;
    EXPECT_NEAR(got[k].amount, expected[k].amount, 0.005) << "event " << k + 1;
  }
}

ScheduleResult Parse(const std::string& text, IrrigationTableEntry& row) {
  return ParseIrrigationSchedule(text, kMonths, row);
}

}  // namespace

TEST(IrrigationSchedule, RangeVariantInterpolatesTheAmountsFromFirstToLast) {
  IrrigationTableEntry row;
  ASSERT_EQ(Parse(" starting from 5 1 with 10 mm to 5 31 with 20 mm every 10 day", row), ScheduleResult::Ok);
  ExpectEvents(row, {{5, 1, 10.0}, {5, 11, 13.33}, {5, 21, 16.67}, {5, 31, 20.0}});

  // A step that does not land on the end date stops before it; months and the year end
  // are passed.
  IrrigationTableEntry wrap;
  ASSERT_EQ(Parse("starting from 12 20 with 4 mm to 1 12 with 4 mm every 10 days", wrap), ScheduleResult::Ok);
  ExpectEvents(wrap, {{12, 20, 4.0}, {12, 30, 4.0}, {1, 9, 4.0}});

  // A range shorter than a step is one event.
  IrrigationTableEntry one;
  ASSERT_EQ(Parse("starting from 6 1 with 3 mm to 6 5 with 9 mm every 10 day", one), ScheduleResult::Ok);
  EXPECT_EQ(one.dateCount, 1);
}

TEST(IrrigationSchedule, RepeatVariantGivesEqualAmountsAcrossMonths) {
  IrrigationTableEntry row;
  ASSERT_EQ(Parse("starting from 1 25 with 5 mm 3 times every 10 days", row), ScheduleResult::Ok);
  ExpectEvents(row, {{1, 25, 5.0}, {2, 4, 5.0}, {2, 14, 5.0}});
}

TEST(IrrigationSchedule, StepsOfWholeYearsComeBackToTheSameDay) {
  IrrigationTableEntry row;
  ASSERT_EQ(Parse("starting from 3 1 with 1 mm 3 times every 730000000000366 days", row), ScheduleResult::Ok);
  ExpectEvents(row, {{3, 1, 1.0}, {3, 2, 1.0}, {3, 3, 1.0}});
}

TEST(IrrigationSchedule, DatesAreLimitedToTheCalendar) {
  IrrigationTableEntry row;
  ASSERT_EQ(Parse("starting from 4 31 with 2 mm 2 times every 1 days", row), ScheduleResult::Ok);
  ExpectEvents(row, {{4, 30, 2.0}, {5, 1, 2.0}});
  IrrigationTableEntry clamp;
  ASSERT_EQ(Parse("starting from 13 0 with 1 mm to 0 40 with 1 mm every 400 day", clamp), ScheduleResult::Ok);
  ExpectEvents(clamp, {{12, 1, 1.0}});
}

TEST(IrrigationSchedule, SchemesOfOneLineFillOneTable) {
  IrrigationTableEntry row;
  ASSERT_EQ(Parse("starting from 5 1 with 10 mm 2 times every 5 days; starting from 7 1 with 8 mm 2 times every 3 days",
                  row),
            ScheduleResult::Ok);
  ExpectEvents(row, {{5, 1, 10.0}, {5, 6, 10.0}, {7, 1, 8.0}, {7, 4, 8.0}});
  // The interpolation of a range scheme covers only its own events.
  IrrigationTableEntry ranges;
  ASSERT_EQ(Parse("starting from 5 1 with 2 mm to 5 3 with 4 mm every 1 day;"
                  "starting from 6 1 with 10 mm to 6 2 with 20 mm every 1 day",
                  ranges),
            ScheduleResult::Ok);
  ExpectEvents(ranges, {{5, 1, 2.0}, {5, 2, 3.0}, {5, 3, 4.0}, {6, 1, 10.0}, {6, 2, 20.0}});
}

TEST(IrrigationSchedule, MalformedSchedulesAreRefused) {
  IrrigationTableEntry row;
  EXPECT_EQ(Parse("starting from 5 1 with 10 mm every 5 days", row), ScheduleResult::NoKeyword);
  for (const char* text : {
           "",                                                          // no scheme
           "from 5 1 with 10 mm 2 times every 5 days",                  // no "starting from"
           "starting from 5 with 10 mm 2 times every 5 days",           // no day
           "starting from 5 1 10 mm 2 times every 5 days",              // no "with"
           "starting from 5 1 with mm 2 times every 5 days",            // no amount
           "starting from 5 1 with 10 mm 2 times each 5 days",          // no "every"
           "starting from 5 1 with 10 mm 2 times every 0 days",         // a step that never moves
           "starting from 5 1 with 10 mm 0 times every 5 days",         // no repeat count
           "starting from 5 1 with 10 mm 2000000000 times every 5 days",  // more events than kept
           "starting from 5 1 with 10 mm to 6 with 20 mm every 5 day",  // end date without day
           "starting from 5 1 with 10 mm to 6 1 with nan mm every 5 day",
       }) {
    IrrigationTableEntry r;
    EXPECT_EQ(Parse(text, r), ScheduleResult::Malformed) << text;
  }
}

namespace {

// A control file holding the given text, opened by a start-up object of the mode.
struct IrrigationFile {
  explicit IrrigationFile(const std::string& text, int mode = 2) : h(mode, "unused.ctl") {
    WriteTextFile(h.dir.file("irrigation.ctl"), text);
    EXPECT_TRUE(h.d->OpenControlFile(h.dir.file("irrigation.ctl")));
  }
  int Read() {
    return ThrownCode([&] { h.d->ReadIrrigation(); });
  }
  InitHarness h;
};

const char* const kTable =
    "[irrigation]\n1\n"
    "[irrigation_table]\n4  # rows\n"
    "11 dates 1 1 40 3.5\n"
    "  2\n"
    "  5 1 10.5\n"
    "  6 15 12\n"
    "12 scheduled 2 0 30 4 starting from 5 1 with 10 mm 3 times every 10 days\n"
    "13 suction 3 2 50 5\n"
    "14 ratio 4 1 0.7\n";

}  // namespace

TEST(IrrigationReader, ReadsEveryMethodAndTheCodesOfTheRows) {
  IrrigationFile f(kTable);
  ASSERT_EQ(f.Read(), -1) << f.h.Console();
  defaultini& d = *f.h.d;
  ASSERT_EQ(d.irrigationCount, 4);
  EXPECT_EQ(d.irrigationCodes, (std::vector<int>{0, 11, 12, 13, 14}));
  ASSERT_EQ(d.irrigationTable, d.irrigationRows.data());
  const IrrigationTableEntry* t = d.irrigationTable;
  EXPECT_EQ(t[1].name, "dates");
  EXPECT_EQ(t[1].origin, 1);
  EXPECT_DOUBLE_EQ(t[1].psiDry, 40.0);
  EXPECT_DOUBLE_EQ(t[1].psiWet, 3.5);
  ExpectEvents(t[1], {{5, 1, 10.5}, {6, 15, 12.0}});
  EXPECT_EQ(t[2].method, 2);
  ExpectEvents(t[2], {{5, 1, 10.0}, {5, 11, 10.0}, {5, 21, 10.0}});
  EXPECT_EQ(t[3].dateCount, 0);
  EXPECT_DOUBLE_EQ(t[3].psiDry, 50.0);
  EXPECT_DOUBLE_EQ(t[3].psiWet, 5.0);
  EXPECT_DOUBLE_EQ(t[4].minEtrEtp, 0.7);
  EXPECT_DOUBLE_EQ(t[4].psiDry, 20.0);
  EXPECT_DOUBLE_EQ(t[4].psiWet, 3.45);
  EXPECT_EQ(t[4].dateCount, 0);
  EXPECT_EQ(t[4].origin, 1);
}

TEST(IrrigationReader, SwitchedOffOrModeOneReadsNothing) {
  IrrigationFile off("[irrigation]\n0\n");
  ASSERT_EQ(off.Read(), -1) << off.h.Console();
  EXPECT_EQ(off.h.d->irrigationCount, 0);
  EXPECT_EQ(off.h.d->irrigationTable, nullptr);

  IrrigationFile modeOne("nothing here\n", 1);
  ASSERT_EQ(modeOne.Read(), -1);
  EXPECT_EQ(modeOne.h.d->irrigationCount, 0);

  // Once the step runs, both sections are required.
  IrrigationFile missing("[irrigation_table]\n0\n");
  EXPECT_EQ(missing.Read(), 17);
  IrrigationFile noTable("[irrigation]\n1\n");
  EXPECT_EQ(noTable.Read(), 17);
}

TEST(IrrigationReader, UnreadableRowsNameTheRowAndWhatIsMissing) {
  struct Case {
    const char* rows;
    const char* message;
  };
  const Case cases[] = {
      {"2\n5 a 3 0 1 1\nx b 3 0 1 1\n", "for irrigation code 2: code, name, method, or origin could not be read"},
      {"1\n5 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 3 0 1 1\n",
       "for irrigation code 1: code, name, method, or origin"},
      {"1\n5 a 4 0 x\n", "for irrigation code 1: min(ETR/ETP) could not be read correctly\n"},
      {"1\n5 a 3 0 1\n", "for irrigation code 1: psi_dry or psi_wet could not be read correctly\n"},
      {"1\n5 a 1 0 1 1 -2\n", "for irrigation code 1: tabcnt could not be read correctly\n"},
      {"1\n5 a 1 0 1 1 3\n 5 1 1\n 6 1\n",
       "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n"},
  };
  for (const Case& c : cases) {
    IrrigationFile f(std::string("[irrigation]\n1\n[irrigation_table]\n") + c.rows);
    EXPECT_EQ(f.Read(), 29) << c.rows;
    EXPECT_NE(f.h.Console().find(c.message), std::string::npos) << c.rows << f.h.Console();
    EXPECT_EQ(f.h.d->irrigationCount, 0);
  }
  IrrigationFile negative("[irrigation]\n1\n[irrigation_table]\n-1\n");
  EXPECT_EQ(negative.Read(), 29);
  // A count far beyond the rows present fails at the first missing row.
  IrrigationFile huge("[irrigation]\n1\n[irrigation_table]\n2000000000\n5 a 3 0 1 1\n");
  EXPECT_EQ(huge.Read(), 29);
  EXPECT_NE(huge.h.Console().find("for irrigation code 2:"), std::string::npos);
}

TEST(IrrigationReader, WrongSchedulesExplainTheTwoVariants) {
  IrrigationFile f("[irrigation]\n1\n[irrigation_table]\n2\n5 a 3 0 1 1\n6 b 2 0 1 1 starting from 5 1 every 3\n");
  EXPECT_EQ(f.Read(), 29);
  const std::string console = f.h.Console();
  EXPECT_NE(console.find("none of the keywords \"to\" or \"times\" could be found!"), std::string::npos) << console;
  EXPECT_NE(console.find("irrigation description for irrigation type 2 is wrong there are 4 possible ways"),
            std::string::npos);
  EXPECT_NE(console.find("they have to be seperated by a semicolon (;)"), std::string::npos);

  IrrigationFile g("[irrigation]\n1\n[irrigation_table]\n1\n6 b 2 0 1 1 starting from 5 1 with 2 mm 3 times\n");
  EXPECT_EQ(g.Read(), 29);
  EXPECT_EQ(g.h.Console().find("none of the keywords"), std::string::npos);
  EXPECT_NE(g.h.Console().find("irrigation description for irrigation type 1 is wrong"), std::string::npos);
}

namespace {

const std::string kStartupBasin = std::string(ORVEL_TEST_DATA) + "/startup/";

// The small start-up basin with an irrigation grid and the irrigation sections.
struct IrrigatedBasin {
  explicit IrrigatedBasin(const std::string& gridRows) {
    for (const char* f : {"basin.ctl", "zones.asc", "dem.asc"})
      std::filesystem::copy_file(kStartupBasin + f, dir.file(f));
    text = ReadTextFile(dir.file("basin.ctl"));
    Edit("$set $dir = ./", "$set $dir = " + dir.path() + "/");
    Edit("1       # number of standard grids\n",
         "2       # number of standard grids\n"
         "$dir//irrig.asc  irrigation_codes  fillcode = 0  readcode = 1  defaultValue = 0\n");
    Edit("[irrigation]\n0", std::string(kTable));
    WriteTextFile(dir.file("basin.ctl"), text);
    WriteTextFile(dir.file("irrig.asc"),
                  "ncols 8\nnrows 6\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n" + gridRows);
  }
  void Edit(const std::string& from, const std::string& to) {
    const size_t p = text.find(from);
    ASSERT_NE(p, std::string::npos) << from;
    text.replace(p, from.size(), to);
  }
  int Run(InitHarness& h) {
    bool done = false;
    return ThrownCode([&] {
      for (int n = 0; n < 100 && !done; ++n) h.d->InitStep(done);
    });
  }
  TempDir dir;
  std::string text;
};

const char* const kGoodGrid =
    "0 0 11 12 13 0 0 0\n"
    "0 14 14 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0\n"
    "11 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 77\n";  // outside the basin: not looked up

}  // namespace

TEST(IrrigationStartup, ModeTwoReplacesTheIrrigationCodesByTableRows) {
  IrrigatedBasin b(kGoodGrid);
  InitHarness h(2, b.dir.file("basin.ctl"));
  ASSERT_EQ(h.error, 0);
  ASSERT_EQ(b.Run(h), -1) << h.Console();
  defaultini& d = *h.d;
  ASSERT_EQ(d.irrigationCount, 4);
  double** g = d.GridData(d.FindGrid("irrigation_codes"));
  ASSERT_NE(g, nullptr);
  // Rows are numbered north first: row 1 is the first grid line.
  EXPECT_EQ(g[1][3], 1.0);
  EXPECT_EQ(g[1][4], 2.0);
  EXPECT_EQ(g[1][5], 3.0);
  EXPECT_EQ(g[2][2], 4.0);
  EXPECT_EQ(g[4][1], 1.0);
  EXPECT_EQ(g[1][1], 0.0);
  std::string file;
  RunValues values;
  d.GetInitValues(file, values);
  ASSERT_NE(values.irrigationTable, nullptr);
  EXPECT_EQ(values.irrigationTable[2].dateCount, 3);
}

TEST(IrrigationStartup, ABasinCellWithAnUnknownIrrigationCodeFails) {
  IrrigatedBasin b("0 0 11 12 15 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n"
                   "0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n");
  InitHarness h(2, b.dir.file("basin.ctl"));
  EXPECT_EQ(b.Run(h), 31);
  EXPECT_NE(h.Console().find("irrigation type 15 in grid"), std::string::npos) << h.Console();
}

TEST(IrrigationStartup, ModeOneLeavesTheCodesAlone) {
  IrrigatedBasin b(kGoodGrid);
  InitHarness h(1, b.dir.file("basin.ctl"));
  ASSERT_EQ(b.Run(h), -1) << h.Console();
  EXPECT_EQ(h.d->irrigationCount, 0);
  double** g = h.d->GridData(h.d->FindGrid("irrigation_codes"));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g[1][3], 11.0);
}
