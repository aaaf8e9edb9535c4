#include "framework/thread_policy.h"

#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

// The load average's time constant: the minute of its first value.
constexpr double kLoadMinutes = 60.0;
// Seconds between two looks at the load (the kernel renews it every 5 s).
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

RunThreads::RunThreads(long cells) : cells_(cells) {
  requested_ = threads_ = omp_get_max_threads();
  cores_ = omp_get_num_procs();
  active_ = std::getenv("OMP_DYNAMIC") == nullptr;
  if (!active_) return;
  // The start-up ran on one thread: what it added to the load so far, as the kernel
  // averages it.
  const double now = Seconds(), cpu = ProcessCpuSeconds(), life = now - programStart;
  if (life > 0.0) ownLoad_ = std::min(cpu / life, 1.0) * (1.0 - std::exp(-life / kLoadMinutes));
  lastCheck_ = now;
  lastCpu_ = cpu;
  double load = 0.0;
  Set(getloadavg(&load, 1) == 1 ? load - ownLoad_ : 0.0, false);
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
  const double cpu = ProcessCpuSeconds();
  const double decay = std::exp(-dt / kLoadMinutes);
  if (dt > 0.0) ownLoad_ = ownLoad_ * decay + (cpu - lastCpu_) / dt * (1.0 - decay);
  lastCheck_ = now;
  lastCpu_ = cpu;
  double load = 0.0;
  Set(getloadavg(&load, 1) == 1 ? load - ownLoad_ : 0.0, writing);
}
