#include <gtest/gtest.h>

#include <climits>

#include "framework/option_text.h"

TEST(OptionScalars, IntConversions) {
  int v = -1;
  EXPECT_TRUE(GetKeyValueInt("numfiles = 3;", "numfiles", v));
  EXPECT_EQ(v, 3);
  EXPECT_TRUE(GetKeyValueInt("numfiles=4", "numfiles", v));
  EXPECT_EQ(v, 4);
  EXPECT_TRUE(GetKeyValueInt("numfiles = three;", "numfiles", v));
  EXPECT_EQ(v, 0);
  v = 9;
  EXPECT_TRUE(GetKeyValueInt("numfiles = ;", "numfiles", v));
  EXPECT_EQ(v, 9);  // an empty value keeps the target
  EXPECT_TRUE(GetKeyValueInt("n = 2.5;", "n", v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(GetKeyValueInt("n = 7abc;", "n", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(GetKeyValueInt("n = \n  -12 ;", "n", v));
  EXPECT_EQ(v, -12);
  EXPECT_TRUE(GetKeyValueInt("n = 99999999999;", "n", v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(GetKeyValueInt("n = -999999999999999999999999;", "n", v));
  EXPECT_EQ(v, INT_MIN);
}

TEST(OptionScalars, DoubleAndWord) {
  double d = 0;
  EXPECT_TRUE(GetKeyValueDouble("x = 1.5e2; y = 2;", "x", d));
  EXPECT_DOUBLE_EQ(d, 150.0);
  EXPECT_TRUE(GetKeyValueDouble("x = nan;", "x", d));
  EXPECT_EQ(d, 0.0);  // not a finite number: reads as no number
  std::string s = "keep";
  EXPECT_TRUE(GetKeyValueString("filename = a.txt; header = my header;", "header", s));
  EXPECT_EQ(s, "my");
  EXPECT_TRUE(GetKeyValueString("filename = a.txt; header = my header;", "filename", s));
  EXPECT_EQ(s, "a.txt");
  s = "keep";
  EXPECT_TRUE(GetKeyValueString("header =  \n ;", "header", s));
  EXPECT_EQ(s, "keep");
}

TEST(OptionScalars, MissingKeyIsReportedAndLeavesTarget) {
  int v = 5;
  double d = 1.25;
  std::string s = "x";
  EXPECT_FALSE(GetKeyValueInt("other = 1;", "numfiles", v));
  EXPECT_FALSE(GetKeyValueDouble("", "x", d));
  EXPECT_FALSE(GetKeyValueString("header two;", "header", s));  // no "=": not a setting
  EXPECT_EQ(v, 5);
  EXPECT_EQ(d, 1.25);
  EXPECT_EQ(s, "x");
}

TEST(OptionScalars, KeyMatchesOnlyAsWholeWordBeforeEquals) {
  int v = 0;
  EXPECT_TRUE(GetKeyValueInt("IDX = 1; ID = 2;", "ID", v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(GetKeyValueInt("myID = 1; ID=3;", "ID", v));
  EXPECT_EQ(v, 3);
  // a key inside an earlier value is no setting
  std::string s;
  EXPECT_TRUE(GetKeyValueString("header = Symbol; Symbol = SO;", "Symbol", s));
  EXPECT_EQ(s, "SO");
  std::vector<int> levels;
  EXPECT_EQ(GetKeyValueInts("Levels = 4 5; Level = 1;", "Level", levels), 1);
  EXPECT_EQ(levels[0], 1);
}

TEST(OptionScalars, FirstSettingWinsForScalarsLastForLists) {
  std::string text = "Xcoords = 1 2; Xcoords = 5 6 7;";
  double d = 0;
  EXPECT_TRUE(GetKeyValueDouble(text, "Xcoords", d));
  EXPECT_EQ(d, 1.0);
  std::vector<double> xs;
  EXPECT_EQ(GetKeyValueDoubles(text, "Xcoords", xs), 3);
  EXPECT_EQ(xs, (std::vector<double>{5, 6, 7}));
  std::vector<double> pre{9, 9};
  EXPECT_EQ(GetKeyValueDoubles(text, "Xcoords", pre), 5);
  EXPECT_EQ(pre, (std::vector<double>{9, 9, 5, 6, 7}));
}

TEST(OptionLists, SeparatorsAndOddTokens) {
  std::vector<double> v;
  EXPECT_EQ(GetKeyValueDoubles("Xcoords = 1,2;3", "Xcoords", v), 2);
  EXPECT_EQ(v, (std::vector<double>{1, 2}));
  v.clear();
  EXPECT_EQ(GetKeyValueDoubles("X = 1 2 x 3;", "X", v), 4);
  EXPECT_EQ(v, (std::vector<double>{1, 2, 0, 3}));
  v.clear();
  // a list may run over several lines
  EXPECT_EQ(GetKeyValueDoubles("X = 1\n 2\r\n\t3 ;", "X", v), 3);
  EXPECT_EQ(v, (std::vector<double>{1, 2, 3}));
  std::vector<int> ints{4};
  EXPECT_EQ(GetKeyValueInts("Level = 2 }", "Level", ints), 3);
  EXPECT_EQ(ints, (std::vector<int>{4, 2, 0}));
  std::vector<int> none{1, 2};
  EXPECT_EQ(GetKeyValueInts("Other = 3;", "Level", none), 0);
  EXPECT_EQ(none.size(), 2u);
}

TEST(OptionBraces, CutsBlocksOneAfterAnother) {
  std::string rest = "a { b = 1; } c { d = 2; }";
  std::string block;
  ASSERT_TRUE(GetBracedText(rest, block));
  EXPECT_EQ(block, " b = 1; }");
  EXPECT_EQ(rest, " c { d = 2; }");
  ASSERT_TRUE(GetBracedText(rest, block));
  EXPECT_EQ(block, " d = 2; }");
  EXPECT_EQ(rest, "");
  EXPECT_FALSE(GetBracedText(rest, block));
}

TEST(OptionBraces, AlwaysConsumes) {
  // a stray "}" before the "{" does not make the same block come back
  std::string rest = "x }{ y } z";
  std::string block;
  ASSERT_TRUE(GetBracedText(rest, block));
  EXPECT_EQ(block, " y }");
  EXPECT_EQ(rest, " z");
  // without a closing brace the block runs to the end and nothing is left
  rest = "entity { ID = a;";
  ASSERT_TRUE(GetBracedText(rest, block));
  EXPECT_EQ(block, " ID = a;");
  EXPECT_TRUE(rest.empty());
  // without an opening brace nothing can be cut, and the rest is used up too
  rest = "entity ID = a; }";
  EXPECT_FALSE(GetBracedText(rest, block));
  EXPECT_TRUE(rest.empty());
}

TEST(OptionWords, WholeWordSearch) {
  EXPECT_TRUE(ContainsOptionWord("x\nentity { }", "entity"));
  EXPECT_FALSE(ContainsOptionWord("identity = 3;", "entity"));
  EXPECT_FALSE(ContainsOptionWord("entity_list = 3;", "entity"));
}
