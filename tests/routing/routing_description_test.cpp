// Reading [routing_model] and its routing descriptions: what is read, and every refusal
// with its code and the words of its message.
#include <gtest/gtest.h>

#include "framework/text_helpers.h"
#include "routing/routing_description.h"
#include "routing/routingclass.h"
#include "routing_fixture.h"
#include "support/test_support.h"

namespace {

TEST(RoutingDescription, CountsOverlappingMatchesAndKeywordLines) {
  EXPECT_EQ(CountSubstring("OLOL OL", "OL"), 3);
  EXPECT_EQ(CountSubstring("aaa", "aa"), 2);
  EXPECT_EQ(CountSubstring("abc", ""), 0);
  EXPECT_TRUE(IsDescriptionLine("x # a comment naming SP"));
  EXPECT_FALSE(IsDescriptionLine("[lake_model]"));
}

TEST(RoutingDescription, ReadsEveryKindOfEntry) {
  int map[] = {0, 1, 2, 3, 4, 5};
  const SubbasinCodes codes{map, 5};
  // A unit behind a value is no value of its own.
  const std::string text = "TG 5 (AE=12.5 km2, AF=2.0) OL 1 (kh=2 h, kf=5, bm=5 m, bf=50, hm=5, kstm=25 m^(1/3)/s, "
                           "kstf=10, I=0.01 (1/1), L=100 m, A=3 km\xc2\xb2)  SUMTRIB 2&3&4 " +
                           ChannelText(200, 7) + " ZL 2 = extern flows.txt 3 4 " + ChannelText(50, 1) +
                           " ZL 1 = constant 0.25 " + ChannelText(60, 2);
  const RoutingDescription d = ParseRoutingDescription(text, 1, codes, 2, nullptr);
  // The storage constants count routing steps: on a daily run "d" is their own unit and "h"
  // is named with the value in days.
  const std::string daily = "TG 5 (AE=12.5, AF=2.0) OL 1 (kh=2 d, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, "
                            "L=9, A=1) ";
  EXPECT_DOUBLE_EQ(ParseRoutingDescription(daily, 1, codes, 2, nullptr, "", 1440.0).ol[0].p.km, 2.0);
  CapturedLog log;
  std::string hours = daily;
  hours.replace(hours.find("kh=2 d"), 6, "kh=48 h");
  EXPECT_THROW(ParseRoutingDescription(hours, 1, codes, 2, &log.log(), "", 1440.0), int);
  EXPECT_NE(log.console().find("kh = 48: the unit h behind 48 is not the d the value takes (48 h is 2 d: write 2)"),
            std::string::npos)
      << log.console();
  EXPECT_EQ(d.code, 5);
  EXPECT_DOUBLE_EQ(d.area, 12.5);
  EXPECT_DOUBLE_EQ(d.areaFactor, 2.0);
  ASSERT_EQ(d.ol.size(), 1u);
  EXPECT_EQ(d.ol[0].code, 1);
  EXPECT_DOUBLE_EQ(d.ol[0].p.length, 100.0);
  EXPECT_DOUBLE_EQ(d.ol[0].p.slope, 0.01);
  ASSERT_EQ(d.sumtrib.size(), 1u);
  EXPECT_EQ(d.sumtrib[0].code, 2);
  EXPECT_EQ(d.sumtrib[0].members, (std::vector<int>{3, 4}));
  EXPECT_DOUBLE_EQ(d.sumtrib[0].p.area, 7.0);
  ASSERT_EQ(d.zl.size(), 2u);
  EXPECT_EQ(d.zl[0].number, 2);
  EXPECT_EQ(d.zl[0].mode, kInflowExtern);
  EXPECT_EQ(d.zl[0].fileName, "flows.txt");
  EXPECT_EQ(d.zl[0].startRow, 3);
  EXPECT_EQ(d.zl[0].column, 4);
  EXPECT_EQ(d.zl[1].mode, kInflowConstant);
  EXPECT_DOUBLE_EQ(d.zl[1].constant, 0.25);
  EXPECT_DOUBLE_EQ(d.zl[1].p.area, 2.0);
}

// A line without a keyword ends the list; where it goes on with the open entry of the line
// before, that entry is named rather than read without its values.
TEST(RoutingDescription, JoinsTheLinesOfADescriptionAndNamesAnEntryGoingOnBeyondThem) {
  TextCursor c("TG 1 (AE=1, AF=1)\nTG 2 (AE=1, AF=1)\nOL 1 (x)\nnothing = here\nTG 9\n");
  const std::vector<std::string> texts = JoinRoutingDescriptions(c, nullptr);
  ASSERT_EQ(texts.size(), 2u);  // "nothing" holds no keyword: the list ends there
  EXPECT_EQ(texts[0], "TG 1 (AE=1, AF=1)");
  TextCursor d("TG 2 (AE=1,\nOL 1 AF=1)\nend\n");
  EXPECT_EQ(JoinRoutingDescriptions(d, nullptr)[0], "TG 2 (AE=1,\nOL 1 AF=1)");
  CapturedLog log;
  TextCursor e("TG 1 (AE=1, AF=1)\nOL 2 (kh=1, kf=1, bm=1, bf=1, hm=1,   # the rest below\n  kstm=25, kstf=1)\n");
  EXPECT_THROW(JoinRoutingDescriptions(e, &log.log()), int);
  EXPECT_NE(log.console().find("line 3 in [routing_model] goes on with the entry of the line before (\"OL 2 (kh=1"),
            std::string::npos)
      << log.console();
}

// Only an SP entry's keys are read by name: a key of one that its reservoir does not read is
// named with its line and the nearest key, also where the entry goes on over a line end; the
// free names of the other entries, a key holding a known one and a remark are not.
TEST(RoutingDescription, NamesTheKeysOfAnSpEntryThatTheReservoirDoesNotRead) {
  CapturedLog log;
  TextCursor c(
      "TG 1 (AE=1, AF=1) OL 2 (kk=1, kf=1)\n"
      "SP 1 (filename=r.txt,V0=1 A0 = 2 W0=3  # Vol = is a remark\n"
      "  C0 = 0 0 0 0 0 0 0 0 0 dTmim = 600) OL 3 (kk=1)\n"
      "AL 2 (modus = intern 0 0.5 1 m3/s) SP 3 (file = s.txt V0 = 1 C0 = 0 0 0 0 0 0 0 0 0 UseRunningAverage = 24)\n"
      "end\n");
  ASSERT_EQ(JoinRoutingDescriptions(c, &log.log()).size(), 1u);
  const std::string text = log.console();
  EXPECT_NE(text.find("the SP entries of [routing_model], line 3: no reader knows the key dTmim, so its value is not "
                      "used; the nearest key of the SP entries of [routing_model] is dTmin"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("line 4: no reader knows the key UseRunningAverage, so its value is not used; the nearest key of "
                      "the SP entries of [routing_model] is UseRunningAvg"),
            std::string::npos)
      << text;
  for (const char* free : {"key kk", "key modus", "key filename", "key Vol", "key V0", "key W0"})
    EXPECT_EQ(text.find(free), std::string::npos) << free << "\n" << text;
}

struct BadCase {
  const char* what;
  std::string settings;
  std::string list;
  int code;
  const char* message;
};

// Every refusal of the module's construction, one row each.
TEST(RoutingDescription, RefusesBadControlFilesWithCodeAndMessage) {
  const std::string ok = RoutingBasin::Settings();
  const std::string ch = ChannelText(1000, 10);
  const std::string tg12 = "TG 1 (AE=10, AF=1)\nTG 2 (AE=20, AF=1)\n";
  const std::vector<BadCase> cases = {
      {"three of four table values", "1.0 100.0 10\n", "", 17, "values for min/max specific discharge"},
      {"qmin zero", RoutingBasin::Settings("0 100 10 1"), "", 17, "0 < qmin <= qmax"},
      {"too many intervals", RoutingBasin::Settings("1 100 1e9 1"), "", 17, "1 to 100000 intervals"},
      {"too many sub-intervals", RoutingBasin::Settings("1 100 10 20000"), "", 17, "1 to 10000 time"},
      {"qmax below qmin", RoutingBasin::Settings("10 1 10 1"), "", 17, "0 < qmin <= qmax"},
      {"no interval", RoutingBasin::Settings("1 100 0.5 1"), "", 17, "1 to 100000 intervals"},
      {"no sub-interval", RoutingBasin::Settings("1 100 10 0"), "", 17, "1 to 10000 time"},
      {"write code", RoutingBasin::Settings("1 100 10 1", "q.txt x"), "", 17, "write code"},
      {"too many column descriptors", RoutingBasin::Settings("1 100 10 1", "q.txt 0", "none", "4\n1 1\n2 2\n3 3\n1 4"),
       "", 17, "too much column descriptors (4)"},
      {"descriptor code unknown", RoutingBasin::Settings("1 100 10 1", "q.txt 0", "none", "1\n7 1"), "", 17,
       "no subbasin with code 7 for column"},
      {"descriptor code negative", RoutingBasin::Settings("1 100 10 1", "q.txt 0", "none", "1\n-1 1"), "", 17,
       "no subbasin with code -1"},
      {"descriptor column negative", RoutingBasin::Settings("1 100 10 1", "q.txt 0", "none", "1\n1 -2"), "", 17,
       "error reading a column number"},
      {"end of file in the list", ok, "EOF:TG 1 (AE=10, AF=1)\n", 38, "eof reached"},
      {"end of file before the list", ok, "EOF:", 38, "eof reached"},
      {"line too long", ok, "TG 1 (AE=10, AF=1) " + std::string(2400, 'x') + "\nend\n", 40, "string is too long"},
      {"TG code unknown", ok, "TG 4 (AE=10, AF=1)\nend\n", 41, "there is no subbasin with code 4"},
      {"TG code zero", ok, "TG 0 (AE=10, AF=1)\nend\n", 41, "there is no subbasin with code 0"},
      {"TG code unreadable", ok, "TG x (AE=10, AF=1)\nend\n", 38, "entry TG: cannot read the sub-basin code"},
      {"TG area missing", ok, "TG 1 (AE 10)\nend\n", 38, "entry TG 1: AE = and AF = are missing: the entry holds no value"},
      {"TG area factor left out", ok, "TG 3 (AE=60)\nOL 1 " + ch + "\nend\n", 38,
       "entry TG 3: AF = is missing: the entry holds 1 (AE) up to the next entry"},
      {"OL area followed by a number", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (kh=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1, 5)\nend\n", 38,
       "entry OL 1: the word \"5\" in \"A=1, 5\" is neither a value"},
      {"reservoir concentration with a decimal comma", ok,
       "TG 1 (AE=10, AF=1)\nSP 2 (file = r.txt V0 = 1 C0 = 0 0,5 0 0 0 0 0 0 0)\nend\n", 35,
       "\"C0 =\" needs nine initial concentrations, 1 found before \"0,5\", which is no finite number: the comma"},
      // Keys given twice, values beyond the entry's, units of another scale or kind.
      {"OL key given twice", ok, "TG 3 (AE=60, AF=1)\nOL 1 (kh=2, kh=3, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1)\nend\n",
       38, "entry OL 1: the key kh is given twice, \"kh=2\" and \"kh=3\""},
      {"TG key given twice", ok, "TG 3 (AE=60, AE=1)\nend\n", 38, "entry TG 3: the key AE is given twice"},
      {"OL value beyond its ten", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (kh=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1, B=2)\nend\n", 38,
       "entry OL 1: the entry holds 11 values, 1 more than the 10 it reads, and \"B=2\" would be lost"},
      {"OL length in km", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (kh=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9 km, A=1)\nend\n", 38,
       "entry OL 1: L = 9: the unit km behind 9 is not the m the value takes (9 km is 9000 m: write 9000)"},
      {"OL storage constant in minutes", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (kh=180min, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1)\nend\n", 38,
       "(180 min is 3 h: write 3)"},
      {"OL slope in percent", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (kh=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=3 %, L=9, A=1)\nend\n", 38,
       "(3 % is 0.03 m/m: write 0.03)"},
      {"TG area in hectares", ok, "TG 3 (AE=6000 ha, AF=1)\nend\n", 38, "(6000 ha is 60 km2: write 60)"},
      {"TG area in square metres", ok, "TG 3 (AE=6e7 m2, AF=1)\nend\n", 38, "write 60)"},
      {"TG area factor beyond the entry's keys", ok, "TG 3 (AE=60, AF=1, AF2=3)\nend\n", 38, "\"AF2=3\" would be lost"},
      {"TG area zero", ok, "TG 1 (AE=0, AF=1)\nend\n", 41, "sub-basin area must be positive"},
      {"TG area factor zero", ok, "TG 1 (AE=10, AF=0)\nend\n", 41, "area factor must be positive"},
      {"OL code unknown", ok, "TG 3 (AE=60, AF=1)\nOL 8 " + ch + "\nend\n", 41, "tributary with code 8"},
      {"OL into itself", ok, "TG 3 (AE=60, AF=1)\nOL 3 " + ch + "\nend\n", 41,
       "is equal to subbasin code!\nIt is not allowed to rout the outflow of a subbasin back into \nthe same "
       "subbasin. Use a reservoir instead.\nThe OL entry of sub-basin 3 stands under its own TG 3: an OL entry routes "
       "a tributary's discharge to the outlet of the TG it stands under, so move it under the TG of the sub-basin that "
       "3 flows into"},
      {"OL value unreadable", ok, "TG 3 (AE=60, AF=1)\nOL 1 (km=x)\nend\n", 38, "entry OL 1: cannot read the channel"},
      {"OL values missing", ok, "TG 3 (AE=60, AF=1)\nOL 1 (km=1, kf=1)\nend\n", 38, "entry OL 1: bm and the values after it are missing: the entry holds 2 (km, kf)"},
      // Channel values no channel can have, each named with its entry, key and value.
      {"OL area zero", ok, "TG 3 (AE=60, AF=1)\nOL 1 " + ChannelText(1000, 0) + "\nend\n", 41,
       "basin.ctl: A of OL 1 in routing description 1 is 0; the catchment area (km2) must be above 0"},
      {"OL slope zero", ok, "TG 3 (AE=60, AF=1)\nOL 1 (km=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0, L=9, A=1)\nend\n",
       41, "basin.ctl: I of OL 1 in routing description 1 is 0; the slope (1/1) must be above 0"},
      {"OL width negative", ok, "TG 3 (AE=60, AF=1)\nOL 1 (km=2, kf=5, bm=-5, bf=50, hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1)\nend\n",
       41, "bm of OL 1 in routing description 1 is -5; the width of the mean channel (m) must be above 0"},
      {"OL roughness zero", ok, "TG 3 (AE=60, AF=1)\nOL 1 (km=2, kf=5, bm=5, bf=50, hm=5, kstm=0, kstf=10, I=0.1, L=9, A=1)\nend\n",
       41, "kstm of OL 1 in routing description 1 is 0; the Manning-Strickler coefficient of the mean channel must be above 0"},
      {"flood plain roughness negative", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 (km=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=-1, I=0.1, L=9, A=1)\nend\n", 41,
       "kstf of OL 1 in routing description 1 is -1; the Manning-Strickler coefficient of the flood plains must be 0 or more"},
      {"SUMTRIB length negative", ok, "TG 3 (AE=60, AF=1)\nSUMTRIB 1&2 " + ChannelText(-100, 10) + "\nend\n", 41,
       "L of SUMTRIB 1 in routing description 1 is -100; the channel length (m) must be 0 or more"},
      {"ZL storage constant not a number", ok, "TG 1 (AE=10, AF=1)\nZL 1 = constant 1 (km=nan, kf=5, bm=5, bf=50, "
       "hm=5, kstm=25, kstf=10, I=0.1, L=9, A=1)\nend\n", 38,
       "entry ZL 1: cannot read the channel value kh (a finite number expected at \"nan\")"},
      {"SUMTRIB member unknown", ok, "TG 3 (AE=60, AF=1)\nSUMTRIB 1&9 " + ch + "\nend\n", 41, "tributary with code 9"},
      {"SUMTRIB member with blank", ok, "TG 3 (AE=60, AF=1)\nSUMTRIB 1&x " + ch + "\nend\n", 41,
       "must follow & without a blank"},
      {"ten joined tributaries", ok, "TG 3 (AE=60, AF=1)\nSUMTRIB 1&2&2&2&2&2&2&2&2&2&2 " + ch + "\nend\n", 41,
       "more than 9 tributaries"},
      {"ZL number too high", ok, "TG 1 (AE=10, AF=1)\nZL 2 = constant 1 " + ch + "\nend\n", 42,
       "there is/are only 1 inflow(s)"},
      {"ZL number zero", ok, "TG 1 (AE=10, AF=1)\nZL 0 = constant 1 " + ch + "\nend\n", 42, "begin at 1"},
      {"ZL mode unknown", ok, "TG 1 (AE=10, AF=1)\nZL 1 = pumped 1 " + ch + "\nend\n", 42,
       "the modus \"pumped\" is not supported for inflow 1"},
      {"ZL constant unreadable", ok, "TG 1 (AE=10, AF=1)\nZL 1 = constant x " + ch + "\nend\n", 42,
       "cannot read the constant inflow"},
      {"ZL file missing", ok, "TG 1 (AE=10, AF=1)\nZL 1 = extern nofile.txt 0 1 " + ch + "\nend\n", 37,
       "error opening nofile.txt for inflow 1"},
      {"ZL described twice", ok,
       "TG 1 (AE=10, AF=1)\nZL 1 = constant 1 " + ch + "\nZL 1 = constant 1 " + ch + "\nend\n", 42,
       "inflow ZL 1 is already described"},
      {"internal inflow without abstraction", ok, "TG 1 (AE=10, AF=1)\nZL 1 = intern " + ch + "\nend\n", 302,
       "Internal Inflow ZL 1 has no conenction"},
      {"tributary of two sub-basins", ok,
       tg12 + "TG 3 (AE=60, AF=1)\nOL 1 " + ch + "\nOL 1 " + ch + "\nend\n", 41,
       "sub-basin 1 is listed as tributary of 3 and of 3"},
      {"sub-basin described twice", ok, tg12 + "TG 1 (AE=10, AF=1)\nend\n", 41, "already has routing description 1"},
      {"downstream before upstream", ok,
       "TG 3 (AE=60, AF=1)\nOL 1 " + ch + "\nTG 1 (AE=10, AF=1)\nend\n", 41,
       "takes the outflow of sub-basin 1, whose routing description 2 (TG 1) comes later"},
      {"cycle", ok, "TG 1 (AE=10, AF=1)\nOL 2 " + ch + "\nTG 2 (AE=20, AF=1)\nOL 1 " + ch + "\nend\n", 41,
       "has a cycle"},
      {"abstraction key given twice", ok, "TG 1 (AE=10, AF=1)\nAL 4 (mode = intern 0 1 9 mm, mode = extern o.txt)\nend\n",
       44, "abstraction 4: the key mode is given twice, \"mode = intern 0 1 9 mm\" and \"mode = extern o.txt\""},
      {"abstraction mode unknown", ok, "TG 1 (AE=10, AF=1)\nAL 4 (mode = pumped)\nend\n", 44,
       "the modus \"pumped\" is not supported for abstraction 4"},
      {"abstraction rule section missing", ok, "TG 1 (AE=10, AF=1)\nAL 4 (mode = extern_with_rule o.txt)\nend\n", 34,
       "section [abstraction_rule_abstraction_4] not found"},
      {"internal abstraction without inflow", ok, "TG 1 (AE=10, AF=1)\nAL 1 (mode = intern 0 1 9 mm)\nend\n", 303,
       "in routing description 1 for TG 1:\nInternal abstraction AL 1 is not connected"},
      {"abstraction into its own sub-basin", ok,
       "TG 1 (AE=10, AF=1)\nZL 1 = intern " + ch + "\nAL 1 (mode = intern_with_rule)\nend\n[abstraction_rule_abstraction_1]\n1 1\n0 0\n",
       301, "Abstraction AL 1 from routing description 1 and inflow ZL 1 are both defined for the same routing-subbasin TG 1"},
      {"inflow fed twice", ok,
       "TG 1 (AE=10, AF=1)\nAL 1 (mode = intern 0 1 9 mm)\nTG 2 (AE=20, AF=1)\nAL 1 (mode = intern 0 1 9 mm)\n"
       "TG 3 (AE=60, AF=1)\nZL 1 = intern " + ch + "\nend\n",
       300, "in routing description 2 for TG 2:\nInflow 1 is already connected"},
      {"external abstraction feeds no inflow", ok,
       "TG 1 (AE=10, AF=1)\nAL 1 (mode = extern o.txt 0 1 9 mm)\nTG 3 (AE=60, AF=1)\nZL 1 = intern " + ch + "\nend\n",
       302, "in routing description 2 for TG 3:\nInternal Inflow ZL 1 has no conenction"},
      {"reservoir without its keys", ok, "TG 1 (AE=10, AF=1)\nSP 2 (anything)\nend\n", 35, "for reservoir 2: no \"file =\" found!"},
      {"travel time not finite", ok, "TG 3 (AE=60, AF=1)\nOL 1 " + ChannelText(1e308, 10) + "\nend\n", 17,
       "give no usable table"},
      {"queue too long", ok, "TG 3 (AE=60, AF=1)\nOL 1 " + ChannelText(1e12, 10) + "\nend\n", 17,
       "no more than 10000000 queue slots"},
  };
  for (const BadCase& c : cases) {
    CapturedLog log;
    RoutingBasin b;
    int code = 0;
    try {
      // A list beginning with "EOF:" ends the control file.
      const bool atEnd = c.list.rfind("EOF:", 0) == 0;
      b.Start(atEnd ? "[routing_model]\n1\n60\n" + c.settings + c.list.substr(4) : b.Control(c.settings, c.list),
              log.log());
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, c.code) << c.what << "\n" << log.console();
    EXPECT_NE(log.console().find(c.message), std::string::npos) << c.what << "\n" << log.console();
  }
}

TEST(RoutingDescription, FlowControlOutsideZeroToThreeIsRefused) {
  CapturedLog log;
  RoutingBasin b;
  int code = 0;
  try {
    b.Build(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions(), 0, 4), log.log());
  } catch (int e) {
    code = e;
  }
  EXPECT_EQ(code, 17);
  EXPECT_NE(log.console().find("only 0 (off), 1 (routing)"), std::string::npos);
}

// Routing runs once per time step: with a soil interval other than its own it would take
// a part of the soil model's runoff as the water of a step. Refused, naming both intervals.
TEST(RoutingDescription, SoilIntervalOtherThanRoutingIsRefused) {
  for (int soil : {30, 90, 180, 1440}) {
    CapturedLog log;
    RoutingBasin b(soil);
    int code = 0;
    try {
      b.Build(b.Control(RoutingBasin::Settings(), ThreeBasinDescriptions()), log.log());
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 17) << soil;
    EXPECT_NE(log.console().find("the time interval of [routing_model] (60 minutes) differs from the one of "
                                 "[soil_model] (" + std::to_string(soil) + " minutes)"),
              std::string::npos)
        << log.console();
  }
}

// The list is read again from where the first pass began, even though the lake section
// was sought in between; a comment naming a keyword keeps its line in the list.
TEST(RoutingDescription, SecondPassStartsWhereTheFirstBegan) {
  CapturedLog log;
  RoutingBasin b;
  const std::string list = "TG 1 (AE=10, AF=1)\nTG 3 (AE=40, AF=1)\nOL 1 " + ChannelText(1000, 10) + "\n# the list ends here\n";
  ModuleOwner<abflussmodellklasse> m;
  try {
    m = b.Start(b.Control(RoutingBasin::Settings("1 100 10 1", "q.txt 0", "none", "2\n1 1\n3 2"), list), log.log());
  } catch (int e) {
    FAIL() << e << log.console();
  }
  ASSERT_EQ(m->routingObjects.size(), 2u);
  EXPECT_EQ(m->routingObjects[1]->code, 3);
  EXPECT_EQ(m->observedColumn[3], 2);

  CapturedLog log2;
  RoutingBasin c;
  int code = 0;
  try {
    c.Start(c.Control(RoutingBasin::Settings(), "TG 1 (AE=10, AF=1)  # no SP here\nend\n"), log2.log());
  } catch (int e) {
    code = e;
  }
  EXPECT_EQ(code, 38);
  EXPECT_NE(log2.console().find("number reservoirs              (SP)  : 1"), std::string::npos);
  EXPECT_NE(log2.console().find("entry SP 1: cannot read the reservoir code"), std::string::npos);
}

// What the water of a list misses is named, the lists that route every drop are not. The
// sub-basins are the example's: 1 and 3 flow into 4, 2 and 4 into 5, with 50, 64, 113, 120
// and 23 km2 (and 7 km2 of code 0 in one row); the areas upstream of the outlets are those
// the checked counts hold.
TEST(RoutingDescription, WaterThatMissesTheOutletItsAreasSayIsNamed) {
  const auto ol = [](int code, double area) {
    return "OL " + std::to_string(code) + " " + ChannelText(1000, area) + "\n";
  };
  const std::string head = "TG 1 (AE=50, AF=1)\nTG 2 (AE=64, AF=1)\nTG 3 (AE=113, AF=1)\n";
  const std::string five = "TG 5 (AE=370, AF=1)\n" + ol(2, 64) + ol(4, 283);
  struct Row {
    const char* what;
    std::string list;
    bool codeZero;
    std::vector<std::string> said;  // empty: no WARNING
  };
  const std::vector<Row> rows = {
      {"every sub-basin routed", head + "TG 4 (AE=283, AF=1)\n" + ol(1, 50) + ol(3, 113) + five, false, {}},
      {"areas rounded", head + "TG 4 (AE=280, AF=1)\n" + ol(1, 50) + ol(3, 110) + five, false, {}},
      {"a TG area of the sub-basin alone", head + "TG 4 (AE=120, AF=1)\n" + ol(1, 50) + ol(3, 113) + five, false, {}},
      {"two outlets", head + "TG 4 (AE=283, AF=1)\n" + ol(1, 50) + ol(3, 113) + "TG 5 (AE=87, AF=1)\n" + ol(2, 64),
       false, {}},
      {"a SUMTRIB", head + "TG 4 (AE=283, AF=1)\nSUMTRIB 1&3 " + ChannelText(1000, 163) + "\n" + five, false, {}},
      {"an OL left out", head + "TG 4 (AE=283, AF=1)\n" + ol(1, 50) + five, false,
       {"line 4: TG 4 gives 283 km2 upstream of its outlet, but the sub-basins routed into it hold 170 km2 of the zone "
        "grid, 113 km2 less",
        "Flowing into no other sub-basin: 3 with 113 km2, its TG on line 3. Is an OL entry missing?",
        "line 6: TG 5 gives 370 km2",
        "line 8: OL 4 gives the catchment area A = 283 km2, but the zone grid holds 170"}},
      {"an OL and its TG left out", "TG 1 (AE=50, AF=1)\nTG 2 (AE=64, AF=1)\nTG 4 (AE=283, AF=1)\n" + ol(1, 50) + five,
       false,
       {"sub-basin 3 (113 km2) of the zone grid has no routing description in [routing_model] of the control file and "
        "is the tributary of none: its runoff reaches no outlet",
        "3 with 113 km2, without a routing description"}},
      {"cells of code 0", head + "TG 4 (AE=283, AF=1)\n" + ol(1, 50) + ol(3, 113) + five, true,
       {"sub-basin 0 (7 km2)", "(the code 0 cannot be routed"}},
      {"an area in m2", head + "TG 4 (AE=283, AF=1)\n" + ol(1, 50e6) + ol(3, 113) + five, false,
       {"line 5: OL 1 gives the catchment area A = 5e+07 km2, but the zone grid holds 50 km2 upstream of the outlet of "
        "sub-basin 1: the channel's level-discharge table is built for A as written"}},
      {"a SUMTRIB of one sub-basin's area",
       head + "TG 4 (AE=283, AF=1)\nSUMTRIB 1&3 " + ChannelText(1000, 50) + "\n" + five, false,
       {"SUMTRIB 1 gives the catchment area A = 50 km2, but the zone grid holds 163 km2 upstream of the outlets of "
        "sub-basins 1 and 3"}},
  };
  for (const Row& r : rows) {
    std::vector<int> map = {0, 1, 2, 3, 4, 5};
    std::vector<double> area = {0.0, 50, 64, 113, 120, 23};
    if (r.codeZero) {
      map[0] = 6;
      area.push_back(7.0);
    }
    const SubbasinCodes codes{map.data(), 5};
    TextCursor c(r.list + "end\n");
    std::vector<std::vector<DescriptionLine>> lines;
    const std::vector<std::string> texts = JoinRoutingDescriptions(c, nullptr, &lines);
    std::vector<RoutingDescription> list;
    for (size_t k = 0; k < texts.size(); ++k) {
      list.push_back(ParseRoutingDescription(texts[k], static_cast<int>(k + 1), codes, 0, nullptr));
      list.back().lines = lines[k];
      // Upstream first: each TG holds its own area and its tributaries'.
      const RoutingDescription& d = list.back();
      for (const ChannelEntry& e : d.ol) area[codes.Internal(d.code)] += area[codes.Internal(e.code)];
      for (const ChannelEntry& e : d.sumtrib) {
        area[codes.Internal(d.code)] += area[codes.Internal(e.code)];
        for (int m : e.members) area[codes.Internal(d.code)] += area[codes.Internal(m)];
      }
    }
    CapturedLog log;
    WarnOfUnroutedAreas(list, codes, area, &log.log());
    const std::string text = log.console();
    if (r.said.empty()) {
      EXPECT_EQ(text, "") << r.what;
    }
    for (const std::string& words : r.said) EXPECT_NE(text.find(words), std::string::npos) << r.what << "\n" << text;
  }
}

TEST(RoutingDescription, ListWithoutDescriptionsBuildsNoObject) {
  CapturedLog log;
  RoutingBasin b;
  auto m = b.Start(b.Control(RoutingBasin::Settings(), "no routing here\n"), log.log());
  EXPECT_TRUE(m->routingObjects.empty());
  m->RunTimeStep(StepDate(0), 1, 1);
}

}  // namespace

// A keyword inside a word (a file name) is read as an entry all the same; the refusal then
// names the word that holds it, and never suggests so for a keyword that stands alone.
TEST(RoutingDescription, AKeywordInsideAWordIsNamedInTheRefusal) {
  const std::string ch = ChannelText(1000, 10);
  struct Case {
    std::string list;
    int code;
    const char* message;
    bool hint;
  } cases[] = {
      {"TG 1 (AE=10, AF=1)\nZL 1 = extern /srv/OLd/q.txt 0 1 " + ch + "\nend\n", 41,
       "entry OL 1: cannot read the tributary code; this OL stands inside the word \"/srv/OLd/q.txt\"", true},
      {"TG 3 (AE=60, AF=1)\nOL 1 (kh=x)\nend\n", 38, "entry OL 1: cannot read the channel value kh", false},
      {"TG 3 (AE=60, AF=1)\nOL x " + ch + "\nend\n", 41, "entry OL 1: cannot read the tributary code", false},
      {"TG 3 (AE=60, AF=1)\nZL 1 = extern qTG9.txt 0 1 " + ch + "\nend\n", 41,
       "there is no subbasin with code 9; this TG stands inside the word \"qTG9.txt\"", true},
  };
  for (const Case& c : cases) {
    CapturedLog log;
    RoutingBasin b;
    int code = 0;
    try {
      b.Start(b.Control(RoutingBasin::Settings(), c.list), log.log());
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, c.code) << c.list << "\n" << log.console();
    EXPECT_NE(log.console().find(c.message), std::string::npos) << c.list << "\n" << log.console();
    EXPECT_NE(log.console().find("of [routing_model] in "), std::string::npos) << log.console();
    EXPECT_EQ(log.console().find("stands inside the word") != std::string::npos, c.hint) << log.console();
  }
}
