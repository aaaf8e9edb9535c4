// The annual glacier update of the dynamic glacier methods: the step that ends the
// evaluation day, the update with what follows it, and the inventory's part of the storage
// file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#include "framework/logstream.h"
#include "framework/model_date.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "processes/snow/glacier_inventory.h"
#include "processes/snow/snowmod.h"

namespace {

// Relative difference up to which the cells of a glacier cover the area written with its
// state (grids written as text keep fewer digits than the state).
constexpr double kAreaMatch = 1e-6;

}  // namespace

bool GlacierEvaluationDue(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int evalDay,
                          int evalMonth, double hourOffset, int64_t stepMinutes) {
  const DayEnds ends = DayEndsOfStep(ModelDate{minute, hour, day, month, year}, hourOffset, stepMinutes);
  if (ends.count == 0) return false;
  // The evaluation day of each year the days that end lie in (a step over a day may end
  // several).
  const int64_t first = DayNumber(ends.first.year, ends.first.month, ends.first.day);
  const int64_t last = DayNumber(ends.last.year, ends.last.month, ends.last.day);
  for (int64_t y = ends.first.year; y <= ends.last.year; ++y) {
    if (evalMonth < 1 || evalMonth > 12 || evalDay < 1 || evalDay > DaysInMonth(y, evalMonth)) continue;
    const int64_t at = DayNumber(y, evalMonth, evalDay);
    if (at >= first && at <= last) return true;
  }
  return false;
}

// --- the inventory --------------------------------------------------------------------

void GlacierInventory::AnnualUpdate() {
  Glacierbalance();
  DistributeLostAreaMassBalance(-1);
  if (log_) *log_ << "DEBUG: glaciers changed, updating glaicerlist now..." << "[end-entry]";
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (Inside(r, c) && g_.fraction[r][c] > 0.0)
        g_.oldMassBalance[r][c] = g_.massBalance[r][c];
      else
        g_.oldMassBalance[r][c] = g_.massBalance[r][c] = 0.0;
    }
}

std::map<int64_t, double> GlacierInventory::GridAreas() const {
  // The sums of BuildGlacierList, in its order, so that the same grids give the same sums.
  std::map<int64_t, double> areas;
  const double cellArea = g_.cellSize * g_.cellSize;
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (!Inside(r, c) || !(g_.code[r][c] > 0.0)) continue;
      const double f = g_.fraction[r][c] == g_.nodata ? 0.0 : g_.fraction[r][c];
      areas[static_cast<int64_t>(g_.code[r][c])] += cellArea * f / 1e6;
    }
  return areas;
}

std::string GlacierInventory::StateText() const {
  const std::map<int64_t, double> areas = GridAreas();
  std::string t = "[glacier_inventory]\n" + FormatText("%zu (number of glaciers)\n", list_.size());
  for (const auto& g : list_) {
    const auto it = areas.find(g->code);
    const double cells = it == areas.end() ? 0.0 : it->second;
    t += FormatText("%d\t%d(glacier code and subbasin)\n", g->code, g->subbasin);
    t += FormatText("%d\t%.17g(glacier code and area of its cells in km2)\n", g->code, cells);
    t += FormatText("%d\t%.17g(glacier code and area in km2 at the last evaluation)\n", g->code, g->oldArea);
    t += FormatText("%d\t%.17g(glacier code and volume at the last evaluation)\n", g->code, g->oldVolume);
  }
  return t + "\n";
}

void GlacierInventory::RestoreState(TextCursor& f, const std::string& path) {
  auto fail = [&](const std::string& item, const std::string& why) {
    if (log_)
      *log_ << "FATAL: (snow model) error in storage file content reading " << item << " in the part "
            << "[glacier_inventory] of " << path << ": " << why << "[end-entry]";
    throw 71;
  };
  int n = 0;
  if (!f.ReadInt(n)) fail("number of glaciers", UnreadValue(f));
  if (n < 0) fail("number of glaciers", "the number is negative");
  f.RestOfLine();
  struct Stored {
    long code = 0;
    double subbasin = 0.0, cells = 0.0, area = 0.0, volume = 0.0;
  };
  // Grown entry by entry: the count alone does not size anything.
  std::vector<Stored> stored;
  std::set<long> seen;
  static const char* const kItems[4] = {"subbasin", "area of its cells", "area", "volume"};
  for (int e = 0; e < n; ++e) {
    Stored s;
    double* values[4] = {&s.subbasin, &s.cells, &s.area, &s.volume};
    for (int k = 0; k < 4; ++k) {
      long code = 0;
      if (!f.ReadLong(code)) fail("glacier code", UnreadValue(f));
      if (k == 0) s.code = code;
      if (code != s.code || code <= 0 || code > INT32_MAX)
        fail("glacier code", "expected " + std::to_string(s.code) + ", read " + std::to_string(code));
      const std::string item = std::string(kItems[k]) + " of glacier " + std::to_string(code);
      if (!f.ReadDouble(*values[k])) fail(item, UnreadValue(f));
      if (*values[k] < 0.0) fail(item, "the value is negative");
      // The sub-basin becomes the glacier's index: a whole number an int holds.
      if (k == 0 && (*values[k] != std::floor(*values[k]) || *values[k] > INT32_MAX))
        fail(item, "the value " + FormatText("%.17g", *values[k]) + " is not a sub-basin index");
      // Areas in km2 and volumes: none is near 1e15 (the earth has 5.1e8 km2).
      if (!(*values[k] <= 1e15)) fail(item, "the value " + FormatText("%g", *values[k]) + " is above 1e15");
      f.RestOfLine();
    }
    if (!seen.insert(s.code).second) fail("glacier code", "glacier " + std::to_string(s.code) + " appears twice");
    stored.push_back(s);
  }

  // The part was read whole: the glaciers take their state, in the order written.
  const std::map<int64_t, double> areas = GridAreas();
  std::vector<std::unique_ptr<GlacierRecord>> ordered;
  for (const Stored& s : stored) {
    const auto at = index_.find(s.code);
    if (at == index_.end()) {
      // A glacier that had lost every cell keeps its place (and its code stays taken).
      if (s.cells != 0.0) {
        if (log_)
          *log_ << "WARNING: glacier " << s.code << " of the storage file " << path
                << " has no cell in the glacier grids; it is left out" << "[end-entry]";
        continue;
      }
      auto g = std::make_unique<GlacierRecord>(static_cast<int32_t>(s.code), s_.bands, s_.extraWeightBand0,
                                               static_cast<int32_t>(s.subbasin), s_.c, s_.gamma, s.volume, s.area,
                                               g_.cellSize);
      g->BuildElevationBands();
      ordered.push_back(std::move(g));
      continue;
    }
    std::unique_ptr<GlacierRecord>& g = list_[at->second];
    const auto a = areas.find(s.code);
    const double cells = a == areas.end() ? 0.0 : a->second;
    if (static_cast<double>(g->subbasin) == s.subbasin &&
        std::fabs(cells - s.cells) <= kAreaMatch * std::max(s.cells, g_.cellSize * g_.cellSize / 1e6)) {
      g->area = g->oldArea = s.area;
      g->volume = g->oldVolume = s.volume;
    } else if (log_) {
      *log_ << "WARNING: the cells of glacier " << s.code << " cover " << cells << " km2 in subbasin " << g->subbasin
            << " of the glacier grids, but " << s.cells << " km2 in subbasin " << s.subbasin
            << " in the storage file " << path << "; the glacier starts from the area of its cells" << "[end-entry]";
    }
    ordered.push_back(std::move(g));
  }
  for (auto& g : list_)
    if (g) ordered.push_back(std::move(g));
  list_ = std::move(ordered);
  index_.clear();
  for (size_t p = 0; p < list_.size(); ++p) index_[list_[p]->code] = p;
}

// --- the module -----------------------------------------------------------------------

void schneemodellklasse::UpdateGlaciersIfDue(const ModelDate& d) {
  if (!glacierInventory || instanceNumber != 0) return;
  if (!GlacierEvaluationDue(d.year, d.month, d.day, d.hour, d.minute, GMBEvalDay, GMBEvalMonth, GetHourOffset(),
                            output.runStepMinutes))
    return;
  glacierInventory->AnnualUpdate();
  RecountGlacierSharesKeepingStorages();
}
