// The snow model's part of the storage file: the outflows of the three glacier storages of
// every sub-basin, per time step. A run with another time step rescales them; the older
// section "[snow_model]" (without the time step) is read when the newer one is missing.
// After the sub-basins follows a block that a reader of the older layout never reaches: the
// albedo of every cell of the sub-basins as the last step left it (the snow cover's, or the
// land's of the day where it has melted), which the first step of a warm start inside a day
// reads before the snow model sets it again.
#include <cmath>
#include <cstdio>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/modelobject.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "grids/grid_path.h"
#include "processes/snow/snowmod.h"

namespace {

constexpr size_t kMaxStorageName = 2400;
const char* const kAlbedoHeader = "(cells: albedo at the end of the step)";
// The lines of the snow part that only this program writes.
[[maybe_unused]] const bool kMarksRegistered = RegisterStorageFileMarks({kAlbedoHeader, "[glacier_inventory]"});

std::string Line(const char* format, int i, double v) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, i, v);
  return buffer;
}

// Moves the cursor past the first line that is exactly the header (blanks around it
// allowed); false when there is none.
bool SeekHeader(TextCursor& f, const char* header) {
  f.Seek(0);
  std::string line;
  while (f.ReadLine(line)) {
    const size_t a = line.find_first_not_of(" \t\r");
    const size_t b = line.find_last_not_of(" \t\r");
    if (a != std::string::npos && line.compare(a, b - a + 1, header) == 0) return true;
  }
  return false;
}

// No number where one belongs: the word there or the file's end, named with its line.
[[noreturn]] void Unreadable(LogStream& log, const std::string& path, const std::string& item, TextCursor& f,
                             bool v2 = true, long firstLine = 1) {
  log << "FATAL: (snow model) error in storage file content reading " << item << " in the part "
      << (v2 ? "[snow_model_v2]" : "[snow_model]") << " of " << path << ": " << UnreadValue(f, firstLine)
      << "[end-entry]";
  throw 71;
}

}  // namespace

std::string schneemodellklasse::StorageSectionText() const {
  const int n = subbasinCount;
  char head[160];
  std::snprintf(head, sizeof head, "[snow_model_v2]\n%d (number of subasins)\n%.3lf (timestep in minutes)\n", n,
                timeInterval);
  std::string t = head;
  auto value = [](const std::vector<double>& a, int i) {
    return static_cast<size_t>(i) < a.size() ? a[static_cast<size_t>(i)] : 0.0;
  };
  // Each value held to the range its reader holds it to.
  const StateRange storage = StateRange::Storage(), fraction = StateRange::Fraction();
  for (int i = 1; i <= n; ++i) {
    t += Line("%d\t%.17g(TG code and Qice_slr value)\n", i, value(Qice, i));
    t += Line("%d\t%.17g(TG code and Qfirn_slr value)\n", i, value(Qfirn, i));
    t += Line("%d\t%.17g(TG code and Qsnow_slr value)\n", i, value(Qsnow, i));
    const std::vector<double>* stores[3] = {&Qice, &Qfirn, &Qsnow};
    static const char* const kLabels[3] = {"Qice_slr", "Qfirn_slr", "Qsnow_slr"};
    for (int a = 0; a < 3; ++a)
      HoldStoredValue(value(*stores[a], i), storage, "[snow_model_v2]",
                      [&] { return std::string(kLabels[a]) + " of subbasin " + std::to_string(i); });
  }
  if (albedo) {
    t += FormatText("%ld %s\n", AlbedoCellCount(), kAlbedoHeader);
    ForEachAlbedoCell([&](int r, int c) {
      t += FormatText("%.17g\n", albedo[r][c]);
      HoldStoredValue(albedo[r][c], fraction, "[snow_model_v2]", [&] {
        return "the albedo of row " + std::to_string(r) + ", column " + std::to_string(c);
      });
    });
  }
  t += "\n";
  if (glacierInventory) t += glacierInventory->StateText();
  return t;
}

void schneemodellklasse::WriteStorageFile(bool) {
  // The storage file starts anew with the first part of the run and the snow model's part
  // comes last, so appending and creating are the same here.
  if (flowControl == 0 || !linked || storageFileName.empty() || !storage) return;
  storage->AddPart(MakePath(output.defaultOutputDirectory, storageFileName), StorageSectionText());
}

void schneemodellklasse::StorageValueMismatch(const std::string& label, double control, double stored) {
  *log << "FATAL: (snow model) error in storage file content reading " << label
       << ":\nvalue in actual control is:   " << control << "\nbut value in storage file is: " << stored
       << "\nOrvel throws..." << "[end-entry]";
  throw 71;
}

void schneemodellklasse::ReadStorageFile(const char* fileName, int initialGrids) {
  if (flowControl == 0 || !fileName || !*fileName) return;
  // The name is kept whatever the read flag, so that the state of this run is written.
  storageFileName = std::string(fileName).substr(0, kMaxStorageName);
  if (initialGrids == 0 || initialGrids == 2 || initialGrids == 4) return;
  // The albedo goes on with the snow cover: only a module that starts from its state grids
  // takes it.
  const bool withAlbedo = readInitialGrids == 1 && albedo;
  if (!HasGlacierStorages() && !withAlbedo) return;
  const std::string path = MakePath(output.initialStateDirectory, storageFileName);
  const std::shared_ptr<const std::string> text = StorageFile::ReadText(storage, path, log);
  if (!text) {
    *log << "WARNING: in snow/glacier model: error opening storage content file " << path
         << FileOpenReason(path, false, 0) << "[end-entry]";
    if (HasGlacierStorages())
      *log << "WARNING: glacier model will be run with cold start initialization values" << "[end-entry]";
    if (withAlbedo) *log << "WARNING: the albedo starts from the land-use table" << "[end-entry]";
    return;
  }
  RestoreStorageSection(*text, path, withAlbedo);
}

bool schneemodellklasse::HasGlacierStorages() const { return !(Qice.empty() || Qfirn.empty() || Qsnow.empty()); }

long schneemodellklasse::AlbedoCellCount() const {
  long cells = 0;
  ForEachAlbedoCell([&](int, int) { ++cells; });
  return cells;
}

void schneemodellklasse::RestoreStorageSection(const std::string& text, const std::string& path, bool withAlbedo) {
  TextCursor f(text);
  f.RequireWholeWords();
  const bool glaciers = HasGlacierStorages();
  bool v2 = SeekHeader(f, "[snow_model_v2]");
  if (!v2) {
    *log << "INFORMATION: couldn't find section [snow_model_v2], looking now for [snow_model] in " << path
         << "[end-entry]";
    if (!SeekHeader(f, "[snow_model]")) {
      if (!glaciers) {
        *log << "INFO: the storage file " << path << " holds no part of the snow model: the albedo starts from "
             << "the land-use table" << "[end-entry]";
        return;
      }
      *log << "FATAL: (snow model) the storage file " << path
           << " holds neither the section [snow_model_v2] nor [snow_model]" << "[end-entry]";
      throw 71;
    }
  }
  std::vector<double> storages[3], cellAlbedo;
  if (glaciers) ReadGlacierStorages(f, path, v2, storages);
  const bool albedoRead = withAlbedo && albedo && ReadAlbedo(f, path, cellAlbedo);
  // Only a part read whole replaces the initial values.
  if (glaciers) {
    Qice = std::move(storages[0]);
    Qfirn = std::move(storages[1]);
    Qsnow = std::move(storages[2]);
  }
  if (albedoRead) {
    size_t k = 0;
    ForEachAlbedoCell([&](int r, int c) { albedo[r][c] = cellAlbedo[k++]; });
  }
  if (!glaciers || !glacierInventory) return;
  if (SeekHeader(f, "[glacier_inventory]")) {
    glacierInventory->RestoreState(f, path);
    MarkGlacierStorages();  // glaciers that had lost their cells are back in the inventory
  } else
    *log << "INFORMATION: couldn't find section [glacier_inventory] in " << path
         << "; the glaciers start from the areas of their cells" << "[end-entry]";
}

bool schneemodellklasse::ReadAlbedo(TextCursor& f, const std::string& path, std::vector<double>& values) {
  // The block stands after the sub-basins, before the next section.
  std::string line;
  bool found = false;
  while (!found && f.ReadLine(line)) {
    found = line.find(kAlbedoHeader) != std::string::npos;
    const size_t a = line.find_first_not_of(" \t\r");
    if (!found && a != std::string::npos && line[a] == '[') break;
  }
  if (!found) {
    *log << "INFO: the snow model's part of the storage file " << path << " does not hold the albedo of the "
         << "cells (the line " << kAlbedoHeader << " and its values): it starts from the land-use table"
         << "[end-entry]";
    return false;
  }
  const long cells = AlbedoCellCount();
  long stored = 0;
  TextCursor head(line);
  head.RequireWholeWords();
  if (!head.ReadLong(stored)) Unreadable(*log, path, "number of cells of the albedo", head, true, f.LineNumber() - 1);
  if (stored != cells) StorageValueMismatch("number of cells of the albedo", cells, stored);
  values.resize(static_cast<size_t>(cells));
  // Each cell's value on a line of its own, as the writer puts it: what follows it on the
  // line is a remark ("0.5#edited", "0.5 edited"), as after every value of the file.
  for (double& v : values) {
    if (!f.ReadDouble(v)) Unreadable(*log, path, "the albedo of the cells", f);
    RequireStoredValue(v, StateRange::Fraction(), log, "[snow_model_v2]", path, f.LineNumber(),
                       "the albedo of the cells");
    f.RestOfLine();
  }
  return true;
}

void schneemodellklasse::ReadGlacierStorages(TextCursor& f, const std::string& path, bool v2,
                                             std::vector<double> (&values)[3]) {
  int stored = 0;
  if (!f.ReadInt(stored)) Unreadable(*log, path, "number of subbasins", f, v2);
  f.RestOfLine();
  if (stored != subbasinCount) StorageValueMismatch("number of subbasins", subbasinCount, stored);
  double factor = 1.0;
  if (v2) {
    double step = 0.0;
    if (!f.ReadDouble(step)) Unreadable(*log, path, "timestep in minutes", f, v2);
    if (!(step > 0.0) || !std::isfinite(step)) {
      *log << "FATAL: (snow model) error in storage file content reading timestep in minutes in " << path
           << ": the time step must be above 0, it is " << step << "[end-entry]";
      throw 71;
    }
    f.RestOfLine();
    factor = step / timeInterval;
  }
  const char* labels[3] = {"Qice_slr", "Qfirn_slr", "Qsnow_slr"};
  values[0] = Qice;
  values[1] = Qfirn;
  values[2] = Qsnow;
  for (int i = 1; i <= subbasinCount; ++i)
    for (int a = 0; a < 3; ++a) {
      const std::string item = std::string(labels[a]) + " of subbasin " + std::to_string(i);
      int code = 0;
      if (!f.ReadInt(code)) Unreadable(*log, path, "subbasin code of " + item, f, v2);
      if (code != i) StorageValueMismatch("subbasin code", i, code);
      double v = 0.0;
      if (!f.ReadDouble(v)) Unreadable(*log, path, item, f, v2);
      // The control file refuses a negative initial outflow; so does the storage file.
      if (v < 0.0) {
        *log << "FATAL: (snow model) error in storage file content reading " << item << " in " << path << ": it is "
             << v << "; the outflow of a glacier storage is 0 or more" << "[end-entry]";
        throw 71;
      }
      RequireStoredValue(v, StateRange::Storage(), log, v2 ? "[snow_model_v2]" : "[snow_model]", path,
                         f.LineNumber(), item);
      values[a][static_cast<size_t>(i)] = v / factor;
      f.RestOfLine();
    }
}
