#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/entry.h"
#include "support/test_support.h"

namespace {

struct ProgramRun {
  int status;
  std::string output;
  std::string diag;
};

// Runs the program in a fresh folder with the given arguments.
ProgramRun RunProgram(const TempDir& dir, const std::string& args, const std::string& diagName = "Orvel_Diag.xml") {
  ProgramRun r;
  r.status = RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' " + args, &r.output);
  r.diag = ReadTextFile(dir.file(diagName));
  return r;
}

}  // namespace

TEST(Entry, NoArgumentsShowsUsageAndFailsWithCode2) {
  TempDir dir;
  ProgramRun r = RunProgram(dir, "");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("Orvel-KTA (OpenMP) "), std::string::npos);
  EXPECT_NE(r.output.find("Version: Vevurada 11.00.10d, last change: December, 11, 2025 12:00 compiled at "),
            std::string::npos);
  EXPECT_NE(r.output.find("usage: orvelvc[o]<32|64> <1st cntrl-file>"), std::string::npos);
  EXPECT_NE(r.output.find("Execption 2 caught at top level!\nProgram aborted with exit code 2\n"),
            std::string::npos);
  EXPECT_NE(r.diag.find("<line level=\"0\" description= \"Execption 2 caught at top level!\"/>"), std::string::npos);
  EXPECT_TRUE(IsWellFormedXml(dir.file("Orvel_Diag.xml")));
}

TEST(Entry, OptionsWithoutControlFileShowUsageAndFailWithCode2) {
  TempDir dir;
  ProgramRun r = RunProgram(dir, "-diaglevel:warning -diagfile:d.xml", "d.xml");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("usage: orvelvc[o]<32|64> <1st cntrl-file>"), std::string::npos);
  EXPECT_EQ(r.output.find("exitcode 0"), std::string::npos);
  // WARNING keeps the banner (level 4) out of the file but not off the console.
  EXPECT_NE(r.output.find("64-bit Version on Linux"), std::string::npos);
  EXPECT_EQ(r.diag.find("64-bit Version"), std::string::npos);
  EXPECT_NE(r.diag.find("Execption 2 caught at top level!"), std::string::npos);
  EXPECT_TRUE(IsWellFormedXml(dir.file("d.xml")));
}

// An option written with "=" or a blank for its ":", or given twice with two values, is
// named with the form meant before any control file runs (the control file before it is
// missing: it would end with 28). The same option given twice alike has one meaning.
TEST(Entry, OptionsWrittenOtherwiseEndTheProgramBeforeAnyRun) {
  TempDir dir;
  for (const auto& [args, fix] : std::vector<std::pair<std::string, std::string>>{
           {"none.ctl -diaglevel=INFO", "write -diaglevel:INFO"},
           {"none.ctl -mode routing", "write -mode:routing"},
           {"none.ctl -diagfile", "write -diagfile:<value>"},
           {"none.ctl -x", "-mode:routing); no control file is run"},
           {"-diagfile:a.xml none.ctl -diagfile:b.xml",
            "-diagfile: is given twice on the command line, as -diagfile:a.xml and as -diagfile:b.xml: give it once"},
           {"-diaglevel:INFO none.ctl -diaglevel:ERROR",
            "-diaglevel: is given twice on the command line, as -diaglevel:INFO and as -diaglevel:ERROR"}}) {
    ProgramRun r = RunProgram(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.output.find(fix), std::string::npos) << args << "\n" << r.output;
    EXPECT_EQ(r.output.find("error opening none.ctl"), std::string::npos) << args;
  }
  ProgramRun alike = RunProgram(
      dir, "-diagfile:d.xml -mode:routing -diaglevel:INFO none.ctl -diagfile:d.xml -mode:routing -diaglevel:info",
      "d.xml");
  EXPECT_NE(alike.output.find("error opening none.ctl"), std::string::npos) << alike.output;
}

TEST(Entry, DiagFileInSubfolderAndEmptyNameFallsBackToDefault) {
  TempDir dir;
  RunCommand("mkdir -p '" + dir.file("out") + "'");
  ProgramRun r = RunProgram(dir, "-diagfile:out/x.xml", "out/x.xml");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.diag.find("Program aborted with exit code 2"), std::string::npos);
  ProgramRun d = RunProgram(dir, "-diagfile:");
  EXPECT_EQ(d.status, 2);
  EXPECT_NE(d.diag.find("Program aborted with exit code 2"), std::string::npos);
}

TEST(Entry, UnopenableDiagnosticsFileEndsWith320OnStderr) {
  TempDir dir;
  // A folder in the place of the fall-back file makes the fall-back fail too.
  RunCommand("mkdir -p '" + dir.file("Orvel_Diag.xml") + "'");
  ProgramRun r = RunProgram(dir, "-diagfile:/nonexistent/d.xml");
  EXPECT_EQ(r.status, 320 & 0xFF);
  EXPECT_NE(r.output.find("error opening diagnostics output file /nonexistent/d.xml"), std::string::npos);
  EXPECT_NE(r.output.find("Error opening diagnostics output file Orvel_Diag.xml"), std::string::npos);
  EXPECT_NE(r.output.find("FATAL: Program aborted with exit code 320"), std::string::npos);
}

TEST(Entry, CommandLineOptions) {
  EXPECT_EQ(DiagLevelFromName("FATAL"), 0);
  EXPECT_EQ(DiagLevelFromName("error"), 1);
  EXPECT_EQ(DiagLevelFromName("Warning"), 2);
  EXPECT_EQ(DiagLevelFromName("info"), 3);
  EXPECT_EQ(DiagLevelFromName("DEBUG"), 4);
  EXPECT_EQ(DiagLevelFromName(""), 4);
  EXPECT_EQ(DiagLevelFromName("verbose"), 4);

  const char* argv[] = {"orvelvco64", "-diaglevel:info", "a.ctl", "-diagfile:x.xml", "-diaglevel:error",
                        "-diaglevel",  "-diagfile"};
  CommandLine cl = ParseCommandLine(7, const_cast<char**>(argv));
  EXPECT_EQ(cl.diagLevel, 1);
  EXPECT_EQ(cl.levelOptionPosition, 4);
  EXPECT_EQ(cl.fileOptionPosition, 3);
  EXPECT_EQ(cl.diagFile, "x.xml");
  EXPECT_TRUE(cl.IsOption(1));  // given again later: no control file
  EXPECT_EQ(ControlFileCount(7, cl), 3);
  EXPECT_EQ(cl.twiceFirst, 1);
  EXPECT_EQ(cl.twiceLater, 4);
}

TEST(Entry, VersionTextHasNoDollarAndExitStatusKeepsFailuresVisible) {
  EXPECT_EQ(VersionText().find('$'), std::string::npos);
  // Codes that survive 8 bits as themselves, or as a low byte below 126, keep it.
  for (int code : {0, 1, 2, 98, 99, 125}) EXPECT_EQ(ExitStatus(code), code);
  EXPECT_EQ(ExitStatus(1100), 1100 & 0xFF);
  // A status that would read as success (low byte 0), as "cannot run" or as a signal
  // (1161 -> 137 a SIGKILL, 404 -> 148, 1213 -> 189) is replaced by one fixed status.
  for (int code : {126, 137, 143, 255, 256, 512, 1161, 404, 1213, -1})
    EXPECT_EQ(ExitStatus(code), kReplacedExitStatus) << code;
  EXPECT_LT(kReplacedExitStatus, 126);
}

TEST(Entry, TheRoutingModeIsAnOptionNotAControlFileAndTheUsageNamesIt) {
  TempDir dir;
  ProgramRun r = RunProgram(dir, "-mode:routing");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("[-mode:routing]"), std::string::npos);
  char program[] = "orvel", mode[] = "-mode:routing", file[] = "basin.ctl";
  char* argv[] = {program, file, mode};
  const CommandLine cl = ParseCommandLine(3, argv);
  EXPECT_TRUE(cl.routingOnly);
  EXPECT_TRUE(cl.IsOption(2));
  EXPECT_FALSE(cl.IsOption(1));
}
