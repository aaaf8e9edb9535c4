// The reader of [landuse_table]: it keeps the row count and one row per listed type; the
// parameter columns of the rows are read by the land-use parameter code.
#include "framework/logstream.h"
#include "init/defaultini.h"

namespace {

// Seeks an optional table section and reads its row count; 0 when the section is absent.
int ReadTableCount(defaultini& d, const std::string& section, const std::string& label) {
  if (!d.SeekControlKey(section, false)) return 0;
  int count = 0;
  d.ReadControlValue(count, label);
  if (count < 0 || count > 100000) {
    if (d.log)
      *d.log << "FATAL: error in control file, " << section << ": the number of rows " << count
             << " is not between 0 and 100000" << "[end-entry]";
    throw 17;
  }
  return count;
}

}  // namespace

void defaultini::ReadLanduseTable(int) {
  const int count = ReadTableCount(*this, "[landuse_table]", "number of land use types");
  landuseTable.clear();
  if (count > 0) landuseTable.resize(static_cast<size_t>(count) + 1);
}
