// Whole runs of mid-size daily basins on 1, 2, 4 and 8 threads, side by side.
//
// The example basin (370 cells of 1 km) on finer grids: every cell of it becomes k x k
// cells of 1000/k m (the elevation interpolated between the cell centres), so that a
// factor of 4 gives 5920 cells, 6 gives 13,320 and 13 gives 62,530. Each basin runs two
// years of daily steps (1985 and 1986) with the example's modules: inverse-distance
// temperature and precipitation of six stations (their grids written at the end of every
// day), radiation correction, evapotranspiration, the snow model with static glaciers on
// the highest cells, interception, infiltration, the soil model and the routing of the
// five sub-basins with the reservoir. The run starts without state (it writes the
// example's end state); the special output and the data assimilation (their points and
// date belong to the example) are off.
//
// Every run is the program in a process of its own, started as a user starts it: only
// OMP_NUM_THREADS is set (the column "unset" leaves it out too). Thread counts run in turn
// within each round, so that a change of the machine's load falls on all of them; the
// table gives the median seconds of the whole run per thread count, the minimum in
// brackets, and the machine's load before the basin's first round.
//
//   midsize_bench [common options] [--factors 4,6,13] [--program BIN] [--unset]
// (--threads defaults to 1,2,4,8 here; --size and --steps are not used.)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/text_helpers.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "midsize_bench: %s\n", what.c_str());
  std::exit(2);
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (!f) Fail("cannot write " + path.string());
}

void Replace(std::string& text, const std::string& from, const std::string& to, bool every = false) {
  size_t p = text.find(from);
  if (p == std::string::npos) Fail("basin.ctl: \"" + from + "\" not found");
  while (p != std::string::npos) {
    text.replace(p, from.size(), to);
    p = every ? text.find(from, p + to.size()) : std::string::npos;
  }
}

// An ASCII grid of the example: its header values and its cells, row by row from the north.
struct Grid {
  int ncols = 0, nrows = 0;
  double xll = 0, yll = 0, cell = 0, nodata = -9999;
  std::vector<double> v;
  double at(int r, int c) const { return v[size_t(r) * ncols + c]; }
  bool has(int r, int c) const { return r >= 0 && c >= 0 && r < nrows && c < ncols && at(r, c) != nodata; }
};

Grid ReadGrid(const fs::path& path) {
  std::ifstream f(path);
  Grid g;
  std::string key;
  for (int i = 0; i < 6 && f >> key; ++i) {
    double value = 0;
    f >> value;
    if (key == "ncols") g.ncols = int(value);
    else if (key == "nrows") g.nrows = int(value);
    else if (key == "xllcorner") g.xll = value;
    else if (key == "yllcorner") g.yll = value;
    else if (key == "cellsize") g.cell = value;
    else g.nodata = value;
  }
  g.v.resize(size_t(g.ncols) * g.nrows);
  for (double& x : g.v)
    if (!(f >> x)) Fail("cannot read " + path.string());
  return g;
}

// The grid on cells k times finer; value(r, c, fr, fc) gives a fine cell from its coarse
// cell (r, c) and its position within it (fr, fc in 0..1).
template <typename F>
std::string Finer(const Grid& g, int k, F&& value) {
  std::ostringstream t;
  t << "ncols " << g.ncols * k << "\nnrows " << g.nrows * k << "\nxllcorner " << g.xll << "\nyllcorner " << g.yll
    << "\ncellsize " << g.cell / k << "\nnodata_value " << g.nodata << "\n";
  char b[32];
  for (int R = 0; R < g.nrows * k; ++R)
    for (int C = 0; C < g.ncols * k; ++C) {
      const int r = R / k, c = C / k;
      const double v = g.has(r, c) ? value(r, c, (R % k + 0.5) / k, (C % k + 0.5) / k) : g.nodata;
      std::snprintf(b, sizeof b, C + 1 < g.ncols * k ? "%.6g " : "%.6g\n", v);
      t << b;
    }
  return t.str();
}

// The elevation between the coarse cells' centres (bilinear, the cell's own value where a
// neighbour lies outside the basin).
double Elevation(const Grid& dem, int r, int c, double fr, double fc) {
  const int r2 = fr < 0.5 ? r - 1 : r + 1, c2 = fc < 0.5 ? c - 1 : c + 1;
  const double wr = std::fabs(fr - 0.5), wc = std::fabs(fc - 0.5);
  auto z = [&](int a, int b) { return dem.has(a, b) ? dem.at(a, b) : dem.at(r, c); };
  return (1 - wr) * ((1 - wc) * z(r, c) + wc * z(r, c2)) + wr * ((1 - wc) * z(r2, c) + wc * z(r2, c2));
}

// Daily station values for 1985 and 1986 (stamped 23 h: the day's step ends at 24 h), of
// the example's six stations (its header lines).
template <typename F>
std::string DailyStations(const fs::path& example, const char* title, F&& value) {
  std::ifstream f(example);
  std::string line, t = std::string(title) + "\n";
  std::getline(f, line);
  for (int i = 0; i < 4 && std::getline(f, line); ++i) t += line + "\n";
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  char b[64];
  int day = 0;
  for (int y = 1985; y <= 1986; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= days[m - 1]; ++d, ++day) {
        std::snprintf(b, sizeof b, "%d %d %d 23", y, m, d);
        t += b;
        for (int s = 0; s < 6; ++s) {
          std::snprintf(b, sizeof b, " %.2f", value(day, s));
          t += b;
        }
        t += "\n";
      }
  return t;
}

// The example's control file for daily steps over two years (see the header).
std::string DailyControl(const fs::path& example) {
  std::string c;
  if (!ReadWholeFile((example / "basin.ctl").string(), c)) Fail("cannot read " + (example / "basin.ctl").string());
  Replace(c, "60      # time interval in minutes", "1440    # time interval in minutes", true);
  Replace(c, "1       # start hour", "23      # start hour");
  Replace(c, "24      # end hour", "23      # end hour");
  Replace(c, "31      # end day\n1       # end month\n1985    # end year",
          "31      # end day\n12      # end month\n1986    # end year");
  Replace(c, "read from the spin-up's state\n3\n1\n", "\n0\n0\n", true);
  for (const char* read : {"1       # readgrids", "1       # readgrids", "1       # read the state grids"})
    Replace(c, read, "0       # read");
  const size_t so = c.find("[special_output]\n"), so2 = c.find("\n[", so + 1);
  c.replace(so, so2 + 1 - so, "[special_output]\n0\n1440\n\n");
  const size_t da = c.find("[data_assimilation]\n"), da2 = c.find("\n[", da + 1);
  c.replace(da, da2 + 1 - da, "[data_assimilation]\n0\n1440\n\n");
  // Static glaciers: ice above 3700 m, firn from 3500 m.
  Replace(c, "3       # number of standard grids", "4       # number of standard grids\nice_firn.asc ice_firn fillcode = 0");
  c += "\n[ice_firn]\n1\n7.2\n4.8\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n24\n120\n48\n0\n0\n0\n"
       "firn.asc\n0\nqfirn.stat 2001\nice.asc\n0\nqice.stat 2001\nqglac.stat 2001\n";
  return c;
}

// Writes the basin of factor k into dir; returns its cells.
long WriteBasin(const fs::path& dir, const fs::path& example, int k) {
  fs::create_directories(dir / "output");
  const Grid dem = ReadGrid(example / "dem.asc"), zones = ReadGrid(example / "zones.asc"),
             landuse = ReadGrid(example / "landuse.asc");
  auto elevation = [&](int r, int c, double fr, double fc) { return Elevation(dem, r, c, fr, fc); };
  WriteFile(dir / "dem.asc", Finer(dem, k, elevation));
  WriteFile(dir / "zones.asc", Finer(zones, k, [&](int r, int c, double, double) { return zones.at(r, c); }));
  WriteFile(dir / "landuse.asc", Finer(landuse, k, [&](int r, int c, double fr, double fc) {
              return elevation(r, c, fr, fc) > 3300.0 ? 2.0 : 1.0;
            }));
  WriteFile(dir / "ice_firn.asc", Finer(dem, k, [&](int r, int c, double fr, double fc) {
              const double z = elevation(r, c, fr, fc);
              return z > 3700.0 ? 1.0 : z > 3500.0 ? 2.0 : 0.0;
            }));
  WriteFile(dir / "temperature.dat",
            DailyStations(example / "temperature.dat", "Air temperature in degree C, daily", [](int day, int s) {
              return 4.0 - 1.5 * s - 11.0 * std::cos(2.0 * M_PI * (day - 15) / 365.0) + 3.0 * std::sin(0.7 * day + s);
            }));
  WriteFile(dir / "precipitation.dat",
            DailyStations(example / "precipitation.dat", "Precipitation in mm per day", [](int day, int s) {
              return (day * 7 + s) % 5 < 2 ? 2.0 + 0.5 * s + 6.0 * std::fabs(std::sin(0.37 * day)) : 0.0;
            }));
  WriteFile(dir / "basin.ctl", DailyControl(example));
  long cells = 0;
  for (double z : zones.v) cells += z != zones.nodata;
  return cells * k * k;
}

// The wall seconds of one run of the program in dir; threads 0 leaves OMP_NUM_THREADS unset.
double Run(const std::string& program, const fs::path& dir, int threads) {
  std::fflush(stdout);
  const double t0 = bench::Now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (threads > 0)
      setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);
    else
      unsetenv("OMP_NUM_THREADS");
    if (!freopen("output/console.txt", "w", stdout) || !freopen("/dev/null", "r", stdin)) _exit(127);
    dup2(fileno(stdout), fileno(stderr));
    execl(program.c_str(), program.c_str(), "basin.ctl", "-diagfile:output/diag.xml", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail(program + " failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "); see " +
         (dir / "output/console.txt").string());
  return bench::Now() - t0;
}

std::vector<int> Factors(const std::string& text) {
  std::vector<int> f;
  std::stringstream s(text);
  std::string part;
  while (std::getline(s, part, ',')) {
    const int k = std::atoi(part.c_str());
    if (k < 1 || k > 40) Fail("--factors: " + part + " is not a factor of 1 to 40");
    f.push_back(k);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Options o = bench::Start(argc, argv, 730, 0, {"factors", "program", "unset!"},
                                  "[--factors 4,6,13] [--program BIN] [--unset]");
  bool threadsGiven = false;
  for (int i = 1; i < argc; ++i) threadsGiven |= std::string(argv[i]) == "--threads";
  if (!threadsGiven) o.threads = {1, 2, 4, 8};
  std::vector<int> counts = o.threads;
  if (!o.Extra("unset").empty()) counts.push_back(0);
  const std::string program = fs::absolute(o.Extra("program", ORVEL_PROGRAM)).string();
  const fs::path example = fs::path(ORVEL_SOURCE_DIR) / "examples" / "basin";
  bench::Folder folder(o.folder, "midsize_bench");

  std::printf("whole runs of two years of daily steps: median seconds (minimum) per thread count\n%8s", "cells");
  for (int n : counts)
    if (n > 0)
      std::printf("  %11d thr", n);
    else
      std::printf("  %15s", "unset");
  std::printf("  %s\n", "gain at the last count (median)");
  for (const int k : Factors(o.Extra("factors", "4,6,13"))) {
    const fs::path dir = fs::path(folder.Path()) / ("x" + std::to_string(k));
    const long cells = WriteBasin(dir, example, k);
    const std::string load = bench::LoadText();
    std::map<int, bench::Timing> t;
    for (int round = 0; round < o.repeats; ++round)
      for (int n : counts) t[n].seconds.push_back(Run(program, dir, n));
    std::printf("%8ld", cells);
    for (int n : counts) std::printf("  %7.2f (%5.2f)", t[n].Median(), t[n].Min());
    std::printf("  x%.2f  (%s, %.0f m cells)\n", t[counts.front()].Median() / t[counts.back()].Median(), load.c_str(),
                1000.0 / k);
  }
  return 0;
}
