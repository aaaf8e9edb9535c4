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
#include <array>
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

// The ranges a warm start holds the part's values to, and its writer too: the five fields of
// a travel-time zone, the three values of a cell's row, the root zone's depth and layer.
std::array<StateRange, 5> ZoneRanges() {
  const StateRange count = StateRange::AtLeast(0.0, "0", "a count or weight of cells is 0 or more");
  return {count, StateRange::Storage(), count, StateRange::Fraction(), count};
}
// The relative soil moisture and the marker are fractions; the peak flow a depth.
std::array<StateRange, 3> CellRanges() { return {StateRange::Fraction(), StateRange::Fraction(), StateRange::Storage()}; }
StateRange RootDepthRange() {
  return StateRange::ZeroUpTo("a depth is 0 or more", 1e9, "1e9", "no root zone reaches 1,000 km deep");
}
StateRange RootLayerRange() {
  return StateRange::ZeroUpTo("a layer is a whole number from 0 on", 1e6, "1e6", "no land-use table has as many layers");
}

// A value written into the part, held to the range its reader holds it to.
template <typename What>
void HoldWritten(double value, const StateRange& range, What what) {
  HoldStoredValue(value, range, "[soil_model]", what);
}

// A stored value differs from the current one (relative 1e-5; a stored 0 only matches 0).
bool Mismatch(double stored, double current) {
  if (stored == 0.0) return current != 0.0;
  return std::fabs((stored - current) / stored) > 0.00001;
}

}  // namespace

std::string bodenmodellklasse::StorageSectionText() const {
  std::string t = "[soil_model]\n";
  const auto sub = [](int i) { return " of sub-basin " + std::to_string(i); };
  t += Format("%d (number of subasins)\n", subbasins);
  const std::array<StateRange, 5> zoneRanges = ZoneRanges();
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
      const double fields[5] = {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum};
      for (int f = 0; f < 5; ++f)
        HoldWritten(fields[f], zoneRanges[static_cast<size_t>(f)],
                    [&] { return "a field of travel-time zone " + std::to_string(k) + sub(i); });
    }
    t += Format("%.17g (QD[%d])\n", QD[ii], i);
    HoldWritten(QD[ii], StateRange::Storage(), [&] { return "QD" + sub(i); });
  }
  t += std::string(kCarriedHeader) + "\n";
  for (int i = 1; i <= subbasins; ++i) {
    const size_t ii = static_cast<size_t>(i);
    t += Format("%d %.17g %.17g (QBB[%d] and mean deficit)\n", i, QBB[ii], meanDeficit[ii], i);
    HoldWritten(QBB[ii], StateRange::Storage(), [&] { return "QBB" + sub(i); });
    HoldWritten(meanDeficit[ii], MeanDeficitBounds(Q0[ii], params[ii].m), [&] { return "the mean deficit" + sub(i); });
  }
  long cells = 0;
  ForEachCell([&](int, int) { ++cells; });
  t += Format("%ld %s\n", cells, kCellsHeader);
  const std::array<StateRange, 3> cellRanges = CellRanges();
  static const char* const kCellItems[3] = {"the soil storage of the previous step", "the saturation marker",
                                            "the peak flow"};
  ForEachCell([&](int r, int c) {
    const double row[3] = {soilStorageOld[r][c], saturationMarker ? saturationMarker[r][c] : 0.0, peakFlow[r][c]};
    t += Format("%.17g %.17g %.17g\n", row[0], row[1], row[2]);
    for (size_t v = 0; v < 3; ++v)
      HoldWritten(row[v], cellRanges[v], [&] { return std::string(kCellItems[v]) + " of row " + std::to_string(r) +
                                                      ", column " + std::to_string(c); });
  });
  // Without land-use layers no depth is kept (layer 0).
  const LanduseParameterGrids* g = rootZoneReference;
  const bool kept = g && !g->rootZoneLayer.empty();
  const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
  t += Format("%ld %s\n", cells, kRootZoneHeader);
  const StateRange depthRange = RootDepthRange();
  ForEachCell([&](int r, int c) {
    const size_t cell = static_cast<size_t>(r) * stride + static_cast<size_t>(c);
    const double depth = kept ? g->rootZoneDepth[cell] : 0.0;
    t += Format("%.17g %.17g %d\n", availableSoilMoisture[r][c], depth, kept ? g->rootZoneLayer[cell] : 0);
    const auto where = [&] { return " of row " + std::to_string(r) + ", column " + std::to_string(c); };
    HoldWritten(availableSoilMoisture[r][c], StateRange::Storage(), [&] { return "the usable field capacity" + where(); });
    HoldWritten(depth, depthRange, [&] { return "the root depth of the root zone" + where(); });
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
    *log << "FATAL: error opening storage content file " << path << FileOpenReason(path, false, 0)
         << ": the read flag " << readgrids << " of [soil_model] (" << readFlagLine << ") starts the run from "
         << (readgrids == 1 ? "the state grids and the storage file" : "the storage file")
         << " of an earlier run; give that file, or the flag 0 to start without an earlier state" << "[end-entry]";
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

namespace {

// Reads the "[soil_model]" part of a storage file for RestoreStorageSection, step by step.
// A stored state must be a number within the range of its quantity (a damaged file must not
// start the run with NaN); the messages name the line and what the value belongs to (a
// sub-basin, a cell's row and column). A block is read whole before anything of it is
// restored. Blank lines between rows and before a block are read through.
//
// A file that ends with the record [end_state] was written whole by this program, which
// writes every block and every row of values on a line of its own: there a row that ends
// before its last value (a line split), a block header that is not where the writer put it
// (deleted, edited, a row written twice before it) and a line after the last block that
// begins no part are damage (code 71, naming the line). An older file is read as a stream of
// values, and a block it does not hold starts as in a cold start.
class SoilStateReader {
 public:
  SoilStateReader(bodenmodellklasse& soil, const std::string& text, const std::string& fileName)
      : m_(soil), f_(text), fileName_(fileName), log_(soil.log) {
    f_.RequireWholeWords();
    m_.ForEachCell([&](int r, int c) { cells_.emplace_back(r, c); });
    EndStateRecord record;
    whole_ = ReadEndStateRecord(text, record, nullptr) != 0;
  }

  // Moves behind the header line "[soil_model]" (only the exact header: other parts of the
  // file merely mention the name); code 71 without it.
  void FindSection() {
    std::string line;
    while (f_.ReadLine(line)) {
      const size_t a = line.find_first_not_of(" \t");
      const size_t b = line.find_last_not_of(" \t");
      if (a != std::string::npos && line.substr(a, b - a + 1) == "[soil_model]") return;
    }
    *log_ << "FATAL: error looking for the section soil_model in " << fileName_
          << StorageFileEnd(f_.Text(), "[soil_model]") << "[end-entry]";
    throw 71;
  }

  // The number of sub-basins, their codes and their eleven parameters must be the run's.
  void CheckParameters() {
    Whole(m_.subbasins, "number of subbasins", "");
    f_.RestOfLine();
    for (int i = 1; i <= m_.subbasins; ++i) {
      if (i > 1) OnRow("subbasin code", [&] { return Subbasin(i); });
      Whole(m_.subbasinCodes[static_cast<size_t>(i)], "subbasin code", Subbasin(i));
    }
    f_.RestOfLine();
    for (int row = 0; row < 11; ++row) {
      for (int i = 1; i <= m_.subbasins; ++i) {
        if (i > 1) OnRow(kRows[row].label, [&] { return Subbasin(i); });
        m_.CheckStorageValue(f_, RowValue(m_.params[static_cast<size_t>(i)], row), kRows[row].label, Subbasin(i));
      }
      f_.RestOfLine();
    }
  }

  // The direct runoff in transit: per sub-basin its travel-time zones and QD.
  void RestoreTransit() {
    std::vector<std::vector<TravelTimeZoneRecord>> zones = m_.zoneFZT;
    std::vector<double> qd = m_.QD;
    for (int i = 1; i <= m_.subbasins; ++i) {
      const size_t ii = static_cast<size_t>(i);
      Whole(i, "actual zone", Subbasin(i));
      OnRow("maxzeit of actual subbasin", [&] { return Subbasin(i); });
      Whole(m_.maxzeit[ii], "maxzeit of actual subbasin", Subbasin(i));
      f_.RestOfLine();
      for (int k = 1; k <= m_.maxzeit[ii]; ++k) ReadZone(zones[ii][static_cast<size_t>(k)], k, i);
      Value(
          qd[ii], "QD", [&] { return Subbasin(i); }, StateRange::Storage());
      f_.RestOfLine();
    }
    m_.zoneFZT = std::move(zones);
    m_.QD = std::move(qd);
  }

  // The slow baseflow and the mean deficit of every sub-basin; false without the block.
  bool RestoreCarried() {
    if (!OpenBlock(kCarriedHeader)) return false;
    std::vector<double> qbb = m_.QBB, deficit = m_.meanDeficit;
    for (int i = 1; i <= m_.subbasins; ++i) {
      const size_t ii = static_cast<size_t>(i);
      Whole(i, "actual zone", Subbasin(i));
      OnRow("QBB", [&] { return Subbasin(i); });
      Value(
          qbb[ii], "QBB", [&] { return Subbasin(i); }, StateRange::Storage());
      // Below 0 no further than keeps the saturated zone's outflow of a step, Q0 exp(-SD/m),
      // within the bound of every storage and flow of the model (1e9 mm); a deficit beyond
      // it would make that outflow, and the deficit the step leaves, overflow.
      OnRow("the mean deficit", [&] { return Subbasin(i); });
      Value(
          deficit[ii], "the mean deficit", [&] { return Subbasin(i); }, MeanDeficitBounds(m_.Q0[ii], m_.params[ii].m));
      f_.RestOfLine();
    }
    m_.QBB = std::move(qbb);
    m_.meanDeficit = std::move(deficit);
    return true;
  }

  // Per cell the soil storage of the previous step, the saturation marker and the peak
  // flow; false without the block.
  bool RestoreCellStates() {
    if (!OpenBlock(kCellsHeader)) return false;
    const long cells = CellCount();
    std::vector<double> values(static_cast<size_t>(3 * cells));
    static const char* const kCellItems[3] = {"the soil storage of the previous step", "the saturation marker",
                                              "the peak flow"};
    const std::array<StateRange, 3> kCellRanges = CellRanges();
    for (size_t v = 0; v < values.size(); ++v) {
      if (v % 3 != 0) OnRow(kCellItems[v % 3], [this, v] { return CellName(v / 3); });
      Value(
          values[v], kCellItems[v % 3], [this, v] { return CellName(v / 3); }, kCellRanges[v % 3]);
      if (whole_ && v % 3 == 2) f_.RestOfLine();  // each row a line of its own
    }
    size_t k = 0;
    m_.restoredMarker.assign(static_cast<size_t>(cells), 0.0);
    m_.ForEachCell([&](int r, int c) {
      m_.soilStorageOld[r][c] = values[3 * k];
      m_.restoredMarker[k] = values[3 * k + 1];
      if (m_.saturationMarker) m_.saturationMarker[r][c] = values[3 * k + 1];
      m_.peakFlow[r][c] = values[3 * k + 2];
      ++k;
    });
    if (!whole_) f_.RestOfLine();
    return true;
  }

  // Per cell the usable field capacity and the root depth and layer of the root zone;
  // false without the block.
  bool RestoreRootZone() {
    if (!OpenBlock(kRootZoneHeader)) return false;
    const long cells = CellCount();
    std::vector<double> capacity(static_cast<size_t>(cells)), depth(capacity.size());
    const StateRange storage = StateRange::Storage(), depthRange = RootDepthRange(), layerRange = RootLayerRange();
    std::vector<int> layer(capacity.size());
    for (size_t k = 0; k < capacity.size(); ++k) {
      auto owner = [this, k] { return CellName(k); };
      Value(capacity[k], "the usable field capacity", owner, storage);
      OnRow("the root depth of the root zone", owner);
      Value(depth[k], "the root depth of the root zone", owner, depthRange);
      double l = 0.0;
      OnRow("the layer of the root zone", owner);
      Value(l, "the layer of the root zone", owner, layerRange);
      if (l != std::floor(l)) {
        *log_ << "FATAL: error in storage file content reading the layer of the root zone of " << CellName(k)
              << " in the part [soil_model] of " << fileName_ << ", line " << f_.LineNumber() << ": " << l
              << " is no whole number of a layer" << "[end-entry]";
        throw 71;
      }
      layer[k] = static_cast<int>(l);
      if (whole_) f_.RestOfLine();
    }
    size_t k = 0;
    m_.ForEachCell([&](int r, int c) { m_.availableSoilMoisture[r][c] = capacity[k++]; });
    m_.restoredRootDepth = std::move(depth);
    m_.restoredRootLayer = std::move(layer);
    return true;
  }

  // In a file with the record, nothing but blank lines may follow the last block up to the
  // next part (or the record).
  void RequirePartEnd() {
    if (!whole_) return;
    const size_t mark = f_.Pos();
    std::string line;
    while (f_.ReadLine(line)) {
      const size_t a = line.find_first_not_of(" \t\r");
      if (a == std::string::npos) continue;
      if (line[a] == '[') return;
      f_.Seek(mark);
      f_.SkipBlanks();
      Damaged("\"" + line.substr(a, 80) + "\" stands after the last block of the part, where the next part or the "
              "record [end_state] begins");
    }
  }

 private:
  static std::string Subbasin(int i) { return "sub-basin " + std::to_string(i); }

  // The part of a file with the record is not as its writer wrote it: a FATAL names the line
  // at the cursor and what stands there (code 71).
  [[noreturn]] void Damaged(const std::string& what) {
    if (log_)
      *log_ << "FATAL: error in storage file content in the part [soil_model] of " << fileName_ << ", line "
            << f_.LineNumber() << ": " << what << ". The file ends with the record [end_state] of the run that wrote "
            << "it, which writes every block of the part and every row of values on a line of its own, so the part "
            << "was damaged after the run (a line split, doubled, deleted or edited); start from a whole state"
            << "[end-entry]";
    throw 71;
  }
  // Before a value that goes on a row: in a file with the record it stands on the row's line
  // (owner() names what the value belongs to, asked only when it does not).
  template <typename Owner>
  void OnRow(const char* label, Owner owner) {
    if (whole_ && f_.AtLineEnd())
      Damaged(std::string("the line ends before ") + label + " of " + owner() + ", which belongs on it");
  }
  std::string CellName(size_t k) const {
    return "row " + std::to_string(cells_[k].first) + ", column " + std::to_string(cells_[k].second);
  }

  // A whole number that must be the run's (a count, a code).
  void Whole(int current, const char* label, const std::string& owner) {
    long v = 0;
    if (!f_.ReadLong(v)) UnreadableValue(log_, f_, fileName_, label, owner);
    if (v != current) m_.StorageValueMismatch(label, current, static_cast<double>(v), ValuePlace(f_, owner));
  }
  // A stored state within its range; owner() names what it belongs to, asked only on a failure.
  template <typename Owner>
  void Value(double& value, const char* label, Owner owner, const StateRange& range) {
    if (!f_.ReadDouble(value)) UnreadableValue(log_, f_, fileName_, label, owner());
    if (range.Breaks(value) >= 0) Within(label, value, owner(), range);
  }
  // A value outside the range of its quantity (that of the state grids) is refused as a
  // state grid's is, naming the line.
  void Within(const char* label, double value, const std::string& owner, const StateRange& range) {
    if (range.Breaks(value) >= 0)
      RequireStoredValue(value, range, log_, "[soil_model]", fileName_, f_.LineNumber(),
                         std::string(label) + " of " + owner);
  }

  // One line of a travel-time zone: cells and weights of the zone and those behind it, the
  // direct runoff in transit, the zone's number and its share of the sub-basin's cells.
  void ReadZone(TravelTimeZoneRecord& z, int k, int i) {
    const std::string owner = "travel-time zone " + std::to_string(k) + " of " + Subbasin(i);
    static const char* const kFields[5] = {"zoneFZT.n", "zoneFZT.sx", "zoneFZT.zonenwert", "zoneFZT.rel",
                                           "zoneFZT.RelCellSum"};
    double v[5];
    for (int count = 0; count < 5; ++count) {
      if (count > 0) OnRow(kFields[count], [&] { return owner; });
      if (!f_.ReadDouble(v[count]))
        UnreadableValue(log_, f_, fileName_, "the 5 fields for zonal statistics QD (zoneFZT)", owner);
    }
    const std::array<StateRange, 5> ranges = ZoneRanges();
    for (int k5 = 0; k5 < 5; ++k5) Within(kFields[k5], v[k5], owner, ranges[k5]);
    z.n = v[0];
    z.sx = v[1];
    z.zonenwert = v[2];
    z.rel = v[3];
    z.RelCellSum = v[4];
    f_.RestOfLine();
  }

  // Reads the header line of a block, the next line that is not blank; false, with the
  // position left where it was, when that is not the header (a file without the block).
  bool OpenBlock(const char* header) {
    const size_t mark = f_.Pos();
    std::string line;
    size_t text = std::string::npos;
    while (f_.ReadLine(line) && (text = line.find_first_not_of(" \t\r")) == std::string::npos) {
    }
    if (text != std::string::npos && line.find(header) != std::string::npos) {
      header_ = line;
      return true;
    }
    f_.Seek(mark);
    if (!whole_) return false;
    f_.SkipBlanks();
    if (text == std::string::npos) Damaged(std::string("the file ends where the line ") + header + " belongs");
    Damaged("\"" + line.substr(text, 80) + "\" stands where the line " + header + " belongs");
  }
  // The count of cells on a block's header line must be that of the sub-basins' cells.
  long CellCount() {
    const long cells = static_cast<long>(cells_.size());
    long stored = 0;
    TextCursor t(header_);
    t.RequireWholeWords();
    if (!t.ReadLong(stored) || stored != cells)
      m_.StorageValueMismatch("number of cells", static_cast<double>(cells), static_cast<double>(stored),
                              ", line " + std::to_string(f_.LineNumber() - 1));
    return cells;
  }

  bodenmodellklasse& m_;
  TextCursor f_;
  std::string fileName_;
  LogStream* log_;
  std::vector<std::pair<int, int>> cells_;  // row and column of the cells in the order of ForEachCell
  std::string header_;                      // the header line of the block being read
  bool whole_ = false;                      // the file ends with the record of its state
};

}  // namespace

void bodenmodellklasse::RestoreStorageSection(const std::string& text, const std::string& fileName) {
  storageFileBeingRead = fileName;
  SoilStateReader reader(*this, text, fileName);
  reader.FindSection();
  reader.CheckParameters();
  reader.RestoreTransit();
  // A block the file does not hold starts as in a cold start.
  std::vector<std::string> missing;
  if (!reader.RestoreCarried()) missing.push_back("the slow baseflow and mean deficit of the sub-basins");
  if (!reader.RestoreCellStates())
    missing.push_back(
        "the soil storage of the previous step, the infiltration saturation marker and the peak flow "
        "of the cells");
  if (!reader.RestoreRootZone())
    missing.push_back("the usable field capacity and the root depth of the root zone of the cells");
  reader.RequirePartEnd();
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
