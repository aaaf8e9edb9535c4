// The special output module: its section, the file blocks and the per-step rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/point_output.h"
#include "grids/grid_registry.h"
#include "support/module_owner.h"
#include "support/test_support.h"

namespace {

// A 3 x 3 grid (cell size 100 from 0/0) with a registered grid "snowcover_outflow" and
// the instance's regions grid.
struct SpecialFixture {
  TempDir dir;
  CapturedLog log;
  int zoneCodes[2] = {0, 1};
  GridRegistry registry;
  MatrixOwner outflow{3, 3}, regions{3, 3};
  ModuleInputs in;

  SpecialFixture() {
    in.log = &log.log();
    in.controlFileName = dir.file("run.ctl");
    in.zoneCodeMap = zoneCodes;
    in.grids = registry.Records();
    in.geometry.ncols = 3;
    in.geometry.nrows = 3;
    in.geometry.cellsize = 100;
    in.firstRow = 1;
    in.lastRow = 3;
    in.output.defaultOutputDirectory = dir.path() + "/";
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 3; ++c) {
        outflow[r][c] = r + c / 10.0;
        regions[r][c] = 0;
      }
    regions[1][3] = -9999;
    Register(1, "MPIRegions", regions.get());
    Register(2, "snowcover_outflow", outflow.get());
  }
  void Register(int p, const std::string& name, double** data) {
    registry[p].internalName = name;
    registry[p].data = data;
    registry[p].registered = true;
  }
  ModuleOwner<SpecialOutputClass> Build(const std::string& section, int& error) {
    WriteTextFile(dir.file("run.ctl"), "[model_time]\n1\n" + section + "[next_section]\n1\n");
    return MakeModule<SpecialOutputClass>(error, in, 1);
  }
};

const char* kExample =
    "[special_output]\n1    flow control parameter\n60   time interval\nnumfiles = 2;\n"
    "{\n"
    "filename = points_a.txt; header = storages;\n"
    "entity { ID = snowcover_outflow; Symbol = SO; Xcoords = 150 250; Ycoords = 250 50; }\n"
    "entity { ID = snowcover_outflow; Symbol = SX; Xcoords = 250; Ycoords = 250; }\n"
    "}\n"
    "{ filename = points_b.txt; header = b; entity { ID = snowcover_outflow; Symbol = B; Xcoords = 50; Ycoords = 50; } }\n";

}  // namespace

TEST(SpecialOutput, WritesTheExampleSection) {
  SpecialFixture f;
  int error = -1;
  auto m = f.Build(kExample, error);
  ASSERT_EQ(error, 0) << f.log.console();
  ASSERT_EQ(m->Files().size(), 2u);
  EXPECT_EQ(m->fileCount, 2);
  EXPECT_FALSE(m->ControlFileIsOpen());
  m->CollectValues(0, 1, 1, 1, 1990);
  m->CollectValues(0, 2, 1, 1, 1990);
  m->FlushAll();
  m->CollectValues(0, 3, 1, 1, 1990);
  m.Release();  // writes the third row
  EXPECT_TRUE(m->Files().empty());
  EXPECT_EQ(ReadTextFile(f.dir.file("points_a.txt")),
            "YY\tMM\tDD\tHH\tSO/2/1\tSO/3/3\tSX/3/1\n"
            "storages\n"
            "YY\tMM\tDD\tHH\tSO/150/250\tSO/250/50\tSX/250/250\n"
            "1990\t1\t1\t1\t1.2\t3.3\t-9999\n"
            "1990\t1\t1\t2\t1.2\t3.3\t-9999\n"
            "1990\t1\t1\t3\t1.2\t3.3\t-9999\n");
  EXPECT_EQ(ReadTextFile(f.dir.file("points_b.txt")),
            "YY\tMM\tDD\tHH\tB/1/3\nb\nYY\tMM\tDD\tHH\tB/50/50\n"
            "1990\t1\t1\t1\t3.1\n1990\t1\t1\t2\t3.1\n1990\t1\t1\t3\t3.1\n");
  EXPECT_NE(f.log.console().find("file teilmod, compiled at "), std::string::npos);
}

TEST(SpecialOutput, SwitchedOffOrWithoutSection) {
  SpecialFixture f;
  int error = -1;
  auto off = f.Build("[special_output]\n0\n60\nnumfiles = 1;\n{ filename = x.txt; header = h; }\n", error);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(off->Files().empty());
  error = -1;
  auto none = f.Build("", error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(none->GetFlowControl(), 0);
  error = -1;
  auto zero = f.Build("[special_output]\n1\n60\nnumfiles = 0;\n", error);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(zero->Files().empty());
  zero->CollectValues(0, 1, 1, 1, 1990);
  zero->FlushAll();
}

TEST(SpecialOutput, OneLineBlocksDoNotSwallowTheNextBlock) {
  SpecialFixture f;
  int error = -1;
  auto m = f.Build("[special_output]\n1\n60\nnumfiles = 2;\n"
                   "{ filename = one.txt; header = h; }\n"
                   "{ filename = two.txt; header = h;\n"
                   "}\n",
                   error);
  ASSERT_EQ(error, 0) << f.log.console();
  ASSERT_EQ(m->Files().size(), 2u);
  EXPECT_EQ(m->Files()[1]->FileName(), f.dir.file("two.txt"));
}

TEST(SpecialOutput, FailuresBecomeTheErrorCode) {
  struct Case {
    const char* section;
    int code;
  } cases[] = {
      {"[special_output]\n1\n60\n", 104},                                     // no numfiles line
      {"[special_output]\n1\n60\nfiles = 1;\n", 104},                         // no numfiles key
      {"[special_output]\n1\n60\nnumfiles = 1;\n{ header = h; }\n", 104},     // no filename
      {"[special_output]\n1\n60\nnumfiles = 2;\n{ filename = a; header = h; }\n", 104},  // too few blocks
      {"[special_output]\n1\n60\nnumfiles = 1;\n{ filename = a; header = h;\n"
       "entity { ID = x; Symbol = S; Xcoords = 50 150; Ycoords = 50; } }\n",
       1006},
      {"[special_output]\n1\n60\nnumfiles = 1;\n{ filename = a; header = h;\n"
       "entity { ID = x; Symbol = S; Xcoords = 350; Ycoords = 50; } }\n",
       1008},
  };
  for (const Case& c : cases) {
    SpecialFixture f;
    int error = -1;
    auto m = f.Build(c.section, error);
    EXPECT_EQ(error, c.code) << c.section;
  }
  // files built before the failure stay
  SpecialFixture f;
  int error = -1;
  auto m = f.Build("[special_output]\n1\n60\nnumfiles = 2;\n{ filename = a; header = h; }\n"
                   "{ filename = b; header = h; entity { ID = x; Symbol = S; Xcoords = 50; Ycoords = 999; } }\n",
                   error);
  EXPECT_EQ(error, 1008);
  EXPECT_EQ(m->Files().size(), 1u);
}

TEST(SpecialOutput, TheExampleBasinWritesItsPoints) {
  TempDir dir;
  const std::string basin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";
  CopyExampleInputs(basin, dir.path());
  std::filesystem::create_directories(dir.file("output"));
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml", &out), 0)
      << out;
  std::string text = ReadTextFile(dir.file("output/points.txt"));
  std::vector<std::string> lines;
  for (size_t p = 0, n; (n = text.find('\n', p)) != std::string::npos; p = n + 1) lines.push_back(text.substr(p, n - p));
  // one row per hourly step of January 1985 (the step of 1 February 0:00 ends the run)
  ASSERT_EQ(lines.size(), 3u + 744u) << text.substr(0, 2000);
  EXPECT_EQ(lines[0].rfind("YY\tMM\tDD\tHH\tDEM/23/2\t", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "elevation_slope_coordinates");
  // a value at every point
  EXPECT_EQ(lines[3].rfind("1985\t1\t1\t1\t", 0), 0u) << lines[3];
  EXPECT_EQ(lines.back().rfind("1985\t2\t1\t0\t", 0), 0u) << lines.back();
  EXPECT_EQ(lines[3].find("\t-9999"), std::string::npos) << lines[3];
}

// Steps under an hour share their hour: the rows carry the minute after the hour, as the
// statistics files do, so that no two rows have the same date. Hourly and daily runs (and
// a run whose step is not known) keep the four date columns their readers expect.
TEST(SpecialOutput, RunsOfStepsUnderAnHourWriteTheMinute) {
  const char* section =
      "[special_output]\n1\n15\nnumfiles = 1;\n"
      "{ filename = p.txt; header = h; entity { ID = snowcover_outflow; Symbol = B; Xcoords = 50; Ycoords = 50; } }\n";
  struct Case {
    int runStep;
    const char* expected;
  } cases[] = {
      {15,
       "YY\tMM\tDD\tHH\tmm\tB/1/3\nh\nYY\tMM\tDD\tHH\tmm\tB/50/50\n"
       "1990\t1\t1\t1\t15\t3.1\n1990\t1\t1\t1\t30\t3.1\n"},
      {1, "YY\tMM\tDD\tHH\tmm\tB/1/3\nh\nYY\tMM\tDD\tHH\tmm\tB/50/50\n1990\t1\t1\t1\t15\t3.1\n1990\t1\t1\t1\t30\t3.1\n"},
      {60, "YY\tMM\tDD\tHH\tB/1/3\nh\nYY\tMM\tDD\tHH\tB/50/50\n1990\t1\t1\t1\t3.1\n1990\t1\t1\t1\t3.1\n"},
      {1440, "YY\tMM\tDD\tHH\tB/1/3\nh\nYY\tMM\tDD\tHH\tB/50/50\n1990\t1\t1\t1\t3.1\n1990\t1\t1\t1\t3.1\n"},
      {0, "YY\tMM\tDD\tHH\tB/1/3\nh\nYY\tMM\tDD\tHH\tB/50/50\n1990\t1\t1\t1\t3.1\n1990\t1\t1\t1\t3.1\n"},
  };
  for (const Case& c : cases) {
    SpecialFixture f;
    f.in.runStepMinutes = c.runStep;
    int error = -1;
    auto m = f.Build(section, error);
    ASSERT_EQ(error, 0) << f.log.console();
    m->CollectValues(15, 1, 1, 1, 1990);
    m->CollectValues(30, 1, 1, 1, 1990);
    m.Release();
    EXPECT_EQ(ReadTextFile(f.dir.file("p.txt")), c.expected) << "step " << c.runStep;
  }
}
