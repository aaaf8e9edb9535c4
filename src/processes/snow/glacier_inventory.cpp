#include "processes/snow/glacier_inventory.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "framework/logstream.h"

namespace {

constexpr double kTolerance = 1e-5;
constexpr int kMaxPasses = 5;
constexpr int kMaxIterations = 31;

}  // namespace

// --- ElevationBand ---------------------------------------------------------------------

void ElevationBand::AddCell(double* fractionRef, double* codeRef) {
  ++cells;
  fraction.push_back(fractionRef);
  code.push_back(codeRef);
  flags.push_back(0);
}

void ElevationBand::Clear() {
  cells = 0;
  fraction.clear();
  code.clear();
  flags.clear();
}

uint64_t ElevationBand::CountChangeableCells(double delta) {
  if (delta == 0.0) return 0;
  uint64_t n = 0;
  for (size_t i = 0; i < fraction.size(); ++i) {
    const bool changeable = delta > 0.0 ? *fraction[i] < 1.0 : *fraction[i] > 0.0;
    if (changeable)
      ++n;
    else
      flags[i] = 1;
  }
  return n;
}

double ElevationBand::ChangeCells(double fractionPerCell) {
  uint64_t n = 0;
  for (int32_t f : flags)
    if (f == 0) ++n;
  double remainder = fractionPerCell * static_cast<double>(n);
  uint64_t full = n;
  int pass = 0;
  for (;;) {
    const double share = full > 0 ? remainder / static_cast<double>(full) : 0.0;
    const double before = remainder;
    full = 0;
    for (size_t i = 0; i < fraction.size(); ++i) {
      if (flags[i] != 0 || *code[i] < 0.0) continue;
      const double next = *fraction[i] + share;
      if (next < 0.0) {
        // The cell leaves the glacier.
        *fraction[i] = 0.0;
        *code[i] = -9999.0;
        remainder -= share - next;
      } else if (next > 1.0) {
        *fraction[i] = 1.0;
        remainder -= share - (next - 1.0);
      } else {
        *fraction[i] = next;
        remainder -= share;
        ++full;
      }
    }
    ++pass;
    if (!(std::fabs(remainder) > kTolerance && std::fabs(before - remainder) > kTolerance && pass < kMaxPasses)) break;
  }
  if (pass >= kMaxPasses) std::cerr << "error: could not remove or add the required number of cells for the glacier\n";
  return remainder;
}

bool ElevationBand::SteadyApplication(double fractionPerCell, double& change, double& remainderOut) const {
  // The passes of ChangeCells on unchanged cells. A cell that is full (1 while growing)
  // stays full and places nothing; every other cell must take each share whole.
  uint64_t n = 0;
  for (int32_t f : flags)
    if (f == 0) ++n;
  double remainder = fractionPerCell * static_cast<double>(n);
  uint64_t full = n;
  change = 0.0;
  for (int pass = 1;; ++pass) {
    const double share = full > 0 ? remainder / static_cast<double>(full) : 0.0;
    const double before = remainder;
    full = 0;
    for (size_t i = 0; i < fraction.size(); ++i) {
      if (flags[i] != 0 || *code[i] < 0.0) continue;
      const double x = *fraction[i];
      if (x == 1.0 && share > 0.0) {
        remainder -= share - ((x + share) - 1.0);
        continue;
      }
      const double next = x + change + share;
      if (next < 0.0 || next > 1.0) return false;
      remainder -= share;
      ++full;
    }
    change += share;
    if (!(std::fabs(remainder) > kTolerance && std::fabs(before - remainder) > kTolerance)) break;
    if (pass + 1 >= kMaxPasses) return false;
  }
  remainderOut = remainder;
  return true;
}

double ElevationBand::ChangeCellsRepeatedly(double fractionPerCell, uint64_t times) {
  double unplaced = 0.0;
  while (times > 0) {
    double change = 0.0, remainder = 0.0;
    if (times > 2 && SteadyApplication(fractionPerCell, change, remainder)) {
      // Applications that keep every changing cell inside 0..1 (one less, for rounding).
      double room = std::numeric_limits<double>::infinity();
      for (size_t i = 0; i < fraction.size(); ++i) {
        if (flags[i] != 0 || *code[i] < 0.0 || (*fraction[i] == 1.0 && change > 0.0)) continue;
        if (change > 0.0) room = std::min(room, (1.0 - *fraction[i]) / change);
        if (change < 0.0) room = std::min(room, *fraction[i] / -change);
      }
      const double steady = std::floor(room) - 1.0;
      if (steady >= 2.0) {
        const uint64_t k = steady >= static_cast<double>(times - 1) ? times - 1 : static_cast<uint64_t>(steady);
        const double total = change * static_cast<double>(k);
        for (size_t i = 0; i < fraction.size(); ++i) {
          if (flags[i] != 0 || *code[i] < 0.0 || (*fraction[i] == 1.0 && change > 0.0)) continue;
          *fraction[i] = std::min(1.0, std::max(0.0, *fraction[i] + total));
        }
        unplaced += remainder * static_cast<double>(k);
        times -= k;
        continue;
      }
    }
    unplaced += ChangeCells(fractionPerCell);
    --times;
  }
  return unplaced;
}

// --- GlacierRecord ---------------------------------------------------------------------

GlacierRecord::GlacierRecord() = default;

GlacierRecord::GlacierRecord(int32_t code_, int32_t bands_, int32_t extraWeight, int32_t subbasin_, double c_,
                             double gamma_, double volume_, double area_, double cellSize_)
    : code(code_),
      cellSize(cellSize_),
      area(area_),
      volume(volume_),
      oldArea(area_),
      oldVolume(volume_),
      c(c_),
      gamma(gamma_),
      bandCount(bands_),
      extraWeightBand0(extraWeight),
      subbasin(subbasin_) {}

uint64_t GlacierRecord::AddCell(bool trackRange, double fraction, double elevation, double cellArea) {
  ++cells;
  area += fraction * cellArea / 1e6;
  if (cells == 1) {
    lowest = highest = elevation;
  } else if (trackRange) {
    if (elevation > highest)
      highest = elevation;
    else if (elevation < lowest)
      lowest = elevation;
  }
  return cells;
}

void GlacierRecord::ResetCells() {
  cells = 0;
  area = 0.0;
  lowest = 10000.0;
  highest = -10000.0;
}

void GlacierRecord::BuildElevationBands() {
  bands.clear();
  if (bandCount < 1) return;
  const double width = (highest - lowest) / bandCount;
  bands.resize(static_cast<size_t>(bandCount));
  for (int i = 0; i < bandCount; ++i) {
    bands[static_cast<size_t>(i)].lower = lowest + i * width;
    bands[static_cast<size_t>(i)].upper = lowest + (i + 1) * width;
    bands[static_cast<size_t>(i)].width = width;
  }
  cellsInBands = 0;
}

void GlacierRecord::AssignCellToBand(double* fractionRef, double* codeRef, double elevation) {
  // The first band that holds the elevation, the last one for an elevation at or above the
  // highest and band 0 for one at or below the lowest.
  const size_t n = bands.size();
  auto fits = [&](size_t i) {
    return bands[i].Contains(elevation) || (elevation >= highest && i + 1 == n) || (lowest >= elevation && i == 0);
  };
  auto add = [&](size_t i) {
    bands[i].AddCell(fractionRef, codeRef);
    ++cellsInBands;
  };
  if (n == 0) return;
  if (fits(0)) return add(0);
  // The bands join without gaps: the one that holds the elevation is next to the band its
  // distance from the lowest elevation gives (rounding may move it by one).
  const double width = bands[0].width;
  const double at = (elevation - lowest) / width;
  if (width > 0.0 && at >= 0.0 && at < static_cast<double>(n) + 2.0) {
    const size_t j = static_cast<size_t>(at);
    for (size_t i = j > 1 ? j - 1 : 1; i <= j + 1 && i < n; ++i)
      if (bands[i].Contains(elevation)) return add(i);
    if (elevation >= highest) add(n - 1);
    return;
  }
  for (size_t i = 1; i < n; ++i)
    if (fits(i)) return add(i);
}

void GlacierRecord::ClearBands() {
  for (ElevationBand& b : bands) b.Clear();
  cellsInBands = 0;
}

void GlacierRecord::ComputeCellsToAdd() {
  unplaced = 0.0;
  cellsToAdd = (area - oldArea) * 1e6 / (cellSize * cellSize);
}

uint64_t GlacierRecord::CountChangeableCells(double delta) {
  uint64_t n = 0;
  for (ElevationBand& b : bands) n += b.CountChangeableCells(delta);
  return n;
}

double GlacierRecord::CellFractionPerSweepFor(bool useGiven, double delta) {
  const double target = useGiven ? delta : cellsToAdd;
  const double N = static_cast<double>(bands.size());
  double weights = 0.0;
  for (size_t i = 0; i < bands.size(); ++i) {
    const double k = static_cast<double>(bands[i].CountChangeableCells(target));
    weights += (N - static_cast<double>(i)) * k;
    if (i == 0) weights += extraWeightBand0 * N * k;
  }
  // No changeable cell: nothing to spread.
  return weights > 0.0 ? target / weights : 0.0;
}

double GlacierRecord::ChangeCellsInBands(int lastBand, double fractionPerCell) {
  unplaced = 0.0;
  if (lastBand < 0) return 0.0;
  for (int i = 0; i <= lastBand && static_cast<size_t>(i) < bands.size(); ++i) {
    if (bands[static_cast<size_t>(i)].fraction.empty()) continue;
    // Band 0 is changed once more for each unit of its extra weight.
    const uint64_t times = i == 0 ? 1 + static_cast<uint64_t>(std::max(0, extraWeightBand0)) : 1;
    unplaced += bands[static_cast<size_t>(i)].ChangeCellsRepeatedly(fractionPerCell, times);
  }
  return unplaced;
}

double GlacierRecord::SweepBands(double fractionPerCell) {
  std::vector<size_t> held;  // bands with cells, in increasing order
  for (size_t i = 0; i < bands.size(); ++i)
    if (!bands[i].fraction.empty()) held.push_back(i);
  const uint64_t band0Times = 1 + static_cast<uint64_t>(std::max(0, extraWeightBand0));
  double sum = 0.0;
  for (size_t s = 0; s < bands.size(); ++s) {
    unplaced = 0.0;
    for (size_t i : held) {
      if (i > s) break;
      unplaced += bands[i].ChangeCellsRepeatedly(fractionPerCell, i == 0 ? band0Times : 1);
    }
    sum += unplaced;
  }
  return sum;
}

void GlacierRecord::VolumeFromArea() {
  if (area <= 0.01) area = 0.01;
  volume = c * std::pow(area, gamma);
}

void GlacierRecord::AreaFromVolume() {
  const double minVolume = c * std::pow(kMinGlacierArea, gamma);
  if (volume == 0.0) {
    volume = oldVolume = c * std::pow(area > 0.0 ? area : kMinGlacierArea, gamma);
    oldArea = area;
  }
  if (minVolume >= volume) {
    volume = minVolume;
    area = kMinGlacierArea;
  } else {
    area = std::pow(std::max(volume, 0.0) / c, 1.0 / gamma);
  }
}

void GlacierRecord::OldAreaFromOldVolume() {
  if (oldVolume == 0.0) oldVolume = c * std::pow(std::max(oldArea, 0.0), gamma);
  const double minVolume = c * std::pow(kMinGlacierArea, gamma);
  if (minVolume >= oldVolume) {
    oldVolume = minVolume;
    oldArea = kMinGlacierArea;
  } else {
    oldArea = std::pow(std::max(oldVolume, 0.0) / c, 1.0 / gamma);
  }
}

// --- GlacierInventory ------------------------------------------------------------------

GlacierRecord* GlacierInventory::Find(int64_t code) {
  const auto it = index_.find(code);
  return it == index_.end() ? nullptr : list_[it->second].get();
}

GlacierRecord& GlacierInventory::Create(int64_t code, int r, int c) {
  list_.push_back(std::make_unique<GlacierRecord>(static_cast<int32_t>(code), s_.bands, s_.extraWeightBand0,
                                                  static_cast<int32_t>(g_.subbasin[r][c]), s_.c, s_.gamma, 0.0, 0.0,
                                                  g_.cellSize));
  index_[code] = list_.size() - 1;
  return *list_.back();
}

void GlacierInventory::RangeByFirn(GlacierRecord& g, bool first, double z, int r, int c) {
  if (first) {
    g.lowest = g.highest = z;
  } else if (Firn(r, c) == 0.0) {
    if (z > g.highest)
      g.highest = z;
    else if (z < g.lowest)
      g.lowest = z;
  }
}

void GlacierInventory::BuildGlacierList() {
  list_.clear();
  index_.clear();
  const double cellArea = g_.cellSize * g_.cellSize;
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (!Inside(r, c) || !(g_.code[r][c] > 0.0)) continue;
      const int64_t code = static_cast<int64_t>(g_.code[r][c]);
      GlacierRecord* g = Find(code);
      if (!g) g = &Create(code, r, c);
      if (static_cast<double>(g->subbasin) != g_.subbasin[r][c]) {
        if (log_)
          *log_ << "FATAL: \n\n=======================================\n" << "!!!! ERROR !!!! \n\n" << "glacier "
                << code << " is located in more than one subbasin:\n" << "First cell was found in subbasin "
                << g->subbasin << ",\n" << "whereas the cell in row " << r << " and col " << c
                << " belongs to subbasin " << g_.subbasin[r][c]
                << ".\nPlease make sure that each single glacier belongs to one specific subbasin only."
                << "[end-entry]";
        throw 84;
      }
      const double f = g_.fraction[r][c] == g_.nodata ? 0.0 : g_.fraction[r][c];
      ++g->cells;
      g->area += cellArea * f / 1e6;
      RangeByFirn(*g, g->cells == 1, g_.elevation[r][c], r, c);
      if (g_.oldMassBalance && g_.massBalance)
        g->oldVolume += (g_.oldMassBalance[r][c] - g_.massBalance[r][c]) * f / 1000.0 * cellArea / 1e6;
    }
}

void GlacierInventory::Build() {
  BuildGlacierList();
  for (auto& g : list_) {
    g->VolumeFromArea();
    g->oldVolume = g->volume;
    g->OldAreaFromOldVolume();
    g->BuildElevationBands();
  }
  AssignGlacierCellsToBands(-1);
}

void GlacierInventory::AddNewCellToOldArea(GlacierRecord& g, double fraction) {
  // The new cell counts as part of the old glacier, not as growth.
  if (!(g.volume > 0.0)) return;
  const double A = fraction * g_.cellSize * g_.cellSize / 1e6 + g.oldArea;
  const double d = g.c * std::pow(std::max(A, 0.0), g.gamma) - g.oldVolume;
  g.oldVolume += d;
  g.volume += d;
  g.oldArea = A;
}

void GlacierInventory::RecountGlaciers(int64_t code, bool trackRange) {
  const double cellArea = g_.cellSize * g_.cellSize;
  for (int r = scan_.r0; r <= scan_.r1; ++r)
    for (int c = scan_.c0; c <= scan_.c1; ++c) {
      if (!Inside(r, c) || g_.code[r][c] < -1.0) continue;
      const int64_t cellCode = static_cast<int64_t>(g_.code[r][c]);
      const double z = g_.elevation[r][c];
      if (GlacierRecord* g = Find(cellCode)) {
        if (code >= 0 && cellCode != code) continue;
        if (g_.fraction[r][c] != g_.nodata) {
          g->AddCell(trackRange, g_.fraction[r][c], z, cellArea);
        } else {
          // A cell newly given to the glacier.
          if (g_.codeOld) g_.codeOld[r][c] = static_cast<double>(cellCode);
          g_.fraction[r][c] = s_.relSizeNewGlacier;
          g->AddCell(trackRange, s_.relSizeNewGlacier, z, cellArea);
          AddNewCellToOldArea(*g, s_.relSizeNewGlacier);
        }
        continue;
      }
      // Codes below 1 other than -1 name no glacier.
      if (cellCode != -1 && cellCode < 1) continue;
      int64_t newCode = cellCode;
      if (cellCode == -1) {
        static const int kDr[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
        static const int kDc[8] = {0, 1, 0, -1, 1, 1, -1, -1};
        newCode = 0;
        for (int k = 0; k < 8 && newCode == 0; ++k) {
          const int rr = r + kDr[k], cc = c + kDc[k];
          if (rr < 1 || rr > g_.nrows || cc < 1 || cc > g_.ncols) continue;
          if (g_.code[rr][cc] > 0.0 && g_.subbasin[rr][cc] == g_.subbasin[r][c])
            newCode = static_cast<int64_t>(g_.code[rr][cc]);
        }
        if (newCode == 0) newCode = (index_.empty() ? 0 : index_.rbegin()->first) + 1;
      }
      if (g_.codeOld) g_.codeOld[r][c] = static_cast<double>(newCode);
      g_.code[r][c] = static_cast<double>(newCode);
      g_.fraction[r][c] = s_.relSizeNewGlacier;
      GlacierRecord* g = Find(newCode);
      if (!g) g = &Create(newCode, r, c);
      AddNewCellToOldArea(*g, g_.fraction[r][c]);
      ++g->cells;
      g->area += g_.fraction[r][c] * cellArea / 1e6;
      RangeByFirn(*g, g->cells == 1, z, r, c);
    }
}

bool GlacierInventory::OnEdge(int r, int c) const {
  static const int kDr[4] = {-1, 0, 1, 0};
  static const int kDc[4] = {0, -1, 0, 1};
  for (int k = 0; k < 4; ++k) {
    const int rr = r + kDr[k], cc = c + kDc[k];
    if (rr < 1 || rr > g_.nrows || cc < 1 || cc > g_.ncols) continue;
    if (g_.code[rr][cc] != g_.code[r][c]) return true;
  }
  return false;
}

void GlacierInventory::AssignGlacierCellsToBands(int64_t code) {
  for (auto& g : list_)
    if (code < 0 || g->code == code) g->ClearBands();
  for (int r = scan_.r0; r <= scan_.r1; ++r)
    for (int c = scan_.c0; c <= scan_.c1; ++c) {
      const double f = g_.fraction[r][c];
      if (!Inside(r, c) || !(g_.code[r][c] > 0.0)) continue;
      // Cells of the glacier without firn, and the cells of fraction 0 that carry its code
      // (those collected around it to grow into, whatever firn they were given): without
      // them a glacier of whole cells could not grow.
      if (!(f == 0.0 || (f > 0.0 && !(Firn(r, c) > 0.0)))) continue;
      const int64_t cellCode = static_cast<int64_t>(g_.code[r][c]);
      if (code >= 0 && cellCode != code) continue;
      GlacierRecord* g = Find(cellCode);
      if (g && (OnEdge(r, c) || f < 1.0)) g->AssignCellToBand(&g_.fraction[r][c], &g_.code[r][c], g_.elevation[r][c]);
    }
  for (auto& g : list_) {
    if ((code >= 0 && g->code != code) || g->cellsInBands > 0) continue;
    // No cell without firn: take the changeable cells of this glacier whatever their firn.
    Box box = scan_;
    if (boxes_ && code < 0) {
      const auto it = boxes_->find(g->code);
      box = it == boxes_->end() ? Box{1, 0, 1, 0} : it->second;
    }
    for (int r = box.r0; r <= box.r1; ++r)
      for (int c = box.c0; c <= box.c1; ++c) {
        const double f = g_.fraction[r][c];
        if (!Inside(r, c) || !(g_.code[r][c] > 0.0)) continue;
        if (static_cast<int64_t>(g_.code[r][c]) != g->code) continue;
        if (OnEdge(r, c) || (f >= 0.0 && f < 1.0))
          g->AssignCellToBand(&g_.fraction[r][c], &g_.code[r][c], g_.elevation[r][c]);
      }
  }
}

bool GlacierInventory::GrowthPass(GlacierRecord& g, bool exactZero, bool firnTest, bool anyCode) {
  static const int kDr[4] = {-1, 0, 1, 0};
  static const int kDc[4] = {0, 1, 0, -1};
  bool took = false;
  for (int r = scan_.r0; r <= scan_.r1; ++r)
    for (int c = scan_.c0; c <= scan_.c1; ++c) {
      const double f = g_.fraction[r][c];
      if (!Inside(r, c) || !(exactZero ? f == 0.0 : f <= 0.0)) continue;
      if (!anyCode && !(g_.code[r][c] < 0.0)) continue;
      int nr = 0, nc = 0;
      for (int k = 0; k < 4 && nr == 0; ++k) {
        const int rr = r + kDr[k], cc = c + kDc[k];
        if (rr < 1 || rr > g_.nrows || cc < 1 || cc > g_.ncols) continue;
        if (g_.subbasin[rr][cc] == g_.subbasin[r][c] && g_.fraction[rr][cc] == 1.0 &&
            g_.code[rr][cc] == static_cast<double>(g.code)) {
          nr = rr;
          nc = cc;
        }
      }
      if (nr == 0 || (firnTest && !(Firn(nr, nc) < 0.0001))) continue;
      const double firn = firnTest ? 0.0 : Firn(nr, nc);
      g_.code[r][c] = static_cast<double>(g.code);
      g_.fraction[r][c] = 0.0;
      if (g_.firnTotal) g_.firnTotal[r][c] = firn;
      if (g_.firnStack && g_.firnLevels > 0)
        for (int l = 0; l <= g_.firnLevels; ++l) g_.firnStack[r][c][l] = firnTest ? 0.0 : firn / g_.firnLevels;
      g.AssignCellToBand(&g_.fraction[r][c], &g_.code[r][c], g_.elevation[r][c]);
      took = true;
    }
  return took;
}

void GlacierInventory::CollectGrowthCells(int64_t code) {
  GlacierRecord* g = Find(code);
  if (!g) return;
  g->ClearBands();
  GrowthPass(*g, true, true, false);
  if (g->cellsInBands > 0) return;
  if (GrowthPass(*g, true, false, true) || g->cellsInBands > 0) return;
  GrowthPass(*g, false, true, false);
  if (g->cellsInBands == 0) GrowthPass(*g, false, false, true);
}

void GlacierInventory::DistributeLostAreaMassBalance(int64_t code) {
  for (auto& g : list_)
    if (code < 0 || g->code == code) g->lostAreaMassBalance = g->oldFractionSum = g->fractionSum = 0.0;
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (!Inside(r, c) || !(g_.codeOld[r][c] >= 0.0)) continue;
      const int64_t old = static_cast<int64_t>(g_.codeOld[r][c]);
      GlacierRecord* g = Find(old);
      if (!g || (code >= 0 && old != code)) continue;
      const double mb = g_.massBalance[r][c];
      const double oldFraction = g_.fractionOld[r][c];
      if (g_.codeOld[r][c] == g_.code[r][c])
        g->lostAreaMassBalance += mb * (oldFraction - g_.fraction[r][c]);
      else
        g->lostAreaMassBalance += mb * oldFraction;
      g->oldFractionSum += oldFraction;
    }
  auto each = [&](auto&& visit) {
    for (int r = 1; r <= g_.nrows; ++r)
      for (int c = 1; c <= g_.ncols; ++c) {
        if (!Inside(r, c) || !(g_.code[r][c] >= 0.0)) continue;
        const int64_t k = static_cast<int64_t>(g_.code[r][c]);
        GlacierRecord* g = Find(k);
        if (g && (code < 0 || k == code)) visit(*g, r, c);
      }
  };
  each([&](GlacierRecord& g, int r, int c) { g.fractionSum += g_.fraction[r][c]; });
  for (auto& g : list_)
    if (code < 0 || g->code == code)
      g->massBalancePerCell = g->fractionSum > 0.0 ? g->lostAreaMassBalance / g->fractionSum : 0.0;
  each([&](GlacierRecord& g, int r, int c) { g_.massBalance[r][c] += g.massBalancePerCell; });
}

void GlacierInventory::Glacierbalance() {
  for (auto& g : list_) {
    g->ResetCells();
    g->volume = g->oldVolume;
  }
  RecountGlaciers(-1, false);
  for (size_t p = 0; p < list_.size(); ++p) {
    GlacierRecord& g = *list_[p];
    if (g.lowest == 10000.0) {
      g.ResetCells();
      RecountGlaciers(g.code, true);
    }
    g.BuildElevationBands();
  }
  const std::map<int64_t, Box> boxes = GlacierBoxes();
  boxes_ = &boxes;
  AssignGlacierCellsToBands(-1);
  const double cellArea = g_.cellSize * g_.cellSize;
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (!Inside(r, c) || !(g_.fraction[r][c] >= 0.0) || !(g_.code[r][c] >= 0.0)) continue;
      GlacierRecord* g = Find(static_cast<int64_t>(g_.code[r][c]));
      if (!g) continue;
      g->volume += (g_.massBalance[r][c] - g_.oldMassBalance[r][c]) / kIceDensity * g_.fraction[r][c] / 1000.0 *
                   cellArea / 1e6;
    }
  if (log_) *log_ << "DEBUG: Glacierbalance\n" << "[end-entry]";

  for (size_t p = 0; p < list_.size(); ++p) {
    GlacierRecord& g = *list_[p];
    g.AreaFromVolume();
    const double newArea = g.area;
    g.cellsToAdd = (g.area - g.oldArea) * 1e6 / cellArea;
    g.unplaced = 0.0;
    g.CellFractionPerSweep();
    if (log_)
      *log_ << "DEBUG: " << "Glacier:\t" << p << "\n" << "Old Volume:\t" << g.oldVolume << "\n" << "New Volume:\t"
            << g.volume << "\n" << "Old Area:\t" << g.oldArea << "\n" << "New Area:\t" << g.area << "\n"
            << "[end-entry]";
    double R = g.cellsToAdd;
    int k = 0;
    const auto own = boxes.find(g.code);
    Box box = own == boxes.end() ? Box{1, 0, 1, 0} : Around(own->second, 1);
    for (;;) {
      if (std::fabs(R) <= kTolerance) break;
      const uint64_t C = g.CountChangeableCells(R);
      bool regroup = true;
      if (C > 0) {
        const double f = k == 0 ? g.CellFractionPerSweep() : g.CellFractionPerSweepFor(true, R);
        if (log_)
          *log_ << "DEBUG: " << "number of cells to add: \t" << R << "\n" << "number of changeable cells: \t" << C
                << "\n" << "fraction of cells to add per iteration: \t" << f << "[end-entry]";
        if (g.bands.empty()) {
          R = 0.0;
          regroup = false;
        } else {
          R = g.SweepBands(f);
          regroup = std::fabs(R) > kTolerance;
        }
      }
      if (regroup) {
        scan_ = box;
        g.ResetCells();
        if (R > 0.0) {
          if (log_) *log_ << "DEBUG: " << "growing the glacier..." << "[end-entry]";
          CollectGrowthCells(g.code);
        } else if (log_) {
          *log_ << "DEBUG: " << "shrinking the glacier..." << "[end-entry]";
        }
        RecountGlaciers(g.code, false);
        if (g.lowest == 10000.0) {
          g.ResetCells();
          RecountGlaciers(g.code, true);
        }
        g.BuildElevationBands();
        AssignGlacierCellsToBands(g.code);
        scan_ = Full();
        if (R > 0.0) box = Around(box, 1);  // the cells taken may lie on its edge
      }
      if (++k >= kMaxIterations) {
        // Only a glacier that is still off its area says so.
        if (log_ && std::fabs(R) > kTolerance)
          *log_ << "WARNING: \n----------- WARNING: ----------\nThere were too many iterations when trying to remove "
                   "or add glacier areas for glacier"
                << p << "\n-----------------------------\n"
                << "glacier " << g.code << " stopped after " << kMaxIterations << " iterations with "
                << R * cellArea / 1e6 << " km2 of its new area " << newArea << " km2 not placed in its cells"
                << "[end-entry]";
        break;
      }
    }
    if (log_) *log_ << "DEBUG: " << "---------------------------------\n\n" << "[end-entry]";
    // The area reached: the new area less what its cells could not take. (A regrouping
    // recounts the area of the cells before they take their share.)
    g.area = std::fabs(R) <= kTolerance ? newArea : newArea - R * cellArea / 1e6;
    g.oldArea = g.area;
    g.oldVolume = g.volume;
  }
  boxes_ = nullptr;
}

GlacierInventory::Box GlacierInventory::Around(const Box& b, int margin) const {
  return Box{std::max(1, b.r0 - margin), std::min(g_.nrows, b.r1 + margin), std::max(1, b.c0 - margin),
             std::min(g_.ncols, b.c1 + margin)};
}

std::map<int64_t, GlacierInventory::Box> GlacierInventory::GlacierBoxes() const {
  std::map<int64_t, Box> boxes;
  for (int r = 1; r <= g_.nrows; ++r)
    for (int c = 1; c <= g_.ncols; ++c) {
      if (!Inside(r, c) || !(g_.code[r][c] > 0.0)) continue;
      const int64_t code = static_cast<int64_t>(g_.code[r][c]);
      if (index_.find(code) == index_.end()) continue;
      auto it = boxes.find(code);
      if (it == boxes.end()) {
        boxes.emplace(code, Box{r, r, c, c});
      } else {
        Box& b = it->second;
        b.r0 = std::min(b.r0, r);
        b.r1 = std::max(b.r1, r);
        b.c0 = std::min(b.c0, c);
        b.c1 = std::max(b.c1, c);
      }
    }
  return boxes;
}
