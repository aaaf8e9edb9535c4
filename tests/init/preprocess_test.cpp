// The preprocessed copy of a control file: symbols, remarks, "//" and the failures.
#include <gtest/gtest.h>

#include <fstream>

#include "init/control_preprocessor.h"
#include "init_harness.h"

namespace {

std::string Pre(const std::string& text, CapturedLog& log) { return PreprocessControlText(&log.log(), text); }

std::string Pre(const std::string& text) {
  CapturedLog log;
  return Pre(text, log);
}

TEST(Preprocess, CutsRemarksRemovesDoubleSlashesAndDropsSetLines) {
  const std::string in =
      "# a remark line\n"
      "$set $dir = /data/\n"
      "[zone_grid]\n"
      "$dir//basin.asc   # the zones\n"
      "10#x\n"
      "a//b//c\n"
      "  $set $x = 1\n"
      "last";
  EXPECT_EQ(Pre(in),
            "[zone_grid]\n"
            "/data/basin.asc  \n"
            "10\n"
            "abc\n"
            "  $set $x = 1\n"
            "last");
}

// Each line of the copy knows the control file's line it comes from: remark and "$set"
// lines give the copy none, an indented "$set" line, an empty line and a value one each.
TEST(Preprocess, KeepsTheControlFileLineOfEveryLineOfTheCopy) {
  CapturedLog log;
  std::vector<long> lineOf;
  const std::string copy =
      PreprocessControlText(&log.log(), "# a\n$set $d = x\n[s]\n\n  # b\n  $set $y = 1\n$d   # c\nlast", &lineOf);
  EXPECT_EQ(copy, "[s]\n\n \n  $set $y = 1\nx  \nlast");
  EXPECT_EQ(lineOf, (std::vector<long>{0, 3, 4, 5, 6, 7, 8}));
  ControlFileLines lines;
  lines.source = "c.ctl";
  lines.copy = "c.ctl.intern";
  lines.lineOf = lineOf;
  TextCursor cursor(copy);
  cursor.SetSourceLines(std::make_shared<const ControlFileLines>(lines));
  EXPECT_EQ(cursor.LineText(5, "c.ctl.intern"), "line 7 of c.ctl (line 5 of c.ctl.intern)");
  EXPECT_EQ(cursor.LineText(7), "line 9 of c.ctl (line 7 of c.ctl.intern)");  // behind the copy's end
  cursor.SetSourceLines(nullptr);
  EXPECT_EQ(cursor.LineText(5, "c.ctl.intern"), "line 5 of c.ctl.intern");
}

TEST(Preprocess, SymbolsEndAtBlanksSemicolonsAndDoubleSlashes) {
  const std::string in =
      "$set $a = 5\n"
      "$set $ab = 7\n"
      "$a; $ab $a//x\n";
  EXPECT_EQ(Pre(in), "5; 7 5x\n");
}

TEST(Preprocess, ValueUsesEarlierSymbols) {
  EXPECT_EQ(Pre("$set $base = /data/\n$set $grids = $base//grids/\n$grids//z.asc\n"), "/data/grids/z.asc\n");
}

TEST(Preprocess, LinesEndingInCarriageReturnLineFeedBehaveLikeLineFeed) {
  EXPECT_EQ(Pre("$set $a = 3\r\n[s]\r\n$a   # n\r\n\r\nx\r\n"), "[s]\n3  \n\nx\n");
}

TEST(Preprocess, UndefinedSymbolNamesThePhysicalLine) {
  const char* const inputs[] = {"# remark\n\nvalue $missing here\n", "$set $a = 1\n# c\n$missing/x\n",
                                "$set $a = 1\n\nkh=$missing, kf=$a\n"};
  for (const char* in : inputs) {
    CapturedLog log;
    EXPECT_EQ(ThrownCode([&] { Pre(in, log); }), 17) << in;
    EXPECT_NE(log.console().find("undefined symbol at line 3: \"$missing\" is no symbol"), std::string::npos)
        << log.console();
  }
}

// A name ends at a comma, a slash and a closing bracket too; a name set with one of them
// still matches as a whole.
TEST(Preprocess, SymbolNamesEndAtCommasSlashesAndBrackets) {
  EXPECT_EQ(Pre("$set $kh = 3\n$set $base = out\nkh=$kh, kf=10 (A=$kh)\nDir = $base/\n$kh,$kh,2.5\n"),
            "kh=3, kf=10 (A=3)\nDir = out/\n3,3,2.5\n");
  EXPECT_EQ(Pre("$set $a/b = 7\n$set $a = 1\n$a/b $a/c\n"), "7 1/c\n");
}

TEST(Preprocess, SymbolDefinedLaterOrReferringToItselfFails) {
  CapturedLog log;
  EXPECT_EQ(ThrownCode([&] { Pre("$set $a = $b\n$set $b = 1\n", log); }), 17);
  EXPECT_NE(log.console().find("undefined symbol at line 1"), std::string::npos);

  CapturedLog self;
  EXPECT_EQ(ThrownCode([&] { Pre("$set $a = x$a\n$a\n", self); }), 17);
  EXPECT_NE(self.console().find("$a refers to itself at line 1"), std::string::npos) << self.console();
  // A redefinition that uses the earlier value is no loop.
  EXPECT_EQ(Pre("$set $a = 1\n$set $a = $a//2\n$a\n"), "1\n");
}

// The failures of the symbols name the control file they stand in, each its own.
TEST(Preprocess, FailuresNameTheLineOfTheFileGiven) {
  const struct {
    const char* text;
    const char* said;
  } cases[] = {{"# a\n$set $a = x$a\n", "symbol $a refers to itself at line 2 of a.ctl"},
               {"[s]\n\n$set $b =\n", "incomplete symbol definition at line 3 of a.ctl"},
               {"$set $set = $set\n$set $a = $set\nx $a\n", "the symbols in line 3 of a.ctl refer to each other"}};
  for (const auto& c : cases) {
    CapturedLog log;
    EXPECT_EQ(ThrownCode([&] { PreprocessControlText(&log.log(), c.text, nullptr, "a.ctl"); }), 17) << c.text;
    EXPECT_NE(log.console().find(c.said), std::string::npos) << log.console();
  }
}

TEST(Preprocess, DuplicateTextValuesWarnButNumbersAndSpecialValuesDoNot) {
  CapturedLog log;
  Pre("$set $a = same\n$set $b = same\n$set $c = 5\n$set $d = 5\n$set $e = nan\n$set $f = nan\n", log);
  const std::string out = log.console();
  EXPECT_NE(out.find("content of symbol $a is the same as symbol $b"), std::string::npos) << out;
  EXPECT_EQ(out.find("symbol $c"), std::string::npos);
  EXPECT_EQ(out.find("symbol $e"), std::string::npos);
}

TEST(Preprocess, LimitsOfLinesSymbolsAndDefinitions) {
  // Lines have no length limit: a long line stays one line, before and after substitution.
  EXPECT_EQ(Pre(std::string(5000, 'x') + "\n"), std::string(5000, 'x') + "\n");
  EXPECT_EQ(ThrownCode([] { Pre("$set $a = " + std::string(300, 'v') + "\n"); }), 17);
  const std::string v(299, 'v');
  EXPECT_EQ(Pre("$set $a = " + v + "\n$a $a $a $a $a $a $a $a $a\n"),
            v + " " + v + " " + v + " " + v + " " + v + " " + v + " " + v + " " + v + " " + v + "\n");
  EXPECT_EQ(ThrownCode([] { Pre("$set $a =\n"); }), 17);
  std::string many;
  for (int i = 0; i <= 2000; ++i) many += "$set $s" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  EXPECT_EQ(ThrownCode([&] { Pre(many); }), 17);
}

TEST(Preprocess, SetInsideRemarkDefinesNothing) { EXPECT_EQ(Pre("value # $set $a = 1\n"), "value\n"); }

TEST(CompileSymbols, WritesTheInternCopyAndTakesItsName) {
  InitHarness h;
  const std::string ctl = h.dir.file("run.ctl");
  WriteTextFile(ctl, "$set $n = 4\n[s]\n$n # four\n");
  std::string name = ctl;
  h.d->CompileSymbols(name);
  EXPECT_EQ(name, ctl + ".intern");
  EXPECT_EQ(ReadTextFile(ctl + ".intern"), "[s]\n4\n");
  EXPECT_NE(h.Console().find("compiling symbols in control file " + ctl + " to " + ctl + ".intern"),
            std::string::npos);

  std::string missing = h.dir.file("missing.ctl");
  EXPECT_EQ(ThrownCode([&] { h.d->CompileSymbols(missing); }), 28);
  EXPECT_NE(h.Console().find("error opening " + h.dir.file("missing.ctl")), std::string::npos);
}

TEST(CompileSymbols, FailedPreprocessingLeavesNoCopy) {
  InitHarness h;
  const std::string ctl = h.dir.file("bad.ctl");
  WriteTextFile(ctl, "[s]\n$undefined\n");
  std::string name = ctl;
  EXPECT_EQ(ThrownCode([&] { h.d->CompileSymbols(name); }), 17);
  EXPECT_FALSE(std::ifstream(ctl + ".intern").good());
  EXPECT_EQ(name, ctl);
}

}  // namespace

namespace {

TEST(Preprocess, SymbolsThatReferToEachOtherWithoutEndFail) {
  // "$set" in a value is kept as written, so $a gives "$set", which is the symbol $set again.
  CapturedLog log;
  EXPECT_EQ(ThrownCode([&] { Pre("$set $set = $set\n$set $a = $set\nx $a\n", log); }), 17);
  EXPECT_NE(log.console().find("refer to each other without end"), std::string::npos) << log.console();
}

}  // namespace

namespace {

// The growth of a line is bounded, so symbols that feed each other end the start-up after a
// bounded amount of work rather than at the end of the memory.
TEST(Preprocess, SymbolsThatGrowALineWithoutEndFail) {
  // "$set" holds itself many times over: each replacement adds more "$set" to the line.
  std::string v = "$set";
  for (int i = 0; i < 58; ++i) v += ";$set";
  CapturedLog log;
  EXPECT_EQ(ThrownCode([&] { Pre("$set $set = " + v + "\n$set $a = " + v + "\nx $a\n", log); }), 17);
  EXPECT_NE(log.console().find("replacing the symbols in line 3 of the control file makes it more than 100000 "
                               "characters longer"),
            std::string::npos)
      << log.console().substr(0, 400);
  // A value that holds "$set" is kept as written, here with its own name in it: the line
  // grows without a blank, and each name is still found at once.
  EXPECT_EQ(ThrownCode([] { Pre("t $a = \"$a;.$set//y\n$a\n"); }), 17);
}

}  // namespace
