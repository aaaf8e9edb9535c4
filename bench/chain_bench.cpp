// The whole chain of the program on a synthetic basin of N x N cells of 100 m (default
// 1000) in 20 sub-basins (4 x 5 blocks, each draining into the next): 50 stations, hourly,
// five interpolated variables (temperature, precipitation, wind, humidity, global
// radiation), radiation correction, Penman-Monteith, interception, the temperature-index
// snow model, the soil model with infiltration and the routing of the 20 sub-basins.
// Every measurement runs the same hours from 1 January, hour 1 (the cost of a step
// depends on the hour: night steps cast no shadows), so the thread counts compare equal work.
//
// In this process (default): cell-steps per second of the time loop per thread count
// (minimum and median over the rounds), the share of each call of the loop, and the bytes
// of grids the run holds per cell (--memory: per module and grid).
// With --program BIN (repeatable): each program is run on the same basin, in turn, with
// its own settings; a measurement is the time of the run of all steps less that of a run
// of one step (the start-up drops out), and its peak memory per cell is printed.
// With --example the basin is a copy of examples/basin and a measurement is its whole run.
// With --digest a checksum of every grid after the run is printed (to compare builds and
// thread counts bit for bit).
// With --start-up the start-up of a warm start (the state grids and the storage file of a
// run of the basin read back) beside that of a cold start, on N/2 x N/2 and N x N cells:
// four times the cells take at most five times the time.
//
//   chain_bench [common options] [--memory] [--example] [--digest] [--start-up] [--program BIN]...
#include <omp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/ctrl_c.h"
#include "framework/logstream.h"
#include "framework/memory_handling.h"
#include "framework/modappli.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

namespace fs = std::filesystem;

constexpr int kStations = 50, kSubbasins = 20;
constexpr double kCell = 100.0, kXll = 500000.0, kYll = 4000000.0;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t p = text.find(from);
  if (p == std::string::npos) {
    std::fprintf(stderr, "control file: \"%s\" not found\n", from.c_str());
    std::exit(2);
  }
  text.replace(p, from.size(), to);
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

// An ASCII grid of n x n cells with the value of every cell.
template <typename F>
void WriteGrid(const fs::path& path, int n, F&& value) {
  std::string t = "ncols " + std::to_string(n) + "\nnrows " + std::to_string(n) + "\nxllcorner " +
                  std::to_string(kXll) + "\nyllcorner " + std::to_string(kYll) + "\ncellsize " + std::to_string(kCell) +
                  "\nnodata_value -9999\n";
  char buffer[32];
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      std::snprintf(buffer, sizeof buffer, c + 1 < n ? "%.6g " : "%.6g\n", value(r, c));
      t += buffer;
    }
  WriteFile(path, t);
}

// Hourly station values of one variable from 1 January 1985, hour 0, for the given hours;
// the stations spread over the basin.
template <typename F>
std::string StationFile(const std::string& title, int n, int hours, F&& value) {
  std::string elevation = "YY MM DD HH", x = "YY MM DD HH", y = "YY MM DD HH", names = "YY MM DD HH";
  char b[64];
  for (int k = 0; k < kStations; ++k) {
    const double sx = kXll + kCell * n * (0.05 + 0.9 * ((k * 37) % kStations) / double(kStations));
    const double sy = kYll + kCell * n * (0.05 + 0.9 * ((k * 11) % kStations) / double(kStations));
    std::snprintf(b, sizeof b, " %.0f", 1500.0 + 20.0 * k);
    elevation += b;
    std::snprintf(b, sizeof b, " %.1f", sx);
    x += b;
    std::snprintf(b, sizeof b, " %.1f", sy);
    y += b;
    names += " S" + std::to_string(k + 1);
  }
  std::string t = title + "\n" + elevation + "\n" + x + "\n" + y + "\n" + names + "\n";
  for (int h = 0; h < hours; ++h) {
    std::snprintf(b, sizeof b, "1985 1 %d %d", 1 + h / 24, h % 24);
    t += b;
    for (int k = 0; k < kStations; ++k) {
      std::snprintf(b, sizeof b, " %.2f", value(h, k));
      t += b;
    }
    t += "\n";
  }
  return t;
}

// The meteorological section of a variable, as the example's temperature section with the
// variable's name and limits.
std::string MeteoSection(const std::string& name, double low, double high) {
  char limits[160];
  std::snprintf(limits, sizeof limits, "%g\n%g\n%g\n%g\n", low, low, high, high);
  return "[" + name + "]\n1\n" + name + ".dat AdditionalColumns=0\nnone\noutput/" + name + ".asc\n0\n1.0\n" + name +
         ".stat 2001\n9999\n2.0\n1.0\n1000000\n0\n1.0\n" + limits + "0\n\n";
}

// Cuts the control file's section [name] out and puts text in its place.
void ReplaceSection(std::string& control, const std::string& name, const std::string& text) {
  const size_t a = control.find("[" + name + "]\n");
  if (a == std::string::npos) {
    std::fprintf(stderr, "control file: [%s] not found\n", name.c_str());
    std::exit(2);
  }
  const size_t b = control.find("\n[", a + 1);
  control.replace(a, b == std::string::npos ? std::string::npos : b + 1 - a, text);
}

// What a run of the synthetic basin does with the example's state: nothing (the chain of
// the time loop), write it at its end (a cold start), or read it and write it (a warm start).
enum class State { kNone, kWrite, kRead };

// The control file of the example for the synthetic basin, ending after `steps` hours.
std::string ChainControl(const std::string& example, int n, int steps, State state = State::kNone) {
  std::string control;
  if (!ReadWholeFile(example + "basin.ctl", control)) {
    std::fprintf(stderr, "cannot read %sbasin.ctl\n", example.c_str());
    std::exit(2);
  }
  const char* variables[] = {"temperature", "precipitation", "wind_speed", "air_humidity", "global_radiation"};
  ReplaceSection(control, "meteo_data_count", "[meteo_data_count]\n5\n\n");
  std::string names = "[meteo_names]\n";
  for (const char* v : variables) names += std::string(v) + "\n";
  ReplaceSection(control, "meteo_names", names + "\n");
  ReplaceSection(control, "temperature", MeteoSection("temperature", -60, 60) + MeteoSection("wind_speed", 0, 60) +
                                             MeteoSection("air_humidity", 0, 100) +
                                             MeteoSection("global_radiation", 0, 1500));
  ReplaceSection(control, "precipitation", MeteoSection("precipitation", 0, 500));
  const int endHour = steps % 24 == 0 ? 24 : steps % 24;
  const int endDay = 1 + (steps - 1) / 24;
  Replace(control, "24      # end hour\n31      # end day",
          std::to_string(endHour) + "  # end hour\n" + std::to_string(endDay) + "  # end day");
  Replace(control, "2       # method: 1 Penman-Monteith", "1       # method: 1 Penman-Monteith");
  const std::string interceptionOff =
      "[interception_model]\n0       # flow control parameter\n60      # time interval in minutes\n";
  if (control.find(interceptionOff) != std::string::npos)
    Replace(control, interceptionOff,
            "[interception_model]\n1\n60\n1\noutput/ithr.asc\n0\nithr.stat 0\noutput/ievap.asc\n0\nievap.stat 0\n"
            "output/istor.asc\n0\nistor.stat 0\n0.3\n0\n");
  // Penman-Monteith needs the soil's surface resistance: one more constant variable grid.
  Replace(control, "10      # number of variable grids: file, internal name, fill code, value; write code; read flag\n",
          "11\nSurfaceEvaporationResistance.asc SurfaceEvaporationResistance 0 250\n0\n0\n");
  // The synthetic basin starts from the variable grids' values, not the example's spin-up
  // state, and writes none of the example's state grids at its end (a cold start of the
  // start-up's measure writes them, a warm start reads them too).
  const char* const written = state == State::kNone ? "\n0\n0\n" : state == State::kWrite ? "\n3\n0\n" : "\n3\n1\n";
  Replace(control, "soil_storage.asc soil_storage 0 0.6   # read from the spin-up's state\n3\n1\n",
          std::string("soil_storage.asc soil_storage 0 0.6") + written);
  Replace(control, "read from the spin-up's state\n3\n1\n", written);
  for (const char* grid : {"snowdays.asc", "snowage.asc", "snowliquid.asc", "snowtotal.asc", "sd.asc", "suz.asc",
                           "sif.asc", "sbia.asc", "nfkia.asc", "ssp.asc"}) {
    const size_t at = control.find(std::string("\n") + grid + " ");
    if (at == std::string::npos) {
      std::fprintf(stderr, "control file: no grid %s\n", grid);
      std::exit(2);
    }
    if (state == State::kNone) control[control.find('\n', at + 1) + 1] = '0';  // its write code
  }
  if (state != State::kRead) {
    Replace(control, "1       # readgrids: 1 starts from the spin-up's snow state", "0  # readgrids");
    Replace(control, "1       # readgrids: 1 starts from the spin-up's storages", "0  # readgrids");
    Replace(control, "1       # read the state grids and the storage file",
            "0  # read the state grids and the storage file");
  }
  // No point output and no snow-grid rule: their points and grid belong to the example.
  ReplaceSection(control, "special_output", "[special_output]\n0\n60\n\n");
  ReplaceSection(control, "data_assimilation", "[data_assimilation]\n0\n60\n\n");
  Replace(control, "1       5       # sub-basin codes", "1       20      # sub-basin codes");
  // Sub-basin i drains into i + 1; the channels carry the area above them.
  const double area = 0.01 * n * n / kSubbasins;  // km² per sub-basin
  std::string routing;
  char text[200];
  for (int i = 1; i <= kSubbasins; ++i) {
    std::snprintf(text, sizeof text, "TG %d (AE=%.2f, AF=1.0)\n", i, area);
    routing += text;
    if (i > 1) {
      std::snprintf(text, sizeof text,
                    "OL %d (kh=4, kf=12, bm=6, bf=40, hm=1.2, kstm=25, kstf=15, I=0.01, L=20000, A=%.2f)\n", i - 1,
                    area * (i - 1));
      routing += text;
    }
  }
  const size_t a = control.find("TG 1 (AE=50");
  const size_t b = control.find("\n[", a);
  control.replace(a, b + 1 - a, routing + "\n");
  return control;
}

// Writes the synthetic basin of n x n cells and its control files for `steps` steps
// (chain.ctl) and one step (chain1.ctl).
void WriteChainCase(const fs::path& dir, const std::string& example, int n, int steps) {
  fs::create_directories(dir / "output");
  const double scale = 1000.0 / n;  // the valley of the 1000 x 1000 basin on any size
  // A valley falling from west to east and to its middle row; land use 2 above 1700 m.
  auto elevation = [&](int r, int c) { return 1500.0 + 0.4 * (n - c) * scale + 0.3 * std::fabs(r - n / 2.0) * scale; };
  WriteGrid(dir / "dem.asc", n, elevation);
  WriteGrid(dir / "zones.asc", n, [&](int r, int c) { return double((r * 4 / n) * 5 + c * 5 / n + 1); });
  WriteGrid(dir / "landuse.asc", n, [&](int r, int c) { return elevation(r, c) > 1700.0 ? 2.0 : 1.0; });
  const int hours = steps + 3;
  WriteFile(dir / "temperature.dat", StationFile("Air temperature in deg C", n, hours, [](int h, int k) {
              return 2.0 - 0.05 * k + 6.0 * std::sin(2.0 * M_PI * (h - 9) / 24.0);
            }));
  WriteFile(dir / "precipitation.dat", StationFile("Precipitation in mm", n, hours, [](int h, int k) {
              return (h / 6 + k) % 3 == 0 ? 0.2 + 0.05 * (k % 7) : 0.0;
            }));
  WriteFile(dir / "wind_speed.dat", StationFile("Wind speed in m/s", n, hours, [](int h, int k) {
              return 2.0 + 0.04 * k + std::sin(0.3 * h);
            }));
  WriteFile(dir / "air_humidity.dat", StationFile("Relative humidity in %", n, hours, [](int h, int k) {
              return 70.0 + 0.2 * k - 10.0 * std::sin(2.0 * M_PI * (h - 9) / 24.0);
            }));
  WriteFile(dir / "global_radiation.dat", StationFile("Global radiation in Wh/m2", n, hours, [](int h, int k) {
              return std::max(0.0, (500.0 + k) * std::sin(2.0 * M_PI * (h % 24 - 6) / 24.0));
            }));
  WriteFile(dir / "chain.ctl", ChainControl(example, n, steps));
  WriteFile(dir / "chain1.ctl", ChainControl(example, n, 1));
}

// One run in this process: the seconds of its time loop, the time of each call of the
// loop, the peak bytes of grids, and the bytes each part of the start-up left allocated.
struct Result {
  double seconds = 0.0;
  double startSeconds = 0.0;  // of the start-up: the application built, its inputs read
  double cpuSeconds = 0.0;  // user and system time of every thread of the process in the loop
  std::map<std::string, double> perCall;
  long long peakBytes = 0, startBytes = 0;
  std::vector<std::pair<std::string, long long>> built;  // part of the start-up, bytes it allocated
  std::vector<std::pair<std::string, long long>> grids;  // registered grids: "[section] name", bytes
  std::vector<std::pair<std::string, unsigned long long>> digests;  // grid, checksum of its bits
};

// A checksum of the bits of the rows first..last, columns 1..ncols, of a grid (FNV-1a).
unsigned long long GridDigest(double** g, int first, int last, int ncols) {
  unsigned long long h = 1469598103934665603ULL;
  for (int r = first; r <= last; ++r) {
    if (!g[r]) continue;
    for (int c = 1; c <= ncols; ++c) {
      unsigned long long bits;
      std::memcpy(&bits, &g[r][c], sizeof bits);
      for (int k = 0; k < 8; ++k, bits >>= 8) h = (h ^ (bits & 0xff)) * 1099511628211ULL;
    }
  }
  return h;
}

// User and system seconds of the whole process so far.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// One run of a control file in this process; a warm start must read its state.
Result RunHere(const std::string& control, bool digests = false, bool warmStart = false) {
  std::vector<std::string> calls;
  std::vector<double> times;
  std::vector<long long> bytes;
  ApplicationSeams& seams = NextApplicationSeams();
  seams.calls = &calls;
  seams.callSeconds = &times;
  seams.callBytes = &bytes;
  std::ostringstream console;
  LogStream log(console, "/dev/null", 0);
  std::string program = "orvelvco64", file = control;
  char* argv[] = {program.data(), file.data(), nullptr};
  Result r;
  const long long before = LiveMatrixBytes();
  ResetPeakMatrixBytes();
  const double building = bench::Now();
  try {
    ModellApplication app(&log, 2, argv, 1);
    r.startSeconds = bench::Now() - building;
    CurrentApplication = &app;
    long long last = before;
    for (size_t i = 0; i < calls.size() && i < bytes.size(); ++i) {
      r.built.emplace_back(calls[i], bytes[i] - last);
      last = bytes[i];
    }
    r.startBytes = LiveMatrixBytes() - before;
    for (int p = 1; p < kGridRegistrySize; ++p) {
      const GridRecord& g = app.registry->Records()[p];
      if (g.registered && g.data)
        r.grids.emplace_back(GridEntry(g) + (g.released ? " (given back or shared)" : ""),
                             g.released ? 0 : MatrixBytes(g.data));
    }
    calls.clear();
    times.clear();
    bytes.clear();
    const double cpuStart = CpuSeconds();
    const double start = bench::Now();
    app.run();
    r.seconds = bench::Now() - start;
    r.cpuSeconds = CpuSeconds() - cpuStart;
    if (digests) {
      const int rows = app.modules.defaults->geometry.nrows, cols = app.modules.defaults->geometry.ncols;
      for (int p = 1; p < kGridRegistrySize; ++p) {
        const GridRecord& g = app.registry->Records()[p];
        if (!g.registered || !g.data) continue;
        const int first = g.lastRow >= g.firstRow && g.firstRow >= 1 ? g.firstRow : 1;
        const int last = g.lastRow >= g.firstRow && g.firstRow >= 1 ? std::min(g.lastRow, rows) : rows;
        r.digests.emplace_back(GridEntry(g), GridDigest(g.data, first, last, cols));
      }
    }
    r.peakBytes = PeakMatrixBytes() - before;
    double previous = start;
    for (size_t i = 0; i < calls.size(); ++i) {
      r.perCall[calls[i]] += times[i] - previous;
      previous = times[i];
    }
    app.ClearMemory();
    CurrentApplication = nullptr;
  } catch (int code) {
    std::fprintf(stderr, "the run failed with code %d\n%s\n", code, console.str().c_str());
    std::exit(1);
  }
  seams = ApplicationSeams();
  if (warmStart && console.str().find("warm start from the state") == std::string::npos) {
    std::fprintf(stderr, "%s read no state\n%s\n", control.c_str(), console.str().c_str());
    std::exit(1);
  }
  return r;
}

// The start-up of a cold start (reading no state, writing it at its end) and of a warm start
// (reading the state a cold start wrote) of the synthetic basin on size/2 and size cells a
// side, each in a folder of its own under root: per size and thread count the seconds, then
// how much longer the larger basin takes.
void MeasureStartUp(const bench::Options& o, const fs::path& root, const std::string& example) {
  std::map<std::string, bench::Timing> first;  // of the first thread count, by case
  for (const int n : {o.size / 2, o.size}) {
    const fs::path dir = root / ("n" + std::to_string(n));
    WriteChainCase(dir, example, n, 1);
    WriteFile(dir / "cold.ctl", ChainControl(example, n, 1, State::kWrite));
    WriteFile(dir / "warm.ctl", ChainControl(example, n, 1, State::kRead));
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    // The state of a cold start, beside the control file where the warm start reads it.
    RunHere("cold.ctl");
    std::string text;
    EndStateRecord record;
    if (!ReadWholeFile("output/soil_state.txt", text) || ReadEndStateRecord(text, record, nullptr) != 1) {
      std::fprintf(stderr, "the cold start wrote no whole storage file in %s/output\n", dir.c_str());
      std::exit(1);
    }
    for (const EndStateRecord::File& f : record.files)
      fs::copy_file("output" / fs::path(f.name), f.name, fs::copy_options::overwrite_existing);
    fs::copy_file("output/soil_state.txt", "soil_state.txt", fs::copy_options::overwrite_existing);
    const double cells = double(n) * n;
    std::printf("%d x %d cells, a state of %zu files and a storage file of %.1f MB (%s)\n", n, n,
                record.files.size(), text.size() / 1e6, bench::LoadText().c_str());
    for (const char* c : {"cold", "warm"}) {
      const std::string control = std::string(c) + ".ctl";
      const auto t = bench::TimeThreadCounts(o, [&](int) { return RunHere(control, false, c[0] == 'w').startSeconds; });
      bench::PrintTimings(std::string("start-up of a ") + c + " start", o.threads, t, cells, "cells");
      first[std::string(c) + std::to_string(n)] = t.at(o.threads.front());
    }
    fs::current_path(before);
  }
  const std::string small = std::to_string(o.size / 2), large = std::to_string(o.size);
  for (const char* c : {"cold", "warm"}) {
    const bench::Timing& a = first[c + small];
    const bench::Timing& b = first[c + large];
    std::printf("%s start: %s x %s cells take x%.2f (minimum) and x%.2f (median) the time of %s x %s (at most x5)\n", c,
                large.c_str(), large.c_str(), b.Min() / a.Min(), b.Median() / a.Median(), small.c_str(), small.c_str());
  }
}

// A run of a program in its own process: wall seconds and peak resident bytes.
std::pair<double, long long> RunProgram(const std::string& binary, const std::string& dir, const std::string& control,
                                        int threads) {
  std::fflush(stdout);  // the child must not write what this process has buffered
  const double t0 = bench::Now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);
    if (!freopen("output/console.txt", "w", stdout) || !freopen("/dev/null", "r", stdin)) _exit(127);
    dup2(fileno(stdout), fileno(stderr));
    const std::string diag = "-diagfile:output/diag.xml";
    execl(binary.c_str(), binary.c_str(), control.c_str(), diag.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s %s failed (status %d); see %s/output/console.txt\n", binary.c_str(), control.c_str(),
                 WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.c_str());
    std::exit(1);
  }
  return {bench::Now() - t0, static_cast<long long>(usage.ru_maxrss) * 1024};
}

// Cells of the basin: the cells of the zone grid with a value.
long CountCells(const fs::path& zones) {
  std::ifstream f(zones);
  std::string word;
  double nodata = -9999.0;
  for (int i = 0; i < 6 && f >> word; ++i) {
    std::string value;
    f >> value;
    if (word == "nodata_value" || word == "NODATA_value") nodata = std::atof(value.c_str());
  }
  long cells = 0;
  double v;
  while (f >> v) cells += v != nodata;
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options o =
      bench::Start(argc, argv, 24, 1000, {"memory!", "example!", "digest!", "start-up!", "program"},
                   "[--memory] [--example] [--digest] [--start-up] [--program BIN]...");
  const bool example = !o.Extra("example").empty();
  const bool digest = !o.Extra("digest").empty();
  const std::vector<std::string> programs = o.ExtraAll("program");
  const std::string source = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  bench::Folder folder(o.folder, "chain_bench");
  const fs::path dir = folder.Path();
  if (!o.Extra("start-up").empty()) {
    MeasureStartUp(o, dir, source);
    return 0;
  }
  std::string control = "chain.ctl", oneStep = "chain1.ctl";
  long cells = 0;
  int steps = o.steps;
  if (steps > 28 * 24) {
    std::fprintf(stderr, "chain_bench: at most %d steps (the station files hold January)\n", 28 * 24);
    return 2;
  }
  if (example) {
    for (const auto& e : fs::directory_iterator(source))
      if (e.is_regular_file()) fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
    fs::create_directories(dir / "output");
    control = "basin.ctl";
    cells = CountCells(dir / "zones.asc");
    steps = 31 * 24;
    std::printf("example basin: %ld cells, %d hourly steps (%s)\n", cells, steps, bench::LoadText().c_str());
  } else {
    WriteChainCase(dir, source, o.size, steps);
    cells = long(o.size) * o.size;
    std::printf("synthetic basin: %d x %d cells in %d sub-basins, %d stations, %d hourly steps (%s)\n", o.size, o.size,
                kSubbasins, kStations, steps, bench::LoadText().c_str());
  }
  const double work = double(cells) * steps;

  if (!programs.empty()) {
    // Every program and thread count in turn within each round.
    std::map<std::string, std::map<int, bench::Timing>> times;
    std::map<std::string, std::vector<long long>> peaks;
    for (int round = 0; round < o.repeats; ++round)
      for (int threads : o.threads)
        for (const std::string& p : programs) {
          const auto full = RunProgram(p, dir.string(), control, threads);
          double t = full.first;
          if (!example) t -= RunProgram(p, dir.string(), oneStep, threads).first;
          times[p][threads].seconds.push_back(t);
          peaks[p].push_back(full.second);
        }
    for (const std::string& p : programs) {
      std::vector<long long>& k = peaks[p];
      std::sort(k.begin(), k.end());
      bench::PrintTimings(p + (example ? ": whole run" : ": all steps less one step"), o.threads, times[p], work,
                          "cell-steps");
      std::printf("  peak memory %.0f MB, %.0f bytes per cell\n", k[k.size() / 2] / 1e6, double(k[k.size() / 2]) / cells);
    }
    return 0;
  }

  std::map<int, Result> last;
  const auto timing = bench::TimeThreadCounts(o, [&](int threads) {
    last[threads] = RunHere(control, digest);
    return last[threads].seconds;
  });
  bench::PrintTimings("time loop", o.threads, timing, work, "cell-steps");
  // Processor seconds of the loop against its wall seconds: how many threads were busy on
  // average, and how much more processor time the loop took than on the first count.
  for (const auto& l : last)
    std::printf("  %2d thread%s: %.2f cpu s in %.2f s (%.2f busy), cpu x%.2f of %d thread%s (last round)\n", l.first,
                l.first == 1 ? " " : "s", l.second.cpuSeconds, l.second.seconds, l.second.cpuSeconds / l.second.seconds,
                l.second.cpuSeconds / last[o.threads.front()].cpuSeconds, o.threads.front(),
                o.threads.front() == 1 ? "" : "s");
  const Result& any = last.begin()->second;
  std::printf("grids: %.0f bytes per cell after the start-up, %.0f at the peak of the run\n",
              double(any.startBytes) / cells, double(any.peakBytes) / cells);
  if (!o.Extra("memory").empty()) {
    std::printf("bytes per cell each part of the start-up left allocated:\n");
    for (const auto& b : any.built)
      if (b.second != 0) std::printf("  %8.1f  %s\n", double(b.second) / cells, b.first.c_str());
    std::printf("registered grids (%zu):\n", any.grids.size());
    for (const auto& g : any.grids) std::printf("  %8.1f  %s\n", double(g.second) / cells, g.first.c_str());
  }
  if (digest) {
    // The grids after the run, to compare builds and thread counts bit for bit.
    std::printf("checksums of the grids after the run (%d threads):\n", last.begin()->first);
    for (size_t i = 0; i < any.digests.size(); ++i) {
      std::string differs;
      for (const auto& l : last)
        if (i >= l.second.digests.size() || l.second.digests[i] != any.digests[i])
          differs += " DIFFERS at " + std::to_string(l.first) + " threads";
      std::printf("  %016llx  %s%s\n", any.digests[i].second, any.digests[i].first.c_str(), differs.c_str());
    }
  }
  const int first = o.threads.front(), final = o.threads.back();
  const Result& a = last[first];
  const Result& b = last[final];
  std::vector<std::pair<double, std::string>> shares;
  for (const auto& c : b.perCall) shares.emplace_back(c.second, c.first);
  std::sort(shares.rbegin(), shares.rend());
  std::printf("share of the time loop at %d threads (and at %d) in the last round:\n", final, first);
  for (const auto& s : shares)
    if (s.first / b.seconds >= 0.0005)
      std::printf("  %6.2f %%  (%6.2f %%)  %8.4f s (%8.4f s, x%5.2f)  %s\n", 100.0 * s.first / b.seconds,
                  a.perCall.count(s.second) ? 100.0 * a.perCall.at(s.second) / a.seconds : 0.0, s.first,
                  a.perCall.count(s.second) ? a.perCall.at(s.second) : 0.0,
                  a.perCall.count(s.second) ? a.perCall.at(s.second) / s.first : 0.0, s.second.c_str());
  return 0;
}
