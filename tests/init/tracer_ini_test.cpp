// The tracer settings of [substance_transport]: the count, its limit and the keys.
#include <gtest/gtest.h>

#include "init/tracer_ini.h"
#include "support/test_support.h"

namespace {

struct Read {
  int error = -1;
  int count = -1;
  TracerRecord* table = nullptr;
  std::string console;
};

Read ReadTracers(const std::string& text) {
  TempDir dir;
  WriteTextFile(dir.file("t.ctl"), text);
  CapturedLog log;
  Read r;
  tracer_ini_class t(r.error, &log.log(), dir.file("t.ctl"), r.count, r.table, OutputSettings());
  if (r.count > 0) {
    EXPECT_EQ(r.table, t.tracers.data());
  }
  r.table = nullptr;  // belongs to t
  r.console = log.console();
  t.DeleteModule();
  return r;
}

}  // namespace

TEST(TracerSettings, CountAndKeys) {
  Read none = ReadTracers("[substance_transport]\n0 # none\n[next]\n");
  EXPECT_EQ(none.error, 0);
  EXPECT_EQ(none.count, 0);

  Read two = ReadTracers("[substance_transport]\n2\nChloride non_radioactive\nO2 non_radioactive\n");
  EXPECT_EQ(two.error, 0);
  EXPECT_EQ(two.count, 2);
  EXPECT_EQ(TracerKey("Chloride"), "chl");
  EXPECT_EQ(TracerKey("O2"), "o2_");
}

TEST(TracerSettings, Failures) {
  EXPECT_EQ(ReadTracers("[other]\n").error, 17);
  Read ten = ReadTracers("[substance_transport]\n10\n");
  EXPECT_EQ(ten.error, 58);
  EXPECT_NE(ten.console.find("not more than 9 tracer species"), std::string::npos);
  Read same = ReadTracers("[substance_transport]\n2\nChloride x\nchlorine y\n");
  EXPECT_EQ(same.error, 59);
  EXPECT_NE(same.console.find("substance #2 and substance #1 have the same"), std::string::npos);
  EXPECT_NE(same.console.find("(chl <-> chl)"), std::string::npos);
}
