// Whole runs of the example basin (every module on) that an operator or bad luck ends: the
// disk filling up at the end of the run, SIGTERM or SIGHUP (a batch system, `timeout`, a
// container stop), SIGKILL, and a console that nobody reads or whose reader goes away.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "framework/app_test_support.h"
#include "framework/append_file.h"
#include "framework/ctrl_c.h"
#include "framework/entry.h"
#include "framework/file_reason.h"
#include "framework/modappli.h"
#include "framework/run_hold.h"
#include "framework/storage_file.h"
#include "grids/grid_output_thread.h"
#include "grids/grid_reader.h"
#include "processes/snow/snowmod.h"
#include "processes/soil/infilt.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Lines of every step of the example (1 January 1 h to 31 January 24 h) plus 3 header lines.
constexpr size_t kFullStatisticsLines = 3 + 744;

// The files of a run's output folder that it fills with buffered rows, as "output/<name>".
std::vector<std::string> RowFilesIn(const std::string& output) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(output)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".stat" || name == "points.txt" || name == "elevation_stat.txt" ||
        name == "reservoir_1.txt")
      files.push_back("output/" + name);
  }
  return files;
}

// The example basin copied into a temporary folder, which is the working folder while the
// copy lives; the diagnostics file lies in a folder of its own.
class ExampleRun {
 public:
  ExampleRun() : previous_(fs::current_path().string()) {
    CopyExampleInputs(std::string(ORVEL_SOURCE_DIR) + "/examples/basin", dir_.path());
    fs::create_directories(Output());
    fs::current_path(dir_.path());
  }
  ~ExampleRun() {
    NextApplicationSeams() = ApplicationSeams();
    TerminationSignal = 0;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }
  std::string Output() const { return dir_.file("output"); }
  std::string Diag() const { return diagDir_.file("d.xml"); }
  // Runs the program in this process (so that the application seams apply) on the control
  // file given `runs` times; returns its exit code and the console in *console.
  int Run(std::string* console, int runs = 1) {
    // One thread: spinning OpenMP workers of a test process (the program itself makes them
    // spin only briefly) would cost minutes on a loaded machine.
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    std::vector<std::string> args = {"orvelvco64", "-diagfile:" + Diag()};
    args.insert(args.end(), static_cast<size_t>(runs), "basin.ctl");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream out;
    const int code = RunOrvel(static_cast<int>(args.size()), argv.data(), out);
    omp_set_num_threads(threads);
    *console = out.str();
    return code;
  }
  std::vector<std::string> RowFiles() const { return RowFilesIn(Output()); }

 private:
  TempDir dir_, diagDir_;
  std::string previous_;
};

size_t LineCount(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// Makes the folder given as context after the step before the last (31 January 23 h), where
// the end of the run writes a file: the start-up refuses a folder that stands there from the
// start. Not later: the last step hands its grids of the end to the writer thread, which may
// already have made the file when the step returns.
void FolderBeforeTheLastStep(ModellApplication& app, void* path) {
  if (app.stepDate.month == 1 && app.stepDate.day == 31 && app.stepDate.hour == 23)
    fs::create_directories(*static_cast<std::string*>(path));
}

// How the disk fills at the last step: a small tmpfs over the output folder filled up
// (where the test may mount one), else the descriptor the run keeps for every file of
// buffered rows leads to /dev/full. With `planted`, another user renames a link to a file of
// its own over every file of rows instead.
struct DiskFiller {
  std::string output;
  bool tmpfs = false;
  std::string planted;
  static void AtLastStep(ModellApplication& app, void* self) {
    if (app.stepDate.month == 2) static_cast<DiskFiller*>(self)->Fill();  // 1 February 0 h
  }
  void Fill() {
    // The grids of the step are written first: the disk fills for the end of the run.
    if (GridOutputThread* writer = GridOutputThread::Active()) writer->Drain();
    if (tmpfs) {
      std::ofstream filler(output + "/filler", std::ios::binary);
      const std::string block(1 << 16, 'x');
      while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
      }
      return;
    }
    if (!planted.empty()) {
      for (const std::string& file : RowFilesIn(output)) {
        fs::create_symlink(planted, file + ".planted");
        fs::rename(file + ".planted", file);
      }
      return;
    }
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    for (const std::string& file : RowFilesIn(output))
      for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(e.path(), error) == fs::absolute(file)) dup2(full, std::stoi(e.path().filename()));
      }
    close(full);
  }
};

// The disk fills during the last step, before the end-of-run flush: every file that keeps
// fewer rows than the run made is named with the reason, no file holds half a row, the
// run ends with a failure (no abort, no success line, no "o.k.") and the diagnostics file
// is whole. With tmpfs the grids of the end fail too; without it only the files of rows
// do, so their failures alone must make the run fail.
void RunIntoAFullDisk(bool tryTmpfs) {
  ExampleRun run;
  DiskFiller filler;
  filler.output = run.Output();
  filler.tmpfs = tryTmpfs && ::mount("tmpfs", filler.output.c_str(), "tmpfs", 0, "size=16m") == 0;
  struct Unmount {
    const DiskFiller& f;
    ~Unmount() {
      if (f.tmpfs) ::umount2(f.output.c_str(), MNT_DETACH);
    }
  } unmount{filler};
  NextApplicationSeams().afterPass = DiskFiller::AtLastStep;
  NextApplicationSeams().afterPassContext = &filler;

  std::string console;
  const int code = run.Run(&console);
  EXPECT_NE(code, 0) << console;
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_EQ(console.find("\no.k.\n"), std::string::npos);
  EXPECT_NE(console.find("Program aborted with exit code " + std::to_string(code)), std::string::npos);
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;

  int short_ = 0;
  for (const std::string& file : run.RowFiles()) {
    const std::string text = filler.tmpfs ? ReadTextFile(file) : std::string();
    const bool complete = filler.tmpfs && LineCount(text) >= kFullStatisticsLines;
    if (complete) continue;
    ++short_;
    EXPECT_NE(console.find(file + " (No space left on device)"), std::string::npos) << file << " is not named";
    EXPECT_TRUE(text.empty() || text.back() == '\n') << file << " ends in half a row";
  }
  EXPECT_GE(short_, 20);  // the statistics, point and reservoir files of the example
  // A file of rows that cannot be written costs no state: the end state is written.
  if (!filler.tmpfs) {
    EXPECT_NE(ReadTextFile(run.Output() + "/soil_state.txt").find("[end_state]"), std::string::npos);
  }
  if (filler.tmpfs) {
    // A grid of the end of the run says why it could not be written either.
    const size_t grid = console.find("output/peakflow.asc ! (18) (No space left on device)");
    const size_t closing = console.find("error closing output/peakflow.asc (No space left on device)");
    EXPECT_TRUE(grid != std::string::npos || closing != std::string::npos) << console;
  }
}

}  // namespace

TEST(RunFaults, AFullDiskAtTheEndNamesEveryFileItCostsAndIsNoSuccess) { RunIntoAFullDisk(true); }

TEST(RunFaults, RowsThatCannotBeWrittenAtTheEndAloneMakeTheRunFail) { RunIntoAFullDisk(false); }

// A file of rows whose name another user of a group folder renames a link over during the
// run: the run appends to the file it made while its name leads there, never through the
// link; the run fails naming every such file, and what the links lead to keeps its bytes.
// So it does where the process may open few files (some files opened again for each append).
TEST(RunFaults, RowsGoToTheFilesTheRunMadeNeverThroughALinkPutInTheirPlace) {
  for (const rlim_t descriptors : {rlim_t(0), rlim_t(60)}) {
    SCOPED_TRACE("descriptors " + std::to_string(descriptors));
    ExampleRun run;
    DiskFiller filler;
    filler.output = run.Output();
    filler.planted = fs::absolute("thesis.txt").string();
    WriteTextFile(filler.planted, "a thesis of the running user's own\n");
    NextApplicationSeams().afterPass = DiskFiller::AtLastStep;
    NextApplicationSeams().afterPassContext = &filler;
    struct rlimit before {};
    getrlimit(RLIMIT_NOFILE, &before);
    struct rlimit few = before;
    if (descriptors != 0) few.rlim_cur = descriptors;
    setrlimit(RLIMIT_NOFILE, &few);
    std::string console;
    const int code = run.Run(&console);
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_NE(code, 0) << console;
    EXPECT_EQ(ReadTextFile(filler.planted), "a thesis of the running user's own\n");
    for (const std::string& file : run.RowFiles())
      EXPECT_NE(console.find(file + " (the name no longer leads to the file the run made and appends to: a symbolic "
                                    "link of user " + UserName(geteuid()) +
                             " has taken its place; nothing is written through it)"),
                std::string::npos)
          << file << " is not named\n" << console;
  }
}

// The storage file alone cannot be written at the end: the run is no success, for the
// next run would start from the earlier state without a word; the earlier file stays.
TEST(RunFaults, AStorageFileThatCannotBeWrittenFailsTheRun) {
  ExampleRun run;
  WriteTextFile(run.Output() + "/soil_state.txt", "the state of an earlier run\n");
  WriteTextFile(run.Output() + "/sd.asc", "a state grid of an earlier run\n");
  std::string blocked = run.Output() + "/soil_state.txt.tmp";  // where the file is written first
  NextApplicationSeams().afterPass = FolderBeforeTheLastStep;
  NextApplicationSeams().afterPassContext = &blocked;
  std::string console;
  EXPECT_EQ(run.Run(&console), kStorageWriteFailed) << console;
  EXPECT_NE(console.find("cannot write the storage file output/soil_state.txt (Is a directory)"), std::string::npos) << console;
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_EQ(ReadTextFile(run.Output() + "/soil_state.txt"), "the state of an earlier run\n");
  // The state grids written for the end stay where they were written: the earlier state is whole.
  EXPECT_EQ(ReadTextFile(run.Output() + "/sd.asc"), "a state grid of an earlier run\n");
  EXPECT_NE(console.find("the end state is not moved into place, the earlier state files are left as they were"),
            std::string::npos)
      << console;
  EXPECT_FALSE(fs::exists(run.Output() + "/sd.asc.tmp"));
  for (const std::string& file : run.RowFiles()) EXPECT_EQ(LineCount(ReadTextFile(file)), kFullStatisticsLines) << file;
}

// A state that went out of bounds during the run (here a sub-basin's mean deficit made not
// finite two steps before the end) is not moved into place: the run fails naming the grid
// and its cell and the storage file's line, and the state of the run before stays whole.
TEST(RunFaults, AStateThatIsNotFiniteAtTheEndFailsTheRunAndKeepsTheEarlierState) {
  ExampleRun run;
  WriteTextFile(run.Output() + "/soil_state.txt", "the state of an earlier run\n");
  WriteTextFile(run.Output() + "/sd.asc", "a state grid of an earlier run\n");
  NextApplicationSeams().afterPass = [](ModellApplication& app, void*) {
    if (app.stepDate.month == 1 && app.stepDate.day == 31 && app.stepDate.hour == 22)
      app.modules.soil->meanDeficit[1] = std::nan("");
  };
  std::string console;
  EXPECT_EQ(run.Run(&console), kStorageWriteFailed) << console;
  EXPECT_NE(console.find("the state grid output/sd.asc of "), std::string::npos) << console;
  EXPECT_NE(console.find(" would hold nan in row "), std::string::npos) << console;
  EXPECT_NE(console.find("the storage file output/soil_state.txt would hold \""), std::string::npos) << console;
  EXPECT_NE(console.find("nan\" at line "), std::string::npos) << console;
  EXPECT_NE(console.find("the end state is not moved into place, the earlier state files are left as they were"),
            std::string::npos);
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_EQ(ReadTextFile(run.Output() + "/soil_state.txt"), "the state of an earlier run\n");
  EXPECT_EQ(ReadTextFile(run.Output() + "/sd.asc"), "a state grid of an earlier run\n");
  for (const auto& e : fs::directory_iterator(run.Output()))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}

// A finite state beyond the range a warm start reads is not moved into place either (snow
// deeper than any store holds two steps before the end, a sub-basin's direct runoff of
// 1,000 km after the last step): the run fails naming the grid and its cell and the value of
// the storage file, and the state of the run before stays whole.
TEST(RunFaults, AStateBeyondTheRangeAWarmStartReadsFailsTheRunAndKeepsTheEarlierState) {
  ExampleRun run;
  WriteTextFile(run.Output() + "/soil_state.txt", "the state of an earlier run\n");
  WriteTextFile(run.Output() + "/snowsolid.asc", "a state grid of an earlier run\n");
  NextApplicationSeams().afterPass = [](ModellApplication& app, void*) {
    if (app.stepDate.month != 1 || app.stepDate.day != 31) return;
    if (app.stepDate.hour == 22) {
      const schneemodellklasse& snow = *app.modules.snow;
      for (int r = 1; r <= snow.geometry.nrows; ++r)
        for (int c = 1; c <= snow.geometry.ncols; ++c)
          if (snow.snowStorageSolid[r][c] > snow.geometry.nodata_value) snow.snowStorageSolid[r][c] = 5e9;
    }
    if (app.stepDate.hour == 23) app.modules.soil->QD[1] = 5e9;
  };
  std::string console;
  EXPECT_EQ(run.Run(&console), kStorageWriteFailed) << console;
  EXPECT_NE(console.find("at the end of the run the state grid output/snowsolid.asc ([snow_model] snowstorage_solid) "
                         "holds 5e+09 at row "),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("cells of the basin above 1e9 mm); no store holds 1,000 km of water: a warm start would "
                         "refuse it"),
            std::string::npos);
  EXPECT_NE(console.find("the storage file output/soil_state.txt would hold "), std::string::npos) << console;
  EXPECT_NE(console.find(" as QD of sub-basin 1 in its part [soil_model]: above 1e9 mm; no store holds 1,000 km of "
                         "water, and a warm start would refuse it"),
            std::string::npos);
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_EQ(ReadTextFile(run.Output() + "/soil_state.txt"), "the state of an earlier run\n");
  EXPECT_EQ(ReadTextFile(run.Output() + "/snowsolid.asc"), "a state grid of an earlier run\n");
  for (const auto& e : fs::directory_iterator(run.Output()))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}

namespace {

// Points every descriptor that holds the file open at /dev/full: its next writes fail as on
// a full disk.
void FillTheDiskUnder(const std::string& path) {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (fs::read_symlink(e.path(), ignored) != fs::path(path)) continue;
    const int full = ::open("/dev/full", O_WRONLY);
    dup2(full, std::stoi(e.path().filename().string()));
    close(full);
  }
}

std::string diagnosticsFile;

// Runs the program on basin.ctl of the working folder, the files of the names given
// (separated by ":") on a full disk; returns its exit status and its console in *console.
int RunOnAFullDisk(const std::string& names, const std::string& diag, std::string* console) {
  return RunCommand("ORVEL_FULL_DISK='" + names + "' LD_PRELOAD='" ORVEL_FULL_DISK_PRELOAD
                    "' ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" OMP_NUM_THREADS=1 '" ORVEL_BINARY
                    "' basin.ctl -diagfile:'" + diag + "' </dev/null",
                    console);
}

}  // namespace

// The diagnostics file (read by the forecasting system after the run) and the module log on
// a full disk: the failure is named with the system's reason and the run is no success. A
// FIFO under the module log's name is never written (it would hold the run): named so.
TEST(RunFaults, ADiagnosticsFileOrModuleLogThatCannotBeWrittenFailsTheRun) {
  {
    ExampleRun run;
    diagnosticsFile = run.Diag();
    NextApplicationSeams().afterPass = [](ModellApplication& app, void*) {
      if (app.stepDate.day == 10 && app.stepDate.hour == 0) FillTheDiskUnder(diagnosticsFile);
    };
    std::string console;
    EXPECT_EQ(run.Run(&console), kFileNotWritten) << console;
    EXPECT_NE(console.find("cannot write the diagnostics file " + run.Diag() + " (No space left on device)"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
    EXPECT_NE(console.find("Program aborted with exit code " + std::to_string(kFileNotWritten)), std::string::npos);
    // The failure came after the end state: the log says that it is written (a scheduler
    // need not run the period again for the state).
    EXPECT_NE(console.find("the run of basin.ctl failed after its end state was written: the state files it wrote "
                           "are those of its last step"),
              std::string::npos)
        << console;
    EXPECT_NE(ReadTextFile(run.Output() + "/soil_state.txt").find("[end_state]\n1985 2 1 0 0"), std::string::npos);
  }
  {
    ExampleRun run;  // the working folder, where the module log lands, on a full disk
    WriteTextFile("modell_0.log", "notes of an earlier run\n");
    std::string console;
    EXPECT_EQ(RunOnAFullDisk("modell_0.log", run.Diag(), &console), kFileNotWritten) << console;
    EXPECT_NE(console.find("cannot write modell_0.log (No space left on device)"), std::string::npos) << console;
    EXPECT_EQ(ReadTextFile("modell_0.log"), "notes of an earlier run\n");
  }
  {
    ExampleRun run;  // a FIFO whose reader never reads under the module log's name
    ASSERT_EQ(mkfifo("modell_0.log", 0644), 0);
    const int reader = open("modell_0.log", O_RDONLY | O_NONBLOCK);
    fcntl(reader, F_SETPIPE_SZ, 4096);
    std::string console;
    const int status = RunCommand("OMP_NUM_THREADS=1 timeout -s KILL 120 '" ORVEL_BINARY "' basin.ctl -diagfile:'" +
                                      run.Diag() + "' </dev/null",
                                  &console);
    EXPECT_EQ(status, kFileNotWritten) << console;
    EXPECT_NE(console.find("cannot write modell_0.log: a FIFO of user " + UserName(geteuid()) +
                           " (mode 0644) stands there, which the run never writes into"),
              std::string::npos)
        << console;
    char byte;
    EXPECT_LT(read(reader, &byte, 1), 1);
    close(reader);
  }
}

namespace {

// What a second program run on the example's folder, started while the first one runs,
// says and ends with: once with the first run's diagnostics file, once with its own.
struct SecondRun {
  std::string sameDiagnostics, ownDiagnostics;
  int sameStatus = -1, ownStatus = -1;
} second;

void StartASecondRun(ModellApplication& app, void*) {
  if (app.stepDate.day != 10 || app.stepDate.hour != 0) return;
  const std::string program = "'" ORVEL_BINARY "' basin.ctl ";
  second.sameStatus = RunCommand(program + "-diagfile:'" + diagnosticsFile + "' </dev/null", &second.sameDiagnostics);
  second.ownStatus = RunCommand(program + "-diagfile:second.xml </dev/null", &second.ownDiagnostics);
}

}  // namespace

// Two runs on one output folder with the same names: the run that comes second ends at
// start-up, naming a file and the run that holds it (or the diagnostics file that run
// writes), and the first run's files are whole.
TEST(RunFaults, ASecondRunOnTheSameOutputFolderEndsAtStartUp) {
  ExampleRun run;
  diagnosticsFile = run.Diag();
  NextApplicationSeams().afterPass = StartASecondRun;
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  EXPECT_EQ(second.sameStatus, 26) << second.sameDiagnostics;
  EXPECT_NE(second.sameDiagnostics.find("the diagnostics file " + run.Diag() + " is being written by another run"),
            std::string::npos)
      << second.sameDiagnostics;
  EXPECT_EQ(second.ownStatus, 26) << second.ownDiagnostics;
  EXPECT_NE(second.ownDiagnostics.find(", which another run (process " + std::to_string(getpid()) +
                                       ", control file " + fs::absolute("basin.ctl").string() +
                                       ") writes as well: two runs would write over each other's files. Let that "
                                       "run end, or give this one another DefaultOutputDirectory in [output_interval]"),
            std::string::npos)
      << second.ownDiagnostics;
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;
  for (const std::string& file : run.RowFiles()) EXPECT_EQ(LineCount(ReadTextFile(file)), kFullStatisticsLines) << file;
  EXPECT_FALSE(fs::exists(run.Output() + "/" + RunHold::kFileName));  // given back at the end
}

namespace {

// Raises the signal given as context after the step of 10 January, 23 h.
void RaiseAfterTenJanuary(ModellApplication& app, void* signum) {
  if (app.stepDate.month == 1 && app.stepDate.day == 10 && app.stepDate.hour == 23)
    pthread_kill(pthread_self(), *static_cast<int*>(signum));
}

// The wait status of a child process; one still running after `seconds` is killed and fails
// the test with `what`.
int WaitForChild(pid_t pid, int seconds, const char* what) {
  int status = 0;
  for (int tenths = 0; tenths < 10 * seconds; ++tenths) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  ADD_FAILURE() << what;
  return status;
}

// Runs the example in a child process (prepare sets its seams there) and returns its wait
// status; a child still running after two minutes is killed and fails the test.
int RunInChild(ExampleRun& run, void (*prepare)(ExampleRun&)) {
  const pid_t pid = fork();
  if (pid == 0) {
    prepare(run);
    std::string console;
    const int code = run.Run(&console);
    WriteTextFile(run.Output() + "/../console.txt", console);
    _exit(ExitStatus(code));
  }
  return WaitForChild(pid, 120, "the run did not end");
}

// The last line of a text that ends with a line feed.
std::string LastLine(const std::string& text) {
  const size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
  const size_t start = text.rfind('\n', end > 0 ? end - 1 : 0);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

// The date columns of a statistics row ("1985\t 1\t11\t 0..." -> "1985 1 11 0").
std::string RowDate(const std::string& row) {
  std::istringstream in(row);
  int y = 0, m = 0, d = 0, h = 0;
  in >> y >> m >> d >> h;
  return std::to_string(y) + " " + std::to_string(m) + " " + std::to_string(d) + " " + std::to_string(h);
}

int sigterm = SIGTERM;
int sigkill = SIGKILL;

}  // namespace

// SIGTERM in the time loop: the run ends after the next step as with Ctrl-C choice 1. Every
// file of rows holds the rows of every step done, all up to the same step, the end-of-run
// outputs are written, the diagnostics file is whole and the exit status is the
// terminated run's own.
TEST(RunFaults, SigtermInTheTimeLoopEndsTheRunWithTheRowsOfEveryStepDone) {
  ExampleRun run;
  NextApplicationSeams().afterPass = RaiseAfterTenJanuary;
  NextApplicationSeams().afterPassContext = &sigterm;
  std::string console;
  EXPECT_EQ(run.Run(&console), kTerminatedCode) << console;
  EXPECT_NE(console.find("SIGTERM received: the run ends after the next time step"), std::string::npos) << console;
  EXPECT_NE(console.find("end of simulation reached early, at 11.01.1985 00:00, on SIGTERM (planned end "
                         "31.01.1985 24:00)!"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("exitcode " + std::to_string(kTerminatedCode) + "\no.k.\n\nthe end."), std::string::npos);
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;

  // 3 header lines and the steps from 1 January 1 h to 11 January 0 h.
  const std::vector<std::string> files = run.RowFiles();
  EXPECT_GE(files.size(), 20u);
  for (const std::string& file : files) {
    const std::string text = ReadTextFile(file);
    EXPECT_EQ(RowDate(LastLine(text)), "1985 1 11 0") << file;
    EXPECT_EQ(LineCount(text), 3u + 240) << file;
  }
  EXPECT_FALSE(ReadTextFile(run.Output() + "/soil_state.txt").empty());  // the storage file of the warm start
  EXPECT_FALSE(ReadTextFile(run.Output() + "/peakflow.asc").empty());   // a grid of the end of the run
}

// SIGKILL cannot be caught: the rows reach their files once per simulated day, so a run
// killed after the step of 10 January 23 h keeps every row up to 10 January 0 h.
TEST(RunFaults, SigkillCostsNoMoreThanTheRowsOfTheLastDay) {
  ExampleRun run;
  const int status = RunInChild(run, [](ExampleRun&) {
    NextApplicationSeams().afterPass = RaiseAfterTenJanuary;
    NextApplicationSeams().afterPassContext = &sigkill;
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const std::vector<std::string> files = run.RowFiles();
  EXPECT_GE(files.size(), 20u);
  for (const std::string& file : files) EXPECT_EQ(LineCount(ReadTextFile(file)), 3u + 9 * 24) << file;
}

namespace {

// Sends SIGTERM to the main thread a moment after the step of 10 January, 23 h, when the
// Ctrl-C menu waits for its answer.
void SigtermWhileTheMenuWaits(ModellApplication& app, void*) {
  if (app.stepDate.month != 1 || app.stepDate.day != 10 || app.stepDate.hour != 23) return;
  const pthread_t main = pthread_self();
  std::thread([main] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pthread_kill(main, SIGTERM);
  }).detach();
}

}  // namespace

// A SIGTERM ends a run whatever it waits on: here the Ctrl-C menu's answer from a terminal
// nobody answers (a pipe whose other end stays open). The wait ends, and the run stops
// after its next step as on any SIGTERM.
TEST(RunFaults, SigtermEndsARunThatWaitsForAnAnswer) {
  ExampleRun run;
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  static int readEnd, writeEnd;
  readEnd = answer[0];
  writeEnd = answer[1];
  const int status = RunInChild(run, [](ExampleRun&) {
    dup2(readEnd, STDIN_FILENO);
    close(writeEnd);
    NextApplicationSeams().afterPass = SigtermWhileTheMenuWaits;
    NextApplicationSeams().ctrlCAfterPass = 10 * 24 - 1;  // the step of 10 January, 23 h
  });
  close(answer[0]);
  close(answer[1]);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kTerminatedCode);
  const std::string console = ReadTextFile(run.Output() + "/../console.txt");
  EXPECT_NE(console.find("choose one of the above options"), std::string::npos) << console;
  EXPECT_NE(console.find("end of simulation reached early, at 11.01.1985 00:00, on SIGTERM"), std::string::npos)
      << console;
}

// SIGHUP while the run is being built: it stops before its first step, through the
// failure path (the diagnostics file is closed), and no later control file starts: an
// ERROR names it.
TEST(RunFaults, SighupWhileTheRunIsBuiltEndsItBeforeItsFirstStep) {
  ExampleRun run;
  NextApplicationSeams().adjustRunValues = [](RunValues&) { std::raise(SIGHUP); };
  std::string console;
  EXPECT_EQ(run.Run(&console, 2), kTerminatedCode) << console;
  EXPECT_NE(console.find("SIGHUP received while the run of basin.ctl was being built"), std::string::npos) << console;
  EXPECT_EQ(Occurrences(console, "file modappli"), 1);
  EXPECT_NE(console.find("SIGHUP received: the run of basin.ctl is not started"), std::string::npos) << console;
  EXPECT_NE(console.find("Program aborted with exit code " + std::to_string(kTerminatedCode)), std::string::npos);
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;
  for (const std::string& file : run.RowFiles()) EXPECT_LE(LineCount(ReadTextFile(file)), 3u) << file;
}

namespace {

// The program started on the example (one thread), its console a pipe of one page (full
// within a few days of the time loop) whose read end the test holds alone.
struct ConsoleRun {
  ExampleRun run;
  int console = -1;
  pid_t pid = -1;
  // ignored: a signal the program is started with set to "ignore" (0: none).
  explicit ConsoleRun(int ignored = 0) {
    int ends[2];
    if (pipe(ends) != 0) return;
    fcntl(ends[0], F_SETPIPE_SZ, 4096);
    const std::string diagOption = "-diagfile:" + run.Diag();
    pid = fork();
    if (pid == 0) {
      dup2(ends[1], STDOUT_FILENO);
      close(ends[0]);
      close(ends[1]);
      const int nothing = open("/dev/null", O_RDONLY);
      dup2(nothing, STDIN_FILENO);
      setenv("OMP_NUM_THREADS", "1", 1);
      // As a user starts it: the program sets its threads' wait policy and starts itself again.
      unsetenv("OMP_WAIT_POLICY");
      unsetenv("GOMP_SPINCOUNT");
      if (ignored != 0) std::signal(ignored, SIG_IGN);
      execl(ORVEL_BINARY, "orvelvco64", "basin.ctl", diagOption.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ends[1]);
    console = ends[0];
  }
  ~ConsoleRun() { CloseConsole(); }
  void CloseConsole() {
    if (console >= 0) close(console);
    console = -1;
  }
};

// Reads the console until it shows text (at most a minute); returns what it read.
std::string ReadConsoleUntil(int console, const std::string& text) {
  std::string seen;
  char piece[512];
  for (int tenths = 0; tenths < 600 && seen.find(text) == std::string::npos;) {
    pollfd p{console, POLLIN, 0};
    if (poll(&p, 1, 100) == 0) {
      ++tenths;
      continue;
    }
    const ssize_t n = read(console, piece, sizeof piece);
    if (n <= 0) break;
    seen.append(piece, static_cast<size_t>(n));
  }
  return seen;
}

// True once the program waits on its console (what the pipe holds stays as it is for a
// second while the program runs), at most a minute; false when it ended first.
bool WaitsOnItsConsole(pid_t pid, int console) {
  int held = -1, still = 0;
  for (int tenths = 0; tenths < 600; ++tenths) {
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid)
      return false;
    int queued = 0;
    ioctl(console, FIONREAD, &queued);
    still = queued > 0 && queued == held ? still + 1 : 0;
    held = queued;
    if (still >= 10) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// The files of the end state in the output folder (the storage file, the state grids and
// the marker of an incomplete state) and every file the run left under a staged name.
std::map<std::string, std::string> StateFilesIn(const std::string& output) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(output)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".asc" || e.path().extension() == ".tmp" || name.rfind("soil_state.txt", 0) == 0)
      files[name] = e.is_regular_file() ? ReadTextFile(e.path().string()) : std::string("(a folder)");
  }
  return files;
}

// Gives every file of the end state in the output folder distinct contents (not those a
// run writes), so that a file a later run moved into place can be told from one it left.
std::map<std::string, std::string> SeedStateFiles(const std::string& output) {
  for (const auto& [name, text] : StateFilesIn(output))
    WriteTextFile(output + "/" + name, "seeded as the earlier state: " + name + "\n" + text);
  return StateFilesIn(output);
}

// The example's control file reading its storage file from the output folder.
void ReadStorageFileFromOutput() {
  std::string control = ReadTextFile("basin.ctl");
  control.replace(control.find("DefaultOutputDirectory = output/"), 32,
                  "DefaultOutputDirectory = output/\nInitialStateDirectory = output/");
  WriteTextFile("basin.ctl", control);
}

int moves = 0;

// Kills the process after the third file of the end state is moved into place.
void KillAtTheThirdMove(const std::string&) {
  if (++moves == 3) std::raise(SIGKILL);
}

// Sends the signal given as context to the run in the last step, while its end is written.
void SignalInTheLastStep(ModellApplication& app, void* signum) {
  if (app.stepDate.month == 2) pthread_kill(pthread_self(), *static_cast<int*>(signum));
}

}  // namespace

// A console that nobody reads (a stalled log collector) holds the run up, but not once it
// is asked to end: after SIGTERM the console gets only what it takes at once (the
// diagnostics file has every message), and the run ends after its next step as on any
// SIGTERM, its rows, grids and end state written. A signal the program was started with
// set to "ignore" (`nohup`, `&` in a script) stays ignored: the run goes on to its end once
// its console is read again, and a signal not ignored keeps its meaning. The running
// program keeps its name (after it started itself again for its threads' wait policy), so
// that `pkill -TERM orvelvco64` finds it.
TEST(RunFaults, SigtermEndsARunWhoseConsoleNobodyReads) {
  struct Row {
    int ignored, sent;
    bool ends;  // the run ends early, on the signal sent
    bool byName = false;  // sent by pkill, by the program's name (of this test's children only)
  };
  for (const Row& row : {Row{0, SIGTERM, true}, Row{SIGHUP, SIGHUP, false}, Row{SIGINT, SIGINT, false},
                         Row{SIGHUP, SIGTERM, true}, Row{0, SIGTERM, true, true}}) {
    SCOPED_TRACE("started ignoring " + std::to_string(row.ignored) + ", sent " + std::to_string(row.sent));
    ConsoleRun program(row.ignored);
    ASSERT_GT(program.pid, 0);
    const ExampleRun& run = program.run;
    // The console is read up to the end of the start-up, then no more.
    std::string seen = ReadConsoleUntil(program.console, "warm start from the state");
    EXPECT_NE(seen.find("warm start from the state"), std::string::npos) << seen;
    EXPECT_TRUE(WaitsOnItsConsole(program.pid, program.console)) << "the run never waited on its console";
    EXPECT_EQ(ReadTextFile("/proc/" + std::to_string(program.pid) + "/comm"), "orvelvco64\n");
    if (row.byName)
      EXPECT_EQ(RunCommand("pkill -TERM -x -P " + std::to_string(getpid()) + " orvelvco64"), 0);
    else
      kill(program.pid, row.sent);
    if (!row.ends) seen += ReadConsoleUntil(program.console, "the end of a console that ends first");
    const int status = WaitForChild(program.pid, 60, "the run went on waiting on its console after the signal");
    seen += ReadConsoleUntil(program.console, "what the console took after the end");
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), row.ends ? kTerminatedCode : 0);
    const std::string diag = ReadTextFile(run.Diag());
    EXPECT_EQ(diag.find("end of simulation reached successfully!") != std::string::npos, !row.ends) << diag;
    if (row.ends) {
      EXPECT_NE(diag.find("on SIGTERM (planned end 31.01.1985 24:00)!"), std::string::npos) << diag;
    }
    // The Ctrl-C menu is written to the console alone.
    EXPECT_EQ(seen.find("choose one of the above options"), std::string::npos) << seen;
    std::string why;
    EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;
    // Every file of rows ends with the same step, and holds a row for every step up to it.
    const std::vector<std::string> files = run.RowFiles();
    ASSERT_GE(files.size(), 20u);
    const std::string first = ReadTextFile(files[0]);
    for (const std::string& file : files) {
      const std::string text = ReadTextFile(file);
      EXPECT_EQ(RowDate(LastLine(text)), RowDate(LastLine(first))) << file;
      EXPECT_EQ(LineCount(text), LineCount(first)) << file;
    }
    EXPECT_EQ(LineCount(first) < kFullStatisticsLines, row.ends);
    EXPECT_NE(ReadTextFile(run.Output() + "/soil_state.txt").find("[end_state]"), std::string::npos);
    EXPECT_FALSE(fs::exists(run.Output() + "/soil_state.txt.incomplete"));
    EXPECT_FALSE(fs::exists(run.Output() + "/" + RunHold::kFileName));
  }
}

// A console reader that goes away (`orvelvco64 basin.ctl | head`) costs the console only:
// no SIGPIPE ends the run; it goes on without its console and ends as it would have, and its
// diagnostics file says once that the console was lost.
TEST(RunFaults, AConsoleReaderThatGoesAwayCostsTheConsoleOnly) {
  ConsoleRun program;
  ASSERT_GT(program.pid, 0);
  const ExampleRun& run = program.run;
  char head[64];  // the run waits for its reader until it goes
  EXPECT_GT(read(program.console, head, sizeof head), 0);
  program.CloseConsole();
  const int status = WaitForChild(program.pid, 120, "the run did not end");
  ASSERT_TRUE(WIFEXITED(status)) << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "");
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string diag = ReadTextFile(run.Diag());
  EXPECT_NE(diag.find("end of simulation reached successfully!"), std::string::npos) << diag;
  EXPECT_EQ(Occurrences(diag, "the console (standard output) is lost: its reader has gone (Broken pipe)"), 1) << diag;
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(run.Diag(), &why)) << why;
  for (const std::string& file : run.RowFiles()) EXPECT_EQ(LineCount(ReadTextFile(file)), kFullStatisticsLines) << file;
  EXPECT_FALSE(fs::exists(run.Output() + "/" + RunHold::kFileName));
}

namespace {

// Two programs started one after the other beside the run of this process, after its step of
// 10 January 0 h: their control files (each with a diagnostics file of its name), and what
// each said and ended with.
struct Neighbours {
  std::string control[2];
  std::string console[2];
  int status[2] = {-1, -1};
} neighbours;

void StartNeighboursBesideIt(ModellApplication& app, void*) {
  if (app.stepDate.day != 10 || app.stepDate.hour != 0) return;
  for (int i = 0; i < 2; ++i)
    neighbours.status[i] = RunCommand("OMP_NUM_THREADS=1 '" ORVEL_BINARY "' " + neighbours.control[i] +
                                          ".ctl -diagfile:" + neighbours.control[i] + ".xml </dev/null",
                                      &neighbours.console[i]);
}

}  // namespace

// Two runs with output folders of their own whose state grids are read from and written back
// in place into one folder (write code 3, an absolute name) would both succeed, one of them
// without its end state: a run holds the names of its end state as it holds its outputs', and
// the second ends at start-up, before it reads that state, naming the file and the run that
// holds it. Runs of other control files from the same working folder (where the copies and
// the module log go), each with its own output and state folders, still run side by side.
TEST(RunFaults, ARunHoldsTheFoldersItWritesItsEndStateInto) {
  ExampleRun run;
  const std::string control = ReadTextFile("basin.ctl");
  auto variant = [&](const std::string& output, const std::string& state) {
    fs::create_directories(output);
    fs::create_directories(state);
    for (const char* grid : {"interception_storage.asc", "interception_storage_Layer_1.asc"})
      fs::copy_file(grid, state + "/" + grid, fs::copy_options::overwrite_existing);
    std::string text = control;
    const auto replace = [&text](const std::string& from, const std::string& to) {
      const size_t at = text.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      text.replace(at, from.size(), to);
    };
    replace("DefaultOutputDirectory = output/", "DefaultOutputDirectory = " + output + "/");
    replace("interception_storage.asc        # interception storage grid",
            fs::absolute(state).string() + "/interception_storage.asc");
    return text;
  };
  WriteTextFile("basin.ctl", variant("output", "state"));
  WriteTextFile("sharing.ctl", variant("output2", "state"));
  WriteTextFile("beside.ctl", variant("output3", "state3"));
  neighbours = Neighbours();
  neighbours.control[0] = "sharing";
  neighbours.control[1] = "beside";
  NextApplicationSeams().afterPass = StartNeighboursBesideIt;
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  const std::string& sharing = neighbours.console[0];
  EXPECT_EQ(neighbours.status[0], 26) << sharing;
  EXPECT_NE(sharing.find("the run reads " + fs::absolute("state").string() +
                                    "/interception_storage.asc, which another run (process " +
                                    std::to_string(getpid()) + ", control file " + fs::absolute("basin.ctl").string() +
                                    ") writes"),
            std::string::npos)
      << sharing;
  EXPECT_EQ(neighbours.status[1], 0) << neighbours.console[1];
  EXPECT_FALSE(fs::exists("state/" + std::string(RunHold::kFileName)));  // given back at the end
}

namespace {

// The files of the output folder whose names begin with prefix, with their contents.
std::map<std::string, std::string> FilesBeginningWith(const std::string& output, const std::string& prefix) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(output)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) files[name] = ReadTextFile(e.path().string());
  }
  return files;
}

}  // namespace

// Runs whose DefaultOutputDirectory gives the names in one folder other beginnings (an
// ensemble) share the folder at the same time: each writes exactly what it writes alone. A
// run of the same beginning ends at start-up, naming a file and the run that writes it.
TEST(RunFaults, RunsWithOtherBeginningsOfNamesShareAFolderAtOnce) {
  ExampleRun run;
  const std::string control = ReadTextFile("basin.ctl");
  // basin.ctl writes under r1_ (the statistics files name their control file: the run
  // alone is of the same one), r2.ctl under r2_, r1.ctl under r1_ again.
  for (const char* prefix : {"r1", "r2"}) {
    std::string text = control;
    text.replace(text.find("DefaultOutputDirectory = output/"), 32,
                 "DefaultOutputDirectory = output/" + std::string(prefix) + "_");
    WriteTextFile(prefix + std::string(".ctl"), text);
  }
  WriteTextFile("basin.ctl", ReadTextFile("r1.ctl"));
  std::map<std::string, std::string> alone[2];
  for (int i = 0; i < 2; ++i) {
    std::string out;
    ASSERT_EQ(RunCommand("OMP_NUM_THREADS=1 '" ORVEL_BINARY "' " + std::string(i == 0 ? "basin" : "r2") +
                             ".ctl -diagfile:alone.xml </dev/null",
                         &out),
              0)
        << out;
    alone[i] = FilesBeginningWith(run.Output(), i == 0 ? "r1_" : "r2_");
    ASSERT_GE(alone[i].size(), 100u);
    for (const auto& f : alone[i]) fs::remove(run.Output() + "/" + f.first);
  }
  // basin.ctl in this process; r2, and r1 again, started while it runs.
  neighbours = Neighbours();
  neighbours.control[0] = "r2";
  neighbours.control[1] = "r1";
  NextApplicationSeams().afterPass = StartNeighboursBesideIt;
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  const std::string& same = neighbours.console[1];
  EXPECT_EQ(neighbours.status[0], 0) << neighbours.console[0];
  EXPECT_EQ(neighbours.status[1], 26) << same;
  EXPECT_NE(same.find("would be written to output/r1_"), std::string::npos) << same;
  EXPECT_NE(same.find(", which another run (process " + std::to_string(getpid()) + ", control file " +
                      fs::absolute("basin.ctl").string() + ") writes as well"),
            std::string::npos)
      << same;
  for (int i = 0; i < 2; ++i) {
    const auto together = FilesBeginningWith(run.Output(), i == 0 ? "r1_" : "r2_");
    EXPECT_EQ(together.size(), alone[i].size());
    for (const auto& f : alone[i]) {
      const auto it = together.find(f.first);
      EXPECT_TRUE(it != together.end() && it->second == f.second) << f.first << " differs from the run alone";
    }
  }
  EXPECT_FALSE(fs::exists(run.Output() + "/" + RunHold::kFileName));  // the last run out removes it
}

namespace {

struct StateReader {
  std::string console, linkedConsole;
  int status = -1, linkedStatus = -1;
} stateReader;

// Starts a run that goes on from the state in output/ while the run writing it there moves
// its end state into place (after the first file moved), and one that reads it through
// symbolic links in linked/.
void StartAReaderOfTheState(const std::string&) {
  if (stateReader.status != -1) return;
  stateReader.status = RunCommand("OMP_NUM_THREADS=1 '" ORVEL_BINARY "' chain.ctl -diagfile:chain.xml </dev/null",
                                  &stateReader.console);
  stateReader.linkedStatus = RunCommand(
      "OMP_NUM_THREADS=1 '" ORVEL_BINARY "' linked.ctl -diagfile:linked.xml </dev/null", &stateReader.linkedConsole);
}

}  // namespace

// A run that reads its state from the folder another run is moving its end state into would
// read a state mixed from two runs: it is refused at start-up, before it reads a file of it,
// naming the file and the run that writes it; so is one that reads it through symbolic links
// from another folder. Once that run has ended, it reads the whole state, every file of it as
// the record of the storage file says.
TEST(RunFaults, ARunStartedWhileAnotherMovesItsStateIntoPlaceDoesNotReadIt) {
  ExampleRun run;
  const std::string control = ReadTextFile("basin.ctl");
  for (const char* name : {"chain", "linked"}) {
    std::string chain = control;
    chain.replace(chain.find("DefaultOutputDirectory = output/"), 32,
                  "DefaultOutputDirectory = " + std::string(name) + "_output/\nInitialStateDirectory = " +
                      (name == std::string("chain") ? "output/" : "linked/"));
    WriteTextFile(std::string(name) + ".ctl", chain);
    fs::create_directories(std::string(name) + "_output");
  }
  fs::create_directories("linked");
  fs::copy_file("soil_state.txt", "output/soil_state.txt");  // the state of an earlier run
  fs::create_symlink("../output/soil_state.txt", "linked/soil_state.txt");
  stateReader = StateReader();
  NextApplicationSeams().afterEndStateMove = StartAReaderOfTheState;
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  EXPECT_EQ(stateReader.status, 26) << stateReader.console;
  EXPECT_NE(stateReader.console.find("the run reads output/soil_state.txt for the storage file of [soil_model], which "
                                     "another run (process " +
                                     std::to_string(getpid()) + ", control file " +
                                     fs::absolute("basin.ctl").string() + ") writes"),
            std::string::npos)
      << stateReader.console;
  EXPECT_EQ(stateReader.linkedStatus, 26) << stateReader.linkedConsole;
  EXPECT_NE(stateReader.linkedConsole.find("the run reads " + fs::absolute("output/soil_state.txt").string() +
                                           " for the storage file of [soil_model], which another run (process " +
                                           std::to_string(getpid())),
            std::string::npos)
      << stateReader.linkedConsole;
  std::string out;
  EXPECT_EQ(RunCommand("OMP_NUM_THREADS=1 '" ORVEL_BINARY "' chain.ctl -diagfile:chain.xml </dev/null", &out), 0)
      << out;
  EXPECT_NE(out.find("warm start from the state at the end of the step of 01.02.1985 00:00 in output/soil_state.txt"),
            std::string::npos)
      << out;
}

namespace {

int movesSeen = 0;

// A SIGTERM while the first file of the end state is moved into place.
void SigtermAtTheFirstMove(const std::string&) {
  if (++movesSeen == 1) pthread_kill(pthread_self(), SIGTERM);
}

}  // namespace

// A SIGTERM that comes once the run has begun to move its end state into place finds every
// step and every output written: the move finishes and the run ends as a success, with one
// WARNING saying when the signal came (a scheduler that repeats runs ended by a signal would
// apply the period twice). A control file after it is not started, and that is no success.
TEST(RunFaults, ASigtermAfterTheLastStepLeavesTheRunASuccess) {
  ExampleRun run;
  movesSeen = 0;
  NextApplicationSeams().afterEndStateMove = SigtermAtTheFirstMove;
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  EXPECT_EQ(Occurrences(console, "SIGTERM received after the last step of the run of basin.ctl, while its end was "
                                 "written: every step and every output of the run is written, and it ends as a "
                                 "success"),
            1)
      << console;
  EXPECT_NE(console.find("end of simulation reached successfully!"), std::string::npos) << console;
  EXPECT_NE(console.find("exitcode 0\no.k.\n\nthe end."), std::string::npos) << console;
  EXPECT_FALSE(fs::exists(run.Output() + "/soil_state.txt.incomplete"));
  EXPECT_NE(ReadTextFile(run.Output() + "/soil_state.txt").find("[end_state]\n1985 2 1 0 0"), std::string::npos);
  for (const std::string& file : run.RowFiles()) EXPECT_EQ(LineCount(ReadTextFile(file)), kFullStatisticsLines) << file;

  TerminationSignal = 0;
  movesSeen = 0;
  EXPECT_EQ(run.Run(&console, 2), kTerminatedCode) << console;
  EXPECT_EQ(Occurrences(console, "file modappli"), 1);
  EXPECT_NE(console.find("SIGTERM received: the run of basin.ctl is not started"), std::string::npos) << console;
}

// Another program that removes the lock file of the output folder while the run goes on lets
// other runs in: the run says so once at its end; it is still a success.
TEST(RunFaults, ALockFileRemovedDuringTheRunIsNamedAtItsEnd) {
  ExampleRun run;
  NextApplicationSeams().afterPass = [](ModellApplication& app, void*) {
    if (app.stepDate.day == 10 && app.stepDate.hour == 0) fs::remove(std::string("output/") + RunHold::kFileName);
  };
  std::string console;
  EXPECT_EQ(run.Run(&console), 0) << console;
  EXPECT_EQ(Occurrences(console, "the lock file output/.orvel.lock of the output folder output/ was removed or "
                                 "replaced by another program while the run went on"),
            1)
      << console;
  EXPECT_NE(console.find("end of simulation reached successfully!"), std::string::npos);
}

// The end state is moved into place as a set: a run killed between its moves leaves the
// marker of an incomplete state, which names the files, and the next warm start from there
// ends at start-up naming it and which files are new; the files moved before the kill are
// the new ones, the others the earlier state's.
TEST(RunFaults, ARunKilledWhileItMovesItsEndStateLeavesAStateTheNextRunRefuses) {
  ExampleRun run;
  std::string console;
  ASSERT_EQ(run.Run(&console), 0) << console;
  const std::map<std::string, std::string> written = StateFilesIn(run.Output());
  const std::map<std::string, std::string> before = SeedStateFiles(run.Output());
  ASSERT_GE(before.size(), 16u);
  const int status = RunInChild(run, [](ExampleRun&) {
    moves = 0;
    NextApplicationSeams().afterEndStateMove = KillAtTheThirdMove;
  });
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const std::string marker = run.Output() + "/soil_state.txt.incomplete";
  ASSERT_TRUE(fs::exists(marker));
  const std::string listed = ReadTextFile(marker);
  for (const char* file : {"\nalbedo.asc\n", "\nsd.asc\n", "\nsoil_state.txt\n"})  // beside the marker
    EXPECT_NE(listed.find(file), std::string::npos) << file << " is not named in\n" << listed;
  // Three files are the new ones, every other is as it was.
  int moved = 0;
  for (const auto& [name, text] : StateFilesIn(run.Output())) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) continue;
    if (name == "soil_state.txt.incomplete") continue;
    if (text == before.at(name)) continue;
    ++moved;
    EXPECT_TRUE(text == written.at(name)) << name;
  }
  EXPECT_EQ(moved, 3);
  EXPECT_TRUE(ReadTextFile(run.Output() + "/soil_state.txt") == before.at("soil_state.txt"));  // moved last

  // The next run reads its storage file from there.
  ReadStorageFileFromOutput();
  EXPECT_EQ(run.Run(&console), 71) << console;
  EXPECT_NE(console.find("the state of the storage file output/soil_state.txt is incomplete: the run that wrote it "
                         "was stopped while it moved its files into place, and output/soil_state.txt.incomplete "
                         "names them; some of them are that run's, the others the run's before: moved into place, "
                         "that run's: "),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("still under their temporary names, the run's before: "), std::string::npos) << console;
  EXPECT_TRUE(fs::exists(marker));
}

namespace {

// Kills the process once the storage file, the last file of the end state, is moved into
// place: before the marker is removed.
void KillAfterTheStorageFileMoved(const std::string& file) {
  if (file.size() >= 14 && file.compare(file.size() - 14, 14, "soil_state.txt") == 0) std::raise(SIGKILL);
}

// Puts a folder that holds a file under the marker's name once the storage file is moved,
// so that the marker cannot be removed.
void BlockTheMarkerAfterTheStorageFileMoved(const std::string& file) {
  if (file.size() < 14 || file.compare(file.size() - 14, 14, "soil_state.txt") != 0) return;
  const std::string marker = IncompleteStateMarker(file);
  std::remove(marker.c_str());
  fs::create_directories(marker);
  WriteTextFile(marker + "/kept", "x");
}

}  // namespace

// A run killed after its last move, before it removed the marker, left a whole state: the
// next warm start from it says so in one WARNING, removes the marker and runs.
TEST(RunFaults, AMarkerLeftAfterTheLastMoveBesideAWholeStateIsRemovedAndTheStateRuns) {
  ExampleRun run;
  std::string console;
  ASSERT_EQ(run.Run(&console), 0) << console;
  SeedStateFiles(run.Output());
  const int status = RunInChild(run, [](ExampleRun&) {
    NextApplicationSeams().afterEndStateMove = KillAfterTheStorageFileMoved;
  });
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const std::string marker = run.Output() + "/soil_state.txt.incomplete";
  ASSERT_TRUE(fs::exists(marker));
  const std::map<std::string, std::string> whole = StateFilesIn(run.Output());
  for (const auto& [name, text] : whole) EXPECT_EQ(text.rfind("seeded", 0), std::string::npos) << name;

  ReadStorageFileFromOutput();
  NextApplicationSeams() = ApplicationSeams();
  EXPECT_EQ(run.Run(&console), 0) << console;
  EXPECT_EQ(Occurrences(console, "output/soil_state.txt.incomplete stands beside the storage file "
                                 "output/soil_state.txt: the run that wrote the state was stopped before it removed "
                                 "it, after every file it names was moved into place; each agrees with the record of "
                                 "the storage file, so the state is whole and is read; the marker is removed"),
            1)
      << console;
  EXPECT_FALSE(fs::exists(marker));
}

// A marker that cannot be removed after the end state was moved into place: the run is no
// success (the state is whole, and says so), and the next warm start reads it.
TEST(RunFaults, AMarkerThatCannotBeRemovedFailsTheRun) {
  ExampleRun run;
  std::string console;
  NextApplicationSeams().afterEndStateMove = BlockTheMarkerAfterTheStorageFileMoved;
  EXPECT_EQ(run.Run(&console), kStorageWriteFailed) << console;
  EXPECT_NE(console.find("cannot remove output/soil_state.txt.incomplete"), std::string::npos) << console;
  EXPECT_NE(console.find("after the end state was moved into place: the state is whole"), std::string::npos)
      << console;
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos) << console;
  EXPECT_EQ(console.find("left no end state"), std::string::npos) << console;
}

// A state grid that cannot be written at the end, or a SIGTERM while the end is written:
// nothing of the end state is moved into place, the state the folder held stays whole (the
// run can be repeated from it), nothing is left under a staged name, and the log says so.
TEST(RunFaults, AFailedWriteOrASigtermAtTheEndLeavesTheEarlierStateWhole) {
  ExampleRun run;
  std::string console;
  ASSERT_EQ(run.Run(&console), 0) << console;
  // Contents no run writes: a file replaced would show.
  const std::map<std::string, std::string> before = SeedStateFiles(run.Output());
  std::string blocked = run.Output() + "/sd.asc.tmp";  // the grid cannot be written
  NextApplicationSeams().afterPass = FolderBeforeTheLastStep;
  NextApplicationSeams().afterPassContext = &blocked;
  EXPECT_EQ(run.Run(&console), 26) << console;
  EXPECT_NE(console.find("error creating output/sd.asc for writing in text mode."), std::string::npos) << console;
  EXPECT_NE(console.find("the run of basin.ctl failed and left no end state (its storage file output/soil_state.txt "
                         "is not written): the earlier state files are left as they were"),
            std::string::npos)
      << console;
  std::error_code ignored;
  fs::remove(run.Output() + "/sd.asc.tmp", ignored);
  EXPECT_TRUE(StateFilesIn(run.Output()) == before);
  // The same of a grid of the end written while the modules are released.
  blocked = run.Output() + "/peakflow.asc.tmp";
  NextApplicationSeams().afterPass = FolderBeforeTheLastStep;
  NextApplicationSeams().afterPassContext = &blocked;
  EXPECT_EQ(run.Run(&console), 26) << console;
  EXPECT_NE(console.find("error creating output/peakflow.asc for writing in text mode."), std::string::npos) << console;
  EXPECT_NE(console.find("the end state is not moved into place, the earlier state files are left as they were"),
            std::string::npos)
      << console;
  fs::remove(run.Output() + "/peakflow.asc.tmp", ignored);
  EXPECT_TRUE(StateFilesIn(run.Output()) == before);

  // The control file after it is not started, and named.
  NextApplicationSeams().afterPass = SignalInTheLastStep;
  NextApplicationSeams().afterPassContext = &sigterm;
  EXPECT_EQ(run.Run(&console, 2), kTerminatedCode) << console;
  EXPECT_NE(console.find("SIGTERM received while the end of the run was written: the end state is not moved into "
                         "place, the earlier state files are left as they were"),
            std::string::npos)
      << console;
  EXPECT_EQ(Occurrences(console, "file modappli"), 1);
  EXPECT_NE(console.find("SIGTERM received: the run of basin.ctl is not started"), std::string::npos) << console;
  EXPECT_EQ(console.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_TRUE(StateFilesIn(run.Output()) == before);
}

namespace {

// Every file under a folder with its contents, by path.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[e.path().string()] = ReadTextFile(e.path().string());
  return files;
}

// Points the folder link "current" at runs/new (a new link renamed over it, as operators
// point "current" at a new state), while the grid reader waits to open a file again.
void SwitchTheStateLink(int) {
  if (fs::read_symlink("current") == "runs/new") return;
  fs::create_directory_symlink("runs/new", "switched");
  fs::rename("switched", "current");
}

}  // namespace

// A run that reads its state through a folder link switched to another state while it starts
// (here while it waits for a grid the old state lacks) reads some files of each state: the
// files read are known by what was opened, not by where their names lead at the check, so
// those read before the switch are refused as replaced (code 26), and no file of either state
// changes.
TEST(RunFaults, AStateReadThroughAFolderLinkSwitchedWhileTheRunStartsIsRefused) {
  ExampleRun run;
  std::string console;
  ASSERT_EQ(run.Run(&console), 0) << console;  // a state with its record
  fs::create_directories("runs/old");
  fs::create_directories("runs/new");
  for (const char* file : {"snowtotal.asc", "soil_state.txt"}) fs::copy_file(file, std::string("runs/old/") + file);
  for (const auto& e : fs::directory_iterator(run.Output()))
    if (e.is_regular_file()) fs::copy_file(e.path(), "runs/new/" + e.path().filename().string());
  fs::create_directory_symlink("runs/old", "current");
  fs::create_directories(run.Output() + "/current");  // where the grids named current/... are written
  std::string control = ReadTextFile("basin.ctl");
  for (const auto& [from, to] : std::map<std::string, std::string>{
           {"snowtotal.asc           # total snow storage", "current/snowtotal.asc"},
           {"sd.asc                  # saturation deficit grid", "current/sd.asc"},
           {"output/\n", "output/\nInitialStateDirectory = current/\n"}}) {
    const size_t at = control.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    control.replace(at, from.size(), to);
  }
  WriteTextFile("basin.ctl", control);
  const auto before = FilesUnder("runs");
  SetGridRetrySleeper(SwitchTheStateLink);
  const int code = run.Run(&console);
  SetGridRetrySleeper({});
  EXPECT_EQ(code, 26) << console;
  EXPECT_NE(console.find(" has been replaced by another file since the run read it while the run was built"),
            std::string::npos)
      << console;
  EXPECT_TRUE(FilesUnder("runs") == before);
}

namespace {

// While the grid reader waits to open a file again: the signal given is raised, or (none) a
// FIFO that nobody writes into is made under the name of the missing state grid.
int signalWhileRetried = 0;
void FifoOrSignalWhileRetried(int) {
  if (signalWhileRetried != 0)
    std::raise(signalWhileRetried);
  else if (!fs::exists("sd.asc"))
    mkfifo("sd.asc", 0644);
}

}  // namespace

// A state grid missing at the start is tried again for a second: a FIFO made under its name
// meanwhile is refused at once (code 21, naming it), never opened to wait for a writer for
// ever; a SIGTERM, or a SIGINT (ignored while a grid file is open), ends the retries and the
// run (code 96).
TEST(RunFaults, AGridTriedAgainNeverWaitsForAWriterAndStopsOnASignal) {
  ExampleRun run;
  fs::remove("sd.asc");
  signalWhileRetried = 0;
  const int status = RunInChild(run, [](ExampleRun&) { SetGridRetrySleeper(FifoOrSignalWhileRetried); });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 21);
  const std::string refused = ReadTextFile(run.Output() + "/../console.txt");
  EXPECT_NE(refused.find("error opening sd.asc (a FIFO, not a regular file)"), std::string::npos) << refused;
  for (const int signum : {SIGTERM, SIGINT}) {
    fs::remove("sd.asc");
    signalWhileRetried = signum;
    SetGridRetrySleeper(FifoOrSignalWhileRetried);
    std::string console;
    const int code = run.Run(&console);
    SetGridRetrySleeper({});
    TerminationSignal = 0;
    EXPECT_EQ(code, kTerminatedCode) << console;
    EXPECT_NE(console.find(std::string(signum == SIGINT ? "SIGINT" : "SIGTERM") +
                           " received while the run waited to open sd.asc again (No such file or directory): it ends"),
              std::string::npos)
        << console;
    EXPECT_EQ(Occurrences(console, "Will try again"), 1) << console;
  }
}

// Users take turns in a group folder (setgid, the group's, sticky: mode 3775) whatever their
// umask, and the control file changes between their runs. After a run of one user under
// umask 022 left the module log, the copy of the control file and a lock file that the group
// cannot write, a run of another user of the group clears the lock file, writes its notes
// and its copy to files of its own (a WARNING names each shared one, its owner and the fix)
// and ends as a success; the shared files keep what they held. Under umask 002 both users
// write the one module log, copy and diagnostics file (in place: no user may replace
// another's file in a sticky folder). Where the first user planted files under the second
// user's own names too (two users whose names come out alike), a link to a device under the
// diagnostics file's name and a FIFO with a reader that never reads under the module log's,
// the second user's run takes names of its own with its uid and writes nothing into
// what the first user planted.
TEST(RunFaults, UsersTakeTurnsInAGroupFolderWhateverTheirUmask) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second user: runs as root only (in a user namespace of an unprivileged "
                                      "user only the user's own uid can be mapped without newuidmap)";
  static mode_t mask;
  struct Row {
    mode_t mask;
    bool planted;
  };
  for (const Row& row : {Row{022, false}, Row{002, false}, Row{022, true}}) {
    mask = row.mask;
    const bool groupWrites = mask == 002;
    SCOPED_TRACE(std::string(groupWrites ? "umask 002" : "umask 022") + (row.planted ? ", names planted" : ""));
    ExampleRun run;
    const std::string here = fs::current_path().string();
    const std::string diagFolder = fs::path(run.Diag()).parent_path().string();
    for (const std::string& folder : {here, run.Output(), diagFolder}) {
      ASSERT_EQ(chown(folder.c_str(), 0, 65534), 0);
      ASSERT_EQ(chmod(folder.c_str(), folder == run.Output() ? 02775 : 03775), 0);
    }
    const mode_t previous = umask(mask);
    std::string console;
    const int first = run.Run(&console);
    ASSERT_EQ(first, 0) << console;
    const std::string shared = ReadTextFile("modell_0.log");
    ASSERT_FALSE(shared.empty());
    const std::string copy = ReadTextFile("basin.ctl.intern");
    std::string control = ReadTextFile("basin.ctl");
    control.insert(control.rfind(" 0.5\n") + 4, "0");  // the same value, written otherwise
    WriteTextFile("basin.ctl", control);
    // The first user's diagnostics, seeded so that a file written again can be told from it.
    const std::string seeded = "<?xml version='1.0'?><Diag>seeded by the first user</Diag>\n";
    WriteTextFile(run.Diag(), seeded);
    const std::string own = row.planted ? ".nobody.65534" : ".nobody";
    const std::string ownDiag = diagFolder + "/d" + own + ".xml";
    const std::string plantedText = "planted by the first user\n";
    int reader = -1;
    if (row.planted) {
      for (const std::string& name : {diagFolder + "/d.nobody.xml", std::string("modell_0.nobody.log"),
                                      std::string("basin.ctl.nobody.intern")})
        WriteTextFile(name, plantedText);
      fs::remove(run.Diag());
      fs::create_symlink("/dev/null", run.Diag());
      fs::remove("modell_0.log");
      ASSERT_EQ(mkfifo("modell_0.log", 0666), 0);
      reader = open("modell_0.log", O_RDONLY | O_NONBLOCK);
    }
    umask(previous);
    if (!groupWrites) {
      const std::string lockFile = run.Output() + "/" + RunHold::kFileName;  // as a run killed outright leaves it
      WriteTextFile(lockFile, "process 999999999, control file " + here + "/basin.ctl\n");
      ASSERT_EQ(chmod(lockFile.c_str(), 0644), 0);
    }
    const int status = RunInChild(run, [](ExampleRun&) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(98);
      umask(mask);
    });
    const std::string other = ReadTextFile("console.txt");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << other;
    EXPECT_NE(other.find("end of simulation reached successfully!"), std::string::npos) << other;
    const std::string written = ReadTextFile(groupWrites ? run.Diag() : ownDiag);
    EXPECT_NE(written.find("end of simulation reached successfully!"), std::string::npos) << written;
    std::string why;
    EXPECT_TRUE(IsWellFormedXml(groupWrites ? run.Diag() : ownDiag, &why)) << why;
    EXPECT_EQ(fs::exists(ownDiag), !groupWrites);
    EXPECT_EQ(fs::exists("modell_0" + own + ".log"), !groupWrites);
    const std::string changedCopy = ReadTextFile(groupWrites ? "basin.ctl.intern" : "basin.ctl" + own + ".intern");
    EXPECT_NE(changedCopy.find("1000 0.50\n"), std::string::npos) << changedCopy;
    if (groupWrites) {
      EXPECT_EQ(Occurrences(other, "belongs to user root"), 0) << other;
      EXPECT_EQ(ReadTextFile("modell_0.log").rfind(shared, 0), 0u);  // appended to
      continue;
    }
    EXPECT_EQ(ReadTextFile("basin.ctl.intern"), copy);
    EXPECT_NE(ReadTextFile("modell_0" + own + ".log").find("Fliesszeitverteilung"), std::string::npos);
    EXPECT_NE(other.find("was left by runs that have ended: it is removed and made anew"), std::string::npos) << other;
    if (row.planted) {
      for (const std::string& name : {diagFolder + "/d.nobody.xml", std::string("modell_0.nobody.log"),
                                      std::string("basin.ctl.nobody.intern")})
        EXPECT_EQ(ReadTextFile(name), plantedText) << name;
      char byte;
      EXPECT_LE(read(reader, &byte, 1), 0) << "the FIFO was written";
      close(reader);
      EXPECT_NE(other.find("the module log modell_0.log in the working folder belongs to user root (a FIFO, mode "
                           "0644), and this user cannot append to it: this run writes its notes to "
                           "modell_0.nobody.65534.log"),
                std::string::npos)
          << other;
      EXPECT_NE(other.find("the diagnostics file " + run.Diag() + " belongs to user root (a symbolic link, mode 0777)"),
                std::string::npos)
          << other;
      continue;
    }
    EXPECT_EQ(ReadTextFile(run.Diag()), seeded);
    EXPECT_EQ(Occurrences(other, "the diagnostics file " + run.Diag() + " belongs to user root (mode 0644), and this "
                                 "user cannot write it, nor replace it in its folder (Operation not permitted): this "
                                 "run writes its diagnostics to " + ownDiag + ". To share one diagnostics file, its "
                                 "owner makes it writable for the group (chmod g+w " + run.Diag() + ")"),
              1)
        << other;
    EXPECT_NE(other.find("the preprocessed copy of the control file basin.ctl.intern belongs to user root (mode 0644), "
                         "and this user cannot write it, nor replace it in its folder (Operation not permitted): this "
                         "run writes its copy to basin.ctl.nobody.intern"),
              std::string::npos)
        << other;
    EXPECT_NE(other.find("the module log modell_0.log in the working folder belongs to user root (mode 0644), and this "
                         "user cannot append to it: this run writes its notes to modell_0.nobody.log. To share one "
                         "module log, its owner makes it writable for the group (chmod g+w modell_0.log)"),
              std::string::npos)
        << other;
    EXPECT_EQ(ReadTextFile("modell_0.log"), shared);
  }
}
