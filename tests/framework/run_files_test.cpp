// The files of a run: every file the run writes is checked against every file it reads
// before anything is written; a clash ends the start-up with code 26 naming both entries
// and leaves every file as it was, and a state read at the start is written back over its
// file only at the end of the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <filesystem>
#include <map>

#include "framework/file_reason.h"
#include "framework/new_file.h"
#include "framework/run_files.h"
#include "framework/shared_file.h"
#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using When = RunFiles::When;

// Every file under a folder with its contents, by path relative to the folder.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadTextFile(e.path().string());
  return files;
}

TEST(RunFiles, AWriteClashesWithARead) {
  TempDir dir;
  WriteTextFile(dir.file("a.asc"), "a");
  ASSERT_EQ(::link(dir.file("a.asc").c_str(), dir.file("hard.asc").c_str()), 0);
  const int state = 0, other = 0;
  struct Case {
    std::string read;
    When readWhen;
    const void* readState;
    std::string write;
    When writeWhen;
    const void* writeState;
    bool clash;
    const char* why;
  };
  const std::string any8 = RunFiles::AnyDigits(8), any4 = RunFiles::AnyDigits(4);
  const Case cases[] = {
      {dir.file("a.asc"), When::Run, nullptr, dir.file("sub/../a.asc"), When::Run, nullptr, true, "one file, two names"},
      {dir.file("a.asc"), When::Run, nullptr, dir.file("hard.asc"), When::Run, nullptr, true, "a hard link"},
      {dir.file("a.asc"), When::Run, nullptr, dir.file("b.asc"), When::Run, nullptr, false, "another file"},
      {dir.file("t_19850101.2300"), When::Run, nullptr, dir.file("t_" + any8 + "." + any4), When::Run, nullptr, true,
       "a dated name"},
      {dir.file("t_1985011.2300"), When::Run, nullptr, dir.file("t_" + any8 + "." + any4), When::Run, nullptr, false,
       "a date too short"},
      {dir.file("l_" + RunFiles::AnyDigits(10)), When::Run, nullptr, dir.file("l_" + any8 + "." + any4), When::Run,
       nullptr, false, "dated names of other shapes"},
      {dir.file("a.asc"), When::StartOnly, &state, dir.file("a.asc"), When::EndOnly, &state, false,
       "the state carried in place"},
      {dir.file("a.asc"), When::StartOnly, &state, dir.file("a.asc"), When::EndOnly, &other, true,
       "another entry's state"},
      {dir.file("a.asc"), When::StartOnly, &state, dir.file("a.asc"), When::Run, &state, true,
       "written during the run"},
      {dir.file("a.asc"), When::Run, &state, dir.file("a.asc"), When::EndOnly, &state, true, "read during the run"},
  };
  for (const Case& c : cases) {
    RunFiles files;
    files.Begin();
    files.Read("[r] reader", c.read, c.readWhen, c.readState);
    files.Write("[w] writer", c.write, c.writeWhen, c.writeState);
    const std::string clash = files.FirstClash();
    EXPECT_EQ(!clash.empty(), c.clash) << c.why << ": " << clash;
    if (c.clash) {
      EXPECT_EQ(clash.find("[w] writer would be written to "), 0u) << clash;
      EXPECT_NE(clash.find(", the file read for [r] reader: the run never writes over its input."), std::string::npos);
    }
    files.Abandon();
  }
}

// Two outputs in one file clash too; one entry writing its file at several times does not.
TEST(RunFiles, TwoOutputsInOneFileClash) {
  TempDir dir;
  const int state = 0;
  RunFiles files;
  files.Begin();
  files.Write("[a] grid", dir.file("g.asc"), When::Run, &state);
  files.Write("[a] grid at the end", dir.file("g.asc"), When::EndOnly, &state);
  files.Write("[s] statistics", dir.file("s.stat"));
  files.Write("[s] statistics", dir.file("s.stat"), When::EndOnly);
  EXPECT_EQ(files.FirstClash(), "");
  files.Write("the storage file", dir.file("sub/../s.stat"));
  EXPECT_EQ(files.FirstClash(), "[s] statistics and the storage file would both be written to " +
                                    dir.file("sub/../s.stat") + ": one would take the other's place. Give one of "
                                                                "them another name.");
  files.Abandon();
  // A FIFO under an output's name would be replaced by the new file, never written to (and
  // opening it would wait for a reader for ever): refused, naming what it is.
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  RunFiles outputs;
  outputs.Begin();
  outputs.Write("[s] statistics", dir.file("pipe"));
  EXPECT_NE(outputs.FirstClash().find("[s] statistics would be written to " + dir.file("pipe") + ", which is a FIFO"),
            std::string::npos)
      << outputs.FirstClash();
  outputs.Abandon();
}

// An output that names a character device (/dev/null, to throw it away) is written straight
// into it: no clash, also for several outputs into one device, no temporary name, and the
// device is still there after the build.
TEST(RunFiles, AnOutputNamingACharacterDeviceIsWrittenIntoIt) {
  TempDir dir;
  const std::string null = dir.file("null");
  std::string why;
  if (!MakeNullDevice(null, &why)) GTEST_SKIP() << why;
  CapturedLog log;
  RunFiles files;
  files.Begin();
  EXPECT_EQ(files.Create("[s] statistics", null), null);
  std::FILE* f = files.CreateStream("[t] table", null);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("rows nobody keeps\n", f) >= 0 && std::fclose(f) == 0, true);
  files.Write("the storage file", null, When::EndOnly);
  EXPECT_EQ(files.FirstClash(), "");
  files.Seal(&log.log());
  struct stat st;
  ASSERT_EQ(::lstat(null.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_FALSE(fs::exists(null + ".tmp"));
}

// Besides its outputs' own names the run writes under their temporary names and names of its
// own (the marker, the diagnostics file, lock files): an input or a second output under any
// of them clashes, by its name.
TEST(RunFiles, TheNamesTheRunWritesUnderAreItsOwn) {
  TempDir dir;
  const std::string input = dir.file("in.dat"), out = dir.file("QB.stat");
  WriteTextFile(input, "station values");
  struct Case {
    std::string read, write, otherWrite, reserve, why;
    std::string clash;  // words of the clash; empty: none
  };
  const Case cases[] = {
      {out + ".tmp", out, "", "", "an input under an output's temporary name",
       "[r] reader is read from " + out + ".tmp, the temporary name under which the run writes " + out +
           " for [w] writer: the run would remove or replace it"},
      {dir.file("d.xml"), "", "", dir.file("d.xml"), "an input named like the diagnostics file",
       "[r] reader is read from " + dir.file("d.xml") + ", the diagnostics file"},
      {input, dir.file("s.txt.tmp"), dir.file("s.txt"), "", "an output under another's temporary name",
       "[w] writer would be written to " + dir.file("s.txt.tmp") + ", the temporary name under which the run writes " +
           dir.file("s.txt") + " for [v] other writer: one would take the other's place"},
      {input, dir.file("d.xml"), "", dir.file("d.xml"), "an output named like the diagnostics file",
       "[w] writer would be written to " + dir.file("d.xml") + ", the diagnostics file: one would take the other's "
       "place"},
      {input, dir.file("QB.stat.tmp2"), "", "", "a name that only begins like a temporary name", ""},
  };
  for (const Case& c : cases) {
    RunFiles files;
    files.Begin();
    files.Read("[r] reader", c.read);
    if (!c.write.empty()) files.Write("[w] writer", c.write);
    if (!c.otherWrite.empty()) files.Write("[v] other writer", c.otherWrite);
    if (!c.reserve.empty()) files.Reserve("the diagnostics file", c.reserve, false);
    const std::string clash = files.FirstClash();
    if (c.clash.empty())
      EXPECT_EQ(clash, "") << c.why;
    else
      EXPECT_NE(clash.find(c.clash), std::string::npos) << c.why << ": " << clash;
    files.Abandon();
  }
}

// Nothing is removed while the run is built: a staged file whose temporary name is taken (by
// an input the run declares only later) is made under a name of the run's own, and the input
// stays whatever the check finds. A stale file under the temporary name goes once the check
// has passed.
TEST(RunFiles, NothingIsRemovedUnderATemporaryNameBeforeTheCheck) {
  TempDir dir;
  const std::string out = dir.file("QB.stat");
  WriteTextFile(out + ".tmp", "temperature records");
  CapturedLog log;
  {
    RunFiles files;
    files.Begin();
    const std::string staged = files.Create("[s] statistics", out);
    EXPECT_NE(staged, out + ".tmp");
    WriteTextFile(staged, "header");
    EXPECT_EQ(ReadTextFile(out + ".tmp"), "temperature records");
    files.Read("[t] station file", out + ".tmp");
    EXPECT_THROW(files.Seal(&log.log()), int);
    EXPECT_EQ(ReadTextFile(out + ".tmp"), "temperature records");
    EXPECT_FALSE(fs::exists(staged));
    EXPECT_FALSE(fs::exists(out));
  }
  {
    RunFiles files;
    files.Begin();
    WriteTextFile(files.Create("[s] statistics", out), "header");
    files.Seal(&log.log());
    EXPECT_EQ(ReadTextFile(out), "header");
    EXPECT_FALSE(fs::exists(out + ".tmp"));
  }
}

// The record of a warm start is checked against the files the run read: a file that is no
// longer the one opened (replaced or changed since, or another file when read again) is said.
TEST(RunFiles, AFileReadIsComparedAsItWasOpened) {
  TempDir dir;
  const std::string state = dir.file("sd.asc"), other = dir.file("other.asc");
  WriteTextFile(state, "ncols 1\n");
  WriteTextFile(other, "ncols 2\n");
  RunFiles files;
  files.Begin();
  std::FILE* f = std::fopen(state.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  files.Opened(state, fileno(f));
  std::fclose(f);
  files.Opened(dir.file("storage.txt"), -1);  // nothing there: nothing to compare
  EXPECT_EQ(files.ChangedSinceRead(state), "");
  EXPECT_EQ(files.ChangedSinceRead(dir.file("never-read.asc")), "");
  // Changed in place to as many bytes, its time of modification set back as touch -r, cp -p
  // and rsync -t set it: the time of its change still tells (edited until the clock's tick
  // has moved it on).
  struct stat opened {}, edited {};
  ASSERT_EQ(::stat(state.c_str(), &opened), 0);
  do {
    std::FILE* edit = std::fopen(state.c_str(), "r+");
    ASSERT_NE(edit, nullptr);
    std::fputs("ncols 3\n", edit);
    std::fclose(edit);
    const timespec times[2] = {opened.st_atim, opened.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, state.c_str(), times, 0), 0);
    ASSERT_EQ(::stat(state.c_str(), &edited), 0);
  } while (edited.st_ctim.tv_sec == opened.st_ctim.tv_sec && edited.st_ctim.tv_nsec == opened.st_ctim.tv_nsec);
  EXPECT_EQ(files.ChangedSinceRead(state), "has changed since the run read it");
  std::string changed;
  EXPECT_EQ(files.OpenAsRead(state, changed), -1);
  EXPECT_EQ(changed, "has changed since the run read it");
  ASSERT_EQ(std::rename(other.c_str(), state.c_str()), 0);
  EXPECT_EQ(files.ChangedSinceRead(state), "has been replaced by another file since the run read it");
  files.Opened(state, -1);
  EXPECT_EQ(files.ChangedSinceRead(state), "was read twice, and was another file the second time");
  files.Abandon();
}

TEST(RunFiles, FilesCreatedWhileTheRunIsBuiltAppearOnlyWhenNothingClashes) {
  TempDir dir;
  const std::string out = dir.file("out.stat"), input = dir.file("in.dat");
  WriteTextFile(input, "station values");
  CapturedLog log;
  {  // no clash: the staged file takes its place
    RunFiles files;
    files.Begin();
    const std::string staged = files.Create("[w] statistics", out);
    EXPECT_EQ(staged, out + ".tmp");
    WriteTextFile(staged, "header");
    files.Read("[r] station file", input);
    files.Seal(&log.log());
    EXPECT_EQ(ReadTextFile(out), "header");
    EXPECT_FALSE(fs::exists(staged));
    EXPECT_FALSE(files.Building());
    EXPECT_EQ(files.Create("[w] statistics", out), out);  // after the build: the name itself
  }
  {  // a clash with a read declared later: code 26, the input as it was, nothing staged left
    RunFiles files;
    files.Begin();
    WriteTextFile(files.Create("[w] statistics", input), "header");
    files.Read("[r] station file", input);
    try {
      files.Seal(&log.log());
      ADD_FAILURE() << "no clash";
    } catch (int code) {
      EXPECT_EQ(code, 26);
    }
    EXPECT_EQ(ReadTextFile(input), "station values");
    EXPECT_FALSE(fs::exists(input + ".tmp"));
    EXPECT_NE(log.console().find("[w] statistics would be written to " + input + ", the file read for [r] station file"),
              std::string::npos)
        << log.console();
  }
  {  // a failed build removes what it staged; outside a build nothing is declared
    RunFiles files;
    files.Begin();
    WriteTextFile(files.Create("[w] statistics", out), "new header");
    files.Abandon();
    EXPECT_EQ(ReadTextFile(out), "header");
    EXPECT_FALSE(fs::exists(out + ".tmp"));
    files.Read("[r] station file", out);
    files.Write("[w] statistics", out);
    EXPECT_EQ(files.FirstClash(), "");
  }
}

// Runs of one command line that write the same files: the later names the results it
// replaces, not the files every run makes anew, and says nothing when it goes on from the
// state the earlier left.
TEST(RunFiles, ALaterRunNamesTheResultsOfEarlierRunsItReplaces) {
  TempDir dir;
  CapturedLog log;
  RunFiles files;
  const int grid = 0, storage = 0;
  const std::string stat = dir.file("QB.stat"), state = dir.file("soil_state.txt"), copy = dir.file("a.ctl.intern");
  // One run of a.ctl: its copy, a derived grid, a statistics file and its end state.
  auto build = [&](bool fromState) {
    files.Begin();
    files.Defer("the preprocessed copy of the control file", copy, "[output_interval]\n", false, "Rename the file.");
    files.Create("[zone_grid] grid zones.intern.rca", dir.file("zones.intern.rca"), &grid, true);
    files.Create("the statistics file QB.stat", stat);
    if (fromState) files.Read("the storage file of [soil_model]", state, When::StartOnly, &storage);
    files.Write("the storage file of [soil_model]", state, When::EndOnly, &storage);
  };
  build(false);
  files.Seal(&log.log(), "a.ctl");
  EXPECT_EQ(log.console().find("replaces files"), std::string::npos) << log.console();
  build(false);  // the same run again, from the start
  files.Seal(&log.log(), "a.ctl");
  const std::string said = log.console();
  EXPECT_NE(said.find("the run of a.ctl replaces files that earlier runs of this command line wrote, of the run of "
                      "a.ctl: " + stat + ", " + state),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find(".intern"), std::string::npos) << said;
  build(true);  // a chain: the run goes on from the state the earlier ones left
  files.Seal(&log.log(), "a.ctl");
  EXPECT_EQ(log.console(), said);
}

// The example basin in a folder of its own, run by the program.
class ExampleRun {
 public:
  ExampleRun() : control_(CopyExampleBasin(dir_, 1)) {
    fs::create_directories(dir_.file("output"));
    // Two days are enough to reach the end of a run.
    Edit("31      # end day", "2       # end day");
  }
  void Edit(const std::string& from, const std::string& to) {
    const size_t p = control_.find(from);
    ASSERT_NE(p, std::string::npos) << from;
    control_.replace(p, from.size(), to);
  }
  int Run(std::string* out, const std::string& controlFiles = "basin.ctl") {
    WriteTextFile(dir_.file("basin.ctl"), control_);
    return RunCommand(
        "cd '" + dir_.path() + "' && '" ORVEL_BINARY "' " + controlFiles + " -diagfile:output/d.xml </dev/null", out);
  }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string control_;
};

TEST(RunFilesProgram, AWriteOverAnInputEndsTheStartUpBeforeAnythingIsWritten) {
  struct Case {
    const char* from;
    const char* to;
    const char* words;
  };
  const Case cases[] = {
      {"snowevap.stat 2001", "../precipitation.dat 2001",
       "would be written to output/../precipitation.dat, the file read for [precipitation] station file"},
      {"statfile = elevation_stat.txt", "statfile = ../dem.asc", "the file read for [elevation_model]"},
      {"temperature.asc         # result grid (written at the end of every day under a dated name)\n5 ",
       "../dem.asc\n3 ", "[temperature] temperature (writecode 3) would be written to output/../dem.asc"},
      {"dem.asc elevation fillcode = 0", "dem.asc elevation fillcode = 0 writecode = 8 outname = ../dem.asc",
       "[standard_grids] elevation would be written to output/../dem.asc, the file read for [elevation_model]"},
      {"soil_types.asc soil_types 0 1\n0\n", "soil_types.asc soil_types 0 1 outname = ../landuse.asc\n1\n",
       "[variable_grids] soil_types (writecode 1) would be written to output/../landuse.asc, the file read for "
       "[standard_grids] landuse"},
      {"filename = points.txt;", "filename = ../snow_assim.txt;",
       "[special_output] ../snow_assim.txt would be written to output/../snow_assim.txt, the file read for "
       "[data_assimilation] list file of a grid rule"},
      {"soil_state.txt          # storage file", "../temperature.dat # storage file",
       "the storage file of [soil_model] would be written to output/../temperature.dat"},
      {"listfilename = snow_assim.txt;", "listfilename = output/wq_table.003;",
       "[routing_model] level-discharge table would be written to output/wq_table.003, the file read for "
       "[data_assimilation] list file of a grid rule"},
  };
  for (const Case& c : cases) {
    ExampleRun run;
    run.Edit(c.from, c.to);
    // A list file where the routing writes a level-discharge table at its start.
    fs::copy_file(run.dir().file("snow_assim.txt"), run.dir().file("output/wq_table.003"));
    const std::map<std::string, std::string> before = FilesUnder(run.dir().path());
    std::string out;
    EXPECT_EQ(run.Run(&out), 26) << c.to << "\n" << out;
    EXPECT_NE(out.find(c.words), std::string::npos) << c.words << "\n" << out;
    // Nothing but the logs and the preprocessed control file was written.
    const std::map<std::string, std::string> after = FilesUnder(run.dir().path());
    for (const auto& [name, contents] : after) {
      if (name == "output/d.xml" || name == "modell_0.log" || name == "basin.ctl.intern" || name == "basin.ctl")
        continue;
      EXPECT_TRUE(before.count(name) && before.at(name) == contents) << c.to << ": " << name << " was written";
    }
  }
}

// The usual chaining of runs: a state grid is read from the output folder at the start and
// written back under the same name at the end of the run (units digit 3); written during
// the run it is refused.
TEST(RunFilesProgram, AStateGridIsWrittenBackInPlaceOnlyAtTheEndOfTheRun) {
  ExampleRun run;
  run.Edit("soil_storage.asc soil_storage 0 0.6\n0\n0",
           "output/soil_storage.asc soil_storage 0 0.6 outname = soil_storage.asc\n3\n0");
  std::string out;
  ASSERT_EQ(run.Run(&out), 0) << out;
  const std::string first = ReadTextFile(run.dir().file("output/soil_storage.asc"));
  ASSERT_NE(first.find("ncols"), std::string::npos);

  run.Edit("soil_storage.asc\n3\n0", "soil_storage.asc\n3\n1");
  ASSERT_EQ(run.Run(&out), 0) << out;
  const std::string second = ReadTextFile(run.dir().file("output/soil_storage.asc"));
  EXPECT_NE(second, first);  // the state of two more days
  EXPECT_FALSE(fs::exists(run.dir().file("output/soil_storage.asc.tmp")));

  run.Edit("soil_storage.asc\n3\n1", "soil_storage.asc\n1\n1");
  EXPECT_EQ(run.Run(&out), 26) << out;
  EXPECT_NE(out.find("[variable_grids] soil_storage (writecode 1) would be written to output/soil_storage.asc, the "
                     "file read for [variable_grids] soil_storage"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("written back over its file only at the end of the run"), std::string::npos);
  EXPECT_EQ(ReadTextFile(run.dir().file("output/soil_storage.asc")), second);
}

// One control file twice on a command line: the second run names the results of the first
// that it replaces; as a chain that goes on from the first run's state, it says nothing.
TEST(RunFilesProgram, TheSameControlFileTwiceWarnsOnlyWhenItDoesNotGoOnFromTheState) {
  const std::string warning = "the run of basin.ctl replaces files that earlier runs of this command line wrote";
  ExampleRun run;
  std::string out;
  ASSERT_EQ(run.Run(&out, "basin.ctl basin.ctl"), 0) << out;
  const size_t at = out.find(warning);
  ASSERT_NE(at, std::string::npos) << out;
  const std::string listed = out.substr(at, out.find('\n', at) - at);
  EXPECT_NE(listed.find("output/QB.stat"), std::string::npos) << listed;
  EXPECT_EQ(listed.find(".intern"), std::string::npos) << listed;

  fs::copy_file(run.dir().file("soil_state.txt"), run.dir().file("output/soil_state.txt"),
                fs::copy_options::overwrite_existing);
  run.Edit("DefaultOutputDirectory = output/", "DefaultOutputDirectory = output/\nInitialStateDirectory = output");
  run.Edit("0       # read the state grids and the storage file", "1       # read the state grids and the storage file");
  ASSERT_EQ(run.Run(&out, "basin.ctl basin.ctl"), 0) << out;
  EXPECT_EQ(out.find(warning), std::string::npos) << out;
  EXPECT_NE(out.find("warm start from the state at the end of the step of 03.01.1985 00:00 in output/soil_state.txt"),
            std::string::npos)
      << out;
}

}  // namespace

// The name of a user's own beside a shared file is cut where the user's name would make it
// longer than the folder takes (a user name of 300 characters): the uid then tells it apart,
// and the name is made.
TEST(RunFiles, AFileOfTheUsersOwnFitsItsFolderWhateverTheUsersName) {
  TempDir dir;
  const NameLimits limits = NameLimitsOf(dir.path() + "/x");
  const std::string uid = std::to_string(geteuid());
  // Room for one character of the user's name beside the uid.
  const std::string shared = dir.file(std::string(limits.name - 7 - uid.size(), 'm') + ".log");
  const std::string own = OwnFileName(shared);
  EXPECT_LE(BaseLength(own), limits.name) << own;
  if (UserName(geteuid()).size() > 2 + uid.size()) {
    EXPECT_NE(own.find("." + uid + ".log"), std::string::npos) << own;
  }
  bool opened = false;
  EXPECT_EQ(WriteNewFile(own, "notes\n", opened), 0);
  EXPECT_EQ(OwnFileName(dir.file("modell_0.log")), dir.file("modell_0." + UserName(geteuid()) + ".log"));
}
