// The end of a run: the order of the final flush and of the module releases, the log
// sequence, the best-effort release past a failing module, and the storage file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "framework/app_test_support.h"
#include "framework/new_file.h"
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

namespace {

// A file of the end state as a writer leaves it: whole under its staged name, noted with
// the size and checksum of its bytes.
void Stage(const std::string& path, const std::string& bytes) {
  WriteTextFile(EndStateStagedName(path), bytes);
  unsigned long long size = 0, checksum = 0;
  ASSERT_TRUE(FileFingerprint(EndStateStagedName(path), size, checksum));
  NoteEndStateFile(path, true, size, checksum);
}

}  // namespace

// The end state replaces the earlier one as a set, the storage file last, with the marker of
// an incomplete state beside it while the files are moved; the record holds the sizes and
// checksums of the bytes written, names relative to the storage file's folder.
TEST(StorageFile, TheEndStateReplacesTheEarlierOneAsOneSetWithTheStorageFileLast) {
  TempDir dir;
  const std::string storagePath = dir.file("storage.txt"), grid = dir.file("sd.asc"), other = dir.file("sub/suz.asc");
  std::filesystem::create_directories(dir.file("sub"));
  for (const std::string& f : {storagePath, grid, other}) WriteTextFile(f, "the earlier state\n");
  StorageFile storage;
  storage.BeginRun();
  Stage(grid, "abd");
  Stage(grid, "abc");  // written twice: the later one stands, once in the record
  Stage(other, "xyz");
  NoteEndStateFile(dir.file("series.nc"), false, 7, 0x1234);  // written in place step by step
  storage.AddPart(storagePath, "[soil_model]\n1\n");
  CapturedLog log;
  const ModelDate date{0, 12, 5, 1, 1985};
  static std::vector<std::string> moved, markers;
  moved.clear();
  markers.clear();
  static std::string marker;
  marker = IncompleteStateMarker(storagePath);
  ASSERT_EQ(storage.Commit(&log.log(), &date,
                           [](const std::string& f) {
                             moved.push_back(f);
                             markers.push_back(ReadTextFile(marker));
                           }),
            0)
      << log.console();
  EXPECT_EQ(moved, (std::vector<std::string>{grid, other, storagePath}));
  // The files named relative to the marker's folder, as the record names them.
  EXPECT_NE(markers.front().find("\nsd.asc\nsub/suz.asc\nstorage.txt\n"), std::string::npos) << markers.front();
  EXPECT_EQ(markers.back(), markers.front());
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(ReadTextFile(grid), "abc");
  EXPECT_EQ(ReadTextFile(other), "xyz");
  for (const std::string& f : {storagePath, grid, other}) EXPECT_FALSE(std::filesystem::exists(EndStateStagedName(f)));
  const std::string text = ReadTextFile(storagePath);
  EXPECT_EQ(text, "[soil_model]\n1\n[end_state]\n1985 1 5 12 0 (date of the state: year month day hour minute)\n"
                  "3 (files written at the end of the run: bytes, checksum, name)\n3 e71fa2190541574b sd.asc\n"
                  "7 0000000000001234 series.nc\n3 bff4aa198026f420 sub/suz.asc\n\n");
  // The modules' readers pass over it: a file ending in it ends in the soil part.
  EXPECT_NE(StorageFileEnd(text, "[snow_model_v2]").find("its part [soil_model], which begins at line 1"),
            std::string::npos);
}

// A warm start reads the state grids as they are: one that differs from the record (edited
// after the run) is named, a file of the same name in another folder is none of the state,
// and a state of another date than the step before the run's start is said in a WARNING.
TEST(StorageFile, AWarmStartNamesTheGridsEditedSinceAndAStateOfAnotherDate) {
  TempDir dir;
  const std::string storagePath = dir.file("storage.txt"), grid = dir.file("sd.asc");
  std::filesystem::create_directories(dir.file("other"));
  WriteTextFile(dir.file("other/sd.asc"), "a grid of another folder\n");
  StorageFile storage;
  storage.BeginRun();
  Stage(grid, "abc\n");
  storage.AddPart(storagePath, "[soil_model]\n1\n");
  CapturedLog log;
  const ModelDate date{0, 12, 5, 1, 1985};
  ASSERT_EQ(storage.Commit(&log.log(), &date), 0);

  StorageFile warm;
  StorageFile::DeclareRead(&warm, storagePath, &log.log());
  const auto check = [&](const ModelDate& start, double step) {
    const size_t from = log.console().size();
    warm.CheckEndState({grid, dir.file("other/sd.asc")}, start, step, &log.log());
    return log.console().substr(from);
  };
  // The step before the start, hourly, half-hourly and as 24 h of the day before.
  for (const auto& [start, step] : {std::make_pair(ModelDate{0, 13, 5, 1, 1985}, 60.0),
                                    std::make_pair(ModelDate{30, 12, 5, 1, 1985}, 30.0),
                                    std::make_pair(ModelDate{0, 24, 5, 1, 1985}, 720.0)})
    EXPECT_EQ(check(start, step), "warm start from the state at the end of the step of 05.01.1985 12:00 in " +
                                      storagePath + ": its 1 state file read agree with its record\n");
  WriteTextFile(grid, "abc\r\n");  // other line ends
  std::string said = check(ModelDate{0, 0, 1, 3, 1988}, 60.0);
  EXPECT_EQ(Occurrences(said, "\n"), 2) << said;
  EXPECT_NE(said.find("the state grid " + grid + " differs from the state the run wrote: edited after the run "
                      "(it holds 5 bytes"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("warm start from the state at the end of the step of 05.01.1985 12:00 in " +
                      storagePath + ", which is not the state at the end of the step before this run's start (that of "
                      "29.02.1988 23:00): the run goes on from the state of another date: 0 of its 1 state files read "
                      "agree with its record, 1 was edited after the run"),
            std::string::npos)
      << said;

  // An older storage file without the record: one INFO, nothing checked.
  WriteTextFile(storagePath, "[soil_model]\n1\n");
  EXPECT_NE(check(ModelDate{}, 60.0).find("holds no record [end_state] of the state grids written with it"), std::string::npos);
  // A damaged record is refused.
  WriteTextFile(storagePath, "[end_state]\n1985 1 5 12 0\n1 (files)\n3 xyz sd.asc\n");
  EXPECT_THROW(check(ModelDate{}, 60.0), int);
  EXPECT_NE(log.console().find("is damaged (line 4: the checksum xyz is no hexadecimal number)"), std::string::npos)
      << log.console();
  // The edited grid is an INFO, the other date a WARNING.
  const std::string diag = log.CloseAndReadDiag();
  EXPECT_NE(diag.find("level=\"3\" description= \"the state grid " + grid + " differs"), std::string::npos) << diag;
  EXPECT_NE(diag.find("level=\"2\" description= \"warm start from the state at the end of the step of 05.01.1985 "
                      "12:00 in " + storagePath + ", which is not"),
            std::string::npos)
      << diag;
}

// A storage file and a state grid whose "<name>.tmp" and marker "<storage file>.incomplete"
// would be longer than the folder's file system takes: the end state waits and is marked
// under names cut to fit, and a state left incomplete is found where the run marked it,
// beside the storage file and by the state grid a warm start reads alike.
TEST(StorageFile, TheMarkerOfLongNamesStandsWhereAWarmStartLooks) {
  TempDir dir;
  const size_t most = NameLimitsOf(dir.file("x")).name;
  const std::string storageName = std::string(most - 4, 's') + ".txt", gridName = std::string(most - 4, 'g') + ".asc";
  const std::string storagePath = dir.file(storageName), grid = dir.file(gridName);
  for (const std::string& f : {storagePath, grid}) WriteTextFile(f, "the earlier state\n");
  StorageFile storage;
  storage.BeginRun();
  Stage(grid, "new grid\n");
  storage.AddPart(storagePath, "[soil_model]\n1\n");
  CapturedLog log;
  const ModelDate date{0, 12, 5, 1, 1985};
  const std::string marker = IncompleteStateMarker(storagePath);
  std::string listed;
  ASSERT_EQ(storage.Commit(&log.log(), &date,
                           [&](const std::string&) {
                             if (listed.empty()) listed = ReadTextFile(marker);
                           }),
            0)
      << log.console();
  EXPECT_LE(BaseLength(marker), most);
  EXPECT_NE(listed.find("\n" + gridName + "\n" + storageName + "\n"), std::string::npos) << listed;
  EXPECT_EQ(ReadTextFile(grid), "new grid\n");
  for (const std::string& f : {storagePath, grid, marker, EndStateStagedName(grid), EndStateStagedName(storagePath)})
    EXPECT_EQ(std::filesystem::exists(f), f == storagePath || f == grid) << f;
  // A run killed after the grid's move, before the storage file's.
  WriteTextFile(marker, listed);
  WriteTextFile(EndStateStagedName(storagePath), "[soil_model]\n2\n");
  StorageFile warm, gridsOnly;
  EXPECT_EQ(ThrownCode([&] { StorageFile::DeclareRead(&warm, storagePath, &log.log()); }), 71);
  EXPECT_EQ(ThrownCode([&] { gridsOnly.CheckIncompleteStates({grid}, &log.log()); }), 71);
  EXPECT_EQ(Occurrences(log.console(), "the state of the storage file " + storagePath + " is incomplete"), 2)
      << log.console();
}

// A device under the marker's name (the run keeps there the list of the files it moves) is
// named for what it is, not as "(File exists)", and is left as it is; nothing is moved.
TEST(StorageFile, ADeviceUnderTheMarkersNameIsNamedAndLeft) {
  TempDir dir;
  const std::string storagePath = dir.file("state.txt");
  const std::string marker = IncompleteStateMarker(storagePath);
  if (::mknod(marker.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "no device can be made here";
  WriteTextFile(storagePath, "old\n");
  StorageFile storage;
  storage.BeginRun();
  storage.AddPart(storagePath, "new\n");
  CapturedLog log;
  EXPECT_EQ(storage.Commit(&log.log()), 1);
  EXPECT_NE(log.console().find("cannot write " + marker + " (a character device stands under that name"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(log.console().find("File exists"), std::string::npos) << log.console();
  struct stat st;
  ASSERT_EQ(::lstat(marker.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(ReadTextFile(storagePath), "old\n");
  EXPECT_FALSE(std::filesystem::exists(EndStateStagedName(storagePath)));
}

// A storage file that cannot be written costs no state: nothing is moved, the files written
// for the end state are removed and the earlier state stays whole.
TEST(StorageFile, AFileThatCannotBeWrittenLeavesTheEarlierStateWhole) {
  TempDir dir;
  const std::string good = dir.file("good.txt"), grid = dir.file("sd.asc");
  WriteTextFile(good, "old\n");
  WriteTextFile(grid, "old grid\n");
  StorageFile storage;
  storage.BeginRun();
  Stage(grid, "new grid\n");
  storage.AddPart(dir.file("no-such-folder/storage.txt"), "[routing_model_v2]\n");
  storage.AddPart(good, "new\n");
  CapturedLog log;
  EXPECT_EQ(storage.Commit(&log.log()), 1);
  EXPECT_NE(log.console().find("cannot write the storage file " + dir.file("no-such-folder/storage.txt")),
            std::string::npos);
  EXPECT_EQ(ReadTextFile(good), "old\n");
  EXPECT_EQ(ReadTextFile(grid), "old grid\n");
  for (const std::string& f : {good, grid}) {
    EXPECT_FALSE(std::filesystem::exists(EndStateStagedName(f))) << f;
    EXPECT_FALSE(std::filesystem::exists(IncompleteStateMarker(f))) << f;
  }
  // A run given up (failed, or stopped while its end was written) leaves nothing behind.
  Stage(grid, "newer grid\n");
  storage.AddPart(good, "newer\n");
  storage.Abandon(&log.log(), "SIGTERM received");
  EXPECT_FALSE(std::filesystem::exists(EndStateStagedName(grid)));
  EXPECT_TRUE(storage.Empty());
  EXPECT_EQ(storage.Commit(&log.log()), 0);
  EXPECT_EQ(ReadTextFile(grid), "old grid\n");
  EXPECT_NE(log.console().find("SIGTERM received: the end state is not moved into place, the earlier state "
                               "files are left as they were"),
            std::string::npos);
}
