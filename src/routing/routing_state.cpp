// The state of one routing object in the storage file: per channel the translation queue,
// the outflow series and flood-plain shares of its sub-channels. Values are written with
// round-trip precision, so that a warm start goes on exactly where the run stopped.
#include <cmath>
#include <string>

#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "routing/routing_state.h"
#include "routing/routingclass.h"

const char* const kTranslationMark = ".translation[subchannel";
const char* const kTransferMark = "transfers on their way to internal inflows";

namespace {

const char* const kQueueHeader[2] = {
    " (tracer/flow index and tributary subbasin, subint, maxdelta, num-subchannels)\n",
    " (tracer/flow index and external inflow, subint, maxdelta, num-subchannels)\n"};

const char* const kPart = "[routing_model_v2]";

// One channel's block: the queue of tracer 0 and the sub-channel lines, each value held to
// the range its reader holds it to.
void WriteChannel(std::string& t, const ChannelTable& c, int index, int sub, bool inflow, bool blankSeparated) {
  const int subint = c.subint;
  const int block = c.BlockSize();
  const StateRange flow = RoutedFlowRange();
  const auto channel = [&] { return std::string(inflow ? " of inflow " : " of local tributary ") + std::to_string(sub); };
  t += "\n";
  t += FormatText("%d %d %d %d %.0lf", 0, index, subint, c.deltaMax, static_cast<double>(c.subchannels));
  t += kQueueHeader[inflow ? 1 : 0];
  const char* separator = blankSeparated ? " " : "\t";
  const int entries = subint + c.storageElements;
  for (int k = 1; k <= entries; ++k) {
    t += FormatText("%.17g", c.queue[static_cast<size_t>(k)]);
    HoldStoredValue(c.queue[static_cast<size_t>(k)], flow, kPart, [&] { return "the translation queue" + channel(); });
    t += separator;
    if (k == subint || (k > subint && (k - subint) % block == 0)) t += "\n";
  }
  t += "\n";
  const char* what = inflow ? "inflow" : "local tributary";
  for (int m = 1; m <= c.subchannels; ++m) {
    for (int s = 1; s <= subint; ++s) {
      t += FormatText("%.17g ", c.Qaus(m, s));
      HoldStoredValue(c.Qaus(m, s), flow, kPart, [&] { return "the outflow of a sub-channel" + channel(); });
    }
    HoldStoredValue(c.qvzuq[static_cast<size_t>(m)], StateRange::Fraction(), kPart,
                    [&] { return "the flood-plain share of a sub-channel" + channel(); });
    t += FormatText(" (wqtab[%s %d].Qaus[subchannel %d][1..%d])\n", what, sub, m, subint);
    t += FormatText("%.17g (wqtab[%s %d].qvzuq[subchannel %d])\n", c.qvzuq[static_cast<size_t>(m)], what, sub, m);
    t += FormatText("%d (wqtab[%s %d]%s %d])\n", c.lastSlot[static_cast<size_t>(m)] - ((m - 1) * block + subint), what,
                    sub, kTranslationMark, m);
  }
}

}  // namespace

StateReader::StateReader(TextCursor& file, std::string path, LogStream* log)
    : file_(file), path_(std::move(path)), log_(log) {}

void StateReader::Fail(const std::string& what) const {
  if (log_) *log_ << "FATAL: " << what << " in file " << path_ << " (position " << position_ << ")" << "[end-entry]";
  throw 71;
}

int StateReader::Int(const std::string& what) {
  ++position_;
  int v = 0;
  if (!file_.ReadInt(v)) Fail("error reading " + what + " in the part [routing_model_v2] (" + UnreadValue(file_) + ")");
  return v;
}

double StateReader::Double(const std::string& what) {
  ++position_;
  double v = 0.0;
  if (!file_.ReadDouble(v))
    Fail("error reading " + what + " in the part [routing_model_v2] (" + UnreadValue(file_) + ")");
  return v;
}

TextCursor StateReader::Values(const std::string& line) {
  TextCursor values(line);
  values.RequireWholeWords();
  return values;
}

void StateReader::RefuseWord(const TextCursor& values, const std::string& what) const {
  const std::string word = values.NumberJustRefused();
  if (!word.empty())
    Fail("error reading " + what + " in the part [routing_model_v2] (line " + std::to_string(LineNumber() - 1) +
         " holds \"" + word.substr(0, 40) + "\" where this value belongs, which is not a number of the state)");
}

double StateReader::Value(const std::string& what, const StateRange& range) { return Within(Double(what), what, range); }

double StateReader::Within(double v, const std::string& what, const StateRange& range, long line) const {
  const int kind = range.Breaks(v);
  if (kind >= 0)
    Fail("error reading " + what + " in the part [routing_model_v2] (line " +
         std::to_string(line > 0 ? line : LineNumber()) + ": " + FormatText("%g", v) + " is " +
         (kind == 0 ? std::string("not a number of the state") : range.Broken(kind)) + ")");
  return v;
}

long StateReader::LineNumber() const { return file_.LineNumber(); }

StateRange RoutedFlowRange() {
  return StateRange::ZeroUpTo("a flow is 0 or more", 1e9, "1e9", "no river carries that much");
}

void StateReader::SkipLine() { file_.RestOfLine(); }

std::string StateReader::Line(const std::string& what) {
  ++position_;
  std::string line;
  if (!file_.ReadLine(line)) Fail("error reading " + what + " (end of file)");
  return line;
}

size_t StateReader::Mark() const { return file_.Pos(); }

bool StateReader::LineWith(const std::string& marker, std::string& line) {
  const size_t mark = Mark();
  do {
    if (!file_.ReadLine(line)) {
      Return(mark);
      return false;
    }
  } while (line.find_first_not_of(" \t") == std::string::npos);
  if (line.find(marker) != std::string::npos) {
    ++position_;
    return true;
  }
  Return(mark);
  return false;
}

bool StateReader::NewerLine(const std::string& marker, const std::string& what, const std::string& absent,
                            std::string& line) {
  if (LineWith(marker, line)) {
    if (layout_ == Layout::kOlder)
      Fail("error reading " + what + " (the part lacks this line where it belongs before, yet holds it here: it is "
           "damaged)");
    layout_ = Layout::kNewer;
    return true;
  }
  if (layout_ == Layout::kNewer) Fail("error reading " + what + " (the part is cut short or damaged here)");
  layout_ = Layout::kOlder;
  absent_.insert(absent);
  return false;
}

void StateReader::Return(size_t mark) { file_.Seek(mark); }

double StateReader::LineMean(int expected, const std::string& what) {
  ++position_;
  std::string line;
  do {
    if (!file_.ReadLine(line)) Fail("error reading " + what + " (end of file)");
  } while (line.find_first_not_of(" \t") == std::string::npos);
  TextCursor values = Values(line);
  double sum = 0.0, v = 0.0;
  int count = 0;
  while (values.ReadDouble(v)) {
    sum += v;
    ++count;
  }
  RefuseWord(values, what);
  if (count != expected)
    Fail("error reading " + what + " (expected " + std::to_string(expected) + " values, read " + std::to_string(count) +
         ")");
  return sum / count;
}

void RestoreLastSlots(ChannelTable& c, double dt) {
  // A sub-channel's last translation follows from its inflow of the last step: for all but
  // the first sub-channel in flow order that is the outflow of the one before it, for the
  // first the inflow that stands in the queue right behind the translation.
  const int subint = c.subint;
  const int block = c.BlockSize();
  for (int m = 1; m < c.subchannels; ++m) {
    double inflow = c.Qaus(m + 1, 1);
    for (int s = 2; s <= subint; ++s) inflow = std::max(inflow, c.Qaus(m + 1, s));
    c.lastSlot[static_cast<size_t>(m)] = (m - 1) * block + subint + c.delta[static_cast<size_t>(TableRow(c, inflow, dt))];
  }
  const int m = c.subchannels;
  const int b = (m - 1) * block;
  for (int d = c.delta[1]; d >= 0; --d) {
    const double inflow = MaxValue(c.queue.data() + b + d, subint);
    if (c.delta[static_cast<size_t>(TableRow(c, inflow, dt))] == d) {
      c.lastSlot[static_cast<size_t>(m)] = b + subint + d;
      return;
    }
  }
}

void routingclass::WriteState(std::string& t) const {
  t += FormatText("%d (routing subbasin with tributaries", code);
  for (int i = 0; i < olCount; ++i) t += FormatText(" %d", channels[static_cast<size_t>(i)].code);
  t += ")\n";
  const size_t routed = static_cast<size_t>(olCount + sumtribCount);
  for (size_t j = 0; j < routed; ++j) {
    const ChannelTable& c = channels[j];
    if (!c.members.empty()) {
      for (int zone : c.memberZones) WriteChannel(t, c, zone, static_cast<int>(j + 1), false, true);
    } else {
      WriteChannel(t, c, c.sourceZone, static_cast<int>(j + 1), false, false);
    }
  }
  for (size_t z = 0; z < inflows.size(); ++z) {
    const ChannelTable& c = channels[static_cast<size_t>(inflows[z].channel)];
    WriteChannel(t, c, c.sourceZone, static_cast<int>(z + 1), true, true);
  }
  t += FormatText("%d (number of reservoirs)\n", static_cast<int>(reservoirs.size()));
  for (size_t k = 0; k < reservoirs.size(); ++k) {
    const SP_class& sp = *reservoirs[k];
    const int r = static_cast<int>(k + 1);
    for (double v : sp.state) t += FormatText("%.17g ", v);
    HoldStoredValue(sp.state.empty() ? 0.0 : sp.state[0], StateRange::Volume(), kPart,
                    [&] { return "the volume of reservoir " + std::to_string(r); });
    t += FormatText(" (reservoir %d)\n", r);
    t += FormatText("%d (useRunningAvg reservoir %d)\n", sp.useRunningAvg, r);
    // The running-average list stands on a line of its own.
    if (sp.useRunningAvg > 0) {
      for (double v : sp.runningAvg) {
        t += FormatText("%.17g ", v);
        HoldStoredValue(v, StateRange::Volume(), kPart,
                        [&] { return "the running averages of reservoir " + std::to_string(r); });
      }
      t += "\n";
    }
  }
  t += "\n";
}

void routingclass::ReadState(StateReader& r, int version, double storedStep) {
  const int stored = r.Int("subbasin code");
  if (stored != code) r.Fail("error reading subbasin code (expected " + std::to_string(code) + ", read " + std::to_string(stored) + ")");
  r.SkipLine();
  const size_t routed = static_cast<size_t>(olCount + sumtribCount);
  for (size_t j = 0; j < routed; ++j) {
    ChannelTable& c = channels[j];
    if (!c.members.empty()) {
      for (int zone : c.memberZones) ReadChannel(r, c, zone, version, storedStep, "tributary index");
    } else {
      ReadChannel(r, c, c.sourceZone, version, storedStep, "tributary index");
    }
  }
  for (const InflowState& z : inflows) {
    ChannelTable& c = channels[static_cast<size_t>(z.channel)];
    ReadChannel(r, c, c.sourceZone, version, storedStep, "external inflow index");
  }
  ReadReservoirStates(r);
}

void routingclass::ReadReservoirStates(StateReader& r) {
  const int count = r.Int("number of reservoirs");
  if (count != static_cast<int>(reservoirs.size()))
    r.Fail("error reading reservoir code (expected " + std::to_string(reservoirs.size()) + " reservoirs, read " +
           std::to_string(count) + ")");
  r.SkipLine();
  storedReservoirs.clear();
  for (size_t k = 0; k < reservoirs.size(); ++k) {
    const SP_class& sp = *reservoirs[k];
    const std::string which = "reservoir " + std::to_string(k + 1);
    StoredReservoir stored;
    // The volume first, then the tracers' concentrations.
    for (size_t i = 0; i < sp.state.size(); ++i)
      stored.state.push_back(
          r.Value(i == 0 ? "the volume of " + which : "the state of " + which,
                  i == 0 ? StateRange::Volume() : StateRange::Finite()));
    r.SkipLine();
    stored.runningAvg = sp.runningAvg;
    // Older files have no running-average line; blank lines before it are read through.
    std::string flagLine;
    if (!r.LineWith("useRunningAvg", flagLine)) {
      if (r.NewestLayout()) r.Fail("error reading the useRunningAvg line of " + which + " (the part is damaged here)");
    } else {
      TextCursor flag = StateReader::Values(flagLine);
      int storedFlag = 0;
      if (!flag.ReadInt(storedFlag)) {
        r.RefuseWord(flag, "the useRunningAvg flag of " + which);
        r.Fail("error reading the useRunningAvg flag of " + which);
      }
      if (storedFlag > 0) {
        TextCursor list = StateReader::Values(r.Line("the running averages of " + which));
        stored.runningAvg.clear();
        double v = 0.0;
        while (list.ReadDouble(v))
          stored.runningAvg.push_back(
              r.Within(v, "the running averages of " + which, StateRange::Volume(), r.LineNumber() - 1));
        r.RefuseWord(list, "the running averages of " + which);
        list.SkipBlanks();
        if (!list.AtEnd()) r.Fail("error reading the running averages of " + which + " (not a number)");
      }
    }
    storedReservoirs.push_back(std::move(stored));
  }
}

void routingclass::ApplyStoredReservoirs() {
  for (size_t k = 0; k < storedReservoirs.size() && k < reservoirs.size(); ++k) {
    SP_class& sp = *reservoirs[k];
    StoredReservoir& stored = storedReservoirs[k];
    sp.state = stored.state;
    sp.runningAvg = std::move(stored.runningAvg);
    if (sp.lake) {
      sp.UpdateLakeLevel(sp.state[0]);
    } else if (sp.A > 0.0) {
      // The level follows the stored volume, not the initial one.
      sp.W = sp.W0 + (sp.state[0] - sp.V0) / sp.A;
    }
  }
  storedReservoirs.clear();
  // What the last step of the stored run left there.
  LinkLastReservoir();
}

void routingclass::ReadChannel(StateReader& r, ChannelTable& c, int expectedIndex, int version, double storedStep,
                               const char* indexName) {
  const int tracer = r.Int("tracer code");
  if (tracer != 0) r.Fail("error reading tracer code (expected 0, read " + std::to_string(tracer) + ")");
  const int index = r.Int(indexName);
  if (index != expectedIndex)
    r.Fail(std::string("error reading ") + indexName + " (expected " + std::to_string(expectedIndex) + ", read " +
           std::to_string(index) + ")");
  int storedSubint = c.subint, storedDelta = c.deltaMax, storedChannels = c.subchannels;
  if (version >= 2) {
    const std::string what = "routing_model_v2 extensions src_subint, src_maxdelta and src_numchannels for routing channel " +
                             std::to_string(expectedIndex);
    storedSubint = r.Int(what);
    storedDelta = r.Int(what);
    storedChannels = r.Int(what);
    if (storedSubint < 1 || storedDelta < 0 || storedChannels < 1)
      r.Fail("error reading " + what + " (sub-intervals and sub-channels must be at least 1, the translation at least 0;" +
             " read " + std::to_string(storedSubint) + ", " + std::to_string(storedDelta) + ", " +
             std::to_string(storedChannels) + ")");
  }
  r.SkipLine();
  bool translations = false;
  if (storedSubint == c.subint && storedDelta == c.deltaMax && storedChannels == c.subchannels) {
    // Depths per step of another step length are converted to the own one.
    const double scale = dt / storedStep;
    const int entries = c.subint + c.storageElements;
    const StateRange flow = RoutedFlowRange();
    for (int k = 1; k <= entries; ++k) c.queue[static_cast<size_t>(k)] = scale * r.Value("translation queue", flow);
    translations = true;
    for (int m = 1; m <= c.subchannels; ++m) {
      for (int s = 1; s <= c.subint; ++s) c.Qaus(m, s) = scale * r.Value("outflow of a sub-channel", flow);
      r.SkipLine();
      c.qvzuq[static_cast<size_t>(m)] = r.Value("flood-plain share of a sub-channel", StateRange::Fraction());
      r.SkipLine();
      translations = ReadTranslation(r, c, m) && translations;
    }
  } else {
    ResampleSubchannels(r, c, storedSubint, storedDelta, storedChannels, storedStep);
  }
  // Older files keep no translations; a resampled channel's do not fit: each sub-channel's
  // is then taken from its queue and outflows.
  if (!translations) RestoreLastSlots(c, dt);
  // A value that overflowed in the conversion to the own time step.
  auto finite = [](const std::vector<double>& v) {
    for (double x : v)
      if (!std::isfinite(x)) return false;
    return true;
  };
  if (!finite(c.queue) || !finite(c.qaus))
    r.Fail("error reading the state of routing channel " + std::to_string(expectedIndex) +
           " (a value too large for the model's time step)");
}

void routingclass::ResampleSubchannels(StateReader& r, ChannelTable& c, int storedSubint, int storedDelta,
                                       int storedChannels, double storedStep) {
  const double scale = dt / storedStep;
  const int own = c.subchannels;
  const int block = c.BlockSize();
  const long S = storedChannels;
  // Stored item g covers the own sub-channels from (g - 1) * N / S + 1 to g * N / S; an
  // empty range carries its value on to the next item.
  auto spread = [&](auto&& readItem, auto&& fill) {
    double sum = 0.0;
    int count = 0;
    for (long g = 1; g <= S; ++g) {
      sum += readItem();
      ++count;
      const long from = (g - 1) * own / S + 1, to = g * own / S;
      if (from > to) continue;
      for (long k = from; k <= to; ++k) fill(static_cast<int>(k), sum / count);
      sum = 0.0;
      count = 0;
    }
  };
  const StateRange flow = RoutedFlowRange();
  auto flowMean = [&](int count, const char* what) { return r.Within(r.LineMean(count, what), what, flow, r.LineNumber() - 1); };
  const double outputs = flowMean(storedSubint, "translation queue");
  for (int k = 1; k <= c.subint; ++k) c.queue[static_cast<size_t>(k)] = scale * outputs;
  spread([&] { return flowMean(storedSubint + storedDelta, "translation queue"); },
         [&](int k, double v) {
           for (int i = 1; i <= block; ++i) c.queue[static_cast<size_t>(c.subint + (k - 1) * block + i)] = scale * v;
         });
  // The outflow series and the flood-plain share of each stored sub-channel, a pair of
  // lines each: the outflow is a depth per step, the share stays as it is.
  std::vector<double> shares;
  spread(
      [&] {
        const double q = flowMean(storedSubint, "outflow of a sub-channel");
        shares.push_back(r.Within(r.LineMean(1, "flood-plain share of a sub-channel"),
                                  "flood-plain share of a sub-channel", StateRange::Fraction(), r.LineNumber() - 1));
        std::string translation;
        r.NewerLine(kTranslationMark, "the translation of a sub-channel",
                    "the translations of the sub-channels (taken from their queues)", translation);
        return q;
      },
      [&](int k, double v) {
        for (int s = 1; s <= c.subint; ++s) c.Qaus(k, s) = scale * v;
      });
  spread([&, i = size_t{0}]() mutable { return shares[i++]; },
         [&](int k, double v) { c.qvzuq[static_cast<size_t>(k)] = v; });
}

bool routingclass::ReadTranslation(StateReader& r, ChannelTable& c, int m) {
  std::string line;
  if (!r.NewerLine(kTranslationMark, "the translation of sub-channel " + std::to_string(m),
                   "the translations of the sub-channels (taken from their queues)", line))
    return false;
  TextCursor value = StateReader::Values(line);
  int d = -1;
  if (!value.ReadInt(d) || d < 0 || d > c.delta[1])
    r.Fail("error reading the translation of sub-channel " + std::to_string(m) + " (" + line.substr(0, 40) +
           "; a whole number of sub-intervals from 0 to " + std::to_string(c.delta[1]) + ")");
  c.lastSlot[static_cast<size_t>(m)] = (m - 1) * c.BlockSize() + c.subint + d;
  return true;
}
