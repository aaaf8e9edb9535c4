// The reader of [multilayer_landuse] and its entry parser.
#include "tables/multilayer_table.h"

#include <cmath>

#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/defaultini.h"
#include "tables/soil_table_text.h"

namespace {

struct EntryFailure {};

// The values of the list after the first occurrence of key into values[1..count], read as
// every list of the tables; -1 without "= ... ;" or at a word that is no number of the kind
// (put into refused).
template <typename Stored>
int ReadList(const std::string& text, const std::string& key, bool whole, std::vector<Stored>& values,
             int32_t& count, std::string* refused) {
  const size_t at = text.find(key);
  std::string value, word;
  std::vector<double> numbers;
  if (at == std::string::npos || !tabletext::ValueText(text, at, value)) return -1;
  if (!tabletext::ListNumbers(value, whole, numbers, word)) {
    if (refused) *refused = word;
    return -1;
  }
  values.assign(1, Stored());
  for (const double v : numbers) {
    if (whole && std::fabs(v) > 2147483647.0) {
      if (refused) *refused = NumberText(v);
      return -1;
    }
    values.push_back(static_cast<Stored>(v));
  }
  count = static_cast<int32_t>(values.size()) - 1;
  return count;
}

}  // namespace

int MultiLayerLanduseEntry::ReadLanduseLayers(MultiLayerLanduseEntry&, const std::string& text, const std::string& key,
                                              std::vector<int32_t>& codes, int32_t& count, std::string* refused) {
  return ReadList(text, key, true, codes, count, refused);
}

int MultiLayerLanduseEntry::ReadDoubleList(MultiLayerLanduseEntry&, const std::string& text, const std::string& key,
                                           std::vector<double>& values, int32_t& count, std::string* refused) {
  return ReadList(text, key, false, values, count, refused);
}

void MultiLayerLanduseEntry::ReadEntry(MultiLayerLanduseEntry& row, LogStream* log, const std::string& text) {
  if (text.find("Landuse_Layers") == std::string::npos) {
    if (log) *log << "FATAL: multiple landuse table: parameter Landuse_Layers not found " << text << "[end-entry]";
    throw 112;
  }
  // A word that begins like a number but is none of the kind ("3.5" as a code) is named
  // before the entry's message; the row is named by its code once read, by its place before.
  auto numbers = [&]() {
    return tabletext::NumberReader(log, "multilayer_landuse_table code " + std::to_string(row.code),
                                   [log](const std::string& fatal) {
                                     if (log) *log << fatal << "[end-entry]";
                                     throw EntryFailure{};
                                   });
  };
  std::string refused;
  auto refuse = [&](const std::string& what, const char* expected) {
    if (!refused.empty()) numbers().Refuse(refused, what, expected);
    throw EntryFailure{};
  };
  try {
    TextCursor c = tabletext::NumberCursor(text);
    int code = 0;
    std::string word;
    if (!numbers().Next(c, code, "the code", "a whole number")) throw EntryFailure{};
    row.code = row.codeCopy = code;
    if (!c.ReadWord(word)) throw EntryFailure{};
    row.name = tabletext::EntryName(word, kMaxNameLength);
    // A multilayer land use without one readable layer code would give no layer at all.
    if (ReadLanduseLayers(row, text, "Landuse_Layers", row.layerCodes, row.layerCount, &refused) < 1)
      refuse("Landuse_Layers", "a whole number");
    row.layerCodesCopy = row.layerCodes;
    auto list = [&](const char* key, std::vector<double>& values, int32_t& count) {
      values.clear();
      count = 0;
      if (text.find(key) != std::string::npos && ReadDoubleList(row, text, key, values, count, &refused) < 0)
        refuse(key, "a number");
    };
    list("ArcVeg_Initial_Fractions", row.ArcVeg_Initial_Fractions, row.fractionCount);
    list("ArcVeg_Initial_Biomass", row.ArcVeg_Initial_Biomass, row.biomassCount);
    list("ArcVeg_Initial_Retrans", row.ArcVeg_Initial_Retrans, row.retransCount);
    const tabletext::NumberReader values = numbers();
    auto single = [&](const char* key, double& target, double fallback) {
      const size_t at = text.find(key);
      target = fallback;
      if (at == std::string::npos) return;
      std::string value;
      if (!tabletext::ValueText(text, at, value)) throw EntryFailure{};
      values.KeyValueOrZero(value, target, key, "a number");
    };
    single("k_extinct", row.k_extinct, 0.3);
    single("LAI_scale", row.LAI_scale, 10.0);
  } catch (const EntryFailure&) {
    if (log)
      *log << "FATAL: multilayer_landuse_table code " << row.code << ": some parameters could not be read\n"
           << text << "[end-entry]";
    throw 110;
  }
}

namespace {

// The checks of row i against its own layer count and against row i - 1.
void CheckMultilayerRow(const std::vector<MultiLayerLanduseEntry>& table, size_t i, LogStream* log) {
  const MultiLayerLanduseEntry& r = table[i];
  auto fail = [&](const std::string& text) {
    if (log) *log << text << "[end-entry]";
    throw 111;
  };
  const std::string here = "\n(here: multilayer-landuse type " + std::to_string(r.code) + " (entry number " +
                           std::to_string(i) + "), number of layers is " + std::to_string(r.layerCount);
  const std::string head = "FATAL: \nError in [multilayer_landuse]: ";
  if (!r.ArcVeg_Initial_Fractions.empty() && r.fractionCount != r.layerCount)
    fail(head + "The numbers of landuse layers and ArcVeg_Initial_Fractions has to be identical if "
                "ArcVeg_Initial_Fractions are used. " + here + " , but number of fractions for ArcVeg is " +
         std::to_string(r.fractionCount) + ")");
  if (!r.ArcVeg_Initial_Biomass.empty() && r.biomassCount != r.layerCount)
    fail(head + "The numbers of landuse layers and ArcVeg_Initial_Biomass has to be identical if "
                "ArcVeg_Initial_Biomass is used. " + here + " , but number of biomasses for ArcVeg is " +
         std::to_string(r.biomassCount) + ")");
  if (!r.ArcVeg_Initial_Retrans.empty() && r.retransCount != r.layerCount)
    fail(head + "The numbers of landuse layers and ArcVeg_Initial_Retrans has to be identical if "
                "ArcVeg_Initial_Retrans is used. " + here + " , but number of Retrans for ArcVeg is " +
         std::to_string(r.retransCount) + ")");
  if (i < 2) return;
  const MultiLayerLanduseEntry& p = table[i - 1];
  const std::string type = "\n(here: multilayer-landuse type " + std::to_string(r.code) + " (entry number " +
                           std::to_string(i) + "): ";
  const std::string other = "multilayer-landuse type " + std::to_string(p.code) + ": ";
  if (r.layerCount != p.layerCount)
    fail(head + "The numbers of landuse layers has to be equal for all multilayer-landuse types" + type +
         std::to_string(r.layerCount) + " layers, but " + other + std::to_string(p.layerCount) + " layers)\n\n");
  if (r.fractionCount != p.fractionCount)
    fail(head + "The numbers of ArcVeg_Initial_Fractions has to be equal for all multilayer-landuse types if "
                "ArcVeg_Initial_Fractions are used." + type + std::to_string(r.fractionCount) + " fractions, but " +
         other + std::to_string(p.fractionCount) + " fractions)\n\n");
  if (r.biomassCount != p.biomassCount)
    fail(head + "The numbers of ArcVeg_Biomass has to be equal for all multilayer-landuse types if "
                "ArcVeg_Initial_Biomass are used." + type + std::to_string(r.biomassCount) + " fractions, but " +
         other + std::to_string(p.biomassCount) + " biomases)\n\n");
  if (r.retransCount != p.retransCount)
    fail(head + "The numbers of ArcVeg_Retrans has to be equal for all multilayer-landuse types if "
                "ArcVeg_Initial_Retrans are used." + type + std::to_string(r.retransCount) + " fractions, but " +
         other + std::to_string(p.retransCount) + " biomases)\n\n");
}

}  // namespace

void defaultini::ReadMultilayerLanduseTable(int) {
  multiLayerTable.clear();
  const int count = tabletext::ReadRowCount(*this, "[multilayer_landuse]", "number of multilayer land use types", false);
  if (count < 0) return;
  multiLayerTable.reserve(static_cast<size_t>(count) + 1);
  for (int i = 0; i <= count; ++i) multiLayerTable.emplace_back(i);
  multiLayerTable[0].code = count;
  for (int i = 1; i <= count; ++i) {
    std::string text;
    const size_t from = controlFile.Pos();
    bool complete = tabletext::NextLine(*this, text);
    const bool entry = complete && text.find("Landuse_Layers") != std::string::npos;
    if (entry) complete = tabletext::JoinEntry(*this, text);
    // Also a line that a misspelt Landuse_Layers leaves unread.
    tabletext::ReportUnknownKeys(log, controlFile, ShownControlFile(), from, controlFile.Pos(), true,
                                 "[multilayer_landuse]",
                                 {"Landuse_Layers", "ArcVeg_Initial_Fractions", "ArcVeg_Initial_Biomass",
                                  "ArcVeg_Initial_Retrans", "k_extinct", "LAI_scale"});
    if (!complete) {
      if (log)
        *log << "FATAL: [multilayer_landuse] in " << ShownControlFile()
             << ": the control file ends within multilayer land use " << i << " of " << count << "[end-entry]";
      throw 110;
    }
    if (entry) MultiLayerLanduseEntry::ReadEntry(multiLayerTable[static_cast<size_t>(i)], log, text);
    CheckMultilayerRow(multiLayerTable, static_cast<size_t>(i), log);
  }
}
