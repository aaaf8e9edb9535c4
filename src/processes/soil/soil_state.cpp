// The soil model's part of the storage file: the sub-basin parameters (checked at a warm
// start), the water in transit in the travel-time zones and the direct-runoff storages.
// Values are written with round-trip precision. After the last sub-basin follow two blocks
// that a reader of the older layout never reaches: the slow baseflow and the mean deficit
// of every sub-basin, then, for every cell of the sub-basins, the soil storage of the
// previous step (the capillary exchange's reference), the infiltration's saturation marker
// and the largest direct runoff so far, then, for every cell again, the usable field
// capacity ("available_soil_moisture", which the daily land-use update rescales with the
// root depth) and the root depth and layer the root zone stands for (from which the next
// day rescales). A file without a block starts its states as a cold start does (slow
// baseflow from the control file, mean deficit from the grids, previous soil storage =
// "soil_storage", cells unsaturated, peak flow 0, field capacity from the soil table, root
// zone at the start-up's root depths) and says so in one INFO.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "grids/grid_path.h"
#include "processes/soil/bodenmod.h"
#include "tables/landuse_parameter_grids.h"

namespace {

const char* const kCarriedHeader = "(QBB and mean saturation deficit per subbasin)";
const char* const kCellsHeader =
    "(cells: soil storage of the previous step, infiltration saturation marker, peak flow)";
const char* const kRootZoneHeader = "(cells: usable field capacity, root depth of the root zone, its layer)";
// What every block of cells begins with, even cut short.
const char* const kCellsMark = "(cells: ";
// The lines of the soil part that only this program writes.
[[maybe_unused]] const bool kMarksRegistered = RegisterStorageFileMarks({kCarriedHeader, kCellsMark});

struct ParameterRow {
  const char* label;      // label of the mismatch message
  const char* labelLine;  // line after the values
};

const ParameterRow kRows[11] = {
    {"m", "(m:\trecession constant)\n"},
    {"Tkorr", "(Tkorr:\ttransmissivity scaling for saturated zone)\n"},
    {"Kkorr", "(Kkorr:\ttransmissivity scaling for unsaturated zone)\n"},
    {"k_ELS_QD", "(k_ELS_QD:\trecession constant surface flow)\n"},
    {"SD_QI_lim", "(SD_QI_lim:\tmaximum interflow storage capacity)\n"},
    {"k_ELS_QI", "(k_ELS_QI:\trecession constant interflow)\n"},
    {"anffuell", "(anffuell:\tinitial interflow storage content)\n"},
    {"anfdefi", "(anfdefi:\tinitial saturation deficit)\n"},
    {"Pgrenz", "(Pgrenz:\tthreshold precipitation intensity for starting macropore flow)\n"},
    {"rueck", "(rueck:\treinfiltrating fraction of infiltration excess)\n"},
    {"SR_Anteil", "(SR_Anteil:\tsurface runoff fraction of snowmelt)\n"},
};

double RowValue(const SubbasinParameters& p, int row) {
  switch (row) {
    case 0: return p.m;
    case 1: return p.Tkorr;
    case 2: return p.Kkorr;
    case 3: return p.kQD;
    case 4: return p.SHmax;
    case 5: return p.kQI;
    case 6: return p.SUZini;
    case 7: return p.SDini;
    case 8: return p.Pgrenz;
    case 9: return p.Rrueck;
    default: return p.QDsnow;
  }
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// A stored value differs from the current one (relative 1e-5; a stored 0 only matches 0).
bool Mismatch(double stored, double current) {
  if (stored == 0.0) return current != 0.0;
  return std::fabs((stored - current) / stored) > 0.00001;
}

}  // namespace

std::string bodenmodellklasse::StorageSectionText() const {
  std::string t = "[soil_model]\n";
  t += Format("%d (number of subasins)\n", subbasins);
  for (int i = 1; i <= subbasins; ++i) t += Format("%.0f\t", static_cast<double>(subbasinCodes[static_cast<size_t>(i)]));
  t += "(code)\n";
  for (int row = 0; row < 11; ++row) {
    for (int i = 1; i <= subbasins; ++i) t += Format("%.17g\t", RowValue(params[static_cast<size_t>(i)], row));
    t += kRows[row].labelLine;
  }
  for (int i = 1; i <= subbasins; ++i) {
    const size_t ii = static_cast<size_t>(i);
    t += Format("%d %d (zone %d and maxzeit)\n", i, maxzeit[ii], i);
    for (int k = 1; k <= maxzeit[ii]; ++k) {
      const TravelTimeZoneRecord& z = zoneFZT[ii][static_cast<size_t>(k)];
      t += Format("%.17g %.17g %.17g %.17g %.17g (zoneFZT.n/.sx/.zonenwert/.rel/.RelCellSum)\n", z.n, z.sx, z.zonenwert,
                  z.rel, z.RelCellSum);
    }
    t += Format("%.17g (QD[%d])\n", QD[ii], i);
  }
  t += std::string(kCarriedHeader) + "\n";
  for (int i = 1; i <= subbasins; ++i)
    t += Format("%d %.17g %.17g (QBB[%d] and mean deficit)\n", i, QBB[static_cast<size_t>(i)],
                meanDeficit[static_cast<size_t>(i)], i);
  long cells = 0;
  ForEachCell([&](int, int) { ++cells; });
  t += Format("%ld %s\n", cells, kCellsHeader);
  ForEachCell([&](int r, int c) {
    t += Format("%.17g %.17g %.17g\n", soilStorageOld[r][c], saturationMarker ? saturationMarker[r][c] : 0.0,
                peakFlow[r][c]);
  });
  // Without land-use layers no depth is kept (layer 0).
  const LanduseParameterGrids* g = rootZoneReference;
  const bool kept = g && !g->rootZoneLayer.empty();
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  t += Format("%ld %s\n", cells, kRootZoneHeader);
  ForEachCell([&](int r, int c) {
    const size_t cell = static_cast<size_t>(r) * stride + static_cast<size_t>(c);
    t += Format("%.17g %.17g %d\n", availableSoilMoisture[r][c], kept ? g->rootZoneDepth[cell] : 0.0,
                kept ? g->rootZoneLayer[cell] : 0);
  });
  t += "\n";
  return t;
}

void bodenmodellklasse::WriteStorageFile() {
  if (flowControl == 0 || storageFileName.empty() || !storage) return;
  storage->AddPart(MakePath(output.defaultOutputDirectory, storageFileName), StorageSectionText());
}

void bodenmodellklasse::StorageValueMismatch(const std::string& label, double current, double stored,
                                             const std::string& where) {
  // The recession constants are kept as factors per step: a state written by a run of
  // another time step differs there even with the same constants in hours.
  const bool perStep = label.rfind("k_ELS_", 0) == 0;
  *log << "FATAL: error in storage file content reading " << label << ":\nvalue in actual control is:   " << current
       << "\nbut value in storage file is: " << stored << "\n(part [soil_model] of the storage file "
       << storageFileBeingRead << where << ")"
       << (perStep ? "\nthe value is the recession factor of one step: the state was written by a run with other "
                     "recession constants or another time step; start from a state of a run with this step and "
                     "these constants, or without the warm start"
                   : "")
       << "\nOrvel throws..." << "[end-entry]";
  throw 71;
}

namespace {

// The place of the value at the cursor: ", line N, <owner>".
std::string ValuePlace(TextCursor& f, const std::string& owner) {
  return ", line " + std::to_string(f.LineNumber()) + (owner.empty() ? std::string() : ", " + owner);
}

// A stored value that is no number: the file ends where it belongs (cut short), or holds
// another word there (a damaged file, "nan").
[[noreturn]] void UnreadableValue(LogStream* log, TextCursor& f, const std::string& fileName, const std::string& label,
                                  const std::string& owner) {
  if (log)
    *log << "FATAL: error in storage file content reading " << label << (owner.empty() ? "" : " of ") << owner
         << " in the part [soil_model] of " << fileName << ": " << UnreadValue(f) << "[end-entry]";
  throw 71;
}

}  // namespace

void bodenmodellklasse::CheckStorageValue(TextCursor& file, double current, const std::string& label,
                                          const std::string& owner) {
  double stored = 0.0;
  const size_t at = file.Pos();
  if (!file.ReadDouble(stored)) UnreadableValue(log, file, storageFileBeingRead, label, owner);
  if (Mismatch(stored, current)) {
    const size_t after = file.Pos();
    file.Seek(at);
    file.SkipBlanks();
    const std::string where = ValuePlace(file, owner);
    file.Seek(after);
    StorageValueMismatch(label, current, stored, where);
  }
}

void bodenmodellklasse::ReadStorageFile() {
  if (flowControl == 0) return;
  const std::string path = MakePath(output.initialStateDirectory, storageFileName);
  const std::shared_ptr<const std::string> text = StorageFile::ReadText(storage, path, log);
  if (!text) {
    *log << "FATAL: error opening storage content file " << path << FileOpenReason(path, false, 0) << "[end-entry]";
    throw 64;
  }
  RestoreStorageSection(*text, path);
}

StateRange MeanDeficitBounds(double q0, double m) {
  StateRange r = StateRange::Storage();
  const double highestOutflow = 1e9;  // mm in a step, the bound of StateRange::Storage
  if (q0 > 0.0 && m > 0.0) {
    r.low = -m * std::log(highestOutflow / q0);
    r.lowText = FormatText("%.10g mm", r.low);
    r.lowRule = FormatText("below it the saturated zone's outflow of a step, Q0 exp(-SD/m) with Q0 = %.6g mm and "
                           "m = %.6g mm, passes 1e9 mm",
                           q0, m);
  } else {
    r.low = -highestOutflow;
    r.lowText = "-1e9 mm";
    r.lowRule = "no soil holds 1,000 km of water above its saturated zone";
  }
  return r;
}

void bodenmodellklasse::RestoreStorageSection(const std::string& text, const std::string& fileName) {
  storageFileBeingRead = fileName;
  TextCursor f(text);
  f.RequireWholeWords();
  std::string line;
  bool found = false;
  while (f.ReadLine(line)) {
    // Only the exact header: other parts of the file merely mention the name.
    size_t a = line.find_first_not_of(" \t");
    size_t b = line.find_last_not_of(" \t");
    if (a != std::string::npos && line.substr(a, b - a + 1) == "[soil_model]") {
      found = true;
      break;
    }
  }
  if (!found) {
    *log << "FATAL: error locking for the section soil_model in " << fileName << StorageFileEnd(text, "[soil_model]")
         << "[end-entry]";
    throw 71;
  }
  // A stored state must be a number (a damaged file must not start the run with NaN); the
  // messages name the line and what the value belongs to (a sub-basin, a cell's row and column).
  auto subbasin = [](int i) { return "sub-basin " + std::to_string(i); };
  // The mean deficit: below 0 no further than keeps the saturated zone's outflow of a step,
  // Q0 exp(-SD/m), within the bound of every storage and flow of the model (1e9 mm); a
  // deficit beyond it would make that outflow, and the deficit the step leaves, overflow.
  auto MeanDeficitRange = [&](int i) { return MeanDeficitBounds(Q0[static_cast<size_t>(i)], params[static_cast<size_t>(i)].m); };
  const StateRange countRange = StateRange::AtLeast(0.0, "0", "a count or weight of cells is 0 or more");
  // A value outside the range of its quantity (that of the state grids) is refused as a
  // state grid's is, naming the line.
  auto within = [&](const char* label, double value, const std::string& owner, const StateRange& range) {
    if (range.Breaks(value) >= 0)
      RequireStoredValue(value, range, log, "[soil_model]", fileName, f.LineNumber(),
                         std::string(label) + " of " + owner);
  };
  // owner() names what the value belongs to; it is asked only on a failure.
  auto readValue = [&](double& value, const char* label, auto owner, const StateRange& range) {
    if (!f.ReadDouble(value)) UnreadableValue(log, f, fileName, label, owner());
    if (range.Breaks(value) >= 0) within(label, value, owner(), range);
  };
  auto readInt = [&](int current, const char* label, const std::string& owner) {
    long v = 0;
    if (!f.ReadLong(v)) UnreadableValue(log, f, fileName, label, owner);
    if (v != current) StorageValueMismatch(label, current, static_cast<double>(v), ValuePlace(f, owner));
  };
  readInt(subbasins, "number of subbasins", "");
  f.RestOfLine();
  for (int i = 1; i <= subbasins; ++i) readInt(subbasinCodes[static_cast<size_t>(i)], "subbasin code", subbasin(i));
  f.RestOfLine();
  for (int row = 0; row < 11; ++row) {
    for (int i = 1; i <= subbasins; ++i)
      CheckStorageValue(f, RowValue(params[static_cast<size_t>(i)], row), kRows[row].label, subbasin(i));
    f.RestOfLine();
  }
  // Read everything first: nothing is restored from a part that does not fit.
  std::vector<std::vector<TravelTimeZoneRecord>> zones = zoneFZT;
  std::vector<double> qd = QD;
  for (int i = 1; i <= subbasins; ++i) {
    const size_t ii = static_cast<size_t>(i);
    readInt(i, "actual zone", subbasin(i));
    readInt(maxzeit[ii], "maxzeit of actual subbasin", subbasin(i));
    f.RestOfLine();
    for (int k = 1; k <= maxzeit[ii]; ++k) {
      TravelTimeZoneRecord& z = zones[ii][static_cast<size_t>(k)];
      const std::string owner = "travel-time zone " + std::to_string(k) + " of " + subbasin(i);
      double v[5];
      int count = 0;
      while (count < 5 && f.ReadDouble(v[count])) ++count;
      if (count != 5) UnreadableValue(log, f, fileName, "the 5 fields for zonal statistics QD (zoneFZT)", owner);
      // Cells and weights of the zone and those behind it, the direct runoff in transit,
      // the zone's number and its share of the sub-basin's cells.
      static const char* const kFields[5] = {"zoneFZT.n", "zoneFZT.sx", "zoneFZT.zonenwert", "zoneFZT.rel",
                                             "zoneFZT.RelCellSum"};
      const StateRange ranges[5] = {countRange, StateRange::Storage(), countRange, StateRange::Fraction(), countRange};
      for (int k5 = 0; k5 < 5; ++k5) within(kFields[k5], v[k5], owner, ranges[k5]);
      z.n = v[0];
      z.sx = v[1];
      z.zonenwert = v[2];
      z.rel = v[3];
      z.RelCellSum = v[4];
      f.RestOfLine();
    }
    readValue(qd[ii], "QD", [&] { return subbasin(i); }, StateRange::Storage());
    f.RestOfLine();
  }
  zoneFZT = std::move(zones);
  QD = std::move(qd);

  // The blocks a file of the older layouts does not have.
  std::vector<std::string> missing;
  size_t mark = f.Pos();
  if (f.ReadLine(line) && line.find(kCarriedHeader) != std::string::npos) {
    std::vector<double> qbb = QBB, deficit = meanDeficit;
    for (int i = 1; i <= subbasins; ++i) {
      const size_t ii = static_cast<size_t>(i);
      readInt(i, "actual zone", subbasin(i));
      readValue(qbb[ii], "QBB", [&] { return subbasin(i); }, StateRange::Storage());
      readValue(deficit[ii], "the mean deficit", [&] { return subbasin(i); }, MeanDeficitRange(i));
      f.RestOfLine();
    }
    QBB = std::move(qbb);
    meanDeficit = std::move(deficit);
    mark = f.Pos();
  } else {
    missing.push_back("the slow baseflow and mean deficit of the sub-basins");
  }
  // The cells of a block: its first line must give the count of the sub-basins' cells.
  std::vector<std::pair<int, int>> cellPlaces;
  ForEachCell([&](int r, int c) { cellPlaces.emplace_back(r, c); });
  auto cellName = [&](size_t k) {
    return [&, k] {
      return "row " + std::to_string(cellPlaces[k].first) + ", column " + std::to_string(cellPlaces[k].second);
    };
  };
  auto cellCount = [&](const std::string& head) {
    const long cells = static_cast<long>(cellPlaces.size());
    long stored = 0;
    TextCursor t(head);
    t.RequireWholeWords();
    if (!t.ReadLong(stored) || stored != cells)
      StorageValueMismatch("number of cells", static_cast<double>(cells), static_cast<double>(stored),
                           ", line " + std::to_string(f.LineNumber() - 1));
    return cells;
  };
  f.Seek(mark);
  if (f.ReadLine(line) && line.find(kCellsHeader) != std::string::npos) {
    const long cells = cellCount(line);
    std::vector<double> values(static_cast<size_t>(3 * cells));
    static const char* const kCellItems[3] = {"the soil storage of the previous step", "the saturation marker",
                                              "the peak flow"};
    // The relative soil moisture and the marker are fractions; the peak flow a depth.
    const StateRange kCellRanges[3] = {StateRange::Fraction(), StateRange::Fraction(), StateRange::Storage()};
    for (size_t v = 0; v < values.size(); ++v)
      readValue(values[v], kCellItems[v % 3], cellName(v / 3), kCellRanges[v % 3]);
    size_t k = 0;
    restoredMarker.assign(static_cast<size_t>(cells), 0.0);
    ForEachCell([&](int r, int c) {
      soilStorageOld[r][c] = values[3 * k];
      restoredMarker[k] = values[3 * k + 1];
      if (saturationMarker) saturationMarker[r][c] = values[3 * k + 1];
      peakFlow[r][c] = values[3 * k + 2];
      ++k;
    });
    f.RestOfLine();
    mark = f.Pos();
  } else {
    missing.push_back("the soil storage of the previous step, the infiltration saturation marker and the peak flow "
                      "of the cells");
  }
  f.Seek(mark);
  if (f.ReadLine(line) && line.find(kRootZoneHeader) != std::string::npos) {
    const long cells = cellCount(line);
    std::vector<double> capacity(static_cast<size_t>(cells)), depth(capacity.size());
    const StateRange depthRange =
        StateRange::ZeroUpTo("a depth is 0 or more", 1e9, "1e9", "no root zone reaches 1,000 km deep");
    const StateRange layerRange = StateRange::ZeroUpTo("a layer is a whole number from 0 on", 1e6, "1e6",
                                                       "no land-use table has as many layers");
    std::vector<int> layer(capacity.size());
    for (size_t k = 0; k < capacity.size(); ++k) {
      readValue(capacity[k], "the usable field capacity", cellName(k), StateRange::Storage());
      readValue(depth[k], "the root depth of the root zone", cellName(k), depthRange);
      double l = 0.0;
      readValue(l, "the layer of the root zone", cellName(k), layerRange);
      if (l != std::floor(l)) {
        *log << "FATAL: error in storage file content reading the layer of the root zone of " << cellName(k)()
             << " in the part [soil_model] of " << fileName << ", line " << f.LineNumber() << ": " << l
             << " is no whole number of a layer" << "[end-entry]";
        throw 71;
      }
      layer[k] = static_cast<int>(l);
    }
    size_t k = 0;
    ForEachCell([&](int r, int c) { availableSoilMoisture[r][c] = capacity[k++]; });
    restoredRootDepth = std::move(depth);
    restoredRootLayer = std::move(layer);
  } else {
    f.Seek(mark);
    missing.push_back("the usable field capacity and the root depth of the root zone of the cells");
  }
  if (!missing.empty()) {
    *log << "INFO: the part [soil_model] of the storage file " << fileName << " does not hold";
    for (size_t k = 0; k < missing.size(); ++k) *log << (k == 0 ? " " : " nor ") << missing[k];
    *log << ": they start as in a cold start" << "[end-entry]";
  }
}

void bodenmodellklasse::SetRootZoneReference(LanduseParameterGrids* reference) {
  rootZoneReference = reference;
  if (!reference || restoredRootLayer.empty()) return;
  LanduseParameterGrids& g = *reference;
  if (g.layers > 0) {
    if (g.rootZoneLayer.empty()) StartRootZoneDepths(g, geometry.nrows, geometry.ncols, geometry.nodata_value);
    const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
    size_t k = 0;
    ForEachCell([&](int r, int c) {
      const int layer = restoredRootLayer[k];
      if (layer > g.layers) {
        *log << "FATAL: error in storage file content reading the root zone of row " << r << ", column " << c
             << " in " << storageFileBeingRead << ": layer " << layer << " but the land-use table has " << g.layers
             << " layers" << "[end-entry]";
        throw 71;
      }
      const size_t cell = static_cast<size_t>(r) * stride + static_cast<size_t>(c);
      g.rootZoneDepth[cell] = restoredRootDepth[k];
      g.rootZoneLayer[cell] = layer;
      ++k;
    });
  }
  restoredRootDepth.clear();
  restoredRootLayer.clear();
}
