#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "framework/date_text.h"
#include "framework/text_helpers.h"

namespace {
std::vector<std::string> Tokens(const std::string& text, const std::string& delims, bool keepEmpty = false) {
  std::vector<std::string> w;
  GetToken(text, delims, w, keepEmpty);
  return w;
}
const std::string kListDelims = "\t ;,";
}  // namespace

TEST(GetToken, SplitsAtDelimiterRunsAndKeepsQuotedWordsWhole) {
  EXPECT_EQ(Tokens("a, b;c", kListDelims), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Tokens("  x  ", kListDelims), (std::vector<std::string>{"x"}));
  EXPECT_EQ(Tokens("  x  ", kListDelims, true), (std::vector<std::string>{"x", ""}));
  EXPECT_EQ(Tokens("one \"two words\" three", " "), (std::vector<std::string>{"one", "\"two words\"", "three"}));
  EXPECT_EQ(Tokens("a \"say \\\"hi\\\" now\" b", " "),
            (std::vector<std::string>{"a", "\"say \\\"hi\\\" now\"", "b"}));
  EXPECT_EQ(Tokens("a \"open to end", " "), (std::vector<std::string>{"a", "\"open to end"}));
  EXPECT_TRUE(Tokens("", kListDelims).empty());
  EXPECT_EQ(Tokens("", kListDelims, true), (std::vector<std::string>{""}));
  std::vector<std::string> w{"kept"};
  EXPECT_EQ(GetToken("p q", " ", w), 3);
}

TEST(StrPosAndMidStr, BehaveAsTheirCallersExpect) {
  EXPECT_EQ(StrPos("abc", "c"), 2);
  EXPECT_EQ(StrPos("abc", "x"), 0);
  EXPECT_EQ(StrPos("abc", "a"), 0);
  std::string s = "[snow]";
  EXPECT_EQ(MidStr(s, 1, 3), "snow");
  s = "[snow]";
  EXPECT_EQ(MidStr(s, 1, 4), "snow]");
  s = "[snow]";
  EXPECT_EQ(MidStr(s, -1, 3), "[snow]");
  EXPECT_EQ(MidStr(s, 2, -1), "[snow]");
  EXPECT_EQ(MidStr(s, 3, 100), "ow]");  // never past the end
  std::string longText(5000, 'x');
  EXPECT_EQ(MidStr(longText, 4990, 20).size(), 10u);
}

TEST(TextCursor, ReadsValuesLikeScanfButRefusesNonFiniteNumbers) {
  TextCursor c("  12 -3.5e2 word\t10#x\r\nnext line\nnan inf 7");
  long l;
  double d;
  int i;
  std::string w;
  ASSERT_TRUE(c.ReadLong(l));
  EXPECT_EQ(l, 12);
  ASSERT_TRUE(c.ReadDouble(d));
  EXPECT_EQ(d, -350.0);
  ASSERT_TRUE(c.ReadWord(w));
  EXPECT_EQ(w, "word");
  ASSERT_TRUE(c.ReadInt(i));
  EXPECT_EQ(i, 10);
  EXPECT_EQ(c.RestOfLine(), "#x");  // carriage return dropped
  EXPECT_EQ(c.LineNumber(), 2);
  EXPECT_FALSE(c.ReadInt(i));  // a word where a number belongs
  ASSERT_TRUE(c.ReadLine(w));
  EXPECT_EQ(w, "next line");
  EXPECT_FALSE(c.ReadDouble(d));
  ASSERT_TRUE(c.ReadWord(w));
  EXPECT_FALSE(c.ReadDouble(d));
  ASSERT_TRUE(c.ReadWord(w));
  ASSERT_TRUE(c.ReadInt(i));
  EXPECT_EQ(i, 7);
  EXPECT_FALSE(c.ReadWord(w));
  EXPECT_TRUE(c.AtEnd());
}

// The line of a position is counted on from the one asked before, forwards and back, and
// starts anew with a new text: every answer is that of a count from the start.
TEST(TextCursor, LineNumbersCountedOnAgreeWithACountFromTheStart) {
  const std::string text = "a\nbb\n\nccc\r\nd\n\n";
  TextCursor c(text);
  const auto counted = [&](size_t pos) { return 1 + std::count(text.begin(), text.begin() + pos, '\n'); };
  for (size_t pos : {0, 1, 2, 5, 4, 9, 15, 14, 3, 0, 16, 6, 6, 12}) {
    c.Seek(pos);
    EXPECT_EQ(c.LineNumber(), counted(std::min(pos, text.size()))) << pos;
  }
  c.Rewind();
  std::string line;
  for (long expected = 2; c.ReadLine(line); ++expected) EXPECT_EQ(c.LineNumber(), expected) << line;
  c.SetText("x\ny");  // a new text is counted from its start
  EXPECT_EQ(c.LineNumber(), 1);
  c.Seek(2);
  EXPECT_EQ(c.LineNumber(), 2);
  // Whether only blanks stand before the end of the position's line.
  TextCursor row("1 2 \t\r\n3");
  double v = 0.0;
  ASSERT_TRUE(row.ReadDouble(v));
  EXPECT_FALSE(row.AtLineEnd());
  ASSERT_TRUE(row.ReadDouble(v));
  EXPECT_TRUE(row.AtLineEnd());
  ASSERT_TRUE(row.ReadDouble(v));
  EXPECT_TRUE(row.AtLineEnd());
}

TEST(TextCursor, RangeChecksAndWholeStringParsers) {
  TextCursor c("99999999999 +5 1e999 .5");
  int i;
  long l;
  double d;
  EXPECT_FALSE(c.ReadInt(i));
  ASSERT_TRUE(c.ReadLong(l));
  EXPECT_EQ(l, 99999999999L);
  ASSERT_TRUE(c.ReadInt(i));
  EXPECT_EQ(i, 5);
  EXPECT_FALSE(c.ReadDouble(d));
  c.Seek(c.Text().size() - 2);
  ASSERT_TRUE(c.ReadDouble(d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(ParseDouble(" 2.5 ", d));
  EXPECT_EQ(d, 2.5);
  EXPECT_FALSE(ParseDouble("2.5x", d));
  EXPECT_FALSE(ParseDouble("", d));
  EXPECT_TRUE(ParseLong("-4", l));
  EXPECT_EQ(l, -4);
  EXPECT_FALSE(ParseLong("4.0", l));
}

TEST(TextCursor, WholeNumbersEndTheirWordOrAreRefusedWithTheWord) {
  TextCursor c("1.5 3e9 0x1p2000 20 kice_els\n7# note\n2,0 x");
  c.RequireWholeNumbers();
  int i = -1;
  double d = -1.0;
  EXPECT_FALSE(c.ReadInt(i));  // not read as 1
  EXPECT_EQ(i, -1);
  EXPECT_EQ(c.RefusedNumber(), "1.5");
  std::string word;
  c.ReadWord(word);
  EXPECT_FALSE(c.ReadInt(i));
  EXPECT_EQ(c.RefusedNumber(), "3e9");
  c.Seek(c.Text().find("0x"));
  EXPECT_FALSE(c.ReadDouble(d));
  EXPECT_EQ(c.RefusedNumber(), "0x1p2000");
  c.Seek(c.Text().find("20 "));
  ASSERT_TRUE(c.ReadInt(i));  // a comment without "#" follows after a blank
  EXPECT_EQ(i, 20);
  EXPECT_FALSE(c.ReadInt(i));
  EXPECT_EQ(c.RefusedNumber(), "");  // a word: no number was refused
  c.RestOfLine();
  ASSERT_TRUE(c.ReadInt(i));  // "#" ends a number
  EXPECT_EQ(i, 7);
  c.RestOfLine();
  EXPECT_FALSE(c.ReadDouble(d));
  EXPECT_EQ(c.RefusedNumber(), "2,0");
}

// The control file's numbers: what is written reads as written with the attached text a
// remark; only text that would make the number another one refuses it.
TEST(TextCursor, WholeNumbersReadAsWrittenAndRefuseOnlyWhatTheAttachedTextWouldChange) {
  struct Row {
    const char* text;
    bool asInteger;
    bool read;
    double value;
    const char* rest;  // what the read leaves at the position
  };
  const Row rows[] = {
      {"24.0 # hours", true, true, 24, " # hours"},
      {"1985.\n", true, true, 1985, "\n"},
      {"-7.000", true, true, -7, ""},
      {"1e0", true, true, 1, ""},
      {"1.1e2 days", true, true, 110, " days"},  // an exponent that leaves the number whole
      {"20e-1", true, true, 2, ""},
      {"60;", true, true, 60, ";"},
      {"60min", true, true, 60, "min"},
      {"5eggs", true, true, 5, "eggs"},
      {"0x", true, true, 0, "x"},
      {"24.0e", true, true, 24, "e"},
      {"37.75\xc2\xb0 latitude", false, true, 37.75, "\xc2\xb0 latitude"},
      {"37.75N", false, true, 37.75, "N"},
      {"1985.", false, true, 1985, ""},
      {"3e9", false, true, 3e9, ""},
      {".5x", false, true, 0.5, "x"},
      {"2.5, 3", false, true, 2.5, ", 3"},
      {"1.5", true, false, 0, ""},
      {"24.01", true, false, 0, ""},
      {"3e9", true, false, 0, ""},
      {"1.05e1", true, false, 0, ""},
      {"25e-1", true, false, 0, ""},
      {"1e999", true, false, 0, ""},
      {"0x10", true, false, 0, ""},
      {"-0X1f", true, false, 0, ""},
      {"0x1p2000", false, false, 0, ""},
      {"2,0", true, false, 0, ""},
      {"2,0", false, false, 0, ""},
      {"1.000.000", true, false, 0, ""},
      {"1.000.000", false, false, 0, ""},
      {"3000000000.0", true, false, 0, ""},  // beyond an int
      {"--1.5", false, false, 0, ""},  // a second sign: no number, not +1.5
      {"+-2", true, false, 0, ""},
  };
  for (const Row& r : rows) {
    const std::string text = r.text;
    TextCursor c(text);
    c.RequireWholeNumbers();
    double value = -1.0;
    bool read;
    if (r.asInteger) {
      int i = -1;
      read = c.ReadInt(i);
      value = i;
    } else {
      read = c.ReadDouble(value);
    }
    EXPECT_EQ(read, r.read) << r.text << (r.asInteger ? " as an integer" : " as a number");
    if (read) {
      EXPECT_EQ(value, r.value) << r.text;
      EXPECT_EQ(c.Text().substr(c.Pos()), r.rest) << r.text;
    } else {
      EXPECT_EQ(c.Pos(), 0u) << r.text;
      EXPECT_EQ(c.NumberJustRefused(), text) << r.text;
    }
  }
  // The storage file's values are their whole words: a remark may follow after a blank or
  // begin with "(", "#" or ";"; anything else glued to the digits makes the word no number
  // (digit groups of any script, a fraction, a superscript).
  for (const auto& [text, whole] : std::vector<std::pair<std::string, bool>>{
           {"0.5(TG code", true}, {"5#x", true}, {"5; x", true}, {"5 abc", true}, {"-2.5\n", true}, {"5.", true},
           {"5\t(x)", true}, {"5\r\n", true}, {"1e-3", true}, {"+0.5", true}, {"123.", true},
           {"5abc", false}, {"1d3", false}, {"2e", false}, {"1_000", false}, {"5.5.5", false}, {"--1", false},
           {"730'703.77", false}, {"730\u00a0703.77", false}, {"730\u2009703.77", false}, {"243/2", false},
           {"11\u00b2", false}, {"730\u066c703.77", false}, {"5:", false}, {"5)", false}}) {
    TextCursor c(text);
    c.RequireWholeWords();
    double value = 0.0;
    EXPECT_EQ(c.ReadDouble(value), whole) << text;
    if (!whole) {
      EXPECT_EQ(c.NumberJustRefused(), text) << text;
    }
  }
  // A cursor that reads like scanf keeps reading the longest prefix.
  TextCursor prefix("1.5 2,0");
  int i = -1;
  double d = -1.0;
  ASSERT_TRUE(prefix.ReadInt(i));
  EXPECT_EQ(i, 1);
  prefix.Seek(4);
  ASSERT_TRUE(prefix.ReadDouble(d));
  EXPECT_EQ(d, 2.0);
}

TEST(ReadNumberRow, StopsAtTheCommentAndRefusesMalformedNumbers) {
  std::vector<double> v;
  std::string refused;
  EXPECT_TRUE(ReadNumberRow("2.0 2.5 -1e-3   # DDF in mm", 12, v, refused));
  EXPECT_EQ(v, (std::vector<double>{2.0, 2.5, -0.001}));
  EXPECT_TRUE(ReadNumberRow("1 2 3", 2, v, refused));
  EXPECT_EQ(v.size(), 2u);
  EXPECT_TRUE(ReadNumberRow("  DDF 1 2", 12, v, refused));
  EXPECT_TRUE(v.empty());
  // Text attached to a number ends the row: the rest is a remark.
  EXPECT_TRUE(ReadNumberRow("1 .5x 7", 12, v, refused));
  EXPECT_EQ(v, (std::vector<double>{1.0, 0.5}));
  EXPECT_TRUE(ReadNumberRow("2.0mm/d 2.5mm/d", 12, v, refused));
  EXPECT_EQ(v, (std::vector<double>{2.0}));
  for (const char* bad : {"2,0 2.0 2.5", "1.1 nan 0.9", "1 0x10", "4 -inf"}) {
    EXPECT_FALSE(ReadNumberRow(bad, 12, v, refused)) << bad;
    EXPECT_FALSE(refused.empty()) << bad;
  }
  EXPECT_EQ(refused, "-inf");
}

// A row follows the rule of the lists: blanks, commas and semicolons separate its numbers; a
// comma between two digits is no separator and refused, as it may be a decimal comma.
TEST(ReadNumberRow, CommasAndSemicolonsSeparateAsInTheLists) {
  std::vector<double> v;
  std::string refused;
  const std::vector<std::pair<std::string, std::vector<double>>> rows = {
      {"2.0, 2.0, 2.5, 3.0,   # DDF", {2.0, 2.0, 2.5, 3.0}},
      {"1 ,2\t;3 ; 4", {1, 2, 3, 4}},
      {"0.75,\t0.05", {0.75, 0.05}},
      {"5, # one value and a remark", {5}},
      {"5;; a remark", {5}},  // a second separator with no value behind it ends the row
      {"2.0mm, 3", {2.0}},
  };
  for (const auto& [line, numbers] : rows) {
    EXPECT_TRUE(ReadNumberRow(line, 12, v, refused)) << line;
    EXPECT_EQ(v, numbers) << line;
  }
  // A comma between two digits, and a value left out between two separators, refused with
  // what the message says of them.
  // A typeset minus (U+2212) or en dash (U+2013) is refused as a number, and named.
  for (const char* bad : {"2,5 2,5", "2.0,2.5", "1, 2,5", "2.0,, 3.0", "1 , ;2", "1;;-2", "1 \xE2\x88\x92" "5",
                          "\xE2\x80\x93" "0.5"}) {
    EXPECT_FALSE(ReadNumberRow(bad, 12, v, refused)) << bad;
    EXPECT_NE(CommaBetweenDigitsNote(refused), "") << bad << ": " << refused;
  }
  EXPECT_NE(CommaBetweenDigitsNote("\xE2\x88\x92" "5").find("the minus sign U+2212"), std::string::npos);
  size_t beyond = 0;
  EXPECT_TRUE(ReadNumberRow("1, 2, 3, 4;5 # and more", 3, v, refused, &beyond));
  EXPECT_EQ(beyond, 2u);
  // Behind the row a number with a word attached is a remark (a unit), not a value beyond.
  for (const char* remark : {"1 2 3 1/d", "1 2 3 1/d 4", "1 2 3 (1/d)", "1 2 3 2mm"}) {
    EXPECT_TRUE(ReadNumberRow(remark, 3, v, refused, &beyond)) << remark;
    EXPECT_EQ(beyond, 0u) << remark;
  }
  EXPECT_TRUE(ReadNumberRow("1 2 3 4 1/d", 3, v, refused, &beyond));
  EXPECT_EQ(beyond, 1u);
  // A unit behind a value is named where it is of another scale or kind than the value's.
  EXPECT_EQ(WordBehindValue("L=9 km, A=5", 3), "km");
  EXPECT_EQ(WordBehindValue("I=0.03 (1/1))", 6), "1/1");
  EXPECT_EQ(WordBehindValue("A=50)", 4), "");
  EXPECT_EQ(WordBehindValue("kh=3 kf=10", 4), "");
  EXPECT_EQ(WordBehindValue("kh=3 # min", 4), "");
  EXPECT_EQ(UnitMismatch("km", "m", 9), "the unit km behind 9 is not the m the value takes (9 km is 9000 m: write 9000)");
  EXPECT_EQ(UnitMismatch("K/km", "K/m", -6.5), "the unit K/km behind -6.5 is not the K/m the value takes (-6.5 K/km is "
                                                "-0.0065 K/m: write -0.0065)");
  EXPECT_NE(UnitMismatch("m", "K/m", 3000), "");
  for (const char* own : {"m", "m^(1/3)/s", "mm/d", "deg", "metres"}) EXPECT_EQ(UnitMismatch(own, "m", 1), "") << own;
  // The words of a row: a separator behind a value or ending a word separates.
  TextCursor row("1, loam, 25;silt,clay 3 sand,4");
  row.RequireWholeNumbers();
  std::string word;
  int code = 0;
  double d = 0.0;
  ASSERT_TRUE(row.ReadInt(code) && row.ReadRowWord(word));
  EXPECT_EQ(word, "loam");
  ASSERT_TRUE(row.ReadDouble(d) && row.ReadRowWord(word));
  EXPECT_EQ(word, "silt,clay");
  ASSERT_TRUE(row.ReadDouble(d) && row.ReadRowWord(word) && row.ReadDouble(d));
  EXPECT_EQ(word, "sand");
  EXPECT_EQ(d, 4.0);
  EXPECT_EQ(CommaBetweenDigitsNote("nan"), "");
  // The storage file's numbers are whole words: a comma attached to one refuses it.
  TextCursor storage("5, 6");
  storage.RequireWholeWords();
  EXPECT_FALSE(storage.ReadDouble(d));
  // A comma counts only right behind a number: at the start of a value it is a word.
  TextCursor after("1\n, 2");
  after.RequireWholeNumbers();
  ASSERT_TRUE(after.ReadDouble(d));
  after.RestOfLine();
  EXPECT_FALSE(after.ReadDouble(d));
}

// Text saved in UTF-16 or with lone carriage returns is named; text of one byte a character
// with LF or CR LF line ends, and bytes that merely hold NULs, are not.
TEST(TextLayoutFault, NamesUtf16AndLoneCarriageReturns) {
  const auto utf16 = [](const std::string& text, bool little) {
    std::string out;
    for (char c : text) out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
  };
  const std::string text = "[output_interval]\n24\n0\n1\n60\n";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"\xFF\xFE" + utf16(text, true), "UTF-16 (little-endian, with the byte-order mark FF FE)"},
      {utf16(text, false), "UTF-16 (big-endian)"},
      {"[a]\r1\r2\r\n", "carriage return alone (CR, 2 of them, and 1 line feeds)"},
      {text, ""},
      {"[a]\r\n1\r\n", ""},
      {text + std::string(64, '\0'), ""},
  };
  for (const auto& [bytes, named] : rows) {
    const std::string fault = TextLayoutFault(bytes);
    if (named.empty())
      EXPECT_EQ(fault, "") << bytes;
    else
      EXPECT_NE(fault.find(named), std::string::npos) << fault;
  }
  EXPECT_NE(TextLayoutFault("a\rb\r", true).find("line feeds in its first 4 bytes"), std::string::npos);
}

// A value in a message shows the digits that tell it from its neighbours: a glacier
// fraction of 1.0000001 is not "1".
TEST(ExactNumberText, IsTheShortestTextThatReadsBackAsTheValue) {
  EXPECT_EQ(ExactNumberText(1.0 + 2.220446049250313e-16), "1.0000000000000002");
  EXPECT_EQ(ExactNumberText(-1e-9), "-1e-09");
  EXPECT_EQ(ExactNumberText(0.1), "0.1");
}

// Every cell of an ASCII grid is printed through GeneralNumberText: its text must be
// exactly what "%g" prints, at the powers of ten, the halfway points of the sixth digit
// (exact ones round to even), the edges of the fast range and everywhere between.
TEST(GeneralNumberText, PrintsExactlyWhatPercentGPrints) {
  std::vector<double> values = {0.0, -0.0, -9999.0, 1.0, 0.5, 2.5, 123456.5, 123457.5, 999999.4, 999999.5,
                                999999.6, 9.999995, 99999.95, 0.0001, 0.00009999995, 1e-5, 1e6, 1e300, 5e-324,
                                std::nan(""), HUGE_VAL, -HUGE_VAL, 1.234565, 0.1234565, 1234565.0};
  for (int e = -6; e <= 7; ++e) {
    const double p = std::pow(10.0, e);
    for (double x : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e9), 9.999995 * p, 9.999985 * p, 1.000005 * p})
      values.insert(values.end(), {x, -x});
  }
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> exponent(-6.0, 7.0);
  std::uniform_int_distribution<long> decimals(0, 99999999);
  for (int k = 0; k < 300000; ++k) {
    values.push_back(std::pow(10.0, exponent(random)) * (k % 2 ? -1 : 1));
    values.push_back(static_cast<double>(decimals(random)) / std::pow(10.0, k % 9));  // written decimals
    values.push_back(static_cast<double>(decimals(random) | 1) / 16.0);                 // exact binary fractions
  }
  long differing = 0;
  std::string first;
  for (const double v : values) {
    char mine[16], printf[32];
    const std::string text(mine, static_cast<size_t>(GeneralNumberText(v, mine) - mine));
    std::snprintf(printf, sizeof printf, "%g", v);
    if (text != printf && differing++ == 0) first = ExactNumberText(v, 17) + ": " + text + " against " + printf;
  }
  EXPECT_EQ(differing, 0) << first;
}

// The teens take "th", whatever their last digit.
TEST(OrdinalText, EndsAsEnglishCountsDo) {
  std::string all;
  for (long n : {1, 2, 3, 4, 11, 12, 13, 21, 22, 23, 101, 111, 112}) all += OrdinalText(n) + " ";
  EXPECT_EQ(all, "1st 2nd 3rd 4th 11th 12th 13th 21st 22nd 23rd 101st 111th 112th ");
}

// Each style against the text it stands for, with fields of one and two places, hour 24,
// a year of fewer than four places and the field -9999 of a missing date.
TEST(DateText, EveryStyleWritesItsFieldsInItsOrderFillAndSeparators) {
  const ModelDate d{5, 9, 4, 1, 1985};  // minute, hour, day, month, year
  const ModelDate midnight{0, 24, 31, 12, 99};
  const std::vector<std::pair<std::string, std::string>> rows = {
      {DateText(d, kMessageDate), "04.01.1985 09:05"},
      {DateText(d, kShortDate), "4.1.1985 09:05"},
      {DateText(d, kRecordDate), "4.1.1985 9:5"},
      {DateText(d, kRecordDate.Until(DateField::kDay)), "4.1.1985"},
      {DateText(d, kRecordDate.Until(DateField::kHour).TimeAfter(", ")), "4.1.1985, 9"},
      {DateText(d, kAlignedDate.TimeAfter(", ")), " 4. 1.1985,  9: 5"},
      {DateText(d, kTableDate), "1985.1.4, 9:5"},
      {DateText(d, kIsoDate), "1985-01-04 09:05"},
      {DateText(midnight, kIsoDate.Until(DateField::kDay)), "0099-12-31"},
      {DateText(midnight, kFileDate), "00991231.2400"},
      {DateText(d, kFileDate.Until(DateField::kMonth)), "198501"},
      {DateText(d, kUnderscoredDate), "1985_01_04_09"},
      {DateText(d, kColumnDate), "1985\t 1\t 4\t 9"},
      {DateText(std::array<int64_t, 5>{1985, 1, 4, 9, 5}, kPlainColumnDate.Until(DateField::kMinute)),
       "1985\t1\t4\t9\t5"},
      {DateText(d, kListDate), "1985 1 4 9"},
      {DateText(ModelDate{}, kMessageDate), "-9999.-9999.-9999 -9999:-9999"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.first, row.second);
}
