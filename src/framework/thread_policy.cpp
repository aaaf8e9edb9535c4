#include "framework/thread_policy.h"

#include <omp.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "framework/text_helpers.h"

const char* WaitPolicyToSet(const char* waitPolicy, const char* spinCount) {
  if (waitPolicy != nullptr || spinCount != nullptr) return nullptr;
  return kBriefSpinCount;
}

namespace {
// Whether two paths lead to the same file.
bool SameFile(const char* a, const char* b) {
  struct stat x {}, y {};
  return stat(a, &x) == 0 && stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
}  // namespace

std::string RestartPath(const char* self, const char* argv0) {
  // The path the user started the program by (a link of another name too), when it leads to
  // the running file.
  if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr && SameFile(argv0, self)) return argv0;
  char* real = realpath(self, nullptr);
  if (real == nullptr) return self;
  const std::string path = real;
  std::free(real);
  return SameFile(self, path.c_str()) ? path : self;
}

void ApplyWaitPolicy(char** argv) {
  const char* spins = WaitPolicyToSet(std::getenv("OMP_WAIT_POLICY"), std::getenv("GOMP_SPINCOUNT"));
  if (spins == nullptr || argv == nullptr || argv[0] == nullptr) return;
  if (setenv("GOMP_SPINCOUNT", spins, 1) != 0) return;
  // Started through the file's own path, the process keeps the file's name (through
  // /proc/self/exe it would be called "exe"). A file replaced since the start (a new build)
  // is not that file: the process then starts what it runs, through /proc/self/exe.
  const std::string path = RestartPath("/proc/self/exe", argv[0]);
  execv(path.c_str(), argv);
  if (path != "/proc/self/exe") execv("/proc/self/exe", argv);
  // Still here: the restart failed. The variable stays set for child processes only.
}

namespace {
long minParallelCells = kMinParallelCells;

double Seconds() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
// When this program started (near enough: when its objects were made, before main).
const double programStart = Seconds();

double ProcessCpuSeconds() {
  timespec t{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0.0;
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The processors this process may run on (all, when the mask cannot be read).
std::vector<bool> OwnProcessors() {
  std::vector<bool> own;
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) != 0) return own;
  for (int n = 0; n < CPU_SETSIZE; ++n) own.push_back(CPU_ISSET(n, &mask) != 0);
  return own;
}

// The busy seconds of this process's processors since the machine started; -1 when
// /proc/stat cannot be read.
double BusySeconds() {
  static const std::vector<bool> own = OwnProcessors();
  static const double tick = double(sysconf(_SC_CLK_TCK));
  std::string text;
  if (tick <= 0.0 || !ReadWholeFile("/proc/stat", text)) return -1.0;
  const double ticks = BusyProcessorTicks(text, own);
  return ticks < 0.0 ? -1.0 : ticks / tick;
}

// Where the measure of the others' load starts: the processors' busy time and this
// process's own when the program started (before main).
const double busyAtStart = BusySeconds();
const double cpuAtStart = ProcessCpuSeconds();

// Seconds between two looks at the other programs' load.
constexpr double kLoadCheck = 2.0;
}  // namespace

long MinParallelCells() { return minParallelCells; }

ScopedMinParallelCells::ScopedMinParallelCells(long cells) : previous_(minParallelCells) {
  minParallelCells = cells;
}

ScopedMinParallelCells::~ScopedMinParallelCells() { minParallelCells = previous_; }

int TeamSize(int requested, int cores, long cells, double otherLoad, long minCells, bool writing) {
  requested = std::max(requested, 1);
  if (minCells <= 0) return requested;
  const long byCells = std::max(1L, (cells + kCellsPerThread / 2) / kCellsPerThread);
  const double others = cells < kLoadBoundCells ? std::max(otherLoad, 0.0) : 0.0;
  const double free = double(std::max(cores, 1)) - others - (writing && cores > 2 ? 1.0 : 0.0);
  const long byLoad = std::max(1L, static_cast<long>(std::floor(free + 0.5)));
  return static_cast<int>(std::min<long>({long(requested), byCells, byLoad}));
}

double BusyProcessorTicks(const std::string& procStat, const std::vector<bool>& processors) {
  TextCursor stat(procStat);
  std::string word;
  double busy = 0.0;
  bool any = false;
  // The lines "cpuN user nice system idle iowait irq softirq steal ..." (in ticks) follow
  // the machine's total line "cpu".
  while (stat.ReadWord(word) && word.compare(0, 3, "cpu") == 0) {
    char* end = nullptr;
    const long n = word.size() > 3 ? std::strtol(word.c_str() + 3, &end, 10) : -1;
    const bool ours = processors.empty() || (size_t(n) < processors.size() && processors[size_t(n)]);
    const bool counted = end && *end == '\0' && n >= 0 && ours;
    for (int field = 0; field < 8; ++field) {
      long ticks = 0;
      if (!stat.ReadLong(ticks) || ticks < 0) return -1.0;
      if (counted && field != 3 && field != 4) busy += double(ticks);  // not idle, not waiting for a disk
    }
    any = any || counted;
    stat.RestOfLine();
  }
  return any ? busy : -1.0;
}

double OthersBusyCores(double busySeconds, double ownSeconds, double seconds) {
  return seconds > 0.0 ? std::max(0.0, (busySeconds - ownSeconds) / seconds) : 0.0;
}

RunThreads::RunThreads(long cells) : cells_(cells) {
  requested_ = threads_ = omp_get_max_threads();
  cores_ = omp_get_num_procs();
  active_ = std::getenv("OMP_DYNAMIC") == nullptr;
  if (!active_) return;
  // The first look covers the start-up.
  lastCheck_ = programStart;
  lastBusy_ = busyAtStart;
  lastCpu_ = cpuAtStart;
  Set(OtherLoad(Seconds()), false);
}

double RunThreads::OtherLoad(double now) {
  const double busy = BusySeconds(), cpu = ProcessCpuSeconds(), dt = now - lastCheck_;
  const bool measured = busy >= 0.0 && lastBusy_ >= 0.0;
  const double others = measured ? OthersBusyCores(busy - lastBusy_, cpu - lastCpu_, dt) : 0.0;
  lastCheck_ = now;
  lastBusy_ = busy;
  lastCpu_ = cpu;
  return others;
}

RunThreads::~RunThreads() {
  if (active_) omp_set_num_threads(requested_);
}

void RunThreads::Set(double otherLoad, bool writing) {
  threads_ = TeamSize(requested_, cores_, cells_, otherLoad, MinParallelCells(), writing);
  omp_set_num_threads(threads_);
}

void RunThreads::BeforeStep(size_t gridsHanded) {
  if (!active_) return;
  const double now = Seconds();
  const double dt = now - lastCheck_;
  // The first grids handed over take their core at once.
  const bool writing = gridsHanded > gridsHanded_;
  if (dt < kLoadCheck && !(writing && gridsHanded_ == 0)) return;
  gridsHanded_ = gridsHanded;
  Set(OtherLoad(now), writing);
}
