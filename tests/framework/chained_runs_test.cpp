// Runs chained through their state in place: the example basin run as two halves, the
// second starting from the state grids and the storage file that the first wrote at its end
// under the very names it reads them by, gives the outputs of the whole run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "framework/app_test_support.h"
#include "routing/example_basin_months.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The start of the line that begins with `word` (npos when there is none).
size_t LineStartingWith(const std::string& text, const std::string& word) {
  for (size_t p = 0; p < text.size(); p = text.find('\n', p) + 1) {
    if (text.compare(p, word.size(), word) == 0 &&
        (p + word.size() == text.size() || std::isspace(static_cast<unsigned char>(text[p + word.size()]))))
      return p;
    if (text.find('\n', p) == std::string::npos) break;
  }
  return std::string::npos;
}

// Replaces the first word of the line at p and returns the start of the next line.
size_t SetFirstWord(std::string& text, size_t p, const std::string& word) {
  const size_t end = text.find_first_of(" \t\n", p);
  text.replace(p, end - p, word);
  return text.find('\n', p) + 1;
}

// The example's control file for a run from start day to end day of January whose state
// lives in stateDir: every state grid of the snow, interception and soil models and the
// variable grids they change are written there at the end of the run (write code 3) and,
// with readState, read from there at its start, as is the storage file from the output folder.
// With radiationEvery above 1 the radiation correction computes in every so many steps and
// keeps its rhythm there too.
std::string ChainedControl(std::string control, const std::string& stateDir, int startDay, int endDay,
                           bool readState, const std::string& initialStateDir = "output/", int radiationEvery = 1) {
  auto replace = [&](const std::string& from, const std::string& to) {
    const size_t p = control.find(from);
    if (p == std::string::npos) {
      ADD_FAILURE() << "not in the example's control file: " << from;
      return;
    }
    control.replace(p, from.size(), to);
  };
  // Grids as doubles, so that a state read back is the state written.
  replace("WriteAsciiGrids = 1", "WriteAsciiGrids = 0\nWriteDoubleGrids = 1" +
                                     (initialStateDir.empty() ? std::string()
                                                              : "\nInitialStateDirectory = " + initialStateDir));
  replace("1       # start day", std::to_string(startDay) + "       # start day");
  replace("31      # end day", std::to_string(endDay) + "      # end day");
  const std::string flag = readState ? "1" : "0";
  // Module grids: the name, then its write code on the next line.
  for (const char* name : {"snowdays.asc", "snowage.asc", "snowsolid.asc", "snowliquid.asc", "snowtotal.asc",
                           "interception_storage.asc", "sd.asc", "suz.asc", "sif.asc", "sbia.asc", "nfkia.asc",
                           "ssp.asc"}) {
    const size_t p = LineStartingWith(control, name);
    if (p == std::string::npos) {
      ADD_FAILURE() << name;
      continue;
    }
    SetFirstWord(control, SetFirstWord(control, p, stateDir + name), "3");
  }
  if (radiationEvery > 1) {
    replace("1       # compute in every step", std::to_string(radiationEvery) + "       # compute in every step");
    SetFirstWord(control, LineStartingWith(control, "radiation_correction.asc"), stateDir + "radiation_correction.asc");
  }
  // Variable grids: the names, then the write code and the read flag on the next lines.
  for (const char* name : {"soil_storage.asc", "albedo.asc"}) {
    const size_t p = LineStartingWith(control, name);
    if (p == std::string::npos) {
      ADD_FAILURE() << name;
      continue;
    }
    SetFirstWord(control, SetFirstWord(control, SetFirstWord(control, p, stateDir + name), "3"), flag);
  }
  for (const char* marker : {"# readgrids: 0 starts without snow", "# readgrids: 0 starts with empty storages",
                             "# read the state grids and the storage file"}) {
    const size_t at = control.find(marker);
    if (at == std::string::npos) {
      ADD_FAILURE() << marker;
      continue;
    }
    SetFirstWord(control, control.rfind('\n', at) + 1, flag);
  }
  return control;
}

int RunIn(const TempDir& dir, const std::string& control, std::string* out) {
  WriteTextFile(dir.file("basin.ctl"), control);
  return RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml </dev/null", out);
}

// The dated rows of a table file (statistics, points, reservoir balance) by their date.
std::map<std::string, std::string> DatedRows(const std::string& path) {
  std::map<std::string, std::string> rows;
  std::istringstream in(ReadTextFile(path));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("1985", 0) == 0 || line.rfind(" 1985", 0) == 0) {
      std::istringstream fields(line);
      std::string y, m, d, h;
      fields >> y >> m >> d >> h;
      rows[y + "-" + m + "-" + (d.size() < 2 ? "0" : "") + d + " " + (h.size() < 2 ? "0" : "") + h] = line;
    }
  return rows;
}

// Every table of the second half in chain's output folder holds the whole run's rows of
// its dates.
void ExpectTheWholeRunsRows(const TempDir& whole, const TempDir& chain) {
  int tables = 0;
  for (const auto& e : fs::directory_iterator(chain.file("output"))) {
    const std::string name = e.path().filename().string();
    const std::map<std::string, std::string> second = DatedRows(e.path().string());
    if (second.empty()) continue;
    ++tables;
    const std::map<std::string, std::string> all = DatedRows(whole.file("output/" + name));
    size_t differing = 0;
    std::string first;
    for (const auto& [date, row] : second) {
      const auto it = all.find(date);
      if (it != all.end() && it->second == row) continue;
      if (differing++ == 0) first = date + "\n  whole: " + (it == all.end() ? "-" : it->second) + "\n  halves: " + row;
    }
    EXPECT_EQ(differing, 0u) << name << ": " << differing << " of " << second.size() << " rows differ, first "
                             << first;
  }
  EXPECT_GE(tables, 25);
}

// Bit for bit: the state grids are doubles, the tables are compared as text, and the state
// grids and the storage file that the two runs leave are the whole run's, byte for byte. The
// radiation correction computes in every 7th step: the break after 360 steps falls inside its
// rhythm, which it keeps beside its grid's name.
TEST(ChainedRuns, TwoHalvesThroughTheirStateInPlaceGiveTheWholeRun) {
  TempDir whole, chain;
  const std::string control = CopyExampleBasin(whole, 1);
  CopyExampleBasin(chain, 1);
  for (const TempDir* d : {&whole, &chain}) {
    fs::create_directories(d->file("output"));
    fs::create_directories(d->file("state"));
  }
  std::string out;
  ASSERT_EQ(RunIn(whole, ChainedControl(control, whole.file("state/"), 1, 31, false, "output/", 7), &out), 0) << out;
  ASSERT_EQ(RunIn(chain, ChainedControl(control, chain.file("state/"), 1, 15, false, "output/", 7), &out), 0) << out;
  const std::string firstStorageFile = ReadTextFile(chain.file("output/soil_state.txt"));
  ASSERT_EQ(RunIn(chain, ChainedControl(control, chain.file("state/"), 16, 31, true, "output/", 7), &out), 0) << out;
  EXPECT_NE(out.find("reading " + chain.file("state/snowsolid.asc")), std::string::npos) << out;
  // Every state grid read is the one the storage file was written with.
  EXPECT_NE(out.find("warm start from the state at the end of the step of 16.01.1985 00:00 in "
                     "output/soil_state.txt: its 16 state files read agree with its record"),
            std::string::npos)
      << out;

  ExpectTheWholeRunsRows(whole, chain);
  // The state at the end and the storage file are the whole run's, byte for byte.
  for (const auto& e : fs::directory_iterator(whole.file("state")))
    EXPECT_TRUE(ReadTextFile(e.path().string()) == ReadTextFile(chain.file("state/" + e.path().filename().string())))
        << e.path().filename() << " differs";
  EXPECT_TRUE(ReadTextFile(whole.file("output/soil_state.txt")) == ReadTextFile(chain.file("output/soil_state.txt")))
      << "the storage file differs";

  // The grids of 31 January put by hand beside the storage file of 15 January, as a copy taken
  // while a run moves its state into place looks: the warm start reads them as they are,
  // names every one that differs from the state the storage file was written with, and warns
  // that the state may be mixed from two runs (not "edited after the run").
  WriteTextFile(chain.file("output/soil_state.txt"), firstStorageFile);
  ASSERT_EQ(RunIn(chain, ChainedControl(control, chain.file("state/"), 16, 31, true, "output/", 7), &out), 0) << out;
  EXPECT_NE(out.find("\nthe state grid " + chain.file("state/snowsolid.asc") +
                     " differs from the state the run wrote (it holds "),
            std::string::npos)
      << out;
  EXPECT_GE(Occurrences(out, "differs from the state the run wrote (it holds"), 10);
  EXPECT_EQ(out.find("edited after the run"), std::string::npos) << out;
  EXPECT_NE(out.find(" of its 16 state files read differ from its record, as in a copy of a state taken while a run "
                     "moved it into place (some files of that run, the others of the run before): the state read may "
                     "be mixed from two runs"),
            std::string::npos)
      << out;
}

// The example's recipe of a chain: the state the first half leaves in output/ (the storage
// file and the state grids it records, under the names the run reads them by) copied beside
// the control file starts the second half where the first ended. Reading only the storage
// file from output/ with InitialStateDirectory, the grids beside the control file being
// another state's, is the state of two runs: one WARNING names the folder of the recorded
// grids and the files read in their place.
TEST(ChainedRuns, TheStateCopiedBesideTheControlFileContinuesTheRun) {
  TempDir whole, chain;
  const std::string control = CopyExampleBasin(whole, 1);
  CopyExampleBasin(chain, 1);
  for (const TempDir* d : {&whole, &chain}) fs::create_directories(d->file("output"));
  std::string out;
  ASSERT_EQ(RunIn(whole, ChainedControl(control, "", 1, 31, false, ""), &out), 0) << out;
  ASSERT_EQ(RunIn(chain, ChainedControl(control, "", 1, 15, false, ""), &out), 0) << out;

  // Only the storage file from output/: the grids beside basin.ctl are the spin-up's.
  ASSERT_EQ(RunIn(chain, ChainedControl(control, "", 16, 31, true, "output/"), &out), 0) << out;
  EXPECT_EQ(Occurrences(out, "none of the state files it records is read (it records 16 files in " +
                                 fs::canonical(chain.file("output")).string() +
                                 "/); in their place the run reads "),
            1)
      << out;
  EXPECT_NE(out.find("sd.asc"), std::string::npos) << out;
  EXPECT_NE(out.find("the state of another run or date; copy the storage file and the files it records beside the "
                     "control file, or name the state grids in the control file by their absolute paths in "),
            std::string::npos)
      << out;

  // The recipe: every file the storage file records, and the storage file, copied beside it.
  ASSERT_EQ(RunIn(chain, ChainedControl(control, "", 1, 15, false, ""), &out), 0) << out;
  const std::string storage = ReadTextFile(chain.file("output/soil_state.txt"));
  std::istringstream record(storage.substr(storage.find("[end_state]")));
  std::string line;
  std::getline(record, line);
  std::getline(record, line);
  int count = 0;
  record >> count;
  std::getline(record, line);
  ASSERT_EQ(count, 16);
  for (int k = 0; k < count; ++k) {
    std::string bytes, checksum, name;
    record >> bytes >> checksum >> name;
    fs::copy_file(chain.file("output/" + name), chain.file(name), fs::copy_options::overwrite_existing);
  }
  fs::copy_file(chain.file("output/soil_state.txt"), chain.file("soil_state.txt"),
                fs::copy_options::overwrite_existing);
  // The storage file read from output/ again, the grids beside the control file now copies of
  // the recorded ones, byte for byte: the state recorded, read whole.
  ASSERT_EQ(RunIn(chain, ChainedControl(control, "", 16, 31, true, "output/"), &out), 0) << out;
  EXPECT_NE(out.find("in output/soil_state.txt: its 15 state files read agree with its record"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("WARNING: warm start"), std::string::npos) << out;
  ASSERT_EQ(RunIn(chain, ChainedControl(control, "", 16, 31, true, ""), &out), 0) << out;
  EXPECT_NE(out.find("warm start from the state at the end of the step of 16.01.1985 00:00 in soil_state.txt: its "
                     "15 state files read agree with its record"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("WARNING: warm start"), std::string::npos) << out;
  ExpectTheWholeRunsRows(whole, chain);
}

// The docs' recipe for a state kept in a folder of its own: the storage file and the state
// grids named state/..., the radiation correction computed every 3rd step (its grid beside
// the control file), and between the runs the storage file and every file its record lists
// copied into state/. Three runs give the whole run's rows, and the third reads the state
// the record lists, every file of it, without a WARNING.
TEST(ChainedRuns, ThreeRunsThroughTheStateFolderOfTheRecipeGiveTheWholeRun) {
  TempDir whole, chain;
  const std::string control = CopyExampleBasin(whole, 1);
  CopyExampleBasin(chain, 1);
  for (const TempDir* d : {&whole, &chain}) {
    fs::create_directories(d->file("output/state"));
    fs::create_directories(d->file("state"));
  }
  const auto piece = [&control](int from, int to, bool warm) {
    std::string c = ChainedControl(control, "state/", from, to, warm, "");
    for (const auto& [a, b] : {std::pair<std::string, std::string>{"1       # compute in every step",
                                                                     "3       # compute in every step"},
                               {"\nsoil_state.txt ", "\nstate/soil_state.txt "}})
      c.replace(c.find(a), a.size(), b);
    return c;
  };
  const auto recipe = [&chain] {
    const std::string storage = ReadTextFile(chain.file("output/state/soil_state.txt"));
    std::istringstream record(storage.substr(storage.find("[end_state]")));
    std::string line, bytes, checksum, name;
    for (int k = 0; k < 3; ++k) std::getline(record, line);
    while (record >> bytes >> checksum >> name)
      fs::copy_file(chain.file("output/state/" + name), chain.file("state/" + name), fs::copy_options::overwrite_existing);
    fs::copy_file(chain.file("output/state/soil_state.txt"), chain.file("state/soil_state.txt"),
                  fs::copy_options::overwrite_existing);
    return storage.find("../radiation_correction.asc_End") == std::string::npos;
  };
  std::string out;
  ASSERT_EQ(RunIn(whole, piece(1, 31, false), &out), 0) << out;
  ASSERT_EQ(RunIn(chain, piece(1, 10, false), &out), 0) << out;
  EXPECT_TRUE(recipe()) << "the stack does not lie beside the storage file";
  ASSERT_EQ(RunIn(chain, piece(11, 20, true), &out), 0) << out;
  EXPECT_TRUE(recipe());
  ASSERT_EQ(RunIn(chain, piece(21, 31, true), &out), 0) << out;
  EXPECT_NE(out.find("reading state/radiation_correction.asc_End"), std::string::npos) << out;
  EXPECT_NE(out.find("in state/soil_state.txt: its 16 state files read agree with its record"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  ExpectTheWholeRunsRows(whole, chain);
}

}  // namespace

namespace {

// The lines of the first shell block after the heading in a page of the docs.
std::string ShellBlockAfter(const std::string& page, const std::string& heading) {
  const std::string text = ReadTextFile(page);
  const size_t at = text.find(heading);
  if (at == std::string::npos) return std::string();
  const size_t open = text.find("```sh\n", at);
  const size_t close = open == std::string::npos ? open : text.find("```\n", open + 6);
  return close == std::string::npos ? std::string() : text.substr(open + 6, close - open - 6);
}

}  // namespace

// The chain of the example's README, run as written in a fresh copy of the example (the
// program where the README has it, ../../build): both runs succeed and the second goes on
// from the first one's end state, every state file it reads as the record says.
TEST(ChainedRuns, TheExamplesChainRunsAsWritten) {
  std::string recipe = ShellBlockAfter(std::string(ORVEL_SOURCE_DIR) + "/examples/basin/README.md", "## A chain of runs");
  ASSERT_NE(recipe.find("../../build/orvelvco64 basin.ctl"), std::string::npos) << recipe;
  TempDir top;
  const std::string basin = top.file("examples/basin");
  fs::create_directories(basin);
  fs::create_directories(top.file("build"));
  fs::create_symlink(ORVEL_BINARY, top.file("build/orvelvco64"));
  CopyExampleInputs(std::string(ORVEL_SOURCE_DIR) + "/examples/basin", basin);
  WriteTextFile(basin + "/recipe.sh", recipe);
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + basin + "' && sh -e recipe.sh </dev/null", &out), 0) << recipe << "\n" << out;
  EXPECT_EQ(Occurrences(out, "end of simulation reached successfully!"), 2) << out;
  EXPECT_NE(out.find("warm start from the state at the end of the step of 16.01.1985 00:00 in soil_state.txt: its 15 "
                     "state files read agree with its record"),
            std::string::npos)
      << out;
}
