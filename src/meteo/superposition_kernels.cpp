#include "meteo/superposition_kernels.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/modelobject.h"
#include "framework/option_text.h"
#include "framework/text_helpers.h"

namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return std::string();
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// The value of key (up to the next ";" or the end of the text) at or after from; false when
// the key is absent. next receives the position after the value's ";".
bool KeyValue(const std::string& text, const std::string& key, size_t from, std::string& value, size_t& next) {
  if (from > text.size()) return false;
  const size_t found = FindOptionKey(text.substr(from), key);
  if (found == std::string::npos) return false;
  const size_t start = from + found;
  size_t end = text.find(';', start);
  next = end == std::string::npos ? text.size() : end + 1;
  if (end == std::string::npos) end = text.size();
  value = Trim(text.substr(start, end - start));
  return true;
}

bool ParseList(const std::string& value, std::vector<double>& items) {
  std::vector<std::string> words;
  GetToken(value, " \t\r\n", words);
  items.clear();
  for (const std::string& w : words) {
    double v;
    if (!ParseDouble(w, v)) return false;
    items.push_back(v);
  }
  return true;
}

bool ParseLongList(const std::string& value, std::vector<long>& items) {
  std::vector<std::string> words;
  GetToken(value, " \t\r\n", words);
  items.clear();
  for (const std::string& w : words) {
    long v;
    if (!ParseLong(w, v)) return false;
    items.push_back(v);
  }
  return true;
}

}  // namespace

const std::vector<std::string> kEntityKeys = {"entityinputgrid", "regions",     "weights", "outputgrid",
                                              "writecode",       "outputtable", "statcode"};

bool ParseNumberOfEntities(const std::string& line, int& count) {
  if (line.find("NumberOfEntities") == std::string::npos) return false;
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  const size_t semi = line.find(';', eq + 1);
  const std::string value =
      Trim(line.substr(eq + 1, semi == std::string::npos ? std::string::npos : semi - eq - 1));
  long n;
  if (!ParseLong(value, n) || n < 0 || n > 1000000) return false;
  count = static_cast<int>(n);
  return true;
}

bool ParseEntityBlock(const std::string& block, SuperpositionEntityText& e, std::string& why) {
  e = SuperpositionEntityText();
  const size_t open = block.find('{');
  if (open == std::string::npos) {
    why = "no \"{\" after the entity name";
    return false;
  }
  const size_t close = block.find('}', open + 1);
  if (close == std::string::npos) {
    why = "no closing \"}\"";
    return false;
  }
  e.name = Trim(block.substr(0, open));
  if (e.name.empty()) {
    why = "no entity name before \"{\"";
    return false;
  }
  std::string body = block.substr(open + 1, close - open - 1);

  std::string value;
  size_t next = 0;
  while (FindOptionKey(body, "entityinputgrid") != std::string::npos) {
    SuperpositionInput input;
    KeyValue(body, "entityinputgrid", 0, input.gridName, next);
    if (input.gridName.empty()) {
      why = "an empty \"entityinputgrid\"";
      return false;
    }
    size_t after = next;
    if (!KeyValue(body, "regions", after, value, next)) {
      why = "no \"regions\" for inputgrid " + input.gridName;
      return false;
    }
    if (!ParseLongList(value, input.regionCodes)) {
      why = "a region code that is not a whole number for inputgrid " + input.gridName + ": " + value;
      return false;
    }
    after = next;
    if (!KeyValue(body, "weights", after, value, next)) {
      why = "no \"weights\" for inputgrid " + input.gridName;
      return false;
    }
    if (!ParseList(value, input.weights)) {
      why = "a weight that is not a number for inputgrid " + input.gridName + ": " + value;
      return false;
    }
    e.inputs.push_back(std::move(input));
    body.erase(0, next);
  }
  if (e.inputs.empty()) {
    why = "no \"entityinputgrid\"";
    return false;
  }
  if (!KeyValue(body, "outputgrid", 0, e.outputGrid, next) || e.outputGrid.empty()) {
    why = "no \"outputgrid\"";
    return false;
  }
  if (e.outputGrid.size() > kMaxInternalName) {
    why = "an \"outputgrid\" name longer than " + std::to_string(kMaxInternalName) + " characters";
    return false;
  }
  if (!KeyValue(body, "writecode", 0, value, next) || !ParseLong(value, e.writeCode)) {
    why = "no whole-number \"writecode\"";
    return false;
  }
  if (!KeyValue(body, "outputtable", 0, e.outputTable, next) || e.outputTable.empty()) {
    why = "no \"outputtable\"";
    return false;
  }
  if (!KeyValue(body, "statcode", 0, value, next) || !ParseLong(value, e.statCode)) {
    why = "no whole-number \"statcode\"";
    return false;
  }
  return true;
}

int CheckEntityRegions(const std::string& moduleName, const std::string& entityName, const SuperpositionInput& in,
                       const std::vector<long>& sortedCodes, std::string& message) {
  const int R = static_cast<int>(sortedCodes.size()) - 1;
  const int n = static_cast<int>(in.regionCodes.size());
  const std::string head =
      "\nerror reading regions in " + moduleName + " entity: " + entityName + ", inputgrid " + in.gridName;
  std::ostringstream s;
  if (n != R) {
    s << head << "\nThe number of regions here (" << n << ") does not equal the number of"
      << "\nregions in the regiongrid (" << R << ")\n";
    message = s.str();
    return 134;
  }
  for (int i = 1; i <= n; ++i) {
    const long code = in.regionCodes[static_cast<size_t>(i - 1)];
    if (code == sortedCodes[static_cast<size_t>(i)]) continue;
    const bool known = std::find(sortedCodes.begin() + 1, sortedCodes.end(), code) != sortedCodes.end();
    if (known) {
      s << head << "\nregion on position " << i << " in the region list should have value "
        << sortedCodes[static_cast<size_t>(i)] << "\nbut was read as " << code
        << "\nAll regions must be listet in ascending order here\n"
        << "regardless of their actual weight for this superposition instance\n";
    } else {
      s << head << "\nregion on position " << i << " was read as " << code
        << "\nThere is now region with this code in the region grid\n"
        << "\nOnly the region codes from the region grid must be listet in ascending order here\n"
        << "regardless of their actual weight for this superposition instance\n";
    }
    message = s.str();
    return 134;
  }
  const int w = static_cast<int>(in.weights.size());
  if (w != R) {
    s << "\nerror reading weights for regions in " << moduleName << " entity: " << entityName << ", inputgrid "
      << in.gridName << "\nThe number of regions (" << R << ") does not equal the number of weights (" << w
      << ")\n";
    message = s.str();
    return 135;
  }
  return 0;
}

void RunSuperposition(const SuperpositionLoop& L) {
  if (!L.out || !L.zone) return;
  const bool haveBounds = L.rowBounds && !L.rowBounds->empty();
  const int K = std::min(L.levels, 3);
  const int R = L.regionCount;
  const bool parallel =
      ForkCells(static_cast<long>(L.lastRow - L.firstRow + 1) * static_cast<long>(L.ncols), L.minParallelCells);
#pragma omp parallel for schedule(runtime) if (parallel)
  for (int r = L.firstRow; r <= L.lastRow; ++r) {
    int c0 = 1, c1 = L.ncols;
    if (haveBounds && static_cast<size_t>(r) < L.rowBounds->size()) {
      c0 = std::max(1, (*L.rowBounds)[r].first);
      c1 = std::min(L.ncols, (*L.rowBounds)[r].last);
    }
    for (int c = c0; c <= c1; ++c) {
      if (L.zone[r][c] == L.gridNodata) continue;
      if (L.mpiRegions && L.mpiRegions[r][c] != L.rank) continue;
      double out = 0.0;
      for (int k = 1; k <= K; ++k) {
        if (!L.regionGrid[k] || !L.weightGrid[k]) continue;
        const double code = L.regionGrid[k][r][c];
        if (k >= 2 && !(code >= 1.0)) continue;
        if (!(code >= 0.0 && code <= static_cast<double>(L.maxCode))) continue;
        const int region = L.codeMap[static_cast<int>(code)];
        if (region < 1 || region > R) continue;
        const double w = L.weightGrid[k][r][c];
        for (int e = 0; e < L.inputCount; ++e)
          out += L.inputs[e][r][c] * L.weights[static_cast<size_t>(e) * static_cast<size_t>(R) + region - 1] * w;
      }
      L.out[r][c] = out;
    }
  }
}
