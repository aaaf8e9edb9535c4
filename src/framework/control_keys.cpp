#include "framework/control_keys.h"

#include <algorithm>
#include <cctype>

#include "framework/logstream.h"

namespace {

bool IsKeyCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<std::string> KeysSetIn(const std::string& text) {
  std::vector<std::string> keys;
  for (size_t eq = text.find('='); eq != std::string::npos; eq = text.find('=', eq + 1)) {
    size_t end = eq;
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && IsKeyCharacter(text[begin - 1])) --begin;
    if (begin == end) continue;
    // The word must stand alone, and not as the value of the key before it.
    if (begin > 0 && !IsBlank(text[begin - 1])) continue;
    size_t before = begin;
    while (before > 0 && IsBlank(text[before - 1])) --before;
    if (before > 0 && text[before - 1] == '=') continue;
    keys.push_back(text.substr(begin, end - begin));
  }
  return keys;
}

size_t KeyDistance(const std::string& key, const std::string& other) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string a = lower(key);
  const std::string b = lower(other);
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string NearestKey(const std::string& key, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = static_cast<size_t>(-1);
  for (const std::string& candidate : known) {
    const size_t distance = KeyDistance(key, candidate);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best;
}

int ReportUnknownKeys(LogStream* log, const std::string& section, const std::string& line, const std::string& text,
                      const std::vector<std::string>& known, bool withinWord) {
  int named = 0;
  for (const std::string& key : KeysSetIn(text)) {
    const bool read = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
      return withinWord ? key.find(k) != std::string::npos : key == k;
    });
    if (read) continue;
    ++named;
    if (!log) continue;
    std::string list;
    for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
    *log << "WARNING: " << section << ", " << line << ": no reader knows the key " << key
         << ", so its value is not used; the nearest key of " << section << " is " << NearestKey(key, known)
         << " (its keys: " << list << ")" << "[end-entry]";
  }
  return named;
}
