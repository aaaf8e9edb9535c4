// The end of a run: the order of the final flush and of the module releases, the log
// sequence, the best-effort release past a failing module, and the storage file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "framework/app_test_support.h"
#include "framework/storage_file.h"

namespace {

const std::vector<std::string> kShutdown = {
    "meteointerpol::WriteStatistics",
    "meteointerpol::WriteStatistics",
    "verdunstungsmodellklasse::WriteStatistics",
    "schneemodellklasse::WriteStatistics",
    "interzeptionsmodellklasse::WriteStatistics",
    "infiltrationsmodellklasse::WriteStatistics",
    "abflussmodellklasse::WriteStatistics",
    "RegionalSuperposition::WriteStatistics",
    "SpecialOutputClass::FlushAll",
    "data_assimilation::WriteStatistics",
    "defaultini::WriteZonalStatistics",
    "meteointerpol::DeleteModule",
    "meteointerpol::DeleteModule",
    "schneemodellklasse::DeleteTracers",
    "interzeptionsmodellklasse::DeleteTracers",
    "infiltrationsmodellklasse::DeleteTracers",
    "abflussmodellklasse::DeleteModule",
    "infiltrationsmodellklasse::DeleteModule",
    "interzeptionsmodellklasse::DeleteModule",
    "schneemodellklasse::DeleteModule",
    "verdunstungsmodellklasse::DeleteModule",
    "expokorrklasse::DeleteModule",
    "RegionalSuperposition::DeleteModule",
    "precicorrclass::DeleteModule",
    "tracer_ini_class::DeleteModule",
    "SpecialOutputClass::DeleteModule",
    "data_assimilation::DeleteModule",
    "defaultini::DeleteModule",
};

size_t After(const std::string& text, const std::string& piece, size_t from) {
  const size_t p = text.find(piece, from);
  return p == std::string::npos ? p : p + piece.size();
}

}  // namespace

TEST(AppShutdown, FlushAndReleaseInTheirFixedOrderWithTheLogSequence) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 2;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  app->run();
  s.calls.clear();
  app->ClearMemory();
  EXPECT_EQ(s.calls, kShutdown);
  EXPECT_EQ(app->initComplete, 0);
  EXPECT_EQ(app->interpolatorCount, 0);
  EXPECT_EQ(app->modules.defaults, nullptr);
  EXPECT_EQ(app->modules.routing, nullptr);
  EXPECT_TRUE(app->modules.interpolators.empty());

  const std::string console = log.console();
  size_t p = 0;
  // The success line only once every buffer and end-of-run file is written.
  for (const char* line : {"free memory ...\n", "meteointerpolators are freed...\n",
                           "end of simulation reached successfully!\n", "o.k.\n",
                           "now removing modules...o.k.\n\nthe end.\n"}) {
    p = After(console, line, p);
    ASSERT_NE(p, std::string::npos) << line;
  }
}

TEST(AppShutdown, WithoutInterpolatorsTheLogStillShowsTheirRelease) {
  BasinCopy basin;
  AppSeams s;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  app->run();
  app->ClearMemory();
  EXPECT_NE(log.console().find("meteointerpolators are freed..."), std::string::npos);
  EXPECT_EQ(std::count(s.calls.begin(), s.calls.end(), "meteointerpol::DeleteModule"), 0);
}

TEST(AppShutdown, AFailingReleaseDoesNotStopTheOthersAndItsCodeIsRaisedAtTheEnd) {
  BasinCopy basin;
  AppSeams s;
  NextClockPlan().count = 2;
  NextClockPlan().failOnDelete[2] = 18;
  NextClockPlan().failOnDelete[1] = 27;
  CapturedLog log;
  auto app = MakeApplication(log.log(), basin.ControlFile());
  app->run();
  s.calls.clear();
  EXPECT_EQ(ThrownCode([&] { app->ClearMemory(); }), 18);  // the first failure (interpolator 2)
  EXPECT_EQ(s.calls, kShutdown);
  EXPECT_EQ(app->modules.defaults, nullptr);
  // A failed end is no success: neither the success line nor an "o.k." is written.
  const std::string console = log.console();
  EXPECT_LT(console.find("now removing modules...\n"), console.find("Exception in Modellapplication::ClearMemory() caught!"));
  EXPECT_EQ(console.find("successfully"), std::string::npos);
  EXPECT_EQ(console.find("o.k."), std::string::npos);
}

TEST(StorageFile, TheFirstPartOfARunStartsTheFileAnewAndLaterPartsFollowIt) {
  TempDir dir;
  const std::string name = dir.file("storage.txt");
  WriteTextFile(name, "[snow_model_v2]\nstale state of an earlier run\n");
  StorageFile storage;
  // Routing switched off: the soil model is the first writer of this run.
  storage.AddPart(name, "[soil_model_v2]\n1 2 3\n");
  storage.AddPart(name, "[snow_model_v2]\n4 5\n");
  EXPECT_EQ(storage.Text(name), "[soil_model_v2]\n1 2 3\n[snow_model_v2]\n4 5\n");
  CapturedLog log;
  EXPECT_EQ(storage.Commit(&log.log()), 0);
  EXPECT_EQ(ReadTextFile(name), "[soil_model_v2]\n1 2 3\n[snow_model_v2]\n4 5\n");
  EXPECT_FALSE(std::ifstream(name + ".tmp").good());
  EXPECT_TRUE(storage.Empty());
}

// The storage file ends with the record of the state grids written before it; a warm start
// checks the grids it reads by their names against it.
TEST(StorageFile, RecordsTheEndStateAndAWarmStartChecksItsGridsAgainstIt) {
  TempDir dir;
  const std::string storagePath = dir.file("storage.txt"), grid = dir.file("sd.asc");
  WriteTextFile(grid, "abc");
  StorageFile storage;
  storage.BeginRun();
  NoteEndStateFile(grid);
  NoteEndStateFile(grid);  // once in the record
  storage.AddPart(storagePath, "[soil_model]\n1\n");
  CapturedLog log;
  const ModelDate date{0, 12, 5, 1, 1985};
  ASSERT_EQ(storage.Commit(&log.log(), &date), 0);
  const std::string text = ReadTextFile(storagePath);
  EXPECT_EQ(text, "[soil_model]\n1\n[end_state]\n1985 1 5 12 0 (date of the state: year month day hour minute)\n"
                  "1 (files written at the end of the run: bytes, checksum, name)\n3 e71fa2190541574b sd.asc\n\n");
  // The modules' readers pass over it: a file ending in it ends in the soil part.
  EXPECT_NE(StorageFileEnd(text, "[snow_model_v2]").find("its part [soil_model], which begins at line 1"),
            std::string::npos);

  StorageFile warm;
  StorageFile::DeclareRead(&warm, storagePath);
  warm.CheckEndState({grid, dir.file("other.asc")}, &log.log());
  EXPECT_NE(log.console().find("warm start from the state at the end of the step of 05.01.1985 12:00 in " +
                               storagePath + ": its 1 state file read agree"),
            std::string::npos)
      << log.console();
  WriteTextFile(grid, "abd");  // written by another run
  EXPECT_THROW(warm.CheckEndState({grid}, &log.log()), int);
  EXPECT_NE(log.console().find("the state grid " + grid + " is not the one that the storage file " + storagePath +
                               " was written with"),
            std::string::npos);
  // An older storage file without the record: one INFO, nothing checked.
  WriteTextFile(storagePath, "[soil_model]\n1\n");
  warm.CheckEndState({grid}, &log.log());
  EXPECT_NE(log.console().find("holds no record of the state grids written with it"), std::string::npos);
  // A damaged record is refused.
  WriteTextFile(storagePath, "[end_state]\n1985 1 5 12 0\n1 (files)\n3 xyz sd.asc\n");
  EXPECT_THROW(warm.CheckEndState({grid}, &log.log()), int);
  EXPECT_NE(log.console().find("is damaged (line 4: the checksum xyz is no hexadecimal number)"), std::string::npos)
      << log.console();
}

TEST(StorageFile, AFileThatCannotBeWrittenIsReportedAndTheEarlierOneStays) {
  TempDir dir;
  const std::string good = dir.file("good.txt");
  WriteTextFile(good, "old\n");
  StorageFile storage;
  storage.AddPart(dir.file("no-such-folder/storage.txt"), "[routing_model_v2]\n");
  storage.AddPart(good, "new\n");
  CapturedLog log;
  EXPECT_EQ(storage.Commit(&log.log()), 1);
  EXPECT_NE(log.console().find("cannot write the storage file " + dir.file("no-such-folder/storage.txt")),
            std::string::npos);
  EXPECT_EQ(ReadTextFile(good), "new\n");  // the other file is still written
}
