#include <gtest/gtest.h>

#include "framework/logstream.h"
#include "support/test_support.h"

namespace {

// The line elements of a diagnostics file, without the start and finish lines.
std::vector<std::string> Elements(const std::string& diag) {
  std::vector<std::string> out;
  std::istringstream in(diag);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("\t<line", 0) != 0) continue;
    if (line.find("Orvel start at") != std::string::npos || line.find("Orvel finished at") != std::string::npos)
      continue;
    out.push_back(line);
  }
  return out;
}

}  // namespace

TEST(LogStream, FileHasFewsHeaderStartAndFinishLinesAndIsWellFormed) {
  CapturedLog cap(0);
  cap.log() << "INFO: hidden at level 0" << "[end-entry]";
  std::string path = cap.diagPath();
  std::string diag = cap.CloseAndReadDiag();
  EXPECT_EQ(diag.rfind("<?xml version='1.0' encoding='UTF-8'?>\n<Diag version=\"1.2\" "
                       "xmlns=\"http://www.wldelft.nl/fews/PI\" \n",
                       0),
            0u);
  EXPECT_NE(diag.find("xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""), std::string::npos);
  EXPECT_NE(diag.find("/schemas/version1.0/pi-schemas/pi_diag.xsd\">\n"), std::string::npos);
  EXPECT_NE(diag.find("\t<line level=\"3\" description= \"Orvel start at "), std::string::npos);
  EXPECT_NE(diag.find("\t<line level=\"3\" description= \"Orvel finished at "), std::string::npos);
  EXPECT_EQ(diag.substr(diag.size() - 8), "</Diag>\n");
  EXPECT_TRUE(Elements(diag).empty());
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(path, &why)) << why;
}

TEST(LogStream, LevelsPrefixesAndFiltering) {
  CapturedLog cap(2);
  cap.log() << "FATAL: f" << "[end-entry]";
  cap.log() << "ERROR: e" << "[end-entry]";
  cap.log() << "WARNING: w " << 42 << "[end-entry]";
  cap.log() << "INFO: i" << "[end-entry]";
  cap.log() << "DEBUG: d" << "[end-entry]";
  cap.log() << "unprefixed" << "[end-entry]";
  cap.log() << 7 << " number first" << "[end-entry]";
  cap.log() << "SKIP: menu" << "[end-entry]";
  std::string console = cap.console();
  std::string path = cap.diagPath();
  auto el = Elements(cap.CloseAndReadDiag());
  ASSERT_EQ(el.size(), 3u);
  EXPECT_EQ(el[0], "\t<line level=\"0\" description= \"f\"/>");
  EXPECT_EQ(el[1], "\t<line level=\"1\" description= \"e\"/>");
  EXPECT_EQ(el[2], "\t<line level=\"2\" description= \"w 42\"/>");
  // The console shows everything, without prefixes or terminators.
  EXPECT_EQ(console, "f\ne\nw 42\ni\nd\nunprefixed\n7 number first\nmenu\n");
  EXPECT_TRUE(IsWellFormedXml(path));
}

TEST(LogStream, EscapesXmlCharactersLineBreaksAndDashRuns) {
  CapturedLog cap(4);
  cap.log() << "WARNING: a<b & c>d 'x' \"y\"\nnext ---- -- -----" << "[end-entry]";
  std::string console = cap.console();
  std::string path = cap.diagPath();
  auto el = Elements(cap.CloseAndReadDiag());
  ASSERT_EQ(el.size(), 1u);
  EXPECT_EQ(el[0],
            "\t<line level=\"2\" description= \"a&lt;b &amp; c&gt;d &apos;x&apos; &quot;y&quot;;next -- -- --\"/>");
  EXPECT_EQ(console, "a<b & c>d 'x' \"y\"\nnext ---- -- -----\n");
  EXPECT_TRUE(IsWellFormedXml(path));
}

TEST(LogStream, SingleCharactersControlCharactersAndBadUtf8StayWellFormed) {
  CapturedLog cap(4);
  cap.log() << "ERROR: " << '<' << '&' << "bell\x07 and \xff\xfe bytes, ok \xc3\xa4" << "[end-entry]";
  std::string path = cap.diagPath();
  auto el = Elements(cap.CloseAndReadDiag());
  ASSERT_EQ(el.size(), 1u);
  EXPECT_EQ(el[0], "\t<line level=\"1\" description= \"&lt;&amp;bell  and ?? bytes, ok \xc3\xa4\"/>");
  std::string why;
  EXPECT_TRUE(IsWellFormedXml(path, &why)) << why;
}

TEST(LogStream, UnterminatedMessagesAreClosedByTheNextPrefixOrAtClose) {
  CapturedLog cap(4);
  cap.log() << "WARNING: first";
  cap.log() << "ERROR: second" << "[end-entry]";
  cap.log() << "INFO: never terminated";
  std::string path = cap.diagPath();
  auto el = Elements(cap.CloseAndReadDiag());
  ASSERT_EQ(el.size(), 3u);
  EXPECT_EQ(el[0], "\t<line level=\"2\" description= \"first\"/>");
  EXPECT_EQ(el[1], "\t<line level=\"1\" description= \"second\"/>");
  EXPECT_EQ(el[2], "\t<line level=\"3\" description= \"never terminated\"/>");
  EXPECT_TRUE(IsWellFormedXml(path));
}

TEST(LogStream, WholeMessageInOnePiece) {
  CapturedLog cap(4);
  cap.log() << "WARNING: program manually killed by pressing Ctrl-C and selecting 2![end-entry]";
  cap.log() << "[end-entry]";
  std::string console = cap.console();
  auto el = Elements(cap.CloseAndReadDiag());
  ASSERT_EQ(el.size(), 2u);
  EXPECT_EQ(el[0], "\t<line level=\"2\" description= \"program manually killed by pressing Ctrl-C and selecting 2!\"/>");
  EXPECT_EQ(el[1], "\t<line level=\"4\" description= \"\"/>");
  EXPECT_EQ(console, "program manually killed by pressing Ctrl-C and selecting 2!\n\n");
}

TEST(LogStream, UnwritablePathFallsBackToDefaultNameInWorkingDirectory) {
  TempDir dir;
  std::ostringstream console;
  {
    WorkingDirectory here(dir.path());
    LogStream log(console, "/nonexistent-dir/x/diag.xml", 4);
    EXPECT_EQ(log.FileName(), "Orvel_Diag.xml");
  }
  EXPECT_NE(console.str().find("error opening diagnostics output file /nonexistent-dir/x/diag.xml"),
            std::string::npos);
  EXPECT_TRUE(IsWellFormedXml(dir.file("Orvel_Diag.xml")));
}
