// The soil model on a small basin: construction and its failures, the sub-basin water
// balance, travel-time zones, lakes, thread counts and the warm start.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

#include "processes/soil_basin.h"
#include "tables/landuse_parameter_grids.h"
#include "tables/phenology.h"
#include "framework/thread_policy.h"

namespace {

// Rows of a configuration in which the capillary exchange stays idle (no reach, the
// water table always below the soil).
SoilSectionOptions IdleOptions() {
  SoilSectionOptions o;
  o.rows[0] = "0.02 0.02";  // m
  o.rows[10] = "0.9 0.9";   // SDini
  return o;
}

// Deterministic rain: heavy bursts on some cells, dry steps between.
void Rain(SoilBasin& b, int step) {
  double** p = b.Grid("precipitation");
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c)
      p[r][c] = step % 4 == 3 ? 0.0 : std::fmod(1.7 * r + 2.3 * c + 5.1 * step, 13.0) * (step % 5 == 0 ? 3.0 : 0.5);
}

ModelDate Step(int k) { return ModelDate{0, k % 24, 1 + k / 24, 1, 2001}; }

// Lake and glacier cells have no soil: the soil model passes their water on.
bool PassedOver(const infiltrationsmodellklasse& m, int r, int c) {
  return (m.lakeCodes && m.lakeCodes[r][c] > -9999.0) || m.glaciers.Soilless(r, c);
}

// Everything the sub-basin holds, in mm: cell storages, less the mean deficit, water in
// transit in the zones behind the first, and the contents of the two linear storages.
double SubbasinStorage(SoilBasin& b, infiltrationsmodellklasse& m, int i) {
  double sum = 0.0, weight = 0.0;
  double** w = b.Grid("RelCellArea");
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c) {
      if (m.SubbasinOf(r, c) != i) continue;
      if (!PassedOver(m, r, c))
        sum += w[r][c] * (m.soilStorage[r][c] * m.availableSoilMoisture[r][c] +
                          m.inactiveSoilMoisture[r][c] * m.inactiveFieldCapacity[r][c] + m.unsaturatedZone[r][c] +
                          m.interflowStorage[r][c]);
      weight += w[r][c];
    }
  double transit = 0.0;
  const auto& zones = m.zoneFZT[static_cast<size_t>(i)];
  for (size_t k = 2; k < zones.size(); ++k) transit += zones[k].sx;
  const SubbasinParameters& p = m.params[static_cast<size_t>(i)];
  return sum / weight - m.meanDeficit[static_cast<size_t>(i)] + transit / weight +
         soilcell::LinearStorageContent(m.QD[static_cast<size_t>(i)], std::exp(-60.0 / p.kQD)) +
         soilcell::LinearStorageContent(m.QBB[static_cast<size_t>(i)], std::exp(-60.0 / p.kQBB));
}

// The water input of the cells the soil model steps (lake and glacier cells pass theirs on),
// per unit area of the sub-basin.
double SubbasinInput(SoilBasin& b, infiltrationsmodellklasse& m, int i) {
  double sum = 0.0, weight = 0.0;
  double** w = b.Grid("RelCellArea");
  double** p = b.Grid("precipitation");
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c)
      if (m.SubbasinOf(r, c) == i) {
        if (!PassedOver(m, r, c)) sum += w[r][c] * p[r][c];
        weight += w[r][c];
      }
  return sum / weight;
}

// Runs the steps from..to-1 with the deterministic rain, beforeStep (when given) just before
// each step and afterStep after it, and checks per sub-basin and step: input = change of
// storage + the soil runoff in the record (the record less glacier[i], the glacier outflow
// put there before the step).
void ExpectBalanceEveryStep(SoilBasin& b, infiltrationsmodellklasse& m, int from, int to,
                            const std::function<void(int)>& beforeStep = nullptr, const double* glacier = nullptr,
                            const std::function<void(int)>& afterStep = nullptr) {
  double before[3] = {0, SubbasinStorage(b, m, 1), SubbasinStorage(b, m, 2)};
  for (int s = from; s < to; ++s) {
    Rain(b, s);
    if (beforeStep) beforeStep(s);
    const double input[3] = {0, SubbasinInput(b, m, 1), SubbasinInput(b, m, 2)};
    m.Run(Step(s));
    for (int i = 1; i <= 2; ++i) {
      const double after = SubbasinStorage(b, m, i);
      const double runoff = m.GetSubbasinRunoff()->Water(i) - (glacier ? glacier[i] : 0.0);
      ASSERT_NEAR(input[i], after - before[i] + runoff, 1e-9 * (std::fabs(after) + input[i] + 1.0))
          << "step " << s << " sub-basin " << i;
      before[i] = after;
    }
    if (afterStep) afterStep(s);
  }
}

void AddTravelTimes(SoilBasin& b) {
  double** t = b.Add("flow_times", 0.0);
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c) t[r][c] = 1800.0 * ((r + c) % 6);  // zones 1 to 3
}

}  // namespace

TEST(SoilModel, BuildsItsGridsRecordAndDeficits) {
  SoilBasin b;
  auto m = b.Build(SoilSectionOptions());
  ASSERT_EQ(m->subbasins, 2);
  EXPECT_EQ(m->subbasinCodes[2], 3);
  for (const char* g : {"saturation_deficite", "unsaturated_zone_storage", "interflow_storage", "inaktive_soil_moisture",
                        "inaktive_field_capacity", "saturated_soil_partition", "soil_storage_old", "directflow",
                        "interflow", "peakflow", "infiltration_excess", "infiltration_saturation"})
    EXPECT_NE(b.Grid(g), nullptr) << g;
  SubbasinRunoff* record = m->GetSubbasinRunoff();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->subbasinCount, 2);
  // The record holds the interflow and baseflow before the first step; edges stay 0.
  const double qb = m->Q0[1] * std::exp(-m->meanDeficit[1] / 50.0);
  EXPECT_NEAR(record->Water(1), (1.0 - std::exp(-60.0 / 600.0)) * 5.0 + qb, 1e-12);
  EXPECT_EQ(record->table[0][0], 0.0);
  EXPECT_EQ(record->table[0][3], 0.0);
  EXPECT_EQ(record->table[1][1], 0.0);
  // Mean deficit from SDini x nFK; offsets weigh to 0 in every sub-basin.
  EXPECT_NEAR(m->meanDeficit[1], 0.4 * 120.0, 1e-12);
  EXPECT_NEAR(m->Q0[2], std::exp(std::log(60.0 * 6e7 * 2e-6) - m->meanTopographicIndex[2]), 1e-9);
  double offsets = 0.0;
  double** w = b.Grid("RelCellArea");
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c)
      if (m->SubbasinOf(r, c) == 2) offsets += w[r][c] * m->topographicOffset[r][c];
  EXPECT_NEAR(offsets, 0.0, 1e-9);
  m.Release();

  // Flow control 2 runs the model but hands no record on.
  SoilBasin b2;
  SoilSectionOptions two;
  two.flowControl = 2;
  auto m2 = b2.Build(two);
  EXPECT_EQ(m2->GetSubbasinRunoff(), nullptr);
  EXPECT_NE(m2->GetStorageFileName(), nullptr);
}

TEST(SoilModel, BadSectionsAndGridsEndTheRun) {
  struct Case {
    const char* what;
    std::function<void(SoilBasin&, SoilSectionOptions&)> setup;
    int code;
    const char* message;
  } cases[] = {
      {"travel times missing in a whole sub-basin",
       [](SoilBasin& b, SoilSectionOptions&) {
         double** t = b.Add("flow_times", 3600.0);
         for (int r = 1; r <= 6; ++r) t[r][1] = t[r][2] = -9999.0;
       },
       6, "all cells in flow time grid flow_times, sub basin 1 are NODATA!"},
      {"no cell in the first travel-time zone",
       [](SoilBasin& b, SoilSectionOptions&) { b.Add("flow_times", 7000.0); }, 61,
       "the first time zone of subbasin 1 has no cells!"},
      {"infiltration without the soil model",
       [](SoilBasin&, SoilSectionOptions& o) { o.flowControl = 0; }, 47, "auch das Bodenmodell ausgefuehrt wird"},
      {"macropore share above 1", [](SoilBasin&, SoilSectionOptions& o) { o.macropores = 2.0; }, 17,
       "the share of the infiltration excess through macropores is 2; it must lie in 0 .. 1"},
      {"macropore share not a number", [](SoilBasin&, SoilSectionOptions& o) { o.macropores = NAN; }, 17,
       "Durch Makroporen versickernder Anteil P fuer infiltration_model"},
      {"infiltration interval differs",
       [](SoilBasin&, SoilSectionOptions& o) { o.infiltrationInterval = 30; }, 17,
       "differs from the one of [soil_model]"},
      {"unknown lake initialisation",
       [](SoilBasin& b, SoilSectionOptions& o) {
         b.Add("lake_codes", -9999.0);
         o.extra = "[lake_model]\n1\n3\n";
       },
       211, "Error in initialization method for [lake_model]"},
      {"sub-basin code missing in the table",
       [](SoilBasin&, SoilSectionOptions& o) { o.codeRow = "1 2 3"; }, 10, "there is no code 2"},
      {"negative recession parameter",
       [](SoilBasin&, SoilSectionOptions& o) { o.rows[0] = "0.05 -1"; }, 1, "the recession parameter m of sub-basin 3 is -1"},
      {"missing root depth", [](SoilBasin& b, SoilSectionOptions&) { b.registry[5].internalName = "x"; }, 33,
       "root_depth1 not found in memory"},
      {"negative conductivity (it would drain water up out of nothing)",
       [](SoilBasin& b, SoilSectionOptions&) { b.Grid("hydraulic_conductivity")[4][2] = -0.5; }, 10,
       "\"hydraulic_conductivity\" is -0.5 in row 4, column 2 of soil_model; a conductivity cannot be negative"},
  };
  for (const Case& c : cases) {
    SoilBasin b;
    SoilSectionOptions o;
    c.setup(b, o);
    int code = 0;
    try {
      auto m = b.Build(o);
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, c.code) << c.what;
    EXPECT_NE(b.log.console().find(c.message), std::string::npos) << c.what << ": " << b.log.console();
  }
}

TEST(SoilModel, WarnsAboutEmptyMeansSmallConductivityAndMissingTravelTimes) {
  SoilBasin b;
  double** w = b.Grid("RelCellArea");
  for (int r = 1; r <= 6; ++r) w[r][1] = w[r][2] = 0.0;  // sub-basin 1 weighs nothing
  double** k = b.Grid("hydraulic_conductivity");
  for (int r = 1; r <= 6; ++r)
    for (int c = 1; c <= 5; ++c) k[r][c] = 1e-5;
  double** t = b.Add("flow_times", 3600.0);
  t[2][3] = -9999.0;
  t[3][3] = NAN;
  SoilSectionOptions o;
  o.rows[1] = "1e-6 0";  // Tkorr 0: no baseflow
  ModuleOwner<infiltrationsmodellklasse> m;
  try {
    m = b.Build(o);
  } catch (int e) {
    FAIL() << e << b.log.console();
  }
  const std::string log = b.log.console();
  EXPECT_NE(log.find("1 sub-basins of soil_model have no cell weight"), std::string::npos) << log;
  EXPECT_NE(log.find("mean of \"hydraulic_conductivity\""), std::string::npos);
  EXPECT_NE(log.find("2 cells of soil_model have no value in the flow time grid"), std::string::npos);
  EXPECT_EQ(m->Q0[1], 0.0);
  EXPECT_EQ(m->Q0[2], 0.0);
  EXPECT_EQ(m->flowTimes[2][3], 1.0);
  for (int s = 0; s < 5; ++s) {
    Rain(b, s);
    m->Run(Step(s));
    for (int i = 1; i <= 2; ++i) ASSERT_TRUE(std::isfinite(m->GetSubbasinRunoff()->Water(i)));
  }
  // Means over no weight are 0; what is left is the slow baseflow storage running out.
  EXPECT_EQ(m->QD[1], 0.0);
  EXPECT_EQ(m->QI[1], 0.0);
  EXPECT_EQ(m->QB[1], 0.0);
  EXPECT_EQ(m->GetSubbasinRunoff()->Water(1), m->QBB[1]);
}

// input = change of storages (cells, deficit, zones in transit, linear storages) + runoff.
TEST(SoilModel, SubbasinWaterBalanceClosesEveryStep) {
  SoilBasin b;
  AddTravelTimes(b);
  auto m = b.Build(IdleOptions());
  ExpectBalanceEveryStep(b, *m, 0, 200, [&](int) {
    for (int i = 1; i <= 2; ++i)
      ASSERT_NEAR(m->zoneFZT[static_cast<size_t>(i)][1].RelCellSum, m->weightSum[static_cast<size_t>(i)], 1e-12);
  });
}

TEST(SoilModel, DirectRunoffTravelsThroughItsZoneUndiminished) {
  SoilBasin b;
  double** t = b.Add("flow_times", 600.0);
  t[1][4] = 3 * 3600.0 - 1.0;  // zone 3
  SoilSectionOptions o = IdleOptions();
  o.macropores = 0.0;
  auto m = b.Build(o);
  double** p = b.Grid("precipitation");
  p[1][4] = 40.0;  // far above the conductivity: infiltration excess
  const double w = b.Grid("RelCellArea")[1][4];
  m->Run(Step(0));
  const double qd = m->directFlow[1][4];
  ASSERT_GT(qd, 1.0);
  EXPECT_EQ(m->zoneFZT[2][3].sx, qd * w);
  p[1][4] = 0.0;
  m->Run(Step(1));
  EXPECT_EQ(m->zoneFZT[2][2].sx, qd * w);
  const double q2 = m->QD[2];
  m->Run(Step(2));
  EXPECT_EQ(m->zoneFZT[2][1].sx, qd * w);
  const double e = std::exp(-60.0 / m->params[2].kQD);
  EXPECT_NEAR(m->QD[2], q2 * e + (qd * w / m->weightSum[2]) * (1 - e), 1e-12);
}

TEST(SoilModel, LakeCellsAddNothingButKeepTheOthersRunoff) {
  SoilBasin b;
  double** lakes = b.Add("lake_codes", -9999.0);
  lakes[2][3] = 1.0;
  b.Add("ponding_storage_top", 0.0);
  b.Add("max_ponding_storage", 0.5);
  SoilSectionOptions o = IdleOptions();
  o.macropores = 0.0;
  o.extra = "[lake_model]\n1\n1\n";
  auto m = b.Build(o);
  EXPECT_EQ(b.Grid("max_ponding_storage")[1][1], 500.0);
  double** p = b.Grid("precipitation");
  p[1][4] = 40.0;  // runoff of another cell of the sub-basin, in zone 1 like the lake
  m->Run(Step(0));
  double** w = b.Grid("RelCellArea");
  EXPECT_EQ(m->zoneFZT[2][1].sx, m->directFlow[1][4] * w[1][4]);
  EXPECT_GT(m->zoneFZT[2][1].sx, 0.0);
  EXPECT_NEAR(m->zoneFZT[2][1].RelCellSum, m->weightSum[2], 1e-12);
  EXPECT_EQ(m->soilStorage[2][3], 1.0);
  EXPECT_EQ(m->saturationDeficit[2][3], 0.0);
}

TEST(SoilModel, ResultsDoNotDependOnTheThreadCount) {
  const ScopedMinParallelCells forkAlways(0);  // small grids run the parallel path too
  const int saved = omp_get_max_threads();
  std::vector<double> results[2];
  std::string tables[2];
  for (int run = 0; run < 2; ++run) {
    omp_set_num_threads(run == 0 ? 1 : 4);
    SoilBasin b;
    AddTravelTimes(b);
    SoilSectionOptions o;
    o.rows[12] = "0.4 0.7";  // capillary exchange on
    o.statCode = "2001";
    auto m = b.Build(o);
    for (int s = 0; s < 60; ++s) {
      Rain(b, s);
      m->Run(Step(s));
      for (int i = 1; i <= 2; ++i) results[run].push_back(m->GetSubbasinRunoff()->Water(i));
    }
    for (double** g : {m->soilStorage, m->saturationDeficit, m->unsaturatedZone, m->interflowStorage, m->directFlow})
      for (int r = 1; r <= SoilBasin::kRows; ++r)
        for (int c = 1; c <= SoilBasin::kCols; ++c) results[run].push_back(g[r][c]);
    m->WriteStatistics();
    for (const char* f : {"infex.stat", "SB.stat", "SUZ.stat", "SIF.stat"}) tables[run] += ReadTextFile(b.dir.file(f));
    m.Release();
  }
  omp_set_num_threads(saved);
  EXPECT_GT(tables[0].size(), 4u * 60u * 10u);  // 60 rows in each file
  EXPECT_EQ(tables[0], tables[1]);
  ASSERT_EQ(results[0].size(), results[1].size());
  for (size_t k = 0; k < results[0].size(); ++k) ASSERT_EQ(results[0][k], results[1][k]) << k;
}

// The data rows of a statistics file (its header rows dropped).
std::vector<std::string> StatisticsRows(const std::string& path) {
  std::istringstream in(ReadTextFile(path));
  std::vector<std::string> rows;
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("2001", 0) == 0) rows.push_back(line);
  return rows;
}

// 2N steps equal N steps, the state written, and N steps from a warm start, bit for bit:
// with the capillary exchange fed by a stand-in for evapotranspiration (it takes from the
// soil storage after every step, as real evapotranspiration does), the infiltration on
// (cells stay saturated over several steps) and travel times.
TEST(SoilModel, WarmStartContinuesTheRunExactly) {
  const int N = 26;  // the heavy rain of step 25 leaves saturated cells behind
  SoilSectionOptions o;
  o.rows[10] = "0.1 0.1";  // SDini: the water table within the capillary reach
  o.rows[12] = "0.9 0.9";  // Rrueck
  o.statCode = "2001";
  const auto run = [](SoilBasin& b, infiltrationsmodellklasse& m, int from, int to, std::vector<double>& record) {
    double** sb = b.Grid("soil_storage");
    for (int s = from; s < to; ++s) {
      Rain(b, s);
      m.Run(Step(s));
      for (int i = 1; i <= 2; ++i) record.push_back(m.GetSubbasinRunoff()->Water(i));
      for (int r = 1; r <= SoilBasin::kRows; ++r)
        for (int c = 1; c <= SoilBasin::kCols; ++c) sb[r][c] *= 0.97;
    }
    m.WriteStatistics();
  };
  std::vector<double> whole, halves;

  SoilBasin one;
  AddTravelTimes(one);
  one.soilRows[1].suction = 5.0;  // saturated cells shed more than unsaturated ones
  auto a = one.Build(o);
  run(one, *a, 0, 2 * N, whole);

  SoilBasin first;
  AddTravelTimes(first);
  first.soilRows[1].suction = 5.0;  // saturated cells shed more than unsaturated ones
  o.gridDir = first.dir.path() + "/";
  auto b = first.Build(o);
  run(first, *b, 0, N, halves);
  // What the warm start has to carry: saturated cells, a soil storage that evaporation
  // lowered since the step, cells within the capillary reach.
  int saturated = 0, dried = 0, reached = 0;
  b->ForEachCell([&](int r, int col) {
    saturated += b->saturationMarker[r][col] > 0.5;
    dried += b->soilStorageOld[r][col] != b->soilStorage[r][col];
    reached += b->saturatedSoilPartition[r][col] > 0.0;
  });
  EXPECT_GT(saturated, 0);
  EXPECT_GT(dried, 0);
  EXPECT_GT(reached, 0);
  const char* names[6] = {"sd", "suz", "sif", "sbia", "nfkia", "ssp"};
  double** state[6] = {b->saturationDeficit,     b->unsaturatedZone,       b->interflowStorage,
                       b->inactiveSoilMoisture, b->inactiveFieldCapacity, b->saturatedSoilPartition};
  for (int k = 0; k < 6; ++k) b->WriteGridDouble(o.gridDir + names[k] + ".bin", state[k], false, true, false);

  SoilBasin second;
  AddTravelTimes(second);
  second.soilRows[1].suction = 5.0;  // saturated cells shed more than unsaturated ones
  double** sb = second.Grid("soil_storage");
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c) sb[r][c] = first.Grid("soil_storage")[r][c];
  WriteTextFile(second.dir.file("state.txt"), "[snow_model_v2]\nsoil_model\n\n" + b->StorageSectionText() +
                                                    "[end_state]\n1985 1 2 2 0 (date)\n0 (files)\n");
  o.readgrids = 1;
  auto c = second.Build(o);
  EXPECT_EQ(second.log.console().find("does not hold"), std::string::npos) << second.log.console();
  run(second, *c, N, 2 * N, halves);

  ASSERT_EQ(whole.size(), halves.size());
  for (size_t k = 0; k < whole.size(); ++k) ASSERT_EQ(whole[k], halves[k]) << "record value " << k;
  EXPECT_EQ(a->StorageSectionText(), c->StorageSectionText());
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int col = 1; col <= SoilBasin::kCols; ++col) {
      for (const char* g : {"soil_storage", "saturation_deficite", "unsaturated_zone_storage", "interflow_storage",
                            "inaktive_soil_moisture", "inaktive_field_capacity", "saturated_soil_partition",
                            "soil_storage_old", "infiltration_saturation", "peakflow", "directflow"})
        ASSERT_EQ(one.Grid(g)[r][col], second.Grid(g)[r][col]) << g << " " << r << "," << col;
    }
  for (const char* f : {"Qg.stat", "QD.stat", "SB.stat", "SD.stat", "infex.stat"}) {
    const std::vector<std::string> all = StatisticsRows(one.dir.file(f)), late = StatisticsRows(second.dir.file(f));
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * N)) << f;
    EXPECT_EQ(std::vector<std::string>(all.begin() + N, all.end()), late) << f;
  }
}

TEST(SoilModel, StorageSectionMismatchesStopTheWarmStart) {
  SoilBasin b;
  AddTravelTimes(b);
  auto m = b.Build(IdleOptions());
  const std::string text = m->StorageSectionText();
  EXPECT_EQ(text.rfind("[soil_model]\n2 (number of subasins)\n1\t3\t(code)\n", 0), 0u);
  struct Case {
    std::string from, to, label;
  } cases[] = {
      {"20\t20\t(m:", "20\t20.01\t(m:", "m"},
      {"(code)", "\n", "subbasin code"},
      {"1 3 (zone 1", "1 4 (zone 1", "maxzeit of actual subbasin"},
      {"\t(k_ELS_QI", "0.5\t(k_ELS_QI", "k_ELS_QI"},
      {"29 (cells:", "28 (cells:", "number of cells"},
      // a value that is no number, named with its cell or sub-basin and line
      {"\n0.5 0 0\n", "\n0.5 nan 0\n", "the saturation marker of row 1, column 1 in the part [soil_model] of "
                                            "state.txt: line 29 holds \"nan\""},
      {"subbasin)\n1 ", "subbasin)\n1 inf ", "QBB of sub-basin 1"},
      // cut short inside the root-zone block; a layer that is no whole number
      {" 0 0\n\n", " 0\n\n", "the layer of the root zone of row 6, column 4 in the part [soil_model] of state.txt: "
                              "the file ends at line"},
      {" 0 0\n\n", " 0 1.5\n\n", "the layer of the root zone"},
  };
  for (const Case& c : cases) {
    std::string changed = text;
    const size_t at = changed.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    if (c.label == "subbasin code") changed.replace(changed.find("3\t(code)"), 1, "4");
    else if (c.label == "k_ELS_QI") changed.replace(changed.rfind("\t", at - 1) + 1, at - changed.rfind("\t", at - 1) - 1, "0.5");
    else changed.replace(at, c.from.size(), c.to);
    int code = 0;
    try {
      m->RestoreStorageSection(changed, "state.txt");
    } catch (int e) {
      code = e;
    }
    EXPECT_EQ(code, 71) << c.label;
    EXPECT_NE(b.log.console().find("error in storage file content reading " + c.label), std::string::npos)
        << c.label << b.log.console();
    EXPECT_NE(b.log.console().find("state.txt"), std::string::npos) << c.label;
  }
  // A recession constant is kept as a factor per step: only its message names the step.
  const std::string console = b.log.console();
  const size_t perStep = console.find("the state was written by a run with other recession constants or another time step");
  EXPECT_NE(perStep, std::string::npos) << console;
  EXPECT_EQ(console.find("another time step", perStep + 100), std::string::npos) << console;
  int code = 0;
  try {
    m->RestoreStorageSection("[soil_model_old]\n", "state.txt");
  } catch (int e) {
    code = e;
  }
  EXPECT_EQ(code, 71);
  // Files of the older layouts leave what they lack as built, with one INFO naming it.
  const double deficit = m->meanDeficit[1];
  std::string old = text.substr(0, text.find("(QBB and mean"));
  old.replace(old.find("0 (QD[1])"), 1, "0.25");
  m->soilStorageOld[1][1] = 0.75;
  const double capacity = m->availableSoilMoisture[1][1];
  m->availableSoilMoisture[1][1] = 123.0;
  const std::string withCells = text.substr(0, text.rfind('\n', text.find("(cells: usable")) + 1);
  for (const std::string& file : {old, text.substr(0, text.find("29 (cells:")), withCells}) {
    const size_t before = b.log.console().size();
    m->RestoreStorageSection(file, "state.txt");
    const std::string said = b.log.console().substr(before);
    EXPECT_EQ(said.find("INFO"), said.rfind("INFO")) << said;
    EXPECT_EQ(said.find("the slow baseflow and mean deficit of the sub-basins nor") != std::string::npos, file == old);
    EXPECT_EQ(said.find("previous step, the infiltration saturation marker and the peak flow") != std::string::npos,
              file != withCells);
    EXPECT_NE(said.find("the usable field capacity and the root depth of the root zone"), std::string::npos) << said;
    EXPECT_EQ(m->availableSoilMoisture[1][1], 123.0);
    if (file == old) {
      EXPECT_EQ(m->QD[1], 0.25);
      EXPECT_EQ(m->meanDeficit[1], deficit);
    }
    if (file != withCells) {
      EXPECT_EQ(m->soilStorageOld[1][1], 0.75);
    }
  }
  // The whole part gives back the capacity, and the root zone's depth and layer go to the
  // daily update only for a layer the land-use table has.
  std::string rooted = text;
  rooted.replace(rooted.rfind(" 0 0\n\n"), 4, " 0.7 1");
  m->RestoreStorageSection(rooted, "state.txt");
  EXPECT_EQ(m->availableSoilMoisture[1][1], capacity);
  LanduseParameterGrids g;
  g.layers = 1;
  g.layer[kRootDepth].assign(2, nullptr);
  m->SetRootZoneReference(&g);
  size_t last = 0;
  m->ForEachCell([&](int r, int c) { last = static_cast<size_t>(r) * (SoilBasin::kCols + 1) + static_cast<size_t>(c); });
  ASSERT_EQ(g.rootZoneLayer.size(), (SoilBasin::kRows + 1u) * (SoilBasin::kCols + 1u));
  EXPECT_EQ(g.rootZoneDepth[last], 0.7);
  EXPECT_EQ(g.rootZoneLayer[last], 1);
  EXPECT_NE(m->StorageSectionText().find(" 0.69999999999999996 1\n\n"), std::string::npos);
  rooted.replace(rooted.rfind(" 0.7 1\n"), 6, " 0.7 2");
  m->RestoreStorageSection(rooted, "state.txt");
  int layerCode = 0;
  try {
    m->SetRootZoneReference(&g);
  } catch (int e) {
    layerCode = e;
  }
  EXPECT_EQ(layerCode, 71);
  EXPECT_NE(b.log.console().find("layer 2 but the land-use table has 1 layers"), std::string::npos);
  m->SetRootZoneReference(nullptr);  // the module writes its part once more when it ends
}

// The balance above with the capillary exchange on (and without any reach, Rrueck 0) and
// an inactive root zone that the roots feed: every few steps they shrink, and their
// capacity goes with its water into the inactive zone, as the daily land-use update moves it.
TEST(SoilModel, InactiveRootZoneKeepsItsWater) {
  for (const char* rrueck : {"0.4 0.7", "0 0"}) {
    SCOPED_TRACE(rrueck);
    SoilBasin b;
    AddTravelTimes(b);
    SoilSectionOptions o;
    o.rows[12] = rrueck;
    auto m = b.Build(o);
    double** depth = b.Grid("root_depth1");
    long reached = 0;  // cell-steps with the water table within the capillary reach
    ExpectBalanceEveryStep(b, *m, 0, 200, [&](int s) {
      for (int r = 1; r <= SoilBasin::kRows && s % 10 == 9; ++r)
        for (int c = 1; c <= SoilBasin::kCols; ++c) {
          if (!b.Inside(r, c)) continue;
          phenology::RootZone z{m->availableSoilMoisture[r][c], m->soilStorage[r][c], m->inactiveFieldCapacity[r][c],
                                m->inactiveSoilMoisture[r][c]};
          phenology::AdjustRootZone(z, depth[r][c], 0.9 * depth[r][c]);
          m->availableSoilMoisture[r][c] = z.capacity, m->soilStorage[r][c] = z.fraction;
          m->inactiveFieldCapacity[r][c] = z.inactiveCapacity, m->inactiveSoilMoisture[r][c] = z.inactiveFraction;
          depth[r][c] *= 0.9;
        }
    }, nullptr, [&](int) {
      m->ForEachCell([&](int r, int c) {
        reached += m->saturatedSoilPartition[r][c] > 0.0 && m->saturatedSoilPartition[r][c] < 1.0;
      });
    });
    double inactive = 0.0;
    for (int r = 1; r <= SoilBasin::kRows; ++r)
      for (int c = 1; c <= SoilBasin::kCols; ++c)
        if (b.Inside(r, c)) inactive += m->inactiveFieldCapacity[r][c];
    if (rrueck[0] != '0') {
      EXPECT_GT(inactive, 0.0) << "the inactive zone takes part";
      EXPECT_GT(reached, 0) << "the capillary exchange takes part";
    }
    m.Release();
  }
}

// Lake cells with the infiltration on: their whole input stays in the input grid (the lake
// takes it), and the sub-basin balance of the other cells closes; the saturated zone below
// the lake keeps its part of the mean deficit.
TEST(SoilModel, LakeCellsPassTheirWholeInputToTheLake) {
  SoilBasin b;
  AddTravelTimes(b);
  double** lakes = b.Add("lake_codes", -9999.0);
  lakes[2][3] = lakes[3][3] = lakes[5][1] = 1.0;
  b.Add("ponding_storage_top", 0.0);
  b.Add("max_ponding_storage", 0.5);
  SoilSectionOptions o;
  o.rows[12] = "0.4 0.7";
  o.extra = "[lake_model]\n1\n1\n";
  auto m = b.Build(o);
  double** p = b.Grid("precipitation");
  double** marker = b.Grid("infiltration_saturation");
  ExpectBalanceEveryStep(
      b, *m, 0, 100, [&](int s) { p[2][3] = 40.0 + s % 7; }, nullptr,  // far above the conductivity
      [&](int s) {
        ASSERT_EQ(p[2][3], 40.0 + s % 7) << "the lake's input after step " << s;
        ASSERT_EQ(m->infiltrationExcess[2][3], 0.0);
        ASSERT_EQ(marker[2][3], 0.0);
      });
}

// A glacier sub-basin: the snow model has put its glacier outflow into the record before the
// soil step; the soil runoff of the glacier-free cells (with their baseflow) adds to it.
TEST(SoilModel, GlacierSubbasinAddsTheRunoffOfItsGlacierFreeCells) {
  SoilBasin b;
  AddTravelTimes(b);
  double** ice = b.Add("ice_firn", -9999.0);
  ice[1][4] = ice[1][5] = ice[2][5] = 1.0;
  auto m = b.Build(SoilSectionOptions());
  const std::vector<unsigned char> flags = {0, 0, 1};
  m->SetGlacierSubbasins(&flags);
  const double glacier[3] = {0.0, 0.0, 1.25};
  ExpectBalanceEveryStep(b, *m, 0, 100, [&](int) { m->GetSubbasinRunoff()->Water(2) = glacier[2]; }, glacier);
  EXPECT_GT(m->QB[2], 0.0);
  EXPECT_GT(m->GetSubbasinRunoff()->Water(2), glacier[2] + m->QB[2]);
}

// A cell's sub-basin is its soil zone code rounded half up; a value that rounds to no listed
// code, or to none at all, leaves the cell out.
TEST(SoilModel, CellsTakeTheSubbasinOfTheirRoundedZoneCode) {
  SoilBasin b;
  auto m = b.Build(SoilSectionOptions());
  double** zones = b.Grid("zonegrid_soilmodel");
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    int subbasin;  // codes 1 and 3 are sub-basins 1 and 2
  } cases[] = {{0.5, 1},  {1.49, 1}, {2.5, 2},   {3.0, 2},   {3.49, 2}, {3.5, 0},          {2.49, 0},
               {-0.5, 0}, {-0.6, 0}, {1e300, 0}, {inf, 0},   {-inf, 0}, {std::nan(""), 0}, {-9999.0, 0}};
  for (const auto& k : cases) {
    zones[1][1] = k.value;
    EXPECT_EQ(m->SubbasinOf(1, 1), k.subbasin) << k.value;
  }
}

// Each step's infiltration takes the free pores the previous step left (not those of the
// step it feeds), with the drainable porosity of the cell's soil type rounded half up and
// none for a type past the table or below the first row.
TEST(SoilModel, InfiltrationTakesTheFreePoresThePreviousStepLeft) {
  SoilBasin b;
  AddTravelTimes(b);
  double** types = b.Grid("soil_types");
  types[1][1] = 1.49;
  types[1][2] = 0.99;
  types[2][1] = 1.5;
  types[3][4] = 0.5;
  SoilSectionOptions o;
  o.rows[12] = "0.4 0.7";
  auto m = b.Build(o);
  double** fillable = b.Grid("fillable_porosity");
  double** depth = b.Grid("root_depth1");
  const auto freePores = [&](int r, int c) {
    const double porosity = types[r][c] >= 1.0 && types[r][c] < 1.5 ? 0.1 : 0.0;
    return soilcell::FreePoreFraction(m->unsaturatedZone[r][c], m->saturationDeficit[r][c], porosity,
                                      m->soilStorage[r][c], std::max(0.0, m->availableSoilMoisture[r][c]),
                                      depth[r][c]);
  };
  int changed = 0;  // cells whose free pores the step itself changed
  for (int s = 0; s < 30; ++s) {
    Rain(b, s);
    std::vector<double> before;
    m->ForEachCell([&](int r, int c) { before.push_back(freePores(r, c)); });
    m->Run(Step(s));
    size_t k = 0;
    m->ForEachCell([&](int r, int c) {
      EXPECT_EQ(fillable[r][c], before[k++]) << "step " << s << " cell " << r << "," << c;
      changed += freePores(r, c) != fillable[r][c];
    });
  }
  EXPECT_GT(changed, 0);
}

// With so many travel-time zones that per-block sums would take too much memory, the step
// sums its cells in one block after the cell loop: the balance still closes every step and
// the results do not depend on the thread count.
TEST(SoilModel, ManyTravelTimeZonesSumInOneBlock) {
  const ScopedMinParallelCells forkAlways(0);
  const int saved = omp_get_max_threads();
  std::vector<double> records[2];
  std::string tables[2];
  for (int run = 0; run < 2; ++run) {
    omp_set_num_threads(run == 0 ? 1 : 4);
    SoilBasin b;
    AddTravelTimes(b);
    b.Grid("flow_times")[1][4] = 3.6e9 - 1.0;  // a million hourly zones
    SoilSectionOptions o;
    o.rows[12] = "0.4 0.7";
    o.statCode = "2001";
    auto m = b.Build(o);
    ExpectBalanceEveryStep(b, *m, 0, 6, nullptr, nullptr, [&](int) {
      for (int i = 1; i <= 2; ++i) records[run].push_back(m->GetSubbasinRunoff()->Water(i));
    });
    EXPECT_EQ(m->sumBlocks, 1);
    m->WriteStatistics();
    for (const char* f : {"infex.stat", "SB.stat", "SUZ.stat", "SIF.stat"}) tables[run] += ReadTextFile(b.dir.file(f));
    m->storageWrite = false;  // a million zones in the storage file would only take time
    m.Release();
  }
  omp_set_num_threads(saved);
  EXPECT_EQ(records[0], records[1]);
  EXPECT_GT(tables[0].size(), 4u * 6u * 10u);  // 6 rows in each file
  EXPECT_EQ(tables[0], tables[1]);
}
