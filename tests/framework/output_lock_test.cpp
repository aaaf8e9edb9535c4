// The names a run holds: every name it writes under for itself alone, the files it reads
// against other runs' writes. The other run is always another process (the holds are those
// of a process: a run never holds anything against itself).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/output_lock.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The ends of the pipes that keep the other runs going: a child closes those of its elder
// siblings, or they would wait for it.
std::vector<int>& KeepingEnds() {
  static std::vector<int> ends;
  return ends;
}

// Another run: a child process that holds names ("w <path>": written, "r <path>": read) for
// the control file given, until LetGo (or the end of the object).
class RunElsewhere {
 public:
  RunElsewhere(const std::string& control, const std::vector<std::string>& holds) {
    int ready[2], done[2];
    if (pipe(ready) != 0 || pipe(done) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      for (int end : KeepingEnds()) close(end);
      close(ready[0]);
      close(done[1]);
      char status = 'y';
      {
        RunHold hold;
        hold.Begin(nullptr, control, std::string());
        try {
          for (const std::string& h : holds)
            h[0] == 'w' ? hold.Write(h.substr(2), "[x] output", false) : hold.Read(h.substr(2), "[x] input");
        } catch (int) {
          status = 'n';
        }
        if (write(ready[1], &status, 1) != 1) _exit(1);
        char c;
        while (read(done[0], &c, 1) > 0) {
        }
      }
      _exit(0);
    }
    close(ready[1]);
    close(done[0]);
    char status = 0;
    held_ = read(ready[0], &status, 1) == 1 && status == 'y';
    close(ready[0]);
    done_ = done[1];
    KeepingEnds().push_back(done_);
  }
  ~RunElsewhere() { LetGo(); }
  // Ends the other run (its holds go with it) and waits for it.
  void LetGo() {
    if (done_ < 0) return;
    auto& ends = KeepingEnds();
    ends.erase(std::remove(ends.begin(), ends.end(), done_), ends.end());
    close(done_);
    done_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool Held() const { return held_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int done_ = -1;
  bool held_ = false;
};

// The code a hold of this process ends with (0: taken), its message in *message.
int Take(RunHold& hold, const std::string& how, const std::string& path, CapturedLog& log, std::string* message) {
  const size_t before = log.console().size();
  int code = 0;
  try {
    how == "w" ? hold.Write(path, "[s] statistics file s.stat", false) : hold.Read(path, "[r] grid");
  } catch (int c) {
    code = c;
  }
  if (message) *message = log.console().substr(before);
  return code;
}

}  // namespace

// Runs that share a folder but write other names hold it side by side; one name is held by
// one run alone, against another that writes it or reads it, and a read is shared with other
// readers but not with a writer. The messages name the file and the other run.
TEST(RunHold, OneNameIsHeldByOneRunWhileOthersShareTheFolder) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  RunElsewhere other("/data/other.ctl", {"w " + folder + "r1_QB.stat", "r " + folder + "dem.asc"});
  ASSERT_TRUE(other.Held());
  CapturedLog log;
  RunHold hold;
  hold.Begin(&log.log(), "mine.ctl", folder);
  std::string message;
  EXPECT_EQ(Take(hold, "w", folder + "r2_QB.stat", log, &message), 0) << message;  // another prefix
  EXPECT_EQ(Take(hold, "r", folder + "dem.asc", log, &message), 0) << message;     // read by both
  EXPECT_EQ(Take(hold, "w", folder + "r1_QB.stat", log, &message), 26);
  EXPECT_NE(message.find("[s] statistics file s.stat would be written to " + folder + "r1_QB.stat, which another run "
                         "(process " + std::to_string(other.Pid()) + ", control file /data/other.ctl) writes as "
                         "well: two runs would write over each other's files. Let that run end, or give this one "
                         "another DefaultOutputDirectory in [output_interval]"),
            std::string::npos)
      << message;
  EXPECT_EQ(Take(hold, "r", folder + "r1_QB.stat", log, &message), 26);
  EXPECT_NE(message.find("the run reads " + folder + "r1_QB.stat for [r] grid, which another run (process " +
                         std::to_string(other.Pid()) + ", control file /data/other.ctl) writes"),
            std::string::npos)
      << message;
  EXPECT_EQ(Take(hold, "w", folder + "dem.asc", log, &message), 26);
  EXPECT_NE(message.find("reads while it is built"), std::string::npos) << message;
  // Both runs are listed in the one lock file of the folder.
  const std::string list = ReadTextFile(folder + RunHold::kFileName);
  EXPECT_NE(list.find("process " + std::to_string(other.Pid()) + ", control file /data/other.ctl\n"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("process " + std::to_string(getpid()) + ", control file " + fs::absolute("mine.ctl").string()),
            std::string::npos)
      << list;
  // Once the other run has gone, its names are free; the last run out removes the lock file.
  other.LetGo();
  EXPECT_EQ(Take(hold, "w", folder + "r1_QB.stat", log, &message), 0) << message;
  EXPECT_EQ(Take(hold, "w", folder + "dem.asc", log, &message), 0) << message;
  hold.Release();
  EXPECT_FALSE(fs::exists(folder + RunHold::kFileName));
}

// The holds of files only read while the run is built go back when it is sealed: a run that
// writes them may start then, and a folder the run only read from is left without a lock file.
TEST(RunHold, ReadsGoBackWhenTheRunNoLongerNeedsThem) {
  TempDir inputs, outputs;
  const std::string in = inputs.path() + "/", out = outputs.path() + "/";
  RunHold hold;
  hold.Begin(nullptr, "mine.ctl", out);
  hold.Read(in + "sd.asc", "[soil_model] grid sd.asc");
  hold.Read(in + "temperature.dat", "[temperature] station file");
  hold.Write(out + "QB.stat", "[soil_model] QB.stat", false);
  {
    RunElsewhere writer("/data/other.ctl", {"w " + in + "sd.asc"});
    EXPECT_FALSE(writer.Held());
  }
  hold.KeepReads({in + "temperature.dat"});
  {
    RunElsewhere writer("/data/other.ctl", {"w " + in + "sd.asc"});
    EXPECT_TRUE(writer.Held());
  }
  {
    RunElsewhere writer("/data/other.ctl", {"w " + in + "temperature.dat"});
    EXPECT_FALSE(writer.Held());  // read on during the run
  }
  hold.KeepReads({});
  EXPECT_FALSE(fs::exists(in + RunHold::kFileName));
  EXPECT_TRUE(fs::exists(out + RunHold::kFileName));
  EXPECT_EQ(hold.LockFiles(), std::vector<std::string>{out + RunHold::kFileName});
}

// A run that ends removes the lock file only while it is its own and no other run is listed:
// after a third party removed it and a second run made its own, the first run's end leaves
// the second's lock file, so a third run still finds the name taken.
TEST(RunHold, ARunThatEndsRemovesOnlyItsOwnLockFile) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  const std::string lockFile = folder + RunHold::kFileName;
  RunElsewhere first("first.ctl", {"w " + folder + "a.stat"});
  ASSERT_TRUE(first.Held());
  ASSERT_EQ(unlink(lockFile.c_str()), 0);
  RunElsewhere second("second.ctl", {"w " + folder + "b.stat"});
  ASSERT_TRUE(second.Held());
  first.LetGo();
  EXPECT_TRUE(fs::exists(lockFile));
  EXPECT_NE(ReadTextFile(lockFile).find("second.ctl"), std::string::npos);
  RunHold third;
  third.Begin(nullptr, "third.ctl", folder);
  int code = 0;
  try {
    third.Write(folder + "b.stat", "[s] b.stat", false);
  } catch (int c) {
    code = c;
  }
  EXPECT_EQ(code, 26);
  third.Release();
  second.LetGo();
  EXPECT_FALSE(fs::exists(lockFile));
}

// A lock file left by a run killed outright lists it still: the next run drops that line. A
// file under the lock file's name that lists no runs (an input of that name) is never written:
// a run that writes into the folder ends naming it, one that only reads from it holds nothing
// there.
TEST(RunHold, TheLockFileIsAListOfRunsOrLeftAlone) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  const std::string lockFile = folder + RunHold::kFileName;
  WriteTextFile(lockFile, "process 999999999, control file /gone/basin.ctl\n");
  CapturedLog log;
  {
    RunHold hold;
    hold.Begin(&log.log(), "mine.ctl", folder);
    hold.Write(folder + "a.stat", "[s] a.stat", false);
    EXPECT_EQ(ReadTextFile(lockFile).find("/gone/basin.ctl"), std::string::npos);
  }
  const std::string grid = "ncols 2\nnrows 1\n";
  WriteTextFile(lockFile, grid);
  RunHold reader;
  reader.Begin(&log.log(), "mine.ctl", std::string());
  reader.Read(folder + "dem.asc", "[x] grid");
  EXPECT_EQ(ReadTextFile(lockFile), grid);
  std::string message;
  EXPECT_EQ(Take(reader, "w", folder + "a.stat", log, &message), 26);
  EXPECT_NE(message.find("the lock file " + lockFile + " of the folder " + folder +
                         " is a file that holds no list of runs (a file of that name, perhaps an input): it is left as "
                         "it is"),
            std::string::npos)
      << message;
  EXPECT_EQ(ReadTextFile(lockFile), grid);
}

// A name that leads to a character device is no name of the run's: any number of runs throw
// their rows into it, and no lock file is made beside it.
TEST(RunHold, ACharacterDeviceIsNotHeld) {
  TempDir dir;
  const std::string null = dir.file("null");
  std::string why;
  if (!MakeNullDevice(null, &why)) GTEST_SKIP() << why;
  RunElsewhere other("other.ctl", {"w " + null});
  EXPECT_TRUE(other.Held());
  RunHold hold;
  hold.Begin(nullptr, "mine.ctl", std::string());
  hold.Write(null, "[s] s.stat", false);
  EXPECT_FALSE(fs::exists(dir.file(RunHold::kFileName)));
}
