// The state of the dynamic phenology that its grids do not hold, carried from one run to the
// next per land-use layer: the rule each row follows (that of DynamicPhenology_1 until its
// dormancy day, or its own) and each cell's fix-day list, in which the phenology marks the
// start and the leaf fall. At its end a run keeps them as one stack per layer beside the
// file of "Pheno_start<k>" ("<file name>_End"); a run that reads "Pheno_start<k>" from its
// file starts from that stack, so that a chain of runs marks its cells as one run would.
#include <string>

#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "init/defaultini.h"

namespace {

// Level 0 of the stack: the rule of the cell's row.
constexpr double kFirstRule = 1.0, kOwnRule = 0.0;

// The highest level of a layer's stack: the rule, then the list L[0..n].
int TopLevel(const LanduseParameterGrids& g) { return g.maxFixPoints + 1; }

bool FollowsARule(const LanduseTableEntry* row) { return row && (row->method == 4 || row->method == 6); }
bool HasAList(const LanduseParameterGrids& g, const LanduseTableEntry* row) {
  return g.perCell && row && (row->method == 5 || row->method == 6);
}

const std::string& StartGridFile(const defaultini& d, const LanduseParameterGrids& g, int k) {
  static const std::string none;
  const int p = k < static_cast<int>(g.startPositions.size()) ? g.startPositions[k] : 0;
  return p > 0 ? d.grids[p].fileName : none;
}

// Takes the stack of layer k into the cells' lists and notes the rules its cells' rows
// followed (ownRule: one cell of the row followed its own).
void TakeLayerState(defaultini& d, LanduseParameterGrids& g, int k, double*** stack, const std::string& path,
                    std::vector<char>& ruleSeen, std::vector<char>& ownRule) {
  const double nodata = d.geometry.nodata_value;
  const int n = g.maxFixPoints;
  for (int i = 1; i <= d.geometry.nrows; ++i)
    for (int j = 1; j <= d.geometry.ncols; ++j) {
      if (!d.zoneGrid || !(d.zoneGrid[i][j] > nodata)) continue;
      const LanduseTableEntry* row = d.LanduseRowAt(k, i, j);
      const double rule = stack[i][j][0];
      if (FollowsARule(row) && rule > nodata) {
        if (rule != kFirstRule && rule != kOwnRule) {
          if (d.log)
            *d.log << "FATAL: " << path << " holds " << rule << " at level 0 of row " << i << ", column " << j
                   << ", where the phenology state of land-use layer " << k << " keeps the rule the cell's row "
                   << "follows: 1 (that of DynamicPhenology_1 until its dormancy day) or 0 (its own)" << "[end-entry]";
          throw 22;
        }
        const size_t r = static_cast<size_t>(row - d.landuseTable.data());
        ruleSeen[r] = 1;
        if (rule == kOwnRule) ownRule[r] = 1;
      }
      // A cell whose list the stack holds (it had a row of such a list then) goes on with it.
      if (HasAList(g, row) && stack[i][j][1] > nodata)
        for (int e = 0; e <= n; ++e) g.fixDays[k][i][j][e] = stack[i][j][e + 1];
    }
}

// The file a grid of the run is read from and written to (empty: no such grid).
std::string GridFile(const defaultini& d, const std::string& grid) {
  const int p = d.FindGrid(grid);
  return p > 0 ? d.grids[p].fileName : std::string();
}

// Layer k's phenology state is not read at this warm start ("Pheno_start<k>" is not read
// from its file): where the record of the storage file read lists the layer's stack or its
// start grid, the run before kept them, and a WARNING names the layer, its grids and the
// lines that declare them.
void NoteLayerStateNotRead(const defaultini& d, const LanduseParameterGrids& g, int k) {
  const std::string& start = StartGridFile(d, g, k);
  if (start.empty()) return;
  bool dormancy = false;
  for (size_t r = 1; r < d.landuseTable.size(); ++r) dormancy = dormancy || FollowsARule(&d.landuseTable[r]);
  const std::string layer = std::to_string(k);
  // Each grid with the value a cell starts from (-1: set from the row).
  std::vector<std::pair<std::string, const char*>> grids = {{"Pheno_start" + layer, "-1"},
                                                             {"SumOfForcingUnits" + layer, "0"}};
  if (dormancy) {
    grids.emplace_back("SumOfChillingUnits" + layer, "-1");
    grids.emplace_back("FStar_ForcingThreshold" + layer, "-1");
  }
  std::string lines;
  for (const auto& grid : grids) {
    const std::string file = GridFile(d, grid.first);
    lines += (lines.empty() ? "\"" : ", \"") + (file.empty() ? grid.first + ".asc" : file) + " " + grid.first +
             " 0 " + grid.second + "\"";
  }
  const std::string why =
      "land-use layer " + layer + " keeps its phenology only in grids this run does not read (Pheno_start" + layer +
      " is no variable grid read with read flag 1), so its cells start anew: not started, with a forcing sum of 0 "
      "and the fix days of JulDays, where the run before went on from its own. Declare the layer's grids in "
      "[variable_grids], each line followed by its write code 3 and read flag 1, in the run that writes the state "
      "and in the one that reads it: " + lines;
  NoteStateFileNotRead(MakePath(d.output.inputDirectory, start + "_End"), why);
  NoteStateFileNotRead(MakePath(d.output.inputDirectory, start), why);
}

}  // namespace

void RestoreLayerPhenologyState(defaultini& d, LanduseParameterGrids& g) {
  g.ruleRead.assign(d.landuseTable.size(), 0);
  g.layerReadKeys.assign(static_cast<size_t>(g.layers) + 1, nullptr);
  if (!g.keepsLayerState) {
    // Rows of DynamicPhenology_1 keep their layer's state in its grids alone.
    for (int k = 1; k <= g.layers; ++k)
      if (k >= static_cast<int>(g.startRead.size()) || !g.startRead[k]) NoteLayerStateNotRead(d, g, k);
    return;
  }
  std::vector<char> ruleSeen(d.landuseTable.size(), 0), ownRule(d.landuseTable.size(), 0);
  for (int k = 1; k <= g.layers; ++k) {
    if (k >= static_cast<int>(g.startRead.size()) || !g.startRead[k]) {
      NoteLayerStateNotRead(d, g, k);
      continue;
    }
    const std::string file = StartGridFile(d, g, k) + "_End";
    const std::string path = MakePath(d.output.inputDirectory, file);
    HeldStack stack(d);
    if (!d.ReadStateStack(file, "phenology state", BesideGrid("Pheno_start" + std::to_string(k), StartGridFile(d, g, k)),
                          "the fix days of land-use layer " + std::to_string(k) +
                              " start from JulDays and the starts read, and its rows of DynamicPhenology_2 and _4 "
                              "follow the rule of DynamicPhenology_1 until their dormancy day unless the chilling "
                              "sum read holds a value",
                          stack))
      continue;
    g.layerReadKeys[k] = stack.levels;  // the state ReadStack ties the file to
    const int levels = stack.top;
    if (levels != TopLevel(g)) {
      if (d.log)
        *d.log << "FATAL: " << path << " holds " << levels + 1 << " levels; the phenology state of land-use layer "
               << k << " is a stack of " << TopLevel(g) + 1 << " (0: the rule each cell's row follows, 1.."
               << TopLevel(g) << ": the cell's fix days, " << g.maxFixPoints << " being the most JulDays of a row of "
               << "[landuse_table]): it was written for a table of other fix days" << "[end-entry]";
      throw 22;
    }
    d.RefuseImpossibleLevels(stack.levels, 0, levels, file, "phenology state", StateRange::Finite());
    TakeLayerState(d, g, k, stack.levels, path, ruleSeen, ownRule);
  }
  for (size_t r = 1; r < d.landuseTable.size(); ++r) {
    if (!ruleSeen[r]) continue;
    d.landuseTable[r].SetDynamicStartSet(!ownRule[r]);
    g.ruleRead[r] = 1;
  }
}

void WriteLayerPhenologyState(defaultini& d) {
  LanduseParameterGrids& g = d.landuseGrids;
  if (!g.keepsLayerState || !d.grids) return;
  const double nodata = d.geometry.nodata_value;
  const int top = TopLevel(g), n = g.maxFixPoints;
  for (int k = 1; k <= g.layers; ++k) {
    const std::string& file = StartGridFile(d, g, k);
    if (file.empty()) continue;
    HeldStack stack(d);
    stack.levels = d.d3_matrix(1, d.geometry.nrows, 1, d.geometry.ncols, top);
    stack.top = top;
    for (int i = 1; i <= d.geometry.nrows; ++i)
      for (int j = 1; j <= d.geometry.ncols; ++j) {
        double* levels = stack.levels[i][j];
        for (int l = 0; l <= top; ++l) levels[l] = nodata;
        if (!d.zoneGrid || !(d.zoneGrid[i][j] > nodata)) continue;
        const LanduseTableEntry* row = d.LanduseRowAt(k, i, j);
        if (FollowsARule(row)) levels[0] = row->GetDynamicStartSet() ? kFirstRule : kOwnRule;
        if (HasAList(g, row) && k < static_cast<int>(g.fixDays.size()) && g.fixDays[k])
          for (int e = 0; e <= n; ++e) levels[e + 1] = g.fixDays[k][i][j][e];
      }
    d.WriteStateStack(file + "_End", stack);
  }
}

std::vector<std::pair<std::string, const void*>> LayerPhenologyStateFiles(const defaultini& d) {
  std::vector<std::pair<std::string, const void*>> files;
  const LanduseParameterGrids& g = d.landuseGrids;
  if (!g.keepsLayerState || !d.grids) return files;
  for (int k = 1; k <= g.layers; ++k)
    if (!StartGridFile(d, g, k).empty())
      files.emplace_back(StartGridFile(d, g, k) + "_End",
                         k < static_cast<int>(g.layerReadKeys.size()) ? g.layerReadKeys[k] : nullptr);
  return files;
}
