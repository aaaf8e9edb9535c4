// Whole runs of the example basin (every module on) that an operator's bad luck ends: the
// disk filling up at the end of the run.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "framework/entry.h"
#include "framework/modappli.h"
#include "grids/grid_output_thread.h"
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
    for (const auto& e : fs::directory_iterator(std::string(ORVEL_SOURCE_DIR) + "/examples/basin"))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir_.file(e.path().filename().string()));
    fs::create_directories(Output());
    fs::current_path(dir_.path());
  }
  ~ExampleRun() {
    NextApplicationSeams() = ApplicationSeams();
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }
  std::string Output() const { return dir_.file("output"); }
  std::string Diag() const { return diagDir_.file("d.xml"); }
  // Runs the program in this process (so that the application seams apply); returns its
  // exit code and the console in *console.
  int Run(std::string* console) {
    // One thread: spinning OpenMP workers of a test process (the program itself makes them
    // sleep) would cost minutes on a loaded machine.
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    std::string program = "orvelvco64", control = "basin.ctl", diag = "-diagfile:" + Diag();
    char* argv[] = {program.data(), control.data(), diag.data(), nullptr};
    std::ostringstream out;
    const int code = RunOrvel(3, argv, out);
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

// How the disk fills at the last step: a small tmpfs over the output folder filled up
// (where the test may mount one), else every file of buffered rows becomes /dev/full.
struct DiskFiller {
  std::string output;
  bool tmpfs = false;
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
    for (const std::string& file : RowFilesIn(output)) {
      fs::remove(file);
      fs::create_symlink("/dev/full", file);
    }
  }
};

}  // namespace

// The disk fills during the last step, before the end-of-run flush: every file that keeps
// fewer rows than the run made is named with the reason, no file holds half a row, the
// run ends with a failure (no abort, no success line, no "o.k.") and the diagnostics file
// is whole.
TEST(RunFaults, AFullDiskAtTheEndNamesEveryFileItCostsAndIsNoSuccess) {
  ExampleRun run;
  DiskFiller filler;
  filler.output = run.Output();
  filler.tmpfs = ::mount("tmpfs", filler.output.c_str(), "tmpfs", 0, "size=16m") == 0;
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
}
