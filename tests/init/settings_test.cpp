// [output_interval] .. [meteo_names] and [model_time].
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "framework/control_keys.h"
#include "init_harness.h"

namespace {

namespace fs = std::filesystem;

const char* const kRest =
    "[output_list]\n0\n"
    "[coordinates]\n47.5 # lat\n8.25\n15\n1\n"
    "[meteo_data_count]\n2\n"
    "[meteo_names]\ntemperature  # air\nprecipitation\n";

struct Settings {
  InitHarness h;
  RunValues v;
  int code = -1;
  explicit Settings(const std::string& interval, const std::string& rest = kRest) {
    const std::string file = h.dir.file("c.ctl");
    WriteTextFile(file, interval + rest);
    code = ThrownCode([&] { h.d->ReadOutputControl(file, v); });
  }
};

TEST(OutputControl, ValuesAreReadAndBounded) {
  Settings s("[output_interval]\n24\n5\n5\n-10\n\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_EQ(s.v.outputInterval, 24);
  EXPECT_EQ(s.v.intOption, 1);
  EXPECT_EQ(s.v.thirdOption, 0);
  EXPECT_EQ(s.v.minToIntEnd, 0.0);
  EXPECT_EQ(s.v.minutesToInvEndRouting, 0.0);
  EXPECT_EQ(s.v.timestep, 0);
  EXPECT_DOUBLE_EQ(s.v.latitude, 47.5);
  EXPECT_DOUBLE_EQ(s.v.longitude, 8.25);
  EXPECT_DOUBLE_EQ(s.v.referenceMeridian, 15);
  EXPECT_DOUBLE_EQ(s.v.timeShift, 1);
  ASSERT_EQ(s.v.meteoCount, 2);
  EXPECT_EQ(s.v.meteoNames, (std::vector<std::string>{"", "temperature", "precipitation"}));
  EXPECT_TRUE(s.v.outputList.empty());
}

TEST(OutputControl, KeysUpToTheFirstEmptyLine) {
  Settings s(
      "[output_interval]\n1\n0\n1\n30\n"
      "  WriteNetcdfGrids = 1\n\tWriteAsciiGrids = 0\nDefaultOutputDirectory = /tmp # without its slash\n"
      "MinutesToInvEndRouting = 12.5\ntimestep = 15.0 # minutes\nunknown = 3\n\nWriteDoubleGrids = 1\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_TRUE(s.v.writeNetcdfGrids);
  EXPECT_FALSE(s.v.writeAsciiGrids);
  EXPECT_FALSE(s.v.writeDoubleGrids);
  EXPECT_EQ(s.v.defaultOutputDirectory, "/tmp/");
  EXPECT_DOUBLE_EQ(s.v.minutesToInvEndRouting, 12.5);
  EXPECT_DOUBLE_EQ(s.v.minToIntEnd, 30);
  EXPECT_EQ(s.v.timestep, 15);
  EXPECT_EQ(s.h.d->output.subHourTimeStep, 15);
  EXPECT_TRUE(s.h.d->output.writeNetcdfGrids);
  // The key no reader knows and the one behind the empty line are named, the others not.
  const std::string log = s.h.Console();
  EXPECT_NE(log.find("[output_interval], line 11 of none.ctl: no reader knows the key unknown, so its value is not "
                     "used; the nearest key of [output_interval] is timestep"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("the key WriteDoubleGrids stands behind the empty line 12, where the keys of [output_interval] "
                     "end: no reader reads it; move it above that line"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("the key DefaultOutputDirectory"), std::string::npos) << log;
}

TEST(ControlKeys, KeysSetAndTheNearestKnownOne) {
  EXPECT_EQ(KeysSetIn("a = 1 b=2 c =x=y outname = d=e.asc x.y = 3 =4"),
            (std::vector<std::string>{"a", "b", "c", "outname"}));
  EXPECT_EQ(NearestKey("defaultoutputdirectroy", {"InitialStateDirectory", "DefaultOutputDirectory"}),
            "DefaultOutputDirectory");
  EXPECT_EQ(NearestKey("x", {}), "");
}

// A directory value is an existing folder, with or without its "/", or the beginning of
// every name in a folder that exists ("out/run1_"); without any "/" and naming no folder, the
// beginning of names in the working folder, said in a WARNING.
TEST(OutputControl, DirectoriesAreFoldersOrTheBeginningOfNames) {
  TempDir dir;
  fs::create_directories(dir.file("out"));
  WriteTextFile(dir.file("a.txt"), "a file");
  struct Case {
    std::string key, value;
    int code;
    std::string taken, message;
  } cases[] = {
      {"DefaultOutputDirectory", dir.file("out"), -1, dir.file("out/"), ""},
      {"DefaultOutputDirectory", dir.file("out//"), -1, dir.file("out/"), ""},
      {"DefaultOutputDirectory", dir.file("out/run1_"), -1, dir.file("out/run1_"), ""},
      {"DefaultOutputDirectory", "orvel_no_such_folder_", -1, "orvel_no_such_folder_",
       " names no folder: every output of the run is written in the working folder under a name beginning with "
           "\"orvel_no_such_folder_\""},
      {"DefaultOutputDirectory", dir.file("none/run1_"), 26, "",
       ": " + dir.file("none/") + " names no folder (No such file or directory): every output of the run goes "
           "into that folder, under a name beginning with \"run1_\""},
      {"DefaultOutputDirectory", dir.file("none/"), 26, "",
       " names no folder (No such file or directory): every output of the run goes into that folder; name an "
       "existing folder"},
      {"DefaultOutputDirectory", dir.file("a.txt/run1_"), 26, "", ": " + dir.file("a.txt/") + " names a file, not a folder"},
      {"InitialStateDirectory", dir.file("out"), -1, dir.file("out/"), ""},
      {"InitialStateDirectory", "orvel_no_such_state_", -1, "orvel_no_such_state_",
       " names no folder: the storage file of a warm start is read in the working folder under a name beginning with "
       "\"orvel_no_such_state_\""},
      // Read only by a warm start, whose reader names the file it cannot open.
      {"InitialStateDirectory", dir.file("none/"), -1, dir.file("none/"), ""},
  };
  for (const Case& c : cases) {
    Settings s("[output_interval]\n1\n0\n0\n60\n" + c.key + " = " + c.value + "\n\n");
    EXPECT_EQ(s.code, c.code) << c.key << " = " << c.value << "\n" << s.h.Console();
    const std::string& taken = c.key == "InitialStateDirectory" ? s.v.initialStateDirectory : s.v.defaultOutputDirectory;
    if (c.code == -1) {
      EXPECT_EQ(taken, c.taken);
    }
    const std::string said = c.key + " = " + c.value + " in [output_interval] of " + s.h.d->controlFileName;
    if (c.message.empty()) {
      EXPECT_EQ(s.h.Console().find(said), std::string::npos) << s.h.Console();
    } else {
      EXPECT_NE(s.h.Console().find(said + c.message), std::string::npos) << s.h.Console();
    }
  }
}

// A key given twice: the later line is used, and the earlier one named.
TEST(OutputControl, AKeyGivenAgainNamesTheLineNotUsed) {
  Settings s("[output_interval]\n1\n0\n0\n60\nDefaultOutputDirectory = /\nWriteAsciiGrids = 1\n"
             "DefaultOutputDirectory = /tmp/\n\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_EQ(s.v.defaultOutputDirectory, "/tmp/");
  const std::string console = s.h.Console();
  const std::string warning = "[output_interval] of " + s.h.d->controlFileName + " gives DefaultOutputDirectory again: "
                              "line 6 (\"DefaultOutputDirectory = /\") is not used, line 8 (\"DefaultOutputDirectory = "
                              "/tmp/\") is";
  const size_t at = console.find(warning);
  EXPECT_NE(at, std::string::npos) << console;
  EXPECT_EQ(console.find(" again: ", at + warning.size()), std::string::npos) << console;
}

// The keys end where the next section begins, with or without an empty line before it: the
// keys of the key form of [model_time] behind them are no keys of [output_interval]. A key on
// the last line of the file is read though that line has no line break.
TEST(OutputControl, KeysEndWhereTheNextSectionBegins) {
  Settings s("[output_interval]\n1\n0\n0\n60\nWriteAsciiGrids = 1\n[model_time]\nstartminute = 0\nendhour = 24\n\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_TRUE(s.v.writeAsciiGrids);
  EXPECT_EQ(s.h.Console().find("the key startminute"), std::string::npos) << s.h.Console();
  Settings last(std::string(kRest) + "[output_interval]\n1\n0\n0\n60\nWriteDoubleGrids = 1", "");
  ASSERT_EQ(last.code, -1) << last.h.Console();
  EXPECT_TRUE(last.v.writeDoubleGrids);
  // A key of the section is still named when the next section follows at once.
  Settings misspelt("[output_interval]\n1\n0\n0\n60\nWriteAsciGrids = 1\n");
  EXPECT_NE(misspelt.h.Console().find("no reader knows the key WriteAsciGrids"), std::string::npos)
      << misspelt.h.Console();
}

TEST(OutputControl, EmptyLineWithCarriageReturnEndsTheKeys) {
  Settings s("[output_interval]\r\n1\r\n0\r\n0\r\n60\r\n\r\nWriteDoubleGrids = 1\r\n");
  ASSERT_EQ(s.code, -1) << s.h.Console();
  EXPECT_FALSE(s.v.writeDoubleGrids);
  EXPECT_DOUBLE_EQ(s.v.minutesToInvEndRouting, 60);
}

TEST(OutputControl, OutputListMustAscend) {
  Settings ok("[output_interval]\n1\n", "[output_list]\n3\n3\n7\n12\n[coordinates]\n1\n2\n3\n4\n"
                                        "[meteo_data_count]\n0\n[meteo_names]\n");
  ASSERT_EQ(ok.code, -1) << ok.h.Console();
  EXPECT_EQ(ok.v.outputList, (std::vector<int>{0, 3, 7, 12}));
  Settings bad("[output_interval]\n1\n", "[output_list]\n3\n3\n7\n7\n[coordinates]\n1\n2\n3\n4\n"
                                         "[meteo_data_count]\n0\n[meteo_names]\n");
  EXPECT_EQ(bad.code, 97);
  EXPECT_NE(bad.h.Console().find("order of subbasin codes in output_list"), std::string::npos);
}

TEST(OutputControl, MalformedInputFails) {
  struct Case {
    std::string interval, rest, message;
    int code;
  } cases[] = {
      {"[output_interval]\nabc\n", kRest, "error in control file, output control; not found!", 17},
      {"[output_interval]\n1\n0\n0\n60\nWriteAsciiGrids = yes\n\n", kRest, "WriteAsciiGrids", 17},
      {"[output_interval]\n1\n0\n0\n60\ntimestep = x\n\n", kRest, "timestep", 17},
      // A fraction or a decimal comma is not read as its first digits.
      {"[output_interval]\n1\n0\n0\n60\ntimestep = 1.5\n\n", kRest, "the value of timestep", 17},
      {"[output_interval]\n1\n0\n0\n60\nMinutesToInvEndRouting = 12,5\n\n", kRest, "is not a number", 17},
      {"[output_interval]\n1\n", "[output_list]\n0\n[coordinates]\n1\nnorth\n", "geographic longitude", 17},
      {"[output_interval]\n1\n", "[output_list]\n0\n[coordinates]\n1\n2\n3\n4\n", "[meteo_data_count]", 17},
      {"[output_interval]\n1\n",
       "[output_list]\n0\n[coordinates]\n1\n2\n3\n4\n[meteo_data_count]\n1\n[meteo_names]\n" +
           std::string(201, 'n') + "\n",
       "longer than 200", 17},
      {"[output_interval]\n1\n",
       "[output_list]\n0\n[coordinates]\n1\n2\n3\n4\n[meteo_data_count]\n-1\n[meteo_names]\n",
       "section [meteo_data_count]: the number of meteorological variables (-1) must be 0 to 999", 17},
  };
  for (const Case& c : cases) {
    Settings s(c.interval, c.rest);
    EXPECT_EQ(s.code, c.code) << c.message;
    EXPECT_NE(s.h.Console().find(c.message), std::string::npos) << s.h.Console();
  }
  InitHarness h;
  RunValues v;
  EXPECT_EQ(ThrownCode([&] { h.d->ReadOutputControl(h.dir.file("none.ctl"), v); }), 28);
}

// [model_time] read from a control-file text (key form when timestep is set).
struct ModelTime {
  InitHarness h;
  int code = -1;
  ModelTime(const std::string& section, int timestep = 0) {
    h.d->output.subHourTimeStep = timestep;
    h.d->controlFile.SetText(section);
    h.d->controlFileOpen = true;
    code = ThrownCode([&] { h.d->ReadModelTime(); });
  }
  const ModelDate& s() const { return h.d->run.start; }
  const ModelDate& e() const { return h.d->run.end; }
};

TEST(ModelTimeSection, LegacyFormWithCorrections) {
  ModelTime t("[model_time]\n6 # h\n31\n1\n95\n23\n31\n12\n2004\n");
  ASSERT_EQ(t.code, -1) << t.h.Console();
  EXPECT_EQ(t.s().year, 1995);
  EXPECT_EQ(t.s().month, 1);
  EXPECT_EQ(t.s().day, 31);
  EXPECT_EQ(t.s().hour, 6);
  EXPECT_EQ(t.s().minute, 0);
  EXPECT_EQ(t.e().month, 12);
  EXPECT_EQ(t.e().day, 31);
  EXPECT_EQ(t.e().minute, 0);
  EXPECT_EQ(t.h.d->daysPerMonth[1], 29);
}

TEST(ModelTimeSection, FebruaryFollowsTheGregorianRule) {
  struct Case {
    int year, expectedDay;
  } cases[] = {{2004, 29}, {2000, 29}, {1900, 28}, {2001, 28}};
  for (const Case& c : cases) {
    ModelTime t("[model_time]\n0\n30\n2\n" + std::to_string(c.year) + "\n0\n30\n2\n" + std::to_string(c.year) + "\n");
    ASSERT_EQ(t.code, -1);
    EXPECT_EQ(t.e().day, c.expectedDay) << c.year;
    EXPECT_EQ(t.s().day, c.expectedDay) << c.year;
    EXPECT_EQ(t.h.d->daysPerMonth[1], c.expectedDay) << c.year;
  }
  // The start day uses its own year's February.
  ModelTime t("[model_time]\n0\n29\n2\n1999\n0\n1\n3\n2000\n");
  EXPECT_EQ(t.s().day, 28);
  ModelTime april("[model_time]\n0\n1\n1\n2001\n0\n31\n4\n2001\n");
  EXPECT_EQ(april.e().day, 30);
  ModelTime thousand("[model_time]\n0\n1\n1\n1000\n0\n1\n1\n999\n");
  EXPECT_EQ(thousand.s().year, 1000);
  EXPECT_EQ(thousand.e().year, 2899);
}

TEST(ModelTimeSection, KeyFormInAnyOrderUpToTheFirstEmptyLine) {
  ModelTime t(
      "[model_time]\nendday = 5\nendminute=30\n  startminute = 15\nstarthour = 1\nstartday = 2\nstartmonth = 3\n"
      "startyear = 2001\nendhour = 4\nendmonth = 6\nendyear = 2002\n\nendday = 9\n",
      15);
  ASSERT_EQ(t.code, -1) << t.h.Console();
  EXPECT_EQ(t.s().Key(), DateKey(2001, 3, 2, 1, 15));
  EXPECT_EQ(t.e().Key(), DateKey(2002, 6, 5, 4, 30));

  // Directly followed by a land-use table of keyword entries: its keys are none of [model_time].
  ModelTime table(
      "[model_time]\nstartminute = 0\nstarthour = 1\nstartday = 2\nstartmonth = 3\nstartyear = 2001\nendminute = 0\n"
      "endhour = 4\nendday = 5\nendmonth = 6\nendyear = 2002\n[landuse_table]\n1\n1 grass { method = VariableDayCount;\n"
      "  LAI = 1 2 2 1; }\n",
      15);
  ASSERT_EQ(table.code, -1) << table.h.Console();
  EXPECT_EQ(table.h.Console().find("no reader knows"), std::string::npos) << table.h.Console();

  ModelTime missing("[model_time]\nstartminute = 0\nstarthour = 1\nstartday = 2\nstartmonth = 3\nstartyear = 2001\n"
                    "endminute = 0\nendhour = 4\nendday = 5\nendmonth = 6\n\nendyear = 2002\n",
                    15);
  EXPECT_EQ(missing.code, 1301);
  EXPECT_NE(missing.h.Console().find("one or more values of start and end time couldn't be read"),
            std::string::npos);
}

TEST(ModelTimeSection, MalformedValuesFail) {
  ModelTime word("[model_time]\n0\n1\nJanuary\n2000\n0\n1\n1\n2000\n");
  EXPECT_EQ(word.code, 17);
  EXPECT_NE(word.h.Console().find("error in control file, starting month in ; defaultsnot found!"),
            std::string::npos)
      << word.h.Console();
  ModelTime keyWord("[model_time]\nstartyear = soon\n", 15);
  EXPECT_EQ(keyWord.code, 17);
  ModelTime noSection("[other]\n1\n");
  EXPECT_EQ(noSection.code, 17);
}

// Every field is checked before the date key is formed, so that a wild year cannot
// overflow it; the message names the field and its range.
TEST(ModelTimeSection, FieldsOutOfRangeAndEndBeforeStartFail) {
  struct Case {
    const char* values;  // start hour day month year, end hour day month year
    const char* message;
  } cases[] = {
      {"1 1 1 1985 24 31 13 1985", "the end month (13) has to lie between 1 and 12"},
      {"1 1 0 1985 24 31 1 1985", "the start month (0) has to lie between 1 and 12"},
      {"1 1 1 1985 24 31 1 9223372036854775807", "the end year (9223372036854775807) has to lie between 1000 and 9999"},
      {"1 1 1 1985 24 31 1 10000", "the end year (10000)"},
      {"1 1 1 -5 24 31 1 1985", "the start year (-5)"},
      {"25 1 1 1985 24 31 1 1985", "the start hour (25) has to lie between 0 and 24"},
      {"1 1 1 1985 -1 31 1 1985", "the end hour (-1)"},
      {"1 0 1 1985 24 31 1 1985", "the start day (0) has to lie between 1 and 31"},
      {"1 1 1 1985 24 32 1 1985", "the end day (32)"},
      {"1 2 1 1985 24 1 1 1985", "the end of the simulation (1.1.1985 24:0) lies before its start (2.1.1985 1:0)"},
      {"1 1 1 1986 24 31 12 85", "the end of the simulation (31.12.1985 24:0) lies before its start"},
  };
  for (const Case& c : cases) {
    std::string text = "[model_time]\n";
    std::istringstream values(c.values);
    for (std::string v; values >> v;) text += v + "\n";
    ModelTime t(text);
    EXPECT_EQ(t.code, 17) << c.values;
    EXPECT_NE(t.h.Console().find("section [model_time]: " + std::string(c.message)), std::string::npos)
        << c.values << "\n" << t.h.Console();
  }
  ModelTime minute("[model_time]\nstartminute = 60\nstarthour = 1\nstartday = 2\nstartmonth = 3\n"
                   "startyear = 2001\nendminute = 0\nendhour = 4\nendday = 5\nendmonth = 6\nendyear = 2002\n",
                   15);
  EXPECT_EQ(minute.code, 17);
  EXPECT_NE(minute.h.Console().find("the start minute (60) has to lie between 0 and 59"), std::string::npos);
  // One step (start = end) is a period.
  ModelTime oneStep("[model_time]\n5\n1\n1\n2000\n5\n1\n1\n2000\n");
  EXPECT_EQ(oneStep.code, -1) << oneStep.h.Console();
}

}  // namespace
