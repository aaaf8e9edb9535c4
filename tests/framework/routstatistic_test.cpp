#include "framework/routstatistic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace {

std::vector<ZoneTableEntry> SubBasins() {
  std::vector<ZoneTableEntry> z(4);
  const double codes[] = {0, 2, 4, 9};
  for (int i = 1; i <= 3; ++i) {
    z[i].code = codes[i];
    z[i].fraction = 1.0 / 3.0;
  }
  return z;
}

// The record of one shift from a simulated and an observed series, as the routing
// module sums them.
EfficiencyRecord Record(const std::vector<double>& sim, const std::vector<double>& obs) {
  EfficiencyRecord r;
  for (size_t i = 0; i < sim.size(); ++i) {
    const double d = sim[i] - obs[i];
    r.n_p += 1;
    r.s_d += d;
    r.s_dd += d * d;
    r.n_o += 1;
    r.s_o += obs[i];
    r.s_oo += obs[i] * obs[i];
  }
  return r;
}

// Two-pass sample variance.
double Variance(const std::vector<double>& x) {
  double mean = 0;
  for (double v : x) mean += v / x.size();
  double s = 0;
  for (double v : x) s += (v - mean) * (v - mean);
  return s / (x.size() - 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace

TEST(RoutStatistic, MeasuresOfShortOrConstantSeriesAreOne) {
  EXPECT_EQ(EfficiencyRSquare(Record({1, 2}, {1, 3})), 1.0);
  EXPECT_EQ(EfficiencyCoefficientOfVariation(Record({1, 2}, {1, 3})), 1.0);
  EXPECT_EQ(EfficiencyRSquare(Record({1, 2, 3, 4}, {5, 5, 5, 5})), 1.0);
  EXPECT_EQ(EfficiencyRSquare(Record({1, 2, 3}, {1, 2, 3})), 1.0);  // perfect fit
  EXPECT_EQ(EfficiencyRSquare(EfficiencyRecord{}), 1.0);
}

TEST(RoutStatistic, HeaderRowsWithoutTotalAndTwoTableEntries) {
  CapturedLog log;
  TempDir dir;
  auto zones = SubBasins();
  const double areas[] = {0, 12.5, 3.25, 100};
  std::vector<StatisticsTableEntry> table(201);
  int error = -1;
  routstatistic r(&error, &log.log(), table.data(), 200, nullptr, 0, 0, zones.data(), 3, 2001, 3, "q.txt",
                  (dir.path() + "/").c_str(), 0, nullptr, false, areas);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(r.ObservedCount(), 3);
  EXPECT_EQ(r.WriteHeader("Discharge", "routing_model", table.data(), 200), 0);
  EXPECT_STREQ(table[1].title, "observed Runoff");
  EXPECT_EQ(table[1].values, r.ObservedValues());
  EXPECT_EQ(*table[0].valueCount, 3);

  r.ClearZoneSums();
  r.AddCellValue(1, 1, 1, 5.0, 1.0);
  r.AddCellValue(1, 1, 3, 7.5, 2.0);
  r.AggregateAndWriteRouting(2020, 3, 4, 5, 0);
  EXPECT_EQ(r.ObservedDate()[1], 3);
  r.Release();
  EXPECT_EQ(ReadTextFile(dir.file("q.txt")),
            "YY\tMM\tDD\tHH\t\"2\"\t\"4\"\t\"9\"\n"
            "Discharge_submodel:routing_model\n"
            "--\t--\t--\t--\t12.5000000\t3.2500000\t100.0000000\n"
            "2020\t 3\t 4\t 5\t5.000\t0.000\t7.500\n");
  EXPECT_EQ(table[0].values, nullptr);
  EXPECT_EQ(table[1].values, nullptr);
}

TEST(RoutStatistic, EfficiencyBlockMatchesAnIndependentComputation) {
  CapturedLog log;
  TempDir dir;
  auto zones = SubBasins();
  const double areas[] = {0, 1, 2, 3};
  const std::vector<int> list = {0, 2, 9};
  int error = -1;
  routstatistic r(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), 3, 5001, 5, dir.file("q.txt"),
                  nullptr, 2, list.data(), false, areas);
  ASSERT_EQ(error, 0);
  r.WriteHeader("Q", "m", nullptr, 0);
  r.ClearZoneSums();
  r.AddCellValue(1, 1, 1, 1.0, 1.0);
  r.AggregateAndWriteRouting(2020, 1, 1, 0, 0);

  // Per shift s and sub-basin z a different series; logarithmic records from the logs.
  std::vector<std::vector<EfficiencyRecord>> lin(21, std::vector<EfficiencyRecord>(4)),
      lg(21, std::vector<EfficiencyRecord>(4));
  std::vector<std::vector<std::vector<double>>> sims(21, std::vector<std::vector<double>>(4));
  const std::vector<double> obs = {3.0, 5.5, 4.0, 8.0, 6.5, 7.0};
  for (int s = 0; s < 21; ++s)
    for (int z = 1; z <= 3; ++z) {
      std::vector<double> sim, lsim, lobs;
      for (size_t t = 0; t < obs.size(); ++t) {
        sim.push_back(obs[t] + 0.3 * std::sin(t * (s + 1) + z) + 0.05 * (s - 10));
        lsim.push_back(std::log(sim.back()));
        lobs.push_back(std::log(obs[t]));
      }
      sims[s][z] = sim;
      lin[s][z] = Record(sim, obs);
      lg[s][z] = Record(lsim, lobs);
    }
  std::vector<EfficiencyRecord*> linPtr, logPtr;
  for (int s = 0; s < 21; ++s) {
    linPtr.push_back(lin[s].data());
    logPtr.push_back(lg[s].data());
  }
  r.WriteEfficiency(linPtr.data(), logPtr.data());

  const auto lines = Lines(ReadTextFile(dir.file("q.txt")));
  ASSERT_EQ(lines.size(), 3u + 1u + 4u * 22u + 1u);
  const char* labels[4][2] = {{"lin. R-square", "LIN. R-SQUARE"},
                              {"log. R-square", "LOG. R-SQUARE"},
                              {"coeff.var.lin", "COEFF.VAR.LIN"},
                              {"coeff.var.log", "COEFF.VAR.LOG"}};
  size_t at = 4;
  for (int block = 0; block < 4; ++block) {
    EXPECT_EQ(lines[at++], "----------------------");
    for (int s = -10; s <= 10; ++s, ++at) {
      std::vector<std::string> fields;
      std::istringstream in(lines[at]);
      for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
      ASSERT_EQ(fields.size(), 4u) << lines[at];
      EXPECT_EQ(fields[0], labels[block][s == 0 ? 1 : 0]);
      EXPECT_EQ(fields[1], std::to_string(s));
      int column = 2;
      for (int z : {1, 3}) {  // the listed sub-basins 2 and 9
        std::vector<double> sim = sims[s + 10][z], o = obs;
        if (block % 2 == 1) {
          for (auto& v : sim) v = std::log(v);
          for (auto& v : o) v = std::log(v);
        }
        std::vector<double> diff;
        double sdd = 0;
        for (size_t t = 0; t < o.size(); ++t) {
          diff.push_back(sim[t] - o[t]);
          sdd += diff.back() * diff.back();
        }
        const double expected =
            block < 2 ? 1.0 - (sdd / (o.size() - 1)) / Variance(o) : 1.0 - Variance(diff) / Variance(o);
        EXPECT_EQ(fields[column].find('.'), fields[column].size() - 5) << fields[column];  // 4 decimals
        EXPECT_NEAR(std::stod(fields[column]), expected, 0.00006) << block << " " << s << " " << z;
        ++column;
      }
    }
  }
  EXPECT_EQ(lines[at], "----------------------");
  // The unshifted linear coefficient stays in the zone table.
  EXPECT_EQ(zones[3].areaSum, 1.0);
  EXPECT_DOUBLE_EQ(zones[3].cellCount, EfficiencyCoefficientOfVariation(lin[10][3]));
  r.Release();
}

TEST(RoutStatistic, InactiveWriterWritesNoEfficiencyBlock) {
  CapturedLog log;
  TempDir dir;
  auto zones = SubBasins();
  int error = -1;
  routstatistic r(&error, &log.log(), nullptr, 0, nullptr, 0, 0, zones.data(), 3, 0, 3, dir.file("q.txt"), nullptr,
                  0, nullptr, false, nullptr);
  EXPECT_EQ(error, 0);
  r.WriteHeader("Q", "m", nullptr, 0);
  r.WriteEfficiency(nullptr, nullptr);
  r.Release();
  EXPECT_FALSE(std::ifstream(dir.file("q.txt")).good());
}
