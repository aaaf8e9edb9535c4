// The whole chain of the program on the example basin refined to a grid of about a million
// cells: every module that the example switches on, hourly, with its grid and statistics
// output. Prints cell-steps per second of the time loop at 1 thread and at all threads, and
// the share of each call of the loop (from the application's call trace).
//
//   chain_bench [steps] [refinement]     (defaults 24 and 40: 1280 x 1000 cells of 25 m)
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "framework/ctrl_c.h"
#include "framework/logstream.h"
#include "framework/modappli.h"
#include "framework/text_helpers.h"

namespace {

namespace fs = std::filesystem;

// An ASCII grid refined by k: every cell becomes k x k cells of a k-th of its size.
std::string Refine(const std::string& text, int k, long* validCells) {
  TextCursor c(text);
  std::string key;
  double header[6];
  for (double& h : header) {
    c.ReadWord(key);
    c.ReadDouble(h);
  }
  const int ncols = static_cast<int>(header[0]), nrows = static_cast<int>(header[1]);
  std::vector<std::string> cells(static_cast<size_t>(ncols) * nrows);
  for (std::string& v : cells) c.ReadWord(v);
  std::ostringstream out;
  out << "ncols " << ncols * k << "\nnrows " << nrows * k << "\nxllcorner " << header[2] << "\nyllcorner "
      << header[3] << "\ncellsize " << header[4] / k << "\nnodata_value " << header[5] << "\n";
  long valid = 0;
  for (int r = 0; r < nrows; ++r) {
    std::string row;
    for (int col = 0; col < ncols; ++col) {
      const std::string& v = cells[static_cast<size_t>(r) * ncols + col];
      for (int i = 0; i < k; ++i) row += v + " ";
      if (v != "-9999") valid += k;
    }
    row.back() = '\n';
    for (int i = 0; i < k; ++i) out << row;
  }
  if (validCells) *validCells = valid * k;
  return out.str();
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t p = text.find(from);
  if (p == std::string::npos) {
    std::fprintf(stderr, "control file: \"%s\" not found\n", from.c_str());
    std::exit(2);
  }
  text.replace(p, from.size(), to);
}

struct Result {
  double seconds = 0.0;
  std::map<std::string, double> perCall;
};

Result Run(const std::string& control, int threads) {
  omp_set_num_threads(threads);
  std::vector<std::string> calls;
  std::vector<double> times;
  ApplicationSeams& seams = NextApplicationSeams();
  seams.calls = &calls;
  seams.callSeconds = &times;
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  std::string program = "orvelvco64", file = control;
  char* argv[] = {program.data(), file.data(), nullptr};
  Result r;
  try {
    ModellApplication app(&log, 2, argv, 1);
    CurrentApplication = &app;
    calls.clear();
    times.clear();
    const auto t0 = std::chrono::steady_clock::now();
    const double start = std::chrono::duration<double>(t0.time_since_epoch()).count();
    app.run();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double before = start;
    for (size_t i = 0; i < calls.size(); ++i) {
      r.perCall[calls[i]] += times[i] - before;
      before = times[i];
    }
    app.ClearMemory();
    CurrentApplication = nullptr;
  } catch (int code) {
    std::fprintf(stderr, "the run failed with code %d\n%s\n", code, console.str().c_str());
    std::exit(1);
  }
  seams = ApplicationSeams();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 24;
  const int k = argc > 2 ? std::atoi(argv[2]) : 40;
  const std::string basin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  const fs::path dir = fs::temp_directory_path() / "chain_bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "output");
  long cells = 0;
  for (const char* g : {"zones.asc", "dem.asc", "landuse.asc"}) {
    std::string text;
    if (!ReadWholeFile(basin + g, text)) continue;
    std::string refined = Refine(text, k, std::string(g) == "zones.asc" ? &cells : nullptr);
    FILE* f = std::fopen((dir / g).c_str(), "w");
    std::fwrite(refined.data(), 1, refined.size(), f);
    std::fclose(f);
  }
  for (const char* s : {"temperature.dat", "precipitation.dat"}) fs::copy_file(basin + s, dir / s);
  std::string control;
  ReadWholeFile(basin + "basin.ctl", control);
  // The run ends after the given number of hours of 1 January 1985.
  const int endHour = 1 + steps;
  Replace(control, "24      # end hour\n31      # end day", std::to_string(endHour % 24) + "  # end hour\n" +
                                                             std::to_string(1 + endHour / 24) + "  # end day");
  FILE* f = std::fopen((dir / "basin.ctl").c_str(), "w");
  std::fwrite(control.data(), 1, control.size(), f);
  std::fclose(f);
  fs::current_path(dir);

  const int all = omp_get_num_procs();
  std::printf("example basin refined %dx: %ld cells in the basin, %d hourly steps\n", k, cells, steps);
  Result one = Run("basin.ctl", 1);
  Result many = Run("basin.ctl", all);
  const double work = double(cells) * steps;
  std::printf("1 thread:   %.3g cell-steps/s (%.2f s)\n", work / one.seconds, one.seconds);
  std::printf("%d threads: %.3g cell-steps/s (%.2f s), speed-up %.2f\n", all, work / many.seconds, many.seconds,
              one.seconds / many.seconds);
  std::vector<std::pair<double, std::string>> shares;
  for (const auto& c : many.perCall) shares.emplace_back(c.second, c.first);
  std::sort(shares.rbegin(), shares.rend());
  std::printf("share of the time loop at %d threads (and at 1 thread):\n", all);
  for (const auto& s : shares)
    if (s.first / many.seconds >= 0.0005)
      std::printf("  %6.2f %%  (%6.2f %%)  %s\n", 100.0 * s.first / many.seconds,
                  100.0 * one.perCall[s.second] / one.seconds, s.second.c_str());
  const char* routing = "abflussmodellklasse::RunTimeStep";
  std::printf("routing: %.4f %% of the time loop at %d threads, %.4f %% at 1 thread\n",
              100.0 * many.perCall[routing] / many.seconds, all, 100.0 * one.perCall[routing] / one.seconds);
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);
  return 0;
}
