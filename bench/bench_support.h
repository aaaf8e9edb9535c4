// What every benchmark shares: the program's own thread settings, the options they all
// take, a working folder that is removed again, and the timing of several thread counts
// interleaved in one process with the minimum and median of each.
//
// Options of every benchmark (each also takes its own; see its header):
//   --size N          rows and columns of the grid (where the benchmark has one)
//   --threads 1,2,8   thread counts, measured in turn within each round ("all": the cores)
//   --steps N         steps per measurement
//   --repeats N       rounds; every thread count is measured once per round
//   --folder DIR      work in DIR (kept) instead of a temporary folder (removed)
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Options {
  int size = 1000;
  std::vector<int> threads;  // in the order given; default 1 and all cores
  int steps = 0;
  int repeats = 3;
  std::string folder;        // empty: a temporary folder
  // Options this benchmark adds: name (without "--") and value, in the order given.
  std::vector<std::pair<std::string, std::string>> extra;

  // The value of an added option, or fallback when it was not given.
  std::string Extra(const std::string& name, const std::string& fallback = "") const;
  // All values given for an added option that may be repeated.
  std::vector<std::string> ExtraAll(const std::string& name) const;
};

// Sets the thread and wait settings the program sets for itself (it is restarted once
// with workers that spin briefly unless OMP_WAIT_POLICY or GOMP_SPINCOUNT is set), then
// reads the options. `accepted` lists the added options this benchmark takes; anything else ends
// the benchmark with its usage. `usage` is the benchmark's own line of options.
Options Start(int argc, char** argv, int defaultSteps, int defaultSize, const std::vector<std::string>& accepted,
              const char* usage);

// A folder the benchmark writes into: the given one (created, kept), or a fresh one
// under the system's temporary folder that is removed with this object. It is the working
// folder while the object lives, so that the files the modules write by relative names
// (their logs, the diagnostics file) land in it too.
class Folder {
 public:
  explicit Folder(const std::string& given, const char* tag = "orvel-bench");
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& Path() const { return path_; }
  // path_ + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_, previous_;
  bool temporary_ = false;
};

// Seconds of each measurement of one case.
struct Timing {
  std::vector<double> seconds;
  double Min() const;
  double Median() const;
};

// Runs measure(threads) once per round for every thread count, the counts in turn within
// each round, so that a change of the machine's load spreads over all of them. The thread
// count is set before each call; measure returns the seconds of what it timed.
std::map<int, Timing> TimeThreadCounts(const Options& o, const std::function<double(int threads)>& measure);

// One line per thread count: minimum and median seconds, `work` units per second at
// both, and the gain over the first count (by the minimum and by the median).
void PrintTimings(const std::string& label, const std::vector<int>& threads, const std::map<int, Timing>& t,
                  double work, const char* unit);

// "load a / b / c": the machine's load averages over 1, 5 and 15 minutes.
std::string LoadText();
// Seconds of the steady clock since an arbitrary start.
double Now();

}  // namespace bench
