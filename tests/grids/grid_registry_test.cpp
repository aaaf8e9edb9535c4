#include <gtest/gtest.h>

#include "grid_fixture.h"

namespace {

struct Registry : ::testing::Test {
  GridModule m{4, 3};
  MatrixOwner a{3, 4}, b{3, 4}, c{3, 4};
  void Reg(int p, const std::string& internal, double** data, int code = 0, const std::string& file = "f.asc") {
    m.obj.RegisterGrid(p, file, data, nullptr, 0, internal, code, 1, 3);
  }
};

TEST_F(Registry, FindsByNameAndStopsAtTheFirstGap) {
  Reg(1, "zones", a.get());
  Reg(2, "dem", b.get());
  Reg(3, "dem", c.get());  // registered twice: the lower position wins
  Reg(5, "behind_gap", c.get());
  EXPECT_EQ(m.obj.FindGrid("zones"), 1);
  EXPECT_EQ(m.obj.FindGrid("dem"), 2);
  EXPECT_EQ(m.obj.FindGrid("behind_gap"), 0);
  EXPECT_EQ(m.obj.FindGrid("Dem"), 0);  // case-sensitive
  EXPECT_EQ(m.obj.FirstFreeGridPosition(), 4);

  m.obj.FreeGrid(2);
  EXPECT_EQ(m.obj.FindGrid("dem"), 0);  // position 3 now lies behind a gap
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireGrid("dem"); }), 33);
  EXPECT_EQ(m.obj.FirstFreeGridPosition(), 2);
}

TEST_F(Registry, UnfilledRecordsAndThePositionOne) {
  Registry::Reg(1, "zones", nullptr);
  Reg(2, "later", nullptr);
  Reg(3, "third", a.get());
  EXPECT_EQ(m.obj.FindGrid("zones"), 1);  // position 1 is always compared
  EXPECT_EQ(m.obj.FindGrid("later"), 0);
  EXPECT_EQ(m.obj.FindGrid("later", true), 2);
  EXPECT_EQ(m.obj.FindGrid("third"), 0);
  EXPECT_EQ(m.obj.FindGrid("third", true), 3);
  EXPECT_EQ(m.obj.RequireGrid("third"), 3);  // the requiring search ignores data

  GridModule empty(2, 2);
  EXPECT_EQ(empty.obj.FindGrid(""), 0);  // an unregistered position 1 ends every search
  EXPECT_EQ(GridModule::CodeOf([&] { empty.obj.RequireGrid(""); }), 33);
}

TEST_F(Registry, EmptyFileNameStillCountsAsRegistered) {
  Reg(1, "zones", a.get(), 0, "");
  Reg(2, "dem", b.get(), 0, "");
  EXPECT_EQ(m.obj.FindGrid("dem"), 2);
  EXPECT_EQ(m.obj.FirstFreeGridPosition(), 3);
}

TEST_F(Registry, RequireAlternativesInTheOrderOfTheNames) {
  Reg(1, "zones", a.get());
  Reg(2, "c", b.get());
  Reg(3, "b", c.get());
  EXPECT_EQ(m.obj.RequireOneOf3Grids("a", "b", "c"), 3);
  EXPECT_EQ(m.obj.RequireOneOf4Grids("x", "y", "c", "b"), 2);
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireOneOf3Grids("x", "y", "z"); }), 33);
  EXPECT_NE(m.log.console().find("Wether x, y or z \nwhere found in memory"), std::string::npos);
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireOneOf4Grids("p", "q", "r", "s"); }), 33);
  EXPECT_NE(m.log.console().find("p, q, r or s in the control file"), std::string::npos);
}

TEST_F(Registry, RequireGridNamesTheGridAndTheModule) {
  Reg(1, "zones", a.get());
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireGrid("snowcover_outflow"); }), 33);
  const std::string out = m.log.console();
  EXPECT_NE(out.find("snowcover_outflow not found in memory,\nThese data are needed within test_module"),
            std::string::npos);
}

// A module that makes a grid only in some set-ups may say why it made none; a module that
// requires the grid then names that reason. The note is forgotten when the grid is made.
TEST_F(Registry, RequireGridNamesWhyAModuleMadeNone) {
  Reg(1, "zones", a.get());
  NoteAbsentGrid(m.registry.Records(), "temperature_night", "made only with a day-long interval");
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireGrid("temperature_night"); }), 33);
  EXPECT_NE(m.log.console().find("-\nmade only with a day-long interval\n"), std::string::npos) << m.log.console();
  NoteAbsentGrid(m.registry.Records(), "temperature_night", "");
  EXPECT_EQ(GridModule::CodeOf([&] { m.obj.RequireGrid("temperature_night"); }), 33);
  const std::string out = m.log.console();
  EXPECT_EQ(out.find("made only"), out.rfind("made only"));  // the second message has no reason
}

TEST_F(Registry, WriteCodeDigitsAllocatePeriodGrids) {
  Reg(1, "g", a.get(), 1230, "out/g.asc");
  const GridRecord& r = m.registry[1];
  EXPECT_EQ(r.units, 0);
  EXPECT_EQ(r.tens, 3);
  EXPECT_EQ(r.h1, 0);
  EXPECT_EQ(r.h2, 1);
  EXPECT_EQ(r.thousands, 1);
  EXPECT_TRUE(r.periodT);
  EXPECT_FALSE(r.periodH1);
  EXPECT_TRUE(r.periodH2);
  EXPECT_TRUE(r.periodK);
  EXPECT_EQ(r.fileNameT, "out/g.asc");
  EXPECT_EQ(r.periodT[3][4], 0.0);

  Reg(2, "h", b.get(), 12345);
  const GridRecord& s = m.registry[2];
  EXPECT_EQ(s.units, 5);
  EXPECT_EQ(s.tens, 4);
  EXPECT_EQ(s.h1, 1);
  EXPECT_EQ(s.h2, 1);
  EXPECT_EQ(s.thousands, 2);
}

TEST_F(Registry, ReRegistrationKeepsTheFirstFileNameAndReleasesUnusedPeriodGrids) {
  Reg(1, "g", a.get(), 10, "first.asc");
  Reg(1, "g2", b.get(), 0, "second.asc");
  const GridRecord& r = m.registry[1];
  EXPECT_EQ(r.fileName, "second.asc");
  EXPECT_EQ(r.firstFileName, "first.asc");
  EXPECT_EQ(r.internalName, "g2");
  EXPECT_FALSE(r.periodT);  // no longer asked for: released, not leaked
}

TEST_F(Registry, FreeTwiceAndPositionsOutOfRange) {
  Reg(1, "g", a.get(), 3311);
  m.obj.FreeGrid(1);
  m.obj.FreeGrid(1);
  const GridRecord& r = m.registry[1];
  EXPECT_FALSE(r.registered);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(r.units + r.tens + r.h1 + r.h2 + r.thousands, 0);
  EXPECT_FALSE(r.periodT);
  m.obj.FreeGrid(0);
  m.obj.FreeGrid(1000);
  m.obj.FreeGrid(-5);
  for (int p : {0, 1000, 1001, -1}) EXPECT_EQ(GridModule::CodeOf([&] { Reg(p, "x", a.get()); }), 12) << p;
  EXPECT_NE(m.log.console().find("no free grid in memory,(max. 1000)!"), std::string::npos);
}

TEST_F(Registry, OverlongNamesAreRefused) {
  EXPECT_EQ(GridModule::CodeOf([&] { Reg(1, std::string(101, 'n'), a.get()); }), 12);
  EXPECT_EQ(GridModule::CodeOf([&] { Reg(1, "ok", a.get(), 0, std::string(2401, 'f')); }), 12);
  EXPECT_EQ(GridModule::CodeOf([&] { Reg(1, std::string(100, 'n'), a.get(), 0, std::string(2400, 'f')); }), 0);
}

TEST_F(Registry, CopyWhereValidCopiesActiveValidCells) {
  MatrixOwner source = m.Grid([](int r, int c) { return r * 10 + c; });
  MatrixOwner mask = m.Grid([](int r, int c) { return (r == 2 && c == 2) ? -9999.0 : 1.0; });
  Reg(1, "src", source.get());
  Reg(2, "mask", mask.get());
  MatrixOwner dest = m.Grid([](int, int) { return -1.0; });
  m.obj.rowBounds.assign(4, RowBounds{});
  m.obj.rowBounds[1] = {1, 4};
  m.obj.rowBounds[2] = {1, 3};
  m.obj.rowBounds[3] = {1, 0};  // no active cells
  m.obj.CopyWhereValid(1, 2, nullptr, dest.get());
  EXPECT_EQ(dest[1][4], 14.0);
  EXPECT_EQ(dest[2][1], 21.0);
  EXPECT_EQ(dest[2][2], -1.0);  // masked
  EXPECT_EQ(dest[2][4], -1.0);  // outside the active columns
  EXPECT_EQ(dest[3][1], -1.0);
  m.obj.CopyWhereValid(1, 2, nullptr, nullptr);  // no destination: nothing happens
}

}  // namespace
