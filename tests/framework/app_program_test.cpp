// Whole runs of the program on the example basin.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "framework/app_test_support.h"

namespace {

// Every file under a folder with its contents, by path relative to the folder.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[std::filesystem::relative(entry.path(), folder).string()] = ReadTextFile(entry.path().string());
  return files;
}

}  // namespace

TEST(AppProgram, TheExampleRunsToExitCodeZeroAndTwoControlFilesShareOneBanner) {
  BasinCopy basin;
  const std::map<std::string, std::string> before = FilesUnder(basin.dir().path());
  const std::string command = "cd " + basin.dir().path() + " && " + ORVEL_BINARY +
                              " basin.ctl basin.ctl -diagfile:output/Orvel_Diag.xml";
  std::string out;
  EXPECT_EQ(RunCommand(command + " </dev/null", &out), 0) << out;
  EXPECT_EQ(Occurrences(out, "Orvel-KTA (OpenMP)"), 1);
  EXPECT_EQ(Occurrences(out, "end of simulation reached successfully!"), 2);
  EXPECT_EQ(Occurrences(out, "exitcode 0"), 1);
  EXPECT_NE(out.rfind("exitcode 0\no.k.\n\nthe end."), std::string::npos);
  // The system's German progress lines are followed by their English.
  EXPECT_EQ(Occurrences(out, " (6) Stationen (stations in temperature.dat)\n"), 2) << out;
  EXPECT_EQ(Occurrences(out, "initialisieren infiltration_model (initialising infiltration_model)\n"), 2) << out;
  EXPECT_TRUE(std::filesystem::exists(basin.dir().file("basin.ctl.intern")));
  int derivedGrids = 0;  // cell sizes, coordinates, slope, aspect, region weights
  for (const auto& entry : std::filesystem::directory_iterator(basin.dir().file("output")))
    if (entry.path().filename().string().find(".intern.") != std::string::npos) ++derivedGrids;
  EXPECT_GE(derivedGrids, 5);
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(basin.dir().file("output/Orvel_Diag.xml"), &why)) << why;
  EXPECT_EQ(ReadTextFile(basin.dir().file("output/Orvel_Diag.xml")).find("level=\"0\""), std::string::npos);

  // Every input is left as it was; the run writes into its output folder, and beside the
  // control file only its preprocessed copy and the module log (the working folder's).
  const std::map<std::string, std::string> after = FilesUnder(basin.dir().path());
  for (const auto& [name, contents] : before) {
    ASSERT_TRUE(after.count(name)) << name;
    EXPECT_TRUE(after.at(name) == contents) << name << " was changed";
  }
  for (const auto& [name, contents] : after) {
    if (before.count(name)) continue;
    EXPECT_TRUE(name.rfind("output/", 0) == 0 || name == "basin.ctl.intern" || name == "modell_0.log") << name;
  }
}

// The example starts from the state its spin-up left (state grids and storage file beside
// its control file, in the layout the program writes) and writes nothing over it; so its
// outlet starts where its forcing keeps it, not with a recession from initial storages. Its
// routing descriptions give the areas of its zone grid.
TEST(AppProgram, TheExampleStartsFromItsSpinUpStateAndLeavesItAsItWas) {
  TempDir dir;
  CopyExampleInputs(std::string(ORVEL_SOURCE_DIR) + "/examples/basin/", dir.path());
  std::filesystem::create_directories(dir.file("output"));
  const std::map<std::string, std::string> before = FilesUnder(dir.path());
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl </dev/null", &out), 0) << out;
  for (const char* words : {"reading snowsolid.asc for snow_model", "read flag 1: routing starts from the state in",
                            "state files read agree with its record"})
    EXPECT_NE(out.find(words), std::string::npos) << words;
  for (const char* words : {"older layout", "area in contr.file"}) EXPECT_EQ(out.find(words), std::string::npos) << words;
  for (const auto& [name, contents] : before) EXPECT_TRUE(FilesUnder(dir.path()).at(name) == contents) << name;
  // The outlet of sub-basin 4 (the column before the last, above the reservoir that smooths
  // the last) over the month: its first hour is no peak above the rest.
  std::istringstream rows(ReadTextFile(dir.file("output/discharge.stat")));
  std::string line;
  std::vector<double> outlet;
  while (std::getline(rows, line))
    if (line.rfind("1985", 0) == 0) {
      line.erase(line.rfind('\t'));
      outlet.push_back(std::stod(line.substr(line.rfind('\t') + 1)));
    }
  ASSERT_EQ(outlet.size(), 31u * 24u);
  EXPECT_LT(outlet.front(), 0.5 * *std::max_element(outlet.begin() + 72, outlet.end()));
}

TEST(AppProgram, AFailingFirstControlFileEndsTheProcessWithItsCode) {
  BasinCopy basin;
  basin.Edit("[routing_model]", "[routing]");
  const std::string command =
      "cd " + basin.dir().path() + " && " + ORVEL_BINARY + " basin.ctl basin.ctl -diagfile:d.xml </dev/null";
  std::string out;
  EXPECT_EQ(RunCommand(command, &out), 17);
  EXPECT_EQ(Occurrences(out, "file modappli"), 1);  // the second control file never starts
  EXPECT_NE(out.find("Execption 17 caught at top level!"), std::string::npos);
}

// A grid whose folder does not exist would fail at its first write, after the first day:
// the start-up ends with its code before a step is computed, naming the grid, the folder and
// how its name was joined to the output folder; nothing of the run is written.
TEST(AppProgram, AGridThatCannotBeWrittenEndsTheStartUpWithItsCode) {
  BasinCopy basin;
  basin.Edit("temperature.asc         # result grid", "no_such_folder/temperature.asc  # result grid");
  const std::string command =
      "cd " + basin.dir().path() + " && " + ORVEL_BINARY + " basin.ctl -diagfile:d.xml </dev/null";
  std::string out;
  EXPECT_EQ(RunCommand(command, &out), 26) << out;
  EXPECT_NE(out.find("would be written to output/no_such_folder/temperature.asc, but the folder "
                     "output/no_such_folder/ does not exist: DefaultOutputDirectory = output/ of [output_interval] "
                     "stands in front of every name"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(basin.dir().file("output/precipitation_19850101.2300")));
}
