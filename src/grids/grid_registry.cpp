#include "grids/grid_registry.h"

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "grids/grid_io_internal.h"

WriteCodeDigits SplitWriteCode(int writeCode) {
  WriteCodeDigits d;
  if (writeCode < 0) return d;  // not a write code: nothing is written
  int code = writeCode % 10000;
  d.units = code % 10;
  d.tens = (code % 100) / 10;
  d.hundreds = (code % 1000) / 100;
  d.thousands = code / 1000;
  d.h1 = (d.hundreds == 1 || d.hundreds == 3) ? 1 : 0;
  d.h2 = (d.hundreds == 2 || d.hundreds == 3) ? 1 : 0;
  return d;
}

namespace {

// A found record counts as looked up; one given back after the build must not be read.
int Found(const GridRecord* grids, int p, LogStream* log) {
  const GridRecord& g = grids[p];
  if (!g.lookedUp) g.lookedUp = true;
  if (g.released) {
    if (log)
      *log << "FATAL: the grid " << g.internalName << " was given back when the run was built, as no module of "
           << "this run reads it, and is looked up now" << "[end-entry]";
    throw 33;
  }
  return p;
}

}  // namespace

void NoteAbsentGrid(GridRecord* records, const std::string& internalName, const std::string& reason) {
  if (!records) return;
  if (reason.empty())
    records[0].absenceReasons.erase(internalName);
  else
    records[0].absenceReasons[internalName] = reason;
}

std::string MeteoNamesNote(const GridRecord* records, const std::vector<std::string>& sought) {
  if (!records || records[0].meteoNames.empty()) return std::string();
  const std::vector<std::string>& names = records[0].meteoNames;
  std::string note = "[meteo_names] names the interpolated variables";
  for (size_t k = 0; k < names.size(); ++k) note += (k ? ", " : " ") + names[k];
  note += "; each name is the internal name of the variable's grid and the heading of its section, upper and "
          "lower case counting";
  for (const std::string& wanted : sought)
    for (const std::string& name : names)
      if (name != wanted && SameLetters(name, wanted)) {
        note += ": \"" + name + "\" there is not \"" + wanted + "\"; write \"" + wanted + "\" there";
        return note;
      }
  return note;
}

void ForgetGridLookUps(GridRecord* records) {
  if (!records) return;
  for (int p = 0; p < kGridRegistrySize; ++p) records[p].lookedUp = false;
}

bool AnyVegetationPeriodSums(const GridRecord* records) {
  if (!records) return false;
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if (records[p].registered && records[p].thousands != 0) return true;
  return false;
}

int modelobject::FindGrid(const std::string& internalName, bool includeUnfilled) const {
  if (!grids || !grids[1].registered) return 0;
  int p = 1;
  while (true) {
    if (grids[p].internalName == internalName) return Found(grids, p, log);
    ++p;
    if (p >= kGridRegistrySize - 1) return 0;
    if (!grids[p].data && !includeUnfilled) return 0;
    if (!grids[p].registered) return 0;
  }
}

namespace {

// The requiring search: from position 1 up to the first record that was never registered.
int FirstNamed(const GridRecord* grids, const std::string& name) {
  if (!grids) return 0;
  for (int p = 1; p < kGridRegistrySize - 1 && grids[p].registered; ++p)
    if (grids[p].internalName == name) return p;
  return 0;
}

int ScanForName(const GridRecord* grids, const std::string& name, LogStream* log) {
  const int p = FirstNamed(grids, name);
  return p > 0 ? Found(grids, p, log) : 0;
}

}  // namespace

int modelobject::RequireGridWhileBuilt(const std::string& internalName) const {
  const int known = FirstNamed(grids, internalName);
  const bool lookedUp = known > 0 && grids[known].lookedUp;
  const int p = RequireGrid(internalName);
  grids[p].lookedUp = lookedUp;
  return p;
}

std::string UnreadNearNameNote(const GridRecord* grids, const std::string& sought, const std::string& reader) {
  if (!grids) return std::string();
  const GridRecord* nearest = nullptr;
  size_t nearestDistance = 3;  // farther names are other grids, not a slip of the pen
  // Names apart only in their layer's number ("root_depth1", "root_depth2") are grids of two layers.
  const auto stem = [](const std::string& n) { return n.substr(0, n.find_last_not_of("0123456789") + 1); };
  for (int p = 1; p < kGridRegistrySize - 1 && grids[p].registered; ++p) {
    const GridRecord& r = grids[p];
    if (r.lookedUp || (r.section != "standard_grids" && r.section != "variable_grids")) continue;
    if (stem(r.internalName) == stem(sought)) continue;
    const size_t distance = KeyDistance(r.internalName, sought);
    if (distance < nearestDistance) {
      nearestDistance = distance;
      nearest = &r;
    }
  }
  if (!nearest) return std::string();
  return "[" + nearest->section + "] gives the grid " + nearest->internalName + " (" + nearest->fileName +
         "), a name no module reads: a module finds a grid by its internal name, and " + reader + " reads " +
         sought + " (docs/setup.md lists the names the modules read); name the grid " + sought + " there";
}

int modelobject::RequireGrid(const std::string& internalName) const {
  int p = ScanForName(grids, internalName, log);
  if (p > 0) return p;
  if (log) {
    *log << "FATAL: \n---------------- !!! ERROR !!!  --------------------------\n" << internalName
         << " not found in memory,\nThese data are needed within " << name
         << " \nif they are interpolated data, please specify an interpolator for\n" << internalName
         << " in the control file or read it in as a standardfile,\n"
            "-----------------------------------------------------------\n";
    // The module that makes the grid in other set-ups may have said why it made none here.
    if (grids) {
      const auto reason = grids[0].absenceReasons.find(internalName);
      if (reason != grids[0].absenceReasons.end()) *log << reason->second << "\n";
    }
    const std::string unread = UnreadNearNameNote(grids, internalName, name);
    if (!unread.empty()) *log << unread << "\n";
    const std::string names = MeteoNamesNote(grids, {internalName});
    if (!names.empty()) *log << names << "\n";
    *log << "[end-entry]";
  }
  throw 33;
}

namespace {

[[noreturn]] void ReportNoneOf(const modelobject& o, const std::string& listed, const std::vector<std::string>& names) {
  if (o.log) {
    *o.log << "FATAL: \n---------------- !!! ERROR !!!  ------------------------------------\n"
           << "Wether " << listed << " \nwhere found in memory,\n"
           << "One of these data sets has to be present within " << o.name << " \n"
           << "If the data are to be interpolated, please specify an interpolatior for\n"
           << listed << " in the control file,\n"
           << "or read it as a standard grid \n"
           << "-----------------------------------------------------------------------\n";
    const std::string note = MeteoNamesNote(o.grids, names);
    if (!note.empty()) *o.log << note << "\n";
    *o.log << "[end-entry]";
  }
  throw 33;
}

}  // namespace

int modelobject::RequireOneOf3Grids(const std::string& n1, const std::string& n2, const std::string& n3) const {
  for (const std::string* n : {&n1, &n2, &n3}) {
    int p = ScanForName(grids, *n, log);
    if (p > 0) return p;
  }
  ReportNoneOf(*this, n1 + ", " + n2 + " or " + n3, {n1, n2, n3});
}

int modelobject::RequireOneOf4Grids(const std::string& n1, const std::string& n2, const std::string& n3,
                                    const std::string& n4) const {
  for (const std::string* n : {&n1, &n2, &n3, &n4}) {
    int p = ScanForName(grids, *n, log);
    if (p > 0) return p;
  }
  ReportNoneOf(*this, n1 + ", " + n2 + ", " + n3 + " or " + n4, {n1, n2, n3, n4});
}

void modelobject::RegisterGrid(int position, const std::string& fileName, double** data, double*** stack,
                               int levels, const std::string& internalName, int writeCode, int firstRow,
                               int lastRow) {
  if (!grids || position < 1 || position > kMaxGridPosition) {
    if (log) *log << "FATAL: no free grid in memory,(max. " << 1000 << ")!" << "[end-entry]";
    throw 12;
  }
  if (internalName.size() > kMaxInternalName || fileName.size() > kMaxFileName) {
    if (log)
      *log << "FATAL: cannot register grid " << internalName.substr(0, kMaxInternalName) << ": internal name (max. "
           << static_cast<unsigned long>(kMaxInternalName) << ") or file name (max. "
           << static_cast<unsigned long>(kMaxFileName) << " characters) too long" << "[end-entry]";
    throw 12;
  }
  const std::string& section = gridSection.empty() ? name : gridSection;
  // The digits of a write code select what is written; a negative code has none.
  if (writeCode < 0) {
    if (log)
      *log << "FATAL: [" << section << "] in " << ShownControlFile() << ": the write code of " << internalName << " ("
           << fileName << ") is " << writeCode << "; a write code is 0 or more (0: not written)" << "[end-entry]";
    throw 17;
  }
  GridRecord& r = grids[position];
  r.fileName = fileName;
  if (!r.firstFileNameOwned) {
    r.firstFileName = fileName;
    r.firstFileNameOwned = true;
  }
  r.internalName = internalName;
  WriteCodeDigits d = SplitWriteCode(writeCode);
  r.data = data;
  r.stack = stack;
  r.stackLevels = levels;
  r.units = d.units;
  r.tens = d.tens;
  r.h1 = d.h1;
  r.h2 = d.h2;
  r.thousands = d.thousands;
  r.firstRow = firstRow;
  r.lastRow = lastRow;
  r.section = section;
  r.outputDirectory = output.outputDirectory;
  r.netcdf = output.writeNetcdfGrids;
  r.periodStarted = 0;
  r.accumulatedSteps = 0.0;
  r.registered = true;

  // Period grids cover rows first..last (within the grid) and every column; a grid that a
  // new registration no longer asks for is released at once.
  int lo = firstRow < 1 ? 1 : firstRow;
  int hi = lastRow > geometry.nrows ? geometry.nrows : lastRow;
  auto period = [&](bool wanted, MatrixOwner& grid, std::string& periodName) {
    if (wanted) {
      grid.reset(matrix(lo, hi, 1, geometry.ncols, geometry.nrows));
      periodName = fileName;
    } else {
      grid.reset();
      periodName.clear();
    }
  };
  period(d.tens != 0, r.periodT, r.fileNameT);
  period(d.h1 != 0, r.periodH1, r.fileNameH1);
  period(d.h2 != 0, r.periodH2, r.fileNameH2);
  period(d.thousands != 0, r.periodK, r.fileNameK);
}

void modelobject::FreeGrid(int position) {
  if (!grids || position < 1 || position > kMaxGridPosition) return;
  GridRecord& r = grids[position];
  // The record returns to its empty state; its data matrix belongs to its owner. The
  // registry-wide references of record 0 are not touched.
  r = GridRecord();
}

int modelobject::FirstFreeGridPosition() const {
  if (!grids) return 0;
  for (int p = 1; p <= kMaxGridPosition; ++p)
    if (!grids[p].registered) return p;
  return 0;
}

void modelobject::CopyWhereValid(int sourcePosition, int maskPosition, void*, double** dest) const {
  if (!dest || !grids) return;
  if (sourcePosition < 1 || sourcePosition > kMaxGridPosition || maskPosition < 1 ||
      maskPosition > kMaxGridPosition)
    return;
  double** source = grids[sourcePosition].data;
  double** mask = grids[maskPosition].data;
  if (!source || !mask) return;
  for (int r = 1; r <= geometry.nrows; ++r) {
    if (!source[r] || !mask[r] || !dest[r]) continue;
    int first, last;
    grid_io::ActiveColumns(*this, r, first, last);
    for (int c = first; c <= last; ++c)
      if (mask[r][c] > geometry.nodata_value) dest[r][c] = source[r][c];
  }
}
