// The tracer settings of [substance_transport]: the count, its limit, the keys and the
// items of every tracer line.
#include <gtest/gtest.h>

#include "init/tracer_ini.h"
#include "support/module_owner.h"
#include "support/test_support.h"

namespace {

struct Read {
  int error = -1;
  int count = -1;
  std::vector<TracerRecord> tracers;  // copy of the table, 0..count
  std::string console;
};

Read ReadTracers(const std::string& text) {
  TempDir dir;
  WriteTextFile(dir.file("t.ctl"), text);
  CapturedLog log;
  Read r;
  TracerRecord* table = nullptr;
  auto t = MakeModule<tracer_ini_class>(r.error, &log.log(), dir.file("t.ctl"), r.count, table, OutputSettings());
  if (r.count > 0) {
    EXPECT_EQ(table, t->tracers.data());
  } else {
    EXPECT_EQ(table, nullptr);
  }
  r.tracers = t->tracers;
  r.console = log.console();
  return r;
}

const char* kChloride =
    "Chloride non_radioactive non_evaporating min_conc = 0 max_conc = 100 mg/l soilini = 5 gwini = 10 "
    "statcode = 1001 gridcode = 11 path = ./out/ statext = sta gridext = grd\n";

// A section with one tracer line.
Read One(const std::string& line) { return ReadTracers("[substance_transport]\n1 tracer\n" + line + "\n[next]\n"); }

// The console shows a message without its "FATAL: " and ends it with a line break.
bool Says(const Read& r, std::string text) {
  if (text.compare(0, 7, "FATAL: ") == 0) text.erase(0, 7);
  const size_t end = text.find("[end-entry]");
  if (end != std::string::npos) text.replace(end, 11, "\n");
  return r.console.find(text) != std::string::npos;
}

}  // namespace

TEST(TracerSettings, CountAndKeys) {
  Read none = ReadTracers("[substance_transport]\n0 # none\n[next]\n");
  EXPECT_EQ(none.error, 0);
  EXPECT_EQ(none.count, 0);

  Read two = ReadTracers(std::string("[substance_transport]\n2\n") + kChloride +
                         "O2 radioactive half_time = 8.02 d evaporating min_conc = 1 soilini = 0 gwini = 0 "
                         "statcode = 0 gridcode = 0 path = p statext = s gridext = g max_conc = 5\n");
  ASSERT_EQ(two.error, 0) << two.console;
  ASSERT_EQ(two.count, 2);
  EXPECT_EQ(two.tracers[1].key, "chl");
  EXPECT_EQ(two.tracers[2].key, "o2_");
  EXPECT_NE(two.console.find("reading parameters for tracer 2 ..."), std::string::npos);
}

TEST(TracerSettings, ItemsOfATracerLine) {
  Read c = One(kChloride);
  ASSERT_EQ(c.error, 0) << c.console;
  const TracerRecord& t = c.tracers[1];
  EXPECT_EQ(t.radioactive, 0);
  EXPECT_EQ(t.halfTime, -9999.0);
  EXPECT_EQ(t.evaporating, 0);
  EXPECT_EQ(t.minConc, 0.0);
  EXPECT_EQ(t.maxConc, 100.0);  // a unit does not convert the value
  EXPECT_EQ(t.soilini, 5.0);
  EXPECT_EQ(t.gwini, 10.0);
  EXPECT_EQ(t.statcode, 1001);
  EXPECT_EQ(t.gridcode, 11);
  EXPECT_EQ(t.path, "./out/");
  EXPECT_EQ(t.statext, "sta");
  EXPECT_EQ(t.gridext, "grd");

  // items in another order; radioactive and evaporating; max_conc last without unit
  Read r = One("Iodine gridext = g statext = s path = p gridcode = 2 statcode = 3 gwini = 1.5 soilini = 2.5 "
               "evaporating min_conc = -1 radioactive half_time = 8.02 d max_conc = 5");
  ASSERT_EQ(r.error, 0) << r.console;
  EXPECT_EQ(r.tracers[1].radioactive, 1);
  EXPECT_EQ(r.tracers[1].halfTime, 8.02);
  EXPECT_EQ(r.tracers[1].evaporating, 1);
  EXPECT_EQ(r.tracers[1].maxConc, 5.0);
  EXPECT_EQ(r.tracers[1].minConc, -1.0);
  EXPECT_EQ(r.tracers[1].gwini, 1.5);
  EXPECT_EQ(r.tracers[1].gridcode, 2);
}

TEST(TracerSettings, Failures) {
  EXPECT_EQ(ReadTracers("[other]\n").error, 17);
  Read ten = ReadTracers("[substance_transport]\n10\n");
  EXPECT_EQ(ten.error, 58);
  EXPECT_TRUE(Says(ten, "not more than 9 tracer species"));
  EXPECT_FALSE(Says(ten, "reading parameters"));
  Read same = ReadTracers(std::string("[substance_transport]\n2\n") + kChloride + "chlorine y\n");
  EXPECT_EQ(same.error, 59);
  EXPECT_TRUE(Says(same, "substance #2 and substance #1 have the same"));
  EXPECT_TRUE(Says(same, "(chl <-> chl)"));
}

TEST(TracerSettings, HalfTimeFailures) {
  const std::string rest =
      " evaporating min_conc = 0 max_conc = 1 kg/kg soilini = 0 gwini = 0 statcode = 0 gridcode = 0 path = p "
      "statext = s gridext = g";
  struct Case {
    std::string decay, message;
  } cases[] = {
      {"radioactive", "need a \"half_time = xxxx d\" sequence!"},
      {"radioactive half_time 8 d", "no \"half_time =\" found!"},
      {"radioactive half_time = x d", "FATAL: error reading half_time for tracer 1[end-entry]"},
      {"radioactive half_time = 8.02 days", "no \"d\" for measure found!"},
      {"radioactive half_time = 0 d", "FATAL: error in half_time for tracer 1: must be greater than 0!"},
      {"decaying", "need a key word \"radioactive\" or \"non_radioactive\""},
  };
  for (const Case& k : cases) {
    Read r = One("Cs " + k.decay + rest);
    EXPECT_EQ(r.error, 56) << k.decay;
    EXPECT_TRUE(Says(r, k.message)) << k.decay << "\n" << r.console;
  }
}

TEST(TracerSettings, ItemFailures) {
  // each case removes or spoils one item of the chloride line
  struct Case {
    std::string from, to, message;
  } cases[] = {
      {"non_evaporating", "dry", "need a key word \"evaporating\" or \"non_evaporating\""},
      {"min_conc = 0", "min_c = 0", "need a key word \"min_conc = xxxx\""},
      {"min_conc = 0", "min_conc 0", "error reading min_conc for tracer 1: no \"min_conc =\" found!"},
      {"min_conc = 0", "min_conc = x", "FATAL: error reading min_conc for tracer 1[end-entry]"},
      {"100 mg/l", "100 mg/m3",
       "wrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: mg/m3"},
      {"100 mg/l", "100", "read here: soilini"},  // a unit-less max_conc must end the line
      {"100 mg/l", "x", "FATAL: error reading max_conc for tracer 1[end-entry]"},
      {"soilini = 5", "soilini = ?", "FATAL: error reading soilini for tracer 1![end-entry]"},
      {"gwini = 10", "gw = 10", "need a key word \"gwini = xxxx\""},
      {"statcode = 1001", "statcode= 1001",
       "error reading statcode for tracer 1:\nneed a key word \"statcode = xxxx\""},
      {"gridcode = 11", "gridcode = a", "FATAL: error reading gridcode for tracer 1![end-entry]"},
      {"path = ./out/", "dir = ./out/", "error reading path for tracer 1:\nneed a key word \"path = xxxx\""},
      {"gridext = grd", "gridext = " + std::string(300, 'g'), "FATAL: error reading gridext for tracer 1!"},
  };
  for (const Case& k : cases) {
    std::string line = kChloride;
    line.replace(line.find(k.from), k.from.size(), k.to);
    Read r = One(line);
    EXPECT_EQ(r.error, 56) << k.to;
    EXPECT_TRUE(Says(r, k.message)) << k.to << "\n" << r.console;
  }
}

TEST(TracerSettings, MissingTracerLineReadsTheNextSection) {
  Read r = ReadTracers(std::string("[substance_transport]\n2\n") + kChloride + "[next]\n");
  EXPECT_EQ(r.error, 56);
  EXPECT_TRUE(Says(r, "FATAL: error reading parameters for tracer 2:\n need a key word \"radioactive\""));
  EXPECT_TRUE(Says(r, "(may be, the number of tracers (2) is wrong?"));
}
