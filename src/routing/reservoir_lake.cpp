#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/text_helpers.h"
#include "routing/reservoir.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

// Linear interpolation in a table that runs downwards (x[0] the largest); extrapolated
// beyond both ends. Equal neighbours give the upper value rather than 0/0.
double Interpolate(const std::vector<double>& x, const std::vector<double>& y, double v) {
  const size_t m = x.size();
  if (m == 0) return 0.0;
  if (m == 1) return y[0];
  size_t i = 0;
  if (v < x[1])
    while (i + 2 < m && v < x[i + 1]) ++i;
  const double d = x[i] - x[i + 1];
  if (d == 0.0) return y[i];
  return (y[i + 1] * (x[i] - v) + (v - x[i + 1]) * y[i]) / d;
}

}  // namespace

bool SP_class::IsLakeCell(int row, int col) const {
  const LakeGrids& g = c_.grids;
  return g.lakeCodes[row][col] == number && g.zones[row][col] != c_.geometry.nodata_value;
}

void SP_class::InitLake() {
  lake = false;
  levels.clear();
  volumes.clear();
  ground_.clear();
  heldAtGround_.clear();
  const LakeGrids& g = c_.grids;
  if (!c_.lakes || !g.lakeCodes || !g.zones || !g.dem || !g.ponding) return;
  LogStream* log = c_.log;
  const int nrows = c_.geometry.nrows, ncols = c_.geometry.ncols;
  firstRow = nrows + 1;
  firstCol = ncols + 1;
  lastRow = lastCol = 0;
  bool found = false;
  double reference = 0.0, zmin = 0.0, zmax = 0.0;
  for (int r = 1; r <= nrows; ++r) {
    int c0 = 1, c1 = ncols;
    if (c_.rows && static_cast<size_t>(r) < c_.rows->size()) {
      c0 = std::max(1, (*c_.rows)[r].first);
      c1 = std::min(ncols, (*c_.rows)[r].last);
    }
    for (int c = c0; c <= c1; ++c) {
      if (!IsLakeCell(r, c)) continue;
      const double top = g.dem[r][c] + (g.maxPonding ? g.maxPonding[r][c] / 1000.0 : 0.0);
      if (!found) {
        reference = top;
        zmin = g.dem[r][c];
        lowestRow_ = r;
        lowestCol_ = c;
        zmax = top;
        found = true;
      } else if (std::fabs(top - reference) > 0.01) {
        Fail(log,
             "\n============== ERROR ====================\nError in initialization for lake " +
                 std::to_string(number) +
                 ".All Cells for a lake must have the same Altitude value for DEM + MAXPOND\nValue at row " +
                 std::to_string(r) + ", col " + std::to_string(c) + " is " + FormatText("%g", top) +
                 "\nbut first value of dhm for this lake was " + FormatText("%g", reference) +
                 "\n\n\n=======================================\n",
             213);
      }
      if (static_cast<int>(g.zones[r][c]) != c_.subbasin)
        Fail(log,
             " error in routing description or LAKE grid:\n Lake " + std::to_string(number) +
                 " must be located completely within subbasin " + std::to_string(c_.subbasin) + ".",
             224);
      if (g.dem[r][c] <= zmin) {
        zmin = g.dem[r][c];
        lowestRow_ = r;
        lowestCol_ = c;
      }
      zmax = std::max(zmax, top);
      firstRow = std::min(firstRow, r);
      lastRow = std::max(lastRow, r);
      firstCol = std::min(firstCol, c);
      lastCol = std::max(lastCol, c);
    }
  }
  if (!found) {
    if (log)
      *log << "INFO: reservoir " << number << " has no lake cells in \"lake_codes\"; it is treated as a reservoir "
           << "without cells" << "[end-entry]";
    return;
  }
  lake = true;
  // The cells whose depths the lake writes: those of its code in its bounding box.
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = firstCol; c <= lastCol; ++c)
      if (g.lakeCodes[r][c] == number) ground_.push_back(g.dem[r][c]);
  std::sort(ground_.begin(), ground_.end());
  heldAtGround_.assign(ground_.size(), 0.0);
  for (size_t k = 1; k < ground_.size(); ++k)
    heldAtGround_[k] = heldAtGround_[k - 1] + static_cast<double>(k) * (ground_[k] - ground_[k - 1]);

  // Levels from the top down: 4 m in steps of 1 cm, 10 m in steps of 2 cm, then 5 cm.
  const double H = zmax - zmin;
  int n1 = 0, n2 = 0, n3 = 0;
  if (H < 4.0) {
    n1 = static_cast<int>(std::floor(H / 0.01));
    if (n1 == 0) n1 = 1;
  } else if (H < 14.0) {
    n1 = 400;
    n2 = static_cast<int>(std::floor((H - 4.0) / 0.02));
  } else {
    n1 = 400;
    n2 = 500;
    n3 = static_cast<int>(std::lround((H - 14.0) / 0.05));
  }
  const double c2 = c_.geometry.cellsize * c_.geometry.cellsize;
  auto volumeAt = [&](double level) {
    double v = 0.0;
    for (int r = firstRow; r <= lastRow; ++r)
      for (int c = firstCol; c <= lastCol; ++c)
        if (IsLakeCell(r, c) && g.dem[r][c] < level) v += (level - g.dem[r][c]) * c2;
    return v;
  };
  const struct {
    int count;
    double top, step;
  } segments[3] = {{n1, zmax, 0.01}, {n2, zmax - 4.0, 0.02}, {n3, zmax - 14.0, 0.05}};
  for (const auto& s : segments)
    for (int i = 0; i < s.count; ++i) {
      const double level = s.top - i * s.step;
      levels.push_back(level);
      volumes.push_back(volumeAt(level));
    }
  levels.push_back(zmin);
  volumes.push_back(0.0);
  if (!(volumes.front() > 0.0))
    Fail(log,
         "the level-volume table of lake " + std::to_string(number) +
             " holds no positive volume: its cells have no depth between DEM and DEM + maximum ponding",
         213);

  const std::string table = MakeFilePath(c_.tableDirectory, FormatText("W_V_Table_%02d.dat", number));
  // While the run is built the table goes to its staged name (framework/run_files.h).
  const std::string entry = "[lake_model] level-volume table of lake " + std::to_string(number);
  const std::string target = RunFiles::Current().Create(entry, table);
  std::ostringstream text;
  text << "waterlevel-volume-table lake " << number << "\n" << "Level[m a.s.l.]\tVolume[m^3]\n";
  for (size_t i = 0; i < levels.size(); ++i) text << levels[i] << "\t" << volumes[i] << "\n";
  // Through its temporary name, made new, and a rename: the table appears whole or not at all.
  bool opened = false;
  if (WriteWhole(target, text.str(), opened) != 0) {
    const std::string unwritable = UnwritableOutput(entry);
    if (!unwritable.empty()) Fail(log, unwritable, kOutputRefused);
    Fail(log, "error opening " + table + " for writing the waterlevel-volume-relation to disk.", 225);
  }
}

double SP_class::InterpolateForward(double v) const { return lake ? Interpolate(volumes, levels, v) : 0.0; }

double SP_class::InterpolateBackward(double w) const { return lake ? Interpolate(levels, volumes, w) : 0.0; }

int SP_class::UpdateLakeLevel(double v) {
  if (!lake) return 0;
  const LakeGrids& g = c_.grids;
  W = InterpolateForward(v);
  const size_t boxCells = static_cast<size_t>(lastRow - firstRow + 1) * static_cast<size_t>(lastCol - firstCol + 1);
  if (drawnOn_.size() != boxCells) drawnOn_.assign(boxCells, 0);
  // The level comes from the table by linear interpolation, so where a cell's ground lies
  // inside a table step the depths below that level hold a little more or less than the
  // volume (nearly all of it for a lake that is almost empty). The volume is the lake's
  // state and evapotranspiration draws on the depths: they are scaled to hold it exactly.
  // Water too shallow to lift the level above any ground lies on the lowest cell.
  const double c2 = c_.geometry.cellsize * c_.geometry.cellsize;
  const double want = v > 0.0 ? v / c2 * 1000.0 : 0.0;  // mm summed over the cells
  const double held = HeldBelow(W);                      // m summed over the cells
  // Locals: the byte stores into drawnOn_ may alias anything the loop reads through members.
  const double w = W, code = number, perMetre = held > 0.0 ? want / held : 0.0;
  const int tracers = std::min(c_.tracers, static_cast<int>(g.tracers.size()));
  unsigned char* drawn = drawnOn_.data();
  int flooded = 0;
  for (int r = firstRow; r <= lastRow; ++r) {
    const double* codes = g.lakeCodes[r];
    const double* dem = g.dem[r];
    double* pond = g.ponding[r];
    for (int c = firstCol; c <= lastCol; ++c, ++drawn) {
      if (codes[c] != code) continue;
      const bool wet = w > dem[c];
      const double depth = wet ? (w - dem[c]) * perMetre : 0.0;
      pond[c] = depth;
      *drawn = depth > kLakeEvaporationDepth;
      for (int k = 1; k <= tracers; ++k)
        if (g.tracers[k - 1]) g.tracers[k - 1][r][c] = wet ? state[k] : 0.0;
      flooded += wet;
    }
  }
  if (!(held > 0.0) && want > 0.0 && lastRow >= firstRow) {
    const int r = lowestRow_, c = lowestCol_;
    g.ponding[r][c] = want;
    drawnOn_[static_cast<size_t>(r - firstRow) * static_cast<size_t>(lastCol - firstCol + 1) + (c - firstCol)] =
        want > kLakeEvaporationDepth;
    for (int k = 1; k <= tracers; ++k)
      if (g.tracers[k - 1]) g.tracers[k - 1][r][c] = state[k];
    ++flooded;
  }
  return flooded;
}

double SP_class::HeldBelow(double level) const {
  // k: the number of cells whose ground lies below the level.
  const size_t k = static_cast<size_t>(std::lower_bound(ground_.begin(), ground_.end(), level) - ground_.begin());
  if (k == 0) return 0.0;
  return heldAtGround_[k - 1] + static_cast<double>(k) * (level - ground_[k - 1]);
}

int SP_class::SumLakeCells(std::vector<double>& out) const {
  out.assign(c_.tracers + 1, 0.0);
  if (!lake) return 0;
  const LakeGrids& g = c_.grids;
  const double c2 = c_.geometry.cellsize * c_.geometry.cellsize;
  int wet = 0;
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = firstCol; c <= lastCol; ++c) {
      if (g.lakeCodes[r][c] != number || !(g.ponding[r][c] > 0.0)) continue;
      const double v = g.ponding[r][c] / 1000.0 * c2;
      out[0] += v;
      for (int k = 1; k <= c_.tracers && k <= static_cast<int>(g.tracers.size()); ++k)
        if (g.tracers[k - 1]) out[k] += v * g.tracers[k - 1][r][c];
      ++wet;
    }
  for (int k = 1; k <= c_.tracers; ++k) out[k] = out[0] > 0.0 ? out[k] / out[0] : 0.0;
  return wet;
}

void SP_class::SumLakeCellTracers() {
  if (!lake) return;
  const LakeGrids& g = c_.grids;
  const double c2 = c_.geometry.cellsize * c_.geometry.cellsize;
  std::fill(state.begin(), state.end(), 0.0);
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = firstCol; c <= lastCol; ++c) {
      if (g.lakeCodes[r][c] != number || !(g.ponding[r][c] > 0.0)) continue;
      state[0] += g.ponding[r][c] / 1000.0 * c2;
      for (int k = 1; k <= c_.tracers && k <= static_cast<int>(g.tracers.size()); ++k)
        if (g.tracers[k - 1]) state[k] += g.tracers[k - 1][r][c];
    }
  for (int k = 1; k <= c_.tracers; ++k) state[k] = state[0] > 0.0 ? state[k] / state[0] : 0.0;
}
