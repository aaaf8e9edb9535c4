// The soil model and routing in a chain: what rains onto the basin is, in every step, the
// change of what the soil and the channels hold plus what leaves the outlet.
#include <gtest/gtest.h>

#include <cmath>

#include "processes/soil_basin.h"
#include "processes/subbasin_runoff.h"
#include "routing/abfluss.h"
#include "routing/routingclass.h"

namespace {

// Sub-basin 1 (columns 1-2, 12 cells) flows into 3 (columns 3-5, 17 cells) through one
// channel; qmin = qmax keeps the translation constant, so the channel keeps its water.
const char* kRouting =
    "[routing_model]\n1\n60\n20 20 4 2\nq.stat 0\nnone\n0\n0\n"
    "TG 1 (AE=12, AF=1)\nTG 3 (AE=29, AF=1)\n"
    "OL 1 (km=2, kf=5, bm=5, bf=50, hm=5, kstm=25, kstf=10, I=0.01, L=30000, A=12)\nend\n";

double RoutingContent(const abflussmodellklasse& r) {
  double v = 0.0;
  for (const routingclass* o : r.routingObjects)
    for (const ChannelTable& c : o->channels) v += ChannelContent(c) * r.cellCounts[static_cast<size_t>(c.sourceZone)];
  return v;
}

TEST(SoilRoutingChain, BasinWaterBalanceClosesEveryStep) {
  SoilBasin b;
  // Routing weighs sub-basins by their cell counts: cells of equal area here.
  for (int r = 1; r <= SoilBasin::kRows; ++r)
    for (int c = 1; c <= SoilBasin::kCols; ++c) b.Grid("RelCellArea")[r][c] = 1.0;
  SoilSectionOptions o;
  o.rows[0] = "0.02 0.02";
  o.rows[10] = "0.9 0.9";
  o.extra = kRouting;
  auto soil = b.Build(o);
  ModuleInputs in = b.Inputs(b.dir.file("soil.ctl"));
  RoutingInputs ri;
  ri.soilInterval = soil->ReadFlowControl("");
  ri.soilZoneTable = soil->soilZoneTable;
  ri.soilZoneCodeMap = soil->soilZoneCodeMap;
  ri.soilZoneCount = soil->soilZoneCount;
  ri.soilMaxZoneCode = soil->soilMaxZoneCode;
  int error = 0;
  auto routing = MakeModule<abflussmodellklasse>(error, in, ri);
  routing->SetSubbasinRunoff(soil->GetSubbasinRunoff());
  routing->InitRouting();
  ASSERT_EQ(routing->routingObjects.size(), 2u);
  ASSERT_DOUBLE_EQ(routing->cellCounts[2], soil->weightSum[1] + soil->weightSum[2]);

  double** p = b.Grid("precipitation");
  double** w = b.Grid("RelCellArea");
  auto soilContent = [&]() {
    double v = 0.0;
    for (int r = 1; r <= SoilBasin::kRows; ++r)
      for (int c = 1; c <= SoilBasin::kCols; ++c) {
        if (soil->SubbasinOf(r, c) < 1) continue;
        v += w[r][c] * (soil->soilStorage[r][c] * soil->availableSoilMoisture[r][c] +
                        soil->inactiveSoilMoisture[r][c] * soil->inactiveFieldCapacity[r][c] +
                        soil->unsaturatedZone[r][c] + soil->interflowStorage[r][c]);
      }
    for (int i = 1; i <= 2; ++i) {
      const SubbasinParameters& q = soil->params[static_cast<size_t>(i)];
      double transit = 0.0;
      const auto& zones = soil->zoneFZT[static_cast<size_t>(i)];
      for (size_t k = 2; k < zones.size(); ++k) transit += zones[k].sx;
      const double weight = soil->weightSum[static_cast<size_t>(i)];
      v += transit + weight * (-soil->meanDeficit[static_cast<size_t>(i)] +
                               soilcell::LinearStorageContent(soil->QD[static_cast<size_t>(i)], std::exp(-60.0 / q.kQD)) +
                               soilcell::LinearStorageContent(soil->QBB[static_cast<size_t>(i)], std::exp(-60.0 / q.kQBB)));
    }
    return v;
  };

  double held = soilContent() + RoutingContent(*routing);
  double rain = 0.0, out = 0.0;
  for (int s = 0; s < 200; ++s) {
    double input = 0.0;
    for (int r = 1; r <= SoilBasin::kRows; ++r)
      for (int c = 1; c <= SoilBasin::kCols; ++c) {
        p[r][c] = s < 60 && s % 4 != 3 ? std::fmod(1.7 * r + 2.3 * c + 5.1 * s, 13.0) * 0.5 : 0.0;
        if (soil->SubbasinOf(r, c) >= 1) input += w[r][c] * p[r][c];
      }
    const ModelDate d{0, s % 24, 1 + s / 24, 1, 2001};
    soil->Run(d);
    routing->RunTimeStep(d, 1, 1);
    const double outlet = routing->input[2] * routing->cellCounts[2];
    const double now = soilContent() + RoutingContent(*routing);
    ASSERT_NEAR(input, now - held + outlet, 1e-9 * (std::fabs(now) + input + 1.0)) << "step " << s;
    held = now;
    rain += input;
    out += outlet;
    ASSERT_TRUE(std::isfinite(routing->input[2]) && routing->input[2] >= 0.0);
  }
  EXPECT_GT(out, 0.1 * rain);  // the basin drains
}

}  // namespace
