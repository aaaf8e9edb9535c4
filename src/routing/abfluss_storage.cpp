// The routing part of the storage file: written at the end of a run, read at the start of
// the next one instead of the initialisation routing.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "grids/grid_path.h"
#include "routing/abfluss.h"
#include "routing/routing_state.h"
#include "routing/routingclass.h"

namespace {

const char* const kHeader = "[routing_model_v2]";
const char* const kOldHeader = "[routing_model]";
// The lines of the routing part that only this program writes.
[[maybe_unused]] const bool kMarksRegistered = RegisterStorageFileMarks({kTranslationMark, kTransferMark});

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
  std::vector<std::pair<int, double>> pending;
  for (const routingclass* o : routingObjects)
    for (const auto& p : o->PendingTransfers()) pending.push_back(p);
  t += FormatText("%d (%s)\n", static_cast<int>(pending.size()), kTransferMark);
  for (const auto& p : pending) {
    t += FormatText("%d %.17g (m3/s for inflow ZL %d)\n", p.first, p.second, p.first);
    HoldStoredValue(p.second, RoutedFlowRange(), kHeader,
                    [&] { return "the transfer to inflow ZL " + std::to_string(p.first); });
  }
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
  const std::shared_ptr<const std::string> text = StorageFile::ReadText(storage, path, log);
  if (!text) {
    *log << "FATAL: error opening storage content file " << path << FileOpenReason(path, false, 0) << "[end-entry]";
    throw 64;
  }
  RestoreStorageSection(*text, path);
}

void abflussmodellklasse::RestoreStorageSection(const std::string& text, const std::string& path) {
  TextCursor f(text);
  f.RequireWholeWords();
  int version = 2;
  if (!FindHeader(f, kHeader)) {
    f.Rewind();
    version = 1;
    if (!FindHeader(f, kOldHeader)) {
      *log << "FATAL: error looking for the section [routing_model_v2] or [routing_model] in " << path
           << StorageFileEnd(text, "[routing_model_v2]") << "[end-entry]";
      throw 71;
    }
  }
  StateReader reader(f, path, log);
  EndStateRecord record;
  if (ReadEndStateRecord(text, record, nullptr) != 0) reader.RequireNewestLayout();
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
  std::vector<std::pair<int, double>> transfers;
  try {
    for (routingclass* o : routingObjects) o->ReadState(reader, version, storedStep);
    transfers = ReadPendingTransfers(reader);
  } catch (...) {
    for (size_t k = 0; k < routingObjects.size(); ++k) routingObjects[k]->channels = std::move(before[k]);
    throw;
  }
  for (routingclass* o : routingObjects) {
    o->ApplyStoredReservoirs();
    // What the file does not name waits for nothing.
    for (const auto& p : o->PendingTransfers()) o->SetPendingTransfer(p.first, 0.0);
  }
  for (const auto& p : transfers)
    for (routingclass* o : routingObjects)
      if (o->SetPendingTransfer(p.first, p.second)) break;
  if (!reader.Absent().empty()) {
    std::string what;
    for (const std::string& a : reader.Absent()) what += (what.empty() ? "" : "; ") + a;
    *log << "INFO: the routing section of " << path << " does not hold " << what << "[end-entry]";
  }
}

std::vector<std::pair<int, double>> abflussmodellklasse::ReadPendingTransfers(StateReader& reader) const {
  std::vector<std::pair<int, double>> transfers;
  std::string line;
  if (!reader.NewerLine(kTransferMark, "the " + std::string(kTransferMark),
                        "the transfers on their way to internal inflows (taken as 0)", line))
    return transfers;
  size_t waiting = 0;
  for (const routingclass* o : routingObjects) waiting += o->PendingTransfers().size();
  TextCursor head(line);
  head.RequireWholeWords();
  int count = -1;
  if (!head.ReadInt(count) || count < 0 || static_cast<size_t>(count) > waiting)
    reader.Fail("error reading the number of " + std::string(kTransferMark) + " (" + std::to_string(waiting) +
                " inflows of this run wait for water; read: " + line.substr(0, 40) + ")");
  for (int k = 0; k < count; ++k) {
    const int number = reader.Int("the inflow number of a transfer");
    const double q = reader.Value("the transfer to inflow ZL " + std::to_string(number), RoutedFlowRange());
    reader.SkipLine();
    bool known = false;
    for (const routingclass* o : routingObjects)
      for (const auto& p : o->PendingTransfers()) known = known || p.first == number;
    if (!known)
      reader.Fail("error reading the transfer to inflow ZL " + std::to_string(number) +
                  " (no internal inflow of that number waits for its abstraction's water in this run)");
    transfers.emplace_back(number, q);
  }
  return transfers;
}
