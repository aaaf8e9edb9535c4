// How whole runs of the example basin end when their input runs out or turns bad.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "framework/app_test_support.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::istringstream in(ReadTextFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Keeps the station file's first `keep` lines (5 header lines, then one line per hour).
void KeepLines(const std::string& path, size_t keep) {
  std::vector<std::string> lines = Lines(path);
  std::ofstream out(path, std::ios::trunc);
  for (size_t i = 0; i < keep && i < lines.size(); ++i) out << lines[i] << "\n";
}

int RunBasin(const TempDir& dir, std::string* out) {
  return RunCommand("cd " + dir.path() + " && " + ORVEL_BINARY + " basin.ctl -diagfile:output/d.xml </dev/null", out);
}

int RunBasin(const BasinCopy& basin, std::string* out) { return RunBasin(basin.dir(), out); }

// The example basin with every module it has, the soil model's storage file among its
// outputs.
struct WholeExample {
  WholeExample() {
    CopyExampleInputs(std::string(ORVEL_SOURCE_DIR) + "/examples/basin", dir_.path());
    std::filesystem::create_directories(dir_.file("output"));
  }
  const TempDir& dir() const { return dir_; }
  TempDir dir_;
};

}  // namespace

TEST(RunEnding, InputEndingEarlyIsAnErrorThatNamesFileAndDates) {
  BasinCopy basin;
  // 20 days of hourly records starting at 1 January 0 h.
  KeepLines(basin.dir().file("temperature.dat"), 5 + 20 * 24);
  KeepLines(basin.dir().file("precipitation.dat"), 5 + 20 * 24);
  std::string out;
  EXPECT_EQ(RunBasin(basin, &out), 0) << out;
  EXPECT_NE(out.find("the input file temperature.dat of temperature ends before the planned end of the "
                     "simulation: the run ends with the step of 20.01.1985 23:00 instead of 31.01.1985 24:00"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("end of simulation reached early, at 20.01.1985 23:00 (planned end 31.01.1985 24:00)!"),
            std::string::npos);
  EXPECT_EQ(out.find("end of simulation reached successfully!"), std::string::npos);
  const std::string diag = ReadTextFile(basin.dir().file("output/d.xml"));
  EXPECT_NE(diag.find("level=\"1\" description= \"the input file temperature.dat"), std::string::npos) << diag;
  // The rows of every step run are there: 3 header lines and one per hour.
  EXPECT_EQ(Lines(basin.dir().file("output/temperature.stat")).size(), 3u + 20 * 24 - 1);
}

// One input running out before the others ends the run as all running out together does:
// with the last step every input holds, an ERROR naming the file that ran out (and no
// other), every output of the steps run and the end state dated at that step. The clock's
// file or another one alike.
TEST(RunEnding, OneInputEndingBeforeTheOthersEndsTheRunWithItsLastStep) {
  for (const char* shortFile : {"temperature.dat", "precipitation.dat"}) {
    SCOPED_TRACE(shortFile);
    WholeExample basin;
    KeepLines(basin.dir().file(shortFile), 5 + 20 * 24);
    std::string out;
    EXPECT_EQ(RunBasin(basin.dir(), &out), 0) << out;
    const std::string name = std::string(shortFile) == "temperature.dat" ? "temperature" : "precipitation";
    const std::string other = name == "temperature" ? "precipitation" : "temperature";
    EXPECT_NE(out.find("the input file " + std::string(shortFile) + " of " + name +
                       " ends before the planned end of the simulation: the run ends with the step of 20.01.1985 "
                       "23:00 instead of 31.01.1985 24:00"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("the input file " + other + ".dat"), std::string::npos) << out;
    EXPECT_NE(out.find("end of simulation reached early, at 20.01.1985 23:00 (planned end 31.01.1985 24:00)!"),
              std::string::npos);
    EXPECT_EQ(out.find("end of simulation reached successfully!"), std::string::npos);
    for (const char* stat : {"output/temperature.stat", "output/precipitation.stat"})
      EXPECT_EQ(Lines(basin.dir().file(stat)).size(), 3u + 20 * 24 - 1) << stat;
    // The end state is written whole, the state grids with the storage file, and dated at
    // the step the run ended with: that step was run as the last one.
    const std::string storage = ReadTextFile(basin.dir().file("output/soil_state.txt"));
    const size_t record = storage.find("[end_state]\n1985 1 20 23 0 (date of the state");
    EXPECT_NE(record, std::string::npos) << storage.substr(storage.find("[end_state]"));
    EXPECT_NE(storage.find(" snowtotal.asc", record), std::string::npos) << storage.substr(storage.find("[end_state]"));
    EXPECT_EQ(ReadTextFile(basin.dir().file("output/snowtotal.asc")).rfind("ncols", 0), 0u);
  }
}

TEST(RunEnding, ACompleteRunHasNoEarlyEndError) {
  BasinCopy basin;
  std::string out;
  EXPECT_EQ(RunBasin(basin, &out), 0) << out;
  EXPECT_EQ(out.find("ends before the planned end"), std::string::npos);
  EXPECT_NE(out.find("end of simulation reached successfully!"), std::string::npos);
}

// A failure inside the time loop still writes the statistics and point rows of the steps
// done before it, in every buffered file.
TEST(RunEnding, AFailureInTheTimeLoopKeepsTheRowsOfTheStepsDone) {
  BasinCopy basin;
  const std::string file = basin.dir().file("temperature.dat");
  std::vector<std::string> lines = Lines(file);
  ASSERT_GT(lines.size(), 5u + 10 * 24);
  lines.erase(lines.begin() + 5 + 10 * 24);  // 11 January, 0 h is missing
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  WriteTextFile(file, text);
  std::string out;
  EXPECT_EQ(RunBasin(basin, &out), 73) << out;
  EXPECT_NE(out.find("station file temperature.dat of interpolator temperature, line 246: the date 11.1.1985 1:0 "
                     "follows the date 10.1.1985 23:0 of line 245 by 120 minutes"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("buffered statistics and point rows of the steps done so far are written"), std::string::npos);
  // 3 header lines and the 239 hours from 1 January 1 h to 10 January 23 h.
  for (const char* name : {"output/precipitation.stat", "output/points.txt", "output/temperature.stat"}) {
    const std::vector<std::string> rows = Lines(basin.dir().file(name));
    ASSERT_GE(rows.size(), 3u + 239) << name;
    EXPECT_NE(rows[3u + 238].find("10\t23\t"), std::string::npos) << name << ": " << rows[3u + 238];
  }
  EXPECT_EQ(Lines(basin.dir().file("output/precipitation.stat")).size(), 3u + 239);
}
