// Construction of the glaciers: the section [ice_firn] with its global or per-sub-basin
// parameters, the checks of the glacier grids, the glacier grids and the glacier share of
// every sub-basin.
#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/logstream.h"
#include "framework/value_checks.h"
#include "grids/grid_codes.h"
#include "grids/grid_registry.h"
#include "processes/snow/snowmod.h"
#include "processes/soil/soil_parameters.h"
#include "processes/glacier_share.h"

namespace {

const char* const kDynamicHeading = "FATAL: \n------------- Fatal Error: -------------\n";
const char* const kIceFirn = "[ice_firn]";

bool Valid(double v, double nodata) { return v != nodata && std::isfinite(v); }

constexpr int kMaxFirnLevels = 1000;

// A line of [ice_firn] whose numbers are each a word of their own.
TextCursor NumberLine(const std::string& line) {
  TextCursor c(line);
  c.RequireWholeNumbers();
  return c;
}

// The glacier fraction of a cell is its value limited to 0..1: above 1 it counts as 1,
// below 0 as 0. The grid "GlacierizedCells" is limited once as the snow model takes it, so
// that the snow model, the glacier update and the modules that read the grid all take the
// same fractions; one WARNING names the grid, how many cells of the basin lay outside and
// the first of them, its value with every digit that puts it outside. Every value outside
// is limited, however close: a fraction of -1e-9 would give its glacier a negative area. A
// value that is no finite number is refused.
void LimitGlacierFractions(const modelobject& o, const char* name) {
  o.RefuseImpossibleCells(name, StateRange::Finite());
  const int p = o.FindGrid(name);
  double** fraction = p > 0 ? o.grids[p].data : nullptr;
  if (!fraction) return;
  double** zones = o.grids[1].registered ? o.grids[1].data : nullptr;
  const double nodata = o.geometry.nodata_value;
  long above = 0, below = 0;
  int firstRow = 0, firstColumn = 0;
  double firstValue = 0.0;
  for (int r = 1; r <= o.geometry.nrows; ++r)
    for (int c = 1; c <= o.geometry.ncols; ++c) {
      double& v = fraction[r][c];
      if ((zones && !(zones[r][c] > nodata)) || !(v > nodata)) continue;
      const bool high = v > 1.0, low = v < 0.0;
      if (!high && !low) continue;
      if (above + below == 0) {
        firstRow = r;
        firstColumn = c;
        firstValue = v;
      }
      ++(high ? above : below);
      v = high ? 1.0 : 0.0;
    }
  if (above + below == 0 || !o.log) return;
  *o.log << "WARNING: " << name << " (" << o.grids[p].fileName << ") holds a glacier fraction outside 0..1 in "
         << above + below << " cells of the basin (the first at row " << firstRow << ", column " << firstColumn
         << ": " << ExactNumberText(firstValue) << "): " << above << " above 1 count as 1, " << below << " below 0 as 0"
         << "[end-entry]";
}

// After a failed read of such a line: what it held that is no number of its kind.
std::string Refused(const TextCursor& c) {
  const std::string word = c.RefusedNumber();
  return word.empty() ? std::string()
                      : "\n(" + NoNumberText(word, " is not a number of the kind expected there") + ")";
}

}  // namespace

void schneemodellklasse::ReadIceFirn() {
  if (!OpenControlFile()) {
    *log << "FATAL: error opening " << controlFileName << "[end-entry]";
    throw 28;
  }
  if (!SeekControlKey("[ice_firn]", false)) {
    std::string asking;
    for (const char* grid : {"ice_firn", "GlacierizedCells"}) {
      const int p = FindGrid(grid);
      if (p > 0) asking += std::string(asking.empty() ? "the " : " and the ") + grid + " grid (" + grids[p].fileName + ")";
    }
    ControlFileKeyError("[ice_firn]", "(EOF)",
                        asking + " of the basin asks for the glacier section [ice_firn] (its Glacier-Method, melt "
                                 "parameters and glacier outputs): add the section, or leave the glacier grid out");
  }
  // Read as a word, so that a number no int holds (or no number) is named as what it is.
  std::string word;
  ReadControlValue(word, "Glacier-Method for ");
  long method = 0;
  if (!ParseLong(word, method)) method = 0;
  glacierPerSubbasin = method > 100 ? 1 : 0;
  const long base = method > 100 ? method - 100 : method;
  if (base != 1 && base != 2 && (base < 11 || base > 13)) {
    *log << "FATAL: \n-----------Fatal Error:----------\nMethod for glacier melt must be 1(resp 11 for dynamic model; "
            "t-index)\n or 2 (resp. 12 for dynamic model; t-index with correction by radiation) or 13 (dynamic "
            "glaciers with T-Index for ice and firn and the melt method used for snow as in the snow model)\n"
         << "(Glacier-Method in [ice_firn] of " << ShownControlFile() << " is " << word
         << "; 100 more selects one row of values per sub-basin)" << "[end-entry]";
    throw 80;
  }
  glacierMethod = static_cast<int>(base);
  glacierDebris = Registered("debris_on_glaciers");
  if (glacierMethod <= 2) {
    glacierFraction = grids[RequireGrid("ice_firn")].data;
    CheckGlacierCodes();
  } else {
    wholeDomain = true;
    glacierFraction = grids[RequireGrid("GlacierizedCells")].data;
    LimitGlacierFractions(*this, "GlacierizedCells");
    glacierCodes = grids[RequireGrid("GlacierCodes")].data;
    CheckDynamicGrids();
  }
  glaciers = GlacierCellsOf(*this, DynamicGlaciers());
  // The other glacier grid, where the basin lists it too, is no module's.
  const char* const unread = DynamicGlaciers() ? "ice_firn" : "GlacierizedCells";
  if (const int p = FindGrid(unread); p > 0)
    *log << "INFO: " << unread << " (" << grids[p].fileName << ") is not read: with Glacier-Method " << glacierMethod
         << " every module takes the glacier cells from "
         << (DynamicGlaciers() ? "the fractions of GlacierizedCells" : "the codes of ice_firn") << "[end-entry]";

  ReadGlacierParameters();
  ReadGridName(gridNames[kMeltFirn], "name of the firn grid for ", "write code for firn grid for ");
  ReadStat(glacierStatNames[gFirn], "name of the qfirn-statistic-file for ");
  ReadGridName(gridNames[kMeltIce], "name of the ice grid for ", "write code for ice grid for ");
  ReadStat(glacierStatNames[gIce], "name of the qice-statistic-file for ");
  ReadStat(glacierStatNames[gTotal], "name of the qglac-statistic-file for ");
  if (glacierMethod <= 2) {
    // A name without "." gets "_qsgl_" at its end instead of failing.
    glacierStatNames[gSnowOnIce].file = glacier::SnowOnIceFileName(glacierStatNames[gTotal].file);
    glacierStatNames[gSnowOnIce].code = glacierStatNames[gTotal].code;
  } else {
    ReadDynamicSettings();
  }
  CloseControlFile();
  CheckGlacierParameters();

  for (size_t i = 1; i < glacierParams.size(); ++i) glacier::DeriveSeasonalFactors(glacierParams[i]);
  if (glacierMethod == 2 || glacierMethod == 12 || glacierMethod == 13)
    glacierRadiation = grids[RequireOneOf3Grids("global_radiation", "Ieff_max", "ungueltiger_Name")].data;

}

// "ice_firn" gives each cell as a whole: a value between the codes (0.5 for half a cell of
// ice) is a glacier fraction, which the static glaciers cannot take (the dynamic ones take
// fractions from "GlacierizedCells"). Every whole number other than the two codes (0, a
// rasterizer's background, included) is a cell without glacier.
void schneemodellklasse::CheckGlacierCodes() {
  RefuseImpossibleCells("ice_firn", StateRange::Finite());
  const int p = FindGrid("ice_firn");
  double** zones = grids[1].registered ? grids[1].data : nullptr;
  const double nodata = geometry.nodata_value;
  long ice = 0, firn = 0, none = 0, fractions = 0;
  int firstRow = 0, firstColumn = 0;
  double firstValue = 0.0;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (zones && !(zones[r][c] > nodata)) continue;
      const double v = glacierFraction[r][c];
      if (v == GlacierCells::kIce) {
        ++ice;
      } else if (v == GlacierCells::kFirn) {
        ++firn;
      } else if (v > nodata && v != std::floor(v)) {
        if (fractions++ == 0) {
          firstRow = r;
          firstColumn = c;
          firstValue = v;
        }
      } else {
        ++none;
      }
    }
  if (fractions > 0) {
    *log << "FATAL: ice_firn (" << grids[p].fileName << ") holds glacier codes, 1 for a cell of ice and 2 for a "
         << "cell of firn (no glacier otherwise), but " << fractions
         << (fractions == 1 ? " cell of the basin holds" : " cells of the basin hold") << " a value that is no "
         << "whole number (the first at " << CellPlace(geometry, firstRow, firstColumn) << ": "
         << ExactNumberText(firstValue) << "). Write 1 or 2 where a cell is glacier; glacier fractions of a cell "
         << "are read from a GlacierizedCells grid by the dynamic glaciers (Glacier-Method 11 to 13 in [ice_firn] of "
         << ShownControlFile() << ")" << "[end-entry]";
    throw 80;
  }
  *log << "INFO: ice_firn (" << grids[p].fileName << ") holds the glacier codes of the basin's cells: " << ice
       << " of ice (1), " << firn << " of firn (2), " << none << " without glacier (no-data, 0 or another value)"
       << "[end-entry]";
}

void schneemodellklasse::CheckDynamicGrids() {
  const double nodata = geometry.nodata_value;
  bool anyGlacier = false, anyCode = false;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      const double g = glacierFraction[r][c];
      const double code = glacierCodes[r][c];
      if (Valid(g, nodata) && g > 0.0) {
        anyGlacier = true;
        if (!Valid(code, nodata) || code != std::floor(code)) {
          *log << "FATAL: \n-----------Fatal Error:----------\nThere is a cell in the GlacierizedCells-grid having no "
                  "valid value in \n"
               << "GlacierCodes" << " (must be an integer ID for each separate glacier) at row " << r << " and col "
               << c << "[end-entry]";
          throw 80;
        }
      }
      const bool inside = subbasinGrid && Valid(subbasinGrid[r][c], nodata);
      // The update takes a glacier's code as an int: a code no int holds names no glacier.
      if (inside && code != nodata && !(std::isfinite(code) && code <= 2147483647.0)) {
        *log << "FATAL: \n-----------Fatal Error:----------\nThe GlacierCodes grid holds " << code << " at row " << r
             << " and col " << c << "; a glacier code is a whole number from 1 to 2147483647 (-1: a cell to join or "
             << "start a glacier)" << "[end-entry]";
        throw 80;
      }
      if (inside && Valid(code, nodata) && code > 0.0) anyCode = true;
    }
  if (!anyGlacier) {
    *log << "FATAL: \n-----------Fatal Error:----------\nThere are no glacierized cells in GlacierizedCells-grid (all "
            "nodata or equal to 0)!"
         << "[end-entry]";
    throw 80;
  }
  if (!anyCode) {
    *log << "FATAL: \n----------- Fatal Error: ----------\nThe " << "GlacierCodes" << " grid ("
         << FindGrid("GlacierCodes") << ")contains nodata values only. \n"
         << "Dynamic glacier modelling will not be possible without \n"
         << "distinct glacier codes for each glacier" << "[end-entry]";
    throw 80;
  }
}

void schneemodellklasse::ReadGlacierParameters() {
  const int n = subbasinCount;
  glacierParams.assign(static_cast<size_t>(n) + 1, glacier::SubbasinParameters());
  if (glacierPerSubbasin) {
    std::vector<int> codes(static_cast<size_t>(n) + 1, 0);
    for (int i = 1; i <= n && static_cast<size_t>(i) < subbasinTable.size(); ++i)
      codes[static_cast<size_t>(i)] = subbasinTable[static_cast<size_t>(i)].code;
    SubbasinTableContext context;
    context.codeMap = &subbasinCodeMap;
    context.codes = &codes;
    context.largestCode = largestSubbasinCode;
    context.moduleName = name;
    context.controlFileName = ShownControlFile();
    context.log = log;
    const std::vector<bool> column = ReadSubbasinColumns(controlFile, context);
    for (int row = 0; row < glacier::kTableRows; ++row) {
      for (int i = 1; i <= n; ++i) {
        double& v = glacier::Row(glacierParams[static_cast<size_t>(i)], row);
        if (!column[static_cast<size_t>(i)]) {
          v = glacier::Row(glacierParams[static_cast<size_t>(i) - 1], row);
          continue;
        }
        if (!controlFile.ReadDouble(v) || !std::isfinite(v)) {
          *log << "FATAL: \n-----------------error------------\nerror reading kelsqd[" << codes[static_cast<size_t>(i)]
               << "] for " << name << SubbasinGroupHelpText() << "[end-entry]";
          throw 10;
        }
      }
      controlFile.RestOfLine();
    }
  } else {
    glacier::SubbasinParameters global;
    for (int row = 0; row < glacier::kParameterRows; ++row)
      ReadControlValue(glacier::Row(global, row), glacier::RowLabel(row));
    for (int i = 1; i <= n; ++i) glacierParams[static_cast<size_t>(i)] = global;
  }
}

void schneemodellklasse::CheckGlacierParameters() {
  // Melt factors, radiation factors, initial outflows and storage constants are never
  // negative. A storage constant of 0 hours is no storage: its recession exp(-dt/k) is 0 and
  // the melt leaves in its own step; a negative constant would make the storage grow
  // without end.
  for (int i = 1; i < static_cast<int>(glacierParams.size()); ++i) {
    glacier::SubbasinParameters& p = glacierParams[static_cast<size_t>(i)];
    const int code = static_cast<size_t>(i) < subbasinTable.size() ? subbasinTable[static_cast<size_t>(i)].code : i;
    auto key = [&](int row) {
      return std::string(glacier::RowName(row)) + (glacierPerSubbasin ? " of sub-basin " + std::to_string(code) : "");
    };
    for (int row = 0; row < glacier::kTableRows; ++row) {
      const double v = glacier::Row(p, row);
      const bool storageConstant = row >= 8 && row <= 10;
      if (row < glacier::kParameterRows && !(v >= 0.0))
        RefuseValue(*this, kIceFirn, key(row), v,
                    storageConstant ? "it must be 0 hours (no storage) or more" : "it must be 0 or more", 80);
    }
    WarnIf(p.Aice_min > p.Aice_max, *this, kIceFirn, key(4), p.Aice_min, "above Aice_max: the seasonal cycle turns over");
    WarnIf(p.Asnow_min > p.Asnow_max, *this, kIceFirn, key(6), p.Asnow_min,
           "above Asnow_max: the seasonal cycle turns over");
    WarnIf(p.deltafirnper100m < 0.0, *this, kIceFirn, key(15), p.deltafirnper100m,
           "so that firn thins upwards (cells below firn_base get firn)");
    if (!glacierPerSubbasin) break;  // the same values in every sub-basin
  }
}

void schneemodellklasse::ReadDynamicSettings() {
  ReadStat(glacierStatNames[gSnowOnIce], "name of the qSnowOnGlac-statistic-file for ");
  ReadControlValue(glacierReadGrids, "read grid parameter for glacier model ");

  std::string line;
  if (!controlFile.ReadLine(line)) line.clear();
  TextCursor firn = NumberLine(line);
  double base = 0.0, delta = 0.0;
  if (!firn.ReadInt(firnLevels) || !firn.ReadDouble(base) || !firn.ReadDouble(delta)) {
    *log << kDynamicHeading << "Could not read the three parameters firn_levels (int),\n"
         << "firn_base (double), and deltafirnper100m (double)  \n" << "for dynamic glacier modelling " << Refused(firn)
         << "[end-entry]";
    throw 80;
  }
  glacierParams[0].firn_base = base;
  glacierParams[0].deltafirnper100m = delta;
  if (!glacierPerSubbasin)
    for (auto& p : glacierParams) {
      p.firn_base = base;
      p.deltafirnper100m = delta;
    }

  if (!controlFile.ReadLine(line)) line.clear();
  TextCursor date = NumberLine(line);
  if (!date.ReadInt(GMBEvalDay) || !date.ReadInt(GMBEvalMonth)) {
    *log << kDynamicHeading << "Could not read the two parameters GMBEvalDay (int 1...31)\n"
         << "and GMBEvalMonth (int 1..12) for dynamic glacier modelling " << Refused(date) << "[end-entry]";
    throw 80;
  }
  if (!glacier::ValidDayMonth(GMBEvalDay, GMBEvalMonth)) {
    if (glacier::ValidDayMonth(GMBEvalMonth, GMBEvalDay))
      *log << "WARNING: the evaluation date of the glacier mass balance in [ice_firn] of " << ShownControlFile()
           << " reads " << GMBEvalDay << " " << GMBEvalMonth << "; the line holds the day first and then the month ("
           << GMBEvalMonth << " " << GMBEvalDay << " would be a date)" << "[end-entry]";
    *log << kDynamicHeading << "the evaluation date GMBEvalDay " << GMBEvalDay << " and GMBEvalMonth " << GMBEvalMonth
         << " in [ice_firn] of " << ShownControlFile() << " is not a date (day 1...31, month 1..12)" << "[end-entry]";
    throw 80;
  }

  if (!controlFile.ReadLine(line)) line.clear();
  TextCursor va = NumberLine(line);
  if (!va.ReadDouble(VAscaling) || !va.ReadDouble(VAexponent) || !va.ReadInt(numElevBands) ||
      !va.ReadInt(extraWeightFactorBand0)) {
    *log << kDynamicHeading
         << "Could not read the four parameters VAscaling, VAexponent, numElevBands and extraWeightFactorBand0\n"
         << "for Volume-Area-Relation in dynamic glacier modelling " << Refused(va) << "[end-entry]";
    throw 80;
  }
  if (!(VAscaling > 0.0) || !(VAexponent > 0.0) || !std::isfinite(VAscaling) || !std::isfinite(VAexponent) ||
      extraWeightFactorBand0 < 0) {
    *log << kDynamicHeading << "the volume-area relation in [ice_firn] of " << ShownControlFile()
         << " needs VAscaling > 0 and VAexponent > 0 and an extraWeightFactorBand0 of 0 or more (read: " << VAscaling
         << ", " << VAexponent << ", " << extraWeightFactorBand0 << ")" << "[end-entry]";
    throw 80;
  }

  CheckElevationBands();

  ReadGridName(gridNames[kFirnTotal], "name of the firn stack for ", "write code for the firn stack in ");
  ReadStat(glacierStatNames[gFirnWE], "name of the firn-statistic-file for ");
  ReadGridName(gridNames[kMassBalance], "name of the glacier mass balance grid for ",
               "write code for glacier mass balance grid in ");
  ReadGridName(gridNames[kOldMassBalance], "name of the glacier mass balance grid (old reference) for ",
               "write code for glacier mass balance grid (old reference) in ");
  ReadStat(glacierStatNames[gBalance1], "name of the glacier mass balance statistics file (1) for ");
  ReadStat(glacierStatNames[gBalance2], "name of the glacier mass balance statistics file (2) for ");
  ReadControlValue(debrisScaling,
                   "global debris scaling factor (requirede when using a debris_on_glaciers grid) ");
  ReadStat(glacierStatNames[gSnowOnGlacier], "name of the snow statistics for snow on glacier for ");
  static const char* const kPairs[7][2] = {
      {"name of the snow storage grid (solid fraction of WE, glacierized fraction of cell) for ",
       "write code for snow storage grid (solid fraction of WE, glacierized fraction of cell) in "},
      {"name of the snow storage grid (liquid fraction of WE, glacierized fraction of cell) for ",
       "write code for snow storage grid (liquid fraction of WE, glacierized fraction of cell) in "},
      {"name of the snow storage grid (total on glacierized fraction of cell) for ",
       "write code for snow storage grid (total on glacierized fraction of cell) in "},
      {"name of the snow snow melt grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow melt grid (incl. rain, total on glacierized fraction of cell) in "},
      {"name of the snow surface temperature grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow surface temperature  (incl. rain, total on glacierized fraction of cell) in "},
      {"name of the snow temperature grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow temperature grid (incl. rain, total on glacierized fraction of cell) in "},
      {"name of the snow evaporation grid (incl. rain, total on glacierized fraction of cell) for ",
       "write code for snow evaporation grid (incl. rain, total on glacierized fraction of cell) in "}};
  static const Grid kPairGrids[7] = {kSolidOnGlacier,    kLiquidOnGlacier,   kTotalOnGlacier,
                                     kSnowMeltOnGlacier, kSurfTempOnGlacier, kSnowTempOnGlacier,
                                     kSnowEvaporationOnGlacier};
  for (int k = 0; k < 7; ++k) ReadGridName(gridNames[kPairGrids[k]], kPairs[k][0], kPairs[k][1]);

  if (!(debrisScaling >= 0.0))
    RefuseValue(*this, kIceFirn, "the global debris scaling factor", debrisScaling, "it must be 0 or more", 80);

  // Optional: the settings of new glaciers. A line that gives them must give two numbers; a
  // value that is none ("nan") is refused rather than taken for a missing pair.
  if (!controlFile.ReadLine(line)) line.clear();
  TextCursor optional = NumberLine(line);
  double maxPack = 0.0, relSize = 0.0;
  const bool pair = optional.ReadDouble(maxPack) && optional.ReadDouble(relSize);
  if (!pair && !optional.RefusedNumber().empty()) {
    *log << kDynamicHeading << "the settings of new glaciers maxSnowPackToCreateGlacier and relSizeNewGlacier in "
         << "[ice_firn] of " << ShownControlFile() << " read \"" << line.substr(0, 80) << "\"" << Refused(optional)
         << "[end-entry]";
    throw 80;
  }
  if (pair) {
    maxSnowPackToCreateGlacier = maxPack;
    relSizeNewGlacier = relSize;
    if (!(maxPack >= 0.0)) RefuseValue(*this, kIceFirn, "maxSnowPackToCreateGlacier", maxPack, "it must be 0 or more", 80);
    RequireWithin(*this, kIceFirn, "relSizeNewGlacier", relSize, 0.0, 1.0, 80);
  } else {
    *log << "WARNING: \n------------- warning: -------------\n"
         << "Could not read the two optional parameters maxSnowPackToCreateGlacier (double),\n"
         << "and relSizeNewGlacier (double) for dynamic glacier modelling that will be used for creating new "
            "glaciers\n"
         << "Setting default values of 1000 and 0.25, i.e. 1000 mm SWE will rmain on a cell that is partly "
            "glacierized already, the rest is put into the glacier.\n"
         << "For cells with no existing glacier, the amount > 1000 will be used to create a glacier that "
            "encompasses 25% of the cell"
         << "[end-entry]";
  }
}

void schneemodellklasse::CheckElevationBands() {
  // A band narrower than a metre of the basin's elevations holds no cell of its own; more
  // bands only cost time (every sweep visits the bands below it).
  double** z = elevation ? elevation : grids[RequireGrid("[elevation_model]")].data;
  const double nodata = geometry.nodata_value;
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!subbasinGrid || !Valid(subbasinGrid[r][c], nodata) || !Valid(z[r][c], nodata)) continue;
      lowest = std::min(lowest, z[r][c]);
      highest = std::max(highest, z[r][c]);
    }
  const double span = highest >= lowest ? highest - lowest : 0.0;
  const double limit = std::max(1.0, std::ceil(span));
  if (numElevBands > limit) {
    *log << kDynamicHeading << "numElevBands in [ice_firn] of " << ShownControlFile() << " is " << numElevBands
         << "; the basin's elevations span " << span << " m, which hold at most " << limit
         << " bands of a metre or more" << "[end-entry]";
    throw 80;
  }
}

void schneemodellklasse::CreateGlacierGrids() {
  UseOrCreateGrid(kMeltFirn, "melt_from_firn", 0.0, false, 0.0);
  UseOrCreateGrid(kMeltIce, "melt_from_ice", 0.0, false, 0.0);
  if (DynamicGlaciers()) CreateDynamicGlacierGrids();
  UseOrCreateGrid(kSnowMeltOnGlacier, "SnowMelt_onGlacier", 0.0, false, 0.0);
  if (DynamicGlaciers()) {
    UseOrCreateGrid(kSnowEvaporationOnGlacier, "SnowEvaporation_onGlacier", 0.0, false, 0.0);
    BuildInventory();
  }
  const size_t n1 = static_cast<size_t>(subbasinCount) + 1;
  Qice.assign(n1, 0.0);
  Qfirn.assign(n1, 0.0);
  Qsnow.assign(n1, 0.0);
  for (size_t i = 1; i < n1; ++i) {
    Qice[i] = glacierParams[i].Qice_els;
    Qfirn[i] = glacierParams[i].Qfirn_els;
    Qsnow[i] = glacierParams[i].Qsnow_els;
  }
  CountGlacierShares();
}

void schneemodellklasse::CountGlacierShares() {
  const size_t n1 = static_cast<size_t>(subbasinCount) + 1;
  hasGlacier.assign(n1, 0);
  glacierSum.assign(n1, 0.0);
  freeSum.assign(n1, 0.0);
  glacierCellCount.assign(n1, 0.0);
  if (!glacierFraction || !subbasinGrid) return;
  const double nodata = geometry.nodata_value;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      const double code = subbasinGrid[r][c];
      if (!Valid(code, nodata) || code < 1.0 || code > largestSubbasinCode) continue;
      const int i = subbasinCodeMap[static_cast<size_t>(std::floor(code + 0.5))];
      if (i <= 0) continue;
      const double g = glaciers.Share(r, c);
      glacierSum[static_cast<size_t>(i)] += g;
      freeSum[static_cast<size_t>(i)] += 1.0 - g;
      glacierCellCount[static_cast<size_t>(i)] += 1.0;
      if (g > 0.0) hasGlacier[static_cast<size_t>(i)] = 1;
    }
  MarkGlacierStorages();
}

void schneemodellklasse::MarkGlacierStorages() {
  glacierStorages = hasGlacier;
  if (!glacierInventory) return;
  for (const auto& g : glacierInventory->Glaciers()) {
    const int code = g->subbasin;
    if (code < 1 || code > largestSubbasinCode) continue;
    const int i = subbasinCodeMap[static_cast<size_t>(code)];
    if (i > 0 && static_cast<size_t>(i) < glacierStorages.size()) glacierStorages[static_cast<size_t>(i)] = 1;
  }
}

void schneemodellklasse::RecountGlacierSharesKeepingStorages() {
  const size_t n1 = static_cast<size_t>(subbasinCount) + 1;
  std::vector<double> area(n1, 0.0);
  const std::vector<unsigned char> had = glacierStorages;
  for (size_t k = 1; k < n1 && k < had.size(); ++k) area[k] = GlacierStorageArea(k);
  CountGlacierShares();
  for (size_t k = 1; k < n1; ++k) {
    if (!glacierStorages[k]) continue;
    if (k >= had.size() || !had[k]) {
      Qice[k] = Qfirn[k] = Qsnow[k] = 0.0;
      continue;
    }
    const double now = GlacierStorageArea(k);
    if (now == area[k] || !(now > 0.0)) continue;
    const double f = area[k] / now;
    Qice[k] *= f;
    Qfirn[k] *= f;
    Qsnow[k] *= f;
  }
}

// --- dynamic glaciers ----------------------------------------------------------------------

void schneemodellklasse::CreateDynamicGlacierGrids() {
  const int read = glacierReadGrids == 1 ? 1 : 0;
  CreateFirnStack();
  UseOrCreateGrid(kMassBalance, "GlacierMassBalance", 0.0, true, 0.0, read);
  UseOrCreateGrid(kOldMassBalance, "OldGlacierMassBalance", 0.0, true, 0.0, read);
  if (read && gridOwned[kMassBalance] && gridOwned[kOldMassBalance]) {
    // A cell missing in one of the two files takes the other's value.
    const double nodata = geometry.nodata_value;
    double** mb = grid[kMassBalance];
    double** old = grid[kOldMassBalance];
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) {
        if (mb[r][c] == nodata && old[r][c] != nodata) mb[r][c] = old[r][c];
        if (old[r][c] == nodata && mb[r][c] != nodata) old[r][c] = mb[r][c];
      }
  }
  UseOrCreateGrid(kSolidOnGlacier, "SolidSnowStorage_onGlacier", 0.0, true, 0.0, read);
  UseOrCreateGrid(kLiquidOnGlacier, "LiquidSnowStorage_onGlacier", 0.0, true, 0.0, read);
  UseOrCreateGrid(kTotalOnGlacier, "TotalSnowStorage_onGlacier", 0.0, true, 0.0, read);
  if (snow::IsEnergyBalance(method)) {
    UseOrCreateGrid(kSurfTempOnGlacier, "surftemp_onGlacier", 0.0, true, snow::kMeltingPoint, read, 0);
    UseOrCreateGrid(kSnowTempOnGlacier, "snowtemp_onGlacier", 0.0, true, snow::kMeltingPoint, read, 0);
    gridNames[kEnergyBalanceOnGlacier].file = "EnergyBalance_onGlacier";
    UseOrCreateGrid(kEnergyBalanceOnGlacier, "EnergyBalance_onGlacier", 0.0, false, 0.0);
  }
  gridNames[kFractionOld].file = "GlacierizedCellsOld";
  gridNames[kCodesOld].file = "GlacierCodesOld";
  UseOrCreateGrid(kFractionOld, "GlacierizedCellsOld", 0.0, false, 0.0);
  UseOrCreateGrid(kCodesOld, "GlacierCodesOld", 0.0, false, 0.0);
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      grid[kFractionOld][r][c] = glacierFraction[r][c];
      grid[kCodesOld][r][c] = glacierCodes[r][c];
    }
}

void schneemodellklasse::CreateFirnStack() {
  const double nodata = geometry.nodata_value;
  const int rows = geometry.nrows, cols = geometry.ncols;
  if (glacierReadGrids == 1) {
    firnLevels = ReadStack(gridNames[kFirnTotal].file, firnStack, 0);
    firnStackOwned = true;
  } else {
    // Firn older than a thousand years is ice: no glacier has more levels (and each level
    // costs a grid).
    // A glacier without a firn level would have nowhere to put the firn it gains.
    if (firnLevels < 1 || firnLevels > kMaxFirnLevels) {
      *log << "FATAL: \n------------- Fatal Error: -------------\n" << "firn_levels in [ice_firn] of "
           << ShownControlFile() << " is " << firnLevels << "; it must be 1 to " << kMaxFirnLevels << "[end-entry]";
      throw 80;
    }
    firnStack = d3_matrix(1, rows, 1, cols, firnLevels);
    firnStackOwned = true;
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        double* layers = firnStack[r][c];
        const int k = SubbasinIndex(r, c);
        const double g = glacierFraction[r][c];
        if (k <= 0 || !(GlacierCells::ShareOfFraction(g, nodata) > 0.0)) {
          for (int l = 0; l <= firnLevels; ++l) layers[l] = nodata;
          continue;
        }
        const glacier::SubbasinParameters& p = glacierParams[static_cast<size_t>(k)];
        const double z = elevation ? elevation[r][c] : 0.0;
        const double level = std::max(0.0, (z - p.firn_base) * p.deltafirnper100m);
        for (int l = 1; l <= firnLevels; ++l) layers[l] = level;
        layers[0] = glacier::FirnSum(layers, firnLevels, nodata);
      }
  }
  double** total = matrix(1, rows, 1, cols);
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) total[r][c] = firnStack[r][c][0];
  if (glacierReadGrids == 1) {
    // Every level of the stack read is firn water, level 0 their total.
    try {
      RefuseImpossibleLevels(firnStack, 0, firnLevels, gridNames[kFirnTotal].file, "firn_WE_stack",
                             StateRange::Storage());
    } catch (int) {
      FreeMatrix(total);
      throw;
    }
  }
  const int p = FirstFreeGridPosition();
  if (p == 0) {
    FreeMatrix(total);
    *log << "FATAL: no free grid left for firn_WE_stack (max. " << 1000 << ")" << "[end-entry]";
    throw 12;
  }
  RegisterGrid(p, gridNames[kFirnTotal].file, total, firnStack, firnLevels, "firn_WE_stack",
               gridNames[kFirnTotal].writeCode, firstModuleRow, lastModuleRow);
  HoldStateRange(total, StateRange::Storage());  // every level, as a warm start reads them
  gridPosition[kFirnTotal] = p;
  grid[kFirnTotal] = total;
  gridOwned[kFirnTotal] = true;
}

void schneemodellklasse::BuildInventory() {
  GlacierGrids g;
  g.nrows = geometry.nrows;
  g.ncols = geometry.ncols;
  g.nodata = geometry.nodata_value;
  g.cellSize = geometry.cellsize;
  g.fraction = glacierFraction;
  g.code = glacierCodes;
  g.fractionOld = grid[kFractionOld];
  g.codeOld = grid[kCodesOld];
  g.massBalance = grid[kMassBalance];
  g.oldMassBalance = grid[kOldMassBalance];
  g.firnTotal = grid[kFirnTotal];
  g.firnStack = firnStack;
  g.firnLevels = firnLevels;
  g.elevation = elevation ? elevation : grids[RequireGrid("[elevation_model]")].data;
  g.subbasin = subbasinGrid;
  GlacierSettings s;
  s.c = VAscaling;
  s.gamma = VAexponent;
  s.bands = numElevBands;
  s.extraWeightBand0 = extraWeightFactorBand0;
  s.relSizeNewGlacier = relSizeNewGlacier;
  glacierInventory = std::make_unique<GlacierInventory>(g, s, log);
  glacierInventory->Build();
}

void schneemodellklasse::CreateGlacierStatistics(const ModuleInputs& in) {
  struct Writer {
    GlacierStat which;
    int decimals;
    const char* title;
    bool perSubbasin;
  };
  static const Writer kWriters[] = {
      {gFirn, 5, "glacier_melt_from_firn_areas__", true},
      {gIce, 5, "glacier_melt_from_ice_areas__", true},
      {gSnowOnIce, 5, "snow_melt_from_ice_areas__", true},
      {gTotal, 5, "glacier_melt_total(firn+ice)__", true},
      {gSnowOnGlacier, 3, "snow_storage_in_mm_WITHOUT_GLACIERS_", false},
      {gFirnWE, 4, "WE_in_firn_[mm_per_subbasin]", true},
      {gBalance1, 5, "glacier_mass_balance_[mm_per_subbasin]", true},
      {gBalance2, 5, "glacier_mass_balance_[mm_GlacierPartOfSubbasin]", true},
  };
  for (const Writer& w : kWriters) {
    if (!DynamicGlaciers() && (w.which == gSnowOnGlacier || w.which >= gFirnWE)) continue;
    glacierStatistics[w.which] = MakeWriter(glacierStatNames[w.which], w.decimals, w.title, in, w.perSubbasin,
                                            glacierStatisticsZones[w.which]);
  }
}
