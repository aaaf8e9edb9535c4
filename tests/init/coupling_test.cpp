// The coupling settings of [ExternalCoupling], the lookup of the exchanged entities, the
// per-step sums and the reading side of the exchange with its semaphore file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "init/coupling.h"
#include "init_harness.h"

namespace {

const char* kSection =
    "[ExternalCoupling]\n"
    "1 Coupling mode\n"
    "sema.txt name of the semaphore file\n"
    "30 wait interval\n"
    "D grid mode\n"
    "1440 external time step\n"
    "2 number external grids (to read)\n"
    "gw.asc GWTableExtern 0 1\n"
    "rch.asc recharge 1 0 rest of the last line\n"
    "3 number external grids (to write)\n"
    "out_sum.asc runoff Sum\n"
    "out_tot.asc runoff SumTotal_DMY\n"
    "out_now.asc runoff Current\n"
    "1 number external Stats (to write)\n"
    "stat.txt soil_moisture Mean\n"
    "inform.txt informing semaphore file\n"
    "ready informing semaphore content\n";

struct Coupled : ::testing::Test {
  // Writes the control file and reads the section on a 3x2 basin whose cell (1,3) is
  // outside.
  void Read(const std::string& text) {
    h.Domain(3, 2);
    Rows zone = h.Filled(1.0);
    zone[0][2] = -9999.0;
    h.Put(1, "[zone_grid]", zone);
    h.d->RankZones(nullptr);
    h.d->controlFileName = h.dir.file("run.ctl");
    WriteTextFile(h.d->controlFileName, "[model_time]\n0\n" + text);
    h.d->GetCouplingParameters();
  }
  int Fails(const std::string& text) {
    return ThrownCode([&] { Read(text); });
  }
  // Section text with one line replaced.
  static std::string With(const std::string& from, const std::string& to) {
    std::string s = kSection;
    s.replace(s.find(from), from.size(), to);
    return s;
  }
  void TearDown() override {
    SetCouplingClock(nullptr);
    SetCouplingWaiter(nullptr);
    SetCouplingRemover(nullptr);
  }
  InitHarness h;
};

TEST_F(Coupled, ReadsTheWholeSection) {
  Read(kSection);
  const defaultini& d = *h.d;
  EXPECT_TRUE(d.IsCoupled());
  EXPECT_EQ(d.GetSemaphoreFileName(), "sema.txt");
  EXPECT_EQ(d.GetWaitInterval(), 30);
  EXPECT_EQ(d.GetExternalGridMode(), 'D');
  EXPECT_EQ(d.GetExternalTimeStep(), 1440);
  EXPECT_TRUE(d.HasGWTableExtern());
  ASSERT_EQ(d.coupling.readGrids.size(), 2u);
  EXPECT_EQ(d.coupling.readGrids[1].fileName, "rch.asc");
  EXPECT_EQ(d.coupling.readGrids[1].internalName, "recharge");
  EXPECT_EQ(d.coupling.readGrids[1].fillCode, 1);
  EXPECT_EQ(d.coupling.readGrids[1].renameCode, 0);
  ASSERT_EQ(d.coupling.writeGrids.size(), 3u);
  // Sum and running-total codes get a sum grid: 0 in the basin, no-data outside.
  ASSERT_TRUE(d.coupling.writeGrids[0].sum);
  EXPECT_EQ(d.coupling.writeGrids[0].sum[1][1], 0.0);
  EXPECT_EQ(d.coupling.writeGrids[0].sum[1][3], -9999.0);
  EXPECT_TRUE(d.coupling.writeGrids[1].sum);
  EXPECT_FALSE(d.coupling.writeGrids[2].sum);
  ASSERT_EQ(d.coupling.statistics.size(), 1u);
  EXPECT_EQ(d.coupling.statistics[0].entityName, "soil_moisture");
  EXPECT_EQ(d.coupling.statistics[0].writeCode, "Mean");
  EXPECT_EQ(d.GetInformSemaphoreFileName(), "inform.txt");
  EXPECT_EQ(d.GetInformSemaphoreContent(), "ready");
}

TEST_F(Coupled, WithoutSectionOrWithModeZeroTheCouplingIsOff) {
  Read("");
  EXPECT_FALSE(h.d->IsCoupled());
  EXPECT_EQ(h.d->GetExternalGridMode(), 'I');
  // Mode 0 reads nothing more, so what follows may be anything.
  Read("[ExternalCoupling]\n0 Coupling mode\nnonsense\n");
  EXPECT_FALSE(h.d->IsCoupled());
  EXPECT_TRUE(h.d->coupling.semaphoreFile.empty());
}

TEST_F(Coupled, ReadingErrorsEndTheRunWithCode10) {
  EXPECT_EQ(Fails(With("D grid mode", "d grid mode")), 10);
  EXPECT_NE(h.Console().find("error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults"),
            std::string::npos);
  EXPECT_NE(h.Console().find("possible reason: parameter missing or a linefeed \nbefore the end of the parameter "
                             "block"),
            std::string::npos);
  EXPECT_EQ(Fails("[ExternalCoupling]\nyes Coupling mode\n"), 10);
  EXPECT_EQ(Fails(With("30 wait", "soon wait")), 10);
  EXPECT_EQ(Fails(With("rch.asc recharge 1 0", "rch.asc recharge one 0")), 10);
  EXPECT_EQ(Fails(With("out_now.asc runoff Current", "out_now.asc runoff " + std::string(50, 'C'))), 10);
  EXPECT_EQ(Fails(With("ready informing semaphore content\n", "")), 10);
  EXPECT_NE(h.Console().find("error reading semaphore Content for file to be written by orvel "), std::string::npos);
}

TEST_F(Coupled, MissingControlFileIsCode14) {
  h.Domain(3, 2);
  h.d->controlFileName = h.dir.file("absent.ctl");
  EXPECT_EQ(ThrownCode([&] { h.d->GetCouplingParameters(); }), 14);
  EXPECT_NE(h.Console().find("error opening "), std::string::npos);
}

// A section whose grids name registered grids "GWTableExtern", "recharge", "runoff".
struct Exchange : Coupled {
  void SetUp() override {
    Read(kSection);
    gw = h.Put(2, "GWTableExtern", h.Filled(0.0));
    recharge = h.Put(3, "recharge", h.Filled(0.0));
    runoff = h.Put(4, "runoff", {{1, 2, 3}, {4, 5, 6}});
  }
  double** gw = nullptr;
  double** recharge = nullptr;
  double** runoff = nullptr;
};

TEST_F(Exchange, EntitiesResolveToGridsAndStatisticsAreOrderedByTheList) {
  std::vector<ExternalStatisticRecord> records(4);
  records[0].name = "snow cover";
  records[1].name = "mean soil moisture";
  for (auto& r : records) r.values = {0.0, 1.0};
  records[3].values.clear();
  records[3].name = "soil moisture beyond the end";
  h.d->FindExternalEntities(records, 4);
  EXPECT_EQ(h.d->coupling.readGrids[0].data, gw);
  EXPECT_EQ(h.d->coupling.writeGrids[2].data, runoff);
  // The blank-spelled name matches; the record moved to the statistic's place and the one
  // that stood there is kept.
  EXPECT_EQ(records[0].name, "mean soil moisture");
  EXPECT_EQ(records[1].name, "snow cover");
  EXPECT_EQ(h.d->coupling.statistics[0].record, &records[0]);

  // A record after the first one without values is not searched.
  std::vector<ExternalStatisticRecord> ended(2);
  ended[1].name = "soil moisture";
  ended[1].values = {0.0, 1.0};
  EXPECT_EQ(ThrownCode([&] { h.d->FindExternalEntities(ended, 2); }), 1005);
}

TEST_F(Exchange, UnknownGridNamesAreCodes1003And1004) {
  std::vector<ExternalStatisticRecord> none;
  h.d->coupling.statistics.clear();
  h.d->coupling.writeGrids[1].internalName = "Runoff";
  EXPECT_EQ(ThrownCode([&] { h.d->FindExternalEntities(none, 0); }), 1004);
  EXPECT_NE(h.Console().find("with internal name \"Runoff\"\npossible reason"), std::string::npos);
  h.d->coupling.readGrids[0].internalName = "gw";
  EXPECT_EQ(ThrownCode([&] { h.d->FindExternalEntities(none, 0); }), 1003);
}

TEST_F(Exchange, AccumulationSumsOnlySumAndMeanGridsAndTheStatistics) {
  std::vector<ExternalStatisticRecord> records(1);
  records[0].name = "soil moisture";
  records[0].n = 3;
  records[0].values = {0.0, 1.5, 2.5};
  records[0].sums = {0.0, 0.0, 0.0};
  h.d->FindExternalEntities(records, 1);
  h.d->AccumulateExternalGrids();
  h.d->AccumulateExternalGrids();
  double** sum = h.d->coupling.writeGrids[0].sum.get();
  EXPECT_EQ(sum[1][1], 2.0);
  EXPECT_EQ(sum[2][3], 12.0);
  EXPECT_EQ(sum[1][3], -9999.0);  // outside the basin
  EXPECT_EQ(h.d->coupling.writeGrids[1].sum[2][3], 0.0);  // running totals are summed when written
  EXPECT_EQ(records[0].sums[1], 3.0);
  EXPECT_EQ(records[0].sums[2], 5.0);
  EXPECT_EQ(h.d->coupling.stepCounter, 2);
}

TEST_F(Exchange, CellsOfAnotherInstanceAreNoData) {
  std::vector<ExternalStatisticRecord> none;
  h.d->coupling.statistics.clear();
  h.d->FindExternalEntities(none, 0);
  double** regions = h.Put(5, "MPIRegions", {{0, 1, 0}, {0, 0, 0}});
  h.d->mpiRegions = regions;
  h.d->AccumulateExternalGrids();
  EXPECT_EQ(h.d->coupling.writeGrids[0].sum[1][2], -9999.0);
  EXPECT_EQ(h.d->coupling.writeGrids[0].sum[1][1], 1.0);
}

void WriteGridFile(const std::string& path, double value) {
  std::ofstream f(path);
  f << "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nNODATA_value -9999\n";
  for (int r = 0; r < 2; ++r) f << value << " " << value << " " << value << "\n";
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

TEST_F(Exchange, ReadsTheOutsideGridsRenamesOrDeletesThemAndRemovesTheSemaphore) {
  WorkingDirectory here(h.dir.path());  // the grid reader notes its filled cells in the working folder
  for (auto& g : h.d->coupling.readGrids) g.fileName = h.dir.file(g.fileName);
  h.d->coupling.semaphoreFile = h.dir.file("sema.txt");
  WriteGridFile(h.d->coupling.readGrids[0].fileName, 7.5);
  WriteGridFile(h.d->coupling.readGrids[1].fileName, 0.25);
  WriteTextFile(h.d->coupling.semaphoreFile, "done\n");
  std::vector<ExternalStatisticRecord> none;
  h.d->coupling.statistics.clear();
  h.d->FindExternalEntities(none, 0);
  SetCouplingClock([] { return 4711L; });
  h.d->ExchangeExternalGrids(2024, 3, 5, 6);
  EXPECT_EQ(gw[2][2], 7.5);
  EXPECT_EQ(recharge[1][1], 0.25);
  EXPECT_FALSE(Exists(h.dir.file("gw.asc")));
  EXPECT_TRUE(Exists(h.dir.file("gw.asc_2024_03_05_06_4711")));
  EXPECT_FALSE(Exists(h.dir.file("rch.asc")));  // rename code 0: deleted
  EXPECT_FALSE(Exists(h.d->coupling.semaphoreFile));
}

TEST_F(Exchange, ASemaphoreThatStaysIsTriedOnceMoreAfterAWait) {
  h.d->coupling.readGrids.clear();
  int attempts = 0;
  long waited = 0;
  SetCouplingWaiter([&](long ticks) { waited += ticks; });
  SetCouplingRemover([&](const std::string&) { return ++attempts < 2 ? -1 : 0; });
  h.d->ExchangeExternalGrids(2024, 3, 5, 6);
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(waited, 100);

  attempts = 0;
  SetCouplingRemover([&](const std::string&) { return ++attempts, -1; });
  EXPECT_EQ(ThrownCode([&] { h.d->ExchangeExternalGrids(2024, 3, 5, 6); }), 1001);
  EXPECT_EQ(attempts, 2);
  EXPECT_NE(h.Console().find("error deleting semaphore file sema.txt"), std::string::npos);
}

TEST(CouplingNames, ExchangedGridNameCarriesDateAndClock) {
  EXPECT_EQ(ExchangedGridName("gw.asc", 2024, 3, 5, 6, 99), "gw.asc_2024_03_05_06_99");
}

}  // namespace
