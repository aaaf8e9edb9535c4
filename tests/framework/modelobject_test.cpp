#include <gtest/gtest.h>

#include <memory>

#include "framework/modelobject.h"
#include "support/test_support.h"

namespace {

class ControlFileTest : public ::testing::Test {
 protected:
  void Use(const std::string& text) {
    WriteTextFile(path_, text);
    obj_.log = &cap_.log();
    obj_.name = "snow_model";
    ASSERT_TRUE(obj_.OpenControlFile(path_));
  }
  int CodeOf(const std::function<void()>& f) {
    try {
      f();
    } catch (int code) {
      return code;
    }
    return 0;
  }
  TempDir dir_;
  std::string path_ = dir_.file("c.ctl.intern");
  CapturedLog cap_;
  modelobject obj_;
};

}  // namespace

TEST_F(ControlFileTest, SeeksWholeFirstWordsOnly) {
  Use("# [snow_model] in a remark\nx [snow_model]\n[snow_model_v2]\n3 first\n[snow_model]\n  7 # seven\n");
  ASSERT_TRUE(obj_.SeekControlKey("[snow_model]", true));
  int v = 0;
  EXPECT_EQ(obj_.ReadControlValue(v, "flow control parameter for "), 1);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(obj_.restOfLine, " # seven");
  ASSERT_TRUE(obj_.SeekControlKey("[snow_model_v2]", true));
  EXPECT_TRUE(obj_.ReadControlValue(v, "x") == 1 && v == 3);
  EXPECT_FALSE(obj_.SeekControlKey("[snow]", false));
  EXPECT_EQ(CodeOf([&] { obj_.SeekControlKey("[routing_model]", true); }), 17);
  EXPECT_NE(cap_.console().find("error in control file, [routing_model]; (EOF)not found! (no line of "),
            std::string::npos);
  EXPECT_NE(cap_.console().find(" begins with [routing_model])"), std::string::npos) << cap_.console();
}

// A heading that differs from the section sought by a letter or two is named with its
// line; one farther off is another section.
TEST_F(ControlFileTest, MissingSectionNamesTheNearestHeading) {
  Use("[soil_modelling]\n1\n[snow_modell]\n2\n");
  EXPECT_EQ(CodeOf([&] { obj_.SeekControlKey("[snow_model]", true); }), 17);
  EXPECT_NE(cap_.console().find("begins with [snow_model]; the section heading [snow_modell] (line 3) is the nearest: "
                                "write it [snow_model])"),
            std::string::npos)
      << cap_.console();
}

TEST_F(ControlFileTest, KeyOnLastLineWithoutLineBreakIsFound) {
  // The whole word is there; only the line break is missing.
  Use("a\n[last]");
  EXPECT_TRUE(obj_.SeekControlKey("[last]", false));
}

TEST_F(ControlFileTest, WordWhereANumberBelongsGivesNoticeAndCode17) {
  Use("[soil_model]\nabc # not a number\n");
  obj_.SeekControlKey("[soil_model]", true);
  double d;
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(d, "time interval for "); }), 17);
  std::string console = cap_.console();
  EXPECT_NE(console.find("--> In .\n  Next line in Orvel control file: \nabc\n"), std::string::npos);
  EXPECT_NE(console.find("error in control file, time interval for ; snow_modelnot found!"), std::string::npos);
  // In English, with the line the reading stopped on and the section.
  EXPECT_NE(console.find("not found! (the value \"time interval for\" cannot be read, line 2, section"), std::string::npos)
      << console;
  EXPECT_NE(console.find(", section [soil_model])"), std::string::npos) << console;
}

TEST_F(ControlFileTest, AValueMissingAtTheEndOfTheFileIsNamedSo) {
  Use("[soil_model]\n1 # flow control\n");
  obj_.SeekControlKey("[soil_model]", true);
  int a = 0, b = 0;
  EXPECT_EQ(obj_.ReadControlValue(a, "flow control parameter for "), 1);
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(b, "Methode fuer "); }), 17);
  EXPECT_NE(cap_.console().find("Methode fuer ; snow_modelnot found! (the value \"Methode fuer\" cannot be read, at "
                                "the end of "),
            std::string::npos)
      << cap_.console();
}

TEST_F(ControlFileTest, NanAndTooLongWordsAreRefused) {
  Use("[s]\nnan\n" + std::string(3000, 'w') + "\n1 2 # pair\n3\n");
  obj_.SeekControlKey("[s]", true);
  double d;
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(d, "value"); }), 17);
  std::string word;
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(word, "name", 2400); }), 17);
  double a, b;
  EXPECT_EQ(obj_.ReadTwoControlValues(a, b, "pair"), 2);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(CodeOf([&] { obj_.ReadTwoControlValues(a, b, "second pair"); }), 17);
}

// A pair written like a list reads as the pair; a decimal comma is refused naming the comma.
TEST_F(ControlFileTest, PairsReadByTheRuleOfTheListsAndDecimalCommasNamed) {
  Use("[s]\n0.75, 0.05 # A, B\n0.75 ;0.05\n2,5 1\n");
  obj_.SeekControlKey("[s]", true);
  double a = 0.0, b = 0.0;
  EXPECT_EQ(obj_.ReadTwoControlValues(a, b, "transmissivity"), 2);
  EXPECT_EQ(b, 0.05);
  EXPECT_EQ(obj_.restOfLine, " # A, B");
  b = 0.0;
  EXPECT_EQ(obj_.ReadTwoControlValues(a, b, "transmissivity"), 2);
  EXPECT_EQ(b, 0.05);
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(a, "scaling"); }), 17);
  EXPECT_NE(cap_.console().find("\"2,5\" is not a finite number: the comma between digits makes no number"),
            std::string::npos)
      << cap_.console();
}

// A section written twice is read where it first stands; one WARNING names both lines, however
// often the section is sought, and a section given once is named by none.
TEST_F(ControlFileTest, ASectionGivenTwiceIsNamedOnce) {
  const std::string text = "[a]\n1\n[b]\n2\n[b]x\n[a]\n3\n";
  auto lines = std::make_shared<ControlFileLines>();
  lines->source = "c.ctl";
  lines->copy = path_;
  lines->lineOf = {0, 1, 2, 4, 5, 6, 7, 8};  // a remark line stood before [b]
  ControlFileLines::Remember(lines);
  Use(text);
  int v = 0;
  for (int k = 0; k < 2; ++k) {
    ASSERT_TRUE(obj_.SeekControlKey("[a]", true));
    obj_.ReadControlValue(v, "value");
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(obj_.SeekControlKey("[b]", true));
  }
  const std::string console = cap_.console();
  const std::string warning = "[a] stands twice in c.ctl: the section of line 1 of c.ctl is read, the one of line 7 "
                              "of c.ctl (line 6 of " + path_ + ") is not";
  EXPECT_NE(console.find(warning), std::string::npos) << console;
  EXPECT_EQ(console.find("stands twice", console.find(warning) + warning.size()), std::string::npos) << console;
  EXPECT_EQ(console.find("[b] stands twice"), std::string::npos) << console;
}

// Messages on the control file name the file the user wrote, never its preprocessed copy: a
// section missing, a value missing at the end, a word beyond its length on a line that a
// remark line moved. A copy whose lines nobody kept is named as it stands.
TEST_F(ControlFileTest, MessagesNameTheFileTheUserWroteNotItsCopy) {
  EXPECT_EQ(ControlFileLines::SourceOf(path_), path_);
  auto lines = std::make_shared<ControlFileLines>();
  lines->source = "user.ctl";
  lines->copy = path_;
  lines->lineOf = {0, 1, 3, 4};  // a remark line stood before the word
  ControlFileLines::Remember(lines);
  obj_.controlFileName = path_;
  Use("[s]\nwwwwwwwwwwww\n1\n");
  EXPECT_EQ(obj_.ShownControlFile(), "user.ctl");
  ASSERT_TRUE(obj_.SeekControlKey("[s]", true));
  std::string word;
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(word, "name of the grid", 10); }), 17);
  EXPECT_EQ(CodeOf([&] { obj_.SeekControlKey("[t]", true); }), 17);
  ASSERT_TRUE(obj_.SeekControlKey("[s]", true));
  int v = 0;
  obj_.ReadControlValue(word, "name");
  obj_.ReadControlValue(v, "one");
  EXPECT_EQ(CodeOf([&] { obj_.ReadControlValue(v, "two"); }), 17);
  const std::string console = cap_.console();
  for (const char* said : {"longer than 10 characters: wwwwwwwwwwww... (line 3 of user.ctl (line 2 of ",
                           "no line of user.ctl begins with [t]", "cannot be read, at the end of user.ctl, section [s]"})
    EXPECT_NE(console.find(said), std::string::npos) << said << "\n" << console;
  EXPECT_EQ(console.find(path_ + ","), std::string::npos) << console;
  EXPECT_EQ(console.find("of " + path_ + " "), std::string::npos) << console;
}

TEST(ModelObject, StatisticsIgnoreValuesNotAboveNodataPlusOne) {
  modelobject o;
  o.ResetStatistics(-9999);
  o.AddToStatistics(-9999, 1);
  o.AddToStatistics(-9998, 1);
  o.AddToStatistics(2, 1);
  o.AddToStatistics(4, 1);
  double n, mn, mx, sum, mean, sd;
  o.GetStatistics(n, mn, mx, sum, mean, sd);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(mn, 2);
  EXPECT_EQ(mx, 4);
  EXPECT_EQ(mean, 3);
  EXPECT_EQ(sd, -9999);  // two values are too few
  o.ResetStatistics(-9999);
  for (int i = 0; i < 3; ++i) o.AddToStatistics(5, 1);
  o.GetStatistics(n, mn, mx, sum, mean, sd);
  EXPECT_EQ(sd, 0);
  o.ResetStatistics(-9999);
  o.AddToStatistics(1, 1);
  o.AddToStatistics(2, 1);
  o.AddToStatistics(3, 1);
  o.GetStatistics(n, mn, mx, sum, mean, sd);
  EXPECT_DOUBLE_EQ(sd, 1.0);
  o.ResetStatistics(-9999);
  o.GetStatistics(n, mn, mx, sum, mean, sd);
  EXPECT_EQ(mean, -9999);
}

TEST(ModelObject, DateKeysInterpolationAndHooks) {
  modelobject o;
  o.SetEndDate(2026, 1, 1, 0, 0);
  EXPECT_EQ(o.endDateKey - DateKey(2025, 12, 31, 23, 59), 1);
  EXPECT_EQ(DateKey(2025, 2, 1, 0, 0) - DateKey(2025, 1, 31, 0, 0), 1440);
  EXPECT_EQ(o.LinearInterpolate(1, 5, 1, 9, 100), 5);
  EXPECT_DOUBLE_EQ(o.LinearInterpolate(0, 0, 10, 20, 2.5), 5.0);
  EXPECT_EQ(o.MPIQueryStub(3, nullptr), 0);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DaysInMonth(-9999, -9999), 0);
}
