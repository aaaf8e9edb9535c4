// The snow step over a basin: water balance per cell and step for every method, the
// invariants of the storages, and identical results for every thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <random>

#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "processes/snow/snow_basin.h"
#include "support/test_support.h"
#include "framework/thread_policy.h"
#include "tables/landuse_table.h"

namespace {

constexpr double N = SnowBasin::N;

// Random weather of one step; a quarter of the cells get no precipitation, and some
// humidity values lie outside 0..1.
void RandomWeather(SnowBasin& b, std::mt19937& rng, bool slopes) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int r = 1; r <= b.rows; ++r)
    for (int c = 1; c <= b.cols; ++c) {
      b.Grid("temperature")[r][c] = -14.0 + 24.0 * u01(rng);
      b.Grid("temperature_night")[r][c] = -18.0 + 20.0 * u01(rng);
      b.Grid("precipitation")[r][c] = u01(rng) < 0.25 ? 0.0 : 4.0 * u01(rng);
      b.Grid("wind_speed")[r][c] = 8.0 * u01(rng);
      const double h = u01(rng);
      b.Grid("air_humidity")[r][c] = h < 0.05 ? 0.0 : (h > 0.97 ? 1.2 : h);
      b.Grid("AspectCorrectedGlobalRadiation")[r][c] = 700.0 * u01(rng);
      b.Grid("cloudiness")[r][c] = u01(rng);
      b.Grid("vapor_pressure")[r][c] = 12.0 * u01(rng);
      b.Grid("deposition_index")[r][c] = 0.4 * u01(rng);
      b.Grid("Snow_canopy_unload_solid")[r][c] = u01(rng) < 0.8 ? 0.0 : 0.5 * u01(rng);
      b.Grid("snow_evaporation")[r][c] = 0.0;
      if (slopes) {
        b.Grid("slope_angle")[r][c] = 60.0 * u01(rng);
        for (int k = 1; k <= 4; ++k) b.Grid("slidefraction" + std::to_string(k))[r][c] = u01(rng) < 0.3 ? 0.0 : u01(rng);
      }
    }
}

struct Scenario {
  int method = 1;
  int interval = 60;
  int steps = 120;
  bool slopes = false;
  std::string statCode = "0";
  bool checkBalance = true;
};

// Runs a scenario and returns every cell of every snow grid after the last step, the
// statistics files, and what the model said.
std::vector<double> RunScenario(const Scenario& s, int threads, std::string* statistics = nullptr,
                                std::string* said = nullptr) {
  const int savedThreads = omp_get_max_threads();
  omp_set_num_threads(threads);
  const ScopedMinParallelCells forkAlways(0);  // the small basin runs the parallel path too
  TempDir dir;
  CapturedLog log;
  SnowBasin b(9, 8);
  std::mt19937 rng(1234 + s.method);
  RandomWeather(b, rng, s.slopes);
  std::vector<std::string> lines = SnowSectionLines(s.method, s.interval, s.statCode);
  int error = 0;
  auto m = MakeSnowModel(b, log.log(), dir.path(), JoinLines(lines), error);
  EXPECT_EQ(error, 0) << log.console();
  if (!m) return {};
  double** solid = b.Grid("snowstorage_solid");
  double** liquid = b.Grid("snowstorage_liquid");
  double** outflow = b.Grid("snowcover_outflow");
  double** P = b.Grid("precipitation");
  double** unload = b.Grid("Snow_canopy_unload_solid");
  double** evaporation = b.Grid("snow_evaporation");
  const bool energyBalance = snow::IsEnergyBalance(s.method);
  std::vector<double> before(static_cast<size_t>((b.rows + 1) * (b.cols + 1)));
  int failures = 0;
  for (int step = 1; step <= s.steps && failures < 5; ++step) {
    RandomWeather(b, rng, s.slopes);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) before[r * (b.cols + 1) + c] = solid[r][c] + liquid[r][c];
    const ModelDate d = StepDate(step, s.interval);
    m->Run(d);
    m->PostRun(d);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) {
        if (!b.Inside(r, c)) {
          EXPECT_EQ(solid[r][c], N);
          continue;
        }
        const double was = before[r * (b.cols + 1) + c];
        const double now = solid[r][c] + liquid[r][c];
        const double evap = energyBalance ? evaporation[r][c] : 0.0;
        const bool ok = std::isfinite(now) && std::isfinite(outflow[r][c]) && std::isfinite(evap) &&
                        solid[r][c] >= 0.0 && liquid[r][c] >= 0.0 && liquid[r][c] <= 0.1 * solid[r][c] * (1 + 1e-12) + 1e-12;
        bool balanced = true;
        if (s.checkBalance)
          balanced = std::fabs(P[r][c] + unload[r][c] - (now - was) - outflow[r][c] - evap) <= 1e-9 * (1.0 + was);
        if (!ok || !balanced) {
          ++failures;
          ADD_FAILURE() << "method " << s.method << " step " << step << " cell " << r << "," << c << ": before "
                        << was << " solid " << solid[r][c] << " liquid " << liquid[r][c] << " P " << P[r][c]
                        << " unload " << unload[r][c] << " outflow " << outflow[r][c] << " evaporation " << evap;
        }
      }
  }
  std::vector<double> result;
  for (const char* g : {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age",
                        "snow_fraction", "rain_fraction", "snowcover_outflow", "melt_from_snowcover", "albedo",
                        "snowtemp", "surftemp", "input_mass", "mobile_mass", "deposition", "snow_evaporation"}) {
    double** grid = b.Grid(g);
    if (!grid) continue;
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) {
        EXPECT_FALSE(std::isnan(grid[r][c])) << g;
        result.push_back(grid[r][c]);
      }
  }
  m->WriteStatistics();
  m.Release();
  if (statistics) {
    std::string out;
    for (const char* f : {"outflow.stat", "total.stat", "albedo.stat", "snowtemp.stat", "deposition.stat"})
      out += ReadTextFile(dir.file(f));
    *statistics = out;
  }
  if (said) *said = log.console();
  omp_set_num_threads(savedThreads);
  return result;
}

TEST(SnowStep, EveryMethodKeepsTheWaterBalanceOfEveryCell) {
  for (int method = 1; method <= 14; ++method) {
    Scenario s;
    s.method = method;
    const std::vector<double> r = RunScenario(s, 2);
    EXPECT_FALSE(r.empty());
  }
}

// The step that ends at 0 h belongs to the day before, but a warning names it by the stamp
// its records carry: humidity limited at the 24th hourly step is said of "2.1.2001 0 h".
TEST(SnowStep, TheHumidityWarningNamesTheStepByItsStamp) {
  Scenario s;
  s.method = 5;  // energy balance: uses the humidity
  s.steps = 24;
  std::string said;
  RunScenario(s, 2, nullptr, &said);
  EXPECT_NE(said.find("cells of the step 2.1.2001 0 h; limited to the valid range"), std::string::npos) << said;
  EXPECT_EQ(said.find("1.1.2001 0 h"), std::string::npos) << said;
}

TEST(SnowStep, LongStepsSplitIntoNightAndDayKeepTheBalance) {
  // With the deposition index (7, 9, 10, 11, 13, 14) each part raises the precipitation
  // by its own snow: the grid's precipitation is what entered the storages.
  for (int method = 1; method <= 14; ++method) {
    Scenario s;
    s.method = method;
    s.interval = 1440;
    s.steps = 40;
    RunScenario(s, 2);
  }
}

// Snowfall raised by the deposition index: a daily step (night and day part) gives the
// snow of two 12-hour steps, and the precipitation grid says how much that is.
TEST(SnowStep, DepositionIndexRaisesADailyStepLikeTwoHalfDays) {
  for (int method : {10, 14}) {
    SCOPED_TRACE(method);
    double snow[2] = {0.0, 0.0}, precipitation[2] = {0.0, 0.0};
    for (int k = 0; k < 2; ++k) {
      const int interval = k == 0 ? 1440 : 720;
      TempDir dir;
      CapturedLog log;
      SnowBasin b(3, 4);
      int error = 0;
      auto m = MakeSnowModel(b, log.log(), dir.path(), JoinLines(SnowSectionLines(method, interval)), error);
      ASSERT_EQ(error, 0) << log.console();
      for (int step = 1; step <= 1440 / interval; ++step) {
        for (int r = 1; r <= 3; ++r)
          for (int c = 1; c <= 4; ++c) {
            b.Grid("temperature")[r][c] = -6.0;
            b.Grid("temperature_night")[r][c] = -9.0;
            b.Grid("precipitation")[r][c] = 10.0 * interval / 1440.0;
            b.Grid("deposition_index")[r][c] = 0.2;
          }
        m->Run(StepDate(step, interval));
        m->PostRun(StepDate(step, interval));
        precipitation[k] += b.Grid("precipitation")[1][1];
      }
      snow[k] = b.Grid("snowstorage_solid")[1][1];
      m.Release();
    }
    EXPECT_NEAR(snow[0], 12.0, 1e-12);
    EXPECT_NEAR(snow[1], 12.0, 1e-12);
    EXPECT_NEAR(precipitation[0], 12.0, 1e-12);
    EXPECT_NEAR(precipitation[1], 12.0, 1e-12);
  }
}

// The module hands each method only the inputs its physics reads: a cell's step must give
// the bits of the physics handed every input the module has, for every method, melting
// with and without precipitation (the combination methods read other inputs then).
TEST(SnowStep, EveryMethodsCellStepHasTheBitsOfThePhysicsGivenEveryInput) {
  for (int method = 1; method <= 14; ++method) {
    SCOPED_TRACE(method);
    TempDir dir;
    CapturedLog log;
    SnowBasin b(3, 4);
    int error = 0;
    auto m = MakeSnowModel(b, log.log(), dir.path(), JoinLines(SnowSectionLines(method, 60)), error);
    ASSERT_EQ(error, 0) << log.console();
    const std::pair<const char*, double> weather[] = {
        {"temperature", 2.5}, {"wind_speed", 3.0}, {"air_humidity", 0.7}, {"AspectCorrectedGlobalRadiation", 320.0},
        {"cloudiness", 0.4}, {"vapor_pressure", 8.0}, {"deposition_index", 0.2}};
    MatrixOwner correction(3, 4);
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c) {
        for (const auto& w : weather) b.Grid(w.first)[r][c] = w.second;
        correction[r][c] = 1.4;
      }
    m->SetRadiationCorrection(correction.get());
    m->Run(StepDate(1, 60));  // links the inputs
    for (const double P : {0.0, 3.0}) {
      const auto grid = [](double** g) { return g ? g[1][1] : 0.0; };
      snow::CellInputs all;
      all.u = grid(m->wind);
      all.RH = m->humidity ? m->humidity[1][1] : 1.0;
      all.G = grid(m->radiation);
      all.N = grid(m->cloudiness);
      all.z = grid(m->elevation);
      all.albedo = grid(m->albedo);
      all.DI = grid(m->depositionIndex);
      all.vapourPressure = grid(m->vapourPressure);
      all.radCorrection = 1.4;
      all.hasRadCorrection = true;
      all.P = P;
      snow::CellState expected, got;
      expected.solid = got.solid = 40.0;
      expected.liquid = got.liquid = 1.0;
      expected.total = got.total = 41.0;
      expected.snowTemp = got.snowTemp = 271.0;
      expected.surfTemp = got.surfTemp = 270.0;
      snow::CellNotes notesExpected, notesGot;
      const double melt =
          snow::CellStep(m->params, m->dayValues, all, expected, 2.5, 1.0, 0.0, false, notesExpected);
      b.Grid("precipitation")[1][1] = P;
      EXPECT_EQ(m->CellStep(1, 1, 2.5, 1.0, 0.0, got, false, notesGot), melt);
      EXPECT_EQ(b.Grid("precipitation")[1][1], all.P);
      EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << P;
      EXPECT_EQ(notesGot.humidityClamped, notesExpected.humidityClamped);
    }
  }
}

TEST(SnowStep, ResultsAreTheSameForEveryThreadCount) {
  for (int method : {6, 9}) {
    Scenario s;
    s.method = method;
    s.slopes = true;
    s.checkBalance = false;  // slides move snow between cells
    s.statCode = "2001";
    s.steps = 12;
    std::string stat1, stat2, stat8;
    const std::vector<double> one = RunScenario(s, 1, &stat1);
    const std::vector<double> two = RunScenario(s, 2, &stat2);
    const std::vector<double> eight = RunScenario(s, 8, &stat8);
    ASSERT_FALSE(one.empty());
    ASSERT_EQ(one.size(), two.size());
    ASSERT_EQ(one.size(), eight.size());
    for (size_t i = 0; i < one.size(); ++i) {
      ASSERT_EQ(std::memcmp(&one[i], &two[i], sizeof(double)), 0) << method << " " << i;
      ASSERT_EQ(std::memcmp(&one[i], &eight[i], sizeof(double)), 0) << method << " " << i;
    }
    EXPECT_FALSE(stat1.empty());
    EXPECT_EQ(stat1, stat2);
    EXPECT_EQ(stat1, stat8);
  }
}

}  // namespace

namespace {

// Two land uses whose albedo moves with the day and the altitude (meadow's fix days by
// meadowAltitudeDays per m).
std::vector<LanduseTableEntry> TwoLanduses(LogStream* log, const std::string& meadowAltitudeDays) {
  const std::string table =
      "2\n"
      "1 meadow { method = VariableDayCount;\n RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45;\n"
      " JulDays = 1 100 200 366;\n Albedo = 0.10 0.20 0.30 0.10;\n rsc = 80 70 60 80;\n LAI = 1 2 4 1;\n"
      " Z0 = 0.1 0.1 0.2 0.1;\n VCF = 0.5 0.6 0.9 0.5;\n RootDepth = 0.2 0.3 0.5 0.2;\n AltDep = " +
      meadowAltitudeDays +
      ";\n}\n"
      "2 forest { method = VariableDayCount;\n RootDist = 1.0; TReduWet = 0.95; HReduDry = 3.45;\n"
      " JulDays = 1 150 250 366;\n Albedo = 0.05 0.15 0.12 0.05;\n rsc = 80 70 60 80;\n LAI = 1 2 4 1;\n"
      " Z0 = 0.1 0.1 0.2 0.1;\n VCF = 0.5 0.6 0.9 0.5;\n RootDepth = 0.2 0.3 0.5 0.2;\n AltDep = 0.02 0 0 0;\n}\n";
  TextCursor cursor(table);
  return ReadLanduseSection(log, cursor, 1);
}

// The snow model on warm cells (no snow: every cell takes its land's albedo) of the two
// land uses, meadow (1) in the columns up to meadowUpTo and forest (2) beyond.
struct TwoLanduseSnow {
  TempDir dir;
  CapturedLog log;
  SnowBasin b{5, 6};
  std::vector<LanduseTableEntry> rows;
  RunValues run;
  ModuleOwner<schneemodellklasse> m;
  double** landuse = nullptr;

  void Build(const std::string& meadowAltitudeDays, int meadowUpTo) {
    rows = TwoLanduses(&log.log(), meadowAltitudeDays);
    ASSERT_EQ(rows.size(), 3u) << log.console();
    run.landuseTable = &rows;
    landuse = b.Grid("landuse1");
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) {
        landuse[r][c] = c <= meadowUpTo ? 1.0 : 2.0;
        b.Grid("temperature")[r][c] = 15.0;
      }
    WriteTextFile(dir.file("run.ctl"), JoinLines(SnowSectionLines(1)));
    ModuleInputs in = b.Inputs(log.log(), dir.file("run.ctl"), dir.path() + "/");
    in.run = &run;
    int error = 0;
    m = MakeModule<schneemodellklasse>(error, in);
    ASSERT_EQ(error, 0) << log.console();
    m->SetSnowInterceptionFlag(0);
  }
  // The step ends with code 152 and the message of the fix day out of the year, once.
  void ExpectFixDayOutOfTheYear(ModelDate d) {
    int code = 0;
    try {
      m->Run(d);
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 152);
    const std::string text = log.console(), message = "altitude correction resulted in a Julian day of";
    const size_t at = text.find(message);
    EXPECT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(message, at + 1), std::string::npos) << text;  // once, not per cell
  }
};

}  // namespace

TEST(SnowStep, SnowFreeCellsTakeTheLanduseAlbedoOfTheDayAndOfTheirCurrentCode) {
  // The albedo of the day is taken once a day; a cell changes its land use in the middle
  // of a day (a periodic land-use grid read again) and must take its new land's albedo.
  // A fix day moved out of the year by the altitude ends the step with one message.
  for (const char* altitudeDays : {"0.01 0.01 0.01 0", "0.01 0.01 0.01 0.01"}) {
    TwoLanduseSnow s;
    s.Build(altitudeDays, 3);
    if (HasFatalFailure()) return;
    if (std::string(altitudeDays).back() == '1') {
      s.ExpectFixDayOutOfTheYear(StepDate(1, 60));
      continue;
    }
    double** albedo = s.b.Grid("albedo");
    for (int step = 1; step <= 60; ++step) {
      if (step == 30) s.landuse[3][2] = 2.0;
      const ModelDate d = StepDate(step, 60);
      s.m->Run(d);
      s.m->PostRun(d);
      const int day =
          s.rows[1].DayOfYear(static_cast<int>(d.day), static_cast<int>(d.month), static_cast<int>(d.year));
      for (int r = 1; r <= s.b.rows; ++r)
        for (int c = 1; c <= s.b.cols; ++c) {
          if (!s.b.Inside(r, c)) continue;
          const LanduseTableEntry& row = s.rows[static_cast<size_t>(s.landuse[r][c])];
          ASSERT_EQ(albedo[r][c], row.GetAlbedoAtDay(nullptr, day, 1, r, c, s.b.Grid("[elevation_model]")[r][c]))
              << "step " << step << " cell " << r << "," << c;
        }
    }
    EXPECT_NE(albedo[3][2], albedo[3][1]);
  }
}

TEST(SnowStep, ALandUseTakenDuringTheDayWhoseAlbedoFailsEndsTheStepWithOneMessage) {
  // Every cell is forest when the day's albedo is taken; during the day two cells turn into
  // a meadow whose fix days the altitude moves out of the year. Their table albedo fails in
  // the cell loop, forked on every thread: the step ends with code 152 and one message.
  const ScopedMinParallelCells forkAlways(0);
  TwoLanduseSnow s;
  s.Build("0.01 0.01 0.01 0.01", 0);
  if (HasFatalFailure()) return;
  s.m->Run(StepDate(1, 60));
  s.landuse[2][2] = s.landuse[4][5] = 1.0;
  s.ExpectFixDayOutOfTheYear(StepDate(2, 60));
}
