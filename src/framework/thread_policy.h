// How the worker threads of the cell loops wait between two loops.
//
// A step opens a few dozen parallel loops, separated by short serial stretches. Workers
// that go to sleep at once after a loop must be woken for the next one, and a core that
// went idle wakes slowly: on a quiet machine that cost more than a loop over a basin of
// ten thousand cells gains. Workers that spin for ever hold cores that other programs,
// the grid writer thread or the calling thread need. The program therefore lets idle
// workers spin briefly (ten thousand pauses of the CPU, about a quarter of a millisecond:
// longer than most serial stretches of a step, a thirtieth of the GNU runtime's default)
// before they sleep, unless the user's environment chooses a policy itself
// (OMP_WAIT_POLICY, or GOMP_SPINCOUNT for the GNU runtime); RunThreads below sizes the team. The runtime reads
// its settings when it is loaded, before main, so the program sets the variable and
// starts itself again once.
#pragma once

#include <string>
#include <vector>

// Spins of an idle worker before it sleeps (GNU runtime; a spin is one pause of the CPU).
constexpr const char* kBriefSpinCount = "10000";

// The value GOMP_SPINCOUNT is to be given, or nullptr when the environment already
// decides (either variable set, even to an empty text).
const char* WaitPolicyToSet(const char* waitPolicy, const char* spinCount);

// Called first thing in main: when WaitPolicyToSet asks for a spin count, sets it and
// replaces the process with a fresh start of the same program file, under the name it was
// started by (argv as given, the file by RestartPath, so that ps, pgrep, pkill and killall
// see the program's own name rather than "exe"). Returns when
// nothing is to be done, or when the restart is not possible (the run then goes on with
// the runtime's default policy).
void ApplyWaitPolicy(char** argv);

// The path to start the running file `self` again by: argv0 when it holds a '/' and leads to
// that file (the name the user started it by), else the file's real path when it still
// leads to that file (same device and inode), else `self` itself.
std::string RestartPath(const char* self, const char* argv0);

// When a parallel region forks its threads.
//
// Waking the workers and the barrier at the end of a loop cost more than a loop over a few
// thousand cells: a small basin would run slower on more threads than on one. Every
// parallel region over cells or rows therefore asks ForkCells with the number of cells it
// visits. The results do not depend on the answer: every loop writes only the cells of its
// own rows, and partial sums are folded in the order of their rows.

// Cells below which a region runs on the calling thread alone.
constexpr long kMinParallelCells = 4096;

// The threshold now in force (kMinParallelCells unless a ScopedMinParallelCells lowers it).
long MinParallelCells();
// Whether a region over `cells` cells forks, by the threshold in force or the one given.
inline bool ForkCells(long cells, long minCells) { return cells >= minCells; }
inline bool ForkCells(long cells) { return ForkCells(cells, MinParallelCells()); }
// The same for `rows` rows of `cols` cells.
inline bool ForkRows(long rows, long cols) { return ForkCells(rows * cols); }

// While alive, regions fork from `cells` cells on (0: always), so that tests of small
// basins run the parallel path at every thread count. Not for concurrent use.
class ScopedMinParallelCells {
 public:
  explicit ScopedMinParallelCells(long cells);
  ~ScopedMinParallelCells();
  ScopedMinParallelCells(const ScopedMinParallelCells&) = delete;
  ScopedMinParallelCells& operator=(const ScopedMinParallelCells&) = delete;

 private:
  long previous_;
};

// How many threads the cell loops of a run use.
//
// A loop forks the threads the run allows at the time (omp_set_num_threads between two
// steps); the results do not depend on it. From `requested` (OMP_NUM_THREADS, or the
// cores) a run takes no more than
//   - one thread per kCellsPerThread basin cells (to the nearest): below that a worker's
//     share of a loop is shorter than waking it and waiting for it at the loop's end;
//   - the cores the rest of the machine leaves free, for grids below kLoadBoundCells: the
//     time the processors this run may use were busy over the last seconds (the start-up
//     first, then every two seconds), less this run's own CPU time, per second.
//     Unlike the load average, which takes a minute to forget a run that ended, this
//     follows other programs as they start and end. A loop ends when its last worker
//     does, so one worker that waits for a core holds up all the others, and the loops of
//     a smaller grid are too short to make up for it. The loops of a larger grid are long
//     enough: there each thread takes the machine's share a thread gets, and more threads
//     get more of it.
//   - one core less for the grid writer thread while it gets grids to write (on more than
//     two cores).
// With ScopedMinParallelCells(0) in force (tests) every loop gets the requested threads.
constexpr long kCellsPerThread = 3000;
constexpr long kLoadBoundCells = 262144;
int TeamSize(int requested, int cores, long cells, double otherLoad, long minCells, bool writing = false);

// The busy ticks (all but idle and waiting for a disk; a hypervisor's steal counts) that a
// text of /proc/stat gives for the processors marked in `processors` (empty: every one);
// -1 when it gives none.
double BusyProcessorTicks(const std::string& procStat, const std::vector<bool>& processors);
// The cores other programs kept busy over `seconds`: the processors' busy seconds less this
// process's own CPU seconds, per second (never below 0).
double OthersBusyCores(double busySeconds, double ownSeconds, double seconds);

// Sets the threads of the cell loops step by step while a run goes on (see TeamSize), and
// the requested number again at its end. With OMP_DYNAMIC set, the runtime's own rule
// decides and the object does nothing. To be made and used on the thread that runs the
// steps.
class RunThreads {
 public:
  explicit RunThreads(long cells);
  ~RunThreads();
  RunThreads(const RunThreads&) = delete;
  RunThreads& operator=(const RunThreads&) = delete;
  // Before a step: looks at the other programs' load every two seconds and sets the threads.
  // gridsHanded: the grids handed to the writer thread so far.
  void BeforeStep(size_t gridsHanded);
  int Threads() const { return threads_; }

 private:
  void Set(double otherLoad, bool writing);
  // The cores other programs kept busy since the last look; the look is now.
  double OtherLoad(double now);
  bool active_ = false;
  int requested_ = 1, cores_ = 1, threads_ = 1;
  long cells_ = 0;
  double lastCheck_ = 0.0, lastBusy_ = -1.0, lastCpu_ = 0.0;  // at the last look
  size_t gridsHanded_ = 0;
};
