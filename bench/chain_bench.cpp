// The whole chain of the program on a synthetic basin of 1000 x 1000 cells of 100 m in 20
// sub-basins (blocks of 250 x 200 cells, each draining into the next): 50 stations, hourly,
// five interpolated variables (temperature, precipitation, wind, humidity, global radiation),
// radiation correction, Penman-Monteith, interception, the temperature-index snow model, the
// soil model with infiltration and the routing of the 20 sub-basins. Prints cell-steps per
// second of the time loop at 1 thread and at all threads, and the share of each call of the
// loop (from the application's call trace).
//
//   chain_bench [steps]     (default 24)
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

constexpr int kRows = 1000, kCols = 1000, kStations = 50, kSubbasins = 20;
constexpr double kCell = 100.0, kXll = 500000.0, kYll = 4000000.0;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(2);
  }
}

// An ASCII grid of the basin with the value of every cell.
template <typename F>
void WriteGrid(const fs::path& path, F&& value) {
  std::string t = "ncols " + std::to_string(kCols) + "\nnrows " + std::to_string(kRows) + "\nxllcorner " +
                  std::to_string(kXll) + "\nyllcorner " + std::to_string(kYll) + "\ncellsize " + std::to_string(kCell) +
                  "\nnodata_value -9999\n";
  char buffer[32];
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      std::snprintf(buffer, sizeof buffer, c + 1 < kCols ? "%.6g " : "%.6g\n", value(r, c));
      t += buffer;
    }
  }
  WriteFile(path, t);
}

// Sub-basin of a cell: 4 bands of 250 rows from north to south, 5 blocks of 200 columns;
// the numbers run from the north-west block to the south-east one.
int SubbasinOf(int r, int c) { return (r / 250) * 5 + c / 200 + 1; }

// Hourly station values of one variable from 1 January 1985, hour 0, for the given hours.
template <typename F>
std::string StationFile(const std::string& title, int hours, F&& value) {
  std::string elevation = "YY MM DD HH", x = "YY MM DD HH", y = "YY MM DD HH", names = "YY MM DD HH";
  char b[64];
  for (int k = 0; k < kStations; ++k) {
    const double sx = kXll + kCell * (50 + 900 * ((k * 37) % kStations) / double(kStations));
    const double sy = kYll + kCell * (50 + 900 * ((k * 11) % kStations) / double(kStations));
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
         ".stat 2001\n9999\n2.0\n1.0\n100000\n0\n1.0\n" + limits + "0\n\n";
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

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 24;
  const std::string basin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  const fs::path dir = fs::temp_directory_path() / "chain_bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "output");

  // A valley falling from west to east and to its middle row; land use 2 above 1700 m.
  auto elevation = [](int r, int c) { return 1500.0 + 0.4 * (kCols - c) + 0.3 * std::fabs(r - kRows / 2.0); };
  WriteGrid(dir / "dem.asc", elevation);
  WriteGrid(dir / "zones.asc", [](int r, int c) { return double(SubbasinOf(r, c)); });
  WriteGrid(dir / "landuse.asc", [&](int r, int c) { return elevation(r, c) > 1700.0 ? 2.0 : 1.0; });

  const int hours = steps + 3;
  WriteFile(dir / "temperature.dat", StationFile("Air temperature in deg C", hours, [](int h, int k) {
              return 2.0 - 0.05 * k + 6.0 * std::sin(2.0 * M_PI * (h - 9) / 24.0);
            }));
  WriteFile(dir / "precipitation.dat", StationFile("Precipitation in mm", hours, [](int h, int k) {
              return (h / 6 + k) % 3 == 0 ? 0.2 + 0.05 * (k % 7) : 0.0;
            }));
  WriteFile(dir / "wind_speed.dat", StationFile("Wind speed in m/s", hours, [](int h, int k) {
              return 2.0 + 0.04 * k + std::sin(0.3 * h);
            }));
  WriteFile(dir / "air_humidity.dat", StationFile("Relative humidity in %", hours, [](int h, int k) {
              return 70.0 + 0.2 * k - 10.0 * std::sin(2.0 * M_PI * (h - 9) / 24.0);
            }));
  WriteFile(dir / "global_radiation.dat", StationFile("Global radiation in Wh/m2", hours, [](int h, int k) {
              return std::max(0.0, (500.0 + k) * std::sin(2.0 * M_PI * (h % 24 - 6) / 24.0));
            }));

  std::string control;
  if (!ReadWholeFile(basin + "basin.ctl", control)) {
    std::fprintf(stderr, "cannot read %sbasin.ctl\n", basin.c_str());
    return 2;
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
  // The run ends after the given number of hours of 1 January 1985.
  const int endHour = 1 + steps;
  Replace(control, "24      # end hour\n31      # end day", std::to_string(endHour % 24) + "  # end hour\n" +
                                                             std::to_string(1 + endHour / 24) + "  # end day");
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
  // No point output: its points lie in the example basin.
  ReplaceSection(control, "special_output", "[special_output]\n0\n60\n\n");
  // No snow grid rule: its grid has the example basin's geometry.
  ReplaceSection(control, "data_assimilation", "[data_assimilation]\n0\n60\n\n");
  Replace(control, "1       5       # sub-basin codes", "1       20      # sub-basin codes");
  // Sub-basin i drains into i + 1; the channels carry the area above them.
  std::string routing;
  for (int i = 1; i <= kSubbasins; ++i) {
    routing += "TG " + std::to_string(i) + " (AE=500, AF=1.0)\n";
    if (i > 1)
      routing += "OL " + std::to_string(i - 1) +
                 " (kh=4, kf=12, bm=6, bf=40, hm=1.2, kstm=25, kstf=15, I=0.01, L=20000, A=" +
                 std::to_string(500 * (i - 1)) + ")\n";
  }
  const size_t a = control.find("TG 1 (AE=50");
  const size_t b = control.find("\n[", a);
  control.replace(a, b + 1 - a, routing + "\n");
  WriteFile(dir / "basin.ctl", control);
  fs::current_path(dir);

  const long cells = long(kRows) * kCols;
  const int all = omp_get_num_procs();
  std::printf("synthetic basin: %ld cells in %d sub-basins, %d stations, %d hourly steps\n", cells, kSubbasins,
              kStations, steps);
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
  const char* routingCall = "abflussmodellklasse::RunTimeStep";
  std::printf("routing: %.4f %% of the time loop at %d threads, %.4f %% at 1 thread\n",
              100.0 * many.perCall[routingCall] / many.seconds, all, 100.0 * one.perCall[routingCall] / one.seconds);
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);
  return 0;
}
