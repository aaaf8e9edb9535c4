#include <cmath>

#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/timeseries_table.h"
#include "routing/routingclass.h"

namespace {

// Mean of a and b weighted by the sizes of wa and wb; 0 when both weights are 0.
double MixByWeight(double a, double b, double wa, double wb) {
  const double w = std::fabs(wa) + std::fabs(wb);
  return w != 0.0 ? (std::fabs(wa) * a + std::fabs(wb) * b) / w : 0.0;
}

}  // namespace

bool routingclass::ObservedDepth(int zone, double byArea, double& value) const {
  if (setup.replacementMode < 1 || zone > setup.subbasinCount || observedRow == nullptr ||
      observedColumn == nullptr)
    return false;
  const int c = observedColumn[zone];
  if (c < 1 || c >= static_cast<int>(observedRow->size())) return false;
  const double o = (*observedRow)[static_cast<size_t>(c)];
  if (!(o > setup.nodata)) return false;
  value = setup.replacementMode == 2 ? DischargeToDepth(o, byArea) : o;
  return true;
}

void routingclass::ComputeFlowArrays(double* stepArray, double** subRunoffArray,
                                     const std::vector<double>* observed, const int* columns) {
  step = stepArray;
  subRunoff = subRunoffArray;
  observedRow = observed;
  observedColumn = columns;
  for (ChannelTable& c : channels) {
    double value = step[c.sourceZone];
    double o = 0.0;
    if (c.kind != kChannelInflow && ObservedDepth(c.sourceZone, c.area, o)) value = o;
    for (double& slot : c.queue) slot = value;
  }
}

void routingclass::RouteInitialDischarge() {
  for (ChannelTable& c : channels) SetSteadyState(c, step[c.sourceZone], dt);
}

void routingclass::ReadInflows(const ModelDate& date) {
  for (InflowState& z : inflows) {
    const ChannelTable& c = channels[static_cast<size_t>(z.channel)];
    if (z.mode == kInflowConstant) {
      step[z.zone] = DischargeToDepth(z.constant, c.area);
      continue;
    }
    if (z.mode != kInflowExtern) continue;
    TimeSeriesTable& t = *z.table;
    RequireInflowRow(z);
    if (t.GetState() == TimeSeriesTable::kEnd || t.CurrentRow() >= t.RowCount())
      FailInflow("error reading from " + z.fileName + " for inflow " + std::to_string(z.number) + "\nreached end of file!");
    int y, mo, d, h, mi;
    t.GetDate(y, mo, d, h, mi);
    if (y >= 0 && y <= 999) y += 1900;
    if (y != date.year || mo != date.month || d != date.day || h != date.hour || mi != date.minute)
      FailInflow("error comparing dates in " + z.fileName + ":\n     read: " + DateText(y, mo, d, h, mi, kTableDate) +
                 " h,\nshould be: " + DateText(date, kTableDate) + " h.\n");
    double q = t.GetValue(z.column);
    if (q <= -9998.0) q = 0.0;
    step[z.zone] = DischargeToDepth(q, c.area);
    t.NextKeepingError();
  }
}

void routingclass::FailInflow(const std::string& text) const {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw 38;
}

void routingclass::Route(const StepDate& date, int conversion, int secondFlag) {
  const double* n = setup.cellCounts;
  const double* af = setup.zoneAreaFactors;
  // An internal inflow zone holds what its abstraction delivered, in m³/s.
  for (const InflowState& z : inflows) {
    if (z.mode != kInflowIntern) continue;
    const double a = channels[static_cast<size_t>(z.channel)].area;
    for (int s = 1; s <= subint; ++s) subRunoff[s][z.zone] = DischargeToDepth(subRunoff[s][z.zone], a);
    step[z.zone] = subRunoff[1][z.zone];
  }
  for (int s = 1; s <= subint; ++s) outlet[s] = subRunoff[s][ownZone] * areaShare[0];

  for (size_t i = 0; i < channels.size(); ++i) {
    ChannelTable& c = channels[i];
    const int z = c.sourceZone;
    double o = 0.0;
    double weightSum = 0.0;
    if (c.kind == kChannelSumtrib) {
      for (int s = 1; s <= subint; ++s) flow[s] = 0.0;
      for (int mz : c.memberZones) {
        const double w = n[mz] / af[mz];
        const bool observed = ObservedDepth(mz, w * n[0], o);
        for (int s = 1; s <= subint; ++s)
          flow[s] = MixByWeight(flow[s], observed ? o : subRunoff[s][mz], weightSum, w);
        weightSum += w;
      }
    } else if (c.kind == kChannelOL && ObservedDepth(z, c.area, o)) {
      for (int s = 1; s <= subint; ++s) flow[s] = o;
    } else {
      for (int s = 1; s <= subint; ++s) flow[s] = subRunoff[s][z];
    }

    if (Bypassed(z)) {
      for (int k = 1; k <= subint; ++k) c.queue[static_cast<size_t>(k)] = flow[k];
    } else {
      RouteChannel(c, flow.data(), dt);
    }

    double weight = 0.0;
    if (c.kind == kChannelOL)
      weight = areaShare[i + 1] / af[z];
    else if (c.kind == kChannelSumtrib)
      weight = areaFactor / n[ownZone] * weightSum;
    else
      weight = c.area / area * areaFactor;
    for (int s = 1; s <= subint; ++s) outlet[s] += flow[s] * weight;
  }

  double sum = 0.0;
  for (int s = 1; s <= subint; ++s) {
    subRunoff[s][ownZone] = outlet[s];
    sum += outlet[s];
  }
  step[ownZone] = sum / subint;
  // With reservoirs the abstractions draw on the last reservoir's volume, which books
  // them: they are not taken from its inflow as well. The start-up routing (no calendar
  // year) only fills the channels: it takes no abstraction, as it writes no row.
  abstractionResult = 0.0;
  if (date.year >= 1) ApplyAbstractions(date, OutflowBeforeAbstractions(), reservoirs.empty());
  if (!reservoirs.empty()) RouteReservoirs(date, conversion, secondFlag);
}
