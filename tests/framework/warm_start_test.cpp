// A warm start goes on as the unbroken run: the example basin, with each combination of
// modules switched on in turn, runs 2N steps in one go, and N steps that write their state
// followed by a run of N steps that starts from it. Every file the second half writes (the
// statistics, point, discharge and reservoir files, the grids of every step and the state at
// its end) equals the whole run's to 1e-12 relative, and binary double grids bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "framework/text_helpers.h"
#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The runs begin on 4 January at 1 h, the example's first wet day (snow falls from 14 h
// on), and the break falls at noon of 5 January: the second half starts under snow, with
// the day's stacks and sums half full. kStart is the step before the first (step 1 ends at
// 1 h on 1 January 1985).
constexpr int kStart = 72, kHalf = 36;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t p = text.find(from);
  if (p == std::string::npos) {
    ADD_FAILURE() << "not in the control file: " << from;
    return;
  }
  text.replace(p, from.size(), to);
}

// The line after the one that begins with `name` (a grid file of a module section) gets the
// write code `code`: the value the module writes its grid by.
void SetWriteCode(std::string& control, const std::string& name, const std::string& code) {
  const size_t at = control.find("\n" + name);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no grid " << name;
    return;
  }
  const size_t line = control.find('\n', at + 1) + 1;
  const size_t end = control.find_first_of(" \t\n#", line);
  control.replace(line, end - line, code);
}

// Adds entries to the list whose count line holds `label`, raising its count by `count`.
void AddToList(std::string& control, const std::string& label, int count, const std::string& entries) {
  const size_t at = control.find(label);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no list " << label;
    return;
  }
  const size_t line = control.rfind('\n', at) + 1;
  control.replace(line, at - line, std::to_string(std::stoi(control.substr(line)) + count) + " ");
  control.insert(control.find('\n', line) + 1, entries);
}

// "@READ@" stands where a module's read flag belongs: 0 in a cold run, 1 in the warm one.
const std::string kRead = "@READ@";

// The [model_time] lines of a run from hourly step `from` to step `to` (step 1 ends at 1 h
// on 1 January 1985).
std::string Period(int from, int to) {
  auto date = [](int step) { return std::to_string((step - 1) % 24 + 1) + "\n" + std::to_string(1 + (step - 1) / 24) + "\n1\n1985\n"; };
  return date(from) + date(to);
}

// The same for steps of `minutes` (whole hours dividing a day, or others dividing it):
// step s ends s * minutes after 0 h on 1 January 1985, stamped as the station files of such
// steps are (hour 24 ends a day, or with midnightAsZero 0 h of the next day; steps that are
// no whole hours in the key form of [model_time], midnight as 0 h).
std::string Period(int from, int to, int minutes, bool midnightAsZero = false) {
  if (midnightAsZero && minutes >= 60) {
    auto date = [minutes](int step) {
      const int at = step * minutes;
      return std::to_string(at / 60 % 24) + "\n" + std::to_string(1 + at / 1440) + "\n1\n1985\n";
    };
    return date(from) + date(to);
  }
  if (minutes == 60) return Period(from, to);
  if (minutes > 60 && minutes % 60 == 0) {
    auto date = [minutes](int step) {
      const int at = step * minutes;
      return std::to_string((at - 1) / 60 % 24 + 1) + "\n" + std::to_string(1 + (at - 1) / 1440) + "\n1\n1985\n";
    };
    return date(from) + date(to);
  }
  auto date = [minutes](const char* which, int step) {
    const int at = step * minutes, hour = at / 60 % 24, day = 1 + at / 1440;
    return FormatText("%sminute = %d\n%shour = %d\n%sday = %d\n%smonth = 1\n%syear = 1985\n", which, at % 60,
                      which, hour, which, day, which, which);
  };
  return date("start", from) + date("end", to);
}

// The example with its state written at the end of the run in double precision, and its
// modules' read flags left to kRead. Without `capacityGrid` the usable field capacity is not
// a state grid: the storage file alone carries it.
std::string ExampleCarryingState(const TempDir& dir, bool capacityGrid) {
  std::string control = CopyExampleBasin(dir, 1);
  Replace(control, "WriteAsciiGrids = 1", "WriteAsciiGrids = 0\nWriteDoubleGrids = 1");
  Replace(control, "1       # start hour\n1       # start day\n1       # start month\n1985    # start year\n"
                   "24      # end hour\n31      # end day\n1       # end month\n1985    # end year\n",
          "@PERIOD@");
  Replace(control, "soil_storage.asc soil_storage 0 0.6\n0\n0", "soil_storage.asc soil_storage 0 0.6\n3\n" + kRead);
  for (const char* grid : {"sd.asc", "suz.asc", "sif.asc", "sbia.asc", "nfkia.asc", "ssp.asc", "snowsolid.asc", "snowliquid.asc",
                           "snowtotal.asc", "snowdays.asc", "snowage.asc"})
    SetWriteCode(control, grid, "3");
  Replace(control, "0       # read the state grids and the storage file", kRead + " # read the state grids");
  // The usable field capacity follows the root depth day by day; a chained run may also
  // carry it as a state grid.
  if (capacityGrid)
    AddToList(control, "# number of variable grids", 1, "fk.asc available_soil_moisture 0 300\n3\n" + kRead + "\n");
  Replace(control, "0       # readgrids: 0 starts without snow", kRead + " # readgrids");
  Replace(control, "0       # readgrids: 0 starts with empty storages", kRead + " # readgrids");
  return control;
}

// One combination of modules: what it changes in the example's copy.
struct Row {
  const char* name;
  std::function<void(const TempDir&, std::string&)> edit;
  // An output file of the combination's module and a column of its dated rows that must
  // hold a value other than 0 in the second half, so the row cannot pass with the module idle.
  const char* evidence;
  size_t column;
  // The step before the first and the steps of each half.
  int start = kStart, half = kHalf;
  bool capacityGrid = true;
  // A grid each run writes once at its start-up, of what the soil table derives for the
  // root depths of its first day: not a state, so it differs when the run starts elsewhere.
  const char* startUpRecord = "";
  // The length of the steps in minutes (below 60: [model_time] in its key form).
  int minutes = 60;
  // Set for a set-up whose records write midnight as 0 h of the next day: the edit that
  // makes the same set-up with midnight written 24 h of the day before. Its unbroken run
  // must write the same files with the same values as the row's, dated names and rows aside.
  std::function<void(const TempDir&, std::string&)> midnightAs24 = nullptr;
  // A file of the first half's state the second half does not get, and the words its log
  // must hold then; its outputs are not compared (it cannot go on as the unbroken run).
  const char* leftOut = "";
  const char* said = "";
  // Set for a set-up that writes the example's data in another convention: the edit of the
  // set-up the example's way. Its unbroken run must write the same files with the same values.
  std::function<void(const TempDir&, std::string&)> sameAs = nullptr;
  // [model_time] writes midnight as 0 h of the next day, as records stamped 0 to 23 h do.
  bool midnightAsZero = false;
  // A grid of the end of a day that the second half's first step writes: the day it ends.
  const char* dayEndGrid = "";
  // The example's days moved over the year's end (see OverTheYearsEnd), [model_time] too.
  bool overTheYearsEnd = false;
  // The folder of its own that the second half reads its storage file from
  // (InitialStateDirectory), where the first half's storage file and the radiation
  // correction's stack are put; empty: beside the control file, with the state grids.
  const char* stateFolder = "";
  // With a state folder: the beginning of the names the first half writes its output under
  // (DefaultOutputDirectory = output/<prefix>) and the second half reads its state by
  // (InitialStateDirectory = <folder>/<prefix>).
  const char* statePrefix = "";
};

// The row with the storage file and the stack of the radiation correction in "state/".
Row InStateFolder(Row row) {
  row.stateFolder = "state";
  return row;
}

std::string Instance(std::string control, const std::string& period, bool warm) {
  Replace(control, "@PERIOD@", period);
  for (size_t p; (p = control.find(kRead)) != std::string::npos;) control.replace(p, kRead.size(), warm ? "1" : "0");
  return control;
}

// A run of the control file in dir; fails the test when it ends with an error.
bool Run(const TempDir& dir, const std::string& control, std::string* said = nullptr) {
  WriteTextFile(dir.file("basin.ctl"), control);
  fs::create_directories(dir.file("output"));
  std::string console;
  const int code = RunExampleInProcess(dir, nullptr, nullptr, nullptr, nullptr, &console, said != nullptr);
  EXPECT_EQ(code, 0) << console.substr(console.size() > 3000 ? console.size() - 3000 : 0);
  if (said) *said = console;
  return code == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  std::istringstream in(line);
  for (std::string t; in >> t;) tokens.push_back(t);
  return tokens;
}

// The relative difference of two tokens: 0 when they are the same text, infinite when they
// differ and are not both numbers.
double Difference(const std::string& a, const std::string& b) {
  if (a == b) return 0.0;
  char *endA = nullptr, *endB = nullptr;
  const double x = std::strtod(a.c_str(), &endA), y = std::strtod(b.c_str(), &endB);
  if (*endA != '\0' || *endB != '\0' || endA == a.c_str() || endB == b.c_str()) return HUGE_VAL;
  return std::fabs(x - y) / std::max(std::fabs(x), std::fabs(y));
}

// A row of a time-series file begins with the date of its step (1985 for the example, 1986
// where its days are moved over the year's end).
bool Dated(const std::string& line) { return line.rfind("1985", 0) == 0 || line.rfind("1986", 0) == 0; }

// The example's January moved over the year's end: 1 to 15 January become 17 to 31
// December 1985, 16 to 31 January become 1 to 16 January 1986.
void OverTheYearsEnd(int& year, int& month, int& day) {
  if (year != 1985 || month != 1) return;
  if (day <= 15) {
    month = 12, day += 16;
  } else {
    year = 1986, day -= 15;
  }
}

// The [model_time] lines of Period (hour, day, month and year of the start, then of the
// end) moved over the year's end.
std::string PeriodOverTheYearsEnd(const std::string& period) {
  std::vector<std::string> v;
  std::istringstream in(period);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  if (v.size() != 8) {
    ADD_FAILURE() << "not a period of hours, days, months and years: " << period;
    return period;
  }
  std::string out;
  for (size_t at = 0; at < 8; at += 4) {
    int day = std::stoi(v[at + 1]), month = std::stoi(v[at + 2]), year = std::stoi(v[at + 3]);
    OverTheYearsEnd(year, month, day);
    out += v[at] + "\n" + std::to_string(day) + "\n" + std::to_string(month) + "\n" + std::to_string(year) + "\n";
  }
  return out;
}
// The date of a row: year, month, day and hour, and the minute where the file has a minute
// column (sub-hourly steps).
std::string DateKey(const std::string& line, size_t fields = 4) {
  const std::vector<std::string> t = Tokens(line);
  std::string key;
  for (size_t i = 0; i < fields && i < t.size(); ++i) key += t[i] + " ";
  return key;
}

// The largest relative difference between the second half's text file and the whole run's,
// with where it lies: dated rows are matched by their date, every other line by its place
// among the undated lines.
double CompareText(const std::string& whole, const std::string& half, std::string* where) {
  std::vector<std::string> w, wDated, h, hDated;
  for (const std::string& l : Lines(whole)) (Dated(l) ? wDated : w).push_back(l);
  for (const std::string& l : Lines(half)) (Dated(l) ? hDated : h).push_back(l);
  double worst = 0.0;
  auto compare = [&](const std::string& a, const std::string& b, const std::string& what) {
    const std::vector<std::string> x = Tokens(a), y = Tokens(b);
    double d = x.size() == y.size() ? 0.0 : HUGE_VAL;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) d = std::max(d, Difference(x[i], y[i]));
    if (d > worst) {
      worst = d;
      *where = what + ": \"" + a.substr(0, 160) + "\" against \"" + b.substr(0, 160) + "\"";
    }
  };
  if (w.size() != h.size()) {
    *where = std::to_string(h.size()) + " undated lines against " + std::to_string(w.size());
    return HUGE_VAL;
  }
  for (size_t i = 0; i < w.size(); ++i) compare(w[i], h[i], "line " + std::to_string(i + 1));
  const size_t fields = whole.find("HH\tmm\t") != std::string::npos ? 5 : 4;
  for (const std::string& row : hDated) {
    const std::string key = DateKey(row, fields);
    const auto it =
        std::find_if(wDated.begin(), wDated.end(), [&](const std::string& l) { return DateKey(l, fields) == key; });
    if (it == wDated.end()) {
      *where = "the whole run has no row " + key;
      return HUGE_VAL;
    }
    compare(*it, row, "row " + key);
  }
  return worst;
}

bool Binary(const std::string& bytes) { return bytes.find('\0') != std::string::npos; }

// The next day of a date of the example's months, and the day before.
void NextDay(int& month, int& day) {
  if (++day > (month == 2 ? 28 : 31)) day = 1, ++month;
}
void DayBefore(int& month, int& day) {
  if (--day < 1) day = --month == 2 ? 28 : 31;
}

// A dated row ("1985 1 6 0 ...") or dated name ("_19850106.0000") of a run whose records
// write midnight as 0 h of the next day, as a run that writes it 24 h names it.
std::string MidnightAs24(const std::string& text) {
  std::string out;
  for (const std::string& line : Lines(text)) {
    const std::vector<std::string> t = Tokens(line);
    if (!Dated(line) || t.size() < 4 || t[3] != "0") {
      out += line + "\n";
      continue;
    }
    int month = std::stoi(t[1]), day = std::stoi(t[2]);
    DayBefore(month, day);
    out += t[0] + " " + std::to_string(month) + " " + std::to_string(day) + " 24";
    for (size_t i = 4; i < t.size(); ++i) out += " " + t[i];
    out += "\n";
  }
  return out;
}
std::string NameWithMidnightAsZero(const std::string& name) {
  const size_t at = name.find("_1985");
  if (at == std::string::npos || name.compare(at + 9, 5, ".2400") != 0) return name;
  int month = std::stoi(name.substr(at + 5, 2)), day = std::stoi(name.substr(at + 7, 2));
  NextDay(month, day);
  return name.substr(0, at) + FormatText("_1985%02d%02d.0000", month, day) + name.substr(at + 14);
}

// Compares every file of the second half's output with the whole run's but `startUpRecord`;
// returns how many. With wholeMidnightAsZero the whole run's records write midnight as 0 h
// of the next day, the second half's as 24 h.
int CompareOutputs(const TempDir& whole, const TempDir& half, const std::string& startUpRecord,
                   bool wholeMidnightAsZero = false) {
  int compared = 0;
  for (const auto& e : fs::directory_iterator(half.file("output"))) {
    const std::string name = e.path().filename().string();
    if (name == startUpRecord) continue;
    const std::string mine = ReadTextFile(e.path().string());
    const std::string wholeName = wholeMidnightAsZero ? NameWithMidnightAsZero(name) : name;
    if (!fs::exists(whole.file("output/" + wholeName))) {
      ADD_FAILURE() << name << ": the whole run writes no such file";
      continue;
    }
    std::string theirs = ReadTextFile(whole.file("output/" + wholeName));
    ++compared;
    if (Binary(mine) || Binary(theirs)) {
      EXPECT_TRUE(mine == theirs) << name << ": the double grid differs";
      continue;
    }
    if (wholeMidnightAsZero) theirs = MidnightAs24(theirs);
    std::string where;
    const double d = CompareText(theirs, mine, &where);
    EXPECT_LE(d, 1e-12) << name << " differs by " << d << " relative at " << where;
  }
  return compared;
}

void CheckWarmStart(const Row& row) {
  SCOPED_TRACE(row.name);
  TempDir whole, first, second;
  std::string control = ExampleCarryingState(whole, row.capacityGrid);
  const auto parts = [] { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); };
  const int before = parts();
  row.edit(whole, control);
  if (parts() != before) return;  // the edit did not find its place in the control file
  for (const TempDir* d : {&first, &second})
    for (const auto& e : fs::directory_iterator(whole.path()))
      if (e.is_regular_file()) fs::copy_file(e.path(), d->file(e.path().filename().string()));

  const int start = row.start, half = row.half;
  const bool zero = static_cast<bool>(row.midnightAs24) || row.midnightAsZero;
  const auto period = [&row, zero](int from, int to) {
    const std::string p = Period(from, to, row.minutes, zero);
    return row.overTheYearsEnd ? PeriodOverTheYearsEnd(p) : p;
  };
  ASSERT_TRUE(Run(whole, Instance(control, period(start + 1, start + 2 * half), false)));
  const std::string prefix = row.statePrefix;
  std::string firstControl = Instance(control, period(start + 1, start + half), false);
  if (!prefix.empty()) Replace(firstControl, "DefaultOutputDirectory = output/", "DefaultOutputDirectory = output/" + prefix);
  ASSERT_TRUE(Run(first, firstControl));
  // The second half starts from the state the first wrote, under the names it reads.
  const std::string folder = row.stateFolder;
  if (!folder.empty()) fs::create_directories(second.file(folder));
  for (const auto& e : fs::directory_iterator(first.file("output"))) {
    std::string name = e.path().filename().string();
    if (!prefix.empty()) {
      ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
      name.erase(0, prefix.size());
    }
    if (name == row.leftOut) continue;
    const bool own = !folder.empty() && (name == "soil_state.txt" || name == "radiation_correction.asc_End");
    fs::copy_file(e.path(), second.file(own ? folder + "/" + prefix + name : name),
                  fs::copy_options::overwrite_existing);
  }
  std::string secondControl = Instance(control, period(start + half + 1, start + 2 * half), true);
  if (!folder.empty())
    Replace(secondControl, "DefaultOutputDirectory = output/",
            "DefaultOutputDirectory = output/\nInitialStateDirectory = " + folder + "/" + prefix);
  std::string said;
  ASSERT_TRUE(Run(second, secondControl, &said));
  if (*row.leftOut) {
    ASSERT_TRUE(fs::exists(first.file(std::string("output/") + row.leftOut))) << row.leftOut;
    EXPECT_NE(said.find(row.said), std::string::npos) << row.said;
    return;
  }
  EXPECT_GE(CompareOutputs(whole, second, row.startUpRecord), 20);
  if (*row.dayEndGrid) {
    EXPECT_TRUE(fs::exists(second.file(std::string("output/") + row.dayEndGrid))) << row.dayEndGrid;
  }
  if (row.midnightAs24 || row.sameAs) {
    // The same records with midnight written 24 h, or the same data in the example's
    // convention: the same files, the same values.
    TempDir twin;
    std::string twinControl = ExampleCarryingState(twin, row.capacityGrid);
    (row.midnightAs24 ? row.midnightAs24 : row.sameAs)(twin, twinControl);
    ASSERT_TRUE(Run(twin, Instance(twinControl, Period(start + 1, start + 2 * half, row.minutes), false)));
    const auto count = [](const TempDir& d) {
      return std::distance(fs::directory_iterator(d.file("output")), fs::directory_iterator());
    };
    EXPECT_EQ(count(whole), count(twin)) << "the two conventions make different files";
    EXPECT_GE(CompareOutputs(whole, twin, "", static_cast<bool>(row.midnightAs24)), 20);
  }
  bool active = false;
  for (const std::string& line : Lines(ReadTextFile(second.file(std::string("output/") + row.evidence)))) {
    const std::vector<std::string> t = Tokens(line);
    active = active || (Dated(line) && t.size() > row.column && std::strtod(t[row.column].c_str(), nullptr) != 0.0);
  }
  EXPECT_TRUE(active) << row.evidence << " holds only zeros in column " << row.column + 1 << ": the module did not act";
}

// Every value of the station file's rows times factor, plus add.
std::string Rescaled(const std::string& stations, double factor, double add) {
  std::string out;
  for (const std::string& line : Lines(stations)) {
    if (!Dated(line)) {
      out += line + "\n";
      continue;
    }
    const std::vector<std::string> t = Tokens(line);
    for (size_t i = 0; i < t.size(); ++i)
      out += (i ? " " : "") + (i < 4 ? t[i] : std::to_string(std::stod(t[i]) * factor + add));
    out += "\n";
  }
  return out;
}

// The example's ASCII grid `name`: its six header lines and its values, row by row.
struct AsciiGrid {
  std::string header;
  std::vector<std::vector<double>> values;
};
AsciiGrid ReadAscii(const std::string& path) {
  AsciiGrid g;
  const std::vector<std::string> lines = Lines(ReadTextFile(path));
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i < 6) {
      g.header += lines[i] + "\n";
      continue;
    }
    g.values.emplace_back();
    for (const std::string& t : Tokens(lines[i])) g.values.back().push_back(std::stod(t));
  }
  return g;
}
void WriteAscii(const std::string& path, const AsciiGrid& g) {
  std::string text = g.header;
  for (const auto& row : g.values) {
    for (size_t c = 0; c < row.size(); ++c) text += (c ? " " : "") + FormatText("%.10g", row[c]);
    text += "\n";
  }
  WriteTextFile(path, text);
}

// Evapotranspiration that draws on the soil storage in every step (the stations 10 K
// warmer, so that rain falls on thawed ground), a water table within the roots' capillary
// reach (a small initial deficit) and the infiltration on.
void EvapotranspirationAndCapillaryRise(const TempDir& dir, std::string& control) {
  WriteTextFile(dir.file("temperature.dat"), Rescaled(ReadTextFile(dir.file("temperature.dat")), 1.0, 10.0));
  Replace(control, "0.5     0.5     # SDini", "0.02    0.02    # SDini");
  Replace(control, "infsat.asc              # saturation marker grid\n0", "infsat.asc\n2");
}

// Rain twenty times the example's on ground 10 K warmer, from 14 h of 4 January on, and a
// loam of little suction: the break at 18 h falls while the input of most cells exceeds
// what they take up, so the second half starts with saturated cells.
void Downpour(const TempDir& dir, std::string& control) {
  WriteTextFile(dir.file("temperature.dat"), Rescaled(ReadTextFile(dir.file("temperature.dat")), 1.0, 10.0));
  WriteTextFile(dir.file("precipitation.dat"), Rescaled(ReadTextFile(dir.file("precipitation.dat")), 20.0, 0.0));
  Replace(control, "1 loam 25 35 3.6 300", "1 loam 25 35 3.6 20");
  Replace(control, "infsat.asc              # saturation marker grid\n0", "infsat.asc\n2");
}

// Permafrost under heavy rain on thawed ground, with capillary rise and the infiltration:
// the snow-free ground thaws step by step, and within a day the roots of layer 1 reach no
// deeper than the shallowest thaw since the day's land-use update, which sets the pores the
// rain fills and the reach of the capillary rise.
void PermafrostWithCapillaryRise(const TempDir& dir, std::string& control) {
  Downpour(dir, control);
  // The rain of 4 January's afternoon falls again in the first half of 5 January.
  std::string rain, afternoon;
  for (const std::string& line : Lines(ReadTextFile(dir.file("precipitation.dat")))) {
    const std::vector<std::string> t = Tokens(line);
    const bool dated = Dated(line) && t.size() > 4 && t[1] == "1";
    if (dated && t[2] == "4" && t[3] == "14") afternoon = line.substr(line.find(" 14 ") + 4);
    rain += (dated && t[2] == "5" && std::stoi(t[3]) < 12 ? "1985 1 5 " + t[3] + " " + afternoon : line) + "\n";
  }
  WriteTextFile(dir.file("precipitation.dat"), rain);
  Replace(control, "0.5     0.5     # SDini", "0.02    0.02    # SDini");
  AddToList(control, "# number of variable grids", 2,
            "thawc.asc ThawCoeffPermaFrost 0 0.05\n0\n0\nthawd.asc PermafrostThawDepth 0 0.3\n3\n" + kRead + "\n");
  control += "\n[permafrost]\n1 # method\n3.0 # Min_Snow_Age_Refreeze\n5.0 # Max_SWE_SnowFree\nthaw.stat 2001\n"
             "1e-6 # reduced k_sat\n";
}

// Lake 1, the reservoir at the outlet, on the three lowest cells of sub-basin 5, topped 1.5 m
// above the highest of them and empty at the start: it fills from the routed discharge.
void Lake(const TempDir& dir, std::string& control) {
  const AsciiGrid dem = ReadAscii(dir.file("dem.asc")), zones = ReadAscii(dir.file("zones.asc"));
  std::vector<std::pair<double, std::pair<size_t, size_t>>> cells;
  for (size_t r = 0; r < zones.values.size(); ++r)
    for (size_t c = 0; c < zones.values[r].size(); ++c)
      if (zones.values[r][c] == 5) cells.push_back({dem.values[r][c], {r, c}});
  std::sort(cells.begin(), cells.end());
  cells.resize(3);
  AsciiGrid codes = zones, depth = zones;
  for (auto& row : codes.values) std::fill(row.begin(), row.end(), -9999.0);
  for (auto& row : depth.values) std::fill(row.begin(), row.end(), 0.0);
  for (const auto& cell : cells) {
    codes.values[cell.second.first][cell.second.second] = 1;
    depth.values[cell.second.first][cell.second.second] = cells.back().first + 1.5 - cell.first;  // m
  }
  WriteAscii(dir.file("lake.asc"), codes);
  WriteAscii(dir.file("maxpond.asc"), depth);
  AddToList(control, "# number of standard grids", 2,
            "lake.asc lake_codes fillcode = 0\nmaxpond.asc max_ponding_storage fillcode = 0\n");
  AddToList(control, "# number of variable grids", 2,
            "pond.asc ponding_storage 0 0\n0\n0\npondtop.asc ponding_storage_top 0 0\n3\n" + kRead + "\n");
  // The lakes' read flag, not the soil model's, tells routing to skip its initialisation routing.
  control += "\n[lake_model]\n1 # flow control\n1 # initialization\n0.08 # albedo\n0.001 # z0\n" + kRead +
             " # readgrids\n";
}

// Dynamic glaciers (method 11) on half of every cell, one glacier per sub-basin, evaluated
// at the end of 5 January (in the second half), and permafrost under them.
void DynamicGlaciersAndPermafrost(const TempDir& dir, std::string& control) {
  fs::copy_file(dir.file("zones.asc"), dir.file("glaciercodes.asc"));
  AddToList(control, "# number of variable grids", 4,
            "glaciercodes.asc GlacierCodes 0 -1\n3\n1\nglacierized.asc GlacierizedCells 0 0.5\n3\n" + kRead +
                "\nthawc.asc ThawCoeffPermaFrost 0 0.05\n0\n0\nthawd.asc PermafrostThawDepth 0 0.3\n3\n" + kRead + "\n");
  std::string section = "[ice_firn]\n11 # method\n7.2\n4.8\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n24\n48\n72\n0\n0\n0\n"
                        "firn.asc\n0\nqfirn.stat 2001\nice.asc\n0\nqice.stat 2001\nqglac.stat 2001\nqsog.stat 2001\n" +
                        kRead + " # readgrid\n3 3000 0.1\n5 1 # evaluated at the end of 5 January\n28.5 1.36 4 0\n"
                        "firnstack.asc\n3\nfirn.stat 2001\nmb.asc\n3\nmbold.asc\n3\nmb1.stat 2001\nmb2.stat 2001\n"
                        "1.0 # debris scaling\nsog.stat 2001\n";
  for (int k = 0; k < 7; ++k) section += "g" + std::to_string(k) + ".asc\n3\n";
  Replace(control, "[interception_model]", section + "1000 0.25\n\n[interception_model]");
  control += "\n[permafrost]\n1 # method\n3.0 # Min_Snow_Age_Refreeze\n5.0 # Max_SWE_SnowFree\nthaw.stat 2001\n"
             "1e-6 # reduced k_sat\n";
}

// The same, the stations 12 K warmer so that the ground thaws.
void GlaciersWithPermafrost(const TempDir& dir, std::string& control) {
  WriteTextFile(dir.file("temperature.dat"), Rescaled(ReadTextFile(dir.file("temperature.dat")), 1.0, 12.0));
  DynamicGlaciersAndPermafrost(dir, control);
}

// The same, on a fraction grid that a resampling's rounding put just outside 0..1: -1e-9 on
// the glacier of sub-basin 3, 1.000000001 on that of sub-basin 2, and the two beside 0.5 on
// the others. Both halves read it: the first half limits it and ends with its glaciers'
// areas, which the second half reads back.
void GlacierFractionsJustOutsideTheRange(const TempDir& dir, std::string& control) {
  GlaciersWithPermafrost(dir, control);
  AsciiGrid fraction = ReadAscii(dir.file("zones.asc"));
  for (size_t r = 0; r < fraction.values.size(); ++r)
    for (size_t c = 0; c < fraction.values[r].size(); ++c) {
      double& v = fraction.values[r][c];
      if (v > 0.0)
        v = v == 3.0 || (r + c) % 3 == 0 ? -1e-9 : v == 2.0 || (r + c) % 3 == 1 ? 1.000000001 : 0.5;
    }
  WriteAscii(dir.file("glacierized.asc"), fraction);
  Replace(control, "glacierized.asc GlacierizedCells 0 0.5\n3\n" + kRead,
          "glacierized.asc GlacierizedCells 0 0.5\n3\n1");
}

// The interception's section holds snow in the canopy (method 22), its load, age and albedo
// carried as state grids.
void CanopySnowSection(std::string& control) {
  Replace(control, "2       # method: one storage per layer below", "22      # method: one storage per layer below");
  std::string canopy;
  for (const char* g : {"scn_temp", "scn_rh", "scn_rad", "scn_wind", "scn_load", "scn_age", "scn_alb", "scn_subl",
                        "scn_solid", "scn_liquid"}) {
    const std::string name = g;
    const bool state = name == "scn_load" || name == "scn_age" || name == "scn_alb";
    canopy += name + ".asc\n" + (state ? "3" : "0") + "\n" + name + ".stat 2001\n";
  }
  Replace(control, kRead + " # readgrids\n\n[infiltration_model]",
          kRead + " # readgrids\n" + canopy + "0.5\n0.01\n1.0\n\n[infiltration_model]");
}

// Interception above the snow cover with snow held in the canopy (method 22), with constant
// wind, humidity and radiation grids.
void CanopySnow(const TempDir&, std::string& control) {
  CanopySnowSection(control);
  AddToList(control, "# number of variable grids", 4,
            "wind.asc wind_speed 0 2.0\n0\n0\nrh.asc air_humidity 0 0.7\n0\n0\nrad.asc global_radiation 0 150\n0\n0\n"
            "cloud.asc cloudiness 0 0.5\n0\n0\n");
}

// Two more reservoirs at the outlet of sub-basin 1 or 2, the first releasing by rule into
// the second; a rule abstraction draws on the second (its amount prescribed by a file for
// the first 30 steps of the runs) and hands the water to inflow 1 of the other sub-basin; the outlet of
// sub-basin 3 or 4 hands what it carries above 0.5 mm to inflow 2 of the other; the inflow
// 1 description sends a tenth of its outflow out of the model. `inflowFirst` describes each
// inflow before its abstraction.
void ReservoirsAndAbstractions(const TempDir& dir, std::string& control, bool inflowFirst) {
  std::string prescription = "YY MM DD HH Q\n";
  for (int step = 0; step < 24 * 7; ++step)
    prescription += FormatText("1985 1 %d %d %g\n", 1 + step / 24, step % 24,
                               step >= kStart && step < kStart + 30 ? 0.5 : -9999.0);
  WriteTextFile(dir.file("prescription.txt"), prescription);
  const std::string channel = "(kh=3, kf=10, bm=4, bf=30, hm=1.0, kstm=25, kstf=15, I=0.030, L=5000, A=10)\n";
  const std::string source =
      "AL 1 (mode = intern_with_rule_from_reservoir)\n"
      "AL 6 (mode = intern_from_file_from_reservoir externalAbstractionFile = prescription.txt 1 "
      "replaced_Abstractions = { 1 })\n"
      "SP 2 (file = reservoir_2.txt V0 = 3e6 A0 = 2e6 W0 = 400 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)\n"
      "SP 3 (file = reservoir_3.txt V0 = 1e5 A0 = 1e6 W0 = 380 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 900)\n";
  const std::string target = "ZL 1 = intern " + channel + "AL 3 (mode = extern taken.txt 0 0.1 1000 mm)\n";
  const std::string outlet = "AL 2 (mode = intern 0.5 0.5 1000 mm)\n", inflow = "ZL 2 = intern " + channel;
  const std::string tg1 = "TG 1 (AE=50, AF=1.0)", tg2 = "TG 2 (AE=64, AF=1.0)", tg3 = "TG 3 (AE=113, AF=1.0)",
                    tg4 = "TG 4 (AE=283, AF=1.0)";
  // The entries follow the whole line of their sub-basin (its comment must not become a line
  // of its own, which would end the routing descriptions).
  auto after = [&control](const std::string& tg, const std::string& entries) {
    const size_t at = control.find(tg);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no " << tg;
      return;
    }
    control.insert(control.find('\n', at) + 1, entries);
  };
  after(tg2, inflowFirst ? source : target);
  after(tg1, inflowFirst ? target : source);
  after(tg4, inflowFirst ? outlet : inflow);
  after(tg3, inflowFirst ? inflow : outlet);
  control +=
      "\n[abstraction_rule_reservoir_2]\n3 1\n0 0\n1e6 5\n1e8 50\n\n"
      "[abstraction_rule_reservoir_3]\n3 1\n0 0\n1e6 2\n1e8 40\n\n"
      "[abstraction_rule_abstraction_1]\n2 1\n0 0\n1e6 3\nWeekDays = 1234567\nstart_hour = 0\nstop_hour = 23\n"
      "TargetCap = 1000\n\n";
}

// Penman-Monteith with constant wind, humidity and relative sunshine: broken at noon under
// snow, the first step of the second half takes the albedo the snow cover left.
void PenmanMonteith(const TempDir&, std::string& control) {
  Replace(control, "2       # method: 1 Penman-Monteith", "1       # method: 1 Penman-Monteith");
  AddToList(control, "# number of variable grids", 3,
            "wind.asc wind_speed 0 2.0\n0\n0\nrh.asc air_humidity 0 0.7\n0\n0\nssd.asc sunshine_duration 0 0.4\n0\n0\n");
}

// Penman-Monteith on a constant global radiation that each step corrects by the terrain and
// writes back into the grid (written at the end of the runs): the second half starts from
// the uncorrected grid, as every step of the whole run corrects its input once.
void CorrectedConstantRadiation(const TempDir&, std::string& control) {
  Replace(control, "2       # method: 1 Penman-Monteith", "1       # method: 1 Penman-Monteith");
  Replace(control, "rgex.stat 0", "rgex.stat 2001");
  AddToList(control, "# number of variable grids", 3,
            "wind.asc wind_speed 0 2.0\n0\n0\nrh.asc air_humidity 0 0.7\n0\n0\nrad.asc global_radiation 0 150\n3\n0\n");
}

// Every module at once: Penman-Monteith, the snow cover's energy balance with slides and
// deposition (method 7, its temperatures carried as state grids) below snow held in the
// canopy, capillary rise and the infiltration, a lake, dynamic glaciers with permafrost
// updated at the end of 5 January, and reservoirs with abstractions.
void EveryModule(const TempDir& dir, std::string& control) {
  PenmanMonteith(dir, control);
  Replace(control, "1       # method: temperature index", "7       # method:");
  std::string block;
  for (const char* g : {"snowtemp", "surftemp", "inputmass", "mobilemass", "deposition"}) {
    const std::string name = g;
    block += name + ".asc\n" + (name == "snowtemp" || name == "surftemp" ? "3" : "0") + "\n" + name + ".stat 2001\n";
  }
  block += "55.0\n1.0\n5.0\n0.01\n1.0\n1.0\n1.0\n";
  Replace(control, kRead + " # readgrids\n\n[interception_model]",
          kRead + " # readgrids\n" + block + "\n[interception_model]");
  AddToList(control, "# number of variable grids", 6,
            "cloud.asc cloudiness 0 0.5\n0\n0\ndi.asc deposition_index 0 0.1\n0\n0\n"
            "sf1.asc slidefraction1 0 0.25\n0\n0\nsf2.asc slidefraction2 0 0.25\n0\n0\n"
            "sf3.asc slidefraction3 0 0.25\n0\n0\nsf4.asc slidefraction4 0 0.25\n0\n0\n");
  CanopySnowSection(control);
  Replace(control, "0.5     0.5     # SDini", "0.02    0.02    # SDini");
  Replace(control, "infsat.asc              # saturation marker grid\n0", "infsat.asc\n2");
  Lake(dir, control);
  DynamicGlaciersAndPermafrost(dir, control);
  // The glaciers cover the highest cells only, whole above 3600 m and in part from 3430 m
  // up: the snow's energy balance steps the cells without glacier. Every run reads the
  // glacier grids, the warm one as the first half left them.
  const AsciiGrid dem = ReadAscii(dir.file("dem.asc")), zones = ReadAscii(dir.file("zones.asc"));
  AsciiGrid fraction = dem, codes = zones;
  for (size_t r = 0; r < dem.values.size(); ++r)
    for (size_t c = 0; c < dem.values[r].size(); ++c) {
      const double z = zones.values[r][c] > 0.0 ? dem.values[r][c] : 0.0;
      fraction.values[r][c] = z > 3600.0 ? 1.0 : z > 3430.0 ? 0.51 + 0.42 * (z - 3430.0) / 170.0 : 0.0;
      codes.values[r][c] = z > 3430.0 ? zones.values[r][c] : -9999.0;
    }
  WriteAscii(dir.file("glacierized.asc"), fraction);
  fs::remove(dir.file("glaciercodes.asc"));
  WriteAscii(dir.file("glaciercodes.asc"), codes);
  Replace(control, "glacierized.asc GlacierizedCells 0 0.5\n3\n" + kRead,
          "glacierized.asc GlacierizedCells 0 0.5\n3\n1");
  ReservoirsAndAbstractions(dir, control, false);
}

// Every module set to steps of `minutes` that a timestep key gives, each ending `offset`
// minutes after its stamp.
void KeyedSteps(std::string& control, int minutes, int offset) {
  Replace(control, "60      # min_to_int_end", FormatText("%-8d# min_to_int_end", offset));
  Replace(control, "WriteDoubleGrids = 1", "WriteDoubleGrids = 1\ntimestep = " + std::to_string(minutes));
  for (size_t p; (p = control.find("60      # time interval in minutes")) != std::string::npos;)
    control.replace(p, 2, std::to_string(minutes));
}

// Steps of 30 minutes (the station files' hourly values on both half hours, the rain shared
// between them), with snow assimilated at 12 h, 18 h and 24 h of 4 January. The break falls
// at 18 h, while snow falls: the first half applies that record, the second half starts at
// 18:30 with the snow of the step after it.
void HalfHourStepsAssimilatingSnowAtTheBreak(const TempDir& dir, std::string& control) {
  for (const char* name : {"temperature.dat", "precipitation.dat"}) {
    const double share = std::string(name) == "precipitation.dat" ? 0.5 : 1.0;
    const std::vector<std::string> lines = Lines(ReadTextFile(dir.file(name)));
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string line = lines[i];
      if (i >= 1 && i <= 3) line.replace(line.find("HH"), 2, "HH mm");
      if (!Dated(line)) {
        text += line + "\n";
        continue;
      }
      const std::vector<std::string> t = Tokens(line);
      for (int minute : {0, 30}) {
        text += t[0] + " " + t[1] + " " + t[2] + " " + t[3] + " " + std::to_string(minute);
        for (size_t k = 4; k < t.size(); ++k) text += " " + FormatText("%.10g", std::stod(t[k]) * share);
        text += "\n";
      }
    }
    fs::remove(dir.file(name));
    WriteTextFile(dir.file(name), text);
  }
  KeyedSteps(control, 30, 30);
  fs::remove(dir.file("snow_assim.txt"));
  WriteTextFile(dir.file("snow_assim.txt"),
                "snow water equivalent for assimilation\nnumber of columns : 32\nnumber of rows : 25\n"
                "grid cell size : 1000\nunit of values : mm\n1985 1 4 12 snow_swe.asc\n1985 1 4 18 snow_swe.asc\n"
                "1985 1 4 24 snow_swe.asc\n");
}

// The example's station files replaced by those of steps of `minutes` (3-hourly or daily,
// stamped at the end of their steps) and every module set to that step.
void StepsOf(const TempDir& dir, std::string& control, int minutes) {
  const std::string kind = minutes == 180 ? "3h" : "daily_24";
  for (const char* name : {"temperature", "precipitation"}) {
    fs::remove(dir.file(std::string(name) + ".dat"));
    WriteTextFile(dir.file(std::string(name) + ".dat"),
                  ReadTextFile(std::string(ORVEL_TEST_DATA) + "/stations/" + name + "_" + kind + ".dat"));
  }
  Replace(control, "60      # min_to_int_end", "0       # min_to_int_end");
  for (size_t p; (p = control.find("60      # time interval in minutes")) != std::string::npos;)
    control.replace(p, 2, std::to_string(minutes));
}

// The rows of the station files with their stamps changed by `restamp` (year, month, day,
// hour: the example's months).
void RestampStations(const TempDir& dir, const std::function<void(int&, int&, int&, int&)>& restamp) {
  for (const char* name : {"temperature.dat", "precipitation.dat"}) {
    std::string text;
    for (const std::string& line : Lines(ReadTextFile(dir.file(name)))) {
      std::vector<std::string> t = Tokens(line);
      if (Dated(line)) {
        int year = std::stoi(t[0]), month = std::stoi(t[1]), day = std::stoi(t[2]), hour = std::stoi(t[3]);
        restamp(year, month, day, hour);
        t[0] = std::to_string(year), t[1] = std::to_string(month), t[2] = std::to_string(day),
        t[3] = std::to_string(hour);
      }
      for (size_t i = 0; i < t.size(); ++i) text += (i ? " " : "") + t[i];
      text += "\n";
    }
    fs::remove(dir.file(name));
    WriteTextFile(dir.file(name), text);
  }
}

// The example's hourly records stamped at the end of their hours (min_to_int_end 0), as a
// logger that closes each hour writes them: 1 h to 24 h.
void EndStamped(const TempDir& dir, std::string& control) {
  RestampStations(dir, [](int&, int&, int&, int& hour) { ++hour; });
  Replace(control, "60      # min_to_int_end", "0       # min_to_int_end");
}

// The station files with midnight written as 0 h of the next day, where they write 24 h.
void MidnightAsZero(const TempDir& dir) {
  RestampStations(dir, [](int&, int& month, int& day, int& hour) {
    if (hour != 24) return;
    NextDay(month, day);
    hour = 0;
  });
}

// The zone grid exported with another no-data value: 0, as integer zone rasters often have,
// or the -3.4028235e38 of float rasters.
void ZoneGridWithNodata(const TempDir& dir, const std::string& nodata) {
  std::string zones = ReadTextFile(dir.file("zones.asc"));
  for (size_t p = 0; (p = zones.find("-9999", p)) != std::string::npos; p += nodata.size())
    zones.replace(p, 5, nodata);
  fs::remove(dir.file("zones.asc"));
  WriteTextFile(dir.file("zones.asc"), zones);
}
void ZoneGridWithNodataZero(const TempDir& dir, std::string&) { ZoneGridWithNodata(dir, "0"); }

// Both land-use classes start their vegetation by the dynamic phenology (DynamicPhenology_1):
// forcing units summed from the daily mean temperature (base -30 °C: 17 to 23 a day in the
// example's January) pass the conifers' threshold at the end of 3 January and the
// grassland's at the end of 5 January, so the break at noon of 5 January falls a day and a
// half after the one start and before the other: the second half's first day takes the
// conifers' values of their second day after the start. The forcing sum, the start day and the mean
// temperature of the day so far are carried as variable grids, and so is the seven-day mean
// temperature, beside which each run writes the history of daily means at its end. The leaf
// area, cover and roots grow over the ten days after the start; the interception, the
// evapotranspiration and the root zone of the soil model take them.
// The method of a class's dynamic phenology and its keys from its fix days on.
struct PhenologyKeys {
  std::string method, keys;
};

std::string Dp1Keys(const std::string& threshold, const std::string& julDays = "1 -1 10 366",
                    const std::string& latestStart = "200") {
  return "JulDays = " + julDays + "; F* = " + threshold + "; DP1_t1_dorm = 1; DP1_T_Bf = -30; JDReset_TStart = 300; " +
         "maxStartJDforDP1 = " + latestStart + ";";
}

// Both classes with their phenology (see DynamicPhenology), its state carried as variable
// grids: those below and `count` more.
void PhenologyOfBothClasses(const TempDir& dir, std::string& control, int minutes, const PhenologyKeys& coniferKeys,
                            const PhenologyKeys& grasslandKeys, int count = 0, const std::string& more = "") {
  auto entry = [](const std::string& head, const PhenologyKeys& p, const std::string& values) {
    return head + " { method = " + p.method + ";\n  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; "
                  "HReduDry = 3.45; IntercepCap = 0.3;\n  " + p.keys + "\n" + values + "  AltDep = 0 0 0 0;\n}\n";
  };
  const size_t conifer = control.find("1 conifer_forest 0.12");
  const size_t grassland = control.find("2 grassland {");
  const size_t end = control.find("}\n", grassland);
  if (conifer == std::string::npos || grassland == std::string::npos || end == std::string::npos) {
    ADD_FAILURE() << "no land-use table of the example";
    return;
  }
  control.replace(conifer, end + 2 - conifer,
                  entry("1 conifer_forest", coniferKeys,
                        "  Albedo = 0.12 0.12 0.12 0.12; rsc = 70 70 55 55; LAI = 6 6 7 7; Z0 = 1.2 1.2 1.2 1.2;\n"
                        "  VCF = 0.9 0.9 0.95 0.95; RootDepth = 0.6 0.6 1.0 1.0;\n") +
                      entry("2 grassland", grasslandKeys,
                            "  Albedo = 0.20 0.20 0.18 0.18; rsc = 90 90 60 60; LAI = 0.5 0.5 2.75 2.75;\n"
                            "  Z0 = 0.02 0.02 0.05 0.05; VCF = 0.4 0.4 0.8 0.8; RootDepth = 0.2 0.2 0.4 0.4;\n"));
  AddToList(control, "# number of variable grids", 4 + count,
            "sfu.asc SumOfForcingUnits1 0 0\n3\n" + kRead + "\nphs.asc Pheno_start1 0 -1\n3\n" + kRead +
                "\ntavg.asc TemperatureAVG 0 0\n3\n" + kRead + "\ntmov.asc TemperatureMOVAVG7 0 0\n3\n" + kRead +
                "\n" + more);
  if (minutes == 60) return;
  // Steps of three hours: the station files' 3-hourly records stamped at the end of their
  // steps.
  StepsOf(dir, control, minutes);
}

void DynamicPhenology(const TempDir& dir, std::string& control, int minutes) {
  PhenologyOfBothClasses(dir, control, minutes, {"DynamicPhenology_1", Dp1Keys("10")},
                         {"DynamicPhenology_1", Dp1Keys("55")});
}

// The keys of a class of DynamicPhenology_4: the rule of DynamicPhenology_1, which starts
// nothing in January, until its dormancy day t0; then its own: degree days above -30 °C
// (20 to 28 a day) until they pass `threshold` (no chilling), and from day leafFallFrom on,
// five days after the start (every seven-day mean lies below 5 °C), the leaves fall: fix
// point 3 of the cell's list, 10 days after the start, moves to that day.
std::string Dp4Keys(int t0, int threshold, int leafFallFrom) {
  return "JulDays = 1 -1 10 366; F* = 40; DP1_t1_dorm = 300; DP1_T_Bf = -30; JDReset_TStart = 300; "
         "maxStartJDforDP1 = 200;\n  DP4_t0_dorm = " + std::to_string(t0) + "; DP4_t1_dorm = 1; DP4_T0 = -50; "
         "DP4_T1 = -30; DP4_Par_a = " + std::to_string(threshold) + "; DP4_Par_b = 0; DP4_T_xylstop = 5; "
         "DP4_t_xs1 = " + std::to_string(leafFallFrom) + "; DP4_SPSLF = 3;";
}
// The rest of the state of DynamicPhenology_2 and _4 as variable grids.
const std::string kDormancyGrids = "chs.asc SumOfChillingUnits1 0 -1\n3\n" + kRead +
                                   "\nfth.asc FStar_ForcingThreshold1 0 -1\n3\n" + kRead +
                                   "\nlfs.asc StartDayOfLeaveFall 0 0\n3\n" + kRead + "\n";

// Both classes of DynamicPhenology_4 by their own rule from the end of 1 January on: the
// conifers start on day 2, the grassland on day 4 or 5, and their leaves fall on days 6 and
// 8 or 9.
void LeafFall(const TempDir& dir, std::string& control, int minutes) {
  PhenologyOfBothClasses(dir, control, minutes, {"DynamicPhenology_4", Dp4Keys(1, 40, 1)},
                         {"DynamicPhenology_4", Dp4Keys(1, 100, 1)}, 3, kDormancyGrids);
}

// A row of LeafFall in hourly steps, broken after `half` steps, whose runs do not read the
// grid `declared` (its line and write code in [variable_grids]): the second half's log must
// say `said`, and its outputs are not compared.
Row LeafFallWithGridNotRead(const char* name, const std::string& declared, int half, const char* said) {
  Row row{name,
          [declared](const TempDir& d, std::string& c) {
            LeafFall(d, c, 60);
            Replace(c, declared + kRead, declared + "0");
          },
          "interception_storage.stat", 4, 0, half};
  row.leftOut = "etr.stat";
  row.said = said;
  return row;
}

// A row of the example whose second half does not read all the state the first kept: edit
// makes the set-up, and the second half's log must say `said`.
Row StateNotRead(const char* name, std::function<void(const TempDir&, std::string&)> edit, int start, int half,
                 const char* said) {
  Row row{name, std::move(edit), "snowstorage.stat", 4, start, half};
  row.leftOut = "etr.stat";
  row.said = said;
  return row;
}

// Every read flag of the example set to 0 but those of keep (the line of its flag): both
// halves start cold from the state beside them, or read only those.
void ReadOnly(std::string& control, const std::string& keep) {
  const std::string kept = keep.empty() ? keep : kRead + keep;
  if (!kept.empty()) Replace(control, kept, "@KEEP@");
  for (size_t p; (p = control.find(kRead)) != std::string::npos;) control.replace(p, kRead.size(), "0");
  if (!kept.empty()) Replace(control, "@KEEP@", kept);
}

// The conifers of DynamicPhenology_2, the grassland of DynamicPhenology_4, both by the rule
// of DynamicPhenology_1 (which starts nothing) until their dormancy day 6, then by their own:
// the conifers start on day 7 (sigmoid forcing units of about 22 a day pass 40), the
// grassland on day 8 (degree days pass 60).
void DormancyOnDay6(const TempDir& dir, std::string& control, int minutes) {
  PhenologyOfBothClasses(
      dir, control, minutes,
      {"DynamicPhenology_2", "JulDays = 1 -1 10 366; F* = 40; DP1_t1_dorm = 300; DP1_T_Bf = -30; JDReset_TStart = 300; "
                             "maxStartJDforDP1 = 200;\n  DP2_t0_dorm = 6; DP2_t1_dorm = 1; DP2_T_Bc = 5; DP2_T_Bf = -30; "
                             "DP2_Par_a = 40; DP2_Par_b = 0; DP2_Offset_1 = -50; DP2_Offset_2 = 50;"},
      {"DynamicPhenology_4", Dp4Keys(6, 60, 300)}, 3, kDormancyGrids);
}

// The latest start of both classes on day 5, whose forcing passes no threshold in January:
// a run that starts the phenology after day 5 gives every cell the start that reaches fix
// point 3 on day 5 (day -5 for the conifers' 10 days, which cannot be, and day 2 for the
// grassland's 3); the unbroken run starts none.
void LatestStartOnDay5(const TempDir& dir, std::string& control, int minutes) {
  PhenologyOfBothClasses(dir, control, minutes, {"DynamicPhenology_1", Dp1Keys("1000", "1 -1 10 366", "5")},
                         {"DynamicPhenology_1", Dp1Keys("1000", "1 -1 3 366", "5")});
}

// Both classes in daily steps over the year's end (the example's January moved to 17
// December 1985 to 16 January 1986), reset on day 355 (21 December) and forcing from then
// on: the conifers start on about day 357, the grassland on about day 360, and the fix point
// 20 days after the start falls in January 1986. DynamicPhenology_1 keeps the fix days of
// its row; DynamicPhenology_4 keeps them in each cell's list, and moves the grassland's fix
// point 3 to its leaf fall five days after the start, in the next year.
void LateStart(const TempDir& dir, std::string& control, const std::string& method) {
  const std::string dp1 = "JulDays = 1 -1 20 366; DP1_t1_dorm = 355; DP1_T_Bf = -30; JDReset_TStart = 355; "
                          "maxStartJDforDP1 = 366;";
  auto dp4 = [&dp1](const char* threshold) {
    return dp1 + " F* = 40;\n  DP4_t0_dorm = 355; DP4_t1_dorm = 1; DP4_T0 = -50; DP4_T1 = -30; DP4_Par_a = " +
           threshold + "; DP4_Par_b = 0; DP4_T_xylstop = 5; DP4_t_xs1 = 1; DP4_SPSLF = 3;";
  };
  if (method == "DynamicPhenology_1")
    PhenologyOfBothClasses(dir, control, 1440, {method, dp1 + " F* = 40;"}, {method, dp1 + " F* = 90;"});
  else
    PhenologyOfBothClasses(dir, control, 1440, {method, dp4("40")}, {method, dp4("100")}, 3, kDormancyGrids);
  RestampStations(dir, [](int& year, int& month, int& day, int&) { OverTheYearsEnd(year, month, day); });
}

// A row of LateStart with `method`: daily steps over the year's end, broken after step
// start + half.
Row LateStartRow(const char* name, const char* method, int start, int half) {
  Row row{name, [method](const TempDir& d, std::string& c) { LateStart(d, c, method); }, "etr.stat", 4, start, half};
  row.minutes = 1440;
  row.overTheYearsEnd = true;
  return row;
}

// The radiation correction computed in every `steps`-th step.
void RadiationEvery(std::string& control, int steps) {
  Replace(control, "1       # compute in every step", std::to_string(steps) + "       # compute in every step");
}

// The dynamic phenology (see above) from 1 January, whose day is 0.0 °C in every cell and
// hour: the seven-day history holds that day, which no value of it tells from a day not yet
// run.
void DynamicPhenologyAfterAFrostDay(const TempDir& dir, std::string& control) {
  std::string text;
  for (const std::string& line : Lines(ReadTextFile(dir.file("temperature.dat")))) {
    const std::vector<std::string> t = Tokens(line);
    const bool firstDay = Dated(line) && t.size() > 4 && t[1] == "1" && t[2] == "1";
    if (!firstDay) {
      text += line + "\n";
      continue;
    }
    text += t[0] + " " + t[1] + " " + t[2] + " " + t[3];
    for (size_t i = 4; i < t.size(); ++i) text += " 0.0";
    text += "\n";
  }
  fs::remove(dir.file("temperature.dat"));
  WriteTextFile(dir.file("temperature.dat"), text);
  DynamicPhenology(dir, control, 60);
}

// The dynamic phenology (see above) on hourly records stamped at the full hour whose steps
// end at half past (min_to_int_end 30): no step ends at midnight, the step stamped 0 h
// passes it and ends the day before.
void DynamicPhenologyEndingAtHalfPast(const TempDir& dir, std::string& control) {
  DynamicPhenology(dir, control, 60);
  Replace(control, "60      # min_to_int_end", "30      # min_to_int_end");
}

// The dynamic phenology (see above) in steps of 90 minutes that end 45 minutes after their
// stamps (0:00, 1:30, ...): the step stamped 0 h passes midnight. Each record holds the
// example's temperature of its hour, and its precipitation for 90 minutes.
void DynamicPhenologyIn90MinuteSteps(const TempDir& dir, std::string& control) {
  DynamicPhenology(dir, control, 60);
  for (const char* name : {"temperature.dat", "precipitation.dat"}) {
    const double share = std::string(name) == "precipitation.dat" ? 1.5 : 1.0;
    std::string text;
    std::vector<std::string> hours;  // the rows of the example's hours of January, 0 h on 1 January first
    for (const std::string& line : Lines(ReadTextFile(dir.file(name)))) {
      if (Dated(line)) {
        hours.push_back(line);
        continue;
      }
      std::string head = line;
      if (head.find("HH") != std::string::npos) head.replace(head.find("HH"), 2, "HH mm");
      text += head + "\n";
    }
    for (size_t t = 0; t / 60 < hours.size() && t < 31 * 1440; t += 90) {
      const std::vector<std::string> v = Tokens(hours[t / 60]);
      text += FormatText("1985 1 %zu %zu %zu", 1 + t / 1440, t % 1440 / 60, t % 60);
      for (size_t k = 4; k < v.size(); ++k) text += " " + FormatText("%.10g", std::stod(v[k]) * share);
      text += "\n";
    }
    fs::remove(dir.file(name));
    WriteTextFile(dir.file(name), text);
  }
  KeyedSteps(control, 90, 45);
}

// The snow rule's list: the example's grid at `first`, then a record dated on no step of the
// run, then half of that grid at `last`.
void SnowListWithARecordOnNoStep(const TempDir& dir, const std::string& first, const std::string& onNoStep,
                                 const std::string& last) {
  AsciiGrid half = ReadAscii(dir.file("snow_swe.asc"));
  for (auto& row : half.values)
    for (double& v : row)
      if (v > 0.0) v *= 0.5;
  WriteAscii(dir.file("snow_half.asc"), half);
  fs::remove(dir.file("snow_assim.txt"));
  WriteTextFile(dir.file("snow_assim.txt"),
                "snow water equivalent for assimilation\nnumber of columns : 32\nnumber of rows : 25\n"
                "grid cell size : 1000\nunit of values : mm\n" +
                    first + " snow_swe.asc\n" + onNoStep + " snow_swe.asc\n" + last + " snow_half.asc\n");
}

// 3-hourly steps; the snow list holds a record at 13 h of 4 January, on no step: the break
// falls after it, and the record of 5 January applies in both halves.
void ThreeHourlySnowRecordOnNoStep(const TempDir& dir, std::string& control) {
  StepsOf(dir, control, 180);
  SnowListWithARecordOnNoStep(dir, "1985 1 4 12", "1985 1 4 13", "1985 1 5 9");
}

// Daily steps, a lake whose level and the snow cover are assimilated, each list holding a
// record at noon of 6 January (on no step): the break falls after it, and the records of 8
// January apply in both halves.
void DailyLevelAndSnowRecordsOnNoStep(const TempDir& dir, std::string& control) {
  StepsOf(dir, control, 1440);
  Lake(dir, control);
  SnowListWithARecordOnNoStep(dir, "1985 1 5 24", "1985 1 6 12", "1985 1 8 24");
  // The lake's cells lie on the lowest ground of sub-basin 5 (see Lake).
  const AsciiGrid dem = ReadAscii(dir.file("dem.asc")), zones = ReadAscii(dir.file("zones.asc"));
  double bottom = 1e9;
  for (size_t r = 0; r < zones.values.size(); ++r)
    for (size_t c = 0; c < zones.values[r].size(); ++c)
      if (zones.values[r][c] == 5) bottom = std::min(bottom, dem.values[r][c]);
  WriteTextFile(dir.file("lake_levels.txt"),
                FormatText("lake levels\nlake number is : 1\nnumber of records : 3\nlevel datum in : 0\n"
                           "unit of levels : m\n1985 1 5 24 %.3f\n1985 1 6 12 %.3f\n1985 1 8 24 %.3f\n",
                           bottom + 1.2, bottom + 0.2, bottom + 1.0));
  Replace(control, "number of data-assimilation rules 1", "number of data-assimilation rules 2");
  Replace(control, "\n\n[ExternalCoupling]",
          "\nreservoir {\n  lake-ID = 1;\n  AverageWaterTable = 0;\n  listfilename = lake_levels.txt;\n}\n\n"
          "[ExternalCoupling]");
}

// The state grids as netCDF files: the first half writes each with one record dated at the
// end of its last step, and the second half takes that record, the one of the step before
// its start. The interpolators' daily grids are not written: as netCDF they would be one
// series over the run, which the second half cannot hold whole.
void NetcdfState(const TempDir&, std::string& control) {
  Replace(control, "WriteDoubleGrids = 1", "WriteDoubleGrids = 1\nWriteNetcdfGrids = 1");
  for (const char* grid : {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "snowsolid", "snowliquid", "snowtotal",
                           "snowdays", "snowage", "interception_storage", "soil_storage", "fk"}) {
    const std::string name = std::string("\n") + grid + ".asc";
    const size_t at = control.find(name + " ");
    if (at == std::string::npos) {
      ADD_FAILURE() << "no grid " << grid;
      continue;
    }
    control.replace(at, name.size(), std::string("\n") + grid + ".nc");
  }
  for (const char* result : {"temperature.asc         # result grid", "precipitation.asc       # result grid"})
    SetWriteCode(control, result, "0");
}

TEST(WarmStart, EveryCombinationGoesOnAsTheUnbrokenRun) {
  const Row rows[] = {
      {"the example", [](const TempDir&, std::string&) {}, "snowstorage.stat", 4},
      {"evapotranspiration with capillary rise and infiltration", EvapotranspirationAndCapillaryRise, "evar.stat", 4},
      {"infiltration with saturated cells, broken in a downpour", Downpour, "infex.stat", 4, kStart, 18},
      {"Penman-Monteith, broken at noon under snow", PenmanMonteith, "snowevap.stat", 4},
      {"Penman-Monteith on a constant radiation corrected by the terrain, broken at noon", CorrectedConstantRadiation,
       "rgex.stat", 4},
      {"a lake", Lake, "reservoir_1.txt", 5},  // the level: 0 for a reservoir without cells
      {"dynamic glaciers with permafrost", GlaciersWithPermafrost, "thaw.stat", 4},
      {"dynamic glaciers on fractions just outside 0..1", GlacierFractionsJustOutsideTheRange, "qglac.stat", 4},
      {"permafrost with capillary rise and infiltration, broken in a downpour", PermafrostWithCapillaryRise,
       "infex.stat", 4, kStart, 18},
      {"permafrost with capillary rise and infiltration, broken at the day's end", PermafrostWithCapillaryRise,
       "infex.stat", 4, kStart, 24},
      {"interception with snow in the canopy", CanopySnow, "scn_load.stat", 4},
      {"reservoirs with abstractions, each inflow described after its abstraction",
       [](const TempDir& d, std::string& c) { ReservoirsAndAbstractions(d, c, false); }, "taken.txt", 4},
      {"reservoirs with abstractions, each inflow described before its abstraction",
       [](const TempDir& d, std::string& c) { ReservoirsAndAbstractions(d, c, true); }, "taken.txt", 4},
      // The grassland's roots grow through the winter, by a step that its altitude sets: the
      // root zone the next day rescales from and the usable field capacity come from the
      // storage file alone.
      {"the root zone rescaled daily, broken at noon of 2 January",
       [](const TempDir&, std::string& c) { Replace(c, "RootDepth = 0.2 0.4", "RootDepth = 0.4 0.4"); }, "SB.stat", 4, 0,
       36, false, "soil_types.intern.fk"},
      // The first half ends with the glaciers' update, which moves the canopy's stores.
      {"every module at once, broken at the glaciers' update", EveryModule, "snowtemp.stat", 4, kStart + 12},
      // The runs start at 6:30 on 4 January; column 6 is sub-basin 1 behind the minute.
      {"30-minute steps, broken at an assimilated snow grid", HalfHourStepsAssimilatingSnowAtTheBreak,
       "snowstorage.stat", 5, 2 * kStart + 12, 24, true, "", 30},
      {"state grids as netCDF files", NetcdfState, "snowstorage.stat", 4},
      // A record dated on no step is passed over: those after it apply in the unbroken run.
      // The runs start on 4 January at 3 h (3-hourly) and on 4 January (daily).
      {"3-hourly steps, broken after a snow record on no step", ThreeHourlySnowRecordOnNoStep, "snowstorage.stat", 4,
       24, 8, true, "", 180},
      {"daily steps, broken after a lake level and a snow record on no step", DailyLevelAndSnowRecordsOnNoStep,
       "reservoir_1.txt", 5, 3, 3, true, "", 1440},
      // The runs start at 1 h on 3 January and break at noon of 5 January.
      {"the dynamic phenology of both classes, broken between their start days",
       [](const TempDir& d, std::string& c) { DynamicPhenology(d, c, 60); }, "interception_storage.stat", 4, 48, 60},
      {"the dynamic phenology of both classes in steps of three hours, broken between their start days",
       [](const TempDir& d, std::string& c) { DynamicPhenology(d, c, 180); }, "interception_storage.stat", 4, 16, 20,
       true, "", 180},
      // The runs start at 1 h on 1 January, a day of 0.0 °C, and break at noon of day 2
      // (the history holds that day alone) and of day 4.
      {"the dynamic phenology after a day of 0.0 degrees, broken on day 2", DynamicPhenologyAfterAFrostDay,
       "temperature.stat", 4, 0, 36},
      {"the dynamic phenology after a day of 0.0 degrees, broken on day 4", DynamicPhenologyAfterAFrostDay,
       "interception_storage.stat", 4, 0, 84},
      // The seven-day history left behind: the record of the storage file lists it.
      {"the dynamic phenology with its seven-day history left out", DynamicPhenologyAfterAFrostDay,
       "interception_storage.stat", 4, 0, 36, true, "", 60, nullptr, "tmov.asc_End",
       "the state file tmov.asc_End that the record of soil_state.txt lists is not found: the dynamic "
       "phenology's seven-day mean temperature starts from the days of this run"},
      // Midnight written as 0 h of the next day ends the day before, as 24 h does: the runs
      // break at midnight, and the unbroken run equals one of the same records stamped 24 h.
      {"hourly records stamped at the ends of their hours, midnight as 0 h of the next day, broken at midnight",
       [](const TempDir& d, std::string& c) {
         EndStamped(d, c);
         MidnightAsZero(d);
       },
       "snowstorage.stat", 4, kStart, 24, true, "", 60, EndStamped},
      // Days 2 to 7: the break falls after 4 January, between the classes' start days.
      {"the dynamic phenology in daily steps, midnight as 0 h of the next day, broken between the start days",
       [](const TempDir& d, std::string& c) {
         DynamicPhenology(d, c, 1440);
         MidnightAsZero(d);
       },
       "etr.stat", 4, 1, 3, true, "", 1440, [](const TempDir& d, std::string& c) { DynamicPhenology(d, c, 1440); }},
      // Every store starts at 0 and the second half reads state grids of empty snow covers:
      // no 0 is taken for a cell outside the basin.
      {"the zone grid with the no-data value 0", ZoneGridWithNodataZero, "snowstorage.stat", 4, kStart, kHalf, true,
       "", 60, nullptr, "", "", [](const TempDir&, std::string&) {}},
      // The second half reads the double-precision state grids the first wrote: the model's
      // no-data value stays -9999, by which such files are known.
      {"the zone grid with the no-data value of float rasters",
       [](const TempDir& d, std::string&) { ZoneGridWithNodata(d, "-3.4028235e38"); }, "snowstorage.stat", 4, kStart,
       kHalf, true, "", 60, nullptr, "", "", [](const TempDir&, std::string&) {}},
      // Days that end between two steps. Hourly steps ending at half past from 1 h on 3
      // January: the break falls after the step stamped 23 h on 4 January, before the step
      // that passes the day's end and sets the values of 4 January.
      {"the dynamic phenology on hourly steps that end at half past, broken before the step that ends the day",
       DynamicPhenologyEndingAtHalfPast, "etr.stat", 4, 48, 47, true, "", 60, nullptr, "", "", nullptr, true,
       "temperature_19850105.0000"},
      // 90-minute steps ending 45 minutes after their stamps, from 12 h on 4 January: the
      // break falls after the step stamped 22:30 on 5 January, the grassland's start day.
      {"the dynamic phenology in 90-minute steps, broken before the step that ends the day",
       DynamicPhenologyIn90MinuteSteps, "etr.stat", 4, 55, 24, true, "", 90, nullptr, "", "", nullptr, false,
       "temperature_19850106.0000"},
      // The runs start on 1 January. The cells' lists carry the starts and leaf falls.
      {"DynamicPhenology_4, broken at noon of day 5, after the conifers' start and before their leaf fall",
       [](const TempDir& d, std::string& c) { LeafFall(d, c, 60); }, "interception_storage.stat", 4, 0, 108},
      {"DynamicPhenology_4, broken at noon of day 7, between the leaf falls of the classes",
       [](const TempDir& d, std::string& c) { LeafFall(d, c, 60); }, "interception_storage.stat", 4, 0, 156},
      {"DynamicPhenology_4 in steps of three hours, broken at 12 h of day 7, after the conifers' leaf fall",
       [](const TempDir& d, std::string& c) { LeafFall(d, c, 180); }, "interception_storage.stat", 4, 0, 52, true, "",
       180},
      {"DynamicPhenology_4 in daily steps, broken after day 3, before the leaf falls",
       [](const TempDir& d, std::string& c) { LeafFall(d, c, 1440); }, "etr.stat", 4, 0, 3, true, "", 1440},
      {"DynamicPhenology_4 in daily steps, broken after day 7, between the leaf falls",
       [](const TempDir& d, std::string& c) { LeafFall(d, c, 1440); }, "etr.stat", 4, 0, 7, true, "", 1440},
      // The rule of DynamicPhenology_1 until day 6: a chilling sum of 0 carried is no chilling
      // sum given.
      {"DynamicPhenology_2 and _4, broken at noon of day 4, before their dormancy day",
       [](const TempDir& d, std::string& c) { DormancyOnDay6(d, c, 60); }, "interception_storage.stat", 4, 0, 84},
      {"DynamicPhenology_2 and _4, broken at noon of day 7, after their dormancy day",
       [](const TempDir& d, std::string& c) { DormancyOnDay6(d, c, 60); }, "interception_storage.stat", 4, 0, 156},
      {"DynamicPhenology_2 and _4 in daily steps, broken after day 4, before their dormancy day",
       [](const TempDir& d, std::string& c) { DormancyOnDay6(d, c, 1440); }, "etr.stat", 4, 0, 4, true, "", 1440},
      {"DynamicPhenology_2 and _4 in daily steps, broken after day 6, on their dormancy day",
       [](const TempDir& d, std::string& c) { DormancyOnDay6(d, c, 1440); }, "etr.stat", 4, 0, 6, true, "", 1440},
      // The latest start is a rule of a run that starts the phenology, not of a warm start.
      {"the latest start on day 5, broken at noon of day 3",
       [](const TempDir& d, std::string& c) { LatestStartOnDay5(d, c, 60); }, "snowstorage.stat", 4, 0, 60},
      {"the latest start on day 5, broken at noon of day 7",
       [](const TempDir& d, std::string& c) { LatestStartOnDay5(d, c, 60); }, "interception_storage.stat", 4, 0, 156},
      {"the latest start on day 5 in daily steps, broken after day 6",
       [](const TempDir& d, std::string& c) { LatestStartOnDay5(d, c, 1440); }, "etr.stat", 4, 0, 6, true, "", 1440},
      // Computed in steps 1, 8, .., 36: broken before and after a computed step.
      {"the radiation correction computed every 7th step, broken after step 36 (computed)",
       [](const TempDir&, std::string& c) { RadiationEvery(c, 7); }, "snowstorage.stat", 4},
      {"the radiation correction computed every 7th step, broken after step 35",
       [](const TempDir&, std::string& c) { RadiationEvery(c, 7); }, "snowstorage.stat", 4, kStart, 35},
      // The state stacks left behind: the record of the storage file lists them.
      {"DynamicPhenology_4 with its cells' fix days left out", [](const TempDir& d, std::string& c) { LeafFall(d, c, 60); },
       "interception_storage.stat", 4, 0, 108, true, "", 60, nullptr, "phs.asc_End",
       "the state file phs.asc_End that the record of soil_state.txt lists is not found: the fix days of land-use "
       "layer 1 start from JulDays and the starts read"},
      // A part of the phenology's state the second half does not declare: the record lists
      // what the first wrote, and a WARNING names how to read it.
      LeafFallWithGridNotRead(
          "DynamicPhenology_4 with the start grid of its layer not read", "phs.asc Pheno_start1 0 -1\n3\n", 108,
          "the state file phs.asc_End that the record of soil_state.txt lists is not read by this run: land-use "
          "layer 1 keeps its phenology only in grids this run does not read"),
      LeafFallWithGridNotRead("DynamicPhenology_4 with its leaf fall not read", "lfs.asc StartDayOfLeaveFall 0 0\n3\n",
                              156,
                              "the state file lfs.asc that the record of soil_state.txt lists is not read by this run: "
                              "the grid StartDayOfLeaveFall"),
      // State the first half kept that the second does not read: one WARNING names it by module and flag.
      StateNotRead("every read flag 0", [](const TempDir&, std::string& c) { ReadOnly(c, ""); }, kStart, kHalf,
                   "sd.asc, sif.asc, ssp.asc, suz.asc (the soil model: the read flag 1 of [soil_model], \"read the "
                   "state grids and the storage file\"); snowage.asc, snowdays.asc, snowliquid.asc, snowsolid.asc, "
                   "snowtotal.asc (the snow model: readgrids 1 of [snow_model]); soil_storage.asc ([variable_grids]: "
                   "the read flag 1 of variable grid 4 (soil_storage)); the storage file itself"),
      StateNotRead("only the soil model's read flag 1",
                   [](const TempDir&, std::string& c) { ReadOnly(c, " # read the state grids"); }, kStart, kHalf,
                   "interception_storage.asc, interception_storage_Layer_1.asc (the interception model: readgrids 1 "
                   "of [interception_model]); snowage.asc, snowdays.asc, snowliquid.asc, snowsolid.asc, snowtotal.asc "
                   "(the snow model: readgrids 1 of [snow_model])"),
      StateNotRead("DynamicPhenology_1 with the start grid of its layer not read",
                   [](const TempDir& d, std::string& c) {
                     DynamicPhenology(d, c, 60);
                     Replace(c, "phs.asc Pheno_start1 0 -1\n3\n" + kRead, "phs.asc Pheno_start1 0 -1\n3\n0");
                   },
                   48, 60,
                   "the state file phs.asc that the record of soil_state.txt lists is not read by this run: land-use "
                   "layer 1 keeps its phenology only in grids this run does not read"),
      InStateFolder(LeafFallWithGridNotRead(
          "DynamicPhenology_4 with the start grid of its layer not read, the storage file in a folder of its own",
          "phs.asc Pheno_start1 0 -1\n3\n", 108,
          "the state file phs.asc_End that the record of state/soil_state.txt lists is not read by this run: land-use "
          "layer 1 keeps its phenology only in grids this run does not read")),
      StateNotRead("DynamicPhenology_4 without StartDayOfLeaveFall",
                   [](const TempDir& d, std::string& c) {
                     LeafFall(d, c, 60);
                     Replace(c, "lfs.asc StartDayOfLeaveFall 0 0\n3\n" + kRead + "\n", "");
                     AddToList(c, "# number of variable grids", -1, "");
                   },
                   0, 108,
                   "the state file phs.asc_End that the record of soil_state.txt lists holds state that this run does "
                   "not carry on: the run before kept the phenology of its cells, but this run's control file does "
                   "not declare the grid StartDayOfLeaveFall"),
      {"the radiation correction computed every 7th step, its rhythm left out",
       [](const TempDir&, std::string& c) { RadiationEvery(c, 7); }, "snowstorage.stat", 4, kStart, kHalf, true, "", 60,
       nullptr, "radiation_correction.asc_End",
       "the state file radiation_correction.asc_End that the record of soil_state.txt lists is not found: the "
       "radiation correction computes its factors at the first step and every 7th step after it"},
      // The storage file and the stack in a folder of their own: the stack is read where the
      // record puts it, beside the storage file.
      InStateFolder({"the radiation correction computed every 3rd step, its state in a folder of its own",
                     [](const TempDir&, std::string& c) { RadiationEvery(c, 3); }, "snowstorage.stat", 4, kStart, 35}),
      InStateFolder({"the radiation correction computed every 3rd step, its state in a folder of its own without "
                     "the rhythm",
                     [](const TempDir&, std::string& c) { RadiationEvery(c, 3); }, "snowstorage.stat", 4, kStart, 35,
                     true, "", 60, nullptr, "radiation_correction.asc_End",
                     "the state file state/radiation_correction.asc_End that the record of state/soil_state.txt "
                     "lists is not found: the radiation correction computes its factors at the first step and every "
                     "3rd step after it"}),
      // The prefix form: the first half writes output/run1_soil_state.txt and its stack beside
      // it, the second reads them as state/run1_...
      [] {
        Row row = InStateFolder({"the radiation correction computed every 3rd step, its state under a prefix",
                                 [](const TempDir&, std::string& c) { RadiationEvery(c, 3); }, "snowstorage.stat", 4,
                                 kStart, 35});
        row.statePrefix = "run1_";
        return row;
      }(),
      // From 19 December (the start day 353 of the run before the steps' days are moved):
      // broken after the reset on 21 December, before the starts; and from 23 December,
      // after the year's end, while the leaves grow towards the fix point after the start.
      LateStartRow("DynamicPhenology_1 started late in the year, broken before the starts", "DynamicPhenology_1", 2, 3),
      LateStartRow("DynamicPhenology_1 started late in the year, broken after the year's end", "DynamicPhenology_1", 6,
                   12),
      LateStartRow("DynamicPhenology_4 started late in the year, broken before the starts", "DynamicPhenology_4", 2, 3),
      LateStartRow("DynamicPhenology_4 started late in the year, broken after the year's end", "DynamicPhenology_4", 6,
                   12),
      // Its leaves fall on the start day and fall on into January: broken after 30 and after
      // 31 December.
      LateStartRow("DynamicPhenology_4 started late in the year, broken the day before the year's end",
                   "DynamicPhenology_4", 4, 10),
      LateStartRow("DynamicPhenology_4 started late in the year, broken at the year's end", "DynamicPhenology_4", 5,
                   10),
      {"the radiation correction computed every 2nd step in daily steps, broken after day 3",
       [](const TempDir& d, std::string& c) {
         StepsOf(d, c, 1440);
         RadiationEvery(c, 2);
       },
       "snowstorage.stat", 4, 3, 3, true, "", 1440},
  };
  for (const Row& row : rows) CheckWarmStart(row);
}

}  // namespace
