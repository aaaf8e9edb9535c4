// The interception step over a basin: water balance per cell, layer and step, the glacier
// share, cells outside the basin, the temperature stack, thread invariance and the warm
// start from the written storage grids.
#include <gtest/gtest.h>
#include <omp.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "interception_basin.h"
#include "framework/thread_policy.h"

namespace {

ModelDate Hour(int h) { return ModelDate{0, h % 24, 1 + h / 24, 1, 2001}; }

// Fresh random forcing and vegetation for a step (the evapotranspiration module sets its
// demands anew every step).
void Randomise(InterceptionBasin& b, std::mt19937& rng, bool withEmptyLayers) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int r = 1; r <= b.rows; ++r)
    for (int c = 1; c <= b.cols; ++c) {
      b.Grid("precipitation")[r][c] = u(rng) < 0.3 ? 0.0 : 4.0 * u(rng);
      for (int k = 0; k <= b.layers; ++k) {
        b.Grid("pot_transpiration" + std::to_string(k))[r][c] = 0.4 * u(rng);
        b.Grid("potential_InterceptionEvap" + std::to_string(k))[r][c] = 0.4 * u(rng);
      }
      for (int k = 1; k <= b.layers; ++k) {
        const std::string n = std::to_string(k);
        const double x = u(rng);
        b.Grid("landuse" + n)[r][c] = withEmptyLayers && x < 0.15 ? -9999.0 : 1.0 + static_cast<int>(3 * u(rng));
        b.Grid("leaf_area_index" + n)[r][c] = 6.0 * u(rng);
        b.Grid("vegetation_coverage_degree" + n)[r][c] = u(rng);
      }
    }
}

struct Snapshot {
  std::vector<double> storage;  // per layer 0..N, row-major
};

std::vector<double> Storage(interzeptionsmodellklasse& m, int k, int rows, int cols) {
  std::vector<double> v;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) v.push_back(m.layers[static_cast<size_t>(k)].storage[r][c]);
  return v;
}

}  // namespace

TEST(InterceptionStep, WaterBalancePerCellLayerAndStep) {
  struct Case {
    int method, layers;
    bool arcVeg;
  };
  for (const Case& cs : {Case{1, 1, false}, Case{2, 1, false}, Case{12, 2, false}, Case{1, 3, false},
                         Case{2, 2, true}, Case{11, 3, true}}) {
    SCOPED_TRACE("method " + std::to_string(cs.method) + ", layers " + std::to_string(cs.layers) +
                 (cs.arcVeg ? ", side by side" : ", stacked"));
    InterceptionBasin b(9, 8, cs.layers);
    std::string section = InterceptionBasin::Section(cs.method, 0.35);
    if (cs.arcVeg) {
      section += "[ArcVegIntegration]\n1\n";
      std::mt19937 frng(3);
      std::vector<double**> f;
      for (int k = 1; k <= cs.layers; ++k) f.push_back(b.Add("ArcVeg_Fraction_" + std::to_string(k), 0.0));
      for (int r = 1; r <= b.rows; ++r)
        for (int c = 1; c <= b.cols; ++c) {
          double left = 1.0;
          for (int k = 0; k + 1 < cs.layers; ++k) {
            f[static_cast<size_t>(k)][r][c] = left * std::uniform_real_distribution<double>(0.0, 1.0)(frng);
            left -= f[static_cast<size_t>(k)][r][c];
          }
          f.back()[r][c] = left;
        }
    }
    b.WriteControl(section);
    int error = -1;
    auto m = b.Make(error);
    ASSERT_EQ(error, 0) << b.log.console();
    std::mt19937 rng(17);
    const size_t N = static_cast<size_t>(cs.layers);
    for (int step = 0; step < 30; ++step) {
      Randomise(b, rng, cs.layers > 1);
      std::vector<std::vector<double>> before(N + 1), potBefore(N + 1);
      for (size_t k = 0; k <= N; ++k) {
        before[k] = Storage(*m, static_cast<int>(k), b.rows, b.cols);
        potBefore[k] = {};
        for (int r = 1; r <= b.rows; ++r)
          for (int c = 1; c <= b.cols; ++c) potBefore[k].push_back(m->layers[k].potTranspiration[r][c]);
      }
      m->Run(Hour(step));
      size_t i = 0;
      for (int r = 1; r <= b.rows; ++r)
        for (int c = 1; c <= b.cols; ++c, ++i) {
          if (r == 2 && c == b.cols) continue;  // outside
          const double P = b.Grid("precipitation")[r][c];
          const InterceptionLayer& top = m->layers[0];
          double dS = top.storage[r][c] - before[0][i];
          if (cs.arcVeg) {
            // the cell storage is the fraction-weighted layer storage, recomputed each step
            dS = 0.0;
            for (size_t k = 1; k <= N; ++k)
              dS += b.Grid("ArcVeg_Fraction_" + std::to_string(k))[r][c] * (m->layers[k].storage[r][c] - before[k][i]);
          }
          ASSERT_NEAR(P, top.throughfall[r][c] + dS + top.evaporation[r][c], 1e-12 * (1 + P)) << r << "," << c;
          double input = P, evaporation = 0.0, reduction = 0.0;
          for (size_t k = 1; k <= N; ++k) {
            const InterceptionLayer& l = m->layers[k];
            const double f = cs.arcVeg ? b.Grid("ArcVeg_Fraction_" + std::to_string(k))[r][c] : 1.0;
            const double in = cs.arcVeg ? P : input;
            ASSERT_NEAR(f * in, f * l.throughfall[r][c] + f * (l.storage[r][c] - before[k][i]) + l.evaporation[r][c],
                        1e-12 * (1 + in));
            ASSERT_GE(l.storage[r][c], 0.0);
            ASSERT_GE(l.potTranspiration[r][c], -1e-15);
            input = l.throughfall[r][c];
            evaporation += l.evaporation[r][c];
            reduction += potBefore[k][i] - l.potTranspiration[r][c];
          }
          ASSERT_NEAR(top.evaporation[r][c], evaporation, 1e-14);
          if (N > 1)
            ASSERT_NEAR(potBefore[0][i] - top.potTranspiration[r][c], reduction, 1e-12);
          else
            ASSERT_EQ(top.potTranspiration[r][c], m->layers[1].potTranspiration[r][c]);
        }
    }
    m.Release();
  }
}

TEST(InterceptionStep, GlacierShareOutsideCellsAndLayersWithoutLandUse) {
  InterceptionBasin b(3, 4, 2);
  double** glacier = b.Add("GlacierizedCells", 0.0);
  glacier[1][1] = 1.0;
  glacier[1][2] = 1.7;  // more than the whole cell counts as the whole cell
  glacier[1][3] = 0.5;
  glacier[2][1] = 0.999995;  // a sliver short of the whole cell holds no canopy either
  b.Grid("precipitation")[1][3] = 2.0;
  b.Grid("landuse1")[3][1] = -9999.0;  // an upper layer without land use passes its input on
  b.Grid("landuse2")[3][2] = -9999.0;
  b.Grid("landuse1")[3][3] = -9999.0;
  b.Grid("landuse2")[3][3] = -9999.0;
  b.WriteControl(InterceptionBasin::Section(1, 0.5));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  // a stored amount that the glacier must not keep
  m->layers[1].storage[1][1] = 0.3;
  m->Run(Hour(1));
  for (const auto& [r, c] : {std::pair{1, 1}, std::pair{1, 2}, std::pair{2, 1}}) {
    EXPECT_EQ(m->layers[0].throughfall[r][c], 1.0) << "all of the water passes";
    for (const InterceptionLayer& l : m->layers) {
      EXPECT_EQ(l.storage[r][c], 0.0);
      EXPECT_EQ(l.evaporation[r][c], 0.0);
    }
    EXPECT_EQ(m->layers[2].throughfall[r][c], 0.0);
  }
  // half glaciated: the computed throughfall and the input mixed by the share
  EXPECT_DOUBLE_EQ(m->layers[0].throughfall[1][3], 0.5 * m->layers[2].throughfall[1][3] + 0.5 * 2.0);
  EXPECT_GT(m->layers[1].storage[1][3], 0.0);
  // layers without land use
  EXPECT_EQ(m->layers[1].throughfall[3][1], 1.0);
  EXPECT_EQ(m->layers[1].storage[3][1], 0.0);
  EXPECT_EQ(m->layers[1].evaporation[3][1], 0.0);
  EXPECT_GT(m->layers[2].storage[3][1], 0.0);
  EXPECT_EQ(m->layers[2].throughfall[3][2], m->layers[1].throughfall[3][2]);
  EXPECT_EQ(m->layers[0].throughfall[3][3], 1.0);
  // outside the basin
  for (const InterceptionLayer& l : m->layers) {
    EXPECT_EQ(l.evaporation[2][4], -9999.0);
    EXPECT_EQ(l.throughfall[2][4], -9999.0);
  }
}

TEST(InterceptionStep, OneTemperatureGridPerStepDateMinutesIncluded) {
  InterceptionBasin b(2, 3);
  b.WriteControl(InterceptionBasin::Section(21) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, false));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  m->Run(ModelDate{0, 5, 1, 1, 2001});
  m->Run(ModelDate{0, 5, 1, 1, 2001});  // the same step date again
  EXPECT_EQ(m->snowCanopyStack->Count(), 1);
  m->Run(ModelDate{30, 5, 1, 1, 2001});  // a step within the same hour
  EXPECT_EQ(m->snowCanopyStack->Count(), 2);
  m->Run(ModelDate{0, 6, 1, 1, 2001});
  EXPECT_EQ(m->snowCanopyStack->Count(), 3);
}

TEST(InterceptionStep, CanopySnowBalanceAndTheLiquidBalanceBelowIt) {
  for (int method : {21, 32}) {
    SCOPED_TRACE(method);
    InterceptionBasin b(6, 7);
    b.Add("albedo", 0.7);
    double** snow = b.Add("snow_storage_total", 5.0);
    b.Add("surftemp", 271.0);
    snow[1][1] = 0.0;
    b.Grid("leaf_area_index1")[3][3] = 0.5;  // too sparse: passes through
    b.WriteControl(InterceptionBasin::Section(method) + InterceptionBasin::CanopySection(1.0, 0.5, 1.2, method > 30));
    int error = -1;
    auto m = b.Make(error);
    ASSERT_EQ(error, 0) << b.log.console();
    m->thresholdTemperature = 0.5;
    m->transZone = 1.0;
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double** load = b.Grid("Snow_canopy_load");
    for (int step = 0; step < 48; ++step) {
      std::vector<double> loadBefore, storageBefore;
      for (int r = 1; r <= b.rows; ++r)
        for (int c = 1; c <= b.cols; ++c) {
          b.Grid("temperature")[r][c] = -8.0 + 14.0 * u(rng);
          b.Grid("precipitation")[r][c] = u(rng) < 0.4 ? 0.0 : 3.0 * u(rng);
          b.Grid("AspectCorrectedGlobalRadiation")[r][c] = 500.0 * u(rng);
          b.Grid("wind_speed")[r][c] = step % 7 == 0 ? 0.0 : 6.0 * u(rng);
          b.Grid("air_humidity")[r][c] = u(rng);
          loadBefore.push_back(load[r][c]);
          storageBefore.push_back(m->layers[1].storage[r][c]);
        }
      m->Run(Hour(step));
      size_t i = 0;
      for (int r = 1; r <= b.rows; ++r)
        for (int c = 1; c <= b.cols; ++c, ++i) {
          if (r == 2 && c == b.cols) continue;
          const double P = b.Grid("precipitation")[r][c];
          const double liquid = b.Grid("Snow_canopy_unload_liquid")[r][c];
          const double out = liquid + b.Grid("Snow_canopy_unload_solid")[r][c] + load[r][c] - loadBefore[i] +
                             b.Grid("Snow_canopy_sublim")[r][c];
          ASSERT_NEAR(P, out, 1e-11 * (1 + P + loadBefore[i])) << r << "," << c << " step " << step;
          const InterceptionLayer& top = m->layers[0];
          ASSERT_NEAR(liquid, top.throughfall[r][c] + top.storage[r][c] - storageBefore[i] + top.evaporation[r][c],
                      1e-12 * (1 + liquid));
          ASSERT_TRUE(std::isfinite(b.Grid("Snow_canopy_IR_radiation")[r][c]));
        }
      EXPECT_EQ(b.Grid("Snow_canopy_unload_liquid")[3][3], b.Grid("precipitation")[3][3]);
      EXPECT_EQ(load[3][3], 0.0);
    }
    if (method > 30) {
      EXPECT_EQ(b.Grid("Canopy_Energy_balance")[1][1], 0.0);  // no snow on the ground
      EXPECT_NE(b.Grid("CEB_Canopy_Temperature")[4][4], 0.0);
    }
    m.Release();
  }
}

TEST(InterceptionStep, CanopySnowLeavesOutLayersWithoutLandUse) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  // A second layer without land use (its parameter grids hold no-data) holds no canopy: the
  // canopy snow of the cell is that of its one real layer.
  std::vector<double> loads[2];
  for (int layers : {1, 2}) {
    InterceptionBasin b(3, 4, layers);
    if (layers == 2)
      for (const char* g : {"landuse2", "leaf_area_index2", "vegetation_coverage_degree2", "RoughnessLength2",
                            "SurfaceCanopyResistance2", "SurfaceIntercepResistance2"})
        b.Grid(g)[1][1] = b.Grid(g)[3][2] = -9999.0;
    b.WriteControl(InterceptionBasin::Section(22) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, false));
    int error = -1;
    auto m = b.Make(error);
    ASSERT_EQ(error, 0) << b.log.console();
    m->thresholdTemperature = 0.5;
    m->transZone = 1.0;
    for (int s = 0; s < 3; ++s) m->Run(Hour(s));
    for (int c : {1, 2}) loads[layers - 1].push_back(b.Grid("Snow_canopy_load")[c == 1 ? 1 : 3][c]);
    m.Release();
  }
  EXPECT_GT(loads[0][0], 0.0);
  EXPECT_EQ(loads[0], loads[1]);
}

namespace {

// Runs a canopy snow basin with statistics for steps hours on the given thread count and
// returns every grid of the module and its statistics files.
std::vector<std::string> RunWithThreads(int threads, int steps) {
  omp_set_num_threads(threads);
  omp_set_schedule(omp_sched_dynamic, 1);
  InterceptionBasin b(23, 17, 2);
  b.WriteControl(InterceptionBasin::Section(22, 0.3, 0, 2001) + InterceptionBasin::CanopySection(1.0, 0.5, 1.0, false));
  int error = -1;
  auto m = b.Make(error);
  EXPECT_EQ(error, 0) << b.log.console();
  m->thresholdTemperature = 0.0;
  m->transZone = 1.0;
  std::mt19937 rng(99);
  for (int s = 0; s < steps; ++s) {
    Randomise(b, rng, true);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) b.Grid("temperature")[r][c] = -6.0 + 10.0 * u(rng);
    m->Run(Hour(s));
  }
  std::vector<std::string> out;
  for (int p = 1; p < kGridRegistrySize; ++p) {
    const GridRecord& g = b.registry[p];
    if (!g.registered || !g.data) continue;
    std::string bytes;
    for (int r = 1; r <= b.rows; ++r) bytes.append(reinterpret_cast<const char*>(&g.data[r][1]), sizeof(double) * b.cols);
    out.push_back(g.internalName + ":" + bytes);
  }
  m.Release();
  for (const char* f : {"thr.stat", "thr_Layer_1.stat", "evap_Layer_2.stat", "stor.stat"})
    out.push_back(ReadTextFile(b.dir.file(f)));
  omp_set_num_threads(2);
  return out;
}

}  // namespace

TEST(InterceptionStep, ResultsAndStatisticsAreTheSameForEveryThreadCount) {
  const std::vector<std::string> one = RunWithThreads(1, 12);
  ASSERT_GT(one.size(), 10u);
  EXPECT_GT(one.back().size(), 100u);  // the statistics were written
  EXPECT_EQ(one, RunWithThreads(8, 12));
  EXPECT_EQ(one, RunWithThreads(3, 12));
}

TEST(InterceptionStep, TwoDaysEqualOneDayAndAWarmStartFromTheWrittenStorage) {
  for (int layers : {1, 2}) {
    SCOPED_TRACE(layers);
    auto forcing = [](InterceptionBasin& b, int step) {
      std::mt19937 rng(1000 + step);
      Randomise(b, rng, false);
    };
    // two days in one run
    InterceptionBasin whole(5, 6, layers);
    whole.WriteControl(InterceptionBasin::Section(2, 0.4));
    int error = -1;
    auto a = whole.Make(error);
    ASSERT_EQ(error, 0) << whole.log.console();
    for (int s = 0; s < 48; ++s) {
      forcing(whole, s);
      a->Run(Hour(s));
    }
    // one day, the storage written at its end, then a warm start for the second day
    InterceptionBasin first(5, 6, layers);
    first.WriteControl(InterceptionBasin::Section(2, 0.4));
    auto b1 = first.Make(error);
    ASSERT_EQ(error, 0);
    b1->SetEndDate(2001, 1, 1, 23, 0);
    for (int s = 0; s < 24; ++s) {
      forcing(first, s);
      b1->Run(Hour(s));
    }
    b1.Release();
    InterceptionBasin second(5, 6, layers);
    for (int k = 0; k <= layers; ++k) {
      const std::string name = k == 0 ? "stor.asc" : "stor_Layer_" + std::to_string(k) + ".asc";
      ASSERT_EQ(RunCommand("cp " + first.dir.file(name) + " " + second.dir.file(name)), 0) << name;
    }
    second.WriteControl(InterceptionBasin::Section(2, 0.4, 1));
    auto b2 = second.Make(error);
    ASSERT_EQ(error, 0) << second.log.console();
    for (int s = 24; s < 48; ++s) {
      forcing(second, s);
      b2->Run(Hour(s));
    }
    for (int k = 0; k <= layers; ++k) EXPECT_EQ(Storage(*a, k, 5, 6), Storage(*b2, k, 5, 6)) << "layer " << k;
    for (int r = 1; r <= 5; ++r)
      for (int c = 1; c <= 6; ++c) EXPECT_EQ(a->layers[0].throughfall[r][c], b2->layers[0].throughfall[r][c]);
    a.Release();
    b2.Release();
  }
}

namespace {

// Every grid of the module by name, and the rows of its statistics files after the header.
std::map<std::string, std::string> ModuleGrids(InterceptionBasin& b) {
  std::map<std::string, std::string> out;
  for (int p = 1; p < kGridRegistrySize; ++p) {
    const GridRecord& g = b.registry[p];
    if (!g.registered || !g.data || p < b.nextPosition) continue;  // the basin's own inputs
    std::string bytes;
    for (int r = 1; r <= b.rows; ++r) bytes.append(reinterpret_cast<const char*>(&g.data[r][1]), sizeof(double) * b.cols);
    out[g.internalName] = bytes;
  }
  return out;
}
std::vector<std::string> LastRows(const std::string& file, size_t count) {
  std::vector<std::string> rows;
  std::istringstream in(ReadTextFile(file));
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) rows.push_back(line);
  return rows.size() < count ? rows : std::vector<std::string>(rows.end() - static_cast<long>(count), rows.end());
}

}  // namespace

TEST(InterceptionStep, CanopySnowTwoDaysEqualOneDayAndAWarmStart) {
  // The canopy snow with its energy balance: two days in one run against one day, its state
  // written at the end, and a second day started from it. The state: the storage of every
  // layer, the canopy load, albedo, age and old canopy temperature, and the air temperature
  // grids of the last day whose mean drives the sub-canopy temperature.
  const std::string section = InterceptionBasin::CanopySection(1.0, 0.5, 1.2, true, "", 2001);
  const auto make = [&](InterceptionBasin& b, int readGrids) {
    b.Add("albedo", 0.7);
    b.Add("snow_storage_total", 5.0);
    b.Add("surftemp", 271.0);
    b.WriteControl(InterceptionBasin::Section(32, 0.4, readGrids, 2001) + section);
    int error = -1;
    auto m = b.Make(error);
    EXPECT_EQ(error, 0) << b.log.console();
    m->thresholdTemperature = 0.5;
    m->transZone = 1.0;
    return m;
  };
  const auto step = [](InterceptionBasin& b, interzeptionsmodellklasse& m, int s) {
    std::mt19937 rng(500 + s);
    Randomise(b, rng, true);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int r = 1; r <= b.rows; ++r)
      for (int c = 1; c <= b.cols; ++c) b.Grid("temperature")[r][c] = -7.0 + 10.0 * u(rng) + 0.2 * s;
    m.Run(Hour(s));
  };
  InterceptionBasin whole(5, 6, 2);
  auto a = make(whole, 0);
  for (int s = 0; s < 48; ++s) step(whole, *a, s);
  const std::map<std::string, std::string> wholeGrids = ModuleGrids(whole);
  a.Release();

  InterceptionBasin first(5, 6, 2);
  auto b1 = make(first, 0);
  b1->SetEndDate(2001, 1, 1, 23, 0);
  for (int s = 0; s < 24; ++s) step(first, *b1, s);
  b1.Release();
  InterceptionBasin second(5, 6, 2);
  for (const char* f : {"stor.asc", "stor_Layer_1.asc", "stor_Layer_2.asc", "scn_load.asc", "scn_alb.asc",
                        "scn_age.asc", "ceb_told.asc", "scn_load_temperature_stack.bin"})
    ASSERT_EQ(RunCommand("cp " + first.dir.file(f) + " " + second.dir.file(f)), 0) << f;
  EXPECT_FALSE(std::filesystem::exists(first.dir.file("scn_load_temperature_stack.bin.tmp")));
  auto b2 = make(second, 1);
  EXPECT_EQ(b2->snowCanopyStack->Count(), 24);
  for (int s = 24; s < 48; ++s) step(second, *b2, s);
  EXPECT_EQ(ModuleGrids(second), wholeGrids);
  b2.Release();
  for (const char* f : {"scn_temp.stat", "scn_load.stat", "scn_subl.stat", "ceb_t.stat", "thr.stat", "stor_Layer_2.stat"})
    EXPECT_EQ(LastRows(second.dir.file(f), 24), LastRows(whole.dir.file(f), 24)) << f;

  // A state without the stack (a first run's, or an older one) starts as before, with a word.
  InterceptionBasin older(5, 6, 2);
  for (const char* f : {"stor.asc", "stor_Layer_1.asc", "stor_Layer_2.asc", "scn_load.asc", "scn_alb.asc",
                        "scn_age.asc", "ceb_told.asc"})
    ASSERT_EQ(RunCommand("cp " + first.dir.file(f) + " " + older.dir.file(f)), 0) << f;
  auto c = make(older, 1);
  EXPECT_EQ(c->snowCanopyStack->Count(), 0);
  EXPECT_NE(older.log.console().find("no air temperature stack " + older.dir.file("scn_load_temperature_stack.bin")),
            std::string::npos)
      << older.log.console();
}

TEST(InterceptionStep, StatisticsCountTheGlacierPartAsZeroAndLeaveOutsideCellsOut) {
  InterceptionBasin b(2, 4);
  double** glacier = b.Add("GlacierizedCells", 0.0);
  glacier[1][1] = 0.5;
  glacier[1][3] = 1.0;
  b.Grid("precipitation")[2][4] = 1000.0;  // outside: must not count
  b.WriteControl(InterceptionBasin::Section(2, 0.5, 0, 2001));
  int error = -1;
  auto m = b.Make(error);
  ASSERT_EQ(error, 0) << b.log.console();
  m->Run(Hour(1));
  // LAI 3 x IntercepCap 0.4 holds 1.2 mm; 0.8 of the 1 mm input is caught, 0.15 evaporates
  const InterceptionLayer& top = m->layers[0];
  EXPECT_DOUBLE_EQ(top.throughfall[2][2], 0.2);
  EXPECT_DOUBLE_EQ(top.throughfall[1][1], 0.5 * 0.2 + 0.5 * 1.0);
  EXPECT_DOUBLE_EQ(top.evaporation[2][2], 0.15);
  const zonalstatistic& t = *top.throughfallStats.writer;
  EXPECT_NEAR(t.CurrentValue(1), (0.5 * 0.2 + 3 * 0.2) / 4, 1e-12);  // zone 1: half a cell of glacier
  EXPECT_NEAR(t.CurrentValue(2), (0.0 + 2 * 0.2) / 3, 1e-12);        // zone 2: a glacier cell, one outside
  EXPECT_NEAR(m->layers[1].evaporationStats.writer->CurrentValue(1), (0.5 * 0.15 + 3 * 0.15) / 4, 1e-12);
  m.Release();

  // Canopy snow with its energy balance: each canopy writer holds the mean of its own grid
  // over the glacier-free part of the zone's cells, the storage writers that of theirs.
  InterceptionBasin c(5, 6, 2);
  c.Add("albedo", 0.7);
  c.Add("snow_storage_total", 5.0);
  c.Add("surftemp", 271.0);
  double** share = c.Add("GlacierizedCells", 0.0);
  share[1][1] = 0.5;
  share[4][5] = 1.0;
  c.WriteControl(InterceptionBasin::Section(32, 0.5, 0, 2001) +
                 InterceptionBasin::CanopySection(1.0, 0.05, 1.0, true, "", 2001));
  auto snowy = c.Make(error);
  ASSERT_EQ(error, 0) << c.log.console();
  snowy->thresholdTemperature = 0.5;
  snowy->transZone = 1.0;
  std::mt19937 rng(5);
  for (int s = 0; s < 3; ++s) {
    Randomise(c, rng, true);
    snowy->Run(Hour(s));
  }
  const auto mean = [&](double** grid, int zone, bool weighted) {
    double sum = 0.0, weight = 0.0;
    for (int r = 1; r <= 5; ++r)
      for (int col = 1; col <= 6; ++col) {
        if ((r == 2 && col == 6) || (col <= 3 ? 1 : 2) != zone) continue;
        const double g = share[r][col];
        sum += weighted ? (1.0 - g) * grid[r][col] : (1.0 - g) * grid[r][col];
        weight += weighted ? 1.0 - g : 1.0;
      }
    return sum / weight;
  };
  for (int z : {1, 2}) {
    int written = 0;
    for (const CanopySnowGrid& g : snowy->canopyGrids) {
      if (!g.stats.Active()) continue;  // the longwave grid has no statistics file
      ++written;
      EXPECT_NEAR(g.stats.writer->CurrentValue(z), mean(g.data, z, true), 1e-9 * (1.0 + std::fabs(mean(g.data, z, true))))
          << g.fileName << " zone " << z;
    }
    EXPECT_EQ(written, 14);
    for (const InterceptionLayer& l : snowy->layers)
      EXPECT_NEAR(l.storageStats.writer->CurrentValue(z), mean(l.storage, z, false), 1e-12) << "zone " << z;
  }
}
