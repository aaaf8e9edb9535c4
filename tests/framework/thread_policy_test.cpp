#include "framework/thread_policy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

TEST(ThreadPolicy, BriefSpinsUnlessTheEnvironmentChoosesAPolicy) {
  struct Case {
    const char* waitPolicy;
    const char* spinCount;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, kBriefSpinCount},
      {"ACTIVE", nullptr, nullptr},
      {"", nullptr, nullptr},  // set, even if empty: the user's choice
      {nullptr, "300000", nullptr},
      {"PASSIVE", "0", nullptr},
  };
  for (const Case& c : cases) {
    const char* got = WaitPolicyToSet(c.waitPolicy, c.spinCount);
    if (c.expected == nullptr)
      EXPECT_EQ(got, nullptr);
    else
      EXPECT_EQ(std::string(got ? got : "(none)"), c.expected);
  }
}

// The program starts itself again by the path it was started by when that leads to the file
// it runs, else by the file's real path, so that the process keeps its name; a path that
// leads elsewhere is not taken.
TEST(ThreadPolicy, TheRestartKeepsTheNameTheProgramWasStartedBy) {
  namespace fs = std::filesystem;
  const TempDir dir;
  const std::string program = dir.file("orvelvco64");
  WriteTextFile(program, "a");
  WriteTextFile(dir.file("other"), "b");
  fs::create_symlink(program, dir.file("orvel"));
  const std::string real = fs::canonical(program).string();
  struct Case {
    std::string self, argv0;  // argv0 "": none
    std::string expected;
  };
  const Case cases[] = {
      {dir.file("orvel"), "orvelvco64", real},                // found through PATH: the real path
      {dir.file("orvel"), "", real},
      {program, dir.file("orvel"), dir.file("orvel")},        // the link's own name
      {program, dir.file("other"), real},                     // another file
      {program, dir.file("gone/x"), real},
      {dir.file("gone"), "", dir.file("gone")},               // no file: as given
  };
  for (const Case& c : cases)
    EXPECT_EQ(RestartPath(c.self.c_str(), c.argv0.empty() ? nullptr : c.argv0.c_str()), c.expected)
        << c.self << " started as " << c.argv0;
}

// Threads of a run: the requested ones, at most one per kCellsPerThread cells and at most
// the cores the rest of the machine (on grids below kLoadBoundCells) and the grid writer
// leave free, at least one; tests that force every loop to fork get what they ask for.
TEST(ThreadPolicy, TheTeamFollowsTheCellsAndTheCoresLeftFree) {
  struct Case {
    int requested, cores;
    long cells;
    double otherLoad;
    long minCells;
    int expected;
    bool writing = false;  // the grid writer thread got grids to write
  };
  const Case cases[] = {
      {8, 8, 370, 0.0, kMinParallelCells, 1},          // the example basin
      {8, 8, 5920, 0.0, kMinParallelCells, 2},
      {8, 8, 11252, 0.0, kMinParallelCells, 4},
      {8, 8, 13320, 0.0, kMinParallelCells, 4},
      {8, 8, 62500, 0.0, kMinParallelCells, 8},
      {4, 8, 1000000, 0.0, kMinParallelCells, 4},      // never more than asked for
      {8, 8, 100000, 2.6, kMinParallelCells, 5},       // 5.4 cores free
      {8, 8, 100000, 2.4, kMinParallelCells, 6},       // 5.6 cores free
      {8, 8, 100000, 11.0, kMinParallelCells, 1},      // more load than cores
      {8, 8, 100000, -0.5, kMinParallelCells, 8},      // this run's own share overestimated
      {8, 8, kLoadBoundCells, 11.0, kMinParallelCells, 8},  // loops long enough whatever the load
      {16, 8, 1000000, 0.0, kMinParallelCells, 8},     // more asked for than there are cores
      {8, 8, 1000000, 0.0, kMinParallelCells, 7, true},   // a core for the grid writer
      {8, 8, 100000, 2.4, kMinParallelCells, 5, true},
      {2, 2, 1000000, 0.0, kMinParallelCells, 2, true},   // not on two cores
      {8, 8, 370, 11.0, 0, 8},                         // forced: as asked
      {0, 8, 62500, 0.0, kMinParallelCells, 1},
  };
  // The others' load: the processors' busy ticks (user, nice, system, irq, softirq, steal),
  // those of this run's processors only, less the run's own time.
  const std::string stat =
      "cpu  900 0 90 5000 7 0 3 0 0 0\n"
      "cpu0 100 1 10 800 5 2 3 4 0 0\n"
      "cpu1 200 0 20 900 2 0 0 0 0 0\n"
      "cpu2 600 0 60 3300 0 0 0 0 0 0\n"
      "intr 1 2 3\ncpu9 1 1 1 1 1 1 1 1\n";
  EXPECT_EQ(BusyProcessorTicks(stat, {}), 120.0 + 220.0 + 660.0);
  EXPECT_EQ(BusyProcessorTicks(stat, {true, false, true}), 120.0 + 660.0);
  EXPECT_EQ(BusyProcessorTicks(stat, {false, true}), 220.0);
  EXPECT_EQ(BusyProcessorTicks("intr 1 2\n", {}), -1.0);
  EXPECT_EQ(BusyProcessorTicks("cpu0 1 2\n", {}), -1.0);  // cut short
  EXPECT_EQ(BusyProcessorTicks("cpu0 1 -2 3 4 5 6 7 8\n", {}), -1.0);
  EXPECT_DOUBLE_EQ(OthersBusyCores(14.0, 8.0, 2.0), 3.0);
  EXPECT_EQ(OthersBusyCores(7.9, 8.0, 2.0), 0.0);  // ticks coarser than the run's own clock
  for (const Case& c : cases)
    EXPECT_EQ(TeamSize(c.requested, c.cores, c.cells, c.otherLoad, c.minCells, c.writing), c.expected)
        << c.requested << " asked, " << c.cells << " cells, load " << c.otherLoad;
}
