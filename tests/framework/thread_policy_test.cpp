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

// The program starts itself again through the real path of the file it runs, so that the
// process keeps the file's name; a link elsewhere, or a file replaced since, is not taken.
TEST(ThreadPolicy, TheRestartTakesTheRealPathOfTheFileItRuns) {
  namespace fs = std::filesystem;
  const TempDir dir;
  const std::string program = dir.file("orvelvco64");
  WriteTextFile(program, "a");
  fs::create_symlink(program, dir.file("link"));
  EXPECT_EQ(RestartPath(dir.file("link").c_str()), fs::canonical(program).string());
  EXPECT_EQ(RestartPath(program.c_str()), fs::canonical(program).string());
  EXPECT_EQ(RestartPath(dir.file("gone").c_str()), dir.file("gone"));
  // The running test's own file, by the link the program starts itself through.
  const std::string self = "/proc/self/exe";
  const std::string real = fs::canonical(self).string();
  EXPECT_EQ(RestartPath(self.c_str()), real);
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
      {8, 8, 11252, 0.0, kMinParallelCells, 5},
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
  for (const Case& c : cases)
    EXPECT_EQ(TeamSize(c.requested, c.cores, c.cells, c.otherLoad, c.minCells, c.writing), c.expected)
        << c.requested << " asked, " << c.cells << " cells, load " << c.otherLoad;
}
