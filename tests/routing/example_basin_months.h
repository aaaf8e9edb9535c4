// The example basin copied into a fresh folder for runs longer than its January: its grids,
// control file and snow grid rule, with January's station hours repeated for February and
// March.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/logstream.h"
#include "framework/modappli.h"
#include "support/test_support.h"

inline const std::string kExampleBasin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";

// A station file of January made into three months: each month repeats January's hours from
// its first day on.
inline std::string ThreeMonths(const std::string& january) {
  std::istringstream in(january);
  std::string line, head;
  std::vector<std::string> rows;
  while (std::getline(in, line)) {
    if (line.rfind("1985 ", 0) == 0)
      rows.push_back(line);
    else
      head += line + "\n";
  }
  const int days[] = {31, 28, 31};
  std::string out = head;
  for (int m = 1; m <= 3; ++m)
    for (const std::string& r : rows) {
      std::istringstream f(r);
      int y, mo, d, h;
      f >> y >> mo >> d >> h;
      if (mo != 1 || d > days[m - 1]) continue;
      std::string values;
      std::getline(f, values);
      out += "1985 " + std::to_string(m) + " " + std::to_string(d) + " " + std::to_string(h) + values + "\n";
    }
  return out + "1985 4 1 0" + rows.back().substr(rows.back().find(' ', 11)) + "\n";
}

// The example's control file started cold: no state grid, variable grid or storage file is
// read, and every storage starts from its initial value in the control file (the example
// itself starts from the state of its spin-up).
inline std::string ColdStart(std::string control) {
  const std::pair<std::string, std::string> lines[] = {
      {"1       # readgrids: 1 starts from the spin-up's snow state (make_state.py)",
       "0       # readgrids: 0 starts without snow"},
      {"1       # readgrids: 1 starts from the spin-up's storages (make_state.py)",
       "0       # readgrids: 0 starts with empty storages"},
      {"1       # read the state grids and the storage file", "0       # read the state grids and the storage file"},
      {"soil_storage.asc soil_storage 0 0.6   # read from the spin-up's state\n3\n1",
       "soil_storage.asc soil_storage 0 0.6\n0\n0"},
      {"its values), read from the spin-up's state\n3\n1", "its values)\n0\n0"}};
  for (const auto& [from, to] : lines) {
    const size_t p = control.find(from);
    if (p == std::string::npos) {
      ADD_FAILURE() << "not in the example's control file: " << from;
      continue;
    }
    control.replace(p, from.size(), to);
  }
  return control;
}

// Copies the example into dir with three months of station hours and returns its control
// file started cold, ending on 31 March when months is 3 and on 31 January otherwise.
inline std::string CopyExampleBasin(const TempDir& dir, int months) {
  CopyExampleInputs(kExampleBasin, dir.path());
  for (const char* f : {"temperature.dat", "precipitation.dat"})
    WriteTextFile(dir.file(f), ThreeMonths(ReadTextFile(kExampleBasin + f)));
  std::string control = ColdStart(ReadTextFile(dir.file("basin.ctl")));
  const std::string end = "31      # end day\n1       # end month";
  const size_t p = control.find(end);
  if (p == std::string::npos) {
    ADD_FAILURE() << "the example's control file does not end on 31 January";
  } else if (months == 3) {
    control.replace(p, end.size(), "31      # end day\n3       # end month");
  }
  return control;
}

// Runs dir's "basin.ctl" in this process, dir being the working folder: `started` sees the
// built application before its time loop, afterPass (with context) is called after every
// pass and `finished` after the loop. Returns the error code the run threw (0: none), with
// the end of its console in *console (all of it with wholeConsole).
inline int RunExampleInProcess(const TempDir& dir, const std::function<void(ModellApplication&)>& started,
                               void (*afterPass)(ModellApplication&, void*), void* context,
                               const std::function<void(ModellApplication&)>& finished, std::string* console,
                               bool wholeConsole = false) {
  WorkingDirectory here(dir.path());
  std::ostringstream text;
  LogStream log(text, dir.file("diagnostics.xml"), 0);
  ApplicationSeams& seams = NextApplicationSeams();
  seams.afterPass = afterPass;
  seams.afterPassContext = context;
  int thrown = 0;
  try {
    std::string program = "orvelvco64", file = "basin.ctl";
    char* argv[] = {program.data(), file.data(), nullptr};
    ModellApplication app(&log, 2, argv, 1);
    if (started) started(app);
    app.run();
    if (finished) finished(app);
    app.ClearMemory();
  } catch (int code) {
    thrown = code;
  }
  NextApplicationSeams() = ApplicationSeams();
  if (console) *console = text.str().substr(!wholeConsole && text.str().size() > 3000 ? text.str().size() - 3000 : 0);
  return thrown;
}
