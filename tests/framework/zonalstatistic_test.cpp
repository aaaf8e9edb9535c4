#include "framework/zonalstatistic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "framework/append_file.h"
#include "framework/memory_handling.h"
#include "support/test_support.h"

namespace {

// A zone table as the ranking makes it: codes ascending, area fractions set.
std::vector<ZoneTableEntry> Zones(const std::vector<double>& codesIn, const std::vector<double>& fractions) {
  std::vector<ZoneTableEntry> z(codesIn.size() + 1);
  z[0].code = 1.0;
  z[0].fraction = 12.5;
  for (size_t i = 0; i < codesIn.size(); ++i) {
    z[i + 1].code = codesIn[i];
    z[i + 1].fraction = fractions[i];
    z[i + 1].cellCount = 99;  // the ranking's cell count: the writer overwrites it
  }
  return z;
}

struct Writer {
  CapturedLog log;
  TempDir dir;
  std::vector<ZoneTableEntry> zones;
  std::vector<int> list;
  int error = -1;
  std::unique_ptr<zonalstatistic> w;
  std::vector<StatisticsTableEntry> table = std::vector<StatisticsTableEntry>(201);

  Writer(int code, int decimals, std::vector<int> listCodes = {}, bool minute = false, double** weights = nullptr,
         int rows = 0, int cols = 0)
      : zones(Zones({3, 5, 7}, {0.5, 0.25, 0.25})), list(std::move(listCodes)) {
    list.insert(list.begin(), 0);
    const std::string outDir = dir.path() + "/";
    w = std::make_unique<zonalstatistic>(&error, &log.log(), table.data(), 200, weights, rows, cols, zones.data(), 3,
                                         code, decimals, "stat.txt", outDir.c_str(),
                                         static_cast<int>(list.size()) - 1, list.data(), minute);
  }
  std::string path() const { return dir.file("stat.txt"); }
  std::string text() const { return ReadTextFile(path()); }
  // One step: zone index i gets the given cell values (weight 1 each).
  void Step(const std::vector<std::vector<double>>& cells, int64_t day, int64_t hour) {
    w->ClearZoneSums();
    for (int z = 1; z <= 3; ++z)
      for (double v : cells[z - 1]) w->AddCellValue(1, 1, z, v, 1.0);
    w->AggregateAndWrite(2020, 1, day, hour, 0);
  }
};

const char* kHeaderAllZones =
    "YY\tMM\tDD\tHH\t\"3\"\t\"5\"\t\"7\"\ttot_average\n"
    "temp_submodel:(default)\n"
    "--\t--\t--\t--\t0.5000000\t0.2500000\t0.2500000\t1.0000\n";

}  // namespace

TEST(ZonalStatistic, CodeOf1000OrLessWritesNothingAndEveryOperationReturns) {
  Writer s(1000, 3);
  EXPECT_EQ(s.error, 0);
  EXPECT_TRUE(s.w->Ok());
  EXPECT_FALSE(s.w->Active());
  EXPECT_EQ(s.w->WriteHeader("temp", "(default)", s.table.data(), 200), -1);
  s.Step({{1}, {2}, {3}}, 1, 0);
  s.w->WriteRow();
  s.w->Release();
  EXPECT_FALSE(std::ifstream(s.path()).good());
  EXPECT_EQ(s.table[0].values, nullptr);
  EXPECT_EQ(s.zones[2].cellCount, 99);  // an inactive writer leaves the table alone
}

TEST(ZonalStatistic, TotalOnlyMeanWritesOneRowPerStepWithExactHeader) {
  Writer s(1001, 3);
  ASSERT_EQ(s.error, 0);
  EXPECT_EQ(s.w->Capacity(), 43690);
  EXPECT_EQ(s.w->WriteHeader("temp", "(default)", s.table.data(), 200), 0);
  s.Step({{1, 2}, {4}, {}}, 1, 0);  // (1+2+4)/3
  s.Step({{0}, {0}, {9}}, 1, 1);
  EXPECT_EQ(s.w->BufferedRows(), 2);
  s.w->Release();
  EXPECT_EQ(s.text(),
            "YY\tMM\tDD\tHH\ttot_average\n"
            "temp_submodel:(default)\n"
            "--\t--\t--\t--\t1.0000\n"
            "2020\t 1\t 1\t 0\t2.333\n"
            "2020\t 1\t 1\t 1\t3.000\n");
  EXPECT_NE(s.log.console().find("write " + s.path() + "(80 of 2097152 buffer-bytes)"), std::string::npos);
}

TEST(ZonalStatistic, EveryZoneMeanOverAPeriodOf24HourlySteps) {
  Writer s(2024, 4);
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("temp", "(default)", s.table.data(), 200);
  // Zone 1 (code 3): two cells, hour h holds h and 2h; zone 2: one cell of value 1;
  // zone 3 has no cells at all.
  double sum1 = 0;
  for (int h = 0; h < 48; ++h) {
    s.Step({{double(h), 2.0 * h}, {1.0}, {}}, 1 + h / 24, h % 24);
    if (h < 24) sum1 += h + 2.0 * h;
    if (h == 22) {
      EXPECT_EQ(s.w->BufferedRows(), 0);
    }
  }
  EXPECT_EQ(s.w->BufferedRows(), 2);
  s.w->Release();
  const double mean1 = sum1 / 48.0;                       // 24 steps of 2 cells
  const double mean1b = (sum1 + 3.0 * 24 * 24) / 48.0;    // hours 24..47
  const double total1 = (sum1 + 24.0) / 72.0;
  const double total2 = (sum1 + 3.0 * 24 * 24 + 24.0) / 72.0;
  char rows[256];
  std::snprintf(rows, sizeof rows, "2020\t 1\t 1\t23\t%.4f\t1.0000\t0.0000\t%.4f\n2020\t 1\t 2\t23\t%.4f\t1.0000\t0.0000\t%.4f\n",
                mean1, total1, mean1b, total2);
  EXPECT_EQ(s.text(), std::string(kHeaderAllZones) + rows);
}

TEST(ZonalStatistic, SumModeWritesTheSumOfThePerStepMeans) {
  Writer s(4003, 2);
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("temp", "(default)", s.table.data(), 200);
  s.Step({{1, 3}, {2}, {5}}, 1, 0);  // means 2, 2, 5; total 11/4
  s.Step({{2, 2}, {4}, {5}}, 1, 1);  // means 2, 4, 5; total 13/4
  s.Step({{0, 4}, {6}, {5}}, 1, 2);  // means 2, 6, 5; total 15/4
  s.w->Release();
  // The total sums value sums over the period and divides by the last step's cells.
  EXPECT_EQ(s.text(), std::string(kHeaderAllZones) + "2020\t 1\t 1\t 2\t6.00\t12.00\t15.00\t9.75\n");
}

TEST(ZonalStatistic, ListedZonesOnlyAndAListOutOfOrderFails) {
  Writer s(5001, 1, {3, 7});
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("temp", "x", s.table.data(), 200);
  s.Step({{1}, {2}, {3}}, 1, 0);
  s.w->Release();
  EXPECT_EQ(s.text(),
            "YY\tMM\tDD\tHH\t\"3\"\t\"7\"\ttot_average\ntemp_submodel:x\n--\t--\t--\t--\t0.5000000\t0.2500000\t1.0000\n"
            "2020\t 1\t 1\t 0\t1.0\t3.0\t2.0\n");

  for (std::vector<int> bad : {std::vector<int>{7, 3}, std::vector<int>{7, 5}, std::vector<int>{4}}) {
    Writer f(5001, 1, bad);
    EXPECT_EQ(f.error, 1);
    EXPECT_FALSE(f.w->Ok());
    EXPECT_NE(f.log.console().find("there is a code in the output list which no zone exists for ("),
              std::string::npos);
    // A failure: it reaches the diagnostics file whatever level that keeps.
    if (bad[0] == 4) {
      EXPECT_NE(f.log.CloseAndReadDiag().find("level=\"0\" description= \";; -- error --;; there is a code in the "
                                              "output list which no zone exists for (4): the sub-basin code 4 of "
                                              "[output_list] (entry 1) names no zone of the zone grid, which has "
                                              "the codes 3 5 7"),
                std::string::npos);
    }
  }
}

TEST(ZonalStatistic, MinuteColumnAndSixSignificantDigits) {
  Writer s(2001, 99, {}, true);
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("tracer", "snow", s.table.data(), 200);
  s.w->ClearZoneSums();
  s.w->AddCellValue(1, 1, 1, 1.0 / 3.0, 1.0);
  s.w->AddCellValue(1, 1, 2, 123456789.0, 1.0);
  s.w->AggregateAndWrite(2021, 12, 31, 23, 30);
  s.w->WriteRow();
  EXPECT_EQ(s.text(),
            "YY\tMM\tDD\tHH\tmm\t\"3\"\t\"5\"\t\"7\"\ttot_average\ntracer_submodel:snow\n"
            "--\t--\t--\t--\t--\t0.5000000\t0.2500000\t0.2500000\t1.0000\n"
            "2021\t12\t31\t23\t30\t0.333333\t1.23457e+08\t0\t6.17284e+07\n");
}

TEST(ZonalStatistic, WeightGridCountsOnlyInsideAndAboveItsNoData) {
  MatrixOwner weights(2, 2);
  weights[1][1] = 3.0;
  weights[1][2] = -9999.0;
  weights[2][1] = 0.0;
  weights[2][2] = 0.0;
  Writer s(2001, 3, {}, false, weights.get(), 2, 2);
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("t", "u", s.table.data(), 200);
  s.w->ClearZoneSums();
  s.w->AddCellValue(1, 1, 1, 2.0, 1.0);  // weight 3
  s.w->AddCellValue(1, 2, 1, 6.0, 1.0);  // no-data weight: 1
  s.w->AddCellValue(5, 9, 1, 4.0, 1.0);  // outside: 1
  // Zone 2: all weights 0 -> no mean, 0 and never NaN.
  s.w->AddCellValue(2, 1, 2, 8.0, 1.0);
  s.w->AddCellValue(2, 2, 2, 8.0, 1.0);
  s.w->AggregateAndWrite(2020, 1, 1, 0, 0);
  EXPECT_DOUBLE_EQ(s.w->CurrentValue(1), (6.0 + 6.0 + 4.0) / 5.0);
  EXPECT_EQ(s.w->CurrentValue(2), 0.0);
  EXPECT_DOUBLE_EQ(s.w->CurrentValue(4), 16.0 / 5.0);
  s.w->Release();
  EXPECT_EQ(s.text().find("nan"), std::string::npos);
  EXPECT_EQ(s.text().find("inf"), std::string::npos);
}

TEST(ZonalStatistic, EntersTheStatisticsTableAndLeavesItOnRelease) {
  Writer a(2001, 3);
  Writer b(1001, 3);
  std::vector<StatisticsTableEntry> table(201);
  EXPECT_EQ(a.w->WriteHeader("a", "x", table.data(), 200), 0);
  EXPECT_EQ(b.w->WriteHeader("b", "y", table.data(), 200), 1);
  ASSERT_NE(table[0].values, nullptr);
  EXPECT_EQ(*table[0].valueCount, 4);
  EXPECT_EQ(table[0].codes[3], 7);
  EXPECT_DOUBLE_EQ(table[0].areaFractions[4], 1.0);
  EXPECT_STREQ(table[0].title, "a_submodel:x");
  a.Step({{1}, {2}, {3}}, 5, 6);
  EXPECT_DOUBLE_EQ(table[0].values[2], 2.0);
  EXPECT_EQ(table[0].lastRowDate[2], 5);
  a.w->Release();
  EXPECT_EQ(table[0].values, nullptr);
  EXPECT_NE(table[1].values, nullptr);
  // A full table: the writer is not entered.
  std::vector<StatisticsTableEntry> full(2);
  double dummy[2] = {0, 0};
  full[0].values = full[1].values = dummy;
  EXPECT_EQ(b.w->WriteHeader("b", "y", full.data(), 2), -1);
}

TEST(ZonalStatistic, FullBufferIsWrittenWhenItsLastRowIsComplete) {
  // 87376 zones make rows of 699048 bytes: three rows fill the buffer.
  const int z = 87376;
  std::vector<ZoneTableEntry> zones(z + 1);
  for (int i = 1; i <= z; ++i) {
    zones[i].code = i;
    zones[i].fraction = 1.0 / z;
  }
  CapturedLog log;
  TempDir dir;
  int error = -1;
  zonalstatistic w(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), z, 2001, 0, dir.file("big.txt"),
                   nullptr, 0, nullptr, false);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(w.Capacity(), 3);
  w.WriteHeader("big", "x", nullptr, 0);
  const auto headerSize = ReadTextFile(dir.file("big.txt")).size();
  for (int step = 1; step <= 3; ++step) {
    w.ClearZoneSums();
    w.AddCellValue(1, 1, 1, step, 1.0);
    w.AggregateAndWrite(2020, 1, 1, step, 0);
    if (step < 3) {
      EXPECT_EQ(ReadTextFile(dir.file("big.txt")).size(), headerSize);
    }
  }
  EXPECT_EQ(w.BufferedRows(), 0);
  EXPECT_GT(ReadTextFile(dir.file("big.txt")).size(), headerSize);
  const long bytes = (z + 1 + 4) * 3L * 8;
  EXPECT_NE(log.console().find("(" + std::to_string(bytes) + " of 2097152 buffer-bytes)"), std::string::npos);
  w.Release();
}

TEST(ZonalStatistic, AbsoluteNamesIgnoreTheOutputDirectoryAndOpenFailuresAreFatal) {
  std::vector<ZoneTableEntry> zones = Zones({1}, {1.0});
  CapturedLog log;
  TempDir dir;
  int error = -1;
  zonalstatistic abs(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 1001, 2, dir.file("a.txt"),
                     "/nonexistent/", 0, nullptr, false);
  EXPECT_EQ(abs.FileName(), dir.file("a.txt"));
  zonalstatistic rel(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 1001, 2, "a.txt",
                     "/nonexistent/dir/", 0, nullptr, false);
  EXPECT_EQ(rel.FileName(), "/nonexistent/dir/a.txt");
  try {
    rel.WriteHeader("t", "u", nullptr, 0);
    FAIL() << "no error raised";
  } catch (int code) {
    EXPECT_EQ(code, 15);
  }
  // The name as it is, on the line of the message: the diagnostics file shows no ";" for a
  // line break in front of it.
  const std::string diag = log.CloseAndReadDiag();
  EXPECT_NE(diag.find("description= \"error opening /nonexistent/dir/a.txt (No such file or directory; the folder "
                      "/nonexistent/dir/ does not exist)\""),
            std::string::npos)
      << diag;
}

TEST(ZonalStatistic, PeriodZeroNeverWritesARow) {
  Writer s(3000, 3);  // 3000: mode 3, period 0
  ASSERT_EQ(s.error, 0);
  s.w->WriteHeader("t", "u", s.table.data(), 200);
  for (int h = 0; h < 5; ++h) s.Step({{1}, {1}, {1}}, 1, h);
  EXPECT_EQ(s.w->BufferedRows(), 0);
  s.w->Release();
  EXPECT_EQ(s.text(), "YY\tMM\tDD\tHH\ttot_average\nt_submodel:u\n--\t--\t--\t--\t1.0000\n");
}

TEST(ZonalStatistic, AFileThatCannotBeWrittenEndsWithTheCloseFailure) {
  std::vector<ZoneTableEntry> zones = Zones({1}, {1.0});
  CapturedLog log;
  int error = -1;
  // Every write to /dev/full fails when the stream is flushed.
  zonalstatistic w(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), 1, 1001, 2, "/dev/full", nullptr,
                   0, nullptr, false);
  ASSERT_EQ(error, 0);
  try {
    w.WriteHeader("t", "u", nullptr, 0);
    FAIL() << "no error raised";
  } catch (int code) {
    EXPECT_EQ(code, 16);
  }
  EXPECT_NE(log.console().find("cannot close /dev/full"), std::string::npos);
  w.ClearZoneSums();
  w.AddCellValue(1, 1, 1, 2.0, 1.0);
  w.AggregateAndWrite(2020, 1, 1, 0, 0);
  EXPECT_THROW(w.WriteRow(), int);
  EXPECT_EQ(w.BufferedRows(), 1);  // the rows stay for a later attempt
  EXPECT_NE(log.console().find("cannot close /dev/full (No space left on device): its 1 rows from 01.01.2020 00:00 on"),
            std::string::npos)
      << log.console();
  // The release neither throws nor tries (and names) the file a second time.
  TakeUnraisedWriteFailure();
  const size_t named = log.console().size();
  EXPECT_NO_THROW(w.Release());
  EXPECT_EQ(log.console().size(), named);
  EXPECT_EQ(TakeUnraisedWriteFailure(), 0);
}

// At the end of a run every writer with rows is written, each also after another one
// failed, and a release that fails notes its code instead of throwing it.
TEST(ZonalStatistic, AFailingFileCostsNoOtherFileItsRowsAndAReleaseNeverThrows) {
  Writer full(2001, 2), fine(2001, 2);
  for (Writer* s : {&full, &fine}) {
    s->w->WriteHeader("t", "u", s->table.data(), 200);
    s->Step({{1}, {2}, {3}}, 1, 0);
  }
  std::remove(full.path().c_str());
  ASSERT_EQ(symlink("/dev/full", full.path().c_str()), 0);
  TakeUnraisedWriteFailure();
  EXPECT_EQ(zonalstatistic::WriteEveryBuffer(), 16);
  EXPECT_TRUE(full.w->LastWriteFailed());
  EXPECT_EQ(fine.w->BufferedRows(), 0);
  EXPECT_NE(fine.text().find(" 1\t 0\t1.00\t2.00\t3.00\t"), std::string::npos) << fine.text();
  // A writer whose write was never tried fails in its release: noted, not thrown.
  Writer never(2001, 2);
  never.w->WriteHeader("t", "u", never.table.data(), 200);
  never.Step({{1}, {2}, {3}}, 1, 0);
  std::remove(never.path().c_str());
  ASSERT_EQ(symlink("/dev/full", never.path().c_str()), 0);
  EXPECT_NO_THROW(never.w->Release());
  EXPECT_EQ(TakeUnraisedWriteFailure(), 16);
  EXPECT_NE(never.log.console().find("cannot close " + never.path()), std::string::npos);
}

TEST(AppendWhole, AnAppendThatDoesNotFitLeavesTheFileWithItsWholeRows) {
  TempDir dir;
  const std::string path = dir.file("rows.txt");
  WriteTextFile(path, "row 1\n");
  // A file size limit stands in for a full disk: the write stops part way.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 10;
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool opened = false;
  const int e = AppendWhole(path, "row 2 is longer\n", opened);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(opened);
  EXPECT_EQ(e, EFBIG);
  EXPECT_EQ(ReadTextFile(path), "row 1\n");
  EXPECT_EQ(AppendWhole(path, "row 2\n", opened), 0);
  EXPECT_EQ(ReadTextFile(path), "row 1\nrow 2\n");
  EXPECT_EQ(AppendWhole(dir.file("no/such/rows.txt"), "x", opened), ENOENT);
  EXPECT_FALSE(opened);
}
