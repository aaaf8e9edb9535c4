// The names a run holds: every name it writes under for itself alone, the files it reads
// against other runs' writes. The other run is always another process (the holds are those
// of a process: a run never holds anything against itself).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/ctrl_c.h"
#include "framework/run_hold.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The ends of the pipes that keep the other runs going: a child closes those of its elder
// siblings, or they would wait for it.
std::vector<int>& KeepingEnds() {
  static std::vector<int> ends;
  return ends;
}

// Takes the guard of the list of runs in the lock file (its first byte) and writes the line
// of this process into it, as a run stopped while it writes the list; the descriptor stays
// open to the end of the process.
bool StallTheList(const std::string& lockFile, const std::string& control) {
  const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
  flock guard{};
  guard.l_type = F_WRLCK;
  guard.l_whence = SEEK_SET;
  guard.l_len = 1;
  const std::string line = "process " + std::to_string(getpid()) + ", control file " + control + "\n";
  return fd >= 0 && fcntl(fd, F_SETLK, &guard) == 0 && write(fd, line.data(), line.size()) > 0;
}

// Another run: a child process that holds names ("w <path>": written, "r <path>": read) for
// the control file given, until LetGo (or the end of the object). "g <folder>" stalls in
// the folder's list of runs: it holds the list's guard, its own line written.
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
            if (h[0] == 'g')
              status = StallTheList(h.substr(2) + RunHold::kFileName, control) ? status : 'n';
            else
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
  hold.ReleaseReadsExcept({in + "temperature.dat"});
  {
    RunElsewhere writer("/data/other.ctl", {"w " + in + "sd.asc"});
    EXPECT_TRUE(writer.Held());
  }
  {
    RunElsewhere writer("/data/other.ctl", {"w " + in + "temperature.dat"});
    EXPECT_FALSE(writer.Held());  // read on during the run
  }
  hold.ReleaseReadsExcept({});
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

namespace {

// Holds folder + name for writing in a child process, once prepare has set it up (another
// user, a limit); returns the code the hold ends with (0: held) and the child's log in *said.
int WriteInChild(const std::string& folder, const std::string& name, void (*prepare)(), std::string* said) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    prepare();
    CapturedLog log;
    int code = 0;
    {
      RunHold hold;
      hold.Begin(&log.log(), "/data/child.ctl", folder);
      try {
        hold.Write(folder + name, "[s] " + name, false);
      } catch (int c) {
        code = c;
      }
    }
    const std::string text = log.console();
    _exit(write(out[1], text.data(), text.size()) < 0 ? 99 : code);
  }
  close(out[1]);
  said->clear();
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said->append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void AsNobody() {
  if (setgid(65534) != 0 || setuid(65534) != 0) _exit(98);
}

// The folder given folderMode, and in it the lock file (of mode) that a run of root killed
// outright left.
void LeaveAStaleLockFile(const std::string& folder, mode_t folderMode, mode_t mode) {
  ASSERT_EQ(chmod(folder.c_str(), folderMode), 0);
  const std::string lockFile = folder + RunHold::kFileName;
  WriteTextFile(lockFile, "process 999999999, control file /gone/basin.ctl\n");
  ASSERT_EQ(chmod(lockFile.c_str(), mode), 0);
}

// Files of at most 8 bytes: a list of runs cannot be written, as on a full disk.
void WithFilesOfEightBytes() {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{8, 8};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(98);
}

}  // namespace

// The lock file serves a group: it is made as writable as the umask lets it, and it goes only
// when no other process holds a lock in it, whatever its list says (a third party that empties
// the list lets no run in on a name still held). A control file whose path holds a line feed
// leaves a list of whole lines; a list that cannot be written ends the start-up.
TEST(RunHold, TheLockFileServesAGroupAndGoesOnlyWhenNobodyHoldsIt) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  const std::string lockFile = folder + RunHold::kFileName;
  const mode_t previous = umask(002);
  {
    RunHold hold;
    hold.Begin(nullptr, "mine.ctl", folder);
    hold.Write(folder + "a.stat", "[s] a.stat", false);
    struct stat st {};
    ASSERT_EQ(stat(lockFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
  }
  umask(previous);
  EXPECT_FALSE(fs::exists(lockFile));

  RunElsewhere other("other\nline.ctl", {"w " + folder + "a.stat"});
  ASSERT_TRUE(other.Held());
  std::istringstream list(ReadTextFile(lockFile));
  for (std::string line; std::getline(list, line);) EXPECT_EQ(line.rfind("process ", 0), 0u) << line;
  EXPECT_NE(ReadTextFile(lockFile).find("other\\nline.ctl\n"), std::string::npos) << ReadTextFile(lockFile);
  CapturedLog log;
  {
    RunHold hold;
    hold.Begin(&log.log(), "mine.ctl", folder);
    std::string message;
    EXPECT_EQ(Take(hold, "w", folder + "a.stat", log, &message), 26);
    EXPECT_NE(message.find("control file " + fs::current_path().string() + "/other\\nline.ctl) writes as well"),
              std::string::npos)
        << message;
    hold.Write(folder + "b.stat", "[s] b.stat", false);
    ASSERT_EQ(truncate(lockFile.c_str(), 0), 0);  // another program empties the list
  }
  EXPECT_TRUE(fs::exists(lockFile));  // the other run still holds a.stat
  RunElsewhere third("third.ctl", {"w " + folder + "a.stat"});
  EXPECT_FALSE(third.Held());
  third.LetGo();
  EXPECT_TRUE(fs::exists(lockFile));
  other.LetGo();
  EXPECT_FALSE(fs::exists(lockFile));

  // A list that cannot be written (a full disk) ends the start-up, rather than leave the
  // other runs unnamed.
  std::string said;
  EXPECT_EQ(WriteInChild(folder, "a.stat", WithFilesOfEightBytes, &said), 26) << said;
  EXPECT_NE(said.find("is a file this run cannot write its line of the list of runs into (File too large)"),
            std::string::npos)
      << said;
}

namespace {

// While a lock file of another user is cleared, another process finds the guard of its list
// held: a run of its owner that joined meanwhile would wait (the clearing run ends with 77
// otherwise).
void GuardHeldWhileClearing(const std::string& lockFile) {
  const pid_t asker = fork();
  if (asker == 0) {
    const int fd = open(lockFile.c_str(), O_RDONLY);
    flock guard{};
    guard.l_type = F_WRLCK;
    guard.l_whence = SEEK_SET;
    guard.l_len = 1;
    _exit(fd >= 0 && fcntl(fd, F_GETLK, &guard) == 0 && guard.l_type != F_UNLCK ? 0 : 1);
  }
  int status = 0;
  if (waitpid(asker, &status, 0) != asker || !WIFEXITED(status) || WEXITSTATUS(status) != 0) _exit(77);
}

void AsNobodyClearing() {
  RunHold::whileClearing = GuardHeldWhileClearing;
  AsNobody();
}

}  // namespace

// A lock file of another user that this one cannot write (made 0644 under umask 022): left by
// runs that have ended, it is removed and made anew, its list's guard held from the look at its
// locks to the removal (a run of its owner joining meanwhile waits, then finds it gone); where
// it cannot be removed (a folder with the sticky bit), the start-up names the file to remove;
// held by a run still going, it names that run.
TEST(RunHold, ALockFileOfAnotherUserIsClearedOrNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs another user: runs as root only";
  TempDir dir;
  const std::string folder = dir.path() + "/";
  const std::string lockFile = folder + RunHold::kFileName;
  LeaveAStaleLockFile(folder, 0777, 0644);
  std::string said;
  EXPECT_EQ(WriteInChild(folder, "a.stat", AsNobodyClearing, &said), 0) << said;
  EXPECT_NE(said.find("the lock file " + lockFile + " of the output folder " + folder +
                      " (of user root, mode 0644, which this user cannot write) was left by runs that have ended: it "
                      "is removed and made anew"),
            std::string::npos)
      << said;
  EXPECT_FALSE(fs::exists(lockFile));  // the last run out removed it

  LeaveAStaleLockFile(folder, 01777, 0644);
  EXPECT_EQ(WriteInChild(folder, "a.stat", AsNobody, &said), 26) << said;
  EXPECT_NE(said.find("was left by runs that have ended (none holds it now), but this user can neither write it nor "
                      "remove it (Operation not permitted): remove " + lockFile),
            std::string::npos)
      << said;
  ASSERT_EQ(unlink(lockFile.c_str()), 0);

  const mode_t previous = umask(022);
  RunElsewhere other("/data/other.ctl", {"w " + folder + "b.stat"});
  umask(previous);
  ASSERT_TRUE(other.Held());
  EXPECT_EQ(WriteInChild(folder, "a.stat", AsNobody, &said), 26) << said;
  EXPECT_NE(said.find("belongs to user root, mode 0644, which this user cannot write, and process " +
                      std::to_string(other.Pid()) + ", control file /data/other.ctl holds names in it"),
            std::string::npos)
      << said;
  other.LetGo();

  // One this user cannot even read (umask 077): whether a run holds it is told by the system's
  // list of locks, and a stale one is named with what to remove (never removed unread).
  const mode_t closed = umask(077);
  RunElsewhere holding("/data/other.ctl", {"w " + folder + "b.stat"});
  umask(closed);
  ASSERT_TRUE(holding.Held());
  EXPECT_EQ(WriteInChild(folder, "a.stat", AsNobody, &said), 26) << said;
  EXPECT_NE(said.find("belongs to user root, mode 0600, which this user can neither write nor read, and a run of that "
                      "user holds names in it"),
            std::string::npos)
      << said;
  holding.LetGo();
  LeaveAStaleLockFile(folder, 0777, 0600);
  EXPECT_EQ(WriteInChild(folder, "a.stat", AsNobody, &said), 26) << said;
  EXPECT_NE(said.find("(of user root, mode 0600) was left by runs that have ended (no process holds a lock in it), but "
                      "this user can neither read nor write it"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("remove " + lockFile + " (this user may: the folder is writable for it)"), std::string::npos)
      << said;
  EXPECT_TRUE(fs::exists(lockFile));
}

namespace {

using Clock = std::chrono::steady_clock;

// Sends signum to this thread once the diagnostics file shows text (after a minute without
// it, anyway: the test then fails on what the wait said); *sent is when.
std::thread SignalOnceItSays(const std::string& diag, const std::string& text, int signum, Clock::time_point* sent) {
  const pthread_t to = pthread_self();
  return std::thread([=] {
    for (const Clock::time_point end = Clock::now() + std::chrono::minutes(1);
         Clock::now() < end && ReadTextFile(diag).find(text) == std::string::npos;)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    *sent = Clock::now();
    pthread_kill(to, signum);
  });
}

}  // namespace

// A run that waits for the list of a stalled run (one that holds the list's guard) names the
// run it waits for, and a SIGTERM, or a SIGINT (ignored while a grid file is open, as the
// files read are held), ends the wait at once (code 96), not after the ten seconds a stalled
// list is waited for. So does a run that waits at its end to leave the lock file: it leaves
// its line in the list, which the next run drops.
TEST(RunHold, ASignalEndsTheWaitForAStalledList) {
  InstallTerminationHandlers();
  TempDir dir, leaving;
  const std::string folder = dir.path() + "/";
  const std::string lockFile = folder + RunHold::kFileName;
  RunElsewhere stalled("/data/stalled.ctl", {"g " + folder});
  ASSERT_TRUE(stalled.Held());
  const std::string who = "process " + std::to_string(stalled.Pid()) + ", control file /data/stalled.ctl";
  for (const int signum : {SIGTERM, SIGINT}) {
    const std::string name = signum == SIGINT ? "SIGINT" : "SIGTERM";
    CapturedLog log;
    RunHold hold;
    hold.Begin(&log.log(), "mine.ctl", folder);
    IgnoreCtrlC();
    Clock::time_point sent;
    std::thread signal = SignalOnceItSays(log.diagPath(), "waiting for", signum, &sent);
    std::string message;
    EXPECT_EQ(Take(hold, "w", folder + "a.stat", log, &message), kTerminatedCode) << name;
    const Clock::time_point ended = Clock::now();
    signal.join();
    DisableCtrlCHandler();
    TerminationSignal = 0;
    EXPECT_LT(ended - sent, std::chrono::seconds(5)) << name;
    EXPECT_NE(message.find("waiting for " + who + ", which is writing the list of runs in " + lockFile),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(name + " received while the run waited for " + who + " to write the list of runs in " +
                           lockFile + ": it ends before its first time step"),
              std::string::npos)
        << message;
  }

  const std::string other = leaving.path() + "/";
  CapturedLog log;
  RunHold hold;
  hold.Begin(&log.log(), "mine.ctl", other);
  hold.Write(other + "a.stat", "[s] a.stat", false);
  RunElsewhere stalling("/data/stalled.ctl", {"g " + other});
  ASSERT_TRUE(stalling.Held());
  Clock::time_point sent;
  std::thread signal = SignalOnceItSays(log.diagPath(), "waiting to leave the lock file", SIGTERM, &sent);
  hold.Release();
  const Clock::time_point ended = Clock::now();
  signal.join();
  TerminationSignal = 0;
  EXPECT_LT(ended - sent, std::chrono::seconds(5));
  EXPECT_NE(log.console().find("the run leaves the lock file " + other + RunHold::kFileName +
                               " with its line in the list of runs, which the next run there drops: SIGTERM received "
                               "while it waited for the list"),
            std::string::npos)
      << log.console();
}
