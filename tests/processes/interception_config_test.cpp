// Construction of the interception module: its section, the grids it creates and where,
// and every way a section or a basin can be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "grids/grid_reader.h"
#include "interception_basin.h"
#include "processes/interception/layer_names.h"

namespace {

int PositionOf(InterceptionBasin& b, const std::string& name) {
  for (int p = 1; p < kGridRegistrySize; ++p)
    if (b.registry[p].internalName == name) return p;
  return 0;
}

}  // namespace

TEST(InterceptionConfig, LayerGridsTakeConsecutivePositionsWithLayerFileNames) {
  InterceptionBasin b(3, 4, 2);
  b.WriteControl(InterceptionBasin::Section(2, 0.5, 0, 0, "out/"));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  EXPECT_EQ(m->GetMethod(), 2);
  EXPECT_EQ(m->layerCount, 2);
  const int p = PositionOf(b, "interception_storage0");
  ASSERT_GT(p, 0);
  const char* order[] = {"interception_storage", "interception_evaporation", "throughfall"};
  for (int k = 0; k <= 2; ++k)
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(PositionOf(b, order[i] + std::to_string(k)), p + 3 * k + i) << order[i] << k;
  EXPECT_EQ(b.registry[p + 3].fileName, "out/stor_Layer_1.asc");
  EXPECT_EQ(b.registry[p + 8].fileName, "out/thr_Layer_2.asc");
  EXPECT_EQ(m->layers[2].evaporationStatFile, "out/evap_Layer_2.stat");
  // no-data outside the basin, 0 inside
  EXPECT_EQ(m->layers[1].storage[2][4], -9999.0);
  EXPECT_EQ(m->layers[1].throughfall[1][1], 0.0);
  m.Release();
  EXPECT_EQ(PositionOf(b, "throughfall2"), 0);
}

TEST(InterceptionConfig, LayerNamesInsertBeforeTheExtensionOfTheFileOnly) {
  EXPECT_EQ(LayerFileName("stor.asc", 2), "stor_Layer_2.asc");
  EXPECT_EQ(LayerFileName("a.b.asc", 1), "a.b_Layer_1.asc");
  EXPECT_EQ(LayerFileName("stor", 3), "stor_Layer_3");
  EXPECT_EQ(LayerFileName("./out/stor", 1), "./out/stor_Layer_1");
}

TEST(InterceptionConfig, SwitchedOffModuleReadsNothingAndAnswersMethodZero) {
  InterceptionBasin b(2, 3);
  b.WriteControl("[interception_model]\n0\n60\n");
  int error = -1;
  auto m = b.Make(error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(m->GetMethod(), 0);
  EXPECT_EQ(PositionOf(b, "throughfall0"), 0);
  m->Run(ModelDate{0, 1, 1, 1, 2001});  // does nothing
}

TEST(InterceptionConfig, MethodsAboveTenTakePrecipitationBelowTenTheSnowOutflow) {
  for (int method : {1, 11}) {
    InterceptionBasin b(2, 3);
    double** outflow = b.Add("snowcover_outflow", 7.0);
    b.WriteControl(InterceptionBasin::Section(method));
    int error = -1;
    auto m = b.Make(error);
    ASSERT_EQ(error, 0) << b.log.console();
    EXPECT_EQ(m->inputGrid == outflow, method == 1) << method;
    m.Release();
  }
}

TEST(InterceptionConfig, CanopySnowAddsItsGridsBehindTheLayersWithTheirStartValues) {
  InterceptionBasin b(3, 4);
  b.Add("albedo", 0.6);
  b.Add("snow_storage_total", 10.0);
  b.Add("surftemp", 270.0);
  b.WriteControl(InterceptionBasin::Section(31) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, true));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  EXPECT_TRUE(m->canopySnowModel);
  EXPECT_TRUE(m->canopyEnergyBalance);
  const int i = PositionOf(b, "Snow_canopy_load");
  EXPECT_EQ(i, PositionOf(b, "throughfall1") + 1);
  const char* order[] = {"Snow_canopy_load", "Snow_canopy_albedo", "Snow_canopy_age", "Snow_canopy_sublim",
                         "Snow_canopy_unload_solid", "Snow_canopy_unload_liquid", "Snow_canopy_temperature",
                         "Snow_canopy_rh", "Snow_canopy_rad", "Snow_canopy_wind", "Snow_canopy_IR_radiation",
                         "Canopy_Energy_balance", "CEB_Canopy_Temperature", "CEB_Canopy_Temperature_Old",
                         "CEB_DUMMY"};
  for (int k = 0; k < 15; ++k) EXPECT_EQ(PositionOf(b, order[k]), i + k) << order[k];
  EXPECT_EQ(b.registry[i].fileName, "scn_load.asc");        // load is read fifth ...
  EXPECT_EQ(b.registry[i + 1].fileName, "scn_alb.asc");     // ... albedo seventh
  EXPECT_EQ(b.registry[i + 2].fileName, "scn_age.asc");     // ... and age sixth
  EXPECT_EQ(b.registry[i + 10].fileName, "SCN_IR");
  EXPECT_EQ(b.registry[i + 1].data[1][1], 0.2);
  EXPECT_EQ(b.registry[i + 1].data[2][4], -9999.0);
  EXPECT_EQ(m->snowCanopyStack->Depth(), 24);
  m.Release();

  InterceptionBasin daily(2, 3);
  daily.WriteControl(InterceptionBasin::Section(21) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, false));
  // a daily step keeps one grid; the balance grids do not exist
  std::string text = ReadTextFile(daily.control);
  text.replace(text.find("60 # interval"), 2, "1440");
  daily.WriteControl(text);
  auto d = daily.Make(error);
  ASSERT_EQ(error, 0) << daily.log.console();
  EXPECT_EQ(d->snowCanopyStack->Depth(), 1);
  EXPECT_EQ(PositionOf(daily, "Canopy_Energy_balance"), 0);
}

TEST(InterceptionConfig, BadSectionsAndBasinsAreRefusedWithTheirCodes) {
  struct Case {
    const char* what;
    std::function<std::string()> section;
    std::function<void(InterceptionBasin&)> basin;
    int code;
    const char* message;
  };
  auto plain = [](int method) { return [method] { return InterceptionBasin::Section(method); }; };
  auto canopy = [](int method, double minLai, double scale) {
    return [=] {
      return InterceptionBasin::Section(method) + InterceptionBasin::CanopySection(minLai, 0.5, scale, method > 30);
    };
  };
  auto none = [](InterceptionBasin&) {};
  auto snowGrids = [](InterceptionBasin& b) {
    b.Add("albedo", 0.6);
    b.Add("snow_storage_total", 1.0);
  };
  const Case cases[] = {
      {"method 3", plain(3), none, 1161, "method 3 is not supported in interception model"},
      {"method 10", plain(10), none, 1161, "method 10 is not supported"},
      {"method 13", plain(13), none, 1161, "method 13 is not supported"},
      {"method 0", plain(0), none, 1161, "method 0 is not supported"},
      {"section ends early", [] { return std::string("[interception_model]\n1\n60\n1\nthr.asc\n3\n"); }, none, 17,
       "name outflow statistics file for "},
      {"statistics code missing", [] { return std::string("[interception_model]\n1\n60\n1\nthr.asc\n3\nthr.stat\n"); },
       none, 17, "name outflow statistics file for "},
      {"negative water layer", [] { return InterceptionBasin::Section(1, -0.1); }, none, 17,
       "maximum water layer thickness"},
      {"thick water layer", [] { return InterceptionBasin::Section(1, 3.5); }, none, 0,
       "maximum water layer thickness is 3.5, mm per unit of leaf area"},
      {"water layer not a number", [] { return InterceptionBasin::Section(1, NAN); }, none, 17,
       "maximum water layer thickness"},
      {"canopy values missing", [] { return InterceptionBasin::Section(21) + "a.asc\n3\n"; }, none, 17,
       "sub-canopy stemperature statistics file"},
      {"LAI scale 0", canopy(21, 1.0, 0.0), none, 1160, "LAI scaling factor above 0"},
      {"negative LAI scale", canopy(22, 1.0, -1.0), none, 1160, "LAI scaling factor above 0"},
      {"negative minimum LAI", canopy(21, -0.5, 1.0), none, 1160, "minimum LAI of 0 or more"},
      {"no albedo", canopy(31, 1.0, 1.0), none, 1160, "Albedo not available in advanced snow interception model"},
      {"no surface temperature", canopy(32, 1.0, 1.0), snowGrids, 1160, "snow surface temperatur not available"},
      {"no snow storage", canopy(31, 1.0, 1.0), [](InterceptionBasin& b) { b.Add("albedo", 0.6); }, 1160,
       "total snow storage not available"},
      {"no cloudiness", canopy(21, 1.0, 1.0), [](InterceptionBasin& b) { b.Remove("cloudiness"); }, 33,
       "cloudiness not found"},
      {"no potential transpiration", plain(1), [](InterceptionBasin& b) { b.Remove("pot_transpiration1"); }, 33,
       "pot_transpiration1 not found"},
      {"no precipitation", plain(11), [](InterceptionBasin& b) { b.Remove("precipitation"); }, 33,
       "precipitation not found"},
      {"ArcVeg without fractions", [] { return InterceptionBasin::Section(1) + "[ArcVegIntegration]\n1\n"; }, none,
       1400, "[ArcVegIntegration] is active"},
      {"registry position taken behind the first free one",
       plain(1),
       [](InterceptionBasin& b) {
         // a grid sits two places behind the first free position
         b.registry[b.nextPosition + 2].internalName = "someone_else";
       },
       12, "no free grid left1000"},
      {"registry full for canopy snow", canopy(21, 1.0, 1.0),
       [](InterceptionBasin& b) {
         for (int p = b.nextPosition + 6; p <= 986; ++p) b.registry[p].internalName = "x" + std::to_string(p);
       },
       12, "no free grid left1000"},
  };
  for (const Case& c : cases) {
    InterceptionBasin b(2, 3);
    c.basin(b);
    b.WriteControl(c.section());
    int error = -1;
    auto m = b.Make(error);
    EXPECT_EQ(error, c.code) << c.what << "\n" << b.log.console();
    EXPECT_NE(b.log.console().find(c.message), std::string::npos) << c.what << "\n" << b.log.console();
    m.Release();
  }
}

TEST(InterceptionConfig, ArcVegNeedsAFractionGridPerLayer) {
  InterceptionBasin b(2, 3, 2);
  b.Add("ArcVeg_Fraction_1", 0.5);
  b.WriteControl(InterceptionBasin::Section(1) + "[ArcVegIntegration]\n1\n");
  int error = -1;
  auto m = b.Make(error);
  EXPECT_EQ(error, 1400);
  m.Release();
  b.Add("ArcVeg_Fraction_2", 0.5);
  auto ok = b.Make(error);
  EXPECT_EQ(error, 0) << b.log.console();
  EXPECT_EQ(ok->arcVegActive, 1);
  ok.Release();

  InterceptionBasin off(2, 3, 2);
  off.WriteControl(InterceptionBasin::Section(1) + "[ArcVegIntegration]\n0\n");
  auto m2 = off.Make(error);
  EXPECT_EQ(error, 0) << off.log.console();
}

TEST(InterceptionConfig, WarmStartReadsTheStorageOfEveryLayerAndFourCanopyGrids) {
  InterceptionBasin b(2, 3);
  auto grid = [&](const std::string& name, double v, double step = 1.0) {
    std::string text = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
    for (int r = 1; r <= 2; ++r)
      text += std::to_string(v) + " " + std::to_string(v + step) + " " + std::to_string(v + 2 * step) + "\n";
    WriteTextFile(b.dir.file(name), text);
  };
  grid("stor.asc", 1.0);
  grid("stor_Layer_1.asc", 2.0);
  grid("scn_load.asc", 3.0);
  grid("scn_alb.asc", 0.4, 0.1);
  grid("scn_age.asc", 5.0);
  grid("ceb_told.asc", 6.0);
  b.Add("albedo", 0.6);
  b.Add("snow_storage_total", 1.0);
  b.Add("surftemp", 270.0);
  b.WriteControl(InterceptionBasin::Section(31, 0.5, 1) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, true));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  EXPECT_EQ(m->layers[0].storage[1][2], 2.0);
  EXPECT_EQ(m->layers[1].storage[2][3], 4.0);
  EXPECT_EQ(m->layers[1].throughfall[1][3], 0.0);
  EXPECT_EQ(b.Grid("Snow_canopy_load")[1][1], 3.0);
  EXPECT_EQ(b.Grid("Snow_canopy_albedo")[1][1], 0.4);
  EXPECT_EQ(b.Grid("Snow_canopy_age")[1][1], 5.0);
  EXPECT_EQ(b.Grid("CEB_Canopy_Temperature_Old")[1][1], 6.0);
  EXPECT_EQ(b.Grid("Snow_canopy_sublim")[1][1], 0.0);
  EXPECT_EQ(b.Grid("CEB_Canopy_Temperature")[1][1], 0.0);
  m.Release();

  // An albedo is a fraction: one above 1 is named, with its cell.
  grid("scn_alb.asc", 0.9, 0.1);
  auto over = b.Make(error);
  EXPECT_EQ(error, 22);
  EXPECT_NE(b.log.console().find("(Snow_canopy_albedo) holds 1.1 at row 1, column 3"), std::string::npos)
      << b.log.console();
  over.Release();

  // a missing layer file is an error of the grid reader, not a silent empty storage
  SetGridRetrySleeper([](int) {});
  InterceptionBasin missing(2, 3, 2);
  WriteTextFile(missing.dir.file("stor.asc"), ReadTextFile(b.dir.file("stor.asc")));
  missing.WriteControl(InterceptionBasin::Section(1, 0.5, 1));
  auto n = missing.Make(error);
  EXPECT_NE(error, 0);
  EXPECT_NE(missing.log.console().find("stor_Layer_1.asc"), std::string::npos);
}
