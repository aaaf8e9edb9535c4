// The routing part of the storage file: written at the end of a run, read at the start of
// the next one instead of the initialisation routing.
#include <string>
#include <vector>

#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "grids/grid_path.h"
#include "routing/abfluss.h"
#include "routing/routing_state.h"
#include "routing/routingclass.h"

namespace {

const char* const kHeader = "[routing_model_v2]";
const char* const kOldHeader = "[routing_model]";

// Moves the file to the line after the header; false when no line is the header.
bool FindHeader(TextCursor& f, const char* header) {
  std::string line;
  while (f.ReadLine(line)) {
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_last_not_of(" \t");
    if (a != std::string::npos && line.compare(a, b - a + 1, header) == 0) return true;
  }
  return false;
}

}  // namespace

bool abflussmodellklasse::ReadsStoredState(const char* storageFileName, int readFlag) {
  return storageFileName != nullptr && storageFileName[0] != '\0' && readFlag != 0 && readFlag != 2 && readFlag != 4;
}

std::string abflussmodellklasse::StorageSectionText() const {
  std::string t = std::string(kHeader) + "\n";
  t += FormatText("%.3lf (timestep in minutes)\n", timeInterval);
  for (const routingclass* o : routingObjects) o->WriteState(t);
  t += "\n";
  return t;
}

void abflussmodellklasse::WriteStorageFile() {
  if (flowControl == 0 || !storage) return;
  const std::string name = storageName.empty() ? std::string("storage.ftz") : storageName;
  storage->AddPart(MakePath(output.defaultOutputDirectory, name), StorageSectionText());
}

void abflussmodellklasse::ReadStorageFile(const char* storageFileName, int readFlag) {
  if (flowControl == 0) return;
  storageName = storageFileName ? storageFileName : "";
  if (storageName.empty()) return;
  const std::string path = MakePath(output.initialStateDirectory, storageName);
  if (!ReadsStoredState(storageFileName, readFlag)) {
    if (readFlag != 0)
      *log << "INFO: read flag " << readFlag << ": routing does not read its state from " << path
           << " and starts with the initialisation routing" << "[end-entry]";
    return;
  }
  *log << "INFO: read flag " << readFlag << ": routing starts from the state in " << path << "[end-entry]";
  RunFiles::Current().Read("the storage file of [soil_model]", path, RunFiles::When::StartOnly, storage);
  TextCursor file;
  if (!file.LoadFile(path)) {
    *log << "FATAL: error opening storage content file " << path << "[end-entry]";
    throw 64;
  }
  RestoreStorageSection(file.Text(), path);
}

void abflussmodellklasse::RestoreStorageSection(const std::string& text, const std::string& path) {
  TextCursor f(text);
  int version = 2;
  if (!FindHeader(f, kHeader)) {
    f.Rewind();
    version = 1;
    if (!FindHeader(f, kOldHeader)) {
      *log << "FATAL: error locking for the section [routing_model_v2] or [routing_model] in " << path << "[end-entry]";
      throw 71;
    }
  }
  StateReader reader(f, path, log);
  double storedStep = timeInterval;
  if (version == 2) {
    storedStep = reader.Double("the stored time step");
    if (!(storedStep > 0.0))
      reader.Fail("error reading the stored time step (" + FormatText("%g", storedStep) + " minutes, must be positive)");
    reader.SkipLine();
  }
  // Nothing of a part that does not fit is kept.
  std::vector<std::vector<ChannelTable>> before;
  for (const routingclass* o : routingObjects) before.push_back(o->channels);
  try {
    for (routingclass* o : routingObjects) o->ReadState(reader, version, storedStep);
  } catch (...) {
    for (size_t k = 0; k < routingObjects.size(); ++k) routingObjects[k]->channels = std::move(before[k]);
    throw;
  }
  for (routingclass* o : routingObjects) {
    for (ChannelTable& c : o->channels) RestoreLastSlots(c, timeInterval);
    o->ApplyStoredReservoirs();
  }
}
