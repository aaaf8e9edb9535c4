// How the worker threads of the cell loops wait between two loops.
//
// The OpenMP runtime lets idle workers spin for a while by default, which keeps cores busy
// that the writer thread, other runs or other programs could use. The program asks for
// sleeping workers unless the user's environment chooses a policy itself (OMP_WAIT_POLICY,
// or GOMP_SPINCOUNT for the GNU runtime). The runtime reads its settings when it is
// loaded, before main, so the program sets the variable and starts itself again once.
#pragma once

// The value OMP_WAIT_POLICY is to be given, or nullptr when the environment already
// decides (either variable set, even to an empty text).
const char* WaitPolicyToSet(const char* waitPolicy, const char* spinCount);

// Called first thing in main: when WaitPolicyToSet asks for a policy, sets it and replaces
// the process with a fresh start of the same program and arguments. Returns when nothing
// is to be done, or when the restart is not possible (the run then goes on with the
// runtime's default policy).
void ApplyWaitPolicy(char** argv);

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
