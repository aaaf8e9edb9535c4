// The key tables of docs/*.md against the section readers: the start-up of the example and
// of variants of it that switch other methods on is recorded (every section sought and every
// labelled value read from it), and each reading of a section must find its labels, in their
// order, in the "in messages" column of that section's table; every label a table lists
// must be read by one of the start-ups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/logstream.h"
#include "framework/modappli.h"
#include "support/test_support.h"

namespace {

const std::string kSource = ORVEL_SOURCE_DIR;

// One reading of a section: the section sought and the labels read from it, in order.
struct Reading {
  std::string section;
  std::vector<std::string> labels;
};
std::vector<Reading> gReadings;

void Record(const std::string& section, const std::string* label) {
  if (!label || gReadings.empty()) {
    gReadings.push_back(Reading{section, {}});
    if (!label) return;
  }
  gReadings.back().labels.push_back(*label);
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::string Collapsed(const std::string& s) { return Trim(std::regex_replace(s, std::regex("[ \t]+"), " ")); }

// The section as its table is headed: the example's meteorological variables stand for all.
std::string TableSection(const std::string& section) {
  return section == "[temperature]" || section == "[precipitation]" ? "[<variable>]" : section;
}

// A label as its table lists it: blanks collapsed, the section's own name (which some
// readers append) and a running number replaced.
std::string TableLabel(const std::string& section, const std::string& label) {
  std::string s = Collapsed(label);
  const std::string bare = section.size() > 2 ? section.substr(1, section.size() - 2) : section;
  if (s.size() > bare.size() && s.compare(s.size() - bare.size(), bare.size(), bare) == 0 &&
      s[s.size() - bare.size() - 1] == ' ')
    s = Trim(s.substr(0, s.size() - bare.size()));
  return std::regex_replace(s, std::regex(" [0-9]+$"), " <n>");
}

// The labels each section's table lists in its "in messages" column, one set of
// alternatives per row (labels of one row in backticks, separated by "<br>"; a name in
// quotes is one a reader of its own gives, which the positional reader does not see).
using Tables = std::map<std::string, std::vector<std::set<std::string>>>;

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  for (size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '|' && row[i - 1] != '\\') {
      cells.push_back(Trim(cell));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return cells;
}

Tables ReadTables(std::vector<std::string>& problems) {
  Tables tables;
  std::set<std::string> keyTables;  // sections with a table of the column (others may follow)
  const std::regex heading("^### `(\\[[^`]+\\])`");
  for (const auto& entry : std::filesystem::directory_iterator(kSource + "/docs")) {
    if (entry.path().extension() != ".md") continue;
    std::istringstream in(ReadTextFile(entry.path().string()));
    std::string line, section;
    int column = -1;
    bool inTable = false;
    while (std::getline(in, line)) {
      std::smatch m;
      if (std::regex_search(line, m, heading)) {
        section = m[1];
        if (tables.count(section)) problems.push_back("two tables of " + section);
        tables[section];
        inTable = false;
        continue;
      }
      if (line.rfind("|", 0) != 0) {
        if (line.rfind("#", 0) == 0) section.clear();  // a heading of something else
        inTable = false;
        continue;
      }
      if (section.empty()) continue;
      const std::vector<std::string> cells = Cells(line);
      if (!inTable) {  // a table's header row; a section may have several tables
        inTable = true;
        column = -1;
        for (size_t c = 0; c < cells.size(); ++c)
          if (cells[c] == "in messages") column = static_cast<int>(c);
        if (column >= 0) keyTables.insert(section);
        continue;
      }
      if (column < 0 || static_cast<size_t>(column) >= cells.size() || cells[column].rfind("---", 0) == 0) continue;
      std::set<std::string> alternatives;
      std::string cell = cells[column] + "<br>";
      for (size_t p; (p = cell.find("<br>")) != std::string::npos; cell.erase(0, p + 4)) {
        const std::string label = Trim(cell.substr(0, p));
        if (label.size() > 2 && label.front() == '`' && label.back() == '`')
          alternatives.insert(Collapsed(label.substr(1, label.size() - 2)));
      }
      if (!alternatives.empty()) tables[section].push_back(alternatives);
    }
  }
  for (const auto& entry : tables)
    if (!keyTables.count(entry.first)) problems.push_back(entry.first + ": no table with a column \"in messages\"");
  return tables;
}

// The labels of one reading in table form, a group of lines read again (one per grid,
// rule or month) counted once.
std::vector<std::string> TableLabels(const Reading& r) {
  std::vector<std::string> labels;
  for (const std::string& raw : r.labels) {
    const std::string label = TableLabel(r.section, raw);
    if (label.empty()) continue;
    labels.push_back(label);
    for (size_t k = 1; 2 * k <= labels.size() && k <= 8; ++k)
      if (std::equal(labels.end() - k, labels.end(), labels.end() - 2 * k)) {
        labels.resize(labels.size() - k);
        break;
      }
  }
  return labels;
}

// The start of the n-th value line (neither blank nor a "#" comment) after a section's
// header in the control text, or npos.
size_t ValueLine(const std::string& control, const std::string& section, int n) {
  size_t p = control.find(section + "\n");
  if (p == std::string::npos) return p;
  p += section.size() + 1;
  for (int k = 0; p < control.size(); p = control.find('\n', p) + 1) {
    const size_t first = control.find_first_not_of(" \t", p);
    if (first == std::string::npos) break;
    if (control[first] != '\n' && control[first] != '#' && ++k == n) return p;
    if (control.find('\n', p) == std::string::npos) break;
  }
  return std::string::npos;
}

// Replaces the n-th value line of a section by text (lines), or inserts text after it.
void SetValue(std::string& control, const std::string& section, int n, const std::string& text, bool after = false) {
  const size_t p = ValueLine(control, section, n);
  ASSERT_NE(p, std::string::npos) << section << " has no value line " << n;
  const size_t end = control.find('\n', p);
  if (after)
    control.insert(end + 1, text + "\n");
  else
    control.replace(p, end - p, text);
}

// Adds grid lines to [standard_grids] or [variable_grids], counting them.
void AddGrids(std::string& control, const std::string& section, int count, const std::string& lines) {
  const size_t p = ValueLine(control, section, 1);
  ASSERT_NE(p, std::string::npos) << "no " << section;
  const int old = std::stoi(control.substr(p));
  SetValue(control, section, 1, std::to_string(old + count));
  SetValue(control, section, 1, lines, true);
}

// Builds the example with its control file edited in a fresh folder and records its
// start-up (routing alone when asked).
void RecordStartUp(const std::function<void(std::string&)>& edit, bool routingAlone) {
  TempDir dir;
  CopyExampleInputs(kSource + "/examples/basin/", dir.path());
  std::filesystem::create_directories(dir.file("output"));
  std::string control = ReadTextFile(dir.file("basin.ctl"));
  if (edit) edit(control);
  WriteTextFile(dir.file("basin.ctl"), control);
  WorkingDirectory here(dir.path());
  std::ostringstream text;
  LogStream log(text, dir.file("diagnostics.xml"), 0);
  modelobject::ControlReadHook() = Record;
  try {
    std::string program = "orvelvco64", file = "basin.ctl", mode = "-mode:routing";
    char* argv[] = {program.data(), file.data(), mode.data(), nullptr};
    ModellApplication app(&log, routingAlone ? 3 : 2, argv, 1);
    app.ClearMemory();
  } catch (int) {
    // A variant may stop after the sections it is made for.
  }
  modelobject::ControlReadHook() = nullptr;
}

// Snow by the energy balance (its second block), static glaciers, permafrost and lakes.
void EnergyBalanceGlaciersLakes(std::string& c) {
  SetValue(c, "[snow_model]", 3, "5");
  SetValue(c, "[snow_model]", 43,
           "0\nsnowtemp.asc\n0\nsnowtemp.stat 0\nsurftemp.asc\n0\nsurftemp.stat 0\ninmass.asc\n0\ninmass.stat 0\n"
           "mobmass.asc\n0\nmobmass.stat 0\ndepo.asc\n0\ndepo.stat 0\n45\n2\n30\n0.5\n1\n1\n1");
  AddGrids(c, "[standard_grids]", 2,
           "ice.asc ice_firn readcode = 0 defaultValue = 1 fillcode = 0\n"
           "lake.asc lake_codes readcode = 0 defaultValue = -9999 fillcode = 0");
  AddGrids(c, "[variable_grids]", 6,
           "cloud.asc cloudiness 0 0.5\n0\n0\nthaw.asc ThawCoeffPermaFrost 0 0.01\n0\n0\n"
           "thawd.asc PermafrostThawDepth 0 0.5\n0\n0\npond.asc ponding_storage 0 0\n0\n0\n"
           "pondtop.asc ponding_storage_top 0 0\n0\n0\nmaxpond.asc max_ponding_storage 0 0\n0\n0");
  c += "\n[ice_firn]\n1\n7\n5\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n20\n50\n10\n0\n0\n0\nfirn.asc\n0\nqfirn.stat 0\n"
       "ice.asc\n0\nqice.stat 0\nqglac.stat 0\n\n[permafrost]\n1\n5\n10\nthaw.stat 0\n1e-7\n\n"
       "[lake_model]\n1\n1\n0.08\n0.001\n0\n";
}

// Dynamic glaciers.
void DynamicGlaciers(std::string& c) {
  AddGrids(c, "[standard_grids]", 2,
           "gl.asc GlacierizedCells readcode = 0 defaultValue = 0.5 fillcode = 0\n"
           "glc.asc GlacierCodes readcode = 0 defaultValue = 1 fillcode = 0");
  c += "\n[ice_firn]\n11\n7\n5\n2.4\n1.2\n0.01\n0.03\n0.005\n0.015\n20\n50\n10\n0\n0\n0\nfirn.asc\n0\nqfirn.stat 0\n"
       "ice.asc\n0\nqice.stat 0\nqglac.stat 0\nqsg.stat 0\n0\n5 3000 100\n30 9\n0.03 1.36 10 0\nfirnstack.asc\n0\n"
       "firn.stat 0\nmb.asc\n0\nmbold.asc\n0\nmb1.stat 0\nmb2.stat 0\n1\nsog.stat 0\nsgs.asc\n0\nsgl.asc\n0\n"
       "sgt.asc\n0\nsgm.asc\n0\nsgst.asc\n0\nsgtt.asc\n0\nsge.asc\n0\n1000 0.25\n";
}

// Interception with snow held in the canopy and its energy balance.
void CanopyEnergyBalance(std::string& c) {
  SetValue(c, "[interception_model]", 3, "31");
  std::string lines;
  for (const char* g : {"ta", "rh", "rad", "wind", "load", "age", "alb", "subl", "solid", "liquid"})
    lines += std::string(g) + ".asc\n0\n" + g + ".stat 0\n";
  lines += "0.5\n0.01\n1.0";
  for (const char* g : {"ceb", "cebt", "cebto", "cebd"}) lines += std::string("\n") + g + ".asc\n0\n" + g + ".stat 0";
  SetValue(c, "[interception_model]", 14, lines, true);
}

// The example as it is, and variants whose other methods read other keys.
const struct {
  void (*edit)(std::string&);
  bool routingAlone;
} kVariants[] = {
    {nullptr, false},
    {[](std::string& c) { SetValue(c, "[temperature]", 18, "1\n1\n0"); }, false},
    {EnergyBalanceGlaciersLakes, false},
    {DynamicGlaciers, false},
    {CanopyEnergyBalance, false},
    {nullptr, true},
};

TEST(ControlKeysDocs, TablesListEveryLabelledKeyInReadingOrder) {
  std::vector<std::string> problems;
  const Tables tables = ReadTables(problems);
  gReadings.clear();
  for (const auto& v : kVariants) RecordStartUp(v.edit, v.routingAlone);

  std::set<std::pair<std::string, std::string>> seen;
  for (const Reading& r : gReadings) {
    const std::string section = TableSection(r.section);
    const std::vector<std::string> labels = TableLabels(r);
    if (labels.empty()) continue;
    for (const std::string& l : labels) seen.insert({section, l});
    std::string read;
    for (const std::string& l : labels) read += "\n  " + l;
    const auto t = tables.find(section);
    if (t == tables.end()) {
      problems.push_back(section + " is read, but no table lists its keys; it reads:" + read);
      continue;
    }
    size_t row = 0;
    for (const std::string& l : labels) {
      while (row < t->second.size() && !t->second[row].count(l)) ++row;
      if (row == t->second.size()) {
        problems.push_back(section + ": \"" + l + "\" is not in its table after the labels before it; it reads:" +
                           read);
        break;
      }
      ++row;
    }
  }
  // Sections no start-up reads (irrigation in mode 2 only) are left out of this check.
  std::set<std::string> readSections;
  for (const auto& entry : seen) readSections.insert(entry.first);
  for (const auto& [section, rows] : tables)
    if (readSections.count(section))
      for (const auto& alternatives : rows)
        for (const std::string& l : alternatives)
          if (!seen.count({section, l}))
            problems.push_back(section + ": its table lists \"" + l + "\", which no start-up reads");
  std::set<std::string> reported;
  for (const std::string& p : problems)
    if (reported.insert(p).second) ADD_FAILURE() << p;
}

// The pages say what the program does and why, in its own words: they never point at a
// reading of the rules that a reader cannot see, nor at a numbered section of a text the
// reader does not have ("Section 14.270"), and every module page has its section of what is
// worth knowing.
TEST(DocsPages, SpeakInTheProgramsOwnWords) {
  std::vector<std::string> pages = {kSource + "/README.md"};
  for (const auto& entry : std::filesystem::directory_iterator(kSource + "/docs"))
    if (entry.path().extension() == ".md") pages.push_back(entry.path().string());
  ASSERT_GE(pages.size(), 10u);
  const std::regex pointers("(obvious|plain|literal) reading|\\b[A-Z][a-z]+ [0-9]+\\.[0-9]{3}\\b");
  for (const std::string& page : pages) {
    std::istringstream in(ReadTextFile(page));
    std::string line;
    bool worthKnowing = false;
    for (int n = 1; std::getline(in, line); ++n) {
      EXPECT_FALSE(std::regex_search(line, pointers)) << page << ":" << n << ": " << line;
      worthKnowing = worthKnowing || line == "## Worth knowing";
    }
    const std::string name = std::filesystem::path(page).filename().string();
    if (name != "README.md" && name != "outputs.md" && name != "setup.md") {
      EXPECT_TRUE(worthKnowing) << page << " has no section \"## Worth knowing\"";
    }
  }
}

// The example run in a fresh folder, its control file's first `from` replaced by `to`.
void RunEditedExample(const TempDir& dir, const std::string& from, const std::string& to) {
  CopyExampleInputs(kSource + "/examples/basin/", dir.path());
  std::filesystem::create_directories(dir.file("output"));
  std::string control = ReadTextFile(dir.file("basin.ctl"));
  const size_t at = control.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  control.replace(at, from.size(), to);
  WriteTextFile(dir.file("basin.ctl"), control);
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml", &out), 0)
      << out;
}

// A binary double grid as the grids page lays it out: the six values of the ASCII header,
// six statistics of the cells with a value, then the rows from north to south.
TEST(DocsPages, BinaryGridsAreLaidOutAsTheGridsPageSays) {
  TempDir binary, ascii;
  RunEditedExample(binary, "WriteAsciiGrids = 1", "WriteAsciiGrids = 0\nWriteDoubleGrids = 1");
  RunEditedExample(ascii, "WriteAsciiGrids = 1", "WriteAsciiGrids = 1");
  const std::string bytes = ReadTextFile(binary.file("output/sd.asc"));
  const size_t cells = 32 * 25;
  ASSERT_EQ(bytes.size(), (12 + cells) * sizeof(double));
  std::vector<double> v(12 + cells);
  std::memcpy(v.data(), bytes.data(), bytes.size());
  const double header[6] = {32, 25, 454800, 4158000, 1000, -9999};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v[static_cast<size_t>(i)], header[i]) << i;

  double n = 0, sum = 0, sumSq = 0, low = 1e300, high = -1e300;
  for (size_t k = 12; k < v.size(); ++k)
    if (v[k] > -9999 + 1) {
      n += 1;
      sum += v[k];
      sumSq += v[k] * v[k];
      low = std::min(low, v[k]);
      high = std::max(high, v[k]);
    }
  const double stats[6] = {n, low, high, sum, sum / n, std::sqrt((sumSq - sum * sum / n) / (n - 1))};
  EXPECT_EQ(n, 370);
  for (int i = 0; i < 6; ++i)
    EXPECT_NEAR(v[static_cast<size_t>(6 + i)], stats[i], 1e-9 * std::fabs(stats[i])) << "statistic " << i;

  // The body holds the cells in the order of the ASCII file's rows, north first.
  std::istringstream text(ReadTextFile(ascii.file("output/sd.asc")));
  std::string word;
  for (int k = 0; k < 12; ++k) text >> word;
  for (size_t k = 12; k < v.size(); ++k) {
    double a = 0;
    ASSERT_TRUE(text >> a) << k;
    EXPECT_NEAR(v[k], a, 1e-5 * std::fabs(a)) << "cell " << k - 12;
  }
}

// The example's README says its scripts cannot run without the source data, which this
// folder does not hold: they refuse, and the example's own grids stay as they are (the
// grids' script, asked to read the folder it writes into, would aggregate them again).
TEST(DocsPages, TheExamplesScriptsRefuseToRunWithoutTheirSourceData) {
  ORVEL_NEEDS_TOOLS("python3");
  TempDir dir;
  std::filesystem::copy(kSource + "/examples/basin", dir.path(), std::filesystem::copy_options::recursive);
  const std::string dem = ReadTextFile(dir.file("dem.asc")), zones = ReadTextFile(dir.file("zones.asc"));
  for (const char* command : {"make_grids.py", "make_grids.py .", "make_grids.py \"$PWD\"", "make_station_files.py",
                              "make_station_files.py ."}) {
    std::string out;
    EXPECT_NE(RunCommand("cd '" + dir.path() + "' && python3 " + command, &out), 0) << command << "\n" << out;
    EXPECT_EQ(ReadTextFile(dir.file("dem.asc")), dem) << command;
    EXPECT_EQ(ReadTextFile(dir.file("zones.asc")), zones) << command;
  }
}

// The quoted grid names of each item of a table cell (items separated by ";").
std::vector<std::vector<std::string>> QuotedNamesPerItem(const std::string& cell) {
  std::vector<std::vector<std::string>> items;
  std::istringstream in(cell);
  for (std::string item; std::getline(in, item, ';');) {
    std::vector<std::string> names;
    for (size_t a = item.find('"'); a != std::string::npos; a = item.find('"', item.find('"', a + 1) + 1)) {
      const size_t b = item.find('"', a + 1);
      if (b == std::string::npos) break;
      names.push_back(item.substr(a + 1, b - a - 1));
    }
    if (!names.empty()) items.push_back(names);
  }
  return items;
}

// The evapotranspiration page's table of the grids each method needs, run: a method given
// the grids of its row (as variable grids of one value) starts and runs, every grid it needs
// left out ends the start-up with code 33 naming it, every group left out with code 46, and
// every grid of a group serves alone.
TEST(DocsPages, EachEvapotranspirationMethodRunsWithTheGridsItsRowNames) {
  const std::map<std::string, std::string> values = {
      {"global_radiation", "100"},  {"net_radiation", "50"},     {"sunshine_duration", "0.3"},
      {"air_humidity", "0.6"},      {"vapor_pressure", "4"},     {"wind_speed", "2"},
      {"temperature_14", "-3"},     {"air_humidity_14", "0.6"},  {"vapor_pressure_14", "4"}};
  const std::set<std::string> inExample = {"corr_temperature", "temperature", "albedo"};
  std::istringstream page(ReadTextFile(kSource + "/docs/evapotranspiration.md"));
  int rows = 0;
  bool inTable = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind("| method | needs | and one of each group |", 0) == 0) inTable = true;
    if (!inTable || line.rfind("| ", 0) != 0 || line.find("---") != std::string::npos) continue;
    const std::vector<std::string> cells = Cells(line);
    if (cells.size() < 3 || !std::isdigit(static_cast<unsigned char>(cells[0][0]))) {
      if (cells.size() >= 1 && cells[0] != "method") inTable = false;
      continue;
    }
    ++rows;
    const std::string method = cells[0].substr(0, cells[0].find(' '));
    SCOPED_TRACE("method " + cells[0]);
    const auto needs = QuotedNamesPerItem(cells[1]), groups = QuotedNamesPerItem(cells[2]);
    std::vector<std::string> given;  // one grid per item that the example does not have
    for (const auto& item : needs)
      if (!inExample.count(item[0])) given.push_back(item[0]);
    for (const auto& group : groups) given.push_back(group[0]);
    // Runs the example with the method and the grids given; returns the exit status.
    auto run = [&](const std::vector<std::string>& grids, std::string* out) {
      TempDir dir;
      CopyExampleInputs(kSource + "/examples/basin/", dir.path());
      std::filesystem::create_directories(dir.file("output"));
      std::string control = ReadTextFile(dir.file("basin.ctl"));
      const std::string methodLine = "2       # method: 1 Penman", countLine = "10      # number of variable grids";
      EXPECT_NE(control.find(methodLine), std::string::npos);
      EXPECT_NE(control.find(countLine), std::string::npos);
      control.replace(control.find(methodLine), 1, method);
      std::string lines = std::to_string(10 + grids.size()) + "\n";
      for (const std::string& g : grids) {
        EXPECT_TRUE(values.count(g)) << "no value for " << g;
        lines += "x_" + g + ".asc " + g + " 0 " + (values.count(g) ? values.at(g) : "0") + "\n0\n0\n";
      }
      control.replace(control.find(countLine), 2, lines);
      WriteTextFile(dir.file("basin.ctl"), control);
      return RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml", out);
    };
    std::string out;
    EXPECT_EQ(run(given, &out), 0) << out;
    for (const std::string& left : given) {
      std::vector<std::string> rest;
      for (const std::string& g : given)
        if (g != left) rest.push_back(g);
      const bool grouped = std::any_of(groups.begin(), groups.end(), [&](const auto& g) { return g[0] == left; });
      EXPECT_EQ(run(rest, &out), grouped ? 46 : 33) << left << " left out\n" << out;
      EXPECT_NE(out.find(grouped ? "requires at least one of the following entities" : left + " not found in memory"),
                std::string::npos)
          << left << " left out\n" << out;
    }
    for (const auto& group : groups)
      for (size_t k = 1; k < group.size(); ++k) {
        std::vector<std::string> other = given;
        std::replace(other.begin(), other.end(), group[0], group[k]);
        EXPECT_EQ(run(other, &out), 0) << group[k] << " in place of " << group[0] << "\n" << out;
      }
  }
  EXPECT_EQ(rows, 4);
}

}  // namespace
