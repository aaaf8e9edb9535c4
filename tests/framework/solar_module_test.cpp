// The solar operations of the process-module base: the module's site, month table and step.
#include <gtest/gtest.h>

#include "framework/solar_geometry.h"
#include "framework/teilmod.h"
#include "support/test_support.h"

namespace {

struct SolarModule {
  TempDir dir;
  CapturedLog log;
  int zoneCodes[2] = {0, 1};
  ModuleInputs in;

  explicit SolarModule(double latitude, double longitude = 8.0, double meridian = 15.0) {
    WriteTextFile(dir.file("run.ctl"), "[snow_model]\n1\n60\n");
    in.log = &log.log();
    in.controlFileName = dir.file("run.ctl");
    in.zoneCodeMap = zoneCodes;
    in.latitude = latitude;
    in.longitude = longitude;
    in.referenceMeridian = meridian;
  }
};

}  // namespace

TEST(SolarModule, MembersUseTheModulesTablesAndMeridian) {
  SolarModule s(47.0);
  teilmodellklasse m(s.in, "snow_model", 1, SectionRequirement::Required);
  EXPECT_NEAR(m.SolarDeclination(1, 1), -22.98, 0.005);
  EXPECT_DOUBLE_EQ(m.EquationOfTime(1, 3), -12.6 / 60.0);
  m.daysPerMonth[1] = 29;  // February follows the object's own table
  EXPECT_DOUBLE_EQ(m.SolarDeclination(1, 3), SolarDeclinationDegrees(2, 3, {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}}));
  double sr = 0, ss = 0;
  m.SunriseSunset(1, 3, sr, ss, 0.0, 15.0);  // equator, on the meridian
  EXPECT_DOUBLE_EQ(sr, 6.0 + 12.6 / 60.0);
  EXPECT_DOUBLE_EQ(ss, 18.0 + 12.6 / 60.0);
  double az = 0, el = 0;
  m.SunPosition(21, 6, az, el, 47.0, 8.0, 13.0);
  EXPECT_NEAR(el * 180.0 / kSolarPi, m.SunElevation(21, 6, 47.0, 8.0, 13.0), 1e-6);
  EXPECT_DOUBLE_EQ(m.CosIncidenceAngle(0.1, 0.0, 2.0, 0.0), 1.0);
}

TEST(SolarModule, DaylightFractionOfTheStoredStep) {
  SolarModule s(47.0);
  teilmodellklasse m(s.in, "snow_model", 1, SectionRequirement::Required);
  m.BeginTimeStep(0, 3, 21, 6, 2000);  // 02:00-03:00 in June: night
  EXPECT_EQ(m.DaylightFraction(), 1);
  EXPECT_EQ(m.nightPart, 1.0);
  m.BeginTimeStep(0, 13, 21, 6, 2000);
  EXPECT_EQ(m.DaylightFraction(), 0);
  EXPECT_EQ(m.daylightPart, 1.0);
  EXPECT_GT(m.sunset - m.sunrise, 15.0);

  SolarModule polar(80.0);
  teilmodellklasse p(polar.in, "snow_model", 1, SectionRequirement::Required);
  p.BeginTimeStep(0, 1, 21, 6, 2000);
  EXPECT_EQ(p.DaylightFraction(), 0);
  EXPECT_EQ(p.daylightPart, 1.0);
  p.BeginTimeStep(0, 13, 21, 12, 2000);
  EXPECT_EQ(p.DaylightFraction(), 1);
  EXPECT_EQ(p.daylightPart, 0.0);
}

TEST(SolarModule, EachStepUsesTheFebruaryOfItsOwnYear) {
  SolarModule s(47.0);
  teilmodellklasse m(s.in, "snow_model", 1, SectionRequirement::Required);
  m.daysPerMonth[1] = 29;  // as the start-up sets it for a run that ends in 2000
  const std::array<int, 12> common{{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  m.BeginTimeStep(0, 12, 1, 3, 1999);
  EXPECT_EQ(m.daysPerMonth[1], 28);
  EXPECT_DOUBLE_EQ(m.SolarDeclination(1, 3), SolarDeclinationDegrees(1, 3, common));
  m.BeginTimeStep(0, 12, 1, 3, 2000);
  EXPECT_EQ(m.daysPerMonth[1], 29);
  m.BeginTimeStep(-9999, -9999, -9999, -9999, -9999);  // a run without dates keeps the table
  EXPECT_EQ(m.daysPerMonth[1], 29);
}
