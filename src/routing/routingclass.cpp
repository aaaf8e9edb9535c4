#include "routing/routingclass.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "framework/append_file.h"
#include "framework/date_text.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/timeseries_table.h"
#include "routing/abstraction.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

// Bytes for a block of about 100000 rows of a few columns.
constexpr int64_t kInflowBlockBytes = 100000LL * 64;

}  // namespace

routingclass::routingclass(LogStream* logStream, const RoutingDescription& d, const RoutingSetup& s)
    : modelobject(logStream, ""), setup(s) {
  code = d.code;
  number = d.number;
  ownZone = s.codes.Internal(d.code);
  area = d.area;
  areaFactor = d.areaFactor;
  dt = s.dt;
  subint = s.subint;
  olCount = static_cast<int>(d.ol.size());
  sumtribCount = static_cast<int>(d.sumtrib.size());
  outlet.assign(subint + 1, 0.0);
  flow.assign(subint + 1, 0.0);

  for (const ChannelEntry& e : d.ol) {
    ChannelTable c;
    c.kind = kChannelOL;
    c.code = e.code;
    c.sourceZone = s.codes.Internal(e.code);
    channels.push_back(std::move(c));
    BuildWQTable(channels.back(), e.p, true);
  }
  for (const ChannelEntry& e : d.sumtrib) {
    ChannelTable c;
    c.kind = kChannelSumtrib;
    c.code = e.code;
    c.members = e.members;
    c.sourceZone = s.codes.Internal(e.code);
    c.memberZones.push_back(c.sourceZone);
    for (int m : e.members) c.memberZones.push_back(s.codes.Internal(m));
    channels.push_back(std::move(c));
    BuildWQTable(channels.back(), e.p, true);
  }
  for (const InflowEntry& e : d.zl) {
    ChannelTable c;
    c.kind = kChannelInflow;
    c.code = e.number;
    c.sourceZone = s.subbasinCount + e.number;
    channels.push_back(std::move(c));
    BuildWQTable(channels.back(), e.p, false);
    InflowState z;
    z.channel = static_cast<int>(channels.size()) - 1;
    OpenInflow(z, e);
    inflows.push_back(std::move(z));
  }
  areaShare.assign(channels.size() + 1, 0.0);
  areaShare[0] = s.cellCounts[ownZone];
}

routingclass::~routingclass() = default;

std::string routingclass::ChannelName(const ChannelTable& c) const {
  if (c.kind == kChannelInflow)
    return "the channel of inflow " + std::to_string(c.code) + " to the outlet of subbasin " + std::to_string(code);
  return "the channel of subbasin " + std::to_string(c.code) + " to the outlet of subbasin " + std::to_string(code);
}

void routingclass::BuildWQTable(ChannelTable& c, const ChannelParameters& p, bool perAreaFactor) {
  SetChannelParameters(c, p, setup.qmin, setup.qmax, setup.intervals, perAreaFactor);
  ComputeTableRows(c, dt, areaFactor);
  if (!LayOutChannel(c, subint, dt))
    Fail(log,
         "routing description " + std::to_string(number) + ": the travel times of " + ChannelName(c) +
             " give no usable table (travel time " + std::to_string(c.t[1]) + " h at the smallest discharge; " +
             "a travel time must be finite and the channel must need no more than 10000000 queue slots)",
         17);
  if (c.deltaClamped && log)
    *log << "WARNING: " << ChannelName(c)
         << ": a translation at a larger discharge is longer than at the smallest one; "
            "it is limited to the one at the smallest discharge"
         << "[end-entry]";
}

void routingclass::RequireInflowRow(const InflowState& z) const {
  const TimeSeriesTable& t = *z.table;
  if (t.AtUnreadableRow())
    Fail(log, "error reading " + z.fileName + " for inflow " + std::to_string(z.number) + ": " + t.ErrorPlace(), 37);
}

void routingclass::OpenInflow(InflowState& z, const InflowEntry& e) {
  z.number = e.number;
  z.mode = e.mode;
  z.zone = setup.subbasinCount + e.number;
  z.constant = e.constant;
  if (e.mode != kInflowExtern) return;
  z.fileName = e.fileName;
  z.column = e.column - 1;
  RunFiles::Current().Read("[routing_model] file of inflow " + std::to_string(e.number), z.fileName);
  z.table = TimeSeriesTable::Open(z.fileName, 0, kInflowBlockBytes);
  TimeSeriesTable& t = *z.table;
  if (t.GetState() == TimeSeriesTable::kCannotOpen)
    Fail(log, "error opening " + z.fileName + " for inflow " + std::to_string(e.number) +
                  FileOpenReason(z.fileName, false, 0), 37);
  if (t.GetState() == TimeSeriesTable::kReadError)
    Fail(log, "error reading " + z.fileName + " for inflow " + std::to_string(e.number) + ": " + t.ErrorPlace(), 37);
  t.SetRow(0);
  for (int r = 0; r < e.startRow; ++r) {
    t.NextKeepingError();
    RequireInflowRow(z);
    if (t.GetState() == TimeSeriesTable::kEnd)
      Fail(log,
           "error searching in " + z.fileName + " for row " + std::to_string(e.startRow) +
               "\nactual reached row: " + std::to_string(r),
           38);
  }
  const ModelDate& s = setup.start;
  for (;;) {
    RequireInflowRow(z);
    if (t.GetState() == TimeSeriesTable::kEnd)
      Fail(log,
           "starting date " + DateText(s, kTableDate) + " h in " + z.fileName + " not found (search started at row " +
               std::to_string(e.startRow) + ")",
           38);
    int y, mo, da, h, mi;
    t.GetDate(y, mo, da, h, mi);
    if (y >= 0 && y <= 999) y += 1900;
    if (y == s.year && mo == s.month && da == s.day && h == s.hour && (mi == s.minute || mi == -9999)) break;
    t.NextKeepingError();
  }
  if (z.column < 0 || z.column >= t.ColumnCount())
    Fail(log,
         "there is not the required number of columns in " + z.fileName + " for reading ZL[" +
             std::to_string(e.number) + "] and the follwoing 0 tracer values starting from column " +
             std::to_string(e.column),
         38);
}

void routingclass::CheckSubbasinAreas() {
  double* n = setup.cellCounts;
  std::vector<double> s(channels.size() + 1, 0.0);
  s[0] = n[ownZone];
  for (size_t i = 0; i < channels.size(); ++i) {
    const ChannelTable& c = channels[i];
    if (c.kind == kChannelOL)
      s[i + 1] = c.sourceZone == ownZone ? 0.0 : n[c.sourceZone];
    else if (c.kind == kChannelSumtrib)
      for (int z : c.memberZones) s[i + 1] += n[z];
  }
  double total = 0.0;
  for (double v : s) total += v;
  for (size_t i = 0; i < s.size(); ++i) areaShare[i] = total > 0.0 ? s[i] / total * areaFactor : 0.0;
  n[ownZone] = total;
  setup.zoneAreaFactors[ownZone] = areaFactor;
  const double cellArea = n[0];
  if (cellArea > 0.0 && std::fabs(cellArea * total - area) > 0.001) {
    // An area beyond what is routed into the sub-basin is named in a WARNING by the routing
    // module (WarnOfUnroutedAreas).
    const bool lacking = area > cellArea * total && AreaBeyondRounding(area, cellArea * total);
    if (log && !lacking)
      *log << "INFO: Basin " << code << ": area in contr.file: " << area << " <-> zone-grid " << cellArea * total
           << " (adjusted to the latter)" << "[end-entry]";
    area = cellArea * total;
  }
}

int routingclass::MaxTravelHours() const {
  int m = 0;
  for (const ChannelTable& c : channels) m = std::max(m, static_cast<int>(c.t[1]));
  return m;
}

void routingclass::WriteWQTable(const std::string& directory) {
  for (const ChannelTable& c : channels) {
    const std::string name =
        directory + FormatText(c.kind == kChannelInflow ? "wq_tabZL.%.3d" : "wq_table.%.3d", c.code);
    std::FILE* f = RunFiles::Current().CreateStream("[routing_model] level-discharge table", name);
    if (f == nullptr) {
      // Only a view of the table for the user: the run goes on without it.
      if (log) *log << "WARNING: error opening file " << name << FileOpenReason(name, true, errno) << "[end-entry]";
      NoteUnraisedWriteFailure(kFileNotWritten);
      continue;
    }
    if (c.kind == kChannelOL) {
      std::fprintf(f, "waterlevel-discharge-table for the channel of subbasin %d to the outlet of subbasin %d\n",
                   c.code, code);
    } else if (c.kind == kChannelSumtrib) {
      std::fprintf(f, "waterlevel-discharge-table for the channel of subbasins %d", c.code);
      for (size_t k = 0; k + 1 < c.members.size(); ++k) std::fprintf(f, ", %d", c.members[k]);
      std::fprintf(f, " and %d to the outlet of subbasin %d\n", c.members.empty() ? c.code : c.members.back(), code);
    } else {
      std::fprintf(f, "waterlevel-discharge-table for the channel of inflow %d to the outlet of subbasin %d\n",
                   c.code, code);
    }
    auto constant = [](double coefficient) {
      if (!(coefficient > 0.0)) return -9999.0;
      if (coefficient == 1.0) return 0.0;
      return -1.0 / std::log(coefficient);
    };
    std::fprintf(f, "input parameters from the control file:\n");
    std::fprintf(f, "------------------------------------------\n");
    std::fprintf(f, "storage constant mean channel [h] : %7.2f\n", constant(c.cm));
    std::fprintf(f, "storage constant flood plain [h]  : %7.2f\n", constant(c.cf));
    std::fprintf(f, "width of the mean channel [m]     : %7.2f\n", c.bm);
    std::fprintf(f, "width of flood plains  [m]        : %7.2f\n", c.bf);
    std::fprintf(f, "depth of mean channel  [m]        : %7.2f\n", c.hm);
    std::fprintf(f, "Manning-coef. mean chan[m^(1/3)/s]: %7.2f\n", c.kstm);
    std::fprintf(f, "Manning-ceof. flood pl.[m^(1/3)/s]: %7.2f\n", c.kstf);
    std::fprintf(f, "slope angle            [1/1]      : %7.4f\n", c.sqrtSlope * c.sqrtSlope);
    std::fprintf(f, "channel length         [m]        : %7.1f\n", c.length);
    std::fprintf(f, "catchment area         [km^2]     : %7.2f\n", c.area);
    std::fprintf(f, "min. spec. discharge   [l/s/km^2] : %7.1f\n", c.qmin);
    std::fprintf(f, "max. spec. discharge   [l/s/km^2] : %7.1f\n", c.qmax);
    std::fprintf(f, "intervals for w-q-table[-]        : %7.0f\n", static_cast<double>(c.Rows()));
    std::fprintf(f, "sub-intervals (time)   [-]        : %7d  \n", subint);
    std::fprintf(f, "number of sub-channels            : %7.0f\n", static_cast<double>(c.subchannels));
    std::fprintf(f, "total number of storage elements  : %7d  \n", subint + c.storageElements);
    const std::string rule(79, '-');
    std::fprintf(f, "%s\n", rule.c_str());
    std::fprintf(f, "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qf/Q \n");
    std::fprintf(f, "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n");
    std::fprintf(f, "%s\n", rule.c_str());
    for (int j = 1; j <= c.Rows(); ++j)
      std::fprintf(f, "%3d  %5.3f %6.1f %7.2f  %5.2f %5.2f %5.2f  %5.2f  %5.2f  %5.2f  %3d   %5.3f\n", j, c.depth[j],
                   c.q[j], c.Q[j], c.dm[j], c.df[j], c.v[j], c.vm[j], c.vf[j], c.t[j], c.delta[j], c.share[j]);
    errno = 0;
    const bool written = !std::ferror(f);
    if (std::fclose(f) != 0 || !written) {
      // The run goes on without it, but it lost a file: it ends without success.
      if (log)
        *log << "WARNING: error writing file " << name << " (" << std::strerror(errno != 0 ? errno : EIO) << ")"
             << "[end-entry]";
      NoteUnraisedWriteFailure(kFileNotWritten);
    }
  }
}

void routingclass::DeleteModule() {
  if (log) {
    *log << " free memory TG " << code;
    if (olCount + sumtribCount == 0) *log << ", (only ZL's)";
    int k = 0;
    for (const ChannelTable& c : channels) {
      ++k;
      if (c.kind == kChannelInflow) continue;
      *log << ", OL " << k << " (Subb. " << c.code;
      for (int m : c.members) *log << ", " << m;
      *log << ")";
    }
    *log << ", --> ZLs..." << ", --> ALs..." << ", --> SPs...";
  }
  FlushOutputFiles();
  abstractionList.clear();
  abstractions.clear();
  reservoirs.clear();
  if (log) {
    *log << " Rest..." << " ok" << "[end-entry]";
  }
  channels.clear();
  inflows.clear();
  modelobject::DeleteModule();
}
